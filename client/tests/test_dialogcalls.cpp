// The dialog family on the client: dialogs shown without holding the connection and their
// answers, uploads of the operator's file only, refusals of what a server may not do to the
// operator's machine (commands, addresses), base updates inside a modal dialog, and the whole
// round trip with the server library.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <fstream>
#include <thread>

#include "dialogcommands.h"
#include "fakeserver.h"
#include "windowtest.h"
#include "hxserver.h"
#include "interpreter.h"
#include "mainwindow.h"
#include "otoptions.h"
#include "qttestmain.h"
#include "tcputil.h"
#include "testutil.h"

// What the desktop would open: the test takes the place of the browser.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public Q_SLOTS:
  void open(const QUrl& url) { opened.append(url); }
};

namespace {

class Dialogs : public ClientWindowTest {
 protected:
  // Made by the first dialog line.
  otDialogHost* host() { return otDialogHost::find(window->interpreter()); }
  template <class T>
  T* dialog(int n) {
    return host() ? qobject_cast<T*>(host()->dialog(n)) : nullptr;
  }
  QString status() { return window->statusBar()->currentMessage(); }
};

// Types path into the chooser and accepts it, as the operator would.
void pick(QFileDialog* chooser, const std::string& path) {
  auto* edit = chooser->findChild<QLineEdit*>("fileNameEdit");
  ASSERT_NE(edit, nullptr);
  edit->setText(QString::fromStdString(path));
  static_cast<QDialog*>(chooser)->accept();
}

QAbstractButton* button(QMessageBox* box, QMessageBox::StandardButton which) {
  return box ? box->button(which) : nullptr;
}

TEST_F(Dialogs, MessageBoxesAnswerTheButtonAndLeaveTheConnectionLive) {
  ASSERT_TRUE(server.send("messageBox(1,3,\"Quit\",\"Really <b>quit</b>?\",12)\n"));
  ASSERT_TRUE(server.sync(1));
  auto* box = dialog<QMessageBox>(1);
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isVisible());
  EXPECT_TRUE(box->isModal());
  EXPECT_EQ(box->windowTitle(), QString("Quit"));
  EXPECT_EQ(box->text(), QString("Really <b>quit</b>?"));
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  EXPECT_EQ(box->icon(), QMessageBox::Question);
  EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
  // The server's lines go on being carried out while the operator thinks.
  ASSERT_TRUE(
      server.send("startDefinition(2)\nQLabel(1,0)\nsetText(1,\"live\")\nendDefinition()\n"));
  ASSERT_TRUE(server.sync(2));
  auto* label = qobject_cast<QLabel*>(window->interpreter()->widget(1));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QString("live"));

  QTimer::singleShot(0, [box] { button(box, QMessageBox::No)->click(); });
  EXPECT_EQ(server.readLine(), "dialogAnswer(1,8,\"\")");
  EXPECT_TRUE(QTest::qWaitFor([&] { return host()->openCount() == 0; }, 2000));

  // Escape on a box with Cancel answers Cancel; a box the operator closes otherwise says so.
  ASSERT_TRUE(server.send("messageBox(2,0,\"t\",\"x\",3)\nmessageBox(3,2,\"t\",\"x\",1)\n"));
  ASSERT_TRUE(server.sync(3));
  QTimer::singleShot(0, [this] { QTest::keyClick(dialog<QMessageBox>(2), Qt::Key_Escape); });
  EXPECT_EQ(server.readLine(), "dialogAnswer(2,2,\"\")");
  QTimer::singleShot(0, [this] { dialog<QMessageBox>(3)->reject(); });
  EXPECT_EQ(server.readLine(), "dialogAnswer(3,-2,\"\")");
}

