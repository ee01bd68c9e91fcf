// otHtmlDir: browses a directory tree and renders it as an HTML listing whose links a display
// client's browser passes back to the server:
//   ftp://othtmldirhome<home>   the home directory
//   ftp://othtmldirup/dir/up    one level up
//   ftp://othtmldir<path>       a directory
//   ftp://othtmlfile<path>      a file
//
// The listing comes from the otfind program, found in this order: the program named by the
// environment variable OTKIT_OTFIND; ../bin/otfind and ../tools/otfind next to the directory
// of the library (an installation, a build tree); otfind on PATH.
#ifndef OTHTMLDIR_H
#define OTHTMLDIR_H

#include "othtml.h"
#include "otspreadsheet.h"
#include "otstring.h"

class otHtmlDir : public otHtml {
 public:
  otHtmlDir();
  virtual ~otHtmlDir();
  otHtmlDir(const otHtmlDir&) = delete;
  otHtmlDir& operator=(const otHtmlDir&) = delete;

  // Changes current: a text beginning ".." cuts current at its last '/' when current is
  // longer than home and that '/' is not its first character (else -1, nothing changes);
  // any other text beginning '.' returns -1; a text beginning '/' becomes current, and home
  // too when flag is non-zero; "~" makes current home; anything else is appended to current
  // after a '/'. Returns 0; -1 also for a null text.
  int cd(const char* text, int flag = 0);
  // html becomes the listing of current (of the whole tree below it when recursive), with
  // files filtered by pattern, show and hidden; with full non-zero it is a whole page. When
  // otfind cannot be found the listing says so and a line beginning "otHtmlDir: otfind not
  // found" is printed. Returns the text of html.
  const char* getHtml(int full = 1);
  // Clears row and stores the listing lines ("path [d]" or "path [f]"), files filtered by
  // hidden, in columns 1, 2, ... Returns the number stored; 0 for a null row; -1 when otfind
  // cannot be found or started (row cleared).
  int getFilenames(otSpreadsheetRow* row);

  otString home;       // "", the top of the tree
  otString current;    // "", the directory shown
  otString pattern;    // "*", file name filter; every '*' is dropped, the rest is a substring
  otString homeLabel;  // "Home:"
  otString pathLabel;  // "Path:"
  otString css;        // "othtml.css"
  otString header;     // "", placed before the listing
  otString trailer;    // "", placed after the listing
  otString html;       // the result of getHtml()
  int recursive;       // 0: current only; 1: the whole tree, labels are full paths
  int show;            // 1: directories and files; 2: directories only; 3: files only
  int hidden;          // 0: all files; 1: no file whose name begins '.'; else no files

 private:
  // The shell command that lists current; "" when otfind cannot be found.
  std::string findCommand();
  // 1 when a file of this name passes the hidden rule.
  int fileShown(const char* name) const;
};

#endif
