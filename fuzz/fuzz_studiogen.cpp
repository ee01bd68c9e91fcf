// The studio's generator on arbitrary mask files, and its reader of compiler output on the
// same bytes. A generated mask must hold one enum entry per widget it does not leave out (those
// of foreign classes, which its warnings name with what they hold) and no string literal that
// is left open (an object name, text or tag that escaped its quotes would inject code).
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <QByteArray>
#include <QStringList>

#include "generator.h"
#include "ottagtable.h"
#include "uiforeign.h"
#include "uiform.h"

namespace {

// Every line's double quotes pair up once escaped ones are skipped.
bool literalsClosed(const QString& source) {
  for (const QString& line : source.split('\n')) {
    bool open = false;
    for (int i = 0; i < line.size(); i++) {
      if (open && line[i] == '\\') {
        i++;
      } else if (line[i] == '"') {
        open = !open;
      } else if (line[i].unicode() < 0x20 && line[i] != '\t') {
        return false;
      }
    }
    if (open) return false;
  }
  return true;
}

int nodes(const UiNode& n) {
  int count = 1;
  for (const UiNode& c : n.children)
    count += nodes(c);
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 262144) return 0;
  const QByteArray bytes(reinterpret_cast<const char*>(data), (int)size);
  for (const StudioBuildMessage& m : studioParseBuildOutput(QString::fromUtf8(bytes)))
    if (m.line < 0 || m.column < 0 || m.severity.isEmpty()) abort();
  static otTagTable tags;
  if (tags.tags.empty()) {
    std::string e;
    tags.parse(
        "sine60 demo.h 1 1 short 1 0 - - -\n"
        "setpoint demo.h 3 0 short 1 0 - register 1,0\n"
        "valve demo.h 4 0 bit 1 0 - coil 1,0\n",
        &e);
  }
  UiForm form;
  QString error;
  if (uiParse(bytes, &form, &error) < 0) return 0;
  QString header, source;
  QStringList warnings;
  if (studioGenerateMask(form, 1, tags, &header, &source, &error, &warnings) != 0) {
    if (error.isEmpty()) abort();  // a refusal always says why
    return 0;
  }
  UiForm adopted = form;
  uiAdoptDesignerClasses(&adopted.root);
  const QVector<UiForeign> foreign = uiForeignWidgets(adopted.root);
  if (foreign.size() != warnings.size()) abort();
  int left = 0;
  for (const UiForeign& f : foreign)
    if (f.why == UiForeign::NotAClientClass) left += 1 + f.inside;
  if (!header.contains(QString("  ID_COUNT = %1\n").arg(nodes(form.root) - left))) abort();
  if (!literalsClosed(header) || !literalsClosed(source)) abort();
  return 0;
}
