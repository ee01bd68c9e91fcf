// readHttpHeader, readHttpContentLength and readStr on arbitrary bytes from a peer: the bytes
// go into one end of a socket pair, the peer closes, and the readers take the other end
// until they report the closed connection.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "otsocket.h"

namespace {

// Loads data into a fresh socket pair and returns the reading end; the writing end is closed
// so that the readers meet the end of the stream. The first input byte picks the line length.
int loaded(const uint8_t* data, size_t size) {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return -1;
  int big = 1 << 20;
  setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof(big));
  setsockopt(sv[1], SOL_SOCKET, SO_RCVBUF, &big, sizeof(big));
  size_t off = 0;
  while (off < size) {
    ssize_t n = send(sv[0], data + off, size - off, MSG_NOSIGNAL);
    if (n <= 0) break;
    off += (size_t)n;
  }
  close(sv[0]);
  return sv[1];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 200000) return 0;  // stays within the socket buffers
  {
    otSocket sock(loaded(data, size));
    otString header("");
    if (sock.readHttpHeader(&header, 1000) < -1) __builtin_trap();
    char line[4096];
    while (sock.readStr(line, sizeof(line), 1000) > 0) {
      if (strlen(line) > sizeof(line) - 1) __builtin_trap();
    }
  }
  {
    otSocket sock(loaded(data, size));
    sock.readHttpContentLength(1000);
  }
  {
    int width = size > 0 ? 2 + data[0] % 16 : 5;  // room for at least one byte and the NUL
    bool text = memchr(data, 0, size) == nullptr;
    otSocket sock(loaded(data, size));
    char small[18] = {};
    size_t total = 0;
    int n;
    while ((n = sock.readStr(small, width, 1000)) > 0) {
      if (n > width - 1 || (text && (int)strlen(small) != n)) __builtin_trap();
      total += (size_t)n;
    }
    // A line cut by the end of the stream comes back with -1; every byte comes out exactly once.
    if (n == -1) total += strlen(small);
    if (text && n == -1 && total != size) __builtin_trap();
    if (sock.isConnected()) __builtin_trap();
  }
  return 0;
}
