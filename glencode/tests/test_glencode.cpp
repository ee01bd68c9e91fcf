// The encoder against a peer on a socket pair: byte-exact lines and blocks, the byte counts GL
// really reads, the vertex arrays, the replies and the block bracket.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "glsizes.h"
#include "hxglencode.h"
#include "testutil.h"

namespace {

template <typename T>
std::string bytesOf(const T* data, size_t n) {
  return std::string(reinterpret_cast<const char*>(data), n);
}
template <typename T>
std::string blockOf(const T* data, size_t n) {
  return "glbytes(" + std::to_string(n) + ")\n" + bytesOf(data, n);
}

// The encoder writes before it returns, so the peer's side of the pair holds all of a call.
class GlStream : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
    p.reset(new PARAM_(fds[0], 0));
    p->ioTimeoutMs = 5000;
    glencode_set_param(p.get());
    // The encoder's client state outlives a test: back to GL's defaults.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    for (GLenum a : {GL_VERTEX_ARRAY, GL_NORMAL_ARRAY, GL_COLOR_ARRAY, GL_INDEX_ARRAY,
                     GL_EDGE_FLAG_ARRAY, GL_TEXTURE_COORD_ARRAY})
      glDisableClientState(a);
    take();
  }
  void TearDown() override {
    glencode_set_param(nullptr);
    p.reset();
    close(fds[0]);
    close(fds[1]);
  }
  // Everything the encoder has sent so far.
  std::string take() {
    std::string out;
    char buf[65536];
    ssize_t n;
    while ((n = recv(fds[1], buf, sizeof buf, MSG_DONTWAIT)) > 0)
      out.append(buf, (size_t)n);
    return out;
  }
  void peerSend(const std::string& s) {
    ASSERT_EQ((ssize_t)s.size(), send(fds[1], s.data(), s.size(), MSG_NOSIGNAL));
  }
  // Reads exactly n bytes as the peer (waiting for them).
  std::string peerRead(size_t n) {
    std::string out;
    char buf[4096];
    while (out.size() < n) {
      pollfd pfd{fds[1], POLLIN, 0};
      if (poll(&pfd, 1, 5000) <= 0) break;
      ssize_t k = recv(fds[1], buf, std::min(sizeof buf, n - out.size()), 0);
      if (k <= 0) break;
      out.append(buf, (size_t)k);
    }
    return out;
  }

  int fds[2] = {-1, -1};
  std::unique_ptr<PARAM_> p;
};

