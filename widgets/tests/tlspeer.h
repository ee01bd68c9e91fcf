// A TLS display server played by OpenSSL's own `openssl s_server` for the TLS plug-in's
// tests, and the certificates it shows, made with `openssl req` and `openssl x509` into a
// temporary folder: a CA, a server certificate it signed for localhost and 127.0.0.1, one it
// signed for another host only, and a second CA that signed neither.
//
// s_server sends what is written to its standard input (a write of up to 4096 bytes in one
// record) and prints what it receives on its standard output. A read of its input that begins
// with 'q' or 'Q' ends the connection or the server: test data avoids it.
#ifndef OTCLIENT_TLSPEER_H
#define OTCLIENT_TLSPEER_H

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ottime.h"
#include "testutil.h"

namespace tlstest {

// True when the openssl program is there to play the server.
inline bool haveOpenssl() {
  return system("openssl version >/dev/null 2>&1") == 0;
}

inline bool run(const std::string& command) {
  return system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The certificates of a test run. made is false when openssl failed.
struct Certificates {
  ottest::TempDir dir;
  std::string ca, otherCa, server, serverKey, elsewhere, elsewhereKey;
  bool made = false;

  Certificates() {
    const std::string d = dir.path();
    ca = d + "/ca.pem";
    otherCa = d + "/other-ca.pem";
    server = d + "/server.pem";
    serverKey = d + "/server.key";
    elsewhere = d + "/elsewhere.pem";
    elsewhereKey = d + "/elsewhere.key";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    auto makeCa = [&](const std::string& pem, const std::string& key, const std::string& name) {
      return run(
          "openssl req -x509" + ec + " -keyout " + key + " -out " + pem +
          " -days 2 -subj '/CN=" + name +
          "' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign");
    };
    auto makeLeaf = [&](const std::string& pem, const std::string& key, const std::string& names) {
      ottest::writeFile(d + "/ext.cnf", "subjectAltName=" + names + "\n");
      return run("openssl req" + ec + " -keyout " + key + " -out " + d +
                 "/leaf.csr -subj /CN=leaf") &&
             run("openssl x509 -req -in " + d + "/leaf.csr -CA " + ca + " -CAkey " + d +
                 "/ca.key -CAcreateserial -days 2 -out " + pem + " -extfile " + d + "/ext.cnf");
    };
    made = makeCa(ca, d + "/ca.key", "otkit test CA") &&
           makeCa(otherCa, d + "/other-ca.key", "otkit other CA") &&
           makeLeaf(server, serverKey, "DNS:localhost,IP:127.0.0.1") &&
           makeLeaf(elsewhere, elsewhereKey, "DNS:elsewhere.otkit.test");
  }

  // The SHA-256 fingerprint of a certificate as openssl prints it ("AB:CD:..."), "" on error.
  std::string fingerprint(const std::string& pem) const {
    std::string out = dir.path() + "/fingerprint.txt";
    if (!run("openssl x509 -in " + pem + " -noout -fingerprint -sha256 -out " + out)) return "";
    std::string text = ottest::readFile(out);
    size_t eq = text.find('=');
    if (eq == std::string::npos) return "";
    text = text.substr(eq + 1);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
      text.pop_back();
    return text;
  }
};

// One `openssl s_server` on 127.0.0.1, for one connection.
class SServer {
 public:
  // Starts it with the certificate and key and the extra arguments ("-tls1_3", "-tls1_2");
  // started() tells whether it listens.
  SServer(const std::string& cert, const std::string& key, const std::vector<std::string>& extra) {
    signal(SIGPIPE, SIG_IGN);  // a server gone while the test writes to it is a failed send
    for (int attempt = 0; attempt < 5 && !listening_; attempt++) {
      stop();
      port_ = ottest::freePort();
      std::vector<std::string> args = {
          "openssl",  "s_server", "-accept", "127.0.0.1:" + std::to_string(port_),
          "-cert",    cert,       "-key",    key,
          "-naccept", "1"};
      args.insert(args.end(), extra.begin(), extra.end());
      spawn(args);
      listening_ = waitFor("ACCEPT\n", 5000);
    }
  }
  ~SServer() { stop(); }
  SServer(const SServer&) = delete;
  SServer& operator=(const SServer&) = delete;

  bool started() const { return listening_; }
  int port() const { return port_; }
  // Sends data to the client (in records of at most 16 KiB as s_server reads its input).
  bool send(const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
      ssize_t n = ::write(in_, data.data() + off, data.size() - off);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      off += (size_t)n;
    }
    return true;
  }
  // Waits until the server's output holds text; what came is kept in output().
  bool waitFor(const std::string& text, int ms) {
    long long end = otMonotonicMs() + ms;
    while (out_.find(text) == std::string::npos) {
      long long left = end - otMonotonicMs();
      if (left <= 0 || outFd_ < 0) return false;
      struct pollfd p = {outFd_, POLLIN, 0};
      if (poll(&p, 1, (int)left) <= 0) continue;
      char buf[4096];
      ssize_t n = ::read(outFd_, buf, sizeof buf);
      if (n <= 0) return out_.find(text) != std::string::npos;
      out_.append(buf, (size_t)n);
    }
    return true;
  }
  const std::string& output() const { return out_; }
  // Ends the server's standard input and the server.
  void stop() {
    if (in_ >= 0) close(in_);
    if (outFd_ >= 0) close(outFd_);
    in_ = outFd_ = -1;
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    out_.clear();
  }

 private:
  void spawn(const std::vector<std::string>& args) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
      close(in[0]);
      close(in[1]);
      return;
    }
    std::vector<char*> argv;
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, 2);
      execvp("openssl", argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    outFd_ = out[0];
  }

  pid_t pid_ = -1;
  int in_ = -1, outFd_ = -1, port_ = -1;
  bool listening_ = false;
  std::string out_;
};

}  // namespace tlstest

#endif
