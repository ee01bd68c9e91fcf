// Helpers of the otmodbussim tests: child processes (the simulator, python peers) with their
// output in a file and free TCP ports. Every child is killed and reaped at the latest when its
// owner goes. The socat pseudo-terminal pairs are in socatpair.h.
#ifndef MODBUSSIM_CHILD_H
#define MODBUSSIM_CHILD_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testutil.h"

extern char** environ;

namespace modbussim {

inline long long nowMs() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

class Child {
 public:
  Child() = default;
  ~Child() { stop(SIGKILL, 10000); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Starts argv (argv[0] is searched on PATH) with standard input from /dev/null and standard
  // output and error into the file output. Returns 0 or posix_spawn's error number.
  int start(const std::vector<std::string>& argv, const std::string& output) {
    out_ = output;
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc == 0) {
      pid_ = pid;
      status_ = -1;
    }
    return rc;
  }

  // True while the child has not ended; an ended child is reaped here.
  bool running() {
    if (pid_ <= 0) return false;
    int st;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      status_ = st;
      pid_ = -1;
      return false;
    }
    return true;
  }

  // Waits up to ms for the child to end; its wait status, or -1 if it still runs.
  int wait(int ms) {
    long long end = nowMs() + ms;
    while (running()) {
      if (nowMs() >= end) return -1;
      usleep(10000);
    }
    return status_;
  }

  // Sends sig and waits up to ms for the end; a child that outlives that is killed. Returns
  // the wait status (of the first end), or -1 when nothing was running.
  int stop(int sig = SIGTERM, int ms = 10000) {
    if (!running()) return status_;
    kill(pid_, sig);
    if (wait(ms) == -1 && pid_ > 0) {
      kill(pid_, SIGKILL);
      int st;
      waitpid(pid_, &st, 0);
      pid_ = -1;
      status_ = -1;
    }
    return status_;
  }

  pid_t pid() const { return pid_; }
  std::string output() const { return ottest::readFile(out_); }

  // Waits up to ms until the output holds text; false also when the child ends first.
  bool waitForOutput(const std::string& text, int ms) {
    long long end = nowMs() + ms;
    for (;;) {
      if (output().find(text) != std::string::npos) return true;
      if (!running() || nowMs() >= end) return output().find(text) != std::string::npos;
      usleep(10000);
    }
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string out_;
};

// A TCP port that the kernel had free a moment ago.
inline int freeTcpPort() {
  return ottest::freePort();
}

// A connected TCP socket to 127.0.0.1:port, or -1.
inline int connectTcp(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  struct sockaddr_in a;
  memset(&a, 0, sizeof(a));
  a.sin_family = AF_INET;
  a.sin_port = htons((uint16_t)port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<struct sockaddr*>(&a), sizeof(a)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Waits until something accepts on 127.0.0.1:port (false when child ends first or ms pass).
inline bool waitForTcp(int port, int ms, Child* child) {
  long long end = nowMs() + ms;
  while (nowMs() < end && child->running()) {
    int fd = connectTcp(port);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    usleep(20000);
  }
  return false;
}

inline bool exitedWith(int status, int code) {
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

}  // namespace modbussim

#endif