const GLfloat kMatrixF[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const GLdouble kMatrixD[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1};
const GLubyte kBytes[256] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
const GLuint kNames[2] = {7, 9};
const GLfloat kPrio[2] = {0.5f, 1};
const GLfloat kPoints[64] = {0.5f, 1.5f};

struct Case {
  const char* what;
  std::function<void()> call;
  std::string expected;
};

TEST_F(GlStream, LinesAndBlocksAreByteExact) {
  static const GLubyte c4[4] = {255, 0, 128, 7};
  static const GLdouble v4[4] = {1, -2, 0.5, 1};
  static const GLfloat r1[2] = {1, 2}, r2[2] = {3, 4};
  static const GLbyte n3[3] = {-1, 0, 127};
  static const GLubyte idx = 200;
  static const GLdouble e2[2] = {0.25, 0.75};
  static const GLdouble plane[4] = {1, 0, -1, 2.5};
  static const GLfloat pos[4] = {1, 2, 3, 0};
  static const GLboolean flag = GL_TRUE;
  static const GLfloat one[1] = {2};  // exactly what GL reads for these pnames
  static const GLint minFilter[1] = {GL_LINEAR};
  static const GLfloat fog[4] = {0.1f, 0.2f, 0.3f, 1};
  static const GLfloat att[3] = {1, 0, 0.5f};
  static const GLushort map[3] = {1, 2, 65535};
  const std::vector<Case> cases = {
      {"begin", [] { glBegin(GL_TRIANGLES); }, "glBegin(4);\n"},
      {"no arguments", [] { glEnd(); }, "glEnd();\n"},
      {"floats", [] { glColor3f(1, 0.5f, 0); }, "glColor3f(1.000000,0.500000,0.000000);\n"},
      {"ubyte vector", [] { glColor4ubv(c4); }, "glColor4ubv(255,0,128,7);\n"},
      {"unsigned as its pattern", [] { glColor3ui(0xffffffffu, 1, 2); }, "glColor3ui(-1,1,2);\n"},
      {"double vector", [] { glVertex4dv(v4); },
       "glVertex4dv(1.000000,-2.000000,0.500000,1.000000);\n"},
      {"short scalars", [] { glVertex2s(-3, 4); }, "glVertex2s(-3,4);\n"},
      {"rectangle corners", [] { glRectfv(r1, r2); },
       "glRectfv(1.000000,2.000000,3.000000,4.000000);\n"},
      {"byte normal", [] { glNormal3bv(n3); }, "glNormal3bv(-1,0,127);\n"},
      {"index", [] { glIndexubv(&idx); }, "glIndexubv(200);\n"},
      {"evaluator", [] { glEvalCoord2dv(e2); }, "glEvalCoord2dv(0.250000,0.750000);\n"},
      {"multitexture", [] { glMultiTexCoord2fARB(GL_TEXTURE1, 0.25f, 1); },
       "glMultiTexCoord2fARB(33985,0.250000,1.000000);\n"},
      {"multitexture vector", [] { glMultiTexCoord1ivARB(GL_TEXTURE0, minFilter); },
       "glMultiTexCoord1ivARB(33984,9729);\n"},
      {"tiny double", [] { glTranslated(1e-9, 0, -1); },
       "glTranslated(0.000000,0.000000,-1.000000);\n"},
      {"six doubles", [] { glOrtho(-1, 1, -2, 2, 0.5, 100); },
       "glOrtho(-1.000000,1.000000,-2.000000,2.000000,0.500000,100.000000);\n"},
      {"clip plane", [] { glClipPlane(GL_CLIP_PLANE0, plane); },
       "glClipPlane(12288,1.000000,0.000000,-1.000000,2.500000);\n"},
      {"mask as pattern", [] { glStencilFunc(GL_ALWAYS, 1, 0xffffffffu); },
       "glStencilFunc(519,1,-1);\n"},
      {"ushort", [] { glLineStipple(2, 0xAAAA); }, "glLineStipple(2,43690);\n"},
      {"extension", [] { glBlendFuncSeparateINGR(1, 0, 770, 771); },
       "glBlendFuncSeparateINGR(1,0,770,771);\n"},
      {"mesa", [] { glResizeBuffersMESA(); }, "glResizeBuffersMESA();\n"},
      {"edge flag vector", [] { glEdgeFlagv(&flag); }, "glEdgeFlagv(1);\n"},
      // Parameter vectors: four values on the wire, only those of pname read.
      {"light position", [] { glLightfv(GL_LIGHT0, GL_POSITION, pos); },
       "glLightfv(16384,4611,1.000000,2.000000,3.000000,0.000000);\n"},
      {"light scalar by vector", [] { glLightfv(GL_LIGHT0, GL_SPOT_EXPONENT, one); },
       "glLightfv(16384,4613,2.000000,0.000000,0.000000,0.000000);\n"},
      {"shininess", [] { glMaterialfv(GL_FRONT, GL_SHININESS, one); },
       "glMaterialfv(1028,5633,2.000000,0.000000,0.000000,0.000000);\n"},
      {"light model", [] { glLightModelfv(GL_LIGHT_MODEL_TWO_SIDE, one); },
       "glLightModelfv(2898,2.000000,0.000000,0.000000,0.000000);\n"},
      // One value; four where the parameter is a colour.
      {"fog density", [] { glFogfv(GL_FOG_DENSITY, one); }, "glFogfv(2914,2.000000);\n"},
      {"fog colour", [] { glFogfv(GL_FOG_COLOR, fog); },
       "glFogfv(2918,0.100000,0.200000,0.300000,1.000000);\n"},
      {"texture parameter",
       [] { glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter); },
       "glTexParameteriv(3553,10241,9729);\n"},
      {"point attenuation", [] { glPointParameterfvEXT(0x8129, att); },
       "glPointParameterfvEXT(33065,1.000000,0.000000,0.500000);\n"},
      // Blocks.
      {"float matrix", [] { glLoadMatrixf(kMatrixF); },
       "glLoadMatrixf();\n" + blockOf(kMatrixF, 64)},
      {"double matrix", [] { glMultMatrixd(kMatrixD); },
       "glMultMatrixd();\n" + blockOf(kMatrixD, 128)},
      {"list names by type", [] { glCallLists(3, GL_UNSIGNED_BYTE, kBytes); },
       "glCallLists(3,5121);\n" + blockOf(kBytes, 3)},
      {"int list names", [] { glCallLists(2, GL_INT, kBytes); },
       "glCallLists(2,5124);\n" + blockOf(kBytes, 8)},
      {"three-byte list names", [] { glCallLists(2, GL_3_BYTES, kBytes); },
       "glCallLists(2,5128);\n" + blockOf(kBytes, 6)},
      {"unknown list type", [] { glCallLists(2, 0x1234, kBytes); },
       "glCallLists(2,4660);\nglbytes(0)\n"},
      {"elements by type", [] { glDrawElements(GL_TRIANGLES, 5, GL_UNSIGNED_SHORT, kBytes); },
       "glDrawElements(4,5,5123);\n" + blockOf(kBytes, 10)},
      {"range elements", [] { glDrawRangeElements(GL_POINTS, 0, 9, 3, GL_UNSIGNED_BYTE, kBytes); },
       "glDrawRangeElements(0,0,9,3,5121);\n" + blockOf(kBytes, 3)},
      {"bitmap rows padded to 4", [] { glBitmap(10, 3, 0, 0, 11, 0, kBytes); },
       "glBitmap(10,3,0.000000,0.000000,11.000000,0.000000);\n" + blockOf(kBytes, 10)},
      {"stipple", [] { glPolygonStipple(kBytes); }, "glPolygonStipple();\n" + blockOf(kBytes, 128)},
      {"rgb pixels, rows padded", [] { glDrawPixels(2, 2, GL_RGB, GL_UNSIGNED_BYTE, kBytes); },
       "glDrawPixels(2,2,6407,5121);\n" + blockOf(kBytes, 14)},
      {"float texture",
       [] { glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 3, 2, 0, GL_RGBA, GL_FLOAT, kBytes); },
       "glTexImage2D(3553,0,6408,3,2,0,6408,5126);\n" + blockOf(kBytes, 96)},
      {"texture without data",
       [] {
         glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 64, 64, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
       },
       "glTexImage2D(3553,0,6408,64,64,0,6408,5121);\nglbytes(0)\n"},
      {"proxy texture reads nothing",
       [] {
         glTexImage2D(GL_PROXY_TEXTURE_2D, 0, GL_RGBA, 4, 4, 0, GL_RGBA, GL_UNSIGNED_BYTE, kBytes);
       },
       "glTexImage2D(32868,0,6408,4,4,0,6408,5121);\nglbytes(0)\n"},
      {"packed texel",
       [] { glTexSubImage1D(GL_TEXTURE_1D, 0, 2, 3, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, kBytes); },
       "glTexSubImage1D(3552,0,2,3,6407,33635);\n" + blockOf(kBytes, 6)},
      {"3-D texture",
       [] {
         glTexImage3DEXT(GL_TEXTURE_3D, 0, GL_LUMINANCE, 2, 2, 2, 0, GL_LUMINANCE,
                         GL_UNSIGNED_SHORT, kBytes);
       },
       "glTexImage3DEXT(32879,0,6409,2,2,2,0,6409,5123);\n" + blockOf(kBytes, 16)},
      {"colour table",
       [] { glColorTable(GL_COLOR_TABLE, GL_RGB, 4, GL_RGB, GL_UNSIGNED_BYTE, kBytes); },
       "glColorTable(32976,6407,4,6407,5121);\n" + blockOf(kBytes, 12)},
      {"separable filter",
       [] {
         glSeparableFilter2D(GL_SEPARABLE_2D, GL_LUMINANCE, 3, 2, GL_LUMINANCE, GL_FLOAT, kBytes,
                             kBytes + 100);
       },
       "glSeparableFilter2D(32786,6409,3,2,6409,5126);\n" + blockOf(kBytes, 12) +
           blockOf(kBytes + 100, 8)},
      {"map1 by stride and order", [] { glMap1f(GL_MAP1_VERTEX_3, 0, 1, 3, 4, kPoints); },
       "glMap1f(3479,0.000000,1.000000,3,4);\n" + blockOf(kPoints, 48)},
      {"map2 by both strides", [] { glMap2f(GL_MAP2_VERTEX_3, 0, 1, 3, 2, 0, 1, 6, 2, kPoints); },
       "glMap2f(3511,0.000000,1.000000,3,2,0.000000,1.000000,6,2);\n" + blockOf(kPoints, 12 * 4)},
      {"pixel map", [] { glPixelMapusv(GL_PIXEL_MAP_I_TO_R, 3, map); },
       "glPixelMapusv(3186,3);\n" + blockOf(map, 6)},
      {"delete textures", [] { glDeleteTexturesEXT(2, kNames); },
       "glDeleteTexturesEXT(2);\n" + blockOf(kNames, 8)},
      {"prioritize: two blocks", [] { glPrioritizeTextures(2, kNames, kPrio); },
       "glPrioritizeTextures(2);\n" + blockOf(kNames, 8) + blockOf(kPrio, 8)},
      {"null array", [] { glLoadMatrixf(nullptr); }, "glLoadMatrixf();\nglbytes(0)\n"},
      {"negative count", [] { glPixelMapfv(GL_PIXEL_MAP_I_TO_R, -4, kPoints); },
       "glPixelMapfv(3186,-4);\nglbytes(0)\n"},
  };
  for (const Case& c : cases) {
    c.call();
    EXPECT_EQ(c.expected, take()) << c.what;
  }
}

