#include "mainwindow.h"

#include <poll.h>
#include <unistd.h>
#include <stdio.h>

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "interpreter.h"
#include "otoptions.h"
#include "tcputil.h"

namespace {

// The first wait after a lost connection; it doubles up to the configured longest wait.
const int firstDelayMs = 250;
// How long one batch of lines may hold the GUI thread before painting gets its turn.
const int batchMs = 40;
// The longest a batch holds the window, even while lines keep coming.
const int maxBatchMs = 200;
// Lines after which a burst holds back repainting until its end.
const int burstLines = 64;
// How often a server's promise to speak ("@alive") is checked.
const int aliveCheckMs = 250;
// How soon the rest of a partly received line is looked for.
const int partialRetryMs = 20;
// The longest pause between two segments of one burst.
const int burstGapMs = 2;

// Waits up to ms for more input. A server sends a mask or an update pass as a burst of lines
// that arrives in several segments; waiting a moment for the next one keeps the window from
// repainting half an update, which would cost more than the wait.
bool readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

}  // namespace

otClientWindow::otClientWindow(const QString& host, int port, QWidget* parent)
    : QMainWindow(parent),
      host_(host),
      port_(port),
      timer_(new QTimer(this)),
      mask_(new QWidget),
      connection_(new QLabel(this)),
      delay_(firstDelayMs),
      line_(new char[otclient::maxLine + 1]) {
  setWindowTitle("otclient");
  auto* scroll = new QScrollArea(this);
  scroll->setWidget(mask_);
  scroll->setWidgetResizable(true);
  setCentralWidget(scroll);
  mask_->installEventFilter(this);
  mask_->setFocusPolicy(Qt::StrongFocus);
  interpreter_ = new otClientInterpreter(&s_, mask_, statusBar(), this);
  statusBar()->addPermanentWidget(connection_);
  // A sync is answered once everything before it is on screen, not only in the widgets.
  // Only what changed is painted: the widgets have marked it, and the window's pending update
  // request paints and shows exactly that.
  connect(interpreter_, &otClientInterpreter::syncRequested, this, [this] {
    QWidget* area = centralWidget();
    if (!area->updatesEnabled()) area->setUpdatesEnabled(true);
    QCoreApplication::sendPostedEvents(window(), QEvent::UpdateRequest);
  });

  retry_ = new QAction("Reconnect", this);
  retry_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  retry_->setToolTip("Connect to the display server now");
  connect(retry_, &QAction::triggered, this, &otClientWindow::connectNow);
  QToolBar* bar = addToolBar("Connection");
  bar->addAction(retry_);

  partialTimer_ = new QTimer(this);
  partialTimer_->setSingleShot(true);
  connect(partialTimer_, &QTimer::timeout, this, &otClientWindow::readAvailable);
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, &otClientWindow::connectNow);
  aliveTimer_ = new QTimer(this);
  connect(aliveTimer_, &QTimer::timeout, this, &otClientWindow::checkAlive);
  aliveTimer_->start(aliveCheckMs);
  tcp_set_wait_hook(&otClientWindow::waitHook, this);
  resize(800, 600);
  QTimer::singleShot(0, this, &otClientWindow::connectNow);
}

// A mask the server makes larger than the window (setMinimumSize of id 0) grows the window to
// show all of it, as far as the screen allows; the scroll area covers the rest.
bool otClientWindow::eventFilter(QObject* watched, QEvent* e) {
  if (watched == mask_ && e->type() == QEvent::Resize) {
    auto* scroll = static_cast<QScrollArea*>(centralWidget());
    QSize want = mask_->minimumSize() + (size() - scroll->viewport()->size());
    if (QScreen* screen = this->screen()) want = want.boundedTo(screen->availableGeometry().size());
    QSize grown = size().expandedTo(want);
    if (grown != size()) resize(grown);
  }
  return QMainWindow::eventFilter(watched, e);
}

otClientWindow::~otClientWindow() {
  tcp_set_wait_hook(nullptr, nullptr);
  delete notifier_;
  if (s_ > 0) tcp_close(&s_);
  delete[] line_;
}

QString otClientWindow::connectionText() const {
  return connection_->text();
}

void otClientWindow::setConnectionText(const QString& text, bool bad) {
  QPalette pal = connection_->palette();
  pal.setColor(QPalette::WindowText, bad ? QColor(200, 0, 0) : QColor(0, 120, 0));
  connection_->setPalette(pal);
  connection_->setText(text);
}

int otClientWindow::waitHook(void* window) {
  auto* self = static_cast<otClientWindow*>(window);
  // Only a stream read from this window's loop is kept live and given up here.
  if (!self->reading_) return 0;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return self->giveUp_ ? 1 : 0;
}

void otClientWindow::checkAlive() {
  if (reading_ || s_ <= 0 || tcp_peer_silent(&s_) == 0) return;
  QString why = QString::fromUtf8(tcp_broken_reason());
  tcp_abort(&s_, why.toUtf8().constData());
  lost();
}

void otClientWindow::closeEvent(QCloseEvent* e) {
  // A stream being read is given up, so that the program can end.
  if (reading_) giveUp_ = true;
  QMainWindow::closeEvent(e);
}

