#include "tcputil.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <string>
#include <vector>

#include "otfilename.h"
#include "otlog.h"
#include "otoptions.h"
#include "otpeekline.h"
#include "otpoll.h"
#include "otsendall.h"
#include "otwthread.h"

namespace {

// Slots 1 to 32 are handed out; 0 is never used, 33 is the answer "table full".
const int kSlots = 34;
const int kFirstSlot = 1;
const int kLastSlot = 32;
const int kTableFull = 33;

// Socket (or the plug-in's connection handle) of each slot, -1 when free or closed.
int socket_array[kSlots];
// 1 where the plug-in carries the slot's traffic.
int use_hxc_com_plugin[kSlots];

// Whole lines already taken from a plain connection's socket, served before the socket is read
// again. Only complete lines are taken ahead, and never past a line that hands the connection
// to the plug-in, so the plug-in still finds every byte that follows that line.
struct ReadAhead {
  std::string data;
  size_t pos = 0;
  size_t left() const { return data.size() - pos; }
  void clear() {
    data.clear();
    pos = 0;
  }
};
ReadAhead readAhead[kSlots];
const size_t kReadAhead = 65536;

// What a slot's peer has sent and promised: the time its last byte was taken, the longest
// silence it announced with "@alive(MS)" (0: none), and what the command now reading its
// block or stream may still take (-1: no bound).
struct Liveness {
  long long lastByteMs = 0;
  int aliveMs = 0;
  long long budget = -1;
};
Liveness live[kSlots];

void clearTables() {
  for (int i = 0; i < kSlots; i++) {
    socket_array[i] = -1;
    use_hxc_com_plugin[i] = 0;
    readAhead[i].clear();
    live[i] = Liveness();
  }
}

// The wait hook and the reason of the last connection this layer broke itself.
TcpWaitHook waitHook = nullptr;
void* waitHookContext = nullptr;
bool inHook = false;
long long lastHookMs = 0;
// Long enough for a plug-in's refusal that names a host and a certificate's fingerprint.
char brokenWhy[512] = "";
// Set when the configured plug-in could not be loaded: every connection is refused with it,
// since the operator asked for that transport (TLS, say) and plain TCP would ignore the ask.
char pluginFailure[512] = "";

// A blocking wait looks at the socket in slices this long and gives the hook its turn between
// them; while bytes keep coming the hook still runs this often.
const int kSliceMs = 20;
const int kHookEveryMs = 100;
// The stall limit of an options record that was never given defaults.
const int kDefaultStallS = 8;

// Free slots even before tcp_init: a zero would name standard input.
[[maybe_unused]] const bool kTablesCleared = (clearTables(), true);

// The communication plug-in's entry points; any of them may be missing.
typedef int (*ComCon)(const char* host, int port, int* use_plugin);
typedef int (*ComRec)(int slot, int sock, char* line, int size, int* use_table);
typedef int (*ComRecBinary)(int slot, int sock, char* buf, int len, int* use_table);
typedef int (*ComSend)(int slot, int sock, const char* data, int len, int* use_table);
typedef int (*ComClose)(int slot, int sock, int* use_table);
typedef int (*ComPluginOn)(int slot, const char* line);
// The optional extras (tcputil.h).
typedef int (*ComSet)(const char* name, const char* value);
typedef const char* (*ComRefusal)(void);
typedef int (*ComFd)(int slot, int sock);
typedef int (*ComReady)(int slot, int sock, const char** data);

void* bifrost = nullptr;
ComCon hxc_com_con = nullptr;
ComRec hxc_com_rec = nullptr;
ComRecBinary hxc_com_rec_binary = nullptr;
ComSend hxc_com_send = nullptr;
ComClose hxc_com_close = nullptr;
ComPluginOn hxc_com_plugin_on = nullptr;
ComSet hxc_com_set = nullptr;
ComRefusal hxc_com_refusal = nullptr;
ComFd hxc_com_fd = nullptr;
ComReady hxc_com_ready = nullptr;

const char kPluginSwitch[] = "@plugin(";

template <typename F>
F symbol(void* lib, const char* name) {
  // POSIX guarantees that dlsym's object pointer converts to a function pointer.
  return reinterpret_cast<F>(dlsym(lib, name));
}

template <typename F>
long address(F f) {
  return (long)reinterpret_cast<intptr_t>(f);
}

void clearPlugin() {
  hxc_com_con = nullptr;
  hxc_com_rec = nullptr;
  hxc_com_rec_binary = nullptr;
  hxc_com_send = nullptr;
  hxc_com_close = nullptr;
  hxc_com_plugin_on = nullptr;
  hxc_com_set = nullptr;
  hxc_com_refusal = nullptr;
  hxc_com_fd = nullptr;
  hxc_com_ready = nullptr;
}

// The slot that s names, or 0 when s is null or outside the handed-out slots.
int slotOf(const int* s) {
  if (s == nullptr || *s < kFirstSlot || *s > kLastSlot) return 0;
  return *s;
}

// The slot of an open connection, else 0; a holder of a slot found closed is marked -1 so
// that its later calls fail without a table lookup.
int openSlot(int* s) {
  int slot = slotOf(s);
  if (slot == 0 || socket_array[slot] == -1) {
    if (slot != 0) *s = -1;
    return 0;
  }
  return slot;
}

int firstFreeSlot() {
  for (int i = kFirstSlot; i <= kLastSlot; i++)
    if (socket_array[i] == -1) return i;
  return kTableFull;
}

void markClosed(int slot, int* s) {
  socket_array[slot] = -1;
  readAhead[slot].clear();
  live[slot] = Liveness();
  *s = -1;
}

void setBroken(const char* format, ...) __attribute__((format(printf, 1, 2)));
void setBroken(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  vsnprintf(brokenWhy, sizeof(brokenWhy), format, ap);
  va_end(ap);
  otLog(OT_LOG_WARNING, "otclient: connection dropped: %s\n", brokenWhy);
}

// A connection that was not made: why is kept as the reason, as for one dropped.
void setRefused(const char* why) {
  snprintf(brokenWhy, sizeof(brokenWhy), "%s", why);
  otLog(OT_LOG_WARNING, "otclient: no connection: %s\n", brokenWhy);
}

// What the plug-in holds for its slot: its bytes with *data, 0 for none yet, -1 when the
// connection has ended (the next read says so), -2 when the plug-in cannot tell.
int pluginHeld(int slot, const char** data) {
  *data = nullptr;
  if (hxc_com_ready == nullptr) return -2;
  int n = hxc_com_ready(slot, socket_array[slot], data);
  if (n > 0 && *data == nullptr) return -2;
  return n < 0 ? -1 : n;
}

// The descriptor to wait on for a slot the plug-in carries: the plug-in's word, else its
// handle when that is a descriptor (the contract's plug-ins hand out their socket).
int pluginWaitFd(int slot) {
  const int sock = socket_array[slot];
  if (hxc_com_fd != nullptr) return hxc_com_fd(slot, sock);
  return sock >= 0 && fcntl(sock, F_GETFD) != -1 ? sock : -1;
}

// Hands the plug-in the settings it may use before it connects (names it does not know it
// refuses, and they are not missed).
void passSettings() {
  if (hxc_com_set == nullptr) return;
  char number[16];
  hxc_com_set("ca", opt.tls_ca);
  hxc_com_set("fingerprint", opt.tls_fingerprint);
  hxc_com_set("allow_tls12", opt.tls_allow12 ? "1" : "0");
  snprintf(number, sizeof(number), "%d", opt.connect_timeout);
  hxc_com_set("connect_timeout", number);
  snprintf(number, sizeof(number), "%d",
           opt.stream_timeout > 0 ? opt.stream_timeout : kDefaultStallS);
  hxc_com_set("stall_timeout", number);
}

// Bytes taken from a slot: the peer is alive, and what a bounded stream brings is counted.
// Bytes that come out of the read-ahead (fromSocket false) were stamped when they were read.
// False when the stream went past its bound.
bool took(int slot, long long n, bool fromSocket = true) {
  if (n <= 0) return true;
  Liveness& l = live[slot];
  if (fromSocket) l.lastByteMs = otMonotonicMs();
  if (l.budget < 0) return true;
  l.budget -= n;
  if (l.budget >= 0) return true;
  setBroken("a block or stream above %d MiB", opt.stream_max_mb);
  return false;
}

// Runs the hook unless it is running already (the hook's own work may wait on a socket).
// True when the hook asks the wait to give up.
bool runHook() {
  lastHookMs = otMonotonicMs();
  if (waitHook == nullptr || inHook) return false;
  inHook = true;
  bool stop = waitHook(waitHookContext) != 0;
  inHook = false;
  return stop;
}

// Waits until a plain slot's socket is readable (or has hung up: the read then says so). The
// hook runs between short slices, and also now and then while bytes keep coming, so that the
// program stays live through a long or stalled stream. False when the hook gave up, the peer
// sent nothing for the stall limit, or the slot was closed meanwhile (reason set).
bool waitReadable(int slot) {
  const int fd = socket_array[slot];
  const long long start = otMonotonicMs();
  const long long stall =
      (long long)(opt.stream_timeout > 0 ? opt.stream_timeout : kDefaultStallS) * 1000;
  for (int round = 0;; round++) {
    int r = otPollOne(fd, POLLIN, otDeadlineIn(round == 0 ? 0 : kSliceMs));
    if (r < 0) {
      setBroken("cannot wait for the server (%s)", strerror(errno));
      return false;
    }
    long long now = otMonotonicMs();
    if (waitHook != nullptr && now - lastHookMs >= (r > 0 ? kHookEveryMs : kSliceMs)) {
      if (runHook()) {
        setBroken("the stream was abandoned");
        return false;
      }
      // The hook's work may have found the connection broken and closed it.
      if (socket_array[slot] != fd) return false;
    }
    if (r > 0) return true;
    if (now - start >= stall) {
      setBroken("the server sent nothing for %lld s in the middle of a block or stream",
                stall / 1000);
      return false;
    }
  }
}

// A plain slot found broken while reading: its socket is closed here, unless the hook closed
// the connection already.
void dropPlain(int slot, int fd, int* s) {
  if (socket_array[slot] == fd && fd != -1) close(fd);
  markClosed(slot, s);
}

// Takes what is waiting on a plain slot's socket (up to kReadAhead bytes, and never past the
// end of a line that begins with "@plugin(") without waiting for more. The part of a line
// at the end is taken too: left in the socket, a few bytes held in a large kernel buffer can
// shrink the receive window to nothing, and the sender would never send the rest of the
// line. Returns what the look at the socket found: the bytes waiting there (0: the peer
// closed; -1 with errno: none, or an error), or 1 when a whole line (or a full buffer) is
// taken ahead already.
ssize_t fillReadAhead(int slot) {
  ReadAhead& b = readAhead[slot];
  const char* rest = b.data.data() + b.pos;
  if (b.left() >= kReadAhead / 2 || (b.left() > 0 && memchr(rest, '\n', b.left()) != nullptr))
    return 1;
  b.data.erase(0, b.pos);  // the part of a line kept from an earlier look
  b.pos = 0;
  const size_t have = b.data.size();
  static thread_local std::vector<char> look;
  look.resize(kReadAhead);
  memcpy(look.data(), b.data.data(), have);
  ssize_t n;
  do {
    n = recv(socket_array[slot], look.data() + have, kReadAhead - have, MSG_PEEK | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return n;
  // The bytes kept and those peeked, as one text: no byte after the line feed of a line that
  // begins with the switch is taken, as the plug-in reads what follows it.
  const char* d = look.data();
  const size_t len = have + (size_t)n, swLen = sizeof(kPluginSwitch) - 1;
  const char* sw = nullptr;
  if (len >= swLen && memcmp(d, kPluginSwitch, swLen) == 0) {
    sw = d;
  } else {
    static const std::string marker = std::string("\n") + kPluginSwitch;
    sw = static_cast<const char*>(memmem(d, len, marker.data(), marker.size()));
    if (sw != nullptr) sw++;
  }
  size_t end = len;
  if (sw != nullptr) {
    const char* nl = static_cast<const char*>(memchr(sw, '\n', (size_t)(d + len - sw)));
    if (nl != nullptr) end = (size_t)(nl - d) + 1;
  }
  if (end <= have) return n;
  b.data.resize(end);
  size_t got = have;
  while (got < end) {
    ssize_t r = recv(socket_array[slot], &b.data[got], end - got, MSG_DONTWAIT);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;  // cannot happen for bytes that were peeked; keep what came
    got += (size_t)r;
  }
  b.data.resize(got);
  if (got > have) live[slot].lastByteMs = otMonotonicMs();
  return n;
}

// One line (or its first size - 1 bytes) from the read-ahead into line; 0 when it is empty.
int takeReadAhead(int slot, char* line, int size) {
  ReadAhead& b = readAhead[slot];
  if (b.left() == 0) return 0;
  const char* start = b.data.data() + b.pos;
  const char* nl = static_cast<const char*>(memchr(start, '\n', b.left()));
  size_t len = nl != nullptr ? (size_t)(nl - start) + 1 : b.left();
  if (len > (size_t)size - 1) len = (size_t)size - 1;
  memcpy(line, start, len);
  line[len] = '\0';
  b.pos += len;
  if (b.left() == 0) b.clear();
  return (int)len;
}

// Reads one line (or its first size - 1 bytes) from a plain slot's socket, waiting for its
// bytes as waitReadable does. The bytes, or -1 when the connection broke or the wait gave up.
int readLinePart(int slot, char* line, int size) {
  const int fd = socket_array[slot];
  int got = 0;
  while (got < size - 1) {
    bool complete = false;
    ssize_t r = waitReadable(slot)
                    ? otTakeLinePart(fd, line + got, (size_t)(size - 1 - got), &complete)
                    : -1;
    if (r <= 0) {
      line[got] = '\0';
      return -1;
    }
    got += (int)r;
    if (complete) break;
  }
  line[got] = '\0';
  return got;
}

int waitWritable(int fd, int timeoutMs) {
  struct pollfd p = {fd, POLLOUT, 0};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int left = timeoutMs < 0 ? -1
                             : (int)std::chrono::duration_cast<std::chrono::milliseconds>(
                                   deadline - std::chrono::steady_clock::now())
                                   .count();
    if (timeoutMs >= 0 && left < 0) left = 0;
    int ret = poll(&p, 1, left);
    if (ret >= 0 || errno != EINTR) return ret;
  }
}

// The connect's own outcome: a refused or unreachable address must not count as connected,
// or tcp_con would never try the next address.
int pendingError(int fd) {
  int err = 0;
  socklen_t len = sizeof(err);
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

// 0 when fd is connected to addr, -1 when not.
int connect_timed(int fd, const struct sockaddr* addr, socklen_t addrlen, int local) {
  int seconds = opt.connect_timeout;
  if (local || seconds < 1) {
    if (connect(fd, addr, addrlen) == 0) return 0;
    // An interrupted blocking connect goes on in the background; wait for its outcome.
    if (errno != EINTR || waitWritable(fd, -1) != 1 || pendingError(fd) != 0) return -1;
    return 0;
  }
  otLogDebug(opt.debug, "start connect_timed\n");
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return -1;
  int ret = -1;
  otLogDebug(opt.debug, "try connect\n");
  if (connect(fd, addr, addrlen) == 0) {
    otLogDebug(opt.debug, "directly connected\n");
    ret = 0;
  } else if (errno == EINPROGRESS || errno == EINTR) {
    otLogDebug(opt.debug, "test in progress\n");
    otLogDebug(opt.debug, "wait %d seconds\n", seconds);
    int ready = waitWritable(fd, seconds > 2000000 ? 2000000000 : seconds * 1000);
    otLogDebug(opt.debug, "after wait\n");
    if (ready == 1) {
      int err = pendingError(fd);
      if (err == 0)
        ret = 0;
      else if (opt.debug)
        otLog(OT_LOG_ERROR, "connect_timed::ERROR %s (tcputil)\n", strerror(err));
    }
  } else if (opt.debug) {
    otLog(OT_LOG_ERROR, "connect_timed::ERROR %s (tcputil)\n", strerror(errno));
  }
  fcntl(fd, F_SETFL, flags);
  if (ret != 0)
    otLog(OT_LOG_ERROR, "connect_timed::ERROR could not connect within %d seconds (tcputil)\n",
          seconds);
  otLogDebug(opt.debug, "end ret=%d\n", ret);
  return ret;
}

int isLocal(const char* host) {
  return strcmp(host, "localhost") == 0 || strcmp(host, "127.0.0.1") == 0 ||
         strcmp(host, "::1") == 0;
}

// A connection that got no slot: the plug-in may close its own handle, else it is closed here.
void dropUnslotted(int handle, int use_plugin) {
  int done = 0;
  if (hxc_com_close != nullptr) {
    use_hxc_com_plugin[kTableFull] = use_plugin;
    done = hxc_com_close(kTableFull, handle, use_hxc_com_plugin);
    use_hxc_com_plugin[kTableFull] = 0;
  }
  if (done != 1) close(handle);
}

// Sends on a slot and closes nothing on failure: tcp_send and tcp_close differ in what a
// failure means.
int sendRaw(int slot, const char* data, int len) {
  // A trace is read by whoever gets the log: a login's password stays out of it.
  if (opt.nettrace && len >= 6 && memcmp(data, "login(", 6) == 0)
    otLogDebug(1, "send=login(...)\n");
  else if (opt.nettrace)
    otLogDebug(1, "send=%.*s", len, data);
  if (use_hxc_com_plugin[slot] && hxc_com_send != nullptr)
    return hxc_com_send(slot, socket_array[slot], data, len, use_hxc_com_plugin);
  return otSendAll(socket_array[slot], data, len) == 0 ? len : -1;
}

}  // namespace

namespace {

// A file or folder only its user (or root) can change: whoever else could write it could make
// the client run code of theirs.
const char* ownerRefusal(const struct stat& st) {
  if (st.st_uid != getuid() && st.st_uid != 0) return "owned by another user";
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "writable by group or others";
  return nullptr;
}

// A plug-in name is a plain file name: nothing that leads out of its folder.
const char* nameRefusal(const char* name) {
  if (strchr(name, '/') != nullptr || strchr(name, '\\') != nullptr ||
      strstr(name, "..") != nullptr || name[0] == '.')
    return "a plug-in is given by a plain file name in the plug-in folder";
  return nullptr;
}

// Opens path for dlopen when it is a regular file, no link, safe from other users. The
// descriptor, or -1 with the reason in *why (null when the file is simply missing).
int openCandidate(const char* path, const char** why) {
  struct stat st;
  int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP) *why = "a symbolic link";
    return -1;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    *why = "not a regular file";
  else
    *why = ownerRefusal(st);
  if (*why != nullptr) {
    close(fd);
    return -1;
  }
  return fd;
}

// Opens the plug-in name of the folder for dlopen: the folder absolute, neither the working
// directory nor the downloads folder (where a server may put files), file and folder safe from
// other users, the file itself no link. A name without a dot stands for NAME.so as well
// (-plugin=tls). The descriptor, or -1 with the reason in *why (null when the file is simply
// missing); path gets the full name.
int openPluginIn(const char* folder, const char* name, char* path, size_t size, const char** why) {
  *why = nullptr;
  char dir[PATH_MAX];
  struct stat st;
  bool found = false;
  if (folder[0] != '/') {
    *why = "the plug-in folder must be an absolute path";
  } else if (realpath(folder, dir) == nullptr || stat(dir, &st) != 0) {
    found = false;  // no folder: the file is missing
  } else if (!S_ISDIR(st.st_mode)) {
    *why = "the plug-in folder is no folder";
  } else if (otIsSameFile(".", st)) {
    *why = "the plug-in folder is the working directory";
  } else if (otIsSameFile(opt.download_dir, st)) {
    *why = "the plug-in folder is the downloads folder";
  } else {
    *why = ownerRefusal(st);
    found = true;
  }
  if (*why != nullptr) return -1;
  int n = snprintf(path, size, "%s/%s", found ? dir : folder, name);
  if (n < 0 || (size_t)n >= size) {
    path[0] = '\0';
    return -1;
  }
  if (!found) return -1;
  int fd = openCandidate(path, why);
  if (fd >= 0 || *why != nullptr || strchr(name, '.') != nullptr) return fd;
  std::string withSuffix = std::string(path) + ".so";
  if (withSuffix.size() >= size) return -1;
  fd = openCandidate(withSuffix.c_str(), why);
  if (fd >= 0 || *why != nullptr) memcpy(path, withSuffix.c_str(), withSuffix.size() + 1);
  return fd;
}

// The folder of the plug-ins installed with this library: otkit/plugins beside it (in the
// build tree beside the built library, where the built plug-ins are put). False when it
// cannot be told.
bool installedPluginDir(char* dir, size_t size) {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&tcp_init), &info) == 0 || info.dli_fname == nullptr)
    return false;
  char lib[PATH_MAX];
  if (realpath(info.dli_fname, lib) == nullptr) return false;
  char* slash = strrchr(lib, '/');
  if (slash == nullptr) return false;
  *slash = '\0';
  int n = snprintf(dir, size, "%s/otkit/plugins", lib);
  return n > 0 && (size_t)n < size;
}

