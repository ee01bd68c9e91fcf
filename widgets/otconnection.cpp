#include "otconnection.h"

#include <limits.h>
#include <poll.h>
#include <stdio.h>

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>

#include "otoptions.h"
#include "ottime.h"
#include "tcputil.h"

namespace {

// How long one batch of lines may hold the GUI thread before painting gets its turn.
const int kBatchMs = 40;
// The longest a batch holds the window, even while lines keep coming.
const int kMaxBatchMs = 200;
// Lines after which a burst holds back repainting until its end.
const int kBurstLines = 64;
// How soon the rest of a partly received line is looked for when the socket stays readable.
const int kPartialRetryMs = 20;
// The longest pause between two segments of one burst that a batch waits out.
const int kBurstGapMs = 2;
// The same in a batch that takes a stream: a server that draws frame after frame (a GL block
// acknowledged, the next one made) pauses longer between its segments, and a window that
// repainted in every such pause would spend more on it than on the stream. Such a batch waits
// for more while it is younger than kBatchMs, as a burst of commands does: the window gets its
// turn at least 25 times a second (and at once when the server falls silent for kStreamGapMs).
const int kStreamGapMs = 15;
// How often a stream's silence is looked at.
const int kStallCheckMs = 250;
// The stall limit of an options record that was never given defaults (as tcputil's).
const int kDefaultStallS = 8;
// A block is taken in parts of at most this size.
const int kBlockPart = 65536;
// tcputil takes at most half its read-ahead as one line's part; a longer buffer could wait for
// a line feed that the read-ahead never takes.
const int kLongestLine = 32768;
// The bound on a stream of a record without defaults.
const int kDefaultStreamMb = 512;

// Waits up to ms for more input. A server sends a mask or an update pass as a burst of lines
// that arrives in several segments; waiting a moment for the next one keeps the window from
// repainting half an update, which would cost more than the wait.
bool readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

}  // namespace

void otStreamConsumer::block(otClientConnection&, const char*, int, bool) {}
void otStreamConsumer::started(otClientConnection&) {}

otClientConnection::otClientConnection(QObject* parent)
    : QObject(parent), again_(new QTimer(this)), stall_(new QTimer(this)) {
  again_->setSingleShot(true);
  connect(again_, &QTimer::timeout, this, &otClientConnection::readAvailable);
  connect(stall_, &QTimer::timeout, this, &otClientConnection::checkStall);
}

otClientConnection::~otClientConnection() {
  close();
}

int otClientConnection::open(const char* host, int port) {
  if (s_ > 0) return 0;
  int slot = tcp_con(host, port);
  s_ = slot;
  // The plain socket, or what the plug-in that carries the connection waits on.
  int fd = (slot >= 1 && slot <= 32) ? tcp_wait_fd(&s_) : -1;
  if (fd < 0) {
    if (slot >= 1 && slot <= 32) tcp_close(&s_);
    s_ = -1;
    return -1;
  }
  fd_ = fd;
  dropping_ = false;
  blockLeft_ = 0;
  blockFor_ = nullptr;
  readyLines_ = 0;
  lastByteMs_ = otMonotonicMs();
  notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    lastByteMs_ = otMonotonicMs();
    readAvailable();
  });
  stall_->start(kStallCheckMs);
  return 0;
}

void otClientConnection::teardown() {
  if (notifier_ != nullptr) {
    notifier_->setEnabled(false);
    notifier_->deleteLater();
    notifier_ = nullptr;
  }
  again_->stop();
  stall_->stop();
  fd_ = -1;
  bounded_ = false;
  blockLeft_ = 0;
  blockFor_ = nullptr;
  dropping_ = false;
  readyLines_ = 0;
}

void otClientConnection::close() {
  if (s_ > 0) tcp_close(&s_);
  s_ = -1;
  teardown();
  for (auto it = stack_.rbegin(); it != stack_.rend(); ++it)
    popped_.push_back(std::move(*it));
  stack_.clear();
  if (!reading_) bury();
}

void otClientConnection::abort(const char* why) {
  if (s_ <= 0) return;
  tcp_abort(&s_, why);
  gone();
}

