// The data-provider client's reply reading and parsing on arbitrary bytes from a server: the
// bytes wait in one end of a socket pair whose sending side is then shut, and the client's get
// calls read them from the other end until the connection is found closed (or 64 calls).
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "otdataprovider.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 200000) return 0;
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return 0;
  int big = 1 << 20;
  setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof(big));
  setsockopt(sv[1], SOL_SOCKET, SO_RCVBUF, &big, sizeof(big));
  setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof(big));
  size_t off = 0;
  while (off < size) {
    ssize_t n = send(sv[0], data + off, size - off, MSG_NOSIGNAL);
    if (n <= 0) break;
    off += (size_t)n;
  }
  // The requests the client sends still arrive at sv[0]; only the replies end.
  shutdown(sv[0], SHUT_WR);
  {
    otSocket sock(sv[1]);
    otDataProviderClient client;
    int status = 0;
    int values[8];
    float fvalues[8];
    for (int round = 0; sock.isConnected() && round < 64; round++) {
      switch (round % 7) {
        case 0:
          client.getInt(&sock, 1, &status);
          break;
        case 1:
          client.getFloat(&sock, 2, &status);
          break;
        case 2: {
          const char* text = client.getString(&sock, 3, &status);
          if ((status == 0) != (text != nullptr)) __builtin_trap();
          if (text != nullptr && strlen(text) > 4095) __builtin_trap();
          break;
        }
        case 3:
          if (client.getIntArray(&sock, 0, values, 8) > 8) __builtin_trap();
          status = 0;
          break;
        case 4:
          if (client.getFloatArray(&sock, 0, fvalues, 8) > 8) __builtin_trap();
          status = 0;
          break;
        case 5:
          client.getIntAndReset(&sock, 0, &status);
          break;
        default:
          client.getInt0Semaphore(&sock, &status);
          break;
      }
      if (status != 0 && status != -1) __builtin_trap();  // no waiting: the stream has ended
    }
  }
  close(sv[0]);
  return 0;
}
