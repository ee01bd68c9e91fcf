// qtDatabase: one SQL connection of a display server through Qt SQL (any Qt driver: QSQLITE,
// QPSQL, ...). It runs queries, copies a whole result into a table widget of the client, reads
// field values of the current record and steps through the records. The calls that take a
// connection record show their errors in red in the client's status bar; dbQuery and
// dbRecordFieldValue, meant for script bindings, return their errors as texts instead.
//
// Threads: a Qt SQL connection may only be used in the thread that opened it, and the display
// server serves each client in a thread of its own. Make one qtDatabase per mask invocation,
// in the client's thread, and let it go when the mask returns; every object has a Qt SQL
// connection of its own (named by its address), so clients never share one. A query, read or
// step from another thread than the one that opened the database fails (-1, or an error text;
// the reason is printed) instead of touching the connection.
//
// No QCoreApplication is needed: Qt 5 finds and loads its SQL driver plug-ins without one
// (its warning that one is required only appears after a driver was not found at all).
#ifndef OTSAMPLE_QTDATABASE_H
#define OTSAMPLE_QTDATABASE_H

#include <QByteArray>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <memory>
#include <thread>

#include "hxserver.h"

class qtDatabase {
 public:
  qtDatabase();
  // Closes an open database and removes this object's Qt SQL connection.
  ~qtDatabase();
  qtDatabase(const qtDatabase&) = delete;
  qtDatabase& operator=(const qtDatabase&) = delete;

  // Opens a database with Qt driver dbtype ("QSQLITE", "QPSQL", ...). hostname may carry a
  // port as "host:port"; null texts count as "". A database that is open already is closed
  // first, so a second open connects anew with the new arguments. 0, or -1 (nothing is open
  // then; the reason is printed as "qtDatabase::open ERROR: ...").
  int open(const char* dbtype, const char* hostname, const char* dbname, const char* user,
           const char* pass);
  // 0, or -1 when nothing is open.
  int close();

  // Runs sql (UTF-8) and keeps its result, positioned before the first record. -1 without a
  // database, or when the database reports an error: it is printed on standard output and
  // shown in red in the client's status bar.
  int query(PARAM_* p, const char* sql);
  // Table widget id gets the whole result: as many rows as the result holds (at most
  // HX_MAX_MASK_IDS, the table's limit), one column per field, the field names as column
  // headers (row -1), then every value as text (a NULL as ""). The current record stays
  // where it was. 0, or -1 without a database, when the result has no fields (no query yet,
  // or a statement that returns no rows; both shown in red), or when the connection to the
  // client closes meanwhile.
  int populateTable(PARAM_* p, int id);
  // The value of field index of the current record as UTF-8 text, or "ERROR:" when there is
  // no current record or no such field (shown in red). Valid until the next call.
  const char* recordFieldValue(PARAM_* p, int index);

  // query without a connection record. Returns, for a statement that returns rows, the
  // number of rows of its result, otherwise the number of rows it changed, as a decimal
  // text ("0" when the driver cannot tell). The errors: "ERROR: database is NULL",
  // "ERROR: qtDatabase::query()" (the reason is printed) and "ERROR: result is not valid".
  // Valid until the next call.
  const char* dbQuery(const char* sql);
  // recordFieldValue without a connection record: the value, or
  // "ERROR: qtDatabase::recordFieldValue record is empty" or
  // "ERROR: qtDatabase::recordFieldValue field is invalid". Valid until the next call.
  const char* dbRecordFieldValue(int index);

  // Makes the next record the current one: 0, or -1 after the last (or without a result).
  int nextRecord();

  // The Qt SQL connection name of this object.
  const char* connectionName() const { return name_; }

 private:
  enum FieldStatus { FIELD_OK, RECORD_EMPTY, FIELD_INVALID };
  enum State { READY, NOT_OPEN, OTHER_THREAD };
  // Whether the database is open and belongs to the calling thread (the latter is printed
  // when not).
  State state(const char* caller) const;
  // Runs sql; false after an error (printed, kept in error_).
  bool exec(const char* sql);
  // The rows of a result that returns rows; the current record stays.
  int countRows();
  // Back to the record position at (QSqlQuery::at()) of the current result.
  void moveTo(int at);
  FieldStatus fieldValue(int index, QByteArray* out);
  void drop();

  char name_[51];
  std::unique_ptr<QSqlDatabase> db_;
  std::unique_ptr<QSqlQuery> query_;
  QSqlError error_;
  std::thread::id owner_;
  QByteArray scratch_;
};

#endif
