// Inside the encoder: sending lines and blocks on the current connection, and the client state
// (unpack parameters, vertex arrays) that decides what a block holds.
#ifndef GLENCODE_P_H
#define GLENCODE_P_H

#include "glsizes.h"
#include "hxglencode.h"

namespace glenc {

// Printf arguments: every integer GL type as int (unsigned ones as their 32-bit pattern), both
// floating-point types as double.
inline int a(signed char v) {
  return v;
}
inline int a(unsigned char v) {
  return v;
}
inline int a(short v) {
  return v;
}
inline int a(unsigned short v) {
  return v;
}
inline int a(int v) {
  return v;
}
inline int a(unsigned int v) {
  return (int)v;
}
inline double a(float v) {
  return v;
}
inline double a(double v) {
  return v;
}

// Keeps a line and its blocks together on the connection.
class Hold {
 public:
  Hold();
  ~Hold();
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  PARAM_* p_;
};

// Sends one line, whole whatever its length.
void line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Sends bytes as they stand (lines and blocks made elsewhere).
void sendRaw(const char* bytes, size_t n);
// Sends "glbytes(n)\n" and the n bytes; an empty block for a null data, n <= 0, or n above
// glsize::kMaxBlock.
void block(const void* data, long long n);

// The unpack state the server has set so far.
glsize::Unpack& unpack();
// Sends the image data of a pixel call as one block.
void imageBlock(int dims, long long w, long long h, long long d, GLenum format, GLenum type,
                const void* pixels);

// Client-side vertex arrays.
enum ArrayKind { kVertex, kNormal, kColor, kIndex, kEdgeFlag, kTexCoord };
void setPointer(ArrayKind kind, int size, GLenum type, int stride, const void* pointer);
void setClientState(GLenum array, bool enabled);
void setClientActiveTexture(GLenum unit);
void pushClientAttrib(GLbitfield mask);
void popClientAttrib();
// Sends every enabled array with elements 0..maxIndex (nothing for maxIndex < 0).
void sendArrays(long long maxIndex);
// Sends element i of every enabled array as immediate-mode calls.
void arrayElement(long long i);
// The highest index of count indices of type (-1 for none or an unknown type).
long long maxIndex(long long count, GLenum type, const void* indices);

}  // namespace glenc

#endif
