// Reads of 32 bytes from DB10 on one connection each to the same snap7 server on loopback:
// otSiemensTCP::fetch against a plain client that sends the same hand-built S7 frames and reads
// each reply (s7frames.h), in the same run; and the floor of this server: the same frame sent
// and its reply taken by blocking receives, without a poll or a deadline.
// Usage: bench_s7_read [reads]. The last line is the ratio ours/reference.
//
// The benchmark and the server (which inherits the affinity) run on one CPU. Spread over two,
// the scheduler now and then leaves one connection's server thread and its client on different
// CPUs for the whole run, and that connection then manages a sixth of the other's reads per
// second (observed on either side, with the same system calls per read): the ratio would
// measure the scheduler, not the client.
#include <sched.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../otkit/tests/s7frames.h"
#include "benchrounds.h"
#include "../otkit/tests/snap7server.h"
#include "otsiemenstcp.h"

namespace {

double ourBatch(otSiemensTCP& plc, int n) {
  unsigned char buf[32];
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; i++)
    if (plc.fetch(otSiemensTCP::ORG_DB, 10, 0, 32, buf) != 32 || buf[31] != 31) std::exit(2);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double referenceBatch(int fd, const std::string& job, int n) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; i++) {
    std::string reply = s7frames::transact(fd, job, 2000);
    if (reply.size() != 25 + 32 || s7frames::byteAt(reply, 25 + 31) != 31) std::exit(3);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double floorBatch(int fd, const std::string& job, int n) {
  char reply[512];
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; i++) {
    if (!s7frames::sendAll(fd, job)) std::exit(4);
    int got = 0;
    while (got < 4 || got < (unsigned char)reply[2] * 256 + (unsigned char)reply[3]) {
      ssize_t r = ::recv(fd, reply + got, sizeof reply - (size_t)got, 0);
      if (r <= 0) std::exit(4);
      got += (int)r;
    }
    if (got != 25 + 32 || reply[25 + 31] != 31) std::exit(4);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  int total = argc > 1 ? std::atoi(argv[1]) : 20000;
  int cpu = sched_getcpu();
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu < 0 ? 0 : cpu, &one);
  if (sched_setaffinity(0, sizeof(one), &one) != 0) std::perror("sched_setaffinity");
  ottest::Snap7Server server;
  if (!server.ok()) {
    std::fprintf(stderr, "%s\n", server.error().c_str());
    return 1;
  }
  otSiemensTCP ours("127.0.0.1", otSiemensTCP::S7_300, 0, -1, -1);
  ours.setPort(server.port());
  int fd = s7frames::openSession(server.port());
  int floorFd = s7frames::openSession(server.port());
  if (fd < 0 || floorFd < 0) return 1;
  const std::string job = s7frames::readVar(s7frames::kDB, 10, 0, 32);

  ourBatch(ours, 1000);  // warm-up, and the connection
  referenceBatch(fd, job, 1000);
  floorBatch(floorFd, job, 1000);
  // The count is for a whole run; each round gets its share.
  const int perRound = total / otBenchRounds;
  if (perRound < 1) return 2;
  otBenchSide oursSide("otSiemensTCP (32 bytes of DB10)", "reads/s");
  otBenchSide refSide("reference (hand-built frames)", "reads/s");
  otBenchSide floorSide("blocking receives, same frames", "reads/s");
  otBenchInterleave(
      oursSide, [&] { return perRound / ourBatch(ours, perRound); }, refSide,
      [&] { return perRound / referenceBatch(fd, job, perRound); }, floorSide,
      [&] { return perRound / floorBatch(floorFd, job, perRound); });
  close(fd);
  close(floorFd);
  ours.disconnect();
  server.stop();
  oursSide.print();
  refSide.print();
  floorSide.print();
  otBenchShares("ours", oursSide, "reference", refSide, "floor", floorSide);
  otBenchRatio("ratio ours/reference", oursSide, refSide, {&oursSide, &refSide, &floorSide});
  return 0;
}
