// Undo on the design surface, timed: a mask edited by random commands (inserts, deletes, moves,
// resizes, alignment, property changes, pastes, z-order), then every step undone one by one.
// Shared by the undo benchmark and the generator benchmark. Needs a QApplication.
#ifndef OTKIT_BENCH_STUDIO_UNDO_H
#define OTKIT_BENCH_STUDIO_UNDO_H

#include <QElapsedTimer>
#include <QUndoStack>

#include "designsurface.h"
#include "dlginsertwidget.h"
#include "test_studiowindow_chaos.h"
#include "uiform.h"

// A surface on mask after `steps` random commands; with snapshots, the .ui text of every state.
struct EditedMask {
  dlgInsertWidget inserter;
  DesignSurface surface{&inserter};
  EditedMask(const UiForm& mask, int steps, QVector<QByteArray>* snapshots = nullptr) {
    surface.resize(800, 600);
    surface.load(mask);
    // Room to grow beyond what the mask has, so that inserts and pastes stay in the mix.
    MaskChaos chaos(&surface, &inserter, 4711);
    chaos.setLimit(chaos.widgets().size() + 60);
    if (snapshots) snapshots->append(surface.text());
    for (int i = 0; i < steps; i++) {
      chaos.step();
      if (snapshots) snapshots->append(surface.text());
    }
  }
};

// Milliseconds for undoing `steps` commands on mask (a small mask of a few containers when
// none is given), after a warm-up run.
inline double undoStepsMs(int steps, const UiForm* mask = nullptr) {
  const UiForm start = mask ? *mask : chaosStartForm();
  {
    EditedMask warm(start, steps / 10 + 1);
    warm.surface.undoStack()->setIndex(0);
  }
  EditedMask m(start, steps);
  QUndoStack* stack = m.surface.undoStack();
  QElapsedTimer t;
  t.start();
  while (stack->canUndo())
    stack->undo();
  return t.nsecsElapsed() / 1e6;
}

#endif