// Opens the plug-in named in opt: in the user's plug-in folder, else among the installed ones.
// A refusal in the user's folder is final: a file the user did not secure is never passed
// over for another of the same name. As openPluginIn.
int openPlugin(char* path, size_t size, const char** why) {
  const char* name = opt.hxc_com_plugin;
  *why = nameRefusal(name);
  if (*why != nullptr) return -1;
  int fd = -1;
  path[0] = '\0';
  if (opt.plugin_dir[0] != '\0') {
    fd = openPluginIn(opt.plugin_dir, name, path, size, why);
    if (fd >= 0 || *why != nullptr) return fd;
  }
  char installed[PATH_MAX], other[1024];
  const char* otherWhy = nullptr;
  if (!installedPluginDir(installed, sizeof(installed))) return -1;
  int found = openPluginIn(installed, name, other, sizeof(other), &otherWhy);
  if (found < 0 && otherWhy == nullptr) {
    // Missing in both: said with the user's folder, where the operator would put it.
    if (path[0] == '\0' && opt.plugin_dir[0] == '\0') snprintf(path, size, "%s", other);
    return -1;
  }
  *why = otherWhy;
  snprintf(path, size, "%s", other);
  return found;
}

}  // namespace

int tcp_init() {
  clearTables();
  if (bifrost != nullptr) tcp_free();
  pluginFailure[0] = '\0';
  if (opt.hxc_com_plugin[0] == '\0') return 0;  // plain TCP

  char path[1024] = "";
  const char* why = nullptr;
  int fd = openPlugin(path, sizeof(path), &why);
  if (why != nullptr) {
    otLog(OT_LOG_ERROR, "hxc_com_plugin=%s refused: %s\n", opt.hxc_com_plugin, why);
    snprintf(pluginFailure, sizeof(pluginFailure),
             "the communication plug-in %.200s is refused: %s", opt.hxc_com_plugin, why);
    return 0;
  }
  snprintf(pluginFailure, sizeof(pluginFailure),
           "the communication plug-in %.200s cannot be loaded", opt.hxc_com_plugin);
  if (path[0] == '\0') {
    otLog(OT_LOG_ERROR, "could not load hxc_com_plugin=%s\n", opt.hxc_com_plugin);
    return 0;
  }

  otLogDebug(opt.debug, "Load communication plugin: tcp_init(%s)\n", path);
  // The file checked is the file loaded: dlopen takes it by its open descriptor, so that it
  // cannot be swapped for another between the check and the load.
  if (fd >= 0) {
    char byFd[64];
    snprintf(byFd, sizeof(byFd), "/proc/self/fd/%d", fd);
    bifrost = dlopen(byFd, RTLD_LAZY);
    close(fd);
  }
  if (bifrost == nullptr) {
    otLog(OT_LOG_ERROR, "could not load hxc_com_plugin=%s\n", path);
    if (fd >= 0) otLogDebug(opt.debug, "%s\n", dlerror());
  } else {
    hxc_com_con = symbol<ComCon>(bifrost, "hxc_com_con");
    hxc_com_rec = symbol<ComRec>(bifrost, "hxc_com_rec");
    hxc_com_rec_binary = symbol<ComRecBinary>(bifrost, "hxc_com_rec_binary");
    hxc_com_send = symbol<ComSend>(bifrost, "hxc_com_send");
    hxc_com_close = symbol<ComClose>(bifrost, "hxc_com_close");
    hxc_com_plugin_on = symbol<ComPluginOn>(bifrost, "hxc_com_plugin_on");
    hxc_com_set = symbol<ComSet>(bifrost, "hxc_com_set");
    hxc_com_refusal = symbol<ComRefusal>(bifrost, "hxc_com_refusal");
    hxc_com_fd = symbol<ComFd>(bifrost, "hxc_com_fd");
    hxc_com_ready = symbol<ComReady>(bifrost, "hxc_com_ready");
    pluginFailure[0] = '\0';
  }
  otLogDebug(opt.debug, "bifrost = %ld\n", address(bifrost));
  otLogDebug(opt.debug, "hxc_com_con        = %ld\n", address(hxc_com_con));
  otLogDebug(opt.debug, "hxc_com_rec        = %ld\n", address(hxc_com_rec));
  otLogDebug(opt.debug, "hxc_com_rec_binary = %ld\n", address(hxc_com_rec_binary));
  otLogDebug(opt.debug, "hxc_com_send       = %ld\n", address(hxc_com_send));
  otLogDebug(opt.debug, "hxc_com_close      = %ld\n", address(hxc_com_close));
  otLogDebug(opt.debug, "hxc_com_plugin_on  = %ld\n", address(hxc_com_plugin_on));
  return 0;
}

