// The option parsers on an arbitrary option string; the first line of the input is the option
// name, the rest the string searched.
#include <cstdint>
#include <cstring>
#include <string>

#include "otcutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  in = in.substr(0, in.find('\0'));
  size_t nl = in.find('\n');
  std::string option = nl == std::string::npos ? "-x" : in.substr(0, nl);
  std::string args = nl == std::string::npos ? in : in.substr(nl + 1);
  static const char def[] = "default";
  const char* text = otTextOption(args.c_str(), option.c_str(), def);
  if (text != def && std::strlen(text) > 4095) __builtin_trap();
  otIntOption(args.c_str(), option.c_str(), 3);
  otFloatOption(args.c_str(), option.c_str(), 1.5f);
  otOption(args.c_str(), option.c_str());
  char buf[16];
  otstrncpy(buf, args.c_str(), (int)sizeof(buf) - 1);
  otstrlinecpy(buf, args.c_str(), (int)sizeof(buf) - 1);
  if (std::strlen(buf) > sizeof(buf) - 1) __builtin_trap();
  return 0;
}
