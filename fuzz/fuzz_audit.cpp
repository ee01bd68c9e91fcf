// An audit trail on arbitrary bytes, as a file: the verifier names a line of the file or none;
// a file that it calls intact can be opened and extended and stays intact; the tail reader
// hands out the file's own last lines.
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "otaudit.h"
#include "otfd.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

std::string tempPath;

void removeTemp() {
  if (!tempPath.empty()) unlink(tempPath.c_str());
}

const std::string& temp() {
  if (tempPath.empty()) {
    const char* dir = getenv("TMPDIR");
    tempPath = std::string(dir && *dir ? dir : "/tmp") + "/fuzz_audit_XXXXXX";
    int fd = mkstemp(&tempPath[0]);
    if (fd < 0) abort();
    close(fd);
    atexit(removeTemp);
  }
  return tempPath;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = temp();
  FILE* fp = fopen(path.c_str(), "wb");
  if (!fp) abort();
  if (size) fwrite(data, 1, size, fp);
  fclose(fp);
  long long feeds = 0;
  for (size_t i = 0; i < size; i++)
    feeds += data[i] == '\n';
  const long long linesInFile = feeds + (size > 0 && data[size - 1] != '\n' ? 1 : 0);

  std::string why;
  long long lines = -1;
  long long bad = otAuditVerify(path.c_str(), &why, &lines);
  check(bad >= 0);
  if (bad == 0) {
    check(lines == feeds && lines == linesInFile);
  } else {
    check(bad <= linesInFile && lines == bad - 1);
    check(why.compare(0, 5 + std::to_string(bad).size(), "line " + std::to_string(bad)) == 0);
  }

  {
    otFd fd(open(path.c_str(), O_RDONLY));
    std::vector<std::string> tail;
    bool whole = false;
    if (otAuditTail(fd.get(), 3, &tail, &whole, &why) == 0) {
      check(whole == (size == 0 || data[size - 1] == '\n'));
      check((long long)tail.size() == (linesInFile < 3 ? linesInFile : 3));
      std::string end;
      for (const std::string& l : tail)
        end += l + "\n";
      if (!whole) end.pop_back();
      check(end.size() <= size && memcmp(data + size - end.size(), end.data(), end.size()) == 0);
    }
  }

  if (bad == 0) {
    otAuditLog log;
    check(log.open(path.c_str(), &why) == 0);
    check(log.lines() == lines);
    otAuditRecord r;
    r.timeMs = 1;
    r.user = std::string(reinterpret_cast<const char*>(data), size < 40 ? size : 40);
    check(log.append(r) == 0);
    log.close();
    long long after = 0;
    check(otAuditVerify(path.c_str(), &why, &after) == 0 && after == lines + 1);
  }
  return 0;
}
