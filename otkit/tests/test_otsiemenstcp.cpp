// otSiemensTCP: frames built and checked on buffers, and whole sessions against a scripted
// ISO-on-TCP peer on loopback.
#include "otsiemenstcp.h"

#include "testutil.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes hex(const std::string& h) {
  Bytes b;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    b.push_back((unsigned char)strtol(h.substr(i, 2).c_str(), nullptr, 16));
  return b;
}

const Bytes kSetupJob = hex("0300001902f08032010000ccc100080000f0000001000103c0");
const Bytes kSetupAck = hex("0300001b02f080320300000000000800000000f0000001000101e0");
const Bytes kConnectConfirm = hex("0300001611d00001000100c0010ac1020100c2020102");
// A 32-byte read of DB10 from byte 0 as seen on the wire (the PDU reference 0x0100 aside).
const Bytes kReadDb10 = hex("0300001f02f080320100000100000e00000401120a10020020000a84000000");
const std::string kHint = " \xc2\xa0 \xc2\xa0 \xc2\xa0 \xc2\xa0 \xc2\xa0";
const std::string kDbMessage = " > Error: Trying to access a DB that does not exist\n" + kHint +
                               "Please, check that DB is set. \xc2\xa0 (error code: 10 (0x0a))\n";

// S7 read reply payload: return code, transport size, length field, data.
Bytes readReply(int code, int ts, int lenfield, const Bytes& data) {
  Bytes p = hex("02f080320300000000000200000000");
  p[12] = (unsigned char)(data.size() + 4);
  Bytes item = {0x04,
                0x01,
                (unsigned char)code,
                (unsigned char)ts,
                (unsigned char)(lenfield >> 8),
                (unsigned char)lenfield};
  p.insert(p.end(), item.begin(), item.end());
  p.insert(p.end(), data.begin(), data.end());
  return p;
}
Bytes writeReply(const Bytes& codes) {
  Bytes p = hex("02f080320300000000000200000000");
  p.push_back(0x05);
  p.push_back((unsigned char)codes.size());
  p.insert(p.end(), codes.begin(), codes.end());
  return p;
}
Bytes tpkt(const Bytes& payload) {
  Bytes u = {3, 0, (unsigned char)((payload.size() + 4) >> 8), (unsigned char)(payload.size() + 4)};
  u.insert(u.end(), payload.begin(), payload.end());
  return u;
}

// Captures what this process writes to standard error (descriptor 2) while it lives.
class CaptureStderr {
 public:
  CaptureStderr() {
    fflush(stderr);
    char name[] = "/tmp/otkit-stderr-XXXXXX";
    fd_ = mkstemp(name);
    if (fd_ >= 0) unlink(name);
    saved_ = dup(2);
    dup2(fd_, 2);
  }
  ~CaptureStderr() { text(); }
  std::string text() {
    if (saved_ >= 0) {
      fflush(stderr);
      dup2(saved_, 2);
      close(saved_);
      saved_ = -1;
    }
    std::string out;
    if (fd_ < 0) return out;
    lseek(fd_, 0, SEEK_SET);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd_, buf, sizeof(buf))) > 0)
      out.append(buf, (size_t)n);
    close(fd_);
    fd_ = -1;
    return out;
  }

 private:
  int fd_ = -1;
  int saved_ = -1;
};

