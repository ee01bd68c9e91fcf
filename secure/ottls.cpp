#include "ottls.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdint.h>
#include <string.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <thread>
#include <vector>

#include "otcutil.h"
#include "otfd.h"
#include "otnumber.h"
#include "otpoll.h"

namespace {

// What OpenSSL last said, for a message.
std::string sslError(const char* what) {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return what;
  char text[256];
  ERR_error_string_n(e, text, sizeof text);
  const char* reason = ERR_reason_error_string(e);
  return std::string(what) + ": " + (reason != nullptr ? reason : text);
}

std::string hexFingerprint(X509* cert) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (X509_digest(cert, EVP_sha256(), md, &n) != 1) return "";
  return otHexBytes(md, n, true);
}

bool setNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Writes a PEM object to path made new with mode; false and *error on failure.
template <typename Write>
bool writePem(const std::string& path, mode_t mode, Write write, std::string* error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    *error = path + ": " + strerror(errno);
    return false;
  }
  FILE* f = fdopen(fd, "w");
  if (f == nullptr) {
    ::close(fd);
    *error = path + ": " + strerror(errno);
    return false;
  }
  bool ok = write(f) == 1;
  ok = fflush(f) == 0 && fsync(fileno(f)) == 0 && ok;
  fclose(f);
  if (!ok) {
    unlink(path.c_str());
    *error = sslError(("cannot write " + path).c_str());
  }
  return ok;
}

bool addExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX v3;
  X509V3_set_ctx_nodb(&v3);
  X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
  if (ext == nullptr) return false;
  bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

// A self-signed certificate for this host (and for the loopback names, by which a client on
// the same machine reaches it), valid for ten years, with a P-256 key.
bool makeCertificate(const std::string& certPath, const std::string& keyPath, std::string* error) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  bool ok = key != nullptr && cert != nullptr;
  char host[256] = "localhost";
  if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') strcpy(host, "localhost");
  host[sizeof host - 1] = '\0';
  if (ok) {
    unsigned char serial[16];
    ok = RAND_bytes(serial, sizeof serial) == 1;
    serial[0] &= 0x7F;  // a positive number
    BIGNUM* bn = ok ? BN_bin2bn(serial, sizeof serial, nullptr) : nullptr;
    ok = bn != nullptr && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert)) != nullptr;
    BN_free(bn);
  }
  if (ok) {
    X509_set_version(cert, 2);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 10L * 365 * 24 * 3600);
    X509_NAME* name = X509_get_subject_name(cert);
    ok = X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8,
                                    (const unsigned char*)"otkit display server", -1, -1, 0) == 1 &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, (const unsigned char*)host, -1, -1,
                                    0) == 1 &&
         X509_set_issuer_name(cert, name) == 1 && X509_set_pubkey(cert, key) == 1;
  }
  if (ok) {
    std::string names = std::string("DNS:") + host;
    if (strcmp(host, "localhost") != 0) names += ",DNS:localhost";
    names += ",IP:127.0.0.1,IP:::1";
    ok = addExtension(cert, NID_subject_alt_name, names.c_str()) &&
         addExtension(cert, NID_basic_constraints, "critical,CA:FALSE") &&
         addExtension(cert, NID_key_usage, "critical,digitalSignature") &&
         addExtension(cert, NID_ext_key_usage, "serverAuth") &&
         X509_sign(cert, key, EVP_sha256()) > 0;
  }
  if (!ok) {
    *error = sslError("cannot make a certificate");
  } else {
    ok = writePem(
             keyPath, 0600,
             [key](FILE* f) {
               return PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
             },
             error) &&
         writePem(
             certPath, 0644, [cert](FILE* f) { return PEM_write_X509(f, cert); }, error);
    if (!ok) unlink(keyPath.c_str());
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  return ok;
}

// The socket under a TLS connection, written with MSG_NOSIGNAL: a client that is gone must
// cost the server a failed write, not a SIGPIPE that ends the process. OpenSSL's own socket
// BIO writes with write(2).
int bioWrite(BIO* b, const char* data, int len) {
  BIO_clear_retry_flags(b);
  ssize_t n = send((int)(intptr_t)BIO_get_data(b), data, (size_t)len, MSG_NOSIGNAL);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_write(b);
  return (int)n;
}

