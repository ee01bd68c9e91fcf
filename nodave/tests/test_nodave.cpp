extern "C" {
#include "setport.h"
#include "nodave.h"
}

#include <dlfcn.h>
#include <fcntl.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "socatpair.h"
#include "testutil.h"

// A pseudo-terminal forces CS8 and clears PARENB, so parity is checked on the settings as they
// are handed to the driver: this wrapper notes the last tcsetattr of the process and passes it on.
static struct termios lastSet;

extern "C" int tcsetattr(int fd, int action, const struct termios* t) noexcept {
  using Fn = int (*)(int, int, const struct termios*);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "tcsetattr"));
  lastSet = *t;
  return real(fd, action, t);
}

namespace {

// Captures what this process writes to standard error (descriptor 2) while it lives.
class CaptureStderr {
 public:
  CaptureStderr() {
    char name[] = "/tmp/otnodave-stderr-XXXXXX";
    fd_ = mkstemp(name);
    if (fd_ >= 0) unlink(name);
    saved_ = dup(2);
    if (fd_ >= 0) dup2(fd_, 2);
  }
  ~CaptureStderr() { restore(); }
  std::string text() {
    restore();
    std::string out;
    lseek(fd_, 0, SEEK_SET);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd_, buf, sizeof(buf))) > 0)
      out.append(buf, (size_t)n);
    close(fd_);
    return out;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  int fd_ = -1;
  int saved_ = -1;
};

class NodaveLine : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(pair.start(dir.path()), ""); }
  ottest::TempDir dir;
  ottest::SocatPair pair;
};

struct LineCase {
  const char* baud;
  char parity;
  speed_t speed;
  tcflag_t parityFlags;
};

void PrintTo(const LineCase& c, std::ostream* os) {
  *os << c.baud << " " << c.parity;
}

class SetPortLine : public NodaveLine, public ::testing::WithParamInterface<LineCase> {};

TEST_P(SetPortLine, ConfiguresRawLineAndSends) {
  const LineCase& c = GetParam();
  int fd = setPort(pair.a().c_str(), c.baud, c.parity);
  ASSERT_GT(fd, 2);
  struct termios t;
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), c.speed);
  EXPECT_EQ(cfgetispeed(&t), c.speed);
  EXPECT_EQ(lastSet.c_cflag & (CSIZE | CSTOPB | PARENB | PARODD), CS8 | c.parityFlags);
  EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARODD), CS8 | (c.parityFlags & PARODD));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);

  int peer = open(pair.b().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(peer, 0);
  // Bytes a cooked line would change: CR, LF, XON/XOFF, DEL, 0xFF.
  const std::string frame("\x10\x02\r\n\x11\x13\x7f\xff\x00\x16", 10);
  ASSERT_EQ(write(fd, frame.data(), frame.size()), (ssize_t)frame.size());
  EXPECT_EQ(ottest::readWithin(peer, frame.size(), 2000), frame);
  close(peer);
  close(fd);
}

INSTANTIATE_TEST_SUITE_P(Nodave, SetPortLine,
                         ::testing::Values(LineCase{"9600", 'E', B9600, PARENB},
                                           LineCase{"19200", 'O', B19200, PARENB | PARODD},
                                           LineCase{"230400", 'N', B230400, 0},
                                           LineCase{"300", 'e', B300, PARENB}),
                         [](const ::testing::TestParamInfo<LineCase>& i) {
                           return std::string(i.param.baud) + "_" + i.param.parity;
                         });

