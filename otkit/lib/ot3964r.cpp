#include "ot3964r.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "otcutil.h"
#include "ottime.h"
#include "otwthread.h"

namespace {

const unsigned char kSTX = ot3964R::STX;
const unsigned char kETX = ot3964R::ETX;
const unsigned char kDLE = ot3964R::DLE;
const unsigned char kNAK = ot3964R::NAK;

}  // namespace

// ---------------------------------------------------------------------------------------------
// ot3964RParser

ot3964RParser::ot3964RParser() {
  reset();
}

void ot3964RParser::reset() {
  state = DATA;
  bad = false;
  bcc = 0;
  chars = 0;
  len = 0;
}

int ot3964RParser::feed(unsigned char c) {
  if (state == DONE) return MORE;
  // No valid telegram is longer: only its BCC may come as the last possible character. A
  // partner that sends without end is cut off here.
  if (++chars >= MAX_FRAME && state != BCC) {
    state = DONE;
    return BAD;
  }
  if (state == BCC) {
    state = DONE;
    return !bad && c == bcc ? GOOD : BAD;
  }
  bcc ^= c;
  if (state == AFTER_DLE) {
    state = DATA;
    if (c == kETX) {
      state = BCC;
      return MORE;
    }
    // DLE and anything but DLE or ETX is a framing error; the telegram is read to its end
    // all the same, so that its rest is not taken for new connection requests.
    if (c != kDLE) bad = true;
  } else if (c == kDLE) {
    state = AFTER_DLE;
    return MORE;
  }
  if (!bad) {
    // A telegram longer than the buffer is refused, never stored past it.
    if (len < MAX_DATA)
      buf[len++] = c;
    else
      bad = true;
  }
  return MORE;
}

// ---------------------------------------------------------------------------------------------
// ot3964R: framing

int ot3964R::encode(const unsigned char* data, int len, unsigned char* out, int size) {
  if (len < 0 || len > MAX_TELEGRAM || (data == nullptr && len > 0) || out == nullptr) return -1;
  int n = 0;
  unsigned char bcc = 0;
  for (int i = 0; i < len; i++) {
    int need = data[i] == kDLE ? 2 : 1;
    if (n + need > size) return -1;
    out[n++] = data[i];
    if (data[i] == kDLE) out[n++] = kDLE;
    // A doubled DLE cancels itself in the XOR.
    if (data[i] != kDLE) bcc ^= data[i];
  }
  if (n + 3 > size) return -1;
  out[n++] = kDLE;
  out[n++] = kETX;
  bcc ^= kDLE ^ kETX;
  out[n++] = bcc;
  return n;
}

const char* ot3964R::stateName(int s) {
  switch (s) {
    case IDLE:
      return "idle";
    case SENDING:
      return "sending";
    case RECEIVING:
      return "receiving";
    case WANT_TO_SEND:
      return "want_to_send";
    case WANT_TO_RECEIVE:
      return "want_to_receive";
    default:
      return "?";
  }
}

// ---------------------------------------------------------------------------------------------
// ot3964R: line

ot3964R::ot3964R(int prio, int tmo)
    : debug(0),
      state(IDLE),
      priority(prio == LOW_PRIORITY ? LOW_PRIORITY : HIGH_PRIORITY),
      isOpen(0),
      run(0),
      callback(nullptr),
      sendLen(-1),
      sendResult(0),
      timeout(tmo > 0 ? tmo : DEFAULT_TIMEOUT),
      pending(false),
      threadActive(false),
      writeDeadline(0) {
  memset(sendBuf, 0, sizeof(sendBuf));
}

ot3964R::~ot3964R() {
  close();
}

int ot3964R::dprintf(const char* format, ...) {
  if (debug != 1) return 0;
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 0) return t.result;
  fputs(t.text, stdout);
  fflush(stdout);
  return t.length;
}

int ot3964R::open(const char* devicename, int speed) {
  if (isOpen) return -1;
  int r = serial.openDevice(devicename, speed, 1, 0, 8, 1, otSerial::EVEN);
  if (r < 0) return r;
  thread.lock();
  state = IDLE;
  pending = false;
  threadActive = true;
  thread.unlock();
  run = 1;
  isOpen = 1;
  if (thread.create(receiverMain, this) != 0) {
    run = 0;
    isOpen = 0;
    thread.lock();
    threadActive = false;
    thread.unlock();
    serial.closeDevice();
    return -1;
  }
  return r;
}

int ot3964R::close() {
  if (!isOpen) return -1;
  // No cancellation: the thread may hold the mutex or be half-way through a telegram. It sees
  // the cleared flag within one timeout and ends by itself.
  run = 0;
  thread.join(nullptr);
  serial.closeDevice();
  isOpen = 0;
  thread.lock();
  state = IDLE;
  thread.unlock();
  return 0;
}

int ot3964R::setReadCallback(void (*cb)(const unsigned char* buf, int len)) {
  thread.lock();
  callback = cb;
  thread.unlock();
  return 0;
}

