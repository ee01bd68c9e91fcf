// The connection object and its stream consumers against a server played by the test on a
// real loopback socket: scripts split at every byte boundary, blocks split across reads,
// over-long lines, blocks above the bound, connections lost in the middle of a line and of a
// block, streams one after the other.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <QTest>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fakeserver.h"
#include "hxglwidget.h"
#include "hxsvganimator.h"
#include "otconnection.h"
#include "otoptions.h"
#include "otstreams.h"
#include "qdrawwidget.h"
#include "qttestmain.h"
#include "tcputil.h"
#include "testutil.h"

namespace {

// Notes what it is given. "B<n>" asks for a block of n bytes; "D" starts a drawing on the
// drawing widget, "S" an SVG document, "G" a GL block, "L<n>" n argument lines.
class Recorder : public otStreamConsumer {
 public:
  int size = 64;
  std::string events;
  std::string bytes;
  int parts = 0;
  QDrawWidget* draw = nullptr;
  HxGLWidget* gl = nullptr;

  int lineSize() const override { return size; }
  void line(otClientConnection& c, const char* text, int len, bool cut) override {
    std::string t(text, (size_t)len);
    // A line without its line feed (cut, or the last of a server gone) is closed with '|'.
    events += (cut ? "cut:" : "line:") + t + (t.empty() || t.back() != '\n' ? "|" : "");
    if (t[0] == 'B') {
      bytes.clear();
      c.expectBlock(atoll(t.c_str() + 1));
    } else if (t == "D\n") {
      c.push(std::unique_ptr<otStreamConsumer>(new otDrawStream(draw)));
    } else if (t == "S\n") {
      c.push(std::unique_ptr<otStreamConsumer>(new otSvgStream(draw)));
    } else if (t == "G\n") {
      c.push(std::unique_ptr<otStreamConsumer>(new otGlStream(gl, 5, c.handle())));
    } else if (t[0] == 'L') {
      c.push(std::unique_ptr<otStreamConsumer>(new otLinesStream(
          atol(t.c_str() + 1), 8,
          [this](const char* a, int n, bool was) {
            events += std::string("arg:") + std::string(a, (size_t)n) + (was ? "(cut)|" : "");
          },
          [this](bool complete) { events += complete ? "args|" : "args lost|"; })));
    }
  }
  void block(otClientConnection&, const char* data, int len, bool last) override {
    bytes.append(data, (size_t)len);
    parts++;
    if (last) events += "block:" + bytes + "|";
  }
  void lost() override { events += "lost|"; }
};

class Connection : public ::testing::Test {
 protected:
  void SetUp() override {
    otOptionsDefaults(&opt);
    tcp_init();
    conn.setBase(&base);
    ASSERT_EQ(0, conn.open("127.0.0.1", server.port()));
    ASSERT_TRUE(server.accept());
    QObject::connect(&conn, &otClientConnection::lost, [this] { lostSignals++; });
  }
  void TearDown() override {
    conn.close();
    conn.setBase(nullptr);
  }
  // Lets the connection take what has arrived.
  void settle(int ms = 15) { QTest::qWait(ms); }
  // Sends script in two parts, cut at byte k, with a pause between them.
  void sendSplit(const std::string& script, size_t k) {
    ASSERT_TRUE(server.send(script.substr(0, k)));
    settle(4);
    ASSERT_TRUE(server.send(script.substr(k)));
  }
  // Reconnects for the next round (the recorder starts empty).
  void fresh() {
    conn.close();
    base = Recorder();
    base.draw = keepDraw;
    base.gl = keepGl;
    ASSERT_EQ(0, conn.open("127.0.0.1", server.port()));
    ASSERT_TRUE(server.accept());
  }