void otClientConnection::gone() {
  if (fd_ < 0 && stack_.empty()) return;  // reported already
  s_ = -1;
  teardown();
  // Top down: a stream ends before the one that started it.
  while (!stack_.empty()) {
    std::unique_ptr<otStreamConsumer> c = std::move(stack_.back());
    stack_.pop_back();
    c->lost();
    popped_.push_back(std::move(c));
  }
  if (base_ != nullptr) base_->lost();
  buryLater();
  Q_EMIT lost();
}

void otClientConnection::bury() {
  popped_.clear();
}

void otClientConnection::buryLater() {
  // A consumer may pop itself from any of its calls: it is deleted once that has returned.
  if (reading_ || buryQueued_ || popped_.empty()) return;
  buryQueued_ = true;
  QTimer::singleShot(0, this, [this] {
    buryQueued_ = false;
    if (!reading_) bury();
  });
}

otStreamConsumer* otClientConnection::current() const {
  return stack_.empty() ? base_ : stack_.back().get();
}

void otClientConnection::push(std::unique_ptr<otStreamConsumer> c) {
  if (c == nullptr) return;
  otStreamConsumer* p = c.get();
  stack_.push_back(std::move(c));
  readyLines_ = 0;
  bound(true);
  p->started(*this);
}

void otClientConnection::pop(otStreamConsumer* c) {
  auto it = std::find_if(stack_.begin(), stack_.end(),
                         [c](const std::unique_ptr<otStreamConsumer>& p) { return p.get() == c; });
  if (it == stack_.end()) return;
  for (auto top = stack_.end(); top != it;) {
    --top;
    if (top->get() == blockFor_) blockFor_ = nullptr;  // the rest of its block is dropped
    popped_.push_back(std::move(*top));
  }
  stack_.erase(it, stack_.end());
  readyLines_ = 0;
  buryLater();
}

void otClientConnection::bound(bool on) {
  if (s_ <= 0 || on == bounded_) return;
  int mb = opt.stream_max_mb > 0 ? opt.stream_max_mb : kDefaultStreamMb;
  tcp_stream_limit(&s_, on ? (long long)mb << 20 : -1);
  bounded_ = on;
}

bool otClientConnection::expectBlock(long long n) {
  if (s_ <= 0 || n <= 0) return false;
  long long left = tcp_stream_left(&s_);
  if (left >= 0 && n > left) {
    // Refused before a byte of it is waited for: the announced size alone breaks the bound.
    char why[96];
    snprintf(why, sizeof why, "a block or stream above %d MiB",
             opt.stream_max_mb > 0 ? opt.stream_max_mb : kDefaultStreamMb);
    abort(why);
    return false;
  }
  blockFor_ = current();
  blockLeft_ = n;
  readyLines_ = 0;
  return true;
}

void otClientConnection::checkStall() {
  if (s_ <= 0 || !inStream() || reading_) return;
  const long long stall =
      (long long)(opt.stream_timeout > 0 ? opt.stream_timeout : kDefaultStallS) * 1000;
  if (otMonotonicMs() - lastByteMs_ < stall) return;
  char why[112];
  snprintf(why, sizeof why, "the server sent nothing for %lld s in the middle of a block or stream",
           stall / 1000);
  abort(why);
}

void otClientConnection::deliverLine(otStreamConsumer* c, const char* text, int len, bool cut) {
  if (c == nullptr) return;
  // What a command's block or stream may bring is bounded from its line on.
  if (c == base_) bound(true);
  c->line(*this, text, len, cut);
}

bool otClientConnection::takeLine(otStreamConsumer* c, int size) {
  if ((int)line_.size() < size) line_.resize((size_t)size);
  int n = tcp_rec(&s_, line_.data(), size);
  if (n < 0) {
    gone();
    return false;
  }
  bool complete = n > 0 && line_[(size_t)n - 1] == '\n';
  if (dropping_) {
    dropping_ = !complete;
    readyLines_ = 0;
    return true;
  }
  // A line that fills the buffer is cut (as tcp_rec_line cuts it): its rest is dropped as it
  // arrives, since taken on its own it would be a line. A shorter one without its line feed
  // is the last of a server that hung up.
  const bool cut = !complete && n >= size - 1;
  if (cut) {
    dropping_ = true;
    readyLines_ = 0;
  }
  deliverLine(c, line_.data(), n, cut);
  if (s_ <= 0) {
    gone();
    return false;
  }
  return true;
}

