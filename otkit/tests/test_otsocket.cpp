#include "otsocket.h"
#include "otpoll.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "testutil.h"

namespace {

// A port that was free a moment ago (the kernel's choice for an ephemeral bind).
int freePort(int family = AF_INET) {
  int fd = socket(family, SOCK_STREAM, 0);
  int port = -1;
  if (family == AF_INET) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    socklen_t len = sizeof(sin);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
      port = ntohs(sin.sin_port);
  } else {
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    socklen_t len = sizeof(sin6);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sin6), sizeof(sin6)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&sin6), &len) == 0)
      port = ntohs(sin6.sin6_port);
  }
  close(fd);
  return port;
}

double msSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

// A connected pair: a server object that accepted, and a client object.
class SocketPair : public ::testing::Test {
 protected:
  void connectPair(int ipversion = 4, const char* host = "127.0.0.1") {
    port = freePort(ipversion == 6 ? AF_INET6 : AF_INET);
    server.reset(new otSocket(ipversion == 6 ? "::" : "", port, 0));
    server->setIPVersion(ipversion);
    std::atomic<int> accepted{-100};
    std::thread t([&] { accepted = server->connect(); });
    client.reset(new otSocket(host, port, 1));
    client->setIPVersion(ipversion);
    int ret = -1;
    for (int i = 0; i < 100 && (ret = client->connect()) < 0; i++)
      otsleep(20);
    t.join();
    ASSERT_GE(ret, 0);
    ASSERT_GE(accepted, 0);
    ASSERT_EQ(server->s, accepted);
  }
  int port = 0;
  std::unique_ptr<otSocket> server, client;
};

}  // namespace

TEST(otSocketConnect, RejectsPortsOutOfRangeWithoutTheNetwork) {
  otSocket a("127.0.0.1", 0, 1);
  EXPECT_EQ(a.connect(), -7);
  otSocket b("127.0.0.1", 70000, 1);
  EXPECT_EQ(b.connect(), -7);
  otSocket c("", 70000, 0);
  EXPECT_EQ(c.connect(), -7);
  EXPECT_EQ(c.os, -1);
}

TEST(otSocketConnect, ClientErrors) {
  otSocket unresolved("host.invalid", 80, 1);
  EXPECT_EQ(unresolved.connect(), -5);
  EXPECT_EQ(unresolved.isConnected(), 0);
  otSocket refused("127.0.0.1", freePort(), 1);
  EXPECT_EQ(refused.connect(), -6);
  EXPECT_EQ(refused.isConnected(), 0);
  otSocket v6("::1", freePort(AF_INET6), 1);
  v6.setIPVersion(6);
  ottest::CaptureStdout out;
  EXPECT_EQ(v6.connect(), -1);
  std::string text = out.text();
  EXPECT_EQ(text, "otSocket:tcp_connect error for ::1 port=" + std::to_string(v6.port) + "\n");
}

TEST(otSocketConnect, VersionSelectionAndOddSettings) {
  otSocket s("localhost", 1234, 1);
  EXPECT_EQ(s.getIPVersion(), 4);
  EXPECT_EQ(s.setIPVersion(5), 4);
  EXPECT_EQ(s.setIPVersion(6), 6);
  s.ot_ipversion = 5;
  ottest::CaptureStdout out;
  EXPECT_EQ(s.connect(), -1);
  EXPECT_EQ(out.text(), "otSocket:ERROR: ot_ipversion=5 not known\n");
  std::string longName(200, 'a');
  otSocket tooLong(longName.c_str(), 1234, 1);
  EXPECT_STREQ(tooLong.adr, "");
  otSocket other("x", 1234, 7);
  EXPECT_EQ(other.connect(), -1);  // neither client nor server: s unchanged
}

TEST_F(SocketPair, LinesAndBlocksOverIPv4) {
  connectPair(4);
  EXPECT_EQ(client->printf("hello %d\n", 42), 9);
  char line[64];
  EXPECT_EQ(server->readStr(line, sizeof(line), 1000), 9);
  EXPECT_STREQ(line, "hello 42\n");
  unsigned char block[256];
  for (int i = 0; i < 256; i++)
    block[i] = (unsigned char)i;
  EXPECT_EQ(server->write(block, 256), 256);
  unsigned char back[256] = {};
  EXPECT_EQ(client->read(back, 256, 1000), 256);
  EXPECT_EQ(memcmp(block, back, 256), 0);
  EXPECT_EQ(client->write(block, 0), 0);
  EXPECT_EQ(client->read(back, 0, 10), 0);
}

