// Feeds arbitrary bytes, as a device on a serial line could send them, through a
// pseudo-terminal to otModbus::response (master side) or otModbus::readRequest (slave side),
// call after call until the line is empty. Input byte 0 picks the telegram buffer size
// (256..1100); byte 1 the framing (bit 0: ASCII, else RTU), the ASCII end delimiter (bit 1:
// carriage return, else line feed), the side (bit 2: slave) and the time limit of each call
// (1..5 ms); the rest is what arrives on the line. The callers' buffers are exactly as large
// as the header asks for and live on the heap, so a read or write past them is caught. Only
// one side runs per input: after a damaged telegram the engine waits for the line to fall
// quiet, which makes every pass cost some milliseconds.
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
#include <memory>
#include <string>
#include <thread>

#include "fuzzpty.h"
#include "otmodbus.h"

namespace {

// The terminal's input queue holds 4095 bytes; the whole input is written before reading.
const size_t kMaxLine = 3000;

using fuzzpty::busySince;
using fuzzpty::check;
using fuzzpty::nowMs;

struct Line : fuzzpty::Pty {
  otSerial serial;

  Line() {
    check(serial.openDevice(path.c_str(), B38400, 1, 0, 8, 1, otSerial::NONE) == 0, "openDevice");
  }
  ~Line() { serial.closeDevice(); }
};

Line& line() {
  static Line l;
  // A read without a time limit would wait for ever once the line is empty.
  fuzzpty::startWatchdog("fuzz_modbus_serial: a call waited without a time limit", 10000);
  return l;
}

void consume(Line& l, otModbus& m, bool master, int mode, int timeout, size_t n) {
  const int room = master ? otModbus::MAX_RESPONSE_DATA : otModbus::MAX_REQUEST_DATA;
  std::unique_ptr<unsigned char[]> buf(new unsigned char[(size_t)room]);
  // Each call with input waiting takes at least one byte.
  for (size_t i = 0; i <= n && l.pending() > 0; i++) {
    int slave = -1, function = -1;
    int r = master ? m.response(&slave, &function, buf.get(), timeout)
                   : m.readRequest(&slave, &function, buf.get(), timeout);
    check(r >= -2 && r <= room, "result out of range");
    if (r >= 0) {
      check(slave >= 0 && slave <= 255 && function >= 0 && function <= 255,
            "slave or function code out of range");
      // An RTU reply also hands over its CRC.
      check(!master || mode != otModbus::MODBUS_RTU || r + 2 <= room, "no room for the CRC");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 2) return 0;
  Line& l = line();
  const long telegramSize = 256 + (long)input[0] * (1100 - 256) / 255;
  const int mode = input[1] & 1 ? otModbus::MODBUS_ASCII : otModbus::MODBUS_RTU;
  const char delimiter = input[1] & 2 ? '\r' : '\n';
  const bool master = (input[1] & 4) == 0;
  const int timeout = 1 + (input[1] >> 3) % 5;
  const uint8_t* data = input + 2;
  const size_t n = size - 2 < kMaxLine ? size - 2 : kMaxLine;

  busySince = nowMs();
  otModbus m(telegramSize, mode, delimiter);
  m.registerSerial(&l.serial);
  l.drain();
  l.send(data, n);
  consume(l, m, master, mode, timeout, n);
  l.drain();
  busySince = 0;
  return 0;
}
