#include "dlgdaemon.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>

#include "gdaemon.h"
#include "ui_dlgdaemon.h"

static_assert(int(dlgDaemon::PPI) == int(HX_DAEMON_PPI) &&
                  int(dlgDaemon::SIEMENS_TCP) == int(HX_DAEMON_SIEMENS_TCP) &&
                  int(dlgDaemon::MODBUS) == int(HX_DAEMON_MODBUS),
              "the dialog numbers the kinds as the generators do");

namespace {

struct KindText {
  const char* title;
  const char* defaultFile;
  const char* extension;
  const char* chooser;   // caption prefix of the file choosers
  const char* filter;    // of the open chooser
  const char* packages;  // pkg-config packages the daemon is compiled against
};

const KindText& kindText(int type) {
  static const KindText kinds[] = {
      {"hxstudio Make a PPI Daemon", "ppidaemon.mkppi", "mkppi", "PPI", "ppi (*.mkppi)",
       "otkit otnodave"},
      {"hxstudio Make a SiemensTCP Daemon", "siemensdaemon.mksiemens", "mksiemens", "Siemens TCP",
       "siemens (*.mksiemens)", "otkit"},
      {"hxstudio Make a Modbus Daemon", "modbusdaemon.mkmodbus", "mkmodbus", "Modbus",
       "modbus (*.mkmodbus)", "otkit"},
  };
  return kinds[type >= 1 && type <= 3 ? type - 1 : 2];
}

// A project file, a header or a source larger than this is no description.
const qint64 kMaxDescription = 16 << 20;
const int kPanelLines = 20000;

// Splits text into words as a shell would without expanding anything: blanks separate,
// quotes and backslashes keep (pkg-config escapes the blanks of its paths with backslashes).
QStringList shellWords(const QString& text) {
  QStringList words;
  QString word;
  bool inWord = false;
  QChar quote;
  for (int i = 0; i < text.size(); i++) {
    QChar c = text[i];
    if (!quote.isNull()) {
      if (c == quote) {
        quote = QChar();
      } else if (c == '\\' && quote == '"' && i + 1 < text.size() &&
                 QString("\"\\$`").contains(text[i + 1])) {
        word += text[++i];
      } else {
        word += c;
      }
    } else if (c == '\'' || c == '"') {
      quote = c;
      inWord = true;
    } else if (c == '\\' && i + 1 < text.size()) {
      word += text[++i];
      inWord = true;
    } else if (c.isSpace()) {
      if (inWord) words << word;
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words << word;
  return words;
}

// A word as the panel shows it, quoted when the shell would need it.
QString shown(const QString& word) {
  static const QString plain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./=+,:@%";
  bool quiet = !word.isEmpty();
  for (QChar c : word)
    if (!plain.contains(c)) quiet = false;
  if (quiet) return word;
  return "'" + QString(word).replace("'", "'\\''") + "'";
}

// Runs pkg-config with args and returns its words; false with *error when it fails.
bool pkgConfig(const QStringList& args, QStringList* words, QString* error) {
  QProcess p;
  p.start("pkg-config", args);
  if (!p.waitForStarted(10000)) {
    *error = "pkg-config does not start: " + p.errorString();
    return false;
  }
  p.closeWriteChannel();
  if (!p.waitForFinished(30000)) {
    p.kill();
    p.waitForFinished(3000);
    *error = "pkg-config does not answer";
    return false;
  }
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    *error = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
    return false;
  }
  *words = shellWords(QString::fromLocal8Bit(p.readAllStandardOutput()));
  return true;
}

bool writeWhole(const QString& path, const QByteArray& data, QString* error) {
  QSaveFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit()) {
    *error = f.errorString();
    return false;
  }
  return true;
}

}  // namespace

dlgDaemon::dlgDaemon(int daemonType, const QString& folder, QWidget* parent)
    : QDialog(parent),
      form(new Ui_DialogDaemon),
      daemonType_(daemonType >= PPI && daemonType <= MODBUS ? daemonType : MODBUS),
      folder_(QDir(folder.isEmpty() ? QDir::currentPath() : folder).absolutePath()) {
  form->setupUi(this);
  form->plainTextOutput->setMaximumBlockCount(kPanelLines);
  form->plainTextOutput->hide();
  connect(form->pushButtonCompile, &QPushButton::clicked, this, &dlgDaemon::slotCompile);
  connect(form->pushButtonClose, &QPushButton::clicked, this, &dlgDaemon::slotClose);
  connect(form->pushButtonOpen, &QPushButton::clicked, this, &dlgDaemon::slotOpen);
  connect(form->pushButtonNew, &QPushButton::clicked, this, &dlgDaemon::slotNew);
  // Return in the editor is a line break, never a click on a button.
  for (QPushButton* b : findChildren<QPushButton*>()) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  const KindText& k = kindText(daemonType_);
  setWindowTitle(k.title);
  form->labelFile->setVisible(daemonType_ == MODBUS);
  form->pushButtonOpen->setVisible(daemonType_ == MODBUS);
  load(QDir(folder_).filePath(k.defaultFile));
}