TEST_F(SocketPair, LinesOverIPv6Loopback) {
  connectPair(6, "::1");
  EXPECT_EQ(client->sendHxClientButtonEvent(17), 16);
  char line[64];
  EXPECT_EQ(server->readStr(line, sizeof(line), 1000), 16);
  EXPECT_STREQ(line, "QPushButton(17)\n");
  sockaddr_in6* peer = reinterpret_cast<sockaddr_in6*>(server->address);
  EXPECT_EQ(peer->sin6_family, AF_INET6);
}

TEST_F(SocketPair, TimedReadDropsAPartialBlock) {
  connectPair();
  unsigned char buf[10];
  auto t = std::chrono::steady_clock::now();
  EXPECT_EQ(server->read(buf, 10, 100), 0);  // nothing at all
  EXPECT_GE(msSince(t), 95.0);
  client->write("abcd", 4);
  EXPECT_EQ(server->read(buf, 10, 100), 0);  // 4 of 10 within the limit
  EXPECT_EQ(server->isConnected(), 1);
  // Without a limit the read waits for all ten bytes.
  std::thread late([&] {
    client->write("0123", 4);
    otsleep(100);
    client->write("456789", 6);
  });
  EXPECT_EQ(server->read(buf, 10, 0), 10);
  late.join();
  EXPECT_EQ(memcmp(buf, "0123456789", 10), 0);
}

TEST_F(SocketPair, ReadStrSplitsLongLinesAndKeepsTheRest) {
  connectPair();
  client->printf("0123456789\nsecond\nthird");
  char buf[5];
  EXPECT_EQ(server->readStr(buf, 5, 1000), 4);
  EXPECT_STREQ(buf, "0123");
  EXPECT_EQ(server->readStr(buf, 5, 1000), 4);
  EXPECT_STREQ(buf, "4567");
  EXPECT_EQ(server->readStr(buf, 5, 1000), 3);
  EXPECT_STREQ(buf, "89\n");
  char line[64];
  EXPECT_EQ(server->readStr(line, sizeof(line), 1000), 7);
  EXPECT_STREQ(line, "second\n");
  // A line that arrives in pieces is collected across them.
  std::thread rest([&] {
    otsleep(50);
    client->printf(" line\n");
  });
  EXPECT_EQ(server->readStr(line, sizeof(line), 1000), 11);
  EXPECT_STREQ(line, "third line\n");
  rest.join();
  EXPECT_EQ(server->readStr(line, sizeof(line), 50), 0);  // nothing more: time limit
  EXPECT_EQ(server->readStr(line, 1, 1000), 0);
}

TEST_F(SocketPair, HttpHeaders) {
  connectPair();
  const char* header = "POST /x HTTP/1.1\r\nHost: a\r\nContent-Length: 12\r\n\r\nbody";
  client->printf("%s", header);
  otString text("old");
  EXPECT_EQ(server->readHttpHeader(&text, 1000), 12);
  EXPECT_STREQ(text.text(), "POST /x HTTP/1.1\r\nHost: a\r\nContent-Length: 12\r\n\r\n");
  char body[5];
  EXPECT_EQ(server->read(body, 4, 1000), 4);
  client->printf("GET / HTTP/1.0\n\n");
  EXPECT_EQ(server->readHttpHeader(&text, 1000), 0);
  EXPECT_STREQ(text.text(), "GET / HTTP/1.0\n\n");
  client->printf("HTTP/1.1 200 OK\r\nServer: x\r\nContent-Length: 345\r\n\r\n");
  EXPECT_EQ(server->readHttpContentLength(1000), 345);
  client->printf("HTTP/1.1 200 OK\r\n");
  EXPECT_EQ(server->readHttpContentLength(100), -1);  // time limit before the length
  // A length that is negative or does not fit an int is refused, not passed on.
  client->printf("HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n");
  EXPECT_EQ(server->readHttpHeader(&text, 1000), -1);
  client->printf("Content-Length: -5\r\n\r\n");
  EXPECT_EQ(server->readHttpContentLength(1000), -1);
  char rest[8];
  EXPECT_EQ(server->readStr(rest, sizeof(rest), 1000), 2);  // the blank line is still queued
  // A header cut short by the time limit is not reported as complete.
  client->printf("GET / HTTP/1.0\r\nHost: a\r\n");
  EXPECT_EQ(server->readHttpHeader(&text, 100), -1);
  EXPECT_EQ(server->isConnected(), 1);
}

