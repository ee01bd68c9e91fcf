// The animator's document on arbitrary bytes: the input up to the end marker line is the
// drawing, every line after it a change as the server would ask for it; then the SVG text is
// built and the record invariants are checked. Needs no QApplication: only the document.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "hxsvganimator.h"

namespace {

std::vector<std::string> words(const std::string& line, size_t max) {
  std::vector<std::string> w;
  size_t p = 0;
  while (p < line.size() && w.size() + 1 < max) {
    size_t q = line.find(' ', p);
    if (q == std::string::npos) break;
    w.push_back(line.substr(p, q - p));
    p = q + 1;
  }
  w.push_back(line.substr(p));  // the last word takes the rest, blanks included
  return w;
}

void command(hxSvgAnimator* a, const std::string& line) {
  std::vector<std::string> w = words(line, 5);
  const char* arg[5] = {"", "", "", "", ""};
  for (size_t i = 0; i < w.size(); i++)
    arg[i] = w[i].c_str();
  const std::string& c = w[0];
  TRMatrix m;
  if (c == "show") a->show(arg[1], atoi(arg[2]));
  if (c == "printf") a->svgPrintf(arg[1], arg[2], arg[3], arg[4]);
  if (c == "rprintf") a->svgRecursivePrintf(arg[1], arg[2], arg[3], arg[4]);
  if (c == "replace") a->svgSearchAndReplace(arg[1], arg[2], arg[3], arg[4]);
  if (c == "rreplace") a->svgRecursiveSearchAndReplace(arg[1], arg[2], arg[3], arg[4]);
  if (c == "text") a->svgTextPrintf(arg[1], arg[2]);
  if (c == "style") a->svgChangeStyleOption(arg[1], "style=", arg[2], arg[3]);
  if (c == "rstyle") a->svgRecursiveChangeStyleOption(arg[1], arg[2], arg[3], arg[4]);
  if (c == "remove") a->svgRemoveStyleOption(arg[1], "style=", arg[2]);
  if (c == "rremove") a->svgRecursiveRemoveStyleOption(arg[1], arg[2], arg[3]);
  if (c == "set") a->svgSetStyleOption(arg[1], "style=", arg[2]);
  if (c == "rset") a->svgRecursiveSetStyleOption(arg[1], arg[2], arg[3]);
  if (c == "ctm") a->calcCTM(arg[1], &m);
  if (c == "wanted") a->calcObjectWanted(arg[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = (const char*)data;
  hxSvgAnimator a(nullptr, nullptr);
  if (a.readText(text, (long)size) != 0) return 0;
  const char* end = (const char*)memmem(text, size, "<svgend></svgend>", 17);
  if (end != nullptr) {
    const char* nl = (const char*)memchr(end, '\n', size - (size_t)(end - text));
    size_t p = nl != nullptr ? (size_t)(nl - text) + 1 : size;
    while (p < size) {
      const char* e = (const char*)memchr(text + p, '\n', size - p);
      size_t q = e != nullptr ? (size_t)(e - text) : size;
      command(&a, std::string(text + p, q - p));
      p = q + 1;
    }
  }
  QByteArray svg = a.svgText(640, 480);
  // Nothing but records, blanks, line feeds and the root's size is written.
  if (svg.size() > a.numLines() * (HX_SVG_MAX_LINE + 1) + 64) abort();
  // Every record stays one line of text, and there are exactly numLines() of them.
  for (int i = 0; i < a.numLines(); i++) {
    const char* r = a.record(i);
    if (r == nullptr || strchr(r, '\n') != nullptr) abort();
  }
  if (a.record(a.numLines()) != nullptr) abort();
  TRMatrix m;
  a.calcCTM("a", &m);
  return 0;
}
