// Fault injection: a generated daemon runs while its peer is killed, frozen (SIGSTOP) and
// restarted, or the serial line is pulled. Each case measures, in passes of the daemon (its
// PASS_COUNT), how long the status area takes to show the outage and how long values take to
// flow again once the peer is back, and checks that write requests posted during the outage
// reach the peer afterwards. The figures are printed for the record.
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "daemontest.h"
#include "otmodbusclient.h"
#include "otsiemenstcp.h"
#include "otsiemenstcpclient.h"
#include "snap7server.h"
#include "socatpair.h"

namespace {

using namespace hxtest;

// A libmodbus Modbus/TCP server in a child process, so that it can be killed and frozen like
// a real peer. Its holding registers 0..63 are mirrored into memory shared with the test, and
// register 0 is set from there, so that the test sees what the daemon wrote and can change what
// it reads.
class ModbusPeer {
 public:
  ModbusPeer() {
    void* p =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    shared_ = p == MAP_FAILED ? nullptr : new (p) Shared();
  }
  ~ModbusPeer() {
    kill();
    if (shared_ != nullptr) munmap(shared_, sizeof(Shared));
  }
  ModbusPeer(const ModbusPeer&) = delete;
  ModbusPeer& operator=(const ModbusPeer&) = delete;

  // Starts the server on port (0: one the kernel picks) with register 0 set to reg0; returns
  // the port, or -1. A port that a killed server held may need a moment to become free.
  int start(int port, int reg0) {
    if (shared_ == nullptr) return -1;
    for (int attempt = 0; attempt < 20; attempt++) {
      shared_->ready = 0;
      shared_->reg0 = reg0;
      for (auto& r : shared_->regs)
        r = 0;
      pid_ = fork();
      if (pid_ == 0) serve(port);
      if (pid_ < 0) return -1;
      if (waitFor([this] { return shared_->ready == 1 || !alive(); }, 5000) && alive())
        return shared_->port;
      usleep(100000);
    }
    return -1;
  }
  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  void freeze() { ::kill(pid_, SIGSTOP); }
  void thaw() { ::kill(pid_, SIGCONT); }
  int reg(int i) const { return shared_->regs[i]; }

 private:
  struct Shared {
    std::atomic<int> ready{0}, port{0}, reg0{0};
    std::atomic<int> regs[64];
  };

  bool alive() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
  }

  [[noreturn]] void serve(int port) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    Slave slave;
    int got = slave.startTcp(port);
    if (got <= 0) _exit(3);
    shared_->port = got;
    shared_->ready = 1;
    for (;;) {
      slave.withMap([this](modbus_mapping_t* m) {
        m->tab_registers[0] = (uint16_t)shared_->reg0;
        for (int i = 0; i < 64; i++)
          shared_->regs[i] = m->tab_registers[i];
        return 0;
      });
      usleep(2000);
    }
  }

  Shared* shared_ = nullptr;
  pid_t pid_ = -1;
};

// The pid of the node process that runs our snap7 server (a child of this process).
pid_t snap7Pid() {
  pid_t found = -1;
  std::string self = std::to_string(getpid());
  std::unique_ptr<FILE, int (*)(FILE*)> ps(
      popen(("pgrep -P " + self + " -f s7_server.js").c_str(), "r"), pclose);
  if (ps && fscanf(ps.get(), "%d", &found) != 1) found = -1;
  return found;
}

class FaultInjection : public GeneratedDaemon {
 protected:
  std::unique_ptr<otSharedMemory> image;

