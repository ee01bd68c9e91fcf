#include "otserial.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "socatpair.h"
#include "testutil.h"

// A pseudo-terminal keeps most settings but forces CS8 and clears PARENB, so the character size
// and parity are checked on the settings as they are handed to the driver: this wrapper notes
// every flushing tcsetattr of the process (the library's open) and passes it on unchanged.
static struct termios lastFlushingSet;
static int flushingSets = 0;

extern "C" int tcsetattr(int fd, int action, const struct termios* t) noexcept {
  using Fn = int (*)(int, int, const struct termios*);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "tcsetattr"));
  if (action == TCSAFLUSH) {
    lastFlushingSet = *t;
    flushingSets++;
  }
  return real(fd, action, t);
}

namespace {

long long nowMs() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// The settings of a device as a second, independent open sees them.
struct termios settingsOf(const std::string& path) {
  struct termios t;
  memset(&t, 0, sizeof(t));
  int f = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  EXPECT_GE(f, 0) << path;
  if (f >= 0) {
    EXPECT_EQ(tcgetattr(f, &t), 0);
    close(f);
  }
  return t;
}

bool sameSettings(const struct termios& x, const struct termios& y) {
  return x.c_iflag == y.c_iflag && x.c_oflag == y.c_oflag && x.c_cflag == y.c_cflag &&
         x.c_lflag == y.c_lflag && x.c_line == y.c_line &&
         memcmp(x.c_cc, y.c_cc, sizeof(x.c_cc)) == 0 && cfgetispeed(&x) == cfgetispeed(&y) &&
         cfgetospeed(&x) == cfgetospeed(&y);
}

// The open-file flags of this process's descriptors on path (-1 per descriptor on error).
std::vector<long> openFlagsOn(const std::string& path) {
  std::vector<long> flags;
  char target[PATH_MAX];
  if (!realpath(path.c_str(), target)) return flags;
  DIR* d = opendir("/proc/self/fd");
  if (!d) return flags;
  while (struct dirent* e = readdir(d)) {
    std::string link = std::string("/proc/self/fd/") + e->d_name;
    char to[PATH_MAX];
    ssize_t n = readlink(link.c_str(), to, sizeof(to) - 1);
    if (n <= 0) continue;
    to[n] = 0;
    if (strcmp(to, target) != 0) continue;
    std::string info = ottest::readFile(std::string("/proc/self/fdinfo/") + e->d_name);
    size_t at = info.find("flags:");
    flags.push_back(at == std::string::npos ? -1 : strtol(info.c_str() + at + 6, nullptr, 8));
  }
  closedir(d);
  return flags;
}

// Redirects descriptor 1 into a file until finish().
class StdoutCapture {
 public:
  explicit StdoutCapture(const std::string& path) : path_(path) {
    fflush(stdout);
    saved_ = dup(1);
    int f = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(f, 1);
    close(f);
  }
  std::string finish() {
    fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    return ottest::readFile(path_);
  }

 private:
  std::string path_;
  int saved_;
};

std::string bytes(const unsigned char* p, int n) {
  return n > 0 ? std::string(reinterpret_cast<const char*>(p), (size_t)n) : std::string();
}

// Two linked pseudo-terminals made by socat: the object under test opens "a", the test talks
// raw on "b" through a plain descriptor.
class otSerialLine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string problem = socat.start(dir.path());
    ASSERT_EQ(problem, "");
    a = socat.a();
    b = socat.b();
    peer = open(b.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(peer, 0);
    struct termios t;
    ASSERT_EQ(tcgetattr(peer, &t), 0);
    cfmakeraw(&t);
    ASSERT_EQ(tcsetattr(peer, TCSANOW, &t), 0);
  }

  void TearDown() override {
    if (peer >= 0) close(peer);
    socat.stop();
  }

  int openA(int block = 1, int speed = B9600) {
    return serial.openDevice(a.c_str(), speed, block, 0, 8, 1, otSerial::NONE);
  }

  void peerWrite(const std::string& s) {
    ASSERT_EQ(write(peer, s.data(), s.size()), (ssize_t)s.size());
  }

  std::string peerRead(size_t n, int ms) { return ottest::readWithin(peer, n, ms); }

  ottest::TempDir dir;
  ottest::SocatPair socat;
  std::string a, b;
  int peer = -1;
  otSerial serial;
};

