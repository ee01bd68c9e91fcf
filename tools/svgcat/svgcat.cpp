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

struct SvgcatStream::Impl {
  XML_Parser parser = nullptr;
  std::string out;
  State st;
  Sink sink;
  void* user;
  bool failed = false;
};

SvgcatStream::SvgcatStream(Sink sink, void* user) : impl_(new Impl) {
  impl_->sink = sink;
  impl_->user = user;
  impl_->st.out = &impl_->out;
  impl_->parser = XML_ParserCreate(nullptr);
  if (impl_->parser == nullptr) {
    impl_->failed = true;
    error_ = "out of memory";
    return;
  }
  XML_SetUserData(impl_->parser, &impl_->st);
  XML_SetElementHandler(impl_->parser, onStart, onEnd);
  XML_SetCharacterDataHandler(impl_->parser, onText);
}

SvgcatStream::~SvgcatStream() {
  if (impl_->parser != nullptr) XML_ParserFree(impl_->parser);
  delete impl_;
}

int SvgcatStream::feed(const char* data, size_t len, bool last) {
  if (impl_->failed) return -1;
  // Pieces that fit an int, however large the caller's are.
  const size_t piece = 1 << 20;
  size_t pos = 0;
  do {
    size_t n = len - pos < piece ? len - pos : piece;
    bool end = last && pos + n == len;
    if (XML_Parse(impl_->parser, data + pos, static_cast<int>(n), end) == XML_STATUS_ERROR) {
      char where[96];
      snprintf(where, sizeof(where), "line %lu, column %lu: ",
               static_cast<unsigned long>(XML_GetCurrentLineNumber(impl_->parser)),
               static_cast<unsigned long>(XML_GetCurrentColumnNumber(impl_->parser)));
      error_ = std::string(where) + XML_ErrorString(XML_GetErrorCode(impl_->parser));
      impl_->failed = true;
      return -1;
    }
    pos += n;
    if (!impl_->out.empty()) {
      if (!impl_->sink(impl_->out.data(), impl_->out.size(), impl_->user)) {
        error_ = "output failed";
        impl_->failed = true;
        return -1;
      }
      impl_->out.clear();
    }
  } while (pos < len);
  return 0;
}

namespace {

bool appendTo(const char* text, size_t len, void* user) {
  static_cast<std::string*>(user)->append(text, len);
  return true;
}

}  // namespace

int svgcatConvert(const char* data, size_t len, std::string* out, std::string* error) {
  out->clear();
  SvgcatStream stream(appendTo, out);
  if (stream.feed(data, len, true) != 0) {
    *error = stream.error();
    out->clear();
    return -1;
  }
  return 0;
}
