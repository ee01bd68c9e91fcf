// The display client's main window: the mask in a scroll area, a status bar, the connection
// to the display server and its reconnection with a growing delay, and the login a server may
// ask for: answered from the options at the first request when they hold a user and password
// (a kiosk), else in the login dialog. A login the operator cancels, or one the server
// refused, is not tried again by itself: Ctrl+R connects again.
#ifndef OTCLIENT_MAINWINDOW_H
#define OTCLIENT_MAINWINDOW_H

#include <QMainWindow>
#include <QString>

class QTimer;
class QLabel;
class QAction;
class otClientConnection;
class otClientInterpreter;
class otLoginDialog;

class otClientWindow : public QMainWindow {
  Q_OBJECT
 public:
  // Connects to host:port at once (and again whenever the connection is lost).
  otClientWindow(const QString& host, int port, QWidget* parent = nullptr);
  ~otClientWindow() override;

  bool isConnected() const;
  otClientInterpreter* interpreter() const { return interpreter_; }
  QWidget* mask() const { return mask_; }
  // The delay before the next reconnect attempt, in milliseconds.
  int reconnectDelay() const { return delay_; }
  QString connectionText() const;
  QAction* reconnectAction() const { return retry_; }
  // True while a command's block or stream is under way (the window stays live meanwhile).
  bool readingStream() const;
  otClientConnection* connection() const { return conn_; }
  // The login dialog once a server has asked for a login (null before).
  otLoginDialog* loginDialog() const { return login_; }

 public Q_SLOTS:
  void connectNow();

 Q_SIGNALS:
  void connectedChanged(bool connected);

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void lost();
  void checkAlive();
  void loginRequested(int attempt, const QString& message);
  void loginAnswered(const QByteArray& line);
  void loginCancelled();
  void loggedIn(const QString& user, const QString& role);
  void loginFailed(const QString& message);
  void setConnectionText(const QString& text, bool bad);

  QString host_;
  int port_;
  otClientConnection* conn_;
  QTimer* timer_;
  QWidget* mask_;
  QLabel* connection_;
  QAction* retry_;
  otClientInterpreter* interpreter_;
  int delay_;
  bool wasConnected_ = false;
  bool burstHeld_ = false;  // repainting held back for a burst of lines
  QTimer* aliveTimer_;
  otLoginDialog* login_ = nullptr;
  bool loginCancelled_ = false;  // the operator gave up the login: no reconnect by itself
  QString loginFailure_;         // the server refused the login (its words): none either
};

#endif
