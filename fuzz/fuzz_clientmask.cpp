// The display client's interpreter on arbitrary command lines, with real widgets: masks
// built, replaced, re-parented and emptied in any order (constructors naming parents,
// startDefinition in between, tab pages, tables of any size). The connection is closed, so
// a command that reads data of its own finds none.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <QDialog>
#include <QWidget>
#include <string>

#include "interpreter.h"
#include "qtfuzzapp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Commands that save pictures and tables would write into the user's downloads folder.
  if (fuzzApplication("fuzz_clientmask")) opt.download_dir[0] = '\0';
  if (size > 65536) return 0;
  int s = -1;
  QWidget base;
  {
    otClientInterpreter in(&s, &base, nullptr);
    const char* p = reinterpret_cast<const char*>(data);
    const char* end = p + size;
    int lines = 0;
    while (p < end && lines++ < 2000) {
      const char* nl = static_cast<const char*>(memchr(p, '\n', (size_t)(end - p)));
      const char* stop = nl != nullptr ? nl + 1 : end;
      std::string line(p, (size_t)(stop - p));
      in.interpret(line.c_str(), (int)line.size());
      p = stop;
      // Every id of the mask names a live widget of this mask or none.
      for (int id = 0; id < in.idCount(); id++) {
        QWidget* w = in.widget(id);
        if (w == nullptr) continue;
        QWidget* top = w;
        while (top->parentWidget() != nullptr)
          top = top->parentWidget();
        const QWidget* dialog = in.modalDialog();
        if (top != &base && top != dialog) __builtin_trap();
      }
    }
  }
  return 0;
}
