#include "dlgsearchreplace.h"

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

#include "editor.h"
#include "ui_dlgsearchreplace.h"

dlgsearchreplace::dlgsearchreplace(QWidget* parent)
    : QDialog(parent), form(new Ui_DialogSearchReplace) {
  form->setupUi(this);
  connect(form->findNextButton, &QPushButton::clicked, this, &dlgsearchreplace::slotFindNext);
  connect(form->replaceButton, &QPushButton::clicked, this, &dlgsearchreplace::slotReplace);
  connect(form->closeButton, &QPushButton::clicked, this, &QDialog::accept);
}

dlgsearchreplace::~dlgsearchreplace() {
  delete form;
}

int dlgsearchreplace::runFind(Editor* e) {
  return run(e, false);
}

int dlgsearchreplace::runReplace(Editor* e) {
  return run(e, true);
}

int dlgsearchreplace::run(Editor* e, bool replace) {
  if (e == nullptr) return -1;
  editor = e;
  found = 0;
  form->labelReplace->setVisible(replace);
  form->lineEditReplace->setVisible(replace);
  form->replaceButton->setVisible(replace);
  form->lineEditFind->setFocus();
  form->lineEditFind->selectAll();
  return exec();
}

void dlgsearchreplace::slotFindNext() {
  if (editor == nullptr) return;
  QPlainTextEdit* t = editor->textEdit();
  const QString what = form->lineEditFind->text();
  // Nothing can match an empty text: asking to go on from the top would ask for ever.
  if (what.isEmpty()) {
    found = 0;
    return;
  }
  for (;;) {
    if (t->find(what)) {
      found = 1;
      return;
    }
    found = 0;
    int answer = QMessageBox::question(this, "hxstudio: find", "Goto top of file ?",
                                       QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    QTextCursor c = t->textCursor();
    c.movePosition(QTextCursor::Start);
    t->setTextCursor(c);
    t->ensureCursorVisible();
    if (answer != QMessageBox::Yes) return;
  }
}

void dlgsearchreplace::slotReplace() {
  if (editor == nullptr) return;
  QPlainTextEdit* t = editor->textEdit();
  QTextCursor c = t->textCursor();
  // The selection must still be the match (the find text may have been changed since): only
  // then is it replaced, in one undo step.
  if (found == 1 && c.hasSelection() &&
      c.selectedText().compare(form->lineEditFind->text(), Qt::CaseInsensitive) == 0) {
    c.insertText(form->lineEditReplace->text());
    t->setTextCursor(c);
  }
  slotFindNext();
}