int ot3964R::write(const unsigned char* buf, int len) {
  if (len > MAX_TELEGRAM || len < 0 || (buf == nullptr && len > 0)) return -1;
  if (!isOpen) return -1;
  writeLock.lock();
  thread.lock();
  if (!threadActive) {
    thread.unlock();
    writeLock.unlock();
    return -1;
  }
  if (len > 0) memcpy(sendBuf, buf, (size_t)len);
  sendLen = len;
  sendResult = -1;
  pending = true;
  writeDeadline = otMonotonicMs() + (long long)WRITE_LIMIT_TIMEOUTS * timeout;
  setState(WANT_TO_SEND);
  if (serial.writeChar(kSTX) != 1) {
    pending = false;
    setState(IDLE);
    thread.unlock();
    writeLock.unlock();
    return -1;
  }
  thread.unlock();
  // The receiver thread posts exactly once for every pending telegram: sent, rejected, timed
  // out, or the thread ending.
  thread.waitSemaphore();
  thread.lock();
  int result = sendResult;
  thread.unlock();
  writeLock.unlock();
  return result == 0 ? len : result;
}

void* ot3964R::receiverMain(void* param) {
  ot3964R* self = static_cast<ot3964R*>(static_cast<THREAD_PARAM*>(param)->user);
  self->receiverLoop();
  return nullptr;
}

// Caller holds the mutex.
void ot3964R::setState(int s) {
  if (s != state) dprintf("state %s -> %s\n", stateName(state), stateName(s));
  state = s;
}

// Caller holds the mutex.
void ot3964R::finishWrite(int result) {
  if (!pending) return;
  pending = false;
  sendResult = result;
  thread.incrementSemaphore();
}

// One character within ms; -1 when none comes, -2 when the line fails.
int ot3964R::readWithin(int ms) {
  int s = serial.select(ms);
  if (s == 0) return -1;
  if (s < 0) return -2;
  int c = serial.readChar();
  return c < 0 ? -2 : c;
}

void ot3964R::receiverLoop() {
  while (run) {
    int c = readWithin(timeout);
    thread.lock();
    if (c >= 0)
      handleChar(c);
    else
      handleSilence();
    // A pending telegram whose connection request found no answer in time gives up.
    if (pending && state != SENDING && otMonotonicMs() >= writeDeadline) {
      dprintf("write(): partner did not accept the connection request\n");
      setState(IDLE);
      finishWrite(WRITE_TIMEOUT);
    }
    thread.unlock();
    // A failed or hung-up line reports at once; pause so as not to spin on it.
    if (c == -2) otsleep(timeout);
  }
  thread.lock();
  threadActive = false;
  setState(IDLE);
  finishWrite(-1);
  thread.unlock();
}

// Caller holds the mutex.
void ot3964R::handleChar(int c) {
  if (c == kSTX) {
    if (state == WANT_TO_SEND && priority == HIGH_PRIORITY) {
      // The own telegram keeps precedence: reject the partner's request, repeat ours.
      unsigned char b[2] = {kNAK, kSTX};
      serial.writeBlock(b, 2);
    } else if (state == WANT_TO_SEND) {
      // Low priority: the partner rejects our request with NAK and repeats its STX, which is
      // answered then (answering this one would make NAK and STX the start of its data). A
      // partner that waits for DLE instead is answered when the line stays quiet.
      setState(WANT_TO_RECEIVE);
    } else if (state == WANT_TO_RECEIVE) {
      yieldAndReceive();
    } else {
      setState(RECEIVING);
      serial.writeChar(kDLE);
      receive();
      setState(IDLE);
    }
    return;
  }
  if (c == kDLE) {
    if (state == WANT_TO_SEND || state == WANT_TO_RECEIVE)
      sendTelegram();
    else
      setState(IDLE);
    return;
  }
  if (c == kNAK) return;
  if (!pending) setState(IDLE);
}

// Caller holds the mutex.
void ot3964R::handleSilence() {
  if (state == WANT_TO_RECEIVE)
    yieldAndReceive();
  else if (!pending)
    setState(IDLE);
}

// Low priority in a conflict: take the partner's telegram, then request the line again.
// Caller holds the mutex.
void ot3964R::yieldAndReceive() {
  setState(RECEIVING);
  serial.writeChar(kDLE);
  receive();
  setState(WANT_TO_SEND);
  if (serial.writeChar(kSTX) != 1) {
    setState(IDLE);
    finishWrite(-1);
  }
}

// After the partner's DLE. Caller holds the mutex.
void ot3964R::sendTelegram() {
  setState(SENDING);
  unsigned char frame[ot3964RParser::MAX_FRAME];
  int n = encode(sendBuf, sendLen, frame, (int)sizeof(frame));
  int result = -1;
  if (n > 0 && serial.writeBlock(frame, n) == n) {
    int c = readWithin(timeout);
    if (c == kDLE) {
      dprintf(" success\n");
      result = 0;
    } else if (c < 0) {
      dprintf("send(): partner was sending nothing\n");
    } else {
      dprintf(" failure\n");
    }
  }
  setState(IDLE);
  finishWrite(result);
}

// After answering DLE. Returns the number of data bytes accepted, or -1. Caller holds the
// mutex.
int ot3964R::receive() {
  rx.reset();
  for (;;) {
    int c = readWithin(timeout);
    if (c == -1) {
      dprintf("receive(): partner was sending nothing\n");
      return -1;
    }
    if (c < 0) return -1;
    int r = rx.feed((unsigned char)c);
    if (r == ot3964RParser::GOOD) {
      serial.writeChar(kDLE);
      dprintf(" success\n");
      if (callback != nullptr) callback(rx.data(), rx.length());
      return rx.length();
    }
    if (r == ot3964RParser::BAD) {
      serial.writeChar(kNAK);
      dprintf(" failure\n");
      return -1;
    }
    if (!run) return -1;
  }
}
