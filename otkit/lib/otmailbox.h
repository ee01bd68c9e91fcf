// otMailbox: a named System V message queue through which any number of processes post
// requests to a daemon. The IPC key is ftok(path, 'b'); every message has type 1 and carries
// exactly the bytes its writer passed. Readers take messages of any type in arrival order, and
// each message reaches exactly one reader.
#ifndef OTMAILBOX_H
#define OTMAILBOX_H

#include "otcutil.h"

class otMailbox {
 public:
  // Values of status.
  enum {
    MAILBOX_OK = 2,
    MAILBOX_ERROR_KEY = 4,    // no key could be derived from the path
    MAILBOX_ERROR_QUEUE = 5,  // the queue could not be created or opened
  };
  // Size of the own buffer of read(int) until setReadBufferSize() changes it.
  enum { MAILBOX_DEFAULT_BUFFER_SIZE = 4096 };

  // Creates the file path if it does not exist (readable and writable by everyone), then
  // creates or opens the queue with permission bits 0600. If the file neither exists nor can
  // be created the process prints why and ends with exit status -1.
  explicit otMailbox(const char* path);
  // The queue stays in the system.
  virtual ~otMailbox();
  otMailbox(const otMailbox&) = delete;
  otMailbox& operator=(const otMailbox&) = delete;

  // Posts one message of length bytes (0 is allowed); waits while the queue is full, unless
  // setWriteWait(0) was called. 0 on success; -2 when the queue is full and the mailbox does
  // not wait (nothing posted; try again later); -1 if the mailbox is unusable, data is null
  // with length > 0, length is negative or above the system's largest message, or the send
  // fails.
  int write(const void* data, int length);
  // Posts the text including its terminating NUL.
  int write(const char* text);
  // Posts the formatted text (at most 4095 characters) without NUL; the formatter's negative
  // result or write()'s result.
  int printf(const char* format, ...) OT_PRINTF_FORMAT(2, 3);

  // Takes the oldest message. wait 1 blocks until one arrives; any other value returns -1 at
  // once on an empty queue. Returns the message length, or -1 on an error, on an empty queue,
  // and for a message longer than size, which then stays queued for a larger buffer.
  // A message shorter than size is copied and NUL-terminated; one of exactly size bytes is
  // copied whole, without room for a terminator, so text readers use a buffer larger than
  // their longest message. On -1 the buffer holds an empty text; a null buffer or size <= 0
  // gives -1 without touching anything.
  int read(void* buffer, int size, int wait = 1);
  // The same into the object's own buffer (MAILBOX_DEFAULT_BUFFER_SIZE bytes, or as set by
  // setReadBufferSize), which always holds a terminated text: a message of up to the buffer
  // size is delivered, an empty text on any error. Returns the buffer.
  char* read(int wait = 1);
  // Replaces the own buffer by one for messages of up to size bytes; returns size, or -1 for
  // size <= 0 (the old buffer stays).
  int setReadBufferSize(int size);
  // Removes every queued message, whatever its length; returns how many were removed, or -1
  // if the mailbox is unusable.
  int clear();
  // 1 (the default): write() waits while the queue is full. 0: it returns -2 at once, so that
  // a display server whose daemon has stopped reading is not held in a write for good.
  void setWriteWait(int wait);

  int status;

 private:
  char* name;
  int chanID;
  int buffer_size;
  char* buffer;
  int writeWait = 1;

  // Takes the oldest message of at most room bytes into out; its length or -1.
  int receive(char* out, int room, int wait);
};

#endif