TEST_F(Dialogs, InputDialogsAreBoundedAndEscapeTheirAnswer) {
  ASSERT_TRUE(server.send("inputDialog(4,\"Setpoint\",\"Value:\",\"20\",12)\n"));
  ASSERT_TRUE(server.sync(1));
  auto* d = dialog<QDialog>(4);
  ASSERT_NE(d, nullptr);
  auto* edit = d->findChild<QLineEdit*>();
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->text(), QString("20"));
  EXPECT_EQ(edit->maxLength(), 12);
  edit->clear();
  QTest::keyClicks(edit, "a\"b\\c, and more than twelve");
  EXPECT_EQ(edit->text(), QString("a\"b\\c, and m"));
  QTimer::singleShot(
      0, [d] { d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click(); });
  EXPECT_EQ(server.readLine(), "dialogAnswer(4,1,\"a\\\"b\\\\c, and m\")");

  ASSERT_TRUE(server.send("inputDialog(5,\"t\",\"l\",\"\",5)\n"));
  ASSERT_TRUE(server.sync(2));
  QTimer::singleShot(0, [this] { QTest::keyClick(dialog<QDialog>(5), Qt::Key_Escape); });
  EXPECT_EQ(server.readLine(), "dialogAnswer(5,-2,\"\")");

  // Out of range: answered at once, no dialog.
  ASSERT_TRUE(
      server.send("inputDialog(6,\"t\",\"l\",\"\",2001)\ninputDialog(7,\"t\",\"l\",\"\",0)\n"
                  "messageBox(8,4,\"t\",\"x\",1)\nmessageBox(9,0,\"t\",\"x\",128)\n"
                  "popupMenu(10,\",,\")\nfileDialog(11,\"t\",\"\",0)\n"));
  std::string events;
  ASSERT_TRUE(server.sync(3, &events));
  EXPECT_EQ(events,
            "dialogAnswer(6,-1,\"\")\ndialogAnswer(7,-1,\"\")\ndialogAnswer(8,-1,\"\")\n"
            "dialogAnswer(9,-1,\"\")\ndialogAnswer(10,-1,\"\")\ndialogAnswer(11,-1,\"\")\n");
  EXPECT_EQ(host()->openCount(), 0);
}

TEST_F(Dialogs, AFileIsUploadedOnlyWhenPickedAndAskedFor) {
  std::string table = downloads.file("plan.csv");
  std::ofstream(table) << "a,b\n1,2\n";
  ASSERT_TRUE(server.send("fileDialog(1,\"Open table\",\"Tables (*.csv)\",100)\n"));
  ASSERT_TRUE(server.sync(1));
  auto* chooser = dialog<QFileDialog>(1);
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(chooser->windowTitle(), QString("Open table"));
  EXPECT_EQ(chooser->fileMode(), QFileDialog::ExistingFile);
  EXPECT_EQ(chooser->nameFilters(), QStringList("Tables (*.csv)"));
  QTimer::singleShot(0, [chooser, table] { pick(chooser, table); });
  // The bare name and the size, never the path.
  EXPECT_EQ(server.readLine(), "dialogAnswer(1,8,\"plan.csv\")");
  // Asked for another request's file, or twice: nothing to send.
  ASSERT_TRUE(server.send("uploadFile(2)\nuploadFile(1)\nuploadFile(1)\n"));
  EXPECT_EQ(server.readLine(), "@upload(2,-1)");
  EXPECT_EQ(server.readLine(), "@upload(1,8)");
  EXPECT_EQ(server.readLine(), "a,b");
  EXPECT_EQ(server.readLine(), "1,2");
  EXPECT_EQ(server.readLine(), "@upload(1,-1)");

  // A file that grew past what the server takes is not sent.
  ASSERT_TRUE(server.send("fileDialog(3,\"t\",\"\",5)\n"));
  ASSERT_TRUE(server.sync(2));
  chooser = dialog<QFileDialog>(3);
  ASSERT_NE(chooser, nullptr);
  QTimer::singleShot(0, [chooser, table] { pick(chooser, table); });
  EXPECT_EQ(server.readLine(), "dialogAnswer(3,8,\"plan.csv\")");
  ASSERT_TRUE(server.send("uploadFile(3)\n"));
  EXPECT_EQ(server.readLine(), "@upload(3,-1)");

  // Given up by the server: the dialog closes without an answer.
  ASSERT_TRUE(server.send("fileDialog(4,\"t\",\"\",5)\n"));
  ASSERT_TRUE(server.sync(3));
  QPointer<QWidget> open = host()->dialog(4);
  ASSERT_FALSE(open.isNull());
  ASSERT_TRUE(server.send("closeDialog(4)\n"));
  std::string events;
  ASSERT_TRUE(server.sync(4, &events));
  EXPECT_TRUE(QTest::qWaitFor([&] { return open.isNull() || !open->isVisible(); }, 2000));
  QTest::qWait(50);
  ASSERT_TRUE(server.sync(5, &events));
  EXPECT_EQ(events, "");
}

