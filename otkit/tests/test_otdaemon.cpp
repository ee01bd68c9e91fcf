// The daemon runtime with fake devices: the status writer's records byte by byte against the
// device clients' reader, the counters' wrap and saturation, the pass loop with cycles that
// succeed and fail, the write-hold queue (retry, drop, refusal) with short times, the request
// thread on a real mailbox, the watchdog's restart in a child process, and the request checks
// of the PPI and Siemens devices.
#include "otdaemon.h"
#include "otlog.h"

#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ipctest.h"
#include "otimagestatus_p.h"
#include "ottime.h"
#include "testutil.h"

namespace {

using otbyteorder::getBig;

// A device whose reads and writes do what the test says, and that records what it was asked.
class FakeDevice : public otDaemonDevice {
 public:
  std::mutex m;
  std::vector<bool> good;         // per cycle (from 1): whether its reads succeed
  std::vector<int> reads;         // per cycle: reads so far
  std::vector<bool> failingSeen;  // per cycle: the failing flag of its last read
  std::vector<int> order;         // cycles in the order read
  std::atomic<bool> blockReads{false};
  std::vector<std::pair<int, long long>> attempts;  // tag (msg[2]) and time of each attempt
  std::function<int(int tag, int attempt)> outcome = [](int, int) { return WRITE_DONE; };
  std::vector<int> results;                 // written(): per request
  std::vector<std::pair<int, int>> passes;  // passDone(): good, cycles
  int openResult = 0;
  std::string restartMarker;
  unsigned char block[64];

  explicit FakeDevice(int cycles)
      : good(cycles + 1, true), reads(cycles + 1), failingSeen(cycles + 1) {}

  int open(const char*) override { return openResult; }
  const unsigned char* read(int k, const otDaemonCycle& c, bool failing) override {
    while (blockReads)
      usleep(1000);
    std::lock_guard<std::mutex> hold(m);
    reads[k]++;
    failingSeen[k] = failing;
    order.push_back(k);
    memset(block, 0x10 * k + reads[k], sizeof(block));
    return good[k] && c.bytes <= (int)sizeof(block) ? block : nullptr;
  }
  int requestHeader() const override { return 3; }
  // msg[0] 'x': a request that can never be carried out
  bool check(const unsigned char* msg, int) override { return msg[0] != 'x'; }
  int write(const unsigned char* msg, int) override {
    std::lock_guard<std::mutex> hold(m);
    int n = 0;
    for (auto& a : attempts)
      n += a.first == msg[2];
    attempts.push_back({msg[2], otMonotonicMs()});
    return outcome(msg[2], n);
  }
  void written(const unsigned char*, int, int result) override {
    std::lock_guard<std::mutex> hold(m);
    results.push_back(result);
  }
  void passDone(int g, int cycles) override { passes.push_back({g, cycles}); }
  void beforeRestart() override {
    if (!restartMarker.empty()) ottest::writeFile(restartMarker, "closed");
  }
  int attemptsOf(int tag) {
    std::lock_guard<std::mutex> hold(m);
    int n = 0;
    for (auto& a : attempts)
      n += a.first == tag;
    return n;
  }
};

// Three cycles of 4, 2 and 6 bytes behind each other.
const otDaemonCycle kCycles[] = {
    {0, 4, 1, 3, 0, 0, 2}, {4, 2, 1, 1, 0, 0, 9}, {6, 6, 2, 4, 0, 0, 3}};
const otImageStatus kLayout(12, 3);

class DaemonRuntime : public ::testing::Test {
 protected:
  ottest::TempDir dir;
  std::vector<std::string> lines;
  std::mutex linesMutex;

  void SetUp() override {
    otSetLogSink(
        [](int, const char* text, void* arg) {
          auto* self = static_cast<DaemonRuntime*>(arg);
          std::lock_guard<std::mutex> hold(self->linesMutex);
          self->lines.push_back(text);
        },
        this);
  }
  void TearDown() override {
    otSetLogSink(nullptr, nullptr);
    std::vector<key_t> keys;
    for (const std::string& f : ottest::filesIn(dir))
      keys.push_back(ftok(f.c_str(), 'b'));
    ottest::removeImagesAndMailboxes(keys);
  }

