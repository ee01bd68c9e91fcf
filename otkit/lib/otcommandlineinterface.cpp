#include "otcommandlineinterface.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "otserial.h"
#include "otsocket.h"
#include "otspawn.h"
#include "otwthread.h"

otCommandlineInterface::otCommandlineInterface() : sock(nullptr), child(nullptr), tty(nullptr) {
  line[0] = '\0';
}

otCommandlineInterface::~otCommandlineInterface() {
  drop();
}

void otCommandlineInterface::drop() {
  delete sock;
  sock = nullptr;
  delete child;
  child = nullptr;
  tty = nullptr;
}

int otCommandlineInterface::start(const char* how, const char* command) {
  drop();
  if (how == nullptr) return -1;
  if (strcmp(how, "pipe") == 0) {
    if (command == nullptr) return -1;
    child = new otSpawn();
    int pid = child->spawn(command);
    if (pid < 0) {
      delete child;
      child = nullptr;
      return -1;
    }
    return pid;
  }
  if (strcmp(how, "stdio") == 0) return 1;
  // The last colon separates the port, so a numeric IPv6 host keeps its own colons.
  const char* colon = strrchr(how, ':');
  if (colon == nullptr) return -1;
  std::string host(how, (size_t)(colon - how));
  int port = atoi(colon + 1);
  int active = 1;
  if (host == "server.localhost") {
    host = "localhost";
    active = 0;
  } else if (host == "localhost" && command != nullptr) {
    std::string background = std::string(command) + " &";
    otsystem(background.c_str());
  }
  sock = new otSocket(host.c_str(), port, active);
  for (int i = 0; i < 10; i++) {
    int s = sock->connect();
    if (s >= 0) return s;
    otsleep(10);
  }
  // The unconnected socket stays: reads and writes fail instead of going to the terminal.
  return -1;
}

int otCommandlineInterface::start(otSerial* serial) {
  drop();
  if (serial == nullptr) return -1;
  tty = serial;
  return 1;
}

const char* otCommandlineInterface::readLine(int timeout) {
  if (child != nullptr) {
    if (timeout > 0 && child->select(timeout) != 1) return nullptr;
    const char* got = child->readLine();
    if (got == nullptr) return nullptr;
    otstrncpy(line, got, LINE_BUFFER - 1);
    return line;
  }
  if (sock != nullptr) {
    int r = sock->readStr(line, LINE_BUFFER, timeout);
    // 0 means only that the time limit passed: the peer is still there.
    if (r == 0) return nullptr;
    if (r < 0) {
      sock->disconnect();
      return nullptr;
    }
    return line;
  }
  if (tty != nullptr) {
    int r = tty->readLine(reinterpret_cast<unsigned char*>(line), LINE_BUFFER, timeout);
    return r > 0 ? line : nullptr;
  }
  return fgets(line, LINE_BUFFER, stdin);
}

int otCommandlineInterface::readBlock(void* buf, int len, int timeout) {
  if (buf == nullptr || len < 0) return -1;
  if (len == 0) return 0;
  unsigned char* p = static_cast<unsigned char*>(buf);
  if (child != nullptr) {
    for (int i = 0; i < len; i++) {
      if (timeout > 0 && child->select(timeout) != 1) return -1;
      int c = child->getchar();
      if (c < 0) return -1;
      p[i] = (unsigned char)c;
    }
    return len;
  }
  if (sock != nullptr) {
    if (!sock->isConnected()) return -1;
    // A timed-out block read drops its partial data, so the stream is out of step: the
    // connection goes, as on any other failure.
    if (sock->read(p, len, timeout) < 1) {
      sock->disconnect();
      return -1;
    }
    return len;
  }
  if (tty != nullptr) return tty->readBlock(p, len, timeout < 0 ? 0 : timeout);
  // fread, not read(2): readLine reads standard input through the same stdio buffer.
  size_t got = fread(p, 1, (size_t)len, stdin);
  return got > 0 ? (int)got : -1;
}

int otCommandlineInterface::printf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = otvsnprintf(line, LINE_BUFFER, format, ap);
  va_end(ap);
  if (r < 0) return -1;
  return writeBlock(line, (int)strlen(line));
}

int otCommandlineInterface::writeBlock(const void* buf, int len) {
  if (buf == nullptr || len < 0) return -1;
  if (child != nullptr) return child->write(static_cast<const char*>(buf), len);
  if (sock != nullptr) {
    if (!sock->isConnected()) return -1;
    return sock->write(buf, len);
  }
  if (tty != nullptr) return tty->writeBlock(static_cast<const unsigned char*>(buf), len);
  size_t put = fwrite(buf, 1, (size_t)len, stdout);
  if (fflush(stdout) != 0 || put != (size_t)len) return -1;
  return len;
}
