// PPI telegrams and the master's exchange. The framing functions work on buffers so that they
// can be fuzzed and tested without a line; read() and Master put them on an otSerial.
#include "ppi.h"

#include <fcntl.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "ottime.h"
#include "otwthread.h"

namespace otppi {

int checksum(const unsigned char* p, int n) {
  unsigned sum = 0;
  for (int i = 0; i < n; i++)
    sum += p[i];
  return (int)(sum & 0xFF);
}

namespace {

bool isByte(int v) {
  return v >= 0 && v <= 0xFF;
}

// Polls of a station that answers "not ready yet" (E5) before the exchange gives up.
const int kNotReadyPolls = 20;
const int kNotReadyPauseMs = 5;

}  // namespace

int buildVariable(int da, int sa, int fc, const unsigned char* data, int len, unsigned char* out) {
  if (!isByte(da) || !isByte(sa) || !isByte(fc) || len < 0 || len > MAX_DATA ||
      (data == nullptr && len > 0) || out == nullptr)
    return E_ARGUMENT;
  int le = len + 3;
  out[0] = SD2;
  out[1] = out[2] = (unsigned char)le;
  out[3] = SD2;
  out[4] = (unsigned char)da;
  out[5] = (unsigned char)sa;
  out[6] = (unsigned char)fc;
  if (len > 0) memcpy(out + 7, data, (size_t)len);
  out[4 + le] = (unsigned char)checksum(out + 4, le);
  out[5 + le] = ED;
  return le + 6;
}

int buildShort(int da, int sa, int fc, unsigned char* out) {
  if (!isByte(da) || !isByte(sa) || !isByte(fc) || out == nullptr) return E_ARGUMENT;
  out[0] = SD1;
  out[1] = (unsigned char)da;
  out[2] = (unsigned char)sa;
  out[3] = (unsigned char)fc;
  out[4] = (unsigned char)checksum(out + 1, 3);
  out[5] = ED;
  return SHORT_TELEGRAM;
}

int expectedLength(const unsigned char* buf, int n) {
  if (buf == nullptr || n < 1) return 0;
  switch (buf[0]) {
    case SC:
      return 1;
    case SD1:
      return SHORT_TELEGRAM;
    case SD2:
      if (n < 4) return 0;
      if (buf[3] != SD2) return E_START;
      if (buf[1] != buf[2] || buf[1] < 3) return E_LENGTH;
      return buf[1] + 6;
    default:
      return E_START;
  }
}

int parse(const unsigned char* buf, int n, Telegram* t) {
  int want = expectedLength(buf, n);
  if (want < 0) return want;
  if (want == 0 || n != want) return E_LENGTH;
  memset(t, 0, sizeof(*t));
  t->kind = buf[0];
  if (buf[0] == SC) return n;
  if (buf[n - 1] != ED) return E_END;
  // DA, SA and FC stand right after the start (the short telegram) or after 68 LE LE 68.
  int head = buf[0] == SD1 ? 1 : 4;
  if (checksum(buf + head, n - head - 2) != buf[n - 2]) return E_CHECKSUM;
  t->da = buf[head];
  t->sa = buf[head + 1];
  t->fc = buf[head + 2];
  if (buf[0] == SD2) {
    t->data = buf + 7;
    t->len = n - 9;
  }
  return n;
}

int read(otSerial* line, unsigned char* buf, int firstMs, int gapMs, Telegram* t) {
  int r = line->readBlock(buf, 1, firstMs);
  if (r == -1) return E_TIMEOUT;
  if (r != 1) return E_LINE;
  int have = 1;
  int want = expectedLength(buf, have);
  if (want == 0) {  // a variable telegram: its length stands in the next three bytes
    r = line->readBlock(buf + 1, 3, gapMs);
    if (r < 0 && r != -1) return E_LINE;
    if (r != 3) return E_CUT;
    have = 4;
    want = expectedLength(buf, have);
  }
  if (want < 0) return want;
  if (want > have) {
    r = line->readBlock(buf + have, want - have, gapMs);
    if (r < 0 && r != -1) return E_LINE;
    if (r != want - have) return E_CUT;
  }
  return parse(buf, want, t);
}

void drain(otSerial* line, int quietMs) {
  unsigned char junk[64];
  while (line->readBlock(junk, (int)sizeof(junk), quietMs) > 0) {
  }
}

Master::Master(int localAddress) : local_(localAddress) {}

int Master::adopt(int fd) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (fd < 0) return -1;
  int mine = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (mine < 0) return -1;
  if (line_.adoptDevice(mine) != 0) {
    ::close(mine);
    return -1;
  }
  // The gap allowed inside a telegram: 100 ms, which lines forwarded by programs (a
  // pseudo-terminal, a network adapter) need, or 20 character times on slow lines.
  struct termios t;
  if (tcgetattr(mine, &t) == 0) {
    unsigned long baud = otBaudRate(cfgetispeed(&t));
    if (baud > 0) {
      int charMs = (int)(11 * 1000 / baud) + 1;
      if (20 * charMs > gapMs_) gapMs_ = 20 * charMs;
    }
  }
  return 0;
}

