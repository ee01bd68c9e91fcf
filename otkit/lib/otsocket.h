// otSocket: one TCP endpoint over IPv4 or IPv6, either a client (active 1: connects to adr and
// port) or a server (active 0: listens on port and accepts one peer per connect() call).
// Reads with millisecond time limits (0 = no limit), whole-buffer writes, line reads,
// formatted writes and HTTP header readers. Writes never raise SIGPIPE.
#ifndef OTSOCKET_H
#define OTSOCKET_H

#include <sys/types.h>

#include <atomic>

#include "otcutil.h"
#include "otpoll.h"
#include "otstring.h"
#include "otwthread.h"

// Socket-layer start-up; nothing to do on this platform. Returns 0.
int otwsa();
// Sends all len bytes on *socket; on failure closes it, stores -1 and returns -1.
// -1 also for a null pointer or a closed descriptor; else len.
int otScoketWrite(int* socket, const void* buf, int len);

class otSocket {
 public:
  otSocket(const char* adr, int port, int active);
  // Wraps a connected socket, typically one accepted by a server object.
  explicit otSocket(int socket);
  virtual ~otSocket();
  otSocket(const otSocket&) = delete;
  otSocket& operator=(const otSocket&) = delete;

  int setAdr(const char* adr);
  int setPort(int port);
  int getPort();
  int setActive(int active);

  // Client: connects and returns the socket. Server: sets up the listening socket on the first
  // call (retrying the bind every second while the port is taken), then blocks until one peer
  // is accepted and returns its socket, also kept in s.
  // Errors: -1 socket, resolver or IP version failure; -3 listen failed; -4 no listening
  // socket, accept failed or the server was stopped; -5 host cannot be resolved (IPv4 client);
  // -6 connect failed (IPv4 client); -7 port outside 1..65535.
  int connect();
  // Makes a server's connect() return -4 at once, also when it is blocked in accept or in the
  // bind retry loop, now and for every later call. Safe from any thread and from a signal
  // handler.
  int stopServer();
  // Closes the data socket; a server's listening socket stays open. Returns 0.
  int disconnect();
  int isConnected();
  // 1 at once for timeout 0; else 1 when s is readable (or in error) within timeout ms, 0 if not.
  int select(int timeout);
  // Exactly len bytes, or 0 when a wait of timeout ms expires first (partial data is dropped),
  // or -1 when the peer closed or an error occurred (the socket is then closed).
  int read(void* buf, int len, int timeout = 0);
  // One line: stops after a line feed or len-1 bytes; the rest stays queued for the next call.
  // Returns the bytes stored (line feed included) and terminates buf; 0 when nothing arrived in
  // timeout ms; -1 when the peer closed or an error occurred (the socket is then closed).
  int readStr(char* buf, int len, int timeout = 0);
  // One blocking recv of up to len bytes into buf that gives up after timeout ms (negative: no
  // limit, 0: only what is there): one system call where a poll and a recv take two. The limit
  // is the socket's receive time-out, set again only when it changes by more than a
  // millisecond. Returns recv's result (0 when the peer closed, -1 on an error), or -2 when the
  // time ran out. The socket stays open either way.
  ssize_t recvWithin(void* buf, size_t len, int timeout);
  // An answer's bytes up to deadline (a point of otMonotonicMs(), OT_NO_DEADLINE: no limit):
  // while this peer's answers came within microseconds of late, a spin of up to 50 µs
  // (otSpinWait) looks for them first, else recvWithin waits. Returns as recvWithin does, -2
  // once the deadline has passed.
  ssize_t recvUntil(void* buf, size_t len, long long deadline);
  // Sends all len bytes: len, 0 for len <= 0, -1 on error (the socket is then closed).
  int write(const void* buf, int len);
  // Sends the formatted text (at most 4095 characters) without its NUL.
  int printf(const char* format, ...) OT_PRINTF_FORMAT(2, 3);
  // Reads header lines into header up to the empty line; returns the Content-Length (0 if
  // none), or -1 when a line cannot be read (closed, error or time limit).
  int readHttpHeader(otString* header, int timeout);
  // Skips lines up to "Content-Length:", reads the line after it; returns the length or -1.
  int readHttpContentLength(int timeout);
  // The line a display client sends when button id is pressed.
  int sendHxClientButtonEvent(int id);
  // 6 selects IPv6, anything else IPv4; returns the version set.
  int setIPVersion(int version);
  int getIPVersion();
  int otGetsockopt(int sockfd, int level, int option, void* value, int* length);
  int otSetsockopt(int sockfd, int level, int option, const void* value, int length);
  // Reads an int option of s; returns the platform result, not the value.
  int otGetsockopt(int level, int option);
  // Sets an int option of s to 1; returns the platform result.
  int otSetsockopt(int level, int option);

  int s;                      // connected data socket, -1 when not connected
  unsigned char address[64];  // peer address of the last accept
  char adr[132];              // host to connect to or listen on
  int port;
  int active;        // 1 client, 0 server
  int os;            // listening socket of a server, -1 until created
  int first;         // 1 until the listening socket is set up
  int ot_ipversion;  // 4 or 6

 private:
  int listenSetup();
  int listen4();
  int listen6();
  int connect4();
  int connect6();
  // Waits up to ms for the stop signal; 1 when stopped.
  int waitStop(int ms);
  int wakeFd();

  // The receive time-out set on the data socket by recvWithin, and for which descriptor (-1:
  // none set since the last connect or disconnect).
  int receiveTimeoutFd = -1;
  int receiveTimeoutMs = 0;
  otSpinWait replySpin;  // how fast the peer answers: readStr and recvUntil

  std::atomic<int> stopping;
  std::atomic<int> wakefd;  // eventfd that wakes a server blocked in accept or bind retry
};

#endif
