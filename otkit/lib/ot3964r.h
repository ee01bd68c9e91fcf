// ot3964R: the 3964R procedure on a serial line, symmetric: a receiver thread owns the line,
// answers the partner's connection requests, receives telegrams (handed to a callback) and
// sends the telegrams that write() hands to it. A fixed priority settles the initialisation
// conflict (both stations request the line at once): the high-priority station keeps its
// telegram, the low-priority one receives first and then requests the line again.
//
// Telegram: STX alone as connection request, answered DLE; then the data with every DLE
// doubled, DLE ETX and the block check character BCC (XOR of everything after STX, the doubled
// DLEs and DLE ETX included); the receiver answers DLE (accepted) or NAK (rejected). Data bytes
// are binary: 0x00 is data like any other.
//
// The framing (doubling, BCC, ot3964R::encode, ot3964RParser) works on plain buffers; the line
// handling sits on top.
#ifndef OT3964R_H
#define OT3964R_H

#include <atomic>

#include "otserial.h"
#include "otthread.h"

// Parses a received 3964R telegram, the characters after the STX one at a time, up to its
// BCC. Knows nothing of the line.
class ot3964RParser {
 public:
  enum { MAX_DATA = 511 };
  // Characters of the longest telegram: every data byte doubled, DLE ETX, BCC.
  enum { MAX_FRAME = 2 * MAX_DATA + 3 };
  enum Result {
    MORE = 0,  // not complete yet
    GOOD = 1,  // complete with matching BCC: data() and length()
    BAD = -1   // complete (or beyond MAX_FRAME characters) but rejected: wrong BCC, more than
               // MAX_DATA data bytes, or DLE followed by neither DLE nor ETX
  };

  ot3964RParser();
  void reset();
  // Takes the next character after the STX; returns a Result. Characters after GOOD or BAD
  // start nothing new until reset().
  int feed(unsigned char c);

  const unsigned char* data() const { return buf; }
  int length() const { return len; }

 private:
  enum State { DATA, AFTER_DLE, BCC, DONE };
  State state;
  bool bad;
  unsigned char bcc;
  int chars;
  int len;
  unsigned char buf[MAX_DATA];
};

class ot3964R {
 public:
  enum { STX = 0x02, ETX = 0x03, ENQ = 0x05, ACK = 0x06, DLE = 0x10, NAK = 0x15 };
  // Link states.
  enum { IDLE = 0, SENDING = 1, RECEIVING = 2, WANT_TO_SEND = 3, WANT_TO_RECEIVE = 4 };
  enum { HIGH_PRIORITY = 0, LOW_PRIORITY = 1 };
  enum { MAX_TELEGRAM = ot3964RParser::MAX_DATA, DEFAULT_TIMEOUT = 1000 };
  // write(): the partner did not take the telegram within the time limit.
  enum { WRITE_TIMEOUT = -2 };
  // write() gives up after this many character timeouts without the partner's DLE.
  enum { WRITE_LIMIT_TIMEOUTS = 5 };

  // priority: HIGH_PRIORITY (0) or LOW_PRIORITY (1). timeout: the wait for each character and
  // for the partner's answers, in milliseconds (1000 in the procedure).
  explicit ot3964R(int priority, int timeout = DEFAULT_TIMEOUT);
  // Calls close().
  virtual ~ot3964R();
  ot3964R(const ot3964R&) = delete;
  ot3964R& operator=(const ot3964R&) = delete;

  // Opens the line (speed: a terminal speed constant; blocking, no RTS/CTS, 8 data bits,
  // 1 stop bit, even parity) and starts the receiver thread. Returns the serial line's result
  // (0), or -1 if already open or the thread cannot be started.
  int open(const char* devicename, int speed);
  // Stops the receiver thread (it finishes the exchange it is in and checks for the stop at
  // least once per timeout), waits for its end, then closes the line. A pending write returns
  // -1. Returns 0, or -1 if not open. Must not be called from the read callback.
  int close();
  // Sends len bytes (0..511) through the receiver thread and waits for the outcome. Returns
  // len when the partner accepted the telegram; -1 if not open, for a bad length or buffer,
  // when the partner rejected it or did not answer it, or when the line was closed meanwhile;
  // WRITE_TIMEOUT (-2) when the partner did not accept the connection request within
  // WRITE_LIMIT_TIMEOUTS timeouts. Several threads may call it; one telegram goes at a time.
  // Must not be called from the read callback.
  int write(const unsigned char* buf, int len);
  // cb is called by the receiver thread (with the thread's mutex held) with the data of each
  // accepted telegram. Returns 0.
  int setReadCallback(void (*cb)(const unsigned char* buf, int len));
  // Formats into 4096 bytes and prints on standard output when debug is 1. Returns the length
  // printed, 0 when debug is off.
  int dprintf(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // The telegram for len data bytes (0..511) into out: data with DLE doubled, DLE, ETX, BCC.
  // Returns its length, or -1 when it does not fit into size bytes or len is out of range.
  static int encode(const unsigned char* data, int len, unsigned char* out, int size);
  // The link state's name: "idle", "sending", "receiving", "want_to_send", "want_to_receive".
  static const char* stateName(int state);

  std::atomic<int> debug;  // 1: dprintf prints

 private:
  static void* receiverMain(void* param);
  void receiverLoop();
  void handleChar(int c);
  void handleSilence();
  void yieldAndReceive();
  void sendTelegram();
  int receive();
  int readWithin(int ms);
  void finishWrite(int result);
  void setState(int s);

  otThread thread;
  otSerial serial;
  int state;
  int priority;
  std::atomic<int> isOpen;
  std::atomic<int> run;
  void (*callback)(const unsigned char* buf, int len);
  unsigned char sendBuf[MAX_TELEGRAM];
  int sendLen;
  ot3964RParser rx;
  int sendResult;

  int timeout;
  bool pending;             // a write waits for its outcome
  bool threadActive;        // the receiver thread still handles writes
  long long writeDeadline;  // monotonic ms after which a pending write gives up
  otMutex writeLock;        // one write at a time
};

#endif
