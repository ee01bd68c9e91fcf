#include "otstring.h"

#include <gtest/gtest.h>

#include <string>

#include "testutil.h"

TEST(otStringBuild, EmptyStringCatsExactly) {
  otString s("");
  EXPECT_STREQ(s.text(), "");
  EXPECT_EQ(s.cat("abc"), 3);
  EXPECT_STREQ(s.text(), "abc");
  otString n(static_cast<const char*>(nullptr));
  EXPECT_STREQ(n.text(), "");
}

TEST(otStringBuild, CopiesAreIndependent) {
  otString a("one");
  otString b(a);
  otString c(&a);
  a = "changed";
  EXPECT_STREQ(b.text(), "one");
  EXPECT_STREQ(c.text(), "one");
  b = a;
  EXPECT_STREQ(b.text(), "changed");
  b = b;  // self-assignment keeps the text
  EXPECT_STREQ(b.text(), "changed");
}

TEST(otStringBuild, PlusAppendsToTheLeftOperandItself) {
  otString a("x");
  otString b("y");
  otString& r = a + "1";
  EXPECT_EQ(&r, &a);
  a + b;
  a += "2";
  a += b;
  EXPECT_STREQ(a.text(), "x1y2y");
  EXPECT_STREQ(b.text(), "y");
}

TEST(otStringBuild, ReplacingWithAPartOfItselfIsSafe) {
  otString s("hello world");
  EXPECT_EQ(s.strcpy(s.text() + 6), 5);
  EXPECT_STREQ(s.text(), "world");
  EXPECT_EQ(s.setText(s.text() + 1), 4);
  EXPECT_STREQ(s.text(), "orld");
}

TEST(otStringFormat, PrintfIsBoundedAndEmptyFormatGivesEmptyText) {
  otString s("old");
  EXPECT_EQ(s.printf("%s", ""), 0);
  EXPECT_EQ(s.printf("%d-%s", 42, "x"), 4);
  EXPECT_STREQ(s.text(), "42-x");
  // An empty format is passed through a variable so the compiler does not flag it.
  const char* empty = "";
  EXPECT_EQ(s.printf(empty), 1);
  EXPECT_STREQ(s.text(), "");
  std::string big(5000, 'a');
  EXPECT_EQ(s.printf("%s", big.c_str()), 5000);  // vsnprintf's would-be length
  EXPECT_EQ(std::string(s.text()).size(), 4095u);
}

TEST(otStringCompare, EqualityAndCaseInsensitiveCompare) {
  otString s("Hello");
  EXPECT_EQ(s == "Hello", 1);
  EXPECT_EQ(s != "hello", 1);
  EXPECT_EQ(s == static_cast<const char*>(nullptr), 0);
  EXPECT_EQ(s == otString("Hello"), 1);
  EXPECT_EQ(s.strnocasecmp("hELLO"), 0);
  EXPECT_LT(s.strnocasecmp("helloo"), 0);
  EXPECT_EQ(s.strnnocasecmp("HELxx", 3), 0);
  EXPECT_NE(s.strnnocasecmp("HELxx", 4), 0);
  EXPECT_EQ(s.startsWith("He"), 1);
  EXPECT_EQ(s.startsWith("he"), 0);
  EXPECT_STREQ(s.text(), "Hello");  // compares work on copies
}

TEST(otStringSearch, FindsAndConverts) {
  otString s("a.b.c");
  EXPECT_EQ(s.strstr(nullptr), nullptr);
  EXPECT_EQ(s.strstr(".b"), s.text() + 1);
  EXPECT_EQ(s.strchr('.'), s.text() + 1);
  EXPECT_EQ(s.strrchr('.'), s.text() + 3);
  EXPECT_EQ(s.strchr('z'), nullptr);
  s.upper();
  EXPECT_STREQ(s.text(), "A.B.C");
  s.lower();
  EXPECT_STREQ(s.text(), "a.b.c");
}

TEST(otStringEdit, RemoveQuotasDropsOnlyTheOpeningPair) {
  otString s("'abc'de'f");
  EXPECT_EQ(s.removeQuotas('\''), 8);
  EXPECT_STREQ(s.text(), "abcde'f");
  otString t("ab'c'");
  EXPECT_EQ(t.removeQuotas('\''), 6);
  EXPECT_STREQ(t.text(), "ab'c'");
  otString u("'open");
  EXPECT_EQ(u.removeQuotas('\''), 5);
  EXPECT_STREQ(u.text(), "open");
}

TEST(otStringEdit, RemoveNewlineCutsAtTheFirstLineFeed) {
  otString s("line1\nline2\n");
  EXPECT_EQ(s.removeNewline(), 0);
  EXPECT_STREQ(s.text(), "line1");
  otString e("");
  EXPECT_EQ(e.removeNewline(), -1);
}

TEST(otStringEdit, ScratchCopiesLeaveTheText) {
  otString s("dir/file.txt");
  char* f = s.toFilename();
  EXPECT_STREQ(f, "dir/file.txt");
  EXPECT_NE(f, s.text());
  EXPECT_STREQ(s.toDirname(), "dir/file.txt");
}

TEST(otStringFile, ReadAndWriteRoundTrip) {
  ottest::TempDir dir;
  std::string path = dir.file("t.txt");
  otString s("first line\nsecond");
  EXPECT_EQ(s.write(path.c_str()), 17);
  otString r("keep");
  EXPECT_EQ(r.read(path.c_str()), 17);
  EXPECT_STREQ(r.text(), "first line\nsecond");
  // Binary data comes in whole; the text ends at the first NUL for C callers.
  ottest::writeFile(path, std::string("ab\0cd", 5));
  EXPECT_EQ(r.read(path.c_str()), 5);
  EXPECT_EQ(std::string(r.text(), 5), std::string("ab\0cd", 5));
  EXPECT_EQ(r.read(dir.file("missing").c_str()), -1);
  EXPECT_EQ(std::string(r.text(), 2), "ab");
  EXPECT_EQ(s.write(dir.file("no/such/dir").c_str()), -1);
}
