// The drawing calls against a plain socket as the drawing widget: every line byte for byte,
// refusals that send nothing, and drawings that other threads cannot split.
#include <locale.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hxserver.h"
#include "hxtestutil.h"
#include "otdrawstream.h"
#include "testutil.h"

namespace {

using hxtest::Client;
using hxtest::eventually;
using HxDrawTest = hxtest::HxServerTest;

struct Row {
  std::function<int(PARAM_*)> call;
  std::string line;
  int command;  // what the drawing widget's parser makes of the first line
};

TEST_F(HxDrawTest, EveryCallWritesItsLineByteForByte) {
  static const float lx[] = {0.0f, 1.5f, -0.25f, 1e6f}, ly[] = {3.14159f, 0.1f, -2.0f, 1e20f};
  static const int px[] = {0, 10, -5}, py[] = {0, 20, 7};
  const std::vector<Row> rows = {
      {[](PARAM_* p) { return gBeginDraw(p, 7); }, "gbeginDraw(7)\n", DS_BEGIN},
      {[](PARAM_* p) { return gBox(p, 50, 40, 300, 200); }, "gbox(50,40,300,200)\n", DS_BOX},
      {[](PARAM_* p) { return gRect(p, 1, 2, 3, -4); }, "grect(1,2,3,-4)\n", DS_RECT},
      {[](PARAM_* p) { return gMoveTo(p, -1, 2); }, "gmoveTo(-1,2)\n", DS_MOVETO},
      {[](PARAM_* p) { return gLineTo(p, 3, 4); }, "glineTo(3,4)\n", DS_LINETO},
      {[](PARAM_* p) { return gDrawArc(p, 1, 2, 3, 4, 90, -180); }, "gdrawArc(1,2,3,4,90,-180)\n",
       DS_ARC},
      {[](PARAM_* p) { return gDrawPie(p, 1, 2, 3, 4, 0, 45); }, "gdrawPie(1,2,3,4,0,45)\n",
       DS_PIE},
      {[](PARAM_* p) { return gDrawPolygon(p, px, py, 3); },
       "gdrawPolygon(3)\n0,0\n10,20\n-5,7\n}\n", DS_POLYGON},
      {[](PARAM_* p) { return gDrawPolygon(p, nullptr, nullptr, 0); }, "gdrawPolygon(0)\n}\n",
       DS_POLYGON},
      {[](PARAM_* p) { return gLine(p, lx, ly, 4); },
       "gline(-n=4)\n0.000000,3.141590\n1.500000,0.100000\n-0.250000,-2.000000\n"
       "1000000.000000,100000002004087734272.000000\n}\n",
       DS_LINE},
      {[](PARAM_* p) { return gLine(p, nullptr, nullptr, 0); }, "gline(-n=0)\n}\n", DS_LINE},
      {[](PARAM_* p) { return gText(p, 10, 20, 1, "Temp 'C' (äöü)"); },
       "gtext(10,20,1,\"Temp 'C' (äöü)\")\n", DS_TEXT},
      {[](PARAM_* p) { return gTextInAxis(p, 0.5, -2, 3, ""); },
       "gtextInAxis(0.500000,-2.000000,3,\"\")\n", DS_TEXTINAXIS},
      {[](PARAM_* p) { return gXAxis(p, -50, 10, 50, 1); },
       "gxAxis(-50.000000,10.000000,50.000000,1)\n", DS_XAXIS},
      {[](PARAM_* p) { return gYAxis(p, 0, 0.25, 1, 0); }, "gyAxis(0.000000,0.250000,1.000000,0)\n",
       DS_YAXIS},
      {[](PARAM_* p) { return gRightYAxis(p, 5, 1, 0, 1); },
       "grightYAxis(5.000000,1.000000,0.000000,1)\n", DS_RIGHTYAXIS},
      {[](PARAM_* p) { return gXGrid(p); }, "gxGrid\n", DS_XGRID},
      {[](PARAM_* p) { return gYGrid(p); }, "gyGrid\n", DS_YGRID},
      {[](PARAM_* p) { return gSetColor(p, 255, 0, 128); }, "gsetColor(255,0,128)\n", DS_SETCOLOR},
      {[](PARAM_* p) { return gSetBackgroundColor(p, 0, 1, 2); }, "gsetBackgroundColor(0,1,2)\n",
       DS_SETBACKGROUND},
      {[](PARAM_* p) { return gSetWidth(p, 0); }, "gsetWidth(0)\n", DS_SETWIDTH},
      {[](PARAM_* p) { return gSetStyle(p, 0); }, "gsetStyle(0)\n", DS_SETSTYLE},
      {[](PARAM_* p) { return gSetFont(p, "Times New Roman", 12, 75, 1); },
       "gsetFont(\"Times New Roman\",12,75,1)\n", DS_SETFONT},
      {[](PARAM_* p) { return gSetLinestyle(p, 2); }, "gsetLinestyle(2)\n", DS_SETLINESTYLE},
      {[](PARAM_* p) { return gSetFloatFormat(p, "%5.1lf%%"); }, "gsetFloatFormat(\"%5.1lf%%\")\n",
       DS_SETFLOATFORMAT},
      {[](PARAM_* p) { return gScale(p, 1.5, 0.5); }, "gscale(1.500000,0.500000)\n", DS_SCALE},
      {[](PARAM_* p) { return gRotate(p, -90); }, "grotate(-90.000000)\n", DS_ROTATE},
      {[](PARAM_* p) { return gTranslate(p, 1e-7, 0.1234567); }, "gtranslate(0.000000,0.123457)\n",
       DS_TRANSLATE},
      {[](PARAM_* p) { return gComment(p, "say \"hi\""); }, "#say \"hi\"\n", DS_NONE},
      {[](PARAM_* p) { return gBoxWithText(p, 50, 40, 300, 200, 10, "t/s", "U/V", "I/A"); },
       "gbox(50,40,300,200)\ngtext(200,262,1,\"t/s\")\ngtext(50,30,0,\"U/V\")\n"
       "gtext(350,30,2,\"I/A\")\n",
       DS_BOX},
      {[](PARAM_* p) { return gBoxWithText(p, 0, 0, 10, 10, 12, "", "y", ""); },
       "gbox(0,0,10,10)\ngtext(0,-12,0,\"y\")\n", DS_BOX},
      {[](PARAM_* p) { return gPlaySVG(p, "plant.svg"); }, "gplaySVG(\"plant.svg\")\n", DS_PLAYSVG},
      {[](PARAM_* p) { return gSocketPlaySVG(p, "<svg\nwidth=\"10\"\n/>"); },
       "gplaySVGsocket\n<svg\nwidth=\"10\"\n/>\n<svgend></svgend>\n", DS_PLAYSVGSOCKET},
      {[](PARAM_* p) { return gSocketPlaySVG(p, "<svg/>\n"); },
       "gplaySVGsocket\n<svg/>\n<svgend></svgend>\n", DS_PLAYSVGSOCKET},
      {[](PARAM_* p) { return gUpdateSVG(p); }, "gupdateSVG()\n", DS_UPDATESVG},
      {[](PARAM_* p) { return gEndDraw(p); }, "gendDraw\n", DS_END},
  };
  std::vector<int> results;
  start([&](PARAM_* p) {
    for (const Row& r : rows)
      results.push_back(r.call(p));
    return 0;
  });
  Client c(port());
  DsArgs args;
  dsClearArgs(&args);
  for (size_t i = 0; i < rows.size(); i++) {
    EXPECT_EQ(rows[i].line, c.bytes((int)rows[i].line.size())) << "row " << i;
    // Both ends read the grammar from one table: what is sent is what the client parses.
    std::string first = rows[i].line.substr(0, rows[i].line.find('\n'));
    EXPECT_EQ(rows[i].command, dsParseLine(first.c_str(), &args)) << "row " << i;
  }
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  ASSERT_EQ(rows.size(), results.size());
  for (size_t i = 0; i < results.size(); i++)
    EXPECT_EQ(0, results[i]) << "row " << i;
}

TEST_F(HxDrawTest, RefusedCallsSendNothing) {
  std::vector<int> results;
  start([&](PARAM_* p) {
    float one[] = {1.0f}, nan[] = {NAN}, big[] = {-1e30f};
    int corner[] = {0};
    std::string fits(HX_MAX_DRAW_LINE - strlen("gtext(0,0,0,\"\")\n"), 'a');
    std::string longSvgLine(HX_MAX_DRAW_LINE, 'x');
    hxStartDefinition(p, 10);
    results = {gBeginDraw(p, 10),
               gBeginDraw(p, -1),
               gBeginDraw(nullptr, 1),
               gEndDraw(p),
               gText(p, 0, 0, 0, "a \"quote\""),
               gText(p, 0, 0, 0, "two\nlines"),
               gText(p, 0, 0, 0, "tab\t"),
               gText(p, 0, 0, 0, nullptr),
               gText(p, 0, 0, 0, (fits + "a").c_str()),
               gComment(p, "a\rb"),
               gSetFont(p, "A\"", 10, 50, 0),
               gSetFont(p, "A", 0, 50, 0),
               gPlaySVG(p, "x\ny"),
               gSetColor(p, 256, 0, 0),
               gSetBackgroundColor(p, 0, -1, 0),
               gSetWidth(p, -1),
               gSetStyle(p, 6),
               gSetStyle(p, -1),
               gSetFloatFormat(p, "%d"),
               gSetFloatFormat(p, "%f %f"),
               gSetFloatFormat(p, "%s"),
               gSetFloatFormat(p, "no conversion"),
               gSetFloatFormat(p, "%*f"),
               gSetFloatFormat(p, "%Lf"),
               gSetFloatFormat(p, "%100f"),
               gSetFloatFormat(p, "%.21f"),
               gSetFloatFormat(p, "%f%"),
               gSetFloatFormat(p, (std::string(78, 'x') + "%f").c_str()),
               gSetFloatFormat(p, nullptr),
               gXAxis(p, 0, 0, 100, 0),
               gXAxis(p, 0, 1e-7, 1, 1),
               gYAxis(p, 0, -1, 10, 1),
               gYAxis(p, 0, 1, 1e7, 1),
               gRightYAxis(p, 1e10, 1, 1e10 + 5, 1),
               gXAxis(p, NAN, 1, 2, 1),
               gScale(p, INFINITY, 1),
               gRotate(p, NAN),
               gTranslate(p, 0, -INFINITY),
               gTextInAxis(p, NAN, 0, 0, "x"),
               gLine(p, one, one, -1),
               gLine(p, one, one, HX_MAX_DRAW_POINTS + 1),
               gLine(p, one, nullptr, 1),
               gLine(p, one, nan, 1),
               gLine(p, big, big, 1),
               gDrawPolygon(p, corner, corner, -1),
               gDrawPolygon(p, corner, corner, HX_MAX_DRAW_POINTS + 1),
               gDrawPolygon(p, nullptr, corner, 1),
               gBoxWithText(p, 0, 0, 1, 1, 0, "", "", ""),
               gBoxWithText(p, 0, 0, 1, 1, 10, "x", "\"", ""),
               gBoxWithText(p, 0, 0, 1, 1, 10, "x", "y", nullptr),
               gSocketPlaySVG(p, "<svg>\n<svgend></svgend>\ngendDraw\n"),
               gSocketPlaySVG(p, longSvgLine.c_str()),
               gSocketPlaySVG(p, nullptr),
               gText(p, 0, 0, 0, fits.c_str())};
    return 0;
  });
  Client c(port());
  EXPECT_EQ("startDefinition(10)\n", c.line());
  std::string longest = c.line();
  EXPECT_EQ((size_t)HX_MAX_DRAW_LINE, longest.size());
  EXPECT_EQ(0u, longest.find("gtext(0,0,0,\"aaa"));
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  ASSERT_FALSE(results.empty());
  for (size_t i = 0; i + 1 < results.size(); i++)
    EXPECT_EQ(-1, results[i]) << "call " << i;
  EXPECT_EQ(0, results.back());
}

// Lines of two drawing threads and a third sender: inside gbeginDraw(id)...gendDraw only that
// drawing's own lines.
TEST_F(HxDrawTest, OtherThreadsCannotSplitADrawing) {
  const int kDrawings = 50, kLines = 20;
  start([&](PARAM_* p) {
    auto draw = [p](int id, int drawings) {
      for (int d = 0; d < drawings; d++) {
        gBeginDraw(p, id);
        for (int i = 0; i < kLines; i++)
          gSetColor(p, id, id, id);
        gEndDraw(p);
      }
    };
    // The first drawing lets the other senders run while it is open.
    std::atomic<int> running{0};
    gBeginDraw(p, 1);
    std::thread other([&] {
      running++;
      hxShow(p, 9);
      draw(2, kDrawings);
    });
    std::thread shows([&] {
      running++;
      for (int i = 0; i < 199; i++)
        hxShow(p, 9);
    });
    while (running < 2)
      std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int i = 0; i < kLines; i++)
      gSetColor(p, 1, 1, 1);
    gEndDraw(p);
    draw(1, kDrawings - 1);
    other.join();
    shows.join();
    return 0;
  });
  Client c(port());
  int inside = 0, shows = 0, lines = 0;
  int drawings[3] = {0, 0, 0};
  const std::string color[3] = {"", "gsetColor(1,1,1)\n", "gsetColor(2,2,2)\n"};
  const int total = 2 * kDrawings * (kLines + 2) + 200;
  for (int n = 0; n < total; n++) {
    std::string l = c.line();
    if (l == "show(9)\n" && inside == 0) {
      shows++;
    } else if ((l == "gbeginDraw(1)\n" || l == "gbeginDraw(2)\n") && inside == 0) {
      inside = l[11] - '0';
      lines = 0;
    } else if (inside && l == color[inside]) {
      lines++;
    } else if (inside && l == "gendDraw\n") {
      EXPECT_EQ(kLines, lines);
      drawings[inside]++;
      inside = 0;
    } else {
      ADD_FAILURE() << "line " << n << " unexpected: " << l << " inside drawing " << inside;
      break;
    }
  }
  EXPECT_EQ(kDrawings, drawings[1]);
  EXPECT_EQ(kDrawings, drawings[2]);
  EXPECT_EQ(200, shows);
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
}