TEST_F(GlStream, DecimalPointWhateverTheServersLocale) {
  ottest::TempDir dir;
  ASSERT_EQ("", ottest::useDecimalCommaLocale(dir));
  glVertex3f(0.5f, -1.25f, 2);
  const GLfloat v[2] = {0.75f, 1};
  glVertex2fv(v);
  setlocale(LC_NUMERIC, "C");
  EXPECT_EQ("glVertex3f(0.500000,-1.250000,2.000000);\nglVertex2fv(0.750000,1.000000);\n", take());
}

TEST_F(GlStream, HugeDoublesAreSentWhole) {
  glOrtho(1e307, -1e307, 1e300, 2e300, 1e-9, 1e308);
  char expected[4096];
  int n = snprintf(expected, sizeof expected, "glOrtho(%f,%f,%f,%f,%f,%f);\n", 1e307, -1e307, 1e300,
                   2e300, 1e-9, 1e308);
  EXPECT_GT(n, 1024) << "longer than the line buffer once was";
  EXPECT_EQ(std::string(expected, (size_t)n), take());
}

TEST_F(GlStream, UnpackStateDecidesImageBytes) {
  struct Row {
    const char* what;
    std::function<void()> setup;
    std::function<void()> call;
    size_t bytes;
  };
  const std::vector<Row> rows = {
      {"bitmap, alignment 1", [] { glPixelStorei(GL_UNPACK_ALIGNMENT, 1); },
       [] { glBitmap(10, 3, 0, 0, 0, 0, kBytes); }, 6},
      {"bitmap, alignment 4", [] {}, [] { glBitmap(10, 3, 0, 0, 0, 0, kBytes); }, 10},
      {"bitmap, alignment 8", [] { glPixelStoref(GL_UNPACK_ALIGNMENT, 8); },
       [] { glBitmap(10, 3, 0, 0, 0, 0, kBytes); }, 18},
      {"invalid alignment ignored", [] { glPixelStorei(GL_UNPACK_ALIGNMENT, 3); },
       [] { glBitmap(10, 3, 0, 0, 0, 0, kBytes); }, 10},
      {"pixels, alignment 1", [] { glPixelStorei(GL_UNPACK_ALIGNMENT, 1); },
       [] { glDrawPixels(2, 2, GL_RGB, GL_UNSIGNED_BYTE, kBytes); }, 12},
      {"row length and skips",
       [] {
         glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
         glPixelStorei(GL_UNPACK_ROW_LENGTH, 5);
         glPixelStorei(GL_UNPACK_SKIP_ROWS, 1);
         glPixelStorei(GL_UNPACK_SKIP_PIXELS, 2);
       },
       [] { glDrawPixels(2, 2, GL_LUMINANCE, GL_UNSIGNED_BYTE, kBytes); }, 14},
      {"pop restores the pixel store",
       [] {
         glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
         glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
         glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
         glPopClientAttrib();
       },
       [] { glBitmap(10, 3, 0, 0, 0, 0, kBytes); }, 6},
  };
  for (const Row& r : rows) {
    SetUp();  // the encoder's defaults on a fresh pair
    r.setup();
    take();
    r.call();
    std::string got = take();
    std::string head = "glbytes(" + std::to_string(r.bytes) + ")\n";
    size_t at = got.find("glbytes(");
    ASSERT_NE(std::string::npos, at) << r.what;
    EXPECT_EQ(head, got.substr(at, head.size())) << r.what;
    EXPECT_EQ(at + head.size() + r.bytes, got.size()) << r.what;
    TearDown();
  }
  SetUp();
}

