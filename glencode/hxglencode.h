// The GL command stream encoder: linked into a display server in place of the OpenGL library.
// Every OpenGL 1.x entry point of the stream's vocabulary is defined here under its standard C
// name; instead of drawing, each call sends one text line (and, for array arguments, binary
// blocks "glbytes(n)\n" + n raw bytes in the server's byte order) over the current
// display-server connection, where the display client's GL widget carries it out.
//
// What the receiving end can rely on, beyond one line per call:
// - A block holds exactly the bytes GL reads from the caller's memory: they follow the format,
//   the type, the counts and the unpack state (glPixelStore) the server has set, from the
//   caller's pointer up to the last byte GL reads (skipped rows and pixels included, the
//   padding after the last row not). The client must carry the pixel-store calls out too, so
//   that its GL reads the block the same way; a reader that wants to be safe against a server
//   that drew into two widgets with different unpack state recomputes the size with glsizes.h
//   and skips a call whose block is short.
// - "glbytes(0)" stands for "no data": a null array, arguments GL refuses, a proxy texture,
//   a block above 1 GiB. The reader passes a null pointer (glTexImage* then only allocates)
//   or skips a call that needs data.
// - Client-side vertex arrays: glVertexPointer and the other pointer calls send nothing. Every
//   glDrawArrays, glDrawElements and glDrawRangeElements is preceded by the pointer line of
//   each enabled array ("glVertexPointer(size,type,stride);\n", "glNormalPointer(type,stride);
//   \n", "glColorPointer(...)", "glIndexPointer(...)", "glTexCoordPointer(...)" - between
//   "glClientActiveTextureARB" lines for other texture units - and "glEdgeFlagPointer(stride);
//   \n") with a block holding the elements 0..highest index the draw uses (indices are
//   scanned). The reader must keep each such block alive as the array's memory until the same
//   array gets a new pointer line (or the widget goes), not free it after the pointer call,
//   because GL reads it at the draw.
// - glArrayElement is sent as the immediate-mode calls GL defines it to be (glEdgeFlag,
//   glTexCoord/glMultiTexCoord...vARB, glColor..v, glIndex..v, glNormal3..v, glVertex..v);
//   glInterleavedArrays as the enables and pointers it stands for.
// - Parameter vectors keep their counts (four for glLightfv and the others), but only the
//   values GL reads for pname come from the caller; the others are 0. glFogfv, glTexEnvfv,
//   glTexGen*v, glTexParameter*v and glConvolutionParameter*v send four values where the
//   parameter is a colour or a plane (GL_FOG_COLOR, GL_TEXTURE_BORDER_COLOR, GL_EYE_PLANE...),
//   glPointParameterfvEXT three for GL_DISTANCE_ATTENUATION_EXT: a reader that scans one value
//   still gets the first, a reader that rebuilds a four-value array gets them all.
//
// One connection at a time per process (hxGlBegin or glencode_set_param chooses it); calls
// made while none is set are dropped. The encoder's client state (unpack parameters, arrays)
// is one per process as in GL's client; it is not meant to be driven from two threads at once.
#ifndef HXGLENCODE_H
#define HXGLENCODE_H

#include <GL/gl.h>

#include <cstddef>
#include <cstdio>
#include <vector>

#include "hxserver.h"

// Locks p (hxlock), makes it the current connection and opens the GL block of the widget id.
// 0; -1 for a null p or a closed connection. The lock is kept in every case but a null p, so
// that the hxGlEnd the server calls next releases it.
int hxGlBegin(PARAM_* p, int id);
// Ends the block, waits until the client acknowledges it with "hxGlEnd" and unlocks p.
// 0; -1 when the connection closed or the acknowledgement did not come within p->ioTimeoutMs
// (the lock is released in every case).
int hxGlEnd(PARAM_* p);
// Makes p the current connection without locking or sending (null: none). 0.
int glencode_set_param(PARAM_* p);
// The current connection, null when none is set.
PARAM_* glencode_param();
// Records: while no connection is current, the calls are written to f as they would be sent
// (lines and blocks), and the calls that wait for a reply answer themselves (glGenLists and
// glGenTextures count up from 1 within a recording). Null ends the recording; f stays the
// caller's. 0.
int glencode_record(FILE* f);

// ---- BMP images for textures ----------------------------------------------------------------
// Uncompressed 24- and 32-bit Windows bitmaps (BI_RGB, or BI_BITFIELDS with the usual masks).
// The result is malloc'ed pixel data, *channels (3: RGB, 4: RGBA) bytes per pixel, rows without
// padding and bottom row first, as glTexImage2D wants it with GL_UNPACK_ALIGNMENT 1; a 32-bit
// file whose alpha bytes are all 0 is given opaque alpha. Null for a file that cannot be read,
// is not such a bitmap, is larger than 32768 pixels a side or 64 Mpixels, or is cut short.
unsigned char* hxcImageRead(const char* filename, int* width, int* height, int* channels);
unsigned char* hxcImageReadMemory(const void* data, size_t size, int* width, int* height,
                                  int* channels);
void hxcImageFree(unsigned char* pixels);

