// The display client's command parsing on arbitrary server lines: the call-line parser and the
// command table must stay within the line, keep their limits and agree with each other.
#include <cstdint>
#include <cstring>

#include "otcommandtable.h"
#include "otinterpreter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  otCallLine c;
  int count = 0;
  const otclient::CommandInfo* table = otclient::commands(&count);
  size_t start = 0;
  while (start < size) {
    size_t end = start;
    while (end < size && text[end] != '\n')
      end++;
    int len = (int)(end - start);
    int n = c.parse(text + start, len);
    if (n > otCallLine::maxArgs || (n < 0 && (c.name[0] != '\0' || c.count != 0))) __builtin_trap();
    if (n >= 0) {
      if ((int)strlen(c.name) > otCallLine::maxName) __builtin_trap();
      if (c.tailLength < 0 || c.tail < text + start || c.tail + c.tailLength > text + end)
        __builtin_trap();
      for (int i = 0; i < n; i++) {
        const char* t = c.textArg(i);
        if (t != nullptr && (int)strlen(t) > len) __builtin_trap();
      }
      otclient::Command cmd = otclient::lookup(c);
      if (cmd != otclient::CmdNone) {
        if (cmd < 0 || cmd >= count) __builtin_trap();
        if (strcmp(table[cmd].name, c.name) != 0 || !c.matches(table[cmd].signature))
          __builtin_trap();
      }
      const char* name = c.textArg(0);
      if (name != nullptr && otclient::safeFileName(name) &&
          (strchr(name, '/') != nullptr || strstr(name, "..") != nullptr))
        __builtin_trap();
    }
    start = end + 1;
  }
  return 0;
}
