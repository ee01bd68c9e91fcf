// Helpers of the System V IPC tests (mailboxes and shared memory): a child process with its
// standard output captured, and the clean-up that keeps a run from leaving IPC objects behind.
#ifndef OTKIT_IPCTEST_H
#define OTKIT_IPCTEST_H

#include <dirent.h>
#include <errno.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "testutil.h"

namespace ottest {

// Runs body in a child process with its standard output captured; returns the wait status.
inline int runChild(const std::function<int()>& body, std::string* output = nullptr) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  fflush(stdout);  // the child must not repeat what the parent still buffers
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    int code = body();
    fflush(stdout);
    _exit(code);
  }
  close(fds[1]);
  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof(buf))) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) text.append(buf, (size_t)n);
  close(fds[0]);
  int wstatus = -1;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  if (output) *output = text;
  return wstatus;
}

// The paths of all files in dir, for taking the IPC keys that the tests derived from them.
inline std::vector<std::string> filesIn(const TempDir& dir) {
  std::vector<std::string> files;
  if (DIR* d = opendir(dir.path().c_str())) {
    while (struct dirent* e = readdir(d))
      if (e->d_name[0] != '.') files.push_back(dir.file(e->d_name));
    closedir(d);
  }
  return files;
}

// Removes the IPC object of each key (what names its kind in messages): lookUp(key) gives its
// id or a negative value, remove(id) removes it. Fails the test for every object that is still
// there afterwards, so that no run leaves objects behind in the system.
inline void removeAndExpectGone(const std::vector<key_t>& keys, const char* what,
                                const std::function<int(key_t)>& lookUp,
                                const std::function<void(int)>& remove) {
  for (key_t key : keys) {
    int id = lookUp(key);
    if (id >= 0) remove(id);
    EXPECT_LT(lookUp(key), 0) << what << " with key " << key << " left behind";
    EXPECT_EQ(errno, ENOENT);
  }
}

// The shared memory segments and mailboxes of keys, as removeAndExpectGone removes them.
inline void removeImagesAndMailboxes(const std::vector<key_t>& keys) {
  removeAndExpectGone(
      keys, "shared memory", [](key_t k) { return shmget(k, 0, 0); },
      [](int id) { shmctl(id, IPC_RMID, nullptr); });
  removeAndExpectGone(
      keys, "mailbox", [](key_t k) { return msgget(k, 0); },
      [](int id) { msgctl(id, IPC_RMID, nullptr); });
}

}  // namespace ottest

#endif
