#include "oteventlogserver.h"
#include "otlog.h"

#include <dirent.h>
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "otlinereader.h"
#include "ottime.h"

namespace {

// Highest "_N" suffix tried for one minute's file name before giving up on files.
const int kMaxSuffix = 100000;

// Ends a line that was cut to the byte bound of a file.
const char kCutMarker[] = " [cut]";

// Between two messages about refused connections, so that a peer that keeps trying cannot
// flood standard output.
const long long kRefusalReportMs = 60000;

const char kLogExtension[] = ".otEventLog";

// Stamp and suffix of name when it is base + "YYYY-MM-DD_HH_MM" [+ "_N", N >= 2] +
// ".otEventLog"; the form is matched exactly, so that no other file is ever taken for a log
// file and deleted.
bool parseLogFileName(const std::string& name, const std::string& base, std::string* stamp,
                      long* suffix) {
  static const char shape[] = "dddd-dd-dd_dd_dd";
  if (name.compare(0, base.size(), base) != 0) return false;
  size_t p = base.size();
  for (const char* c = shape; *c; c++, p++) {
    if (p >= name.size()) return false;
    char ch = name[p];
    if (*c == 'd' ? (ch < '0' || ch > '9') : ch != *c) return false;
  }
  *stamp = name.substr(base.size(), sizeof(shape) - 1);
  *suffix = 1;
  if (p < name.size() && name[p] == '_') {
    size_t first = ++p;
    long value = 0;
    while (p < name.size() && name[p] >= '0' && name[p] <= '9' && p - first < 9)
      value = value * 10 + (name[p++] - '0');
    if (p == first || name[first] == '0' || value < 2) return false;
    *suffix = value;
  }
  return name.compare(p, std::string::npos, kLogExtension) == 0;
}

// True when none of the 8 bytes of x is a control character, DEL or above 0x7F: most words of
// an event are plain text, and skipping them whole spares a test of every byte.
inline bool plainWord(uint64_t x) {
  const uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
  const uint64_t del = x ^ (0x7Full * ones);
  return ((x | ((x - 0x20 * ones) & ~x) | ((del - ones) & ~del)) & highs) == 0;
}

}  // namespace

int otEventLogBlankControls(char* text, int length) {
  if (text == nullptr) return 0;
  int replaced = 0;
  for (int i = 0; i < length; i++) {
    if ((i & 7) == 0) {
      uint64_t word;
      while (i + 8 <= length && (memcpy(&word, text + i, 8), plainWord(word)))
        i += 8;
      if (i >= length) break;
    }
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
      text[i] = ' ';
      replaced++;
    } else if (c == 0xC2 && i + 1 < length &&
               (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80) {
      // U+0080..U+009F: a terminal may take U+009B for the escape sequence introducer.
      text[i] = ' ';
      text[i + 1] = ' ';
      replaced += 2;
      i++;
    }
  }
  return replaced;
}

int otEventLogCheckAuth(const char* line, int length, const char* secret) {
  static const size_t prefixLength = sizeof(OT_EVENTLOG_AUTH_PREFIX) - 1;
  if (line == nullptr || length < 0 || (size_t)length < prefixLength ||
      memcmp(line, OT_EVENTLOG_AUTH_PREFIX, prefixLength) != 0)
    return -1;
  size_t n = (size_t)length;
  if (n > 0 && line[n - 1] == '\n') n--;
  if (n > 0 && line[n - 1] == '\r') n--;
  const char* given = line + prefixLength;
  size_t givenLength = n - prefixLength;
  if (secret == nullptr || secret[0] == '\0') return 0;
  // Every byte of the secret is compared whatever the outcome, so the time taken tells a
  // guesser nothing about how many leading bytes were right.
  size_t secretLength = strlen(secret);
  unsigned diff = givenLength != secretLength ? 1u : 0u;
  for (size_t i = 0; i < secretLength; i++) {
    unsigned char g = i < givenLength ? static_cast<unsigned char>(given[i]) : 0;
    diff |= g ^ static_cast<unsigned char>(secret[i]);
  }
  return diff == 0 ? 1 : 0;
}

