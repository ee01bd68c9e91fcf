#include "otsharedmemory.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ipctest.h"
#include "testutil.h"

namespace {

// Every test works on files in its own temporary directory. TearDown removes each segment whose
// key belongs to a file there and fails the test if one could not be removed, so that no run
// leaves segments behind in the system.
class SharedMemoryTest : public ::testing::Test {
 protected:
  std::unique_ptr<otSharedMemory> make(const std::string& path, unsigned long size,
                                       int rwmode = 0600) {
    auto shm = std::make_unique<otSharedMemory>(path.c_str(), size, rwmode);
    track(path);
    return shm;
  }
  // ftok depends on the file's inode: the key is taken while the file exists.
  void track(const std::string& path) {
    key_t key = ftok(path.c_str(), 'b');
    ASSERT_NE(key, -1) << path;
    keys.push_back(key);
  }
  void TearDown() override {
    for (const std::string& file : ottest::filesIn(dir))
      track(file);
    ottest::removeAndExpectGone(
        keys, "segment", [](key_t key) { return shmget(key, 0, 0); },
        [](int id) { shmctl(id, IPC_RMID, nullptr); });
  }

  ottest::TempDir dir;
  std::vector<key_t> keys;
};

// All bytes of a copy equal: a copy that interleaved with another one would mix two values.
bool uniform(const std::vector<unsigned char>& block) {
  return std::memcmp(block.data(), block.data() + 1, block.size() - 1) == 0;
}

TEST_F(SharedMemoryTest, SegmentHasReservedHeaderInFrontOfTheUserData) {
  std::string path = dir.file("image.shm");
  auto shm = make(path, 100, 0640);
  ASSERT_EQ(shm->status, otSharedMemory::SHM_OK);
  EXPECT_EQ(shm->size(), 140ul);
  EXPECT_EQ(shm->shmKey(), (int)ftok(path.c_str(), 98));
  EXPECT_EQ(shm->shmId(), shmget(shm->shmKey(), 0, 0));
  struct shmid_ds ds;
  ASSERT_EQ(shmctl(shm->shmId(), IPC_STAT, &ds), 0);
  EXPECT_EQ(ds.shm_segsz, 140u);
  EXPECT_EQ(ds.shm_perm.mode & 0777, 0640u);

  // A second mapping of the segment sees the user data 40 bytes behind its start, and the
  // header is left alone in both directions.
  auto* raw = static_cast<unsigned char*>(shmat(shm->shmId(), nullptr, 0));
  ASSERT_NE(raw, (void*)-1);
  EXPECT_EQ(shm->write(0, "abcd", 4), 4);
  EXPECT_EQ(std::memcmp(raw + 40, "abcd", 4), 0);
  EXPECT_EQ(std::memcmp(static_cast<char*>(shm->getUserAdr()), "abcd", 4), 0);
  for (int i = 0; i < 40; i++)
    EXPECT_EQ(raw[i], 0) << i;
  std::memset(raw, 0x55, 40);
  char back[4];
  EXPECT_EQ(shm->read(0, back, 4), 4);
  EXPECT_EQ(std::memcmp(back, "abcd", 4), 0);
  shmdt(raw);
}

TEST_F(SharedMemoryTest, CopiesOutsideTheUserDataFailWithoutTouchingIt) {
  auto shm = make(dir.file("bounds.shm"), 100);
  ASSERT_EQ(shm->status, otSharedMemory::SHM_OK);
  auto* user = static_cast<unsigned char*>(shm->getUserAdr());
  std::memset(user, 0x11, 100);
  std::vector<unsigned char> data(200, 0xee), out(200, 0xee);

  const unsigned long bad[][2] = {
      {97, 4},
      {100, 1},
      {0, 101},
      {101, 0},
      {ULONG_MAX, 1},
      {ULONG_MAX - 3, 4},  // wraps to 0
      {ULONG_MAX - 1, 4},
      {ULONG_MAX - 99, 200},
  };
  for (const auto& b : bad) {
    EXPECT_EQ(shm->write(b[0], data.data(), (int)b[1]), -1) << b[0] << "+" << b[1];
    EXPECT_EQ(shm->read(b[0], out.data(), (int)b[1]), -1) << b[0] << "+" << b[1];
  }
  EXPECT_EQ(shm->write(0, data.data(), -1), -1);
  EXPECT_EQ(shm->write(0, data.data(), INT_MIN), -1);
  EXPECT_EQ(shm->read(0, out.data(), -4), -1);
  EXPECT_EQ(shm->write(0, nullptr, 4), -1);
  EXPECT_EQ(shm->read(0, nullptr, 4), -1);
  for (int i = 0; i < 100; i++)
    ASSERT_EQ(user[i], 0x11) << i;
  for (unsigned char c : out)
    ASSERT_EQ(c, 0xee);

  EXPECT_EQ(shm->write(96, data.data(), 4), 4);
  EXPECT_EQ(shm->read(96, out.data(), 4), 4);
  EXPECT_EQ(shm->write(0, data.data(), 100), 100);
  EXPECT_EQ(shm->read(0, out.data(), 100), 100);
  EXPECT_EQ(shm->write(99, data.data(), 1), 1);
}

TEST_F(SharedMemoryTest, TypedAccessUsesNativeOrderAndSignExtends) {
  auto shm = make(dir.file("typed.shm"), 100);
  ASSERT_EQ(shm->status, otSharedMemory::SHM_OK);
  auto* user = static_cast<unsigned char*>(shm->getUserAdr());

  EXPECT_EQ(shm->writeInt(8, 2, 0x12345678), 4);  // offset 8 + 4 * 2
  const unsigned char le[] = {0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(std::memcmp(user + 16, le, 4), 0);
  EXPECT_EQ(shm->readInt(8, 2), 0x12345678);
  EXPECT_EQ(shm->readInt(16, 0), 0x12345678);

  EXPECT_EQ(shm->writeShort(1, 3, -2), 2);  // offset 1 + 2 * 3
  EXPECT_EQ(user[7], 0xfe);
  EXPECT_EQ(user[8], 0xff);
  user[20] = 0xff;
  user[21] = 0xff;
  EXPECT_EQ(shm->readShort(20, 0), -1);
  EXPECT_EQ(shm->readShort(0, 10), -1);
  EXPECT_EQ(shm->writeShort(20, 0, 0x17fff), 2);  // only the low 16 bits are stored
  EXPECT_EQ(shm->readShort(20, 0), 0x7fff);

  EXPECT_EQ(shm->writeByte(30, 5, 0x80), 1);
  EXPECT_EQ(user[35], 0x80);
  EXPECT_EQ(shm->readByte(30, 5), -128);
  EXPECT_EQ(shm->writeByte(35, 0, 0x7f), 1);
  EXPECT_EQ(shm->readByte(35, 0), 127);

  EXPECT_EQ(shm->writeFloat(40, 1, 3.25f), 4);
  EXPECT_FLOAT_EQ(shm->readFloat(44, 0), 3.25f);
  EXPECT_FLOAT_EQ(shm->readFloat(40, 1), 3.25f);

  // The last element of each width that still fits, and the first that does not.
  EXPECT_EQ(shm->writeInt(0, 24, 1), 4);
  EXPECT_EQ(shm->writeInt(0, 25, 1), -1);
  EXPECT_EQ(shm->readShort(0, 49), shm->readShort(98, 0));
  EXPECT_EQ(shm->readShort(0, 50), -1);
  EXPECT_EQ(shm->writeByte(0, 100, 1), -1);
  EXPECT_FLOAT_EQ(shm->readFloat(0, 25), -1.0f);
}

TEST_F(SharedMemoryTest, NegativeOrOverflowingIndexGivesMinusOneWithoutAccess) {
  auto shm = make(dir.file("index.shm"), 100);
  ASSERT_EQ(shm->status, otSharedMemory::SHM_OK);
  // Values that a reader would find if it used offset + width * index for a negative index.
  ASSERT_EQ(shm->writeInt(0, 0, 7), 4);
  ASSERT_EQ(shm->writeFloat(4, 0, 2.5f), 4);
  EXPECT_EQ(shm->readInt(4, -1), -1);
  EXPECT_EQ(shm->readShort(2, -1), -1);
  EXPECT_EQ(shm->readByte(1, -1), -1);
  EXPECT_FLOAT_EQ(shm->readFloat(0, -1), -1.0f);
  EXPECT_FLOAT_EQ(shm->readFloat(8, -1), -1.0f);
  EXPECT_EQ(shm->readInt(0, INT_MIN), -1);

  std::vector<unsigned char> before(static_cast<unsigned char*>(shm->getUserAdr()),
                                    static_cast<unsigned char*>(shm->getUserAdr()) + 100);
  EXPECT_EQ(shm->writeInt(4, -1, 1), -1);
  EXPECT_EQ(shm->writeShort(2, -1, 1), -1);
  EXPECT_EQ(shm->writeByte(1, -1, 1), -1);
  EXPECT_EQ(shm->writeFloat(4, -1, 1.0f), -1);
  // offset + width * index must not wrap around to the start of the segment.
  EXPECT_EQ(shm->writeByte(ULONG_MAX, 1, 1), -1);
  EXPECT_EQ(shm->writeInt(ULONG_MAX - 7, 2, 1), -1);
  EXPECT_EQ(shm->readByte(ULONG_MAX, 1), -1);
  EXPECT_EQ(shm->readInt(0, INT_MAX), -1);
  EXPECT_EQ(std::memcmp(before.data(), shm->getUserAdr(), 100), 0);
}

// A server opens the image once per session: an object that is gone must not leave its
// mapping behind, or a long-running server runs out of them.
TEST_F(SharedMemoryTest, AnObjectThatIsGoneLeavesNoMappingBehind) {
  const std::string path = dir.file("image.shm");
  auto first = make(path, 4096);
  ASSERT_EQ(first->status, otSharedMemory::SHM_OK);
  auto countLines = [] {
    std::string maps = ottest::readFile("/proc/self/maps");
    return std::count(maps.begin(), maps.end(), '\n');
  };
  long before = countLines();
  for (int i = 0; i < 500; i++) {
    otSharedMemory shm(path.c_str(), 4096);
    ASSERT_EQ(shm.status, otSharedMemory::SHM_OK);
    ASSERT_EQ(shm.writeInt(0, 0, i), 4);
  }
  // A leak shows as one mapping an object; a sanitizer's allocator may map a few of its own.
  EXPECT_LE(countLines(), before + 50);
  EXPECT_EQ(first->readInt(0, 0), 499);
}

TEST_F(SharedMemoryTest, DeleteRemovesTheSegmentAndEveryLaterCopyFails) {
  auto shm = make(dir.file("delete.shm"), 100);
  ASSERT_EQ(shm->status, otSharedMemory::SHM_OK);
  int key = shm->shmKey();
  char buf[4] = {1, 2, 3, 4};
  ASSERT_EQ(shm->write(0, buf, 4), 4);

  EXPECT_EQ(shm->deleteSharedMemory(), 0);
  EXPECT_LT(shmget(key, 0, 0), 0);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(shm->size(), 0ul);
  EXPECT_EQ(shm->write(0, buf, 4), -1);
  EXPECT_EQ(shm->read(0, buf, 4), -1);
  EXPECT_EQ(shm->write(0, buf, 1), -1);
  EXPECT_EQ(shm->readInt(0, 0), -1);
  EXPECT_EQ(shm->writeShort(0, 0, 1), -1);
  EXPECT_EQ(shm->readByte(0, 0), -1);
  EXPECT_FLOAT_EQ(shm->readFloat(0, 0), -1.0f);
  EXPECT_EQ(shm->deleteSharedMemory(), -1);

  // The next object under the same path gets a fresh, zeroed segment.
  auto again = make(dir.file("delete.shm"), 100);
  ASSERT_EQ(again->status, otSharedMemory::SHM_OK);
  EXPECT_NE(again->shmId(), shm->shmId());
  EXPECT_EQ(again->readInt(0, 0), 0);
}

TEST_F(SharedMemoryTest, TooSmallExistingSegmentFailsAndLeavesNoLock) {
  std::string path = dir.file("small.shm");
  auto first = make(path, 16);
  ASSERT_EQ(first->status, otSharedMemory::SHM_OK);
  otSharedMemory bigger(path.c_str(), 1000);
  EXPECT_EQ(bigger.status, otSharedMemory::SHM_ERROR_SEGMENT);
  EXPECT_EQ(bigger.size(), 0ul);
  EXPECT_EQ(bigger.getUserAdr(), nullptr);
  char buf[4] = {};
  EXPECT_EQ(bigger.write(0, buf, 4), -1);
  EXPECT_EQ(bigger.read(0, buf, 4), -1);
  EXPECT_EQ(bigger.readInt(0, 0), -1);
  EXPECT_EQ(bigger.deleteSharedMemory(), -1);

  // The failed object still holds its descriptor; a lock left on it would block everyone.
  int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  flock(fd, LOCK_UN);
  close(fd);
  EXPECT_EQ(first->write(0, buf, 4), 4);
}

TEST_F(SharedMemoryTest, CopiesWaitForTheFileLock) {
  std::string path = dir.file("lock.shm");
  auto shm = make(path, 100);
  ASSERT_EQ(shm->status, otSharedMemory::SHM_OK);
  // Another holder of the lock, as a second process would be.
  int fd = open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  std::atomic<int> written{0}, readBack{0};
  std::thread writer([&] { written = shm->writeInt(0, 0, 99); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(written.load(), 0) << "write did not wait for the lock";
  flock(fd, LOCK_UN);
  writer.join();
  EXPECT_EQ(written.load(), 4);

  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  std::thread reader([&] { readBack = shm->readInt(0, 0); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(readBack.load(), 0) << "read did not wait for the lock";
  flock(fd, LOCK_UN);
  reader.join();
  EXPECT_EQ(readBack.load(), 99);
  close(fd);
}

TEST_F(SharedMemoryTest, TwoProcessesMeetByPath) {
  std::string path = dir.file("meet.shm");
  auto shm = make(path, 100);
  ASSERT_EQ(shm->status, otSharedMemory::SHM_OK);
  ASSERT_EQ(shm->writeInt(0, 0, 4711), 4);
  int wstatus = ottest::runChild([&] {
    otSharedMemory child(path.c_str(), 100);
    if (child.status != 0 || child.shmId() != shm->shmId()) return 1;
    if (child.readInt(0, 0) != 4711) return 2;
    return child.writeShort(10, 1, -300) == 2 ? 0 : 3;
  });
  ASSERT_TRUE(WIFEXITED(wstatus));
  EXPECT_EQ(WEXITSTATUS(wstatus), 0);
  EXPECT_EQ(shm->readShort(12, 0), -300);
}

TEST_F(SharedMemoryTest, CopiesOfTwoProcessesNeverInterleave) {
  const int block = 32 * 1024;
  std::string path = dir.file("tear.shm");
  auto shm = make(path, block);
  ASSERT_EQ(shm->status, otSharedMemory::SHM_OK);
  int wstatus = -1;
  pid_t pid = fork();
  if (pid == 0) {
    otSharedMemory child(path.c_str(), block);
    std::vector<unsigned char> data(block);
    for (int i = 0; i < 3000; i++) {
      std::memset(data.data(), i & 0xff, data.size());
      if (child.write(0, data.data(), block) != block) _exit(1);
    }
    _exit(0);
  }
  ASSERT_GT(pid, 0);
  std::vector<unsigned char> data(block);
  int reads = 0, torn = 0;
  int failed = 0;
  while (waitpid(pid, &wstatus, WNOHANG) == 0) {
    if (shm->read(0, data.data(), block) != block) failed++;
    reads++;
    if (!uniform(data)) torn++;
  }
  ASSERT_TRUE(WIFEXITED(wstatus));
  EXPECT_EQ(WEXITSTATUS(wstatus), 0);
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
}

// Threads of one process: with one object each, the separate descriptors of the file exclude
// each other; sharing one object, its mutex does.
void hammer(otSharedMemory* writerSide, otSharedMemory* readerSide, int block) {
  std::atomic<bool> stop{false};
  std::atomic<int> failed{0};
  std::thread writer([&] {
    std::vector<unsigned char> data(block);
    for (int i = 0; !stop; i++) {
      std::memset(data.data(), i & 0xff, data.size());
      if (writerSide->write(0, data.data(), block) != block) failed++;
    }
  });
  std::vector<unsigned char> data(block);
  int torn = 0;
  for (int i = 0; i < 20000; i++) {
    if (readerSide->read(0, data.data(), block) != block) failed++;
    if (!uniform(data)) torn++;
  }
  stop = true;
  writer.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(torn, 0) << "of 20000 reads";
}

TEST_F(SharedMemoryTest, ThreadsWithOwnObjectsAreSerialisedByTheFileLock) {
  std::string path = dir.file("threads.shm");
  auto a = make(path, 16 * 1024);
  otSharedMemory b(path.c_str(), 16 * 1024);
  ASSERT_EQ(a->status, 0);
  ASSERT_EQ(b.status, 0);
  hammer(a.get(), &b, 16 * 1024);
}

TEST_F(SharedMemoryTest, ThreadsSharingOneObjectAreSerialised) {
  auto shm = make(dir.file("one.shm"), 16 * 1024);
  ASSERT_EQ(shm->status, 0);
  hammer(shm.get(), shm.get(), 16 * 1024);
}

TEST_F(SharedMemoryTest, UnopenableFileEndsTheProcessWithMinusOne) {
  std::string path = dir.file("missing/image.shm");
  std::string output;
  int wstatus = ottest::runChild(
      [&] {
        otSharedMemory shm(path.c_str(), 10);
        return 0;  // not reached
      },
      &output);
  ASSERT_TRUE(WIFEXITED(wstatus));
  EXPECT_EQ(WEXITSTATUS(wstatus), 255);
  EXPECT_EQ(output, "could not write shm=" + path + "\nyou have to run this program as root !!!\n");
}

}  // namespace
