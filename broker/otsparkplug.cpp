// otsparkplug: a Sparkplug B edge node. Publishes the tags of a table, read from the process
// images of their daemons, to an MQTT broker, and turns the commands of host applications
// into the daemons' write requests.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

#include "otlog.h"
#include "otmqtt.h"
#include "otnumber.h"
#include "otspedge.h"
#include "ottime.h"

namespace {

std::atomic<int> stopSignal{0};

void stop(int sig) {
  stopSignal = sig;
}

void usage() {
  printf(
      "usage: otsparkplug -tags=FILE -group=ID -node=ID [options]\n"
      "Publishes the tags of FILE as the metrics of a Sparkplug B edge node.\n"
      "  -tags=FILE       the tag table (its daemon headers are read from its folder)\n"
      "  -group=ID        the Sparkplug group\n"
      "  -node=ID         the edge node's id\n"
      "  -device=ID       publish the tags as this device's metrics (DBIRTH, DDATA)\n"
      "  -broker=LIST     host:port,host:port,... tried in turn (default localhost:1883)\n"
      "  -user=NAME       the broker's user name; -password=TEXT its password\n"
      "  -cafile=FILE     TLS to the broker, verified against this CA certificate\n"
      "  -keepalive=S     the MQTT keep-alive, 5 to 3600 (default 10)\n"
      "  -scan=MS         how often the image is read (default 50)\n"
      "  -deadband=TAG=V  publish TAG only when it moves by more than V (repeatable)\n"
      "  -shm=PATH, -mbx=PATH   the shared memory and mailbox of the daemon (a table of one)\n"
      "  -log=LEVEL       error, warning, info (default) or debug\n"
      "  -h               this list\n");
}

const char* value(const char* arg, const char* name) {
  size_t n = strlen(name);
  return strncmp(arg, name, n) == 0 && arg[n] == '=' ? arg + n + 1 : nullptr;
}

bool number(const char* text, long lo, long hi, long* out) {
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string tags, brokers = "localhost:1883", shm, mbx;
  otSpEdgeOptions edge;
  otMqttOptions mqtt;
  long scanMs = 50, keepAlive = 10;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    const char* v = nullptr;
    if (strcmp(a, "-h") == 0 || strcmp(a, "--help") == 0) {
      usage();
      return 0;
    } else if ((v = value(a, "-tags")) != nullptr) {
      tags = v;
    } else if ((v = value(a, "-group")) != nullptr) {
      edge.group = v;
    } else if ((v = value(a, "-node")) != nullptr) {
      edge.node = v;
    } else if ((v = value(a, "-device")) != nullptr) {
      edge.device = v;
    } else if ((v = value(a, "-broker")) != nullptr) {
      brokers = v;
    } else if ((v = value(a, "-user")) != nullptr) {
      mqtt.user = v;
    } else if ((v = value(a, "-password")) != nullptr) {
      mqtt.password = v;
    } else if ((v = value(a, "-cafile")) != nullptr) {
      mqtt.caFile = v;
    } else if ((v = value(a, "-shm")) != nullptr) {
      shm = v;
    } else if ((v = value(a, "-mbx")) != nullptr) {
      mbx = v;
    } else if ((v = value(a, "-keepalive")) != nullptr) {
      if (!number(v, 5, 3600, &keepAlive)) {
        otLog(OT_LOG_ERROR, "otsparkplug: bad value in %s (5 to 3600)\n", a);
        return 2;
      }
    } else if ((v = value(a, "-scan")) != nullptr) {
      if (!number(v, 1, 60000, &scanMs)) {
        otLog(OT_LOG_ERROR, "otsparkplug: bad value in %s (1 to 60000)\n", a);
        return 2;
      }
    } else if ((v = value(a, "-deadband")) != nullptr) {
      const char* eq = strrchr(v, '=');
      char* end = nullptr;
      double d = eq != nullptr ? otStrtod(eq + 1, &end) : 0;
      if (eq == nullptr || eq == v || end == eq + 1 || *end != '\0') {
        otLog(OT_LOG_ERROR, "otsparkplug: %s: TAG=VALUE is wanted\n", a);
        return 2;
      }
      edge.deadbands[std::string(v, (size_t)(eq - v))] = d;
    } else if ((v = value(a, "-log")) != nullptr) {
      int level = otLogLevelByName(v);
      if (level < 0) {
        otLog(OT_LOG_ERROR, "otsparkplug: %s: error, warning, info or debug\n", a);
        return 2;
      }
      otSetLogLevel(level);
    } else {
      otLog(OT_LOG_ERROR, "otsparkplug: unknown option %s (-h lists them)\n", a);
      return 2;
    }
  }
  std::string error;
  if (tags.empty() || !otSpTopic::validId(edge.group) || !otSpTopic::validId(edge.node) ||
      (!edge.device.empty() && !otSpTopic::validId(edge.device))) {
    otLog(OT_LOG_ERROR,
          "otsparkplug: -tags, -group and -node are needed; ids without '/', '+', '#'\n");
    return 2;
  }
  if (!otMqttSession::parseBrokers(brokers, &mqtt.brokers, &error)) {
    otLog(OT_LOG_ERROR, "otsparkplug: -broker: %s\n", error.c_str());
    return 2;
  }
  std::unique_ptr<otTagImage> image = otTagImage::load(tags.c_str(), &error);
  if (image == nullptr) {
    otLog(OT_LOG_ERROR, "otsparkplug: %s\n", error.c_str());
    return 1;
  }
  if (!shm.empty() || !mbx.empty()) image->setPaths("", shm, mbx);
  image->open();
  mqtt.clientId = "otsparkplug-" + edge.group + "-" + edge.node;
  mqtt.keepAliveS = (int)keepAlive;
  otMqttSession session(mqtt);
  otSpEdge node(*image, session, edge);
  signal(SIGINT, stop);
  signal(SIGTERM, stop);
  signal(SIGPIPE, SIG_IGN);
  otLog(OT_LOG_INFO, "otsparkplug: %d tags as spBv1.0/%s/.../%s%s%s, brokers %s\n",
        image->tagCount(), edge.group.c_str(), edge.node.c_str(), edge.device.empty() ? "" : "/",
        edge.device.c_str(), brokers.c_str());
  long long next = otMonotonicMs();
  while (stopSignal == 0) {
    long long now = otMonotonicMs();
    if (now >= next) {
      node.scan();
      next = now + scanMs;
    }
    session.poll((int)std::max<long long>(0, std::min<long long>(next - otMonotonicMs(), 100)));
  }
  otLog(OT_LOG_INFO,
        "otsparkplug: signal %d: stopping (%ld births, %ld data messages, %ld changes)\n",
        stopSignal.load(), node.counts().births, node.counts().data, node.counts().changes);
  node.goodbye();
  return 0;
}
