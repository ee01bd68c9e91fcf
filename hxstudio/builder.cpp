// Building a project's server with CMake, and reading what the compiler said.
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include "generator.h"
#include "generator_p.h"

namespace {

// The commands of a build: configure (when the build folder has no cache yet), then build.
QStringList configureArgs(const StudioProject& p) {
  QStringList args = {"-S", p.folder, "-B", p.path("build")};
  if (!QStandardPaths::findExecutable("ninja").isEmpty())
    args << "-G"
         << "Ninja";
  return args;
}

QStringList buildArgs(const StudioProject& p) {
  return {"--build", p.path("build")};
}

bool configured(const StudioProject& p) {
  return QFileInfo::exists(p.path("build/CMakeCache.txt"));
}

QString programOf(const StudioProject& p) {
  return p.path("build/" + studioProgramName(p));
}

}  // namespace

QString studioWarningLines(const QVector<StudioBuildMessage>& warnings) {
  QString out;
  for (const StudioBuildMessage& m : warnings)
    out += m.file + ": warning: " + m.text + "\n";
  return out;
}

QVector<StudioBuildMessage> studioParseBuildOutput(const QString& output) {
  static const QRegularExpression colour("\x1b\\[[0-9;]*[mK]");
  // file:line:column: severity: text, or file:line: severity: text
  static const QRegularExpression placed(
      "^(.+?):(\\d+):(?:(\\d+):)?\\s*(fatal error|error|warning|note):\\s*(.*)$");
  // tool: severity: text (the linker, collect2, cc1plus)
  static const QRegularExpression unplaced(
      "^([^:\\s][^:]*):\\s*(fatal error|error|warning):\\s*(.*)$");
  // file.cpp:(.text+0x1a): undefined reference to ...
  static const QRegularExpression linker("^(.+?):\\(\\.[^)]*\\):\\s*(.*)$");
  static const QRegularExpression ldPrefix("^(?:\\S*/)?ld: ");
  static const QRegularExpression cmake("^CMake (Error|Warning)(?: \\(dev\\))? at (.+?):(\\d+)");
  QVector<StudioBuildMessage> out;
  QStringList lines = QString(output).remove(colour).split('\n');
  for (int k = 0; k < lines.size(); k++) {
    QString l = lines[k];
    if (l.endsWith('\r')) l.chop(1);
    StudioBuildMessage m;
    QRegularExpressionMatch r;
    if ((r = cmake.match(l)).hasMatch()) {
      m.file = r.captured(2);
      m.line = r.captured(3).toInt();
      m.severity = r.captured(1) == "Error" ? "error" : "warning";
      // CMake gives its text on the indented lines that follow.
      QStringList text;
      while (k + 1 < lines.size() && (lines[k + 1].startsWith(' ') || lines[k + 1].isEmpty())) {
        QString t = lines[++k].trimmed();
        if (!t.isEmpty()) text << t;
        if (t.isEmpty() && !text.isEmpty()) break;
      }
      m.text = text.join(' ');
    } else if ((r = placed.match(l)).hasMatch()) {
      m.file = r.captured(1);
      m.line = r.captured(2).toInt();
      m.column = r.captured(3).toInt();
      m.severity = r.captured(4) == "fatal error" ? "error" : r.captured(4);
      m.text = r.captured(5);
    } else if ((r = linker.match(QString(l).remove(ldPrefix))).hasMatch() &&
               !r.captured(1).contains(' ')) {
      m.file = r.captured(1);
      m.severity = "error";
      m.text = r.captured(2);
    } else if ((r = unplaced.match(l)).hasMatch()) {
      // A program's name is no place in the sources.
      m.severity = r.captured(2) == "fatal error" ? "error" : r.captured(2);
      m.text = r.captured(3);
    } else {
      continue;
    }
    out << m;
  }
  return out;
}

StudioBuilder::StudioBuilder(QObject* parent) : QObject(parent) {}

StudioBuilder::~StudioBuilder() {
  if (process_ != nullptr) {
    process_->disconnect(this);
    process_->kill();
    process_->waitForFinished(5000);
  }
}

bool StudioBuilder::running() const {
  return process_ != nullptr;
}

bool StudioBuilder::build(const StudioProject& p) {
  if (running()) return false;
  project_ = p;
  program_.clear();
  log_.clear();
  QString error;
  QVector<StudioBuildMessage> warnings;
  if (studioGenerate(p, &error, &warnings) != 0) {
    log_ = "generation failed: " + error + "\n";
    emit finished(false, {}, log_);
    return false;
  }
  // In the log as a compiler words them, so that they join the build's messages.
  log_ = studioWarningLines(warnings);
  stage_ = configured(p) ? 2 : 1;
  step();
  return true;
}

void StudioBuilder::step() {
  QStringList args = stage_ == 1 ? configureArgs(project_) : buildArgs(project_);
  process_ = new QProcess(this);
  process_->setProcessChannelMode(QProcess::MergedChannels);
  connect(process_, &QProcess::readyRead, this, [this] {
    QString text = QString::fromLocal8Bit(process_->readAll());
    log_ += text;
    emit output(text);
  });
  connect(process_, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
          [this](int code, QProcess::ExitStatus status) {
            QString rest = QString::fromLocal8Bit(process_->readAll());
            log_ += rest;
            if (!rest.isEmpty()) emit output(rest);
            process_->deleteLater();
            process_ = nullptr;
            bool ok = status == QProcess::NormalExit && code == 0;
            if (ok && stage_ == 1) {
              stage_ = 2;
              step();
              return;
            }
            if (ok) program_ = programOf(project_);
            emit finished(ok, studioParseBuildOutput(log_), log_);
          });
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    log_ += "cmake cannot be started: " + process_->errorString() + "\n";
    process_->deleteLater();
    process_ = nullptr;
    emit finished(false, {}, log_);
  });
  QString line = "cmake " + args.join(' ') + "\n";
  log_ += line;
  emit output(line);
  process_->start("cmake", args);
}

void StudioBuilder::cancel() {
  if (process_ == nullptr) return;
  process_->disconnect(this);
  process_->kill();
  process_->waitForFinished(5000);
  process_->deleteLater();
  process_ = nullptr;
  log_ += "cancelled\n";
  emit finished(false, studioParseBuildOutput(log_), log_);
}

int StudioBuilder::buildNow(const StudioProject& p, QString* log, int timeoutMs) {
  QString dummy;
  if (log == nullptr) log = &dummy;
  log->clear();
  QString error;
  QVector<StudioBuildMessage> warnings;
  if (studioGenerate(p, &error, &warnings) != 0) {
    *log = "generation failed: " + error + "\n";
    return -1;
  }
  *log = studioWarningLines(warnings);
  QDeadlineTimer deadline(timeoutMs);
  QVector<QStringList> steps;
  if (!configured(p)) steps << configureArgs(p);
  steps << buildArgs(p);
  for (const QStringList& args : steps) {
    *log += "cmake " + args.join(' ') + "\n";
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("cmake", args);
    if (!process.waitForStarted(30000)) {
      *log += "cmake cannot be started: " + process.errorString() + "\n";
      return -1;
    }
    while (!process.waitForFinished(200)) {
      *log += QString::fromLocal8Bit(process.readAll());
      if (process.state() == QProcess::NotRunning) break;
      if (deadline.hasExpired()) {
        process.kill();
        process.waitForFinished(5000);
        *log += "the build took too long\n";
        return -1;
      }
    }
    *log += QString::fromLocal8Bit(process.readAll());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return -1;
  }
  return 0;
}
