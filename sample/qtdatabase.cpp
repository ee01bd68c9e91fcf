// qtDatabase over Qt SQL.
#include "qtdatabase.h"

#include <stdio.h>

#include <QSqlDriver>
#include <QSqlField>
#include <QSqlRecord>
#include <QString>
#include <QVariant>
#include <string>

namespace {

void showError(PARAM_* p, const std::string& text) {
  if (p != nullptr) hxStatusMessage(p, 255, 0, 0, text.c_str());
}

std::string errorText(const QSqlError& e) {
  return e.text().toUtf8().toStdString();
}

}  // namespace

qtDatabase::qtDatabase() {
  snprintf(name_, sizeof name_, "%p", static_cast<void*>(this));
}

qtDatabase::~qtDatabase() {
  drop();
}

void qtDatabase::drop() {
  // The query holds the connection's driver: it goes first, or Qt reports the connection as
  // still in use when it is removed.
  query_.reset();
  if (db_ != nullptr) {
    db_->close();
    db_.reset();
  }
  if (QSqlDatabase::contains(QString::fromLatin1(name_)))
    QSqlDatabase::removeDatabase(QString::fromLatin1(name_));
}

int qtDatabase::open(const char* dbtype, const char* hostname, const char* dbname, const char* user,
                     const char* pass) {
  if (db_ != nullptr) close();
  if (dbtype == nullptr || *dbtype == '\0') {
    printf("qtDatabase::open ERROR: no database type\n");
    fflush(stdout);
    return -1;
  }
  QString host = QString::fromUtf8(hostname != nullptr ? hostname : "");
  int port = -1;
  // "host:port"; an address with more than one colon is IPv6 and carries no port.
  int colon = host.lastIndexOf(QLatin1Char(':'));
  if (colon > 0 && host.indexOf(QLatin1Char(':')) == colon) {
    bool ok = false;
    int n = host.mid(colon + 1).toInt(&ok);
    if (ok && n > 0 && n < 65536) {
      port = n;
      host.truncate(colon);
    }
  }
  db_.reset(new QSqlDatabase(
      QSqlDatabase::addDatabase(QString::fromUtf8(dbtype), QString::fromLatin1(name_))));
  db_->setHostName(host);
  if (port > 0) db_->setPort(port);
  db_->setDatabaseName(QString::fromUtf8(dbname != nullptr ? dbname : ""));
  db_->setUserName(QString::fromUtf8(user != nullptr ? user : ""));
  db_->setPassword(QString::fromUtf8(pass != nullptr ? pass : ""));
  if (!db_->open()) {
    error_ = db_->lastError();
    printf("qtDatabase::open ERROR: %s\n", errorText(error_).c_str());
    fflush(stdout);
    drop();
    return -1;
  }
  owner_ = std::this_thread::get_id();
  error_ = QSqlError();
  return 0;
}

int qtDatabase::close() {
  if (db_ == nullptr) return -1;
  drop();
  return 0;
}

qtDatabase::State qtDatabase::state(const char* caller) const {
  if (db_ == nullptr) return NOT_OPEN;
  if (owner_ != std::this_thread::get_id()) {
    printf("qtDatabase::%s ERROR: the database belongs to another thread\n", caller);
    fflush(stdout);
    return OTHER_THREAD;
  }
  return READY;
}

bool qtDatabase::exec(const char* sql) {
  query_.reset();  // its statement is finished before the next one runs
  query_.reset(new QSqlQuery(*db_));
  if (!query_->exec(QString::fromUtf8(sql))) {
    error_ = query_->lastError();
    printf("qtDatabase::query ERROR: %s\n", errorText(error_).c_str());
    fflush(stdout);
    return false;
  }
  error_ = QSqlError();
  return true;
}

int qtDatabase::query(PARAM_* p, const char* sql) {
  if (sql == nullptr || state("query") != READY) return -1;
  if (!exec(sql)) {
    showError(p, std::string("ERROR: qtDatabase::query(") + sql + ") " + errorText(error_));
    return -1;
  }
  return 0;
}

int qtDatabase::countRows() {
  if (query_ == nullptr || !query_->isActive() || !query_->isSelect()) return 0;
  if (db_->driver()->hasFeature(QSqlDriver::QuerySize) && query_->size() >= 0)
    return query_->size();
  // SQLite cannot tell the size of a result before it has been read: step through it.
  int at = query_->at();
  int n = 0;
  if (query_->first()) {
    n = 1;
    while (query_->next())
      n++;
  }
  moveTo(at);
  return n;
}

