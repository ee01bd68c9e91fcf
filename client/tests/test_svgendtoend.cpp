// Animated SVG end to end on loopback, with either renderer: a display server (otserver) sends a
// drawing through otSvgAnimator (and otsvgcat), changes a fill, hides a group and changes a
// text; the client's picture shows each change. Clicks and the pointer over marked elements,
// and the bounds and matrix requests, come back to the server.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <QApplication>
#include <QCursor>
#include <QTest>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "hxserver.h"
#include "hxsvganimator.h"
#include "interpreter.h"
#include "mainwindow.h"
#include "otoptions.h"
#include "otsvganimator.h"
#include "qdrawwidget.h"
#include "qttestmain.h"
#include "tcputil.h"
#include "testutil.h"

namespace {

const char kDrawing[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"100\">\n"
    "  <rect id=\"bg\" x=\"0\" y=\"0\" width=\"200\" height=\"100\" style=\"fill:#ffffff\"/>\n"
    "  <g id=\"HX.valve\" transform=\"translate(10,10)\">\n"
    "    <rect id=\"valve\" x=\"0\" y=\"0\" width=\"40\" height=\"30\" "
    "style=\"fill:#ff0000;stroke:none\"/>\n"
    "  </g>\n"
    "  <g id=\"tank\"><rect x=\"100\" y=\"10\" width=\"40\" height=\"40\" "
    "style=\"fill:#00ff00\"/></g>\n"
    "  <g id=\"rot\" transform=\"translate(170,60) rotate(90)\"><rect id=\"arm\" width=\"20\" "
    "height=\"5\" style=\"fill:#808080\"/></g>\n"
    "  <text id=\"t1\" x=\"10\" y=\"90\" style=\"font-size:14px;fill:#000000\">T = 20 "
    "\xc2\xb0"
    "C</text>\n"
    "</svg>\n";

// What the test asks the server to do next, and what the server saw.
std::atomic<int> step{0};
std::atomic<int> done{0};
std::mutex seenLock;
std::vector<std::string> seen;  // the text events
std::string drawingPath;

int serve(PARAM_* p) {
  p->pollMs = 5;
  hxStartDefinition(p, 2);
  hxQDraw(p, 1, 0);
  hxSetGeometry(p, 1, 0, 0, 200, 100);
  hxEndDefinition(p);
  otSvgAnimator svg;
  svg.setSocket(&p->s);
  svg.setId(1);
  char buf[HX_EVENT_BUFSIZE];
  for (;;) {
    int want = step.load();
    if (done < want) {
      switch (want) {
        case 1:
          if (svg.read(drawingPath.c_str()) < 0) return -1;
          break;
        case 2:
          svg.svgChangeStyleOption("valve", "fill", "#0000ff");
          break;
        case 3:
          svg.show("tank", 0);
          break;
        case 4:
          svg.svgTextPrintf("t1",
                            "T = %d \xc2\xb0"
                            "C <hot>",
                            99);
          break;
        case 5:
          svg.svgBoundsOnElement("valve");
          svg.svgMatrixForElement("arm");
          break;
        default:
          break;
      }
      svg.writeSocket();
      hxSync(p);
      done = want;
      continue;
    }
    if (hxPollEvent(p, buf) < 0) return 0;
    int id = 0;
    char rest[HX_TEXT_SIZE];
    if (hxParseEvent(buf, &id, rest) == TEXT_EVENT && id == 1) {
      std::lock_guard<std::mutex> hold(seenLock);
      seen.push_back(rest);
    }
  }
}

bool sawText(const std::string& prefix, std::string* whole = nullptr) {
  std::lock_guard<std::mutex> hold(seenLock);
  for (const std::string& s : seen)
    if (s.compare(0, prefix.size(), prefix) == 0) {
      if (whole) *whole = s;
      return true;
    }
  return false;
}

std::vector<double> numbers(const std::string& reply) {
  std::vector<double> v;
  const char* p = strchr(reply.c_str(), ':');
  while (p != nullptr && *p != '=') {
    v.push_back(strtod(p + 1, (char**)&p));
    if (*p != ',' && *p != '=') break;
  }
  return v;
}

class SvgEndToEnd : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    // The server runs otsvgcat from the build's tools.
    std::string path = std::string(OTKIT_TOOLS_DIR) + ":" + (getenv("PATH") ? getenv("PATH") : "");
    setenv("PATH", path.c_str(), 1);
    drawingPath = dir.file("plant.svg");
    FILE* f = fopen(drawingPath.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(kDrawing, f);
    fclose(f);
    step = done = 0;
    seen.clear();
    otOptionsDefaults(&opt);
    opt.use_webkit_for_svg = GetParam();
    tcp_init();
    hxServerOptions o;
    o.bindAddress = "127.0.0.1";
    o.port = 0;
    server = hxServerStart(&o, serve, nullptr);
    ASSERT_NE(server, nullptr);
    window.reset(new otClientWindow("127.0.0.1", hxServerPort(server)));
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return draw() != nullptr; }, 10000));
  }
  void TearDown() override {
    window.reset();
    hxServerStop(server);
    tcp_free();
  }
  QDrawWidget* draw() { return qobject_cast<QDrawWidget*>(window->interpreter()->widget(1)); }
  bool run(int n) {
    step = n;
    return QTest::qWaitFor([&] { return done == n; }, 10000);
  }
  QColor at(int x, int y) { return draw()->pixmap().toImage().pixelColor(x, y); }

  ottest::TempDir dir;
  hxServer* server = nullptr;
  std::unique_ptr<otClientWindow> window;
};

