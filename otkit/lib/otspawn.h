// otSpawn: starts a program with its standard input on one pipe and its standard output and
// error on another, writes to it and reads its output as lines, bytes or JPEG images.
//
// The pipes are close-on-exec, so a child never inherits the pipes of other children. Writing
// to a child that has ended returns -1 and never raises SIGPIPE. One object is used by one
// thread at a time.
#ifndef OTSPAWN_H
#define OTSPAWN_H

#include <stdio.h>

#include "otcutil.h"

// Extracts one JPEG image from fp: skips bytes up to the start-of-image pair 0xFF 0xD8, then
// copies up to and including the end-of-image pair 0xFF 0xD9; every 0xFF inside the image is
// copied together with the byte after it. Returns the image length; -1 when fp ends (or is
// null) before an image starts, -2 when it ends right after a 0xFF before the image; -3 when
// the image does not fit in maxlen bytes (null buf too); -4 when fp ends inside the image, -5
// when it ends right after a 0xFF inside the image.
int otReadJpegStream(FILE* fp, unsigned char* buf, int maxlen);

class otSpawn {
 public:
  otSpawn();
  // Closes both streams and reaps the child: it gets 200 ms to end by itself, then SIGHUP and
  // up to a second more, then SIGKILL.
  virtual ~otSpawn();
  otSpawn(const otSpawn&) = delete;
  otSpawn& operator=(const otSpawn&) = delete;

  // Finishes an earlier child as the destructor does, then starts command, split into
  // arguments as by otexec (double quotes group words, no shell). Returns the child's pid;
  // -1 if a pipe, the process or a stream cannot be created, or if the command cannot be
  // executed (the child is reaped then).
  int spawn(const char* command);
  // The next output line (at most 4094 characters, line feed kept) in an internal buffer that
  // the next call overwrites. At the end of the output waits for the child to end and returns
  // null; null also when nothing was spawned.
  const char* readLine();
  // The next output byte as 0..255, or -1 at the end of the output or without a child.
  int getchar();
  // -1 without a child; 1 if output (or its end) can be read within timeout milliseconds,
  // else 0. Bytes already buffered by the reading stream count as readable.
  int select(int timeout);
  // Writes len bytes to the child's input. Returns len; -1 without a child, for a negative
  // length or null data, or when the write fails (the child has ended).
  int write(const char* buf, int len);
  // Writes the formatted text (at most 4095 characters) without its NUL; as write().
  int printf(const char* format, ...) OT_PRINTF_FORMAT(2, 3);
  // The text "\xff" (exactly one byte 0xFF) closes both streams, which gives the child the end
  // of its input, and returns 0. Any other text is written as it stands; as write().
  int writeString(const char* text);
  // Copies all remaining output lines to standard output. Returns 0.
  int printAll();
  // The stream that reads the child's output; null without a child.
  FILE* getFilepointer();
  // -1 when there is no child (pid 0 or -1); else kills it with SIGKILL, reaps it, sets pid
  // to 0 and returns 0. The streams stay open.
  int sigkill();
  // One JPEG image from the child's output; see otReadJpegStream. -1 without a child.
  int readJpegBuffer(unsigned char* buf, int maxlen);

  FILE* toChild;    // writes to the child's standard input; null when closed
  FILE* fromChild;  // reads the child's standard output and error; null when closed
  int pid;          // the child's process id, 0 when none

 private:
  enum { LINE_BUFFER = 4096 };
  void closeStreams();
  void reap();

  char line[LINE_BUFFER];
};

#endif
