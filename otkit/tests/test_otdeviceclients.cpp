// The three shared-memory device clients: the mailbox messages they post, checked byte for byte
// by a fake daemon that reads the same mailbox, the range checks of their writers, and their
// readers of the process image.
#include <gtest/gtest.h>

#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ipctest.h"
#include "otmodbusclient.h"
#include "otppiclient.h"
#include "otsiemenstcpclient.h"
#include "testutil.h"

namespace {

using Bytes = std::vector<unsigned char>;

void setSwap(otModbusClient&, int) {}  // the Modbus client posts bytes as they come
template <class Client>
void setSwap(Client& client, int swap) {
  client.swap = swap;
}

// Every test works on files in its own temporary directory; TearDown removes each queue and
// segment whose key belongs to a file there and fails the test if one is left behind.
class DeviceClientTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::vector<key_t> keys;
    for (const std::string& file : ottest::filesIn(dir))
      keys.push_back(ftok(file.c_str(), 'b'));
    ottest::removeAndExpectGone(
        keys, "queue", [](key_t key) { return msgget(key, 0); },
        [](int id) { msgctl(id, IPC_RMID, nullptr); });
    ottest::removeAndExpectGone(
        keys, "segment", [](key_t key) { return shmget(key, 0, 0); },
        [](int id) { shmctl(id, IPC_RMID, nullptr); });
  }

  // The next message as the daemon receives it into a buffer of room bytes; fails the test if
  // there is none.
  Bytes take(int room) {
    Bytes buffer((size_t)room);
    int n = daemon.read(buffer.data(), room, 0);
    EXPECT_GE(n, 0) << "no message, or one longer than " << room << " bytes";
    buffer.resize(n < 0 ? 0 : (size_t)n);
    return buffer;
  }
  bool queueEmpty() {
    unsigned char buffer[4096];
    return daemon.read(buffer, sizeof(buffer), 0) == -1;
  }
  // Runs each case on client and checks its result and the message the daemon receives into a
  // buffer of MAX_MESSAGE + 1 bytes, as the daemon's must be.
  template <class Client, class Case>
  void runWriteCases(Client& client, const std::vector<Case>& cases) {
    ASSERT_EQ(client.otMailbox::status, otMailbox::MAILBOX_OK);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      setSwap(client, c.swap);
      if (c.expected.empty()) {
        EXPECT_EQ(c.call(client), -1);
      } else {
        ASSERT_EQ(c.call(client), 0);
        EXPECT_EQ(take(Client::MAX_MESSAGE + 1), c.expected);
      }
      EXPECT_TRUE(queueEmpty());
    }
  }

  ottest::TempDir dir;
  std::string mbx = dir.file("requests.mbx");
  std::string shm = dir.file("image.shm");
  otMailbox daemon{mbx.c_str()};
};

Bytes concat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

Bytes counting(int n) {
  Bytes bytes((size_t)n);
  for (int i = 0; i < n; i++)
    bytes[(size_t)i] = (unsigned char)i;
  return bytes;
}

template <class Client>
struct WriteCase {
  const char* name;
  int swap;
  std::function<int(Client&)> call;
  Bytes expected;  // empty: the call must return -1 and post nothing
};

