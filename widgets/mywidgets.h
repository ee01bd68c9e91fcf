// The Qt widget classes of the display client. The client's interpreter builds one of them
// for each constructor line of the display protocol; the development environment places the
// same classes on its design surface.
//
// Every class keeps the connection handle s (a pointer to the slot number, see tcputil.h) and
// the widget id that the server gave it, and reports user actions as one event line each.
// Built with a handle that is null or holds -1 (the design surface's null socket) and id 0, a
// widget never sends. Widgets report changes of their state (value, check state, current
// page) whether the user or the program made them; only a table reports edited cells for the
// user's edits alone, so that the server filling a table hears nothing back.
//
// Colours: the client sets background and foreground of any widget with
// mySetBackgroundColor and mySetForegroundColor (palette roles plus autoFillBackground);
// style sheets are left to the user's own styling.
#ifndef MYWIDGETS_H
#define MYWIDGETS_H

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QDial>
#include <QFrame>
#include <QGroupBox>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTimeEdit>
#include <QToolBox>
#include <QTreeWidget>
#include <QWidget>

// The longest event line, line feed included; the server refuses longer ones whole.
enum { MY_EVENT_LINE_MAX = 16384 };

// Sends one event line: fmt (printf-style) formats the line up to its last argument; when
// text is null, that is the whole line; otherwise text follows as the last argument, quoted
// and escaped (otInterpreter::escapeString), then ")". The line feed is added here.
//   myEvent(s, nullptr, "QPushButton(%d)", id)  ->  QPushButton(7)\n
//   myEvent(s, "a\"b", "text(%d,", id)          ->  text(7,"a\"b")\n
// Returns what tcp_send returns; -1 without a word when s is null or holds -1 (the design
// surface, a closed connection), and -1 with a message on standard output when the line would
// exceed MY_EVENT_LINE_MAX: a text is never cut.
int myEvent(int* s, const char* text, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

class QMouseEvent;

// Largest table the server may ask for: rows, columns and cells. No operator reads more, and
// Qt's table grows without bound (100000 x 100000 cells crash it).
enum { MY_TABLE_MAX_ROWS = 10000, MY_TABLE_MAX_COLS = 1000, MY_TABLE_MAX_CELLS = 1000000 };
// Fits a table size into the bounds above (negative counts become 0; a table of too many
// cells loses columns first when fitColumns, else rows). True when it was cut.
bool myTableFit(int* rows, int* columns, bool fitColumns = false);

// Background (window, base and button roles) and foreground (the text roles) of any widget.
// The background fills the whole widget rectangle.
void mySetBackgroundColor(QWidget* w, int r, int g, int b);
void mySetForegroundColor(QWidget* w, int r, int g, int b);

// The protocol's setRange(id,min,max,step) for every widget that has a range: sliders,
// dials, spin boxes, progress bars and the Qwt widgets (see myqwtwidgets.h). Integer widgets
// take the values rounded; a step of 0 or less keeps the widget's step. Returns 0, or -1 when
// w is null or has no range.
int mySetRange(QWidget* w, double min, double max, double step);

class MyQWidget : public QWidget {
  Q_OBJECT
 public:
  MyQWidget(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

// Sends QPushButton(id) on click, QPushButtonPressed(id) and QPushButtonReleased(id) around it,
// and QMouseRight(id) on a right mouse press.
class MyQPushButton : public QPushButton {
  Q_OBJECT
 public:
  MyQPushButton(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;

 protected:
  void mousePressEvent(QMouseEvent* e) override;
};

// Sends QMouseRight(id) on a right mouse press.
class MyLabel : public QLabel {
  Q_OBJECT
 public:
  MyLabel(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;

 protected:
  void mousePressEvent(QMouseEvent* e) override;
};

// Sends text(id,"text") when the user presses Return.
class MyLineEdit : public QLineEdit {
  Q_OBJECT
 public:
  MyLineEdit(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

// policy: 0 no insert, 1 at top, 2 at current, 3 at bottom, 4 after current, 5 before current,
// 6 alphabetically; another value means 3. Sends text(id,"item text") when an item is chosen,
// in an editable box also the text typed and confirmed with Return.
class MyComboBox : public QComboBox {
  Q_OBJECT
 public:
  MyComboBox(int* sock, int ident, QWidget* parent, int editable, int policy,
             const char* name = nullptr);
  int* s;
  int id;
};

// digits 1 to 99; segmentStyle 0 outline, 1 filled, 2 flat; mode 0 hex, 1 dec, 2 oct, 3 bin.
// Out-of-range values fall back to Qt's defaults. No events.
class MyQLCDNumber : public QLCDNumber {
  Q_OBJECT
 public:
  MyQLCDNumber(int* sock, int ident, QWidget* parent, int digits, int segmentStyle, int mode,
               const char* name = nullptr);
  // setText(id,"text") shows the text as display(text) does.
  void setText(const QString& text) { display(text); }
  int* s;
  int id;
};

// orientation 1 horizontal, 2 vertical (anything else: vertical). Sends slider(id,value).
class MySlider : public QSlider {
  Q_OBJECT
 public:
  MySlider(int* sock, int ident, QWidget* parent, int min, int max, int step, int value,
           int orientation, const char* name = nullptr);
  int* s;
  int id;
};

// A titled group box; radio buttons made its children exclude each other. columns and
// orientation are kept for the caller: the server places the children itself.
class MyButtonGroup : public QGroupBox {
  Q_OBJECT
 public:
  MyButtonGroup(int* sock, int ident, QWidget* parent, int cols, int orient, const QString& title,
                const char* name = nullptr);
  void setText(const QString& text) { setTitle(text); }
  int* s;
  int id;
  int columns;
  int orientation;
};

// Sends radio(id,"1") when checked and radio(id,"0") when unchecked (also when a sibling
// takes over the check), QMouseRight(id) on a right mouse press.
class MyRadioButton : public QRadioButton {
  Q_OBJECT
 public:
  MyRadioButton(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;

 protected:
  void mousePressEvent(QMouseEvent* e) override;
};

// Sends check(id,"1") or check(id,"0") on every change, QMouseRight(id) on a right press.
class MyCheckBox : public QCheckBox {
  Q_OBJECT
 public:
  MyCheckBox(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;

 protected:
  void mousePressEvent(QMouseEvent* e) override;
};

// shape 0 none, 1 box, 2 panel, 3 win panel, 4 horizontal line, 5 vertical line, 6 styled
// panel; shadow 16 plain, 32 raised, 48 sunken; lineWidth 0 to 100; margin 0 to 1000 pixels
// inside the frame. Out-of-range values are clamped (shape and shadow: none and plain).
class MyFrame : public QFrame {
  Q_OBJECT
 public:
  MyFrame(int* sock, int ident, QWidget* parent, int shape, int shadow, int lineWidth, int margin,
          const char* name = nullptr);
  int* s;
  int id;
};

// As MyButtonGroup, without the radio-button meaning.
class MyGroupBox : public QGroupBox {
  Q_OBJECT
 public:
  MyGroupBox(int* sock, int ident, QWidget* parent, int cols, int orient, const QString& title,
             const char* name = nullptr);
  void setText(const QString& text) { setTitle(text); }
  int* s;
  int id;
  int columns;
  int orientation;
};

// Sends tab(id,page) when the current page changes (adding the first page makes it current).
class MyQTabWidget : public QTabWidget {
  Q_OBJECT
 public:
  MyQTabWidget(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

// Sends tab(id,page) when the current item changes.
class MyQToolBox : public QToolBox {
  Q_OBJECT
 public:
  MyQToolBox(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

// Sends slider(id,value).
class MySpinBox : public QSpinBox {
  Q_OBJECT
 public:
  MySpinBox(int* sock, int ident, QWidget* parent, int min, int max, int step,
            const char* name = nullptr);
  int* s;
  int id;
};

// Sends slider(id,value).
class MyDial : public QDial {
  Q_OBJECT
 public:
  MyDial(int* sock, int ident, QWidget* parent, int min, int max, int step, int value,
         const char* name = nullptr);
  int* s;
  int id;
};

// Range 0 to totalSteps (a negative count counts as 0); orientation as MySlider. No events.
class MyProgressBar : public QProgressBar {
  Q_OBJECT
 public:
  MyProgressBar(int* sock, int ident, QWidget* parent, int totalSteps, int orientation,
                const char* name = nullptr);
  int* s;
  int id;
};

// Plain text; editable 0 makes it read-only; maxLines above 0 keeps only the last maxLines
// lines, 0 or less means no limit. No events.
class MyMultiLineEdit : public QPlainTextEdit {
  Q_OBJECT
 public:
  MyMultiLineEdit(int* sock, int ident, QWidget* parent, int editable, int maxLines,
                  const char* name = nullptr);
  void setText(const QString& text) { setPlainText(text); }
  int* s;
  int id;
};

// Rich text display. No events.
class MyTextBrowser : public QTextBrowser {
  Q_OBJECT
 public:
  MyTextBrowser(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  // Pages, pictures and style sheets, also those of links the user follows, come from the
  // downloads folder only (data: URLs aside): the text is the server's.
  QVariant loadResource(int type, const QUrl& name) override;
  int* s;
  int id;
};

// A single-column tree without header. Sends selection(id,column,"text") for the item the user
// selects, with the column the user pointed at.
class MyListView : public QTreeWidget {
  Q_OBJECT
 public:
  MyListView(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  // Appends a top-level item.
  void addItem(const QString& text);
  int* s;
  int id;
};

// Sends selection(id,0,"text") for the item the user selects.
class MyListBox : public QListWidget {
  Q_OBJECT
 public:
  MyListBox(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

// A list box in icon mode; same events.
class MyIconView : public MyListBox {
  Q_OBJECT
 public:
  MyIconView(int* sock, int ident, QWidget* parent, const char* name = nullptr);
};

// rows and columns within the bounds of myTableFit. A mouse press on a cell sends
// tableClicked(id,column,row,button), button 1 left, 2 middle, 3 right (the X11 numbering), 0
// any other. A cell the user edited sends
// tableText(id,column,row,"text"); setTableText sends nothing.
class MyTable : public QTableWidget {
  Q_OBJECT
 public:
  MyTable(int* sock, int ident, QWidget* parent, int rows, int columns, const char* name = nullptr);
  // Text of column x, row y; y = -1 is the header of column x, x = -1 the header of row y.
  // Returns 0, or -1 when the cell lies outside the table (nothing changes).
  int setTableText(int x, int y, const QString& text);
  // Table size; 0, 1 when n was cut to the bounds (myTableFit), or -1 for a negative n (the
  // size stays).
  int setNumRows(int n);
  int setNumCols(int n);
  int* s;
  int id;

 protected:
  void mousePressEvent(QMouseEvent* e) override;

 private:
  bool programmatic_ = false;
};

class MyQDateEdit : public QDateEdit {
  Q_OBJECT
 public:
  MyQDateEdit(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

class MyQTimeEdit : public QTimeEdit {
  Q_OBJECT
 public:
  MyQTimeEdit(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

class MyQDateTimeEdit : public QDateTimeEdit {
  Q_OBJECT
 public:
  MyQDateTimeEdit(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

#endif
