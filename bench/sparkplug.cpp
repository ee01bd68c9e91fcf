// The process image over MQTT: 10 000 tags of an image, 50 000 changes a second, from an edge
// node (otsparkplug) through Debian's mosquitto into a mirror (otspmirror), against plain MQTT
// through the same broker carrying the same number of messages of the same size.
// Ours: every 10 ms the bench changes 500 tags of the edge's image (each tag every 200 ms) and
// watches the mirror's image; a change counts as delivered when the mirror holds it, and its
// latency runs from the write into the edge's image (so it includes the edge's scan, at most
// 2 ms) to the mirror's image (whose passes run every 5 ms).
// Plain: a publisher sends as many messages of the same size at the same pace, a subscriber
// takes them; latency from the publish to the receipt.
// Five rounds of each side in turns. Printed: delivered changes and the latency median and 99th
// percentile of each, each side's median rate and spread, then the ratio of the medians of
// delivered changes ours/plain.
#include <stdio.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "benchrounds.h"
#include "brokertest.h"
#include "gdaemon.h"
#include "otdaemon.h"
#include "otmailbox.h"
#include "otsharedmemory.h"
#include "otspcodec.h"
#include "ottagtable.h"

namespace {

const int kTags = 10000;
const int kPerRound = 500;   // changes every round
const int kRoundMs = 10;     // 50 000 changes a second
const int kRounds = 500;     // 5 s
const int kRegisters = 125;  // per cycle
const int kCycles = kTags / kRegisters;

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, (size_t)(p * (double)v.size()))];
}

// The value of tag k after round r (each tag changes every kTags / kPerRound rounds).
int16_t valueOf(int round) {
  return (int16_t)(round % 30000 + 1);
}

}  // namespace

