// otSpHost: a Sparkplug B host application that mirrors one edge node into a local process
// image of the same layout as its daemon's (the same generated header), so that a display
// server runs on it unchanged. It is the device of a daemon runtime (otdaemon.h): a cycle
// "reads" good while the edge is alive and born and every tag of the cycle is of good quality,
// so the image's status area tells the truth: stale when a tag is, when the edge's NDEATH
// comes, and when the broker is lost.
//
// A write request that a display server posts to the mirrored mailbox (as otTagImage posts
// it) becomes an NCMD to the edge. A gap in seq, data before a birth or an alias that was
// never born asks the edge for a rebirth once the reorder time-out has passed without one.
//
// Threads: the MQTT session and tick() belong to one thread; read(), check() and write() are
// the runtime's (passes and requests).
#ifndef OTSPHOST_H
#define OTSPHOST_H

#include <stdint.h>

#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "otdaemon.h"
#include "otmqtt.h"
#include "otspcodec.h"
#include "ottagimage.h"

struct otSpHostOptions {
  std::string group, node;  // the edge node mirrored
  std::string host;         // this host application's id (its STATE topic)
  int reorderMs = 2000;
};

class otSpHost : public otDaemonDevice {
 public:
  // tags: the table the edge publishes (only their places and writes are used); header: the
  // daemon whose image is mirrored. Both, and the session, must outlive the mirror.
  otSpHost(const otTagImage& tags, const otDaemonHeader& header, otMqttSession& session,
           const otSpHostOptions& options);

  int open(const char* av0) override;
  const unsigned char* read(int k, const otDaemonCycle& cycle, bool failing) override;
  int requestHeader() const override { return 2; }
  bool check(const unsigned char* msg, int len) override;
  int write(const unsigned char* msg, int len) override;

  // Sends the commands that wait and the rebirth requests that are due (the session's thread).
  void tick();
  // Ends the session as a leaving host does: STATE offline, then DISCONNECT.
  void goodbye();

  struct Counts {
    long births = 0, data = 0, deaths = 0, commands = 0, rebirths = 0, refused = 0;
  };
  Counts counts();

 private:
  std::string stateTopic() const;
  static std::string state(bool online);
  void stateOf(bool online);
  void message(const std::string& topic, const unsigned char* data, int len);
  void birth(const otSpPayload& p);
  void data(const otSpPayload& p);
  // Puts a value of tag k into its cycle's block (under lock_).
  void place(int k, const otSpMetric& m, int type);
  void askRebirth(const char* why);

  const otTagImage& tags_;
  otDaemonHeader header_;
  otMqttSession& session_;
  otSpHostOptions o_;

  std::mutex lock_;
  std::vector<std::vector<unsigned char>> blocks_, out_;  // per cycle: mirrored, and as read
  std::vector<std::vector<int>> cycleTags_;               // per cycle, its tags
  std::vector<int> quality_, type_;                       // per tag
  std::unordered_map<uint64_t, int> alias_;               // alias -> tag
  bool alive_ = false, born_ = false;
  uint64_t bdSeq_ = 0, seq_ = 0;
  long long rebirthAt_ = 0;  // 0: none asked for
  long long lastRebirth_ = 0;
  std::deque<std::pair<int, double>> commands_;  // tag, raw value
  Counts counts_;
};

#endif
