// otLineReader on socket pairs and pipes (over-long lines, time-outs, signals, blocks between
// lines, descriptors above 1023) and otAcceptLoop over loopback (client limit, bind address,
// idle time-out, stop with blocked handlers and no thread left).
#include "otacceptloop.h"
#include "otlinereader.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Waits up to 10 s until the process has n threads (an ended thread leaves the task list a
// moment after its join).
int settleThreads(int n) {
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (ottest::threadCount() != n && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return ottest::threadCount();
}

// A connected pair of stream sockets, closed on destruction.
struct Pair {
  int w = -1;  // the writing end (the peer)
  int r = -1;  // the end the reader reads
  Pair() {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0) {
      w = sv[0];
      r = sv[1];
    }
  }
  ~Pair() {
    closeWriter();
    if (r >= 0) close(r);
  }
  void put(const std::string& text) {
    ASSERT_EQ(send(w, text.data(), text.size(), MSG_NOSIGNAL), (ssize_t)text.size());
  }
  void closeWriter() {
    if (w >= 0) close(w);
    w = -1;
  }
};

std::string line(otLineReader& in, int size, int timeoutMs, int* ret) {
  std::vector<char> buf((size_t)size, 'X');
  *ret = in.readLine(buf.data(), size, timeoutMs);
  return std::string(buf.data(), *ret > 0 ? (size_t)*ret : strlen(buf.data()));
}

// ---------------------------------------------------------------------------------------------
// otLineReader

TEST(otLineReader, LinesWithTheirLineFeedAndTheLastOneWithout) {
  Pair p;
  otLineReader in(p.r);
  EXPECT_EQ(in.fd(), p.r);
  p.put("one\ntwo\n\nthree");
  p.closeWriter();
  int n;
  EXPECT_EQ(line(in, 64, 1000, &n), "one\n");
  EXPECT_EQ(n, 4);
  EXPECT_EQ(in.buffered(), 10);
  EXPECT_EQ(line(in, 64, 1000, &n), "two\n");
  EXPECT_EQ(line(in, 64, 1000, &n), "\n");
  EXPECT_EQ(n, 1);
  // Cut by the close: handed out as it is, no line feed added; then the end.
  EXPECT_EQ(line(in, 64, 1000, &n), "three");
  EXPECT_EQ(n, 5);
  EXPECT_EQ(line(in, 64, 1000, &n), "");
  EXPECT_EQ(n, -1);
  EXPECT_EQ(line(in, 64, 0, &n), "");
  EXPECT_EQ(n, -1);
}