TEST_F(GlStream, DrawSendsTheArraysItUses) {
  const GLfloat v[6] = {0, 0, 1, 0, 1, 1};
  const GLubyte colour[16] = {10, 20, 30, 40, 0, 0, 0, 0, 50, 60, 70, 80};
  glVertexPointer(2, GL_FLOAT, 0, v);
  glColorPointer(4, GL_UNSIGNED_BYTE, 8, colour);  // stride 8: padding between colours
  EXPECT_EQ("", take()) << "a pointer alone sends nothing";
  glEnableClientState(GL_VERTEX_ARRAY);
  EXPECT_EQ("glEnableClientState(32884);\n", take());
  glDrawArrays(GL_LINES, 1, 2);
  EXPECT_EQ("glVertexPointer(2,5126,0);\n" + blockOf(v, 24) + "glDrawArrays(1,1,2);\n", take());

  glEnableClientState(GL_COLOR_ARRAY);
  take();
  const GLubyte indices[2] = {1, 0};
  glDrawElements(GL_LINES, 2, GL_UNSIGNED_BYTE, indices);
  EXPECT_EQ("glVertexPointer(2,5126,0);\n" + blockOf(v, 16) + "glColorPointer(4,5121,8);\n" +
                blockOf(colour, 12) + "glDrawElements(1,2,5121);\n" + blockOf(indices, 2),
            take());

  glArrayElement(1);
  EXPECT_EQ("glColor4ubv(50,60,70,80);\nglVertex2fv(1.000000,0.000000);\n", take());

  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
  take();
  glDrawArrays(GL_POINTS, 0, 3);
  EXPECT_EQ("glDrawArrays(0,0,3);\n", take()) << "disabled arrays are not sent";
}

