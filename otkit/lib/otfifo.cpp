#include "otfifo.h"

#include <stdlib.h>
#include <string.h>

// One allocation per message: the header, then the bytes.
struct otFifo::Message {
  Message* next;
  int length;
  unsigned char* data() { return reinterpret_cast<unsigned char*>(this + 1); }
};

namespace {

// Messages up to this size are allocated at it and kept for reuse, at most kMaxSpares of them.
const int kSpareBytes = 240;
const int kMaxSpares = 256;

// A read of an empty queue looks this often before it sleeps: a writer on another core usually
// comes within that time, and a reader that did not sleep needs no wake-up call.
const int kSpins = 2000;

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// Writer and reader hold the lock for a few instructions: spinning briefly on it spares both
// the futex calls of a lock that is taken.
void initAdaptive(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
  pthread_mutex_destroy(mutex);
  pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

}  // namespace

otFifo::otFifo(int maxmes_)
    : maxmes(maxmes_),
      nmes(0),
      head(nullptr),
      tail(nullptr),
      waiting(0),
      spare(nullptr),
      spares(0),
      queued(0) {
  otwrapinit_semaphore(&semaphore, 1000);
  initAdaptive(&semaphore.mutex);
}

otFifo::~otFifo() {
  while (head != nullptr) {
    Message* next = head->next;
    free(head);
    head = next;
  }
  while (spare != nullptr) {
    Message* next = spare->next;
    free(spare);
    spare = next;
  }
  otwrapdestroy_semaphore(&semaphore);
}

int otFifo::write(const void* data, int length) {
  if (length < 0 || (data == nullptr && length > 0)) return -1;
  const bool small = length <= kSpareBytes;
  Message* m = nullptr;
  pthread_mutex_lock(&semaphore.mutex);
  // The limit is checked under the lock so that concurrent writers cannot overshoot it.
  if (maxmes != 0 && nmes >= maxmes) {
    pthread_mutex_unlock(&semaphore.mutex);
    return FIFO_FULL;
  }
  if (small && spare != nullptr) {
    m = spare;
    spare = m->next;
    spares--;
  } else {
    // Allocated outside the lock; the limit is looked at again when it is linked.
    pthread_mutex_unlock(&semaphore.mutex);
    m = static_cast<Message*>(malloc(sizeof(Message) + (size_t)(small ? kSpareBytes : length)));
    if (m == nullptr) return -1;
    pthread_mutex_lock(&semaphore.mutex);
    if (maxmes != 0 && nmes >= maxmes) {
      pthread_mutex_unlock(&semaphore.mutex);
      free(m);
      return FIFO_FULL;
    }
  }
  m->next = nullptr;
  m->length = length;
  if (length > 0) memcpy(m->data(), data, (size_t)length);
  if (tail == nullptr)
    head = m;
  else
    tail->next = m;
  tail = m;
  nmes++;
  queued.store(nmes, std::memory_order_relaxed);
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
  for (int i = 0; i < kSpins && queued.load(std::memory_order_relaxed) == 0; i++)
    relax();
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
  queued.store(nmes, std::memory_order_relaxed);
  semaphore.nready--;
  int length = m->length;
  const bool keep = length <= kSpareBytes && spares < kMaxSpares;
  if (keep) {
    // Copied under the lock: once spare, the message may be written again at once.
    if (length > 0) memcpy(buffer, m->data(), (size_t)length);
    m->next = spare;
    spare = m;
    spares++;
  }
  pthread_mutex_unlock(&semaphore.mutex);
  if (!keep) {
    if (length > 0) memcpy(buffer, m->data(), (size_t)length);
    free(m);
  }
  if (length < size && buffer != nullptr) static_cast<unsigned char*>(buffer)[length] = 0;
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
