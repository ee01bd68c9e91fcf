#include "otloginline.h"

#include <string.h>

#include <vector>

#include "otinterpreter.h"

namespace {

bool userChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '-' || c == '@';
}

// One quoted text at *p (before end), in the protocol's quoting: \" \\ \n stand for the
// character, a backslash before any other character stays as it is (as otInterpreter reads
// it). A raw double quote ends the text; a raw line feed or carriage return cannot be in it
// (the caller has cut the line's end off). Stops with false when the text would pass max
// bytes, so that a long line costs no more than max. *p is left after the closing quote.
bool readQuoted(const char** p, const char* end, size_t max, std::string* out, const char** why) {
  const char* s = *p;
  if (s >= end || *s != '"') {
    *why = "not a login line";
    return false;
  }
  s++;
  out->clear();
  for (;;) {
    if (s >= end) {
      *why = "unterminated text";
      return false;
    }
    char c = *s++;
    if (c == '"') break;
    if (c == '\n' || c == '\r') {
      *why = "line feed or carriage return inside the line";
      return false;
    }
    if (c == '\\' && s < end && (*s == '"' || *s == '\\' || *s == 'n')) {
      c = *s == 'n' ? '\n' : *s;
      s++;
    }
    if (out->size() >= max) {
      *why = "text too long";
      return false;
    }
    out->push_back(c);
  }
  *p = s;
  return true;
}

}  // namespace

bool otLoginUserValid(const char* user) {
  if (user == nullptr) return false;
  size_t n = 0;
  for (; user[n] != '\0'; n++)
    if (n >= OT_LOGIN_MAX_USER || !userChar((unsigned char)user[n])) return false;
  return n > 0;
}

std::string otFormatLoginLine(const char* user, const char* password) {
  if (!otLoginUserValid(user) || password == nullptr) return "";
  const size_t plen = strlen(password);
  if (plen == 0 || plen > OT_LOGIN_MAX_PASSWORD || memchr(password, '\r', plen) != nullptr)
    return "";
  // A user name holds nothing that needs escaping; the password at most doubles.
  std::vector<char> escaped(2 * plen + 1);
  if (otInterpreter::escapeString(password, escaped.data(), (int)escaped.size()) < 0) return "";
  std::string line = "login(\"";
  line += user;
  line += "\",\"";
  line += escaped.data();
  line += "\")\n";
  return line;
}

int otParseLoginLine(const char* line, int len, std::string* user, std::string* password,
                     const char** why) {
  const char* dummy = nullptr;
  if (why == nullptr) why = &dummy;
  if (line == nullptr || len < 0 || user == nullptr || password == nullptr) {
    *why = "not a login line";
    return -1;
  }
  const char* end = line + len;
  if (end > line && end[-1] == '\n') {
    end--;
    if (end > line && end[-1] == '\r') end--;
  }
  if (memchr(line, '\0', (size_t)(end - line)) != nullptr) {
    *why = "NUL byte in the line";
    return -1;
  }
  static const char kHead[] = "login(";
  const size_t headLen = sizeof kHead - 1;
  if ((size_t)(end - line) < headLen || memcmp(line, kHead, headLen) != 0) {
    *why = "not a login line";
    return -1;
  }
  const char* p = line + headLen;
  std::string u, pw;
  // One byte over the limit is read so that a name that is too long is told from a bad one.
  if (!readQuoted(&p, end, OT_LOGIN_MAX_USER + 1, &u, why)) {
    if (strcmp(*why, "text too long") == 0) *why = "bad user name";
    return -1;
  }
  if (!otLoginUserValid(u.c_str())) {
    *why = "bad user name";
    return -1;
  }
  if (p >= end || *p != ',') {
    *why = "not a login line";
    return -1;
  }
  p++;
  if (!readQuoted(&p, end, OT_LOGIN_MAX_PASSWORD, &pw, why)) {
    if (strcmp(*why, "text too long") == 0) *why = "password too long";
    return -1;
  }
  if (pw.empty()) {
    *why = "empty password";
    return -1;
  }
  if (p >= end || *p != ')' || p + 1 != end) {
    *why = p < end && *p == ')' ? "text after the closing parenthesis" : "not a login line";
    return -1;
  }
  *user = u;
  *password = pw;
  return 0;
}
