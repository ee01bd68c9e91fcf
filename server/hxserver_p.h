// Internal: shared by the library's source files, not installed.
#ifndef HXSERVER_P_H
#define HXSERVER_P_H

#include "hxserver.h"

// Marks the connection closed (every later call fails at once); returns -1.
int hxMarkClosed(PARAM_* p);
// One non-empty line, line feed removed, into buf of size bytes, within timeoutMs (0: no
// limit); the block of an @clipboard line is read into the record. 1 (length in *length),
// 0 time-out, -1 closed. Over-long lines are dropped. The caller holds p->readLock.
int hxReadEventLine(PARAM_* p, char* buf, int size, int timeoutMs, int* length);

// hxWait that also hands out the line it waited for: without its line feed, NUL-terminated,
// into line of size bytes (cut when it does not fit; line may be null), its length in
// *length (may be null). 0, or -1 as hxWait.
int hxWaitLine(PARAM_* p, const char* pattern, char* line, int size, int* length);

// The dialog and global calls' state of a new record, and its end: marks the connection
// closed, waits for the connection's threads, runs its cleanup function and frees the state.
hxCallState* hxNewCallState();
void hxEndCallState(PARAM_* p);

#endif
