// Siemens S7 and fetch/write over ISO-on-TCP. The job builders and reply checkers work on
// buffers only; fetch() and write() put them on the socket.
#include "otsiemenstcp.h"

#include <errno.h>
#include <sys/socket.h>

#include <stdio.h>
#include <string.h>

#include "otbyteorder.h"
#include "otcutil.h"
#include "ots7pdu.h"
#include "otwthread.h"

namespace {

// TPKT (22 bytes), ISO connection request: length 17, code 0xE0, destination reference 0,
// source reference 1, class 0; calling TSAP (C1), called TSAP (C2), TPDU size 512 (C0 = 9).
const unsigned char kDefaultConnectBlock[otSiemensTCP::CONNECT_BLOCK_SIZE] = {
    0x03, 0x00, 0x00, 0x16, 0x11, 0xE0, 0x00, 0x00, 0x00, 0x01, 0x00,
    0xC1, 0x02, 0x01, 0x00, 0xC2, 0x02, 0x00, 0x01, 0xC0, 0x01, 0x09};

// Type 7: the TPDU-size parameter first, then calling and called TSAP 02 00.
const unsigned char kType7ConnectBlock[otSiemensTCP::CONNECT_BLOCK_SIZE] = {
    0x03, 0x00, 0x00, 0x16, 0x11, 0xE0, 0x00, 0x00, 0x00, 0x01, 0x00,
    0xC0, 0x01, 0x09, 0xC1, 0x02, 0x02, 0x00, 0xC2, 0x02, 0x02, 0x00};

// TPKT (25 bytes), ISO data unit 02 F0 80, S7 job header (protocol 0x32, job 1, reference
// 0xCCC1, parameter length 8, data length 0), setup communication (0xF0): 1 parallel job
// each way, PDU size 960.
const unsigned char kSetupJob[otSiemensTCP::SETUP_JOB_SIZE] = {
    0x03, 0x00, 0x00, 0x19, 0x02, 0xF0, 0x80, 0x32, 0x01, 0x00, 0x00, 0xCC, 0xC1,
    0x00, 0x08, 0x00, 0x00, 0xF0, 0x00, 0x00, 0x01, 0x00, 0x01, 0x03, 0xC0};

// ISO data unit (last), in front of every S7 PDU; the S7 PDU itself is built and checked by
// the library's S7 PDU code, which PPI shares.
const int kIsoDataHeader = 3;
const unsigned char kIsoData[kIsoDataHeader] = {0x02, 0xF0, 0x80};

// Answer buffer of the ISO connection confirm.
const int kConnectReplyMax = 520;

void dump(const char* title, const unsigned char* buf, int len) {
  if (otDebugPrintfState == 0) return;
  otDebugPrintf("%s len=%d\n", title, len);
  for (int i = 0; i < len; i++)
    otDebugPrintf("%02x,", buf[i]);
  otDebugPrintf("\n");
}

}  // namespace

otSiemensTCP::otSiemensTCP(const char* adr_, int plc_type_, int fetch_write_, int function_,
                           int rack_slot_)
    : otSocket(adr_, ISO_TCP_PORT, 1),
      function(function_),
      rack_slot(rack_slot_),
      plc_type(plc_type_),
      fetch_write(fetch_write_),
      use_custom_connect_block(0) {
  memset(fw_write_header, 0, sizeof(fw_write_header));
  memset(fw_write_ack, 0, sizeof(fw_write_ack));
  memset(fw_fetch_header, 0, sizeof(fw_fetch_header));
  memset(fw_fetch_ack, 0, sizeof(fw_fetch_ack));
  memset(tpkt, 0, sizeof(tpkt));
  memset(pdu, 0, sizeof(pdu));
  memcpy(connect_block, kDefaultConnectBlock, CONNECT_BLOCK_SIZE);
}

otSiemensTCP::~otSiemensTCP() {
  disconnect();
}

int otSiemensTCP::getDefaultConnectBlock(unsigned char* cb) {
  if (cb == nullptr) return -1;
  memcpy(cb, kDefaultConnectBlock, CONNECT_BLOCK_SIZE);
  return CONNECT_BLOCK_SIZE;
}

int otSiemensTCP::setConnectBlock(const unsigned char* cb) {
  if (cb == nullptr) return -1;
  memcpy(connect_block, cb, CONNECT_BLOCK_SIZE);
  use_custom_connect_block = 1;
  return 0;
}

