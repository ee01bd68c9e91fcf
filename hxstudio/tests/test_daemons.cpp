// Generated daemons end to end: a project file is turned into a daemon by mkmodbus, mksiemens
// or mkppi, compiled against this build tree and run as a process against a real peer
// (libmodbus over Modbus/TCP and RTU, snap7's S7 server, a pseudo-terminal for PPI). The test
// reads the process image through the device clients at the generated header's offsets and
// posts write requests through the mailbox, as a display server does.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "daemontest.h"
#include "ipctest.h"
#include "libmodbusslave.h"
#include "otmodbusclient.h"
#include "otppiclient.h"
#include "otsiemenstcp.h"
#include "otsiemenstcpclient.h"
#include "snap7server.h"
#include "socatpair.h"
#include "testutil.h"
extern "C" {
#include "nodave.h"
}

namespace {

using namespace hxtest;

// The Modbus daemon's counters, in host byte order behind the blocks.
int counter(otModbusClient& image, int base) {
  unsigned short v = 0;
  return image.otSharedMemory::read(base, &v, 2) == 2 ? v : -1;
}

void fillModbusTables(Slave& slave) {
  slave.withMap([](modbus_mapping_t* m) {
    const uint16_t holding[] = {0x1234, 0x5678, 0x9ABC, 0x0042};
    for (int i = 0; i < 4; i++)
      m->tab_registers[i] = holding[i];
    m->tab_input_registers[10] = 7;
    m->tab_input_registers[11] = 0xFFFF;
    const int coils[] = {1, 0, 1, 1, 0, 0, 0, 0, 1, 1};
    for (int i = 0; i < 10; i++)
      m->tab_bits[i] = coils[i];
    m->tab_input_bits[0] = 1;
    m->tab_input_bits[1] = 1;
    return 0;
  });
}

const char kModbusCycles[] =
    "cycle1 slave=1 function=3 start_adr=0 num_register=4\n"
    "cycle2 slave=1 function=4 start_adr=10 num_register=2\n"
    "cycle3 slave=1 function=1 start_adr=0 num_register=10\n"
    "cycle4 slave=1 function=2 start_adr=0 num_register=3\n";

// Every block of the image holds what the slave's tables hold, at the header's offsets.
void expectModbusImage(otModbusClient& image, std::map<std::string, int>& defs) {
  int b1 = defs["e2e_CYCLE1_BASE"], b2 = defs["e2e_CYCLE2_BASE"], b3 = defs["e2e_CYCLE3_BASE"],
      b4 = defs["e2e_CYCLE4_BASE"];
  EXPECT_EQ(b2, 8);
  EXPECT_EQ(b3, 12);
  EXPECT_EQ(b4, 14);
  EXPECT_EQ(image.readShort(b1, 0), 0x1234);
  EXPECT_EQ(image.readShort(b1, 3), 0x0042);
  EXPECT_EQ(image.readShort(b2, 0), 7);
  EXPECT_EQ(image.readShort(b2, 1), 0xFFFF);
  std::string coils;
  for (int i = 0; i < 10; i++)
    coils += char('0' + image.readBit(b3, i));
  EXPECT_EQ(coils, "1011000011");
  EXPECT_EQ(image.readBit(b4, 0), 1);
  EXPECT_EQ(image.readBit(b4, 1), 1);
  EXPECT_EQ(image.readBit(b4, 2), 0);
}

TEST_F(GeneratedDaemon, ModbusTcpFillsTheImageAndServesWriteRequests) {
  Slave slave;
  int port = slave.startTcp();
  ASSERT_GT(port, 0);
  fillModbusTables(slave);
  run("mkmodbus", "e2e.mkmodbus",
      paths() + "communication=socket\ntcpadr=127.0.0.1\ntcpport=" + std::to_string(port) +
          "\nbaudrate=400000\n" + kModbusCycles,
      "e2e.h");
  otModbusClient image(mbx().c_str(), shm().c_str(), def("e2e_SHARED_MEMORY_SIZE"));
  int life = def("e2e_LIFE_COUNTER_BASE");
  ASSERT_TRUE(waitFor([&] { return counter(image, life) >= 3; })) << daemon.log();
  expectModbusImage(image, defs);
  EXPECT_EQ(counter(image, def("e2e_READ_ERROR_COUNT_BASE")), 0);
  for (int k = 1; k <= 4; k++) {
    int ok = -1;
    long age = -2;
    EXPECT_EQ(image.cycleStatus(k, &ok, &age), 0) << k;
    EXPECT_EQ(ok, 1) << k;
    EXPECT_GE(age, 0) << k;
    EXPECT_LE(age, 2) << k;
  }
  long passAge = -2;
  EXPECT_EQ(image.passAge(&passAge), 0);
  EXPECT_GE(passAge, 0);

  // Write requests through the mailbox reach the device, the largest one included: 123
  // registers is the most one Modbus request carries.
  EXPECT_EQ(image.writePresetSingleRegister(1, 20, 777), 0);
  const unsigned char coils[] = {0xB5, 0x03};  // coils 100..109: 1010 1101 11
  EXPECT_EQ(image.writeMultipleCoils(1, 100, coils, 10), 0);
  std::vector<int> values(123);
  for (int i = 0; i < 123; i++)
    values[i] = 1000 + i;
  EXPECT_EQ(image.writePresetMultipleRegisters(1, 100, values.data(), 123), 0);
  EXPECT_TRUE(waitFor([&] { return slave.reg(20) == 777; })) << daemon.log();
  EXPECT_TRUE(waitFor([&] { return slave.reg(222) == 1122; })) << daemon.log();
  EXPECT_EQ(slave.reg(100), 1000);
  std::string written;
  for (int i = 100; i < 110; i++)
    written += char('0' + slave.coil(i));
  EXPECT_EQ(written, "1010110111");
  EXPECT_EQ(counter(image, def("e2e_WRITE_ERROR_COUNT_BASE")), 0);

  // A request the device refuses (an exception reply: the slave has 256 registers) is counted
  // at once rather than held back for a retry, and the request behind it goes through.
  EXPECT_EQ(image.writePresetSingleRegister(1, 400, 1), 0);
  EXPECT_EQ(image.writePresetSingleRegister(1, 21, 555), 0);
  EXPECT_TRUE(waitFor([&] { return slave.reg(21) == 555; }, 3000)) << daemon.log();
  EXPECT_EQ(counter(image, def("e2e_WRITE_ERROR_COUNT_BASE")), 1);

  int before = counter(image, life);
  EXPECT_TRUE(waitFor([&] { return counter(image, life) > before + 2; }));
  EXPECT_TRUE(daemon.alive());
}

TEST_F(GeneratedDaemon, ModbusTcpSurvivesTheServerGoingAway) {
  auto slave = std::make_unique<Slave>();
  int port = slave->startTcp();
  ASSERT_GT(port, 0);
  fillModbusTables(*slave);
  run("mkmodbus", "e2e.mkmodbus",
      paths() + "communication=socket\ntcpadr=127.0.0.1\ntcpport=" + std::to_string(port) +
          "\nbaudrate=400000\n" + kModbusCycles,
      "e2e.h");
  otModbusClient image(mbx().c_str(), shm().c_str(), def("e2e_SHARED_MEMORY_SIZE"));
  int life = def("e2e_LIFE_COUNTER_BASE"), errors = def("e2e_READ_ERROR_COUNT_BASE");
  int b1 = def("e2e_CYCLE1_BASE");
  ASSERT_TRUE(waitFor([&] { return image.readShort(b1, 0) == 0x1234; })) << daemon.log();

  slave.reset();
  ASSERT_TRUE(waitFor([&] { return counter(image, errors) >= 3; })) << daemon.log();
  EXPECT_TRUE(daemon.alive());
  EXPECT_EQ(image.readShort(b1, 0), 0x1234) << "a failed cycle leaves its block unchanged";

  slave = std::make_unique<Slave>();
  ASSERT_EQ(slave->startTcp(port), port);
  fillModbusTables(*slave);
  slave->withMap([](modbus_mapping_t* m) { return m->tab_registers[0] = 0x4321; });
  int back = counter(image, life);
  ASSERT_TRUE(waitFor([&] { return image.readShort(b1, 0) == 0x4321; })) << daemon.log();
  // Values flow again within two passes over the cycles (the life counter counts passes;
  // one more may have begun before the server was back).
  EXPECT_LE((counter(image, life) - back + 32768) % 32768, 3);
}

// A TCP listener on the loopback that collects what one event-log client sends.
class LineSink {
 public:
  LineSink() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(sin);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0 && listen(fd_, 4) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
      port_ = ntohs(sin.sin_port);
  }
  ~LineSink() {
    if (peer_ >= 0) close(peer_);
    close(fd_);
  }
  int port() const { return port_; }
  // Waits until what arrived contains part.
  bool waitFor(const std::string& part) {
    return hxtest::waitFor([&] {
      struct pollfd p = {peer_ >= 0 ? peer_ : fd_, POLLIN, 0};
      if (poll(&p, 1, 10) == 1) {
        if (peer_ < 0) {
          peer_ = accept(fd_, nullptr, nullptr);
        } else {
          char buf[512];
          ssize_t n = ::read(peer_, buf, sizeof(buf));
          if (n > 0) text_.append(buf, n);
        }
      }
      return text_.find(part) != std::string::npos;
    });
  }
  const std::string& text() const { return text_; }

