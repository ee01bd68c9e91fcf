// otFileLoad, otHtml, otHtmlDir and otBuffer.
#include "othtml.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "otbuffer.h"
#include "otfileload.h"
#include "othtmldir.h"
#include "otspreadsheet.h"
#include "testutil.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::UnorderedElementsAre;

namespace {

const std::string kHeader =
    "<html>\n<head>\n  <meta charset=\"utf-8\"> <title>otHtmlDir</title>\n"
    "  <link rel=\"stylesheet\" type=\"text/css\" href=\"othtml.css\">\n</head>\n"
    "<body id=\"othtmlbody\">\n";
const std::string kTrailer = "</body>\n</html>\n";

std::vector<std::string> allLines(otFileLoad& file) {
  std::vector<std::string> out;
  for (const char* line = file.firstLine(); line != nullptr; line = file.nextLine())
    out.push_back(line);
  return out;
}

// ---------------------------------------------------------------- otFileLoad

TEST(OtFileLoad, CutsLinesAtLineFeedAndCarriageReturn) {
  ottest::TempDir dir;
  std::string path = dir.file("text.txt");
  ottest::writeFile(path, "one\r\ntwo\rdropped\n\nlast");
  otFileLoad file;
  EXPECT_EQ(file.nextLine(), nullptr);
  ASSERT_EQ(file.load(path.c_str()), 1);
  EXPECT_EQ(file.loaded, 1);
  // Loaded, but the cursor has not started yet.
  EXPECT_EQ(file.nextLine(), nullptr);
  EXPECT_THAT(allLines(file), ElementsAre("one", "two", "", "last"));
  EXPECT_EQ(file.nextLine(), nullptr);

  otString s("old");
  EXPECT_EQ(file.text2otstring(s), 0);
  EXPECT_STREQ(s.text(), "one\ntwo\n\nlast\n");

  file.unload();
  EXPECT_EQ(file.loaded, 0);
  EXPECT_EQ(file.firstLine(), nullptr);
  EXPECT_EQ(file.text2otstring(s), -1);
  EXPECT_STREQ(s.text(), "");
}

TEST(OtFileLoad, LongLinesInPiecesReloadAndMissingFile) {
  ottest::TempDir dir;
  std::string path = dir.file("long.txt");
  ottest::writeFile(path, std::string(5000, 'x') + "\n");
  otFileLoad file;
  ASSERT_EQ(file.load(path.c_str()), 1);
  EXPECT_THAT(allLines(file), ElementsAre(std::string(4094, 'x'), std::string(906, 'x')));

  ottest::writeFile(path, "fresh\n");
  ASSERT_EQ(file.load(path.c_str()), 1);
  EXPECT_THAT(allLines(file), ElementsAre("fresh"));

  EXPECT_EQ(file.load(dir.file("missing").c_str()), -1);
  EXPECT_EQ(file.loaded, 0);
  EXPECT_EQ(file.firstLine(), nullptr);
  EXPECT_EQ(file.setDebug(7), 1);
  EXPECT_EQ(file.setDebug(0), 0);
}

// ---------------------------------------------------------------- otHtml

TEST(OtHtml, TextFileEscapesAngleBracketsOnly) {
  ottest::TempDir dir;
  std::string path = dir.file("page.txt");
  ottest::writeFile(path, "a<b>&c\nplain\r\n");
  otHtml html;
  otString s;
  ASSERT_EQ(html.textFile(path.c_str(), s), 0);
  EXPECT_EQ(std::string(s.text()), kHeader + "<p>File=" + path +
                                       " Size=14Byte, 0kByte</p><hr>\n"
                                       "<pre id=\"otTextFile\">\na&lt;b&gt;&c\nplain\n</pre>\n" +
                                       kTrailer);

  otString untouched("keep");
  EXPECT_EQ(html.textFile(dir.file("missing").c_str(), untouched), -1);
  EXPECT_STREQ(untouched.text(), "keep");
}

TEST(OtHtml, HexdumpThroughOdWithBlankInPath) {
  ottest::TempDir dir;
  std::string path = dir.file("two words.bin");
  ottest::writeFile(path, std::string("\x00\x41<\xff", 4));
  otHtml html;
  otString s;
  ASSERT_EQ(html.hexdumpFile(path.c_str(), s), 0);
  std::string page = s.text();
  EXPECT_EQ(page.rfind(kHeader + "<pre id=\"otHexdumpFile\">\n000000 00 41 3c ff", 0), 0u);
  // The printable column of od, escaped: >.A<.<
  EXPECT_THAT(page, HasSubstr("&gt;.A&lt;.&lt;\n000004\n</pre>\n" + kTrailer));

  // A double quote cannot be passed to od as part of one argument: refused, nothing runs.
  otString untouched("keep");
  EXPECT_EQ(html.hexdumpFile(dir.file("a\" \"b").c_str(), untouched), -1);
  EXPECT_STREQ(untouched.text(), "keep");
}

// ---------------------------------------------------------------- otHtmlDir

std::string dirLink(const std::string& path, const std::string& label) {
  return "+<a  class=\"othtmldir\" href=\"ftp://othtmldir" + path + "\">" + label + "</a>\n";
}

std::string fileLink(const std::string& path, const std::string& label) {
  return " <a class=\"othtmlfile\" href=\"ftp://othtmlfile" + path + "\">" + label + "</a>\n";
}

std::vector<std::string> cells(const otSpreadsheetRow& row) {
  std::vector<std::string> out;
  for (otSpreadsheetCell* c = row.getFirstCell(); c; c = c->getNextCell())
    out.push_back(c->text());
  return out;
}

class OtHtmlDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("OTKIT_OTFIND");
    if (old != nullptr) saved = old;
    hadOld = old != nullptr;
    setenv("OTKIT_OTFIND", OTKIT_TOOLS_DIR "/otfind", 1);
    root = tmp.path();
    mkdir((root + "/docs").c_str(), 0700);
    mkdir((root + "/.cache").c_str(), 0700);
    ottest::writeFile(root + "/a.txt", "");
    ottest::writeFile(root + "/b.c", "");
    ottest::writeFile(root + "/.secret", "");
    ottest::writeFile(root + "/docs/x.txt", "");
    ASSERT_EQ(dir.cd(root.c_str(), 1), 0);
  }
  void TearDown() override {
    if (hadOld)
      setenv("OTKIT_OTFIND", saved.c_str(), 1);
    else
      unsetenv("OTKIT_OTFIND");
  }

  ottest::TempDir tmp;
  std::string root;
  otHtmlDir dir;
  std::string saved;
  bool hadOld = false;
};

