#include "oteventlogserver.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "otevent.h"
#include "testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

using ottest::freePort;

// A plain sender; the server listens a moment after start(), so connecting is retried.
int connectSender(int port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sin.sin_port = htons((uint16_t)port);
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0) return fd;
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

bool sendText(int fd, const std::string& text) {
  return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == (ssize_t)text.size();
}

// Log files in dir, sorted by name (which is their order while they stay within one minute
// and fewer than ten share it).
std::vector<std::string> logFiles(const ottest::TempDir& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.path().c_str());
  while (d != nullptr) {
    struct dirent* e = readdir(d);
    if (e == nullptr) break;
    std::string name = e->d_name;
    if (name.size() > 11 && name.compare(name.size() - 11, 11, ".otEventLog") == 0)
      names.push_back(name);
  }
  if (d != nullptr) closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// base + "YYYY-MM-DD_HH_MM" + optional "_N" + ".otEventLog"
bool isLogFileName(const std::string& name, const std::string& base) {
  const std::string shape = "dddd-dd-dd_dd_dd";
  const std::string ext = ".otEventLog";
  if (name.compare(0, base.size(), base) != 0) return false;
  size_t p = base.size();
  for (char c : shape)
    if (p >= name.size() || (c == 'd' ? !isdigit((unsigned char)name[p++]) : name[p++] != c))
      return false;
  if (p < name.size() && name[p] == '_') {
    size_t digits = ++p;
    while (p < name.size() && isdigit((unsigned char)name[p]))
      p++;
    if (p == digits) return false;
  }
  return name.compare(p, std::string::npos, ext) == 0;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0, nl;
  while ((nl = text.find('\n', start)) != std::string::npos) {
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start) + "<no line feed>");
  return lines;
}

// Follows the ring with its own cursor until n events (not blank slots) were collected.
std::vector<std::string> collectEvents(otEventLogServer& server, int* cursor, size_t n) {
  std::vector<std::string> got;
  char buf[OT_EVENTLOG_SLOT_SIZE];
  auto deadline = Clock::now() + std::chrono::seconds(20);
  while (got.size() < n && Clock::now() < deadline) {
    if (server.getEvent(buf, cursor) == nullptr)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    else if (strcmp(buf, " ") != 0)
      got.push_back(buf);
  }
  return got;
}

TEST(EventLogRing, NothingBeforeTheFirstEvent) {
  otEventLogServer server;
  char buf[OT_EVENTLOG_SLOT_SIZE];
  strcpy(buf, "stale");
  int cursor = -1;
  EXPECT_EQ(server.getEvent(buf, &cursor), nullptr);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(cursor, -1);
  EXPECT_EQ(server.putEvent(nullptr), -1);
  EXPECT_EQ(server.getEvent(buf, &cursor), nullptr);
}

TEST(EventLogRing, LateReaderWalksOlderSlotsFirst) {
  char buf[OT_EVENTLOG_SLOT_SIZE];
  {
    otEventLogServer server;
    server.putEvent("a\n");
    server.putEvent("b\n");
    server.putEvent("c\n");
    int cursor = -1;
    for (int slot = 4; slot <= 127; slot++) {
      ASSERT_NE(server.getEvent(buf, &cursor), nullptr) << slot;
      ASSERT_STREQ(buf, " ") << slot;
    }
    for (const char* e : {"a", "b", "c"}) {
      ASSERT_NE(server.getEvent(buf, &cursor), nullptr);
      EXPECT_STREQ(buf, e);
    }
    EXPECT_EQ(server.getEvent(buf, &cursor), nullptr);
    EXPECT_STREQ(buf, "");
    server.putEvent("d\n");
    ASSERT_NE(server.getEvent(buf, &cursor), nullptr);
    EXPECT_STREQ(buf, "d");
  }
  // With a single event it sits in slot 0 and still comes at the end of the walk.
  otEventLogServer server;
  server.putEvent("only\n");
  int cursor = -1;
  int blanks = 0;
  while (server.getEvent(buf, &cursor) != nullptr && strcmp(buf, " ") == 0)
    blanks++;
  EXPECT_EQ(blanks, 126);
  EXPECT_STREQ(buf, "only");
}