int main() {
  ottest::TempDir dir;
  const std::string shm = dir.file("edge.shm"), mbx = dir.file("edge.mbx");
  const std::string mirrorShm = dir.file("mirror.shm"), mirrorMbx = dir.file("mirror.mbx");
  std::string description = "target=bench\nshared_memory=" + shm + "\nmailbox=" + mbx +
                            "\ncommunication=socket\ntcpadr=127.0.0.1\ntcpport=1\n";
  for (int c = 0; c < kCycles; c++)
    description += "cycle" + std::to_string(c + 1) +
                   " slave=1 function=3 start_adr=" + std::to_string(c * kRegisters) +
                   " num_register=" + std::to_string(kRegisters) + "\n";
  hxDaemonFiles out;
  if (hxGenerate(HX_DAEMON_MODBUS, "bench.mkmodbus", description, &out) != 0) {
    fprintf(stderr, "sparkplug: %s\n", out.log.c_str());
    return 1;
  }
  ottest::writeFile(dir.file("bench.h"), out.header);
  std::string table;
  for (int k = 0; k < kTags; k++)
    table += "t" + std::to_string(k) + " bench.h " + std::to_string(k / kRegisters + 1) + " " +
             std::to_string(k % kRegisters) + " short 1 0 - - -\n";
  ottest::writeFile(dir.file("tags.txt"), table);
  otDaemonHeader header;
  std::string error;
  if (otReadDaemonHeader(out.header.c_str(), &header, &error) != 0) {
    fprintf(stderr, "sparkplug: %s\n", error.c_str());
    return 1;
  }
  const long blocks = header.cycles.back().base + header.cycles.back().bytes;

  // The edge's image, kept by the bench as its daemon would.
  otSharedMemory image(shm.c_str(), header.size);
  otMailbox mailbox(mbx.c_str());
  otDaemonStatus status(image, otImageStatus(blocks, kCycles));
  status.init();
  status.passStart();
  for (int c = 1; c <= kCycles; c++)
    status.cycleDone(c, true);
  status.passEnd(kCycles);

  brokertest::Mosquitto broker(dir);
  if (!broker.start()) {
    fprintf(stderr, "sparkplug: mosquitto does not start: %s\n", broker.output().c_str());
    return 1;
  }
  modbussim::Child edge, mirror;
  edge.start({OTSPARKPLUG, "-tags=" + dir.file("tags.txt"), "-group=bench", "-node=edge", "-scan=2",
              "-broker=" + broker.address()},
             dir.file("edge.log"));
  mirror.start({OTSPMIRROR, "-tags=" + dir.file("tags.txt"), "-group=bench", "-node=edge",
                "-broker=" + broker.address(), "-shm=" + mirrorShm, "-mbx=" + mirrorMbx},
               dir.file("mirror.log"));
  // The mirror's image, once it holds the birth.
  std::unique_ptr<otSharedMemory> seen;
  bool born = brokertest::waitFor(
      [&] {
        if (access(mirrorShm.c_str(), F_OK) != 0) return false;
        if (!seen) seen.reset(new otSharedMemory(mirrorShm.c_str(), header.size));
        unsigned char state = 0;
        seen->read((int)(blocks + otImageStatus::COUNTERS + otImageStatus::CYCLE_STATE), &state, 1);
        return state == otImageStatus::STATE_GOOD;
      },
      20000);
  if (!born) {
    fprintf(stderr, "sparkplug: the mirror holds no birth\nedge: %s\nmirror: %s\n",
            edge.output().c_str(), mirror.output().c_str());
    return 1;
  }

  // ---- rounds: ours and plain in turns ---------------------------------------------------
  // The plain side's message: one pass of changes as the edge sends them (Int16 by alias), one
  // message a pass; the edge's own count of its data messages is checked against it at the end.
  otSpPayload typical;
  typical.hasTimestamp = typical.hasSeq = true;
  typical.timestamp = 1765280000000ull;
  typical.seq = 200;
  for (int i = 0; i < kPerRound; i++) {
    otSpMetric m;
    m.hasAlias = true;
    m.alias = 5000 + (uint64_t)i;
    m.setNumber(OT_SP_INT16, 12345);
    m.datatype = OT_SP_UNKNOWN;
    typical.metrics.push_back(m);
  }
  std::string bytes;
  otSpEncode(typical, &bytes);

  const int passes = kRounds / otBenchRounds;  // passes of changes in one round of each side
  std::vector<double> latencies, plainLatencies;
  long offered = 0, delivered = 0, plainOffered = 0, plainDelivered = 0;
  int nextPass = 0;  // the first pass of ours not yet written (values go on from round to round)
  // One round of ours: passes of changes at the pace, each delivered once the mirror holds all
  // of it. Changes per second delivered.
  auto oursRound = [&]() -> double {
    const int first = nextPass;
    nextPass += passes;
    std::vector<long long> writtenAt((size_t)passes, 0);
    std::atomic<int> written{0};
    std::atomic<bool> done{false};
    long seenWhole = 0;
    std::thread watcher([&] {
      std::vector<unsigned char> now((size_t)blocks);
      int next = 0;  // the first pass of the round not yet seen whole
      while (!done || next < written) {
        seen->read(0, now.data(), (int)blocks);
        while (next < written) {
          const int16_t want = valueOf(first + next);
          bool whole = true;
          for (int i = 0; i < kPerRound && whole; i++) {
            const int k = ((first + next) * kPerRound + i) % kTags;
            const int16_t v = (int16_t)((now[(size_t)k * 2] << 8) | now[(size_t)k * 2 + 1]);
            // A later pass may have changed the tag again.
            whole = v == want || (int16_t)(v - want) > 0;
          }
          if (!whole) break;
          latencies.push_back((double)(modbussim::nowMs() - writtenAt[(size_t)next]));
          seenWhole++;
          next++;
        }
        if (done && modbussim::nowMs() > writtenAt[(size_t)passes - 1] + 2000) break;
        usleep(500);
      }
    });
    const long long start = modbussim::nowMs();
    for (int r = 0; r < passes; r++) {
      long long due = start + (long long)r * kRoundMs;
      while (modbussim::nowMs() < due)
        usleep(200);
      // A pass's tags lie side by side, as a daemon's cycle writes its block: one copy.
      const int16_t v = valueOf(first + r);
      std::vector<unsigned char> block((size_t)kPerRound * 2);
      for (int i = 0; i < kPerRound; i++) {
        block[(size_t)i * 2] = (unsigned char)((uint16_t)v >> 8);
        block[(size_t)i * 2 + 1] = (unsigned char)v;
      }
      image.write((unsigned long)(((first + r) * kPerRound) % kTags) * 2, block.data(),
                  (int)block.size());
      writtenAt[(size_t)r] = modbussim::nowMs();
      written = r + 1;
    }
    const long long end = modbussim::nowMs();
    done = true;
    watcher.join();
    offered += (long)passes * kPerRound;
    delivered += seenWhole * kPerRound;
    return (double)seenWhole * kPerRound * 1000.0 / (double)std::max(1LL, end - start);
  };
  // One round of plain MQTT: as many messages at the same pace, through a publisher and a
  // subscriber of the round's own (a subscriber left on the broker would take ours too).
  auto plainRound = [&]() -> double {
    brokertest::Listener subscriber(broker.address());
    long received = 0;
    subscriber.session().message = [&](const std::string& topic, const unsigned char* d, int n) {
      if (topic != "spBv1.0/bench/NDATA/plain") return;  // a retained STATE, say
      long long sent = 0;
      if (n >= 8) memcpy(&sent, d, 8);
      plainLatencies.push_back((double)(modbussim::nowMs() - sent));
      received++;
    };
    subscriber.connect();
    otMqttOptions o;
    otMqttSession::parseBrokers(broker.address(), &o.brokers, &error);
    o.clientId = "bench-publisher";
    otMqttSession publisher(o);
    brokertest::waitFor(
        [&] {
          publisher.poll(10);
          return publisher.isConnected();
        },
        5000);
    std::atomic<bool> stopping{false};
    std::thread taker([&] {
      const long long giveUp = modbussim::nowMs() + (long long)passes * kRoundMs + 60000;
      while (!stopping || received < passes) {
        subscriber.session().poll(1);
        if (stopping && modbussim::nowMs() > giveUp) break;
      }
    });
    const long long t0 = modbussim::nowMs();
    for (int i = 0; i < passes; i++) {
      for (;;) {
        const long long wait = (long long)i * kRoundMs - (modbussim::nowMs() - t0);
        if (wait <= 0) break;
        publisher.poll((int)wait + 1);
      }
      long long now = modbussim::nowMs();
      memcpy(&bytes[0], &now, 8);
      publisher.publish("spBv1.0/bench/NDATA/plain", bytes, 0, false);
      publisher.poll(0);
    }
    const long long t1 = modbussim::nowMs();
    for (int i = 0; i < 200; i++)
      publisher.poll(5);
    stopping = true;
    taker.join();
    plainOffered += (long)passes * kPerRound;
    plainDelivered += received * kPerRound;
    return (double)received * kPerRound * 1000.0 / (double)std::max(1LL, t1 - t0);
  };
  otBenchSide ours("ours  (edge -> mosquitto -> mirror image)", "changes/s delivered");
  otBenchSide plain("plain (publisher -> mosquitto -> subscriber)", "changes/s delivered");
  otBenchInterleave(ours, oursRound, plain, plainRound);
  edge.stop(SIGTERM, 5000);
  mirror.stop(SIGTERM, 5000);
  long messages = 0, changes = 0;
  {
    std::string log = edge.output();
    size_t at = log.find("births, ");
    if (at != std::string::npos)
      sscanf(log.c_str() + at, "births, %ld data messages, %ld", &messages, &changes);
  }

  printf(
      "%d tags, %d changes every %d ms, %d rounds of %d ms a side; the edge sent %ld NDATA "
      "messages for %d passes, plain %zu bytes a message\n",
      kTags, kPerRound, kRoundMs, otBenchRounds, passes * kRoundMs, messages, kRounds,
      bytes.size());
  printf("ours: %ld of %ld changes delivered, latency median %.1f ms, p99 %.1f ms\n", delivered,
         offered, percentile(latencies, 0.5), percentile(latencies, 0.99));
  printf("plain: %ld of %ld changes delivered, latency median %.1f ms, p99 %.1f ms\n",
         plainDelivered, plainOffered, percentile(plainLatencies, 0.5),
         percentile(plainLatencies, 0.99));
  ours.print();
  plain.print();
  otBenchRatio("ratio ours/plain", ours, plain, {&ours, &plain});
  // The queues and segments of both images go with the bench.
  for (const std::string& path : {shm, mbx, mirrorShm, mirrorMbx}) {
    key_t key = ftok(path.c_str(), 'b');
    int id = msgget(key, 0);
    if (id >= 0) msgctl(id, IPC_RMID, nullptr);
    id = shmget(key, 0, 0);
    if (id >= 0) shmctl(id, IPC_RMID, nullptr);
  }
  return 0;
}
