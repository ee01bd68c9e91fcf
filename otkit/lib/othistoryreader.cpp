#include "othistoryreader.h"
#include "otlog.h"

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <utility>

namespace {

const int RING_FILES = 10;
const int TIME_FIELDS = 7;

// The buffer that getline grows.
struct LineBuffer {
  char* text = nullptr;
  size_t capacity = 0;
  LineBuffer() = default;
  LineBuffer(const LineBuffer&) = delete;
  LineBuffer& operator=(const LineBuffer&) = delete;
  ~LineBuffer() { free(text); }
};

}  // namespace

otHistoryReader::otHistoryReader() : debug(0), position(0), fileIndex(0) {}

otHistoryReader::~otHistoryReader() {}

void otHistoryReader::setFileName() {
  char number[16];
  snprintf(number, sizeof(number), "%d.csv", fileIndex);
  fileName = csvName + number;
}

// Compares to the nanosecond: files of a ring that rotates quickly may share a second.
int otHistoryReader::startingIndex() {
  int oldest = 0;
  bool found = false;
  struct timespec oldestTime = {0, 0};
  for (fileIndex = 0; fileIndex < RING_FILES; fileIndex++) {
    setFileName();
    struct stat st;
    if (stat(fileName.c_str(), &st) != 0) continue;
    otLogDebug(debug, "try openFile=%s\n", fileName.c_str());
    const struct timespec& t = st.st_mtim;
    if (!found || t.tv_sec < oldestTime.tv_sec ||
        (t.tv_sec == oldestTime.tv_sec && t.tv_nsec < oldestTime.tv_nsec)) {
      oldest = fileIndex;
      oldestTime = t;
      found = true;
    }
  }
  fileIndex = oldest;
  setFileName();
  otLogDebug(debug, "oldestFile=%s\n", fileName.c_str());
  return oldest;
}

void otHistoryReader::readFile(otTime* start, otTime* end) {
  LineBuffer buffer;
  ssize_t length;
  while ((length = getline(&buffer.text, &buffer.capacity, file.get())) > 0) {
    // Callers get C strings: what follows a NUL byte (a block of zeros left by a crash, say)
    // could never reach them, and the line feed must.
    std::string line(buffer.text, strnlen(buffer.text, static_cast<size_t>(length)));
    if (line.empty() || line.back() != '\n') line += '\n';
    // A line without a whole time stamp (a record cut off by a crash, or a record whose text
    // held a line feed) cannot be placed in time.
    if (currentTime.setTimeFromString(line.c_str()) < TIME_FIELDS) {
      otLogDebug(debug, "no time=%s", line.c_str());
      continue;
    }
    if (start && currentTime < *start) {
      otLogDebug(debug, "too old=%s", line.c_str());
      continue;
    }
    if (end && currentTime > *end) {
      otLogDebug(debug, "too new=%s", line.c_str());
      break;
    }
    otLogDebug(debug, "pushLineToMemory=%s", line.c_str());
    lines.push_back(std::move(line));
  }
}

int otHistoryReader::read(const char* csvName_, otTime* start, otTime* end) {
  clean();
  if (!csvName_) return -1;
  csvName = csvName_;
  const int first = startingIndex();
  for (int i = 0; i < RING_FILES; i++) {
    fileIndex = (first + i) % RING_FILES;
    setFileName();
    file.reset(fopen(fileName.c_str(), "r"));
    if (!file) continue;
    otLogDebug(debug, "success openFile=%s\n", fileName.c_str());
    otLogDebug(debug, "reading=%s\n", fileName.c_str());
    readFile(start, end);
    file.reset();
  }
  position = lines.size();
  return 0;
}

const char* otHistoryReader::firstLine() {
  position = lines.size();
  return nextLine();
}

const char* otHistoryReader::nextLine() {
  if (position == 0 || position > lines.size()) return "";
  return lines[--position].c_str();
}

int otHistoryReader::cat(const char* csvName_, FILE* out) {
  if (!csvName_ || !out) return -1;
  csvName = csvName_;
  const int first = startingIndex();
  std::vector<char> buffer(65536);
  for (int i = 0; i < RING_FILES; i++) {
    fileIndex = (first + i) % RING_FILES;
    setFileName();
    file.reset(fopen(fileName.c_str(), "r"));
    if (!file) continue;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
      if (fwrite(buffer.data(), 1, n, out) != n) {
        file.reset();
        return -1;
      }
    }
    file.reset();
  }
  return fflush(out) == 0 ? 0 : -1;
}

void otHistoryReader::clean() {
  lines.clear();
  lines.shrink_to_fit();
  position = 0;
}
