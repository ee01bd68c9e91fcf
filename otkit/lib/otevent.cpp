#include "otevent.h"

#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "oteventlogserver.h"

namespace {

using Clock = std::chrono::steady_clock;

// The server reads lines of at most this many characters plus the line feed.
constexpr size_t kLineMax = 254;
constexpr int kConnectTimeoutMs = 500;
constexpr auto kRetryInterval = std::chrono::seconds(1);
constexpr auto kExitGrace = std::chrono::milliseconds(1000);
// How long one wait for send buffer space lasts before the sender looks at its state again.
constexpr int kSendPollMs = 100;

struct State {
  std::mutex mutex;
  std::condition_variable cond;
  bool active = false;    // otEvent accepts lines
  bool draining = false;  // otEventExit waits for the sender until deadline
  Clock::time_point deadline;
  std::deque<std::string> queue;
  unsigned long lost = 0;
  std::string prefix;
  std::thread sender;
};

// Never destroyed: a sender still running at process exit must not meet a destroyed
// std::thread (that would terminate the process) or a destroyed queue.
State& state() {
  static State* s = new State;
  return *s;
}

// Serialises otEventInit and otEventExit, so that only one caller joins the sender.
std::mutex& controlMutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}

const char* levelName(int level) {
  switch (level) {
    case otInfo:
      return "INFO";
    case otWarning:
      return "WARNING";
    case otError:
      return "ERROR";
  }
  return nullptr;
}

// A line feed inside the text would split one event into two lines for the server.
void blankLineBreaks(std::string* s) {
  for (char& c : *s)
    if (c == '\n' || c == '\r') c = ' ';
}

std::string timeStamp() {
  char buf[32];
  time_t now = time(nullptr);
  struct tm tm;
  if (!localtime_r(&now, &tm) || strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M:%S", &tm) == 0)
    return "0000-00-00 00:00:00";
  return buf;
}

// The complete line with its line feed; text must be free of line breaks.
std::string makeLine(const std::string& stamp, const std::string& prefix, const char* level,
                     const char* text) {
  std::string line;
  line.reserve(kLineMax + 32);
  line += stamp;
  line += ' ';
  if (!prefix.empty()) {
    line += prefix;
    line += ' ';
  }
  line += level;
  line += ' ';
  line += text;
  if (line.size() > kLineMax) {
    // Back off to the start of a UTF-8 character rather than send half of one.
    size_t cut = kLineMax;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
      cut--;
    line.resize(cut);
  }
  line += '\n';
  return line;
}

std::string lossLine(const std::string& prefix, unsigned long lost) {
  char text[96];
  snprintf(text, sizeof(text), "%lu events lost while the event log server was unreachable", lost);
  return makeLine(timeStamp(), prefix, "WARNING", text);
}

// "-name=value": value, or null when arg is not that option.
const char* optionValue(const char* arg, const char* name) {
  size_t n = strlen(name);
  if (strncmp(arg, name, n) != 0 || arg[n] != '=') return nullptr;
  return arg + n + 1;
}

// Decimal digits only, 1..65535; else -1.
int parsePort(const char* text) {
  if (text == nullptr || *text == '\0') return -1;
  long value = 0;
  for (const char* p = text; *p; p++) {
    if (*p < '0' || *p > '9') return -1;
    value = value * 10 + (*p - '0');
    if (value > 65535) return -1;
  }
  return value >= 1 ? (int)value : -1;
}

long long msUntil(Clock::time_point t) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
  return left > 0 ? left : 0;
}

// Tries every address of host in turn within one budget of timeoutMs. Returns a connected,
// non-blocking socket or -1.
int connectTo(const std::string& host, const std::string& port, int timeoutMs) {
  struct addrinfo hints;
  memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* list = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0) return -1;
  Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int fd = -1;
  for (struct addrinfo* ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) {
    fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    int ret = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
    if (ret < 0 && (errno == EINPROGRESS || errno == EINTR)) {
      struct pollfd pfd = {fd, POLLOUT, 0};
      do {
        ret = ::poll(&pfd, 1, (int)msUntil(deadline));
      } while (ret < 0 && errno == EINTR);
      int err = 0;
      socklen_t len = sizeof(err);
      if (ret == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
        ret = 0;
      else
        ret = -1;
    }
    if (ret != 0) {
      ::close(fd);
      fd = -1;
    }
    if (msUntil(deadline) == 0) break;
  }
  freeaddrinfo(list);
  return fd;
}

// 1 when the server closed the connection or it failed. Anything the server sent is discarded.
int peerGone(int fd) {
  struct pollfd pfd = {fd, POLLIN, 0};
  int ret = ::poll(&pfd, 1, 0);
  if (ret <= 0) return 0;
  if (pfd.revents & (POLLERR | POLLNVAL)) return 1;
  char buf[512];
  // Bounded, so that a server that talks without pause cannot hold the sender here.
  for (int i = 0; i < 16; i++) {
    ssize_t n = ::recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
    if (n > 0 || (n < 0 && errno == EINTR)) continue;
    if (n == 0) return 1;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : 1;
  }
  return 0;
}