TEST_F(DeviceClientTest, ModbusRequestsArePostedByteForByte) {
  otModbusClient client(mbx.c_str(), shm.c_str(), 16);
  ASSERT_EQ(client.otMailbox::status, otMailbox::MAILBOX_OK);
  ASSERT_EQ(client.otSharedMemory::status, otSharedMemory::SHM_OK);
  const Bytes data256 = counting(256);
  int regs125[125];
  Bytes regs125Message = {3, 16, 0x00, 0x10, 0, 125, 250};
  for (int i = 0; i < 125; i++) {
    regs125[i] = 0x0100 + i;
    regs125Message.push_back(0x01);
    regs125Message.push_back((unsigned char)i);
  }
  const unsigned char coils[2] = {0xA5, 0x01};
  const int regs[2] = {0x1234, -1};
  using C = otModbusClient;
  const std::vector<WriteCase<C>> cases = {
      {"write 256 data bytes posts 258", 0,
       [&](C& c) { return c.write(255, 23, data256.data(), 256); }, concat({255, 23}, data256)},
      {"write without data", 0, [](C& c) { return c.write(0, 8, nullptr, 0); }, {0, 8}},
      {"single coil on",
       0,
       [](C& c) { return c.writeSingleCoil(1, 0x1234, 7); },
       {1, 5, 0x12, 0x34, 0xFF, 0x00}},
      {"single coil off",
       0,
       [](C& c) { return c.writeSingleCoil(1, 65535, 0); },
       {1, 5, 0xFF, 0xFF, 0x00, 0x00}},
      {"8 coils: byte count 1",
       0,
       [&](C& c) { return c.writeMultipleCoils(2, 19, coils, 8); },
       {2, 15, 0, 19, 0, 8, 1, 0xA5}},
      {"9 coils: byte count 2",
       0,
       [&](C& c) { return c.writeMultipleCoils(2, 19, coils, 9); },
       {2, 15, 0, 19, 0, 9, 2, 0xA5, 0x01}},
      {"single register",
       0,
       [](C& c) { return c.writePresetSingleRegister(4, 0x0102, -2); },
       {4, 6, 0x01, 0x02, 0xFF, 0xFE}},
      {"two registers",
       0,
       [&](C& c) { return c.writePresetMultipleRegisters(4, 1, regs, 2); },
       {4, 16, 0, 1, 0, 2, 4, 0x12, 0x34, 0xFF, 0xFF}},
      {"125 registers fill the longest message", 0,
       [&](C& c) { return c.writePresetMultipleRegisters(3, 0x10, regs125, 125); }, regs125Message},
      // Refused, nothing posted.
      {"257 data bytes", 0, [&](C& c) { return c.write(1, 23, data256.data(), 257); }, {}},
      {"negative length", 0, [&](C& c) { return c.write(1, 23, data256.data(), -1); }, {}},
      {"slave 256", 0, [&](C& c) { return c.write(256, 3, data256.data(), 4); }, {}},
      {"slave -1", 0, [&](C& c) { return c.write(-1, 3, data256.data(), 4); }, {}},
      {"function -1", 0, [&](C& c) { return c.write(1, -1, data256.data(), 4); }, {}},
      {"function 256", 0, [&](C& c) { return c.write(1, 256, data256.data(), 4); }, {}},
      {"null data", 0, [](C& c) { return c.write(1, 3, nullptr, 4); }, {}},
      {"0 coils", 0, [&](C& c) { return c.writeMultipleCoils(1, 0, coils, 0); }, {}},
      {"2009 coils", 0, [&](C& c) { return c.writeMultipleCoils(1, 0, data256.data(), 2009); }, {}},
      {"coil address 65536", 0, [](C& c) { return c.writeSingleCoil(1, 65536, 1); }, {}},
      {"register address -1", 0, [](C& c) { return c.writePresetSingleRegister(1, -1, 1); }, {}},
      {"0 registers", 0, [&](C& c) { return c.writePresetMultipleRegisters(1, 0, regs, 0); }, {}},
      {"126 registers",
       0,
       [&](C& c) { return c.writePresetMultipleRegisters(1, 0, regs125, 126); },
       {}},
  };
  runWriteCases(client, cases);
}

