#include "otfileload.h"
#include "otlog.h"

#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

// Closes the file on every return path of load().
struct FileCloser {
  FILE* fp;
  ~FileCloser() {
    if (fp != nullptr) fclose(fp);
  }
};

}  // namespace

otFileLoad::otFileLoad() : loaded(0), debug(0), first(nullptr), last(nullptr), cursor(nullptr) {}

otFileLoad::~otFileLoad() {
  unload();
}

int otFileLoad::load(const char* path) {
  // Room for 4094 characters, the line feed and the NUL.
  enum { LINE = 4096 };
  if (loaded) unload();
  if (path == nullptr) return -1;
  FileCloser file{fopen(path, "r")};
  if (file.fp == nullptr) return -1;
  char buf[LINE];
  while (fgets(buf, LINE - 1, file.fp) != nullptr) {
    buf[strcspn(buf, "\n\r")] = '\0';
    otLogDebug(debug, "otFileLoad::load line=%s\n", buf);
    Line* line = static_cast<Line*>(malloc(sizeof(Line)));
    char* text = strdup(buf);
    if (line == nullptr || text == nullptr) {
      free(line);
      free(text);
      unload();
      return -1;
    }
    line->text = text;
    line->next = nullptr;
    if (last == nullptr)
      first = line;
    else
      last->next = line;
    last = line;
  }
  if (ferror(file.fp)) {
    unload();
    return -1;
  }
  loaded = 1;
  cursor = nullptr;
  return 1;
}

const char* otFileLoad::firstLine() {
  if (!loaded || first == nullptr) return nullptr;
  otLogDebug(debug, "otFileLoad::firstLine=%s\n", first->text);
  cursor = first->next;
  return first->text;
}

const char* otFileLoad::nextLine() {
  if (!loaded || cursor == nullptr) return nullptr;
  Line* line = cursor;
  otLogDebug(debug, "otFileLoad::nextLine=%s\n", line->text);
  cursor = line->next;
  return line->text;
}

int otFileLoad::unload() {
  Line* line = first;
  while (line != nullptr) {
    Line* next = line->next;
    otLogDebug(debug, "otFileLoad::unload line=%s\n", line->text);
    free(line->text);
    free(line);
    line = next;
  }
  first = last = cursor = nullptr;
  loaded = 0;
  return 0;
}

int otFileLoad::setDebug(int flag) {
  debug = flag != 0 ? 1 : 0;
  return debug;
}

int otFileLoad::text2otstring(otString& s) {
  s = "";
  if (!loaded) return -1;
  std::string all;
  for (Line* line = first; line != nullptr; line = line->next) {
    all += line->text;
    all += '\n';
  }
  s = all.c_str();
  return 0;
}
