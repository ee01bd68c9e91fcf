// otSiemensTCP: reads and writes the memory areas of Siemens PLCs over ISO-on-TCP (RFC 1006:
// a 4-byte TPKT header over TCP with ISO 8073 class-0 units inside), speaking either the S7
// protocol (read-variable and write-variable jobs) or, for S7-300/400 communication
// processors and S5, the fetch/write protocol with its 16-byte "S5" headers.
//
// The object is itself the client socket: it connects to port 102 of adr on the first fetch()
// or write() and again after any transport or framing error. A PLC (or test peer) listening on
// another port is reached by calling the inherited setPort() before the first call.
// adoptSocket() takes over a descriptor that is already connected (and past the connect
// sequence), for programs that accept PLC connections themselves and for tests.
//
// One object serves one PLC from one thread at a time; there are no locks.
//
// Results: fetch() and write() return len on success, -1 for transport, framing and argument
// errors, or the negated S7 item return code (after a report on standard error; a code of 0,
// which would read as a zero result, gives -1). Diagnostics
// of the framing go through otDebugPrintf and appear only while debug printing is on.
#ifndef OTSIEMENSTCP_H
#define OTSIEMENSTCP_H

#include "otsocket.h"

class otSiemensTCP : public otSocket {
 public:
  // PLC types. Type 7 has no name in daemon project files; it uses the TSAPs 02 00 / 02 00
  // with the TPDU-size parameter first in the connect block.
  enum { S7_200 = 1, S7_300 = 2, S7_400 = 3, S5 = 4, S7_1200 = 5, LOGO = 6, PLC_TYPE_7 = 7 };
  // Organisation (area) codes, the org argument of fetch() and write().
  enum { ORG_DB = 1, ORG_M = 2, ORG_E = 3, ORG_A = 4, ORG_PEPA = 5, ORG_Z = 6, ORG_T = 7 };
  // write() functions.
  enum { WRITE_BITS = 1, WRITE_BYTES = 2 };
  enum {
    ISO_TCP_PORT = 102,
    MAX_PDU = 2048,           // largest ISO payload sent or accepted
    TPKT_HEADER = 4,          // 03 00 len_hi len_lo
    CONNECT_BLOCK_SIZE = 22,  // TPKT + ISO connection request
    SETUP_JOB_SIZE = 25,      // TPKT + S7 setup-communication job
    READ_JOB_SIZE = 27,       // ISO payload of an S7 read job
    READ_REPLY_HEADER = 21,   // ISO payload of an S7 read reply before the data
    WRITE_REPLY_SIZE = 18,    // ISO payload of an S7 write reply
    FW_HEADER = 16,           // fetch/write request or acknowledgement header
    IO_TIMEOUT = 2000,        // ms, every read of a reply
    CONNECT_ATTEMPTS = 3,
    SETUP_ATTEMPTS = 3
  };
  // Largest len of one fetch() over S7 (the reply must fit MAX_PDU).
  enum { MAX_S7_READ = MAX_PDU - READ_REPLY_HEADER };

  // Stores the arguments and loads the default connect block; does not connect. function and
  // rack_slot override bytes 17 and 18 of the connect block (the called TSAP of the standard
  // layout: connection type, and rack*32 + slot); -1 keeps the PLC type's value.
  otSiemensTCP(const char* adr, int plc_type, int fetch_write = 0, int function = -1,
               int rack_slot = -1);
  virtual ~otSiemensTCP();
  otSiemensTCP(const otSiemensTCP&) = delete;
  otSiemensTCP& operator=(const otSiemensTCP&) = delete;

  // Reads len bytes starting at byte start_adr of area org (data block dbnr for ORG_DB) into
  // buf, which must hold len bytes. Returns len; -1 for a bad argument, a failed connect, a
  // transport or framing error or a reply that does not answer the request; -c for an item
  // return code c other than 0xFF (reported on standard error). Over fetch/write: -1 also for
  // a non-zero error field in the acknowledgement, 0 if the PLC does not answer in time.
  int fetch(int org, int dbnr, int start_adr, int len, unsigned char* buf);
  // Writes len items from buf: function WRITE_BITS (start_adr is the bit address byte*8+bit,
  // len the number of bits, one value byte each, non-zero = 1) or WRITE_BYTES. Returns len;
  // -1 for a bad argument or function, a job larger than MAX_PDU, a failed connect, a transport
  // or framing error or an unexpected reply; -c for an item return code c other than 0xFF
  // (reported on standard error). Over fetch/write (bytes only) as fetch().
  int write(int org, int dbnr, int start_adr, int len, const unsigned char* buf, int function);