// A PLC stand-in: listens on a kernel-chosen loopback port and runs a script in a thread.
class Peer {
 public:
  Peer() {
    ls_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(ls_, (sockaddr*)&a, sizeof(a));
    listen(ls_, 5);
    socklen_t l = sizeof(a);
    getsockname(ls_, (sockaddr*)&a, &l);
    port_ = ntohs(a.sin_port);
  }
  ~Peer() {
    join();
    closeConn();
    close(ls_);
  }
  int port() const { return port_; }
  void run(std::function<void(Peer&)> script) {
    thread_ = std::thread([this, script] { script(*this); });
  }
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  bool accept() {
    closeConn();
    pollfd p{ls_, POLLIN, 0};
    if (poll(&p, 1, 10000) != 1) return false;
    c_ = ::accept(ls_, nullptr, nullptr);
    return c_ >= 0;
  }
  void closeConn() {
    if (c_ >= 0) close(c_);
    c_ = -1;
  }
  // Exactly n bytes, or fewer when the client closes or stays silent for timeout ms.
  Bytes recv(size_t n, int timeout = 5000) {
    Bytes b(n);
    size_t got = 0;
    while (got < n) {
      pollfd p{c_, POLLIN, 0};
      if (poll(&p, 1, timeout) != 1) break;
      ssize_t r = ::recv(c_, b.data() + got, n - got, 0);
      if (r <= 0) break;
      got += (size_t)r;
    }
    b.resize(got);
    return b;
  }
  Bytes recvUnit() {
    Bytes h = recv(4);
    if (h.size() != 4) return h;
    Bytes r = recv((size_t)((h[2] << 8) | h[3]) - 4);
    h.insert(h.end(), r.begin(), r.end());
    return h;
  }
  void send(const Bytes& b) { ::send(c_, b.data(), b.size(), MSG_NOSIGNAL); }
  // Accepts a client and checks its connect block and setup job byte for byte.
  void handshake(const Bytes& connect_block) {
    ASSERT_TRUE(accept());
    EXPECT_EQ(recv(22), connect_block);
    send(kConnectConfirm);
    EXPECT_EQ(recv(25), kSetupJob);
    send(kSetupAck);
  }

 private:
  int ls_ = -1, c_ = -1, port_ = 0;
  std::thread thread_;
};

Bytes connectBlock(otSiemensTCP& plc) {
  Bytes cb(22);
  plc.buildConnectBlock(cb.data());
  return cb;
}

class SiemensSession : public ::testing::Test {
 protected:
  Peer peer;
  otSiemensTCP plc{"127.0.0.1", otSiemensTCP::S7_300, 0, 2, 3};
  void SetUp() override { plc.setPort(peer.port()); }
  Bytes cb() { return connectBlock(plc); }
};

}  // namespace

TEST(SiemensConnectBlock, PerTypeOverridesAndCustom) {
  struct {
    int type;
    const char* block;
  } rows[] = {
      {otSiemensTCP::S7_200, "0300001611e00000000100c1024d57c2024d57c00109"},
      {otSiemensTCP::S7_300, "0300001611e00000000100c1020100c2020102c00109"},
      {otSiemensTCP::S7_400, "0300001611e00000000100c1020100c2020103c00109"},
      {otSiemensTCP::S5, "0300001611e00000000100c1020100c2020001c00109"},
      {otSiemensTCP::S7_1200, "0300001611e00000000100c1020100c2020001c00109"},
      {otSiemensTCP::LOGO, "0300001611e00000000100c1020100c2020100c00109"},
      {7, "0300001611e00000000100c00109c1020200c2020200"},
      {42, "0300001611e00000000100c1020100c2020001c00109"},
  };
  for (const auto& r : rows) {
    otSiemensTCP plc("127.0.0.1", r.type, 0, -1, -1);
    EXPECT_EQ(connectBlock(plc), hex(r.block)) << "type " << r.type;
  }
  otSiemensTCP plc("127.0.0.1", otSiemensTCP::S7_300, 0, 2, 3);
  EXPECT_EQ(connectBlock(plc), hex("0300001611e00000000100c1020100c2020203c00109"));
  Bytes def(22), got(22);
  EXPECT_EQ(plc.getDefaultConnectBlock(def.data()), 22);
  EXPECT_EQ(def, hex("0300001611e00000000100c1020100c2020001c00109"));
  Bytes custom = hex("0300001611e00000000100c1021000c2021103c00109");
  EXPECT_EQ(plc.setConnectBlock(custom.data()), 0);
  EXPECT_EQ(connectBlock(plc), custom);  // overrides ignored
  plc.getConnectBlock(got.data());
  EXPECT_EQ(got, custom);
}

