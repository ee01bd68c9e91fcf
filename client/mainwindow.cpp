#include "mainwindow.h"

#include <stdio.h>

#include <algorithm>
#include <string>

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "interpreter.h"
#include "logindialog.h"
#include "otconnection.h"
#include "otlog.h"
#include "otloginline.h"
#include "otoptions.h"
#include "tcputil.h"

namespace {

// The first wait after a lost connection; it doubles up to the configured longest wait.
const int firstDelayMs = 250;
// How often a server's promise to speak ("@alive") is checked.
const int aliveCheckMs = 250;

}  // namespace

otClientWindow::otClientWindow(const QString& host, int port, QWidget* parent)
    : QMainWindow(parent),
      host_(host),
      port_(port),
      conn_(new otClientConnection(this)),
      timer_(new QTimer(this)),
      mask_(new QWidget),
      connection_(new QLabel(this)),
      delay_(firstDelayMs) {
  setWindowTitle("otclient");
  auto* scroll = new QScrollArea(this);
  scroll->setWidget(mask_);
  scroll->setWidgetResizable(true);
  setCentralWidget(scroll);
  mask_->installEventFilter(this);
  mask_->setFocusPolicy(Qt::StrongFocus);
  interpreter_ = new otClientInterpreter(conn_->handle(), mask_, statusBar(), this);
  interpreter_->setConnection(conn_);
  conn_->setBase(interpreter_);
  connect(conn_, &otClientConnection::lost, this, &otClientWindow::lost);
  // A long burst (an update pass over a whole mask) is drawn once at its end: marking each
  // changed widget dirty one by one costs more than one repaint of the central area.
  conn_->setBurstHold([this](bool hold) {
    QWidget* area = centralWidget();
    if (hold && area->updatesEnabled()) {
      area->setUpdatesEnabled(false);
      burstHeld_ = true;
    } else if (!hold && burstHeld_) {
      burstHeld_ = false;
      area->setUpdatesEnabled(true);
    }
  });
  // The user and role come from the server: text, never markup.
  connection_->setTextFormat(Qt::PlainText);
  statusBar()->addPermanentWidget(connection_);
  connect(interpreter_, &otClientInterpreter::loginRequested, this,
          &otClientWindow::loginRequested);
  connect(interpreter_, &otClientInterpreter::loggedIn, this, &otClientWindow::loggedIn);
  connect(interpreter_, &otClientInterpreter::loginFailed, this, &otClientWindow::loginFailed);
  // A sync is answered once everything before it is on screen, not only in the widgets.
  // Only what changed is painted: the widgets have marked it, and the window's pending update
  // request paints and shows exactly that.
  // A burst that goes on after the sync (the next update pass) is held again from its next
  // lines on.
  connect(interpreter_, &otClientInterpreter::syncRequested, this, [this] {
    QWidget* area = centralWidget();
    if (!area->updatesEnabled()) area->setUpdatesEnabled(true);
    QCoreApplication::sendPostedEvents(window(), QEvent::UpdateRequest);
    if (burstHeld_) {
      burstHeld_ = false;
      conn_->burstShown();
    }
  });

  retry_ = new QAction("Reconnect", this);
  retry_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  retry_->setToolTip("Connect to the display server now");
  connect(retry_, &QAction::triggered, this, &otClientWindow::connectNow);
  QToolBar* bar = addToolBar("Connection");
  bar->addAction(retry_);

  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, &otClientWindow::connectNow);
  aliveTimer_ = new QTimer(this);
  connect(aliveTimer_, &QTimer::timeout, this, &otClientWindow::checkAlive);
  aliveTimer_->start(aliveCheckMs);
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
  // The farewell goes out before the widgets that the streams feed are gone.
  conn_->close();
}

bool otClientWindow::isConnected() const {
  return conn_->isOpen();
}

