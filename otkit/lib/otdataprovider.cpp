#include "otdataprovider.h"
#include "otdataprovider_p.h"

#include "otlinereader.h"
#include "otnumber.h"
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

namespace {

// Text of an array setter: at most MAX_LINE characters with the trailing comma.
enum { ARRAY_TEXT = otDataProvider::MAX_LINE + 1 };

char* copyText(const char* text) {
  size_t len = strlen(text);
  char* copy = new char[len + 1];
  memcpy(copy, text, len + 1);
  return copy;
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
    errno = 0;
    char* end = nullptr;
    float v = otStrtof(buf, &end);
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
