// getInt round trips to the data provider on loopback against GET of a small integer on a
// Redis server started for the run (Debian's redis-server, no persistence, a temporary
// directory), each with one request in flight per connection: first on one connection, then
// the aggregate of 50 client threads with a connection each. In both parts the two sides take
// turns (ours, Redis, ours, Redis, ...) in rounds, so that scheduling noise and the load of
// other processes hit both alike, and each side's rate is the median of its rounds. Beside them
// runs a floor: a server that does nothing but answer each request line
// with the same reply (epoll threads as many as ours, one read and one send per wake-up) and
// clients that send the same bytes with one blocking receive each: the floor of a server and a
// client that sleep while they wait. Ours does not sleep while the answers come within
// microseconds (otSpinWait), so on one connection it is not bound by that floor.
// Usage: bench_dataprovider [round trips per side and part]. The last line is the ratio with 50
// connections, the line before it the ratio on one connection.
#include <arpa/inet.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "benchrounds.h"
#include "otacceptloop.h"
#include "otdataprovider.h"

#include "testutil.h"

namespace {

const int kValue = 42;
const int kThreads = 50;

using ottest::freePort;

// A loopback connection to port with TCP_NODELAY (a request waits for nothing), or -1.
int connectLoopback(int port) {
  for (int attempt = 0; attempt < 250; attempt++) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sin.sin_port = htons((uint16_t)port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0) {
      int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
      return fd;
    }
    close(fd);
    usleep(20000);
  }
  return -1;
}

// A minimal RESP client: one command out, one whole reply in, nothing pipelined.
class RespClient {
 public:
  explicit RespClient(int fd) : fd_(fd) {}
  ~RespClient() {
    if (fd_ >= 0) close(fd_);
  }
  RespClient(const RespClient&) = delete;
  RespClient& operator=(const RespClient&) = delete;
  bool ok() const { return fd_ >= 0; }

  bool set(const char* key, int value) {
    char cmd[128], num[16];
    int n = snprintf(num, sizeof(num), "%d", value);
    int len = snprintf(cmd, sizeof(cmd), "*3\r\n$3\r\nSET\r\n$%zu\r\n%s\r\n$%d\r\n%s\r\n",
                       strlen(key), key, n, num);
    if (!sendAll(cmd, len)) return false;
    std::string line;
    return readLine(&line) && line == "+OK";
  }
  // GET of a key that holds an integer; false on any error.
  bool get(const char* request, int len, int* value) {
    if (!sendAll(request, len)) return false;
    std::string line;
    if (!readLine(&line) || line.size() < 2 || line[0] != '$') return false;
    int bytes = atoi(line.c_str() + 1);
    if (bytes < 0 || !readLine(&line) || (int)line.size() != bytes) return false;
    *value = atoi(line.c_str());
    return true;
  }

 private:
  bool sendAll(const char* p, int len) {
    while (len > 0) {
      ssize_t n = send(fd_, p, (size_t)len, MSG_NOSIGNAL);
      if (n <= 0) return false;
      p += n;
      len -= (int)n;
    }
    return true;
  }
  // One line without its CR LF, buffering what comes behind it.
  bool readLine(std::string* line) {
    for (;;) {
      for (int i = start_; i + 1 < end_; i++) {
        if (buf_[i] == '\r' && buf_[i + 1] == '\n') {
          line->assign(buf_ + start_, (size_t)(i - start_));
          start_ = i + 2;
          return true;
        }
      }
      if (start_ > 0) {
        memmove(buf_, buf_ + start_, (size_t)(end_ - start_));
        end_ -= start_;
        start_ = 0;
      }
      if (end_ == (int)sizeof(buf_)) return false;
      ssize_t n = recv(fd_, buf_ + end_, sizeof(buf_) - (size_t)end_, 0);
      if (n <= 0) return false;
      end_ += (int)n;
    }
  }

  int fd_;
  char buf_[4096];
  int start_ = 0, end_ = 0;
};

const char kGet[] = "*2\r\n$3\r\nGET\r\n$1\r\nk\r\n";

// redis-server on a free loopback port in a temporary directory, stopped and removed at the end.
class RedisServer {
 public:
  RedisServer() {
    char tmpl[] = "/tmp/bench-redis-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    dir_ = tmpl;
    port_ = freePort();
    std::string portText = std::to_string(port_);
    pid_ = fork();
    if (pid_ == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl("/usr/bin/redis-server", "redis-server", "--save", "", "--appendonly", "no", "--port",
            portText.c_str(), "--bind", "127.0.0.1", "--dir", dir_.c_str(), (char*)nullptr);
      _exit(127);
    }
  }
  ~RedisServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty())
      nftw(
          dir_.c_str(),
          [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 8,
          FTW_DEPTH | FTW_PHYS);
  }
  RedisServer(const RedisServer&) = delete;
  RedisServer& operator=(const RedisServer&) = delete;
  int port() const { return pid_ > 0 ? port_ : -1; }

 private:
  std::string dir_;
  int port_ = -1;
  pid_t pid_ = -1;
};

double seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double oursBatch(otDataProviderClient& client, otSocket& s, int trips) {
  auto start = std::chrono::steady_clock::now();
  int status = -1;
  for (int i = 0; i < trips; i++)
    if (client.getInt(&s, 1, &status) != kValue || status != 0) std::exit(2);
  return seconds(start);
}

double redisBatch(RespClient& client, int trips) {
  auto start = std::chrono::steady_clock::now();
  int value = 0;
  for (int i = 0; i < trips; i++)
    if (!client.get(kGet, (int)sizeof(kGet) - 1, &value) || value != kValue) std::exit(3);
  return seconds(start);
}

// kThreads threads with a connection each: after a warm-up of 100 round trips all of them start
// at once and make trips each; round trips per second of them all. batch(i, n) makes n round
// trips on connection i.
template <typename Batch>
double aggregate(int trips, Batch batch) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; i++) {
    threads.emplace_back([&, i] {
      batch(i, 100);
      ready++;
      while (!go)
        std::this_thread::yield();
      batch(i, trips);
    });
  }
  while (ready < kThreads)
    std::this_thread::yield();
  auto start = std::chrono::steady_clock::now();
  go = true;
  for (auto& t : threads)
    t.join();
  return (double)kThreads * trips / seconds(start);
}

double oursAggregate(int port, int trips) {
  std::vector<std::unique_ptr<otSocket>> sockets;
  std::vector<std::unique_ptr<otDataProviderClient>> clients;
  for (int i = 0; i < kThreads; i++) {
    sockets.emplace_back(new otSocket("127.0.0.1", port, 1));
    clients.emplace_back(new otDataProviderClient);
    if (sockets.back()->connect() < 0) std::exit(4);
  }
  return aggregate(trips, [&](int i, int n) { oursBatch(*clients[i], *sockets[i], n); });
}

double redisAggregate(int port, int trips) {
  std::vector<std::unique_ptr<RespClient>> clients;
  for (int i = 0; i < kThreads; i++) {
    clients.emplace_back(new RespClient(connectLoopback(port)));
    if (!clients.back()->ok()) std::exit(5);
  }
  return aggregate(trips, [&](int i, int n) { redisBatch(*clients[i], n); });
}

const char kRequest[] = "getInt(1)\n";
const char kReply[] = "intResult(42)\n";

// The floor server: epoll threads behind the library's accept loop, each connection read as it
// comes and answered with one send of a reply per line feed. A connection's own thread only
// waits for its end; the loop closes it then.
class FloorServer {
 public:
  FloorServer() {
    wake_ = eventfd(0, EFD_CLOEXEC);
    unsigned cores = std::thread::hardware_concurrency();
    int count = cores < 1 ? 1 : cores > 4 ? 4 : (int)cores;
    for (int i = 0; i < count; i++) {
      int ep = epoll_create1(EPOLL_CLOEXEC);
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.fd = wake_;
      epoll_ctl(ep, EPOLL_CTL_ADD, wake_, &ev);
      epolls_.push_back(ep);
      threads_.emplace_back([this, ep] { serve(ep); });
    }
    otAcceptConfig config;
    config.bindAddress = "127.0.0.1";
    if (loop_.start(config, &FloorServer::connection, this) == 0) port_ = loop_.port();
  }
  ~FloorServer() {
    loop_.stop();
    uint64_t one = 1;
    if (write(wake_, &one, sizeof(one)) != sizeof(one)) std::exit(6);
    for (auto& t : threads_)
      t.join();
    for (int ep : epolls_)
      close(ep);
    close(wake_);
  }
  FloorServer(const FloorServer&) = delete;
  FloorServer& operator=(const FloorServer&) = delete;
  int port() const { return port_; }

 private:
  static void connection(int fd, void* user) {
    FloorServer* self = static_cast<FloorServer*>(user);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    const int ep = self->epolls_[self->next_++ % self->epolls_.size()];
    epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
    pollfd end{fd, POLLRDHUP, 0};
    while (poll(&end, 1, -1) < 0 && errno == EINTR) {
    }
    epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
  }
  void serve(int ep) {
    epoll_event events[64];
    char buf[4096], out[sizeof(buf) * (sizeof(kReply) - 1)];
    for (;;) {
      int n = epoll_wait(ep, events, 64, -1);
      for (int i = 0; i < n; i++) {
        int fd = events[i].data.fd;
        if (fd == wake_) return;
        ssize_t got = recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
          epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);  // its thread sees the end too
          continue;
        }
        if (got < 0) continue;
        size_t len = 0;
        for (ssize_t k = 0; k < got; k++)
          if (buf[k] == '\n') {
            memcpy(out + len, kReply, sizeof(kReply) - 1);
            len += sizeof(kReply) - 1;
          }
        if (len > 0 && send(fd, out, len, MSG_NOSIGNAL) != (ssize_t)len) std::exit(7);
      }
    }
  }

  otAcceptLoop loop_;
  int wake_ = -1, port_ = -1;
  std::atomic<unsigned> next_{0};
  std::vector<int> epolls_;
  std::vector<std::thread> threads_;
};

