// PPI Signal assignment of ppidaemon
#define ppidaemon_SHARED_MEMORY "/tmp/otkit/ppi.shm"
#define ppidaemon_MAILBOX "/tmp/otkit/ppi.mbx"

#define ppidaemon_CYCLE1_BASE 0
#define ppidaemon_CYCLE1_NUM_BYTES 64

#define ppidaemon_CYCLE2_BASE 64
#define ppidaemon_CYCLE2_NUM_BYTES 64

// 16-bit counters in host byte order; they start again at 0 after 32767.
#define ppidaemon_LIFE_COUNTER_BASE 128
#define ppidaemon_READ_ERROR_COUNT_BASE 130
#define ppidaemon_WRITE_ERROR_COUNT_BASE 132

// Status: whether the values of a block are fresh. Per cycle: STATUS (0 not read yet,
// 1 last read good, 2 last read failed), FAILURES (failed reads in a row), GOOD_TIME
// (last good read); for the daemon: PASS_GOOD_TIME (the last pass in which every cycle
// read good), the totals, and STATUS_MARK and STATUS_CYCLES, which end the image.
// Field sizes, byte order and time base: otimagestatus.h of otkit.
#define ppidaemon_STATUS_BASE 134
#define ppidaemon_CYCLE1_STATUS 134
#define ppidaemon_CYCLE1_FAILURES 138
#define ppidaemon_CYCLE1_GOOD_TIME 142
#define ppidaemon_CYCLE2_STATUS 150
#define ppidaemon_CYCLE2_FAILURES 154
#define ppidaemon_CYCLE2_GOOD_TIME 158
#define ppidaemon_PASS_GOOD_TIME 166
#define ppidaemon_PASS_COUNT 174
#define ppidaemon_READ_ERROR_TOTAL 178
#define ppidaemon_WRITE_ERROR_TOTAL 182
#define ppidaemon_STATUS_MARK 186
#define ppidaemon_STATUS_CYCLES 190

#define ppidaemon_SHARED_MEMORY_SIZE 194
