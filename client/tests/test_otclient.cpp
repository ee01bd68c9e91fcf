// The display client against a server played by the test: masks built and filled, events sent
// back, hostile input survived, a lost server reconnected.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QElapsedTimer>
#include <QTableWidget>
#include <QTimer>
#include <unistd.h>
#include <QDialog>
#include <QLabel>
#include <QStatusBar>
#include <QTextEdit>
#include <sys/stat.h>
#include <unistd.h>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <atomic>
#include <fstream>
#include <thread>
#include <set>
#include <sstream>

#include "otcommandtable.h"
#include "corecommands.h"
#include "widgetcommands.h"
#include "fakeserver.h"
#include "windowtest.h"
#include "interpreter.h"
#include "mainwindow.h"
#include "otoptions.h"
#include "hxglwidget.h"
#include "qimagewidget.h"
#include "qttestmain.h"
#include "tcputil.h"
#include "testutil.h"

namespace {

class Client : public ClientWindowTest {
 protected:
  Client() { reconnectMaxMs = 400; }
  QWidget* widget(int id) { return window->interpreter()->widget(id); }

  std::string downloaded(const std::string& name) { return downloads.file("d/" + name); }
};

// Every command of the core table has its handler in exactly one family (the constructors in
// theirs), and the dispatcher finds that one.
TEST(CommandTable, EveryCommandHasOneHandlerInOneFamily) {
  std::map<int, std::vector<std::string>> owners;
  int families = 0;
  const otclient::CoreFamily* f = otclient::coreFamilies(&families);
  ASSERT_EQ(7, families);
  for (int i = 0; i < families; i++) {
    int n = 0;
    const otclient::CoreCommand* table = f[i].table(&n);
    EXPECT_GT(n, 0) << f[i].name;
    for (int k = 0; k < n; k++) {
      owners[table[k].command].push_back(f[i].name);
      EXPECT_EQ(&table[k], otclient::coreCommand(table[k].command)) << f[i].name << " " << k;
    }
  }
  int count = 0;
  const otclient::CommandInfo* info = otclient::commands(&count);
  for (int c = 0; c < count; c++) {
    bool constructor = c >= otclient::CmdQWidget && c <= otclient::CmdQGL;
    EXPECT_EQ(constructor ? 0u : 1u, owners[c].size()) << info[c].name;
  }
  for (int c = otclient::CmdQWidget; c <= otclient::CmdQGL; c++) {
    const otclient::Constructor* k = otclient::constructorOf((otclient::Command)c);
    ASSERT_NE(nullptr, k) << info[c].name;
    EXPECT_EQ(c, k->command);
  }
  int constructors = 0;
  otclient::constructorCommands(&constructors);
  EXPECT_EQ(otclient::CmdQGL - otclient::CmdQWidget + 1, constructors);
  EXPECT_EQ(nullptr, otclient::constructorOf(otclient::CmdSetText));
  EXPECT_EQ(nullptr, otclient::coreCommand(otclient::CmdQLabel));
  EXPECT_EQ(nullptr, otclient::coreCommand(otclient::CmdNone));
  EXPECT_EQ(nullptr, otclient::coreCommand(otclient::CmdCount));
}

// Every command of the protocol document is in the client's table with as many arguments,
// and the other way round.
TEST(CommandTable, MatchesTheProtocolDocument) {
  std::ifstream in(OTKIT_PROTOCOL_DOC);
  ASSERT_TRUE(in.good());
  std::stringstream text;
  text << in.rdbuf();
  std::string doc = text.str();
  size_t from = doc.find("## Server to client"), to = doc.find("## Client to server");
  ASSERT_NE(from, std::string::npos);
  std::string part = doc.substr(from, to - from);
  // The first cell of each table row names the commands of the row.
  std::map<std::string, int> documented;
  QRegularExpression call("`(@?[A-Za-z]+)\\(([^)`]*)\\)`");
  std::istringstream rows(part);
  std::string row;
  while (std::getline(rows, row)) {
    if (row.rfind("| `", 0) != 0) continue;
    QString first = QString::fromStdString(row.substr(1, row.find(" |", 1) - 1));
    auto it = call.globalMatch(first);
    while (it.hasNext()) {
      auto m = it.next();
      QString args = m.captured(2);
      documented[m.captured(1).toStdString()] = args.isEmpty() ? 0 : args.count(',') + 1;
    }
  }
  int count = 0;
  const otclient::CommandInfo* table = otclient::commands(&count);
  std::set<std::string> seen;
  for (int i = 0; i < count; i++) {
    seen.insert(table[i].name);
    ASSERT_TRUE(documented.count(table[i].name)) << table[i].name << " is not documented";
    EXPECT_EQ(documented[table[i].name], (int)strlen(table[i].signature)) << table[i].name;
  }
  const otclient::WidgetCommand* (*const families[])(int*) = {
      otclient::widgetCallCommands, otclient::qwtCommands, otclient::dialogCommands};
  for (auto family : families) {
    const otclient::WidgetCommand* familyRows = family(&count);
    for (int i = 0; i < count; i++) {
      EXPECT_TRUE(seen.insert(familyRows[i].name).second)
          << familyRows[i].name << " is in two tables";
      ASSERT_TRUE(documented.count(familyRows[i].name))
          << familyRows[i].name << " is not documented";
      EXPECT_EQ(documented[familyRows[i].name], (int)strlen(familyRows[i].signature))
          << familyRows[i].name;
    }
  }
  for (auto& d : documented)
    EXPECT_TRUE(seen.count(d.first)) << d.first << " is not in the table";
}

TEST(CommandTable, FileNamesStayInTheClientsDirectory) {
  for (const char* bad :
       {"", ".", "..", "../x", "a/b", "a\\b", "x..y", "/etc/passwd", ".hidden", ".bashrc",
        ".profile", "otclient.ini", "libx.so", "libx.so.1", "libx.so.1.2.3"})
    EXPECT_FALSE(otclient::safeFileName(bad)) << bad;
  for (const char* good : {"caster.bmp", "a.b.c", "x y", "so", "x.sox", "a.so.txt", "libx.so.1a"})
    EXPECT_TRUE(otclient::safeFileName(good)) << good;
}

TEST_F(Client, BuildsAMaskAndSendsItsEvents) {
  ASSERT_TRUE(
      server.send("startDefinition(4)\n"
                  "QLabel(1,0)\n"
                  "setGeometry(1,0,50,80,20)\n"
                  "setText(1,\"T = \\\"1120\\\" \\\\ degC\")\n"
                  "setBackgroundColor(1,255,0,0)\n"
                  "QPushButton(2,0)\n"
                  "setGeometry(2,0,0,100,30)\n"
                  "setText(2,\"Show Mask1\")\n"
                  "QSlider(3,0,0,100,1,10,1)\n"
                  "setGeometry(3,0,100,200,20)\n"
                  "endDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  auto* label = qobject_cast<QLabel*>(widget(1));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QString("T = \"1120\" \\ degC"));
  QImage shot = window->mask()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(40, 52), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(78, 68), QColor(255, 0, 0));

