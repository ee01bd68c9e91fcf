// Undo on the design surface: a mask edited by 10 000 random commands, then every step undone.
// Ours: the commands' own reverse steps on the live widgets. Reference: the same undo done the
// plain way, by rebuilding the whole mask from a .ui snapshot of the state before each step
// (measured on fewer steps, per step).
#include <stdio.h>
#include <stdlib.h>

#include <QApplication>

#include "studio_undo.h"
#include "studioopt.h"
#include "uiwidgets.h"

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
  EditedMask m(chaosStartForm(), refSteps, &snapshots);
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
