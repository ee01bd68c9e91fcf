// The "Make a Daemon" dialog driven as a user drives it, offscreen: its form and templates,
// Open and New with their choosers answered or cancelled, a faulty description and a failed
// save reported in the dialog, the compile command as the compiler receives it; and for each
// kind a daemon made in the dialog (inside the studio's window for Modbus, its header going
// to the tag table) that runs against otmodbussim, the snap7 server or otppisim and fills its
// process image.
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <memory>

#include "daemontest.h"
#include "dlgdaemon.h"
#include "otmodbusclient.h"
#include "otppiclient.h"
#include "otsiemenstcpclient.h"
#include "qttestmain.h"
#include "snap7server.h"
#include "socatpair.h"
#include "studiowindow.h"
#include "tagtableview.h"
#include "ui_dlgdaemon.h"

namespace {

using hxtest::Process;
using hxtest::waitFor;

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

// A chooser that answers with the next of its answers ("" cancels) and notes what it was
// asked.
struct Chooser {
  QStringList answers;
  QStringList asked;  // "save|caption|folder|filter"
  void attach(dlgDaemon& d) {
    d.setChooser(
        [this](bool save, const QString& caption, const QString& folder, const QString& filter) {
          asked << QString("%1|%2|%3|%4").arg(save ? "save" : "open", caption, folder, filter);
          return answers.isEmpty() ? QString() : answers.takeFirst();
        });
  }
};

// Clicks b and waits for the compile it starts to end; false when none ended in time.
bool clickAndWait(dlgDaemon& d, QPushButton* b, int ms = 300000) {
  QSignalSpy spy(&d, &dlgDaemon::compiled);
  b->click();
  return !spy.isEmpty() || spy.wait(ms);
}

class DaemonDialog : public hxtest::GeneratedDaemon {
 protected:
  void SetUp() override {
    setenv("PKG_CONFIG_PATH", HX_PKGCONFIG_DIR, 1);
    setenv("CXX", HX_CXX, 1);
    setenv("CXXFLAGS", HX_CXXFLAGS, 1);
    unsetenv("LDFLAGS");
  }
  QString folder() const { return qs(dir.path()); }
  std::string file(const std::string& name) const { return dir.file(name); }
  std::string goodModbus(int port = 1) const {
    return paths() + "communication=socket\ntcpadr=127.0.0.1\ntcpport=" + std::to_string(port) +
           "\nbaudrate=400000\ncycle1 slave=1 function=3 start_adr=0 num_register=4\n";
  }
};

// ---- the form, the templates, Open, New, Cancel

TEST_F(DaemonDialog, FormAndTemplateOfEachKind) {
  struct {
    int kind;
    const char* title;
    const char* file;
    bool modbusOnly;
  } kinds[] = {{dlgDaemon::MODBUS, "hxstudio Make a Modbus Daemon", "modbusdaemon.mkmodbus", true},
               {dlgDaemon::SIEMENS_TCP, "hxstudio Make a SiemensTCP Daemon",
                "siemensdaemon.mksiemens", false},
               {dlgDaemon::PPI, "hxstudio Make a PPI Daemon", "ppidaemon.mkppi", false}};
  for (const auto& k : kinds) {
    dlgDaemon d(k.kind, folder());
    Ui_DialogDaemon* f = d.form;
    EXPECT_EQ(d.windowTitle(), k.title);
    EXPECT_EQ(d.size(), QSize(669, 513));
    EXPECT_EQ(f->labelFile->isVisibleTo(&d), k.modbusOnly) << k.title;
    EXPECT_EQ(f->pushButtonOpen->isVisibleTo(&d), k.modbusOnly) << k.title;
    EXPECT_TRUE(f->pushButtonNew->isVisibleTo(&d));
    EXPECT_FALSE(f->plainTextOutput->isVisibleTo(&d)) << "the panel shows once there is output";
    EXPECT_EQ(d.fileName(), qs(file(k.file)));
    if (k.modbusOnly) {
      EXPECT_EQ(f->labelFile->text(), d.fileName());
    }
    // A missing file shows the template, unmodified, and nothing is written until Compile.
    EXPECT_EQ(f->textEdit->toPlainText(), dlgDaemon::templateLines(k.kind).join('\n'));
    EXPECT_FALSE(f->textEdit->document()->isModified());
    EXPECT_FALSE(QFileInfo::exists(d.fileName()));
  }
  // Each template is a description its generator takes, with the blocks where they belong;
  // the Siemens and PPI files land beside their project file whatever the working directory.
  struct {
    int kind;
    const char* header;
    std::vector<std::pair<std::string, int>> defs;
  } layouts[] = {
      {dlgDaemon::MODBUS,
       "modbusdaemon.h",
       {{"modbusdaemon_CYCLE1_BASE", 0},
        {"modbusdaemon_CYCLE2_BASE", 1},
        {"modbusdaemon_CYCLE3_BASE", 2},
        {"modbusdaemon_CYCLE4_BASE", 8},
        {"modbusdaemon_CYCLE5_BASE", 14},
        {"modbusdaemon_CYCLE7_BASE", 16},
        {"modbusdaemon_LIFE_COUNTER_BASE", 17},
        {"modbusdaemon_WRITE_ERROR_COUNT_BASE", 21}}},
      {dlgDaemon::SIEMENS_TCP,
       "siemensdaemon.h",
       {{"siemensdaemon_CYCLE2_BASE", 8}, {"siemensdaemon_CYCLE3_BASE", 16}}},
      {dlgDaemon::PPI, "ppidaemon.h", {{"ppidaemon_CYCLE2_BASE", 64}}},
  };
  ottest::TempDir elsewhere;
  ottest::ScopedChdir cd(elsewhere.path());
  for (const auto& l : layouts) {
    dlgDaemon d(l.kind, folder());
    ASSERT_EQ(d.save(), 0);
    ASSERT_EQ(d.generate(), 0) << d.output().toStdString();
    EXPECT_EQ(d.headerPath(), qs(file(l.header)));
    defs = hxtest::readHeader(file(l.header));
    for (const auto& m : l.defs)
      EXPECT_EQ(def(m.first), m.second) << m.first;
    EXPECT_EQ(ottest::entryCount(elsewhere.path().c_str()), 0);
  }
}

TEST_F(DaemonDialog, OpenNewAndCancel) {
  ottest::writeFile(file("plant.mkmodbus"), goodModbus());
  dlgDaemon d(dlgDaemon::MODBUS, folder());
  const QString first = d.fileName();

  // Open loads the chosen file; a cancelled chooser keeps the file being edited.
  Chooser c;
  c.attach(d);
  c.answers << qs(file("plant.mkmodbus")) << ""
            << "";
  d.form->pushButtonOpen->click();
  EXPECT_EQ(c.asked.value(0), "open|Modbus - Open File|" + folder() + "|modbus (*.mkmodbus)");
  EXPECT_EQ(d.fileName(), qs(file("plant.mkmodbus")));
  EXPECT_EQ(d.form->labelFile->text(), d.fileName());
  EXPECT_EQ(d.form->textEdit->toPlainText().toStdString(), goodModbus());
  d.form->pushButtonOpen->click();
  EXPECT_EQ(d.fileName(), qs(file("plant.mkmodbus")));
  d.form->pushButtonNew->click();
  EXPECT_EQ(d.fileName(), qs(file("plant.mkmodbus")));
  EXPECT_EQ(d.form->textEdit->toPlainText().toStdString(), goodModbus());
  EXPECT_NE(d.fileName(), first);

  // New: a name without the extension gets it, and the template is shown.
  c.answers << qs(file("line2"));
  d.form->pushButtonNew->click();
  EXPECT_EQ(c.asked.value(3), "save|Modbus - New File|" + folder() + "|*.mkmodbus");
  EXPECT_EQ(d.fileName(), qs(file("line2.mkmodbus")));
  EXPECT_EQ(d.form->textEdit->toPlainText(),
            dlgDaemon::templateLines(dlgDaemon::MODBUS).join('\n'));

  // A Siemens dialog makes Siemens project files.
  dlgDaemon s(dlgDaemon::SIEMENS_TCP, folder());
  Chooser sc;
  sc.attach(s);
  sc.answers << qs(file("press"));
  s.form->pushButtonNew->click();
  EXPECT_EQ(sc.asked.value(0), "save|Siemens TCP - New File|" + folder() + "|*.mksiemens");
  EXPECT_EQ(s.fileName(), qs(file("press.mksiemens")));
  EXPECT_EQ(s.form->textEdit->toPlainText(),
            dlgDaemon::templateLines(dlgDaemon::SIEMENS_TCP).join('\n'));

  // Cancel closes without saving.
  d.show();
  d.form->textEdit->setPlainText("changed\n");
  d.form->pushButtonCancel->click();
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(d.result(), QDialog::Rejected);
  EXPECT_FALSE(QFileInfo::exists(d.fileName()));
  EXPECT_EQ(ottest::readFile(file("plant.mkmodbus")), goodModbus());
}

// ---- failures shown in the dialog

TEST_F(DaemonDialog, FaultyDescriptionShowsTheGeneratorsMessage) {
  StudioProject project;
  ASSERT_EQ(StudioProject::create(folder(), &project, nullptr), 0);
  StudioWindow w;
  QString why;
  ASSERT_EQ(w.openProject(folder(), &why), 0) << why.toStdString();
  std::unique_ptr<dlgDaemon> d(w.daemonDialog(dlgDaemon::MODBUS));
  ASSERT_TRUE(d);
  d->show();
  struct {
    std::string text, message;
  } faults[] = {
      {paths() + "communication=socket\ncycle1 slave=1 function=3 num_register=4\n",
       "parameter missing in: cycle1 slave=1 function=3 num_register=4"},
      {paths() + "cycle1 slave=1 function=3 start_adr=0 num_register=4\n",
       "undefined communication -> exit"},
  };
  for (const auto& f : faults) {
    d->form->textEdit->setPlainText(qs(f.text));
    QSignalSpy done(d.get(), &dlgDaemon::compiled);
    d->form->pushButtonClose->click();
    ASSERT_EQ(done.count(), 1);
    EXPECT_FALSE(done.first().at(0).toBool());
    EXPECT_NE(d->output().indexOf(qs(f.message)), -1) << d->output().toStdString();
    EXPECT_TRUE(d->form->plainTextOutput->isVisible());
    // The studio runs on, the dialog stays open on the reason, the saved text is the faulty
    // one and nothing was generated from it.
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(d->building());
    EXPECT_EQ(ottest::readFile(d->fileName().toStdString()), f.text);
    EXPECT_FALSE(QFileInfo::exists(qs(file("modbusdaemon.h"))));
    EXPECT_FALSE(QFileInfo::exists(qs(file("modbusdaemon.cpp"))));
  }
  EXPECT_TRUE(w.tagView()->model()->table().tags.empty());

  // Without a project the menu entry says why it opens nothing.
  StudioWindow empty;
  QStringList entries;
  for (QAction* a : empty.menuBar()->actions())
    if (a->text() == "&Daemons")
      for (QAction* e : a->menu()->actions())
        entries << e->text();
  EXPECT_EQ(entries, QStringList({"Modbus...", "Siemens TCP...", "PPI..."}));
  EXPECT_EQ(empty.daemonDialog(dlgDaemon::MODBUS), nullptr);
}

// Runs f with the file permissions of an ordinary user (the file system uid of this thread),
// so that read-only files and folders refuse writes even when the test runs as root.
template <class F>
void asOrdinaryUser(F f) {
  int old = setfsuid(geteuid() == 0 ? 65534 : geteuid());
  f();
  setfsuid(old);
}

TEST_F(DaemonDialog, FailedSaveIsReportedAndTheOldFileIsNotCompiled) {
  const std::string old = goodModbus();
  ottest::writeFile(file("modbusdaemon.mkmodbus"), old);
  dlgDaemon d(dlgDaemon::MODBUS, folder());
  d.show();
  ASSERT_EQ(d.form->textEdit->toPlainText().toStdString(), old);
  d.form->textEdit->appendPlainText("# changed");
  ASSERT_EQ(chmod(file("modbusdaemon.mkmodbus").c_str(), 0444), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
  QSignalSpy done(&d, &dlgDaemon::compiled);
  asOrdinaryUser([&] { d.form->pushButtonClose->click(); });
  chmod(dir.path().c_str(), 0700);
  ASSERT_EQ(done.count(), 1);
  EXPECT_FALSE(done.first().at(0).toBool());
  EXPECT_NE(d.output().indexOf("modbusdaemon.mkmodbus is not saved"), -1)
      << d.output().toStdString();
  EXPECT_TRUE(d.isVisible());
  EXPECT_TRUE(d.form->textEdit->document()->isModified());
  EXPECT_EQ(ottest::readFile(file("modbusdaemon.mkmodbus")), old);
  EXPECT_FALSE(QFileInfo::exists(qs(file("modbusdaemon.h")))) << "the old file was generated";
  EXPECT_FALSE(d.building());

  // A file that cannot be read is not silently replaced by the template.
  ASSERT_EQ(chmod(file("modbusdaemon.mkmodbus").c_str(), 0), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  asOrdinaryUser([&] { d.load(qs(file("modbusdaemon.mkmodbus"))); });
  chmod(dir.path().c_str(), 0700);
  EXPECT_NE(d.output().indexOf("cannot be read"), -1) << d.output().toStdString();
}

// ---- the compile command

TEST_F(DaemonDialog, CompilerGetsTheFilesAsArgumentsAndItsOutputIsShown) {
  // A compiler that writes down its arguments, one a line, and makes the program.
  const std::string cc = file("cc.sh");
  ottest::writeFile(cc, "#!/bin/sh\nfor a; do printf '%s\\n' \"$a\"; done > " +
                            hxtest::quote(file("args.txt")) +
                            "\nwhile [ $# -gt 0 ]; do\n"
                            "  if [ \"$1\" = -o ]; then : > \"$2\"; chmod +x \"$2\"; fi\n"
                            "  shift\ndone\necho compiled by the test\n");
  ASSERT_EQ(chmod(cc.c_str(), 0700), 0);
  setenv("CXX", cc.c_str(), 1);
  setenv("CXXFLAGS", "-O0 '-DNAME=a b'", 1);
  setenv("LDFLAGS", "-Wl,--as-needed", 1);

  dlgDaemon d(dlgDaemon::MODBUS, folder());
  const std::string stem = file("it's $(touch pwned) `touch pwned2`;x");
  Chooser c;
  c.attach(d);
  c.answers << qs(stem + ".mkmodbus");
  d.form->pushButtonNew->click();
  ASSERT_EQ(d.fileName().toStdString(), stem + ".mkmodbus");
  d.form->textEdit->setPlainText(qs("target=plant\n" + goodModbus()));
  ASSERT_TRUE(clickAndWait(d, d.form->pushButtonCompile)) << d.output().toStdString();
  EXPECT_EQ(d.program().toStdString(), stem);
  EXPECT_NE(d.output().indexOf("compiled by the test"), -1) << d.output().toStdString();

  std::vector<std::string> args;
  std::istringstream in(ottest::readFile(file("args.txt")));
  for (std::string a; std::getline(in, a);)
    args.push_back(a);
  ASSERT_GE(args.size(), 6u) << ottest::readFile(file("args.txt"));
  EXPECT_EQ(args[0], "-O0");
  EXPECT_EQ(args[1], "-DNAME=a b");
  EXPECT_EQ(args[2], stem + ".cpp");
  EXPECT_EQ(args[3], "-o");
  EXPECT_EQ(args[4], stem);
  EXPECT_EQ(args.back(), "-Wl,--as-needed");
  auto has = [&](const std::string& prefix) {
    for (const std::string& a : args)
      if (a.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  };
  EXPECT_TRUE(has("-lotkit"));
  EXPECT_TRUE(has("-Wl,-rpath,"));
  EXPECT_FALSE(has("-lotnodave")) << "only the PPI daemon needs libnodave";
  EXPECT_FALSE(QFileInfo::exists(qs(file("pwned"))));
  EXPECT_FALSE(QFileInfo::exists(qs(file("pwned2"))));
  EXPECT_FALSE(QFileInfo::exists("pwned"));

  // The PPI daemon is linked against libnodave.
  dlgDaemon ppi(dlgDaemon::PPI, folder());
  ASSERT_TRUE(clickAndWait(ppi, ppi.form->pushButtonCompile)) << ppi.output().toStdString();
  EXPECT_NE(ottest::readFile(file("args.txt")).find("-lotnodave"), std::string::npos);
  EXPECT_EQ(ppi.program(), qs(file("ppidaemon")));

  // A real compiler that fails: its message in the panel, the dialog stays open, no program.
  setenv("CXX", HX_CXX, 1);
  setenv("CXXFLAGS", "-include /nonexistent/otkit-test.h", 1);
  d.show();
  QSignalSpy done(&d, &dlgDaemon::compiled);
  ASSERT_TRUE(clickAndWait(d, d.form->pushButtonClose)) << d.output().toStdString();
  EXPECT_FALSE(done.first().at(0).toBool());
  EXPECT_NE(d.output().indexOf("/nonexistent/otkit-test.h"), -1) << d.output().toStdString();
  EXPECT_NE(d.output().indexOf("the compiler failed"), -1) << d.output().toStdString();
  EXPECT_TRUE(d.isVisible());
  EXPECT_TRUE(d.program().isEmpty());
}

// The header of a good generation reaches the tag table at once: the first time its proposed
// tags (which the property dialog then offers), later only the checks against the new layout.
TEST_F(DaemonDialog, GeneratedHeaderReachesTheTagTableAtOnce) {
  StudioProject project;
  ASSERT_EQ(StudioProject::create(folder(), &project, nullptr), 0);
  StudioWindow w;
  QString why;
  ASSERT_EQ(w.openProject(folder(), &why), 0) << why.toStdString();
  std::unique_ptr<dlgDaemon> d(w.daemonDialog(dlgDaemon::MODBUS));
  ASSERT_EQ(d->save(), 0);
  ASSERT_EQ(d->generate(), 0) << d->output().toStdString();
  const otTagTable& table = w.tagView()->model()->table();
  ASSERT_GE(table.find("modbusdaemon_c3_2"), 0) << table.format();
  EXPECT_EQ(table.tags[(size_t)table.find("modbusdaemon_c3_2")].header, "modbusdaemon.h");
  EXPECT_EQ(table.tags[(size_t)table.find("modbusdaemon_c1_2")].type, otTag::BIT);
  EXPECT_TRUE(w.tagView()->modified());
  // A renamed tag is not proposed again under its old name.
  QModelIndex name = w.tagView()->model()->index(table.find("modbusdaemon_c3_0"), 0);
  ASSERT_TRUE(w.tagView()->model()->setData(name, "setpoint"));

  // Made again with a shorter cycle 3: the table checks against the new header at once, keeps
  // its tags and says which no longer fit.
  std::unique_ptr<dlgDaemon> again(w.daemonDialog(dlgDaemon::MODBUS));
  const size_t tags = table.tags.size();
  QString text = again->form->textEdit->toPlainText();
  text.replace("cycle3 slave=3 function=3 start_adr=0 num_register=3",
               "cycle3 slave=3 function=3 start_adr=0 num_register=1");
  again->form->textEdit->setPlainText(text);
  QSignalSpy said(w.tagView(), &TagTableView::message);
  ASSERT_EQ(again->save(), 0);
  ASSERT_EQ(again->generate(), 0) << again->output().toStdString();
  EXPECT_EQ(table.tags.size(), tags);
  ASSERT_FALSE(said.isEmpty());
  const QString message = said.last().at(0).toString();
  EXPECT_NE(message.indexOf("modbusdaemon_c3_2"), -1) << message.toStdString();
  EXPECT_EQ(message.indexOf("setpoint"), -1) << message.toStdString();
  EXPECT_LT(table.find("modbusdaemon_c3_0"), 0);
  QString e;
  otTag t = table.tags[(size_t)table.find("setpoint")];
  t.name = "one_more";
  t.index = 1;
  EXPECT_EQ(w.tagView()->model()->addTag(t, &e), -1) << "checked against the old header";
  EXPECT_NE(e.indexOf("cycle"), -1) << e.toStdString();
}

// ---- daemons made in the dialog, against their peers

TEST_F(DaemonDialog, ModbusDaemonFromTheStudioFillsItsImageAndTheTagTable) {
#ifdef OTKIT_SANITIZED
  GTEST_SKIP() << "a slow test of the plain suite";
#endif
  // The project lives in the test's directory, which holds the image and mailbox names too.
  StudioProject project;
  ASSERT_EQ(StudioProject::create(folder(), &project, nullptr), 0);
  StudioWindow w;
  QString why;
  ASSERT_EQ(w.openProject(folder(), &why), 0) << why.toStdString();

  ottest::writeFile(file("init.txt"),
                    "holding 0 1234 5678 9\ninput 0 7 8 9\ncoil 0 1 0 1\ndiscrete 0 0 1 1\n");
  const int port = ottest::freePort();
  Process sim;
  ASSERT_TRUE(sim.start(dir.path(), std::string(OTKIT_TOOLS_DIR) + "/otmodbussim",
                        {"-tcp=127.0.0.1:" + std::to_string(port), "-init=" + file("init.txt")},
                        file("otmodbussim.log")));
  ASSERT_TRUE(waitFor([&] { return sim.log().find("listening") != std::string::npos; }))
      << sim.log();

  // The template with the peer's address: a later line overrides an earlier one.
  std::unique_ptr<dlgDaemon> d(w.daemonDialog(dlgDaemon::MODBUS));
  ASSERT_TRUE(d);
  d->show();
  d->form->textEdit->appendPlainText(
      qs(paths() + "tcpadr=127.0.0.1\ntcpport=" + std::to_string(port) + "\nbaudrate=400000"));
  ASSERT_TRUE(clickAndWait(*d, d->form->pushButtonClose)) << d->output().toStdString();
  ASSERT_EQ(d->result(), QDialog::Accepted) << d->output().toStdString();
  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(d->program(), qs(file("modbusdaemon")));

  // The new header's tags are in the table the property dialog offers.
  const otTagTable& table = w.tagView()->model()->table();
  ASSERT_GE(table.find("modbusdaemon_c3_2"), 0) << table.format();
  EXPECT_EQ(table.tags[(size_t)table.find("modbusdaemon_c3_2")].header, "modbusdaemon.h");
  EXPECT_GE(table.find("modbusdaemon_c1_2"), 0);
  EXPECT_TRUE(w.tagView()->modified());

  defs = hxtest::readHeader(file("modbusdaemon.h"));
  ASSERT_TRUE(daemon.start(dir.path(), file("modbusdaemon")));
  otModbusClient image(mbx().c_str(), shm().c_str(), def("modbusdaemon_SHARED_MEMORY_SIZE"));
  const int c1 = def("modbusdaemon_CYCLE1_BASE"), c2 = def("modbusdaemon_CYCLE2_BASE"),
            c3 = def("modbusdaemon_CYCLE3_BASE"), c4 = def("modbusdaemon_CYCLE4_BASE");
  ASSERT_TRUE(waitFor([&] {
    return image.readShort(c3, 0) == 1234 && image.readShort(c4, 2) == 9;
  })) << daemon.log()
      << sim.log();
  EXPECT_EQ(image.readShort(c3, 1), 5678);
  EXPECT_EQ(image.readShort(c4, 0), 7);
  EXPECT_EQ(image.readBit(c1, 0), 1);
  EXPECT_EQ(image.readBit(c1, 1), 0);
  EXPECT_EQ(image.readBit(c1, 2), 1);
  EXPECT_EQ(image.readBit(c2, 0), 0);
  EXPECT_EQ(image.readBit(c2, 1), 1);
}

TEST_F(DaemonDialog, SiemensDaemonOfAnyTargetAgainstSnap7) {
#ifdef OTKIT_SANITIZED
  GTEST_SKIP() << "a slow test of the plain suite";
#endif
  ottest::Snap7Server server;
  ASSERT_TRUE(server.ok()) << server.error();
  dlgDaemon d(dlgDaemon::SIEMENS_TCP, folder());
  d.form->textEdit->setPlainText(
      qs("target=press\n" + paths() + "idletime=10\n" +
         "slave=0 adr=127.0.0.1 type=S7_300 fetch_write=0 function=-1 rack_slot=-1 port=" +
         std::to_string(server.port()) +
         "\ncycle1 slave=0 org=ORG_DB dbnum=10 start=0 len=16\n"
         "cycle2 slave=0 org=ORG_M dbnum=0 start=0 len=8\n"));
  ASSERT_TRUE(clickAndWait(d, d.form->pushButtonCompile)) << d.output().toStdString();
  ASSERT_EQ(d.program(), qs(file("press"))) << d.output().toStdString();
  EXPECT_EQ(ottest::readFile(file("siemensdaemon.mksiemens")).compare(0, 13, "target=press\n"), 0);
  defs = hxtest::readHeader(file("press.h"));
  EXPECT_EQ(def("press_CYCLE2_BASE"), 16);
  ASSERT_TRUE(daemon.start(dir.path(), file("press")));
  otSiemensTCPClient image(mbx().c_str(), shm().c_str(), def("press_SHARED_MEMORY_SIZE"), 1);
  // DB10 holds the bytes 0..255.
  EXPECT_TRUE(waitFor([&] {
    image.read(0, 16);
    return image.UShort(0) == 0x0001 && image.UShort(7) == 0x0E0F;
  })) << daemon.log();
  int ok = 0;
  long age = -1;
  EXPECT_TRUE(waitFor([&] { return image.cycleStatus(2, &ok, &age) == 0 && ok == 1; }));
}

TEST_F(DaemonDialog, PpiDaemonOfAnyTargetAgainstTheSimulator) {
#ifdef OTKIT_SANITIZED
  GTEST_SKIP() << "a slow test of the plain suite";
#endif
  ottest::SocatPair pair;
  ASSERT_EQ(pair.start(dir.path()), "");
  hxtest::PpiSimulator sim;
  ASSERT_TRUE(sim.start(dir, pair.b(), "-set=v:0:0x98,0x76,0x45,0x12 -set=v:127:0x5A"));
  // The template (V memory 0..127 of station 2) on the simulator's line.
  dlgDaemon d(dlgDaemon::PPI, folder());
  d.form->textEdit->appendPlainText(
      qs("target=kiln\n" + paths() + "tty=" + pair.a() + "\nidletime=20"));
  ASSERT_TRUE(clickAndWait(d, d.form->pushButtonCompile)) << d.output().toStdString();
  ASSERT_EQ(d.program(), qs(file("kiln"))) << d.output().toStdString();
  defs = hxtest::readHeader(file("kiln.h"));
  ASSERT_TRUE(daemon.start(dir.path(), file("kiln")));
  otPPIClient image(mbx().c_str(), shm().c_str(), def("kiln_SHARED_MEMORY_SIZE"), 1);
  EXPECT_TRUE(waitFor([&] {
    image.read(0, 128);
    return image.UDword(0) == 0x98764512u &&
           (image.otSharedMemory::readByte(127, 0) & 0xFF) == 0x5A;
  })) << daemon.log()
      << sim.log();
  sim.stop();
}

}  // namespace
