#include "otspreadsheet.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

namespace {
struct FileCloser {
  void operator()(FILE* fp) const { fclose(fp); }
};
// The buffer that getline grows.
struct LineBuffer {
  char* text = nullptr;
  size_t capacity = 0;
  LineBuffer() = default;
  LineBuffer(const LineBuffer&) = delete;
  LineBuffer& operator=(const LineBuffer&) = delete;
  ~LineBuffer() { free(text); }
};
}  // namespace

// ---------------------------------------------------------------- otSpreadsheetCell

otSpreadsheetCell::otSpreadsheetCell(const char* text) : txt(nullptr), nextCell(nullptr) {
  setText(text);
}

otSpreadsheetCell::~otSpreadsheetCell() {
  delete[] txt;
}

const char* otSpreadsheetCell::text() const {
  return txt ? txt : "";
}

int otSpreadsheetCell::setText(const char* text) {
  // Copy before freeing: text may point into this cell's own buffer.
  char* copy = nullptr;
  if (text && *text) {
    size_t length = strlen(text);
    copy = new char[length + 1];
    memcpy(copy, text, length + 1);
  }
  delete[] txt;
  txt = copy;
  return 0;
}

int otSpreadsheetCell::printf(const char* format, ...) {
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 0) return t.result;
  setText(t.text);
  return t.result;
}

void otSpreadsheetCell::clear() {
  delete[] txt;
  txt = nullptr;
}

// ---------------------------------------------------------------- otSpreadsheetRow

otSpreadsheetRow::otSpreadsheetRow() : firstCell(nullptr), nextRow(nullptr) {}

otSpreadsheetRow::~otSpreadsheetRow() {
  clear();
}

void otSpreadsheetRow::clear() {
  // Iteratively: a line of 65535 delimiters is a chain of 65536 cells.
  while (firstCell) {
    otSpreadsheetCell* next = firstCell->getNextCell();
    delete firstCell;
    firstCell = next;
  }
}

otSpreadsheetCell* otSpreadsheetRow::cell(int column) const {
  if (column <= 0) return nullptr;
  otSpreadsheetCell* c = firstCell;
  for (int i = 1; c && i < column; i++)
    c = c->getNextCell();
  return c;
}

const char* otSpreadsheetRow::text(int column) const {
  otSpreadsheetCell* c = cell(column);
  return c ? c->text() : "";
}

int otSpreadsheetRow::exists(int column) const {
  return cell(column) ? 1 : 0;
}

int otSpreadsheetRow::setText(int column, const char* text) {
  if (column <= 0) return -1;
  if (!firstCell) firstCell = new otSpreadsheetCell(nullptr);
  otSpreadsheetCell* c = firstCell;
  for (int i = 1; i < column; i++) {
    if (!c->getNextCell()) c->setNextCell(new otSpreadsheetCell(nullptr));
    c = c->getNextCell();
  }
  return c->setText(text);
}

int otSpreadsheetRow::printf(int column, const char* format, ...) {
  if (column <= 0) return -1;
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 0) return t.result;
  setText(column, t.text);
  return t.result;
}

int otSpreadsheetRow::readRow(const char* line, char delimitor) {
  clear();
  if (!line) return 0;
  int count = 0;
  otSpreadsheetCell* last = nullptr;
  const char* start = line;
  for (const char* p = line; *p; p++) {
    if (*p != delimitor && *p != '\n' && *p != '\r') continue;
    otSpreadsheetCell* c = new otSpreadsheetCell(std::string(start, p - start).c_str());
    if (last)
      last->setNextCell(c);
    else
      firstCell = c;
    last = c;
    count++;
    start = p + 1;
  }
  return count;
}

int otSpreadsheetRow::writeRow(FILE* fp, char delimitor) const {
  if (!fp) return -1;
  for (otSpreadsheetCell* c = firstCell; c; c = c->getNextCell()) {
    if (c != firstCell && fputc(static_cast<unsigned char>(delimitor), fp) == EOF) return -1;
    if (fputs(c->text(), fp) == EOF) return -1;
  }
  return fputc('\n', fp) == EOF ? -1 : 0;
}

// ---------------------------------------------------------------- otSpreadsheetTable

otSpreadsheetTable::otSpreadsheetTable(char d)
    : delimitor(d), firstRow(nullptr), nextTable(nullptr) {}

otSpreadsheetTable::~otSpreadsheetTable() {
  clear();
}

void otSpreadsheetTable::clear() {
  while (firstRow) {
    otSpreadsheetRow* next = firstRow->getNextRow();
    delete firstRow;
    firstRow = next;
  }
}

void otSpreadsheetTable::setDelimitor(char d) {
  delimitor = d;
}

otSpreadsheetRow* otSpreadsheetTable::getRow(int row) const {
  if (row <= 0) return nullptr;
  otSpreadsheetRow* r = firstRow;
  for (int i = 1; r && i < row; i++)
    r = r->getNextRow();
  return r;
}

const char* otSpreadsheetTable::text(int column, int row) const {
  otSpreadsheetRow* r = getRow(row);
  return r ? r->text(column) : "";
}

int otSpreadsheetTable::exists(int column, int row) const {
  otSpreadsheetRow* r = getRow(row);
  return r ? r->exists(column) : 0;
}

