#include "otrepeatlog.h"
#include "otlog.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ottime.h"

otRepeatLog::otRepeatLog(const char* what, int intervalMs)
    : label(strdup(what != nullptr ? what : "")), interval(intervalMs < 0 ? 0 : intervalMs) {}

otRepeatLog::~otRepeatLog() {
  sayHeldBack();
  free(label);
}

void otRepeatLog::sayHeldBack() {
  if (heldBack == 0) return;
  otLog(OT_LOG_WARNING, "%s: %ld more\n", label, heldBack);
  fflush(stdout);
  heldBack = 0;
}

int otRepeatLog::say(const char* format, ...) {
  long long now = otMonotonicMs();
  total++;
  if (total > 1 && now - lastPrinted < interval) {
    heldBack++;
    return 0;
  }
  lastPrinted = now;
  char line[OT_PRINTF_BUFFER];
  va_list ap;
  va_start(ap, format);
  otvsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  fputs(line, stdout);
  sayHeldBack();
  fflush(stdout);
  return 1;
}
