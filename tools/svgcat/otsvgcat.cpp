// otsvgcat: prints an SVG file in the line form that the SVG animator sends to a display
// client (see svgcat.h); with a second argument it writes the same text to that file.
//   otsvgcat FILE.svg [OUTFILE]
// Exit status 0; 1 when the file cannot be read or written or is not well-formed XML (a line
// "otsvgcat: ..." on standard error, nothing on standard output, OUTFILE not touched); 2 for
// bad usage.
//
// The input streams through the parser in pieces and the text goes to an unlinked temporary
// file as it is produced, so memory stays small for drawings of any size. The text reaches
// its destination only once the whole input has proved well-formed: the SVG animator takes
// whatever comes on standard output for the drawing, and a late error must not leave half of
// one behind.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "svgcat.h"

namespace {

// A temporary file that nobody else can see: unlinked at once, gone when it is closed.
FILE* spoolFile(std::string* error) {
  const char* dir = getenv("TMPDIR");
  std::string name =
      std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/otsvgcat-XXXXXX";
  int fd = mkstemp(&name[0]);
  if (fd < 0) {
    *error = "cannot create a temporary file in " + name.substr(0, name.rfind('/')) + ": " +
             strerror(errno);
    return nullptr;
  }
  unlink(name.c_str());
  FILE* f = fdopen(fd, "w+b");
  if (f == nullptr) {
    *error = std::string("cannot create a temporary file: ") + strerror(errno);
    close(fd);
  }
  return f;
}

bool toSpool(const char* text, size_t len, void* user) {
  return fwrite(text, 1, len, static_cast<FILE*>(user)) == len;
}

// Copies the spool from its start to dest; false on a read or write error.
bool copySpool(FILE* spool, FILE* dest) {
  if (fflush(spool) != 0 || fseek(spool, 0, SEEK_SET) != 0) return false;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), spool)) > 0)
    if (fwrite(buf, 1, n, dest) != n) return false;
  return ferror(spool) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: otsvgcat FILE.svg [OUTFILE]\n");
    return 2;
  }
  FILE* in = fopen(argv[1], "rb");
  if (in == nullptr) {
    fprintf(stderr, "otsvgcat: cannot open %s: %s\n", argv[1], strerror(errno));
    return 1;
  }
  std::string error;
  FILE* spool = spoolFile(&error);
  if (spool == nullptr) {
    fprintf(stderr, "otsvgcat: %s\n", error.c_str());
    fclose(in);
    return 1;
  }
  SvgcatStream stream(toSpool, spool);
  char buf[65536];
  bool readError = false, converted = true;
  for (;;) {
    size_t n = fread(buf, 1, sizeof(buf), in);
    if (n < sizeof(buf) && ferror(in)) {
      readError = true;
      break;
    }
    bool last = n < sizeof(buf);
    if (stream.feed(buf, n, last) != 0) {
      converted = false;
      break;
    }
    if (last) break;
  }
  fclose(in);
  if (readError) {
    fprintf(stderr, "otsvgcat: cannot read %s\n", argv[1]);
    fclose(spool);
    return 1;
  }
  if (!converted) {
    fprintf(stderr, "otsvgcat: %s: %s\n", argv[1], stream.error().c_str());
    fclose(spool);
    return 1;
  }
  FILE* dest = stdout;
  if (argc == 3) {
    dest = fopen(argv[2], "w");
    if (dest == nullptr) {
      fprintf(stderr, "otsvgcat: cannot write %s: %s\n", argv[2], strerror(errno));
      fclose(spool);
      return 1;
    }
  }
  bool ok = copySpool(spool, dest);
  ok = (dest == stdout ? fflush(dest) : fclose(dest)) == 0 && ok;
  fclose(spool);
  if (!ok) {
    fprintf(stderr, "otsvgcat: cannot write %s\n", argc == 3 ? argv[2] : "standard output");
    return 1;
  }
  return 0;
}
