#include "oteventlogserver.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

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

// One sending connection. The accept thread fills it in before the worker starts and the
// worker owns it from then on, so the worker never reads start data that a later accept
// could overwrite; each worker has its own otThread for the same reason.
struct otEventLogServerThreads::Worker {
  otThread thread;
  otEventLogServerThreads* owner = nullptr;
  int fd = -1;      // the accepted socket: stop() shuts it down, the worker closes it when it
                    // ends; both under workersMutex, so stop() never meets a reused descriptor
  int readFd = -1;  // a duplicate the worker reads from and closes when it ends
  bool done = false;
};

otEventLogServerThreads::otEventLogServerThreads(int port_, otEventLogServer* server_)
    : thread(1000), port(port_), server(server_), stopping(0), acceptRunning(0) {}

otEventLogServerThreads::~otEventLogServerThreads() {
  stop();
}

int otEventLogServerThreads::getPort() {
  return port;
}

int otEventLogServerThreads::start() {
  if (port < 1 || port > 65535 || server == nullptr || acceptRunning) return -1;
  stopping.store(0);
  // IPv4 servers listen on all addresses; the host name only matters for IPv6.
  listener.reset(new otSocket("localhost", port, 0));
  int ret = thread.create(acceptMain, this);
  if (ret == 0)
    acceptRunning = 1;
  else
    listener.reset();
  return ret;
}

int otEventLogServerThreads::stop() {
  stopping.store(1);
  if (acceptRunning) {
    listener->stopServer();
    thread.join(nullptr);
    acceptRunning = 0;
  }
  listener.reset();
  // No worker is added from here on.
  std::vector<Worker*> ending;
  workersMutex.lock();
  for (Worker* w : workers)
    if (w->fd != -1) shutdown(w->fd, SHUT_RDWR);
  ending.swap(workers);
  workersMutex.unlock();
  for (Worker* w : ending) {
    w->thread.join(nullptr);
    delete w;
  }
  return 0;
}

void otEventLogServerThreads::reapWorkers() {
  size_t kept = 0;
  for (Worker* w : workers) {
    if (w->done) {
      // It has left workersMutex for good and only returns; this waits for that.
      w->thread.join(nullptr);
      delete w;
    } else {
      workers[kept++] = w;
    }
  }
  workers.resize(kept);
}

void* otEventLogServerThreads::acceptMain(void* arg) {
  otEventLogServerThreads* self =
      static_cast<otEventLogServerThreads*>(static_cast<THREAD_PARAM*>(arg)->user);
  otSocket* listener = self->listener.get();
  for (;;) {
    int fd = listener->connect();
    if (fd < 0) {
      if (self->stopping.load()) break;
      // -4 with a listening socket is a failed accept (e.g. no descriptors left): worth
      // another try. Anything else means there is no listening socket.
      if (fd != -4 || listener->os < 0) break;
      otsleep(100);
      continue;
    }
    // The worker owns the socket now; the listener would close it again when destroyed.
    listener->s = -1;
    Worker* w = new Worker;
    w->owner = self;
    w->fd = fd;
    w->readFd = dup(fd);
    self->workersMutex.lock();
    self->reapWorkers();
    if (w->readFd < 0 || self->stopping.load() || w->thread.create(workerMain, w) != 0) {
      if (w->readFd >= 0) close(w->readFd);
      close(fd);
      delete w;
    } else {
      self->workers.push_back(w);
    }
    self->workersMutex.unlock();
  }
  return nullptr;
}

void* otEventLogServerThreads::workerMain(void* arg) {
  Worker* w = static_cast<Worker*>(static_cast<THREAD_PARAM*>(arg)->user);
  otEventLogServerThreads* owner = w->owner;
  otEventLogServer* server = owner->server;
  {
    // Large reads: one receive usually carries many events, and they go to the server as
    // one batch (one lock, one flush). A line longer than OT_EVENTLOG_LINE_MAX - 1
    // characters is cut there and the rest of it dropped; a line split over reads is joined.
    const size_t maxBody = OT_EVENTLOG_LINE_MAX - 1;
    std::vector<char> in(64 * 1024);
    std::string partial, out;
    partial.reserve(OT_EVENTLOG_LINE_MAX);
    out.reserve(in.size() + OT_EVENTLOG_LINE_MAX);
    bool dropping = false;  // inside the rest of a line that was too long
    while (!owner->stopping.load()) {
      ssize_t n = recv(w->readFd, in.data(), in.size(), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      char* p = in.data();
      char* end = p + n;
      // a NUL would cut the event short in the file
      for (char* q = p; (q = static_cast<char*>(memchr(q, '\0', end - q))) != nullptr; q++)
        *q = ' ';
      while (p < end) {
        char* nl = static_cast<char*>(memchr(p, '\n', end - p));
        size_t body = (nl ? nl : end) - p;
        if (!dropping) {
          size_t take = body < maxBody - partial.size() ? body : maxBody - partial.size();
          bool cut = take < body;
          if (partial.empty() && nl && !cut) {
            out.append(p, body + 1);  // the common case: a whole line within this read
          } else {
            partial.append(p, take);
            if (nl || cut) {
              out.append(partial);
              out += '\n';
              partial.clear();
              dropping = cut && !nl;
            }
          }
        } else if (nl) {
          dropping = false;
        }
        p = nl ? nl + 1 : end;
      }
      if (!out.empty()) {
        server->putEvents(out.data(), (int)out.size());
        out.clear();
      }
    }
    // A last line without its line feed is an event too.
    if (!partial.empty() && !dropping) {
      partial += '\n';
      server->putEvents(partial.data(), (int)partial.size());
    }
    close(w->readFd);
    w->readFd = -1;
  }
  owner->workersMutex.lock();
  close(w->fd);
  w->fd = -1;
  w->done = true;
  owner->workersMutex.unlock();
  return nullptr;
}