TEST_F(Dialogs, PopupMenusCountTheirEntries) {
  ASSERT_TRUE(server.send("popupMenu(1,\"Open,Save,,Quit\")\n"));
  ASSERT_TRUE(server.sync(1));
  auto* menu = dialog<QMenu>(1);
  ASSERT_NE(menu, nullptr);
  QList<QAction*> actions = menu->actions();
  ASSERT_EQ(actions.size(), 4);
  EXPECT_TRUE(actions[2]->isSeparator());
  EXPECT_EQ(actions[3]->text(), QString("Quit"));
  QTimer::singleShot(0, [actions] { actions[3]->trigger(); });
  EXPECT_EQ(server.readLine(), "dialogAnswer(1,2,\"Quit\")");
  ASSERT_TRUE(server.sync(2));
  EXPECT_EQ(host()->openCount(), 0);

  ASSERT_TRUE(server.send("popupMenu(2,\"One\")\n"));
  ASSERT_TRUE(server.sync(3));
  menu = dialog<QMenu>(2);
  ASSERT_NE(menu, nullptr);
  QTimer::singleShot(0, [menu] { menu->close(); });
  EXPECT_EQ(server.readLine(), "dialogAnswer(2,-2,\"\")");

  std::string many;
  for (int i = 0; i < 65; i++)
    many += "e,";
  many.pop_back();
  ASSERT_TRUE(server.send("popupMenu(3,\"" + many + "\")\n"));
  EXPECT_EQ(server.readLine(), "dialogAnswer(3,-1,\"\")");
}

TEST_F(Dialogs, OpenDialogsAreBoundedAndCloseWithTheConnection) {
  for (int n = 1; n <= 9; n++)
    ASSERT_TRUE(server.send("messageBox(" + std::to_string(n) + ",0,\"t\",\"x\",1)\n"));
  std::string events;
  ASSERT_TRUE(server.sync(1, &events));
  EXPECT_EQ(events, "dialogAnswer(9,-2,\"\")\n");
  EXPECT_EQ(host()->openCount(), (int)otDialogHost::maxOpen);
  QPointer<QWidget> first = host()->dialog(1);
  server.dropClient();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isConnected(); }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return host()->openCount() == 0; }, 2000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return first.isNull() || !first->isVisible(); }, 2000));
}

// Between updateBaseWindow(1) and updateBaseWindow(0) the lines act on the base mask, not on
// the dialog's widget of the same id.
TEST_F(Dialogs, BaseUpdatesReachTheBaseMask) {
  ASSERT_TRUE(
      server.send("startDefinition(3)\nQLabel(1,0)\nsetText(1,\"base\")\nendDefinition()\n"
                  "modalDialog(200,100)\nstartDefinition(2)\nQLabel(1,0)\n"
                  "setText(1,\"dialog\")\nendDefinition()\n"
                  "updateBaseWindow(1)\nsetText(1,\"base updated\")\nupdateBaseWindow(0)\n"
                  "setText(1,\"dialog updated\")\n"));
  ASSERT_TRUE(server.sync(1));
  otClientInterpreter* in = window->interpreter();
  ASSERT_TRUE(in->modalOpen());
  auto* inDialog = qobject_cast<QLabel*>(in->widget(1));
  ASSERT_NE(inDialog, nullptr);
  EXPECT_EQ(inDialog->text(), QString("dialog updated"));
  QLabel* inBase = nullptr;
  for (QLabel* l : window->mask()->findChildren<QLabel*>())
    inBase = l;
  ASSERT_NE(inBase, nullptr);
  EXPECT_EQ(inBase->text(), QString("base updated"));
  // A new dialog starts with its own widgets as the target; outside a dialog the switch is
  // nothing.
  ASSERT_TRUE(
      server.send("updateBaseWindow(1)\nterminateModalDialog()\nupdateBaseWindow(1)\n"
                  "modalDialog(200,100)\nstartDefinition(2)\nendDefinition()\n"));
  ASSERT_TRUE(server.sync(2));
  EXPECT_FALSE(in->baseUpdate());
  EXPECT_EQ(in->idCount(), 2);
}