TEST_F(GlStream, TextureUnitsAndRefusedPointers) {
  const GLshort t[4] = {1, 2, 3, 4};
  const GLint v[6] = {5, 6, 7, 8, 9, 10};
  glClientActiveTextureARB(GL_TEXTURE1);
  glTexCoordPointer(2, GL_SHORT, 0, t);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glClientActiveTextureARB(GL_TEXTURE0);
  glVertexPointer(3, GL_INT, 0, v);
  glVertexPointer(5, GL_INT, 0, t);  // GL refuses size 5 and keeps the array it had
  glEnableClientState(GL_VERTEX_ARRAY);
  take();
  glDrawArrays(GL_POINTS, 1, 1);
  EXPECT_EQ("glVertexPointer(3,5124,0);\n" + blockOf(v, 24) +
                "glClientActiveTextureARB(33985);\nglTexCoordPointer(2,5122,0);\n" + blockOf(t, 8) +
                "glClientActiveTextureARB(33984);\nglDrawArrays(0,1,1);\n",
            take());
  glArrayElement(0);
  EXPECT_EQ("glMultiTexCoord2svARB(33985,1,2);\nglVertex3iv(5,6,7);\n", take());
  glClientActiveTextureARB(GL_TEXTURE1);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glClientActiveTextureARB(GL_TEXTURE0);
}

TEST_F(GlStream, InterleavedArraysBecomeTheirPointers) {
  GLfloat data[18];
  for (int k = 0; k < 18; k++)
    data[k] = (GLfloat)k;
  glInterleavedArrays(GL_C3F_V3F, 0, data);
  take();
  glDrawArrays(GL_TRIANGLES, 0, 3);
  EXPECT_EQ("glVertexPointer(3,5126,24);\n" + blockOf(data + 3, 60) +
                "glColorPointer(3,5126,24);\n" + blockOf(data, 60) + "glDrawArrays(4,0,3);\n",
            take());
}

