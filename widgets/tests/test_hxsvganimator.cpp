// The animator's document: reading within the limits, finding elements by id, changing them,
// and the SVG text that the drawing widget renders.
#include "qttestmain.h"

#include <math.h>
#include <stdio.h>

#include <string>

#include <QSvgRenderer>
#include <QXmlStreamReader>

#include "hxsvganimator.h"

namespace {

// otsvgcat's line form of a small plant picture.
const char kPicture[] =
    "<svg\n"
    "xmlns=\"http://www.w3.org/2000/svg\"\n"
    "width=\"100\"\n"
    "height=\"50\"\n"
    "viewBox=\"0 0 100 50\"\n"
    ">\n"
    "<g\n"
    "id=\"grp\"\n"
    "transform=\"translate(10,20)\"\n"
    ">\n"
    "<rect\n"
    "id=\"r1\"\n"
    "x=\"1\"\n"
    "width=\"30\"\n"
    "height=\"10\"\n"
    "style=\"fill:red;stroke:blue\"\n"
    "/>\n"
    "<text\n"
    "id=\"t1\"\n"
    "x=\"5\"\n"
    "y=\"5\"\n"
    ">\n"
    "Temp\n"
    "<tspan\n"
    "id=\"ts\"\n"
    ">\n"
    "20 \xC2\xB0"
    "C\n"
    "</tspan>\n"
    "&amp; more\n"
    "</text>\n"
    "</g>\n"
    "<circle\n"
    "id=\"c1\"\n"
    "r=\"3\"\n"
    "/>\n"
    "</svg>\n";

bool wellFormed(const QByteArray& xml) {
  QXmlStreamReader r(xml);
  while (!r.atEnd())
    r.readNext();
  return !r.hasError();
}

class SvgAnimatorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, a.readText(kPicture, sizeof(kPicture) - 1)); }
  int indexOf(const char* rec) {
    for (int i = 0; i < a.numLines(); i++)
      if (std::string(a.record(i)) == rec) return i;
    return -1;
  }
  std::string text() { return a.svgText(640, 480).toStdString(); }
  hxSvgAnimator a{nullptr, nullptr};
};

TEST_F(SvgAnimatorTest, ReadingDropsViewBoxAndKeepsUtf8) {
  EXPECT_EQ(35, a.numLines());  // 36 lines, the view box dropped
  EXPECT_EQ(-1, indexOf("viewBox=\"0 0 100 50\""));
  EXPECT_EQ(std::string("20 \xC2\xB0"
                        "C"),
            a.record(indexOf("id=\"ts\"") + 2));
  for (int i = 0; i < a.numLines(); i++)
    EXPECT_EQ(1, a.isShown(i));
  EXPECT_EQ(nullptr, a.record(a.numLines()));

  const char crlf[] = "<svg\r\n>\r\n</svg>\r\n<svgend></svgend>\n<rect\n";
  ASSERT_EQ(0, a.readText(crlf, sizeof(crlf) - 1));
  EXPECT_EQ(3, a.numLines());
  EXPECT_STREQ(">", a.record(1));
  EXPECT_EQ(0, a.closefile());
  EXPECT_EQ(-1, a.closefile());
}

TEST_F(SvgAnimatorTest, HidingAGroupHidesItsChildrenAndShowingRestoresThem) {
  int g = indexOf("<g"), end = indexOf("</g>");
  ASSERT_EQ(0, a.show("r1", 0));
  ASSERT_EQ(0, a.show("grp", 0));
  for (int i = g; i <= end; i++)
    EXPECT_EQ(0, a.isShown(i)) << a.record(i);
  EXPECT_EQ(1, a.isShown(end + 1));  // the circle after the group
  std::string t = text();
  EXPECT_EQ(std::string::npos, t.find("r1"));
  EXPECT_NE(std::string::npos, t.find("c1"));
  EXPECT_TRUE(wellFormed(t.c_str()));
  ASSERT_EQ(0, a.show("grp", 1));
  for (int i = 0; i < a.numLines(); i++)
    EXPECT_EQ(1, a.isShown(i));
}

