// otmodbussim as a program: command line, -v lines, the simulated process, Modbus/TCP edge
// cases on a plain socket, and Modbus ASCII both ways against pymodbus over a socat pair (an
// otModbus ASCII master against a pymodbus slave, a pymodbus master against otmodbussim).
#include "otmodbus.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbussim_child.h"
#include "otserial.h"
#include "otsocket.h"
#include "socatpair.h"
#include "testutil.h"

namespace {

const char kSim[] = OTKIT_TOOLS_DIR "/otmodbussim";
const char kPeer[] = OTKIT_TEST_SOURCE_DIR "/modbus_peer.py";
const std::string kValues = OTKIT_TEST_SOURCE_DIR "/modbussim_values.txt";

// Runs the simulator to its end (it must end by itself) and returns its wait status.
int runSim(const ottest::TempDir& dir, std::vector<std::string> args, std::string* output) {
  modbussim::Child child;
  args.insert(args.begin(), kSim);
  if (child.start(args, dir.file("run.out")) != 0) return -1;
  int status = child.wait(10000);
  *output = child.output();
  return status;
}

TEST(otmodbussimCommandLine, HelpDescribesTheOptionsAndExitsZero) {
  ottest::TempDir dir;
  std::string out;
  EXPECT_TRUE(modbussim::exitedWith(runSim(dir, {"-h"}, &out), 0)) << out;
  for (const char* option :
       {"usage: otmodbussim", "-port=", "-bind=ADDR", "-tcp=", "-serial=", "-mode=rtu|ascii",
        "-baud=", "-parity=none|odd|even", "-slave=", "-coils=", "-registers=", "-simulate", "-v",
        "-idle=SECONDS", "(default 60)", "-maxclients=N", "(default 64)"})
    EXPECT_NE(out.find(option), std::string::npos) << option << " missing in\n" << out;
}

TEST(otmodbussimCommandLine, BadOptionsExitWithStatus2) {
  ottest::TempDir dir;
  const std::vector<std::vector<std::string>> bad = {
      {"-nonsense"},
      {"-port"},
      {"-port=0"},
      {"-port=65536"},
      {"-port=50x"},
      {"-port=5020", "-tcp=127.0.0.1:5021"},
      {"-tcp=::1:5020"},
      {"-tcp=[::1]"},
      {"-serial=/dev/null", "-port=5020"},
      {"-mode=ascii"},
      {"-serial=/dev/null", "-mode=tcp"},
      {"-serial=/dev/null", "-baud=12345"},
      {"-serial=/dev/null", "-parity=mark"},
      {"-serial=/dev/null", "-bits=6"},
      {"-slave=256"},
      {"-slave=-1"},
      {"-coils=0"},
      {"-registers=65537"},
      {"-v=1"},
      {"-idle=-1"},
      {"-idle=1.5"},
      {"-maxclients=0"},
      {"-maxclients"},
      {"-serial=/dev/null", "-idle=5"},
      {"-bind"},
      {"-bind="},
      {"-bind=[::1"},
      {"-bind=127.0.0.1", "-bind=127.0.0.2"},
      {"-bind=127.0.0.1", "-tcp=127.0.0.1:5020"},
      {"-tcp=127.0.0.1:5020", "-bind=127.0.0.1"},
      {"-serial=/dev/null", "-bind=127.0.0.1"},
  };
  for (const auto& args : bad) {
    std::string out;
    int status = runSim(dir, args, &out);
    EXPECT_TRUE(modbussim::exitedWith(status, 2)) << args[0] << ": status " << status << "\n"
                                                  << out;
    EXPECT_NE(out.find("usage: otmodbussim"), std::string::npos) << args[0];
  }
}

TEST(otmodbussimCommandLine, UnusableFilesDevicesAndAddressesExitWithStatus1) {
  ottest::TempDir dir;
  ottest::writeFile(dir.file("table.txt"), "register 0 1\n");
  ottest::writeFile(dir.file("outside.txt"), "# fine\nholding 8 1 2\nholding 9 1 2\n");
  ottest::writeFile(dir.file("value.txt"), "coil 0 2\n");
  // A leading zero is decimal, not octal: holding 010 is address 10.
  ottest::writeFile(dir.file("decimal.txt"), "holding 010 1\n");
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"-init=" + dir.file("missing.txt")}, "cannot read"},
      {{"-init=" + dir.file("table.txt")}, "table.txt:1: unknown table register"},
      {{"-registers=10", "-init=" + dir.file("outside.txt")}, "outside.txt:3: address 10"},
      {{"-init=" + dir.file("value.txt")}, "value.txt:1: bad value 2"},
      {{"-registers=10", "-init=" + dir.file("decimal.txt")}, "decimal.txt:1: address 10"},
      {{"-serial=" + dir.file("no-such-device")}, "cannot open"},
      // An address of the documentation range, which is no interface of this host.
      {{"-tcp=192.0.2.1:5020"}, "cannot listen on 192.0.2.1"},
      {{"-bind=192.0.2.1", "-port=5020"}, "cannot listen on 192.0.2.1 port 5020"},
      {{"-bind=[2001:db8::1]"}, "cannot listen on 2001:db8::1 port 5020"},
  };
  for (const auto& c : cases) {
    std::string out;
    int status = runSim(dir, c.args, &out);
    EXPECT_TRUE(modbussim::exitedWith(status, 1)) << c.message << ": status " << status << "\n"
                                                  << out;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
  }
}

