// otFileLoad: reads a text file into a list of lines held in memory and hands them out one
// after the other.
#ifndef OTFILELOAD_H
#define OTFILELOAD_H

#include "otstring.h"

class otFileLoad {
 public:
  otFileLoad();
  // Unloads.
  virtual ~otFileLoad();
  otFileLoad(const otFileLoad&) = delete;
  otFileLoad& operator=(const otFileLoad&) = delete;

  // Unloads an earlier file, then stores every line of path, cut at its first line feed and
  // at its first carriage return; lines longer than 4094 characters are stored in pieces of
  // 4094. Returns 1; -1 when the file cannot be opened, read or held in memory (nothing is
  // loaded then).
  int load(const char* path);
  // The first line; null when nothing is loaded or the file had no lines.
  const char* firstLine();
  // The line after the one returned last; null when nothing is loaded, before firstLine()
  // and at the end.
  const char* nextLine();
  // Frees all lines and clears loaded. Returns 0.
  int unload();
  // Stores 1 for any non-zero flag, else 0; returns the stored value.
  int setDebug(int flag);
  // s becomes every line followed by a line feed. Returns 0; -1 when nothing is loaded (s is
  // then "").
  int text2otstring(otString& s);

  int loaded;  // 1 after a successful load()
  int debug;   // 1: prints each line as it is loaded, handed out and freed

 private:
  struct Line {
    char* text;
    Line* next;
  };
  Line* first;
  Line* last;
  Line* cursor;  // the line nextLine() returns, null before firstLine() and at the end
};

#endif
