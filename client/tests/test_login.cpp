// The client's side of a server's login: the window against a server played by the test that
// asks for it. The login dialog and what OK sends, the server's message at a second request,
// Cancel (closed, and no reconnect by itself), a kiosk's stored login, and what the status
// line says when the server accepts or refuses.
#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <string>

#include "fakeserver.h"
#include "windowtest.h"
#include "logindialog.h"
#include "mainwindow.h"
#include "otoptions.h"
#include "qttestmain.h"
#include "tcputil.h"
#include "testutil.h"

namespace {

class Login : public ClientWindowTest {
 protected:
  Login() { reconnectMaxMs = 400; }

  // The login dialog once it shows.
  otLoginDialog* dialog() {
    bool shown = QTest::qWaitFor(
        [&] { return window->loginDialog() != nullptr && window->loginDialog()->isVisible(); },
        5000);
    return shown ? window->loginDialog() : nullptr;
  }
  bool dialogGone() {
    return QTest::qWaitFor(
        [&] { return window->loginDialog() == nullptr || !window->loginDialog()->isVisible(); },
        5000);
  }
  std::string status() const { return window->connectionText().toStdString(); }
  // True when the client makes no new connection within ms.
  bool staysAway(int ms) { return !server.accept(ms); }
};

TEST_F(Login, TheDialogAsksAndOkSendsTheLoginLine) {
  ASSERT_TRUE(server.send("@login(1,\"\")\n"));
  otLoginDialog* d = dialog();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->windowTitle(), QString("otclient login"));
  EXPECT_EQ(d->passwordEdit()->echoMode(), QLineEdit::Password);
  EXPECT_FALSE(d->messageLabel()->isVisible());  // no message at the first request
  // The connection is read on while the dialog is open.
  ASSERT_TRUE(server.sync(1));

  QTest::keyClicks(d->userEdit(), "alice");
  QTest::keyClicks(d->passwordEdit(), "se\"cr\\et w");
  QTest::mouseClick(d->okButton(), Qt::LeftButton);
  EXPECT_EQ(server.readLine(), "login(\"alice\",\"se\\\"cr\\\\et w\")");
  EXPECT_TRUE(dialogGone());
  EXPECT_TRUE(d->passwordEdit()->text().isEmpty());  // not kept once sent

  ASSERT_TRUE(server.send("@loggedIn(\"alice\",\"operator\")\n"));
  ASSERT_TRUE(server.sync(2));
  EXPECT_EQ(status(),
            "connected to 127.0.0.1:" + std::to_string(server.port()) + " as alice (operator)");
}

TEST_F(Login, ASecondRequestShowsWhyTheFirstFailed) {
  ASSERT_TRUE(server.send("@login(1,\"\")\n"));
  otLoginDialog* d = dialog();
  ASSERT_NE(d, nullptr);
  // Without a password nothing can be sent: the dialog stays and says what it wants.
  QTest::keyClicks(d->userEdit(), "alice");
  QTest::mouseClick(d->okButton(), Qt::LeftButton);
  EXPECT_TRUE(d->isVisible());
  EXPECT_NE(d->messageLabel()->text().indexOf("password are needed"), -1);
  ASSERT_TRUE(server.sync(1));  // and nothing went out before the answer
  d->userEdit()->setText("not a user!");
  QTest::keyClicks(d->passwordEdit(), "pw");
  QTest::mouseClick(d->okButton(), Qt::LeftButton);
  EXPECT_TRUE(d->isVisible());
  d->userEdit()->setText("alice");
  QTest::mouseClick(d->okButton(), Qt::LeftButton);
  EXPECT_EQ(server.readLine(), "login(\"alice\",\"pw\")");

  ASSERT_TRUE(server.send("@login(2,\"wrong user or password\")\n"));
  d = dialog();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->messageLabel()->text(), QString("wrong user or password"));
  EXPECT_TRUE(d->messageLabel()->isVisible());
  EXPECT_EQ(d->userEdit()->text(), QString("alice"));  // offered again
  EXPECT_TRUE(d->passwordEdit()->text().isEmpty());
  QTest::keyClicks(d->passwordEdit(), "right");
  QTest::keyClick(d->passwordEdit(), Qt::Key_Return);
  EXPECT_EQ(server.readLine(), "login(\"alice\",\"right\")");
}

TEST_F(Login, CancelClosesAndOnlyCtrlRConnectsAgain) {
  ASSERT_TRUE(server.send("@login(1,\"\")\n"));
  otLoginDialog* d = dialog();
  ASSERT_NE(d, nullptr);
  QTest::mouseClick(d->cancelButton(), Qt::LeftButton);
  EXPECT_EQ(server.readLine(2000), "");  // closed, no login line and no farewell
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isConnected(); }, 2000));
  EXPECT_NE(status().find("(login cancelled)"), std::string::npos) << status();
  EXPECT_NE(status().find("Ctrl+R"), std::string::npos) << status();
  // Well past the reconnect delay: no new connection by itself.
  EXPECT_TRUE(staysAway(1500));
  window->reconnectAction()->trigger();
  ASSERT_TRUE(server.accept());
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->isConnected(); }, 5000));
  ASSERT_TRUE(server.send("@login(1,\"\")\n"));
  EXPECT_NE(dialog(), nullptr);  // asked again on the new connection
}

TEST_F(Login, ARefusedLoginShowsTheServersWordsAndStaysDown) {
  ASSERT_TRUE(server.send("@login(1,\"\")\n"));
  ASSERT_NE(dialog(), nullptr);
  ASSERT_TRUE(server.send("@loginFailed(\"too many failed logins\")\n"));
  EXPECT_TRUE(dialogGone());
  ASSERT_TRUE(server.sync(1));
  EXPECT_EQ(status(), "login failed: too many failed logins");
  server.dropClient();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isConnected(); }, 2000));
  EXPECT_NE(status().find("(login failed: too many failed logins)"), std::string::npos) << status();
  EXPECT_TRUE(staysAway(1500));
}

TEST_F(Login, ALostConnectionTakesItsLoginDialogAlong) {
  ASSERT_TRUE(server.send("@login(1,\"\")\n"));
  ASSERT_NE(dialog(), nullptr);
  server.dropClient();
  EXPECT_TRUE(dialogGone());
  // Not a cancel: the client reconnects as after any lost connection.
  EXPECT_TRUE(server.accept());
}

class KioskLogin : public Login {
 protected:
  void setUpOptions() override {
    snprintf(opt.login_user, sizeof(opt.login_user), "kiosk");
    snprintf(opt.login_password, sizeof(opt.login_password), "p\"w 1");
  }
};

TEST_F(KioskLogin, TheStoredLoginAnswersTheFirstRequestOnly) {
  opt.nettrace = 1;  // a trace of the lines shows that one went out, not its password
  std::string trace;
  {
    ottest::CaptureStdout out;
    ASSERT_TRUE(server.send("@login(1,\"\")\n"));
    EXPECT_EQ(server.readLine(), "login(\"kiosk\",\"p\\\"w 1\")");
    trace = out.text();
  }
  opt.nettrace = 0;
  EXPECT_NE(trace.find("send=login(...)\n"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("p\\\"w 1"), std::string::npos) << trace;
  EXPECT_EQ(window->loginDialog(), nullptr);
  // It failed: the operator is asked, the stored user offered.
  ASSERT_TRUE(server.send("@login(2,\"wrong user or password\")\n"));
  otLoginDialog* d = dialog();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->userEdit()->text(), QString("kiosk"));
  EXPECT_EQ(d->messageLabel()->text(), QString("wrong user or password"));
}

}  // namespace
