// Siemens Signal assignment of siemensdaemon
#define siemensdaemon_SHARED_MEMORY "/tmp/otkit/siemens.shm"
#define siemensdaemon_MAILBOX "/tmp/otkit/siemens.mbx"

#define siemensdaemon_CYCLE1_BASE 0
#define siemensdaemon_CYCLE1_NUM_BYTES 8

#define siemensdaemon_CYCLE2_BASE 8
#define siemensdaemon_CYCLE2_NUM_BYTES 8

#define siemensdaemon_CYCLE3_BASE 16
#define siemensdaemon_CYCLE3_NUM_BYTES 32

// 16-bit counters in host byte order; they start again at 0 after 32767.
#define siemensdaemon_LIFE_COUNTER_BASE 48
#define siemensdaemon_READ_ERROR_COUNT_BASE 50
#define siemensdaemon_WRITE_ERROR_COUNT_BASE 52

// Status: whether the values of a block are fresh. Fields of more than one byte are
// stored most significant byte first; times are seconds since 1970-01-01 UTC, 0 for
// never; counts stop at 0xFFFFFFFF instead of starting again.
// Per cycle: STATUS (1 byte: 0 not read yet, 1 last read good, 2 last read failed),
// FAILURES (4 bytes: failed reads in a row), GOOD_TIME (8 bytes: last good read).
// Daemon: PASS_GOOD_TIME (8 bytes: the end of the last pass in which every cycle read
// good), PASS_COUNT, READ_ERROR_TOTAL, WRITE_ERROR_TOTAL (4 bytes each), STATUS_MARK
// (the 4 characters OTS1) and STATUS_CYCLES (4 bytes: the number of cycles), which end
// the image.
#define siemensdaemon_STATUS_BASE 54
#define siemensdaemon_CYCLE1_STATUS 54
#define siemensdaemon_CYCLE1_FAILURES 58
#define siemensdaemon_CYCLE1_GOOD_TIME 62
#define siemensdaemon_CYCLE2_STATUS 70
#define siemensdaemon_CYCLE2_FAILURES 74
#define siemensdaemon_CYCLE2_GOOD_TIME 78
#define siemensdaemon_CYCLE3_STATUS 86
#define siemensdaemon_CYCLE3_FAILURES 90
#define siemensdaemon_CYCLE3_GOOD_TIME 94
#define siemensdaemon_PASS_GOOD_TIME 102
#define siemensdaemon_PASS_COUNT 110
#define siemensdaemon_READ_ERROR_TOTAL 114
#define siemensdaemon_WRITE_ERROR_TOTAL 118
#define siemensdaemon_STATUS_MARK 122
#define siemensdaemon_STATUS_CYCLES 126

#define siemensdaemon_SHARED_MEMORY_SIZE 130
