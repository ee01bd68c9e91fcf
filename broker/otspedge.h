// otSpEdge: a Sparkplug B edge node over a process image. Every tag of the table is a metric:
// its name, its alias (its place in the table, from 1), its type (bit Boolean, byte UInt8,
// short Int16, ushort UInt16, int Int32, float Float) and its value as the image holds it (the
// table's scale and offset are the consumer's, as they are a display server's). A tag whose
// cycle is not fresh carries the quality "stale" (500); one that cannot be read, "bad" (0)
// and no value.
//
// Each MQTT session gets a new bdSeq in its Will (NDEATH) and in its NBIRTH; data follows as
// NDATA by exception (a change beyond the tag's deadband, or of its quality), by alias only.
// With a device id the tags travel as that device's DBIRTH and DDATA instead. NCMD (DCMD)
// "Node Control/Rebirth" makes it publish its births again; a command metric that names a
// writable tag becomes that tag's write request in its daemon's mailbox; any other is refused
// and logged.
//
// Belongs to the thread that runs the session.
#ifndef OTSPEDGE_H
#define OTSPEDGE_H

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "otmqtt.h"
#include "otspcodec.h"
#include "ottagimage.h"

struct otSpEdgeOptions {
  std::string group, node, device;          // device "": the tags are the node's metrics
  std::map<std::string, double> deadbands;  // by tag name; 0 (any change) for the others
};

class otSpEdge {
 public:
  // Wires the session's callbacks; the image and the session must outlive the edge.
  otSpEdge(otTagImage& image, otMqttSession& session, const otSpEdgeOptions& options);

  // Reads every tag and publishes what changed (nothing while there is no session).
  void scan();
  // Ends the session as a leaving node does: its NDEATH itself, then DISCONNECT.
  void goodbye();
  // Counts since the start, for the log and the tests.
  struct Counts {
    long births = 0, data = 0, changes = 0, writes = 0, refused = 0;
  };
  const Counts& counts() const { return counts_; }
  uint64_t bdSeq() const { return bdSeq_; }
  // The Sparkplug data type a tag travels as.
  static int typeOf(const otTag& t);

 private:
  struct Last {
    bool sent = false;
    double value = 0;
    int quality = -1;
  };
  std::string death() const;
  void willOfNextSession();
  void births();
  void command(const otSpTopic& topic, const unsigned char* data, int len);
  // Reads every tag (one copy of each image); read(k, m) then fills metric m of tag k.
  void readAll();
  void read(int k, otSpMetric* m) const;
  void publish(const char* type, otSpPayload& p);
  std::string topic(const char* type) const;

  otTagImage& image_;
  otMqttSession& session_;
  otSpEdgeOptions o_;
  std::vector<double> deadband_;
  std::vector<Last> last_;
  std::vector<double> raw_;
  std::vector<char> fresh_, ok_;
  bool born_ = false;
  bool firstSession_ = true;
  uint64_t bdSeq_ = 0, seq_ = 0;
  Counts counts_;
};

#endif