TEST(otSerialClosed, EveryCallFailsOnAClosedLine) {
  otSerial s;
  EXPECT_EQ(s.setTrace(1), 1);
  EXPECT_EQ(s.setTrace(2), 0);
  unsigned char buf[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(s.readChar(), -1);
  EXPECT_EQ(s.writeChar('x'), -1);
  EXPECT_EQ(s.writeBlock(buf, 1), -1);
  EXPECT_EQ(s.select(0), -1);
  EXPECT_EQ(s.readBlock(buf, 1, 10), -1);
  EXPECT_EQ(s.readLine(buf, 8, 10), -1);
  EXPECT_EQ(buf[7], 0);
  EXPECT_EQ(s.readLine(nullptr, 8, 10), -1);
  EXPECT_EQ(s.closeDevice(), -1);

  ottest::TempDir dir;
  ottest::writeFile(dir.file("plain"), "not a terminal");
  int before = ottest::openFdCount();
  EXPECT_EQ(s.openDevice(dir.file("missing").c_str(), B9600, 1, 0, 8, 1, otSerial::NONE), -1);
  EXPECT_EQ(s.openDevice(dir.file("plain").c_str(), B9600, 1, 0, 8, 1, otSerial::NONE), -1);
  EXPECT_EQ(s.openDevice(nullptr, B9600, 1, 0, 8, 1, otSerial::NONE), -1);
  EXPECT_EQ(ottest::openFdCount(), before);
  EXPECT_EQ(s.readChar(), -1);
}

TEST_F(otSerialLine, OpenAppliesEveryCombinationOfSettings) {
  const int speeds[] = {B9600, B19200, B115200};
  int k = 0;
  for (int bits : {7, 8})
    for (int stop : {1, 2})
      for (int parity : {otSerial::NONE, otSerial::ODD, otSerial::EVEN})
        for (int rtscts : {0, 1})
          for (int block : {0, 1}) {
            SCOPED_TRACE(::testing::Message()
                         << "bits " << bits << " stop " << stop << " parity " << parity
                         << " rtscts " << rtscts << " block " << block);
            int speed = speeds[k++ % 3];
            int sets = flushingSets;
            ASSERT_EQ(serial.openDevice(a.c_str(), speed, block, rtscts, bits, stop, parity), 0);
            tcflag_t c = (tcflag_t)speed | CREAD | CLOCAL | (bits == 7 ? CS7 : CS8);
            if (rtscts) c |= CRTSCTS;
            if (stop == 2) c |= CSTOPB;
            if (parity == otSerial::ODD) c |= PARENB | PARODD;
            if (parity == otSerial::EVEN) c |= PARENB;
            ASSERT_EQ(flushingSets, sets + 1);
            EXPECT_EQ(lastFlushingSet.c_cflag, c);

            struct termios t = settingsOf(a);
            const tcflag_t kept = CBAUD | CBAUDEX | CREAD | CLOCAL | CRTSCTS | CSTOPB | PARODD;
            EXPECT_EQ(t.c_cflag & kept, c & kept);
            EXPECT_EQ(cfgetospeed(&t), (speed_t)speed);
            EXPECT_EQ(cfgetispeed(&t), (speed_t)speed);
            EXPECT_EQ(t.c_iflag, (tcflag_t)(IGNBRK | IGNPAR | IXANY));
            EXPECT_EQ(t.c_oflag, (tcflag_t)OPOST);
            EXPECT_EQ(t.c_lflag, (tcflag_t)IEXTEN);
            EXPECT_EQ(t.c_line, 0);
            EXPECT_EQ(t.c_cc[VMIN], 1);
            EXPECT_EQ(t.c_cc[VTIME], 0);

            std::vector<long> flags = openFlagsOn(a);
            ASSERT_EQ(flags.size(), 1u);
            EXPECT_EQ((flags[0] & O_NONBLOCK) != 0, block == 0);
            EXPECT_NE(flags[0] & O_CLOEXEC, 0);
            if (block == 0) {
              EXPECT_EQ(serial.readChar(), -2);  // nothing there, no wait
            }
            ASSERT_EQ(serial.closeDevice(), 0);
          }
}

TEST_F(otSerialLine, SecondOpenIsRefusedAndCloseRestoresTheSettings) {
  struct termios before = settingsOf(a), peerBefore = settingsOf(b);
  ASSERT_EQ(serial.openDevice(a.c_str(), B19200, 1, 1, 7, 2, otSerial::EVEN), 0);
  EXPECT_FALSE(sameSettings(settingsOf(a), before));
  EXPECT_EQ(serial.openDevice(b.c_str(), B9600, 1, 0, 8, 1, otSerial::NONE), -1);
  EXPECT_TRUE(sameSettings(settingsOf(b), peerBefore));
  EXPECT_EQ(openFlagsOn(b).size(), 1u);  // only the peer's own descriptor
  peerWrite("k");
  EXPECT_EQ(serial.readBlock(nullptr, 1, 1000), -1);
  unsigned char c;
  EXPECT_EQ(serial.readBlock(&c, 1, 2000), 1);  // still the first line
  EXPECT_EQ(c, 'k');
  EXPECT_EQ(serial.closeDevice(), 0);
  EXPECT_TRUE(sameSettings(settingsOf(a), before));
  EXPECT_TRUE(openFlagsOn(a).empty());
  EXPECT_EQ(serial.closeDevice(), -1);

  // A speed the terminal layer does not know is refused before the device is touched.
  EXPECT_EQ(serial.openDevice(a.c_str(), 12345, 1, 0, 8, 1, otSerial::NONE), -1);
  EXPECT_EQ(serial.openDevice(a.c_str(), -1, 1, 0, 8, 1, otSerial::NONE), -1);
  EXPECT_TRUE(openFlagsOn(a).empty());

  {
    otSerial scoped;
    ASSERT_EQ(scoped.openDevice(a.c_str(), B115200, 0, 0, 8, 1, otSerial::ODD), 0);
    EXPECT_FALSE(sameSettings(settingsOf(a), before));
  }
  EXPECT_TRUE(sameSettings(settingsOf(a), before));
  EXPECT_TRUE(openFlagsOn(a).empty());
}

TEST_F(otSerialLine, AllByteValuesPassUnchangedBothWays) {
  ASSERT_EQ(openA(), 0);
  std::string all;
  for (int i = 0; i < 256; i++)
    all += (char)i;
  EXPECT_EQ(serial.writeBlock(reinterpret_cast<const unsigned char*>(all.data()), 256), 256);
  EXPECT_EQ(peerRead(256, 5000), all);
  peerWrite(all);
  unsigned char buf[256];
  EXPECT_EQ(serial.readBlock(buf, 256, 2000), 256);
  EXPECT_EQ(bytes(buf, 256), all);
  EXPECT_EQ(serial.writeChar(0xff), 1);
  EXPECT_EQ(serial.writeChar(0x00), 1);
  EXPECT_EQ(peerRead(2, 5000), std::string("\xff\0", 2));
  peerWrite(std::string("\x13\x00", 2));  // XOFF and NUL are data too
  EXPECT_EQ(serial.readChar(), 0x13);
  EXPECT_EQ(serial.readChar(), 0x00);
}

TEST_F(otSerialLine, LargeBlocksArriveWholeAlsoOnANonBlockingLine) {
  for (int block : {1, 0}) {
    SCOPED_TRACE(block);
    const int size = block ? 4096 : 65536;  // the larger one overruns the output queue
    std::vector<unsigned char> data((size_t)size);
    for (int i = 0; i < size; i++)
      data[(size_t)i] = (unsigned char)(i * 7 + i / 256);
    ASSERT_EQ(openA(block), 0);
    std::string got;
    std::thread reader([&] { got = peerRead((size_t)size, 20000); });
    EXPECT_EQ(serial.writeBlock(data.data(), size), size);
    reader.join();
    EXPECT_TRUE(got == bytes(data.data(), size)) << "received " << got.size() << " bytes";
    ASSERT_EQ(serial.closeDevice(), 0);
  }
  ASSERT_EQ(openA(), 0);
  EXPECT_EQ(serial.writeBlock(nullptr, 3), -1);
  EXPECT_EQ(serial.writeBlock(reinterpret_cast<const unsigned char*>("x"), -1), -1);
  EXPECT_EQ(serial.writeBlock(nullptr, 0), 0);
}

TEST_F(otSerialLine, TracePrintsEveryWrittenByte) {
  ASSERT_EQ(openA(), 0);
  const unsigned char block[] = {0, 1, 255};
  StdoutCapture capture(dir.file("out"));
  serial.writeChar('A');
  EXPECT_EQ(serial.setTrace(1), 1);
  serial.writeChar('A');
  serial.writeBlock(block, 3);
  serial.writeBlock(block, 0);
  EXPECT_EQ(serial.setTrace(0), 0);
  serial.writeBlock(block, 3);
  EXPECT_EQ(capture.finish(), "writeChar 65\nwriteBlock: 0 1 255\nwriteBlock:\n");
  EXPECT_EQ(peerRead(8, 5000), std::string("AA\0\x01\xff\0\x01\xff", 8));
}

TEST_F(otSerialLine, SelectWaitsForInputWithinTheLimit) {
  ASSERT_EQ(openA(), 0);
  long long t0 = nowMs();
  EXPECT_EQ(serial.select(0), 1);
  EXPECT_EQ(serial.select(-5), 1);
  EXPECT_LT(nowMs() - t0, 1000);
  t0 = nowMs();
  EXPECT_EQ(serial.select(150), 0);
  EXPECT_GE(nowMs() - t0, 145);
  EXPECT_LT(nowMs() - t0, 5000);
  std::thread late([&] {
    usleep(100000);
    peerWrite("z");
  });
  t0 = nowMs();
  EXPECT_EQ(serial.select(20000), 1);
  EXPECT_LT(nowMs() - t0, 10000);
  late.join();
  EXPECT_EQ(serial.readChar(), 'z');
}

TEST_F(otSerialLine, ReadBlockTimeoutsAndCounts) {
  ASSERT_EQ(openA(), 0);
  unsigned char buf[8] = {0};
  EXPECT_EQ(serial.readBlock(buf, 0, 100), -1);
  EXPECT_EQ(serial.readBlock(buf, -3, 100), -1);
  long long t0 = nowMs();
  EXPECT_EQ(serial.readBlock(buf, 4, 100), -1);  // nothing arrives
  EXPECT_GE(nowMs() - t0, 95);

  peerWrite("ab");
  ASSERT_EQ(serial.select(5000), 1);
  usleep(50000);  // both bytes through socat
  t0 = nowMs();
  EXPECT_EQ(serial.readBlock(buf, 4, 100), 2);  // after the wait for the third byte
  EXPECT_GE(nowMs() - t0, 95);
  EXPECT_LT(nowMs() - t0, 5000);
  EXPECT_EQ(bytes(buf, 2), "ab");

  // Timeout 0 has no limit: the read blocks until the bytes come.
  std::thread late([&] {
    usleep(200000);
    peerWrite("cd");
  });
  t0 = nowMs();
  EXPECT_EQ(serial.readBlock(buf, 2, 0), 2);
  EXPECT_GE(nowMs() - t0, 150);
  late.join();
  EXPECT_EQ(bytes(buf, 2), "cd");

  // A negative timeout does not wait beforehand; on a blocking line the read itself waits.
  peerWrite("efg");
  EXPECT_EQ(serial.readBlock(buf, 3, -1), 3);
  EXPECT_EQ(bytes(buf, 3), "efg");
}

TEST_F(otSerialLine, NonBlockingLineReturnsWhatIsThere) {
  ASSERT_EQ(openA(0), 0);
  unsigned char buf[8];
  EXPECT_EQ(serial.readChar(), -2);
  EXPECT_EQ(serial.readBlock(buf, 4, -1), -2);
  peerWrite("xy");
  ASSERT_EQ(serial.select(5000), 1);
  usleep(50000);
  EXPECT_EQ(serial.readBlock(buf, 4, -1), 2);  // the count, not -2: the bytes are not lost
  EXPECT_EQ(bytes(buf, 2), "xy");
  // With a limit or timeout 0 a non-blocking line waits like a blocking one.
  std::thread late([&] {
    usleep(150000);
    peerWrite("pq\r");
  });
  EXPECT_EQ(serial.readBlock(buf, 1, 5000), 1);
  EXPECT_EQ(buf[0], 'p');
  EXPECT_EQ(serial.readLine(buf, 8, 0), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "q\r");
  late.join();
  peerWrite("PQ");
  ASSERT_EQ(serial.select(5000), 1);
  usleep(50000);
  EXPECT_EQ(serial.readLine(buf, 8, -1), -2);  // the line did not end: text kept, terminated
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "PQ");
}

