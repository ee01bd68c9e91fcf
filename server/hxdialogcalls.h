// The display-server library: dialogs that ask the operator (message box, input, file, popup
// menu), modal dialogs for code that keeps its state in an object, and the global calls of a
// server (its main, threads, timing, warnings, fatal ends, downloads, the point buffer of the
// plots, the client's beep, hyperlinks and commands). Included by hxserver.h, which declares
// PARAM_.
//
// Dialogs: the call sends its request with a number of its own and waits for the client's
// answer "dialogAnswer(n,...)" (docs/display-protocol.md), at most p->ioTimeoutMs (the
// operator must answer within it; set the field for longer). Event lines that come meanwhile
// are queued for hxPollEvent, as hxWait queues them. When no answer comes in time the client is
// told to close the dialog and the call returns -1. Dialogs read the connection: call them
// from the connection's own thread.
//
// Results: an answer (0 or more), HX_DIALOG_CANCELLED when the operator closed the dialog
// without one, -1 for a closed connection, a bad argument or no answer in time.
#ifndef HXDIALOGCALLS_H
#define HXDIALOGCALLS_H

#define HX_DIALOG_CANCELLED (-2)

// hxMessageBox's kinds (the icon it shows).
enum { HX_MB_INFORMATION = 0, HX_MB_WARNING = 1, HX_MB_CRITICAL = 2, HX_MB_QUESTION = 3 };
// hxMessageBox's buttons, or-ed together; the answer is one of them.
#define HX_MB_OK 1
#define HX_MB_CANCEL 2
#define HX_MB_YES 4
#define HX_MB_NO 8
#define HX_MB_ABORT 16
#define HX_MB_RETRY 32
#define HX_MB_IGNORE 64
#define HX_MB_ALL 127

// Items of a popup menu, threads of a connection, bytes of a file the operator uploads.
#define HX_MAX_POPUP_ITEMS 64
#define HX_MAX_THREADS 16
#define HX_MAX_UPLOAD HX_MAX_DOWNLOAD
// Characters the operator may type into an input dialog (its answer must fit one line).
#define HX_MAX_INPUT 2000

// ---- Dialogs ------------------------------------------------------------------------------

// A message box of kind type (HX_MB_INFORMATION ... HX_MB_QUESTION) with title, text and the
// buttons of the mask buttons (HX_MB_OK | HX_MB_CANCEL ...; 0 means HX_MB_OK). The button the
// operator chose (one HX_MB_* flag), HX_DIALOG_CANCELLED when the box was closed without a
// button, or -1 (also for a type or buttons out of range).
int hxMessageBox(PARAM_* p, int type, const char* title, const char* text, int buttons);

// A line of text from the operator: a dialog with title, the label above the field and the
// field's initial text. The text goes into text, NUL-terminated, which holds size bytes
// (2 or more; the client lets the operator type at most size-1 characters, and at most
// HX_MAX_INPUT). Its length in
// bytes, HX_DIALOG_CANCELLED (text ""), or -1 (text "", also when the answer does not fit).
int hxInputDialog(PARAM_* p, const char* title, const char* label, const char* initial, char* text,
                  int size);

// A file from the operator's machine: the client shows its file chooser (title, and filter in
// Qt's form, for example "Tables (*.csv *.txt)"; "" for every file) and uploads the file the
// operator picked. The server never learns or names a path on the client: it gets the bytes
// and the file's bare name. The bytes land in *data (malloc'ed, with a NUL behind the last
// byte; the caller frees it with free()), the bare name (no '/' or '\\', not "." or "..") in
// name of nameSize bytes (1 or more).
// maxBytes (1 to HX_MAX_UPLOAD) bounds the file. The byte count, HX_DIALOG_CANCELLED, or -1
// (*data null, name "": also a file above maxBytes, one the client cannot read, or a name that
// does not fit).
int hxFileDialog(PARAM_* p, const char* title, const char* filter, char* name, int nameSize,
                 char** data, int maxBytes);

// A popup menu at the mouse pointer. items lists the entries separated by commas; an empty
// entry draws a separator line ("Open,Save,,Quit"); at most HX_MAX_POPUP_ITEMS entries. The
// number of the chosen entry, counting the entries that are no separator from 0 (Quit is 2
// above), HX_DIALOG_CANCELLED when the menu was closed without a choice, or -1.
int hxPopupMenu(PARAM_* p, const char* items);

// hxRunModalDialog for code that keeps its state in an object or runs in an interpreter: the
// same modal dialog of w x h, with modal(p, data) and updateBase(p, data) (may be null) in
// place of functions that get the record only. modal's result is left in p->modalResult. 0, or
// -1 (closed connection, null modal).
int hxRunModalDialogScript(PARAM_* p, int w, int h, int (*modal)(PARAM_*, void*),
                           int (*updateBase)(PARAM_*, void*), void* data);

// While a modal dialog is open, on (not 0) makes the client carry out the following commands
// on the base mask and makes the library check their ids against the base mask; 0 gives both
// back to the dialog. hxUpdateBaseWindow does this around its update function. Outside a
// modal dialog nothing is sent and the result is 0. 0, or -1.
int hxUpdateBaseWindowOnOff(PARAM_* p, int on);

// ---- Global ---------------------------------------------------------------------------------

// hxDownloadFile under another name: the local file filename arrives in the client's downloads
// folder as clientName, a bare name (no '/', '\\' or "..", not hidden). 0 once it went out (the
// client may still refuse a name of its own rules: a shared library, its ini file), or -1 (a
// refused name, a file that cannot be read or is above HX_MAX_DOWNLOAD bytes).
int hxDownloadFileAs(PARAM_* p, const char* filename, const char* clientName);

