// otDaemonRuntime: the run-time of an acquisition daemon. A generated daemon is a table of read
// cycles, a device (the protocol part: Modbus, Siemens TCP or PPI) and a short main that hands
// both to the runtime, which does the rest:
//   - the passes: every cycle is read in every pass, whatever the others did, and a good read
//     is copied to its block of the process image; a failed one leaves the block as it was
//   - the counters and the status area behind the blocks (layout: otimagestatus.h)
//   - the write requests of the mailbox, one at a time in a thread of their own: a request that
//     fails because the device is out of reach is tried again every writeRetryMs for up to
//     writeHoldMs, so that a short outage loses no command, while the requests behind it wait
//     in the mailbox; then it is dropped and counted, and later requests are not held until a
//     read or a write succeeds again. A request the device refuses is counted at once.
//   - the watchdog: the program is started anew (exec) when the cycles stop counting
//   - the log: every line a daemon prints goes through log(), the event-log lines through
//     event()
//
// Threads: the caller's (passes), the request thread and the watchdog. A device's read() and
// write() therefore run concurrently; each device serialises its own bus transactions.
#ifndef OTDAEMON_H
#define OTDAEMON_H

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "otcutil.h"
#include "otevent.h"
#include "otimagestatus.h"
#include "otmailbox.h"
#include "otmodbus.h"
#include "otserial.h"
#include "otsharedmemory.h"
#include "otsiemenstcp.h"
#include "otsocket.h"

// One read cycle: its block of the process image and what the device asks for.
struct otDaemonCycle {
  int offset;  // first byte of the block in the image
  int bytes;   // size of the block: a good read delivers exactly these
  int slave;   // Modbus slave, Siemens connection number, PPI station address
  int area;    // Modbus function code, Siemens org, PPI area
  int dbnum;   // data block (Siemens, PPI; 0 for Modbus)
  int start;   // first address
  int count;   // Modbus coils or registers; Siemens and PPI bytes
};

// The protocol part of a daemon.
class otDaemonDevice {
 public:
  // Outcomes of one attempt at a write request.
  enum { WRITE_DONE = 0, WRITE_UNREACHABLE = 1, WRITE_REFUSED = 2 };

  virtual ~otDaemonDevice() = default;
  // Opens the bus before the first pass and logs that the daemon (named av0) starts. 0, or -1
  // when the daemon cannot run (it then ends with status 1).
  virtual int open(const char* av0) = 0;
  // Reads cycle k (counted from 1). failing: its previous read failed too, so that an outage
  // is reported to the event log once. Returns the block's cycle.bytes bytes (valid until the
  // next read), or null for a failed read.
  virtual const unsigned char* read(int k, const otDaemonCycle& cycle, bool failing) = 0;
  // Bytes in front of a request's data; shorter messages are ignored and not counted.
  virtual int requestHeader() const = 0;
  // Whether a message of at least requestHeader() bytes is a request the device can carry out;
  // false (after a log line) counts it as a write error at once, without an attempt.
  virtual bool check(const unsigned char* msg, int len) = 0;
  // One attempt at a checked request: WRITE_DONE, WRITE_UNREACHABLE or WRITE_REFUSED.
  virtual int write(const unsigned char* msg, int len) = 0;
  // The outcome of a request after its last attempt, for the log.
  virtual void written(const unsigned char* msg, int len, int result);
  // After a pass in which good of the cycles read good.
  virtual void passDone(int good, int cycles);
  // Before the watchdog replaces the program.
  virtual void beforeRestart();
};

// The status writer: the three counters and the status area of an image (otimagestatus.h).
// Everything but writeFailed() belongs to the pass thread.
class otDaemonStatus {
 public:
  otDaemonStatus(otSharedMemory& image, const otImageStatus& layout);
  // Counters and status as of a start: nothing read yet, whatever an earlier run left.
  void init();
  // Starts a pass: the life counter says the daemon is alive.
  void passStart();
  // Publishes the outcome of cycle k (1 to the number of cycles); a failed read is counted.
  void cycleDone(int k, bool good);
  // Counts a write request that was not carried out; any thread.
  void writeFailed();
  // Ends a pass in which good of the cycles read good.
  void passEnd(int good);
  // The state of cycle k (otImageStatus::STATE_...).
  int state(int k) const;

  // The next value of a 16-bit counter (0 after 32767), and of a 4-byte count (which stops at
  // 0xFFFFFFFF).
  static int wrapped(int counter);
  static unsigned int saturated(unsigned int count);

