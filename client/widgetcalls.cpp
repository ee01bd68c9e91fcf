// The setters of the widget kinds: what the server's hxwidgetcalls.h calls send, carried out on
// the client's widgets. Every argument is bounded here again (a server may be hostile); files
// are read from and written to the downloads folder only (otserverfiles.h). What the server
// sets is no user action: the widget's signals are blocked meanwhile, so no event goes back
// for it, except the answers the server asked for.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMovie>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QUrl>

#include "mywidgets.h"
#include "otinterpreter.h"
#include "otlog.h"
#include "otserverfiles.h"
#include "qdrawwidget.h"
#include "tcputil.h"
#include "widgetcommands.h"

namespace otclient {

namespace {

// Bounds of what a server can make these widgets hold.
const int kMaxItems = 100000;                  // items of a combo box, list box or icon view
const int kMaxChoices = 1000;                  // choices of a combo box in a table cell
const int kMaxColumns = 100;                   // columns of a list view
const int kMaxDepth = 32;                      // path components of a list view item
const long long kMaxPictureBytes = 16 << 20;   // an icon or pixmap file
const long long kMaxPicturePixels = 16 << 20;  // its width x height
const long long kMaxMovieBytes = 64 << 20;     // an animated picture
const int kMaxGeometry = 32767;

bool inRange(int v, int lo, int hi) {
  return v >= lo && v <= hi;
}

bool validAlignment(int a) {
  int h = a & 0x000f, v = a & 0x00f0;
  return (a & ~0x00ff) == 0 && (h == 0 || h == 0x1 || h == 0x2 || h == 0x4 || h == 0x8) &&
         (v == 0 || v == 0x20 || v == 0x40 || v == 0x80);
}

// Says why a line cannot be carried out on this client, whatever the debug level: a refusal
// the server's author needs to see.
int unable(const char* format, ...) __attribute__((format(printf, 1, 2)));
int unable(const char* format, ...) {
  char text[OT_PRINTF_BUFFER];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  otLog(OT_LOG_WARNING, "otclient: %s\n", text);
  return -1;
}

// A picture of the downloads folder, decoded only when its header gives a bounded size.
bool serverPixmap(const char* name, QPixmap* out) {
  QByteArray bytes;
  if (otReadServerFile(name, kMaxPictureBytes, &bytes) != 0) return false;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return false;
  QImageReader reader(&buffer);
  QSize size = reader.size();
  if (size.width() < 1 || size.height() < 1 ||
      (long long)size.width() * size.height() > kMaxPicturePixels)
    return false;
  QImage image;
  if (!reader.read(&image)) return false;
  *out = QPixmap::fromImage(image);
  return !out->isNull();
}

// An icon: "" for none, else a picture of the downloads folder; false when it cannot be read.
bool serverIcon(const char* name, QIcon* out) {
  *out = QIcon();
  if (name == nullptr || name[0] == '\0') return true;
  QPixmap pm;
  if (!serverPixmap(name, &pm)) return false;
  *out = QIcon(pm);
  return true;
}

// Writes data as name into the downloads folder. 0, or -1 (refusals are printed).
int storeFile(const char* name, const QByteArray& data) {
  otServerFileWriter file;
  if (file.begin(name, data.size()) != 0) return -1;
  if (file.write(data.constData(), data.size()) != 0) {
    file.abort();
    return -1;
  }
  return file.commit();
}

// The picture of a widget as it shows; a drawing widget's own picture.
QImage pictureOf(QWidget* w) {
  if (auto* draw = qobject_cast<QDrawWidget*>(w)) return draw->pixmap().toImage();
  return w->grab().toImage();
}

// ---- Every widget ---------------------------------------------------------------------------

int setFontDecorated(QWidget* w, const otCallLine& c, WidgetContext&) {
  int points = argInt(c, 2);
  if (!inRange(points, 1, 1000)) return -1;
  QFont f(argText(c, 1), points, argInt(c, 3) ? QFont::Bold : QFont::Normal, argInt(c, 4) != 0);
  f.setUnderline(argInt(c, 5) != 0);
  f.setStrikeOut(argInt(c, 6) != 0);
  w->setFont(f);
  return 0;
}

int copyToClipboard(QWidget* w, const otCallLine&, WidgetContext&) {
  QImage picture = pictureOf(w);
  if (picture.isNull()) return -1;
  QApplication::clipboard()->setImage(picture);
  return 0;
}

int saveAsBmp(QWidget* w, const otCallLine& c, WidgetContext&) {
  QImage picture = pictureOf(w);
  QByteArray bmp;
  QBuffer out(&bmp);
  if (picture.isNull() || !out.open(QIODevice::WriteOnly) || !picture.save(&out, "BMP")) return -1;
  return storeFile(c.textArg(1), bmp);
}

// ---- Labels, line edits, buttons, frames ----------------------------------------------------

int setAlignment(QWidget* w, const otCallLine& c, WidgetContext&) {
  int a = argInt(c, 1);
  if (!validAlignment(a)) return -1;
  if (auto* l = qobject_cast<QLabel*>(w)) {
    l->setAlignment(Qt::Alignment(a));
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setAlignment(Qt::Alignment(a & Qt::AlignHorizontal_Mask) |
                    (e->alignment() & Qt::AlignVertical_Mask));
  } else {
    return -1;
  }
  return 0;
}

int getText(QWidget* w, const otCallLine&, WidgetContext& ctx) {
  QString t;
  if (auto* l = qobject_cast<QLabel*>(w)) {
    t = l->text();
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    t = e->text();
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    t = b->text();
  } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
    t = cb->currentText();
  } else if (auto* pe = qobject_cast<QPlainTextEdit*>(w)) {
    t = pe->toPlainText();
  } else if (auto* te = qobject_cast<QTextEdit*>(w)) {
    t = te->toPlainText();
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    t = g->title();
  } else {
    return -1;
  }
  // myEvent says on standard output when the text does not fit one line.
  return myEvent(ctx.s, t.toUtf8().constData(), "text(%d,", ctx.id) < 0 ? -1 : 0;
}

int setStyle(QWidget* w, const otCallLine& c, WidgetContext& ctx) {
  int shape = argInt(c, 1), shadow = argInt(c, 2), lineWidth = argInt(c, 3), margin = argInt(c, 4);
  if (!inRange(shape, 0, 6) || (shadow != 16 && shadow != 32 && shadow != 48) ||
      !inRange(lineWidth, 0, 100) || !inRange(margin, 0, 1000))
    return -1;
  if (auto* f = qobject_cast<QFrame*>(w)) {
    // The numbers are Qt's own QFrame shapes and shadows.
    f->setFrameShape(static_cast<QFrame::Shape>(shape));
    f->setFrameShadow(static_cast<QFrame::Shadow>(shadow));
    f->setLineWidth(lineWidth);
    f->setContentsMargins(margin, margin, margin, margin);
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setFrame(shape != 0);
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    g->setFlat(shape == 0);
  } else {
    return unable("setStyle: widget %d has no frame on this client", ctx.id);
  }
  return 0;
}

int setMovie(QWidget* w, const otCallLine& c, WidgetContext& ctx) {
  auto* label = qobject_cast<QLabel*>(w);
  if (label == nullptr) return -1;
  QByteArray bytes;
  if (otReadServerFile(c.textArg(1), kMaxMovieBytes, &bytes) != 0) return -1;
  // The frames' size from the header, before any frame is decoded.
  QBuffer probe(&bytes);
  probe.open(QIODevice::ReadOnly);
  QSize size = QImageReader(&probe).size();
  auto* movie = new QMovie(label);
  auto* device = new QBuffer(movie);
  device->setData(bytes);
  device->open(QIODevice::ReadOnly);
  movie->setDevice(device);
  if (!size.isValid() || (long long)size.width() * size.height() > kMaxPicturePixels ||
      !movie->isValid()) {
    delete movie;
    return unable("setMovie(%d): \"%s\" is no animated picture this client can show", ctx.id,
                  c.textArg(1));
  }
  QMovie* old = label->movie();
  label->setMovie(movie);
  if (old != nullptr && old->parent() == label) delete old;
  movie->start();
  return 0;
}

QMovie* movieOf(QWidget* w) {
  auto* label = qobject_cast<QLabel*>(w);
  return label ? label->movie() : nullptr;
}

int movieControl(QWidget* w, const otCallLine& c, WidgetContext&) {
  QMovie* m = movieOf(w);
  if (m == nullptr) return -1;
  switch (argInt(c, 1)) {
    case 0:
      m->setPaused(true);
      return 0;
    case 1:
      if (m->state() == QMovie::NotRunning)
        m->start();
      else
        m->setPaused(false);
      return 0;
    case 2:
      m->stop();
      m->start();
      return 0;
    case 3:
      if (m->state() == QMovie::Running) m->setPaused(true);
      if (!m->jumpToNextFrame()) m->jumpToFrame(0);
      return 0;
    default:
      return -1;
  }
}

int movieSpeed(QWidget* w, const otCallLine& c, WidgetContext&) {
  QMovie* m = movieOf(w);
  if (m == nullptr || !inRange(argInt(c, 1), 1, 10000)) return -1;
  m->setSpeed(argInt(c, 1));
  return 0;
}

int setPixmap(QWidget* w, const otCallLine& c, WidgetContext&) {
  const char* name = c.textArg(1);
  QPixmap pm;
  if (name[0] != '\0' && !serverPixmap(name, &pm)) return -1;
  if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setIcon(QIcon(pm));
    if (!pm.isNull()) b->setIconSize(pm.size());
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    if (pm.isNull())
      l->clear();
    else
      l->setPixmap(pm);
  } else {
    return -1;
  }
  return 0;
}

