// PPI on a real line: libotnodave as master on one end of a socat pty pair, and on the other
// end either a scripted station that answers with exactly the bytes a test gives it, or the
// simulator otppisim.
extern "C" {
#include "nodave.h"
#include "setport.h"
}

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ots7pdu.h"
#include "ottime.h"
#include "ppi.h"
#include "socatpair.h"
#include "testutil.h"

extern char** environ;

namespace {

using Bytes = std::string;

Bytes hex(const char* text) {
  Bytes out;
  unsigned v;
  int used;
  while (sscanf(text, "%2x%n", &v, &used) == 1) {
    out += (char)v;
    text += used;
    while (*text == ' ')
      text++;
  }
  return out;
}

// The telegrams of a 4-byte read of V memory at 0 from station 2 by master 0.
const Bytes kRequest = hex(
    "68 1B 1B 68 02 00 6C 32 01 00 00 00 00 00 0E 00 00 04 01 12 0A 10 02 00 04 00 01 84 00 00 00 "
    "6B 16");
const Bytes kPoll = hex("10 02 00 5C 5E 16");
const Bytes kReply = hex(
    "68 19 19 68 00 02 08 32 03 00 00 00 00 00 02 00 08 00 00 04 01 FF 04 00 20 98 76 45 12 D6 16");
const Bytes kAck = hex("E5");

// kReply with byte i replaced by v, the FCS made right again unless keepFcs.
Bytes patched(size_t i, unsigned char v, bool keepFcs = false) {
  Bytes b = kReply;
  b[i] = (char)v;
  if (!keepFcs)
    b[b.size() - 2] = (char)otppi::checksum((const unsigned char*)b.data() + 4, (int)b.size() - 6);
  return b;
}

// The station's end of the line, run by a script in a thread of its own: it reads what the
// master sends and answers with the bytes it is told to.
class ScriptedStation {
 public:
  explicit ScriptedStation(const std::string& path) { fd_ = open(path.c_str(), O_RDWR | O_NOCTTY); }
  ~ScriptedStation() {
    join();
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  // One step: take a telegram of n bytes (kept for the test), then answer.
  void run(std::vector<std::pair<size_t, Bytes>> steps) {
    worker_ = std::thread([this, steps] {
      for (const auto& s : steps) {
        Bytes got = ottest::readWithin(fd_, s.first, 3000);
        heard_.push_back(got);
        if (got.size() != s.first) return;
        if (!s.second.empty() && write(fd_, s.second.data(), s.second.size()) < 0) return;
      }
    });
  }
  std::vector<Bytes> heard() {
    join();
    return heard_;
  }
  void join() {
    if (worker_.joinable()) worker_.join();
  }

 private:
  int fd_ = -1;
  std::thread worker_;
  std::vector<Bytes> heard_;
};

class PpiLine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pair.start(dir.path()), "");
    fd = setPort(pair.a().c_str(), "19200", 'E');
    ASSERT_GT(fd, 2);
    _daveOSserialType fds = {fd, fd};
    di = daveNewInterface(fds, "IF1", 0, daveProtoPPI, daveSpeed19k);
    ASSERT_NE(di, nullptr);
    dc = daveNewConnection(di, 2, 0, 0);
    ASSERT_NE(dc, nullptr);
  }
  void TearDown() override {
    daveFree(dc);
    daveFree(di);
    if (fd >= 0) close(fd);
  }
  ottest::TempDir dir;
  ottest::SocatPair pair;
  int fd = -1;
  daveInterface* di = nullptr;
  daveConnection* dc = nullptr;
};

TEST_F(PpiLine, ReadsByteExactAndFlipsTheFrameCountBit) {
  ScriptedStation plc(pair.b());
  ASSERT_TRUE(plc.ok());
  Bytes second = kRequest;
  second[6] = 0x7C;  // FCV set, FCB flipped from the poll's
  second[31] = (char)(0x6B + 0x10);
  plc.run({{kRequest.size(), kAck},
           {kPoll.size(), kReply},
           {second.size(), kAck},
           {kPoll.size(), kReply}});
  unsigned char data[4] = {0};
  ASSERT_EQ(daveReadBytes(dc, daveDB, 1, 0, 4, data), daveResOK);
  EXPECT_EQ(Bytes((const char*)data, 4), hex("98 76 45 12"));
  memset(data, 0, sizeof(data));
  ASSERT_EQ(daveReadBytes(dc, daveDB, 1, 0, 4, data), daveResOK);
  EXPECT_EQ(Bytes((const char*)data, 4), hex("98 76 45 12"));
  std::vector<Bytes> heard = plc.heard();
  ASSERT_EQ(heard.size(), 4u);
  EXPECT_EQ(heard[0], kRequest);
  EXPECT_EQ(heard[1], kPoll);
  EXPECT_EQ(heard[2], second);
  EXPECT_EQ(heard[3], kPoll);
}