// A drawing goes out in few large sends: nothing of it before its end, a read, or 64 KiB.
TEST(HxDraw, DrawingIsSentInBlocks) {
  int fds[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
  PARAM_ p(fds[0], 0);
  auto pending = [&] {
    std::string got;
    char buf[65536];
    ssize_t n;
    while ((n = recv(fds[1], buf, sizeof buf, MSG_DONTWAIT)) > 0)
      got.append(buf, (size_t)n);
    return got;
  };
  ASSERT_EQ(0, gBeginDraw(&p, 3));
  ASSERT_EQ(0, gText(&p, 1, 2, 0, "a"));
  EXPECT_EQ("", pending());
  p.ioTimeoutMs = 20;
  char line[100];
  EXPECT_EQ(-1, hxtcpreceive(&p, line, sizeof line));  // nothing to read; what is held goes out
  EXPECT_EQ("gbeginDraw(3)\ngtext(1,2,0,\"a\")\n", pending());
  std::vector<float> x(20000, 1.5f), y(20000, -2.0f);
  std::string stream;
  std::thread reader([&] {
    while (stream.size() < 16 + 20000 * 19 + 2 + 9)
      stream += pending();
  });
  ASSERT_EQ(0, gLine(&p, x.data(), y.data(), (int)x.size()));
  EXPECT_LT(p.held.size(), 65536u);
  EXPECT_EQ(0, gEndDraw(&p));
  reader.join();
  EXPECT_EQ(0, stream.compare(0, 16, "gline(-n=20000)\n"));
  EXPECT_EQ(stream.substr(16 + 19 * 19999), "1.500000,-2.000000\n}\ngendDraw\n");
  close(fds[1]);
  close(fds[0]);
}

// A drawing whose client goes away still gives its lock back; gEndDraw from another thread
// does not take a lock it does not hold.
TEST(HxDraw, ClosedConnectionReturnsTheLock) {
  int fds[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
  PARAM_ p(fds[0], 0);
  ASSERT_EQ(0, gBeginDraw(&p, 1));
  bool lockedMeanwhile = true;
  std::thread([&] {
    lockedMeanwhile = p.lock.try_lock();
    if (lockedMeanwhile) p.lock.unlock();
  }).join();
  EXPECT_FALSE(lockedMeanwhile);
  int foreignEnd = 0;
  std::thread([&] { foreignEnd = gEndDraw(&p); }).join();
  EXPECT_EQ(-1, foreignEnd);
  close(fds[1]);
  EXPECT_EQ(0, gText(&p, 0, 0, 0, "gone"));  // held until the drawing ends
  EXPECT_EQ(-1, gEndDraw(&p));
  EXPECT_EQ(-1, gEndDraw(&p));
  bool locked = false;
  std::thread([&] {
    locked = p.lock.try_lock();
    if (locked) p.lock.unlock();
  }).join();
  EXPECT_TRUE(locked);
  EXPECT_EQ(-1, gBeginDraw(&p, 1));
  close(fds[0]);
}

TEST_F(HxDrawTest, DecimalPointUnderADecimalCommaLocale) {
  // Made from the locale sources into a temporary directory when the system has not built it.
  ottest::TempDir dir;
  ASSERT_EQ("", ottest::useDecimalCommaLocale(dir));
  char check[16];
  snprintf(check, sizeof check, "%.1f", 1.5);
  std::vector<int> results;
  start([&](PARAM_* p) {
    float x[] = {0.5f}, y[] = {-1.25f};
    results = {gXAxis(p, -1.5, 0.5, 1.5, 1), gLine(p, x, y, 1), gScale(p, 2.5, 1)};
    return 0;
  });
  Client c(port());
  std::string expected =
      "gxAxis(-1.500000,0.500000,1.500000,1)\ngline(-n=1)\n0.500000,-1.250000\n}\n"
      "gscale(2.500000,1.000000)\n";
  EXPECT_EQ(expected, c.bytes((int)expected.size()));
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  setlocale(LC_NUMERIC, "C");
  EXPECT_STREQ("1,5", check);  // the locale does use a decimal comma
  EXPECT_EQ((std::vector<int>{0, 0, 0}), results);
}

}  // namespace