int tcp_free() {
  clearPlugin();
  if (bifrost != nullptr) dlclose(bifrost);
  bifrost = nullptr;
  return 0;
}

int tcp_con(const char* host, int port) {
  if (host == nullptr) return -1;
  otLogDebug(opt.nettrace, "conn=%s port=%d\n", host, port);
  int local = isLocal(host);
  if (pluginFailure[0] != '\0') {
    setRefused(pluginFailure);
    return -1;
  }

  if (hxc_com_con != nullptr) {
    passSettings();
    int use_plugin = 0;
    int handle = hxc_com_con(host, port, &use_plugin);
    otLogDebug(opt.debug, "plugin returned use_plugin=%d\n", use_plugin);
    // A plug-in that refuses says why; its refusal is never undone by plain TCP.
    const char* refused = hxc_com_refusal != nullptr ? hxc_com_refusal() : nullptr;
    if (refused != nullptr && refused[0] != '\0') {
      setRefused(refused);
      if (handle > 0) dropUnslotted(handle, use_plugin);
      return -1;
    }
    if (handle > 0) {
      int slot = firstFreeSlot();
      if (slot == kTableFull) {
        dropUnslotted(handle, use_plugin);
        return slot;
      }
      socket_array[slot] = handle;
      readAhead[slot].clear();
      live[slot] = Liveness();
      live[slot].lastByteMs = otMonotonicMs();
      use_hxc_com_plugin[slot] = use_plugin;
      otLogDebug(opt.debug, "use_hxc_con_plugin[%d]=%d\n", slot, handle);
      return slot;
    }
  }

  char service[16];
  snprintf(service, sizeof(service), "%d", port);
  if (port < 1 || port > 65535) {
    otLog(OT_LOG_ERROR, "tcp_con 1: error for %s port=%s : %s\n", host, service,
          gai_strerror(EAI_SERVICE));
    return -1;
  }
  struct addrinfo hints;
  memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* res = nullptr;
  int err = getaddrinfo(host, service, &hints, &res);
  if (err != 0) {
    otLog(OT_LOG_ERROR, "tcp_con 1: error for %s port=%s : %s\n", host, service, gai_strerror(err));
    return -1;
  }
  int fd = -1;
  for (struct addrinfo* ai = res; ai != nullptr && fd == -1; ai = ai->ai_next) {
    fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      fd = -1;
      continue;
    }
    if (connect_timed(fd, ai->ai_addr, ai->ai_addrlen, local) != 0) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(res);
  if (fd == -1) otLog(OT_LOG_ERROR, "tcp_con 2: error for %s port=%s\n", host, service);
  // Event lines are small and answered at once: waiting for an acknowledgement before the
  // next small line (Nagle) would cost a delayed-ACK interval on every click.
  if (fd != -1) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    // A server host that dies or drops off the network sends no FIN: probes find it within
    // about half a minute even when its display server never promised to speak.
    int idle = 10, interval = 5, count = 3, unacked = 20000;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof(idle));
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval));
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof(count));
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacked, sizeof(unacked));
  }

  int slot = firstFreeSlot();
  if (slot == kTableFull) {
    if (fd != -1) close(fd);
    return slot;
  }
  socket_array[slot] = fd;
  use_hxc_com_plugin[slot] = 0;
  readAhead[slot].clear();
  live[slot] = Liveness();
  live[slot].lastByteMs = otMonotonicMs();
  return slot;
}

