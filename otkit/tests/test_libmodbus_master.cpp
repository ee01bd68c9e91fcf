// otModbus as a master against libmodbus, an independent implementation of the protocol:
// Modbus/TCP on loopback and RTU over two pseudo-terminals linked by socat. libmodbus runs as
// the slave in a thread of the test process and answers from its own tables, so every value
// read or written crosses a real peer's parser. A last group talks to the line by hand to
// check the RTU and ASCII telegrams byte for byte.
#include "otmodbus.h"

#include <errno.h>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "libmodbusslave.h"
#include "socatpair.h"
#include "testutil.h"

namespace {

// Sizes of the slave's tables; addresses from kOutside on are beyond all of them.
const int kBits = 2048, kInputBits = 2048, kRegisters = 200, kInputRegisters = 200;
const int kOutside = 5000;
// Generous: the peer may run under a sanitizer on a busy machine.
const int kTimeout = 3000;
const int kRtuSlave = 17;

std::string hex(const std::string& s) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// "11 03 00 6B" -> the bytes.
std::string bytesOf(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      i++;
      continue;
    }
    out += (char)std::stoi(text.substr(i, 2), nullptr, 16);
    i += 2;
  }
  return out;
}

std::string errorLine(int ret, int slave, int retSlave, int function, int retFunction,
                      int timeout) {
  char line[200];
  snprintf(line, sizeof(line),
           "otMOdbus::ERROR response ret=%d slave=%d ret_slave=%d function=%d "
           "ret_function=%d timeout=%d\n",
           ret, slave, retSlave, function, retFunction, timeout);
  return line;
}

using LibmodbusSlave = ottest::LibmodbusSlave<kBits, kInputBits, kRegisters, kInputRegisters>;

class LibmodbusTcp : public ::testing::Test {
 protected:
  void SetUp() override {
    port = slave.startTcp();
    ASSERT_GT(port, 0) << "libmodbus cannot listen on 127.0.0.1: " << modbus_strerror(errno);
    sock.reset(new otSocket("127.0.0.1", port, 1));
    m.registerSocket(sock.get());
  }
  void TearDown() override { slave.stop(); }

  LibmodbusSlave slave;
  int port = -1;
  std::unique_ptr<otSocket> sock;
  otModbus m{256 + 1, otModbus::MODBUS_RTU};  // what the generated daemons construct
};

class LibmodbusRtu : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string problem = line.start(dir.path());
    ASSERT_EQ(problem, "");
    ASSERT_TRUE(slave.startRtu(line.b(), kRtuSlave))
        << "libmodbus cannot open " << line.b() << ": " << modbus_strerror(errno);
    ASSERT_EQ(serial.openDevice(line.a().c_str(), B9600, 1, 0, 8, 1, otSerial::NONE), 0);
    m.registerSerial(&serial);
  }
  void TearDown() override {
    slave.stop();
    serial.closeDevice();
    line.stop();
  }

  ottest::TempDir dir;
  ottest::SocatPair line;  // "a" for otSerial, "b" for the peer
  LibmodbusSlave slave;
  otSerial serial;
  otModbus m{256 + 1, otModbus::MODBUS_RTU};
};

// The coils a..a+n-1 of the slave, packed as a reply carries them (first coil in bit 0).
std::vector<unsigned char> packedCoils(LibmodbusSlave& slave, int a, int n) {
  return slave.withMap([a, n](modbus_mapping_t* map) {
    std::vector<unsigned char> packed((size_t)(n + 7) / 8, 0);
    for (int i = 0; i < n; i++)
      if (map->tab_bits[a + i]) packed[(size_t)i / 8] |= (unsigned char)(1 << (i % 8));
    return packed;
  });
}

