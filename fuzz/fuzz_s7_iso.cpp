// Feeds arbitrary bytes, as a PLC could send them over ISO-on-TCP, to otSiemensTCP: raw
// read_iso() calls and the reply handling of S7 read and write jobs, call after call until the
// peer's stream ends. Input byte 0 picks the call, byte 1 the length of the job; the rest is
// the stream. The caller's buffers are exactly as large as the call needs and live on the
// heap, so a reply that announces more than was asked for cannot go unnoticed.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "otsiemenstcp.h"

namespace {

// Well below what a local stream socket buffers, so the whole stream is written before the
// first read and our jobs still fit the other direction.
const size_t kMaxStream = 32 * 1024;

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "fuzz_s7_iso: %s\n", what);
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 2) return 0;
  const int op = input[0] % 4;
  const int len = 1 + input[1] % (op == 3 ? 113 : 255);
  const uint8_t* data = input + 2;
  const size_t n = size - 2 < kMaxStream ? size - 2 : kMaxStream;

  int sv[2];
  check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0, "socketpair");
  for (size_t off = 0; off < n;) {
    ssize_t w = ::write(sv[0], data + off, n - off);
    check(w > 0, "write to the socket pair");
    off += (size_t)w;
  }
  shutdown(sv[0], SHUT_WR);  // the peer has said all it says, but still takes our jobs

  {
    otSiemensTCP plc("", otSiemensTCP::S7_300);
    plc.setPort(0);  // never reaches the network, should the connection be lost
    check(plc.adoptSocket(sv[1]) == 0, "adoptSocket");
    std::vector<unsigned char> values((size_t)len, 1);
    // Every call that does not end the stream takes at least a TPKT header.
    for (size_t i = 0; i <= n && plc.isConnected(); i++) {
      if (op == 0) {
        std::vector<unsigned char> buf(otSiemensTCP::MAX_PDU);
        int r = plc.read_iso(buf.data());
        check(r == -1 || (r >= 1 && r <= otSiemensTCP::MAX_PDU), "read_iso result");
      } else if (op == 1) {
        std::vector<unsigned char> buf((size_t)len);
        int r = plc.fetch(otSiemensTCP::ORG_DB, 1, 0, len, buf.data());
        check(r == len || (r < 0 && r >= -255), "fetch result");
      } else {
        int r = plc.write(otSiemensTCP::ORG_DB, 1, 0, len, values.data(),
                          op == 2 ? otSiemensTCP::WRITE_BYTES : otSiemensTCP::WRITE_BITS);
        check(r == len || (r < 0 && r >= -255), "write result");
      }
    }
  }
  close(sv[0]);
  return 0;
}
