// otModbusClient: the visualisation side of a Modbus acquisition daemon. It posts write
// requests to the daemon's mailbox and reads the process image that the daemon fills.
//
// Process image: one block per read cycle, back to back from offset 0, each holding the data
// bytes of the Modbus reply (coils and inputs packed 8 per byte, first one in bit 0; registers
// 2 bytes each, most significant byte first); behind the blocks three 16-bit counters in host
// order: life counter, read error counter, write error counter; then the status area that
// cycleStatus() and passAge() read.
//
// Mailbox message, one per write request: byte 0 slave address, byte 1 function code, then the
// request data exactly as otModbus::write sends it; message length = data length + 2.
#ifndef OTMODBUSCLIENT_H
#define OTMODBUSCLIENT_H

#include "otdeviceclient.h"

class otModbusClient : public otDeviceClient {
 public:
  enum {
    // Most request data bytes that write() accepts.
    MAX_DATA = 256,
    // Longest mailbox message a client posts (slave, function code, MAX_DATA data bytes).
    // The daemon's mailbox buffer must hold at least MAX_MESSAGE + 1 bytes: the mailbox
    // delivers a message whole only when it fits, and one spare byte keeps text terminated.
    // The daemon's otModbus telegram buffer must hold the longest telegram it forwards:
    // Modbus/TCP 8 header bytes + 256 data + 2 spare, RTU 2 + 256 data + 2 CRC.
    MAX_MESSAGE = MAX_DATA + 2,
  };

  // Opens the mailbox mbxname and the shared memory shmname of shmsize bytes (mode 0600);
  // failures show in otMailbox::status and otSharedMemory::status.
  otModbusClient(const char* mbxname, const char* shmname, int shmsize);
  ~otModbusClient() override;

  // Every writer returns 0 when the message was posted and -1 (nothing posted) when an argument
  // is out of range or the mailbox refuses the message; -2 (nothing posted) when the mailbox
  // is full and does not wait (otMailbox::setWriteWait(0)): the request may be tried again. Nothing
  // reports whether the daemon or the device carried the request out.

  // Posts [slave, function, data...]. -1 if len is outside 0..256, slave or function outside
  // 0..255, or data is null with len > 0.
  int write(int slave, int function, const unsigned char* data, int len);
  // Function 5: adr (2 bytes), 0xFF 0x00 if value is non-zero else 0x00 0x00. -1 also for
  // adr outside 0..65535 (here and below: a wider address would name another coil).
  int writeSingleCoil(int slave, int adr, int value);
  // Function 15: adr (2), num_coils (2), byte count N = (num_coils - 1) / 8 + 1 (1), then N
  // bytes from values. -1 if num_coils <= 0, values is null or the message is too long.
  int writeMultipleCoils(int slave, int adr, const unsigned char* values, int num_coils);
  // Function 6: adr (2), the low 16 bits of value (2).
  int writePresetSingleRegister(int slave, int adr, int value);
  // Function 16: adr (2), num_values (2), byte count 2 * num_values (1), then the low 16 bits
  // of each value, high byte first. -1 if num_values <= 0 (a request without registers),
  // values is null or the message is too long (more than 125 values).
  int writePresetMultipleRegisters(int slave, int adr, const int* values, int num_values);

  // Image readers, fresh on each call and without a lock. -1 if the argument is out of range,
  // offset is negative or the bytes do not lie within the image.
  // Bit (number mod 8) of the byte at offset + number / 8 as 0 or 1; number 0..128.
  int readBit(int offset, int number);
  // The byte at offset + number as 0..255; number 0..128.
  int readByte(int offset, int number);
  // The bytes at offset + 2 * number and the next as an unsigned 16-bit value, most
  // significant byte first; number 0..64.
  int readShort(int offset, int number);
};

#endif
