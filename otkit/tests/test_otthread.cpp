#include "otthread.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

double elapsedMs(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// Runs body in a child process and fails if any expectation in it failed. Tests that cancel
// threads run this way: the sanitizers do not unpoison the stack of a cancelled thread, and a
// later thread that reuses that stack would be reported falsely.
template <class Body>
void isolated(Body body) {
  // A plain fork could inherit a lock that another thread held; a fresh process cannot.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        body();
        exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace

TEST(otSemaphoreCount, StartsAtZeroAndCountsIncrements) {
  WSEMAPHORE s;
  otwrapinit_semaphore(&s, 1000);
  EXPECT_EQ(s.cmax, 1000);
  EXPECT_EQ(s.nready, 0);
  std::atomic<bool> passed{false};
  std::thread waiter([&] {
    otwrapwait_semaphore(&s);
    passed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(passed);  // the first wait blocks until an increment
  otwrapincrement_semaphore(&s);
  waiter.join();
  EXPECT_TRUE(passed);
  // The maximum is not a limit.
  for (int i = 0; i < 5; i++)
    otwrapincrement_semaphore(&s);
  EXPECT_EQ(s.nready, 5);
  otwrapdestroy_semaphore(&s);
}

TEST(otSemaphoreCount, EveryIncrementWakesOneOfManyWaiters) {
  // Increments that arrive while the count is already positive must still wake sleepers.
  for (int round = 0; round < 50; round++) {
    otSemaphore sem(1);
    std::atomic<int> through{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; i++)
      waiters.emplace_back([&] {
        sem.waitSemaphore();
        through++;
      });
    for (int i = 0; i < 4; i++)
      sem.incrementSemaphore();
    for (auto& t : waiters)
      t.join();
    EXPECT_EQ(through, 4);
  }
}

TEST(otMutexLock, TrylockReportsBusyAsZero) {
  otMutex m;
  EXPECT_EQ(m.trylock(), 1);
  int busy = -1;
  std::thread other([&] { busy = m.trylock(); });
  other.join();
  EXPECT_EQ(busy, 0);
  m.unlock();
  otThread t;
  EXPECT_EQ(t.trylock(), 1);
  EXPECT_EQ(t.unlock(), 0);
}

TEST(otMutexLock, SerialisesIncrements) {
  otMutex m;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; i++)
    threads.emplace_back([&] {
      for (int k = 0; k < 20000; k++) {
        m.lock();
        counter++;
        m.unlock();
      }
    });
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(counter, 80000);
}

TEST(otThreadLife, ThreadGetsItsObjectAndUserData) {
  struct Data {
    otThread* seen = nullptr;
    int value = 0;
  } data;
  otThread t;
  EXPECT_EQ(t.running, 0);
  ASSERT_EQ(t.create(
                [](void* arg) -> void* {
                  THREAD_PARAM* p = static_cast<THREAD_PARAM*>(arg);
                  Data* d = static_cast<Data*>(p->user);
                  d->seen = p->thread;
                  d->value = 42;
                  p->thread->incrementSemaphore();
                  return nullptr;
                },
                &data),
            0);
  EXPECT_EQ(t.running, 1);
  t.waitSemaphore();
  EXPECT_EQ(data.seen, &t);
  EXPECT_EQ(data.value, 42);
  EXPECT_EQ(t.join(nullptr), 0);
}

TEST(otThreadLife, JoinWaitsForReturnAndExit) {
  otThread idle;
  EXPECT_NE(idle.join(nullptr), 0);  // nothing was started

  otThread returning;
  returning.create(
      [](void*) -> void* {
        otsleep(50);
        return reinterpret_cast<void*>(7);
      },
      nullptr);
  void* status = nullptr;
  EXPECT_EQ(returning.join(&status), 0);
  EXPECT_EQ(status, reinterpret_cast<void*>(7));

  otThread exiting;
  exiting.create(
      [](void* arg) -> void* {
        static_cast<THREAD_PARAM*>(arg)->thread->threadExit(reinterpret_cast<void*>(9));
      },
      nullptr);
  EXPECT_EQ(exiting.join(&status), 0);
  EXPECT_EQ(status, reinterpret_cast<void*>(9));
  EXPECT_EQ(exiting.running, 0);
}

TEST(otThreadLife, JoinWaitsForACancelledThread) {
  isolated([] {
    otThread looping;
    looping.create(
        [](void*) -> void* {
          for (;;)
            otsleep(10);  // the sleep is a cancellation point
        },
        nullptr);
    otsleep(20);
    EXPECT_EQ(looping.cancel(), 0);
    EXPECT_EQ(looping.running, 0);
    void* status = nullptr;
    EXPECT_EQ(looping.join(&status), 0);
    EXPECT_EQ(status, PTHREAD_CANCELED);
  });
}

TEST(otThreadLife, CancelledWaiterReleasesTheSemaphoreLock) {
  isolated([] {
    otThread t;
    t.create(
        [](void* arg) -> void* {
          static_cast<THREAD_PARAM*>(arg)->thread->waitSemaphore();
          return nullptr;
        },
        nullptr);
    otsleep(30);
    t.cancel();
    t.join(nullptr);
    // Would hang if the cancelled wait had left the semaphore's mutex locked.
    t.incrementSemaphore();
    t.waitSemaphore();
  });
}

TEST(otSleep, WaitsTheGivenMilliseconds) {
  auto start = std::chrono::steady_clock::now();
  otwthread_sleep(120);
  double ms = elapsedMs(start);
  EXPECT_GE(ms, 119.0);
  EXPECT_LT(ms, 1000.0);
  start = std::chrono::steady_clock::now();
  otsleep(1050);  // crosses the one-second boundary of the timeval split
  ms = elapsedMs(start);
  EXPECT_GE(ms, 1049.0);
  EXPECT_LT(ms, 3000.0);
}