 private:
  struct Cycle {
    unsigned char state = otImageStatus::STATE_NOT_READ;
    unsigned int failures = 0;
    long long goodTime = 0;
  };
  void writeCounter(int offset, int value);
  void writeCycle(int k);
  void writePass();

  otSharedMemory& image_;
  otImageStatus layout_;
  std::vector<Cycle> cycles_;
  int lifeCounter_ = 0, readErrorCount_ = 0;
  long long passGoodTime_ = 0;
  unsigned int passCount_ = 0, readErrorTotal_ = 0;
  std::mutex writeMutex_;  // the request thread's counts
  int writeErrorCount_ = 0;
  std::atomic<unsigned int> writeErrorTotal_{0};
};

// What a daemon is: its image, its mailbox, its cycles and its times.
struct otDaemonConfig {
  const char* image = "";    // path of the process image
  long imageSize = 0;        // its size: blocks, counters and status area
  const char* mailbox = "";  // path of the mailbox
  const char* target = "";   // the daemon's name in the event log
  const otDaemonCycle* cycles = nullptr;
  int cycleCount = 0;
  int passPauseMs = 0;  // pause in front of every pass
  int emptyPassMs = 0;  // the time a pass without cycles takes
  int watchdogMs = 0;   // restart when no cycle began for this long (to twice as long); 0: never
  int writeHoldMs = 30000;
  int writeRetryMs = 100;
  const char* eventHost = nullptr;  // the event-log server, if eventPort is not 0
  int eventPort = 0;
};

class otDaemonRuntime {
 public:
  // serve()'s results besides the device's WRITE_... outcomes.
  enum { REQUEST_IGNORED = -1, REQUEST_INVALID = -2 };
  // Size of the mailbox buffer: every request a device client sends fits, and an oversized
  // foreign message cannot block the queue.
  enum { MAILBOX_BUFFER = 65536 };

  // Creates or attaches the image and the mailbox (a path that cannot be opened ends the
  // process, as otSharedMemory and otMailbox do). The config's strings and cycles must stay.
  otDaemonRuntime(const otDaemonConfig& config, otDaemonDevice& device);
  // Stops the threads.
  ~otDaemonRuntime();
  otDaemonRuntime(const otDaemonRuntime&) = delete;
  otDaemonRuntime& operator=(const otDaemonRuntime&) = delete;

  // The program: line-buffered output, the event log, a check of the image and the table,
  // the device's open(), then start() and passes until stop(). Returns 0 after stop(), 1 when
  // the daemon cannot run (after a line that says why).
  int main(const char* av0);
  // 0 when the image is attached and the cycle table fits it, else -1.
  int status() const;
  // Writes the initial counters and status and starts the request thread and the watchdog.
  void start();
  // One pass over the cycles; returns the number of good reads.
  int pass();
  // Ends main() after its pass in progress and stops the threads; any thread but the watchdog.
  void stop();
  // Handles one mailbox message as the request thread does: the device's outcome, or
  // REQUEST_IGNORED (too short), REQUEST_INVALID (refused by check()).
  int serve(const unsigned char* msg, int len);

  otSharedMemory& image() { return image_; }
  const otImageStatus& layout() const { return layout_; }

  // Every line of a daemon, through the library's log (otlog) at the info level.
  static void log(const char* format, ...) OT_PRINTF_FORMAT(1, 2);
  // An event-log line (otEvent), if the event log was started.
  static void event(int level, const char* format, ...) OT_PRINTF_FORMAT(2, 3);

 private:
  void requests();
  void watchdog();
  [[noreturn]] void restart();
  // Waits ms unless stop() comes first; false then.
  bool waitMs(int ms);

  otDaemonConfig config_;
  otDaemonDevice& device_;
  otSharedMemory image_;
  otMailbox mailbox_;
  otImageStatus layout_;
  otDaemonStatus status_;
  bool tableFits_ = false;
  std::string av0_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> dropping_{false};
  std::atomic<unsigned int> cyclesBegun_{0};
  std::mutex pauseMutex_, stopMutex_;
  std::condition_variable pauseWake_;
  std::thread requestThread_, watchdogThread_;
};

// A write request of the byte-addressed kinds: [0] slave, [1] area (Siemens: org), [2..3]
// data block, [4..5] start, [6..7] length, for Siemens TCP [8] the write function, then the
// data; 16-bit fields high byte first.
struct otDaemonByteRequest {
  enum { PPI_HEADER = 8, SIEMENS_HEADER = 9 };
  int slave = 0, area = 0, dbnum = 0, start = 0, len = 0;
  int function = 0;                     // Siemens only
  const unsigned char* data = nullptr;  // behind the header
  int available = 0;                    // data bytes the message holds
  // Reads the header (PPI_HEADER or SIEMENS_HEADER bytes); false if msg is shorter.
  bool parse(const unsigned char* msg, int msgLen, int header);
};

