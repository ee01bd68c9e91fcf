// otRepeatLog: a complaint that a peer can make us repeat without end (a client flooding a
// server with bad lines, a device that fails every pass). It is printed the first time; later
// ones are only counted, and the count is printed with the next complaint once intervalMs
// have passed, and when the object ends, so that the log says how often without growing with
// the flood.
//
// An object belongs to one thread at a time.
#ifndef OTREPEATLOG_H
#define OTREPEATLOG_H

#include "otcutil.h"

class otRepeatLog {
 public:
  // what names the complaint in the count lines ("hxPollEvent: lines dropped"); it is copied.
  explicit otRepeatLog(const char* what, int intervalMs = 10000);
  // Prints "<what>: <n> more\n" for complaints counted but not printed.
  ~otRepeatLog();
  otRepeatLog(const otRepeatLog&) = delete;
  otRepeatLog& operator=(const otRepeatLog&) = delete;

  // One complaint: the formatted line (at most 4095 characters) is printed on standard output
  // when it is the first, or the first after intervalMs; it is then followed by the count of
  // those held back since the last one printed. Returns 1 when printed, 0 when only counted.
  int say(const char* format, ...) OT_PRINTF_FORMAT(2, 3);
  // Complaints so far, printed or not.
  long count() const { return total; }

 private:
  void sayHeldBack();

  char* label;
  int interval;
  long total = 0;
  long heldBack = 0;
  long long lastPrinted = 0;
};

#endif