TEST(EventLogRing, FollowingReaderGetsEveryEventAcrossTheWrap) {
  otEventLogServer server;
  char buf[OT_EVENTLOG_SLOT_SIZE];
  int cursor = -1;
  server.putEvent("e0\n");
  collectEvents(server, &cursor, 1);
  for (int i = 1; i < 300; i++) {
    std::string e = "e" + std::to_string(i);
    server.putEvent((e + "\n").c_str());
    ASSERT_NE(server.getEvent(buf, &cursor), nullptr) << i;
    ASSERT_EQ(e, buf);
    ASSERT_EQ(server.getEvent(buf, &cursor), nullptr) << i;
  }
}

TEST(EventLogFiles, RotationAfterMaxEventsPlusOneLosesNothing) {
  ottest::TempDir dir;
  {
    otEventLogServer server(dir.file("plant").c_str(), 2);
    for (int i = 1; i <= 7; i++)
      EXPECT_EQ(server.putEvent(("event " + std::to_string(i) + "\n").c_str()), 0);
  }
  // Rotations within one minute take "_2", "_3" instead of replacing the earlier file.
  std::vector<std::string> names = logFiles(dir);
  ASSERT_EQ(names.size(), 3u);
  std::string all;
  std::vector<size_t> counts;
  for (const std::string& name : names) {
    EXPECT_TRUE(isLogFileName(name, "plant")) << name;
    std::string text = ottest::readFile(dir.file(name));
    counts.push_back(splitLines(text).size());
    all += text;
  }
  EXPECT_EQ(counts, (std::vector<size_t>{3, 3, 1}));
  EXPECT_EQ(all, "event 1\nevent 2\nevent 3\nevent 4\nevent 5\nevent 6\nevent 7\n");

  // A base name in a directory that does not exist: the event still reaches the ring.
  otEventLogServer lost(dir.file("missing/plant").c_str());
  EXPECT_EQ(lost.putEvent("kept\n"), -2);
  int cursor = -1;
  EXPECT_EQ(collectEvents(lost, &cursor, 1), std::vector<std::string>{"kept"});
}

TEST(EventLogText, ControlCharactersBecomeBlanksByteForByte) {
  struct Row {
    std::string in, out;
  } rows[] = {
      {"plain text\tkept\n", "plain text\tkept\n"},
      {std::string("nul\0cr\r.", 8), "nul cr ."},
      {"\x1b[2J\x1b]0;title\x07", " [2J ]0;title "},
      {"del\x7f!", "del !"},
      {"\xc2\x9b"
       "31m \xc2\xa0 \xc3\xa4",
       "  31m \xc2\xa0 \xc3\xa4"},  // C1 CSI; NBSP, umlaut kept
      {"cut pair \xc2", "cut pair \xc2"},
  };
  for (const Row& r : rows) {
    std::string text = r.in;
    otEventLogBlankControls(&text[0], (int)text.size());
    EXPECT_EQ(text, r.out) << r.in;
  }
  // Plain text is passed over in words of eight bytes: a control anywhere in a long line,
  // also in the last bytes that make no whole word, is still found.
  const std::pair<std::string, std::string> marks[] = {{std::string(1, '\0'), " "},
                                                       {"\x1f", " "},
                                                       {"\x7f", " "},
                                                       {"\xc2\x9b", "  "},
                                                       {"\t", "\t"},
                                                       {"\n", "\n"},
                                                       {"~", "~"},
                                                       {"\xc3\xa4", "\xc3\xa4"}};
  for (const auto& mark : marks)
    for (size_t at = 0; at + mark.first.size() <= 37; at++) {
      std::string text(37, 'a'), want(37, 'a');
      text.replace(at, mark.first.size(), mark.first);
      want.replace(at, mark.second.size(), mark.second);
      otEventLogBlankControls(&text[0], (int)text.size());
      ASSERT_EQ(text, want) << "at " << at;
    }

  // putEvent: one call is one line, in the ring and in the file, whatever the sender sent.
  ottest::TempDir dir;
  {
    otEventLogServer server(dir.file("t").c_str());
    EXPECT_EQ(server.putEvent("forged\r2014-01-01 00:00:00 x INFO ok\x1b[0m\n"), 0);
    EXPECT_EQ(server.putEvent("inner\nline feed\n"), 0);
    EXPECT_EQ(server.putEvent("no line feed"), 0);
    EXPECT_EQ(server.putEvents("batch\r\nlast", 11), 0);
    EXPECT_EQ(server.putEvent("next"), 0);
    int cursor = -1;
    EXPECT_EQ(collectEvents(server, &cursor, 5),
              (std::vector<std::string>{"forged 2014-01-01 00:00:00 x INFO ok [0m",
                                        "inner line feed", "no line feed", "batch ", "last"}));
  }
  std::vector<std::string> names = logFiles(dir);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(ottest::readFile(dir.file(names[0])),
            "forged 2014-01-01 00:00:00 x INFO ok [0m\ninner line feed\nno line feed\nbatch \n"
            "last\nnext\n");
}

