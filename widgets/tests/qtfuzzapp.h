// The QApplication of a fuzz target or replay that drives Qt widgets: made once, offscreen,
// with a private runtime directory that is removed again at exit. Including it also brings
// LeakSanitizer's suppressions for Qt's own one-time allocations.
#ifndef OTWIDGETS_QTFUZZAPP_H
#define OTWIDGETS_QTFUZZAPP_H

#include <stdlib.h>
#include <unistd.h>

#include <QApplication>

#include "otoptions.h"
#include "qtlsan.h"

// Returns true when the application was made by this call (the caller's one-time set-up).
inline bool fuzzApplication(const char* name) {
  static int argc = 1;
  static char program[64];
  static char* argv[] = {program, nullptr};
  static QApplication* app = nullptr;
  if (app != nullptr) return false;
  snprintf(program, sizeof program, "%s", name);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static char dir[] = "/tmp/otkit-fuzz-XXXXXX";
  if (getenv("XDG_RUNTIME_DIR") == nullptr && mkdtemp(dir) != nullptr) {
    setenv("XDG_RUNTIME_DIR", dir, 1);
    atexit([] { rmdir(dir); });
  }
  otOptionsDefaults(&opt);
  app = new QApplication(argc, argv);
  return true;
}

#endif
