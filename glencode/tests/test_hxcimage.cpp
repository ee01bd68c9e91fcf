// The BMP reader: files written here, then cut short and made hostile.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hxglencode.h"

namespace {

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = (uint8_t)v;
  b[at + 1] = (uint8_t)(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; k++)
    b[at + (size_t)k] = (uint8_t)(v >> (8 * k));
}

// A w x h BMP of bpp bits; pixel (x, y) from the bottom is blue x, green y, red 100+x+y,
// alpha (32 bits) alpha.
std::vector<uint8_t> makeBmp(int w, int h, int bpp, bool topDown = false, int alpha = 200,
                             uint32_t compression = 0) {
  size_t stride = ((size_t)w * (size_t)bpp + 31) / 32 * 4;
  size_t header = compression == 3 ? 66 : 54;
  std::vector<uint8_t> b(header + stride * (size_t)h, 0);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 2, (uint32_t)b.size());
  put32(b, 10, (uint32_t)header);
  put32(b, 14, 40);
  put32(b, 18, (uint32_t)w);
  put32(b, 22, (uint32_t)(topDown ? -h : h));
  put16(b, 26, 1);
  put16(b, 28, (uint32_t)bpp);
  put32(b, 30, compression);
  if (compression == 3) {
    put32(b, 54, 0x00ff0000);
    put32(b, 58, 0x0000ff00);
    put32(b, 62, 0x000000ff);
  }
  for (int y = 0; y < h; y++) {
    int fileRow = topDown ? h - 1 - y : y;
    uint8_t* row = &b[header + stride * (size_t)fileRow];
    for (int x = 0; x < w; x++) {
      uint8_t* px = row + (size_t)x * (size_t)(bpp / 8);
      px[0] = (uint8_t)x;
      px[1] = (uint8_t)y;
      px[2] = (uint8_t)(100 + x + y);
      if (bpp == 32) px[3] = (uint8_t)alpha;
    }
  }
  return b;
}

struct Image {
  unsigned char* pixels = nullptr;
  int w = -1, h = -1, n = -1;
  explicit Image(const std::vector<uint8_t>& b) {
    pixels = hxcImageReadMemory(b.data(), b.size(), &w, &h, &n);
  }
  ~Image() { hxcImageFree(pixels); }
};

TEST(HxcImage, ReadsBitmapsBottomRowFirst) {
  struct Row {
    const char* what;
    int bpp;
    bool topDown;
    int alpha;
    uint32_t compression;
    int channels, expectAlpha;
  };
  const Row rows[] = {
      {"24-bit, padded rows", 24, false, 0, 0, 3, -1},
      {"24-bit top-down", 24, true, 0, 0, 3, -1},
      {"32-bit with alpha", 32, false, 200, 0, 4, 200},
      {"32-bit, alpha left 0", 32, false, 0, 0, 4, 255},
      {"32-bit bit fields", 32, true, 7, 3, 4, 7},
  };
  for (const Row& r : rows) {
    Image img(makeBmp(3, 2, r.bpp, r.topDown, r.alpha, r.compression));
    ASSERT_NE(nullptr, img.pixels) << r.what;
    EXPECT_EQ(3, img.w);
    EXPECT_EQ(2, img.h);
    ASSERT_EQ(r.channels, img.n) << r.what;
    for (int y = 0; y < 2; y++)
      for (int x = 0; x < 3; x++) {
        const unsigned char* px = img.pixels + (size_t)((y * 3 + x) * r.channels);
        EXPECT_EQ(100 + x + y, px[0]) << r.what << " red at " << x << "," << y;
        EXPECT_EQ(y, px[1]) << r.what;
        EXPECT_EQ(x, px[2]) << r.what;
        if (r.channels == 4) {
          EXPECT_EQ(r.expectAlpha, px[3]) << r.what;
        }
      }
  }
}

TEST(HxcImage, ReadsAFile) {
  std::vector<uint8_t> b = makeBmp(5, 4, 24);
  char path[] = "/tmp/hxcimageXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ((ssize_t)b.size(), write(fd, b.data(), b.size()));
  close(fd);
  int w = 0, h = 0, n = 0;
  unsigned char* px = hxcImageRead(path, &w, &h, &n);
  unlink(path);
  ASSERT_NE(nullptr, px);
  EXPECT_EQ(5, w);
  EXPECT_EQ(4, h);
  EXPECT_EQ(3, n);
  hxcImageFree(px);
  EXPECT_EQ(nullptr, hxcImageRead("/nonexistent.bmp", &w, &h, &n));
  EXPECT_EQ(nullptr, hxcImageRead(nullptr, &w, &h, &n));
}

TEST(HxcImage, RefusesTruncatedAndHostileFiles) {
  const std::vector<uint8_t> good = makeBmp(3, 2, 24);
  // Every cut of a good file is refused, not read past its end.
  for (size_t len = 0; len < good.size(); len++) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + (long)len);
    EXPECT_EQ(nullptr, Image(cut).pixels) << "cut at " << len;
  }
  struct Row {
    const char* what;
    size_t at;
    int bits;  // 16 or 32
    uint32_t value;
  };
  const Row rows[] = {
      {"not BM", 0, 16, 0x4142},
      {"data offset past the end", 10, 32, 0xfffffff0},
      {"data offset inside the header", 10, 32, 20},
      {"header larger than the file", 14, 32, 0x7fffffff},
      {"OS/2 header", 14, 32, 12},
      {"width 0", 18, 32, 0},
      {"negative width", 18, 32, 0xfffffffd},
      {"width beyond the data", 18, 32, 1000},
      {"huge width", 18, 32, 0x40000000},
      {"huge height", 22, 32, 0x40000000},
      {"smallest height", 22, 32, 0x80000000},
      {"two planes", 26, 16, 2},
      {"8 bits", 28, 16, 8},
      {"RLE", 30, 32, 1},
      {"24-bit bit fields", 30, 32, 3},
  };
  for (const Row& r : rows) {
    std::vector<uint8_t> b = good;
    if (r.bits == 16)
      put16(b, r.at, r.value);
    else
      put32(b, r.at, r.value);
    EXPECT_EQ(nullptr, Image(b).pixels) << r.what;
  }
  std::vector<uint8_t> masks = makeBmp(2, 2, 32, false, 1, 3);
  put32(masks, 54, 0x000000ff);  // red in the low byte: not the order this reader takes
  EXPECT_EQ(nullptr, Image(masks).pixels);
}

}  // namespace
