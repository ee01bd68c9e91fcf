#include "otevent.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "oteventlogserver.h"
#include "testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

// Event log server stand-in on 127.0.0.1: accepts one connection after the other and collects
// the lines, in arrival order.
class LineSink {
 public:
  explicit LineSink(int port = 0) {
    lfd_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(lfd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sin.sin_port = htons((uint16_t)port);
    socklen_t len = sizeof(sin);
    if (bind(lfd_, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0 && listen(lfd_, 4) == 0 &&
        getsockname(lfd_, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
      port_ = ntohs(sin.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~LineSink() {
    stop_ = true;
    thread_.join();
    close(lfd_);
  }

  int port() const { return port_; }
  std::string portOption() const { return "-eventport=" + std::to_string(port_); }
  int connections() const { return accepted_; }

  // True when at least n lines arrived within timeoutMs; lines() has them.
  bool waitLines(size_t n, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return lines_.size() >= n; });
  }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  // Closes the current connection, as a restarting server would; returns when it is closed.
  void dropConnection() {
    std::unique_lock<std::mutex> lock(mutex_);
    drop_ = true;
    cond_.wait(lock, [&] { return !drop_; });
  }

 private:
  void run() {
    int cfd = -1;
    std::string partial;
    while (!stop_) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (drop_ && cfd >= 0) {
          close(cfd);
          cfd = -1;
        }
        if (drop_) {
          drop_ = false;
          cond_.notify_all();
        }
      }
      pollfd pfd = {cfd >= 0 ? cfd : lfd_, POLLIN, 0};
      if (poll(&pfd, 1, 20) != 1) continue;
      if (cfd < 0) {
        cfd = accept(lfd_, nullptr, nullptr);
        accepted_ += cfd >= 0;
        partial.clear();
        continue;
      }
      char buf[4096];
      ssize_t n = recv(cfd, buf, sizeof(buf), 0);
      if (n <= 0) {
        close(cfd);
        cfd = -1;
        continue;
      }
      partial.append(buf, (size_t)n);
      std::lock_guard<std::mutex> lock(mutex_);
      for (size_t eol; (eol = partial.find('\n')) != std::string::npos;) {
        lines_.push_back(partial.substr(0, eol + 1));
        partial.erase(0, eol + 1);
      }
      cond_.notify_all();
    }
    if (cfd >= 0) close(cfd);
  }

  int lfd_ = -1;
  int port_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  bool drop_ = false;
  std::mutex mutex_;
  std::condition_variable cond_;
  std::vector<std::string> lines_;
  std::thread thread_;
};

using ottest::freePort;

// The line is "YYYY-MM-DD HH:MM:SS " followed by rest.
bool stamped(const std::string& line, const std::string& rest) {
  const char* shape = "dddd-dd-dd dd:dd:dd ";
  if (line.size() < 20 || line.compare(20, std::string::npos, rest) != 0) return false;
  for (int i = 0; i < 20; i++)
    if (shape[i] == 'd' ? !isdigit((unsigned char)line[i]) : line[i] != shape[i]) return false;
  return true;
}

int init(const std::string& host, int port, const char* prefix) {
  std::string h = "-eventhost=" + host, p = "-eventport=" + std::to_string(port);
  const char* av[4] = {"daemon", "-other=1", h.c_str(), p.c_str()};
  return otEventInit(4, av, prefix);
}

class OtEvent : public ::testing::Test {
 protected:
  void TearDown() override { otEventExit(); }
};

TEST_F(OtEvent, LineFormat) {
  LineSink sink;
  std::string port = sink.portOption();
  const char* eventav[3] = {"", "-eventhost=localhost", port.c_str()};
  ASSERT_EQ(otEventInit(3, eventav, "mydaemon:"), 0);
  EXPECT_EQ(otEvent(otInfo, "%s starting", "mydaemon"), 0);
  EXPECT_EQ(otEvent(otWarning, "modbus.response cycle ret=%d slave=%d", -1, 7), 0);
  EXPECT_EQ(otEvent(otError, "two\nlines\r\nhere"), 0);
  EXPECT_EQ(otEvent(otInfo, "%s", std::string(400, 'x').c_str()), 0);
  EXPECT_EQ(otEvent(3, "unknown level"), -1);
  ASSERT_TRUE(sink.waitLines(4));

  // A second init replaces the settings; an empty prefix adds no blank.
  ASSERT_EQ(init("127.0.0.1", sink.port(), ""), 0);
  EXPECT_EQ(otEvent(otInfo, "bare"), 0);
  // A multi-byte character at the cut is dropped whole.
  EXPECT_EQ(otEvent(otInfo, "%s\xc3\xa4tail", std::string(228, 'y').c_str()), 0);
  ASSERT_TRUE(sink.waitLines(6));

  std::vector<std::string> l = sink.lines();
  EXPECT_TRUE(stamped(l[0], "mydaemon: INFO mydaemon starting\n")) << l[0];
  EXPECT_TRUE(stamped(l[1], "mydaemon: WARNING modbus.response cycle ret=-1 slave=7\n")) << l[1];
  EXPECT_TRUE(stamped(l[2], "mydaemon: ERROR two lines  here\n")) << l[2];
  EXPECT_TRUE(stamped(l[3], "mydaemon: INFO " + std::string(254 - 35, 'x') + "\n")) << l[3];
  EXPECT_TRUE(stamped(l[4], "INFO bare\n")) << l[4];
  EXPECT_TRUE(stamped(l[5], "INFO " + std::string(228, 'y') + "\n")) << l[5];  // no half 'ä'
}

TEST_F(OtEvent, BadOptionsLeaveClientOff) {
  EXPECT_EQ(otEventExit(), 0);                                          // not initialised
  const char* noPort[2] = {"-eventport=6000", "-eventhost=localhost"};  // av[0] is no option
  EXPECT_EQ(otEventInit(2, noPort, "p"), -1);
  const char* noHost[3] = {"", "-eventhost=", "-eventport=6000"};
  EXPECT_EQ(otEventInit(3, noHost, "p"), -1);
  EXPECT_EQ(init("localhost", 0, "p"), -1);
  EXPECT_EQ(init("localhost", 65536, "p"), -1);
  const char* junkPort[3] = {"", "-eventhost=localhost", "-eventport=60x"};
  EXPECT_EQ(otEventInit(3, junkPort, "p"), -1);
  EXPECT_EQ(otEventInit(0, nullptr, "p"), -1);
  EXPECT_EQ(otEvent(otInfo, "dropped"), -1);

  // A failed second init stops the client that was running. main's char** is accepted.
  LineSink sink;
  std::string d = "d", host = "-eventhost=localhost", port = sink.portOption();
  char* mainArgs[3] = {&d[0], &host[0], &port[0]};
  ASSERT_EQ(otEventInit(3, mainArgs, nullptr), 0);
  EXPECT_EQ(otEvent(otInfo, "queued"), 0);
  EXPECT_EQ(init("localhost", -5, "p"), -1);
  EXPECT_EQ(otEvent(otInfo, "dropped"), -1);
  EXPECT_TRUE(sink.waitLines(1));
  EXPECT_EQ(otEventExit(), 0);
  EXPECT_EQ(otEventExit(), 0);
}

TEST_F(OtEvent, QueuesWhileServerMissing) {
  int port = freePort();
  ASSERT_EQ(init("127.0.0.1", port, "q"), 0);
  Clock::time_point start = Clock::now();
  for (int i = 0; i < 200; i++)
    ASSERT_EQ(otEvent(otInfo, "n%d", i), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  // Let the first connect fail, so that the lines travel over a retried connection.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  LineSink sink(port);
  ASSERT_TRUE(sink.waitLines(200));
  std::vector<std::string> l = sink.lines();
  ASSERT_EQ(l.size(), 200u);
  for (int i = 0; i < 200; i++)
    EXPECT_NE(l[i].find(" q INFO n" + std::to_string(i) + "\n"), std::string::npos) << l[i];
}

TEST_F(OtEvent, FullQueueCountsLossAndReportsItFirst) {
  int port = freePort();
  ASSERT_EQ(init("127.0.0.1", port, "q"), 0);
  for (int i = 0; i < OT_EVENT_QUEUE_MAX; i++)
    ASSERT_EQ(otEvent(otInfo, "n%d", i), 0);
  for (int i = 0; i < 5; i++)
    EXPECT_EQ(otEvent(otInfo, "over"), -1);

  LineSink sink(port);
  ASSERT_TRUE(sink.waitLines(OT_EVENT_QUEUE_MAX + 1));
  std::vector<std::string> l = sink.lines();
  EXPECT_TRUE(stamped(l[0], "q WARNING 5 events lost while the event log server was unreachable\n"))
      << l[0];
  EXPECT_NE(l[1].find(" INFO n0\n"), std::string::npos);
  EXPECT_NE(l.back().find(" INFO n999\n"), std::string::npos);
}

TEST_F(OtEvent, ReconnectsAfterServerClosed) {
  LineSink sink;
  ASSERT_EQ(init("127.0.0.1", sink.port(), "r"), 0);
  ASSERT_EQ(otEvent(otInfo, "before"), 0);
  ASSERT_TRUE(sink.waitLines(1));
  sink.dropConnection();
  ASSERT_EQ(otEvent(otInfo, "after1"), 0);
  ASSERT_EQ(otEvent(otInfo, "after2"), 0);
  ASSERT_TRUE(sink.waitLines(3));
  std::vector<std::string> l = sink.lines();
  EXPECT_NE(l[1].find(" r INFO after1\n"), std::string::npos) << l[1];
  EXPECT_NE(l[2].find(" r INFO after2\n"), std::string::npos) << l[2];
  EXPECT_EQ(sink.connections(), 2);
}

TEST_F(OtEvent, ConcurrentCallersEachArriveOnceInOrder) {
  LineSink sink;
  ASSERT_EQ(init("127.0.0.1", sink.port(), "t"), 0);
  const int kThreads = 4, kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++)
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; i++)
        EXPECT_EQ(otEvent(otInfo, "%d %d", t, i), 0);
    });
  for (std::thread& t : threads)
    t.join();
  ASSERT_TRUE(sink.waitLines(kThreads * kEach));
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : sink.lines()) {
    int t = -1, i = -1;
    ASSERT_EQ(sscanf(line.c_str(), "%*s %*s t INFO %d %d", &t, &i), 2) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads);
    EXPECT_EQ(i, next[t]++);
  }
  EXPECT_EQ(next, std::vector<int>(kThreads, kEach));
}

