// Helpers of the broker tests: Debian's mosquitto as a real broker on a free loopback port
// with a configuration of its own, and a listener that records what the broker carries.
#ifndef BROKERTEST_H
#define BROKERTEST_H

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "modbussim_child.h"
#include "otmqtt.h"
#include "otspcodec.h"
#include "testutil.h"

namespace brokertest {

inline std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

inline std::string unhex(const std::string& text) {
  std::string out;
  for (size_t i = 0; i + 1 < text.size(); i += 2)
    out += (char)strtol(text.substr(i, 2).c_str(), nullptr, 16);
  return out;
}

#ifdef OTKIT_NODE
// Runs the peer codec (sp_peer.js) with mode and its argument: its output, or "" with a test
// failure when it cannot run.
inline std::string peer(const std::string& mode, const std::string& arg) {
  const char* dir = getenv("OTKIT_SPARKPLUG_PEER_DIR");
  std::string modules =
      std::string(dir != nullptr ? dir : "/var/cache/otkit/sparkplug-peer") + "/node_modules";
  setenv("NODE_PATH", modules.c_str(), 1);
  std::string quoted = "'";
  for (char c : arg)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  std::string command = std::string(OTKIT_NODE) + " " OTKIT_TEST_SOURCE_DIR "/sp_peer.js " + mode +
                        " " + quoted + " 2>&1";
  FILE* fp = popen(command.c_str(), "r");
  if (fp == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return "";
  }
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, fp)) > 0)
    out.append(buf, n);
  int status = pclose(fp);
  EXPECT_EQ(0, status) << "the peer codec (sparkplug-payload in " << modules
                       << ", installed by scripts/install-deps.sh): " << out;
  return out;
}
#endif

// Waits up to ms until pred holds.
template <typename Pred>
bool waitFor(Pred pred, int ms) {
  long long end = modbussim::nowMs() + ms;
  while (!pred()) {
    if (modbussim::nowMs() >= end) return false;
    usleep(10000);
  }
  return true;
}

// A program the test still runs at its end stops cleanly on SIGTERM, and no sanitizer spoke in
// it.
inline void expectCleanStop(modbussim::Child& c) {
  if (!c.running()) return;
  EXPECT_TRUE(modbussim::exitedWith(c.stop(SIGTERM, 10000), 0)) << c.output();
  EXPECT_EQ(std::string::npos, c.output().find("Sanitizer")) << c.output();
}

class Mosquitto {
 public:
  explicit Mosquitto(const ottest::TempDir& dir) : dir_(dir) {}
  // The next start() serves TLS only, with a certificate of a CA made for it (caFile()).
  void useTls() { tls_ = true; }
  std::string caFile() const { return dir_.path() + "/ca.crt"; }
  // Starts the broker on port (a free one when 0); false with the broker's output otherwise.
  // With a user, only that user with that password may connect.
  bool start(int port = 0, const std::string& user = "", const std::string& password = "") {
    port_ = port > 0 ? port : ottest::freePort();
    std::string conf = dir_.file("mosquitto-" + std::to_string(port_) + ".conf");
    std::string access = "allow_anonymous true\n";
    if (tls_) {
      // A CA of the test's own, and the broker's certificate for 127.0.0.1 signed by it.
      const std::string d = dir_.path() + "/";
      const std::string make =
          "(cd " + d +
          " && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=otkit-ca"
          " -keyout ca.key -out ca.crt && openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1"
          " -keyout broker.key -out broker.csr && echo subjectAltName=IP:127.0.0.1 > san.ext &&"
          " openssl x509 -req -in broker.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 1"
          " -extfile san.ext -out broker.crt) > " +
          d + "openssl.log 2>&1";
      if (system(make.c_str()) != 0) return false;
      access +=
          "cafile " + d + "ca.crt\ncertfile " + d + "broker.crt\nkeyfile " + d + "broker.key\n";
    }
    if (!user.empty()) {
      std::string file = dir_.file("passwords-" + std::to_string(port_));
      std::string make = "mosquitto_passwd -b -c " + file + " " + user + " " + password;
      if (system(make.c_str()) != 0) return false;
      access = "allow_anonymous false\npassword_file " + file + "\n";
    }
    // Started as root, mosquitto would change to its own user, which cannot read the test's
    // private directory: it stays the user that starts it. Without set_tcp_nodelay the
    // broker's small messages wait for their subscriber's delayed ACK (about 40 ms).
    ottest::writeFile(conf, "listener " + std::to_string(port_) + " 127.0.0.1\n" + access +
                                "persistence false\nuser root\nset_tcp_nodelay true\n"
                                "log_dest stdout\n");
    if (child_.start({"/usr/sbin/mosquitto", "-c", conf}, dir_.file("mosquitto.log")) != 0)
      return false;
    return modbussim::waitForTcp(port_, 10000, &child_);
  }
  void kill(int sig = SIGKILL) { child_.stop(sig, 5000); }
  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string output() const { return child_.output(); }

 private:
  const ottest::TempDir& dir_;
  modbussim::Child child_;
  int port_ = 0;
  bool tls_ = false;
};

// One message as the broker delivered it.
struct Message {
  std::string topic;
  std::string bytes;
  otSpPayload payload;  // decoded when ok
  bool ok = false;
};

// A client of its own that subscribes to everything of Sparkplug and keeps what arrives.
class Listener {
 public:
  explicit Listener(const std::string& broker) {
    otMqttOptions o;
    std::string error;
    otMqttSession::parseBrokers(broker, &o.brokers, &error);
    o.clientId = "test-listener-" + std::to_string(getpid());
    o.retryMs = 100;
    session_.reset(new otMqttSession(o));
    session_->connected = [this] { session_->subscribe("spBv1.0/#", 1); };
    session_->subscribed = [this] { subscribed_ = true; };
    session_->message = [this](const std::string& t, const unsigned char* d, int n) {
      Message m;
      m.topic = t;
      m.bytes.assign(reinterpret_cast<const char*>(d), (size_t)n);
      std::string why;
      m.ok = otSpDecode(d, (size_t)n, &m.payload, &why);
      messages.push_back(m);
    };
  }
  // Runs the session until pred holds or ms pass.
  template <typename Pred>
  bool until(Pred pred, int ms) {
    long long end = modbussim::nowMs() + ms;
    while (!pred()) {
      if (modbussim::nowMs() >= end) return false;
      session_->poll(10);
    }
    return true;
  }
  // Connected, and the subscription confirmed: from now on nothing is missed.
  bool connect(int ms = 5000) {
    return until([this] { return session_->isConnected() && subscribed_; }, ms);
  }
  // The index of the first message from `from` on whose topic ends with type, -1 after ms.
  int next(const std::string& type, size_t from, int ms) {
    int found = -1;
    until(
        [&] {
          for (size_t i = from; i < messages.size() && found < 0; i++) {
            const std::string& t = messages[i].topic;
            if (t.find("/" + type + "/") != std::string::npos) found = (int)i;
          }
          return found >= 0;
        },
        ms);
    return found;
  }
  otMqttSession& session() { return *session_; }

  std::vector<Message> messages;

 private:
  std::unique_ptr<otMqttSession> session_;
  bool subscribed_ = false;
};

}  // namespace brokertest

#endif