 private:
  int fd_ = -1, peer_ = -1, port_ = -1;
  std::string text_;
};

TEST_F(GeneratedDaemon, ModbusDaemonReportsToTheEventLog) {
  LineSink events;
  ASSERT_GT(events.port(), 0);
  auto slave = std::make_unique<Slave>();
  int port = slave->startTcp();
  ASSERT_GT(port, 0);
  run("mkmodbus", "e2e.mkmodbus",
      paths() + "communication=socket\ntcpadr=127.0.0.1\ntcpport=" + std::to_string(port) +
          "\nbaudrate=400000\neventlog host=127.0.0.1 port=" + std::to_string(events.port()) +
          "\ncycle1 slave=1 function=3 start_adr=0 num_register=4\n",
      "e2e.h");
  EXPECT_TRUE(events.waitFor(" e2e: INFO e2e starting\n")) << events.text() << daemon.log();
  slave.reset();
  EXPECT_TRUE(
      events.waitFor(" e2e: WARNING modbus.response cycle ret=-1 slave=1 function=3 "
                     "start_adr=0 num_register=4\n"))
      << events.text() << daemon.log();
}

TEST_F(GeneratedDaemon, ModbusRtuOverASerialLine) {
  ottest::SocatPair pair;
  ASSERT_EQ(pair.start(dir.path()), "");
  Slave slave;
  ASSERT_TRUE(slave.startRtu(pair.b(), 17));
  fillModbusTables(slave);
  run("mkmodbus", "e2e.mkmodbus",
      paths() + "communication=serial\ntty=" + pair.a() +
          "\nbaudrate=115200\nrtscts=0\nparity=0\nprotocol=0\n" +
          "cycle1 slave=17 function=3 start_adr=0 num_register=4\n"
          "cycle2 slave=17 function=1 start_adr=0 num_register=10\n",
      "e2e.h");
  otModbusClient image(mbx().c_str(), shm().c_str(), def("e2e_SHARED_MEMORY_SIZE"));
  int b1 = def("e2e_CYCLE1_BASE"), b2 = def("e2e_CYCLE2_BASE");
  ASSERT_TRUE(waitFor([&] { return counter(image, def("e2e_LIFE_COUNTER_BASE")) >= 3; }))
      << daemon.log();
  EXPECT_EQ(image.readShort(b1, 1), 0x5678);
  EXPECT_EQ(image.readBit(b2, 8), 1);
  EXPECT_EQ(image.writePresetSingleRegister(17, 30, 0xBEEF), 0);
  EXPECT_TRUE(waitFor([&] { return slave.reg(30) == 0xBEEF; })) << daemon.log();
  pair.stop();
}