  auto* button = qobject_cast<QPushButton*>(widget(2));
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
  std::string events;
  ASSERT_TRUE(server.sync(2, &events));
  EXPECT_NE(events.find("QPushButton(2)\n"), std::string::npos) << events;

  // What the server sets is not echoed back as a user action.
  ASSERT_TRUE(server.send("setValue(3,42)\n"));
  events.clear();
  ASSERT_TRUE(server.sync(3, &events));
  EXPECT_EQ(events.find("slider("), std::string::npos) << events;

  QTest::keyClick(window.get(), Qt::Key_F2, Qt::ControlModifier);
  EXPECT_EQ(server.readLine(), "key(2," + std::to_string((int)Qt::Key_F2) + ")");
}

// The answer to a sync leaves only once what came before it has been painted.
TEST_F(Client, SyncIsAnsweredOnceTheChangeIsPainted) {
  ASSERT_TRUE(
      server.send("startDefinition(2)\nQLabel(1,0)\nsetGeometry(1,0,0,80,20)\n"
                  "endDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  QWidget* label = widget(1);
  ASSERT_NE(label, nullptr);
  struct Paints : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) count++;
      return false;
    }
  } paints;
  label->installEventFilter(&paints);
  int paintsAtSync = -1;
  QObject::connect(window->interpreter(), &otClientInterpreter::syncRequested, label,
                   [&] { paintsAtSync = paints.count; });
  // One segment, so that no turn of the event loop can come between the two lines.
  ASSERT_TRUE(server.send("setText(1,\"changed\")\nsync(2)\n"));
  ASSERT_EQ(server.readLine(), "synced(2)");
  EXPECT_GE(paintsAtSync, 1);
}

// A burst of update passes, each longer than the lines after which the window holds back its
// repainting: every pass is on screen when its sync is answered, and a pass at the burst's end
// without a sync is painted after it.
TEST_F(Client, EveryPassOfALongBurstIsPaintedByItsSync) {
  const int labels = 150;
  std::string define = "startDefinition(" + std::to_string(labels + 1) + ")\n";
  for (int i = 1; i <= labels; i++)
    define += "QLabel(" + std::to_string(i) + ",0)\nsetGeometry(" + std::to_string(i) + ",0," +
              std::to_string(i * 3) + ",40,3)\n";
  ASSERT_TRUE(server.send(define + "endDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  QWidget* first = widget(1);
  QWidget* last = widget(labels);
  ASSERT_TRUE(first != nullptr && last != nullptr);
  struct Paints : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) count++;
      return false;
    }
  } firstPaints, lastPaints;
  first->installEventFilter(&firstPaints);
  last->installEventFilter(&lastPaints);
  std::vector<std::pair<int, int>> atSync;
  QObject::connect(window->interpreter(), &otClientInterpreter::syncRequested, first,
                   [&] { atSync.emplace_back(firstPaints.count, lastPaints.count); });
  auto pass = [&](int n) {
    std::string lines;
    for (int i = 1; i <= labels; i++)
      lines += "setText(" + std::to_string(i) + ",\"" + std::to_string(n) + "\")\n";
    return lines;
  };
  // One segment: no turn of the event loop comes between the passes.
  ASSERT_TRUE(server.send(pass(1) + "sync(2)\n" + pass(2) + "sync(3)\n" + pass(3)));
  ASSERT_EQ(server.readLine(), "synced(2)");
  ASSERT_EQ(server.readLine(), "synced(3)");
  ASSERT_EQ(atSync.size(), 2u);
  EXPECT_GE(atSync[0].first, 1);
  EXPECT_GE(atSync[0].second, 1);
  EXPECT_GT(atSync[1].first, atSync[0].first);
  EXPECT_GT(atSync[1].second, atSync[0].second);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return firstPaints.count > atSync[1].first && lastPaints.count > atSync[1].second; },
      3000));
  EXPECT_TRUE(window->centralWidget()->updatesEnabled());
  EXPECT_EQ(qobject_cast<QLabel*>(last)->text(), QString("3"));
}