// Every master transaction, shared by the TCP and the RTU tests: reads, then writes.
void checkReadTransactions(otModbus& m, int id, LibmodbusSlave& slave) {
  slave.withMap([](modbus_mapping_t* map) {
    for (int i = 0; i < 16; i++) {
      map->tab_bits[i] = (0xA5C3 >> i) & 1;
      map->tab_input_bits[i] = (0x3C5A >> i) & 1;
    }
    map->tab_registers[10] = 0x1234;
    map->tab_registers[11] = 0xFFFF;
    map->tab_registers[12] = 0x8000;
    map->tab_input_registers[20] = 0xBEEF;
    map->tab_input_registers[21] = 0x0001;
  });
  // Bytes behind what a reply fills must stay untouched (an RTU reply also carries a CRC).
  unsigned char bits[8];
  memset(bits, 0xEE, sizeof(bits));
  EXPECT_EQ(m.readCoilStatus(id, 0, 8, bits, kTimeout), 1);
  EXPECT_EQ(bits[0], 0xC3);
  EXPECT_EQ(bits[1], 0xEE);
  memset(bits, 0xEE, sizeof(bits));
  EXPECT_EQ(m.readCoilStatus(id, 0, 9, bits, kTimeout), 2);
  EXPECT_EQ(bits[0], 0xC3);
  EXPECT_EQ(bits[1], 0x01);
  EXPECT_EQ(bits[2], 0xEE);
  memset(bits, 0xEE, sizeof(bits));
  EXPECT_EQ(m.readInputStatus(id, 4, 12, bits, kTimeout), 2);
  EXPECT_EQ(bits[0], 0xC5);
  EXPECT_EQ(bits[1], 0x03);
  EXPECT_EQ(bits[2], 0xEE);

  int regs[5] = {-7, -7, -7, -7, -7};
  EXPECT_EQ(m.readHoldingRegisters(id, 10, 3, regs, kTimeout), 6);
  EXPECT_EQ(regs[0], 0x1234);
  EXPECT_EQ(regs[1], 0xFFFF);
  EXPECT_EQ(regs[2], 0x8000);
  EXPECT_EQ(regs[3], -7);
  EXPECT_EQ(m.readInputRegisters(id, 20, 2, regs, kTimeout), 4);
  EXPECT_EQ(regs[0], 0xBEEF);
  EXPECT_EQ(regs[1], 0x0001);
  EXPECT_EQ(regs[2], 0x8000);
}

void checkWriteTransactions(otModbus& m, int id, LibmodbusSlave& slave) {
  EXPECT_EQ(m.forceSingleCoil(id, 5, 7, kTimeout), 4);  // any non-zero value sets the coil
  EXPECT_EQ(slave.coil(5), 1);
  EXPECT_EQ(m.forceSingleCoil(id, 5, 0, kTimeout), 4);
  EXPECT_EQ(slave.coil(5), 0);

  EXPECT_EQ(m.presetSingleRegister(id, 30, 0xFEDC, kTimeout), 4);
  EXPECT_EQ(slave.reg(30), 0xFEDC);

  unsigned char eight[] = {0x5A};
  EXPECT_EQ(m.forceMultipleCoils(id, 100, 8, eight, kTimeout), 4);
  EXPECT_EQ(packedCoils(slave, 100, 8), std::vector<unsigned char>({0x5A}));
  slave.withMap([](modbus_mapping_t* map) { map->tab_bits[210] = 0; });
  unsigned char nine[] = {0xFF, 0x01};
  EXPECT_EQ(m.forceMultipleCoils(id, 201, 9, nine, kTimeout), 4);
  EXPECT_EQ(packedCoils(slave, 201, 9), std::vector<unsigned char>({0xFF, 0x01}));
  EXPECT_EQ(slave.coil(210), 0);

  int values[] = {0x0102, 0xFFFF, 0x8000};
  EXPECT_EQ(m.presetMultipleRegisters(id, 40, 3, values, kTimeout), 4);
  EXPECT_EQ(slave.reg(40), 0x0102);
  EXPECT_EQ(slave.reg(41), 0xFFFF);
  EXPECT_EQ(slave.reg(42), 0x8000);
}

// The largest counts a reply can carry: 125 registers and 2000 bits, 250 data bytes.
void checkLargestReads(otModbus& m, int id, LibmodbusSlave& slave) {
  slave.withMap([](modbus_mapping_t* map) {
    for (int i = 0; i < 125; i++)
      map->tab_registers[i] = (uint16_t)(i * 521 + 7);
    for (int i = 0; i < 2000; i++)
      map->tab_bits[i] = (i * 7) % 3 == 0;
  });
  std::vector<int> regs(126, -7);
  ASSERT_EQ(m.readHoldingRegisters(id, 0, 125, regs.data(), kTimeout), 250);
  for (int i = 0; i < 125; i++)
    EXPECT_EQ(regs[(size_t)i], (i * 521 + 7) & 0xFFFF) << i;
  EXPECT_EQ(regs[125], -7);
  std::vector<unsigned char> bits(252, 0xEE);
  ASSERT_EQ(m.readCoilStatus(id, 0, 2000, bits.data(), kTimeout), 250);
  std::vector<unsigned char> want = packedCoils(slave, 0, 2000);
  EXPECT_EQ(std::vector<unsigned char>(bits.begin(), bits.begin() + 250), want);
  EXPECT_EQ(bits[250], 0xEE);
  EXPECT_EQ(bits[251], 0xEE);
}

