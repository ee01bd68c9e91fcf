#include "otudpsocket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "otlog.h"

otIpAdr::otIpAdr() {
  memset(&address, 0, sizeof(address));
}

otIpAdr::~otIpAdr() {}

int otIpAdr::setAdr(const char* host, int port) {
  if ((unsigned)port > 65535u) return -1;
  struct in_addr in;
  struct addrinfo hints;
  memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  struct addrinfo* res = nullptr;
  if (host != nullptr && getaddrinfo(host, nullptr, &hints, &res) == 0 && res != nullptr) {
    in = reinterpret_cast<struct sockaddr_in*>(res->ai_addr)->sin_addr;
    freeaddrinfo(res);
  } else if (host == nullptr || inet_aton(host, &in) == 0) {
    otLog(OT_LOG_ERROR, "otIpAdr::setAdr() could not gethostbyname(%s)\n", host ? host : "(null)");
    return -1;
  }
  address.sin_family = AF_INET;
  address.sin_port = htons((uint16_t)port);
  address.sin_addr = in;
  return 0;
}

int otIpAdr::operator==(const otIpAdr& other) const {
  return address.sin_family == other.address.sin_family &&
                 address.sin_addr.s_addr == other.address.sin_addr.s_addr
             ? 1
             : 0;
}

otUdpSocket::otUdpSocket(int debug_) : debug(debug_), readflag(0), writeflag(0) {
  otLogDebug(debug, "otUdpSocket() constructor\n");
  memset(&local, 0, sizeof(local));
  s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    s = -1;
    otLog(OT_LOG_ERROR, "otUdpSocket::otUdpSocket could not get socket\n");
  }
}

otUdpSocket::~otUdpSocket() {
  if (s >= 0) ::close(s);
}

int otUdpSocket::setSockopt(int option) {
  if (s == -1) return -1;
  int on = 1;
  return setsockopt(s, SOL_SOCKET, option, &on, sizeof(on));
}

int otUdpSocket::setSockopt(int level, int option, void* value, int length) {
  if (s == -1 || length <= 0) return -1;
  return setsockopt(s, level, option, value, (socklen_t)length);
}

int otUdpSocket::bind(int port) {
  if (port < 0 || port > 65535) return -1;
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons((uint16_t)port);
  if (s == -1 || ::bind(s, reinterpret_cast<struct sockaddr*>(&local), sizeof(local)) < 0) {
    otLog(OT_LOG_ERROR, "otUdpSocket::setAdr() bind() failed port=%d\n", port);
    return -1;
  }
  return 0;
}

int otUdpSocket::select(int timeout) {
  if (timeout < 0) return -1;
  struct pollfd p = {s, POLLIN, 0};
  int ret;
  do {
    ret = ::poll(&p, 1, timeout);
  } while (ret < 0 && errno == EINTR);
  return ret > 0 && (p.revents & POLLIN) ? 1 : 0;
}

int otUdpSocket::recvfrom(void* buf, int maxlen, otIpAdr* source, int timeout) {
  if (timeout >= 0 && select(timeout) != 1) return -1;
  otLogDebug(debug, "otUdpSocket()::recvfrom() ...\n");
  struct sockaddr_in from;
  socklen_t fromlen = sizeof(from);
  ssize_t ret;
  do {
    ret = ::recvfrom(s, buf, maxlen > 0 ? (size_t)maxlen : 0, readflag,
                     reinterpret_cast<struct sockaddr*>(&from), &fromlen);
  } while (ret < 0 && errno == EINTR);
  if (ret < 0) {
    otLog(OT_LOG_ERROR, "ERROR: otUdpSocket::read()\n");
    return -2;
  }
  if (source != nullptr) source->address = from;
  // A datagram larger than maxlen was cut to maxlen bytes; the trace shows what was kept.
  if (ret > maxlen) ret = maxlen;
  if (debug) trace("recvfrom", (int)ret, buf);
  return (int)ret;
}

int otUdpSocket::sendto(const void* buf, int len, otIpAdr* destination) {
  if (destination == nullptr || len < 0) return -1;
  ssize_t ret = ::sendto(s, buf, (size_t)len, writeflag | MSG_NOSIGNAL,
                         reinterpret_cast<struct sockaddr*>(&destination->address),
                         sizeof(destination->address));
  if (ret < 0) otLog(OT_LOG_ERROR, "ERROR: otUdpSocket::sendto()\n");
  if (debug) trace("sendto", (int)ret, buf);
  return (int)ret;
}

int otUdpSocket::printf(otIpAdr* destination, const char* format, ...) {
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 0) return t.result;
  return sendto(t.text, t.length + 1, destination);
}

void otUdpSocket::trace(const char* what, int ret, const void* data) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  std::string bytes;
  char one[8];
  for (int i = 1; i < ret; i++) {
    snprintf(one, sizeof one, ",0x%x", p[i]);
    bytes += one;
  }
  otLogDebug(1, "otUdpSocket()::%s() ret=%d data=[0x%x%s]\n", what, ret, ret > 0 ? p[0] : 0,
             bytes.c_str());
}
