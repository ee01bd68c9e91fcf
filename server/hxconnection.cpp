// The connection record and its I/O: sends under the record's lock, every read through its
// line reader, events queued while a caller waits for a reply line.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#include <vector>

#include "otsendall.h"
#include "otlog.h"
#include "hxserver.h"
#include "otwritegate.h"
#include "hxserver_p.h"
#include "otinterpreter.h"
#include "ottime.h"

namespace {

// What the clipboards of every connection hold together.
std::atomic<long> clipboardBytes(0);

// Takes n bytes of the budget: true, or false (nothing taken) when they do not fit.
bool takeBudget(long n) {
  long now = clipboardBytes.load();
  do {
    if (now + n > HX_CLIPBOARD_BUDGET) return false;
  } while (!clipboardBytes.compare_exchange_weak(now, now + n));
  return true;
}

// The shorter limit while the client has not said anything yet: a silent connection must not
// hold a place for long.
int firstLimit(const PARAM_* p, int limit) {
  if (!p->heard && p->firstAnswerMs > 0 && (limit <= 0 || p->firstAnswerMs < limit))
    return p->firstAnswerMs;
  return limit;
}

int sendLimit(const PARAM_* p) {
  return firstLimit(p, p->sendTimeoutMs);
}

int answerLimit(const PARAM_* p) {
  return firstLimit(p, p->ioTimeoutMs);
}

// Sets the socket's send time-out to sendLimit(p) when it is not that already.
void applySendLimit(PARAM_* p) {
  int want = sendLimit(p);
  if (want == p->appliedSendLimit) return;
  struct timeval tv;
  tv.tv_sec = want / 1000;
  tv.tv_usec = (want % 1000) * 1000;
  if (setsockopt(p->s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0) p->appliedSendLimit = want;
}

}  // namespace

_PARAM_::_PARAM_(int fd, int poll)
    : s(fd),
      reader(fd, HX_MAX_LINE),
      idCount(0),
      pollMs(poll),
      ioTimeoutMs(30000),
      sendTimeoutMs(HX_SEND_TIMEOUT_MS),
      firstAnswerMs(HX_FIRST_ANSWER_MS),
      heard(0),
      appliedSendLimit(-1),
      aliveMs(0),
      lastSendMs(otMonotonicMs()),
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
      baseUpdate(0),
      dialogIdCount(0),
      queuedBytes(0),
      coalescedEvents(0),
      droppedEvents(0),
      refusedValues(0),
      longLines("hxPollEvent: over-long lines dropped"),
      queueFull("hxWait: events dropped, the queue was full"),
      outOfRange("hxPollEvent: values outside their widget's range refused"),
      clipboardDropped("hxPollEvent: clipboards dropped"),
      server(nullptr),
      holdDepth(0),
      calls(hxNewCallState()),
      loginUser("-"),
      role(OT_ROLE_ADMIN),
      peer("-"),
      maskName("-") {
  // A display client waits for the answer to each click, and a pass of updates ends in a
  // sync: no small line may wait for the acknowledgement of the one before (Nagle).
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  applySendLimit(this);
}

_PARAM_::~_PARAM_() {
  hxEndCallState(this);
  clipboardBytes -= clipboardLength;
  free(clipboard);
}

namespace {

// Sends under p->lock. The limit is the socket's own send time-out, so that every sender on
// the connection (the SVG animator, the GL encoder) is bound by it too.
int sendLocked(PARAM_* p, const void* buf, int len) {
  applySendLimit(p);
  int r = otSendAll(p->s, buf, len);
  p->lastSendMs.store(otMonotonicMs(), std::memory_order_relaxed);
  if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !p->stop.load()) {
    otLog(OT_LOG_WARNING, "hxtcpsend: the client took nothing for %d ms, connection dropped\n",
          sendLimit(p));
    fflush(stdout);
  }
  return r;
}

// Milliseconds left until deadline for a reader call (whose 0 means no limit): 0 for no
// deadline, -1 when it has passed.
int remainingMs(long long deadline) {
  if (deadline == 0) return 0;
  long long left = deadline - otMonotonicMs();
  if (left <= 0) return -1;
  return left > 0x7fffffff ? 0x7fffffff : (int)left;
}

// bytes holds len bytes taken from the budget.
void setClipboard(PARAM_* p, char* bytes, int len) {
  clipboardBytes -= p->clipboardLength;
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
  // The old clipboard goes first: a client must not hold two at once.
  setClipboard(p, nullptr, 0);
  bool fits = (long)n <= p->maxClipboard && takeBudget(n);
  char* bytes = fits ? static_cast<char*>(malloc((size_t)n + 1)) : nullptr;
  if (bytes == nullptr) {
    if (fits) clipboardBytes -= n;
    // Read and dropped, never stored: the stream goes on behind the block.
    p->clipboardDropped.say(
        "hxPollEvent: clipboard of %d bytes dropped (at most %ld, %ld for all "
        "clients together)\n",
        n, p->maxClipboard, (long)HX_CLIPBOARD_BUDGET);
    if (p->reader.drain(n, p->ioTimeoutMs) < 0) return -1;
    setClipboard(p, static_cast<char*>(calloc(1, 1)), 0);
    return 0;
  }
  if (n > 0 && p->reader.readBlock(bytes, n, p->ioTimeoutMs) != n) {
    clipboardBytes -= n;
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
  int r = sendLocked(p, p->held.data(), (int)p->held.size());
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

namespace {

// "@alive(n)" when nothing was sent for aliveMs: the client then knows the server is there.
void sayAlive(PARAM_* p) {
  if (p->aliveMs <= 0) return;
  if (otMonotonicMs() - p->lastSendMs.load(std::memory_order_relaxed) < p->aliveMs) return;
  char line[32];
  int n = snprintf(line, sizeof line, "@alive(%d)\n", p->aliveMs);
  hxtcpsend_binary(p, line, n);
}

// How long a read may wait before the next "@alive" is due; wait as a reader call gives it
// (0: no limit).
int aliveSlice(const PARAM_* p, int wait) {
  if (p->aliveMs <= 0) return wait;
  long long due = p->lastSendMs.load(std::memory_order_relaxed) + p->aliveMs - otMonotonicMs();
  int slice = due < 1 ? 1 : (int)due;
  return wait == 0 || slice < wait ? slice : wait;
}

}  // namespace

int hxReadEventLine(PARAM_* p, char* buf, int size, int timeoutMs, int* length) {
  hxFlushHeld(p);  // an answer may wait for what is still held
  long long deadline = timeoutMs > 0 ? otMonotonicMs() + timeoutMs : 0;
  for (;;) {
    int wait = remainingMs(deadline);
    if (wait < 0) return 0;
    sayAlive(p);
    if (p->stop.load()) return -1;
    int slice = aliveSlice(p, wait);
    int n = p->reader.readLine(buf, size, slice);
    if (n == 0) {
      if (slice != wait) continue;  // only the next "@alive" is due
      return 0;
    }
    if (n == -1) return hxMarkClosed(p);
    if (n == -2) {
      p->longLines.say("hxPollEvent: a line above %d bytes was dropped\n", p->reader.maxLine());
      continue;
    }
    p->heard = 1;
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
  if (sendLocked(p, buf, len) < 0) return hxMarkClosed(p);
  return len;
}

int hxtcpreceive(PARAM_* p, char* buf, int maxlen) {
  if (p == nullptr || buf == nullptr || maxlen < 2) return -1;
  if (p->stop.load()) return -1;
  hxFlushHeld(p);
  std::lock_guard<std::mutex> hold(p->readLock);
  int n = p->reader.readLine(buf, maxlen, answerLimit(p));
  if (n == 0) return -1;
  if (n == -1) return hxMarkClosed(p);
  if (n > 0) p->heard = 1;
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

namespace {

// A slider line ("slider(id,value)") read as hxParseEvent reads it, so that the checks below see
// the numbers the mask will see: true with the id and the value, false for any other line.
bool sliderEvent(const char* line, int len, int* id, int* value) {
  if (len < 8 || memcmp(line, "slider(", 7) != 0) return false;
  otCallLine call;
  return call.parse(line, len) >= 0 && strcmp(call.name, "slider") == 0 &&
         call.matches("ii") == 1 && call.intArg(0, id) == 0 && call.intArg(1, value) == 0;
}

// Whether the slider event in line carries a value outside its widget's range; such a value
// never reaches the mask, which would post it to the device as it is.
bool outOfRange(PARAM_* p, const char* line, int len) {
  int id = 0, v = 0;
  if (!sliderEvent(line, len, &id, &v)) return false;
  auto range = p->ranges.find(id);
  if (range == p->ranges.end()) return false;
  // Qwt widgets report their value rounded to an integer.
  if ((double)v >= floor(range->second.first) && (double)v <= ceil(range->second.second))
    return false;
  p->refusedValues++;
  p->outOfRange.say("hxPollEvent: %.*s refused: widget %d takes %g to %g\n", len > 200 ? 200 : len,
                    line, id, range->second.first, range->second.second);
  return true;
}

// Whether line is the client's farewell, as hxParseEvent reads it.
bool farewell(const char* line, int len) {
  if (len < 6 || memcmp(line, "shutup", 6) != 0) return false;
  int id = 0;
  char none[1];
  return hxParseEventN(line, &id, none, sizeof none) == SHUTUP_EVENT;
}

// Queues a line that came while waiting. A slider value replaces a queued one of the same
// widget, which it makes pointless: however many values come meanwhile, the mask gets the last,
// in the place of the last among the other events. True when the line was the client's
// farewell, which is queued however full the queue is: dropped, it would leave the mask serving
// a client that has gone.
bool queueLine(PARAM_* p, const char* line, int len) {
  // Refused before it could replace a value that is in range.
  if (outOfRange(p, line, len)) return false;
  int id = 0, value = 0, queuedId = 0;
  if (sliderEvent(line, len, &id, &value)) {
    for (auto it = p->queued.begin(); it != p->queued.end(); ++it) {
      if (!sliderEvent(it->data(), (int)it->size(), &queuedId, &value) || queuedId != id) continue;
      p->queuedBytes -= (long)it->size();
      p->queued.erase(it);
      p->coalescedEvents++;
      break;
    }
  }
  bool last = farewell(line, len);
  if (!last && ((int)p->queued.size() >= HX_EVENT_QUEUE_LINES ||
                p->queuedBytes + len > HX_EVENT_QUEUE_BYTES)) {
    p->droppedEvents++;
    p->queueFull.say("hxWait: event queue full, an event was dropped (%ld so far)\n",
                     p->droppedEvents);
    return false;
  }
  p->queued.emplace_back(line, (size_t)len);
  p->queuedBytes += len;
  return last;
}

}  // namespace

int hxWaitLine(PARAM_* p, const char* pattern, char* found, int size, int* length) {
  if (p == nullptr || pattern == nullptr) return -1;
  if (p->stop.load()) return -1;
  size_t plen = strlen(pattern);
  std::vector<char> line(HX_MAX_LINE + 1);
  std::lock_guard<std::mutex> hold(p->readLock);
  int limit = answerLimit(p);
  long long deadline = limit > 0 ? otMonotonicMs() + limit : 0;
  for (;;) {
    int wait = remainingMs(deadline);
    if (wait < 0) break;
    int len = 0;
    int r = hxReadEventLine(p, line.data(), (int)line.size(), wait, &len);
    if (r < 0) return -1;
    if (r == 0) {
      if (deadline != 0) break;
      continue;
    }
    if (strncmp(line.data(), pattern, plen) == 0) {
      if (found != nullptr && size > 0) {
        int n = len < size ? len : size - 1;
        memcpy(found, line.data(), (size_t)n);
        found[n] = '\0';
      }
      if (length != nullptr) *length = len;
      return 0;
    }
    // No answer comes after a farewell; the mask finds it in the queue.
    if (queueLine(p, line.data(), len)) return -1;
  }
  if (!p->heard) {
    otLog(OT_LOG_WARNING, "hxWait: the client sent nothing within %d ms, connection dropped\n",
          limit);
    fflush(stdout);
    hxMarkClosed(p);
  }
  return -1;
}

int hxWait(PARAM_* p, const char* pattern) {
  return hxWaitLine(p, pattern, nullptr, 0, nullptr);
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
  long long deadline = p->pollMs > 0 ? otMonotonicMs() + p->pollMs : 0;
  for (;;) {
    int len = 0;
    bool fromQueue = !p->queued.empty();
    if (fromQueue) {
      const std::string& line = p->queued.front();
      len = (int)line.size();
      memcpy(buf, line.data(), line.size());
      buf[line.size()] = '\0';
      p->queuedBytes -= (long)line.size();
      p->queued.pop_front();
    } else {
      int wait = remainingMs(deadline);
      int r = wait < 0 ? 0 : hxReadEventLine(p, buf, HX_EVENT_BUFSIZE, wait, &len);
      if (r < 0) return -1;
      if (r == 0) {
        strcpy(buf, "idle");
        return 0;
      }
    }
    // A refused event is no event: the mask waits on for the next. (Queued lines were
    // checked before they were queued.)
    if (!fromQueue && outOfRange(p, buf, len)) continue;
    return 0;
  }
}