int tcp_rec(int* s, char* line, int size) {
  if (line == nullptr) return -1;
  int slot = openSlot(s);
  if (slot == 0) {
    if (size >= 2) strcpy(line, "\n");
    if (size == 1) line[0] = '\0';
    return -1;
  }
  if (size < 2) {
    if (size == 1) line[0] = '\0';
    return 0;
  }

  int n;
  if (use_hxc_com_plugin[slot] && hxc_com_rec != nullptr) {
    n = hxc_com_rec(slot, socket_array[slot], line, size, use_hxc_com_plugin);
    if (n >= size) {  // a plug-in may not claim more than the buffer holds
      n = size - 1;
      line[n] = '\0';
    }
    if (n < 0 || !took(slot, n)) {
      markClosed(slot, s);
      strcpy(line, "\n");
      return -1;
    }
  } else {
    // Only the bytes of this line are taken from the socket: after an "@plugin(" line the
    // plug-in reads the same socket and must find every byte that follows.
    fillReadAhead(slot);
    n = takeReadAhead(slot, line, size);
    // The read-ahead may end inside a line: its rest comes from the socket.
    bool fromSocket = false;
    if (n == 0 || (line[n - 1] != '\n' && n < size - 1)) {
      int more = readLinePart(slot, line + n, size - n);
      n = more < 0 ? -1 : n + more;
      fromSocket = true;
    }
    if (n < 0 || !took(slot, n, fromSocket)) {
      dropPlain(slot, socket_array[slot], s);
      strcpy(line, "\n");
      otLogDebug(opt.nettrace, "close connection\n");
      return -1;
    }
    if (n > 0 && line[n - 1] == '\n' &&
        strncmp(line, kPluginSwitch, sizeof(kPluginSwitch) - 1) == 0 &&
        hxc_com_plugin_on != nullptr) {
      use_hxc_com_plugin[slot] = 1;
      hxc_com_plugin_on(slot, line);
    }
  }
  // The switch is looked at here: this runs for every line of a stream.
  if (opt.nettrace) otLogDebug(1, "recv=%s", line);
  return n;
}

