// The animator's document: taking a drawing line by line within the limits, finding elements
// by id, changing their records, and building the SVG text of the shown records.
//
// Records are classified by what came before them, not by their first byte alone: after an
// opening "<tag" record every record up to ">" or "/>" is an attribute, and only there is an
// id looked for. A text line that happens to read id="..." is then never taken for an
// element, and text that reads ">" never ends a tag.
//
// Text from the server for attribute values may carry XML references ("&amp;", "&#176;"): they
// are decoded, and the value is escaped again when it is stored, so that a value is neither
// double-escaped nor able to end its quotes early. Text content (svgTextPrintf) is taken as
// it is and escaped whole.
#include "hxsvganimator.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include <QApplication>
#include <QSvgRenderer>
#include <QWebElement>
#include <QWebFrame>

#include "mywidgets_p.h"
#include "otlog.h"
#include "otoptions.h"
#include "qdrawwidget.h"
#include "tcputil.h"

namespace {

const char kEndLine[] = "<svgend></svgend>";

enum Kind { kOpen, kAttr, kGt, kSelfClose, kText, kClose, kMarkup };

// Classifies the records in document order; in_tag is the state between two records.
struct Scanner {
  bool in_tag = false;
  Kind next(const char* r) {
    if (in_tag) {
      if (r[0] == '>' && r[1] == '\0') {
        in_tag = false;
        return kGt;
      }
      if (r[0] == '/' && r[1] == '>') {
        in_tag = false;
        return kSelfClose;
      }
      return kAttr;
    }
    if (r[0] != '<') return kText;
    if (r[1] == '/') return kClose;
    // A declaration or comment that a peer may send has no attributes or content to track.
    if (r[1] == '?' || r[1] == '!') return kMarkup;
    in_tag = true;
    return kOpen;
  }
};

// Whether the opening record r is "<name" (not "<names").
bool tagIs(const char* r, const char* name) {
  size_t n = strlen(name);
  if (strncmp(r + 1, name, n) != 0) return false;
  char c = r[1 + n];
  return c == '\0' || c == ' ' || c == '\t';
}

// The attribute name of tag ("fill=" or "fill"), empty when it cannot be one: a blank, quote
// or bracket in it would make the record unreadable.
std::string attrName(const char* tag) {
  std::string n(tag);
  if (!n.empty() && n.back() == '=') n.pop_back();
  for (unsigned char c : n)
    if (c <= ' ' || strchr("<>\"'=/&", c) != nullptr) return std::string();
  return n;
}

bool isAttr(const char* r, const std::string& name) {
  return strncmp(r, name.c_str(), name.size()) == 0 && r[name.size()] == '=';
}

// The quoted value of an attribute record: [*begin, *end) without the quotes.
bool attrValue(const char* r, size_t name_len, size_t* begin, size_t* end) {
  char q = r[name_len + 1];
  if (q != '"' && q != '\'') return false;
  const char* close = strchr(r + name_len + 2, q);
  if (close == nullptr) return false;
  *begin = name_len + 2;
  *end = (size_t)(close - r);
  return true;
}

bool xmlChar(unsigned long c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

void putUtf8(std::string* out, unsigned long c) {
  if (c < 0x80) {
    out->push_back((char)c);
  } else if (c < 0x800) {
    out->push_back((char)(0xC0 | (c >> 6)));
    out->push_back((char)(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back((char)(0xE0 | (c >> 12)));
    out->push_back((char)(0x80 | ((c >> 6) & 0x3F)));
    out->push_back((char)(0x80 | (c & 0x3F)));
  } else {
    out->push_back((char)(0xF0 | (c >> 18)));
    out->push_back((char)(0x80 | ((c >> 12) & 0x3F)));
    out->push_back((char)(0x80 | ((c >> 6) & 0x3F)));
    out->push_back((char)(0x80 | (c & 0x3F)));
  }
}

// The length of the valid reference at s[0] == '&' and its character in *c, or 0 when the '&'
// starts none (it is then a plain ampersand).
size_t reference(const char* s, size_t n, unsigned long* c) {
  static const struct {
    const char* name;
    char c;
  } named[] = {{"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};
  for (const auto& e : named) {
    size_t l = strlen(e.name);
    if (n >= 1 + l && memcmp(s + 1, e.name, l) == 0) {
      *c = (unsigned char)e.c;
      return 1 + l;
    }
  }
  if (n < 4 || s[1] != '#') return 0;
  size_t i = 2;
  unsigned long base = 10, v = 0;
  if (s[2] == 'x') {
    base = 16;
    i = 3;
  }
  size_t digits = 0;
  // Eight digits reach past the last character; more could only overflow.
  for (; i < n && digits < 8; i++, digits++) {
    char d = s[i];
    unsigned long x;
    if (d >= '0' && d <= '9') {
      x = (unsigned long)(d - '0');
    } else if (base == 16 && d >= 'a' && d <= 'f') {
      x = (unsigned long)(d - 'a' + 10);
    } else if (base == 16 && d >= 'A' && d <= 'F') {
      x = (unsigned long)(d - 'A' + 10);
    } else {
      break;
    }
    v = v * base + x;
  }
  if (digits == 0 || i >= n || s[i] != ';' || !xmlChar(v)) return 0;
  *c = v;
  return i + 1;
}

std::string decode(const char* s, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n;) {
    unsigned long c;
    size_t l = s[i] == '&' ? reference(s + i, n - i, &c) : 0;
    if (l == 0) {
      out.push_back(s[i++]);
    } else {
      putUtf8(&out, c);
      i += l;
    }
  }
  return out;
}
std::string decode(const char* s) {
  return decode(s, strlen(s));
}

// Control characters have no place in XML 1.0, not even as references.
const char kReplacement[] = "\xEF\xBF\xBD";

// An attribute value between double quotes; line breaks become references so that the record
// stays one line.
std::string encodeAttr(const std::string& raw) {
  std::string out;
  out.reserve(raw.size() + 16);
  for (unsigned char c : raw) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        if (c < 0x20)
          out += kReplacement;
        else
          out.push_back((char)c);
    }
  }
  return out;
}

std::string encodeText(const char* raw) {
  std::string out;
  for (const unsigned char* p = (const unsigned char*)raw; *p != 0; p++) {
    switch (*p) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '\t':
        out.push_back('\t');
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        if (*p < 0x20)
          out += kReplacement;
        else
          out.push_back((char)*p);
    }
  }
  return out;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// Calls f(trimmed pair, its option name) for every non-empty pair of a style value.
template <typename F>
void forEachPair(const std::string& style, F f) {
  size_t p = 0;
  while (p <= style.size()) {
    size_t q = style.find(';', p);
    if (q == std::string::npos) q = style.size();
    std::string pair = trim(style.substr(p, q - p));
    if (!pair.empty()) f(pair, trim(pair.substr(0, pair.find(':'))));
    p = q + 1;
  }
}

void appendPair(std::string* out, const std::string& pair) {
  if (!out->empty()) out->push_back(';');
  *out += pair;
}

// An option or value with ';' or ':' in the wrong place would add pairs nobody asked for.
bool goodOption(const std::string& o) {
  return !o.empty() && o.find_first_of(";:") == std::string::npos;
}

// The record of attribute name with the raw value, keeping what followed the old value's
// closing quote.
std::string attrRecord(const std::string& name, const std::string& raw, const char* tail) {
  return name + "=\"" + encodeAttr(raw) + "\"" + tail;
}

// Reads the value of an attribute record for an edit: false when it is not quoted.
bool oldValue(const std::string& name, const char* old, std::string* raw, const char** tail) {
  size_t b, e;
  if (!attrValue(old, name.size(), &b, &e)) return false;
  *raw = decode(old + b, e - b);
  *tail = old + e + 1;
  return true;
}

// --- transform lists ---------------------------------------------------------------------

const TRMatrix kIdentity = {1, 0, 0, 1, 0, 0};

TRMatrix multiply(const TRMatrix& l, const TRMatrix& r) {
  return {l.a * r.a + l.c * r.b, l.b * r.a + l.d * r.b,       l.a * r.c + l.c * r.d,
          l.b * r.c + l.d * r.d, l.a * r.e + l.c * r.f + l.e, l.b * r.e + l.d * r.f + l.f};
}

bool isWs(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// An SVG number at s[*p]: sign, digits with an optional fraction, optional exponent. Not
// strtod: it accepts "inf", "nan" and hexadecimal, and follows the locale's decimal point.
bool number(const std::string& s, size_t* p, double* v) {
  size_t i = *p, digits = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) i++;
  while (i < s.size() && isdigit((unsigned char)s[i]))
    i++, digits++;
  if (i < s.size() && s[i] == '.') {
    i++;
    while (i < s.size() && isdigit((unsigned char)s[i]))
      i++, digits++;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) j++;
    if (j < s.size() && isdigit((unsigned char)s[j])) {
      while (j < s.size() && isdigit((unsigned char)s[j]))
        j++;
      i = j;
    }
  }
  bool ok = false;
  *v = QByteArray(s.data() + *p, (int)(i - *p)).toDouble(&ok);
  *p = i;
  return ok && isfinite(*v);
}

bool parseTransform(const std::string& s, TRMatrix* out) {
  TRMatrix m = kIdentity;
  size_t p = 0, n = s.size();
  while (p < n && isWs(s[p]))
    p++;
  while (p < n) {
    size_t name = p;
    while (p < n && isalpha((unsigned char)s[p]))
      p++;
    std::string fn = s.substr(name, p - name);
    while (p < n && isWs(s[p]))
      p++;
    if (p >= n || s[p] != '(') return false;
    p++;
    double v[7];
    int count = 0;
    for (;;) {
      while (p < n && isWs(s[p]))
        p++;
      if (p < n && s[p] == ')') break;
      if (count > 0 && p < n && s[p] == ',') {
        p++;
        while (p < n && isWs(s[p]))
          p++;
      }
      if (count == 7 || !number(s, &p, &v[count])) return false;
      count++;
    }
    p++;  // ')'
    TRMatrix t = kIdentity;
    if (fn == "matrix" && count == 6) {
      t = {v[0], v[1], v[2], v[3], v[4], v[5]};
    } else if (fn == "translate" && (count == 1 || count == 2)) {
      t.e = v[0];
      t.f = count == 2 ? v[1] : 0;
    } else if (fn == "scale" && (count == 1 || count == 2)) {
      t.a = v[0];
      t.d = count == 2 ? v[1] : v[0];
    } else if (fn == "rotate" && (count == 1 || count == 3)) {
      double r = v[0] * M_PI / 180;
      TRMatrix rot = {cos(r), sin(r), -sin(r), cos(r), 0, 0};
      if (count == 3) {
        // About (cx, cy): move the centre to the origin, turn, move it back.
        rot = multiply(multiply({1, 0, 0, 1, v[1], v[2]}, rot), {1, 0, 0, 1, -v[1], -v[2]});
      }
      t = rot;
    } else if (fn == "skewX" && count == 1) {
      t.c = tan(v[0] * M_PI / 180);
    } else if (fn == "skewY" && count == 1) {
      t.b = tan(v[0] * M_PI / 180);
    } else {
      return false;
    }
    m = multiply(m, t);
    while (p < n && isWs(s[p]))
      p++;
    if (p < n && s[p] == ',') {
      p++;
      while (p < n && isWs(s[p]))
        p++;
      if (p == n) return false;
    }
  }
  *out = m;
  return true;
}

bool finiteMatrix(const TRMatrix& m) {
  return isfinite(m.a) && isfinite(m.b) && isfinite(m.c) && isfinite(m.d) && isfinite(m.e) &&
         isfinite(m.f);
}

char* copyBytes(const char* s, size_t n) {
  char* p = (char*)malloc(n + 1);
  if (p == nullptr) return nullptr;
  memcpy(p, s, n);
  p[n] = '\0';
  return p;
}

}  // namespace

// A change to one record: replace the record at `at`, or insert a new one before it.
struct hxSvgAnimator::Edit {
  int at;
  bool insert;
  char mark;  // of an inserted record: that of the element it belongs to
  std::string text;
};

hxSvgAnimator::hxSvgAnimator(int* socket, QDrawWidget* widget) : s(socket), draw_widget(widget) {}

hxSvgAnimator::~hxSvgAnimator() {
  freeDocument();
}

void hxSvgAnimator::freeDocument() {
  for (SVG_LINE* l = first; l != nullptr;) {
    SVG_LINE* next = l->next;
    free(l->line);
    free(l);
    l = next;
  }
  first = nullptr;
  num_lines = 0;
  free(line_state);
  line_state = nullptr;
  by_index.clear();
  by_index.shrink_to_fit();
  total_bytes = 0;
  reading = false;
  reading_in_tag = false;
  reading_depth = 0;
  changes.clear();
  restructured = true;
}

int hxSvgAnimator::closefile() {
  bool had = !(num_lines == 0 && first == nullptr);
  freeDocument();
  return had ? 0 : -1;
}

// --- reading -------------------------------------------------------------------------------

int hxSvgAnimator::refuse(const char* reason) {
  otLog(OT_LOG_WARNING, "hxSvgAnimator: drawing refused: %s\n", reason);
  freeDocument();
  return -1;
}

int hxSvgAnimator::beginDocument() {
  freeDocument();
  reading = true;
  return 0;
}

bool hxSvgAnimator::isEndLine(const char* line, long len) {
  return line != nullptr && len > 0 &&
         memmem(line, (size_t)len, kEndLine, sizeof(kEndLine) - 1) != nullptr;
}

int hxSvgAnimator::addLine(const char* line, int len) {
  if (!reading) return -1;
  if (line == nullptr || len < 0) return refuse("no line");
  if (len > 0 && line[len - 1] == '\n') len--;
  if (len > 0 && line[len - 1] == '\r') len--;
  // The widget fits the drawing itself; a view box of the source would fight its scaling.
  if (len >= 8 && memcmp(line, "viewBox=", 8) == 0) return 0;
  char reason[96];
  if (len + 1 > HX_SVG_MAX_LINE) {
    snprintf(reason, sizeof(reason), "line %d longer than %d bytes", num_lines + 1,
             HX_SVG_MAX_LINE);
    return refuse(reason);
  }
  // A record is one C string on one line; a NUL or line feed inside would cut or split it.
  if (memchr(line, '\0', (size_t)len) != nullptr || memchr(line, '\n', (size_t)len) != nullptr) {
    snprintf(reason, sizeof(reason), "line %d holds a NUL byte or line break", num_lines + 1);
    return refuse(reason);
  }
  if (num_lines >= HX_SVG_MAX_LINES) {
    snprintf(reason, sizeof(reason), "more than %d lines", HX_SVG_MAX_LINES);
    return refuse(reason);
  }
  if (total_bytes + len + 1 > HX_SVG_MAX_BYTES) {
    snprintf(reason, sizeof(reason), "more than %ld bytes", (long)HX_SVG_MAX_BYTES);
    return refuse(reason);
  }
  char* text = copyBytes(line, (size_t)len);
  SVG_LINE* node = (SVG_LINE*)malloc(sizeof(SVG_LINE));
  if (text == nullptr || node == nullptr) {
    free(text);
    free(node);
    return refuse("out of memory");
  }
  node->line = text;
  node->next = nullptr;
  Scanner scanner;
  scanner.in_tag = reading_in_tag;
  Kind kind = scanner.next(text);
  reading_in_tag = scanner.in_tag;
  if (kind == kOpen && ++reading_depth > HX_SVG_MAX_DEPTH) {
    free(text);
    free(node);
    snprintf(reason, sizeof(reason), "elements nested deeper than %d", HX_SVG_MAX_DEPTH);
    return refuse(reason);
  }
  if ((kind == kClose || kind == kSelfClose) && reading_depth > 0) reading_depth--;
  if (by_index.empty())
    first = node;
  else
    by_index.back()->next = node;
  by_index.push_back(node);
  num_lines++;
  total_bytes += len + 1;
  return 0;
}

int hxSvgAnimator::endDocument() {
  if (!reading) return -1;
  line_state = (char*)malloc((size_t)num_lines + 1);
  if (line_state == nullptr) return refuse("out of memory");
  memset(line_state, ' ', (size_t)num_lines);
  line_state[num_lines] = '\0';
  reading = false;
  return 0;
}

int hxSvgAnimator::readText(const char* text, long length) {
  if (text == nullptr || length < 0) return -1;
  beginDocument();
  long pos = 0;
  while (pos < length) {
    const char* nl = (const char*)memchr(text + pos, '\n', (size_t)(length - pos));
    long end = nl != nullptr ? nl - text + 1 : length;
    if (isEndLine(text + pos, end - pos)) break;
    // Over-long lines reach addLine cut to one byte past the limit, which it refuses.
    long len = std::min(end - pos, (long)HX_SVG_MAX_LINE + 1);
    if (addLine(text + pos, (int)len) != 0) return -1;
    pos = end;
  }
  return endDocument();
}

// --- finding -------------------------------------------------------------------------------

int hxSvgAnimator::findElement(const char* name, int* open, int* close) const {
  if (line_state == nullptr || name == nullptr) return -1;
  size_t n = strlen(name);
  Scanner scanner;
  int current = -1;
  for (int i = 0; i < num_lines; i++) {
    const char* r = by_index[i]->line;
    Kind kind = scanner.next(r);
    if (kind == kOpen) current = i;
    if (kind != kAttr || strncmp(r, "id=", 3) != 0) continue;
    size_t b, e;
    if (!attrValue(r, 2, &b, &e)) continue;
    const char* v = r + b;
    size_t vl = e - b;
    if ((vl == n && memcmp(v, name, n) == 0) ||
        (vl == n + 4 && memcmp(v, "hxc:", 4) == 0 && memcmp(v + 4, name, n) == 0)) {
      *open = current;
      *close = extentEnd(current);
      return 0;
    }
  }
  return -1;
}

// The record that closes the element opened at open (the last record when none does).
int hxSvgAnimator::extentEnd(int open) const {
  Scanner scanner;
  int depth = 0;
  for (int i = open; i < num_lines; i++) {
    Kind kind = scanner.next(by_index[i]->line);
    if (kind == kOpen) {
      depth++;
    } else if (kind == kClose || kind == kSelfClose) {
      if (--depth == 0) return i;
    }
  }
  return num_lines - 1;
}

// The record of attribute name of the element opened at open, or -1.
int hxSvgAnimator::attributeOf(int open, const std::string& name) const {
  Scanner scanner;
  scanner.next(by_index[open]->line);
  for (int i = open + 1; i < num_lines; i++) {
    const char* r = by_index[i]->line;
    if (scanner.next(r) != kAttr) break;
    if (isAttr(r, name)) return i;
  }
  return -1;
}

// --- changing ------------------------------------------------------------------------------

// Applies edits (in document order) whole or not at all: the limits of reading hold for
// changed documents too, so a peer cannot grow a record or the document without bound.
int hxSvgAnimator::applyEdits(std::vector<Edit>* edits) {
  long bytes = total_bytes;
  int inserts = 0;
  for (const Edit& e : *edits) {
    if (e.text.size() + 1 > (size_t)HX_SVG_MAX_LINE ||
        e.text.find_first_of(std::string("\n\0", 2)) != std::string::npos)
      return -1;
    bytes += (long)e.text.size() + 1;
    if (e.insert)
      inserts++;
    else
      bytes -= (long)strlen(by_index[e.at]->line) + 1;
  }
  if (num_lines + inserts > HX_SVG_MAX_LINES || bytes > HX_SVG_MAX_BYTES) return -1;

  // Everything is allocated before the document is touched.
  std::vector<char*> texts;
  std::vector<SVG_LINE*> nodes;
  char* state = inserts > 0 ? (char*)malloc((size_t)(num_lines + inserts) + 1) : nullptr;
  bool ok = inserts == 0 || state != nullptr;
  for (const Edit& e : *edits) {
    if (!ok) break;
    texts.push_back(copyBytes(e.text.data(), e.text.size()));
    ok = texts.back() != nullptr;
    if (ok && e.insert) {
      nodes.push_back((SVG_LINE*)malloc(sizeof(SVG_LINE)));
      ok = nodes.back() != nullptr;
    }
  }
  if (!ok) {
    for (char* t : texts)
      free(t);
    for (SVG_LINE* l : nodes)
      free(l);
    free(state);
    return -1;
  }

  if (inserts == 0) {
    for (size_t k = 0; k < edits->size(); k++) {
      SVG_LINE* l = by_index[(*edits)[k].at];
      free(l->line);
      l->line = texts[k];
    }
    total_bytes = bytes;
    return 0;
  }
  // Inserting rebuilds the index and the marks in one pass, however many records are added.
  restructured = true;
  std::vector<SVG_LINE*> index;
  index.reserve((size_t)(num_lines + inserts));
  size_t k = 0, node = 0;
  for (int i = 0; i <= num_lines; i++) {
    while (k < edits->size() && (*edits)[k].at == i && (*edits)[k].insert) {
      SVG_LINE* l = nodes[node++];
      l->line = texts[k];
      state[index.size()] = (*edits)[k].mark;
      index.push_back(l);
      k++;
    }
    if (i == num_lines) break;
    if (k < edits->size() && (*edits)[k].at == i) {
      free(by_index[i]->line);
      by_index[i]->line = texts[k];
      k++;
    }
    state[index.size()] = line_state[i];
    index.push_back(by_index[i]);
  }
  for (size_t i = 0; i < index.size(); i++)
    index[i]->next = i + 1 < index.size() ? index[i + 1] : nullptr;
  first = index.front();
  num_lines += inserts;
  state[num_lines] = '\0';
  free(line_state);
  line_state = state;
  by_index.swap(index);
  total_bytes = bytes;
  return 0;
}

int hxSvgAnimator::editAttributes(const char* objectname, const char* tag, bool recursive,
                                  const AttributeEditor& editor) {
  if (objectname == nullptr || tag == nullptr) return -1;
  std::string name = attrName(tag);
  if (name.empty()) return -1;
  int open, close;
  if (findElement(objectname, &open, &close) != 0) return -1;
  std::vector<Edit> edits;
  Scanner scanner;
  int element = -1, found = -1;
  // Called where the attributes of element end.
  auto finish = [&]() -> int {
    std::string out;
    const char* old = found >= 0 ? by_index[found]->line : nullptr;
    int rc = editor(name, old, &out);
    if (rc == 1) {
      if (found >= 0)
        edits.push_back({found, false, ' ', out});
      else
        edits.push_back({element + 1, true, line_state[element], out});
    }
    element = -1;
    return rc;
  };
  for (int i = open; i <= close; i++) {
    const char* r = by_index[i]->line;
    Kind kind = scanner.next(r);
    if (kind == kOpen) {
      if (i != open && !recursive) break;
      element = i;
      found = -1;
    } else if (kind == kAttr) {
      if (found < 0 && isAttr(r, name)) found = i;
    } else if ((kind == kGt || kind == kSelfClose) && element >= 0) {
      if (finish() < 0) return -1;
      if (!recursive) break;
    }
  }
  if (element >= 0 && finish() < 0) return -1;  // a document cut inside a tag
  if (applyEdits(&edits) < 0) return -1;
  changes.push_back(open);
  return 0;
}

int hxSvgAnimator::show(const char* objectname, int state) {
  int open, close;
  if (findElement(objectname, &open, &close) != 0) return -1;
  memset(line_state + open, state != 0 ? ' ' : '#', (size_t)(close - open + 1));
  changes.push_back(open);
  return 0;
}

namespace {

typedef std::function<int(const std::string&, const char*, std::string*)> Editor;

Editor printfEditor(const char* text, const char* after) {
  std::string raw = decode(text), tail = after;
  return [raw, tail](const std::string& name, const char*, std::string* out) {
    *out = attrRecord(name, raw, tail.c_str());
    return 1;
  };
}

Editor replaceEditor(const char* before, const char* after) {
  std::string from = decode(before), to = decode(after);
  return [from, to](const std::string& name, const char* old, std::string* out) {
    std::string value, result;
    const char* tail;
    if (old == nullptr) return 0;
    if (!oldValue(name, old, &value, &tail)) return -1;
    size_t p = 0, hits = 0;
    for (size_t q; (q = value.find(from, p)) != std::string::npos; p = q + from.size()) {
      result.append(value, p, q - p);
      result += to;
      hits++;
      // Repeated replacing must not grow a record beyond what applyEdits accepts anyway.
      if (result.size() > (size_t)HX_SVG_MAX_LINE) return -1;
    }
    if (hits == 0) return 0;
    result.append(value, p, std::string::npos);
    *out = attrRecord(name, result, tail);
    return 1;
  };
}

}  // namespace

int hxSvgAnimator::printfAttribute(const char* objectname, const char* tag, const char* text,
                                   const char* after, bool recursive) {
  if (text == nullptr) return -1;
  if (after == nullptr) after = "";
  if (strpbrk(after, "\r\n") != nullptr) return -1;
  return editAttributes(objectname, tag, recursive, printfEditor(text, after));
}

int hxSvgAnimator::svgPrintf(const char* objectname, const char* tag, const char* text,
                             const char* after) {
  return printfAttribute(objectname, tag, text, after, false);
}

int hxSvgAnimator::svgRecursivePrintf(const char* objectname, const char* tag, const char* text,
                                      const char* after) {
  return printfAttribute(objectname, tag, text, after, true);
}

int hxSvgAnimator::svgSearchAndReplace(const char* objectname, const char* tag, const char* before,
                                       const char* after) {
  // An empty pattern matches nowhere in particular: the request is refused, not ignored.
  if (before == nullptr || after == nullptr || before[0] == '\0') return -1;
  return editAttributes(objectname, tag, false, replaceEditor(before, after));
}

int hxSvgAnimator::svgRecursiveSearchAndReplace(const char* objectname, const char* tag,
                                                const char* before, const char* after) {
  if (before == nullptr || after == nullptr || before[0] == '\0') return -1;
  return editAttributes(objectname, tag, true, replaceEditor(before, after));
}

int hxSvgAnimator::svgTextPrintf(const char* objectname, const char* text) {
  if (text == nullptr) return -1;
  int open, close;
  if (findElement(objectname, &open, &close) != 0) return -1;
  Scanner scanner;
  int gt = -1, text_record = -1, empty_record = -1;
  for (int i = open; i <= close; i++) {
    const char* r = by_index[i]->line;
    Kind kind = scanner.next(r);
    if (i == open) continue;
    if (gt < 0) {
      if (kind == kSelfClose) return -1;  // no content to hold a text
      if (kind == kGt) gt = i;
      continue;
    }
    if (kind != kText) continue;
    // An empty record (a text set empty before) is reused rather than stacked up.
    if (r[0] != '\0') {
      text_record = i;
      break;
    }
    if (empty_record < 0) empty_record = i;
  }
  if (gt < 0) return -1;
  if (text_record < 0) text_record = empty_record;
  std::vector<Edit> edits;
  if (text_record >= 0)
    edits.push_back({text_record, false, ' ', encodeText(text)});
  else
    edits.push_back({gt + 1, true, line_state[gt], encodeText(text)});
  if (applyEdits(&edits) < 0) return -1;
  changes.push_back(open);
  return 0;
}

// --- style options -------------------------------------------------------------------------

std::string hxSvgAnimator::changeStyleOption(const std::string& style, const std::string& option,
                                             const std::string& value) {
  std::string out;
  bool done = false;
  // A later duplicate would override the new value, so duplicates go.
  forEachPair(style, [&](const std::string& pair, const std::string& name) {
    if (name != option) {
      appendPair(&out, pair);
    } else if (!done) {
      appendPair(&out, option + ":" + value);
      done = true;
    }
  });
  if (!done) appendPair(&out, option + ":" + value);
  return out;
}

std::string hxSvgAnimator::removeStyleOption(const std::string& style, const std::string& option) {
  std::string out;
  bool found = false;
  forEachPair(style, [&](const std::string& pair, const std::string& name) {
    if (name == option)
      found = true;
    else
      appendPair(&out, pair);
  });
  return found ? out : style;
}

// value null: remove option.
int hxSvgAnimator::editStyle(const char* objectname, const char* tag, const char* option,
                             const char* value, bool recursive) {
  if (option == nullptr) return -1;
  std::string o = trim(decode(option)), v = value != nullptr ? trim(decode(value)) : "";
  if (!goodOption(o) || v.find(';') != std::string::npos) return -1;
  bool remove = value == nullptr;
  return editAttributes(
      objectname, tag, recursive, [&](const std::string& name, const char* old, std::string* out) {
        std::string style;
        const char* tail = "";
        if (old == nullptr && remove) return 0;
        if (old != nullptr && !oldValue(name, old, &style, &tail)) return -1;
        std::string changed = remove ? removeStyleOption(style, o) : changeStyleOption(style, o, v);
        if (old != nullptr && changed == style) return 0;
        *out = attrRecord(name, changed, tail);
        return 1;
      });
}

int hxSvgAnimator::svgChangeStyleOption(const char* objectname, const char* tag, const char* option,
                                        const char* value) {
  if (value == nullptr) return -1;
  return editStyle(objectname, tag, option, value, false);
}

int hxSvgAnimator::svgRecursiveChangeStyleOption(const char* objectname, const char* tag,
                                                 const char* option, const char* value) {
  if (value == nullptr) return -1;
  return editStyle(objectname, tag, option, value, true);
}

int hxSvgAnimator::svgRemoveStyleOption(const char* objectname, const char* tag,
                                        const char* option) {
  return editStyle(objectname, tag, option, nullptr, false);
}

int hxSvgAnimator::svgRecursiveRemoveStyleOption(const char* objectname, const char* tag,
                                                 const char* option) {
  return editStyle(objectname, tag, option, nullptr, true);
}

int hxSvgAnimator::svgSetStyleOption(const char* objectname, const char* tag, const char* value) {
  return svgPrintf(objectname, tag, value, "");
}

int hxSvgAnimator::svgRecursiveSetStyleOption(const char* objectname, const char* tag,
                                              const char* value) {
  return svgRecursivePrintf(objectname, tag, value, "");
}

// --- output --------------------------------------------------------------------------------

QByteArray hxSvgAnimator::svgText(int w, int h) const {
  return svgText(w, h, false, nullptr);
}

QByteArray hxSvgAnimator::svgText(int w, int h, bool textIds,
                                  const std::vector<char>* dropText) const {
  QByteArray out;
  if (line_state == nullptr) return out;
  out.reserve((int)std::min<long>(total_bytes + 64, 0x7fffff00L));
  char width[40], height[40];
  snprintf(width, sizeof(width), " width=\"%dpx\"", w);
  snprintf(height, sizeof(height), " height=\"%dpx\"", h);
  Scanner scanner;
  int depth = 0;
  // The depth of the outermost tspan being written: its content stays on its line, since a
  // line break there would become part of the text.
  int inline_from = -1;
  bool root_seen = false, in_root = false, width_seen = false, height_seen = false;
  int skip_to = -1;     // the last record of a text element left out
  int text_id_at = -1;  // a text element that gets a made-up id at the end of its tag
  for (int i = 0; i < num_lines; i++) {
    const char* r = by_index[i]->line;
    bool shown = line_state[i] == ' ';
    Kind kind = scanner.next(r);
    if (i <= skip_to) continue;  // a whole element: the depth comes out even
    if (kind == kOpen && tagIs(r, "text")) {
      if (dropText != nullptr && (size_t)i < dropText->size() && (*dropText)[(size_t)i]) {
        skip_to = extentEnd(i);
        continue;
      }
      if (textIds && shown && attributeOf(i, "id") < 0) text_id_at = i;
    }
    if (text_id_at >= 0 && (kind == kGt || kind == kSelfClose)) {
      char id[40];
      snprintf(id, sizeof id, " id=\"_hxt%d\"", text_id_at);
      out += id;
      text_id_at = -1;
    }
    switch (kind) {
      case kOpen:
        depth++;
        in_root = !root_seen && tagIs(r, "svg");
        root_seen = root_seen || in_root;
        if (inline_from < 0 && tagIs(r, "tspan")) inline_from = depth;
        if (shown) out += r;
        break;
      case kAttr:
        if (!shown || r[0] == '\0') break;
        // Only the root's size is the widget's; a child's width is its own.
        if (in_root && isAttr(r, "width")) {
          out += width;
          width_seen = true;
        } else if (in_root && isAttr(r, "height")) {
          out += height;
          height_seen = true;
        } else {
          out += ' ';
          out += r;
        }
        break;
      case kGt:
      case kSelfClose:
        if (in_root) {
          if (shown && !width_seen) out += width;
          if (shown && !height_seen) out += height;
          in_root = false;
        }
        if (shown) out += r;
        if (kind == kSelfClose) {
          if (depth == inline_from) inline_from = -1;
          if (depth > 0) depth--;
        }
        if (shown && inline_from < 0) out += '\n';
        break;
      case kClose:
        if (shown) out += r;
        if (depth == inline_from) inline_from = -1;
        if (depth > 0) depth--;
        if (shown && inline_from < 0) out += '\n';
        break;
      case kText:
      case kMarkup:
        if (!shown || r[0] == '\0') break;
        out += r;
        if (inline_from < 0) out += '\n';
        break;
    }
  }
  return out;
}

bool hxSvgAnimator::takeChanges(std::vector<int>* elements) {
  bool sound = !restructured;
  if (elements != nullptr) elements->swap(changes);
  changes.clear();
  restructured = false;
  return sound;
}

QByteArray hxSvgAnimator::elementId(int open) const {
  if (open < 0 || open >= num_lines) return QByteArray();
  int at = attributeOf(open, "id");
  size_t b, e;
  if (at < 0 || !attrValue(by_index[at]->line, 2, &b, &e)) return QByteArray();
  return QByteArray(by_index[at]->line + b, (int)(e - b));
}

int hxSvgAnimator::elementEnd(int open) const {
  return open >= 0 && open < num_lines ? extentEnd(open) : -1;
}

std::vector<int> hxSvgAnimator::textElements(bool shownOnly) const {
  std::vector<int> texts;
  Scanner scanner;
  for (int i = 0; i < num_lines; i++) {
    const char* r = by_index[i]->line;
    if (scanner.next(r) == kOpen && (!shownOnly || line_state[i] == ' ') && tagIs(r, "text"))
      texts.push_back(i);
  }
  return texts;
}

int hxSvgAnimator::calcObjectWanted(const char* idattribute) {
  if (line_state == nullptr || idattribute == nullptr) return 0;
  Scanner scanner;
  int count = 0;
  bool group_seen = false;
  for (int i = 0; i < num_lines; i++) {
    const char* r = by_index[i]->line;
    Kind kind = scanner.next(r);
    if (kind == kOpen && line_state[i] == ' ') {
      if (tagIs(r, "g")) {
        count++;
        group_seen = true;
      } else if (group_seen) {
        count++;
      }
    } else if (kind == kAttr && strcmp(r, idattribute) == 0) {
      return count;
    }
  }
  return 0;
}

int hxSvgAnimator::calcCTM(const char* id, TRMatrix* m) {
  if (m == nullptr) return -1;
  int open, close;
  if (findElement(id, &open, &close) != 0) return -1;
  // The enclosing elements are those still open where the element opens.
  std::vector<int> chain;
  Scanner scanner;
  for (int i = 0; i < open; i++) {
    Kind kind = scanner.next(by_index[i]->line);
    if (kind == kOpen)
      chain.push_back(i);
    else if ((kind == kClose || kind == kSelfClose) && !chain.empty())
      chain.pop_back();
  }
  chain.push_back(open);
  const std::string name = "transform";
  TRMatrix ctm = kIdentity;
  for (int element : chain) {
    int a = attributeOf(element, name);
    if (a < 0) continue;
    std::string value;
    const char* tail;
    TRMatrix t;
    if (!oldValue(name, by_index[a]->line, &value, &tail) || !parseTransform(value, &t)) return -1;
    ctm = multiply(ctm, t);
  }
  if (!finiteMatrix(ctm)) return -1;
  *m = ctm;
  return 0;
}

int hxSvgAnimator::testoutput() {
  if (line_state == nullptr) return -1;
  for (int i = 0; i < num_lines; i++)
    printf("%c %s\n", line_state[i], by_index[i]->line);
  fflush(stdout);
  return 0;
}

int hxSvgAnimator::dumpLocalSvg(FILE* fp) {
  if (fp == nullptr || line_state == nullptr || (num_lines == 0 && first == nullptr)) return -1;
  for (int i = 0; i < num_lines; i++) {
    if (line_state[i] != ' ') continue;
    fputs(by_index[i]->line, fp);
    fputc('\n', fp);
  }
  // A full disk is reported, not taken for a written drawing.
  return fflush(fp) != 0 || ferror(fp) ? -1 : 0;
}

const char* hxSvgAnimator::record(int index) const {
  if (index < 0 || index >= num_lines) return nullptr;
  return by_index[index]->line;
}

int hxSvgAnimator::isShown(int index) const {
  if (line_state == nullptr || index < 0 || index >= num_lines) return 0;
  return line_state[index] == ' ' ? 1 : 0;
}

// ---- what needs the drawing widget: the connection, rendering, the mouse ----------------

namespace {

// The longest event line the server is sent, line feed included.
const int kMaxEventLine = 1040;

const char* const kEventMarkers[] = {"hxx", "HXx", "hx.", "HX.", "@"};
const char* const kHitMarkers[] = {"hxx", "HXx", "hx.", "HX.", "@@"};
const char* const kHandMarkers[] = {"HXx", "HX.", "@@"};

template <size_t N>
bool marked(const QByteArray& id, const char* const (&markers)[N]) {
  for (const char* m : markers)
    if (id.startsWith(m)) return true;
  return false;
}

template <size_t N>
bool markedRecord(const char* line, const char* const (&markers)[N]) {
  if (strncmp(line, "id=\"", 4) != 0) return false;
  for (const char* m : markers)
    if (strncmp(line + 4, m, strlen(m)) == 0) return true;
  return false;
}

QByteArray idValue(const char* line) {
  const char* v = line + 4;
  const char* end = strchr(v, '"');
  return end != nullptr ? QByteArray(v, (int)(end - v)) : QByteArray(v);
}

// The element under the point in the web engine's frame: the one hit, else the one half a
// line above or below (text leaves gaps between its lines).
QWebElement hitElement(QWebFrame* frame, int x, int y) {
  QWebHitTestResult r = frame->hitTestContent(QPoint(x, y));
  if (!r.element().isNull()) return r.element();
  const int h = r.boundingRect().height();
  if (h < 0) return QWebElement();
  r = frame->hitTestContent(QPoint(x, y - (h + 1) / 2));
  if (r.element().isNull()) r = frame->hitTestContent(QPoint(x, y + (h + 1) / 2));
  return r.element();
}

// The id of the hit element when it carries one of own, else of its nearest ancestor with one
// of ancestors; empty when none does.
template <size_t N, size_t M>
QByteArray markedId(QWebElement e, const char* const (&own)[N], const char* const (&ancestors)[M]) {
  if (e.isNull()) return QByteArray();
  QByteArray id = e.attribute("id").toUtf8();
  if (marked(id, own)) return id;
  for (e = e.parent(); !e.isNull(); e = e.parent()) {
    id = e.attribute("id").toUtf8();
    if (marked(id, ancestors)) return id;
  }
  return QByteArray();
}

int sendEvent(int* s, int id, const char* event, const QByteArray& element) {
  const QByteArray text = QByteArray(event) + "=" + element;
  // "text(" id ",\"" text "\")\n"
  if (16 + text.size() + 5 >= kMaxEventLine) return -1;
  return myEvent(s, text.constData(), "text(%d,", id);
}

// The widget position (x, y) in the drawing's coordinates: false when the zoom makes none.
bool svgPoint(QDrawWidget* w, int x, int y, int* px, int* py) {
  const long long scale = (long long)w->percent * opt.zoom;
  if (scale <= 0) return false;
  long long sx = (long long)x * 10000 / scale, sy = (long long)y * 10000 / scale;
  if (w->inLayout && w->zoomFactorX() > 0 && w->zoomFactorY() > 0) {
    sx = (long long)(sx / w->zoomFactorX());
    sy = (long long)(sy / w->zoomFactorY());
  }
  *px = (int)qBound(-1000000LL, sx, 1000000LL);
  *py = (int)qBound(-1000000LL, sy, 1000000LL);
  return true;
}

}  // namespace

void hxSvgAnimator::beginRead() {
  if (draw_widget != nullptr && draw_widget->inLayout && opt.zoom != 100) {
    otLog(OT_LOG_WARNING,
          "WARNING: SVG graphics within a layout AND opt.zoom != 100 percent will not find SVG "
          "objects correctly\n");
    QApplication::beep();
  }
  beginDocument();
}

int hxSvgAnimator::readLine(const char* line, int len, bool cut) {
  if (line == nullptr || len < 0) return 0;
  if (isEndLine(line, len)) return 1;
  // The rest of the document is still taken, so that its lines are not taken for commands.
  if (!cut)
    addLine(line, len);
  else if (reading)
    refuse("a line above the longest allowed");
  return 0;
}

int hxSvgAnimator::endRead() {
  return endDocument();
}

int hxSvgAnimator::update(int on_printer) {
  if (first == nullptr || draw_widget == nullptr) return -1;
  int w, h;
  draw_widget->svgSize(&w, &h, 1);
  // The plain renderer is given ids for the texts, so that a later redraw of part of the
  // picture can ask for their boxes.
  QByteArray svg = svgText(w, h, draw_widget->webFrame() == nullptr, nullptr);
  if (on_printer) return draw_widget->printSVG(svg);
  draw_widget->svgUpdate(svg);
  return 0;
}

int hxSvgAnimator::perhapsSendSvgEvent(const char* event, int* sock, int id, int x, int y) {
  if (first == nullptr || draw_widget == nullptr || event == nullptr) return -1;
  int px, py;
  if (!svgPoint(draw_widget, x, y, &px, &py)) return -1;
  if (QWebFrame* frame = draw_widget->webFrame()) {
    QByteArray element = markedId(hitElement(frame, px, py), kHitMarkers, kEventMarkers);
    if (element.isEmpty()) return -1;
    sendEvent(sock, id, event, element);
    return 0;
  }
  // Every marked element that holds the point, in document order.
  QSvgRenderer* r = draw_widget->svgRenderer();
  int found = 0;
  int i = 0;
  for (SVG_LINE* l = first; l != nullptr; l = l->next, i++) {
    if (line_state[i] != ' ' || !markedRecord(l->line, kEventMarkers)) continue;
    const QString name = QString::fromUtf8(idValue(l->line));
    if (!r->elementExists(name)) continue;
    QRectF box = r->transformForElement(name).mapRect(r->boundsOnElement(name));
    if (!box.contains(QPointF(px, py))) continue;
    sendEvent(sock, id, event, name.toUtf8());
    found++;
  }
  return found > 0 ? 0 : -1;
}

int hxSvgAnimator::perhapsSetOverrideCursor(int x, int y, int buttons) {
  if (first == nullptr || draw_widget == nullptr) return -1;
  int px, py;
  if (!svgPoint(draw_widget, x, y, &px, &py)) return -1;
  bool hand = false;
  QWebFrame* frame = draw_widget->webFrame();
  if (frame != nullptr) {
    hand = !markedId(hitElement(frame, px, py), kHandMarkers, kHandMarkers).isEmpty();
  } else {
    QSvgRenderer* r = draw_widget->svgRenderer();
    int i = 0;
    for (SVG_LINE* l = first; l != nullptr && !hand; l = l->next, i++) {
      if (line_state[i] != ' ' || !markedRecord(l->line, kHandMarkers)) continue;
      const QString name = QString::fromUtf8(idValue(l->line));
      hand =
          r->elementExists(name) &&
          r->transformForElement(name).mapRect(r->boundsOnElement(name)).contains(QPointF(px, py));
    }
  }
  // The hand is set once and changed back, never stacked move by move.
  if (hand)
    draw_widget->setCursorShape(Qt::PointingHandCursor);
  else if (frame != nullptr || buttons == 0)
    draw_widget->restoreCursor();
  return hand ? 0 : -1;
}
