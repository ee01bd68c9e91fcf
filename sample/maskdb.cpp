// The database mask: the plant's measuring points from an SQL database (sampleSettings: SQLite
// by default, PostgreSQL or any other Qt driver through the same code) in a table widget. A
// click on a row shows that measuring point below the table; a click on a column header, or a
// right click into a column, sorts by that column (again: the other way round).
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

#include "otnumber.h"
#include "qtdatabase.h"
#include "sample.h"

namespace {

enum { ID_BACK = 1, ID_RELOAD, ID_TITLE, ID_TABLE, ID_ROW, ID_COUNT };
// The columns of the query, in this order.
enum { COL_NAME, COL_DESCRIPTION, COL_UNIT, COL_VALUE, COL_LIMIT, COL_COUNT };
const int kRightButton = 3;

// The table the mask shows, made and filled on the first start. Two clients may start at the
// same moment: the table is made only if missing and the rows are added only where their
// names are not taken, so neither gets an error or twice the rows. Both SQLite and
// PostgreSQL understand these statements.
const char* const kCreate =
    "CREATE TABLE IF NOT EXISTS measuring_points (name VARCHAR(16) PRIMARY KEY, "
    "description VARCHAR(64), unit VARCHAR(16), value DOUBLE PRECISION, "
    "high_limit DOUBLE PRECISION)";
const char* const kCount = "SELECT COUNT(*) FROM measuring_points";
const char* const kFill =
    "INSERT INTO measuring_points (name, description, unit, value, high_limit) VALUES "
    "('TI101', 'Feed temperature', 'degC', 61.5, 80), "
    "('TI102', 'Reactor temperature', 'degC', 182.5, 175), "
    "('PI201', 'Reactor pressure', 'bar', 4.25, 6), "
    "('FI301', 'Cooling water flow', 'm3/h', 12.75, 20), "
    "('LI401', 'Buffer tank level', '%', 73, 90), "
    "('SI501', 'Agitator speed', 'rpm', 120, 150) "
    "ON CONFLICT (name) DO NOTHING";

struct DbMask {
  PARAM_* p;
  qtDatabase db;
  const char* name;
  bool ready = false;  // open, with the sample table in place
  int sortColumn = COL_NAME;
  bool descending = false;
};

std::string selectSql(const DbMask& m) {
  // The sort column is one of ours by number, never a text from the client.
  return "SELECT name, description, unit, value, high_limit FROM measuring_points ORDER BY " +
         std::to_string(m.sortColumn + 1) + (m.descending ? " DESC" : " ASC") + ", 1";
}

// Opens the database and makes the sample table when it is missing or empty. Errors are
// shown in red by qtDatabase.
int openDatabase(DbMask& m) {
  const SampleSettings& s = sampleSettings;
  if (m.db.open(s.dbType, s.dbHost, m.name, s.dbUser, s.dbPassword) < 0) {
    std::string text = std::string("ERROR: cannot open the database ") + m.name;
    hxStatusMessage(m.p, 255, 0, 0, text.c_str());
    return -1;
  }
  if (m.db.query(m.p, kCreate) < 0 || m.db.query(m.p, kCount) < 0 || m.db.nextRecord() < 0)
    return -1;
  if (atoi(m.db.recordFieldValue(m.p, 0)) == 0 && m.db.query(m.p, kFill) < 0) return -1;
  return 0;
}

// The query into the table, with the row count in the status bar.
void load(DbMask& m) {
  if (m.db.query(m.p, selectSql(m).c_str()) < 0 || m.db.populateTable(m.p, ID_TABLE) < 0) return;
  int n = 0;
  while (m.db.nextRecord() == 0)
    n++;
  std::string text = std::to_string(n) + " measuring points from " + m.name;
  hxStatusMessage(m.p, 0, 0, 0, text.c_str());
}

// The measuring point of table row `row` below the table, red when above its limit. The query
// runs again and steps to that row, so the label shows what the database holds now.
void showRow(DbMask& m, int row) {
  if (m.db.query(m.p, selectSql(m).c_str()) < 0) return;
  for (int i = 0; i <= row; i++) {
    if (m.db.nextRecord() < 0) {
      hxPrintf(m.p, ID_ROW, "row %d: no such measuring point", row);
      return;
    }
  }
  std::string v[COL_COUNT];
  for (int c = 0; c < COL_COUNT; c++)
    v[c] = m.db.recordFieldValue(m.p, c);
  hxPrintf(m.p, ID_ROW, "%s (%s): %s %s, limit %s %s", v[COL_NAME].c_str(),
           v[COL_DESCRIPTION].c_str(), v[COL_VALUE].c_str(), v[COL_UNIT].c_str(),
           v[COL_LIMIT].c_str(), v[COL_UNIT].c_str());
  if (otStrtod(v[COL_VALUE].c_str(), nullptr) > otStrtod(v[COL_LIMIT].c_str(), nullptr))
    hxSetBackgroundColor(m.p, ID_ROW, 255, 160, 160);
  else
    hxSetBackgroundColor(m.p, ID_ROW, 200, 255, 200);
}

void tableClicked(DbMask& m, const char* text) {
  int column = -1, row = -1, button = 0;
  if (sscanf(text, "(%d,%d,%d)", &column, &row, &button) != 3) return;
  if (column < 0 || column >= COL_COUNT) return;
  if (row < 0 || button == kRightButton) {
    m.descending = column == m.sortColumn ? !m.descending : false;
    m.sortColumn = column;
    load(m);
  } else {
    showRow(m, row);
  }
}

}  // namespace

