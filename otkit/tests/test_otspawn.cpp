// otSpawn against real child programs: cat, printf and sh.
#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "otspawn.h"

namespace {

// 1 once pid has ended and been reaped by the caller, 0 if it is still alive after ms.
int waitEnded(int pid, int ms, int* status) {
  for (int i = 0; i < ms / 10; i++) {
    if (waitpid(pid, status, WNOHANG) == pid) return 1;
    usleep(10000);
  }
  return 0;
}

}  // namespace

TEST(otSpawnLines, ReadsLinesThenEndReapsTheChild) {
  otSpawn sp;
  EXPECT_EQ(sp.readLine(), nullptr);  // nothing spawned
  int pid = sp.spawn("sh -c \"echo one; echo two >&2; printf last\"");
  ASSERT_GT(pid, 0);
  EXPECT_STREQ(sp.readLine(), "one\n");
  EXPECT_STREQ(sp.readLine(), "two\n");
  EXPECT_STREQ(sp.readLine(), "last");
  EXPECT_EQ(sp.readLine(), nullptr);
  EXPECT_EQ(sp.pid, 0);
  int status;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), -1);  // already reaped
  EXPECT_EQ(sp.readLine(), nullptr);
}

TEST(otSpawnLines, CommandThatCannotRunIsReportedAsFailure) {
  otSpawn sp;
  EXPECT_EQ(sp.spawn("/nonexistent/otkit-no-such-program arg"), -1);
  EXPECT_EQ(sp.pid, 0);
  EXPECT_EQ(sp.getFilepointer(), nullptr);
  EXPECT_EQ(sp.spawn(""), -1);
  EXPECT_EQ(sp.spawn(nullptr), -1);
}

TEST(otSpawnLines, GetcharReadsBytesUpToTheEnd) {
  otSpawn sp;
  EXPECT_EQ(sp.getchar(), -1);
  ASSERT_GT(sp.spawn("printf A\\377"), 0);
  EXPECT_EQ(sp.getchar(), 'A');
  EXPECT_EQ(sp.getchar(), 0xFF);
  EXPECT_EQ(sp.getchar(), -1);
}

TEST(otSpawnIo, SelectSeesPipeAndStreamBuffer) {
  otSpawn sp;
  EXPECT_EQ(sp.select(0), -1);
  // Both lines come in one write, so the second one waits in the stream buffer, not the pipe.
  int pid = sp.spawn("sh -c \"printf 'a\\nb\\n'; exec sleep 30\"");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(sp.select(5000), 1);
  EXPECT_STREQ(sp.readLine(), "a\n");
  EXPECT_EQ(sp.select(0), 1);
  EXPECT_STREQ(sp.readLine(), "b\n");
  EXPECT_EQ(sp.select(30), 0);
}

TEST(otSpawnIo, DestructorReapsAChildThatDoesNotEnd) {
  int pid;
  {
    otSpawn sp;
    pid = sp.spawn("sh -c \"trap '' HUP; exec sleep 30\"");
    ASSERT_GT(pid, 0);
  }
  int status;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(otSpawnIo, WriteAndPrintfReachTheChild) {
  otSpawn sp;
  EXPECT_EQ(sp.write("x", 1), -1);
  EXPECT_EQ(sp.writeString("x"), -1);
  ASSERT_GT(sp.spawn("cat"), 0);
  EXPECT_EQ(sp.write("ab\n", 3), 3);
  EXPECT_EQ(sp.printf("%d-%s\n", 42, "x"), 5);
  EXPECT_EQ(sp.writeString("end\n"), 4);
  EXPECT_STREQ(sp.readLine(), "ab\n");
  EXPECT_STREQ(sp.readLine(), "42-x\n");
  EXPECT_STREQ(sp.readLine(), "end\n");
}

TEST(otSpawnIo, ByteFFClosesTheChildsInput) {
  otSpawn sp;
  int pid = sp.spawn("cat");
  ASSERT_GT(pid, 0);
  // A child started later must not hold the first child's input open.
  otSpawn other;
  ASSERT_GT(other.spawn("sleep 30"), 0);
  EXPECT_EQ(sp.writeString("\xff"), 0);
  EXPECT_EQ(sp.toChild, nullptr);
  EXPECT_EQ(sp.getFilepointer(), nullptr);
  int status = -1;
  ASSERT_EQ(waitEnded(pid, 5000, &status), 1);  // cat saw the end of its input
  EXPECT_TRUE(WIFEXITED(status));
  sp.pid = 0;
  EXPECT_EQ(sp.write("x", 1), -1);
}

TEST(otSpawnIo, WritingToAnEndedChildFailsWithoutSigpipe) {
  otSpawn sp;
  ASSERT_GT(sp.spawn("true"), 0);
  EXPECT_EQ(sp.readLine(), nullptr);  // ended and reaped
  std::string big(100000, 'x');
  EXPECT_EQ(sp.write(big.data(), (int)big.size()), -1);
  EXPECT_EQ(sp.printf("more\n"), -1);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST(otSpawnIo, Sigkill) {
  otSpawn sp;
  EXPECT_EQ(sp.sigkill(), -1);
  int pid = sp.spawn("cat");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(sp.sigkill(), 0);
  EXPECT_EQ(sp.pid, 0);
  EXPECT_EQ(sp.readLine(), nullptr);  // the output ends with the child
  int status;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), -1);
  EXPECT_EQ(sp.sigkill(), -1);
}

struct JpegCase {
  const char* name;
  const char* command;
  int maxlen;
  int result;
  std::string image;  // expected bytes for a positive result
};

TEST(otSpawnJpeg, ExtractsImagesAndReportsEachFailure) {
  const JpegCase cases[] = {
      {"junk before the image", "printf junk\\377\\000\\377\\330ab\\377\\331tail", 100, 6,
       std::string("\xff\xd8"
                   "ab\xff\xd9",
                   6)},
      // 0xFF 0xFF 0xD9 is the pair 0xFF 0xFF and a plain 0xD9, not the end of the image.
      {"embedded pairs", "printf \\377\\330\\377\\000\\377\\377\\331x\\377\\331", 100, 10,
       std::string("\xff\xd8\xff\x00\xff\xff\xd9x\xff\xd9", 10)},
      {"fill byte before the start", "printf \\377\\377\\330\\377\\331", 100, 4,
       std::string("\xff\xd8\xff\xd9", 4)},
      {"exactly fits", "printf \\377\\330abc\\377\\331", 7, 7,
       std::string("\xff\xd8"
                   "abc\xff\xd9",
                   7)},
      {"one byte short", "printf \\377\\330abc\\377\\331", 6, -3, ""},
      {"end pair does not fit", "printf \\377\\330abcd\\377\\331", 7, -3, ""},
      {"no image", "printf \"no image here\"", 100, -1, ""},
      {"no output", "true", 100, -1, ""},
      {"end after 0xFF before the image", "printf junk\\377", 100, -2, ""},
      {"end inside the image", "printf \\377\\330abc", 100, -4, ""},
      {"end after 0xFF inside the image", "printf \\377\\330abc\\377", 100, -5, ""},
  };
  for (const JpegCase& c : cases) {
    SCOPED_TRACE(c.name);
    otSpawn sp;
    ASSERT_GT(sp.spawn(c.command), 0);
    unsigned char buf[128];
    int n = sp.readJpegBuffer(buf, c.maxlen);
    EXPECT_EQ(n, c.result);
    if (n > 0) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), (size_t)n), c.image);
    }
  }
  otSpawn none;
  unsigned char buf[16];
  EXPECT_EQ(none.readJpegBuffer(buf, sizeof(buf)), -1);
}
