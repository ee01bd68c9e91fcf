#include "otfifo.h"

#include <stdlib.h>
#include <string.h>

// One allocation per message: the header, then the bytes.
struct otFifo::Message {
  Message* next;
  int length;
  unsigned char* data() { return reinterpret_cast<unsigned char*>(this + 1); }
};

otFifo::otFifo(int maxmes_) : maxmes(maxmes_), nmes(0), head(nullptr), tail(nullptr) {
  otwrapinit_semaphore(&semaphore, 1000);
  otwthread_mutex_init(&mutex, nullptr);
}

otFifo::~otFifo() {
  while (head != nullptr) {
    Message* next = head->next;
    free(head);
    head = next;
  }
  otwthread_mutex_destroy(&mutex);
  otwrapdestroy_semaphore(&semaphore);
}

int otFifo::write(const void* data, int length) {
  if (length < 0 || (data == nullptr && length > 0)) return -1;
  Message* m = static_cast<Message*>(malloc(sizeof(Message) + (size_t)length));
  if (m == nullptr) return -1;
  m->next = nullptr;
  m->length = length;
  if (length > 0) memcpy(m->data(), data, (size_t)length);
  otwthread_mutex_lock(&mutex);
  // The limit is checked under the lock so that concurrent writers cannot overshoot it.
  if (maxmes != 0 && nmes >= maxmes) {
    otwthread_mutex_unlock(&mutex);
    free(m);
    return FIFO_FULL;
  }
  if (tail == nullptr)
    head = m;
  else
    tail->next = m;
  tail = m;
  nmes++;
  otwthread_mutex_unlock(&mutex);
  otwrapincrement_semaphore(&semaphore);
  return length;
}

int otFifo::printf(const char* format, ...) {
  char buf[OT_PRINTF_BUFFER];
  va_list ap;
  va_start(ap, format);
  int ret = otvsnprintf(buf, sizeof(buf), format, ap);
  va_end(ap);
  if (ret < 0) return ret;
  return write(buf, (int)strlen(buf));
}

int otFifo::read(void* buffer, int size) {
  otwrapwait_semaphore(&semaphore);
  otwthread_mutex_lock(&mutex);
  Message* m = head;
  if (m->length > size || (m->length > 0 && buffer == nullptr)) {
    otwthread_mutex_unlock(&mutex);
    otwrapincrement_semaphore(&semaphore);
    return BUFFER_TOO_SMALL;
  }
  head = m->next;
  if (head == nullptr) tail = nullptr;
  nmes--;
  otwthread_mutex_unlock(&mutex);
  int length = m->length;
  if (length > 0) memcpy(buffer, m->data(), (size_t)length);
  if (length < size && buffer != nullptr) static_cast<unsigned char*>(buffer)[length] = 0;
  free(m);
  return length;
}

int otFifo::poll() {
  otwthread_mutex_lock(&mutex);
  int n = nmes;
  otwthread_mutex_unlock(&mutex);
  return n > 0 ? MESSAGE_AVAILABLE : NO_MESSAGE;
}

int otFifo::nmesAvailable() {
  otwthread_mutex_lock(&mutex);
  int n = nmes;
  otwthread_mutex_unlock(&mutex);
  return n < 0 ? 0 : n;
}
