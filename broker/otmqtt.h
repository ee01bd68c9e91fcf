// otMqttSession: one MQTT 3.1.1 session over libmosquitto, for a program that runs its own
// loop. It connects to the first broker of its list and moves to the next one when a broker
// cannot be reached or the connection is lost, and round to the first again. Each new
// connection is a new session: beforeConnect() is called first so that its owner can set the
// Will of that session (a Sparkplug edge node puts its new bdSeq there).
//
// Everything runs in the thread that calls poll(); the callbacks are called from there, once
// libmosquitto's own loop has returned, so that they may publish and subscribe freely.
#ifndef OTMQTT_H
#define OTMQTT_H

#include <functional>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

struct otMqttBroker {
  std::string host;
  int port = 1883;
};

struct otMqttOptions {
  std::vector<otMqttBroker> brokers;
  std::string clientId;
  std::string user, password;  // none when user is empty
  std::string caFile;          // TLS to the broker when not empty, verified against it
  int keepAliveS = 10;         // 5 or more (libmosquitto refuses less)
  int retryMs = 500;           // pause before the next broker is tried after a failed attempt
};

class otMqttSession {
 public:
  explicit otMqttSession(const otMqttOptions& options);
  ~otMqttSession();
  otMqttSession(const otMqttSession&) = delete;
  otMqttSession& operator=(const otMqttSession&) = delete;

  // Parses "host:port,host:port,..." (the port defaults to 1883). false and *error for a bad
  // list.
  static bool parseBrokers(const std::string& list, std::vector<otMqttBroker>* out,
                           std::string* error);

  std::function<void()> beforeConnect;  // set the Will here (setWill)
  std::function<void()> connected;      // the session is up: subscribe, publish births
  std::function<void()> lost;           // the session is gone (a new one follows)
  std::function<void(const std::string& topic, const unsigned char* data, int len)> message;
  std::function<void()> subscribed;  // the broker confirmed a subscription

  // The Will of the next session. 0, or -1 (logged) when the library refuses it.
  int setWill(const std::string& topic, const std::string& payload, int qos, bool retain);
  // Reads and writes for up to ms, connecting when there is no session. Returns at once when
  // there is nothing to wait for.
  void poll(int ms);
  bool isConnected() const { return up_; }
  // The broker of the current (or last tried) session, "host:port".
  std::string broker() const;
  int publish(const std::string& topic, const std::string& payload, int qos, bool retain);
  int subscribe(const std::string& pattern, int qos);
  // Ends the session with a DISCONNECT: the broker does not publish the Will.
  void disconnect();

 private:
  static void onConnect(mosquitto*, void* self, int rc);
  static void onDisconnect(mosquitto*, void* self, int rc);
  static void onMessage(mosquitto*, void* self, const mosquitto_message* m);
  static void onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted);
  void attempt();
  void dropSession(const char* why);
  void deliver();

  struct Event {
    enum Kind { CONNECTED, LOST, SUBSCRIBED, MESSAGE } kind;
    std::string topic, data;
  };
  std::vector<Event> events_;  // what the loop brought, in order

  otMqttOptions o_;
  mosquitto* m_ = nullptr;
  size_t next_ = 0;        // the broker tried next
  size_t current_ = 0;     // the broker of the session
  bool trying_ = false;    // a connection is under way
  bool up_ = false;        // CONNACK received
  long long retryAt_ = 0;  // no attempt before this (monotonic ms)
};

#endif
