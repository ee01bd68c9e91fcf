extern "C" {
#include "setport.h"
}

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "otserial.h"

namespace {

// The terminal speed for a decimal string, strictly digits only: "9600 " or "+9600" is a typo
// in a generated define, and guessing would run the bus at a speed nobody asked for.
bool speedFor(const char* baud, speed_t* code) {
  if (baud == nullptr || *baud == 0) return false;
  unsigned long v = 0;
  for (const char* p = baud; *p; p++) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + (unsigned long)(*p - '0');
    if (v > 100000000UL) return false;  // beyond every speed; stops the overflow
  }
  *code = otBaudConstant(v);
  return *code != B0;
}

int fail(const char* what, const char* name, int err) {
  fprintf(stderr, "setPort: %s %s: %s\n", what, name, strerror(err));
  return -1;
}

}  // namespace

int setPort(const char* name, const char* baud, char parity) {
  if (name == nullptr || *name == 0) {
    fprintf(stderr, "setPort: no device name given\n");
    return -1;
  }
  // Speed and parity are checked before the open: opening alone raises the modem lines of a
  // real port, which a refused call should not do.
  speed_t code;
  if (!speedFor(baud, &code)) {
    fprintf(stderr, "setPort: unsupported speed %s for %s\n", baud ? baud : "(none)", name);
    return -1;
  }
  tcflag_t par;
  switch (parity) {
    case 'E':
    case 'e':
      par = PARENB;
      break;
    case 'O':
    case 'o':
      par = PARENB | PARODD;
      break;
    case 'N':
    case 'n':
      par = 0;
      break;
    default:
      if (parity > ' ' && parity < 127)
        fprintf(stderr, "setPort: unsupported parity %c for %s (E, O or N)\n", parity, name);
      else
        fprintf(stderr, "setPort: unsupported parity %d for %s (E, O or N)\n", parity, name);
      return -1;
  }

  // Non-blocking open so that a port waiting for carrier cannot hang here; CLOCAL below makes
  // the carrier irrelevant afterwards. Close-on-exec keeps spawned programs off the line.
  int fd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail("cannot open", name, errno);
  // Daemons often run with the standard descriptors closed, so the port may come back as 0, 1
  // or 2: callers test "> 0" for success, and a stray printf would go out on the bus.
  if (fd <= 2) {
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    int err = errno;
    close(fd);
    if (moved < 0) return fail("cannot open", name, err);
    fd = moved;
  }

  struct termios t;
  if (tcgetattr(fd, &t) < 0) {
    int err = errno;
    close(fd);
    return fail("cannot set up", name, err);
  }
  // Raw: no translation on input or output, no canonical mode, echo or signal characters.
  // With parity on, characters with a parity error are dropped, so the frame check of the
  // protocol sees a short frame instead of a wrong byte; breaks are ignored.
  t.c_iflag = IGNBRK | (par ? (INPCK | IGNPAR) : 0);
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag = CS8 | CREAD | CLOCAL | par;
  t.c_line = 0;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (cfsetospeed(&t, code) < 0 || cfsetispeed(&t, code) < 0 || tcsetattr(fd, TCSANOW, &t) < 0) {
    int err = errno;
    close(fd);
    return fail("cannot set up", name, err);
  }
  // tcsetattr succeeds when any one of the settings took; a driver that ignored the speed
  // would put the daemon on the bus at a rate nobody answers. Parity is not checked back: a
  // pseudo-terminal (a line forwarded over the network) always reports it off.
  struct termios got;
  if (tcgetattr(fd, &got) < 0 || cfgetospeed(&got) != code || cfgetispeed(&got) != code ||
      (got.c_cflag & CSIZE) != CS8) {
    close(fd);
    fprintf(stderr, "setPort: cannot set up %s: the driver refused speed %s or 8 data bits\n", name,
            baud);
    return -1;
  }

  // Blocking from here on, as a caller of a plain open expects.
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    int err = errno;
    close(fd);
    return fail("cannot set up", name, err);
  }
  tcflush(fd, TCIOFLUSH);
  return fd;
}
