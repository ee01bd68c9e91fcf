// The commands from server to client: one line each, built whole before anything is sent, so a
// text that does not fit or a bad argument sends nothing.
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "hxserver.h"
#include "hxserver_p.h"
#include "otinterpreter.h"
#include "otnumber.h"

namespace {

// Writes v so that it reads back as the same double, with '.' as decimal point whatever the
// locale (a display server may run under a locale with a decimal comma). Returns the length.
int formatDouble(double v, char* out, int size) {
  int n = otFormatShortest(out, size, v);
  if (n < 0) out[0] = '\0';
  return n < 0 ? 0 : n;
}

// One line "name(arg,...)\n" of at most HX_MAX_LINE bytes.
class LineBuilder {
 public:
  explicit LineBuilder(const char* name) : len(0), args(0), bad(false) {
    // A name is what the client dispatches on; a line feed or parenthesis in it would make
    // another line or other arguments of it.
    size_t n = name ? strlen(name) : 0;
    if (n == 0 || n > 63 || strpbrk(name, "(),\" \r\n") != nullptr) {
      bad = true;
      return;
    }
    append(name, (int)n);
    put('(');
  }

  void integer(int v) {
    char num[16];
    separate();
    append(num, snprintf(num, sizeof num, "%d", v));
  }
  void number(double v) {
    char num[40];
    if (!isfinite(v)) bad = true;
    separate();
    append(num, formatDouble(v, num, sizeof num));
  }
  void text(const char* t) {
    if (t == nullptr) {
      bad = true;
      return;
    }
    separate();
    put('"');
    if (bad) return;
    int n = otInterpreter::escapeString(t, buf + len, HX_MAX_LINE + 1 - len);
    if (n < 0) {
      bad = true;
      return;
    }
    len += n;
    put('"');
  }
  void fail() { bad = true; }
  // The finished line and its length, or -1.
  int finish() {
    put(')');
    put('\n');
    return bad ? -1 : len;
  }
  const char* line() const { return buf; }

 private:
  void separate() {
    if (args++ > 0) put(',');
  }
  void put(char c) { append(&c, 1); }
  void append(const char* s, int n) {
    if (bad) return;
    if (len + n > HX_MAX_LINE) {
      bad = true;
      return;
    }
    memcpy(buf + len, s, (size_t)n);
    len += n;
    buf[len] = '\0';
  }

  char buf[HX_MAX_LINE + 1];
  int len;
  int args;
  bool bad;
};

int sendLine(PARAM_* p, LineBuilder& b) {
  int len = b.finish();
  if (len < 0) return -1;
  return hxtcpsend_binary(p, b.line(), len) < 0 ? -1 : 0;
}

// An id of the current mask; before the first definition any id that is not negative.
bool validId(const PARAM_* p, int id) {
  return id >= 0 && (p->idCount <= 0 || id < p->idCount);
}

bool validIds(const PARAM_* p, int id, int parent) {
  return p != nullptr && validId(p, id) && validId(p, parent);
}

bool validColor(int r, int g, int b) {
  return r >= 0 && r <= 255 && g >= 0 && g <= 255 && b >= 0 && b <= 255;
}

// Appends the arguments of a signature of i (int), f (double) and s (text).
void appendArgs(LineBuilder& b, const char* signature, va_list ap) {
  if (signature == nullptr) {
    b.fail();
    return;
  }
  for (const char* c = signature; *c; c++) {
    switch (*c) {
      case 'i':
        b.integer(va_arg(ap, int));
        break;
      case 'f':
        b.number(va_arg(ap, double));
        break;
      case 's':
        b.text(va_arg(ap, const char*));
        break;
      default:
        b.fail();
        break;
    }
  }
}

// A command on one widget: (id) and further arguments by signature.
int onWidget(PARAM_* p, const char* name, const char* signature, int id, ...) {
  if (p == nullptr || !validId(p, id)) return -1;
  LineBuilder b(name);
  b.integer(id);
  va_list ap;
  va_start(ap, id);
  appendArgs(b, signature, ap);
  va_end(ap);
  return sendLine(p, b);
}

// A constructor: (id,parent) and further arguments by signature.
int constructor(PARAM_* p, const char* cls, const char* signature, int id, int parent, ...) {
  if (!validIds(p, id, parent)) return -1;
  LineBuilder b(cls);
  b.integer(id);
  b.integer(parent);
  va_list ap;
  va_start(ap, parent);
  appendArgs(b, signature, ap);
  va_end(ap);
  return sendLine(p, b);
}

// Keeps the range of a widget that reports values, once its command went out (result 0): an
// event outside it is refused (hxPollEvent).
int withRange(PARAM_* p, int id, double min, double max, int result) {
  if (result == 0 && p != nullptr) p->ranges[id] = {fmin(min, max), fmax(min, max)};
  return result;
}

}  // namespace

