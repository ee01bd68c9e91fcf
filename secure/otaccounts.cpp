#include "otaccounts.h"

#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <argon2.h>

#include <unordered_set>

#include "otfd.h"
#include "otloginline.h"

namespace {

const size_t kMaxLine = 1024;
const size_t kMaxAccounts = 10000;
const size_t kMaxFile = 4u << 20;
const size_t kSaltBytes = 16;
const size_t kHashBytes = 32;

// The bounds of a hash's parameters that we accept from a file. Argon2's own are far wider; a
// hash beyond these would make every login of that user (and, through the dummy, of unknown
// users) allocate gigabytes or run for minutes, which is a typo, not a choice.
const unsigned long kMaxMemoryKiB = 4u << 20;  // 4 GiB
const unsigned long kMaxPasses = 100;
const unsigned long kMaxLanes = 64;
const size_t kMinSaltBytes = 8, kMaxSaltBytes = 64;
const size_t kMinHashBytes = 4, kMaxHashBytes = 128;

const char kPrefix[] = "$argon2id$v=19$";

// A field of a line for a message: printable ASCII as it is, other bytes as \xHH, cut.
std::string shown(const char* s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n && out.size() < 40; i++) {
    unsigned char c = (unsigned char)s[i];
    if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
      out.push_back((char)c);
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  if (n > 0 && out.size() >= 40) out += "...";
  return out;
}

int b64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// The bytes of unpadded base64 of n characters, or -1 when it is not base64 in the form
// libargon2 reads (the unused bits of the last character must be zero).
long b64Bytes(const char* s, size_t n) {
  if (n % 4 == 1) return -1;
  unsigned acc = 0, bits = 0;
  for (size_t i = 0; i < n; i++) {
    int v = b64Value(s[i]);
    if (v < 0) return -1;
    acc = (acc << 6 | (unsigned)v) & 0xfff;
    bits += 6;
    if (bits >= 8) bits -= 8;
  }
  if (bits > 0 && (acc & ((1u << bits) - 1)) != 0) return -1;
  return (long)(n * 6 / 8);
}

// "name=" and a decimal number without sign or leading zero, within [1, max].
bool readParameter(const char** p, const char* end, const char* name, unsigned long max,
                   unsigned long* value) {
  size_t nlen = strlen(name);
  const char* s = *p;
  if ((size_t)(end - s) < nlen || memcmp(s, name, nlen) != 0) return false;
  s += nlen;
  if (s >= end || *s < '1' || *s > '9') return false;
  unsigned long v = 0;
  while (s < end && *s >= '0' && *s <= '9') {
    v = v * 10 + (unsigned long)(*s - '0');
    if (v > max) return false;
    s++;
  }
  *value = v;
  *p = s;
  return true;
}

struct HashForm {
  unsigned long memoryKiB = 0, passes = 0, lanes = 0;
  size_t saltAt = 0, saltChars = 0, hashAt = 0, hashChars = 0;
};

// Whether h is an Argon2id hash in its encoded form that libargon2 will read, within our
// bounds: "$argon2id$v=19$m=M,t=T,p=P$SALT$HASH".
bool parseHash(const char* h, size_t n, HashForm* f) {
  const size_t plen = sizeof kPrefix - 1;
  if (n < plen || memcmp(h, kPrefix, plen) != 0) return false;
  const char* p = h + plen;
  const char* end = h + n;
  if (!readParameter(&p, end, "m=", kMaxMemoryKiB, &f->memoryKiB)) return false;
  if (p >= end || *p++ != ',') return false;
  if (!readParameter(&p, end, "t=", kMaxPasses, &f->passes)) return false;
  if (p >= end || *p++ != ',') return false;
  if (!readParameter(&p, end, "p=", kMaxLanes, &f->lanes)) return false;
  if (f->memoryKiB < 8 * f->lanes) return false;
  if (p >= end || *p++ != '$') return false;
  const char* salt = p;
  while (p < end && *p != '$')
    p++;
  if (p >= end) return false;
  f->saltAt = (size_t)(salt - h);
  f->saltChars = (size_t)(p - salt);
  p++;
  f->hashAt = (size_t)(p - h);
  f->hashChars = (size_t)(end - p);
  long saltBytes = b64Bytes(salt, f->saltChars);
  long hashBytes = b64Bytes(p, f->hashChars);
  return saltBytes >= (long)kMinSaltBytes && saltBytes <= (long)kMaxSaltBytes &&
         hashBytes >= (long)kMinHashBytes && hashBytes <= (long)kMaxHashBytes;
}

bool blank(char c) {
  return c == ' ' || c == '\t';
}

// The fields of a line split at runs of blanks.
void splitFields(const char* s, size_t n, std::vector<std::pair<const char*, size_t>>* fields) {
  size_t i = 0;
  while (i < n) {
    while (i < n && blank(s[i]))
      i++;
    if (i >= n) break;
    size_t start = i;
    while (i < n && !blank(s[i]))
      i++;
    fields->emplace_back(s + start, i - start);
  }
}

bool randomBytes(unsigned char* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = getrandom(buf + got, n - got, 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += (size_t)r;
  }
  return true;
}

// The folder of path, for the new file beside it and the folder's own sync.
std::string folderOf(const char* path) {
  std::string copy(path);
  return dirname(&copy[0]);
}

std::string errnoText(const char* path, const char* what) {
  return std::string(path) + ": " + what + (what[0] != '\0' ? ": " : "") + strerror(errno);
}

}  // namespace