TEST(NodaveSetPort, RefusesWithOneLineOnStderr) {
  ottest::TempDir dir;
  std::string missing = dir.file("ttyS9");
  struct Case {
    const char* name;
    const char* baud;
    char parity;
    std::string line;
  } cases[] = {
      {missing.c_str(), "9600", 'E',
       "setPort: cannot open " + missing + ": No such file or directory\n"},
      {"/dev/null", "9600", 'E',
       "setPort: cannot set up /dev/null: Inappropriate ioctl for device\n"},
      {"/dev/null", "12345", 'E', "setPort: unsupported speed 12345 for /dev/null\n"},
      {"/dev/null", "187500", 'E', "setPort: unsupported speed 187500 for /dev/null\n"},
      {"/dev/null", "9600 ", 'E', "setPort: unsupported speed 9600  for /dev/null\n"},
      {"/dev/null", "", 'E', "setPort: unsupported speed  for /dev/null\n"},
      {"/dev/null", "-9600", 'E', "setPort: unsupported speed -9600 for /dev/null\n"},
      {"/dev/null", "18446744073709561216", 'E',
       "setPort: unsupported speed 18446744073709561216 for /dev/null\n"},
      {"/dev/null", nullptr, 'E', "setPort: unsupported speed (none) for /dev/null\n"},
      {"/dev/null", "9600", 'X', "setPort: unsupported parity X for /dev/null (E, O or N)\n"},
      {"/dev/null", "9600", 0, "setPort: unsupported parity 0 for /dev/null (E, O or N)\n"},
      {nullptr, "9600", 'E', "setPort: no device name given\n"},
  };
  for (const Case& c : cases) {
    CaptureStderr err;
    EXPECT_EQ(setPort(c.name, c.baud, c.parity), -1) << c.line;
    EXPECT_EQ(err.text(), c.line);
  }
}

// A daemon with its standard descriptors closed must not get 0 (taken for failure) or 1, 2
// (where its messages would go out on the bus).
TEST_F(NodaveLine, SetPortNeverReturnsAStandardDescriptor) {
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  int fd = setPort(pair.a().c_str(), "9600", 'N');
  dup2(saved, 0);
  close(saved);
  EXPECT_GT(fd, 2);
  EXPECT_EQ(fcntl(0, F_GETFD), 0) << "descriptor 0 must be ours again";
  if (fd >= 0) close(fd);
}

TEST_F(NodaveLine, InterfaceKeepsOnlyPpiAtKnownSpeedsOnATerminal) {
  int fd = setPort(pair.a().c_str(), "9600", 'E');
  ASSERT_GT(fd, 2);
  _daveOSserialType fds = {fd, fd};
  for (int speed = daveSpeed9k; speed <= daveSpeed93k; speed++) {
    daveInterface* di = daveNewInterface(fds, "IF1", 0, daveProtoPPI, speed);
    ASSERT_NE(di, nullptr) << speed;
    daveConnection* dc = daveNewConnection(di, 2, 0, 0);
    EXPECT_NE(dc, nullptr);
    daveFree(di);
    daveFree(dc);
  }
  EXPECT_EQ(daveNewInterface(fds, "IF1", 0, daveProtoPPI, -1), nullptr);
  EXPECT_EQ(daveNewInterface(fds, "IF1", 0, daveProtoPPI, 7), nullptr);
  EXPECT_EQ(daveNewInterface(fds, "IF1", 0, 0, daveSpeed9k), nullptr);
  EXPECT_EQ(daveNewInterface(fds, "IF1", 0, 11, daveSpeed9k), nullptr);
  EXPECT_EQ(daveNewInterface(fds, "IF1", 127, daveProtoPPI, daveSpeed9k), nullptr);
  _daveOSserialType notALine = {-1, -1};
  EXPECT_EQ(daveNewInterface(notALine, "IF1", 0, daveProtoPPI, daveSpeed9k), nullptr);
  int devnull = open("/dev/null", O_RDWR);
  _daveOSserialType file = {devnull, devnull};
  EXPECT_EQ(daveNewInterface(file, "IF1", 0, daveProtoPPI, daveSpeed9k), nullptr);
  close(devnull);
  EXPECT_EQ(daveNewConnection(nullptr, 2, 0, 0), nullptr);
  daveInterface* unnamed = daveNewInterface(fds, nullptr, 0, daveProtoPPI, daveSpeed9k);
  ASSERT_NE(unnamed, nullptr);
  EXPECT_EQ(daveNewConnection(unnamed, 0, 0, 0), nullptr) << "its own address";
  EXPECT_EQ(daveNewConnection(unnamed, 127, 0, 0), nullptr);
  daveFree(unnamed);
  daveFree(nullptr);
  close(fd);
}

