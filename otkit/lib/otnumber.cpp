#include "otnumber.h"

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

locale_t otCLocale() {
  static locale_t c = newlocale(LC_ALL_MASK, "C", (locale_t)0);
  return c;
}

otCNumberScope::otCNumberScope() : old_(otCLocale() ? uselocale(otCLocale()) : (locale_t)0) {}

otCNumberScope::~otCNumberScope() {
  if (old_) uselocale(old_);
}

float otStrtof(const char* s, char** end) {
  locale_t c = otCLocale();
  return c != (locale_t)0 ? strtof_l(s, end, c) : strtof(s, end);
}

int otFormatWith(char* buf, int size, const char* format, double v) {
  if (buf == nullptr || size < 1) return -1;
  otCNumberScope c;
  if (!c.ok()) return -1;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  return snprintf(buf, (size_t)size, format, v);
#pragma GCC diagnostic pop
}

int otFormatShortest(char* buf, int size, double v) {
  if (buf == nullptr || size < 1) return -1;
  otCNumberScope c;
  if (!c.ok()) return -1;
  int n = -1;
  for (int digits = 15; digits <= 17; digits++) {
    n = snprintf(buf, (size_t)size, "%.*g", digits, v);
    if (n < 0 || n >= size || otStrtod(buf, nullptr) == v) break;
  }
  return n;
}

namespace {

__extension__ typedef unsigned __int128 u128;

// The slow road for what the exact integer one below does not cover (infinities, NaNs,
// magnitudes of 2^63 and more).
int formatInC(char* buf, int size, double v) {
  locale_t c = otCLocale();
  if (c == (locale_t)0) return -1;
  locale_t old = uselocale(c);
  int n = snprintf(buf, (size_t)size, "%f", v);
  uselocale(old);
  return n;
}

}  // namespace

int otFormatFixed(char* buf, int size, double v) {
  if (buf == nullptr || size < 1) return -1;
  double a = fabs(v);
  if (!(a < 0x1p63)) return formatInC(buf, size, v);
  // a is m * 2^e exactly. a * 10^6 rounded half to even, as printf rounds in the default
  // rounding mode, is computed in integers: no tie or carry is lost to binary rounding.
  uint64_t whole, frac;
  if (a >= 0x1p52) {
    whole = (uint64_t)a;  // a has no fraction here
    frac = 0;
  } else {
    // The bits of a give m and e directly (a subnormal has no hidden bit and e = -1074).
    uint64_t bits;
    memcpy(&bits, &a, sizeof bits);
    int biased = (int)(bits >> 52);
    uint64_t m = bits & ((1ull << 52) - 1);
    if (biased != 0) m |= 1ull << 52;
    int shift = 1075 - (biased != 0 ? biased : 1);  // at least 1, since a < 2^52
    if (m != 0) {  // the same value with the mantissa's trailing zero bits dropped
      int zeros = __builtin_ctzll(m);
      m >>= zeros;
      shift -= zeros;
    }
    if (m == 0) {
      whole = frac = 0;
    } else if (shift <= 0) {  // an integer below 2^52
      whole = m << -shift;
      frac = 0;
    } else if (m < (1ull << 44) && shift < 64) {
      // Coordinates are mostly floats (24 significant bits): m * 10^6 fits in 64 bits.
      uint64_t n = m * 1000000u;
      uint64_t rest = n & ((1ull << shift) - 1), half = 1ull << (shift - 1);
      uint64_t q = n >> shift;
      if (rest > half || (rest == half && (q & 1) != 0)) q++;
      whole = q / 1000000u;
      frac = q % 1000000u;
    } else {
      u128 n = (u128)m * 1000000u;
      u128 q = 0;
      if (shift < 120) {  // beyond, n (below 2^73) is less than half a unit: q stays 0
        u128 one = (u128)1 << shift;
        u128 rest = n & (one - 1), half = one >> 1;
        q = n >> shift;
        if (rest > half || (rest == half && (q & 1) != 0)) q++;
      }
      if ((uint64_t)(q >> 64) == 0) {  // no 128-bit division
        whole = (uint64_t)q / 1000000u;
        frac = (uint64_t)q % 1000000u;
      } else {
        whole = (uint64_t)(q / 1000000u);
        frac = (uint64_t)(q % 1000000u);
      }
    }
  }
  char text[40];
  char* end = text + sizeof text;
  char* p = end;
  // Two digits at a time: long coordinate lists spend their time here.
  static const char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  // The three pairs of the fraction do not wait for each other.
  const uint32_t f = (uint32_t)frac, high = f / 10000, low = f % 10000;
  p -= 6;
  memcpy(p, kPairs + 2 * high, 2);
  memcpy(p + 2, kPairs + 2 * (low / 100), 2);
  memcpy(p + 4, kPairs + 2 * (low % 100), 2);
  *--p = '.';
  while (whole >= 100) {
    p -= 2;
    memcpy(p, kPairs + 2 * (whole % 100), 2);
    whole /= 100;
  }
  if (whole >= 10) {
    p -= 2;
    memcpy(p, kPairs + 2 * whole, 2);
  } else {
    *--p = (char)('0' + whole);
  }
  if (signbit(v)) *--p = '-';
  int n = (int)(end - p);
  int copy = n < size ? n : size - 1;
  memcpy(buf, p, (size_t)copy);
  buf[copy] = '\0';
  return n;
}

double otStrtod(const char* s, char** end) {
  // Up to 19 digits without an exponent make an integer m exactly; when m is below
  // 2^53 and the fraction has at most 22 digits, m / 10^k is one correctly rounded division of
  // two exact doubles, which is the value strtod gives. Everything else goes to strtod.
  static const double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const char* p = s;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
    p++;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  // At most 19 digits in all (leading zeros included) cannot overflow m; longer numbers are
  // rare in text streams and take the slow road.
  uint64_t m = 0;
  int digits = 0, fractionDigits = 0;
  for (; (unsigned)(*p - '0') < 10u; p++, digits++)
    m = m * 10 + (uint64_t)(*p - '0');
  if (*p == '.') {
    for (p++; (unsigned)(*p - '0') < 10u; p++, fractionDigits++)
      m = m * 10 + (uint64_t)(*p - '0');
    digits += fractionDigits;
  }
  if (digits == 0 || digits > 19 || *p == 'e' || *p == 'E' || *p == 'x' || *p == 'X' ||
      m > (1ull << 53) || fractionDigits > 22)
    goto slow;
  if (end != nullptr) *end = (char*)p;
  {
    double v = (double)m / kPow10[fractionDigits];
    return negative ? -v : v;
  }
slow:
  locale_t c = otCLocale();
  return c != (locale_t)0 ? strtod_l(s, end, c) : strtod(s, end);
}

std::string otHexBytes(const void* data, size_t len, bool colons) {
  const char* digits = colons ? "0123456789ABCDEF" : "0123456789abcdef";
  const unsigned char* p = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve(len * 3);
  for (size_t i = 0; i < len; i++) {
    if (colons && i > 0) out += ':';
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}
