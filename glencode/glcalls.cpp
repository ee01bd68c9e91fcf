// The OpenGL entry points of the stream's vocabulary. Each sends its line; the calls with
// arrays follow it with their blocks. Formats: "%d" for every integer, enumeration, mask and
// boolean (unsigned values as their 32-bit pattern), "%f" for float and double.
// glext.h's own prototypes check the extension entry points declared in hxglencode.h.
#define GL_GLEXT_PROTOTYPES
#include <cstring>

#include "glencode_p.h"

using glenc::a;
using glenc::block;
using glenc::line;

#define F1(f) f
#define F2(f) f "," f
#define F3(f) f "," f "," f
#define F4(f) f "," f "," f "," f
#define I "%d"
#define D "%f"

// glName{2,3,4}{t}(x, y, ...) and glName{2,3,4}{t}v(v): the v form writes its elements inline.
#define VEC1(Name, T, F)                           \
  void Name(T x) {                                 \
    line(#Name "(" F1(F) ");\n", a(x));            \
  }                                                \
  void Name##v(const T* v) {                       \
    if (v) line(#Name "v(" F1(F) ");\n", a(v[0])); \
  }
#define VEC2(Name, T, F)                                    \
  void Name(T x, T y) {                                     \
    line(#Name "(" F2(F) ");\n", a(x), a(y));               \
  }                                                         \
  void Name##v(const T* v) {                                \
    if (v) line(#Name "v(" F2(F) ");\n", a(v[0]), a(v[1])); \
  }
#define VEC3(Name, T, F)                                             \
  void Name(T x, T y, T z) {                                         \
    line(#Name "(" F3(F) ");\n", a(x), a(y), a(z));                  \
  }                                                                  \
  void Name##v(const T* v) {                                         \
    if (v) line(#Name "v(" F3(F) ");\n", a(v[0]), a(v[1]), a(v[2])); \
  }
#define VEC4(Name, T, F)                                                      \
  void Name(T x, T y, T z, T w) {                                             \
    line(#Name "(" F4(F) ");\n", a(x), a(y), a(z), a(w));                     \
  }                                                                           \
  void Name##v(const T* v) {                                                  \
    if (v) line(#Name "v(" F4(F) ");\n", a(v[0]), a(v[1]), a(v[2]), a(v[3])); \
  }
// glMultiTexCoord{1,2,3,4}{t}ARB(target, ...) and the vARB forms.
#define MTC1(N, T, F)                                                         \
  void glMultiTexCoord##N##ARB(GLenum t, T s) {                               \
    line("glMultiTexCoord" #N "ARB(%d," F1(F) ");\n", a(t), a(s));            \
  }                                                                           \
  void glMultiTexCoord##N##vARB(GLenum t, const T* v) {                       \
    if (v) line("glMultiTexCoord" #N "vARB(%d," F1(F) ");\n", a(t), a(v[0])); \
  }
#define MTC2(N, T, F)                                                                  \
  void glMultiTexCoord##N##ARB(GLenum t, T s, T r) {                                   \
    line("glMultiTexCoord" #N "ARB(%d," F2(F) ");\n", a(t), a(s), a(r));               \
  }                                                                                    \
  void glMultiTexCoord##N##vARB(GLenum t, const T* v) {                                \
    if (v) line("glMultiTexCoord" #N "vARB(%d," F2(F) ");\n", a(t), a(v[0]), a(v[1])); \
  }
#define MTC3(N, T, F)                                                                           \
  void glMultiTexCoord##N##ARB(GLenum t, T s, T r, T q) {                                       \
    line("glMultiTexCoord" #N "ARB(%d," F3(F) ");\n", a(t), a(s), a(r), a(q));                  \
  }                                                                                             \
  void glMultiTexCoord##N##vARB(GLenum t, const T* v) {                                         \
    if (v) line("glMultiTexCoord" #N "vARB(%d," F3(F) ");\n", a(t), a(v[0]), a(v[1]), a(v[2])); \
  }
#define MTC4(N, T, F)                                                                     \
  void glMultiTexCoord##N##ARB(GLenum t, T s, T r, T q, T w) {                            \
    line("glMultiTexCoord" #N "ARB(%d," F4(F) ");\n", a(t), a(s), a(r), a(q), a(w));      \
  }                                                                                       \
  void glMultiTexCoord##N##vARB(GLenum t, const T* v) {                                   \
    if (v)                                                                                \
      line("glMultiTexCoord" #N "vARB(%d," F4(F) ");\n", a(t), a(v[0]), a(v[1]), a(v[2]), \
           a(v[3]));                                                                      \
  }
// glRect{t}(x1, y1, x2, y2) and glRect{t}v(v1, v2): the two corners inline.
#define RECT(Name, T, F)                                                                 \
  void Name(T x1, T y1, T x2, T y2) {                                                    \
    line(#Name "(" F4(F) ");\n", a(x1), a(y1), a(x2), a(y2));                            \
  }                                                                                      \
  void Name##v(const T* v1, const T* v2) {                                               \
    if (v1 && v2) line(#Name "v(" F4(F) ");\n", a(v1[0]), a(v1[1]), a(v2[0]), a(v2[1])); \
  }
// The parameter vectors: a fixed count of values on the wire, of which only those GL reads
// for pname come from the caller's array (the others are 0).
#define PARAMV(Name, T, F, Count, Values)                   \
  void Name(GLenum target, GLenum pname, const T* params) { \
    if (!params) return;                                    \
    T v[4] = {0, 0, 0, 0};                                  \
    int n = Values(pname);                                  \
    memcpy(v, params, sizeof(T) * (size_t)n);               \
    Count(Name, F, target, pname, v);                       \
  }
#define SEND4(Name, F, t, p, v) \
  line(#Name "(%d,%d," F4(F) ");\n", a(t), a(p), a(v[0]), a(v[1]), a(v[2]), a(v[3]))
// One value, or four where the parameter is a colour or a plane (decoders that scan one value
// read the first and ignore the rest).
#define SEND1OR4(Name, F, t, p, v)                           \
  if (n == 1)                                                \
    line(#Name "(%d,%d," F1(F) ");\n", a(t), a(p), a(v[0])); \
  else                                                       \
    line(#Name "(%d,%d," F4(F) ");\n", a(t), a(p), a(v[0]), a(v[1]), a(v[2]), a(v[3]))

namespace {
int four(GLenum) {
  return 4;
}

// glFog and glLightModel have no target; glPointParameterfvEXT neither.
template <typename T>
void copyParams(T* v, const T* params, int n) {
  memcpy(v, params, sizeof(T) * (size_t)n);
}

// Texture image targets that only check the arguments and read no pixels.
bool proxy(GLenum target) {
  return target == GL_PROXY_TEXTURE_1D || target == GL_PROXY_TEXTURE_2D ||
         target == GL_PROXY_TEXTURE_3D;
}

void textures(const char* name, GLsizei n, const GLuint* names) {
  glenc::Hold hold;
  line("%s(%d);\n", name, (int)n);
  block(names, n > 0 ? (long long)n * 4 : 0);
}

void prioritize(const char* name, GLsizei n, const GLuint* names, const GLclampf* prio) {
  glenc::Hold hold;
  line("%s(%d);\n", name, (int)n);
  long long bytes = n > 0 ? (long long)n * 4 : 0;
  block(names, bytes);
  block(prio, bytes);
}

void colorTable(const char* name, GLenum target, GLenum third, GLsizei width, GLenum format,
                GLenum type, const void* table) {
  glenc::Hold hold;
  line("%s(%d,%d,%d,%d,%d);\n", name, a(target), a(third), (int)width, a(format), a(type));
  glenc::imageBlock(1, width, 1, 1, format, type, table);
}

// glVertexPointer and the others send nothing now: the draw calls send the arrays they use.
void drawArrays(const char* name, GLenum mode, GLint first, GLsizei count) {
  glenc::Hold hold;
  if (count > 0 && first >= 0) glenc::sendArrays((long long)first + count - 1);
  line("%s(%d,%d,%d);\n", name, a(mode), first, (int)count);
}

void texImage3D(const char* name, GLenum target, GLint level, GLint internalformat, GLsizei width,
                GLsizei height, GLsizei depth, GLint border, GLenum format, GLenum type,
                const void* pixels) {
  glenc::Hold hold;
  line("%s(%d,%d,%d,%d,%d,%d,%d,%d,%d);\n", name, a(target), level, internalformat, (int)width,
       (int)height, (int)depth, border, a(format), a(type));
  glenc::imageBlock(3, width, height, depth, format, type, proxy(target) ? nullptr : pixels);
}

void texSubImage3D(const char* name, GLenum target, GLint level, GLint xoffset, GLint yoffset,
                   GLint zoffset, GLsizei width, GLsizei height, GLsizei depth, GLenum format,
                   GLenum type, const void* pixels) {
  glenc::Hold hold;
  line("%s(%d,%d,%d,%d,%d,%d,%d,%d,%d,%d);\n", name, a(target), level, xoffset, yoffset, zoffset,
       (int)width, (int)height, (int)depth, a(format), a(type));
  glenc::imageBlock(3, width, height, depth, format, type, pixels);
}
}  // namespace

extern "C" {

// ---- Vector families ------------------------------------------------------------------------
#include "glvectorcalls.h"

void glLightModelfv(GLenum pname, const GLfloat* params) {
  if (!params) return;
  GLfloat v[4] = {0, 0, 0, 0};
  copyParams(v, params, glsize::lightModelValues(pname));
  line("glLightModelfv(%d,%f,%f,%f,%f);\n", a(pname), a(v[0]), a(v[1]), a(v[2]), a(v[3]));
}
void glLightModeliv(GLenum pname, const GLint* params) {
  if (!params) return;
  GLint v[4] = {0, 0, 0, 0};
  copyParams(v, params, glsize::lightModelValues(pname));
  line("glLightModeliv(%d,%d,%d,%d,%d);\n", a(pname), v[0], v[1], v[2], v[3]);
}
void glFogfv(GLenum pname, const GLfloat* params) {
  if (!params) return;
  if (glsize::fogValues(pname) == 1) {
    line("glFogfv(%d,%f);\n", a(pname), a(params[0]));
    return;
  }
  line("glFogfv(%d,%f,%f,%f,%f);\n", a(pname), a(params[0]), a(params[1]), a(params[2]),
       a(params[3]));
}
void glFogiv(GLenum pname, const GLint* params) {
  if (!params) return;
  if (glsize::fogValues(pname) == 1) {
    line("glFogiv(%d,%d);\n", a(pname), params[0]);
    return;
  }
  line("glFogiv(%d,%d,%d,%d,%d);\n", a(pname), params[0], params[1], params[2], params[3]);
}
void glPointParameterfvEXT(GLenum pname, const GLfloat* params) {
  if (!params) return;
  if (glsize::pointParameterValues(pname) == 1) {
    line("glPointParameterfvEXT(%d,%f);\n", a(pname), a(params[0]));
    return;
  }
  line("glPointParameterfvEXT(%d,%f,%f,%f);\n", a(pname), a(params[0]), a(params[1]), a(params[2]));
}
void glEdgeFlagv(const GLboolean* flag) {
  if (flag) line("glEdgeFlagv(%d);\n", a(*flag));
}
void glClipPlane(GLenum plane, const GLdouble* e) {
  if (e) line("glClipPlane(%d,%f,%f,%f,%f);\n", a(plane), e[0], e[1], e[2], e[3]);
}

// ---- Scalar calls ---------------------------------------------------------------------------
void glAccum(GLenum op, GLfloat value) {
  line("glAccum(%d,%f);\n", a(op), a(value));
}
void glActiveTextureARB(GLenum texture) {
  line("glActiveTextureARB(%d);\n", a(texture));
}
void glAlphaFunc(GLenum func, GLclampf ref) {
  line("glAlphaFunc(%d,%f);\n", a(func), a(ref));
}
void glBegin(GLenum mode) {
  line("glBegin(%d);\n", a(mode));
}
void glBindTexture(GLenum target, GLuint texture) {
  line("glBindTexture(%d,%d);\n", a(target), a(texture));
}
void glBindTextureEXT(GLenum target, GLuint texture) {
  line("glBindTextureEXT(%d,%d);\n", a(target), a(texture));
}
void glBlendColor(GLclampf r, GLclampf g, GLclampf b, GLclampf al) {
  line("glBlendColor(%f,%f,%f,%f);\n", a(r), a(g), a(b), a(al));
}
void glBlendColorEXT(GLfloat r, GLfloat g, GLfloat b, GLfloat al) {
  line("glBlendColorEXT(%f,%f,%f,%f);\n", a(r), a(g), a(b), a(al));
}
void glBlendEquation(GLenum mode) {
  line("glBlendEquation(%d);\n", a(mode));
}
void glBlendEquationEXT(GLenum mode) {
  line("glBlendEquationEXT(%d);\n", a(mode));
}
void glBlendFunc(GLenum s, GLenum d) {
  line("glBlendFunc(%d,%d);\n", a(s), a(d));
}
void glBlendFuncSeparateINGR(GLenum sr, GLenum dr, GLenum sa, GLenum da) {
  line("glBlendFuncSeparateINGR(%d,%d,%d,%d);\n", a(sr), a(dr), a(sa), a(da));
}
void glCallList(GLuint list) {
  line("glCallList(%d);\n", a(list));
}
void glClear(GLbitfield mask) {
  line("glClear(%d);\n", a(mask));
}
void glClearAccum(GLfloat r, GLfloat g, GLfloat b, GLfloat al) {
  line("glClearAccum(%f,%f,%f,%f);\n", a(r), a(g), a(b), a(al));
}
void glClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf al) {
  line("glClearColor(%f,%f,%f,%f);\n", a(r), a(g), a(b), a(al));
}
void glClearDepth(GLclampd depth) {
  line("glClearDepth(%f);\n", a(depth));
}
void glClearIndex(GLfloat c) {
  line("glClearIndex(%f);\n", a(c));
}
void glClearStencil(GLint s) {
  line("glClearStencil(%d);\n", s);
}
void glClientActiveTextureARB(GLenum texture) {
  glenc::setClientActiveTexture(texture);
  line("glClientActiveTextureARB(%d);\n", a(texture));
}
void glColorMask(GLboolean r, GLboolean g, GLboolean b, GLboolean al) {
  line("glColorMask(%d,%d,%d,%d);\n", a(r), a(g), a(b), a(al));
}
void glColorMaterial(GLenum face, GLenum mode) {
  line("glColorMaterial(%d,%d);\n", a(face), a(mode));
}
void glConvolutionParameterf(GLenum target, GLenum pname, GLfloat params) {
  line("glConvolutionParameterf(%d,%d,%f);\n", a(target), a(pname), a(params));
}
void glConvolutionParameteri(GLenum target, GLenum pname, GLint params) {
  line("glConvolutionParameteri(%d,%d,%d);\n", a(target), a(pname), params);
}
void glCopyColorSubTable(GLenum target, GLsizei start, GLint x, GLint y, GLsizei width) {
  line("glCopyColorSubTable(%d,%d,%d,%d,%d);\n", a(target), (int)start, x, y, (int)width);
}
void glCopyColorTable(GLenum target, GLenum internalformat, GLint x, GLint y, GLsizei width) {
  line("glCopyColorTable(%d,%d,%d,%d,%d);\n", a(target), a(internalformat), x, y, (int)width);
}
void glCopyConvolutionFilter1D(GLenum target, GLenum internalformat, GLint x, GLint y,
                               GLsizei width) {
  line("glCopyConvolutionFilter1D(%d,%d,%d,%d,%d);\n", a(target), a(internalformat), x, y,
       (int)width);
}
void glCopyConvolutionFilter2D(GLenum target, GLenum internalformat, GLint x, GLint y,
                               GLsizei width, GLsizei height) {
  line("glCopyConvolutionFilter2D(%d,%d,%d,%d,%d,%d);\n", a(target), a(internalformat), x, y,
       (int)width, (int)height);
}
void glCopyPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum type) {
  line("glCopyPixels(%d,%d,%d,%d,%d);\n", x, y, (int)width, (int)height, a(type));
}
void glCopyTexImage1D(GLenum target, GLint level, GLenum internalformat, GLint x, GLint y,
                      GLsizei width, GLint border) {
  line("glCopyTexImage1D(%d,%d,%d,%d,%d,%d,%d);\n", a(target), level, a(internalformat), x, y,
       (int)width, border);
}
void glCopyTexImage2D(GLenum target, GLint level, GLenum internalformat, GLint x, GLint y,
                      GLsizei width, GLsizei height, GLint border) {
  line("glCopyTexImage2D(%d,%d,%d,%d,%d,%d,%d,%d);\n", a(target), level, a(internalformat), x, y,
       (int)width, (int)height, border);
}
void glCopyTexSubImage1D(GLenum target, GLint level, GLint xoffset, GLint x, GLint y,
                         GLsizei width) {
  line("glCopyTexSubImage1D(%d,%d,%d,%d,%d,%d);\n", a(target), level, xoffset, x, y, (int)width);
}
void glCopyTexSubImage2D(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLint x, GLint y,
                         GLsizei width, GLsizei height) {
  line("glCopyTexSubImage2D(%d,%d,%d,%d,%d,%d,%d,%d);\n", a(target), level, xoffset, yoffset, x, y,
       (int)width, (int)height);
}
void glCopyTexSubImage3D(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLint zoffset,
                         GLint x, GLint y, GLsizei width, GLsizei height) {
  line("glCopyTexSubImage3D(%d,%d,%d,%d,%d,%d,%d,%d,%d);\n", a(target), level, xoffset, yoffset,
       zoffset, x, y, (int)width, (int)height);
}
void glCopyTexSubImage3DEXT(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLint zoffset,
                            GLint x, GLint y, GLsizei width, GLsizei height) {
  line("glCopyTexSubImage3DEXT(%d,%d,%d,%d,%d,%d,%d,%d,%d);\n", a(target), level, xoffset, yoffset,
       zoffset, x, y, (int)width, (int)height);
}
void glCullFace(GLenum mode) {
  line("glCullFace(%d);\n", a(mode));
}
void glDeleteLists(GLuint list, GLsizei range) {
  line("glDeleteLists(%d,%d);\n", a(list), (int)range);
}
void glDepthFunc(GLenum func) {
  line("glDepthFunc(%d);\n", a(func));
}
void glDepthMask(GLboolean flag) {
  line("glDepthMask(%d);\n", a(flag));
}
void glDepthRange(GLclampd n, GLclampd f) {
  line("glDepthRange(%f,%f);\n", a(n), a(f));
}
void glDisable(GLenum cap) {
  line("glDisable(%d);\n", a(cap));
}
void glDisableClientState(GLenum array) {
  glenc::setClientState(array, false);
  line("glDisableClientState(%d);\n", a(array));
}
void glDrawBuffer(GLenum mode) {
  line("glDrawBuffer(%d);\n", a(mode));
}
void glEdgeFlag(GLboolean flag) {
  line("glEdgeFlag(%d);\n", a(flag));
}
void glEnable(GLenum cap) {
  line("glEnable(%d);\n", a(cap));
}
void glEnableClientState(GLenum array) {
  glenc::setClientState(array, true);
  line("glEnableClientState(%d);\n", a(array));
}
void glEnd(void) {
  line("glEnd();\n");
}
void glEndList(void) {
  line("glEndList();\n");
}
void glEvalMesh1(GLenum mode, GLint i1, GLint i2) {
  line("glEvalMesh1(%d,%d,%d);\n", a(mode), i1, i2);
}
void glEvalMesh2(GLenum mode, GLint i1, GLint i2, GLint j1, GLint j2) {
  line("glEvalMesh2(%d,%d,%d,%d,%d);\n", a(mode), i1, i2, j1, j2);
}
void glEvalPoint1(GLint i) {
  line("glEvalPoint1(%d);\n", i);
}
void glEvalPoint2(GLint i, GLint j) {
  line("glEvalPoint2(%d,%d);\n", i, j);
}
void glFinish(void) {
  line("glFinish();\n");
}
void glFlush(void) {
  line("glFlush();\n");
}
void glFogf(GLenum pname, GLfloat param) {
  line("glFogf(%d,%f);\n", a(pname), a(param));
}
void glFogi(GLenum pname, GLint param) {
  line("glFogi(%d,%d);\n", a(pname), param);
}
void glFrontFace(GLenum mode) {
  line("glFrontFace(%d);\n", a(mode));
}
void glFrustum(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
  line("glFrustum(%f,%f,%f,%f,%f,%f);\n", l, r, b, t, n, f);
}
void glHint(GLenum target, GLenum mode) {
  line("glHint(%d,%d);\n", a(target), a(mode));
}
void glHintPGI(GLenum target, GLint mode) {
  line("glHintPGI(%d,%d);\n", a(target), mode);
}
void glHistogram(GLenum target, GLsizei width, GLenum internalformat, GLboolean sink) {
  line("glHistogram(%d,%d,%d,%d);\n", a(target), (int)width, a(internalformat), a(sink));
}
void glIndexMask(GLuint mask) {
  line("glIndexMask(%d);\n", a(mask));
}
void glInitNames(void) {
  line("glInitNames();\n");
}
void glLightModelf(GLenum pname, GLfloat param) {
  line("glLightModelf(%d,%f);\n", a(pname), a(param));
}
void glLightModeli(GLenum pname, GLint param) {
  line("glLightModeli(%d,%d);\n", a(pname), param);
}
void glLightf(GLenum light, GLenum pname, GLfloat param) {
  line("glLightf(%d,%d,%f);\n", a(light), a(pname), a(param));
}
void glLighti(GLenum light, GLenum pname, GLint param) {
  line("glLighti(%d,%d,%d);\n", a(light), a(pname), param);
}
void glLineStipple(GLint factor, GLushort pattern) {
  line("glLineStipple(%d,%d);\n", factor, a(pattern));
}
void glLineWidth(GLfloat width) {
  line("glLineWidth(%f);\n", a(width));
}
void glListBase(GLuint base) {
  line("glListBase(%d);\n", a(base));
}
void glLoadIdentity(void) {
  line("glLoadIdentity();\n");
}
void glLoadName(GLuint name) {
  line("glLoadName(%d);\n", a(name));
}
void glLockArraysEXT(GLint first, GLsizei count) {
  line("glLockArraysEXT(%d,%d);\n", first, (int)count);
}
void glUnlockArraysEXT(void) {
  line("glUnlockArraysEXT();\n");
}
void glLogicOp(GLenum opcode) {
  line("glLogicOp(%d);\n", a(opcode));
}
void glMapGrid1d(GLint un, GLdouble u1, GLdouble u2) {
  line("glMapGrid1d(%d,%f,%f);\n", un, u1, u2);
}
void glMapGrid1f(GLint un, GLfloat u1, GLfloat u2) {
  line("glMapGrid1f(%d,%f,%f);\n", un, a(u1), a(u2));
}
void glMapGrid2d(GLint un, GLdouble u1, GLdouble u2, GLint vn, GLdouble v1, GLdouble v2) {
  line("glMapGrid2d(%d,%f,%f,%d,%f,%f);\n", un, u1, u2, vn, v1, v2);
}
void glMapGrid2f(GLint un, GLfloat u1, GLfloat u2, GLint vn, GLfloat v1, GLfloat v2) {
  line("glMapGrid2f(%d,%f,%f,%d,%f,%f);\n", un, a(u1), a(u2), vn, a(v1), a(v2));
}
void glMaterialf(GLenum face, GLenum pname, GLfloat param) {
  line("glMaterialf(%d,%d,%f);\n", a(face), a(pname), a(param));
}
void glMateriali(GLenum face, GLenum pname, GLint param) {
  line("glMateriali(%d,%d,%d);\n", a(face), a(pname), param);
}
void glMatrixMode(GLenum mode) {
  line("glMatrixMode(%d);\n", a(mode));
}
void glMinmax(GLenum target, GLenum internalformat, GLboolean sink) {
  line("glMinmax(%d,%d,%d);\n", a(target), a(internalformat), a(sink));
}
void glNewList(GLuint list, GLenum mode) {
  line("glNewList(%d,%d);\n", a(list), a(mode));
}
void glOrtho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) {
  line("glOrtho(%f,%f,%f,%f,%f,%f);\n", l, r, b, t, n, f);
}
void glPassThrough(GLfloat token) {
  line("glPassThrough(%f);\n", a(token));
}
void glPixelStoref(GLenum pname, GLfloat param) {
  // GL rounds a float parameter to the nearest integer.
  if (param > -1e9f && param < 1e9f)
    glsize::applyPixelStore(glenc::unpack(), pname,
                            (long long)(param + (param < 0 ? -0.5f : 0.5f)));
  line("glPixelStoref(%d,%f);\n", a(pname), a(param));
}
void glPixelStorei(GLenum pname, GLint param) {
  glsize::applyPixelStore(glenc::unpack(), pname, param);
  line("glPixelStorei(%d,%d);\n", a(pname), param);
}
void glPixelTransferf(GLenum pname, GLfloat param) {
  line("glPixelTransferf(%d,%f);\n", a(pname), a(param));
}
void glPixelTransferi(GLenum pname, GLint param) {
  line("glPixelTransferi(%d,%d);\n", a(pname), param);
}
void glPixelZoom(GLfloat x, GLfloat y) {
  line("glPixelZoom(%f,%f);\n", a(x), a(y));
}
void glPointParameterfEXT(GLenum pname, GLfloat param) {
  line("glPointParameterfEXT(%d,%f);\n", a(pname), a(param));
}
void glPointSize(GLfloat size) {
  line("glPointSize(%f);\n", a(size));
}
void glPolygonMode(GLenum face, GLenum mode) {
  line("glPolygonMode(%d,%d);\n", a(face), a(mode));
}
void glPolygonOffset(GLfloat factor, GLfloat units) {
  line("glPolygonOffset(%f,%f);\n", a(factor), a(units));
}
void glPolygonOffsetEXT(GLfloat factor, GLfloat bias) {
  line("glPolygonOffsetEXT(%f,%f);\n", a(factor), a(bias));
}
void glPopAttrib(void) {
  line("glPopAttrib();\n");
}
void glPopClientAttrib(void) {
  glenc::popClientAttrib();
  line("glPopClientAttrib();\n");
}
void glPopMatrix(void) {
  line("glPopMatrix();\n");
}
void glPopName(void) {
  line("glPopName();\n");
}
void glPushAttrib(GLbitfield mask) {
  line("glPushAttrib(%d);\n", a(mask));
}
void glPushClientAttrib(GLbitfield mask) {
  glenc::pushClientAttrib(mask);
  line("glPushClientAttrib(%d);\n", a(mask));
}
void glPushMatrix(void) {
  line("glPushMatrix();\n");
}
void glPushName(GLuint name) {
  line("glPushName(%d);\n", a(name));
}
void glReadBuffer(GLenum mode) {
  line("glReadBuffer(%d);\n", a(mode));
}
void glResetHistogram(GLenum target) {
  line("glResetHistogram(%d);\n", a(target));
}
void glResetMinmax(GLenum target) {
  line("glResetMinmax(%d);\n", a(target));
}
void glResizeBuffersMESA(void) {
  line("glResizeBuffersMESA();\n");
}
void glRotated(GLdouble angle, GLdouble x, GLdouble y, GLdouble z) {
  line("glRotated(%f,%f,%f,%f);\n", angle, x, y, z);
}
void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) {
  line("glRotatef(%f,%f,%f,%f);\n", a(angle), a(x), a(y), a(z));
}
void glScaled(GLdouble x, GLdouble y, GLdouble z) {
  line("glScaled(%f,%f,%f);\n", x, y, z);
}
void glScalef(GLfloat x, GLfloat y, GLfloat z) {
  line("glScalef(%f,%f,%f);\n", a(x), a(y), a(z));
}
void glScissor(GLint x, GLint y, GLsizei width, GLsizei height) {
  line("glScissor(%d,%d,%d,%d);\n", x, y, (int)width, (int)height);
}
void glShadeModel(GLenum mode) {
  line("glShadeModel(%d);\n", a(mode));
}
void glStencilFunc(GLenum func, GLint ref, GLuint mask) {
  line("glStencilFunc(%d,%d,%d);\n", a(func), ref, a(mask));
}
void glStencilMask(GLuint mask) {
  line("glStencilMask(%d);\n", a(mask));
}
void glStencilOp(GLenum fail, GLenum zfail, GLenum zpass) {
  line("glStencilOp(%d,%d,%d);\n", a(fail), a(zfail), a(zpass));
}
void glTexEnvf(GLenum target, GLenum pname, GLfloat param) {
  line("glTexEnvf(%d,%d,%f);\n", a(target), a(pname), a(param));
}
void glTexEnvi(GLenum target, GLenum pname, GLint param) {
  line("glTexEnvi(%d,%d,%d);\n", a(target), a(pname), param);
}
void glTexGend(GLenum coord, GLenum pname, GLdouble param) {
  line("glTexGend(%d,%d,%f);\n", a(coord), a(pname), param);
}
void glTexGenf(GLenum coord, GLenum pname, GLfloat param) {
  line("glTexGenf(%d,%d,%f);\n", a(coord), a(pname), a(param));
}
void glTexGeni(GLenum coord, GLenum pname, GLint param) {
  line("glTexGeni(%d,%d,%d);\n", a(coord), a(pname), param);
}
void glTexParameterf(GLenum target, GLenum pname, GLfloat param) {
  line("glTexParameterf(%d,%d,%f);\n", a(target), a(pname), a(param));
}
void glTexParameteri(GLenum target, GLenum pname, GLint param) {
  line("glTexParameteri(%d,%d,%d);\n", a(target), a(pname), param);
}
void glTranslated(GLdouble x, GLdouble y, GLdouble z) {
  line("glTranslated(%f,%f,%f);\n", x, y, z);
}
void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
  line("glTranslatef(%f,%f,%f);\n", a(x), a(y), a(z));
}
void glViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
  line("glViewport(%d,%d,%d,%d);\n", x, y, (int)width, (int)height);
}

// ---- Calls with blocks ----------------------------------------------------------------------
void glBitmap(GLsizei width, GLsizei height, GLfloat xorig, GLfloat yorig, GLfloat xmove,
              GLfloat ymove, const GLubyte* bitmap) {
  glenc::Hold hold;
  line("glBitmap(%d,%d,%f,%f,%f,%f);\n", (int)width, (int)height, a(xorig), a(yorig), a(xmove),
       a(ymove));
  block(bitmap, glsize::bitmapBytes(glenc::unpack(), width, height));
}
void glCallLists(GLsizei n, GLenum type, const GLvoid* lists) {
  glenc::Hold hold;
  line("glCallLists(%d,%d);\n", (int)n, a(type));
  block(lists, glsize::callListsBytes(n, type));
}
void glColorTable(GLenum target, GLenum internalformat, GLsizei width, GLenum format, GLenum type,
                  const GLvoid* table) {
  colorTable("glColorTable", target, internalformat, width, format, type, table);
}
void glColorTableEXT(GLenum target, GLenum internalformat, GLsizei width, GLenum format,
                     GLenum type, const void* table) {
  colorTable("glColorTableEXT", target, internalformat, width, format, type, table);
}
void glColorSubTable(GLenum target, GLsizei start, GLsizei count, GLenum format, GLenum type,
                     const GLvoid* data) {
  colorTable("glColorSubTable", target, (GLenum)start, count, format, type, data);
}
void glColorSubTableEXT(GLenum target, GLsizei start, GLsizei count, GLenum format, GLenum type,
                        const void* data) {
  colorTable("glColorSubTableEXT", target, (GLenum)start, count, format, type, data);
}
void glConvolutionFilter1D(GLenum target, GLenum internalformat, GLsizei width, GLenum format,
                           GLenum type, const GLvoid* image) {
  glenc::Hold hold;
  line("glConvolutionFilter1D(%d,%d,%d,%d,%d);\n", a(target), a(internalformat), (int)width,
       a(format), a(type));
  glenc::imageBlock(1, width, 1, 1, format, type, image);
}
void glConvolutionFilter2D(GLenum target, GLenum internalformat, GLsizei width, GLsizei height,
                           GLenum format, GLenum type, const GLvoid* image) {
  glenc::Hold hold;
  line("glConvolutionFilter2D(%d,%d,%d,%d,%d,%d);\n", a(target), a(internalformat), (int)width,
       (int)height, a(format), a(type));
  glenc::imageBlock(2, width, height, 1, format, type, image);
}
void glSeparableFilter2D(GLenum target, GLenum internalformat, GLsizei width, GLsizei height,
                         GLenum format, GLenum type, const GLvoid* row, const GLvoid* column) {
  glenc::Hold hold;
  line("glSeparableFilter2D(%d,%d,%d,%d,%d,%d);\n", a(target), a(internalformat), (int)width,
       (int)height, a(format), a(type));
  glenc::imageBlock(1, width, 1, 1, format, type, row);
  glenc::imageBlock(1, height, 1, 1, format, type, column);
}
void glDeleteTextures(GLsizei n, const GLuint* names) {
  textures("glDeleteTextures", n, names);
}
void glDeleteTexturesEXT(GLsizei n, const GLuint* names) {
  textures("glDeleteTexturesEXT", n, names);
}
void glPrioritizeTextures(GLsizei n, const GLuint* names, const GLclampf* priorities) {
  prioritize("glPrioritizeTextures", n, names, priorities);
}
void glPrioritizeTexturesEXT(GLsizei n, const GLuint* names, const GLclampf* priorities) {
  prioritize("glPrioritizeTexturesEXT", n, names, priorities);
}
void glDrawPixels(GLsizei width, GLsizei height, GLenum format, GLenum type, const GLvoid* pixels) {
  glenc::Hold hold;
  line("glDrawPixels(%d,%d,%d,%d);\n", (int)width, (int)height, a(format), a(type));
  glenc::imageBlock(2, width, height, 1, format, type, pixels);
}
void glFeedbackBuffer(GLsizei size, GLenum type, GLfloat* buffer) {
  // GL writes feedback into the buffer; the client's GL gets one of the same size.
  glenc::Hold hold;
  line("glFeedbackBuffer(%d,%d);\n", (int)size, a(type));
  block(buffer, size > 0 ? (long long)size * 4 : 0);
}
void glLoadMatrixd(const GLdouble* m) {
  glenc::Hold hold;
  line("glLoadMatrixd();\n");
  block(m, 16 * sizeof(GLdouble));
}
void glLoadMatrixf(const GLfloat* m) {
  glenc::Hold hold;
  line("glLoadMatrixf();\n");
  block(m, 16 * sizeof(GLfloat));
}
void glMultMatrixd(const GLdouble* m) {
  glenc::Hold hold;
  line("glMultMatrixd();\n");
  block(m, 16 * sizeof(GLdouble));
}
void glMultMatrixf(const GLfloat* m) {
  glenc::Hold hold;
  line("glMultMatrixf();\n");
  block(m, 16 * sizeof(GLfloat));
}
void glMap1d(GLenum target, GLdouble u1, GLdouble u2, GLint stride, GLint order,
             const GLdouble* points) {
  glenc::Hold hold;
  line("glMap1d(%d,%f,%f,%d,%d);\n", a(target), u1, u2, stride, order);
  block(points, glsize::map1Elements(target, stride, order) * 8);
}
void glMap1f(GLenum target, GLfloat u1, GLfloat u2, GLint stride, GLint order,
             const GLfloat* points) {
  glenc::Hold hold;
  line("glMap1f(%d,%f,%f,%d,%d);\n", a(target), a(u1), a(u2), stride, order);
  block(points, glsize::map1Elements(target, stride, order) * 4);
}
void glMap2d(GLenum target, GLdouble u1, GLdouble u2, GLint ustride, GLint uorder, GLdouble v1,
             GLdouble v2, GLint vstride, GLint vorder, const GLdouble* points) {
  glenc::Hold hold;
  line("glMap2d(%d,%f,%f,%d,%d,%f,%f,%d,%d);\n", a(target), u1, u2, ustride, uorder, v1, v2,
       vstride, vorder);
  block(points, glsize::map2Elements(target, ustride, uorder, vstride, vorder) * 8);
}
void glMap2f(GLenum target, GLfloat u1, GLfloat u2, GLint ustride, GLint uorder, GLfloat v1,
             GLfloat v2, GLint vstride, GLint vorder, const GLfloat* points) {
  glenc::Hold hold;
  line("glMap2f(%d,%f,%f,%d,%d,%f,%f,%d,%d);\n", a(target), a(u1), a(u2), ustride, uorder, a(v1),
       a(v2), vstride, vorder);
  block(points, glsize::map2Elements(target, ustride, uorder, vstride, vorder) * 4);
}
void glPixelMapfv(GLenum map, GLsizei size, const GLfloat* values) {
  glenc::Hold hold;
  line("glPixelMapfv(%d,%d);\n", a(map), (int)size);
  block(values, size > 0 ? (long long)size * 4 : 0);
}
void glPixelMapuiv(GLenum map, GLsizei size, const GLuint* values) {
  glenc::Hold hold;
  line("glPixelMapuiv(%d,%d);\n", a(map), (int)size);
  block(values, size > 0 ? (long long)size * 4 : 0);
}
void glPixelMapusv(GLenum map, GLsizei size, const GLushort* values) {
  glenc::Hold hold;
  line("glPixelMapusv(%d,%d);\n", a(map), (int)size);
  block(values, size > 0 ? (long long)size * 2 : 0);
}
void glPolygonStipple(const GLubyte* mask) {
  glenc::Hold hold;
  line("glPolygonStipple();\n");
  block(mask, glsize::bitmapBytes(glenc::unpack(), 32, 32));
}
void glTexImage1D(GLenum target, GLint level, GLint internalformat, GLsizei width, GLint border,
                  GLenum format, GLenum type, const GLvoid* pixels) {
  glenc::Hold hold;
  line("glTexImage1D(%d,%d,%d,%d,%d,%d,%d);\n", a(target), level, internalformat, (int)width,
       border, a(format), a(type));
  glenc::imageBlock(1, width, 1, 1, format, type, proxy(target) ? nullptr : pixels);
}
void glTexImage2D(GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height,
                  GLint border, GLenum format, GLenum type, const GLvoid* pixels) {
  glenc::Hold hold;
  line("glTexImage2D(%d,%d,%d,%d,%d,%d,%d,%d);\n", a(target), level, internalformat, (int)width,
       (int)height, border, a(format), a(type));
  glenc::imageBlock(2, width, height, 1, format, type, proxy(target) ? nullptr : pixels);
}
void glTexImage3D(GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height,
                  GLsizei depth, GLint border, GLenum format, GLenum type, const GLvoid* pixels) {
  texImage3D("glTexImage3D", target, level, internalformat, width, height, depth, border, format,
             type, pixels);
}
void glTexImage3DEXT(GLenum target, GLint level, GLenum internalformat, GLsizei width,
                     GLsizei height, GLsizei depth, GLint border, GLenum format, GLenum type,
                     const void* pixels) {
  texImage3D("glTexImage3DEXT", target, level, (GLint)internalformat, width, height, depth, border,
             format, type, pixels);
}
void glTexSubImage1D(GLenum target, GLint level, GLint xoffset, GLsizei width, GLenum format,
                     GLenum type, const GLvoid* pixels) {
  glenc::Hold hold;
  line("glTexSubImage1D(%d,%d,%d,%d,%d,%d);\n", a(target), level, xoffset, (int)width, a(format),
       a(type));
  glenc::imageBlock(1, width, 1, 1, format, type, pixels);
}
void glTexSubImage2D(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLsizei width,
                     GLsizei height, GLenum format, GLenum type, const GLvoid* pixels) {
  glenc::Hold hold;
  line("glTexSubImage2D(%d,%d,%d,%d,%d,%d,%d,%d);\n", a(target), level, xoffset, yoffset,
       (int)width, (int)height, a(format), a(type));
  glenc::imageBlock(2, width, height, 1, format, type, pixels);
}
void glTexSubImage3D(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLint zoffset,
                     GLsizei width, GLsizei height, GLsizei depth, GLenum format, GLenum type,
                     const GLvoid* pixels) {
  texSubImage3D("glTexSubImage3D", target, level, xoffset, yoffset, zoffset, width, height, depth,
                format, type, pixels);
}
void glTexSubImage3DEXT(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLint zoffset,
                        GLsizei width, GLsizei height, GLsizei depth, GLenum format, GLenum type,
                        const void* pixels) {
  texSubImage3D("glTexSubImage3DEXT", target, level, xoffset, yoffset, zoffset, width, height,
                depth, format, type, pixels);
}

// ---- Vertex arrays --------------------------------------------------------------------------
void glVertexPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* ptr) {
  glenc::setPointer(glenc::kVertex, size, type, stride, ptr);
}
void glVertexPointerEXT(GLint size, GLenum type, GLsizei stride, GLsizei, const void* ptr) {
  glenc::setPointer(glenc::kVertex, size, type, stride, ptr);
}
void glNormalPointer(GLenum type, GLsizei stride, const GLvoid* ptr) {
  glenc::setPointer(glenc::kNormal, 3, type, stride, ptr);
}
void glNormalPointerEXT(GLenum type, GLsizei stride, GLsizei, const void* ptr) {
  glenc::setPointer(glenc::kNormal, 3, type, stride, ptr);
}
void glColorPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* ptr) {
  glenc::setPointer(glenc::kColor, size, type, stride, ptr);
}
void glColorPointerEXT(GLint size, GLenum type, GLsizei stride, GLsizei, const void* ptr) {
  glenc::setPointer(glenc::kColor, size, type, stride, ptr);
}
void glIndexPointer(GLenum type, GLsizei stride, const GLvoid* ptr) {
  glenc::setPointer(glenc::kIndex, 1, type, stride, ptr);
}
void glIndexPointerEXT(GLenum type, GLsizei stride, GLsizei, const void* ptr) {
  glenc::setPointer(glenc::kIndex, 1, type, stride, ptr);
}
void glTexCoordPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* ptr) {
  glenc::setPointer(glenc::kTexCoord, size, type, stride, ptr);
}
void glTexCoordPointerEXT(GLint size, GLenum type, GLsizei stride, GLsizei, const void* ptr) {
  glenc::setPointer(glenc::kTexCoord, size, type, stride, ptr);
}
void glEdgeFlagPointer(GLsizei stride, const GLvoid* ptr) {
  glenc::setPointer(glenc::kEdgeFlag, 1, GL_UNSIGNED_BYTE, stride, ptr);
}
void glEdgeFlagPointerEXT(GLsizei stride, GLsizei, const GLboolean* ptr) {
  glenc::setPointer(glenc::kEdgeFlag, 1, GL_UNSIGNED_BYTE, stride, ptr);
}

