// The tag filter of othtml2pdf: option texts inserted into the table and image tags of an
// HTML text.
#ifndef OTHTML2PDF_FILTER_H
#define OTHTML2PDF_FILTER_H

#include <string.h>

#include <string>

#include "otcutil.h"

// Inserts " tableopt " before the closing '>' of every "<table" / "<TABLE" tag and " imgopt "
// before the first '>' or backslash of every "<img" / "<IMG" tag (before the end of the text
// when there is none); a null option leaves its tags alone. Everything else is copied as it
// stands. The whole text is filtered at once, so a tag that spans lines is found as well.
inline std::string othtml2pdfFilter(const std::string& text, const char* tableopt,
                                    const char* imgopt) {
  std::string out;
  size_t tableLen = tableopt ? strlen(tableopt) : 0;
  size_t imgLen = imgopt ? strlen(imgopt) : 0;
  out.reserve(text.size() + 2 * (tableLen + imgLen + 2));
  size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    bool table = tableopt != nullptr &&
                 (text.compare(i, 6, "<table") == 0 || text.compare(i, 6, "<TABLE") == 0);
    bool img = !table && imgopt != nullptr &&
               (text.compare(i, 4, "<img") == 0 || text.compare(i, 4, "<IMG") == 0);
    if (!table && !img) {
      // Copy the run up to the next tag start in one piece.
      size_t next = text.find('<', i + 1);
      if (next == std::string::npos) next = n;
      out.append(text, i, next - i);
      i = next;
      continue;
    }
    size_t end = table ? text.find('>', i) : text.find_first_of(">\\", i);
    if (end == std::string::npos) end = n;
    out.append(text, i, end - i);
    out += ' ';
    out += table ? tableopt : imgopt;
    out += ' ';
    // The debug switch is checked here so that a long tag is not copied for nothing.
    if (otDebugPrintfState) {
      std::string tag = text.substr(i, end - i);
      if (table)
        otDebugPrintf("applyFilter1: line=%s tableopt=%s\n", tag.c_str(), tableopt);
      else
        otDebugPrintf("applyFilter2: line=%s imgopt=%s\n", tag.c_str(), imgopt);
    }
    i = end;
  }
  return out;
}

#endif