void otClientWindow::connectNow() {
  timer_->stop();
  if (reading_ && s_ > 0) {
    // The operator gives up the stream that is being read; the connection is made again as
    // soon as the read has unwound.
    giveUp_ = true;
    retryNow_ = true;
    return;
  }
  if (s_ > 0) return;
  tcp_clear_broken_reason();
  QByteArray host = host_.toUtf8();
  int slot = tcp_con(host.constData(), port_);
  s_ = slot;
  int fd = (slot >= 1 && slot <= 32) ? tcp_fd(&s_) : -1;
  if (fd < 0) {
    if (slot >= 1 && slot <= 32) tcp_close(&s_);
    s_ = -1;
    lost();
    return;
  }
  delay_ = firstDelayMs;
  dropping_ = false;
  notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &otClientWindow::readAvailable);
  setConnectionText(QString("connected to %1:%2").arg(host_).arg(port_), false);
  Q_EMIT connectedChanged(true);
}

void otClientWindow::lost() {
  bool was = notifier_ != nullptr;
  partialTimer_->stop();
  delete notifier_;
  notifier_ = nullptr;
  s_ = -1;
  // The mask stays on screen, greyed out: its values are no longer live.
  mask_->setEnabled(false);
  QString why = QString::fromUtf8(tcp_broken_reason());
  setConnectionText(QString("no connection to %1:%2%4, next try in %3 s (Ctrl+R: now)")
                        .arg(host_)
                        .arg(port_)
                        .arg(delay_ / 1000.0, 0, 'f', 1)
                        .arg(why.isEmpty() ? QString() : " (" + why + ")"),
                    true);
  timer_->start(delay_);
  delay_ = qMin(delay_ * 2, qMax(firstDelayMs, opt.reconnect_max_ms));
  if (was) Q_EMIT connectedChanged(false);
}

void otClientWindow::readAvailable() {
  if (notifier_ == nullptr || reading_) return;
  reading_ = true;
  giveUp_ = false;
  retryNow_ = false;
  readLines();
  reading_ = false;
  if (retryNow_ && s_ <= 0) {
    retryNow_ = false;
    delay_ = firstDelayMs;
    connectNow();
  }
}

void otClientWindow::readLines() {
  notifier_->setEnabled(false);
  QElapsedTimer batch;
  batch.start();
  int fd = tcp_fd(&s_);
  int lines = 0;
  // A long burst (an update pass over a whole mask) is drawn once at its end: marking each
  // changed widget dirty one by one costs more than one repaint of the central area.
  QWidget* area = centralWidget();
  bool held = false;
  bool partial = false;
  int ready = 0;  // lines that tcp_rec hands over without blocking
  bool more = false;
  for (;;) {
    if (batch.elapsed() >= maxBatchMs) {
      // A sender that never pauses still lets the window paint and take input now and then;
      // what is waiting (perhaps only in the connection's read-ahead) is taken up at once after.
      more = true;
      break;
    }
    if (ready == 0) {
      ready = tcp_line_ready(&s_, otclient::maxLine + 1);
      QElapsedTimer gap;
      gap.start();
      while (ready == 0 && batch.elapsed() < batchMs && gap.elapsed() < burstGapMs) {
        if (!readable(fd, burstGapMs)) break;
        // What came may be whole lines already (it may even have come since the look above).
        ready = tcp_line_ready(&s_, otclient::maxLine + 1);
        if (ready == 0) usleep(200);  // part of a line is here; its rest is on the way
      }
      if (ready == 0) {
        // Only part of a line may be left: it is looked for again later, without holding the
        // window and without its readiness waking the loop again and again.
        partial = readable(fd, 0);
        break;
      }
    }
    ready--;
    if (++lines == burstLines && area->updatesEnabled()) {
      area->setUpdatesEnabled(false);
      held = true;
    }
    int n = tcp_rec(&s_, line_, otclient::maxLine + 1);
    if (n < 0) {
      if (held) area->setUpdatesEnabled(true);
      lost();
      return;
    }
    bool complete = n > 0 && line_[n - 1] == '\n';
    if (dropping_) {
      dropping_ = !complete;
      continue;
    }
    if (!complete) {
      // Refused whole: the rest of the line is dropped as it arrives.
      printf("otclient: line longer than %d bytes refused\n", (int)otclient::maxLine);
      fflush(stdout);
      dropping_ = true;
      continue;
    }
    long reads = interpreter_->dataReads();
    // What a command's block or stream may bring.
    tcp_stream_limit(&s_, (long long)(opt.stream_max_mb > 0 ? opt.stream_max_mb : 512) << 20);
    interpreter_->interpret(line_, n);
    tcp_stream_limit(&s_, -1);
    if (interpreter_->dataReads() != reads) ready = 0;  // the lines counted may have been data
    if (s_ <= 0) {  // a command's data read found the connection closed
      if (held) area->setUpdatesEnabled(true);
      lost();
      return;
    }
  }
  if (held) area->setUpdatesEnabled(true);
  if (more)
    partialTimer_->start(0);
  else if (partial)
    partialTimer_->start(partialRetryMs);
  else
    notifier_->setEnabled(true);
}

void otClientWindow::keyPressEvent(QKeyEvent* e) {
  // A modifier alone is no key of its own: it comes with the next key.
  int key = e->key();
  bool modifierOnly = key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
                      key == Qt::Key_Meta || key == Qt::Key_AltGr;
  if (s_ > 0 && key != 0 && key != Qt::Key_unknown && !modifierOnly) {
    int modifier = 0;
    if (e->modifiers() & Qt::ShiftModifier) modifier |= 1;
    if (e->modifiers() & Qt::ControlModifier) modifier |= 2;
    if (e->modifiers() & Qt::AltModifier) modifier |= 4;
    char line[64];
    int n = snprintf(line, sizeof(line), "key(%d,%d)\n", modifier, key);
    tcp_send(&s_, line, n);
    return;
  }
  QMainWindow::keyPressEvent(e);
}