TEST_F(GeneratedDaemon, SiemensTcpAgainstSnap7) {
  ottest::Snap7Server server;
  ASSERT_TRUE(server.ok()) << server.error();
  run("mksiemens", "e2e.mksiemens",
      "target=s7e2e\n" + paths() + "idletime=10\n" +
          "slave=0 adr=127.0.0.1 type=S7_300 fetch_write=0 function=-1 rack_slot=-1 port=" +
          std::to_string(server.port()) +
          "\n"
          "cycle1 slave=0 org=ORG_DB dbnum=10 start=0 len=16\n"
          "cycle2 slave=0 org=ORG_M dbnum=0 start=0 len=8\n"
          "cycle3 slave=0 org=ORG_DB dbnum=1 start=0 len=16\n",
      "s7e2e.h");
  EXPECT_EQ(def("s7e2e_CYCLE2_BASE"), 16);
  // blocks, counters, 3 cycle records, the daemon's record
  EXPECT_EQ(def("s7e2e_SHARED_MEMORY_SIZE"), 40 + 6 + 3 * 16 + 28);
  otSiemensTCPClient image(mbx().c_str(), shm().c_str(), def("s7e2e_SHARED_MEMORY_SIZE"), 1);
  // DB10 holds the bytes 0..255.
  ASSERT_TRUE(waitFor([&] {
    image.read(0, 40);
    return image.UShort(7) == 0x0E0F;
  })) << daemon.log();
  int ok = 0;
  long age = -1;
  EXPECT_TRUE(waitFor([&] { return image.cycleStatus(3, &ok, &age) == 0 && ok == 1; }));
  EXPECT_GE(age, 0);
  EXPECT_EQ(image.otSharedMemory::readShort(def("s7e2e_READ_ERROR_COUNT_BASE"), 0), 0);
  EXPECT_GT(image.otSharedMemory::readShort(def("s7e2e_LIFE_COUNTER_BASE"), 0), 0);

  const unsigned char bytes[] = {0xAB, 0xCD};
  EXPECT_EQ(image.writeByte(0, otSiemensTCP::ORG_DB, 1, 5, 2, bytes), 0);
  const unsigned char one = 1;
  EXPECT_EQ(image.writeBit(0, otSiemensTCP::ORG_M, 0, 3, 5, 1, &one), 0);
  EXPECT_TRUE(waitFor([&] {
    unsigned char b[16];
    return image.otSharedMemory::read(24 + 5, b, 2) == 2 && b[0] == 0xAB && b[1] == 0xCD;
  })) << daemon.log();
  EXPECT_TRUE(waitFor([&] {
    unsigned char m = 0;
    return image.otSharedMemory::read(16 + 3, &m, 1) == 1 && m == 0x20;
  })) << daemon.log();

  // The server's memory itself, read on a connection of our own.
  otSiemensTCP plc("127.0.0.1", otSiemensTCP::S7_300, 0, -1, -1);
  plc.setPort(server.port());
  unsigned char db1[8] = {0};
  ASSERT_EQ(plc.fetch(otSiemensTCP::ORG_DB, 1, 0, 8, db1), 8);
  EXPECT_EQ(db1[5], 0xAB);
  EXPECT_EQ(db1[6], 0xCD);
}