  FakeServer server;
  otClientConnection conn;
  Recorder base;
  QDrawWidget* keepDraw = nullptr;
  HxGLWidget* keepGl = nullptr;
  int lostSignals = 0;
};

// Lines, an over-long line and a block come out the same wherever the bytes are cut.
TEST_F(Connection, EverySplitGivesTheSameLinesAndBlocks) {
  const std::string longLine =
      "0123456789abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const std::string script = "one\nB5\nhe\nlo" + longLine + "\nL2\nshort\n0123456789\nlast\n";
  // The long line keeps the 63 bytes that the buffer of 64 holds.
  const std::string want = "line:one\nline:B5\nblock:he\nlo|cut:" + longLine.substr(0, 63) +
                           "|line:L2\narg:short\narg:0123456(cut)|args|line:last\n";
  for (size_t k = 1; k < script.size(); k++) {
    fresh();
    sendSplit(script, k);
    ASSERT_TRUE(QTest::qWaitFor([&] { return base.events.size() >= want.size(); }, 3000)) << k;
    settle(5);
    EXPECT_EQ(want, base.events) << "split at " << k;
    EXPECT_EQ(0, conn.depth());
    EXPECT_FALSE(conn.inStream());
  }
}

// A block larger than one read, sent in pieces: its parts come in order and the last once.
TEST_F(Connection, ABlockSplitAcrossReadsArrivesWhole) {
  std::string data(300000, '\0');
  for (size_t i = 0; i < data.size(); i++)
    data[i] = (char)(i * 7 + i / 256);
  ASSERT_TRUE(server.send("B300000\n"));
  for (size_t off = 0; off < data.size(); off += 70001) {
    ASSERT_TRUE(server.send(data.substr(off, 70001)));
    settle(3);
  }
  ASSERT_TRUE(server.send("after\n"));
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return base.events.find("after") != std::string::npos; }, 5000));
  EXPECT_EQ(data, base.bytes);
  EXPECT_GE(base.parts, 5);  // never more than one read's worth at a time
  EXPECT_EQ("line:B300000\nblock:" + data + "|line:after\n", base.events);
}

// A block announced above what the stream may bring is refused before a byte of it is waited
// for: the connection goes, the reason says why.
TEST_F(Connection, ABlockAboveTheBoundIsRefusedAtOnce) {
  opt.stream_max_mb = 1;
  tcp_clear_broken_reason();
  ASSERT_TRUE(server.send("B1048577\n"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !conn.isOpen(); }, 3000));
  EXPECT_EQ("line:B1048577\nlost|", base.events);
  EXPECT_EQ(1, lostSignals);
  EXPECT_NE(nullptr, strstr(tcp_broken_reason(), "above 1 MiB")) << tcp_broken_reason();
  // Within the bound a block is taken.
  fresh();
  ASSERT_TRUE(server.send("B1048576\n" + std::string(1048576, 'x') + "end\n"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return base.events.find("end") != std::string::npos; }, 5000));
  EXPECT_TRUE(conn.isOpen());
  EXPECT_EQ(1048576u, base.bytes.size());
}

// A server that goes in the middle of a line or of a block: what came is handed over, then
// every consumer on the stack hears of the loss, and the signal comes once.
TEST_F(Connection, LostInTheMiddleOfALineAndOfABlock) {
  ASSERT_TRUE(server.send("whole\nhal"));
  settle();
  EXPECT_EQ("line:whole\n", base.events);
  server.dropClient();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !conn.isOpen(); }, 3000));
  // The part of a line is never taken for a whole one.
  EXPECT_EQ("line:whole\nlost|", base.events);
  EXPECT_EQ(1, lostSignals);

  fresh();
  ASSERT_TRUE(server.send("B10\nabc"));
  settle();
  EXPECT_TRUE(conn.inStream());
  server.dropClient();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !conn.isOpen(); }, 3000));
  EXPECT_EQ("line:B10\nlost|", base.events);
  EXPECT_EQ("abc", base.bytes);
  EXPECT_FALSE(conn.inStream());

  fresh();
  ASSERT_TRUE(server.send("L3\nx\n"));
  settle();
  EXPECT_EQ(1, conn.depth());
  server.dropClient();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !conn.isOpen(); }, 3000));
  EXPECT_EQ("line:L3\narg:x\nargs lost|lost|", base.events);
  EXPECT_EQ(0, conn.depth());
}

