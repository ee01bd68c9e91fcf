// QDrawWidget and its line parser: pictures checked at their pixels (the stream is replayed
// from a file into a 200x150 buffer at zoom 1), event lines read on a loopback connection,
// metafiles recorded from a real connection and replayed.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <QFile>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <QWebElement>
#include <QWebFrame>
#include <QTest>

#include "otdrawstream.h"
#include "fakeserver.h"
#include "otoptions.h"
#include "otstreams.h"
#include "hxsvganimator.h"
#include "qdrawwidget.h"
#include "qttestmain.h"
#include "tcputil.h"

namespace {

const QColor kWhite(255, 255, 255), kBlack(0, 0, 0), kRed(255, 0, 0), kBlue(0, 0, 255);
// Drawing is not antialiased; the tolerance only absorbs rounding in colour conversion.
constexpr int kTolerance = 8;

bool near(const QColor& a, const QColor& b) {
  return abs(a.red() - b.red()) <= kTolerance && abs(a.green() - b.green()) <= kTolerance &&
         abs(a.blue() - b.blue()) <= kTolerance;
}

class DrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    otOptionsDefaults(&opt);
    ASSERT_TRUE(dir.isValid());
    snprintf(opt.download_dir, sizeof(opt.download_dir), "%s", path("downloads").c_str());
  }
  std::string path(const char* name) { return dir.filePath(name).toStdString(); }
  // Replays stream on a fresh widget with a 200x150 buffer; the picture as an image.
  QImage render(const std::string& stream, QDrawWidget* w = nullptr) {
    std::string file = path("stream.txt");
    QFile f(QString::fromStdString(file));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(stream.data(), (qint64)stream.size());
    f.close();
    QDrawWidget own(nullptr, "draw", 0, nullptr, 1);
    if (w == nullptr) w = &own;
    w->resizeBuffer(200, 150);
    EXPECT_EQ(0, w->showFromFile(file.c_str()));
    return w->pixmap().toImage();
  }
  // The bounding box of the pixels that differ from white within area.
  static QRect inkBox(const QImage& img, const QRect& area) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); y++)
      for (int x = area.left(); x <= area.right(); x++)
        if (!near(img.pixelColor(x, y), kWhite)) box |= QRect(x, y, 1, 1);
    return box;
  }
  QTemporaryDir dir;
};

struct Probe {
  int x, y;
  QColor colour;
};

struct PixelRow {
  const char* name;
  std::string stream;
  std::vector<Probe> probes;
};

// Value box for the rows below: 200x100 at the origin, both scales 0..100, so that a value v
// lies at x = 2v and at y = 100 - v.
const std::string kValueBox = "gbox(0,0,200,100)\ngxAxis(0,1,100,0)\ngyAxis(0,1,100,0)\n";

