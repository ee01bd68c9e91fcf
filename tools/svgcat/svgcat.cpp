// Streaming conversion with expat. An opening tag is held back until the next event shows
// whether the element has content (">") or not ("/>").
#include "svgcat.h"

#include <expat.h>
#include <stdio.h>

namespace {

struct State {
  std::string* out;
  std::string text;          // character data since the last tag
  bool pendingOpen = false;  // an opening tag waits for its ">" or "/>"
};

void appendEscaped(std::string* out, const char* s, size_t n, bool attribute) {
  for (size_t i = 0; i < n; i++) {
    char c = s[i];
    switch (c) {
      case '&':
        *out += "&amp;";
        break;
      case '<':
        *out += "&lt;";
        break;
      case '>':
        *out += "&gt;";
        break;
      case '"':
        if (attribute)
          *out += "&quot;";
        else
          *out += c;
        break;
      // In an attribute a line break or tab would be normalised to a blank by the next
      // parser, and it would break the one-attribute-per-line form.
      case '\n':
        if (attribute)
          *out += "&#10;";
        else
          *out += c;
        break;
      case '\r':
        *out += "&#13;";
        break;
      case '\t':
        if (attribute)
          *out += "&#9;";
        else
          *out += c;
        break;
      default:
        *out += c;
    }
  }
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Ends a held-back opening tag with ">" because content follows.
void closeOpen(State* st) {
  if (st->pendingOpen) {
    *st->out += ">\n";
    st->pendingOpen = false;
  }
}

// Writes the text gathered since the last tag on a line of its own, without the blanks and
// line breaks that only indent it.
void flushText(State* st) {
  size_t b = 0, e = st->text.size();
  while (b < e && isSpace(st->text[b]))
    b++;
  while (e > b && isSpace(st->text[e - 1]))
    e--;
  if (b < e) {
    closeOpen(st);
    appendEscaped(st->out, st->text.data() + b, e - b, false);
    *st->out += '\n';
  }
  st->text.clear();
}

void XMLCALL onStart(void* user, const XML_Char* name, const XML_Char** atts) {
  State* st = static_cast<State*>(user);
  flushText(st);
  closeOpen(st);
  *st->out += '<';
  *st->out += name;
  *st->out += '\n';
  for (int i = 0; atts[i] != nullptr; i += 2) {
    *st->out += atts[i];
    *st->out += "=\"";
    appendEscaped(st->out, atts[i + 1], std::char_traits<char>::length(atts[i + 1]), true);
    *st->out += "\"\n";
  }
  st->pendingOpen = true;
}

void XMLCALL onEnd(void* user, const XML_Char* name) {
  State* st = static_cast<State*>(user);
  flushText(st);
  if (st->pendingOpen) {
    *st->out += "/>\n";
    st->pendingOpen = false;
    return;
  }
  *st->out += "</";
  *st->out += name;
  *st->out += ">\n";
}

void XMLCALL onText(void* user, const XML_Char* s, int len) {
  static_cast<State*>(user)->text.append(s, len);
}

}  // namespace

int svgcatConvert(const char* data, size_t len, std::string* out, std::string* error) {
  out->clear();
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (parser == nullptr) {
    *error = "out of memory";
    return -1;
  }
  State st;
  st.out = out;
  XML_SetUserData(parser, &st);
  XML_SetElementHandler(parser, onStart, onEnd);
  XML_SetCharacterDataHandler(parser, onText);
  // Large documents are parsed in pieces, so that no length needs to fit an int.
  const size_t piece = 1 << 20;
  bool ok = true;
  size_t pos = 0;
  do {
    size_t n = len - pos < piece ? len - pos : piece;
    bool last = pos + n == len;
    if (XML_Parse(parser, data + pos, static_cast<int>(n), last) == XML_STATUS_ERROR) {
      ok = false;
      break;
    }
    pos += n;
  } while (pos < len);
  if (!ok) {
    char where[96];
    snprintf(where, sizeof(where),
             "line %lu, column %lu: ", static_cast<unsigned long>(XML_GetCurrentLineNumber(parser)),
             static_cast<unsigned long>(XML_GetCurrentColumnNumber(parser)));
    *error = std::string(where) + XML_ErrorString(XML_GetErrorCode(parser));
    out->clear();
  }
  XML_ParserFree(parser);
  return ok ? 0 : -1;
}