TEST_F(OtHtmlDirTest, PageOfHomeWithLinkScheme) {
  dir.header = "<h1>top</h1>";
  dir.trailer = "<p>end</p>";
  std::string page = dir.getHtml(1);
  std::string head = kHeader +
                     "<h1>top</h1><pre class=\"othtmldirpre\">\nHome: <a  "
                     "class=\"othtmldirhome\" href=\"ftp://othtmldirhome" +
                     root + "\">" + root + "</a>\nPath: " + root + "\n";
  EXPECT_EQ(page.rfind(head, 0), 0u) << page;
  EXPECT_THAT(page, Not(HasSubstr("othtmldirup")));
  EXPECT_THAT(page, HasSubstr(dirLink(root + "/docs", "docs")));
  EXPECT_THAT(page, HasSubstr(fileLink(root + "/a.txt", "a.txt")));
  EXPECT_THAT(page, HasSubstr(fileLink(root + "/b.c", "b.c")));
  EXPECT_THAT(page, HasSubstr(fileLink(root + "/.secret", ".secret")));
  EXPECT_THAT(page, Not(HasSubstr(".cache")));
  EXPECT_THAT(page, Not(HasSubstr("x.txt")));
  EXPECT_EQ(page.size() - page.rfind("</pre>\n<p>end</p>" + kTrailer),
            std::string("</pre>\n<p>end</p>" + kTrailer).size());

  std::string bare = dir.getHtml(0);
  EXPECT_EQ(bare.rfind("<h1>top</h1><pre", 0), 0u);
  EXPECT_THAT(bare, Not(HasSubstr("<html>")));
  EXPECT_THAT(bare, Not(HasSubstr("</html>")));
  EXPECT_STREQ(dir.html.text(), bare.c_str());
}

TEST_F(OtHtmlDirTest, CdRules) {
  EXPECT_EQ(dir.cd(".."), -1);  // current is home
  EXPECT_EQ(std::string(dir.current.text()), root);
  EXPECT_EQ(dir.cd(".cache"), -1);
  EXPECT_EQ(dir.cd("docs"), 0);
  EXPECT_EQ(std::string(dir.current.text()), root + "/docs");
  std::string page = dir.getHtml(1);
  EXPECT_THAT(page,
              HasSubstr("<a class=\"othtmldirup\" href=\"ftp://othtmldirup/dir/up\">..</a>\n"));
  EXPECT_THAT(page, HasSubstr(fileLink(root + "/docs/x.txt", "x.txt")));
  EXPECT_EQ(dir.cd(".."), 0);
  EXPECT_EQ(std::string(dir.current.text()), root);

  EXPECT_EQ(dir.cd("/elsewhere", 0), 0);
  EXPECT_STREQ(dir.current.text(), "/elsewhere");
  EXPECT_EQ(std::string(dir.home.text()), root);
  EXPECT_EQ(dir.cd("~"), 0);
  EXPECT_EQ(std::string(dir.current.text()), root);
  EXPECT_EQ(dir.cd("/elsewhere", 1), 0);
  EXPECT_STREQ(dir.home.text(), "/elsewhere");
  EXPECT_STREQ(dir.current.text(), "/elsewhere");

  // The '/' that would be cut is the first character: never up to "".
  dir.home = "";
  dir.current = "/usr";
  EXPECT_EQ(dir.cd(".."), -1);
  EXPECT_STREQ(dir.current.text(), "/usr");
  EXPECT_EQ(dir.cd(nullptr), -1);
}

