// The TLS communication plug-in through the connection layer, as otclient loads it
// (-plugin=tls, found among the installed plug-ins), against OpenSSL's own s_server: lines and
// blocks both ways, many lines in one record, and every refusal with its reason and without a
// plain TCP connection behind it.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "otoptions.h"
#include "tcputil.h"
#include "testutil.h"
#include "tlspeer.h"

namespace {

// A plain TCP server on loopback, in a thread: it counts the connections it accepts and sends
// each greeting (nothing: it waits for its client to speak first).
class PlainServer {
 public:
  explicit PlainServer(std::string greeting) : greeting_(std::move(greeting)) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0 && listen(fd_, 8) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
      port_ = ntohs(sin.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~PlainServer() {
    stop_ = true;
    thread_.join();
    for (int c : clients_)
      close(c);
    close(fd_);
  }
  PlainServer(const PlainServer&) = delete;
  PlainServer& operator=(const PlainServer&) = delete;
  int port() const { return port_; }
  int accepted() const { return accepted_; }

 private:
  void serve() {
    while (!stop_) {
      struct pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, 20) != 1) continue;
      int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      accepted_++;
      clients_.push_back(c);
      if (!greeting_.empty()) send(c, greeting_.data(), greeting_.size(), MSG_NOSIGNAL);
    }
  }
  std::string greeting_;
  int fd_ = -1, port_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::vector<int> clients_;
  std::thread thread_;
};

std::string rec(int* s, int size = 256) {
  std::vector<char> line((size_t)size);
  int n = tcp_rec(s, line.data(), size);
  return n < 0 ? "<closed>" : std::string(line.data(), (size_t)n);
}

// Waits as an event loop does (the descriptor, then what the layer says is ready) until a
// whole line is there. The count of lines ready, 0 on time-out.
int waitLines(int* s, int ms = 5000) {
  long long end = otMonotonicMs() + ms;
  for (;;) {
    int ready = tcp_line_ready(s, 256);
    if (ready > 0) return ready;
    long long left = end - otMonotonicMs();
    if (left <= 0) return 0;
    struct pollfd p = {tcp_wait_fd(s), POLLIN, 0};
    poll(&p, 1, (int)std::min(left, 100LL));
  }
}

bool socketReadable(int* s) {
  struct pollfd p = {tcp_wait_fd(s), POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

class TlsPlugin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (tlstest::haveOpenssl()) certs = new tlstest::Certificates;
  }
  static void TearDownTestSuite() {
    delete certs;
    certs = nullptr;
  }
  void SetUp() override {
    if (certs == nullptr || !certs->made) GTEST_SKIP() << "openssl cannot make certificates";
    otOptionsDefaults(&opt);
    // The user's own folder holds no plug-in: -plugin=tls is the installed one.
    snprintf(opt.plugin_dir, sizeof(opt.plugin_dir), "%s", userFolder.path().c_str());
    snprintf(opt.hxc_com_plugin, sizeof(opt.hxc_com_plugin), "tls");
    init();
  }
  void TearDown() override {
    for (int i = 1; i <= 32; i++) {
      int s = i;
      tcp_close(&s);
    }
    tcp_free();
    otOptionsDefaults(&opt);
  }
  void init() {
    ottest::CaptureStdout quiet;  // the layer says what it loads and refuses
    tcp_init();
  }
  void pin(const std::string& fp) {
    snprintf(opt.tls_fingerprint, sizeof(opt.tls_fingerprint), "%s", fp.c_str());
  }
  void trust(const std::string& ca) { snprintf(opt.tls_ca, sizeof(opt.tls_ca), "%s", ca.c_str()); }
  int connect(const char* host, int port) {
    tcp_clear_broken_reason();
    return tcp_con(host, port);
  }
  std::string reason() const { return tcp_broken_reason(); }

  static tlstest::Certificates* certs;
  ottest::TempDir userFolder;
};

tlstest::Certificates* TlsPlugin::certs = nullptr;

// The fingerprint as an operator may type it: lower case, no colons.
std::string typed(std::string fp) {
  fp.erase(std::remove(fp.begin(), fp.end(), ':'), fp.end());
  std::transform(fp.begin(), fp.end(), fp.begin(),
                 [](unsigned char c) { return (char)tolower(c); });
  return fp;
}

