// Feeds arbitrary bytes, as a DF1 slave could send them, through the parser behind
// otDF1::receiveAnswer, on a buffer. Input byte 0 sets where the line falls silent (every n-th
// byte, 0: never); the rest is what arrives. Every accepted telegram must have a header, fit
// the body buffer and carry the CRC it was sent with. The rest of the input is also framed
// as a body and must come back whole.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "otdf1.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  fprintf(stderr, "fuzz_df1: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  const unsigned every = input[0];
  const uint8_t* data = input + 1;
  const size_t n = size - 1;

  otDF1Parser p;
  size_t pos = 0;
  for (size_t i = 0; i < n; i++) {
    int ev = p.feed(data[i]);
    check(ev >= otDF1Parser::NONE && ev <= otDF1Parser::STRAY, "event out of range");
    if (ev == otDF1Parser::FRAME) {
      int len = p.bodyLength();
      check(len >= otDF1Parser::MIN_BODY && len <= otDF1Parser::MAX_BODY, "body length");
      // The telegram ends here with its two CRC bytes.
      check(i >= 1, "CRC without bytes");
      unsigned short got = (unsigned short)(data[i - 1] | (data[i] << 8));
      check(otDF1::crc(p.body(), len) == got, "accepted a wrong CRC");
    }
    if (every > 0 && ++pos % every == 0) {
      int s = p.silence();
      check(s == otDF1Parser::NONE || s == otDF1Parser::BROKEN, "silence event");
      check(!p.busy(), "busy after silence");
    }
  }

  // Round trip of a body made of the input.
  int len = n > otDF1Parser::MAX_BODY ? otDF1Parser::MAX_BODY : (int)n;
  df1Buffer out(otDF1::FRAME_SIZE);
  int t = otDF1::buildTelegram(data, len, out);
  check(t == (int)out.length() && t >= len + 6, "telegram length");
  otDF1Parser q;
  int last = otDF1Parser::NONE;
  for (int i = 0; i < t; i++) {
    int ev = q.feed(out.data()[i]);
    check(ev == otDF1Parser::NONE || i == t - 1, "event inside own telegram");
    last = ev;
  }
  if (len >= otDF1Parser::MIN_BODY) {
    check(last == otDF1Parser::FRAME, "own telegram refused");
    check(q.bodyLength() == len && memcmp(q.body(), data, (size_t)len) == 0, "body changed");
  } else {
    check(last == otDF1Parser::BROKEN, "short body accepted");
  }
  return 0;
}
