// The event lines a display client sends, as a table of {name, kind, argument signature}: the
// server's parser reads events through it and the client's tests hold what its widgets send
// against it, so that the two ends cannot drift apart. Plain C++ without Qt.
#ifndef OTEVENTTABLE_H
#define OTEVENTTABLE_H

// The event kinds that hxParseEvent returns.
enum {
  SHUTUP_EVENT = -1,  // the client ends the connection
  UNKNOWN_EVENT = 0,
  QUIET_EVENT = 1,
  BUTTON_EVENT = 2,
  TEXT_EVENT = 3,
  SLIDER_EVENT = 4,
  CHECKBOX_EVENT = 5,
  RADIOBUTTON_EVENT = 6,
  GL_TICK_EVENT = 7,
  GL_DRAW_EVENT = 8,
  GL_SETUP_EVENT = 9,
  GL_SIZE_EVENT = 10,
  TAB_EVENT = 11,
  TABLE_CLICKED_EVENT = 12,
  TABLE_TEXT_EVENT = 13,
  SELECTION_EVENT = 14,
  CLIPBOARD_EVENT = 15,
  BUTTON_PRESSED_EVENT = 16,
  BUTTON_RELEASED_EVENT = 17,
  RIGHT_MOUSE_EVENT = 18,
  KEYBOARD_EVENT = 19,
  // The client's answer to a login request. The server's login reads it before any event
  // (otloginline.h); its first argument is no id, so the event parser never hands it on as
  // an event, password and all.
  LOGIN_EVENT = 20
};

// What the server hands on as an event's rest.
enum otEventRest {
  otRestNone,  // ""
  otRestTail,  // the text after ')' (" -xy=x,y" of the image widget)
  otRestText,  // the decoded text of the second argument
  otRestArgs   // the arguments after the id, raw, in parentheses
};

struct otEventInfo {
  const char* name;
  int kind;
  const char* signature;  // i integer, f number, s text (as otCallLine::matches reads it)
  otEventRest rest;
};

// The whole table, count entries. One name may stand in it once only.
const otEventInfo* otEvents(int* count);
// The entry of name, or null for a line that is no event (an answer such as "synced(n)").
const otEventInfo* otEventNamed(const char* name);

#endif
