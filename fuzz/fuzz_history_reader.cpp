// Arbitrary bytes as the content of history ring files, read back through a time window and
// copied with cat. The first byte chooses the setup: bit 0 writes the content to a second
// ring file as well, bits 1 and 2 close the window at its start and at its end. Each input
// gets its own temporary directory, removed before the next.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "othistoryreader.h"
#include "ottime.h"

namespace {

bool writeBytes(const std::string& path, const uint8_t* data, size_t size) {
  FILE* fp = fopen(path.c_str(), "wb");
  if (!fp) return false;
  bool ok = size == 0 || fwrite(data, 1, size, fp) == size;
  return fclose(fp) == 0 && ok;
}

long fileSize(const std::string& path) {
  FILE* fp = fopen(path.c_str(), "rb");
  if (!fp) return -1;
  fseek(fp, 0, SEEK_END);
  long size = ftell(fp);
  fclose(fp);
  return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int flags = data[0];
  data++;
  size--;

  const char* tmp = getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_history_reader-" +
                    std::to_string(getpid()) + "-XXXXXX";
  if (!mkdtemp(&dir[0])) abort();
  const std::string base = dir + "/h";
  const std::string files[2] = {base + "0.csv", base + "1.csv"};
  const std::string catPath = dir + "/cat";
  const int fileCount = (flags & 1) ? 2 : 1;
  for (int i = 0; i < fileCount; i++)
    if (!writeBytes(files[i], data, size)) abort();

  otTime start(2014, 1, 1, 10, 0, 0, 0), end(2014, 12, 31, 23, 59, 59, 999);
  otTime* from = (flags & 2) ? &start : nullptr;
  otTime* to = (flags & 4) ? &end : nullptr;

  otHistoryReader reader;
  if (reader.read(base.c_str(), from, to) != 0) abort();
  size_t lines = 0;
  for (const char* line = reader.firstLine(); *line; line = reader.nextLine()) {
    const size_t length = strlen(line);
    if (line[length - 1] != '\n') abort();
    otTime stamp;
    if (stamp.setTimeFromString(line) != 7) abort();
    if ((from && stamp < *from) || (to && stamp > *to)) abort();
    lines++;
  }
  if (lines > fileCount * (size + 1)) abort();

  FILE* out = fopen(catPath.c_str(), "wb");
  if (!out) abort();
  if (reader.cat(base.c_str(), out) != 0) abort();
  fclose(out);
  if (fileSize(catPath) != static_cast<long>(fileCount * size)) abort();

  reader.clean();
  for (int i = 0; i < fileCount; i++)
    unlink(files[i].c_str());
  unlink(catPath.c_str());
  rmdir(dir.c_str());
  return 0;
}