TEST(otLineReader, OverLongLineIsRefusedWholeAndTheNextLineIsIntact) {
  Pair p;
  otLineReader in(p.r, 16);  // at most 15 characters and the line feed
  int n;
  // Exactly at the limit: taken.
  p.put(std::string(15, 'a') + "\n");
  EXPECT_EQ(line(in, 64, 1000, &n), std::string(15, 'a') + "\n");
  EXPECT_EQ(n, 16);
  // One more: refused whole, also when it arrives in pieces over several reads.
  std::thread writer([&] {
    for (int i = 0; i < 10; i++) {
      std::string piece(7, (char)('b' + i));
      send(p.w, piece.data(), piece.size(), MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    send(p.w, "\nnext\n", 6, MSG_NOSIGNAL);
  });
  std::vector<char> buf(64, 'X');
  EXPECT_EQ(in.readLine(buf.data(), 64, 5000), -2);
  EXPECT_STREQ(buf.data(), "");
  writer.join();
  EXPECT_EQ(line(in, 64, 1000, &n), "next\n");
  // The caller's buffer limits as well: size - 1 bytes with the line feed.
  p.put("12345\n1234\n");
  EXPECT_EQ(line(in, 6, 1000, &n), "");
  EXPECT_EQ(n, -2);
  EXPECT_EQ(line(in, 6, 1000, &n), "1234\n");
  // An over-long last line without a line feed is refused before the end is reported.
  p.put(std::string(40, 'z'));
  p.closeWriter();
  EXPECT_EQ(line(in, 64, 1000, &n), "");
  EXPECT_EQ(n, -2);
  EXPECT_EQ(line(in, 64, 1000, &n), "");
  EXPECT_EQ(n, -1);
}

TEST(otLineReader, NoRoomRefusesEveryLine) {
  Pair p;
  otLineReader in(p.r);
  p.put("a\nb\n");
  char one[1] = {'X'};
  EXPECT_EQ(in.readLine(one, 1, 1000), -2);
  EXPECT_EQ(one[0], '\0');
  EXPECT_EQ(in.readLine(nullptr, 100, 1000), -2);
  p.closeWriter();
  EXPECT_EQ(in.readLine(nullptr, 0, 1000), -1);
}

TEST(otLineReader, TimeOutReturnsZeroAndKeepsThePartialLine) {
  Pair p;
  otLineReader in(p.r);
  p.put("par");
  int n;
  auto start = Clock::now();
  EXPECT_EQ(line(in, 64, 150, &n), "");
  EXPECT_EQ(n, 0);
  EXPECT_GE(msSince(start), 140);
  EXPECT_LT(msSince(start), 3000);
  EXPECT_EQ(in.buffered(), 3);
  EXPECT_FALSE(in.hasLine());
  p.put("tial\nrest");
  EXPECT_EQ(line(in, 64, 150, &n), "partial\n");
  EXPECT_EQ(line(in, 64, 100, &n), "");
  EXPECT_EQ(n, 0);
  EXPECT_EQ(in.buffered(), 4);
  // A refusal under way goes on after a time-out.
  otLineReader small(p.r, 8);
  p.put("\n" + std::string(20, 'q'));
  EXPECT_EQ(line(small, 64, 100, &n), "\n");
  EXPECT_EQ(line(small, 64, 100, &n), "");
  EXPECT_EQ(n, 0);
  p.put(std::string(20, 'q') + "\nok\n");
  EXPECT_EQ(line(small, 64, 1000, &n), "");
  EXPECT_EQ(n, -2);
  EXPECT_EQ(line(small, 64, 1000, &n), "ok\n");
}

extern "C" void onSignal(int) {}

TEST(otLineReader, SignalsAreNoClose) {
  struct sigaction sa, old;
  memset(&sa, 0, sizeof(sa));
  sa.sa_handler = onSignal;  // no SA_RESTART: every blocked call returns EINTR
  sigemptyset(&sa.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
  for (int timeoutMs : {0, 5000}) {
    Pair p;
    otLineReader in(p.r);
    std::atomic<int> result{-9};
    std::string got;
    std::thread reader([&] {
      char buf[64];
      int n = in.readLine(buf, sizeof(buf), timeoutMs);
      if (n > 0) got.assign(buf, (size_t)n);
      result = n;
    });
    for (int i = 0; i < 10; i++) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      pthread_kill(reader.native_handle(), SIGUSR1);
    }
    EXPECT_EQ(result.load(), -9) << "timeout " << timeoutMs;
    p.put("after signals\n");
    reader.join();
    EXPECT_EQ(result.load(), 14) << "timeout " << timeoutMs;
    EXPECT_EQ(got, "after signals\n");
  }
  sigaction(SIGUSR1, &old, nullptr);
}

TEST(otLineReader, BlocksBetweenLines) {
  Pair p;
  otLineReader in(p.r);
  // A header line announcing a binary block, the block (with line feeds and NULs in it), the
  // next header, all in one write.
  std::string block("a\nb\0c\n", 6);
  p.put("BLOCK 6\n" + block + "BLOCK 3\nxyz" + "tail\n");
  int n;
  EXPECT_EQ(line(in, 64, 1000, &n), "BLOCK 6\n");
  char buf[16];
  EXPECT_EQ(in.readBlock(buf, 6, 1000), 6);
  EXPECT_EQ(std::string(buf, 6), block);
  EXPECT_EQ(line(in, 64, 1000, &n), "BLOCK 3\n");
  EXPECT_EQ(in.readBlock(buf, 3, 1000), 3);
  EXPECT_EQ(std::string(buf, 3), "xyz");
  EXPECT_EQ(in.readBlock(buf, 0, 1000), 0);
  EXPECT_EQ(line(in, 64, 1000, &n), "tail\n");
  // A block that is incomplete at its time-out stays buffered.
  p.put("12345");
  EXPECT_EQ(in.readBlock(buf, 8, 100), 0);
  EXPECT_EQ(in.buffered(), 5);
  p.put("678line\n");
  EXPECT_EQ(in.readBlock(buf, 8, 1000), 8);
  EXPECT_EQ(std::string(buf, 8), "12345678");
  EXPECT_EQ(line(in, 64, 1000, &n), "line\n");
  // A block larger than the reader's chunk, and one dropped unread.
  std::string big(100000, 'B');
  for (size_t i = 0; i < big.size(); i += 1000)
    big[i] = (char)('0' + (i / 1000) % 10);
  std::thread writer([&] {
    send(p.w, big.data(), big.size(), MSG_NOSIGNAL);
    send(p.w, big.data(), big.size(), MSG_NOSIGNAL);
    send(p.w, "end\n", 4, MSG_NOSIGNAL);
  });
  std::vector<char> got(big.size());
  EXPECT_EQ(in.readBlock(got.data(), (int)got.size(), 5000), (int)big.size());
  EXPECT_EQ(std::string(got.data(), got.size()), big);
  EXPECT_EQ(in.drain((long long)big.size(), 5000), 0);
  EXPECT_EQ(line(in, 64, 1000, &n), "end\n");
  writer.join();
  // The end in the middle of a block or a drain.
  p.put("abc");
  p.closeWriter();
  EXPECT_EQ(in.waitData(1000), 1);
  EXPECT_EQ(in.readBlock(buf, 4, 1000), -1);
  EXPECT_EQ(in.drain(10, 1000), -1);
  EXPECT_EQ(in.waitData(1000), -1);
}

TEST(otLineReader, PipesNonBlockingDescriptorsAndDescriptorsAbove1023) {
  int pfd[2];
  ASSERT_EQ(pipe2(pfd, O_CLOEXEC | O_NONBLOCK), 0);
  {
    otLineReader in(pfd[0]);
    int n;
    EXPECT_EQ(line(in, 64, 50, &n), "");
    EXPECT_EQ(n, 0);
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      EXPECT_EQ(write(pfd[1], "pipe\n", 5), 5);
    });
    // Without a time-out too: the reader waits with poll instead of failing on EAGAIN.
    EXPECT_EQ(line(in, 64, 0, &n), "pipe\n");
    writer.join();
  }
  close(pfd[0]);
  close(pfd[1]);

  struct rlimit rl;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &rl), 0);
  if (rl.rlim_cur < 1600 && rl.rlim_max >= 1600) {
    rl.rlim_cur = 1600;
    setrlimit(RLIMIT_NOFILE, &rl);
  }
  Pair p;
  int high = fcntl(p.r, F_DUPFD_CLOEXEC, 1500);
  if (high < 0) GTEST_SKIP() << "no descriptor above 1500 allowed here";
  otLineReader in(high);
  int n;
  EXPECT_EQ(line(in, 64, 50, &n), "");
  EXPECT_EQ(n, 0);
  p.put("high\n");
  EXPECT_EQ(line(in, 64, 1000, &n), "high\n");
  close(high);
}

