// One sink for what the library and its programs tell the operator: errors, warnings, notes of
// progress and debug lines, each with a level. A program sets the level (debug lines are off
// until it asks for them) and may hand the lines to a sink of its own (an event log, a
// window); without one they go to standard output, as the programs have always printed them.
// Lines of several threads never interleave.
#ifndef OTLOG_H
#define OTLOG_H

#include "otcutil.h"

enum otLogLevel { OT_LOG_ERROR = 0, OT_LOG_WARNING = 1, OT_LOG_INFO = 2, OT_LOG_DEBUG = 3 };

// Lines above level are dropped; OT_LOG_INFO at start. Returns the level before.
int otSetLogLevel(int level);
int otLogLevel();
// "error", "warning", "info" or "debug" (as a program's option spells it): the level, or -1.
int otLogLevelByName(const char* name);
bool otLogEnabled(int level);

// Takes each line that passes the level, with its line feed as the caller wrote it. Called
// under the log's lock: it must not log itself. null: standard output.
typedef void (*otLogSink)(int level, const char* line, void* arg);
void otSetLogSink(otLogSink sink, void* arg);

// Formats into 4096 bytes (at most 4095 characters) and hands the text to the sink when the
// level is on. The characters handed over, 0 when the level is off, or the formatter's
// negative result.
int otLog(int level, const char* format, ...) OT_PRINTF_FORMAT(2, 3);
int otLogV(int level, const char* format, va_list ap);
// A debug line of an object with a debug switch of its own: out when the switch is on, or
// when the program's level is debug.
int otLogDebug(int on, const char* format, ...) OT_PRINTF_FORMAT(2, 3);

#endif
