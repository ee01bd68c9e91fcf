// The display client's connection to its server as the window's event loop sees it: one
// object owns the transport (a tcputil slot: plain TCP or the communication plug-in), waits
// for it with a QSocketNotifier and never blocks the GUI thread. What arrives is cut into
// whole lines and the binary blocks that a line announces, and fed to the current consumer:
// the command interpreter at the bottom of a stack, and above it the stream a command started
// (a drawing, an SVG document, a GL block, a command's argument lines or data block), which
// leaves the stack at its end.
//
// Lines come as tcputil's tcp_rec assembles them, at most the consumer's lineSize() - 1 bytes:
// a longer line is handed over cut to that size (cut = true) and its rest is dropped as it
// arrives, so that it is never taken for a line of its own. While a consumer above the bottom
// is on the stack (or a block is awaited), what the server may still send is bounded
// (opt.stream_max_mb) and so is its silence (opt.stream_timeout): past either the connection
// is dropped as broken.
#ifndef OTCONNECTION_H
#define OTCONNECTION_H

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;
class otClientConnection;

class otStreamConsumer {
 public:
  virtual ~otStreamConsumer() = default;
  // The buffer the next line is read into (line feed and NUL included), as tcp_rec takes it;
  // may change from line to line. At least 2.
  virtual int lineSize() const = 0;
  // One line, len bytes and NUL-terminated, with its line feed (but for the last bytes of a
  // server that hung up); cut: it was longer than lineSize() - 1 bytes and these are its first
  // ones (its rest is dropped).
  virtual void line(otClientConnection& c, const char* text, int len, bool cut) = 0;
  // The block this consumer asked for with expectBlock, in parts as they arrive; last for its
  // final part (a block of 0 bytes is never asked for).
  virtual void block(otClientConnection& c, const char* data, int len, bool last);
  // Pushed: the consumer is current from now on (it may ask for a block here).
  virtual void started(otClientConnection& c);
  // The connection goes back to the event loop for now (a GL stream lets its context go).
  virtual void pause() {}
  // The connection was lost (or closed) while this consumer was on the stack.
  virtual void lost() {}
};

class otClientConnection : public QObject {
  Q_OBJECT
 public:
  explicit otClientConnection(QObject* parent = nullptr);
  // Closes the connection with the farewell (tcp_close); the consumers' lost() is not called.
  ~otClientConnection() override;
  otClientConnection(const otClientConnection&) = delete;
  otClientConnection& operator=(const otClientConnection&) = delete;

  // The consumer of lines outside any stream (not owned; null: such lines are dropped).
  void setBase(otStreamConsumer* base) { base_ = base; }
  // Connects (tcp_con). 0, or -1 when no connection could be made (tcp_broken_reason says why
  // when the plug-in refused it) or there is no descriptor to wait on (tcp_wait_fd).
  int open(const char* host, int port);
  bool isOpen() const { return s_ > 0; }
  // The tcputil handle, for sending (tcp_send) and for the widgets that send events.
  int* handle() { return &s_; }
  // Says farewell and closes; the stack is emptied. No lost() signal.
  void close();
  // Drops the connection as broken (tcp_abort: why is kept as the reason) and emits lost().
  void abort(const char* why);

  // Puts c on top of the stack: it gets the lines (and blocks) from now until it pops itself.
  void push(std::unique_ptr<otStreamConsumer> c);
  // Takes c, and anything above it, off the stack; it is deleted once the call that fed it
  // has returned, so a consumer may pop itself from line() or block().
  void pop(otStreamConsumer* c);
  otStreamConsumer* current() const;
  // Consumers above the base.
  int depth() const { return (int)stack_.size(); }
  // The next n bytes (n > 0) are a block for the current consumer. False when the connection
  // is closed, or n is more than the stream may still bring: the connection is then dropped.
  bool expectBlock(long long n);
  // A stream or block is under way (a consumer above the base, or a block awaited).
  bool inStream() const { return !stack_.empty() || blockLeft_ > 0; }

  // Called with true when a long burst of lines begins to arrive in one go and with false
  // at its end: the window holds back repainting meanwhile.
  void setBurstHold(std::function<void(bool)> hold) { burstHold_ = std::move(hold); }
  // The window has shown everything so far (a sync in the burst) and let go of its hold: the
  // burst's next lines count anew, so that the next update pass of the burst is held too.
  void burstShown() {
    burstLines_ = 0;
    burstHeld_ = false;
  }

  // Reads what has arrived (the notifier's slot; public for tests that drive it).
  void readAvailable();

 Q_SIGNALS:
  // The connection was lost: closed by the server, broken, or dropped by abort().
  void lost();

 private:
  // Both false when the connection was lost meanwhile.
  bool takeLine(otStreamConsumer* c, int size);
  bool takeBlockPart(int ready);
  void deliverLine(otStreamConsumer* c, const char* text, int len, bool cut);
  // The connection was found closed: the stack is emptied, lost() emitted.
  void gone();
  void teardown();
  void checkStall();
  void bury();
  void buryLater();
  // The bound on what a command's block or stream may bring (on from its line to its end).
  void bound(bool on);
  // What can be taken now: whole lines (as tcp_line_ready), or bytes of the awaited block.
  int probe(int lineSize);

  int s_ = -1;
  int fd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* again_;  // the rest of a batch, or of a partly received line, is looked for later
  QTimer* stall_;
  otStreamConsumer* base_ = nullptr;
  std::vector<std::unique_ptr<otStreamConsumer>> stack_;
  std::vector<std::unique_ptr<otStreamConsumer>> popped_;
  otStreamConsumer* blockFor_ = nullptr;
  long long blockLeft_ = 0;
  int readyLines_ = 0;     // whole lines known to be waiting
  bool dropping_ = false;  // inside an over-long line, dropping its rest up to its line feed
  bool reading_ = false;
  int burstLines_ = 0;      // command lines of the burst since it began or was last shown
  bool burstHeld_ = false;  // the window holds back repainting for this burst
  bool bounded_ = false;
  bool buryQueued_ = false;
  long long lastByteMs_ = 0;
  std::vector<char> line_;
  std::vector<char> part_;
  std::function<void(bool)> burstHold_;
};

#endif
