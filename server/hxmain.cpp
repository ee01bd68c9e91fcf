// The server main: options, one thread per client through the library's accept loop, a stop
// that a signal handler may request, the mask loop and modal dialogs.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>

#include "hxsecurity_p.h"
#include "hxserver.h"
#include "otlog.h"
#include "otacceptloop.h"

struct hxServer {
  otAcceptLoop loop;
  hxSecurity security;
  int (*run)(PARAM_* p) = nullptr;
  void* user = nullptr;
  int pollMs = 100;
  int aliveMs = 0;
};

namespace {

const char kRefusal[] = "otserver: too many clients\n";

void serveClient(int fd, void* user) {
  hxServer* s = static_cast<hxServer*>(user);
  std::string peer;
  // With TLS the connection is served through the plain end of its relay; the relay is
  // closed after the record, so that what the server wrote last still goes out.
  std::unique_ptr<otTlsConnection> tls = s->security.handshake(fd, &peer);
  if (s->security.usesTls() && !tls) return;
  PARAM_ p(tls ? tls->fd() : fd, s->pollMs);
  p.aliveMs = s->aliveMs;
  p.user = s->user;
  p.server = s;
  p.peer = peer;
  if (s->security.login(&p) != 0) return;
  hxSecurity::enter(&p);
  s->run(&p);
  hxSecurity::leave();
}

// The stop request: a flag for the truth and a pipe to wake the waiting hxRunServer at once.
// Both are touched by hxStopServer only through async-signal-safe operations.
std::atomic<int> stopRequested(0);
std::atomic<int> wakeWrite(-1);
int wakeRead = -1;
std::once_flag wakeOnce;

void makeWakePipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  wakeRead = fds[0];
  wakeWrite.store(fds[1]);
}

void onStopSignal(int) {
  hxStopServer();
}

struct OptionEntry {
  const char* prefix;
  int hxServerOptions::*field;
  int min;
  int max;
};

const OptionEntry kOptions[] = {
    {"-port=", &hxServerOptions::port, 0, 65535},
    {"-maxclients=", &hxServerOptions::maxClients, 0, 100000},
    {"-poll=", &hxServerOptions::pollMs, 0, 3600000},
};

void usage(const char* program, const char* more) {
  printf(
      "usage: %s [-port=N] [-bind=ADDR] [-tls=CERT,KEY|auto] [-tls12] [-state=DIR]\n"
      "       [-accounts=FILE] [-audit=FILE] [-maxclients=N] [-poll=MS] [-log=LEVEL] [-h]\n"
      "  -port=N        TCP port of the display server (default 5050)\n"
      "  -bind=ADDR     address to listen on (default: every IPv4 address with TLS or logins,\n"
      "                 else " HX_SAFE_BIND
      " only)\n"
      "  -tls=CERT,KEY  serve TLS 1.3 only, with these PEM files; -tls=auto makes a\n"
      "                 self-signed certificate in the state folder and prints its fingerprint\n"
      "  -tls12         accept TLS 1.2 as well\n"
      "  -state=DIR     the server's own files (default ~/.local/state/otkit/PROGRAM)\n"
      "  -accounts=FILE every client logs in with a user of FILE (made with otaccounts)\n"
      "  -audit=FILE    append every write request to the audit trail FILE (otaudit verify)\n"
      "  -maxclients=N  clients served at once, 0 for no limit (default 100)\n"
      "  -poll=MS       idle event after MS milliseconds without an event (default 100)\n"
      "  -log=LEVEL     error, warning, info (default) or debug: what the server prints\n",
      program ? program : "server");
  if (more != nullptr) fputs(more, stdout);
}

}  // namespace

int hxParseServerArgs(int argc, char** argv, hxServerOptions* o) {
  if (o == nullptr || (argc > 0 && argv == nullptr)) return -1;
  if (argc > 0 && argv[0] != nullptr) o->programName = argv[0];
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg == nullptr) continue;
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "-help") == 0 || strcmp(arg, "--help") == 0) {
      usage(argv[0], o->moreUsage);
      return 1;
    }
    if (strncmp(arg, "-bind=", 6) == 0) {
      o->bindAddress = arg + 6;
      continue;
    }
    struct {
      const char* prefix;
      const char* hxServerOptions::*field;
    } const texts[] = {{"-tls=", &hxServerOptions::tls},
                       {"-state=", &hxServerOptions::stateDir},
                       {"-accounts=", &hxServerOptions::accounts},
                       {"-audit=", &hxServerOptions::audit}};
    bool taken = false;
    for (const auto& t : texts) {
      const size_t len = strlen(t.prefix);
      if (strncmp(arg, t.prefix, len) != 0) continue;
      if (arg[len] == '\0') {
        otLog(OT_LOG_ERROR, "hxParseServerArgs: %s needs a value\n", arg);
        return -1;
      }
      o->*t.field = arg + len;
      taken = true;
    }
    if (taken) continue;
    if (strcmp(arg, "-tls12") == 0) {
      o->tls12 = 1;
      continue;
    }
    if (strncmp(arg, "-log=", 5) == 0) {
      const int level = otLogLevelByName(arg + 5);
      if (level < 0) {
        otLog(OT_LOG_ERROR, "hxParseServerArgs: bad value in %s (error, warning, info, debug)\n",
              arg);
        return -1;
      }
      otSetLogLevel(level);
      continue;
    }
    for (const OptionEntry& e : kOptions) {
      size_t len = strlen(e.prefix);
      if (strncmp(arg, e.prefix, len) != 0) continue;
      char* end = nullptr;
      errno = 0;
      long v = strtol(arg + len, &end, 10);
      if (arg[len] == '\0' || *end != '\0' || errno != 0 || v < e.min || v > e.max) {
        otLog(OT_LOG_ERROR, "hxParseServerArgs: bad value in %s (%d to %d)\n", arg, e.min, e.max);
        return -1;
      }
      o->*e.field = (int)v;
      break;
    }
  }
  return 0;
}

