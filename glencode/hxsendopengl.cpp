// Recorded GL files sent to the client: display lists made once (by a program that records
// its GL calls with glencode_record) and compiled on the client under names of its own.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "glencode_p.h"

namespace {

// A line longer than this is no line the encoder writes (six doubles with %f stay far below).
const size_t kMaxFileLine = 65536;

class RecordedFile {
 public:
  explicit RecordedFile(const char* path) : f_(fopen(path, "rb")) {}
  ~RecordedFile() {
    if (f_ != nullptr) fclose(f_);
    free(buf_);
  }
  RecordedFile(const RecordedFile&) = delete;
  RecordedFile& operator=(const RecordedFile&) = delete;

  bool open() const { return f_ != nullptr; }
  // The next line with its line feed: 1; 0 at the end; -1 for a line that is too long or has
  // no line feed (the file was cut).
  int next(std::string& line) {
    ssize_t n = getline(&buf_, &cap_, f_);
    if (n <= 0) return 0;
    if ((size_t)n > kMaxFileLine || buf_[n - 1] != '\n') return -1;
    line.assign(buf_, (size_t)n);
    return 1;
  }
  // The n bytes of a block; false when the file ends first.
  bool bytes(long long n, std::vector<char>& out) {
    out.resize((size_t)n);
    return n == 0 || fread(out.data(), 1, (size_t)n, f_) == (size_t)n;
  }

 private:
  FILE* f_;
  char* buf_ = nullptr;
  size_t cap_ = 0;
};

// The size a "glbytes(n)" line announces; -1 for any other line, -2 for a size out of range.
long long blockSize(const std::string& line) {
  long long n = 0;
  if (sscanf(line.c_str(), "glbytes(%lld)", &n) != 1) return -1;
  return n < 0 || n > glsize::kMaxBlock ? -2 : n;
}

// Draws hxText(f,x,y,"text"); false for a line of another form.
bool drawText(const std::string& line, const glFont* proportional, const glFont* fixed) {
  int which = 0, used = 0;
  float x = 0, y = 0;
  if (sscanf(line.c_str(), "hxText(%d,%f,%f,\"%n", &which, &x, &y, &used) != 3 || used == 0)
    return false;
  size_t close = line.rfind("\")");
  if (close == std::string::npos || close < (size_t)used) return false;
  const glFont* font = which == 0 ? proportional : which == 1 ? fixed : nullptr;
  if (font != nullptr)
    font->drawString(x, y, line.substr((size_t)used, close - (size_t)used).c_str());
  return true;
}

}  // namespace

int hxSendOpenGL(PARAM_* p, const char* file, GLuint* listarray, int count,
                 const glFont* proportional, const glFont* fixed) {
  if (p == nullptr || p != glencode_param() || file == nullptr) return -1;
  RecordedFile in(file);
  if (!in.open()) return -1;
  if (listarray == nullptr) count = 0;
  std::map<unsigned, GLuint> names;  // the file's list name -> the client's
  std::vector<char> block;
  std::string line;
  int made = 0;
  bool inList = false, skipping = false;
  for (;;) {
    int r = in.next(line);
    if (r == 0) break;
    if (r < 0) return -2;
    long long n = blockSize(line);
    if (n == -2) return -2;
    if (n >= 0) {
      if (!in.bytes(n, block)) return -2;
      if (!skipping) {
        glenc::sendRaw(line.data(), line.size());
        glenc::sendRaw(block.data(), block.size());
      }
      continue;
    }
    unsigned name = 0;
    int mode = 0;
    if (sscanf(line.c_str(), "glNewList(%u,%d)", &name, &mode) == 2) {
      if (inList) return -2;  // GL refuses a list inside a list; the file is not a recording
      inList = true;
      skipping = made >= count;
      if (skipping) continue;
      GLuint mine = glGenLists(1);
      if (mine == 0) return -2;
      names[name] = mine;
      listarray[made++] = mine;
      glNewList(mine, (GLenum)mode);
      continue;
    }
    if (strncmp(line.c_str(), "glEndList(", 10) == 0) {
      if (!skipping) glEndList();
      inList = skipping = false;
      continue;
    }
    if (skipping || strncmp(line.c_str(), "glGenLists(", 11) == 0) continue;
    if (sscanf(line.c_str(), "glCallList(%u)", &name) == 1) {
      auto it = names.find(name);
      glCallList(it != names.end() ? it->second : name);
      continue;
    }
    if (drawText(line, proportional, fixed)) continue;
    glenc::sendRaw(line.data(), line.size());
  }
  return inList ? -2 : made;
}
