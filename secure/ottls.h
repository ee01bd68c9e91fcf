// TLS for the display connection, the server's side. otTlsServer holds the certificate and the
// policy (TLS 1.3; 1.2 only when allowed); accept() makes the handshake on an accepted socket
// and hands back a plain local descriptor that carries the connection from then on. A relay
// thread moves the bytes between the two, so the server's readers, writers and time limits
// work on the plain descriptor as on any socket (the peer closing, a stop shutting the socket
// down, a client that does not read: each shows on the plain side as it would without TLS).
#ifndef OTTLS_H
#define OTTLS_H

#include <memory>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;

class otTlsConnection;

class otTlsServer {
 public:
  otTlsServer();
  ~otTlsServer();
  otTlsServer(const otTlsServer&) = delete;
  otTlsServer& operator=(const otTlsServer&) = delete;

  // source "CERT,KEY" (PEM files; the certificate file may hold the chain) or "auto": a
  // self-signed certificate made on the first start and kept as "tls-cert.pem" and
  // "tls-key.pem" (mode 0600) in stateDir, which is made when missing. 0, or -1 with *error.
  int configure(const char* source, const char* stateDir, bool allowTls12, std::string* error);
  bool configured() const { return ctx_ != nullptr; }
  // The SHA-256 of the certificate (its DER), "AB:CD:..." (95 characters).
  const std::string& fingerprint() const { return fingerprint_; }
  // Where the certificate is (for the start message).
  const std::string& certificatePath() const { return certPath_; }
  // True when configure() made the certificate just now.
  bool madeCertificate() const { return made_; }

  // The handshake on fd (an accepted TCP socket; the caller keeps owning it), waiting at most
  // timeoutMs. The connection, or null with *why ("no TLS handshake within 5 s",
  // "handshake failed: wrong version number", ...).
  std::unique_ptr<otTlsConnection> accept(int fd, int timeoutMs, std::string* why);

 private:
  SSL_CTX* ctx_ = nullptr;
  std::string fingerprint_, certPath_;
  bool made_ = false;
};

class otTlsConnection {
 public:
  ~otTlsConnection();  // close()
  otTlsConnection(const otTlsConnection&) = delete;
  otTlsConnection& operator=(const otTlsConnection&) = delete;

  // The plain descriptor that carries the connection; owned by this object.
  int fd() const;
  // The protocol the handshake agreed on ("TLSv1.3").
  const char* version() const;
  // Ends the connection: what the server wrote is still delivered, then the TLS connection is
  // closed (close_notify) and the relay thread joined. Safe to call twice.
  void close();

 private:
  friend class otTlsServer;
  struct Impl;
  explicit otTlsConnection(Impl* impl);
  std::unique_ptr<Impl> impl_;
};

// The SHA-256 fingerprint of the first certificate of a PEM file, "AB:CD:..."; "" and *error
// when it cannot be read.
std::string otTlsFingerprintOfFile(const char* pemPath, std::string* error);

#endif
