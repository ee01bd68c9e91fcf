#include "otaudit.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <memory>

#include "otfd.h"
#include "otlog.h"
#include "otnumber.h"
#include "ottime.h"

namespace {

const size_t kMaxLine = 64 * 1024;  // bytes of a line, its line feed not counted
const int kFields = 11;
const std::string kZeros(64, '0');

void appendText(std::string* out, const std::string& text) {
  static const char hex[] = "0123456789abcdef";
  for (unsigned char c : text) {
    switch (c) {
      case '\t':
        *out += "\\t";
        break;
      case '\n':
        *out += "\\n";
        break;
      case '\r':
        *out += "\\r";
        break;
      case '\\':
        *out += "\\\\";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          *out += "\\x";
          out->push_back(hex[c >> 4]);
          out->push_back(hex[c & 15]);
        } else {
          out->push_back((char)c);
        }
    }
  }
}

// "2026-12-09T19:30:01.123Z". Times outside the years 0000..9999 are held to them, so that
// every line keeps the form that the verifier asks for.
std::string utcTime(long long ms) {
  const long long kMax = 253402300799999LL;  // 9999-12-31T23:59:59.999Z
  if (ms < 0) ms = 0;
  if (ms > kMax) ms = kMax;
  time_t secs = (time_t)(ms / 1000);
  struct tm tm;
  gmtime_r(&secs, &tm);
  char buf[96];  // room for any int, which the compiler cannot rule out
  snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
           tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, (int)(ms % 1000));
  return buf;
}

// Everything of a line between its seq and its prev, tabs around it included.
std::string lineBody(const otAuditRecord& r) {
  std::string out = "\t";
  out += utcTime(r.timeMs != 0 ? r.timeMs : otWallMs());
  for (const std::string* t :
       {&r.user, &r.address, &r.mask, &r.widget, &r.target, &r.oldValue, &r.newValue}) {
    out += "\t";
    appendText(&out, *t);
  }
  out += "\t";
  if (r.accepted) {
    out += "accepted";
  } else {
    out += "refused: ";
    appendText(&out, r.why.empty() ? std::string("-") : r.why);
  }
  out += "\t";
  return out;
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isLowerHex(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f');
}

int hexValue(char c) {
  return isDigit(c) ? c - '0' : c - 'a' + 10;
}

// A text as appendText writes it: no raw control byte, and only the escapes it makes.
bool validText(const char* s, size_t n) {
  for (size_t i = 0; i < n; i++) {
    unsigned char c = (unsigned char)s[i];
    if (c < 0x20 || c == 0x7f) return false;
    if (c != '\\') continue;
    if (++i >= n) return false;
    char e = s[i];
    if (e == 't' || e == 'n' || e == 'r' || e == '\\') continue;
    if (e != 'x' || i + 2 >= n || !isLowerHex(s[i + 1]) || !isLowerHex(s[i + 2])) return false;
    int v = hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]);
    if (!((v < 0x20 && v != '\t' && v != '\n' && v != '\r') || v == 0x7f)) return false;
    i += 2;
  }
  return true;
}

// The form "YYYY-MM-DDTHH:MM:SS.mmmZ" with fields in their ranges.
bool validTime(const char* s, size_t n) {
  static const char form[] = "dddd-dd-ddTdd:dd:dd.dddZ";
  if (n != sizeof form - 1) return false;
  for (size_t i = 0; i < n; i++)
    if (form[i] == 'd' ? !isDigit(s[i]) : s[i] != form[i]) return false;
  auto num = [s](int at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); };
  return num(5) >= 1 && num(5) <= 12 && num(8) >= 1 && num(8) <= 31 && num(11) <= 23 &&
         num(14) <= 59 && num(17) <= 60;
}

// What a line says of itself, and its hash.
struct LineInfo {
  bool good = false;  // an audit line in every field
  long long seq = 0;
  std::string prev;  // the prev field
  std::string hash;  // of the line with its line feed; set when good
};