// One more than the largest count is refused by the slave with an exception; the reply after
// it must still belong to its own request.
void checkBeyondLargestReads(otModbus& m, int id, LibmodbusSlave& slave) {
  std::vector<int> regs(130, -7);
  std::vector<unsigned char> bits(260, 0xEE);
  {
    ottest::CaptureStdout out;
    EXPECT_EQ(m.readHoldingRegisters(id, 0, 126, regs.data(), kTimeout), -1);
    EXPECT_EQ(m.readCoilStatus(id, 0, 2001, bits.data(), kTimeout), -1);
    EXPECT_EQ(out.text(),
              errorLine(-1, id, id, 3, 0x83, kTimeout) + errorLine(-1, id, id, 1, 0x81, kTimeout));
  }
  slave.withMap([](modbus_mapping_t* map) { map->tab_registers[3] = 0x4321; });
  EXPECT_EQ(m.readHoldingRegisters(id, 3, 1, regs.data(), kTimeout), 2);
  EXPECT_EQ(regs[0], 0x4321);
}

// A request outside the slave's tables gets an exception reply (function code | 0x80), which
// fails the transaction; the next transaction is answered in step.
void checkExceptionReply(otModbus& m, int id, LibmodbusSlave& slave) {
  int regs[4] = {-7, -7, -7, -7};
  {
    ottest::CaptureStdout out;
    EXPECT_EQ(m.readHoldingRegisters(id, kOutside, 2, regs, 700), -1);
    EXPECT_EQ(out.text(), errorLine(-1, id, id, 3, 0x83, 700));
  }
  EXPECT_EQ(regs[0], -7);
  {
    ottest::CaptureStdout out;
    EXPECT_EQ(m.presetSingleRegister(id, kOutside, 1, kTimeout), -1);
    EXPECT_EQ(out.text(), errorLine(-1, id, id, 6, 0x86, kTimeout));
  }
  slave.withMap([](modbus_mapping_t* map) { map->tab_input_registers[7] = 0x0707; });
  EXPECT_EQ(m.readInputRegisters(id, 7, 1, regs, kTimeout), 2);
  EXPECT_EQ(regs[0], 0x0707);
}

TEST_F(LibmodbusTcp, ReadTransactionsReturnTheSlavesValues) {
  checkReadTransactions(m, 1, slave);
}

TEST_F(LibmodbusTcp, WriteTransactionsChangeTheSlavesTables) {
  checkWriteTransactions(m, 1, slave);
  // On the wire: 8 coils take one data byte, 9 coils two (MBAP 7, fc, address, count, N).
  std::vector<std::string> got = slave.requests();
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(hex(got[3].substr(7)), "0F 00 64 00 08 01 5A");
  EXPECT_EQ(hex(got[4].substr(7)), "0F 00 C9 00 09 02 FF 01");
}

TEST_F(LibmodbusTcp, ReadsOfTheLargestCountsAndBeyond) {
  checkLargestReads(m, 1, slave);
  checkBeyondLargestReads(m, 1, slave);
}

TEST_F(LibmodbusTcp, LongestWritesNeedARoomyTelegramBuffer) {
  std::vector<int> values(123);
  for (int i = 0; i < 123; i++)
    values[(size_t)i] = 0xFFFF - i * 3;
  std::vector<unsigned char> coils(246);
  for (size_t i = 0; i < coils.size(); i++)
    coils[i] = (unsigned char)(i * 37 + 1);

  // 123 registers need 255 bytes behind the unit id: more than the daemon's 257-byte
  // buffer holds with the MBAP header, so nothing goes out and the connection stays usable.
  size_t before = slave.requests().size();
  EXPECT_EQ(m.presetMultipleRegisters(1, 0, 123, values.data(), kTimeout), -1);
  EXPECT_EQ(slave.requests().size(), before);
  EXPECT_EQ(m.presetSingleRegister(1, 150, 0x0150, kTimeout), 4);
  EXPECT_EQ(slave.reg(150), 0x0150);

  otModbus roomy(1024 + 1, otModbus::MODBUS_RTU);
  roomy.registerSocket(sock.get());
  EXPECT_EQ(roomy.presetMultipleRegisters(1, 0, 123, values.data(), kTimeout), 4);
  for (int i = 0; i < 123; i++)
    EXPECT_EQ(slave.reg(i), 0xFFFF - i * 3) << i;
  EXPECT_EQ(roomy.forceMultipleCoils(1, 0, 1968, coils.data(), kTimeout), 4);
  EXPECT_EQ(packedCoils(slave, 0, 1968), coils);
}

