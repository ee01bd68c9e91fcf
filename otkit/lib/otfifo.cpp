#include "otfifo.h"

#include <stdlib.h>
#include <string.h>

// One allocation per message: the header, then the bytes.
struct otFifo::Message {
  Message* next;
  int length;
  unsigned char* data() { return reinterpret_cast<unsigned char*>(this + 1); }
};

otFifo::otFifo(int maxmes_) : maxmes(maxmes_), nmes(0), head(nullptr), tail(nullptr), waiting(0) {
  otwrapinit_semaphore(&semaphore, 1000);
}

otFifo::~otFifo() {
  while (head != nullptr) {
    Message* next = head->next;
    free(head);
    head = next;
  }
  otwrapdestroy_semaphore(&semaphore);
}

int otFifo::write(const void* data, int length) {
  if (length < 0 || (data == nullptr && length > 0)) return -1;
  Message* m = static_cast<Message*>(malloc(sizeof(Message) + (size_t)length));
  if (m == nullptr) return -1;
  m->next = nullptr;
  m->length = length;
  if (length > 0) memcpy(m->data(), data, (size_t)length);
  pthread_mutex_lock(&semaphore.mutex);
  // The limit is checked under the lock so that concurrent writers cannot overshoot it.
  if (maxmes != 0 && nmes >= maxmes) {
    pthread_mutex_unlock(&semaphore.mutex);
    free(m);
    return FIFO_FULL;
  }
  if (tail == nullptr)
    head = m;
  else
    tail->next = m;
  tail = m;
  nmes++;
  semaphore.nready++;
  // Woken after the unlock, the reader finds the mutex free instead of blocking on it again.
  const bool wake = waiting > 0;
  pthread_mutex_unlock(&semaphore.mutex);
  if (wake) pthread_cond_signal(&semaphore.cond);
  return length;
}

int otFifo::printf(const char* format, ...) {
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 0) return t.result;
  return write(t.text, t.length);
}

namespace {

// What a reader cancelled in its wait (the only cancellation point under the lock) leaves.
struct WaitingReader {
  pthread_mutex_t* mutex;
  int* waiting;
};

void cancelledReader(void* arg) {
  WaitingReader* r = static_cast<WaitingReader*>(arg);
  (*r->waiting)--;
  pthread_mutex_unlock(r->mutex);
}

}  // namespace

OT_CANCELLATION_POINT int otFifo::read(void* buffer, int size) {
  pthread_mutex_lock(&semaphore.mutex);
  // A reader cancelled while it waits must not leave the queue locked, nor counted as waiting.
  WaitingReader self = {&semaphore.mutex, &waiting};
  pthread_cleanup_push(cancelledReader, &self);
  while (semaphore.nready == 0) {
    waiting++;
    pthread_cond_wait(&semaphore.cond, &semaphore.mutex);
    waiting--;
  }
  pthread_cleanup_pop(0);
  Message* m = head;
  if (m->length > size || (m->length > 0 && buffer == nullptr)) {
    // The message stays at the head and still counts; another reader may take it.
    pthread_cond_signal(&semaphore.cond);
    pthread_mutex_unlock(&semaphore.mutex);
    return BUFFER_TOO_SMALL;
  }
  head = m->next;
  if (head == nullptr) tail = nullptr;
  nmes--;
  semaphore.nready--;
  pthread_mutex_unlock(&semaphore.mutex);
  int length = m->length;
  if (length > 0) memcpy(buffer, m->data(), (size_t)length);
  if (length < size && buffer != nullptr) static_cast<unsigned char*>(buffer)[length] = 0;
  free(m);
  return length;
}

int otFifo::poll() {
  pthread_mutex_lock(&semaphore.mutex);
  int n = nmes;
  pthread_mutex_unlock(&semaphore.mutex);
  return n > 0 ? MESSAGE_AVAILABLE : NO_MESSAGE;
}

int otFifo::nmesAvailable() {
  pthread_mutex_lock(&semaphore.mutex);
  int n = nmes;
  pthread_mutex_unlock(&semaphore.mutex);
  return n < 0 ? 0 : n;
}
