#include "otwthread.h"

#include <errno.h>
#include <sys/select.h>

int otwthread_attr_init(WTHREAD_ATTR* attr) {
  return pthread_attr_init(attr);
}

int otwthread_create(WTHREAD* tid, const WTHREAD_ATTR* attr, void* (*func)(void*), void* arg) {
  int ret = pthread_create(tid, attr, func, arg);
  if (ret == 0) pthread_detach(*tid);
  return ret;
}

int otwthread_close_handle(WTHREAD*) {
  return 0;
}

int otwthread_exit(void* status) {
  pthread_exit(status);
}

int otwthread_join(WTHREAD tid, void** status) {
  return pthread_join(tid, status);
}

int otwthread_mutex_init(WMUTEX* mutex, const WMUTEX_ATTR* attr) {
  return pthread_mutex_init(mutex, attr);
}

int otwthread_mutex_destroy(WMUTEX* mutex) {
  return pthread_mutex_destroy(mutex);
}

int otwthread_mutex_lock(WMUTEX* mutex) {
  return pthread_mutex_lock(mutex);
}

int otwthread_mutex_unlock(WMUTEX* mutex) {
  return pthread_mutex_unlock(mutex);
}

int otwthread_mutex_trylock(WMUTEX* mutex) {
  return pthread_mutex_trylock(mutex) == 0 ? 1 : 0;
}

int otwthread_cancel(WTHREAD tid) {
  return pthread_cancel(tid);
}

int otwrapinit_semaphore(WSEMAPHORE* s, int cmax) {
  s->cmax = cmax;
  s->nready = 0;
  pthread_mutex_init(&s->mutex, nullptr);
  pthread_cond_init(&s->cond, nullptr);
  return 0;
}

int otwrapdestroy_semaphore(WSEMAPHORE* s) {
  pthread_mutex_destroy(&s->mutex);
  pthread_cond_destroy(&s->cond);
  return 0;
}

// Every increment signals. Signalling only on the step from 0 loses wake-ups when several
// threads wait: two quick increments would wake one waiter and leave the other asleep
// while the count stays positive.
int otwrapincrement_semaphore(WSEMAPHORE* s) {
  pthread_mutex_lock(&s->mutex);
  s->nready++;
  pthread_cond_signal(&s->cond);
  pthread_mutex_unlock(&s->mutex);
  return 0;
}

static void unlockMutex(void* mutex) {
  pthread_mutex_unlock(static_cast<pthread_mutex_t*>(mutex));
}

OT_CANCELLATION_POINT int otwrapwait_semaphore(WSEMAPHORE* s) {
  pthread_mutex_lock(&s->mutex);
  // A thread cancelled while it waits must not leave the semaphore locked.
  pthread_cleanup_push(unlockMutex, &s->mutex);
  while (s->nready == 0)
    pthread_cond_wait(&s->cond, &s->mutex);
  s->nready--;
  pthread_cleanup_pop(1);
  return 0;
}

OT_CANCELLATION_POINT int otwthread_sleep(int ms) {
  if (ms < 0) ms = 0;
  struct timeval tv;
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  // Linux leaves the rest of the time in tv when a signal interrupts the wait.
  while (select(0, nullptr, nullptr, nullptr, &tv) < 0 && errno == EINTR) {
  }
  return 0;
}

int otsleep(int ms) {
  return otwthread_sleep(ms);
}
