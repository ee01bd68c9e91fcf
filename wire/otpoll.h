// Waiting with poll() up to a deadline, the library's one deadline poll. poll and not
// select: descriptors above FD_SETSIZE would overrun an fd_set.
#ifndef OTWIRE_OTPOLL_H
#define OTWIRE_OTPOLL_H

#include <errno.h>
#include <limits.h>
#include <poll.h>

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

#endif
