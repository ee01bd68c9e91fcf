// The daemon generators on arbitrary project files: every kind must finish with 0 or -1 and
// a header whose size macro matches the sum of its blocks.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "gdaemon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (int kind : {HX_DAEMON_PPI, HX_DAEMON_SIEMENS_TCP, HX_DAEMON_MODBUS}) {
    hxDaemonFiles out;
    int ret = hxGenerate(kind, "fuzz.mkmodbus", text, &out);
    if (ret != 0 && ret != -1) abort();
    if (ret == -1 && (!out.header.empty() || !out.source.empty())) abort();
    if (ret == 0 && out.header.find("_SHARED_MEMORY_SIZE ") == std::string::npos) abort();
  }
  return 0;
}
