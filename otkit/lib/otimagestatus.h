// otImageStatus: the layout of what an acquisition daemon keeps in its process image behind the
// data blocks of its read cycles, so that a display can tell fresh values from stale ones. The
// daemon runtime (otdaemon.h) writes it, the device clients read it, and the daemon generators
// compute the offsets of the generated header from it.
//
// Behind the blocks (which lie back to back from offset 0, in cycle order):
//   counters: the life counter, the read error counter and the write error counter, 16 bits
//             each in host byte order; each starts again at 0 after 32767
//   status:   one record of CYCLE_RECORD bytes per read cycle, then the daemon's record of
//             PASS_RECORD bytes, whose last 8 bytes (the mark "OTS1" and the number of cycles)
//             end the image, so that a reader finds the area from the image size alone
// In the status area, fields of more than one byte are stored most significant byte first;
// times are seconds since 1970-01-01 UTC, 0 for never; 4-byte counts stop at 0xFFFFFFFF instead
// of starting again, since a total that starts again would look like a recovery.
#ifndef OTIMAGESTATUS_H
#define OTIMAGESTATUS_H

class otImageStatus {
 public:
  // The counters: offsets from the end of the blocks, their room, and the value at which a
  // counter starts again at 0.
  enum { LIFE_COUNTER = 0, READ_ERROR_COUNT = 2, WRITE_ERROR_COUNT = 4, COUNTERS = 6 };
  enum { COUNTER_WRAP = 32768 };
  // A cycle record: offsets of its fields, and its size.
  enum {
    CYCLE_STATE = 0,      // 1 byte: one of the states below (bytes 1 to 3 are spare)
    CYCLE_FAILURES = 4,   // 4 bytes: failed reads in a row
    CYCLE_GOOD_TIME = 8,  // 8 bytes: time of the last good read
    CYCLE_RECORD = 16
  };
  enum { STATE_NOT_READ = 0, STATE_GOOD = 1, STATE_FAILED = 2 };
  // The daemon's record: offsets of its fields, and its size.
  enum {
    PASS_GOOD_TIME = 0,      // 8 bytes: end of the last pass in which every cycle read good
    PASS_COUNT = 8,          // 4 bytes: passes over the cycles
    READ_ERROR_TOTAL = 12,   // 4 bytes: failed reads
    WRITE_ERROR_TOTAL = 16,  // 4 bytes: write requests not carried out
    STATUS_MARK = 20,        // 4 bytes: the characters of MARK
    STATUS_CYCLES = 24,      // 4 bytes: the number of cycles
    PASS_RECORD = 28
  };
  static constexpr const char* MARK = "OTS1";
  enum { MARK_SIZE = 4 };

  // The layout of an image whose blocks take blockBytes bytes, with cycles read cycles.
  constexpr otImageStatus(long long blockBytes, long long cycles)
      : blocks_(blockBytes), cycles_(cycles) {}

  long long counterBase() const { return blocks_; }
  long long statusBase() const { return blocks_ + COUNTERS; }
  // The record of cycle k, counted from 1.
  long long cycleRecord(long long k) const { return statusBase() + CYCLE_RECORD * (k - 1); }
  long long passRecord() const { return statusBase() + CYCLE_RECORD * cycles_; }
  // The size of the image (the user bytes of its otSharedMemory).
  long long imageSize() const { return passRecord() + PASS_RECORD; }
  long long cycles() const { return cycles_; }

 private:
  long long blocks_;
  long long cycles_;
};

#endif