TEST_F(DeviceClientTest, ModbusImageReadersStayWithinTheImage) {
  const int size = 200;
  otModbusClient client(mbx.c_str(), shm.c_str(), size);
  ASSERT_EQ(client.otSharedMemory::status, otSharedMemory::SHM_OK);
  Bytes image = counting(size);
  image[10] = 0x81;  // bits 0 and 7
  image[11] = 0x02;  // bit 9 of a block at 10
  image[199] = 0x80;
  ASSERT_EQ(client.otSharedMemory::write(0, image.data(), size), size);
  struct {
    const char* name;
    std::function<int()> call;
    int expected;
  } cases[] = {
      {"bit 0", [&] { return client.readBit(10, 0); }, 1},
      {"bit 1", [&] { return client.readBit(10, 1); }, 0},
      {"bit 7", [&] { return client.readBit(10, 7); }, 1},
      {"bit 9", [&] { return client.readBit(10, 9); }, 1},
      {"bit 128", [&] { return client.readBit(0, 128); }, (image[16] & 1)},
      {"bit in the last byte", [&] { return client.readBit(199, 7); }, 1},
      {"bit behind the image", [&] { return client.readBit(199, 8); }, -1},
      {"bit 129", [&] { return client.readBit(0, 129); }, -1},
      {"bit -1", [&] { return client.readBit(10, -1); }, -1},
      {"bit at offset -1", [&] { return client.readBit(-1, 0); }, -1},
      {"byte unsigned", [&] { return client.readByte(10, 0); }, 0x81},
      {"byte 128", [&] { return client.readByte(0, 128); }, 128},
      {"byte 129", [&] { return client.readByte(0, 129); }, -1},
      {"byte behind the image", [&] { return client.readByte(200, 0); }, -1},
      {"byte -1", [&] { return client.readByte(5, -1); }, -1},
      {"short big-endian", [&] { return client.readShort(10, 0); }, 0x8102},
      {"short 64", [&] { return client.readShort(0, 64); }, 0x8081},
      {"short 65", [&] { return client.readShort(0, 65); }, -1},
      {"short -1", [&] { return client.readShort(2, -1); }, -1},
      {"short at the end", [&] { return client.readShort(198, 0); }, 0xC680},
      {"short across the end", [&] { return client.readShort(199, 0); }, -1},
      {"short at offset -2", [&] { return client.readShort(-2, 1); }, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(), c.expected);
  }
}

TEST_F(DeviceClientTest, SiemensRequestsArePostedByteForByte) {
  otSiemensTCPClient client(mbx.c_str(), shm.c_str(), 16, 1);
  using C = otSiemensTCPClient;
  const Bytes data2047 = counting(2047);
  const short shorts[2] = {0x1234, -2};
  const unsigned short ushorts[1] = {0xBEEF};
  const int dwords[1] = {0x01020304};
  const unsigned int udwords[1] = {0xA1B2C3D4u};
  const float floats[2] = {1.0f, -2.5f};  // 3F800000, C0200000
  const unsigned char bits[3] = {1, 0, 1};
  // Header of a DB 300 byte write at 0x0102: slave 7, org 1, dbnum, start, length, function 2.
  auto db = [](int len) {
    return Bytes{7, 1, 0x01, 0x2C, 0x01, 0x02, (unsigned char)(len >> 8), (unsigned char)len, 2};
  };
  const std::vector<WriteCase<C>> cases = {
      {"short swapped", 1, [&](C& c) { return c.writeShort(7, 1, 300, 0x102, 1, shorts); },
       concat(db(2), {0x12, 0x34})},
      {"short in host order", 0, [&](C& c) { return c.writeShort(7, 1, 300, 0x102, 1, shorts); },
       concat(db(2), {0x34, 0x12})},
      {"two shorts swapped", 1, [&](C& c) { return c.writeShort(7, 1, 300, 0x102, 2, shorts); },
       concat(db(4), {0x12, 0x34, 0xFF, 0xFE})},
      {"ushort swapped", 1, [&](C& c) { return c.writeUShort(7, 1, 300, 0x102, 1, ushorts); },
       concat(db(2), {0xBE, 0xEF})},
      {"ushort, swap 2 is host order", 2,
       [&](C& c) { return c.writeUShort(7, 1, 300, 0x102, 1, ushorts); },
       concat(db(2), {0xEF, 0xBE})},
      {"dword swapped", 1, [&](C& c) { return c.writeDword(7, 1, 300, 0x102, 1, dwords); },
       concat(db(4), {1, 2, 3, 4})},
      {"dword in host order", 0, [&](C& c) { return c.writeDword(7, 1, 300, 0x102, 1, dwords); },
       concat(db(4), {4, 3, 2, 1})},
      {"udword swapped", 1, [&](C& c) { return c.writeUDword(7, 1, 300, 0x102, 1, udwords); },
       concat(db(4), {0xA1, 0xB2, 0xC3, 0xD4})},
      {"floats swapped", 1, [&](C& c) { return c.writeFloat(7, 1, 300, 0x102, 2, floats); },
       concat(db(8), {0x3F, 0x80, 0, 0, 0xC0, 0x20, 0, 0})},
      {"float in host order", 0, [&](C& c) { return c.writeFloat(7, 1, 300, 0x102, 1, floats); },
       concat(db(4), {0, 0, 0x80, 0x3F})},
      {"bits: start 3, bit 5 is address 29, function 1",
       1,
       [&](C& c) { return c.writeBit(7, 1, 300, 3, 5, 3, bits); },
       {7, 1, 0x01, 0x2C, 0, 29, 0, 3, 1, 1, 0, 1}},
      {"bytes are never swapped", 1,
       [&](C& c) { return c.writeByte(7, 1, 300, 0x102, 3, data2047.data() + 1); },
       concat(db(3), {1, 2, 3})},
      {"2047 bytes fill the longest message", 1,
       [&](C& c) { return c.write(255, 255, 65535, 65535, 2047, data2047.data(), 2); },
       concat({255, 255, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0xFF, 2}, data2047)},
      // Refused, nothing posted.
      {"2048 bytes", 1, [&](C& c) { return c.write(1, 1, 1, 0, 2048, data2047.data(), 2); }, {}},
      {"0 bytes", 1, [&](C& c) { return c.write(1, 1, 1, 0, 0, data2047.data(), 2); }, {}},
      {"slave 256", 1, [&](C& c) { return c.writeByte(256, 1, 1, 0, 1, bits); }, {}},
      {"slave -1", 1, [&](C& c) { return c.writeShort(-1, 1, 1, 0, 1, shorts); }, {}},
      {"512 floats are 2048 bytes",
       1,
       [&](C& c) { return c.writeFloat(1, 1, 1, 0, 512, floats); },
       {}},
      {"1024 shorts are 2048 bytes",
       1,
       [&](C& c) { return c.writeShort(1, 1, 1, 0, 1024, shorts); },
       {}},
      {"negative count", 1, [&](C& c) { return c.writeDword(1, 1, 1, 0, -1, dwords); }, {}},
      {"org 256", 1, [&](C& c) { return c.writeByte(1, 256, 1, 0, 1, bits); }, {}},
      {"dbnum 65536", 1, [&](C& c) { return c.writeByte(1, 1, 65536, 0, 1, bits); }, {}},
      {"start 65536", 1, [&](C& c) { return c.writeByte(1, 1, 1, 65536, 1, bits); }, {}},
      {"bit address 65536", 1, [&](C& c) { return c.writeBit(1, 1, 1, 8192, 0, 1, bits); }, {}},
      {"null data", 1, [](C& c) { return c.writeByte(1, 1, 1, 0, 1, nullptr); }, {}},
  };
  runWriteCases(client, cases);
}

