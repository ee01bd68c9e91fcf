// Dialogs that ask the operator, and the global calls of a server: its main over the library's
// accept loop, the connection's threads and cleanup, downloads, the point buffer of the plots,
// and the requests for the client's desktop (beep, hyperlink, command).
#include <strings.h>
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "hxserver.h"
#include "otlog.h"
#include "hxserver_p.h"
#include "otinterpreter.h"
#include "otwthread.h"

namespace {

struct Helper {
  std::thread thread;
  std::shared_ptr<std::atomic<int>> done;
};

// A modal dialog of hxRunModalDialogScript: its functions and their data.
struct ScriptDialog {
  int (*modal)(PARAM_*, void*);
  int (*updateBase)(PARAM_*, void*);
  void* data;
};

}  // namespace

struct hxCallState {
  std::mutex lock;  // threads and cleanup (any thread may ask for them)
  std::vector<Helper> threads;
  int (*cleanup)(PARAM_*, void*) = nullptr;
  void* cleanupData = nullptr;
  std::atomic<int> dialogs{0};  // the number of the last dialog request
  std::vector<double> x, y;     // the point buffer
  // Open dialogs of hxRunModalDialogScript, innermost last (connection's thread only).
  std::vector<ScriptDialog> scripts;
};

hxCallState* hxNewCallState() {
  return new hxCallState;
}

void hxEndCallState(PARAM_* p) {
  hxCallState* st = p->calls;
  if (st == nullptr) return;
  // The threads see every call fail from now on and return.
  hxMarkClosed(p);
  std::vector<Helper> threads;
  {
    std::lock_guard<std::mutex> hold(st->lock);
    threads.swap(st->threads);
  }
  for (Helper& h : threads)
    if (h.thread.joinable()) h.thread.join();
  if (st->cleanup != nullptr) st->cleanup(p, st->cleanupData);
  p->calls = nullptr;
  delete st;
}