// A stream that stalls is dropped after the stall limit; silence outside a stream is not.
TEST_F(Connection, AStalledStreamIsDroppedAfterTheLimit) {
  opt.stream_timeout = 1;
  ASSERT_TRUE(server.send("idle\n"));
  QTest::qWait(1600);
  EXPECT_TRUE(conn.isOpen());
  tcp_clear_broken_reason();
  ASSERT_TRUE(server.send("B4\nab"));
  QElapsedTimer t;
  t.start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !conn.isOpen(); }, 5000));
  EXPECT_GE(t.elapsed(), 700);
  EXPECT_NE(nullptr, strstr(tcp_broken_reason(), "sent nothing for 1 s")) << tcp_broken_reason();
}

class Streams : public Connection {
 protected:
  void SetUp() override {
    Connection::SetUp();
    draw.reset(new QDrawWidget(nullptr, nullptr, 0, conn.handle(), 3));
    draw->resize(40, 30);
    draw->resizeBuffer(40, 30);
    keepDraw = base.draw = draw.get();
    gl.reset(new HxGLWidget(nullptr, 5, conn.handle()));  // never shown: no context
    keepGl = base.gl = gl.get();
  }
  void TearDown() override {
    Connection::TearDown();
    gl.reset();
    draw.reset();
  }
  QImage picture() const { return draw->pixmap().toImage(); }

  std::unique_ptr<QDrawWidget> draw;
  std::unique_ptr<HxGLWidget> gl;
};

// Two drawings in a row, with a point list, a polygon and an SVG text in them: wherever the
// script is cut, the picture is the same and the lines after the drawings reach the base.
TEST_F(Streams, DrawingsSplitAtEveryByte) {
  const std::string script =
      "D\ngsetColor(255,0,0)\ngbox(0,0,40,30)\ngendDraw\n"
      "D\ngsetColor(0,0,255)\ngdrawPolygon(3)\n0,0\n39,0\n0,29\n}\ngsetColor(0,255,0)\n"
      "gline(-n=2)\n0,29\n39,29\n}\ngplaySVGsocket\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
      "width=\"40\" height=\"30\">\n<rect x=\"30\" y=\"0\" width=\"10\" height=\"10\" "
      "fill=\"#ffff00\"/>\n</svg>\n<svgend></svgend>\ngendDraw\nafter\n";
  ASSERT_TRUE(server.send(script));
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return base.events.find("after") != std::string::npos; }, 3000));
  const QImage whole = picture();
  EXPECT_EQ(QColor(0, 0, 255), whole.pixelColor(2, 2));     // the polygon
  EXPECT_EQ(QColor(255, 255, 0), whole.pixelColor(35, 5));  // the SVG rectangle
  EXPECT_EQ("line:D\nline:D\nline:after\n", base.events);
  for (size_t k = 1; k < script.size(); k += 3) {
    fresh();
    draw->beginDraw(1);
    draw->endDraw();
    sendSplit(script, k);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return base.events.find("after") != std::string::npos; }, 3000))
        << k;
    EXPECT_EQ(whole, picture()) << "split at " << k;
    EXPECT_EQ(0, conn.depth());
  }
}

// A drawing whose server goes in its middle: the corners so far are drawn, the stream ends.
TEST_F(Streams, ADrawingCutShortDrawsWhatCame) {
  ASSERT_TRUE(server.send("D\ngsetColor(0,0,0)\ngdrawPolygon(5)\n0,0\n39,0\n39,29\n"));
  settle(30);
  EXPECT_EQ(1, conn.depth());
  server.dropClient();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !conn.isOpen(); }, 3000));
  EXPECT_EQ(QColor(0, 0, 0), picture().pixelColor(20, 5));
  EXPECT_EQ(0, conn.depth());
}

// Two SVG documents in a row, the first with a line above the longest allowed (refused),
// cut at every byte: the second is held, and the lines after it reach the base.
TEST_F(Streams, SvgDocumentsSplitAtEveryByte) {
  const std::string doc = "<svg>\n<rect\nid=\"r\"\nwidth=\"4\"\n/>\n</svg>\n<svgend></svgend>\n";
  const std::string script = "S\n<svg>\n" + std::string(HX_SVG_MAX_LINE + 10, 'a') + "\n" +
                             "<svgend></svgend>\nS\n" + doc + "after\n";
  for (size_t k = 1; k < script.size(); k += 97) {
    fresh();
    sendSplit(script, k);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return base.events.find("after") != std::string::npos; }, 3000))
        << k;
    hxSvgAnimator* a = draw->animator();
    EXPECT_EQ(6, a->numLines()) << k;
    EXPECT_STREQ("id=\"r\"", a->record(2)) << k;
    EXPECT_EQ("line:S\nline:S\nline:after\n", base.events);
  }
}

