// Flat thread layer over POSIX threads: creation (threads are detached at once), mutexes,
// a counting semaphore built from a mutex and a condition variable, and a millisecond sleep.
#ifndef OTWTHREAD_H
#define OTWTHREAD_H

#include <pthread.h>

// Functions in which a thread is typically cancelled carry no stack redzones: a cancelled
// thread leaves its frames by forced unwinding, which skips the code that clears the redzones,
// and AddressSanitizer would later report the stale ones on a reused thread stack.
#if defined(__SANITIZE_ADDRESS__)
#define OT_CANCELLATION_POINT __attribute__((no_sanitize_address))
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OT_CANCELLATION_POINT __attribute__((no_sanitize_address))
#endif
#endif
#ifndef OT_CANCELLATION_POINT
#define OT_CANCELLATION_POINT
#endif

typedef pthread_t WTHREAD;
typedef pthread_attr_t WTHREAD_ATTR;
typedef pthread_mutex_t WMUTEX;
typedef pthread_mutexattr_t WMUTEX_ATTR;

// Counting semaphore: increment never blocks; wait blocks until the count is positive.
// cmax is recorded only, it is not a limit.
typedef struct {
  int cmax;
  int nready;
  pthread_mutex_t mutex;
  pthread_cond_t cond;
} WSEMAPHORE;

int otwthread_attr_init(WTHREAD_ATTR* attr);
// Creates the thread and detaches it at once; returns pthread_create's result.
int otwthread_create(WTHREAD* tid, const WTHREAD_ATTR* attr, void* (*func)(void*), void* arg);
int otwthread_close_handle(WTHREAD* tid);
[[noreturn]] int otwthread_exit(void* status);
int otwthread_join(WTHREAD tid, void** status);
int otwthread_mutex_init(WMUTEX* mutex, const WMUTEX_ATTR* attr);
int otwthread_mutex_destroy(WMUTEX* mutex);
int otwthread_mutex_lock(WMUTEX* mutex);
int otwthread_mutex_unlock(WMUTEX* mutex);
// 0 if the mutex is held by someone else, 1 if it was taken.
int otwthread_mutex_trylock(WMUTEX* mutex);
int otwthread_cancel(WTHREAD tid);

int otwrapinit_semaphore(WSEMAPHORE* s, int cmax);
int otwrapdestroy_semaphore(WSEMAPHORE* s);
int otwrapincrement_semaphore(WSEMAPHORE* s);
int otwrapwait_semaphore(WSEMAPHORE* s);

// Sleeps ms milliseconds (a select() without descriptors).
int otwthread_sleep(int ms);
int otsleep(int ms);

#endif