TEST_F(SvgAnimatorTest, PrintfReplacesOrInsertsAndEscapes) {
  int n = a.numLines(), rect = indexOf("<rect");
  ASSERT_EQ(0, a.svgPrintf("r1", "x=", "7"));
  EXPECT_EQ(n, a.numLines());
  EXPECT_STREQ("x=\"7\"", a.record(rect + 2));
  ASSERT_EQ(0, a.svgPrintf("r1", "fill=", "green"));
  EXPECT_EQ(n + 1, a.numLines());
  EXPECT_STREQ("fill=\"green\"", a.record(rect + 1));
  // References the server sent stay as they are; bare specials are escaped.
  ASSERT_EQ(0, a.svgPrintf("r1", "class", "a<b \"c\" &amp; d & e", " y=\"2\""));
  EXPECT_STREQ("class=\"a&lt;b &quot;c&quot; &amp; d &amp; e\" y=\"2\"", a.record(rect + 1));
  EXPECT_TRUE(wellFormed(a.svgText(10, 10)));
  // A record inserted into a hidden element is hidden with it.
  ASSERT_EQ(0, a.show("c1", 0));
  ASSERT_EQ(0, a.svgPrintf("c1", "fill=", "red"));
  EXPECT_EQ(0, a.isShown(indexOf("fill=\"red\"")));
}

TEST_F(SvgAnimatorTest, RecursiveChangesReachEveryElementInside) {
  ASSERT_EQ(0, a.svgRecursivePrintf("grp", "fill=", "blue"));
  int n = 0;
  for (int i = 0; i < a.numLines(); i++)
    n += std::string(a.record(i)) == "fill=\"blue\"";
  EXPECT_EQ(4, n);  // g, rect, text, tspan; not the circle
  EXPECT_EQ(indexOf("<circle") + 1, indexOf("id=\"c1\""));

  ASSERT_EQ(0, a.svgRecursiveSearchAndReplace("grp", "fill=", "blu", "gr"));
  EXPECT_EQ(-1, indexOf("fill=\"blue\""));
  ASSERT_EQ(0, a.svgSearchAndReplace("r1", "style=", "red", "yellow"));
  EXPECT_NE(-1, indexOf("style=\"fill:yellow;stroke:blue\""));
  EXPECT_EQ(-1, a.svgSearchAndReplace("r1", "style=", "", "x"));
  EXPECT_EQ(0, a.svgRecursiveChangeStyleOption("grp", "style=", "opacity", "0.5"));
  EXPECT_NE(-1, indexOf("style=\"fill:yellow;stroke:blue;opacity:0.5\""));
  EXPECT_NE(-1, indexOf("style=\"opacity:0.5\""));  // created where there was none
  EXPECT_TRUE(wellFormed(a.svgText(10, 10)));
}

TEST_F(SvgAnimatorTest, TextPrintfSetsTheFirstTextEscaped) {
  int t = indexOf("Temp");
  ASSERT_EQ(0, a.svgTextPrintf("t1", "a<b & \"c\""));
  EXPECT_STREQ("a&lt;b &amp; \"c\"", a.record(t));
  ASSERT_EQ(0, a.svgTextPrintf("ts",
                               "21 \xC2\xB0"
                               "C"));
  std::string out = text();
  EXPECT_TRUE(wellFormed(out.c_str()));
  // Text inside a tspan is not padded with line breaks.
  EXPECT_NE(std::string::npos, out.find("<tspan id=\"ts\">21 \xC2\xB0"
                                        "C</tspan>\n"));
  EXPECT_EQ(-1, a.svgTextPrintf("c1", "x"));  // an empty element holds no text
  // An element with content but no text yet gets one, and keeps only one.
  ASSERT_EQ(0, a.readText("<svg\n>\n<text\nid=\"e\"\n>\n</text>\n</svg>\n", 37));
  ASSERT_EQ(0, a.svgTextPrintf("e", ""));
  ASSERT_EQ(0, a.svgTextPrintf("e", "ok"));
  EXPECT_EQ(8, a.numLines());
  EXPECT_STREQ("ok", a.record(5));
}