TEST_F(TlsPlugin, LinesAndBlocksFlowBothWaysWithAPinnedFingerprint) {
  tlstest::SServer server(certs->server, certs->serverKey, {"-tls1_3"});
  ASSERT_TRUE(server.started());
  pin(typed(certs->fingerprint(certs->server)));
  int s = connect("127.0.0.1", server.port());
  ASSERT_GE(s, 1) << reason();
  EXPECT_EQ(tcp_fd(&s), -1);  // the plug-in carries it
  ASSERT_GE(tcp_wait_fd(&s), 0);

  EXPECT_EQ(tcp_send(&s, "hello(1)\n", 9), 9);
  EXPECT_TRUE(server.waitFor("hello(1)\n", 5000)) << server.output();

  // Fifty lines in one record: all are known at once, and each is taken without the socket.
  std::string lines;
  for (int i = 0; i < 50; i++)
    lines += "setValue(" + std::to_string(i) + ",7)\n";
  ASSERT_TRUE(server.send(lines));
  ASSERT_EQ(waitLines(&s), 50);
  for (int i = 0; i < 50; i++) {
    EXPECT_EQ(rec(&s), "setValue(" + std::to_string(i) + ",7)\n");
    EXPECT_FALSE(socketReadable(&s)) << i;
    EXPECT_EQ(tcp_line_ready(&s, 256), 49 - i > 0 ? 49 - i : 0) << i;
  }

  // A block of more than the plug-in holds at once, then a line after it.
  const int n = 300000;
  std::string block;
  for (int i = 0; i < n; i++)
    block += (char)('a' + i % 16);
  std::thread writer([&] { server.send("block(300000)\n" + block + "done(1)\n"); });
  EXPECT_EQ(rec(&s), "block(300000)\n");
  std::vector<char> got(n);
  EXPECT_EQ(tcp_rec_binary(&s, got.data(), n), n);
  writer.join();
  EXPECT_TRUE(std::string(got.data(), n) == block);
  EXPECT_EQ(rec(&s), "done(1)\n");

  EXPECT_EQ(tcp_close(&s), 0);
  EXPECT_TRUE(server.waitFor("shutup\n", 5000)) << server.output();
}

TEST_F(TlsPlugin, ACaFileVerifiesTheChainAndTheHostOrAddress) {
  trust(certs->ca);
  for (const char* host : {"127.0.0.1", "localhost"}) {
    tlstest::SServer server(certs->server, certs->serverKey, {"-tls1_3"});
    ASSERT_TRUE(server.started());
    int s = connect(host, server.port());
    ASSERT_GE(s, 1) << host << ": " << reason();
    ASSERT_TRUE(server.send("startDefinition(1)\n"));
    ASSERT_EQ(waitLines(&s), 1) << host;
    EXPECT_EQ(rec(&s), "startDefinition(1)\n");
    EXPECT_EQ(tcp_send(&s, "synced(1)\n", 10), 10);
    EXPECT_TRUE(server.waitFor("synced(1)\n", 5000)) << host;
    tcp_close(&s);
  }
}

TEST_F(TlsPlugin, RefusalsSayWhyAndLeaveNoConnection) {
  const std::string fp = certs->fingerprint(certs->server);
  ASSERT_EQ(fp.size(), 95u);
  struct Case {
    const char* what;
    bool elsewhere;  // the certificate made out to another host
    std::vector<std::string> server;
    const char* host;
    std::string ca, pin;
    std::string why;
  } cases[] = {
      {"wrong fingerprint",
       false,
       {"-tls1_3"},
       "127.0.0.1",
       "",
       std::string(64, '0'),
       "TLS: the server's certificate (SHA-256 " + fp + ") is not the pinned one"},
      {"right CA, wrong fingerprint",
       false,
       {"-tls1_3"},
       "127.0.0.1",
       certs->ca,
       std::string(64, 'F'),
       "is not the pinned one"},
      {"wrong CA",
       false,
       {"-tls1_3"},
       "127.0.0.1",
       certs->otherCa,
       "",
       "TLS: the server's certificate is not trusted by " + certs->otherCa},
      {"wrong host name",
       true,
       {"-tls1_3"},
       "localhost",
       certs->ca,
       "",
       "TLS: the server's certificate is not made out to localhost"},
      {"wrong address",
       true,
       {"-tls1_3"},
       "127.0.0.1",
       certs->ca,
       "",
       "TLS: the server's certificate is not made out to the address 127.0.0.1"},
      {"TLS 1.2 only", false, {"-tls1_2"}, "127.0.0.1", "", fp, "does not speak TLS 1.3"},
  };
  for (const Case& c : cases) {
    tlstest::SServer server(c.elsewhere ? certs->elsewhere : certs->server,
                            c.elsewhere ? certs->elsewhereKey : certs->serverKey, c.server);
    ASSERT_TRUE(server.started()) << c.what;
    trust(c.ca);
    pin(c.pin);
    int before = ottest::openFdCount();
    EXPECT_EQ(connect(c.host, server.port()), -1) << c.what;
    EXPECT_NE(reason().find(c.why), std::string::npos) << c.what << ": " << reason();
    // Nothing kept: no slot, no descriptor (the plug-in's handle went back to it).
    EXPECT_EQ(ottest::openFdCount(), before) << c.what;
    int slot = 1;
    EXPECT_EQ(tcp_send(&slot, "x\n", 2), -1) << c.what;
  }

  // Allowed, TLS 1.2 is spoken.
  opt.tls_allow12 = 1;
  tlstest::SServer old(certs->server, certs->serverKey, {"-tls1_2"});
  ASSERT_TRUE(old.started());
  trust("");
  pin(fp);
  int s = connect("127.0.0.1", old.port());
  ASSERT_GE(s, 1) << reason();
  ASSERT_TRUE(old.send("endDefinition()\n"));
  ASSERT_EQ(waitLines(&s), 1);
  EXPECT_EQ(rec(&s), "endDefinition()\n");
}

