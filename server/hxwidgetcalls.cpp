// The setters of the widget kinds: one line each through hxSendCommand, every argument checked
// before anything is sent. The table dumps wait for the client's answer; hxCSV reads a file of
// the server and fills a table with it.
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "hxserver.h"
#include "hxwidgetcalls_p.h"
#include "otcutil.h"

namespace {

bool validId(const PARAM_* p, int id) {
  return p != nullptr && id >= 0 && (p->idCount <= 0 || id < p->idCount);
}

bool inRange(int v, int lo, int hi) {
  return v >= lo && v <= hi;
}

// A line "name(id,...)" on one widget; sig gives the arguments after the id.
template <typename... Args>
int onWidget(PARAM_* p, const char* name, const char* sig, int id, Args... args) {
  if (!validId(p, id)) return -1;
  std::string full = std::string("i") + sig;
  return hxSendCommand(p, name, full.c_str(), id, args...);
}

// A file of the client's downloads folder, named as the client accepts it.
bool plainName(const char* name) {
  return name != nullptr && name[0] != '\0' && name[0] != '.' && otIsLocalFileName(name);
}

// A picture file, or "" for none.
bool pictureName(const char* name) {
  return name != nullptr && (name[0] == '\0' || plainName(name));
}

bool validAlignment(int a) {
  int h = a & 0x000f, v = a & 0x00f0;
  if ((a & ~0x00ff) != 0) return false;
  return (h == 0 || h == 0x1 || h == 0x2 || h == 0x4 || h == 0x8) &&
         (v == 0 || v == 0x20 || v == 0x40 || v == 0x80);
}

bool validCell(int x, int y) {
  return inRange(x, 0, HX_MAX_TABLE_COLS - 1) && inRange(y, 0, HX_MAX_TABLE_ROWS - 1);
}

// A list view path: "/a/b", components not empty, at most HX_MAX_LISTVIEW_DEPTH of them.
bool validPath(const char* path) {
  if (path == nullptr || path[0] != '/') return false;
  int depth = 0;
  for (const char* c = path; *c == '/'; depth++) {
    const char* next = strchr(c + 1, '/');
    size_t n = next ? (size_t)(next - c - 1) : strlen(c + 1);
    if (n == 0 || depth >= HX_MAX_LISTVIEW_DEPTH) return false;
    c += n + 1;
  }
  return true;
}

bool validDate(int year, int month, int day) {
  static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (!inRange(year, 100, 9999) || !inRange(month, 1, 12) || !inRange(day, 1, days[month - 1]))
    return false;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month != 2 || day <= 28 || leap;
}

bool validTime(int hour, int minute, int second, int msec) {
  return inRange(hour, 0, 23) && inRange(minute, 0, 59) && inRange(second, 0, 59) &&
         inRange(msec, 0, 999);
}

// Formats into one line's room; false when it does not fit.
bool format(char* text, size_t size, const char* fmt, va_list ap) {
  if (fmt == nullptr) return false;
  int n = vsnprintf(text, size, fmt, ap);
  return n >= 0 && (size_t)n < size;
}

// A drawing-stream line: the widget's text has no escape, so a text with a double quote or a
// control character is refused.
bool streamText(const char* t) {
  for (const unsigned char* c = (const unsigned char*)t; *c; c++)
    if (*c < 0x20 || *c == '"') return false;
  return true;
}

// Reads a whole file of at most max bytes. false when it cannot be read or is larger.
bool readFile(const char* path, long max, std::string* out) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= max;
  out->clear();
  char part[65536];
  while (ok) {
    ssize_t got = read(fd, part, sizeof part);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    if (out->size() + (size_t)got > (size_t)max)
      ok = false;
    else
      out->append(part, (size_t)got);
  }
  close(fd);
  return ok;
}

bool writeFile(const char* path, const std::string& data) {
  if (path == nullptr || path[0] == '\0' || data.size() > 0x7fffffff) return false;
  return otWriteFile(path, data.data(), (int)data.size()) == (int)data.size();
}

