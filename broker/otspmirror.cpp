// otspmirror: a Sparkplug B host application. Mirrors the tags of one edge node into a local
// process image and mailbox of its daemon's layout, so that display servers run on it as on
// the daemon's own, and sends their write requests to the edge as commands.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "otdaemon.h"
#include "otlog.h"
#include "otmqtt.h"
#include "otsphost.h"
#include "ottagimage.h"
#include "ottagtable.h"

namespace {

std::atomic<int> stopSignal{0};

void stop(int sig) {
  stopSignal = sig;
}

void usage() {
  printf(
      "usage: otspmirror -tags=FILE -group=ID -node=ID [options]\n"
      "Mirrors the Sparkplug B edge node ID into a process image of the layout of the daemon\n"
      "that FILE's tags name.\n"
      "  -tags=FILE       the tag table the edge publishes (one daemon's tags)\n"
      "  -group=ID        the Sparkplug group\n"
      "  -node=ID         the edge node mirrored\n"
      "  -host=ID         this host application's id (default otspmirror-NODE)\n"
      "  -broker=LIST     host:port,host:port,... tried in turn (default localhost:1883)\n"
      "  -user=NAME       the broker's user name; -password=TEXT its password\n"
      "  -cafile=FILE     TLS to the broker, verified against this CA certificate\n"
      "  -keepalive=S     the MQTT keep-alive, 5 to 3600 (default 10)\n"
      "  -reorder=MS      how long a gap in seq may last before a rebirth (default 2000)\n"
      "  -shm=PATH, -mbx=PATH   the mirror's image and mailbox (default the header's)\n"
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

// The one daemon header that the table's tags name, read from the table's folder.
bool daemonOf(const std::string& tablePath, otDaemonHeader* header, std::string* error) {
  otTagTable table;
  if (table.read(tablePath.c_str(), error) != 0) return false;
  std::string name;
  for (const otTag& t : table.tags) {
    if (!name.empty() && t.header != name) {
      *error = "the tags name two daemons (" + name + ", " + t.header + "): one mirror each";
      return false;
    }
    name = t.header;
  }
  if (name.empty()) {
    *error = tablePath + ": no tags";
    return false;
  }
  size_t slash = tablePath.rfind('/');
  std::string path =
      name[0] == '/' || slash == std::string::npos ? name : tablePath.substr(0, slash + 1) + name;
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  if (otReadDaemonHeader(text.str().c_str(), header, error) != 0) {
    *error = path + ": " + *error;
    return false;
  }
  if (header->kind != otDaemonHeader::MODBUS)
    otLog(OT_LOG_WARNING,
          "otspmirror: %s is no Modbus daemon: its values are mirrored, write requests are "
          "refused (only Modbus requests are carried to the edge)\n",
          path.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string tags, brokers = "localhost:1883", shm, mbx;
  otSpHostOptions host;
  otMqttOptions mqtt;
  long keepAlive = 10, reorder = 2000;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    const char* v = nullptr;
    if (strcmp(a, "-h") == 0 || strcmp(a, "--help") == 0) {
      usage();
      return 0;
    } else if ((v = value(a, "-tags")) != nullptr) {
      tags = v;
    } else if ((v = value(a, "-group")) != nullptr) {
      host.group = v;
    } else if ((v = value(a, "-node")) != nullptr) {
      host.node = v;
    } else if ((v = value(a, "-host")) != nullptr) {
      host.host = v;
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
        otLog(OT_LOG_ERROR, "otspmirror: bad value in %s (5 to 3600)\n", a);
        return 2;
      }
    } else if ((v = value(a, "-reorder")) != nullptr) {
      if (!number(v, 0, 600000, &reorder)) {
        otLog(OT_LOG_ERROR, "otspmirror: bad value in %s (0 to 600000)\n", a);
        return 2;
      }
    } else if ((v = value(a, "-log")) != nullptr) {
      int level = otLogLevelByName(v);
      if (level < 0) {
        otLog(OT_LOG_ERROR, "otspmirror: %s: error, warning, info or debug\n", a);
        return 2;
      }
      otSetLogLevel(level);
    } else {
      otLog(OT_LOG_ERROR, "otspmirror: unknown option %s (-h lists them)\n", a);
      return 2;
    }
  }
  if (host.host.empty()) host.host = "otspmirror-" + host.node;
  if (tags.empty() || !otSpTopic::validId(host.group) || !otSpTopic::validId(host.node) ||
      !otSpTopic::validId(host.host)) {
    otLog(OT_LOG_ERROR,
          "otspmirror: -tags, -group and -node are needed; ids without '/', '+', '#'\n");
    return 2;
  }
  std::string error;
  if (!otMqttSession::parseBrokers(brokers, &mqtt.brokers, &error)) {
    otLog(OT_LOG_ERROR, "otspmirror: -broker: %s\n", error.c_str());
    return 2;
  }
  otDaemonHeader header;
  std::unique_ptr<otTagImage> table = otTagImage::load(tags.c_str(), &error);
  if (table == nullptr || !daemonOf(tags, &header, &error)) {
    otLog(OT_LOG_ERROR, "otspmirror: %s\n", error.c_str());
    return 1;
  }
  if (!shm.empty()) header.sharedMemory = shm;
  if (!mbx.empty()) header.mailbox = mbx;
  host.reorderMs = (int)reorder;
  mqtt.clientId = host.host;
  mqtt.keepAliveS = (int)keepAlive;
  otMqttSession session(mqtt);
  otSpHost mirror(*table, header, session, host);

  std::vector<otDaemonCycle> cycles;
  for (const otDaemonHeader::Cycle& c : header.cycles)
    cycles.push_back(otDaemonCycle{(int)c.base, c.bytes, 0, 0, 0, 0, 0});
  const std::string target = header.target.empty() ? "mirror" : header.target;
  otDaemonConfig config;
  config.image = header.sharedMemory.c_str();
  config.imageSize = header.size;
  config.mailbox = header.mailbox.c_str();
  config.target = target.c_str();
  config.cycles = cycles.data();
  config.cycleCount = (int)cycles.size();
  config.passPauseMs = 5;
  config.emptyPassMs = 100;
  otDaemonRuntime runtime(config, mirror);

  signal(SIGINT, stop);
  signal(SIGTERM, stop);
  signal(SIGPIPE, SIG_IGN);
  std::atomic<int> result{0};
  std::thread passes([&] {
    result = runtime.main("otspmirror");
    if (result != 0) stopSignal = -1;
  });
  while (stopSignal == 0) {
    session.poll(10);
    mirror.tick();
  }
  runtime.stop();
  passes.join();
  otSpHost::Counts n = mirror.counts();
  otLog(OT_LOG_INFO,
        "otspmirror: stopping (%ld births, %ld data messages, %ld deaths, %ld commands, %ld "
        "rebirths asked for)\n",
        n.births, n.data, n.deaths, n.commands, n.rebirths);
  mirror.goodbye();
  return result;
}
