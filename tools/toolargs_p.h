// What the simulators of the tools directory share in reading their options.
#ifndef TOOLARGS_P_H
#define TOOLARGS_P_H

#include <errno.h>
#include <stdlib.h>

#include <string>

// Decimal, or hexadecimal after 0x (a leading zero does not mean octal); no blanks, no sign.
inline bool parseInt(const std::string& text, int lo, int hi, int* out) {
  if (text.empty() || text[0] == ' ' || text[0] == '\t' || text[0] == '-' || text[0] == '+')
    return false;
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  errno = 0;
  long v = strtol(text.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  *out = (int)v;
  return true;
}

#endif
