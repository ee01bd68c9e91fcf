#include "otmailbox.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <new>

#include "otlog.h"
#include "otwthread.h"

namespace {

// Project letter of the IPC key; every process that shares a path must use the same one.
const int kProjectId = 'b';
// Every message is a long (the type) followed by the payload.
const size_t kTypeSize = sizeof(long);
const long kMessageType = 1;
// Up to this many bytes a message buffer is allocated without asking the kernel for its limit.
const int kPlainAllocation = 64 * 1024;

// The system's largest message, or -1 if the kernel does not tell. No message can be longer,
// so a buffer beyond it would be allocated in vain.
long maxMessageSize() {
  struct msginfo info;
  if (msgctl(0, IPC_INFO, reinterpret_cast<struct msqid_ds*>(&info)) < 0) return -1;
  return info.msgmax > 0 ? info.msgmax : -1;
}

// Creates the file readable and writable by everyone whatever the umask, so that the daemon and
// its clients may run as different users. No execute, set-id or sticky bits on a data file.
// True if the file exists afterwards.
bool createFile(const char* path) {
  int fd;
  do {
    fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno == EEXIST;  // another process was quicker
  fchmod(fd, 0666);
  close(fd);
  return true;
}

}  // namespace

otMailbox::otMailbox(const char* path)
    : status(MAILBOX_OK),
      name(nullptr),
      chanID(-1),
      buffer_size(MAILBOX_DEFAULT_BUFFER_SIZE),
      buffer(nullptr) {
  struct stat st;
  if (path == nullptr || (stat(path, &st) != 0 && !createFile(path))) {
    otLog(OT_LOG_ERROR, "could not write mailbox=%s\n", path != nullptr ? path : "(null)");
    otLog(OT_LOG_ERROR, "you have to run this program as root !!!\n");
    exit(-1);
  }
  name = strdup(path);
  key_t key = ftok(path, kProjectId);
  if (key == -1) {
    status = MAILBOX_ERROR_KEY;
    return;
  }
  chanID = msgget(key, IPC_CREAT | 0600);
  if (chanID < 0) status = MAILBOX_ERROR_QUEUE;
}

otMailbox::~otMailbox() {
  free(name);
  free(buffer);
}

OT_CANCELLATION_POINT int otMailbox::write(const void* data, int length) {
  // A failed construction stays visible in status: only the constructor sets it.
  if (status != MAILBOX_OK || length < 0 || (data == nullptr && length > 0)) return -1;
  if (length > kPlainAllocation) {
    long max = maxMessageSize();
    if (max > 0 && length > max) return -1;
  }
  std::unique_ptr<char[]> msg(new (std::nothrow) char[kTypeSize + (size_t)length]);
  if (!msg) return -1;
  memcpy(msg.get(), &kMessageType, kTypeSize);
  if (length > 0) memcpy(msg.get() + kTypeSize, data, (size_t)length);
  int ret;
  do {
    ret = msgsnd(chanID, msg.get(), (size_t)length, writeWait ? 0 : IPC_NOWAIT);
  } while (ret != 0 && errno == EINTR);
  if (ret != 0 && errno == EAGAIN) return -2;
  return ret == 0 ? 0 : -1;
}

void otMailbox::setWriteWait(int wait) {
  writeWait = wait ? 1 : 0;
}

int otMailbox::write(const char* text) {
  if (text == nullptr) return -1;
  size_t length = strlen(text) + 1;
  if (length > (size_t)INT_MAX) return -1;
  return write(static_cast<const void*>(text), (int)length);
}

int otMailbox::printf(const char* format, ...) {
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 0) return t.result;
  return write(static_cast<const void*>(t.text), t.length);
}

OT_CANCELLATION_POINT int otMailbox::receive(char* out, int room, int wait) {
  size_t bytes = (size_t)room;
  if (room > kPlainAllocation) {
    long max = maxMessageSize();
    if (max > 0 && (size_t)max < bytes) bytes = (size_t)max;
  }
  std::unique_ptr<char[]> msg(new (std::nothrow) char[kTypeSize + bytes]);
  if (!msg) return -1;
  // Without MSG_NOERROR a longer message is refused and stays queued.
  const int flags = wait == 1 ? 0 : IPC_NOWAIT;
  ssize_t n;
  do {
    n = msgrcv(chanID, msg.get(), bytes, 0, flags);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  memcpy(out, msg.get() + kTypeSize, (size_t)n);
  return (int)n;
}

int otMailbox::read(void* buf, int size, int wait) {
  if (buf == nullptr || size <= 0) return -1;
  char* out = static_cast<char*>(buf);
  out[0] = '\0';
  if (status != MAILBOX_OK) return -1;
  int n = receive(out, size, wait);
  if (n < 0) return -1;
  // A message of exactly size bytes is delivered whole, without terminator: dropping it for
  // want of room for one would lose a request that has already left the queue.
  if (n < size) out[n] = '\0';
  return n;
}

char* otMailbox::read(int wait) {
  if (buffer == nullptr && setReadBufferSize(buffer_size) < 0) {
    static char empty[1];
    empty[0] = '\0';
    return empty;
  }
  buffer[0] = '\0';
  if (status != MAILBOX_OK) return buffer;
  // The buffer has one byte beyond buffer_size for the terminator.
  int n = receive(buffer, buffer_size, wait);
  buffer[n < 0 ? 0 : n] = '\0';
  return buffer;
}

int otMailbox::setReadBufferSize(int size) {
  if (size <= 0 || size == INT_MAX) return -1;
  char* fresh = static_cast<char*>(malloc((size_t)size + 1));
  if (fresh == nullptr) return -1;
  fresh[0] = '\0';
  free(buffer);
  buffer = fresh;
  buffer_size = size;
  return size;
}

int otMailbox::clear() {
  if (status != MAILBOX_OK) return -1;
  // MSG_NOERROR takes even a message too long for any buffer, and an empty message does not
  // end the loop: only an empty queue does.
  struct {
    long type;
    char text[1];
  } msg;
  int count = 0;
  for (;;) {
    ssize_t n = msgrcv(chanID, &msg, sizeof(msg.text), 0, IPC_NOWAIT | MSG_NOERROR);
    if (n >= 0) {
      count++;
    } else if (errno != EINTR) {
      break;
    }
  }
  return count;
}
