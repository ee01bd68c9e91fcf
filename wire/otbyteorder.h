// Byte-order and range helpers: the byte order of the PLCs' fields, shared by the device
// clients, the daemon runtime, the PPI library and its simulator.
#ifndef OTWIRE_OTBYTEORDER_H
#define OTWIRE_OTBYTEORDER_H

#include <stdint.h>
#include <string.h>

namespace otbyteorder {

inline bool isByte(long value) {
  return value >= 0 && value <= 0xFF;
}
inline bool isWord(long value) {
  return value >= 0 && value <= 0xFFFF;
}

// A 16-bit field, high byte first.
inline void put16(unsigned char* out, int value) {
  out[0] = (unsigned char)((value >> 8) & 0xFF);
  out[1] = (unsigned char)(value & 0xFF);
}

// A 16-bit field, high byte first, read back.
inline int get16(const unsigned char* in) {
  return (in[0] << 8) | in[1];
}

// An n-byte field (n at most 8), most significant byte first.
inline void putBig(unsigned char* out, unsigned long long value, int n) {
  for (int i = n - 1; i >= 0; i--) {
    out[i] = (unsigned char)value;
    value >>= 8;
  }
}

// An n-byte field, most significant byte first, read back.
inline unsigned long long getBig(const unsigned char* in, int n) {
  unsigned long long v = 0;
  for (int i = 0; i < n; i++)
    v = (v << 8) | in[i];
  return v;
}

// Stores the width (2 or 4) bytes of the native value at in: most significant first for swap
// 1, else in the host's order.
inline void storeValue(unsigned char* out, const unsigned char* in, int width, int swap) {
  if (swap != 1) {
    memcpy(out, in, (size_t)width);
    return;
  }
  uint32_t v;
  if (width == 4) {
    memcpy(&v, in, 4);
  } else {
    uint16_t s;
    memcpy(&s, in, 2);
    v = s;
  }
  for (int i = 0; i < width; i++)
    out[i] = (unsigned char)(v >> (8 * (width - 1 - i)));
}

// Reads the width bytes of value index of buffer back the same way; false if they do not lie
// within size bytes.
inline bool loadValue(const unsigned char* buffer, int size, int index, int width, int swap,
                      uint32_t* value) {
  if (index < 0 || index > (size - width) / width) return false;
  const unsigned char* in = buffer + index * width;
  if (swap == 1) {
    uint32_t v = 0;
    for (int i = 0; i < width; i++)
      v = (v << 8) | in[i];
    *value = v;
  } else if (width == 4) {
    memcpy(value, in, 4);
  } else {
    uint16_t s;
    memcpy(&s, in, 2);
    *value = s;
  }
  return true;
}

}  // namespace otbyteorder

#endif