TEST(EventLogText, HandshakeLineCheck) {
  const std::string p = OT_EVENTLOG_AUTH_PREFIX;
  struct Row {
    std::string line;
    const char* secret;
    int want;
  } rows[] = {
      {p + "s3cret\n", "s3cret", 1},   {p + "s3cret\r\n", "s3cret", 1},
      {p + "s3cret", "s3cret", 1},  // last line of a stream
      {p + "s3creT\n", "s3cret", 0},   {p + "s3cre\n", "s3cret", 0},
      {p + "s3crett\n", "s3cret", 0},  {p + "anything\n", "", 0},
      {"auth s3cret\n", "s3cret", -1},  // without the SOH it is an event
      {"\001auth\n", "s3cret", -1},    {"", "s3cret", -1},
  };
  for (const Row& r : rows)
    EXPECT_EQ(otEventLogCheckAuth(r.line.data(), (int)r.line.size(), r.secret), r.want) << r.line;
}

// Every file within the bound, nothing lost but the cut tail of a line longer than the bound.
TEST(EventLogFiles, ByteBoundHoldsForAnyLineLength) {
  // The default lets the line count rotate as ever (2.5 MB) and takes the longest TCP line.
  EXPECT_EQ(otEventLogServer().getMaxBytes(), 10001LL * OT_EVENTLOG_SLOT_SIZE);
  EXPECT_EQ(otEventLogServer(nullptr, 2).getMaxBytes(), OT_EVENTLOG_LINE_MAX);
  EXPECT_EQ(otEventLogServer().setMaxBytes(OT_EVENTLOG_MIN_FILE_BYTES - 1), -1);
  ottest::TempDir dir;
  const long long kBound = 100;
  std::string l40(39, 'a'), l60(59, 'b'), l100(99, 'c'), l250(249, 'd');
  // 'ä' (2 bytes) across the cut: it goes whole.
  std::string utf = std::string(92, 'u') + "\xc3\xa4" + std::string(20, 'v');
  {
    otEventLogServer server(dir.file("b").c_str(), 1000);
    ASSERT_EQ(server.setMaxBytes(kBound), 0);
    for (const std::string& e : {l40, l60, l40, l100, l250, utf})
      EXPECT_EQ(server.putEvent(e.c_str()), 0);
    std::string batch = l60 + "\n" + l60 + "\n" + l250 + "\n";
    EXPECT_EQ(server.putEvents(batch.data(), (int)batch.size()), 0);
  }
  std::vector<std::string> names = logFiles(dir);
  std::vector<std::string> files;
  for (const std::string& name : names) {
    files.push_back(ottest::readFile(dir.file(name)));
    EXPECT_LE((long long)files.back().size(), kBound) << name;
  }
  std::string cut250 = std::string(93, 'd') + " [cut]\n";
  std::string cutUtf = std::string(92, 'u') + " [cut]\n";
  EXPECT_EQ(files, (std::vector<std::string>{l40 + "\n" + l60 + "\n", l40 + "\n", l100 + "\n",
                                             cut250, cutUtf, l60 + "\n", l60 + "\n", cut250}));
}