TEST_F(TlsPlugin, APlainServerIsRefusedAndNotTalkedToInPlainText) {
  pin(certs->fingerprint(certs->server));
  {
    PlainServer plain("startDefinition(3)\nQLabel(1,0)\n");
    EXPECT_EQ(connect("127.0.0.1", plain.port()), -1);
    EXPECT_NE(reason().find("does not answer in TLS"), std::string::npos) << reason();
    EXPECT_EQ(plain.accepted(), 1);  // the TLS attempt, and no second one in plain TCP
  }
  {
    // One that waits for its client to speak first: the handshake gives up in time.
    opt.connect_timeout = 1;
    PlainServer silent("");
    long long start = otMonotonicMs();
    EXPECT_EQ(connect("127.0.0.1", silent.port()), -1);
    EXPECT_LT(otMonotonicMs() - start, 3000);
    EXPECT_NE(reason().find("no TLS handshake with 127.0.0.1:" + std::to_string(silent.port()) +
                            " within 1 s"),
              std::string::npos)
        << reason();
    EXPECT_EQ(silent.accepted(), 1);
  }
}

TEST_F(TlsPlugin, WithoutAWayToVerifyNothingIsConnected) {
  PlainServer server("");
  struct Case {
    std::string ca, pin, why;
  } cases[] = {
      {"", "", "TLS: neither a CA file ([tls] ca, -tlsca) nor a certificate fingerprint"},
      {"", "AB:CD:EF", "TLS: the pinned fingerprint \"AB:CD:EF\" is not 64 hex digits"},
      {"", std::string(64, 'g'), "is not 64 hex digits"},
      {"", std::string(66, 'a'), "is not 64 hex digits"},
      {userFolder.file("missing.pem"), "", "TLS: cannot read the CA file"},
  };
  for (const Case& c : cases) {
    trust(c.ca);
    pin(c.pin);
    EXPECT_EQ(connect("127.0.0.1", server.port()), -1) << c.why;
    EXPECT_NE(reason().find(c.why), std::string::npos) << reason();
  }
  // Verification is settled before the server is asked anything.
  usleep(100000);
  EXPECT_EQ(server.accepted(), 0);
}

TEST_F(TlsPlugin, TheServersLastLinesComeBeforeItsEnd) {
  tlstest::SServer server(certs->server, certs->serverKey, {"-tls1_3"});
  ASSERT_TRUE(server.started());
  pin(certs->fingerprint(certs->server));
  int s = connect("127.0.0.1", server.port());
  ASSERT_GE(s, 1) << reason();
  ASSERT_TRUE(server.send("last(1)\nlast(2)\nno line feed"));
  usleep(300000);
  server.stop();  // no close_notify: the socket just ends
  ASSERT_EQ(waitLines(&s), 2);
  EXPECT_EQ(rec(&s), "last(1)\n");
  EXPECT_EQ(rec(&s), "last(2)\n");
  EXPECT_EQ(tcp_line_ready(&s, 256), 1);  // the rest, as it is
  EXPECT_EQ(rec(&s), "no line feed");
  EXPECT_EQ(tcp_line_ready(&s, 256), 1);  // the end, which the read reports
  EXPECT_EQ(rec(&s), "<closed>");
  EXPECT_EQ(s, -1);
}