// Reads a line (without its line feed; whole: it had one).
LineInfo analyse(const std::string& line, bool whole) {
  LineInfo info;
  if (!whole || line.size() > kMaxLine) return info;
  const char* s = line.data();
  const size_t n = line.size();
  size_t at[kFields + 1];
  int fields = 0;
  at[0] = 0;
  for (size_t i = 0; i < n; i++)
    if (s[i] == '\t') {
      if (++fields >= kFields) return info;
      at[fields] = i + 1;
    }
  if (fields != kFields - 1) return info;
  at[kFields] = n + 1;
  auto field = [&](int k, size_t* len) {
    *len = at[k + 1] - 1 - at[k];
    return s + at[k];
  };
  size_t len;
  const char* f = field(0, &len);
  if (len == 0 || len > 18 || f[0] == '0') return info;
  long long seq = 0;
  for (size_t i = 0; i < len; i++) {
    if (!isDigit(f[i])) return info;
    seq = seq * 10 + (f[i] - '0');
  }
  f = field(1, &len);
  if (!validTime(f, len)) return info;
  for (int k = 2; k <= 8; k++) {
    f = field(k, &len);
    if (!validText(f, len)) return info;
  }
  f = field(9, &len);
  const size_t refusedLen = strlen("refused: ");
  if (!(len == 8 && memcmp(f, "accepted", 8) == 0) &&
      !(len > refusedLen && memcmp(f, "refused: ", refusedLen) == 0 &&
        validText(f + refusedLen, len - refusedLen)))
    return info;
  f = field(10, &len);
  if (len != 64) return info;
  for (size_t i = 0; i < len; i++)
    if (!isLowerHex(f[i])) return info;
  info.good = true;
  info.seq = seq;
  info.prev.assign(f, len);
  std::string withFeed = line + "\n";
  info.hash = otSha256Hex(withFeed.data(), withFeed.size());
  return info;
}

int differences(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return 1000;
  int d = 0;
  for (size_t i = 0; i < a.size(); i++)
    d += a[i] != b[i];
  return d;
}

// Reads a file front to back, one line at a time; a line past kMaxLine is skipped to its end
// and handed out marked, never held.
class LineStream {
 public:
  explicit LineStream(int fd) : fd_(fd) {}
  // 1 a line (*line, *whole, *tooLong), 0 the end, -1 a read error (errno).
  int next(std::string* line, bool* whole, bool* tooLong) {
    line->clear();
    *whole = false;
    *tooLong = false;
    bool any = false;
    for (;;) {
      if (pos_ >= len_) {
        ssize_t n = ::read(fd_, buf_, sizeof buf_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) return any ? 1 : 0;
        pos_ = 0;
        len_ = (size_t)n;
      }
      any = true;
      const char* start = buf_ + pos_;
      const char* nl = (const char*)memchr(start, '\n', len_ - pos_);
      size_t take = nl != nullptr ? (size_t)(nl - start) : len_ - pos_;
      if (!*tooLong) {
        if (line->size() + take > kMaxLine) {
          *tooLong = true;
          line->clear();
        } else {
          line->append(start, take);
        }
      }
      pos_ += take;
      if (nl != nullptr) {
        pos_++;
        *whole = true;
        return 1;
      }
    }
  }

 private:
  int fd_;
  char buf_[256 * 1024];
  size_t pos_ = 0, len_ = 0;
};

struct Held {
  bool present = false;
  LineInfo info;
};

}  // namespace

std::string otSha256Hex(const void* data, size_t len) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (EVP_Digest(data, len, md, &n, EVP_sha256(), nullptr) != 1 || n != 32) return "";
  return otHexBytes(md, n);
}

std::string otAuditLine(long long seq, const otAuditRecord& r, const std::string& prevHex) {
  return std::to_string(seq) + lineBody(r) + prevHex + "\n";
}

