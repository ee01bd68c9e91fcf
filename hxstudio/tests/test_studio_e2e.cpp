// The studio end to end as real processes. A mask is designed through the dialogs (widgets
// inserted, their properties and a binding set), saved, the tag table made from the demo
// daemon's header, the server generated and built with CMake; then otmodbussim plays the
// plant, the generated daemon polls it, the generated server shows the mask to otclient under
// Xvfb (screenshots) and to a protocol client of the test's own, which moves the slider and
// sees the value greyed when the simulator stops. A mask laid out in Qt Designer's own form
// editor with the otkit plug-in, with Qwt classes and a placeholder, is built with
// hxstudio -build and runs too. And the whole road
// inside one studio window: from a new project, a daemon made in the daemon dialog, a mask
// bound to its header, an event branch pasted into the mask's code, Run, and the value and the
// branch's effect in otclient under Xvfb, clicked with xdotool.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <signal.h>
#include <QTextDocument>
#include <QTimer>
#include <QImage>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "daemontest.h"
#include "designsurface.h"
#include "dlgdaemon.h"
#include "dlginsertwidget.h"
#include "dlgpastewidget.h"
#include "dlgproperty.h"
#include "editor.h"
#include "generator.h"
#include "hxtestutil.h"
#include "otmodbusclient.h"
#include "ottagtable.h"
#include "project.h"
#include "qttestmain.h"
#include "studiowindow.h"
#include "tagtableview.h"
#include "ui_dlgdaemon.h"
#include "ui_dlginsertwidget.h"
#include "ui_dlgpastewidget.h"
#include "ui_dlgproperty.h"
#include "uiwidgets.h"