namespace {

// ---- Dialogs --------------------------------------------------------------------------------

// The number of a new request. A client that has said nothing yet is asked for a sync first:
// until it speaks, waits are bounded by the short first-answer limit, which is no time for an
// operator to read a dialog.
int nextDialog(PARAM_* p) {
  if (!p->heard.load() && hxSync(p) < 0) return -1;
  int n = ++p->calls->dialogs;
  if (n <= 0) {  // after 2^31 requests: start again at 1
    p->calls->dialogs = 1;
    n = 1;
  }
  return n;
}

// The client gave no answer in time: it closes the dialog (and forgets a file chosen in it).
void giveUp(PARAM_* p, int n) {
  if (!p->stop.load()) hxSendCommand(p, "closeDialog", "i", n);
}

struct Answer {
  int result = 0;
  std::string text;
};

// Waits for "dialogAnswer(n,result,"text")". 0, or -1 (closed, not in time, malformed).
int awaitAnswer(PARAM_* p, int n, Answer* a) {
  char pattern[40];
  snprintf(pattern, sizeof pattern, "dialogAnswer(%d,", n);
  std::vector<char> line(HX_MAX_LINE + 1);
  int len = 0;
  if (hxWaitLine(p, pattern, line.data(), (int)line.size(), &len) < 0) {
    giveUp(p, n);
    return -1;
  }
  otCallLine call;
  if (call.parse(line.data(), len) < 0 || strcmp(call.name, "dialogAnswer") != 0 ||
      call.matches("iis") != 1 || call.intArg(1, &a->result) < 0) {
    otLog(OT_LOG_WARNING, "hxDialog: answer to dialog %d refused: %.200s\n", n, line.data());
    fflush(stdout);
    return -1;
  }
  a->text = call.textArg(2);
  return 0;
}

// Copies text into out of size bytes: its length, or -1 (out "") when it does not fit.
int copyOut(const std::string& text, char* out, int size) {
  if ((long)text.size() + 1 > (long)size) {
    out[0] = '\0';
    return -1;
  }
  memcpy(out, text.c_str(), text.size() + 1);
  return (int)text.size();
}

// A plain name for the client's downloads folder: not empty, no '/', '\\' or "..", not hidden.
bool bareName(const char* name) {
  return name != nullptr && name[0] != '\0' && name[0] != '.' && strpbrk(name, "/\\") == nullptr &&
         strstr(name, "..") == nullptr;
}

// "@download("name",n)" and the bytes, kept together on the connection.
int sendDownload(PARAM_* p, const char* name, const char* data, size_t n) {
  if (n > (size_t)HX_MAX_DOWNLOAD) return -1;
  hxlock(p);
  int r = hxSendCommand(p, "@download", "si", name, (int)n);
  if (r == 0 && n > 0 && hxtcpsend_binary(p, data, (int)n) < 0) r = -1;
  hxunlock(p);
  return r;
}

// The whole regular file, at most HX_MAX_DOWNLOAD bytes. The file is read before its count is
// announced: a file that changes meanwhile cannot make the announced count and the bytes
// sent differ.
bool readLocalFile(const char* filename, std::vector<char>* data) {
  int fd = open(filename, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= HX_MAX_DOWNLOAD;
  if (ok) data->reserve((size_t)st.st_size);
  char part[65536];
  while (ok) {
    ssize_t got = read(fd, part, sizeof part);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    if (data->size() + (size_t)got > (size_t)HX_MAX_DOWNLOAD)
      ok = false;
    else
      data->insert(data->end(), part, part + got);
  }
  close(fd);
  return ok;
}

// The trampolines of hxRunModalDialogScript: the innermost script dialog is the one running.
int scriptModal(PARAM_* p) {
  const ScriptDialog& d = p->calls->scripts.back();
  return d.modal(p, d.data);
}

int scriptUpdateBase(PARAM_* p) {
  const ScriptDialog& d = p->calls->scripts.back();
  return d.updateBase(p, d.data);
}

}  // namespace

int hxMessageBox(PARAM_* p, int type, const char* title, const char* text, int buttons) {
  if (p == nullptr || title == nullptr || text == nullptr) return -1;
  if (type < HX_MB_INFORMATION || type > HX_MB_QUESTION || buttons < 0 || buttons > HX_MB_ALL)
    return -1;
  if (buttons == 0) buttons = HX_MB_OK;
  int n = nextDialog(p);
  if (n < 0) return -1;
  if (hxSendCommand(p, "messageBox", "iissi", n, type, title, text, buttons) < 0) return -1;
  Answer a;
  if (awaitAnswer(p, n, &a) < 0) return -1;
  if (a.result == HX_DIALOG_CANCELLED) return HX_DIALOG_CANCELLED;
  // One of the buttons offered, nothing else.
  bool single = a.result > 0 && (a.result & (a.result - 1)) == 0;
  return single && (a.result & buttons) != 0 ? a.result : -1;
}

int hxInputDialog(PARAM_* p, const char* title, const char* label, const char* initial, char* text,
                  int size) {
  if (text == nullptr || size < 1) return -1;
  text[0] = '\0';
  if (p == nullptr || title == nullptr || label == nullptr || initial == nullptr || size < 2)
    return -1;
  int n = nextDialog(p);
  if (n < 0) return -1;
  int chars = size - 1 < HX_MAX_INPUT ? size - 1 : HX_MAX_INPUT;
  if (hxSendCommand(p, "inputDialog", "isssi", n, title, label, initial, chars) < 0) return -1;
  Answer a;
  if (awaitAnswer(p, n, &a) < 0) return -1;
  if (a.result == HX_DIALOG_CANCELLED) return HX_DIALOG_CANCELLED;
  if (a.result != 1) return -1;
  return copyOut(a.text, text, size);
}

int hxFileDialog(PARAM_* p, const char* title, const char* filter, char* name, int nameSize,
                 char** data, int maxBytes) {
  if (data != nullptr) *data = nullptr;
  if (name != nullptr && nameSize > 0) name[0] = '\0';
  if (p == nullptr || title == nullptr || filter == nullptr || name == nullptr || nameSize < 1 ||
      data == nullptr || maxBytes < 1 || maxBytes > HX_MAX_UPLOAD)
    return -1;
  int n = nextDialog(p);
  if (n < 0) return -1;
  if (hxSendCommand(p, "fileDialog", "issi", n, title, filter, maxBytes) < 0) return -1;
  // The answer names the file and its size; its bytes come only when asked for, so that they
  // never reach the event loop of a server that gave up waiting.
  Answer a;
  if (awaitAnswer(p, n, &a) < 0) return -1;
  if (a.result == HX_DIALOG_CANCELLED) return HX_DIALOG_CANCELLED;
  // A bare name, which the server may use on its side without it naming another place.
  const std::string& chosen = a.text;
  bool bare = !chosen.empty() && chosen != "." && chosen != ".." &&
              chosen.find_first_of("/\\") == std::string::npos;
  if (a.result < 0 || a.result > maxBytes || !bare || copyOut(chosen, name, nameSize) < 0) {
    giveUp(p, n);
    name[0] = '\0';
    return -1;
  }
  if (hxSendCommand(p, "uploadFile", "i", n) < 0) {
    name[0] = '\0';
    return -1;
  }
  char pattern[40];
  snprintf(pattern, sizeof pattern, "@upload(%d,", n);
  char line[128];
  int len = 0;
  otCallLine call;
  int count = -1;
  if (hxWaitLine(p, pattern, line, sizeof line, &len) < 0 || len >= (int)sizeof line ||
      call.parse(line, len) < 0 || call.matches("ii") != 1 || call.intArg(1, &count) < 0) {
    // The bytes may still come, and nothing could tell them from event lines.
    hxMarkClosed(p);
    name[0] = '\0';
    return -1;
  }
  if (count < 0) {  // the client could not read the file
    name[0] = '\0';
    return -1;
  }
  std::lock_guard<std::mutex> hold(p->readLock);
  if (count > maxBytes) {
    // Not what it said: read and dropped.
    if (p->reader.drain(count, p->ioTimeoutMs) < 0) hxMarkClosed(p);
    name[0] = '\0';
    return -1;
  }
  char* bytes = static_cast<char*>(malloc((size_t)count + 1));
  if (bytes == nullptr) {
    if (p->reader.drain(count, p->ioTimeoutMs) < 0) hxMarkClosed(p);
    name[0] = '\0';
    return -1;
  }
  if (count > 0 && p->reader.readBlock(bytes, count, p->ioTimeoutMs) != count) {
    free(bytes);
    hxMarkClosed(p);
    name[0] = '\0';
    return -1;
  }
  bytes[count] = '\0';
  *data = bytes;
  return count;
}

int hxPopupMenu(PARAM_* p, const char* items) {
  if (p == nullptr || items == nullptr) return -1;
  int entries = 1, choices = 0;
  bool empty = true;
  for (const char* c = items;; c++) {
    if (*c == ',' || *c == '\0') {
      if (!empty) choices++;
      if (*c == '\0') break;
      entries++;
      empty = true;
    } else {
      empty = false;
    }
  }
  if (choices == 0 || entries > HX_MAX_POPUP_ITEMS) return -1;
  int n = nextDialog(p);
  if (n < 0) return -1;
  if (hxSendCommand(p, "popupMenu", "is", n, items) < 0) return -1;
  Answer a;
  if (awaitAnswer(p, n, &a) < 0) return -1;
  if (a.result == HX_DIALOG_CANCELLED) return HX_DIALOG_CANCELLED;
  return a.result >= 0 && a.result < choices ? a.result : -1;
}

int hxRunModalDialogScript(PARAM_* p, int w, int h, int (*modal)(PARAM_*, void*),
                           int (*updateBase)(PARAM_*, void*), void* data) {
  if (p == nullptr || modal == nullptr) return -1;
  p->calls->scripts.push_back(ScriptDialog{modal, updateBase, data});
  int r = hxRunModalDialog(p, w, h, scriptModal, updateBase ? scriptUpdateBase : nullptr);
  p->calls->scripts.pop_back();
  return r;
}

int hxUpdateBaseWindowOnOff(PARAM_* p, int on) {
  if (p == nullptr) return -1;
  on = on ? 1 : 0;
  // Outside a dialog (or after it was terminated) the base mask is the client's target anyway.
  if (p->modalDepth == 0 || p->modalTerminated || p->baseUpdate == on) return 0;
  if (hxSendCommand(p, "updateBaseWindow", "i", on) < 0) return -1;
  if (on) {
    p->dialogIdCount = p->idCount;
    p->idCount = p->baseIdCount;
  } else {
    p->idCount = p->dialogIdCount;
  }
  p->baseUpdate = on;
  return 0;
}

int hxUpdateBaseWindow(PARAM_* p) {
  if (p == nullptr) return -1;
  if (p->modalDepth == 0 || p->updateBase == nullptr) return 0;
  // The base mask's calls name the base mask's ids, and the client must carry them out on the
  // base mask, not on the dialog's widgets of the same ids.
  int was = p->baseUpdate;
  if (!was && hxUpdateBaseWindowOnOff(p, 1) < 0) return -1;
  int r = p->updateBase(p);
  if (!was && hxUpdateBaseWindowOnOff(p, 0) < 0) return -1;
  return r;
}

// ---- Global ---------------------------------------------------------------------------------

int hxDownloadFile(PARAM_* p, const char* filename) {
  if (filename == nullptr) return -1;
  const char* slash = strrchr(filename, '/');
  const char* name = slash ? slash + 1 : filename;
  if (p == nullptr || *name == '\0') return -1;
  std::vector<char> data;
  if (!readLocalFile(filename, &data)) return -1;
  return sendDownload(p, name, data.data(), data.size());
}

int hxDownloadFileAs(PARAM_* p, const char* filename, const char* clientName) {
  if (p == nullptr || filename == nullptr || !bareName(clientName)) return -1;
  std::vector<char> data;
  if (!readLocalFile(filename, &data)) return -1;
  return sendDownload(p, clientName, data.data(), data.size());
}

int hxCSVcreate(PARAM_* p, const char* clientName, const char* const* cells, int rows,
                int columns) {
  if (p == nullptr || !bareName(clientName) || rows < 0 || columns < 0) return -1;
  long long count = (long long)rows * columns;
  if (count > 0 && cells == nullptr) return -1;
  std::string csv;
  for (int r = 0; r < rows; r++) {
    for (int c = 0; c < columns; c++) {
      if (c > 0) csv += ',';
      const char* cell = cells[(long long)r * columns + c];
      if (cell == nullptr) cell = "";
      if (strpbrk(cell, ",\"\r\n") == nullptr) {
        csv += cell;
      } else {
        csv += '"';
        for (const char* ch = cell; *ch; ch++) {
          if (*ch == '"') csv += '"';
          csv += *ch;
        }
        csv += '"';
      }
      if (csv.size() > (size_t)HX_MAX_DOWNLOAD) return -1;
    }
    csv += "\r\n";
  }
  return sendDownload(p, clientName, csv.data(), csv.size());
}

int hxXYAllocate(PARAM_* p, int n) {
  if (p == nullptr || n < 0 || n > HX_MAX_PLOT_POINTS) return -1;
  std::vector<double>(n, 0.0).swap(p->calls->x);
  std::vector<double>(n, 0.0).swap(p->calls->y);
  return 0;
}

int hxSetXY(PARAM_* p, int i, double x, double y) {
  if (p == nullptr || i < 0 || i >= (int)p->calls->x.size() || !isfinite(x) || !isfinite(y))
    return -1;
  p->calls->x[(size_t)i] = x;
  p->calls->y[(size_t)i] = y;
  return 0;
}

int hxGetXY(PARAM_* p, const double** x, const double** y) {
  if (p == nullptr) return -1;
  bool empty = p->calls->x.empty();
  if (x != nullptr) *x = empty ? nullptr : p->calls->x.data();
  if (y != nullptr) *y = empty ? nullptr : p->calls->y.data();
  return (int)p->calls->x.size();
}

int hxPlotXY(PARAM_* p, int id, int curve) {
  if (p == nullptr) return -1;
  const std::vector<double>& x = p->calls->x;
  return hxPlotData(p, id, curve, x.data(), p->calls->y.data(), (int)x.size());
}

int hxInitInternal(hxServerOptions* o) {
  if (o == nullptr) return -1;
  *o = hxServerOptions();
  return 0;
}

int hxInit(int argc, char** argv, hxServerOptions* o) {
  if (hxInitInternal(o) < 0) return -1;
  return hxParseServerArgs(argc, argv, o);
}

hxServer* hxAccept(const hxServerOptions* o, int (*run)(PARAM_* p), void* user) {
  return hxServerStart(o, run, user);
}

int hxMain(int argc, char** argv, int (*run)(PARAM_* p), void* user) {
  if (run == nullptr) return -1;
  hxServerOptions o;
  int r = hxInit(argc, argv, &o);
  if (r != 0) return r > 0 ? 0 : -1;
  o.catchSignals = 1;
  r = hxRunServer(&o, run, user);
  if (r < 0) {
    otLog(OT_LOG_ERROR, "hxMain: cannot listen on port %d\n", o.port);
    fflush(stdout);
  }
  return r;
}

int hxCreateThread(PARAM_* p, int (*function)(PARAM_* p, void* data), void* data) {
  if (p == nullptr || function == nullptr || p->stop.load()) return -1;
  hxCallState* st = p->calls;
  std::lock_guard<std::mutex> hold(st->lock);
  // Threads that have ended give their place to new ones.
  for (auto it = st->threads.begin(); it != st->threads.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = st->threads.erase(it);
    } else {
      ++it;
    }
  }
  if ((int)st->threads.size() >= HX_MAX_THREADS) return -1;
  Helper h;
  h.done = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<std::atomic<int>> done = h.done;
  try {
    h.thread = std::thread([p, function, data, done] {
      function(p, data);
      done->store(1);
    });
  } catch (const std::system_error&) {
    return -1;
  }
  st->threads.push_back(std::move(h));
  return 0;
}

