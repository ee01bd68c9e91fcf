#include "otinterpreter.h"
#include "otnumber.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The character an escape pair stands for, or 0 if c does not form one with a backslash.
inline char unescaped(char c) {
  switch (c) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case 'n':
      return '\n';
    default:
      return 0;
  }
}

inline bool endOfLine(char c) {
  return c == '\0' || c == '\n';
}

}  // namespace

otInterpreter::otInterpreter(int size_) : line(nullptr), size(size_ > 0 ? size_ : 0) {
  if (size > 0) {
    line = new char[(size_t)size];
    line[0] = '\0';
  }
}

otInterpreter::~otInterpreter() {
  delete[] line;
}

int otInterpreter::isCommand(const char* command) {
  if (command == nullptr || command[0] == '\0') return 1;
  if (line == nullptr) return 0;
  return strncmp(line, command, strlen(command)) == 0 ? 1 : 0;
}

int otInterpreter::copyStringParam(char* buf, int index) {
  if (buf == nullptr) return -1;
  if (size == 0) return -1;
  return quotedString(line, index, buf, size);
}

int otInterpreter::maxchar() {
  return size - 1;
}

int otInterpreter::quotedString(const char* text, int index, char* buf, int bufsize) {
  if (buf == nullptr || bufsize <= 0) return -1;
  buf[0] = '\0';
  if (text == nullptr || index < 0) return -1;
  // The opening quote of string index is quote number 2 * index + 1; escape pairs count only
  // inside a string, outside one every double quote counts.
  long long wanted = 2LL * index + 1;
  long long quotes = 0;
  const char* p = text;
  for (;;) {
    if (endOfLine(*p)) return -1;
    bool inside = (quotes & 1) != 0;
    if (inside && p[0] == '\\' && unescaped(p[1]) != 0) {
      p += 2;
      continue;
    }
    if (*p++ == '"' && ++quotes == wanted) break;
  }
  int n = 0;
  while (n < bufsize - 1 && !endOfLine(*p) && *p != '"') {
    char c = *p++;
    if (c == '\\' && unescaped(*p) != 0) c = unescaped(*p++);
    buf[n++] = c;
  }
  buf[n] = '\0';
  return n;
}

int otInterpreter::escapedLength(const char* text) {
  if (text == nullptr) return 0;
  int len = 0;
  for (const char* p = text; *p; p++)
    len += (*p == '"' || *p == '\\' || *p == '\n') ? 2 : 1;
  return len;
}

int otInterpreter::escapeString(const char* text, char* out, int outsize) {
  if (out == nullptr || outsize <= 0) return -1;
  out[0] = '\0';
  if (text == nullptr) return -1;
  int n = 0;
  for (const char* p = text; *p; p++) {
    char c = *p;
    bool pair = c == '"' || c == '\\' || c == '\n';
    if (n + (pair ? 2 : 1) > outsize - 1) {
      out[0] = '\0';
      return -1;
    }
    if (pair) {
      out[n++] = '\\';
      c = c == '\n' ? 'n' : c;
    }
    out[n++] = c;
  }
  out[n] = '\0';
  return n;
}

// strtol and otStrtof read what "%d" and "%f" (in the C locale) read (leading white space, sign,
// digits); unlike sscanf they do not measure the rest of the text for every value.
int otInterpreter::parseIntArray(const char* text, int* values, int max) {
  if (text == nullptr || values == nullptr) return 0;
  int n = 0;
  const char* p = text;
  while (n < max && *p != '\0') {
    if (*p == '"' || *p == ',') {
      p++;
      continue;
    }
    char* end = nullptr;
    long value = strtol(p, &end, 10);
    if (end == p) break;
    values[n++] = (int)value;
    p = strchr(end, ',');
    if (p == nullptr) break;
    p++;
  }
  return n;
}

int otInterpreter::parseFloatArray(const char* text, float* values, int max) {
  if (text == nullptr || values == nullptr) return 0;
  int n = 0;
  const char* p = text;
  while (n < max && *p != '\0') {
    if (*p == '"' || *p == ',') {
      p++;
      continue;
    }
    char* end = nullptr;
    float value = otStrtof(p, &end);
    if (end == p) break;
    values[n++] = value;
    p = strchr(end, ',');
    if (p == nullptr) break;
    p++;
  }
  return n;
}

otCallLine::otCallLine() : count(0), tail(""), tailLength(0), texts(nullptr), textsSize(0) {
  name[0] = '\0';
  memset(args, 0, sizeof(args));
}