TEST_F(DeviceClientTest, PPIRequestsArePostedByteForByte) {
  otPPIClient client(mbx.c_str(), shm.c_str(), 16, 1);
  using C = otPPIClient;
  const Bytes data2048 = counting(2048);
  const short shorts[2] = {0x1234, 0x5678};
  const unsigned short ushorts[1] = {0xBEEF};
  const int dwords[1] = {0x01020304};
  const unsigned int udwords[1] = {0xA1B2C3D4u};
  const float floats[2] = {1.0f, 2.0f};  // 3F800000, 40000000
  // Header of a write to area 0x84, DB 1 at byte 0x0203: slave 2.
  auto vb = [](int len) {
    return Bytes{2, 0x84, 0, 1, 0x02, 0x03, (unsigned char)(len >> 8), (unsigned char)len};
  };
  const std::vector<WriteCase<C>> cases = {
      {"slave 31",
       1,
       [&](C& c) { return c.write(31, 0x84, 1, 0x203, 2, data2048.data()); },
       {31, 0x84, 0, 1, 0x02, 0x03, 0, 2, 0, 1}},
      {"2048 bytes fill the longest message", 1,
       [&](C& c) { return c.write(2, 0x84, 1, 0x203, 2048, data2048.data()); },
       concat(vb(2048), data2048)},
      {"5 bytes of floats swapped", 1,
       [&](C& c) { return c.writeFloat(2, 0x84, 1, 0x203, 5, floats); },
       concat(vb(5), {0x3F, 0x80, 0, 0, 0x40})},
      {"float in host order", 0, [&](C& c) { return c.writeFloat(2, 0x84, 1, 0x203, 4, floats); },
       concat(vb(4), {0, 0, 0x80, 0x3F})},
      {"3 bytes of shorts in host order", 0,
       [&](C& c) { return c.writeShort(2, 0x84, 1, 0x203, 3, shorts); },
       concat(vb(3), {0x34, 0x12, 0x78})},
      {"short swapped", 1, [&](C& c) { return c.writeShort(2, 0x84, 1, 0x203, 2, shorts); },
       concat(vb(2), {0x12, 0x34})},
      {"ushort swapped", 1, [&](C& c) { return c.writeUShort(2, 0x84, 1, 0x203, 2, ushorts); },
       concat(vb(2), {0xBE, 0xEF})},
      {"dword swapped", 1, [&](C& c) { return c.writeDword(2, 0x84, 1, 0x203, 4, dwords); },
       concat(vb(4), {1, 2, 3, 4})},
      {"udword in host order", 0,
       [&](C& c) { return c.writeUDword(2, 0x84, 1, 0x203, 4, udwords); },
       concat(vb(4), {0xD4, 0xC3, 0xB2, 0xA1})},
      // Refused, nothing posted.
      {"slave 32", 1, [&](C& c) { return c.write(32, 0x84, 1, 0, 2, data2048.data()); }, {}},
      {"slave -1", 1, [&](C& c) { return c.writeShort(-1, 0x84, 1, 0, 2, shorts); }, {}},
      {"2049 bytes", 1, [&](C& c) { return c.write(1, 0x84, 1, 0, 2049, data2048.data()); }, {}},
      {"2049 bytes of floats",
       1,
       [&](C& c) { return c.writeFloat(1, 0x84, 1, 0, 2049, floats); },
       {}},
      {"0 bytes, which the daemon ignores",
       1,
       [&](C& c) { return c.write(1, 0x84, 1, 0, 0, data2048.data()); },
       {}},
      {"negative length", 1, [&](C& c) { return c.writeDword(1, 0x84, 1, 0, -4, dwords); }, {}},
      {"area 256", 1, [&](C& c) { return c.write(1, 256, 1, 0, 2, data2048.data()); }, {}},
      {"dbnum -1", 1, [&](C& c) { return c.write(1, 0x84, -1, 0, 2, data2048.data()); }, {}},
      {"start 65536", 1, [&](C& c) { return c.write(1, 0x84, 1, 65536, 2, data2048.data()); }, {}},
      {"null data", 1, [](C& c) { return c.write(1, 0x84, 1, 0, 2, nullptr); }, {}},
  };
  runWriteCases(client, cases);
}