const std::vector<PixelRow> kPixelRows = {
    {"background only",
     "gsetBackgroundColor(10,20,30)\ngendDraw\n",
     {{0, 0, QColor(10, 20, 30)}, {199, 149, QColor(10, 20, 30)}}},
    {"rect filled with the brush",
     "gsetColor(255,0,0)\ngrect(10,10,20,20)\ngendDraw\n",
     {{20, 20, kRed}, {10, 10, kRed}, {5, 5, kWhite}, {35, 35, kWhite}}},
    {"moveTo and lineTo",
     "gmoveTo(0,50)\nglineTo(199,50)\ngendDraw\n",
     {{100, 50, kBlack}, {100, 52, kWhite}}},
    {"box outline scaled by percent 100",
     "gbox(20,20,100,100)\n",
     {{20, 60, kBlack}, {70, 20, kBlack}, {120, 60, kBlack}, {70, 70, kWhite}}},
    {"value polyline", kValueBox + "gline(\n0,50\n100,50\n}\n", {{100, 50, kBlack}}},
    {"gline -n=2 reads only two points",
     kValueBox + "gline(-n=2)\n0,20\n50,20\n50,80\n}\ngmoveTo(0,140)\nglineTo(10,140)\n",
     {{50, 80, kBlack}, {100, 50, kWhite}, {5, 140, kBlack}}},
    {"polygon with a missing corner at (0,0)",
     "gsetColor(0,0,255)\ngdrawPolygon(3)\n100,0\n100,100\n}\n",
     {{90, 50, kBlue}, {10, 50, kWhite}}},
    {"pie from three o'clock counter-clockwise",
     "gsetColor(255,0,0)\ngdrawPie(50,50,100,100,0,90)\n",
     {{120, 80, kRed}, {80, 120, kWhite}}},
    {"style 0 is a solid pen",
     "gsetStyle(0)\ngmoveTo(0,40)\nglineTo(199,40)\n",
     {{10, 40, kBlack},
      {11, 40, kBlack},
      {12, 40, kBlack},
      {13, 40, kBlack},
      {14, 40, kBlack},
      {15, 40, kBlack},
      {16, 40, kBlack}}},
    {"dashed pen leaves gaps",
     "gsetStyle(2)\ngmoveTo(0,40)\nglineTo(199,40)\n",
     {{1, 40, kBlack}, {5, 40, kWhite}}},
    {"x axis of -50..50 draws the zero line",
     kValueBox + "gxAxis(-50,10,50,1)\n",
     {{100, 50, kBlack}, {100, 102, kBlack}, {90, 50, kWhite}}},
    {"crosses at the second and third point only",
     kValueBox + "gsetLinestyle(2)\ngline(\n10,50\n50,50\n90,50\n}\n",
     {{102, 48, kBlack}, {182, 48, kBlack}, {22, 48, kWhite}}},
    {"translate moves later drawing",
     "gsetColor(255,0,0)\ngtranslate(50,0)\ngrect(0,0,10,10)\n",
     {{55, 5, kRed}, {5, 5, kWhite}}},
    {"vertical text keeps the stream's transformation",
     "gtranslate(100,0)\ngtext(10,80,3,\"Hi\")\ngsetColor(255,0,0)\ngrect(0,0,10,10)\n",
     {{105, 5, kRed}, {5, 5, kWhite}}},
    {"continuation of an over-long line is dropped",
     "gsetColor(255,0,0)\n#" + std::string(4094, 'a') + "grect(0,0,50,50)\ngendDraw\n",
     {{10, 10, kWhite}}},
    {"end of input inside a polygon still draws it",
     "gsetColor(0,0,255)\ngdrawPolygon(3)\n100,0\n100,100\n",
     {{90, 50, kBlue}}},
};

TEST_F(DrawTest, PixelRows) {
  for (const PixelRow& row : kPixelRows) {
    QImage img = render(row.stream);
    for (const Probe& p : row.probes) {
      QColor got = img.pixelColor(p.x, p.y);
      EXPECT_TRUE(near(got, p.colour))
          << row.name << ": pixel (" << p.x << "," << p.y << ") is " << got.name().toStdString()
          << ", expected " << p.colour.name().toStdString();
    }
  }
}

TEST_F(DrawTest, FixedZoomSurvivesResizeAndPositiveZoom) {
  QDrawWidget w(nullptr, nullptr, 0, nullptr, 1);
  w.setZoomX(-1.5f);
  w.setZoomY(-1.0f);
  w.setZoomX(2.0f);
  w.resize(100, 100);  // design size
  w.show();
  w.QWidget::resize(200, 150);
  EXPECT_FLOAT_EQ(1.5f, w.zoomFactorX());
  EXPECT_FLOAT_EQ(1.0f, w.zoomFactorY());
  QImage img = render("gsetColor(255,0,0)\ngrect(10,10,10,10)\n", &w);
  EXPECT_TRUE(near(img.pixelColor(27, 15), kRed));  // x 15..30 at zoom 1.5
  EXPECT_TRUE(near(img.pixelColor(32, 15), kWhite));
  EXPECT_TRUE(near(img.pixelColor(20, 22), kWhite));  // y 10..20 at zoom 1
}

TEST_F(DrawTest, AutoZoomFollowsTheDesignSize) {
  QDrawWidget w(nullptr, nullptr, 0, nullptr, 1);
  w.resize(100, 100);
  w.show();
  w.QWidget::resize(200, 50);
  EXPECT_FLOAT_EQ(2.0f, w.zoomFactorX());
  EXPECT_FLOAT_EQ(0.5f, w.zoomFactorY());
}

