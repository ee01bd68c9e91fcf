#include "otmodbus.h"

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "otlog.h"
#include "otpoll.h"

namespace {

// CRC-16/MODBUS by the usual pair of tables: one gives the byte XORed into the next data
// byte, the other the byte carried forward.
struct CrcTables {
  unsigned char hi[256];
  unsigned char lo[256];
  CrcTables() {
    for (int i = 0; i < 256; i++) {
      unsigned crc = (unsigned)i;
      for (int bit = 0; bit < 8; bit++)
        crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
      lo[i] = (unsigned char)(crc & 0xFF);
      hi[i] = (unsigned char)(crc >> 8);
    }
  }
};
const CrcTables crcTables;

// How the body behind the function code is laid out: `fixed` bytes, then (if countBytes is 1
// or 2) a big-endian count field and that many bytes. The caller's data gets the fixed bytes
// and the counted bytes, not the count field.
struct Layout {
  int fixed;
  int countBytes;
};
const Layout kUnknown = {-1, 0};

Layout replyLayout(int fc) {
  switch (fc) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 12:
    case 17:
    case 20:
    case 21:
    case 23:
      return {0, 1};
    case 5:
    case 6:
    case 11:
    case 15:
    case 16:
      return {4, 0};
    case 7:
      return {1, 0};
    case 22:
      return {6, 0};
    case 24:
      return {0, 2};
    default:
      return kUnknown;
  }
}

Layout requestLayout(int fc) {
  switch (fc) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
      return {4, 0};
    case 7:
    case 11:
    case 12:
    case 17:
      return {0, 0};
    case 15:
    case 16:
      return {4, 1};
    case 20:
    case 21:
      return {0, 1};
    case 22:
      return {6, 0};
    case 23:
      return {8, 1};
    case 24:
      return {2, 0};
    default:
      return kUnknown;
  }
}

// The largest count a reply or request may carry: what a one-byte count field can say. A
// two-byte count (FIFO queue) is held to the same limit, so the data never outgrow the
// buffers the callers are told to provide.
const int kMaxCount = 255;

int hexDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

const char kHex[] = "0123456789ABCDEF";

}  // namespace

unsigned short otModbus::crc16(const unsigned char* data, int len) {
  unsigned char hi = 0xFF, lo = 0xFF;
  for (int i = 0; i < len; i++) {
    unsigned idx = lo ^ data[i];
    lo = (unsigned char)(hi ^ crcTables.lo[idx]);
    hi = crcTables.hi[idx];
  }
  return (unsigned short)((hi << 8) | lo);
}

otModbus::otModbus(long buffer_size, int mode_, char end_delimiter)
    : autoreconnect_socket(1),
      socket(nullptr),
      serial(nullptr),
      maxtel(buffer_size < 256 ? 256 : buffer_size),
      mode(mode_),
      delimitor(end_delimiter),
      rxStart(0),
      rxEnd(0),
      rxFd(-1),
      resync(0) {
  tel = new unsigned char[maxtel];
  memset(tel, 0, (size_t)maxtel);
}

otModbus::~otModbus() {
  delete[] tel;
}

int otModbus::registerSocket(otSocket* s) {
  socket = s;
  serial = nullptr;
  rxStart = rxEnd = 0;
  return 0;
}

int otModbus::registerSerial(otSerial* s) {
  serial = s;
  socket = nullptr;
  return 0;
}

int otModbus::data2int(const unsigned char* data) {
  return data[0] * 256 + data[1];
}

int otModbus::int2data(int val, unsigned char* data) {
  data[0] = (unsigned char)(val / 256);
  data[1] = (unsigned char)(val % 256);
  return 0;
}

int otModbus::intsize() {
  return 2;
}

int otModbus::buf2int_rtu(const unsigned char* buf) {
  return buf[0] * 256 + buf[1];
}

int otModbus::int2buf_rtu(int val, unsigned char* buf) {
  return int2data(val, buf);
}

int otModbus::buf2int_ascii(const unsigned char* buf) {
  int val = 0;
  for (int i = 0; i < 4; i++) {
    int d = hexDigit(buf[i]);
    if (d < 0) return val;
    val = val * 16 + d;
  }
  return val;
}

int otModbus::int2buf_ascii(int val, unsigned char* buf) {
  for (int i = 3; i >= 0; i--) {
    buf[i] = (unsigned char)kHex[val & 0xF];
    val >>= 4;
  }
  return 0;
}