int setEditable(QWidget* w, const otCallLine& c, WidgetContext&) {
  bool on = argInt(c, 1) != 0;
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setReadOnly(!on);
  } else if (auto* pe = qobject_cast<QPlainTextEdit*>(w)) {
    pe->setReadOnly(!on);
  } else if (auto* te = qobject_cast<QTextEdit*>(w)) {
    te->setReadOnly(!on);
  } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
    cb->setEditable(on);
  } else if (auto* t = qobject_cast<QTableWidget*>(w)) {
    t->setEditTriggers(on ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::AnyKeyPressed
                          : QAbstractItemView::NoEditTriggers);
  } else {
    return -1;
  }
  return 0;
}

// ---- Items ----------------------------------------------------------------------------------

int insertItem(QWidget* w, const otCallLine& c, WidgetContext&) {
  int index = argInt(c, 1);
  if (index < -1) return -1;
  if (auto* cb = qobject_cast<QComboBox*>(w)) {
    if (cb->count() >= kMaxItems) return -1;
    cb->insertItem(index < 0 || index > cb->count() ? cb->count() : index, argText(c, 2));
  } else if (auto* lw = qobject_cast<QListWidget*>(w)) {
    if (lw->count() >= kMaxItems) return -1;
    lw->insertItem(index < 0 || index > lw->count() ? lw->count() : index, argText(c, 2));
  } else {
    return -1;
  }
  return 0;
}