int hxSendCommand(PARAM_* p, const char* name, const char* signature, ...) {
  if (p == nullptr) return -1;
  LineBuilder b(name);
  va_list ap;
  va_start(ap, signature);
  appendArgs(b, signature, ap);
  va_end(ap);
  return sendLine(p, b);
}

// ---- Masks ----------------------------------------------------------------------------------

int hxStartDefinition(PARAM_* p, int id_count) {
  if (p == nullptr || id_count < 1 || id_count > HX_MAX_MASK_IDS) return -1;
  if (hxSendCommand(p, "startDefinition", "i", id_count) < 0) return -1;
  p->idCount = id_count;
  p->ranges.clear();
  return 0;
}

int hxEndDefinition(PARAM_* p) {
  return hxSendCommand(p, "endDefinition", "");
}

int hxTerminateModalDialog(PARAM_* p) {
  if (p == nullptr) return -1;
  if (p->modalDepth > 0) {
    if (p->modalTerminated) return 0;
    p->modalTerminated = 1;
    p->idCount = p->baseIdCount;
    p->baseUpdate = 0;
  }
  return hxSendCommand(p, "terminateModalDialog", "");
}

// ---- Constructors ---------------------------------------------------------------------------

// The widgets that take (id,parent) only.
#define HX_WIDGET(function, cls)                \
  int function(PARAM_* p, int id, int parent) { \
    return constructor(p, cls, "", id, parent); \
  }

HX_WIDGET(hxQWidget, "QWidget")
HX_WIDGET(hxQPushButton, "QPushButton")
HX_WIDGET(hxQLabel, "QLabel")
HX_WIDGET(hxQLineEdit, "QLineEdit")
int hxQComboBox(PARAM_* p, int id, int parent, int editable, int policy) {
  return constructor(p, "QComboBox", "ii", id, parent, editable, policy);
}
int hxQLCDNumber(PARAM_* p, int id, int parent, int numDigits, int segmentStyle, int mode) {
  return constructor(p, "QLCDNumber", "iii", id, parent, numDigits, segmentStyle, mode);
}
int hxQSlider(PARAM_* p, int id, int parent, int min, int max, int step, int value,
              int orientation) {
  return withRange(
      p, id, min, max,
      constructor(p, "QSlider", "iiiii", id, parent, min, max, step, value, orientation));
}
int hxQButtonGroup(PARAM_* p, int id, int parent, int columns, int orientation, const char* title) {
  return constructor(p, "QButtonGroup", "iis", id, parent, columns, orientation, title);
}
HX_WIDGET(hxQRadioButton, "QRadioButton")
HX_WIDGET(hxQCheckBox, "QCheckBox")
int hxQFrame(PARAM_* p, int id, int parent, int shape, int shadow, int lineWidth, int margin) {
  return constructor(p, "QFrame", "iiii", id, parent, shape, shadow, lineWidth, margin);
}
int hxQGroupBox(PARAM_* p, int id, int parent, int columns, int orientation, const char* title) {
  return constructor(p, "QGroupBox", "iis", id, parent, columns, orientation, title);
}
HX_WIDGET(hxQTabWidget, "QTabWidget")
HX_WIDGET(hxQToolBox, "QToolBox")
int hxQSpinBox(PARAM_* p, int id, int parent, int min, int max, int step) {
  return withRange(p, id, min, max, constructor(p, "QSpinBox", "iii", id, parent, min, max, step));
}
int hxQDial(PARAM_* p, int id, int parent, int min, int max, int step, int value) {
  return withRange(p, id, min, max,
                   constructor(p, "QDial", "iiii", id, parent, min, max, step, value));
}
int hxQProgressBar(PARAM_* p, int id, int parent, int totalSteps, int orientation) {
  return constructor(p, "QProgressBar", "ii", id, parent, totalSteps, orientation);
}
int hxQMultiLineEdit(PARAM_* p, int id, int parent, int editable, int maxLines) {
  return constructor(p, "QMultiLineEdit", "ii", id, parent, editable, maxLines);
}
HX_WIDGET(hxQTextBrowser, "QTextBrowser")
HX_WIDGET(hxQListView, "QListView")
HX_WIDGET(hxQListBox, "QListBox")
HX_WIDGET(hxQIconView, "QIconView")
int hxQTable(PARAM_* p, int id, int parent, int rows, int columns) {
  if (rows < 0 || rows > HX_MAX_MASK_IDS || columns < 0 || columns > HX_MAX_MASK_IDS) return -1;
  return constructor(p, "QTable", "ii", id, parent, rows, columns);
}
HX_WIDGET(hxQDateEdit, "QDateEdit")
HX_WIDGET(hxQTimeEdit, "QTimeEdit")
HX_WIDGET(hxQDateTimeEdit, "QDateTimeEdit")
int hxQwtPlot(PARAM_* p, int id, int parent, int curves, int markers) {
  if (curves < 0 || markers < 0) return -1;
  return constructor(p, "QwtPlot", "ii", id, parent, curves, markers);
}
int hxQwtScale(PARAM_* p, int id, int parent, int position) {
  return constructor(p, "QwtScale", "i", id, parent, position);
}
HX_WIDGET(hxQwtThermo, "QwtThermo")
HX_WIDGET(hxQwtKnob, "QwtKnob")
HX_WIDGET(hxQwtCounter, "QwtCounter")
HX_WIDGET(hxQwtWheel, "QwtWheel")
int hxQwtSlider(PARAM_* p, int id, int parent, int orientation) {
  return constructor(p, "QwtSlider", "i", id, parent, orientation);
}
HX_WIDGET(hxQwtDial, "QwtDial")
HX_WIDGET(hxQwtCompass, "QwtCompass")
HX_WIDGET(hxQwtAnalogClock, "QwtAnalogClock")
HX_WIDGET(hxQVtkTclWidget, "QVtkTclWidget")
HX_WIDGET(hxQDraw, "QDraw")
HX_WIDGET(hxQGL, "QGL")

