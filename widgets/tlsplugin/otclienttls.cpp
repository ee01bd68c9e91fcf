// otclient's TLS communication plug-in: every connection of the display client goes to the
// server in TLS 1.3 (1.2 only when allowed), and the server proves who it is by a CA file
// (chain and the host name or address connected to) or by the pinned SHA-256 fingerprint of its
// certificate. A connection that fails either is refused, and a refused connection never
// becomes plain TCP: hxc_com_con answers with a handle that carries nothing, and the reason is
// offered through hxc_com_refusal (tcputil.h lists the entry points and their extras).
//
// The socket is non-blocking throughout: the connection layer waits on hxc_com_fd and asks
// hxc_com_ready what is decrypted already, so that a TLS record of many lines is handed out a
// line at a time without waiting for the socket again. The blocking reads of the contract wait
// with poll and give up after the stall limit. Everything runs in the GUI thread.
#include <arpa/inet.h>
#include <errno.h>
#include <limits.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <map>
#include <memory>
#include <string>

#include "otpoll.h"
#include "tlsinbox_p.h"

#define OT_TLS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// One SSL_read's room: more than a record, so that a burst is taken in few calls.
const size_t kReadChunk = 65536;
// Decrypted bytes held at most before the reader is left to take them (a longer line or block
// the reader waits for raises it).
const size_t kHoldMax = 262144;
// The handshake's limit when the connect may block as long as the system lets it: a plain
// server that waits for its client to speak first would otherwise hold the window for ever.
const int kDefaultHandshakeS = 10;
const int kDefaultStallS = 8;

struct Settings {
  std::string ca;           // CA file: the chain and the host are verified
  std::string fingerprint;  // pinned SHA-256 of the leaf's DER, as the operator gave it
  bool allowTls12 = false;
  int connectTimeoutS = 3;  // per address, and the handshake's limit; below 1: see above
  int stallTimeoutS = kDefaultStallS;
};
Settings settings;
// Why the last hxc_com_con refused, "" when it did not.
std::string refusal;

void refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));
void refuse(const char* format, ...) {
  char text[512];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  refusal = text;
}

// ---- a socket BIO that never raises SIGPIPE ----------------------------------------------------
// OpenSSL's own socket BIO writes with write(): a server gone in the middle of a send would
// kill the client with SIGPIPE.

int bioFd(BIO* b) {
  return (int)(intptr_t)BIO_get_data(b);
}

