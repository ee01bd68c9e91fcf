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
#include "otspoptions.h"
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
      "  -scan=MS         how often the image is read (default 50)\n"
      "  -deadband=TAG=V  publish TAG only when it moves by more than V (repeatable)\n"
      "  -shm=PATH, -mbx=PATH   the shared memory and mailbox of the daemon (a table of one)\n"
      "  -h               this list\n");
  fputs(otSpCommonHelp, stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string tags, shm, mbx, error;
  otSpEdgeOptions edge;
  otMqttOptions mqtt;
  long scanMs = 50;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    const char* v = nullptr;
    int taken = 0;
    if (strcmp(a, "-h") == 0 || strcmp(a, "--help") == 0) {
      usage();
      return 0;
    } else if ((v = otSpOptionValue(a, "-tags")) != nullptr) {
      tags = v;
    } else if ((v = otSpOptionValue(a, "-group")) != nullptr) {
      edge.group = v;
    } else if ((v = otSpOptionValue(a, "-node")) != nullptr) {
      edge.node = v;
    } else if ((v = otSpOptionValue(a, "-device")) != nullptr) {
      edge.device = v;
    } else if ((v = otSpOptionValue(a, "-shm")) != nullptr) {
      shm = v;
    } else if ((v = otSpOptionValue(a, "-mbx")) != nullptr) {
      mbx = v;
    } else if ((v = otSpOptionValue(a, "-scan")) != nullptr) {
      if (!otSpNumber(v, 1, 60000, &scanMs)) {
        otLog(OT_LOG_ERROR, "otsparkplug: bad value in %s (1 to 60000)\n", a);
        return 2;
      }
    } else if ((v = otSpOptionValue(a, "-deadband")) != nullptr) {
      const char* eq = strrchr(v, '=');
      char* end = nullptr;
      double d = eq != nullptr ? otStrtod(eq + 1, &end) : 0;
      if (eq == nullptr || eq == v || end == eq + 1 || *end != '\0') {
        otLog(OT_LOG_ERROR, "otsparkplug: %s: TAG=VALUE is wanted\n", a);
        return 2;
      }
      edge.deadbands[std::string(v, (size_t)(eq - v))] = d;
    } else if ((taken = otSpCommonOption(a, &mqtt, &error)) != 0) {
      if (taken < 0) {
        otLog(OT_LOG_ERROR, "otsparkplug: %s\n", error.c_str());
        return 2;
      }
    } else {
      otLog(OT_LOG_ERROR, "otsparkplug: unknown option %s (-h lists them)\n", a);
      return 2;
    }
  }
  if (tags.empty() || !otSpTopic::validId(edge.group) || !otSpTopic::validId(edge.node) ||
      (!edge.device.empty() && !otSpTopic::validId(edge.device))) {
    otLog(OT_LOG_ERROR,
          "otsparkplug: -tags, -group and -node are needed; ids without '/', '+', '#'\n");
    return 2;
  }
  otSpCommonDefaults(&mqtt);
  std::unique_ptr<otTagImage> image = otTagImage::load(tags.c_str(), &error);
  if (image == nullptr) {
    otLog(OT_LOG_ERROR, "otsparkplug: %s\n", error.c_str());
    return 1;
  }
  if (!shm.empty() || !mbx.empty()) image->setPaths("", shm, mbx);
  image->open();
  mqtt.clientId = "otsparkplug-" + edge.group + "-" + edge.node;
  otMqttSession session(mqtt);
  otSpEdge node(*image, session, edge);
  signal(SIGINT, stop);
  signal(SIGTERM, stop);
  signal(SIGPIPE, SIG_IGN);
  otLog(OT_LOG_INFO, "otsparkplug: %d tags as spBv1.0/%s/.../%s%s%s, broker %s first\n",
        image->tagCount(), edge.group.c_str(), edge.node.c_str(), edge.device.empty() ? "" : "/",
        edge.device.c_str(),
        (mqtt.brokers[0].host + ":" + std::to_string(mqtt.brokers[0].port)).c_str());
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
