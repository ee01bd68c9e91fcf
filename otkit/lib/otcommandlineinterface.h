// otCommandlineInterface: one line-oriented text interface over four transports: a spawned
// program ("pipe"), a TCP connection ("server.localhost:PORT", "localhost:PORT", "HOST:PORT"),
// a serial line opened by the caller, or the process's own standard input and output
// ("stdio", also the state before any start). One object is used by one thread at a time.
#ifndef OTCOMMANDLINEINTERFACE_H
#define OTCOMMANDLINEINTERFACE_H

#include "otcutil.h"

class otSocket;
class otSpawn;
class otSerial;

class otCommandlineInterface {
 public:
  otCommandlineInterface();
  // Deletes the owned socket or spawn object; a serial line stays with its owner.
  virtual ~otCommandlineInterface();
  otCommandlineInterface(const otCommandlineInterface&) = delete;
  otCommandlineInterface& operator=(const otCommandlineInterface&) = delete;

  // Drops the earlier transport, then by how:
  //   "pipe": spawns command; the child's pid, -1 without command or if the spawn fails.
  //   "stdio": standard input and output; 1.
  //   "server.localhost:PORT": listens on PORT and waits for one client.
  //   "localhost:PORT": runs command (if any) in the background through the shell, then
  //     connects to PORT on localhost.
  //   "HOST:PORT": connects to PORT on HOST.
  // The socket forms try connect() up to 10 times, 10 ms apart, and return the connected
  // socket descriptor or -1; after -1 the unconnected socket stays in place, so reads and
  // writes fail rather than fall back to the terminal. A how without a colon (or null) gives -1.
  int start(const char* how, const char* command = nullptr);
  // Uses a serial line that the caller opened and keeps owning. 1, or -1 for null.
  int start(otSerial* serial);

  // One line (at most 4095 bytes, line end kept) in the line buffer, which the next readLine
  // or printf overwrites; null at the end of input, on error or when timeout > 0 milliseconds
  // pass without a line (timeout 0 waits without limit). A socket that fails or closes is
  // disconnected; a socket read that only times out keeps the connection.
  // Serial lines: an empty line also gives null. Standard input has no time limit.
  const char* readLine(int timeout = 0);
  // Reads exactly len bytes (timeout > 0: the limit per byte for a child and a serial line,
  // for the whole block on a socket). Returns len; -1 on timeout, end of input, error, null buf
  // or negative len; a socket is disconnected on any failure. A serial line returns its own
  // count or code when it falls short; standard input the bytes it got, or -1 for none.
  int readBlock(void* buf, int len, int timeout = 0);
  // Formats into the line buffer (at most 4095 characters) and sends the text. Returns the
  // bytes sent, or -1 on failure or when the socket is not connected.
  int printf(const char* format, ...) OT_PRINTF_FORMAT(2, 3);
  // Sends len bytes as they stand; as printf.
  int writeBlock(const void* buf, int len);

 private:
  enum { LINE_BUFFER = 4096 };
  void drop();

  char line[LINE_BUFFER];
  otSocket* sock;  // owned
  otSpawn* child;  // owned
  otSerial* tty;   // borrowed
};

#endif
