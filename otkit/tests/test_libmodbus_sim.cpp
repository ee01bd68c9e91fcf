// otmodbussim against an independent Modbus master, libmodbus: Modbus/TCP on loopback and RTU
// over a socat pseudo-terminal pair. The simulator runs as a child process.
#include <errno.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "modbussim_child.h"
#include "otmodbus.h"
#include "socatpair.h"
#include "testutil.h"

namespace {

const char kSim[] = OTKIT_TOOLS_DIR "/otmodbussim";
const std::string kValues = OTKIT_TEST_SOURCE_DIR "/modbussim_values.txt";

// One libmodbus context, closed and freed on destruction.
struct Master {
  modbus_t* ctx = nullptr;
  ~Master() { close(); }
  void close() {
    if (ctx) {
      modbus_close(ctx);
      modbus_free(ctx);
    }
    ctx = nullptr;
  }
};

// Sends a raw request (slave, function code, data) and reads the reply. An exception reply
// gives -1 with errno set as libmodbus sets it for its own calls (raw confirmations are not
// decoded by libmodbus); else the reply length.
int raw(modbus_t* ctx, std::vector<uint8_t> request) {
  if (modbus_send_raw_request(ctx, request.data(), (int)request.size()) < 0) return -2;
  uint8_t reply[MODBUS_TCP_MAX_ADU_LENGTH];
  int n = modbus_receive_confirmation(ctx, reply);
  int fc = modbus_get_header_length(ctx);
  if (n < fc + 2) return n < 0 ? n : -3;
  if (reply[fc] == (request[1] | 0x80)) {
    errno = MODBUS_ENOBASE + reply[fc + 1];
    return -1;
  }
  return reply[fc] == request[1] ? n : -4;
}

std::vector<uint8_t> readRequest(int slave, int fc, int adr, int count) {
  return {(uint8_t)slave, (uint8_t)fc,           (uint8_t)(adr >> 8),
          (uint8_t)adr,   (uint8_t)(count >> 8), (uint8_t)count};
}

// A write-multiple request with byte count and that many zero bytes.
std::vector<uint8_t> writeRequest(int slave, int fc, int adr, int count, int bytes) {
  std::vector<uint8_t> r = readRequest(slave, fc, adr, count);
  r.push_back((uint8_t)bytes);
  r.resize(r.size() + (size_t)bytes, 0);
  return r;
}

// Expects a libmodbus call to fail with the given errno.
#define EXPECT_MODBUS_ERROR(call, err)                                            \
  do {                                                                            \
    errno = 0;                                                                    \
    EXPECT_EQ((call), -1);                                                        \
    EXPECT_EQ(errno, (err)) << modbus_strerror(errno) << " instead of " << (err); \
  } while (0)

// The simulator on a free port (of 127.0.0.1 unless an option names an address), reached on
// 127.0.0.1.
class SimTcp : public ::testing::Test {
 protected:
  void startSim(std::vector<std::string> options) {
    port = modbussim::freeTcpPort();
    ASSERT_GT(port, 0);
    std::vector<std::string> argv = {kSim, "-port=" + std::to_string(port)};
    argv.insert(argv.end(), options.begin(), options.end());
    ASSERT_EQ(sim.start(argv, dir.file("sim.out")), 0) << kSim;
    ASSERT_TRUE(modbussim::waitForTcp(port, 10000, &sim)) << sim.output();
  }

  modbus_t* connect(Master* m, int slave = 1) {
    m->ctx = modbus_new_tcp("127.0.0.1", port);
    EXPECT_NE(m->ctx, nullptr);
    if (!m->ctx) return nullptr;
    modbus_set_slave(m->ctx, slave);
    modbus_set_response_timeout(m->ctx, 5, 0);
    EXPECT_EQ(modbus_connect(m->ctx), 0) << modbus_strerror(errno);
    return m->ctx;
  }

  void TearDown() override {
    master.close();
    if (sim.pid() > 0) {
      int status = sim.stop(SIGTERM);
      EXPECT_TRUE(modbussim::exitedWith(status, 0)) << "status " << status << "\n" << sim.output();
    }
  }