void qtDatabase::moveTo(int at) {
  if (at >= 0) {
    query_->seek(at);
  } else if (at == QSql::AfterLastRow) {
    query_->last();
    query_->next();
  } else {
    query_->seek(QSql::BeforeFirstRow);  // moves before the first record, answering false
  }
}

int qtDatabase::populateTable(PARAM_* p, int id) {
  State s = state("populateTable");
  if (s == NOT_OPEN) showError(p, "ERROR: qtDatabase::populateTable() db==NULL");
  if (s != READY) return -1;
  QSqlRecord fields = query_ != nullptr ? query_->record() : QSqlRecord();
  int rows = countRows();
  if (rows > HX_MAX_MASK_IDS) rows = HX_MAX_MASK_IDS;
  int cols = fields.count();
  if (cols > HX_MAX_MASK_IDS) cols = HX_MAX_MASK_IDS;
  hxSetNumRows(p, id, rows);
  hxSetNumCols(p, id, cols);
  if (fields.isEmpty()) {
    showError(p, "ERROR: qtDatabase::populateTable() record is empty");
    return -1;
  }
  for (int c = 0; c < cols; c++)
    hxSetTableText(p, id, c, -1, fields.fieldName(c).toUtf8().constData());
  int at = query_->at();
  int result = 0;
  if (rows > 0 && query_->first()) {
    int row = 0;
    do {
      QSqlRecord record = query_->record();
      for (int c = 0; c < cols; c++) {
        QSqlField field = record.field(c);
        QByteArray text = field.isValid() ? field.value().toString().toUtf8() : "ERROR:";
        // A cell that does not fit into one line is left empty; a closed connection ends it.
        if (hxSetTableText(p, id, c, row, text.constData()) < 0 && (p == nullptr || p->stop)) {
          result = -1;
          break;
        }
      }
    } while (result == 0 && ++row < rows && query_->next());
  }
  moveTo(at);
  return result;
}

qtDatabase::FieldStatus qtDatabase::fieldValue(int index, QByteArray* out) {
  // Before the first record and after the last there is no current record.
  if (query_ == nullptr || !query_->isActive() || !query_->isValid()) return RECORD_EMPTY;
  QSqlRecord record = query_->record();
  if (record.isEmpty()) return RECORD_EMPTY;
  if (index < 0 || index >= record.count() || !record.field(index).isValid()) return FIELD_INVALID;
  *out = record.field(index).value().toString().toUtf8();
  return FIELD_OK;
}

const char* qtDatabase::recordFieldValue(PARAM_* p, int index) {
  FieldStatus f = state("recordFieldValue") == READY ? fieldValue(index, &scratch_) : RECORD_EMPTY;
  if (f == FIELD_OK) return scratch_.constData();
  std::string what = f == RECORD_EMPTY ? "record is empty" : "field is invalid";
  showError(p, "ERROR: qtDatabase::recordFieldValue(" + std::to_string(index) + ") " + what);
  return "ERROR:";
}

const char* qtDatabase::dbQuery(const char* sql) {
  State s = state("dbQuery");
  if (s == NOT_OPEN) return "ERROR: database is NULL";
  if (s != READY || sql == nullptr || !exec(sql)) return "ERROR: qtDatabase::query()";
  if (!query_->isActive()) return "ERROR: result is not valid";
  int n = query_->isSelect() ? countRows() : query_->numRowsAffected();
  scratch_ = QByteArray::number(n < 0 ? 0 : n);
  return scratch_.constData();
}

const char* qtDatabase::dbRecordFieldValue(int index) {
  FieldStatus f =
      state("dbRecordFieldValue") == READY ? fieldValue(index, &scratch_) : RECORD_EMPTY;
  if (f == RECORD_EMPTY) return "ERROR: qtDatabase::recordFieldValue record is empty";
  if (f == FIELD_INVALID) return "ERROR: qtDatabase::recordFieldValue field is invalid";
  return scratch_.constData();
}

int qtDatabase::nextRecord() {
  if (state("nextRecord") != READY || query_ == nullptr) return -1;
  if (!query_->next()) return -1;
  return query_->record().isEmpty() ? -1 : 0;
}
