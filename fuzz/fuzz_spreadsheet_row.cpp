// Splits arbitrary bytes into cells the way a table line is read, writes the row back and
// looks cells up; then reads the same bytes as a whole table file. The first byte chooses the
// delimiter.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "otspreadsheet.h"

namespace {

char tablePath[] = "/tmp/fuzz_spreadsheet_row-XXXXXX";
bool haveTableFile = false;

void removeTableFile() {
  unlink(tablePath);
}

// One temporary file per process, removed at exit.
bool prepareTableFile() {
  if (haveTableFile) return true;
  int fd = mkstemp(tablePath);
  if (fd < 0) return false;
  close(fd);
  atexit(removeTableFile);
  haveTableFile = true;
  return true;
}

FILE* devNull() {
  static FILE* fp = fopen("/dev/null", "w");
  return fp;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const char delimitor = static_cast<char>(data[0]);
  std::string line(reinterpret_cast<const char*>(data + 1), size - 1);  // adds the NUL

  otSpreadsheetRow row;
  int count = row.readRow(line.c_str(), delimitor);
  int seen = 0;
  size_t total = 0;
  for (otSpreadsheetCell* c = row.getFirstCell(); c; c = c->getNextCell()) {
    total += strlen(c->text());
    seen++;
  }
  // Every cell holds the text between two separators, which the cell texts never contain.
  if (seen != count || total + count > line.size()) abort();
  for (int column : {-1, 0, 1, 2, count, count + 1}) {
    if (row.exists(column) != (column >= 1 && column <= count)) abort();
    row.text(column);
  }
  if (FILE* out = devNull()) row.writeRow(out, delimitor);
  row.setText(count + 2, "x");
  if (strcmp(row.text(count + 2), "x") != 0 || row.exists(count + 1) != 1) abort();

  if (prepareTableFile()) {
    FILE* fp = fopen(tablePath, "wb");
    if (fp) {
      fwrite(data + 1, 1, size - 1, fp);
      fclose(fp);
      otSpreadsheetTable table(delimitor);
      int rows = table.read(tablePath);
      if (rows < 0) abort();
      table.text(1, rows);
      table.exists(2, rows + 1);
      table.write("/dev/null");
    }
  }
  return 0;
}
