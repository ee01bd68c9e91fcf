// The connection layer against real loopback servers and a real communication plug-in.
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "otoptions.h"
#include "tcputil.h"
#include "testutil.h"

// A stand-in for the resolver, so that a test can offer the connection layer a host whose
// first address refuses (nothing on this machine resolves to two addresses) or one that does
// not resolve, without asking a name server. Every other name goes to the real resolver.
namespace {
const char kTwoAddresses[] = "two-addresses.otkit.test";
const char kUnresolvable[] = "unresolvable.otkit.test";
typedef int (*Resolver)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
Resolver realResolver() {
  static Resolver real = reinterpret_cast<Resolver>(dlsym(RTLD_NEXT, "getaddrinfo"));
  return real;
}
}  // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** res) {
  if (node != nullptr && strcmp(node, kUnresolvable) == 0) return EAI_NONAME;
  if (node == nullptr || strcmp(node, kTwoAddresses) != 0)
    return realResolver()(node, service, hints, res);
  // 127.0.0.2 refuses (the servers listen on 127.0.0.1 only); the resolver's lists are freed
  // node by node, so two of them joined are freed by one freeaddrinfo.
  struct addrinfo* first = nullptr;
  struct addrinfo* second = nullptr;
  int err = realResolver()("127.0.0.2", service, hints, &first);
  if (err != 0) return err;
  err = realResolver()("127.0.0.1", service, hints, &second);
  if (err != 0) {
    freeaddrinfo(first);
    return err;
  }
  struct addrinfo* last = first;
  while (last->ai_next != nullptr)
    last = last->ai_next;
  last->ai_next = second;
  *res = first;
  return 0;
}

namespace {

// A listening socket on 127.0.0.1. A client's connect completes in its backlog, so a test
// accepts after tcp_con has returned.
class Listener {
 public:
  Listener() {
    for (int attempt = 0; attempt < 20 && fd_ < 0; attempt++) {
      port_ = ottest::freePort();
      int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in sin{};
      sin.sin_family = AF_INET;
      sin.sin_port = htons((uint16_t)port_);
      sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0 && listen(fd, 64) == 0)
        fd_ = fd;
      else
        close(fd);
    }
  }
  ~Listener() {
    for (int fd : accepted_)
      close(fd);
    if (fd_ >= 0) close(fd_);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int port() const { return port_; }
  // The next connection (closed with the listener), -1 when none comes within 5 s.
  int accept() {
    struct pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) return -1;
    int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) accepted_.push_back(fd);
    return fd;
  }
  // Closes a connection from this end.
  void hangUp(int fd) {
    for (size_t i = 0; i < accepted_.size(); i++)
      if (accepted_[i] == fd) accepted_.erase(accepted_.begin() + (long)i);
    close(fd);
  }

 private:
  int fd_ = -1;
  int port_ = -1;
  std::vector<int> accepted_;
};

void put(int fd, const std::string& data) {
  ASSERT_EQ(send(fd, data.data(), data.size(), MSG_NOSIGNAL), (ssize_t)data.size());
}

// Exactly n bytes from fd ("" when the peer closes first or nothing comes within 5 s).
std::string take(int fd, size_t n) {
  std::string out;
  while (out.size() < n) {
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) return "";
    char buf[4096];
    ssize_t got = recv(fd, buf, std::min(sizeof(buf), n - out.size()), 0);
    if (got <= 0) return "";
    out.append(buf, (size_t)got);
  }
  return out;
}

// True when the peer has closed fd (end of stream within 5 s).
bool peerClosed(int fd) {
  struct pollfd p = {fd, POLLIN, 0};
  if (poll(&p, 1, 5000) != 1) return false;
  char c;
  return recv(fd, &c, 1, 0) == 0;
}

std::string rec(int* s, int size = 256) {
  std::vector<char> line((size_t)size);
  int n = tcp_rec(s, line.data(), size);
  return n < 0 ? "<closed>" : std::string(line.data(), (size_t)n);
}