TEST_F(OtEvent, ExitDeliversQueueThenStopsWithinBound) {
  LineSink sink;
  ASSERT_EQ(init("127.0.0.1", sink.port(), "x"), 0);
  for (int i = 0; i < 50; i++)
    ASSERT_EQ(otEvent(otInfo, "bye%d", i), 0);
  EXPECT_EQ(otEventExit(), 0);
  EXPECT_TRUE(sink.waitLines(50));
  EXPECT_EQ(otEvent(otInfo, "late"), -1);

  // Nobody listening: the queued lines are given up after the grace time.
  ASSERT_EQ(init("127.0.0.1", freePort(), "x"), 0);
  ASSERT_EQ(otEvent(otInfo, "never"), 0);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(otEventExit(), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1800));
}

// The handshake leads every connection, the first and each reconnect, and is never queued as
// an event; a secret the server could not take as one line is refused at init.
TEST_F(OtEvent, SecretHandshakeLeadsEveryConnection) {
  LineSink sink;
  std::string port = sink.portOption();
  std::string tooLong = "-eventsecret=" + std::string(OT_EVENTLOG_SECRET_MAX + 1, 's');
  for (const std::string& bad :
       {std::string("-eventsecret=tab\there"), std::string("-eventsecret=del\x7f"), tooLong}) {
    const char* av[4] = {"d", "-eventhost=127.0.0.1", port.c_str(), bad.c_str()};
    EXPECT_EQ(otEventInit(4, av, "s"), -1) << bad;
    EXPECT_EQ(otEvent(otInfo, "dropped"), -1);
  }
  std::string longest = "-eventsecret=" + std::string(OT_EVENTLOG_SECRET_MAX, 's');
  const char* okLong[4] = {"d", "-eventhost=127.0.0.1", port.c_str(), longest.c_str()};
  ASSERT_EQ(otEventInit(4, okLong, "s"), 0);
  ASSERT_TRUE(sink.waitLines(1));
  // The last option wins; an empty secret is none.
  const char* off[5] = {"d", "-eventsecret=x", "-eventhost=127.0.0.1", port.c_str(),
                        "-eventsecret="};
  ASSERT_EQ(otEventInit(5, off, "s"), 0);
  ASSERT_EQ(otEvent(otInfo, "plain"), 0);
  ASSERT_TRUE(sink.waitLines(2));
  sink.dropConnection();

  const char* av[4] = {"d", "-eventhost=127.0.0.1", port.c_str(), "-eventsecret=pa ss"};
  ASSERT_EQ(otEventInit(4, av, "s"), 0);
  ASSERT_EQ(otEvent(otInfo, "one"), 0);
  ASSERT_TRUE(sink.waitLines(4));
  sink.dropConnection();
  ASSERT_EQ(otEvent(otInfo, "two"), 0);
  ASSERT_TRUE(sink.waitLines(6));
  std::vector<std::string> l = sink.lines();
  ASSERT_EQ(l.size(), 6u);
  EXPECT_EQ(l[0], OT_EVENTLOG_AUTH_PREFIX + std::string(OT_EVENTLOG_SECRET_MAX, 's') + "\n");
  EXPECT_TRUE(stamped(l[1], "s INFO plain\n")) << l[1];
  EXPECT_EQ(l[2], OT_EVENTLOG_AUTH_PREFIX "pa ss\n");
  EXPECT_TRUE(stamped(l[3], "s INFO one\n")) << l[3];
  EXPECT_EQ(l[4], OT_EVENTLOG_AUTH_PREFIX "pa ss\n");
  EXPECT_TRUE(stamped(l[5], "s INFO two\n")) << l[5];
}

}  // namespace