// Asks the client for the cells of table id and waits for them: the rows and the CSV text.
int fetchDump(PARAM_* p, int id, int delimiter, hxCsvRows* rows, std::string* csv) {
  if (!validId(p, id) || !hxCsvDelimiter(delimiter)) return -1;
  if (onWidget(p, "tableDump", "i", id, delimiter) < 0) return -1;
  char pattern[40];
  snprintf(pattern, sizeof pattern, "@clipboard(%d,", id);
  if (hxWait(p, pattern) < 0) return -1;
  std::string block;
  {
    std::lock_guard<std::mutex> hold(p->readLock);
    if (p->clipboard != nullptr) block.assign(p->clipboard, (size_t)p->clipboardLength);
  }
  size_t start = 0;
  if (!hxTableDump(block.data(), block.size(), delimiter, rows, &start)) return -1;
  csv->assign(block, start, std::string::npos);
  return 0;
}

}  // namespace

// ---- CSV and SQL ----------------------------------------------------------------------------

bool hxCsvDelimiter(int d) {
  return d == '\t' || (d >= 0x20 && d < 0x7f && d != '"');
}

int hxParseCsv(const char* data, size_t len, int delimiter, int maxRows, int maxColumns,
               long maxCells, hxCsvRows* rows) {
  if (rows == nullptr) return -1;
  rows->clear();
  if (!hxCsvDelimiter(delimiter) || (data == nullptr && len > 0)) return -1;
  const char d = (char)delimiter;
  long cells = 0;
  auto fail = [rows] {
    rows->clear();
    return -1;
  };
  size_t i = 0;
  while (i < len) {
    std::vector<std::string> record;
    for (;;) {
      std::string field;
      if (data[i] == '"') {
        for (i++;; i++) {
          if (i >= len) return fail();
          if (data[i] != '"') {
            field += data[i];
          } else if (i + 1 < len && data[i + 1] == '"') {
            field += '"';
            i++;
          } else {
            break;
          }
        }
        i++;
        if (i < len && data[i] == '\r' && (i + 1 == len || data[i + 1] == '\n')) i++;
        if (i < len && data[i] != d && data[i] != '\n') return fail();
      } else {
        size_t start = i;
        while (i < len && data[i] != d && data[i] != '\n')
          i++;
        size_t end = i;
        if (end > start && data[end - 1] == '\r' && (i == len || data[i] == '\n')) end--;
        field.assign(data + start, end - start);
      }
      if ((int)record.size() >= maxColumns || ++cells > maxCells) return fail();
      record.push_back(std::move(field));
      if (i >= len) break;
      if (data[i++] == '\n') break;
      // After a delimiter at the very end, the record's last field is empty.
      if (i >= len) {
        if ((int)record.size() >= maxColumns || ++cells > maxCells) return fail();
        record.emplace_back();
        break;
      }
    }
    if ((int)rows->size() >= maxRows) return fail();
    rows->push_back(std::move(record));
  }
  return (int)rows->size();
}

bool hxSqlInserts(const hxCsvRows& rows, const char* table, std::string* out) {
  if (table == nullptr || out == nullptr) return false;
  size_t n = strlen(table);
  if (n == 0 || n > 64 ||
      strspn(table,
             "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
             "0123456789_") != n)
    return false;
  out->clear();
  for (const auto& row : rows) {
    *out += "INSERT INTO `";
    *out += table;
    *out += "` VALUES (";
    for (size_t c = 0; c < row.size(); c++) {
      if (c > 0) *out += ',';
      *out += '\'';
      for (char ch : row[c]) {
        switch (ch) {
          case '\'':
            *out += "\\'";
            break;
          case '\\':
            *out += "\\\\";
            break;
          case '\0':
            *out += "\\0";
            break;
          case '\n':
            *out += "\\n";
            break;
          case '\r':
            *out += "\\r";
            break;
          case '\x1a':
            *out += "\\Z";
            break;
          default:
            *out += ch;
        }
      }
      *out += '\'';
    }
    *out += ");\n";
  }
  return true;
}