  otDaemonConfig config(const otDaemonCycle* cycles = kCycles, int count = 3) {
    otDaemonConfig c;
    shmPath = dir.file("image.shm");
    mbxPath = dir.file("requests.mbx");
    c.image = shmPath.c_str();
    c.mailbox = mbxPath.c_str();
    c.target = "unit";
    c.cycles = cycles;
    c.cycleCount = count;
    long long blocks = 0;
    for (int i = 0; i < count; i++)
      blocks += cycles[i].bytes;
    c.imageSize = (long)otImageStatus(blocks, count).imageSize();
    c.writeHoldMs = 300;
    c.writeRetryMs = 20;
    return c;
  }
  bool logged(const std::string& text) {
    std::lock_guard<std::mutex> hold(linesMutex);
    for (const std::string& l : lines)
      if (l == text) return true;
    return false;
  }
  static unsigned counter(otSharedMemory& image, const otImageStatus& layout, int which) {
    unsigned short v = 0;
    image.read((unsigned long)(layout.counterBase() + which), &v, 2);
    return v;
  }
  static unsigned long long field(otSharedMemory& image, long long offset, int n) {
    unsigned char b[8] = {0};
    image.read((unsigned long)offset, b, n);
    return getBig(b, n);
  }
  std::string shmPath, mbxPath;
};

TEST_F(DaemonRuntime, StatusRecordsByteByByteAndAsTheReaderSeesThem) {
  otSharedMemory image(dir.file("image.shm").c_str(), (unsigned long)kLayout.imageSize());
  ASSERT_EQ(image.status, 0);
  std::vector<unsigned char> junk((size_t)kLayout.imageSize(), 0xA5);
  image.write(0, junk.data(), (int)junk.size());
  otDaemonStatus status(image, kLayout);
  status.init();

  // Nothing read yet, whatever was there before.
  std::vector<unsigned char> area((size_t)(kLayout.imageSize() - kLayout.counterBase()));
  image.read((unsigned long)kLayout.counterBase(), area.data(), (int)area.size());
  std::vector<unsigned char> fresh(area.size(), 0);
  memcpy(&fresh[area.size() - 8], "OTS1\0\0\0\3", 8);
  EXPECT_EQ(area, fresh);
  int ok = -1;
  long age = 0;
  EXPECT_EQ(otimagestatus::cycleStatus(image, 3, &ok, &age), 0);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(age, -1) << "never read";
  EXPECT_EQ(otimagestatus::cycleStatus(image, 4, &ok, &age), -1);
  EXPECT_EQ(otimagestatus::passAge(image, &age), 0);
  EXPECT_EQ(age, -1);

  status.passStart();
  long long before = time(nullptr);
  status.cycleDone(1, true);
  status.cycleDone(2, false);
  status.cycleDone(3, true);
  status.passEnd(2);
  status.passStart();
  status.cycleDone(2, false);
  status.writeFailed();
  status.passEnd(0);

  unsigned char r1[16], r2[16], pass[28];
  image.read((unsigned long)kLayout.cycleRecord(1), r1, 16);
  image.read((unsigned long)kLayout.cycleRecord(2), r2, 16);
  image.read((unsigned long)kLayout.passRecord(), pass, 28);
  EXPECT_EQ(r1[0], 1);
  EXPECT_EQ(r1[1] | r1[2] | r1[3], 0) << "spare bytes";
  EXPECT_EQ(getBig(r1 + 4, 4), 0u);
  EXPECT_GE((long long)getBig(r1 + 8, 8), before);
  EXPECT_LE((long long)getBig(r1 + 8, 8), (long long)time(nullptr));
  EXPECT_EQ(r2[0], 2);
  EXPECT_EQ(getBig(r2 + 4, 4), 2u) << "failed reads in a row";
  EXPECT_EQ(getBig(r2 + 8, 8), 0u) << "never good";
  EXPECT_EQ(getBig(pass, 8), 0u) << "no pass had every cycle good";
  EXPECT_EQ(getBig(pass + 8, 4), 2u);
  EXPECT_EQ(getBig(pass + 12, 4), 2u);
  EXPECT_EQ(getBig(pass + 16, 4), 1u);
  EXPECT_EQ(std::string((char*)pass + 20, 4), "OTS1");
  EXPECT_EQ(getBig(pass + 24, 4), 3u);
  EXPECT_EQ(counter(image, kLayout, otImageStatus::LIFE_COUNTER), 2u);
  EXPECT_EQ(counter(image, kLayout, otImageStatus::READ_ERROR_COUNT), 2u);
  EXPECT_EQ(counter(image, kLayout, otImageStatus::WRITE_ERROR_COUNT), 1u);
  EXPECT_EQ(status.state(2), otImageStatus::STATE_FAILED);
  EXPECT_EQ(otimagestatus::cycleStatus(image, 1, &ok, &age), 0);
  EXPECT_EQ(ok, 1);
  EXPECT_GE(age, 0);
  EXPECT_LE(age, 1);
  EXPECT_EQ(otimagestatus::cycleStatus(image, 2, &ok, &age), 0);
  EXPECT_EQ(ok, 0);

  // A pass in which every cycle read good sets its time; a good read ends the failures.
  status.passStart();
  for (int k = 1; k <= 3; k++)
    status.cycleDone(k, true);
  status.passEnd(3);
  image.read((unsigned long)kLayout.cycleRecord(2), r2, 16);
  EXPECT_EQ(r2[0], 1);
  EXPECT_EQ(getBig(r2 + 4, 4), 0u);
  EXPECT_EQ(otimagestatus::passAge(image, &age), 0);
  EXPECT_GE(age, 0);
  EXPECT_LE(age, 1);
  image.deleteSharedMemory();
}

TEST_F(DaemonRuntime, CountersWrapAndTotalsSaturate) {
  const otImageStatus layout(0, 0);
  otSharedMemory image(dir.file("image.shm").c_str(), (unsigned long)layout.imageSize());
  otDaemonStatus status(image, layout);
  status.init();
  for (int i = 0; i < 32767; i++)
    status.passStart();
  EXPECT_EQ(counter(image, layout, otImageStatus::LIFE_COUNTER), 32767u);
  status.passStart();
  EXPECT_EQ(counter(image, layout, otImageStatus::LIFE_COUNTER), 0u) << "after 32767 comes 0";
  for (int i = 0; i < 32768; i++)
    status.writeFailed();
  EXPECT_EQ(counter(image, layout, otImageStatus::WRITE_ERROR_COUNT), 0u);
  status.passEnd(0);
  EXPECT_EQ(field(image, layout.passRecord() + otImageStatus::WRITE_ERROR_TOTAL, 4), 32768u)
      << "the total does not start again";
  EXPECT_EQ(field(image, layout.passRecord() + otImageStatus::PASS_COUNT, 4), 1u);
  EXPECT_EQ(otDaemonStatus::wrapped(32766), 32767);
  EXPECT_EQ(otDaemonStatus::wrapped(32767), 0);
  EXPECT_EQ(otDaemonStatus::saturated(0xFFFFFFFEu), 0xFFFFFFFFu);
  EXPECT_EQ(otDaemonStatus::saturated(0xFFFFFFFFu), 0xFFFFFFFFu);
  image.deleteSharedMemory();
}

TEST_F(DaemonRuntime, EveryCycleIsReadInEveryPassWhateverTheOthersDid) {
  FakeDevice device(3);
  device.good[2] = false;
  otDaemonRuntime daemon(config(), device);
  ASSERT_EQ(daemon.status(), 0);
  daemon.start();
  const unsigned char mark[2] = {0xEE, 0xEE};
  daemon.image().write(4, mark, 2);
  for (int i = 0; i < 3; i++)
    EXPECT_EQ(daemon.pass(), 2);
  EXPECT_EQ(device.order, std::vector<int>({1, 2, 3, 1, 2, 3, 1, 2, 3}));
  unsigned char blocks[12];
  daemon.image().read(0, blocks, 12);
  EXPECT_EQ(blocks[0], 0x13);  // cycle 1, third read
  EXPECT_EQ(blocks[3], 0x13);
  EXPECT_EQ(blocks[4], 0xEE) << "a failed read leaves its block";
  EXPECT_EQ(blocks[5], 0xEE);
  EXPECT_EQ(blocks[6], 0x33);
  EXPECT_EQ(blocks[11], 0x33);
  const otImageStatus& l = daemon.layout();
  EXPECT_EQ(counter(daemon.image(), l, otImageStatus::LIFE_COUNTER), 3u);
  EXPECT_EQ(counter(daemon.image(), l, otImageStatus::READ_ERROR_COUNT), 3u);
  EXPECT_EQ(field(daemon.image(), l.cycleRecord(2) + otImageStatus::CYCLE_FAILURES, 4), 3u);
  EXPECT_EQ(field(daemon.image(), l.passRecord() + otImageStatus::PASS_GOOD_TIME, 8), 0u);
  EXPECT_TRUE(device.failingSeen[2]) << "the outage went on";
  EXPECT_FALSE(device.failingSeen[1]);
  EXPECT_EQ(device.passes.back(), std::make_pair(2, 3));

  device.good[2] = true;
  EXPECT_EQ(daemon.pass(), 3);
  EXPECT_TRUE(device.failingSeen[2]) << "the read after the outage still knew of it";
  EXPECT_GT(field(daemon.image(), l.passRecord() + otImageStatus::PASS_GOOD_TIME, 8), 0u);
  EXPECT_EQ(field(daemon.image(), l.passRecord() + otImageStatus::PASS_COUNT, 4), 4u);
  daemon.stop();
  daemon.image().deleteSharedMemory();
}

TEST_F(DaemonRuntime, PassesTakeNoTimeOfTheirOwnAndPausesWhereConfigured) {
  FakeDevice device(3);
  otDaemonRuntime daemon(config(), device);
  daemon.start();
  long long start = otMonotonicMs();
  for (int i = 0; i < 200; i++)
    daemon.pass();
  // Instant cycles: nothing but the image copies, well below a millisecond a pass even under
  // a sanitizer.
  EXPECT_LT(otMonotonicMs() - start, 1000);
  daemon.stop();
  daemon.image().deleteSharedMemory();

  FakeDevice none(0);
  otDaemonConfig c = config(nullptr, 0);
  c.emptyPassMs = 60;
  otDaemonRuntime empty(c, none);
  empty.start();
  start = otMonotonicMs();
  EXPECT_EQ(empty.pass(), 0);
  EXPECT_GE(otMonotonicMs() - start, 60) << "a pass without cycles still takes its time";
  empty.stop();
  empty.image().deleteSharedMemory();

  // A pass in a long pause ends at once when the daemon stops.
  c = config();
  c.passPauseMs = 10000;
  otDaemonRuntime paused(c, device);
  paused.start();
  start = otMonotonicMs();
  std::thread passing([&] { paused.pass(); });
  usleep(50000);
  paused.stop();
  passing.join();
  EXPECT_LT(otMonotonicMs() - start, 2000);
  paused.image().deleteSharedMemory();
}

TEST_F(DaemonRuntime, ATableThatDoesNotFitTheImageIsRefused) {
  FakeDevice device(3);
  otDaemonConfig c = config();
  c.imageSize += 1;
  {
    otDaemonRuntime daemon(c, device);
    EXPECT_EQ(daemon.status(), -1);
    EXPECT_EQ(daemon.main("unit"), 1);
    EXPECT_TRUE(logged("the cycle table does not fit the process image of 95 bytes\n"));
    daemon.image().deleteSharedMemory();
  }
  const otDaemonCycle overlapping[] = {
      {0, 4, 1, 3, 0, 0, 2}, {2, 4, 1, 3, 0, 0, 2}, {9, 4, 1, 3, 0, 0, 2}};
  otDaemonRuntime daemon(config(overlapping, 3), device);
  EXPECT_EQ(daemon.status(), -1) << "the last block runs past the blocks";
  daemon.image().deleteSharedMemory();
}

TEST_F(DaemonRuntime, StopEndsMainAndItsThreads) {
  FakeDevice device(3);
  otDaemonConfig c = config();
  c.passPauseMs = 5;
  c.watchdogMs = 50;
  otDaemonRuntime daemon(c, device);
  int threads = ottest::baselineThreadCount();
  std::thread stopper([&] {
    usleep(300000);
    daemon.stop();
  });
  EXPECT_EQ(daemon.main("unit"), 0);
  stopper.join();
  EXPECT_GT(device.reads[1], 5);
  // a joined thread may stay listed for a moment
  for (int i = 0; i < 100 && ottest::threadCount() != threads; i++)
    usleep(10000);
  EXPECT_EQ(ottest::threadCount(), threads);
  daemon.image().deleteSharedMemory();
}

const unsigned char kRequest[] = {'w', 0, 1, 0};
std::vector<unsigned char> request(int tag) {
  return {'w', 0, (unsigned char)tag, 0};
}

TEST_F(DaemonRuntime, AnUnreachableDeviceIsTriedAgainUntilItAnswers) {
  FakeDevice device(3);
  device.outcome = [](int, int n) {
    return n < 3 ? FakeDevice::WRITE_UNREACHABLE : FakeDevice::WRITE_DONE;
  };
  otDaemonRuntime daemon(config(), device);
  EXPECT_EQ(daemon.serve(kRequest, 4), FakeDevice::WRITE_DONE);
  ASSERT_EQ(device.attempts.size(), 4u);
  for (size_t i = 1; i < 4; i++)
    EXPECT_GE(device.attempts[i].second - device.attempts[i - 1].second, 19) << i;
  EXPECT_EQ(counter(daemon.image(), daemon.layout(), otImageStatus::WRITE_ERROR_COUNT), 0u);
  EXPECT_EQ(device.results, std::vector<int>({FakeDevice::WRITE_DONE}));
  daemon.image().deleteSharedMemory();
}

TEST_F(DaemonRuntime, ADroppedRequestStopsTheHoldingUntilAReadSucceeds) {
  FakeDevice device(3);
  device.outcome = [](int, int) { return FakeDevice::WRITE_UNREACHABLE; };
  otDaemonRuntime daemon(config(), device);
  daemon.start();
  long long start = otMonotonicMs();
  EXPECT_EQ(daemon.serve(request(1).data(), 4), FakeDevice::WRITE_UNREACHABLE);
  EXPECT_GE(otMonotonicMs() - start, 300) << "held for the hold time";
  EXPECT_GE(device.attemptsOf(1), 5);
  EXPECT_LE(device.attemptsOf(1), 17);
  const otImageStatus& l = daemon.layout();
  EXPECT_EQ(counter(daemon.image(), l, otImageStatus::WRITE_ERROR_COUNT), 1u);

  // Dropping: the next request gets one attempt.
  EXPECT_EQ(daemon.serve(request(2).data(), 4), FakeDevice::WRITE_UNREACHABLE);
  EXPECT_EQ(device.attemptsOf(2), 1);
  EXPECT_EQ(counter(daemon.image(), l, otImageStatus::WRITE_ERROR_COUNT), 2u);
  // A pass with a failing read changes nothing; one with a good read ends the dropping.
  for (int k = 1; k <= 3; k++)
    device.good[k] = false;
  daemon.pass();
  EXPECT_EQ(daemon.serve(request(3).data(), 4), FakeDevice::WRITE_UNREACHABLE);
  EXPECT_EQ(device.attemptsOf(3), 1);
  device.good[3] = true;
  daemon.pass();
  EXPECT_EQ(daemon.serve(request(4).data(), 4), FakeDevice::WRITE_UNREACHABLE);
  EXPECT_GE(device.attemptsOf(4), 5) << "held again";
  device.good[3] = false;
  daemon.pass();
  // The total reaches the image with the next pass.
  EXPECT_EQ(field(daemon.image(), l.passRecord() + otImageStatus::WRITE_ERROR_TOTAL, 4), 4u);

  // A request that went through ends the dropping as well.
  device.outcome = [](int tag, int) {
    return tag == 5 ? FakeDevice::WRITE_DONE : FakeDevice::WRITE_UNREACHABLE;
  };
  EXPECT_EQ(daemon.serve(request(6).data(), 4), FakeDevice::WRITE_UNREACHABLE);
  EXPECT_EQ(device.attemptsOf(6), 1);
  EXPECT_EQ(daemon.serve(request(5).data(), 4), FakeDevice::WRITE_DONE);
  EXPECT_EQ(daemon.serve(request(7).data(), 4), FakeDevice::WRITE_UNREACHABLE);
  EXPECT_GE(device.attemptsOf(7), 5);
  daemon.stop();
  daemon.image().deleteSharedMemory();
}

TEST_F(DaemonRuntime, RefusedInvalidAndShortRequestsAreNotHeld) {
  FakeDevice device(3);
  device.outcome = [](int tag, int) {
    return tag == 1 ? FakeDevice::WRITE_REFUSED : FakeDevice::WRITE_UNREACHABLE;
  };
  otDaemonRuntime daemon(config(), device);
  const otImageStatus& l = daemon.layout();
  EXPECT_EQ(daemon.serve(request(1).data(), 4), FakeDevice::WRITE_REFUSED);
  EXPECT_EQ(device.attemptsOf(1), 1);
  EXPECT_EQ(counter(daemon.image(), l, otImageStatus::WRITE_ERROR_COUNT), 1u);
  // A refusal says the device answers: the next unreachable request is held.
  EXPECT_EQ(daemon.serve(request(2).data(), 4), FakeDevice::WRITE_UNREACHABLE);
  EXPECT_GE(device.attemptsOf(2), 5);

  const unsigned char invalid[] = {'x', 0, 3, 0};
  EXPECT_EQ(daemon.serve(invalid, 4), otDaemonRuntime::REQUEST_INVALID);
  EXPECT_EQ(device.attemptsOf(3), 0);
  EXPECT_EQ(counter(daemon.image(), l, otImageStatus::WRITE_ERROR_COUNT), 3u);
  EXPECT_EQ(daemon.serve(kRequest, 2), otDaemonRuntime::REQUEST_IGNORED);
  EXPECT_EQ(counter(daemon.image(), l, otImageStatus::WRITE_ERROR_COUNT), 3u) << "not counted";
  EXPECT_TRUE(logged("mbx message of 2 bytes ignored\n"));
  daemon.image().deleteSharedMemory();
}

TEST_F(DaemonRuntime, TheRequestThreadServesTheMailboxInOrderAndHoldsTheQueue) {
  FakeDevice device(3);
  device.outcome = [](int tag, int n) {
    return tag == 1 && n < 4 ? FakeDevice::WRITE_UNREACHABLE : FakeDevice::WRITE_DONE;
  };
  otDaemonConfig c = config();
  otMailbox stale(c.mailbox);
  ASSERT_EQ(stale.write(request(9).data(), 4), 0);
  otDaemonRuntime daemon(c, device);
  daemon.start();
  otMailbox client(c.mailbox);
  ASSERT_EQ(client.write(request(1).data(), 4), 0);
  ASSERT_EQ(client.write(request(2).data(), 4), 0);
  ASSERT_EQ(client.write(request(3).data(), 4), 0);
  long long end = otMonotonicMs() + 5000;
  while (device.attemptsOf(3) == 0 && otMonotonicMs() < end)
    usleep(2000);
  {
    std::lock_guard<std::mutex> hold(device.m);
    std::vector<int> tags;
    for (auto& a : device.attempts)
      tags.push_back(a.first);
    EXPECT_EQ(tags, std::vector<int>({1, 1, 1, 1, 1, 2, 3}))
        << "the held request first, then those behind it; nothing of an earlier run";
  }
  daemon.stop();
  daemon.image().deleteSharedMemory();
}

TEST_F(DaemonRuntime, TheWatchdogStartsTheProgramAnewWhenTheCyclesStop) {
  std::string marker = dir.file("restarted"), closed = dir.file("closed");
  otDaemonConfig c = config();
  c.watchdogMs = 100;
  int status = ottest::runChild([&] {
    FakeDevice device(3);
    device.blockReads = true;  // the first read never ends
    device.restartMarker = closed;
    otDaemonRuntime daemon(c, device);
    return daemon.main(("/bin/sh -c \"echo again > " + marker + "\"").c_str());
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ottest::readFile(marker), "again\n");
  EXPECT_EQ(ottest::readFile(closed), "closed") << "the device was closed first";

  // Cycles that go on counting keep the program.
  status = ottest::runChild([&] {
    FakeDevice device(3);
    otDaemonConfig counting = c;
    counting.passPauseMs = 20;
    otDaemonRuntime daemon(counting, device);
    std::thread stopper([&] {
      usleep(600000);
      daemon.stop();
    });
    int ret = daemon.main(("/bin/sh -c \"echo wrong > " + marker + "\"").c_str());
    stopper.join();
    return ret == 0 ? 7 : 1;
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
  EXPECT_EQ(ottest::readFile(marker), "again\n");
  otSharedMemory(c.image, (unsigned long)c.imageSize).deleteSharedMemory();
}

TEST_F(DaemonRuntime, ByteRequestHeaders) {
  const unsigned char msg[] = {7, 2, 0x01, 0x02, 0xFF, 0xFE, 0, 3, 2, 0xAA, 0xBB, 0xCC};
  otDaemonByteRequest r;
  ASSERT_TRUE(r.parse(msg, sizeof(msg), otDaemonByteRequest::SIEMENS_HEADER));
  EXPECT_EQ(r.slave, 7);
  EXPECT_EQ(r.area, 2);
  EXPECT_EQ(r.dbnum, 0x0102);
  EXPECT_EQ(r.start, 0xFFFE);
  EXPECT_EQ(r.len, 3);
  EXPECT_EQ(r.function, 2);
  EXPECT_EQ(r.data, msg + 9);
  EXPECT_EQ(r.available, 3);
  ASSERT_TRUE(r.parse(msg, sizeof(msg), otDaemonByteRequest::PPI_HEADER));
  EXPECT_EQ(r.function, 0);
  EXPECT_EQ(r.data, msg + 8);
  EXPECT_EQ(r.available, 4);
  EXPECT_FALSE(r.parse(msg, 8, otDaemonByteRequest::SIEMENS_HEADER));
}

// The PPI device over fake libnodave calls.
struct FakePpi {
  static int openResult, readResult;
  static std::vector<int> writeResults;
  static std::vector<std::vector<int>> writes;
  static int open() { return openResult; }
  static int read(int, int, int, int, int len, unsigned char* data) {
    memset(data, 0x42, (size_t)len);
    return readResult;
  }
  static int write(int slave, int area, int dbnum, int start, int len, const unsigned char* data) {
    writes.push_back({slave, area, dbnum, start, len, data[0]});
    int r = writeResults.empty() ? 0 : writeResults.front();
    if (!writeResults.empty()) writeResults.erase(writeResults.begin());
    return r;
  }
  static int unreachable(int code) { return code == -4; }
};
int FakePpi::openResult = 0, FakePpi::readResult = 0;
std::vector<int> FakePpi::writeResults;
std::vector<std::vector<int>> FakePpi::writes;
const otPPIDaemonCalls kFakePpi = {FakePpi::open, FakePpi::read, FakePpi::write,
                                   FakePpi::unreachable};

TEST_F(DaemonRuntime, PpiDeviceChecksRequestsAndTellsRefusalsFromSilence) {
  const otDaemonCycle cycles[] = {{0, 4, 2, 0x84, 1, 10, 4}};
  otPPIDaemonDevice device(kFakePpi);
  otDaemonRuntime daemon(config(cycles, 1), device);
  FakePpi::openResult = -1;
  EXPECT_EQ(daemon.main("ppi"), 1);
  EXPECT_TRUE(logged("\nerror opening SERIAL_DEVICE\n"));
  EXPECT_EQ(device.open("ppi"), -1);
  FakePpi::openResult = 0;
  EXPECT_EQ(device.open("ppi"), 0);
  EXPECT_TRUE(logged("ppidaemon starting\n"));

  FakePpi::readResult = -4;
  EXPECT_EQ(daemon.pass(), 0);
  EXPECT_TRUE(logged("daveReadBytes ret=-4\n"));
  FakePpi::readResult = 0;
  EXPECT_EQ(daemon.pass(), 1);
  EXPECT_EQ(daemon.image().readByte(0, 3), 0x42);

  // [0] station, [1] area, [2..3] data block, [4..5] start, [6..7] length, then the data
  const unsigned char good[] = {2, 0x84, 0, 1, 0, 20, 0, 2, 0x77, 0x78};
  FakePpi::writes.clear();
  FakePpi::writeResults = {-4, -4, 0};
  EXPECT_EQ(daemon.serve(good, sizeof(good)), otDaemonDevice::WRITE_DONE);
  ASSERT_EQ(FakePpi::writes.size(), 3u) << "silence is tried again";
  EXPECT_EQ(FakePpi::writes[2], std::vector<int>({2, 0x84, 1, 20, 2, 0x77}));
  FakePpi::writeResults = {-0x105};
  EXPECT_EQ(daemon.serve(good, sizeof(good)), otDaemonDevice::WRITE_REFUSED);
  EXPECT_EQ(FakePpi::writes.size(), 4u) << "a refusal is not";
  EXPECT_TRUE(logged("daveWriteBytes ret=-261\n"));

  const std::vector<std::vector<unsigned char>> invalid = {
      {0, 0x84, 0, 1, 0, 20, 0, 1, 9},   // station 0
      {32, 0x84, 0, 1, 0, 20, 0, 1, 9},  // station 32
      {2, 0x84, 0, 1, 0, 20, 0, 0, 9},   // nothing to write
      {2, 0x84, 0, 1, 0, 20, 0, 2, 9}};  // more announced than sent
  for (const auto& m : invalid)
    EXPECT_EQ(daemon.serve(m.data(), (int)m.size()), otDaemonRuntime::REQUEST_INVALID);
  EXPECT_EQ(FakePpi::writes.size(), 4u);
  EXPECT_EQ(counter(daemon.image(), daemon.layout(), otImageStatus::WRITE_ERROR_COUNT), 5u);
  daemon.image().deleteSharedMemory();
}

TEST_F(DaemonRuntime, SiemensDeviceRefusesRequestsItCannotCarryOut) {
  const otSiemensDaemonPlc plcs[] = {{3, "127.0.0.1", otSiemensTCP::S7_300, 0, -1, -1, 1}};
  otSiemensDaemonDevice device(plcs, 1);
  otDaemonRuntime daemon(config(nullptr, 0), device);
  // [0] slave, [1] org, [2..3] data block, [4..5] start, [6..7] length, [8] function, data
  const unsigned char noPlc[] = {7, 1, 0, 1, 0, 0, 0, 1, 2, 0x55};
  const unsigned char longer[] = {3, 1, 0, 1, 0, 0, 0, 5, 2, 0x55};
  EXPECT_EQ(daemon.serve(noPlc, sizeof(noPlc)), otDaemonRuntime::REQUEST_INVALID);
  EXPECT_TRUE(logged("mbx message for slave 7 ignored: no such slave\n"));
  EXPECT_EQ(daemon.serve(longer, sizeof(longer)), otDaemonRuntime::REQUEST_INVALID);
  EXPECT_TRUE(logged("mbx message of 10 bytes announces 5 data bytes: ignored\n"));
  EXPECT_EQ(daemon.serve(noPlc, 8), otDaemonRuntime::REQUEST_IGNORED);
  EXPECT_EQ(counter(daemon.image(), daemon.layout(), otImageStatus::WRITE_ERROR_COUNT), 2u);
  daemon.image().deleteSharedMemory();
}

}  // namespace
