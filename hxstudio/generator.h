// The display server of a project, generated from its masks and tag table, and built.
//
// Generated files (rewritten on every run, never to be edited): "<mask>_generated.h" and
// "<mask>_generated.cpp" per mask (the ids enum named after the object names, the definition
// function with the hx constructor calls, the binding code of bound widgets, the event loop),
// "main_generated.cpp" (the server's main: the masks by number), "studio_generated.h" and
// "studio_generated.cpp" (the runtime every server carries: options, the tag image of each
// connection, the event loop, the binding code) and "CMakeLists.txt". The user's code lives in
// "<mask>_events.cpp", which the generator creates once and never touches again: its hooks
// onDefined, onEvent and onRefresh see the ids enum and the tag image (StudioMask).
//
// What bound widgets do: labels, line edits and text widgets show the value with its unit
// (greyed, with "(stale, N s)", when its cycle is stale), LCD numbers, progress bars, sliders,
// spin boxes, dials and the Qwt meters show it as their value, check boxes as their state.
// Slider, spin box, dial and Qwt knob, wheel, slider and counter value events write the value;
// a check box writes 1 or 0; a push button toggles a bit tag and writes 1 to any other; a line
// edit writes the number typed on Return (other text is refused with a status message). A
// widget that shows and writes, bound to a read-only tag, only shows it.
#ifndef HXSTUDIO_GENERATOR_H
#define HXSTUDIO_GENERATOR_H

#include <QMap>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>

#include "project.h"
#include "uiform.h"

class otTagTable;

// One compiler or linker complaint, or a generator's warning.
struct StudioBuildMessage {
  QString file;  // as the compiler names it; "" for a message without a place
  int line = 0;
  int column = 0;
  QString severity;  // "error", "warning", "note"
  QString text;
};

// The generated source of one mask: header and source text. 0, or -1 and *error (a widget
// bound to a tag that the table does not have, a kind without a constructor, two widgets of
// one name). maskNumber is the mask's number in the server (1 for mask1.ui). A widget the
// display client cannot show (a class it does not have, a widget in a layout of a Qt Designer
// form) is left out with a line in *warnings (when given); the rest is generated.
int studioGenerateMask(const UiForm& form, int maskNumber, const otTagTable& tags, QString* header,
                       QString* source, QString* error, QStringList* warnings = nullptr);
// The identifier of each generated widget id by object name, as studioGenerateMask names
// them (the mask itself first); empty for a form it refuses (two widgets of one name).
QMap<QString, QString> studioMaskIdentifiers(const UiForm& form);
// Generates every file of the project into its folder (files whose text did not change are
// left alone, so a build redoes only what changed). 0, or -1 and *error; the masks' warnings go
// to *warnings (file: the mask's path).
int studioGenerate(const StudioProject& p, QString* error,
                   QVector<StudioBuildMessage>* warnings = nullptr);
// Warnings as lines "file: warning: text", the form studioParseBuildOutput reads back.
QString studioWarningLines(const QVector<StudioBuildMessage>& warnings);
// The "file:line:column: severity: text" lines of compiler output.
QVector<StudioBuildMessage> studioParseBuildOutput(const QString& output);

// Configures and builds a project with CMake in "<folder>/build" through QProcess (argument
// lists, no shell). Asynchronous: finished() tells the outcome; build() returns at once.
class StudioBuilder : public QObject {
  Q_OBJECT
 public:
  explicit StudioBuilder(QObject* parent = nullptr);
  ~StudioBuilder() override;
  // Generates, configures (once) and builds. false when a build is running or generation
  // failed (finished is then emitted with the reason).
  bool build(const StudioProject& p);
  bool running() const;
  void cancel();
  // The server program after a good build.
  QString program() const { return program_; }
  // Builds synchronously (for -build): 0, or -1; the output goes to *log.
  static int buildNow(const StudioProject& p, QString* log, int timeoutMs = 600000);

 signals:
  void output(const QString& text);
  void finished(bool ok, const QVector<StudioBuildMessage>& messages, const QString& log);

 private:
  void step();
  QProcess* process_ = nullptr;
  StudioProject project_;
  QString program_, log_;
  int stage_ = 0;
};

#endif
