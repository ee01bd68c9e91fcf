// The event log server's handling of what senders deliver, on arbitrary bytes. The input is
//   byte 0    the byte bound of a log file: OT_EVENTLOG_MIN_FILE_BYTES + byte * 3
//   byte 1    files kept: 1 + byte % 4; lines per file before rotation: (byte / 4) % 8
//   the rest  the text: handed to putEvents in pieces split at every 0xFF byte (one read of a
//             sender each); its first line is also checked as a handshake.
// Every file must stay within its bound and be whole lines free of control characters other
// than tab, no more files than kept may remain, the ring must hold no control character, and
// the handshake check must agree with a plain comparison.
#include <dirent.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "oteventlogserver.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

const char kSecret[] = "s3cret";

void removeDir(const std::string& dir, bool itself) {
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
        unlink((dir + "/" + e->d_name).c_str());
    closedir(d);
  }
  if (itself) rmdir(dir.c_str());
}

// One directory per process, emptied before every input and removed at exit. Never
// destroyed, so that the exit handler still finds its name.
const std::string& workDir() {
  static const std::string* dir = [] {
    std::string tmpl = "/tmp/otkit-fuzz-eventlog-XXXXXX";
    const char* made = mkdtemp(&tmpl[0]);
    check(made != nullptr);
    return new std::string(made);
  }();
  static const bool cleanup = atexit([] { removeDir(workDir(), true); }) == 0;
  (void)cleanup;
  return *dir;
}

bool isControl(const std::string& s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) return true;
  return c == 0xC2 && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xE0) == 0x80;
}

void checkHandshake(const uint8_t* data, size_t size) {
  const char* line = reinterpret_cast<const char*>(data);
  const void* nl = memchr(line, '\n', size);
  size_t n = nl ? (size_t)(static_cast<const char*>(nl) - line) + 1 : size;
  std::string text(line, n);
  int got = otEventLogCheckAuth(line, (int)n, kSecret);
  const std::string prefix = OT_EVENTLOG_AUTH_PREFIX;
  if (text.compare(0, prefix.size(), prefix) != 0 || text.size() < prefix.size()) {
    check(got == -1);
    return;
  }
  std::string given = text.substr(prefix.size());
  if (!given.empty() && given.back() == '\n') given.pop_back();
  if (!given.empty() && given.back() == '\r') given.pop_back();
  check(got == (given == kSecret ? 1 : 0));
  check(otEventLogCheckAuth(line, (int)n, "") == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 64 * 1024) return 0;
  const std::string& dir = workDir();
  removeDir(dir, false);
  long long bound = OT_EVENTLOG_MIN_FILE_BYTES + data[0] * 3LL;
  int keep = 1 + data[1] % 4;
  checkHandshake(data + 2, size - 2);
  {
    otEventLogServer server((dir + "/f").c_str(), (data[1] / 4) % 8);
    check(server.setMaxBytes(bound) == 0);
    check(server.setMaxFiles(keep) == 0);
    const char* p = reinterpret_cast<const char*>(data + 2);
    const char* end = reinterpret_cast<const char*>(data + size);
    for (;;) {
      const char* cut = static_cast<const char*>(memchr(p, 0xFF, (size_t)(end - p)));
      if (cut == nullptr) cut = end;
      check(server.putEvents(p, (int)(cut - p)) == 0);
      if (cut == end) break;
      p = cut + 1;
    }
    char buf[OT_EVENTLOG_SLOT_SIZE];
    int cursor = -1;
    while (server.getEvent(buf, &cursor) != nullptr) {
      std::string slot = buf;
      for (size_t i = 0; i < slot.size(); i++)
        check(!isControl(slot, i));
    }
  }
  int files = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      files++;
      std::string text;
      if (FILE* fp = fopen((dir + "/" + e->d_name).c_str(), "rb")) {
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof(chunk), fp)) > 0)
          text.append(chunk, n);
        fclose(fp);
      }
      check((long long)text.size() <= bound);
      check(!text.empty() && text.back() == '\n');
      for (size_t i = 0; i < text.size(); i++)
        check(!isControl(text, i));
    }
    closedir(d);
  }
  check(files <= keep);
  return 0;
}