int otModbus::insertCRC(int len) {
  if (len < 0 || len + 2 > maxtel) return -1;
  unsigned short crc = crc16(tel, len);
  tel[len] = (unsigned char)(crc & 0xFF);
  tel[len + 1] = (unsigned char)(crc >> 8);
  return 0;
}

int otModbus::CRCerror(int len) {
  if (len <= 1 || len > maxtel) return 1;
  unsigned short crc = crc16(tel, len - 2);
  return (tel[len - 2] == (crc & 0xFF) && tel[len - 1] == (crc >> 8)) ? 0 : 1;
}

int otModbus::insertLRC(int len) {
  if (len < 1 || len + 2 > maxtel) return -1;
  unsigned sum = 0;
  for (int i = 1; i + 1 < len; i += 2) {
    int a = hexDigit(tel[i]), b = hexDigit(tel[i + 1]);
    sum += (unsigned)((a < 0 ? 0 : a) * 16 + (b < 0 ? 0 : b));
  }
  unsigned lrc = (0u - sum) & 0xFFu;
  tel[len] = (unsigned char)kHex[lrc >> 4];
  tel[len + 1] = (unsigned char)kHex[lrc & 0xF];
  return 0;
}

// Checks the ASCII frame text in the first len bytes of the telegram buffer: the bytes behind
// the ':' up to and including the LRC must add up to 0.
int otModbus::LRCerror(int len) {
  if (len < 1 || len > maxtel) return 1;
  const unsigned char* colon = static_cast<const unsigned char*>(memchr(tel, ':', (size_t)len));
  if (colon == nullptr) return 1;
  unsigned sum = 0;
  const unsigned char* end = tel + len;
  for (const unsigned char* p = colon + 1; p + 1 < end; p += 2) {
    int a = hexDigit(p[0]), b = hexDigit(p[1]);
    if (a < 0 || b < 0) break;
    sum += (unsigned)(a * 16 + b);
  }
  return (sum & 0xFF) == 0 ? 0 : 1;
}

// Drops what a telegram that was cut short left behind, so that the next reply is not read
// out of step with its request.
void otModbus::resynchronise() {
  resync = 0;
  rxStart = rxEnd = 0;
  if (socket != nullptr && socket->s != -1) {
    unsigned char junk[512];
    while (::recv(socket->s, junk, sizeof(junk), MSG_DONTWAIT) > 0) {
    }
  } else if (serial != nullptr) {
    for (int i = 0; i < 4096 && serial->select(1) == 1; i++)
      if (serial->readChar() < 0) break;
  }
}

int otModbus::write(int slave, int function, const unsigned char* data, int len, int* transaction) {
  if (slave < 0 || slave > 255 || function < 0 || function > 255 || len < 0) return -1;
  if (len > 0 && data == nullptr) return -1;
  if (resync) resynchronise();
  if (socket != nullptr) {
    // ASCII framing is for serial lines only; the receiving side could not read it either.
    if (mode != MODBUS_RTU) return -1;
    if (8 + len + 2 > maxtel) return -1;
    int id = transaction != nullptr ? *transaction : 0;
    tel[0] = (unsigned char)((id >> 8) & 0xFF);
    tel[1] = (unsigned char)(id & 0xFF);
    tel[2] = 0;
    tel[3] = 0;
    // The length field is 16 bits; a one-byte field would announce a wrong length for long
    // telegrams.
    tel[4] = (unsigned char)(((len + 2) >> 8) & 0xFF);
    tel[5] = (unsigned char)((len + 2) & 0xFF);
    tel[6] = (unsigned char)slave;
    tel[7] = (unsigned char)function;
    if (len > 0) memcpy(tel + 8, data, (size_t)len);
    if (!socket->isConnected() && autoreconnect_socket) socket->connect();
    if (!socket->isConnected()) return -1;
    if (socket->s != rxFd) {
      rxFd = socket->s;
      rxStart = rxEnd = 0;
    }
    return socket->write(tel, 8 + len) < 0 ? -1 : 0;
  }
  if (serial == nullptr) return -1;
  if (mode == MODBUS_ASCII) {
    // ':' and two hex digits per byte, then the LRC, CR and LF.
    if (5 + 2 * (long)len + 4 > maxtel) return -1;
    int n = 0;
    tel[n++] = ':';
    unsigned char head[2] = {(unsigned char)slave, (unsigned char)function};
    for (int i = 0; i < 2 + len; i++) {
      unsigned char b = i < 2 ? head[i] : data[i - 2];
      tel[n++] = (unsigned char)kHex[b >> 4];
      tel[n++] = (unsigned char)kHex[b & 0xF];
    }
    insertLRC(n);
    n += 2;
    tel[n++] = '\r';
    if (delimitor == '\n') tel[n++] = '\n';
    return serial->writeBlock(tel, n) >= 0 ? 0 : -1;
  }
  if (2 + len + 2 > maxtel) return -1;
  tel[0] = (unsigned char)slave;
  tel[1] = (unsigned char)function;
  if (len > 0) memcpy(tel + 2, data, (size_t)len);
  insertCRC(2 + len);
  return serial->writeBlock(tel, 2 + len + 2) >= 0 ? 0 : -1;
}