// glInterleavedArrays is, by GL's definition, the enables and pointers below.
void glInterleavedArrays(GLenum format, GLsizei stride, const GLvoid* pointer) {
  struct Layout {
    GLenum format;
    int tex, color, normal, vertex;  // component counts, 0: array off
    GLenum colorType;
  };
  static const Layout layouts[] = {
      {GL_V2F, 0, 0, 0, 2, 0},
      {GL_V3F, 0, 0, 0, 3, 0},
      {GL_C4UB_V2F, 0, 4, 0, 2, GL_UNSIGNED_BYTE},
      {GL_C4UB_V3F, 0, 4, 0, 3, GL_UNSIGNED_BYTE},
      {GL_C3F_V3F, 0, 3, 0, 3, GL_FLOAT},
      {GL_N3F_V3F, 0, 0, 3, 3, 0},
      {GL_C4F_N3F_V3F, 0, 4, 3, 3, GL_FLOAT},
      {GL_T2F_V3F, 2, 0, 0, 3, 0},
      {GL_T4F_V4F, 4, 0, 0, 4, 0},
      {GL_T2F_C4UB_V3F, 2, 4, 0, 3, GL_UNSIGNED_BYTE},
      {GL_T2F_C3F_V3F, 2, 3, 0, 3, GL_FLOAT},
      {GL_T2F_N3F_V3F, 2, 0, 3, 3, 0},
      {GL_T2F_C4F_N3F_V3F, 2, 4, 3, 3, GL_FLOAT},
      {GL_T4F_C4F_N3F_V4F, 4, 4, 3, 4, GL_FLOAT},
  };
  const Layout* l = nullptr;
  for (const Layout& k : layouts)
    if (k.format == format) l = &k;
  if (l == nullptr || stride < 0) return;  // GL refuses it and changes nothing
  const int f = (int)sizeof(GLfloat);
  int colorBytes = l->colorType == GL_UNSIGNED_BYTE ? 4 : l->color * f;
  int pc = l->tex * f, pn = pc + (l->color ? colorBytes : 0), pv = pn + l->normal * f;
  int s = stride != 0 ? stride : pv + l->vertex * f;
  const char* base = static_cast<const char*>(pointer);
  glenc::Hold hold;
  glDisableClientState(GL_EDGE_FLAG_ARRAY);
  glDisableClientState(GL_INDEX_ARRAY);
  if (l->tex) {
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(l->tex, GL_FLOAT, s, base);
  } else {
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  if (l->color) {
    glEnableClientState(GL_COLOR_ARRAY);
    glColorPointer(l->color, l->colorType, s, base + pc);
  } else {
    glDisableClientState(GL_COLOR_ARRAY);
  }
  if (l->normal) {
    glEnableClientState(GL_NORMAL_ARRAY);
    glNormalPointer(GL_FLOAT, s, base + pn);
  } else {
    glDisableClientState(GL_NORMAL_ARRAY);
  }
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(l->vertex, GL_FLOAT, s, base + pv);
}

void glArrayElement(GLint i) {
  glenc::arrayElement(i);
}
void glArrayElementEXT(GLint i) {
  glenc::arrayElement(i);
}
void glDrawArrays(GLenum mode, GLint first, GLsizei count) {
  drawArrays("glDrawArrays", mode, first, count);
}
void glDrawArraysEXT(GLenum mode, GLint first, GLsizei count) {
  drawArrays("glDrawArraysEXT", mode, first, count);
}
void glDrawElements(GLenum mode, GLsizei count, GLenum type, const GLvoid* indices) {
  glenc::Hold hold;
  glenc::sendArrays(glenc::maxIndex(count, type, indices));
  line("glDrawElements(%d,%d,%d);\n", a(mode), (int)count, a(type));
  long long s = type == GL_UNSIGNED_BYTE || type == GL_UNSIGNED_SHORT || type == GL_UNSIGNED_INT
                    ? glsize::typeBytes(type)
                    : 0;
  block(indices, count > 0 ? s * count : 0);
}
void glDrawRangeElements(GLenum mode, GLuint start, GLuint end, GLsizei count, GLenum type,
                         const GLvoid* indices) {
  // The indices are scanned, not trusted to lie within start..end.
  glenc::Hold hold;
  glenc::sendArrays(glenc::maxIndex(count, type, indices));
  line("glDrawRangeElements(%d,%d,%d,%d,%d);\n", a(mode), a(start), a(end), (int)count, a(type));
  long long s = type == GL_UNSIGNED_BYTE || type == GL_UNSIGNED_SHORT || type == GL_UNSIGNED_INT
                    ? glsize::typeBytes(type)
                    : 0;
  block(indices, count > 0 ? s * count : 0);
}

}  // extern "C"
