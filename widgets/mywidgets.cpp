#include "mywidgets.h"

#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <climits>

#include <QMouseEvent>
#include <QPalette>

#include "mywidgets_p.h"
#include "otlog.h"
#include "otserverfiles.h"
#include "otinterpreter.h"
#include "tcputil.h"

int myEvent(int* s, const char* text, const char* fmt, ...) {
  // The design surface builds its widgets on a null socket; they must stay silent.
  if (s == nullptr || *s < 0 || fmt == nullptr) return -1;
  char line[MY_EVENT_LINE_MAX + 1];  // the line and the terminator snprintf insists on
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(line, sizeof(line), fmt, ap);
  va_end(ap);
  if (n < 0) return -1;
  if (text == nullptr) {
    if (n + 1 > MY_EVENT_LINE_MAX) {
      otLog(OT_LOG_WARNING, "myEvent: event line of %d bytes refused, at most %d\n", n + 1,
            MY_EVENT_LINE_MAX);
      return -1;
    }
    line[n++] = '\n';
    return tcp_send(s, line, n);
  }
  // Room for the opening quote, the escaped text with escapeString's terminator, and the
  // three bytes `")\n` that replace that terminator.
  int room = (int)sizeof(line) - n - 1 - 3;
  int len = -1;
  if (room > 0) {
    line[n] = '"';
    len = otInterpreter::escapeString(text, line + n + 1, room);
  }
  if (len < 0) {
    otLog(OT_LOG_WARNING,
          "myEvent: %.*s...: text of %d bytes does not fit into an event line of %d bytes, "
          "not sent\n",
          n < 40 ? n : 40, line, otInterpreter::escapedLength(text), MY_EVENT_LINE_MAX);
    return -1;
  }
  n += 1 + len;
  line[n++] = '"';
  line[n++] = ')';
  line[n++] = '\n';
  return tcp_send(s, line, n);
}

int myRoundToInt(double v) {
  if (v != v) return 0;
  if (v >= (double)INT_MAX) return INT_MAX;
  if (v <= (double)INT_MIN) return INT_MIN;
  return (int)lround(v);
}