int bioRead(BIO* b, char* data, int len) {
  BIO_clear_retry_flags(b);
  ssize_t n = recv((int)(intptr_t)BIO_get_data(b), data, (size_t)len, 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_read(b);
  return (int)n;
}

long bioCtrl(BIO*, int cmd, long, void*) {
  return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* b) {
  BIO_set_init(b, 1);
  return 1;
}

BIO_METHOD* socketMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "otkit socket");
    if (m != nullptr) {
      BIO_meth_set_write(m, bioWrite);
      BIO_meth_set_read(m, bioRead);
      BIO_meth_set_ctrl(m, bioCtrl);
      BIO_meth_set_create(m, bioCreate);
    }
    return m;
  }();
  return method;
}

// A BIO over fd (not closed with it); null when none can be made.
BIO* socketBio(int fd) {
  BIO_METHOD* m = socketMethod();
  BIO* b = m != nullptr ? BIO_new(m) : nullptr;
  if (b != nullptr) BIO_set_data(b, (void*)(intptr_t)fd);
  return b;
}

}  // namespace

// ---- the relay -------------------------------------------------------------------------------

struct otTlsConnection::Impl {
  SSL* ssl = nullptr;
  int net = -1;        // the TCP socket (not owned)
  otFd plain;          // the server's end
  otFd relay;          // the relay's end
  std::thread thread;  // runs relayLoop
  bool closed = false;

  ~Impl() { SSL_free(ssl); }

  // Once the server's end is closed, what it wrote still goes out, but not for longer than
  // this: a client that reads nothing must not keep the thread.
  enum { FLUSH_MS = 5000, CHUNK = 16384 };

  void relayLoop();
};

void otTlsConnection::Impl::relayLoop() {
  std::vector<char> toPlain(CHUNK), toNet(4 * CHUNK);
  size_t plainLen = 0, plainPos = 0;  // decrypted, not yet given to the server
  size_t netLen = 0, netPos = 0;      // the server's, not yet encrypted and sent
  bool netDone = false;               // the client closed, or the connection broke
  bool plainDone = false;             // the server closed its end
  bool readWantsWrite = false, writeWantsRead = false, writeWantsWrite = false;
  long long flushDeadline = OT_NO_DEADLINE;
  for (;;) {
    bool moved = false;
    // Client to server.
    if (!netDone && plainLen == 0) {
      ERR_clear_error();
      int n = SSL_read(ssl, toPlain.data(), (int)toPlain.size());
      readWantsWrite = false;
      if (n > 0) {
        plainLen = (size_t)n;
        plainPos = 0;
        moved = true;
      } else {
        int e = SSL_get_error(ssl, n);
        if (e == SSL_ERROR_WANT_WRITE)
          readWantsWrite = true;
        else if (e != SSL_ERROR_WANT_READ)
          netDone = true;
      }
    }
    if (plainPos < plainLen) {
      ssize_t w = send(relay.get(), toPlain.data() + plainPos, plainLen - plainPos,
                       MSG_NOSIGNAL | MSG_DONTWAIT);
      if (w > 0) {
        plainPos += (size_t)w;
        if (plainPos == plainLen) plainLen = plainPos = 0;
        moved = true;
      } else if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        break;  // the server's end is gone: nothing it wrote is left to deliver either
      }
    }
    // Server to client.
    if (!plainDone && netLen == 0) {
      // All that waits, in one record where it fits: a server sends a line at a time, and a
      // record of its own for each would cost a seal and a send per line.
      netPos = 0;
      for (;;) {
        ssize_t r = recv(relay.get(), toNet.data() + netLen, toNet.size() - netLen, MSG_DONTWAIT);
        if (r > 0) {
          netLen += (size_t)r;
          moved = true;
          if (netLen == toNet.size()) break;
          continue;
        }
        if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
          plainDone = true;
          flushDeadline = otDeadlineIn(FLUSH_MS);
        }
        break;
      }
    }
    if (netPos < netLen && !netDone) {
      ERR_clear_error();
      int n = SSL_write(ssl, toNet.data() + netPos, (int)(netLen - netPos));
      writeWantsRead = writeWantsWrite = false;
      if (n > 0) {
        netPos += (size_t)n;
        if (netPos == netLen) netLen = netPos = 0;
        moved = true;
      } else {
        int e = SSL_get_error(ssl, n);
        if (e == SSL_ERROR_WANT_WRITE)
          writeWantsWrite = true;
        else if (e == SSL_ERROR_WANT_READ)
          writeWantsRead = true;
        else
          netDone = true;
      }
    }
    if (netDone && netLen > 0) netLen = netPos = 0;  // nowhere to go
    if (plainDone && netLen == 0) {
      if (!netDone) SSL_shutdown(ssl);  // close_notify; the client's answer is not awaited
      break;
    }
    if (netDone && plainLen == 0) break;  // closing the relay's end tells the server
    if (moved) continue;
    if (!netDone && plainLen == 0 && SSL_has_pending(ssl)) continue;

    struct pollfd fds[2];
    fds[0].fd = net;
    fds[0].events = 0;
    if (!netDone) {
      if ((plainLen == 0) || writeWantsRead) fds[0].events |= POLLIN;
      if (readWantsWrite || writeWantsWrite) fds[0].events |= POLLOUT;
    }
    fds[1].fd = relay.get();
    fds[1].events = 0;
    if (!plainDone && netLen == 0) fds[1].events |= POLLIN;
    if (plainPos < plainLen) fds[1].events |= POLLOUT;
    fds[0].revents = fds[1].revents = 0;
    int r = otPollUntil(fds, 2, flushDeadline);
    if (r < 0) break;
    if (r == 0) break;  // what the server wrote last could not go out in time
  }
  relay.reset();
}