TEST_F(SvgAnimatorTest, StyleOptions) {
  ASSERT_EQ(0, a.svgChangeStyleOption("r1", "style=", "fill", "green"));
  EXPECT_NE(-1, indexOf("style=\"fill:green;stroke:blue\""));
  ASSERT_EQ(0, a.svgRemoveStyleOption("r1", "style=", "stroke"));
  EXPECT_NE(-1, indexOf("style=\"fill:green\""));
  ASSERT_EQ(0, a.svgRemoveStyleOption("r1", "style=", "missing"));
  EXPECT_NE(-1, indexOf("style=\"fill:green\""));
  ASSERT_EQ(0, a.svgSetStyleOption("r1", "style=", "stroke:black"));
  EXPECT_NE(-1, indexOf("style=\"stroke:black\""));
  // An option must not smuggle in further pairs.
  EXPECT_EQ(-1, a.svgChangeStyleOption("r1", "style=", "fill", "red;x:y"));
  ASSERT_EQ(0, a.svgRemoveStyleOption("c1", "style=", "fill"));
  EXPECT_EQ(indexOf("<circle") + 1, indexOf("id=\"c1\""));
}

TEST_F(SvgAnimatorTest, SvgTextSizesOnlyTheRoot) {
  std::string out = text();
  EXPECT_EQ(0u, out.find("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"640px\" "
                         "height=\"480px\">\n"));
  EXPECT_NE(std::string::npos, out.find("<rect id=\"r1\" x=\"1\" width=\"30\" height=\"10\""));
  QByteArray xml = a.svgText(640, 480);
  EXPECT_TRUE(wellFormed(xml));
  QSvgRenderer renderer(xml);
  EXPECT_TRUE(renderer.isValid());
  EXPECT_EQ(QSize(640, 480), renderer.defaultSize());

  const char bare[] =
      "<svg\nxmlns=\"http://www.w3.org/2000/svg\"\n>\n<rect\nwidth=\"5\"\n/>\n</svg>\n";
  ASSERT_EQ(0, a.readText(bare, sizeof(bare) - 1));
  EXPECT_EQ(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"20px\" height=\"10px\">\n"
      "<rect width=\"5\"/>\n</svg>\n",
      a.svgText(20, 10).toStdString());
}

TEST_F(SvgAnimatorTest, CurrentTransformationMatrix) {
  const char nested[] =
      "<svg\n>\n<g\ntransform=\"translate(10,20)\"\n>\n<g\ntransform=\"rotate(90)\"\n>\n"
      "<rect\nid=\"r\"\ntransform=\"scale(2 "
      "3)\"\n/>\n<rect\nid=\"bad\"\ntransform=\"turn(1)\"\n/>\n"
      "</g>\n</g>\n<rect\nid=\"list\"\ntransform=\" translate(5) ,scale(2)rotate(90,1,1) \"\n/>\n"
      "<rect\nid=\"plain\"\n/>\n</svg>\n";
  ASSERT_EQ(0, a.readText(nested, sizeof(nested) - 1));
  struct Row {
    const char* id;
    TRMatrix m;
  } rows[] = {
      // T(10,20)·R(90)·S(2,3)
      {"r", {0, 2, -3, 0, 10, 20}},
      // T(5,0)·S(2)·T(1,1)·R(90)·T(-1,-1)
      {"list", {0, 2, -2, 0, 9, 0}},
      {"plain", {1, 0, 0, 1, 0, 0}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.id);
    TRMatrix m;
    ASSERT_EQ(0, a.calcCTM(r.id, &m));
    const double got[] = {m.a, m.b, m.c, m.d, m.e, m.f};
    const double want[] = {r.m.a, r.m.b, r.m.c, r.m.d, r.m.e, r.m.f};
    for (int k = 0; k < 6; k++)
      EXPECT_NEAR(want[k], got[k], 1e-9) << k;
  }
  TRMatrix m;
  EXPECT_EQ(-1, a.calcCTM("bad", &m));
  EXPECT_EQ(-1, a.calcCTM("none", &m));
  EXPECT_EQ(-1, a.calcCTM("r", nullptr));
}

