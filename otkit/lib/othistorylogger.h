// otHistoryLogger: records lines of process data with a time stamp into a ring of ten files
// and keeps the newest lines in memory for immediate display.
//
// Files: for the base name N, N0.csv ... N9.csv. Each record is one line
// "<otTime::getTimeString of the local time><TAB><text>\n". A file is used for a period of
// maxHoursPerFile hours, then the next index is opened (9 wraps to 0) and truncated, so the
// ring holds at most ten periods. The first write after construction truncates the existing
// file with the earliest modification time (the first index on equal times, index 0 if none
// exists): a restarted logger overwrites the oldest file.
//
// The period counts months as 31 days: years h / 8928, months h / 744 mod 12, days
// (h / 24) mod 31, hours h mod 24, added to the time the file was opened.
//
// pushLine is serialised by a mutex, so several threads may log into one logger.
#ifndef OTHISTORYLOGGER_H
#define OTHISTORYLOGGER_H

#include <stdio.h>

#include <deque>
#include <memory>
#include <string>

#include "otthread.h"
#include "ottime.h"

class otHistoryLogger {
 public:
  // Enough lines for a screen of recent values without holding a whole file in memory.
  enum { DEFAULT_MAX_LINES_IN_MEMORY = 100 };

  // A null csvName is taken as "". Values <= 0 become 1. No file is opened yet.
  otHistoryLogger(const char* csvName, int maxHoursPerFile,
                  int maxLinesInMemory = DEFAULT_MAX_LINES_IN_MEMORY);
  // Closes the file and frees the lines in memory.
  virtual ~otHistoryLogger();
  otHistoryLogger(const otHistoryLogger&) = delete;
  otHistoryLogger& operator=(const otHistoryLogger&) = delete;

  // Builds the record "<time>\t<text>" (a null text counts as ""), prints "pushLine=<record>"
  // when debug is set, puts it at the head of the memory list (dropping the oldest beyond
  // maxLinesInMemory) and writes it to the current file, rotating first when the period is
  // over. Returns 0, or -1 if the record could not be written to a file; it is in memory in
  // either case, and a file that could not be opened is tried again on the next call.
  int pushLine(const char* text);

  // Walk the memory list from the newest record to the oldest: the record text without line
  // feed, "" at the end, never null. The text is a copy, valid until the next call of
  // firstLine or nextLine; records pushed during a walk do not disturb it.
  const char* firstLine();
  const char* nextLine();

  int debug;  // 1 prints every record

 protected:
  // The current local time; the clock of record time stamps and of the file period. Called
  // with the logger's mutex held.
  virtual otTime currentLocalTime();

 private:
  // Opens fileIndex for writing (truncating) and records its start time. Returns 0 or -1.
  int openFile();
  // Writes the record into the current file, rotating or (re)opening as needed.
  int writeRecord(const std::string& record);

  struct FileCloser {
    void operator()(FILE* fp) const { fclose(fp); }
  };

  otMutex mutex;
  std::deque<std::string> lines;  // newest first
  size_t position;                // next record of the walk
  std::string walkLine;           // what firstLine/nextLine returned last
  std::unique_ptr<FILE, FileCloser> file;
  otTime currentTime;
  otTime fileStartTime;
  otTime period;
  int maxHoursPerFile;
  int maxLinesInMemory;
  int fileIndex;          // -1 before the first file
  bool openFailureShown;  // one message per run of failed openings
  std::string csvName;
  std::string fileName;
};

#endif