TEST_F(OtHtmlDirTest, HiddenAndShowFilters) {
  dir.hidden = 1;
  std::string page = dir.getHtml(0);
  EXPECT_THAT(page, Not(HasSubstr(".secret")));
  EXPECT_THAT(page, HasSubstr(fileLink(root + "/a.txt", "a.txt")));

  dir.hidden = 2;
  page = dir.getHtml(0);
  EXPECT_THAT(page, Not(HasSubstr("othtmlfile")));
  EXPECT_THAT(page, HasSubstr(dirLink(root + "/docs", "docs")));

  dir.hidden = 0;
  dir.show = 2;
  page = dir.getHtml(0);
  EXPECT_THAT(page, Not(HasSubstr("othtmlfile")));
  EXPECT_THAT(page, HasSubstr(dirLink(root + "/docs", "docs")));

  dir.show = 3;
  page = dir.getHtml(0);
  EXPECT_THAT(page, Not(HasSubstr("class=\"othtmldir\"")));
  EXPECT_THAT(page, HasSubstr(fileLink(root + "/a.txt", "a.txt")));
}

TEST_F(OtHtmlDirTest, RecursivePatternUsesFullPathLabels) {
  dir.recursive = 1;
  dir.pattern = "*.txt";
  std::string page = dir.getHtml(0);
  EXPECT_THAT(page, HasSubstr(fileLink(root + "/docs/x.txt", root + "/docs/x.txt")));
  EXPECT_THAT(page, HasSubstr(dirLink(root + "/docs", root + "/docs")));
  EXPECT_THAT(page, Not(HasSubstr("b.c")));
}

TEST_F(OtHtmlDirTest, GetFilenamesFillsRow) {
  EXPECT_EQ(dir.getFilenames(nullptr), 0);
  otSpreadsheetRow row;
  row.setText(9, "stale");
  dir.hidden = 1;
  EXPECT_EQ(dir.getFilenames(&row), 3);
  EXPECT_THAT(cells(row),
              UnorderedElementsAre(root + "/docs [d]", root + "/a.txt [f]", root + "/b.c [f]"));
}

TEST_F(OtHtmlDirTest, DirectoryNamesCannotRunCommands) {
  std::string evil = "x'; touch pwned; echo '";
  ASSERT_EQ(mkdir((root + "/" + evil).c_str(), 0700), 0);
  ottest::writeFile(root + "/" + evil + "/in.txt", "");
  ottest::ScopedChdir in(root);
  ASSERT_EQ(dir.cd(evil.c_str()), 0);
  dir.pattern = "'$(touch pwned2)'";
  otSpreadsheetRow row;
  EXPECT_EQ(dir.getFilenames(&row), 0);  // no file holds that pattern
  dir.pattern = "*";
  EXPECT_EQ(dir.getFilenames(&row), 1);
  EXPECT_EQ(std::string(row.text(1)), root + "/" + evil + "/in.txt [f]");
  EXPECT_NE(access("pwned", F_OK), 0);
  EXPECT_NE(access("pwned2", F_OK), 0);
}

TEST_F(OtHtmlDirTest, MissingOtfindIsReported) {
  setenv("OTKIT_OTFIND", (root + "/no-such-otfind").c_str(), 1);
  ottest::CaptureStdout out;
  std::string page = dir.getHtml(1);
  otSpreadsheetRow row;
  EXPECT_EQ(dir.getFilenames(&row), -1);
  std::string printed = out.text();
  EXPECT_EQ(printed.rfind("otHtmlDir: otfind not found", 0), 0u) << printed;
  EXPECT_THAT(page, HasSubstr("otfind not found"));
}

// ---------------------------------------------------------------- otBuffer

TEST(OtBuffer, LinesOfText) {
  otBuffer buf;
  EXPECT_EQ(buf.line(0), nullptr);
  EXPECT_EQ(buf.resize(0), -1);
  ASSERT_EQ(buf.resize(10), 10);
  EXPECT_EQ(buf.size(), 10);
  EXPECT_EQ(buf.setText("a\nb"), 3);
  EXPECT_EQ(buf.line(0), buf.c);
  EXPECT_EQ(buf.line(1), buf.c + 2);
  EXPECT_STREQ(buf.line(1), "b");
  EXPECT_EQ(buf.line(2), nullptr);
  EXPECT_EQ(buf.line(-1), nullptr);
  EXPECT_EQ((void*)buf.d, (void*)buf.c);
  EXPECT_EQ((void*)buf.us, (void*)buf.uc);

  // A line feed in the last byte: the position behind it is outside the buffer.
  ASSERT_EQ(buf.resize(2), 2);
  buf.c[0] = 'a';
  buf.c[1] = '\n';
  EXPECT_EQ(buf.line(1), nullptr);
}

TEST(OtBuffer, SetTextNeedsRoomForNul) {
  otBuffer buf;
  ASSERT_EQ(buf.resize(4), 4);
  ottest::CaptureStdout out;
  EXPECT_EQ(buf.setText("abcd"), -1);
  EXPECT_EQ(out.text(), "otBuffer::setText() text  is too long\n");
  EXPECT_EQ(buf.setText("abc"), 3);
  EXPECT_STREQ(buf.c, "abc");
}

}  // namespace
