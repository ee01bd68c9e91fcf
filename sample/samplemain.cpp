// The sample server's main module: the functions for script bindings, the settings, the
// common printing of events, and the run of the masks by number.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "otrepeatlog.h"
#include "sample.h"

SampleSettings sampleSettings;

PARAM_* getParam(unsigned long p) {
  return reinterpret_cast<PARAM_*>(p);
}

int hxQImageScript(PARAM_* p, int id, int parent, const char* file) {
  hxQImage(p, id, parent, file, nullptr, nullptr, nullptr);
  return 0;
}

int* new_int(int v) {
  return new int(v);
}
int get_int(int* cell) {
  return cell != nullptr ? *cell : 0;
}
void delete_int(int* cell) {
  delete cell;
}

const char* sampleDataPath(const char* name, char* buf, int size) {
  snprintf(buf, (size_t)size, "%s/%s", sampleSettings.dataDir, name);
  return buf;
}

void defineNavigation(PARAM_* p, int first, int parent) {
  static const char* const navigation[] = {"Show Mask1", "Show Mask2", "Show Mask3"};
  for (int k = 0; k < 3; k++) {
    hxQPushButton(p, first + k, parent);
    hxSetGeometry(p, first + k, 0, 30 * k, 100, 30);
    hxSetText(p, first + k, navigation[k]);
  }
}

int nextEvent(PARAM_* p, char* event, char* text, int* id) {
  *id = 0;
  if (hxPollEvent(p, event) < 0) return SHUTUP_EVENT;
  int kind = hxParseEvent(event, id, text);
  if (kind != SHUTUP_EVENT) printEvent(p, kind, *id, text);
  return kind;
}

namespace {

// What a client may make the log repeat: at most one of each a second per connection (its own
// thread), with a
// count, whatever it floods the server with.
thread_local otRepeatLog unknownEvents("UNKNOWN_EVENT: events not understood", 1000);
thread_local otRepeatLog clipboards("CLIPBOARD_EVENT: clipboards", 1000);

// The clipboard as far as the log shows it.
const int kClipboardShown = 256;

}  // namespace

void printEvent(PARAM_* p, int kind, int id, const char* text) {
  int a = 0, b = 0, c = 0;
  char quoted[HX_TEXT_SIZE];
  switch (kind) {
    case QUIET_EVENT:
      break;
    case BUTTON_EVENT:
      printf("BUTTON_EVENT id=%d\n", id);
      break;
    case TEXT_EVENT:
      printf("TEXT_EVENT id=%d %s\n", id, text);
      break;
    case SLIDER_EVENT:
      sscanf(text, "(%d)", &a);
      printf("SLIDER_EVENT val=%d\n", a);
      break;
    case CHECKBOX_EVENT:
      printf("CHECKBOX_EVENT id=%d %s\n", id, text);
      break;
    case RADIOBUTTON_EVENT:
      printf("RADIOBUTTON_EVENT id=%d %s\n", id, text);
      break;
    case GL_DRAW_EVENT:
      printf("you have to call paintGL()\n");
      break;
    case GL_SETUP_EVENT:
      printf("you have to call initializeGL()\n");
      break;
    case GL_SIZE_EVENT:
      printf("you have to call resizeGL(w,h)\n");
      break;
    case TAB_EVENT:
      sscanf(text, "(%d)", &a);
      printf("TAB_EVENT(%d,page=%d)\n", id, a);
      break;
    case TABLE_CLICKED_EVENT:
      sscanf(text, "(%d,%d,%d)", &a, &b, &c);
      printf("TABLE_CLICKED_EVENT(%d,%d,button=%d)\n", a, b, c);
      break;
    case TABLE_TEXT_EVENT:
      sscanf(text, "(%d,%d,", &a, &b);
      hxGetText(text, quoted);
      printf("TABLE_TEXT_EVENT(%d,%d,\"%s\")\n", a, b, quoted);
      break;
    case SELECTION_EVENT:
      sscanf(text, "(%d,", &a);
      hxGetText(text, quoted);
      printf("SELECTION_EVENT(column=%d,\"%s\")\n", a, quoted);
      break;
    case CLIPBOARD_EVENT: {
      const char* clip = p->clipboard != nullptr ? p->clipboard : "";
      int len = (int)strnlen(clip, (size_t)p->clipboardLength);
      if (len <= kClipboardShown)
        clipboards.say("CLIPBOARD_EVENT(id=%d)\nclipboard = \n%s\n", id, clip);
      else
        clipboards.say("CLIPBOARD_EVENT(id=%d)\nclipboard = \n%.*s... (%d bytes)\n", id,
                       kClipboardShown, clip, p->clipboardLength);
      break;
    }
    case BUTTON_PRESSED_EVENT:
      printf("BUTTON_PRESSED_EVENT id=%d\n", id);
      break;
    case BUTTON_RELEASED_EVENT:
      printf("BUTTON_RELEASED_EVENT id=%d\n", id);
      break;
    case RIGHT_MOUSE_EVENT:
      printf("RIGHT_MOUSE_EVENT id=%d\n", id);
      break;
    case KEYBOARD_EVENT:
      sscanf(text, "(%d", &a);
      printf("KEYBOARD_EVENT modifier=%d key=%d\n", id, a);
      break;
    default:
      unknownEvents.say("UNKNOWN_EVENT id=%d %.256s\n", id, text);
      break;
  }
  fflush(stdout);
}
