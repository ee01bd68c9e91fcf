// Helpers shared by the display-server library's tests: a plain socket as the display client
// and a fixture that runs a server whose every connection calls the test's body.
#ifndef HXTESTUTIL_H
#define HXTESTUTIL_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hxserver.h"
#include "otlinereader.h"

namespace hxtest {

// Waits (generously) until cond holds; the result, so a test can assert it.
inline bool eventually(const std::function<bool()>& cond, int ms = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A TCP connection to port on the loopback address; -1 when it cannot be made.
inline int connectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons((uint16_t)port);
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The fake display client.
struct Client {
  explicit Client(int port) : fd(connectLoopback(port)) { in.reset(new otLineReader(fd)); }
  ~Client() {
    if (fd >= 0) close(fd);
  }
  void send(const std::string& s) const {
    ASSERT_EQ((ssize_t)s.size(), ::send(fd, s.data(), s.size(), MSG_NOSIGNAL));
  }
  // The next line with its '\n', "" on time-out or close.
  std::string line() {
    std::vector<char> buf(20000);
    int n = in->readLine(buf.data(), (int)buf.size(), 10000);
    return n > 0 ? std::string(buf.data(), (size_t)n) : std::string();
  }
  std::string bytes(int n) {
    std::string s((size_t)n, '\0');
    return in->readBlock(&s[0], n, 10000) == n ? s : std::string();
  }
  bool closedByPeer() {
    char c;
    return in->readBlock(&c, 1, 10000) == -1;
  }
  int fd;
  std::unique_ptr<otLineReader> in;
};

// A server whose every connection runs body; the test's client talks to it.
class HxServerTest : public ::testing::Test {
 protected:
  void start(std::function<int(PARAM_*)> b, int maxClients = 100, int pollMs = 50) {
    body = std::move(b);
    hxServerOptions o;
    o.bindAddress = "127.0.0.1";
    o.port = 0;
    o.maxClients = maxClients;
    o.pollMs = pollMs;
    server = hxServerStart(&o, run, this);
    ASSERT_NE(nullptr, server);
  }
  void TearDown() override { hxServerStop(server); }
  static int run(PARAM_* p) {
    HxServerTest* t = static_cast<HxServerTest*>(p->user);
    int r = t->body(p);
    t->finished++;
    return r;
  }
  int port() const { return hxServerPort(server); }

  hxServer* server = nullptr;
  std::function<int(PARAM_*)> body;
  std::atomic<int> finished{0};
};

}  // namespace hxtest

#endif
