// Event log server: collects the text events that daemons send over TCP (one line per event,
// see otevent.h), keeps the latest 128 in a ring for readers in this process and, when a base
// file name is given, appends every event to log files that are rotated after a number of
// lines or bytes, whichever comes first.
//
// Log file name: base name + local time of opening as "YYYY-MM-DD_HH_MM" + ".otEventLog",
// e.g. "/var/log/plant2014-03-07_08_05.otEventLog". A file of that name that already exists
// (a rotation or a restart within the same minute) is never replaced: the next free name of
// the form base + "YYYY-MM-DD_HH_MM" + "_2" + ".otEventLog", "_3", ... is taken instead.
//
// Every event is one line of the file, ended by a line feed (added when the sender left it
// out) and flushed at once. Control characters other than tab (bytes 0x00-0x1F and 0x7F, and
// the UTF-8 encoded C1 controls U+0080-U+009F) are stored as blanks, one blank per byte, in
// the file and in the ring: a forged carriage return or terminal escape sequence never
// reaches a log viewer raw, and a line keeps its length. Everything else is stored as
// received.
#ifndef OTEVENTLOGSERVER_H
#define OTEVENTLOGSERVER_H

#include <stdio.h>

#include <atomic>
#include <string>

#include "otacceptloop.h"
#include "otsocket.h"
#include "otthread.h"

enum {
  OT_EVENTLOG_SLOTS = 128,      // events kept in the ring
  OT_EVENTLOG_SLOT_SIZE = 256,  // bytes per slot: 255 characters and the NUL
  // Lines per log file before rotation (a file holds max_events + 1 lines). The client's
  // event lines are at most 255 bytes, so a file stays below about 2.5 MB and a day of a busy
  // plant (a few events per second) fills a few dozen files; the byte bound (setMaxBytes)
  // holds a file to that size also when senders send longer lines.
  OT_EVENTLOG_MAX_EVENTS = 10000,
  // Longest event the TCP side takes as one line, line feed included. A longer line (up to
  // OT_EVENTLOG_LINE_READ bytes) is cut to OT_EVENTLOG_LINE_MAX - 1 characters plus a line
  // feed and the rest of it is dropped.
  OT_EVENTLOG_LINE_MAX = 4096,
  // Longest line the TCP side reads at all, line feed included: a longer one is dropped whole
  // (otLineReader's rule for over-long lines), so a sender cannot make the server buffer
  // without limit.
  OT_EVENTLOG_LINE_READ = 16384,
  // Longest shared secret (see otEventLogServerThreads::setSecret).
  OT_EVENTLOG_SECRET_MAX = 256,
  // With a secret set, a connection that has not sent its first line within this time is
  // closed, so that silent connections cannot hold server threads.
  OT_EVENTLOG_AUTH_TIMEOUT_MS = 10000,
  // Smallest byte bound of a log file that setMaxBytes takes: the cut marker must fit.
  OT_EVENTLOG_MIN_FILE_BYTES = 64
};

// First line of a connection to a server with a shared secret: this prefix, the secret, a
// line feed. The leading SOH (0x01) is a control character, so no event line can be taken
// for it: a server stores every control character as a blank, and a server without a secret
// drops such a first line instead of logging it (a secret never lands in a log file).
#define OT_EVENTLOG_AUTH_PREFIX "\001auth "

// Replaces in text[0..length) every control character except tab and line feed (bytes
// 0x00-0x1F, 0x7F) and every UTF-8 encoded C1 control (0xC2 0x80-0x9F) by blanks, byte for
// byte. Returns the number of bytes replaced; 0 for a null text.
int otEventLogBlankControls(char* text, int length);

// Checks one line (length bytes; a trailing "\n" or "\r\n" is ignored) against the
// handshake OT_EVENTLOG_AUTH_PREFIX + secret. Returns 1 when it is the handshake with this
// secret, 0 when it is a handshake with another secret (or secret is null or empty), -1 when
// the line is no handshake at all. The time taken depends on the length of secret only, not
// on how much of it the line matches.
int otEventLogCheckAuth(const char* line, int length, const char* secret);

class otEventLogServer {
 public:
  // filename: base name of the log files (copied); null or "" keeps events in the ring only.
  // Nothing is opened before the first event. A max_events below 0 counts as 0.
  // Byte bound of a file: see setMaxBytes; number of files kept: unlimited (setMaxFiles).
  otEventLogServer(const char* filename = nullptr, int max_events = OT_EVENTLOG_MAX_EVENTS);
  virtual ~otEventLogServer();
  otEventLogServer(const otEventLogServer&) = delete;
  otEventLogServer& operator=(const otEventLogServer&) = delete;

  // Largest size of one log file in bytes. A line that does not fit in what is left of the
  // current file closes it and goes to a new one; a single line longer than the whole bound
  // is cut to fit, ending in " [cut]" (never inside a UTF-8 character). So no file grows
  // beyond the bound, whatever the line lengths.
  // bytes 0 restores the default: (max_events + 1) * OT_EVENTLOG_SLOT_SIZE, at least
  // OT_EVENTLOG_LINE_MAX, which the line count reaches first for events of the usual length
  // (at most 255 characters), so files rotate as they always did and the longest line the
  // TCP side takes is never cut here.
  // Takes effect with the next event. Returns 0; -1 for a bytes other than 0 below
  // OT_EVENTLOG_MIN_FILE_BYTES (nothing changed).
  int setMaxBytes(long long bytes);
  long long getMaxBytes();
  // Keeps at most files log files of this base name (the one being written included): when a
  // new file is opened, the oldest (by the time and number in their names) beyond the limit
  // are deleted. Only regular files whose names have exactly the log file form are counted
  // or deleted, also those of an earlier run. 0 (the default): every file is kept.
  // Returns 0; -1 for a negative files (nothing changed).
  int setMaxFiles(int files);

