// A communication plug-in for the connection layer tests. It carries a connection as a
// "tunnel": after the greeting line "tunnel\n" every message travels as "[n]" and n bytes.
// Built twice: with every entry point, and with TUNNEL_NO_SWITCH without hxc_com_plugin_on.
// The tunnel_* functions let a test steer the plug-in and see what it was asked to do.
#include <errno.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "otsendall.h"
#include "otsocket.h"

namespace {

int declineConnections = 0;  // 1: hxc_com_con leaves the connection to plain TCP
int keepOnClose = 0;         // 1: hxc_com_close keeps the socket and says it closed it
int closeCalls = 0;
int lastCloseSlot = -1;
int switchSlot = -1;
std::string switchLine;
int* lastTable = nullptr;
std::vector<int> kept;

int readAll(int fd, char* buf, int len) {
  int got = 0;
  while (got < len) {
    ssize_t n = recv(fd, buf + got, (size_t)(len - got), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    got += (int)n;
  }
  return got;
}

// The length of the next message, -1 on a closed connection or a malformed header.
int readHeader(int fd) {
  char c;
  if (readAll(fd, &c, 1) != 1 || c != '[') return -1;
  long n = 0;
  for (int digits = 0; digits < 9; digits++) {
    if (readAll(fd, &c, 1) != 1) return -1;
    if (c == ']') return digits > 0 ? (int)n : -1;
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return -1;
}

}  // namespace

extern "C" {

int hxc_com_con(const char* host, int port, int* use_plugin) {
  if (declineConnections) return 0;
  otSocket sock(host, port, 1);
  sock.setIPVersion(6);  // any address family
  int fd = sock.connect();
  sock.s = -1;  // the connection layer keeps the socket from here on
  if (fd < 0 || otSendAll(fd, "tunnel\n", 7) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  *use_plugin = 1;
  return fd;
}

int hxc_com_rec(int slot, int sock, char* line, int size, int* table) {
  (void)slot;
  lastTable = table;
  int n = readHeader(sock);
  if (n < 0 || n > size - 1 || readAll(sock, line, n) != n) {
    close(sock);
    return -1;
  }
  line[n] = '\0';
  return n;
}

int hxc_com_rec_binary(int slot, int sock, char* buf, int len, int* table) {
  (void)slot;
  lastTable = table;
  if (readHeader(sock) != len || readAll(sock, buf, len) != len) {
    close(sock);
    return -1;
  }
  return len;
}

int hxc_com_send(int slot, int sock, const char* data, int len, int* table) {
  (void)slot;
  lastTable = table;
  char header[16];
  int h = snprintf(header, sizeof(header), "[%d]", len);
  if (otSendAll(sock, header, h) != 0 || otSendAll(sock, data, len) != 0) return -1;
  return len;
}

int hxc_com_close(int slot, int sock, int* table) {
  lastTable = table;
  closeCalls++;
  lastCloseSlot = slot;
  if (!keepOnClose) return 0;
  kept.push_back(sock);
  return 1;
}

#ifndef TUNNEL_NO_SWITCH
int hxc_com_plugin_on(int slot, const char* line) {
  switchSlot = slot;
  switchLine = line;
  return 0;
}
#endif

// Steering and inspection for the tests.
void tunnel_reset(int decline, int keep) {
  declineConnections = decline;
  keepOnClose = keep;
  closeCalls = 0;
  lastCloseSlot = -1;
  switchSlot = -1;
  switchLine.clear();
  lastTable = nullptr;
}

int tunnel_close_calls() {
  return closeCalls;
}

int tunnel_last_close_slot() {
  return lastCloseSlot;
}

int tunnel_switch_slot() {
  return switchSlot;
}

const char* tunnel_switch_line() {
  return switchLine.c_str();
}

// The plug-in flag of slot in the table that the connection layer last handed over.
int tunnel_use_flag(int slot) {
  return lastTable != nullptr ? lastTable[slot] : -1;
}

// The sockets that hxc_com_close kept: the last one, or -1.
int tunnel_kept_socket() {
  return kept.empty() ? -1 : kept.back();
}

// Closes the kept sockets; returns how many.
int tunnel_release() {
  int n = (int)kept.size();
  for (int fd : kept)
    close(fd);
  kept.clear();
  return n;
}

}  // extern "C"
