// The TLS plug-in's inbox on arbitrary input: the first bytes steer the sizes of the pieces
// that arrive and of the reads, the rest is the stream. Whatever the split, the lines and
// blocks taken out are the stream itself, in order, and no piece passes its bound.
#include <cstdint>
#include <cstring>
#include <string>

#include "tlsinbox_p.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t arrive = 1 + data[0] % 97, lineMax = 1 + data[1] % 61, block = data[2] % 50;
  const bool blocks = (data[3] & 1) != 0;
  const char* stream = reinterpret_cast<const char*>(data + 4);
  const size_t len = size - 4;
  otTlsInbox in;
  std::string out;
  size_t fed = 0;
  char piece[256];
  while (fed < len || in.size() > 0) {
    if (fed < len) {
      size_t n = len - fed < arrive ? len - fed : arrive;
      memcpy(in.room(n), stream + fed, n);
      if (!in.commit(n)) __builtin_trap();
      if (in.commit(in.size() + 1000000)) __builtin_trap();  // past the room: refused
      fed += n;
    }
    size_t n = in.lineLength(lineMax);
    if (n > lineMax || n > in.size()) __builtin_trap();
    if (n > 0 && n < lineMax && in.data()[n - 1] != '\n')
      __builtin_trap();                       // a short piece is a line
    if (n == 0 && fed == len) n = in.size();  // the stream's end: the rest as it is
    if (blocks && block > 0 && in.size() >= block) n = block;
    if (in.take(piece, n) != n) __builtin_trap();
    out.append(piece, n);
  }
  if (out.size() != len || memcmp(out.data(), stream, len) != 0) __builtin_trap();
  unsigned char fp[32];
  std::string text(stream, len);
  if (otTlsParseFingerprint(text.c_str(), fp) && otTlsFormatFingerprint(fp, 32).size() != 95)
    __builtin_trap();
  return 0;
}