bool hxTableDump(const char* data, size_t len, int delimiter, hxCsvRows* rows, size_t* csvStart) {
  if (data == nullptr || rows == nullptr || csvStart == nullptr) return false;
  rows->clear();
  const char* lf = static_cast<const char*>(memchr(data, '\n', len));
  if (lf == nullptr) return false;
  int nrows = -1, ncols = -1, used = 0;
  std::string header(data, (size_t)(lf - data));
  if (sscanf(header.c_str(), "tableDump(%d,%d)%n", &nrows, &ncols, &used) != 2 ||
      used != (int)header.size() || !inRange(nrows, 0, HX_MAX_TABLE_ROWS) ||
      !inRange(ncols, 0, HX_MAX_TABLE_COLS))
    return false;
  *csvStart = (size_t)(lf - data) + 1;
  int got = hxParseCsv(data + *csvStart, len - *csvStart, delimiter, nrows, ncols,
                       HX_MAX_TABLE_CELLS, rows);
  if (got != nrows) {
    rows->clear();
    return false;
  }
  return true;
}

// ---- Every widget ---------------------------------------------------------------------------

int hxToolTip(PARAM_* p, int id, const char* text) {
  return hxSetToolTip(p, id, text);
}
int hxSetPaletteBackgroundColor(PARAM_* p, int id, int r, int g, int b) {
  return hxSetBackgroundColor(p, id, r, g, b);
}
int hxSetPaletteForegroundColor(PARAM_* p, int id, int r, int g, int b) {
  return hxSetForegroundColor(p, id, r, g, b);
}
int hxSetFontColor(PARAM_* p, int id, int r, int g, int b) {
  return hxSetForegroundColor(p, id, r, g, b);
}

int hxSetFont(PARAM_* p, int id, const char* family, int pointsize, int bold, int italic,
              int underline, int strikeout) {
  if (!inRange(pointsize, 1, 1000)) return -1;
  return onWidget(p, "setFontDecorated", "siiiii", id, family, pointsize, bold ? 1 : 0,
                  italic ? 1 : 0, underline ? 1 : 0, strikeout ? 1 : 0);
}

int hxCopyToClipboard(PARAM_* p, int id) {
  return onWidget(p, "copyToClipboard", "", id);
}

int hxSaveAsBmp(PARAM_* p, int id, const char* filename) {
  if (!plainName(filename)) return -1;
  return onWidget(p, "saveAsBmp", "s", id, filename);
}

// ---- Labels, line edits, buttons, frames ----------------------------------------------------

int hxSetAlignment(PARAM_* p, int id, int alignment) {
  if (!validAlignment(alignment)) return -1;
  return onWidget(p, "setAlignment", "i", id, alignment);
}

int hxText(PARAM_* p, int id) {
  return onWidget(p, "getText", "", id);
}

int hxSetStyle(PARAM_* p, int id, int shape, int shadow, int lineWidth, int margin) {
  if (!inRange(shape, 0, 6) || (shadow != 16 && shadow != 32 && shadow != 48) ||
      !inRange(lineWidth, 0, 100) || !inRange(margin, 0, 1000))
    return -1;
  return onWidget(p, "setStyle", "iiii", id, shape, shadow, lineWidth, margin);
}

int hxSetMovie(PARAM_* p, int id, const char* filename) {
  if (!plainName(filename)) return -1;
  return onWidget(p, "setMovie", "s", id, filename);
}

int hxMovieControl(PARAM_* p, int id, int control) {
  if (!inRange(control, HX_MOVIE_PAUSE, HX_MOVIE_NEXT_FRAME)) return -1;
  return onWidget(p, "movieControl", "i", id, control);
}

