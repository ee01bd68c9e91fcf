// The data provider's request dispatch on arbitrary lines, without a socket. The stop flag is
// set, so the blocking handshakes give up at once instead of waiting for another client.
// Every reply must be one well-formed line, and a string reply must give back the stored
// string through the client's parser.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "otdataprovider.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 100000) return 0;
  otDataProvider provider(4, 4, 4);
  provider.setInt0Semaphore(1);  // one getInt0Semaphore() may be answered
  std::atomic<int> stop{1};
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string reply;
  otInterpreter parsed(otDataProvider::MAX_LINE + 1);
  char text[otDataProvider::MAX_LINE + 1];
  size_t pos = 0;
  while (pos < input.size()) {
    size_t nl = input.find('\n', pos);
    if (nl == std::string::npos) nl = input.size();
    // What the server's line reader hands over: at most MAX_LINE characters, no NUL inside.
    std::string line = input.substr(pos, nl - pos).c_str();
    pos = nl + 1;
    if (line.size() > otDataProvider::MAX_LINE) continue;
    int len = provider.handleLine(line.c_str(), &reply, &stop);
    if (len != (int)reply.size()) __builtin_trap();
    if (len == 0) continue;
    if (reply.back() != '\n' || reply.find('\n') != reply.size() - 1) __builtin_trap();
    if (reply.compare(0, 10, "intResult(") != 0 && reply.compare(0, 12, "floatResult(") != 0 &&
        reply.compare(0, 13, "stringResult(") != 0)
      __builtin_trap();
    int index = -1;
    if (sscanf(line.c_str(), "getString(%d)", &index) == 1 && reply.size() <= sizeof(text)) {
      memcpy(parsed.line, reply.data(), reply.size() - 1);
      parsed.line[reply.size() - 1] = '\0';
      const char* stored = provider.getString(index);
      if (parsed.copyStringParam(text, 0) < 0) __builtin_trap();
      if (strcmp(text, stored != nullptr ? stored : "") != 0) __builtin_trap();
    }
  }
  return 0;
}
