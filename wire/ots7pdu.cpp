// The S7 PDU on buffers: job builders and reply checkers for the masters, job parser and reply
// builders for the slaves. Offsets below are those of the S7 PDU itself (protocol id at 0).
#include "ots7pdu.h"

#include <string.h>

#include "otbyteorder.h"

namespace ots7pdu {

namespace {

// Largest bit address of the 3-byte address field of an any-pointer.
const int kMaxBitAddress = 0xFFFFFF;

void put24(unsigned char* p, int v) {
  p[0] = (unsigned char)((v >> 16) & 0xFF);
  p[1] = (unsigned char)((v >> 8) & 0xFF);
  p[2] = (unsigned char)(v & 0xFF);
}

// Protocol id, job, reserved, reference 0: the masters of this library send one job at a time.
void jobHeader(unsigned char* pdu, int param, int data) {
  pdu[0] = PROTOCOL_ID;
  pdu[1] = ROSCTR_JOB;
  pdu[2] = pdu[3] = 0;  // reserved
  pdu[4] = pdu[5] = 0;  // reference
  otbyteorder::put16(pdu + 6, param);
  otbyteorder::put16(pdu + 8, data);
}

void ackHeader(unsigned char* pdu, int ref, int param, int data, int errorClass, int errorCode) {
  pdu[0] = PROTOCOL_ID;
  pdu[1] = ROSCTR_ACK_DATA;
  pdu[2] = pdu[3] = 0;
  otbyteorder::put16(pdu + 4, ref);
  otbyteorder::put16(pdu + 6, param);
  otbyteorder::put16(pdu + 8, data);
  pdu[10] = (unsigned char)errorClass;
  pdu[11] = (unsigned char)errorCode;
}

// The 12-byte address of one item: any-pointer syntax, transport size, count,
// data block, area, bit address.
void item(unsigned char* p, int transport, int count, int dbnr, int area, int bitAddress) {
  p[0] = 0x12;  // an item address follows
  p[1] = 0x0A;  // its length
  p[2] = 0x10;  // any-pointer syntax
  p[3] = (unsigned char)transport;
  otbyteorder::put16(p + 4, count);
  otbyteorder::put16(p + 6, dbnr);
  p[8] = (unsigned char)area;
  put24(p + 9, bitAddress);
}

// Bytes of the data behind an item, from its data transport size and length field.
int itemDataBytes(int transport_size, int length) {
  switch (transport_size) {
    case 0x03:  // bit
    case 0x07:  // real
    case 0x09:  // octet string: length in bytes
      return length;
    case 0x04:  // byte, word, dword
    case 0x05:  // integer: length in bits
      return (length % 8) == 0 ? length / 8 : -1;
    default:
      return -1;
  }
}

int itemError(int code, int* itemCode) {
  if (itemCode) *itemCode = code;
  return code != 0 ? -code : -1;  // 0 would read as "nothing happened"
}

}  // namespace

int buildReadJob(int area, int dbnr, int start, int len, int maxPdu, unsigned char* pdu) {
  if (pdu == nullptr || len <= 0 || len > maxPdu - READ_REPLY_HEADER || dbnr < 0 || dbnr > 0xFFFF ||
      start < 0 || start > kMaxBitAddress / 8)
    return -1;
  jobHeader(pdu, 14, 0);
  pdu[10] = FN_READ;
  pdu[11] = 0x01;  // one item
  item(pdu + 12, TRANSPORT_BYTE, len, dbnr, area, start * 8);
  return READ_JOB;
}

int buildWriteJob(int area, int dbnr, int start, int len, const unsigned char* buf, int function,
                  int maxPdu, unsigned char* pdu) {
  if (pdu == nullptr || buf == nullptr || len <= 0 || dbnr < 0 || dbnr > 0xFFFF || start < 0)
    return -1;
  if (function == 2) {
    int total = JOB_HEADER + 14 + 4 + len;
    if (total > maxPdu || start > kMaxBitAddress / 8) return -1;
    jobHeader(pdu, 14, len + 4);  // data: data header and data
    pdu[10] = FN_WRITE;
    pdu[11] = 0x01;
    item(pdu + 12, TRANSPORT_BYTE, len, dbnr, area, start * 8);
    pdu[24] = 0x00;  // reserved
    pdu[25] = 0x04;  // data length in bits
    otbyteorder::put16(pdu + 26, len * 8);
    memcpy(pdu + 28, buf, (size_t)len);
    return total;
  }
  if (function == 1) {
    // one item per bit, each with its own 12-byte address item and a 5-byte data item, data
    // items separated by one fill byte
    int param = 2 + 12 * len;
    int data = 6 * len - 1;
    int total = JOB_HEADER + param + data;
    if (total > maxPdu || start > kMaxBitAddress - (len - 1)) return -1;
    jobHeader(pdu, param, data);
    pdu[10] = FN_WRITE;
    pdu[11] = (unsigned char)len;  // the size check keeps len below 256
    unsigned char* p = pdu + 12;
    for (int i = 0; i < len; i++, p += 12)
      item(p, TRANSPORT_BIT, 1, dbnr, area, start + i);
    for (int i = 0; i < len; i++) {
      p[0] = 0x00;
      p[1] = 0x03;  // bit
      p[2] = 0x00;
      p[3] = 0x01;  // one bit
      p[4] = buf[i] ? 1 : 0;
      p += 5;
      if (i + 1 < len) *p++ = 0x00;
    }
    return total;
  }
  return -1;
}

int parseReadReply(const unsigned char* pdu, int n, int len, unsigned char* buf, int* itemCode) {
  if (itemCode) *itemCode = -1;
  if (pdu == nullptr || buf == nullptr || len <= 0 || n < WRITE_REPLY) return -1;
  if (pdu[12] != FN_READ || pdu[13] != 0x01) return -1;
  int code = pdu[14];
  if (code != ITEM_OK) return itemError(code, itemCode);
  if (n < READ_REPLY_HEADER) return -1;
  // The data must be exactly what was asked for, in length field and in the unit.
  if (itemDataBytes(pdu[15], otbyteorder::get16(pdu + 16)) != len) return -1;
  if (n != READ_REPLY_HEADER + len) return -1;
  memcpy(buf, pdu + READ_REPLY_HEADER, (size_t)len);
  return len;
}

int parseWriteReply(const unsigned char* pdu, int n, int len, int items, int* itemCode) {
  if (itemCode) *itemCode = -1;
  if (pdu == nullptr || items <= 0 || n < WRITE_REPLY) return -1;
  if (pdu[12] != FN_WRITE || pdu[13] != items) return -1;
  if (n != ACK_HEADER + 2 + items) return -1;  // one return code per item
  for (int i = 0; i < items; i++) {
    int code = pdu[ACK_HEADER + 2 + i];
    if (code != ITEM_OK) return itemError(code, itemCode);
  }
  return len;
}

int checkAckHeader(const unsigned char* pdu, int n, int ref) {
  if (pdu == nullptr || n < ACK_HEADER) return -1;
  if (pdu[0] != PROTOCOL_ID || pdu[1] != ROSCTR_ACK_DATA || otbyteorder::get16(pdu + 4) != ref)
    return -1;
  if (pdu[10] != 0 || pdu[11] != 0) return -1;
  return ACK_HEADER + otbyteorder::get16(pdu + 6) + otbyteorder::get16(pdu + 8) == n ? 0 : -1;
}

int parseJob(const unsigned char* pdu, int n, Job* job) {
  if (pdu == nullptr || job == nullptr || n < JOB_HEADER) return -1;
  if (pdu[0] != PROTOCOL_ID || pdu[1] != ROSCTR_JOB) return -1;
  int param = otbyteorder::get16(pdu + 6), data = otbyteorder::get16(pdu + 8);
  if (JOB_HEADER + param + data != n || param != 14) return -1;
  const unsigned char* p = pdu + JOB_HEADER;
  if ((p[0] != FN_READ && p[0] != FN_WRITE) || p[1] != 1) return -1;
  if (p[2] != 0x12 || p[3] != 0x0A || p[4] != 0x10) return -1;
  job->function = p[0];
  job->ref = otbyteorder::get16(pdu + 4);
  job->transport = p[5];
  job->count = otbyteorder::get16(p + 6);
  job->dbnr = otbyteorder::get16(p + 8);
  job->area = p[10];
  job->bitAddress = (p[11] << 16) | (p[12] << 8) | p[13];
  job->data = nullptr;
  job->dataBits = 0;
  if (job->function == FN_READ) return data == 0 ? 0 : -1;
  // write: data header (reserved, transport size, length) and the data, nothing behind it
  if (data < 4) return -1;
  const unsigned char* d = pdu + JOB_HEADER + param;
  int bytes = itemDataBytes(d[1], otbyteorder::get16(d + 2));
  if (bytes < 0 || bytes != data - 4) return -1;
  job->data = d + 4;
  // bits, and the lengths in bits, count bits; reals and octet strings count bytes
  bool inBytes = d[1] == 0x07 || d[1] == 0x09;
  job->dataBits = inBytes ? otbyteorder::get16(d + 2) * 8 : otbyteorder::get16(d + 2);
  return 0;
}

int buildReadReply(int ref, int code, const unsigned char* data, int len, int max,
                   unsigned char* pdu) {
  if (pdu == nullptr || len < 0 || (code == ITEM_OK && len > 0 && data == nullptr)) return -1;
  if (code != ITEM_OK) len = 0;
  int total = READ_REPLY_HEADER + len;
  if (total > max || len * 8 > 0xFFFF) return -1;
  ackHeader(pdu, ref, 2, 4 + len, 0, 0);
  pdu[12] = FN_READ;
  pdu[13] = 0x01;
  pdu[14] = (unsigned char)code;
  pdu[15] = code == ITEM_OK ? 0x04 : 0x00;  // length in bits, or nothing
  otbyteorder::put16(pdu + 16, len * 8);
  if (len > 0) memcpy(pdu + READ_REPLY_HEADER, data, (size_t)len);
  return total;
}

int buildWriteReply(int ref, int code, int max, unsigned char* pdu) {
  if (pdu == nullptr || max < WRITE_REPLY) return -1;
  ackHeader(pdu, ref, 2, 1, 0, 0);
  pdu[12] = FN_WRITE;
  pdu[13] = 0x01;
  pdu[14] = (unsigned char)code;
  return WRITE_REPLY;
}

int buildErrorReply(int ref, int errorClass, int errorCode, int max, unsigned char* pdu) {
  if (pdu == nullptr || max < ACK_HEADER) return -1;
  ackHeader(pdu, ref, 0, 0, errorClass, errorCode);
  return ACK_HEADER;
}

}  // namespace ots7pdu
