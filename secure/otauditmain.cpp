// otaudit: proves a display server's audit trail, and shows its last lines.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "otaudit.h"
#include "otfd.h"

namespace {

const char kUsage[] =
    "usage: otaudit verify FILE      proves the chain of the audit trail FILE\n"
    "       otaudit show FILE [N]    its last N lines (20), as a table\n"
    "verify exits with 0 when the chain is intact, 1 naming the first bad line, 2 when FILE\n"
    "cannot be read. The last line of a file is proven by its own fields only.\n";

enum { kDone = 0, kBad = 1, kCannot = 2 };

const int kMaxShown = 100000;
const size_t kWidest = 40;  // characters of a column in the table

int cmdVerify(int argc, char** argv) {
  if (argc != 3) {
    fputs(kUsage, stderr);
    return kCannot;
  }
  std::string why;
  long long lines = 0;
  long long bad = otAuditVerify(argv[2], &why, &lines);
  if (bad < 0) {
    fprintf(stderr, "otaudit: %s: %s\n", argv[2], why.c_str());
    return kCannot;
  }
  if (bad == 0) {
    printf("%s: %lld %s, chain intact\n", argv[2], lines, lines == 1 ? "line" : "lines");
    return kDone;
  }
  printf("%s: %s\n", argv[2], why.c_str());
  return kBad;
}

// A field for the terminal: the file's escapes stay as they are; a raw control byte (which no
// audit line holds, but a damaged file may) is shown as '?'. Cut to kWidest characters.
std::string cell(const std::string& s) {
  std::string out;
  for (unsigned char c : s)
    out.push_back(c < 0x20 || c == 0x7f ? '?' : (char)c);
  if (out.size() > kWidest) out = out.substr(0, kWidest - 3) + "...";
  return out;
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> f;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return f;
    start = tab + 1;
  }
}

int cmdShow(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    fputs(kUsage, stderr);
    return kCannot;
  }
  long count = 20;
  if (argc == 4) {
    char* end = nullptr;
    errno = 0;
    count = strtol(argv[3], &end, 10);
    if (errno != 0 || end == argv[3] || *end != '\0' || count < 1 || count > kMaxShown) {
      fprintf(stderr, "otaudit: N must be 1 to %d\n", kMaxShown);
      return kCannot;
    }
  }
  otFd fd(open(argv[2], O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    fprintf(stderr, "otaudit: %s: %s\n", argv[2], strerror(errno));
    return kCannot;
  }
  std::vector<std::string> lines;
  bool whole = true;
  std::string why;
  if (otAuditTail(fd.get(), (int)count, &lines, &whole, &why) != 0) {
    fprintf(stderr, "otaudit: %s: %s\n", argv[2], why.c_str());
    return kCannot;
  }
  // seq time user address mask widget target old new result (prev left out: it is for the
  // verifier).
  static const char* const kHeads[] = {"seq",    "time",   "user", "address", "mask",
                                       "widget", "target", "old",  "new",     "result"};
  const size_t columns = sizeof kHeads / sizeof kHeads[0];
  std::vector<std::vector<std::string>> rows;
  rows.emplace_back(kHeads, kHeads + columns);
  std::vector<std::string> odd;  // lines that are not of the table's form, by row
  for (const std::string& l : lines) {
    std::vector<std::string> f = split(l);
    std::vector<std::string> row;
    if (f.size() == 11) {
      for (size_t i = 0; i < columns; i++)
        row.push_back(cell(f[i]));
    }
    rows.push_back(row);
    odd.push_back(f.size() == 11 ? "" : cell(l));
  }
  std::vector<size_t> width(columns, 0);
  for (const auto& row : rows)
    for (size_t i = 0; i < row.size(); i++)
      width[i] = row[i].size() > width[i] ? row[i].size() : width[i];
  for (size_t r = 0; r < rows.size(); r++) {
    if (rows[r].empty()) {
      printf("(not an audit line) %s\n", odd[r - 1].c_str());
      continue;
    }
    std::string out;
    for (size_t i = 0; i < columns; i++) {
      out += rows[r][i];
      if (i + 1 < columns) out += std::string(width[i] - rows[r][i].size() + 2, ' ');
    }
    printf("%s\n", out.c_str());
  }
  if (!whole) printf("(the last line has no line feed: it is not whole)\n");
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)) {
    fputs(kUsage, stdout);
    return kDone;
  }
  if (argc >= 2 && strcmp(argv[1], "verify") == 0) return cmdVerify(argc, argv);
  if (argc >= 2 && strcmp(argv[1], "show") == 0) return cmdShow(argc, argv);
  fputs(kUsage, stderr);
  return kCannot;
}
