// otsvgcat's conversion on arbitrary input: it either refuses the input or produces text that
// converts to itself again (the line form is SVG text whose conversion changes nothing).
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "svgcat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string out, error;
  if (svgcatConvert(reinterpret_cast<const char*>(data), size, &out, &error) != 0) return 0;
  std::string again;
  if (svgcatConvert(out.data(), out.size(), &again, &error) != 0) abort();
  if (again != out) abort();
  return 0;
}
