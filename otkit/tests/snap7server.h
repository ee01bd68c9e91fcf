// A real S7 peer for tests: snap7's server (node-snap7) run by s7_server.js in a child process
// on a free loopback port. The module is looked up in $OTKIT_SNAP7_DIR/node_modules (default
// ${OTKIT_CACHE:-/var/cache/otkit}/node-snap7, where scripts/install-snap7.sh puts it). A missing
// node or module is an error, never a reason to skip.
#ifndef OTKIT_TESTS_SNAP7SERVER_H
#define OTKIT_TESTS_SNAP7SERVER_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testutil.h"

extern char** environ;

namespace ottest {

class Snap7Server {
 public:
  // Starts the server; see ok() and error().
  Snap7Server() {
    for (int attempt = 0; attempt < 3 && !start(freePort()); ++attempt) {
    }
  }
  ~Snap7Server() { stop(); }
  Snap7Server(const Snap7Server&) = delete;
  Snap7Server& operator=(const Snap7Server&) = delete;

  bool ok() const { return pid_ > 0; }
  // Why the server is not running, with what it wrote on standard error.
  const std::string& error() const { return error_; }
  int port() const { return port_; }

  // Kills the server and starts a new one on the same port (clients have to reconnect).
  bool restart() {
    stop();
    int port = port_;
    // The old listener's port may need a moment to become free again.
    for (int attempt = 0; attempt < 20; ++attempt) {
      if (start(port)) return true;
      usleep(100000);
    }
    return false;
  }

  // Ends the server with SIGTERM (SIGKILL if that takes over 5 s) and reaps it; returns its
  // wait status, -1 if none was running.
  int stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = -1;
    long long end = nowMs() + 5000;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (nowMs() > end) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      usleep(10000);
    }
    pid_ = -1;
    return status;
  }

  // Directory with node_modules/node-snap7.
  static std::string moduleDir() {
    const char* dir = getenv("OTKIT_SNAP7_DIR");
    if (dir && *dir) return dir;
    const char* cache = getenv("OTKIT_CACHE");
    return std::string(cache && *cache ? cache : "/var/cache/otkit") + "/node-snap7";
  }

 private:
  static long long nowMs() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
  }

  // A loopback TCP port the kernel had free a moment ago.
  static int freePort() { return ottest::freePort(); }

  static std::string readAll(int fd) {
    std::string s;
    char buf[4096];
    lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof(buf))) > 0)
      s.append(buf, (size_t)n);
    return s;
  }

  bool start(int port) {
    port_ = port;
    error_.clear();
    if (port <= 0) {
      error_ = "no free TCP port";
      return false;
    }
    std::string script = std::string(OTKIT_TEST_SOURCE_DIR) + "/s7_server.js";
    std::string modules = moduleDir() + "/node_modules";
    if (access((modules + "/node-snap7/package.json").c_str(), R_OK) != 0) {
      error_ = "node-snap7 is not installed in " + modules +
               " (run scripts/install-snap7.sh; OTKIT_SNAP7_DIR names its folder)";
      return false;
    }
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
      if (strncmp(*e, "NODE_PATH=", 10) != 0) env.push_back(*e);
    env.push_back("NODE_PATH=" + modules);
    std::vector<char*> envp;
    for (std::string& e : env)
      envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::string portText = std::to_string(port);
    std::vector<std::string> argv = {"node", script, portText};
    std::vector<char*> args;
    for (std::string& a : argv)
      args.push_back(&a[0]);
    args.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
      error_ = "pipe failed";
      return false;
    }
    char errName[] = "/tmp/otkit-s7-stderr-XXXXXX";
    int err = mkostemp(errName, O_CLOEXEC);
    if (err >= 0) unlink(errName);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, 2);
    pid_t pid;
    int rc = posix_spawnp(&pid, "node", &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      if (err >= 0) close(err);
      error_ = std::string("cannot start node (is it on PATH?): ") + strerror(rc);
      return false;
    }
    pid_ = pid;

    // Waits for the line "ready"; the child's end closes the pipe.
    std::string said;
    long long end = nowMs() + 20000;
    bool ready = false, late = false;
    while (!ready) {
      long long left = end - nowMs();
      struct pollfd p = {out[0], POLLIN, 0};
      if (left <= 0 || poll(&p, 1, (int)left) <= 0) {
        late = true;
        break;
      }
      char buf[256];
      ssize_t n = ::read(out[0], buf, sizeof(buf));
      if (n <= 0) break;
      said.append(buf, (size_t)n);
      ready = said.find("ready\n") != std::string::npos;
    }
    // The server's stdout stays open on the pipe; closing our end would hurt only later writes.
    close(out[0]);
    if (!ready) {
      int status = stop();
      error_ = "s7_server.js on port " + portText + " did not get ready (";
      error_ += late                  ? std::string("no answer in 20 s")
                : WIFEXITED(status)   ? "exit status " + std::to_string(WEXITSTATUS(status))
                : WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                      : std::string("ended");
      error_ += "); its output: " + said + (err >= 0 ? readAll(err) : std::string());
    }
    if (err >= 0) close(err);
    return ready;
  }

  pid_t pid_ = -1;
  int port_ = -1;
  std::string error_;
};

}  // namespace ottest

#endif