// A table as a CSV file for the client's downloads folder, under clientName (as in
// hxDownloadFileAs): rows x columns texts, row after row (cells[row * columns + column];
// null is an empty cell), separated by commas, one row a line (CRLF). A text holding a comma,
// a double quote or a line break is quoted, its quotes doubled, so that spreadsheets read it
// back as one cell. 0, or -1 (also for a file above HX_MAX_DOWNLOAD bytes).
int hxCSVcreate(PARAM_* p, const char* clientName, const char* const* cells, int rows, int columns);

// The point buffer of the connection for the plot calls (x and y arrays, as plots take them):
// hxXYAllocate makes it n points (0 to HX_MAX_PLOT_POINTS), all (0,0), in place of the old
// one; hxSetXY sets point i (0 to n-1; finite values); hxGetXY gives the arrays (null for an
// empty buffer) and returns n; hxPlotXY sends the buffer as the points of curve of plot id
// (hxPlotData). The buffer lives until the connection ends; use it from one thread. 0 (or n),
// or -1 for an index, count or value out of range.
int hxXYAllocate(PARAM_* p, int n);
int hxSetXY(PARAM_* p, int i, double x, double y);
int hxGetXY(PARAM_* p, const double** x, const double** y);
int hxPlotXY(PARAM_* p, int id, int curve);

// The server's options at their defaults (hxServerOptions), for a server without a command
// line (embedded, or started by a script). Returns 0; -1 for a null o.
int hxInitInternal(hxServerOptions* o);
// hxInitInternal, then the command line (hxParseServerArgs): 0; 1 after -h (the usage was
// printed); -1 for a bad value (said on standard output).
int hxInit(int argc, char** argv, hxServerOptions* o);
// Starts accepting clients in the background, each served by run(p) in a thread of its own
// (hxServerStart, the library's one accept loop). The server, to be ended with hxServerStop;
// null when the port cannot be bound.
hxServer* hxAccept(const hxServerOptions* o, int (*run)(PARAM_* p), void* user);
// A whole server's main: hxInit with the command line, SIGINT and SIGTERM end it
// (hxStopServer), run(p) serves every client (hxRunServer) until then. 0 after the stop or
// after -h, -1 for a bad argument or a port that cannot be bound.
int hxMain(int argc, char** argv, int (*run)(PARAM_* p), void* user);

// A further thread of the connection (at most HX_MAX_THREADS): function(p, data), for work
// that sends while the connection's thread waits for events (any thread may send; only the
// connection's thread reads). When the connection ends, every call on p fails, and the
// library waits for these threads before the record goes: function must return once its
// calls fail. Its result is ignored. 0, or -1 (closed connection, too many threads, null
// function, or no thread could be made).
int hxCreateThread(PARAM_* p, int (*function)(PARAM_* p, void* data), void* data);
// cleanup(p, data) runs once when the connection ends, after its threads have ended and before
// the record is freed (the connection is closed by then: only the record's fields are of
// use). A second call replaces the first; a null cleanup removes it. 0, or -1.
int hxSetCleanup(PARAM_* p, int (*cleanup)(PARAM_* p, void* data), void* data);

// The mask the operator asked for when starting the client (its -mask=NAME option), into name
// of size bytes (1 or more). Its length, 0 when none was given, or -1 (also when it does not
// fit: name ""). Reads the connection, as the dialogs do.
int hxGetInitialMask(PARAM_* p, char* name, int size);

// The next event line as hxPollEvent gives it, but never an idle event: waits as long as it
// takes. 0, or -1 when the connection is closed (or the modal dialog terminated).
int hxGetEvent(PARAM_* p, char* buf);
// Sleeps ms milliseconds (below 0: not at all). Returns 0.
int hxSleep(int ms);

// A warning of the connection on the server's standard output: "hxWarning: socket %d: text".
// 0, or -1 for a null text.
int hxWarning(PARAM_* p, const char* text);
// A fault after which the server cannot go on: "hxMainFatal: text" on standard output, then
// the whole process ends at once with status 1 (every connection is dropped; cleanup functions
// and destructors do not run). Never returns.
[[noreturn]] void hxMainFatal(PARAM_* p, const char* text);
// A fault that ends one connection only: "hxThreadFatal: socket %d: text" on standard output,
// the connection is marked closed (every later call on p fails at once) and -1 comes back, so
// that the mask function ends its thread by returning it: return hxThreadFatal(p, "...");
// The process and the other connections go on.
int hxThreadFatal(PARAM_* p, const char* text);

// The size w x h (1 to 32767) the masks are laid out for: the client makes its window large
// enough to show it, as far as its screen allows. 0, or -1.
int hxScreenHint(PARAM_* p, int w, int h);
// The client beeps. 0, or -1.
int hxBeep(PARAM_* p);
// Asks the client to run command, a program and its arguments separated by blanks (double
// quotes group words; no shell is involved). The client is off by default: it runs a command
// only when the operator has written that very command line into its allow-list (the
// [commands] allow key of its options) and refuses every other one, saying so in its status
// bar. Nothing comes back: 0 when the request went out, -1.
int hxClientCommand(PARAM_* p, const char* command);
// Offers the operator to open url (http or https only) in the browser of the client's
// desktop: the client asks first and opens it only when the operator agrees. Other schemes
// are refused by the client. Nothing comes back: 0 when the request went out, -1 (also for a
// url that is not http:// or https://).
int hxHyperlink(PARAM_* p, const char* url);

#endif
