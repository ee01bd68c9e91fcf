// Who may connect and what a connection may do: TLS on the connection, the login against the
// accounts file with a delay that grows with failed tries, roles, and the gate through which
// every write request of a connection's thread goes (role check and audit trail).
#include "hxsecurity_p.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>

#include "hxdialogcalls.h"
#include "hxserver_p.h"
#include "otlog.h"
#include "otloginline.h"
#include "otpoll.h"
#include "ottime.h"

namespace {

// A failure is forgotten after this long without another; the delay doubles from the first
// up to the last value.
const long long kForgetMs = 15 * 60 * 1000;
const int kFirstDelayMs = 250;
const int kMaxDelayMs = 8000;
const size_t kMaxRemembered = 10000;
// A person types: the answer to a login request may take this long.
const int kLoginAnswerMs = 120000;

// The gate of the process: the role check, and the audit trail of the server that names one.
class hxGate : public otWriteGate {
 public:
  bool allow(const otWriteRequest& r, std::string* why) override {
    return otWriteAllowedByRole(r, why);
  }
  void done(const otWriteRequest& r, bool accepted, const std::string& why) override {
    std::shared_ptr<otAuditLog> log;
    {
      std::lock_guard<std::mutex> hold(lock);
      log = audit;
    }
    if (!log) return;
    otAuditRecord a;
    a.timeMs = otWallMs();
    if (r.origin != nullptr) {
      a.user = r.origin->user;
      a.address = r.origin->address;
      a.mask = r.origin->mask;
      a.widget = r.origin->widget >= 0 ? std::to_string(r.origin->widget) : "-";
    } else {
      a.user = a.address = a.mask = a.widget = "-";
    }
    a.target = r.target;
    a.oldValue = r.oldValue;
    a.newValue = r.newValue;
    a.accepted = accepted;
    a.why = why;
    if (log->append(a) != 0) otLog(OT_LOG_ERROR, "otserver: the audit trail cannot be written\n");
  }
  std::mutex lock;
  std::shared_ptr<otAuditLog> audit;
};

hxGate& gate() {
  static hxGate* g = new hxGate;  // never destroyed: writes may come until the process ends
  return *g;
}

std::string peerOf(int fd) {
  struct sockaddr_storage sa;
  socklen_t len = sizeof sa;
  if (getpeername(fd, (struct sockaddr*)&sa, &len) != 0) return "-";
  char host[INET6_ADDRSTRLEN] = "?";
  int port = 0;
  if (sa.ss_family == AF_INET) {
    const struct sockaddr_in* in = (const struct sockaddr_in*)&sa;
    inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
    port = ntohs(in->sin_port);
    return std::string(host) + ":" + std::to_string(port);
  }
  if (sa.ss_family == AF_INET6) {
    const struct sockaddr_in6* in6 = (const struct sockaddr_in6*)&sa;
    inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    port = ntohs(in6->sin6_port);
    return "[" + std::string(host) + "]:" + std::to_string(port);
  }
  return "local";
}

// The address part of "host:port" ("[v6]:port"), by which failures of one client count.
std::string hostOf(const std::string& peer) {
  size_t colon = peer.rfind(':');
  return colon == std::string::npos ? peer : peer.substr(0, colon);
}

std::string defaultStateDir(const char* program) {
  const char* name = program != nullptr && program[0] != '\0' ? program : "otserver";
  const char* slash = strrchr(name, '/');
  if (slash != nullptr) name = slash + 1;
  const char* state = getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/otkit/" + name;
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/otkit/" + name;
  return std::string("/tmp/otkit-state-") + std::to_string(getuid()) + "/" + name;
}

}  // namespace

// ---- set-up ------------------------------------------------------------------------------------