dlgDaemon::~dlgDaemon() {
  stopCompile();
  delete form;
}

QString dlgDaemon::run() {
  exec();
  return QString();
}

QString dlgDaemon::extension(int daemonType) {
  return kindText(daemonType).extension;
}

QStringList dlgDaemon::templateLines(int daemonType) {
  switch (daemonType) {
    case PPI:
      return {"############################################",
              "# Project file for generating ppi daemon   #",
              "# mkppi name.mkppi                         #",
              "############################################",
              "shared_memory=/srv/automation/shm/ppi.shm",
              "mailbox=/srv/automation/mbx/ppi.mbx",
              "tty=/dev/ttyS0",
              "baudrate=9600",
              "# daveSpeed9k | daveSpeed19k | daveSpeed187k | daveSpeed500k daveSpeed1500k | "
              "daveSpeed45k | daveSpeed93k",
              "dave_speed=daveSpeed187k",
              "idletime=50 milliseconds",
              "#eventlog host=localhost port=6000",
              "# area :=",
              "# daveSD",
              "# daveInputs",
              "# daveOutputs",
              "# daveFlags",
              "# daveDB         //data blocks",
              "# daveDI         //not tested",
              "# daveLocal      //not tested",
              "# daveV          //don't know what it is",
              "# daveCounter    //not tested",
              "# daveTimer      //not tested",
              "# cycle := area, dbnum, start, len",
              "cycle1 slave=2 area=daveDB dbnum=1 start=0  len=64",
              "cycle2 slave=2 area=daveDB dbnum=1 start=64 len=64"};
    case SIEMENS_TCP:
      return {"################################################",
              "# Project file for generating siemens daemon   #",
              "# mksiemens name.mksiemens                     #",
              "################################################",
              "shared_memory=/srv/automation/shm/siemens.shm",
              "mailbox=/srv/automation/mbx/siemens.mbx",
              "# type := S7_200 | S7_300 | S7_400 | S5 | S7_1200 | LOGO",
              "slave=0 adr=192.168.1.101 type=S7_200 fetch_write=1 function=-1 rack_slot=-1",
              "slave=1 adr=192.168.1.102 type=S7_200 fetch_write=0 function=-1 rack_slot=-1",
              "idletime=50 milliseconds",
              "#eventlog host=localhost port=6000",
              "# ORG := ORG_DB | ORG_M | ORG_E | ORG_A | ORG_PEPA | ORG_Z | ORG_T",
              "# cycle := slave + org + dbnum + start + len",
              "cycle1 slave=0 org=ORG_E  dbnum=0 start=0 len=8",
              "cycle2 slave=0 org=ORG_A  dbnum=0 start=0 len=8",
              "cycle3 slave=0 org=ORG_DB dbnum=0 start=0 len=32"};
    default:
      return {"############################################",
              "# Project file for generating modbusdaemon #",
              "# mkmodbus name.mkmodbus                   #",
              "############################################",
              "shared_memory=/srv/automation/shm/modbus.shm",
              "mailbox=/srv/automation/mbx/modbus.mbx",
              "#communication=serial",
              "tty=/dev/ttyS0",
              "baudrate=9600",
              "rtscts=1",
              "parity=0   # 0=NONE 1=ODD 2=EVEN",
              "protocol=0 # 0=RTU  1=ASCII",
              "communication=socket",
              "tcpadr=localhost",
              "tcpport=502",
              "#eventlog host=localhost port=6000",
              "# function := 1=ReadCoilStatus | 2=ReadInputStatus | 3=ReadHoldingRegisters | "
              "4=ReadInputRegisters",
              "#             1 coil per bit   | 1 input per bit   | 2 byte per register    | "
              "2byte per register",
              "cycle1 slave=1 function=1 start_adr=0 num_register=3",
              "cycle2 slave=2 function=2 start_adr=0 num_register=3",
              "cycle3 slave=3 function=3 start_adr=0 num_register=3",
              "cycle4 slave=4 function=4 start_adr=0 num_register=3",
              "cycle5 slave=5 function=2 start_adr=0 num_register=3",
              "cycle6 slave=6 function=2 start_adr=0 num_register=3",
              "cycle7 slave=7 function=2 start_adr=0 num_register=3"};
  }
}