TEST(EventLogFiles, MaxFilesKeepsTheNewestAndNothingElse) {
  ottest::TempDir dir;
  // Left by an earlier run: older than anything written now.
  for (const char* old : {"p2000-01-01_00_00.otEventLog", "p2000-01-01_00_00_2.otEventLog"})
    ottest::writeFile(dir.file(old), "old\n");
  // Not log files of base "p": never counted, never deleted.
  const std::vector<std::string> others = {
      "p2000-01-01_00_00.otEventLog.bak", "px2000-01-01_00_00.otEventLog",
      "p2000-01-01_00_00_02.otEventLog",  "p2000-01-01_00_00_1.otEventLog",
      "p200-01-01_00_00.otEventLog",      "q2000-01-01_00_00.otEventLog"};
  for (const std::string& name : others)
    ottest::writeFile(dir.file(name), "other\n");
  ASSERT_EQ(mkdir(dir.file("p1999-01-01_00_00.otEventLog").c_str(), 0700), 0);

  {
    otEventLogServer server(dir.file("p").c_str(), 0);  // one line per file
    EXPECT_EQ(server.setMaxFiles(-1), -1);
    ASSERT_EQ(server.setMaxFiles(3), 0);
    // More than ten files within one minute: "_10" sorts after "_9".
    for (int i = 1; i <= 12; i++)
      EXPECT_EQ(server.putEvent(("event " + std::to_string(i) + "\n").c_str()), 0);
  }
  std::multiset<std::string> kept;
  int logs = 0;
  for (const std::string& name : logFiles(dir)) {
    if (std::count(others.begin(), others.end(), name) != 0 ||
        name == "p1999-01-01_00_00.otEventLog")
      continue;
    logs++;
    kept.insert(ottest::readFile(dir.file(name)));
  }
  EXPECT_EQ(logs, 3);
  EXPECT_EQ(kept, (std::multiset<std::string>{"event 10\n", "event 11\n", "event 12\n"}));
  for (const std::string& name : others)
    EXPECT_EQ(ottest::readFile(dir.file(name)), "other\n") << name;
  struct stat st;
  EXPECT_EQ(stat(dir.file("p1999-01-01_00_00.otEventLog").c_str(), &st), 0);

  // Unlimited by default: a restart with the default keeps everything.
  {
    otEventLogServer server(dir.file("p").c_str(), 0);
    for (int i = 0; i < 4; i++)
      server.putEvent("more\n");
  }
  logs = 0;
  for (const std::string& name : logFiles(dir))
    logs += ottest::readFile(dir.file(name)) == "more\n";
  EXPECT_EQ(logs, 4);
}

class EventLogTcp : public ::testing::Test {
 protected:
  void startServer(const std::string& base, int maxEvents) {
    server.reset(new otEventLogServer(base.c_str(), maxEvents));
    port = freePort();
    threads.reset(new otEventLogServerThreads(port, server.get()));
    ASSERT_EQ(threads->start(), 0);
  }
  void TearDown() override {
    threads.reset();
    server.reset();
  }
  ottest::TempDir dir;
  std::unique_ptr<otEventLogServer> server;
  std::unique_ptr<otEventLogServerThreads> threads;
  int port = -1;
};

TEST_F(EventLogTcp, ConcurrentSendersEveryEventExactlyOnce) {
  const int kSenders = 8, kLines = 200;
  startServer(dir.file("ev"), 99);
  // The reader starts at the first event, then follows; the senders stay less than half a
  // ring ahead of it, so no slot is overwritten before it was read.
  server->putEvent("start\n");
  int cursor = -1;
  ASSERT_EQ(collectEvents(*server, &cursor, 1), std::vector<std::string>{"start"});
  std::atomic<int> sent{0}, seen{0};
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; s++)
    senders.emplace_back([&, s] {
      int fd = connectSender(port);
      for (int i = 0; i < kLines && fd >= 0; i++) {
        while (sent.load() - seen.load() >= 56)
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        sent++;
        if (!sendText(fd, "sender " + std::to_string(s) + " line " + std::to_string(i) + "\n"))
          break;
      }
      if (fd >= 0) close(fd);
    });
  std::vector<std::string> ring;
  char buf[OT_EVENTLOG_SLOT_SIZE];
  auto deadline = Clock::now() + std::chrono::seconds(30);
  while (ring.size() < (size_t)(kSenders * kLines) && Clock::now() < deadline) {
    if (server->getEvent(buf, &cursor) == nullptr) {
      std::this_thread::yield();
      continue;
    }
    ring.push_back(buf);
    seen++;
  }
  for (auto& t : senders)
    t.join();
  threads->stop();

  std::set<std::string> expected;
  for (int s = 0; s < kSenders; s++)
    for (int i = 0; i < kLines; i++)
      expected.insert("sender " + std::to_string(s) + " line " + std::to_string(i));
  std::multiset<std::string> fromRing(ring.begin(), ring.end());
  EXPECT_EQ(fromRing, std::multiset<std::string>(expected.begin(), expected.end()));
  EXPECT_EQ(server->getEvent(buf, &cursor), nullptr);

  // 1601 lines at 100 per file, every one exactly once.
  std::multiset<std::string> fromFiles;
  std::vector<std::string> names = logFiles(dir);
  EXPECT_EQ(names.size(), 17u);
  for (const std::string& name : names)
    for (const std::string& line : splitLines(ottest::readFile(dir.file(name))))
      fromFiles.insert(line);
  expected.insert("start");
  EXPECT_EQ(fromFiles, std::multiset<std::string>(expected.begin(), expected.end()));
}