// One floor round trip: the request out, the reply in with one blocking receive.
void floorTrip(int fd) {
  char buf[64];
  if (send(fd, kRequest, sizeof(kRequest) - 1, MSG_NOSIGNAL) != (ssize_t)sizeof(kRequest) - 1)
    std::exit(8);
  size_t got = 0;
  while (got < sizeof(kReply) - 1) {
    ssize_t n = recv(fd, buf + got, sizeof(buf) - got, 0);
    if (n <= 0) std::exit(9);
    got += (size_t)n;
  }
}

double floorBatch(int fd, int trips) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < trips; i++)
    floorTrip(fd);
  return seconds(start);
}

double floorAggregate(int port, int trips) {
  std::vector<int> fds;
  for (int i = 0; i < kThreads; i++) {
    fds.push_back(connectLoopback(port));
    if (fds.back() < 0) std::exit(10);
  }
  double rate = aggregate(trips, [&](int i, int n) { floorBatch(fds[i], n); });
  for (int fd : fds)
    close(fd);
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  int trips = argc > 1 ? std::atoi(argv[1]) : 50000;
  if (trips < 1000) trips = 1000;

  RedisServer redis;
  if (redis.port() < 0) {
    std::fprintf(stderr, "cannot start /usr/bin/redis-server\n");
    return 1;
  }
  RespClient rc(connectLoopback(redis.port()));
  if (!rc.ok() || !rc.set("k", kValue)) {
    std::fprintf(stderr, "redis-server does not answer\n");
    return 1;
  }

  otDataProvider provider(10, 0, 0);
  provider.setInt(1, kValue);
  int port = freePort();
  otDataProviderThreads threads(port, &provider);
  if (threads.start() != 0) return 1;
  otSocket sock("127.0.0.1", port, 1);
  for (int i = 0; i < 250 && sock.connect() < 0; i++)
    otsleep(20);
  if (!sock.isConnected()) return 1;
  otDataProviderClient client;
  FloorServer floorServer;
  int floorFd = connectLoopback(floorServer.port());
  if (floorServer.port() < 0 || floorFd < 0) return 1;

  oursBatch(client, sock, 2000);  // warm-up
  redisBatch(rc, 2000);
  floorBatch(floorFd, 2000);
  // One connection: the round trips of the part shared out among the rounds.
  const int batch = trips / otBenchRounds;
  otBenchSide ours("data provider getInt, one connection", "round trips/s");
  otBenchSide ref("redis GET, one connection", "round trips/s");
  otBenchSide floor("floor: same bytes, bare epoll server, one connection", "round trips/s");
  otBenchInterleave(
      ours, [&] { return batch / oursBatch(client, sock, batch); }, ref,
      [&] { return batch / redisBatch(rc, batch); }, floor,
      [&] { return batch / floorBatch(floorFd, batch); });
  close(floorFd);

  // 50 connections: rounds of the same shape, each side's connections and threads made anew.
  int perThread = trips / kThreads * 5 / otBenchRounds;
  if (perThread < 200) perThread = 200;
  char name[80];
  snprintf(name, sizeof name, "data provider getInt, %d connections", kThreads);
  otBenchSide oursAll(name, "round trips/s");
  snprintf(name, sizeof name, "redis GET, %d connections", kThreads);
  otBenchSide redisAll(name, "round trips/s");
  snprintf(name, sizeof name, "floor: same bytes, bare epoll server, %d connections", kThreads);
  otBenchSide floorAll(name, "round trips/s");
  otBenchInterleave(
      oursAll, [&] { return oursAggregate(port, perThread); }, redisAll,
      [&] { return redisAggregate(redis.port(), perThread); }, floorAll,
      [&] { return floorAggregate(floorServer.port(), perThread); });
  threads.stop();

  ours.print();
  ref.print();
  floor.print();
  otBenchShares("ours", ours, "redis", ref, "floor", floor);
  oursAll.print();
  redisAll.print();
  floorAll.print();
  otBenchShares("ours", oursAll, "redis", redisAll, "floor", floorAll);
  otBenchRatio("ratio dataprovider/redis (one connection)", ours, ref, {&ours, &ref, &floor});
  snprintf(name, sizeof name, "ratio dataprovider/redis (%d connections)", kThreads);
  otBenchRatio(name, oursAll, redisAll, {&oursAll, &redisAll, &floorAll});
  return 0;
}