// ---- Stroke font ----------------------------------------------------------------------------
// A vector font drawn with GL_LINES through the GL calls above. The font description is a text
// file (or text in memory), one item a line, '#' starts a comment:
//   height H                  the line height in font units (at least 1)
//   char C ADVANCE            starts the glyph of C: a decimal character code (32..255) or a
//                             single printable character; ADVANCE is its width in font units
//   line X1 Y1 X2 Y2          a stroke of the current glyph, font units, y up, origin at the
//                             glyph's base line on the left
// A font size of S draws text S units tall (the line height scaled to S), times the zoom.
class glFont {
 public:
  glFont();
  ~glFont();
  glFont(const glFont&) = delete;
  glFont& operator=(const glFont&) = delete;
  // 0, or -1 when the file cannot be read or a line is malformed (the font is then empty).
  int read(const char* filename);
  int readText(const char* text);

  float lineHeight() const;      // in drawing units (font size times zoom)
  float charWidth(int c) const;  // 0 for a character the font lacks
  float stringWidth(const char* s) const;
  void setZoom(float zoom) { zoom_ = zoom; }
  void setFontSize(float size) { size_ = size; }
  void setRotation(float degrees) { rotation_ = degrees; }
  float zoom() const { return zoom_; }
  float fontSize() const { return size_; }
  float rotation() const { return rotation_; }
  // Draws s with its base line starting at (x, y), rotated counter-clockwise about that point.
  void drawString(float x, float y, const char* s) const;

 private:
  struct Stroke {
    float x1, y1, x2, y2;
  };
  struct Glyph {
    float advance = 0;
    int first = 0, count = 0;  // strokes_[first .. first+count)
  };
  float scale() const;
  float height_ = 1;
  float zoom_ = 1, size_ = 12, rotation_ = 0;
  Glyph glyphs_[256];
  std::vector<Stroke> strokes_;
};

// ---- Recorded GL files ------------------------------------------------------------------------
// Sends a recorded GL file (glencode_record) to the widget of the current GL block, between
// hxGlBegin(p, id) and hxGlEnd(p): every display list of the file (glNewList ... glEndList)
// becomes a list of the client's own, named by glGenLists there, and the k-th one's name goes
// to listarray[k]; the file's glCallList lines call the lists by their new names, its
// glGenLists lines are dropped, everything else (blocks included) passes as it stands.
// Lists beyond count are left out, with their blocks. A line "hxText(f,x,y,"text");" draws
// text at (x, y) with font f, 0 proportional, 1 fixed (drawString; a null font leaves it out).
// The number of lists sent; -1 when p is not the current connection or the file cannot be
// read, -2 when it is cut short or malformed (the lists made so far are in listarray).
int hxSendOpenGL(PARAM_* p, const char* file, GLuint* listarray, int count,
                 const glFont* proportional, const glFont* fixed);

// Extension entry points of the vocabulary that GL/gl.h does not declare (the prototypes of
// GL/glext.h).
extern "C" {
void glBlendColorEXT(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha);
void glBlendEquationEXT(GLenum mode);
void glBlendFuncSeparateINGR(GLenum sfactorRGB, GLenum dfactorRGB, GLenum sfactorAlpha,
                             GLenum dfactorAlpha);
void glColorSubTableEXT(GLenum target, GLsizei start, GLsizei count, GLenum format, GLenum type,
                        const void* data);
void glColorTableEXT(GLenum target, GLenum internalFormat, GLsizei width, GLenum format,
                     GLenum type, const void* table);
void glCopyTexSubImage3DEXT(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLint zoffset,
                            GLint x, GLint y, GLsizei width, GLsizei height);
void glLockArraysEXT(GLint first, GLsizei count);
void glUnlockArraysEXT(void);
void glPointParameterfEXT(GLenum pname, GLfloat param);
void glPointParameterfvEXT(GLenum pname, const GLfloat* params);
void glPolygonOffsetEXT(GLfloat factor, GLfloat bias);
void glTexImage3DEXT(GLenum target, GLint level, GLenum internalformat, GLsizei width,
                     GLsizei height, GLsizei depth, GLint border, GLenum format, GLenum type,
                     const void* pixels);
void glTexSubImage3DEXT(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLint zoffset,
                        GLsizei width, GLsizei height, GLsizei depth, GLenum format, GLenum type,
                        const void* pixels);
void glBindTextureEXT(GLenum target, GLuint texture);
void glDeleteTexturesEXT(GLsizei n, const GLuint* textures);
void glGenTexturesEXT(GLsizei n, GLuint* textures);
void glPrioritizeTexturesEXT(GLsizei n, const GLuint* textures, const GLclampf* priorities);
void glArrayElementEXT(GLint i);
void glDrawArraysEXT(GLenum mode, GLint first, GLsizei count);
void glColorPointerEXT(GLint size, GLenum type, GLsizei stride, GLsizei count, const void* pointer);
void glEdgeFlagPointerEXT(GLsizei stride, GLsizei count, const GLboolean* pointer);
void glIndexPointerEXT(GLenum type, GLsizei stride, GLsizei count, const void* pointer);
void glNormalPointerEXT(GLenum type, GLsizei stride, GLsizei count, const void* pointer);
void glTexCoordPointerEXT(GLint size, GLenum type, GLsizei stride, GLsizei count,
                          const void* pointer);
void glVertexPointerEXT(GLint size, GLenum type, GLsizei stride, GLsizei count,
                        const void* pointer);
void glResizeBuffersMESA(void);
void glHintPGI(GLenum target, GLint mode);
}

#endif
