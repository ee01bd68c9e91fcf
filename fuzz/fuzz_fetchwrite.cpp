// Feeds arbitrary bytes, as a communication processor could send them, to the fetch/write
// acknowledgement handling of otSiemensTCP, call after call until the peer's stream ends.
// Input byte 0 picks fetch or write, byte 1 the length; the rest is the stream. The fetch
// buffer is exactly len bytes on the heap.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "otsiemenstcp.h"

namespace {

const size_t kMaxStream = 32 * 1024;

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "fuzz_fetchwrite: %s\n", what);
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 2) return 0;
  const bool fetch = (input[0] & 1) == 0;
  const int len = 1 + input[1] % 255;
  const uint8_t* data = input + 2;
  const size_t n = size - 2 < kMaxStream ? size - 2 : kMaxStream;

  int sv[2];
  check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0, "socketpair");
  for (size_t off = 0; off < n;) {
    ssize_t w = ::write(sv[0], data + off, n - off);
    check(w > 0, "write to the socket pair");
    off += (size_t)w;
  }
  shutdown(sv[0], SHUT_WR);

  {
    otSiemensTCP plc("", otSiemensTCP::S5, 1);
    plc.setPort(0);
    check(plc.adoptSocket(sv[1]) == 0, "adoptSocket");
    std::vector<unsigned char> buf((size_t)len, 0x55);
    for (size_t i = 0; i <= n && plc.isConnected(); i++) {
      int r =
          fetch ? plc.fetch(otSiemensTCP::ORG_DB, 3, 7, len, buf.data())
                : plc.write(otSiemensTCP::ORG_M, 0, 7, len, buf.data(), otSiemensTCP::WRITE_BYTES);
      check(r == len || r == -1 || r == 0, "result out of range");
    }
  }
  close(sv[0]);
  return 0;
}
