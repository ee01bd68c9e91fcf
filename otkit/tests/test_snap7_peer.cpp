// The snap7 S7 server as a test peer: it answers a plain hand-built client as a real S7-300
// would, and it can be restarted under a connected client.
#include <gtest/gtest.h>

#include "s7frames.h"
#include "snap7server.h"

using namespace s7frames;

namespace {

class Snap7Peer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.ok()) << server.error(); }
  void TearDown() override {
    if (fd >= 0) close(fd);
  }
  ottest::Snap7Server server;
  int fd = -1;
};

TEST_F(Snap7Peer, AnswersConnectSetupAndReadsLikeAPlc) {
  std::string request = connectRequest();
  ASSERT_EQ(hex(request), "0300001611e00000000100c1020100c2020102c00109");
  fd = connectTcp(server.port());
  ASSERT_GE(fd, 0);
  std::string cc = transact(fd, request);
  ASSERT_GE(cc.size(), 7u) << hex(cc);
  EXPECT_EQ(hex(cc.substr(0, 4)), "03000016");
  EXPECT_EQ(byteAt(cc, 5), 0xD0u) << "connection confirm expected: " << hex(cc);

  // The default job asks for 960 bytes (granted, see the next test). The peer echoes the PDU
  // reference; with reference 0 and 480 bytes it answers exactly as captured from snap7.
  ASSERT_EQ(hex(setupCommunication()), "0300001902f08032010000ccc100080000f0000001000103c0");
  EXPECT_EQ(hex(transact(fd, setupCommunication(0x0000, 480))),
            "0300001b02f080320300000000000800000000f0000001000101e0");

  std::string readJob = readVar(kDB, 10, 0, 32);
  ASSERT_EQ(hex(readJob), "0300001f02f080320100000100000e00000401120a10020020000a84000000");
  std::string reply = transact(fd, readJob);
  std::string data;
  for (int i = 0; i < 32; ++i)
    data.push_back((char)i);
  ASSERT_EQ(reply.size(), 25u + 32u) << hex(reply);
  EXPECT_EQ(byteAt(reply, kRosctr), 0x03u);
  EXPECT_EQ(get16(reply, kPduRef), 0x0100u);
  EXPECT_EQ(get16(reply, kErrorClass), 0u);
  EXPECT_EQ(hex(reply.substr(kParams, 6)), "0401ff040100");
  EXPECT_EQ(reply.substr(25), data);

  // A DB that is not there: item return code 0x0A (object does not exist) and no data bytes
  // after the 4-byte item header (snap7 still puts 4 into the item's length field).
  reply = transact(fd, readVar(kDB, 99, 0, 4, 0x0101));
  EXPECT_EQ(get16(reply, kPduRef), 0x0101u);
  EXPECT_EQ(byteAt(reply, kParams + 2), 0x0Au) << hex(reply);
  EXPECT_EQ(reply.size(), kParams + 2 + 4) << hex(reply);
}

TEST_F(Snap7Peer, ServesEveryAreaAndSurvivesARestart) {
  unsigned pdu = 0;
  fd = openSession(server.port(), &pdu);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(pdu, 960u);
  const struct {
    Area area;
    unsigned db;
    TransportSize size;
  } items[] = {{kDB, 1, kByte},      {kInputs, 0, kByte},  {kOutputs, 0, kByte},
               {kMarkers, 0, kByte}, {kTimers, 0, kTimer}, {kCounters, 0, kCounter}};
  for (const auto& item : items) {
    std::string reply = transact(fd, readVar(item.area, item.db, 0, 2, 0x0200, item.size));
    EXPECT_EQ(byteAt(reply, kParams + 2), 0xFFu) << "area " << (int)item.area << ": " << hex(reply);
  }

  int oldPort = server.port();
  ASSERT_TRUE(server.restart()) << server.error();
  EXPECT_EQ(server.port(), oldPort);
  // The old connection is gone: no answer, or the server ends it.
  EXPECT_EQ(transact(fd, readVar(kDB, 10, 0, 4), 1000), "");
  close(fd);
  fd = openSession(server.port());
  ASSERT_GE(fd, 0);
  std::string reply = transact(fd, readVar(kDB, 10, 100, 4));
  EXPECT_EQ(hex(reply.substr(kParams)), "0401ff04002064656667") << hex(reply);

  int status = server.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
}

}  // namespace
