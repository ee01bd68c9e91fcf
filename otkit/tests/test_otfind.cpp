// Runs the built otfind program on temporary trees.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testutil.h"

using ::testing::UnorderedElementsAre;

namespace {

struct Output {
  std::vector<std::string> lines;
  std::string err;  // standard error
  int status = -1;
};

// Runs otfind with the given arguments (already shell-quoted as needed), behind a shell prefix
// such as a ulimit.
Output otfind(const std::string& args, const std::string& prefix = "") {
  Output run;
  ottest::TempDir errDir;
  std::string command = "exec 2>" + errDir.file("err") + "; " + prefix +
                        std::string(OTKIT_TOOLS_DIR) + "/otfind " + args;
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
  run.err = ottest::readFile(errDir.file("err"));
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

TEST_F(OtfindTest, LongPathsAreListedWholeAndAMissingDirectoryIsAnError) {
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
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(missing.lines.empty());
  EXPECT_EQ(missing.err,
            "otfind: cannot open directory " + root + "/missing: No such file or directory\n");
  EXPECT_EQ(otfind("'" + root + "/a.c'").status, 1) << "a file is no start directory";
}

// A tree deeper than a path can name, and one deeper than the descriptors allow: what can be
// listed is listed, the rest is named on standard error, and the exit status says so.
TEST_F(OtfindTest, DirectoriesThatCannotBeEnteredAreReported) {
  // 25 levels of 200 characters: beyond PATH_MAX (4096), so made one level at a time.
  int fd = open((root + "/sub").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  std::string deep = root + "/sub";
  for (int i = 0; i < 25; i++) {
    std::string name(200, (char)('a' + i));
    ASSERT_EQ(mkdirat(fd, name.c_str(), 0700), 0);
    int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    deep += "/" + name;
  }
  close(fd);
  Output run = otfind("'" + root + "' -name .c");
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.lines, ::testing::Contains(root + "/sub/c.c [f]"));
  EXPECT_NE(run.err.find(": File name too long\n"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.compare(0, 30, "otfind: cannot open directory "), 0) << run.err;
  // Without descending, the same tree is listed whole.
  EXPECT_EQ(otfind("'" + root + "' -only .c").status, 0);

  // Six levels with room for three open directories beside the standard descriptors.
  std::string six = root + "/six";
  ASSERT_EQ(mkdir(six.c_str(), 0700), 0);
  for (int i = 0; i < 6; i++) {
    six += "/l" + std::to_string(i);
    ASSERT_EQ(mkdir(six.c_str(), 0700), 0);
  }
  run = otfind("'" + root + "/six' -name x",
               "exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-; ulimit -n 6; exec ");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(": Too many open files\n"), std::string::npos) << run.err;
  EXPECT_THAT(run.lines, ::testing::Contains(root + "/six/l0 [d]"));
}

}  // namespace
