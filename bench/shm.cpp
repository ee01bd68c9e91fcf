// 16-bit reads and writes per second through otSharedMemory (each one takes the file lock),
// beside the same accesses made directly through getUserAdr() without any lock. The ratio
// prices the lock. Usage: bench_shm [operations]. The last line is the ratio ours/reference.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "benchrounds.h"
#include "otsharedmemory.h"

namespace {

const int kShorts = 512;  // a process image of 1 KiB

// Each operation pair writes one register and reads it back; the sum keeps the reads alive.
double lockedRate(otSharedMemory* shm, long operations) {
  long long sum = 0;
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < operations / 2; i++) {
    int index = (int)(i % kShorts);
    shm->writeShort(0, index, (int)i);
    sum += shm->readShort(0, index);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (sum == 42) printf(" ");
  return operations / seconds;
}

double directRate(void* user, long operations) {
  // volatile: each access must reach the segment, as another process would need it to.
  volatile short* image = static_cast<volatile short*>(user);
  long long sum = 0;
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < operations / 2; i++) {
    int index = (int)(i % kShorts);
    image[index] = (short)i;
    sum += image[index];
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (sum == 42) printf(" ");
  return operations / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  // The count is for a whole run; each round gets its share.
  long operations = (argc > 1 ? atol(argv[1]) : 6000000) / otBenchRounds;
  if (operations < 2) operations = 2;
  const char* base = getenv("TMPDIR");
  std::string path = std::string(base && *base ? base : "/tmp") + "/otkit-bench-XXXXXX";
  int fd = mkstemp(&path[0]);
  if (fd < 0) {
    perror("mkstemp");
    return 1;
  }
  close(fd);

  otSharedMemory shm(path.c_str(), kShorts * 2);
  if (shm.status != 0) {
    fprintf(stderr, "shared memory status %d\n", shm.status);
    if (shm.shmId() >= 0) shmctl(shm.shmId(), IPC_RMID, nullptr);
    unlink(path.c_str());
    return 1;
  }
  lockedRate(&shm, operations / 10);  // warm-up
  directRate(shm.getUserAdr(), operations / 10);
  otBenchSide ours("otSharedMemory (readShort/writeShort, file-locked)", "operations/s");
  otBenchSide ref("reference (direct access through getUserAdr)", "operations/s");
  otBenchInterleave(
      ours, [&] { return lockedRate(&shm, operations); }, ref,
      [&] { return directRate(shm.getUserAdr(), operations); });
  shm.deleteSharedMemory();
  unlink(path.c_str());

  ours.print();
  ref.print();
  printf("lock cost: %.0f ns per operation\n", 1e9 / ours.median() - 1e9 / ref.median());
  otBenchRatio("ratio ours/reference", ours, ref, {&ours, &ref}, 4);
  return 0;
}
