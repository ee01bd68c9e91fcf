#include "otdataprovider.h"

#include "otlinereader.h"
#include "otpeekline_p.h"
#include "otpoll_p.h"
#include "otsendall_p.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>

namespace {

// Text of an array setter: at most MAX_LINE characters with the trailing comma.
enum { ARRAY_TEXT = otDataProvider::MAX_LINE + 1 };

bool startsWith(const char* line, const char* prefix) {
  return strncmp(line, prefix, strlen(prefix)) == 0;
}

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

int otDataProvider::waitForReset(int index, int value, const std::atomic<int>* stop) {
  if (!intIndex(index)) return -1;
  for (;;) {
    mutex.lock();
    if (ints[index] == -1) {
      ints[index] = value;
      mutex.unlock();
      return 0;
    }
    mutex.unlock();
    if (stopped(stop)) return -2;
    otsleep(10);
  }
}

int otDataProvider::setIntAndWaitForReset(int index, int value) {
  return waitForReset(index, value, nullptr) == 0 ? 0 : -1;
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

int otDataProvider::waitInt0(const std::atomic<int>* stop) {
  std::unique_lock<std::mutex> lk(semMutex);
  semCond.wait(lk, [&] { return semCount > 0 || stopped(stop); });
  if (semCount > 0 && !stopped(stop)) {
    semCount--;
    return 0;
  }
  return -2;
}

int otDataProvider::getInt0Semaphore() {
  waitInt0(nullptr);
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

int otDataProvider::serveDescriptor(int fd, const std::atomic<int>* stop) {
  // Replies are whole lines in one write; there is nothing to gain from waiting to coalesce.
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  // The server is the only reader of its socket, so it reads ahead in large chunks. A line
  // longer than MAX_LINE characters is dropped whole, up to its line feed, rather than split
  // into lines that were never sent.
  otLineReader reader(fd, MAX_LINE + 1);
  std::unique_ptr<char[]> line(new char[MAX_LINE + 2]);
  std::string reply;
  reply.reserve(256);
  while (!stopped(stop)) {
    int n = reader.readLine(line.get(), MAX_LINE + 2, 0);
    if (n == -2) continue;
    // The end, or a last line that the close cut short: that is no request.
    if (n <= 0 || line[n - 1] != '\n') break;
    line[n - 1] = '\0';
    int len = handleLine(line.get(), &reply, stop);
    if (len > 0 && otSendAll(fd, reply.data(), len) < 0) break;
  }
  return 0;
}

int otDataProvider::handleLine(const char* line, std::string* reply, const std::atomic<int>* stop) {
  reply->clear();
  if (line == nullptr) return 0;
  int index = 0, value = 0;
  float fvalue = 0.0f;
  char out[128];
  int len = 0;
  // The order matters only where one command is a prefix of another; the table keeps the
  // protocol's order.
  if (startsWith(line, "int(")) {
    if (sscanf(line, "int(%d,%d)", &index, &value) == 2) setInt(index, value);
    return 0;
  }
  if (startsWith(line, "intAndReset(")) {
    if (sscanf(line, "intAndReset(%d,%d)", &index, &value) == 2) waitForReset(index, value, stop);
    return 0;
  }
  if (startsWith(line, "float(")) {
    if (sscanf(line, "float(%d,%f)", &index, &fvalue) == 2) setFloat(index, fvalue);
    return 0;
  }
  if (startsWith(line, "string(")) {
    char text[MAX_LINE + 1];
    // A request without its opening quote carries no string; it is not taken for "".
    if (sscanf(line, "string(%d,", &index) == 1 &&
        otInterpreter::quotedString(line, 0, text, sizeof(text)) >= 0)
      setString(index, text);
    return 0;
  }
  if (startsWith(line, "getInt(")) {
    if (sscanf(line, "getInt(%d)", &index) != 1) return 0;
    len = snprintf(out, sizeof(out), "intResult(%d)\n", getInt(index));
  } else if (startsWith(line, "getIntAndReset(")) {
    if (sscanf(line, "getIntAndReset(%d)", &index) != 1) return 0;
    len = snprintf(out, sizeof(out), "intResult(%d)\n", getIntAndReset(index));
  } else if (startsWith(line, "getInt0Semaphore()")) {
    if (waitInt0(stop) != 0) return 0;
    len = snprintf(out, sizeof(out), "intResult(%d)\n", getInt(0));
  } else if (startsWith(line, "getFloat(")) {
    if (sscanf(line, "getFloat(%d)", &index) != 1) return 0;
    // out holds the longest "%f" of a float (FLT_MAX has 39 digits before the point).
    len = snprintf(out, sizeof(out), "floatResult(%f)\n", (double)getFloat(index));
  } else if (startsWith(line, "getString(")) {
    if (sscanf(line, "getString(%d)", &index) != 1) return 0;
    static const char head[] = "stringResult(\"";
    static const char tail[] = "\")\n";
    const int headLen = (int)sizeof(head) - 1, tailLen = (int)sizeof(tail) - 1;
    // Escaped under the lock: the stored string may be replaced as soon as it is released.
    mutex.lock();
    const char* stored = index >= 0 && index < nstrings ? strings[index] : "";
    int textLen = otInterpreter::escapedLength(stored);
    reply->resize((size_t)(headLen + textLen + tailLen + 1));
    char* p = &(*reply)[0];
    memcpy(p, head, (size_t)headLen);
    otInterpreter::escapeString(stored, p + headLen, textLen + 1);
    mutex.unlock();
    memcpy(p + headLen + textLen, tail, (size_t)tailLen);
    reply->resize((size_t)(headLen + textLen + tailLen));
    return (int)reply->size();
  } else {
    return 0;
  }
  if (len <= 0 || len >= (int)sizeof(out)) return 0;
  reply->assign(out, (size_t)len);
  return len;
}

// ---------------------------------------------------------------------------------------------
// otDataProviderThreads

otDataProviderThreads::otDataProviderThreads(int port_, otDataProvider* provider_)
    : provider(provider_), port(port_), stopping(0), started(false) {}

otDataProviderThreads::~otDataProviderThreads() {
  stop();
}

int otDataProviderThreads::start() {
  if (port < 1 || port > 65535 || provider == nullptr) return -1;
  std::lock_guard<std::mutex> lk(lock);
  if (started || stopping.load()) return -1;
  otAcceptConfig config;
  config.port = port;  // with the default deep backlog a burst of clients is queued whole
  config.bindRetryMs = 1000;
  if (loop.start(config, serveConnection, this) != 0) return -1;
  started = true;
  return 0;
}

void otDataProviderThreads::serveConnection(int fd, void* arg) {
  otDataProviderThreads* self = static_cast<otDataProviderThreads*>(arg);
  self->provider->serveDescriptor(fd, &self->stopping);
}

int otDataProviderThreads::stop() {
  std::lock_guard<std::mutex> lk(lock);
  stopping.store(1);
  if (!started) return 0;
  // The blocked handshakes see the flag; the loop then shuts the sockets down and waits.
  provider->wakeWaiters();
  loop.stop();
  return 0;
}

// ---------------------------------------------------------------------------------------------
// otDataProviderClient

otDataProviderClient::otDataProviderClient() : interpreter(4096) {
  text[0] = '\0';
}

otDataProviderClient::~otDataProviderClient() {}

int otDataProviderClient::sendLine(otSocket* s, const char* line, int len) {
  if (s == nullptr || !s->isConnected()) return -1;
  if (len < 0 || len > otDataProvider::MAX_LINE + 1) return -1;
  // A set is not answered, so nothing acknowledges it soon: with Nagle's algorithm the next
  // request would wait for the peer's delayed acknowledgement (up to 40 ms).
  int on = 1;
  setsockopt(s->s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  return s->write(line, len);
}

// Reads up to the line feed with one deadline for the whole line. otTakeLinePart takes only
// this line off the socket: an answer that comes late stays for whoever reads next.
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
    bool complete;
    ssize_t n = otTakeLinePart(s->s, buf + got, (size_t)(cap - got), &complete);
    if (n <= 0) {
      s->disconnect();
      return -1;
    }
    got += (int)n;
    if (complete) {
      if (tooLong) return -1;
      buf[got - 1] = '\0';
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
  return intRequest(s, request, len, REPLY_TIMEOUT, true, status);
}

int otDataProviderClient::getInt0Semaphore(otSocket* s, int* status) {
  static const char request[] = "getInt0Semaphore()\n";
  return intRequest(s, request, (int)sizeof(request) - 1, SEMAPHORE_TIMEOUT, false, status);
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
