// A display server played by the test: listens on loopback, accepts one client at a time,
// sends lines and reads the client's event lines with time limits, holding each to the event
// table that the server parses them with.
#ifndef OTCLIENT_FAKESERVER_H
#define OTCLIENT_FAKESERVER_H

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <string>
#include <vector>

#include "oteventtable.h"
#include "otinterpreter.h"

class FakeServer {
 public:
  FakeServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(sin);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0 &&
        listen(listener_, 16) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
      port_ = ntohs(sin.sin_port);
  }
  ~FakeServer() {
    dropClient();
    for (int fd : earlier_)
      close(fd);
    if (listener_ >= 0) close(listener_);
  }
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  int port() const { return port_; }
  // Waits for a client while the Qt event loop runs (the client connects from it).
  bool accept(int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 0) > 0) {
        // A connection before it stays open (a test may want it to hang) until the end.
        if (client_ >= 0) earlier_.push_back(client_);
        client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        pending_.clear();
        return client_ >= 0;
      }
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      usleep(1000);
    }
    return false;
  }
  // Sends all of data; the Qt event loop runs while the socket is full, so that a client in
  // this process can read.
  bool send(const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
      ssize_t n =
          ::send(client_, data.data() + off, data.size() - off, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        off += (size_t)n;
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
  }
  // Sends all of data from a thread other than the client's: waits while the socket is full.
  bool sendFromThread(const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
      ssize_t n = ::send(client_, data.data() + off, data.size() - off, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      off += (size_t)n;
    }
    return true;
  }
  // The next line from the client (without its line feed), "" on time-out or close; the Qt
  // event loop runs meanwhile.
  std::string readLine(int ms = 5000) {
    QElapsedTimer t;
    t.start();
    for (;;) {
      size_t nl = pending_.find('\n');
      if (nl != std::string::npos) {
        std::string line = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        holdToEventTable(line);
        return line;
      }
      if (t.elapsed() > ms) return "";
      pollfd p{client_, POLLIN, 0};
      if (poll(&p, 1, 0) > 0) {
        char buf[4096];
        ssize_t n = recv(client_, buf, sizeof(buf), 0);
        if (n <= 0) return "";
        pending_.append(buf, (size_t)n);
        continue;
      }
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      usleep(500);
    }
  }
  // Sends sync(n) and waits for the client's synced(n): everything sent before has been
  // carried out. Event lines read on the way are kept in events.
  bool sync(int n, std::string* events = nullptr) {
    if (!send("sync(" + std::to_string(n) + ")\n")) return false;
    std::string want = "synced(" + std::to_string(n) + ")";
    for (;;) {
      std::string line = readLine();
      if (line.empty()) return false;
      if (line == want) return true;
      if (events) *events += line + "\n";
    }
  }
  void dropClient() {
    if (client_ >= 0) close(client_);
    client_ = -1;
  }

 private:
  // An event line of the client reads as the server's parser takes it: one table for both.
  static void holdToEventTable(const std::string& line) {
    otCallLine call;
    if (call.parse(line.c_str(), (int)line.size()) < 0) return;
    const otEventInfo* e = otEventNamed(call.name);
    if (e != nullptr && call.matches(e->signature) != 1)
      ADD_FAILURE() << "the client sent \"" << line << "\", the event table has " << e->name
                    << " with \"" << e->signature << "\"";
  }

  int listener_ = -1;
  int client_ = -1;
  int port_ = -1;
  std::string pending_;
  std::vector<int> earlier_;
};

#endif
