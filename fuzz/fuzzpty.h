// What the serial-line fuzz targets share: one pseudo-terminal per process whose master side
// the target drives while otSerial opens the slave by its path, and a watchdog that turns an
// input that never finishes (a read waiting without a time limit) into a crash.
#ifndef OTKIT_FUZZPTY_H
#define OTKIT_FUZZPTY_H

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

namespace fuzzpty {

inline long long nowMs() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

inline void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "fuzz: %s\n", what);
    abort();
  }
}

// The master side is non-blocking; a spare descriptor keeps the slave open and lets the
// target count and flush its input queue.
struct Pty {
  int master = -1;
  int spare = -1;
  std::string path;

  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    check(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0, "posix_openpt");
    const char* name = ptsname(master);
    check(name != nullptr, "ptsname");
    path = name;
    check(fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) == 0, "fcntl");
    spare = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    check(spare >= 0, "open slave");
  }
  ~Pty() {
    close(spare);
    close(master);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  // Bytes waiting in the slave's input queue.
  size_t pending() {
    int n = 0;
    return ioctl(spare, FIONREAD, &n) == 0 && n > 0 ? (size_t)n : 0;
  }

  // Empties both directions, so that nothing of one input is left for the next.
  void drain() {
    tcflush(spare, TCIOFLUSH);
    char buf[4096];
    while (read(master, buf, sizeof(buf)) > 0) {
    }
  }

  // Puts the bytes on the line and waits (briefly) until they have all arrived.
  void send(const uint8_t* data, size_t n) {
    size_t sent = 0;
    while (sent < n) {
      ssize_t w = write(master, data + sent, n - sent);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) break;  // queue full: the rest is not sent
      sent += (size_t)w;
    }
    long long end = nowMs() + 500;
    while (pending() < sent && nowMs() < end)
      usleep(20);
  }
};

// Set busySince to nowMs() while an input runs and back to 0 after it; an input that runs
// longer than limitMs aborts the process with message.
inline std::atomic<long long> busySince{0};

inline void startWatchdog(const char* message, long long limitMs) {
  static bool started = false;
  if (started) return;
  started = true;
  std::thread([message, limitMs] {
    for (;;) {
      usleep(100000);
      long long since = busySince;
      if (since != 0 && nowMs() - since > limitMs) {
        fprintf(stderr, "%s\n", message);
        abort();
      }
    }
  }).detach();
}

}  // namespace fuzzpty

#endif