class TcpUtil : public ::testing::Test {
 protected:
  void SetUp() override {
    otOptionsDefaults(&opt);
    opt.plugin_dir[0] = '\0';
    tcp_init();
  }
  void TearDown() override {
    for (int i = 1; i <= 32; i++) {
      int s = i;
      tcp_close(&s);
    }
    tcp_free();
  }
};

TEST_F(TcpUtil, LinesAreCutAtSizeAndServedInOrder) {
  Listener server;
  int s = tcp_con("127.0.0.1", server.port());
  ASSERT_GE(s, 1);
  ASSERT_LE(s, 32);
  int peer = server.accept();
  ASSERT_GE(peer, 0);

  put(peer, "abcdefghijklmnopqrs\none\ntwo\n");
  EXPECT_EQ(rec(&s, 10), "abcdefghi");
  EXPECT_EQ(rec(&s, 10), "jklmnopqr");
  EXPECT_EQ(rec(&s, 10), "s\n");
  EXPECT_EQ(rec(&s, 10), "one\n");
  // Whole lines taken ahead are served first, to binary reads as well.
  EXPECT_EQ(tcp_line_ready(&s, 10), 1);
  char two[2];
  ASSERT_EQ(tcp_rec_binary(&s, two, 2), 2);
  EXPECT_EQ(std::string(two, 2), "tw");
  EXPECT_EQ(rec(&s, 10), "o\n");
  EXPECT_EQ(tcp_line_ready(&s, 10), 0);

  char tiny[1] = {'x'};
  EXPECT_EQ(tcp_rec(&s, tiny, 1), 0);
  EXPECT_EQ(tiny[0], '\0');

  // A line that arrives in pieces is put together.
  std::thread late([peer] {
    put(peer, "hel");
    usleep(50000);
    put(peer, "lo\n");
  });
  EXPECT_EQ(rec(&s), "hello\n");
  late.join();
}

TEST_F(TcpUtil, BinaryBlocksAndSends) {
  Listener server;
  int s = tcp_con("localhost", server.port());
  int peer = server.accept();
  ASSERT_GE(peer, 0);

  std::string block(300000, '\0');
  for (size_t i = 0; i < block.size(); i++)
    block[i] = (char)(i * 7);
  std::thread writer([peer, &block] { put(peer, block + "after\n"); });
  std::vector<char> buf(block.size());
  EXPECT_EQ(tcp_rec_binary(&s, buf.data(), (int)buf.size()), (int)buf.size());
  writer.join();
  EXPECT_TRUE(std::string(buf.data(), buf.size()) == block);
  EXPECT_EQ(rec(&s), "after\n");
  EXPECT_EQ(tcp_rec_binary(&s, buf.data(), 0), 0);
  EXPECT_EQ(tcp_rec_binary(&s, buf.data(), -1), -1);
  EXPECT_EQ(s, 1);  // a bad length is the caller's fault, not a broken connection

  EXPECT_EQ(tcp_send(&s, "QPushButton(4)\n", 15), 15);
  EXPECT_EQ(take(peer, 15), "QPushButton(4)\n");

  // Closing says goodbye; the holder keeps its slot number, a second close is refused.
  EXPECT_EQ(tcp_close(&s), 0);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(take(peer, 7), "shutup\n");
  EXPECT_TRUE(peerClosed(peer));
  EXPECT_EQ(tcp_close(&s), -1);
}

