#include "otacceptloop.h"
#include "otlog.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "otpoll.h"

namespace {

// Opens a listening socket on addr. The descriptor, or -1 with errno set.
int listenOn(const struct sockaddr* addr, socklen_t len, int backlog) {
  int fd = ::socket(addr->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  if (addr->sa_family == AF_INET6) {
    // "::" serves IPv4 clients too, whatever the system's default is.
    int off = 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof(off));
  }
  if (::bind(fd, addr, len) != 0 || ::listen(fd, backlog) != 0) {
    int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

// Binds host (null or "": every IPv4 address) and port: the first address of host that can be
// bound. The listening descriptor, or -1 with errno set (EADDRINUSE when the port is taken);
// *resolveError receives a getaddrinfo failure text.
int bindAddress(const std::string& host, int port, int backlog, std::string* resolveError) {
  if (host.empty()) {
    struct sockaddr_in sin;
    memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    sin.sin_port = htons((uint16_t)port);
    return listenOn(reinterpret_cast<struct sockaddr*>(&sin), sizeof(sin), backlog);
  }
  struct addrinfo hints;
  memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  struct addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) {
    *resolveError = gai_strerror(rc);
    errno = EADDRNOTAVAIL;
    return -1;
  }
  int fd = -1;
  int err = EADDRNOTAVAIL;
  for (struct addrinfo* ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) {
    fd = listenOn(ai->ai_addr, ai->ai_addrlen, backlog);
    // A taken port is what the caller may wait for; keep that reason over later ones.
    if (fd < 0 && err != EADDRINUSE) err = errno;
  }
  freeaddrinfo(list);
  if (fd < 0) errno = err;
  return fd;
}

int boundPort(int fd) {
  struct sockaddr_storage ss;
  socklen_t len = sizeof(ss);
  if (getsockname(fd, reinterpret_cast<struct sockaddr*>(&ss), &len) != 0) return 0;
  if (ss.ss_family == AF_INET) return ntohs(reinterpret_cast<struct sockaddr_in*>(&ss)->sin_port);
  if (ss.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<struct sockaddr_in6*>(&ss)->sin6_port);
  return 0;
}

}  // namespace

struct otAcceptLoop::Impl {
  struct Connection {
    int fd = -1;        // closed (and -1) once the handler has returned; guarded by mutex
    bool done = false;  // guarded by mutex
    std::thread thread;
  };

  // Fixed while the loop runs (set by start before the accept thread exists).
  std::string host;
  int backlog = SOMAXCONN;
  int maxClients = 0;
  bool refuseWithText = false;
  std::string refusal;
  int bindRetryMs = 0;
  Handler handler = nullptr;
  void* user = nullptr;

  std::atomic<int> port{0};
  std::atomic<int> idleTimeoutMs{0};
  std::atomic<int> active{0};
  std::atomic<long long> accepted{0};
  std::atomic<long long> refused{0};
  std::atomic<bool> stopping{false};

  std::mutex startStop;  // one start() or stop() at a time; guards running, listenFd, wakeFd
  bool running = false;
  int listenFd = -1;  // owned by the accept thread while it runs
  int wakeFd = -1;    // eventfd: stop() and ending handlers wake the accept thread

  std::mutex mutex;  // connections and their fd and done fields
  std::list<Connection> connections;
  std::thread acceptThread;

  void wake() {
    uint64_t one = 1;
    ssize_t n;
    do {
      n = ::write(wakeFd, &one, sizeof(one));
    } while (n < 0 && errno == EINTR);
  }

