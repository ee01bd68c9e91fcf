#include "otinifile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

class IniFileTest : public ::testing::Test {
 protected:
  // Writes data to a file in the temporary directory and reads it into ini.
  void load(const std::string& data) {
    ottest::writeFile(dir.file("in.ini"), data);
    ASSERT_EQ(0, ini.read(dir.file("in.ini").c_str()));
  }
  std::string written() {
    EXPECT_EQ(0, ini.write(dir.file("out.ini").c_str()));
    return ottest::readFile(dir.file("out.ini"));
  }
  std::vector<std::string> sections() {
    std::vector<std::string> out;
    for (const char* s = ini.firstSection(); s; s = ini.nextSection())
      out.push_back(s);
    return out;
  }
  std::vector<std::string> names(const char* section) {
    std::vector<std::string> out;
    for (const char* n = ini.firstName(section); n; n = ini.nextName(section))
      out.push_back(n);
    return out;
  }

  ottest::TempDir dir;
  otIniFile ini;
};

// --- parsing and writing back -------------------------------------------------------------

TEST_F(IniFileTest, WriteReproducesCommentsBlankLinesAndOrder) {
  const std::string head =
      "# settings\n"
      " indented line\n"
      "\tstarts with a tab\n"
      "\n"
      "[zeta]\n";
  const std::string tail =
      "b=2\n"
      "\n"
      "[alpha]\n"
      "; not a comment=but an entry\n"
      "k=v=w\n";
  load(head + "x = 1 2\n" + tail);
  EXPECT_STREQ("1 2", ini.text("zeta", "x"));
  EXPECT_STREQ("but an entry", ini.text("alpha", "; not a comment"));
  EXPECT_STREQ("v=w", ini.text("alpha", "k"));
  EXPECT_EQ((std::vector<std::string>{"# settings", " indented line", "\tstarts with a tab", ""}),
            names(""));
  EXPECT_EQ(head + "x=1 2\n" + tail, written());
  EXPECT_EQ(dir.file("in.ini"), ini.filename());
}

TEST_F(IniFileTest, EscapedEqualsSignStaysInName) {
  load("a\\=b=c\n");
  EXPECT_STREQ("c", ini.text("", "a\\=b"));
  EXPECT_STREQ("", ini.text("", "a"));
  EXPECT_EQ("a\\=b=c\n", written());
}

TEST_F(IniFileTest, EmptyValuesAndCommentNames) {
  load("# x=1\n x=2\n[s]\nkey=\nnovalue\n=orphan\n");
  EXPECT_STREQ("", ini.text("s", "key"));
  EXPECT_STREQ("", ini.text("s", ""));
  EXPECT_STREQ("", ini.text("", "# x"));
  EXPECT_STREQ("", ini.text("", " x"));
  EXPECT_STREQ("", ini.text("", "x"));
  EXPECT_EQ("# x=1\n x=2\n[s]\n\n\n\n", written());
}

TEST_F(IniFileTest, RepeatedHeaderContinuesSectionAndRepeatedNameReplaces) {
  load("[a]\nx=1\n[b]\ny=2\n[a]\nx=3\nz=4\n[unterminated\nu=5\n");
  EXPECT_STREQ("3", ini.text("a", "x"));
  EXPECT_STREQ("5", ini.text("unterminated", "u"));
  EXPECT_EQ((std::vector<std::string>{"", "a", "b", "unterminated"}), sections());
  EXPECT_EQ("[a]\nx=3\n\nz=4\n[b]\ny=2\n[unterminated]\nu=5\n", written());
}

TEST_F(IniFileTest, LineEndsAndOverlongLines) {
  load("[s]\r\ny = 2 \r\n");
  EXPECT_EQ("[s]\ny=2 \n", written());

  // The tail would otherwise read as a header and as an entry of its own.
  const std::string value(5000, 'v');
  load("[s]\nlong=" + value.substr(0, 4100) + "[evil]\nafter=1\n");
  EXPECT_EQ(std::string(4094 - 5, 'v'), ini.text("s", "long"));
  EXPECT_STREQ("1", ini.text("s", "after"));
  EXPECT_EQ((std::vector<std::string>{"", "s"}), sections());

  // Exactly 4094 characters before CR LF are one line, not a line and an empty one.
  load("k=" + std::string(4092, 'x') + "\r\nnext=2\r\n");
  EXPECT_EQ(4092u, strlen(ini.text("", "k")));
  EXPECT_EQ((std::vector<std::string>{"k", "next"}), names(""));
}

