// The texts-and-values family of the core commands: texts, fonts, colours, tool tips, check
// marks, values, ranges and the LCD number's display.
#include "corecommands.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QGroupBox>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBox>
#include <qwt_abstract_slider.h>
#include <qwt_counter.h>
#include <qwt_thermo.h>
#include <qwt_wheel.h>

#include "interpreter.h"
#include "mywidgets.h"
#include "otserverfiles.h"

using namespace otclient;

namespace {

QColor colour(const otCallLine& c, int first) {
  int r = 0, g = 0, b = 0;
  c.intArg(first, &r);
  c.intArg(first + 1, &g);
  c.intArg(first + 2, &b);
  return QColor(qBound(0, r, 255), qBound(0, g, 255), qBound(0, b, 255));
}

// The value of a widget that shows a number: the Qwt widgets and the LCD number.
bool setNumber(QWidget* w, double v) {
  if (auto* qs = qobject_cast<QwtAbstractSlider*>(w)) {
    qs->setValue(v);
  } else if (auto* qc = qobject_cast<QwtCounter*>(w)) {
    qc->setValue(v);
  } else if (auto* qt = qobject_cast<QwtThermo*>(w)) {
    qt->setValue(v);
  } else if (auto* qw = qobject_cast<QwtWheel*>(w)) {
    qw->setValue(v);
  } else if (auto* lcd = qobject_cast<QLCDNumber*>(w)) {
    lcd->display(v);
  } else {
    return false;
  }
  return true;
}

void setText(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int id) {
  QString t = argText(c, 1);
  if (id == 0) {
    w->window()->setWindowTitle(t);
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setText(t);
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    // Rich text takes its pictures from the downloads folder only.
    l->setText(otServerRichText(t));
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(t);
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    g->setTitle(t);
  } else if (auto* te = qobject_cast<QTextEdit*>(w)) {
    te->setHtml(otServerRichText(t));
  } else if (auto* pe = qobject_cast<QPlainTextEdit*>(w)) {
    pe->setPlainText(t);
  } else if (auto* lcd = qobject_cast<QLCDNumber*>(w)) {
    lcd->display(t);
  } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
    cb->setCurrentText(t);
  } else {
    in.refuse("setText: widget %d has no text\n", id);
  }
}

void setFont(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int) {
  int points = argInt(c, 2);
  if (!inRange(points, 1, 1000)) {
    in.refuse("setFont: %d points refused\n", points);
    return;
  }
  QFont f(argText(c, 1), points, argInt(c, 3) ? QFont::Bold : QFont::Normal, argInt(c, 4) != 0);
  w->setFont(f);
}

void setBackgroundColor(otClientInterpreter&, QWidget* w, const otCallLine& c, Command cmd, int) {
  QColor col = colour(c, 1);
  if (cmd == CmdSetBackgroundColor)
    mySetBackgroundColor(w, col.red(), col.green(), col.blue());
  else
    mySetForegroundColor(w, col.red(), col.green(), col.blue());
}

void setToolTip(otClientInterpreter&, QWidget* w, const otCallLine& c, Command, int) {
  w->setToolTip(otServerRichText(argText(c, 1)));
}

void setChecked(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int id) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    if (!b->isCheckable()) b->setCheckable(true);
    b->setChecked(argInt(c, 1) != 0);
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    g->setCheckable(true);
    g->setChecked(argInt(c, 1) != 0);
  } else {
    in.refuse("setChecked: widget %d cannot be checked\n", id);
  }
}

void setValue(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int id) {
  int v = argInt(c, 1);
  if (auto* sl = qobject_cast<QAbstractSlider*>(w)) {
    sl->setValue(v);
  } else if (auto* sb = qobject_cast<QSpinBox*>(w)) {
    sb->setValue(v);
  } else if (auto* pb = qobject_cast<QProgressBar*>(w)) {
    pb->setValue(v);
  } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
    if (inRange(v, 0, cb->count() - 1)) cb->setCurrentIndex(v);
  } else if (auto* tw = qobject_cast<QTabWidget*>(w)) {
    if (inRange(v, 0, tw->count() - 1)) tw->setCurrentIndex(v);
  } else if (auto* tb = qobject_cast<QToolBox*>(w)) {
    if (inRange(v, 0, tb->count() - 1)) tb->setCurrentIndex(v);
  } else if (!setNumber(w, v)) {
    in.refuse("setValue: widget %d has no value\n", id);
  }
}

void setFloat(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int id) {
  if (!setNumber(w, argFloat(c, 1))) in.refuse("setFloat: widget %d has no number\n", id);
}

void setRange(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int id) {
  if (mySetRange(w, argFloat(c, 1), argFloat(c, 2), argFloat(c, 3)) < 0)
    in.refuse("setRange: widget %d has no range\n", id);
}

void displayNum(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command cmd, int id) {
  auto* lcd = qobject_cast<QLCDNumber*>(w);
  if (lcd == nullptr) {
    in.refuse("%s: widget %d is no LCD number\n", c.name, id);
  } else if (cmd == CmdDisplayNum) {
    lcd->display(argInt(c, 1));
  } else if (cmd == CmdDisplayFloat) {
    lcd->display(argFloat(c, 1));
  } else {
    lcd->display(argText(c, 1));
  }
}

const CoreCommand kTable[] = {
    {CmdSetText, CORE_WIDGET, setText},
    {CmdSetFont, CORE_WIDGET, setFont},
    {CmdSetBackgroundColor, CORE_WIDGET, setBackgroundColor},
    {CmdSetForegroundColor, CORE_WIDGET, setBackgroundColor},
    {CmdSetToolTip, CORE_WIDGET, setToolTip},
    {CmdSetChecked, CORE_WIDGET, setChecked},
    {CmdSetValue, CORE_WIDGET, setValue},
    {CmdSetFloat, CORE_WIDGET, setFloat},
    {CmdSetRange, CORE_WIDGET, setRange},
    {CmdDisplayNum, CORE_WIDGET, displayNum},
    {CmdDisplayFloat, CORE_WIDGET, displayNum},
    {CmdDisplayStr, CORE_WIDGET, displayNum},
};

}  // namespace

namespace otclient {

const CoreCommand* valueCommands(int* count) {
  *count = (int)(sizeof(kTable) / sizeof(kTable[0]));
  return kTable;
}

}  // namespace otclient
