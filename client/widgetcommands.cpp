#include "widgetcommands.h"

#include <string.h>

#include "otinterpreter.h"

namespace otclient {

const WidgetCommand* lookupWidgetCommand(const otCallLine& line, bool* signatureMatches) {
  const WidgetCommand* (*const families[])(int*) = {widgetCallCommands, qwtCommands,
                                                    dialogCommands};
  for (auto family : families) {
    int n = 0;
    const WidgetCommand* table = family(&n);
    for (int i = 0; i < n; i++)
      if (strcmp(table[i].name, line.name) == 0) {
        *signatureMatches = line.matches(table[i].signature) != 0;
        return &table[i];
      }
  }
  *signatureMatches = false;
  return nullptr;
}

}  // namespace otclient