int otAuditTail(int fd, int n, std::vector<std::string>* lines, bool* whole, std::string* error) {
  std::string dummy;
  if (error == nullptr) error = &dummy;
  lines->clear();
  *whole = true;
  struct stat st;
  if (n < 1 || fstat(fd, &st) != 0) {
    *error = n < 1 ? "no lines asked for" : strerror(errno);
    return -1;
  }
  off_t end = st.st_size;
  if (end == 0) return 0;
  // Blocks read from the end, newest first, until n line feeds before the last line are in
  // (or the file's start); a line that is too long stops the search.
  std::vector<std::string> blocks;
  size_t held = 0, feeds = 0;
  off_t pos = end;
  bool first = true;
  const size_t limit = (size_t)n * (kMaxLine + 1) + 1;
  while (pos > 0 && feeds < (size_t)n) {
    size_t want = pos > 65536 ? 65536 : (size_t)pos;
    std::string b(want, '\0');
    size_t got = 0;
    while (got < want) {
      ssize_t r = pread(fd, &b[got], want - got, pos - (off_t)want + (off_t)got);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        *error = r < 0 ? strerror(errno) : "the file shrank while it was read";
        return -1;
      }
      got += (size_t)r;
    }
    pos -= (off_t)want;
    for (size_t i = 0; i < want; i++)
      if (b[i] == '\n' && !(first && i + 1 == want)) feeds++;
    if (first) *whole = b.back() == '\n';
    first = false;
    held += want;
    blocks.push_back(std::move(b));
    if (held > limit && feeds < (size_t)n) {
      *error = "a line longer than 64 KiB";
      return -1;
    }
  }
  std::string text;
  text.reserve(held);
  for (auto it = blocks.rbegin(); it != blocks.rend(); ++it)
    text += *it;
  if (*whole) text.pop_back();
  // The lines, oldest first; when the start of the file was not reached, the first piece is
  // the end of a line before the wanted ones.
  std::vector<std::string> all;
  size_t start = 0;
  for (;;) {
    size_t nl = text.find('\n', start);
    all.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  if (pos > 0) all.erase(all.begin());
  if (all.size() > (size_t)n) all.erase(all.begin(), all.end() - n);
  for (const std::string& l : all)
    if (l.size() > kMaxLine) {
      *error = "a line longer than 64 KiB";
      return -1;
    }
  *lines = std::move(all);
  return 0;
}

otAuditLog::~otAuditLog() {
  close();
}

int otAuditLog::open(const char* path, std::string* error) {
  std::string dummy;
  if (error == nullptr) error = &dummy;
  close();
  if (path == nullptr || path[0] == '\0') {
    *error = "no file named";
    return -1;
  }
  const std::string name(path);
  otFd fd(::open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0) {
    *error = name + ": " + strerror(errno);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = name + ": not a regular file";
    return -1;
  }
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    *error = name + (errno == EWOULDBLOCK ? ": in use by another audit log"
                                          : std::string(": cannot be locked: ") + strerror(errno));
    return -1;
  }
  std::vector<std::string> tail;
  bool whole = true;
  std::string why;
  if (otAuditTail(fd.get(), 2, &tail, &whole, &why) != 0) {
    *error = name + ": " + why;
    return -1;
  }
  long long seq = 0;
  std::string prev = kZeros;
  if (!tail.empty()) {
    const std::string verifyHint = " (otaudit verify " + name + ")";
    LineInfo last = analyse(tail.back(), whole);
    if (!last.good) {
      *error = name + ": the last line is not a whole audit line" + verifyHint;
      return -1;
    }
    bool follows;
    if (tail.size() == 2) {
      LineInfo before = analyse(tail[0], true);
      follows = before.good && last.seq == before.seq + 1 && last.prev == before.hash;
    } else {
      follows = last.seq == 1 && last.prev == kZeros;
    }
    if (!follows) {
      *error = name + ": the last line does not follow the line before it" + verifyHint;
      return -1;
    }
    seq = last.seq;
    prev = last.hash;
  }
  std::lock_guard<std::mutex> hold(lock_);
  fd_ = fd.release();
  seq_ = seq;
  prev_ = prev;
  failing_ = false;
  return 0;
}

void otAuditLog::close() {
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ >= 0) ::close(fd_);  // the lock goes with the descriptor
  fd_ = -1;
  seq_ = 0;
  prev_.clear();
}

bool otAuditLog::isOpen() const {
  std::lock_guard<std::mutex> hold(lock_);
  return fd_ >= 0;
}

long long otAuditLog::lines() const {
  std::lock_guard<std::mutex> hold(lock_);
  return seq_;
}

