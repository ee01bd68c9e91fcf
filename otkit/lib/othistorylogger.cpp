#include "othistorylogger.h"
#include "otlog.h"

#include <sys/stat.h>

namespace {

const int RING_FILES = 10;

std::string ringFileName(const std::string& base, int index) {
  char number[16];
  snprintf(number, sizeof(number), "%d.csv", index);
  return base + number;
}

// The existing ring file with the earliest modification time, the first index on equal
// times, 0 if none exists. Compares to the nanosecond: files of a ring that rotates quickly
// may share a second.
int startingIndex(const std::string& base) {
  int oldest = 0;
  bool found = false;
  struct timespec oldestTime = {0, 0};
  for (int i = 0; i < RING_FILES; i++) {
    struct stat st;
    if (stat(ringFileName(base, i).c_str(), &st) != 0) continue;
    const struct timespec& t = st.st_mtim;
    if (!found || t.tv_sec < oldestTime.tv_sec ||
        (t.tv_sec == oldestTime.tv_sec && t.tv_nsec < oldestTime.tv_nsec)) {
      oldest = i;
      oldestTime = t;
      found = true;
    }
  }
  return oldest;
}

}  // namespace

otHistoryLogger::otHistoryLogger(const char* csvName_, int maxHoursPerFile_, int maxLinesInMemory_)
    : debug(0),
      position(0),
      maxHoursPerFile(maxHoursPerFile_ > 0 ? maxHoursPerFile_ : 1),
      maxLinesInMemory(maxLinesInMemory_ > 0 ? maxLinesInMemory_ : 1),
      fileIndex(-1),
      openFailureShown(false),
      csvName(csvName_ ? csvName_ : "") {
  const int h = maxHoursPerFile;
  period = otTime(h / 8928, (h / 744) % 12, (h / 24) % 31, h % 24);
}

otHistoryLogger::~otHistoryLogger() {}

otTime otHistoryLogger::currentLocalTime() {
  otTime now;
  now.getLocalTime();
  return now;
}

int otHistoryLogger::pushLine(const char* text) {
  mutex.lock();
  currentTime = currentLocalTime();
  std::string record = currentTime.getTimeString();
  record += '\t';
  record += text ? text : "";
  otLogDebug(debug, "pushLine=%s\n", record.c_str());

  lines.push_front(record);
  position++;  // the walk stays on the record it was at
  while (lines.size() > static_cast<size_t>(maxLinesInMemory))
    lines.pop_back();

  int ret = writeRecord(record);
  mutex.unlock();
  return ret;
}

int otHistoryLogger::openFile() {
  fileName = ringFileName(csvName, fileIndex);
  file.reset(fopen(fileName.c_str(), "w"));
  if (!file) {
    if (!openFailureShown)
      otLog(OT_LOG_ERROR, "otHistoryLogger: cannot open %s\n", fileName.c_str());
    openFailureShown = true;
    return -1;
  }
  openFailureShown = false;
  fileStartTime = currentTime;
  return 0;
}

int otHistoryLogger::writeRecord(const std::string& record) {
  if (fileIndex < 0) {
    fileIndex = startingIndex(csvName);
    openFile();
  } else if (file && fileStartTime + period < currentTime) {
    file.reset();
    fileIndex = (fileIndex + 1) % RING_FILES;
    openFile();
  } else if (!file) {
    openFile();  // the same index again: the ring keeps its order
  }
  if (!file) return -1;
  if (fprintf(file.get(), "%s\n", record.c_str()) < 0) return -1;
  return fflush(file.get()) == 0 ? 0 : -1;
}

const char* otHistoryLogger::firstLine() {
  mutex.lock();
  position = 0;
  mutex.unlock();
  return nextLine();
}

const char* otHistoryLogger::nextLine() {
  mutex.lock();
  if (position < lines.size())
    walkLine = lines[position++];
  else
    walkLine.clear();
  mutex.unlock();
  return walkLine.c_str();
}