// The simulator on a free TCP port, polled by an otModbus master or a plain socket.
class otmodbussimTcp : public ::testing::Test {
 protected:
  void startSim(std::vector<std::string> options) {
    port = modbussim::freeTcpPort();
    ASSERT_GT(port, 0);
    std::vector<std::string> argv = {kSim, "-port=" + std::to_string(port)};
    argv.insert(argv.end(), options.begin(), options.end());
    ASSERT_EQ(sim.start(argv, dir.file("sim.out")), 0) << kSim;
    ASSERT_TRUE(modbussim::waitForTcp(port, 10000, &sim)) << sim.output();
  }

  void TearDown() override {
    if (fd >= 0) close(fd);
    if (sim.pid() > 0) {
      int status = sim.stop(SIGTERM);
      EXPECT_TRUE(modbussim::exitedWith(status, 0)) << "status " << status << "\n" << sim.output();
    }
  }

  void sendRaw(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), (ssize_t)bytes.size());
  }

  // Exactly n bytes, or what arrived before ms passed or the peer closed.
  std::vector<uint8_t> receiveRaw(size_t n, int ms) {
    std::vector<uint8_t> got;
    long long end = modbussim::nowMs() + ms;
    while (got.size() < n) {
      long long left = end - modbussim::nowMs();
      struct pollfd p = {fd, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, (int)left) <= 0) break;
      uint8_t buf[512];
      ssize_t r = recv(fd, buf, std::min(sizeof(buf), n - got.size()), 0);
      if (r <= 0) break;
      got.insert(got.end(), buf, buf + r);
    }
    return got;
  }

  // An MBAP header and PDU.
  static std::vector<uint8_t> adu(int tid, int unit, std::vector<uint8_t> pdu) {
    size_t len = pdu.size() + 1;
    std::vector<uint8_t> a = {(uint8_t)(tid >> 8), (uint8_t)tid, 0, 0, (uint8_t)(len >> 8),
                              (uint8_t)len,        (uint8_t)unit};
    a.insert(a.end(), pdu.begin(), pdu.end());
    return a;
  }

  ottest::TempDir dir;
  modbussim::Child sim;
  int port = -1;
  int fd = -1;
};