int hxSetCleanup(PARAM_* p, int (*cleanup)(PARAM_* p, void* data), void* data) {
  if (p == nullptr) return -1;
  std::lock_guard<std::mutex> hold(p->calls->lock);
  p->calls->cleanup = cleanup;
  p->calls->cleanupData = data;
  return 0;
}

int hxGetInitialMask(PARAM_* p, char* name, int size) {
  if (name == nullptr || size < 1) return -1;
  name[0] = '\0';
  if (p == nullptr) return -1;
  int n = nextDialog(p);
  if (n < 0) return -1;
  if (hxSendCommand(p, "getInitialMask", "i", n) < 0) return -1;
  Answer a;
  if (awaitAnswer(p, n, &a) < 0 || a.result != 0) return -1;
  return copyOut(a.text, name, size);
}

int hxGetEvent(PARAM_* p, char* buf) {
  for (;;) {
    if (hxPollEvent(p, buf) < 0) return -1;
    if (strcmp(buf, "idle") != 0) return 0;
  }
}

int hxSleep(int ms) {
  if (ms > 0) otsleep(ms);
  return 0;
}

int hxWarning(PARAM_* p, const char* text) {
  if (text == nullptr) return -1;
  otLog(OT_LOG_WARNING, "hxWarning: socket %d: %s\n", p ? p->s : -1, text);
  fflush(stdout);
  return 0;
}

