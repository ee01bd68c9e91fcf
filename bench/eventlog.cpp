// Events per second taken by the event log server from 8 concurrent senders over loopback,
// with file logging into a temporary directory, against a plain TCP sink in this process
// that only counts line feeds. The same sender threads send the same lines, one send() per
// event as a daemon does, to both. A round ends when every sender has seen its connection
// closed by the receiving side, i.e. when the receiver has taken every line it was sent.
// Losses: lines in the log files (resp. line feeds counted) against lines sent.
// Usage: bench_eventlog [events per sender and round]. The last line is the ratio.
#include <arpa/inet.h>
#include <dirent.h>
#include <ftw.h>
#include <netinet/in.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "benchrounds.h"
#include "oteventlogserver.h"

#include "testutil.h"

namespace {

const int kSenders = 8;

std::string eventLine(int sender, int i) {
  char buf[128];
  snprintf(buf, sizeof(buf),
           "2014-03-07 08:05:09 bench%d INFO event %07d: pump 3 pressure within limits\n", sender,
           i);
  return buf;
}

int connectTo(int port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sin.sin_port = htons((uint16_t)port);
  for (int attempt = 0; attempt < 1000; attempt++) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0) return fd;
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

// One round: every sender connects, then all send their lines at once; the time runs until
// the last sender sees the receiver close its connection. Returns the seconds, or -1.
double runSenders(int port, int lines) {
  std::vector<std::string> text[kSenders];
  for (int s = 0; s < kSenders; s++)
    for (int i = 0; i < lines; i++)
      text[s].push_back(eventLine(s, i));
  std::atomic<int> ready{0};
  std::atomic<bool> go{false}, failed{false};
  std::vector<std::thread> threads;
  for (int s = 0; s < kSenders; s++)
    threads.emplace_back([&, s] {
      int fd = connectTo(port);
      ready++;
      while (!go.load())
        std::this_thread::yield();
      if (fd < 0) {
        failed = true;
        return;
      }
      for (const std::string& line : text[s])
        if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != (ssize_t)line.size()) {
          failed = true;
          break;
        }
      shutdown(fd, SHUT_WR);
      char c;
      while (recv(fd, &c, 1, 0) > 0) {
      }
      close(fd);
    });
  while (ready.load() < kSenders)
    std::this_thread::yield();
  auto start = std::chrono::steady_clock::now();
  go = true;
  for (auto& t : threads)
    t.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return failed ? -1 : seconds;
}

// The reference receiver: one thread per connection, counting line feeds in large reads.
class Sink {
 public:
  Sink() {
    lfd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(sin);
    if (bind(lfd_, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0 && listen(lfd_, 16) == 0)
      getsockname(lfd_, reinterpret_cast<sockaddr*>(&sin), &len);
    port_ = ntohs(sin.sin_port);
    acceptor_ = std::thread([this] {
      int fd;
      while ((fd = accept(lfd_, nullptr, nullptr)) >= 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.emplace_back([this, fd] { count(fd); });
      }
    });
  }
  ~Sink() {
    shutdown(lfd_, SHUT_RDWR);
    acceptor_.join();
    close(lfd_);
    for (auto& t : connections_)
      t.join();
  }
  int port() const { return port_; }
  long long lines() const { return lines_.load(); }

 private:
  void count(int fd) {
    char buf[65536];
    long long n = 0;
    ssize_t got;
    while ((got = recv(fd, buf, sizeof(buf), 0)) > 0)
      for (const char* p = buf;
           (p = static_cast<const char*>(memchr(p, '\n', (size_t)(buf + got - p)))); p++)
        n++;
    lines_ += n;
    close(fd);
  }

  int lfd_ = -1, port_ = 0;
  std::atomic<long long> lines_{0};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> connections_;
};

using ottest::freePort;

long long countFileLines(const std::string& dir, int* files) {
  long long n = 0;
  *files = 0;
  DIR* d = opendir(dir.c_str());
  while (d != nullptr) {
    struct dirent* e = readdir(d);
    if (e == nullptr) break;
    if (strstr(e->d_name, ".otEventLog") == nullptr) continue;
    (*files)++;
    FILE* f = fopen((dir + "/" + e->d_name).c_str(), "r");
    if (f == nullptr) continue;
    char buf[65536];
    size_t got;
    while ((got = fread(buf, 1, sizeof(buf), f)) > 0)
      for (size_t i = 0; i < got; i++)
        if (buf[i] == '\n') n++;
    fclose(f);
  }
  if (d != nullptr) closedir(d);
  return n;
}

void removeTree(const std::string& dir) {
  nftw(
      dir.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); },
      16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

int main(int argc, char** argv) {
  // Rounds of about a tenth of a second each: shorter ones are moved by a single pause of the
  // machine.
  int lines = argc > 1 ? std::atoi(argv[1]) : 80000;
  if (lines < 1) lines = 1;
  const char* tmp = getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/otkit-bench-eventlog-XXXXXX";
  if (mkdtemp(&tmpl[0]) == nullptr) return 1;
  const std::string dir = tmpl;

  long long oursSent = 0, sinkSent = 0, fileLines = 0;
  otBenchSide oursSide("event log server, 8 senders, file logging", "events/s");
  otBenchSide refSide("plain TCP sink, 8 senders, counts lines", "lines/s");
  int files = 0;
  bool failed = false;
  Sink sink;
  {
    otEventLogServer server((dir + "/plant").c_str());
    otEventLogServerThreads threads(freePort(), &server);
    if (threads.start() != 0) {
      removeTree(dir);
      return 1;
    }
    // Warm-up, then rounds of ours and the sink in turn.
    int warm = lines / 4 > 0 ? lines / 4 : 1;
    failed |= runSenders(threads.getPort(), warm) < 0;
    failed |= runSenders(sink.port(), warm) < 0;
    oursSent += (long long)kSenders * warm;
    sinkSent += (long long)kSenders * warm;
    const double events = (double)kSenders * lines;
    for (int round = 0; round < otBenchRounds && !failed; round++) {
      const double a = runSenders(threads.getPort(), lines);
      const double b = runSenders(sink.port(), lines);
      failed |= a < 0 || b < 0;
      if (a > 0) oursSide.add(events / a);
      if (b > 0) refSide.add(events / b);
      oursSent += (long long)kSenders * lines;
      sinkSent += (long long)kSenders * lines;
    }
    threads.stop();
    fileLines = countFileLines(dir, &files);
  }
  removeTree(dir);
  if (failed) {
    printf("a sender failed to connect or send\n");
    return 1;
  }
  long long sinkLines = sink.lines();
  oursSide.print();
  refSide.print();
  printf("event log server: lost %lld of %lld (%lld lines in %d files)\n", oursSent - fileLines,
         oursSent, fileLines, files);
  printf("plain TCP sink: lost %lld of %lld\n", sinkSent - sinkLines, sinkSent);
  otBenchRatio("ratio eventlog/sink", oursSide, refSide, {&oursSide, &refSide});
  return oursSent == fileLines && sinkSent == sinkLines ? 0 : 1;
}
