// The plant mask of the sample server against the daemon it shows. otmodbussim plays the plant,
// the daemon generated from the demo project polls it; the plant mask (otsample's mask 1)
// reads the daemon's process image. First one client: full refreshes (every value, the trend,
// the picture's changes) back to back, each acknowledged by the client, in passes per second
// beside the daemon's own passes per second. Then 1, 10, 50 and 100 clients at once at the
// mask's 1 s refresh: the longest pass of each, and whether every pass ended within the
// refresh. The clients are protocol clients of this program (they read everything and answer
// the syncs); the last line is the ratio of mask passes to daemon passes.
//   bench_plant_mask [SECONDS]
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "benchrounds.h"
#include "daemontest.h"
#include "demo.h"
#include "hxtestutil.h"
#include "otsharedmemory.h"
#include "ottime.h"
#include "plant.h"
#include "sample.h"

namespace {

std::atomic<bool> paced{false};  // false: full refreshes back to back; true: 1 s refresh
std::atomic<bool> running{true};
std::atomic<long> passes{0};
std::mutex statsLock;
double longestMs = 0;

int serve(PARAM_* p) {
  PlantMask mask(p);
  if (mask.define() < 0) return 0;
  long long due = otMonotonicMs();
  while (running) {
    if (paced) {
      long long wait = due - otMonotonicMs();
      if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, 50LL)));
      if (otMonotonicMs() < due) continue;
      due += 1000;
    }
    auto t0 = std::chrono::steady_clock::now();
    if (mask.refresh(!paced) < 0) return 0;
    double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    passes++;
    std::lock_guard<std::mutex> hold(statsLock);
    longestMs = std::max(longestMs, ms);
  }
  return 0;
}

