// otHtml: wraps a text file or a hex dump of a file into an HTML page.
//
// Page text is escaped by writing '<' as "&lt;" and '>' as "&gt;"; every other character,
// '&' included, stands as it is.
#ifndef OTHTML_H
#define OTHTML_H

#include <string>

#include "otstring.h"

class otHtml {
 public:
  otHtml();
  virtual ~otHtml();

  // The fixed start of every page, up to and including the opening body tag.
  const char* htmlHeader();
  // "</body>\n</html>\n".
  const char* htmlTrailer();
  // s becomes a page holding the file's name and size and its lines, escaped, in a <pre>
  // block. Returns 0; -1 when the file cannot be loaded (s unchanged).
  int textFile(const char* path, otString& s);
  // s becomes a page holding the output of od -A x -t x1z -v on the file, escaped, in a <pre>
  // block. Returns 0; -1 for a null path, a path that holds a double quote (it cannot be
  // passed to od as one argument) or when od cannot be started (s unchanged).
  int hexdumpFile(const char* path, otString& s);

 protected:
  // Appends at most n characters of text (all for n < 0) with '<' and '>' escaped; with
  // quote set, also '"' as "&quot;" (for attribute values).
  static void appendEscaped(std::string& out, const char* text, int n = -1, int quote = 0);
};

#endif
