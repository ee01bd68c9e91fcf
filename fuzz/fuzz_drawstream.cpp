// The drawing widget on arbitrary stream bytes: every line goes through the parser and the
// painter of a 200x150 picture, as a replayed metafile would.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QApplication>

#include "otoptions.h"
#include "qdrawwidget.h"
#include "qtfuzzapp.h"

namespace {

void ensureApplication() {
  fuzzApplication("fuzz_drawstream");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ensureApplication();
  // The widget replays files by name; an anonymous memory file keeps the disk out of it.
  int fd = memfd_create("drawstream", MFD_CLOEXEC);
  if (fd < 0) return 0;
  size_t off = 0;
  while (off < size) {
    ssize_t n = write(fd, data + off, size - off);
    if (n <= 0) break;
    off += (size_t)n;
  }
  char path[64];
  snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
  QDrawWidget w(nullptr, "fuzz", 0, nullptr, 1);
  w.resizeBuffer(200, 150);
  w.showFromFile(path);
  close(fd);
  return 0;
}
