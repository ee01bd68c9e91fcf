// Fixtures for tests that run generated daemons: a daemon process with its log, generation and
// compilation of a project file against this build tree, the numeric macros of the generated
// header, and a test fixture that removes the daemon's shared memory and mailbox at the end.
#ifndef HXSTUDIO_TESTS_DAEMONTEST_H
#define HXSTUDIO_TESTS_DAEMONTEST_H

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ipctest.h"
#include "libmodbusslave.h"
#include "testutil.h"

namespace hxtest {

using Slave = ottest::LibmodbusSlave<512, 512, 256, 256>;

// Generous: daemons and peers may run under a sanitizer on a busy machine.
const int kWaitMs = 15000;

inline long long nowMs() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

inline bool waitFor(const std::function<bool()>& condition, int ms = kWaitMs) {
  for (long long end = nowMs() + ms; nowMs() < end; usleep(5000))
    if (condition()) return true;
  return condition();
}

inline std::string quote(const std::string& s) {
  return "'" + s + "'";
}

// A program run in dir with standard output and error in <program>.log (or the log named),
// in a process group of its own, so that stop() ends what it started too.
class Process {
 public:
  ~Process() { stop(); }
  bool start(const std::string& dir, const std::string& program,
             const std::vector<std::string>& args = {}, const std::string& log = "") {
    log_ = log.empty() ? program + ".log" : log;
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      int fd = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || chdir(dir.c_str()) != 0) _exit(127);
      dup2(fd, 1);
      dup2(fd, 2);
      execvp(program.c_str(), argv.data());
      _exit(127);
    }
    if (pid_ > 0) setpgid(pid_, pid_);
    return pid_ > 0;
  }
  bool alive() {
    if (pid_ <= 0) return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
  }
  // The exit status once the process has ended within ms, else -1.
  int exitStatus(int ms) {
    waitFor([this] { return !alive(); }, ms);
    return pid_ < 0 && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }
  void stop() {
    if (!alive()) return;
    pid_t group = pid_;
    kill(-group, SIGTERM);
    if (!waitFor([this] { return !alive(); }, 5000)) {
      kill(-group, SIGKILL);
      waitpid(pid_, &status_, 0);
      pid_ = -1;
    }
    kill(-group, SIGKILL);  // what the program started and left behind
  }
  std::string log() const { return ottest::readFile(log_); }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  std::string log_;
};

// Writes the project file into dir and runs the tool on it with compiling on; returns the
// tool's exit status, its output in *output.
inline int generateAndCompile(const char* tool, const ottest::TempDir& dir, const std::string& name,
                              const std::string& project, std::string* output) {
  ottest::writeFile(dir.file(name), project);
  std::string command = "cd " + quote(dir.path()) +
                        " && PKG_CONFIG_PATH=" + quote(HX_PKGCONFIG_DIR) + " CXX=" + quote(HX_CXX) +
                        " CXXFLAGS=" + quote(HX_CXXFLAGS) + " " +
                        quote(std::string(HX_TOOLS_DIR) + "/" + tool) + " -c -o daemon " +
                        quote(name) + " > build.log 2>&1";
  int status = system(command.c_str());
  *output = ottest::readFile(dir.file("build.log"));
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A project file with the values of some of its "key=value" lines replaced.
inline std::string withKeys(const std::string& project,
                            const std::map<std::string, std::string>& values) {
  std::istringstream in(project);
  std::string out, line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    auto it = eq == std::string::npos ? values.end() : values.find(line.substr(0, eq));
    out += (it != values.end() ? it->first + "=" + it->second : line) + "\n";
  }
  return out;
}

// The numeric macros of a generated header.
inline std::map<std::string, int> readHeader(const std::string& path) {
  std::map<std::string, int> defs;
  std::istringstream text(ottest::readFile(path));
  std::string word, name, value;
  while (text >> word) {
    if (word != "#define" || !(text >> name >> value)) continue;
    char* end = nullptr;
    long v = strtol(value.c_str(), &end, 10);
    if (end != value.c_str() && *end == '\0') defs[name] = (int)v;
  }
  return defs;
}

#ifdef HX_PPISIM
// The simulator on the other end of a pty pair, with its log in the test's directory.
class PpiSimulator {
 public:
  // values: -set options.
  bool start(const ottest::TempDir& dir, const std::string& line, const std::string& values) {
    // Process runs a program without arguments: a script gives them.
    std::string script = dir.file("otppisim.sh");
    ottest::writeFile(script, "#!/bin/sh\nexec " + quote(HX_PPISIM) + " -serial=" + quote(line) +
                                  " -v " + values + "\n");
    if (chmod(script.c_str(), 0700) != 0 || !sim_.start(dir.path(), script)) return false;
    return waitFor([this] { return log().find("serving") != std::string::npos; });
  }
  void stop() { sim_.stop(); }
  std::string log() const { return sim_.log(); }

 private:
  Process sim_;
};
#endif

// Fixture: one temporary directory per test; the daemon it runs is stopped and the shared
// memory and mailbox it created are removed at the end.
class GeneratedDaemon : public ::testing::Test {
 protected:
  ottest::TempDir dir;
  Process daemon;
  std::map<std::string, int> defs;

  std::string shm() const { return dir.file("image.shm"); }
  std::string mbx() const { return dir.file("requests.mbx"); }
  std::string paths() const { return "shared_memory=" + shm() + "\nmailbox=" + mbx() + "\n"; }

  // Generates, compiles and starts the daemon; header is the generated header's file name.
  void run(const char* tool, const std::string& name, const std::string& project,
           const std::string& header) {
    std::string output;
    ASSERT_EQ(generateAndCompile(tool, dir, name, project, &output), 0) << output;
    defs = readHeader(dir.file(header));
    ASSERT_TRUE(daemon.start(dir.path(), dir.file("daemon")));
  }

  int def(const std::string& name) {
    auto it = defs.find(name);
    EXPECT_NE(it, defs.end()) << name << " is not in the header";
    return it == defs.end() ? -1 : it->second;
  }

  void TearDown() override {
    daemon.stop();
    std::string log = daemon.log();
    EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;
    std::vector<key_t> keys;
    for (const std::string& f : {shm(), mbx()})
      if (access(f.c_str(), F_OK) == 0) keys.push_back(ftok(f.c_str(), 'b'));
    ottest::removeImagesAndMailboxes(keys);
  }
};

}  // namespace hxtest

#endif