  void open(const std::string& target) {
    image = std::make_unique<otSharedMemory>(shm().c_str(),
                                             (unsigned long)def(target + "_SHARED_MEMORY_SIZE"));
    t = target;
  }
  unsigned long long big(const std::string& macro, int n) {
    unsigned char b[8] = {0};
    if (image->read((unsigned long)def(t + "_" + macro), b, n) != n) return 0;
    unsigned long long v = 0;
    for (int i = 0; i < n; i++)
      v = (v << 8) | b[i];
    return v;
  }
  long long passes() { return (long long)big("PASS_COUNT", 4); }
  // Generates and starts the Modbus daemon "e2e" of project and waits until its first block
  // holds the peer's 100.
  ::testing::AssertionResult startModbus(const std::string& project,
                                         std::unique_ptr<otModbusClient>* client) {
    run("mkmodbus", "e2e.mkmodbus", project, "e2e.h");
    open("e2e");
    client->reset(new otModbusClient(mbx().c_str(), shm().c_str(), def("e2e_SHARED_MEMORY_SIZE")));
    const int b1 = def("e2e_CYCLE1_BASE");
    if (waitFor([&] { return (*client)->readShort(b1, 0) == 100 && state(1) == 1; }))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << daemon.log();
  }
  int state(int cycle) { return (int)big("CYCLE" + std::to_string(cycle) + "_STATUS", 1); }

  // Runs event (a fault or a repair) and returns the passes that the daemon completed from
  // then until condition held: the pass in progress at the event counts, and so does the pass
  // that made condition true once it has ended. 2 thus means: the pass in progress had read
  // before the event, and the next one showed the change. -1 if condition does not hold
  // within ms. The milliseconds until then go to *msTaken.
  long long passesUntil(const std::function<void()>& event, const std::function<bool()>& condition,
                        long long* msTaken = nullptr) {
    event();
    long long from = passes(), start = nowMs();
    if (!waitFor(condition)) return -1;
    if (msTaken != nullptr) *msTaken = nowMs() - start;
    return passes() - from;
  }
  // Passes per second over ms.
  double passRate(int ms) {
    long long from = passes(), start = nowMs();
    usleep(ms * 1000);
    return (double)(passes() - from) * 1000.0 / (double)(nowMs() - start);
  }

  std::string t;
};

const char kModbusCycles[] =
    "cycle1 slave=1 function=3 start_adr=0 num_register=2\n"
    "cycle2 slave=1 function=3 start_adr=10 num_register=1\n";

// The status shows an outage in the pass in progress or the next, and values flow again in
// the pass in progress or the next once the peer is back (see passesUntil).
void expectWithinOnePass(long long passes, const char* what) {
  EXPECT_GE(passes, 0) << what << ": never";
  EXPECT_LE(passes, 2) << what;
}

TEST_F(FaultInjection, ModbusTcpPeerKilledFrozenAndRestarted) {
  ModbusPeer peer;
  int port = peer.start(0, 100);
  ASSERT_GT(port, 0);
  // baudrate 40000: 10 ms before each bus transaction, a pass of about 20 ms.
  std::unique_ptr<otModbusClient> client;
  ASSERT_TRUE(startModbus(paths() + "communication=socket\ntcpadr=127.0.0.1\ntcpport=" +
                              std::to_string(port) + "\nbaudrate=40000\n" + kModbusCycles,
                          &client));
  const int b1 = def("e2e_CYCLE1_BASE");
  double normal = passRate(500);

  // Killed: the connection is reset, a new one refused.
  long long msShow = 0, msFlow = 0;
  long long toShow =
      passesUntil([&] { peer.kill(); }, [&] { return state(1) == 2 && state(2) == 2; });
  expectWithinOnePass(toShow, "outage shown");
  EXPECT_EQ(client->writePresetSingleRegister(1, 20, 777), 0);
  EXPECT_EQ(client->writePresetSingleRegister(1, 21, 778), 0);
  double during = passRate(500);
  EXPECT_LT(during, normal * 1.5 + 2) << "a failing pass takes the normal time";
  int ok = -1;
  long age = -2;
  EXPECT_EQ(client->cycleStatus(1, &ok, &age), 0);
  EXPECT_EQ(ok, 0);
  EXPECT_GE(age, 0);
  EXPECT_GT(big("READ_ERROR_TOTAL", 4), 0u);

  long long toFlow =
      passesUntil([&] { ASSERT_EQ(peer.start(port, 200), port); },
                  [&] { return client->readShort(b1, 0) == 200 && state(1) == 1; }, &msFlow);
  expectWithinOnePass(toFlow, "values flow");
  long long writeStart = nowMs();
  EXPECT_TRUE(waitFor([&] { return peer.reg(20) == 777 && peer.reg(21) == 778; })) << daemon.log();
  long long writeMs = nowMs() - writeStart;
  EXPECT_EQ(big("WRITE_ERROR_TOTAL", 4), 0u) << "nothing was dropped";
  printf(
      "[figures] modbus/tcp peer killed: outage shown after %lld passes (%lld ms), values after "
      "%lld passes (%lld ms) (%.1f"
      " passes/s normal, %.1f during the outage); the 2 writes posted during "
      "the outage arrived %lld ms after the restart\n",
      toShow, msShow, toFlow, msFlow, normal, during, writeMs);

  // Frozen: the connection stays open and nothing answers.
  toShow = passesUntil([&] { peer.freeze(); }, [&] { return state(1) == 2; }, &msShow);
  expectWithinOnePass(toShow, "outage shown");
  EXPECT_EQ(client->writePresetSingleRegister(1, 22, 779), 0);
  usleep(300000);
  toFlow =
      passesUntil([&] { peer.thaw(); }, [&] { return state(1) == 1 && state(2) == 1; }, &msFlow);
  expectWithinOnePass(toFlow, "values flow");
  EXPECT_TRUE(waitFor([&] { return peer.reg(22) == 779; })) << daemon.log();
  EXPECT_EQ(big("WRITE_ERROR_TOTAL", 4), 0u);
  printf(
      "[figures] modbus/tcp peer frozen: outage shown after %lld passes (%lld ms), values after "
      "%lld passes (%lld ms); the"
      " write posted during the outage arrived\n",
      toShow, msShow, toFlow, msFlow);
  EXPECT_TRUE(daemon.alive());
}