int otSpreadsheetTable::setText(int column, int row, const char* text) {
  if (column <= 0 || row <= 0) return -1;
  if (!firstRow) firstRow = new otSpreadsheetRow();
  otSpreadsheetRow* r = firstRow;
  for (int i = 1; i < row; i++) {
    if (!r->getNextRow()) r->setNextRow(new otSpreadsheetRow());
    r = r->getNextRow();
  }
  return r->setText(column, text);
}

int otSpreadsheetTable::printf(int column, int row, const char* format, ...) {
  if (column <= 0 || row <= 0) return -1;
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 0) return t.result;
  setText(column, row, t.text);
  return t.result;
}

int otSpreadsheetTable::read(const char* path) {
  if (!path) return -1;
  clear();
  std::unique_ptr<FILE, FileCloser> fp(fopen(path, "r"));
  if (!fp) return -1;
  // getline instead of a fixed line buffer: a line beyond the format's 65535 characters is
  // kept whole instead of being split into two rows, which would shift every following row.
  LineBuffer line;
  int count = 0;
  otSpreadsheetRow* last = nullptr;
  while (getline(&line.text, &line.capacity, fp.get()) >= 0) {
    otSpreadsheetRow* r = new otSpreadsheetRow();
    r->readRow(line.text, delimitor);
    if (last)
      last->setNextRow(r);
    else
      firstRow = r;
    last = r;
    count++;
  }
  // A read error (a directory opens, but cannot be read) must not pass for a short table.
  if (ferror(fp.get())) {
    clear();
    return -1;
  }
  return count;
}

int otSpreadsheetTable::write(const char* path) const {
  if (!path) return -1;
  FILE* fp = fopen(path, "w");
  if (!fp) return -1;
  int ret = 0;
  for (otSpreadsheetRow* r = firstRow; r && ret == 0; r = r->getNextRow())
    ret = r->writeRow(fp, delimitor);
  // Buffered data reaches the file only here; a full disk shows up in fclose.
  if (fclose(fp) != 0) ret = -1;
  return ret;
}

// ---------------------------------------------------------------- otSpreadsheetWorkbook

otSpreadsheetWorkbook::otSpreadsheetWorkbook(char d) : delimitor(d), firstTable(nullptr) {}

otSpreadsheetWorkbook::~otSpreadsheetWorkbook() {
  clear();
}

void otSpreadsheetWorkbook::clear() {
  while (firstTable) {
    otSpreadsheetTable* next = firstTable->getNextTable();
    delete firstTable;
    firstTable = next;
  }
}

void otSpreadsheetWorkbook::setDelimitor(char d) {
  delimitor = d;
  for (otSpreadsheetTable* t = firstTable; t; t = t->getNextTable())
    t->setDelimitor(d);
}

otSpreadsheetTable* otSpreadsheetWorkbook::getTable(int table) const {
  if (table <= 0) return nullptr;
  otSpreadsheetTable* t = firstTable;
  for (int i = 1; t && i < table; i++)
    t = t->getNextTable();
  return t;
}

const char* otSpreadsheetWorkbook::text(int column, int row, int table) const {
  otSpreadsheetTable* t = getTable(table);
  return t ? t->text(column, row) : "";
}

int otSpreadsheetWorkbook::exists(int column, int row, int table) const {
  otSpreadsheetTable* t = getTable(table);
  return t ? t->exists(column, row) : 0;
}

int otSpreadsheetWorkbook::setText(int column, int row, int table, const char* text) {
  if (column <= 0 || row <= 0 || table <= 0) return -1;
  if (!firstTable) firstTable = new otSpreadsheetTable(delimitor);
  otSpreadsheetTable* t = firstTable;
  for (int i = 1; i < table; i++) {
    if (!t->getNextTable()) t->setNextTable(new otSpreadsheetTable(delimitor));
    t = t->getNextTable();
  }
  return t->setText(column, row, text);
}

int otSpreadsheetWorkbook::printf(int column, int row, int table, const char* format, ...) {
  if (column <= 0 || row <= 0 || table <= 0) return -1;
  otFormattedText t;
  va_list ap;
  va_start(ap, format);
  otFormatText(&t, format, ap);
  va_end(ap);
  if (t.result < 0) return t.result;
  setText(column, row, table, t.text);
  return t.result;
}

namespace {
std::string tableFileName(const char* name, int number) {
  return std::string(name) + std::to_string(number) + ".txt";
}
}  // namespace

int otSpreadsheetWorkbook::read(const char* name) {
  if (!name) return -1;
  clear();
  otSpreadsheetTable* last = nullptr;
  for (int i = 1;; i++) {
    std::unique_ptr<otSpreadsheetTable> owned(new otSpreadsheetTable(delimitor));
    if (owned->read(tableFileName(name, i).c_str()) < 0) break;
    otSpreadsheetTable* t = owned.release();
    if (last)
      last->setNextTable(t);
    else
      firstTable = t;
    last = t;
  }
  return 0;
}

int otSpreadsheetWorkbook::write(const char* name) const {
  if (!name) return -1;
  int i = 1;
  for (otSpreadsheetTable* t = firstTable; t; t = t->getNextTable(), i++)
    if (t->write(tableFileName(name, i).c_str()) != 0) return -1;
  return 0;
}