int hxGlUpdate(PARAM_* p, int id) {
  return onWidget(p, "glUpdate", "", id);
}

// ---- Setters --------------------------------------------------------------------------------

int hxSetGeometry(PARAM_* p, int id, int x, int y, int w, int h) {
  return onWidget(p, "setGeometry", "iiii", id, x, y, w, h);
}
int hxMove(PARAM_* p, int id, int x, int y) {
  return onWidget(p, "move", "ii", id, x, y);
}
int hxResize(PARAM_* p, int id, int w, int h) {
  return onWidget(p, "resize", "ii", id, w, h);
}
int hxShow(PARAM_* p, int id) {
  return onWidget(p, "show", "", id);
}
int hxHide(PARAM_* p, int id) {
  return onWidget(p, "hide", "", id);
}
int hxSetEnabled(PARAM_* p, int id, int on) {
  return onWidget(p, "setEnabled", "i", id, on ? 1 : 0);
}
int hxSetText(PARAM_* p, int id, const char* text) {
  return onWidget(p, "setText", "s", id, text);
}

int hxPrintf(PARAM_* p, int id, const char* format, ...) {
  if (format == nullptr) return -1;
  char text[HX_MAX_LINE];
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  if (n < 0 || n >= (int)sizeof text) return -1;
  return hxSetText(p, id, text);
}