TEST_F(DrawTest, TicksAndLabelsSitBelowTheBox) {
  QImage img = render("gbox(20,10,160,100)\ngxAxis(0,10,100,1)\n");
  for (int v = 0; v <= 100; v += 10)
    EXPECT_TRUE(near(img.pixelColor(20 + v * 160 / 100, 112), kBlack)) << "tick at " << v;
  EXPECT_TRUE(near(img.pixelColor(20 + 5 * 160 / 100, 112), kWhite));

  img = render("gbox(20,10,160,100)\ngxAxis(0,50,100,1)\n");
  std::vector<QRect> labels;
  for (int x : {20, 100, 180}) {
    labels.push_back(inkBox(img, QRect(x - 20, 115, 40, 35)));
    ASSERT_FALSE(labels.back().isEmpty()) << "label at " << x;
    EXPECT_LE(abs(labels.back().center().x() - x), 2) << "label at " << x;
    EXPECT_GE(labels.back().top(), 112);
  }
  // "0", "50", "100" as the default format gives them after trimming, not "0.00" and so on.
  EXPECT_GT(labels[1].width(), labels[0].width() * 3 / 2);
  EXPECT_GT(labels[2].width(), labels[0].width() * 2);
  EXPECT_LT(labels[2].width(), labels[0].width() * 4);
}

TEST_F(DrawTest, BadInputEndsWithoutHangOrCrash) {
  const char* streams[] = {
      "gline(-n=2000000000)\n1,1\n2,2\n}\n",
      "gdrawPolygon(2147483647)\n1,1\n}\ngdrawPolygon(-5)\n1,1\n}\n",
      "gbox(0,0,100,100)\ngxAxis(0,nan,100,1)\ngyAxis(0,0,100,1)\ngrightYAxis(0,-1,100,1)\n"
      "gxAxis(0,1e-30,100,1)\ngxGrid\ngyGrid\n",
      "gbox(0,0,100,100)\ngxAxis(5,1,5,1)\ngyAxis(0,1,0,1)\ngline(\n1,1\n2,2\n}\ngxGrid\n",
      "gbox(0,0,100,0)\ngtextInAxis(1,1,1,\"x\")\n",
      "gsetFloatFormat(\"%s%s%n\")\ngbox(0,0,100,100)\ngxAxis(0,10,100,1)\n",
      "gsetWidth(2000000000)\ngsetFont(\"Sans\",2000000000,500,1)\ngtext(1,1,1,\"x\")\n",
      "gscale(1e300,1e300)\ngrotate(inf)\ngtranslate(nan,1)\ngrect(2147483647,0,-2147483647,9)\n",
      "gdrawArc(0,0,100,100,2147483647,-2147483647)\ngsetStyle(99)\ngplaySVGsocket\n<svg/>\n",
      "gbox(2147483647,2147483647,2147483647,2147483647)\ngxAxis(0,1,10,1)\n",
  };
  for (const char* stream : streams)
    render(stream);
  SUCCEED();
}