TEST(SiemensConnectBlock, AreaCodes) {
  otSiemensTCP s7("h", otSiemensTCP::S7_300), s7200("h", otSiemensTCP::S7_200);
  EXPECT_EQ(s7.getOrg(otSiemensTCP::ORG_DB), 0x84);
  EXPECT_EQ(s7.getOrg(otSiemensTCP::ORG_M), 0x83);
  EXPECT_EQ(s7.getOrg(otSiemensTCP::ORG_E), 0x81);
  EXPECT_EQ(s7.getOrg(otSiemensTCP::ORG_A), 0x82);
  EXPECT_EQ(s7.getOrg(otSiemensTCP::ORG_PEPA), 0x80);
  EXPECT_EQ(s7.getOrg(otSiemensTCP::ORG_Z), 0x1C);
  EXPECT_EQ(s7.getOrg(otSiemensTCP::ORG_T), 0x1D);
  EXPECT_EQ(s7.getOrg(99), 0x83);
  EXPECT_EQ(s7200.getOrg(otSiemensTCP::ORG_Z), 0x1E);
  EXPECT_EQ(s7200.getOrg(otSiemensTCP::ORG_T), 0x1F);
}

TEST(SiemensJobs, ReadJob) {
  Bytes p(2048);
  ASSERT_EQ(otSiemensTCP::buildReadJob(3, 0x84, 10, 4, 32, p.data()), 27);
  EXPECT_EQ(Bytes(p.begin() + 15, p.begin() + 27), hex("120a10020020000a84000020"));
  ASSERT_EQ(otSiemensTCP::buildReadJob(3, 0x84, 10, 0, 32, p.data()), 27);
  Bytes expect(kReadDb10.begin() + 4, kReadDb10.end());
  expect[7] = 0;  // we send PDU reference 0
  EXPECT_EQ(Bytes(p.begin(), p.begin() + 27), expect);
  // byte 10000 = bit address 80000 = 01 38 80
  ASSERT_EQ(otSiemensTCP::buildReadJob(1, 0x84, 1, 10000, 2, p.data()), 27);
  EXPECT_EQ(Bytes(p.begin() + 24, p.begin() + 27), hex("013880"));
  EXPECT_EQ(otSiemensTCP::buildReadJob(3, 0x84, 1, 0, 0, p.data()), -1);
  EXPECT_EQ(otSiemensTCP::buildReadJob(3, 0x84, 1, 0, 2028, p.data()), -1);
  EXPECT_EQ(otSiemensTCP::buildReadJob(3, 0x84, 70000, 0, 2, p.data()), -1);
}

TEST(SiemensJobs, WriteJobs) {
  Bytes p(2048), data(300, 0xAB);
  ASSERT_EQ(otSiemensTCP::buildWriteJob(0x84, 5, 2, 300, data.data(), 2, p.data()), 331);
  EXPECT_EQ(Bytes(p.begin(), p.begin() + 31), hex("02f080320100000000000e0130"
                                                  "0501120a1002012c000584000010"
                                                  "00040960"));
  EXPECT_EQ(p[31], 0xAB);
  EXPECT_EQ(p[330], 0xAB);
  Bytes bits = {1, 0, 7};
  // bits 255..257: the address carries into the middle byte
  ASSERT_EQ(otSiemensTCP::buildWriteJob(0x83, 0, 255, 3, bits.data(), 1, p.data()), 14 + 54);
  EXPECT_EQ(Bytes(p.begin(), p.begin() + 68), hex("02f080320100000000"
                                                  "0026"
                                                  "0011"
                                                  "0503"
                                                  "120a1001000100008300"
                                                  "00ff"
                                                  "120a1001000100008300"
                                                  "0100"
                                                  "120a1001000100008300"
                                                  "0101"
                                                  "0003000101"
                                                  "00"
                                                  "0003000100"
                                                  "00"
                                                  "0003000101"));
  EXPECT_EQ(otSiemensTCP::buildWriteJob(0x84, 1, 0, 2018, data.data(), 2, p.data()), -1);
  Bytes many(114, 1);
  EXPECT_EQ(otSiemensTCP::buildWriteJob(0x84, 1, 0, 114, many.data(), 1, p.data()), -1);
  EXPECT_EQ(otSiemensTCP::buildWriteJob(0x84, 1, 0, 113, many.data(), 1, p.data()), 2048);
  EXPECT_EQ(otSiemensTCP::buildWriteJob(0x84, 1, 0, 1, many.data(), 3, p.data()), -1);
}

