// Display server (otserver) and display client end to end on loopback: user actions in the
// client arrive as their event kinds; a server that goes away and comes back is
// reconnected; many client processes are served at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <atomic>
#include <mutex>
#include <vector>

#include "clientprocess.h"
#include "fakeserver.h"
#include "hxserver.h"
#include "interpreter.h"
#include "qdrawwidget.h"
#include "qimagewidget.h"
#include "mainwindow.h"
#include "otoptions.h"
#include "qttestmain.h"
#include "tcputil.h"
#include "testutil.h"

extern char** environ;

namespace {

struct Seen {
  int kind;
  int id;
  std::string rest;
};

std::mutex seenLock;
std::vector<Seen> seen;
std::atomic<int> served{0};

enum {
  idButton = 1,
  idLabel,
  idSlider,
  idCheck,
  idRadio,
  idEdit,
  idCombo,
  idTab,
  idPage1,
  idPage2,
  idTable,
  idList,
  idCount
};

int allWidgets(PARAM_* p) {
  served++;
  hxStartDefinition(p, idCount);
  hxQPushButton(p, idButton, 0);
  hxSetGeometry(p, idButton, 0, 0, 100, 30);
  hxSetText(p, idButton, "Press");
  hxQLabel(p, idLabel, 0);
  hxSetGeometry(p, idLabel, 110, 0, 100, 30);
  hxQSlider(p, idSlider, 0, 0, 100, 1, 0, 1);
  hxSetGeometry(p, idSlider, 0, 40, 200, 20);
  hxQCheckBox(p, idCheck, 0);
  hxSetGeometry(p, idCheck, 0, 70, 100, 20);
  hxSetText(p, idCheck, "Check");
  hxQRadioButton(p, idRadio, 0);
  hxSetGeometry(p, idRadio, 110, 70, 100, 20);
  hxSetText(p, idRadio, "Radio");
  hxQLineEdit(p, idEdit, 0);
  hxSetGeometry(p, idEdit, 0, 100, 200, 25);
  hxQComboBox(p, idCombo, 0, 0, 0);
  hxSetGeometry(p, idCombo, 0, 130, 200, 25);
  hxAddItem(p, idCombo, "one");
  hxAddItem(p, idCombo, "two");
  hxQTabWidget(p, idTab, 0);
  hxSetGeometry(p, idTab, 0, 160, 300, 100);
  hxQWidget(p, idPage1, idTab);
  hxQWidget(p, idPage2, idTab);
  hxAddTab(p, idTab, idPage1, "Tab 1");
  hxAddTab(p, idTab, idPage2, "Tab 2");
  hxQTable(p, idTable, 0, 2, 2);
  hxSetGeometry(p, idTable, 0, 270, 300, 120);
  hxSetTableText(p, idTable, 0, 0, "cell");
  hxQListBox(p, idList, 0);
  hxSetGeometry(p, idList, 310, 0, 150, 100);
  hxAddItem(p, idList, "first");
  hxAddItem(p, idList, "second, \"quoted\"");
  hxEndDefinition(p);
  char buf[HX_EVENT_BUFSIZE], rest[HX_TEXT_SIZE];
  for (;;) {
    if (hxPollEvent(p, buf) < 0) return -1;
    int id = 0;
    int kind = hxParseEvent(buf, &id, rest);
    if (kind == SHUTUP_EVENT) return -1;
    if (kind == QUIET_EVENT || kind == UNKNOWN_EVENT) continue;
    if (kind == BUTTON_EVENT && id == idButton) hxSetText(p, idLabel, "pressed");
    std::lock_guard<std::mutex> hold(seenLock);
    seen.push_back({kind, id, rest});
  }
}

// The first event of kind for id, waiting for it while the client runs.
bool waitFor(int kind, int id, std::string* rest = nullptr) {
  return QTest::qWaitFor(
      [&] {
        std::lock_guard<std::mutex> hold(seenLock);
        for (auto it = seen.begin(); it != seen.end(); ++it) {
          if (it->kind == kind && it->id == id) {
            if (rest) *rest = it->rest;
            seen.erase(it);
            return true;
          }
        }
        return false;
      },
      5000);
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    otOptionsDefaults(&opt);
    opt.reconnect_max_ms = 300;
    tcp_init();
    seen.clear();
    o.bindAddress = "127.0.0.1";
    o.port = 0;
    o.pollMs = 50;
    server = hxServerStart(&o, allWidgets, nullptr);
    ASSERT_NE(server, nullptr);
    window.reset(new otClientWindow("127.0.0.1", hxServerPort(server)));
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return widget(idTable) != nullptr; }, 10000));
  }
  void TearDown() override {
    window.reset();
    if (server) hxServerStop(server);
    tcp_free();
  }
  QWidget* widget(int id) { return window->interpreter()->widget(id); }
  template <class T>
  T* get(int id) {
    return qobject_cast<T*>(widget(id));
  }

  hxServerOptions o;
  hxServer* server = nullptr;
  std::unique_ptr<otClientWindow> window;
};

