// otCommandlineInterface over each transport: a child process, standard output, loopback TCP
// in both directions, and a pseudo-terminal pair made by socat.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "otcommandlineinterface.h"
#include "otserial.h"
#include "socatpair.h"
#include "testutil.h"

namespace {

// A listening IPv4 socket on a free loopback port.
class Listener {
 public:
  Listener() {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && listen(fd, 4) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port = ntohs(a.sin_port);
  }
  ~Listener() { close(fd); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  int fd = -1;
  int port = 0;
};

using ottest::freePort;

int connectTo(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  struct sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons((uint16_t)port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) return fd;
  close(fd);
  return -1;
}

void sendText(int fd, const std::string& text) {
  ASSERT_EQ(write(fd, text.data(), text.size()), (ssize_t)text.size());
}

}  // namespace

TEST(otCommandlineInterfaceStart, HowWithoutTransport) {
  otCommandlineInterface cli;
  EXPECT_EQ(cli.start("pipe"), -1);
  EXPECT_EQ(cli.start(static_cast<const char*>(nullptr)), -1);
  EXPECT_EQ(cli.start("nocolon"), -1);
  EXPECT_EQ(cli.start(static_cast<otSerial*>(nullptr)), -1);
  EXPECT_EQ(cli.start("pipe", "/nonexistent/otkit-no-such-program"), -1);
}

TEST(otCommandlineInterfacePipe, LinesAndBlocksThroughAChild) {
  otCommandlineInterface cli;
  ASSERT_GT(cli.start("pipe", "cat"), 0);
  EXPECT_EQ(cli.printf("hello %d\n", 5), 8);
  EXPECT_STREQ(cli.readLine(5000), "hello 5\n");
  EXPECT_EQ(cli.readLine(30), nullptr);  // nothing more yet
  EXPECT_EQ(cli.writeBlock("a\0c", 3), 3);
  char buf[3];
  ASSERT_EQ(cli.readBlock(buf, 3, 5000), 3);
  EXPECT_EQ(std::string(buf, 3), std::string("a\0c", 3));
  EXPECT_EQ(cli.readBlock(buf, 1, 30), -1);
  // A later start replaces the child.
  ASSERT_GT(cli.start("pipe", "printf last"), 0);
  EXPECT_STREQ(cli.readLine(), "last");
  EXPECT_EQ(cli.readLine(), nullptr);
}

TEST(otCommandlineInterfaceStdio, PrintfReachesStandardOutput) {
  otCommandlineInterface cli;
  EXPECT_EQ(cli.start("stdio"), 1);
  ottest::CaptureStdout capture;
  EXPECT_EQ(cli.printf("value=%d\n", 7), 8);
  EXPECT_EQ(cli.writeBlock("raw", 3), 3);
  EXPECT_EQ(capture.text(), "value=7\nraw");
}

TEST(otCommandlineInterfaceSocket, LocalhostRunsTheCommandInTheBackgroundThenConnects) {
  ottest::TempDir dir;
  Listener peer;
  ASSERT_GT(peer.port, 0);
  otCommandlineInterface cli;
  std::string how = "localhost:" + std::to_string(peer.port);
  std::string marker = dir.file("started");
  ASSERT_GE(cli.start(how.c_str(), ("touch " + marker).c_str()), 0);
  int fd = accept(peer.fd, nullptr, nullptr);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(cli.printf("ping %s\n", "1"), 7);
  EXPECT_EQ(ottest::readWithin(fd, 7, 5000), "ping 1\n");
  // A read that only times out keeps the connection.
  EXPECT_EQ(cli.readLine(30), nullptr);
  sendText(fd, "pong\nxyz");
  EXPECT_STREQ(cli.readLine(5000), "pong\n");
  char buf[3];
  ASSERT_EQ(cli.readBlock(buf, 3, 5000), 3);
  EXPECT_EQ(std::string(buf, 3), "xyz");
  // The peer leaves: the interface disconnects and refuses further writes.
  close(fd);
  EXPECT_EQ(cli.readLine(5000), nullptr);
  EXPECT_EQ(cli.printf("gone\n"), -1);
  for (int i = 0; i < 500 && access(marker.c_str(), F_OK) != 0; i++)
    usleep(10000);
  EXPECT_EQ(access(marker.c_str(), F_OK), 0);
}

TEST(otCommandlineInterfaceSocket, AnyHostAndRefusedConnection) {
  otCommandlineInterface cli;
  {
    Listener peer;
    std::string how = "127.0.0.1:" + std::to_string(peer.port);
    ASSERT_GE(cli.start(how.c_str()), 0);
    int fd = accept(peer.fd, nullptr, nullptr);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(cli.writeBlock("abc", 3), 3);
    EXPECT_EQ(ottest::readWithin(fd, 3, 5000), "abc");
    close(fd);
  }
  std::string closed = "127.0.0.1:" + std::to_string(freePort());
  EXPECT_EQ(cli.start(closed.c_str()), -1);
  EXPECT_EQ(cli.printf("x"), -1);
  char buf[1];
  EXPECT_EQ(cli.readBlock(buf, 1), -1);
}

TEST(otCommandlineInterfaceSocket, ServerWaitsForOneClient) {
  int port = freePort();
  otCommandlineInterface cli;
  int started = -2;
  std::string how = "server.localhost:" + std::to_string(port);
  std::thread server([&] { started = cli.start(how.c_str()); });
  int fd = -1;
  for (int i = 0; i < 500 && fd < 0; i++) {
    fd = connectTo(port);
    if (fd < 0) usleep(10000);
  }
  server.join();
  ASSERT_GE(fd, 0);
  EXPECT_GE(started, 0);
  sendText(fd, "request\n");
  EXPECT_STREQ(cli.readLine(5000), "request\n");
  EXPECT_EQ(cli.printf("reply\n"), 6);
  EXPECT_EQ(ottest::readWithin(fd, 6, 5000), "reply\n");
  close(fd);
}

TEST(otCommandlineInterfaceSerial, LinesAndBlocksOverAPty) {
  ottest::TempDir dir;
  ottest::SocatPair socat;
  std::string problem = socat.start(dir.path());
  ASSERT_EQ(problem, "");
  otSerial serial;
  ASSERT_EQ(serial.openDevice(socat.a().c_str(), B9600, 1, 0, 8, 1, otSerial::NONE), 0);
  int peer = open(socat.b().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(peer, 0);
  otCommandlineInterface cli;
  EXPECT_EQ(cli.start(&serial), 1);
  EXPECT_EQ(cli.printf("set %d\n", 3), 6);
  EXPECT_EQ(ottest::readWithin(peer, 6, 5000), "set 3\n");
  sendText(peer, "ok\nAB");
  EXPECT_STREQ(cli.readLine(5000), "ok\n");
  char buf[2];
  ASSERT_EQ(cli.readBlock(buf, 2, 5000), 2);
  EXPECT_EQ(std::string(buf, 2), "AB");
  EXPECT_EQ(cli.readLine(30), nullptr);
  close(peer);
}