namespace {

int clampInt(int v, int lo, int hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

Qt::Orientation orientationOf(int orientation) {
  return orientation == 1 ? Qt::Horizontal : Qt::Vertical;
}

QColor colorOf(int r, int g, int b) {
  return QColor(clampInt(r, 0, 255), clampInt(g, 0, 255), clampInt(b, 0, 255));
}

void setRoles(QWidget* w, std::initializer_list<QPalette::ColorRole> roles, const QColor& c) {
  QPalette p = w->palette();
  for (QPalette::ColorRole role : roles)
    p.setColor(role, c);
  w->setPalette(p);
}

// The button numbers of tableClicked.
int buttonNumber(Qt::MouseButton b) {
  switch (b) {
    case Qt::LeftButton:
      return 1;
    case Qt::MiddleButton:
      return 2;
    case Qt::RightButton:
      return 3;
    default:
      return 0;
  }
}

// A right press is the widget's own event: taken here, so that it does not travel on to a
// parent widget that would report it as its own right press too.
bool takeRightMouse(int* s, int id, QMouseEvent* e) {
  if (e->button() != Qt::RightButton) return false;
  myEvent(s, nullptr, "QMouseRight(%d)", id);
  e->accept();
  return true;
}

void sendSlider(int* s, int id, int value) {
  myEvent(s, nullptr, "slider(%d,%d)", id, value);
}

}  // namespace

void mySetBackgroundColor(QWidget* w, int r, int g, int b) {
  if (w == nullptr) return;
  setRoles(w, {QPalette::Window, QPalette::Base, QPalette::Button}, colorOf(r, g, b));
  w->setAutoFillBackground(true);
}

void mySetForegroundColor(QWidget* w, int r, int g, int b) {
  if (w == nullptr) return;
  setRoles(w, {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}, colorOf(r, g, b));
}

int mySetRange(QWidget* w, double min, double max, double step) {
  if (w == nullptr) return -1;
  int lo = myRoundToInt(min), hi = myRoundToInt(max), st = myRoundToInt(step);
  if (auto* slider = qobject_cast<QAbstractSlider*>(w)) {
    slider->setRange(lo, hi);
    if (st > 0) slider->setSingleStep(st);
    return 0;
  }
  if (auto* spin = qobject_cast<QSpinBox*>(w)) {
    spin->setRange(lo, hi);
    if (st > 0) spin->setSingleStep(st);
    return 0;
  }
  if (auto* bar = qobject_cast<QProgressBar*>(w)) {
    bar->setRange(lo, hi);
    return 0;
  }
  return myQwtSetRange(w, min, max, step);
}

MyQWidget::MyQWidget(int* sock, int ident, QWidget* parent, const char* name)
    : QWidget(parent), s(sock), id(ident) {
  myNameWidget(this, name);
}

MyQPushButton::MyQPushButton(int* sock, int ident, QWidget* parent, const char* name)
    : QPushButton(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  connect(this, &QPushButton::clicked, this,
          [this] { myEvent(s, nullptr, "QPushButton(%d)", id); });
  connect(this, &QPushButton::pressed, this,
          [this] { myEvent(s, nullptr, "QPushButtonPressed(%d)", id); });
  connect(this, &QPushButton::released, this,
          [this] { myEvent(s, nullptr, "QPushButtonReleased(%d)", id); });
}

void MyQPushButton::mousePressEvent(QMouseEvent* e) {
  if (!takeRightMouse(s, id, e)) QPushButton::mousePressEvent(e);
}

MyLabel::MyLabel(int* sock, int ident, QWidget* parent, const char* name)
    : QLabel(parent), s(sock), id(ident) {
  myNameWidget(this, name);
}

void MyLabel::mousePressEvent(QMouseEvent* e) {
  if (!takeRightMouse(s, id, e)) QLabel::mousePressEvent(e);
}

MyLineEdit::MyLineEdit(int* sock, int ident, QWidget* parent, const char* name)
    : QLineEdit(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  connect(this, &QLineEdit::returnPressed, this,
          [this] { myEvent(s, text().toUtf8().constData(), "text(%d,", id); });
}

MyComboBox::MyComboBox(int* sock, int ident, QWidget* parent, int editable, int policy,
                       const char* name)
    : QComboBox(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  setEditable(editable != 0);
  // The protocol's policy numbers are Qt's own InsertPolicy values.
  setInsertPolicy(policy >= QComboBox::NoInsert && policy <= QComboBox::InsertAlphabetically
                      ? static_cast<QComboBox::InsertPolicy>(policy)
                      : QComboBox::InsertAtBottom);
  connect(this, QOverload<int>::of(&QComboBox::activated), this,
          [this](int index) { myEvent(s, itemText(index).toUtf8().constData(), "text(%d,", id); });
  // Without an insert policy Qt drops a typed text on Return without a signal; the server
  // still hears what the user entered.
  if (isEditable() && insertPolicy() == QComboBox::NoInsert)
    connect(lineEdit(), &QLineEdit::returnPressed, this,
            [this] { myEvent(s, currentText().toUtf8().constData(), "text(%d,", id); });
}

MyQLCDNumber::MyQLCDNumber(int* sock, int ident, QWidget* parent, int digits, int segmentStyle,
                           int mode, const char* name)
    : QLCDNumber(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  setDigitCount(clampInt(digits, 1, 99));
  // Style and mode numbers are Qt's own enum values.
  if (segmentStyle >= QLCDNumber::Outline && segmentStyle <= QLCDNumber::Flat)
    setSegmentStyle(static_cast<QLCDNumber::SegmentStyle>(segmentStyle));
  if (mode >= QLCDNumber::Hex && mode <= QLCDNumber::Bin)
    setMode(static_cast<QLCDNumber::Mode>(mode));
}

MySlider::MySlider(int* sock, int ident, QWidget* parent, int min, int max, int step, int value,
                   int orientation, const char* name)
    : QSlider(orientationOf(orientation), parent), s(sock), id(ident) {
  myNameWidget(this, name);
  setRange(min, max);
  setSingleStep(step > 0 ? step : 1);
  setValue(value);
  connect(this, &QSlider::valueChanged, this, [this](int v) { sendSlider(s, id, v); });
}

MyButtonGroup::MyButtonGroup(int* sock, int ident, QWidget* parent, int cols, int orient,
                             const QString& title, const char* name)
    : QGroupBox(title, parent), s(sock), id(ident), columns(cols), orientation(orient) {
  myNameWidget(this, name);
}

MyRadioButton::MyRadioButton(int* sock, int ident, QWidget* parent, const char* name)
    : QRadioButton(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  connect(this, &QRadioButton::toggled, this,
          [this](bool on) { myEvent(s, on ? "1" : "0", "radio(%d,", id); });
}

void MyRadioButton::mousePressEvent(QMouseEvent* e) {
  if (!takeRightMouse(s, id, e)) QRadioButton::mousePressEvent(e);
}

MyCheckBox::MyCheckBox(int* sock, int ident, QWidget* parent, const char* name)
    : QCheckBox(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  connect(this, &QCheckBox::toggled, this,
          [this](bool on) { myEvent(s, on ? "1" : "0", "check(%d,", id); });
}

void MyCheckBox::mousePressEvent(QMouseEvent* e) {
  if (!takeRightMouse(s, id, e)) QCheckBox::mousePressEvent(e);
}

MyFrame::MyFrame(int* sock, int ident, QWidget* parent, int shape, int shadow, int lineWidth,
                 int margin, const char* name)
    : QFrame(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  // Shape and shadow numbers are Qt's own enum values.
  setFrameShape(shape >= QFrame::NoFrame && shape <= QFrame::StyledPanel
                    ? static_cast<QFrame::Shape>(shape)
                    : QFrame::NoFrame);
  setFrameShadow(shadow == QFrame::Raised || shadow == QFrame::Sunken
                     ? static_cast<QFrame::Shadow>(shadow)
                     : QFrame::Plain);
  setLineWidth(clampInt(lineWidth, 0, 100));
  int m = clampInt(margin, 0, 1000);
  setContentsMargins(m, m, m, m);
}

MyGroupBox::MyGroupBox(int* sock, int ident, QWidget* parent, int cols, int orient,
                       const QString& title, const char* name)
    : QGroupBox(title, parent), s(sock), id(ident), columns(cols), orientation(orient) {
  myNameWidget(this, name);
}

MyQTabWidget::MyQTabWidget(int* sock, int ident, QWidget* parent, const char* name)
    : QTabWidget(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  connect(this, &QTabWidget::currentChanged, this,
          [this](int page) { myEvent(s, nullptr, "tab(%d,%d)", id, page); });
}

MyQToolBox::MyQToolBox(int* sock, int ident, QWidget* parent, const char* name)
    : QToolBox(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  connect(this, &QToolBox::currentChanged, this,
          [this](int page) { myEvent(s, nullptr, "tab(%d,%d)", id, page); });
}

MySpinBox::MySpinBox(int* sock, int ident, QWidget* parent, int min, int max, int step,
                     const char* name)
    : QSpinBox(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  setRange(min, max);
  setSingleStep(step > 0 ? step : 1);
  connect(this, QOverload<int>::of(&QSpinBox::valueChanged), this,
          [this](int v) { sendSlider(s, id, v); });
}

MyDial::MyDial(int* sock, int ident, QWidget* parent, int min, int max, int step, int value,
               const char* name)
    : QDial(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  setRange(min, max);
  setSingleStep(step > 0 ? step : 1);
  setValue(value);
  connect(this, &QDial::valueChanged, this, [this](int v) { sendSlider(s, id, v); });
}

MyProgressBar::MyProgressBar(int* sock, int ident, QWidget* parent, int totalSteps, int orientation,
                             const char* name)
    : QProgressBar(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  setRange(0, totalSteps > 0 ? totalSteps : 0);
  setOrientation(orientationOf(orientation));
}

MyMultiLineEdit::MyMultiLineEdit(int* sock, int ident, QWidget* parent, int editable, int maxLines,
                                 const char* name)
    : QPlainTextEdit(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  setReadOnly(editable == 0);
  setMaximumBlockCount(maxLines > 0 ? maxLines : 0);
}

MyTextBrowser::MyTextBrowser(int* sock, int ident, QWidget* parent, const char* name)
    : QTextBrowser(parent), s(sock), id(ident) {
  myNameWidget(this, name);
}

QVariant MyTextBrowser::loadResource(int type, const QUrl& name) {
  if (name.scheme() == "data") return QTextBrowser::loadResource(type, name);
  QByteArray bytes;
  if (otReadServerResource(name.toString(), &bytes) != 0) return QVariant();
  if (type == QTextDocument::HtmlResource) return otServerRichText(QString::fromUtf8(bytes));
  return bytes;
}

MyListView::MyListView(int* sock, int ident, QWidget* parent, const char* name)
    : QTreeWidget(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  setColumnCount(1);
  setHeaderHidden(true);
  setRootIsDecorated(false);
  connect(this, &QTreeWidget::itemSelectionChanged, this, [this] {
    QTreeWidgetItem* item = currentItem();
    if (item == nullptr || !item->isSelected()) return;
    int column = currentColumn() >= 0 ? currentColumn() : 0;
    myEvent(s, item->text(column).toUtf8().constData(), "selection(%d,%d,", id, column);
  });
}

void MyListView::addItem(const QString& text) {
  addTopLevelItem(new QTreeWidgetItem(QStringList(text)));
}

MyListBox::MyListBox(int* sock, int ident, QWidget* parent, const char* name)
    : QListWidget(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  connect(this, &QListWidget::itemSelectionChanged, this, [this] {
    QListWidgetItem* item = currentItem();
    if (item == nullptr || !item->isSelected()) return;
    myEvent(s, item->text().toUtf8().constData(), "selection(%d,0,", id);
  });
}

MyIconView::MyIconView(int* sock, int ident, QWidget* parent, const char* name)
    : MyListBox(sock, ident, parent, name) {
  setViewMode(QListView::IconMode);
}

MyTable::MyTable(int* sock, int ident, QWidget* parent, int rows, int columns, const char* name)
    : QTableWidget(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  myTableFit(&rows, &columns);
  setRowCount(rows);
  setColumnCount(columns);
  connect(this, &QTableWidget::cellChanged, this, [this](int row, int column) {
    if (programmatic_) return;
    QTableWidgetItem* cell = item(row, column);
    QByteArray text = cell != nullptr ? cell->text().toUtf8() : QByteArray();
    myEvent(s, text.constData(), "tableText(%d,%d,%d,", id, column, row);
  });
}

int MyTable::setTableText(int x, int y, const QString& text) {
  // Whatever this sets is the server's own text: no tableText goes back for it.
  struct Quiet {
    bool& flag;
    explicit Quiet(bool& f) : flag(f) { flag = true; }
    ~Quiet() { flag = false; }
  } quiet(programmatic_);
  if (y == -1 && x >= 0 && x < columnCount()) {
    if (QTableWidgetItem* h = horizontalHeaderItem(x))
      h->setText(text);
    else
      setHorizontalHeaderItem(x, new QTableWidgetItem(text));
    return 0;
  }
  if (x == -1 && y >= 0 && y < rowCount()) {
    if (QTableWidgetItem* h = verticalHeaderItem(y))
      h->setText(text);
    else
      setVerticalHeaderItem(y, new QTableWidgetItem(text));
    return 0;
  }
  if (x < 0 || y < 0 || x >= columnCount() || y >= rowCount()) return -1;
  if (QTableWidgetItem* cell = item(y, x))
    cell->setText(text);
  else
    setItem(y, x, new QTableWidgetItem(text));
  return 0;
}

bool myTableFit(int* rows, int* columns, bool fitColumns) {
  int r = clampInt(*rows, 0, MY_TABLE_MAX_ROWS), c = clampInt(*columns, 0, MY_TABLE_MAX_COLS);
  if ((long long)r * c > MY_TABLE_MAX_CELLS) {
    if (fitColumns)
      c = MY_TABLE_MAX_CELLS / r;
    else
      r = MY_TABLE_MAX_CELLS / c;
  }
  bool cut = r != *rows || c != *columns;
  *rows = r;
  *columns = c;
  return cut;
}

int MyTable::setNumRows(int n) {
  if (n < 0) return -1;
  int c = columnCount();
  bool cut = myTableFit(&n, &c);
  setRowCount(n);
  return cut ? 1 : 0;
}

int MyTable::setNumCols(int n) {
  if (n < 0) return -1;
  int r = rowCount();
  bool cut = myTableFit(&r, &n, true);
  setColumnCount(n);
  return cut ? 1 : 0;
}

void MyTable::mousePressEvent(QMouseEvent* e) {
  QModelIndex cell = indexAt(e->pos());
  if (cell.isValid())
    myEvent(s, nullptr, "tableClicked(%d,%d,%d,%d)", id, cell.column(), cell.row(),
            buttonNumber(e->button()));
  QTableWidget::mousePressEvent(e);
}

MyQDateEdit::MyQDateEdit(int* sock, int ident, QWidget* parent, const char* name)
    : QDateEdit(parent), s(sock), id(ident) {
  myNameWidget(this, name);
}

MyQTimeEdit::MyQTimeEdit(int* sock, int ident, QWidget* parent, const char* name)
    : QTimeEdit(parent), s(sock), id(ident) {
  myNameWidget(this, name);
}

MyQDateTimeEdit::MyQDateTimeEdit(int* sock, int ident, QWidget* parent, const char* name)
    : QDateTimeEdit(parent), s(sock), id(ident) {
  myNameWidget(this, name);
}
