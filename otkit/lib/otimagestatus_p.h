// The reader of the status area that acquisition daemons keep in their process image (its
// layout: otimagestatus.h), as the device clients use it; internal, not installed.
#ifndef OTIMAGESTATUS_P_H
#define OTIMAGESTATUS_P_H

#include <string.h>
#include <time.h>

#include "otbyteorder.h"
#include "otimagestatus.h"
#include "otsharedmemory.h"

namespace otimagestatus {

enum {
  CYCLE_RECORD = otImageStatus::CYCLE_RECORD,
  PASS_RECORD = otImageStatus::PASS_RECORD,
  STATE_GOOD = otImageStatus::STATE_GOOD
};

using otbyteorder::getBig;

// Seconds from then to now; -1 for never (0), and 0 when the clock went back.
inline long ageOf(unsigned long long then) {
  if (then == 0) return -1;
  long long age = (long long)time(nullptr) - (long long)then;
  return age < 0 ? 0 : (long)age;
}

// Whether record, the last PASS_RECORD bytes of an image of user bytes, is a daemon's record;
// then the number of cycles and the offset of the first cycle record.
inline bool passRecordOf(const unsigned char* record, unsigned long user, unsigned long* base,
                         unsigned long* cycles) {
  if (user < PASS_RECORD) return false;
  if (memcmp(record + otImageStatus::STATUS_MARK, otImageStatus::MARK, otImageStatus::MARK_SIZE) !=
      0)
    return false;
  const unsigned long long n = getBig(record + otImageStatus::STATUS_CYCLES, 4);
  // The cycle records must lie within the image in front of the daemon's record.
  if (n > (user - PASS_RECORD) / CYCLE_RECORD) return false;
  *cycles = (unsigned long)n;
  *base = user - PASS_RECORD - CYCLE_RECORD * *cycles;
  return true;
}

// The daemon's record and the number of cycles; false if the image does not end with one.
inline bool passRecord(otSharedMemory& image, unsigned char* record, unsigned long* base,
                       unsigned long* cycles) {
  const unsigned long size = image.size();
  if (size < otSharedMemory::SHM_HEADER_SIZE + PASS_RECORD) return false;
  const unsigned long user = size - otSharedMemory::SHM_HEADER_SIZE;
  if (image.read(user - PASS_RECORD, record, PASS_RECORD) != PASS_RECORD) return false;
  return passRecordOf(record, user, base, cycles);
}

inline int cycleStatus(otSharedMemory& image, int cycle, int* ok, long* ageSeconds) {
  unsigned char pass[PASS_RECORD], record[CYCLE_RECORD];
  unsigned long base, cycles;
  if (cycle < 1 || !passRecord(image, pass, &base, &cycles) || (unsigned long)cycle > cycles)
    return -1;
  if (image.read(base + CYCLE_RECORD * (unsigned long)(cycle - 1), record, CYCLE_RECORD) !=
      CYCLE_RECORD)
    return -1;
  if (ok != nullptr) *ok = record[otImageStatus::CYCLE_STATE] == STATE_GOOD ? 1 : 0;
  if (ageSeconds != nullptr)
    *ageSeconds = ageOf(getBig(record + otImageStatus::CYCLE_GOOD_TIME, 8));
  return 0;
}

inline int passAge(otSharedMemory& image, long* ageSeconds) {
  unsigned char pass[PASS_RECORD];
  unsigned long base, cycles;
  if (!passRecord(image, pass, &base, &cycles)) return -1;
  if (ageSeconds != nullptr) *ageSeconds = ageOf(getBig(pass + otImageStatus::PASS_GOOD_TIME, 8));
  return 0;
}

}  // namespace otimagestatus

#endif
