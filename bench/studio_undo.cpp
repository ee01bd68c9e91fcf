// Undo on the design surface: a mask edited by 10 000 random commands (inserts, deletes, moves,
// resizes, alignment, property changes, pastes, z-order), then every step undone. Ours: the
// commands' own reverse steps on the live widgets. Reference: the same undo done the plain way,
// by rebuilding the whole mask from a .ui snapshot of the state before each step (measured on
// fewer steps, per step).
//
// undoStepsMs is also called by the generator benchmark, which builds this file with
// STUDIO_UNDO_NO_MAIN.
#include <stdio.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QUndoStack>

#include "designsurface.h"
#include "dlginsertwidget.h"
#include "studioopt.h"
#include "test_studiowindow_chaos.h"
#include "uiform.h"
#include "uiwidgets.h"

namespace {

// A surface after `steps` random commands; the snapshots of every state when asked for.
struct EditedMask {
  dlgInsertWidget inserter;
  DesignSurface surface{&inserter};
  explicit EditedMask(int steps, QVector<QByteArray>* snapshots = nullptr) {
    surface.resize(800, 600);
    surface.load(chaosStartForm());
    MaskChaos chaos(&surface, &inserter, 4711);
    if (snapshots) snapshots->append(surface.text());
    for (int i = 0; i < steps; i++) {
      chaos.step();
      if (snapshots) snapshots->append(surface.text());
    }
  }
};

}  // namespace

// Milliseconds for undoing `steps` commands one by one, after a warm-up run.
double undoStepsMs(int steps) {
  {
    EditedMask warm(steps / 10 + 1);
    warm.surface.undoStack()->setIndex(0);
  }
  EditedMask m(steps);
  QUndoStack* stack = m.surface.undoStack();
  QElapsedTimer t;
  t.start();
  while (stack->canUndo())
    stack->undo();
  return t.nsecsElapsed() / 1e6;
}

#ifndef STUDIO_UNDO_NO_MAIN
int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  studioOpt = StudioOptions();
  const int steps = argc > 1 ? atoi(argv[1]) : 10000;
  double ours = undoStepsMs(steps);
  printf("undo: %d steps in %.1f ms, %.4f ms a step\n", steps, ours, ours / steps);

  // The reference: each undo step rebuilds the mask from the snapshot before it.
  const int refSteps = steps < 500 ? steps : 500;
  QVector<QByteArray> snapshots;
  EditedMask m(refSteps, &snapshots);
  QWidget holder;
  QElapsedTimer t;
  t.start();
  for (int i = refSteps - 1; i >= 0; i--) {
    UiForm f;
    QString error;
    if (uiParse(snapshots[i], &f, &error) != 0) {
      printf("snapshot %d: %s\n", i, qPrintable(error));
      return 1;
    }
    auto* root = new QWidget(&holder);
    uiBuildForm(f, root);
    delete root;
  }
  double ref = t.nsecsElapsed() / 1e6;
  printf("snapshot rebuild: %d steps in %.1f ms, %.4f ms a step\n", refSteps, ref, ref / refSteps);
  printf("ratio ours/reference (time a step): %.3f\n", (ours / steps) / (ref / refSteps));
  return 0;
}
#endif
