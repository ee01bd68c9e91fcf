// Helpers shared by the otkit tests.
#ifndef OTKIT_TESTUTIL_H
#define OTKIT_TESTUTIL_H

#include <arpa/inet.h>
#include <dirent.h>
#include <ftw.h>
#include <locale.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <stdlib.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace ottest {

// A loopback TCP port that was free a moment ago (the kernel's choice), -1 if none.
inline int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(sin);
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
    port = ntohs(sin.sin_port);
  close(fd);
  return port;
}

// The entries of a directory other than "." and "..", -1 if it cannot be read.
inline int entryCount(const char* dir) {
  int n = 0;
  DIR* d = opendir(dir);
  if (d == nullptr) return -1;
  while (struct dirent* e = readdir(d))
    if (e->d_name[0] != '.') n++;
  closedir(d);
  return n;
}

// The threads of this process now, -1 if the task list cannot be read.
inline int threadCount() {
  return entryCount("/proc/self/task");
}

// The thread count to compare a later one with. ThreadSanitizer starts a thread of its own
// when the program first creates one; a thread started and joined first makes that happen
// before the count is taken.
inline int baselineThreadCount() {
  std::thread([] {}).join();
  // A joined thread can stay listed for a moment after the join returns: the count is taken
  // once it holds still.
  int n = threadCount();
  for (int i = 0; i < 50; i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int m = threadCount();
    if (m == n) break;
    n = m;
  }
  return n;
}

// The open descriptors of this process now (the one that reads them included).
inline int openFdCount() {
  return entryCount("/proc/self/fd");
}

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
 public:
  TempDir() {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/otkit-test-XXXXXX";
    char* made = mkdtemp(&tmpl[0]);
    path_ = made ? made : "";
  }
  ~TempDir() {
    if (!path_.empty())
      nftw(
          path_.c_str(),
          [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
          FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs the enclosing test body in a fresh temporary working directory.
class ScopedChdir {
 public:
  explicit ScopedChdir(const std::string& dir) {
    char buf[4096];
    old_ = getcwd(buf, sizeof(buf)) ? buf : "/";
    if (chdir(dir.c_str()) != 0) old_.clear();
  }
  ~ScopedChdir() {
    if (!old_.empty() && chdir(old_.c_str()) != 0) perror("chdir");
  }

 private:
  std::string old_;
};

// Captures what this process writes to standard output (descriptor 1) while it lives.
class CaptureStdout {
 public:
  CaptureStdout() {
    fflush(stdout);
    char name[] = "/tmp/otkit-stdout-XXXXXX";
    fd_ = mkstemp(name);
    if (fd_ >= 0) unlink(name);
    saved_ = dup(1);
    if (fd_ >= 0) dup2(fd_, 1);
  }
  ~CaptureStdout() { restore(); }
  CaptureStdout(const CaptureStdout&) = delete;
  CaptureStdout& operator=(const CaptureStdout&) = delete;

  // Stops capturing and returns everything written so far.
  std::string text() {
    restore();
    std::string out;
    if (fd_ < 0) return out;
    lseek(fd_, 0, SEEK_SET);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd_, buf, sizeof(buf))) > 0)
      out.append(buf, (size_t)n);
    return out;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    saved_ = -1;
  }
  int fd_ = -1;
  int saved_ = -1;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void writeFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
}

// Sets LC_NUMERIC to de_DE.UTF-8, a locale with a decimal comma; when the system has not built
// it, it is made from the locale sources into dir. An error text, "" when it is set.
inline std::string useDecimalCommaLocale(const TempDir& dir) {
  if (setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr) return "";
  std::string make = "localedef -i de_DE -f UTF-8 " + dir.file("de_DE.UTF-8") + " 2>/dev/null";
  if (system(make.c_str()) != 0) return "localedef (package locales) cannot build de_DE.UTF-8";
  setenv("LOCPATH", dir.path().c_str(), 1);
  bool set = setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  unsetenv("LOCPATH");
  return set ? "" : "de_DE.UTF-8 cannot be set";
}

}  // namespace ottest

#endif