TEST_F(SocketPair, PeerClosingMidReadDisconnects) {
  connectPair();
  client->write("abc", 3);
  client->disconnect();
  char buf[10];
  EXPECT_EQ(server->read(buf, 10, 1000), -1);
  EXPECT_EQ(server->isConnected(), 0);
  EXPECT_EQ(server->read(buf, 10, 1000), -1);
  EXPECT_EQ(server->readStr(buf, 10, 1000), -1);
  EXPECT_EQ(server->write("x", 1), -1);
}

TEST_F(SocketPair, PeerClosingMidLineTerminatesWhatCame) {
  connectPair();
  client->write("partial", 7);
  client->disconnect();
  char buf[32];
  memset(buf, 'z', sizeof(buf));
  EXPECT_EQ(server->readStr(buf, sizeof(buf), 1000), -1);
  EXPECT_STREQ(buf, "partial");
  EXPECT_EQ(server->isConnected(), 0);
}

TEST_F(SocketPair, WritingToAClosedPeerRaisesNoSignal) {
  connectPair();
  signal(SIGPIPE, SIG_DFL);  // a SIGPIPE would end the test program
  client->disconnect();
  std::string big(65536, 'x');
  int ret = 0;
  for (int i = 0; i < 100 && ret >= 0; i++)
    ret = server->write(big.data(), (int)big.size());
  EXPECT_EQ(ret, -1);
  EXPECT_EQ(server->isConnected(), 0);
  int fd = dup(STDOUT_FILENO);
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  close(sv[1]);
  EXPECT_EQ(otScoketWrite(&sv[0], "x", 1), -1);
  EXPECT_EQ(sv[0], -1);
  EXPECT_EQ(otScoketWrite(nullptr, "x", 1), -1);
  close(fd);
}

TEST(otSocketServer, ServesSeveralPeersOneAfterAnother) {
  int port = freePort();
  otSocket server("", port, 0);
  std::thread clients([&] {
    for (int i = 0; i < 3; i++) {
      otSocket c("127.0.0.1", port, 1);
      while (c.connect() < 0)
        otsleep(10);
      c.printf("peer %d\n", i);
      char buf[8];
      c.read(buf, 1, 1000);  // wait until the server has read the line
    }
  });
  for (int i = 0; i < 3; i++) {
    int fd = server.connect();
    ASSERT_GE(fd, 0);
    otSocket peer(fd);  // takes over the accepted socket
    EXPECT_EQ(peer.getPort(), -1);
    char line[16];
    ASSERT_EQ(peer.readStr(line, sizeof(line), 2000), 7);
    EXPECT_EQ(std::string(line), "peer " + std::to_string(i) + "\n");
    peer.write("k", 1);
  }
  clients.join();
}

TEST(otSocketServer, StopWakesAServerBlockedInAccept) {
  otSocket server("", freePort(), 0);
  std::atomic<int> ret{-100};
  std::thread t([&] { ret = server.connect(); });
  otsleep(100);
  EXPECT_EQ(ret, -100);
  auto start = std::chrono::steady_clock::now();
  server.stopServer();
  t.join();
  EXPECT_EQ(ret, -4);
  EXPECT_LT(msSince(start), 1000.0);
  EXPECT_EQ(server.connect(), -4);  // stays stopped
}