int tcp_rec_line(int* s, char* line, int size, int* cut) {
  if (cut != nullptr) *cut = 0;
  int n = tcp_rec(s, line, size);
  if (n < 0 || n < size - 1 || size < 2 || line[n - 1] == '\n') return n;
  if (cut != nullptr) *cut = 1;
  char rest[512];
  for (;;) {
    int m = tcp_rec(s, rest, (int)sizeof(rest));
    if (m < 0 || (m > 0 && rest[m - 1] == '\n')) break;
  }
  return n;
}

int tcp_rec_binary(int* s, char* buf, int len) {
  int slot = openSlot(s);
  if (slot == 0 || len < 0 || (buf == nullptr && len > 0)) return -1;
  if (opt.nettrace) otLogDebug(1, "recv_binary len=%d bytes\n", len);
  if (len == 0) return 0;
  if (use_hxc_com_plugin[slot] && hxc_com_rec_binary != nullptr) {
    int n = hxc_com_rec_binary(slot, socket_array[slot], buf, len, use_hxc_com_plugin);
    if (n == -1 || !took(slot, n)) {
      markClosed(slot, s);
      return -1;
    }
    return n;
  }
  if (live[slot].budget >= 0 && len > live[slot].budget) {
    // Refused before a byte of it is waited for: the announced size alone breaks the bound.
    took(slot, len);
    dropPlain(slot, socket_array[slot], s);
    return -1;
  }
  // Bytes taken ahead with the last lines come first.
  ReadAhead& b = readAhead[slot];
  int ahead = (int)std::min(b.left(), (size_t)len);
  if (ahead > 0) {
    memcpy(buf, b.data.data() + b.pos, (size_t)ahead);
    b.pos += (size_t)ahead;
    if (b.left() == 0) b.clear();
    if (ahead == len) {
      // Bytes taken ahead count against the bound as much as those read now.
      if (took(slot, len, false)) return len;
      dropPlain(slot, socket_array[slot], s);
      return -1;
    }
  }
  took(slot, ahead, false);
  const int fd = socket_array[slot];
  int got = ahead;
  while (got < len) {
    ssize_t r = waitReadable(slot) ? otRecvRetry(fd, buf + got, (size_t)(len - got), 0) : -1;
    if (r <= 0 || !took(slot, r)) {
      dropPlain(slot, fd, s);
      otLogDebug(opt.nettrace, "close connection\n");
      return -1;
    }
    got += (int)r;
  }
  return len;
}