// The daemon of examples/ppi.mkppi (V memory 0..63 and 64..127 of station 2), pointed at a
// pty: its cycles fill the image, write requests reach the station, and when the station goes
// away and comes back the errors are counted and the values flow again.
TEST_F(GeneratedDaemon, PpiDaemonAgainstTheSimulator) {
  ottest::SocatPair pair;
  ASSERT_EQ(pair.start(dir.path()), "");
  PpiSimulator sim;
  ASSERT_TRUE(sim.start(dir, pair.b(), "-set=v:0:0x98,0x76,0x45,0x12 -set=v:127:0x5A"));
  // Later settings override the example's.
  std::string example = ottest::readFile(std::string(HX_EXAMPLES_DIR) + "/ppi.mkppi");
  ASSERT_NE(example.find("cycle2 slave=2 area=daveDB dbnum=1 start=64 len=64"), std::string::npos);
  run("mkppi", "ppi.mkppi", example + paths() + "tty=" + pair.a() + "\nidletime=20\n",
      "ppidaemon.h");
  EXPECT_EQ(def("ppidaemon_CYCLE2_BASE"), 64);
  otPPIClient image(mbx().c_str(), shm().c_str(), def("ppidaemon_SHARED_MEMORY_SIZE"), 1);
  auto byte = [&](int offset) { return image.otSharedMemory::readByte(offset, 0) & 0xFF; };
  auto counter = [&](const char* name) {
    unsigned short v = 0;
    return image.otSharedMemory::read(def(name), &v, 2) == 2 ? (int)v : -1;
  };
  auto cyclesGood = [&] {
    int ok1 = 0, ok2 = 0;
    long age;
    return image.cycleStatus(1, &ok1, &age) == 0 && image.cycleStatus(2, &ok2, &age) == 0 &&
           ok1 == 1 && ok2 == 1;
  };

  ASSERT_TRUE(waitFor(cyclesGood)) << daemon.log() << sim.log();
  image.read(0, 4);
  EXPECT_EQ(image.UDword(0), 0x98764512u);
  EXPECT_EQ(byte(127), 0x5A);
  int life = counter("ppidaemon_LIFE_COUNTER_BASE");
  EXPECT_TRUE(waitFor([&] { return counter("ppidaemon_LIFE_COUNTER_BASE") > life + 2; }));
  EXPECT_EQ(counter("ppidaemon_READ_ERROR_COUNT_BASE"), 0) << daemon.log();

  // Into a block the daemon reads back, and into the markers, which it does not read.
  const unsigned char word[] = {0xCA, 0xFE};
  ASSERT_EQ(image.write(2, daveDB, 1, 10, 2, word), 0);
  const unsigned char markers[] = {1, 2, 3};
  ASSERT_EQ(image.write(2, daveFlags, 0, 4, 3, markers), 0);
  EXPECT_TRUE(waitFor([&] { return byte(10) == 0xCA && byte(11) == 0xFE; })) << daemon.log();
  EXPECT_TRUE(waitFor([&] { return sim.log().find("write M 4 3 bytes: ok") != std::string::npos; }))
      << sim.log();
  // A refusal is counted at once: V memory ends at 10240.
  ASSERT_EQ(image.write(2, daveDB, 1, 10239, 2, word), 0);
  EXPECT_TRUE(waitFor([&] { return counter("ppidaemon_WRITE_ERROR_COUNT_BASE") == 1; }))
      << daemon.log();

  // The line falls silent: failed cycles are counted and marked, the values stay.
  sim.stop();
  int errors = counter("ppidaemon_READ_ERROR_COUNT_BASE");
  EXPECT_TRUE(waitFor([&] { return counter("ppidaemon_READ_ERROR_COUNT_BASE") >= errors + 2; }))
      << daemon.log();
  EXPECT_TRUE(waitFor([&] {
    int ok = 1;
    long age;
    return image.cycleStatus(1, &ok, &age) == 0 && ok == 0;
  }));
  EXPECT_EQ(byte(0), 0x98) << "a failed read leaves its block";
  EXPECT_NE(daemon.log().find("daveReadBytes ret=" + std::to_string(daveResTimeout)),
            std::string::npos)
      << daemon.log();

  // A write request posted meanwhile waits for the station.
  const unsigned char held[] = {0x77};
  ASSERT_EQ(image.write(2, daveDB, 1, 20, 1, held), 0);
  usleep(500000);

  // A station with other values comes back: they flow again, and the held write arrives.
  ASSERT_TRUE(sim.start(dir, pair.b(), "-set=v:0:0x11,0x22,0x33,0x44"));
  EXPECT_TRUE(waitFor([&] {
    image.read(0, 4);
    return image.UDword(0) == 0x11223344u && cyclesGood();
  })) << daemon.log()
      << sim.log();
  EXPECT_TRUE(waitFor([&] { return byte(20) == 0x77; })) << daemon.log() << sim.log();
  EXPECT_EQ(counter("ppidaemon_WRITE_ERROR_COUNT_BASE"), 1) << "only the refusal counted";
  EXPECT_TRUE(daemon.alive());
  sim.stop();
}

