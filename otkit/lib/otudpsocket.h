// otUdpSocket and otIpAdr: IPv4 datagrams, with an optional hexadecimal trace of each one.
#ifndef OTUDPSOCKET_H
#define OTUDPSOCKET_H

#include <netinet/in.h>

#include "otcutil.h"

class otIpAdr {
 public:
  otIpAdr();
  virtual ~otIpAdr();

  // Resolves host by name, else as a dotted address. -1 for a port outside 0..65535 or a host
  // that does not resolve; else 0.
  int setAdr(const char* host, int port);
  // Family and address equal; the port is not compared.
  int operator==(const otIpAdr& other) const;

  struct sockaddr_in address;
};

class otUdpSocket {
 public:
  explicit otUdpSocket(int debug = 0);
  virtual ~otUdpSocket();
  otUdpSocket(const otUdpSocket&) = delete;
  otUdpSocket& operator=(const otUdpSocket&) = delete;

  // Sets a socket-level int option to 1 (for example SO_BROADCAST).
  int setSockopt(int option);
  int setSockopt(int level, int option, void* value, int length);
  // Binds to any local address; -1 for a port outside 0..65535 or a failed bind.
  int bind(int port);
  // -1 for a negative timeout; 1 if a datagram is waiting within timeout ms, else 0.
  int select(int timeout);
  // Receives one datagram and its sender. A timeout >= 0 waits at most that long (-1 when
  // nothing came); a negative one blocks. -2 on a receive error; else the length.
  int recvfrom(void* buf, int maxlen, otIpAdr* source, int timeout = -1);
  // Sends one datagram; returns the platform result.
  int sendto(const void* buf, int len, otIpAdr* destination);
  // Sends the formatted text (at most 4095 characters) with its terminating NUL.
  int printf(otIpAdr* destination, const char* format, ...) OT_PRINTF_FORMAT(3, 4);

  int debug;
  int readflag;
  int writeflag;
  int s;

 private:
  void trace(const char* what, int ret, const void* data);
  struct sockaddr_in local;
};

#endif
