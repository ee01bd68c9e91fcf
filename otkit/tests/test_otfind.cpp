// Runs the built otfind program on temporary trees.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "testutil.h"

using ::testing::UnorderedElementsAre;

namespace {

struct Output {
  std::vector<std::string> lines;
  int status = -1;
};

// Runs otfind with the given arguments (already shell-quoted as needed).
Output otfind(const std::string& args) {
  Output run;
  std::string command = std::string(OTKIT_TOOLS_DIR) + "/otfind " + args;
  FILE* fp = popen(command.c_str(), "r");
  if (fp == nullptr) return run;
  char buf[4096];
  while (fgets(buf, sizeof(buf), fp) != nullptr) {
    std::string line = buf;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    run.lines.push_back(line);
  }
  int status = pclose(fp);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class OtfindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir.path();
    mkdir((root + "/sub").c_str(), 0700);
    mkdir((root + "/.git").c_str(), 0700);
    ottest::writeFile(root + "/a.c", "");
    ottest::writeFile(root + "/a.cpp", "");
    ottest::writeFile(root + "/b.txt", "");
    ottest::writeFile(root + "/.profile", "");
    ottest::writeFile(root + "/sub/c.c", "");
    ottest::writeFile(root + "/sub/d.h", "");
    ottest::writeFile(root + "/.git/config.c", "");
  }
  ottest::TempDir dir;
  std::string root;
};

TEST_F(OtfindTest, ListsStartDirectoryOnlyWithoutDescending) {
  Output run = otfind("'" + root + "'");
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.lines,
              UnorderedElementsAre(root + "/sub [d]", root + "/a.c [f]", root + "/a.cpp [f]",
                                   root + "/b.txt [f]", root + "/.profile [f]"));
}

TEST_F(OtfindTest, NameDescendsAndFiltersOnPatternWithoutStars) {
  Output run = otfind("'" + root + "' -name '*.c*'");
  EXPECT_EQ(run.status, 0);
  // .git is neither listed nor entered, so its config.c does not appear.
  EXPECT_THAT(run.lines, UnorderedElementsAre(root + "/sub [d]", root + "/a.c [f]",
                                              root + "/a.cpp [f]", root + "/sub/c.c [f]"));
}

TEST_F(OtfindTest, OnlyFiltersWithoutDescendingAndListsHiddenFiles) {
  Output run = otfind("'" + root + "' -only prof");
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.lines, UnorderedElementsAre(root + "/sub [d]", root + "/.profile [f]"));
}

TEST_F(OtfindTest, WrongArgumentCountPrintsUsageAndFails) {
  Output run = otfind("'" + root + "' -name");
  EXPECT_EQ(run.status, 255);
  EXPECT_THAT(run.lines, UnorderedElementsAre("usage: " + std::string(OTKIT_TOOLS_DIR) +
                                              "/otfind <start_directory> <-name|-only> <pattern>"));
  EXPECT_EQ(otfind("").status, 255);
}

TEST_F(OtfindTest, LongPathsAreListedWholeAndMissingDirectoryListsNothing) {
  // Twelve levels of 200-character names: paths longer than any small fixed buffer.
  std::string path = root + "/sub";
  for (int i = 0; i < 12; i++) {
    path += "/" + std::string(200, (char)('a' + i));
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
  }
  ottest::writeFile(path + "/deep.c", "");
  Output run = otfind("'" + root + "' -name deep");
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.lines, ::testing::Contains(path + " [d]"));
  EXPECT_THAT(run.lines, ::testing::Contains(path + "/deep.c [f]"));
  EXPECT_EQ(run.lines.size(), 14u);

  Output missing = otfind("'" + root + "/missing'");
  EXPECT_EQ(missing.status, 0);
  EXPECT_TRUE(missing.lines.empty());
}

}  // namespace