  ottest::TempDir dir;
  modbussim::Child sim;
  Master master;
  int port = -1;
};

TEST_F(SimTcp, EveryFunctionOfLibmodbusRoundTrips) {
  startSim({"-init=" + kValues});
  modbus_t* ctx = connect(&master);
  ASSERT_NE(ctx, nullptr);

  // The values of the -init file.
  uint8_t bits[32];
  ASSERT_EQ(modbus_read_input_bits(ctx, 0, 10, bits), 10);
  EXPECT_EQ(std::vector<uint8_t>(bits, bits + 10),
            (std::vector<uint8_t>{1, 0, 1, 1, 0, 0, 0, 1, 1, 0}));
  ASSERT_EQ(modbus_read_bits(ctx, 20, 4, bits), 4);
  EXPECT_EQ(std::vector<uint8_t>(bits, bits + 4), (std::vector<uint8_t>{1, 1, 0, 1}));
  uint16_t regs[130];
  ASSERT_EQ(modbus_read_input_registers(ctx, 0, 5, regs), 5);
  EXPECT_EQ(std::vector<uint16_t>(regs, regs + 5),
            (std::vector<uint16_t>{100, 200, 300, 0xFFFF, 0}));
  ASSERT_EQ(modbus_read_registers(ctx, 50, 2, regs), 2);
  EXPECT_EQ(regs[0], 4660);
  EXPECT_EQ(regs[1], 0x5678);

  // fc 5 and 1.
  ASSERT_EQ(modbus_write_bit(ctx, 7, 1), 1);
  ASSERT_EQ(modbus_read_bits(ctx, 6, 3, bits), 3);
  EXPECT_EQ(std::vector<uint8_t>(bits, bits + 3), (std::vector<uint8_t>{0, 1, 0}));
  ASSERT_EQ(modbus_write_bit(ctx, 7, 0), 1);
  ASSERT_EQ(modbus_read_bits(ctx, 7, 1, bits), 1);
  EXPECT_EQ(bits[0], 0);

  // fc 15 across byte boundaries, with an odd count.
  const uint8_t pattern[19] = {1, 0, 0, 1, 1, 1, 0, 1, 0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1};
  ASSERT_EQ(modbus_write_bits(ctx, 101, 19, pattern), 19);
  ASSERT_EQ(modbus_read_bits(ctx, 100, 21, bits), 21);
  EXPECT_EQ(bits[0], 0);
  EXPECT_EQ(std::vector<uint8_t>(bits + 1, bits + 20), std::vector<uint8_t>(pattern, pattern + 19));
  EXPECT_EQ(bits[20], 0);

  // fc 6, 16, 3.
  ASSERT_EQ(modbus_write_register(ctx, 3, 0xABCD), 1);
  const uint16_t values[5] = {0, 1, 0x7FFF, 0x8000, 0xFFFF};
  ASSERT_EQ(modbus_write_registers(ctx, 10, 5, values), 5);
  ASSERT_EQ(modbus_read_registers(ctx, 9, 7, regs), 7);
  EXPECT_EQ(std::vector<uint16_t>(regs, regs + 7),
            (std::vector<uint16_t>{0, 0, 1, 0x7FFF, 0x8000, 0xFFFF, 0}));
  ASSERT_EQ(modbus_read_registers(ctx, 3, 1, regs), 1);
  EXPECT_EQ(regs[0], 0xABCD);

  // fc 22: (0xABCD AND 0xF0F0) OR (0x0505 AND NOT 0xF0F0).
  ASSERT_EQ(modbus_mask_write_register(ctx, 3, 0xF0F0, 0x0505), 1);
  ASSERT_EQ(modbus_read_registers(ctx, 3, 1, regs), 1);
  EXPECT_EQ(regs[0], 0xA5C5);

  // fc 23 writes before it reads, so the read sees the new values.
  const uint16_t written[3] = {11, 22, 33};
  ASSERT_EQ(modbus_write_and_read_registers(ctx, 20, 3, written, 19, 5, regs), 5);
  EXPECT_EQ(std::vector<uint16_t>(regs, regs + 5), (std::vector<uint16_t>{0, 11, 22, 33, 0}));

  // Reads of the input tables never see what was written to coils and holding registers.
  ASSERT_EQ(modbus_read_input_registers(ctx, 10, 1, regs), 1);
  EXPECT_EQ(regs[0], 0);
}

TEST_F(SimTcp, ExceptionsComeBackAsLibmodbusErrors) {
  startSim({"-registers=200", "-coils=100"});
  modbus_t* ctx = connect(&master);
  ASSERT_NE(ctx, nullptr);
  uint8_t bits[8];
  uint16_t regs[8];
  uint8_t id[64];

  // Functions that are not served, framed or not by the engine.
  EXPECT_MODBUS_ERROR(modbus_report_slave_id(ctx, sizeof(id), id), EMBXILFUN);
  EXPECT_MODBUS_ERROR(raw(ctx, {1, 0x41, 0x00, 0x01}), EMBXILFUN);
  EXPECT_MODBUS_ERROR(raw(ctx, {1, 8, 0x00, 0x00, 0x12, 0x34}), EMBXILFUN);
  EXPECT_MODBUS_ERROR(raw(ctx, {1, 7}), EMBXILFUN);
  // The stream stays in step behind them.
  EXPECT_EQ(modbus_read_registers(ctx, 0, 2, regs), 2);

  // Addresses outside each table.
  EXPECT_MODBUS_ERROR(modbus_read_bits(ctx, 100, 1, bits), EMBXILADD);
  EXPECT_MODBUS_ERROR(modbus_read_input_bits(ctx, 99, 2, bits), EMBXILADD);
  EXPECT_MODBUS_ERROR(modbus_read_registers(ctx, 200, 1, regs), EMBXILADD);
  EXPECT_MODBUS_ERROR(modbus_read_input_registers(ctx, 198, 3, regs), EMBXILADD);
  EXPECT_MODBUS_ERROR(modbus_write_bit(ctx, 100, 1), EMBXILADD);
  EXPECT_MODBUS_ERROR(modbus_write_register(ctx, 65535, 1), EMBXILADD);
  EXPECT_MODBUS_ERROR(modbus_mask_write_register(ctx, 200, 0, 0xFFFF), EMBXILADD);

  // A single coil takes only 0xFF00 and 0x0000.
  EXPECT_MODBUS_ERROR(raw(ctx, {1, 5, 0x00, 0x01, 0x12, 0x34}), EMBXILVAL);
  EXPECT_MODBUS_ERROR(raw(ctx, {1, 5, 0x00, 0x01, 0x00, 0xFF}), EMBXILVAL);

  // A refused write changes nothing, not even the part inside the table.
  const uint16_t ones[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_MODBUS_ERROR(modbus_write_registers(ctx, 195, 8, ones), EMBXILADD);
  const uint8_t set[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_MODBUS_ERROR(modbus_write_bits(ctx, 95, 8, set), EMBXILADD);
  // fc 23 whose read range is outside does not write either.
  EXPECT_MODBUS_ERROR(modbus_write_and_read_registers(ctx, 195, 2, ones, 199, 2, regs), EMBXILADD);
  ASSERT_EQ(modbus_read_registers(ctx, 192, 8, regs), 8);
  EXPECT_EQ(std::vector<uint16_t>(regs, regs + 8), std::vector<uint16_t>(8, 0));
  ASSERT_EQ(modbus_read_bits(ctx, 92, 8, bits), 8);
  EXPECT_EQ(std::vector<uint8_t>(bits, bits + 8), std::vector<uint8_t>(8, 0));
}

TEST_F(SimTcp, CountsAndAddressesAtTheProtocolLimits) {
  startSim({"-registers=200", "-coils=3000"});
  modbus_t* ctx = connect(&master);
  ASSERT_NE(ctx, nullptr);
  std::vector<uint16_t> regs(200);
  std::vector<uint8_t> bits(3000);

  // The last cell of a table is served; one past it is not.
  EXPECT_EQ(modbus_read_registers(ctx, 75, 125, regs.data()), 125);
  EXPECT_MODBUS_ERROR(modbus_read_registers(ctx, 76, 125, regs.data()), EMBXILADD);
  EXPECT_EQ(modbus_read_input_registers(ctx, 199, 1, regs.data()), 1);
  EXPECT_MODBUS_ERROR(modbus_read_input_registers(ctx, 200, 1, regs.data()), EMBXILADD);
  EXPECT_EQ(modbus_write_register(ctx, 199, 7), 1);
  EXPECT_EQ(modbus_read_bits(ctx, 1000, 2000, bits.data()), 2000);
  EXPECT_EQ(modbus_read_input_bits(ctx, 2999, 1, bits.data()), 1);
  EXPECT_MODBUS_ERROR(modbus_read_input_bits(ctx, 3000, 1, bits.data()), EMBXILADD);

  // Quantities: libmodbus refuses too many itself, so those go out as raw requests.
  EXPECT_MODBUS_ERROR(raw(ctx, readRequest(1, 3, 0, 126)), EMBXILVAL);
  EXPECT_MODBUS_ERROR(raw(ctx, readRequest(1, 4, 0, 126)), EMBXILVAL);
  EXPECT_MODBUS_ERROR(raw(ctx, readRequest(1, 3, 0, 0)), EMBXILVAL);
  EXPECT_MODBUS_ERROR(raw(ctx, readRequest(1, 1, 0, 2001)), EMBXILVAL);
  EXPECT_MODBUS_ERROR(raw(ctx, readRequest(1, 2, 0, 0)), EMBXILVAL);
  // The quantity is checked before the address.
  EXPECT_MODBUS_ERROR(raw(ctx, readRequest(1, 3, 5000, 126)), EMBXILVAL);

  EXPECT_EQ(modbus_write_bits(ctx, 0, 1968, bits.data()), 1968);
  EXPECT_MODBUS_ERROR(raw(ctx, writeRequest(1, 15, 0, 1969, 247)), EMBXILVAL);
  EXPECT_MODBUS_ERROR(raw(ctx, writeRequest(1, 15, 0, 0, 0)), EMBXILVAL);
  // Byte counts that do not match the count.
  EXPECT_MODBUS_ERROR(raw(ctx, writeRequest(1, 15, 0, 8, 2)), EMBXILVAL);
  EXPECT_MODBUS_ERROR(raw(ctx, writeRequest(1, 15, 0, 9, 1)), EMBXILVAL);
  EXPECT_EQ(raw(ctx, writeRequest(1, 15, 0, 9, 2)), 12);

  EXPECT_EQ(modbus_write_registers(ctx, 77, 123, regs.data()), 123);
  EXPECT_MODBUS_ERROR(raw(ctx, writeRequest(1, 16, 0, 2, 3)), EMBXILVAL);
  EXPECT_MODBUS_ERROR(raw(ctx, writeRequest(1, 16, 0, 2, 6)), EMBXILVAL);

  EXPECT_EQ(modbus_write_and_read_registers(ctx, 0, 121, regs.data(), 0, 125, regs.data()), 125);
  EXPECT_MODBUS_ERROR(raw(ctx, {1, 23, 0, 0, 0, 126, 0, 0, 0, 1, 2, 0, 0}), EMBXILVAL);
  EXPECT_MODBUS_ERROR(raw(ctx, {1, 23, 0, 0, 0, 1, 0, 0, 0, 1, 4, 0, 0, 0, 0}), EMBXILVAL);
  // Requests too long for a libmodbus raw request (fc 16 with 124 registers, fc 23 writing
  // 122) are tested on a plain socket with the simulator's other tests.
}

TEST_F(SimTcp, LargestTablesEndAtAddress65535) {
  startSim({"-registers=65536", "-coils=65536"});
  modbus_t* ctx = connect(&master);
  ASSERT_NE(ctx, nullptr);
  uint16_t regs[2];
  uint8_t bits[2];
  EXPECT_EQ(modbus_write_register(ctx, 65535, 0xBEEF), 1);
  EXPECT_EQ(modbus_read_registers(ctx, 65535, 1, regs), 1);
  EXPECT_EQ(regs[0], 0xBEEF);
  EXPECT_EQ(modbus_write_bit(ctx, 65535, 1), 1);
  EXPECT_EQ(modbus_read_bits(ctx, 65535, 1, bits), 1);
  EXPECT_EQ(bits[0], 1);
  // Address and count that run past 65535.
  EXPECT_MODBUS_ERROR(modbus_read_registers(ctx, 65535, 2, regs), EMBXILADD);
  EXPECT_MODBUS_ERROR(modbus_read_bits(ctx, 65535, 2, bits), EMBXILADD);
}

TEST_F(SimTcp, ServesSeveralClientsAtOnce) {
  startSim({});
  const int kClients = 3, kRounds = 40;
  Master masters[kClients];
  for (Master& m : masters)
    ASSERT_NE(connect(&m), nullptr);

  // What one client writes, the others read.
  ASSERT_EQ(modbus_write_register(masters[0].ctx, 500, 4242), 1);
  uint16_t v = 0;
  ASSERT_EQ(modbus_read_registers(masters[2].ctx, 500, 1, &v), 1);
  EXPECT_EQ(v, 4242);

  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; c++)
    threads.emplace_back([&, c] {
      for (int i = 0; i < kRounds; i++) {
        uint16_t out[4] = {(uint16_t)c, (uint16_t)i, (uint16_t)(c * i), 0x5A5A};
        uint16_t in[4] = {0, 0, 0, 0};
        if (modbus_write_registers(masters[c].ctx, 10 * c, 4, out) != 4 ||
            modbus_read_registers(masters[c].ctx, 10 * c, 4, in) != 4 ||
            memcmp(in, out, sizeof(in)) != 0)
          failures++;
      }
    });
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(failures, 0);
}

TEST_F(SimTcp, AnswersItsOwnUnitIdOnly) {
  startSim({"-slave=5"});
  Master other;
  modbus_t* ctx = connect(&master, 5);
  modbus_t* stranger = connect(&other, 6);
  ASSERT_NE(ctx, nullptr);
  ASSERT_NE(stranger, nullptr);
  modbus_set_response_timeout(stranger, 0, 300000);
  uint16_t v;
  EXPECT_EQ(modbus_write_register(ctx, 1, 99), 1);
  EXPECT_MODBUS_ERROR(modbus_read_registers(stranger, 1, 1, &v), ETIMEDOUT);
  // The unanswered request left both connections usable.
  EXPECT_EQ(modbus_read_registers(ctx, 1, 1, &v), 1);
  EXPECT_EQ(v, 99);
  modbus_set_slave(stranger, 5);
  modbus_set_response_timeout(stranger, 5, 0);
  EXPECT_EQ(modbus_read_registers(stranger, 1, 1, &v), 1);
}

TEST_F(SimTcp, ListensOnTheGivenAddress) {
  port = modbussim::freeTcpPort();
  ASSERT_EQ(sim.start({kSim, "-tcp=127.0.0.1:" + std::to_string(port)}, dir.file("sim.out")), 0);
  ASSERT_TRUE(modbussim::waitForTcp(port, 10000, &sim)) << sim.output();
  modbus_t* ctx = connect(&master);
  ASSERT_NE(ctx, nullptr);
  uint16_t v = 1;
  EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &v), 1);
  EXPECT_EQ(v, 0);
}

