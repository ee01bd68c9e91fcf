// The modal dialog: a label and a button that closes it. While it is open the base mask goes on
// refreshing on every idle event. Run with hxRunModalDialog (mask 2's "Modal Dialog" button);
// returns 1 when its button closed it, -1 on an event for the dialog itself (id 0) or when the
// connection closed.
#include "sample.h"

namespace {

enum { ID_DIALOG = 0, ID_BUTTON, ID_LABEL, ID_END };

}  // namespace

int show_modal1(PARAM_* p) {
  hxStartDefinition(p, ID_END);
  hxQPushButton(p, ID_BUTTON, ID_DIALOG);
  hxSetGeometry(p, ID_BUTTON, 110, 140, 100, 30);
  hxSetText(p, ID_BUTTON, "PushButton1");
  hxQLabel(p, ID_LABEL, ID_DIALOG);
  hxSetGeometry(p, ID_LABEL, 10, 10, 300, 110);
  hxSetText(p, ID_LABEL, "This is a modal<br>Dialog Box");
  hxSetFont(p, ID_LABEL, "Times New Roman", 24, 0, 0);
  hxEndDefinition(p);

  char event[HX_EVENT_BUFSIZE], text[HX_TEXT_SIZE];
  for (;;) {
    if (hxPollEvent(p, event) < 0) return -1;
    int id = 0;
    int kind = hxParseEvent(event, &id, text);
    if (kind == SHUTUP_EVENT) return -1;
    if (kind == QUIET_EVENT) {
      hxUpdateBaseWindow(p);
      continue;
    }
    printEvent(p, kind, id, text);
    if (kind == BUTTON_EVENT && id == ID_BUTTON) {
      hxTerminateModalDialog(p);
      return 1;
    }
    // A key's id is its modifier and an unknown line may carry no id at all: neither is an
    // event of the dialog itself.
    if (id == ID_DIALOG && kind != KEYBOARD_EVENT && kind != UNKNOWN_EVENT) return -1;
  }
}