void Master::setTiming(int answerMs, int gapMs, int repeats) {
  std::lock_guard<std::mutex> hold(mutex_);
  answerMs_ = answerMs;
  gapMs_ = gapMs;
  repeats_ = repeats < 0 ? 0 : repeats;
}

int Master::nextFc(int da) {
  Station& s = stations_[da];
  if (!s.synced) {
    s.synced = true;
    s.fcb = true;
    return FC_REQUEST | FC_FCB | FC_SRD_LOW;  // 6C: FCV clear, the station starts anew
  }
  s.fcb = !s.fcb;
  return FC_REQUEST | (s.fcb ? FC_FCB : 0) | FC_FCV | FC_SRD_LOW;
}

int Master::transfer(const unsigned char* tg, int len, unsigned char* answer, Telegram* t, int da,
                     bool wantData) {
  int last = E_TIMEOUT;
  for (int attempt = 0; attempt <= repeats_; attempt++) {
    if (attempt > 0 && last == E_LINE)
      otsleep(answerMs_);  // a hung-up line answers at once: do not spin on it
    if (line_.writeBlock(tg, len) != len) {
      last = E_LINE;
      continue;
    }
    int r = read(&line_, answer, answerMs_, gapMs_, t);
    if (r < 0) {
      // The rest of a damaged telegram must not be taken for the next answer, whether that
      // belongs to this exchange or to the next.
      if (r != E_TIMEOUT && r != E_LINE) drain(&line_, gapMs_);
      last = r;
      continue;
    }
    if (t->kind == SC) return r;  // the acknowledgement, or "not ready yet" to a poll
    if (!wantData || t->kind != SD2) {
      last = E_UNEXPECTED;
      continue;
    }
    if (t->da != local_ || t->sa != da) {
      last = E_ADDRESS;
      continue;
    }
    if ((t->fc & FC_REQUEST) || (t->fc & 0x0F) != FC_REPLY_DATA) {
      last = E_UNEXPECTED;
      continue;
    }
    return r;
  }
  return last;
}

int Master::exchange(int da, const unsigned char* pdu, int n, unsigned char* reply, int max) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (da < 0 || da > MAX_ADDRESS || da == local_ || pdu == nullptr || n <= 0 || n > MAX_DATA ||
      reply == nullptr)
    return E_ARGUMENT;
  unsigned char tg[MAX_TELEGRAM];
  unsigned char answer[MAX_TELEGRAM];
  Telegram t;
  int len = buildVariable(da, local_, nextFc(da), pdu, n, tg);
  int r = transfer(tg, len, answer, &t, da, false);
  for (int poll = 0; r >= 0 && poll < kNotReadyPolls; poll++) {
    if (poll > 0) otsleep(kNotReadyPauseMs);
    len = buildShort(da, local_, nextFc(da), tg);
    r = transfer(tg, len, answer, &t, da, true);
    if (r < 0 || t.kind == SC) continue;
    if (t.len > max) {
      r = E_UNEXPECTED;
      break;
    }
    memcpy(reply, t.data, (size_t)t.len);
    return t.len;
  }
  if (r >= 0) r = E_TIMEOUT;  // the station never had its reply ready
  // Lost contact: the next telegram starts the station anew (FCV clear).
  stations_[da].synced = false;
  return r;
}

}  // namespace otppi
