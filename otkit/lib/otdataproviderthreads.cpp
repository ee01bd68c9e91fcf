#include "otdataprovider.h"
#include "otlog.h"
#include "otdataprovider_p.h"
#include "otpeekline.h"
#include "otpoll.h"
#include "otsendall.h"

#include <errno.h>
#include <limits.h>
#include <locale.h>
#include <math.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace otdataprovider;

// ---------------------------------------------------------------------------------------------
// otDataProviderThreads
//
// Every client still has the accept loop's thread of its own, but that thread sleeps while
// its connection is polled: a poll thread per core reads all connections with input and
// answers them in one pass, so that a request costs no thread switch on the server. The
// handshakes that wait (intAndReset, getInt0Semaphore) must not hold up the others: the poll
// thread hands such a connection, with what it has buffered, back to the connection's thread,
// which carries them out as before and then hands the connection back. Only one side works on
// a connection at a time (state, under the connection's lock); the descriptor stays blocking
// and the poll thread reads and sends with MSG_DONTWAIT.

namespace {

// The requests that may wait for another client.
bool mayWait(const char* line, int len) {
  const Command* c = findCommand(line, len);
  return c != nullptr && (c->kind == SET_INT_WAIT || c->kind == GET_INT0_SEM);
}

}  // namespace

struct otDataProviderThreads::Conn {
  enum State { POLLED, THREAD, CLOSED };
  int fd = -1;
  std::mutex m;
  std::condition_variable cv;
  State state = POLLED;
  std::vector<char> in;  // bytes read, from start to end
  size_t start = 0, end = 0;
  bool skipping = false;  // dropping an over-long line up to its line feed
  std::string out;        // answers not sent yet
  otDataProvider::Session session;
};

struct otDataProviderThreads::Poller {
  int wakefd = -1;  // becomes readable, and stays so, when the poll threads are to end
  std::vector<int> epfds;
  std::vector<std::thread> threads;
  std::atomic<unsigned> next{0};  // the poll thread for the next connection
  ~Poller() {
    if (wakefd >= 0) {
      uint64_t one = 1;
      ssize_t written = ::write(wakefd, &one, sizeof(one));  // cannot fail: the count is 0 or 1
      (void)written;
    }
    for (std::thread& t : threads)
      t.join();
    for (int fd : epfds)
      close(fd);
    if (wakefd >= 0) close(wakefd);
  }
};

otDataProviderThreads::otDataProviderThreads(int port_, otDataProvider* provider_)
    : provider(provider_), port(port_), stopping(0), started(false) {}

otDataProviderThreads::~otDataProviderThreads() {
  stop();
}

int otDataProviderThreads::setBindAddress(const char* address) {
  std::lock_guard<std::mutex> lk(lock);
  if (started && !stopping.load()) return -1;
  bindAddress = address != nullptr ? address : "";
  return 0;
}

int otDataProviderThreads::setSecret(const char* text) {
  std::lock_guard<std::mutex> lk(lock);
  if (started && !stopping.load()) return -1;
  if (text != nullptr && !validSecret(text)) return -1;
  secret = text != nullptr ? text : "";
  return 0;
}

int otDataProviderThreads::start() {
  if (port < 1 || port > 65535 || provider == nullptr) return -1;
  std::lock_guard<std::mutex> lk(lock);
  if (started || stopping.load()) return -1;
  // Without poll threads every connection is served by its own thread, as serveDescriptor.
  std::unique_ptr<Poller> p(new Poller);
  p->wakefd = eventfd(0, EFD_CLOEXEC);
  unsigned cores = std::thread::hardware_concurrency();
  int count = cores < 1 ? 1 : cores > 4 ? 4 : (int)cores;
  for (int i = 0; i < count && p->wakefd >= 0; i++) {
    int epfd = epoll_create1(EPOLL_CLOEXEC);
    if (epfd < 0) break;
    struct epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.ptr = nullptr;
    if (epoll_ctl(epfd, EPOLL_CTL_ADD, p->wakefd, &ev) != 0) {
      close(epfd);
      break;
    }
    p->epfds.push_back(epfd);
    p->threads.emplace_back(&otDataProviderThreads::pollLoop, this, epfd);
  }
  if (p->epfds.empty()) p.reset();
  poller = std::move(p);
  otAcceptConfig config;
  config.bindAddress = bindAddress.empty() ? nullptr : bindAddress.c_str();
  // Without a secret anyone who reaches the port may change the store: such a provider
  // listens on the loopback address unless it was given an address.
  if (bindAddress.empty() && secret.empty()) {
    config.bindAddress = "127.0.0.1";
    otLog(OT_LOG_WARNING,
          "otDataProvider: no secret is set: listening on 127.0.0.1 only (bind 0.0.0.0 or "
          "set a secret to listen elsewhere)\n");
  }
  config.port = port;  // with the default deep backlog a burst of clients is queued whole
  config.bindRetryMs = 1000;
  if (loop.start(config, serveConnection, this) != 0) {
    poller.reset();
    return -1;
  }
  started = true;
  return 0;
}

