// Feeds arbitrary bytes through a pseudo-terminal into otSerial::readLine, readBlock and
// readChar, on a blocking and a non-blocking line, and checks that every byte comes out once,
// unchanged and in order, with the line and count rules kept. The first two input bytes seed
// the choice of calls, sizes and (short) time limits; the rest is the data on the line. The
// data is then written back with writeBlock and read at the other end.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "fuzzpty.h"
#include "otserial.h"

namespace {

using fuzzpty::busySince;
using fuzzpty::nowMs;

// otSerial opens the slave twice, blocking and non-blocking; both read the same input queue.
struct Line : fuzzpty::Pty {
  otSerial blocking, nonblocking;

  Line() {
    if (blocking.openDevice(path.c_str(), B38400, 1, 0, 8, 1, otSerial::NONE) != 0) abort();
    if (nonblocking.openDevice(path.c_str(), B38400, 0, 0, 8, 1, otSerial::NONE) != 0) abort();
  }
  ~Line() {
    nonblocking.closeDevice();
    blocking.closeDevice();
  }
};

Line& line() {
  static Line l;
  // Lost bytes would leave a read without a time limit waiting for ever.
  fuzzpty::startWatchdog("fuzz_serial: an input did not finish: bytes were lost on the line",
                         15000);
  return l;
}

struct Rng {
  uint32_t s;
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  int upto(int n) { return (int)(next() % (uint32_t)n); }
};

bool lineEnd(unsigned char c) {
  return c < 32 && c != '\t';
}

// Checks that got[0..k) is the stream at pos and that the stream holds that much.
void expectStream(const unsigned char* got, int k, const unsigned char* data, size_t pos,
                  size_t written) {
  if (k < 0 || pos + (size_t)k > written) abort();
  if (k > 0 && memcmp(got, data + pos, (size_t)k) != 0) abort();
}

// Bytes consumed by a readLine result, after checking it against the stream.
int checkLine(int r, const unsigned char* buf, int maxlen, const unsigned char* data, size_t pos,
              size_t written) {
  if (buf[maxlen - 1] != 0) abort();
  if (r == -1 || r == -2) {
    // The text read so far, terminated; it holds no line end, so strlen finds its length.
    int k = (int)strlen(reinterpret_cast<const char*>(buf));
    if (k > maxlen - 2) abort();
    expectStream(buf, k, data, pos, written);
    for (int i = 0; i < k; i++)
      if (lineEnd(buf[i])) abort();
    return k;
  }
  if (r < 0 || r > maxlen - 2) abort();
  for (int i = 0; i < r; i++)
    if (lineEnd(buf[i])) abort();
  if (r == maxlen - 2) {  // full: no line end among maxlen-2 bytes, NUL behind them
    if (buf[r] != 0) abort();
    expectStream(buf, r, data, pos, written);
    return r;
  }
  if (!lineEnd(buf[r]) || buf[r + 1] != 0) abort();
  expectStream(buf, r + 1, data, pos, written);
  return r + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  Line& l = line();
  l.drain();
  Rng rng{0x9e3779b9u ^ (size >= 2 ? (uint32_t)(input[0] | input[1] << 8) : 0u)};
  const unsigned char* data = size >= 2 ? input + 2 : input;
  const size_t n = size >= 2 ? size - 2 : 0;

  size_t written = 0, pos = 0;
  busySince = nowMs();
  unsigned char buf[80];
  while (pos < n) {
    if (written < n) {
      ssize_t w = write(l.master, data + written, n - written);
      if (w > 0) written += (size_t)w;
      if (w < 0 && errno != EAGAIN && errno != EINTR) abort();
    }
    const int outstanding = (int)(written - pos);
    if (outstanding == 0) {
      struct pollfd p = {l.master, POLLOUT, 0};
      poll(&p, 1, 10);
      continue;
    }
    int timeout = 1 + rng.upto(4);
    int took = 0;
    switch (rng.upto(5)) {
      case 0:
      case 1: {
        bool blocking = rng.upto(2) == 0;
        int maxlen = 2 + rng.upto(40);
        // Without a time limit, only when the bytes on the line are sure to end the call.
        if (maxlen - 2 <= outstanding && rng.upto(2) == 0) timeout = rng.upto(2) - 1;
        otSerial& s = blocking ? l.blocking : l.nonblocking;
        int r = s.readLine(buf, maxlen, timeout);
        if (r == -2 && (blocking || timeout >= 0)) abort();
        if (r == -1 && timeout <= 0) abort();
        took = checkLine(r, buf, maxlen, data, pos, written);
        break;
      }
      case 2: {  // blocking line: no time limit is safe for bytes already written
        int count = 1 + rng.upto(outstanding < 64 ? outstanding : 64);
        if (rng.upto(2) == 0) timeout = rng.upto(2) - 1;
        int r = l.blocking.readBlock(buf, count, timeout);
        if (timeout <= 0 && r != count) abort();
        if (r == -1) break;
        if (r < 1 || r > count) abort();
        expectStream(buf, r, data, pos, written);
        took = r;
        break;
      }
      case 3: {
        int count = 1 + rng.upto(64);
        if (rng.upto(2) == 0) timeout = -1;
        int r = l.nonblocking.readBlock(buf, count, timeout);
        if (r == (timeout < 0 ? -2 : -1)) break;
        if (r < 1 || r > count) abort();
        expectStream(buf, r, data, pos, written);
        took = r;
        break;
      }
      default: {
        int c = l.nonblocking.readChar();
        if (c == -2) break;
        if (c < 0 || c > 255) abort();
        buf[0] = (unsigned char)c;
        expectStream(buf, 1, data, pos, written);
        took = 1;
      }
    }
    pos += (size_t)took;
  }

  // And back: what otSerial writes arrives unchanged at the master.
  const int back = n < 512 ? (int)n : 512;
  if (back > 0) {
    if (l.blocking.writeChar(data[0]) != 1) abort();
    if (l.nonblocking.writeBlock(data, back) != back) abort();
    std::string got;
    long long end = nowMs() + 10000;
    while (got.size() < (size_t)back + 1 && nowMs() < end) {
      struct pollfd p = {l.master, POLLIN, 0};
      poll(&p, 1, 10);
      char chunk[1024];
      ssize_t r = read(l.master, chunk, sizeof(chunk));
      if (r > 0) got.append(chunk, (size_t)r);
    }
    std::string want(1, (char)data[0]);
    want.append(reinterpret_cast<const char*>(data), (size_t)back);
    if (got != want) abort();
  }
  busySince = 0;
  return 0;
}