// GL blocks of a widget without a context, one after the other, cut at every byte: the
// requests are answered and the ends acknowledged in order, a block between them dropped.
TEST_F(Streams, GlBlocksSplitAtEveryByte) {
  const std::string script =
      "G\nglGenLists(1)\nglTexImage2D(3553,0,6407,1,1,0,6407,5121)\nglColor3f(1,0,0)\n"
      "glbytes(3)\nabcglGenTextures(1)\nhxGlEnd()\nG\nglbytes(2)\nxyhxGlEnd()\nafter\n";
  const std::string replies =
      "gllongresponse(0);\nglputbytes(4);\n" + std::string(4, '\0') + "hxGlEnd();\nhxGlEnd();\n";
  for (size_t k = 1; k < script.size(); k += 2) {
    fresh();
    sendSplit(script, k);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return base.events.find("after") != std::string::npos; }, 3000))
        << k;
    std::string got;
    for (int i = 0; i < 4; i++)
      got += server.readLine(2000) + "\n";
    // readLine cuts at line feeds: the four zero bytes come with the line after them.
    EXPECT_EQ(replies, got) << "split at " << k;
    EXPECT_EQ("line:G\nline:G\nline:after\n", base.events);
  }
}

// A connection that the server hands to the communication plug-in ("@plugin(" line) is read
// through the plug-in from then on, a line or a whole block a call: the test plug-in carries
// each as a message "[n]" and n bytes.
TEST(ConnectionPlugin, ASwitchedConnectionIsReadThroughThePlugin) {
  // The plug-in as a client finds it: in a folder of its own, which the test may not be in.
  ottest::TempDir folder;
  const std::string built = TUNNEL_PLUGIN, name = built.substr(built.rfind('/') + 1);
  {
    std::ifstream in(built, std::ios::binary);
    std::ofstream out(folder.file(name), std::ios::binary);
    out << in.rdbuf();
  }
  chmod(folder.file(name).c_str(), 0755);
  otOptionsDefaults(&opt);
  std::string dir = folder.file(name).substr(0, folder.file(name).rfind('/'));
  snprintf(opt.plugin_dir, sizeof(opt.plugin_dir), "%s", dir.c_str());
  snprintf(opt.hxc_com_plugin, sizeof(opt.hxc_com_plugin), "%s", name.c_str());
  tcp_init();
  void* lib = dlopen(folder.file(name).c_str(), RTLD_LAZY | RTLD_NOLOAD);
  ASSERT_NE(lib, nullptr);
  // It leaves the connection to plain TCP until the switch.
  reinterpret_cast<void (*)(int, int)>(dlsym(lib, "tunnel_reset"))(1, 0);
  {
    FakeServer server;
    otClientConnection conn;
    Recorder base;
    conn.setBase(&base);
    ASSERT_EQ(0, conn.open("127.0.0.1", server.port()));
    ASSERT_TRUE(server.accept());
    ASSERT_TRUE(server.send("before\n@plugin(tunnel)\n[3]B4\n[4]wxyz[5]last\n"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return base.events.find("last") != std::string::npos; }, 3000))
        << base.events;
    EXPECT_EQ("line:before\nline:@plugin(tunnel)\nline:B4\nblock:wxyz|line:last\n", base.events);
    EXPECT_EQ(1, base.parts);
    EXPECT_EQ(-1, tcp_fd(conn.handle()));
    conn.close();
    EXPECT_EQ("[7]shutup\n", server.readLine(2000) + "\n");
    conn.setBase(nullptr);
  }
  dlclose(lib);
  otOptionsDefaults(&opt);
  tcp_init();
}

}  // namespace
