#include "otstring.h"

#include <stdarg.h>
#include <string.h>
#include <sys/stat.h>

namespace {

char* dupText(const char* text) {
  if (text == nullptr) text = "";
  size_t len = ::strlen(text);
  char* buf = new char[len + 1];
  ::memcpy(buf, text, len + 1);
  return buf;
}

char* lowerCopy(const char* text) {
  char* copy = dupText(text);
  otlower(copy);
  return copy;
}

}  // namespace

otString::otString(const char* text) : txt(dupText(text)), tmp(nullptr) {}

otString::otString(const otString& other) : txt(dupText(other.txt)), tmp(nullptr) {}

otString::otString(const otString* other) : txt(dupText(other ? other->txt : "")), tmp(nullptr) {}

otString::~otString() {
  delete[] txt;
  delete[] tmp;
}

// The new buffer is made before the old one is freed, so a text that points into this string
// itself (s.setText(s.text() + 1)) is copied intact.
int otString::setText(const char* text) {
  return strcpy(text);
}

otString& otString::operator=(const char* text) {
  setText(text);
  return *this;
}

otString& otString::operator=(const otString& other) {
  if (this != &other) setText(other.txt);
  return *this;
}

int otString::strcpy(const char* text) {
  char* buf = dupText(text);
  delete[] txt;
  txt = buf;
  return (int)::strlen(txt);
}

int otString::cat(const char* text) {
  if (text == nullptr) text = "";
  size_t oldLen = ::strlen(txt), addLen = ::strlen(text);
  char* buf = new char[oldLen + addLen + 1];
  ::memcpy(buf, txt, oldLen);
  ::memcpy(buf + oldLen, text, addLen + 1);
  delete[] txt;
  txt = buf;
  return (int)(oldLen + addLen);
}

otString& otString::operator+(const char* text) {
  cat(text);
  return *this;
}

otString& otString::operator+(const otString& other) {
  cat(other.txt);
  return *this;
}

otString& otString::operator+=(const char* text) {
  cat(text);
  return *this;
}

otString& otString::operator+=(const otString& other) {
  cat(other.txt);
  return *this;
}

int otString::operator==(const char* text) const {
  return text != nullptr && ::strcmp(txt, text) == 0 ? 1 : 0;
}

int otString::operator==(const otString& other) const {
  return ::strcmp(txt, other.txt) == 0;
}

int otString::operator!=(const char* text) const {
  return !(*this == text);
}

int otString::operator!=(const otString& other) const {
  return !(*this == other);
}

int otString::printf(const char* format, ...) {
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 0) return t.result;
  setText(t.text);
  return t.result;
}

char* otString::strstr(const char* pattern) {
  if (pattern == nullptr) return nullptr;
  return ::strstr(txt, pattern);
}

char* otString::strchr(int c) {
  return ::strchr(txt, c);
}

char* otString::strrchr(int c) {
  return ::strrchr(txt, c);
}

int otString::upper() {
  return otupper(txt);
}

int otString::lower() {
  return otlower(txt);
}

int otString::startsWith(const char* prefix) const {
  return otStartsWith(txt, prefix);
}

int otString::strnocasecmp(const char* text) const {
  char* a = lowerCopy(txt);
  char* b = lowerCopy(text);
  int ret = ::strcmp(a, b);
  delete[] a;
  delete[] b;
  return ret;
}

int otString::strnnocasecmp(const char* text, int n) const {
  if (n <= 0) return 0;
  char* a = lowerCopy(txt);
  char* b = lowerCopy(text);
  int ret = ::strncmp(a, b, (size_t)n);
  delete[] a;
  delete[] b;
  return ret;
}

int otString::removeQuotas(char quote) {
  int out = 0;
  bool inside = false;
  for (int in = 0; txt[in] != '\0'; in++) {
    char c = txt[in];
    if (in == 0 && c == quote) {
      inside = true;
      continue;
    }
    if (inside && c == quote) {
      inside = false;
      quote = '\0';  // a later quote character is kept as text
      continue;
    }
    txt[out++] = c;
  }
  txt[out] = '\0';
  return out + 1;
}

int otString::removeNewline() {
  if (txt[0] == '\0') return -1;
  char* nl = ::strchr(txt, '\n');
  if (nl != nullptr) *nl = '\0';
  return 0;
}

int otString::read(const char* path) {
  struct stat st;
  if (path == nullptr || lstat(path, &st) != 0) return -1;
  FILE* fp = fopen(path, "r");
  if (fp == nullptr) return -1;
  size_t size = (size_t)st.st_size;
  char* buf = new char[size + 1];
  // A file that shrank since lstat must not leave stale bytes in the text.
  size_t got = fread(buf, 1, size, fp);
  fclose(fp);
  buf[got] = '\0';
  delete[] txt;
  txt = buf;
  return (int)got;
}

int otString::write(const char* path) const {
  FILE* fp = path ? fopen(path, "w") : nullptr;
  if (fp == nullptr) return -1;
  fputs(txt, fp);
  fclose(fp);
  return (int)::strlen(txt);
}

char* otString::toFilename() {
  delete[] tmp;
  tmp = dupText(txt);
  return tmp;
}

char* otString::toDirname() {
  return toFilename();
}
