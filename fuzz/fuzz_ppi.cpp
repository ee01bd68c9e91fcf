// Feeds arbitrary bytes, as a PPI station or master could send them, through the telegram
// reader's framing (expectedLength, parse) the way the reader walks a line: a byte that starts
// nothing is skipped, a telegram is taken whole. Every accepted telegram must lie within the
// input, carry the FCS and end delimiter it was sent with, and come out of the builders byte
// for byte. The same bytes also go through the S7 PDU checkers the PPI layer runs on a
// telegram's data, and a telegram built around them must parse back to them.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ots7pdu.h"
#include "ppi.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  fprintf(stderr, "fuzz_ppi: %s\n", what);
  abort();
}

void checkTelegram(const uint8_t* p, int n, const otppi::Telegram& t) {
  unsigned char again[otppi::MAX_TELEGRAM];
  if (t.kind == otppi::SC) {
    check(n == 1 && p[0] == otppi::SC, "acknowledgement");
    return;
  }
  check(p[n - 1] == otppi::ED, "accepted without end delimiter");
  if (t.kind == otppi::SD1) {
    check(n == otppi::SHORT_TELEGRAM, "short telegram length");
    check(otppi::buildShort(t.da, t.sa, t.fc, again) == n && memcmp(again, p, (size_t)n) == 0,
          "short telegram does not build back");
    return;
  }
  check(t.kind == otppi::SD2, "telegram kind");
  check(t.len >= 0 && t.len <= otppi::MAX_DATA && t.len == n - 9, "data length");
  check(t.data == p + 7, "data outside the telegram");
  check(otppi::checksum(p + 4, n - 6) == p[n - 2], "accepted a wrong FCS");
  check(otppi::buildVariable(t.da, t.sa, t.fc, t.data, t.len, again) == n &&
            memcmp(again, p, (size_t)n) == 0,
        "variable telegram does not build back");
}

void checkS7(const uint8_t* p, int n) {
  ots7pdu::Job job;
  if (ots7pdu::parseJob(p, n, &job) == 0 && job.function == ots7pdu::FN_WRITE) {
    check(job.data > p && job.data + (job.dataBits + 7) / 8 <= p + n, "job data outside");
  }
  unsigned char out[otppi::MAX_DATA];
  int code;
  for (int len = 1; len <= 4; len++) {
    int r = ots7pdu::parseReadReply(p, n, len, out, &code);
    check(r == len || r < 0, "read reply result");
    check(r != len || n == ots7pdu::READ_REPLY_HEADER + len, "read reply length");
  }
  int r = ots7pdu::parseWriteReply(p, n, 7, 1, &code);
  check(r == 7 || r < 0, "write reply result");
  ots7pdu::checkAckHeader(p, n, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int n = size > 4096 ? 4096 : (int)size;
  for (int pos = 0; pos < n;) {
    int want = otppi::expectedLength(data + pos, n - pos);
    if (want == 0) break;  // the rest is the beginning of a telegram
    if (want < 0) {
      pos++;
      continue;
    }
    check(want <= otppi::MAX_TELEGRAM, "length beyond the largest telegram");
    if (want > n - pos) break;
    otppi::Telegram t;
    int r = otppi::parse(data + pos, want, &t);
    if (r < 0) {
      check(r == otppi::E_END || r == otppi::E_CHECKSUM || r == otppi::E_LENGTH, "parse error");
      pos++;
      continue;
    }
    check(r == want, "parse length");
    checkTelegram(data + pos, want, t);
    if (t.kind == otppi::SD2) checkS7(t.data, t.len);
    pos += want;
  }

  checkS7(data, n);
  if (n >= 3) {
    unsigned char tg[otppi::MAX_TELEGRAM];
    int len = n - 3 > otppi::MAX_DATA ? otppi::MAX_DATA : n - 3;
    int total = otppi::buildVariable(data[0], data[1], data[2], data + 3, len, tg);
    check(total == len + 9, "built length");
    otppi::Telegram t;
    check(otppi::parse(tg, total, &t) == total, "own telegram refused");
    check(t.da == data[0] && t.sa == data[1] && t.fc == data[2] && t.len == len &&
              memcmp(t.data, data + 3, (size_t)len) == 0,
          "own telegram changed");
  }
  return 0;
}
