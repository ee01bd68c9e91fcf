// The studio's main window and design surface driven as a user drives them: mouse and keys on
// the overlay, undo and redo of long random edit runs byte for byte, the journal of a studio
// killed mid-edit, the tag table, and Run/Stop of the server and client processes.
//
// Mouse events go through the window system layer, so they reach whatever widget lies on top
// at that point: the overlay, if the design widgets are to stay deaf to the mouse.
#define QTEST_QPA_MOUSE_HANDLING
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <stdio.h>
#include <sys/types.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBox>
#include <QAbstractButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QTreeWidget>
#include <QUndoStack>

#include "designsurface.h"
#include "dlginsertwidget.h"
#include "dlgproperty.h"
#include "journal.h"
#include "maskcommands.h"
#include "ottagtable.h"
#include "qtlsan.h"
#include "studiokinds.h"
#include "studioopt.h"
#include "studiowindow.h"
#include "tagtableview.h"
#include "test_studiowindow_chaos.h"
#include "uiform.h"
#include "uiwidgets.h"

namespace {

QString g_program;  // this test program, for the child runs

QWidget* named(DesignSurface* s, const QString& name) {
  QVector<QWidget*> all;
  std::function<void(QWidget*)> walk = [&](QWidget* w) {
    for (QWidget* c : uiDesignChildren(w)) {
      all << c;
      walk(c);
    }
  };
  walk(s->root());
  for (QWidget* w : all)
    if (w->objectName() == name) return w;
  return nullptr;
}

QStringList names(const QList<QWidget*>& ws) {
  QStringList out;
  for (QWidget* w : ws)
    out << w->objectName();
  return out;
}

// Three labels in a row, a bound one among them.
UiForm rowForm() {
  UiForm f;
  f.formClass = "mask1";
  f.root.className = "QWidget";
  f.root.name = "mask1";
  f.root.setProperty(uiRect("geometry", QRect(0, 0, 640, 480)));
  const QRect rects[] = {QRect(20, 20, 100, 30), QRect(200, 60, 60, 40), QRect(400, 100, 80, 20)};
  for (int i = 0; i < 3; i++) {
    UiNode n = chaosNode("QLabel", "TQLabel:", QString("obj%1").arg(i + 1), rects[i]);
    n.setProperty(uiString("text", QString("L%1").arg(i + 1)));
    f.root.children << n;
  }
  UiProperty bound = uiString(STUDIO_TAG_PROPERTY, "level0");
  bound.stdset = false;
  f.root.children[1].setProperty(bound);
  return f;
}

QByteArray sha(const QByteArray& text) {
  return QCryptographicHash::hash(text, QCryptographicHash::Sha1).toHex();
}

// Runs act on the next dialog of type T once it shows (it is to close it); gives up after
// some 5 s.
template <class T>
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

void writeText(const QString& path, const QByteArray& text) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(text);
}

// A project folder with the given masks and tag table text.
void makeProject(const QString& dir, const QVector<UiForm>& masks, const QByteArray& tags) {
  QDir().mkpath(dir);
  for (int i = 0; i < masks.size(); i++) {
    UiForm f = masks[i];
    f.formClass = f.root.name = QString("mask%1").arg(i + 1);
    QString error;
    QCOMPARE(uiSave(QString("%1/mask%2.ui").arg(dir).arg(i + 1), f, &error), 0);
  }
  writeText(dir + "/tags.txt", tags);
}

const char kTags[] =
    "# name header cycle index type scale offset unit write address\n"
    "level0 modbus.h 3 0 short 1 0 - - -\n"
    "level1 modbus.h 3 1 short 1 0 - - -\n"
    "level2 modbus.h 3 2 short 1 0 - - -\n"
    "coil0 modbus.h 1 0 bit 1 0 - - -\n";

}  // namespace

class StudioWindowTest : public QObject {
  Q_OBJECT

  dlgInsertWidget* inserter = nullptr;
  DesignSurface* surface = nullptr;
  QWidget* ov = nullptr;

  void openSurface(const UiForm& f) {
    delete surface;
    surface = new DesignSurface(inserter);
    surface->resize(800, 600);
    surface->load(f);
    surface->show();
    QVERIFY(QTest::qWaitForWindowExposed(surface));
    ov = surface->overlay();
  }
  QPoint at(const char* name, int dx = 5, int dy = 5) {
    QWidget* w = named(surface, name);
    return w ? w->mapTo(surface->root(), QPoint(dx, dy)) : QPoint(-1, -1);
  }
  QRect geo(const char* name) {
    QWidget* w = named(surface, name);
    return w ? w->geometry() : QRect();
  }

 private slots:
  void init() {
    studioOpt = StudioOptions();
    QApplication::clipboard()->clear();
    inserter = new dlgInsertWidget;
  }
  void cleanup() {
    delete surface;
    surface = nullptr;
    delete inserter;
    inserter = nullptr;
  }

  void mouseSelectsShiftTogglesBandCollects() {
    openSurface(rowForm());
    QTest::mouseClick(ov, Qt::LeftButton, Qt::NoModifier, at("obj1"));
    QCOMPARE(names(surface->selection()), QStringList({"obj1"}));
    QTest::mouseClick(ov, Qt::LeftButton, Qt::ShiftModifier, at("obj3"));
    QCOMPARE(names(surface->selection()), QStringList({"obj1", "obj3"}));
    QTest::mouseClick(ov, Qt::LeftButton, Qt::ShiftModifier, at("obj1"));
    QCOMPARE(names(surface->selection()), QStringList({"obj3"}));
    // A click on the bare root clears; a band from the root collects what it touches.
    QTest::mouseClick(ov, Qt::LeftButton, Qt::NoModifier, QPoint(300, 400));
    QVERIFY(surface->selection().isEmpty());
    QTest::mousePress(ov, Qt::LeftButton, Qt::NoModifier, QPoint(150, 5));
    QTest::mouseMove(ov, QPoint(300, 70));
    QTest::mouseMove(ov, QPoint(420, 110));
    QTest::mouseRelease(ov, Qt::LeftButton, Qt::NoModifier, QPoint(420, 110));
    QCOMPARE(names(surface->selection()), QStringList({"obj2", "obj3"}));
    // Nothing moved and nothing was recorded by selecting.
    QCOMPARE(surface->undoStack()->count(), 0);
    QCOMPARE(geo("obj2"), QRect(200, 60, 60, 40));
  }