TEST(otLineReader, ManyLinesInRandomPiecesComeOutWhole) {
  Pair p;
  std::string all;
  std::vector<std::string> lines;
  std::mt19937 rng(7);
  for (int i = 0; i < 50000; i++) {
    std::string l = "line " + std::to_string(i) + std::string(rng() % 40, 'x');
    if (i % 997 == 0)
      l = std::string(300, 'L');  // over the limit below: refused
    else
      lines.push_back(l + "\n");
    all += l + "\n";
  }
  std::thread writer([&] {
    size_t off = 0;
    std::mt19937 wr(11);
    while (off < all.size()) {
      size_t piece = std::min(all.size() - off, (size_t)(1 + wr() % 3000));
      ssize_t n = send(p.w, all.data() + off, piece, MSG_NOSIGNAL);
      if (n <= 0) break;
      off += (size_t)n;
    }
    p.closeWriter();
  });
  otLineReader in(p.r, 200);
  std::vector<std::string> got;
  int refused = 0;
  char buf[256];
  auto start = Clock::now();
  for (;;) {
    int n = in.readLine(buf, sizeof(buf), 10000);
    if (n == -2) {
      refused++;
      continue;
    }
    if (n <= 0) break;
    got.emplace_back(buf, (size_t)n);
  }
  writer.join();
  EXPECT_EQ(refused, 51);
  EXPECT_EQ(got, lines);
  // Tens of thousands of lines a second, even in a sanitizer build.
  EXPECT_LT(msSince(start), 20000);
}

