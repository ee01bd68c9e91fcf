// The geometry family of the core commands: where a widget is, how large, whether it shows.
#include "corecommands.h"

#include <QWidget>

#include "interpreter.h"

using namespace otclient;

namespace {

void setGeometry(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int id) {
  int x = argInt(c, 1), y = argInt(c, 2), wd = argInt(c, 3), ht = argInt(c, 4);
  if (!inRange(x, -maxGeometry, maxGeometry) || !inRange(y, -maxGeometry, maxGeometry) ||
      !inRange(wd, 0, maxGeometry) || !inRange(ht, 0, maxGeometry)) {
    in.refuse("setGeometry: out of range\n");
    return;
  }
  w->setGeometry(x, y, wd, ht);
  if (id == 0) w->setMinimumSize(wd, ht);
}

void move(otClientInterpreter&, QWidget* w, const otCallLine& c, Command, int) {
  if (inRange(argInt(c, 1), -maxGeometry, maxGeometry) &&
      inRange(argInt(c, 2), -maxGeometry, maxGeometry))
    w->move(argInt(c, 1), argInt(c, 2));
}

void resize(otClientInterpreter&, QWidget* w, const otCallLine& c, Command, int id) {
  if (inRange(argInt(c, 1), 0, maxGeometry) && inRange(argInt(c, 2), 0, maxGeometry)) {
    w->resize(argInt(c, 1), argInt(c, 2));
    if (id == 0) w->setMinimumSize(argInt(c, 1), argInt(c, 2));
  }
}

void show(otClientInterpreter&, QWidget* w, const otCallLine&, Command, int) {
  w->show();
}

void hide(otClientInterpreter&, QWidget* w, const otCallLine&, Command, int) {
  w->hide();
}

void setEnabled(otClientInterpreter&, QWidget* w, const otCallLine& c, Command, int) {
  w->setEnabled(argInt(c, 1) != 0);
}

const CoreCommand kTable[] = {
    {CmdSetGeometry, CORE_WIDGET, setGeometry},
    {CmdMove, CORE_WIDGET, move},
    {CmdResize, CORE_WIDGET, resize},
    {CmdShow, CORE_WIDGET, show},
    {CmdHide, CORE_WIDGET, hide},
    {CmdSetEnabled, CORE_WIDGET, setEnabled},
};

}  // namespace

namespace otclient {

const CoreCommand* geometryCommands(int* count) {
  *count = (int)(sizeof(kTable) / sizeof(kTable[0]));
  return kTable;
}

}  // namespace otclient