TEST_F(LibmodbusTcp, ExceptionRepliesFailAndTheNextReplyIsInStep) {
  checkExceptionReply(m, 1, slave);

  // A function the slave does not know: exception "illegal function" with fc 0x88.
  const unsigned char echo[] = {0x00, 0x00, 0x12, 0x34};
  ASSERT_EQ(m.write(1, 8, echo, 4), 0);
  int s = -1, f = -1;
  unsigned char data[257];
  EXPECT_EQ(m.response(&s, &f, data, kTimeout), -1);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(f, 0x88);
  int regs[1];
  EXPECT_EQ(m.readHoldingRegisters(1, 11, 1, regs, kTimeout), 2);
}

// A polling master asks in turn for blocks of the same size; a reply that comes after its
// time limit must not be taken for the answer to the next request.
void checkLateReply(otModbus& m, int id, LibmodbusSlave& slave) {
  slave.withMap([](modbus_mapping_t* map) {
    map->tab_registers[0] = 0x1111;
    map->tab_registers[100] = 0x2222;
  });
  int regs[1] = {-7};
  {
    std::unique_lock<std::mutex> held = slave.pause();
    ottest::CaptureStdout out;
    EXPECT_EQ(m.readHoldingRegisters(id, 0, 1, regs, 200), -1);
  }
  ASSERT_TRUE(slave.waitAnswered(1));  // the late reply is on its way
  usleep(50000);
  EXPECT_EQ(m.readHoldingRegisters(id, 100, 1, regs, kTimeout), 2);
  EXPECT_EQ(regs[0], 0x2222);
  EXPECT_EQ(m.readHoldingRegisters(id, 0, 1, regs, kTimeout), 2);
  EXPECT_EQ(regs[0], 0x1111);
}

TEST_F(LibmodbusTcp, LateReplyIsNotTakenForTheNextOne) {
  checkLateReply(m, 1, slave);
}

TEST_F(LibmodbusTcp, RawTelegramsCarryTheTransactionId) {
  slave.withMap([](modbus_mapping_t* map) {
    map->tab_registers[10] = 0xCAFE;
    map->tab_registers[11] = 0x0042;
  });
  const unsigned char read2[] = {0x00, 10, 0x00, 2};
  int tid = 0x1234;
  ASSERT_EQ(m.write(1, 3, read2, 4, &tid), 0);
  int s = -1, f = -1;
  unsigned char data[257];
  memset(data, 0xEE, sizeof(data));
  ASSERT_EQ(m.response(&s, &f, data, kTimeout), 4);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(f, 3);
  EXPECT_EQ(hex(std::string(reinterpret_cast<char*>(data), 5)), "CA FE 00 42 EE");  // no CRC
  EXPECT_EQ(hex(slave.lastRequest()), "12 34 00 00 00 06 01 03 00 0A 00 02");

  // The slave answers under the same id: read the reply past the engine to see its header.
  tid = 0xFFFE;
  ASSERT_EQ(m.write(7, 4, read2, 4, &tid), 0);
  unsigned char reply[13];
  ASSERT_EQ(sock->read(reply, 13, kTimeout), 13);
  EXPECT_EQ(hex(std::string(reinterpret_cast<char*>(reply), 9)), "FF FE 00 00 00 07 07 04 04");

  // request() has no id to give: 0.
  ASSERT_EQ(m.request(1, 3, 11, 1), 0);
  ASSERT_EQ(m.response(&s, &f, data, kTimeout), 2);
  EXPECT_EQ(data[1], 0x42);
  EXPECT_EQ(hex(slave.lastRequest()), "00 00 00 00 00 06 01 03 00 0B 00 01");
}