// Reads a hand-filled image into the read buffer and checks every accessor in both byte orders,
// at the buffer's end and behind it.
template <class Client>
void checkAccessors(const std::string& mbx, const std::string& shm) {
  const int size = Client::READ_BUFFER_SIZE;
  Client client(mbx.c_str(), shm.c_str(), size + 8, 1);
  ASSERT_EQ(client.otSharedMemory::status, otSharedMemory::SHM_OK);
  Bytes image((size_t)size + 8, 0);
  const Bytes head = {0x3F, 0x80, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFE, 0x12, 0x34, 0xFE, 0xDC};
  std::copy(head.begin(), head.end(), image.begin());
  const Bytes tail = {0xA1, 0xB2, 0xC3, 0xD4};  // the last 4 bytes of the read buffer
  std::copy(tail.begin(), tail.end(), image.begin() + size - 4);
  image[(size_t)size] = 0x55;  // behind the read buffer
  ASSERT_EQ(client.otSharedMemory::write(0, image.data(), size + 8), size + 8);
  ASSERT_EQ(client.read(0, size), size);

  const int lastDword = size / 4 - 1, lastShort = size / 2 - 1;
  struct {
    const char* name;
    std::function<double(Client&)> call;
    double swapped, host;
  } cases[] = {
      {"Float by its bit pattern",
       [](Client& c) {
         const float f = c.Float(0);
         uint32_t bits;
         std::memcpy(&bits, &f, 4);
         return (double)bits;
       },
       0x3F800000, 0x0000803F},
      {"Dword", [](Client& c) { return c.Dword(1); }, -2, -16777217},
      {"UDword", [](Client& c) { return c.UDword(1); }, 4294967294.0, 4278190079.0},
      {"Short", [](Client& c) { return c.Short(5); }, (short)0xFEDC, (short)0xDCFE},
      {"UShort", [](Client& c) { return c.UShort(5); }, 0xFEDC, 0xDCFE},
      {"Short positive", [](Client& c) { return c.Short(4); }, 0x1234, 0x3412},
      {"UDword at the end", [&](Client& c) { return c.UDword(lastDword); }, 0xA1B2C3D4u,
       0xD4C3B2A1u},
      {"Short at the end", [&](Client& c) { return c.Short(lastShort); }, (short)0xC3D4,
       (short)0xD4C3},
      {"UShort at the end", [&](Client& c) { return c.UShort(lastShort); }, 0xC3D4, 0xD4C3},
      {"Float behind the end", [&](Client& c) { return c.Float(lastDword + 1); }, 0, 0},
      {"Dword behind the end", [&](Client& c) { return c.Dword(lastDword + 1); }, 0, 0},
      {"UDword behind the end", [&](Client& c) { return c.UDword(lastDword + 1); }, 0, 0},
      {"Short behind the end", [&](Client& c) { return c.Short(lastShort + 1); }, 0, 0},
      {"UShort behind the end", [&](Client& c) { return c.UShort(lastShort + 1); }, 0, 0},
      {"Dword -1", [](Client& c) { return c.Dword(-1); }, 0, 0},
      {"UShort -1", [](Client& c) { return c.UShort(-1); }, 0, 0},
      {"Float of a huge index", [](Client& c) { return c.Float(0x7FFFFFFF); }, 0, 0},
  };
  for (int swap : {1, 0}) {
    client.swap = swap;
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (swap ? " swapped" : " host order"));
      EXPECT_EQ(c.call(client), swap ? c.swapped : c.host);
    }
  }
}