// SVG playback gives the root element (and only it) the widget's size, whatever the lines
// look like; a block that is no SVG is still consumed to its end marker.
TEST_F(DrawTest, SvgPlaybackSizesTheRootOnly) {
  const char* svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 100 75\"><rect x=\"50\" y=\"0\" "
      "width=\"50\" height=\"75\" fill=\"#ff0000\"/></svg>\n";
  QDrawWidget w(nullptr, "draw", 0, nullptr, 1);
  w.QWidget::resize(200, 150);
  QImage img = render(std::string("gplaySVGsocket\n") + svg +
                          "<svgend></svgend>\ngsetColor(0,0,255)\ngrect(0,0,10,10)\n",
                      &w);
  EXPECT_TRUE(near(img.pixelColor(150, 75), kRed));
  EXPECT_TRUE(near(img.pixelColor(60, 75), kWhite));
  EXPECT_TRUE(near(img.pixelColor(5, 5), QColor(0, 0, 255)));  // the stream goes on after it

  // From a file: a root with both sizes on one line gets both replaced.
  QFile f(dir.filePath("plant.svg"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(
      "<?xml version=\"1.0\"?>\n<!-- a <svg> in a comment -->\n<svg width=\"10\" "
      "height=\"10\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 20 15\"><rect "
      "width=\"10\" height=\"15\" fill=\"#ff0000\"/></svg>\n");
  f.close();
  w.beginDraw(1);
  w.playSVG(f.fileName().toLocal8Bit().constData());
  w.endDraw();
  img = w.pixmap().toImage();
  EXPECT_TRUE(near(img.pixelColor(90, 140), kRed));
  EXPECT_TRUE(near(img.pixelColor(110, 140), kWhite));

  img = render(
      "gplaySVGsocket\n<svg>\ngrect(0,0,50,50)\n<svgend></svgend>\ngsetColor(255,0,0)\n"
      "grect(100,100,10,10)\n");
  EXPECT_TRUE(near(img.pixelColor(10, 10), kWhite));
  EXPECT_TRUE(near(img.pixelColor(105, 105), kRed));
  // A file name from the peer stays in the client's directory.
  testing::internal::CaptureStdout();
  render("gplaySVG(\"../plant.svg\")\n");
  EXPECT_NE(testing::internal::GetCapturedStdout().find("refused"), std::string::npos);
}

// What a server's SVG names outside itself comes from the downloads folder only: a played
// file that is a link, an image by absolute path, are not shown; the same image downloaded is.
TEST_F(DrawTest, SvgReachesOnlyTheDownloadsFolder) {
  ASSERT_EQ(0, mkdir(opt.download_dir, 0700));
  QImage red(40, 40, QImage::Format_RGB32);
  red.fill(kRed);
  std::string outside = path("red.png");
  ASSERT_TRUE(red.save(QString::fromStdString(outside)));
  ASSERT_TRUE(red.save(QString::fromStdString(path("downloads/red.png"))));
  auto svg = [](const std::string& href) {
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" "
           "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"200\" height=\"150\">"
           "<image x=\"0\" y=\"0\" width=\"40\" height=\"40\" xlink:href=\"" +
           href + "\"/></svg>\n";
  };
  for (const std::string& href : {outside, "file://" + outside, std::string("../red.png")})
    EXPECT_TRUE(near(
        render("gplaySVGsocket\n" + svg(href) + "<svgend></svgend>\n").pixelColor(5, 5), kWhite))
        << href;
  EXPECT_TRUE(near(
      render("gplaySVGsocket\n" + svg("red.png") + "<svgend></svgend>\n").pixelColor(5, 5), kRed));

  // A played file: a link to a drawing outside is refused, the file itself is shown.
  QFile f(QString::fromStdString(path("outside.svg")));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"150\">"
      "<rect width=\"50\" height=\"50\" fill=\"#ff0000\"/></svg>");
  f.close();
  ASSERT_EQ(0, symlink(path("outside.svg").c_str(), path("downloads/link.svg").c_str()));
  testing::internal::CaptureStdout();
  QImage viaLink = render("gplaySVG(\"link.svg\")\n");
  std::string said = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(near(viaLink.pixelColor(5, 5), kWhite));
  ASSERT_TRUE(f.copy(QString::fromStdString(path("downloads/plain.svg"))));
  EXPECT_TRUE(near(render("gplaySVG(\"plain.svg\")\n").pixelColor(5, 5), kRed));
  EXPECT_NE(said.find("file \"link.svg\" refused: a symbolic link"), std::string::npos) << said;
}

// The web engine shows a server's SVG without running its scripts and without fetching what
// it names on the network: a listener on loopback sees no request.
TEST_F(DrawTest, WebEngineRunsNoScriptAndFetchesNothing) {
  FakeServer web;
  ASSERT_GT(web.port(), 0);
  std::string url = "http://127.0.0.1:" + std::to_string(web.port());
  QByteArray svg = QByteArray::fromStdString(
      "<?xml-stylesheet type=\"text/css\" href=\"" + url +
      "/style.css\"?>"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
      "xmlns:h=\"http://www.w3.org/1999/xhtml\" width=\"100\" height=\"100\">"
      "<h:link rel=\"stylesheet\" href=\"" +
      url +
      "/link.css\"/>"
      "<rect id=\"r\" width=\"50\" height=\"50\" fill=\"#ff0000\"/>"
      "<image x=\"60\" y=\"60\" width=\"10\" height=\"10\" xlink:href=\"" +
      url +
      "/a.png\"/>"
      "<script type=\"text/javascript\">"
      "document.getElementById('r').setAttribute('fill', '#0000ff');"
      "var q = new XMLHttpRequest(); q.open('GET', '" +
      url +
      "/script'); q.send();"
      "</script></svg>");
  opt.use_webkit_for_svg = 1;
  QDrawWidget w(nullptr, "draw", 0, nullptr, 1);
  ASSERT_NE(w.webFrame(), nullptr);
  bool finished = false;
  QObject::connect(w.webFrame(), &QWebFrame::loadFinished, [&] { finished = true; });
  w.resizeBuffer(100, 100);
  w.beginDraw(1);
  testing::internal::CaptureStdout();
  w.svgUpdate(svg);
  EXPECT_TRUE(QTest::qWaitFor([&] { return finished; }, 10000));
  testing::internal::GetCapturedStdout();
  w.endDraw();
  EXPECT_EQ(w.webFrame()->findFirstElement("#r").attribute("fill"), QString("#ff0000"));
  EXPECT_FALSE(web.accept(200)) << "the page reached the network";
}

// Printing SVG goes to the PDF file when one is set; the dumps need the web engine, and the
// render tree is one thing it cannot give.
TEST_F(DrawTest, SvgPrintAndDumps) {
  QByteArray svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"50\" height=\"50\">"
      "<rect id=\"r\" width=\"50\" height=\"50\" fill=\"#ff0000\"/></svg>";
  snprintf(opt.print_pdf, sizeof(opt.print_pdf), "%s", path("svg.pdf").c_str());
  {
    QDrawWidget plain(nullptr, "draw", 0, nullptr, 1);
    EXPECT_EQ(0, plain.printSVG(svg));
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, plain.htmlOrSvgDump(path("dump.html").c_str()));
    EXPECT_EQ(-1, plain.renderTreeDump(path("tree.txt").c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR: htmlOrSvgDump only available if use_webkit_for_svg=1\n"
              "ERROR: renderTreeDump only available if use_webkit_for_svg=1\n");
  }
  QFile pdf(QString::fromStdString(path("svg.pdf")));
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
  EXPECT_TRUE(pdf.read(5).startsWith("%PDF"));

  opt.use_webkit_for_svg = 1;
  QDrawWidget web(nullptr, "draw", 0, nullptr, 1);
  web.resizeBuffer(100, 100);
  web.beginDraw(1);
  web.svgUpdate(svg);
  web.endDraw();
  EXPECT_TRUE(near(web.pixmap().toImage().pixelColor(25, 25), kRed));
  EXPECT_EQ(0, web.htmlOrSvgDump(path("dump.html").c_str()));
  QFile html(QString::fromStdString(path("dump.html")));
  ASSERT_TRUE(html.open(QIODevice::ReadOnly));
  EXPECT_TRUE(html.readAll().contains("id=\"r\""));
  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, web.renderTreeDump(path("tree.txt").c_str()));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("has no render-tree dump"),
            std::string::npos);
  EXPECT_EQ(-1, web.htmlOrSvgDump("/nonexistent/dir/x.html"));
}