TEST_F(GlStream, GenTexturesTakesTheReplyAndKeepsEvents) {
  GLuint names[2] = {99, 99};
  std::thread peer([&] {
    EXPECT_EQ("glGenTextures(2);\n", peerRead(18));
    const GLuint answer[2] = {3, 4};
    peerSend("QPushButtonPressed(5) -xy=1,2\nglputbytes(8);\n" + bytesOf(answer, 8));
  });
  glGenTextures(2, names);
  peer.join();
  EXPECT_EQ(3u, names[0]);
  EXPECT_EQ(4u, names[1]);
  ASSERT_EQ(1u, p->queued.size()) << "the event that came meanwhile waits for hxPollEvent";
  EXPECT_EQ("QPushButtonPressed(5) -xy=1,2", p->queued.front());
}

TEST_F(GlStream, RepliesAreBoundedAndKeepTheStreamInStep) {
  GLuint names[1] = {99};
  // More bytes than the caller's array holds: one name is taken, the rest dropped.
  const GLuint answer[3] = {11, 12, 13};
  peerSend("glputbytes(12);\n" + bytesOf(answer, 12) + "gllongresponse(5);\n");
  glGenTexturesEXT(1, names);
  EXPECT_EQ(11u, names[0]);
  EXPECT_EQ(5u, glGenLists(3));
  EXPECT_EQ("glGenTexturesEXT(1);\nglGenLists(3);\n", take());

  // Fewer bytes than asked: the rest of the names are 0, not left as they were.
  GLuint two[2] = {99, 99};
  peerSend("glputbytes(4);\n" + bytesOf(answer, 4));
  glGenTextures(2, two);
  EXPECT_EQ(11u, two[0]);
  EXPECT_EQ(0u, two[1]);

  peerSend("gllongresponse(-3);\n");
  EXPECT_EQ(0u, glGenLists(1)) << "no list name is negative";
  take();

  GLuint none[1] = {99};
  glGenTextures(0, none);
  EXPECT_EQ("", take()) << "nothing to generate, nothing to wait for";

  p->ioTimeoutMs = 200;
  EXPECT_EQ(0u, glGenLists(1)) << "no answer";
}

TEST_F(GlStream, BlockIsBracketedAndAcknowledged) {
  glencode_set_param(nullptr);
  glBegin(GL_POINTS);
  EXPECT_EQ("", take()) << "no connection, no output";

  std::thread peer([&] {
    std::string got = peerRead(13 + 12 + 10);
    EXPECT_EQ("hxGlBegin(7)\nglBegin(0);\nhxGlEnd()\n", got);
    peerSend("hxGlEnd();\n");
  });
  ASSERT_EQ(0, hxGlBegin(p.get(), 7));
  EXPECT_EQ(p.get(), glencode_param());
  glBegin(GL_POINTS);
  EXPECT_EQ(0, hxGlEnd(p.get()));
  peer.join();
  // The lock is free again: another thread can send.
  std::thread other([&] { glEnd(); });
  other.join();
  EXPECT_EQ("glEnd();\n", take());
}

TEST_F(GlStream, ClosedConnectionStillBalancesTheLock) {
  close(fds[1]);
  fds[1] = -1;
  EXPECT_EQ(-1, hxGlBegin(p.get(), 1));
  glBegin(GL_POINTS);  // dropped, no crash
  EXPECT_EQ(-1, hxGlEnd(p.get()));
  std::thread other([&] {
    ASSERT_TRUE(p->lock.try_lock()) << "hxGlEnd released what hxGlBegin took";
    p->lock.unlock();
  });
  other.join();
  EXPECT_EQ(0u, glGenLists(1));
}

