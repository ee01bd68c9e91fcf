// otSiemensTCPClient: the visualisation side of a Siemens TCP acquisition daemon. It posts
// write requests to the daemon's mailbox and copies parts of the process image (the bytes of
// each read cycle back to back from offset 0, in PLC order) into its read buffer, from which
// typed accessors take values.
// Behind the blocks a generated daemon keeps three 16-bit counters and a status area that
// cycleStatus() and passAge() read.
//
// Mailbox message, one per write request (16-bit fields most significant byte first):
//   0     slave index (selects the daemon's PLC connection)
//   1     organisation code of the PLC area (otSiemensTCP::ORG_DB ...)
//   2-3   data block number
//   4-5   start address: byte address, or bit address (byte * 8 + bit) for bit writes
//   6-7   length: number of bits or bytes to write
//   8     write function: 1 = bits, 2 = bytes
//   9..   data, length bytes
#ifndef OTSIEMENSTCPCLIENT_H
#define OTSIEMENSTCPCLIENT_H

#include "otmailbox.h"
#include "otsharedmemory.h"

class otSiemensTCPClient : public otMailbox, public otSharedMemory {
 public:
  enum {
    READ_BUFFER_SIZE = 2048,
    HEADER_SIZE = 9,
    // Most data bytes that one write request carries.
    MAX_DATA = 2047,
    // Longest mailbox message a client posts. The daemon's mailbox buffer must hold at least
    // MAX_MESSAGE + 1 bytes: the mailbox delivers a message whole only when it fits, and one
    // spare byte keeps text terminated.
    MAX_MESSAGE = HEADER_SIZE + MAX_DATA,
  };
  // Write functions of byte 8.
  enum { FUNCTION_BITS = 1, FUNCTION_BYTES = 2 };

  // Opens the mailbox mbxname and the shared memory shmname of shmsize bytes (mode 0600);
  // failures show in otMailbox::status and otSharedMemory::status. swap_order sets swap.
  otSiemensTCPClient(const char* mbxname, const char* shmname, int shmsize, int swap_order);
  ~otSiemensTCPClient() override;

  // Every writer returns 0 when the message was posted and -1 (nothing posted) when an argument
  // is out of range or the mailbox refuses the message; -2 (nothing posted) when the mailbox
  // is full and does not wait (otMailbox::setWriteWait(0)): the request may be tried again. Nothing reports whether the daemon or
  // the PLC carried the request out. Fields that do not fit their message bytes are refused
  // rather than cut, which would address another place in the PLC: slave, org and function
  // must lie in 0..255, dbnum and the start address in 0..65535.

  // Posts the header and len bytes of data. -1 also if len is outside 1..2047 or data is null.
  int write(int slave, int org, int dbnum, int start, int len, const unsigned char* data,
            int function);
  // Writes len bits (one value byte each, 0 or 1) from bit address start * 8 + biti on.
  int writeBit(int slave, int org, int dbnum, int start, int biti, int len,
               const unsigned char* val);
  // Writes len bytes from byte address start on.
  int writeByte(int slave, int org, int dbnum, int start, int len, const unsigned char* val);
  // Write len values (4 or 2 bytes each, a float by its IEEE-754 bit pattern) in the order
  // that swap selects; -1 if the bytes are more than 2047.
  int writeFloat(int slave, int org, int dbnum, int start, int len, const float* val);
  int writeDword(int slave, int org, int dbnum, int start, int len, const int* val);
  int writeUDword(int slave, int org, int dbnum, int start, int len, const unsigned int* val);
  int writeShort(int slave, int org, int dbnum, int start, int len, const short* val);
  int writeUShort(int slave, int org, int dbnum, int start, int len, const unsigned short* val);

  // Copies len image bytes from offset start into readBuffer and returns len; -1 with
  // readBuffer unchanged if start or len is negative, len exceeds READ_BUFFER_SIZE, or the
  // shared-memory read fails.
  int read(int start, int len);

  // Values of readBuffer as of the last read(), index in units of the type, byte order per
  // swap. An index whose bytes do not all lie within readBuffer gives 0 (0.0 for Float).
  float Float(int index);          // bytes 4 * index .. 4 * index + 3
  int Dword(int index);            // bytes 4 * index .. 4 * index + 3
  unsigned int UDword(int index);  // bytes 4 * index .. 4 * index + 3
  int Short(int index);            // bytes 2 * index, 2 * index + 1, sign-extended
  int UShort(int index);           // bytes 2 * index, 2 * index + 1, zero-extended

  // Freshness of the values, from the status area that generated daemons append to the image
  // (it ends the image, so the client finds it only when shmsize is the header's
  // SHARED_MEMORY_SIZE). cycleStatus: *ok 1 if read cycle `cycle` (1 = the first cycle line
  // of the project file) read good the last time, 0 if that read failed or none was made yet;
  // *ageSeconds the seconds since its last good read, -1 if there was none. passAge:
  // *ageSeconds the seconds since the last pass in which every cycle read good, -1 if none.
  // Both return 0, or -1 (nothing stored) if the image does not end with a status area (a
  // daemon of an older generator, another size) or cycle is out of range. Null pointers are
  // allowed.
  int cycleStatus(int cycle, int* ok, long* ageSeconds);
  int passAge(long* ageSeconds);

  unsigned char readBuffer[READ_BUFFER_SIZE];
  // 1: multi-byte values are written and read in PLC order (most significant byte first);
  // any other value: in the host's order. Single bytes and bits are never swapped.
  int swap;

 private:
  // Posts val as count values of width bytes each, as write() with function 2.
  int writeValues(int slave, int org, int dbnum, int start, int count, const void* val, int width);
};

#endif