// An animated drawing redrawn only where it changed gives the picture a whole redraw gives,
// pixel for pixel: texts near the change, groups with transforms, hidden and shown parts.
TEST_F(DrawTest, PartialSvgRedrawEqualsAWholeOne) {
  const char* lines =
      "<svg\nxmlns=\"http://www.w3.org/2000/svg\"\nwidth=\"200\"\nheight=\"150\"\n>\n"
      "<rect\nid=\"bg\"\nwidth=\"200\"\nheight=\"150\"\nstyle=\"fill:#f0f0f0\"\n/>\n"
      "<rect\nid=\"r1\"\nx=\"20\"\ny=\"20\"\nwidth=\"40\"\nheight=\"30\"\n"
      "style=\"fill:#ff0000;stroke:#000000;stroke-width:3\"\n/>\n"
      "<text\nid=\"t1\"\nx=\"15\"\ny=\"45\"\nstyle=\"font-size:14px;fill:#000000\"\n>\n"
      "over the rect\n</text>\n"
      "<g\nid=\"g1\"\ntransform=\"translate(100,40)\"\n>\n"
      "<rect\nid=\"r2\"\nwidth=\"30\"\nheight=\"30\"\nstyle=\"fill:#00a000\"\n/>\n"
      "<text\nx=\"0\"\ny=\"45\"\nstyle=\"font-size:10px\"\n>\ngroup text\n</text>\n</g>\n"
      "<g\nid=\"g2\"\n>\n<circle\ncx=\"160\"\ncy=\"120\"\nr=\"15\"\nstyle=\"fill:#0000ff\"\n/>\n"
      "</g>\n"
      "<text\nid=\"t2\"\nx=\"10\"\ny=\"140\"\n>\n<tspan\nstyle=\"font-size:12px\"\n>\nfar "
      "away\n</tspan>\n</text>\n</svg>\n";
  auto changes = [](hxSvgAnimator* a, int step) {
    switch (step) {
      case 0:
        return a->svgChangeStyleOption("r1", "style=", "fill", "#0000ff");
      case 1:
        return a->show("g2", 0);
      case 2:
        return a->svgPrintf("g1", "transform=", "translate(110,30) rotate(20)");
      case 3:
        return a->svgTextPrintf("t1", "changed");
      case 4:
        return a->show("g2", 1);
      default:
        return a->svgChangeStyleOption("r2", "style=", "fill", "#ffff00");
    }
  };
  QDrawWidget part(nullptr, "draw", 0, nullptr, 1);
  part.QWidget::resize(200, 150);
  part.resizeBuffer(200, 150);
  ASSERT_EQ(0, part.animator()->readText(lines, (long)strlen(lines)));
  part.renderScene();
  for (int step = 0; step < 6; step++) {
    ASSERT_EQ(0, changes(part.animator(), step)) << step;
    part.renderScene();
    QDrawWidget whole(nullptr, "draw", 0, nullptr, 1);
    whole.QWidget::resize(200, 150);
    whole.resizeBuffer(200, 150);
    ASSERT_EQ(0, whole.animator()->readText(lines, (long)strlen(lines)));
    for (int k = 0; k <= step; k++)
      changes(whole.animator(), k);
    whole.renderScene();
    ASSERT_EQ(whole.partialRedraws(), 0);
    EXPECT_EQ(part.pixmap().toImage(), whole.pixmap().toImage()) << "after step " << step;
  }
  EXPECT_EQ(part.partialRedraws(), 6);
  // Another drawing on the widget: the next redraw is whole again.
  part.beginDraw(1);
  part.endDraw();
  changes(part.animator(), 0);
  part.renderScene();
  EXPECT_EQ(part.partialRedraws(), 6);
  EXPECT_TRUE(near(part.pixmap().toImage().pixelColor(40, 25), QColor(0, 0, 255)));
}

