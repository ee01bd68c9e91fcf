// The find and replace dialog of the source editor: one occurrence at a time, forward from the
// cursor, with the question whether to go on from the top when nothing more is found. Find
// hides the replace fields; Replace shows them.
#ifndef HXSTUDIO_DLGSEARCHREPLACE_H
#define HXSTUDIO_DLGSEARCHREPLACE_H

#include <QDialog>

class Editor;
class Ui_DialogSearchReplace;

class dlgsearchreplace : public QDialog {
  Q_OBJECT
 public:
  explicit dlgsearchreplace(QWidget* parent = nullptr);
  ~dlgsearchreplace() override;
  // Keep e and show the dialog modally, for finding or for replacing. -1 for a null editor
  // (nothing is shown), else the dialog's result.
  int runFind(Editor* e);
  int runReplace(Editor* e);

  Ui_DialogSearchReplace* form;
  Editor* editor = nullptr;  // the editor searched, set by each run
  int found = 0;             // 1 after a successful find, 0 after a failed one

 public slots:
  // Selects the next occurrence of the find text after the cursor. Without one, asks whether
  // to go to the top: Yes searches again from there (and asks again when that fails too), No
  // leaves the cursor at the top and stops.
  void slotFindNext();
  // After a successful find: the match becomes the replace text (in the document only; the
  // clipboard stays as it was) and the next occurrence is searched. Otherwise only searches.
  void slotReplace();

 private:
  int run(Editor* e, bool replace);
};

#endif