// A damaged answer is asked for again with the same telegram (same FCB), so that the station
// repeats what it said; one good repetition is enough.
TEST_F(PpiLine, RepeatsThePollAfterADamagedAnswer) {
  ScriptedStation plc(pair.b());
  ASSERT_TRUE(plc.ok());
  plc.run({{kRequest.size(), kAck},
           {kPoll.size(), patched(kReply.size() - 2, 0x00, true)},
           {kPoll.size(), kReply}});
  unsigned char data[4] = {0};
  EXPECT_EQ(daveReadBytes(dc, daveDB, 1, 0, 4, data), daveResOK);
  EXPECT_EQ(Bytes((const char*)data, 4), hex("98 76 45 12"));
  std::vector<Bytes> heard = plc.heard();
  ASSERT_EQ(heard.size(), 3u);
  EXPECT_EQ(heard[2], kPoll) << "the repetition keeps its FC";
}

// Faults in every answer to the poll: reported as their error after the repetitions, never as
// data; the next read starts the station anew (FCV clear) and gets its values.
TEST_F(PpiLine, FaultyAnswersAreErrorsAndTheLineRecovers) {
  Bytes cut = kReply.substr(0, kReply.size() - 5);
  struct Case {
    const char* what;
    Bytes answer;
    int code;
  } cases[] = {
      {"wrong checksum", patched(kReply.size() - 2, 0xD7, true), daveResBadChecksum},
      {"length bytes differ", patched(2, 0x1A, true), daveResBadLength},
      {"no end delimiter", patched(kReply.size() - 1, 0x17, true), daveResNoEndDelimiter},
      {"from station 3", patched(5, 0x03), daveResWrongAddress},
      {"for master 1", patched(4, 0x01), daveResWrongAddress},
      {"a request, not a reply", patched(6, 0x6C), daveResUnexpectedAnswer},
      {"cut short", cut, daveResCutTelegram},
      {"bad start", hex("A2 00 02 08 0A 16"), daveResBadStart},
      {"silence", "", daveResTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedStation plc(pair.b());
    ASSERT_TRUE(plc.ok());
    Bytes first = kRequest;  // after a lost station the master starts with FCV clear again
    plc.run({{first.size(), kAck},
             {kPoll.size(), c.answer},
             {kPoll.size(), c.answer},
             {kPoll.size(), c.answer},
             {first.size(), kAck},
             {kPoll.size(), kReply}});
    unsigned char data[4] = {1, 2, 3, 4};
    EXPECT_EQ(daveReadBytes(dc, daveDB, 1, 0, 4, data), c.code) << daveStrerror(c.code);
    EXPECT_EQ(Bytes((const char*)data, 4), hex("01 02 03 04")) << "no data from a failure";
    EXPECT_EQ(daveReadBytes(dc, daveDB, 1, 0, 4, data), daveResOK);
    EXPECT_EQ(Bytes((const char*)data, 4), hex("98 76 45 12"));
    std::vector<Bytes> heard = plc.heard();
    ASSERT_EQ(heard.size(), 6u);
    EXPECT_EQ(heard[1], kPoll);
    EXPECT_EQ(heard[3], kPoll) << "repetitions keep the FCB";
    EXPECT_EQ(heard[4], kRequest);
  }
}

TEST_F(PpiLine, SilentStationIsATimeout) {
  ScriptedStation plc(pair.b());
  ASSERT_TRUE(plc.ok());
  plc.run({{kRequest.size(), ""}, {kRequest.size(), ""}, {kRequest.size(), ""}});
  unsigned char data[4] = {0};
  long long t0 = otMonotonicMs();
  EXPECT_EQ(daveWriteBytes(dc, daveDB, 1, 0, 4, data), daveResTimeout);
  EXPECT_LT(otMonotonicMs() - t0, 5000);
  EXPECT_EQ(plc.heard().size(), 3u) << "sent once and repeated twice";
}

TEST(PpiFraming, ParsesAndRefusesTelegramsOnBuffers) {
  otppi::Telegram t;
  const Bytes poll = kPoll, reply = kReply;
  ASSERT_EQ(otppi::parse((const unsigned char*)reply.data(), (int)reply.size(), &t),
            (int)reply.size());
  EXPECT_EQ(t.kind, otppi::SD2);
  EXPECT_EQ(t.da, 0);
  EXPECT_EQ(t.sa, 2);
  EXPECT_EQ(t.fc, 0x08);
  EXPECT_EQ(t.len, 22);
  ASSERT_EQ(otppi::parse((const unsigned char*)poll.data(), 6, &t), 6);
  EXPECT_EQ(t.kind, otppi::SD1);
  EXPECT_EQ(t.fc, 0x5C);
  EXPECT_EQ(otppi::parse((const unsigned char*)poll.data(), 5, &t), otppi::E_LENGTH);
  Bytes small = hex("68 02 02 68 00 02 02 16");
  EXPECT_EQ(otppi::parse((const unsigned char*)small.data(), (int)small.size(), &t),
            otppi::E_LENGTH);
  unsigned char out[otppi::MAX_TELEGRAM];
  std::vector<unsigned char> data(otppi::MAX_DATA + 1, 0x5A);
  EXPECT_EQ(otppi::buildVariable(2, 0, 0x6C, data.data(), otppi::MAX_DATA + 1, out),
            otppi::E_ARGUMENT);
  ASSERT_EQ(otppi::buildVariable(2, 0, 0x6C, data.data(), otppi::MAX_DATA, out),
            otppi::MAX_TELEGRAM);
  EXPECT_EQ(otppi::parse(out, otppi::MAX_TELEGRAM, &t), otppi::MAX_TELEGRAM);
  EXPECT_EQ(t.len, otppi::MAX_DATA);
}

// ---------------------------------------------------------------------------------------------
// Against the simulator.

class Simulator {
 public:
  ~Simulator() { stop(); }
  bool start(const std::string& line, const std::string& log, std::vector<std::string> extra) {
    std::vector<std::string> args = {OTPPISIM, "-serial=" + line, "-baud=19200", "-v"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    int rc = posix_spawn(&pid_, OTPPISIM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    log_ = log;
    // serving once it says so
    for (int i = 0; i < 500; i++, usleep(10000))
      if (ottest::readFile(log).find("serving") != std::string::npos) return true;
    return false;
  }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  std::string log() const { return ottest::readFile(log_); }

 private:
  pid_t pid_ = -1;
  std::string log_;
};

TEST_F(PpiLine, ReadsAndWritesEveryAreaOfTheSimulator) {
  Simulator sim;
  ASSERT_TRUE(sim.start(
      pair.b(), dir.file("sim.log"),
      {"-set=v:100:0x12,0x34", "-set=c:4:0,7", "-set=t:0:1,2", "-set=i:15:0x80", "-vsize=1000"}));

  unsigned char b[4] = {0};
  ASSERT_EQ(daveReadBytes(dc, daveDB, 1, 100, 2, b), daveResOK) << sim.log();
  EXPECT_EQ(Bytes((const char*)b, 2), hex("12 34"));
  ASSERT_EQ(daveReadBytes(dc, daveV, 0, 100, 2, b), daveResOK);
  EXPECT_EQ(Bytes((const char*)b, 2), hex("12 34"));
  ASSERT_EQ(daveReadBytes(dc, daveCounter, 0, 4, 2, b), daveResOK);
  EXPECT_EQ(Bytes((const char*)b, 2), hex("00 07"));
  ASSERT_EQ(daveReadBytes(dc, daveTimer, 0, 0, 2, b), daveResOK);
  EXPECT_EQ(Bytes((const char*)b, 2), hex("01 02"));
  ASSERT_EQ(daveReadBytes(dc, daveInputs, 0, 15, 1, b), daveResOK);
  EXPECT_EQ(b[0], 0x80);

  // Each area is its own memory.
  const int areas[] = {daveInputs, daveOutputs, daveFlags, daveCounter, daveTimer, daveDB};
  for (int i = 0; i < 6; i++) {
    unsigned char v[2] = {(unsigned char)(0xA0 + i), (unsigned char)i};
    ASSERT_EQ(daveWriteBytes(dc, areas[i], 1, 2, 2, v), daveResOK) << areas[i];
  }
  for (int i = 0; i < 6; i++) {
    ASSERT_EQ(daveReadBytes(dc, areas[i], 1, 2, 2, b), daveResOK) << areas[i];
    EXPECT_EQ(b[0], 0xA0 + i);
    EXPECT_EQ(b[1], i);
  }

  // More than one job holds: 700 bytes out in jobs of 212, back in jobs of 222.
  std::vector<unsigned char> pattern(700), back(700);
  for (size_t i = 0; i < pattern.size(); i++)
    pattern[i] = (unsigned char)(i * 7 + 1);
  ASSERT_EQ(daveWriteBytes(dc, daveDB, 1, 300, 700, pattern.data()), daveResOK);
  ASSERT_EQ(daveReadBytes(dc, daveDB, 1, 300, 700, back.data()), daveResOK);
  EXPECT_EQ(back, pattern);

  // Refusals come back as the station's item code; the buffer keeps what it had.
  memset(b, 0xEE, sizeof(b));
  EXPECT_EQ(daveReadBytes(dc, daveDB, 1, 999, 2, b), daveResRefused - 0x05);
  EXPECT_EQ(daveWriteBytes(dc, daveFlags, 0, 31, 2, b), daveResRefused - 0x05);
  EXPECT_EQ(daveReadBytes(dc, daveDB, 2, 0, 2, b), daveResRefused - 0x0A);
  EXPECT_EQ(daveReadBytes(dc, daveSD, 0, 0, 2, b), daveResRefused - 0x0A);
  EXPECT_EQ(Bytes((const char*)b, 4), hex("EE EE EE EE"));

  // A station nobody serves stays silent.
  daveConnection* other = daveNewConnection(di, 3, 0, 0);
  EXPECT_EQ(daveReadBytes(other, daveDB, 1, 0, 2, b), daveResTimeout);
  daveFree(other);
  // The connection keeps the line when the interface is freed first, as daemons may do.
  daveFree(di);
  di = nullptr;
  EXPECT_EQ(daveReadBytes(dc, daveDB, 1, 100, 2, b), daveResOK) << "station 2 still answers";
  sim.stop();
  EXPECT_NE(sim.log().find("write M 2 2 bytes: ok"), std::string::npos) << sim.log();
}

// Two masters on one station; master 0 repeats its write request as if its acknowledgement had
// been lost. The station must answer it again without writing a second time, so master 1's
// value, written in between, stays.
TEST_F(PpiLine, SimulatorDoesNotCarryOutARepeatedRequestTwice) {
  Simulator sim;
  ASSERT_TRUE(sim.start(pair.b(), dir.file("sim.log"), {}));
  int line = open(pair.a().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(line, 0);
  auto job = [](unsigned char value) {
    unsigned char pdu[64];
    unsigned char data[1] = {value};
    int n = ots7pdu::buildWriteJob(0x84, 1, 10, 1, data, 2, otppi::MAX_PDU, pdu);
    return Bytes((const char*)pdu, (size_t)n);
  };
  auto telegram = [](int sa, int fc, const Bytes& pdu) {
    unsigned char out[otppi::MAX_TELEGRAM];
    int n = otppi::buildVariable(2, sa, fc, (const unsigned char*)pdu.data(), (int)pdu.size(), out);
    return Bytes((const char*)out, (size_t)n);
  };
  auto say = [&](const Bytes& b, size_t expect) {
    EXPECT_EQ(write(line, b.data(), b.size()), (ssize_t)b.size());
    return ottest::readWithin(line, expect, 2000);
  };
  Bytes writeA = telegram(0, 0x7C, job(0xAA));
  EXPECT_EQ(say(telegram(0, 0x6C, job(0x11)), 1), kAck);         // master 0 starts: FCB 1
  EXPECT_EQ(say(hex("10 02 00 5C 5E 16"), 15 + 9).size(), 24u);  // its reply, FCB 0
  EXPECT_EQ(say(writeA, 1), kAck);                               // the write, FCB 1
  EXPECT_EQ(say(telegram(1, 0x6C, job(0xBB)), 1), kAck);         // master 1 writes BB
  EXPECT_EQ(say(hex("10 02 01 5C 5F 16"), 24).size(), 24u);
  EXPECT_EQ(say(writeA, 1), kAck) << "the repetition is acknowledged again";
  close(line);

  unsigned char b[1] = {0};
  ASSERT_EQ(daveReadBytes(dc, daveDB, 1, 10, 1, b), daveResOK);
  EXPECT_EQ(b[0], 0xBB) << sim.log();
  EXPECT_NE(sim.log().find("repeated telegram from 0"), std::string::npos) << sim.log();
}

}  // namespace
