#include "otdataprovider.h"
#include "otdataprovider_p.h"
#include "otnumber.h"
#include "otpeekline.h"
#include "otpoll.h"

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
    // Once the line is known to be too long, the rest of it is read into the line buffer
    // again and thrown away.
    if (tooLong) got = 0;
    ssize_t n = s->recvUntil(buf + got, (size_t)(cap - got), deadline);
    if (n == -2) return 0;
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
  if (ret == 0) {
    const char* number = interpreter.line + strlen("floatResult(");
    char* end = nullptr;
    if (interpreter.isCommand("floatResult(")) value = otStrtof(number, &end);
    if (end == nullptr || end == number) ret = -1;
  }
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
