// Modbus Signal assignment of demo
#define demo_SHARED_MEMORY "/tmp/otkit/demo.shm"
#define demo_MAILBOX "/tmp/otkit/demo.mbx"

#define demo_CYCLE1_BASE 0
#define demo_CYCLE1_NUM 4
#define demo_CYCLE1_NUM_BYTES 8

#define demo_CYCLE2_BASE 8
#define demo_CYCLE2_NUM 2
#define demo_CYCLE2_NUM_BYTES 1

#define demo_CYCLE3_BASE 9
#define demo_CYCLE3_NUM 4
#define demo_CYCLE3_NUM_BYTES 8

#define demo_CYCLE4_BASE 17
#define demo_CYCLE4_NUM 8
#define demo_CYCLE4_NUM_BYTES 1

// 16-bit counters in host byte order; they start again at 0 after 32767.
#define demo_LIFE_COUNTER_BASE 18
#define demo_READ_ERROR_COUNT_BASE 20
#define demo_WRITE_ERROR_COUNT_BASE 22

// Status: whether the values of a block are fresh. Fields of more than one byte are
// stored most significant byte first; times are seconds since 1970-01-01 UTC, 0 for
// never; counts stop at 0xFFFFFFFF instead of starting again.
// Per cycle: STATUS (1 byte: 0 not read yet, 1 last read good, 2 last read failed),
// FAILURES (4 bytes: failed reads in a row), GOOD_TIME (8 bytes: last good read).
// Daemon: PASS_GOOD_TIME (8 bytes: the end of the last pass in which every cycle read
// good), PASS_COUNT, READ_ERROR_TOTAL, WRITE_ERROR_TOTAL (4 bytes each), STATUS_MARK
// (the 4 characters OTS1) and STATUS_CYCLES (4 bytes: the number of cycles), which end
// the image.
#define demo_STATUS_BASE 24
#define demo_CYCLE1_STATUS 24
#define demo_CYCLE1_FAILURES 28
#define demo_CYCLE1_GOOD_TIME 32
#define demo_CYCLE2_STATUS 40
#define demo_CYCLE2_FAILURES 44
#define demo_CYCLE2_GOOD_TIME 48
#define demo_CYCLE3_STATUS 56
#define demo_CYCLE3_FAILURES 60
#define demo_CYCLE3_GOOD_TIME 64
#define demo_CYCLE4_STATUS 72
#define demo_CYCLE4_FAILURES 76
#define demo_CYCLE4_GOOD_TIME 80
#define demo_PASS_GOOD_TIME 88
#define demo_PASS_COUNT 96
#define demo_READ_ERROR_TOTAL 100
#define demo_WRITE_ERROR_TOTAL 104
#define demo_STATUS_MARK 108
#define demo_STATUS_CYCLES 112

#define demo_SHARED_MEMORY_SIZE 116
