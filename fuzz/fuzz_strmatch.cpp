// otStrMatch on arbitrary text and pattern (split at the first NUL byte of the input).
#include <cstdint>
#include <string>

#include "otcutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  size_t cut = in.find('\0');
  std::string s = in.substr(0, cut);
  std::string pattern = cut == std::string::npos ? std::string() : in.substr(cut + 1);
  pattern = pattern.substr(0, pattern.find('\0'));
  int r = otStrMatch(s.c_str(), pattern.c_str());
  if (r != 0 && r != 1) __builtin_trap();
  // A pattern that occurs in the text always matches.
  if (!pattern.empty() && s.find(pattern) != std::string::npos && r != 1) __builtin_trap();
  otStartsWith(s.c_str(), pattern.c_str());
  otEndsWith(s.c_str(), pattern.c_str());
  return 0;
}