otTlsConnection::otTlsConnection(Impl* impl) : impl_(impl) {}

otTlsConnection::~otTlsConnection() {
  close();
}

int otTlsConnection::fd() const {
  return impl_->plain.get();
}

const char* otTlsConnection::version() const {
  return SSL_get_version(impl_->ssl);
}

void otTlsConnection::close() {
  if (impl_->closed) return;
  impl_->closed = true;
  impl_->plain.reset();
  if (impl_->thread.joinable()) impl_->thread.join();
}

// ---- the server --------------------------------------------------------------------------------

otTlsServer::otTlsServer() {}

otTlsServer::~otTlsServer() {
  SSL_CTX_free(ctx_);
}

int otTlsServer::configure(const char* source, const char* stateDir, bool allowTls12,
                           std::string* error) {
  std::string why;
  if (error == nullptr) error = &why;
  SSL_CTX_free(ctx_);
  ctx_ = nullptr;
  made_ = false;
  if (source == nullptr || source[0] == '\0') {
    *error = "-tls needs CERT,KEY or auto";
    return -1;
  }
  std::string cert, key;
  if (strcmp(source, "auto") == 0) {
    if (stateDir == nullptr || stateDir[0] == '\0') {
      *error = "-tls=auto needs a state folder";
      return -1;
    }
    if (otMakeFolders(stateDir, 0700) != 0) {
      *error = std::string(stateDir) + ": " + strerror(errno);
      return -1;
    }
    cert = std::string(stateDir) + "/tls-cert.pem";
    key = std::string(stateDir) + "/tls-key.pem";
    if (!exists(cert) || !exists(key)) {
      if (exists(cert) != exists(key)) {
        *error = "only one of " + cert + " and " + key + " is there: remove it or give both";
        return -1;
      }
      if (!makeCertificate(cert, key, error)) return -1;
      made_ = true;
    }
  } else {
    const char* comma = strchr(source, ',');
    if (comma == nullptr || comma == source || comma[1] == '\0') {
      *error = "-tls needs CERT,KEY or auto";
      return -1;
    }
    cert.assign(source, (size_t)(comma - source));
    key = comma + 1;
  }
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr) {
    *error = sslError("cannot make a TLS context");
    return -1;
  }
  SSL_CTX_set_min_proto_version(ctx, allowTls12 ? TLS1_2_VERSION : TLS1_3_VERSION);
  // TLS 1.2, where allowed, with forward secrecy and an AEAD cipher only.
  SSL_CTX_set_cipher_list(ctx, "ECDHE+AESGCM:ECDHE+CHACHA20");
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_read_ahead(ctx, 1);
  SSL_CTX_set_num_tickets(ctx, 0);
  if (SSL_CTX_use_certificate_chain_file(ctx, cert.c_str()) != 1) {
    *error = sslError(cert.c_str());
  } else if (SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1) {
    *error = sslError(key.c_str());
  } else if (SSL_CTX_check_private_key(ctx) != 1) {
    *error = key + ": the key is not the certificate's";
  } else {
    fingerprint_ = hexFingerprint(SSL_CTX_get0_certificate(ctx));
    certPath_ = cert;
    ctx_ = ctx;
    return 0;
  }
  SSL_CTX_free(ctx);
  return -1;
}

