// HxGLWidget: GL blocks sent by a fake display server on a loopback connection, carried out on
// a 64x64 widget under Xvfb (Mesa's software renderer) and checked at the pixels of its frame
// buffer; the replies, the acknowledgements and the event lines read back by the server.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <QGuiApplication>
#include <QTest>
#include <memory>
#include <string>
#include <thread>

#include "fakeserver.h"
#include "hxglwidget.h"
#include "otoptions.h"
#include "otstreams.h"
#include "qttestmain.h"
#include "tcputil.h"
#include "testutil.h"

namespace {

const QColor kRed(255, 0, 0), kGreen(0, 255, 0), kBlue(0, 0, 255), kBlack(0, 0, 0),
    kWhite(255, 255, 255);

bool near(const QColor& a, const QColor& b) {
  return abs(a.red() - b.red()) <= 8 && abs(a.green() - b.green()) <= 8 &&
         abs(a.blue() - b.blue()) <= 8;
}

std::string L(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string L(const char* fmt, ...) {
  char buf[512];
  va_list args;
  va_start(args, fmt);
  vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  return std::string(buf) + "\n";
}

std::string block(const std::string& bytes) {
  return L("glbytes(%d)", (int)bytes.size()) + bytes;
}

// A unit square over the whole widget, (0,0) at the bottom left.
const std::string kSetup = L("glViewport(0,0,64,64)") + L("glMatrixMode(%d)", GL_PROJECTION) +
                           L("glLoadIdentity()") + L("glOrtho(0,1,0,1,-1,1)") +
                           L("glMatrixMode(%d)", GL_MODELVIEW) + L("glLoadIdentity()");

std::string clear(float r, float g, float b) {
  return L("glClearColor(%f,%f,%f,1)", r, g, b) + L("glClear(%d)", GL_COLOR_BUFFER_BIT);
}

class GLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() == "offscreen")
      GTEST_SKIP() << "OpenGL needs a display (run under xvfb-run)";
    otOptionsDefaults(&opt);
    tcp_init();
    ASSERT_EQ(0, conn.open("127.0.0.1", server.port()));
    ASSERT_TRUE(server.accept());
    w.reset(new HxGLWidget(nullptr, 7, conn.handle(), "gl"));
    w->resize(64, 64);
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    w.reset();
    conn.close();
  }
  // Sends stream (from a thread: blocks may be larger than the socket holds) to the GL
  // stream of widget gl on the connection; its result (0: the block ended, -1: lost).
  int feed(const std::string& stream, HxGLWidget* gl = nullptr, int id = 7) {
    int r = 1;
    conn.push(std::unique_ptr<otStreamConsumer>(
        new otGlStream(gl != nullptr ? gl : w.get(), id, conn.handle(), [&r](int x) { r = x; })));
    std::thread t([this, stream] { server.sendFromThread(stream); });
    bool ended = QTest::qWaitFor([&] { return r != 1; }, 20000);
    t.join();
    return ended ? r : 1;
  }
  // A whole block: the stream, its end, the acknowledgement.
  void run(const std::string& stream) {
    EXPECT_EQ(0, feed(stream + "hxGlEnd()\n"));
    EXPECT_EQ("hxGlEnd();", awaitLine("hxGlEnd"));
  }
  // The next line from the client that begins with prefix ("" when none comes within ms).
  std::string awaitLine(const std::string& prefix, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
      std::string line = server.readLine(ms - (int)t.elapsed());
      if (line.compare(0, prefix.size(), prefix) == 0) return line;
    }
    return "";
  }
  QColor at(int x, int y) { return w->grabFramebuffer().pixelColor(x, y); }

  FakeServer server;
  otClientConnection conn;
  std::unique_ptr<HxGLWidget> w;
};

TEST_F(GLTest, ClearedColourAndTriangle) {
  run(kSetup + clear(1, 0, 0) + L("glColor3f(0,1,0)") + L("glBegin(%d)", GL_TRIANGLES) +
      L("glVertex2f(0,0)") + L("glVertex2f(1,0)") + L("glVertex2f(0,1)") + L("glEnd()"));
  QImage img = w->grabFramebuffer();
  ASSERT_EQ(QSize(64, 64), img.size());
  EXPECT_TRUE(near(img.pixelColor(5, 58), kGreen));  // bottom left: inside the triangle
  EXPECT_TRUE(near(img.pixelColor(58, 5), kRed));    // top right: the cleared colour
  // Vector forms and one-value lines with extra values behave as the plain forms.
  run(kSetup + clear(0, 0, 0) + L("glColor3fv(0,0,1)") + L("glLineWidth(1,99)") +
      L("glRectfv(0,0,1,1)"));
  EXPECT_TRUE(near(at(32, 32), kBlue));
}

