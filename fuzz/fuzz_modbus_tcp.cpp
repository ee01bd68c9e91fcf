// Feeds arbitrary bytes, as a Modbus/TCP peer could send them, to otModbus::response (master
// side) and, on a fresh connection, to otModbus::readRequest (slave side), call after call
// until the peer's stream ends. Input byte 0 picks the telegram buffer size (256..1100); the
// rest is the stream. The callers' buffers are exactly as large as the header asks for and
// live on the heap, so whatever the peer announces (lengths, counts, function codes, exception
// replies) a read or write past them is caught.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "otmodbus.h"

namespace {

enum Side { MASTER, SLAVE };

// Well below what a local stream socket buffers, so the whole stream is written before the
// first read.
const size_t kMaxStream = 64 * 1024;

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "fuzz_modbus_tcp: %s\n", what);
    abort();
  }
}

void run(Side side, long telegramSize, const uint8_t* data, size_t n) {
  int sv[2];
  check(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0, "socketpair");
  for (size_t off = 0; off < n;) {
    ssize_t w = ::write(sv[0], data + off, n - off);
    check(w > 0, "write to the socket pair");
    off += (size_t)w;
  }
  close(sv[0]);  // the peer has said all it says

  otSocket sock(sv[1]);
  otModbus m(telegramSize, otModbus::MODBUS_RTU);
  m.registerSocket(&sock);
  const int room = side == MASTER ? otModbus::MAX_RESPONSE_DATA : otModbus::MAX_REQUEST_DATA;
  std::unique_ptr<unsigned char[]> buf(new unsigned char[(size_t)room]);
  // A call that does not end the stream takes at least a 6-byte header.
  for (size_t i = 0; i <= n && sock.isConnected(); i++) {
    int slave = -1, function = -1, transaction = -1;
    int timeout = 1 + (int)(i % 5);
    int r = side == MASTER ? m.response(&slave, &function, buf.get(), timeout)
                           : m.readRequest(&slave, &function, buf.get(), timeout, &transaction);
    check(r >= -3 && r <= room, "result out of range");
    check(r != -3 || side == SLAVE, "a length mismatch reported to the master");
    if (r >= 0) {
      check(slave >= 0 && slave <= 255 && function >= 0 && function <= 255,
            "slave or function code out of range");
      check(side == MASTER || (transaction >= 0 && transaction <= 0xFFFF),
            "transaction id out of range");
    }
  }
  // ASCII framing is for serial lines: over a socket nothing is read.
  otModbus ascii(telegramSize, otModbus::MODBUS_ASCII);
  ascii.registerSocket(&sock);
  int slave, function;
  check(ascii.response(&slave, &function, buf.get(), 1) == 0, "ASCII over a socket");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  const long telegramSize = 256 + (long)input[0] * (1100 - 256) / 255;
  const size_t n = size - 1 < kMaxStream ? size - 1 : kMaxStream;
  run(MASTER, telegramSize, input + 1, n);
  run(SLAVE, telegramSize, input + 1, n);
  return 0;
}
