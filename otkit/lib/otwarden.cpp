#include "otwarden.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "otcutil.h"

namespace {

// Status of a child whose command could not be executed, as a shell reports it.
const int kExecFailed = 127;

char* copyOf(const char* text) {
  return text != nullptr ? strdup(text) : nullptr;
}

pid_t waitRetry(pid_t pid, int* status, int options) {
  pid_t ret;
  do {
    ret = waitpid(pid, status, options);
  } while (ret < 0 && errno == EINTR);
  return ret;
}

}  // namespace

otWarden::otWarden() : processId(-1), name(nullptr), command(nullptr), next(nullptr), prio(0) {}

otWarden::~otWarden() {
  free(name);
  free(command);
  // Iteratively, so that a long list does not recurse once per record.
  otWarden* rest = next;
  while (rest != nullptr) {
    otWarden* following = rest->next;
    rest->next = nullptr;
    delete rest;
    rest = following;
  }
  reapSignalled();
}

void otWarden::setStartupCommand(const char* newCommand, const char* processname) {
  char* c = copyOf(newCommand);
  char* n = copyOf(processname);
  free(command);
  free(name);
  command = c;
  name = n;
}

const char* otWarden::startupCommand() {
  return command;
}

const char* otWarden::processName() {
  return name;
}

otTime* otWarden::processTime() {
  return &startTime;
}

void otWarden::setPID(long newPid) {
  processId = newPid > 0 ? newPid : -1;
}

long otWarden::pid() {
  return processId > 0 ? processId : 0;
}

void otWarden::setPriority(int priority) {
  prio = priority;
}

int otWarden::priority() {
  return prio;
}

otWarden* otWarden::getNext() {
  return next;
}

otWarden* otWarden::addNew() {
  otWarden* last = this;
  while (last->next != nullptr)
    last = last->next;
  last->next = new otWarden();
  return last->next;
}

int otWarden::start() {
  if (command == nullptr || isAlive()) return -1;
  startTime.getLocalTime();

  // The child reports a failed exec through this pipe; a successful exec closes it.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    return -1;
  }
  if (child == 0) {
    close(fds[0]);
    otexec(command);
    int err = errno;
    ssize_t ignored = write(fds[1], &err, sizeof(err));
    (void)ignored;
    // _exit: the child must not flush the parent's stdio buffers or run its exit handlers.
    _exit(kExecFailed);
  }
  close(fds[1]);
  int err = 0;
  ssize_t n;
  do {
    n = read(fds[0], &err, sizeof(err));
  } while (n < 0 && errno == EINTR);
  close(fds[0]);
  if (n > 0) {
    int status;
    waitRetry(child, &status, 0);
    processId = -1;
    return -1;
  }
  processId = child;
  return 0;
}

int otWarden::isAlive() {
  reapSignalled();
  if (processId <= 0) return 0;
  int status;
  pid_t ret = waitRetry((pid_t)processId, &status, WNOHANG);
  if (ret == 0) return 1;
  // Reaped: the id is free for the system to give to another process.
  if (ret == (pid_t)processId) processId = -1;
  return 0;
}

int otWarden::sendSignal(int signal) {
  reapSignalled();
  if (processId <= 0) return -1;
  kill((pid_t)processId, signal);
  signalled.push_back(processId);
  processId = -1;
  return 0;
}

int otWarden::sigterm() {
  return sendSignal(SIGTERM);
}

int otWarden::sigkill() {
  return sendSignal(SIGKILL);
}

void otWarden::reapSignalled() {
  std::vector<long> still;
  for (long p : signalled) {
    int status;
    // 0: still running; an error (not our child, already reaped elsewhere) drops it too.
    if (waitRetry((pid_t)p, &status, WNOHANG) == 0) still.push_back(p);
  }
  signalled.swap(still);
}