TEST_P(SvgEndToEnd, ChangesReachThePicture) {
  ASSERT_TRUE(run(1));
  EXPECT_EQ(at(30, 25), QColor(255, 0, 0));
  EXPECT_EQ(at(120, 30), QColor(0, 255, 0));
  EXPECT_EQ(at(80, 30), QColor(255, 255, 255));
  const QImage textBefore = draw()->pixmap().toImage().copy(0, 70, 200, 30);
  ASSERT_TRUE(run(2));
  EXPECT_EQ(at(30, 25), QColor(0, 0, 255));
  ASSERT_TRUE(run(3));
  EXPECT_EQ(at(120, 30), QColor(255, 255, 255));
  EXPECT_EQ(at(30, 25), QColor(0, 0, 255));
  ASSERT_TRUE(run(4));
  EXPECT_NE(draw()->pixmap().toImage().copy(0, 70, 200, 30), textBefore);
  // The text came as UTF-8 and stays so; "<hot>" is text, not a tag.
  QByteArray svg = draw()->existingAnimator()->svgText(200, 100);
  EXPECT_TRUE(
      svg.contains("T = 99 \xc2\xb0"
                   "C &lt;hot&gt;"))
      << svg.constData();
}

TEST_P(SvgEndToEnd, ClicksAndThePointerOnMarkedElements) {
  ASSERT_TRUE(run(1));
  QTest::mouseClick(draw(), Qt::LeftButton, Qt::NoModifier, QPoint(30, 25));
  ASSERT_TRUE(QTest::qWaitFor([&] { return sawText("svgReleasedLeftButton=HX.valve"); }, 5000));
  EXPECT_TRUE(sawText("svgPressedLeftButton=HX.valve"));
  {
    std::lock_guard<std::mutex> hold(seenLock);
    seen.clear();
  }
  // Beside it: no SVG event (the plot event still comes).
  QTest::mouseClick(draw(), Qt::RightButton, Qt::NoModifier, QPoint(80, 60));
  ASSERT_TRUE(run(2));  // a round trip: what the click sent has arrived by now
  EXPECT_FALSE(sawText("svg"));

  QMouseEvent over(QEvent::MouseMove, QPointF(30, 25), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(draw(), &over);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
  // Moving on over the element keeps one override cursor, not one per move.
  for (int i = 0; i < 5; i++) {
    QMouseEvent again(QEvent::MouseMove, QPointF(31 + i, 25), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(draw(), &again);
  }
  QMouseEvent away(QEvent::MouseMove, QPointF(150, 90), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(draw(), &away);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_P(SvgEndToEnd, BoundsAndMatrixOfTransformedElements) {
  ASSERT_TRUE(run(1));
  ASSERT_TRUE(run(5));
  std::string bounds, matrix;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return sawText("svgBoundsOnElement:", &bounds) && sawText("svgMatrixForElement:", &matrix);
      },
      5000));
  EXPECT_NE(bounds.find("=valve"), std::string::npos) << bounds;
  std::vector<double> b = numbers(bounds), m = numbers(matrix);
  ASSERT_EQ(b.size(), 4u) << bounds;
  ASSERT_EQ(m.size(), 7u) << matrix;
  // The plain renderer gives the element's own box; the web engine its box on the page.
  const double x0 = GetParam() ? 10 : 0, y0 = GetParam() ? 10 : 0;
  EXPECT_NEAR(b[0], x0, 0.5);
  EXPECT_NEAR(b[1], y0, 0.5);
  EXPECT_NEAR(b[2], 40, 0.5);
  EXPECT_NEAR(b[3], 30, 0.5);
  // translate(170,60) rotate(90): a, b, c, d, determinant, e, f.
  const double want[] = {0, 1, -1, 0, 1, 170, 60};
  for (int i = 0; i < 7; i++)
    EXPECT_NEAR(m[(size_t)i], want[i], 1e-5) << matrix;
}

INSTANTIATE_TEST_SUITE_P(Renderers, SvgEndToEnd, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& i) {
                           return i.param ? "WebEngine" : "PlainRenderer";
                         });

}  // namespace
