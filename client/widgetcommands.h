// Commands that act on one widget of the mask, beyond the core table of otcommandtable.h: the
// setters of the widget kinds (texts, items, tables, list views, dates), the Qwt widgets,
// and the dialogs and calls that ask the client something. Each family keeps its table of
// {name, signature, handler} in a file of its own; the interpreter looks a line up in the core
// table first and then here.
//
// A signature starts with the widget id ("i..."), except for the commands of the dialog family
// that name no widget (flag WIDGET_NONE). The handler gets the widget (never null, but for
// WIDGET_READS_DATA below; commands of the dialog family without a widget get the mask's root)
// and the parsed line; it returns 0, or -1 when the widget is of a kind the command does not apply
// to or an argument is out of range (the interpreter then logs the line as ignored).
#ifndef OTCLIENT_WIDGETCOMMANDS_H
#define OTCLIENT_WIDGETCOMMANDS_H

#include <QString>

#include "otinterpreter.h"

class QWidget;
class otClientInterpreter;

namespace otclient {

// The i-th argument of a line whose signature was checked: 0 or "" when it is missing.
inline int argInt(const otCallLine& c, int i) {
  int v = 0;
  c.intArg(i, &v);
  return v;
}
inline double argFloat(const otCallLine& c, int i) {
  double v = 0;
  c.floatArg(i, &v);
  return v;
}
inline QString argText(const otCallLine& c, int i) {
  const char* t = c.textArg(i);
  return t ? QString::fromUtf8(t) : QString();
}

// What a handler may need besides the widget: the connection (to answer with an event line
// through tcp_send, as the widgets do), the widget's id and the interpreter that runs it.
struct WidgetContext {
  int* s;
  int id;
  otClientInterpreter* interpreter;
};

struct WidgetCommand {
  const char* name;
  const char* signature;
  int (*apply)(QWidget* w, const otCallLine& c, WidgetContext& ctx);
  int flags;  // WIDGET_NONE: the first argument is no widget id; WIDGET_READS_DATA: see below
};

// WIDGET_READS_DATA: a block of the command's own follows its line; the handler puts the
// stream that takes it on the connection (ctx.interpreter->startStream). It is called even
// when the id holds no widget (w is then null), so that the block is taken and nothing of it
// is taken for commands.
enum { WIDGET_NONE = 1, WIDGET_READS_DATA = 2 };

// The families' tables (each in its own file).
const WidgetCommand* widgetCallCommands(int* count);  // widgetcalls.cpp: kinds' setters
const WidgetCommand* qwtCommands(int* count);         // qwtcommands.cpp: Qwt widgets
const WidgetCommand* dialogCommands(int* count);      // dialogcommands.cpp: dialogs, global

// The command of a line's name across the families, null when none has it; *signatureMatches
// tells whether the line's arguments fit its signature.
const WidgetCommand* lookupWidgetCommand(const otCallLine& line, bool* signatureMatches);

}  // namespace otclient

#endif