TEST_F(DrawTest, SaveRefusesPathsAndPrintsPdf) {
  QDrawWidget w(nullptr, nullptr, 0, nullptr, 1);
  render("gsetColor(255,0,0)\ngrect(0,0,10,10)\n", &w);
  for (const char* bad : {"../x.png", "a/b.png", "a\\b.png", "x..png"})
    EXPECT_EQ(-1, w.save(bad)) << bad;
  char cwd[4096];
  ASSERT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
  ASSERT_EQ(0, chdir(dir.path().toLocal8Bit().constData()));
  EXPECT_EQ(1, w.save("pic.png"));
  EXPECT_EQ(0, chdir(cwd));
  QImage saved(dir.filePath("pic.png"));
  EXPECT_TRUE(near(saved.pixelColor(5, 5), kRed));

  snprintf(opt.print_pdf, sizeof(opt.print_pdf), "%s", path("out.pdf").c_str());
  EXPECT_EQ(0, w.print());
  QFile pdf(QString::fromStdString(path("out.pdf")));
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
  EXPECT_TRUE(pdf.read(5).startsWith("%PDF"));
}

// The stream arrives over a real connection while it is recorded; its replay from the
// metafile on a widget without connection gives the same picture.
TEST_F(DrawTest, MetafileReplaysTheSamePicture) {
  FakeServer server;
  tcp_init();
  otClientConnection conn;
  ASSERT_EQ(0, conn.open("127.0.0.1", server.port()));
  ASSERT_TRUE(server.accept());
  QDrawWidget live(nullptr, nullptr, 0, conn.handle(), 3);
  live.resize(200, 150);
  live.resizeBuffer(200, 150);
  std::string meta = path("meta.hxm");
  ASSERT_EQ(0, live.logToFile(meta.c_str()));
  ASSERT_TRUE(server.send(
      "gsetColor(0,0,255)\ngdrawPolygon(3)\n10,10\n80,10\n40,60\n}\n" + kValueBox +
      "gsetLinestyle(3)\ngline(-n=3)\n10,10\n50,90\n90,30\n}\ngtext(150,120,1,\"Tag\")\n#" +
      std::string(4094, 'z') + "grect(0,0,200,150)\ngxGrid\ngendDraw\ngrect(0,0,200,150)\n"));
  conn.push(std::unique_ptr<otStreamConsumer>(new otDrawStream(&live)));
  ASSERT_TRUE(QTest::qWaitFor([&] { return conn.depth() == 0; }, 5000));
  QImage recorded = live.pixmap().toImage();
  EXPECT_TRUE(near(recorded.pixelColor(40, 20), kBlue));
  EXPECT_TRUE(near(recorded.pixelColor(20, 130), kWhite));  // the over-long line's tail

  int w = -1, h = -1;
  EXPECT_EQ(0, QDrawWidget::getDimensions(meta.c_str(), &w, &h));
  EXPECT_EQ(200, w);
  EXPECT_EQ(150, h);
  QDrawWidget replay(nullptr, nullptr, 0, nullptr, 4);
  replay.resizeBuffer(200, 150);
  ASSERT_EQ(0, replay.showFromFile(meta.c_str()));
  EXPECT_EQ(recorded, replay.pixmap().toImage());

  QFile f(QString::fromStdString(meta));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QList<QByteArray> lines = f.readAll().split('\n');
  EXPECT_EQ("hxMetafile(200,150)", lines.first());
  EXPECT_EQ("gendDraw", lines[lines.size() - 2]);  // the line after it was not recorded
  EXPECT_EQ(-1, QDrawWidget::getDimensions(path("missing").c_str(), &w, &h));
  EXPECT_EQ(0, w);
  EXPECT_EQ(0, h);
}