TEST(SiemensReplies, ReadReplyChecks) {
  Bytes data(32);
  for (int i = 0; i < 32; i++)
    data[i] = (unsigned char)i;
  Bytes out(32);
  Bytes good = readReply(0xFF, 0x04, 256, data);
  EXPECT_EQ(otSiemensTCP::parseReadReply(good.data(), (int)good.size(), 32, out.data()), 32);
  EXPECT_EQ(out, data);
  Bytes octets = readReply(0xFF, 0x09, 32, data);
  EXPECT_EQ(otSiemensTCP::parseReadReply(octets.data(), (int)octets.size(), 32, out.data()), 32);
  // length field disagrees with len, or the unit is short or overlong
  EXPECT_EQ(otSiemensTCP::parseReadReply(good.data(), (int)good.size(), 16, out.data()), -1);
  Bytes lie = readReply(0xFF, 0x04, 512, data);
  EXPECT_EQ(otSiemensTCP::parseReadReply(lie.data(), (int)lie.size(), 64, out.data()), -1);
  EXPECT_EQ(otSiemensTCP::parseReadReply(good.data(), (int)good.size() - 1, 32, out.data()), -1);
  Bytes longer = good;
  longer.push_back(0);
  EXPECT_EQ(otSiemensTCP::parseReadReply(longer.data(), (int)longer.size(), 32, out.data()), -1);
  Bytes wrongfn = good;
  wrongfn[15] = 0x05;
  EXPECT_EQ(otSiemensTCP::parseReadReply(wrongfn.data(), (int)wrongfn.size(), 32, out.data()), -1);
  // a failed item carries no data
  Bytes failed = readReply(0x0A, 0x00, 4, {});
  CaptureStderr err;
  EXPECT_EQ(otSiemensTCP::parseReadReply(failed.data(), (int)failed.size(), 32, out.data()), -10);
  EXPECT_EQ(err.text(), kDbMessage);
}

TEST(SiemensReplies, WriteReplyCodesAndMessages) {
  Bytes ok = writeReply({0xFF});
  EXPECT_EQ(otSiemensTCP::parseWriteReply(ok.data(), (int)ok.size(), 4, 1), 4);
  Bytes three = writeReply({0xFF, 0xFF, 0xFF});
  EXPECT_EQ(otSiemensTCP::parseWriteReply(three.data(), (int)three.size(), 3, 3), 3);
  EXPECT_EQ(otSiemensTCP::parseWriteReply(three.data(), (int)three.size(), 3, 1), -1);
  EXPECT_EQ(otSiemensTCP::parseWriteReply(ok.data(), 17, 4, 1), -1);
  struct {
    int code;
    std::string text;
  } rows[] = {
      {5, " > Error: Trying to access an address that does not exist.\n" + kHint +
              "Please, check the address range. (error code: 5 (0x05))\n"},
      {7, " > Error: the write data size doesn't fit item size\n" + kHint +
              "Please, check the data size. \xc2\xa0 \xc2\xa0 (error code: 7 (0x07))\n"},
      {10, kDbMessage},
      {0x42,
       " > Error: unknown error \xc2\xa0(c\xc3\xb3"
       "digo 42!=0xff)\n"},
      {0x00,
       " > Error: unknown error \xc2\xa0(c\xc3\xb3"
       "digo 0!=0xff)\n"},
  };
  for (const auto& r : rows) {
    Bytes rep = writeReply({(unsigned char)r.code});
    CaptureStderr err;
    // code 0 must not read as a zero result
    EXPECT_EQ(otSiemensTCP::parseWriteReply(rep.data(), (int)rep.size(), 4, 1),
              r.code ? -r.code : -1);
    EXPECT_EQ(err.text(), r.text) << r.code;
  }
}

