// otLineReader on arbitrary bytes from a peer, checked against a model of its rules. The input
// is a small program and a stream:
//   byte 0      the reader's maxLine: 2 + (byte * 7) % 400
//   byte 1      the number k of operations (byte % 16), then k operation bytes b:
//                 b % 4 == 0 or 1  readLine with a buffer of (b / 4) % 64 bytes (0 and 1 too)
//                 b % 4 == 2       readBlock of (b / 4) % 64 bytes
//                 b % 4 == 3       drain of (b / 4) % 64 bytes
//               after the k operations readLine goes on with the first size until the end
//   the rest    the stream: it goes into a socket pair whose writing end is then closed (so
//               no read waits), the reading end non-blocking when byte 0 is odd.
// Every result, every byte handed out and the buffer bounds must match the model.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "otlinereader.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Loads data into a fresh socket pair and returns the reading end, or -1.
int loaded(const uint8_t* data, size_t size, bool nonBlocking) {
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
  if (off != size) {
    close(sv[1]);
    return -1;
  }
  if (nonBlocking) fcntl(sv[1], F_SETFL, fcntl(sv[1], F_GETFL) | O_NONBLOCK);
  return sv[1];
}

// The stream as the reader must hand it out.
struct Model {
  const uint8_t* s;
  size_t n;
  size_t pos = 0;

  // The expected readLine result for the longest line limit; *from and *len give the bytes.
  int readLine(int limit, size_t* from, size_t* len) {
    *from = pos;
    *len = 0;
    if (pos >= n) return -1;
    const void* nl = memchr(s + pos, '\n', n - pos);
    if (nl != nullptr) {
      size_t l = (size_t)(static_cast<const uint8_t*>(nl) - (s + pos)) + 1;
      pos += l;
      if (l > (size_t)limit) return -2;
      *len = l;
      return (int)l;
    }
    size_t u = n - pos;  // the last line, cut by the end
    pos = n;
    if (u >= (size_t)limit) return -2;
    *len = u;
    return (int)u;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 65536) return 0;
  int maxLine = 2 + (data[0] * 7) % 400;
  size_t k = data[1] % 16;
  if (size < 2 + k) return 0;
  const uint8_t* ops = data + 2;
  const uint8_t* stream = data + 2 + k;
  size_t streamSize = size - 2 - k;
  int fd = loaded(stream, streamSize, (data[0] & 1) != 0);
  if (fd < 0) return 0;
  Model model{stream, streamSize};
  std::vector<char> buf(80);
  {
    otLineReader in(fd, maxLine);
    check(in.fd() == fd && in.maxLine() == maxLine);
    size_t step = 0;
    int firstSize = k > 0 ? (ops[0] / 4) % 64 : 64;
    for (int guard = 0; guard < 200000; guard++, step++) {
      int op = step < k ? ops[step] % 4 : 0;
      int arg = step < k ? (ops[step] / 4) % 64 : firstSize;
      int timeoutMs = (step & 1) ? 1000 : 0;  // nothing waits: the peer has closed
      // A canary behind the buffer the reader is given.
      std::fill(buf.begin(), buf.end(), '\x5a');
      if (op <= 1) {
        int limit = arg >= 2 ? (arg - 1 < maxLine ? arg - 1 : maxLine) : 0;
        size_t from, len;
        int want = model.readLine(limit, &from, &len);
        int got = in.readLine(arg > 0 ? buf.data() : nullptr, arg, timeoutMs);
        check(got == want);
        if (got > 0) {
          check(got <= limit && buf[(size_t)got] == '\0');
          check(memcmp(buf.data(), stream + from, (size_t)got) == 0);
        } else if (arg > 0) {
          check(buf[0] == '\0');
        }
        for (size_t i = (size_t)(arg > 0 ? arg : 0); i < buf.size(); i++)
          check(buf[i] == '\x5a');
        if (got == -1 && step >= k) break;
      } else if (op == 2) {
        int got = in.readBlock(buf.data(), arg, timeoutMs);
        if (arg == 0) {
          check(got == 0);
        } else if (model.n - model.pos >= (size_t)arg) {
          check(got == arg && memcmp(buf.data(), stream + model.pos, (size_t)arg) == 0);
          model.pos += (size_t)arg;
        } else {
          check(got == -1);  // the bytes stay buffered for the lines after it
        }
        for (size_t i = (size_t)arg; i < buf.size(); i++)
          check(buf[i] == '\x5a');
      } else {
        int got = in.drain(arg, timeoutMs);
        if (model.n - model.pos >= (size_t)arg) {
          check(got == 0);
          model.pos += (size_t)arg;
        } else {
          check(got == -1);
          model.pos = model.n;
        }
      }
      check(in.buffered() >= 0 && (size_t)in.buffered() <= model.n - model.pos);
    }
    check(model.pos == model.n);
    check(in.buffered() == 0);
  }
  close(fd);
  return 0;
}
