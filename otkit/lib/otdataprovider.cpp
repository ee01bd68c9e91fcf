#include "otdataprovider.h"

#include "otlinereader.h"
#include "otpeekline_p.h"
#include "otpoll_p.h"
#include "otsendall_p.h"

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

namespace {

// Text of an array setter: at most MAX_LINE characters with the trailing comma.
enum { ARRAY_TEXT = otDataProvider::MAX_LINE + 1 };

char* copyText(const char* text) {
  size_t len = strlen(text);
  char* copy = new char[len + 1];
  memcpy(copy, text, len + 1);
  return copy;
}

// Formats values as "%d," (or "%f,") one after the other; the length, or -1 if the text would
// exceed size - 1 characters.
template <typename T>
int arrayText(const T* values, int num, const char* format, char* out, int size) {
  int len = 0;
  for (int i = 0; i < num; i++) {
    int n = snprintf(out + len, (size_t)(size - len), format, values[i]);
    if (n < 0 || n >= size - len) return -1;
    len += n;
  }
  return len;
}

bool stopped(const std::atomic<int>* stop) {
  return stop != nullptr && stop->load() != 0;
}

// True when the client on fd has closed or reset its side. Bytes it sent before closing may
// still be queued: a request waiting for the store serves nobody once its sender is gone.
bool peerGone(int fd) {
  if (fd < 0) return false;
  struct pollfd p = {fd, POLLRDHUP, 0};
  int n;
  do {
    n = ::poll(&p, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

// Sleeps up to ms, returning early when the client on fd goes away (plain sleep for fd -1).
void sleepWatching(int fd, int ms) {
  if (fd < 0) {
    otsleep(ms);
    return;
  }
  struct pollfd p = {fd, POLLRDHUP, 0};
  ::poll(&p, 1, ms);
}

// A secret may travel as one quoted text in one line: printable, at most MAX_SECRET bytes.
bool validSecret(const char* secret) {
  size_t len = strlen(secret);
  if (len > (size_t)otDataProvider::MAX_SECRET) return false;
  for (size_t i = 0; i < len; i++)
    if ((unsigned char)secret[i] < 0x20 || secret[i] == 0x7f) return false;
  return true;
}

// Compares in a time that depends on the length of the secret only, so that the answer time
// does not tell an attacker how many leading characters were right.
bool secretMatches(const char* given, size_t givenLen, const char* secret, size_t secretLen) {
  unsigned diff = givenLen == secretLen ? 0u : 1u;
  for (size_t i = 0; i < secretLen; i++) {
    unsigned char g = i < givenLen ? (unsigned char)given[i] : 0;
    diff |= (unsigned)(g ^ (unsigned char)secret[i]);
  }
  return diff == 0;
}

// The requests; a table so that the protocol comment and the dispatcher can be checked against
// each other. `changes` marks those a shared secret guards.
enum Kind {
  SET_INT,
  SET_INT_WAIT,
  SET_FLOAT,
  SET_STRING,
  GET_INT,
  GET_INT_RESET,
  GET_INT0_SEM,
  GET_FLOAT,
  GET_STRING,
  AUTH
};
struct Command {
  const char* name;
  int nameLen;
  Kind kind;
  bool changes;
};
#define OT_COMMAND(name, kind, changes) \
  { name, (int)sizeof(name) - 1, kind, changes }
const Command kCommands[] = {
    OT_COMMAND("getInt", GET_INT, false),
    OT_COMMAND("int", SET_INT, true),
    OT_COMMAND("getFloat", GET_FLOAT, false),
    OT_COMMAND("getString", GET_STRING, false),
    OT_COMMAND("float", SET_FLOAT, true),
    OT_COMMAND("string", SET_STRING, true),
    OT_COMMAND("intAndReset", SET_INT_WAIT, true),
    OT_COMMAND("getIntAndReset", GET_INT_RESET, true),
    OT_COMMAND("getInt0Semaphore", GET_INT0_SEM, true),
    OT_COMMAND("auth", AUTH, false),
};
#undef OT_COMMAND

// The command named before the '(' at the start of line, or null.
const Command* findCommand(const char* line, int len) {
  const char* paren = static_cast<const char*>(memchr(line, '(', len < 24 ? (size_t)len : 24));
  if (paren == nullptr) return nullptr;
  int nameLen = (int)(paren - line);
  for (const Command& c : kCommands)
    if (c.nameLen == nameLen && memcmp(c.name, line, (size_t)nameLen) == 0) return &c;
  return nullptr;
}

// Reads the arguments of a request strictly, front to back; every reader returns false, and
// leaves the position where it was, when the text there is not what it expects.
class ArgReader {
 public:
  ArgReader(const char* begin, const char* end) : p(begin), stop(end) {}

  bool literal(char c) {
    if (p == stop || *p != c) return false;
    p++;
    return true;
  }
  // The end of the line, a carriage return before it allowed (a CR LF client).
  bool atEnd() { return p == stop || (p + 1 == stop && *p == '\r'); }
  // Decimal digits with an optional sign, within the range of int.
  bool integer(int* out) {
    const char* q = p;
    bool negative = false;
    if (q != stop && (*q == '-' || *q == '+')) negative = *q++ == '-';
    if (q == stop || !isDigit(*q)) return false;
    long long v = 0;
    while (q != stop && isDigit(*q)) {
      v = v * 10 + (*q++ - '0');
      if (v > (long long)INT_MAX + 1) return false;
    }
    if (negative) v = -v;
    if (v > INT_MAX || v < INT_MIN) return false;
    *out = (int)v;
    p = q;
    return true;
  }
  // A decimal number with optional point, fraction and exponent that fits a float.
  bool number(float* out) {
    const char* q = p;
    if (q != stop && (*q == '-' || *q == '+')) q++;
    int digits = 0;
    while (q != stop && isDigit(*q))
      q++, digits++;
    if (q != stop && *q == '.') {
      q++;
      while (q != stop && isDigit(*q))
        q++, digits++;
    }
    if (digits == 0) return false;
    if (q != stop && (*q == 'e' || *q == 'E')) {
      q++;
      if (q != stop && (*q == '-' || *q == '+')) q++;
      if (q == stop || !isDigit(*q)) return false;
      while (q != stop && isDigit(*q))
        q++;
    }
    // strtof wants a terminated text; the span is short unless someone pads it with zeros.
    char buf[128];
    size_t len = (size_t)(q - p);
    if (len >= sizeof(buf)) return false;
    memcpy(buf, p, len);
    buf[len] = '\0';
    // The protocol's point is '.', whatever locale the process runs in.
    static locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", (locale_t)0);
    errno = 0;
    char* end = nullptr;
    float v = cLocale != (locale_t)0 ? strtof_l(buf, &end, cLocale) : strtof(buf, &end);
    if (end != buf + len || !std::isfinite(v)) return false;
    // Out of range above (HUGE_VALF) was caught as not finite; ERANGE that is left is underflow,
    // a rounding to 0 or a subnormal like any other.
    *out = v;
    p = q;
    return true;
  }
  // A quoted text with otInterpreter's escapes; refused without its closing quote or when it
  // would not fit size bytes with its NUL.
  bool text(char* out, int size) {
    if (p == stop || *p != '"') return false;
    const char* q = p + 1;
    int n = 0;
    for (;;) {
      if (q == stop || *q == '\0') return false;
      char c = *q++;
      if (c == '"') break;
      if (c == '\\' && q != stop) {
        // The escape rule of otInterpreter: \" \\ \n are pairs, a backslash before anything
        // else is itself.
        if (*q == '"' || *q == '\\')
          c = *q++;
        else if (*q == 'n')
          c = '\n', q++;
      }
      if (n >= size - 1) return false;
      out[n++] = c;
    }
    out[n] = '\0';
    p = q;
    return true;
  }

 private:
  static bool isDigit(char c) { return c >= '0' && c <= '9'; }
  const char* p;
  const char* stop;
};

// Appends "intResult(%d)\n" without a format parser on the server's hot path.
void appendIntResult(std::string* out, int value) {
  char buf[32];
  char* e = buf + sizeof(buf);
  char* q = e;
  *--q = '\n';
  *--q = ')';
  unsigned long long mag =
      value < 0 ? 0ULL - (unsigned long long)(long long)value : (unsigned long long)value;
  do {
    *--q = (char)('0' + mag % 10);
    mag /= 10;
  } while (mag != 0);
  if (value < 0) *--q = '-';
  out->append("intResult(", 10);
  out->append(q, (size_t)(e - q));
}

}  // namespace

// One client connection as the request handler sees it.
struct otDataProvider::Session {
  int fd = -1;  // the client, watched while a request waits; -1: none
  const std::atomic<int>* stop = nullptr;
  const char* secret = nullptr;  // null: none
  size_t secretLen = 0;
  bool authorised = false;
  bool closing = false;        // the connection is to be closed after the pending output
  std::string* out = nullptr;  // replies not sent yet
};

// ---------------------------------------------------------------------------------------------
// otDataProvider

otDataProvider::otDataProvider(int ints_, int floats_, int strings_)
    : nints(ints_ > 0 ? ints_ : 0),
      nfloats(floats_ > 0 ? floats_ : 0),
      nstrings(strings_ > 0 ? strings_ : 0),
      ints(new int[(size_t)nints]()),
      floats(new float[(size_t)nfloats]()),
      strings(new char*[(size_t)nstrings]()),
      semCount(0) {
  for (int i = 0; i < nstrings; i++)
    strings[i] = copyText("");
}

otDataProvider::~otDataProvider() {
  for (int i = 0; i < nstrings; i++)
    delete[] strings[i];
}

int otDataProvider::getInt(int index) {
  if (!intIndex(index)) return -1;
  mutex.lock();
  int value = ints[index];
  mutex.unlock();
  return value;
}

float otDataProvider::getFloat(int index) {
  if (index < 0 || index >= nfloats) return 0.0f;
  mutex.lock();
  float value = floats[index];
  mutex.unlock();
  return value;
}

const char* otDataProvider::getString(int index) {
  if (index < 0 || index >= nstrings) return nullptr;
  mutex.lock();
  const char* value = strings[index];
  mutex.unlock();
  return value;
}

int otDataProvider::getIntArray(int index, int* values, int max) {
  if (index < 0 || index >= nstrings) return -1;
  mutex.lock();
  int n = otInterpreter::parseIntArray(strings[index], values, max);
  mutex.unlock();
  return n;
}

int otDataProvider::getFloatArray(int index, float* values, int max) {
  if (index < 0 || index >= nstrings) return -1;
  mutex.lock();
  int n = otInterpreter::parseFloatArray(strings[index], values, max);
  mutex.unlock();
  return n;
}

int otDataProvider::setInt(int index, int value) {
  if (!intIndex(index)) return -1;
  mutex.lock();
  ints[index] = value;
  mutex.unlock();
  return 0;
}

int otDataProvider::setFloat(int index, float value) {
  if (index < 0 || index >= nfloats) return -1;
  mutex.lock();
  floats[index] = value;
  mutex.unlock();
  return 0;
}

int otDataProvider::setString(int index, const char* text) {
  if (index < 0 || index >= nstrings || text == nullptr) return -1;
  char* copy = copyText(text);
  mutex.lock();
  char* old = strings[index];
  strings[index] = copy;
  mutex.unlock();
  delete[] old;
  return 0;
}

int otDataProvider::setIntArray(int index, int* values, int num) {
  if (num < 1 || values == nullptr || index < 0 || index >= nstrings) return -1;
  char text[ARRAY_TEXT];
  if (arrayText(values, num, "%d,", text, sizeof(text)) < 0) return -1;
  return setString(index, text);
}

int otDataProvider::setFloatArray(int index, float* values, int num) {
  if (num < 1 || values == nullptr || index < 0 || index >= nstrings) return -1;
  char text[ARRAY_TEXT];
  if (arrayText(values, num, "%f,", text, sizeof(text)) < 0) return -1;
  return setString(index, text);
}

int otDataProvider::getIntAndReset(int index) {
  if (!intIndex(index)) return -1;
  mutex.lock();
  int value = ints[index];
  ints[index] = -1;
  mutex.unlock();
  return value;
}

int otDataProvider::waitForReset(int index, int value, const std::atomic<int>* stop, int fd) {
  if (!intIndex(index)) return -1;
  for (;;) {
    mutex.lock();
    if (ints[index] == -1) {
      ints[index] = value;
      mutex.unlock();
      return 0;
    }
    mutex.unlock();
    // A client gone meanwhile must not have its value stored later over a newer one.
    if (stopped(stop) || peerGone(fd)) return -2;
    sleepWatching(fd, 10);
  }
}

int otDataProvider::setIntAndWaitForReset(int index, int value) {
  return waitForReset(index, value, nullptr, -1) == 0 ? 0 : -1;
}

int otDataProvider::setInt0Semaphore(int value) {
  int ret = setInt(0, value);
  {
    std::lock_guard<std::mutex> lk(semMutex);
    semCount++;
  }
  // Every waiter looks: one that belongs to a stopping server must not swallow the post.
  semCond.notify_all();
  return ret;
}

int otDataProvider::waitInt0(const std::atomic<int>* stop, int fd) {
  std::unique_lock<std::mutex> lk(semMutex);
  if (fd < 0) {
    semCond.wait(lk, [&] { return semCount > 0 || stopped(stop); });
  } else {
    // A post wakes the wait at once; the time limit only makes it look at the client again,
    // whose disconnection nothing would signal here.
    while (semCount == 0 && !stopped(stop)) {
      semCond.wait_for(lk, std::chrono::milliseconds(20));
      if (semCount == 0 && peerGone(fd)) return -2;
    }
  }
  // A post goes to a client that is still there to receive it, not to one that left.
  if (semCount > 0 && !stopped(stop) && !peerGone(fd)) {
    semCount--;
    return 0;
  }
  return -2;
}

int otDataProvider::getInt0Semaphore() {
  waitInt0(nullptr, -1);
  return getInt(0);
}

int otDataProvider::wakeWaiters() {
  // Taking the lock orders this after the stop flag was set and before any waiter's next look.
  { std::lock_guard<std::mutex> lk(semMutex); }
  semCond.notify_all();
  return 0;
}

int otDataProvider::run(otSocket* socket) {
  return serve(socket, nullptr);
}

int otDataProvider::serve(otSocket* socket, const std::atomic<int>* stop) {
  if (socket == nullptr || socket->s < 0) return 0;
  return serveDescriptor(socket->s, stop);
}

int otDataProvider::serveDescriptor(int fd, const std::atomic<int>* stop, const char* secret) {
  // Replies are whole lines in one write; there is nothing to gain from waiting to coalesce.
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  // The server is the only reader of its socket, so it reads ahead in large chunks. A line
  // longer than MAX_LINE characters is dropped whole, up to its line feed, rather than split
  // into lines that were never sent.
  otLineReader reader(fd, MAX_LINE + 1);
  std::unique_ptr<char[]> line(new char[MAX_LINE + 2]);
  std::string out;
  out.reserve(256);
  Session session;
  session.fd = fd;
  session.stop = stop;
  if (secret != nullptr && secret[0] != '\0') {
    session.secret = secret;
    session.secretLen = strlen(secret);
  }
  session.out = &out;
  while (!stopped(stop)) {
    int n = reader.readLine(line.get(), MAX_LINE + 2, 0);
    if (n == -2) continue;
    // The end, or a last line that the close cut short: that is no request.
    if (n <= 0 || line[n - 1] != '\n') break;
    handleRequest(line.get(), n - 1, &session);
    // The answers to requests that arrived together go out in one send, once no further
    // request is waiting in the buffer (a request that blocks sends what is pending first).
    if (!out.empty() && (session.closing || !reader.hasLine())) {
      if (otSendAll(fd, out.data(), (int)out.size()) < 0) break;
      out.clear();
    }
    if (session.closing) break;
  }
  return 0;
}

int otDataProvider::handleLine(const char* line, std::string* reply, const std::atomic<int>* stop) {
  reply->clear();
  if (line == nullptr) return 0;
  size_t len = strlen(line);
  if (len > 0 && line[len - 1] == '\n') len--;
  Session session;
  session.stop = stop;
  session.out = reply;
  return handleRequest(line, (int)len, &session);
}

void otDataProvider::appendString(int index, std::string* out) {
  static const char head[] = "stringResult(\"";
  static const char tail[] = "\")\n";
  const size_t headLen = sizeof(head) - 1, tailLen = sizeof(tail) - 1;
  size_t at = out->size();
  // Escaped under the lock: the stored string may be replaced as soon as it is released.
  mutex.lock();
  const char* stored = index >= 0 && index < nstrings ? strings[index] : "";
  int textLen = otInterpreter::escapedLength(stored);
  out->resize(at + headLen + (size_t)textLen + tailLen + 1);
  char* p = &(*out)[at];
  memcpy(p, head, headLen);
  otInterpreter::escapeString(stored, p + headLen, textLen + 1);
  mutex.unlock();
  memcpy(p + headLen + textLen, tail, tailLen);
  out->resize(at + headLen + (size_t)textLen + tailLen);
}

bool otDataProvider::flushPending(Session* session) {
  if (session->fd < 0 || session->out->empty()) return true;
  if (otSendAll(session->fd, session->out->data(), (int)session->out->size()) < 0) {
    session->closing = true;  // nobody to answer any more: end the connection
    return false;
  }
  session->out->clear();
  return true;
}

int otDataProvider::handleRequest(const char* line, int len, Session* session) {
  std::string* out = session->out;
  size_t before = out->size();
  const Command* command = findCommand(line, len);
  if (command == nullptr) return 0;  // not a request: ignored, as always
  if (session->secret != nullptr && !session->authorised && command->changes) {
    static const char refusal[] = "error(\"secret required\")\n";
    out->append(refusal, sizeof(refusal) - 1);
    session->closing = true;
    return (int)(sizeof(refusal) - 1);
  }
  ArgReader args(line + command->nameLen + 1, line + len);
  int index = 0, value = 0;
  float fvalue = 0.0f;
  switch (command->kind) {
    case SET_INT:
      if (args.integer(&index) && args.literal(',') && args.integer(&value) && args.literal(')') &&
          args.atEnd())
        setInt(index, value);
      return 0;
    case SET_INT_WAIT:
      if (args.integer(&index) && args.literal(',') && args.integer(&value) && args.literal(')') &&
          args.atEnd()) {
        // The answers before it must not wait for the handshake.
        if (!flushPending(session)) return 0;
        waitForReset(index, value, session->stop, session->fd);
      }
      return 0;
    case SET_FLOAT:
      if (args.integer(&index) && args.literal(',') && args.number(&fvalue) && args.literal(')') &&
          args.atEnd())
        setFloat(index, fvalue);
      return 0;
    case SET_STRING: {
      char text[MAX_LINE + 1];
      if (!(args.integer(&index) && args.literal(',') && args.text(text, sizeof(text)))) return 0;
      // Optional: array setters have always sent string(%d,"1,2,3,") without it.
      args.literal(')');
      if (args.atEnd()) setString(index, text);
      return 0;
    }
    case AUTH: {
      if (session->secret == nullptr) return 0;  // nothing to check against: ignored
      char given[MAX_SECRET + 1];
      bool ok = args.text(given, sizeof(given)) && args.literal(')') && args.atEnd() &&
                secretMatches(given, strlen(given), session->secret, session->secretLen);
      if (ok) {
        session->authorised = true;
        return 0;
      }
      static const char refusal[] = "error(\"wrong secret\")\n";
      out->append(refusal, sizeof(refusal) - 1);
      session->closing = true;
      return (int)(sizeof(refusal) - 1);
    }
    case GET_INT:
      if (!(args.integer(&index) && args.literal(')') && args.atEnd())) return 0;
      appendIntResult(out, getInt(index));
      break;
    case GET_INT_RESET:
      if (!(args.integer(&index) && args.literal(')') && args.atEnd())) return 0;
      appendIntResult(out, getIntAndReset(index));
      break;
    case GET_INT0_SEM:
      if (!(args.literal(')') && args.atEnd())) return 0;
      if (!flushPending(session)) return 0;
      before = out->size();
      if (waitInt0(session->stop, session->fd) != 0) return 0;
      appendIntResult(out, getInt(0));
      break;
    case GET_FLOAT: {
      if (!(args.integer(&index) && args.literal(')') && args.atEnd())) return 0;
      // buf holds the longest "%f" of a float (FLT_MAX has 39 digits before the point).
      char buf[128];
      int n = snprintf(buf, sizeof(buf), "floatResult(%f)\n", (double)getFloat(index));
      if (n <= 0 || n >= (int)sizeof(buf)) return 0;
      out->append(buf, (size_t)n);
      break;
    }
    case GET_STRING:
      if (!(args.integer(&index) && args.literal(')') && args.atEnd())) return 0;
      appendString(index, out);
      break;
  }
  return (int)(out->size() - before);
}

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
  for (;;) {
    int n = epoll_wait(epfd, events, 64, -1);
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

// ---------------------------------------------------------------------------------------------
// otDataProviderClient

otDataProviderClient::otDataProviderClient() : interpreter(4096) {
  text[0] = '\0';
}

otDataProviderClient::~otDataProviderClient() {}

int otDataProviderClient::setSecret(const char* secret) {
  if (secret == nullptr || secret[0] == '\0') {
    authLine.clear();
    return 0;
  }
  if (!validSecret(secret)) return -1;
  char escaped[2 * otDataProvider::MAX_SECRET + 1];
  if (otInterpreter::escapeString(secret, escaped, (int)sizeof(escaped)) < 0) return -1;
  authLine = std::string("auth(\"") + escaped + "\")\n";
  return 0;
}

const char* otDataProviderClient::withAuth(const char* request, int* len) {
  if (authLine.empty()) return request;
  scratch.assign(authLine);
  scratch.append(request, (size_t)*len);
  *len = (int)scratch.size();
  return scratch.data();
}

int otDataProviderClient::sendLine(otSocket* s, const char* line, int len) {
  if (s == nullptr || !s->isConnected()) return -1;
  if (len < 0 || len > otDataProvider::MAX_LINE + 1) return -1;
  // A set is not answered, so nothing acknowledges it soon: with Nagle's algorithm the next
  // request would wait for the peer's delayed acknowledgement (up to 40 ms).
  int on = 1;
  setsockopt(s->s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  int total = len;
  const char* data = withAuth(line, &total);
  // The caller learns the length of its own request line, as without a secret.
  return s->write(data, total) == total ? len : -1;
}

// Reads up to the line feed with one deadline for the whole line. The protocol answers one line
// per request and nothing unasked, so the client reads what has arrived without looking ahead
// first (one system call less per request); bytes behind the line feed could only be a line
// that no request is waiting for (a semaphore answer after its time-out) and are dropped.
int otDataProviderClient::readReply(otSocket* s, int timeout) {
  long long deadline = otDeadlineIn(timeout);
  char* buf = interpreter.line;
  int cap = interpreter.size - 1;
  int got = 0;
  bool tooLong = false;
  for (;;) {
    int ready = otPollOne(s->s, POLLIN, deadline);
    if (ready == 0) return 0;
    if (ready < 0) return -1;
    // Once the line is known to be too long, the rest of it is read into the line buffer
    // again and thrown away.
    if (tooLong) got = 0;
    ssize_t n = otRecvRetry(s->s, buf + got, (size_t)(cap - got), 0);
    if (n <= 0) {
      s->disconnect();
      return -1;
    }
    const char* nl = static_cast<const char*>(memchr(buf + got, '\n', (size_t)n));
    got += (int)n;
    if (nl != nullptr) {
      if (tooLong) return -1;
      buf[nl - buf] = '\0';
      return 1;
    }
    if (got >= cap) tooLong = true;
  }
}

int otDataProviderClient::transact(otSocket* s, const char* request, int len, int timeout,
                                   bool reconnect, int* status) {
  int dummy;
  if (status == nullptr) status = &dummy;
  interpreter.line[0] = '\0';
  if (s == nullptr || !s->isConnected() || s->write(request, len) != len) return *status = -1;
  int ret = readReply(s, timeout);
  if (ret == 1) return 0;
  if (ret == 0) {
    if (reconnect) {
      s->disconnect();
      s->connect();
    }
    return *status = -2;
  }
  return *status = -1;
}

// One request answered by "intResult(%d)".
int otDataProviderClient::intRequest(otSocket* s, const char* request, int len, int timeout,
                                     bool reconnect, int* status) {
  int ret = transact(s, request, len, timeout, reconnect, status);
  int value = 0;
  if (ret == 0 && !(interpreter.isCommand("intResult(") &&
                    sscanf(interpreter.line, "intResult(%d)", &value) == 1))
    ret = -1;
  if (status != nullptr) *status = ret;
  return ret == 0 ? value : 0;
}

int otDataProviderClient::getInt(otSocket* s, int index, int* status) {
  char request[64];
  int len = snprintf(request, sizeof(request), "getInt(%d)\n", index);
  return intRequest(s, request, len, REPLY_TIMEOUT, true, status);
}

int otDataProviderClient::getIntAndReset(otSocket* s, int index, int* status) {
  char request[64];
  int len = snprintf(request, sizeof(request), "getIntAndReset(%d)\n", index);
  const char* data = withAuth(request, &len);
  return intRequest(s, data, len, REPLY_TIMEOUT, true, status);
}

int otDataProviderClient::getInt0Semaphore(otSocket* s, int* status) {
  static const char request[] = "getInt0Semaphore()\n";
  int len = (int)sizeof(request) - 1;
  const char* data = withAuth(request, &len);
  return intRequest(s, data, len, SEMAPHORE_TIMEOUT, false, status);
}

float otDataProviderClient::getFloat(otSocket* s, int index, int* status) {
  char request[64];
  int len = snprintf(request, sizeof(request), "getFloat(%d)\n", index);
  int ret = transact(s, request, len, REPLY_TIMEOUT, true, status);
  float value = 0.0f;
  if (ret == 0 && !(interpreter.isCommand("floatResult(") &&
                    sscanf(interpreter.line, "floatResult(%f)", &value) == 1))
    ret = -1;
  if (status != nullptr) *status = ret;
  return ret == 0 ? value : 0.0f;
}

const char* otDataProviderClient::getString(otSocket* s, int index, int* status) {
  char request[64];
  int len = snprintf(request, sizeof(request), "getString(%d)\n", index);
  int ret = transact(s, request, len, REPLY_TIMEOUT, true, status);
  text[0] = '\0';
  if (ret == 0 &&
      !(interpreter.isCommand("stringResult(") && interpreter.copyStringParam(text, 0) >= 0))
    ret = -1;
  if (status != nullptr) *status = ret;
  return ret == 0 ? text : nullptr;
}

int otDataProviderClient::getIntArray(otSocket* s, int index, int* values, int max) {
  int status = -1;
  const char* t = getString(s, index, &status);
  if (status != 0) return -1;
  return otInterpreter::parseIntArray(t, values, max);
}

int otDataProviderClient::getFloatArray(otSocket* s, int index, float* values, int max) {
  int status = -1;
  const char* t = getString(s, index, &status);
  if (status != 0) return -1;
  return otInterpreter::parseFloatArray(t, values, max);
}

int otDataProviderClient::setInt(otSocket* s, int index, int value) {
  char line[64];
  return sendLine(s, line, snprintf(line, sizeof(line), "int(%d,%d)\n", index, value));
}

int otDataProviderClient::setIntAndWaitForReset(otSocket* s, int index, int value) {
  char line[64];
  return sendLine(s, line, snprintf(line, sizeof(line), "intAndReset(%d,%d)\n", index, value));
}

int otDataProviderClient::setFloat(otSocket* s, int index, float value) {
  char line[128];  // room for the longest "%f" of a float
  return sendLine(s, line, snprintf(line, sizeof(line), "float(%d,%f)\n", index, (double)value));
}

int otDataProviderClient::setString(otSocket* s, int index, const char* value) {
  if (s == nullptr || !s->isConnected() || value == nullptr) return -1;
  if (otInterpreter::escapedLength(value) > MAX_STRING) return -1;
  char line[otDataProvider::MAX_LINE + 2];
  int len = snprintf(line, sizeof(line), "string(%d,\"", index);
  int n = otInterpreter::escapeString(value, line + len, (int)sizeof(line) - len);
  if (n < 0) return -1;
  len += n;
  if (len + 3 > otDataProvider::MAX_LINE + 1) return -1;
  memcpy(line + len, "\")\n", 3);
  return sendLine(s, line, len + 3);
}

template <typename T>
int otDataProviderClient::setArray(otSocket* s, int index, const T* values, int num,
                                   const char* format) {
  if (s == nullptr || !s->isConnected() || values == nullptr || num < 1) return -1;
  // Line limit of the protocol for arrays: 4091 characters, line feed included.
  enum { LIMIT = 4091 };
  char line[LIMIT + 1];
  int len = snprintf(line, sizeof(line), "string(%d,\"", index);
  int n = arrayText(values, num, format, line + len, (int)sizeof(line) - len);
  if (n < 0 || n > MAX_STRING) return -1;
  len += n;
  if (len + 2 > LIMIT) return -1;
  memcpy(line + len, "\"\n", 2);
  return sendLine(s, line, len + 2);
}

int otDataProviderClient::setIntArray(otSocket* s, int index, int* values, int num) {
  return setArray(s, index, values, num, "%d,");
}

int otDataProviderClient::setFloatArray(otSocket* s, int index, float* values, int num) {
  return setArray(s, index, values, num, "%f,");
}