TEST_F(SiemensSession, ReadAndWriteOnTheWire) {
  Bytes data(32, 0x5A);
  peer.run([&](Peer& p) {
    p.handshake(cb());
    Bytes job = p.recvUnit();
    Bytes expect = kReadDb10;
    expect[11] = 0;
    EXPECT_EQ(job, expect);
    p.send(tpkt(readReply(0xFF, 0x04, 256, data)));
    EXPECT_EQ(p.recvUnit(), tpkt(hex("02f080320100000000000e0006"
                                     "0501120a10020002000584000050"
                                     "0004001001ff")));
    p.send(tpkt(writeReply({0xFF})));
    EXPECT_EQ(p.recvUnit().size(), 4u + 27);
    p.send(tpkt(readReply(0x0A, 0x00, 4, {})));
  });
  EXPECT_EQ(cb(), hex("0300001611e00000000100c1020100c2020203c00109"));
  Bytes out(32);
  EXPECT_EQ(plc.fetch(otSiemensTCP::ORG_DB, 10, 0, 32, out.data()), 32);
  EXPECT_EQ(out, data);
  Bytes w = {0x01, 0xFF};
  EXPECT_EQ(plc.write(otSiemensTCP::ORG_DB, 5, 10, 2, w.data(), 2), 2);
  CaptureStderr err;
  EXPECT_EQ(plc.fetch(otSiemensTCP::ORG_DB, 99, 0, 32, out.data()), -10);
  EXPECT_EQ(err.text(), kDbMessage);
  EXPECT_EQ(plc.isConnected(), 1);  // an item error leaves the connection usable
  peer.join();
}

TEST_F(SiemensSession, CustomConnectBlockAndOversizedWrite) {
  Bytes custom = hex("0300001611e00000000100c1021000c2021103c00109");
  plc.setConnectBlock(custom.data());
  peer.run([&](Peer& p) {
    p.handshake(custom);
    EXPECT_TRUE(p.recv(1, 300).empty());  // no job for an oversized write
  });
  Bytes big(2049);
  EXPECT_EQ(plc.write(otSiemensTCP::ORG_DB, 1, 0, 2049, big.data(), 2), -1);
  EXPECT_EQ(plc.isConnected(), 1);
  peer.join();
}