TEST_F(LibmodbusTcp, RawTelegramsOfFunctionsWithoutATransaction) {
  int s = -1, f = -1;
  unsigned char data[257];
  // Report Slave ID: count byte, then id, run indicator 0xFF and libmodbus's name.
  ASSERT_EQ(m.write(1, 17, nullptr, 0), 0);
  int n = m.response(&s, &f, data, kTimeout);
  ASSERT_GE(n, 5);
  EXPECT_EQ(f, 17);
  EXPECT_EQ(data[1], 0xFF);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data) + 2, 3), "LMB");

  // Mask Write Register: result = (current AND and_mask) OR (or_mask AND NOT and_mask);
  // the reply echoes the 6 bytes.
  slave.withMap([](modbus_mapping_t* map) { map->tab_registers[60] = 0x0012; });
  const unsigned char mask[] = {0x00, 60, 0x00, 0xF2, 0x00, 0x25};
  ASSERT_EQ(m.write(1, 22, mask, 6), 0);
  ASSERT_EQ(m.response(&s, &f, data, kTimeout), 6);
  EXPECT_EQ(memcmp(data, mask, 6), 0);
  EXPECT_EQ(slave.reg(60), 0x0017);

  // Read/Write Multiple Registers: writes 61 first, then reads 60..61 back.
  const unsigned char rw[] = {0x00, 60, 0x00, 2, 0x00, 61, 0x00, 1, 2, 0xAB, 0xCD};
  ASSERT_EQ(m.write(1, 23, rw, (int)sizeof(rw)), 0);
  ASSERT_EQ(m.response(&s, &f, data, kTimeout), 4);
  EXPECT_EQ(hex(std::string(reinterpret_cast<char*>(data), 4)), "00 17 AB CD");
}

TEST_F(LibmodbusTcp, ClosedConnectionIsReopenedByTheNextWrite) {
  EXPECT_EQ(m.presetSingleRegister(1, 3, 1, kTimeout), 4);
  slave.dropAfterNextAnswer();
  EXPECT_EQ(m.presetSingleRegister(1, 3, 2, kTimeout), 4);
  EXPECT_EQ(slave.reg(3), 2);
  // The close is noticed when the next reply is due: that transaction fails and leaves the
  // socket disconnected, and the following write connects again.
  {
    ottest::CaptureStdout out;
    EXPECT_EQ(m.presetSingleRegister(1, 3, 3, kTimeout), -1);
    EXPECT_NE(out.text().find("otMOdbus::ERROR response ret=-1 slave=1"), std::string::npos);
  }
  EXPECT_EQ(sock->isConnected(), 0);
  EXPECT_EQ(slave.reg(3), 2);
  EXPECT_EQ(m.presetSingleRegister(1, 3, 4, kTimeout), 4);
  EXPECT_EQ(slave.reg(3), 4);
  EXPECT_EQ(slave.connections(), 2);
}

TEST_F(LibmodbusTcp, WithoutAutoReconnectAClosedConnectionStaysClosed) {
  m.autoreconnect_socket = 0;
  EXPECT_EQ(m.request(1, 3, 0, 1), -1);  // never connected
  EXPECT_EQ(sock->isConnected(), 0);
  ASSERT_GE(sock->connect(), 0);
  slave.dropAfterNextAnswer();
  EXPECT_EQ(m.presetSingleRegister(1, 3, 1, kTimeout), 4);
  ASSERT_EQ(sock->select(kTimeout), 1);  // the close has arrived
  int s, f;
  unsigned char data[257];
  EXPECT_EQ(m.response(&s, &f, data, 100), -1);
  EXPECT_EQ(sock->isConnected(), 0);
  EXPECT_EQ(m.presetSingleRegister(1, 3, 2, kTimeout), -1);
  EXPECT_EQ(sock->isConnected(), 0);
  EXPECT_EQ(slave.reg(3), 1);
  // The owner of the socket may connect it again itself.
  ASSERT_GE(sock->connect(), 0);
  EXPECT_EQ(m.presetSingleRegister(1, 3, 5, kTimeout), 4);
  EXPECT_EQ(slave.reg(3), 5);
  EXPECT_EQ(slave.connections(), 2);
}

TEST_F(LibmodbusRtu, ReadTransactionsReturnTheSlavesValues) {
  checkReadTransactions(m, kRtuSlave, slave);
}