// A display client that reads everything and acknowledges the syncs.
struct Client {
  explicit Client(int port) : c(port) {
    reader = std::thread([this] {
      for (;;) {
        std::string line = c.line();
        if (line.empty()) {
          if (done) return;
          continue;
        }
        if (line.compare(0, 5, "sync(") == 0) {
          std::string answer = "synced(" + line.substr(5, line.find(')') - 5) + ")\n";
          if (::send(c.fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) return;
        }
      }
    });
  }
  ~Client() {
    done = true;
    shutdown(c.fd, SHUT_RDWR);
    reader.join();
  }
  hxtest::Client c;
  std::atomic<bool> done{false};
  std::thread reader;
};

long passCount(otSharedMemory& shm) {
  unsigned char b[4] = {0, 0, 0, 0};
  shm.read(demo_PASS_COUNT, b, 4);
  return (long)b[0] << 24 | (long)b[1] << 16 | (long)b[2] << 8 | (long)b[3];
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
  ottest::TempDir dir;
  const std::string shm = dir.file("demo.shm"), mbx = dir.file("demo.mbx");

  const int simPort = ottest::freePort();
  hxtest::Process sim, daemon;
  sim.start(dir.path(), OTKIT_TOOLS_DIR "/otmodbussim",
            {"-tcp=127.0.0.1:" + std::to_string(simPort), "-simulate"}, dir.file("sim.log"));
  if (!hxtest::waitFor([&] { return sim.log().find("listening") != std::string::npos; })) {
    fprintf(stderr, "plant_mask: the simulator did not start\n");
    return 1;
  }
  std::string project = ottest::readFile(OTKIT_SOURCE_DIR "/examples/demo.mkmodbus");
  project = hxtest::withKeys(
      project, {{"shared_memory", shm}, {"mailbox", mbx}, {"tcpport", std::to_string(simPort)}});
  std::string output;
  if (hxtest::generateAndCompile("mkmodbus", dir, "demo.mkmodbus", project, &output) != 0) {
    fprintf(stderr, "plant_mask: the daemon did not build:\n%s", output.c_str());
    return 1;
  }
  daemon.start(dir.path(), dir.file("daemon"), {}, dir.file("daemon.log"));
  std::unique_ptr<otSharedMemory> image;
  if (!hxtest::waitFor([&] {
        if (access(shm.c_str(), F_OK) != 0) return false;
        if (image == nullptr) image.reset(new otSharedMemory(shm.c_str(), demo_SHARED_MEMORY_SIZE));
        return passCount(*image) > 2;
      })) {
    fprintf(stderr, "plant_mask: the daemon does not poll\n%s", daemon.log().c_str());
    return 1;
  }

  setenv("OTKIT_SVGCAT", OTKIT_SVGCAT_PROGRAM, 1);
  sampleSettings.dataDir = OTSAMPLE_DATA_DIR;
  sampleSettings.sharedMemory = shm.c_str();
  sampleSettings.mailbox = mbx.c_str();
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.port = 0;
  o.maxClients = 200;
  hxServer* server = hxServerStart(&o, serve, nullptr);
  if (server == nullptr) return 1;
  const int port = hxServerPort(server);

  // One client, full refreshes back to back, beside the daemon's passes in the same windows:
  // the time shared out among the rounds.
  otBenchSide maskSide(
      "plant mask, one client, full refresh (every value, the trend, the picture), each pass "
      "acknowledged",
      "passes/s");
  otBenchSide daemonSide("the daemon polling the simulator", "passes/s");
  {
    Client one(port);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // definition and picture
    for (int round = 0; round < otBenchRounds; round++) {
      long m0 = passes, d0 = passCount(*image);
      long long t0 = otMonotonicMs();
      std::this_thread::sleep_for(std::chrono::milliseconds(seconds * 1000 / otBenchRounds));
      double s = (otMonotonicMs() - t0) / 1000.0;
      maskSide.add((passes - m0) / s);
      daemonSide.add((passCount(*image) - d0) / s);
    }
  }
  hxtest::waitFor([&] { return hxServerClients(server) == 0; });

  // Many clients at the 1 s refresh.
  paced = true;
  int served = 0;
  std::vector<std::string> rows;
  for (int n : {1, 10, 50, 100}) {
    std::vector<std::unique_ptr<Client>> clients;
    for (int k = 0; k < n; k++)
      clients.emplace_back(new Client(port));
    hxtest::waitFor([&] { return hxServerClients(server) == n; });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // definitions and pictures
    {
      std::lock_guard<std::mutex> hold(statsLock);
      longestMs = 0;
    }
    long p0 = passes;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double longest;
    {
      std::lock_guard<std::mutex> hold(statsLock);
      longest = longestMs;
    }
    long made = passes - p0;
    bool ok = longest < 1000 && made >= (long)n * (seconds - 1);
    if (ok) served = n;
    char row[160];
    snprintf(row, sizeof row,
             "%3d clients at a 1 s refresh: %ld passes in %d s, longest %.1f ms: %s", n, made,
             seconds, longest, ok ? "every client served" : "NOT served in time");
    rows.push_back(row);
    clients.clear();
    hxtest::waitFor([&] { return hxServerClients(server) == 0; });
  }
  running = false;
  hxServerStop(server);
  daemon.stop();
  sim.stop();
  // The daemon's image and mailbox go with the run.
  image.reset();
  int shmId = shmget(ftok(shm.c_str(), 'b'), 0, 0);
  if (shmId >= 0) shmctl(shmId, IPC_RMID, nullptr);
  int mbxId = msgget(ftok(mbx.c_str(), 'b'), 0);
  if (mbxId >= 0) msgctl(mbxId, IPC_RMID, nullptr);

  maskSide.print();
  daemonSide.print();
  for (const std::string& r : rows)
    printf("%s\n", r.c_str());
  printf("clients served at 1 s: up to %d\n", served);
  otBenchRatio("ratio mask passes/daemon passes", maskSide, daemonSide, {&maskSide, &daemonSide});
  return served == 100 ? 0 : 1;
}