int show_maskdb(PARAM_* p) {
  DbMask m{p, {}, nullptr};
  const SampleSettings& s = sampleSettings;
  if (s.dbName != nullptr)
    m.name = s.dbName;
  else
    m.name =
        s.dbType != nullptr && std::string(s.dbType) == "QSQLITE" ? "otsample.sqlite" : "otsample";

  hxStartDefinition(p, ID_COUNT);
  hxQPushButton(p, ID_BACK, 0);
  hxSetGeometry(p, ID_BACK, 0, 0, 100, 30);
  hxSetText(p, ID_BACK, "Back");
  hxQPushButton(p, ID_RELOAD, 0);
  hxSetGeometry(p, ID_RELOAD, 100, 0, 100, 30);
  hxSetText(p, ID_RELOAD, "Reload");
  hxQLabel(p, ID_TITLE, 0);
  hxSetGeometry(p, ID_TITLE, 210, 0, 430, 30);
  hxPrintf(p, ID_TITLE, "Measuring points in %s", m.name);
  hxQTable(p, ID_TABLE, 0, 0, COL_COUNT);
  hxSetGeometry(p, ID_TABLE, 0, 40, 640, 260);
  hxQLabel(p, ID_ROW, 0);
  hxSetGeometry(p, ID_ROW, 0, 310, 640, 30);
  hxSetText(p, ID_ROW,
            "Click a row to see its measuring point; right-click a column to sort by it.");
  hxEndDefinition(p);

  m.ready = openDatabase(m) == 0;
  if (m.ready) load(m);

  std::vector<char> buf(HX_EVENT_BUFSIZE), text(HX_TEXT_SIZE);
  for (;;) {
    if (hxPollEvent(p, buf.data()) < 0) return -1;
    int id = 0;
    int kind = hxParseEvent(buf.data(), &id, text.data());
    if (kind == SHUTUP_EVENT) return -1;
    printEvent(p, kind, id, text.data());
    if (kind == BUTTON_EVENT && id == ID_BACK) return MASK_PLANT;
    if (kind == BUTTON_EVENT && id == ID_RELOAD) {
      if (!m.ready) m.ready = openDatabase(m) == 0;  // the database may be up by now
      if (m.ready) load(m);
    }
    if (kind == TABLE_CLICKED_EVENT && id == ID_TABLE) tableClicked(m, text.data());
  }
}
