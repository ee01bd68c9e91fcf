// The image calls: sizes from hand-made BMP, PNG, JPEG and GIF headers, every truncation and
// inconsistency refused, and the lines with their downloads byte for byte.
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hxserver.h"
#include "hxtestutil.h"
#include "testutil.h"

namespace {

using hxtest::Client;
using hxtest::eventually;
using HxImageTest = hxtest::HxServerTest;

std::string le16(int v) {
  return std::string{(char)(v & 0xff), (char)((v >> 8) & 0xff)};
}
std::string le32(int v) {
  return le16(v & 0xffff) + le16((v >> 16) & 0xffff);
}
std::string be16(int v) {
  return std::string{(char)((v >> 8) & 0xff), (char)(v & 0xff)};
}
std::string be32(unsigned v) {
  return be16((int)(v >> 16)) + be16((int)(v & 0xffff));
}

// File header and a 40-byte DIB header (only the fields read matter), no pixels.
std::string bmp40(int w, int h, int bits, int planes = 1) {
  return "BM" + le32(0) + le32(0) + le32(54) + le32(40) + le32(w) + le32(h) + le16(planes) +
         le16(bits);
}
std::string bmpCore(int w, int h, int bits) {
  return "BM" + le32(0) + le32(0) + le32(26) + le32(12) + le16(w) + le16(h) + le16(1) + le16(bits);
}
// Signature and IHDR with the given CRC (computed with zlib for the rows below).
std::string png(unsigned w, unsigned h, int depth, int colour, unsigned crc) {
  return std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + "IHDR" + be32(w) + be32(h) + (char)depth +
         (char)colour + std::string(3, '\0') + be32(crc);
}
const std::string kApp0 =
    std::string("\xff\xe0", 2) + be16(16) + std::string("JFIF\0", 5) + std::string(9, '\x01');
std::string sof(int marker, int precision, int h, int w, int components) {
  std::string s = std::string{'\xff', (char)marker} + be16(8 + 3 * components) + (char)precision +
                  be16(h) + be16(w) + (char)components;
  for (int c = 0; c < components; c++)
    s += std::string{(char)(c + 1), '\x11', '\0'};
  return s;
}
const std::string kSoi("\xff\xd8", 2);

struct HeaderRow {
  const char* what;
  std::string bytes;
  int w, h, depth;  // 0 0 0: refused
};

TEST(HxImageHeader, SizesAndDepthsOfEachFormat) {
  const std::vector<HeaderRow> rows = {
      {"bmp 24", bmp40(3, 2, 24), 3, 2, 24},
      {"bmp top-down", bmp40(640, -480, 8), 640, 480, 8},
      {"bmp core", bmpCore(5, 7, 4), 5, 7, 4},
      {"png rgba", png(3, 2, 8, 6, 0x9d74661a), 3, 2, 32},
      {"png rgb", png(640, 480, 8, 2, 0xbab34bb3), 640, 480, 24},
      {"jpeg baseline after app0 and fill bytes", kSoi + kApp0 + "\xff" + sof(0xc0, 8, 480, 640, 3),
       640, 480, 24},
      {"jpeg progressive grey", kSoi + sof(0xc2, 8, 10, 20, 1), 20, 10, 8},
      {"jpeg after restart marker", kSoi + "\xff\xd0" + sof(0xc1, 12, 1, 1, 3), 1, 1, 36},
      {"gif with table", "GIF89a" + le16(10) + le16(20) + "\xf2", 10, 20, 3},
      {"gif without table", "GIF87a" + le16(1) + le16(1) + std::string(1, '\0'), 1, 1, 8},

      {"bmp zero width", bmp40(0, 2, 24), 0, 0, 0},
      {"bmp negative width", bmp40(-3, 2, 24), 0, 0, 0},
      {"bmp lowest height", bmp40(3, INT32_MIN, 24), 0, 0, 0},
      {"bmp odd bit count", bmp40(3, 2, 7), 0, 0, 0},
      {"bmp two planes", bmp40(3, 2, 24, 2), 0, 0, 0},
      {"bmp unknown dib size",
       "BM" + le32(0) + le32(0) + le32(54) + le32(20) + le32(3) + le32(2) + le16(1) + le16(24), 0,
       0, 0},
      {"png bad crc", png(3, 2, 8, 6, 0x9d74661b), 0, 0, 0},
      {"png zero width", png(0, 2, 8, 6, 0x7643dd19), 0, 0, 0},
      {"png palette of 16 bits", png(3, 2, 16, 3, 0xfa3a4a6b), 0, 0, 0},
      {"jpeg scan before frame",
       kSoi + std::string("\xff\xda", 2) + be16(2) + sof(0xc0, 8, 1, 1, 1), 0, 0, 0},
      {"jpeg end before frame", kSoi + "\xff\xd9", 0, 0, 0},
      {"jpeg huffman table is no frame", kSoi + sof(0xc4, 8, 1, 1, 1), 0, 0, 0},
      {"jpeg height left to DNL", kSoi + sof(0xc0, 8, 0, 10, 1), 0, 0, 0},
      {"jpeg segment shorter than its length", kSoi + "\xff\xe0" + be16(1), 0, 0, 0},
      {"jpeg frame shorter than its components",
       kSoi + std::string("\xff\xc0", 2) + be16(8) + "\x08" + be16(1) + be16(1) + "\x03", 0, 0, 0},
      {"jpeg no marker", kSoi + "abc", 0, 0, 0},
      {"gif zero height", "GIF89a" + le16(10) + le16(0) + "\x80", 0, 0, 0},
      {"text", "hello, world", 0, 0, 0},
      {"empty", "", 0, 0, 0},
  };
  for (const HeaderRow& r : rows) {
    SCOPED_TRACE(r.what);
    int w = -1, h = -1, depth = -1;
    EXPECT_EQ(r.w > 0 ? 0 : -1,
              hxImageHeader(r.bytes.data(), (long)r.bytes.size(), &w, &h, &depth));
    EXPECT_EQ(r.w, w);
    EXPECT_EQ(r.h, h);
    EXPECT_EQ(r.depth, depth);
    // The valid headers above are no longer than needed: every shorter piece is refused.
    for (size_t n = 0; r.w > 0 && n < r.bytes.size(); n++) {
      ASSERT_EQ(-1, hxImageHeader(r.bytes.data(), (long)n, &w, &h, &depth)) << n << " bytes";
    }
  }
  std::string good = bmp40(3, 2, 24);
  EXPECT_EQ(0, hxImageHeader(good.data(), (long)good.size(), nullptr, nullptr, nullptr));
  EXPECT_EQ(-1, hxImageHeader(nullptr, 10, nullptr, nullptr, nullptr));
  EXPECT_EQ(-1, hxImageHeader(good.data(), -1, nullptr, nullptr, nullptr));
}

TEST_F(HxImageTest, ImagesGoOutAfterTheirDownload) {
  ottest::TempDir dir;
  const std::string bmp = bmp40(320, 200, 24) + std::string("\n\0pixels", 8);
  const std::string jpeg = kSoi + sof(0xc0, 8, 2, 3, 1) + "\xff\xd9";
  std::ofstream(dir.file("caster.bmp"), std::ios::binary) << bmp;
  std::ofstream(dir.file("garbage.bmp"), std::ios::binary) << "no picture";
  std::ofstream(dir.file("a..b.bmp"), std::ios::binary) << bmp;
  std::vector<int> results;
  int w = -1, h = -1, depth = -1, gw = -1, gh = -1, gd = -1;
  start([&](PARAM_* p) {
    std::string caster = dir.file("caster.bmp");
    results = {hxQImage(p, 5, 0, caster.c_str(), &w, &h, &depth),
               hxQImage(p, 6, 5, caster.c_str(), nullptr, nullptr, nullptr),
               hxQImage(p, 7, 0, dir.file("garbage.bmp").c_str(), &gw, &gh, &gd),
               hxQImage(p, 7, 0, dir.file("missing.bmp").c_str(), nullptr, nullptr, nullptr),
               hxQImage(p, 7, 0, dir.file("a..b.bmp").c_str(), nullptr, nullptr, nullptr),
               hxSetImage(p, 5, dir.file("garbage.bmp").c_str()),
               hxSetImage(p, 5, dir.file("missing.bmp").c_str()),
               hxSetImage(p, 5, dir.path().c_str()),
               hxSetJpegImage(p, 5, jpeg.data(), (int)jpeg.size()),
               hxSetJpegImage(p, 5, jpeg.data(), 0), hxSetJpegImage(p, 5, nullptr, 4),
               // Refused from the count alone: the buffer is never read that far.
               hxSetJpegImage(p, 5, jpeg.data(), HX_MAX_JPEG_IMAGE + 1), hxStartDefinition(p, 6),
               hxQImage(p, 6, 0, caster.c_str(), nullptr, nullptr, nullptr),
               hxSetImage(p, 6, caster.c_str()),
               hxSetJpegImage(p, 6, jpeg.data(), (int)jpeg.size()), hxEndDefinition(p)};
    return 0;
  });
  Client c(port());
  const std::string download =
      "@download(\"caster.bmp\"," + std::to_string(bmp.size()) + ")\n" + bmp;
  const std::string expected =
      download + "QImage(5,0,\"caster.bmp\")\n" + download + "QImage(6,5,\"caster.bmp\")\n" +
      "@download(\"garbage.bmp\",10)\nno picture" + "setImage(5,\"garbage.bmp\")\n" +
      "setJpegImage(5," + std::to_string(jpeg.size()) + ")\n" + jpeg +
      "startDefinition(6)\nendDefinition()\n";
  EXPECT_EQ(expected, c.bytes((int)expected.size()));
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ((std::vector<int>{0, 0, -1, -1, -1, 0, -1, -1, 0, -1, -1, -1, 0, -1, -1, -1, 0}),
            results);
  EXPECT_EQ((std::vector<int>{320, 200, 24}), (std::vector<int>{w, h, depth}));
  EXPECT_EQ((std::vector<int>{0, 0, 0}), (std::vector<int>{gw, gh, gd}));
}

}  // namespace
