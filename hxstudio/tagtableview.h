// The project's tag table in the studio: a model over otTagTable with the file's columns,
// editable cell by cell, and the view around it (add, remove, add a daemon's tags). An edit
// that would make a bad tag is refused with the table check's reason, so the table never holds
// a row that the file could not read back.
#ifndef HXSTUDIO_TAGTABLEVIEW_H
#define HXSTUDIO_TAGTABLEVIEW_H

#include <QAbstractTableModel>
#include <QMap>
#include <QWidget>
#include <memory>

#include "ottagtable.h"

class QLabel;
class QTableView;

class TagTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { Name, Header, Cycle, Index, Type, Scale, Offset, Unit, Write, Address, Columns };
  explicit TagTableModel(QObject* parent = nullptr);
  ~TagTableModel() override;

  // The table and the folder its headers are read from.
  void setTable(const otTagTable& t, const QString& folder);
  const otTagTable& table() const { return table_; }
  QString folder() const { return folder_; }
  bool modified() const { return modified_; }
  void setModified(bool on) { modified_ = on; }
  // Why the last edit was refused ("" after a good one).
  QString lastError() const { return lastError_; }

  // Checks t as a row (the table check with the daemon's header when the folder has it, and a
  // name no other row has) and adds it. Its row, or -1 and *error.
  int addTag(const otTag& t, QString* error);
  // The checks of addTag for t as row row; 0, or -1 and *error.
  int checkRow(const otTag& t, int row, QString* error);
  // The header a tag names, read from the folder once; null when it cannot be read.
  const otDaemonHeader* header(const std::string& name);
  // Forgets the headers read, so that the next check reads them anew (a daemon was generated
  // again).
  void forgetHeaders() { headers_.clear(); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation o, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

 signals:
  void refused(const QString& reason);
  void changed();

 private:
  otTagTable table_;
  QString folder_;
  bool modified_ = false;
  QString lastError_;
  QMap<QString, std::shared_ptr<otDaemonHeader>> headers_;
};

class TagTableView : public QWidget {
  Q_OBJECT
 public:
  explicit TagTableView(QWidget* parent = nullptr);

  // Reads "<folder>/tags.txt" (a missing file is an empty table). 0, or -1 and *error: the
  // file has a bad line; the rows before it are shown, but the file is not written over, so
  // that the lines after it are not lost.
  int load(const QString& folder, QString* error);
  // Writes the table when it changed. 0, or -1 and *error.
  int save(QString* error);
  bool modified() const { return model_->modified(); }
  TagTableModel* model() const { return model_; }
  QTableView* table() const { return view_; }
  QString path() const;

  // Adds the tags that otTagTable::propose makes for a daemon's header (those whose name is
  // taken are skipped). The number added, or -1 and *error.
  int addDaemonHeader(const QString& headerPath, QString* error);
  // A daemon's header was written anew: the table checks against the new one from now on; a
  // header that no tag names yet gets its proposed tags as addDaemonHeader gives them, one
  // that tags name already keeps the table as it is (the user's names stay, nothing doubles)
  // and the tags that no longer fit it are reported. The number of tags added, or -1 and
  // *error.
  int daemonHeaderWritten(const QString& headerPath, QString* error);

 public slots:
  void slotAdd();
  void slotRemove();
  void slotAddDaemonHeader();

 signals:
  void changed();
  void message(const QString& text);

 private:
  void report(const QString& text, bool bad);
  TagTableModel* model_;
  QTableView* view_;
  QLabel* status_;
  bool readFailed_ = false;
};

#endif
