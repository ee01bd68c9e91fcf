// A plain S7 client for tests and benchmarks: hand-built frames of S7 over ISO-on-TCP
// (RFC 1006 TPKT + ISO 8073 COTP) and blocking socket helpers. Independent of otkit, so it can
// check otkit's own client against a real peer.
#ifndef OTKIT_TESTS_S7FRAMES_H
#define OTKIT_TESTS_S7FRAMES_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace s7frames {

// Area codes of a read/write variable item.
enum Area : uint8_t {
  kInputs = 0x81,   // PE
  kOutputs = 0x82,  // PA
  kMarkers = 0x83,  // MK
  kDB = 0x84,
  kCounters = 0x1C,
  kTimers = 0x1D,
};

// Transport sizes of a request item (the reply uses its own, 0x04 for bytes).
enum TransportSize : uint8_t {
  kBit = 0x01,
  kByte = 0x02,
  kWord = 0x04,
  kCounter = 0x1C,
  kTimer = 0x1D
};

inline std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list)
    s.push_back((char)(uint8_t)b);
  return s;
}

inline void put16(std::string* s, unsigned v) {
  s->push_back((char)(uint8_t)(v >> 8));
  s->push_back((char)(uint8_t)v);
}

inline unsigned get16(const std::string& s, size_t at) {
  return at + 1 < s.size() ? ((unsigned)(uint8_t)s[at] << 8) | (uint8_t)s[at + 1] : 0;
}

inline unsigned byteAt(const std::string& s, size_t at) {
  return at < s.size() ? (uint8_t)s[at] : 0;
}

inline std::string hex(const std::string& s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

// TPKT header (version 3, total length) in front of payload.
inline std::string tpkt(const std::string& payload) {
  std::string s = bytes({3, 0});
  put16(&s, (unsigned)payload.size() + 4);
  return s + payload;
}

// COTP connection request with the TSAPs; an S7-300/400 in rack 0, slot 2 is called 01 02.
inline std::string connectRequest(unsigned callingTsap = 0x0100, unsigned calledTsap = 0x0102) {
  std::string cotp = bytes({0x11, 0xE0, 0x00, 0x00, 0x00, 0x01, 0x00, 0xC1, 0x02});
  put16(&cotp, callingTsap);
  cotp += bytes({0xC2, 0x02});
  put16(&cotp, calledTsap);
  cotp += bytes({0xC0, 0x01, 0x09});  // TPDU size 512
  return tpkt(cotp);
}

// S7 header of a job (ROSCTR 1) in a COTP data TPDU, followed by params and data.
inline std::string job(unsigned pduRef, const std::string& params, const std::string& data = {}) {
  std::string s = bytes({0x02, 0xF0, 0x80, 0x32, 0x01, 0x00, 0x00});
  put16(&s, pduRef);
  put16(&s, (unsigned)params.size());
  put16(&s, (unsigned)data.size());
  return tpkt(s + params + data);
}

// Setup communication job (function 0xF0).
inline std::string setupCommunication(unsigned pduRef = 0xCCC1, unsigned pduLength = 960,
                                      unsigned maxAmqCalling = 1, unsigned maxAmqCalled = 1) {
  std::string p = bytes({0xF0, 0x00});
  put16(&p, maxAmqCalling);
  put16(&p, maxAmqCalled);
  put16(&p, pduLength);
  return job(pduRef, p);
}

// Read-variable job (function 0x04) with one item of count elements at start: a byte offset,
// for kBit the bit address (byte * 8 + bit), for timers and counters their number.
inline std::string readVar(Area area, unsigned db, unsigned start, unsigned count,
                           unsigned pduRef = 0x0100, TransportSize size = kByte) {
  std::string p = bytes({0x04, 0x01, 0x12, 0x0A, 0x10, size});
  put16(&p, count);
  put16(&p, db);
  p.push_back((char)area);
  // Bit address; timers and counters are addressed by number.
  unsigned address = (size == kTimer || size == kCounter || size == kBit) ? start : start * 8;
  p += bytes({(int)((address >> 16) & 0xFF), (int)((address >> 8) & 0xFF), (int)(address & 0xFF)});
  return job(pduRef, p);
}

// Offsets in an ack-data reply (TPKT 4 + COTP 3 + S7 header 12).
constexpr size_t kRosctr = 8;
constexpr size_t kPduRef = 11;
constexpr size_t kErrorClass = 17;  // error class, error code
constexpr size_t kParams = 19;      // function, item count, then the data items

inline long long nowMs() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// A connected TCP socket to 127.0.0.1:port (Nagle off), or -1.
inline int connectTcp(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct sockaddr_in a;
  memset(&a, 0, sizeof(a));
  a.sin_family = AF_INET;
  a.sin_port = htons((uint16_t)port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<struct sockaddr*>(&a), sizeof(a)) != 0) {
    close(fd);
    return -1;
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  return fd;
}

inline bool sendAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += (size_t)n;
  }
  return true;
}

// Reads exactly n bytes into out within the deadline (monotonic ms).
inline bool recvExact(int fd, size_t n, std::string* out, long long deadline) {
  while (n > 0) {
    struct pollfd p = {fd, POLLIN, 0};
    long long left = deadline - nowMs();
    if (left <= 0 || poll(&p, 1, (int)left) <= 0) return false;
    char buf[4096];
    ssize_t got = ::recv(fd, buf, n < sizeof(buf) ? n : sizeof(buf), 0);
    if (got <= 0) return false;
    out->append(buf, (size_t)got);
    n -= (size_t)got;
  }
  return true;
}

// Reads one whole TPKT frame (header included); empty on timeout, close or a bad header.
inline std::string recvFrame(int fd, int timeoutMs = 5000) {
  long long deadline = nowMs() + timeoutMs;
  std::string f;
  if (!recvExact(fd, 4, &f, deadline) || byteAt(f, 0) != 3 || get16(f, 2) < 7) return {};
  if (!recvExact(fd, get16(f, 2) - 4, &f, deadline)) return {};
  return f;
}

// Sends a frame and returns the reply frame (empty on failure).
inline std::string transact(int fd, const std::string& request, int timeoutMs = 5000) {
  return sendAll(fd, request) ? recvFrame(fd, timeoutMs) : std::string();
}

// Connects and runs the connect request and the setup communication (asking for 960 bytes);
// the socket or -1. The PDU size the peer granted goes to *pdu.
inline int openSession(int port, unsigned* pdu = nullptr) {
  int fd = connectTcp(port);
  if (fd < 0) return -1;
  std::string cc = transact(fd, connectRequest());
  std::string ack =
      cc.size() >= 6 && byteAt(cc, 5) == 0xD0 ? transact(fd, setupCommunication()) : std::string();
  if (byteAt(ack, kRosctr) != 0x03 || get16(ack, kErrorClass) != 0) {
    close(fd);
    return -1;
  }
  if (pdu) *pdu = get16(ack, 25);
  return fd;
}

}  // namespace s7frames

#endif
