// The display client's main window: the mask in a scroll area, a status bar, the connection
// to the display server and its reconnection with a growing delay.
#ifndef OTCLIENT_MAINWINDOW_H
#define OTCLIENT_MAINWINDOW_H

#include <QMainWindow>
#include <QString>

class QSocketNotifier;
class QTimer;
class QLabel;
class QAction;
class otClientInterpreter;

class otClientWindow : public QMainWindow {
  Q_OBJECT
 public:
  // Connects to host:port at once (and again whenever the connection is lost).
  otClientWindow(const QString& host, int port, QWidget* parent = nullptr);
  ~otClientWindow() override;

  bool isConnected() const { return s_ > 0; }
  otClientInterpreter* interpreter() const { return interpreter_; }
  QWidget* mask() const { return mask_; }
  // The delay before the next reconnect attempt, in milliseconds.
  int reconnectDelay() const { return delay_; }
  QString connectionText() const;
  QAction* reconnectAction() const { return retry_; }
  // True while a command reads its block or stream (the window stays live meanwhile).
  bool readingStream() const { return reading_; }

 public Q_SLOTS:
  void connectNow();

 Q_SIGNALS:
  void connectedChanged(bool connected);

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private Q_SLOTS:
  void readAvailable();

 private:
  void lost();
  void readLines();
  void checkAlive();
  // The connection layer's wait hook: lets Qt paint and take input while a stream is read.
  static int waitHook(void* window);
  void setConnectionText(const QString& text, bool bad);

  QString host_;
  int port_;
  int s_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* timer_;
  QTimer* partialTimer_;
  QWidget* mask_;
  QLabel* connection_;
  QAction* retry_;
  otClientInterpreter* interpreter_;
  int delay_;
  bool dropping_ = false;  // inside an over-long line, dropping it up to its line feed
  bool reading_ = false;   // inside readAvailable: it is not entered again
  bool giveUp_ = false;    // the stream being read is to be given up
  bool retryNow_ = false;  // ... and the connection made again at once
  QTimer* aliveTimer_;
  char* line_;
};

#endif