int otAuditLog::append(const otAuditRecord& r) {
  // The texts are escaped before the lock is taken: only numbering, hashing and the write
  // are in order.
  const std::string body = lineBody(r);
  std::lock_guard<std::mutex> hold(lock_);
  if (fd_ < 0) return -1;
  const std::string line = std::to_string(seq_ + 1) + body + prev_ + "\n";
  ssize_t n;
  do {
    n = ::write(fd_, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  if (n == (ssize_t)line.size()) {
    seq_++;
    prev_ = otSha256Hex(line.data(), line.size());
    failing_ = false;
    return 0;
  }
  const int err = n < 0 ? errno : ENOSPC;
  if (n > 0) {
    // Part of the line is in the file: the next line would follow it and both would be
    // broken. We are the file's only writer (the lock), so its end is where the part ends.
    off_t end = lseek(fd_, 0, SEEK_END);
    if (end < n || ftruncate(fd_, end - n) != 0) {
      otLog(OT_LOG_ERROR,
            "audit trail: a line was written in part and cannot be cut off (%s); "
            "the log is closed\n",
            strerror(errno));
      ::close(fd_);
      fd_ = -1;
      return -1;
    }
  }
  if (!failing_)
    otLog(OT_LOG_ERROR, "audit trail: line %lld cannot be written: %s\n", seq_ + 1, strerror(err));
  failing_ = true;
  return -1;
}

long long otAuditVerify(const char* path, std::string* why, long long* lines) {
  std::string dummyWhy;
  long long dummyLines;
  if (why == nullptr) why = &dummyWhy;
  if (lines == nullptr) lines = &dummyLines;
  *lines = 0;
  if (path == nullptr) {
    *why = "no file named";
    return -1;
  }
  otFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    *why = strerror(errno);
    return -1;
  }
  std::unique_ptr<LineStream> stream(new LineStream(fd.get()));
  std::string text;
  auto next = [&](Held* h) {
    bool whole = false, tooLong = false;
    int rc = stream->next(&text, &whole, &tooLong);
    h->present = rc == 1;
    h->info = rc == 1 && !tooLong ? analyse(text, whole) : LineInfo();
    return rc >= 0;
  };
  auto readFailed = [&]() {
    *why = strerror(errno);
    return -1LL;
  };
  // a: the last line proven (line 0: seq 0 and the hash of zeros that line 1 names).
  LineInfo a;
  a.good = true;
  a.hash = kZeros;
  Held cur, ahead;
  if (!next(&cur) || !next(&ahead)) return readFailed();
  long long p = 0;
  auto bad = [&](long long line, const std::string& what) {
    *why = "line " + std::to_string(line) + what;
    *lines = line - 1;
    return line;
  };
  while (cur.present) {
    p++;
    const LineInfo& c = cur.info;
    if (c.good && c.seq == a.seq + 1 && c.prev == a.hash) {
      a = c;
      cur = std::move(ahead);
      if (!next(&ahead)) return readFailed();
      continue;
    }
    const LineInfo& n = ahead.info;
    // The line after this one follows the last good one: this one was put in between.
    if (ahead.present && n.good && n.seq == a.seq + 1 && n.prev == a.hash)
      return bad(p, " was inserted");
    // Two lines in one place (the same seq and prev): the one that the next line follows is
    // the real one.
    if (p >= 2 && c.good && c.seq == a.seq && c.prev == a.prev) {
      if (ahead.present && n.good && n.seq == c.seq + 1 && n.prev == c.hash)
        return bad(p - 1, " was inserted");
      return bad(p, " was inserted");
    }
    if (!c.good) return bad(p, " was changed");
    if (c.seq == a.seq + 1) {
      // The prev field does not name the line before. One digit off: this line's prev field
      // was edited; else the line before is not the one that was hashed.
      if (p == 1 || differences(c.prev, a.hash) == 1) return bad(p, " was changed");
      return bad(p - 1, " was changed");
    }
    if (c.prev == a.hash) return bad(p, " was changed");  // the seq field was edited
    if (c.seq > a.seq + 1) {
      long long gap = c.seq - a.seq - 1;
      return bad(
          p, ": " + std::to_string(gap) + (gap == 1 ? " line" : " lines") + " removed before it");
    }
    return bad(p, " was inserted");
  }
  *lines = p;
  return 0;
}
