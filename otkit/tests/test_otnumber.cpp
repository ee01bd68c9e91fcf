#include "otnumber.h"

#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "otcutil.h"
#include "otdataacquisition.h"
#include "otinterpreter.h"
#include "testutil.h"

namespace {

std::string printfF(double v) {
  char b[400];
  snprintf(b, sizeof b, "%f", v);
  return b;
}

std::string ours(double v) {
  char b[400];
  int n = otFormatFixed(b, sizeof b, v);
  EXPECT_EQ(n, (int)strlen(b));
  return b;
}

std::vector<double> samples() {
  std::vector<double> v = {0.0,
                           -0.0,
                           1.0,
                           -1.0,
                           0.5,
                           1.5,
                           2.5,
                           0.0078125,
                           0.0234375,
                           -0.0078125,
                           1e-7,
                           -1e-7,
                           5e-7,
                           4.9999e-7,
                           999999.9999995,
                           0.1,
                           1e-300,
                           -4.9e-324,
                           0x1p52,
                           0x1p52 + 1,
                           0x1p63 - 1024,
                           0x1p63,
                           1e300,
                           -1e20,
                           INFINITY,
                           -INFINITY,
                           NAN,
                           123456.5e-6,
                           3.14159265358979};
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> unit(-1, 1);
  std::uniform_int_distribution<int> exponent(-40, 70);
  for (int k = 0; k < 20000; k++) {
    v.push_back(ldexp(unit(rng), exponent(rng)));
    v.push_back((double)(float)ldexp(unit(rng), exponent(rng) / 3));
  }
  // Exact ties at the sixth decimal: odd multiples of 2^-n with n from 7 up.
  for (int n = 7; n < 30; n++)
    for (int k = 1; k < 200; k += 2)
      v.push_back(ldexp(k, -n));
  // Odd mantissas of 40 to 50 bits over the scales where 10^6 times them fits 64 bits or not.
  std::uniform_int_distribution<uint64_t> mantissa(1ull << 39, (1ull << 50) - 1);
  for (int n = 40; n < 110; n++)
    for (int k = 0; k < 40; k++)
      v.push_back(ldexp((double)(mantissa(rng) | 1), -n));
  return v;
}

TEST(otNumber, FormatIsPrintfByteForByte) {
  for (double v : samples())
    ASSERT_EQ(ours(v), printfF(v)) << "value " << v;
}

TEST(otNumber, FormatCutsLikeSnprintf) {
  char b[6];
  EXPECT_EQ(otFormatFixed(b, sizeof b, -12.25), 10);
  EXPECT_STREQ(b, "-12.2");
  EXPECT_EQ(otFormatFixed(b, 1, 3.0), 8);
  EXPECT_STREQ(b, "");
  EXPECT_EQ(otFormatFixed(b, 0, 3.0), -1);
}

TEST(otNumber, ParseIsStrtod) {
  std::vector<std::string> texts = {"0",
                                    "-0",
                                    "+1.5",
                                    "  \t2.25,3",
                                    "1.",
                                    ".5",
                                    ".",
                                    "-",
                                    "",
                                    "abc",
                                    "1e3",
                                    "1E-2,4",
                                    "0x10",
                                    "inf",
                                    "-nan",
                                    "5.5.5",
                                    "12345678901234567890.5",
                                    "9007199254740993",
                                    "9007199254740992.0",
                                    "0.00000000000000000000001",
                                    "0.0000000000000000000000001",
                                    "1.7976931348623157e308",
                                    "123456789012345678901234567890",
                                    "000000000000000000000000001.5",
                                    "3.14159265358979323846",
                                    "1,2"};
  for (double v : samples())
    texts.push_back(printfF(v));
  std::mt19937 rng(7);
  for (int k = 0; k < 20000; k++) {
    std::string t = std::to_string(rng() % 100000000) + "." + std::to_string(rng());
    texts.push_back(k % 2 ? "-" + t : t);
  }
  for (const std::string& t : texts) {
    char *e1 = nullptr, *e2 = nullptr;
    double a = otStrtod(t.c_str(), &e1), b = strtod(t.c_str(), &e2);
    ASSERT_EQ(e1 - t.c_str(), e2 - t.c_str()) << t;
    if (isnan(b)) {
      ASSERT_TRUE(isnan(a)) << t;
    } else {
      ASSERT_EQ(memcmp(&a, &b, sizeof a), 0) << t << ": " << a << " against " << b;
    }
  }
  EXPECT_EQ(otStrtod("2.5", nullptr), 2.5);
}

}  // namespace

namespace {

TEST(otNumber, ShortestReadsBackAndTheOthersMatchTheirC) {
  char b[64];
  for (double v : samples()) {
    ASSERT_GT(otFormatShortest(b, sizeof b, v), 0);
    if (isnan(v))
      EXPECT_TRUE(isnan(otStrtod(b, nullptr))) << b;
    else
      EXPECT_EQ(otStrtod(b, nullptr), v) << b;
  }
  ASSERT_GT(otFormatShortest(b, sizeof b, 0.1), 0);
  EXPECT_STREQ(b, "0.1");  // 15 digits suffice: no 0.10000000000000001
  ASSERT_GT(otFormatShortest(b, sizeof b, 0.1 + 0.2), 0);
  EXPECT_STREQ(b, "0.30000000000000004");
  EXPECT_EQ(otFormatShortest(b, 0, 1.0), -1);

  EXPECT_EQ(otFormatWith(b, sizeof b, "%8.2f", 3.14159), 8);
  EXPECT_STREQ(b, "    3.14");
  EXPECT_EQ(otFormatWith(b, 4, "%.3e", 12345.0), 9);  // cut like snprintf
  EXPECT_STREQ(b, "1.2");

  for (const char* t : {"1.5", "-0.25,", "3.4028235e38", "1e-46", "x"}) {
    char *e1 = nullptr, *e2 = nullptr;
    float a = otStrtof(t, &e1), c = strtof(t, &e2);
    EXPECT_EQ(e1, e2) << t;
    EXPECT_EQ(a, c) << t;
  }
}

// The library's readers of protocol numbers under a locale with a decimal comma, as a display
// client runs (Qt sets the user's locale): "1.5" is one and a half, not 1.
TEST(otNumber, ReadersKeepThePointUnderADecimalCommaLocale) {
  ottest::TempDir dir;
  ASSERT_EQ("", ottest::useDecimalCommaLocale(dir));
  otCallLine call;
  double f = 0;
  const char line[] = "setFloat(3,1.5)";
  int args = call.parse(line, (int)strlen(line));
  float values[3] = {0, 0, 0};
  int n = otInterpreter::parseFloatArray("0.25,\"-2.5\",1e-3", values, 3);
  float option = otFloatOption("-gain=2.75 -n=3", "-gain", 0);
  float daq = otDataAcquisitionImage::parseFloat("12.5");
  char check[8];
  snprintf(check, sizeof check, "%.1f", 1.5);
  setlocale(LC_NUMERIC, "C");
  EXPECT_STREQ("1,5", check);  // the locale does use a comma
  ASSERT_EQ(2, args);
  ASSERT_EQ(0, call.floatArg(1, &f));
  EXPECT_EQ(1.5, f);
  EXPECT_EQ(3, n);
  EXPECT_EQ((std::vector<float>{0.25f, -2.5f, 1e-3f}), std::vector<float>(values, values + 3));
  EXPECT_EQ(2.75f, option);
  EXPECT_EQ(12.5f, daq);
}

}  // namespace
