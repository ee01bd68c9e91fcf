// otAuditLog: the audit trail of a display server's writes. One line a write request, appended
// and never rewritten; each line carries its sequence number and the SHA-256 of the line
// before it, so that a line changed, removed or inserted afterwards shows.
//
// A line (fields separated by tabs; texts have tab, line feed, carriage return and backslash
// written as \t \n \r \\, other control bytes as \xHH):
//
//   seq  time  user  address  mask  widget  target  old  new  result  prev
//
//   seq      1, 2, ... (the first line of a file is 1)
//   time     UTC with milliseconds, "2026-12-09T19:30:01.123Z"
//   user     the connection's user ("-" when no login was required)
//   address  the client's address and port ("127.0.0.1:40022")
//   mask     the mask that made the request ("-" when none was named)
//   widget   the widget id of the event that made it ("-" when none)
//   target   the tag's name, or the device client's write address ("modbus 1,40 register")
//   old      the value before ("-" when it could not be read)
//   new      the value written
//   result   "accepted" or "refused: <why>"
//   prev     64 hex digits (lower case): the SHA-256 of the line before, its line feed
//            included; 64 zeros on the first line
//
// What the chain cannot prove: the last line is proven by its own fields only (its seq, its
// prev, its form), since no line after it carries its hash. A change of a text of the last
// line, lines removed from the end, or a made-up line appended with a correct prev do not show
// in the file alone; keep a copy of the last line's hash elsewhere (lines() and the chain of
// the running log) to prove the end. A line longer than 64 KiB, a NUL byte or a line without
// its line feed is not an audit line.
#ifndef OTAUDIT_H
#define OTAUDIT_H

#include <mutex>
#include <string>
#include <vector>

struct otAuditRecord {
  long long timeMs = 0;  // otWallMs(); 0: now
  std::string user, address, mask, widget, target, oldValue, newValue;
  bool accepted = false;
  std::string why;  // for a refusal
};

class otAuditLog {
 public:
  otAuditLog() = default;
  ~otAuditLog();
  otAuditLog(const otAuditLog&) = delete;
  otAuditLog& operator=(const otAuditLog&) = delete;

  // Opens path for appending (made with mode 0600 when missing). The chain goes on from the
  // file's last line; a file whose last line is not a whole audit line, or does not follow the
  // line before it, is refused (it must be verified and repaired by hand, not extended). Only
  // the end of the file is read. The file is locked (flock) while the log is open: a second
  // writer, of this process or another, would fork the chain and is refused. 0, or -1 with
  // *error. A log that is open already is closed first.
  int open(const char* path, std::string* error);
  void close();
  bool isOpen() const;
  // Appends one line and flushes it to the file (write(2) of the whole line). Any thread.
  // 0, or -1 when the log is not open or the write failed (said once on the log until a write
  // succeeds again). A line written in part (disk full) is cut off again, so that the file
  // stays a chain; when even that fails the log closes itself.
  int append(const otAuditRecord& r);
  long long lines() const;  // lines in the file (after open) plus those appended

 private:
  mutable std::mutex lock_;
  int fd_ = -1;
  long long seq_ = 0;
  std::string prev_;      // hex SHA-256 of the last line
  bool failing_ = false;  // a failed write was said on the log
};

// Proves a log. 0 when every line is whole and chained (*lines: their count); else the number
// of the first line that was changed, inserted, or that follows removed lines (1-based), with
// *why saying which ("line 7 was changed", "line 12: 3 lines removed before it", "line 9 was
// inserted"); -1 when the file cannot be read (*why). The file is read once, front to back,
// with one line read ahead; *lines is set in every case (on a bad line: the lines before it).
long long otAuditVerify(const char* path, std::string* why, long long* lines);

// The last n (>= 1) lines of the file open at fd, oldest first, without their line feeds;
// fewer when the file has fewer. Reads only the end of the file. *whole tells whether the file
// ends in a line feed (when not, the last element is the unfinished rest). 0, or -1 with *error
// (a read error, a line longer than 64 KiB).
int otAuditTail(int fd, int n, std::vector<std::string>* lines, bool* whole, std::string* error);

// One record as a line (with its line feed), and the SHA-256 of a text as 64 hex digits.
std::string otAuditLine(long long seq, const otAuditRecord& r, const std::string& prevHex);
std::string otSha256Hex(const void* data, size_t len);

#endif