void dlgDaemon::load(const QString& name) {
  fileName_ = name;
  header_.clear();
  QPlainTextEdit* e = form->textEdit;
  e->clear();
  form->labelFile->setText(fileName_);
  QFile f(name);
  if (QFileInfo(name).isFile() && f.open(QIODevice::ReadOnly) && f.size() <= kMaxDescription) {
    e->setPlainText(QString::fromUtf8(f.readAll()));
  } else {
    for (const QString& line : templateLines(daemonType_))
      e->appendPlainText(line);
    // Saving the template would replace a file that is there but cannot be read.
    if (QFileInfo::exists(name))
      say(QString("%1 cannot be read; the template is shown and Compile would replace the file")
              .arg(name),
          true);
  }
  e->document()->setModified(false);
}

int dlgDaemon::save(QString* error) {
  QString why;
  if (fileName_.isEmpty()) {
    why = "no file name";
  } else {
    QByteArray text = form->textEdit->toPlainText().toUtf8();
    if (writeWhole(fileName_, text, &why)) {
      form->textEdit->document()->setModified(false);
      return 0;
    }
  }
  if (error) *error = QString("%1 is not saved: %2").arg(fileName_, why);
  return -1;
}

int dlgDaemon::generate() {
  header_.clear();
  source_.clear();
  program_.clear();
  QFile f(fileName_);
  if (!QFileInfo(fileName_).isFile() || !f.open(QIODevice::ReadOnly) ||
      f.size() > kMaxDescription) {
    say(QString("could not open %1").arg(fileName_), true);
    return -1;
  }
  QByteArray text = f.readAll();
  f.close();
  hxDaemonFiles files;
  QByteArray path = QFile::encodeName(fileName_);
  int ret =
      hxGenerate(daemonType_, path.constData(), std::string(text.constData(), text.size()), &files);
  QString log = QString::fromLocal8Bit(files.log.c_str()).trimmed();
  if (!log.isEmpty()) say(log, ret != 0);
  if (ret != 0) return -1;
  // The Siemens TCP and PPI generators name their files by the target alone: they go beside
  // the project file, as the Modbus files do.
  QDir dir = QFileInfo(fileName_).absoluteDir();
  auto place = [&](const std::string& p) {
    return QDir::cleanPath(dir.absoluteFilePath(QFile::decodeName(p.c_str())));
  };
  QString header = place(files.headerPath), source = place(files.sourcePath);
  QString why;
  if (!writeWhole(header, QByteArray::fromStdString(files.header), &why)) {
    say(QString("could not write %1: %2").arg(header, why), true);
    return -1;
  }
  if (!writeWhole(source, QByteArray::fromStdString(files.source), &why)) {
    say(QString("could not write %1: %2").arg(source, why), true);
    return -1;
  }
  header_ = header;
  source_ = source;
  program_ = place(files.programName);
  say(QString("generated %1 and %2").arg(header, source));
  emit headerWritten(header_);
  return 0;
}

QString dlgDaemon::output() const {
  return form->plainTextOutput->toPlainText();
}

void dlgDaemon::say(const QString& text, bool bad) {
  QPlainTextEdit* out = form->plainTextOutput;
  out->show();
  if (bad) {
    out->appendHtml(QString("<span style=\"color:#b00000\">%1</span>")
                        .arg(text.toHtmlEscaped().replace("\n", "<br>")));
  } else {
    out->appendPlainText(text);
  }
  out->verticalScrollBar()->setValue(out->verticalScrollBar()->maximum());
}

void dlgDaemon::setBusy(bool busy) {
  for (QPushButton* b :
       {form->pushButtonCompile, form->pushButtonClose, form->pushButtonOpen, form->pushButtonNew})
    b->setEnabled(!busy);
  form->textEdit->setReadOnly(busy);
}

void dlgDaemon::saveGenerateCompile(bool thenClose) {
  if (building()) return;
  form->plainTextOutput->clear();
  builtProgram_.clear();
  QString why;
  // A file that could not be written is not compiled: what lies on disk is not what the user
  // sees.
  if (save(&why) != 0) {
    say(why, true);
    emit compiled(false, QString());
    return;
  }
  if (generate() != 0) {
    emit compiled(false, QString());
    return;
  }
  closeAfterBuild_ = thenClose;
  startCompile();
}

void dlgDaemon::slotCompile() {
  saveGenerateCompile(false);
}

