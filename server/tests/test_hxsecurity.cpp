// Who may connect and write: TLS on the display connection (against OpenSSL's own client), the
// login with its growing delay, roles on masks and writes, and the audit trail of the writes,
// all through a real server on loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "gdaemon.h"
#include "hxserver.h"
#include "logcapture.h"
#include "hxtestutil.h"
#include "ipctest.h"
#include "otaccounts.h"
#include "otaudit.h"
#include "otloginline.h"
#include "otmailbox.h"
#include "otnumber.h"
#include "otsharedmemory.h"
#include "ottagimage.h"
#include "ottls.h"
#include "testutil.h"

namespace {

using hxtest::eventually;

// A TLS client as a display client's plug-in would be: a pinned certificate, TLS 1.3.
struct TlsClient {
  TlsClient(int port, const std::string& fingerprint) {
    ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
    fd = hxtest::connectLoopback(port);
    ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    ok = fd >= 0 && SSL_connect(ssl) == 1;
    X509* cert = ok ? SSL_get1_peer_certificate(ssl) : nullptr;
    if (cert != nullptr) {
      unsigned char md[32];
      unsigned n = 0;
      X509_digest(cert, EVP_sha256(), md, &n);
      seen = otHexBytes(md, n, true);
      X509_free(cert);
    }
    ok = ok && seen == fingerprint;
  }
  ~TlsClient() {
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    if (fd >= 0) close(fd);
  }
  void send(const std::string& s) {
    ASSERT_EQ(SSL_write(ssl, s.data(), (int)s.size()), (int)s.size());
  }
  // The next line with its '\n'; "" when the connection ends first.
  std::string line() {
    for (;;) {
      size_t nl = buffer.find('\n');
      if (nl != std::string::npos) {
        std::string l = buffer.substr(0, nl + 1);
        buffer.erase(0, nl + 1);
        return l;
      }
      if (!more()) return "";
    }
  }
  bool more() {
    char chunk[16384];
    int n = SSL_read(ssl, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer.append(chunk, (size_t)n);
    return true;
  }
  SSL_CTX* ctx;
  SSL* ssl;
  int fd;
  bool ok;
  std::string seen, buffer;
};

// Runs a program with its output; the exit status.
int runCommand(const std::string& command, std::string* output) {
  FILE* f = popen((command + " 2>&1").c_str(), "r");
  if (f == nullptr) return -1;
  char buf[4096];
  size_t n;
  output->clear();
  while ((n = fread(buf, 1, sizeof buf, f)) > 0)
    output->append(buf, n);
  int status = pclose(f);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SecureServerTest : public hxtest::HxServerTest {
 protected:
  // A server with the options of o (port and the body of the fixture added).
  void startWith(hxServerOptions o, std::function<int(PARAM_*)> b) {
    body = std::move(b);
    o.port = 0;
    o.pollMs = 50;
    server = hxServerStart(&o, run, this);
    ASSERT_NE(nullptr, server);
  }
  std::string accountsFile() {
    otAccounts a;
    std::string error;
    const otHashCost cheap{1024, 1, 1};
    EXPECT_EQ(a.set("anna", OT_ROLE_OPERATOR, "s3cret, \"quoted\"", &error, cheap), 0) << error;
    EXPECT_EQ(a.set("victor", OT_ROLE_VIEWER, "look", &error, cheap), 0) << error;
    EXPECT_EQ(a.set("erik", OT_ROLE_ENGINEER, "tune", &error, cheap), 0) << error;
    const std::string path = dir.file("accounts");
    EXPECT_EQ(a.write(path.c_str(), &error), 0) << error;
    return path;
  }
  ottest::TempDir dir;
  ottest::LogCapture log;
};

TEST_F(SecureServerTest, TlsOnlyThirteenPlainAndTwelveRefused) {
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.tls = "auto";
  const std::string state = dir.file("state/server");
  o.stateDir = state.c_str();
  startWith(o, [](PARAM_* p) {
    hxtcpsend(p, "hello over tls\n", 15);
    char line[256];
    return hxtcpreceive(p, line, sizeof line) > 0 ? 0 : -1;
  });
  // The certificate was made in the state folder, its key for the server's user only.
  struct stat st;
  ASSERT_EQ(stat((state + "/tls-key.pem").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::string error;
  const std::string fp = otTlsFingerprintOfFile((state + "/tls-cert.pem").c_str(), &error);
  ASSERT_EQ(fp.size(), 95u) << error;
  EXPECT_TRUE(log.has("fingerprint " + fp));

  const std::string connect =
      std::string(OTKIT_OPENSSL) + " s_client -connect 127.0.0.1:" + std::to_string(port());
  std::string out;
  EXPECT_NE(runCommand("echo bye | " + connect + " -tls1_2", &out), 0) << out;
  EXPECT_EQ(runCommand("echo bye | " + connect + " -tls1_3 -quiet", &out), 0) << out;
  EXPECT_NE(out.find("hello over tls"), std::string::npos) << out;

  // A plain client gets no line of the server's, and the server's body never runs for it.
  ASSERT_TRUE(eventually([&] { return finished.load() == 1; }));  // s_client's
  hxtest::Client plain(port());
  plain.send("startDefinition(1)\n");
  EXPECT_TRUE(plain.closedByPeer());
  EXPECT_TRUE(eventually([&] { return log.has("refused: TLS handshake failed"); }));
  EXPECT_EQ(finished.load(), 1);

  // The next start keeps the certificate.
  hxServerStop(server);
  server = nullptr;
  hxServerOptions again = o;
  startWith(again, [](PARAM_*) { return 0; });
  EXPECT_EQ(otTlsFingerprintOfFile((state + "/tls-cert.pem").c_str(), &error), fp);
}

TEST_F(SecureServerTest, TlsCarriesLinesAndBlocksBothWaysAndStopsCleanly) {
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.tls = "auto";
  o.tls12 = 1;
  const std::string state = dir.file("state");
  o.stateDir = state.c_str();
  std::string block(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < block.size(); i++)
    block[i] = (char)(i * 7 + (i >> 9));
  startWith(o, [&block](PARAM_* p) {
    char line[256];
    for (;;) {
      int n = hxtcpreceive(p, line, sizeof line);
      if (n <= 0) return 0;
      if (strncmp(line, "block", 5) == 0) {
        hxtcpsend(p, "block\n", 6);
        hxtcpsend_binary(p, block.data(), (int)block.size());
      } else {
        hxtcpsend(p, line, n);  // echo
      }
    }
  });
  std::string error;
  const std::string fp = otTlsFingerprintOfFile((state + "/tls-cert.pem").c_str(), &error);
  {
    TlsClient c(port(), fp);
    ASSERT_TRUE(c.ok) << c.seen;
    std::string many;
    for (int i = 0; i < 2000; i++)
      many += "line " + std::to_string(i) + "\n";
    c.send(many);
    for (int i = 0; i < 2000; i++)
      ASSERT_EQ(c.line(), "line " + std::to_string(i) + "\n");
    c.send("block\n");
    ASSERT_EQ(c.line(), "block\n");
    while (c.buffer.size() < block.size())
      ASSERT_TRUE(c.more());
    EXPECT_TRUE(c.buffer == block);
  }
  // A connected client does not keep the stop waiting; it sees the end.
  TlsClient idle(port(), fp);
  ASSERT_TRUE(idle.ok);
  idle.send("ping\n");
  ASSERT_EQ(idle.line(), "ping\n");
  auto t0 = std::chrono::steady_clock::now();
  hxServerStop(server);
  server = nullptr;
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  EXPECT_EQ(idle.line(), "");
}

TEST_F(SecureServerTest, LoginWithGrowingDelayThenTheUsersRole) {
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  const std::string accounts = accountsFile();
  o.accounts = accounts.c_str();
  std::string who;
  startWith(o, [&who](PARAM_* p) {
    who = std::string(hxUser(p)) + "/" + otRoleName(hxRole(p)) + "/" +
          std::to_string(p->peer.rfind("127.0.0.1:", 0) == 0);
    return 0;
  });
  hxtest::Client c(port());
  ASSERT_EQ(c.line(), "@login(1,\"\")\n");
  // Each failure of the same client waits longer before the next try is offered.
  const char* wrong[] = {"nothing", "anna", "anna"};
  int expectMs = 250;
  for (int i = 0; i < 3; i++) {
    auto t0 = std::chrono::steady_clock::now();
    c.send(otFormatLoginLine(i == 0 ? "nobody" : wrong[i], "guess"));
    ASSERT_EQ(c.line(), "@login(" + std::to_string(i + 2) + ",\"wrong user or password\")\n");
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(expectMs));
    expectMs *= 2;
  }
  EXPECT_TRUE(log.has("failed login of user \"nobody\" from 127.0.0.1:"));
  EXPECT_TRUE(log.has("failed login of user \"anna\" from 127.0.0.1:"));
  c.send(otFormatLoginLine("anna", "s3cret, \"quoted\""));
  EXPECT_EQ(c.line(), "@loggedIn(\"anna\",\"operator\")\n");
  ASSERT_TRUE(eventually([&] { return finished.load() == 1; }));
  EXPECT_EQ(who, "anna/operator/1");

  // Something else than a login line ends the connection at once.
  hxtest::Client rude(port());
  ASSERT_EQ(rude.line(), "@login(1,\"\")\n");
  rude.send("slider(3,70)\n");
  EXPECT_EQ(rude.line(), "@loginFailed(\"no login\")\n");
  EXPECT_TRUE(rude.closedByPeer());
  EXPECT_EQ(finished.load(), 1);
}

TEST_F(SecureServerTest, FiveFailuresCloseTheConnection) {
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  const std::string accounts = accountsFile();
  o.accounts = accounts.c_str();
  startWith(o, [](PARAM_*) { return 0; });
  hxtest::Client c(port());
  for (int i = 1; i <= 5; i++) {
    ASSERT_EQ(
        c.line().compare(0, 8 + std::to_string(i).size(), "@login(" + std::to_string(i) + ","), 0);
    c.send(otFormatLoginLine("erik", "wrong"));
  }
  EXPECT_EQ(c.line(), "@loginFailed(\"too many failed logins\")\n");
  EXPECT_TRUE(c.closedByPeer());
  EXPECT_EQ(finished.load(), 0);
}

// The demo daemon's image and mailbox, kept by the test as the daemon would.
class AuditedPlantTest : public SecureServerTest {
 protected:
  void SetUp() override {
    hxDaemonFiles out;
    std::ifstream in(std::string(OTKIT_EXAMPLES_DIR) + "/demo.mkmodbus");
    std::stringstream project;
    project << in.rdbuf();
    ASSERT_EQ(0,
              hxGenerate(HX_DAEMON_MODBUS, "demo.mkmodbus",
                         project.str() + "shared_memory=" + shm + "\nmailbox=" + mbx + "\n", &out))
        << out.log;
    ottest::writeFile(dir.file("demo.h"), out.header);
    ottest::writeFile(dir.file("tags.txt"),
                      "setpoint demo.h 3 2 short 0.5 10 - register 1,2\n"
                      "limit    demo.h 3 3 short 1   0  - register 1,3 engineer\n");
    otDaemonHeader h;
    std::string error;
    ASSERT_EQ(0, otReadDaemonHeader(out.header.c_str(), &h, &error)) << error;
    image.reset(new otSharedMemory(shm.c_str(), h.size));
    mailbox.reset(new otMailbox(mbx.c_str()));
    const unsigned char setpoint[2] = {0, 100};  // raw 100: shown 60
    image->write((int)h.cycles[2].base + 4, setpoint, 2);
    tags = otTagImage::load(dir.file("tags.txt").c_str(), &error);
    ASSERT_TRUE(tags) << error;
    ASSERT_EQ(tags->open(), 1);
  }
  void TearDown() override {
    SecureServerTest::TearDown();
    server = nullptr;
    tags.reset();
    image->deleteSharedMemory();
    image.reset();
    mailbox.reset();
    int queue = msgget(ftok(mbx.c_str(), 'b'), 0);
    if (queue >= 0) msgctl(queue, IPC_RMID, nullptr);
  }
  // Logs in as user and moves slider 3 to value (the mask writes it to the setpoint).
  void moveSlider(const char* user, const char* password, int value) {
    hxtest::Client c(port());
    ASSERT_EQ(c.line(), "@login(1,\"\")\n");
    c.send(otFormatLoginLine(user, password));
    ASSERT_EQ(c.line().compare(0, 10, "@loggedIn("), 0);
    c.send("slider(3," + std::to_string(value) + ")\n");
    ASSERT_EQ(c.line(), "done\n");
  }
  std::string shm = dir.file("d.shm"), mbx = dir.file("d.mbx");
  std::unique_ptr<otSharedMemory> image;
  std::unique_ptr<otMailbox> mailbox;
  std::unique_ptr<otTagImage> tags;
};

TEST_F(AuditedPlantTest, WritesGoByRoleAndEveryOneIsInTheAuditTrail) {
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  const std::string accounts = accountsFile(), audit = dir.file("audit.log");
  o.accounts = accounts.c_str();
  o.audit = audit.c_str();
  std::atomic<int> serviceRefused{0};
  startWith(o, [this, &serviceRefused](PARAM_* p) {
    hxSetMaskName(p, "boiler");
    char event[HX_EVENT_BUFSIZE];
    for (;;) {
      if (hxPollEvent(p, event) < 0) return 0;
      int id = 0;
      char rest[HX_TEXT_SIZE];
      int kind = hxParseEvent(event, &id, rest);
      if (kind == SLIDER_EVENT) {
        int value = 0;
        sscanf(rest, "(%d)", &value);
        tags->write(tags->find("setpoint"), value);
        hxtcpsend(p, "done\n", 5);
      } else if (kind == BUTTON_EVENT && id == 9) {
        if (hxRequireRole(p, OT_ROLE_ENGINEER, "service") != 0) serviceRefused++;
      }
    }
  });
  moveSlider("victor", "look", 80);  // a viewer: refused
  moveSlider("anna", "s3cret, \"quoted\"", 70);
  unsigned char msg[64];
  ASSERT_EQ(mailbox->read(msg, sizeof msg, 1000), 6);  // only the operator's
  EXPECT_EQ(msg[5], 120);
  EXPECT_EQ(mailbox->read(msg, sizeof msg, 0), -1);

  // An engineer's mask refused to an operator, with a message.
  hxtest::Client c(port());
  ASSERT_EQ(c.line(), "@login(1,\"\")\n");
  c.send(otFormatLoginLine("anna", "s3cret, \"quoted\""));
  ASSERT_EQ(c.line().compare(0, 10, "@loggedIn("), 0);
  c.send("QPushButton(9)\n");
  const std::string box = c.line();
  EXPECT_NE(box.find("The mask service needs the role engineer; you are logged in as anna "
                     "(operator)."),
            std::string::npos)
      << box;
  close(c.fd);
  c.fd = -1;
  ASSERT_TRUE(eventually([&] { return serviceRefused.load() == 1; }));
  EXPECT_TRUE(log.has("mask service needs role engineer; user anna is operator"));

  hxServerStop(server);
  server = nullptr;
  std::ifstream in(audit);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);)
    lines.push_back(l);
  ASSERT_EQ(lines.size(), 2u);
  auto fieldsOf = [](const std::string& l) {
    std::vector<std::string> f;
    std::stringstream s(l);
    for (std::string x; std::getline(s, x, '\t');)
      f.push_back(x);
    return f;
  };
  std::vector<std::string> v = fieldsOf(lines[0]), a = fieldsOf(lines[1]);
  ASSERT_EQ(v.size(), 11u);
  ASSERT_EQ(a.size(), 11u);
  EXPECT_EQ(v[2] + " " + v[4] + " " + v[5] + " " + v[6] + " " + v[7] + " " + v[8] + " " + v[9],
            "victor boiler 3 setpoint 60 80 refused: role viewer may not write setpoint");
  EXPECT_EQ(a[2] + " " + a[4] + " " + a[5] + " " + a[6] + " " + a[7] + " " + a[8] + " " + a[9],
            "anna boiler 3 setpoint 60 70 accepted");
  EXPECT_EQ(a[3].rfind("127.0.0.1:", 0), 0u);
  std::string why;
  long long count = 0;
  EXPECT_EQ(otAuditVerify(audit.c_str(), &why, &count), 0) << why;
  EXPECT_EQ(count, 2);
  otSetWriteGate(nullptr);
}

// The local address a listening socket of port is bound to, from the kernel's table.
std::string listeningOn(int port) {
  std::ifstream in("/proc/net/tcp");
  char want[8];
  snprintf(want, sizeof want, ":%04X", port);
  for (std::string l; std::getline(in, l);) {
    std::stringstream s(l);
    std::string slot, local, remote, state;
    s >> slot >> local >> remote >> state;
    if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == want)
      return local.substr(0, local.size() - 5);
  }
  return "";
}

TEST_F(SecureServerTest, WithoutTlsOrLoginOnlyLoopbackUnlessBound) {
  hxServerOptions o;  // no -bind
  startWith(o, [](PARAM_*) { return 0; });
  EXPECT_EQ(listeningOn(port()), "0100007F");
  EXPECT_TRUE(log.has("neither TLS nor logins are configured: listening on 127.0.0.1 only"));
  hxServerStop(server);
  const std::string accounts = accountsFile();
  o.accounts = accounts.c_str();
  startWith(o, [](PARAM_*) { return 0; });
  EXPECT_EQ(listeningOn(port()), "00000000");
  hxServerStop(server);
  hxServerOptions bound;
  bound.bindAddress = "0.0.0.0";
  startWith(bound, [](PARAM_*) { return 0; });
  EXPECT_EQ(listeningOn(port()), "00000000");
}

}  // namespace
