#include "otlog.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <mutex>

namespace {

std::atomic<int> gLevel{OT_LOG_INFO};
std::mutex gLock;
otLogSink gSink = nullptr;
void* gSinkArg = nullptr;

int emit(int level, const char* format, va_list ap) {
  otFormattedText t;
  otFormatText(&t, format, ap);
  if (t.result < 0) return t.result;
  std::lock_guard<std::mutex> hold(gLock);
  if (gSink != nullptr) {
    gSink(level, t.text, gSinkArg);
  } else {
    fputs(t.text, stdout);
    // A line (or a progress mark without a line end) must reach a redirected output at once:
    // a supervisor's log, a test, a crash or a kill that follows.
    fflush(stdout);
  }
  return t.length;
}

}  // namespace

int otSetLogLevel(int level) {
  if (level < OT_LOG_ERROR) level = OT_LOG_ERROR;
  if (level > OT_LOG_DEBUG) level = OT_LOG_DEBUG;
  return gLevel.exchange(level);
}

int otLogLevel() {
  return gLevel.load();
}

int otLogLevelByName(const char* name) {
  static const char* const kNames[] = {"error", "warning", "info", "debug"};
  for (int i = 0; name != nullptr && i < 4; i++)
    if (strcmp(name, kNames[i]) == 0) return i;
  return -1;
}

bool otLogEnabled(int level) {
  return level <= gLevel.load();
}

void otSetLogSink(otLogSink sink, void* arg) {
  std::lock_guard<std::mutex> hold(gLock);
  gSink = sink;
  gSinkArg = arg;
}

int otLog(int level, const char* format, ...) {
  if (!otLogEnabled(level)) return 0;
  va_list ap;
  va_start(ap, format);
  int r = emit(level, format, ap);
  va_end(ap);
  return r;
}

int otLogV(int level, const char* format, va_list ap) {
  return otLogEnabled(level) ? emit(level, format, ap) : 0;
}

int otLogDebug(int on, const char* format, ...) {
  if (on == 0 && !otLogEnabled(OT_LOG_DEBUG)) return 0;
  va_list ap;
  va_start(ap, format);
  int r = emit(OT_LOG_DEBUG, format, ap);
  va_end(ap);
  return r;
}