  // Copies the default 22-byte connect block to cb; returns 22.
  int getDefaultConnectBlock(unsigned char* cb);
  // Stores 22 bytes as the custom connect block, used unchanged from now on (function and
  // rack_slot are then ignored); returns 0.
  int setConnectBlock(const unsigned char* cb);
  // Copies the stored block (the custom one, or the default) to cb; returns 0.
  int getConnectBlock(unsigned char* cb);
  // The S7 area byte of org (0x83 for unknown codes; counters and timers differ on S7_200).
  int getOrg(int org);

  // The 22-byte block that the connect sequence sends: the custom block if one is set, else
  // the PLC type's block with the function and rack_slot overrides. Returns 22.
  int buildConnectBlock(unsigned char* cb);
  // Runs the connect sequence (TCP connect, ISO connection request, S7 setup communication)
  // with its retries; check isConnected() afterwards. Returns 0 when connected, else -1.
  int doConnect();
  // Sends a TPKT header and the len-byte ISO payload buf, connecting first if needed.
  // Returns len, -1 for len outside 1..MAX_PDU or a failed connect, or the socket's error
  // (after disconnecting).
  int write_iso(const unsigned char* buf, int len);
  // Receives one TPKT unit into buf (MAX_PDU bytes). Returns the payload length; -1 after a
  // timeout, a bad header or a closed peer, which all disconnect.
  int read_iso(unsigned char* buf);
  // Takes over fd, a connected socket past the connect sequence (the current one is closed).
  // Returns 0, or -1 for a negative fd.
  int adoptSocket(int fd);

  // Pure framing on buffers (no socket). The job builders return the ISO payload length, or -1
  // when the arguments do not fit the job. The reply checkers return len, -1 or -c as fetch()
  // and write(), and print the item report on standard error.
  static int buildReadJob(int plc_type, int area, int dbnr, int start_adr, int len,
                          unsigned char* pdu);
  static int buildWriteJob(int area, int dbnr, int start_adr, int len, const unsigned char* buf,
                           int function, unsigned char* pdu);
  static int parseReadReply(const unsigned char* pdu, int n, int len, unsigned char* buf);
  // items: the number of items the write job carried (1 for bytes, len for bits).
  static int parseWriteReply(const unsigned char* pdu, int n, int len, int items);
  // Fetch/write request header (16 bytes), op 0x03 write or 0x05 fetch; -1 when dbnr,
  // start_adr or len do not fit their one-byte fields, else 16.
  static int buildFetchWriteHeader(int op, int org, int dbnr, int start_adr, int len,
                                   unsigned char* header);
  // Checks a fetch/write acknowledgement (TPKT header and 16 bytes): 0 if good (TPKT total
  // length expected_total); -2 for a well-formed acknowledgement with a non-zero error field
  // (TPKT total 20, no data follows); -1 when the unit does not fit the request.
  static int checkFetchWriteAck(const unsigned char* tpkt, const unsigned char* ack,
                                int expected_total);
  // Prints the report of an S7 item return code on standard error.
  static void reportItemError(int code);

 protected:
  int fetchS7(int org, int dbnr, int start_adr, int len, unsigned char* buf);
  int writeS7(int org, int dbnr, int start_adr, int len, const unsigned char* buf, int function);
  int fetchFW(int org, int dbnr, int start_adr, int len, unsigned char* buf);
  int writeFW(int org, int dbnr, int start_adr, int len, const unsigned char* buf);
  int useFetchWrite();
  // Reads one TPKT header and its rest into buf (at most max bytes); returns the rest's
  // length or -1 (without disconnecting).
  int readTpkt(unsigned char* buf, int max);

  unsigned char fw_write_header[FW_HEADER];
  unsigned char fw_write_ack[FW_HEADER];
  unsigned char fw_fetch_header[FW_HEADER];
  unsigned char fw_fetch_ack[FW_HEADER];
  unsigned char tpkt[TPKT_HEADER];  // the last TPKT header received or sent
  int function;                     // connect block byte 17 override, -1 = none
  int rack_slot;                    // connect block byte 18 override, -1 = none
  int plc_type;
  int fetch_write;  // 1 = fetch/write protocol where the PLC type allows it
  unsigned char pdu[MAX_PDU];
  int use_custom_connect_block;
  unsigned char connect_block[CONNECT_BLOCK_SIZE];
};

#endif
