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
#include "otspoptions.h"
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
      "  -reorder=MS      how long a gap in seq may last before a rebirth (default 2000)\n"
      "  -shm=PATH, -mbx=PATH   the mirror's image and mailbox (default the header's)\n"
      "  -h               this list\n");
  fputs(otSpCommonHelp, stdout);
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
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string tags, shm, mbx, error;
  otSpHostOptions host;
  otMqttOptions mqtt;
  long reorder = 2000;
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
      host.group = v;
    } else if ((v = otSpOptionValue(a, "-node")) != nullptr) {
      host.node = v;
    } else if ((v = otSpOptionValue(a, "-host")) != nullptr) {
      host.host = v;
    } else if ((v = otSpOptionValue(a, "-shm")) != nullptr) {
      shm = v;
    } else if ((v = otSpOptionValue(a, "-mbx")) != nullptr) {
      mbx = v;
    } else if ((v = otSpOptionValue(a, "-reorder")) != nullptr) {
      if (!otSpNumber(v, 0, 600000, &reorder)) {
        otLog(OT_LOG_ERROR, "otspmirror: bad value in %s (0 to 600000)\n", a);
        return 2;
      }
    } else if ((taken = otSpCommonOption(a, &mqtt, &error)) != 0) {
      if (taken < 0) {
        otLog(OT_LOG_ERROR, "otspmirror: %s\n", error.c_str());
        return 2;
      }
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
  otSpCommonDefaults(&mqtt);
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
