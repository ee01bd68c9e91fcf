// othtml2pdf's tag filter on arbitrary text and option texts. The input is the text, then the
// table option and the image option, separated by NUL bytes; a missing part is no option.
#include <cstdint>
#include <string>

#include "othtml2pdf_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  size_t cut1 = in.find('\0');
  std::string text = in.substr(0, cut1);
  std::string tableopt, imgopt;
  bool hasTable = cut1 != std::string::npos, hasImg = false;
  if (hasTable) {
    size_t cut2 = in.find('\0', cut1 + 1);
    tableopt = in.substr(cut1 + 1, cut2 == std::string::npos ? cut2 : cut2 - cut1 - 1);
    hasImg = cut2 != std::string::npos;
    if (hasImg) imgopt = in.substr(cut2 + 1);
    imgopt = imgopt.substr(0, imgopt.find('\0'));
  }
  std::string out = othtml2pdfFilter(text, hasTable ? tableopt.c_str() : nullptr,
                                     hasImg ? imgopt.c_str() : nullptr);
  // Nothing is lost or changed: the text is a subsequence of the result.
  size_t j = 0;
  for (char c : text) {
    while (j < out.size() && out[j] != c)
      j++;
    if (j == out.size()) __builtin_trap();
    j++;
  }
  // With one kind of option only, the result grows by whole insertions.
  if (!hasImg && (out.size() - text.size()) % (tableopt.size() + 2) != 0) __builtin_trap();
  if (!hasTable && out != text) __builtin_trap();
  return 0;
}