std::unique_ptr<otTlsConnection> otTlsServer::accept(int fd, int timeoutMs, std::string* why) {
  std::string ignored;
  if (why == nullptr) why = &ignored;
  if (ctx_ == nullptr) {
    *why = "TLS is not configured";
    return nullptr;
  }
  std::unique_ptr<otTlsConnection::Impl> c(new otTlsConnection::Impl);
  c->net = fd;
  c->ssl = SSL_new(ctx_);
  // The server sends its lines as they come: without Nagle's delay, as on a plain
  // connection (whose own setting lands on the relay's end, not on this socket).
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  BIO* bio = c->ssl != nullptr ? socketBio(fd) : nullptr;
  if (bio == nullptr || !setNonBlocking(fd)) {
    BIO_free(bio);
    *why = sslError("cannot start TLS");
    return nullptr;
  }
  SSL_set_bio(c->ssl, bio, bio);  // the SSL object owns it now
  const long long deadline = otDeadlineIn(timeoutMs);
  for (;;) {
    ERR_clear_error();
    int r = SSL_accept(c->ssl);
    if (r == 1) break;
    int e = SSL_get_error(c->ssl, r);
    short wait = e == SSL_ERROR_WANT_READ ? POLLIN : e == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
    if (wait == 0) {
      *why = e == SSL_ERROR_SYSCALL || e == SSL_ERROR_ZERO_RETURN
                 ? std::string("the client closed during the TLS handshake")
                 : sslError("TLS handshake failed");
      return nullptr;
    }
    int p = otPollOne(fd, wait, deadline);
    if (p == 0) {
      char text[64];
      snprintf(text, sizeof text, "no TLS handshake within %d ms", timeoutMs);
      *why = text;
      return nullptr;
    }
    if (p < 0) {
      *why = std::string("cannot wait for the handshake: ") + strerror(errno);
      return nullptr;
    }
  }
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    *why = std::string("cannot make the connection's relay: ") + strerror(errno);
    return nullptr;
  }
  c->plain.reset(pair[0]);
  c->relay.reset(pair[1]);
  if (!setNonBlocking(pair[1])) {
    *why = std::string("cannot make the connection's relay: ") + strerror(errno);
    return nullptr;
  }
  otTlsConnection::Impl* impl = c.get();
  impl->thread = std::thread([impl] { impl->relayLoop(); });
  return std::unique_ptr<otTlsConnection>(new otTlsConnection(c.release()));
}

std::string otTlsFingerprintOfFile(const char* pemPath, std::string* error) {
  FILE* f = pemPath != nullptr ? fopen(pemPath, "r") : nullptr;
  if (f == nullptr) {
    if (error != nullptr) *error = std::string(pemPath ? pemPath : "") + ": " + strerror(errno);
    return "";
  }
  X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
  fclose(f);
  if (cert == nullptr) {
    if (error != nullptr) *error = sslError(pemPath);
    return "";
  }
  std::string out = hexFingerprint(cert);
  X509_free(cert);
  return out;
}