int hxMovieSpeed(PARAM_* p, int id, int percent) {
  if (!inRange(percent, 1, 10000)) return -1;
  return onWidget(p, "movieSpeed", "i", id, percent);
}

int hxSetPixmap(PARAM_* p, int id, const char* filename) {
  if (!pictureName(filename)) return -1;
  return onWidget(p, "setPixmap", "s", id, filename);
}

int hxSetEditable(PARAM_* p, int id, int editable) {
  return onWidget(p, "setEditable", "i", id, editable ? 1 : 0);
}

// ---- Items ----------------------------------------------------------------------------------

int hxInsertItem(PARAM_* p, int id, int index, const char* text) {
  if (index < -1) return -1;
  return onWidget(p, "insertItem", "is", id, index, text);
}

int hxRemoveItem(PARAM_* p, int id, int index) {
  if (index < 0) return -1;
  return onWidget(p, "removeItem", "i", id, index);
}

int hxRemoveItemByName(PARAM_* p, int id, const char* text) {
  return onWidget(p, "removeItemByName", "s", id, text);
}

int hxSetCurrentItem(PARAM_* p, int id, int index) {
  if (index < 0) return -1;
  return onWidget(p, "setCurrentItem", "i", id, index);
}

int hxChangeItem(PARAM_* p, int id, int index, const char* text) {
  if (index < 0) return -1;
  return onWidget(p, "changeItem", "is", id, index, text);
}

int hxSelection(PARAM_* p, int id) {
  return onWidget(p, "getSelection", "", id);
}

// ---- Drawing widgets ------------------------------------------------------------------------

int hxSetZoomX(PARAM_* p, int id, double factor) {
  if (!isfinite(factor)) return -1;
  return onWidget(p, "setZoomX", "f", id, factor);
}

int hxSetZoomY(PARAM_* p, int id, double factor) {
  if (!isfinite(factor)) return -1;
  return onWidget(p, "setZoomY", "f", id, factor);
}

int gWriteFile(PARAM_* p, const char* filename) {
  if (p == nullptr || !plainName(filename) || !streamText(filename)) return -1;
  std::string line = std::string("gwriteFile(\"") + filename + "\")\n";
  if (line.size() > HX_MAX_DRAW_LINE) return -1;
  return hxtcpsend_binary(p, line.data(), (int)line.size()) < 0 ? -1 : 0;
}

int gCloseFile(PARAM_* p) {
  if (p == nullptr) return -1;
  static const char line[] = "gcloseFile\n";
  return hxtcpsend_binary(p, line, (int)sizeof line - 1) < 0 ? -1 : 0;
}

int gBufferedLine(PARAM_* p, const float* x, const float* y, int n, int first) {
  if (p == nullptr || n < 0 || n > HX_MAX_DRAW_POINTS) return -1;
  if (n == 0) return first == 0 ? gLine(p, x, y, 0) : -1;
  if (x == nullptr || y == nullptr || first < 0 || first >= n) return -1;
  std::vector<float> xs((size_t)n), ys((size_t)n);
  for (int i = 0; i < n; i++) {
    int from = (first + i) % n;
    xs[(size_t)i] = x[from];
    ys[(size_t)i] = y[from];
  }
  return gLine(p, xs.data(), ys.data(), n);
}

// ---- Tab widgets ----------------------------------------------------------------------------

int hxSetTabPosition(PARAM_* p, int id, int position) {
  if (!inRange(position, HX_TAB_TOP, HX_TAB_RIGHT)) return -1;
  return onWidget(p, "setTabPosition", "i", id, position);
}

// ---- Tables ---------------------------------------------------------------------------------

int hxSetTableButton(PARAM_* p, int id, int x, int y, const char* text) {
  if (!validCell(x, y)) return -1;
  return onWidget(p, "setTableButton", "iis", id, x, y, text);
}

