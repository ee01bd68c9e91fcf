#include "hxglwidget.h"

#include <QMouseEvent>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <vector>

#include "hxglwidget_p.h"
#include "mywidgets_p.h"
#include "tcputil.h"

namespace {

HxGLProc resolve(const char* name) {
  QOpenGLContext* c = QOpenGLContext::currentContext();
  return c ? c->getProcAddress(name) : nullptr;
}

}  // namespace

HxGLWidget::HxGLWidget(QWidget* parent, int id, int* s, const char* name,
                       const QOpenGLWidget* /*shareWidget*/)
    : QOpenGLWidget(parent), s_(s), id_(id), dec_(new HxGLDecoder(this)) {
  myNameWidget(this, name);
  // The stream is OpenGL 1.x: a compatibility context, with depth and stencil buffers as a
  // double-buffered GL window has them.
  QSurfaceFormat f = format();
  f.setRenderableType(QSurfaceFormat::OpenGL);
  f.setProfile(QSurfaceFormat::CompatibilityProfile);
  f.setVersion(2, 1);
  f.setDepthBufferSize(24);
  f.setStencilBufferSize(8);
  setFormat(f);
  // The stream draws outside paintGL and expects its picture to stay until it draws again:
  // the frame buffer is kept between paints, not discarded after each.
  setUpdateBehavior(QOpenGLWidget::PartialUpdate);
}

HxGLWidget::~HxGLWidget() {
  if (firstList_ > 0 && isValid()) {
    makeCurrent();
    dec_->setLive(true);
    dec_->deleteLists(firstList_, lastList_);
    dec_->setLive(false);
    doneCurrent();
  }
}

void HxGLWidget::noteLists(long first, long count) {
  if (first <= 0 || count <= 0) return;
  long last = first + count - 1;
  if (last > 0x7fffffffL) last = 0x7fffffffL;
  if (firstList_ < 0 || first < firstList_) firstList_ = (int)first;
  if (lastList_ < 0 || last > lastList_) lastList_ = (int)last;
}

void HxGLWidget::beginStream() {
  dec_->abandon();
  streaming_ = true;
  current_ = false;
}

void HxGLWidget::takeContext() {
  if (current_) return;
  // Between batches Qt may have painted with another context (or this one): the context is
  // taken again when it is not the current one any more, and readied for the stream again.
  bool live = isValid() && context() != nullptr;
  if (live && (!held_ || QOpenGLContext::currentContext() != context())) makeCurrent();
  held_ = live;
  dec_->setLive(live);
  if (live) dec_->prepare();
  current_ = true;
}

void HxGLWidget::pauseStream(bool release) {
  if (current_) {
    current_ = false;
    dec_->setLive(false);
  }
  // Between batches the context stays current: taking it again for the next costs more than
  // the check whether anything else took it meanwhile.
  if (release && held_) {
    held_ = false;
    doneCurrent();
  }
}

int HxGLWidget::finish(int r) {
  if (r != -1) return r;
  bool live = current_ && dec_->live();
  pauseStream(true);
  streaming_ = false;
  if (live) update();  // shows the frame buffer (the paint request this causes is not reported)
  return -1;
}

int HxGLWidget::streamLine(const char* line, bool cut) {
  if (cut) return 0;  // a line that did not fit is dropped whole, never run cut short
  if (!current_) takeContext();
  int r = dec_->streamLine(line);
  if (r == -1) return finish(-1);
  return r == 2 ? 1 : 0;
}

long long HxGLWidget::streamBlockWanted() {
  return dec_->takeAnnounced();
}

int HxGLWidget::streamBlock(const char* bytes, int len, bool last) {
  if (!current_) takeContext();
  int r = dec_->blockPart(bytes, len, last);
  if (r == -1) return finish(-1);
  return dec_->announcedBlock() ? 1 : 0;
}

void HxGLWidget::streamLost() {
  dec_->abandon();
  finish(-1);
}

int HxGLWidget::interpret(const char* line) {
  return dec_->interpret(line);
}

int HxGLWidget::glputbytes(const void* bytes, int n) {
  if (n < 0) n = 0;
  char head[40];
  int len = snprintf(head, sizeof head, "glputbytes(%d);\n", n);
  int r = tcp_send(s_, head, len);
  if (r < 0 || n == 0) return r;
  return tcp_send(s_, static_cast<const char*>(bytes), n);
}

int HxGLWidget::gllongresponse(long value) {
  char buf[48];
  int len = snprintf(buf, sizeof buf, "gllongresponse(%ld);\n", value);
  return tcp_send(s_, buf, len);
}

void HxGLWidget::initializeGL() {
  // The server sets the context up through the stream; a new context starts from GL's
  // defaults, and so does what the decoder knows of it.
  HxGLDecoder::setResolver(&resolve);
  dec_->reset();
}

void HxGLWidget::resizeGL(int w, int h) {
  myEvent(s_, nullptr, "resizeGL(%d,%d,%d)", id_, w, h);
}

void HxGLWidget::requestPaint() {
  paintToggle_ = 0;
  update();
}

void HxGLWidget::paintGL() {
  // Every other request: the server answers one with a block, whose end asks for the
  // repaint that shows it.
  if (paintToggle_ == 0) myEvent(s_, nullptr, "paintGL(%d)", id_);
  paintToggle_ = !paintToggle_;
}

void HxGLWidget::mouseMoveEvent(QMouseEvent* e) {
  myEvent(s_, nullptr, "QPlotMouseMoved(%d,%d,%d)", id_, e->x(), e->y());
}

void HxGLWidget::mousePressEvent(QMouseEvent* e) {
  myEvent(s_, nullptr, "QPushButtonPressed(%d) -xy=%d,%d", id_, e->x(), e->y());
}

void HxGLWidget::mouseReleaseEvent(QMouseEvent* e) {
  if (rect().contains(e->pos()))
    myEvent(s_, nullptr, "QPushButtonReleased(%d) -xy=%d,%d", id_, e->x(), e->y());
}

void HxGLWidget::enterEvent(QEvent*) {
  myEvent(s_, nullptr, "mouseEnterLeave(%d,1)", id_);
}

void HxGLWidget::leaveEvent(QEvent*) {
  myEvent(s_, nullptr, "mouseEnterLeave(%d,0)", id_);
}
