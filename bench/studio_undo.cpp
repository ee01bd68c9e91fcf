// Undo on the design surface: a mask edited by 10 000 random commands, then every step undone.
// Ours: the commands' own reverse steps on the live widgets. Reference: the same undo done the
// plain way, by rebuilding the whole mask from a .ui snapshot of the state before each step
// (measured on fewer steps, per step).
#include <stdio.h>
#include <stdlib.h>

#include <QApplication>
#include <algorithm>

#include "benchrounds.h"
#include "studio_undo.h"
#include "studioopt.h"
#include "uiwidgets.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  studioOpt = StudioOptions();
  // Steps of a whole run of each side; each round gets its share.
  const int steps = std::max(otBenchRounds, argc > 1 ? atoi(argv[1]) : 10000) / otBenchRounds;
  const int refSteps = std::min(steps, 500 / otBenchRounds);

  // The reference: each undo step rebuilds the mask from the snapshot before it. The
  // snapshots of all its rounds are made first, each round rebuilding the next share of them.
  QVector<QByteArray> snapshots;
  EditedMask m(chaosStartForm(), refSteps * otBenchRounds, &snapshots);
  QWidget holder;
  otBenchSide ours("undo by the commands' reverse steps", "ms a step");
  otBenchSide ref("snapshot rebuild", "ms a step");
  int next = refSteps * otBenchRounds - 1;
  for (int r = 0; r < otBenchRounds; r++) {
    ours.add(undoStepsMs(steps) / steps);
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < refSteps; i++, next--) {
      UiForm f;
      QString error;
      if (uiParse(snapshots[next], &f, &error) != 0) {
        printf("snapshot %d: %s\n", next, qPrintable(error));
        return 1;
      }
      auto* root = new QWidget(&holder);
      uiBuildForm(f, root);
      delete root;
    }
    ref.add(t.nsecsElapsed() / 1e6 / refSteps);
  }
  printf("undo: %d steps a round, snapshot rebuild: %d steps a round\n", steps, refSteps);
  ours.print();
  ref.print();
  otBenchRatio("ratio ours/reference (time a step)", ours, ref, {&ours, &ref}, 3);
  return 0;
}
