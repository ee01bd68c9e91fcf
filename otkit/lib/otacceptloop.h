// otAcceptLoop: the one TCP accept loop of the library. It binds and listens, accepts in a
// thread of its own and serves every connection by a handler in the connection's own thread;
// stop() ends all of it and waits for every thread.
//
// A handler reads its connection with otLineReader (otlinereader.h); it passes
// idleTimeoutMs() of its loop as the time-out of its reads and returns when a read gives 0
// (idle), -1 (closed) or when it is done. The loop then closes the descriptor.
//
//   static void serve(int fd, void* user) {
//     otAcceptLoop* loop = static_cast<otAcceptLoop*>(user);
//     otLineReader in(fd);
//     char line[4096];
//     for (;;) {
//       int n = in.readLine(line, sizeof line, loop->idleTimeoutMs());
//       if (n == -2) continue;  // over-long line, refused whole
//       if (n <= 0) return;     // idle or closed
//       ...
//     }
//   }
#ifndef OTACCEPTLOOP_H
#define OTACCEPTLOOP_H

#include <memory>

struct otAcceptConfig {
  // null or "": every IPv4 address; else a numeric address ("127.0.0.1", "::", "::1") or a
  // host name (its first address that can be bound).
  const char* bindAddress = nullptr;
  // 0: the kernel picks one (see otAcceptLoop::port()).
  int port = 0;
  // 0 or less: SOMAXCONN (a deep backlog).
  int backlog = 0;
  // 0: no limit; a connection above the limit gets `refusal` and is closed at once (the
  // handler is not called for it).
  int maxClients = 0;
  // Text sent, as it is (put a line feed in it where the protocol wants one), to a refused
  // connection; null: closed silently. start() copies it.
  const char* refusal = nullptr;
  // 0: none; else the handler's line reads give up after this long without a complete line
  // (see otLineReader) and the connection is closed. The loop hands it to the handler through
  // idleTimeoutMs().
  int idleTimeoutMs = 0;
  // 0: start() fails when the address is in use. Above 0: start() says so on standard output,
  // returns 0 all the same, and the accept thread tries the bind again every bindRetryMs
  // until it succeeds or stop() is called (port() is the configured port meanwhile). Other
  // bind errors fail at once either way.
  int bindRetryMs = 0;
};

class otAcceptLoop {
 public:
  // Runs in the connection's own thread; the loop shuts down and closes fd after it returns.
  // The handler must not close fd itself, and must not call stop() of its own loop.
  typedef void (*Handler)(int fd, void* user);

  otAcceptLoop();
  ~otAcceptLoop();  // stop()
  otAcceptLoop(const otAcceptLoop&) = delete;
  otAcceptLoop& operator=(const otAcceptLoop&) = delete;

  // Binds and listens before returning (so a client can connect as soon as it returns), then
  // accepts in a thread of its own. 0, or -1 when the address cannot be bound or resolved,
  // handler is null or the loop is running already (a message on standard output, like the
  // library's other diagnostics). After stop() the loop may be started again.
  int start(const otAcceptConfig& config, Handler handler, void* user);
  int port() const;           // the bound port (after start; 0 before)
  int clients() const;        // connections being served now
  int idleTimeoutMs() const;  // of the running configuration; 0: none
  // Connections accepted and refused (above maxClients) since start; for tests and
  // diagnostics.
  long long accepted() const;
  long long refused() const;

  // Stops accepting (the listening socket is closed), shuts down every open connection
  // (shutdown(SHUT_RDWR), so blocked reads return), waits until every handler has returned
  // and every thread has ended. Safe to call twice, concurrently and from a signal-free context
  // of any thread except a handler. A handler that waits on something other than its socket
  // must be woken by its owner before or while stop() runs.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

#endif
