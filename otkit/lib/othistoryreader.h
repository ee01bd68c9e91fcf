// otHistoryReader: reads the ring of files that otHistoryLogger writes (N0.csv ... N9.csv)
// back in time order, filtered by a time window, or copies it whole to a stream.
//
// Reading starts at the existing ring file with the earliest modification time (the first
// index on equal times, index 0 if none exists) and goes on in index order, 9 wrapping to 0,
// over all ten indexes. A missing index is passed over rather than ending the reading: after
// a restart of the logger the newest file may lie behind indexes that were never written.
//
// Used by one thread.
#ifndef OTHISTORYREADER_H
#define OTHISTORYREADER_H

#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "ottime.h"

class otHistoryReader {
 public:
  otHistoryReader();
  virtual ~otHistoryReader();
  otHistoryReader(const otHistoryReader&) = delete;
  otHistoryReader& operator=(const otHistoryReader&) = delete;

  // Discards earlier results and reads the ring of csvName. In each file, a line whose time
  // stamp lies before *start is skipped, a line after *end ends that file (the next file is
  // still read), other lines are stored. A null start or end leaves that side open. Lines
  // are read whole, whatever their length; a line whose time stamp does not have all seven
  // fields is skipped. Returns 0, or -1 for a null csvName.
  int read(const char* csvName, otTime* start, otTime* end);

  // Walk the lines read from the newest to the oldest, each with its line feed (one is added
  // to a last line that lacks it, and a line is cut at a NUL byte); "" at the end, never
  // null. Valid until the next read or clean.
  const char* firstLine();
  const char* nextLine();

  // Copies all files of the ring, oldest first, unchanged to out. Returns 0, or -1 for a null
  // argument or a failed write.
  int cat(const char* csvName, FILE* out);

  // Frees the lines read.
  void clean();

  int debug;  // 1 prints the files tried and the fate of every line

 private:
  struct FileCloser {
    void operator()(FILE* fp) const { fclose(fp); }
  };

  // Reads one file into the list, honouring the window.
  void readFile(otTime* start, otTime* end);
  int startingIndex();
  void setFileName();

  std::vector<std::string> lines;  // oldest first; the walk runs from the back
  size_t position;                 // lines still to walk
  otTime currentTime;              // time stamp of the last line read
  std::unique_ptr<FILE, FileCloser> file;
  int fileIndex;
  std::string csvName;
  std::string fileName;
};

#endif