TEST_F(EventLogTcp, LongLinesAreOneEventCutOnlyInTheRing) {
  startServer(dir.file("ev"), 1000);
  std::string e254(254, 'm'), e300(300, 'x'), e5000(5000, 'y');
  e300[0] = 'A';
  int cursor = -1;
  server->putEvent("first\n");
  ASSERT_EQ(collectEvents(*server, &cursor, 1).size(), 1u);
  int fd = connectSender(port);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendText(fd, e254 + "\n" + e300 + "\n" + e5000 + "\nafter\nzero"));
  ASSERT_TRUE(sendText(fd, std::string("\0byte\nlast without line feed", 28)));
  close(fd);
  std::vector<std::string> ring = collectEvents(*server, &cursor, 6);
  threads->stop();

  ASSERT_EQ(ring.size(), 6u);
  EXPECT_EQ(ring[0], e254);
  EXPECT_EQ(ring[1], e300.substr(0, 255));
  EXPECT_EQ(ring[2], e5000.substr(0, 255));
  EXPECT_EQ(ring[3], "after");
  EXPECT_EQ(ring[4], "zero byte");
  EXPECT_EQ(ring[5], "last without line feed");

  std::vector<std::string> names = logFiles(dir);
  ASSERT_EQ(names.size(), 1u);
  std::vector<std::string> lines = splitLines(ottest::readFile(dir.file(names[0])));
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[1], e254);
  EXPECT_EQ(lines[2], e300);
  EXPECT_EQ(lines[3], std::string(OT_EVENTLOG_LINE_MAX - 1, 'y'));
  EXPECT_EQ(lines[4], "after");
  EXPECT_EQ(lines[5], "zero byte");
  EXPECT_EQ(lines[6], "last without line feed");
}

// A plant restart: every daemon connects at the same moment. With a shallow listen backlog
// the kernel drops the connects it cannot queue and the clients retry after 1, 3, 7, 15 and
// 31 s (the last of 500 came in after a minute); with the deep one all are served at once.
TEST_F(EventLogTcp, BurstOf500ConnectsIsServedWhole) {
  const int kClients = 500;
  // Both ends of every connection live in this process at the same time.
  struct rlimit rl;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &rl), 0);
  if (rl.rlim_cur < 2 * kClients + 200) {
    rl.rlim_cur = std::min<rlim_t>(rl.rlim_max, 4 * kClients);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &rl), 0);
  }
  startServer(dir.file("burst"), 100000);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sin.sin_port = htons((uint16_t)port);
  auto start = Clock::now();
  // Every connect is started before the first one is waited for.
  std::vector<pollfd> pending;
  for (int i = 0; i < kClients; i++) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    int rc = connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin));
    ASSERT_TRUE(rc == 0 || errno == EINPROGRESS) << strerror(errno);
    pending.push_back({fd, POLLOUT, 0});
  }
  std::vector<int> connected(kClients, -1);
  int failed = 0, done = 0;
  auto deadline = start + std::chrono::seconds(20);
  while (done + failed < kClients && Clock::now() < deadline) {
    ASSERT_GE(poll(pending.data(), pending.size(), 100), 0);
    for (size_t i = 0; i < pending.size(); i++) {
      if (pending[i].fd < 0 || pending[i].revents == 0) continue;
      int err = 0;
      socklen_t len = sizeof(err);
      getsockopt(pending[i].fd, SOL_SOCKET, SO_ERROR, &err, &len);
      if (err != 0) {
        failed++;
        close(pending[i].fd);
      } else {
        connected[i] = pending[i].fd;
        done++;
      }
      pending[i].fd = -1;  // poll skips it from now on
    }
  }
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(done, kClients) << "connects still pending after 20 s";
  // Every connected client sends its event, then all of them hang up.
  for (int i = 0; i < kClients; i++) {
    if (connected[(size_t)i] >= 0) {
      EXPECT_TRUE(sendText(connected[(size_t)i], "burst " + std::to_string(i) + "\n"));
    }
  }
  for (int fd : connected)
    if (fd >= 0) close(fd);
  for (pollfd& p : pending)
    if (p.fd >= 0) close(p.fd);
  // Every event reaches the log file.
  std::set<std::string> got;
  while (got.size() < (size_t)kClients && Clock::now() < deadline) {
    got.clear();
    for (const std::string& name : logFiles(dir))
      for (const std::string& l : splitLines(ottest::readFile(dir.file(name))))
        got.insert(l);
    if (got.size() < (size_t)kClients) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(got.size(), (size_t)kClients);
  for (int i = 0; i < kClients; i++)
    if (!got.count("burst " + std::to_string(i))) {
      ADD_FAILURE() << "burst " << i << " missing";
      break;
    }
  threads->stop();
}

