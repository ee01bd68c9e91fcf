#include "otsocket.h"

#include "otlog.h"
#include "otpeekline.h"
#include "otpoll.h"
#include "otsendall.h"

#include <arpa/inet.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

int otwsa() {
  return 0;
}

namespace {

// Reads the number after "Content-Length:" as "%d" would, but refuses a negative value or one
// that does not fit an int, which would otherwise come back as a bogus (even negative) length.
// Returns 0 and stores the value, or -1; a missing number leaves *length alone.
int parseContentLength(const char* field, int* length) {
  const char* p = field + 15;
  char* end = nullptr;
  errno = 0;
  long long value = strtoll(p, &end, 10);
  if (end == p) return 0;
  if (errno == ERANGE || value < 0 || value > INT_MAX) return -1;
  *length = (int)value;
  return 0;
}

// A look without waiting came back with something to act on: bytes, the peer's end or an
// error, not "nothing yet".
bool recvSettled(ssize_t n) {
  return n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace

int otScoketWrite(int* socket, const void* buf, int len) {
  if (socket == nullptr || *socket == -1) return -1;
  if (len <= 0) return 0;
  if (otSendAll(*socket, buf, len) != 0) {
    ::close(*socket);
    *socket = -1;
    return -1;
  }
  return len;
}

otSocket::otSocket(const char* adr_, int port_, int active_)
    : s(-1),
      port(port_),
      active(active_),
      os(-1),
      first(1),
      ot_ipversion(4),
      stopping(0),
      wakefd(-1) {
  otwsa();
  memset(address, 0, sizeof(address));
  setAdr(adr_);
}

otSocket::otSocket(int socket)
    : s(socket), port(-1), active(0), os(-1), first(0), ot_ipversion(4), stopping(0), wakefd(-1) {
  otwsa();
  memset(address, 0, sizeof(address));
  adr[0] = '\0';
}

otSocket::~otSocket() {
  disconnect();
  if (os != -1 && active == 0) ::close(os);
  int fd = wakefd.exchange(-1);
  if (fd != -1) ::close(fd);
}

int otSocket::setAdr(const char* text) {
  // A host name that does not fit is dropped rather than cut to a different name.
  if (text == nullptr || strlen(text) > sizeof(adr) - 1)
    adr[0] = '\0';
  else
    strcpy(adr, text);
  return 0;
}

int otSocket::setPort(int p) {
  port = p;
  return 0;
}

int otSocket::getPort() {
  return port;
}

int otSocket::setActive(int a) {
  active = a;
  return 0;
}

int otSocket::setIPVersion(int version) {
  ot_ipversion = version == 6 ? 6 : 4;
  return ot_ipversion;
}

int otSocket::getIPVersion() {
  return ot_ipversion;
}

int otSocket::disconnect() {
  if (s != -1) ::close(s);
  s = -1;
  receiveTimeoutFd = -1;
  return 0;
}

int otSocket::isConnected() {
  return s != -1 ? 1 : 0;
}

int otSocket::wakeFd() {
  int fd = wakefd.load();
  if (fd != -1) return fd;
  int made = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (made < 0) return -1;
  int expected = -1;
  if (!wakefd.compare_exchange_strong(expected, made)) {
    ::close(made);
    return expected;
  }
  return made;
}

int otSocket::stopServer() {
  stopping.store(1);
  int fd = wakefd.load();
  if (fd != -1) {
    uint64_t one = 1;
    ssize_t ignored = ::write(fd, &one, sizeof(one));
    (void)ignored;
  }
  return 0;
}

int otSocket::waitStop(int ms) {
  if (stopping.load()) return 1;
  struct pollfd p = {wakeFd(), POLLIN, 0};
  if (p.fd < 0) {
    otsleep(ms);
  } else {
    otPollUntil(&p, 1, otDeadlineIn(ms));
  }
  return stopping.load() ? 1 : 0;
}

int otSocket::connect() {
  if (port < 1 || port > 65535) return -7;
  if (active == 1) {
    disconnect();
    if (ot_ipversion == 4) return connect4();
    if (ot_ipversion == 6) return connect6();
    otLog(OT_LOG_ERROR, "otSocket:ERROR: ot_ipversion=%d not known\n", ot_ipversion);
    return -1;
  }
  if (active != 0) return s;

  // The accepted socket of the previous call belongs to whoever took it over; it is not closed.
  s = -1;
  receiveTimeoutFd = -1;
  // The wake-up descriptor exists before the stop flag is looked at, so a stop that comes
  // later always finds it.
  int wake = wakeFd();
  if (stopping.load()) return -4;
  if (first == 1) {
    int ret = listenSetup();
    if (ret < 0) return ret;
  }
  first = 0;
  if (os < 0) return -4;
  for (;;) {
    struct pollfd fds[2] = {{os, POLLIN, 0}, {wake, POLLIN, 0}};
    if (otPollUntil(fds, wake < 0 ? 1 : 2, OT_NO_DEADLINE) < 0) return -4;
    if (stopping.load()) return -4;
    if (!(fds[0].revents & (POLLIN | POLLERR | POLLHUP))) continue;
    socklen_t len = sizeof(address);
    int fd = accept4(os, reinterpret_cast<struct sockaddr*>(address), &len, SOCK_CLOEXEC);
    if (fd >= 0) {
      s = fd;
      return s;
    }
    // A peer that gave up between poll and accept is no reason to stop serving.
    if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) continue;
    return -4;
  }
}

int otSocket::connect4() {
  s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    s = -1;
    return -1;
  }
  struct sockaddr_in sin;
  memset(&sin, 0, sizeof(sin));
  sin.sin_family = AF_INET;
  sin.sin_port = htons((uint16_t)port);
  struct addrinfo hints;
  memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* res = nullptr;
  if (getaddrinfo(adr, nullptr, &hints, &res) == 0 && res != nullptr) {
    sin.sin_addr = reinterpret_cast<struct sockaddr_in*>(res->ai_addr)->sin_addr;
    freeaddrinfo(res);
  } else if (inet_aton(adr, &sin.sin_addr) == 0) {
    disconnect();
    return -5;
  }
  int ret;
  do {
    ret = ::connect(s, reinterpret_cast<struct sockaddr*>(&sin), sizeof(sin));
  } while (ret < 0 && errno == EINTR);
  if (ret < 0) {
    disconnect();
    return -6;
  }
  return s;
}

