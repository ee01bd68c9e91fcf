// The connection record and its I/O: sends under the record's lock, every read through its
// line reader, events queued while a caller waits for a reply line.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#include <vector>

#include "otsendall_p.h"
#include "hxserver.h"
#include "hxserver_p.h"
#include "otinterpreter.h"
#include "ottime.h"

_PARAM_::_PARAM_(int fd, int poll)
    : s(fd),
      reader(fd, HX_MAX_LINE),
      idCount(0),
      pollMs(poll),
      ioTimeoutMs(30000),
      maxClipboard(HX_MAX_CLIPBOARD),
      clipboard(nullptr),
      clipboardLength(0),
      user(nullptr),
      stop(0),
      syncCounter(0),
      modalDepth(0),
      updateBase(nullptr),
      modalTerminated(0),
      baseIdCount(0),
      modalResult(0),
      queuedBytes(0),
      warnedLongLine(0),
      warnedQueue(0),
      server(nullptr),
      holdDepth(0) {
  // A display client waits for the answer to each click, and a pass of updates ends in a
  // sync: no small line may wait for the acknowledgement of the one before (Nagle).
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

_PARAM_::~_PARAM_() {
  free(clipboard);
}

namespace {

// Milliseconds left until deadline for a reader call (whose 0 means no limit): 0 for no
// deadline, -1 when it has passed.
int remainingMs(long long deadline) {
  if (deadline == 0) return 0;
  long long left = deadline - otMonotonicMs();
  if (left <= 0) return -1;
  return left > 0x7fffffff ? 0x7fffffff : (int)left;
}

void setClipboard(PARAM_* p, char* bytes, int len) {
  free(p->clipboard);
  p->clipboard = bytes;
  p->clipboardLength = len;
}

// Reads the block that an @clipboard(id,n) line announces. 0, or -1 when the connection broke
// or the block did not come in time (the stream position is then lost).
int readClipboard(PARAM_* p, const char* line, int len) {
  otCallLine call;
  int n = 0;
  if (call.parse(line, len) < 0 || call.matches("ii") != 1 || call.intArg(1, &n) < 0 || n < 0)
    return 0;  // no count that could be read: the line goes on as an unknown event
  bool tooLarge = (long)n > p->maxClipboard;
  char* bytes = tooLarge ? nullptr : static_cast<char*>(malloc((size_t)n + 1));
  if (bytes == nullptr) {
    // Read and dropped, never stored: the stream goes on behind the block.
    printf("hxPollEvent: clipboard of %d bytes dropped (at most %ld)\n", n, p->maxClipboard);
    if (p->reader.drain(n, p->ioTimeoutMs) < 0) return -1;
    setClipboard(p, static_cast<char*>(calloc(1, 1)), 0);
    return 0;
  }
  if (n > 0 && p->reader.readBlock(bytes, n, p->ioTimeoutMs) != n) {
    free(bytes);
    return -1;
  }
  bytes[n] = '\0';
  setClipboard(p, bytes, n);
  return 0;
}

}  // namespace

int hxMarkClosed(PARAM_* p) {
  p->stop.store(1);
  return -1;
}

namespace {

// Held output is sent in blocks of about this size.
const size_t kHeldBlock = 65536;

// The caller holds p->lock.
int sendHeld(PARAM_* p) {
  if (p->held.empty()) return 0;
  int r = otSendAll(p->s, p->held.data(), (int)p->held.size());
  p->held.clear();
  return r < 0 ? hxMarkClosed(p) : 0;
}

}  // namespace

void hxHoldOutput(PARAM_* p) {
  p->lock.lock();
  p->holdDepth++;
}

int hxReleaseOutput(PARAM_* p) {
  int r = 0;
  if (--p->holdDepth == 0) r = p->stop.load() ? (p->held.clear(), -1) : sendHeld(p);
  p->lock.unlock();
  return r;
}

void hxFlushHeld(PARAM_* p) {
  std::unique_lock<std::recursive_mutex> hold(p->lock, std::try_to_lock);
  if (hold.owns_lock() && !p->stop.load()) sendHeld(p);
}

int hxReadEventLine(PARAM_* p, char* buf, int size, int timeoutMs, int* length) {
  hxFlushHeld(p);  // an answer may wait for what is still held
  long long deadline = timeoutMs > 0 ? otMonotonicMs() + timeoutMs : 0;
  for (;;) {
    int wait = remainingMs(deadline);
    if (wait < 0) return 0;
    int n = p->reader.readLine(buf, size, wait);
    if (n == 0) return 0;
    if (n == -1) return hxMarkClosed(p);
    if (n == -2) {
      if (!p->warnedLongLine) {
        printf("hxPollEvent: a line above %d bytes was dropped\n", p->reader.maxLine());
        p->warnedLongLine = 1;
      }
      continue;
    }
    while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r'))
      n--;
    buf[n] = '\0';
    if (n == 0) continue;  // an empty line is no event
    if (strncmp(buf, "@clipboard(", 11) == 0 && readClipboard(p, buf, n) < 0)
      return hxMarkClosed(p);
    *length = n;
    return 1;
  }
}

int hxtcpsend(PARAM_* p, const char* buf, int len) {
  if (p == nullptr || buf == nullptr) return -1;
  if (len < 0) len = (int)strlen(buf);
  return hxtcpsend_binary(p, buf, len);
}

int hxtcpsend_binary(PARAM_* p, const void* buf, int len) {
  if (p == nullptr || (buf == nullptr && len > 0) || len < 0) return -1;
  if (p->stop.load()) return -1;
  std::lock_guard<std::recursive_mutex> hold(p->lock);
  if (p->holdDepth > 0) {
    if (p->held.size() + (size_t)len < kHeldBlock) {
      p->held.append((const char*)buf, (size_t)len);
      return len;
    }
    if (sendHeld(p) < 0) return -1;
  }
  if (otSendAll(p->s, buf, len) < 0) return hxMarkClosed(p);
  return len;
}

int hxtcpreceive(PARAM_* p, char* buf, int maxlen) {
  if (p == nullptr || buf == nullptr || maxlen < 2) return -1;
  if (p->stop.load()) return -1;
  hxFlushHeld(p);
  std::lock_guard<std::mutex> hold(p->readLock);
  int n = p->reader.readLine(buf, maxlen, p->ioTimeoutMs);
  if (n == 0) return -1;
  if (n == -1) return hxMarkClosed(p);
  return n;
}

int hxtcpreceive_binary(PARAM_* p, void* buf, int len) {
  if (p == nullptr || (buf == nullptr && len > 0) || len < 0) return -1;
  if (len == 0) return 0;
  if (p->stop.load()) return -1;
  hxFlushHeld(p);
  std::lock_guard<std::mutex> hold(p->readLock);
  // A block that does not come in time leaves the stream position unknown.
  if (p->reader.readBlock(buf, len, p->ioTimeoutMs) != len) return hxMarkClosed(p);
  return len;
}

int hxlock(PARAM_* p) {
  if (p == nullptr) return -1;
  p->lock.lock();
  return 0;
}

int hxunlock(PARAM_* p) {
  if (p == nullptr) return -1;
  p->lock.unlock();
  return 0;
}

int hxWait(PARAM_* p, const char* pattern) {
  if (p == nullptr || pattern == nullptr) return -1;
  if (p->stop.load()) return -1;
  size_t plen = strlen(pattern);
  std::vector<char> line(HX_MAX_LINE + 1);
  std::lock_guard<std::mutex> hold(p->readLock);
  long long deadline = p->ioTimeoutMs > 0 ? otMonotonicMs() + p->ioTimeoutMs : 0;
  for (;;) {
    int wait = remainingMs(deadline);
    if (wait < 0) return -1;
    int len = 0;
    int r = hxReadEventLine(p, line.data(), (int)line.size(), wait, &len);
    if (r < 0) return -1;
    if (r == 0) {
      if (deadline != 0) return -1;
      continue;
    }
    if (strncmp(line.data(), pattern, plen) == 0) return 0;
    if ((int)p->queued.size() >= HX_EVENT_QUEUE_LINES ||
        p->queuedBytes + len > HX_EVENT_QUEUE_BYTES) {
      if (!p->warnedQueue) {
        printf("hxWait: event queue full, events dropped while waiting for %s\n", pattern);
        p->warnedQueue = 1;
      }
      continue;
    }
    p->queued.emplace_back(line.data(), (size_t)len);
    p->queuedBytes += len;
  }
}

int hxSync(PARAM_* p) {
  if (p == nullptr) return -1;
  int n = ++p->syncCounter;
  if (hxSendCommand(p, "sync", "i", n) < 0) return -1;
  char pattern[32];
  snprintf(pattern, sizeof pattern, "synced(%d)", n);
  return hxWait(p, pattern);
}

int hxPollEvent(PARAM_* p, char* buf) {
  if (p == nullptr || buf == nullptr) return -1;
  buf[0] = '\0';
  if (p->stop.load()) return -1;
  // The dialog is gone: what comes now belongs to the base mask.
  if (p->modalDepth > 0 && p->modalTerminated) return -1;
  std::lock_guard<std::mutex> hold(p->readLock);
  if (!p->queued.empty()) {
    const std::string& line = p->queued.front();
    memcpy(buf, line.data(), line.size());
    buf[line.size()] = '\0';
    p->queuedBytes -= (long)line.size();
    p->queued.pop_front();
    return 0;
  }
  int len = 0;
  int r = hxReadEventLine(p, buf, HX_EVENT_BUFSIZE, p->pollMs, &len);
  if (r < 0) return -1;
  if (r == 0) strcpy(buf, "idle");
  return 0;
}