TEST_F(EndToEnd, UserActionsArriveAsTheirEventKinds) {
  QTest::mouseClick(get<QPushButton>(idButton), Qt::LeftButton);
  EXPECT_TRUE(waitFor(BUTTON_PRESSED_EVENT, idButton));
  EXPECT_TRUE(waitFor(BUTTON_RELEASED_EVENT, idButton));
  EXPECT_TRUE(waitFor(BUTTON_EVENT, idButton));
  // The server's answer is shown in the client.
  EXPECT_TRUE(QTest::qWaitFor([&] { return get<QLabel>(idLabel)->text() == "pressed"; }, 5000));

  get<QSlider>(idSlider)->setFocus();
  QTest::keyClick(get<QSlider>(idSlider), Qt::Key_Right);
  std::string rest;
  EXPECT_TRUE(waitFor(SLIDER_EVENT, idSlider, &rest));
  EXPECT_EQ(rest, "(1)");

  QTest::mouseClick(get<QCheckBox>(idCheck), Qt::LeftButton);
  EXPECT_TRUE(waitFor(CHECKBOX_EVENT, idCheck, &rest));
  EXPECT_EQ(rest, "1");
  QTest::mouseClick(get<QRadioButton>(idRadio), Qt::LeftButton);
  EXPECT_TRUE(waitFor(RADIOBUTTON_EVENT, idRadio, &rest));
  EXPECT_EQ(rest, "1");

  QTest::keyClicks(get<QLineEdit>(idEdit), "say \"hi\"");
  QTest::keyClick(get<QLineEdit>(idEdit), Qt::Key_Return);
  EXPECT_TRUE(waitFor(TEXT_EVENT, idEdit, &rest));
  EXPECT_EQ(rest, "say \"hi\"");

  get<QTabWidget>(idTab)->setCurrentIndex(1);
  EXPECT_TRUE(waitFor(TAB_EVENT, idTab, &rest));
  EXPECT_EQ(rest, "(1)");

  auto* table = get<QTableWidget>(idTable);
  QRect cell = table->visualItemRect(table->item(0, 0));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
  EXPECT_TRUE(waitFor(TABLE_CLICKED_EVENT, idTable, &rest));
  EXPECT_EQ(rest.substr(0, 5), "(0,0,");

  QTest::mouseClick(get<QLabel>(idLabel), Qt::RightButton);
  EXPECT_TRUE(waitFor(RIGHT_MOUSE_EVENT, idLabel));

  auto* list = get<QListWidget>(idList);
  QRect second = list->visualItemRect(list->item(1));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
  EXPECT_TRUE(waitFor(SELECTION_EVENT, idList, &rest));
  EXPECT_EQ(rest, "(0,\"second, \\\"quoted\\\"\")");
  char text[HX_TEXT_SIZE];
  EXPECT_GT(hxGetText(rest.c_str(), text), 0);
  EXPECT_STREQ(text, "second, \"quoted\"");

  QTest::keyClick(window.get(), Qt::Key_A, Qt::ShiftModifier);
  EXPECT_TRUE(waitFor(KEYBOARD_EVENT, 1, &rest));
  EXPECT_EQ(rest, "(" + std::to_string((int)Qt::Key_A) + ")");
}