TEST_F(DeviceClientTest, SiemensAccessorsFollowTheSwapFlag) {
  checkAccessors<otSiemensTCPClient>(mbx, shm);
}

TEST_F(DeviceClientTest, PPIAccessorsFollowTheSwapFlag) {
  checkAccessors<otPPIClient>(mbx, shm);
}

// read() copies all or nothing: a request beyond the read buffer or the image, or with a
// negative start or length, gives -1 and leaves the buffer as it was.
template <class Client>
void checkRead(const std::string& mbx, const std::string& shm) {
  const int size = Client::READ_BUFFER_SIZE;
  Client client(mbx.c_str(), shm.c_str(), size + 16, 1);
  Bytes image = counting(size + 16);
  ASSERT_EQ(client.otSharedMemory::write(0, image.data(), size + 16), size + 16);
  ASSERT_EQ(client.read(16, size), size);
  EXPECT_EQ(std::memcmp(client.readBuffer, image.data() + 16, (size_t)size), 0);
  ASSERT_EQ(client.read(1, 4), 4);
  const Bytes before(client.readBuffer, client.readBuffer + size);
  struct {
    const char* name;
    int start, len;
  } refused[] = {
      {"more than the read buffer", 0, size + 1},
      {"beyond the image", 17, size},
      {"negative start", -1, 4},
      {"negative length", 0, -4},
      {"nothing", 0, 0},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(client.read(r.start, r.len), -1);
    EXPECT_EQ(Bytes(client.readBuffer, client.readBuffer + size), before);
  }
}

TEST_F(DeviceClientTest, SiemensReadRefusesWhatDoesNotFit) {
  checkRead<otSiemensTCPClient>(mbx, shm);
}

TEST_F(DeviceClientTest, PPIReadRefusesWhatDoesNotFit) {
  checkRead<otPPIClient>(mbx, shm);
}

// The status area at the end of an image, as a generated daemon writes it: cycle records of 16
// bytes and the daemon's record of 28 bytes, fields most significant byte first.
void putBig(Bytes& image, size_t at, unsigned long long v, int n) {
  for (int i = n - 1; i >= 0; i--, v >>= 8)
    image[at + (size_t)i] = (unsigned char)v;
}

template <class Client>
Client* openClient(const std::string& mbx, const std::string& shm, int size);
template <>
otModbusClient* openClient(const std::string& mbx, const std::string& shm, int size) {
  return new otModbusClient(mbx.c_str(), shm.c_str(), size);
}
template <class Client>
Client* openClient(const std::string& mbx, const std::string& shm, int size) {
  return new Client(mbx.c_str(), shm.c_str(), size, 1);
}