otCallLine::~otCallLine() {
  free(texts);
}

int otCallLine::parse(const char* line, int len) {
  name[0] = '\0';
  count = 0;
  tail = "";
  tailLength = 0;
  if (line == nullptr || len < 0) return -1;
  // The line ends at its first line feed, carriage return or NUL.
  int end = 0;
  while (end < len && line[end] != '\n' && line[end] != '\r' && line[end] != '\0')
    end++;
  // Decoded texts are never longer than the line itself.
  if (end + 1 > textsSize) {
    char* grown = static_cast<char*>(realloc(texts, (size_t)end + 1));
    if (grown == nullptr) return -1;
    texts = grown;
    textsSize = end + 1;
  }
  int pos = 0;
  while (pos < end && line[pos] != '(') {
    char c = line[pos];
    if (pos >= maxName || c == ' ' || c == ',' || c == '"' || c == ')') {
      name[0] = '\0';
      return -1;
    }
    name[pos] = c;
    pos++;
  }
  if (pos == 0 || pos >= end) {
    name[0] = '\0';
    return -1;
  }
  name[pos++] = '\0';
  int used = 0;
  bool closed = false;
  // An empty list "()" has no arguments; otherwise each argument is followed by ',' or ')'.
  if (pos < end && line[pos] == ')') {
    closed = true;
    pos++;
  }
  while (!closed && pos < end) {
    if (count == maxArgs) break;
    Arg& a = args[count];
    if (line[pos] == '"') {
      pos++;
      a.kind = Text;
      a.text = used;
      bool ended = false;
      while (pos < end) {
        char c = line[pos++];
        if (c == '"') {
          ended = true;
          break;
        }
        if (c == '\\' && pos < end && unescaped(line[pos]) != 0) c = unescaped(line[pos++]);
        texts[used++] = c;
      }
      if (!ended) break;
      texts[used++] = '\0';
    } else {
      // A number: copy it out so strtoll/strtod cannot read past the line's end.
      char num[40];
      int n = 0;
      while (pos < end && line[pos] != ',' && line[pos] != ')') {
        if (n == (int)sizeof(num) - 1) {
          n = -1;
          break;
        }
        num[n++] = line[pos++];
      }
      if (n <= 0) break;
      num[n] = '\0';
      char* stop = nullptr;
      errno = 0;
      long long iv = strtoll(num, &stop, 10);
      if (*stop == '\0' && errno == 0 && num[0] != ' ') {
        a.kind = Int;
        a.i = iv;
        a.f = (double)iv;
      } else {
        // strtod also reads hexadecimal numbers, "inf" and "nan"; the protocol has none of them.
        if (strpbrk(num, "xXiInN ") != nullptr) break;
        errno = 0;
        double fv = otStrtod(num, &stop);
        if (*stop != '\0' || !isfinite(fv)) break;
        a.kind = Float;
        a.f = fv;
        a.i = 0;
      }
    }
    count++;
    if (pos < end && line[pos] == ',') {
      pos++;
      continue;
    }
    if (pos < end && line[pos] == ')') {
      closed = true;
      pos++;
    }
    break;
  }
  if (!closed) {
    name[0] = '\0';
    count = 0;
    return -1;
  }
  tail = line + pos;
  tailLength = end - pos;
  return count;
}

int otCallLine::intArg(int i, int* value) const {
  if (i < 0 || i >= count || args[i].kind != Int || value == nullptr) return -1;
  if (args[i].i < -2147483647LL - 1 || args[i].i > 2147483647LL) return -1;
  *value = (int)args[i].i;
  return 0;
}

int otCallLine::floatArg(int i, double* value) const {
  if (i < 0 || i >= count || value == nullptr) return -1;
  if (args[i].kind != Int && args[i].kind != Float) return -1;
  *value = args[i].f;
  return 0;
}

const char* otCallLine::textArg(int i) const {
  if (i < 0 || i >= count || args[i].kind != Text) return nullptr;
  return texts + args[i].text;
}

int otCallLine::matches(const char* signature) const {
  if (signature == nullptr) return 0;
  int n = (int)strlen(signature);
  if (n != count) return 0;
  for (int i = 0; i < n; i++) {
    char want = signature[i];
    Kind k = args[i].kind;
    if (want == 'f' ? (k != Int && k != Float) : (k != (Kind)want)) return 0;
  }
  return 1;
}