TEST_F(EndToEnd, AServerThatComesBackIsReconnected) {
  int port = hxServerPort(server);
  hxServerStop(server);
  server = nullptr;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isConnected(); }, 5000));
  o.port = port;
  server = hxServerStart(&o, allWidgets, nullptr);
  ASSERT_NE(server, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->isConnected(); }, 10000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->mask()->isEnabled(); }, 5000));
  QTest::mouseClick(get<QPushButton>(idButton), Qt::LeftButton);
  EXPECT_TRUE(waitFor(BUTTON_EVENT, idButton));
}

std::string picturePath;

int drawingAndPicture(PARAM_* p) {
  hxStartDefinition(p, 3);
  hxQDraw(p, 1, 0);
  hxSetGeometry(p, 1, 0, 0, 200, 100);
  int w = 0, h = 0, depth = 0;
  hxQImage(p, 2, 0, picturePath.c_str(), &w, &h, &depth);
  hxSetGeometry(p, 2, 210, 0, w, h);
  hxEndDefinition(p);
  gBeginDraw(p, 1);
  gSetBackgroundColor(p, 255, 255, 255);
  gSetColor(p, 255, 0, 0);
  gRect(p, 10, 10, 50, 30);
  gEndDraw(p);
  char buf[HX_EVENT_BUFSIZE];
  while (hxPollEvent(p, buf) >= 0) {
  }
  return -1;
}

// A drawing and a picture sent by the server's calls are on the client's screen.
TEST(EndToEndPictures, DrawingStreamAndImageFile) {
  ottest::TempDir serverDir, clientDir;
  ottest::ScopedChdir here(clientDir.path());
  QImage blue(40, 30, QImage::Format_RGB32);
  blue.fill(QColor(0, 0, 255));
  picturePath = serverDir.file("source.bmp");
  ASSERT_TRUE(blue.save(QString::fromStdString(picturePath)));
  otOptionsDefaults(&opt);
  // The client keeps what the server downloads in a folder of its own.
  snprintf(opt.download_dir, sizeof(opt.download_dir), "%s", clientDir.file("downloads").c_str());
  tcp_init();
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.port = 0;
  hxServer* server = hxServerStart(&o, drawingAndPicture, nullptr);
  ASSERT_NE(server, nullptr);
  {
    otClientWindow window("127.0.0.1", hxServerPort(server));
    window.show();
    auto draw = [&] { return qobject_cast<QDrawWidget*>(window.interpreter()->widget(1)); };
    auto image = [&] { return qobject_cast<QImageWidget*>(window.interpreter()->widget(2)); };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          return draw() && image() &&
                 draw()->pixmap().toImage().pixelColor(30, 25) == QColor(255, 0, 0);
        },
        10000));
    EXPECT_EQ(draw()->pixmap().toImage().pixelColor(100, 80), QColor(255, 255, 255));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !image()->shownPicture().isNull(); }, 5000));
    EXPECT_EQ(image()->shownPicture().size(), QSize(40, 30));
    EXPECT_EQ(image()->shownPicture().pixelColor(5, 5), QColor(0, 0, 255));
  }
  hxServerStop(server);
  tcp_free();
}

// The otclient program against a hostile server: a download onto a FIFO, a picture that is a
// FIFO and a print without a PDF file configured leave the client answering the server.
// otclient as a process of its own, with its home, downloads folder and working directory in
// temporary folders; the pid, or -1.
pid_t spawnClient(const ottest::TempDir& home, const ottest::TempDir& work, int port,
                  std::vector<std::string> args) {
  args.push_back("127.0.0.1:" + std::to_string(port));
  return spawnOtclient(home.path(), work.path(), args, "offscreen");
}