int otAccounts::read(const char* path, std::string* error) {
  std::string dummy;
  if (error == nullptr) error = &dummy;
  accounts_.clear();
  if (path == nullptr) {
    *error = "no file named";
    return -1;
  }
  otFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0) {
    *error = errnoText(path, "");
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = std::string(path) + ": not a regular file";
    return -1;
  }
  // One byte more than the limit is read so that a file that grew past it shows.
  std::string text;
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errnoText(path, "");
      return -1;
    }
    if (n == 0) break;
    text.append(chunk, (size_t)n);
    if (text.size() > kMaxFile) {
      *error = std::string(path) + ": larger than 4 MiB";
      return -1;
    }
  }
  return parse(text.data(), text.size(), error);
}

int otAccounts::parse(const char* text, size_t len, std::string* error) {
  std::string dummy;
  if (error == nullptr) error = &dummy;
  accounts_.clear();
  if (text == nullptr && len > 0) {
    *error = "no text";
    return -1;
  }
  if (len > kMaxFile) {
    *error = "file: larger than 4 MiB";
    return -1;
  }
  std::vector<Account> read;
  std::unordered_set<std::string> users;
  size_t pos = 0;
  long lineNo = 0;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(lineNo) + ": " + why;
    return -1;
  };
  std::vector<std::pair<const char*, size_t>> fields;
  while (pos < len) {
    lineNo++;
    const char* s = text + pos;
    const char* nl = (const char*)memchr(s, '\n', len - pos);
    size_t n = nl != nullptr ? (size_t)(nl - s) : len - pos;
    pos += n + (nl != nullptr ? 1 : 0);
    if (n > 0 && s[n - 1] == '\r') n--;
    if (n > kMaxLine) return fail("longer than 1024 bytes");
    if (memchr(s, '\0', n) != nullptr) return fail("NUL byte");
    fields.clear();
    splitFields(s, n, &fields);
    if (fields.empty() || fields[0].first[0] == '#') continue;
    if (fields.size() < 3) return fail("expected user, role and password hash");
    if (fields.size() > 3)
      return fail("text after the password hash: \"" + shown(fields[3].first, fields[3].second) +
                  "\"");
    Account a;
    a.user.assign(fields[0].first, fields[0].second);
    if (!otLoginUserValid(a.user.c_str()))
      return fail("bad user name \"" + shown(fields[0].first, fields[0].second) + "\"");
    std::string role(fields[1].first, fields[1].second);
    a.role = otRoleOf(role.c_str());
    if (a.role < 0) return fail("unknown role \"" + shown(role.data(), role.size()) + "\"");
    a.hash.assign(fields[2].first, fields[2].second);
    HashForm form;
    if (a.hash.compare(0, 10, "$argon2id$") != 0)
      return fail("not an Argon2id hash (\"$argon2id$...\") for user \"" + a.user + "\"");
    if (!parseHash(a.hash.data(), a.hash.size(), &form))
      return fail("bad Argon2id hash for user \"" + a.user + "\"");
    if (!users.insert(a.user).second) return fail("user \"" + a.user + "\" is already in the file");
    if (read.size() >= kMaxAccounts) return fail("more than 10000 accounts");
    read.push_back(std::move(a));
  }
  accounts_ = std::move(read);
  return 0;
}

std::string otAccounts::format() const {
  std::string out = "# user\trole\tpassword hash (Argon2id)\n";
  for (const Account& a : accounts_) {
    const char* role = otRoleName(a.role);
    out += a.user + "\t" + (role != nullptr ? role : "none") + "\t" + a.hash + "\n";
  }
  return out;
}

int otAccounts::write(const char* path, std::string* error) const {
  std::string dummy;
  if (error == nullptr) error = &dummy;
  if (path == nullptr || path[0] == '\0') {
    *error = "no file named";
    return -1;
  }
  const std::string text = format();
  std::string temp = std::string(path) + ".XXXXXX";
  otFd fd(mkostemp(&temp[0], O_CLOEXEC));
  if (fd.get() < 0) {
    *error = errnoText(path, "cannot make a new file beside it");
    return -1;
  }
  bool ok = fchmod(fd.get(), 0600) == 0;
  size_t done = 0;
  while (ok && done < text.size()) {
    ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += (size_t)n;
  }
  ok = ok && fsync(fd.get()) == 0;
  const int closed = close(fd.release());
  ok = ok && closed == 0;
  if (!ok || rename(temp.c_str(), path) != 0) {
    *error = errnoText(path, "cannot be written");
    unlink(temp.c_str());
    return -1;
  }
  // The rename lasts a crash only once the folder is on disk too.
  otFd dir(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) fsync(dir.get());
  return 0;
}