TEST_F(EventLogTcp, EventClientRoundTrip) {
  startServer("", 0);
  std::string portOption = "-eventport=" + std::to_string(port);
  const char* av[] = {"daemon", "-eventhost=127.0.0.1", portOption.c_str()};
  ASSERT_EQ(otEventInit(3, av, "pump7"), 0);
  EXPECT_EQ(otEvent(otWarning, "pressure %d bar", 42), 0);
  int cursor = -1;
  std::vector<std::string> got = collectEvents(*server, &cursor, 1);
  otEventExit();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(got[0].find(" pump7 WARNING pressure 42 bar"), std::string::npos) << got[0];
}

TEST_F(EventLogTcp, StopWithIdleSendersEndsEveryThread) {
  // A sanitizer runtime starts a helper thread of its own with the first thread created;
  // that one must be there before counting.
  std::thread([] {}).join();
  int before = ottest::baselineThreadCount();
  EXPECT_EQ(otEventLogServerThreads(0, nullptr).start(), -1);
  startServer(dir.file("ev"), 10);
  EXPECT_EQ(threads->start(), -1);
  // A reader that joins while events stream in may miss some; this one follows from the start.
  int cursor = -1;
  server->putEvent("ready\n");
  ASSERT_EQ(collectEvents(*server, &cursor, 1).size(), 1u);
  std::vector<int> fds;
  for (int i = 0; i < 3; i++) {
    fds.push_back(connectSender(port));
    ASSERT_GE(fds.back(), 0);
    ASSERT_TRUE(sendText(fds.back(), "hello " + std::to_string(i) + "\n"));
  }
  ASSERT_EQ(collectEvents(*server, &cursor, 3).size(), 3u);
  EXPECT_EQ(ottest::threadCount(), before + 4);

  EXPECT_EQ(threads->stop(), 0);
  // Every sender sees its connection closed.
  for (int fd : fds) {
    char c;
    EXPECT_EQ(recv(fd, &c, 1, 0), 0);
    close(fd);
  }
  // The threads have left every object; the platform reclaims them a moment later.
  server.reset();
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (ottest::threadCount() != before && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(ottest::threadCount(), before);
  EXPECT_EQ(threads->stop(), 0);
}

// Waits until the server has closed fd: true when recv gives 0 (or a reset) in time.
bool closedByServer(int fd) {
  pollfd pfd = {fd, POLLIN, 0};
  char buf[64];
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (poll(&pfd, 1, 100) != 1) continue;
    ssize_t n = recv(fd, buf, sizeof(buf), 0);
    if (n <= 0) return true;
  }
  return false;
}