// ---------------------------------------------------------------------------------------------
// otAcceptLoop

int connectTo(int family, const char* address, int port) {
  int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int rc;
  if (family == AF_INET) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons((uint16_t)port);
    inet_pton(AF_INET, address, &sin.sin_addr);
    rc = connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin));
  } else {
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_port = htons((uint16_t)port);
    inet_pton(AF_INET6, address, &sin6.sin6_addr);
    rc = connect(fd, reinterpret_cast<sockaddr*>(&sin6), sizeof(sin6));
  }
  if (rc != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int connectLocal(int port) {
  return connectTo(AF_INET, "127.0.0.1", port);
}

// All that arrives until the peer closes or ms pass.
std::string receiveAll(int fd, int ms) {
  std::string got;
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    struct pollfd p = {fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, (int)left) <= 0) return got + "<time-out>";
    char buf[512];
    ssize_t n = recv(fd, buf, sizeof(buf), 0);
    if (n <= 0) return got;
    got.append(buf, (size_t)n);
  }
}

// One line with a time-out: the line, "<closed>" or "<time-out>".
std::string receiveLine(int fd, int ms) {
  std::string got;
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (got.empty() || got.back() != '\n') {
    long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    struct pollfd p = {fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, (int)left) <= 0) return "<time-out>";
    char c;
    if (recv(fd, &c, 1, 0) != 1) return "<closed>";
    got += c;
  }
  return got;
}

// An echo server: every line comes back with "echo: " before it. Reads give up after the
// loop's idle time-out.
struct Echo {
  otAcceptLoop loop;
  std::atomic<int> entered{0};
  std::atomic<int> returned{0};
  std::atomic<int> idleEnds{0};

  static void handler(int fd, void* user) {
    Echo* self = static_cast<Echo*>(user);
    self->entered++;
    otLineReader in(fd);
    char buf[1024];
    for (;;) {
      int n = in.readLine(buf, sizeof(buf), self->loop.idleTimeoutMs());
      if (n == -2) continue;
      if (n == 0) self->idleEnds++;
      if (n <= 0) break;
      std::string reply = "echo: " + std::string(buf, (size_t)n);
      if (send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) break;
    }
    self->returned++;
  }

  int start(otAcceptConfig config) { return loop.start(config, handler, this); }
};

