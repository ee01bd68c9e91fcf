#include "otdf1.h"
#include "otlog.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

namespace {

const unsigned char kSTX = otDF1::STX;
const unsigned char kETX = otDF1::ETX;
const unsigned char kDLE = otDF1::DLE;

// A partner that keeps sending without ever completing an answer must not hold the master for
// ever: this many bytes in one receiveAnswer are more than a full telegram and its repetitions.
const int kMaxAnswerBytes = 4096;

unsigned short crcStep(unsigned short crc, unsigned char c) {
  crc ^= c;
  for (int bit = 0; bit < 8; bit++)
    crc = (crc & 1) ? (unsigned short)((crc >> 1) ^ 0xA001) : (unsigned short)(crc >> 1);
  return crc;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// df1Buffer

df1Buffer::df1Buffer(unsigned sz)
    : buf(new unsigned char[sz > 0 ? sz : 1]), size(sz), len(0), spare(0) {
  memset(buf, 0, sz > 0 ? sz : 1);
}

df1Buffer::~df1Buffer() {
  delete[] buf;
}

void df1Buffer::write(unsigned char c) {
  if (len + 1 < size) buf[len++] = c;
}

void df1Buffer::writeDLE(unsigned char c) {
  if (c != kDLE) {
    write(c);
    return;
  }
  if (len + 2 < size) {
    buf[len++] = kDLE;
    buf[len++] = kDLE;
  }
}

unsigned char* df1Buffer::operator[](unsigned pos) {
  if (pos >= len) {
    otLog(OT_LOG_ERROR, "*** otBuffer read error! Pos:%u Len:%u\n", pos, len);
  }
  if (pos >= size) {
    spare = 0;
    return &spare;
  }
  return &buf[pos];
}

void df1Buffer::print() {
  printf("Buffer [%d]:", (int)len);
  for (unsigned i = 0; i < len; i++)
    printf(" %02X", buf[i]);
  printf("\n");
  fflush(stdout);
}

// ---------------------------------------------------------------------------------------------
// otDF1Parser

otDF1Parser::otDF1Parser() {
  reset();
}

void otDF1Parser::reset() {
  state = IDLE;
  dle = false;
  overflow = false;
  crcLow = 0;
  ctrl = 0;
  bodyLen = 0;
}

int otDF1Parser::feed(unsigned char c) {
  // The CRC bytes follow DLE ETX as they are, without doubling.
  if (state == CRC_LOW) {
    crcLow = c;
    state = CRC_HIGH;
    return NONE;
  }
  if (state == CRC_HIGH) {
    state = IDLE;
    unsigned short got = (unsigned short)(crcLow | (c << 8));
    // A body that lost bytes to the buffer's end, or lacks the header, is never taken: its CRC
    // might match what was kept, and the header fields would be read past the body.
    if (overflow || bodyLen < MIN_BODY) return BROKEN;
    return otDF1::crc(bodyBuf, bodyLen) == got ? FRAME : BROKEN;
  }
  if (!dle && c == kDLE) {
    dle = true;
    return NONE;
  }
  bool control = dle && c != kDLE;
  dle = false;
  if (state == IDLE) {
    if (!control) return STRAY;
    if (c == kSTX) {
      state = BODY;
      bodyLen = 0;
      overflow = false;
      return NONE;
    }
    ctrl = c;
    return CONTROL;
  }
  // state == BODY
  if (!control) {
    if (bodyLen < MAX_BODY)
      bodyBuf[bodyLen++] = c;
    else
      overflow = true;
    return NONE;
  }
  if (c == kETX) {
    state = CRC_LOW;
    return NONE;
  }
  // Any other control symbol inside a body: the telegram is broken.
  state = IDLE;
  return BROKEN;
}

int otDF1Parser::silence() {
  bool was = busy();
  state = IDLE;
  dle = false;
  return was ? BROKEN : NONE;
}

// ---------------------------------------------------------------------------------------------
// otDF1: framing

unsigned short otDF1::crc(const unsigned char* body, int len) {
  unsigned short c = 0;
  for (int i = 0; i < len; i++)
    c = crcStep(c, body[i]);
  return crcStep(c, kETX);
}

int otDF1::buildTelegram(const unsigned char* body, int len, df1Buffer& out) {
  out.clear();
  if (len < 0 || (body == nullptr && len > 0)) return -1;
  unsigned need = 6;
  for (int i = 0; i < len; i++)
    need += body[i] == kDLE ? 2 : 1;
  // df1Buffer keeps one byte free.
  if (need + 1 > out.capacity()) return -1;
  unsigned short c = crc(body, len);
  out.write(kDLE);
  out.write(kSTX);
  for (int i = 0; i < len; i++)
    out.writeDLE(body[i]);
  out.write(kDLE);
  out.write(kETX);
  out.write((unsigned char)(c & 0xFF));
  out.write((unsigned char)(c >> 8));
  return (int)out.length();
}

// ---------------------------------------------------------------------------------------------
// otDF1: line

otDF1::otDF1(unsigned char source, int tmo)
    : serial(nullptr),
      tns((unsigned short)(time(nullptr) & 0xFFFF)),
      commands(0),
      answers(0),
      src(source),
      timeout(tmo),
      lastResponse(NAK) {}

otDF1::~otDF1() {}

int otDF1::registerSerial(otSerial* s) {
  serial = s;
  return 0;
}

int otDF1::writeBuffer(unsigned char* buf, int len) {
  if (serial == nullptr) return -1;
  return serial->writeBlock(buf, len);
}

int otDF1::writeBuffer(df1Buffer& buf) {
  return writeBuffer(const_cast<unsigned char*>(buf.data()), (int)buf.length());
}

int otDF1::get(unsigned char* c) {
  if (serial == nullptr || c == nullptr) return -1;
  return serial->readBlock(c, 1, timeout) == 1 ? 0 : -1;
}

int otDF1::getSymbol(unsigned char* c) {
  if (get(c) < 0) return -1;
  if (*c != DLE) return 0;
  if (get(c) < 0) return -1;
  return *c == DLE ? 0 : 1;
}

int otDF1::sendENQ() {
  unsigned char b[2] = {DLE, ENQ};
  return writeBuffer(b, 2);
}

int otDF1::sendACK() {
  unsigned char b[2] = {DLE, ACK};
  return writeBuffer(b, 2);
}

int otDF1::sendNAC() {
  unsigned char b[2] = {DLE, NAK};
  return writeBuffer(b, 2);
}

int otDF1::respond(unsigned char response) {
  lastResponse = response;
  return response == ACK ? sendACK() : sendNAC();
}

int otDF1::sendCommand(unsigned char dst, unsigned char cmd, unsigned char sts, unsigned char* data,
                       unsigned char len) {
  if (serial == nullptr || len > MAX_DATA || (data == nullptr && len > 0)) return -1;
  tns++;
  commands++;
  df1Buffer body(otDF1Parser::BODY_SIZE);
  body.write(dst);
  body.write(src);
  body.write(cmd);
  body.write(sts);
  body.write((unsigned char)(tns & 0xFF));
  body.write((unsigned char)(tns >> 8));
  for (int i = 0; i < len; i++)
    body.write(data[i]);
  // Sized for a body of DLEs only, so that no telegram is cut before its CRC.
  df1Buffer telegram(FRAME_SIZE);
  if (buildTelegram(body.data(), (int)body.length(), telegram) < 0) return -1;
  if (writeBuffer(telegram) < 0) return -1;

  int naks = 0, timeouts = 0;
  for (;;) {
    unsigned char c;
    int s = getSymbol(&c);
    if (s < 0) {
      if (++timeouts >= 3) return DF1_TIMEOUT;
      if (sendENQ() < 0) return -1;
      continue;
    }
    if (s != 1) continue;
    if (c == ACK) return 0;
    if (c == NAK) {
      if (++naks >= 3) return DF1_NAK;
      if (writeBuffer(telegram) < 0) return -1;
    }
  }
}

int otDF1::receiveAnswer(unsigned char& dst, unsigned char& cmd, unsigned char& sts,
                         unsigned char* data, unsigned char& len) {
  if (serial == nullptr) return -1;
  parser.reset();
  for (int bytes = 0; bytes < kMaxAnswerBytes; bytes++) {
    unsigned char c;
    int ev;
    if (get(&c) < 0) {
      // A telegram cut short (missing ETX or CRC byte) is rejected; its repetition may follow.
      ev = parser.silence();
      if (ev == otDF1Parser::NONE) return DF1_TIMEOUT;
    } else {
      ev = parser.feed(c);
    }
    switch (ev) {
      case otDF1Parser::FRAME: {
        const unsigned char* b = parser.body();
        int n = parser.bodyLength();
        unsigned short got = (unsigned short)(b[4] | (b[5] << 8));
        respond(ACK);
        if (got != tns) return DF1_TNS;
        dst = b[0];
        cmd = b[2];
        sts = b[3];
        len = (unsigned char)(n - otDF1Parser::MIN_BODY);
        if (data != nullptr) memcpy(data, b + otDF1Parser::MIN_BODY, len);
        answers++;
        return 0;
      }
      case otDF1Parser::BROKEN:
        respond(NAK);
        break;
      case otDF1Parser::CONTROL:
        if (parser.control() == ENQ) {
          respond(lastResponse);
          return DF1_ENQ;
        }
        lastResponse = NAK;
        break;
      case otDF1Parser::STRAY:
        lastResponse = NAK;
        break;
      default:
        break;
    }
  }
  return DF1_TIMEOUT;
}

// Sends a command and receives its answer into answer (MAX_DATA bytes).
int otDF1::transaction(unsigned char dst, unsigned char* request, unsigned char reqLen,
                       unsigned char* answer, unsigned char& answerLen, unsigned char& sts) {
  // The CMD byte is passed through request[0]; the rest is the command data.
  int r = sendCommand(dst, request[0], 0, request + 1, (unsigned char)(reqLen - 1));
  if (r < 0) return r;
  unsigned char adst = 0, acmd = 0;
  answerLen = 0;
  sts = 0;
  return receiveAnswer(adst, acmd, sts, answer, answerLen);
}

int otDF1::cmdSetCPUMode(unsigned char dst, unsigned char mode) {
  unsigned char req[3] = {0x0F, 0x3A, mode};
  unsigned char answer[MAX_DATA];
  unsigned char n, sts;
  int r = transaction(dst, req, 3, answer, n, sts);
  if (r == 0 && sts != 0) {
    otLog(OT_LOG_ERROR, "\nSet CPU Mode Execution Error! STS:%02X", sts);
    fflush(stdout);
  }
  return r;
}

int otDF1::cmdDiagnosticStatus(unsigned char dst, unsigned char* buf) {
  unsigned char req[2] = {0x06, 0x03};
  unsigned char answer[MAX_DATA];
  unsigned char n, sts;
  int r = transaction(dst, req, 2, answer, n, sts);
  if (r < 0) return r;
  if (buf != nullptr) memcpy(buf, answer, n);
  return n;
}

int otDF1::cmdLogicalRead(unsigned char dst, unsigned char size, unsigned char file_type,
                          unsigned char file_number, unsigned char element,
                          unsigned char subelement, unsigned char* buf) {
  unsigned char req[7] = {0x0F, 0xA2, size, file_number, file_type, element, subelement};
  unsigned char answer[MAX_DATA];
  unsigned char n, sts;
  int r = transaction(dst, req, 7, answer, n, sts);
  if (r < 0) return r;
  if (sts != 0) return DF1_STS;
  // The caller's buffer holds what was asked for; a longer answer would overrun it.
  if (n > size) return DF1_TOO_LONG;
  if (buf != nullptr) memcpy(buf, answer, n);
  return n;
}

int otDF1::cmdLogicalWrite(unsigned char dst, unsigned char size, unsigned char file_type,
                           unsigned char file_number, unsigned char element,
                           unsigned char subelement, unsigned char* buf) {
  if (buf == nullptr && size > 0) return -1;
  // The command data: FNC and five argument bytes, then the values. sendCommand refuses what
  // does not fit into one body.
  if (size > MAX_DATA - 6) return -1;
  unsigned char req[1 + MAX_DATA];
  const unsigned char head[7] = {0x0F, 0xAA, size, file_number, file_type, element, subelement};
  memcpy(req, head, 7);
  if (size > 0) memcpy(req + 7, buf, size);
  unsigned char answer[MAX_DATA];
  unsigned char n, sts;
  int r = transaction(dst, req, (unsigned char)(7 + size), answer, n, sts);
  if (r < 0) return r;
  if (sts != 0) return DF1_STS;
  if (n > size) return DF1_TOO_LONG;
  if (n > 0) memcpy(buf, answer, n);
  return n;
}
