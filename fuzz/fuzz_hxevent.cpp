// The display server's event parser on arbitrary lines: the kind stays within the table, rest
// and the extracted text stay within their buffers, and a text event read back after
// escaping gives the same text.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "hxserver.h"
#include "otinterpreter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2 * HX_MAX_LINE) return 0;
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.c_str();  // an event buffer holds no NUL
  int restSize = size > 0 ? 1 + data[0] % 64 : 16;

  std::vector<char> rest(HX_TEXT_SIZE + 1, 'X');
  int id = 0;
  int kind = hxParseEvent(line.c_str(), &id, rest.data());
  if (kind < SHUTUP_EVENT || kind > KEYBOARD_EVENT) __builtin_trap();
  if (memchr(rest.data(), '\0', HX_TEXT_SIZE) == nullptr) __builtin_trap();
  if (rest[HX_TEXT_SIZE] != 'X') __builtin_trap();
  if (strlen(rest.data()) > line.size()) __builtin_trap();

  // A narrow rest: the same line either fits or is refused, never written past.
  std::vector<char> narrow((size_t)restSize + 1, 'X');
  int narrowId = 0;
  int narrowKind = hxParseEventN(line.c_str(), &narrowId, narrow.data(), restSize);
  if (narrow[(size_t)restSize] != 'X' || memchr(narrow.data(), '\0', (size_t)restSize) == nullptr)
    __builtin_trap();
  if (narrowKind != kind && narrowKind != UNKNOWN_EVENT) __builtin_trap();
  // A refused rest is "" (the kind then says UNKNOWN_EVENT), else the same rest.
  if (narrow[0] != '\0' && strcmp(narrow.data(), rest.data()) != 0) __builtin_trap();
  if (narrowKind == kind && kind != UNKNOWN_EVENT && strcmp(narrow.data(), rest.data()) != 0)
    __builtin_trap();

  std::vector<char> text(HX_TEXT_SIZE + 1, 'X');
  int n = hxGetText(rest.data(), text.data());
  if (text[HX_TEXT_SIZE] != 'X' || (n >= 0 && (int)strlen(text.data()) != n)) __builtin_trap();
  char small[8];
  int m = hxGetTextN(line.c_str(), small, (int)sizeof small);
  if (m > 7 || (m >= 0 && (int)strlen(small) != m) || (m < 0 && small[0] != '\0')) __builtin_trap();

  if (kind == TEXT_EVENT) {
    std::vector<char> wire(2 * HX_TEXT_SIZE + 2);
    if (otInterpreter::escapeString(rest.data(), wire.data(), (int)wire.size()) < 0)
      __builtin_trap();
    std::string again = "text(" + std::to_string(id) + ",\"" + wire.data() + "\")";
    std::vector<char> back(HX_TEXT_SIZE);
    int backId = -1;
    if (again.size() < HX_MAX_LINE) {
      if (hxParseEvent(again.c_str(), &backId, back.data()) != TEXT_EVENT) __builtin_trap();
      if (backId != id || strcmp(back.data(), rest.data()) != 0) __builtin_trap();
    }
  }
  return 0;
}