TEST_F(IniFileTest, MissingFileLeavesEmptyObject) {
  load("[s]\nx=1\n");
  EXPECT_EQ(-1, ini.read(dir.file("missing.ini").c_str()));
  EXPECT_STREQ("", ini.text("s", "x"));
  EXPECT_EQ((std::vector<std::string>{""}), sections());
  EXPECT_EQ(-1, ini.read(dir.path().c_str()));  // a directory opens but cannot be read
  EXPECT_EQ(-1, ini.write(dir.file("no/such/dir.ini").c_str()));
}

// --- editing --------------------------------------------------------------------------------

TEST_F(IniFileTest, EditedFileSurvivesWriteAndRead) {
  load("top=1\n[a]\nx=1\ny=2\n\n[b]\nz=3\n[c]\nw=4\n");
  EXPECT_EQ(0, ini.remove(""));  // the unnamed first section only loses its lines
  ini.setText("", "# head", nullptr);
  ini.setText("a", "x", "10");
  ini.setText("a", "new", "n");
  ini.setText("d", "k", nullptr);
  ini.setText("d", "k2", "v2");
  EXPECT_EQ(5, ini.printf("a", "p", "%d-%s", 42, "ab"));
  EXPECT_EQ(0, ini.printf("a", "p", "%s", ""));  // an empty result changes nothing
  // The length kept, not the one the formatter would have needed.
  const std::string longText(5000, 'x');
  EXPECT_EQ(4095, ini.printf("a", "long", "%s", longText.c_str()));
  EXPECT_EQ(std::string(ini.text("a", "long")), longText.substr(0, 4095));
  EXPECT_EQ(0, ini.remove("a", "long"));
  EXPECT_EQ(0, ini.remove("a", "y"));
  EXPECT_EQ(0, ini.remove("b"));
  EXPECT_EQ(-1, ini.remove("b"));
  EXPECT_EQ(-1, ini.remove("a", "y"));
  EXPECT_EQ(-1, ini.setText(nullptr, "x", "1"));
  EXPECT_EQ((std::vector<std::string>{"", "a", "c", "d"}), sections());

  const std::string expect = "# head\n[a]\nx=10\n\nnew=n\np=42-ab\n[c]\nw=4\n[d]\n\nk2=v2\n";
  EXPECT_EQ(expect, written());

  otIniFile again;
  ASSERT_EQ(0, again.read(dir.file("out.ini").c_str()));
  EXPECT_STREQ("10", again.text("a", "x"));
  EXPECT_STREQ("42-ab", again.text("a", "p"));
  EXPECT_STREQ("", again.text("b", "z"));
  EXPECT_STREQ("v2", again.text("d", "k2"));
  ASSERT_EQ(0, again.write(dir.file("again.ini").c_str()));
  EXPECT_EQ(expect, ottest::readFile(dir.file("again.ini")));
}

TEST_F(IniFileTest, WrittenTextCannotInjectLines) {
  ini.setText("s", "name", "first\n[admin]\nroot=1");
  ini.setText("s", "dir\\", "c:");
  ASSERT_EQ(0, ini.write(dir.file("out.ini").c_str()));
  otIniFile back;
  ASSERT_EQ(0, back.read(dir.file("out.ini").c_str()));
  EXPECT_STREQ("first [admin] root=1", back.text("s", "name"));
  EXPECT_STREQ("c:", back.text("s", "dir\\"));
  EXPECT_STREQ("", back.text("admin", "root"));
}

// --- walks ----------------------------------------------------------------------------------

TEST_F(IniFileTest, WalksEndAndStayEnded) {
  load("[a]\n#c\nx=1\n[b]\n");
  EXPECT_EQ(nullptr, ini.nextSection());  // no walk started
  EXPECT_EQ((std::vector<std::string>{"", "a", "b"}), sections());
  EXPECT_EQ(nullptr, ini.nextSection());
  EXPECT_EQ((std::vector<std::string>{"#c", "x"}), names("a"));
  EXPECT_EQ(nullptr, ini.nextName("a"));
  EXPECT_EQ(nullptr, ini.firstName("b"));
  EXPECT_EQ(nullptr, ini.firstName("missing"));
}

