// The display-server library: the hx calls with which a display server drives a display client
// over one TCP connection (docs/display-protocol.md lists every line). Each connected client
// gets a record PARAM_ and a thread of its own that runs the server's mask functions.
//
// Results are int codes: 0 (or a count) for success, -1 for a closed connection, a text that
// does not fit into one line, or a bad argument. Nothing throws.
//
// Threads: the connection's own thread reads (hxPollEvent, hxWait, hxSync, hxtcpreceive...).
// Any thread may send; every call sends its line whole, and hxlock()/hxunlock() keep a
// multi-line transfer together (the lock is recursive, so hx calls may be made inside it).
#ifndef HXSERVER_H
#define HXSERVER_H

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

#include "oteventtable.h"
#include "otlinereader.h"
#include "otrepeatlog.h"

// The longest line of the protocol, its line feed included.
#define HX_MAX_LINE 16384
// hxPollEvent's buffer: a whole event line (HX_MAX_LINE bytes and the terminating NUL) fits
// in it. The traditional layout of an event buffer, the raw line in the first 1024 bytes and
// the argument text behind it, stays possible: hxParseEvent(buf, &id, buf + 1024) is safe for
// lines of up to 1023 bytes, and buf + 1024 still has HX_TEXT_SIZE bytes.
#define HX_EVENT_BUFSIZE (1024 + HX_MAX_LINE)
// hxParseEvent's rest and hxGetText's out: the longest rest of any event line fits.
#define HX_TEXT_SIZE HX_MAX_LINE
// Bounds of the connection: blocks that a client announces, events queued while waiting.
#define HX_MAX_CLIPBOARD (16 * 1024 * 1024)
#define HX_MAX_DOWNLOAD (64 * 1024 * 1024)
#define HX_MAX_MASK_IDS 100000
#define HX_MAX_PLOT_POINTS 1000000
#define HX_EVENT_QUEUE_LINES 256
#define HX_EVENT_QUEUE_BYTES (1024 * 1024)
// What the clipboards of all connections of a process may hold at once; a clipboard that does
// not fit is read and dropped.
#define HX_CLIPBOARD_BUDGET (64L * 1024 * 1024)
// Time limits of a connection (milliseconds; the PARAM_ fields of the same meaning start with
// them): a send that cannot go on, and the first answer of a client that has sent nothing yet.
#define HX_SEND_TIMEOUT_MS 30000
#define HX_FIRST_ANSWER_MS 5000
// A server says "@alive(HX_ALIVE_MS)" when it has sent nothing for that long, so that a client
// notices a server that is gone without closing the connection.
#define HX_ALIVE_MS 1000

// The event kinds that hxParseEvent returns (SHUTUP_EVENT, BUTTON_EVENT, ...) are those of
// oteventtable.h.

struct hxServer;
struct hxCallState;