TEST_F(Dialogs, CommandsRunOnlyFromTheAllowList) {
  std::string ran = downloads.file("ran"), other = downloads.file("other");
  // Off by default.
  ASSERT_TRUE(server.send("clientCommand(\"touch " + ran + "\")\n"));
  ASSERT_TRUE(server.sync(1));
  EXPECT_TRUE(status().contains("refused")) << status().toStdString();
  snprintf(opt.client_commands, sizeof(opt.client_commands), "true;touch %s", ran.c_str());
  // Word for word: another argument, a second command or a shell's help is no match.
  for (std::string refused :
       {"touch " + other, "touch " + ran + " " + other, "touch " + ran + ";touch " + other,
        "sh -c \"touch " + other + "\"", "touch  \"" + ran + "\" " + other})
    ASSERT_TRUE(server.send("clientCommand(\"" + refused + "\")\n"));
  ASSERT_TRUE(server.send("clientCommand(\"touch \\\"" + ran + "\\\"\")\n"));
  ASSERT_TRUE(server.sync(2));
  struct stat st;
  EXPECT_TRUE(QTest::qWaitFor([&] { return stat(ran.c_str(), &st) == 0; }, 5000));
  QTest::qWait(200);
  EXPECT_NE(0, stat(other.c_str(), &st));
  opt.client_commands[0] = '\0';
}

TEST_F(Dialogs, HyperlinksOpenOnlyWhenTheOperatorAgrees) {
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("https", &catcher, "open");
  QDesktopServices::setUrlHandler("http", &catcher, "open");
  QDesktopServices::setUrlHandler("file", &catcher, "open");
  for (const char* refused : {"file:///etc/passwd", "javascript:alert(1)", "https://", "ftp://x/y"})
    ASSERT_TRUE(server.send(std::string("hyperlink(\"") + refused + "\")\n"));
  ASSERT_TRUE(server.sync(1));
  EXPECT_EQ(dialog<QMessageBox>(0), nullptr);
  EXPECT_TRUE(status().contains("refused")) << status().toStdString();

  ASSERT_TRUE(server.send("hyperlink(\"https://plant.example/help\")\n"));
  ASSERT_TRUE(server.sync(2));
  auto* box = dialog<QMessageBox>(0);
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->text().contains("https://plant.example/help"));
  button(box, QMessageBox::Cancel)->click();
  QTest::qWait(20);
  EXPECT_TRUE(catcher.opened.isEmpty());

  ASSERT_TRUE(server.send("hyperlink(\"http://plant.example/a\")\n"));
  ASSERT_TRUE(server.sync(3));
  box = dialog<QMessageBox>(0);
  ASSERT_NE(box, nullptr);
  button(box, QMessageBox::Open)->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !catcher.opened.isEmpty(); }, 2000));
  EXPECT_EQ(catcher.opened, QList<QUrl>{QUrl("http://plant.example/a")});
  for (const char* scheme : {"https", "http", "file"})
    QDesktopServices::unsetUrlHandler(scheme);
}

TEST_F(Dialogs, InitialMaskScreenHintAndBeep) {
  snprintf(opt.initial_mask, sizeof(opt.initial_mask), "plant \"north\"");
  window->resize(300, 200);
  ASSERT_TRUE(server.send("getInitialMask(7)\nscreenHint(640,480)\nbeep()\nscreenHint(0,5)\n"));
  std::string events;
  ASSERT_TRUE(server.sync(1, &events));
  EXPECT_EQ(events, "dialogAnswer(7,0,\"plant \\\"north\\\"\")\n");
  EXPECT_GE(window->width(), 640);
  EXPECT_GE(window->height(), 480);
  EXPECT_EQ(window->interpreter()->ignored(), 1);  // the screen hint of width 0
}