int hxSetTableCheckBox(PARAM_* p, int id, int x, int y, int checked, const char* text) {
  if (!validCell(x, y)) return -1;
  return onWidget(p, "setTableCheckBox", "iiis", id, x, y, checked ? 1 : 0, text);
}

int hxSetTableComboBox(PARAM_* p, int id, int x, int y, int editable, const char* choices) {
  if (!validCell(x, y)) return -1;
  return onWidget(p, "setTableComboBox", "iiis", id, x, y, editable ? 1 : 0, choices);
}

int hxSetTableLabel(PARAM_* p, int id, int x, int y, const char* text) {
  if (!validCell(x, y)) return -1;
  return onWidget(p, "setTableLabel", "iis", id, x, y, text);
}

int hxTablePrintf(PARAM_* p, int id, int x, int y, const char* fmt, ...) {
  char text[HX_MAX_LINE];
  va_list ap;
  va_start(ap, fmt);
  bool ok = format(text, sizeof text, fmt, ap);
  va_end(ap);
  return ok ? hxSetTableText(p, id, x, y, text) : -1;
}

int hxSetColumnWidth(PARAM_* p, int id, int column, int width) {
  if (!inRange(column, 0, HX_MAX_TABLE_COLS - 1) || !inRange(width, 0, 32767)) return -1;
  return onWidget(p, "setColumnWidth", "ii", id, column, width);
}

int hxSetWordWrap(PARAM_* p, int id, int on) {
  return onWidget(p, "setWordWrap", "i", id, on ? 1 : 0);
}

int hxSetTablePixmap(PARAM_* p, int id, int x, int y, const char* filename) {
  if (!validCell(x, y) || !pictureName(filename)) return -1;
  return onWidget(p, "setTablePixmap", "iis", id, x, y, filename);
}

int hxEnsureCellVisible(PARAM_* p, int id, int x, int y) {
  if (!validCell(x, y)) return -1;
  return onWidget(p, "ensureCellVisible", "ii", id, x, y);
}

int hxTableSetEnabled(PARAM_* p, int id, int x, int y, int enabled) {
  if (!validCell(x, y)) return -1;
  return onWidget(p, "setCellEnabled", "iii", id, x, y, enabled ? 1 : 0);
}

int hxTableSetHeaderResizeEnabled(PARAM_* p, int id, int vertical, int enabled, int section) {
  if (!inRange(section, -1, (vertical ? HX_MAX_TABLE_ROWS : HX_MAX_TABLE_COLS) - 1)) return -1;
  return onWidget(p, "setHeaderResizeEnabled", "iii", id, vertical ? 1 : 0, enabled ? 1 : 0,
                  section);
}

int hxInsertRows(PARAM_* p, int id, int row, int count) {
  if (!inRange(row, 0, HX_MAX_TABLE_ROWS) || !inRange(count, 1, HX_MAX_TABLE_ROWS)) return -1;
  return onWidget(p, "insertRows", "ii", id, row, count);
}

int hxInsertColumns(PARAM_* p, int id, int column, int count) {
  if (!inRange(column, 0, HX_MAX_TABLE_COLS) || !inRange(count, 1, HX_MAX_TABLE_COLS)) return -1;
  return onWidget(p, "insertColumns", "ii", id, column, count);
}

int hxRemoveRow(PARAM_* p, int id, int row) {
  if (!inRange(row, 0, HX_MAX_TABLE_ROWS - 1)) return -1;
  return onWidget(p, "removeRow", "i", id, row);
}

int hxRemoveColumn(PARAM_* p, int id, int column) {
  if (!inRange(column, 0, HX_MAX_TABLE_COLS - 1)) return -1;
  return onWidget(p, "removeColumn", "i", id, column);
}

int hxSetTableTextAlignment(PARAM_* p, int id, int x, int y, int alignment) {
  if (!validCell(x, y) || !validAlignment(alignment)) return -1;
  return onWidget(p, "setCellAlignment", "iii", id, x, y, alignment);
}

