// Event-log client: daemons report what happens (start, stop, communication faults) as text
// lines to the event log server over TCP. otEvent only queues; one background sender owns the
// connection, so a missing or slow server never stalls the caller's poll cycle.
//
// One line per event: "YYYY-MM-DD HH:MM:SS PREFIX LEVEL TEXT\n" in local time, at most 254
// characters before the line feed. Nothing is read back from the server. With a shared secret
// each connection starts with a handshake line (see otEventInit).
//
// All functions are safe to call from any thread.
#ifndef OTEVENT_H
#define OTEVENT_H

#include "otcutil.h"

enum otEventLevel { otInfo = 0, otWarning = 1, otError = 2 };

// Lines the client keeps while the server is unreachable; further events are counted as lost.
enum { OT_EVENT_QUEUE_MAX = 1000 };

// Reads "-eventhost=HOST", "-eventport=PORT" and, optionally, "-eventsecret=SECRET" from
// av[1..ac-1] (other arguments are ignored, the last occurrence of an option wins), keeps
// prefix (null is empty) and starts the sender. A client that is already running is shut down
// first, as by otEventExit.
// With a secret (an empty one is none), every connection to the server starts with the
// handshake line of oteventlogserver.h (OT_EVENTLOG_AUTH_PREFIX + SECRET), also after a
// reconnect. Note that the process's arguments are visible to other users of the host.
// Returns 0; -1 when the host or the port is missing, the port is not a number in 1..65535,
// the secret is longer than OT_EVENTLOG_SECRET_MAX or holds a control character, or the
// sender cannot be started. After -1 the client is not initialised.
int otEventInit(int ac, const char* const* av, const char* prefix);

// Formats one event of level otInfo, otWarning or otError and queues it. Line feeds and
// carriage returns in the text become blanks; the line is cut to 254 characters (never inside
// a UTF-8 character). Waits only for a short lock, never for the network.
// Returns 0 when queued; -1 when the client is not initialised, the level is unknown, the
// format fails or the queue is full (the loss is counted and reported to the server in one
// warning line once the lines can be delivered again).
int otEvent(int level, const char* format, ...) OT_PRINTF_FORMAT(2, 3);

// Gives the sender at most 1000 ms to deliver the queued lines, then stops it, closes the
// connection and drops what is left. Afterwards otEvent returns -1 until the next otEventInit.
// Returns 0, also when the client was not initialised.
int otEventExit();

#endif