// One connected client. The library fills it in before the server's run function is called
// and frees what it holds after that function returns; the fields marked "settable" may be
// changed by the server (in the connection's thread).
typedef struct _PARAM_ {
  _PARAM_(int fd, int pollMs);
  ~_PARAM_();
  _PARAM_(const _PARAM_&) = delete;
  _PARAM_& operator=(const _PARAM_&) = delete;

  int s;                      // the connection's socket (owned by the server, never closed here)
  otLineReader reader;        // every read of the connection goes through it
  std::recursive_mutex lock;  // hxlock/hxunlock; every send holds it
  std::mutex readLock;        // one reader at a time
  int idCount;                // ids of the current mask (hxStartDefinition), 0: none yet
  int pollMs;                 // settable: QUIET_EVENT after this long without an event; 0: none
  int ioTimeoutMs;            // settable: hxWait, hxSync, hxtcpreceive and announced blocks give up
                              // after this long (the connection is then taken as broken); 0: none
  int sendTimeoutMs;          // settable: a send that cannot go on for this long (a client that
                              // does not read) drops the connection; 0: none
  int firstAnswerMs;          // settable: until the client's first line, sends and waits for an
                              // answer give up after this long instead (a silent connection
                              // must not hold a place for long); 0: the limits above
  std::atomic<int> heard;     // 1 once a line came from the client (senders of any thread look)
  int appliedSendLimit;       // the socket's send time-out now (-1: not set yet)
  int aliveMs;                // settable: while reading, "@alive(aliveMs)" goes out when nothing
                              // was sent for so long; 0 (made outside hxRunServer): never
  std::atomic<long long> lastSendMs;  // otMonotonicMs() of the last send
  long maxClipboard;                  // settable: a larger clipboard block is read and dropped
  char* clipboard;        // the last bytes of @clipboard, NUL-terminated; null before the first
  int clipboardLength;    // bytes in clipboard (it may contain NULs)
  void* user;             // free for the server; hxRunServer's user at the start
  std::atomic<int> stop;  // 1: the connection is closed or being closed; every call fails
  int syncCounter;        // the n of the last sync(n)
  // Modal dialog: depth of nested hxRunModalDialog calls, the function that refreshes the
  // base mask, whether the innermost dialog was terminated, the base mask's id count.
  int modalDepth;
  int (*updateBase)(_PARAM_* p);
  int modalTerminated;
  int baseIdCount;
  int modalResult;  // what the last modal function returned
  // While a modal dialog is open: 1 while its commands go to the base mask
  // (hxUpdateBaseWindowOnOff), and the dialog's id count meanwhile.
  int baseUpdate;
  int dialogIdCount;
  // Lines that came while hxWait waited for its reply; hxPollEvent hands them out first.
  // Slider values of one widget replace each other there (the latest wins); what does not fit
  // is dropped. Both are counted (coalescedEvents, droppedEvents) and logged.
  std::deque<std::string> queued;
  long queuedBytes;
  long coalescedEvents;
  long droppedEvents;
  // Ranges of the widgets that report values (hxQSlider, hxQSpinBox, hxQDial, hxSetRange): an
  // event with a value outside its widget's range is refused (counted in refusedValues, logged)
  // and hxPollEvent gives an idle event instead. Cleared by hxStartDefinition.
  std::unordered_map<int, std::pair<double, double>> ranges;
  long refusedValues;
  // Complaints a client can repeat without end, logged with a count.
  otRepeatLog longLines;
  otRepeatLog queueFull;
  otRepeatLog outOfRange;
  otRepeatLog clipboardDropped;
  hxServer* server;  // null when the record was made outside hxRunServer (tests, tools)
  // Output held back while a drawing is open (under lock): sent in large blocks, at the end of
  // the drawing, and before any read, instead of one small segment per line.
  int holdDepth;
  std::string held;
  // What the dialog and global calls keep for the connection (its threads, its cleanup, the
  // point buffer, dialog numbers); ended and freed with the record.
  hxCallState* calls;
  // Who is connected: the user of the login ("-" when the server requires none), the role
  // (OT_ROLE_* of otwritegate.h; a server without a login gives every connection admin, as
  // before there were roles) and the client's address and port ("127.0.0.1:40022").
  std::string loginUser;
  int role;
  std::string peer;
  std::string maskName;  // hxSetMaskName: the mask shown, for the audit trail
} PARAM_;

// ---- Server main ----------------------------------------------------------------------------

struct hxServerOptions {
  const char* bindAddress = nullptr;  // null or "": every IPv4 address
  int port = 5050;
  int maxClients = 100;       // 0: no limit; more clients are refused with a line and closed
  int pollMs = 100;           // the poll interval of every new connection
  int catchSignals = 0;       // hxRunServer: SIGINT and SIGTERM call hxStopServer()
  int aliveMs = HX_ALIVE_MS;  // "@alive(aliveMs)" after so long without a send; 0: never
  // hxRunServer: called once the port is bound and clients can connect (a program that says
  // it is serving before then would send its first clients to a closed port); null: none.
  void (*listening)(int port) = nullptr;
  // Lines that -h prints after the library's own: the program's options; null: none.
  const char* moreUsage = nullptr;
  // TLS: "CERT,KEY" (PEM files) or "auto" (a self-signed certificate kept in stateDir); null:
  // plain TCP. A server with TLS refuses connections that do not begin with a TLS handshake.
  const char* tls = nullptr;
  int tls12 = 0;  // 1: TLS 1.2 is accepted too (else 1.3 only)
  // The server's own files (the certificate of -tls=auto); null: $XDG_STATE_HOME/otkit/NAME
  // or ~/.local/state/otkit/NAME, NAME the program's name.
  const char* stateDir = nullptr;
  const char* programName = nullptr;  // set by hxParseServerArgs from argv[0]
  // The accounts file (secure/otaccounts.h): every connection must log in first; null: none.
  const char* accounts = nullptr;
  // The audit trail: every write request a connection's thread posts through the device
  // clients is appended to this file (secure/otaudit.h); null: none.
  const char* audit = nullptr;
};