TEST_F(LibmodbusRtu, WriteTransactionsChangeTheSlavesTables) {
  checkWriteTransactions(m, kRtuSlave, slave);
  std::vector<std::string> got = slave.requests();
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(hex(got[3].substr(0, 8)), "11 0F 00 64 00 08 01 5A");
  EXPECT_EQ(hex(got[4].substr(0, 9)), "11 0F 00 C9 00 09 02 FF 01");
}

TEST_F(LibmodbusRtu, ReadsOfTheLargestCountsAndBeyond) {
  checkLargestReads(m, kRtuSlave, slave);
  checkBeyondLargestReads(m, kRtuSlave, slave);
}

TEST_F(LibmodbusRtu, LongestWritesFitTheDaemonsTelegramBuffer) {
  std::vector<int> values(123);
  for (int i = 0; i < 123; i++)
    values[(size_t)i] = i * 517;
  EXPECT_EQ(m.presetMultipleRegisters(kRtuSlave, 0, 123, values.data(), kTimeout), 4);
  for (int i = 0; i < 123; i++)
    EXPECT_EQ(slave.reg(i), (i * 517) & 0xFFFF) << i;
  std::vector<unsigned char> coils(246);
  for (size_t i = 0; i < coils.size(); i++)
    coils[i] = (unsigned char)(255 - i);
  EXPECT_EQ(m.forceMultipleCoils(kRtuSlave, 0, 1968, coils.data(), kTimeout), 4);
  EXPECT_EQ(packedCoils(slave, 0, 1968), coils);
}

TEST_F(LibmodbusRtu, ExceptionRepliesFailAndTheNextReplyIsInStep) {
  checkExceptionReply(m, kRtuSlave, slave);
}

TEST_F(LibmodbusRtu, LateReplyIsNotTakenForTheNextOne) {
  checkLateReply(m, kRtuSlave, slave);
}

TEST_F(LibmodbusRtu, RawReplyCarriesItsCrcBehindTheData) {
  slave.withMap([](modbus_mapping_t* map) {
    map->tab_registers[0] = 0x0102;
    map->tab_registers[1] = 0x0304;
  });
  ASSERT_EQ(m.request(kRtuSlave, 3, 0, 2), 0);
  int s = -1, f = -1;
  unsigned char data[257];
  memset(data, 0xEE, sizeof(data));
  ASSERT_EQ(m.response(&s, &f, data, kTimeout), 4);
  EXPECT_EQ(s, kRtuSlave);
  EXPECT_EQ(f, 3);
  // The whole reply is 11 03 04 01 02 03 04 4A FD.
  EXPECT_EQ(hex(std::string(reinterpret_cast<char*>(data), 7)), "01 02 03 04 4A FD EE");
  EXPECT_EQ(hex(slave.lastRequest()), "11 03 00 00 00 02 C6 9B");
}

// Kept alone: after a request for another slave libmodbus, like a real bus member, takes the
// next telegram for that slave's reply and ignores it.
TEST_F(LibmodbusRtu, RequestForAnotherSlaveGetsNoAnswer) {
  int regs[2] = {-7, -7};
  ottest::CaptureStdout out;
  EXPECT_EQ(m.readHoldingRegisters(kRtuSlave + 1, 0, 1, regs, 300), -1);
  std::string text = out.text();
  EXPECT_EQ(text.rfind("otMOdbus::ERROR response ret=-1 slave=18 ", 0), 0u) << text;
  EXPECT_NE(text.find(" function=3 "), std::string::npos) << text;
  EXPECT_EQ(regs[0], -7);
  EXPECT_TRUE(slave.requests().empty());
}

// No libmodbus here: the test reads what the master sends on the other end of the line and
// answers by hand, so the telegrams are checked byte for byte.
class RtuWire : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string problem = line.start(dir.path());
    ASSERT_EQ(problem, "");
    peer = open(line.b().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(peer, 0);
    struct termios t;
    ASSERT_EQ(tcgetattr(peer, &t), 0);
    cfmakeraw(&t);
    ASSERT_EQ(tcsetattr(peer, TCSANOW, &t), 0);
    ASSERT_EQ(serial.openDevice(line.a().c_str(), B9600, 1, 0, 8, 1, otSerial::NONE), 0);
  }
  void TearDown() override {
    serial.closeDevice();
    if (peer >= 0) close(peer);
    line.stop();
  }

  std::string peerRead(size_t n, int ms) { return ottest::readWithin(peer, n, ms); }

  // Runs call in a thread while the peer reads a request of requestLength bytes and answers
  // with reply; returns call's result and stores the request.
  int exchange(const std::function<int()>& call, size_t requestLength, const std::string& reply,
               std::string* request) {
    int result = -100;
    std::thread master([&] { result = call(); });
    *request = peerRead(requestLength, kTimeout);
    if (!reply.empty()) {
      EXPECT_EQ(write(peer, reply.data(), reply.size()), (ssize_t)reply.size());
    }
    master.join();
    return result;
  }

  ottest::TempDir dir;
  ottest::SocatPair line;  // "a" for otSerial, "b" for the peer
  int peer = -1;
  otSerial serial;
};