// The stream's numbers have a decimal point whatever the client's locale (Qt takes it from
// the environment).
TEST_F(GLTest, NumbersUnderADecimalCommaLocale) {
  ottest::TempDir dir;
  ASSERT_EQ("", ottest::useDecimalCommaLocale(dir));
  run(kSetup + L("glClearColor(0.5,0.25,1,1)") + L("glClear(%d)", GL_COLOR_BUFFER_BIT));
  setlocale(LC_NUMERIC, "C");
  EXPECT_TRUE(near(at(32, 32), QColor(128, 64, 255))) << at(32, 32).name().toStdString();
}

TEST_F(GLTest, DisplayListCalledTwiceAndListRange) {
  EXPECT_EQ(0, feed("glGenLists(2)\nhxGlEnd()\n"));
  std::string reply = awaitLine("gllongresponse(");
  long list = 0;
  ASSERT_EQ(1, sscanf(reply.c_str(), "gllongresponse(%ld);", &list)) << reply;
  ASSERT_GT(list, 0);
  EXPECT_EQ("hxGlEnd();", awaitLine("hxGlEnd"));
  EXPECT_EQ(list, w->firstList());
  EXPECT_EQ(list + 1, w->lastList());

  run(kSetup + clear(0, 0, 0) + L("glNewList(%ld,%d)", list, GL_COMPILE) + L("glColor3f(0,0,1)") +
      L("glRectf(0,0,0.25,1)") + L("glEndList()") + L("glCallList(%ld)", list) +
      L("glTranslatef(0.5,0,0)") + L("glCallList(%ld)", list));
  QImage img = w->grabFramebuffer();
  EXPECT_TRUE(near(img.pixelColor(8, 32), kBlue));
  EXPECT_TRUE(near(img.pixelColor(24, 32), kBlack));
  EXPECT_TRUE(near(img.pixelColor(40, 32), kBlue));
  EXPECT_TRUE(near(img.pixelColor(56, 32), kBlack));
  EXPECT_EQ(nullptr, QGuiApplication::overrideCursor());  // the wait cursor ended with the list

  // A later, lower range widens the span the destructor deletes.
  EXPECT_EQ(0, feed("glGenLists(1)\nhxGlEnd()\n"));
  ASSERT_EQ(1, sscanf(awaitLine("gllongresponse(").c_str(), "gllongresponse(%ld);", &list));
  EXPECT_EQ("hxGlEnd();", awaitLine("hxGlEnd"));
  EXPECT_EQ(list, w->lastList());
}

// The names come back as raw bytes; small names hold no line feed.
TEST_F(GLTest, TextureFromBlockAndTextureNames) {
  EXPECT_EQ(0, feed("glGenTextures(2)\nhxGlEnd()\n"));
  EXPECT_EQ("glputbytes(8);", awaitLine("glputbytes("));
  std::string rest = server.readLine();
  ASSERT_EQ(8 + strlen("hxGlEnd();"), rest.size());
  EXPECT_EQ("hxGlEnd();", rest.substr(8));
  GLuint names[2];
  memcpy(names, rest.data(), 8);
  EXPECT_NE(0u, names[0]);
  EXPECT_NE(names[0], names[1]);

  const std::string pixels("\xff\x00\x00\x00\x00\xff", 6);  // red, blue
  run(kSetup + clear(0, 0, 0) + L("glBindTexture(%d,%u)", GL_TEXTURE_2D, names[0]) +
      L("glTexParameteri(%d,%d,%d)", GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST) +
      L("glTexParameteri(%d,%d,%d)", GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST) +
      L("glPixelStorei(%d,1)", GL_UNPACK_ALIGNMENT) +
      L("glTexImage2D(%d,0,%d,2,1,0,%d,%d)", GL_TEXTURE_2D, GL_RGB, GL_RGB, GL_UNSIGNED_BYTE) +
      block(pixels) + L("glEnable(%d)", GL_TEXTURE_2D) + L("glColor3f(1,1,1)") +
      L("glBegin(%d)", GL_QUADS) + L("glTexCoord2f(0,0)") + L("glVertex2f(0,0)") +
      L("glTexCoord2f(1,0)") + L("glVertex2f(1,0)") + L("glTexCoord2f(1,1)") +
      L("glVertex2f(1,1)") + L("glTexCoord2f(0,1)") + L("glVertex2f(0,1)") + L("glEnd()") +
      L("glDisable(%d)", GL_TEXTURE_2D));
  QImage img = w->grabFramebuffer();
  EXPECT_TRUE(near(img.pixelColor(10, 32), kRed));
  EXPECT_TRUE(near(img.pixelColor(54, 32), kBlue));

  // No names for a count below 1; a huge count gets a bounded answer.
  EXPECT_EQ(0, feed("glGenTexturesEXT(-5)\nglGenTextures(1000000000)\nhxGlEnd()\n"));
  EXPECT_EQ("glputbytes(0);", awaitLine("glputbytes("));
  EXPECT_EQ("glputbytes(65536);", awaitLine("glputbytes("));
}