TEST_F(SimTcp, ListensOnTheBindAddressBesideItsPort) {
  startSim({"-bind=127.0.0.1"});
  EXPECT_TRUE(sim.waitForOutput("listening on 127.0.0.1 port " + std::to_string(port), 5000))
      << sim.output();
  modbus_t* ctx = connect(&master);
  ASSERT_NE(ctx, nullptr);
  uint16_t v = 1;
  EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &v), 1);
}

// Modbus has no login: without an address the simulator serves the loopback address alone,
// and says so; -bind=0.0.0.0 serves every interface.
TEST_F(SimTcp, ListensOnLoopbackUnlessToldOtherwise) {
  for (const char* bind : {"", "-bind=0.0.0.0"}) {
    SCOPED_TRACE(bind);
    startSim(bind[0] != '\0' ? std::vector<std::string>{bind} : std::vector<std::string>{});
    if (bind[0] == '\0') {
      EXPECT_TRUE(sim.waitForOutput("listening on 127.0.0.1 only", 5000)) << sim.output();
    }
    modbus_t* other = modbus_new_tcp("127.0.0.2", port);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(modbus_connect(other) == 0, bind[0] != '\0');
    modbus_free(other);
    EXPECT_EQ(sim.stop(SIGTERM), 0);
  }
}

