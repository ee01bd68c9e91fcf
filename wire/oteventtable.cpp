#include "oteventtable.h"

#include <string.h>

namespace {

const otEventInfo kEvents[] = {
    {"QPushButton", BUTTON_EVENT, "i", otRestTail},
    {"text", TEXT_EVENT, "is", otRestText},
    {"slider", SLIDER_EVENT, "ii", otRestArgs},
    {"check", CHECKBOX_EVENT, "is", otRestText},
    {"radio", RADIOBUTTON_EVENT, "is", otRestText},
    {"glIdle", GL_TICK_EVENT, "i", otRestNone},
    {"glPaint", GL_DRAW_EVENT, "i", otRestNone},
    // What the client's GL widget sends when it wants to be drawn.
    {"paintGL", GL_DRAW_EVENT, "i", otRestNone},
    {"glInitialize", GL_SETUP_EVENT, "i", otRestNone},
    {"resizeGL", GL_SIZE_EVENT, "iii", otRestArgs},
    {"tab", TAB_EVENT, "ii", otRestArgs},
    {"tableClicked", TABLE_CLICKED_EVENT, "iiii", otRestArgs},
    {"tableText", TABLE_TEXT_EVENT, "iiis", otRestArgs},
    {"selection", SELECTION_EVENT, "iis", otRestArgs},
    {"@clipboard", CLIPBOARD_EVENT, "ii", otRestNone},
    {"QPushButtonPressed", BUTTON_PRESSED_EVENT, "i", otRestNone},
    {"QPlotMousePressed", BUTTON_PRESSED_EVENT, "iii", otRestArgs},
    {"QPushButtonReleased", BUTTON_RELEASED_EVENT, "i", otRestTail},
    {"QPlotMouseReleased", BUTTON_RELEASED_EVENT, "iii", otRestArgs},
    {"QMouseRight", RIGHT_MOUSE_EVENT, "i", otRestNone},
    {"key", KEYBOARD_EVENT, "ii", otRestArgs},
    {"shutup", SHUTUP_EVENT, "", otRestNone},
    {"login", LOGIN_EVENT, "ss", otRestNone},
};

}  // namespace

const otEventInfo* otEvents(int* count) {
  if (count != nullptr) *count = (int)(sizeof(kEvents) / sizeof(kEvents[0]));
  return kEvents;
}

const otEventInfo* otEventNamed(const char* name) {
  if (name == nullptr) return nullptr;
  for (const otEventInfo& e : kEvents) {
    if (strcmp(name, e.name) == 0) return &e;
  }
  return nullptr;
}