int removeItem(QWidget* w, const otCallLine& c, WidgetContext&) {
  int index = argInt(c, 1);
  if (auto* cb = qobject_cast<QComboBox*>(w)) {
    if (!inRange(index, 0, cb->count() - 1)) return -1;
    cb->removeItem(index);
  } else if (auto* lw = qobject_cast<QListWidget*>(w)) {
    if (!inRange(index, 0, lw->count() - 1)) return -1;
    delete lw->takeItem(index);
  } else {
    return -1;
  }
  return 0;
}

int removeItemByName(QWidget* w, const otCallLine& c, WidgetContext&) {
  QString t = argText(c, 1);
  if (auto* cb = qobject_cast<QComboBox*>(w)) {
    int i = cb->findText(t, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (i < 0) return -1;
    cb->removeItem(i);
  } else if (auto* lw = qobject_cast<QListWidget*>(w)) {
    QList<QListWidgetItem*> found = lw->findItems(t, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (found.isEmpty()) return -1;
    delete lw->takeItem(lw->row(found.first()));
  } else {
    return -1;
  }
  return 0;
}

int setCurrentItem(QWidget* w, const otCallLine& c, WidgetContext&) {
  int index = argInt(c, 1);
  if (auto* cb = qobject_cast<QComboBox*>(w)) {
    if (!inRange(index, 0, cb->count() - 1)) return -1;
    cb->setCurrentIndex(index);
  } else if (auto* lw = qobject_cast<QListWidget*>(w)) {
    if (!inRange(index, 0, lw->count() - 1)) return -1;
    lw->setCurrentRow(index);
  } else {
    return -1;
  }
  return 0;
}

int changeItem(QWidget* w, const otCallLine& c, WidgetContext&) {
  int index = argInt(c, 1);
  if (auto* cb = qobject_cast<QComboBox*>(w)) {
    if (!inRange(index, 0, cb->count() - 1)) return -1;
    cb->setItemText(index, argText(c, 2));
  } else if (auto* lw = qobject_cast<QListWidget*>(w)) {
    if (!inRange(index, 0, lw->count() - 1)) return -1;
    lw->item(index)->setText(argText(c, 2));
  } else {
    return -1;
  }
  return 0;
}

// The path of a list view item: "/top/child".
QString pathOf(QTreeWidgetItem* item) {
  QString path;
  for (; item != nullptr; item = item->parent())
    path.prepend('/' + item->text(0));
  return path;
}

int getSelection(QWidget* w, const otCallLine&, WidgetContext& ctx) {
  QStringList texts;
  if (auto* lw = qobject_cast<QListWidget*>(w)) {
    for (int i = 0; i < lw->count(); i++)
      if (lw->item(i)->isSelected()) texts << lw->item(i)->text();
  } else if (auto* tw = qobject_cast<QTreeWidget*>(w)) {
    for (QTreeWidgetItemIterator it(tw, QTreeWidgetItemIterator::Selected); *it; ++it)
      texts << pathOf(*it);
  } else {
    return -1;
  }
  QByteArray joined = texts.join('\n').toUtf8();
  return myEvent(ctx.s, joined.constData(), "selection(%d,0,", ctx.id) < 0 ? -1 : 0;
}

// ---- Drawing and tab widgets ----------------------------------------------------------------

int setZoom(QWidget* w, const otCallLine& c, bool x) {
  auto* draw = qobject_cast<QDrawWidget*>(w);
  double f = 0;
  if (draw == nullptr || c.floatArg(1, &f) < 0 || !(f >= -1000 && f <= 1000)) return -1;
  if (x)
    draw->setZoomX((float)f);
  else
    draw->setZoomY((float)f);
  return 0;
}

int setZoomX(QWidget* w, const otCallLine& c, WidgetContext&) {
  return setZoom(w, c, true);
}

int setZoomY(QWidget* w, const otCallLine& c, WidgetContext&) {
  return setZoom(w, c, false);
}

int setTabPosition(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* tw = qobject_cast<QTabWidget*>(w);
  if (tw == nullptr || !inRange(argInt(c, 1), 0, 3)) return -1;
  // The protocol's numbers are Qt's own: north, south, west, east.
  tw->setTabPosition(static_cast<QTabWidget::TabPosition>(argInt(c, 1)));
  return 0;
}

// ---- Tables ---------------------------------------------------------------------------------

MyTable* table(QWidget* w) {
  return qobject_cast<MyTable*>(w);
}

// Column x, row y of a table: the table, or null when it is none or the cell lies outside it.
MyTable* cellOf(QWidget* w, const otCallLine& c, int* x, int* y) {
  MyTable* t = table(w);
  *x = argInt(c, 1);
  *y = argInt(c, 2);
  if (t == nullptr || !inRange(*x, 0, t->columnCount() - 1) || !inRange(*y, 0, t->rowCount() - 1))
    return nullptr;
  return t;
}

QTableWidgetItem* itemAt(MyTable* t, int x, int y) {
  QTableWidgetItem* item = t->item(y, x);
  if (item == nullptr) {
    item = new QTableWidgetItem;
    t->setItem(y, x, item);
  }
  return item;
}

// Where a cell widget sits now (rows and columns may have been inserted since it was made).
bool cellOfWidget(MyTable* t, QWidget* cellWidget, int* x, int* y) {
  QModelIndex index = t->indexAt(cellWidget->geometry().center());
  if (!index.isValid() || t->cellWidget(index.row(), index.column()) != cellWidget) return false;
  *x = index.column();
  *y = index.row();
  return true;
}

// The event of a cell widget: tableText(id,x,y,"text"), or tableClicked(id,x,y,1) when text is
// null.
void cellEvent(QPointer<MyTable> t, QWidget* cellWidget, const QString* text) {
  int x = 0, y = 0;
  if (t == nullptr || !cellOfWidget(t, cellWidget, &x, &y)) return;
  if (text == nullptr)
    myEvent(t->s, nullptr, "tableClicked(%d,%d,%d,1)", t->id, x, y);
  else
    myEvent(t->s, text->toUtf8().constData(), "tableText(%d,%d,%d,", t->id, x, y);
}

int setTableButton(QWidget* w, const otCallLine& c, WidgetContext&) {
  int x, y;
  MyTable* t = cellOf(w, c, &x, &y);
  if (t == nullptr) return -1;
  auto* b = new QPushButton(argText(c, 3));
  QPointer<MyTable> owner(t);
  QObject::connect(b, &QPushButton::clicked, b, [owner, b] { cellEvent(owner, b, nullptr); });
  t->setCellWidget(y, x, b);
  return 0;
}

int setTableCheckBox(QWidget* w, const otCallLine& c, WidgetContext&) {
  int x, y;
  MyTable* t = cellOf(w, c, &x, &y);
  if (t == nullptr) return -1;
  auto* b = new QCheckBox(argText(c, 4));
  b->setChecked(argInt(c, 3) != 0);
  QPointer<MyTable> owner(t);
  QObject::connect(b, &QCheckBox::toggled, b, [owner, b](bool on) {
    QString state = on ? "1" : "0";
    cellEvent(owner, b, &state);
  });
  t->setCellWidget(y, x, b);
  return 0;
}

int setTableComboBox(QWidget* w, const otCallLine& c, WidgetContext&) {
  int x, y;
  MyTable* t = cellOf(w, c, &x, &y);
  if (t == nullptr) return -1;
  QStringList choices = argText(c, 4).split(',');
  if (choices.size() > kMaxChoices) return -1;
  auto* cb = new QComboBox;
  cb->setEditable(argInt(c, 3) != 0);
  cb->addItems(choices);
  QPointer<MyTable> owner(t);
  QObject::connect(cb, QOverload<int>::of(&QComboBox::activated), cb, [owner, cb](int index) {
    QString chosen = cb->itemText(index);
    cellEvent(owner, cb, &chosen);
  });
  if (cb->isEditable())
    QObject::connect(cb->lineEdit(), &QLineEdit::returnPressed, cb, [owner, cb] {
      QString typed = cb->currentText();
      cellEvent(owner, cb, &typed);
    });
  t->setCellWidget(y, x, cb);
  return 0;
}

int setTableLabel(QWidget* w, const otCallLine& c, WidgetContext&) {
  int x, y;
  MyTable* t = cellOf(w, c, &x, &y);
  if (t == nullptr) return -1;
  t->removeCellWidget(y, x);
  t->setTableText(x, y, argText(c, 3));
  QTableWidgetItem* item = itemAt(t, x, y);
  item->setFlags(item->flags() & ~Qt::ItemIsEditable);
  return 0;
}

int setColumnWidth(QWidget* w, const otCallLine& c, WidgetContext&) {
  MyTable* t = table(w);
  int column = argInt(c, 1), width = argInt(c, 2);
  if (t == nullptr || !inRange(column, 0, t->columnCount() - 1) || !inRange(width, 0, kMaxGeometry))
    return -1;
  t->setColumnWidth(column, width);
  return 0;
}

int setWordWrap(QWidget* w, const otCallLine& c, WidgetContext&) {
  MyTable* t = table(w);
  if (t == nullptr) return -1;
  t->setWordWrap(argInt(c, 1) != 0);
  return 0;
}

int setTablePixmap(QWidget* w, const otCallLine& c, WidgetContext&) {
  int x, y;
  MyTable* t = cellOf(w, c, &x, &y);
  QIcon icon;
  if (t == nullptr || !serverIcon(c.textArg(3), &icon)) return -1;
  itemAt(t, x, y)->setIcon(icon);
  return 0;
}

int ensureCellVisible(QWidget* w, const otCallLine& c, WidgetContext&) {
  int x, y;
  MyTable* t = cellOf(w, c, &x, &y);
  if (t == nullptr) return -1;
  t->scrollTo(t->model()->index(y, x));
  return 0;
}

int setCellEnabled(QWidget* w, const otCallLine& c, WidgetContext&) {
  int x, y;
  MyTable* t = cellOf(w, c, &x, &y);
  if (t == nullptr) return -1;
  bool on = argInt(c, 3) != 0;
  QTableWidgetItem* item = itemAt(t, x, y);
  item->setFlags(on ? item->flags() | Qt::ItemIsEnabled : item->flags() & ~Qt::ItemIsEnabled);
  if (QWidget* cellWidget = t->cellWidget(y, x)) cellWidget->setEnabled(on);
  return 0;
}

int setHeaderResizeEnabled(QWidget* w, const otCallLine& c, WidgetContext&) {
  MyTable* t = table(w);
  if (t == nullptr) return -1;
  QHeaderView* h = argInt(c, 1) ? t->verticalHeader() : t->horizontalHeader();
  auto mode = argInt(c, 2) ? QHeaderView::Interactive : QHeaderView::Fixed;
  int section = argInt(c, 3);
  if (section == -1)
    h->setSectionResizeMode(mode);
  else if (inRange(section, 0, h->count() - 1))
    h->setSectionResizeMode(section, mode);
  else
    return -1;
  return 0;
}

// Inserts count rows (or columns) at position, as many as the table's bounds leave room for.
int insertLines(QWidget* w, const otCallLine& c, bool rows) {
  MyTable* t = table(w);
  int at = argInt(c, 1), count = argInt(c, 2);
  if (t == nullptr || count < 1) return -1;
  int have = rows ? t->rowCount() : t->columnCount();
  if (!inRange(at, 0, have)) return -1;
  int grown = (int)qMin<long long>((long long)have + count, 1 << 30);
  int rowsAfter = rows ? grown : t->rowCount();
  int columnsAfter = rows ? t->columnCount() : grown;
  myTableFit(&rowsAfter, &columnsAfter, !rows);
  int room = (rows ? rowsAfter : columnsAfter) - have;
  if (room <= 0) return -1;
  if (rows)
    t->model()->insertRows(at, room);
  else
    t->model()->insertColumns(at, room);
  if (room < count)
    otLog(OT_LOG_WARNING, "otclient: table %d: %d of %d %s inserted, the table is at its bounds\n",
          t->id, room, count, rows ? "rows" : "columns");
  return 0;
}

int insertRows(QWidget* w, const otCallLine& c, WidgetContext&) {
  return insertLines(w, c, true);
}

int insertColumns(QWidget* w, const otCallLine& c, WidgetContext&) {
  return insertLines(w, c, false);
}

int removeRow(QWidget* w, const otCallLine& c, WidgetContext&) {
  MyTable* t = table(w);
  if (t == nullptr || !inRange(argInt(c, 1), 0, t->rowCount() - 1)) return -1;
  t->removeRow(argInt(c, 1));
  return 0;
}

int removeColumn(QWidget* w, const otCallLine& c, WidgetContext&) {
  MyTable* t = table(w);
  if (t == nullptr || !inRange(argInt(c, 1), 0, t->columnCount() - 1)) return -1;
  t->removeColumn(argInt(c, 1));
  return 0;
}

int setCellAlignment(QWidget* w, const otCallLine& c, WidgetContext&) {
  int x, y;
  MyTable* t = cellOf(w, c, &x, &y);
  if (t == nullptr || !validAlignment(argInt(c, 3))) return -1;
  itemAt(t, x, y)->setTextAlignment(argInt(c, 3));
  return 0;
}

// The text of a cell as the operator sees it: a check box gives "1" or "0", a combo box or
// button its text, any other cell its item's text.
QString cellText(MyTable* t, int x, int y) {
  QWidget* cellWidget = t->cellWidget(y, x);
  if (auto* check = qobject_cast<QCheckBox*>(cellWidget)) return check->isChecked() ? "1" : "0";
  if (auto* cb = qobject_cast<QComboBox*>(cellWidget)) return cb->currentText();
  if (auto* b = qobject_cast<QAbstractButton*>(cellWidget)) return b->text();
  QTableWidgetItem* item = t->item(y, x);
  return item ? item->text() : QString();
}

// The cells as CSV: a field holding the delimiter, a quote or a line break is quoted.
QByteArray csvOf(MyTable* t, char delimiter) {
  QByteArray out;
  if (t->columnCount() == 0) return out;
  for (int y = 0; y < t->rowCount(); y++) {
    for (int x = 0; x < t->columnCount(); x++) {
      if (x > 0) out += delimiter;
      QByteArray field = cellText(t, x, y).toUtf8();
      if (field.contains(delimiter) || field.contains('"') || field.contains('\n') ||
          field.contains('\r')) {
        field.replace("\"", "\"\"");
        field = '"' + field + '"';
      }
      out += field;
    }
    out += '\n';
  }
  return out;
}

bool csvDelimiter(int d) {
  return d == '\t' || (d >= 0x20 && d < 0x7f && d != '"');
}

int saveTable(QWidget* w, const otCallLine& c, WidgetContext&) {
  MyTable* t = table(w);
  if (t == nullptr) return -1;
  return storeFile(c.textArg(1), csvOf(t, ','));
}

int tableDump(QWidget* w, const otCallLine& c, WidgetContext& ctx) {
  MyTable* t = table(w);
  int d = argInt(c, 1);
  if (t == nullptr || !csvDelimiter(d)) {
    // The server waits for an answer: an empty block tells it at once that none comes.
    myEvent(ctx.s, nullptr, "@clipboard(%d,0)", ctx.id);
    return -1;
  }
  int rows = t->columnCount() == 0 ? 0 : t->rowCount();
  QByteArray block = "tableDump(" + QByteArray::number(rows) + ',' +
                     QByteArray::number(t->columnCount()) + ")\n" + csvOf(t, (char)d);
  if (myEvent(ctx.s, nullptr, "@clipboard(%d,%d)", ctx.id, block.size()) < 0) return -1;
  return tcp_send(ctx.s, block.constData(), block.size()) < 0 ? -1 : 0;
}

// ---- Multi-line edits and text browsers -----------------------------------------------------

template <typename Edit>
void moveCursorOf(Edit* e, int action) {
  static const QTextCursor::MoveOperation ops[] = {QTextCursor::PreviousCharacter,
                                                   QTextCursor::NextCharacter,
                                                   QTextCursor::PreviousWord,
                                                   QTextCursor::NextWord,
                                                   QTextCursor::Up,
                                                   QTextCursor::Down,
                                                   QTextCursor::StartOfLine,
                                                   QTextCursor::EndOfLine,
                                                   QTextCursor::Start,
                                                   QTextCursor::End,
                                                   QTextCursor::Up,
                                                   QTextCursor::Down};
  QTextCursor cursor = e->textCursor();
  // A page is as many lines as the view shows.
  int n =
      action >= 10 ? qMax(1, e->viewport()->height() / qMax(1, e->fontMetrics().lineSpacing())) : 1;
  cursor.movePosition(ops[action], QTextCursor::MoveAnchor, n);
  e->setTextCursor(cursor);
  e->ensureCursorVisible();
}

int moveCursor(QWidget* w, const otCallLine& c, WidgetContext&) {
  int action = argInt(c, 1);
  if (!inRange(action, 0, 11)) return -1;
  if (auto* pe = qobject_cast<QPlainTextEdit*>(w))
    moveCursorOf(pe, action);
  else if (auto* te = qobject_cast<QTextEdit*>(w))
    moveCursorOf(te, action);
  else
    return -1;
  return 0;
}

int setSource(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* browser = qobject_cast<QTextBrowser*>(w);
  const char* name = c.textArg(1);
  QByteArray page;
  // The page is looked at first: a name that is refused or missing leaves the shown one.
  if (browser == nullptr || otReadServerFile(name, 16 << 20, &page) != 0) return -1;
  QUrl url;
  url.setPath(QString::fromUtf8(name));
  browser->setSource(url);
  return 0;
}

int moveContent(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* area = qobject_cast<QAbstractScrollArea*>(w);
  if (area == nullptr || argInt(c, 1) < 0 || argInt(c, 2) < 0) return -1;
  area->horizontalScrollBar()->setValue(argInt(c, 1));
  area->verticalScrollBar()->setValue(argInt(c, 2));
  return 0;
}

// ---- List views -----------------------------------------------------------------------------

QTreeWidget* listView(QWidget* w) {
  return qobject_cast<MyListView*>(w);
}

// The item a path names; create makes the missing items on the way. Null for a bad path or,
// without create, a missing item.
QTreeWidgetItem* itemOf(QTreeWidget* view, const QString& path, bool create) {
  if (!path.startsWith('/')) return nullptr;
  QStringList parts = path.mid(1).split('/');
  if (parts.size() > kMaxDepth) return nullptr;
  QTreeWidgetItem* parent = view->invisibleRootItem();
  for (const QString& part : parts) {
    if (part.isEmpty()) return nullptr;
    QTreeWidgetItem* found = nullptr;
    for (int i = 0; i < parent->childCount() && found == nullptr; i++)
      if (parent->child(i)->text(0) == part) found = parent->child(i);
    if (found == nullptr) {
      if (!create || parent->childCount() >= kMaxItems) return nullptr;
      found = new QTreeWidgetItem(parent, QStringList(part));
    }
    parent = found;
  }
  return parent;
}

int addColumn(QWidget* w, const otCallLine& c, WidgetContext&) {
  QTreeWidget* view = listView(w);
  int width = argInt(c, 2);
  if (view == nullptr || !inRange(width, -1, kMaxGeometry)) return -1;
  // The first column is there from the start; it gets the first title.
  int named = view->property("hxNamedColumns").toInt();
  if (named >= kMaxColumns) return -1;
  if (named > 0) view->setColumnCount(named + 1);
  view->headerItem()->setText(named, argText(c, 1));
  view->setProperty("hxNamedColumns", named + 1);
  view->setHeaderHidden(false);
  if (width < 0)
    view->resizeColumnToContents(named);
  else
    view->setColumnWidth(named, width);
  return 0;
}

int setListViewText(QWidget* w, const otCallLine& c, WidgetContext&) {
  QTreeWidget* view = listView(w);
  int column = argInt(c, 2);
  QString t = argText(c, 3);
  if (view == nullptr || !inRange(column, 0, view->columnCount() - 1)) return -1;
  if (column == 0 && (t.isEmpty() || t.contains('/'))) return -1;
  QTreeWidgetItem* item = itemOf(view, argText(c, 1), true);
  if (item == nullptr) return -1;
  item->setText(column, t);
  return 0;
}

int setListViewPixmap(QWidget* w, const otCallLine& c, WidgetContext&) {
  QTreeWidget* view = listView(w);
  int column = argInt(c, 3);
  QIcon icon;
  if (view == nullptr || !inRange(column, 0, view->columnCount() - 1) ||
      !serverIcon(c.textArg(2), &icon))
    return -1;
  QTreeWidgetItem* item = itemOf(view, argText(c, 1), true);
  if (item == nullptr) return -1;
  item->setIcon(column, icon);
  return 0;
}

int removeListViewItem(QWidget* w, const otCallLine& c, WidgetContext&) {
  QTreeWidget* view = listView(w);
  QTreeWidgetItem* item = view ? itemOf(view, argText(c, 1), false) : nullptr;
  if (item == nullptr) return -1;
  delete item;
  return 0;
}

int setSorting(QWidget* w, const otCallLine& c, WidgetContext&) {
  QTreeWidget* view = listView(w);
  int column = argInt(c, 1);
  if (view == nullptr || !inRange(column, -1, view->columnCount() - 1)) return -1;
  if (column < 0) {
    view->setSortingEnabled(false);
  } else {
    view->setSortingEnabled(true);
    view->sortByColumn(column, argInt(c, 2) ? Qt::AscendingOrder : Qt::DescendingOrder);
  }
  return 0;
}

int listViewEnsureVisible(QWidget* w, const otCallLine& c, WidgetContext&) {
  QTreeWidget* view = listView(w);
  QTreeWidgetItem* item = view ? itemOf(view, argText(c, 1), false) : nullptr;
  if (item == nullptr) return -1;
  for (QTreeWidgetItem* up = item->parent(); up != nullptr; up = up->parent())
    up->setExpanded(true);
  view->scrollToItem(item);
  return 0;
}

// ---- Icon views -----------------------------------------------------------------------------

QListWidgetItem* iconItem(QListWidget* view, const QString& t) {
  QList<QListWidgetItem*> found = view->findItems(t, Qt::MatchExactly | Qt::MatchCaseSensitive);
  return found.isEmpty() ? nullptr : found.first();
}

int removeIconViewItem(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* view = qobject_cast<QListWidget*>(w);
  QListWidgetItem* item = view ? iconItem(view, argText(c, 1)) : nullptr;
  if (item == nullptr) return -1;
  delete item;
  return 0;
}

int setIconViewItem(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* view = qobject_cast<QListWidget*>(w);
  QIcon icon;
  if (view == nullptr || !serverIcon(c.textArg(2), &icon)) return -1;
  QListWidgetItem* item = iconItem(view, argText(c, 1));
  if (item == nullptr) {
    if (view->count() >= kMaxItems) return -1;
    item = new QListWidgetItem(argText(c, 1), view);
  }
  item->setIcon(icon);
  return 0;
}

// ---- Date and time edits --------------------------------------------------------------------

// A date edit or date-time edit (a time edit is a date-time edit too, but shows no date).
QDateTimeEdit* dateEdit(QWidget* w) {
  if (qobject_cast<QTimeEdit*>(w) != nullptr) return nullptr;
  return qobject_cast<QDateTimeEdit*>(w);
}

QDateTimeEdit* timeEdit(QWidget* w) {
  if (qobject_cast<QDateEdit*>(w) != nullptr) return nullptr;
  return qobject_cast<QDateTimeEdit*>(w);
}

int setDateOf(QWidget* w, const otCallLine& c, int which) {
  QDateTimeEdit* e = dateEdit(w);
  QDate d(argInt(c, 1), argInt(c, 2), argInt(c, 3));
  if (e == nullptr || !d.isValid() || !inRange(d.year(), 100, 9999)) return -1;
  if (which == 0)
    e->setDate(d);
  else if (which < 0)
    e->setMinimumDate(d);
  else
    e->setMaximumDate(d);
  return 0;
}

int setDate(QWidget* w, const otCallLine& c, WidgetContext&) {
  return setDateOf(w, c, 0);
}
int setMinDate(QWidget* w, const otCallLine& c, WidgetContext&) {
  return setDateOf(w, c, -1);
}
int setMaxDate(QWidget* w, const otCallLine& c, WidgetContext&) {
  return setDateOf(w, c, 1);
}

int setTimeOf(QWidget* w, const otCallLine& c, int which) {
  QDateTimeEdit* e = timeEdit(w);
  QTime t(argInt(c, 1), argInt(c, 2), argInt(c, 3), argInt(c, 4));
  if (e == nullptr || !t.isValid()) return -1;
  if (which == 0)
    e->setTime(t);
  else if (which < 0)
    e->setMinimumTime(t);
  else
    e->setMaximumTime(t);
  return 0;
}

int setTime(QWidget* w, const otCallLine& c, WidgetContext&) {
  return setTimeOf(w, c, 0);
}
int setMinTime(QWidget* w, const otCallLine& c, WidgetContext&) {
  return setTimeOf(w, c, -1);
}
int setMaxTime(QWidget* w, const otCallLine& c, WidgetContext&) {
  return setTimeOf(w, c, 1);
}

// A date-time edit shows its date part, a blank and its time part; each part is kept in a
// property so that setting one leaves the other.
void applyFormat(QDateTimeEdit* e) {
  QString date = e->property("hxDateFormat").toString();
  QString time = e->property("hxTimeFormat").toString();
  if (qobject_cast<QDateEdit*>(e) != nullptr) {
    if (!date.isEmpty()) e->setDisplayFormat(date);
  } else if (qobject_cast<QTimeEdit*>(e) != nullptr) {
    if (!time.isEmpty()) e->setDisplayFormat(time);
  } else {
    e->setDisplayFormat((date.isEmpty() ? "yyyy-MM-dd" : date) + ' ' +
                        (time.isEmpty() ? "HH:mm:ss" : time));
  }
}

int setDateOrder(QWidget* w, const otCallLine& c, WidgetContext&) {
  static const char* const formats[] = {"dd-MM-yyyy", "MM-dd-yyyy", "yyyy-MM-dd", "yyyy-dd-MM"};
  QDateTimeEdit* e = dateEdit(w);
  if (e == nullptr || !inRange(argInt(c, 1), 0, 3)) return -1;
  e->setProperty("hxDateFormat", formats[argInt(c, 1)]);
  applyFormat(e);
  return 0;
}

int setTimeEditDisplay(QWidget* w, const otCallLine& c, WidgetContext&) {
  QDateTimeEdit* e = timeEdit(w);
  bool ampm = argInt(c, 4) != 0;
  QStringList parts;
  if (argInt(c, 1)) parts << (ampm ? "hh" : "HH");
  if (argInt(c, 2)) parts << "mm";
  if (argInt(c, 3)) parts << "ss";
  if (e == nullptr || parts.isEmpty()) return -1;
  e->setProperty("hxTimeFormat", parts.join(':') + (ampm ? " AP" : ""));
  applyFormat(e);
  return 0;
}

// ---- VTK widgets ----------------------------------------------------------------------------

int vtkTcl(QWidget*, const otCallLine& c, WidgetContext& ctx) {
  // As for vtkTclScript: this client has no VTK with Tcl.
  otLog(OT_LOG_WARNING, "otclient: widget %d: no VTK with Tcl on this client; not run: %s\n",
        ctx.id, c.textArg(1));
  return 0;
}

// Every handler runs with the widget's signals blocked.
template <int (*Handler)(QWidget*, const otCallLine&, WidgetContext&)>
int quiet(QWidget* w, const otCallLine& c, WidgetContext& ctx) {
  QSignalBlocker blocker(w);
  return Handler(w, c, ctx);
}

#define ROW(name, signature) \
  { #name, signature, quiet < name>, 0 }

const WidgetCommand table_[] = {
    ROW(setFontDecorated, "isiiiii"),
    ROW(copyToClipboard, "i"),
    ROW(saveAsBmp, "is"),
    ROW(setAlignment, "ii"),
    ROW(getText, "i"),
    ROW(setStyle, "iiiii"),
    ROW(setMovie, "is"),
    ROW(movieControl, "ii"),
    ROW(movieSpeed, "ii"),
    ROW(setPixmap, "is"),
    ROW(setEditable, "ii"),
    ROW(insertItem, "iis"),
    ROW(removeItem, "ii"),
    ROW(removeItemByName, "is"),
    ROW(setCurrentItem, "ii"),
    ROW(changeItem, "iis"),
    ROW(getSelection, "i"),
    ROW(setZoomX, "if"),
    ROW(setZoomY, "if"),
    ROW(setTabPosition, "ii"),
    ROW(setTableButton, "iiis"),
    ROW(setTableCheckBox, "iiiis"),
    ROW(setTableComboBox, "iiiis"),
    ROW(setTableLabel, "iiis"),
    ROW(setColumnWidth, "iii"),
    ROW(setWordWrap, "ii"),
    ROW(setTablePixmap, "iiis"),
    ROW(ensureCellVisible, "iii"),
    ROW(setCellEnabled, "iiii"),
    ROW(setHeaderResizeEnabled, "iiii"),
    ROW(insertRows, "iii"),
    ROW(insertColumns, "iii"),
    ROW(removeRow, "ii"),
    ROW(removeColumn, "ii"),
    ROW(setCellAlignment, "iiii"),
    ROW(saveTable, "is"),
    ROW(tableDump, "ii"),
    ROW(moveCursor, "ii"),
    ROW(setSource, "is"),
    ROW(moveContent, "iii"),
    ROW(addColumn, "isi"),
    ROW(setListViewText, "isis"),
    ROW(setListViewPixmap, "issi"),
    ROW(removeListViewItem, "is"),
    ROW(setSorting, "iii"),
    ROW(listViewEnsureVisible, "is"),
    ROW(removeIconViewItem, "is"),
    ROW(setIconViewItem, "iss"),
    ROW(setDate, "iiii"),
    ROW(setMinDate, "iiii"),
    ROW(setMaxDate, "iiii"),
    ROW(setDateOrder, "ii"),
    ROW(setTime, "iiiii"),
    ROW(setMinTime, "iiiii"),
    ROW(setMaxTime, "iiiii"),
    ROW(setTimeEditDisplay, "iiiii"),
    ROW(vtkTcl, "is"),
};

#undef ROW

}  // namespace

const WidgetCommand* widgetCallCommands(int* count) {
  *count = (int)(sizeof(table_) / sizeof(table_[0]));
  return table_;
}

}  // namespace otclient