TEST(otSocketServer, StopEndsTheBindRetryLoop) {
  int port = freePort();
  otSocket holder("", port, 0);
  std::thread h([&] { holder.connect(); });
  otsleep(100);
  ottest::CaptureStdout out;
  otSocket second("", port, 0);
  std::atomic<int> ret{-100};
  std::thread t([&] { ret = second.connect(); });
  otsleep(1500);
  second.stopServer();
  t.join();
  std::string text = out.text();
  holder.stopServer();
  h.join();
  EXPECT_EQ(ret, -4);
  std::string warning = "warning: could not bind to port=" + std::to_string(port) + "\n";
  ASSERT_GE(text.size(), warning.size() * 2);
  EXPECT_EQ(text.substr(0, warning.size() * 2), warning + warning);
}

TEST(otSocketServer, StopBeforeConnectReturnsAtOnce) {
  otSocket server("", freePort(), 0);
  server.stopServer();
  EXPECT_EQ(server.connect(), -4);
}

TEST_F(SocketPair, SocketOptions) {
  connectPair();
  EXPECT_EQ(client->otSetsockopt(SOL_SOCKET, SO_KEEPALIVE), 0);
  int value = 0, len = sizeof(value);
  EXPECT_EQ(client->otGetsockopt(client->s, SOL_SOCKET, SO_KEEPALIVE, &value, &len), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(client->otGetsockopt(SOL_SOCKET, SO_KEEPALIVE), 0);
  value = 0;
  EXPECT_EQ(client->otSetsockopt(client->s, SOL_SOCKET, SO_KEEPALIVE, &value, sizeof(value)), 0);
}

TEST_F(SocketPair, ReceiveWithinATimeLimitAlsoAfterAReconnect) {
  connectPair();
  char buf[16];
  auto t = std::chrono::steady_clock::now();
  EXPECT_EQ(client->recvWithin(buf, sizeof(buf), 80), -2);
  EXPECT_GE(msSince(t), 75.0);
  EXPECT_EQ(client->recvWithin(buf, sizeof(buf), 0), -2);  // only what is there: nothing
  server->write("abc", 3);
  EXPECT_EQ(client->recvWithin(buf, sizeof(buf), 1000), 3);
  EXPECT_EQ(memcmp(buf, "abc", 3), 0);
  EXPECT_EQ(client->isConnected(), 1);

  // The new connection gets the limit of its own: a socket option of the old one would be
  // gone with it, and the wait would last until the peer closes.
  std::atomic<int> accepted{-100};
  std::thread again([&] { accepted = server->connect(); });
  ASSERT_GE(client->connect(), 0);
  again.join();
  ASSERT_GE(accepted, 0);
  std::thread closer([&] {
    otsleep(600);
    server->disconnect();
  });
  t = std::chrono::steady_clock::now();
  EXPECT_EQ(client->recvWithin(buf, sizeof(buf), 80), -2);
  EXPECT_LT(msSince(t), 400.0);
  EXPECT_EQ(client->recvWithin(buf, sizeof(buf), -1), 0);  // no limit: until the peer closes
  closer.join();
}

TEST(otSpinWait, SpinsOnlyWhileTheWaitsAreShort) {
  // Three looks fit the budget unless the thread loses its core meanwhile: tried again then.
  otSpinWait spin;
  int looks = 0;
  bool found = false;
  for (int i = 0; i < 100 && !found; i++) {
    spin = otSpinWait();
    looks = 0;
    found = spin.spin([&] { return ++looks == 3; });
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(looks, 3);
  // A spin that finds nothing gives up after its budget and turns spinning off...
  looks = 0;
  auto t = std::chrono::steady_clock::now();
  EXPECT_FALSE(spin.spin([&] { return ++looks < 0; }));
  EXPECT_GE(msSince(t) * 1000, otSpinWait::kBudgetUs - 1.0);  // the clock counts whole us
  EXPECT_GT(looks, 0);
  otsleep(5);
  spin.woke();  // a wait of 5 ms
  looks = 0;
  EXPECT_FALSE(spin.spin([&] { return ++looks > 0; }));
  EXPECT_EQ(looks, 0);
  // ... until a blocking wait comes within the budget (tried again should the thread lose its
  // core between the two calls, which makes that wait a long one).
  bool on = false;
  for (int i = 0; i < 100 && !on; i++) {
    spin.spin([] { return false; });
    spin.woke();
    looks = 0;
    on = spin.spin([&] { return ++looks > 0; });
  }
  EXPECT_TRUE(on);
  EXPECT_EQ(looks, 1);
}