TEST_F(FaultInjection, ModbusRtuPartnerKilledAndLinePulled) {
  ottest::SocatPair pair;
  ASSERT_EQ(pair.start(dir.path()), "");
  auto partner = std::make_unique<Slave>();
  partner->withMap([](modbus_mapping_t* m) { return m->tab_registers[0] = 100; });
  ASSERT_TRUE(partner->startRtu(pair.b(), 17));
  std::unique_ptr<otModbusClient> client;
  ASSERT_TRUE(startModbus(paths() + "communication=serial\ntty=" + pair.a() +
                              "\nbaudrate=115200\nrtscts=0\nparity=0\nprotocol=0\n"
                              "cycle1 slave=17 function=3 start_adr=0 num_register=2\n",
                          &client));
  const int b1 = def("e2e_CYCLE1_BASE");

  // The partner killed: the line stays, nothing answers.
  long long msShow = 0, msFlow = 0;
  long long toShow = passesUntil([&] { partner.reset(); }, [&] { return state(1) == 2; }, &msShow);
  expectWithinOnePass(toShow, "outage shown");
  long long toFlow = passesUntil(
      [&] {
        partner = std::make_unique<Slave>();
        partner->withMap([](modbus_mapping_t* m) { return m->tab_registers[0] = 200; });
        ASSERT_TRUE(partner->startRtu(pair.b(), 17));
      },
      [&] { return client->readShort(b1, 0) == 200 && state(1) == 1; }, &msFlow);
  expectWithinOnePass(toFlow, "values flow");
  printf(
      "[figures] modbus/rtu partner killed: outage shown after %lld passes (%lld ms), values "
      "after %lld passes (%lld ms)\n",
      toShow, msShow, toFlow, msFlow);

  // The line pulled: both terminals go away, and come back under the same names.
  toShow = passesUntil(
      [&] {
        partner.reset();
        pair.stop();
      },
      [&] { return state(1) == 2; }, &msShow);
  expectWithinOnePass(toShow, "outage shown");
  EXPECT_EQ(client->writePresetSingleRegister(17, 30, 0xBEEF), 0);
  usleep(500000);
  toFlow = passesUntil(
      [&] {
        ASSERT_EQ(pair.start(dir.path()), "");
        partner = std::make_unique<Slave>();
        partner->withMap([](modbus_mapping_t* m) { return m->tab_registers[0] = 300; });
        ASSERT_TRUE(partner->startRtu(pair.b(), 17));
      },
      [&] { return client->readShort(b1, 0) == 300 && state(1) == 1; }, &msFlow);
  // The line is back before the partner listens on it: a request sent in between goes
  // unanswered, which may cost one more pass.
  EXPECT_GE(toFlow, 0);
  EXPECT_LE(toFlow, 3);
  EXPECT_TRUE(waitFor([&] { return partner && partner->reg(30) == 0xBEEF; })) << daemon.log();
  EXPECT_EQ(big("WRITE_ERROR_TOTAL", 4), 0u);
  printf(
      "[figures] modbus/rtu line pulled: outage shown after %lld passes (%lld ms), values after "
      "%lld passes (%lld ms); the"
      " write posted during the outage arrived\n",
      toShow, msShow, toFlow, msFlow);
  partner.reset();
  pair.stop();
}

