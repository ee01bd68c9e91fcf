// The VTK mask: two tab pages, each with a VTK/Tcl widget driven by Tcl scripts and commands and
// three sliders that turn, zoom and tilt its view. The display client has no VTK with Tcl; its
// placeholder widget shows and prints what it would run, so the mask works the same either way.
#include <stdio.h>

#include "sample.h"

namespace {

enum {
  ID_MAIN = 0,
  ID_BACK,
  ID_TABS,
  ID_PAGE1,
  ID_SURFACE,  // VTK widget on page 1
  ID_TURN_Y,   // page 1: turns the surface about y
  ID_ZOOM1,    // page 1: zoom
  ID_TURN_X,   // page 1: turns the surface about x
  ID_PAGE2,
  ID_XYPLOT,     // VTK widget on page 2
  ID_ELEVATION,  // page 2: camera elevation, 3 degrees a step
  ID_ROLL,       // page 2: camera roll, 9 degrees a step
  ID_ZOOM2,      // page 2: zoom
  ID_END
};

// The sliders' start value; the turning sliders give the actor's start angle.
const int kStart = 60;
int angleOf(int value) {
  return 3 * value - 150;
}

struct MaskVtk {
  int last[ID_END];  // each slider's previous value
};

void download(PARAM_* p, const char* name) {
  char path[1024];
  hxDownloadFile(p, sampleDataPath(name, path, sizeof path));
}

void define(PARAM_* p) {
  hxStartDefinition(p, ID_END);
  hxQPushButton(p, ID_BACK, ID_MAIN);
  hxSetGeometry(p, ID_BACK, 0, 0, 100, 30);
  hxSetText(p, ID_BACK, "Back");
  hxQTabWidget(p, ID_TABS, ID_MAIN);
  hxSetGeometry(p, ID_TABS, 0, 40, 760, 540);
  const int pages[2] = {ID_PAGE1, ID_PAGE2};
  const char* const titles[2] = {"Tab 1", "Tab 2"};
  for (int k = 0; k < 2; k++) {
    int page = pages[k];
    hxQWidget(p, page, ID_TABS);
    hxQVtkTclWidget(p, page + 1, page);
    hxSetGeometry(p, page + 1, 0, 0, 640, 480);
    for (int s = 0; s < 3; s++) {
      hxQSlider(p, page + 2 + s, page, 0, 99, 10, kStart, 2);
      hxSetGeometry(p, page + 2 + s, 655 + 32 * s, 10, 25, 300);
    }
    hxAddTab(p, ID_TABS, page, titles[k]);
  }
  hxEndDefinition(p);

  download(p, "data1.vtk");
  download(p, "combq.bin");
  download(p, "combxyz.bin");
  // The widgets run the scripts from the client's directory, so they travel too.
  download(p, "surface.tcl");
  download(p, "xyplot.tcl");
  download(p, "update_surface.tcl");
  hxVtkTclScript(p, ID_SURFACE, "surface.tcl");
  hxVtkTclScript(p, ID_XYPLOT, "xyplot.tcl");
  hxVtkTclPrintf(p, ID_SURFACE, "dataActor RotateX %d", angleOf(kStart));
  hxVtkTclPrintf(p, ID_SURFACE, "dataActor RotateY %d", angleOf(kStart));
  hxVtkTclPrintf(p, ID_SURFACE, "renWin Render");
  hxVtkTclPrintf(p, ID_SURFACE, "reader Modified");
  hxVtkTclPrintf(p, ID_SURFACE, "reader Update");
  hxVtkTclPrintf(p, ID_XYPLOT, "pl3d Modified");
  hxVtkTclPrintf(p, ID_XYPLOT, "pl3d Update");
}

// A slider moved to value: the commands for its widget, then a render.
void slide(PARAM_* p, MaskVtk& m, int id, int value) {
  if (id < 0 || id >= ID_END) return;  // the id comes from the client
  int before = m.last[id];
  m.last[id] = value;
  int widget = id < ID_PAGE2 ? ID_SURFACE : ID_XYPLOT;
  int direction = value > before ? 1 : value < before ? -1 : 0;
  switch (id) {
    case ID_TURN_X:
    case ID_TURN_Y:
      if (direction == 0) return;
      hxVtkTclScript(p, widget, "update_surface.tcl");
      hxVtkTclPrintf(p, widget, "dataActor Rotate%c %d", id == ID_TURN_X ? 'X' : 'Y',
                     angleOf(value) - angleOf(before));
      break;
    case ID_ZOOM1:
      hxVtkTclPrintf(p, widget, "$cam1 Zoom %f", (value + 1) / 50.0);
      break;
    case ID_ELEVATION:
      if (direction == 0) return;
      hxVtkTclPrintf(p, widget, "$cam1 Elevation %f", 3.0 * direction);
      break;
    case ID_ROLL:
      if (direction == 0) return;
      hxVtkTclPrintf(p, widget, "$cam1 Roll %f", 9.0 * direction);
      break;
    case ID_ZOOM2:
      hxVtkTclPrintf(p, widget, "$cam1 Zoom %f", (value + 50) / 100.0);
      break;
    default:
      return;
  }
  hxVtkTclPrintf(p, widget, "renWin Render");
}

}  // namespace

int show_maskvtk(PARAM_* p) {
  MaskVtk m;
  for (int& v : m.last)
    v = kStart;
  define(p);
  char event[HX_EVENT_BUFSIZE], text[HX_TEXT_SIZE];
  for (;;) {
    int id = 0, value = 0;
    int kind = nextEvent(p, event, text, &id);
    if (kind == SHUTUP_EVENT) return -1;
    if (kind == BUTTON_EVENT && id == ID_BACK) return MASK_PLANT;
    if (kind == SLIDER_EVENT && sscanf(text, "(%d)", &value) == 1) slide(p, m, id, value);
  }
}
