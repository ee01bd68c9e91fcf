// PPI read rate: 4-byte reads of V memory through libotnodave against otppisim on a socat pty
// pair set to 19200 baud, beside the wire limit of that speed: each read is one exchange of
// request, acknowledgement, poll and reply, whose bytes take 11 bits each on the line (start,
// 8 data, even parity, stop). A pty does not pace its bytes at the baud rate, so the measured
// rate can pass the wire limit; the ratio then says how much faster than a real line the
// pty-and-simulator pair is, and the time per exchange that this side adds is printed too.
extern "C" {
#include "nodave.h"
#include "setport.h"
}

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "benchrounds.h"
#include "ottime.h"
#include "socatpair.h"
#include "testutil.h"

extern char** environ;

int main() {
  const int baud = 19200;
  // request 68 1B 1B 68 + 27 + FCS ED, E5, poll 10 DA SA FC FCS ED, reply 68 19 19 68 + 25 + 2
  const int bytesPerExchange = 33 + 1 + 6 + 31;
  const double wireLimit = baud / (bytesPerExchange * 11.0);

  ottest::TempDir dir;
  ottest::SocatPair pair;
  std::string why = pair.start(dir.path());
  if (!why.empty()) {
    fprintf(stderr, "bench_ppi_read: %s\n", why.c_str());
    return 1;
  }
  std::string log = dir.file("sim.log");
  std::string serial = "-serial=" + pair.b();
  const char* argv[] = {OTPPISIM, serial.c_str(), "-baud=19200", "-set=v:0:0x98,0x76,0x45,0x12",
                        nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t sim;
  int rc = posix_spawn(&sim, OTPPISIM, &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    fprintf(stderr, "bench_ppi_read: cannot start %s\n", OTPPISIM);
    return 1;
  }
  for (int i = 0; i < 500 && ottest::readFile(log).find("serving") == std::string::npos; i++)
    usleep(10000);

  int status = 1;
  int fd = setPort(pair.a().c_str(), "19200", 'E');
  _daveOSserialType fds = {fd, fd};
  daveInterface* di =
      fd > 2 ? daveNewInterface(fds, "IF1", 0, daveProtoPPI, daveSpeed19k) : nullptr;
  daveConnection* dc = di ? daveNewConnection(di, 2, 0, 0) : nullptr;
  unsigned char data[4];
  if (dc != nullptr) {
    int bad = 0;
    for (int i = 0; i < 100; i++)  // warm-up
      if (daveReadBytes(dc, daveDB, 1, 0, 4, data) != daveResOK) bad++;
    // Rounds of a share of three seconds each; the wire limit, a figure of the line, is the
    // same in every round and stands beside them as the reference.
    char name[64];
    snprintf(name, sizeof name, "wire limit at %d baud", baud);
    otBenchSide measured("otnodave against otppisim over a pty", "reads/s"), wire(name, "reads/s");
    for (int round = 0; round < otBenchRounds; round++) {
      long long start = otMonotonicMs();
      int reads = 0;
      while (otMonotonicMs() - start < 3000 / otBenchRounds) {
        if (daveReadBytes(dc, daveDB, 1, 0, 4, data) != daveResOK || data[0] != 0x98) bad++;
        reads++;
      }
      measured.add(reads / ((otMonotonicMs() - start) / 1000.0));
      wire.add(wireLimit);
    }
    const double rate = measured.median();
    printf("exchange: %d bytes on the line, %.1f ms at %d baud (11 bits a byte)\n",
           bytesPerExchange, 1000.0 / wireLimit, baud);
    wire.print();
    measured.print();
    printf("a read over the pty: %.3f ms, %d failed\n", 1000.0 / rate, bad);
    // On a real line each read takes its wire time plus what the pty pair takes now (this
    // library, socat and the simulator together): an estimate, not a measurement.
    double estimate = 1000.0 / (1000.0 / wireLimit + 1000.0 / rate);
    printf("estimate for a paced 19200-baud line: %.1f reads/s (%.3f of the wire limit)\n",
           estimate, estimate / wireLimit);
    otBenchRatio("ratio measured/wire limit", measured, wire, {&measured, &wire});
    status = bad == 0 ? 0 : 1;
  } else {
    fprintf(stderr, "bench_ppi_read: cannot set up the master on %s\n", pair.a().c_str());
  }
  daveFree(dc);
  daveFree(di);
  if (fd >= 0) close(fd);
  kill(sim, SIGTERM);
  waitpid(sim, nullptr, 0);
  return status;
}
