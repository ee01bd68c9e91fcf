// Reading a line from a socket that the reader does not own. Unlike otLineReader it
// never reads ahead: it peeks at what the kernel has queued and takes exactly up to the line
// feed, so a line costs two system calls instead of one per byte and whatever follows the line
// stays queued for the socket's next reader.
#ifndef OTWIRE_OTPEEKLINE_H
#define OTWIRE_OTPEEKLINE_H

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/types.h>

// recv() that resumes after a signal.
inline ssize_t otRecvRetry(int fd, void* buf, size_t len, int flags) {
  ssize_t n;
  do {
    n = ::recv(fd, buf, len, flags);
  } while (n < 0 && errno == EINTR);
  return n;
}

// Takes at most cap bytes, up to and including the first line feed among them, into buf
// (blocking until at least one byte is there). Returns the bytes taken and sets *complete when
// they end with the line feed; 0 or less when the peer closed or the socket failed.
inline ssize_t otTakeLinePart(int fd, char* buf, size_t cap, bool* complete) {
  *complete = false;
  // Most lines are short: a small first look spares copying a large queue for each of them.
  size_t look = cap < 512 ? cap : 512;
  ssize_t n = otRecvRetry(fd, buf, look, MSG_PEEK);
  if (n <= 0) return n;
  const char* nl = static_cast<const char*>(memchr(buf, '\n', (size_t)n));
  if (nl == nullptr && (size_t)n == look && look < cap) {
    n = otRecvRetry(fd, buf, cap, MSG_PEEK);
    if (n <= 0) return n;
    nl = static_cast<const char*>(memchr(buf, '\n', (size_t)n));
  }
  size_t want = nl != nullptr ? (size_t)(nl - buf) + 1 : (size_t)n;
  n = otRecvRetry(fd, buf, want, 0);
  if (n > 0) *complete = nl != nullptr && (size_t)n == want;
  return n;
}

#endif