int hxSave(PARAM_* p, int id, const char* filename) {
  if (!plainName(filename)) return -1;
  return onWidget(p, "saveTable", "s", id, filename);
}

int hxCSVdump(PARAM_* p, int id, const char* filename, int delimiter) {
  if (filename == nullptr || filename[0] == '\0') return -1;
  hxCsvRows rows;
  std::string csv;
  if (fetchDump(p, id, delimiter, &rows, &csv) < 0) return -1;
  return writeFile(filename, csv) ? 0 : -1;
}

int hxMysqldump(PARAM_* p, int id, const char* filename, const char* table) {
  std::string sql;
  // The name is checked before the client is asked.
  if (filename == nullptr || filename[0] == '\0' || !hxSqlInserts(hxCsvRows(), table, &sql))
    return -1;
  hxCsvRows rows;
  std::string csv;
  if (fetchDump(p, id, ',', &rows, &csv) < 0 || !hxSqlInserts(rows, table, &sql)) return -1;
  return writeFile(filename, sql) ? 0 : -1;
}

int hxCSV(PARAM_* p, int id, const char* filename, int delimiter) {
  if (!validId(p, id) || filename == nullptr || !hxCsvDelimiter(delimiter)) return -1;
  std::string data;
  hxCsvRows rows;
  if (!readFile(filename, HX_MAX_CSV_BYTES, &data) ||
      hxParseCsv(data.data(), data.size(), delimiter, HX_MAX_TABLE_ROWS, HX_MAX_TABLE_COLS,
                 HX_MAX_TABLE_CELLS, &rows) < 0)
    return -1;
  size_t columns = 0;
  for (const auto& row : rows)
    columns = row.size() > columns ? row.size() : columns;
  // Every cell of the new size is set, so that no text of the table before stays in it; the
  // lock keeps the lines of other threads out of the table's.
  hxlock(p);
  int r = hxSetNumRows(p, id, (int)rows.size());
  if (r == 0) r = hxSetNumCols(p, id, (int)columns);
  for (size_t y = 0; y < rows.size() && r == 0; y++)
    for (size_t x = 0; x < columns && r == 0; x++)
      r = hxSetTableText(p, id, (int)x, (int)y, x < rows[y].size() ? rows[y][x].c_str() : "");
  hxunlock(p);
  return r == 0 ? (int)rows.size() : -1;
}

// ---- Multi-line edits and text browsers -----------------------------------------------------

int hxMoveCursor(PARAM_* p, int id, int action) {
  if (!inRange(action, HX_CURSOR_BACKWARD, HX_CURSOR_PAGE_DOWN)) return -1;
  return onWidget(p, "moveCursor", "i", id, action);
}

int hxSetSource(PARAM_* p, int id, const char* filename) {
  if (!plainName(filename)) return -1;
  return onWidget(p, "setSource", "s", id, filename);
}

int hxMoveContent(PARAM_* p, int id, int x, int y) {
  if (x < 0 || y < 0) return -1;
  return onWidget(p, "moveContent", "ii", id, x, y);
}

// ---- List views -----------------------------------------------------------------------------

int hxAddColumn(PARAM_* p, int id, const char* title, int width) {
  if (!inRange(width, -1, 32767)) return -1;
  return onWidget(p, "addColumn", "si", id, title, width);
}

int hxSetListViewText(PARAM_* p, int id, const char* path, int column, const char* text) {
  if (!validPath(path) || !inRange(column, 0, HX_MAX_LISTVIEW_COLS - 1) || text == nullptr)
    return -1;
  // A first column holding '/' would make an item that no path can name.
  if (column == 0 && (text[0] == '\0' || strchr(text, '/') != nullptr)) return -1;
  return onWidget(p, "setListViewText", "sis", id, path, column, text);
}