TEST_F(GLTest, BlocksAreBoundedSkippedAndDrained) {
  // A block far larger than the 2x1 image: GL gets its 6 bytes, the rest is drained and the
  // stream goes on in step (the quad after it is drawn).
  std::string big("\xff\xff\xff\x00\xff\x00", 6);
  big += std::string(200000, '\n');
  // A block shorter than the 4x4 image GL would read: the call is skipped.
  std::string shortPixels(8, '\xff');
  run(kSetup + clear(0, 0, 0) + L("glPixelStorei(%d,1)", GL_UNPACK_ALIGNMENT) +
      L("glRasterPos2f(0,0)") + L("glDrawPixels(4,4,%d,%d)", GL_RGBA, GL_UNSIGNED_BYTE) +
      block(shortPixels) +
      L("glTexParameteri(%d,%d,%d)", GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST) +
      L("glTexParameteri(%d,%d,%d)", GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST) +
      L("glTexImage2D(%d,0,%d,2,1,0,%d,%d)", GL_TEXTURE_2D, GL_RGB, GL_RGB, GL_UNSIGNED_BYTE) +
      block(big) + L("glEnable(%d)", GL_TEXTURE_2D) + L("glColor3f(1,1,1)") +
      L("glBegin(%d)", GL_QUADS) + L("glTexCoord2f(0,0)") + L("glVertex2f(0.5,0)") +
      L("glTexCoord2f(1,0)") + L("glVertex2f(1,0)") + L("glTexCoord2f(1,1)") +
      L("glVertex2f(1,1)") + L("glTexCoord2f(0,1)") + L("glVertex2f(0.5,1)") + L("glEnd()") +
      L("glDisable(%d)", GL_TEXTURE_2D) +
      // "No data" allocates the image (a null pointer for GL); a block that belongs to no
      // call is dropped, not read as lines.
      L("glTexImage2D(%d,0,%d,8,8,0,%d,%d)", GL_TEXTURE_2D, GL_RGB, GL_RGB, GL_UNSIGNED_BYTE) +
      "glbytes(0)\n" + block("glClearColor(0,1,0,1)\nglClear(16384)\n") +
      L("glRasterPos2f(0.25,0.5)") + L("glDrawPixels(2,2,%d,%d)", GL_RGB, GL_UNSIGNED_BYTE) +
      block(std::string(12, '\xff')));
  QImage img = w->grabFramebuffer();
  EXPECT_TRUE(near(img.pixelColor(1, 62), kBlack));   // the short block drew nothing
  EXPECT_TRUE(near(img.pixelColor(40, 32), kWhite));  // the texture's first texel
  EXPECT_TRUE(near(img.pixelColor(60, 32), kGreen));  // its second
  EXPECT_TRUE(near(img.pixelColor(16, 31), kWhite));  // the exact block after all of that
  EXPECT_TRUE(near(img.pixelColor(8, 8), kBlack));
}

TEST_F(GLTest, EndOfBlockWhileAwaitingDataIsAcknowledged) {
  EXPECT_EQ(0, feed(L("glTexImage2D(%d,0,%d,2,1,0,%d,%d)", GL_TEXTURE_2D, GL_RGB, GL_RGB,
                      GL_UNSIGNED_BYTE) +
                    "hxGlEnd()\n"));
  EXPECT_EQ("hxGlEnd();", awaitLine("hxGlEnd"));
  EXPECT_EQ("", awaitLine("hxGlEnd", 300));  // exactly one acknowledgement
  run(kSetup + clear(0, 1, 0));
  EXPECT_TRUE(near(at(32, 32), kGreen));
}

TEST_F(GLTest, OverlongLineIsDroppedWhole) {
  run(kSetup + clear(0, 0, 1) + "glClearColor(1,0,0,1" +
      std::string(HxGLWidget::LINE_SIZE + 100, ' ') + ")\n" +
      L("glClear(%d)", GL_COLOR_BUFFER_BIT));
  EXPECT_TRUE(near(at(32, 32), kBlue));
}