TEST_F(otmodbussimTcp, OtModbusMasterRoundTripsAndVerboseLinesNameEachRequest) {
  startSim({"-v", "-coils=16", "-registers=10"});
  otSocket sock("127.0.0.1", port, 1);
  otModbus m(1024 + 1, otModbus::MODBUS_RTU);
  m.registerSocket(&sock);
  int values[4] = {0x1234, 0, 0xFFFF, 7};
  EXPECT_EQ(m.presetMultipleRegisters(1, 6, 4, values), 4);
  int got[4] = {-1, -1, -1, -1};
  EXPECT_EQ(m.readHoldingRegisters(1, 6, 4, got), 8);
  EXPECT_EQ(std::vector<int>(got, got + 4), std::vector<int>(values, values + 4));
  EXPECT_EQ(m.presetSingleRegister(1, 0, 99), 4);
  EXPECT_EQ(m.readHoldingRegisters(1, 0, 1, got), 2);
  EXPECT_EQ(got[0], 99);
  unsigned char coils[2] = {0xA5, 0x01};
  EXPECT_EQ(m.forceMultipleCoils(1, 3, 9, coils), 4);
  EXPECT_EQ(m.forceSingleCoil(1, 2, 1), 4);
  unsigned char bits[4] = {0, 0, 0, 0};
  EXPECT_EQ(m.readCoilStatus(1, 0, 16, bits), 2);
  // Coil 2 and the nine from coil 3: 1010 0101 1 shifted by 3.
  EXPECT_EQ(bits[0], 0x2C);
  EXPECT_EQ(bits[1], 0x0D);
  // An exception reply is a failed transaction for the master.
  EXPECT_EQ(m.readHoldingRegisters(1, 10, 1, got), -1);

  std::string out = sim.output();
  for (const char* line : {"otmodbussim: slave 1 function 16 address 6 count 4: ok\n",
                           "otmodbussim: slave 1 function 3 address 6 count 4: ok\n",
                           "otmodbussim: slave 1 function 6 address 0 count 1 value 99: ok\n",
                           "otmodbussim: slave 1 function 15 address 3 count 9: ok\n",
                           "otmodbussim: slave 1 function 5 address 2 count 1 value 65280: ok\n",
                           "otmodbussim: slave 1 function 1 address 0 count 16: ok\n",
                           "otmodbussim: slave 1 function 3 address 10 count 1: exception 2\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "missing in\n" << out;
}

TEST_F(otmodbussimTcp, WithoutVerboseNoRequestLines) {
  startSim({});
  otSocket sock("127.0.0.1", port, 1);
  otModbus m(1024 + 1, otModbus::MODBUS_RTU);
  m.registerSocket(&sock);
  int v;
  EXPECT_EQ(m.readHoldingRegisters(1, 0, 1, &v), 2);
  EXPECT_EQ(sim.output().find("function"), std::string::npos) << sim.output();
}

TEST_F(otmodbussimTcp, SimulatedProcessChangesEverySecond) {
  startSim({"-simulate"});
  otSocket sock("127.0.0.1", port, 1);
  otModbus m(1024 + 1, otModbus::MODBUS_RTU);
  m.registerSocket(&sock);
  int first[4], second[4];
  ASSERT_EQ(m.readInputRegisters(1, 0, 4, first), 8);
  usleep(1200 * 1000);
  ASSERT_EQ(m.readInputRegisters(1, 0, 4, second), 8);
  // Counter and sawtooth step once per second; the sines stay in their range.
  int elapsed = (second[0] - first[0] + 65536) % 65536;
  EXPECT_GE(elapsed, 1);
  EXPECT_LE(elapsed, 30);
  EXPECT_EQ((second[3] - first[3] + 100) % 100, elapsed % 100);
  for (int v : {first[1], first[2], second[1], second[2]}) {
    EXPECT_GE(v, 0);
    EXPECT_LE(v, 1000);
  }
  // Holding registers are left to the clients.
  int holding[4] = {-1, -1, -1, -1};
  ASSERT_EQ(m.readHoldingRegisters(1, 0, 4, holding), 8);
  EXPECT_EQ(std::vector<int>(holding, holding + 4), std::vector<int>(4, 0));
}

TEST_F(otmodbussimTcp, EchoesTransactionIdsOfPipelinedRequests) {
  startSim({"-registers=100"});
  fd = modbussim::connectTcp(port);
  ASSERT_GE(fd, 0);
  // Two requests in one segment: the second waits in the engine's buffer, not on the socket.
  std::vector<uint8_t> both = adu(0x1234, 1, {6, 0, 4, 0xAB, 0xCD});
  std::vector<uint8_t> read = adu(0xBEEF, 9, {3, 0, 4, 0, 1});
  both.insert(both.end(), read.begin(), read.end());
  sendRaw(both);
  EXPECT_EQ(receiveRaw(12, 3000), adu(0x1234, 1, {6, 0, 4, 0xAB, 0xCD}));
  EXPECT_EQ(receiveRaw(11, 3000), adu(0xBEEF, 9, {3, 2, 0xAB, 0xCD}));
}

TEST_F(otmodbussimTcp, RequestsLongerThanTheLimitsAreRefused) {
  startSim({"-registers=300"});
  fd = modbussim::connectTcp(port);
  ASSERT_GE(fd, 0);
  // fc 16 with 124 registers and a matching byte count of 248.
  std::vector<uint8_t> pdu = {16, 0, 0, 0, 124, 248};
  pdu.resize(pdu.size() + 248, 0x11);
  sendRaw(adu(1, 1, pdu));
  EXPECT_EQ(receiveRaw(9, 3000), adu(1, 1, {0x90, 3}));
  // fc 23 writing 122 registers.
  pdu = {23, 0, 0, 0, 1, 0, 0, 0, 122, 244};
  pdu.resize(pdu.size() + 244, 0x22);
  sendRaw(adu(2, 1, pdu));
  EXPECT_EQ(receiveRaw(9, 3000), adu(2, 1, {0x97, 3}));
  // Nothing of them was written, and the stream is still in step.
  sendRaw(adu(3, 1, {3, 0, 0, 0, 1}));
  EXPECT_EQ(receiveRaw(11, 3000), adu(3, 1, {3, 2, 0, 0}));
}

TEST_F(otmodbussimTcp, AClientThatCutsATelegramShortIsDisconnected) {
  startSim({});
  fd = modbussim::connectTcp(port);
  ASSERT_GE(fd, 0);
  // fc 16 announcing 4 data bytes and sending 1.
  sendRaw({0, 1, 0, 0, 0, 11, 1, 16, 0, 0, 0, 2, 4, 0});
  std::vector<uint8_t> got = receiveRaw(1, 10000);
  EXPECT_TRUE(got.empty());
  char c;
  EXPECT_EQ(recv(fd, &c, 1, MSG_DONTWAIT), 0) << "connection still open";
  // The simulator itself goes on serving.
  otSocket sock("127.0.0.1", port, 1);
  otModbus m(1024 + 1, otModbus::MODBUS_RTU);
  m.registerSocket(&sock);
  int v;
  EXPECT_EQ(m.readHoldingRegisters(1, 0, 1, &v), 2);
}

TEST_F(otmodbussimTcp, FramesWithoutAModbusRequestAreDroppedAndTheConnectionGoesOn) {
  startSim({"-registers=10"});
  fd = modbussim::connectTcp(port);
  ASSERT_GE(fd, 0);
  // In one segment: a write with protocol id 1, a header of length 0, one with the unit id
  // only, then a read of the register that the first frame would have written.
  std::vector<uint8_t> segment = adu(1, 1, {6, 0, 0, 0x12, 0x34});
  segment[3] = 1;
  for (std::vector<uint8_t> frame :
       {std::vector<uint8_t>{0, 2, 0, 0, 0, 0}, std::vector<uint8_t>{0, 3, 0, 0, 0, 1, 1},
        adu(4, 1, {3, 0, 0, 0, 1})})
    segment.insert(segment.end(), frame.begin(), frame.end());
  sendRaw(segment);
  EXPECT_EQ(receiveRaw(11, 3000), adu(4, 1, {3, 2, 0, 0}));
  // Nothing was answered for the dropped frames.
  EXPECT_TRUE(receiveRaw(1, 300).empty());
  // Headers of length 0 on their own, then a request in a segment of its own.
  sendRaw({0, 5, 0, 0, 0, 0, 0, 6, 0, 0, 0, 0});
  usleep(100 * 1000);
  sendRaw(adu(7, 1, {6, 0, 1, 0, 9}));
  EXPECT_EQ(receiveRaw(12, 3000), adu(7, 1, {6, 0, 1, 0, 9}));
}

TEST_F(otmodbussimTcp, RequestsWhoseLengthDisagreesWithTheirPduGetException3) {
  startSim({"-v", "-registers=10"});
  fd = modbussim::connectTcp(port);
  ASSERT_GE(fd, 0);
  const struct {
    std::vector<uint8_t> pdu;
    std::vector<uint8_t> reply;
  } cases[] = {
      {{3, 0, 0, 0, 1, 0xAA}, {0x83, 3}},                  // trailing byte
      {{6, 0, 0}, {0x86, 3}},                              // too short for address and value
      {{16, 0, 0, 0, 0, 0, 0xAA, 0xBB}, {0x90, 3}},        // quantity 0, data behind it
      {{16, 0, 0, 0, 1, 2, 0, 1, 0xFF}, {0x90, 3}},        // a byte beyond the byte count
      {{23, 0, 0, 0, 1, 0, 0, 0, 1, 4, 0, 1}, {0x97, 3}},  // fewer bytes than its byte count
      {{7, 0}, {0x87, 1}},                                 // not served: the function first
  };
  int tid = 1;
  for (const auto& c : cases) {
    sendRaw(adu(tid, 1, c.pdu));
    EXPECT_EQ(receiveRaw(9, 3000), adu(tid, 1, c.reply)) << "function " << (int)c.pdu[0];
    tid++;
  }
  // Nothing was written, and the connection is in step.
  sendRaw(adu(tid, 1, {3, 0, 0, 0, 1}));
  EXPECT_EQ(receiveRaw(11, 3000), adu(tid, 1, {3, 2, 0, 0}));
  EXPECT_NE(sim.output().find("otmodbussim: slave 1 function 16 of a wrong length: exception 3\n"),
            std::string::npos)
      << sim.output();
}

TEST_F(otmodbussimTcp, SigintStopsWithStatusZeroWhileClientsAreConnected) {
  startSim({});
  fd = modbussim::connectTcp(port);
  ASSERT_GE(fd, 0);
  sendRaw(adu(5, 1, {3, 0, 0, 0, 1}));
  ASSERT_EQ(receiveRaw(11, 3000).size(), 11u);
  int status = sim.stop(SIGINT);
  EXPECT_TRUE(modbussim::exitedWith(status, 0)) << "status " << status << "\n" << sim.output();
  EXPECT_NE(sim.output().find("otmodbussim: stopped"), std::string::npos);
}

// Silent connections (a port scanner, a crashed master's half-open sockets, a load balancer's
// probes) must not lock a real master out: 32 of them used to fill every place.
TEST_F(otmodbussimTcp, FortySilentConnectionsDoNotLockOutAMaster) {
  startSim({"-registers=10"});
  std::vector<int> silent;
  for (int i = 0; i < 40; i++) {
    silent.push_back(modbussim::connectTcp(port));
    ASSERT_GE(silent.back(), 0);
  }
  usleep(200 * 1000);  // all of them accepted
  fd = modbussim::connectTcp(port);
  ASSERT_GE(fd, 0);
  sendRaw(adu(7, 1, {3, 0, 2, 0, 1}));
  EXPECT_EQ(receiveRaw(11, 3000), adu(7, 1, {3, 2, 0, 0})) << sim.output();
  // The silent ones are still open (no idle time has passed) and nothing was refused.
  for (int s : silent) {
    char c;
    EXPECT_EQ(recv(s, &c, 1, MSG_DONTWAIT), -1);
    close(s);
  }
  EXPECT_EQ(sim.output().find("refused"), std::string::npos) << sim.output();
}

TEST_F(otmodbussimTcp, ClientsAboveMaxclientsAreDisconnectedAtOnce) {
  startSim({"-maxclients=3"});
  std::vector<int> served;
  // The start-up probe's connection may still count for a moment: a refused master tries again.
  for (int i = 0; i < 3; i++) {
    bool answered = false;
    for (int attempt = 0; attempt < 50 && !answered; attempt++) {
      fd = modbussim::connectTcp(port);
      ASSERT_GE(fd, 0);
      sendRaw(adu(i, 1, {3, 0, 0, 0, 1}));
      answered = receiveRaw(11, 3000).size() == 11u;
      if (!answered) {
        close(fd);
        usleep(20 * 1000);
      }
    }
    ASSERT_TRUE(answered) << sim.output();
    served.push_back(fd);
  }
  // The fourth sees its connection end at once (no reply time-out to wait for) ...
  fd = modbussim::connectTcp(port);
  ASSERT_GE(fd, 0);
  long long start = modbussim::nowMs();
  EXPECT_TRUE(receiveRaw(1, 3000).empty());
  EXPECT_LT(modbussim::nowMs() - start, 2500);
  char c;
  EXPECT_EQ(recv(fd, &c, 1, MSG_DONTWAIT), 0) << "connection still open";
  close(fd);
  // ... and the simulator says why.
  EXPECT_TRUE(sim.waitForOutput("refused: the limit of 3 clients was reached", 5000))
      << sim.output();
  // A place that becomes free is taken by the next master.
  close(served[0]);
  served.erase(served.begin());
  bool answered = false;
  for (int i = 0; i < 50 && !answered; i++) {
    usleep(20 * 1000);
    fd = modbussim::connectTcp(port);
    ASSERT_GE(fd, 0);
    sendRaw(adu(9, 1, {3, 0, 0, 0, 1}));
    answered = receiveRaw(11, 3000).size() == 11u;
    if (!answered) close(fd);
  }
  EXPECT_TRUE(answered) << sim.output();
  for (int s : served)
    close(s);
}

TEST_F(otmodbussimTcp, SilentConnectionsAreClosedAfterTheIdleTime) {
  startSim({"-idle=1", "-v"});
  int silent = modbussim::connectTcp(port);
  ASSERT_GE(silent, 0);
  fd = modbussim::connectTcp(port);
  ASSERT_GE(fd, 0);
  // A master that polls every 300 ms stays connected past the idle time.
  for (int i = 0; i < 6; i++) {
    sendRaw(adu(i, 1, {3, 0, 0, 0, 1}));
    EXPECT_EQ(receiveRaw(11, 3000).size(), 11u);
    usleep(300 * 1000);
  }
  // The silent one was closed after about a second.
  struct pollfd p = {silent, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 3000), 1);
  char c;
  EXPECT_EQ(recv(silent, &c, 1, 0), 0);
  close(silent);
  EXPECT_NE(sim.output().find("otmodbussim: no request for 1 s, connection closed"),
            std::string::npos)
      << sim.output();
}

// Modbus ASCII over a socat pair with pymodbus on the other end.
class otmodbussimAscii : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(line.start(dir.path()), ""); }

  void TearDown() override {
    serial.closeDevice();
    int status = peer.stop(SIGTERM);
    (void)status;  // the slave script ends by the signal
    if (sim.pid() > 0) {
      status = sim.stop(SIGTERM);
      EXPECT_TRUE(modbussim::exitedWith(status, 0)) << "status " << status << "\n" << sim.output();
    }
    line.stop();
  }

  void startPeer(std::vector<std::string> args) {
    args.insert(args.begin(), {OTKIT_PYTHON, kPeer});
    int rc = peer.start(args, dir.file("peer.out"));
    ASSERT_EQ(rc, 0) << "cannot start " << OTKIT_PYTHON << " (" << strerror(rc)
                     << "): these tests need python3 with pymodbus; scripts/test.sh installs it";
  }

  ottest::TempDir dir;
  ottest::SocatPair line;
  modbussim::Child sim;
  modbussim::Child peer;
  otSerial serial;
};

