// otAccounts: the operators of a display server, each with a role and a password hash.
//
// The accounts file: one account a line, fields separated by blanks or tabs, '#' starts a
// comment line, empty lines are ignored:
//
//   # user   role      password hash (Argon2id, PHC string form)
//   anna     operator  $argon2id$v=19$m=19456,t=2,p=1$<salt base64>$<hash base64>
//
//   user   as otLoginUserValid (wire/otloginline.h) accepts it; unique in the file
//   role   viewer, operator, engineer or admin
//   hash   an Argon2id hash in its encoded form ("$argon2id$v=19$m=M,t=T,p=P$SALT$HASH", as
//          libargon2 writes it); no other algorithm is accepted, and a hash whose cost is
//          beyond 4 GiB, 100 passes or 64 lanes, or whose salt (8 to 64 bytes) or result (4 to
//          128 bytes) is out of bounds, is refused when the file is read, not at a login
//
// A line of more than 1024 bytes, more than 10000 accounts, a file of more than 4 MiB, a NUL
// byte and a bad line are refused with the line number and the reason ("line 3: unknown role
// \"boss\""). A line may end in "\r\n". Nothing throws.
#ifndef OTACCOUNTS_H
#define OTACCOUNTS_H

#include <string>
#include <vector>

#include "otwritegate.h"

// The roles (otRole, otRoleName, otRoleOf) are the library's: otwritegate.h.

// The cost of a new hash. The defaults follow the usual recommendation for interactive logins
// (19 MiB, 2 passes); tests may choose less.
struct otHashCost {
  unsigned memoryKiB = 19456;
  unsigned passes = 2;
  unsigned lanes = 1;
};

class otAccounts {
 public:
  struct Account {
    std::string user;
    int role = OT_ROLE_VIEWER;
    std::string hash;  // the encoded Argon2id hash
  };

  // 0, or -1 (*error "file: reason" or "line N: reason"; the accounts then hold nothing).
  int read(const char* path, std::string* error);
  int parse(const char* text, size_t len, std::string* error);
  // The file text, and the file written whole (a new file beside it, synced, renamed over it;
  // mode 0600). Comments of a file that was read are not kept. 0, or -1 with *error.
  std::string format() const;
  int write(const char* path, std::string* error) const;

  // 1 when user exists and password is its password (*role set), 0 otherwise (*role
  // OT_ROLE_NONE). An unknown user costs as much time as a known one: a hash of the first
  // account's cost is computed for it (the default cost when there is no account).
  int check(const char* user, const char* password, int* role) const;
  // Adds user or changes its role and, when password is not null, its password (hashed with a
  // new random salt at cost). 0, or -1 with *error (bad user name, role, empty password, a
  // password that no login line can carry: longer than OT_LOGIN_MAX_PASSWORD or with a
  // carriage return; a new user without a password or beyond 10000 accounts; a cost out of
  // the bounds above).
  int set(const char* user, int role, const char* password, std::string* error,
          const otHashCost& cost = otHashCost());
  // 0, or -1 when there is no such user.
  int remove(const char* user);
  const Account* find(const char* user) const;
  const std::vector<Account>& accounts() const { return accounts_; }

 private:
  std::vector<Account> accounts_;
};

#endif
