// Mask 2: the caster picture with a counter label that climbs it and a temperature label beside
// it, a sound at the start, navigation buttons and a button that opens the modal dialog.
#include <stdio.h>

#include "sample.h"

namespace {

enum {
  ID_MAIN = 0,
  ID_MASK1,
  ID_MASK2,
  ID_MASK3,
  ID_TITLE,
  ID_CASTER,
  ID_COUNTER,  // a child of the picture
  ID_BUTTON,   // a child of the picture
  ID_TEMPERATURE,
  ID_MODAL,  // opens show_modal1
  ID_END
};

struct Mask2 {
  int i = 0;
};

// The mask whose animation the modal dialog keeps going: each connection runs its masks and
// dialogs in its own thread, so the pointer is per thread.
thread_local Mask2* current = nullptr;

void define(PARAM_* p) {
  char path[1024];
  hxStartDefinition(p, ID_END);
  defineNavigation(p, ID_MASK1, ID_MAIN);
  hxQLabel(p, ID_TITLE, ID_MAIN);
  hxSetGeometry(p, ID_TITLE, 0, 90, 100, 30);
  hxSetText(p, ID_TITLE, "This is mask 2");
  hxQPushButton(p, ID_MODAL, ID_MAIN);
  hxSetGeometry(p, ID_MODAL, 0, 120, 100, 30);
  hxSetText(p, ID_MODAL, "Modal Dialog");

  int w = 0, h = 0, depth = 0;
  hxQImage(p, ID_CASTER, ID_MAIN, sampleDataPath("caster.bmp", path, sizeof path), &w, &h, &depth);
  if (w > 0 && h > 0) hxSetGeometry(p, ID_CASTER, 100, 0, w, h);
  hxQLabel(p, ID_TEMPERATURE, ID_MAIN);
  hxSetGeometry(p, ID_TEMPERATURE, 100 + w, 0, 100, 20);
  hxSetBackgroundColor(p, ID_TEMPERATURE, 255, 0, 0);
  hxQLabel(p, ID_COUNTER, ID_CASTER);
  hxSetGeometry(p, ID_COUNTER, 350, 400, 60, 30);
  hxQPushButton(p, ID_BUTTON, ID_CASTER);
  hxSetGeometry(p, ID_BUTTON, 350, 430, 60, 30);
  hxSetText(p, ID_BUTTON, "Button");
  hxEndDefinition(p);

  if (hxDownloadFile(p, sampleDataPath("k3b_success1.wav", path, sizeof path)) == 0)
    hxPlaySound(p, "k3b_success1.wav");
}

// One pass of the animation: the counter climbs the picture, the temperature follows it.
void animate(PARAM_* p, Mask2& m) {
  m.i = m.i >= 99 ? 0 : m.i + 1;
  hxMove(p, ID_COUNTER, 350, 400 - m.i);
  hxPrintf(p, ID_COUNTER, "Cnt: %d", m.i);
  hxPrintf(p, ID_TEMPERATURE, " T = %d degC", m.i + 1120);
}

int updateBase(PARAM_* p) {
  if (current != nullptr) animate(p, *current);
  return 0;
}

}  // namespace

int show_mask2(PARAM_* p) {
  Mask2 m;
  define(p);
  char event[HX_EVENT_BUFSIZE], text[HX_TEXT_SIZE];
  for (;;) {
    animate(p, m);
    int id = 0;
    int kind = nextEvent(p, event, text, &id);
    if (kind == SHUTUP_EVENT) return -1;
    if (kind != BUTTON_EVENT) continue;
    if (id >= ID_MASK1 && id <= ID_MASK3) return id - ID_MASK1 + 1;
    if (id == ID_MODAL) {
      Mask2* outer = current;
      current = &m;
      int r = hxRunModalDialog(p, 320, 200, show_modal1, updateBase);
      current = outer;
      if (r < 0) return -1;
    }
  }
}
