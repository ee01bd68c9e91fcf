#include "otsphost.h"

#include "otlog.h"
#include "otspedge.h"
#include "ottime.h"

namespace {

const char kRebirth[] = "Node Control/Rebirth";

}  // namespace

otSpHost::otSpHost(const otTagImage& tags, const otDaemonHeader& header, otMqttSession& session,
                   const otSpHostOptions& options)
    : tags_(tags), header_(header), session_(session), o_(options) {
  const size_t cycles = header_.cycles.size();
  blocks_.resize(cycles);
  out_.resize(cycles);
  cycleTags_.resize(cycles);
  for (size_t c = 0; c < cycles; c++) {
    blocks_[c].assign((size_t)header_.cycles[c].bytes, 0);
    out_[c].assign((size_t)header_.cycles[c].bytes, 0);
  }
  quality_.assign((size_t)tags_.tagCount(), OT_SP_QUALITY_BAD);
  type_.assign((size_t)tags_.tagCount(), OT_SP_UNKNOWN);
  for (int k = 0; k < tags_.tagCount(); k++) {
    const otTag& t = tags_.tag(k);
    if (t.cycle >= 1 && (size_t)t.cycle <= cycles) cycleTags_[(size_t)t.cycle - 1].push_back(k);
  }
  session_.beforeConnect = [this] { session_.setWill(stateTopic(), state(false), 1, true); };
  session_.connected = [this] {
    const std::string base = "spBv1.0/" + o_.group + "/+/" + o_.node;
    session_.subscribe(base, 1);
    session_.subscribe(base + "/+", 1);
    stateOf(true);
    // What was mirrored before this session is not known to be current: a birth tells.
    std::lock_guard<std::mutex> hold(lock_);
    askRebirth(nullptr);
  };
  session_.lost = [this] {
    std::lock_guard<std::mutex> hold(lock_);
    alive_ = born_ = false;
  };
  session_.message = [this](const std::string& t, const unsigned char* d, int n) {
    message(t, d, n);
  };
}

std::string otSpHost::stateTopic() const {
  return "spBv1.0/STATE/" + o_.host;
}

std::string otSpHost::state(bool online) {
  return std::string("{\"online\":") + (online ? "true" : "false") +
         ",\"timestamp\":" + std::to_string(otWallMs()) + "}";
}

void otSpHost::stateOf(bool online) {
  session_.publish(stateTopic(), state(online), 1, true);
}

void otSpHost::goodbye() {
  if (!session_.isConnected()) return;
  stateOf(false);
  session_.disconnect();
}

int otSpHost::open(const char* av0) {
  otLog(OT_LOG_INFO, "%s: mirrors spBv1.0/%s/.../%s into %s (%ld bytes)\n", av0, o_.group.c_str(),
        o_.node.c_str(), header_.sharedMemory.c_str(), header_.size);
  return 0;
}

const unsigned char* otSpHost::read(int k, const otDaemonCycle&, bool) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!alive_ || !born_ || k < 1 || (size_t)k > blocks_.size()) return nullptr;
  for (int t : cycleTags_[(size_t)k - 1])
    if (quality_[(size_t)t] != OT_SP_QUALITY_GOOD) return nullptr;
  out_[(size_t)k - 1] = blocks_[(size_t)k - 1];
  return out_[(size_t)k - 1].data();
}

bool otSpHost::check(const unsigned char* msg, int len) {
  double raw = 0;
  if (tags_.requestedWrite(msg, len, &raw) >= 0) return true;
  otLog(OT_LOG_WARNING,
        "otspmirror: a write request of %d bytes that no writable tag posts: refused\n", len);
  std::lock_guard<std::mutex> hold(lock_);
  counts_.refused++;
  return false;
}

int otSpHost::write(const unsigned char* msg, int len) {
  double raw = 0;
  int k = tags_.requestedWrite(msg, len, &raw);
  std::lock_guard<std::mutex> hold(lock_);
  if (k < 0) return WRITE_REFUSED;
  // Held by the runtime and tried again while the edge is away.
  if (!alive_ || !born_) return WRITE_UNREACHABLE;
  commands_.emplace_back(k, raw);
  return WRITE_DONE;
}

otSpHost::Counts otSpHost::counts() {
  std::lock_guard<std::mutex> hold(lock_);
  return counts_;
}

void otSpHost::askRebirth(const char* why) {
  // Under lock_.
  if (why != nullptr) otLog(OT_LOG_INFO, "otspmirror: %s: a rebirth is asked for\n", why);
  if (rebirthAt_ == 0) rebirthAt_ = otMonotonicMs() + (why != nullptr ? o_.reorderMs : 0);
}