// The plug-in is looked for in the user's folder first; a file there that others could have
// changed is refused, and the installed one is not taken in its place. A plug-in that cannot
// be loaded refuses every connection rather than leave it to plain TCP.
TEST_F(TlsPlugin, APluginThatCannotBeLoadedRefusesEveryConnection) {
  PlainServer server("");
  ottest::writeFile(userFolder.file("tls.so"), "not a library");
  ASSERT_EQ(0, chmod(userFolder.file("tls.so").c_str(), 0775));
  init();
  EXPECT_EQ(connect("127.0.0.1", server.port()), -1);
  EXPECT_EQ(reason(), "the communication plug-in tls is refused: writable by group or others");

  ASSERT_EQ(0, chmod(userFolder.file("tls.so").c_str(), 0755));
  init();
  EXPECT_EQ(connect("127.0.0.1", server.port()), -1);
  EXPECT_EQ(reason(), "the communication plug-in tls cannot be loaded");

  snprintf(opt.hxc_com_plugin, sizeof(opt.hxc_com_plugin), "nosuch");
  init();
  EXPECT_EQ(connect("127.0.0.1", server.port()), -1);
  EXPECT_EQ(reason(), "the communication plug-in nosuch cannot be loaded");
  usleep(100000);
  EXPECT_EQ(server.accepted(), 0);

  // Without a plug-in configured, plain TCP as ever.
  opt.hxc_com_plugin[0] = '\0';
  init();
  int s = connect("127.0.0.1", server.port());
  EXPECT_GE(tcp_fd(&s), 0);
}

// A loader that knows only the six entry points gets a handle that carries nothing for a
// refused connection: never a result it would take for "use plain TCP".
TEST(TlsPluginContract, ARefusedConnectionIsAHandleThatCarriesNothing) {
  void* lib = dlopen(TLS_PLUGIN, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto set = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(lib, "hxc_com_set"));
  auto con = reinterpret_cast<int (*)(const char*, int, int*)>(dlsym(lib, "hxc_com_con"));
  auto refusal = reinterpret_cast<const char* (*)()>(dlsym(lib, "hxc_com_refusal"));
  auto recv = reinterpret_cast<int (*)(int, int, char*, int, int*)>(dlsym(lib, "hxc_com_rec"));
  auto send =
      reinterpret_cast<int (*)(int, int, const char*, int, int*)>(dlsym(lib, "hxc_com_send"));
  auto close = reinterpret_cast<int (*)(int, int, int*)>(dlsym(lib, "hxc_com_close"));
  auto ready = reinterpret_cast<int (*)(int, int, const char**)>(dlsym(lib, "hxc_com_ready"));
  ASSERT_TRUE(set && con && refusal && recv && send && close && ready &&
              dlsym(lib, "hxc_com_rec_binary") && dlsym(lib, "hxc_com_plugin_on") &&
              dlsym(lib, "hxc_com_fd"));
  EXPECT_EQ(set("allow_tls12", "2"), -1);
  EXPECT_EQ(set("stall_timeout", "-1"), -1);
  EXPECT_EQ(set("no such setting", "1"), -1);
  EXPECT_EQ(set("fingerprint", ""), 0);
  EXPECT_EQ(set("ca", ""), 0);

  PlainServer server("");
  int before = ottest::openFdCount();
  int use = 0;
  int h = con("127.0.0.1", server.port(), &use);
  EXPECT_GT(h, 0);
  EXPECT_EQ(use, 1);
  EXPECT_NE(std::string(refusal()).find("neither a CA file"), std::string::npos);
  char line[16];
  int table[34] = {};
  const char* data = nullptr;
  EXPECT_EQ(ready(1, h, &data), -1);
  EXPECT_EQ(recv(1, h, line, sizeof line, table), -1);  // and the handle is closed with it
  EXPECT_EQ(ottest::openFdCount(), before);
  EXPECT_EQ(send(1, h, "x\n", 2, table), -1);
  EXPECT_EQ(close(1, h, table), 1);
  EXPECT_EQ(close(1, 12345, table), 0);  // not its own: the loader closes it
  EXPECT_EQ(ottest::openFdCount(), before);
  dlclose(lib);
}

}  // namespace
