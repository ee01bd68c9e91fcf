// The QApplication of a fuzz target or replay that drives Qt widgets: made once, offscreen,
// with a private runtime directory that is removed again at exit. Including it also brings
// LeakSanitizer's suppressions for Qt's own one-time allocations.
#ifndef OTWIDGETS_QTFUZZAPP_H
#define OTWIDGETS_QTFUZZAPP_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>

#include "otoptions.h"
#include "qtlsan.h"

// Returns true when the application was made by this call (the caller's one-time set-up).
inline bool fuzzApplication(const char* name) {
  static int argc = 1;
  static char program[64];
  static char* argv[] = {program, nullptr};
  static QApplication* app = nullptr;
  if (app != nullptr) return false;
  snprintf(program, sizeof program, "%s", name);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static char dir[] = "/tmp/otkit-fuzz-XXXXXX";
  if (getenv("XDG_RUNTIME_DIR") == nullptr && mkdtemp(dir) != nullptr) {
    setenv("XDG_RUNTIME_DIR", dir, 1);
    atexit([] { rmdir(dir); });
  }
  otOptionsDefaults(&opt);
  app = new QApplication(argc, argv);
  return true;
}

// A listening socket on a free loopback port, for a target that plays the server: its
// descriptor, or -1 (*port is then 0).
inline int fuzzListener(int* port) {
  *port = 0;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(sin);
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0 &&
      listen(fd, 4) == 0 && getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) == 0) {
    *port = ntohs(sin.sin_port);
    return fd;
  }
  if (fd >= 0) close(fd);
  return -1;
}

#endif