TEST(GlSizes, ImageBytesFollowGlsRules) {
  glsize::Unpack def, a1, a8, rows, huge;
  a1.alignment = 1;
  a8.alignment = 8;
  rows.alignment = 1;
  rows.imageHeight = 4;
  rows.skipImages = 1;
  huge.rowLength = huge.skipRows = huge.imageHeight = huge.skipImages = 0x7fffffff;
  struct Row {
    const glsize::Unpack& u;
    int dims;
    long long w, h, d;
    GLenum format, type;
    long long bytes;
  };
  const Row table[] = {
      {def, 2, 2, 2, 1, GL_RGB, GL_UNSIGNED_BYTE, 14},
      {a1, 2, 2, 2, 1, GL_RGB, GL_UNSIGNED_BYTE, 12},
      {def, 2, 3, 3, 1, GL_RGBA, GL_UNSIGNED_BYTE, 36},
      {a8, 2, 3, 2, 1, GL_RGBA, GL_UNSIGNED_BYTE, 16 + 12},
      {def, 2, 3, 2, 1, GL_LUMINANCE_ALPHA, GL_FLOAT, 48},
      {def, 2, 1, 3, 1, GL_RGB, GL_UNSIGNED_SHORT, 8 + 8 + 6},
      {def, 2, 5, 1, 1, GL_RGBA, GL_UNSIGNED_INT_8_8_8_8, 20},
      {def, 2, 3, 2, 1, GL_BGR, GL_UNSIGNED_BYTE_3_3_2, 4 + 3},
      {def, 1, 4, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, 12},
      {def, 3, 2, 2, 2, GL_LUMINANCE, GL_UNSIGNED_BYTE, 4 + 4 + 4 + 2},
      {rows, 3, 2, 2, 2, GL_LUMINANCE, GL_UNSIGNED_BYTE, 2 * 8 + 2 + 2},
      {def, 2, 32, 32, 1, GL_COLOR_INDEX, GL_BITMAP, 128},
      {a8, 2, 32, 32, 1, GL_COLOR_INDEX, GL_BITMAP, 31 * 8 + 4},
      {def, 2, 4, 4, 1, GL_RGB, GL_BITMAP, 0},
      {def, 2, -1, 4, 1, GL_RGB, GL_UNSIGNED_BYTE, 0},
      {def, 2, 4, 4, 1, 0x1234, GL_UNSIGNED_BYTE, 0},
      {def, 2, 4, 4, 1, GL_RGB, GL_DOUBLE, 0},
      {def, 2, 1 << 20, 1 << 20, 1, GL_RGBA, GL_FLOAT, 0},
      // Beyond any block: reported as too large, not wrapped round to a small count.
      {huge, 3, 4, 4, 4, GL_RGBA, GL_DOUBLE, 0},
      {huge, 3, 4, 4, 4, GL_RGBA, GL_FLOAT, glsize::kMaxBlock + 1},
  };
  for (const Row& r : table)
    EXPECT_EQ(r.bytes, glsize::imageBytes(r.u, r.dims, r.w, r.h, r.d, r.format, r.type))
        << r.w << "x" << r.h << "x" << r.d << " format " << r.format << " type " << r.type;
}

TEST(GlFont, MeasuresAndDrawsStrokes) {
  glFont f;
  EXPECT_EQ(0, f.readText("# a two-glyph font\nheight 10\nchar A 8\nline 0 0 4 10\n"
                          "line 4 10 8 0\nchar 32 5\n"));
  f.setFontSize(20);
  EXPECT_FLOAT_EQ(20, f.lineHeight());
  EXPECT_FLOAT_EQ(16, f.charWidth('A'));
  EXPECT_FLOAT_EQ(0, f.charWidth('B'));
  EXPECT_FLOAT_EQ(16 + 10 + 16, f.stringWidth("A A"));
  f.setZoom(0.5f);
  EXPECT_FLOAT_EQ(21, f.stringWidth("A A"));

  int fds[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
  {
    PARAM_ p(fds[0], 0);
    glencode_set_param(&p);
    f.setRotation(90);
    f.drawString(1, 2, "A");
    glencode_set_param(nullptr);
  }
  char buf[4096];
  ssize_t n = recv(fds[1], buf, sizeof buf, MSG_DONTWAIT);
  ASSERT_GT(n, 0);
  EXPECT_EQ(
      "glPushMatrix();\nglTranslatef(1.000000,2.000000,0.000000);\n"
      "glRotatef(90.000000,0.000000,0.000000,1.000000);\n"
      "glScalef(1.000000,1.000000,1.000000);\nglBegin(1);\n"
      "glVertex2f(0.000000,0.000000);\nglVertex2f(4.000000,10.000000);\n"
      "glVertex2f(4.000000,10.000000);\nglVertex2f(8.000000,0.000000);\n"
      "glEnd();\nglPopMatrix();\n",
      std::string(buf, (size_t)n));
  close(fds[0]);
  close(fds[1]);

  const char* bad[] = {"line 0 0 1 1\n",         "height 0\n",  "char A\n", "char 7x 3\n", "bold\n",
                       "char A 3\nline 0 0 1\n", "char 256 3\n"};
  for (const char* text : bad) {
    EXPECT_EQ(-1, f.readText(text)) << text;
    EXPECT_FLOAT_EQ(0, f.charWidth('A')) << text;
  }
  EXPECT_EQ(-1, f.read("/nonexistent/font.txt"));
}

}  // namespace

