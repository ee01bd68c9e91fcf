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

// Output holding (see PARAM_::held). hxHoldOutput takes hxlock; hxReleaseOutput sends what is
// held once the outermost hold ends and gives hxlock back: 0, or -1 when that send failed.
void hxHoldOutput(PARAM_* p);
int hxReleaseOutput(PARAM_* p);
// Sends what is held unless another thread has the lock (it sends it when its hold ends).
void hxFlushHeld(PARAM_* p);

#endif
