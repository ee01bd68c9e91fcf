// Event log server: collects the text events that daemons send over TCP (one line per event,
// see otevent.h), keeps the latest 128 in a ring for readers in this process and, when a base
// file name is given, appends every event to log files that are rotated after a number of
// lines.
//
// Log file name: base name + local time of opening as "YYYY-MM-DD_HH_MM" + ".otEventLog",
// e.g. "/var/log/plant2014-03-07_08_05.otEventLog". A file of that name that already exists
// (a rotation or a restart within the same minute) is never replaced: the next free name of
// the form base + "YYYY-MM-DD_HH_MM" + "_2" + ".otEventLog", "_3", ... is taken instead.
// Every event is written exactly as received, line feed included, and flushed at once.
#ifndef OTEVENTLOGSERVER_H
#define OTEVENTLOGSERVER_H

#include <stdio.h>

#include <atomic>

#include "otacceptloop.h"
#include "otsocket.h"
#include "otthread.h"

enum {
  OT_EVENTLOG_SLOTS = 128,      // events kept in the ring
  OT_EVENTLOG_SLOT_SIZE = 256,  // bytes per slot: 255 characters and the NUL
  // Lines per log file before rotation (a file holds max_events + 1 lines). Event lines are
  // at most 255 bytes, so a file stays below about 2.5 MB and a day of a busy plant (a few
  // events per second) fills a few dozen files.
  OT_EVENTLOG_MAX_EVENTS = 10000,
  // Longest event the TCP side takes as one line, line feed included. A longer line (up to
  // OT_EVENTLOG_LINE_READ bytes) is cut to OT_EVENTLOG_LINE_MAX - 1 characters plus a line
  // feed and the rest of it is dropped.
  OT_EVENTLOG_LINE_MAX = 4096,
  // Longest line the TCP side reads at all, line feed included: a longer one is dropped whole
  // (otLineReader's rule for over-long lines), so a sender cannot make the server buffer
  // without limit.
  OT_EVENTLOG_LINE_READ = 16384
};

class otEventLogServer {
 public:
  // filename: base name of the log files (copied); null or "" keeps events in the ring only.
  // Nothing is opened before the first event. A max_events below 0 counts as 0.
  otEventLogServer(const char* filename = nullptr, int max_events = OT_EVENTLOG_MAX_EVENTS);
  virtual ~otEventLogServer();
  otEventLogServer(const otEventLogServer&) = delete;
  otEventLogServer& operator=(const otEventLogServer&) = delete;

  // Stores event in the next ring slot (cut to 255 characters) and, with a base name, writes
  // it whole to the current log file, opening one when none is open. After max_events + 1
  // lines the file is closed; the next event opens a new one.
  // Returns 0; -1 for a null event (nothing stored); -2 when a log file is wanted but could
  // not be opened or written (the event is in the ring).
  int putEvent(const char* event);
  // Stores every line of text (length bytes, lines ending in a line feed; a last line
  // without one is stored too) as one event each, as putEvent does, under one lock and with
  // one flush of the log file after the last of them: what a sender delivered in one read
  // reaches the file together. Returns 0, -1 for a null text, -2 as putEvent.
  int putEvents(const char* text, int length);

  // The next event for the reader that owns *cursor (-1 for a new reader, then left to this
  // call). A new reader first walks the older slots (slots never written read " "), then
  // follows new events one by one. buf needs OT_EVENTLOG_SLOT_SIZE bytes and receives the
  // slot's text up to its first line feed.
  // Returns buf, or null with buf emptied when there is nothing new (also before the first
  // event); null also for a null buf or cursor.
  char* getEvent(char* buf, int* cursor);

 private:
  // Opens the log file for the current minute; null when that fails.
  FILE* openLogFile();

  char ring[OT_EVENTLOG_SLOTS][OT_EVENTLOG_SLOT_SIZE];
  otMutex mutex;  // ring, file, counters
  int num;        // newest slot written, -1 while nothing was stored
  char* filename;
  FILE* file;
  int max_events;
  int cnt;  // lines in the current file
  // Last file name stamp and the suffix used with it, so that a rotation within one minute
  // does not test every earlier name again.
  char lastStamp[20];
  int lastSuffix;
};

// The TCP side: an otAcceptLoop on port (every IPv4 address, a deep backlog) with one thread
// per sending connection, each reading lines (otLineReader) and handing every line to the
// server as one event; the lines that arrived together go to putEvents as one batch. A NUL in
// a line becomes a space. Nothing is sent back. start and stop are called by the owner, not
// concurrently with each other.
class otEventLogServerThreads {
 public:
  // The server is not owned and must outlive this object (or at least the last stop()).
  otEventLogServerThreads(int port, otEventLogServer* server);
  // Calls stop().
  virtual ~otEventLogServerThreads();
  otEventLogServerThreads(const otEventLogServerThreads&) = delete;
  otEventLogServerThreads& operator=(const otEventLogServerThreads&) = delete;

  // Listens on port (all IPv4 addresses) before it returns and starts the accept thread; while
  // the port is taken the accept thread retries every second. Returns 0 on success; -1 when
  // port is outside 1..65535, no server is given, the loop is already running or the port
  // cannot be bound for another reason than being taken.
  int start();
  // Ends the accept thread and every worker (their connections are shut down; lines not yet
  // read are dropped) and waits until all of them are gone: afterwards no thread of this
  // object touches it or the server. May be called again; start() may follow. Returns 0.
  int stop();
  int getPort();

  otThread thread;  // unused: the accept loop has a thread of its own; kept for old sources
  int port;
  otEventLogServer* server;

 private:
  static void serveConnection(int fd, void* self);

  otAcceptLoop loop;
  std::atomic<int> stopping;
  bool running;
};

#endif