// A stale value must be told from a fresh one: each cycle's state and age, the daemon's age,
// and -1 wherever the image holds no status area that can be trusted.
template <class Client>
void checkStatus(const std::string& mbx, const std::string& shm) {
  const int blocks = 10, cycles = 3, size = blocks + 6 + 16 * cycles + 28;
  std::unique_ptr<Client> client(openClient<Client>(mbx, shm, size));
  ASSERT_EQ(client->otSharedMemory::status, otSharedMemory::SHM_OK);
  long age = 99;
  int ok = 99;
  // A fresh segment is all zeros: no mark, no status.
  EXPECT_EQ(client->cycleStatus(1, &ok, &age), -1);
  EXPECT_EQ(client->passAge(&age), -1);
  EXPECT_EQ(ok, 99);

  const long long now = (long long)time(nullptr);
  Bytes image((size_t)size);
  const size_t status = blocks + 6, pass = status + 16 * cycles;
  image[status] = 1;  // cycle 1: good 5 s ago
  putBig(image, status + 8, (unsigned long long)(now - 5), 8);
  image[status + 16] = 2;  // cycle 2: failed 7 times, last good 100 s ago
  putBig(image, status + 16 + 4, 7, 4);
  putBig(image, status + 16 + 8, (unsigned long long)(now - 100), 8);
  // cycle 3: not read yet
  putBig(image, pass, (unsigned long long)(now - 100), 8);
  std::memcpy(&image[pass + 20], "OTS1", 4);
  putBig(image, pass + 24, cycles, 4);
  ASSERT_EQ(client->otSharedMemory::write(0, image.data(), size), size);

  ASSERT_EQ(client->cycleStatus(1, &ok, &age), 0);
  EXPECT_EQ(ok, 1);
  EXPECT_GE(age, 5);
  EXPECT_LE(age, 7);
  ASSERT_EQ(client->cycleStatus(2, &ok, &age), 0);
  EXPECT_EQ(ok, 0);
  EXPECT_GE(age, 100);
  ASSERT_EQ(client->cycleStatus(3, &ok, &age), 0);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(age, -1);
  ASSERT_EQ(client->passAge(&age), 0);
  EXPECT_GE(age, 100);
  EXPECT_EQ(client->cycleStatus(1, nullptr, nullptr), 0);
  EXPECT_EQ(client->cycleStatus(0, &ok, &age), -1);
  EXPECT_EQ(client->cycleStatus(cycles + 1, &ok, &age), -1);

  // A time ahead of the clock (it was set back) is no negative age.
  putBig(image, status + 8, (unsigned long long)(now + 3600), 8);
  ASSERT_EQ(client->otSharedMemory::write(0, image.data(), size), size);
  ASSERT_EQ(client->cycleStatus(1, &ok, &age), 0);
  EXPECT_EQ(age, 0);

  // More cycles than the image can hold before the daemon's record: not a status area.
  putBig(image, pass + 24, 0xFFFFFFFFu, 4);
  ASSERT_EQ(client->otSharedMemory::write(0, image.data(), size), size);
  EXPECT_EQ(client->cycleStatus(1, &ok, &age), -1);
  EXPECT_EQ(client->passAge(&age), -1);

  // A client that opens the image with another size does not find the area's end.
  putBig(image, pass + 24, cycles, 4);
  ASSERT_EQ(client->otSharedMemory::write(0, image.data(), size), size);
  std::unique_ptr<Client> shorter(openClient<Client>(mbx, shm, size - 1));
  EXPECT_EQ(shorter->cycleStatus(1, &ok, &age), -1);
  std::unique_ptr<Client> tiny(openClient<Client>(mbx, shm, 4));
  EXPECT_EQ(tiny->passAge(&age), -1);
}

TEST_F(DeviceClientTest, ModbusStatusTellsStaleFromFresh) {
  checkStatus<otModbusClient>(mbx, shm);
}

TEST_F(DeviceClientTest, SiemensStatusTellsStaleFromFresh) {
  checkStatus<otSiemensTCPClient>(mbx, shm);
}

TEST_F(DeviceClientTest, PPIStatusTellsStaleFromFresh) {
  checkStatus<otPPIClient>(mbx, shm);
}

}  // namespace