  // Joins the threads of the connections whose handlers have returned; with mutex held.
  void reapLocked() {
    for (auto it = connections.begin(); it != connections.end();) {
      if (it->done) {
        // The thread only leaves its function now; the join waits for that.
        it->thread.join();
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
  }

  void serve(Connection* c, int fd) {
    handler(fd, user);
    {
      std::lock_guard<std::mutex> lk(mutex);
      // Shut down as well as closed: the peer sees the end even if the handler kept a duplicate.
      ::shutdown(fd, SHUT_RDWR);
      ::close(fd);
      c->fd = -1;
      c->done = true;
      active--;
    }
    wake();
  }

  void refuse(int fd) {
    refused++;
    if (refuseWithText) {
      ssize_t n;
      do {
        n = ::send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      } while (n < 0 && errno == EINTR);
    }
    ::shutdown(fd, SHUT_WR);
    // What the peer sent already is read away, so that the close does not reset the
    // connection and throw away the refusal before the peer has read it.
    char junk[512];
    for (int i = 0; i < 16 && ::recv(fd, junk, sizeof(junk), MSG_DONTWAIT) > 0; i++) {
    }
    ::close(fd);
  }

  void take(int fd) {
    std::lock_guard<std::mutex> lk(mutex);
    reapLocked();
    if (stopping.load()) {
      ::close(fd);
      return;
    }
    if (maxClients > 0 && active.load() >= maxClients) {
      refuse(fd);
      return;
    }
    accepted++;
    connections.emplace_back();
    Connection* c = &connections.back();
    c->fd = fd;
    active++;
    try {
      c->thread = std::thread(&Impl::serve, this, c, fd);
    } catch (const std::system_error&) {
      active--;
      otLog(OT_LOG_ERROR, "otAcceptLoop: no thread for a connection on port %d, closed\n",
            port.load());
      fflush(stdout);
      ::close(fd);
      connections.pop_back();
    }
  }

  // Waits for the wake descriptor up to ms; true when stop() was called.
  bool pause(int ms) {
    struct pollfd p = {wakeFd, POLLIN, 0};
    otPollUntil(&p, 1, otDeadlineIn(ms));
    drainWake();
    return stopping.load();
  }

  void drainWake() {
    uint64_t count;
    while (::read(wakeFd, &count, sizeof(count)) > 0) {
    }
  }

  void acceptMain() {
    while (listenFd < 0) {
      if (pause(bindRetryMs)) return;
      std::string resolveError;
      listenFd = bindAddress(host, port.load(), backlog, &resolveError);
      if (listenFd < 0 && errno != EADDRINUSE) {
        otLog(OT_LOG_ERROR, "otAcceptLoop: cannot listen on port %d: %s\n", port.load(),
              strerror(errno));
        fflush(stdout);
        return;
      }
    }
    for (;;) {
      struct pollfd p[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
      if (otPollUntil(p, 2, OT_NO_DEADLINE) < 0) {
        if (pause(100)) return;
        continue;
      }
      // Drained before the flag is looked at: a wake of stop() after the look stays pending.
      if (p[1].revents != 0) drainWake();
      if (stopping.load()) return;
      if (p[1].revents != 0) {
        std::lock_guard<std::mutex> lk(mutex);
        reapLocked();
      }
      if (p[0].revents == 0) continue;
      // The whole queue at once: a burst of clients is taken in one go.
      for (;;) {
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
          take(fd);
          continue;
        }
        if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;  // the queue is empty
        // Out of descriptors or memory (the client waits in the queue), or a failing listening
        // socket: try again soon rather than spin.
        if (pause(100)) return;
        break;
      }
    }
  }
};

otAcceptLoop::otAcceptLoop() : impl(new Impl) {}

otAcceptLoop::~otAcceptLoop() {
  stop();
}

int otAcceptLoop::start(const otAcceptConfig& config, Handler handler, void* user) {
  Impl& d = *impl;
  std::lock_guard<std::mutex> lk(d.startStop);
  if (d.running) {
    otLog(OT_LOG_ERROR, "otAcceptLoop: already running on port %d\n", d.port.load());
    fflush(stdout);
    return -1;
  }
  if (handler == nullptr || config.port < 0 || config.port > 65535) {
    otLog(OT_LOG_ERROR, "otAcceptLoop: %s\n",
          handler == nullptr ? "no handler" : "port out of range");
    fflush(stdout);
    return -1;
  }
  d.host = config.bindAddress != nullptr ? config.bindAddress : "";
  d.backlog = config.backlog > 0 ? config.backlog : SOMAXCONN;
  d.maxClients = config.maxClients > 0 ? config.maxClients : 0;
  d.refuseWithText = config.refusal != nullptr;
  d.refusal = config.refusal != nullptr ? config.refusal : "";
  d.bindRetryMs = config.bindRetryMs > 0 ? config.bindRetryMs : 0;
  d.handler = handler;
  d.user = user;
  d.idleTimeoutMs = config.idleTimeoutMs > 0 ? config.idleTimeoutMs : 0;
  d.accepted = 0;
  d.refused = 0;
  d.stopping = false;

  std::string resolveError;
  const char* where = d.host.empty() ? "every IPv4 address" : d.host.c_str();
  d.listenFd = bindAddress(d.host, config.port, d.backlog, &resolveError);
  if (d.listenFd < 0) {
    int err = errno;
    bool retry = err == EADDRINUSE && d.bindRetryMs > 0;
    otLog(OT_LOG_ERROR, "otAcceptLoop: cannot listen on %s port %d: %s%s\n", where, config.port,
          resolveError.empty() ? strerror(err) : resolveError.c_str(),
          retry ? " (trying again)" : "");
    fflush(stdout);
    if (!retry) return -1;
    d.port = config.port;
  } else {
    d.port = boundPort(d.listenFd);
  }
  d.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (d.wakeFd < 0) {
    otLog(OT_LOG_ERROR, "otAcceptLoop: no event descriptor: %s\n", strerror(errno));
    fflush(stdout);
    if (d.listenFd >= 0) ::close(d.listenFd);
    d.listenFd = -1;
    return -1;
  }
  try {
    d.acceptThread = std::thread(&Impl::acceptMain, &d);
  } catch (const std::system_error&) {
    otLog(OT_LOG_ERROR, "otAcceptLoop: no accept thread\n");
    fflush(stdout);
    if (d.listenFd >= 0) ::close(d.listenFd);
    ::close(d.wakeFd);
    d.listenFd = d.wakeFd = -1;
    return -1;
  }
  d.running = true;
  return 0;
}

void otAcceptLoop::stop() {
  Impl& d = *impl;
  std::lock_guard<std::mutex> lk(d.startStop);
  if (!d.running) return;
  d.stopping = true;
  d.wake();
  d.acceptThread.join();
  if (d.listenFd >= 0) ::close(d.listenFd);
  d.listenFd = -1;
  // No connection is added any more. Blocked reads of the handlers return at once.
  {
    std::lock_guard<std::mutex> cl(d.mutex);
    for (auto& c : d.connections)
      if (!c.done) ::shutdown(c.fd, SHUT_RDWR);
  }
  // The handlers take the mutex to end, so the joins wait outside it.
  for (auto& c : d.connections)
    c.thread.join();
  d.connections.clear();
  ::close(d.wakeFd);
  d.wakeFd = -1;
  d.running = false;
}

int otAcceptLoop::port() const {
  return impl->port.load();
}

int otAcceptLoop::clients() const {
  return impl->active.load();
}

int otAcceptLoop::idleTimeoutMs() const {
  return impl->idleTimeoutMs.load();
}

long long otAcceptLoop::accepted() const {
  return impl->accepted.load();
}

long long otAcceptLoop::refused() const {
  return impl->refused.load();
}
