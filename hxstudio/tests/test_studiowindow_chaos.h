// Random edits of a mask through the design surface's commands: the same seed on the same mask
// gives the same edits, so a test can replay what a child process did, and a benchmark can
// make a long undo stack. Shared by the window tests and the undo benchmark.
#ifndef HXSTUDIO_TEST_STUDIOWINDOW_CHAOS_H
#define HXSTUDIO_TEST_STUDIOWINDOW_CHAOS_H

#include <random>

#include <QRadioButton>
#include <QUndoStack>
#include <QWidget>

#include "designsurface.h"
#include "dlginsertwidget.h"
#include "studiokinds.h"
#include "uiform.h"
#include "uiwidgets.h"

// A node of a given kind for building test masks.
inline UiNode chaosNode(const char* cls, const char* tag, const QString& name, const QRect& r) {
  UiNode n;
  n.className = cls;
  n.name = name;
  if (!r.isNull()) n.setProperty(uiRect("geometry", r));
  n.setProperty(uiString("statusTip", tag));
  return n;
}

// A 640 x 480 mask with a few widgets, a frame, a tab widget and a tool box with two pages
// each, so that edits reach containers and pages too.
inline UiForm chaosStartForm() {
  UiForm f;
  f.formClass = "mask1";
  f.root.className = "QWidget";
  f.root.name = "mask1";
  f.root.setProperty(uiRect("geometry", QRect(0, 0, 640, 480)));
  UiNode label = chaosNode("QLabel", "TQLabel:", "obj1", QRect(10, 10, 100, 30));
  label.setProperty(uiString("text", "Label"));
  f.root.children << label;
  UiNode frame = chaosNode("QFrame", "TQFrame:", "obj2", QRect(10, 60, 200, 150));
  frame.setProperty(uiEnum("frameShape", "QFrame::Box"));
  frame.children << chaosNode("QPushButton", "TQPushButton:", "obj3", QRect(10, 10, 100, 30));
  f.root.children << frame;
  UiNode tabs = chaosNode("QTabWidget", "TQTabWidget:", "obj6", QRect(250, 10, 300, 200));
  for (int i = 0; i < 2; i++) {
    UiNode page = chaosNode("QWidget", "TQWidget:", QString("obj%1").arg(4 + i), QRect());
    page.attributes << uiString("title", QString("Page %1").arg(i + 1));
    tabs.children << page;
  }
  f.root.children << tabs;
  UiNode box = chaosNode("QToolBox", "TQToolBox:", "obj9", QRect(250, 230, 300, 220));
  for (int i = 0; i < 2; i++) {
    UiNode page = chaosNode("QWidget", "TQWidget:", QString("obj%1").arg(7 + i), QRect());
    page.attributes << uiString("label", QString("Item %1").arg(i + 1));
    box.children << page;
  }
  f.root.children << box;
  return f;
}

class MaskChaos {
 public:
  MaskChaos(DesignSurface* s, dlgInsertWidget* d, unsigned seed) : s_(s), d_(d), rng_(seed) {}

  // Above this many widgets the mask is made to shrink again.
  void setLimit(int widgets) { limit_ = widgets; }

  int pick(int n) { return n <= 1 ? 0 : std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  // The design widgets of the mask that a user can select (no pages).
  QVector<QWidget*> widgets() const {
    QVector<QWidget*> out;
    walk(s_->root(), &out);
    return out;
  }

  // One random command that changes the mask (tries again when a pick changes nothing).
  // The command's name, "" when twenty tries did nothing.
  QString step() {
    for (int tries = 0; tries < 20; tries++) {
      int before = s_->undoStack()->index();
      attempt();
      if (s_->undoStack()->index() != before)
        return s_->undoStack()->text(s_->undoStack()->index() - 1);
    }
    return QString();
  }

 private:
  void walk(QWidget* w, QVector<QWidget*>* out) const {
    bool pages =
        !studioTagOf(w->statusTip()).isEmpty() && (studioTagOf(w->statusTip()) == "TQTabWidget:" ||
                                                   studioTagOf(w->statusTip()) == "TQToolBox:");
    for (QWidget* c : uiDesignChildren(w)) {
      if (!pages) out->append(c);
      walk(c, out);
    }
  }

  QList<QWidget*> some(int max) {
    QVector<QWidget*> all = widgets();
    QList<QWidget*> out;
    int n = 1 + pick(max);
    for (int i = 0; i < n && !all.isEmpty(); i++)
      out << all.takeAt(pick(all.size()));
    return out;
  }

  void attempt() {
    static const char* const kinds[] = {"wLabel",     "wPushButton", "wFrame",   "wGroupBox",
                                        "wLineEdit",  "wSlider",     "wSpinBox", "wCheckBox",
                                        "wLCDNumber", "wProgressBar"};
    QVector<QWidget*> all = widgets();
    int n = all.size();
    int op = pick(16);
    // A mask that grew large shrinks again; an empty one grows.
    if (n > limit_ && (op < 3 || op == 11)) op = 3;
    if (n < 3) op = 0;
    QWidget* root = s_->root();
    switch (op) {
      case 0:
      case 1:
      case 2: {
        const char* kind = kinds[pick(sizeof(kinds) / sizeof(kinds[0]))];
        if (auto* r = d_->findChild<QRadioButton*>(kind)) r->setChecked(true);
        s_->insertAt(QPoint(pick(root->width()), pick(root->height())), false);
        return;
      }
      case 3:
        s_->setSelection(some(2));
        s_->deleteSelection();
        return;
      case 4:
      case 5:
        s_->setSelection(some(3));
        s_->moveSelection(pick(61) - 30, pick(41) - 20);
        return;
      case 6: {
        QWidget* w = all[pick(n)];
        s_->setWidgetGeometry(w, QRect(pick(500), pick(400), 10 + pick(150), 10 + pick(80)),
                              QString());
        return;
      }
      case 7:
        s_->setSelection(some(4));
        s_->alignSelection((DesignSurface::Align)pick(6));
        return;
      case 8:
      case 9: {
        QWidget* w = all[pick(n)];
        int what = pick(4), v = pick(1000);
        s_->changeProperties(w, [&](QWidget* x) {
          if (what == 0) x->setToolTip(QString("tip %1").arg(v));
          if (what == 1) x->setWhatsThis(QString("what %1").arg(v));
          if (what == 2) x->setObjectName(QString("w%1").arg(v));
          if (what == 3) x->setProperty(STUDIO_TAG_PROPERTY, QString("tag%1").arg(v));
        });
        return;
      }
      case 10:
        s_->setSelection(some(2));
        s_->raiseSelection();
        return;
      case 11:
        s_->setSelection(some(2));
        if (s_->copySelection() == 0) s_->paste();
        return;
      case 12:
        s_->setSelection(some(2));
        s_->lowerSelection();
        return;
      case 13:
        s_->setSelection(some(4));
        s_->sameSize((DesignSurface::Size)pick(3));
        return;
      case 14:
        s_->setSelection(some(4));
        s_->distribute(pick(2) ? Qt::Horizontal : Qt::Vertical);
        return;
      default:
        s_->setSelection(some(2));
        s_->cutSelection();
        return;
    }
  }

  DesignSurface* s_;
  dlgInsertWidget* d_;
  std::mt19937 rng_;
  int limit_ = 60;
};

#endif
