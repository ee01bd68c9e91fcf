// The one owner of a file descriptor, shared by the library and the client widgets.
#ifndef OTWIRE_OTFD_H
#define OTWIRE_OTFD_H

#include <unistd.h>

// Closes its descriptor once, whoever leaves first; -1 holds none.
class otFd {
 public:
  explicit otFd(int fd = -1) : fd_(fd) {}
  ~otFd() { reset(); }
  otFd(const otFd&) = delete;
  otFd& operator=(const otFd&) = delete;

  int get() const { return fd_; }
  // Closes what it holds and takes v.
  void reset(int v = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = v;
  }
  // Gives the descriptor up without closing it.
  int release() {
    int v = fd_;
    fd_ = -1;
    return v;
  }

 private:
  int fd_;
};

#endif
