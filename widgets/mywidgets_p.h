// Helpers shared by the widget classes: the one way they send an event line to the display
// server, and what every constructor does with its arguments.
#ifndef MYWIDGETS_P_H
#define MYWIDGETS_P_H

#include <QObject>
#include <QString>

class QWidget;

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

// The Qwt half of mySetRange: 0, or -1 when w is no Qwt widget with a range.
int myQwtSetRange(QWidget* w, double min, double max, double step);

// The object name given to a constructor; null leaves Qt's empty name.
inline void myNameWidget(QObject* o, const char* name) {
  if (name != nullptr) o->setObjectName(QString::fromUtf8(name));
}

// v rounded to the nearest integer, clamped to the range of int (0 for NaN).
int myRoundToInt(double v);

#endif
