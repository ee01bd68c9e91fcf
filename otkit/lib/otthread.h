// otThread, otMutex and otSemaphore: small classes over the flat thread layer.
#ifndef OTTHREAD_H
#define OTTHREAD_H

#include <atomic>
#include <memory>

#include "otwthread.h"

class otThread;

// What a thread function receives: its otThread and the caller's data.
typedef struct {
  otThread* thread;
  void* user;
} THREAD_PARAM;

class otThread {
 public:
  explicit otThread(int max_semaphore = 1000);
  // Does not stop a running thread.
  virtual ~otThread();
  otThread(const otThread&) = delete;
  otThread& operator=(const otThread&) = delete;

  // Starts function in a new, detached thread with a pointer to the THREAD_PARAM record.
  // Returns pthread_create's result.
  int create(void* (*function)(void*), void* user);
  int lock();
  int unlock();
  // 0 if the mutex is busy, 1 if it was taken.
  int trylock();
  int waitSemaphore();
  int incrementSemaphore();
  // Ends the calling thread (the one this object created).
  [[noreturn]] void threadExit(void* status);
  // Waits until the thread started by create has ended, however it ended (return, threadExit
  // or cancel), and stores its status (PTHREAD_CANCELED after cancel). The thread is detached,
  // so this does not use the platform join. Returns 0, or ESRCH if no thread was created.
  int join(void** status);
  int cancel();

  std::atomic<int> running;
  THREAD_PARAM param;

  struct State;

 private:
  WTHREAD tid;
  WTHREAD_ATTR attr;
  WMUTEX mutex;
  WSEMAPHORE semaphore;
  std::shared_ptr<State> state;
};

class otMutex {
 public:
  explicit otMutex(const pthread_mutexattr_t* attr = nullptr);
  virtual ~otMutex();
  otMutex(const otMutex&) = delete;
  otMutex& operator=(const otMutex&) = delete;
  int lock();
  int unlock();
  // 0 if the mutex is busy, 1 if it was taken.
  int trylock();

 private:
  WMUTEX mutex;
};

class otSemaphore {
 public:
  explicit otSemaphore(int max = 1000);
  virtual ~otSemaphore();
  otSemaphore(const otSemaphore&) = delete;
  otSemaphore& operator=(const otSemaphore&) = delete;
  int waitSemaphore();
  int incrementSemaphore();

 private:
  WSEMAPHORE semaphore;
};

#endif
