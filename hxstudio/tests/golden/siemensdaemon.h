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

// Status: whether the values of a block are fresh. Per cycle: STATUS (0 not read yet,
// 1 last read good, 2 last read failed), FAILURES (failed reads in a row), GOOD_TIME
// (last good read); for the daemon: PASS_GOOD_TIME (the last pass in which every cycle
// read good), the totals, and STATUS_MARK and STATUS_CYCLES, which end the image.
// Field sizes, byte order and time base: otimagestatus.h of otkit.
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
