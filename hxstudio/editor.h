// The studio's source editor for a mask's own code ("<mask>_events.cpp"): line numbers, C++
// highlighting, undo and redo, indenting the selection (Tab, Shift+Tab), find (Ctrl+F) and
// replace (Ctrl+H), the build's errors and warnings marked at their lines, completion of the
// catalogue's calls (Ctrl+Space), and a widget's name dropped or pasted in through the
// paste-widget dialog. Saving goes through QSaveFile, so a failed save leaves the old file.
#ifndef HXSTUDIO_EDITOR_H
#define HXSTUDIO_EDITOR_H

#include <QString>
#include <QStringList>
#include <QTextCursor>
#include <QVector>
#include <QWidget>
#include <functional>

#include "generator.h"

class QCompleter;
class QMimeData;
class QPlainTextEdit;
class QStandardItemModel;
class dlgPasteWidget;
class dlgsearchreplace;
class EditorText;

// One coloured piece of a line of C++.
struct EditorSpan {
  enum Kind { Keyword, Call, String, Number, Comment, Preprocessor };
  int start;
  int length;
  Kind kind;
};
// Scans one line of C++ for highlighting. state: 1 when the line starts inside a block
// comment, else 0. Appends the spans in order, each inside the line and none overlapping;
// returns the state at the line's end. A "//" or "/*" inside a string or character literal
// starts no comment; a literal left open ends with its line. Calls are the server library's
// (hx..., g..., qpw..., qwt... followed by "(").
int editorScanCpp(const QString& line, int state, QVector<EditorSpan>* spans);

// The part of a catalogue leaf that completion matches against: the called name with its
// object ("hxSetText", "modbus.readBit" of "val = modbus.readBit(offset,number);").
QString editorCallKey(const QString& leaf);

// The widget name that a drag or the clipboard carries: a name dragged from the widget tree or
// the design surface, or the first widget of widgets copied on the surface. "" for none.
QString editorWidgetName(const QMimeData* mime);

class Editor : public QWidget {
  Q_OBJECT
 public:
  explicit Editor(QWidget* parent = nullptr);
  ~Editor() override;

  QPlainTextEdit* textEdit() const;

  // Reads file (UTF-8) into the editor; the undo history and the marks start afresh. A file
  // that does not exist yet shows fallback, unmodified, so that saving leaves it alone until
  // it is edited. 0, or -1 and *error: a file that cannot be read, is larger than 16 MiB or
  // is not UTF-8 text stays unopened (the editor is then empty and read-only, and never
  // writes over the file).
  int load(const QString& file, QString* error, const QString& fallback = QString());
  // Writes the text to the file atomically; an unmodified editor of an existing file writes
  // nothing. 0, or -1 and *error (the old file stays as it was).
  int save(QString* error);
  QString fileName() const { return file_; }
  bool modified() const;

  // Puts the cursor at the start of line (1 for the first), made visible.
  void gotoLine(int line);
  // The cursor's line (1 for the first).
  int currentLine() const;
  // Inserts text at the cursor in place of the selection, as one undo step.
  void insertText(const QString& text);
  // Indent or unindent the lines of the selection (or the cursor's line) by two spaces, as
  // one undo step; unindenting takes up to two leading spaces, or one tab.
  void indentSelection();
  void unindentSelection();

  // Marks the errors and warnings of msgs that name this editor's file (an absolute name, or
  // one relative to any of dirs), at their lines; the old marks go. The lines marked.
  int setBuildMessages(const QVector<StudioBuildMessage>& msgs, const QStringList& dirs = {});
  void clearMarks();
  struct Mark {
    int line;          // 1 for the first; follows the line as text is edited above it
    QString severity;  // "error" or "warning" (an error wins on a line that has both)
    QString text;      // the messages of the line, one a line: the line's tool tip
  };
  QVector<Mark> marks() const;
  // The tool tip of a line: its messages, or "".
  QString markText(int line) const;

  // Completion: the word before the cursor (letters, digits, '_' and '.') against the calls
  // of the catalogue (functionCatalogue()); the popup shows each call with its arguments and
  // the chosen one replaces the word. At the start of a line the whole statement goes in
  // (with "val = " where the catalogue has it), after other text only the call.
  void complete();
  QCompleter* completer() const { return completer_; }
  // The calls offered; by default the catalogue's leaves.
  void setCompletionCalls(const QVector<QString>& leaves);

  // Ctrl+F and Ctrl+H.
  void find();
  void replace();
  dlgsearchreplace* searchDialog() const { return search_; }
  dlgPasteWidget* pasteDialog() const { return paste_; }

  // C++ code names a widget by its id's identifier, which differs from the object name when
  // that is not an identifier: the map from one to the other (none: the name itself).
  void setIdentifierMapper(const std::function<QString(const QString&)>& f) { mapper_ = f; }
  // Asks the paste-widget dialog what to insert for name and inserts it at at (the cursor
  // when null). 0, or -1 when nothing was inserted (cancelled).
  int pasteWidgetName(const QString& name, const QTextCursor* at = nullptr);

 signals:
  void modificationChanged(bool modified);

 private:
  friend class EditorText;
  void insertCompletion(const QString& leaf);
  // The popup's calls for the word at the cursor: false (and the popup hidden) for none.
  bool refreshCompletion();
  void updateMarkSelections();

  EditorText* text_;
  QString file_;
  bool writable_ = true;
  bool crlf_ = false;  // the file's lines end in CR LF, and are written back so
  QCompleter* completer_;
  QStandardItemModel* calls_;
  bool callsSet_ = false;
  dlgsearchreplace* search_;
  dlgPasteWidget* paste_;
  std::function<QString(const QString&)> mapper_;
  struct MarkAt {
    QTextCursor at;  // the start of the line, moved along by edits
    QString severity;
    QStringList texts;
  };
  QVector<MarkAt> marks_;
};

#endif
