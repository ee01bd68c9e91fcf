#include "otthread.h"

#include <errno.h>

#include <condition_variable>
#include <mutex>

// Completion record shared by the object and its thread, so that join works although the
// thread is detached, and so that the thread never touches an otThread that was destroyed.
struct otThread::State {
  std::mutex mutex;
  std::condition_variable cond;
  bool done = false;
  bool exitCalled = false;
  void* status = nullptr;
};

namespace {

// The completion record of the otThread-started thread that is running this code, if any.
thread_local otThread::State* currentState = nullptr;

struct StartBlock {
  void* (*function)(void*);
  THREAD_PARAM* param;
  std::shared_ptr<otThread::State> state;
};

// Marks the thread ended on every way out: a return, pthread_exit and cancellation all
// unwind the stack in this implementation, so the destructor runs for each.
struct DoneGuard {
  std::shared_ptr<otThread::State> state;
  bool returned = false;
  void* result = nullptr;
  ~DoneGuard() {
    std::lock_guard<std::mutex> lk(state->mutex);
    if (returned)
      state->status = result;
    else if (!state->exitCalled)
      state->status = PTHREAD_CANCELED;
    state->done = true;
    state->cond.notify_all();
  }
};

void* threadStart(void* arg) {
  StartBlock* block = static_cast<StartBlock*>(arg);
  DoneGuard guard{std::move(block->state)};
  void* (*function)(void*) = block->function;
  THREAD_PARAM* param = block->param;
  delete block;
  currentState = guard.state.get();
  guard.result = function(param);
  guard.returned = true;
  return guard.result;
}

}  // namespace

otThread::otThread(int max_semaphore) : running(0), param{this, nullptr}, tid() {
  otwthread_attr_init(&attr);
  otwthread_mutex_init(&mutex, nullptr);
  otwrapinit_semaphore(&semaphore, max_semaphore);
}

otThread::~otThread() {
  running = 0;
  otwthread_mutex_destroy(&mutex);
  otwrapdestroy_semaphore(&semaphore);
  pthread_attr_destroy(&attr);
}

int otThread::create(void* (*function)(void*), void* user) {
  param.thread = this;
  param.user = user;
  std::shared_ptr<State> previous = state;
  state = std::make_shared<State>();
  StartBlock* block = new StartBlock{function, &param, state};
  running = 1;
  int ret = otwthread_create(&tid, &attr, threadStart, block);
  if (ret != 0) {
    running = 0;
    delete block;
    state = previous;
  }
  return ret;
}

int otThread::lock() {
  return otwthread_mutex_lock(&mutex);
}

int otThread::unlock() {
  return otwthread_mutex_unlock(&mutex);
}

int otThread::trylock() {
  return otwthread_mutex_trylock(&mutex);
}

int otThread::waitSemaphore() {
  return otwrapwait_semaphore(&semaphore);
}

int otThread::incrementSemaphore() {
  return otwrapincrement_semaphore(&semaphore);
}

void otThread::threadExit(void* status) {
  running = 0;
  if (currentState != nullptr) {
    std::lock_guard<std::mutex> lk(currentState->mutex);
    currentState->exitCalled = true;
    currentState->status = status;
  }
  otwthread_exit(status);
}

int otThread::join(void** status) {
  std::shared_ptr<State> s = state;
  if (!s) return ESRCH;
  std::unique_lock<std::mutex> lk(s->mutex);
  s->cond.wait(lk, [&] { return s->done; });
  if (status != nullptr) *status = s->status;
  return 0;
}

int otThread::cancel() {
  running = 0;
  return otwthread_cancel(tid);
}

otMutex::otMutex(const pthread_mutexattr_t* attr) {
  otwthread_mutex_init(&mutex, attr);
}

otMutex::~otMutex() {
  otwthread_mutex_destroy(&mutex);
}

int otMutex::lock() {
  return otwthread_mutex_lock(&mutex);
}

int otMutex::unlock() {
  return otwthread_mutex_unlock(&mutex);
}

int otMutex::trylock() {
  return otwthread_mutex_trylock(&mutex);
}

otSemaphore::otSemaphore(int max) {
  otwrapinit_semaphore(&semaphore, max);
}

otSemaphore::~otSemaphore() {
  otwrapdestroy_semaphore(&semaphore);
}

int otSemaphore::waitSemaphore() {
  return otwrapwait_semaphore(&semaphore);
}

int otSemaphore::incrementSemaphore() {
  return otwrapincrement_semaphore(&semaphore);
}
