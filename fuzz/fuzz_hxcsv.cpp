// The display server's CSV reader (hxCSV, the table dumps) on arbitrary text: the bounds hold,
// what it reads, written again as the client writes a dump, reads back the same, and the dump
// answer and the SQL writer take whatever it gives.
#include <cstdint>
#include <cstring>
#include <string>

#include "hxwidgetcalls_p.h"

namespace {

// A dump as the client writes it: a field holding the delimiter, a quote or a line break is
// quoted with its quotes doubled.
std::string write(const hxCsvRows& rows, char d) {
  std::string out;
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); i++) {
      if (i > 0) out += d;
      const std::string& f = row[i];
      if (f.find_first_of(std::string(1, d) + "\"\r\n") == std::string::npos) {
        out += f;
        continue;
      }
      out += '"';
      for (char c : f)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
      out += '"';
    }
    out += '\n';
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 65536) return 0;
  const int delimiters[] = {',', ';', '\t', ' ', '"', '\n', 'a'};
  int d = delimiters[data[0] % (sizeof delimiters / sizeof delimiters[0])];
  const char* text = reinterpret_cast<const char*>(data + 1);
  size_t len = size - 1;

  hxCsvRows rows;
  int n = hxParseCsv(text, len, d, 50, 20, 400, &rows);
  if ((n >= 0 && n != (int)rows.size()) || n > 50) __builtin_trap();
  if (n < 0 && !rows.empty()) __builtin_trap();
  if (n >= 0 && !hxCsvDelimiter(d)) __builtin_trap();
  size_t cells = 0;
  for (const auto& row : rows) {
    if (row.empty() || row.size() > 20) __builtin_trap();
    cells += row.size();
  }
  if (cells > 400) __builtin_trap();

  if (n > 0) {
    std::string again = write(rows, (char)d);
    hxCsvRows back;
    if (hxParseCsv(again.data(), again.size(), d, 50, 20, 400, &back) != n || back != rows)
      __builtin_trap();
    std::string sql;
    if (!hxSqlInserts(rows, "t", &sql)) __builtin_trap();
  }

  hxCsvRows dumped;
  size_t start = 0;
  if (hxTableDump(text, len, d, &dumped, &start) && start > len) __builtin_trap();
  return 0;
}
