// otFifo: a queue of byte messages between threads, unbounded or bounded, with a blocking read.
#ifndef OTFIFO_H
#define OTFIFO_H

#include <atomic>

#include "otcutil.h"
#include "otwthread.h"

class otFifo {
 public:
  enum {
    MESSAGE_AVAILABLE = -1,
    NO_MESSAGE = -2,
    BUFFER_TOO_SMALL = -3,
    FIFO_FULL = -4,
  };

  // maxmes 0: no limit.
  explicit otFifo(int maxmes = 0);
  virtual ~otFifo();
  otFifo(const otFifo&) = delete;
  otFifo& operator=(const otFifo&) = delete;

  // Queues a copy of length bytes; returns length, -4 when the queue is full (nothing stored),
  // -1 for a negative length or null data.
  int write(const void* data, int length);
  // Queues the formatted text without its NUL (at most 4095 characters).
  int printf(const char* format, ...) OT_PRINTF_FORMAT(2, 3);
  // Blocks until a message is queued, then copies it out and returns its length; a message
  // shorter than size is NUL-terminated. -3 if it does not fit: it then stays queued.
  int read(void* buffer, int size);
  // -1 if a message is queued, else -2; never blocks.
  int poll();
  int nmesAvailable();

 private:
  struct Message;
  int maxmes;
  int nmes;
  Message* head;
  Message* tail;
  // Counts the queued messages; its mutex also guards the list, so that a write or a read
  // takes one lock instead of two.
  WSEMAPHORE semaphore;
  // Readers blocked in read() (under the mutex): a write wakes one only when one waits, so a
  // busy reader costs the writer no system call.
  int waiting;
  // Spent messages of small size kept for the next writes (under the mutex): a steady flow of
  // small messages then costs no allocation and no free across threads.
  Message* spare;
  int spares;
  // nmes, for readers that look without the lock before they sleep.
  std::atomic<int> queued;
};

#endif