// Where a server listens when no -bind names an address: every address when it has TLS or
// requires a login, else only the loopback address (it says so at start).
#define HX_SAFE_BIND "127.0.0.1"

// Reads -port=N, -bind=ADDR, -maxclients=N, -poll=MS, -tls=CERT,KEY|auto, -tls12, -state=DIR,
// -accounts=FILE, -audit=FILE, -log=LEVEL and -h into o (which keeps its values for
// options not given). Other arguments are left to the program. Returns 0; 1 after -h (the
// usage is printed); -1 for a value that is not a number in range (a message is printed).
int hxParseServerArgs(int argc, char** argv, hxServerOptions* o);

// Serves every client in a thread of its own, where run(p) is called with a fresh record, until
// hxStopServer() is called. Returns 0 after the stop, -1 when the port cannot be bound.
int hxRunServer(const hxServerOptions* o, int (*run)(PARAM_* p), void* user);
// Makes hxRunServer return: closes every connection and waits for their threads. Async-signal-
// safe (a signal handler may call it). A stop requested before hxRunServer starts makes it
// return at once.
void hxStopServer();

// The same without blocking (for tests and programs with a main loop of their own): null when
// the port cannot be bound. hxServerStop closes every connection, waits for the threads and
// frees s; it must not be called from a connection's own thread (hxStopServer may).
hxServer* hxServerStart(const hxServerOptions* o, int (*run)(PARAM_* p), void* user);
int hxServerPort(const hxServer* s);
int hxServerClients(const hxServer* s);
void hxServerStop(hxServer* s);

// Runs mask functions by number: masks[first](p), then the mask whose number it returned, and
// so on. Returns the number that ended the run (outside 0..count-1, or a null entry), or -1 when
// the connection closed.
int hxRunMasks(PARAM_* p, int (*const masks[])(PARAM_*), int count, int first);

// ---- Who is connected -----------------------------------------------------------------------

// The connection's user ("-" without a login) and role (OT_ROLE_VIEWER .. OT_ROLE_ADMIN).
const char* hxUser(PARAM_* p);
int hxRole(PARAM_* p);
// Names the mask being shown (for the audit trail of the writes made from it).
void hxSetMaskName(PARAM_* p, const char* name);
// A mask that needs a role calls this first: 0 when the connection's role is at least role
// (the mask is named as by hxSetMaskName); -1 otherwise, when the refusal is logged and the
// client is told with a message line (the mask is not to be built).
int hxRequireRole(PARAM_* p, int role, const char* mask);

// ---- Connection I/O -------------------------------------------------------------------------

// Send len bytes (hxtcpsend: len < 0 sends strlen(buf)). len, or -1 (the connection is then
// marked closed).
int hxtcpsend(PARAM_* p, const char* buf, int len);
int hxtcpsend_binary(PARAM_* p, const void* buf, int len);
// Output holding, for extensions that send many lines as one (the GL encoder): hxHoldOutput
// takes hxlock and keeps what is sent until the outermost hold ends; hxReleaseOutput then
// sends it and gives hxlock back: 0, or -1 when that send failed. hxFlushHeld sends what is
// held unless another thread has the lock (it sends it when its hold ends).
void hxHoldOutput(PARAM_* p);
int hxReleaseOutput(PARAM_* p);
void hxFlushHeld(PARAM_* p);
// One line with its '\n', NUL-terminated, into buf of maxlen bytes: its length; -2 for a line
// that does not fit (it is dropped whole); -1 closed or nothing within ioTimeoutMs.
int hxtcpreceive(PARAM_* p, char* buf, int maxlen);
// Exactly len bytes: len, or -1 (closed or not within ioTimeoutMs).
int hxtcpreceive_binary(PARAM_* p, void* buf, int len);
int hxlock(PARAM_* p);
int hxunlock(PARAM_* p);
// Reads lines until one begins with pattern; the lines before it are queued for hxPollEvent.
// 0, or -1 closed, not within ioTimeoutMs, or the client said "shutup" (queued for the poll).
int hxWait(PARAM_* p, const char* pattern);
// Sends sync(n) and waits for synced(n): every line sent before has been carried out.
int hxSync(PARAM_* p);