// SVG commands for an id without a drawing widget, and an over-long argument line, are read to
// their end and refused: none of their lines is taken for a command.
TEST_F(Client, SvgCommandsKeepTheStreamInStep) {
  ASSERT_TRUE(server.send("startDefinition(3)\nQLabel(1,0)\nQDraw(2,0)\nendDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  const long ignoredBefore = window->interpreter()->ignored();
  testing::internal::CaptureStdout();
  ASSERT_TRUE(
      server.send("gsvgRead(1)\n<svg\n>\nsetText(1,\"svg line\")\n</svg>\n<svgend></svgend>\n"
                  "gsvgPrintf(7)\nobj\nfill=\nsetText(1,\"an argument\")\n"
                  "gsvgTextPrintf(2)\nt1\n" +
                  std::string(5000, 'x') + "\nsetText(1,\"after\")\n"));
  ASSERT_TRUE(server.sync(2));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(qobject_cast<QLabel*>(widget(1))->text(), QString("after"));
  EXPECT_EQ(window->interpreter()->ignored(), ignoredBefore + 2);  // the two missing widgets
  EXPECT_NE(out.find("above 4096 bytes refused"), std::string::npos) << out;
}

// A GL block is read to its end and acknowledged, also for an id without a GL widget and for a
// GL widget without a context (offscreen): its requests get replies, its blocks are drained,
// and none of its lines is taken for a command.
TEST_F(Client, GlBlocksAreAcknowledged) {
  ASSERT_TRUE(server.send("startDefinition(3)\nQLabel(1,0)\nQGL(2,0)\nendDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  ASSERT_NE(nullptr, qobject_cast<HxGLWidget*>(widget(2)));
  const std::string block =
      "glGenLists(1)\nglCallLists(2,5121)\nglbytes(2)\n\n\n"
      "setText(1,\"inside\")\nhxGlEnd()\n";
  for (int id : {2, 1}) {
    ASSERT_TRUE(server.send("hxGlBegin(" + std::to_string(id) + ")\n" + block));
    std::string events;
    ASSERT_TRUE(server.sync(10 + id, &events));
    EXPECT_NE(events.find("gllongresponse(0);\n"), std::string::npos) << events;
    EXPECT_NE(events.find("hxGlEnd();\n"), std::string::npos) << events;
  }
  EXPECT_NE(qobject_cast<QLabel*>(widget(1))->text(), QString("inside"));
}

TEST_F(Client, SurvivesHostileLines) {
  ottest::TempDir dir;
  ottest::ScopedChdir here(dir.path());
  std::string garbage;
  for (int i = 0; i < 4000; i++)
    garbage += (char)((i * 7919) % 251 + 1);
  ASSERT_TRUE(
      server.send("startDefinition(3)\n"
                  "QLabel(1,0)\n"
                  "QLabel(3,0)\n"  // outside the mask
                  "QLabel(-1,0)\n"
                  "setText(2,\"nobody\")\n"  // an id without a widget
                  "setText(1)\n"             // wrong arguments
                  "noSuchCommand(1,2)\n"
                  "setText(1,\"open\n"  // a text cut by the line end
                  "startDefinition(100000000)\n"
                  "setNumRows(1,5)\n"  // a label is no table
                  "setGeometry(1,0,0,99999999,10)\n" +
                  std::string(20000, 'x') + "setText(1,\"hidden\")\n" + garbage + "\n" +
                  "@download(\"../escape\",5)\nAAAAA"));
  // The oversized download is drained, not stored. The client reads in this thread, so a
  // second thread sends what does not fit into the socket's buffers.
  std::atomic<int> sent{0};
  std::thread sender([&] {
    bool ok = server.sendFromThread("@download(\"big\",70000000)\n") &&
              server.sendFromThread(std::string(70000000, 'B')) &&
              server.sendFromThread("@download(\"ok.txt\",6)\nhello\nsetText(1,\"still here\")\n");
    sent = ok ? 1 : -1;
  });
  bool done = QTest::qWaitFor([&] { return sent != 0; }, 120000);
  sender.join();
  ASSERT_TRUE(done);
  ASSERT_EQ(sent, 1);
  ASSERT_TRUE(server.sync(7));
  auto* label = qobject_cast<QLabel*>(widget(1));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QString("still here"));
  EXPECT_EQ(window->interpreter()->idCount(), 3);
  EXPECT_FALSE(std::ifstream(dir.path() + "/../escape").good());
  EXPECT_FALSE(std::ifstream(downloaded("big")).good());
  std::ifstream ok(downloaded("ok.txt"));
  std::string content((std::istreambuf_iterator<char>(ok)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "hello\n");
  EXPECT_GE(window->interpreter()->ignored(), 11);
}

// What a server downloads lands in the downloads folder and nowhere else: links there are
// not followed (neither to a file outside nor, dangling, to make one), hidden names, shared
// libraries and the client's ini file are refused, and the stream stays in step.
TEST_F(Client, DownloadsStayInTheirFolder) {
  ottest::TempDir work;
  ottest::ScopedChdir here(work.path());
  ASSERT_TRUE(server.send("startDefinition(2)\nQLabel(1,0)\nendDefinition()\n"));
  ASSERT_TRUE(server.sync(1));  // the folder is made for the first download, not before
  ASSERT_TRUE(server.send("@download(\"first.txt\",2)\nok"));
  ASSERT_TRUE(server.sync(2));
  struct stat st;
  ASSERT_EQ(0, stat(downloads.file("d").c_str(), &st));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::string outside = work.file("outside.txt");
  std::ofstream(outside) << "mine";
  ASSERT_EQ(0, symlink(outside.c_str(), downloaded("link").c_str()));
  ASSERT_EQ(0, symlink(work.file("created").c_str(), downloaded("dangling").c_str()));
  std::string lines = "@download(\"link\",5)\nEVIL!@download(\"dangling\",5)\nEVIL!";
  for (const char* name : {".bashrc", ".profile", "otclient.ini", "libx.so", "libx.so.1"})
    lines += std::string("@download(\"") + name + "\",5)\nEVIL!";
  lines +=
      "@download(\"kept.txt\",5)\nhello"
      "setText(1,\"in step\")\n";
  ASSERT_TRUE(server.send(lines));
  ASSERT_TRUE(server.sync(3));
  EXPECT_EQ(qobject_cast<QLabel*>(widget(1))->text(), QString("in step"));
  std::ifstream in(outside);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "mine");
  EXPECT_FALSE(std::ifstream(work.file("created")).good());
  for (const char* name : {".bashrc", ".profile", "otclient.ini", "libx.so", "libx.so.1"}) {
    EXPECT_FALSE(std::ifstream(downloaded(name)).good()) << name;
    EXPECT_FALSE(std::ifstream(work.file(name)).good()) << name;
  }
  EXPECT_FALSE(std::ifstream(work.file("kept.txt")).good());
  std::ifstream kept(downloaded("kept.txt"));
  content.assign((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "hello");
  EXPECT_TRUE(window->statusBar()->currentMessage().contains("refused"));
}

// The folder's size is bounded: a download that would pass the bound is refused and its bytes
// drained; a file that replaces one of the same name counts only once.
TEST_F(Client, DownloadsFolderHasASizeLimit) {
  opt.download_max_mb = 1;
  const int part = 600 * 1024;
  std::string block(part, 'x');
  ASSERT_TRUE(server.send("startDefinition(2)\nQLabel(1,0)\nendDefinition()\n"));
  ASSERT_TRUE(server.send("@download(\"a\"," + std::to_string(part) + ")\n" + block));
  ASSERT_TRUE(server.send("@download(\"b\"," + std::to_string(part) + ")\n" + block));
  ASSERT_TRUE(server.send("@download(\"a\"," + std::to_string(part) + ")\n" + block));
  ASSERT_TRUE(server.send("setText(1,\"after\")\n"));
  ASSERT_TRUE(server.sync(1));
  EXPECT_EQ(qobject_cast<QLabel*>(widget(1))->text(), QString("after"));
  struct stat st;
  ASSERT_EQ(0, stat(downloaded("a").c_str(), &st));
  EXPECT_EQ(st.st_size, part);
  EXPECT_NE(0, stat(downloaded("b").c_str(), &st));
}

// Pictures and rich text the server names are read from the downloads folder only: a link
// there, an absolute path or a name that climbs out show nothing.
TEST_F(Client, PicturesAndRichTextComeFromTheDownloadsFolder) {
  ottest::TempDir work;
  ottest::ScopedChdir here(work.path());
  QImage blue(60, 50, QImage::Format_RGB32);
  blue.fill(QColor(0, 0, 255));
  std::string outside = work.file("secret.png");
  ASSERT_TRUE(blue.save(QString::fromStdString(outside)));
  std::string png;
  {
    std::ifstream in(outside, std::ios::binary);
    png.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  ASSERT_TRUE(
      server.send("startDefinition(5)\nQImage(1,0,\"\")\nQLabel(2,0)\nQTextBrowser(3,0)\n"
                  "QLabel(4,0)\nendDefinition()\n@download(\"pic.png\"," +
                  std::to_string(png.size()) + ")\n" + png));
  ASSERT_TRUE(server.sync(1));
  ASSERT_EQ(0, symlink(outside.c_str(), downloaded("link.png").c_str()));
  auto* image = qobject_cast<QImageWidget*>(widget(1));
  ASSERT_NE(image, nullptr);
  ASSERT_TRUE(server.send("setImage(1,\"link.png\")\n"));
  ASSERT_TRUE(server.sync(2));
  EXPECT_TRUE(image->shownPicture().isNull());
  ASSERT_TRUE(server.send("setImage(1,\"pic.png\")\n"));
  ASSERT_TRUE(server.sync(3));
  ASSERT_FALSE(image->shownPicture().isNull());
  EXPECT_EQ(image->shownPicture().pixelColor(5, 5), QColor(0, 0, 255));

  // Rich text: the picture counts in the label's size only when it was taken.
  std::string abs = "<img src=\\\"" + outside + "\\\">";
  ASSERT_TRUE(server.send("setText(2,\"" + abs + "\")\nsetText(3,\"" + abs +
                          "\")\nsetText(4,\"<img src=\\\"pic.png\\\">\")\n"));
  ASSERT_TRUE(server.sync(4));
  auto* label = qobject_cast<QLabel*>(widget(2));
  auto* browser = qobject_cast<QTextEdit*>(widget(3));
  auto* good = qobject_cast<QLabel*>(widget(4));
  ASSERT_TRUE(label && browser && good);
  EXPECT_LT(label->sizeHint().width(), 60);
  EXPECT_LT(browser->document()->idealWidth(), 60);
  EXPECT_GE(good->sizeHint().width(), 60);
  EXPECT_GE(good->sizeHint().height(), 50);
}

// A sender that stalls inside a line does not hold the window: it keeps handling the user.
TEST_F(Client, APartialLineDoesNotHoldTheWindow) {
  ASSERT_TRUE(server.send("startDefinition(3)\nQLabel(1,0)\nQPushButton(2,0)\nendDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  ASSERT_TRUE(server.send("setText(1,\"par"));
  QTest::qWait(300);  // would never return if the client blocked in the read
  QTest::mouseClick(qobject_cast<QPushButton*>(widget(2)), Qt::LeftButton);
  ASSERT_TRUE(server.send("tial\")\n"));
  std::string events;
  ASSERT_TRUE(server.sync(2, &events));
  EXPECT_NE(events.find("QPushButton(2)\n"), std::string::npos) << events;
  auto* label = qobject_cast<QLabel*>(widget(1));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QString("partial"));
}

TEST_F(Client, ReconnectsWhenTheServerComesBack) {
  ASSERT_TRUE(
      server.send("startDefinition(2)\nQLabel(1,0)\nsetText(1,\"live\")\nendDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  server.dropClient();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isConnected(); }, 5000));
  EXPECT_TRUE(window->connectionText().startsWith("no connection"));
  // The window and its mask stay, greyed out.
  EXPECT_FALSE(window->mask()->isEnabled());
  ASSERT_NE(widget(1), nullptr);
  ASSERT_TRUE(server.accept());
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->isConnected(); }, 5000));
  ASSERT_TRUE(server.send("startDefinition(2)\nQLabel(1,0)\nendDefinition()\n"));
  ASSERT_TRUE(server.sync(2));
  EXPECT_TRUE(window->mask()->isEnabled());
}

TEST_F(Client, ModalDialogsStatusMessagesAndPrinting) {
  ottest::TempDir dir;
  std::string pdf = dir.file("print.pdf");
  snprintf(opt.print_pdf, sizeof(opt.print_pdf), "%s", pdf.c_str());
  ASSERT_TRUE(
      server.send("startDefinition(2)\nQLabel(1,0)\nsetText(1,\"base\")\nendDefinition()\n"
                  "statusMessage(255,0,0,\"ERROR: no database\")\nprint(1)\n"
                  "modalDialog(300,200)\nstartDefinition(3)\nQPushButton(1,0)\nsetText(1,\"OK\")\n"
                  "QLabel(2,0)\nendDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  bool shown = false;
  for (QLabel* l : window->statusBar()->findChildren<QLabel*>())
    if (l->text() == "ERROR: no database")
      shown = l->palette().color(QPalette::WindowText) == QColor(255, 0, 0);
  EXPECT_TRUE(shown);
  std::ifstream printed(pdf, std::ios::binary);
  std::string head(4, '\0');
  printed.read(&head[0], 4);
  EXPECT_EQ(head, "%PDF");

  // The dialog's mask has ids of its own; its events carry them.
  ASSERT_TRUE(window->interpreter()->modalOpen());
  EXPECT_EQ(window->interpreter()->idCount(), 3);
  auto* ok = qobject_cast<QPushButton*>(widget(1));
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->window(), window->interpreter()->modalDialog());
  QTest::mouseClick(ok, Qt::LeftButton);
  std::string events;
  ASSERT_TRUE(server.sync(2, &events));
  EXPECT_NE(events.find("QPushButton(1)\n"), std::string::npos) << events;
  ASSERT_TRUE(server.send("terminateModalDialog()\nsetText(1,\"back\")\n"));
  ASSERT_TRUE(server.sync(3));
  EXPECT_FALSE(window->interpreter()->modalOpen());
  auto* base = qobject_cast<QLabel*>(widget(1));
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base->text(), QString("back"));
}

// Without a server the delay between attempts grows up to the configured longest wait, and
// the operator's retry makes an attempt at once.
TEST(ClientWithoutServer, RetriesWithAGrowingDelay) {
  otOptionsDefaults(&opt);
  opt.reconnect_max_ms = 1000;
  tcp_init();
  {
    otClientWindow window("127.0.0.1", ottest::freePort());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.reconnectDelay() == 500; }, 5000));
    EXPECT_TRUE(window.connectionText().startsWith("no connection"));
    window.reconnectAction()->trigger();
    EXPECT_EQ(window.reconnectDelay(), 1000);
    window.reconnectAction()->trigger();
    EXPECT_EQ(window.reconnectDelay(), 1000);
    EXPECT_FALSE(window.isConnected());
  }
  tcp_free();
}

}  // namespace