namespace {

using hxtest::Process;
using hxtest::waitFor;

// What a display server sends to a protocol client that answers its syncs.
class Watcher {
 public:
  explicit Watcher(int port) : client_(port) {
    if (client_.fd >= 0) thread_ = std::thread([this] { read(); });
  }
  ~Watcher() {
    stop_ = true;
    if (client_.fd >= 0) shutdown(client_.fd, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
  }
  bool connected() const { return client_.fd >= 0; }
  void send(const std::string& line) { client_.send(line); }
  int syncs() const { return syncs_; }
  size_t size() {
    std::lock_guard<std::mutex> hold(lock_);
    return seen_.size();
  }
  bool sawSince(size_t from, const std::string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    return seen_.find(text, from) != std::string::npos;
  }
  std::string seen() {
    std::lock_guard<std::mutex> hold(lock_);
    return seen_;
  }

 private:
  void read() {
    while (!stop_) {
      std::string line = client_.line();
      if (line.empty()) continue;
      {
        std::lock_guard<std::mutex> hold(lock_);
        seen_ += line;
      }
      if (line.compare(0, 5, "sync(") == 0) {
        std::string answer = "synced(" + line.substr(5, line.find(')') - 5) + ")\n";
        if (::send(client_.fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) break;
        syncs_++;
      }
    }
  }
  hxtest::Client client_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> syncs_{0};
  std::mutex lock_;
  std::string seen_;
};

std::vector<std::string> screenshots(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (strncmp(e->d_name, "otclient-", 9) == 0) names.push_back(dir + "/" + e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The box of the pixels of colour c (exact within 8), empty when there are none.
QRect boxOf(const QImage& img, QColor c) {
  QRect box;
  for (int y = 0; y < img.height(); y++)
    for (int x = 0; x < img.width(); x++) {
      QColor p = img.pixelColor(x, y);
      if (abs(p.red() - c.red()) <= 8 && abs(p.green() - c.green()) <= 8 &&
          abs(p.blue() - c.blue()) <= 8)
        box |= QRect(x, y, 1, 1);
    }
  return box;
}

// The id of an object in a generated ids enum ("  name = 3,"), -1 when absent.
// otclient under Xvfb on a server of this machine, a screenshot a second into shots (made).
bool startClient(Process* client, int port, const std::string& shots) {
  if (mkdir(shots.c_str(), 0700) != 0) return false;
  return client->start(
      shots.substr(0, shots.rfind('/')), "xvfb-run",
      {"-a", "-s", "-screen 0 1024x768x24", "env", "QT_QPA_PLATFORM=xcb", OTCLIENT_PROGRAM,
       "-shots=" + shots, "-shotevery=1", "127.0.0.1:" + std::to_string(port)},
      shots + ".log");
}

int idOf(const std::string& header, const std::string& name) {
  QRegularExpression re("\\n  " + QRegularExpression::escape(QString::fromStdString(name)) +
                        " = (\\d+),");
  QRegularExpressionMatch m = re.match(QString::fromStdString(header));
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Inserts the checked kind at (x, y) and sets its properties through the property dialog.
QWidget* insert(dlgInsertWidget& ins, QWidget* root, QRadioButton* kind, QRect g,
                const QStringList& tags, const QString& text, QColor background = QColor(),
                const QString& tag = QString()) {
  kind->setChecked(true);
  QWidget* w = ins.newWidget(root, root, g.x(), g.y());
  if (w == nullptr) return nullptr;
  dlgProperty d(w, tags);
  d.form->spinBoxX->setValue(g.x());
  d.form->spinBoxY->setValue(g.y());
  d.form->spinBoxW->setValue(g.width());
  d.form->spinBoxH->setValue(g.height());
  if (!text.isNull()) d.form->lineEditText->setText(text);
  if (background.isValid()) {
    d.form->spinBoxBgRed->setValue(background.red());
    d.form->spinBoxBgGreen->setValue(background.green());
    d.form->spinBoxBgBlue->setValue(background.blue());
  }
  if (!tag.isEmpty()) d.form->comboBoxTag->setCurrentText(tag);
  d.slotOk();
  return w;
}

class StudioEndToEnd : public hxtest::GeneratedDaemon {};

TEST_F(StudioEndToEnd, DesignedMaskShowsAndWritesThePlant) {
#ifdef OTKIT_SANITIZED
  GTEST_SKIP() << "the generated servers are built without the sanitizer runtime";
#endif
  setenv("PKG_CONFIG_PATH", HX_PKGCONFIG_DIR, 1);

  // The simulator and the demo daemon.
  const int simPort = ottest::freePort();
  Process sim;
  ASSERT_TRUE(sim.start(dir.path(), std::string(OTKIT_TOOLS_DIR) + "/otmodbussim",
                        {"-tcp=127.0.0.1:" + std::to_string(simPort), "-simulate"},
                        dir.file("otmodbussim.log")));
  ASSERT_TRUE(waitFor([&] { return sim.log().find("listening") != std::string::npos; }))
      << sim.log();
  std::string project = ottest::readFile(std::string(OTKIT_SOURCE_DIR) + "/examples/demo.mkmodbus");
  project = hxtest::withKeys(
      project,
      {{"shared_memory", shm()}, {"mailbox", mbx()}, {"tcpport", std::to_string(simPort)}});
  run("mkmodbus", "demo.mkmodbus", project, "demo.h");

  // The project: the tag table from the daemon's header, renamed and completed.
  StudioProject p;
  QString error;
  ASSERT_EQ(StudioProject::create(QString::fromStdString(dir.file("plant")), &p, &error), 0)
      << error.toStdString();
  const std::string headerText = ottest::readFile(dir.file("demo.h"));
  ottest::writeFile(p.path("demo.h").toStdString(), headerText);
  otDaemonHeader header;
  std::string e;
  ASSERT_EQ(otReadDaemonHeader(headerText.c_str(), &header, &e), 0) << e;
  otTagTable table;
  table.tags = otTagTable::propose(header, "demo.h");
  ASSERT_GE(table.find("demo_c1_1"), 0);
  table.tags[(size_t)table.find("demo_c1_0")].name = "seconds";
  table.tags[(size_t)table.find("demo_c1_1")].name = "sine60";
  otTag setpoint;
  setpoint.name = "setpoint";
  setpoint.header = "demo.h";
  setpoint.cycle = 3;
  setpoint.index = 0;
  setpoint.type = otTag::SHORT;
  setpoint.write = "register";
  setpoint.address = "1,0";
  ASSERT_EQ(table.add(setpoint, &e), 0) << e;
  otTag& valve = table.tags[(size_t)table.find("demo_c4_0")];
  valve.name = "valve";
  valve.write = "coil";
  valve.address = "1,0";
  ASSERT_EQ(table.checkAll(QFile::encodeName(p.folder).constData(), &e), 0) << e;
  ASSERT_EQ(table.write(QFile::encodeName(p.tagsPath()).constData(), &e), 0) << e;
  QStringList tagNames;
  for (const otTag& t : table.tags)
    tagNames << QString::fromStdString(t.name);

  // The mask, designed through the dialogs as the main window would.
  QWidget root;
  root.setObjectName("mask1");
  root.resize(640, 480);
  dlgInsertWidget ins;
  Ui_DialogInsertWidget* f = ins.form;
  QWidget* caption = insert(ins, &root, f->wLabel, QRect(20, 20, 160, 30), tagNames, "sine60");
  QWidget* value = insert(ins, &root, f->wLabel, QRect(200, 20, 200, 30), tagNames, "",
                          QColor(255, 255, 0), "sine60");
  QWidget* marker =
      insert(ins, &root, f->wLabel, QRect(200, 300, 120, 40), tagNames, "", QColor(0, 255, 255));
  f->spinBoxSliderMin->setValue(0);
  f->spinBoxSliderMax->setValue(1000);
  f->spinBoxSliderStep->setValue(10);
  f->comboBoxSliderOrientation->setCurrentIndex(0);
  QWidget* slider = insert(ins, &root, f->wSlider, QRect(20, 100, 300, 30), tagNames, QString(),
                           QColor(), "setpoint");
  QWidget* readback =
      insert(ins, &root, f->wLabel, QRect(20, 150, 200, 30), tagNames, "", QColor(), "setpoint");
  QWidget* typed = insert(ins, &root, f->wLineEdit, QRect(240, 150, 100, 30), tagNames, "",
                          QColor(), "setpoint");
  QWidget* toggle = insert(ins, &root, f->wPushButton, QRect(20, 200, 120, 30), tagNames, "Valve",
                           QColor(), "valve");
  ASSERT_TRUE(caption && value && marker && slider && readback && typed && toggle);
  ASSERT_EQ(uiSave(p.path("mask1.ui"), uiCaptureForm(&root, "mask1"), &error), 0);

  // Generated and built with CMake.
  QString log;
  ASSERT_EQ(StudioBuilder::buildNow(p, &log), 0) << log.toStdString();
  const std::string ids = ottest::readFile(p.path("mask1_generated.h").toStdString());
  const int valueId = idOf(ids, value->objectName().toStdString());
  const int sliderId = idOf(ids, slider->objectName().toStdString());
  ASSERT_GT(valueId, 0) << ids;
  ASSERT_GT(sliderId, 0) << ids;
  const int typedId = idOf(ids, typed->objectName().toStdString());
  const int toggleId = idOf(ids, toggle->objectName().toStdString());

  // The Qt Designer file as a project of its own, built by hxstudio -build.
  StudioProject q;
  ASSERT_EQ(StudioProject::create(QString::fromStdString(dir.file("designer")), &q, &error), 0);
  // Laid out and saved by Qt Designer's own form editor with the otkit plug-in.
  Process designer;
  ASSERT_TRUE(designer.start(dir.path(), HX_DESIGNER_PLANT, {q.path("mask1.ui").toStdString()},
                             dir.file("designer_plant.log")));
  ASSERT_EQ(designer.exitStatus(60000), 0) << designer.log();
  ottest::writeFile(q.path("tags.txt").toStdString(), table.format());
  ottest::writeFile(q.path("demo.h").toStdString(), headerText);
  ottest::writeFile(q.path("tank.svg").toStdString(),
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"150\">\n"
                    "<rect x=\"10\" y=\"10\" width=\"180\" height=\"130\" fill=\"#3080e0\"/>\n"
                    "</svg>\n");
  Process studio;
  ASSERT_TRUE(studio.start(dir.path(), HXSTUDIO_PROGRAM, {"-build", q.folder.toStdString()},
                           dir.file("hxstudio.log")));
  ASSERT_EQ(studio.exitStatus(600000), 0) << studio.log();

  // The Designer mask runs: its Qwt widgets and drawing are defined, the label shows values.
  {
    const int port = ottest::freePort();
    Process server;
    ASSERT_TRUE(server.start(q.folder.toStdString(), q.path("build/designer").toStdString(),
                             {"-port=" + std::to_string(port), "-bind=127.0.0.1", "-shm=" + shm(),
                              "-mbx=" + mbx(), "-refresh=200"},
                             dir.file("designer.log")));
    ASSERT_TRUE(waitFor([&] { return server.log().find("serving on port") != std::string::npos; }))
        << server.log();
    Watcher w(port);
    ASSERT_TRUE(w.connected());
    const std::string dids = ottest::readFile(q.path("mask1_generated.h").toStdString());
    const int label = idOf(dids, "sine_value"), thermo = idOf(dids, "level");
    ASSERT_GT(label, 0) << dids;
    ASSERT_TRUE(waitFor([&] { return w.syncs() >= 3; })) << server.log() << w.seen();
    std::string seen = w.seen();
    for (std::string expected :
         std::vector<std::string>{"QwtThermo(" + std::to_string(thermo) + ",0)", "QwtKnob(",
                                  "QDraw(", "gplaySVGsocket", "setFont(1,\"DejaVu Sans\",14,1,0)",
                                  "setBackgroundColor(" + std::to_string(label) + ",255,255,0)",
                                  "setRange(" + std::to_string(thermo) + ","})
      EXPECT_NE(seen.find(expected), std::string::npos) << expected << "\n" << seen;
    EXPECT_TRUE(waitFor([&] {
      return w.sawSince(0, "setEnabled(" + std::to_string(label) + ",1)") &&
             w.sawSince(0, "setFloat(" + std::to_string(thermo) + ",");
    })) << w.seen();

    // And in otclient: the yellow value label, and the drawing's tank where Designer put it.
    const std::string designerShots = dir.file("designer-shots");
    Process client;
    ASSERT_TRUE(startClient(&client, port, designerShots));
    ASSERT_TRUE(waitFor([&] { return screenshots(designerShots).size() >= 3; }, 30000))
        << client.log();
    const std::vector<std::string> all = screenshots(designerShots);
    QImage shot(QString::fromStdString(all[all.size() - 2]));
    const QRect yellow = boxOf(shot, QColor(255, 255, 0));
    const QRect tank = boxOf(shot, QColor(0x30, 0x80, 0xe0));
    ASSERT_FALSE(yellow.isEmpty()) << "the value label";
    ASSERT_FALSE(tank.isEmpty()) << "the tank of the drawing";
    EXPECT_NEAR(yellow.width(), 200, 2);
    EXPECT_NEAR(tank.left() - yellow.left(), 300, 4);
    EXPECT_NEAR(tank.top() - yellow.top(), 120, 4);
    if (const char* keep = getenv("OTKIT_DESIGNER_PICTURE"))
      shot.save(QString::fromLocal8Bit(keep));
    client.stop();
  }

  // The designed mask under otclient, and the operator's protocol client.
  const int port = ottest::freePort();
  Process server;
  ASSERT_TRUE(server.start(p.folder.toStdString(), p.path("build/plant").toStdString(),
                           {"-port=" + std::to_string(port), "-bind=127.0.0.1", "-shm=" + shm(),
                            "-mbx=" + mbx(), "-refresh=300"},
                           dir.file("server.log")));
  ASSERT_TRUE(waitFor([&] { return server.log().find("serving on port") != std::string::npos; }))
      << server.log();
  const std::string shots = dir.file("shots");
  Process client;
  ASSERT_TRUE(startClient(&client, port, shots));
  Watcher op(port);
  ASSERT_TRUE(op.connected());
  const std::string enabled = "setEnabled(" + std::to_string(valueId) + ",";
  ASSERT_TRUE(waitFor([&] { return op.sawSince(0, enabled + "1)"); })) << op.seen();

  // The slider's write reaches the simulator and comes back into the image.
  otModbusClient image(mbx().c_str(), shm().c_str(), header.size);
  const long holding = header.cycles[2].base;
  op.send("slider(" + std::to_string(sliderId) + ",700)\n");
  EXPECT_TRUE(waitFor([&] { return image.readShort(holding, 0) == 700; }))
      << "holding register 0 = " << image.readShort(holding, 0) << "\n"
      << server.log();
  // A line edit writes the number typed, and refuses other text; a button toggles a bit.
  op.send("text(" + std::to_string(typedId) + ",\"123\")\n");
  EXPECT_TRUE(waitFor([&] { return image.readShort(holding, 0) == 123; }));
  op.send("text(" + std::to_string(typedId) + ",\"12abc\")\n");
  EXPECT_TRUE(waitFor([&] { return op.sawSince(0, "12abc\\\" is not a number"); })) << op.seen();
  const long coils = header.cycles[3].base;
  const int coilBefore = image.readBit(coils, 0);
  op.send("QPushButton(" + std::to_string(toggleId) + ")\n");
  EXPECT_TRUE(waitFor([&] { return image.readBit(coils, 0) == !coilBefore; }));

  // Screenshots: the value label and the marker at their designed places (relative to each
  // other: the window's frame may move the mask).
  ASSERT_TRUE(waitFor([&] { return screenshots(shots).size() >= 4; }, 30000)) << client.log();
  std::vector<std::string> all = screenshots(shots);
  QImage shot(QString::fromStdString(all[all.size() - 2]));
  ASSERT_FALSE(shot.isNull());
  QRect yellow = boxOf(shot, QColor(255, 255, 0)), cyan = boxOf(shot, QColor(0, 255, 255));
  ASSERT_FALSE(yellow.isEmpty()) << "the value label";
  ASSERT_FALSE(cyan.isEmpty()) << "the marker label";
  EXPECT_NEAR(yellow.width(), 200, 2);
  EXPECT_NEAR(yellow.height(), 30, 2);
  EXPECT_NEAR(cyan.left() - yellow.left(), 0, 2);
  EXPECT_NEAR(cyan.top() - yellow.top(), 280, 2);
  if (const char* keep = getenv("OTKIT_STUDIO_PICTURE")) shot.save(QString::fromLocal8Bit(keep));

  // The plant goes away: the value is greyed and says how old it is.
  size_t before = op.size();
  sim.stop();
  EXPECT_TRUE(waitFor([&] {
    return op.sawSince(before, enabled + "0)") && op.sawSince(before, "(stale, ");
  })) << op.seen();
  client.stop();
  server.stop();
  EXPECT_NE(server.log().find("stopping"), std::string::npos) << server.log();
  EXPECT_EQ(server.log().find("Sanitizer"), std::string::npos) << server.log();
}

// Answers the next modal dialog of type T that shows up with answer(dialog).
template <class T>
void answerNext(std::function<void(T*)> answer) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, answer] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* d = qobject_cast<T*>(w);
      if (d == nullptr || !d->isVisible()) continue;
      timer->stop();
      timer->deleteLater();
      answer(d);
      return;
    }
  });
  timer->start(20);
}

// Sets a design widget's geometry, text, background and tag in the property dialog, as the
// user does; *offered receives the tags the dialog offered.
void setProperties(DesignSurface* s, QWidget* w, QRect g, const QString& text, QColor background,
                   const QString& tag, QStringList* offered) {
  answerNext<dlgProperty>([=](dlgProperty* d) {
    d->form->spinBoxX->setValue(g.x());
    d->form->spinBoxY->setValue(g.y());
    d->form->spinBoxW->setValue(g.width());
    d->form->spinBoxH->setValue(g.height());
    d->form->lineEditText->setText(text);
    d->form->spinBoxBgRed->setValue(background.red());
    d->form->spinBoxBgGreen->setValue(background.green());
    d->form->spinBoxBgBlue->setValue(background.blue());
    if (offered) {
      offered->clear();
      for (int i = 0; i < d->form->comboBoxTag->count(); i++)
        *offered << d->form->comboBoxTag->itemText(i);
    }
    if (!tag.isEmpty()) d->form->comboBoxTag->setCurrentText(tag);
    d->slotOk();
  });
  s->editProperties(w);
}

// Runs a program in the otclient's X display (as xvfb-run left it in the file display).
int inDisplay(const std::string& dir, const std::string& display, const std::string& command) {
  std::string cmd = "cd " + hxtest::quote(dir) + " && . " + hxtest::quote(display) + " && " +
                    command + " >> xdotool.log 2>&1";
  int status = system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(StudioEndToEnd, FromADaemonDescriptionToARunningScreenInOneStudio) {
#ifdef OTKIT_SANITIZED
  GTEST_SKIP() << "the generated servers are built without the sanitizer runtime";
#endif
  setenv("PKG_CONFIG_PATH", HX_PKGCONFIG_DIR, 1);
  setenv("CXX", HX_CXX, 1);
  setenv("CXXFLAGS", HX_CXXFLAGS, 1);

  // The plant: holding register 0 of slave 1 holds 4321.
  ottest::writeFile(dir.file("init.txt"), "holding 0 4321 17\n");
  const int simPort = ottest::freePort();
  Process sim;
  ASSERT_TRUE(
      sim.start(dir.path(), std::string(OTKIT_TOOLS_DIR) + "/otmodbussim",
                {"-tcp=127.0.0.1:" + std::to_string(simPort), "-init=" + dir.file("init.txt")},
                dir.file("otmodbussim.log")));
  ASSERT_TRUE(waitFor([&] { return sim.log().find("listening") != std::string::npos; }))
      << sim.log();

  // A new project in the studio.
  const QString folder = QString::fromStdString(dir.file("road"));
  StudioProject project;
  QString error;
  ASSERT_EQ(StudioProject::create(folder, &project, &error), 0) << error.toStdString();
  StudioWindow w;
  ASSERT_EQ(w.openProject(folder, &error), 0) << error.toStdString();

  // The Modbus daemon, made in the dialog; its header's tags go to the table at once.
  {
    std::unique_ptr<dlgDaemon> d(w.daemonDialog(dlgDaemon::MODBUS));
    ASSERT_TRUE(d);
    d->show();
    d->form->textEdit->setPlainText(QString::fromStdString(
        paths() + "communication=socket\ntcpadr=127.0.0.1\ntcpport=" + std::to_string(simPort) +
        "\nbaudrate=400000\ncycle1 slave=1 function=3 start_adr=0 num_register=2\n"));
    QSignalSpy compiled(d.get(), &dlgDaemon::compiled);
    d->form->pushButtonClose->click();
    ASSERT_TRUE(!compiled.isEmpty() || compiled.wait(300000));
    ASSERT_EQ(d->result(), QDialog::Accepted) << d->output().toStdString();
  }
  ASSERT_GE(w.tagView()->model()->table().find("modbusdaemon_c1_0"), 0);
  ASSERT_TRUE(daemon.start(folder.toStdString(), (folder + "/modbusdaemon").toStdString(), {},
                           dir.file("daemon.log")));

  // Mask 1: a value bound to the daemon's register, a button; mask 2: a marker.
  Ui_DialogInsertWidget* kinds = w.inserter()->form;
  DesignSurface* s1 = w.surface(0);
  ASSERT_TRUE(s1);
  kinds->wLabel->setChecked(true);
  QWidget* value = s1->insertAt(QPoint(40, 40), false);
  ASSERT_TRUE(value);
  QStringList offered;
  setProperties(s1, value, QRect(40, 40, 200, 40), "", QColor(255, 255, 0), "modbusdaemon_c1_0",
                &offered);
  EXPECT_TRUE(offered.contains("modbusdaemon_c1_0")) << offered.join(' ').toStdString();
  kinds->wPushButton->setChecked(true);
  QWidget* button = s1->insertAt(QPoint(40, 200), false);
  ASSERT_TRUE(button);
  setProperties(s1, button, QRect(40, 200, 160, 50), "Next", QColor(0, 255, 255), "", nullptr);
  ASSERT_EQ(w.newMask(&error), 1) << error.toStdString();
  kinds->wLabel->setChecked(true);
  QWidget* marker = w.surface(1)->insertAt(QPoint(300, 300), false);
  ASSERT_TRUE(marker);
  setProperties(w.surface(1), marker, QRect(300, 300, 150, 60), "two", QColor(255, 0, 255), "",
                nullptr);

  // The button's event branch, pasted into mask 1's code, then pointed at mask 2.
  Editor* code = w.editor(0);
  ASSERT_TRUE(code);
  QTextCursor at = code->textEdit()->document()->find("  return 0;");
  ASSERT_FALSE(at.isNull()) << code->textEdit()->toPlainText().toStdString();
  at.movePosition(QTextCursor::StartOfBlock);
  code->textEdit()->setTextCursor(at);
  answerNext<dlgPasteWidget>([](dlgPasteWidget* d) {
    d->form->radioButtonEvent->setChecked(true);
    d->accept();
  });
  ASSERT_EQ(code->pasteWidgetName(button->objectName()), 0);
  code->insertText("\n");
  QTextCursor branch = code->textEdit()->document()->find("return 1; // call mask 1");
  ASSERT_FALSE(branch.isNull()) << code->textEdit()->toPlainText().toStdString();
  branch.insertText("return 2;  // the second mask");
  const QString text = code->textEdit()->toPlainText();
  ASSERT_NE(text.indexOf("if(id == " + button->objectName() + ")"), -1) << text.toStdString();

  // Run: saved, built, the server started with otclient under Xvfb.
  const std::string shots = dir.file("shots"), display = dir.file("display.sh");
  ASSERT_EQ(0, mkdir(shots.c_str(), 0700));
  // The studio starts the client program with -host= and -port=: here otclient under an Xvfb
  // of its own, in a session of its own that the studio's terminate ends whole.
  const std::string inner = dir.file("otclient-inner.sh"), client = dir.file("otclient.sh");
  ottest::writeFile(inner, "#!/bin/sh\necho \"export DISPLAY=$DISPLAY XAUTHORITY=$XAUTHORITY\" > " +
                               hxtest::quote(display) + "\nexec env QT_QPA_PLATFORM=xcb " +
                               hxtest::quote(OTCLIENT_PROGRAM) + " -shots=" + hxtest::quote(shots) +
                               " -shotevery=1 \"$@\"\n");
  ottest::writeFile(
      client,
      "#!/bin/sh\n[ \"$OTKIT_OWN_SESSION\" = 1 ] || OTKIT_OWN_SESSION=1 exec setsid \"$0\" "
      "\"$@\"\ntrap 'trap - TERM; kill 0' TERM\nxvfb-run -a -s '-screen 0 1024x768x24' " +
          hxtest::quote(inner) + " \"$@\" &\nwait $!\n");
  ASSERT_EQ(chmod(inner.c_str(), 0700), 0);
  ASSERT_EQ(chmod(client.c_str(), 0700), 0);
  w.setClientProgram(QString::fromStdString(client));
  bool built = false, builtOk = false;
  QString buildLog;
  QObject::connect(w.builder(), &StudioBuilder::finished,
                   [&](bool ok, const QVector<StudioBuildMessage>&, const QString& log) {
                     built = true;
                     builtOk = ok;
                     buildLog = log;
                   });
  w.slotRun();
  ASSERT_TRUE(waitFor(
      [&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return built;
      },
      600000));
  ASSERT_TRUE(builtOk) << buildLog.toStdString();
  auto said = [&](const QString& part) {
    for (int i = 0; i < w.messageList()->count(); i++)
      if (w.messageList()->item(i)->text().contains(part)) return true;
    return false;
  };
  ASSERT_TRUE(waitFor([&] {
    QCoreApplication::processEvents();
    return said("serving on port");
  })) << "the server did not start";
  ASSERT_TRUE(waitFor([&] {
    QCoreApplication::processEvents();
    return w.clientProcess() != nullptr && w.clientProcess()->processId() > 0;
  }));
  // The client's wrapper leads a session of its own: whatever happens, it all ends with the
  // test (the window's terminate ends it first when the test gets there).
  struct SessionGuard {
    pid_t leader;
    ~SessionGuard() { kill(-leader, SIGKILL); }
  } clientSession{(pid_t)w.clientProcess()->processId()};

  // The value, as every client gets it.
  const std::string ids = ottest::readFile((folder + "/mask1_generated.h").toStdString());
  const int valueId = idOf(ids, value->objectName().toStdString());
  ASSERT_GT(valueId, 0) << ids;
  Watcher op(w.serverPort());
  ASSERT_TRUE(op.connected());
  EXPECT_TRUE(waitFor([&] {
    return op.sawSince(0, "setText(" + std::to_string(valueId) + ",\"4321");
  })) << op.seen();

  // otclient shows mask 1 with the value's label and the button where they were laid out.
  auto shot = [&] {
    QCoreApplication::processEvents();
    std::vector<std::string> all = screenshots(shots);
    return all.size() < 2 ? QImage() : QImage(QString::fromStdString(all[all.size() - 2]));
  };
  QRect yellow, cyan;
  ASSERT_TRUE(waitFor(
      [&] {
        QImage img = shot();
        if (img.isNull()) return false;
        yellow = boxOf(img, QColor(255, 255, 0));
        cyan = boxOf(img, QColor(0, 255, 255));
        return !yellow.isEmpty() && !cyan.isEmpty();
      },
      60000))
      << screenshots(shots).size() << " screenshots";
  EXPECT_NEAR(yellow.width(), 200, 2);
  EXPECT_NEAR(cyan.top() - yellow.top(), 160, 2);
  const char* keep = getenv("OTKIT_STUDIO_ROAD_PICTURES");
  if (keep) shot().save(QString::fromLocal8Bit(keep) + "-mask1.png");

  // A click on the button in otclient runs the branch: the client shows mask 2.
  ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(QString::fromStdString(display)); }));
  ASSERT_EQ(inDisplay(dir.path(), display,
                      "xdotool search --sync --onlyvisible --classname otclient mousemove "
                      "--window %1 " +
                          std::to_string(cyan.center().x()) + " " +
                          std::to_string(cyan.center().y()) + " click 1"),
            0)
      << ottest::readFile(dir.file("xdotool.log"));
  QRect magenta;
  EXPECT_TRUE(waitFor(
      [&] {
        QImage img = shot();
        if (img.isNull()) return false;
        magenta = boxOf(img, QColor(255, 0, 255));
        return !magenta.isEmpty() && boxOf(img, QColor(0, 255, 255)).isEmpty();
      },
      30000))
      << ottest::readFile(dir.file("xdotool.log"));
  EXPECT_NEAR(magenta.width(), 150, 2);
  if (keep) shot().save(QString::fromLocal8Bit(keep) + "-mask2.png");
}

}  // namespace
