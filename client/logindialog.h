// The dialog in which the operator answers a server's login request: user, password (hidden as
// it is typed), the server's message ("wrong user or password" after a failed try), OK and
// Cancel. It is opened with open(), never exec(): the connection's reader goes on meanwhile.
#ifndef OTCLIENT_LOGINDIALOG_H
#define OTCLIENT_LOGINDIALOG_H

#include <QByteArray>
#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

class otLoginDialog : public QDialog {
  Q_OBJECT
 public:
  explicit otLoginDialog(QWidget* parent = nullptr);

  // Sets the dialog up for a request of server ("host:port"): user is offered (and the
  // password field focused when it is given), the password field is emptied, message is the
  // server's (shown as plain text; "" at a first request). plain: the connection is not
  // encrypted, which the dialog says. Then open() shows it.
  void ask(const QString& server, const QString& user, const QString& message, bool plain);

  QLineEdit* userEdit() const { return user_; }
  QLineEdit* passwordEdit() const { return password_; }
  QLabel* messageLabel() const { return message_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 public Q_SLOTS:
  // OK: the answer goes out (answered) when user and password make a login line, else the
  // dialog stays open and says what is wanted.
  void accept() override;

 Q_SIGNALS:
  // The login line for the server, with its line feed (otFormatLoginLine).
  void answered(const QByteArray& line);

 private:
  QLabel* server_;
  QLabel* message_;
  QLabel* plain_;
  QLineEdit* user_;
  QLineEdit* password_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

#endif
