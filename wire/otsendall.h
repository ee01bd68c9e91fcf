// Sending a whole buffer on a socket, shared by both ends of every connection.
#ifndef OTWIRE_OTSENDALL_H
#define OTWIRE_OTSENDALL_H

#include <errno.h>
#include <sys/socket.h>
#include <sys/types.h>

// Sends all len bytes without SIGPIPE and without closing fd on failure (its owner does).
// 0 on success, -1 on an error or a send of 0 bytes.
inline int otSendAll(int fd, const void* buf, int len) {
  const char* p = static_cast<const char*>(buf);
  while (len > 0) {
    ssize_t n = ::send(fd, p, (size_t)len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    p += n;
    len -= (int)n;
  }
  return 0;
}

#endif