// A segment of the old, smaller size (an earlier daemon, or a display server built with an
// older header, created it) cannot hold the counters and status: the daemon says so and ends.
TEST_F(GeneratedDaemon, ModbusRefusesAnImageTooSmallForItsStatus) {
  otSharedMemory old(shm().c_str(), 8);
  ASSERT_EQ(old.status, otSharedMemory::SHM_OK);
  run("mkmodbus", "e2e.mkmodbus",
      paths() + "communication=socket\ntcpadr=127.0.0.1\ntcpport=1\n" +
          "cycle1 slave=1 function=3 start_adr=0 num_register=1\n",
      "e2e.h");
  EXPECT_EQ(daemon.exitStatus(kWaitMs), 1);
  EXPECT_NE(daemon.log().find("process image unusable"), std::string::npos) << daemon.log();
}

TEST_F(GeneratedDaemon, PpiWithoutItsSerialLineEndsWithAFailure) {
  run("mkppi", "e2e.mkppi", paths() + "tty=" + dir.file("no-such-tty") + "\n", "ppidaemon.h");
  EXPECT_EQ(daemon.exitStatus(kWaitMs), 1);
  EXPECT_NE(daemon.log().find("error opening SERIAL_DEVICE"), std::string::npos) << daemon.log();
  EXPECT_NE(daemon.log().find("no-such-tty"), std::string::npos) << daemon.log();
}

}  // namespace