TEST_F(IniFileTest, RemovingDuringWalkSkipsNothing) {
  load("[a]\nx=1\ny=2\nz=3\n[b]\n[c]\n");
  EXPECT_STREQ("", ini.firstSection());
  EXPECT_STREQ("a", ini.nextSection());
  EXPECT_EQ(0, ini.remove("a"));
  EXPECT_STREQ("b", ini.nextSection());

  EXPECT_EQ(0, ini.setText("a", "x", "1"));
  ini.setText("a", "y", "2");
  EXPECT_STREQ("x", ini.firstName("a"));
  EXPECT_EQ(0, ini.remove("a", "x"));
  EXPECT_STREQ("y", ini.nextName("a"));
}

// --- translation ----------------------------------------------------------------------------

TEST_F(IniFileTest, TrFallsBackToErrorTexts) {
  load("[de]\nYes=Ja\nEmpty=\n");
  ini.setDefaultSection("de");
  EXPECT_STREQ("Ja", ini.tr("Yes"));
  EXPECT_STREQ("Ja", ini.i18n("Yes", "fb"));
  EXPECT_STREQ("fb", ini.i18n("Empty", "fb"));
  EXPECT_EQ(nullptr, ini.i18n("No", nullptr));
  EXPECT_STREQ("ERROR:txt=NULL", ini.tr(nullptr));

  const char* first = ini.tr("No");
  const char* second = ini.tr("Maybe");
  EXPECT_STREQ("tr_error:No", first);  // still valid after the next call
  EXPECT_STREQ("tr_error:Maybe", second);
  EXPECT_STREQ("tr_error:Empty", ini.tr("Empty"));

  EXPECT_EQ("tr_error:" + std::string(983, 'a'), ini.tr(std::string(983, 'a').c_str()));
  EXPECT_STREQ("tr_error:text too long", ini.tr(std::string(984, 'a').c_str()));
}

class TranslatorTest : public IniFileTest {
 protected:
  void SetUp() override {
    ottest::writeFile(dir.file("lang.ini"),
                      "[de]\n"
                      "Hello=Hallo\\nWelt\n"
                      "Plain=Schlicht\n"
                      "[menu]\n"
                      "File=Da\\tt\\=ei\\\\\\x\n");
    ASSERT_EQ(0, otSetTranslator("de", dir.file("lang.ini").c_str()));
  }
  void TearDown() override { free(buffer); }
  char* buffer = nullptr;
};

TEST_F(TranslatorTest, TranslatesAndAppliesEscapes) {
  EXPECT_STREQ("Hallo\nWelt", ottranslate("Hello", &buffer));
  const char* again = ottranslate("Hello", &buffer);  // the old copy is freed, a new one made
  EXPECT_EQ(buffer, again);
  EXPECT_STREQ("Schlicht", ottranslate("Plain", &buffer));
  const char* unknown = "a\\nb\\";
  EXPECT_STREQ("a\nb\\", ottranslate(unknown, &buffer));
  // Re-translating the last result must not read the buffer after freeing it.
  EXPECT_STREQ("a\nb\\", ottranslate(buffer, &buffer));
  const char* none = "no escapes";
  EXPECT_EQ(none, ottranslate(none, &buffer));

  EXPECT_STREQ("Da\tt=ei\\\\x", ottranslate2("menu", "File", &buffer));
  EXPECT_STREQ("Hallo\nWelt", ottranslate2("", "Hello", &buffer));
  EXPECT_STREQ("Hello", ottranslate2("menu", "Hello", &buffer));
  EXPECT_STREQ("x", ottranslate2("nosuch", "x", nullptr));
}

TEST_F(TranslatorTest, LanguageSwitchAndFailedRead) {
  EXPECT_EQ(0, otSetTranslator("en", nullptr));
  EXPECT_STREQ("Plain", ottranslate("Plain", &buffer));
  EXPECT_EQ(-1, otSetTranslator("de", dir.file("missing.ini").c_str()));
  EXPECT_STREQ("Plain", ottranslate("Plain", &buffer));
}

// The translator is process-wide, so the state before any exists is checked in a child.
TEST(TranslatorDeathTest, NullPathBeforeAnyTranslatorDoesNothing) {
  // A fresh process, not a fork that may already hold a translator from an earlier test.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        char* buffer = nullptr;
        bool ok = otSetTranslator("de", nullptr) == -1;
        ok = ok && strcmp(ottranslate("a\\tb", &buffer), "a\tb") == 0;
        ok = ok && strcmp(ottranslate2("de", "x", &buffer), "x") == 0;
        free(buffer);
        _exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
