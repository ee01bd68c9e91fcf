// JPEG extraction from arbitrary child output: the input is read as a stream, as the output of
// a child would be, image after image until the stream ends. The first byte picks the buffer
// size, so that images that do not fit are exercised too.
#include <stdio.h>

#include <cstdint>
#include <vector>

#include "otspawn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;  // fmemopen refuses an empty buffer
  int maxlen = data[0] < 128 ? data[0] : 4096;
  std::vector<uint8_t> in(data + 1, data + size);
  FILE* fp = fmemopen(in.data(), in.size(), "r");
  if (fp == nullptr) return 0;
  std::vector<unsigned char> buf((size_t)maxlen + 1);
  for (;;) {
    int n = otReadJpegStream(fp, buf.data(), maxlen);
    if (n == -3) continue;
    if (n < 0) {
      if (n < -5) __builtin_trap();
      break;
    }
    // An image runs from its start pair to its end pair and fits the buffer.
    if (n < 4 || n > maxlen) __builtin_trap();
    if (buf[0] != 0xFF || buf[1] != 0xD8 || buf[n - 2] != 0xFF || buf[n - 1] != 0xD9)
      __builtin_trap();
  }
  fclose(fp);
  return 0;
}