int otSocket::connect6() {
  char service[16];
  snprintf(service, sizeof(service), "%d", port);
  struct addrinfo hints;
  memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* res = nullptr;
  int err = getaddrinfo(adr, service, &hints, &res);
  if (err != 0) {
    otLog(OT_LOG_ERROR, "otSocket:tcp_connect error for %s port=%s : %s\n", adr, service,
          gai_strerror(err));
    return -1;
  }
  for (struct addrinfo* ai = res; ai != nullptr; ai = ai->ai_next) {
    int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) {
      freeaddrinfo(res);
      s = fd;
      return s;
    }
    ::close(fd);
  }
  freeaddrinfo(res);
  otLog(OT_LOG_ERROR, "otSocket:tcp_connect error for %s port=%s\n", adr, service);
  return -1;
}

int otSocket::listenSetup() {
  if (ot_ipversion == 4) return listen4();
  if (ot_ipversion == 6) return listen6();
  otLog(OT_LOG_ERROR, "otSocket:ERROR: ot_ipversion=%d not known\n", ot_ipversion);
  return -1;
}

int otSocket::listen4() {
  os = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (os < 0) {
    os = -1;
    return -1;
  }
  int on = 1;
  setsockopt(os, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  struct sockaddr_in sin;
  memset(&sin, 0, sizeof(sin));
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_ANY);
  sin.sin_port = htons((uint16_t)port);
  while (::bind(os, reinterpret_cast<struct sockaddr*>(&sin), sizeof(sin)) < 0) {
    otLog(OT_LOG_WARNING, "warning: could not bind to port=%d\n", port);
    fflush(stdout);
    if (waitStop(1000)) {
      ::close(os);
      os = -1;
      return -4;
    }
  }
  if (::listen(os, SOMAXCONN) < 0) {
    ::close(os);
    os = -1;
    return -3;
  }
  return 0;
}

int otSocket::listen6() {
  char service[16];
  snprintf(service, sizeof(service), "%d", port);
  struct addrinfo hints;
  memset(&hints, 0, sizeof(hints));
  hints.ai_flags = AI_PASSIVE;
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* res = nullptr;
  int err = getaddrinfo(adr[0] ? adr : nullptr, service, &hints, &res);
  if (err != 0) {
    otLog(OT_LOG_ERROR, "otSocket:tcp_listen error for %s port=%s : %s\n", adr, service,
          gai_strerror(err));
    return -1;
  }
  for (;;) {
    for (struct addrinfo* ai = res; ai != nullptr && os < 0; ai = ai->ai_next) {
      int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
      if (fd < 0) continue;
      int on = 1;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
      if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0)
        os = fd;
      else
        ::close(fd);
    }
    if (os >= 0) break;
    otLog(OT_LOG_WARNING, "warning: could not bind to port=%d\n", port);
    fflush(stdout);
    if (waitStop(1000)) {
      freeaddrinfo(res);
      return -4;
    }
  }
  freeaddrinfo(res);
  if (::listen(os, SOMAXCONN) < 0) {
    ::close(os);
    os = -1;
    return -3;
  }
  return 0;
}

int otSocket::select(int timeout) {
  if (timeout == 0) return 1;
  struct pollfd p = {s, POLLIN, 0};
  int ret = otPollUntil(&p, 1, otDeadlineIn(timeout));
  return ret != 0 ? 1 : 0;
}

