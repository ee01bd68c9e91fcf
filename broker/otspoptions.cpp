#include "otspoptions.h"

#include <stdlib.h>
#include <string.h>

#include "otlog.h"

const char* const otSpCommonHelp =
    "  -broker=LIST     host:port,host:port,... tried in turn (default localhost:1883)\n"
    "  -user=NAME       the broker's user name; -password=TEXT its password\n"
    "  -cafile=FILE     TLS to the broker, verified against this CA certificate\n"
    "  -keepalive=S     the MQTT keep-alive, 5 to 3600 (default 10)\n"
    "  -log=LEVEL       error, warning, info (default) or debug\n";

const char* otSpOptionValue(const char* arg, const char* name) {
  size_t n = strlen(name);
  return strncmp(arg, name, n) == 0 && arg[n] == '=' ? arg + n + 1 : nullptr;
}

bool otSpNumber(const char* text, long lo, long hi, long* out) {
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

int otSpCommonOption(const char* arg, otMqttOptions* o, std::string* error) {
  const char* v = nullptr;
  long n = 0;
  if ((v = otSpOptionValue(arg, "-broker")) != nullptr) {
    if (otMqttSession::parseBrokers(v, &o->brokers, error)) return 1;
    *error = "-broker: " + *error;
    return -1;
  }
  if ((v = otSpOptionValue(arg, "-user")) != nullptr) {
    o->user = v;
    return 1;
  }
  if ((v = otSpOptionValue(arg, "-password")) != nullptr) {
    o->password = v;
    return 1;
  }
  if ((v = otSpOptionValue(arg, "-cafile")) != nullptr) {
    o->caFile = v;
    return 1;
  }
  if ((v = otSpOptionValue(arg, "-keepalive")) != nullptr) {
    if (!otSpNumber(v, 5, 3600, &n)) {
      *error = std::string("bad value in ") + arg + " (5 to 3600)";
      return -1;
    }
    o->keepAliveS = (int)n;
    return 1;
  }
  if ((v = otSpOptionValue(arg, "-log")) != nullptr) {
    int level = otLogLevelByName(v);
    if (level < 0) {
      *error = std::string(arg) + ": error, warning, info or debug";
      return -1;
    }
    otSetLogLevel(level);
    return 1;
  }
  return 0;
}

void otSpCommonDefaults(otMqttOptions* o) {
  if (!o->brokers.empty()) return;
  otMqttBroker b;
  b.host = "localhost";
  o->brokers.push_back(b);
}