int otAccounts::check(const char* user, const char* password, int* role) const {
  int dummyRole;
  if (role == nullptr) role = &dummyRole;
  *role = OT_ROLE_NONE;
  if (user == nullptr || password == nullptr) return 0;
  const size_t plen = strlen(password);
  const Account* a = find(user);
  if (a == nullptr) {
    // The same work as for a known user: a hash of the first account's cost and sizes with a
    // salt and a result of zeros, which no password gives.
    std::string dummy;
    HashForm f;
    if (!accounts_.empty() && parseHash(accounts_[0].hash.data(), accounts_[0].hash.size(), &f)) {
      dummy = accounts_[0].hash.substr(0, f.saltAt) + std::string(f.saltChars, 'A') + "$" +
              std::string(f.hashChars, 'A');
    } else {
      const otHashCost cost;
      dummy = std::string(kPrefix) + "m=" + std::to_string(cost.memoryKiB) +
              ",t=" + std::to_string(cost.passes) + ",p=" + std::to_string(cost.lanes) + "$" +
              std::string(22, 'A') + "$" + std::string(43, 'A');
    }
    argon2id_verify(dummy.c_str(), password, plen);
    return 0;
  }
  if (argon2id_verify(a->hash.c_str(), password, plen) != ARGON2_OK) return 0;
  *role = a->role;
  return 1;
}

int otAccounts::set(const char* user, int role, const char* password, std::string* error,
                    const otHashCost& cost) {
  std::string dummy;
  if (error == nullptr) error = &dummy;
  if (!otLoginUserValid(user)) {
    *error = "bad user name (1 to 63 letters, digits, '_', '.', '-', '@')";
    return -1;
  }
  if (otRoleName(role) == nullptr || role == OT_ROLE_NONE) {
    *error = "unknown role";
    return -1;
  }
  Account* a = nullptr;
  for (Account& b : accounts_)
    if (b.user == user) a = &b;
  if (a == nullptr && password == nullptr) {
    *error = "a new account needs a password";
    return -1;
  }
  if (a == nullptr && accounts_.size() >= kMaxAccounts) {
    *error = "there are 10000 accounts already";
    return -1;
  }
  std::string hash;
  if (password != nullptr) {
    const size_t plen = strlen(password);
    // A password that the login line cannot carry could never be used.
    if (plen == 0) {
      *error = "empty password";
      return -1;
    }
    if (plen > OT_LOGIN_MAX_PASSWORD) {
      *error = "password longer than 1024 bytes";
      return -1;
    }
    if (memchr(password, '\r', plen) != nullptr) {
      *error = "password holds a carriage return";
      return -1;
    }
    if (cost.lanes < 1 || cost.lanes > kMaxLanes || cost.passes < 1 || cost.passes > kMaxPasses ||
        cost.memoryKiB < 8 * cost.lanes || cost.memoryKiB > kMaxMemoryKiB) {
      *error = "hash cost out of range";
      return -1;
    }
    unsigned char salt[kSaltBytes];
    if (!randomBytes(salt, sizeof salt)) {
      *error = std::string("no random salt: ") + strerror(errno);
      return -1;
    }
    std::vector<char> encoded(argon2_encodedlen(cost.passes, cost.memoryKiB, cost.lanes, kSaltBytes,
                                                kHashBytes, Argon2_id) +
                              1);
    int rc = argon2id_hash_encoded(cost.passes, cost.memoryKiB, cost.lanes, password, plen, salt,
                                   sizeof salt, kHashBytes, encoded.data(), encoded.size());
    if (rc != ARGON2_OK) {
      *error = std::string("hashing failed: ") + argon2_error_message(rc);
      return -1;
    }
    hash = encoded.data();
  }
  if (a == nullptr) {
    Account n;
    n.user = user;
    n.role = role;
    n.hash = hash;
    accounts_.push_back(std::move(n));
    return 0;
  }
  a->role = role;
  if (password != nullptr) a->hash = hash;
  return 0;
}

int otAccounts::remove(const char* user) {
  if (user == nullptr) return -1;
  for (auto it = accounts_.begin(); it != accounts_.end(); ++it)
    if (it->user == user) {
      accounts_.erase(it);
      return 0;
    }
  return -1;
}

const otAccounts::Account* otAccounts::find(const char* user) const {
  if (user == nullptr) return nullptr;
  for (const Account& a : accounts_)
    if (a.user == user) return &a;
  return nullptr;
}