TEST(EndToEndHostile, FifosAndPrintDialogsDoNotStopTheClient) {
  ottest::TempDir home, work;
  std::string downloads = home.file("downloads");
  ASSERT_EQ(0, mkdir(downloads.c_str(), 0700));
  for (const std::string& fifo : {downloads + "/pipe.dat", downloads + "/pipe.png",
                                  work.file("pipe.dat"), work.file("pipe.png")})
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600)) << fifo;
  FakeServer server;
  ASSERT_GT(server.port(), 0);
  pid_t pid = spawnClient(home, work, server.port(), {"-downloads=" + downloads});
  ASSERT_GT(pid, 0);
  bool answered = server.accept(60000) &&
                  server.send(
                      "startDefinition(3)\nQLabel(1,0)\nQImage(2,0,\"\")\nendDefinition()\n"
                      "@download(\"pipe.dat\",4)\nDATAsetImage(2,\"pipe.png\")\n"
                      "setText(1,\"after\")\n") &&
                  server.sync(1);
  EXPECT_TRUE(answered) << "no answer after the FIFOs";
  answered = answered && server.send("print(1)\nsetText(1,\"printing\")\n") && server.sync(2);
  EXPECT_TRUE(answered) << "no answer while the print dialog is open";
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// A server that announces a block and stops, and one that promised to speak and falls silent
// without closing: the client process gives each up and comes back on a new connection.
TEST(EndToEndHostile, StalledBlocksAndSilentServersAreLeftForANewConnection) {
  ottest::TempDir home, work;
  FakeServer server;
  ASSERT_GT(server.port(), 0);
  pid_t pid =
      spawnClient(home, work, server.port(),
                  {"-downloads=" + home.file("downloads"), "-streamtimeout=1", "-reconnect=200"});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(server.accept(60000));
  ASSERT_TRUE(
      server.send("startDefinition(2)\nQLabel(1,0)\nendDefinition()\n"
                  "@download(\"a.dat\",100000)\n0123456789"));
  // The old connection stays open: only the client's own limit can end the wait.
  ASSERT_TRUE(server.accept(20000)) << "the client did not give the stalled download up";
  ASSERT_TRUE(server.send("startDefinition(2)\nQLabel(1,0)\nendDefinition()\n@alive(300)\n"));
  EXPECT_TRUE(server.sync(1));
  ASSERT_TRUE(server.accept(20000)) << "the client did not notice the silent server";
  EXPECT_TRUE(server.sync(2));
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// Fifty otclient processes at once, each shown a mask by the same server.
TEST(ManyClients, FiftyClientProcessesAreServed) {
  served = 0;
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.port = 0;
  hxServer* server = hxServerStart(&o, allWidgets, nullptr);
  ASSERT_NE(server, nullptr);
  std::string where = "127.0.0.1:" + std::to_string(hxServerPort(server));
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::vector<pid_t> pids;
  for (int i = 0; i < 50; i++) {
    pid_t pid = -1;
    char* argv[] = {(char*)OTCLIENT_PROGRAM, (char*)where.c_str(), nullptr};
    ASSERT_EQ(posix_spawn(&pid, OTCLIENT_PROGRAM, nullptr, nullptr, argv, environ), 0);
    pids.push_back(pid);
  }
  bool all = QTest::qWaitFor([&] { return hxServerClients(server) == 50 && served == 50; }, 120000);
  EXPECT_TRUE(all) << hxServerClients(server) << " clients, " << served << " served";
  for (pid_t pid : pids)
    kill(pid, SIGTERM);
  for (pid_t pid : pids)
    waitpid(pid, nullptr, 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return hxServerClients(server) == 0; }, 10000));
  hxServerStop(server);
}

}  // namespace
