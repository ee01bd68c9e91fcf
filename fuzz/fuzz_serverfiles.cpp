// The rewriting of what a server's SVG and rich text name outside themselves, on arbitrary
// text: no reference may survive that is not internal, a data: URL or empty.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "otoptions.h"
#include "otserverfiles.h"
#include "qtfuzzapp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (fuzzApplication("fuzz_serverfiles")) opt.download_dir[0] = '\0';  // nothing is served
  QByteArray text(reinterpret_cast<const char*>(data), (int)size);
  QByteArray svg = otServerSvg(text);
  // Every quoted href value that the rewrite saw is now internal, data: or empty.
  for (int at = svg.indexOf("href=\""); at >= 0; at = svg.indexOf("href=\"", at + 1)) {
    char before = at > 0 ? svg[at - 1] : ' ';
    if (before != ':' && before != ' ') continue;
    QByteArray value = svg.mid(at + 6);
    int end = value.indexOf('"');
    if (end < 0) break;
    value.truncate(end);
    if (!value.isEmpty() && !value.startsWith('#') && !value.startsWith("data:"))
      __builtin_trap();
  }
  if (size <= 4096) otServerRichText(QString::fromUtf8(text));
  return 0;
}
