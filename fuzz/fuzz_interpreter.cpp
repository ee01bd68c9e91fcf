// otInterpreter's quoted-string extraction and the array parser on arbitrary lines. The
// extraction must stay within its buffer, and the escape rule must give back any extracted
// text after a round trip; the array parsers must store at most max values.
#include <cstdint>
#include <cstring>
#include <string>

#include "otinterpreter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 20000) return 0;
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.c_str();  // a line holds no NUL
  int width = size > 0 ? 1 + data[0] % 64 : 16;
  otInterpreter in(4096), narrow(width);
  strncpy(in.line, line.c_str(), 4095);
  in.line[4095] = '\0';
  strncpy(narrow.line, line.c_str(), (size_t)width - 1);
  narrow.line[width - 1] = '\0';
  if (in.isCommand("") != 1) __builtin_trap();

  char buf[4096], back[4096], wire[8200];
  std::string quoted;
  for (int index = -1; index < 4; index++) {
    int n = in.copyStringParam(buf, index);
    if (n > 4095 || (n >= 0 && (int)strlen(buf) != n) || (n < 0 && buf[0] != '\0'))
      __builtin_trap();
    char small[64];
    int m = narrow.copyStringParam(small, index);
    if (m > width - 1 || (m >= 0 && (int)strlen(small) != m)) __builtin_trap();
    if (n < 0) continue;
    // Escaped, quoted and extracted again: the same text.
    int len = otInterpreter::escapeString(buf, wire, sizeof(wire));
    if (len != otInterpreter::escapedLength(buf)) __builtin_trap();
    quoted = "x(\"\",\"" + std::string(wire) + "\")";
    if (otInterpreter::quotedString(quoted.c_str(), 1, back, sizeof(back)) != n) __builtin_trap();
    if (strcmp(back, buf) != 0) __builtin_trap();
  }

  int values[16];
  float fvalues[16];
  int max = size > 1 ? data[1] % 17 : 16;
  if (otInterpreter::parseIntArray(line.c_str(), values, max) > max) __builtin_trap();
  if (otInterpreter::parseFloatArray(line.c_str(), fvalues, max) > max) __builtin_trap();
  return 0;
}
