// How many bytes OpenGL reads from a caller's array, computed from the call's arguments and the
// unpack state: pure functions, shared by the encoder and by anything that must agree with it
// (a decoder can check that a block is large enough before it hands it to GL).
#ifndef GLSIZES_H
#define GLSIZES_H

#include <GL/gl.h>

namespace glsize {

// Blocks above this are not sent (an empty block instead): no display client could hold them.
constexpr long long kMaxBlock = 1LL << 30;

// The unpack parameters of glPixelStore that change how much of an image GL reads.
struct Unpack {
  int alignment = 4;
  int rowLength = 0;
  int skipRows = 0;
  int skipPixels = 0;
  int imageHeight = 0;
  int skipImages = 0;
};
// Applies glPixelStore(pname, value) to u when it is a valid unpack setting; 1 when applied.
int applyPixelStore(Unpack& u, GLenum pname, long long value);

// Bytes of one element of an index, list-name or vertex-array type; 0 for an unknown type.
int typeBytes(GLenum type);
// Values of a pixel format (GL_RGB: 3); 0 for an unknown format.
int formatComponents(GLenum format);

// Bytes GL reads for a width x height x depth image of format/type under u, from the caller's
// pointer to the last byte of the last pixel (skips included, the padding after the last row
// not). dims is 1, 2 or 3: skip rows apply from 2, image height and skip images at 3. 0 for an
// empty image or arguments GL refuses (negative sizes, unknown format or type).
long long imageBytes(const Unpack& u, int dims, long long width, long long height, long long depth,
                     GLenum format, GLenum type);
// glBitmap and glPolygonStipple: a 1-bit image.
long long bitmapBytes(const Unpack& u, long long width, long long height);
// glCallLists: n names of type (GL_2_BYTES .. GL_4_BYTES included).
long long callListsBytes(long long n, GLenum type);
// Values of one control point of an evaluator map target (GL_MAP1_VERTEX_3: 3); 0 unknown.
int mapComponents(GLenum target);
// Elements of a glMap1/glMap2 control point array: the highest element GL reads plus one.
long long map1Elements(GLenum target, long long stride, long long order);
long long map2Elements(GLenum target, long long ustride, long long uorder, long long vstride,
                       long long vorder);
// Values GL reads from the params vector of glLightfv/iv, glMaterialfv/iv, glLightModelfv/iv,
// glFogfv/iv, glTexEnvfv/iv, glTexGen*v, glTexParameter*v, glConvolutionParameter*v and
// glPointParameterfvEXT for pname (1 to 4).
int lightValues(GLenum pname);
int materialValues(GLenum pname);
int lightModelValues(GLenum pname);
int fogValues(GLenum pname);
int texEnvValues(GLenum pname);
int texGenValues(GLenum pname);
int texParameterValues(GLenum pname);
int convolutionValues(GLenum pname);
int pointParameterValues(GLenum pname);

}  // namespace glsize

#endif
