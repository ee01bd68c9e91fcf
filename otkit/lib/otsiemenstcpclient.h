// otSiemensTCPClient: the visualisation side of a Siemens TCP acquisition daemon. It posts
// write requests to the daemon's mailbox and copies parts of the process image (the bytes of
// each read cycle back to back from offset 0, in PLC order) into its read buffer, from which
// typed accessors take values (otPlcClient).
// Behind the blocks a generated daemon keeps three 16-bit counters and a status area that
// cycleStatus() and passAge() read (otDeviceClient).
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

#include "otdeviceclient.h"

class otSiemensTCPClient : public otPlcClient<2048> {
 public:
  enum {
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
  // is full and does not wait (otMailbox::setWriteWait(0)): the request may be tried again. Nothing
  // reports whether the daemon or the PLC carried the request out. Fields that do not fit their
  // message bytes are refused rather than cut, which would address another place in the PLC: slave,
  // org and function must lie in 0..255, dbnum and the start address in 0..65535.

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

 private:
  // Posts val as count values of width bytes each, as write() with function 2.
  int writeValues(int slave, int org, int dbnum, int start, int count, const void* val, int width);
};

#endif
