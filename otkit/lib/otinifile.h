// otIniFile: reads, edits and writes files of [sections] and name=value lines, keeping
// comments, blank lines and the order of everything; and a process-wide translator built on
// it, whose sections are languages and whose names are the untranslated texts.
//
// File syntax, line by line. A line holds at most 4094 characters; carriage returns are
// dropped wherever they stand and a line feed ends the line. The characters of a longer line
// past the 4094th are discarded up to its line feed (the line is truncated, not split, so the
// tail of an overlong value can never turn into a header or an entry of its own). A NUL byte
// ends the text of its line.
//   "[name]"        section header; the name runs to "]" or the end of the line. A header
//                   naming an existing section continues it and adds an empty entry there.
//   "#...", a line starting with a blank or a control character, an empty line:
//                   kept as a comment entry (the whole line is its name, the value is "").
//   anything else   name = text before the first "=" not preceded by a backslash, without
//                   trailing blanks and tabs; value = the rest, without leading blanks and
//                   tabs. A name that repeats within a section replaces the earlier value.
// Names that look like comments (first character "#", blank, control character, or empty)
// never match a lookup.
//
// Pointers returned by the lookups and walks point into the object: they stay valid until that
// entry or section is changed or removed, or until the next read(). Not thread-safe.
#ifndef OTINIFILE_H
#define OTINIFILE_H

#include <memory>

#include "otcutil.h"
#include "otstring.h"

class otIniFile {
 public:
  otIniFile();
  ~otIniFile();
  otIniFile(const otIniFile&) = delete;
  otIniFile& operator=(const otIniFile&) = delete;

  // Discards the content, remembers path and parses the file. 0, or -1 if it cannot be opened
  // or read (the object is then empty).
  int read(const char* path);
  // Writes the sections in order: no header for the unnamed first section, a name starting
  // with "#" on its own line, any other as "[name]"; then each entry: a comment as it is,
  // name=value when both are non-empty, anything else as an empty line. A line break inside a
  // name or value is written as a blank, so that it cannot start a line of its own; a name
  // ending in a backslash gets a blank before "=" so that the "=" still separates.
  // 0, or -1 if the file cannot be created or written.
  int write(const char* path) const;
  // The path of the last read(), "" before any.
  const char* filename() const;

  // The value, or "" when the section or the name does not exist (never null).
  const char* text(const char* section, const char* name) const;
  // Creates the section at the end if missing; replaces the value of the entry with that
  // name or appends a new entry (a name that looks like a comment is always appended, as a
  // comment line). A null value is stored as "". 0, or -1 for a null section or name.
  int setText(const char* section, const char* name, const char* value);
  // Formats at most 4095 characters with otvsnprintf. A result below 1 is returned and nothing
  // changes; else the text is stored as by setText and the formatter's result is returned
  // (-1 for a null section or name).
  int printf(const char* section, const char* name, const char* format, ...) OT_PRINTF_FORMAT(4, 5);
  // Deletes the section and its entries; the unnamed first section always stays and is only
  // emptied. 0, or -1 if there is no such section.
  int remove(const char* section);
  // Deletes that entry. 0, or -1 if there is no such entry.
  int remove(const char* section, const char* name);

  // Section walk: firstSection() yields "" (the unnamed first section); nextSection() the next
  // name, or null at the end, after which it stays null until firstSection(). Removing a
  // section during the walk does not make the walk skip one.
  const char* firstSection();
  const char* nextSection();
  // Name walk over every entry of the section, comment lines included. Null when the section
  // does not exist, has no entry, or the walk has ended.
  const char* firstName(const char* section);
  const char* nextName(const char* section);

  // The section that i18n() and tr() look in; null is stored as "".
  int setDefaultSection(const char* section);
  const char* defaultSection() const;
  // The value stored under text in the default section when it is non-empty, else fallback
  // (returned as given, so a null fallback tells "no translation").
  const char* i18n(const char* text, const char* fallback = "") const;
  // As i18n with the fallback "tr_error:" followed by text, or "tr_error:text too long" when
  // text has 984 or more characters; "ERROR:txt=NULL" for a null text. Each fallback text is
  // kept by the object (once per distinct text) and stays valid until the object is destroyed.
  const char* tr(const char* text) const;

 private:
  struct Store;
  std::unique_ptr<Store> store_;
  int sectionPos_;  // index of the next section the walk returns, -1 when not walking
  int namePos_;     // index of the next entry the name walk returns, -1 when not walking
  otString filename_;
  otString defaultSection_;
};

// Sets up the process-wide translator. With a path: creates the translator on first use and
// reads path into it (-1 if that fails; the translator is then empty). Then makes language
// (null: "") its default section and returns 0. A null path changes only the language of an
// existing translator; before any exists it does nothing and returns -1. Not thread-safe
// against concurrent ottranslate calls.
int otSetTranslator(const char* language, const char* path);

// The translation of text in the translator's language when one is non-empty, else text
// ("" for a null text); text itself when there is no translator. The result passes through the
// escape rule: a text without a backslash is returned as it is and *buffer is left alone.
// Otherwise the result is a new copy in which \= becomes "=", \n a line feed, \t a tab and
// \\ one backslash (any other backslash stays with its character); it is stored in *buffer and
// returned, after the previous *buffer has been freed. *buffer must be null before the first
// call (or hold a result of an earlier call); the caller frees the last one with free().
// With a null buffer the text is returned without the escape rule applied.
const char* ottranslate(const char* text, char** buffer);
// As ottranslate, but looks up text in section: an empty (or null) section behaves exactly
// as ottranslate; a missing or empty value yields text.
const char* ottranslate2(const char* section, const char* text, char** buffer);

#endif
