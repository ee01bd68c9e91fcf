// The GL command stream decoder of HxGLWidget: one handler per command name of the stream's
// vocabulary, found by the name before "(" (so names that share a prefix never mix). The
// arguments are read as numbers, whatever their count beyond what the command needs; integer
// values travel as their 32-bit pattern, so unsigned ones arrive negative and are taken back.
// GL entry points are looked up by name on the current context (the stream has OpenGL 1.2 and
// extension calls that a plain link against libGL does not offer everywhere).
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <float.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <QCursor>
#include <QGuiApplication>
#include <cstdint>
#include <new>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "hxglwidget.h"
#include "hxglwidget_p.h"
#include "otlog.h"
#include "otnumber.h"
#include "tcputil.h"

namespace {

HxGLResolver resolver = nullptr;

// The most values a line carries (glMap2d: 9; rebuilt vectors: 6).
constexpr int kMaxArgs = 16;
// glGenTextures answers with at most this many names (the encoder takes fewer than it asked).
constexpr int kMaxTextureNames = 16384;

using Handler = int (*)(HxGLDecoder& d, const double* a, int n);
struct Entry {
  int minArgs;
  Handler handler;
};
std::unordered_map<std::string, Entry>& table() {
  static std::unordered_map<std::string, Entry> t;
  return t;
}
struct Reg {
  Reg(const char* name, int minArgs, Handler h) { table()[name] = Entry{minArgs, h}; }
};

// A value as the 32-bit pattern of a GL integer type (out of range: clamped).
uint32_t bits(double v) {
  if (!(v == v)) return 0;
  if (v <= -2147483648.0) return 0x80000000u;
  if (v >= 4294967295.0) return 0xffffffffu;
  long long i = (long long)v;
  return (uint32_t)i;
}
template <typename T>
T cv(double v) {
  if constexpr (std::is_floating_point<T>::value) {
    if (std::is_same<T, float>::value && (v > FLT_MAX || v < -FLT_MAX))
      return v > 0 ? (T)FLT_MAX : (T)-FLT_MAX;
    return static_cast<T>(v);
  } else {
    return static_cast<T>(bits(v));
  }
}
int ci(double v) {
  return cv<GLint>(v);
}
long long cl(double v) {
  return (long long)cv<GLint>(v);
}

// Reads the comma-separated numbers after "name(" up to ")" or the first that is no number.
int parseArgs(const char* p, double* out, int max) {
  int n = 0;
  while (n < max) {
    while (*p == ' ' || *p == '\t')
      p++;
    if (*p == ')' || *p == '\0') break;
    char* end = nullptr;
    double v = otStrtod(p, &end);  // the C form, whatever the client's locale
    if (end == p) break;
    out[n++] = v;
    p = end;
    while (*p == ' ' || *p == '\t')
      p++;
    if (*p != ',') break;
    p++;
  }
  return n;
}

// The GL entry point Name on the current context, looked up once (GLX entry points do not
// depend on the context); null when the implementation lacks it.
#define GLFN(Name)                                                                         \
  ([]() {                                                                                  \
    static const auto fn_ = reinterpret_cast<decltype(&::Name)>(HxGLDecoder::proc(#Name)); \
    return fn_;                                                                            \
  }())
// Calls Name when the context is live and has it.
#define CALL(Name, ...)        \
  do {                         \
    if (d.live()) {            \
      auto f_ = GLFN(Name);    \
      if (f_) f_(__VA_ARGS__); \
    }                          \
  } while (0)

#define CALL0(Name)         \
  do {                      \
    if (d.live()) {         \
      auto f_ = GLFN(Name); \
      if (f_) f_();         \
    }                       \
  } while (0)

// A handler that needs Min values; lines with fewer are skipped.
#define HANDLER(Id, Name, Min)                                                  \
  int h_##Id(HxGLDecoder& d [[maybe_unused]], const double* a [[maybe_unused]], \
             int n [[maybe_unused]]);                                           \
  int g_##Id(HxGLDecoder& d, const double* a, int n) {                          \
    return n < (Min) ? 0 : h_##Id(d, a, n);                                     \
  }                                                                             \
  const Reg r_##Id(Name, Min, &g_##Id);                                         \
  int h_##Id(HxGLDecoder& d [[maybe_unused]], const double* a [[maybe_unused]], \
             int n [[maybe_unused]])
// A handler with blocks: it reads them whatever the values, so it is always called.
#define BLOCKS(Id, Name)                                                        \
  int h_##Id(HxGLDecoder& d [[maybe_unused]], const double* a [[maybe_unused]], \
             int n [[maybe_unused]]);                                           \
  const Reg r_##Id(Name, 0, &h_##Id);                                           \
  int h_##Id(HxGLDecoder& d [[maybe_unused]], const double* a [[maybe_unused]], \
             int n [[maybe_unused]])

// ---- Plain calls: Cn(Name, the types of its n parameters) ----------------------------------
#define C0(N)         \
  HANDLER(N, #N, 0) { \
    CALL0(N);         \
    return 0;         \
  }
#define C1(N, A)          \
  HANDLER(N, #N, 1) {     \
    CALL(N, cv<A>(a[0])); \
    return 0;             \
  }
#define C2(N, A, B)                    \
  HANDLER(N, #N, 2) {                  \
    CALL(N, cv<A>(a[0]), cv<B>(a[1])); \
    return 0;                          \
  }
#define C3(N, A, B, C)                              \
  HANDLER(N, #N, 3) {                               \
    CALL(N, cv<A>(a[0]), cv<B>(a[1]), cv<C>(a[2])); \
    return 0;                                       \
  }
#define C4(N, A, B, C, D)                                        \
  HANDLER(N, #N, 4) {                                            \
    CALL(N, cv<A>(a[0]), cv<B>(a[1]), cv<C>(a[2]), cv<D>(a[3])); \
    return 0;                                                    \
  }
#define C5(N, A, B, C, D, E)                                                  \
  HANDLER(N, #N, 5) {                                                         \
    CALL(N, cv<A>(a[0]), cv<B>(a[1]), cv<C>(a[2]), cv<D>(a[3]), cv<E>(a[4])); \
    return 0;                                                                 \
  }
#define C6(N, A, B, C, D, E, F)                                                            \
  HANDLER(N, #N, 6) {                                                                      \
    CALL(N, cv<A>(a[0]), cv<B>(a[1]), cv<C>(a[2]), cv<D>(a[3]), cv<E>(a[4]), cv<F>(a[5])); \
    return 0;                                                                              \
  }
#define C7(N, A, B, C, D, E, F, G)                                                        \
  HANDLER(N, #N, 7) {                                                                     \
    CALL(N, cv<A>(a[0]), cv<B>(a[1]), cv<C>(a[2]), cv<D>(a[3]), cv<E>(a[4]), cv<F>(a[5]), \
         cv<G>(a[6]));                                                                    \
    return 0;                                                                             \
  }
#define C8(N, A, B, C, D, E, F, G, H)                                                     \
  HANDLER(N, #N, 8) {                                                                     \
    CALL(N, cv<A>(a[0]), cv<B>(a[1]), cv<C>(a[2]), cv<D>(a[3]), cv<E>(a[4]), cv<F>(a[5]), \
         cv<G>(a[6]), cv<H>(a[7]));                                                       \
    return 0;                                                                             \
  }