int hxSecurity::configure(const hxServerOptions& o) {
  std::string error;
  if (o.tls != nullptr && o.tls[0] != '\0') {
    std::string dir = o.stateDir != nullptr && o.stateDir[0] != '\0'
                          ? std::string(o.stateDir)
                          : defaultStateDir(o.programName);
    if (tls.configure(o.tls, dir.c_str(), o.tls12 != 0, &error) != 0) {
      otLog(OT_LOG_ERROR, "otserver: TLS: %s\n", error.c_str());
      return -1;
    }
    otLog(OT_LOG_INFO, "otserver: TLS %s%s, certificate %s%s\n", o.tls12 ? "1.2 and 1.3" : "1.3",
          "", tls.certificatePath().c_str(), tls.madeCertificate() ? " (made now)" : "");
    otLog(OT_LOG_INFO, "otserver: certificate SHA-256 fingerprint %s\n", tls.fingerprint().c_str());
  }
  if (o.accounts != nullptr && o.accounts[0] != '\0') {
    if (accounts.read(o.accounts, &error) != 0) {
      otLog(OT_LOG_ERROR, "otserver: accounts: %s\n", error.c_str());
      return -1;
    }
    if (accounts.accounts().empty()) {
      otLog(OT_LOG_ERROR, "otserver: accounts: %s holds no account (otaccounts %s add USER ROLE)\n",
            o.accounts, o.accounts);
      return -1;
    }
    loginRequired = true;
    otLog(OT_LOG_INFO, "otserver: logins required, %d accounts in %s\n",
          (int)accounts.accounts().size(), o.accounts);
  }
  if (o.audit != nullptr && o.audit[0] != '\0') {
    std::shared_ptr<otAuditLog> log(new otAuditLog);
    if (log->open(o.audit, &error) != 0) {
      otLog(OT_LOG_ERROR, "otserver: audit trail: %s\n", error.c_str());
      return -1;
    }
    otLog(OT_LOG_INFO, "otserver: audit trail %s (%lld lines)\n", o.audit, log->lines());
    std::lock_guard<std::mutex> hold(gate().lock);
    gate().audit = log;
  }
  otSetWriteGate(&gate());
  return 0;
}

const char* hxSecurity::bindAddress(const hxServerOptions& o) const {
  if (o.bindAddress != nullptr) return o.bindAddress;
  if (tls.configured() || loginRequired) return nullptr;
  otLog(OT_LOG_WARNING,
        "otserver: neither TLS nor logins are configured: listening on %s only (-bind=ADDR "
        "listens elsewhere; -tls and -accounts secure the connection)\n",
        HX_SAFE_BIND);
  return HX_SAFE_BIND;
}

// ---- one connection ----------------------------------------------------------------------------

std::unique_ptr<otTlsConnection> hxSecurity::handshake(int fd, std::string* peer) {
  *peer = peerOf(fd);
  if (!tls.configured()) return nullptr;
  std::string why;
  std::unique_ptr<otTlsConnection> c = tls.accept(fd, HX_FIRST_ANSWER_MS, &why);
  if (!c) otLog(OT_LOG_WARNING, "otserver: %s refused: %s\n", peer->c_str(), why.c_str());
  return c;
}

int hxSecurity::delayFor(const std::string& user, const std::string& host) {
  std::lock_guard<std::mutex> hold(lock);
  const long long now = otMonotonicMs();
  int count = 0;
  for (auto* m : {&byUser, &byHost}) {
    auto it = m->find(m == &byUser ? user : host);
    if (it != m->end() && now - it->second.lastMs < kForgetMs && it->second.count > count)
      count = it->second.count;
  }
  if (count == 0) return 0;
  long long d = (long long)kFirstDelayMs << (count - 1 > 10 ? 10 : count - 1);
  return d > kMaxDelayMs ? kMaxDelayMs : (int)d;
}

void hxSecurity::failed(const std::string& user, const std::string& host) {
  std::lock_guard<std::mutex> hold(lock);
  const long long now = otMonotonicMs();
  for (auto* m : {&byUser, &byHost}) {
    if (m->size() >= kMaxRemembered) {
      // Forget the stale ones; if none is stale, the oldest.
      auto oldest = m->begin();
      for (auto it = m->begin(); it != m->end();) {
        if (now - it->second.lastMs >= kForgetMs) {
          it = m->erase(it);
          continue;
        }
        if (it->second.lastMs < oldest->second.lastMs) oldest = it;
        ++it;
      }
      if (m->size() >= kMaxRemembered) m->erase(oldest);
    }
    Failures& f = (*m)[m == &byUser ? user : host];
    if (now - f.lastMs >= kForgetMs) f.count = 0;
    f.count++;
    f.lastMs = now;
  }
}