// hello: the handshake line that goes first on every connection ("" for none).
void senderMain(State* st, std::string host, std::string port, std::string prefix,
                std::string hello) {
  int fd = -1;
  size_t sent = 0;       // bytes of the first queued line already on the current connection
  size_t helloSent = 0;  // bytes of hello already on the current connection
  Clock::time_point nextAttempt = Clock::now();
  std::unique_lock<std::mutex> lock(st->mutex);
  for (;;) {
    bool idle = st->queue.empty() && (st->lost == 0 || fd < 0);
    if (st->draining && (idle || Clock::now() >= st->deadline)) break;

    if (fd < 0) {
      Clock::time_point now = Clock::now();
      if (now < nextAttempt) {
        st->cond.wait_until(
            lock, st->draining && st->deadline < nextAttempt ? st->deadline : nextAttempt);
        continue;
      }
      nextAttempt = now + kRetryInterval;
      int timeout = kConnectTimeoutMs;
      if (st->draining && msUntil(st->deadline) < timeout) timeout = (int)msUntil(st->deadline);
      lock.unlock();
      int newFd = connectTo(host, port, timeout);
      lock.lock();
      if (newFd >= 0) {
        fd = newFd;
        sent = 0;
        helloSent = 0;
        if (st->lost > 0) {
          st->queue.push_front(lossLine(prefix, st->lost));
          st->lost = 0;
        }
      }
      continue;
    }

    // The handshake goes out at once, also with nothing queued: a server with a secret closes
    // a connection that stays silent.
    bool inHello = helloSent < hello.size();
    if (!inHello && st->queue.empty()) {
      // Lines were refused while connected (the server reads too slowly): report that too.
      if (st->lost > 0) {
        st->queue.push_back(lossLine(prefix, st->lost));
        st->lost = 0;
        continue;
      }
      st->cond.wait(lock);
      continue;
    }

    std::string line = inHello ? hello : st->queue.front();
    size_t& done = inHello ? helloSent : sent;
    lock.unlock();
    bool broken = false;
    if (done == 0 && peerGone(fd)) {
      broken = true;
    } else {
      ssize_t n = ::send(fd, line.data() + done, line.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        done += (size_t)n;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        struct pollfd pfd = {fd, POLLOUT, 0};
        if (::poll(&pfd, 1, kSendPollMs) == 1 && (pfd.revents & (POLLERR | POLLHUP))) broken = true;
      } else if (!(n < 0 && errno == EINTR)) {
        broken = true;
      }
    }
    if (broken) {
      ::close(fd);
      fd = -1;
      sent = 0;  // the whole line goes again on the next connection
    }
    lock.lock();
    if (!broken && !inHello && sent == line.size()) {
      st->queue.pop_front();
      sent = 0;
    }
  }
  lock.unlock();
  if (fd >= 0) ::close(fd);
}

// Lets the sender deliver for at most kExitGrace, then joins it. The caller holds the control
// mutex.
void stopSender() {
  State& st = state();
  std::unique_lock<std::mutex> lock(st.mutex);
  st.active = false;
  if (!st.sender.joinable()) return;
  st.draining = true;
  st.deadline = Clock::now() + kExitGrace;
  st.cond.notify_all();
  lock.unlock();
  st.sender.join();
  lock.lock();
  st.queue.clear();
  st.lost = 0;
  st.draining = false;
}

}  // namespace

int otEventInit(int ac, const char* const* av, const char* prefix) {
  const char* host = nullptr;
  const char* portText = nullptr;
  const char* secret = nullptr;
  for (int i = 1; av != nullptr && i < ac; i++) {
    if (av[i] == nullptr) continue;
    if (const char* v = optionValue(av[i], "-eventhost")) host = v;
    if (const char* v = optionValue(av[i], "-eventport")) portText = v;
    if (const char* v = optionValue(av[i], "-eventsecret")) secret = v;
  }
  std::lock_guard<std::mutex> control(controlMutex());
  stopSender();
  if (host == nullptr || *host == '\0' || parsePort(portText) < 0) return -1;
  std::string hello;
  if (secret != nullptr && *secret != '\0') {
    // The server takes the same secrets only: one line, bounded.
    if (strlen(secret) > OT_EVENTLOG_SECRET_MAX) return -1;
    for (const char* p = secret; *p; p++)
      if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7F) return -1;
    hello = std::string(OT_EVENTLOG_AUTH_PREFIX) + secret + "\n";
  }

  State& st = state();
  std::string pre = prefix ? prefix : "";
  blankLineBreaks(&pre);
  std::unique_lock<std::mutex> lock(st.mutex);
  st.prefix = pre;
  st.queue.clear();
  st.lost = 0;
  st.draining = false;
  try {
    st.sender = std::thread(senderMain, &st, std::string(host), std::to_string(parsePort(portText)),
                            pre, hello);
  } catch (const std::system_error&) {
    return -1;
  }
  st.active = true;
  return 0;
}

int otEvent(int level, const char* format, ...) {
  const char* name = levelName(level);
  if (name == nullptr || format == nullptr) return -1;
  // Only the first kLineMax + 1 bytes can reach the line; the extra one shows where it is cut.
  char text[kLineMax + 2];
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(text, sizeof(text), format, ap);
  va_end(ap);
  if (n < 0) return -1;
  for (char* p = text; *p; p++)
    if (*p == '\n' || *p == '\r') *p = ' ';
  std::string stamp = timeStamp();

  State& st = state();
  std::lock_guard<std::mutex> lock(st.mutex);
  if (!st.active) return -1;
  if (st.queue.size() >= OT_EVENT_QUEUE_MAX) {
    st.lost++;
    return -1;
  }
  st.queue.push_back(makeLine(stamp, st.prefix, name, text));
  st.cond.notify_one();
  return 0;
}

int otEventExit() {
  std::lock_guard<std::mutex> control(controlMutex());
  stopSender();
  return 0;
}
