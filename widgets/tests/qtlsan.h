// LeakSanitizer's suppressions for programs that run Qt offscreen (tests, fuzz replays).
#ifndef OTWIDGETS_QTLSAN_H
#define OTWIDGETS_QTLSAN_H

// Qt's offscreen platform, fontconfig and the web engine (its caches and its JavaScript heap)
// keep one-time allocations until exit, reachable only from their own statics; LeakSanitizer
// is told so by name. A leak of our own widgets or records
// starts in our code and is still reported.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libqoffscreen.so\n"
         "leak:QScreen::QScreen\n"
         "leak:libfontconfig.so\n"
         "leak:libglib-2.0.so\n"
         "leak:libQt5WebKit.so\n";
}

#endif
