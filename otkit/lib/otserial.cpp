#include "otserial.h"
#include "otlog.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "otpoll.h"
#include "otwthread.h"

namespace {

struct Speed {
  unsigned long baud;
  speed_t code;
};

const Speed kSpeeds[] = {
    {50, B50},           {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},         {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},     {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

}  // namespace

speed_t otBaudConstant(unsigned long baud) {
  for (const Speed& s : kSpeeds)
    if (s.baud == baud) return s.code;
  return B0;
}

unsigned long otBaudRate(speed_t code) {
  for (const Speed& s : kSpeeds)
    if (s.code == code) return s.baud;
  return 0;
}

otSerial::otSerial() : fd(-1), trace(0) {
  memset(&saved, 0, sizeof(saved));
}

otSerial::~otSerial() {
  closeDevice();
}

int otSerial::setTrace(int on) {
  trace = on == 1 ? 1 : 0;
  return trace;
}

int otSerial::openDevice(const char* device, int speed, int block, int rtscts, int bits,
                         int stopbits, int parity) {
  if (fd >= 0 || device == nullptr) return -1;
  // An unknown speed is refused before the device is opened: opening alone raises the modem
  // lines of a real port.
  struct termios probe;
  memset(&probe, 0, sizeof(probe));
  if (cfsetospeed(&probe, (speed_t)speed) < 0 || cfsetispeed(&probe, (speed_t)speed) < 0) return -1;

  // Non-blocking, so that a port waiting for carrier cannot hang the open; CLOCAL follows.
  // Close-on-exec keeps a spawned program from holding the line open.
  int f = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (f < 0) return -1;
  struct termios old;
  if (tcgetattr(f, &old) < 0) {
    ::close(f);
    return -1;
  }

  struct termios t = old;
  t.c_cflag = CREAD | CLOCAL;
  if (rtscts == 1) t.c_cflag |= CRTSCTS;
  t.c_cflag |= bits == 7 ? CS7 : CS8;
  if (stopbits == 2) t.c_cflag |= CSTOPB;
  if (parity == ODD)
    t.c_cflag |= PARENB | PARODD;
  else if (parity == EVEN)
    t.c_cflag |= PARENB;
  cfsetospeed(&t, (speed_t)speed);
  cfsetispeed(&t, (speed_t)speed);
  // Raw: no input translation, parity errors and breaks dropped, no output translation
  // (OPOST alone changes nothing), no canonical mode, echo or signal characters.
  t.c_iflag = IGNBRK | IGNPAR | IXANY;
  t.c_oflag = OPOST;
  t.c_lflag = IEXTEN;
  t.c_line = 0;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(f, TCSAFLUSH, &t) < 0) {
    ::close(f);
    return -1;
  }

  if (block == 1) {
    int flags = fcntl(f, F_GETFL);
    if (flags < 0 || fcntl(f, F_SETFL, flags & ~O_NONBLOCK) < 0) {
      tcsetattr(f, TCSANOW, &old);
      ::close(f);
      return -1;
    }
  }
  tcflush(f, TCIOFLUSH);
  saved = old;
  fd = f;
  return 0;
}

int otSerial::adoptDevice(int f) {
  if (fd >= 0 || f < 0) return -1;
  struct termios now;
  if (tcgetattr(f, &now) < 0) return -1;
  saved = now;
  fd = f;
  return 0;
}

int otSerial::closeDevice() {
  if (fd < 0) return -1;
  // TCSADRAIN: bytes still queued must leave at the speed they were meant for.
  int r;
  do {
    r = tcsetattr(fd, TCSADRAIN, &saved);
  } while (r < 0 && errno == EINTR);
  // Closed even when the restore fails (an unplugged adapter), or the descriptor would leak.
  ::close(fd);
  fd = -1;
  return r < 0 ? -1 : 0;
}

// Returns 0..255, -1 on a read error, -2 at end of data, AGAIN when a non-blocking read found
// nothing. A signal does not end the read.
OT_CANCELLATION_POINT int otSerial::readByte() {
  unsigned char c;
  for (;;) {
    ssize_t r = ::read(fd, &c, 1);
    if (r == 1) return c;
    if (r == 0) return -2;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return AGAIN;
    return -1;
  }
}

// Waits at most timeout milliseconds (negative: no limit) for input; 1, 0 when the time is up,
// -1 on error. A hang-up or error condition counts as input so that the read reports it at
// once; a signal does not cut the wait short.
OT_CANCELLATION_POINT int otSerial::waitInput(int timeout) {
  struct pollfd p = {fd, POLLIN, 0};
  int r = otPollUntil(&p, 1, otDeadlineIn(timeout));
  if (r > 0) return (p.revents & POLLNVAL) ? -1 : 1;
  return r;
}

// Waits without limit for room in the output queue of a non-blocking line, as a blocking
// write would; 1, or -1 when the line cannot take output any more.
int otSerial::waitOutput() {
  struct pollfd p = {fd, POLLOUT, 0};
  int r = otPollUntil(&p, 1, OT_NO_DEADLINE);
  return r > 0 && (p.revents & POLLOUT) ? 1 : -1;
}

int otSerial::readChar() {
  if (fd < 0) return -1;
  int c = readByte();
  return c == AGAIN ? -2 : c;
}

int otSerial::select(int timeout) {
  if (fd < 0) return -1;
  if (timeout < 1) return 1;
  return waitInput(timeout);
}

int otSerial::writeChar(unsigned char c) {
  if (fd < 0) return -1;
  otLogDebug(trace, "writeChar %d\n", c);
  for (;;) {
    ssize_t r = ::write(fd, &c, 1);
    if (r == 1) return 1;
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitOutput() == 1) continue;
    return -1;
  }
}

