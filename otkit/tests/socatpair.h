// Two linked pseudo-terminals made by socat, for the tests that need a real serial line with a
// peer on its other end. socat is a hard requirement of those tests: when it is missing, start()
// says so and the caller fails, it does not skip.
#ifndef OTKIT_SOCATPAIR_H
#define OTKIT_SOCATPAIR_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "testutil.h"

extern char** environ;

namespace ottest {

// Up to n bytes that arrive on fd within ms milliseconds.
inline std::string readWithin(int fd, size_t n, int ms) {
  std::string got;
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  long long end = (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000 + ms;
  while (got.size() < n) {
    clock_gettime(CLOCK_MONOTONIC, &t);
    long long left = end - ((long long)t.tv_sec * 1000 + t.tv_nsec / 1000000);
    struct pollfd p = {fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, (int)left) <= 0) break;
    char buf[4096];
    ssize_t r = ::read(fd, buf, std::min(sizeof(buf), n - got.size()));
    if (r <= 0) break;
    got.append(buf, (size_t)r);
  }
  return got;
}

class SocatPair {
 public:
  SocatPair() = default;
  ~SocatPair() { stop(); }
  SocatPair(const SocatPair&) = delete;
  SocatPair& operator=(const SocatPair&) = delete;

  // Starts socat with the links dir/a and dir/b and its log in dir/socat.log. Returns "" once
  // both links exist and socat copies data, so that its own terminal set-up is over before
  // anyone opens or configures the lines; else what went wrong.
  std::string start(const std::string& dir) {
    a_ = dir + "/a";
    b_ = dir + "/b";
    log_ = dir + "/socat.log";
    std::string left = "pty,raw,echo=0,link=" + a_, right = "pty,raw,echo=0,link=" + b_;
    const char* argv[] = {"socat", "-d", "-d", left.c_str(), right.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid;
    int rc = posix_spawnp(&pid, "socat", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
      return std::string("cannot start socat (") + strerror(rc) +
             "): these tests need it; scripts/test.sh installs it";
    pid_ = pid;
    long long end = nowMs() + 10000;
    while (nowMs() < end) {
      struct stat st;
      if (stat(a_.c_str(), &st) == 0 && stat(b_.c_str(), &st) == 0 &&
          readFile(log_).find("starting data transfer loop") != std::string::npos)
        return "";
      int status;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return "socat ended at start: " + readFile(log_);
      }
      usleep(10000);
    }
    return "socat did not come up: " + readFile(log_);
  }

  // Ends socat, which hangs up both lines, and reaps it; waits up to 5 s for a clean end
  // before it kills. Does nothing when socat does not run.
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    long long end = nowMs() + 5000;
    int status;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (nowMs() >= end) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      usleep(10000);
    }
    pid_ = -1;
  }

  // The two ends of the line.
  const std::string& a() const { return a_; }
  const std::string& b() const { return b_; }

 private:
  static long long nowMs() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
  }

  pid_t pid_ = -1;
  std::string a_, b_, log_;
};

}  // namespace ottest

#endif