// A raw request's MBAP length is its own length, so a PDU with bytes missing or left over is
// framed completely and gets exception 3 like any other bad request; the connection goes on.
TEST_F(SimTcp, RawRequestsOfTheWrongLengthGetIllegalDataValue) {
  startSim({"-registers=10"});
  modbus_t* ctx = connect(&master);
  ASSERT_NE(ctx, nullptr);
  EXPECT_MODBUS_ERROR(raw(ctx, {1, 3, 0, 0, 0, 1, 0xAA}), EMBXILVAL);
  EXPECT_MODBUS_ERROR(raw(ctx, {1, 6, 0, 0, 0x12}), EMBXILVAL);
  EXPECT_MODBUS_ERROR(raw(ctx, {1, 16, 0, 0, 0, 0, 0, 0xAA, 0xBB}), EMBXILVAL);
  EXPECT_MODBUS_ERROR(raw(ctx, {1, 15, 0, 0, 0, 8, 1, 0xFF, 0xFF}), EMBXILVAL);
  EXPECT_MODBUS_ERROR(raw(ctx, {1, 22, 0, 0, 0xFF, 0xFF, 0}), EMBXILVAL);
  uint16_t v = 1;
  EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &v), 1);
  EXPECT_EQ(v, 0);
}

// RTU over a socat pair: the simulator on one end, a libmodbus RTU master on the other.
class SimRtu : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string err = line.start(dir.path());
    ASSERT_EQ(err, "");
    ASSERT_EQ(sim.start({kSim, "-serial=" + line.a(), "-mode=rtu", "-baud=9600", "-slave=1",
                         "-registers=100", "-init=" + kValues},
                        dir.file("sim.out")),
              0);
    ASSERT_TRUE(sim.waitForOutput("serving", 10000)) << sim.output();
  }

  modbus_t* open(int slave = 1) {
    master.ctx = modbus_new_rtu(line.b().c_str(), 9600, 'N', 8, 1);
    EXPECT_NE(master.ctx, nullptr);
    if (!master.ctx) return nullptr;
    modbus_set_slave(master.ctx, slave);
    modbus_set_response_timeout(master.ctx, 3, 0);
    EXPECT_EQ(modbus_connect(master.ctx), 0) << modbus_strerror(errno);
    return master.ctx;
  }

  void TearDown() override {
    master.close();
    int status = sim.stop(SIGTERM);
    EXPECT_TRUE(modbussim::exitedWith(status, 0)) << "status " << status << "\n" << sim.output();
    line.stop();
  }

  ottest::TempDir dir;
  ottest::SocatPair line;
  modbussim::Child sim;
  Master master;
};