namespace {

// A widget made the child of its own child, or a tab widget given a page that holds it, would
// make the widget tree a loop: refused, and the widgets stay as they were.
TEST_F(Client, WidgetTreeLoopsAreRefused) {
  ASSERT_TRUE(
      server.send("startDefinition(10)\nQWidget(5,0)\nQWidget(6,5)\nQWidget(5,6)\nQWidget(4,4)\n"
                  "QTabWidget(1,0)\nQWidget(2,1)\nQTabWidget(3,2)\naddTab(3,1,\"loop\")\n"
                  "QLabel(7,0)\nQLabel(8,7)\nQWidget(7,8)\nendDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  QWidget* five = widget(5);
  ASSERT_NE(five, nullptr);
  ASSERT_NE(widget(6), nullptr);
  EXPECT_EQ(widget(6)->parentWidget(), five);
  EXPECT_EQ(five->parentWidget(), window->mask());
  // QWidget(4,4) names no widget yet as its parent: it goes on the mask.
  ASSERT_NE(widget(4), nullptr);
  EXPECT_EQ(widget(4)->parentWidget(), window->mask());
  EXPECT_EQ(widget(1)->parentWidget(), window->mask());
  EXPECT_EQ(qobject_cast<QTabWidget*>(widget(3))->count(), 0);
  EXPECT_EQ(widget(8)->parentWidget(), widget(7));
  EXPECT_GE(window->interpreter()->ignored(), 3);
  // QWidget(4,4) now names a widget: its replacement cannot be its own child.
  QWidget* four = widget(4);
  ASSERT_TRUE(server.send("QLabel(4,4)\n"));
  ASSERT_TRUE(server.sync(3));
  EXPECT_EQ(widget(4), four);
  // Replacing a widget by one on a sibling branch is no loop.
  ASSERT_TRUE(server.send("QWidget(6,0)\nQLabel(5,6)\n"));
  ASSERT_TRUE(server.sync(4));
  EXPECT_EQ(widget(5)->parentWidget(), widget(6));
}

QString statusText(QMainWindow* w) {
  QString all;
  for (QLabel* l : w->statusBar()->findChildren<QLabel*>())
    all += l->text() + "\n";
  return all;
}

// Tables are bounded in rows, columns and cells; a size above the bounds is cut and the
// status bar says so.
TEST_F(Client, TableSizesAreBounded) {
  ASSERT_TRUE(
      server.send("startDefinition(9)\nQTable(7,0,100000,100000)\nQTable(8,0,3,4)\n"
                  "endDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  auto* big = qobject_cast<QTableWidget*>(widget(7));
  ASSERT_NE(big, nullptr);
  EXPECT_LE((long long)big->rowCount() * big->columnCount(), 1000000LL);
  EXPECT_EQ(big->columnCount(), 1000);
  EXPECT_EQ(big->rowCount(), 1000);
  EXPECT_TRUE(statusText(window.get()).contains("cut")) << statusText(window.get()).toStdString();
  auto* small = qobject_cast<QTableWidget*>(widget(8));
  ASSERT_TRUE(server.send("statusMessage(0,0,0,\"ok\")\nsetNumRows(8,100000)\n"));
  ASSERT_TRUE(server.sync(2));
  EXPECT_EQ(small->rowCount(), 10000);
  EXPECT_TRUE(statusText(window.get()).contains("cut"));
  ASSERT_TRUE(server.send("setNumCols(8,100000)\nsetNumRows(8,20)\nsetNumCols(8,-1)\n"));
  ASSERT_TRUE(server.sync(3));
  EXPECT_EQ(small->rowCount(), 20);
  EXPECT_EQ(small->columnCount(), 100);  // 10000 rows x 100 columns, then 20 rows
  ASSERT_TRUE(server.send("setNumCols(8,5)\n"));
  ASSERT_TRUE(server.sync(4));
  EXPECT_EQ(small->columnCount(), 5);
}

// A large mask is built hidden and shown at its end: building stays linear in the widgets
// (each widget shown on a shown parent made every later geometry change look at all of its
// siblings). The lines also reach the client in many segments, some ending inside a line.
TEST_F(Client, TwentyThousandWidgetsAreBuilt) {
  const int n = 20000;
  std::string lines = "startDefinition(" + std::to_string(n + 1) + ")\n";
  for (int i = 1; i <= n; i++)
    lines += "QLabel(" + std::to_string(i) + ",0)\nsetGeometry(" + std::to_string(i) + "," +
             std::to_string(i % 50 * 20) + "," + std::to_string(i / 50 * 10) + ",20,10)\n";
  ASSERT_TRUE(server.send(lines + "sync(1)\n"));
  std::string l;
  while ((l = server.readLine(120000)) != "synced(1)")
    ASSERT_FALSE(l.empty());
  int shown = 0;
  for (int i = 1; i <= n; i++) {
    ASSERT_NE(widget(i), nullptr) << i;
    shown += widget(i)->isVisible();
  }
  EXPECT_EQ(shown, 0);  // nothing is shown while the mask is built
  ASSERT_TRUE(server.send("hide(3)\nendDefinition()\nsync(2)\n"));
  while ((l = server.readLine(120000)) != "synced(2)")
    ASSERT_FALSE(l.empty());
  for (int i = 1; i <= n; i++)
    shown += widget(i)->isVisible();
  EXPECT_EQ(shown, n - 1);
  EXPECT_FALSE(widget(3)->isVisible());
}

// Counts paint events of a widget.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) paints++;
    return false;
  }
};

struct StalledStream {
  const char* name;
  const char* lines;  // the command and the start of its data; then the server says nothing
};

class ClientStreams : public Client, public ::testing::WithParamInterface<StalledStream> {};

// A server that announces a block or a stream and then stops neither freezes the window nor
// holds the connection: the window paints and answers while the stream stalls, and after
// the stall limit the connection is dropped and made again.
TEST_P(ClientStreams, AStalledStreamKeepsTheWindowLiveAndIsDropped) {
  ottest::TempDir dir;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.file("").c_str()), 0);
  opt.stream_timeout = 1;
  ASSERT_TRUE(server.send(
      "startDefinition(5)\nQDraw(1,0)\nQImage(2,0,\"\")\nQwtPlot(3,0,1,0)\nQPushButton(4,0)\n"
      "setGeometry(4,0,0,80,30)\nplotCurve(3,0,\"c\")\nendDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  auto* button = qobject_cast<QPushButton*>(widget(4));
  ASSERT_NE(button, nullptr);
  PaintCounter counter;
  button->installEventFilter(&counter);
  bool live = false;
  std::string clicked;
  QTimer::singleShot(300, [&] {
    if (!window->readingStream()) return;
    int before = counter.paints;
    button->update();
    QTest::mouseClick(button, Qt::LeftButton);
    for (int i = 0; i < 5 && clicked != "QPushButton(4)"; i++)
      clicked = server.readLine(3000);
    live =
        QTest::qWaitFor([&] { return counter.paints > before; }, 3000) && window->readingStream();
  });
  ASSERT_TRUE(server.send(GetParam().lines));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isConnected(); }, 10000));
  EXPECT_TRUE(live);
  EXPECT_EQ(clicked, "QPushButton(4)");
  EXPECT_TRUE(window->connectionText().contains("sent nothing"))
      << window->connectionText().toStdString();
  ASSERT_TRUE(server.accept());
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->isConnected(); }, 5000));
  ASSERT_EQ(chdir(cwd), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryBlock, ClientStreams,
    ::testing::Values(StalledStream{"download", "@download(\"part.bin\",100)\nabc"},
                      StalledStream{"jpeg", "setJpegImage(2,1000)\n\xff\xd8"},
                      StalledStream{"plotData", "plotData(3,0,10)\n1,2\n3,"},
                      StalledStream{"drawing", "gbeginDraw(1)\ngmoveTo(1,2)\n"},
                      StalledStream{"points", "gbeginDraw(1)\ngline(-n=5)\n1.0,2.0\n"},
                      StalledStream{"svg", "gsvgRead(1)\n<svg>\n"},
                      StalledStream{"gl", "hxGlBegin(9)\nglGenLists(1)\n"},
                      StalledStream{"glblock", "hxGlBegin(9)\nglCallLists(2,5121)\nglbytes(2)\n"}),
    [](const ::testing::TestParamInfo<StalledStream>& i) { return std::string(i.param.name); });