TEST_F(EventLogTcp, SecretRefusesConnectionsWithoutIt) {
  server.reset(new otEventLogServer(dir.file("s").c_str(), 1000));
  port = freePort();
  threads.reset(new otEventLogServerThreads(port, server.get()));
  EXPECT_EQ(threads->setSecret("with\nline feed"), -1);
  EXPECT_EQ(threads->setSecret(std::string(OT_EVENTLOG_SECRET_MAX + 1, 's').c_str()), -1);
  ASSERT_EQ(threads->setSecret("s3cret"), 0);
  ottest::CaptureStdout out;
  ASSERT_EQ(threads->start(), 0);
  EXPECT_EQ(threads->setSecret(nullptr), -1);  // not while running

  int cursor = -1;
  server->putEvent("start\n");
  ASSERT_EQ(collectEvents(*server, &cursor, 1).size(), 1u);
  int good = connectSender(port);
  ASSERT_TRUE(sendText(good, OT_EVENTLOG_AUTH_PREFIX "s3cret\ngood 1\n"));
  EXPECT_EQ(collectEvents(*server, &cursor, 1), std::vector<std::string>{"good 1"});

  for (const std::string& attempt :
       {std::string("bad 1\nbad 2\n"), std::string(OT_EVENTLOG_AUTH_PREFIX "wrong\nbad 3\n"),
        std::string(OT_EVENTLOG_AUTH_PREFIX "s3cre"), std::string(20000, 'x') + "\nbad 4\n"}) {
    int fd = connectSender(port);
    ASSERT_GE(fd, 0);
    sendText(fd, attempt);
    shutdown(fd, SHUT_WR);
    EXPECT_TRUE(closedByServer(fd)) << attempt.substr(0, 20);
    close(fd);
  }
  EXPECT_EQ(threads->refusedConnections(), 4);
  // A connection that closes before its first line is no refusal.
  int silent = connectSender(port);
  close(silent);

  // The client sends the handshake first; the authenticated connection still works.
  std::string portOption = "-eventport=" + std::to_string(port);
  const char* av[] = {"daemon", "-eventhost=127.0.0.1", portOption.c_str(), "-eventsecret=s3cret"};
  ASSERT_EQ(otEventInit(4, av, "pump7"), 0);
  EXPECT_EQ(otEvent(otInfo, "from client"), 0);
  ASSERT_TRUE(sendText(good, "good 2\n"));
  std::vector<std::string> got = collectEvents(*server, &cursor, 2);
  otEventExit();
  close(good);
  threads->stop();
  std::string said = out.text();

  ASSERT_EQ(got.size(), 2u);
  std::sort(got.begin(), got.end());
  EXPECT_NE(got[0].find(" pump7 INFO from client"), std::string::npos) << got[0];
  EXPECT_EQ(got[1], "good 2");
  EXPECT_EQ(threads->refusedConnections(), 4);
  // Said once, not once per refusal or per line.
  size_t first = said.find("refused");
  EXPECT_NE(first, std::string::npos) << said;
  EXPECT_EQ(said.find("refused", first + 1), std::string::npos) << said;
  // Nothing of the refused connections and no secret reached the file.
  std::string all;
  for (const std::string& name : logFiles(dir))
    all += ottest::readFile(dir.file(name));
  EXPECT_EQ(all.find("bad"), std::string::npos);
  EXPECT_EQ(all.find("s3cret"), std::string::npos);
  EXPECT_EQ(all.find("wrong"), std::string::npos);
}

TEST_F(EventLogTcp, HandshakeToServerWithoutSecretIsNotLogged) {
  startServer(dir.file("h"), 1000);
  int cursor = -1;
  server->putEvent("start\n");
  ASSERT_EQ(collectEvents(*server, &cursor, 1).size(), 1u);
  int fd = connectSender(port);
  ASSERT_TRUE(sendText(fd, OT_EVENTLOG_AUTH_PREFIX "early\nevent\n"));
  // Only a first line is a handshake; a later one is an event, its SOH blanked.
  int other = connectSender(port);
  ASSERT_TRUE(sendText(other, "first\n\001auth later\n"));
  std::vector<std::string> got = collectEvents(*server, &cursor, 3);
  close(fd);
  close(other);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{" auth later", "event", "first"}));
  EXPECT_EQ(threads->refusedConnections(), 0);
}

TEST_F(EventLogTcp, BindAddressLimitsWhereItListens) {
  server.reset(new otEventLogServer());
  port = freePort();
  threads.reset(new otEventLogServerThreads(port, server.get()));
  ASSERT_EQ(threads->setBindAddress("127.0.0.1"), 0);
  ASSERT_EQ(threads->start(), 0);
  EXPECT_EQ(threads->setBindAddress(nullptr), -1);
  int fd = connectSender(port);
  EXPECT_GE(fd, 0);
  if (fd >= 0) close(fd);
  // Another loopback address of this host: nobody listens there.
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(0x7f000002);
  sin.sin_port = htons((uint16_t)port);
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_NE(connect(probe, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)), 0);
  close(probe);
  threads->stop();

  // An address that is not this host's fails at once.
  ottest::CaptureStdout out;
  otEventLogServerThreads elsewhere(freePort(), server.get());
  ASSERT_EQ(elsewhere.setBindAddress("192.0.2.1"), 0);
  EXPECT_EQ(elsewhere.start(), -1);
}

}  // namespace