int otModbus::request(int slave, int function, int start_adr, int num_register) {
  unsigned char data[4];
  data[0] = (unsigned char)(start_adr / 256);
  data[1] = (unsigned char)(start_adr % 256);
  data[2] = (unsigned char)(num_register / 256);
  data[3] = (unsigned char)(num_register % 256);
  return write(slave, function, data, 4, nullptr);
}

int otModbus::response(int* slave, int* function, unsigned char* data, int timeout) {
  return receive(REPLY, slave, function, data, timeout, nullptr);
}

int otModbus::readRequest(int* slave, int* function, unsigned char* data, int timeout,
                          int* transaction) {
  return receive(REQUEST, slave, function, data, timeout, transaction);
}

int otModbus::receive(Side side, int* slave, int* function, unsigned char* data, int timeout,
                      int* transaction) {
  int dummySlave, dummyFunction;
  if (slave == nullptr) slave = &dummySlave;
  if (function == nullptr) function = &dummyFunction;
  if (data == nullptr) return -1;
  // On a socket, what is pending after a telegram that was cut short is its rest. On a serial
  // line the rest was drained when it happened, and what is pending now is a new telegram.
  if (resync && socket != nullptr) resynchronise();
  if (socket != nullptr) {
    if (mode == MODBUS_ASCII) return 0;
    return receiveTcp(side, slave, function, data, timeout, transaction);
  }
  if (serial == nullptr) return -1;
  if (mode == MODBUS_ASCII) return receiveAscii(side, slave, function, data, timeout);
  return receiveRtu(side, slave, function, data, timeout);
}

// Takes n bytes from the socket (or drops them when dst is null). One poll and one receive
// usually bring the whole telegram; what comes behind it stays buffered for the next call.
int otModbus::tcpRead(unsigned char* dst, int n, long long deadline) {
  if (socket->s != rxFd) {
    rxFd = socket->s;
    rxStart = rxEnd = 0;
  }
  if (n > (int)sizeof(rx)) return -1;
  while (rxEnd - rxStart < n) {
    if (socket->s == -1) return -1;
    if (rxStart > 0) {
      memmove(rx, rx + rxStart, (size_t)(rxEnd - rxStart));
      rxEnd -= rxStart;
      rxStart = 0;
    }
    ssize_t got = socket->recvUntil(rx + rxEnd, sizeof(rx) - (size_t)rxEnd, deadline);
    if (got == -2) return -1;
    if (got <= 0) {
      socket->disconnect();
      rxStart = rxEnd = 0;
      rxFd = -1;
      return -1;
    }
    rxEnd += (int)got;
  }
  if (dst != nullptr) memcpy(dst, rx + rxStart, (size_t)n);
  rxStart += n;
  return n;
}

// Reads and drops what follows on the line until it has been quiet for a few character times:
// the rest of a telegram that could not be used. The next telegram then starts in step.
void otModbus::drainSerial() {
  for (int i = 0; i < 4096 && serial->select(20) == 1; i++)
    if (serial->readChar() < 0) break;
}

int otModbus::serialRead(unsigned char* dst, int n, int timeout) {
  if (n <= 0) return 0;
  if (serial->select(timeout) != 1) return -1;
  int got = serial->readBlock(dst, n, timeout);
  return got == n ? n : -1;
}