// Modbus RTU or ASCII on a serial line, or Modbus/TCP. Before every bus transaction the device
// pauses idleMs (and after a write, still holding the bus, so that the line is quiet before
// the next telegram).
class otModbusDaemonDevice : public otDaemonDevice {
 public:
  // Modbus/TCP to adr:port.
  otModbusDaemonDevice(const char* adr, int port, int idleMs);
  // A serial line, opened as otSerial::openDevice(device, speed, 1, rtscts, 8, 1, parity);
  // mode otModbus::MODBUS_RTU or MODBUS_ASCII.
  otModbusDaemonDevice(const char* device, int speed, int rtscts, int parity, int mode, int idleMs);
  ~otModbusDaemonDevice() override;

  int open(const char* av0) override;
  const unsigned char* read(int k, const otDaemonCycle& cycle, bool failing) override;
  int requestHeader() const override { return 2; }
  bool check(const unsigned char* msg, int len) override;
  int write(const unsigned char* msg, int len) override;
  void written(const unsigned char* msg, int len, int result) override;
  void passDone(int good, int cycles) override;
  void beforeRestart() override;

 private:
  int openSerial();

  std::string device_;
  int speed_ = 0, rtscts_ = 0, parity_ = 0, idleMs_;
  std::unique_ptr<otSocket> socket_;
  std::unique_ptr<otSerial> serial_;
  otModbus modbus_;
  std::mutex bus_;
  unsigned char data_[otModbus::MAX_RESPONSE_DATA];
  unsigned char reply_[otModbus::MAX_RESPONSE_DATA];
  int lastWrite_ = 0;
};

// A connection of a Siemens TCP daemon, as otSiemensTCP takes it.
struct otSiemensDaemonPlc {
  int slave;  // its number in cycles and requests, 0 to 255
  const char* adr;
  int type;        // otSiemensTCP::S7_200 ...
  int fetchWrite;  // 1: fetch/write, 0: S7
  int function;    // connect block overrides, -1: the type's
  int rackSlot;
  int port;  // 102 normally
};

// Siemens PLCs over ISO-on-TCP; one lock for all of them.
class otSiemensDaemonDevice : public otDaemonDevice {
 public:
  enum { MAX_BLOCK = 4096 };
  otSiemensDaemonDevice(const otSiemensDaemonPlc* plcs, int count);
  ~otSiemensDaemonDevice() override;

  int open(const char* av0) override;
  const unsigned char* read(int k, const otDaemonCycle& cycle, bool failing) override;
  int requestHeader() const override { return otDaemonByteRequest::SIEMENS_HEADER; }
  bool check(const unsigned char* msg, int len) override;
  int write(const unsigned char* msg, int len) override;
  void written(const unsigned char* msg, int len, int result) override;

 private:
  std::unique_ptr<otSiemensTCP> plc_[256];
  std::mutex bus_;
  unsigned char data_[MAX_BLOCK];
  int lastWrite_ = 0;
};

// The calls of a PPI master, which the daemon takes from libnodave: open the line and the
// connections (0 or -1), read and write bytes of a station (0 or a negative code), and whether
// a code means that the station did not answer.
struct otPPIDaemonCalls {
  int (*open)();
  int (*read)(int slave, int area, int dbnum, int start, int len, unsigned char* data);
  int (*write)(int slave, int area, int dbnum, int start, int len, const unsigned char* data);
  int (*unreachable)(int code);
};

// PPI stations 1 to 31 on one serial line.
class otPPIDaemonDevice : public otDaemonDevice {
 public:
  enum { MAX_BLOCK = 1024 };
  explicit otPPIDaemonDevice(const otPPIDaemonCalls& calls);

  int open(const char* av0) override;
  const unsigned char* read(int k, const otDaemonCycle& cycle, bool failing) override;
  int requestHeader() const override { return otDaemonByteRequest::PPI_HEADER; }
  bool check(const unsigned char* msg, int len) override;
  int write(const unsigned char* msg, int len) override;
  void written(const unsigned char* msg, int len, int result) override;

 private:
  otPPIDaemonCalls calls_;
  std::mutex bus_;
  unsigned char data_[MAX_BLOCK + 1];
  int lastWrite_ = 0;
};

#endif