void hxMainFatal(PARAM_* p, const char* text) {
  otLog(OT_LOG_ERROR, "hxMainFatal: socket %d: %s\n", p ? p->s : -1, text ? text : "");
  fflush(stdout);
  // Other threads are running: exit() would run static destructors under their feet.
  _exit(1);
}

int hxThreadFatal(PARAM_* p, const char* text) {
  otLog(OT_LOG_ERROR, "hxThreadFatal: socket %d: %s\n", p ? p->s : -1, text ? text : "");
  fflush(stdout);
  if (p != nullptr) hxMarkClosed(p);
  return -1;
}

int hxScreenHint(PARAM_* p, int w, int h) {
  if (w < 1 || w > 32767 || h < 1 || h > 32767) return -1;
  return hxSendCommand(p, "screenHint", "ii", w, h);
}

int hxBeep(PARAM_* p) {
  return hxSendCommand(p, "beep", "");
}

int hxClientCommand(PARAM_* p, const char* command) {
  if (command == nullptr || command[0] == '\0') return -1;
  return hxSendCommand(p, "clientCommand", "s", command);
}

int hxHyperlink(PARAM_* p, const char* url) {
  if (url == nullptr) return -1;
  if (strncasecmp(url, "http://", 7) != 0 && strncasecmp(url, "https://", 8) != 0) return -1;
  for (const char* c = url; *c; c++)
    if ((unsigned char)*c < ' ' || *c == 0x7f) return -1;
  return hxSendCommand(p, "hyperlink", "s", url);
}