int otModbus::receiveTcp(Side side, int* slave, int* function, unsigned char* data, int timeout,
                         int* transaction) {
  if (!socket->isConnected()) return -1;
  const long long deadline = timeout > 0 ? otDeadlineIn(timeout) : OT_NO_DEADLINE;
  // The longest length field we take: unit id, function code, the largest fixed part (9 with
  // its count field) and the largest count. Anything longer cannot be skipped safely, since
  // the peer may not speak Modbus at all.
  const int maxLength = 2 + 9 + kMaxCount;
  // MBAP header: transaction id (2 bytes), protocol id (2, 0 for Modbus), length (2: the
  // bytes behind it, unit id and PDU). Frames that carry no Modbus PDU are skipped whole.
  unsigned char mbap[6];
  int length;
  for (;;) {
    bool idle = rxEnd == rxStart;
    if (tcpRead(mbap, 6, deadline) < 0) {
      // A slave that heard nothing is still in step; a master that heard nothing may yet get
      // the late reply, which must not pass for the answer to its next request.
      if (side == REPLY || !(idle && rxEnd == rxStart)) resync = 1;
      return -1;
    }
    length = mbap[4] * 256 + mbap[5];
    bool modbus = mbap[2] == 0 && mbap[3] == 0;
    if (modbus && length >= 2) break;
    if (length > maxLength || (length > 0 && tcpRead(nullptr, length, deadline) < 0)) {
      resync = 1;
      return -1;
    }
    // Another protocol's frame is no answer to our request. A request of another protocol is
    // dropped like libmodbus does as a slave, and the connection goes on: the peer gets no
    // reply to it, and its Modbus requests are still served.
    if (!modbus && side == REPLY) return -1;
  }
  unsigned char unit[2];
  if (tcpRead(unit, 2, deadline) < 0) {
    resync = 1;
    return -1;
  }
  if (side == REQUEST && transaction != nullptr) *transaction = mbap[0] * 256 + mbap[1];
  *slave = unit[0];
  *function = unit[1];
  if (length > maxLength) {
    resync = 1;
    return -1;
  }
  int rest = length - 2;
  unsigned char* body = tel;
  if (rest > maxtel || tcpRead(body, rest, deadline) < 0) {
    resync = 1;
    return -1;
  }
  // From here on the telegram has been read whole and the stream is in step, whatever it says.
  Layout l = side == REPLY ? replyLayout(unit[1]) : requestLayout(unit[1]);
  if (l.fixed < 0) return -1;
  // A request the header frames but whose body is too short or too long for its function code
  // and counts is answered (exception 3), as the Modbus application protocol asks.
  const int mismatch = side == REQUEST ? MODBUS_LENGTH_MISMATCH : -1;
  int pre = l.fixed + l.countBytes;
  if (pre > rest) return mismatch;
  int count = 0;
  if (l.countBytes == 1) count = body[l.fixed];
  if (l.countBytes == 2) count = body[l.fixed] * 256 + body[l.fixed + 1];
  if (count > kMaxCount) return -1;
  if (pre + count != rest) return mismatch;
  memcpy(data, body, (size_t)l.fixed);
  memcpy(data + l.fixed, body + pre, (size_t)count);
  return l.fixed + count;
}

int otModbus::receiveRtu(Side side, int* slave, int* function, unsigned char* data, int timeout) {
  if (serialRead(tel, 2, timeout) < 0) {
    if (side == REPLY) resync = 1;
    return -1;
  }
  *slave = tel[0];
  *function = tel[1];
  Layout l = side == REPLY ? replyLayout(tel[1]) : requestLayout(tel[1]);
  if (l.fixed < 0) {
    // A function code without a known layout ends where the line falls quiet. Its CRC tells a
    // damaged telegram (-2) from a sound one this side does not serve (-1), which a slave
    // answers with an exception.
    int len = 2;
    while (len < maxtel && serial->select(20) == 1) {
      int c = serial->readChar();
      if (c < 0) break;
      tel[len++] = (unsigned char)c;
    }
    if (len == maxtel) drainSerial();
    return len >= 4 && !CRCerror(len) ? -1 : -2;
  }
  int pre = l.fixed + l.countBytes;
  int count = 0;
  if (l.countBytes > 0) {
    if (serialRead(tel + 2, pre, timeout) < 0) {
      drainSerial();
      return -1;
    }
    count = l.countBytes == 1 ? tel[2 + l.fixed] : tel[2 + l.fixed] * 256 + tel[3 + l.fixed];
    if (count > kMaxCount || 2 + pre + count + 2 > maxtel) {
      drainSerial();
      return -1;
    }
    if (serialRead(tel + 2 + pre, count + 2, timeout) < 0) {
      drainSerial();
      return -1;
    }
  } else if (serialRead(tel + 2, pre + 2, timeout) < 0) {
    drainSerial();
    return -1;
  }
  int total = 2 + pre + count + 2;
  memcpy(data, tel + 2, (size_t)l.fixed);
  memcpy(data + l.fixed, tel + 2 + pre, (size_t)count);
  // The caller of response() also gets the CRC behind the data.
  if (side == REPLY) memcpy(data + l.fixed + count, tel + total - 2, 2);
  if (CRCerror(total)) {
    drainSerial();
    return -2;
  }
  return l.fixed + count;
}

