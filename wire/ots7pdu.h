// The S7 PDU (protocol id 0x32) on buffers, as it travels inside ISO-on-TCP data units
// (otSiemensTCP) and inside PPI telegrams (libotnodave and its simulator). Every function works
// on the S7 PDU alone: the transport's own header (ISO 02 F0 80, PPI DA SA FC) is the caller's.
// Nothing here prints; item return codes are handed back for the caller to report.
#ifndef OTWIRE_OTS7PDU_H
#define OTWIRE_OTS7PDU_H

namespace ots7pdu {

enum {
  PROTOCOL_ID = 0x32,
  ROSCTR_JOB = 0x01,
  ROSCTR_ACK_DATA = 0x03,
  FN_READ = 0x04,
  FN_WRITE = 0x05,
  TRANSPORT_BIT = 0x01,
  TRANSPORT_BYTE = 0x02,
  JOB_HEADER = 10,         // id, ROSCTR, reserved (2), reference (2), parameter and data length
  ACK_HEADER = 12,         // the job header and error class, error code
  READ_JOB = 24,           // header, 04 01, one 12-byte item
  READ_REPLY_HEADER = 18,  // ack header, 04 01, return code, transport size, length (2)
  WRITE_REPLY = 15,        // ack header, 05 01, return code (one item)
  ITEM_OK = 0xFF,
  // item return codes a slave gives
  ITEM_HW_FAULT = 0x01,
  ITEM_ACCESS_DENIED = 0x03,
  ITEM_OUT_OF_RANGE = 0x05,
  ITEM_TYPE_UNSUPPORTED = 0x06,
  ITEM_SIZE_MISMATCH = 0x07,
  ITEM_NO_OBJECT = 0x0A
};

// Read job for len bytes at byte start of area (data block dbnr), whose reply must fit maxPdu
// bytes. Returns READ_JOB, or -1 when an argument does not fit its field or the reply would
// not fit.
int buildReadJob(int area, int dbnr, int start, int len, int maxPdu, unsigned char* pdu);
// Write job: function 2 writes len bytes from buf at byte start; function 1 writes len bits
// (one value byte each, non-zero = 1) at bit address start, one item per bit. Returns the
// length, or -1 when an argument does not fit or the job would exceed maxPdu bytes.
int buildWriteJob(int area, int dbnr, int start, int len, const unsigned char* buf, int function,
                  int maxPdu, unsigned char* pdu);

// Reply checkers, on n bytes. They look at the parameter and data parts only (offsets after
// ACK_HEADER); checkAckHeader is the stricter check of the header itself. Results: len; -1
// when the reply does not answer the request; -c for an item return code c other than 0xFF
// (-1 for code 0), with c in *itemCode (else *itemCode is -1).
int parseReadReply(const unsigned char* pdu, int n, int len, unsigned char* buf, int* itemCode);
// items: the number of items the write job carried (1 for bytes, len for bits).
int parseWriteReply(const unsigned char* pdu, int n, int len, int items, int* itemCode);
// 0 when pdu is an ack-data PDU without error class and code whose parameter and data lengths
// add up to n and whose reference is ref; else -1.
int checkAckHeader(const unsigned char* pdu, int n, int ref);

// The slave's side: one read or write job with one item of bytes.
struct Job {
  int function;   // FN_READ or FN_WRITE
  int ref;        // PDU reference, to be echoed
  int transport;  // transport size of the item
  int count;      // elements of that size
  int dbnr;
  int area;
  int bitAddress;
  const unsigned char* data;  // write: the data behind the data header, dataBits bits
  int dataBits;
};
// Parses a job of n bytes. Returns 0; -1 when it is not a well-formed single-item read or
// write job (its lengths must add up to n).
int parseJob(const unsigned char* pdu, int n, Job* job);
// Replies to job ref: code ITEM_OK with len data bytes, or an error code without data.
// Return the length, or -1 if the reply would exceed max bytes.
int buildReadReply(int ref, int code, const unsigned char* data, int len, int max,
                   unsigned char* pdu);
int buildWriteReply(int ref, int code, int max, unsigned char* pdu);
// An ack-data PDU carrying only error class and code, for a job that could not be understood.
int buildErrorReply(int ref, int errorClass, int errorCode, int max, unsigned char* pdu);

}  // namespace ots7pdu

#endif