  void designWidgetsNeverSeeTheMouse() {
    UiForm f = rowForm();
    f.root.children << chaosNode("QPushButton", "TQPushButton:", "obj9", QRect(20, 300, 100, 30));
    openSurface(f);
    auto* button = qobject_cast<QPushButton*>(named(surface, "obj9"));
    QVERIFY(button);
    int clicks = 0;
    connect(button, &QPushButton::clicked, [&] { clicks++; });
    QTest::mouseClick(ov, Qt::LeftButton, Qt::NoModifier, at("obj9"));
    QCOMPARE(clicks, 0);
    QCOMPARE(names(surface->selection()), QStringList({"obj9"}));
    // Nor the keys: focus that reaches a design widget goes to the overlay.
    UiNode edit = chaosNode("QLineEdit", "TQLineEdit:", "obj10", QRect(200, 300, 100, 30));
    QWidget* line = maskCreate(edit, surface->root(), -1);
    surface->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(surface));
    line->setFocus();
    QCOMPARE(QApplication::focusWidget(), ov);
    QTest::keyClicks(QApplication::focusWidget(), "abc");
    QCOMPARE(qobject_cast<QLineEdit*>(line)->text(), QString());
  }

  void arrowsMoveByGridShiftByPixel() {
    studioOpt.xGrid = 10;
    studioOpt.yGrid = 5;
    openSurface(rowForm());
    surface->setSelection({named(surface, "obj1"), named(surface, "obj2")});
    ov->setFocus();
    QTest::keyClick(ov, Qt::Key_Right);
    QTest::keyClick(ov, Qt::Key_Down);
    QCOMPARE(geo("obj1").topLeft(), QPoint(30, 25));
    QCOMPARE(geo("obj2").topLeft(), QPoint(210, 65));
    QTest::keyClick(ov, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClick(ov, Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(geo("obj1").topLeft(), QPoint(29, 24));
    QCOMPARE(surface->undoStack()->count(), 4);
    QCOMPARE(surface->undoStack()->undoText(), QString("Move 2 widgets"));
    surface->undoStack()->setIndex(0);
    QCOMPARE(geo("obj1").topLeft(), QPoint(20, 20));
    QCOMPARE(geo("obj2").topLeft(), QPoint(200, 60));
  }

  void zeroGridCountsAsOnePixel() {
    studioOpt.xGrid = 0;
    studioOpt.yGrid = -3;
    openSurface(rowForm());
    surface->setSelection({named(surface, "obj1")});
    QTest::keyClick(ov, Qt::Key_Right);
    QTest::keyClick(ov, Qt::Key_Down);
    QCOMPARE(geo("obj1").topLeft(), QPoint(21, 21));
    // Dragging snaps to that grid of one: the widget follows the mouse exactly.
    QTest::mousePress(ov, Qt::LeftButton, Qt::NoModifier, at("obj1"));
    QTest::mouseMove(ov, at("obj1") + QPoint(7, 3));
    QTest::mouseRelease(ov, Qt::LeftButton, Qt::NoModifier, at("obj1"));
    QCOMPARE(geo("obj1").topLeft(), QPoint(28, 24));
  }

  void dragMovesSnappedAsOneCommand() {
    openSurface(rowForm());
    surface->setSelection({named(surface, "obj2"), named(surface, "obj3")});
    QPoint p = at("obj2");
    QTest::mousePress(ov, Qt::LeftButton, Qt::NoModifier, p);
    QTest::mouseMove(ov, p + QPoint(10, 10));
    QTest::mouseMove(ov, p + QPoint(23, 36));
    QTest::mouseRelease(ov, Qt::LeftButton, Qt::NoModifier, p + QPoint(23, 36));
    // obj2 leads: 200 + 23 -> 220, 60 + 36 -> 100 on the grid of 10; obj3 keeps its distance.
    QCOMPARE(geo("obj2").topLeft(), QPoint(220, 100));
    QCOMPARE(geo("obj3").topLeft(), QPoint(420, 140));
    QCOMPARE(surface->undoStack()->count(), 1);
    QCOMPARE(surface->undoStack()->undoText(), QString("Move 2 widgets"));
  }

  void handlesResizeSnapped() {
    openSurface(rowForm());
    QTest::mouseClick(ov, Qt::LeftButton, Qt::NoModifier, at("obj2"));
    QWidget* w = named(surface, "obj2");
    QPoint br = surface->handleRect(w, DesignSurface::BottomRight).center();
    QTest::mousePress(ov, Qt::LeftButton, Qt::NoModifier, br);
    QTest::mouseMove(ov, br + QPoint(24, 13));
    QTest::mouseRelease(ov, Qt::LeftButton, Qt::NoModifier, br + QPoint(24, 13));
    QCOMPARE(geo("obj2"), QRect(200, 60, 80, 50));
    QPoint tl = surface->handleRect(w, DesignSurface::TopLeft).center();
    QTest::mousePress(ov, Qt::LeftButton, Qt::NoModifier, tl);
    QTest::mouseMove(ov, tl + QPoint(200, -14));  // past the right edge: one grid step stays
    QTest::mouseRelease(ov, Qt::LeftButton, Qt::NoModifier, tl + QPoint(200, -14));
    QCOMPARE(geo("obj2"), QRect(270, 50, 10, 60));
    QCOMPARE(surface->undoStack()->undoText(), QString("Resize obj2"));
    surface->undoStack()->setIndex(0);
    QCOMPARE(geo("obj2"), QRect(200, 60, 60, 40));
  }

  void alignSameSizeDistribute() {
    openSurface(rowForm());
    auto sel = [&] {
      surface->setSelection(
          {named(surface, "obj1"), named(surface, "obj2"), named(surface, "obj3")});
    };
    struct Case {
      DesignSurface::Align a;
      QPoint p1, p2, p3;
    } cases[] = {
        {DesignSurface::AlignLeft, {20, 20}, {20, 60}, {20, 100}},
        {DesignSurface::AlignRight, {380, 20}, {420, 60}, {400, 100}},
        {DesignSurface::AlignTop, {20, 20}, {200, 20}, {400, 20}},
        {DesignSurface::AlignBottom, {20, 90}, {200, 80}, {400, 100}},
        {DesignSurface::AlignHCenter, {200, 20}, {220, 60}, {210, 100}},
        {DesignSurface::AlignVCenter, {20, 55}, {200, 50}, {400, 60}},
    };
    for (const Case& c : cases) {
      sel();
      QCOMPARE(surface->alignSelection(c.a), 0);
      QCOMPARE(geo("obj1").topLeft(), c.p1);
      QCOMPARE(geo("obj2").topLeft(), c.p2);
      QCOMPARE(geo("obj3").topLeft(), c.p3);
      surface->undoStack()->undo();
    }
    // Same size follows the first selected.
    surface->setSelection({named(surface, "obj2"), named(surface, "obj1"), named(surface, "obj3")});
    QCOMPARE(surface->sameSize(DesignSurface::SameWidth), 0);
    QCOMPARE(geo("obj1").size(), QSize(60, 30));
    QCOMPARE(geo("obj3").size(), QSize(60, 20));
    QCOMPARE(surface->sameSize(DesignSurface::SameHeight), 0);
    QCOMPARE(geo("obj3").size(), QSize(60, 40));
    surface->undoStack()->setIndex(0);
    QCOMPARE(surface->sameSize(DesignSurface::SameSize), 0);
    QCOMPARE(geo("obj1").size(), QSize(60, 40));
    QCOMPARE(geo("obj3").size(), QSize(60, 40));
    surface->undoStack()->setIndex(0);
    // Distribute: 20..480 spans 460 with 240 of widgets: gaps of 110.
    sel();
    QCOMPARE(surface->distribute(Qt::Horizontal), 0);
    QCOMPARE(geo("obj1").x(), 20);
    QCOMPARE(geo("obj2").x(), 230);
    QCOMPARE(geo("obj3").x(), 400);
    // Vertically 20..120 with 90 of widgets: gaps of 5.
    QCOMPARE(surface->distribute(Qt::Vertical), 0);
    QCOMPARE(geo("obj1").y(), 20);
    QCOMPARE(geo("obj2").y(), 55);
    QCOMPARE(geo("obj3").y(), 100);
    // Two widgets cannot be distributed, one cannot be aligned.
    surface->setSelection({named(surface, "obj1"), named(surface, "obj2")});
    QCOMPARE(surface->distribute(Qt::Horizontal), -1);
    surface->setSelection({named(surface, "obj1")});
    QCOMPARE(surface->alignSelection(DesignSurface::AlignLeft), -1);
  }

  void zOrderIsTheFileOrder() {
    openSurface(rowForm());
    QByteArray start = surface->text();
    surface->setSelection({named(surface, "obj1")});
    QCOMPARE(surface->raiseSelection(), 0);
    QCOMPARE(surface->form().root.children.last().name, QString("obj1"));
    surface->setSelection({named(surface, "obj3"), named(surface, "obj1")});
    QCOMPARE(surface->lowerSelection(), 0);
    QStringList order;
    for (const UiNode& n : surface->form().root.children)
      order << n.name;
    // Lowered together, they keep their order among themselves.
    QCOMPARE(order, QStringList({"obj3", "obj1", "obj2"}));
    // The topmost widget takes the click where two overlap.
    named(surface, "obj1")->move(200, 60);
    QCOMPARE(surface->widgetAt(QPoint(205, 65))->objectName(), QString("obj2"));
    surface->undoStack()->setIndex(0);
    named(surface, "obj1")->move(20, 20);
    QCOMPARE(surface->text(), start);
  }

  void copyPasteGivesFreshNamesKeepsBindings() {
    openSurface(rowForm());
    surface->setSelection({named(surface, "obj1"), named(surface, "obj2")});
    QCOMPARE(surface->copySelection(), 0);
    QVERIFY(QApplication::clipboard()->mimeData()->hasFormat(STUDIO_WIDGETS_MIME));
    QCOMPARE(surface->paste(), 2);
    QCOMPARE(names(surface->selection()), QStringList({"obj4", "obj5"}));
    // From the same mask one grid step further on, the binding kept.
    QCOMPARE(geo("obj5"), QRect(210, 70, 60, 40));
    QCOMPARE(named(surface, "obj5")->property(STUDIO_TAG_PROPERTY).toString(), QString("level0"));
    QCOMPARE(surface->undoStack()->undoText(), QString("Paste 2 widgets"));
    // Into another mask that has an obj1 but no obj2: only the taken name changes, and the
    // widgets keep their places.
    DesignSurface other(inserter);
    UiForm f = rowForm();
    f.root.children.resize(1);
    other.load(f);
    QCOMPARE(other.paste(), 2);
    QCOMPARE(names(other.selection()), QStringList({"obj2", "obj3"}));
    QCOMPARE(other.root()->findChild<QWidget*>("obj2")->geometry(), QRect(20, 20, 100, 30));
    QCOMPARE(other.root()->findChild<QWidget*>("obj3")->geometry(), QRect(200, 60, 60, 40));
    // Names in a pasted container are made unique too.
    UiForm g = chaosStartForm();
    openSurface(g);
    surface->setSelection({named(surface, "obj6")});
    surface->copySelection();
    QCOMPARE(surface->paste(), 1);
    QSet<QString> seen;
    for (const UiNode& n : surface->form().root.children)
      uiForEach(n, [&](const UiNode& x) {
        QVERIFY2(!seen.contains(x.name), qPrintable(x.name));
        seen.insert(x.name);
      });
    QCOMPARE(seen.size(), 12);
  }

  void namesTakenTwiceInAFileAreMadeUnique() {
    UiForm f = rowForm();
    f.root.children[2].name = "obj1";
    f.root.children << chaosNode("QFrame", "TQFrame:", "", QRect(300, 300, 100, 100));
    f.root.children.last().children << chaosNode("QLabel", "TQLabel:", "obj2", QRect(5, 5, 50, 20));
    delete surface;
    surface = new DesignSurface(inserter);
    QString warnings;
    surface->load(f, &warnings);
    QStringList all;
    uiForEach(surface->form().root, [&](const UiNode& n) { all << n.name; });
    QCOMPARE(all, QStringList({"mask1", "obj1", "obj2", "obj3", "obj4", "obj5"}));
    QCOMPARE(warnings.count('\n'), 3);
    QVERIFY(surface->modified());
  }

  void pasteWithOffsetMovesBindings() {
    otTagTable tags;
    std::string error;
    QCOMPARE(tags.parse(kTags, &error), 0);
    UiForm f = rowForm();
    UiProperty b = uiString(STUDIO_TAG_PROPERTY, "level1");
    b.stdset = false;
    f.root.children[0].setProperty(b);
    b.text = "gone";
    f.root.children[2].setProperty(b);
    openSurface(f);
    surface->setTagTable(&tags);
    surface->selectAll();
    surface->copySelection();
    QStringList report;
    QCOMPARE(surface->paste(1, &report), 3);
    QList<QWidget*> pasted = surface->selection();
    QCOMPARE(pasted.size(), 3);
    // level1 -> level2, level0 -> level1; the tag behind level2 and an unknown tag are dropped.
    QCOMPARE(pasted[0]->property(STUDIO_TAG_PROPERTY).toString(), QString("level2"));
    QCOMPARE(pasted[1]->property(STUDIO_TAG_PROPERTY).toString(), QString("level1"));
    QVERIFY(!pasted[2]->property(STUDIO_TAG_PROPERTY).isValid());
    QCOMPARE(report.size(), 1);
    QVERIFY2(report[0].contains("gone"), qPrintable(report.join("|")));
    report.clear();
    QCOMPARE(surface->paste(2, &report), 3);
    QCOMPARE(surface->selection()[1]->property(STUDIO_TAG_PROPERTY).toString(), QString("level2"));
    QCOMPARE(report.size(), 2);
    QVERIFY2(report.join("|").contains("index 3 of cycle 3"), qPrintable(report.join("|")));
    // The type counts: a bit is never the neighbour of a short.
    UiNode n;
    n.name = "x";
    UiProperty c = uiString(STUDIO_TAG_PROPERTY, "coil0");
    c.stdset = false;
    n.setProperty(c);
    QCOMPARE(maskRetargetTags(&n, tags, 1, &report), 0);
    QVERIFY(n.property(STUDIO_TAG_PROPERTY) == nullptr);
  }

  void insertToolAndCtrlClick() {
    openSurface(rowForm());
    surface->setTool(DesignSurface::InsertTool);
    whenShown<dlgInsertWidget>([](dlgInsertWidget* d) {
      d->findChild<QRadioButton*>("wLineEdit")->setChecked(true);
      d->slotOk();
    });
    // Inside the frame-less bare root at (47, 233): snapped to (40, 230).
    QTest::mouseClick(ov, Qt::LeftButton, Qt::NoModifier, QPoint(47, 233));
    QWidget* a = named(surface, "obj4");
    QVERIFY(a);
    QCOMPARE(studioTagOf(a->statusTip()), QString("TQLineEdit:"));
    QCOMPARE(a->geometry(), QRect(40, 230, 100, 30));
    // Ctrl+click: the same kind, no dialog.
    QTest::mouseClick(ov, Qt::LeftButton, Qt::ControlModifier, QPoint(300, 300));
    QWidget* b = named(surface, "obj5");
    QVERIFY(b);
    QCOMPARE(studioTagOf(b->statusTip()), QString("TQLineEdit:"));
    QCOMPARE(surface->undoStack()->undoText(), QString("Insert obj5"));
    // Into a frame and a tab page: the container under the mouse, its own coordinates.
    openSurface(chaosStartForm());
    surface->setTool(DesignSurface::InsertTool);
    QTest::mouseClick(ov, Qt::LeftButton, Qt::ControlModifier, at("obj2", 120, 105));
    QWidget* inFrame = named(surface, "obj10");
    QVERIFY(inFrame);
    QCOMPARE(inFrame->parentWidget()->objectName(), QString("obj2"));
    QCOMPARE(inFrame->pos(), QPoint(120, 100));
    QWidget* page = named(surface, "obj4");
    QTest::mouseClick(ov, Qt::LeftButton, Qt::ControlModifier,
                      page->mapTo(surface->root(), QPoint(15, 15)));
    QWidget* inPage = named(surface, "obj11");
    QVERIFY(inPage);
    QCOMPARE(inPage->parentWidget(), page);
    // A click on a tab turns to its page, which then takes the next insert; the same for a
    // tool box's item.
    auto* tabs = qobject_cast<QTabWidget*>(named(surface, "obj6"));
    QRect tab2 = tabs->tabBar()->tabRect(1);
    QTest::mouseClick(ov, Qt::LeftButton, Qt::ControlModifier,
                      tabs->tabBar()->mapTo(surface->root(), tab2.center()));
    QCOMPARE(tabs->currentIndex(), 1);
    QCOMPARE(surface->undoStack()->count(), 2);
    QWidget* page2 = named(surface, "obj5");
    QTest::mouseClick(ov, Qt::LeftButton, Qt::ControlModifier,
                      page2->mapTo(surface->root(), QPoint(30, 30)));
    QVERIFY(named(surface, "obj12") && named(surface, "obj12")->parentWidget() == page2);
    auto* box = qobject_cast<QToolBox*>(named(surface, "obj9"));
    QVERIFY(box->currentIndex() == 0);
    surface->setTool(DesignSurface::SelectTool);
    QWidget* item2 = nullptr;
    for (QAbstractButton* button : box->findChildren<QAbstractButton*>())
      if (button->text() == "Item 2") item2 = button;
    QVERIFY(item2);
    QTest::mouseClick(ov, Qt::LeftButton, Qt::NoModifier,
                      item2->mapTo(surface->root(), item2->rect().center()));
    QCOMPARE(box->currentIndex(), 1);
    QCOMPARE(names(surface->selection()), QStringList({"obj9"}));
    // Undo and redo rebuild both where they were.
    QByteArray edited = surface->text();
    surface->undoStack()->setIndex(0);
    QVERIFY(!named(surface, "obj10") && !named(surface, "obj11") && !named(surface, "obj12"));
    surface->undoStack()->setIndex(3);
    QCOMPARE(surface->text(), edited);
  }

  void cancelledTitleInsertsNothing() {
    openSurface(rowForm());
    inserter->findChild<QRadioButton*>("wTabWidget")->setChecked(true);
    whenShown<QInputDialog>([](QInputDialog* d) { d->reject(); });
    QVERIFY(surface->insertAt(QPoint(300, 300), false) == nullptr);
    QCOMPARE(uiDesignChildren(surface->root()).size(), 3);
    QCOMPARE(surface->undoStack()->count(), 0);
    // A cancelled insert dialog does not insert either.
    whenShown<dlgInsertWidget>([](dlgInsertWidget* d) { d->slotCancel(); });
    QVERIFY(surface->insertAt(QPoint(300, 300), true) == nullptr);
    QCOMPARE(surface->undoStack()->count(), 0);
  }

  void propertyDialogIsOneStep() {
    openSurface(rowForm());
    QByteArray start = surface->text();
    whenShown<dlgProperty>([](dlgProperty* d) {
      d->findChild<QLineEdit*>("lineEditToolTip")->setText("first");
      d->slotUpdate();
      d->findChild<QLineEdit*>("lineEditWhatsThis")->setText("second");
      d->findChild<QLineEdit*>("lineEditObjectName")->setText("level");
      d->slotOk();
    });
    // A double click opens the dialog on the widget under the mouse.
    QTest::mouseDClick(ov, Qt::LeftButton, Qt::NoModifier, at("obj2"));
    QWidget* w = named(surface, "level");
    QVERIFY(w);
    QCOMPARE(w->toolTip(), QString("first"));
    QCOMPARE(w->whatsThis(), QString("second"));
    QCOMPARE(surface->undoStack()->count(), 1);
    QCOMPARE(surface->undoStack()->undoText(), QString("Change properties of obj2"));
    surface->undoStack()->undo();
    QCOMPARE(surface->text(), start);
    surface->undoStack()->redo();
    QCOMPARE(named(surface, "level")->whatsThis(), QString("second"));
    // A name another widget has is refused: it would be one identifier twice in the code.
    QCOMPARE(surface->changeProperties(named(surface, "obj3"),
                                       [](QWidget* x) { x->setObjectName("level"); }),
             -1);
    QVERIFY(named(surface, "obj3"));
    QCOMPARE(surface->undoStack()->count(), 1);
  }

  void randomRunUndoesAndRedoesByteForByte() {
    openSurface(chaosStartForm());
    QByteArray start = surface->text();
    MaskChaos chaos(surface, inserter, 20261209);
    const int steps = 10000;
    QMap<int, QByteArray> marks;
    QStringList kinds;
    for (int i = 1; i <= steps; i++) {
      QString name = chaos.step();
      QVERIFY2(!name.isEmpty(), qPrintable(QString("step %1 did nothing").arg(i)));
      QString verb = name.section(' ', 0, 0);
      if (!kinds.contains(verb)) kinds << verb;
      if (i % 1000 == 0) marks.insert(surface->undoStack()->index(), sha(surface->text()));
    }
    QByteArray edited = surface->text();
    QCOMPARE(surface->undoStack()->count(), steps);
    for (const char* verb : {"Insert", "Delete", "Move", "Resize", "Align", "Change", "Paste",
                             "Raise", "Lower", "Same", "Distribute", "Cut"})
      QVERIFY2(kinds.contains(verb), verb);
    // Back and forth to states in between, then all the way.
    for (auto it = marks.begin(); it != marks.end(); ++it) {
      surface->undoStack()->setIndex(it.key() / 2);
      surface->undoStack()->setIndex(it.key());
      QCOMPARE(sha(surface->text()), it.value());
    }
    surface->undoStack()->setIndex(0);
    QCOMPARE(surface->text(), start);
    surface->undoStack()->setIndex(steps);
    QCOMPARE(surface->text(), edited);
  }

  void tagTableRefusesBadRowsAndSaves() {
    QTemporaryDir dir;
    QFile::copy(HX_GOLDEN_DIR "/modbus.h", dir.filePath("modbus.h"));
    writeText(dir.filePath("tags.txt"), kTags);
    TagTableView view;
    QString error;
    QCOMPARE(view.load(dir.path(), &error), 0);
    TagTableModel* m = view.model();
    QCOMPARE(m->rowCount(), 4);
    QCOMPARE(m->data(m->index(3, TagTableModel::Type)).toString(), QString("bit"));
    struct Bad {
      int row, col;
      const char* value;
      const char* why;
    } bad[] = {
        {0, TagTableModel::Name, "level1", "taken"},
        {0, TagTableModel::Name, "1level", "identifier"},
        {0, TagTableModel::Index, "3", "outside cycle 3"},
        {0, TagTableModel::Index, "x", "not a number"},
        {0, TagTableModel::Type, "word", "unknown type"},
        {0, TagTableModel::Cycle, "9", "cycle 9"},
        {0, TagTableModel::Scale, "0", "scale"},
        {3, TagTableModel::Write, "register", ""},
    };
    for (const Bad& b : bad) {
      QVERIFY2(!m->setData(m->index(b.row, b.col), b.value), b.value);
      QVERIFY2(m->lastError().contains(b.why), qPrintable(m->lastError()));
    }
    QVERIFY(!view.modified());
    QVERIFY(m->setData(m->index(0, TagTableModel::Name), "tank_level"));
    QVERIFY(m->setData(m->index(0, TagTableModel::Scale), "0.5"));
    QVERIFY(view.modified());
    QCOMPARE(view.save(&error), 0);
    otTagTable back;
    std::string why;
    QCOMPARE(back.read(QFile::encodeName(dir.filePath("tags.txt")).constData(), &why), 0);
    QCOMPARE(QString::fromStdString(back.tags[0].name), QString("tank_level"));
    QCOMPARE(back.tags[0].scale, 0.5);
    // A daemon's header brings its values as tags to rename; again, it brings nothing new.
    otDaemonHeader h;
    QFile hf(dir.filePath("modbus.h"));
    QVERIFY(hf.open(QIODevice::ReadOnly));
    QCOMPARE(otReadDaemonHeader(hf.readAll().constData(), &h, &why), 0);
    int proposed = (int)otTagTable::propose(h, "modbus.h").size();
    QCOMPARE(view.addDaemonHeader(dir.filePath("modbus.h"), &error), proposed);
    QCOMPARE(m->rowCount(), 4 + proposed);
    QCOMPARE(view.addDaemonHeader(dir.filePath("modbus.h"), &error), 0);
    QVERIFY(view.addDaemonHeader(dir.filePath("tags.txt"), &error) < 0);
  }

  void tagFileWithABadLineIsNotWrittenOver() {
    QTemporaryDir dir;
    QByteArray text = QByteArray(kTags) +
                      "broken modbus.h 3 0 word 1 0 - - -\nlast modbus.h 3 1 short 1 0 - - -\n";
    writeText(dir.filePath("tags.txt"), text);
    TagTableView view;
    QString error;
    QCOMPARE(view.load(dir.path(), &error), -1);
    QVERIFY2(error.contains("line 6"), qPrintable(error));
    QCOMPARE(view.model()->rowCount(), 4);
    view.model()->removeRows(0, 1);
    QCOMPARE(view.save(&error), -1);
    QFile f(dir.filePath("tags.txt"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), text);
  }

  void windowTreeUndoMenuAndSave() {
    QTemporaryDir dir;
    makeProject(dir.path(), {rowForm(), chaosStartForm()}, kTags);
    StudioWindow w;
    w.show();
    QString error;
    QCOMPARE(w.openProject(dir.path(), &error), 0);
    QCOMPARE(w.maskCount(), 2);
    DesignSurface* s = w.currentSurface();
    QCOMPARE(s, w.surface(0));
    // The tree lists the widgets with class and tag, and selects both ways.
    w.refreshTree();
    QTreeWidget* tree = w.widgetTree();
    QCOMPARE(tree->topLevelItemCount(), 3);
    QCOMPARE(tree->topLevelItem(1)->text(0), QString("obj2"));
    QCOMPARE(tree->topLevelItem(1)->text(1), QString("QLabel"));
    QCOMPARE(tree->topLevelItem(1)->text(2), QString("level0"));
    tree->topLevelItem(2)->setSelected(true);
    QCOMPARE(names(s->selection()), QStringList({"obj3"}));
    s->setSelection({s->root()->findChild<QWidget*>("obj1")});
    QVERIFY(tree->topLevelItem(0)->isSelected());
    QVERIFY(!tree->topLevelItem(2)->isSelected());
    // The Edit menu names the command.
    s->selectAll();
    QTest::keyClick(s->overlay(), Qt::Key_Right);
    QAction* undo = nullptr;
    for (QAction* a : w.findChildren<QAction*>())
      if (a->text().startsWith("Undo")) undo = a;
    QVERIFY(undo);
    QCOMPARE(undo->text(), QString("Undo Move 3 widgets"));
    // An undo in the middle of a drag: the drag becomes its own command first.
    QPoint p = s->root()->findChild<QWidget*>("obj1")->mapTo(s->root(), QPoint(5, 5));
    QTest::mousePress(s->overlay(), Qt::LeftButton, Qt::NoModifier, p);
    QTest::mouseMove(s->overlay(), p + QPoint(40, 0));
    undo->trigger();
    QTest::mouseMove(s->overlay(), p + QPoint(80, 0));
    QTest::mouseRelease(s->overlay(), Qt::LeftButton, Qt::NoModifier, p + QPoint(80, 0));
    QCOMPARE(s->root()->findChild<QWidget*>("obj1")->pos(), QPoint(30, 20));
    QCOMPARE(s->undoStack()->count(), 2);
    QCOMPARE(s->undoStack()->index(), 1);
    QVERIFY(w.modified());
    QString journal = dir.filePath("mask1.ui.journal");
    QVERIFY(QFile::exists(journal));
    // Undo back to the saved state: nothing to recover.
    undo->trigger();
    QVERIFY(!QFile::exists(journal));
    QTest::keyClick(s->overlay(), Qt::Key_Down);
    QCOMPARE(w.saveAll(&error), 0);
    QVERIFY(!QFile::exists(journal));
    UiForm saved;
    QCOMPARE(uiLoad(dir.filePath("mask1.ui"), &saved, &error), 0);
    QCOMPARE(uiFormat(saved), s->text());
    // A new mask is the next name, saved at once.
    QCOMPARE(w.newMask(&error), 2);
    QVERIFY(QFile::exists(dir.filePath("mask3.ui")));
    // Closing with a change asks; Cancel keeps the window, Discard drops the journal.
    QTest::keyClick(w.surface(0)->overlay(), Qt::Key_Down);
    QVERIFY(QFile::exists(journal));
    w.setCloseAnswer(QMessageBox::Cancel);
    QVERIFY(!w.close());
    w.setCloseAnswer(QMessageBox::Discard);
    QVERIFY(w.close());
    QVERIFY(!QFile::exists(journal));
  }

  void journalSurvivesKillMidEdit() {
    QTemporaryDir dir;
    makeProject(dir.path(), {chaosStartForm()}, kTags);
    // What each step leaves, replayed here with the child's seed.
    const unsigned seed = 77;
    const int steps = 400;
    QVector<QByteArray> states;
    {
      UiForm f;
      QString error;
      QCOMPARE(uiLoad(dir.filePath("mask1.ui"), &f, &error), 0);
      openSurface(f);
      states << sha(surface->text());
      MaskChaos chaos(surface, inserter, seed);
      for (int i = 1; i <= steps; i++) {
        chaos.step();
        states << sha(surface->text());
      }
    }
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(g_program,
                {"--journal-child", dir.path(), QString::number(seed), QString::number(steps)});
    QVERIFY(child.waitForStarted(10000));
    int last = 0;
    QByteArray pending;
    const int killAt = 150;
    QElapsedTimer t;
    t.start();
    while (last < killAt && t.elapsed() < 60000) {
      child.waitForReadyRead(1000);
      pending += child.readAllStandardOutput();
      int nl;
      while ((nl = pending.indexOf('\n')) >= 0) {
        QByteArray line = pending.left(nl);
        pending.remove(0, nl + 1);
        if (line.startsWith("step ")) last = line.mid(5).toInt();
      }
      QVERIFY2(child.state() == QProcess::Running, child.readAllStandardError().constData());
    }
    QVERIFY(last >= killAt);
    ::kill((pid_t)child.processId(), SIGKILL);
    child.waitForFinished(10000);
    pending += child.readAllStandardOutput();
    for (const QByteArray& line : pending.split('\n'))
      if (line.startsWith("step ")) last = line.mid(5).toInt();
    // The journal is one whole state: the last reported step, or the one under way when it
    // was reported already written.
    QByteArray text;
    QString error;
    QCOMPARE(journalRead(dir.filePath("mask1.ui.journal"), &text, &error), 0);
    UiForm recovered;
    QCOMPARE(uiParse(text, &recovered, &error), 0);
    QByteArray h = sha(text);
    QVERIFY2(h == states[last] || (last < steps && h == states[last + 1]),
             qPrintable(QString("journal is not the state of step %1").arg(last)));
    // Started again: Yes takes the journal as the unsaved current state; what a write cut
    // short left behind goes.
    writeText(dir.filePath("mask1.ui.journal.tmp-AbC123"), "<ui ver");
    {
      StudioWindow w;
      w.setRecoveryAnswer(QMessageBox::Yes);
      QCOMPARE(w.openProject(dir.path(), &error), 0);
      QCOMPARE(w.surface(0)->text(), text);
      QVERIFY(w.surface(0)->modified());
      // A studio that ends without the question answered leaves the journal for the next.
      w.setCloseAnswer(QMessageBox::Cancel);
      QVERIFY(!w.close());
    }
    QVERIFY(QFile::exists(dir.filePath("mask1.ui.journal")));
    QVERIFY(!QFile::exists(dir.filePath("mask1.ui.journal.tmp-AbC123")));
    // No drops it and shows the saved mask.
    UiForm saved;
    QCOMPARE(uiLoad(dir.filePath("mask1.ui"), &saved, &error), 0);
    StudioWindow w;
    w.setRecoveryAnswer(QMessageBox::No);
    QCOMPARE(w.openProject(dir.path(), &error), 0);
    QVERIFY(!QFile::exists(dir.filePath("mask1.ui.journal")));
    QVERIFY(!w.surface(0)->modified());
    QVERIFY(w.surface(0)->text() != text);
  }

  void runStartsServerAndClientStopKills() {
    QTemporaryDir dir;
    // A server that ignores the polite request, and a client that does not.
    QString server = dir.filePath("server.sh"), client = dir.filePath("client.sh");
    writeText(server, QString("#!/bin/sh\ntrap '' TERM\necho \"$@\" > %1/server.args\n"
                              "while true; do sleep 0.1; done\n")
                          .arg(dir.path())
                          .toUtf8());
    writeText(client, QString("#!/bin/sh\necho \"$@\" > %1/client.args\nexec sleep 30\n")
                          .arg(dir.path())
                          .toUtf8());
    QFile::setPermissions(server, QFile::ReadOwner | QFile::ExeOwner);
    QFile::setPermissions(client, QFile::ReadOwner | QFile::ExeOwner);
    StudioWindow w;
    w.setClientProgram(client);
    QString error;
    QCOMPARE(w.startRun(server, &error), 0);
    int port = w.serverPort();
    QVERIFY(port > 0);
    QPointer<QProcess> sp = w.serverProcess();
    QTRY_VERIFY_WITH_TIMEOUT(w.clientProcess() != nullptr, 5000);
    QPointer<QProcess> cp = w.clientProcess();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("client.args")), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("server.args")), 5000);
    auto args = [&](const char* f) {
      QFile a(dir.filePath(f));
      a.open(QIODevice::ReadOnly);
      return QString::fromUtf8(a.readAll()).trimmed();
    };
    QCOMPARE(args("server.args"), QString("-port=%1 -bind=127.0.0.1").arg(port));
    QCOMPARE(args("client.args"), QString("-host=127.0.0.1 -port=%1").arg(port));
    QElapsedTimer t;
    t.start();
    w.slotStop();
    QTRY_VERIFY_WITH_TIMEOUT(!cp || cp->state() == QProcess::NotRunning, 2000);
    QVERIFY(sp && sp->state() == QProcess::Running);
    QTRY_VERIFY_WITH_TIMEOUT(!sp || sp->state() == QProcess::NotRunning, 8000);
    QVERIFY2(t.elapsed() >= 2900, qPrintable(QString::number(t.elapsed())));
  }

  void runSavesBuildsAndStartsTheServerAndClient() {
#ifdef OTKIT_SANITIZED
    QSKIP("the generated servers are built without the sanitizer runtime");
#endif
    setenv("PKG_CONFIG_PATH", HX_PKGCONFIG_DIR, 1);
    QTemporaryDir dir;
    UiForm f = rowForm();
    f.root.children[1].removeProperty(STUDIO_TAG_PROPERTY);
    makeProject(dir.path(), {f}, "");
    StudioWindow w;
    w.setClientProgram(OTCLIENT_PROGRAM);
    QString error;
    QCOMPARE(w.openProject(dir.path(), &error), 0);
    DesignSurface* s = w.surface(0);
    s->setSelection({named(s, "obj1")});
    QTest::keyClick(s->overlay(), Qt::Key_Right);
    QVERIFY(QFile::exists(dir.filePath("mask1.ui.journal")));
    w.slotRun();
    // Saved first.
    QVERIFY(!QFile::exists(dir.filePath("mask1.ui.journal")));
    QVERIFY(!w.modified());
    // Built, or failed (the last message says so).
    auto over = [&] {
      QListWidget* m = w.messageList();
      return w.clientProcess() != nullptr ||
             (m->count() > 0 && m->item(m->count() - 1)->text().startsWith("Build failed"));
    };
    QTRY_VERIFY_WITH_TIMEOUT(over(), 480000);
    QStringList log;
    for (int i = 0; i < w.messageList()->count(); i++)
      log << w.messageList()->item(i)->text();
    QVERIFY2(w.clientProcess() != nullptr, qPrintable(log.join("\n")));
    QPointer<QProcess> server = w.serverProcess(), client = w.clientProcess();
    QTRY_VERIFY_WITH_TIMEOUT(client->state() == QProcess::Running, 10000);
    // The server listens on loopback at the port it was given.
    int fd = -1;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          if (fd >= 0) ::close(fd);
          fd = socket(AF_INET, SOCK_STREAM, 0);
          sockaddr_in sin{};
          sin.sin_family = AF_INET;
          sin.sin_port = htons((uint16_t)w.serverPort());
          sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
          return ::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) == 0;
        }(),
        10000);
    ::close(fd);
    QVERIFY(server->state() == QProcess::Running);
    w.slotStop();
    QTRY_VERIFY_WITH_TIMEOUT(!server || server->state() == QProcess::NotRunning, 8000);
    QTRY_VERIFY_WITH_TIMEOUT(!client || client->state() == QProcess::NotRunning, 8000);
  }

  void sourceViewOpensAtTheLine() {
    QTemporaryDir dir;
    QByteArray text;
    for (int i = 1; i <= 200; i++)
      text += "line " + QByteArray::number(i) + "\n";
    writeText(dir.filePath("mask1_events.cpp"), text);
    StudioWindow w;
    QPlainTextEdit* v = w.openSource(dir.filePath("mask1_events.cpp"), 120);
    QVERIFY(v);
    QVERIFY(v->isReadOnly());
    QCOMPARE(v->textCursor().blockNumber(), 119);
    QCOMPARE(v->textCursor().selectedText(), QString("line 120"));
    QVERIFY(w.openSource(dir.filePath("missing.cpp"), 1) == nullptr);
    // A compiler message names the file relative to the project or its build folder; its
    // entry opens the file there, at the line (a mask's own code opens in its editor, which
    // has tests of its own; generated files read-only).
    writeText(dir.filePath("mask1_generated.cpp"), text);
    makeProject(dir.path(), {rowForm()}, kTags);
    QString error;
    QCOMPARE(w.openProject(dir.path(), &error), 0);
    v = w.openSource(dir.filePath("mask1_generated.cpp"), 120);
    QVERIFY(v);
    StudioBuildMessage m;
    m.file = "mask1_generated.cpp";
    m.line = 42;
    m.column = 3;
    m.severity = "error";
    m.text = "'foo' was not declared in this scope";
    StudioBuildMessage note;
    note.severity = "note";
    note.text = "no place";
    emit w.builder()->finished(false, {m, note}, "log");
    QListWidget* list = w.messageList();
    QListWidgetItem* item = nullptr;
    for (int i = 0; i < list->count(); i++)
      if (list->item(i)->text().startsWith("mask1_generated.cpp:42:3: error")) item = list->item(i);
    QVERIFY(item);
    emit list->itemActivated(item);
    QCOMPARE(v->textCursor().blockNumber(), 41);
    QVERIFY(v->isVisible());
  }
};