// A line "name(args)\n" built from a signature of i (int), f (double) and s (text, escaped and
// quoted), sent whole. -1 for a null text, a number that is not finite, or a line above
// HX_MAX_LINE bytes.
int hxSendCommand(PARAM_* p, const char* name, const char* signature, ...);

// ---- Masks and dialogs ----------------------------------------------------------------------

int hxStartDefinition(PARAM_* p, int id_count);  // 1..HX_MAX_MASK_IDS
int hxEndDefinition(PARAM_* p);
// Sends modalDialog(w,h), runs modal(p) in this thread (it defines and serves the dialog's
// mask), then closes the dialog unless modal did so with hxTerminateModalDialog. updateBase
// (may be null) is what hxUpdateBaseWindow calls meanwhile. modal's result is left in
// p->modalResult. 0, or -1 (closed connection, null modal).
int hxRunModalDialog(PARAM_* p, int w, int h, int (*modal)(PARAM_*), int (*updateBase)(PARAM_*));
// Inside a modal dialog: calls its updateBase with the base mask as the target on both sides
// (its ids, and the client's widgets: hxUpdateBaseWindowOnOff around it) and returns its
// result; 0 when there is none.
int hxUpdateBaseWindow(PARAM_* p);
// Closes the modal dialog; hxPollEvent then returns -1 to the modal function, which should
// return, and leaves the following events to the base mask.
int hxTerminateModalDialog(PARAM_* p);

// ---- Constructors: (p, id, parent, ...) -----------------------------------------------------

int hxQWidget(PARAM_* p, int id, int parent);
int hxQPushButton(PARAM_* p, int id, int parent);
int hxQLabel(PARAM_* p, int id, int parent);
int hxQLineEdit(PARAM_* p, int id, int parent);
int hxQComboBox(PARAM_* p, int id, int parent, int editable, int policy);
int hxQLCDNumber(PARAM_* p, int id, int parent, int numDigits, int segmentStyle, int mode);
int hxQSlider(PARAM_* p, int id, int parent, int min, int max, int step, int value,
              int orientation);
int hxQButtonGroup(PARAM_* p, int id, int parent, int columns, int orientation, const char* title);
int hxQRadioButton(PARAM_* p, int id, int parent);
int hxQCheckBox(PARAM_* p, int id, int parent);
int hxQFrame(PARAM_* p, int id, int parent, int shape, int shadow, int lineWidth, int margin);
int hxQGroupBox(PARAM_* p, int id, int parent, int columns, int orientation, const char* title);
int hxQTabWidget(PARAM_* p, int id, int parent);
int hxQToolBox(PARAM_* p, int id, int parent);
int hxQSpinBox(PARAM_* p, int id, int parent, int min, int max, int step);
int hxQDial(PARAM_* p, int id, int parent, int min, int max, int step, int value);
int hxQProgressBar(PARAM_* p, int id, int parent, int totalSteps, int orientation);
int hxQMultiLineEdit(PARAM_* p, int id, int parent, int editable, int maxLines);
int hxQTextBrowser(PARAM_* p, int id, int parent);
int hxQListView(PARAM_* p, int id, int parent);
int hxQListBox(PARAM_* p, int id, int parent);
int hxQIconView(PARAM_* p, int id, int parent);
int hxQTable(PARAM_* p, int id, int parent, int rows, int columns);
int hxQDateEdit(PARAM_* p, int id, int parent);
int hxQTimeEdit(PARAM_* p, int id, int parent);
int hxQDateTimeEdit(PARAM_* p, int id, int parent);
int hxQwtPlot(PARAM_* p, int id, int parent, int curves, int markers);
int hxQwtScale(PARAM_* p, int id, int parent, int position);
int hxQwtThermo(PARAM_* p, int id, int parent);
int hxQwtKnob(PARAM_* p, int id, int parent);
int hxQwtCounter(PARAM_* p, int id, int parent);
int hxQwtWheel(PARAM_* p, int id, int parent);
int hxQwtSlider(PARAM_* p, int id, int parent, int orientation);
int hxQwtDial(PARAM_* p, int id, int parent);
int hxQwtCompass(PARAM_* p, int id, int parent);
int hxQwtAnalogClock(PARAM_* p, int id, int parent);
int hxQVtkTclWidget(PARAM_* p, int id, int parent);
// A drawing widget: the target of gBeginDraw(p, id) ... gEndDraw(p).
int hxQDraw(PARAM_* p, int id, int parent);
// A GL widget: the target of hxGlBegin(p, id) ... hxGlEnd(p) (the GL encoder, hxglencode.h).
int hxQGL(PARAM_* p, int id, int parent);
// Asks GL widget id to repaint: the client answers with a GL_DRAW_EVENT, which the server
// answers with a new GL block.
int hxGlUpdate(PARAM_* p, int id);

