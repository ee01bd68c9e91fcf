// otModbus: the Modbus engine, master and slave, in three framings: RTU and ASCII over a
// serial line (otSerial) and Modbus/TCP over a socket (otSocket, registered in RTU mode).
// The transport is registered by the caller and not owned.
//
// Results: 0 (MODBUS_SUCCESS) after a write; the number of data bytes after response() and
// readRequest(); -1 (MODBUS_FAILED) for a missing or unconnected transport, a time limit, a
// short read, an unknown function code, a telegram that does not fit or a bad argument; -2
// (MODBUS_CHECKSUM_MISMATCH) for a complete telegram with a wrong CRC or LRC; -3
// (MODBUS_LENGTH_MISMATCH, readRequest() over TCP only) for a request that its MBAP header
// frames completely but whose length disagrees with what its function code and counts imply.
//
// Modbus/TCP frames that carry no Modbus request are skipped by their MBAP length, so the
// stream stays in step: a header with length 0 or 1 (no function code), and a frame whose
// protocol identifier is not 0 (another protocol on the same port). readRequest() reads on to
// the next request; response() fails with -1 for a foreign protocol identifier.
#ifndef OTMODBUS_H
#define OTMODBUS_H

#include "otserial.h"
#include "otsocket.h"

class otModbus {
 public:
  enum {
    MODBUS_SUCCESS = 0,
    MODBUS_FAILED = -1,
    MODBUS_CHECKSUM_MISMATCH = -2,
    MODBUS_LENGTH_MISMATCH = -3
  };
  enum { MODBUS_RTU = 1, MODBUS_ASCII = 2 };
  // Time limit of response() and readRequest() when the caller gives none, in milliseconds.
  enum { DEFAULT_TIMEOUT = 1000 };
  // Largest data a response() (data bytes and CRC) or a readRequest() can deliver.
  enum { MAX_RESPONSE_DATA = 257, MAX_REQUEST_DATA = 264 };

  // The telegram buffer holds max(buffer_size, 256) bytes.
  explicit otModbus(long buffer_size, int mode = MODBUS_RTU, char end_delimiter = '\n');
  virtual ~otModbus();
  otModbus(const otModbus&) = delete;
  otModbus& operator=(const otModbus&) = delete;

  // Select the transport; registering one clears the other.
  int registerSocket(otSocket* socket);
  int registerSerial(otSerial* serial);

  // Frames and sends slave, function and len data bytes. The transaction id is used by the
  // TCP framing only (0 when null). Returns 0 or -1.
  int write(int slave, int function, const unsigned char* data, int len, int* transaction = 0);
  // write() with the data start address (2 bytes) and count (2 bytes).
  int request(int slave, int function, int start_adr, int num_register);
  // Master: reads one reply; data receives its data bytes without the byte count (on an RTU
  // line also the two CRC bytes behind them, so it must hold count + 2 bytes, at most
  // MAX_RESPONSE_DATA). Returns the number of data bytes, -1 or -2.
  int response(int* slave, int* function, unsigned char* data, int timeout = DEFAULT_TIMEOUT);
  // Slave: reads one request; layout of data and result depend on the function code (data
  // must hold MAX_REQUEST_DATA bytes). Over TCP the received transaction id is stored through
  // transaction (if not null) for the answering write(). -3 (TCP): slave, function and
  // transaction are set, data is not; the request was read whole, and the slave answers it
  // with exception 3 (illegal data value).
  int readRequest(int* slave, int* function, unsigned char* data, int timeout = DEFAULT_TIMEOUT,
                  int* transaction = 0);

  // Master transactions: request, reply, and a check that the reply comes from the slave and
  // for the function code asked, with the byte count the request implies (reads) or the echo
  // of address and value or count (writes). Return the data byte count of the reply, or -1
  // (with a line on standard output). Values beyond `number` are never stored.
  int readCoilStatus(int slave, int start_adr, int number, unsigned char* values,
                     int timeout = DEFAULT_TIMEOUT);
  int readInputStatus(int slave, int start_adr, int number, unsigned char* values,
                      int timeout = DEFAULT_TIMEOUT);
  int readHoldingRegisters(int slave, int start_adr, int number, int* values,
                           int timeout = DEFAULT_TIMEOUT);
  int readInputRegisters(int slave, int start_adr, int number, int* values,
                         int timeout = DEFAULT_TIMEOUT);
  int forceSingleCoil(int slave, int adr, int value, int timeout = DEFAULT_TIMEOUT);
  int presetSingleRegister(int slave, int adr, int value, int timeout = DEFAULT_TIMEOUT);
  int forceMultipleCoils(int slave, int adr, int number, unsigned char* values,
                         int timeout = DEFAULT_TIMEOUT);
  int presetMultipleRegisters(int slave, int start_adr, int number, int* values,
                              int timeout = DEFAULT_TIMEOUT);

  int data2int(const unsigned char* data);
  int int2data(int val, unsigned char* data);
  int intsize();
  int buf2int_rtu(const unsigned char* buf);
  int int2buf_rtu(int val, unsigned char* buf);
  int buf2int_ascii(const unsigned char* buf);
  int int2buf_ascii(int val, unsigned char* buf);

  // Checksums on the telegram buffer: insert behind its first len bytes, or check them.
  int insertLRC(int len);
  int LRCerror(int len);
  int insertCRC(int len);
  int CRCerror(int len);

  // CRC-16/MODBUS of len bytes (initial 0xFFFF, reflected polynomial 0xA001).
  static unsigned short crc16(const unsigned char* data, int len);

  int autoreconnect_socket;  // 1: write() connects a registered socket that is not connected

 private:
  enum Side { REPLY, REQUEST };
  int receive(Side side, int* slave, int* function, unsigned char* data, int timeout,
              int* transaction);
  int receiveTcp(Side side, int* slave, int* function, unsigned char* data, int timeout,
                 int* transaction);
  int receiveRtu(Side side, int* slave, int* function, unsigned char* data, int timeout);
  int receiveAscii(Side side, int* slave, int* function, unsigned char* data, int timeout);
  int tcpRead(unsigned char* dst, int n, long long deadline);
  int serialRead(unsigned char* dst, int n, int timeout);
  void resynchronise();
  void drainSerial();
  int transaction(int slave, int function, const unsigned char* request, int len,
                  unsigned char* reply, int timeout, int expect, bool echo);

  otSocket* socket;
  otSerial* serial;
  unsigned char* tel;
  long maxtel;
  int mode;
  char delimitor;
  // Bytes received from the socket but not yet taken; a reply usually arrives in one piece, so
  // one receive serves the whole telegram.
  unsigned char rx[1024];
  int rxStart, rxEnd, rxFd;
  int resync;  // a telegram was cut short: drop what is pending before the next request
};

#endif
