// The "Make a Daemon" dialog: edits the project file of one kind of acquisition daemon
// (".mkmodbus", ".mksiemens", ".mkppi"), generates the daemon's source and the header of its
// process image, and compiles the daemon against the installed otkit, with the compiler's
// output in a panel of the dialog.
//
// The generator runs in the studio's process and returns: a faulty description shows the
// generator's message in the panel and writes nothing. The compiler runs through QProcess
// with an argument list (no shell): ${CXX:-g++} ${CXXFLAGS} SOURCE -o PROGRAM
// $(pkg-config --cflags --libs otkit [otnodave]) -Wl,-rpath,LIBDIR ${LDFLAGS}, the variables
// taken from the environment. Header, source and program are written beside the project file.
#ifndef HXSTUDIO_DLGDAEMON_H
#define HXSTUDIO_DLGDAEMON_H

#include <QDialog>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>

class Ui_DialogDaemon;

class dlgDaemon : public QDialog {
  Q_OBJECT
 public:
  // The kinds, as the generators number them.
  enum Kind { PPI = 1, SIEMENS_TCP = 2, MODBUS = 3 };

  // Loads the default project file of the kind ("modbusdaemon.mkmodbus",
  // "siemensdaemon.mksiemens", "ppidaemon.mkppi") from folder, the current directory when
  // folder is empty; a missing file shows the kind's template.
  explicit dlgDaemon(int daemonType, const QString& folder = QString(), QWidget* parent = nullptr);
  ~dlgDaemon() override;

  // Shows the dialog modally; returns an empty string.
  QString run();

  int daemonType() const { return daemonType_; }
  QString fileName() const { return fileName_; }
  // The kind's template, one line each, and its file extension without the dot.
  static QStringList templateLines(int daemonType);
  static QString extension(int daemonType);

  // Shows name: its text, or the template when it cannot be read; the editor is unmodified.
  void load(const QString& name);
  // Writes the editor's text to fileName(). 0, or -1 with the reason in *error; the file is
  // replaced whole or not at all.
  int save(QString* error = nullptr);
  // Generates header and source from fileName(). 0, or -1 with the generator's message in
  // the panel; nothing is written for a faulty description.
  int generate();
  // The header written by the last good generate(), "" before.
  QString headerPath() const { return header_; }

  // True while the compiler runs.
  bool building() const { return process_ != nullptr; }
  // The program that the last compile made, "" when it failed or none ran.
  QString program() const { return builtProgram_; }
  // What the panel shows.
  QString output() const;

  // Asks for a file name (a new one when save is true); "" when the user cancels. Open and
  // New ask through QFileDialog unless a chooser is set (tests, scripted use).
  using Chooser = std::function<QString(bool save, const QString& caption, const QString& folder,
                                        const QString& filter)>;
  void setChooser(Chooser chooser) { chooser_ = std::move(chooser); }

  Ui_DialogDaemon* form;

 public slots:
  // Save, generate, then compile in the background.
  void slotCompile();
  // Save, generate and compile; the dialog is accepted once the daemon is built, and stays
  // open on the reason when a step fails.
  void slotClose();
  void slotOpen();
  void slotNew();

 signals:
  // A good generation wrote path (the tag table reads the header anew).
  void headerWritten(const QString& path);
  // The compiler ended: ok, and the program it made.
  void compiled(bool ok, const QString& program);

 public:
  void done(int r) override;

 private:
  void say(const QString& text, bool bad = false);
  void startCompile();
  void compileFinished(bool ok, const QString& why);
  void stopCompile();
  void setBusy(bool busy);
  void saveGenerateCompile(bool thenClose);

  int daemonType_;
  QString folder_;
  QString fileName_;
  Chooser chooser_;
  QString header_, source_, program_, builtProgram_;
  QProcess* process_ = nullptr;
  bool closeAfterBuild_ = false;
};

#endif
