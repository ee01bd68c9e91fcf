#include "otspedge.h"

#include <math.h>

#include "otlog.h"
#include "ottime.h"

namespace {

const char kRebirth[] = "Node Control/Rebirth";

}  // namespace

otSpEdge::otSpEdge(otTagImage& image, otMqttSession& session, const otSpEdgeOptions& options)
    : image_(image), session_(session), o_(options) {
  const int n = image_.tagCount();
  deadband_.assign((size_t)n, 0);
  last_.assign((size_t)n, Last());
  for (const auto& d : o_.deadbands) {
    int k = image_.find(d.first);
    if (k < 0)
      otLog(OT_LOG_WARNING, "otsparkplug: deadband for %s: no such tag\n", d.first.c_str());
    else
      deadband_[(size_t)k] = fabs(d.second);
  }
  session_.beforeConnect = [this] { willOfNextSession(); };
  session_.connected = [this] {
    std::string cmd = o_.device.empty() ? topic("NCMD") : topic("DCMD");
    session_.subscribe(cmd, 1);
    births();
  };
  session_.lost = [this] { born_ = false; };
  session_.message = [this](const std::string& t, const unsigned char* data, int len) {
    otSpTopic parsed;
    if (parsed.parse(t) && parsed.group == o_.group && parsed.node == o_.node &&
        (parsed.type == "NCMD" || (parsed.type == "DCMD" && parsed.device == o_.device)))
      command(parsed, data, len);
  };
}

int otSpEdge::typeOf(const otTag& t) {
  switch (t.type) {
    case otTag::BIT:
      return OT_SP_BOOLEAN;
    case otTag::BYTE:
      return OT_SP_UINT8;
    case otTag::SHORT:
      return OT_SP_INT16;
    case otTag::USHORT:
      return OT_SP_UINT16;
    case otTag::INT:
      return OT_SP_INT32;
    default:
      return OT_SP_FLOAT;
  }
}

std::string otSpEdge::topic(const char* type) const {
  otSpTopic t;
  t.group = o_.group;
  t.type = type;
  t.node = o_.node;
  if (type[0] == 'D') t.device = o_.device;
  return t.text();
}

std::string otSpEdge::death() const {
  otSpPayload p;
  p.hasTimestamp = true;
  p.timestamp = (uint64_t)otWallMs();
  otSpMetric bd;
  bd.name = "bdSeq";
  bd.setNumber(OT_SP_UINT64, (double)bdSeq_);
  p.metrics.push_back(bd);
  std::string bytes;
  otSpEncode(p, &bytes);
  return bytes;
}

void otSpEdge::willOfNextSession() {
  // bdSeq counts the sessions: the Will and the birth of one session carry the same.
  if (!firstSession_) bdSeq_ = otSpNext(bdSeq_);
  firstSession_ = false;
  session_.setWill(topic("NDEATH"), death(), 1, false);
}

void otSpEdge::goodbye() {
  if (!session_.isConnected()) return;
  session_.publish(topic("NDEATH"), death(), 1, false);
  session_.disconnect();
  born_ = false;
}

void otSpEdge::readAll() {
  image_.open();
  image_.readAllRaw(&raw_, &fresh_, &ok_);
}

void otSpEdge::read(int k, otSpMetric* m) const {
  const otTag& t = image_.tag(k);
  m->datatype = typeOf(t);
  if (!ok_[(size_t)k]) {
    m->isNull = true;
    m->quality = OT_SP_QUALITY_BAD;
    return;
  }
  m->setNumber(typeOf(t), raw_[(size_t)k]);
  m->quality = fresh_[(size_t)k] ? OT_SP_QUALITY_GOOD : OT_SP_QUALITY_STALE;
}

void otSpEdge::publish(const char* type, otSpPayload& p) {
  p.hasTimestamp = true;
  p.timestamp = (uint64_t)otWallMs();
  p.hasSeq = true;
  p.seq = seq_;
  std::string bytes;
  otSpEncode(p, &bytes);
  if (session_.publish(topic(type), bytes, 0, false) == 0) seq_ = otSpNext(seq_);
}