TEST_F(TcpUtil, ServerHangUpMarksTheHandleClosed) {
  Listener server;
  int before = ottest::openFdCount();
  int s = tcp_con("127.0.0.1", server.port());
  int peer = server.accept();
  ASSERT_GE(peer, 0);
  server.hangUp(peer);

  char line[16] = "garbage";
  EXPECT_EQ(tcp_rec(&s, line, sizeof(line)), -1);
  EXPECT_STREQ(line, "\n");
  EXPECT_EQ(s, -1);
  EXPECT_EQ(ottest::openFdCount(), before);  // closed once, by the call that found the break
  EXPECT_EQ(tcp_send(&s, "x\n", 2), -1);
  EXPECT_EQ(tcp_rec_binary(&s, line, 4), -1);
  EXPECT_EQ(tcp_close(&s), -1);
  EXPECT_EQ(tcp_fd(&s), -1);

  EXPECT_EQ(tcp_rec(nullptr, line, sizeof(line)), -1);
  EXPECT_EQ(tcp_rec_binary(nullptr, line, 4), -1);
  EXPECT_EQ(tcp_send(nullptr, "x", 1), -1);
  EXPECT_EQ(tcp_close(nullptr), -1);

  // Mid-block and while sending: no signal, the handle just becomes -1.
  s = tcp_con("127.0.0.1", server.port());
  peer = server.accept();
  put(peer, "0123456789");
  server.hangUp(peer);
  EXPECT_EQ(tcp_rec_binary(&s, line, 12), -1);
  EXPECT_EQ(s, -1);

  s = tcp_con("127.0.0.1", server.port());
  peer = server.accept();
  server.hangUp(peer);
  std::string chunk(65536, 'x');
  int result = 0;
  for (int i = 0; i < 200 && result >= 0; i++)
    result = tcp_send(&s, chunk.data(), (int)chunk.size());
  EXPECT_EQ(result, -1);
  EXPECT_EQ(s, -1);
  EXPECT_EQ(ottest::openFdCount(), before);
}

TEST_F(TcpUtil, FullTableAnswers33AndKeepsNoSocket) {
  Listener server;
  std::vector<int> handles;
  for (int i = 0; i < 32; i++)
    handles.push_back(tcp_con("127.0.0.1", server.port()));
  for (int i = 0; i < 32; i++)
    EXPECT_EQ(handles[(size_t)i], i + 1);
  int before = ottest::openFdCount();
  EXPECT_EQ(tcp_con("127.0.0.1", server.port()), 33);
  EXPECT_EQ(ottest::openFdCount(), before);
  int full = 33;
  char line[8];
  EXPECT_EQ(tcp_rec(&full, line, sizeof(line)), -1);

  // A closed slot is handed out again.
  EXPECT_EQ(tcp_close(&handles[4]), 0);
  EXPECT_EQ(tcp_con("127.0.0.1", server.port()), 5);
}

TEST_F(TcpUtil, ConnectFailures) {
  Listener server;
  int unused = ottest::freePort();
  opt.connect_timeout = 2;
  opt.debug = 1;
  ottest::CaptureStdout out;

  EXPECT_EQ(tcp_con(kUnresolvable, server.port()), -1);

  // A refused timed connect is not a connection: the slot holds -1 and fails at first use.
  int s = tcp_con("127.0.0.2", unused);
  EXPECT_GE(s, 1);
  EXPECT_EQ(tcp_fd(&s), -1);
  EXPECT_EQ(tcp_send(&s, "x\n", 2), -1);
  EXPECT_EQ(s, -1);
  // The same without a time-out and for a local host.
  opt.connect_timeout = 0;
  int blocking = tcp_con("127.0.0.2", unused);
  EXPECT_EQ(tcp_fd(&blocking), -1);
  int local = tcp_con("localhost", unused);
  EXPECT_EQ(tcp_fd(&local), -1);

  // A refused first address: the next one is tried, with and without the time-out.
  opt.connect_timeout = 2;
  int two = tcp_con(kTwoAddresses, server.port());
  EXPECT_GE(tcp_fd(&two), 0);
  int peer = server.accept();
  ASSERT_GE(peer, 0);
  put(peer, "hi\n");
  EXPECT_EQ(rec(&two), "hi\n");
  opt.connect_timeout = 0;
  int twoBlocking = tcp_con(kTwoAddresses, server.port());
  EXPECT_GE(tcp_fd(&twoBlocking), 0);

  std::string text = out.text();
  std::string port = std::to_string(server.port());
  EXPECT_NE(
      text.find(std::string("tcp_con 1: error for ") + kUnresolvable + " port=" + port + " : "),
      std::string::npos);
  EXPECT_NE(text.find("tcp_con 2: error for 127.0.0.2 port=" + std::to_string(unused) + "\n"),
            std::string::npos);
  EXPECT_NE(text.find("start connect_timed\ntry connect\n"), std::string::npos);
  EXPECT_NE(text.find("wait 2 seconds\nafter wait\n"), std::string::npos);
  EXPECT_NE(text.find("connect_timed::ERROR could not connect within 2 seconds (tcputil)\n"),
            std::string::npos);
  EXPECT_NE(text.find("end ret=-1\n"), std::string::npos);
  EXPECT_NE(text.find("end ret=0\n"), std::string::npos);
}

