// The GL stream end to end under Xvfb: a display server program linked with the GL encoder
// (glsceneserver) draws a lit cube, a textured quad from a BMP file and a display list called
// twice into the GL widget of a client window on loopback; the pictures are checked at their
// pixels, the names the server got from its reply calls against the client's GL, and a square
// resize is answered with a frame of the new size.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <QApplication>
#include <QGuiApplication>
#include <QTest>
#include <memory>
#include <string>

#include "hxglwidget.h"
#include "interpreter.h"
#include "mainwindow.h"
#include "otspawn.h"
#include "qttestmain.h"
#include "tcputil.h"
#include "testutil.h"

namespace {

struct Frame {
  int n = 0, w = 0, h = 0;
  unsigned list = 0, tex0 = 0, tex1 = 0;
};

// A 2 x 2 24-bit BMP: bottom row red, blue; top row white, black (rows padded to 4 bytes).
std::string bmp2x2() {
  std::string f;
  auto le = [&f](unsigned v, int n) {
    for (int i = 0; i < n; i++)
      f += (char)((v >> (8 * i)) & 0xff);
  };
  f += "BM";
  le(54 + 16, 4);
  le(0, 4);
  le(54, 4);
  le(40, 4);
  le(2, 4);
  le(2, 4);
  le(1, 2);
  le(24, 2);
  le(0, 4);
  le(16, 4);
  le(2835, 4);
  le(2835, 4);
  le(0, 4);
  le(0, 4);
  const unsigned char rows[16] = {0,   0,   255, 255, 0, 0, 0, 0,   // red, blue (B, G, R)
                                  255, 255, 255, 0,   0, 0, 0, 0};  // white, black
  f.append((const char*)rows, sizeof rows);
  return f;
}

bool near(const QColor& a, int r, int g, int b) {
  return abs(a.red() - r) <= 10 && abs(a.green() - g) <= 10 && abs(a.blue() - b) <= 10;
}

class GLEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() == "offscreen")
      GTEST_SKIP() << "OpenGL needs a display (run under xvfb-run)";
    ottest::writeFile(dir.file("tex.bmp"), bmp2x2());
    std::string cmd = std::string(GLSCENESERVER_PROGRAM) + " " + dir.file("tex.bmp");
    ASSERT_GT(server.spawn(cmd.c_str()), 0);
    const char* line = server.readLine();
    int port = 0;
    ASSERT_TRUE(line != nullptr && sscanf(line, "port %d", &port) == 1) << (line ? line : "");
    tcp_init();
    window.reset(new otClientWindow("127.0.0.1", port));
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return gl() != nullptr && gl()->isValid(); }, 10000));
  }
  void TearDown() override {
    window.reset();
    server.writeString("\xff");
    tcp_free();
  }
  HxGLWidget* gl() { return qobject_cast<HxGLWidget*>(window->interpreter()->widget(1)); }
  // Waits for the server's report of a frame of the given width.
  bool frameOfWidth(int w, Frame* f) {
    return QTest::qWaitFor(
        [&] {
          QCoreApplication::processEvents();
          while (server.select(0) == 1) {
            const char* line = server.readLine();
            if (line == nullptr) return false;
            if (sscanf(line, "frame %d %d %d list %u textures %u %u", &f->n, &f->w, &f->h, &f->list,
                       &f->tex0, &f->tex1) == 6 &&
                f->w == w)
              return true;
          }
          return false;
        },
        10000);
  }
  QImage picture() {
    QCoreApplication::processEvents();
    return gl()->grabFramebuffer();
  }

  ottest::TempDir dir;
  otSpawn server;
  std::unique_ptr<otClientWindow> window;
};

TEST_F(GLEndToEnd, SceneRepliesAndResize) {
  Frame f;
  ASSERT_TRUE(frameOfWidth(128, &f));
  QImage img = picture();
  ASSERT_EQ(img.size(), QSize(128, 128));
  if (const char* keep = getenv("OTKIT_GL_PICTURE")) img.save(QString::fromLocal8Bit(keep));
  // The texture keeps its orientation: BMP rows come bottom first.
  EXPECT_TRUE(near(img.pixelColor(19, 45), 255, 0, 0))
      << img.pixelColor(19, 45).name().toStdString();
  EXPECT_TRUE(near(img.pixelColor(45, 45), 0, 0, 255));
  EXPECT_TRUE(near(img.pixelColor(19, 19), 255, 255, 255));
  EXPECT_TRUE(near(img.pixelColor(45, 19), 0, 0, 0));
  // The cube's face at 30 degrees: diffuse cos 30 plus the scene's ambient 0.2 x 0.2.
  EXPECT_TRUE(near(img.pixelColor(96, 96), 10, 231, 10))
      << img.pixelColor(96, 96).name().toStdString();
  EXPECT_TRUE(near(img.pixelColor(96, 70), 51, 51, 51));
  // The list, twice, with the background between.
  EXPECT_TRUE(near(img.pixelColor(16, 96), 255, 255, 0));
  EXPECT_TRUE(near(img.pixelColor(42, 96), 255, 255, 0));
  EXPECT_TRUE(near(img.pixelColor(29, 96), 51, 51, 51));

  // The names came from the client's GL.
  EXPECT_GT(f.list, 0u);
  EXPECT_EQ((int)f.list, gl()->firstList());
  EXPECT_NE(f.tex0, 0u);
  EXPECT_NE(f.tex1, 0u);
  EXPECT_NE(f.tex0, f.tex1);
  gl()->makeCurrent();
  EXPECT_TRUE(glIsList(f.list));
  EXPECT_TRUE(glIsTexture(f.tex0));
  gl()->doneCurrent();

  // A square resize is reported and redrawn at the new size.
  gl()->resize(192, 192);
  ASSERT_TRUE(frameOfWidth(192, &f));
  EXPECT_EQ(f.h, 192);
  img = picture();
  ASSERT_EQ(img.size(), QSize(192, 192));
  EXPECT_TRUE(near(img.pixelColor(144, 144), 10, 231, 10));
  EXPECT_TRUE(near(img.pixelColor(24, 144), 255, 255, 0));
  EXPECT_TRUE(near(img.pixelColor(28, 68), 255, 0, 0));
}

}  // namespace
