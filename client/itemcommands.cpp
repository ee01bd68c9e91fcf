// The items-and-tables family of the core commands: items of lists and combo boxes, pages of
// tab widgets and tool boxes, the rows, columns and cells of tables.
#include "corecommands.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QToolBox>
#include <QTreeWidget>

#include "interpreter.h"
#include "mywidgets.h"

using namespace otclient;

namespace {

void addItem(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int id) {
  if (auto* cb = qobject_cast<QComboBox*>(w)) {
    cb->addItem(argText(c, 1));
  } else if (auto* lw = qobject_cast<QListWidget*>(w)) {
    lw->addItem(argText(c, 1));
  } else if (auto* tw = qobject_cast<QTreeWidget*>(w)) {
    tw->addTopLevelItem(new QTreeWidgetItem(QStringList(argText(c, 1))));
  } else {
    in.refuse("addItem: widget %d holds no items\n", id);
  }
}

void clear(otClientInterpreter& in, QWidget* w, const otCallLine&, Command, int id) {
  if (auto* cb = qobject_cast<QComboBox*>(w)) {
    cb->clear();
  } else if (auto* lw = qobject_cast<QListWidget*>(w)) {
    lw->clear();
  } else if (auto* tw = qobject_cast<QTreeWidget*>(w)) {
    tw->clear();
  } else if (auto* tab = qobject_cast<QTableWidget*>(w)) {
    tab->clearContents();
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->clear();
  } else if (auto* te = qobject_cast<QTextEdit*>(w)) {
    te->clear();
  } else if (auto* pe = qobject_cast<QPlainTextEdit*>(w)) {
    pe->clear();
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    l->clear();
  } else {
    in.refuse("clear: widget %d cannot be cleared\n", id);
  }
}

void addTab(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int id) {
  QWidget* child = in.widget(argInt(c, 1));
  // A page that holds the tab widget would make the widget tree a loop.
  if (child == nullptr || otClientInterpreter::within(w, child) || argInt(c, 1) == 0) {
    in.refuse("addTab: no page widget %d\n", argInt(c, 1));
    return;
  }
  if (auto* tw = qobject_cast<QTabWidget*>(w)) {
    tw->addTab(child, argText(c, 2));
  } else if (auto* tb = qobject_cast<QToolBox*>(w)) {
    tb->addItem(child, argText(c, 2));
  } else {
    in.refuse("addTab: widget %d has no pages\n", id);
  }
}

void setNumRows(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command cmd, int id) {
  auto* tab = qobject_cast<MyTable*>(w);
  int n = argInt(c, 1);
  int r = tab == nullptr ? -1 : cmd == CmdSetNumRows ? tab->setNumRows(n) : tab->setNumCols(n);
  if (r < 0)
    in.refuse("%s(%d,%d) refused\n", c.name, id, n);
  else if (r > 0)
    in.limitMessage("table %d: %s(%d) cut to %d x %d cells", id, c.name, n, tab->rowCount(),
                    tab->columnCount());
}

void setTableText(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int id) {
  auto* tab = qobject_cast<MyTable*>(w);
  int x = argInt(c, 1), y = argInt(c, 2);
  if (tab == nullptr || !inRange(x, -1, maxTableSize - 1) || !inRange(y, -1, maxTableSize - 1)) {
    in.refuse("setTableText(%d,%d,%d) refused\n", id, x, y);
    return;
  }
  tab->setTableText(x, y, argText(c, 3));
}

const CoreCommand kTable[] = {
    {CmdAddItem, CORE_WIDGET, addItem},       {CmdClear, CORE_WIDGET, clear},
    {CmdAddTab, CORE_WIDGET, addTab},         {CmdSetNumRows, CORE_WIDGET, setNumRows},
    {CmdSetNumCols, CORE_WIDGET, setNumRows}, {CmdSetTableText, CORE_WIDGET, setTableText},
};

}  // namespace

namespace otclient {

const CoreCommand* itemCommands(int* count) {
  *count = (int)(sizeof(kTable) / sizeof(kTable[0]));
  return kTable;
}

}  // namespace otclient