int otSiemensTCP::getConnectBlock(unsigned char* cb) {
  if (cb == nullptr) return -1;
  memcpy(cb, connect_block, CONNECT_BLOCK_SIZE);
  return 0;
}

int otSiemensTCP::getOrg(int org) {
  switch (org) {
    case ORG_DB:
      return 0x84;
    case ORG_M:
      return 0x83;
    case ORG_E:
      return 0x81;
    case ORG_A:
      return 0x82;
    case ORG_PEPA:
      return 0x80;
    case ORG_Z:
      return plc_type == S7_200 ? 0x1E : 0x1C;
    case ORG_T:
      return plc_type == S7_200 ? 0x1F : 0x1D;
    default:
      return 0x83;
  }
}

int otSiemensTCP::buildConnectBlock(unsigned char* cb) {
  if (use_custom_connect_block) {
    memcpy(cb, connect_block, CONNECT_BLOCK_SIZE);
    return CONNECT_BLOCK_SIZE;
  }
  if (plc_type == PLC_TYPE_7) {
    memcpy(cb, kType7ConnectBlock, CONNECT_BLOCK_SIZE);
  } else {
    memcpy(cb, kDefaultConnectBlock, CONNECT_BLOCK_SIZE);
    // calling TSAP at 13-14, called TSAP at 17-18
    static const unsigned char tsaps[][4] = {
        {0x4D, 0x57, 0x4D, 0x57},  // S7_200
        {0x01, 0x00, 0x01, 0x02},  // S7_300
        {0x01, 0x00, 0x01, 0x03},  // S7_400
        {0x01, 0x00, 0x00, 0x01},  // S5
        {0x01, 0x00, 0x00, 0x01},  // S7_1200
        {0x01, 0x00, 0x01, 0x00},  // LOGO
    };
    if (plc_type >= S7_200 && plc_type <= LOGO) {
      const unsigned char* t = tsaps[plc_type - S7_200];
      cb[13] = t[0];
      cb[14] = t[1];
      cb[17] = t[2];
      cb[18] = t[3];
    }
  }
  if (function != -1) cb[17] = (unsigned char)(function & 0xFF);
  if (rack_slot != -1) cb[18] = (unsigned char)(rack_slot & 0xFF);
  return CONNECT_BLOCK_SIZE;
}

int otSiemensTCP::adoptSocket(int fd) {
  if (fd < 0) return -1;
  disconnect();
  s = fd;
  return 0;
}

int otSiemensTCP::readTpkt(unsigned char* buf, int max) {
  if (otSocket::read(tpkt, TPKT_HEADER, IO_TIMEOUT) != TPKT_HEADER) return -1;
  int rest = otbyteorder::get16(tpkt + 2) - TPKT_HEADER;
  // the rest must fit the caller's buffer before anything is read into it
  if (tpkt[0] != 3 || rest <= 0 || rest > max) return -1;
  if (otSocket::read(buf, rest, IO_TIMEOUT) != rest) return -1;
  return rest;
}

int otSiemensTCP::doConnect() {
  unsigned char cb[CONNECT_BLOCK_SIZE];
  unsigned char reply[kConnectReplyMax];
  for (int attempt = 0; attempt < CONNECT_ATTEMPTS; attempt++) {
    if (otSocket::connect() < 0) {
      otsleep(100);
      otDebugPrintf("connect failed\n");
      continue;
    }
    buildConnectBlock(cb);
    memcpy(tpkt, cb, TPKT_HEADER);
    if (otSocket::write(cb, CONNECT_BLOCK_SIZE) != CONNECT_BLOCK_SIZE ||
        readTpkt(reply, kConnectReplyMax) < 0) {
      disconnect();
      continue;
    }
    if (otbyteorder::get16(tpkt + 2) != CONNECT_BLOCK_SIZE) {
      disconnect();
      continue;
    }
    // A setup retry over a connection that has been closed cannot succeed, so the loop ends
    // with the connection.
    for (int setup = 0; setup < SETUP_ATTEMPTS && isConnected(); setup++) {
      if (otSocket::write(kSetupJob, SETUP_JOB_SIZE) != SETUP_JOB_SIZE) break;
      int n = readTpkt(pdu, MAX_PDU);
      // acknowledgement data (0x32, 3) without error class and code, setup communication
      if (n >= 16 && pdu[3] == 0x32 && pdu[4] == 0x03 && pdu[13] == 0 && pdu[14] == 0 &&
          pdu[15] == 0xF0) {
        otDebugPrintf("connect success\n");
        return 0;
      }
      disconnect();
    }
    disconnect();
    return -1;
  }
  return -1;
}