TEST_F(otmodbussimAscii, PymodbusMasterPollsTheSimulator) {
  ASSERT_EQ(sim.start({kSim, "-serial=" + line.a(), "-mode=ascii", "-baud=9600", "-slave=1",
                       "-registers=300", "-init=" + kValues, "-v"},
                      dir.file("sim.out")),
            0);
  ASSERT_TRUE(sim.waitForOutput("serving", 10000)) << sim.output();
  startPeer({"master", line.b(), kValues});
  int status = peer.wait(60000);
  std::string out = peer.output();
  EXPECT_TRUE(modbussim::exitedWith(status, 0)) << "status " << status << "\n" << out;
  EXPECT_NE(out.find("done"), std::string::npos) << out;
  EXPECT_EQ(out.find("FAIL"), std::string::npos) << out;
  EXPECT_NE(sim.output().find("function 3 address 65000 count 1: exception 2"), std::string::npos)
      << sim.output();
}

TEST_F(otmodbussimAscii, OtModbusMasterPollsPymodbusSlave) {
  startPeer({"slave", line.a()});
  ASSERT_TRUE(peer.waitForOutput("ready", 30000)) << peer.output();
  ASSERT_EQ(serial.openDevice(line.b().c_str(), B9600, 1, 0, 8, 1, otSerial::NONE), 0);
  otModbus m(1024 + 1, otModbus::MODBUS_ASCII);
  m.registerSerial(&serial);
  const int timeout = 3000;

  // The slave's tables: holding 1000 + i, input 2000 + i, coil i % 3 == 0, discrete i even.
  int regs[8] = {0};
  ASSERT_EQ(m.readHoldingRegisters(1, 10, 3, regs, timeout), 6) << peer.output();
  EXPECT_EQ(std::vector<int>(regs, regs + 3), (std::vector<int>{1010, 1011, 1012}));
  ASSERT_EQ(m.readInputRegisters(1, 0, 2, regs, timeout), 4);
  EXPECT_EQ(std::vector<int>(regs, regs + 2), (std::vector<int>{2000, 2001}));
  unsigned char bits[4] = {0};
  ASSERT_EQ(m.readCoilStatus(1, 0, 10, bits, timeout), 2);
  EXPECT_EQ(bits[0], 0x49);  // coils 0, 3, 6
  EXPECT_EQ(bits[1], 0x02);  // coil 9
  ASSERT_EQ(m.readInputStatus(1, 1, 8, bits, timeout), 1);
  EXPECT_EQ(bits[0], 0xAA);  // inputs 2, 4, 6, 8 at bits 1, 3, 5, 7

  int values[3] = {0xFFFF, 0, 0x1234};
  ASSERT_EQ(m.presetMultipleRegisters(1, 20, 3, values, timeout), 4);
  ASSERT_EQ(m.presetSingleRegister(1, 23, 77, timeout), 4);
  ASSERT_EQ(m.readHoldingRegisters(1, 20, 4, regs, timeout), 8);
  EXPECT_EQ(std::vector<int>(regs, regs + 4), (std::vector<int>{0xFFFF, 0, 0x1234, 77}));

  unsigned char coils[2] = {0xFF, 0x00};
  ASSERT_EQ(m.forceMultipleCoils(1, 40, 9, coils, timeout), 4);
  ASSERT_EQ(m.forceSingleCoil(1, 49, 1, timeout), 4);
  ASSERT_EQ(m.readCoilStatus(1, 40, 10, bits, timeout), 2);
  EXPECT_EQ(bits[0], 0xFF);
  EXPECT_EQ(bits[1], 0x02);  // coil 48 off, coil 49 on
}

}  // namespace
