// The display client's main window: the mask in a scroll area, a status bar, the connection
// to the display server and its reconnection with a growing delay.
#ifndef OTCLIENT_MAINWINDOW_H
#define OTCLIENT_MAINWINDOW_H

#include <QMainWindow>
#include <QString>

class QTimer;
class QLabel;
class QAction;
class otClientConnection;
class otClientInterpreter;

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
};

#endif
