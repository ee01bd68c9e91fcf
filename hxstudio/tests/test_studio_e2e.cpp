// The studio end to end as real processes. A mask is designed through the dialogs (widgets
// inserted, their properties and a binding set), saved, the tag table made from the demo
// daemon's header, the server generated and built with CMake; then otmodbussim plays the
// plant, the generated daemon polls it, the generated server shows the mask to otclient under
// Xvfb (screenshots) and to a protocol client of the test's own, which moves the slider and
// sees the value greyed when the simulator stops. A mask written in Qt Designer's format, with
// Qwt classes and a placeholder, is built with hxstudio -build and runs too.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QComboBox>
#include <QFile>
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
#include "dlginsertwidget.h"
#include "dlgproperty.h"
#include "generator.h"
#include "hxtestutil.h"
#include "otmodbusclient.h"
#include "ottagtable.h"
#include "project.h"
#include "qttestmain.h"
#include "ui_dlginsertwidget.h"
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
  ottest::writeFile(q.path("mask1.ui").toStdString(),
                    ottest::readFile(HX_TEST_DATA "/designer_plant.ui"));
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
  ASSERT_EQ(0, mkdir(shots.c_str(), 0700));
  Process client;
  ASSERT_TRUE(client.start(
      dir.path(), "xvfb-run",
      {"-a", "-s", "-screen 0 1024x768x24", "env", "QT_QPA_PLATFORM=xcb", OTCLIENT_PROGRAM,
       "-shots=" + shots, "-shotevery=1", "127.0.0.1:" + std::to_string(port)},
      dir.file("otclient.log")));
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

}  // namespace