// Both settings of the operator come from the ini file or the command line; neither is set
// unless the operator sets it.
TEST(DialogOptions, TheAllowListAndTheMaskAreTheOperators) {
  OPT o;
  otOptionsDefaults(&o);
  EXPECT_STREQ(o.client_commands, "");
  EXPECT_STREQ(o.initial_mask, "");
  ottest::TempDir dir;
  std::string ini = dir.file("otclient.ini");
  std::ofstream(ini) << "[server]\nmask=plant\n[commands]\nallow=xterm;firefox https://plant/\n";
  std::string iniArg = "-ini=" + ini;
  const char* args[] = {"otclient", iniArg.c_str(), "-mask=boiler"};
  ASSERT_EQ(0, otOptionsParseArgs(&o, 3, const_cast<char**>(args)));
  EXPECT_STREQ(o.client_commands, "xterm;firefox https://plant/");
  EXPECT_STREQ(o.initial_mask, "boiler");
}

// The server library and the client together: the server's call returns what the operator
// chose, and the operator's file arrives whole.
TEST(DialogRoundTrip, TheServerGetsTheOperatorsAnswer) {
  otOptionsDefaults(&opt);
  ottest::TempDir dir;
  snprintf(opt.download_dir, sizeof(opt.download_dir), "%s", dir.file("d").c_str());
  std::string picked = dir.file("recipe.txt");
  std::string content = "QPushButton(1)\nflour 500 g\n";
  std::ofstream(picked) << content;
  static std::atomic<int> box, popup, upload;
  static std::string name, data, typed;
  box = popup = upload = 99;
  auto run = [](PARAM_* p) -> int {
    hxStartDefinition(p, 2);
    hxQPushButton(p, 1, 0);
    hxEndDefinition(p);
    box = hxMessageBox(p, HX_MB_WARNING, "Pump", "Start the pump?", HX_MB_YES | HX_MB_NO);
    char text[32];
    if (hxInputDialog(p, "Batch", "Name:", "B-1", text, sizeof text) >= 0) typed = text;
    popup = hxPopupMenu(p, "Start,Stop,,Reset");
    char file[64];
    char* bytes = nullptr;
    upload = hxFileDialog(p, "Recipe", "", file, sizeof file, &bytes, 1000);
    if (upload >= 0) {
      name = file;
      data.assign(bytes, (size_t)upload);
    }
    free(bytes);
    // What came meanwhile is the loop's; the uploaded bytes are not.
    std::vector<char> buf(HX_EVENT_BUFSIZE);
    while (hxPollEvent(p, buf.data()) == 0)
      if (strncmp(buf.data(), "QPushButton", 11) == 0) return 0;
    return 0;
  };
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.port = 0;
  hxServer* s = hxServerStart(&o, run, nullptr);
  ASSERT_NE(s, nullptr);
  tcp_init();
  {
    otClientWindow window("127.0.0.1", hxServerPort(s));
    window.show();
    otClientInterpreter* in = window.interpreter();
    auto current = [&](int n) {
      otDialogHost* host = otDialogHost::find(in);
      return host ? host->dialog(n) : nullptr;
    };
    auto open = [&](int n) {
      return QTest::qWaitFor([&] { return current(n) != nullptr; }, 10000);
    };
    ASSERT_TRUE(open(1));
    button(qobject_cast<QMessageBox*>(current(1)), QMessageBox::Yes)->click();
    ASSERT_TRUE(open(2));
    auto* input = qobject_cast<QDialog*>(current(2));
    input->findChild<QLineEdit*>()->setText("B-7 \"rye\"");
    input->accept();
    ASSERT_TRUE(open(3));
    qobject_cast<QMenu*>(current(3))->actions()[3]->trigger();
    ASSERT_TRUE(open(4));
    auto* chooser = qobject_cast<QFileDialog*>(current(4));
    pick(chooser, picked);
    ASSERT_TRUE(QTest::qWaitFor([] { return upload != 99; }, 10000));
    EXPECT_EQ(HX_MB_YES, box);
    EXPECT_EQ("B-7 \"rye\"", typed);
    EXPECT_EQ(2, popup);
    EXPECT_EQ((int)content.size(), upload);
    EXPECT_EQ("recipe.txt", name);
    EXPECT_EQ(content, data);
  }
  hxServerStop(s);
  tcp_free();
}

}  // namespace

#include "test_dialogcalls.moc"
