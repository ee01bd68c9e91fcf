#include "glsizes.h"

namespace glsize {

namespace {
// Constants of GL/glext.h that GL/gl.h does not have.
constexpr GLenum kHalfFloat = 0x140B;
constexpr GLenum kUnsignedInt248 = 0x84FA;
constexpr GLenum kDepthStencil = 0x84F9;
constexpr GLenum kPointDistanceAttenuation = 0x8129;

long long ceilDiv(long long a, long long b) {
  return (a + b - 1) / b;
}

// Products of unpack settings (each up to 2^31) and sizes can leave the range of long long:
// anything above kMaxBlock is as good as "too large".
constexpr long long kTooLarge = kMaxBlock + 1;
long long mul(long long a, long long b) {
  if (a <= 0 || b <= 0) return 0;
  return a > kTooLarge / b ? kTooLarge : a * b;
}
long long add(long long a, long long b) {
  return a + b > kTooLarge ? kTooLarge : a + b;
}

// Bytes of one pixel group: for packed types one value holds the whole group.
int groupBytes(GLenum format, GLenum type, int* elementBytes) {
  int n = formatComponents(format);
  if (n == 0) return 0;
  switch (type) {
    case GL_UNSIGNED_BYTE_3_3_2:
    case GL_UNSIGNED_BYTE_2_3_3_REV:
      *elementBytes = 1;
      return 1;
    case GL_UNSIGNED_SHORT_5_6_5:
    case GL_UNSIGNED_SHORT_5_6_5_REV:
    case GL_UNSIGNED_SHORT_4_4_4_4:
    case GL_UNSIGNED_SHORT_4_4_4_4_REV:
    case GL_UNSIGNED_SHORT_5_5_5_1:
    case GL_UNSIGNED_SHORT_1_5_5_5_REV:
      *elementBytes = 2;
      return 2;
    case GL_UNSIGNED_INT_8_8_8_8:
    case GL_UNSIGNED_INT_8_8_8_8_REV:
    case GL_UNSIGNED_INT_10_10_10_2:
    case GL_UNSIGNED_INT_2_10_10_10_REV:
    case kUnsignedInt248:
      *elementBytes = 4;
      return 4;
    case kHalfFloat:
      *elementBytes = 2;
      return 2 * n;
    default: {
      int s = typeBytes(type);
      if (s == 0 || type == GL_DOUBLE) return 0;  // GL_DOUBLE is no pixel type
      *elementBytes = s;
      return s * n;
    }
  }
}
}  // namespace

int applyPixelStore(Unpack& u, GLenum pname, long long v) {
  switch (pname) {
    case GL_UNPACK_ALIGNMENT:
      if (v != 1 && v != 2 && v != 4 && v != 8) return 0;  // GL refuses other values
      u.alignment = (int)v;
      return 1;
    case GL_UNPACK_ROW_LENGTH:
    case GL_UNPACK_SKIP_ROWS:
    case GL_UNPACK_SKIP_PIXELS:
    case GL_UNPACK_IMAGE_HEIGHT:
    case GL_UNPACK_SKIP_IMAGES:
      if (v < 0 || v > 0x7fffffff) return 0;
      break;
    default:
      return 0;
  }
  int value = (int)v;
  switch (pname) {
    case GL_UNPACK_ROW_LENGTH:
      u.rowLength = value;
      break;
    case GL_UNPACK_SKIP_ROWS:
      u.skipRows = value;
      break;
    case GL_UNPACK_SKIP_PIXELS:
      u.skipPixels = value;
      break;
    case GL_UNPACK_IMAGE_HEIGHT:
      u.imageHeight = value;
      break;
    default:
      u.skipImages = value;
      break;
  }
  return 1;
}

int typeBytes(GLenum type) {
  switch (type) {
    case GL_BYTE:
    case GL_UNSIGNED_BYTE:
      return 1;
    case GL_SHORT:
    case GL_UNSIGNED_SHORT:
    case GL_2_BYTES:
      return 2;
    case GL_3_BYTES:
      return 3;
    case GL_INT:
    case GL_UNSIGNED_INT:
    case GL_FLOAT:
    case GL_4_BYTES:
      return 4;
    case GL_DOUBLE:
      return 8;
    default:
      return 0;
  }
}

int formatComponents(GLenum format) {
  switch (format) {
    case GL_COLOR_INDEX:
    case GL_STENCIL_INDEX:
    case GL_DEPTH_COMPONENT:
    case GL_RED:
    case GL_GREEN:
    case GL_BLUE:
    case GL_ALPHA:
    case GL_LUMINANCE:
    case kDepthStencil:
      return 1;
    case GL_LUMINANCE_ALPHA:
      return 2;
    case GL_RGB:
    case GL_BGR:
      return 3;
    case GL_RGBA:
    case GL_BGRA:
      return 4;
    default:
      return 0;
  }
}

long long imageBytes(const Unpack& u, int dims, long long w, long long h, long long d,
                     GLenum format, GLenum type) {
  if (w <= 0 || h <= 0 || d <= 0) return 0;
  // Sizes beyond this are refused by every GL; the bound keeps the products below in range.
  if (w > 65536 || h > 65536 || d > 65536) return 0;
  long long a = u.alignment;
  long long l = u.rowLength > 0 ? u.rowLength : w;
  long long rowBytes, lastRow;
  if (type == GL_BITMAP) {
    if (format != GL_COLOR_INDEX && format != GL_STENCIL_INDEX) return 0;
    rowBytes = a * ceilDiv(l, 8 * a);
    lastRow = ceilDiv(u.skipPixels + w, 8);
  } else {
    int s = 0;
    long long group = groupBytes(format, type, &s);
    if (group == 0) return 0;
    rowBytes = s >= a ? mul(group, l) : mul(a, ceilDiv(mul(group, l), a));
    lastRow = mul(u.skipPixels + w, group);
  }
  long long skipRows = dims >= 2 ? u.skipRows : 0;
  long long total = add(mul(skipRows + h - 1, rowBytes), lastRow);
  if (dims == 3) {
    long long rows = u.imageHeight > 0 ? u.imageHeight : h;
    total = add(total, mul(u.skipImages + d - 1, mul(rows, rowBytes)));
  }
  return total;
}

long long bitmapBytes(const Unpack& u, long long w, long long h) {
  return imageBytes(u, 2, w, h, 1, GL_COLOR_INDEX, GL_BITMAP);
}

long long callListsBytes(long long n, GLenum type) {
  if (n <= 0 || n > kMaxBlock) return 0;
  int s = type == GL_DOUBLE ? 0 : typeBytes(type);
  return n * s;
}

int mapComponents(GLenum target) {
  switch (target) {
    case GL_MAP1_INDEX:
    case GL_MAP2_INDEX:
    case GL_MAP1_TEXTURE_COORD_1:
    case GL_MAP2_TEXTURE_COORD_1:
      return 1;
    case GL_MAP1_TEXTURE_COORD_2:
    case GL_MAP2_TEXTURE_COORD_2:
      return 2;
    case GL_MAP1_VERTEX_3:
    case GL_MAP2_VERTEX_3:
    case GL_MAP1_NORMAL:
    case GL_MAP2_NORMAL:
    case GL_MAP1_TEXTURE_COORD_3:
    case GL_MAP2_TEXTURE_COORD_3:
      return 3;
    case GL_MAP1_VERTEX_4:
    case GL_MAP2_VERTEX_4:
    case GL_MAP1_COLOR_4:
    case GL_MAP2_COLOR_4:
    case GL_MAP1_TEXTURE_COORD_4:
    case GL_MAP2_TEXTURE_COORD_4:
      return 4;
    default:
      return 0;
  }
}

long long map1Elements(GLenum target, long long stride, long long order) {
  long long k = mapComponents(target);
  // GL refuses a stride below the point size and an order below 1 (and above its maximum).
  if (k == 0 || stride < k || order < 1 || order > 1024 || stride > (1 << 20)) return 0;
  return (order - 1) * stride + k;
}

long long map2Elements(GLenum target, long long ustride, long long uorder, long long vstride,
                       long long vorder) {
  long long k = mapComponents(target);
  if (k == 0 || ustride < k || vstride < k || uorder < 1 || vorder < 1 || uorder > 1024 ||
      vorder > 1024 || ustride > (1 << 20) || vstride > (1 << 20))
    return 0;
  return (uorder - 1) * ustride + (vorder - 1) * vstride + k;
}

int lightValues(GLenum pname) {
  switch (pname) {
    case GL_AMBIENT:
    case GL_DIFFUSE:
    case GL_SPECULAR:
    case GL_POSITION:
      return 4;
    case GL_SPOT_DIRECTION:
      return 3;
    default:
      return 1;
  }
}

int materialValues(GLenum pname) {
  switch (pname) {
    case GL_AMBIENT:
    case GL_DIFFUSE:
    case GL_SPECULAR:
    case GL_EMISSION:
    case GL_AMBIENT_AND_DIFFUSE:
      return 4;
    case GL_COLOR_INDEXES:
      return 3;
    default:
      return 1;
  }
}

int lightModelValues(GLenum pname) {
  return pname == GL_LIGHT_MODEL_AMBIENT ? 4 : 1;
}
int fogValues(GLenum pname) {
  return pname == GL_FOG_COLOR ? 4 : 1;
}
int texEnvValues(GLenum pname) {
  return pname == GL_TEXTURE_ENV_COLOR ? 4 : 1;
}
int texGenValues(GLenum pname) {
  return pname == GL_OBJECT_PLANE || pname == GL_EYE_PLANE ? 4 : 1;
}
int texParameterValues(GLenum pname) {
  return pname == GL_TEXTURE_BORDER_COLOR ? 4 : 1;
}
int convolutionValues(GLenum pname) {
  return pname == GL_CONVOLUTION_BORDER_COLOR || pname == GL_CONVOLUTION_FILTER_SCALE ||
                 pname == GL_CONVOLUTION_FILTER_BIAS
             ? 4
             : 1;
}
int pointParameterValues(GLenum pname) {
  return pname == kPointDistanceAttenuation ? 3 : 1;
}

}  // namespace glsize