hxServer* hxServerStart(const hxServerOptions* o, int (*run)(PARAM_* p), void* user) {
  if (o == nullptr || run == nullptr || o->port < 0 || o->port > 65535) return nullptr;
  hxServer* s = new hxServer;
  s->run = run;
  s->user = user;
  s->pollMs = o->pollMs < 0 ? 0 : o->pollMs;
  s->aliveMs = o->aliveMs < 0 ? 0 : o->aliveMs;
  if (s->security.configure(*o) != 0) {
    delete s;
    return nullptr;
  }
  otAcceptConfig config;
  config.bindAddress = s->security.bindAddress(*o);
  config.port = o->port;
  config.maxClients = o->maxClients < 0 ? 0 : o->maxClients;
  config.refusal = kRefusal;
  if (s->loop.start(config, serveClient, s) != 0) {
    delete s;
    return nullptr;
  }
  return s;
}

int hxServerPort(const hxServer* s) {
  return s ? s->loop.port() : -1;
}

int hxServerClients(const hxServer* s) {
  return s ? s->loop.clients() : -1;
}

void hxServerStop(hxServer* s) {
  if (s == nullptr) return;
  s->loop.stop();
  delete s;
}

void hxStopServer() {
  int saved = errno;
  stopRequested.store(1);
  int fd = wakeWrite.load();
  if (fd >= 0) {
    char c = 1;
    ssize_t r = write(fd, &c, 1);
    (void)r;  // a full pipe is already a pending wake-up
  }
  errno = saved;
}

int hxRunServer(const hxServerOptions* o, int (*run)(PARAM_* p), void* user) {
  std::call_once(wakeOnce, makeWakePipe);
  struct sigaction oldInt, oldTerm;
  if (o != nullptr && o->catchSignals) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &oldInt);
    sigaction(SIGTERM, &sa, &oldTerm);
  }
  hxServer* s = hxServerStart(o, run, user);
  int r = s ? 0 : -1;
  if (s != nullptr && o != nullptr && o->listening != nullptr) o->listening(hxServerPort(s));
  while (s != nullptr && !stopRequested.load()) {
    // The time limit is a safety net only (a pipe that could not be made, a second runner
    // that took the wake-up byte); the flag is what counts.
    struct pollfd pfd = {wakeRead, POLLIN, 0};
    if (poll(&pfd, wakeRead >= 0 ? 1 : 0, 500) > 0) {
      char drain[64];
      while (read(wakeRead, drain, sizeof drain) > 0) {
      }
    }
  }
  hxServerStop(s);
  if (o != nullptr && o->catchSignals) {
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
  }
  stopRequested.store(0);
  return r;
}

int hxRunMasks(PARAM_* p, int (*const masks[])(PARAM_*), int count, int first) {
  if (p == nullptr || masks == nullptr || count < 0) return -1;
  int n = first;
  for (;;) {
    if (p->stop.load()) return -1;
    if (n < 0 || n >= count || masks[n] == nullptr) return n;
    // Writes are the mask's until it names itself (hxSetMaskName).
    hxSetMaskName(p, ("mask " + std::to_string(n)).c_str());
    n = masks[n](p);
  }
}

int hxRunModalDialog(PARAM_* p, int w, int h, int (*modal)(PARAM_*), int (*updateBase)(PARAM_*)) {
  if (p == nullptr || modal == nullptr) return -1;
  if (hxSendCommand(p, "modalDialog", "ii", w, h) < 0) return -1;
  // Dialogs may nest: the outer dialog's state comes back when the inner one ends.
  int (*outerUpdate)(PARAM_*) = p->updateBase;
  int outerTerminated = p->modalTerminated;
  int outerBaseIds = p->baseIdCount;
  // The dialog's definition makes ranges of its own ids; the base mask's come back after it.
  std::unordered_map<int, std::pair<double, double>> baseRanges;
  baseRanges.swap(p->ranges);
  p->baseIdCount = p->idCount;
  p->updateBase = updateBase;
  p->modalTerminated = 0;
  // The client opens the dialog with its commands going to it, and closes it so.
  p->baseUpdate = 0;
  p->modalDepth++;
  p->modalResult = modal(p);
  int r = 0;
  if (!p->modalTerminated) r = hxSendCommand(p, "terminateModalDialog", "");
  p->idCount = p->baseIdCount;
  p->baseUpdate = 0;
  p->ranges.swap(baseRanges);
  p->modalDepth--;
  p->updateBase = outerUpdate;
  p->modalTerminated = outerTerminated;
  p->baseIdCount = outerBaseIds;
  return p->stop.load() ? -1 : r;
}
