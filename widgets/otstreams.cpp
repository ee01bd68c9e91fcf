#include "otstreams.h"

#include <string.h>

#include "hxglwidget.h"
#include "hxsvganimator.h"
#include "qdrawwidget.h"

namespace {

// A drawing taken without its widget is cut into lines as the widget's would be.
const int kDroppedLine = 4096;

}  // namespace

// ---- drawing -------------------------------------------------------------------------------

otDrawStream::otDrawStream(QDrawWidget* w) : w_(w), hadWidget_(w != nullptr) {}

int otDrawStream::lineSize() const {
  return w_ != nullptr ? w_->streamLineSize() : kDroppedLine;
}

void otDrawStream::started(otClientConnection&) {
  if (w_ != nullptr) w_->beginStream();
}

void otDrawStream::line(otClientConnection& c, const char* text, int, bool) {
  // The first bytes of an over-long line are drawn, as from a file (its rest is dropped).
  if (w_ != nullptr) {
    if (w_->streamLine(text) == -1) c.pop(this);
    return;
  }
  if (strncmp(text, "gendDraw", 8) == 0) c.pop(this);
}

void otDrawStream::lost() {
  if (w_ != nullptr) w_->streamLost();
}

// ---- SVG document --------------------------------------------------------------------------

otSvgStream::otSvgStream(QDrawWidget* w) : w_(w), hadWidget_(w != nullptr) {}

int otSvgStream::lineSize() const {
  return HX_SVG_MAX_LINE + 1;  // a line and its line feed, and the NUL
}

void otSvgStream::started(otClientConnection&) {
  if (w_ != nullptr) w_->animator()->beginRead();
}

void otSvgStream::line(otClientConnection& c, const char* text, int len, bool cut) {
  if (w_ != nullptr) {
    hxSvgAnimator* a = w_->animator();
    if (a->readLine(text, len, cut) == 1) {
      a->endRead();
      c.pop(this);
    }
    return;
  }
  if (strstr(text, "<svgend></svgend>") != nullptr) c.pop(this);
}

void otSvgStream::lost() {
  // What came is the document, as at its end.
  if (w_ != nullptr) w_->animator()->endRead();
}

// ---- GL block ------------------------------------------------------------------------------

otGlStream::otGlStream(HxGLWidget* w, int id, int* s, std::function<void(int)> done)
    : w_(w), id_(id), s_(s), done_(std::move(done)) {}

otGlStream::~otGlStream() {
  if (w_ != nullptr) w_->pauseStream(true);
}

HxGLWidget* otGlStream::target() {
  if (w_ != nullptr) return w_.data();
  if (none_ == nullptr) {
    none_.reset(new HxGLWidget(nullptr, id_, s_));
    none_->beginStream();
  }
  return none_.get();
}

int otGlStream::lineSize() const {
  return HxGLWidget::LINE_SIZE;
}

void otGlStream::started(otClientConnection&) {
  target()->beginStream();
}

void otGlStream::after(otClientConnection& c, int r) {
  if (r == 0) return;
  if (r == -1) {
    if (done_) {
      auto done = std::move(done_);
      done_ = nullptr;
      done(c.isOpen() ? 0 : -1);
    }
    c.pop(this);
    return;
  }
  long long n = target()->streamBlockWanted();
  if (n > 0) c.expectBlock(n);
}

void otGlStream::line(otClientConnection& c, const char* text, int, bool cut) {
  after(c, target()->streamLine(text, cut));
}

void otGlStream::block(otClientConnection& c, const char* data, int len, bool last) {
  after(c, target()->streamBlock(data, len, last));
}

void otGlStream::pause() {
  if (w_ != nullptr) w_->pauseStream();
  if (none_ != nullptr) none_->pauseStream();
}

void otGlStream::lost() {
  if (w_ != nullptr) w_->streamLost();
  if (none_ != nullptr) none_->streamLost();
  if (done_) {
    auto done = std::move(done_);
    done_ = nullptr;
    done(-1);
  }
}

// ---- argument lines ------------------------------------------------------------------------

otLinesStream::otLinesStream(long count, int size, std::function<void(const char*, int, bool)> each,
                             std::function<void(bool)> done)
    : left_(count), size_(size < 2 ? 2 : size), each_(std::move(each)), done_(std::move(done)) {}

void otLinesStream::started(otClientConnection& c) {
  if (left_ > 0) return;
  if (done_) done_(true);
  done_ = nullptr;
  c.pop(this);
}

void otLinesStream::line(otClientConnection& c, const char* text, int len, bool cut) {
  if (each_) each_(text, len, cut);
  if (--left_ > 0) return;
  if (done_) done_(true);
  done_ = nullptr;
  c.pop(this);
}

void otLinesStream::lost() {
  if (done_) done_(false);
  done_ = nullptr;
}

// ---- binary block --------------------------------------------------------------------------

otBlockStream::otBlockStream(long long n, std::function<void(const char*, int)> part,
                             std::function<void(bool)> done)
    : n_(n), part_(std::move(part)), done_(std::move(done)) {}

void otBlockStream::finish(bool complete) {
  if (!done_) return;
  auto done = std::move(done_);
  done_ = nullptr;
  done(complete);
}

void otBlockStream::started(otClientConnection& c) {
  if (n_ > 0) {
    // Refused (above the stream's bound): the connection is dropped and lost() says so.
    c.expectBlock(n_);
    return;
  }
  finish(true);
  c.pop(this);
}

void otBlockStream::line(otClientConnection& c, const char*, int, bool) {
  // No block was taken (the connection refused it): nothing of it comes any more.
  finish(false);
  c.pop(this);
}

void otBlockStream::block(otClientConnection& c, const char* data, int len, bool last) {
  if (part_) part_(data, len);
  if (!last) return;
  finish(true);
  c.pop(this);
}

void otBlockStream::lost() {
  finish(false);
}