TEST_F(GLTest, VertexArraysLiveWithTheWidgetAndAreChecked) {
  const float tri[] = {0, 0, 1, 0, 0, 1};
  std::string verts(reinterpret_cast<const char*>(tri), sizeof tri);
  run(kSetup + clear(0, 0, 0) + L("glEnableClientState(%d)", GL_VERTEX_ARRAY) +
      L("glColor3f(0,1,0)") + L("glVertexPointer(2,%d,0)", GL_FLOAT) + block(verts) +
      L("glDrawArrays(%d,0,3)", GL_TRIANGLES));
  EXPECT_TRUE(near(at(5, 58), kGreen));
  EXPECT_TRUE(near(at(58, 5), kBlack));

  // The array's block stays GL's memory after the block that brought it.
  run(L("glColor3f(0,0,1)") + L("glDrawArrays(%d,0,3)", GL_TRIANGLES));
  EXPECT_TRUE(near(at(5, 58), kBlue));

  // Too short for three vertices, an enabled array without data, an array the stream cannot
  // fill: no draw reads past what arrived.
  run(L("glColor3f(1,0,0)") + L("glVertexPointer(2,%d,0)", GL_FLOAT) + block(verts.substr(0, 16)) +
      L("glDrawArrays(%d,0,3)", GL_TRIANGLES) + L("glVertexPointer(2,%d,0)", GL_FLOAT) +
      block(verts) + L("glEnableClientState(%d)", GL_COLOR_ARRAY) +
      L("glDrawArrays(%d,0,3)", GL_TRIANGLES) + L("glDisableClientState(%d)", GL_COLOR_ARRAY) +
      L("glEnableClientState(%d)", 0x8457 /* GL_FOG_COORD_ARRAY */) +
      L("glDrawArrays(%d,0,3)", GL_TRIANGLES));
  EXPECT_TRUE(near(at(5, 58), kRed));  // only the last draw ran
  run(L("glColor3f(1,1,1)") + L("glDrawElements(%d,3,%d)", GL_TRIANGLES, GL_UNSIGNED_BYTE) +
      block(std::string("\x00\x01\x02", 3)) +
      L("glDrawElements(%d,3,%d)", GL_TRIANGLES, GL_UNSIGNED_BYTE) +
      block(std::string("\x00\x01\x07", 3)));
  EXPECT_TRUE(near(at(5, 58), kWhite));
}

TEST_F(GLTest, EventsAndEveryResizeAreReported) {
  // A square size is reported as any other (earlier lines on the way are skipped).
  w->resize(100, 100);
  EXPECT_EQ("resizeGL(7,100,100)", awaitLine("resizeGL(7,100,100)"));
  w->resize(100, 101);
  EXPECT_EQ("resizeGL(7,100,101)", awaitLine("resizeGL("));
  QTest::mousePress(w.get(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
  EXPECT_EQ("QPushButtonPressed(7) -xy=10,20", awaitLine("QPushButtonPressed("));
  QTest::mouseRelease(w.get(), Qt::LeftButton, Qt::NoModifier, QPoint(11, 21));
  EXPECT_EQ("QPushButtonReleased(7) -xy=11,21", awaitLine("QPushButtonReleased("));
  EXPECT_EQ(1, w->interpret("something else\n"));
  EXPECT_EQ(0, w->interpret("glNoSuchCall(1)\n"));

  // The server's repaint request is reported every time, whatever paints came before.
  while (!server.readLine(200).empty()) {
  }
  for (int k = 0; k < 2; k++) {
    w->requestPaint();
    EXPECT_EQ("paintGL(7)", awaitLine("paintGL(", 3000)) << k;
  }
}

// A widget that was never shown has no context: its blocks are still read, answered and
// acknowledged, so that the server goes on.
TEST_F(GLTest, HiddenWidgetKeepsTheStreamInStep) {
  HxGLWidget hidden(nullptr, 9, conn.handle(), nullptr);
  EXPECT_EQ(0, feed("glGenLists(1)\nglTexImage2D(3553,0,6407,1,1,0,6407,5121)\n" + block("abc") +
                        "glGenTextures(1)\nhxGlEnd()\n",
                    &hidden, 9));
  EXPECT_EQ("gllongresponse(0);", awaitLine("gllongresponse("));
  EXPECT_EQ("glputbytes(4);", awaitLine("glputbytes("));
  std::string rest = server.readLine();
  EXPECT_EQ(std::string(4, '\0') + "hxGlEnd();", rest);
}

}  // namespace
