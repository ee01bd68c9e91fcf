#include "oteventlogserver.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "otlinereader.h"
#include "ottime.h"

namespace {

// Highest "_N" suffix tried for one minute's file name before giving up on files.
const int kMaxSuffix = 100000;

}  // namespace

otEventLogServer::otEventLogServer(const char* filename_, int max_events_)
    : num(-1),
      filename(nullptr),
      file(nullptr),
      max_events(max_events_ < 0 ? 0 : max_events_),
      cnt(0),
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
      strcpy(lastStamp, stamp);
      lastSuffix = suffix;
      return fp;
    }
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

int otEventLogServer::putEvent(const char* event) {
  if (event == nullptr) return -1;
  int ret = 0;
  mutex.lock();
  num = num + 1 >= OT_EVENTLOG_SLOTS ? 0 : num + 1;
  strncpy(ring[num], event, OT_EVENTLOG_SLOT_SIZE - 1);
  ring[num][OT_EVENTLOG_SLOT_SIZE - 1] = '\0';
  if (filename != nullptr) {
    if (file == nullptr) file = openLogFile();
    if (file == nullptr) {
      ret = -2;
    } else {
      if (fputs(event, file) < 0 || fflush(file) != 0) ret = -2;
      if (++cnt > max_events) {
        fclose(file);
        file = nullptr;
        cnt = 0;
      }
    }
  }
  mutex.unlock();
  return ret;
}

int otEventLogServer::putEvents(const char* text, int length) {
  if (text == nullptr || length < 0) return -1;
  int ret = 0;
  mutex.lock();
  const char* p = text;
  const char* end = text + length;
  while (p < end) {
    const char* nl = static_cast<const char*>(memchr(p, '\n', end - p));
    size_t len = (nl ? nl + 1 : end) - p;
    num = num + 1 >= OT_EVENTLOG_SLOTS ? 0 : num + 1;
    size_t slot = len < OT_EVENTLOG_SLOT_SIZE - 1 ? len : OT_EVENTLOG_SLOT_SIZE - 1;
    memcpy(ring[num], p, slot);
    ring[num][slot] = '\0';
    if (filename != nullptr) {
      if (file == nullptr) file = openLogFile();
      if (file == nullptr) {
        ret = -2;
      } else {
        if (fwrite(p, 1, len, file) != len) ret = -2;
        if (++cnt > max_events) {
          if (fclose(file) != 0) ret = -2;
          file = nullptr;
          cnt = 0;
        }
      }
    }
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
    : thread(1000), port(port_), server(server_), stopping(0), running(false) {}

otEventLogServerThreads::~otEventLogServerThreads() {
  stop();
}

int otEventLogServerThreads::getPort() {
  return port;
}

int otEventLogServerThreads::start() {
  if (port < 1 || port > 65535 || server == nullptr || running) return -1;
  stopping.store(0);
  otAcceptConfig config;
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

void otEventLogServerThreads::serveConnection(int fd, void* arg) {
  otEventLogServerThreads* self = static_cast<otEventLogServerThreads*>(arg);
  otEventLogServer* server = self->server;
  otLineReader reader(fd, OT_EVENTLOG_LINE_READ);
  std::unique_ptr<char[]> line(new char[OT_EVENTLOG_LINE_READ + 1]);
  // The lines that came in together go to the server as one batch (one lock, one flush).
  std::string batch;
  batch.reserve(16 * 1024);
  while (!self->stopping.load()) {
    int n = reader.readLine(line.get(), OT_EVENTLOG_LINE_READ + 1, 0);
    if (n == -2) continue;  // longer than OT_EVENTLOG_LINE_READ: dropped whole
    if (n <= 0) break;
    char* p = line.get();
    // a NUL would cut the event short in the file
    for (char* q = p; (q = static_cast<char*>(memchr(q, '\0', (size_t)(p + n - q)))) != nullptr;
         q++)
      *q = ' ';
    // A last line without its line feed is an event too.
    int body = p[n - 1] == '\n' ? n - 1 : n;
    if (body > OT_EVENTLOG_LINE_MAX - 1) body = OT_EVENTLOG_LINE_MAX - 1;
    batch.append(p, (size_t)body);
    batch += '\n';
    if (!reader.hasLine() || batch.size() >= 64 * 1024) {
      server->putEvents(batch.data(), (int)batch.size());
      batch.clear();
    }
  }
  if (!batch.empty()) server->putEvents(batch.data(), (int)batch.size());
}
