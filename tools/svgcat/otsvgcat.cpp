// otsvgcat: prints an SVG file in the line form that the SVG animator sends to a display
// client (see svgcat.h); with a second argument it writes the same text to that file.
//   otsvgcat FILE.svg [OUTFILE]
// Exit status 0; 1 when the file cannot be read or written or is not well-formed XML (a line
// "otsvgcat: ..." on standard error, nothing on standard output); 2 for bad usage.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "svgcat.h"

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
  std::string data;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), in)) > 0)
    data.append(buf, n);
  bool readError = ferror(in) != 0;
  fclose(in);
  if (readError) {
    fprintf(stderr, "otsvgcat: cannot read %s\n", argv[1]);
    return 1;
  }
  std::string out, error;
  if (svgcatConvert(data.data(), data.size(), &out, &error) != 0) {
    fprintf(stderr, "otsvgcat: %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  FILE* dest = stdout;
  if (argc == 3) {
    dest = fopen(argv[2], "w");
    if (dest == nullptr) {
      fprintf(stderr, "otsvgcat: cannot write %s: %s\n", argv[2], strerror(errno));
      return 1;
    }
  }
  bool ok = fwrite(out.data(), 1, out.size(), dest) == out.size();
  ok = (dest == stdout ? fflush(dest) : fclose(dest)) == 0 && ok;
  if (!ok) {
    fprintf(stderr, "otsvgcat: cannot write %s\n", argc == 3 ? argv[2] : "standard output");
    return 1;
  }
  return 0;
}