int otSocket::read(void* buf, int len, int timeout) {
  if (s == -1) return -1;
  if (len <= 0) return 0;
  if (select(timeout) == 0) return 0;
  char* p = static_cast<char*>(buf);
  int got = 0;
  for (;;) {
    ssize_t n = otRecvRetry(s, p + got, (size_t)(len - got), 0);
    if (n <= 0) {
      disconnect();
      return -1;
    }
    got += (int)n;
    if (got >= len) return len;
    if (select(timeout) == 0) return 0;
  }
}

ssize_t otSocket::recvWithin(void* buf, size_t len, int timeout) {
  if (s == -1) return -1;
  int flags = MSG_DONTWAIT;
  if (timeout != 0) {
    const int want = timeout < 0 ? 0 : timeout;  // 0 is no limit for the socket option
    if (receiveTimeoutFd != s || (want == 0) != (receiveTimeoutMs == 0) ||
        abs(want - receiveTimeoutMs) > 1) {
      struct timeval tv = {want / 1000, (want % 1000) * 1000};
      if (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0) return -1;
      receiveTimeoutFd = s;
      receiveTimeoutMs = want;
    }
    flags = 0;
  }
  ssize_t n = otRecvRetry(s, buf, len, flags);
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? -2 : n;
}

ssize_t otSocket::recvUntil(void* buf, size_t len, long long deadline) {
  ssize_t n = -1;
  if (replySpin.spin([&] { return recvSettled(n = ::recv(s, buf, len, MSG_DONTWAIT)); })) return n;
  // The socket's time-out may end a millisecond before the deadline.
  while ((n = recvWithin(buf, len, otMsLeft(deadline))) == -2 && otMsLeft(deadline) > 0) {
  }
  replySpin.woke();
  return n;
}

// Takes exactly up to the line feed (otTakeLinePart): the rest stays queued for the next call.
int otSocket::readStr(char* buf, int len, int timeout) {
  if (s == -1) return -1;
  if (buf == nullptr || len <= 0) return 0;
  const bool there = replySpin.spin([this] {
    char c;
    return recvSettled(::recv(s, &c, 1, MSG_PEEK | MSG_DONTWAIT));
  });
  if (select(timeout) == 0) {
    if (!there) replySpin.woke();
    return 0;
  }
  int got = 0;
  while (got < len - 1) {
    bool complete;
    ssize_t n = otTakeLinePart(s, buf + got, (size_t)(len - 1 - got), &complete);
    if (got == 0 && !there) replySpin.woke();  // the first part was waited for
    if (n <= 0) {
      buf[got] = '\0';
      disconnect();
      return -1;
    }
    got += (int)n;
    if (complete) break;
  }
  buf[got] = '\0';
  return got;
}

int otSocket::write(const void* buf, int len) {
  if (s == -1) return -1;
  if (len <= 0) return 0;
  if (otSendAll(s, buf, len) != 0) {
    disconnect();
    return -1;
  }
  return len;
}

int otSocket::printf(const char* format, ...) {
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 0) return t.result;
  return write(t.text, t.length);
}

int otSocket::readHttpHeader(otString* header, int timeout) {
  if (header != nullptr) header->setText("");
  int contentLength = 0;
  bool valid = true;
  char line[4096];
  for (;;) {
    int ret = readStr(line, sizeof(line), timeout);
    // A header cut short by the time limit is not a complete header.
    if (ret <= 0) return -1;
    if (header != nullptr) header->cat(line);
    const char* cl = strstr(line, "Content-Length:");
    if (cl != nullptr && parseContentLength(cl, &contentLength) != 0) valid = false;
    if (strlen(line) <= 2) return valid ? contentLength : -1;
  }
}

int otSocket::readHttpContentLength(int timeout) {
  char line[256];
  for (;;) {
    if (readStr(line, sizeof(line), timeout) < 1) return -1;
    if (strncmp(line, "Content-Length:", 15) == 0) break;
  }
  int length = 0;
  if (parseContentLength(line, &length) != 0) return -1;
  if (readStr(line, sizeof(line), timeout) < 1) return -1;
  return length;
}

int otSocket::sendHxClientButtonEvent(int id) {
  return printf("QPushButton(%d)\n", id);
}

int otSocket::otGetsockopt(int sockfd, int level, int option, void* value, int* length) {
  socklen_t len = length ? (socklen_t)*length : 0;
  int ret = getsockopt(sockfd, level, option, value, &len);
  if (length) *length = (int)len;
  return ret;
}

int otSocket::otSetsockopt(int sockfd, int level, int option, const void* value, int length) {
  return setsockopt(sockfd, level, option, value, (socklen_t)length);
}

int otSocket::otGetsockopt(int level, int option) {
  int value = 0;
  socklen_t len = sizeof(value);
  return getsockopt(s, level, option, &value, &len);
}

int otSocket::otSetsockopt(int level, int option) {
  int value = 1;
  return setsockopt(s, level, option, &value, sizeof(value));
}
