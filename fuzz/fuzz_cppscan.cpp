// The source editor's C++ scanner on arbitrary text, line by line as the highlighter feeds it:
// every span lies inside its line, in order and without overlap, and the state carried from
// line to line is 0 or 1.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <QString>
#include <QStringList>
#include <QVector>

#include "editor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), (int)size);
  int state = 0;
  for (const QString& line : text.split('\n')) {
    QVector<EditorSpan> spans;
    state = editorScanCpp(line, state, &spans);
    if (state != 0 && state != 1) abort();
    int end = 0;
    for (const EditorSpan& s : spans) {
      if (s.start < end || s.length <= 0 || s.start + s.length > line.size()) abort();
      end = s.start + s.length;
    }
  }
  // The completion key of the text is a piece of it.
  if (!text.contains(editorCallKey(text))) abort();
  return 0;
}