#define C9(N, A, B, C, D, E, F, G, H, I)                                                  \
  HANDLER(N, #N, 9) {                                                                     \
    CALL(N, cv<A>(a[0]), cv<B>(a[1]), cv<C>(a[2]), cv<D>(a[3]), cv<E>(a[4]), cv<F>(a[5]), \
         cv<G>(a[6]), cv<H>(a[7]), cv<I>(a[8]));                                          \
    return 0;                                                                             \
  }

// ---- Vector families: glName{k}{t}(x, ...) and glName{k}{t}v(v) with the values inline ------
#define VEC(Name, T, K)            \
  HANDLER(Name##v, #Name "v", K) { \
    T v[4] = {0, 0, 0, 0};         \
    for (int i = 0; i < (K); i++)  \
      v[i] = cv<T>(a[i]);          \
    CALL(Name##v, v);              \
    return 0;                      \
  }
#define VEC1(Name, T, F) \
  C1(Name, T)            \
  VEC(Name, T, 1)
#define VEC2(Name, T, F) \
  C2(Name, T, T)         \
  VEC(Name, T, 2)
#define VEC3(Name, T, F) \
  C3(Name, T, T, T)      \
  VEC(Name, T, 3)
#define VEC4(Name, T, F) \
  C4(Name, T, T, T, T)   \
  VEC(Name, T, 4)
#define MTCV(N, T, K)                                                       \
  HANDLER(glMultiTexCoord##N##vARB, "glMultiTexCoord" #N "vARB", (K) + 1) { \
    T v[4] = {0, 0, 0, 0};                                                  \
    for (int i = 0; i < (K); i++)                                           \
      v[i] = cv<T>(a[i + 1]);                                               \
    CALL(glMultiTexCoord##N##vARB, cv<GLenum>(a[0]), v);                    \
    return 0;                                                               \
  }
#define MTC1(N, T, F)                    \
  C2(glMultiTexCoord##N##ARB, GLenum, T) \
  MTCV(N, T, 1)
#define MTC2(N, T, F)                       \
  C3(glMultiTexCoord##N##ARB, GLenum, T, T) \
  MTCV(N, T, 2)
#define MTC3(N, T, F)                          \
  C4(glMultiTexCoord##N##ARB, GLenum, T, T, T) \
  MTCV(N, T, 3)
#define MTC4(N, T, F)                             \
  C5(glMultiTexCoord##N##ARB, GLenum, T, T, T, T) \
  MTCV(N, T, 4)
#define RECT(Name, T, F)                  \
  C4(Name, T, T, T, T)                    \
  HANDLER(Name##v, #Name "v", 4) {        \
    T v1[2] = {cv<T>(a[0]), cv<T>(a[1])}; \
    T v2[2] = {cv<T>(a[2]), cv<T>(a[3])}; \
    CALL(Name##v, v1, v2);                \
    return 0;                             \
  }
// Parameter vectors (target, pname, values): one to four values arrive, GL reads those pname
// needs; missing ones are 0.
#define PARAMV(Name, T, F, Count, Values)              \
  HANDLER(Name, #Name, 3) {                            \
    T v[4] = {0, 0, 0, 0};                             \
    for (int i = 0; i < 4 && i + 2 < n; i++)           \
      v[i] = cv<T>(a[i + 2]);                          \
    CALL(Name, cv<GLenum>(a[0]), cv<GLenum>(a[1]), v); \
    return 0;                                          \
  }
// The same without a target (glLightModel, glFog, glPointParameter).
#define PARAMV1(Name, T)                     \
  HANDLER(Name, #Name, 2) {                  \
    T v[4] = {0, 0, 0, 0};                   \
    for (int i = 0; i < 4 && i + 1 < n; i++) \
      v[i] = cv<T>(a[i + 1]);                \
    CALL(Name, cv<GLenum>(a[0]), v);         \
    return 0;                                \
  }

// ---- The vocabulary ---------------------------------------------------------------------------
#include "glvectorcalls.h"
PARAMV1(glLightModelfv, GLfloat)
PARAMV1(glLightModeliv, GLint)
PARAMV1(glFogfv, GLfloat)
PARAMV1(glFogiv, GLint)
PARAMV1(glPointParameterfvEXT, GLfloat)
HANDLER(glEdgeFlagv, "glEdgeFlagv", 1) {
  GLboolean v = cv<GLboolean>(a[0]);
  CALL(glEdgeFlagv, &v);
  return 0;
}
HANDLER(glClipPlane, "glClipPlane", 5) {
  GLdouble e[4] = {a[1], a[2], a[3], a[4]};
  CALL(glClipPlane, cv<GLenum>(a[0]), e);
  return 0;
}

C2(glAccum, GLenum, GLfloat)
C1(glActiveTextureARB, GLenum)
C2(glAlphaFunc, GLenum, GLclampf)
C1(glBegin, GLenum)
C2(glBindTexture, GLenum, GLuint)
C2(glBindTextureEXT, GLenum, GLuint)
C4(glBlendColor, GLclampf, GLclampf, GLclampf, GLclampf)
C4(glBlendColorEXT, GLfloat, GLfloat, GLfloat, GLfloat)
C1(glBlendEquation, GLenum)
C1(glBlendEquationEXT, GLenum)
C2(glBlendFunc, GLenum, GLenum)
C4(glBlendFuncSeparateINGR, GLenum, GLenum, GLenum, GLenum)
C1(glCallList, GLuint)
C1(glClear, GLbitfield)
C4(glClearAccum, GLfloat, GLfloat, GLfloat, GLfloat)
C4(glClearColor, GLclampf, GLclampf, GLclampf, GLclampf)
C1(glClearDepth, GLclampd)
C1(glClearIndex, GLfloat)
C1(glClearStencil, GLint)
C4(glColorMask, GLboolean, GLboolean, GLboolean, GLboolean)
C2(glColorMaterial, GLenum, GLenum)
C3(glConvolutionParameterf, GLenum, GLenum, GLfloat)
C3(glConvolutionParameteri, GLenum, GLenum, GLint)
C5(glCopyColorSubTable, GLenum, GLsizei, GLint, GLint, GLsizei)
C5(glCopyColorTable, GLenum, GLenum, GLint, GLint, GLsizei)
C5(glCopyConvolutionFilter1D, GLenum, GLenum, GLint, GLint, GLsizei)
C6(glCopyConvolutionFilter2D, GLenum, GLenum, GLint, GLint, GLsizei, GLsizei)
C5(glCopyPixels, GLint, GLint, GLsizei, GLsizei, GLenum)
C7(glCopyTexImage1D, GLenum, GLint, GLenum, GLint, GLint, GLsizei, GLint)
C8(glCopyTexImage2D, GLenum, GLint, GLenum, GLint, GLint, GLsizei, GLsizei, GLint)
C6(glCopyTexSubImage1D, GLenum, GLint, GLint, GLint, GLint, GLsizei)
C8(glCopyTexSubImage2D, GLenum, GLint, GLint, GLint, GLint, GLint, GLsizei, GLsizei)
C9(glCopyTexSubImage3D, GLenum, GLint, GLint, GLint, GLint, GLint, GLint, GLsizei, GLsizei)
C9(glCopyTexSubImage3DEXT, GLenum, GLint, GLint, GLint, GLint, GLint, GLint, GLsizei, GLsizei)
C1(glCullFace, GLenum)
C2(glDeleteLists, GLuint, GLsizei)
C1(glDepthFunc, GLenum)
C1(glDepthMask, GLboolean)
C2(glDepthRange, GLclampd, GLclampd)
C1(glDisable, GLenum)
C1(glDrawBuffer, GLenum)
C1(glEdgeFlag, GLboolean)
C1(glEnable, GLenum)
C0(glEnd)
C3(glEvalMesh1, GLenum, GLint, GLint)
C5(glEvalMesh2, GLenum, GLint, GLint, GLint, GLint)
C1(glEvalPoint1, GLint)
C2(glEvalPoint2, GLint, GLint)
C0(glFinish)
C0(glFlush)
C2(glFogf, GLenum, GLfloat)
C2(glFogi, GLenum, GLint)
C1(glFrontFace, GLenum)
C6(glFrustum, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble)
C2(glHint, GLenum, GLenum)
C2(glHintPGI, GLenum, GLint)
C4(glHistogram, GLenum, GLsizei, GLenum, GLboolean)
C1(glIndexMask, GLuint)
C0(glInitNames)
C2(glLightModelf, GLenum, GLfloat)
C2(glLightModeli, GLenum, GLint)
C3(glLightf, GLenum, GLenum, GLfloat)
C3(glLighti, GLenum, GLenum, GLint)
C2(glLineStipple, GLint, GLushort)
C1(glLineWidth, GLfloat)
C1(glListBase, GLuint)
C0(glLoadIdentity)
C1(glLoadName, GLuint)
C1(glLogicOp, GLenum)
C3(glMapGrid1d, GLint, GLdouble, GLdouble)
C3(glMapGrid1f, GLint, GLfloat, GLfloat)
C6(glMapGrid2d, GLint, GLdouble, GLdouble, GLint, GLdouble, GLdouble)
C6(glMapGrid2f, GLint, GLfloat, GLfloat, GLint, GLfloat, GLfloat)
C3(glMaterialf, GLenum, GLenum, GLfloat)
C3(glMateriali, GLenum, GLenum, GLint)
C1(glMatrixMode, GLenum)
C3(glMinmax, GLenum, GLenum, GLboolean)
C6(glOrtho, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble, GLdouble)
C1(glPassThrough, GLfloat)
C2(glPixelTransferf, GLenum, GLfloat)
C2(glPixelTransferi, GLenum, GLint)
C2(glPixelZoom, GLfloat, GLfloat)
C2(glPointParameterfEXT, GLenum, GLfloat)
C1(glPointSize, GLfloat)
C2(glPolygonMode, GLenum, GLenum)
C2(glPolygonOffset, GLfloat, GLfloat)
C2(glPolygonOffsetEXT, GLfloat, GLfloat)
C0(glPopAttrib)
C0(glPopMatrix)
C0(glPopName)
C1(glPushAttrib, GLbitfield)
C0(glPushMatrix)
C1(glPushName, GLuint)
C1(glReadBuffer, GLenum)
C1(glResetHistogram, GLenum)
C1(glResetMinmax, GLenum)
C0(glResizeBuffersMESA)
C4(glRotated, GLdouble, GLdouble, GLdouble, GLdouble)
C4(glRotatef, GLfloat, GLfloat, GLfloat, GLfloat)
C3(glScaled, GLdouble, GLdouble, GLdouble)
C3(glScalef, GLfloat, GLfloat, GLfloat)
C4(glScissor, GLint, GLint, GLsizei, GLsizei)
C1(glShadeModel, GLenum)
C3(glStencilFunc, GLenum, GLint, GLuint)
C1(glStencilMask, GLuint)
C3(glStencilOp, GLenum, GLenum, GLenum)
C3(glTexEnvf, GLenum, GLenum, GLfloat)
C3(glTexEnvi, GLenum, GLenum, GLint)
C3(glTexGend, GLenum, GLenum, GLdouble)
C3(glTexGenf, GLenum, GLenum, GLfloat)
C3(glTexGeni, GLenum, GLenum, GLint)
C3(glTexParameterf, GLenum, GLenum, GLfloat)
C3(glTexParameteri, GLenum, GLenum, GLint)
C3(glTranslated, GLdouble, GLdouble, GLdouble)
C3(glTranslatef, GLfloat, GLfloat, GLfloat)
C4(glViewport, GLint, GLint, GLsizei, GLsizei)

// ---- Client state that decides what GL reads -------------------------------------------------
bool knownArray(GLenum array) {
  return array == GL_VERTEX_ARRAY || array == GL_NORMAL_ARRAY || array == GL_COLOR_ARRAY ||
         array == GL_INDEX_ARRAY || array == GL_EDGE_FLAG_ARRAY || array == GL_TEXTURE_COORD_ARRAY;
}
HxGLDecoder::Array* arrayFor(HxGLDecoder& d, GLenum array) {
  auto& s = d.arrays();
  switch (array) {
    case GL_VERTEX_ARRAY:
      return &s.fixed[HxGLDecoder::kVertex];
    case GL_NORMAL_ARRAY:
      return &s.fixed[HxGLDecoder::kNormal];
    case GL_COLOR_ARRAY:
      return &s.fixed[HxGLDecoder::kColor];
    case GL_INDEX_ARRAY:
      return &s.fixed[HxGLDecoder::kIndex];
    case GL_EDGE_FLAG_ARRAY:
      return &s.fixed[HxGLDecoder::kEdgeFlag];
    case GL_TEXTURE_COORD_ARRAY:
      return &s.tex[s.unit];
    default:
      return nullptr;
  }
}
// Only the arrays the stream can fill are switched on: GL would read any other from a null
// pointer at the next draw.
int clientState(HxGLDecoder& d, const double* a, bool on) {
  GLenum array = cv<GLenum>(a[0]);
  if (!d.live() || !knownArray(array)) return 0;
  if (on)
    CALL(glEnableClientState, array);
  else
    CALL(glDisableClientState, array);
  arrayFor(d, array)->enabled = on;
  return 0;
}
HANDLER(glEnableClientState, "glEnableClientState", 1) {
  return clientState(d, a, true);
}
HANDLER(glDisableClientState, "glDisableClientState", 1) {
  return clientState(d, a, false);
}
HANDLER(glClientActiveTextureARB, "glClientActiveTextureARB", 1) {
  GLenum unit = cv<GLenum>(a[0]);
  if (!d.live() || unit < GL_TEXTURE0 || unit >= GL_TEXTURE0 + HxGLDecoder::kUnits) return 0;
  CALL(glClientActiveTextureARB, unit);
  d.arrays().unit = (int)(unit - GL_TEXTURE0);
  return 0;
}
int pixelStore(HxGLDecoder& d, GLenum pname, long long value) {
  if (!d.live()) return 0;
  CALL(glPixelStorei, pname, (GLint)value);
  glsize::applyPixelStore(d.unpack(), pname, value);
  return 0;
}
HANDLER(glPixelStorei, "glPixelStorei", 2) {
  return pixelStore(d, cv<GLenum>(a[0]), cl(a[1]));
}
HANDLER(glPixelStoref, "glPixelStoref", 2) {
  // GL rounds a float parameter to the nearest integer; the value goes on as that integer, so
  // that GL and the size computation agree.
  double v = a[1];
  if (!(v > -1e9 && v < 1e9)) return 0;
  return pixelStore(d, cv<GLenum>(a[0]), (long long)(v + (v < 0 ? -0.5 : 0.5)));
}
HANDLER(glPushClientAttrib, "glPushClientAttrib", 1) {
  if (!d.live()) return 0;
  GLbitfield mask = cv<GLbitfield>(a[0]);
  // GL's stack holds 16 entries; a push beyond fails in GL too.
  if (d.savedClient().size() >= 16) return 0;
  CALL(glPushClientAttrib, mask);
  d.savedClient().push_back({mask, d.arrays(), d.unpack()});
  return 0;
}
HANDLER(glPopClientAttrib, "glPopClientAttrib", 0) {
  if (!d.live() || d.savedClient().empty()) return 0;
  CALL0(glPopClientAttrib);
  HxGLDecoder::Saved s = d.savedClient().back();
  d.savedClient().pop_back();
  // GL points its arrays at the saved blocks again: they were kept alive for that.
  if (s.mask & GL_CLIENT_PIXEL_STORE_BIT) d.unpack() = s.unpack;
  if (s.mask & GL_CLIENT_VERTEX_ARRAY_BIT) d.arrays() = s.arrays;
  return 0;
}
// Locking is a hint GL may act on by reading the arrays at once; the decoder checks arrays at
// the draws only, so the hint is not passed on.
HANDLER(glLockArraysEXT, "glLockArraysEXT", 0) {
  return 0;
}
HANDLER(glUnlockArraysEXT, "glUnlockArraysEXT", 0) {
  return 0;
}

// ---- Lists, names, replies ------------------------------------------------------------------
HANDLER(glNewList, "glNewList", 2) {
  CALL(glNewList, cv<GLuint>(a[0]), cv<GLenum>(a[1]));
  if (!d.listCursor()) {
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    d.listCursor() = true;
  }
  return 0;
}
HANDLER(glEndList, "glEndList", 0) {
  CALL0(glEndList);
  if (d.listCursor()) {
    QGuiApplication::restoreOverrideCursor();
    d.listCursor() = false;
  }
  return 0;
}
HANDLER(glGenLists, "glGenLists", 1) {
  GLsizei range = cv<GLsizei>(a[0]);
  long v = 0;
  if (d.live()) {
    auto f = GLFN(glGenLists);
    if (f) v = (long)f(range);
  }
  d.noteLists(v, range);
  return d.widget()->gllongresponse(v) < 0 ? HxGLDecoder::kLost : 0;
}
int genTextures(HxGLDecoder& d, double count, bool ext) {
  long long n = cl(count);
  int k = n <= 0 ? 0 : n > kMaxTextureNames ? kMaxTextureNames : (int)n;
  std::vector<GLuint> names((size_t)k, 0);
  if (k > 0 && ext)
    CALL(glGenTexturesEXT, k, names.data());
  else if (k > 0)
    CALL(glGenTextures, k, names.data());
  return d.widget()->glputbytes(names.data(), k * 4) < 0 ? HxGLDecoder::kLost : 0;
}
HANDLER(glGenTextures, "glGenTextures", 1) {
  return genTextures(d, a[0], false);
}
HANDLER(glGenTexturesEXT, "glGenTexturesEXT", 1) {
  return genTextures(d, a[0], true);
}

// ---- Calls with blocks -----------------------------------------------------------------------
// Reads the next block for a call of which GL reads need bytes. *ok: the block holds them all
// (need > 0); *none: the block was empty ("no data"). kGo, or kEnd / kLost to stop.
int readBlock(HxGLDecoder& d, std::vector<unsigned char>& out, long long need, bool* ok,
              bool* none) {
  long long keep = need > 0 && need <= glsize::kMaxBlock ? need : 0;
  HxGLDecoder::Block b = d.getbytes(out, keep);
  *ok = false;
  *none = b == HxGLDecoder::kEmpty;
  if (b == HxGLDecoder::kBlockEnd) return HxGLDecoder::kEnd;
  if (b == HxGLDecoder::kBlockLost) return HxGLDecoder::kLost;
  if (b == HxGLDecoder::kBlockWait) return HxGLDecoder::kWait;
  *ok = keep > 0 && (long long)out.size() >= keep;
  return 0;
}
// A call that needs its data: carried out only with a whole block.
#define WITH_BLOCK(need, buf)                                              \
  std::vector<unsigned char> buf;                                          \
  bool buf##Ok, buf##None;                                                 \
  if (int r_ = readBlock(d, buf, (need), &buf##Ok, &buf##None)) return r_; \
  (void)buf##None;

long long img(HxGLDecoder& d, int dims, const double* a, int wi, int hi, int di, int fi, int ti) {
  return glsize::imageBytes(d.unpack(), dims, cl(a[wi]), hi < 0 ? 1 : cl(a[hi]),
                            di < 0 ? 1 : cl(a[di]), cv<GLenum>(a[fi]), cv<GLenum>(a[ti]));
}

BLOCKS(glbytes, "glbytes") {
  // A block that belongs to no call (its call line was lost): its bytes are dropped, not read
  // as lines.
  if (n < 1 || a[0] <= 0) return 0;
  return d.skip(cl(a[0])) ? 0 : HxGLDecoder::kLost;
}

BLOCKS(glBitmap, "glBitmap") {
  long long need = n >= 6 ? glsize::bitmapBytes(d.unpack(), cl(a[0]), cl(a[1])) : -1;
  WITH_BLOCK(need, b)
  // An empty bitmap only moves the raster position: GL reads nothing from it.
  if (n >= 6 && (bOk || need == 0))
    CALL(glBitmap, ci(a[0]), ci(a[1]), cv<GLfloat>(a[2]), cv<GLfloat>(a[3]), cv<GLfloat>(a[4]),
         cv<GLfloat>(a[5]), bOk ? b.data() : nullptr);
  return 0;
}
BLOCKS(glPolygonStipple, "glPolygonStipple") {
  WITH_BLOCK(glsize::bitmapBytes(d.unpack(), 32, 32), b)
  if (bOk) CALL(glPolygonStipple, b.data());
  return 0;
}
BLOCKS(glCallLists, "glCallLists") {
  long long need = n >= 2 ? glsize::callListsBytes(cl(a[0]), cv<GLenum>(a[1])) : -1;
  WITH_BLOCK(need, b)
  if (bOk) CALL(glCallLists, ci(a[0]), cv<GLenum>(a[1]), b.data());
  return 0;
}
#define COLOR_TABLE(Name)                                                                          \
  BLOCKS(Name, #Name) {                                                                            \
    long long need = n >= 5 ? img(d, 1, a, 2, -1, -1, 3, 4) : -1;                                  \
    WITH_BLOCK(need, b)                                                                            \
    if (bOk)                                                                                       \
      CALL(Name, cv<GLenum>(a[0]), cv<GLenum>(a[1]), ci(a[2]), cv<GLenum>(a[3]), cv<GLenum>(a[4]), \
           b.data());                                                                              \
    return 0;                                                                                      \
  }
COLOR_TABLE(glColorTable)
COLOR_TABLE(glColorTableEXT)
#define COLOR_SUB_TABLE(Name)                                                              \
  BLOCKS(Name, #Name) {                                                                    \
    long long need = n >= 5 ? img(d, 1, a, 2, -1, -1, 3, 4) : -1;                          \
    WITH_BLOCK(need, b)                                                                    \
    if (bOk)                                                                               \
      CALL(Name, cv<GLenum>(a[0]), ci(a[1]), ci(a[2]), cv<GLenum>(a[3]), cv<GLenum>(a[4]), \
           b.data());                                                                      \
    return 0;                                                                              \
  }
COLOR_SUB_TABLE(glColorSubTable)
COLOR_SUB_TABLE(glColorSubTableEXT)
BLOCKS(glConvolutionFilter1D, "glConvolutionFilter1D") {
  long long need = n >= 5 ? img(d, 1, a, 2, -1, -1, 3, 4) : -1;
  WITH_BLOCK(need, b)
  if (bOk)
    CALL(glConvolutionFilter1D, cv<GLenum>(a[0]), cv<GLenum>(a[1]), ci(a[2]), cv<GLenum>(a[3]),
         cv<GLenum>(a[4]), b.data());
  return 0;
}
BLOCKS(glConvolutionFilter2D, "glConvolutionFilter2D") {
  long long need = n >= 6 ? img(d, 2, a, 2, 3, -1, 4, 5) : -1;
  WITH_BLOCK(need, b)
  if (bOk)
    CALL(glConvolutionFilter2D, cv<GLenum>(a[0]), cv<GLenum>(a[1]), ci(a[2]), ci(a[3]),
         cv<GLenum>(a[4]), cv<GLenum>(a[5]), b.data());
  return 0;
}
BLOCKS(glSeparableFilter2D, "glSeparableFilter2D") {
  long long needRow = n >= 6 ? img(d, 1, a, 2, -1, -1, 4, 5) : -1;
  long long needCol = n >= 6 ? img(d, 1, a, 3, -1, -1, 4, 5) : -1;
  WITH_BLOCK(needRow, row)
  WITH_BLOCK(needCol, col)
  if (rowOk && colOk)
    CALL(glSeparableFilter2D, cv<GLenum>(a[0]), cv<GLenum>(a[1]), ci(a[2]), ci(a[3]),
         cv<GLenum>(a[4]), cv<GLenum>(a[5]), row.data(), col.data());
  return 0;
}
#define DELETE_TEXTURES(Name)                                                 \
  BLOCKS(Name, #Name) {                                                       \
    long long need = n >= 1 && cl(a[0]) > 0 ? cl(a[0]) * 4 : -1;              \
    WITH_BLOCK(need, b)                                                       \
    if (bOk) CALL(Name, ci(a[0]), reinterpret_cast<const GLuint*>(b.data())); \
    return 0;                                                                 \
  }
DELETE_TEXTURES(glDeleteTextures)
DELETE_TEXTURES(glDeleteTexturesEXT)
#define PRIORITIZE(Name)                                                  \
  BLOCKS(Name, #Name) {                                                   \
    long long need = n >= 1 && cl(a[0]) > 0 ? cl(a[0]) * 4 : -1;          \
    WITH_BLOCK(need, names)                                               \
    WITH_BLOCK(need, prio)                                                \
    if (namesOk && prioOk)                                                \
      CALL(Name, ci(a[0]), reinterpret_cast<const GLuint*>(names.data()), \
           reinterpret_cast<const GLclampf*>(prio.data()));               \
    return 0;                                                             \
  }
PRIORITIZE(glPrioritizeTextures)
PRIORITIZE(glPrioritizeTexturesEXT)
BLOCKS(glDrawPixels, "glDrawPixels") {
  long long need = n >= 4 ? img(d, 2, a, 0, 1, -1, 2, 3) : -1;
  WITH_BLOCK(need, b)
  if (bOk) CALL(glDrawPixels, ci(a[0]), ci(a[1]), cv<GLenum>(a[2]), cv<GLenum>(a[3]), b.data());
  return 0;
}
BLOCKS(glFeedbackBuffer, "glFeedbackBuffer") {
  long long need = n >= 2 && cl(a[0]) > 0 ? cl(a[0]) * 4 : -1;
  WITH_BLOCK(need, b)
  if (!bOk || !d.live()) return 0;
  // GL writes into the buffer until the next glFeedbackBuffer: it lives with the widget. In
  // feedback mode GL refuses a new buffer and keeps writing into the old one.
  GLint mode = 0;
  CALL(glGetIntegerv, GL_RENDER_MODE, &mode);
  if (mode == GL_FEEDBACK) return 0;
  CALL(glFeedbackBuffer, ci(a[0]), cv<GLenum>(a[1]), reinterpret_cast<GLfloat*>(b.data()));
  d.feedback().swap(b);
  return 0;
}
#define MATRIX(Name, T)                                        \
  BLOCKS(Name, #Name) {                                        \
    WITH_BLOCK(16 * (long long)sizeof(T), b)                   \
    if (bOk) CALL(Name, reinterpret_cast<const T*>(b.data())); \
    return 0;                                                  \
  }
MATRIX(glLoadMatrixd, GLdouble)
MATRIX(glLoadMatrixf, GLfloat)
MATRIX(glMultMatrixd, GLdouble)
MATRIX(glMultMatrixf, GLfloat)
#define MAP1(Name, T)                                                                              \
  BLOCKS(Name, #Name) {                                                                            \
    long long need =                                                                               \
        n >= 5 ? glsize::map1Elements(cv<GLenum>(a[0]), cl(a[3]), cl(a[4])) * (long long)sizeof(T) \
               : -1;                                                                               \
    WITH_BLOCK(need, b)                                                                            \
    if (bOk)                                                                                       \
      CALL(Name, cv<GLenum>(a[0]), cv<T>(a[1]), cv<T>(a[2]), ci(a[3]), ci(a[4]),                   \
           reinterpret_cast<const T*>(b.data()));                                                  \
    return 0;                                                                                      \
  }
MAP1(glMap1d, GLdouble)
MAP1(glMap1f, GLfloat)
#define MAP2(Name, T)                                                                             \
  BLOCKS(Name, #Name) {                                                                           \
    long long need =                                                                              \
        n >= 9 ? glsize::map2Elements(cv<GLenum>(a[0]), cl(a[3]), cl(a[4]), cl(a[7]), cl(a[8])) * \
                     (long long)sizeof(T)                                                         \
               : -1;                                                                              \
    WITH_BLOCK(need, b)                                                                           \
    if (bOk)                                                                                      \
      CALL(Name, cv<GLenum>(a[0]), cv<T>(a[1]), cv<T>(a[2]), ci(a[3]), ci(a[4]), cv<T>(a[5]),     \
           cv<T>(a[6]), ci(a[7]), ci(a[8]), reinterpret_cast<const T*>(b.data()));                \
    return 0;                                                                                     \
  }
MAP2(glMap2d, GLdouble)
MAP2(glMap2f, GLfloat)
#define PIXEL_MAP(Name, T)                                                                 \
  BLOCKS(Name, #Name) {                                                                    \
    long long need = n >= 2 && cl(a[1]) > 0 ? cl(a[1]) * (long long)sizeof(T) : -1;        \
    WITH_BLOCK(need, b)                                                                    \
    if (bOk) CALL(Name, cv<GLenum>(a[0]), ci(a[1]), reinterpret_cast<const T*>(b.data())); \
    return 0;                                                                              \
  }
PIXEL_MAP(glPixelMapfv, GLfloat)
PIXEL_MAP(glPixelMapuiv, GLuint)
PIXEL_MAP(glPixelMapusv, GLushort)

// Texture images: an empty block (no data, a proxy target) only allocates the image, which GL
// allows with a null pointer; a short block skips the call.
#define TEX_DATA(b, need) (b##Ok ? (const void*)b.data() : nullptr)
#define TEX_GO(b, need) (b##Ok || b##None || (need) == 0)
BLOCKS(glTexImage1D, "glTexImage1D") {
  long long need = n >= 7 ? img(d, 1, a, 3, -1, -1, 5, 6) : -1;
  WITH_BLOCK(need, b)
  if (n >= 7 && TEX_GO(b, need))
    CALL(glTexImage1D, cv<GLenum>(a[0]), ci(a[1]), ci(a[2]), ci(a[3]), ci(a[4]), cv<GLenum>(a[5]),
         cv<GLenum>(a[6]), TEX_DATA(b, need));
  return 0;
}
BLOCKS(glTexImage2D, "glTexImage2D") {
  long long need = n >= 8 ? img(d, 2, a, 3, 4, -1, 6, 7) : -1;
  WITH_BLOCK(need, b)
  if (n >= 8 && TEX_GO(b, need))
    CALL(glTexImage2D, cv<GLenum>(a[0]), ci(a[1]), ci(a[2]), ci(a[3]), ci(a[4]), ci(a[5]),
         cv<GLenum>(a[6]), cv<GLenum>(a[7]), TEX_DATA(b, need));
  return 0;
}
#define TEX_IMAGE_3D(Name, IF)                                                                     \
  BLOCKS(Name, #Name) {                                                                            \
    long long need = n >= 9 ? img(d, 3, a, 3, 4, 5, 7, 8) : -1;                                    \
    WITH_BLOCK(need, b)                                                                            \
    if (n >= 9 && TEX_GO(b, need))                                                                 \
      CALL(Name, cv<GLenum>(a[0]), ci(a[1]), cv<IF>(a[2]), ci(a[3]), ci(a[4]), ci(a[5]), ci(a[6]), \
           cv<GLenum>(a[7]), cv<GLenum>(a[8]), TEX_DATA(b, need));                                 \
    return 0;                                                                                      \
  }
TEX_IMAGE_3D(glTexImage3D, GLint)
TEX_IMAGE_3D(glTexImage3DEXT, GLenum)
BLOCKS(glTexSubImage1D, "glTexSubImage1D") {
  long long need = n >= 6 ? img(d, 1, a, 3, -1, -1, 4, 5) : -1;
  WITH_BLOCK(need, b)
  if (bOk)
    CALL(glTexSubImage1D, cv<GLenum>(a[0]), ci(a[1]), ci(a[2]), ci(a[3]), cv<GLenum>(a[4]),
         cv<GLenum>(a[5]), b.data());
  return 0;
}
BLOCKS(glTexSubImage2D, "glTexSubImage2D") {
  long long need = n >= 8 ? img(d, 2, a, 4, 5, -1, 6, 7) : -1;
  WITH_BLOCK(need, b)
  if (bOk)
    CALL(glTexSubImage2D, cv<GLenum>(a[0]), ci(a[1]), ci(a[2]), ci(a[3]), ci(a[4]), ci(a[5]),
         cv<GLenum>(a[6]), cv<GLenum>(a[7]), b.data());
  return 0;
}
#define TEX_SUB_IMAGE_3D(Name)                                                                 \
  BLOCKS(Name, #Name) {                                                                        \
    long long need = n >= 10 ? img(d, 3, a, 5, 6, 7, 8, 9) : -1;                               \
    WITH_BLOCK(need, b)                                                                        \
    if (bOk)                                                                                   \
      CALL(Name, cv<GLenum>(a[0]), ci(a[1]), ci(a[2]), ci(a[3]), ci(a[4]), ci(a[5]), ci(a[6]), \
           ci(a[7]), cv<GLenum>(a[8]), cv<GLenum>(a[9]), b.data());                            \
    return 0;                                                                                  \
  }
TEX_SUB_IMAGE_3D(glTexSubImage3D)
TEX_SUB_IMAGE_3D(glTexSubImage3DEXT)

// ---- Vertex arrays ---------------------------------------------------------------------------
bool validPointer(HxGLDecoder::ArrayKind kind, int size, GLenum type, int stride) {
  if (stride < 0) return false;
  switch (kind) {
    case HxGLDecoder::kVertex:
      return size >= 2 && size <= 4 &&
             (type == GL_SHORT || type == GL_INT || type == GL_FLOAT || type == GL_DOUBLE);
    case HxGLDecoder::kTexCoord:
      return size >= 1 && size <= 4 &&
             (type == GL_SHORT || type == GL_INT || type == GL_FLOAT || type == GL_DOUBLE);
    case HxGLDecoder::kNormal:
      return type == GL_BYTE || type == GL_SHORT || type == GL_INT || type == GL_FLOAT ||
             type == GL_DOUBLE;
    case HxGLDecoder::kColor:
      return (size == 3 || size == 4) &&
             (type == GL_BYTE || type == GL_UNSIGNED_BYTE || type == GL_SHORT ||
              type == GL_UNSIGNED_SHORT || type == GL_INT || type == GL_UNSIGNED_INT ||
              type == GL_FLOAT || type == GL_DOUBLE);
    case HxGLDecoder::kIndex:
      return type == GL_UNSIGNED_BYTE || type == GL_SHORT || type == GL_INT || type == GL_FLOAT ||
             type == GL_DOUBLE;
    case HxGLDecoder::kEdgeFlag:
      return true;
  }
  return false;
}
// A pointer line and its block: the block becomes the array's memory; the one it replaces is
// freed once GL points elsewhere (a saved client state may still hold it).
int pointer(HxGLDecoder& d, HxGLDecoder::ArrayKind kind, const double* a, int n, int need) {
  std::vector<unsigned char> buf;
  HxGLDecoder::Block b = d.getbytes(buf, -1);
  if (b == HxGLDecoder::kBlockEnd) return HxGLDecoder::kEnd;
  if (b == HxGLDecoder::kBlockLost) return HxGLDecoder::kLost;
  if (b == HxGLDecoder::kBlockWait) return HxGLDecoder::kWait;
  if (n < need || !d.live()) return 0;
  int size = kind == HxGLDecoder::kNormal ? 3 : kind == HxGLDecoder::kIndex ? 1 : ci(a[0]);
  GLenum type = kind == HxGLDecoder::kEdgeFlag                                ? GL_UNSIGNED_BYTE
                : kind == HxGLDecoder::kNormal || kind == HxGLDecoder::kIndex ? cv<GLenum>(a[0])
                                                                              : cv<GLenum>(a[1]);
  int stride = ci(a[need - 1]);
  if (!validPointer(kind, size, type, stride)) return 0;  // GL keeps the old array too
  std::shared_ptr<std::vector<unsigned char>> data;
  if (!buf.empty()) data = std::make_shared<std::vector<unsigned char>>(std::move(buf));
  const void* p = data ? data->data() : nullptr;
  switch (kind) {
    case HxGLDecoder::kVertex:
      CALL(glVertexPointer, size, type, stride, p);
      break;
    case HxGLDecoder::kNormal:
      CALL(glNormalPointer, type, stride, p);
      break;
    case HxGLDecoder::kColor:
      CALL(glColorPointer, size, type, stride, p);
      break;
    case HxGLDecoder::kIndex:
      CALL(glIndexPointer, type, stride, p);
      break;
    case HxGLDecoder::kEdgeFlag:
      CALL(glEdgeFlagPointer, stride, p);
      break;
    case HxGLDecoder::kTexCoord:
      CALL(glTexCoordPointer, size, type, stride, p);
      break;
  }
  HxGLDecoder::Array& arr = d.arrayOf(kind);
  arr.size = size;
  arr.type = type;
  arr.stride = stride;
  arr.data = std::move(data);
  return 0;
}
BLOCKS(glVertexPointer, "glVertexPointer") {
  return pointer(d, HxGLDecoder::kVertex, a, n, 3);
}
BLOCKS(glColorPointer, "glColorPointer") {
  return pointer(d, HxGLDecoder::kColor, a, n, 3);
}
BLOCKS(glTexCoordPointer, "glTexCoordPointer") {
  return pointer(d, HxGLDecoder::kTexCoord, a, n, 3);
}
BLOCKS(glNormalPointer, "glNormalPointer") {
  return pointer(d, HxGLDecoder::kNormal, a, n, 2);
}
BLOCKS(glIndexPointer, "glIndexPointer") {
  return pointer(d, HxGLDecoder::kIndex, a, n, 2);
}
BLOCKS(glEdgeFlagPointer, "glEdgeFlagPointer") {
  return pointer(d, HxGLDecoder::kEdgeFlag, a, n, 1);
}

// Draws: carried out only when every enabled array holds every element the draw reads.
#define DRAW_ARRAYS(Name)                                                       \
  HANDLER(Name, #Name, 3) {                                                     \
    long long first = cl(a[1]), count = cl(a[2]);                               \
    if (first < 0 || count <= 0 || !d.arraysCover(first + count - 1)) return 0; \
    CALL(Name, cv<GLenum>(a[0]), (GLint)first, (GLsizei)count);                 \
    return 0;                                                                   \
  }
DRAW_ARRAYS(glDrawArrays)
DRAW_ARRAYS(glDrawArraysEXT)

long long highestIndex(const std::vector<unsigned char>& b, long long count, GLenum type) {
  long long top = -1;
  for (long long k = 0; k < count; k++) {
    long long v;
    if (type == GL_UNSIGNED_BYTE) {
      v = b[(size_t)k];
    } else if (type == GL_UNSIGNED_SHORT) {
      GLushort s;
      memcpy(&s, &b[(size_t)(2 * k)], 2);
      v = s;
    } else {
      GLuint s;
      memcpy(&s, &b[(size_t)(4 * k)], 4);
      v = s;
    }
    if (v > top) top = v;
  }
  return top;
}
long long indexBytes(GLenum type) {
  return type == GL_UNSIGNED_BYTE    ? 1
         : type == GL_UNSIGNED_SHORT ? 2
         : type == GL_UNSIGNED_INT   ? 4
                                     : 0;
}
BLOCKS(glDrawElements, "glDrawElements") {
  long long count = n >= 3 ? cl(a[1]) : 0;
  GLenum type = n >= 3 ? cv<GLenum>(a[2]) : 0;
  long long need = count > 0 ? count * indexBytes(type) : -1;
  WITH_BLOCK(need, b)
  if (!bOk || !d.live() || !d.arraysCover(highestIndex(b, count, type))) return 0;
  CALL(glDrawElements, cv<GLenum>(a[0]), (GLsizei)count, type, b.data());
  return 0;
}
BLOCKS(glDrawRangeElements, "glDrawRangeElements") {
  long long count = n >= 5 ? cl(a[3]) : 0;
  GLenum type = n >= 5 ? cv<GLenum>(a[4]) : 0;
  long long need = count > 0 ? count * indexBytes(type) : -1;
  WITH_BLOCK(need, b)
  if (!bOk || !d.live()) return 0;
  long long top = highestIndex(b, count, type);
  if (!d.arraysCover(top)) return 0;
  GLuint start = cv<GLuint>(a[1]), end = cv<GLuint>(a[2]);
  // GL may read the whole range start..end: a range that reaches beyond the arrays is
  // dropped and the indices are drawn as they are.
  if (start <= end && (long long)end <= top)
    CALL(glDrawRangeElements, cv<GLenum>(a[0]), start, end, (GLsizei)count, type, b.data());
  else
    CALL(glDrawElements, cv<GLenum>(a[0]), (GLsizei)count, type, b.data());
  return 0;
}

}  // namespace

// ---- The decoder -------------------------------------------------------------------------------
HxGLDecoder::~HxGLDecoder() {
  if (listCursor_) QGuiApplication::restoreOverrideCursor();
}

void HxGLDecoder::setResolver(HxGLResolver r) {
  resolver = r;
}

HxGLProc HxGLDecoder::proc(const char* name) {
  return resolver ? resolver(name) : nullptr;
}

void HxGLDecoder::reset() {
  unpack_ = glsize::Unpack();
  arrays_ = Arrays();
  saved_.clear();
  feedback_.clear();
}

long long HxGLDecoder::elementBytes(ArrayKind kind, const Array& a) {
  switch (kind) {
    case kNormal:
      return 3LL * glsize::typeBytes(a.type);
    case kIndex:
      return glsize::typeBytes(a.type);
    case kEdgeFlag:
      return (long long)sizeof(GLboolean);
    default:
      return (long long)a.size * glsize::typeBytes(a.type);
  }
}

bool HxGLDecoder::arraysCover(long long maxIndex) const {
  if (maxIndex < 0) return false;
  auto covers = [maxIndex](ArrayKind kind, const Array& a) {
    if (!a.enabled) return true;
    long long elem = elementBytes(kind, a);
    if (!a.data || elem <= 0) return false;
    long long stride = a.stride > 0 ? a.stride : elem;
    if (maxIndex > glsize::kMaxBlock) return false;
    return maxIndex * stride + elem <= (long long)a.data->size();
  };
  for (int k = 0; k < kTexCoord; k++)
    if (!covers((ArrayKind)k, arrays_.fixed[k])) return false;
  for (const Array& t : arrays_.tex)
    if (!covers(kTexCoord, t)) return false;
  return true;
}

void HxGLDecoder::endBlock() {
  HxGLDecoder& d = *this;
  CALL0(glFlush);
}

void HxGLDecoder::prepare() {
  // Qt draws with shaders, vertex array objects and buffers on this context too. The stream
  // knows none of them: with a program bound GL refuses its drawing, with a buffer bound GL
  // would take the stream's array and pixel pointers for offsets into it.
  HxGLDecoder& d = *this;
  CALL(glUseProgram, 0);
  CALL(glBindVertexArray, 0);
  CALL(glBindBuffer, GL_ARRAY_BUFFER, 0);
  CALL(glBindBuffer, GL_ELEMENT_ARRAY_BUFFER, 0);
  CALL(glBindBuffer, GL_PIXEL_UNPACK_BUFFER, 0);
}

void HxGLDecoder::deleteLists(int first, int last) {
  HxGLDecoder& d = *this;
  if (first > 0 && last >= first) CALL(glDeleteLists, (GLuint)first, last - first + 1);
}

void HxGLDecoder::noteLists(long first, long count) {
  w_->noteLists(first, count);
}

bool HxGLDecoder::acknowledge() {
  return tcp_send(w_->s_, "hxGlEnd();\n", 11) == 11;
}

bool HxGLDecoder::skip(long long n) {
  // The bytes are dropped as they arrive, never read as lines.
  if (n > 0) startBlock(n, 0, false);
  return true;
}

void HxGLDecoder::startBlock(long long len, long long keep, bool forCall) {
  announced_ = len;
  inLeft_ = len;
  inKeep_ = keep < len ? keep : len;
  inForCall_ = forCall;
  in_.clear();
  inFailed_ = false;
}

HxGLDecoder::Block HxGLDecoder::getbytes(std::vector<unsigned char>& out, long long keep) {
  out.clear();
  if (serve_ < got_.size()) {
    Got& g = got_[serve_++];
    // A handler that needs more than one block is run again for each: it finds the earlier
    // ones here again, so they are copied, not handed over.
    if (g.kind == kData) out = g.bytes;
    if (g.kind == kBlockEnd) {
      // The block ends while a call waits for its data: the call is dropped, the end is
      // acknowledged as always (else the server would wait for it forever).
      endBlock();
      return acknowledge() ? kBlockEnd : kBlockLost;
    }
    return g.kind;
  }
  want_ = keep < 0 ? glsize::kMaxBlock : keep;
  return kBlockWait;
}

int HxGLDecoder::awaitingLine(const char* text) {
  if (strncmp(text, "hxGlEnd()", 9) == 0) {
    got_.push_back(Got{kBlockEnd, {}});
    return rerun();
  }
  if (strncmp(text, "glbytes(", 8) != 0) return 0;  // no block header: dropped
  long long len = strtoll(text + 8, nullptr, 10);
  if (len <= 0) {
    got_.push_back(Got{kEmpty, {}});
    return rerun();
  }
  if (len > glsize::kMaxBlock) {
    // No block is that large: draining it would hold the stream for gigabytes. The stream
    // can no longer be followed, so the connection goes.
    char why[80];
    snprintf(why, sizeof why, "glbytes(%lld) above the largest block", len);
    if (w_->s_ != nullptr) tcp_abort(w_->s_, why);
    waiting_.clear();
    got_.clear();
    return -1;
  }
  startBlock(len, want_, true);
  return 0;
}

int HxGLDecoder::blockPart(const char* data, int len, bool last) {
  if (len > 0 && inLeft_ > 0) {
    long long room = inKeep_ - (long long)in_.size();
    long long take = len < room ? len : room;
    if (take > 0 && !inFailed_) {
      try {
        in_.insert(in_.end(), data, data + take);
      } catch (const std::bad_alloc&) {
        // Kept: nothing; the call that wanted the block is skipped, the stream goes on.
        std::vector<unsigned char>().swap(in_);
        inFailed_ = true;
      }
    }
    inLeft_ -= len;
  }
  if (!last) return 0;
  inLeft_ = 0;
  announced_ = 0;
  if (!inForCall_ || waiting_.empty()) return 0;
  got_.push_back(Got{kData, {}});
  got_.back().bytes.swap(in_);
  return rerun();
}

int HxGLDecoder::rerun() {
  serve_ = 0;
  int r = dispatch(waiting_.c_str());
  if (r == kWait) return 0;  // one more block to come
  waiting_.clear();
  got_.clear();
  return r < 0 ? -1 : 0;
}

void HxGLDecoder::abandon() {
  waiting_.clear();
  got_.clear();
  serve_ = 0;
  in_.clear();
  inLeft_ = 0;
  announced_ = 0;
}

long long HxGLDecoder::takeAnnounced() {
  long long n = announced_;
  announced_ = 0;
  return n;
}

int HxGLDecoder::interpret(const char* text) {
  if (text == nullptr) return 1;
  // A call that awaits its block: the lines up to the block header are dropped.
  if (!waiting_.empty()) return awaitingLine(text);
  int r = dispatch(text);
  if (r == kWait) {
    waiting_ = text;
    return 0;
  }
  return r;
}

int HxGLDecoder::streamLine(const char* text) {
  int r = interpret(text);
  return r != -1 && announced_ > 0 ? 2 : r;
}

int HxGLDecoder::dispatch(const char* text) {
  if (text[0] != 'g' || text[1] != 'l') {
    if (strncmp(text, "hxGlEnd()", 9) == 0) {
      endBlock();
      acknowledge();
      return -1;
    }
    return 1;
  }
  const char* paren = strchr(text, '(');
  // A frame repeats a few names thousands of times (glNormal3f, glVertex3f): the last ones
  // found are compared before the table is searched.
  struct Recent {
    const std::string* name = nullptr;
    const Entry* entry = nullptr;
  };
  thread_local Recent recent[4];
  thread_local unsigned nextRecent = 0;
  const Entry* entry = nullptr;
  if (paren != nullptr) {
    size_t len = (size_t)(paren - text);
    for (const Recent& r : recent)
      if (r.name != nullptr && r.name->size() == len && memcmp(r.name->data(), text, len) == 0) {
        entry = r.entry;
        break;
      }
    if (entry == nullptr) {
      auto it = table().find(std::string(text, len));
      if (it != table().end()) {
        entry = &it->second;
        recent[nextRecent++ % 4] = Recent{&it->first, entry};
      }
    }
  }
  if (entry == nullptr) {
    size_t len = strcspn(text, "\r\n");
    otLog(OT_LOG_WARNING, "unknown: %.*s\n", (int)len, text);
    return 0;
  }
  double a[kMaxArgs] = {0};
  int n = parseArgs(paren + 1, a, kMaxArgs);
  int r = entry->handler(*this, a, n);
  if (r == kWait) return kWait;
  return r < 0 ? -1 : 0;
}

int HxGLDecoder::vocabularySize() {
  return (int)table().size();
}
