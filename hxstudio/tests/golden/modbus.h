// Modbus Signal assignment of modbus
#define modbus_SHARED_MEMORY "/tmp/otkit/modbus.shm"
#define modbus_MAILBOX "/tmp/otkit/modbus.mbx"

#define modbus_CYCLE1_BASE 0
#define modbus_CYCLE1_NUM 3
#define modbus_CYCLE1_NUM_BYTES 1

#define modbus_CYCLE2_BASE 1
#define modbus_CYCLE2_NUM 3
#define modbus_CYCLE2_NUM_BYTES 1

#define modbus_CYCLE3_BASE 2
#define modbus_CYCLE3_NUM 3
#define modbus_CYCLE3_NUM_BYTES 6

#define modbus_CYCLE4_BASE 8
#define modbus_CYCLE4_NUM 3
#define modbus_CYCLE4_NUM_BYTES 6

#define modbus_CYCLE5_BASE 14
#define modbus_CYCLE5_NUM 3
#define modbus_CYCLE5_NUM_BYTES 1

#define modbus_CYCLE6_BASE 15
#define modbus_CYCLE6_NUM 3
#define modbus_CYCLE6_NUM_BYTES 1

#define modbus_CYCLE7_BASE 16
#define modbus_CYCLE7_NUM 3
#define modbus_CYCLE7_NUM_BYTES 1

// 16-bit counters in host byte order; they start again at 0 after 32767.
#define modbus_LIFE_COUNTER_BASE 17
#define modbus_READ_ERROR_COUNT_BASE 19
#define modbus_WRITE_ERROR_COUNT_BASE 21

// Status: whether the values of a block are fresh. Per cycle: STATUS (0 not read yet,
// 1 last read good, 2 last read failed), FAILURES (failed reads in a row), GOOD_TIME
// (last good read); for the daemon: PASS_GOOD_TIME (the last pass in which every cycle
// read good), the totals, and STATUS_MARK and STATUS_CYCLES, which end the image.
// Field sizes, byte order and time base: otimagestatus.h of otkit.
#define modbus_STATUS_BASE 23
#define modbus_CYCLE1_STATUS 23
#define modbus_CYCLE1_FAILURES 27
#define modbus_CYCLE1_GOOD_TIME 31
#define modbus_CYCLE2_STATUS 39
#define modbus_CYCLE2_FAILURES 43
#define modbus_CYCLE2_GOOD_TIME 47
#define modbus_CYCLE3_STATUS 55
#define modbus_CYCLE3_FAILURES 59
#define modbus_CYCLE3_GOOD_TIME 63
#define modbus_CYCLE4_STATUS 71
#define modbus_CYCLE4_FAILURES 75
#define modbus_CYCLE4_GOOD_TIME 79
#define modbus_CYCLE5_STATUS 87
#define modbus_CYCLE5_FAILURES 91
#define modbus_CYCLE5_GOOD_TIME 95
#define modbus_CYCLE6_STATUS 103
#define modbus_CYCLE6_FAILURES 107
#define modbus_CYCLE6_GOOD_TIME 111
#define modbus_CYCLE7_STATUS 119
#define modbus_CYCLE7_FAILURES 123
#define modbus_CYCLE7_GOOD_TIME 127
#define modbus_PASS_GOOD_TIME 135
#define modbus_PASS_COUNT 143
#define modbus_READ_ERROR_TOTAL 147
#define modbus_WRITE_ERROR_TOTAL 151
#define modbus_STATUS_MARK 155
#define modbus_STATUS_CYCLES 159

#define modbus_SHARED_MEMORY_SIZE 163
