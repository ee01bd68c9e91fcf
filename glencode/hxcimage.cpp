// Uncompressed 24- and 32-bit BMP files, read for textures. Every header field is checked
// against the bytes that are there before it is used: a file is outside input.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hxglencode.h"

namespace {

constexpr long kMaxSide = 32768;
constexpr long long kMaxPixels = 64LL * 1024 * 1024;
constexpr long kMaxFile = 512L * 1024 * 1024;

unsigned u16(const unsigned char* p) {
  return (unsigned)p[0] | (unsigned)p[1] << 8;
}
unsigned long u32(const unsigned char* p) {
  return (unsigned long)p[0] | (unsigned long)p[1] << 8 | (unsigned long)p[2] << 16 |
         (unsigned long)p[3] << 24;
}
long s32(const unsigned char* p) {
  unsigned long v = u32(p);
  return v & 0x80000000UL ? -(long)(0xffffffffUL - v) - 1 : (long)v;
}

}  // namespace

unsigned char* hxcImageReadMemory(const void* data, size_t size, int* width, int* height,
                                  int* channels) {
  const unsigned char* b = static_cast<const unsigned char*>(data);
  // File header (14 bytes) and at least the 40 bytes of BITMAPINFOHEADER.
  if (b == nullptr || size < 54 || b[0] != 'B' || b[1] != 'M') return nullptr;
  unsigned long offset = u32(b + 10);
  unsigned long dib = u32(b + 14);
  if (dib < 40 || dib > size - 14) return nullptr;  // the 12-byte OS/2 header is not supported
  long w = s32(b + 18), h = s32(b + 22);
  unsigned planes = u16(b + 26), bpp = u16(b + 28);
  unsigned long compression = u32(b + 30);
  if (planes != 1 || (bpp != 24 && bpp != 32)) return nullptr;
  bool topDown = h < 0;
  if (topDown) h = -h;
  if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide || (long long)w * h > kMaxPixels)
    return nullptr;
  if (compression == 3) {
    // BI_BITFIELDS: only the usual byte order (blue first) is taken; its masks follow the
    // 40-byte header.
    if (bpp != 32 || size < 66 || u32(b + 54) != 0x00ff0000UL || u32(b + 58) != 0x0000ff00UL ||
        u32(b + 62) != 0x000000ffUL)
      return nullptr;
  } else if (compression != 0) {
    return nullptr;
  }
  size_t stride = ((size_t)w * bpp + 31) / 32 * 4;
  if (offset < 14 + dib || offset > size || (size - offset) / stride < (size_t)h) return nullptr;

  int n = bpp / 8;
  unsigned char* out = static_cast<unsigned char*>(malloc((size_t)w * (size_t)h * (size_t)n));
  if (out == nullptr) return nullptr;
  bool anyAlpha = false;
  for (long y = 0; y < h; y++) {
    // GL wants the bottom row first, which is the file's order unless the height is negative.
    const unsigned char* src = b + offset + (size_t)(topDown ? h - 1 - y : y) * stride;
    unsigned char* dst = out + (size_t)y * (size_t)w * (size_t)n;
    for (long x = 0; x < w; x++, src += n, dst += n) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
      if (n == 4) {
        dst[3] = src[3];
        anyAlpha = anyAlpha || src[3] != 0;
      }
    }
  }
  // Many writers leave the fourth byte 0: such an image is meant opaque, not invisible.
  if (n == 4 && !anyAlpha)
    for (size_t k = 3; k < (size_t)w * (size_t)h * 4; k += 4)
      out[k] = 255;
  if (width) *width = (int)w;
  if (height) *height = (int)h;
  if (channels) *channels = n;
  return out;
}

unsigned char* hxcImageRead(const char* filename, int* width, int* height, int* channels) {
  if (filename == nullptr) return nullptr;
  FILE* fp = fopen(filename, "rb");
  if (fp == nullptr) return nullptr;
  std::vector<unsigned char> data;
  unsigned char chunk[65536];
  size_t k;
  while ((k = fread(chunk, 1, sizeof chunk, fp)) > 0) {
    if (data.size() + k > (size_t)kMaxFile) {
      fclose(fp);
      return nullptr;
    }
    data.insert(data.end(), chunk, chunk + k);
  }
  fclose(fp);
  return hxcImageReadMemory(data.data(), data.size(), width, height, channels);
}

void hxcImageFree(unsigned char* pixels) {
  free(pixels);
}
