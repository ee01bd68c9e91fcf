// The rule for the names of files a display server sends or names. Plain C++ without Qt, so
// that the command table's fuzz target checks the same rule.
#ifndef OTFILENAME_H
#define OTFILENAME_H

// Why a server may not use name, or null when it may: a plain name (not empty, no '/', no
// '\\', no ".."), not hidden (a leading '.'), no shared library ("*.so", "*.so.N") and not
// the client's own ini file.
const char* otServerFileNameRefusal(const char* name);

struct stat;
// Whether path names the file or folder whose status is st (the same device and inode); false
// for an empty path or one that cannot be looked at.
bool otIsSameFile(const char* path, const struct stat& st);

#endif
