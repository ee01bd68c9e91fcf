#include "tagtableview.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <cmath>

#include "otnumber.h"

namespace {

const char* const kColumns[] = {"name",  "header", "cycle", "index", "type",
                                "scale", "offset", "unit",  "write", "address"};

QString number(double v) {
  char buf[64];
  return otFormatShortest(buf, sizeof buf, v) > 0 ? QString::fromLatin1(buf) : QString("0");
}

// A whole text as a number in the C locale, as the tag table's file reads it.
double toNumber(const QString& s, bool* ok) {
  const QByteArray text = s.trimmed().toLatin1();
  char* end = nullptr;
  const double v = otStrtod(text.constData(), &end);
  *ok = !text.isEmpty() && end == text.constData() + text.size() && std::isfinite(v);
  return *ok ? v : 0;
}

QString orDash(const std::string& s) {
  return s.empty() ? QString("-") : QString::fromStdString(s);
}

// "-" stands for an empty field, as in the file.
std::string field(const QString& s) {
  QString t = s.trimmed();
  return t == "-" ? std::string() : t.toStdString();
}

}  // namespace

TagTableModel::TagTableModel(QObject* parent) : QAbstractTableModel(parent) {}

TagTableModel::~TagTableModel() = default;

void TagTableModel::setTable(const otTagTable& t, const QString& folder) {
  beginResetModel();
  table_ = t;
  folder_ = folder;
  headers_.clear();
  modified_ = false;
  lastError_.clear();
  endResetModel();
}

const otDaemonHeader* TagTableModel::header(const std::string& name) {
  QString key = QString::fromStdString(name);
  auto it = headers_.find(key);
  if (it != headers_.end()) return it.value().get();
  std::shared_ptr<otDaemonHeader> h;
  QFile f(QDir(folder_).filePath(key));
  if (!name.empty() && f.open(QIODevice::ReadOnly) && f.size() < (16 << 20)) {
    QByteArray text = f.readAll();
    auto parsed = std::make_shared<otDaemonHeader>();
    std::string why;
    if (otReadDaemonHeader(text.constData(), parsed.get(), &why) == 0) h = parsed;
  }
  headers_.insert(key, h);
  return h.get();
}

int TagTableModel::checkRow(const otTag& t, int row, QString* error) {
  std::string why;
  if (otTagTable::check(t, header(t.header), &why) != 0) {
    if (error) *error = QString::fromStdString(why);
    return -1;
  }
  int other = table_.find(t.name);
  if (other >= 0 && other != row) {
    if (error) *error = QString("the name %1 is taken").arg(QString::fromStdString(t.name));
    return -1;
  }
  return 0;
}

int TagTableModel::addTag(const otTag& t, QString* error) {
  if (checkRow(t, -1, error) != 0) return -1;
  int row = (int)table_.tags.size();
  beginInsertRows(QModelIndex(), row, row);
  table_.tags.push_back(t);
  endInsertRows();
  modified_ = true;
  emit changed();
  return row;
}

int TagTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : (int)table_.tags.size();
}

int TagTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Columns;
}

QVariant TagTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= (int)table_.tags.size()) return QVariant();
  if (role != Qt::DisplayRole && role != Qt::EditRole) return QVariant();
  const otTag& t = table_.tags[(size_t)index.row()];
  switch (index.column()) {
    case Name:
      return QString::fromStdString(t.name);
    case Header:
      return QString::fromStdString(t.header);
    case Cycle:
      return t.cycle;
    case Index:
      return t.index;
    case Type: {
      const char* n = otTag::typeName(t.type);
      return n ? QString(n) : QString::number(t.type);
    }
    case Scale:
      return number(t.scale);
    case Offset:
      return number(t.offset);
    case Unit:
      return QString::fromStdString(t.unit);
    case Write:
      return orDash(t.write);
    case Address:
      return orDash(t.address);
  }
  return QVariant();
}

QVariant TagTableModel::headerData(int section, Qt::Orientation o, int role) const {
  if (role != Qt::DisplayRole) return QVariant();
  if (o == Qt::Horizontal && section >= 0 && section < Columns) return QString(kColumns[section]);
  if (o == Qt::Vertical) return section + 1;
  return QVariant();
}

Qt::ItemFlags TagTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

