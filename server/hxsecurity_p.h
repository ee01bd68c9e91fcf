// Internal: the security of a running server (TLS, logins, the write gate).
#ifndef HXSECURITY_P_H
#define HXSECURITY_P_H

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "hxserver.h"
#include "otaccounts.h"
#include "otaudit.h"
#include "ottls.h"
#include "otwritegate.h"

// Tries of one connection before it is closed.
#define HX_LOGIN_TRIES 5

struct hxSecurity {
  // Reads the certificate, the accounts and opens the audit trail that o names, and installs
  // the process's write gate. 0, or -1 (said on the log).
  int configure(const hxServerOptions& o);
  // The address to bind: o's, else every address for a secured server and the loopback
  // address (said on the log) for one that is not.
  const char* bindAddress(const hxServerOptions& o) const;

  // The TLS handshake of a new connection on fd (*peer: the client's address). Null either
  // without TLS (then go on with fd) or when the handshake failed (said on the log; close).
  std::unique_ptr<otTlsConnection> handshake(int fd, std::string* peer);
  bool usesTls() const { return tls.configured(); }
  // The login of a connection when the server requires one: 0 logged in (p's user and role
  // set) or none required, -1 the connection is to be closed.
  int login(PARAM_* p);
  // The connection's thread writes on behalf of p's user from now on, until leave().
  static void enter(PARAM_* p);
  static void leave();

 private:
  struct Failures {
    int count = 0;
    long long lastMs = 0;
  };
  int delayFor(const std::string& user, const std::string& host);
  void failed(const std::string& user, const std::string& host);
  void succeeded(const std::string& user, const std::string& host);

  otTlsServer tls;
  otAccounts accounts;
  bool loginRequired = false;
  std::mutex lock;  // the failure counts
  std::map<std::string, Failures> byUser, byHost;
};

#endif
