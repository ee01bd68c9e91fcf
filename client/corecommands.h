// The commands of the core table (otcommandtable.h) by family, each family a table of
// {command, flags, handler} in a file of its own. The interpreter stays the dispatcher: it
// finds a line's command in the core table, then its handler here, looks up the widget the
// command names and hands both over.
#ifndef OTCLIENT_CORECOMMANDS_H
#define OTCLIENT_CORECOMMANDS_H

#include "otcommandtable.h"
#include "widgetcommands.h"

class QWidget;
class otCallLine;
class otClientInterpreter;

namespace otclient {

// CORE_WIDGET: the first argument names a widget of the active mask; the interpreter refuses
// the line when there is none, and blocks the widget's signals while the handler runs (what
// the server sets is no user action: no event goes back for it; a plot's signals keep its
// legend up to date and are not blocked). Without it the handler gets a null widget.
enum { CORE_WIDGET = 1 };

struct CoreCommand {
  Command command;
  int flags;
  // in: the interpreter; w: the widget (CORE_WIDGET) or null; c: the parsed line, whose
  // signature was checked; cmd: the command; id: the first argument (0 when there is none).
  void (*apply)(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command cmd, int id);
};

struct CoreFamily {
  const char* name;
  const CoreCommand* (*table)(int* count);
};

// The families' tables.
const CoreCommand* geometryCommands(int* count);    // geometrycommands.cpp: place, size, show
const CoreCommand* valueCommands(int* count);       // valuecommands.cpp: texts, fonts, values
const CoreCommand* itemCommands(int* count);        // itemcommands.cpp: items, pages, tables
const CoreCommand* plotCommands(int* count);        // plotcommands.cpp: curves and their points
const CoreCommand* imageCommands(int* count);       // imagecommands.cpp: pictures, VTK scripts
const CoreCommand* coreDialogCommands(int* count);  // dialogcommands.cpp: modal dialog, status
                                                    // line, printing
// The constructors (constructorcommands.cpp): the widget a constructor command makes, or null
// when it refuses (the refusal is counted); s is the connection handle for the widget's events,
// parent the widget's parent (never null).
struct Constructor {
  Command command;
  QWidget* (*make)(otClientInterpreter& in, int* s, int id, QWidget* parent, const otCallLine& c);
};
const Constructor* constructorCommands(int* count);
// The constructor of cmd, null for none.
const Constructor* constructorOf(Command cmd);

// All families, the interpreter's own (masks, sync, downloads, streams) first.
const CoreFamily* coreFamilies(int* count);
// The handler of cmd, null for none.
const CoreCommand* coreCommand(Command cmd);

inline bool inRange(int v, int lo, int hi) {
  return v >= lo && v <= hi;
}

}  // namespace otclient

#endif
