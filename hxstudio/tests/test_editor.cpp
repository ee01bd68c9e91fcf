// The source editor of a mask's code with its dialogs, driven offscreen as a user drives them:
// the paste-widget texts in the three languages, find and replace with the question at the
// end of the text, keys, compiler marks, saving, completion, and widget names dragged from
// the studio's tree or pasted from the design surface.
#include <stdlib.h>

#include <QApplication>
#include <QClipboard>
#include <QCompleter>
#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <functional>

#include "designsurface.h"
#include "dlgpastewidget.h"
#include "dlgsearchreplace.h"
#include "editor.h"
#include "functioncatalogue.h"
#include "qtlsan.h"
#include "studiokinds.h"
#include "studioopt.h"
#include "studiowindow.h"
#include "ui_dlgpastewidget.h"
#include "ui_dlgsearchreplace.h"
#include "uiform.h"

namespace {

// Runs act on the first visible top-level widget of type T, as soon as there is one.
template <typename T>
void whenShown(std::function<void(T*)> act, int tries = 500) {
  QTimer::singleShot(tries == 500 ? 0 : 10, [act, tries] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<T*>(w))
        if (d->isVisible()) {
          act(d);
          return;
        }
    if (tries > 0) whenShown<T>(act, tries - 1);
  });
}

// Answers the next paste dialog: checks radio and clicks Insert, or Cancel for a null radio.
void answerPaste(const QString& radio) {
  whenShown<dlgPasteWidget>([radio](dlgPasteWidget* d) {
    if (radio.isNull()) {
      d->form->pushButtonCancel->click();
      return;
    }
    d->findChild<QRadioButton*>(radio)->setChecked(true);
    d->form->pushButtonInsert->click();
  });
}

// Answers the find questions in turn; *asked counts them.
void answerQuestions(QVector<QMessageBox::StandardButton> answers, int* asked) {
  if (answers.isEmpty()) return;
  whenShown<QMessageBox>([answers, asked](QMessageBox* b) {
    QCOMPARE(b->windowTitle(), QString("hxstudio: find"));
    QCOMPARE(b->text(), QString("Goto top of file ?"));
    (*asked)++;
    QVector<QMessageBox::StandardButton> rest = answers.mid(1);
    b->button(answers[0])->click();
    answerQuestions(rest, asked);
  });
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

UiNode label(const QString& name, int y) {
  UiNode n;
  n.className = studioKindByTag("TQLabel:")->uiClass;
  n.name = name;
  n.setProperty(uiRect("geometry", QRect(10, y, 100, 30)));
  n.setProperty(uiString("statusTip", "TQLabel:"));
  return n;
}

// A project whose mask1 holds the labels "level" and "my label".
void makeProject(const QString& dir) {
  UiForm f;
  f.formClass = f.root.name = "mask1";
  f.root.className = "QWidget";
  f.root.setProperty(uiRect("geometry", QRect(0, 0, 400, 300)));
  f.root.children << label("level", 10) << label("my label", 50);
  QString error;
  QCOMPARE(uiSave(dir + "/mask1.ui", f, &error), 0);
  writeFile(dir + "/tags.txt", "");
}

StudioBuildMessage message(const QString& file, int line, const QString& severity,
                           const QString& text) {
  StudioBuildMessage m;
  m.file = file;
  m.line = line;
  m.column = 5;
  m.severity = severity;
  m.text = text;
  return m;
}

}  // namespace

class EditorTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { studioOpt.script = 0; }

  // ---- paste widget

  void pasteWidgetTexts_data() {
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("script");
    QTest::addColumn<QString>("text");
    const QString cpp = "mask1_events.cpp", py = "mask1.py";
    QTest::newRow("c++ name") << "radioButtonName" << cpp << 0 << "obj7";
    QTest::newRow("c++ printf") << "radioButtonPrintf" << cpp << 0
                                << "    hxPrintf(p,obj7,\"%d\",val);";
    QTest::newRow("c++ table") << "radioButtonTablePrintf" << cpp << 0
                               << "    hxTablePrintf(p,obj7,x,y,\"%d\",val);";
    QTest::newRow("c++ list view") << "radioButtonListViewPrintf" << cpp << 0
                                   << "    hxListViewPrintf(p,obj7,path,column,\"%d\",val);";
    QTest::newRow("c++ event") << "radioButtonEvent" << cpp << 0
                               << "  if(id == obj7)\n  {\n    return 1; // call mask 1\n  }";
    QTest::newRow("python name") << "radioButtonName" << py << 0 << "obj7";
    QTest::newRow("python printf")
        << "radioButtonPrintf" << py << 0 << "  hx.hxSetText(self.p, self.obj7,'text')";
    QTest::newRow("python table") << "radioButtonTablePrintf" << py << 0
                                  << "  hx.hxSetTableText(self.p, self.obj7, x, y, 'text')";
    QTest::newRow("python list view")
        << "radioButtonListViewPrintf" << py << 0
        << "  hx.hxSetListViewText(self.p, self.obj7, path, column, 'text')";
    QTest::newRow("python event") << "radioButtonEvent" << py << 0
                                  << "  if id == self.obj7:\n    return 1 # call mask 1";
    // A Python file is Python whatever the script option says.
    QTest::newRow("python over lua")
        << "radioButtonEvent"
        << "x.py.txt" << 5 << "  if id == self.obj7:\n    return 1 # call mask 1";
    QTest::newRow("lua name") << "radioButtonName" << cpp << 5 << "obj7";
    QTest::newRow("lua printf") << "radioButtonPrintf" << cpp << 5
                                << "  hx.hxSetText(p,obj7,\"text\")";
    QTest::newRow("lua table") << "radioButtonTablePrintf" << cpp << 5
                               << "  hx.hxSetTableText(p,obj7,x,y,\"text\")";
    QTest::newRow("lua list view") << "radioButtonListViewPrintf" << cpp << 5
                                   << "  hx.hxSetListViewText(p,obj7,path,column,\"text\")";
    QTest::newRow("lua event") << "radioButtonEvent" << cpp << 5
                               << "  if(id == obj7) then return 1 end -- call mask 1";
  }

  void pasteWidgetTexts() {
    QFETCH(QString, radio);
    QFETCH(QString, file);
    QFETCH(int, script);
    QFETCH(QString, text);
    studioOpt.script = script;
    dlgPasteWidget d;
    answerPaste(radio);
    QCOMPARE(d.run("obj7", &file), text);
    // Cancel gives nothing, whatever is checked.
    answerPaste(QString());
    QCOMPARE(d.run("obj7", &file), QString());
  }

  void pasteWidgetForm() {
    dlgPasteWidget d;
    QCOMPARE(d.windowTitle(), QString("Dialog"));
    const char* const radios[][2] = {{"radioButtonTablePrintf", "hxTablePrintf(...);"},
                                     {"radioButtonPrintf", "hxPrintf(...);"},
                                     {"radioButtonListViewPrintf", "hxListViewPrintf(...);"},
                                     {"radioButtonEvent", "if(id == name) {}"},
                                     {"radioButtonName", "name"}};
    for (const auto& r : radios) {
      auto* b = d.findChild<QRadioButton*>(r[0]);
      QVERIFY2(b, r[0]);
      QCOMPARE(b->text(), QString(r[1]));
    }
    QCOMPARE(d.form->pushButtonInsert->text(), QString("Insert"));
    QCOMPARE(d.form->pushButtonCancel->text(), QString("Cancel"));
  }

  // ---- find and replace

  void findAndWrap() {
    Editor e;
    e.textEdit()->setPlainText("alpha beta\nALPHA gamma\n");
    dlgsearchreplace d;
    d.editor = &e;
    d.form->lineEditFind->setText("alpha");
    d.slotFindNext();
    QCOMPARE(d.found, 1);
    QCOMPARE(e.textEdit()->textCursor().selectionStart(), 0);
    d.slotFindNext();
    QCOMPARE(e.textEdit()->textCursor().selectionStart(), 11);
    // Past the last match: Yes goes on from the top and finds the first again.
    int asked = 0;
    answerQuestions({QMessageBox::Yes}, &asked);
    d.slotFindNext();
    QCOMPARE(asked, 1);
    QCOMPARE(d.found, 1);
    QCOMPARE(e.textEdit()->textCursor().selectionStart(), 0);
    // No: the cursor at the top, nothing selected, no further search.
    d.form->lineEditFind->setText("delta");
    e.textEdit()->moveCursor(QTextCursor::End);
    answerQuestions({QMessageBox::No}, &asked);
    d.slotFindNext();
    QCOMPARE(asked, 2);
    QCOMPARE(d.found, 0);
    QCOMPARE(e.textEdit()->textCursor().position(), 0);
    QVERIFY(!e.textEdit()->textCursor().hasSelection());
    // Nothing anywhere: asked again after every wrap until the answer is No.
    answerQuestions({QMessageBox::Yes, QMessageBox::Yes, QMessageBox::No}, &asked);
    d.slotFindNext();
    QCOMPARE(asked, 5);
    QCOMPARE(d.found, 0);
  }

  void replaceKeepsTheClipboard() {
    Editor e;
    e.textEdit()->setPlainText("x = one + one;\n");
    QApplication::clipboard()->setText("the user's");
    dlgsearchreplace d;
    d.editor = &e;
    d.form->lineEditFind->setText("one");
    d.form->lineEditReplace->setText("two");
    // Before a successful find, Replace only searches.
    d.slotReplace();
    QCOMPARE(e.textEdit()->toPlainText(), QString("x = one + one;\n"));
    QCOMPARE(d.found, 1);
    QCOMPARE(e.textEdit()->textCursor().selectedText(), QString("one"));
    d.slotReplace();
    QCOMPARE(e.textEdit()->toPlainText(), QString("x = two + one;\n"));
    QCOMPARE(e.textEdit()->textCursor().selectionStart(), 10);  // the next one
    // A find text changed since the find replaces nothing: the selection is not its match.
    d.form->lineEditFind->setText("+");
    int asked = 0;
    answerQuestions({QMessageBox::No}, &asked);
    d.slotReplace();
    QCOMPARE(e.textEdit()->toPlainText(), QString("x = two + one;\n"));
    QCOMPARE(QApplication::clipboard()->text(), QString("the user's"));
    // One undo step per replacement.
    e.textEdit()->undo();
    QCOMPARE(e.textEdit()->toPlainText(), QString("x = one + one;\n"));
  }

  void findAndReplaceKeys() {
    Editor e;
    e.show();
    QVERIFY(QTest::qWaitForWindowExposed(&e));
    dlgsearchreplace* d = e.searchDialog();
    bool replaceShown = true;
    whenShown<dlgsearchreplace>([&](dlgsearchreplace* s) {
      replaceShown = s->form->replaceButton->isVisible() || s->form->lineEditReplace->isVisible();
      s->form->closeButton->click();
    });
    QTest::keyClick(e.textEdit(), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(!replaceShown);
    whenShown<dlgsearchreplace>([&](dlgsearchreplace* s) {
      replaceShown = s->form->replaceButton->isVisible() && s->form->labelReplace->isVisible();
      s->form->closeButton->click();
    });
    QTest::keyClick(e.textEdit(), Qt::Key_H, Qt::ControlModifier);
    QVERIFY(replaceShown);
    QCOMPARE(d->editor, &e);
    QCOMPARE(d->runFind(nullptr), -1);
  }

  // ---- the editor

  void keysIndentAndUndo() {
    Editor e;
    e.show();
    QPlainTextEdit* t = e.textEdit();
    t->setFocus();
    QTest::keyClicks(t, "if (a)");
    QTest::keyClick(t, Qt::Key_Return);
    QTest::keyClick(t, Qt::Key_Tab);
    QTest::keyClicks(t, "b();");
    QTest::keyClick(t, Qt::Key_Return);  // keeps the indentation
    QTest::keyClicks(t, "c();");
    QCOMPARE(t->toPlainText(), QString("if (a)\n  b();\n  c();"));
    // The first two lines selected, up to the start of the third: the third is left alone.
    QTextCursor c(t->document());
    c.setPosition(t->document()->findBlockByNumber(2).position(), QTextCursor::KeepAnchor);
    t->setTextCursor(c);
    QTest::keyClick(t, Qt::Key_Tab);
    QCOMPARE(t->toPlainText(), QString("  if (a)\n    b();\n  c();"));
    QTest::keyClick(t, Qt::Key_Backtab);
    QTest::keyClick(t, Qt::Key_Backtab);
    QCOMPARE(t->toPlainText(), QString("if (a)\nb();\n  c();"));
    // Each indent is one undo step.
    QTest::keyClick(t, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(t->toPlainText(), QString("if (a)\n  b();\n  c();"));
    QTest::keyClick(t, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(t->toPlainText(), QString("if (a)\nb();\n  c();"));
  }

  void compilerMarks() {
    QTemporaryDir dir;
    const QString file = dir.filePath("mask1_events.cpp");
    QByteArray text;
    for (int i = 1; i <= 12; i++)
      text += "line " + QByteArray::number(i) + "\n";
    writeFile(file, text);
    Editor e;
    QString error;
    QCOMPARE(e.load(file, &error), 0);
    e.resize(500, 400);
    e.show();
    QVERIFY(QTest::qWaitForWindowExposed(&e));
    QVector<StudioBuildMessage> msgs = {
        message(file, 3, "error", "'foo' was not declared in this scope"),
        message("mask1_events.cpp", 5, "warning", "unused variable 'x'"),  // relative
        message("../" + QFileInfo(dir.path()).fileName() + "/mask1_events.cpp", 7, "warning",
                "first"),
        message(file, 7, "error", "second"),
        message(dir.filePath("mask1_generated.cpp"), 4, "error", "another file"),
        message(file, 6, "note", "a note marks nothing"),
        message(file, 99, "error", "past the end"),
    };
    QCOMPARE(e.setBuildMessages(msgs, {dir.filePath("build"), dir.path()}), 3);
    QVector<Editor::Mark> m = e.marks();
    QCOMPARE(m.size(), 3);
    QCOMPARE(m[0].line, 3);
    QCOMPARE(m[0].severity, QString("error"));
    QCOMPARE(m[1].line, 5);
    QCOMPARE(m[1].severity, QString("warning"));
    QCOMPARE(m[2].severity, QString("error"));  // an error wins over the warning
    QCOMPARE(e.markText(7), QString("warning (column 5): first\nerror (column 5): second"));
    // The marks stay with their lines as lines are added above them.
    QTextCursor c(e.textEdit()->document());
    c.insertText("// new\n");
    QCOMPARE(e.marks()[0].line, 4);
    QCOMPARE(e.marks()[2].line, 8);
    // The line's background, its mark in the line numbers, and the message as the tool tip.
    QCoreApplication::processEvents();
    QTextBlock b = e.textEdit()->document()->findBlockByNumber(3);
    QRect r = e.textEdit()->cursorRect(QTextCursor(b));
    QImage text4 = e.textEdit()->viewport()->grab().toImage();
    QColor bg = text4.pixelColor(e.textEdit()->viewport()->width() - 3, r.center().y());
    QVERIFY2(bg.red() > 240 && bg.green() < 235, qPrintable(bg.name()));
    QWidget* area = e.findChild<QWidget*>("editorLineArea");
    QVERIFY(area);
    QImage numbers = area->grab().toImage();
    int red = 0;
    for (int x = 0; x < numbers.width(); x++) {
      QColor p = numbers.pixelColor(x, r.center().y() + e.textEdit()->viewport()->y());
      if (p.red() > 180 && p.green() < 80) red++;
    }
    QVERIFY(red > 0);
    QHelpEvent tip(QEvent::ToolTip, r.center(), e.textEdit()->viewport()->mapToGlobal(r.center()));
    QCoreApplication::sendEvent(e.textEdit()->viewport(), &tip);
    QCOMPARE(QToolTip::text(), QString("error (column 5): 'foo' was not declared in this scope"));
    e.clearMarks();
    QVERIFY(e.marks().isEmpty());
  }

  void savingKeepsTheBytes() {
    QTemporaryDir dir;
    Editor e;
    QString error;
    // A file not made yet shows the template and is not written until it is edited.
    const QString fresh = dir.filePath("fresh.cpp");
    QCOMPARE(e.load(fresh, &error, "// template\n"), 0);
    QCOMPARE(e.textEdit()->toPlainText(), QString("// template\n"));
    QVERIFY(!e.modified());
    QCOMPARE(e.save(&error), 0);
    QVERIFY(!QFileInfo::exists(fresh));
    // Line ends and non-breaking spaces come back as they were.
    const QString crlf = dir.filePath("crlf.cpp");
    const QByteArray bytes =
        "int a;\r\nconst char* s = \"a\xc2\xa0"
        "b\";\r\n";
    writeFile(crlf, bytes);
    QCOMPARE(e.load(crlf, &error), 0);
    e.textEdit()->moveCursor(QTextCursor::End);
    e.insertText("// x\n");
    QVERIFY(e.modified());
    QCOMPARE(e.save(&error), 0);
    QCOMPARE(readFile(crlf), bytes + "// x\r\n");
    QVERIFY(!e.modified());
    // A save that fails says so and leaves the editor modified.
    QCOMPARE(e.load(dir.filePath("gone/x.cpp"), &error), 0);
    e.insertText("x");
    QCOMPARE(e.save(&error), -1);
    QVERIFY(e.modified());
    // A file that is not UTF-8 is not opened, so no save can mangle it.
    const QString latin = dir.filePath("latin1.cpp");
    writeFile(latin, "// caf\xe9\n");
    QCOMPARE(e.load(latin, &error), -1);
    QVERIFY(error.contains("not UTF-8"));
    QVERIFY(e.textEdit()->isReadOnly());
    QCOMPARE(e.save(&error), -1);
    QCOMPARE(readFile(latin), QByteArray("// caf\xe9\n"));
  }

  void completion() {
    Editor e;
    // Until the catalogue is filled, a few calls of its shape.
    if (catalogueLeaves().isEmpty())
      e.setCompletionCalls({"hxSetGeometry(p,id,x,y,w,h);", "hxSetText(p,id,\"text\");",
                            "val = modbus.readBit(offset,number);",
                            "val = modbus.readByte(offset,number);"});
    e.show();
    QVERIFY(QTest::qWaitForWindowExposed(&e));
    QPlainTextEdit* t = e.textEdit();
    t->setFocus();
    QTest::keyClicks(t, "  hxSet");
    QTest::keyClick(t, Qt::Key_Space, Qt::ControlModifier);
    QCompleter* c = e.completer();
    QVERIFY(c->popup()->isVisible());
    QVERIFY(c->completionModel()->rowCount() > 1);
    // Typing on narrows the offer.
    QTest::keyClicks(c->popup(), "Ge");
    QCOMPARE(c->completionModel()->rowCount(), 1);
    QCOMPARE(c->completionModel()->index(0, 0).data().toString(),
             QString("hxSetGeometry(p,id,x,y,w,h);"));
    QTest::keyClick(c->popup(), Qt::Key_Return);
    QCOMPARE(t->toPlainText(), QString("  hxSetGeometry(p,id,x,y,w,h);"));
    // After other text the call alone goes in, without the catalogue's "val = ".
    QTest::keyClick(t, Qt::Key_Return);
    QTest::keyClicks(t, "int v = modbus.readBi");
    QTest::keyClick(t, Qt::Key_Space, Qt::ControlModifier);
    QVERIFY(c->popup()->isVisible());
    QTest::keyClick(c->popup(), Qt::Key_Return);
    QCOMPARE(t->document()->lastBlock().text(),
             QString("  int v = modbus.readBit(offset,number);"));
    QCOMPARE(editorCallKey("val = modbus.readBit(offset,number);"), QString("modbus.readBit"));
    QCOMPARE(editorCallKey("ppi.buf[0]&BIT0"), QString("ppi.buf"));
  }

  void highlighting() {
    QVector<EditorSpan> s;
    QCOMPARE(editorScanCpp("x = \"a // b\"; // c", 0, &s), 0);
    QCOMPARE(s.size(), 2);
    QCOMPARE(s[0].kind, EditorSpan::String);
    QCOMPARE(s[1].start, 14);
    QCOMPARE(s[1].kind, EditorSpan::Comment);
    s.clear();
    QCOMPARE(editorScanCpp("return hxSetText (p, 'x'); /* open", 0, &s), 1);
    QCOMPARE(s[0].kind, EditorSpan::Keyword);
    QCOMPARE(s[1].kind, EditorSpan::Call);
    QCOMPARE(s[2].kind, EditorSpan::String);
    QCOMPARE(s.last().kind, EditorSpan::Comment);
    s.clear();
    QCOMPARE(editorScanCpp("still */ int \"open", 1, &s), 0);
    QCOMPARE(s[0].length, 8);
    QCOMPARE(s.last().start + s.last().length, 18);  // the open literal ends with the line
  }

  // ---- in the studio

  void namesDroppedAndPasted() {
    QTemporaryDir dir;
    makeProject(dir.path());
    StudioWindow w;
    w.show();
    QString error;
    QCOMPARE(w.openProject(dir.path(), &error), 0);
    Editor* e = w.currentEditor();
    QVERIFY(e);
    QCOMPARE(e->fileName(), dir.filePath("mask1_events.cpp"));
    QVERIFY(e->textEdit()->toPlainText().contains("int onEvent(StudioMask& m"));
    QVERIFY(!w.modified());
    // A name dragged from the tree and dropped on a line goes in there, as the dialog says.
    w.refreshTree();
    QAbstractItemModel* model = w.widgetTree()->model();
    QModelIndex level = model->index(0, 0);
    QCOMPARE(level.data().toString(), QString("level"));
    QMimeData* mime = model->mimeData({level});
    QVERIFY(mime);
    QPlainTextEdit* t = e->textEdit();
    QTextBlock second = t->document()->findBlockByNumber(1);
    QPoint at = t->cursorRect(QTextCursor(second)).center();
    // As a drag ends: entered (the editor takes the name) and dropped.
    auto dropOn = [&](QMimeData* data) {
      QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(t->viewport(), &enter);
      QVERIFY(enter.isAccepted());
      QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
      QCoreApplication::sendEvent(t->viewport(), &drop);
      QVERIFY(drop.isAccepted());
      delete data;
    };
    answerPaste("radioButtonEvent");
    dropOn(mime);
    const QString branch = "  if(id == level)\n  {\n    return 1; // call mask 1\n  }";
    QTRY_VERIFY(t->document()->findBlockByNumber(1).text().startsWith("  if(id == level)"));
    QVERIFY(t->toPlainText().contains(branch));
    // A name that is no identifier goes in as the generated id's identifier.
    QCOMPARE(model->index(1, 0).data().toString(), QString("my label"));
    answerPaste("radioButtonName");
    dropOn(model->mimeData({model->index(1, 0)}));
    QTRY_COMPARE(t->document()->findBlockByNumber(1).text(), QString("my_label  if(id == level)"));
    // A widget copied on the surface and pasted into the code: its name, through the dialog;
    // cancelled, nothing.
    DesignSurface* s = w.currentSurface();
    s->setSelection({s->root()->findChild<QWidget*>("level")});
    QCOMPARE(s->copySelection(), 0);
    t->setFocus();
    t->moveCursor(QTextCursor::End);
    answerPaste("radioButtonPrintf");
    QTest::keyClick(t, Qt::Key_V, Qt::ControlModifier);
    QVERIFY(t->toPlainText().endsWith("    hxPrintf(p,level,\"%d\",val);"));
    const QString before = t->toPlainText();
    answerPaste(QString());
    QTest::keyClick(t, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(t->toPlainText(), before);
    // The edited code makes the mask changed, and saving writes it.
    QVERIFY(w.modified());
    QCOMPARE(w.saveAll(&error), 0);
    QVERIFY(!w.modified());
    QCOMPARE(QString::fromUtf8(readFile(dir.filePath("mask1_events.cpp"))), before);
  }

  void buildMessagesInTheEditor() {
    QTemporaryDir dir;
    makeProject(dir.path());
    QByteArray text;
    for (int i = 1; i <= 60; i++)
      text += "// " + QByteArray::number(i) + "\n";
    writeFile(dir.filePath("mask1_events.cpp"), text);
    StudioWindow w;
    QString error;
    QCOMPARE(w.openProject(dir.path(), &error), 0);
    emit w.builder()->finished(
        false,
        {message(dir.filePath("mask1_events.cpp"), 42, "error", "'foo' was not declared"),
         message("mask1_generated.cpp", 3, "error", "elsewhere")},
        "log");
    Editor* e = w.editor(0);
    QCOMPARE(e->marks().size(), 1);
    QCOMPARE(e->marks()[0].line, 42);
    QListWidget* list = w.messageList();
    QListWidgetItem* item = nullptr;
    for (int i = 0; i < list->count(); i++)
      if (list->item(i)->text().contains(":42:")) item = list->item(i);
    QVERIFY(item);
    emit list->itemActivated(item);
    QCOMPARE(e->currentLine(), 42);
  }
};

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (getenv("XDG_RUNTIME_DIR") == nullptr) {
    static char dir[] = "/tmp/otkit-xdg-XXXXXX";
    if (mkdtemp(dir) != nullptr) setenv("XDG_RUNTIME_DIR", dir, 1);
  }
  // The studio's options stay out of the user's configuration.
  QTemporaryDir config;
  setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
  QApplication app(argc, argv);
  EditorTest t;
  return QTest::qExec(&t, argc, argv);
}

#include "test_editor.moc"