bool otClientWindow::readingStream() const {
  return conn_->inStream();
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

void otClientWindow::checkAlive() {
  if (!conn_->isOpen() || conn_->inStream() || tcp_peer_silent(conn_->handle()) == 0) return;
  QString why = QString::fromUtf8(tcp_broken_reason());
  conn_->abort(why.toUtf8().constData());
}

void otClientWindow::closeEvent(QCloseEvent* e) {
  // A stream under way is given up: the server is not kept waiting for a window that is
  // gone, and no new connection is made for it.
  if (conn_->isOpen() && conn_->inStream()) conn_->abort("the stream was abandoned");
  timer_->stop();
  QMainWindow::closeEvent(e);
}

void otClientWindow::connectNow() {
  timer_->stop();
  loginCancelled_ = false;
  loginFailure_.clear();
  if (conn_->isOpen()) {
    if (!conn_->inStream()) return;
    // The operator gives up the stream that is under way; the connection is made again at
    // once.
    conn_->abort("the stream was abandoned");
    timer_->stop();
    delay_ = firstDelayMs;
  }
  tcp_clear_broken_reason();
  QByteArray host = host_.toUtf8();
  if (conn_->open(host.constData(), port_) != 0) {
    lost();
    return;
  }
  delay_ = firstDelayMs;
  wasConnected_ = true;
  setConnectionText(QString("connected to %1:%2").arg(host_).arg(port_), false);
  Q_EMIT connectedChanged(true);
}

void otClientWindow::lost() {
  bool was = wasConnected_;
  wasConnected_ = false;
  // The mask stays on screen, greyed out: its values are no longer live.
  mask_->setEnabled(false);
  // A login asked for on the connection that is gone is not answered any more.
  if (login_ != nullptr) login_->hide();
  QString why = QString::fromUtf8(tcp_broken_reason());
  if (!loginFailure_.isEmpty()) why = "login failed: " + loginFailure_;
  if (loginCancelled_ || !loginFailure_.isEmpty()) {
    // Trying again by itself would ask the operator again at once, or try the same refused
    // login again and again.
    delay_ = firstDelayMs;
    setConnectionText(QString("no connection to %1:%2 (%3), Ctrl+R connects again")
                          .arg(host_)
                          .arg(port_)
                          .arg(why),
                      true);
    if (was) Q_EMIT connectedChanged(false);
    return;
  }
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

void otClientWindow::keyPressEvent(QKeyEvent* e) {
  // A modifier alone is no key of its own: it comes with the next key.
  int key = e->key();
  bool modifierOnly = key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
                      key == Qt::Key_Meta || key == Qt::Key_AltGr;
  if (conn_->isOpen() && key != 0 && key != Qt::Key_unknown && !modifierOnly) {
    int modifier = 0;
    if (e->modifiers() & Qt::ShiftModifier) modifier |= 1;
    if (e->modifiers() & Qt::ControlModifier) modifier |= 2;
    if (e->modifiers() & Qt::AltModifier) modifier |= 4;
    char line[64];
    int n = snprintf(line, sizeof(line), "key(%d,%d)\n", modifier, key);
    tcp_send(conn_->handle(), line, n);
    return;
  }
  QMainWindow::keyPressEvent(e);
}

void otClientWindow::loginRequested(int attempt, const QString& message) {
  if (!conn_->isOpen()) return;
  // A kiosk logs in without anyone at the screen, but only at the first request: a second one
  // means the stored login failed, and the operator is asked.
  if (attempt == 1 && opt.login_user[0] != '\0' && opt.login_password[0] != '\0') {
    std::string line = otFormatLoginLine(opt.login_user, opt.login_password);
    if (!line.empty()) {
      tcp_send(conn_->handle(), line.data(), (int)line.size());
      std::fill(line.begin(), line.end(), '\0');
      return;
    }
    otLog(OT_LOG_WARNING, "otclient: the [login] user or password cannot be sent: asking\n");
  }
  if (login_ == nullptr) {
    login_ = new otLoginDialog(this);
    connect(login_, &otLoginDialog::answered, this, &otClientWindow::loginAnswered);
    connect(login_, &QDialog::rejected, this, &otClientWindow::loginCancelled);
  }
  // The user typed last time (or configured) is offered again.
  QString user = login_->userEdit()->text();
  if (user.isEmpty()) user = QString::fromUtf8(opt.login_user);
  login_->ask(QString("%1:%2").arg(host_).arg(port_), user, message, tcp_fd(conn_->handle()) >= 0);
  // open(), not exec(): this runs inside the reader of the connection, which goes on.
  login_->open();
}

void otClientWindow::loginAnswered(const QByteArray& line) {
  if (conn_->isOpen()) tcp_send(conn_->handle(), line.constData(), line.size());
}

void otClientWindow::loginCancelled() {
  if (!conn_->isOpen()) return;
  loginCancelled_ = true;
  conn_->abort("login cancelled");
}

void otClientWindow::loggedIn(const QString& user, const QString& role) {
  if (login_ != nullptr) login_->hide();
  setConnectionText(QString("connected to %1:%2 as %3 (%4)").arg(host_).arg(port_).arg(user, role),
                    false);
}

void otClientWindow::loginFailed(const QString& message) {
  if (login_ != nullptr) login_->hide();
  loginFailure_ = message.isEmpty() ? QString("refused") : message;
  setConnectionText(QString("login failed: %1").arg(loginFailure_), true);
}