TEST_F(SimRtu, LibmodbusRtuMasterRoundTrips) {
  modbus_t* ctx = open();
  ASSERT_NE(ctx, nullptr);
  uint16_t regs[130];
  uint8_t bits[32];
  ASSERT_EQ(modbus_read_input_registers(ctx, 0, 4, regs), 4);
  EXPECT_EQ(std::vector<uint16_t>(regs, regs + 4), (std::vector<uint16_t>{100, 200, 300, 0xFFFF}));
  ASSERT_EQ(modbus_read_input_bits(ctx, 0, 4, bits), 4);
  EXPECT_EQ(std::vector<uint8_t>(bits, bits + 4), (std::vector<uint8_t>{1, 0, 1, 1}));

  const uint16_t values[4] = {1, 0x1234, 0xFFFF, 0};
  ASSERT_EQ(modbus_write_registers(ctx, 96, 4, values), 4);
  ASSERT_EQ(modbus_read_registers(ctx, 96, 4, regs), 4);
  EXPECT_EQ(std::vector<uint16_t>(regs, regs + 4), std::vector<uint16_t>(values, values + 4));
  ASSERT_EQ(modbus_write_register(ctx, 0, 321), 1);
  ASSERT_EQ(modbus_read_registers(ctx, 0, 1, regs), 1);
  EXPECT_EQ(regs[0], 321);
  const uint8_t pattern[10] = {1, 1, 0, 0, 1, 0, 1, 0, 0, 1};
  ASSERT_EQ(modbus_write_bits(ctx, 3, 10, pattern), 10);
  ASSERT_EQ(modbus_write_bit(ctx, 2, 1), 1);
  ASSERT_EQ(modbus_read_bits(ctx, 2, 11, bits), 11);
  EXPECT_EQ(bits[0], 1);
  EXPECT_EQ(std::vector<uint8_t>(bits + 1, bits + 11), std::vector<uint8_t>(pattern, pattern + 10));
  const uint16_t rw[2] = {7, 8};
  ASSERT_EQ(modbus_write_and_read_registers(ctx, 10, 2, rw, 10, 3, regs), 3);
  EXPECT_EQ(std::vector<uint16_t>(regs, regs + 3), (std::vector<uint16_t>{7, 8, 0}));
  ASSERT_EQ(modbus_read_registers(ctx, 0, 100, regs), 100);

  EXPECT_MODBUS_ERROR(modbus_read_registers(ctx, 99, 2, regs), EMBXILADD);
  EXPECT_MODBUS_ERROR(raw(ctx, readRequest(1, 3, 0, 126)), EMBXILVAL);
  uint8_t id[64];
  EXPECT_MODBUS_ERROR(modbus_report_slave_id(ctx, sizeof(id), id), EMBXILFUN);
  EXPECT_MODBUS_ERROR(raw(ctx, {1, 0x41, 0, 1}), EMBXILFUN);
  EXPECT_EQ(modbus_read_registers(ctx, 0, 1, regs), 1);
}

