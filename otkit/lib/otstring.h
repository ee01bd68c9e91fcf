// otString: a heap-held, NUL-terminated text whose buffer always has the exact size.
// The operators + and += append to the left operand in place.
#ifndef OTSTRING_H
#define OTSTRING_H

#include "otcutil.h"

class otString {
 public:
  otString(const char* text = "");
  otString(const otString& other);
  otString(const otString* other);
  virtual ~otString();

  char* text() { return txt; }
  const char* text() const { return txt; }
  int setText(const char* text);
  otString& operator=(const char* text);
  otString& operator=(const otString& other);
  // Safe when text points into this string.
  int strcpy(const char* text);
  int cat(const char* text);
  otString& operator+(const char* text);
  otString& operator+(const otString& other);
  otString& operator+=(const char* text);
  otString& operator+=(const otString& other);
  int operator==(const char* text) const;
  int operator==(const otString& other) const;
  int operator!=(const char* text) const;
  int operator!=(const otString& other) const;
  // Replaces the text with at most 4095 formatted characters; a negative result leaves it alone.
  int printf(const char* format, ...) OT_PRINTF_FORMAT(2, 3);
  char* strstr(const char* pattern);
  char* strchr(int c);
  char* strrchr(int c);
  int upper();
  int lower();
  int startsWith(const char* prefix) const;
  int strnocasecmp(const char* text) const;
  int strnnocasecmp(const char* text, int n) const;
  // Drops a quote at position 0 and the next one that closes it; returns new length + 1.
  int removeQuotas(char quote);
  // Cuts the text at its first line feed; -1 for an empty text.
  int removeNewline();
  // Loads a whole file; returns its size or -1 (text unchanged).
  int read(const char* path);
  // Writes the text; returns its length or -1.
  int write(const char* path) const;
  char* toFilename();
  char* toDirname();

 private:
  char* txt;
  char* tmp;
};

#endif