int otSiemensTCP::write_iso(const unsigned char* buf, int len) {
  if (buf == nullptr || len <= 0 || len > MAX_PDU) return -1;
  if (!isConnected()) doConnect();
  if (!isConnected()) return -1;
  unsigned char unit[TPKT_HEADER + MAX_PDU];
  int total = len + TPKT_HEADER;
  unit[0] = 0x03;
  unit[1] = 0x00;
  otbyteorder::put16(unit + 2, total);
  memcpy(tpkt, unit, TPKT_HEADER);
  memcpy(unit + TPKT_HEADER, buf, (size_t)len);
  dump("write_iso()", buf, len);
  int ret = otSocket::write(unit, total);
  if (ret != total) {
    otDebugPrintf("write_iso:failure to write buf -> disconnecting\n");
    disconnect();
    return ret < 0 ? ret : -1;
  }
  return len;
}

int otSiemensTCP::read_iso(unsigned char* buf) {
  int ret = otSocket::read(tpkt, TPKT_HEADER, IO_TIMEOUT);
  if (ret != TPKT_HEADER) {
    otDebugPrintf("read_iso:failure to read iso header ret=%d -> disconnecting\n", ret);
    disconnect();
    return -1;
  }
  if (tpkt[0] != 3) {
    otDebugPrintf("read_iso:header vesion mismatch version==%d -> disconnecting\n", tpkt[0]);
    disconnect();
    return -1;
  }
  int len = otbyteorder::get16(tpkt + 2) - TPKT_HEADER;
  if (len <= 0) {
    otDebugPrintf("read_iso:len==%d from iso header is negative -> disconnecting\n", len);
    disconnect();
    return -1;
  }
  if (len > MAX_PDU) {
    otDebugPrintf("read_iso:len==%d from iso header is larger than max PDU size -> disconnecting\n",
                  len);
    disconnect();
    return -1;
  }
  // The payload has usually arrived with its header: take what is there without waiting, and
  // wait (with the time limit) only for a rest that is still on its way.
  int got = 0;
  ssize_t n;
  do {
    n = ::recv(s, buf, (size_t)len, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n == 0) {
    otDebugPrintf("read_iso:read buf got timeout -> disconnecting\n");
    disconnect();
    return -1;
  }
  if (n > 0) got = (int)n;
  if (got < len && otSocket::read(buf + got, len - got, IO_TIMEOUT) != len - got) {
    otDebugPrintf("read_iso:read buf got timeout -> disconnecting\n");
    disconnect();
    return -1;
  }
  dump("read_iso()", buf, len);
  return len;
}

int otSiemensTCP::buildReadJob(int plc_type_, int area, int dbnr, int start_adr, int len,
                               unsigned char* pdu_) {
  (void)plc_type_;  // the S7-200 differs in its area codes only
  if (pdu_ == nullptr) return -1;
  int n = ots7pdu::buildReadJob(area, dbnr, start_adr, len, MAX_PDU - kIsoDataHeader,
                                pdu_ + kIsoDataHeader);
  if (n < 0) return -1;
  memcpy(pdu_, kIsoData, kIsoDataHeader);
  return kIsoDataHeader + n;
}

int otSiemensTCP::buildWriteJob(int area, int dbnr, int start_adr, int len,
                                const unsigned char* buf, int function_, unsigned char* pdu_) {
  if (pdu_ == nullptr) return -1;
  int n = ots7pdu::buildWriteJob(area, dbnr, start_adr, len, buf, function_,
                                 MAX_PDU - kIsoDataHeader, pdu_ + kIsoDataHeader);
  if (n < 0) return -1;
  memcpy(pdu_, kIsoData, kIsoDataHeader);
  return kIsoDataHeader + n;
}

void otSiemensTCP::reportItemError(int code) {
  // The hint line starts with space and no-break space alternating, five times each.
#define OT_S7_INDENT " \xc2\xa0 \xc2\xa0 \xc2\xa0 \xc2\xa0 \xc2\xa0"
  switch (code) {
    case 5:
      fprintf(stderr, " > Error: Trying to access an address that does not exist.\n" OT_S7_INDENT
                      "Please, check the address range. (error code: 5 (0x05))\n");
      break;
    case 7:
      fprintf(stderr, " > Error: the write data size doesn't fit item size\n" OT_S7_INDENT
                      "Please, check the data size. \xc2\xa0 \xc2\xa0 (error code: 7 (0x07))\n");
      break;
    case 10:
      fprintf(stderr, " > Error: Trying to access a DB that does not exist\n" OT_S7_INDENT
                      "Please, check that DB is set. \xc2\xa0 (error code: 10 (0x0a))\n");
      break;
    default:
      fprintf(stderr,
              " > Error: unknown error \xc2\xa0(c\xc3\xb3"
              "digo %x!=0xff)\n",
              code);
      break;
  }
#undef OT_S7_INDENT
  fflush(stderr);
}

int otSiemensTCP::parseReadReply(const unsigned char* pdu_, int n, int len, unsigned char* buf) {
  if (pdu_ == nullptr || buf == nullptr || len <= 0 || n < READ_REPLY_HEADER - kIsoDataHeader)
    return -1;
  if (pdu_[15] != 0x04) otDebugPrintf("fetch:pdu[15]=%d is not equal 0x04-> return -1\n", pdu_[15]);
  int code;
  int ret = ots7pdu::parseReadReply(pdu_ + kIsoDataHeader, n - kIsoDataHeader, len, buf, &code);
  if (code >= 0) reportItemError(code);
  return ret;
}

int otSiemensTCP::parseWriteReply(const unsigned char* pdu_, int n, int len, int items) {
  if (pdu_ == nullptr || n < kIsoDataHeader) return -1;
  int code;
  int ret = ots7pdu::parseWriteReply(pdu_ + kIsoDataHeader, n - kIsoDataHeader, len, items, &code);
  if (code >= 0) reportItemError(code);
  return ret;
}

int otSiemensTCP::buildFetchWriteHeader(int op, int org, int dbnr, int start_adr, int len,
                                        unsigned char* header) {
  // Address and length have one-byte fields; a value that does not fit is refused rather
  // than sent truncated.
  if (org < 0 || org > 0xFF || dbnr < 0 || dbnr > 0xFF || start_adr < 0 || start_adr > 0xFF ||
      len <= 0 || len > 0xFF)
    return -1;
  header[0] = 'S';
  header[1] = '5';
  header[2] = 0x10;  // header length
  header[3] = 0x01;  // id of the op-code field
  header[4] = 0x03;  // op-code field length
  header[5] = (unsigned char)op;
  header[6] = 0x03;  // org field id
  header[7] = 0x08;  // org field length
  header[8] = (unsigned char)org;
  header[9] = (unsigned char)dbnr;
  header[10] = 0;
  header[11] = (unsigned char)start_adr;
  header[12] = 0;
  header[13] = (unsigned char)len;
  header[14] = 0xFF;  // empty field
  header[15] = 0x02;  // its length
  return FW_HEADER;
}

int otSiemensTCP::checkFetchWriteAck(const unsigned char* tpkt_, const unsigned char* ack,
                                     int expected_total) {
  int total = otbyteorder::get16(tpkt_ + 2);
  if (tpkt_[0] != 3 || ack[0] != 'S' || ack[1] != '5' || ack[2] != 0x10) return -1;
  if (ack[8] != 0) return total == TPKT_HEADER + FW_HEADER ? -2 : -1;
  return total == expected_total ? 0 : -1;
}

int otSiemensTCP::useFetchWrite() {
  return fetch_write == 1 && (plc_type == S7_300 || plc_type == S7_400 || plc_type == S5);
}

int otSiemensTCP::fetch(int org, int dbnr, int start_adr, int len, unsigned char* buf) {
  if (!isConnected()) doConnect();
  if (!isConnected()) return -1;
  if (buf == nullptr) return -1;
  if (useFetchWrite()) return fetchFW(org, dbnr, start_adr, len, buf);
  return fetchS7(org, dbnr, start_adr, len, buf);
}

int otSiemensTCP::write(int org, int dbnr, int start_adr, int len, const unsigned char* buf,
                        int function_) {
  if (!isConnected()) doConnect();
  if (!isConnected()) return -1;
  if (buf == nullptr) return -1;
  if (useFetchWrite()) {
    // fetch/write addresses bytes only; a bit address sent as a byte address would hit
    // the wrong byte
    if (function_ != WRITE_BYTES) return -1;
    return writeFW(org, dbnr, start_adr, len, buf);
  }
  return writeS7(org, dbnr, start_adr, len, buf, function_);
}

int otSiemensTCP::fetchS7(int org, int dbnr, int start_adr, int len, unsigned char* buf) {
  int n = buildReadJob(plc_type, getOrg(org), dbnr, start_adr, len, pdu);
  if (n < 0) return -1;
  if (write_iso(pdu, n) != n) return -1;
  n = read_iso(pdu);
  if (n < 0) return -1;
  return parseReadReply(pdu, n, len, buf);
}

int otSiemensTCP::writeS7(int org, int dbnr, int start_adr, int len, const unsigned char* buf,
                          int function_) {
  int n = buildWriteJob(getOrg(org), dbnr, start_adr, len, buf, function_, pdu);
  if (n < 0) return -1;
  if (write_iso(pdu, n) != n) return -1;
  n = read_iso(pdu);
  if (n < 0) return -1;
  return parseWriteReply(pdu, n, len, function_ == WRITE_BITS ? len : 1);
}

int otSiemensTCP::writeFW(int org, int dbnr, int start_adr, int len, const unsigned char* buf) {
  if (buildFetchWriteHeader(0x03, org, dbnr, start_adr, len, fw_write_header) < 0) return -1;
  otDebugPrintf("using fetch_write\n");
  unsigned char unit[TPKT_HEADER + FW_HEADER + 0xFF];
  int total = TPKT_HEADER + FW_HEADER + len;
  unit[0] = 0x03;
  unit[1] = 0x00;
  otbyteorder::put16(unit + 2, total);
  memcpy(tpkt, unit, TPKT_HEADER);
  memcpy(unit + TPKT_HEADER, fw_write_header, FW_HEADER);
  memcpy(unit + TPKT_HEADER + FW_HEADER, buf, (size_t)len);
  int ret = otSocket::write(unit, total);
  otDebugPrintf("write total_buf ret=%d\n", ret);
  if (ret != total) return -1;
  ret = otSocket::read(tpkt, TPKT_HEADER, IO_TIMEOUT);
  if (ret == TPKT_HEADER) ret = otSocket::read(fw_write_ack, FW_HEADER, IO_TIMEOUT);
  if (ret < 1) {
    // a late answer would be taken for the next one: start again on a fresh connection
    disconnect();
    return ret;
  }
  int check = checkFetchWriteAck(tpkt, fw_write_ack, TPKT_HEADER + FW_HEADER);
  if (check == -1) disconnect();
  return check == 0 ? len : -1;
}

int otSiemensTCP::fetchFW(int org, int dbnr, int start_adr, int len, unsigned char* buf) {
  if (buildFetchWriteHeader(0x05, org, dbnr, start_adr, len, fw_fetch_header) < 0) return -1;
  otDebugPrintf("using fetch_write\n");
  unsigned char unit[TPKT_HEADER + FW_HEADER] = {0x03, 0x00, 0x00, 0x14};
  memcpy(tpkt, unit, TPKT_HEADER);
  memcpy(unit + TPKT_HEADER, fw_fetch_header, FW_HEADER);
  int ret = otSocket::write(unit, (int)sizeof(unit));
  if (ret != (int)sizeof(unit)) return -1;
  ret = otSocket::read(tpkt, TPKT_HEADER, IO_TIMEOUT);
  if (ret == TPKT_HEADER) ret = otSocket::read(fw_fetch_ack, FW_HEADER, IO_TIMEOUT);
  if (ret < 1) {
    disconnect();
    return ret;
  }
  int check = checkFetchWriteAck(tpkt, fw_fetch_ack, TPKT_HEADER + FW_HEADER + len);
  if (check != 0) {
    if (check == -1) disconnect();
    return -1;
  }
  ret = otSocket::read(buf, len, IO_TIMEOUT);
  if (ret < 1) {
    disconnect();
    return ret;
  }
  return len;
}
