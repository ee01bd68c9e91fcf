#include "otlinereader.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "otpoll.h"

namespace {

// Bytes asked of the kernel at least per read: a line protocol at tens of thousands of lines a
// second takes many lines with one system call.
const int kChunk = 16384;

}  // namespace

otLineReader::otLineReader(int fd_, int maxLine_)
    : descriptor(fd_),
      maxLineBytes(maxLine_ < 2 ? 2 : maxLine_),
      start(0),
      end(0),
      closed(false),
      skipping(false) {}

otLineReader::~otLineReader() {}

int otLineReader::fd() const {
  return descriptor;
}

int otLineReader::maxLine() const {
  return maxLineBytes;
}

int otLineReader::buffered() const {
  return end - start;
}

bool otLineReader::hasLine() const {
  return closed || (end > start && memchr(data.data() + start, '\n', (size_t)(end - start)));
}

void otLineReader::reserve(int want) {
  int cap = (int)data.size();
  if (cap - end >= want) return;
  if (start > 0) {
    memmove(data.data(), data.data() + start, (size_t)(end - start));
    end -= start;
    start = 0;
    if (cap - end >= want) return;
  }
  int grown = cap * 2 > end + want ? cap * 2 : end + want;
  data.resize((size_t)grown);
}

int otLineReader::readSome(char* into, int room, long long deadline) {
  if (closed) return -1;
  bool waited = deadline == OT_NO_DEADLINE;  // without a deadline a blocking read waits itself
  for (;;) {
    if (!waited) {
      int ready = otPollOne(descriptor, POLLIN, deadline);
      if (ready == 0) return 0;
      if (ready < 0) {
        closed = true;
        return -1;
      }
    }
    ssize_t n = ::read(descriptor, into, (size_t)room);
    if (n > 0) return (int)n;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A non-blocking descriptor, or a readiness that went away: wait for it.
      waited = false;
      continue;
    }
    closed = true;  // the end of the stream, or an error
    return -1;
  }
}

int otLineReader::fill(long long deadline) {
  if (closed) return -1;
  // An empty buffer starts over at its front; the first read allocates a chunk, later ones
  // move a partial line to the front or grow the buffer when less than a quarter chunk is free.
  if (start == end) start = end = 0;
  reserve(data.empty() ? kChunk : kChunk / 4);
  int n = readSome(data.data() + end, (int)data.size() - end, deadline);
  if (n <= 0) return n;
  end += n;
  return 1;
}

int otLineReader::readLine(char* buf, int size, int timeoutMs) {
  if (buf != nullptr && size > 0) buf[0] = '\0';
  // The longest line taken, line feed included; 0: nothing fits, every line is refused.
  int limit = buf != nullptr && size >= 2 ? size - 1 : 0;
  if (limit > maxLineBytes) limit = maxLineBytes;
  long long deadline = timeoutMs > 0 ? otDeadlineIn(timeoutMs) : OT_NO_DEADLINE;
  for (;;) {
    char* base = data.data();
    int have = end - start;
    char* nl = have > 0 ? static_cast<char*>(memchr(base + start, '\n', (size_t)have)) : nullptr;
    if (skipping) {
      if (nl != nullptr) {
        start = (int)(nl - base) + 1;
        skipping = false;
        return -2;
      }
      start = end = 0;  // the refused line's bytes so far
      if (closed) {
        skipping = false;  // it ended without a line feed
        return -2;
      }
    } else if (nl != nullptr) {
      int len = (int)(nl - (base + start)) + 1;
      if (len > limit) {
        start += len;
        return -2;
      }
      memcpy(buf, base + start, (size_t)len);
      buf[len] = '\0';
      start += len;
      return len;
    } else if (have > 0 && have >= limit) {
      // Already longer than a line may be, and its line feed still to come.
      skipping = true;
      start = end = 0;
      if (closed) {
        skipping = false;
        return -2;
      }
    } else if (closed) {
      if (have == 0) return -1;
      // The last line, cut by the end of the stream: handed out as it is.
      memcpy(buf, base + start, (size_t)have);
      buf[have] = '\0';
      start = end;
      return have;
    }
    if (fill(deadline) == 0) return 0;
  }
}

int otLineReader::readBlock(void* buf, int len, int timeoutMs) {
  if (len <= 0) return 0;
  if (buf == nullptr) return -1;
  skipping = false;
  long long deadline = timeoutMs > 0 ? otDeadlineIn(timeoutMs) : OT_NO_DEADLINE;
  if (len <= kChunk || end - start >= len) {
    while (end - start < len) {
      if (closed) return -1;
      reserve(len - (end - start));
      int r = fill(deadline);
      if (r == 0) return 0;
    }
    memcpy(buf, data.data() + start, (size_t)len);
    start += len;
    return len;
  }
  // A large block goes straight to the caller: the reader's own buffer must not grow to the
  // size of every block a peer announces and keep it for as long as the connection lives.
  char* out = static_cast<char*>(buf);
  int got = end - start;
  memcpy(out, data.data() + start, (size_t)got);
  start = end = 0;
  while (got < len) {
    int n = readSome(out + got, len - got, deadline);
    if (n < 0) return -1;
    if (n == 0) {
      // The bytes read so far stay buffered for the next call, as the contract says.
      reserve(got);
      memcpy(data.data(), out, (size_t)got);
      end = got;
      return 0;
    }
    got += n;
  }
  return len;
}

int otLineReader::drain(long long len, int timeoutMs) {
  skipping = false;
  long long deadline = timeoutMs > 0 ? otDeadlineIn(timeoutMs) : OT_NO_DEADLINE;
  while (len > 0) {
    int have = end - start;
    if (have > 0) {
      int take = len < have ? (int)len : have;
      start += take;
      len -= take;
      continue;
    }
    if (fill(deadline) != 1) return -1;
  }
  return 0;
}

int otLineReader::waitData(int timeoutMs) {
  if (end > start) return 1;
  long long deadline = timeoutMs > 0 ? otDeadlineIn(timeoutMs) : OT_NO_DEADLINE;
  int r = fill(deadline);
  return r == 1 ? 1 : r;
}
