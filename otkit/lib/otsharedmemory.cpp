#include "otsharedmemory.h"
#include "otlog.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

namespace {

// Project letter of the IPC key; every process that shares a path must use the same one.
const int kProjectId = 'b';

int flockRetry(int fd, int operation) {
  int ret;
  do {
    ret = flock(fd, operation);
  } while (ret != 0 && errno == EINTR);
  return ret;
}

// Holds the exclusive lock on the named file for one scope; unlocks on every way out.
class FileLock {
 public:
  explicit FileLock(int fd) : fd_(fd), locked_(fd >= 0 && flockRetry(fd, LOCK_EX) == 0) {}
  ~FileLock() {
    if (locked_) flockRetry(fd_, LOCK_UN);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool locked() const { return locked_; }

 private:
  int fd_;
  bool locked_;
};

}  // namespace

otSharedMemory::otSharedMemory(const char* path, unsigned long size, int rwmode)
    : status(SHM_OK),
      name(nullptr),
      fd(-1),
      id(-1),
      key(-1),
      segment_adr(nullptr),
      user_adr(nullptr),
      size_(0) {
  if (path != nullptr) {
    do {
      fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, (mode_t)rwmode);
    } while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) {
    status = SHM_ERROR_FILE;
    otLog(OT_LOG_ERROR, "could not write shm=%s\n", path != nullptr ? path : "(null)");
    otLog(OT_LOG_ERROR, "you have to run this program as root !!!\n");
    exit(-1);
  }
  name = strdup(path);

  // Creation and attachment under the file lock, so that no copy of another process runs
  // meanwhile; the guard releases it on failure too, where a held lock would block every other
  // user of the file for as long as this object lives.
  FileLock lock(fd);
  key = (int)ftok(path, kProjectId);
  if (key == -1 || size > ULONG_MAX - SHM_HEADER_SIZE) {
    status = SHM_ERROR_SEGMENT;
    return;
  }
  const unsigned long total = size + SHM_HEADER_SIZE;
  id = shmget((key_t)key, total, (rwmode & 0777) | IPC_CREAT);
  if (id < 0) {
    status = SHM_ERROR_SEGMENT;
    return;
  }
  void* adr = shmat(id, nullptr, 0);
  if (adr == (void*)-1) {
    status = SHM_ERROR_ATTACH;
    return;
  }
  struct shmid_ds ds;
  if (shmctl(id, IPC_STAT, &ds) != 0) {
    shmdt(adr);
    status = SHM_ERROR_STAT;
    return;
  }
  segment_adr = adr;
  user_adr = static_cast<char*>(adr) + SHM_HEADER_SIZE;
  size_ = total;
}

otSharedMemory::~otSharedMemory() {
  if (segment_adr != nullptr) shmdt(segment_adr);
  if (fd >= 0) close(fd);
  free(name);
}

unsigned long otSharedMemory::userSize() const {
  return size_ > SHM_HEADER_SIZE ? size_ - SHM_HEADER_SIZE : 0;
}

int otSharedMemory::write(unsigned long offset, const void* data, int length) {
  if (status != SHM_OK || data == nullptr || length <= 0) return -1;
  std::lock_guard<std::mutex> guard(mutex);
  // Written so that no sum can wrap around: a huge offset must not pass.
  const unsigned long user = userSize();
  if (offset > user || (unsigned long)length > user - offset) return -1;
  FileLock lock(fd);
  if (!lock.locked()) return -1;
  memcpy(static_cast<char*>(user_adr) + offset, data, (size_t)length);
  return length;
}

int otSharedMemory::read(unsigned long offset, void* data, int length) {
  if (status != SHM_OK || data == nullptr || length <= 0) return -1;
  std::lock_guard<std::mutex> guard(mutex);
  const unsigned long user = userSize();
  if (offset > user || (unsigned long)length > user - offset) return -1;
  FileLock lock(fd);
  if (!lock.locked()) return -1;
  memcpy(data, static_cast<const char*>(user_adr) + offset, (size_t)length);
  return length;
}

bool otSharedMemory::typedOffset(unsigned long offset, int index, unsigned long width,
                                 unsigned long* result) {
  if (index < 0) return false;
  unsigned long step;
  if (__builtin_mul_overflow((unsigned long)index, width, &step)) return false;
  return !__builtin_add_overflow(offset, step, result);
}

// One typed access: the checked address of element index, then a locked copy. A failed read
// gives fail, never an uninitialised value.
template <class T>
T otSharedMemory::readTyped(unsigned long offset, int index, T fail) {
  unsigned long at;
  T value;
  if (!typedOffset(offset, index, sizeof(value), &at) || read(at, &value, sizeof(value)) < 0)
    return fail;
  return value;
}

template <class T>
int otSharedMemory::writeTyped(unsigned long offset, int index, T value) {
  unsigned long at;
  if (!typedOffset(offset, index, sizeof(value), &at)) return -1;
  return write(at, &value, sizeof(value));
}

int otSharedMemory::readInt(unsigned long offset, int index) {
  return readTyped<int>(offset, index, -1);
}

int otSharedMemory::readShort(unsigned long offset, int index) {
  return readTyped<short>(offset, index, -1);
}

int otSharedMemory::readByte(unsigned long offset, int index) {
  return readTyped<signed char>(offset, index, -1);
}

float otSharedMemory::readFloat(unsigned long offset, int index) {
  return readTyped<float>(offset, index, -1.0f);
}

int otSharedMemory::writeInt(unsigned long offset, int index, int value) {
  return writeTyped(offset, index, value);
}

int otSharedMemory::writeShort(unsigned long offset, int index, int value) {
  // Through the unsigned type the truncation to 16 bits is well defined.
  return writeTyped(offset, index, (unsigned short)(unsigned int)value);
}

int otSharedMemory::writeByte(unsigned long offset, int index, unsigned char value) {
  return writeTyped(offset, index, value);
}

int otSharedMemory::writeFloat(unsigned long offset, int index, float value) {
  return writeTyped(offset, index, value);
}

int otSharedMemory::deleteSharedMemory() {
  if (status != SHM_OK) return -1;
  // Waits for a copy of another thread, which must not run on into a removed segment's size.
  std::lock_guard<std::mutex> guard(mutex);
  if (size_ == 0) return -1;
  flockRetry(fd, LOCK_UN);
  if (shmctl(id, IPC_RMID, nullptr) != 0) return -1;
  size_ = 0;
  return 0;
}

void* otSharedMemory::getUserAdr() {
  return user_adr;
}

int otSharedMemory::shmKey() {
  return key;
}

int otSharedMemory::shmId() {
  return id;
}

unsigned long otSharedMemory::size() {
  std::lock_guard<std::mutex> guard(mutex);
  return size_;
}