// Bad arguments are refused before anything goes out on the line.
TEST_F(NodaveLine, RefusedArgumentsTouchNothing) {
  int fd = setPort(pair.a().c_str(), "9600", 'E');
  ASSERT_GT(fd, 2);
  int peer = open(pair.b().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(peer, 0);
  _daveOSserialType fds = {fd, fd};
  daveInterface* di = daveNewInterface(fds, "IF1", 0, daveProtoPPI, daveSpeed187k);
  daveConnection* dc = daveNewConnection(di, 2, 0, 0);
  ASSERT_NE(dc, nullptr);
  unsigned char buf[64];
  memset(buf, 0xA5, sizeof(buf));
  const std::string untouched((const char*)buf, sizeof(buf));

  typedef int (*Transfer)(daveConnection*, int, int, int, int, void*);
  for (Transfer f : {daveReadBytes, daveWriteBytes}) {
    EXPECT_EQ(f(nullptr, daveDB, 1, 0, 4, buf), daveResNoConnection);
    EXPECT_EQ(f(dc, daveDB, 1, 0, -1, buf), daveResInvalidArgument);
    EXPECT_EQ(f(dc, daveDB, 1, 0, 4, nullptr), daveResInvalidArgument);
    EXPECT_EQ(f(dc, daveDB, 1, -1, 4, buf), daveResInvalidArgument);
    EXPECT_EQ(f(dc, daveDB, -1, 0, 4, buf), daveResInvalidArgument);
    EXPECT_EQ(f(dc, daveDB, 70000, 0, 4, buf), daveResInvalidArgument);
    EXPECT_EQ(f(dc, daveDB, 1, 0x200000, 4, buf), daveResInvalidArgument) << "beyond the address";
    EXPECT_EQ(f(dc, daveDB, 1, 0x1FFFFF, 2, buf), daveResInvalidArgument) << "ends beyond it";
    EXPECT_EQ(f(dc, daveDB, 1, 0, 0x7FFFFFFF, buf), daveResInvalidArgument) << "no such length";
    EXPECT_EQ(f(dc, 0, 1, 0, 4, buf), daveResInvalidArgument);
    EXPECT_EQ(f(dc, 0x88, 1, 0, 4, buf), daveResInvalidArgument);
    EXPECT_EQ(f(dc, daveDB, 1, 0, 0, nullptr), daveResOK) << "nothing to do";
  }
  EXPECT_EQ(std::string((const char*)buf, sizeof(buf)), untouched);
  EXPECT_EQ(ottest::readWithin(peer, 1, 300), "");
  daveFree(dc);
  daveFree(di);
  close(peer);
  close(fd);
}

TEST(NodaveStrerror, TextForEveryCode) {
  const int codes[] = {daveResOK,          daveResNoConnection,  daveResInvalidArgument,
                       daveResTimeout,     daveResCutTelegram,   daveResBadStart,
                       daveResBadLength,   daveResBadChecksum,   daveResNoEndDelimiter,
                       daveResLineError,   daveResWrongAddress,  daveResUnexpectedAnswer,
                       daveResRefused - 5, daveResRefused - 0x0A};
  std::string unknown = daveStrerror(12345);
  EXPECT_FALSE(unknown.empty());
  EXPECT_STREQ(daveStrerror(-12345), unknown.c_str());
  for (int c : codes) {
    EXPECT_LT(c, 1);
    EXPECT_NE(daveStrerror(c), unknown) << c;
    for (int d : codes)
      if (d != c) {
        EXPECT_STRNE(daveStrerror(c), daveStrerror(d));
      }
    // Only the codes of a station out of reach are worth a repetition of a write.
    EXPECT_EQ(daveIsUnreachable(c), c <= daveResTimeout && c >= daveResUnexpectedAnswer) << c;
  }
}

}  // namespace
