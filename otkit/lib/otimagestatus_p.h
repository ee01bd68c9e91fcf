// The status area that generated acquisition daemons append to their process image, as the
// device clients read it; internal, not installed.
//
// The image ends with the area: one 16-byte record per read cycle, then the daemon's record of
// 28 bytes, whose last 8 bytes are the mark "OTS1" and the number of cycles. A client therefore
// finds the area from the image size alone. Fields of more than one byte are stored most
// significant byte first; times are seconds since 1970-01-01 UTC, 0 for never.
//   cycle record:  0 state (0 not read yet, 1 last read good, 2 last read failed), 1-3 spare,
//                  4-7 failed reads in a row, 8-15 time of the last good read
//   daemon record: 0-7 time of the last pass in which every cycle read good, 8-11 passes,
//                  12-15 read errors, 16-19 write errors (the counts stop at 0xFFFFFFFF),
//                  20-23 "OTS1", 24-27 number of cycles
#ifndef OTIMAGESTATUS_P_H
#define OTIMAGESTATUS_P_H

#include <string.h>
#include <time.h>

#include "otsharedmemory.h"

namespace otimagestatus {

enum { CYCLE_RECORD = 16, PASS_RECORD = 28, STATE_GOOD = 1 };

inline unsigned long long getBig(const unsigned char* in, int n) {
  unsigned long long v = 0;
  for (int i = 0; i < n; i++)
    v = (v << 8) | in[i];
  return v;
}

// Seconds from then to now; -1 for never (0), and 0 when the clock went back.
inline long ageOf(unsigned long long then) {
  if (then == 0) return -1;
  long long age = (long long)time(nullptr) - (long long)then;
  return age < 0 ? 0 : (long)age;
}

// The daemon's record and the number of cycles; false if the image does not end with one.
inline bool passRecord(otSharedMemory& image, unsigned char* record, unsigned long* base,
                       unsigned long* cycles) {
  const unsigned long size = image.size();
  if (size < otSharedMemory::SHM_HEADER_SIZE + PASS_RECORD) return false;
  const unsigned long user = size - otSharedMemory::SHM_HEADER_SIZE;
  if (image.read(user - PASS_RECORD, record, PASS_RECORD) != PASS_RECORD) return false;
  if (memcmp(record + 20, "OTS1", 4) != 0) return false;
  const unsigned long long n = getBig(record + 24, 4);
  // The cycle records must lie within the image in front of the daemon's record.
  if (n > (user - PASS_RECORD) / CYCLE_RECORD) return false;
  *cycles = (unsigned long)n;
  *base = user - PASS_RECORD - CYCLE_RECORD * *cycles;
  return true;
}

inline int cycleStatus(otSharedMemory& image, int cycle, int* ok, long* ageSeconds) {
  unsigned char pass[PASS_RECORD], record[CYCLE_RECORD];
  unsigned long base, cycles;
  if (cycle < 1 || !passRecord(image, pass, &base, &cycles) || (unsigned long)cycle > cycles)
    return -1;
  if (image.read(base + CYCLE_RECORD * (unsigned long)(cycle - 1), record, CYCLE_RECORD) !=
      CYCLE_RECORD)
    return -1;
  if (ok != nullptr) *ok = record[0] == STATE_GOOD ? 1 : 0;
  if (ageSeconds != nullptr) *ageSeconds = ageOf(getBig(record + 8, 8));
  return 0;
}

inline int passAge(otSharedMemory& image, long* ageSeconds) {
  unsigned char pass[PASS_RECORD];
  unsigned long base, cycles;
  if (!passRecord(image, pass, &base, &cycles)) return -1;
  if (ageSeconds != nullptr) *ageSeconds = ageOf(getBig(pass, 8));
  return 0;
}

}  // namespace otimagestatus

#endif
