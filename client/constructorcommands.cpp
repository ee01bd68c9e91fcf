// The constructor family of the core commands: the widget each constructor command makes
// (the interpreter checks the id and the parent first, and places what is made).
#include "corecommands.h"

#include <stdio.h>

#include <QLabel>

#include "hxglwidget.h"
#include "interpreter.h"
#include "myqwtwidgets.h"
#include "mywidgets.h"
#include "otlog.h"
#include "qdrawwidget.h"
#include "qimagewidget.h"

using namespace otclient;

namespace {

QWidget* makeQWidget(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQWidget(s, id, p);
}

QWidget* makeQPushButton(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQPushButton(s, id, p);
}

QWidget* makeQLabel(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyLabel(s, id, p);
}

QWidget* makeQLineEdit(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyLineEdit(s, id, p);
}

QWidget* makeQComboBox(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  return new MyComboBox(s, id, p, argInt(c, 2), argInt(c, 3));
}

QWidget* makeQLCDNumber(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  return new MyQLCDNumber(s, id, p, argInt(c, 2), argInt(c, 3), argInt(c, 4));
}

QWidget* makeQSlider(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  return new MySlider(s, id, p, argInt(c, 2), argInt(c, 3), argInt(c, 4), argInt(c, 5),
                      argInt(c, 6));
}

QWidget* makeQButtonGroup(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  return new MyButtonGroup(s, id, p, argInt(c, 2), argInt(c, 3), argText(c, 4));
}

QWidget* makeQRadioButton(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyRadioButton(s, id, p);
}

QWidget* makeQCheckBox(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyCheckBox(s, id, p);
}

QWidget* makeQFrame(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  return new MyFrame(s, id, p, argInt(c, 2), argInt(c, 3), qBound(0, argInt(c, 4), 100),
                     qBound(0, argInt(c, 5), 100));
}

QWidget* makeQGroupBox(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  return new MyGroupBox(s, id, p, argInt(c, 2), argInt(c, 3), argText(c, 4));
}

QWidget* makeQTabWidget(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQTabWidget(s, id, p);
}

QWidget* makeQToolBox(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQToolBox(s, id, p);
}

QWidget* makeQSpinBox(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  return new MySpinBox(s, id, p, argInt(c, 2), argInt(c, 3), argInt(c, 4));
}

QWidget* makeQDial(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  return new MyDial(s, id, p, argInt(c, 2), argInt(c, 3), argInt(c, 4), argInt(c, 5));
}

QWidget* makeQProgressBar(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  return new MyProgressBar(s, id, p, argInt(c, 2), argInt(c, 3));
}

QWidget* makeQMultiLineEdit(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  return new MyMultiLineEdit(s, id, p, argInt(c, 2), argInt(c, 3));
}

QWidget* makeQTextBrowser(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyTextBrowser(s, id, p);
}

QWidget* makeQListView(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyListView(s, id, p);
}

QWidget* makeQListBox(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyListBox(s, id, p);
}

QWidget* makeQIconView(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyIconView(s, id, p);
}

QWidget* makeQTable(otClientInterpreter& in, int* s, int id, QWidget* p, const otCallLine& c) {
  int rows = argInt(c, 2), cols = argInt(c, 3);
  if (rows < 0 || cols < 0) {
    in.refuse("QTable: %d x %d cells refused\n", rows, cols);
    return nullptr;
  }
  int fitRows = rows, fitCols = cols;
  if (myTableFit(&fitRows, &fitCols))
    in.limitMessage("table %d: %d x %d cells cut to %d x %d", id, rows, cols, fitRows, fitCols);
  return new MyTable(s, id, p, fitRows, fitCols);
}

QWidget* makeQDateEdit(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQDateEdit(s, id, p);
}

QWidget* makeQTimeEdit(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQTimeEdit(s, id, p);
}

QWidget* makeQDateTimeEdit(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQDateTimeEdit(s, id, p);
}

QWidget* makeQwtPlot(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  return new QwtPlotWidget(s, id, p, qBound(0, argInt(c, 2), 1000), qBound(0, argInt(c, 3), 1000));
}

QWidget* makeQwtScale(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  return new MyQwtScale(s, id, p, qBound(0, argInt(c, 2), 3));
}

QWidget* makeQwtThermo(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQwtThermo(s, id, p);
}

QWidget* makeQwtKnob(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQwtKnob(s, id, p);
}

QWidget* makeQwtCounter(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQwtCounter(s, id, p);
}

QWidget* makeQwtWheel(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQwtWheel(s, id, p);
}

QWidget* makeQwtSlider(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  return new MyQwtSlider(s, id, p, argInt(c, 2));
}

QWidget* makeQwtDial(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQwtDial(s, id, p);
}

QWidget* makeQwtCompass(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQwtCompass(s, id, p);
}

QWidget* makeQwtAnalogClock(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new MyQwtAnalogClock(s, id, p);
}

QWidget* makeQVtkTclWidget(otClientInterpreter&, int*, int id, QWidget* p, const otCallLine&) {
  QLabel* l = new QLabel(p);
  l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  l->setAlignment(Qt::AlignCenter);
  l->setWordWrap(true);
  l->setText("VTK/Tcl widget not available:\nthis client has no VTK with Tcl");
  otLog(OT_LOG_WARNING,
        "otclient: widget %d: VTK with Tcl is not available on this client; a placeholder "
        "is shown\n",
        id);
  return l;
}

QWidget* makeQImage(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine& c) {
  auto* image = new QImageWidget(s, id, p);
  image->setImageFromServer(c.textArg(2));
  return image;
}

QWidget* makeQDraw(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new QDrawWidget(p, nullptr, 0, s, id);
}

QWidget* makeQGL(otClientInterpreter&, int* s, int id, QWidget* p, const otCallLine&) {
  return new HxGLWidget(p, id, s);
}

const Constructor kTable[] = {
    {CmdQWidget, makeQWidget},
    {CmdQPushButton, makeQPushButton},
    {CmdQLabel, makeQLabel},
    {CmdQLineEdit, makeQLineEdit},
    {CmdQComboBox, makeQComboBox},
    {CmdQLCDNumber, makeQLCDNumber},
    {CmdQSlider, makeQSlider},
    {CmdQButtonGroup, makeQButtonGroup},
    {CmdQRadioButton, makeQRadioButton},
    {CmdQCheckBox, makeQCheckBox},
    {CmdQFrame, makeQFrame},
    {CmdQGroupBox, makeQGroupBox},
    {CmdQTabWidget, makeQTabWidget},
    {CmdQToolBox, makeQToolBox},
    {CmdQSpinBox, makeQSpinBox},
    {CmdQDial, makeQDial},
    {CmdQProgressBar, makeQProgressBar},
    {CmdQMultiLineEdit, makeQMultiLineEdit},
    {CmdQTextBrowser, makeQTextBrowser},
    {CmdQListView, makeQListView},
    {CmdQListBox, makeQListBox},
    {CmdQIconView, makeQIconView},
    {CmdQTable, makeQTable},
    {CmdQDateEdit, makeQDateEdit},
    {CmdQTimeEdit, makeQTimeEdit},
    {CmdQDateTimeEdit, makeQDateTimeEdit},
    {CmdQwtPlot, makeQwtPlot},
    {CmdQwtScale, makeQwtScale},
    {CmdQwtThermo, makeQwtThermo},
    {CmdQwtKnob, makeQwtKnob},
    {CmdQwtCounter, makeQwtCounter},
    {CmdQwtWheel, makeQwtWheel},
    {CmdQwtSlider, makeQwtSlider},
    {CmdQwtDial, makeQwtDial},
    {CmdQwtCompass, makeQwtCompass},
    {CmdQwtAnalogClock, makeQwtAnalogClock},
    {CmdQVtkTclWidget, makeQVtkTclWidget},
    {CmdQImage, makeQImage},
    {CmdQDraw, makeQDraw},
    {CmdQGL, makeQGL},
};

}  // namespace

namespace otclient {

const Constructor* constructorCommands(int* count) {
  *count = (int)(sizeof(kTable) / sizeof(kTable[0]));
  return kTable;
}

const Constructor* constructorOf(Command cmd) {
  for (const Constructor& k : kTable)
    if (k.command == cmd) return &k;
  return nullptr;
}

}  // namespace otclient