int bioWrite(BIO* b, const char* data, int len) {
  BIO_clear_retry_flags(b);
  ssize_t n;
  do {
    n = ::send(bioFd(b), data, (size_t)len, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_write(b);
  return (int)n;
}

int bioRead(BIO* b, char* data, int len) {
  BIO_clear_retry_flags(b);
  ssize_t n;
  do {
    n = ::recv(bioFd(b), data, (size_t)len, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_read(b);
  // 0 is the peer's end: OpenSSL tells it from an error by BIO_CTRL_EOF.
  if (n == 0) BIO_set_flags(b, BIO_FLAGS_IN_EOF);
  return (int)n;
}

long bioCtrl(BIO* b, int cmd, long, void*) {
  if (cmd == BIO_CTRL_FLUSH) return 1;
  if (cmd == BIO_CTRL_EOF) return BIO_test_flags(b, BIO_FLAGS_IN_EOF) != 0;
  return 0;
}

int bioCreate(BIO* b) {
  BIO_set_init(b, 1);
  return 1;
}

// The method lives as long as the plug-in is loaded.
struct BioMethod {
  BIO_METHOD* m = nullptr;
  BioMethod() {
    m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "otclient socket");
    if (m == nullptr) return;
    BIO_meth_set_write(m, bioWrite);
    BIO_meth_set_read(m, bioRead);
    BIO_meth_set_ctrl(m, bioCtrl);
    BIO_meth_set_create(m, bioCreate);
  }
  ~BioMethod() {
    if (m != nullptr) BIO_meth_free(m);
  }
  BioMethod(const BioMethod&) = delete;
  BioMethod& operator=(const BioMethod&) = delete;
};

BIO_METHOD* bioMethod() {
  static BioMethod method;
  return method.m;
}

// ---- connections --------------------------------------------------------------------------------

struct Connection {
  int fd = -1;
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  otTlsInbox in;
  bool eof = false;     // the server ended the stream: what is held is its last
  bool broken = false;  // an error, a time-out or a refusal: nothing more flows
  bool closed = false;  // the descriptor is closed already (kept until hxc_com_close)

  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { release(); }
  // Frees the TLS state and closes the descriptor, once.
  void release() {
    if (ssl != nullptr) SSL_free(ssl);  // frees the BIO too
    if (ctx != nullptr) SSL_CTX_free(ctx);
    ssl = nullptr;
    ctx = nullptr;
    in.clear();
    if (fd >= 0 && !closed) ::close(fd);
    closed = true;
  }
};

// By handle, which is the socket: the connection layer knows it by that number. A failed read
// or send closes the socket at once (the contract says the plug-in closes its own handle then)
// but keeps the entry, so that a later hxc_com_close of the handle is known as ours and no
// descriptor is closed twice; a new connection on the same number replaces it.
std::map<int, std::unique_ptr<Connection>> connections;

Connection* find(int handle) {
  auto it = connections.find(handle);
  return it == connections.end() ? nullptr : it->second.get();
}

// Resolves host and connects to one of its addresses within the connect time-out (each).
// The descriptor, non-blocking, or -1 with the refusal said.
int connectTcp(const char* host, int port) {
  char service[16];
  snprintf(service, sizeof service, "%d", port);
  if (port < 1 || port > 65535) {
    refuse("TLS: port %d is outside 1 to 65535", port);
    return -1;
  }
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* res = nullptr;
  int err = getaddrinfo(host, service, &hints, &res);
  if (err != 0) {
    refuse("TLS: cannot resolve %s (%s)", host, gai_strerror(err));
    return -1;
  }
  int fd = -1, lastErrno = 0;
  for (struct addrinfo* ai = res; ai != nullptr && fd < 0; ai = ai->ai_next) {
    fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) {
      lastErrno = errno;
      continue;
    }
    const long long deadline = settings.connectTimeoutS > 0
                                   ? otDeadlineIn(settings.connectTimeoutS * 1000)
                                   : OT_NO_DEADLINE;
    int r = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
    if (r != 0 && (errno == EINPROGRESS || errno == EINTR)) {
      int soErr = ETIMEDOUT;
      socklen_t len = sizeof soErr;
      if (otPollOne(fd, POLLOUT, deadline) == 1 &&
          getsockopt(fd, SOL_SOCKET, SO_ERROR, &soErr, &len) != 0)
        soErr = errno;
      r = soErr == 0 ? 0 : -1;
      errno = soErr;
    }
    if (r != 0) {
      lastErrno = errno;
      ::close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(res);
  if (fd < 0) {
    refuse("TLS: cannot connect to %s:%d (%s)", host, port, strerror(lastErrno));
    return -1;
  }
  // As a plain connection of the client: small event lines go at once, and a server host that
  // vanishes from the network is found by keep-alive probes.
  int on = 1, idle = 10, interval = 5, count = 3, unacked = 20000;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
  setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacked, sizeof unacked);
  return fd;
}

bool isAddress(const char* host) {
  unsigned char buf[sizeof(struct in6_addr)];
  return inet_pton(AF_INET, host, buf) == 1 || inet_pton(AF_INET6, host, buf) == 1;
}

// The first error OpenSSL queued (the one that says what went wrong), 0 for none; the queue
// is emptied.
unsigned long firstError() {
  unsigned long first = ERR_get_error();
  while (ERR_get_error() != 0) {
  }
  return first;
}

std::string errorText(unsigned long e) {
  if (e == 0) return "no detail";
  const char* r = ERR_reason_error_string(e);
  if (r != nullptr) return r;
  char buf[256];
  ERR_error_string_n(e, buf, sizeof buf);
  return buf;
}

// Says why the handshake failed, in the words an operator can act on.
void refuseHandshake(SSL* ssl, int result, const char* host, int port) {
  const int kind = SSL_get_error(ssl, result);
  const int savedErrno = errno;
  const unsigned long e = firstError();
  const long verify = SSL_get_verify_result(ssl);
  if (!settings.ca.empty() && verify != X509_V_OK) {
    if (verify == X509_V_ERR_HOSTNAME_MISMATCH)
      refuse("TLS: the server's certificate is not made out to %s", host);
    else if (verify == X509_V_ERR_IP_ADDRESS_MISMATCH)
      refuse("TLS: the server's certificate is not made out to the address %s", host);
    else
      refuse("TLS: the server's certificate is not trusted by %s (%s)", settings.ca.c_str(),
             X509_verify_cert_error_string(verify));
    return;
  }
  const int reason = ERR_GET_LIB(e) == ERR_LIB_SSL ? ERR_GET_REASON(e) : 0;
  switch (reason) {
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_UNSUPPORTED_SSL_VERSION:
      if (settings.allowTls12)
        refuse("TLS: %s:%d speaks neither TLS 1.3 nor TLS 1.2", host, port);
      else
        refuse("TLS: %s:%d does not speak TLS 1.3 ([tls] allow_tls12=1 or -tls12 allows 1.2)", host,
               port);
      return;
    case SSL_R_WRONG_VERSION_NUMBER:
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_HTTP_REQUEST:
    case SSL_R_HTTPS_PROXY_REQUEST:
    case SSL_R_UNKNOWN_PROTOCOL:
      refuse("TLS: %s:%d does not answer in TLS (%s): is it a plain server?", host, port,
             errorText(e).c_str());
      return;
    case SSL_R_UNEXPECTED_EOF_WHILE_READING:
      refuse("TLS: %s:%d closed the connection in the TLS handshake", host, port);
      return;
    default:
      break;
  }
  if (kind == SSL_ERROR_SYSCALL && e == 0) {
    if (savedErrno != 0)
      refuse("TLS: the handshake with %s:%d broke (%s)", host, port, strerror(savedErrno));
    else
      refuse("TLS: %s:%d closed the connection in the TLS handshake", host, port);
    return;
  }
  refuse("TLS: the handshake with %s:%d failed (%s)", host, port, errorText(e).c_str());
}

// Whether the server can be verified as configured, before anything is asked of it: the
// pinned fingerprint in pinned (*pin true) when one is given. False with the refusal said.
bool verifiable(unsigned char pinned[32], bool* pin) {
  *pin = !settings.fingerprint.empty();
  if (*pin && !otTlsParseFingerprint(settings.fingerprint.c_str(), pinned)) {
    refuse("TLS: the pinned fingerprint \"%.100s\" is not 64 hex digits",
           settings.fingerprint.c_str());
    return false;
  }
  if (!*pin && settings.ca.empty()) {
    refuse(
        "TLS: neither a CA file ([tls] ca, -tlsca) nor a certificate fingerprint ([tls] "
        "fingerprint, -tlsfingerprint) is configured: the server cannot be verified");
    return false;
  }
  if (!settings.ca.empty() && access(settings.ca.c_str(), R_OK) != 0) {
    refuse("TLS: cannot read the CA file %s (%s)", settings.ca.c_str(), strerror(errno));
    return false;
  }
  return true;
}

// Sets up TLS on c.fd and verifies the server (as verifiable() found it configured). False
// with the refusal said.
bool handshake(Connection& c, const char* host, int port, const unsigned char pinned[32],
               bool pin) {
  ERR_clear_error();
  c.ctx = SSL_CTX_new(TLS_client_method());
  if (c.ctx == nullptr || bioMethod() == nullptr) {
    refuse("TLS: cannot set up TLS (%s)", errorText(firstError()).c_str());
    return false;
  }
  SSL_CTX_set_min_proto_version(c.ctx, settings.allowTls12 ? TLS1_2_VERSION : TLS1_3_VERSION);
  SSL_CTX_set_options(c.ctx, SSL_OP_NO_RENEGOTIATION);
  // Records are taken from the socket in large reads, not a header and a body apiece.
  SSL_CTX_set_read_ahead(c.ctx, 1);
  SSL_CTX_set_default_read_buffer_len(c.ctx, kReadChunk);
  if (!settings.ca.empty()) {
    if (SSL_CTX_load_verify_locations(c.ctx, settings.ca.c_str(), nullptr) != 1) {
      refuse("TLS: cannot read the CA file %s (%s)", settings.ca.c_str(),
             errorText(firstError()).c_str());
      return false;
    }
    SSL_CTX_set_verify(c.ctx, SSL_VERIFY_PEER, nullptr);
  } else {
    // Pinned only: the chain means nothing, the certificate itself is compared below.
    SSL_CTX_set_verify(c.ctx, SSL_VERIFY_NONE, nullptr);
  }
  c.ssl = SSL_new(c.ctx);
  BIO* bio = c.ssl != nullptr ? BIO_new(bioMethod()) : nullptr;
  if (bio == nullptr) {
    refuse("TLS: cannot set up TLS (%s)", errorText(firstError()).c_str());
    return false;
  }
  BIO_set_data(bio, (void*)(intptr_t)c.fd);
  SSL_set_bio(c.ssl, bio, bio);
  const bool address = isAddress(host);
  if (!settings.ca.empty()) {
    int ok = address ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(c.ssl), host)
                     : SSL_set1_host(c.ssl, host);
    if (ok != 1) {
      refuse("TLS: cannot verify the host %s", host);
      return false;
    }
  }
  if (!address) SSL_set_tlsext_host_name(c.ssl, host);

  const int limitS = settings.connectTimeoutS > 0 ? settings.connectTimeoutS : kDefaultHandshakeS;
  const long long deadline = otDeadlineIn(limitS * 1000);
  for (;;) {
    ERR_clear_error();
    errno = 0;
    int r = SSL_connect(c.ssl);
    if (r == 1) break;
    int e = SSL_get_error(c.ssl, r);
    short want = e == SSL_ERROR_WANT_READ ? POLLIN : e == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
    if (want == 0) {
      refuseHandshake(c.ssl, r, host, port);
      return false;
    }
    int ready = otPollOne(c.fd, want, deadline);
    if (ready == 0) {
      refuse("TLS: no TLS handshake with %s:%d within %d s (is it a TLS server?)", host, port,
             limitS);
      return false;
    }
    if (ready < 0) {
      refuse("TLS: cannot wait for %s:%d (%s)", host, port, strerror(errno));
      return false;
    }
  }

  X509* leaf = SSL_get0_peer_certificate(c.ssl);
  if (leaf == nullptr) {
    refuse("TLS: %s:%d showed no certificate", host, port);
    return false;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (X509_digest(leaf, EVP_sha256(), digest, &len) != 1 || len != 32) {
    refuse("TLS: cannot take the fingerprint of the server's certificate");
    return false;
  }
  if (pin && memcmp(digest, pinned, 32) != 0) {
    refuse("TLS: the server's certificate (SHA-256 %s) is not the pinned one",
           otTlsFormatFingerprint(digest, len).c_str());
    return false;
  }
  // SSL_VERIFY_PEER ended a handshake that failed verification; this holds if it ever did not.
  if (!settings.ca.empty() && SSL_get_verify_result(c.ssl) != X509_V_OK) {
    refuse("TLS: the server's certificate is not trusted by %s", settings.ca.c_str());
    return false;
  }
  return true;
}

// Decrypts what has arrived, without waiting, until the socket has nothing more or the held
// bytes reach the limit (at least need). The poll events to wait for before more can come
// (POLLIN, rarely POLLOUT), or 0: nothing to wait for (held enough, ended or broken).
short fill(Connection& c, size_t need) {
  const size_t hold = need > kHoldMax ? need : kHoldMax;
  while (!c.eof && !c.broken && c.in.size() < hold) {
    char* room = c.in.room(kReadChunk);
    size_t got = 0;
    ERR_clear_error();
    errno = 0;
    int r = SSL_read_ex(c.ssl, room, kReadChunk, &got);
    if (r == 1) {
      c.in.commit(got);
      continue;
    }
    int e = SSL_get_error(c.ssl, r);
    if (e == SSL_ERROR_WANT_READ) return POLLIN;
    if (e == SSL_ERROR_WANT_WRITE) return POLLOUT;
    unsigned long err = firstError();
    // A server that closes without close_notify ends the stream as one that sends it: the
    // lines before were whole records, each authenticated.
    bool end = e == SSL_ERROR_ZERO_RETURN || (e == SSL_ERROR_SYSCALL && err == 0 && errno == 0) ||
               (ERR_GET_LIB(err) == ERR_LIB_SSL &&
                ERR_GET_REASON(err) == SSL_R_UNEXPECTED_EOF_WHILE_READING);
    if (end) {
      c.eof = true;
    } else {
      // What came before the error is dropped with the connection: readers that were told of
      // it take the failure instead.
      c.broken = true;
      c.in.clear();
    }
  }
  return 0;
}

// Waits for the socket within the stall limit; false (the connection broken) when nothing
// came in time.
bool wait(Connection& c, short events) {
  const int stallS = settings.stallTimeoutS > 0 ? settings.stallTimeoutS : kDefaultStallS;
  if (otPollOne(c.fd, events, otDeadlineIn(stallS * 1000)) == 1) return true;
  c.broken = true;
  return false;
}

// The connection ended for the connection layer: the socket is closed now.
int fail(Connection& c) {
  c.broken = true;
  c.release();
  return -1;
}

int receiveLine(Connection& c, char* line, int size) {
  const size_t max = (size_t)size - 1;
  for (;;) {
    size_t n = c.in.lineLength(max);
    if (n == 0 && c.eof && !c.broken) n = c.in.size();  // the server's last bytes, as they are
    if (n > 0) {
      c.in.take(line, n);
      line[n] = '\0';
      return (int)n;
    }
    if (c.eof || c.broken) return fail(c);
    short want = fill(c, max);
    if (want != 0 && c.in.lineLength(max) == 0 && !wait(c, want)) return fail(c);
  }
}

int receiveBlock(Connection& c, char* buf, int len) {
  int got = 0;
  for (;;) {
    got += (int)c.in.take(buf + got, (size_t)(len - got));
    if (got == len) return len;
    if (c.eof || c.broken) return fail(c);
    short want = fill(c, (size_t)(len - got));
    if (want != 0 && c.in.size() == 0 && !wait(c, want)) return fail(c);
  }
}

int sendAll(Connection& c, const char* data, int len) {
  if (len == 0) return 0;
  for (;;) {
    size_t written = 0;
    ERR_clear_error();
    int r = SSL_write_ex(c.ssl, data, (size_t)len, &written);
    if (r == 1) return len;  // without partial writes: all of it
    int e = SSL_get_error(c.ssl, r);
    short want = e == SSL_ERROR_WANT_WRITE ? POLLOUT : e == SSL_ERROR_WANT_READ ? POLLIN : 0;
    firstError();
    if (want == 0 || !wait(c, want)) return fail(c);
  }
}

// A connection that can still carry something (TLS up, no failure before), else null.
Connection* live(int handle) {
  Connection* c = find(handle);
  return c != nullptr && !c->closed && !c->broken && c->ssl != nullptr ? c : nullptr;
}

// The same for a read or a send, whose failure the connection layer takes as the end of the
// handle: a connection of ours that cannot carry (refused, broken) is closed now.
Connection* usable(int handle) {
  Connection* c = find(handle);
  if (c == nullptr) return nullptr;
  if (live(handle) == nullptr) {
    fail(*c);
    return nullptr;
  }
  return c;
}

bool parseSeconds(const char* value, int* out) {
  char* end = nullptr;
  long v = strtol(value, &end, 10);
  if (end == value || *end != '\0' || v < 0 || v > 86400) return false;
  *out = (int)v;
  return true;
}

// The plug-in's TLS state goes with it when it is unloaded.
struct Unload {
  ~Unload() { connections.clear(); }
} unload;

}  // namespace

// Settings, before each hxc_com_con: "ca", "fingerprint", "allow_tls12" (0 or 1),
// "connect_timeout" and "stall_timeout" (seconds). 0, or -1 for an unknown name or a bad value.
OT_TLS_EXPORT int hxc_com_set(const char* name, const char* value) {
  if (name == nullptr || value == nullptr) return -1;
  if (strcmp(name, "ca") == 0) {
    settings.ca = value;
  } else if (strcmp(name, "fingerprint") == 0) {
    settings.fingerprint = value;
  } else if (strcmp(name, "allow_tls12") == 0) {
    if (strcmp(value, "0") != 0 && strcmp(value, "1") != 0) return -1;
    settings.allowTls12 = value[0] == '1';
  } else if (strcmp(name, "connect_timeout") == 0) {
    return parseSeconds(value, &settings.connectTimeoutS) ? 0 : -1;
  } else if (strcmp(name, "stall_timeout") == 0) {
    return parseSeconds(value, &settings.stallTimeoutS) ? 0 : -1;
  } else {
    return -1;
  }
  return 0;
}

OT_TLS_EXPORT const char* hxc_com_refusal(void) {
  return refusal.c_str();
}

OT_TLS_EXPORT int hxc_com_con(const char* host, int port, int* use_plugin) {
  refusal.clear();
  if (use_plugin != nullptr) *use_plugin = 1;
  unsigned char pinned[32];
  bool pin = false;
  if (host == nullptr || host[0] == '\0') {
    refuse("TLS: no host to connect to");
  } else if (verifiable(pinned, &pin)) {
    int fd = connectTcp(host, port);
    if (fd >= 0) {
      std::unique_ptr<Connection> c(new Connection);
      c->fd = fd;
      if (handshake(*c, host, port, pinned, pin)) {
        connections[fd] = std::move(c);
        return fd;
      }
      // A server whose certificate was refused after the handshake learns it at once (a
      // failed handshake has sent its alert already).
      if (c->ssl != nullptr && SSL_is_init_finished(c->ssl)) {
        SSL_shutdown(c->ssl);
        firstError();
      }
    }
  }
  // Refused: a handle that carries nothing, never a result that a loader takes for "plain TCP,
  // please". It is a descriptor of its own, so that a loader closing it closes nothing else.
  int dead = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (dead < 0) return -1;
  std::unique_ptr<Connection> c(new Connection);
  c->fd = dead;
  c->broken = true;
  connections[dead] = std::move(c);
  return dead;
}

OT_TLS_EXPORT int hxc_com_rec(int slot, int sock, char* line, int size, int* table) {
  (void)slot;
  (void)table;
  Connection* c = usable(sock);
  if (c == nullptr || line == nullptr) return -1;
  if (size < 2) {
    if (size == 1) line[0] = '\0';
    return 0;
  }
  return receiveLine(*c, line, size);
}

OT_TLS_EXPORT int hxc_com_rec_binary(int slot, int sock, char* buf, int len, int* table) {
  (void)slot;
  (void)table;
  Connection* c = usable(sock);
  if (c == nullptr || len < 0 || (buf == nullptr && len > 0)) return -1;
  if (len == 0) return 0;
  return receiveBlock(*c, buf, len);
}

OT_TLS_EXPORT int hxc_com_send(int slot, int sock, const char* data, int len, int* table) {
  (void)slot;
  (void)table;
  Connection* c = usable(sock);
  if (c == nullptr || len < 0 || (data == nullptr && len > 0)) return -1;
  return sendAll(*c, data, len);
}

OT_TLS_EXPORT int hxc_com_close(int slot, int sock, int* table) {
  (void)slot;
  (void)table;
  auto it = connections.find(sock);
  if (it == connections.end()) return 0;  // not ours: the connection layer closes it
  Connection& c = *it->second;
  if (c.ssl != nullptr && !c.closed && !c.broken && !c.eof) {
    // close_notify, without waiting for the server's: the connection is over either way.
    ERR_clear_error();
    SSL_shutdown(c.ssl);
    firstError();
  }
  connections.erase(it);
  return 1;
}

// Every connection of this plug-in is TLS from its first byte: a plain connection is never
// left to the connection layer, so there is none to take over. A switch asked for anyway
// leaves the slot with a handle this plug-in does not know, and its first read fails.
OT_TLS_EXPORT int hxc_com_plugin_on(int slot, const char* line) {
  (void)slot;
  (void)line;
  return -1;
}

OT_TLS_EXPORT int hxc_com_fd(int slot, int sock) {
  (void)slot;
  Connection* c = live(sock);
  return c != nullptr ? c->fd : -1;
}

OT_TLS_EXPORT int hxc_com_ready(int slot, int sock, const char** data) {
  (void)slot;
  Connection* c = live(sock);
  if (c == nullptr) return -1;
  fill(*c, 0);
  if (c->broken || (c->eof && c->in.size() == 0)) return -1;  // the next read says so
  if (data != nullptr) *data = c->in.data();
  return c->in.size() > (size_t)INT_MAX ? INT_MAX : (int)c->in.size();
}
