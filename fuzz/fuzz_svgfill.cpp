// The animator's attribute collector on arbitrary lines of otsvgcat output.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "otinifile.h"
#include "otsvganimator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  otSvgAnimator svg;
  otIniFile ini;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string::npos ? text.size() : nl + 1;
    svg.fillIniFile(&ini, text.substr(pos, end - pos).c_str());
    pos = end;
  }
  svg.fillIniFile(&ini, ">\n");
  return 0;
}
