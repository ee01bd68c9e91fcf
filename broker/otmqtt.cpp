#include "otmqtt.h"

#include <mosquitto.h>
#include <poll.h>
#include <stdlib.h>

#include <algorithm>
#include <mutex>

#include "otlog.h"
#include "ottime.h"

namespace {

void initLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    mosquitto_lib_init();
    atexit([] { mosquitto_lib_cleanup(); });
  });
}

}  // namespace

otMqttSession::otMqttSession(const otMqttOptions& options) : o_(options) {
  initLibrary();
  m_ = mosquitto_new(o_.clientId.empty() ? nullptr : o_.clientId.c_str(), true, this);
  if (m_ == nullptr) {
    otLog(OT_LOG_ERROR, "mqtt: cannot make a session (out of memory)\n");
    return;
  }
  mosquitto_int_option(m_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  // Small messages go at once: with Nagle's algorithm one waits for the peer's delayed ACK.
  mosquitto_int_option(m_, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_connect_callback_set(m_, onConnect);
  mosquitto_disconnect_callback_set(m_, onDisconnect);
  mosquitto_message_callback_set(m_, onMessage);
  mosquitto_subscribe_callback_set(m_, onSubscribe);
  if (!o_.user.empty() &&
      mosquitto_username_pw_set(m_, o_.user.c_str(),
                                o_.password.empty() ? nullptr : o_.password.c_str()) != 0)
    otLog(OT_LOG_ERROR, "mqtt: the user name is refused\n");
  if (!o_.caFile.empty()) {
    int rc = mosquitto_tls_set(m_, o_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
      otLog(OT_LOG_ERROR, "mqtt: TLS with %s: %s\n", o_.caFile.c_str(), mosquitto_strerror(rc));
  }
}

otMqttSession::~otMqttSession() {
  if (m_ != nullptr) mosquitto_destroy(m_);
}

bool otMqttSession::parseBrokers(const std::string& list, std::vector<otMqttBroker>* out,
                                 std::string* error) {
  out->clear();
  size_t at = 0;
  while (at <= list.size()) {
    size_t comma = list.find(',', at);
    std::string one = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    otMqttBroker b;
    size_t colon = one.rfind(':');
    b.host = one.substr(0, colon);
    if (colon != std::string::npos) {
      char* end = nullptr;
      long port = strtol(one.c_str() + colon + 1, &end, 10);
      if (end == one.c_str() + colon + 1 || *end != '\0' || port < 1 || port > 65535) {
        *error = "bad port in \"" + one + "\"";
        return false;
      }
      b.port = (int)port;
    }
    if (b.host.empty()) {
      *error = "no host in \"" + one + "\"";
      return false;
    }
    out->push_back(b);
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  if (out->empty()) *error = "no broker";
  return !out->empty();
}

int otMqttSession::setWill(const std::string& topic, const std::string& payload, int qos,
                           bool retain) {
  if (m_ == nullptr) return -1;
  int rc = mosquitto_will_set(m_, topic.c_str(), (int)payload.size(), payload.data(), qos, retain);
  if (rc != MOSQ_ERR_SUCCESS) {
    otLog(OT_LOG_ERROR, "mqtt: Will on %s refused: %s\n", topic.c_str(), mosquitto_strerror(rc));
    return -1;
  }
  return 0;
}

std::string otMqttSession::broker() const {
  if (o_.brokers.empty()) return "";
  const otMqttBroker& b = o_.brokers[current_ % o_.brokers.size()];
  return b.host + ":" + std::to_string(b.port);
}

void otMqttSession::attempt() {
  if (o_.brokers.empty()) return;
  current_ = next_ % o_.brokers.size();
  next_ = current_ + 1;
  const otMqttBroker& b = o_.brokers[current_];
  if (beforeConnect) beforeConnect();
  int rc = mosquitto_connect_async(m_, b.host.c_str(), b.port, o_.keepAliveS);
  if (rc != MOSQ_ERR_SUCCESS) {
    otLog(OT_LOG_WARNING, "mqtt: broker %s: %s\n", broker().c_str(),
          rc == MOSQ_ERR_ERRNO ? "cannot connect" : mosquitto_strerror(rc));
    retryAt_ = otMonotonicMs() + o_.retryMs;
    return;
  }
  trying_ = true;
}

void otMqttSession::dropSession(const char* why) {
  bool wasUp = up_;
  if (trying_ || up_)
    otLog(wasUp ? OT_LOG_WARNING : OT_LOG_INFO, "mqtt: broker %s: %s\n", broker().c_str(), why);
  trying_ = false;
  up_ = false;
  // The socket is closed before the next broker is tried; the Will is the broker's now.
  mosquitto_disconnect(m_);
  retryAt_ = otMonotonicMs() + (wasUp ? 0 : o_.retryMs);
  if (wasUp) events_.push_back({Event::LOST, "", ""});
}

void otMqttSession::deliver() {
  // A callback may poll no further, but it may publish, which queues nothing here.
  std::vector<Event> now;
  now.swap(events_);
  for (const Event& e : now) {
    switch (e.kind) {
      case Event::CONNECTED:
        if (connected) connected();
        break;
      case Event::LOST:
        if (lost) lost();
        break;
      case Event::SUBSCRIBED:
        if (subscribed) subscribed();
        break;
      case Event::MESSAGE:
        if (message)
          message(e.topic, reinterpret_cast<const unsigned char*>(e.data.data()),
                  (int)e.data.size());
        break;
    }
  }
}

void otMqttSession::poll(int ms) {
  if (m_ == nullptr) return;
  if (!trying_ && !up_) {
    long long now = otMonotonicMs();
    if (now < retryAt_) {
      ::poll(nullptr, 0, (int)std::min<long long>(ms, retryAt_ - now));
      return;
    }
    attempt();
    if (!trying_) {
      deliver();
      return;
    }
  }
  int rc = mosquitto_loop(m_, ms, 1);
  if (rc != MOSQ_ERR_SUCCESS && (trying_ || up_))
    dropSession(rc == MOSQ_ERR_ERRNO ? "connection failed" : mosquitto_strerror(rc));
  deliver();
}

int otMqttSession::publish(const std::string& topic, const std::string& payload, int qos,
                           bool retain) {
  if (m_ == nullptr || !up_) return -1;
  int rc = mosquitto_publish(m_, nullptr, topic.c_str(), (int)payload.size(), payload.data(), qos,
                             retain);
  if (rc != MOSQ_ERR_SUCCESS) {
    otLog(OT_LOG_WARNING, "mqtt: publish on %s: %s\n", topic.c_str(), mosquitto_strerror(rc));
    return -1;
  }
  return 0;
}

int otMqttSession::subscribe(const std::string& pattern, int qos) {
  if (m_ == nullptr || !up_) return -1;
  int rc = mosquitto_subscribe(m_, nullptr, pattern.c_str(), qos);
  if (rc != MOSQ_ERR_SUCCESS) {
    otLog(OT_LOG_WARNING, "mqtt: subscribe to %s: %s\n", pattern.c_str(), mosquitto_strerror(rc));
    return -1;
  }
  return 0;
}

void otMqttSession::disconnect() {
  if (m_ == nullptr || !up_) return;
  up_ = false;
  trying_ = false;
  mosquitto_disconnect(m_);
  // The DISCONNECT is written by the loop.
  for (int i = 0; i < 5 && mosquitto_want_write(m_); i++)
    mosquitto_loop(m_, 10, 1);
}

void otMqttSession::onConnect(mosquitto*, void* self, int rc) {
  otMqttSession& s = *static_cast<otMqttSession*>(self);
  if (rc != 0) {
    s.dropSession(mosquitto_connack_string(rc));
    return;
  }
  s.trying_ = false;
  s.up_ = true;
  otLog(OT_LOG_INFO, "mqtt: connected to %s\n", s.broker().c_str());
  s.events_.push_back({Event::CONNECTED, "", ""});
}

void otMqttSession::onDisconnect(mosquitto*, void* self, int rc) {
  otMqttSession& s = *static_cast<otMqttSession*>(self);
  if (rc != 0 && (s.up_ || s.trying_)) s.dropSession("connection lost");
}

void otMqttSession::onMessage(mosquitto*, void* self, const mosquitto_message* m) {
  otMqttSession& s = *static_cast<otMqttSession*>(self);
  if (m->topic == nullptr || m->payloadlen < 0) return;
  std::string data;
  if (m->payloadlen > 0) data.assign(static_cast<const char*>(m->payload), (size_t)m->payloadlen);
  s.events_.push_back({Event::MESSAGE, m->topic, std::move(data)});
}

void otMqttSession::onSubscribe(mosquitto*, void* self, int, int, const int*) {
  static_cast<otMqttSession*>(self)->events_.push_back({Event::SUBSCRIBED, "", ""});
}