static void traceBlock(const unsigned char* data, int length) {
  std::string line = "writeBlock:";
  line.reserve(12 + 4 * (size_t)length);
  char num[8];
  for (int i = 0; i < length; i++) {
    snprintf(num, sizeof(num), " %d", data[i]);
    line += num;
  }
  line += '\n';
  // One write per block, so that lines of several objects do not mix.
  fputs(line.c_str(), stdout);
  fflush(stdout);
}

int otSerial::writeBlock(const unsigned char* data, int length) {
  if (fd < 0 || length < 0 || (data == nullptr && length > 0)) return -1;
  if (trace) traceBlock(data, length);
  // A non-blocking line takes only what fits into its output queue; the rest is written as
  // room becomes free, so that no caller mistakes a cut telegram for a sent one.
  int done = 0;
  while (done < length) {
    ssize_t r = ::write(fd, data + done, (size_t)(length - done));
    if (r > 0) {
      done += (int)r;
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitOutput() == 1) continue;
    return -1;
  }
  return length;
}

OT_CANCELLATION_POINT int otSerial::readBlock(unsigned char* buf, int count, int timeout) {
  if (fd < 0 || buf == nullptr || count <= 0) return -1;
  int n = 0;
  while (n < count) {
    if (timeout > 0) {
      int s = waitInput(timeout);
      if (s < 0) return -1;
      if (s == 0) return n > 0 ? n : -1;
    }
    int c = readByte();
    if (c == AGAIN) {
      // Nothing there on a non-blocking line. Without waiting, what was read is the result;
      // otherwise wait again (without limit for timeout 0) instead of spinning.
      if (timeout < 0) return n > 0 ? n : -2;
      if (timeout == 0 && waitInput(-1) < 0) return -1;
      continue;
    }
    if (c < 0) return c;
    buf[n++] = (unsigned char)c;
  }
  return count;
}

OT_CANCELLATION_POINT int otSerial::readLine(unsigned char* buf, int maxlen, int timeout) {
  if (buf == nullptr || maxlen <= 1) return -1;
  buf[maxlen - 1] = 0;
  if (fd < 0) return -1;
  int n = 0;
  while (n < maxlen - 2) {
    if (timeout > 0 && waitInput(timeout) != 1) {
      buf[n] = 0;
      return -1;
    }
    int c = readByte();
    if (c == AGAIN) {
      if (timeout > 0) continue;
      if (timeout == 0) {
        if (waitInput(-1) == 1) continue;
        c = -1;
      } else {
        c = -2;
      }
    }
    if (c < 0) {
      buf[n] = 0;
      return c;
    }
    buf[n] = (unsigned char)c;
    if (c < 32 && c != '\t') {
      buf[n + 1] = 0;
      return n;
    }
    n++;
  }
  buf[n] = 0;
  return n;
}
