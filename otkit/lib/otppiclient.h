// otPPIClient: the visualisation side of a PPI acquisition daemon. It posts write requests to
// the daemon's mailbox and copies parts of the process image (the bytes of each read cycle back
// to back from offset 0, in PLC order) into its read buffer, from which typed accessors take
// values (otPlcClient).
// Behind the blocks a generated daemon keeps three 16-bit counters and a status area that
// cycleStatus() and passAge() read (otDeviceClient).
//
// Mailbox message, one per write request (16-bit fields most significant byte first):
//   0     slave address (0..31)
//   1     area code of the PLC memory area
//   2-3   data block number
//   4-5   start byte address
//   6-7   length in bytes
//   8..   data, length bytes
#ifndef OTPPICLIENT_H
#define OTPPICLIENT_H

#include "otdeviceclient.h"

class otPPIClient : public otPlcClient<512> {
 public:
  enum {
    HEADER_SIZE = 8,
    // Most data bytes that one write request carries.
    MAX_DATA = 2048,
    // Longest mailbox message a client posts. The daemon's mailbox buffer must hold at least
    // MAX_MESSAGE + 1 bytes: the mailbox delivers a message whole only when it fits, and one
    // spare byte keeps text terminated.
    MAX_MESSAGE = HEADER_SIZE + MAX_DATA,
  };

  // Opens the mailbox mbxname and the shared memory shmname of shmsize bytes (mode 0600);
  // failures show in otMailbox::status and otSharedMemory::status. swap_order sets swap.
  otPPIClient(const char* mbxname, const char* shmname, int shmsize, int swap_order);
  ~otPPIClient() override;

  // Every writer returns 0 when the message was posted and -1 (nothing posted) when an argument
  // is out of range or the mailbox refuses the message; -2 (nothing posted) when the mailbox
  // is full and does not wait (otMailbox::setWriteWait(0)): the request may be tried again. Nothing
  // reports whether the daemon or the PLC carried the request out. Checked: slave 0..31;
  // len 1..2048 (the daemon ignores a request without data); area 0..255, dbnum and start 0..65535,
  // refused rather than cut, which would address another place in the PLC; data not null.

  // Posts the header and len bytes of data.
  int write(int slave, int area, int dbnum, int start, int len, const unsigned char* data);
  // Here len counts bytes: ceil(len / 4) (or ceil(len / 2)) values of val are converted in the
  // order that swap selects (a float by its IEEE-754 bit pattern) and the first len bytes of
  // them posted.
  int writeFloat(int slave, int area, int dbnum, int start, int len, const float* val);
  int writeDword(int slave, int area, int dbnum, int start, int len, const int* val);
  int writeUDword(int slave, int area, int dbnum, int start, int len, const unsigned int* val);
  int writeShort(int slave, int area, int dbnum, int start, int len, const short* val);
  int writeUShort(int slave, int area, int dbnum, int start, int len, const unsigned short* val);

 private:
  // Converts ceil(len / width) values of val and posts len bytes of them.
  int writeValues(int slave, int area, int dbnum, int start, int len, const void* val, int width);
};

#endif