TEST_F(DrawTest, MouseAndEnterLeaveSendTheirLines) {
  FakeServer server;
  tcp_init();
  int s = tcp_con("127.0.0.1", server.port());
  ASSERT_TRUE(server.accept());
  QDrawWidget w(nullptr, nullptr, 0, &s, 7);
  w.resize(120, 90);
  w.show();
  EXPECT_EQ("resizeGL(7,120,90)", server.readLine());

  auto mouse = [&](QEvent::Type t, int x, int y, Qt::MouseButton b, Qt::MouseButtons held) {
    QMouseEvent e(t, QPointF(x, y), b, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &e);
  };
  auto plain = [&](QEvent::Type t) {
    QEvent e(t);
    QCoreApplication::sendEvent(&w, &e);
  };
  plain(QEvent::Enter);
  EXPECT_EQ("mouseEnterLeave(7,1)", server.readLine());
  mouse(QEvent::MouseButtonPress, 10, 20, Qt::LeftButton, Qt::LeftButton);
  EXPECT_EQ("QPlotMousePressed(7,10,20)", server.readLine());
  mouse(QEvent::MouseMove, 11, 21, Qt::NoButton, Qt::LeftButton | Qt::RightButton);
  mouse(QEvent::MouseMove, 12, 22, Qt::NoButton, Qt::NoButton);
  mouse(QEvent::MouseMove, 15, 25, Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ("QPlotMouseMoved(7,15,25)", server.readLine());
  mouse(QEvent::MouseButtonRelease, 300, 300, Qt::LeftButton, Qt::NoButton);
  mouse(QEvent::MouseButtonPress, 1, 2, Qt::MiddleButton, Qt::MiddleButton);
  EXPECT_EQ("QPlotMousePressed(7,1,2)", server.readLine());
  mouse(QEvent::MouseButtonRelease, 30, 40, Qt::MiddleButton, Qt::NoButton);
  EXPECT_EQ("QPlotMouseReleased(7,30,40)", server.readLine());
  plain(QEvent::Leave);
  EXPECT_EQ("mouseEnterLeave(7,0)", server.readLine());

  // Entering and leaving never stacks override cursors; the widget takes back its own only.
  QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  for (int k = 0; k < 3; k++) {
    plain(QEvent::Enter);
    w.setCursorShape(Qt::PointingHandCursor);
    w.setCursorShape(Qt::CrossCursor);
    plain(QEvent::Leave);
    EXPECT_EQ("mouseEnterLeave(7,1)", server.readLine());
    EXPECT_EQ("mouseEnterLeave(7,0)", server.readLine());
    ASSERT_NE(nullptr, QApplication::overrideCursor());
    EXPECT_EQ(Qt::WaitCursor, QApplication::overrideCursor()->shape());
  }
  QApplication::restoreOverrideCursor();
  EXPECT_EQ(nullptr, QApplication::overrideCursor());

  render("gsetColor(255,0,0)\ngrect(0,0,10,10)\n", &w);
  ASSERT_GT(w.sendJpeg2clipboard(), 0);
  std::string clip = server.readLine();
  EXPECT_EQ(0u, clip.rfind("@clipboard(7,", 0)) << clip;
  EXPECT_GT(atoi(clip.c_str() + 13), 100);
  tcp_close(&s);
}

// ---- the line parser ----

TEST(DrawStream, KeywordsArgumentsAndTexts) {
  DsArgs a;
  dsClearArgs(&a);
  EXPECT_EQ(DS_LINETO, dsParseLine("glineTo(3,4)", &a));
  EXPECT_EQ(3, a.i[0]);
  EXPECT_EQ(DS_LINE, dsParseLine("gline(-n=5)", &a));
  EXPECT_EQ(DS_PLAYSVGSOCKET, dsParseLine("gplaySVGsocket", &a));
  EXPECT_EQ(DS_PLAYSVG, dsParseLine("gplaySVG(\"a.svg\")", &a));
  EXPECT_STREQ("a.svg", a.text);
  EXPECT_EQ(DS_TEXTINAXIS, dsParseLine("gtextInAxis(1.5,2.25,1,\"v\")", &a));
  EXPECT_DOUBLE_EQ(2.25, a.f[1]);
  EXPECT_EQ(1, a.i[0]);
  EXPECT_EQ(DS_NONE, dsParseLine("#comment", &a));
  EXPECT_EQ(DS_NONE, dsParseLine("gtex(1,2)", &a));
  // A missing argument keeps what the previous line left.
  EXPECT_EQ(DS_BOX, dsParseLine("gbox(9,8)", &a));
  EXPECT_EQ(9, a.i[0]);
  EXPECT_EQ(8, a.i[1]);
  EXPECT_EQ(DS_SETFONT, dsParseLine("gsetFont(\"Sans\",12,75,1)", &a));
  EXPECT_EQ(1, a.hasText);
  EXPECT_STREQ("Sans", a.text);
  EXPECT_EQ(75, a.i[1]);
  dsParseLine("gsetFont(\"Sans\")", &a);
  EXPECT_EQ(0, a.hasText);

  char small[5];
  EXPECT_EQ(4, dsGetText("x(\"abcdefgh\")", small, sizeof(small)));
  EXPECT_STREQ("abcd", small);
  EXPECT_EQ(-1, dsGetText("no quote\n\"late\"", small, sizeof(small)));
  EXPECT_EQ(4096, dsPointLimit("gline("));
  EXPECT_EQ(2, dsPointLimit("gline(-n=2)"));
  EXPECT_EQ(4096, dsPointLimit("gline(-n=0)"));
  EXPECT_EQ(DS_MAX_POINTS, dsPointLimit("gline(-n=99999999999)"));
}

TEST(DrawStream, FloatFormatsAndTickLabels) {
  for (const char* good : {"%.2f", "%f", "%8.3e V", "%%%g%%", "%-+#012.4lf", "%A"})
    EXPECT_EQ(1, dsIsFloatFormat(good)) << good;
  for (const char* bad :
       {"%d", "%s", "%n", "%.2f%.2f", "text", "%Lf", "%*f", "%61f", "%.21f", "%", "%.2f %"})
    EXPECT_EQ(0, dsIsFloatFormat(bad)) << bad;
  EXPECT_EQ(0, dsIsFloatFormat((std::string(76, 'x') + "%.2f").c_str()));

  struct {
    const char* fmt;
    double v;
    const char* label;
  } rows[] = {{"%.2f", 2.5, "2.5"}, {"%.2f", 3, "3"},          {"%.2f", -0.25, "-0.25"},
              {"%.0f", 10, "10"},   {"%.1e", 1000, "1.0e+03"}, {"%.3f V", 1.5, "1.500 V"}};
  char out[DS_FORMAT_SIZE];
  for (auto& r : rows) {
    EXPECT_GE(dsTickLabel(r.fmt, r.v, out, sizeof(out)), 0);
    EXPECT_STREQ(r.label, out) << r.fmt;
  }
  EXPECT_EQ(-1, dsTickLabel("%s", 1, out, sizeof(out)));

  EXPECT_EQ(11, dsTickCount(0, 10, 100));
  EXPECT_EQ(0, dsTickCount(10, 1, 0));
  EXPECT_EQ(-1, dsTickCount(0, 0, 100));
  EXPECT_EQ(-1, dsTickCount(0, -1, 100));
  EXPECT_EQ(-1, dsTickCount(0, NAN, 100));
  EXPECT_EQ(-1, dsTickCount(0, 0.001, 100));
}

}  // namespace