int hxSetFont(PARAM_* p, int id, const char* family, int pointsize, int bold, int italic) {
  if (pointsize <= 0) return -1;
  return onWidget(p, "setFont", "siii", id, family, pointsize, bold ? 1 : 0, italic ? 1 : 0);
}
int hxSetBackgroundColor(PARAM_* p, int id, int r, int g, int b) {
  if (!validColor(r, g, b)) return -1;
  return onWidget(p, "setBackgroundColor", "iii", id, r, g, b);
}
int hxSetForegroundColor(PARAM_* p, int id, int r, int g, int b) {
  if (!validColor(r, g, b)) return -1;
  return onWidget(p, "setForegroundColor", "iii", id, r, g, b);
}
int hxSetToolTip(PARAM_* p, int id, const char* text) {
  return onWidget(p, "setToolTip", "s", id, text);
}
int hxSetChecked(PARAM_* p, int id, int on) {
  return onWidget(p, "setChecked", "i", id, on ? 1 : 0);
}
int hxSetValue(PARAM_* p, int id, int value) {
  return onWidget(p, "setValue", "i", id, value);
}
int hxSetFloat(PARAM_* p, int id, double value) {
  return onWidget(p, "setFloat", "f", id, value);
}
int hxSetRange(PARAM_* p, int id, double min, double max, double step) {
  return withRange(p, id, min, max, onWidget(p, "setRange", "fff", id, min, max, step));
}
int hxDisplayNum(PARAM_* p, int id, int n) {
  return onWidget(p, "displayNum", "i", id, n);
}
int hxDisplayFloat(PARAM_* p, int id, double value) {
  return onWidget(p, "displayFloat", "f", id, value);
}
int hxDisplayStr(PARAM_* p, int id, const char* text) {
  return onWidget(p, "displayStr", "s", id, text);
}
int hxAddItem(PARAM_* p, int id, const char* text) {
  return onWidget(p, "addItem", "s", id, text);
}
int hxClear(PARAM_* p, int id) {
  return onWidget(p, "clear", "", id);
}
int hxAddTab(PARAM_* p, int id, int child, const char* title) {
  if (!validIds(p, id, child)) return -1;
  return onWidget(p, "addTab", "is", id, child, title);
}
int hxSetNumRows(PARAM_* p, int id, int n) {
  if (n < 0 || n > HX_MAX_MASK_IDS) return -1;
  return onWidget(p, "setNumRows", "i", id, n);
}
int hxSetNumCols(PARAM_* p, int id, int n) {
  if (n < 0 || n > HX_MAX_MASK_IDS) return -1;
  return onWidget(p, "setNumCols", "i", id, n);
}
int hxSetTableText(PARAM_* p, int id, int x, int y, const char* text) {
  // -1 addresses a header.
  if (x < -1 || y < -1) return -1;
  return onWidget(p, "setTableText", "iis", id, x, y, text);
}
int hxPlotCurve(PARAM_* p, int id, int curve, const char* title) {
  if (curve < 0) return -1;
  return onWidget(p, "plotCurve", "is", id, curve, title);
}

int hxPlotData(PARAM_* p, int id, int curve, const double* x, const double* y, int n) {
  if (p == nullptr || !validId(p, id) || curve < 0 || n < 0 || n > HX_MAX_PLOT_POINTS) return -1;
  if (n > 0 && (x == nullptr || y == nullptr)) return -1;
  for (int i = 0; i < n; i++)
    if (!isfinite(x[i]) || !isfinite(y[i])) return -1;
  // The point lines go out in chunks; the lock keeps other senders out of the block.
  std::vector<char> chunk;
  chunk.reserve(65536);
  hxlock(p);
  int r = onWidget(p, "plotData", "ii", id, curve, n);
  for (int i = 0; i < n && r == 0; i++) {
    char point[96];
    int len = formatDouble(x[i], point, 40);
    point[len++] = ',';
    len += formatDouble(y[i], point + len, 40);
    point[len++] = '\n';
    chunk.insert(chunk.end(), point, point + len);
    if (chunk.size() >= 65000 || i == n - 1) {
      if (hxtcpsend_binary(p, chunk.data(), (int)chunk.size()) < 0) r = -1;
      chunk.clear();
    }
  }
  hxunlock(p);
  return r;
}

int hxReplot(PARAM_* p, int id) {
  return onWidget(p, "replot", "", id);
}
int hxStatusMessage(PARAM_* p, int r, int g, int b, const char* text) {
  if (!validColor(r, g, b)) return -1;
  return hxSendCommand(p, "statusMessage", "iiis", r, g, b, text);
}
int hxPrint(PARAM_* p, int id) {
  return onWidget(p, "print", "", id);
}

int hxPlaySound(PARAM_* p, const char* file) {
  return hxSendCommand(p, "playSound", "s", file);
}
int hxVtkTclScript(PARAM_* p, int id, const char* file) {
  return onWidget(p, "vtkTclScript", "s", id, file);
}

int hxVtkTclPrintf(PARAM_* p, int id, const char* format, ...) {
  if (format == nullptr) return -1;
  char text[HX_MAX_LINE];
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  if (n < 0 || n >= (int)sizeof text) return -1;
  return onWidget(p, "vtkTclPrintf", "s", id, text);
}
