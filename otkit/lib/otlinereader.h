// otLineReader: the one line reader of the library, with one policy for over-long lines
// (refused whole). Reads a descriptor (socket, pipe, terminal) in large chunks and hands out
// lines and blocks from its buffer; poll() waits, so descriptors above 1023 work.
//
// A reader belongs to one thread at a time. It does not own the descriptor.
#ifndef OTLINEREADER_H
#define OTLINEREADER_H

#include <vector>

class otLineReader {
 public:
  // Does not own fd; maxLine counts the line feed (a maxLine below 2 counts as 2).
  explicit otLineReader(int fd, int maxLine = 16384);
  ~otLineReader();
  otLineReader(const otLineReader&) = delete;
  otLineReader& operator=(const otLineReader&) = delete;

  // One line, with its '\n', NUL-terminated, into buf of size bytes.
  // Returns the bytes of the line including '\n' (>= 1);
  //   0 when timeoutMs (> 0) passed without a complete line (bytes read so far stay buffered,
  //     and a refusal under way goes on with the next call);
  //  -1 when the peer closed or an error occurred. A last line without '\n' before the close
  //     is returned first as it is, without a '\n' appended (buf[n - 1] != '\n' tells it);
  //     the call after it returns -1;
  //  -2 when the line is longer than min(size - 1, maxLine): it is refused whole, i.e. dropped
  //     up to and including its '\n' (reading on until that arrives), buf is "". An
  //     unterminated over-long last line is refused the same way before -1.
  // A null buf or a size below 2 gives -2 for every line (nothing fits). A line may contain
  // NUL bytes; the return value counts them.
  // timeoutMs 0 (or less) means no limit. EINTR is retried, never taken for a closed
  // connection; a non-blocking descriptor is waited for with poll().
  int readLine(char* buf, int size, int timeoutMs);
  // Exactly len bytes (buffered bytes first). len, 0 on time-out (the bytes read so far stay
  // buffered; the buffer grows to len for that), -1 closed (also for a null buf with len > 0).
  // A block larger than the reader's chunk is read straight into buf.
  // len 0 returns 0 at once.
  // A refusal of an over-long line under way is given up (the stream is taken as it is).
  int readBlock(void* buf, int len, int timeoutMs);
  // Reads and drops len bytes (an announced block that is too large). 0, or -1 closed /
  // time-out (then the stream position is lost). Gives up a refusal under way like readBlock.
  int drain(long long len, int timeoutMs);
  // Waits until at least one byte is buffered: 1, 0 on time-out, -1 closed (buffered bytes
  // count first: 1 while any are there even after a close).
  int waitData(int timeoutMs);
  // True when readLine would return without reading fd: a line feed is buffered, or the end of
  // the stream was met. Lets a server hand a batch of lines on before it waits again.
  bool hasLine() const;
  int buffered() const;  // bytes read from fd and not handed out yet
  int fd() const;
  int maxLine() const;

 private:
  // Reads one chunk into the buffer, waiting until deadline (otMonotonicMs(); -1, i.e.
  // OT_NO_DEADLINE of otpoll_p.h: no limit).
  // 1 bytes read, 0 time-out, -1 closed or error.
  int fill(long long deadline);
  // Waits until deadline and reads at most room bytes of fd into into: their count, 0 on
  // time-out, -1 closed or error (closed is then set).
  int readSome(char* into, int room, long long deadline);
  // Makes room for at least want more bytes at the end of the buffer.
  void reserve(int want);

  int descriptor;
  int maxLineBytes;
  std::vector<char> data;
  int start;  // first byte not handed out
  int end;    // one past the last byte read
  bool closed;
  bool skipping;  // dropping an over-long line up to its '\n'
};

#endif