void hxSecurity::succeeded(const std::string& user, const std::string& host) {
  std::lock_guard<std::mutex> hold(lock);
  byUser.erase(user);
  byHost.erase(host);
}

int hxSecurity::login(PARAM_* p) {
  if (!loginRequired) return 0;
  const std::string host = hostOf(p->peer);
  std::string message;
  std::vector<char> line(HX_MAX_LINE + 1);
  for (int attempt = 1; attempt <= HX_LOGIN_TRIES; attempt++) {
    if (hxSendCommand(p, "@login", "is", attempt, message.c_str()) < 0) return -1;
    int n = p->reader.readLine(line.data(), (int)line.size(), kLoginAnswerMs);
    if (n == 0 || n == -1) {
      otLog(OT_LOG_INFO, "otserver: %s left without logging in\n", p->peer.c_str());
      return -1;
    }
    std::string user, password;
    const char* why = "over-long line";
    if (n < 0 || otParseLoginLine(line.data(), n, &user, &password, &why) != 0) {
      otLog(OT_LOG_WARNING, "otserver: %s refused: no login (%s)\n", p->peer.c_str(), why);
      hxSendCommand(p, "@loginFailed", "s", "no login");
      return -1;
    }
    p->heard.store(1);
    int role = OT_ROLE_NONE;
    if (accounts.check(user.c_str(), password.c_str(), &role) == 1) {
      succeeded(user, host);
      p->loginUser = user;
      p->role = role;
      otLog(OT_LOG_INFO, "otserver: %s logged in as %s (%s)\n", p->peer.c_str(), user.c_str(),
            otRoleName(role));
      return hxSendCommand(p, "@loggedIn", "ss", user.c_str(), otRoleName(role)) < 0 ? -1 : 0;
    }
    failed(user, host);
    const int delay = delayFor(user, host);
    otLog(OT_LOG_WARNING,
          "otserver: failed login of user \"%s\" from %s (try %d of %d; next answer in %d ms)\n",
          user.c_str(), p->peer.c_str(), attempt, HX_LOGIN_TRIES, delay);
    // The wait ends early when the client goes away or the server stops.
    if (delay > 0 && otPollOne(p->s, POLLRDHUP, otDeadlineIn(delay)) != 0) {
      struct pollfd f = {p->s, POLLRDHUP, 0};
      if (poll(&f, 1, 0) > 0 && (f.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) return -1;
    }
    message = "wrong user or password";
  }
  hxSendCommand(p, "@loginFailed", "s", "too many failed logins");
  return -1;
}

void hxSecurity::enter(PARAM_* p) {
  otWriteOrigin o;
  o.user = p->loginUser;
  o.role = p->role;
  o.address = p->peer;
  otSetWriteOrigin(&o);
}

void hxSecurity::leave() {
  otSetWriteOrigin(nullptr);
}

// ---- the calls of a mask
// -------------------------------------------------------------------------

const char* hxUser(PARAM_* p) {
  return p != nullptr ? p->loginUser.c_str() : "-";
}

int hxRole(PARAM_* p) {
  return p != nullptr ? p->role : OT_ROLE_NONE;
}

void hxSetMaskName(PARAM_* p, const char* name) {
  if (p == nullptr) return;
  p->maskName = name != nullptr && name[0] != '\0' ? name : "-";
  otSetWriteMask(p->maskName.c_str());
}

int hxRequireRole(PARAM_* p, int role, const char* mask) {
  if (p == nullptr) return -1;
  hxSetMaskName(p, mask);
  if (p->role >= role) return 0;
  const char* need = otRoleName(role);
  const char* have = otRoleName(p->role);
  otLog(OT_LOG_WARNING, "otserver: %s: mask %s needs role %s; user %s is %s\n", p->peer.c_str(),
        p->maskName.c_str(), need ? need : "?", p->loginUser.c_str(), have ? have : "?");
  char text[512];
  snprintf(text, sizeof text, "The mask %s needs the role %s; you are logged in as %s (%s).",
           p->maskName.c_str(), need ? need : "?", p->loginUser.c_str(), have ? have : "?");
  hxMessageBox(p, HX_MB_WARNING, "Not allowed", text, HX_MB_OK);
  return -1;
}