int otModbus::receiveAscii(Side side, int* slave, int* function, unsigned char* data, int timeout) {
  int n = 0;
  for (;;) {
    if (serial->select(timeout) != 1) {
      if (n > 0 || side == REPLY) resync = 1;
      return -1;
    }
    int c = serial->readChar();
    if (c < 0) {
      if (n > 0) resync = 1;
      return -1;
    }
    if (c == '\n') break;
    if (c == '\r' && delimitor != '\n') break;
    tel[n++] = (unsigned char)c;
    if (n >= maxtel - 1) break;
  }
  while (n > 0 && tel[n - 1] == '\r')
    n--;
  tel[n] = '\0';
  unsigned char* colon = static_cast<unsigned char*>(memchr(tel, ':', (size_t)n));
  if (colon == nullptr) return -1;
  int start = (int)(colon - tel) + 1;
  int digits = n - start;
  if (digits % 2 != 0 || digits < 6) return -1;
  int nbytes = digits / 2;
  // Decoded bytes are written over the hex text they come from, which is always ahead.
  unsigned char* bytes = tel + start;
  for (int i = 0; i < nbytes; i++) {
    int a = hexDigit(tel[start + 2 * i]), b = hexDigit(tel[start + 2 * i + 1]);
    if (a < 0 || b < 0) return -1;
    bytes[i] = (unsigned char)(a * 16 + b);
  }
  *slave = bytes[0];
  *function = bytes[1];
  if (bytes[1] > 24) return -1;
  Layout l = side == REPLY ? replyLayout(bytes[1]) : requestLayout(bytes[1]);
  if (l.fixed < 0) return -1;
  int avail = nbytes - 3;  // without address, function code and LRC
  int pre = l.fixed + l.countBytes;
  if (pre > avail) return -1;
  int count = 0;
  if (l.countBytes == 1) count = bytes[2 + l.fixed];
  if (l.countBytes == 2) count = bytes[2 + l.fixed] * 256 + bytes[3 + l.fixed];
  if (count > kMaxCount || pre + count != avail) return -1;
  memcpy(data, bytes + 2, (size_t)l.fixed);
  memcpy(data + l.fixed, bytes + 2 + pre, (size_t)count);
  unsigned sum = 0;
  for (int i = 0; i < nbytes; i++)
    sum += bytes[i];
  if ((sum & 0xFF) != 0) return -2;
  return l.fixed + count;
}

// One master transaction. A reply counts only if it comes from the slave asked, for the
// function asked, and (expect >= 0) carries exactly the expected number of data bytes; with
// echo set, its first four bytes must repeat the request's (address and value or count).
int otModbus::transaction(int slave, int function, const unsigned char* request, int len,
                          unsigned char* reply, int timeout, int expect, bool echo) {
  if (write(slave, function, request, len, nullptr) < 0) return -1;
  int rslave = -1, rfunction = -1;
  int ret = response(&rslave, &rfunction, reply, timeout);
  bool wrong =
      ret >= 0 && ((expect >= 0 && ret != expect) || (echo && memcmp(reply, request, 4) != 0));
  if (ret < 0 || rslave != slave || rfunction != function || wrong) {
    otLog(OT_LOG_ERROR,
          "otMOdbus::ERROR response ret=%d slave=%d ret_slave=%d function=%d "
          "ret_function=%d timeout=%d\n",
          ret, slave, rslave, function, rfunction, timeout);
    return -1;
  }
  return ret;
}

