#include "otcutil.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include "testutil.h"

namespace {

// Runs fn in a child with standard output captured; returns what it printed.
template <class Fn>
std::string captureStdout(Fn fn) {
  fflush(stdout);
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    fn();
    fflush(stdout);
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof(buf))) > 0)
    out.append(buf, (size_t)n);
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return out;
}

}  // namespace

TEST(otFormat, VsnprintfTreatsEmptyFormatsAsEmptyText) {
  char buf[8] = "xxxxxxx";
  EXPECT_EQ(otsnprintf(buf, sizeof(buf), nullptr), 1);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(otsnprintf(buf, sizeof(buf), "%s", "abcdefghij"), 10);
  EXPECT_STREQ(buf, "abcdefg");
}

TEST(otFormat, DebugPrintfFollowsTheSwitch) {
  std::string out = captureStdout([] {
    otDebugPrintf("hidden %d\n", 1);
    otSetDebugPrintf(5);
    printf("state=%d ", otDebugPrintfState);
    otDebugPrintf("shown %d\n", 2);
    otSetDebugPrintf(0);
    otDebugPrintf("hidden %d\n", 3);
  });
  EXPECT_EQ(out, "state=1 shown 2\n");
}

TEST(otFormat, LastLinePrintfCutsAt79AndPadsToColumn80) {
  std::string hundred(100, 'x');
  std::string out = captureStdout([&] { otLastLinePrintf("%s", hundred.c_str()); });
  EXPECT_EQ(out, "\x1b[80D" + std::string(79, 'x') + " ");
  out = captureStdout([] { otLastLinePrintf("ab"); });
  EXPECT_EQ(out,
            "\x1b[80D"
            "ab" +
                std::string(78, ' '));
}

TEST(otCopy, StrncpyAndLinecpyAlwaysTerminate) {
  char dest[8];
  memset(dest, 'z', sizeof(dest));
  otstrncpy(dest, "abcdef", 3);
  EXPECT_STREQ(dest, "abc");
  otstrncpy(dest, "abcdef", 0);
  EXPECT_STREQ(dest, "");
  otstrncpy(dest, "abcdef", -5);
  EXPECT_STREQ(dest, "");
  otstrncpy(dest, "ab", 7);
  EXPECT_STREQ(dest, "ab");
  otstrlinecpy(dest, "ab\ncd", 7);
  EXPECT_STREQ(dest, "ab");
  otstrlinecpy(dest, "abcdefghij", 7);
  EXPECT_STREQ(dest, "abcdefg");
}

TEST(otOptions, IntFloatAndPresence) {
  const char* args = "-port=5020 -gain=2.5 -v";
  EXPECT_EQ(otOption(args, "-v"), 1);
  EXPECT_EQ(otOption(args, "-x"), 0);
  EXPECT_EQ(otIntOption(args, "-port", 1), 5020);
  EXPECT_EQ(otIntOption(args, "-timeout", 7), 7);
  EXPECT_EQ(otIntOption("-v", "-v", 9), 9);      // no "=" after the option
  EXPECT_EQ(otIntOption("-n=abc", "-n", 9), 9);  // no number after "="
  EXPECT_FLOAT_EQ(otFloatOption(args, "-gain", 1.0f), 2.5f);
  EXPECT_FLOAT_EQ(otFloatOption(args, "-bias", 1.5f), 1.5f);
}

TEST(otOptions, TextOptionUsesTheCharacterAfterEqualsAsDelimiter) {
  const char* def = "default";
  EXPECT_STREQ(otTextOption("-title='Hello World' -x", "-title", def), "Hello World");
  EXPECT_EQ(otTextOption("-title -x", "-title", def), def);
  EXPECT_EQ(otTextOption("-x=1", "-title", def), def);
  EXPECT_STREQ(otTextOption("-name=\"a b\"", "-name", def), "a b");
  EXPECT_STREQ(otTextOption("-name='unterminated", "-name", def), "unterminated");
  EXPECT_STREQ(otTextOption("-name=", "-name", def), "");
  std::string longValue = "-t='" + std::string(6000, 'v') + "'";
  EXPECT_EQ(strlen(otTextOption(longValue.c_str(), "-t", def)), 4095u);
}