TEST_F(RtuWire, EveryMasterTransactionSendsAndTakesStandardTelegrams) {
  otModbus m(256 + 1, otModbus::MODBUS_RTU);
  m.registerSerial(&serial);
  unsigned char bits[8];
  int regs[4];
  unsigned char coils[] = {0xCD, 0x01};
  int values[] = {0x000A, 0x0102};
  struct Case {
    const char* name;
    std::function<int()> call;
    const char* request;
    const char* reply;
    int result;
  } cases[] = {
      {"request", [&] { return m.request(1, 3, 0, 10); }, "01 03 00 00 00 0A C5 CD", "", 0},
      {"readCoilStatus", [&] { return m.readCoilStatus(17, 0x13, 37, bits, kTimeout); },
       "11 01 00 13 00 25 0E 84", "11 01 05 CD 6B B2 0E 1B 45 E6", 5},
      {"readInputStatus", [&] { return m.readInputStatus(17, 0xC4, 22, bits, kTimeout); },
       "11 02 00 C4 00 16 BA A9", "11 02 03 AC DB 35 20 18", 3},
      {"readHoldingRegisters", [&] { return m.readHoldingRegisters(17, 0x6B, 3, regs, kTimeout); },
       "11 03 00 6B 00 03 76 87", "11 03 06 02 2B 00 00 00 64 C8 BA", 6},
      {"readInputRegisters", [&] { return m.readInputRegisters(17, 8, 1, regs, kTimeout); },
       "11 04 00 08 00 01 B2 98", "11 04 02 00 0A F8 F4", 2},
      {"forceSingleCoil", [&] { return m.forceSingleCoil(17, 0xAC, 1, kTimeout); },
       "11 05 00 AC FF 00 4E 8B", "11 05 00 AC FF 00 4E 8B", 4},
      {"presetSingleRegister", [&] { return m.presetSingleRegister(17, 1, 3, kTimeout); },
       "11 06 00 01 00 03 9A 9B", "11 06 00 01 00 03 9A 9B", 4},
      {"forceMultipleCoils", [&] { return m.forceMultipleCoils(17, 0x13, 10, coils, kTimeout); },
       "11 0F 00 13 00 0A 02 CD 01 BF 0B", "11 0F 00 13 00 0A 26 99", 4},
      {"presetMultipleRegisters",
       [&] { return m.presetMultipleRegisters(17, 1, 2, values, kTimeout); },
       "11 10 00 01 00 02 04 00 0A 01 02 C6 F0", "11 10 00 01 00 02 12 98", 4},
  };
  for (const Case& c : cases) {
    std::string expected = bytesOf(c.request), request;
    int result = exchange(c.call, expected.size(), bytesOf(c.reply), &request);
    EXPECT_EQ(hex(request), hex(expected)) << c.name;
    EXPECT_EQ(result, c.result) << c.name;
  }
  EXPECT_EQ(hex(peerRead(1, 100)), "");
  EXPECT_EQ(hex(std::string(reinterpret_cast<char*>(bits), 3)), "AC DB 35");
  EXPECT_EQ(regs[0], 0x000A);
}

TEST_F(RtuWire, AsciiTransactionSendsAndTakesStandardFrames) {
  otModbus m(1024 + 1, otModbus::MODBUS_ASCII);
  m.registerSerial(&serial);
  int regs[2] = {-7, -7};
  std::string request;
  int result = exchange([&] { return m.readHoldingRegisters(1, 0, 1, regs, kTimeout); }, 17,
                        ":01030200FFFB\r\n", &request);
  EXPECT_EQ(request, ":010300000001FB\r\n");
  EXPECT_EQ(result, 2);
  EXPECT_EQ(regs[0], 0x00FF);
  EXPECT_EQ(regs[1], -7);
}

}  // namespace