namespace {

void put16(unsigned char* p, int v) {
  p[0] = (unsigned char)(v / 256);
  p[1] = (unsigned char)(v % 256);
}

}  // namespace

int otModbus::readCoilStatus(int slave, int start_adr, int number, unsigned char* values,
                             int timeout) {
  unsigned char req[4], reply[MAX_RESPONSE_DATA + 8];
  put16(req, start_adr);
  put16(req + 2, number);
  int ret = transaction(slave, 1, req, 4, reply, timeout, (number + 7) / 8, false);
  if (ret < 0) return -1;
  // Never more bytes than the number of coils asked for can fill.
  int want = (number + 7) / 8;
  memcpy(values, reply, (size_t)(ret < want ? ret : want));
  return ret;
}

int otModbus::readInputStatus(int slave, int start_adr, int number, unsigned char* values,
                              int timeout) {
  unsigned char req[4], reply[MAX_RESPONSE_DATA + 8];
  put16(req, start_adr);
  put16(req + 2, number);
  int ret = transaction(slave, 2, req, 4, reply, timeout, (number + 7) / 8, false);
  if (ret < 0) return -1;
  int want = (number + 7) / 8;
  memcpy(values, reply, (size_t)(ret < want ? ret : want));
  return ret;
}

namespace {

int registersFromReply(const unsigned char* reply, int ret, int number, int* values) {
  int n = (ret + 1) / 2;
  if (n > number) n = number;  // never more than the caller asked for and made room for
  for (int i = 0; i < n; i++)
    values[i] = reply[2 * i] * 256 + reply[2 * i + 1];
  return ret;
}

}  // namespace

int otModbus::readHoldingRegisters(int slave, int start_adr, int number, int* values, int timeout) {
  unsigned char req[4], reply[MAX_RESPONSE_DATA + 8] = {};
  put16(req, start_adr);
  put16(req + 2, number);
  int ret = transaction(slave, 3, req, 4, reply, timeout, 2 * number, false);
  if (ret < 0) return -1;
  return registersFromReply(reply, ret, number, values);
}

int otModbus::readInputRegisters(int slave, int start_adr, int number, int* values, int timeout) {
  unsigned char req[4], reply[MAX_RESPONSE_DATA + 8] = {};
  put16(req, start_adr);
  put16(req + 2, number);
  int ret = transaction(slave, 4, req, 4, reply, timeout, 2 * number, false);
  if (ret < 0) return -1;
  return registersFromReply(reply, ret, number, values);
}

int otModbus::forceSingleCoil(int slave, int adr, int value, int timeout) {
  unsigned char req[4], reply[MAX_RESPONSE_DATA + 8];
  put16(req, adr);
  req[2] = value ? 0xFF : 0x00;
  req[3] = 0x00;
  return transaction(slave, 5, req, 4, reply, timeout, 4, true);
}

int otModbus::presetSingleRegister(int slave, int adr, int value, int timeout) {
  unsigned char req[4], reply[MAX_RESPONSE_DATA + 8];
  put16(req, adr);
  put16(req + 2, value);
  return transaction(slave, 6, req, 4, reply, timeout, 4, true);
}

int otModbus::forceMultipleCoils(int slave, int adr, int number, unsigned char* values,
                                 int timeout) {
  int bytes = (number + 7) / 8;
  // The byte count is one byte on the wire; more coils cannot be encoded.
  if (number < 1 || bytes > 255 || values == nullptr) return -1;
  unsigned char req[5 + 255], reply[MAX_RESPONSE_DATA + 8];
  put16(req, adr);
  put16(req + 2, number);
  req[4] = (unsigned char)bytes;
  memcpy(req + 5, values, (size_t)bytes);
  return transaction(slave, 15, req, 5 + bytes, reply, timeout, 4, true);
}

int otModbus::presetMultipleRegisters(int slave, int start_adr, int number, int* values,
                                      int timeout) {
  if (number < 1 || 2 * number > 255 || values == nullptr) return -1;
  unsigned char req[5 + 255], reply[MAX_RESPONSE_DATA + 8];
  put16(req, start_adr);
  put16(req + 2, number);
  req[4] = (unsigned char)(2 * number);
  for (int i = 0; i < number; i++)
    put16(req + 5 + 2 * i, values[i]);
  return transaction(slave, 16, req, 5 + 2 * number, reply, timeout, 4, true);
}