TEST_F(otSerialLine, ReadLineEndsAtAControlCharacter) {
  ASSERT_EQ(openA(), 0);
  unsigned char buf[16];
  peerWrite("ABC\rA\tB\n");
  EXPECT_EQ(serial.readLine(buf, 16, 2000), 3);
  EXPECT_EQ(bytes(buf, 5), std::string("ABC\r\0", 5));
  EXPECT_EQ(serial.readLine(buf, 16, 2000), 3);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "A\tB\n");
  peerWrite(std::string("Z\0", 2));
  EXPECT_EQ(serial.readLine(buf, 16, 2000), 1);
  EXPECT_EQ(bytes(buf, 3), std::string("Z\0\0", 3));

  memset(buf, 'x', sizeof(buf));
  EXPECT_EQ(serial.readLine(buf, 1, 2000), -1);
  EXPECT_EQ(serial.readLine(buf, 0, 2000), -1);
  long long t0 = nowMs();
  EXPECT_EQ(serial.readLine(buf, 2, 2000), 0);
  EXPECT_LT(nowMs() - t0, 1000);
  EXPECT_EQ(bytes(buf, 3), std::string("\0\0x", 3));

  // A full buffer: maxlen-2 bytes, NUL behind them, the rest stays for the next call.
  memset(buf, 'x', sizeof(buf));
  peerWrite("ABCDEFG\r");
  EXPECT_EQ(serial.readLine(buf, 6, 2000), 4);
  EXPECT_EQ(bytes(buf, 7), std::string("ABCD\0\0x", 7));
  EXPECT_EQ(serial.readLine(buf, 6, 2000), 3);
  EXPECT_EQ(bytes(buf, 5), std::string("EFG\r\0", 5));

  // The wait expires inside the line: -1, the partial text terminated.
  peerWrite("XY");
  t0 = nowMs();
  EXPECT_EQ(serial.readLine(buf, 16, 150), -1);
  EXPECT_GE(nowMs() - t0, 145);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "XY");
  EXPECT_EQ(serial.readLine(nullptr, 16, 10), -1);
}