TEST_F(SvgAnimatorTest, ObjectsAreCountedFromTheFirstGroup) {
  EXPECT_EQ(1, a.calcObjectWanted("id=\"grp\""));
  EXPECT_EQ(4, a.calcObjectWanted("id=\"ts\""));
  EXPECT_EQ(5, a.calcObjectWanted("id=\"c1\""));
  EXPECT_EQ(0, a.calcObjectWanted("id=\"none\""));
}

TEST_F(SvgAnimatorTest, MissingElementsAndBadArgumentsChangeNothing) {
  std::string before = text();
  EXPECT_EQ(-1, a.show("nope", 0));
  EXPECT_EQ(-1, a.svgPrintf("nope", "x=", "1"));
  EXPECT_EQ(-1, a.svgPrintf("r1", "x y=", "1"));
  EXPECT_EQ(-1, a.svgPrintf("r1", "x=", "1", "\n<evil"));
  EXPECT_EQ(-1, a.svgTextPrintf(nullptr, "x"));
  EXPECT_EQ(-1, a.svgChangeStyleOption("r1", nullptr, "a", "b"));
  EXPECT_EQ(-1, a.svgRecursiveSearchAndReplace("nope", "x=", "1", "2"));
  EXPECT_EQ(-1, a.dumpLocalSvg(nullptr));
  // Text that reads like an id is no element.
  ASSERT_EQ(0, a.svgTextPrintf("t1", "id=\"fake\""));
  EXPECT_EQ(-1, a.show("fake", 0));
  ASSERT_EQ(0, a.svgTextPrintf("t1", "Temp"));
  EXPECT_EQ(before, text());
  // A value growing past the line limit is refused whole.
  ASSERT_EQ(0, a.svgPrintf("r1", "x=", std::string(4000, 'a').c_str()));
  EXPECT_EQ(-1, a.svgSearchAndReplace("r1", "x=", "a", "aa"));
  EXPECT_NE(-1, indexOf(("x=\"" + std::string(4000, 'a') + "\"").c_str()));

  hxSvgAnimator empty(nullptr, nullptr);
  EXPECT_EQ(-1, empty.show("r1", 1));
  EXPECT_EQ(-1, empty.testoutput());
  EXPECT_TRUE(empty.svgText(1, 1).isEmpty());
}

TEST_F(SvgAnimatorTest, LimitsRefuseTheWholeDrawing) {
  std::string deep;
  for (int i = 0; i <= HX_SVG_MAX_DEPTH; i++)
    deep += "<g\n>\n";
  const std::string cases[] = {"<svg\n" + std::string(HX_SVG_MAX_LINE, 'x') + "\n", deep,
                               std::string("<svg\na\0b\n", 9)};
  for (const std::string& doc : cases) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, a.readText(doc.data(), (long)doc.size()));
    EXPECT_EQ(0u, testing::internal::GetCapturedStdout().find("hxSvgAnimator: drawing refused: "));
    EXPECT_EQ(0, a.numLines());
    EXPECT_EQ(nullptr, a.record(0));
    EXPECT_EQ(-1, a.closefile());
  }
  // Just within the limits.
  std::string ok = deep.substr(5) + std::string(HX_SVG_MAX_LINE - 1, 'x') + "\n";
  EXPECT_EQ(0, a.readText(ok.data(), (long)ok.size()));
}

TEST_F(SvgAnimatorTest, DumpWritesTheShownRecords) {
  ASSERT_EQ(0, a.show("grp", 0));
  FILE* fp = tmpfile();
  ASSERT_NE(nullptr, fp);
  ASSERT_EQ(0, a.dumpLocalSvg(fp));
  rewind(fp);
  char line[256];
  int n = 0;
  while (fgets(line, sizeof(line), fp) != nullptr)
    n++;
  fclose(fp);
  EXPECT_EQ(a.numLines() - (indexOf("</g>") - indexOf("<g") + 1), n);
}

}  // namespace