int hxListViewPrintf(PARAM_* p, int id, const char* path, int column, const char* fmt, ...) {
  char text[HX_MAX_LINE];
  va_list ap;
  va_start(ap, fmt);
  bool ok = format(text, sizeof text, fmt, ap);
  va_end(ap);
  return ok ? hxSetListViewText(p, id, path, column, text) : -1;
}

int hxSetListViewPixmap(PARAM_* p, int id, const char* path, const char* filename, int column) {
  if (!validPath(path) || !pictureName(filename) || !inRange(column, 0, HX_MAX_LISTVIEW_COLS - 1))
    return -1;
  return onWidget(p, "setListViewPixmap", "ssi", id, path, filename, column);
}

int hxRemoveListViewItem(PARAM_* p, int id, const char* path) {
  if (!validPath(path)) return -1;
  return onWidget(p, "removeListViewItem", "s", id, path);
}

int hxSetSorting(PARAM_* p, int id, int column, int ascending) {
  if (!inRange(column, -1, HX_MAX_LISTVIEW_COLS - 1)) return -1;
  return onWidget(p, "setSorting", "ii", id, column, ascending ? 1 : 0);
}

int hxListViewEnsureVisible(PARAM_* p, int id, const char* path) {
  if (!validPath(path)) return -1;
  return onWidget(p, "listViewEnsureVisible", "s", id, path);
}

// ---- Icon views -----------------------------------------------------------------------------

int hxRemoveIconViewItem(PARAM_* p, int id, const char* text) {
  return onWidget(p, "removeIconViewItem", "s", id, text);
}

int hxSetIconViewItem(PARAM_* p, int id, const char* text, const char* filename) {
  if (!pictureName(filename)) return -1;
  return onWidget(p, "setIconViewItem", "ss", id, text, filename);
}

// ---- Date and time edits --------------------------------------------------------------------

int hxSetDate(PARAM_* p, int id, int year, int month, int day) {
  if (!validDate(year, month, day)) return -1;
  return onWidget(p, "setDate", "iii", id, year, month, day);
}
int hxSetMinDate(PARAM_* p, int id, int year, int month, int day) {
  if (!validDate(year, month, day)) return -1;
  return onWidget(p, "setMinDate", "iii", id, year, month, day);
}
int hxSetMaxDate(PARAM_* p, int id, int year, int month, int day) {
  if (!validDate(year, month, day)) return -1;
  return onWidget(p, "setMaxDate", "iii", id, year, month, day);
}

int hxSetDateOrder(PARAM_* p, int id, int order) {
  if (!inRange(order, HX_DATE_DMY, HX_DATE_YDM)) return -1;
  return onWidget(p, "setDateOrder", "i", id, order);
}

int hxSetTime(PARAM_* p, int id, int hour, int minute, int second, int msec) {
  if (!validTime(hour, minute, second, msec)) return -1;
  return onWidget(p, "setTime", "iiii", id, hour, minute, second, msec);
}
int hxSetMinTime(PARAM_* p, int id, int hour, int minute, int second, int msec) {
  if (!validTime(hour, minute, second, msec)) return -1;
  return onWidget(p, "setMinTime", "iiii", id, hour, minute, second, msec);
}
int hxSetMaxTime(PARAM_* p, int id, int hour, int minute, int second, int msec) {
  if (!validTime(hour, minute, second, msec)) return -1;
  return onWidget(p, "setMaxTime", "iiii", id, hour, minute, second, msec);
}

int hxSetTimeEditDisplay(PARAM_* p, int id, int hour, int minute, int second, int ampm) {
  if (!hour && !minute && !second) return -1;
  return onWidget(p, "setTimeEditDisplay", "iiii", id, hour ? 1 : 0, minute ? 1 : 0, second ? 1 : 0,
                  ampm ? 1 : 0);
}

// ---- VTK widgets ----------------------------------------------------------------------------

int hxVtkTcl(PARAM_* p, int id, const char* command) {
  return onWidget(p, "vtkTcl", "s", id, command);
}
