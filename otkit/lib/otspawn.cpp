#include "otspawn.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "otfd.h"

namespace {

int makePipe(otFd* readEnd, otFd* writeEnd) {
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return -1;
  readEnd->reset(p[0]);
  writeEnd->reset(p[1]);
  return 0;
}

void sleepMs(int ms) {
  struct timespec t = {ms / 1000, (long)(ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

// 1 once the child has been reaped (or is no child of ours any more), else 0.
int reaped(int pid, int options) {
  int status;
  for (;;) {
    int r = waitpid(pid, &status, options);
    if (r == pid) return 1;
    if (r == 0) return 0;
    if (errno != EINTR) return 1;  // ECHILD: reaped elsewhere or SIGCHLD ignored
  }
}

// Writes to a pipe whose reader may be gone: the resulting SIGPIPE is blocked for this thread,
// and a SIGPIPE that the write raised is taken off the pending set again, so that the caller
// gets -1 instead of being killed.
int writeWithoutSigpipe(FILE* fp, const void* data, int len) {
  sigset_t pipeSet, old, pending;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
  sigpending(&pending);
  int wasPending = sigismember(&pending, SIGPIPE);
  int ok = (len == 0 || fwrite(data, 1, (size_t)len, fp) == (size_t)len) && fflush(fp) == 0;
  int err = errno;
  if (!ok) {
    if (err == EPIPE && !wasPending) {
      struct timespec zero = {0, 0};
      while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    clearerr(fp);
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = err;
  return ok ? len : -1;
}

}  // namespace

int otReadJpegStream(FILE* fp, unsigned char* buf, int maxlen) {
  if (fp == nullptr) return -1;
  int c = getc(fp);
  for (;;) {
    if (c == EOF) return -1;
    if (c != 0xFF) {
      c = getc(fp);
      continue;
    }
    c = getc(fp);
    if (c == EOF) return -2;
    if (c == 0xD8) break;
    // A second 0xFF (a fill byte) may itself start the pair, so it is examined again.
  }
  if (buf == nullptr || maxlen < 2) return -3;
  buf[0] = 0xFF;
  buf[1] = 0xD8;
  int n = 2;
  for (;;) {
    c = getc(fp);
    if (c == EOF) return -4;
    if (c != 0xFF) {
      if (n + 1 > maxlen) return -3;
      buf[n++] = (unsigned char)c;
      continue;
    }
    int next = getc(fp);
    if (next == EOF) return -5;
    if (n + 2 > maxlen) return -3;
    buf[n++] = 0xFF;
    buf[n++] = (unsigned char)next;
    if (next == 0xD9) return n;
  }
}

otSpawn::otSpawn() : toChild(nullptr), fromChild(nullptr), pid(0) {
  line[0] = '\0';
}

otSpawn::~otSpawn() {
  closeStreams();
  reap();
}

void otSpawn::closeStreams() {
  if (toChild != nullptr) {
    // Unwritten bytes for a child that has gone must not raise SIGPIPE on the final flush.
    writeWithoutSigpipe(toChild, "", 0);
    fclose(toChild);
    toChild = nullptr;
  }
  if (fromChild != nullptr) {
    fclose(fromChild);
    fromChild = nullptr;
  }
}

// The streams are closed, so a well-behaved child sees the end of its input and ends by
// itself; it gets a moment for that, then SIGHUP, and SIGKILL only if it still runs a second
// later. So no zombie is left behind and no caller waits forever.
void otSpawn::reap() {
  if (pid <= 0) {
    pid = 0;
    return;
  }
  int child = pid;
  pid = 0;
  for (int i = 0; i < 20; i++) {
    if (reaped(child, WNOHANG)) return;
    sleepMs(10);
  }
  kill(child, SIGHUP);
  for (int i = 0; i < 100; i++) {
    if (reaped(child, WNOHANG)) return;
    sleepMs(10);
  }
  kill(child, SIGKILL);
  reaped(child, 0);
}

int otSpawn::spawn(const char* command) {
  closeStreams();
  reap();
  if (command == nullptr) return -1;
  otFd inRead, inWrite, outRead, outWrite, errRead, errWrite;
  if (makePipe(&inRead, &inWrite) != 0 || makePipe(&outRead, &outWrite) != 0 ||
      makePipe(&errRead, &errWrite) != 0)
    return -1;
  int child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    // Only async-signal-safe work before exec, and _exit afterwards: the parent's atexit
    // handlers and stdio buffers belong to the parent. Copies above 2 make every dup2 below a
    // real copy, which clears close-on-exec even if a pipe end happens to be 0, 1 or 2.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int in = fcntl(inRead.get(), F_DUPFD_CLOEXEC, 3);
    int out = fcntl(outWrite.get(), F_DUPFD_CLOEXEC, 3);
    if (in >= 0 && out >= 0 && dup2(in, 0) == 0 && dup2(out, 1) == 1 && dup2(out, 2) == 2)
      otexec(command);
    // The exec failed: the parent learns why through the error pipe, which exec would have
    // closed on success.
    int err = errno;
    ssize_t w = ::write(errWrite.get(), &err, sizeof(err));
    (void)w;
    _exit(127);
  }
  errWrite.reset();
  int err = 0;
  ssize_t got;
  while ((got = ::read(errRead.get(), &err, sizeof(err))) < 0 && errno == EINTR) {
  }
  if (got > 0) {
    reaped(child, 0);
    errno = err;
    return -1;
  }
  toChild = fdopen(inWrite.get(), "w");
  if (toChild != nullptr) inWrite.release();
  fromChild = fdopen(outRead.get(), "r");
  if (fromChild != nullptr) outRead.release();
  pid = child;
  if (toChild == nullptr || fromChild == nullptr) {
    closeStreams();
    kill(child, SIGKILL);
    reaped(child, 0);
    pid = 0;
    return -1;
  }
#ifndef __GLIBC__
  // select() can see bytes waiting in the stream buffer only on glibc.
  setvbuf(fromChild, nullptr, _IONBF, 0);
#endif
  return child;
}

const char* otSpawn::readLine() {
  if (fromChild == nullptr) return nullptr;
  if (fgets(line, LINE_BUFFER - 1, fromChild) != nullptr) return line;
  // The end of the output: the child has ended or is about to. Once reaped, its pid may belong
  // to another process, so it gets no signal any more.
  if (pid > 0) {
    reaped(pid, 0);
    pid = 0;
  }
  return nullptr;
}

int otSpawn::getchar() {
  if (fromChild == nullptr) return -1;
  int c = fgetc(fromChild);
  return c == EOF ? -1 : c;
}

int otSpawn::select(int timeout) {
  if (fromChild == nullptr) return -1;
#ifdef __GLIBC__
  if (fromChild->_IO_read_ptr < fromChild->_IO_read_end) return 1;
#endif
  if (feof(fromChild)) return 1;
  struct pollfd p = {fileno(fromChild), POLLIN, 0};
  int r;
  while ((r = poll(&p, 1, timeout < 0 ? 0 : timeout)) < 0 && errno == EINTR) {
  }
  return r > 0 ? 1 : 0;
}

int otSpawn::write(const char* buf, int len) {
  if (toChild == nullptr || buf == nullptr || len < 0) return -1;
  return writeWithoutSigpipe(toChild, buf, len);
}

int otSpawn::printf(const char* format, ...) {
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 0) return -1;
  return write(t.text, t.length);
}

int otSpawn::writeString(const char* text) {
  if (text == nullptr) return -1;
  if ((unsigned char)text[0] == 0xFF && text[1] == '\0') {
    closeStreams();
    return 0;
  }
  return write(text, (int)strlen(text));
}

int otSpawn::printAll() {
  const char* l;
  while ((l = readLine()) != nullptr)
    fputs(l, stdout);
  fflush(stdout);
  return 0;
}

FILE* otSpawn::getFilepointer() {
  return fromChild;
}

int otSpawn::sigkill() {
  // Any pid below 1 is refused: kill() would take it as a process group.
  if (pid <= 0) return -1;
  int child = pid;
  kill(child, SIGKILL);
  reaped(child, 0);
  pid = 0;
  return 0;
}

int otSpawn::readJpegBuffer(unsigned char* buf, int maxlen) {
  if (fromChild == nullptr) return -1;
  return otReadJpegStream(fromChild, buf, maxlen);
}
