#include "otinterpreter.h"

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

// strtol and strtof read what "%d" and "%f" read (leading white space, sign, digits); unlike
// sscanf they do not measure the rest of the text for every value.
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
    float value = strtof(p, &end);
    if (end == p) break;
    values[n++] = value;
    p = strchr(end, ',');
    if (p == nullptr) break;
    p++;
  }
  return n;
}
