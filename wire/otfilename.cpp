#include "otfilename.h"

#include <string.h>
#include <sys/stat.h>

#include "otcutil.h"

namespace {

// "*.so" and "*.so.N[.M...]": what the dynamic loader would take.
bool isSharedLibrary(const char* name) {
  for (const char* p = strstr(name, ".so"); p != nullptr; p = strstr(p + 1, ".so")) {
    const char* rest = p + 3;
    if (*rest == '\0') return true;
    if (*rest != '.') continue;
    bool version = rest[1] != '\0';
    for (const char* v = rest + 1; *v != '\0' && version; v++)
      version = (*v >= '0' && *v <= '9') || *v == '.';
    if (version) return true;
  }
  return false;
}

}  // namespace

const char* otServerFileNameRefusal(const char* name) {
  if (name == nullptr || name[0] == '\0') return "empty name";
  if (!otIsLocalFileName(name)) return "not a plain file name";
  if (name[0] == '.') return "hidden file name";
  if (isSharedLibrary(name)) return "shared library";
  if (strcmp(name, "otclient.ini") == 0) return "the client's ini file";
  return nullptr;
}

bool otIsSameFile(const char* path, const struct stat& st) {
  struct stat other;
  return path != nullptr && path[0] != '\0' && stat(path, &other) == 0 &&
         other.st_dev == st.st_dev && other.st_ino == st.st_ino;
}