TEST_F(TcpUtil, TraceLines) {
  Listener server;
  opt.nettrace = 1;
  ottest::CaptureStdout out;
  int s = tcp_con("127.0.0.1", server.port());
  int peer = server.accept();
  ASSERT_GE(peer, 0);
  put(peer, "setText(1,\"a\")\n");
  rec(&s);
  tcp_send(&s, "text(1,\"b\")\n", 12);
  server.hangUp(peer);
  rec(&s);
  std::string expected = "conn=127.0.0.1 port=" + std::to_string(server.port()) +
                         "\nrecv=setText(1,\"a\")\nsend=text(1,\"b\")\nclose connection\n";
  EXPECT_EQ(out.text(), expected);
}

void noop(int) {}

// State letter of a thread of this process ('S' while it sleeps in a system call).
char threadState(long tid) {
  std::string stat = ottest::readFile("/proc/self/task/" + std::to_string(tid) + "/stat");
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() ? stat[paren + 2] : '?';
}

TEST_F(TcpUtil, InterruptedReadsGoOn) {
  Listener server;
  int s = tcp_con("127.0.0.1", server.port());
  int peer = server.accept();
  ASSERT_GE(peer, 0);

  struct sigaction action {};
  struct sigaction old {};
  action.sa_handler = noop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked recv returns EINTR
  ASSERT_EQ(sigaction(SIGALRM, &action, &old), 0);

  pthread_t reader = pthread_self();
  long readerTid = syscall(SYS_gettid);
  std::atomic<int> signalled{0};
  auto interruptThenSend = [&](const std::string& data) {
    return std::thread([&, data] {
      for (int i = 0; i < 200 && threadState(readerTid) != 'S'; i++)
        usleep(5000);
      usleep(20000);
      pthread_kill(reader, SIGALRM);
      signalled++;
      usleep(50000);
      put(peer, data);
    });
  };

  std::thread t1 = interruptThenSend("line\n");
  EXPECT_EQ(rec(&s), "line\n");
  t1.join();
  std::thread t2 = interruptThenSend("12345");
  char block[5];
  EXPECT_EQ(tcp_rec_binary(&s, block, 5), 5);
  t2.join();
  EXPECT_EQ(std::string(block, 5), "12345");
  EXPECT_EQ(signalled.load(), 2);
  EXPECT_GE(tcp_fd(&s), 0);
  sigaction(SIGALRM, &old, nullptr);
}

// ---- The communication plug-in ----

// The plug-ins as a client finds them: copied into a folder of their own, since the test may
// run in the build folder, and a plug-in folder that is the working directory is refused.
const char* installed(const char* built, std::string* keep) {
  static ottest::TempDir folder;
  if (keep->empty()) {
    *keep = folder.file(std::string(built).substr(std::string(built).rfind('/') + 1));
    std::ifstream in(built, std::ios::binary);
    std::ofstream out(*keep, std::ios::binary);
    out << in.rdbuf();
    out.close();
    chmod(keep->c_str(), 0755);
  }
  return keep->c_str();
}
const char* tunnelPlugin() {
  static std::string path;
  return installed(TUNNEL_PLUGIN, &path);
}
const char* noswitchPlugin() {
  static std::string path;
  return installed(TUNNEL_NOSWITCH_PLUGIN, &path);
}

std::string dirOf(const std::string& path) {
  return path.substr(0, path.rfind('/'));
}

