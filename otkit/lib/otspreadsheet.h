// Delimited text tables in memory: a workbook is a list of tables, a table a list of rows, a
// row a list of cells. All indexes start at 1 (column, row, table in this order of
// arguments); reading an index that does not exist yields "", setting one appends empty
// cells, rows or tables up to it, and an index <= 0 in a set operation does nothing.
//
// File format of a table: one row per line, cells separated by a one-character delimiter,
// every line ended by a line feed. The format limits lines to 65535 characters; longer lines
// are read whole rather than split, so a table this class wrote always reads back with the
// same rows. A workbook is stored as name1.txt, name2.txt, ... one table per file.
//
// Cells do not escape the delimiter or line breaks: a cell text containing them reads back
// as several cells or rows.
#ifndef OTSPREADSHEET_H
#define OTSPREADSHEET_H

#include <stdio.h>

#include "otcutil.h"

class otSpreadsheetCell {
 public:
  // A null text makes an empty cell.
  explicit otSpreadsheetCell(const char* text = nullptr);
  virtual ~otSpreadsheetCell();
  otSpreadsheetCell(const otSpreadsheetCell&) = delete;
  otSpreadsheetCell& operator=(const otSpreadsheetCell&) = delete;

  // "" for an empty cell, never null.
  const char* text() const;
  // A null or empty text empties the cell. Returns 0.
  int setText(const char* text);
  // Formats at most 4095 characters and stores them; returns the formatter's result (a
  // negative result leaves the text unchanged).
  int printf(const char* format, ...) OT_PRINTF_FORMAT(2, 3);
  void clear();
  int exists() const { return 1; }
  // The link only; the row that holds the first cell owns and frees the whole chain.
  void setNextCell(otSpreadsheetCell* next) { nextCell = next; }
  otSpreadsheetCell* getNextCell() const { return nextCell; }

 private:
  char* txt;
  otSpreadsheetCell* nextCell;
};

class otSpreadsheetRow {
 public:
  otSpreadsheetRow();
  virtual ~otSpreadsheetRow();
  otSpreadsheetRow(const otSpreadsheetRow&) = delete;
  otSpreadsheetRow& operator=(const otSpreadsheetRow&) = delete;

  // "" when the cell does not exist.
  const char* text(int column) const;
  // Appends empty cells up to column. Returns 0, or -1 for column <= 0.
  int setText(int column, const char* text);
  // As otSpreadsheetCell::printf; -1 for column <= 0.
  int printf(int column, const char* format, ...) OT_PRINTF_FORMAT(3, 4);
  void clear();
  // 1 if the cell exists, else 0.
  int exists(int column) const;
  // Replaces the cells by those of line: every delimiter, line feed or carriage return ends a
  // cell holding the characters since the previous one. Text after the last of them is not
  // stored, so a line needs its line feed for the last cell to count, and "\r\n" yields one
  // more, empty cell. A null line only clears. Returns the number of cells.
  int readRow(const char* line, char delimitor);
  // The cell texts joined by delimitor, then a line feed. Returns 0, or -1 for a null file
  // or a write error.
  int writeRow(FILE* fp, char delimitor) const;
  otSpreadsheetCell* getFirstCell() const { return firstCell; }
  // The link only; the table that holds the first row owns and frees the whole chain.
  void setNextRow(otSpreadsheetRow* next) { nextRow = next; }
  otSpreadsheetRow* getNextRow() const { return nextRow; }

 private:
  otSpreadsheetCell* cell(int column) const;
  otSpreadsheetCell* firstCell;
  otSpreadsheetRow* nextRow;
};

class otSpreadsheetTable {
 public:
  explicit otSpreadsheetTable(char delimitor);
  virtual ~otSpreadsheetTable();
  otSpreadsheetTable(const otSpreadsheetTable&) = delete;
  otSpreadsheetTable& operator=(const otSpreadsheetTable&) = delete;

  const char* text(int column, int row) const;
  // Appends empty rows up to row. Returns 0, or -1 for an index <= 0.
  int setText(int column, int row, const char* text);
  int printf(int column, int row, const char* format, ...) OT_PRINTF_FORMAT(4, 5);
  void clear();
  int exists(int column, int row) const;
  // Replaces all rows by the lines of the file. Returns the number of rows, or -1 for a null
  // path or a file that cannot be opened or read (the table is then empty).
  int read(const char* path);
  // Writes every row. Returns 0, or -1 for a null path, a file that cannot be created or a
  // write that fails.
  int write(const char* path) const;
  void setDelimitor(char delimitor);
  otSpreadsheetRow* getFirstRow() const { return firstRow; }
  // The link only; the workbook that holds the first table owns and frees the whole chain.
  void setNextTable(otSpreadsheetTable* next) { nextTable = next; }
  otSpreadsheetTable* getNextTable() const { return nextTable; }

 private:
  otSpreadsheetRow* getRow(int row) const;
  char delimitor;
  otSpreadsheetRow* firstRow;
  otSpreadsheetTable* nextTable;
};

class otSpreadsheetWorkbook {
 public:
  explicit otSpreadsheetWorkbook(char delimitor);
  virtual ~otSpreadsheetWorkbook();
  otSpreadsheetWorkbook(const otSpreadsheetWorkbook&) = delete;
  otSpreadsheetWorkbook& operator=(const otSpreadsheetWorkbook&) = delete;

  const char* text(int column, int row, int table) const;
  // Appends empty tables (with the workbook's delimiter) up to table. Returns 0, or -1 for an
  // index <= 0.
  int setText(int column, int row, int table, const char* text);
  int printf(int column, int row, int table, const char* format, ...) OT_PRINTF_FORMAT(5, 6);
  void clear();
  int exists(int column, int row, int table) const;
  // Replaces all tables by the files name1.txt, name2.txt, ... up to the first that cannot be
  // opened. Returns 0, or -1 for a null name.
  int read(const char* name);
  // Writes table i to name<i>.txt from 1 on, stopping at the first write that fails.
  // Returns 0 when every table was written, -1 for a null name or a failed write.
  int write(const char* name) const;
  // Also sets the delimiter of every table.
  void setDelimitor(char delimitor);
  otSpreadsheetTable* getFirstTable() const { return firstTable; }

 private:
  otSpreadsheetTable* getTable(int table) const;
  char delimitor;
  otSpreadsheetTable* firstTable;
};

#endif