// The operator's Reconnect during a stalled stream gives it up and connects again at once;
// closing the window gives it up too, so that the program can end.
TEST_F(Client, ReconnectAndCloseGiveAStalledStreamUp) {
  opt.stream_timeout = 600;
  ASSERT_TRUE(server.send("startDefinition(2)\nQDraw(1,0)\nendDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  QTimer::singleShot(200, [&] {
    if (window->readingStream()) window->reconnectAction()->trigger();
  });
  ASSERT_TRUE(server.send("gbeginDraw(1)\n"));
  ASSERT_TRUE(server.accept(8000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->isConnected(); }, 5000));
  ASSERT_TRUE(server.sync(2));

  bool closedWhileReading = false;
  QTimer::singleShot(200, [&] {
    closedWhileReading = window->readingStream();
    window->close();
  });
  ASSERT_TRUE(server.send("gbeginDraw(1)\n"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isConnected(); }, 8000));
  EXPECT_TRUE(closedWhileReading);
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(window->readingStream());
}

// A server that stalls in the middle of a drawing (half of it sent, then nothing) holds
// nothing: the window repaints at once, Ctrl+R connects again at once, and the window closes
// at once.
TEST_F(Client, AServerStalledMidDrawingHoldsNothing) {
  opt.stream_timeout = 600;
  ASSERT_TRUE(
      server.send("startDefinition(3)\nQDraw(1,0)\nQPushButton(2,0)\nsetGeometry(2,0,0,80,30)\n"
                  "endDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  ASSERT_TRUE(
      server.send("gbeginDraw(1)\ngsetColor(255,0,0)\ngbox(0,0,20,20)\ngline(-n=4)\n1.0,2.0\n3."));
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->readingStream(); }, 3000));
  auto* button = qobject_cast<QPushButton*>(widget(2));
  ASSERT_NE(button, nullptr);
  PaintCounter counter;
  button->installEventFilter(&counter);
  QElapsedTimer t;
  t.start();
  button->update();
  ASSERT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 2000));
  EXPECT_LT(t.elapsed(), 500);
  EXPECT_TRUE(window->readingStream());

  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
  ASSERT_TRUE(server.accept(3000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->isConnected(); }, 3000));
  EXPECT_FALSE(window->readingStream());
  ASSERT_TRUE(server.sync(2));  // the new connection takes commands

  ASSERT_TRUE(server.send("gbeginDraw(1)\ngbox(0,0,5,5)\n"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->readingStream(); }, 3000));
  t.restart();
  window->close();
  window.reset();
  EXPECT_LT(t.elapsed(), 100);
  EXPECT_EQ("", server.readLine(500));  // the connection is gone
}

