#include "otudpsocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "testutil.h"

namespace {

// Binds a receiver to a free port chosen by the kernel and returns it.
int bindFree(otUdpSocket& udp) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(udp.s, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0) return -1;
  socklen_t len = sizeof(sin);
  getsockname(udp.s, reinterpret_cast<sockaddr*>(&sin), &len);
  return ntohs(sin.sin_port);
}

}  // namespace

TEST(otIpAdrCompare, PortIsIgnoredAddressIsNot) {
  otIpAdr a, b, c;
  EXPECT_EQ(a.setAdr("127.0.0.1", 1000), 0);
  EXPECT_EQ(b.setAdr("localhost", 2000), 0);
  EXPECT_EQ(c.setAdr("127.0.0.2", 1000), 0);
  EXPECT_EQ(a == b, 1);
  EXPECT_EQ(a == c, 0);
  EXPECT_EQ(ntohs(a.address.sin_port), 1000);
  EXPECT_EQ(a.setAdr("127.0.0.1", 65536), -1);
  EXPECT_EQ(a.setAdr("127.0.0.1", -1), -1);
  ottest::CaptureStdout out;
  EXPECT_EQ(a.setAdr("host.invalid", 1), -1);
  EXPECT_EQ(out.text(), "otIpAdr::setAdr() could not gethostbyname(host.invalid)\n");
  EXPECT_EQ(ntohs(a.address.sin_port), 1000);  // unchanged by the failures
}

TEST(otUdpDatagrams, PrintfSendsTheTerminatingNul) {
  otUdpSocket rx, tx;
  int port = bindFree(rx);
  ASSERT_GT(port, 0);
  otIpAdr to;
  ASSERT_EQ(to.setAdr("127.0.0.1", port), 0);
  EXPECT_EQ(tx.printf(&to, "%s", "abc"), 4);
  char buf[16];
  memset(buf, 'z', sizeof(buf));
  otIpAdr from;
  EXPECT_EQ(rx.recvfrom(buf, sizeof(buf), &from, 1000), 4);
  EXPECT_EQ(std::string(buf, 4), std::string("abc\0", 4));
  EXPECT_EQ(from == to, 1);
  // The sender's address lets the receiver answer.
  EXPECT_EQ(rx.sendto("ok", 2, &from), 2);
  EXPECT_EQ(tx.recvfrom(buf, sizeof(buf), nullptr, 1000), 2);
}

TEST(otUdpDatagrams, WaitingAndTimeLimits) {
  otUdpSocket rx;
  ASSERT_GT(bindFree(rx), 0);
  char buf[8];
  EXPECT_EQ(rx.select(-1), -1);
  EXPECT_EQ(rx.select(50), 0);
  EXPECT_EQ(rx.recvfrom(buf, sizeof(buf), nullptr, 50), -1);
  EXPECT_EQ(rx.recvfrom(buf, sizeof(buf), nullptr, 0), -1);
}

TEST(otUdpDatagrams, BindChecksThePort) {
  otUdpSocket a, b;
  EXPECT_EQ(a.bind(70000), -1);
  EXPECT_EQ(a.bind(-1), -1);
  EXPECT_EQ(a.bind(0), 0);
  sockaddr_in sin{};
  socklen_t len = sizeof(sin);
  getsockname(a.s, reinterpret_cast<sockaddr*>(&sin), &len);
  int port = ntohs(sin.sin_port);
  ottest::CaptureStdout out;
  EXPECT_EQ(b.bind(port), -1);
  EXPECT_EQ(out.text(), "otUdpSocket::setAdr() bind() failed port=" + std::to_string(port) + "\n");
  EXPECT_EQ(b.setSockopt(SO_BROADCAST), 0);
  int on = 1;
  EXPECT_EQ(b.setSockopt(SOL_SOCKET, SO_REUSEADDR, &on, 0), -1);
  EXPECT_EQ(b.setSockopt(SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)), 0);
}

TEST(otUdpDatagrams, DebugTraceShowsEveryByte) {
  ottest::CaptureStdout out;
  {
    otUdpSocket rx(1), tx(1);
    int port = bindFree(rx);
    otIpAdr to;
    to.setAdr("127.0.0.1", port);
    const unsigned char data[] = {0x01, 0xab, 0x00};
    tx.sendto(data, 3, &to);
    unsigned char buf[8];
    rx.recvfrom(buf, sizeof(buf), nullptr, 1000);
  }
  EXPECT_EQ(out.text(),
            "otUdpSocket() constructor\n"
            "otUdpSocket() constructor\n"
            "otUdpSocket()::sendto() ret=3 data=[0x1,0xab,0x0]\n"
            "otUdpSocket()::recvfrom() ...\n"
            "otUdpSocket()::recvfrom() ret=3 data=[0x1,0xab,0x0]\n");
}
