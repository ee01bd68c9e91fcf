#include "otmodbus.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "testutil.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Reads what arrives on fd within ms milliseconds after the first byte.
Bytes drain(int fd, int ms = 100) {
  Bytes out;
  unsigned char buf[512];
  struct pollfd p = {fd, POLLIN, 0};
  while (poll(&p, 1, ms) > 0) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

void put(int fd, const Bytes& b) {
  ASSERT_EQ(write(fd, b.data(), b.size()), (ssize_t)b.size());
}

Bytes withCrc(Bytes b) {
  unsigned short crc = otModbus::crc16(b.data(), (int)b.size());
  b.push_back((unsigned char)(crc & 0xFF));
  b.push_back((unsigned char)(crc >> 8));
  return b;
}

// Modbus/TCP over a socket pair: the object under test on one end, the test as the peer.
class ModbusTcp : public ::testing::Test {
 protected:
  void SetUp() override {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    sock.reset(new otSocket(sv[0]));
    peer = sv[1];
    modbus.registerSocket(sock.get());
  }
  void TearDown() override { close(peer); }
  std::unique_ptr<otSocket> sock;
  int peer = -1;
  otModbus modbus{256 + 1, otModbus::MODBUS_RTU};
};

// RTU and ASCII over a pseudo-terminal: the object under test on the slave side.
class ModbusSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    struct termios t;
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
    ASSERT_EQ(serial.openDevice(ptsname(master), B9600, 1, 0, 8, 1, otSerial::NONE), 0);
  }
  void TearDown() override {
    serial.closeDevice();
    close(master);
  }
  int master = -1;
  otSerial serial;
};

}  // namespace

TEST(otModbusChecksums, CrcAndLrcOfKnownTelegrams) {
  const unsigned char digits[] = "123456789";
  EXPECT_EQ(otModbus::crc16(digits, 9), 0x4B37);
  otModbus m(10);
  EXPECT_EQ(m.data2int((const unsigned char*)"\x12\x34"), 0x1234);
  unsigned char two[2];
  m.int2data(0x1FF, two);
  EXPECT_EQ(two[0], 1);
  EXPECT_EQ(two[1], 0xFF);
  EXPECT_EQ(m.intsize(), 2);
  unsigned char hex[4];
  m.int2buf_ascii(0xBEEF, hex);
  EXPECT_EQ(std::string((char*)hex, 4), "BEEF");
  EXPECT_EQ(m.buf2int_ascii(hex), 0xBEEF);
}

