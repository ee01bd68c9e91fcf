#include "otfifo.h"

#include <stdlib.h>
#include <string.h>

#include <new>

// One allocation per message: the header, then the bytes.
struct otFifo::Message {
  std::atomic<Message*> next;
  int length;
  int capacity;
  unsigned char* data() { return reinterpret_cast<unsigned char*>(this + 1); }
};

namespace {

// Messages up to this size are allocated at it and kept for reuse, at most kMaxSpares of them
// on the readers' side; a writer takes them kBatch or more at a time.
const int kSpareBytes = 240;
const int kMaxSpares = 256;
const int kBatch = 32;

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

// Writers (or readers) among themselves hold a lock for a few instructions: spinning briefly
// on it spares the futex calls of a lock that is taken.
void initAdaptive(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
  pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

}  // namespace

otFifo::Message* otFifo::newMessage(int length) {
  const int capacity = length <= kSpareBytes ? kSpareBytes : length;
  void* p = malloc(sizeof(otFifo::Message) + (size_t)capacity);
  if (p == nullptr) return nullptr;
  otFifo::Message* m = new (p) otFifo::Message;
  m->capacity = capacity;
  return m;
}

void otFifo::freeList(Message* m) {
  while (m != nullptr) {
    otFifo::Message* next = m->next.load(std::memory_order_relaxed);
    free(m);
    m = next;
  }
}

otFifo::otFifo(int maxmes_)
    : maxmes(maxmes_),
      head(nullptr),
      returned(nullptr),
      nreturned(0),
      taken(0),
      tail(nullptr),
      spare(nullptr),
      added(0),
      waiting(0) {
  initAdaptive(&headLock);
  initAdaptive(&tailLock);
  pthread_cond_init(&nonEmpty, nullptr);
  head = tail = newMessage(0);
  if (head == nullptr) abort();  // no memory for a first placeholder: nothing can work
  head->next.store(nullptr, std::memory_order_relaxed);
}

otFifo::~otFifo() {
  freeList(head);
  freeList(returned);
  freeList(spare);
  pthread_cond_destroy(&nonEmpty);
  pthread_mutex_destroy(&headLock);
  pthread_mutex_destroy(&tailLock);
}

// Under tailLock. taken only grows, so the count seen is never below the true one.
bool otFifo::full() const {
  return maxmes != 0 &&
         added.load(std::memory_order_relaxed) - taken.load(std::memory_order_acquire) >= maxmes;
}

// Under tailLock: a small message to write into, or null.
otFifo::Message* otFifo::takeSpare() {
  if (spare == nullptr && nreturned.load(std::memory_order_relaxed) >= kBatch) {
    pthread_mutex_lock(&headLock);  // the one place with both locks: tail first, then head
    spare = returned;
    returned = nullptr;
    nreturned.store(0, std::memory_order_relaxed);
    pthread_mutex_unlock(&headLock);
  }
  Message* m = spare;
  if (m != nullptr) spare = m->next.load(std::memory_order_relaxed);
  return m;
}

int otFifo::write(const void* data, int length) {
  if (length < 0 || (data == nullptr && length > 0)) return -1;
  pthread_mutex_lock(&tailLock);
  // The limit is checked under the lock so that concurrent writers cannot overshoot it.
  if (full()) {
    pthread_mutex_unlock(&tailLock);
    return FIFO_FULL;
  }
  Message* m = length <= kSpareBytes ? takeSpare() : nullptr;
  if (m == nullptr) {
    // Allocated outside the lock; the limit is looked at again when it is linked.
    pthread_mutex_unlock(&tailLock);
    m = newMessage(length);
    if (m == nullptr) return -1;
    pthread_mutex_lock(&tailLock);
    if (full()) {
      pthread_mutex_unlock(&tailLock);
      free(m);
      return FIFO_FULL;
    }
  }
  m->next.store(nullptr, std::memory_order_relaxed);
  m->length = length;
  if (length > 0) memcpy(m->data(), data, (size_t)length);
  tail->next.store(m, std::memory_order_release);
  tail = m;
  added.store(added.load(std::memory_order_relaxed) + 1, std::memory_order_release);
  pthread_mutex_unlock(&tailLock);
  // Against a reader that counts itself as waiting and then looks again: one of the two sees
  // the other. A read-modify-write rather than a fence, which ThreadSanitizer cannot follow:
  // it reads the newest count, and a reader counting itself later reads from it, so it sees
  // the message linked before it.
  if (waiting.fetch_add(0, std::memory_order_acq_rel) > 0) {
    pthread_mutex_lock(&headLock);
    pthread_cond_signal(&nonEmpty);
    pthread_mutex_unlock(&headLock);
  }
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
  std::atomic<int>* waiting;
};

void cancelledReader(void* arg) {
  WaitingReader* r = static_cast<WaitingReader*>(arg);
  r->waiting->fetch_sub(1);
  pthread_mutex_unlock(r->mutex);
}

}  // namespace

OT_CANCELLATION_POINT int otFifo::read(void* buffer, int size) {
  for (int i = 0;
       i < kSpins && added.load(std::memory_order_relaxed) == taken.load(std::memory_order_relaxed);
       i++)
    relax();
  pthread_mutex_lock(&headLock);
  Message* m;
  // A reader cancelled while it waits must not leave the queue locked, nor counted as waiting.
  WaitingReader self = {&headLock, &waiting};
  pthread_cleanup_push(cancelledReader, &self);
  while ((m = head->next.load(std::memory_order_acquire)) == nullptr) {
    waiting.fetch_add(1);
    // Looked at again once counted: a writer that did not see the count has linked by now.
    if (head->next.load(std::memory_order_seq_cst) == nullptr)
      pthread_cond_wait(&nonEmpty, &headLock);
    waiting.fetch_sub(1);
  }
  pthread_cleanup_pop(0);
  const int length = m->length;
  if (length > size || (length > 0 && buffer == nullptr)) {
    // The message stays at the head and still counts; another reader may take it.
    pthread_cond_signal(&nonEmpty);
    pthread_mutex_unlock(&headLock);
    return BUFFER_TOO_SMALL;
  }
  // Copied under the lock: m is the placeholder now, and once the next reader has passed it,
  // it may be written again.
  if (length > 0) memcpy(buffer, m->data(), (size_t)length);
  Message* old = head;
  head = m;
  taken.store(taken.load(std::memory_order_relaxed) + 1, std::memory_order_release);
  const int kept = nreturned.load(std::memory_order_relaxed);
  if (old->capacity == kSpareBytes && kept < kMaxSpares) {
    old->next.store(returned, std::memory_order_relaxed);
    returned = old;
    nreturned.store(kept + 1, std::memory_order_relaxed);
    old = nullptr;
  }
  pthread_mutex_unlock(&headLock);
  free(old);
  if (length < size && buffer != nullptr) static_cast<unsigned char*>(buffer)[length] = 0;
  return length;
}

int otFifo::poll() {
  return nmesAvailable() > 0 ? MESSAGE_AVAILABLE : NO_MESSAGE;
}

int otFifo::nmesAvailable() {
  // added first: a read between the two loads can only make the count smaller, never larger
  // than the queue ever was.
  long long n = added.load(std::memory_order_acquire);
  n -= taken.load(std::memory_order_acquire);
  return n < 0 ? 0 : (int)n;
}