bool TagTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid() || index.row() >= (int)table_.tags.size())
    return false;
  otTag t = table_.tags[(size_t)index.row()];
  QString s = value.toString().trimmed();
  QString why;
  bool ok = true;
  switch (index.column()) {
    case Name:
      t.name = s.toStdString();
      break;
    case Header:
      t.header = field(s);
      break;
    case Cycle:
      t.cycle = s.toInt(&ok);
      if (!ok) why = QString("cycle \"%1\" is not a number").arg(s);
      break;
    case Index:
      t.index = s.toInt(&ok);
      if (!ok) why = QString("index \"%1\" is not a number").arg(s);
      break;
    case Type:
      t.type = otTag::typeOf(s.toUtf8().constData());
      if (t.type < 0) why = QString("unknown type \"%1\"").arg(s), ok = false;
      break;
    case Scale:
      t.scale = toNumber(s, &ok);
      if (!ok) why = QString("scale \"%1\" is not a number").arg(s);
      break;
    case Offset:
      t.offset = toNumber(s, &ok);
      if (!ok) why = QString("offset \"%1\" is not a number").arg(s);
      break;
    case Unit:
      t.unit = value.toString().toStdString();
      break;
    case Write:
      t.write = field(s);
      break;
    case Address:
      t.address = field(s);
      break;
    default:
      return false;
  }
  if (ok && checkRow(t, index.row(), &why) != 0) ok = false;
  if (!ok) {
    lastError_ = QString("row %1: %2").arg(index.row() + 1).arg(why);
    emit refused(lastError_);
    return false;
  }
  lastError_.clear();
  otTag& old = table_.tags[(size_t)index.row()];
  bool same = old.name == t.name && old.header == t.header && old.cycle == t.cycle &&
              old.index == t.index && old.type == t.type && old.scale == t.scale &&
              old.offset == t.offset && old.unit == t.unit && old.write == t.write &&
              old.address == t.address;
  if (same) return true;
  old = t;
  modified_ = true;
  emit dataChanged(index.siblingAtColumn(0), index.siblingAtColumn(Columns - 1));
  emit changed();
  return true;
}

bool TagTableModel::removeRows(int row, int count, const QModelIndex& parent) {
  if (parent.isValid() || row < 0 || count <= 0 || row + count > (int)table_.tags.size())
    return false;
  beginRemoveRows(QModelIndex(), row, row + count - 1);
  table_.tags.erase(table_.tags.begin() + row, table_.tags.begin() + row + count);
  endRemoveRows();
  modified_ = true;
  emit changed();
  return true;
}

TagTableView::TagTableView(QWidget* parent) : QWidget(parent) {
  model_ = new TagTableModel(this);
  view_ = new QTableView(this);
  view_->setModel(model_);
  view_->horizontalHeader()->setStretchLastSection(true);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  status_ = new QLabel(this);
  status_->setWordWrap(true);
  auto* add = new QPushButton("Add", this);
  auto* remove = new QPushButton("Remove", this);
  auto* daemon = new QPushButton("Add daemon header...", this);
  connect(add, &QPushButton::clicked, this, &TagTableView::slotAdd);
  connect(remove, &QPushButton::clicked, this, &TagTableView::slotRemove);
  connect(daemon, &QPushButton::clicked, this, &TagTableView::slotAddDaemonHeader);
  connect(model_, &TagTableModel::refused, this, [this](const QString& r) { report(r, true); });
  connect(model_, &TagTableModel::changed, this, [this] {
    report(QString(), false);
    emit changed();
  });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(add);
  buttons->addWidget(remove);
  buttons->addWidget(daemon);
  buttons->addStretch();
  auto* box = new QVBoxLayout(this);
  box->setContentsMargins(2, 2, 2, 2);
  box->addWidget(view_);
  box->addWidget(status_);
  box->addLayout(buttons);
}

QString TagTableView::path() const {
  return QDir(model_->folder()).filePath("tags.txt");
}

void TagTableView::report(const QString& text, bool bad) {
  status_->setText(text);
  status_->setStyleSheet(bad ? "color: #b00000" : "");
  if (!text.isEmpty()) emit message(text);
}

int TagTableView::load(const QString& folder, QString* error) {
  otTagTable t;
  std::string why;
  int r = 0;
  readFailed_ = false;
  QString file = QDir(folder).filePath("tags.txt");
  if (QFileInfo::exists(file) && t.read(QFile::encodeName(file).constData(), &why) != 0) {
    readFailed_ = true;
    r = -1;
    if (error) *error = QString("%1: %2").arg(file, QString::fromStdString(why));
  }
  model_->setTable(t, folder);
  report(r == 0 ? QString() : QString("%1; the file is kept as it is").arg(error ? *error : file),
         r != 0);
  return r;
}