TEST_F(SimRtu, OtherSlavesGetNoReply) {
  modbus_t* ctx = open(2);
  ASSERT_NE(ctx, nullptr);
  modbus_set_response_timeout(ctx, 0, 300000);
  uint16_t v;
  EXPECT_MODBUS_ERROR(modbus_read_registers(ctx, 0, 1, &v), ETIMEDOUT);
  modbus_set_slave(ctx, 1);
  modbus_set_response_timeout(ctx, 3, 0);
  EXPECT_EQ(modbus_read_registers(ctx, 0, 1, &v), 1);
}

// Raw telegrams on the master's end of the line.
class SimRtuRaw : public SimRtu {
 protected:
  void SetUp() override {
    SimRtu::SetUp();
    if (HasFatalFailure()) return;
    fd = ::open(line.b().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    struct termios t;
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
  }
  void TearDown() override {
    if (fd >= 0) close(fd);
    SimRtu::TearDown();
  }

  void send(std::vector<uint8_t> frame, bool crc = true) {
    if (crc) {
      unsigned short c = otModbus::crc16(frame.data(), (int)frame.size());
      frame.push_back((uint8_t)(c & 0xFF));
      frame.push_back((uint8_t)(c >> 8));
    }
    ASSERT_EQ(write(fd, frame.data(), frame.size()), (ssize_t)frame.size());
  }

  // What arrives within ms, until the line has been quiet for 150 ms.
  std::vector<uint8_t> receive(int ms) {
    std::vector<uint8_t> got;
    long long end = modbussim::nowMs() + ms;
    for (;;) {
      long long left = end - modbussim::nowMs();
      int wait = got.empty() ? (int)std::max(0LL, left) : 150;
      struct pollfd p = {fd, POLLIN, 0};
      if (poll(&p, 1, wait) <= 0) break;
      uint8_t buf[256];
      ssize_t n = read(fd, buf, sizeof(buf));
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

  std::vector<uint8_t> withCrc(std::vector<uint8_t> frame) {
    unsigned short c = otModbus::crc16(frame.data(), (int)frame.size());
    frame.push_back((uint8_t)(c & 0xFF));
    frame.push_back((uint8_t)(c >> 8));
    return frame;
  }

  int fd = -1;
};

TEST_F(SimRtuRaw, DamagedTelegramsAreDroppedAndTheNextOneIsServed) {
  // A wrong CRC, on a request and on an unknown function: no reply.
  send({1, 3, 0, 0, 0, 1, 0x00, 0x00}, false);
  EXPECT_TRUE(receive(500).empty());
  send({1, 0x41, 0, 1, 0xDE, 0xAD}, false);
  EXPECT_TRUE(receive(500).empty());
  // The next good telegram is answered.
  send({1, 3, 0, 0, 0, 1});
  EXPECT_EQ(receive(2000), withCrc({1, 3, 2, 0, 0}));
  // An unknown function with a good CRC gets exception 1.
  send({1, 0x41, 0, 1});
  EXPECT_EQ(receive(2000), withCrc({1, 0xC1, 1}));
  // A telegram cut short is dropped without a reply; the line recovers.
  send({1, 16, 0, 0, 0, 2, 4, 0}, false);
  EXPECT_TRUE(receive(1500).empty());
  send({1, 4, 0, 2, 0, 1});
  EXPECT_EQ(receive(2000), withCrc({1, 4, 2, 0x01, 0x2C}));
}

TEST_F(SimRtuRaw, BroadcastWritesAreCarriedOutWithoutReply) {
  send({0, 6, 0, 5, 0x02, 0x2B});
  EXPECT_TRUE(receive(500).empty());
  send({0, 16, 0, 6, 0, 2, 4, 0, 1, 0, 2});
  EXPECT_TRUE(receive(500).empty());
  // A read cannot be broadcast: dropped.
  send({0, 3, 0, 5, 0, 1});
  EXPECT_TRUE(receive(500).empty());
  send({1, 3, 0, 5, 0, 3});
  EXPECT_EQ(receive(2000), withCrc({1, 3, 6, 0x02, 0x2B, 0, 1, 0, 2}));
}

}  // namespace