TEST(otAcceptLoop, ServesClientsOnAKernelChosenPort) {
  Echo echo;
  otAcceptConfig config;  // every IPv4 address, port 0
  EXPECT_EQ(echo.loop.port(), 0);
  ASSERT_EQ(echo.start(config), 0);
  int port = echo.loop.port();
  ASSERT_GT(port, 0);
  EXPECT_EQ(echo.start(config), -1);  // running already
  // Clients may connect as soon as start() returned.
  std::vector<int> fds;
  for (int i = 0; i < 5; i++) {
    fds.push_back(connectLocal(port));
    ASSERT_GE(fds.back(), 0);
  }
  for (int i = 0; i < 5; i++) {
    std::string text = "client " + std::to_string(i) + "\n";
    ASSERT_EQ(send(fds[(size_t)i], text.data(), text.size(), MSG_NOSIGNAL), (ssize_t)text.size());
    EXPECT_EQ(receiveLine(fds[(size_t)i], 5000), "echo: " + text);
  }
  EXPECT_EQ(echo.loop.clients(), 5);
  EXPECT_EQ(echo.loop.accepted(), 5);
  close(fds[0]);
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (echo.loop.clients() != 4 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(echo.loop.clients(), 4);
  echo.loop.stop();
  echo.loop.stop();  // twice is fine
  for (size_t i = 1; i < fds.size(); i++) {
    EXPECT_EQ(receiveAll(fds[i], 5000), "");  // closed by the stop
    close(fds[i]);
  }
  EXPECT_EQ(echo.entered.load(), 5);
  EXPECT_EQ(echo.returned.load(), 5);
  EXPECT_EQ(echo.loop.clients(), 0);
  EXPECT_LT(connectLocal(port), 0);  // nobody listens any more

  // Started again, on the same port.
  config.port = port;
  ASSERT_EQ(echo.start(config), 0);
  EXPECT_EQ(echo.loop.port(), port);
  int fd = connectLocal(port);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(send(fd, "again\n", 6, MSG_NOSIGNAL), 6);
  EXPECT_EQ(receiveLine(fd, 5000), "echo: again\n");
  close(fd);
}

TEST(otAcceptLoop, ClientsAboveTheLimitGetTheRefusal) {
  Echo echo;
  otAcceptConfig config;
  config.bindAddress = "127.0.0.1";
  config.maxClients = 2;
  std::string text = "busy: 2 clients at most\n";
  config.refusal = text.c_str();
  ASSERT_EQ(echo.start(config), 0);
  text = "overwritten: the loop keeps its own copy\n";
  int port = echo.loop.port();
  int a = connectLocal(port), b = connectLocal(port);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  // Both are served (the echo proves that their handlers run).
  ASSERT_EQ(send(a, "a\n", 2, MSG_NOSIGNAL), 2);
  ASSERT_EQ(send(b, "b\n", 2, MSG_NOSIGNAL), 2);
  EXPECT_EQ(receiveLine(a, 5000), "echo: a\n");
  EXPECT_EQ(receiveLine(b, 5000), "echo: b\n");
  int c = connectLocal(port);
  ASSERT_GE(c, 0);
  EXPECT_EQ(receiveAll(c, 5000), "busy: 2 clients at most\n");
  close(c);
  EXPECT_EQ(echo.loop.refused(), 1);
  EXPECT_EQ(echo.entered.load(), 2);
  // A place that becomes free is taken by the next client.
  close(a);
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (echo.loop.clients() != 1 && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  int d = connectLocal(port);
  ASSERT_GE(d, 0);
  ASSERT_EQ(send(d, "d\n", 2, MSG_NOSIGNAL), 2);
  EXPECT_EQ(receiveLine(d, 5000), "echo: d\n");
  close(b);
  close(d);
  echo.loop.stop();

  // Without a text the refused client only sees the end.
  config.refusal = nullptr;
  config.maxClients = 1;
  ASSERT_EQ(echo.start(config), 0);
  port = echo.loop.port();
  a = connectLocal(port);
  ASSERT_EQ(send(a, "a\n", 2, MSG_NOSIGNAL), 2);
  EXPECT_EQ(receiveLine(a, 5000), "echo: a\n");
  b = connectLocal(port);
  EXPECT_EQ(receiveAll(b, 5000), "");
  EXPECT_EQ(echo.loop.refused(), 1);
  close(a);
  close(b);
}

TEST(otAcceptLoop, BindAddressOption) {
  {
    // One IPv4 address: reached there, not elsewhere.
    Echo echo;
    otAcceptConfig config;
    config.bindAddress = "127.0.0.1";
    ASSERT_EQ(echo.start(config), 0);
    int fd = connectTo(AF_INET, "127.0.0.1", echo.loop.port());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(send(fd, "v4\n", 3, MSG_NOSIGNAL), 3);
    EXPECT_EQ(receiveLine(fd, 5000), "echo: v4\n");
    close(fd);
    EXPECT_LT(connectTo(AF_INET, "127.0.0.2", echo.loop.port()), 0);
  }
  {
    // A host name.
    Echo echo;
    otAcceptConfig config;
    config.bindAddress = "localhost";
    ASSERT_EQ(echo.start(config), 0);
    int fd = connectTo(AF_INET, "127.0.0.1", echo.loop.port());
    if (fd < 0) fd = connectTo(AF_INET6, "::1", echo.loop.port());
    ASSERT_GE(fd, 0);
    close(fd);
  }
  {
    // An address of the documentation range, no interface of this host; and a name that
    // does not resolve.
    ottest::CaptureStdout out;
    Echo echo;
    otAcceptConfig config;
    config.bindAddress = "192.0.2.1";
    EXPECT_EQ(echo.start(config), -1);
    config.bindAddress = "no-such-host.invalid";
    EXPECT_EQ(echo.start(config), -1);
    std::string text = out.text();
    EXPECT_NE(text.find("otAcceptLoop: cannot listen on 192.0.2.1"), std::string::npos) << text;
    EXPECT_NE(text.find("otAcceptLoop: cannot listen on no-such-host.invalid"), std::string::npos)
        << text;
  }
  int probe = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 lo6{};
  lo6.sin6_family = AF_INET6;
  lo6.sin6_addr = in6addr_loopback;
  bool v6 = probe >= 0 && bind(probe, reinterpret_cast<sockaddr*>(&lo6), sizeof(lo6)) == 0;
  if (probe >= 0) close(probe);
  if (!v6) GTEST_SKIP() << "no IPv6 loopback here";
  {
    Echo echo;
    otAcceptConfig config;
    config.bindAddress = "::1";
    ASSERT_EQ(echo.start(config), 0);
    int fd = connectTo(AF_INET6, "::1", echo.loop.port());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(send(fd, "v6\n", 3, MSG_NOSIGNAL), 3);
    EXPECT_EQ(receiveLine(fd, 5000), "echo: v6\n");
    close(fd);
    EXPECT_LT(connectTo(AF_INET, "127.0.0.1", echo.loop.port()), 0);
  }
  {
    // "::" serves IPv6 and IPv4 clients.
    Echo echo;
    otAcceptConfig config;
    config.bindAddress = "::";
    ASSERT_EQ(echo.start(config), 0);
    int a = connectTo(AF_INET6, "::1", echo.loop.port());
    int b = connectTo(AF_INET, "127.0.0.1", echo.loop.port());
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_EQ(send(b, "mapped\n", 7, MSG_NOSIGNAL), 7);
    EXPECT_EQ(receiveLine(b, 5000), "echo: mapped\n");
    close(a);
    close(b);
  }
}

TEST(otAcceptLoop, TakenPortFailsOrIsRetried) {
  Echo first;
  otAcceptConfig config;
  config.bindAddress = "127.0.0.1";
  ASSERT_EQ(first.start(config), 0);
  config.port = first.loop.port();
  {
    ottest::CaptureStdout out;
    Echo second;
    EXPECT_EQ(second.start(config), -1);
    EXPECT_NE(out.text().find("cannot listen on 127.0.0.1 port " + std::to_string(config.port)),
              std::string::npos);
  }
  Echo patient;
  config.bindRetryMs = 50;
  {
    ottest::CaptureStdout out;
    ASSERT_EQ(patient.start(config), 0);
    EXPECT_NE(out.text().find("(trying again)"), std::string::npos);
  }
  EXPECT_EQ(patient.loop.port(), config.port);
  first.loop.stop();
  // The port is free now: the patient loop takes it within a few tries.
  std::string got = "<none>";
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    int fd = connectLocal(config.port);
    if (fd >= 0) {
      ASSERT_EQ(send(fd, "late\n", 5, MSG_NOSIGNAL), 5);
      got = receiveLine(fd, 5000);
      close(fd);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(got, "echo: late\n");
  EXPECT_EQ(patient.entered.load(), 1);
  // A loop that never got its port stops as well.
  Echo never;
  config.bindRetryMs = 10000;
  {
    ottest::CaptureStdout out;
    ASSERT_EQ(never.start(config), 0);
  }
  auto start = Clock::now();
  never.loop.stop();
  EXPECT_LT(msSince(start), 5000);
}

TEST(otAcceptLoop, IdleConnectionsAreClosed) {
  Echo echo;
  otAcceptConfig config;
  config.bindAddress = "127.0.0.1";
  config.idleTimeoutMs = 200;
  ASSERT_EQ(echo.start(config), 0);
  EXPECT_EQ(echo.loop.idleTimeoutMs(), 200);
  int silent = connectLocal(echo.loop.port());
  int talker = connectLocal(echo.loop.port());
  ASSERT_GE(silent, 0);
  ASSERT_GE(talker, 0);
  auto start = Clock::now();
  // The talker keeps sending within the time-out and stays.
  for (int i = 0; i < 6; i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    ASSERT_EQ(send(talker, "x\n", 2, MSG_NOSIGNAL), 2);
    EXPECT_EQ(receiveLine(talker, 5000), "echo: x\n");
  }
  // The silent one was closed meanwhile; so is a partial line that never ends.
  EXPECT_EQ(receiveAll(silent, 5000), "");
  EXPECT_GE(msSince(start), 190);
  ASSERT_EQ(send(talker, "no line feed", 12, MSG_NOSIGNAL), 12);
  EXPECT_EQ(receiveAll(talker, 5000), "");
  EXPECT_EQ(echo.idleEnds.load(), 2);
  close(silent);
  close(talker);
}

TEST(otAcceptLoop, StopWithSilentClientsEndsEveryThread) {
  // A sanitizer runtime starts a helper thread of its own with the first thread created; that
  // one must be there before counting.
  std::thread([] {}).join();
  int before = ottest::baselineThreadCount();
  std::vector<int> fds;
  {
    Echo echo;
    otAcceptConfig config;
    config.bindAddress = "127.0.0.1";
    ASSERT_EQ(echo.start(config), 0);
    for (int i = 0; i < 20; i++) {
      fds.push_back(connectLocal(echo.loop.port()));
      ASSERT_GE(fds.back(), 0);
    }
    // Every handler is blocked in a read without a time-out.
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (echo.entered.load() != 20 && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(echo.entered.load(), 20);
    EXPECT_EQ(ottest::threadCount(), before + 21);
    auto start = Clock::now();
    echo.loop.stop();
    EXPECT_LT(msSince(start), 5000);
    EXPECT_EQ(echo.returned.load(), 20);
    EXPECT_EQ(echo.loop.clients(), 0);
  }
  EXPECT_EQ(settleThreads(before), before);
  for (int fd : fds) {
    EXPECT_EQ(receiveAll(fd, 5000), "");
    close(fd);
  }
  // The destructor stops a running loop as well.
  {
    Echo echo;
    otAcceptConfig config;
    config.bindAddress = "127.0.0.1";
    ASSERT_EQ(echo.start(config), 0);
    int fd = connectLocal(echo.loop.port());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(send(fd, "hi\n", 3, MSG_NOSIGNAL), 3);
    EXPECT_EQ(receiveLine(fd, 5000), "echo: hi\n");
    close(fd);
  }
  EXPECT_EQ(settleThreads(before), before);
}

TEST(otAcceptLoop, NullHandlerAndBadPortAreRefused) {
  ottest::CaptureStdout out;
  otAcceptLoop loop;
  otAcceptConfig config;
  EXPECT_EQ(loop.start(config, nullptr, nullptr), -1);
  config.port = 70000;
  EXPECT_EQ(loop.start(config, Echo::handler, nullptr), -1);
  loop.stop();
  EXPECT_NE(out.text().find("otAcceptLoop: no handler"), std::string::npos);
}

}  // namespace