int tcp_send(int* s, const char* data, int len) {
  int slot = openSlot(s);
  if (slot == 0 || len < 0 || (data == nullptr && len > 0)) return -1;
  int n = sendRaw(slot, data, len);
  if (n < 0) {
    // A plug-in closes its own handle; a plain socket is closed here, once.
    if (!use_hxc_com_plugin[slot] || hxc_com_send == nullptr) close(socket_array[slot]);
    markClosed(slot, s);
    otLogDebug(opt.nettrace, "close connection\n");
    return -1;
  }
  return n;
}

int tcp_close(int* s) {
  int slot = slotOf(s);
  if (slot == 0 || socket_array[slot] == -1) return -1;
  int sock = socket_array[slot];
  sendRaw(slot, "shutup\n", 7);  // the connection goes whether the farewell arrives or not
  socket_array[slot] = -1;
  readAhead[slot].clear();
  live[slot] = Liveness();
  int done = 0;
  if (hxc_com_close != nullptr) done = hxc_com_close(slot, sock, use_hxc_com_plugin);
  use_hxc_com_plugin[slot] = 0;
  if (done == 1) return 0;
  close(sock);
  otLogDebug(opt.nettrace, "close connection\n");
  return 0;
}

int tcp_sleep(int msec) {
  if (msec > 0) otsleep(msec);
  return 0;
}

