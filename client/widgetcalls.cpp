#include "widgetcommands.h"

namespace otclient {

const WidgetCommand* widgetCallCommands(int* count) {
  // Filled as the family's commands are written.
  *count = 0;
  return nullptr;
}

}  // namespace otclient