void otSpHost::tick() {
  if (!session_.isConnected()) return;
  otSpPayload cmd;
  bool rebirth = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const long long now = otMonotonicMs();
    if (rebirthAt_ != 0 && now >= rebirthAt_) {
      rebirth = true;
      rebirthAt_ = 0;
      lastRebirth_ = now;
      counts_.rebirths++;
    }
    while (!commands_.empty()) {
      const otTag& t = tags_.tag(commands_.front().first);
      otSpMetric m;
      m.name = t.name;
      m.setNumber(otSpEdge::typeOf(t), commands_.front().second);
      cmd.metrics.push_back(m);
      commands_.pop_front();
      counts_.commands++;
    }
  }
  if (rebirth) {
    otSpMetric m;
    m.name = kRebirth;
    m.setNumber(OT_SP_BOOLEAN, 1);
    cmd.metrics.insert(cmd.metrics.begin(), m);
  }
  if (cmd.metrics.empty()) return;
  cmd.hasTimestamp = true;
  cmd.timestamp = (uint64_t)otWallMs();
  std::string bytes;
  otSpEncode(cmd, &bytes);
  session_.publish("spBv1.0/" + o_.group + "/NCMD/" + o_.node, bytes, 1, false);
}

void otSpHost::message(const std::string& topic, const unsigned char* d, int n) {
  otSpTopic t;
  if (!t.parse(topic) || t.group != o_.group || t.node != o_.node) return;
  if (t.type == "NCMD" || t.type == "DCMD") return;  // ours, or another host's
  otSpPayload p;
  std::string why;
  if (!otSpDecode(d, (size_t)(n < 0 ? 0 : n), &p, &why)) {
    otLog(OT_LOG_WARNING, "otspmirror: %s refused: %s\n", topic.c_str(), why.c_str());
    return;
  }
  std::lock_guard<std::mutex> hold(lock_);
  if (t.type == "NBIRTH" || t.type == "DBIRTH") {
    birth(p);
    if (t.type == "NBIRTH") counts_.births++;
  } else if (t.type == "NDATA" || t.type == "DDATA") {
    data(p);
  } else if (t.type == "NDEATH") {
    double bd = -1;
    for (const otSpMetric& m : p.metrics)
      if (m.name == "bdSeq") m.number(OT_SP_UINT64, &bd);
    // The Will of an older session comes late: only this session's death counts.
    if (born_ && bd == (double)bdSeq_) {
      alive_ = false;
      counts_.deaths++;
      otLog(OT_LOG_WARNING, "otspmirror: the edge node %s died: its values are stale\n",
            o_.node.c_str());
    }
  } else if (t.type == "DDEATH") {
    alive_ = false;
  }
}

void otSpHost::birth(const otSpPayload& p) {
  if (!p.hasSeq) return;
  for (const otSpMetric& m : p.metrics) {
    if (m.name == "bdSeq") {
      double bd = 0;
      if (m.number(OT_SP_UINT64, &bd)) bdSeq_ = (uint64_t)bd;
      continue;
    }
    int k = tags_.find(m.name);
    if (k < 0 || m.name.empty()) continue;
    if (m.datatype != otSpEdge::typeOf(tags_.tag(k))) {
      otLog(OT_LOG_WARNING, "otspmirror: %s is born a %s, the table has %s: not mirrored\n",
            m.name.c_str(), otSpTypeName(m.datatype) ? otSpTypeName(m.datatype) : "?",
            otSpTypeName(otSpEdge::typeOf(tags_.tag(k))));
      continue;
    }
    if (m.hasAlias) alias_[m.alias] = k;
    type_[(size_t)k] = m.datatype;
    quality_[(size_t)k] = m.quality >= 0 ? m.quality : OT_SP_QUALITY_GOOD;
    place(k, m, m.datatype);
  }
  seq_ = p.seq;
  born_ = alive_ = true;
  rebirthAt_ = 0;
}

void otSpHost::data(const otSpPayload& p) {
  if (!born_) {
    askRebirth("data before a birth");
    return;
  }
  counts_.data++;
  if (!p.hasSeq || p.seq != otSpNext(seq_)) askRebirth("a gap in seq");
  seq_ = p.seq;
  for (const otSpMetric& m : p.metrics) {
    int k = -1;
    if (m.hasAlias) {
      auto it = alias_.find(m.alias);
      k = it != alias_.end() ? it->second : -1;
    } else if (!m.name.empty()) {
      k = tags_.find(m.name);
    }
    if (k < 0 || type_[(size_t)k] == OT_SP_UNKNOWN) {
      askRebirth("a metric that was never born");
      continue;
    }
    if (m.quality >= 0) quality_[(size_t)k] = m.quality;
    if (m.isNull) {
      quality_[(size_t)k] = OT_SP_QUALITY_BAD;
      continue;
    }
    place(k, m, type_[(size_t)k]);
  }
}

void otSpHost::place(int k, const otSpMetric& m, int type) {
  const otTag& t = tags_.tag(k);
  double v = 0;
  if (!m.number(type, &v)) return;
  std::vector<unsigned char>& b = blocks_[(size_t)t.cycle - 1];
  otTagImage::putRaw(t, v, b.data(), b.size());
}