// ---- Setters --------------------------------------------------------------------------------
// Ids must lie in 0..idCount-1 of the current mask (any id >= 0 before the first definition).

int hxSetGeometry(PARAM_* p, int id, int x, int y, int w, int h);
int hxMove(PARAM_* p, int id, int x, int y);
int hxResize(PARAM_* p, int id, int w, int h);
int hxShow(PARAM_* p, int id);
int hxHide(PARAM_* p, int id);
int hxSetEnabled(PARAM_* p, int id, int on);
int hxSetText(PARAM_* p, int id, const char* text);
// Formats into one line's room, then setText; -1 (nothing sent) when the text does not fit.
int hxPrintf(PARAM_* p, int id, const char* format, ...) __attribute__((format(printf, 3, 4)));
int hxSetFont(PARAM_* p, int id, const char* family, int pointsize, int bold, int italic);
int hxSetBackgroundColor(PARAM_* p, int id, int r, int g, int b);  // 0..255 each
int hxSetForegroundColor(PARAM_* p, int id, int r, int g, int b);
int hxSetToolTip(PARAM_* p, int id, const char* text);
int hxSetChecked(PARAM_* p, int id, int on);
int hxSetValue(PARAM_* p, int id, int value);
int hxSetFloat(PARAM_* p, int id, double value);
int hxSetRange(PARAM_* p, int id, double min, double max, double step);
int hxDisplayNum(PARAM_* p, int id, int n);
int hxDisplayFloat(PARAM_* p, int id, double value);
int hxDisplayStr(PARAM_* p, int id, const char* text);
int hxAddItem(PARAM_* p, int id, const char* text);
int hxClear(PARAM_* p, int id);
int hxAddTab(PARAM_* p, int id, int child, const char* title);
int hxSetNumRows(PARAM_* p, int id, int n);  // 0..HX_MAX_MASK_IDS
int hxSetNumCols(PARAM_* p, int id, int n);
int hxSetTableText(PARAM_* p, int id, int x, int y, const char* text);
int hxPlotCurve(PARAM_* p, int id, int curve, const char* title);
// plotData(id,curve,n) and n lines "x,y", sent together; 0 <= n <= HX_MAX_PLOT_POINTS, every
// value finite (checked before anything is sent).
int hxPlotData(PARAM_* p, int id, int curve, const double* x, const double* y, int n);
int hxReplot(PARAM_* p, int id);
int hxStatusMessage(PARAM_* p, int r, int g, int b, const char* text);
int hxPrint(PARAM_* p, int id);
// Sends the local file as @download("basename",n) and its n bytes (at most HX_MAX_DOWNLOAD);
// -1 when it cannot be read.
int hxDownloadFile(PARAM_* p, const char* filename);
int hxPlaySound(PARAM_* p, const char* file);
int hxVtkTclScript(PARAM_* p, int id, const char* file);
int hxVtkTclPrintf(PARAM_* p, int id, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// ---- Events ---------------------------------------------------------------------------------

// The next event line, without its line feed, into buf of HX_EVENT_BUFSIZE bytes: a line that
// came while hxWait waited, else one read within the poll interval, else "idle". After an
// @clipboard(id,n) line its n bytes are the record's clipboard (a block above maxClipboard is
// read and dropped: the clipboard is then empty). Over-long lines are dropped (once said on
// standard output). 0, or -1 when the connection is closed (or the modal dialog terminated).
int hxPollEvent(PARAM_* p, char* buf);
// The kind of an event line (the enum above; 0 for other lines, -1 for shutup), the widget id
// (the modifier for KEYBOARD_EVENT; 0 when the line has none) and rest as the protocol
// document gives it. rest holds HX_TEXT_SIZE bytes (it may be buf + 1024, see above);
// hxParseEventN takes its size: a rest that would not fit gives kind 0 and rest "".
int hxParseEvent(const char* buf, int* id, char* rest);
int hxParseEventN(const char* buf, int* id, char* rest, int restSize);
// The first quoted text of rest, escapes undone, into out of HX_TEXT_SIZE bytes (hxGetTextN:
// outSize bytes). Its length, or -1 (out "") when rest holds no quoted text or it does not
// fit.
int hxGetText(const char* rest, char* out);
int hxGetTextN(const char* rest, char* out, int outSize);

// ---- Drawing --------------------------------------------------------------------------------
// The drawing stream of a drawing widget, one call per line (docs/display-protocol.md,
// "Drawing stream"), written byte for byte in the stream's formats with '.' as the decimal
// point whatever the locale. gBeginDraw holds hxlock until gEndDraw, so no other thread's line
// can land inside a drawing: other threads' calls wait until gEndDraw, which must be called by
// the thread that called gBeginDraw.
//
// The lines of a drawing are collected and go out in blocks of 64 KiB, at gEndDraw and before
// any read on the connection, so a frame costs a few sends instead of one per line.
//
// Results: 0, or -1 with nothing sent for a null pointer, a closed connection, a number that is
// not finite, an argument out of range, or a line the widget could not read whole. A connection
// lost while a drawing is open shows at the latest in the result of gEndDraw. The widget
// reads lines of at most HX_MAX_DRAW_LINE bytes (point lines HX_MAX_DRAW_POINT_LINE), and its
// texts travel in double quotes without an escape: a text holding a double quote or a control
// character (a line feed would start a line of its own) is refused.
#define HX_MAX_DRAW_LINE 4094       // bytes, the line feed included
#define HX_MAX_DRAW_POINT_LINE 78   // bytes of a point line, the line feed included
#define HX_MAX_DRAW_POINTS 1000000  // points of gLine and corners of gDrawPolygon
#define HX_MAX_DRAW_TICKS 10000     // ticks of an axis, lines of a grid

// gbeginDraw(id): the following lines draw on drawing widget id (of the current mask).
int gBeginDraw(PARAM_* p, int id);
// gendDraw: the widget shows the picture. -1 (nothing sent) when this thread has no drawing
// open on p; the lock is given back even when the line cannot be sent.
int gEndDraw(PARAM_* p);

// Pixel coordinates. gBox also sets the axis box in which the value calls draw.
int gBox(PARAM_* p, int x, int y, int w, int h);
int gRect(PARAM_* p, int x, int y, int w, int h);
int gMoveTo(PARAM_* p, int x, int y);
int gLineTo(PARAM_* p, int x, int y);
// Angles in degrees, counter-clockwise from three o'clock.
int gDrawArc(PARAM_* p, int x, int y, int w, int h, int start, int span);
int gDrawPie(PARAM_* p, int x, int y, int w, int h, int start, int span);
// A filled polygon of n corners (0..HX_MAX_DRAW_POINTS).
int gDrawPolygon(PARAM_* p, const int* x, const int* y, int n);
// alignment: 0 left, 1 centred, 2 right, 3 vertical.
int gText(PARAM_* p, int x, int y, int alignment, const char* text);

// Value coordinates in the axis box. A polyline of n points (0..HX_MAX_DRAW_POINTS); each
// point line must fit HX_MAX_DRAW_POINT_LINE (values of magnitude below about 1e30).
int gLine(PARAM_* p, const float* x, const float* y, int n);
int gTextInAxis(PARAM_* p, double x, double y, int alignment, const char* text);
// Scales from start to end in steps of delta, drawn when draw is not 0. delta must be above 0
// as the widget reads it, and a scale holds at most HX_MAX_DRAW_TICKS steps: the widget's tick
// and grid loops would otherwise not end.
int gXAxis(PARAM_* p, double start, double delta, double end, int draw);
int gYAxis(PARAM_* p, double start, double delta, double end, int draw);
int gRightYAxis(PARAM_* p, double start, double delta, double end, int draw);
int gXGrid(PARAM_* p);
int gYGrid(PARAM_* p);
// The axis box with labels, for a font of fontsize pixels (at least 1): the box, xlabel centred
// below the tick labels, ylabel above the box's top left corner, rylabel above its top right
// corner (aligned right). An empty label is left out.
int gBoxWithText(PARAM_* p, int x, int y, int w, int h, int fontsize, const char* xlabel,
                 const char* ylabel, const char* rylabel);

// Pen, brush and font; they last until gEndDraw.
int gSetColor(PARAM_* p, int r, int g, int b);  // 0..255 each
int gSetBackgroundColor(PARAM_* p, int r, int g, int b);
int gSetWidth(PARAM_* p, int w);      // pixels, 0 or more
int gSetStyle(PARAM_* p, int style);  // 1 solid, 2 dash, 3 dot, 4 dash-dot, 5 dash-dot-dot
int gSetFont(PARAM_* p, const char* family, int size, int weight, int italic);  // size >= 1
int gSetLinestyle(PARAM_* p, int style);  // gLine's symbols: 0 none, 1 circle, 2 cross, 3 square
// printf format of the tick labels: under 80 characters with exactly one conversion of a
// double (f F e E g G a A, optional l; "%%" allowed besides), width at most 60, precision at
// most 20, so that a label always fits the widget's 80-byte buffer.
int gSetFloatFormat(PARAM_* p, const char* format);
// Transformations of the painter; they add up until gEndDraw.
int gScale(PARAM_* p, double sx, double sy);
int gRotate(PARAM_* p, double angle);
int gTranslate(PARAM_* p, double dx, double dy);
// "#text": a line that the widget ignores (a note in a recorded stream).
int gComment(PARAM_* p, const char* text);

// SVG: a file on the client; the SVG text itself, sent line by line and ended by the line
// "<svgend></svgend>" (refused when a line of it holds that marker or is longer than
// HX_MAX_DRAW_LINE, or the text is above HX_MAX_DOWNLOAD bytes); a redraw of the animated SVG.
int gPlaySVG(PARAM_* p, const char* file);
int gSocketPlaySVG(PARAM_* p, const char* svgtext);
int gUpdateSVG(PARAM_* p);

// ---- Images ---------------------------------------------------------------------------------
// The client's image widget shows files from its working directory, where hxDownloadFile puts
// them: hxQImage and hxSetImage send the local file first, then name it by its bare name.
// A name whose last part holds a backslash or ".." is refused (the client would refuse its
// download), as is a file that cannot be read.
#define HX_MAX_JPEG_IMAGE (16 * 1024 * 1024)  // bytes of one hxSetJpegImage block

// Size and depth from an image file's header, read without decoding the picture: BMP, PNG
// (the IHDR chunk, its CRC checked), JPEG (the first SOFn frame header) and GIF. depth is the
// file's bits per pixel (BMP bit count, PNG bit depth x channels, JPEG precision x components,
// GIF bits of its colour table, or 8 without one). 0, or -1 (w, h, depth 0) for an unknown
// format or a header that is truncated or inconsistent. Null outputs are allowed.
int hxImageHeader(const void* data, long size, int* w, int* h, int* depth);
// The same for a local file (at most HX_MAX_DOWNLOAD bytes are looked at).
int hxImageFileHeader(const char* filename, int* w, int* h, int* depth);

// QImage(id,parent,"name") after @download of the file. Reports the image's size and depth
// (null pointers allowed). 0, or -1 with w, h, depth 0 and nothing sent when the file cannot
// be read or measured (hxImageFileHeader), the ids or the name are refused, or the connection
// is closed.
int hxQImage(PARAM_* p, int id, int parent, const char* file, int* w, int* h, int* depth);
// setImage(id,"name") after @download of the file. 0, or -1 (nothing sent when the file cannot
// be read).
int hxSetImage(PARAM_* p, int id, const char* file);
// setJpegImage(id,n) and n bytes of JPEG, sent together; 1 <= n <= HX_MAX_JPEG_IMAGE.
int hxSetJpegImage(PARAM_* p, int id, const void* data, int n);

// ---- The calls of the widget kinds, the Qwt widgets, dialogs and global calls ---------------
// (each family in a header of its own, part of this one).
#include "hxwidgetcalls.h"
#include "hxqwt.h"
#include "hxdialogcalls.h"

#endif