int TagTableView::save(QString* error) {
  if (!model_->modified()) return 0;
  if (readFailed_) {
    if (error)
      *error =
          QString("%1 could not be read whole; it is not written over (fix the file)").arg(path());
    return -1;
  }
  std::string why;
  if (model_->table().write(QFile::encodeName(path()).constData(), &why) != 0) {
    if (error) *error = QString::fromStdString(why);
    return -1;
  }
  model_->setModified(false);
  return 0;
}

int TagTableView::addDaemonHeader(const QString& headerPath, QString* error) {
  QFile f(headerPath);
  if (!f.open(QIODevice::ReadOnly) || f.size() > (16 << 20)) {
    if (error) *error = QString("cannot read %1").arg(headerPath);
    return -1;
  }
  QByteArray text = f.readAll();
  otDaemonHeader h;
  std::string why;
  if (otReadDaemonHeader(text.constData(), &h, &why) != 0) {
    if (error) *error = QString("%1: %2").arg(headerPath, QString::fromStdString(why));
    return -1;
  }
  QString name = QDir(model_->folder()).relativeFilePath(QFileInfo(headerPath).absoluteFilePath());
  int added = 0, skipped = 0, first = -1;
  QString lastWhy;
  for (const otTag& t : otTagTable::propose(h, name.toStdString())) {
    if (model_->table().find(t.name) >= 0) {
      skipped++;
      continue;
    }
    QString e;
    int row = model_->addTag(t, &e);
    if (row < 0) {
      skipped++;
      lastWhy = e;
      continue;
    }
    if (first < 0) first = row;
    added++;
  }
  report(QString("%1 tags of %2 added for renaming%3%4")
             .arg(added)
             .arg(name)
             .arg(skipped ? QString(", %1 skipped").arg(skipped) : QString())
             .arg(lastWhy.isEmpty() ? QString() : QString(" (%1)").arg(lastWhy)),
         false);
  if (first >= 0) {
    view_->scrollTo(model_->index(first, 0));
    view_->setCurrentIndex(model_->index(first, 0));
  }
  return added;
}

int TagTableView::daemonHeaderWritten(const QString& headerPath, QString* error) {
  model_->forgetHeaders();
  QDir folder(model_->folder());
  QString abs = QFileInfo(headerPath).absoluteFilePath();
  QStringList misfits;
  bool named = false;
  for (const otTag& t : model_->table().tags) {
    QString h = QString::fromStdString(t.header);
    if (h.isEmpty() || QFileInfo(folder, h).absoluteFilePath() != abs) continue;
    named = true;
    std::string why;
    if (otTagTable::check(t, model_->header(t.header), &why) != 0)
      misfits << QString("%1 (%2)").arg(QString::fromStdString(t.name),
                                        QString::fromStdString(why));
  }
  if (!named) return addDaemonHeader(headerPath, error);
  QString name = folder.relativeFilePath(abs);
  if (misfits.isEmpty())
    report(QString("%1 read anew; its tags fit").arg(name), false);
  else
    report(QString("%1 read anew; tags that no longer fit: %2").arg(name, misfits.join(", ")),
           true);
  return 0;
}

void TagTableView::slotAdd() {
  // A copy of the current (or last) row one index further on, under a fresh name: the usual
  // next tag is the neighbour of the last one.
  const otTagTable& t = model_->table();
  otTag tag;
  int cur = view_->currentIndex().isValid() ? view_->currentIndex().row() : (int)t.tags.size() - 1;
  if (cur >= 0 && cur < (int)t.tags.size()) {
    tag = t.tags[(size_t)cur];
    tag.index++;
  } else {
    QStringList headers = QDir(model_->folder()).entryList({"*.h"}, QDir::Files, QDir::Name);
    tag.header = headers.isEmpty() ? std::string() : headers.first().toStdString();
  }
  for (int n = 1;; n++) {
    std::string name = "tag" + std::to_string(n);
    if (t.find(name) < 0) {
      tag.name = name;
      break;
    }
  }
  QString why;
  int row = model_->addTag(tag, &why);
  if (row < 0) {
    report(QString("No tag added: %1").arg(why), true);
    return;
  }
  view_->setCurrentIndex(model_->index(row, 0));
  view_->edit(model_->index(row, 0));
}

void TagTableView::slotRemove() {
  QModelIndexList rows = view_->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() > b.row(); });
  for (const QModelIndex& i : rows)
    model_->removeRows(i.row(), 1);
}

void TagTableView::slotAddDaemonHeader() {
  QString file = QFileDialog::getOpenFileName(this, "hxstudio: Add daemon header", model_->folder(),
                                              "Daemon headers (*.h)");
  if (file.isEmpty()) return;
  QString why;
  if (addDaemonHeader(file, &why) < 0) report(why, true);
}
