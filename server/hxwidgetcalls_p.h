// Internal: the CSV reader and writers behind hxCSV, hxCSVdump and hxMysqldump. Pure functions
// over a buffer, so that they can be fuzzed without a connection.
#ifndef HXWIDGETCALLS_P_H
#define HXWIDGETCALLS_P_H

#include <stddef.h>

#include <string>
#include <vector>

typedef std::vector<std::vector<std::string>> hxCsvRows;

// Whether delimiter may separate CSV fields: a printable ASCII character other than '"', or '\t'.
bool hxCsvDelimiter(int delimiter);

// Reads CSV text of len bytes into rows: fields separated by delimiter, records ended by a line
// feed (a carriage return before it is dropped; the last record needs none). A field that begins
// with '"' runs to the next lone '"' ("" stands for one quote) and may hold delimiters and line
// breaks; it must be followed by a delimiter or the end of its record. The count of rows, or -1
// (rows cleared) for a bad delimiter, a quote that is not closed or is followed by other text,
// more than maxRows records, a record of more than maxColumns fields, or more than maxCells
// fields in all.
int hxParseCsv(const char* data, size_t len, int delimiter, int maxRows, int maxColumns,
               long maxCells, hxCsvRows* rows);

// The most cells a client's table holds, and so the most fields a dump or hxCSV takes.
enum { HX_MAX_TABLE_CELLS = 1000000 };

// The SQL of rows: one "INSERT INTO `table` VALUES ('a','b');\n" per row, every value quoted
// with MySQL's escapes (quote, backslash, NUL, line feed, carriage return, Ctrl-Z). false for a
// table name that is not 1..64 letters, digits and '_'.
bool hxSqlInserts(const hxCsvRows& rows, const char* table, std::string* out);

// The dump answer of a client: the first line "tableDump(rows,columns)", then the cells as CSV.
// The cells, when the header is there and the CSV holds exactly that many rows (of at most that
// many fields); false otherwise.
bool hxTableDump(const char* data, size_t len, int delimiter, hxCsvRows* rows, size_t* csvStart);

#endif
