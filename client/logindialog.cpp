#include "logindialog.h"

#include <algorithm>
#include <string>

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "otloginline.h"

namespace {

// A server's message is shown, not its whole line: a long one would push the fields off the
// screen.
const int kMessageChars = 300;

QLabel* plainLabel(QWidget* parent) {
  auto* l = new QLabel(parent);
  // The server's words are text, never markup that could draw fields of its own.
  l->setTextFormat(Qt::PlainText);
  l->setWordWrap(true);
  return l;
}

}  // namespace

otLoginDialog::otLoginDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("otclient login");
  setModal(true);
  server_ = plainLabel(this);
  message_ = plainLabel(this);
  plain_ = plainLabel(this);
  plain_->setText("This connection is not encrypted: the password travels as plain text.");
  QPalette warn = plain_->palette();
  warn.setColor(QPalette::WindowText, QColor(200, 0, 0));
  plain_->setPalette(warn);
  message_->setPalette(warn);
  user_ = new QLineEdit(this);
  user_->setMaxLength(OT_LOGIN_MAX_USER);
  password_ = new QLineEdit(this);
  password_->setEchoMode(QLineEdit::Password);
  password_->setMaxLength(OT_LOGIN_MAX_PASSWORD);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  cancel_ = buttons->button(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &otLoginDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &otLoginDialog::reject);

  auto* form = new QFormLayout;
  form->addRow("User:", user_);
  form->addRow("Password:", password_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(server_);
  layout->addWidget(message_);
  layout->addLayout(form);
  layout->addWidget(plain_);
  layout->addWidget(buttons);
}

void otLoginDialog::ask(const QString& server, const QString& user, const QString& message,
                        bool plain) {
  server_->setText(QString("The display server %1 asks you to log in.").arg(server));
  QString shown = message.left(kMessageChars);
  message_->setText(shown);
  message_->setVisible(!shown.isEmpty());
  plain_->setVisible(plain);
  user_->setText(user);
  password_->clear();
  (user.isEmpty() ? user_ : password_)->setFocus();
}

void otLoginDialog::accept() {
  QByteArray user = user_->text().toUtf8(), password = password_->text().toUtf8();
  std::string line = otFormatLoginLine(user.constData(), password.constData());
  password.fill('\0');
  if (line.empty()) {
    message_->setText(QString("A user name (at most %1 letters, digits and _ . - @) and a "
                              "password are needed.")
                          .arg((int)OT_LOGIN_MAX_USER));
    message_->setVisible(true);
    return;
  }
  // The password is not kept in the dialog once it is on its way.
  password_->clear();
  QByteArray answer(line.data(), (int)line.size());
  std::fill(line.begin(), line.end(), '\0');
  QDialog::accept();
  Q_EMIT answered(answer);
}