bool otClientConnection::takeBlockPart(int ready) {
  const long long most = ready == INT_MAX ? (long long)INT_MAX : (long long)kBlockPart;
  int chunk = (int)std::min({(long long)ready, blockLeft_, most});
  if ((int)part_.size() < chunk) part_.resize((size_t)chunk);
  if (tcp_rec_binary(&s_, part_.data(), chunk) != chunk) {
    gone();
    return false;
  }
  blockLeft_ -= chunk;
  const bool last = blockLeft_ == 0;
  otStreamConsumer* to = blockFor_;
  if (last) {
    blockFor_ = nullptr;
    readyLines_ = 0;
  }
  bool onStack = to == base_ && to != nullptr;
  for (const auto& c : stack_)
    onStack = onStack || c.get() == to;
  if (onStack) to->block(*this, part_.data(), chunk, last);
  if (s_ <= 0) {
    gone();
    return false;
  }
  return true;
}

int otClientConnection::probe(int lineSize) {
  // A connection the plug-in carries is asked the same way: tcputil counts what the plug-in
  // holds decrypted already, or looks at its descriptor when the plug-in cannot tell.
  if (blockLeft_ > 0) return tcp_bytes_ready(&s_);
  return tcp_line_ready(&s_, lineSize);
}

void otClientConnection::readAvailable() {
  if (s_ <= 0 || reading_) return;
  reading_ = true;
  if (notifier_ != nullptr) notifier_->setEnabled(false);
  QElapsedTimer batch;
  batch.start();
  burstLines_ = 0;
  bool more = false, partial = false, alive = true, streamed = false;
  for (int turn = 0;; turn++) {
    // The clock is looked at now and then: a line costs less than reading it.
    if ((turn & 15) == 0 && batch.elapsed() >= kMaxBatchMs) {
      // A sender that never pauses still lets the window paint and take input now and then;
      // what is waiting (perhaps only in the read-ahead) is taken up at once after.
      more = true;
      break;
    }
    otStreamConsumer* c = current();
    const int size = std::max(2, std::min(c != nullptr ? c->lineSize() : 4096, kLongestLine));
    int ready = blockLeft_ > 0 ? 0 : readyLines_;
    if (ready == 0) {
      ready = probe(size);
      streamed = streamed || inStream();
      const int most = streamed ? kStreamGapMs : kBurstGapMs;
      QElapsedTimer gap;
      gap.start();
      while (ready == 0 && batch.elapsed() < kBatchMs && gap.elapsed() < most) {
        if (!readable(fd_, most)) break;
        ready = probe(size);
      }
      if (ready == 0) {
        // Only part of a line (or of a block) is here: it is looked for again later, without
        // holding the window and without its readiness waking the loop again and again.
        partial = readable(fd_, 0);
        break;
      }
      lastByteMs_ = otMonotonicMs();  // the server is sending
    }
    if (blockLeft_ > 0) {
      if (!takeBlockPart(ready)) {
        alive = false;
        break;
      }
      if (!inStream()) bound(false);
      continue;
    }
    readyLines_ = ready - 1;
    // Only command lines make a burst: a stream repaints its own widget at its end, and
    // holding the window back for it would repaint all of the window after.
    if (c == base_ && ++burstLines_ == kBurstLines && burstHold_) {
      burstHold_(true);
      burstHeld_ = true;
    }
    if (!takeLine(c, size)) {
      alive = false;
      break;
    }
    if (!inStream()) bound(false);
  }
  for (const auto& c : stack_)
    c->pause();
  if (burstHeld_) burstHold_(false);
  burstHeld_ = false;
  reading_ = false;
  bury();
  if (!alive || s_ <= 0) return;
  if (more)
    again_->start(0);
  else if (partial)
    again_->start(kPartialRetryMs);
  else if (notifier_ != nullptr)
    notifier_->setEnabled(true);
}