otEventLogServer::otEventLogServer(const char* filename_, int max_events_)
    : num(-1),
      filename(nullptr),
      file(nullptr),
      max_events(max_events_ < 0 ? 0 : max_events_),
      cnt(0),
      bytes(0),
      max_bytes(0),
      max_files(0),
      lastSuffix(0) {
  for (int i = 0; i < OT_EVENTLOG_SLOTS; i++)
    strcpy(ring[i], " ");
  lastStamp[0] = '\0';
  if (filename_ != nullptr && filename_[0] != '\0') filename = strdup(filename_);
}

otEventLogServer::~otEventLogServer() {
  if (file != nullptr) fclose(file);
  free(filename);
}

FILE* otEventLogServer::openLogFile() {
  otTime now;
  if (now.getLocalTime() != 0) return nullptr;
  // "2014-03-07 08:05:09 0042" -> "2014-03-07_08_05"
  char stamp[sizeof(lastStamp)];
  snprintf(stamp, sizeof(stamp), "%.16s", now.getTimeString());
  if (strlen(stamp) != 16) return nullptr;
  stamp[10] = '_';
  stamp[13] = '_';

  int suffix = strcmp(stamp, lastStamp) == 0 ? lastSuffix + 1 : 1;
  size_t size = strlen(filename) + 48;
  std::unique_ptr<char[]> name(new char[size]);
  for (; suffix <= kMaxSuffix; suffix++) {
    if (suffix == 1)
      snprintf(name.get(), size, "%s%s.otEventLog", filename, stamp);
    else
      snprintf(name.get(), size, "%s%s_%d.otEventLog", filename, stamp, suffix);
    // "w" as ever, but never over an existing file: a second file within the same minute
    // would otherwise wipe out the events of the first.
    FILE* fp = fopen(name.get(), "wxe");
    if (fp != nullptr) {
      // A batch of events is written at once, not in pieces of the default buffer.
      setvbuf(fp, nullptr, _IOFBF, 64 * 1024);
      strcpy(lastStamp, stamp);
      lastSuffix = suffix;
      if (max_files > 0) pruneLogFiles(name.get());
      return fp;
    }
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

void otEventLogServer::pruneLogFiles(const char* current) {
  std::string base = filename;
  std::string dir = ".";
  size_t slash = base.rfind('/');
  if (slash != std::string::npos) {
    dir = slash == 0 ? "/" : base.substr(0, slash);
    base = base.substr(slash + 1);
  }
  const char* currentName = strrchr(current, '/');
  currentName = currentName != nullptr ? currentName + 1 : current;

  // (stamp, suffix, name): sorted, the oldest come first.
  std::vector<std::pair<std::pair<std::string, long>, std::string>> found;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (struct dirent* e = readdir(d)) {
    std::string stamp;
    long suffix = 0;
    if (!parseLogFileName(e->d_name, base, &stamp, &suffix)) continue;
    struct stat st;
    // A directory or link that merely carries such a name is neither counted nor deleted.
    if (lstat((dir + "/" + e->d_name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    found.push_back({{stamp, suffix}, e->d_name});
  }
  closedir(d);
  std::sort(found.begin(), found.end());
  size_t excess = found.size() > (size_t)max_files ? found.size() - (size_t)max_files : 0;
  for (size_t i = 0; i < found.size() && excess > 0; i++) {
    if (found[i].second == currentName) continue;
    if (unlink((dir + "/" + found[i].second).c_str()) == 0) excess--;
  }
}

int otEventLogServer::setMaxBytes(long long maxBytes) {
  if (maxBytes != 0 && maxBytes < OT_EVENTLOG_MIN_FILE_BYTES) return -1;
  mutex.lock();
  max_bytes = maxBytes;
  mutex.unlock();
  return 0;
}

long long otEventLogServer::fileBound() const {
  if (max_bytes != 0) return max_bytes;
  long long bound = ((long long)max_events + 1) * OT_EVENTLOG_SLOT_SIZE;
  return bound < OT_EVENTLOG_LINE_MAX ? (long long)OT_EVENTLOG_LINE_MAX : bound;
}

long long otEventLogServer::getMaxBytes() {
  mutex.lock();
  long long bound = fileBound();
  mutex.unlock();
  return bound;
}

int otEventLogServer::setMaxFiles(int files) {
  if (files < 0) return -1;
  mutex.lock();
  max_files = files;
  mutex.unlock();
  return 0;
}

int otEventLogServer::storeLine(char* line, size_t length) {
  num = num + 1 >= OT_EVENTLOG_SLOTS ? 0 : num + 1;
  size_t slot = length < OT_EVENTLOG_SLOT_SIZE - 1 ? length : OT_EVENTLOG_SLOT_SIZE - 1;
  memcpy(ring[num], line, slot);
  ring[num][slot] = '\0';
  if (filename == nullptr) return 0;

  long long bound = fileBound();
  if ((long long)length > bound) {
    // Cut where the marker and the line feed still fit, at the start of a UTF-8 character.
    size_t cut = (size_t)bound - (sizeof(kCutMarker) - 1) - 1;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
      cut--;
    memcpy(line + cut, kCutMarker, sizeof(kCutMarker) - 1);
    length = cut + sizeof(kCutMarker) - 1;
    line[length++] = '\n';
  }
  int ret = 0;
  if (file != nullptr && bytes + (long long)length > bound) {
    if (fclose(file) != 0) ret = -2;
    file = nullptr;
  }
  if (file == nullptr) {
    cnt = 0;
    bytes = 0;
    file = openLogFile();
    if (file == nullptr) return -2;
  }
  // The mutex guards the file already.
  if (fwrite_unlocked(line, 1, length, file) != length) ret = -2;
  bytes += (long long)length;
  if (++cnt > max_events) {
    if (fclose(file) != 0) ret = -2;
    file = nullptr;
  }
  return ret;
}

int otEventLogServer::putEvent(const char* event) {
  if (event == nullptr) return -1;
  // One call is one line: a line feed inside would split it, a missing one would join it to
  // the next event.
  std::string line = event;
  if (line.empty() || line.back() != '\n') line += '\n';
  for (size_t i = 0; i + 1 < line.size(); i++)
    if (line[i] == '\n') line[i] = ' ';
  otEventLogBlankControls(&line[0], (int)line.size());
  mutex.lock();
  int ret = storeLine(&line[0], line.size());
  if (file != nullptr && fflush(file) != 0) ret = -2;
  mutex.unlock();
  return ret;
}

int otEventLogServer::putEvents(const char* text, int length) {
  if (text == nullptr || length < 0) return -1;
  std::string clean(text, (size_t)length);
  if (clean.empty()) return 0;
  if (clean.back() != '\n') clean += '\n';
  return putEventsInPlace(&clean[0], (int)clean.size());
}

int otEventLogServer::putEventsInPlace(char* text, int length) {
  if (text == nullptr || length < 0) return -1;
  if (length == 0) return 0;
  if (text[length - 1] != '\n') {
    // No room for the line feed behind it: the copy has one.
    return putEvents(text, length);
  }
  otEventLogBlankControls(text, length);
  int ret = 0;
  mutex.lock();
  char* p = text;
  char* end = p + length;
  while (p < end) {
    char* nl = static_cast<char*>(memchr(p, '\n', (size_t)(end - p)));
    size_t len = (size_t)(nl + 1 - p);
    if (storeLine(p, len) != 0) ret = -2;
    p += len;
  }
  if (file != nullptr && fflush(file) != 0) ret = -2;
  mutex.unlock();
  return ret;
}

char* otEventLogServer::getEvent(char* buf, int* cursor) {
  if (buf == nullptr || cursor == nullptr) return nullptr;
  mutex.lock();
  // Any negative cursor is a new reader; nothing else can index the ring safely.
  if (*cursor < 0) {
    if (num == -1) {
      buf[0] = '\0';
      mutex.unlock();
      return nullptr;
    }
    *cursor = num + 1;
  }
  if (*cursor >= OT_EVENTLOG_SLOTS) *cursor = -1;
  if (*cursor == num) {
    buf[0] = '\0';
    mutex.unlock();
    return nullptr;
  }
  // From the last slot the walk wraps to slot 0, also when slot 0 holds the newest event:
  // holding it back until a further event arrives would hide the latest event from a reader.
  int next = *cursor + 1 >= OT_EVENTLOG_SLOTS ? 0 : *cursor + 1;
  *cursor = next;
  memcpy(buf, ring[next], OT_EVENTLOG_SLOT_SIZE);
  mutex.unlock();
  char* lf = strchr(buf, '\n');
  if (lf != nullptr) *lf = '\0';
  return buf;
}

otEventLogServerThreads::otEventLogServerThreads(int port_, otEventLogServer* server_)
    : port(port_), server(server_), stopping(0), running(false), refused(0), lastReportMs(0) {}

otEventLogServerThreads::~otEventLogServerThreads() {
  stop();
}

int otEventLogServerThreads::getPort() {
  return port;
}

int otEventLogServerThreads::setBindAddress(const char* address) {
  if (running) return -1;
  bindAddress = address != nullptr ? address : "";
  return 0;
}

int otEventLogServerThreads::setSecret(const char* secret_) {
  if (running) return -1;
  std::string s = secret_ != nullptr ? secret_ : "";
  if (s.size() > OT_EVENTLOG_SECRET_MAX) return -1;
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return -1;
  secret = s;
  return 0;
}

long long otEventLogServerThreads::refusedConnections() {
  return refused.load();
}

int otEventLogServerThreads::start() {
  if (port < 1 || port > 65535 || server == nullptr || running) return -1;
  stopping.store(0);
  otAcceptConfig config;
  config.bindAddress = bindAddress.c_str();
  config.port = port;  // the default backlog is deep: a plant's daemons connect all at once
  config.bindRetryMs = 1000;
  if (loop.start(config, serveConnection, this) != 0) return -1;
  running = true;
  return 0;
}

int otEventLogServerThreads::stop() {
  stopping.store(1);
  loop.stop();
  running = false;
  return 0;
}

void otEventLogServerThreads::refuse() {
  long long count = ++refused;
  long long now = otMonotonicMs();
  long long last = lastReportMs.load();
  // One thread wins the exchange and reports; the others keep counting.
  if ((last != 0 && now - last < kRefusalReportMs) ||
      !lastReportMs.compare_exchange_strong(last, now))
    return;
  otLog(OT_LOG_WARNING,
        "otEventLogServer: port %d: %lld connection(s) refused so far (no valid secret)\n", port,
        count);
  fflush(stdout);
}

void otEventLogServerThreads::serveConnection(int fd, void* arg) {
  otEventLogServerThreads* self = static_cast<otEventLogServerThreads*>(arg);
  otEventLogServer* server = self->server;
  otLineReader reader(fd, OT_EVENTLOG_LINE_READ);
  // The secret does not change while the loop runs (setSecret refuses then).
  const char* secret = self->secret.c_str();
  bool first = true;
  // The lines that came in together go to the server as one batch (one lock, one flush),
  // each read straight to its place in it.
  const int kBatch = 64 * 1024;
  std::unique_ptr<char[]> batch(new char[kBatch + OT_EVENTLOG_LINE_READ + 1]);
  int batched = 0;
  while (!self->stopping.load()) {
    int timeout = first && secret[0] != '\0' ? OT_EVENTLOG_AUTH_TIMEOUT_MS : 0;
    char* p = batch.get() + batched;
    int n = reader.readLine(p, OT_EVENTLOG_LINE_READ + 1, timeout);
    if (first && secret[0] != '\0') {
      if (n == -1 || self->stopping.load()) break;  // gone before it said anything
      if (n <= 0 || otEventLogCheckAuth(p, n, secret) != 1) {
        self->refuse();
        break;
      }
      first = false;
      continue;
    }
    if (n == -2) continue;  // longer than OT_EVENTLOG_LINE_READ: dropped whole
    if (n <= 0) break;
    if (first) {
      first = false;
      // A client configured with a secret before this server was: its handshake is no event.
      if (otEventLogCheckAuth(p, n, nullptr) != -1) continue;
    }
    // A last line without its line feed is an event too.
    int body = p[n - 1] == '\n' ? n - 1 : n;
    if (body > OT_EVENTLOG_LINE_MAX - 1) body = OT_EVENTLOG_LINE_MAX - 1;
    p[body] = '\n';
    batched += body + 1;
    if (!reader.hasLine() || batched >= kBatch) {
      server->putEventsInPlace(batch.get(), batched);
      batched = 0;
    }
  }
  if (batched > 0) server->putEventsInPlace(batch.get(), batched);
}