// A block that announces more than any block may hold breaks the connection at once, and a
// stream that goes on past the bound is cut.
TEST_F(Client, OversizedBlocksAndEndlessStreamsAreCut) {
  opt.stream_timeout = 600;
  ASSERT_TRUE(server.send("startDefinition(2)\nQDraw(1,0)\nendDefinition()\n"));
  ASSERT_TRUE(server.sync(1));
  ASSERT_TRUE(server.send("hxGlBegin(9)\nglCallLists(2,5121)\nglbytes(2147483647)\n"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isConnected(); }, 8000));
  EXPECT_TRUE(window->connectionText().contains("glbytes"))
      << window->connectionText().toStdString();
  ASSERT_TRUE(server.accept());
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->isConnected(); }, 5000));

  opt.stream_max_mb = 1;
  std::atomic<bool> stop{false};
  std::thread points([&] {
    server.sendFromThread("gbeginDraw(1)\ngline(-n=5)\n");
    std::string chunk;
    for (int i = 0; i < 4096; i++)
      chunk += "1.000000,2.000000\n";
    while (!stop && server.sendFromThread(chunk)) {
    }
  });
  bool cut = QTest::qWaitFor([&] { return !window->isConnected(); }, 20000);
  stop = true;
  server.dropClient();
  points.join();
  ASSERT_TRUE(cut);
  EXPECT_TRUE(window->connectionText().contains("1 MiB")) << window->connectionText().toStdString();
}

// A server that promised to speak and then stays silent without closing is taken for lost;
// one that keeps its promise stays connected.
TEST_F(Client, ASilentServerThatPromisedToSpeakIsLost) {
  ASSERT_TRUE(server.send("@alive(300)\n"));
  ASSERT_TRUE(server.sync(1));
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < 11; i++) {
    QTest::qWait(300);
    ASSERT_TRUE(server.send("@alive(300)\n"));
  }
  EXPECT_TRUE(window->isConnected());
  EXPECT_GE(t.elapsed(), 3200);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isConnected(); }, 10000));
  EXPECT_GE(t.elapsed(), 6000);  // 3 s of silence at least
  EXPECT_TRUE(window->connectionText().contains("said nothing"))
      << window->connectionText().toStdString();
  ASSERT_TRUE(server.accept());
  EXPECT_TRUE(QTest::qWaitFor([&] { return window->isConnected(); }, 5000));
}

}  // namespace
