// Feeds arbitrary bytes, as a 3964R partner could send them after a connection request, through
// the telegram parser of the receiver thread, on a buffer; after each complete or refused
// telegram the parser starts over. Input byte 0 is skipped (room for later options). An
// accepted telegram must fit the buffer and be exactly what the sender's encoding makes of its
// data. The rest of the input is also sent as a telegram and must come back whole.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ot3964r.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  fprintf(stderr, "fuzz_3964r: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  const uint8_t* data = input + 1;
  const size_t n = size - 1;
  static unsigned char frame[ot3964RParser::MAX_FRAME];

  ot3964RParser p;
  size_t start = 0;
  for (size_t i = 0; i < n; i++) {
    int r = p.feed(data[i]);
    if (r == ot3964RParser::MORE) continue;
    check(r == ot3964RParser::GOOD || r == ot3964RParser::BAD, "result out of range");
    check(i + 1 - start <= (size_t)ot3964RParser::MAX_FRAME, "telegram beyond the limit");
    if (r == ot3964RParser::GOOD) {
      int len = p.length();
      check(len >= 0 && len <= ot3964RParser::MAX_DATA, "data length");
      int f = ot3964R::encode(p.data(), len, frame, (int)sizeof(frame));
      check(f == (int)(i + 1 - start) && memcmp(frame, data + start, (size_t)f) == 0,
            "accepted what the sender would not have sent");
    }
    p.reset();
    start = i + 1;
  }

  int len = n > ot3964RParser::MAX_DATA ? ot3964RParser::MAX_DATA : (int)n;
  int f = ot3964R::encode(data, len, frame, (int)sizeof(frame));
  check(f >= len + 3, "encoded length");
  ot3964RParser q;
  int last = ot3964RParser::MORE;
  for (int i = 0; i < f; i++) {
    last = q.feed(frame[i]);
    check(last == ot3964RParser::MORE || i == f - 1, "end inside own telegram");
  }
  check(last == ot3964RParser::GOOD, "own telegram refused");
  check(q.length() == len && memcmp(q.data(), data, (size_t)len) == 0, "data changed");
  return 0;
}