void otDataProviderThreads::serveConnection(int fd, void* arg) {
  otDataProviderThreads* self = static_cast<otDataProviderThreads*>(arg);
  // secret does not change while the loop runs (setSecret refuses then).
  const char* secret = self->secret.empty() ? nullptr : self->secret.c_str();
  Poller* poller = self->poller.get();
  if (poller == nullptr) {
    self->provider->serveDescriptor(fd, &self->stopping, secret);
    return;
  }
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  Conn c;
  c.fd = fd;
  c.session.fd = fd;
  c.session.stop = &self->stopping;
  if (secret != nullptr) {
    c.session.secret = secret;
    c.session.secretLen = strlen(secret);
  }
  c.session.out = &c.out;
  int epfd = poller->epfds[poller->next++ % poller->epfds.size()];
  struct epoll_event ev = {};
  ev.events = EPOLLIN;
  ev.data.ptr = &c;
  std::unique_lock<std::mutex> lk(c.m);
  if (epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev) != 0) {
    lk.unlock();
    self->provider->serveDescriptor(fd, &self->stopping, secret);
    return;
  }
  // stop() needs no wake-up here: the accept loop shuts the socket down, which the poll thread
  // reads as the end of the connection.
  for (;;) {
    c.cv.wait(lk, [&c] { return c.state != Conn::POLLED; });
    if (c.state == Conn::CLOSED) return;
    // The connection is this thread's until it is polled again; the poll thread has taken it
    // off its set.
    lk.unlock();
    bool ok = otSendAll(fd, c.out.data(), (int)c.out.size()) == 0;
    c.out.clear();
    int result = ok ? self->process(&c, true) : -1;
    // Also the error line of a refused connection.
    if (ok && !c.out.empty()) ok = otSendAll(fd, c.out.data(), (int)c.out.size()) == 0;
    c.out.clear();
    if (result != 0) ok = false;
    lk.lock();
    if (!ok || self->stopping.load() || epoll_ctl(epfd, EPOLL_CTL_ADD, fd, &ev) != 0) return;
    c.state = Conn::POLLED;
  }
}

int otDataProviderThreads::process(Conn* c, bool mayBlock) {
  for (;;) {
    char* base = c->in.data();
    const char* nl =
        c->end > c->start
            ? static_cast<const char*>(memchr(base + c->start, '\n', c->end - c->start))
            : nullptr;
    if (nl == nullptr) {
      // A line that is already too long is dropped whole, up to its line feed, like
      // otLineReader does.
      if (c->skipping || c->end - c->start > (size_t)otDataProvider::MAX_LINE) {
        c->skipping = true;
        c->start = c->end = 0;
      }
      if (c->start == c->end) c->start = c->end = 0;
      return 0;
    }
    const char* line = base + c->start;
    int len = (int)(nl - line);
    if (c->skipping || len > otDataProvider::MAX_LINE) {
      c->skipping = false;
      c->start += (size_t)len + 1;
      continue;
    }
    if (!mayBlock && mayWait(line, len)) return 1;
    c->start += (size_t)len + 1;
    provider->handleRequest(line, len, &c->session);
    if (c->session.closing) return -1;
  }
}

void otDataProviderThreads::service(Conn* c, int epfd) {
  // Room for a chunk; a partial line moves to the front.
  if (c->start > 0 && c->in.size() - c->end < 4096) {
    memmove(c->in.data(), c->in.data() + c->start, c->end - c->start);
    c->end -= c->start;
    c->start = 0;
  }
  if (c->in.size() - c->end < 4096) c->in.resize(c->in.size() < 16384 ? 16384 : c->in.size() * 2);
  ssize_t n = recv(c->fd, c->in.data() + c->end, c->in.size() - c->end, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  int result = -1;  // the end of the stream or an error closes
  if (n > 0) {
    c->end += (size_t)n;
    result = process(c, false);
  }
  if (!c->out.empty()) {
    ssize_t sent = send(c->fd, c->out.data(), c->out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent == (ssize_t)c->out.size()) {
      c->out.clear();
    } else if (sent >= 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      // A client that does not read its answers: its thread waits for it, not the poll thread.
      c->out.erase(0, sent > 0 ? (size_t)sent : 0);
      if (result == 0) result = 1;
    } else {
      result = -1;
    }
  }
  if (result == 0) return;
  epoll_ctl(epfd, EPOLL_CTL_DEL, c->fd, nullptr);
  // A refused connection's error line went out above, as far as the socket took it.
  c->state = result > 0 ? Conn::THREAD : Conn::CLOSED;
  c->cv.notify_one();
}

void otDataProviderThreads::pollLoop(int epfd) {
  struct epoll_event events[64];
  otSpinWait spin;
  for (;;) {
    int n = 0;
    if (!spin.spin([&] { return (n = epoll_wait(epfd, events, 64, 0)) != 0; })) {
      n = epoll_wait(epfd, events, 64, -1);
      spin.woke();
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < n; i++) {
      if (events[i].data.ptr == nullptr) return;  // the end (stop() has served every client)
      Conn* c = static_cast<Conn*>(events[i].data.ptr);
      std::lock_guard<std::mutex> lk(c->m);
      // One event per descriptor and call, and only a polled connection is in the set, whose
      // thread waits for this one to give it back: c is alive.
      service(c, epfd);
    }
  }
}

int otDataProviderThreads::stop() {
  std::lock_guard<std::mutex> lk(lock);
  stopping.store(1);
  if (!started) return 0;
  // The blocked handshakes see the flag; the loop then shuts the sockets down and waits.
  provider->wakeWaiters();
  loop.stop();
  poller.reset();  // every connection has ended; now the poll threads may
  return 0;
}