// Each bad reply ends the connection; the next call connects again and succeeds.
TEST_F(SiemensSession, BadRepliesDisconnectAndReconnect) {
  std::vector<Bytes> bad = {
      hex("030000030000"),                          // TPKT shorter than its header
      hex("0300090102f080"),                        // payload above the PDU maximum
      hex("450000180000000000000000000000000000"),  // garbage
      hex("0300001002f080"),                        // overlong: 12 bytes promised, 3 sent
  };
  Bytes data(4, 0x11);
  peer.run([&](Peer& p) {
    for (const Bytes& b : bad) {
      p.handshake(cb());
      p.recvUnit();
      p.send(b);
      p.recv(1, 3000);  // until the client hangs up
    }
    p.handshake(cb());
    p.recvUnit();
    p.send(tpkt(readReply(0xFF, 0x04, 32, data)));
  });
  Bytes out(4);
  otSetDebugPrintf(1);
  ottest::CaptureStdout debug;
  for (size_t i = 0; i < bad.size(); i++) {
    EXPECT_EQ(plc.fetch(otSiemensTCP::ORG_M, 0, 0, 4, out.data()), -1) << i;
    EXPECT_EQ(plc.isConnected(), 0) << i;
  }
  std::string text = debug.text();
  otSetDebugPrintf(0);
  for (const char* line : {"read_iso:len==-1 from iso header is negative -> disconnecting\n",
                           "read_iso:len==2301 from iso header is larger than max PDU size -> "
                           "disconnecting\n",
                           "read_iso:header vesion mismatch version==69 -> disconnecting\n",
                           "read_iso:read buf got timeout -> disconnecting\n", "connect success\n",
                           "write_iso() len=27\n02,f0,80,32,"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  EXPECT_EQ(plc.fetch(otSiemensTCP::ORG_M, 0, 0, 4, out.data()), 4);
  EXPECT_EQ(out, data);
  peer.join();
}

TEST_F(SiemensSession, ConnectGivesUpAfterThreeAttempts) {
  int accepted = 0;
  peer.run([&](Peer& p) {
    while (p.accept()) {
      accepted++;
      p.recv(22);
      p.closeConn();
      if (accepted == 3) break;
    }
  });
  Bytes out(4);
  EXPECT_EQ(plc.fetch(otSiemensTCP::ORG_M, 0, 0, 4, out.data()), -1);
  peer.join();
  EXPECT_EQ(accepted, 3);
  EXPECT_EQ(plc.isConnected(), 0);
}

class SiemensFetchWrite : public ::testing::Test {
 protected:
  Peer peer;
  otSiemensTCP plc{"127.0.0.1", otSiemensTCP::S7_400, 1, -1, -1};
  void SetUp() override { plc.setPort(peer.port()); }
  static Bytes ack(int error) {
    Bytes a =
        hex("03000014"
            "53351001030403080000000000000000");
    a[4 + 8] = (unsigned char)error;
    return a;
  }
};

TEST_F(SiemensFetchWrite, HeadersAndAcknowledgements) {
  Bytes data = {1, 2, 3, 4};
  peer.run([&](Peer& p) {
    p.handshake(connectBlock(plc));
    EXPECT_EQ(p.recv(24), hex("03000018"
                              "5335100103030308010a000c0004ff02"
                              "01020304"));
    p.send(ack(0));
    EXPECT_EQ(p.recv(24), hex("03000018"
                              "5335100103030308020000000004ff02"
                              "01020304"));
    p.send(ack(3));  // error field set
    EXPECT_EQ(p.recv(20), hex("03000014"
                              "5335100103050308010a000c0004ff02"));
    Bytes a = ack(0);
    a[3] = 0x18;
    a.insert(a.end(), {9, 8, 7, 6});
    p.send(a);
    EXPECT_EQ(p.recv(20).size(), 20u);
    p.send(ack(0));  // no data behind it, although four bytes were asked for
  });
  EXPECT_EQ(plc.write(otSiemensTCP::ORG_DB, 10, 12, 4, data.data(), 2), 4);
  EXPECT_EQ(plc.write(otSiemensTCP::ORG_M, 0, 0, 4, data.data(), 2), -1);
  EXPECT_EQ(plc.isConnected(), 1);
  EXPECT_EQ(plc.write(otSiemensTCP::ORG_M, 0, 0, 4, data.data(), 1), -1);    // bits: not here
  EXPECT_EQ(plc.write(otSiemensTCP::ORG_M, 0, 300, 4, data.data(), 2), -1);  // no truncation
  Bytes out(4);
  EXPECT_EQ(plc.fetch(otSiemensTCP::ORG_DB, 10, 12, 4, out.data()), 4);
  EXPECT_EQ(out, hex("09080706"));
  EXPECT_EQ(plc.fetch(otSiemensTCP::ORG_DB, 10, 12, 4, out.data()), -1);
  EXPECT_EQ(plc.isConnected(), 0);
  peer.join();
}