TEST(otMatch, WildcardsWithoutBacktracking) {
  struct Case {
    const char* s;
    const char* pattern;
    int expected;
  } cases[] = {
      {"abc", "abcd", 1},  // s ends before the pattern does
      {"data.csv", "*.csv", 1},
      {"x.txt", "*.csv", 0},
      {"xcsv", "csv", 1},
      {"", "anything", 1},
      {"abc", "a*", 1},
      {"abc", "b*", 0},
      {"abcdef", "a*x", 0},
      {"aab", "*ab", 1},
      {"report1.txt", "rep*.txt", 1},
      {"a*b", "x*y", 0},
      {"abc", "***", 1},
      {"abc", "a**c", 1},
      // Without backtracking a mismatch resumes the search with the mismatching character...
      {"abxbc", "a*bc", 1},
      {"abab", "*abb", 1},
      // ...and a second "*" is then an ordinary character.
      {"abcdef", "a*d*f", 0},
      {"ab*f", "a*b*f", 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(otStrMatch(c.s, c.pattern), c.expected) << c.s << " ~ " << c.pattern;
  EXPECT_EQ(otStrMatch(nullptr, "x"), 0);
  EXPECT_EQ(otStrMatch("x", nullptr), 0);
}

TEST(otMatch, StartsAndEndsWith) {
  EXPECT_EQ(otStartsWith("abc", "ab"), 1);
  EXPECT_EQ(otStartsWith("abc", "abcd"), 0);
  EXPECT_EQ(otStartsWith(nullptr, "a"), 0);
  EXPECT_EQ(otEndsWith("abc", "bc"), 1);
  EXPECT_EQ(otEndsWith("bc", "abc"), 0);
  EXPECT_EQ(otEndsWith("abc", nullptr), 0);
}

TEST(otFiles, FindFileWalksTheWorkingDirectory) {
  ottest::TempDir dir;
  for (const char* name : {"a.csv", "b.csv", "c.txt", ".hidden.csv"})
    ottest::writeFile(dir.file(name), "x");
  ottest::ScopedChdir cd(dir.path());
  std::set<std::string> found;
  int context = 0;
  while (const char* name = otFindFile("*.csv", &context))
    found.insert(name);
  EXPECT_EQ(found, (std::set<std::string>{"a.csv", "b.csv"}));
  context = 0;  // a second walk starts over
  int n = 0;
  while (otFindFile("txt", &context))
    n++;
  EXPECT_EQ(n, 1);
}

TEST(otFiles, WriteCopyAndRead) {
  ottest::TempDir dir;
  std::string a = dir.file("a.txt"), b = dir.file("b.txt");
  EXPECT_EQ(otWriteFile(a.c_str(), "line1\nline2\n", 12), 12);
  EXPECT_EQ(otCopyTextfile(a.c_str(), b.c_str()), 0);
  EXPECT_EQ(ottest::readFile(b), "line1\nline2\n");
  EXPECT_EQ(otCopyTextfile(nullptr, b.c_str()), -1);
  std::string out = captureStdout([&] {
    otCopyTextfile(dir.file("missing").c_str(), b.c_str());
    otWriteFile(dir.file("no/dir").c_str(), "x", 1);
  });
  EXPECT_EQ(out, "otCopyTextfile: could not read " + dir.file("missing") + "\n" +
                     "ERROR: otWriteFile() could not write to " + dir.file("no/dir") + "\n");
  FILE* fp = fopen(a.c_str(), "r");
  char buf[16] = {};
  EXPECT_EQ(otFRead(fp, buf, 5), 5);
  EXPECT_STREQ(buf, "line1");
  fclose(fp);
  EXPECT_EQ(otFRead(nullptr, buf, 5), -1);
  EXPECT_EQ(otFWrite(nullptr, buf, 5), -1);
  EXPECT_EQ(otMkdir(dir.file("sub").c_str(), 0755), 0);
  struct stat st;
  EXPECT_EQ(otStat(dir.file("sub").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(otBits, SetClearToggleTestAndSwap) {
  int v = 0;
  EXPECT_EQ(otBitSet(3, &v), 8);
  EXPECT_EQ(otBitSet(35, &v), 8);  // bit numbers wrap at 32
  EXPECT_EQ(otBitTest(3, &v), 1);
  EXPECT_EQ(otBitChange(0, &v), 9);
  EXPECT_EQ(otBitClear(3, &v), 1);
  EXPECT_EQ(otBitSet(31, &v), (int)0x80000001u);
  EXPECT_EQ(otBitTest(31, &v), 1);
  EXPECT_EQ(otSwapShort(0x1234), 0x3412);
  EXPECT_EQ(otSwapShort(0xff00), 0x00ff);
}

TEST(otBits, PushBuffersShiftUp) {
  double d[3] = {1, 2, 3};
  EXPECT_EQ(otPushToDoubleBuffer(9, d, 3), 9);
  EXPECT_EQ(d[0], 9);
  EXPECT_EQ(d[1], 1);
  EXPECT_EQ(d[2], 2);
  otPushToDoubleBuffer(7, d, 1);
  EXPECT_EQ(d[0], 7);
  EXPECT_EQ(d[1], 1);
  otPushToDoubleBuffer(5, d, 0);
  EXPECT_EQ(d[0], 7);
  float f[2] = {1, 2};
  otPushToFloatBuffer(4, f, 2);
  EXPECT_EQ(f[0], 4);
  EXPECT_EQ(f[1], 1);
}

TEST(otText, UpperLowerAndPass) {
  char t[] = "MiXeD 1";
  EXPECT_EQ(otupper(t), 0);
  EXPECT_STREQ(t, "MIXED 1");
  EXPECT_EQ(otlower(t), 0);
  EXPECT_STREQ(t, "mixed 1");
  EXPECT_EQ(otupper(nullptr), -1);
  EXPECT_STREQ(otpass(""), "");
  EXPECT_STREQ(otpass("A"), "0410");                             // 0x41 * 16
  EXPECT_EQ(strlen(otpass("abcdefghijklmnopqrstuvwxyz")), 68u);  // only 17 characters count
  EXPECT_STREQ(otpass("\xff"), "0FF0");
}

TEST(otEnvironment, GetInifileUsesHome) {
  const char* old = getenv("HOME");
  std::string saved = old ? old : "";
  setenv("HOME", "/home/op", 1);
  EXPECT_STREQ(otGetInifile("otkitrc"), "/home/op/.otkitrc");
  unsetenv("HOME");
  std::string fallback = otGetInifile("otkitrc");
  EXPECT_TRUE(otEndsWith(fallback.c_str(), "/.otkitrc"));
  if (old) setenv("HOME", saved.c_str(), 1);
}

TEST(otProcesses, SubmitHxhostBuildsTheBackgroundCommand) {
  ottest::TempDir dir;
  std::string bin = dir.path() + "/servers";
  mkdir(bin.c_str(), 0755);
  std::string script = bin + "/host.sh";
  ottest::writeFile(script, "#!/bin/sh\necho \"$@\" > \"" + dir.file("args") + "\"\n");
  chmod(script.c_str(), 0755);
  setenv("OTKIT_TEST_HXDIR", dir.path().c_str(), 1);
  EXPECT_EQ(otSubmitHxhost(nullptr, "/servers", "host.sh", nullptr), -1);
  unsetenv("OTKIT_TEST_UNSET");
  std::string out = captureStdout([] { otSubmitHxhost("OTKIT_TEST_UNSET", "/x", "y", nullptr); });
  EXPECT_EQ(out, "otSubmitHxhost:ERROR env=OTKIT_TEST_UNSET is not set\n");
  EXPECT_EQ(otSubmitHxhost("OTKIT_TEST_HXDIR", "/servers", "host.sh", "-a -b"), 0);
  std::string args;
  for (int i = 0; i < 200 && args.empty(); i++) {  // the program runs in the background
    args = ottest::readFile(dir.file("args"));
    if (args.empty()) usleep(10000);
  }
  EXPECT_EQ(args, "-a -b -cd=" + bin + "\n");
}

TEST(otProcesses, ExecSplitsQuotedArguments) {
  ottest::TempDir dir;
  std::string script = dir.file("args.sh");
  ottest::writeFile(script,
                    "#!/bin/sh\nfor a in \"$@\"; do printf '%s|' \"$a\"; done > \"$0.out\"\n");
  chmod(script.c_str(), 0755);
  pid_t pid = fork();
  if (pid == 0) {
    std::string cmd = script + "  one \"two  words\"   three";
    otexec(cmd.c_str());
    _exit(99);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ottest::readFile(script + ".out"), "one|two  words|three|");
}

TEST(otProcesses, ExecRefusesWhatItCannotRun) {
  EXPECT_EQ(otexec(""), -1);
  EXPECT_EQ(otexec("/nonexistent/program arg"), -1);
  std::string many = "echo";
  for (int i = 0; i < 600; i++)
    many += " a";
  EXPECT_EQ(otexec(many.c_str()), -1);  // more arguments than the vector holds
}

TEST(otProcesses, SigtermHandlerCallsTheUserAndExitsZero) {
  std::string out = captureStdout([] {
    otSetSigtermHandler([](void* arg) { printf("user %s\n", static_cast<const char*>(arg)); },
                        const_cast<char*>("cleanup"));
    raise(SIGTERM);
    // The watcher thread ends the process; this thread waits for it.
    for (;;)
      pause();
  });
  EXPECT_EQ(out, "entering otSigtermHandler sig=15\nuser cleanup\n");
}