void dlgDaemon::slotClose() {
  saveGenerateCompile(true);
}

void dlgDaemon::startCompile() {
  const KindText& k = kindText(daemonType_);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  QStringList flags, libdir;
  QString why;
  QStringList packages = QString(k.packages).split(' ');
  if (!pkgConfig(QStringList{"--cflags", "--libs"} + packages, &flags, &why) ||
      !pkgConfig({"--variable=libdir", "otkit"}, &libdir, &why)) {
    compileFinished(false, QString("pkg-config does not know %1 (%2); install otkit or set "
                                   "PKG_CONFIG_PATH to its lib/pkgconfig directory")
                               .arg(k.packages, why));
    return;
  }
  QStringList cxx = shellWords(env.value("CXX"));
  if (cxx.isEmpty()) cxx << "g++";
  QStringList args = cxx.mid(1) + shellWords(env.value("CXXFLAGS"));
  args << source_ << "-o" << program_ << flags;
  // The run path lets the daemon find the library wherever it is installed.
  if (!libdir.isEmpty()) args << "-Wl,-rpath," + libdir.first();
  args << shellWords(env.value("LDFLAGS"));

  QStringList line{shown(cxx.first())};
  for (const QString& a : args)
    line << shown(a);
  say(line.join(' '));

  process_ = new QProcess(this);
  process_->setProcessChannelMode(QProcess::MergedChannels);
  process_->setWorkingDirectory(QFileInfo(fileName_).absolutePath());
  connect(process_, &QProcess::readyRead, this, [this] {
    QPlainTextEdit* out = form->plainTextOutput;
    QString text = QString::fromLocal8Bit(process_->readAll());
    out->moveCursor(QTextCursor::End);
    out->insertPlainText(text);
    out->verticalScrollBar()->setValue(out->verticalScrollBar()->maximum());
  });
  connect(process_, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
          [this](int code, QProcess::ExitStatus status) {
            if (status != QProcess::NormalExit)
              compileFinished(false, "the compiler crashed");
            else if (code != 0)
              compileFinished(false, QString("the compiler failed (status %1)").arg(code));
            else
              compileFinished(true, QString());
          });
  connect(process_, &QProcess::errorOccurred, this, [this, cxx](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart)
      compileFinished(false,
                      QString("%1 does not start: %2").arg(cxx.first(), process_->errorString()));
  });
  setBusy(true);
  process_->start(cxx.first(), args);
}

void dlgDaemon::compileFinished(bool ok, const QString& why) {
  if (process_ != nullptr) {
    process_->disconnect(this);
    process_->deleteLater();
    process_ = nullptr;
  }
  setBusy(false);
  bool close = closeAfterBuild_;
  closeAfterBuild_ = false;
  if (ok && !QFileInfo(program_).isExecutable()) {
    ok = false;
    say(QString("the compiler made no %1").arg(program_), true);
  } else if (ok) {
    builtProgram_ = program_;
    say(QString("compiler_finished: %1").arg(program_));
  } else {
    say(why, true);
  }
  emit compiled(ok, builtProgram_);
  if (ok && close) accept();
}

void dlgDaemon::stopCompile() {
  if (process_ == nullptr) return;
  QProcess* p = process_;
  process_ = nullptr;
  p->disconnect(this);
  p->kill();
  p->waitForFinished(5000);
  delete p;
  setBusy(false);
}

void dlgDaemon::done(int r) {
  // Cancel, Escape and the window's close button end a compile under way.
  if (building()) {
    stopCompile();
    closeAfterBuild_ = false;
    say("compile cancelled", true);
  }
  QDialog::done(r);
}

void dlgDaemon::slotOpen() {
  const KindText& k = kindText(daemonType_);
  QString caption = QString("%1 - Open File").arg(k.chooser);
  QString name = chooser_ ? chooser_(false, caption, folder_, k.filter)
                          : QFileDialog::getOpenFileName(this, caption, folder_, k.filter);
  // A cancelled chooser leaves the file being edited as it was.
  if (name.isEmpty()) return;
  load(QDir::toNativeSeparators(name));
}

void dlgDaemon::slotNew() {
  const KindText& k = kindText(daemonType_);
  QString ext = QString(".") + k.extension;
  QString caption = QString("%1 - New File").arg(k.chooser);
  QString name = chooser_ ? chooser_(true, caption, folder_, "*" + ext)
                          : QFileDialog::getSaveFileName(this, caption, folder_, "*" + ext);
  if (name.isEmpty()) return;
  if (!name.contains(ext)) name += ext;
  load(QDir::toNativeSeparators(name));
}