static void onSignal(int) {}

TEST_F(otSerialLine, SignalsDoNotCutWaitsShort) {
  ASSERT_EQ(openA(), 0);
  struct sigaction sa, old;
  memset(&sa, 0, sizeof(sa));
  sa.sa_handler = onSignal;  // no SA_RESTART: every blocked call sees EINTR
  sigaction(SIGUSR1, &sa, &old);
  pthread_t self = pthread_self();
  std::atomic<bool> stop{false};
  std::thread pest([&] {
    for (int i = 0; !stop; i++) {
      pthread_kill(self, SIGUSR1);
      usleep(5000);
      if (i == 80) peerWrite("12");
    }
  });
  long long t0 = nowMs();
  EXPECT_EQ(serial.select(200), 0);
  EXPECT_GE(nowMs() - t0, 195);
  unsigned char buf[2];
  EXPECT_EQ(serial.readBlock(buf, 2, 0), 2);  // blocks in read() across the signals
  EXPECT_EQ(bytes(buf, 2), "12");
  stop = true;
  pest.join();
  sigaction(SIGUSR1, &old, nullptr);
}

TEST_F(otSerialLine, HangUpIsReportedAtOnce) {
  ASSERT_EQ(openA(), 0);
  int withLine = ottest::openFdCount();
  socat.stop();  // hangs up both lines
  unsigned char buf[8];
  long long t0 = nowMs();
  EXPECT_LT(serial.readChar(), 0);
  EXPECT_LT(serial.readBlock(buf, 4, 3000), 0);
  EXPECT_LT(serial.readLine(buf, 8, 3000), 0);
  EXPECT_LT(nowMs() - t0, 2500);
  EXPECT_EQ(serial.writeBlock(buf, 4), -1);
  serial.closeDevice();
  EXPECT_EQ(ottest::openFdCount(), withLine - 1);  // closed even if the restore failed
  EXPECT_EQ(serial.closeDevice(), -1);
}

}  // namespace