  // Stores event as one line: in the next ring slot (cut to 255 characters) and, with a base
  // name, in the current log file, opening one when none is open (its control characters as
  // blanks; line feeds inside it as blanks too, a line feed at its end is added when
  // missing). After max_events + 1 lines, or when the next line would pass the byte bound,
  // the file is closed; the next event opens a new one.
  // Returns 0; -1 for a null event (nothing stored); -2 when a log file is wanted but could
  // not be opened or written (the event is in the ring).
  int putEvent(const char* event);
  // Stores every line of text (length bytes, lines ending in a line feed; a last line
  // without one is stored too, with a line feed added in the file) as one event each, as
  // putEvent does, under one lock and with one flush of the log file after the last of them:
  // what a sender delivered in one read reaches the file together. Returns 0, -1 for a null
  // text, -2 as putEvent.
  int putEvents(const char* text, int length);
  // putEvents on a text the caller gives up for the call: its control characters are blanked
  // where it stands instead of in a copy.
  int putEventsInPlace(char* text, int length);

  // The next event for the reader that owns *cursor (-1 for a new reader, then left to this
  // call). A new reader first walks the older slots (slots never written read " "), then
  // follows new events one by one. buf needs OT_EVENTLOG_SLOT_SIZE bytes and receives the
  // slot's text up to its first line feed.
  // Returns buf, or null with buf emptied when there is nothing new (also before the first
  // event); null also for a null buf or cursor.
  char* getEvent(char* buf, int* cursor);

 private:
  // Opens the log file for the current minute, then keeps max_files; null when that fails.
  FILE* openLogFile();
  // Deletes the oldest log files beyond max_files, never current (the name just opened).
  void pruneLogFiles(const char* current);
  // Byte bound of a file (max_bytes or its default). Called with the mutex held.
  long long fileBound() const;
  // Stores one line (length bytes, the last of them its line feed, controls blanked) in the
  // ring and the file. Returns 0 or -2. Called with the mutex held.
  int storeLine(char* line, size_t length);

  char ring[OT_EVENTLOG_SLOTS][OT_EVENTLOG_SLOT_SIZE];
  otMutex mutex;  // ring, file, counters
  int num;        // newest slot written, -1 while nothing was stored
  char* filename;
  FILE* file;
  int max_events;
  int cnt;              // lines in the current file
  long long bytes;      // bytes in the current file
  long long max_bytes;  // 0: the default of setMaxBytes
  int max_files;        // 0: no limit
  // Last file name stamp and the suffix used with it, so that a rotation within one minute
  // does not test every earlier name again.
  char lastStamp[20];
  int lastSuffix;
};

// The TCP side: an otAcceptLoop on port (by default every IPv4 address, a deep backlog) with
// one thread per sending connection, each reading lines (otLineReader) and handing every line
// to the server as one event; the lines that arrived together go to putEvents as one batch.
// Nothing is sent back. start and stop are called by the owner, not concurrently with each
// other.
//
// Shared secret (off by default): with setSecret, the first line of every connection must be
// OT_EVENTLOG_AUTH_PREFIX + secret (e.g. printf '\001auth %s\n' "$SECRET"), sent within
// OT_EVENTLOG_AUTH_TIMEOUT_MS. A connection whose first line is anything else, or that stays
// silent too long, is closed with nothing of it stored, and counted (refusedConnections);
// standard output says so, at most once a minute with the count so far. Without a secret, a
// first line that is a handshake is dropped and the connection goes on as usual, so clients
// can be given the secret before the server.
class otEventLogServerThreads {
 public:
  // The server is not owned and must outlive this object (or at least the last stop()).
  otEventLogServerThreads(int port, otEventLogServer* server);
  // Calls stop().
  virtual ~otEventLogServerThreads();
  otEventLogServerThreads(const otEventLogServerThreads&) = delete;
  otEventLogServerThreads& operator=(const otEventLogServerThreads&) = delete;

  // Address to listen on from the next start(): null or "" (the default) every IPv4 address,
  // else a numeric address ("127.0.0.1", "::") or a host name (copied). Returns 0; -1 while
  // running (nothing changed).
  int setBindAddress(const char* address);
  // Shared secret from the next start(): null or "" (the default) none. Returns 0; -1 while
  // running, or for a secret longer than OT_EVENTLOG_SECRET_MAX or holding a control
  // character (it could not be sent as one line); nothing is changed then.
  int setSecret(const char* secret);
  // Connections closed since construction because their first line was not the handshake.
  long long refusedConnections();

  // Listens on port (on the bind address) before it returns and starts the accept thread;
  // while the port is taken the accept thread retries every second. Returns 0 on success; -1
  // when port is outside 1..65535, no server is given, the loop is already running or the
  // address cannot be bound for another reason than being taken.
  int start();
  // Ends the accept thread and every worker (their connections are shut down; lines not yet
  // read are dropped) and waits until all of them are gone: afterwards no thread of this
  // object touches it or the server. May be called again; start() may follow. Returns 0.
  int stop();
  int getPort();

  int port;
  otEventLogServer* server;

 private:
  static void serveConnection(int fd, void* self);
  // Counts a refused connection and says so on standard output, at most once a minute.
  void refuse();

  otAcceptLoop loop;
  std::atomic<int> stopping;
  bool running;
  std::string bindAddress;
  std::string secret;
  std::atomic<long long> refused;
  std::atomic<long long> lastReportMs;  // otMonotonicMs() of the last refusal message
};

#endif