void otSpEdge::births() {
  readAll();
  seq_ = 0;
  otSpPayload node;
  otSpMetric rebirth;
  rebirth.name = kRebirth;
  rebirth.setNumber(OT_SP_BOOLEAN, 0);
  node.metrics.push_back(rebirth);
  otSpMetric bd;
  bd.name = "bdSeq";
  bd.setNumber(OT_SP_UINT64, (double)bdSeq_);
  node.metrics.push_back(bd);
  otSpPayload device;
  otSpPayload& tags = o_.device.empty() ? node : device;
  for (int k = 0; k < image_.tagCount(); k++) {
    otSpMetric m;
    m.name = image_.tag(k).name;
    m.hasAlias = true;
    m.alias = (uint64_t)k + 1;
    read(k, &m);
    Last& l = last_[(size_t)k];
    l.sent = true;
    l.quality = m.quality;
    m.number(m.datatype, &l.value);
    if (m.quality == OT_SP_QUALITY_GOOD) m.quality = -1;  // good unless it says otherwise
    tags.metrics.push_back(m);
  }
  publish("NBIRTH", node);
  if (!o_.device.empty()) publish("DBIRTH", device);
  born_ = true;
  counts_.births++;
}

void otSpEdge::scan() {
  if (!session_.isConnected() || !born_) return;
  readAll();
  otSpPayload p;
  for (int k = 0; k < image_.tagCount(); k++) {
    otSpMetric m;
    read(k, &m);
    double v = 0;
    bool hasValue = m.number(m.datatype, &v);
    Last& l = last_[(size_t)k];
    bool changed = m.quality != l.quality ||
                   (hasValue && (!l.sent || fabs(v - l.value) > deadband_[(size_t)k] ||
                                 (deadband_[(size_t)k] == 0 && v != l.value)));
    if (!changed) continue;
    // A good value carries no quality unless the one before was not good.
    const bool wasGood = l.quality == OT_SP_QUALITY_GOOD;
    l.sent = true;
    l.quality = m.quality;
    if (hasValue) l.value = v;
    m.hasAlias = true;
    m.alias = (uint64_t)k + 1;
    m.datatype = OT_SP_UNKNOWN;  // the birth gave it
    if (m.quality == OT_SP_QUALITY_GOOD && wasGood) m.quality = -1;
    p.metrics.push_back(m);
  }
  if (p.metrics.empty()) return;
  counts_.data++;
  counts_.changes += (long)p.metrics.size();
  publish(o_.device.empty() ? "NDATA" : "DDATA", p);
}

void otSpEdge::command(const otSpTopic& topic, const unsigned char* data, int len) {
  otSpPayload p;
  std::string why;
  if (!otSpDecode(data, (size_t)(len < 0 ? 0 : len), &p, &why)) {
    otLog(OT_LOG_WARNING, "otsparkplug: %s refused: %s\n", topic.type.c_str(), why.c_str());
    return;
  }
  for (const otSpMetric& m : p.metrics) {
    double v = 0;
    if (m.name == kRebirth) {
      if (m.number(OT_SP_BOOLEAN, &v) && v != 0) {
        otLog(OT_LOG_INFO, "otsparkplug: rebirth asked for\n");
        births();
      }
      continue;
    }
    int k = !m.name.empty() ? image_.find(m.name)
            : m.hasAlias && m.alias >= 1 && m.alias <= (uint64_t)image_.tagCount()
                ? (int)m.alias - 1
                : -1;
    const std::string label = !m.name.empty() ? m.name : "alias " + std::to_string(m.alias);
    const char* refusal = nullptr;
    if (k < 0)
      refusal = "no such tag";
    else if (!image_.tag(k).writable())
      refusal = "the tag is read-only";
    else if (!m.number(m.datatype != OT_SP_UNKNOWN ? m.datatype : typeOf(image_.tag(k)), &v))
      refusal = "no value of its type";
    else if (image_.writeRaw(k, v) < 0)
      refusal = "the write request cannot be posted";
    if (refusal != nullptr) {
      counts_.refused++;
      otLog(OT_LOG_WARNING, "otsparkplug: command to %s refused: %s\n", label.c_str(), refusal);
      continue;
    }
    counts_.writes++;
    otLog(OT_LOG_INFO, "otsparkplug: %s = %.17g written\n", label.c_str(), v);
  }
  image_.flush();
}