TEST_F(ModbusSerial, RtuRequestIsByteExact) {
  otModbus m(10, otModbus::MODBUS_RTU);  // a buffer below 256 still holds 256 bytes
  m.registerSerial(&serial);
  EXPECT_EQ(m.request(1, 3, 0, 10), 0);
  EXPECT_EQ(drain(master), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
  EXPECT_EQ(m.write(256, 3, nullptr, 0, nullptr), -1);
  EXPECT_EQ(m.write(-1, 3, nullptr, 0, nullptr), -1);
  Bytes big(252, 0);
  EXPECT_EQ(m.write(1, 16, big.data(), 252, nullptr), 0);  // 2 + 252 + CRC = 256 bytes
  EXPECT_EQ(drain(master).size(), 256u);
  big.push_back(0);
  EXPECT_EQ(m.write(1, 16, big.data(), 253, nullptr), -1);
  EXPECT_TRUE(drain(master, 50).empty());
}

TEST_F(ModbusSerial, RtuRepliesAreCheckedAndCopied) {
  otModbus m(256 + 1, otModbus::MODBUS_RTU);
  m.registerSerial(&serial);
  int slave = 0, function = 0;
  unsigned char data[otModbus::MAX_RESPONSE_DATA];
  Bytes telegram = withCrc({0x11, 0x03, 0x04, 0x00, 0x2A, 0xFF, 0xFF});
  put(master, telegram);
  EXPECT_EQ(m.response(&slave, &function, data, 500), 4);
  EXPECT_EQ(slave, 0x11);
  EXPECT_EQ(function, 3);
  // The data bytes without the count, then the CRC behind them.
  EXPECT_EQ(Bytes(data, data + 6), Bytes(telegram.begin() + 3, telegram.end()));
  // A wrong CRC: -2, and the data are already in the caller's buffer.
  Bytes bad = withCrc({0x11, 0x03, 0x02, 0x12, 0x34});
  bad.back() ^= 0xFF;
  put(master, bad);
  memset(data, 0, sizeof(data));
  EXPECT_EQ(m.response(&slave, &function, data, 500), -2);
  EXPECT_EQ(data[0], 0x12);
  EXPECT_EQ(data[1], 0x34);
  // An exception reply is not a reply the table knows.
  m.request(0x11, 3, 0, 1);
  drain(master, 20);
  put(master, withCrc({0x11, 0x83, 0x02}));
  EXPECT_EQ(m.response(&slave, &function, data, 500), -1);
  EXPECT_EQ(function, 0x83);
  // Nothing at all within the time limit.
  drain(master, 10);
  EXPECT_EQ(m.response(&slave, &function, data, 50), -1);
}

TEST_F(ModbusSerial, RtuShortTelegramIsAFailure) {
  otModbus m(256 + 1, otModbus::MODBUS_RTU);
  m.registerSerial(&serial);
  int slave, function;
  unsigned char data[otModbus::MAX_RESPONSE_DATA];
  put(master, {0x01, 0x03, 0x04, 0x00});  // promises 4 data bytes, sends 1
  EXPECT_EQ(m.response(&slave, &function, data, 100), -1);
}

TEST_F(ModbusSerial, RtuSlaveReadsRequestsByFunctionCode) {
  otModbus m(256 + 1, otModbus::MODBUS_RTU);
  m.registerSerial(&serial);
  int slave, function;
  unsigned char data[otModbus::MAX_REQUEST_DATA];
  put(master, withCrc({0x05, 0x10, 0x00, 0x01, 0x00, 0x02, 0x04, 0xAA, 0xBB, 0xCC, 0xDD}));
  EXPECT_EQ(m.readRequest(&slave, &function, data, 500), 8);
  EXPECT_EQ(Bytes(data, data + 8), (Bytes{0x00, 0x01, 0x00, 0x02, 0xAA, 0xBB, 0xCC, 0xDD}));
  put(master, withCrc({0x05, 0x07}));
  EXPECT_EQ(m.readRequest(&slave, &function, data, 500), 0);
  EXPECT_EQ(function, 7);
  put(master, withCrc({0x05, 0x08, 0x00, 0x00}));  // diagnostics: not served
  EXPECT_EQ(m.readRequest(&slave, &function, data, 500), -1);
}

TEST_F(ModbusSerial, AsciiFramesAndTheLineFeedDelimiter) {
  otModbus m(1024 + 1, otModbus::MODBUS_ASCII);
  m.registerSerial(&serial);
  EXPECT_EQ(m.request(1, 3, 0, 10), 0);
  Bytes sent = drain(master);
  EXPECT_EQ(std::string(sent.begin(), sent.end()), ":01030000000AF2\r\n");
  int slave, function;
  unsigned char data[otModbus::MAX_RESPONSE_DATA];
  // With the line feed as delimiter a carriage return inside the line does not end it.
  unsigned sum = 0x01 + 0x03 + 0x04 + 0x00 + 0x2A + 0xFF + 0xFF;
  char frame[64];
  snprintf(frame, sizeof(frame), ":010304002AFFFF%02X\r\n", (0u - sum) & 0xFF);
  put(master, Bytes(frame, frame + strlen(frame)));
  EXPECT_EQ(m.response(&slave, &function, data, 500), 4);
  EXPECT_EQ(Bytes(data, data + 4), (Bytes{0x00, 0x2A, 0xFF, 0xFF}));
  // Junk before the colon is skipped; a wrong LRC is a checksum mismatch.
  const char* badLrc = "xx:0106000100030\r\n";
  put(master, Bytes(badLrc, badLrc + strlen(badLrc)));
  EXPECT_EQ(m.response(&slave, &function, data, 500), -1);  // odd number of digits
  const char* wrong = ":01060001000300\r\n";
  put(master, Bytes(wrong, wrong + strlen(wrong)));
  EXPECT_EQ(m.response(&slave, &function, data, 500), -2);
  const char* high = ":0119F0\r\n";  // function code 25
  put(master, Bytes(high, high + strlen(high)));
  EXPECT_EQ(m.response(&slave, &function, data, 500), -1);
}

TEST_F(ModbusSerial, AsciiCarriageReturnEndsTheLineWithoutLineFeedDelimiter) {
  otModbus m(1024 + 1, otModbus::MODBUS_ASCII, '\r');
  m.registerSerial(&serial);
  m.request(1, 6, 1, 3);
  Bytes sent = drain(master);
  EXPECT_EQ(std::string(sent.begin(), sent.end()), ":010600010003F5\r");
  int slave, function;
  unsigned char data[otModbus::MAX_RESPONSE_DATA];
  put(master, Bytes(sent.begin(), sent.end()));
  EXPECT_EQ(m.response(&slave, &function, data, 500), 4);
}

TEST_F(ModbusTcp, HeaderTransactionIdAndReconnectRules) {
  EXPECT_EQ(modbus.request(1, 3, 0, 10), 0);
  EXPECT_EQ(drain(peer), (Bytes{0, 0, 0, 0, 0, 6, 1, 3, 0, 0, 0, 10}));
  int id = 0x1234;
  unsigned char one[2] = {0xAB, 0xCD};
  EXPECT_EQ(modbus.write(7, 6, one, 2, &id), 0);
  EXPECT_EQ(drain(peer), (Bytes{0x12, 0x34, 0, 0, 0, 4, 7, 6, 0xAB, 0xCD}));
  // The slave side hands the transaction id on for the answer.
  put(peer, {0x55, 0x66, 0, 0, 0, 6, 9, 4, 0, 1, 0, 2});
  int slave, function, txid = -1;
  unsigned char data[otModbus::MAX_REQUEST_DATA];
  EXPECT_EQ(modbus.readRequest(&slave, &function, data, 500, &txid), 4);
  EXPECT_EQ(txid, 0x5566);
  EXPECT_EQ(slave, 9);
  otModbus ascii(1024 + 1, otModbus::MODBUS_ASCII);
  ascii.registerSocket(sock.get());
  EXPECT_EQ(ascii.write(1, 3, one, 2, nullptr), -1);
  EXPECT_EQ(ascii.response(&slave, &function, data, 10), 0);
  sock->disconnect();
  modbus.autoreconnect_socket = 0;
  EXPECT_EQ(modbus.request(1, 3, 0, 1), -1);
  EXPECT_EQ(modbus.response(&slave, &function, data, 10), -1);
}

TEST_F(ModbusTcp, MasterTransactionsCheckTheReply) {
  std::thread responder([&] {
    // readHoldingRegisters(1, 0, 2): four data bytes.
    drain(peer);
    put(peer, {0, 0, 0, 0, 0, 7, 1, 3, 4, 0x12, 0x34, 0xFF, 0xFE});
    // forceMultipleCoils with 8 and then 9 coils: byte count 1, then 2.
    Bytes req = drain(peer);
    EXPECT_EQ(req.size(), 8u + 6u);
    EXPECT_EQ(req[12], 1);
    put(peer, {0, 0, 0, 0, 0, 6, 1, 15, 0, 0, 0, 8});
    req = drain(peer);
    EXPECT_EQ(req.size(), 8u + 7u);
    EXPECT_EQ(req[12], 2);
    put(peer, {0, 0, 0, 0, 0, 6, 1, 15, 0, 0, 0, 9});
    // An answer from another slave.
    drain(peer);
    put(peer, {0, 0, 0, 0, 0, 6, 2, 6, 0, 1, 0, 5});
    // A read that returns more registers than asked for.
    drain(peer);
    put(peer, {0, 0, 0, 0, 0, 7, 1, 3, 4, 0, 1, 0, 2});
    // An exception.
    drain(peer);
    put(peer, {0, 0, 0, 0, 0, 3, 1, 0x83, 2});
  });
  int values[2] = {0, 0};
  EXPECT_EQ(modbus.readHoldingRegisters(1, 0, 2, values, 1000), 4);
  EXPECT_EQ(values[0], 0x1234);
  EXPECT_EQ(values[1], 0xFFFE);
  unsigned char coils[2] = {0xFF, 0x01};
  EXPECT_EQ(modbus.forceMultipleCoils(1, 0, 8, coils, 1000), 4);
  EXPECT_EQ(modbus.forceMultipleCoils(1, 0, 9, coils, 1000), 4);
  ottest::CaptureStdout out;
  EXPECT_EQ(modbus.presetSingleRegister(1, 1, 5, 1000), -1);
  int one = 0;
  EXPECT_EQ(modbus.readHoldingRegisters(1, 0, 1, &one, 1000), -1);
  EXPECT_EQ(modbus.readHoldingRegisters(1, 0, 1, &one, 1000), -1);
  responder.join();
  std::string text = out.text();
  EXPECT_NE(text.find("otMOdbus::ERROR response ret=4 slave=1 ret_slave=2 function=6 "
                      "ret_function=6 timeout=1000\n"),
            std::string::npos);
  EXPECT_NE(text.find("ret=-1 slave=1 ret_slave=1 function=3 ret_function=131"), std::string::npos);
}

TEST_F(ModbusTcp, HostileLengthsStayInsideTheBuffers) {
  int slave, function;
  unsigned char data[otModbus::MAX_RESPONSE_DATA];
  // Read FIFO queue with a two-byte count of 65535.
  put(peer, {0, 0, 0, 0, 0, 6, 1, 24, 0xFF, 0xFF, 1, 2});
  EXPECT_EQ(modbus.response(&slave, &function, data, 200), -1);
  // The next transaction starts in step again.
  EXPECT_EQ(modbus.request(1, 3, 0, 1), 0);
  drain(peer, 50);
  put(peer, {0, 0, 0, 0, 0, 5, 1, 3, 2, 0, 7});
  EXPECT_EQ(modbus.response(&slave, &function, data, 500), 2);
  EXPECT_EQ(data[1], 7);
  // The peer goes away in the middle of a telegram.
  put(peer, {0, 0, 0, 0, 0, 7, 1, 3, 4, 0});
  close(peer);
  peer = -1;
  EXPECT_EQ(modbus.response(&slave, &function, data, 500), -1);
  EXPECT_EQ(sock->isConnected(), 0);
}

TEST_F(ModbusTcp, UnusableTelegramsAreSkippedWithoutLosingTheNext) {
  int slave, function, txid;
  unsigned char data[otModbus::MAX_REQUEST_DATA];
  // An unknown function code, then a valid request right behind it.
  put(peer, {0, 1, 0, 0, 0, 4, 7, 0x41, 0xAA, 0xBB});
  put(peer, {0, 2, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1});
  EXPECT_EQ(modbus.readRequest(&slave, &function, data, 500, &txid), -1);
  EXPECT_EQ(function, 0x41);
  EXPECT_EQ(modbus.readRequest(&slave, &function, data, 500, &txid), 4);
  EXPECT_EQ(slave, 1);
  EXPECT_EQ(function, 3);
  EXPECT_EQ(txid, 2);
  // A header whose length disagrees with the function code's body: read whole, and told
  // apart from an unknown function so that the slave answers exception 3.
  put(peer, {0, 3, 0, 0, 0, 8, 1, 3, 0, 0, 0, 1, 9, 9});
  put(peer, {0, 4, 0, 0, 0, 6, 1, 4, 0, 5, 0, 1});
  EXPECT_EQ(modbus.readRequest(&slave, &function, data, 500, &txid),
            otModbus::MODBUS_LENGTH_MISMATCH);
  EXPECT_EQ(function, 3);
  EXPECT_EQ(txid, 3);
  EXPECT_EQ(modbus.readRequest(&slave, &function, data, 500, &txid), 4);
  EXPECT_EQ(txid, 4);
  EXPECT_EQ(function, 4);
  // An exception reply on the master side is read whole.
  put(peer, {0, 0, 0, 0, 0, 3, 1, 0x83, 2});
  put(peer, {0, 0, 0, 0, 0, 5, 1, 3, 2, 0, 9});
  EXPECT_EQ(modbus.response(&slave, &function, data, 500), -1);
  EXPECT_EQ(modbus.response(&slave, &function, data, 500), 2);
  EXPECT_EQ(data[1], 9);
}

// MBAP: transaction id, protocol id, length (unit id and PDU), unit id. Frames without a
// Modbus PDU are skipped by their length; the request behind them in the same segment is read.
TEST_F(ModbusTcp, FramesWithoutAModbusRequestDoNotSwallowTheNext) {
  int slave, function, txid;
  unsigned char data[otModbus::MAX_REQUEST_DATA];
  const struct {
    const char* what;
    std::vector<unsigned char> frame;
  } skipped[] = {
      {"length 0", {0, 9, 0, 0, 0, 0}},
      {"length 1, unit id only", {0, 9, 0, 0, 0, 1, 1}},
      {"protocol id 1, a write", {0, 9, 0, 1, 0, 6, 1, 6, 0, 0, 0x12, 0x34}},
      {"protocol id 0x8000, length 0", {0, 9, 0x80, 0, 0, 0}},
  };
  for (const auto& c : skipped) {
    std::vector<unsigned char> both = c.frame;
    both.insert(both.end(), {0, 2, 0, 0, 0, 6, 1, 3, 0, 7, 0, 1});
    put(peer, both);
    function = -1;
    EXPECT_EQ(modbus.readRequest(&slave, &function, data, 500, &txid), 4) << c.what;
    EXPECT_EQ(function, 3) << c.what;
    EXPECT_EQ(txid, 2) << c.what;
    EXPECT_EQ(data[1], 7) << c.what;
  }
  // Only skipped frames: the read times out without a function code, still in step.
  put(peer, {0, 9, 0, 0, 0, 0, 0, 9, 0, 1, 0, 2, 1, 3});
  function = -1;
  EXPECT_EQ(modbus.readRequest(&slave, &function, data, 100, &txid), -1);
  EXPECT_EQ(function, -1);
  put(peer, {0, 4, 0, 0, 0, 6, 1, 4, 0, 0, 0, 1});
  EXPECT_EQ(modbus.readRequest(&slave, &function, data, 500, &txid), 4);
  EXPECT_EQ(txid, 4);
  // A request too short for its function code, and a quantity of 0 with data behind it.
  put(peer, {0, 5, 0, 0, 0, 4, 1, 3, 0, 0});
  EXPECT_EQ(modbus.readRequest(&slave, &function, data, 500, &txid),
            otModbus::MODBUS_LENGTH_MISMATCH);
  put(peer, {0, 6, 0, 0, 0, 9, 1, 16, 0, 0, 0, 0, 0, 0xAA, 0xBB});
  EXPECT_EQ(modbus.readRequest(&slave, &function, data, 500, &txid),
            otModbus::MODBUS_LENGTH_MISMATCH);
  EXPECT_EQ(txid, 6);
  // The master side: a reply of another protocol is no answer, the Modbus reply behind it is.
  put(peer, {0, 0, 0, 1, 0, 5, 1, 3, 2, 0, 8});
  EXPECT_EQ(modbus.response(&slave, &function, data, 500), -1);
  put(peer, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 1, 3, 2, 0, 9});
  EXPECT_EQ(modbus.response(&slave, &function, data, 500), 2);
  EXPECT_EQ(data[1], 9);
  // A length the engine cannot skip safely breaks the stream off.
  put(peer, {0, 7, 0, 1, 0x10, 0, 1, 3});
  EXPECT_EQ(modbus.readRequest(&slave, &function, data, 200, &txid), -1);
}

TEST_F(ModbusSerial, ACutTelegramIsDroppedBeforeTheNextRead) {
  otModbus m(256 + 1, otModbus::MODBUS_RTU);
  m.registerSerial(&serial);
  int slave, function;
  unsigned char data[otModbus::MAX_REQUEST_DATA];
  // The rest of a refused telegram is dropped with it; the next telegram is read whole.
  put(master, withCrc({0x01, 0x41, 0x00, 0x01, 0x02}));
  EXPECT_EQ(m.readRequest(&slave, &function, data, 200), -1);
  put(master, withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01}));
  EXPECT_EQ(m.readRequest(&slave, &function, data, 500), 4);
  EXPECT_EQ(function, 3);
  // The same after a damaged CRC.
  Bytes bad = withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x02});
  bad[2] ^= 1;
  put(master, bad);
  EXPECT_EQ(m.readRequest(&slave, &function, data, 200), -2);
  put(master, withCrc({0x01, 0x04, 0x00, 0x07, 0x00, 0x01}));
  EXPECT_EQ(m.readRequest(&slave, &function, data, 500), 4);
  EXPECT_EQ(data[1], 7);
}