std::string nameOf(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

// The plug-in's steering functions, reached through the library that tcp_init loaded.
class Tunnel {
 public:
  explicit Tunnel(const char* path) : lib_(dlopen(path, RTLD_LAZY | RTLD_NOLOAD)) {}
  ~Tunnel() {
    if (lib_ != nullptr) dlclose(lib_);
  }
  Tunnel(const Tunnel&) = delete;
  Tunnel& operator=(const Tunnel&) = delete;
  bool loaded() const { return lib_ != nullptr; }
  void reset(int decline, int keep) { fn<void (*)(int, int)>("tunnel_reset")(decline, keep); }
  // tunnel_close_calls, tunnel_last_close_slot, tunnel_switch_slot, tunnel_kept_socket,
  // tunnel_release
  int get(const char* name) { return fn<int (*)()>(name)(); }
  int useFlag(int slot) { return fn<int (*)(int)>("tunnel_use_flag")(slot); }
  std::string switchLine() { return fn<const char* (*)()>("tunnel_switch_line")(); }

 private:
  template <typename F>
  F fn(const char* name) {
    return reinterpret_cast<F>(dlsym(lib_, name));
  }
  void* lib_;
};

// What tcp_init prints.
std::string initOutput() {
  ottest::CaptureStdout out;
  tcp_init();
  return out.text();
}

class TcpPlugin : public TcpUtil {
 protected:
  // Loads plugin by name from its directory, the way a client configures it.
  void load(const char* plugin, int decline = 0, int keep = 0) {
    otOptionsDefaults(&opt);
    snprintf(opt.plugin_dir, sizeof(opt.plugin_dir), "%s", dirOf(plugin).c_str());
    snprintf(opt.hxc_com_plugin, sizeof(opt.hxc_com_plugin), "%s", nameOf(plugin).c_str());
    tcp_init();
    tunnel.reset(new Tunnel(plugin));
    ASSERT_TRUE(tunnel->loaded());
    tunnel->reset(decline, keep);
  }
  void TearDown() override {
    TcpUtil::TearDown();
    if (tunnel) tunnel->get("tunnel_release");
    tunnel.reset();
  }
  std::unique_ptr<Tunnel> tunnel;
};

TEST_F(TcpPlugin, PathRulesAndDebugLines) {
  opt.debug = 1;
  snprintf(opt.plugin_dir, sizeof(opt.plugin_dir), "%s", dirOf(tunnelPlugin()).c_str());
  snprintf(opt.hxc_com_plugin, sizeof(opt.hxc_com_plugin), "%s", nameOf(tunnelPlugin()).c_str());
  std::string text = initOutput();
  EXPECT_EQ(text.find(std::string("Load communication plugin: tcp_init(") + tunnelPlugin() + ")\n"),
            0u);
  EXPECT_EQ(text.find("bifrost = 0\n"), std::string::npos);
  EXPECT_NE(text.find("bifrost = "), std::string::npos);
  for (const char* line :
       {"hxc_com_con        = ", "hxc_com_rec        = ", "hxc_com_rec_binary = ",
        "hxc_com_send       = ", "hxc_com_close      = ", "hxc_com_plugin_on  = "}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(text.find(std::string(line) + "0\n"), std::string::npos) << line;
  }
  EXPECT_TRUE(Tunnel(tunnelPlugin()).loaded());

  // A name with a slash is refused, whatever it names; the variant by name lacks the switch.
  snprintf(opt.plugin_dir, sizeof(opt.plugin_dir), "/nonexistent");
  snprintf(opt.hxc_com_plugin, sizeof(opt.hxc_com_plugin), "%s", noswitchPlugin());
  text = initOutput();
  EXPECT_NE(text.find("refused: a plug-in is given by a plain file name"), std::string::npos);
  EXPECT_FALSE(Tunnel(noswitchPlugin()).loaded());
  snprintf(opt.plugin_dir, sizeof(opt.plugin_dir), "%s", dirOf(noswitchPlugin()).c_str());
  snprintf(opt.hxc_com_plugin, sizeof(opt.hxc_com_plugin), "%s", nameOf(noswitchPlugin()).c_str());
  text = initOutput();
  EXPECT_NE(text.find("hxc_com_plugin_on  = 0\n"), std::string::npos);
  EXPECT_EQ(text.find("hxc_com_send       = 0\n"), std::string::npos);
  EXPECT_FALSE(Tunnel(tunnelPlugin()).loaded());  // the earlier one was unloaded
  EXPECT_TRUE(Tunnel(noswitchPlugin()).loaded());

  // Missing, and a path that does not fit: plain TCP, said so.
  snprintf(opt.plugin_dir, sizeof(opt.plugin_dir), "/nonexistent");
  snprintf(opt.hxc_com_plugin, sizeof(opt.hxc_com_plugin), "missing.so");
  text = initOutput();
  EXPECT_NE(text.find("could not load hxc_com_plugin=/nonexistent/missing.so\n"),
            std::string::npos);
  EXPECT_NE(text.find("bifrost = 0\nhxc_com_con        = 0\n"), std::string::npos);
  std::string longDir = "/" + std::string(1000, 'd');
  snprintf(opt.plugin_dir, sizeof(opt.plugin_dir), "%s", longDir.c_str());
  snprintf(opt.hxc_com_plugin, sizeof(opt.hxc_com_plugin), "%s", std::string(30, 'n').c_str());
  text = initOutput();
  EXPECT_EQ(text, "could not load hxc_com_plugin=" + std::string(30, 'n') + "\n");

  // The plug-in asked for is missing: no connection, rather than one in plain TCP.
  Listener server;
  tcp_clear_broken_reason();
  EXPECT_EQ(tcp_con("127.0.0.1", server.port()), -1);
  EXPECT_EQ(std::string(tcp_broken_reason()),
            "the communication plug-in " + std::string(30, 'n') + " cannot be loaded");
  opt.hxc_com_plugin[0] = '\0';
  initOutput();
  int s = tcp_con("127.0.0.1", server.port());
  EXPECT_GE(tcp_fd(&s), 0);
}

// A plug-in runs code as soon as it is loaded: one that a server could have put in place, or
// that someone else could change, is refused before dlopen, and says why.
class PluginRefusal : public TcpUtil {
 protected:
  void SetUp() override {
    TcpUtil::SetUp();
    marker = base.file("marker");
    setenv("OTKIT_PLUGIN_MARKER", marker.c_str(), 1);
    folder = base.file("plugins");
    downloads = base.file("downloads");
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    ASSERT_EQ(0, mkdir(downloads.c_str(), 0700));
    ASSERT_EQ(0, mkdir(base.file("work").c_str(), 0700));
    snprintf(opt.download_dir, sizeof(opt.download_dir), "%s", downloads.c_str());
  }
  void TearDown() override {
    TcpUtil::TearDown();
    unsetenv("OTKIT_PLUGIN_MARKER");
  }
  // A copy of the marker plug-in (a file of its own, so that each load runs its constructor).
  void place(const std::string& path, mode_t mode = 0755) {
    std::ifstream in(MARKER_PLUGIN, std::ios::binary);
    std::ofstream out(path, std::ios::binary);
    out << in.rdbuf();
    out.close();
    ASSERT_EQ(0, chmod(path.c_str(), mode));
  }
  bool ran() { return std::ifstream(marker).good(); }
  // tcp_init with the command line (after the defaults), run in the folder work/.
  std::string initWith(std::vector<std::string> args) {
    ottest::ScopedChdir here(base.file("work"));
    std::string downloadsArg = "-downloads=" + downloads;
    args.insert(args.begin(), downloadsArg);
    args.insert(args.begin(), "otclient");
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(&a[0]);
    EXPECT_EQ(0, otOptionsParseArgs(&opt, (int)argv.size(), argv.data()));
    return initOutput();
  }

  ottest::TempDir base;
  std::string marker, folder, downloads;
};

TEST_F(PluginRefusal, PathsAFilesServerCouldReachAreRefused) {
  place(base.file("work/libevil.so"));
  place(downloads + "/libevil.so");
  struct Case {
    std::vector<std::string> args;
    const char* why;
  } cases[] = {
      {{"-plugin=./libevil.so"}, "a plug-in is given by a plain file name"},
      {{"-plugin=libevil.so", "-plugindir=."}, "the plug-in folder must be an absolute path"},
      {{"-plugin=libevil.so", "-plugindir=" + base.file("work")},
       "the plug-in folder is the working directory"},
      {{"-plugin=../downloads/libevil.so", "-plugindir=" + folder},
       "a plug-in is given by a plain file name"},
      {{"-plugin=..libevil.so", "-plugindir=" + folder}, "a plug-in is given by a plain file name"},
      {{"-plugin=libevil.so", "-plugindir=" + downloads},
       "the plug-in folder is the downloads folder"},
  };
  for (const Case& c : cases) {
    std::string text = initWith(c.args);
    EXPECT_NE(text.find(std::string("refused: ") + c.why), std::string::npos) << c.args[0] << text;
    EXPECT_FALSE(ran()) << c.args[0];
  }
  // An ini file a server wrote, naming the downloads folder as the plug-in folder.
  std::string ini = downloads + "/evil.ini";
  std::ofstream(ini) << "[plugin]\nfile=libevil.so\ndir=" << downloads << "\n";
  std::string text = initWith({"-ini=" + ini});
  EXPECT_NE(text.find("refused: the plug-in folder is the downloads folder"), std::string::npos)
      << text;
  EXPECT_FALSE(ran());
}

TEST_F(PluginRefusal, OwnerPermissionsAndLinksAreChecked) {
  place(folder + "/libgroup.so", 0775);
  std::string text = initWith({"-plugin=libgroup.so", "-plugindir=" + folder});
  EXPECT_NE(text.find("refused: writable by group or others"), std::string::npos) << text;
  place(base.file("libfar.so"));
  ASSERT_EQ(0, symlink(base.file("libfar.so").c_str(), (folder + "/liblink.so").c_str()));
  text = initWith({"-plugin=liblink.so", "-plugindir=" + folder});
  EXPECT_NE(text.find("refused: a symbolic link"), std::string::npos) << text;
  place(folder + "/libok.so");
  ASSERT_EQ(0, chmod(folder.c_str(), 0777));
  text = initWith({"-plugin=libok.so", "-plugindir=" + folder});
  EXPECT_NE(text.find("refused: writable by group or others"), std::string::npos) << text;
  ASSERT_EQ(0, chmod(folder.c_str(), 0700));
  if (getuid() == 0) {
    // Root can hand the file to another user; nobody else can, and then the case is moot.
    place(folder + "/libforeign.so");
    ASSERT_EQ(0, chown((folder + "/libforeign.so").c_str(), 65534, 65534));
    text = initWith({"-plugin=libforeign.so", "-plugindir=" + folder});
    EXPECT_NE(text.find("refused: owned by another user"), std::string::npos) << text;
  }
  EXPECT_FALSE(ran());

  // The proper plug-in in its proper folder still loads.
  text = initWith({"-plugin=libok.so", "-plugindir=" + folder});
  EXPECT_EQ(text.find("refused"), std::string::npos) << text;
  EXPECT_TRUE(ran());
}

TEST_F(TcpPlugin, ConnectionThroughThePlugin) {
  load(tunnelPlugin());
  Listener server;
  opt.debug = 1;
  std::string text;
  int s;
  {
    ottest::CaptureStdout out;
    s = tcp_con("127.0.0.1", server.port());
    text = out.text();
  }
  ASSERT_EQ(s, 1);
  EXPECT_EQ(tcp_fd(&s), -1);
  EXPECT_EQ(text.find("plugin returned use_plugin=1\nuse_hxc_con_plugin[1]="), 0u);
  opt.debug = 0;
  int peer = server.accept();
  ASSERT_GE(peer, 0);
  EXPECT_EQ(take(peer, 7), "tunnel\n");

  EXPECT_EQ(tcp_send(&s, "hello\n", 6), 6);
  EXPECT_EQ(take(peer, 9), "[6]hello\n");
  EXPECT_EQ(tunnel->useFlag(1), 1);
  put(peer, "[4]abc\n[3]xyz");
  EXPECT_EQ(rec(&s), "abc\n");
  char block[3];
  EXPECT_EQ(tcp_rec_binary(&s, block, 3), 3);
  EXPECT_EQ(std::string(block, 3), "xyz");

  // Farewell through the tunnel; the plug-in leaves the closing to the connection layer.
  EXPECT_EQ(tcp_close(&s), 0);
  EXPECT_EQ(take(peer, 10), "[7]shutup\n");
  EXPECT_TRUE(peerClosed(peer));
  EXPECT_EQ(tunnel->get("tunnel_close_calls"), 1);
  EXPECT_EQ(tunnel->get("tunnel_last_close_slot"), 1);

  // A negative answer of the plug-in's read marks the handle closed.
  s = tcp_con("127.0.0.1", server.port());
  peer = server.accept();
  server.hangUp(peer);
  char line[8];
  EXPECT_EQ(tcp_rec(&s, line, sizeof(line)), -1);
  EXPECT_STREQ(line, "\n");
  EXPECT_EQ(s, -1);
}

TEST_F(TcpPlugin, CloseDoneByThePluginIsNotRepeated) {
  load(tunnelPlugin(), 0, 1);
  Listener server;
  int s = tcp_con("127.0.0.1", server.port());
  int peer = server.accept();
  ASSERT_GE(peer, 0);
  EXPECT_EQ(take(peer, 7), "tunnel\n");
  EXPECT_EQ(tcp_close(&s), 0);
  EXPECT_EQ(take(peer, 10), "[7]shutup\n");
  int kept = tunnel->get("tunnel_kept_socket");
  ASSERT_GE(kept, 0);
  EXPECT_NE(fcntl(kept, F_GETFD), -1);  // still open: the layer did not close it behind
  char c;
  EXPECT_EQ(recv(peer, &c, 1, MSG_DONTWAIT), -1);
  EXPECT_EQ(tunnel->get("tunnel_release"), 1);
  EXPECT_TRUE(peerClosed(peer));
}

TEST_F(TcpPlugin, FullTableHandsTheConnectionBackToThePlugin) {
  load(tunnelPlugin());
  Listener server;
  for (int i = 0; i < 32; i++)
    ASSERT_EQ(tcp_con("127.0.0.1", server.port()), i + 1);
  int before = ottest::openFdCount();
  EXPECT_EQ(tcp_con("127.0.0.1", server.port()), 33);
  EXPECT_EQ(ottest::openFdCount(), before);
  EXPECT_EQ(tunnel->get("tunnel_last_close_slot"), 33);
}

// The server switches a plain connection to the plug-in with a line that the plug-in's
// first message follows at once; a line before it arrives in the same segment.
const char kSwitchStream[] = "before\n@plugin(tunnel)\n[5]abcd\n";

TEST_F(TcpPlugin, SwitchLineHandsAPlainConnectionToThePlugin) {
  load(tunnelPlugin(), 1);
  Listener server;
  int s = tcp_con("127.0.0.1", server.port());
  EXPECT_GE(tcp_fd(&s), 0);  // declined by the plug-in: plain TCP
  int peer = server.accept();
  ASSERT_GE(peer, 0);
  put(peer, kSwitchStream);
  EXPECT_EQ(rec(&s), "before\n");
  EXPECT_EQ(rec(&s), "@plugin(tunnel)\n");
  EXPECT_EQ(tunnel->get("tunnel_switch_slot"), s);
  EXPECT_EQ(tunnel->switchLine(), "@plugin(tunnel)\n");
  EXPECT_EQ(tcp_fd(&s), -1);
  EXPECT_EQ(rec(&s), "abcd\n");
  EXPECT_EQ(tcp_send(&s, "hello\n", 6), 6);
  EXPECT_EQ(take(peer, 9), "[6]hello\n");
}

TEST_F(TcpPlugin, NoSwitchWithoutTheEntryPoint) {
  load(noswitchPlugin(), 1);
  Listener server;
  int s = tcp_con("127.0.0.1", server.port());
  int peer = server.accept();
  ASSERT_GE(peer, 0);
  put(peer, kSwitchStream);
  EXPECT_EQ(rec(&s), "before\n");
  EXPECT_EQ(rec(&s), "@plugin(tunnel)\n");
  EXPECT_GE(tcp_fd(&s), 0);
  EXPECT_EQ(rec(&s), "[5]abcd\n");
  EXPECT_EQ(tcp_send(&s, "hello\n", 6), 6);
  EXPECT_EQ(take(peer, 6), "hello\n");
}

}  // namespace
