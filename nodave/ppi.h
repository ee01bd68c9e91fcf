// Internal to libotnodave and its simulator (not installed): PPI telegrams on buffers and on a
// serial line, and the master's request / acknowledge / poll exchange.
//
// PPI telegrams (the fieldbus data link layer PPI derives from):
//   variable  68 LE LE 68 DA SA FC <data> FCS 16   LE = bytes from DA to the end of the data
//   short     10 DA SA FC FCS 16
//   ack       E5
// FCS is the sum of the bytes from DA up to the FCS, modulo 256. FC of a request: bit 6 set,
// bit 5 the frame count bit (FCB), bit 4 "FCB valid" (FCV), low nibble the service (0xC: send
// and request data). FC of a reply: bit 6 clear, 0x08 for data.
//
// Frame count bit. A master keeps one FCB per station. Its first request to a station (and the
// first after the station was lost) has FCV = 0 and FCB = 1 (FC 6C): the station takes it as
// new whatever it remembers. From then on every new telegram to that station, request or poll,
// has FCV = 1 and the FCB flipped (5C, 7C, 5C ...). A telegram sent again because its answer was
// lost or damaged keeps its FCB, and a station that sees FCV = 1 with the FCB of the previous
// telegram from that master answers as it did then, without carrying the job out a second
// time: that is what makes a repeated write safe.
#ifndef OTNODAVE_PPI_H
#define OTNODAVE_PPI_H

#include <mutex>

#include "otserial.h"

namespace otppi {

enum {
  SD1 = 0x10,
  SD2 = 0x68,
  SC = 0xE5,
  ED = 0x16,
  MAX_DATA = 252,  // LE is one byte and counts DA, SA and FC too
  MAX_TELEGRAM = MAX_DATA + 9,
  SHORT_TELEGRAM = 6,
  FC_REQUEST = 0x40,
  FC_FCB = 0x20,
  FC_FCV = 0x10,
  FC_SRD_LOW = 0x0C,  // send and request data, low priority
  FC_REPLY_DATA = 0x08,
  MAX_ADDRESS = 126,
  // the S7-200's PDU size on PPI, and the data that fit one read or write job within it
  MAX_PDU = 240,
  MAX_READ = MAX_PDU - 18,
  MAX_WRITE = MAX_PDU - 28
};

// Errors of telegram reading and of the exchange (all negative).
enum {
  E_TIMEOUT = -1,     // nothing came
  E_CUT = -2,         // the line fell silent inside a telegram
  E_START = -3,       // not a start byte where one belongs
  E_LENGTH = -4,      // LE repeated differently, too small, or the telegram is not LE + 6 long
  E_CHECKSUM = -5,    // FCS wrong
  E_END = -6,         // no end delimiter where LE puts it
  E_LINE = -7,        // the line failed or was hung up
  E_ADDRESS = -8,     // an answer from another station, or for another master
  E_UNEXPECTED = -9,  // a sound telegram that is not the answer (kind or function)
  E_ARGUMENT = -10    // a request that does not fit a telegram
};

struct Telegram {
  int kind;  // SD1, SD2 or SC
  int da, sa, fc;
  const unsigned char* data;  // SD2: the data behind FC, len bytes (points into the buffer)
  int len;
};

// The FCS over n bytes.
int checksum(const unsigned char* p, int n);
// Build a telegram into out (MAX_TELEGRAM bytes); return its length, or E_ARGUMENT for an
// address or FC outside a byte, or more than MAX_DATA data bytes.
int buildVariable(int da, int sa, int fc, const unsigned char* data, int len, unsigned char* out);
int buildShort(int da, int sa, int fc, unsigned char* out);
// The length of the telegram that buf begins with, from its first n bytes (n >= 1): the total,
// 0 while its length bytes are still missing, or E_START / E_LENGTH.
int expectedLength(const unsigned char* buf, int n);
// Checks the n bytes of one whole telegram. Returns n with *t filled in, or E_START, E_LENGTH,
// E_END, E_CHECKSUM.
int parse(const unsigned char* buf, int n, Telegram* t);

// Reads one telegram from line into buf (MAX_TELEGRAM bytes): the first byte within firstMs,
// every further one within gapMs of the one before. Returns its length with *t filled in, or an
// error: E_TIMEOUT, E_CUT, E_LINE and those of parse().
int read(otSerial* line, unsigned char* buf, int firstMs, int gapMs, Telegram* t);
// Drops what arrives on line until it has been quiet for quietMs: the rest of a damaged
// telegram must not be taken for the next answer.
void drain(otSerial* line, int quietMs);

// The master side of one serial line: request (SD2 with an S7 PDU) -> E5, poll (SD1) -> reply
// (SD2 with the S7 PDU), with repetitions and the frame count bit of every station. Thread-safe:
// one exchange on the line at a time.
class Master {
 public:
  explicit Master(int localAddress);
  Master(const Master&) = delete;
  Master& operator=(const Master&) = delete;
  // Works on a copy of fd, a terminal set up by setPort (the caller keeps and closes fd);
  // slow lines get a longer gap allowance. Returns 0, or -1 when fd is not a terminal.
  int adopt(int fd);
  // Time limits: the first byte of an answer, the gap inside one, and how often a telegram is
  // sent again after a missing or damaged answer.
  void setTiming(int answerMs, int gapMs, int repeats);
  // One exchange with station da: pdu (n bytes) out, the station's reply PDU into reply (max
  // bytes). Returns the reply's length, or the error of the last attempt (E_TIMEOUT when the
  // station stayed silent throughout).
  int exchange(int da, const unsigned char* pdu, int n, unsigned char* reply, int max);
  int localAddress() const { return local_; }

 private:
  // The FC of a new telegram to station da (flips its FCB).
  int nextFc(int da);
  // Sends telegram tg and reads the answer, repeating it (same FC) up to repeats_ times while
  // the answer is missing, damaged or not the one wanted: E5 for a request, E5 ("not ready")
  // or this station's data reply for a poll (wantData).
  int transfer(const unsigned char* tg, int len, unsigned char* answer, Telegram* t, int da,
               bool wantData);

  std::mutex mutex_;
  otSerial line_;
  int local_;
  int answerMs_ = 500;
  int gapMs_ = 100;
  int repeats_ = 2;
  struct Station {
    bool synced = false;  // a telegram with FCV = 0 has been answered
    bool fcb = false;     // FCB of the last telegram sent
  } stations_[MAX_ADDRESS + 1];
};

}  // namespace otppi

#endif