int tcp_fd(int* s) {
  int slot = slotOf(s);
  if (slot == 0 || use_hxc_com_plugin[slot]) return -1;
  return socket_array[slot];
}

int tcp_wait_fd(int* s) {
  int slot = slotOf(s);
  if (slot == 0 || socket_array[slot] == -1) return -1;
  return use_hxc_com_plugin[slot] ? pluginWaitFd(slot) : socket_array[slot];
}

namespace {

// Lines in n bytes, counted with memchr, which takes many bytes a step.
int countLines(const char* p, size_t n) {
  int lines = 0;
  const char* end = p + n;
  for (; (p = static_cast<const char*>(memchr(p, '\n', (size_t)(end - p)))) != nullptr; p++)
    lines++;
  return lines;
}

// tcp_line_ready for a slot the plug-in carries.
int pluginLineReady(int slot, int size) {
  const char* data = nullptr;
  int held = pluginHeld(slot, &data);
  if (held == -1) return 1;  // ended: the read reports it
  if (held >= 0) {
    int lines = countLines(data, (size_t)held);
    if (lines > 0) return lines;
    if (held >= size - 1) return 1;
    // A server that has hung up sends no line feed any more: its last bytes are read as they
    // are (as on a plain connection).
    int fd = pluginWaitFd(slot);
    struct pollfd hup = {fd, POLLIN | POLLRDHUP, 0};
    if (held > 0 && fd >= 0 && poll(&hup, 1, 0) > 0 &&
        (hup.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0)
      return 1;
    return 0;
  }
  // A plug-in that cannot tell is read once its descriptor is readable, a line a call.
  int fd = pluginWaitFd(slot);
  return fd < 0 || otPollOne(fd, POLLIN, 0) != 0 ? 1 : 0;
}

}  // namespace

int tcp_line_ready(int* s, int size) {
  int slot = slotOf(s);
  // Nothing to wait for: tcp_rec answers at once.
  if (slot == 0 || socket_array[slot] == -1 || size < 2) return 1;
  if (use_hxc_com_plugin[slot]) return pluginLineReady(slot, size);
  int fd = socket_array[slot];
  ssize_t waiting = fillReadAhead(slot);
  int lookError = errno;
  const ReadAhead& b = readAhead[slot];
  // An event loop asks once per read-ahead and takes the lines without asking again.
  int lines = countLines(b.data.data() + b.pos, b.left());
  if (lines > 0) return lines;
  // Part of a line is waiting: a full buffer's worth of it is still one read.
  if (b.left() >= (size_t)size - 1) return 1;
  // A peer that has hung up sends no line feed any more: its last bytes are read as they are.
  struct pollfd hup = {fd, POLLIN | POLLRDHUP, 0};
  if (poll(&hup, 1, 0) > 0 && (hup.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) return 1;
  if (waiting == 0) return 1;  // closed: tcp_rec reports it
  if (waiting < 0) return (lookError == EAGAIN || lookError == EWOULDBLOCK) ? 0 : 1;
  return 0;
}

int tcp_bytes_ready(int* s) {
  int slot = slotOf(s);
  if (slot == 0 || socket_array[slot] == -1) return 1;
  if (use_hxc_com_plugin[slot]) {
    const char* data = nullptr;
    int held = pluginHeld(slot, &data);
    if (held == -1) return 1;
    if (held >= 0) return held;
    // A plug-in that cannot tell reads a whole block a call once its descriptor is readable.
    int fd = pluginWaitFd(slot);
    return fd < 0 || otPollOne(fd, POLLIN, 0) != 0 ? INT_MAX : 0;
  }
  const int fd = socket_array[slot];
  long long have = (long long)readAhead[slot].left();
  int queued = 0;
  if (ioctl(fd, FIONREAD, &queued) == 0 && queued > 0) have += queued;
  if (have > 0) return (int)std::min(have, (long long)INT_MAX);
  // Nothing to take: a peer that has hung up (or an error) is reported by the next read.
  struct pollfd p = {fd, POLLIN | POLLRDHUP, 0};
  if (poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) != 0) return 1;
  return 0;
}

void tcp_set_wait_hook(TcpWaitHook hook, void* context) {
  waitHook = hook;
  waitHookContext = context;
}

int tcp_stream_limit(int* s, long long bytes) {
  int slot = openSlot(s);
  if (slot == 0) return -1;
  live[slot].budget = bytes < 0 ? -1 : bytes;
  return 0;
}

long long tcp_stream_left(int* s) {
  int slot = openSlot(s);
  return slot == 0 ? -1 : live[slot].budget;
}

int tcp_alive(int* s, int ms) {
  int slot = openSlot(s);
  if (slot == 0 || ms < 1) return -1;
  live[slot].aliveMs = ms;
  return 0;
}

int tcp_peer_silent(int* s) {
  int slot = openSlot(s);
  if (slot == 0 || live[slot].aliveMs <= 0) return 0;
  long long limit = std::max(4LL * live[slot].aliveMs, 3000LL);
  if (otMonotonicMs() - live[slot].lastByteMs <= limit) return 0;
  // Bytes may be waiting that this program was too busy to take: the peer is not silent.
  if (readAhead[slot].left() > 0) return 0;
  const char* data = nullptr;
  if (use_hxc_com_plugin[slot] && pluginHeld(slot, &data) > 0) return 0;
  int fd = tcp_wait_fd(s);
  if (fd >= 0 && otPollOne(fd, POLLIN, 0) != 0) return 0;
  snprintf(brokenWhy, sizeof(brokenWhy), "the server said nothing for %lld s", limit / 1000);
  return 1;
}

int tcp_abort(int* s, const char* why) {
  int slot = openSlot(s);
  if (slot == 0) return -1;
  setBroken("%s", why != nullptr ? why : "broken");
  int sock = socket_array[slot];
  int done = 0;
  if (use_hxc_com_plugin[slot] && hxc_com_close != nullptr)
    done = hxc_com_close(slot, sock, use_hxc_com_plugin);
  use_hxc_com_plugin[slot] = 0;
  if (done != 1) close(sock);
  markClosed(slot, s);
  return 0;
}

const char* tcp_broken_reason() {
  return brokenWhy;
}

void tcp_clear_broken_reason() {
  brokenWhy[0] = '\0';
}