// The child of the journal test: the studio on a project, making the edits of a seed, one
// line on standard output after each, until it is killed.
static int journalChild(int argc, char** argv) {
  QApplication app(argc, argv);
  StudioWindow w;
  w.setRecoveryAnswer(QMessageBox::No);
  QString error;
  if (argc < 5 || w.openProject(QString::fromLocal8Bit(argv[2]), &error) != 0) {
    fprintf(stderr, "journal child: %s\n", qPrintable(error));
    return 2;
  }
  w.show();
  MaskChaos chaos(w.surface(0), w.inserter(), (unsigned)atoi(argv[3]));
  int steps = atoi(argv[4]);
  for (int i = 1; i <= steps; i++) {
    chaos.step();
    QCoreApplication::processEvents();
    printf("step %d\n", i);
    fflush(stdout);
  }
  // Stays, as a studio would, until it is killed.
  for (;;)
    pause();
}

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (getenv("XDG_RUNTIME_DIR") == nullptr) {
    static char dir[] = "/tmp/otkit-xdg-XXXXXX";
    if (mkdtemp(dir) != nullptr) setenv("XDG_RUNTIME_DIR", dir, 1);
  }
  if (argc > 1 && strcmp(argv[1], "--journal-child") == 0) return journalChild(argc, argv);
  QApplication app(argc, argv);
  g_program = QCoreApplication::applicationFilePath();
  StudioWindowTest t;
  return QTest::qExec(&t, argc, argv);
}

#include "test_studiowindow.moc"