TEST_F(FaultInjection, SiemensPeerKilledFrozenAndRestarted) {
  ottest::Snap7Server server;
  ASSERT_TRUE(server.ok()) << server.error();
  run("mksiemens", "e2e.mksiemens",
      "target=s7e2e\n" + paths() + "idletime=20\n" +
          "slave=0 adr=127.0.0.1 type=S7_300 fetch_write=0 function=-1 rack_slot=-1 port=" +
          std::to_string(server.port()) +
          "\n"
          "cycle1 slave=0 org=ORG_DB dbnum=10 start=0 len=16\n",
      "s7e2e.h");
  open("s7e2e");
  otSiemensTCPClient client(mbx().c_str(), shm().c_str(), def("s7e2e_SHARED_MEMORY_SIZE"), 1);
  ASSERT_TRUE(waitFor([&] { return state(1) == 1; })) << daemon.log();

  // The server ends (and is reaped) inside stop(): the outage begins when stop() returns.
  long long msShow = 0, msFlow = 0;
  long long toShow = passesUntil([&] { server.stop(); }, [&] { return state(1) == 2; }, &msShow);
  expectWithinOnePass(toShow, "outage shown");
  const unsigned char bytes[] = {0xAB, 0xCD};
  EXPECT_EQ(client.writeByte(0, otSiemensTCP::ORG_DB, 1, 5, 2, bytes), 0);
  long long toFlow = passesUntil([&] { ASSERT_TRUE(server.restart()) << server.error(); },
                                 [&] { return state(1) == 1; }, &msFlow);
  expectWithinOnePass(toFlow, "values flow");
  // The new server starts with DB1 all zeros: what is there now came after the restart.
  otSiemensTCP plc("127.0.0.1", otSiemensTCP::S7_300, 0, -1, -1);
  plc.setPort(server.port());
  EXPECT_TRUE(waitFor([&] {
    unsigned char db1[8] = {0};
    return plc.fetch(otSiemensTCP::ORG_DB, 1, 0, 8, db1) == 8 && db1[5] == 0xAB && db1[6] == 0xCD;
  })) << daemon.log();
  plc.disconnect();
  EXPECT_EQ(big("WRITE_ERROR_TOTAL", 4), 0u);
  printf(
      "[figures] siemens peer killed: outage shown after %lld passes (%lld ms), values after %lld "
      "passes (%lld ms); the"
      " write posted during the outage arrived\n",
      toShow, msShow, toFlow, msFlow);

  pid_t node = snap7Pid();
  ASSERT_GT(node, 0);
  toShow = passesUntil([&] { kill(node, SIGSTOP); }, [&] { return state(1) == 2; }, &msShow);
  toFlow = passesUntil([&] { kill(node, SIGCONT); }, [&] { return state(1) == 1; }, &msFlow);
  expectWithinOnePass(toShow, "outage shown");
  expectWithinOnePass(toFlow, "values flow");
  printf(
      "[figures] siemens peer frozen: outage shown after %lld passes (%lld ms), values after %lld "
      "passes (%lld ms)\n",
      toShow, msShow, toFlow, msFlow);
  EXPECT_TRUE(daemon.alive());
}

}  // namespace
