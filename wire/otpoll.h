// Waiting with poll() up to a deadline, the library's one deadline poll. poll and not
// select: descriptors above FD_SETSIZE would overrun an fd_set.
#ifndef OTWIRE_OTPOLL_H
#define OTWIRE_OTPOLL_H

#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <sched.h>

#include "ottime.h"

// A deadline is a point of otMonotonicMs(); OT_NO_DEADLINE waits without limit.
const long long OT_NO_DEADLINE = -1;

// The deadline timeoutMs from now; a negative timeoutMs gives OT_NO_DEADLINE (0 is now).
inline long long otDeadlineIn(int timeoutMs) {
  return timeoutMs < 0 ? OT_NO_DEADLINE : otMonotonicMs() + timeoutMs;
}

// What is left until deadline as a timeout for poll(): -1 without a deadline, else 0 or more.
inline int otMsLeft(long long deadline) {
  if (deadline == OT_NO_DEADLINE) return -1;
  long long left = deadline - otMonotonicMs();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : (int)left;
}

// poll() until deadline; a signal does not cut the wait short (EINTR goes on with what is left).
// Returns poll's result: the number of ready descriptors, 0 when the deadline passed, -1 on an
// error other than EINTR.
inline int otPollUntil(struct pollfd* fds, int n, long long deadline) {
  for (;;) {
    int ret = ::poll(fds, (nfds_t)n, otMsLeft(deadline));
    if (ret >= 0 || errno != EINTR) return ret;
  }
}

// One descriptor: 1 ready (also for a hang-up or an error, which the next read or write then
// reports), 0 time-out, -1 poll failed.
inline int otPollOne(int fd, short events, long long deadline) {
  struct pollfd p = {fd, events, 0};
  int ret = otPollUntil(&p, 1, deadline);
  return ret > 0 ? 1 : ret;
}

// A short look again and again before a blocking wait, for answers that usually come sooner
// than a sleeping thread is woken: a wake-up from another core costs tens of microseconds on a
// virtual machine, a loopback answer a few. It is tried only while the waits of late were that
// short, so a connection that waits long sleeps at once and an idle one costs nothing; between
// looks the core goes to any other thread that is ready to run.
//
//   if (!spin.spin([&] { return (n = recv(fd, buf, len, MSG_DONTWAIT)) >= 0; })) {
//     ...block in poll...
//     spin.woke();
//   }
class otSpinWait {
 public:
  // How long a spin looks, in microseconds; a wait longer than that turns spinning off.
  static const int kBudgetUs = 50;

  // Calls look() until it returns true (spin() returns true: nothing to wait for) or the
  // budget is spent (false). While spinning does not pay, returns false at once, without a
  // look. Either way false means: block now, then call woke().
  template <typename Look>
  bool spin(Look look) {
    waitStart_ = otMonotonicUs();
    if (!on_) return false;
    const long long until = waitStart_ + kBudgetUs;
    do {
      if (look()) return true;
      sched_yield();
    } while (otMonotonicUs() < until);
    on_ = false;
    return false;
  }
  // After the blocking wait: it spins next time when the whole wait was within the budget.
  void woke() { on_ = otMonotonicUs() - waitStart_ < kBudgetUs; }

 private:
  bool on_ = true;
  long long waitStart_ = 0;
};

#endif
