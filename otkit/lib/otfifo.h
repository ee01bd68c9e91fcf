// otFifo: a queue of byte messages between threads, unbounded or bounded, with a blocking read.
#ifndef OTFIFO_H
#define OTFIFO_H

#include <pthread.h>

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
  static Message* newMessage(int length);
  static void freeList(Message* m);
  bool full() const;
  Message* takeSpare();

  int maxmes;
  // A list with a placeholder at its head (the message read last, or the first one made):
  // writers append under tailLock, readers take the one behind the head under headLock, so
  // that a writer and a reader never wait for each other's lock nor share its cache line.
  alignas(64) pthread_mutex_t headLock;
  pthread_cond_t nonEmpty;
  Message* head;
  // Spent placeholders of small size, for the writers to take in batches (under headLock).
  Message* returned;
  std::atomic<int> nreturned;
  std::atomic<long long> taken;  // messages read; written under headLock

  alignas(64) pthread_mutex_t tailLock;
  Message* tail;
  // Small messages ready to be written again (under tailLock): a steady flow of small
  // messages then costs no allocation and no free across threads.
  Message* spare;
  // Messages queued, written under tailLock; on a line of its own, as the readers look at it
  // while they spin.
  alignas(64) std::atomic<long long> added;

  // Readers asleep in read(): a write wakes one only when one sleeps, so a busy reader costs
  // the writer no system call.
  alignas(64) std::atomic<int> waiting;
};

#endif