namespace {

// A recording of two lists, the second calling the first and holding a block.
std::string recordLists(const char* path) {
  glencode_set_param(nullptr);
  FILE* f = fopen(path, "w");
  if (f == nullptr) return "";
  glencode_record(f);
  GLuint first = glGenLists(2);
  glNewList(first, GL_COMPILE);
  glVertex3f(1, 2, 3);
  glEndList();
  glNewList(first + 1, GL_COMPILE_AND_EXECUTE);
  glCallList(first);
  const unsigned char rgb[6] = {'\n', 1, 2, 3, '\n', 5};  // line feeds inside a block
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 2, 1, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb);
  glEndList();
  glencode_record(nullptr);
  fputs("hxText(1,0,0,\"A\");\n", f);
  fclose(f);
  std::string blockLine = "glbytes(6)\n" + std::string((const char*)rgb, 6);
  return blockLine;
}

}  // namespace

TEST_F(GlStream, RecordedListsTakeTheClientsNames) {
  char path[] = "/tmp/otkit-glrec-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::string block = recordLists(path);
  glencode_set_param(p.get());
  const std::string tex = "glTexImage2D(3553,0,6407,2,1,0,6407,5121);\n" + block;
  // The recording answered its own glGenLists.
  std::string recorded;
  {
    FILE* f = fopen(path, "rb");
    char buf[4096];
    size_t n = fread(buf, 1, sizeof buf, f);
    fclose(f);
    recorded.assign(buf, n);
  }
  EXPECT_EQ(
      "glGenLists(2);\nglNewList(1,4864);\nglVertex3f(1.000000,2.000000,3.000000);\n"
      "glEndList();\nglNewList(2,4865);\nglCallList(1);\nglPixelStorei(3317,1);\n" +
          tex + "glEndList();\nhxText(1,0,0,\"A\");\n",
      recorded);

  glFont font;
  ASSERT_EQ(0, font.readText("height 10\nchar A 10\nline 0 0 10 10\n"));
  GLuint names[4] = {0, 0, 0, 0};
  peerSend("gllongresponse(7);\ngllongresponse(9);\n");
  EXPECT_EQ(2, hxSendOpenGL(p.get(), path, names, 4, nullptr, &font));
  EXPECT_EQ(7u, names[0]);
  EXPECT_EQ(9u, names[1]);
  std::string sent = take();
  EXPECT_EQ(0u,
            sent.find("glGenLists(1);\nglNewList(7,4864);\nglVertex3f(1.000000,2.000000,3.000000);"
                      "\nglEndList();\nglGenLists(1);\nglNewList(9,4865);\nglCallList(7);\n"
                      "glPixelStorei(3317,1);\n" +
                      tex + "glEndList();\n"))
      << sent;
  EXPECT_NE(std::string::npos, sent.find("glBegin(1);")) << "the text drawn with the fixed font";

  // Lists beyond the count are left out with their blocks; no font, no text.
  peerSend("gllongresponse(11);\n");
  EXPECT_EQ(1, hxSendOpenGL(p.get(), path, names, 1, nullptr, nullptr));
  EXPECT_EQ(
      "glGenLists(1);\nglNewList(11,4864);\nglVertex3f(1.000000,2.000000,3.000000);\n"
      "glEndList();\n",
      take());

  // A cut block, and a connection that is not the current one.
  ASSERT_EQ(0, truncate(path, (off_t)recorded.find(block) + 13));
  peerSend("gllongresponse(7);\ngllongresponse(9);\n");
  EXPECT_EQ(-2, hxSendOpenGL(p.get(), path, names, 4, nullptr, nullptr));
  take();
  PARAM_ other(-1, 0);
  EXPECT_EQ(-1, hxSendOpenGL(&other, path, names, 4, nullptr, nullptr));
  EXPECT_EQ(-1, hxSendOpenGL(p.get(), "/nonexistent/out.txt", names, 4, nullptr, nullptr));
  unlink(path);
}
