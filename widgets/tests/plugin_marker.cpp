// A communication plug-in that only says it was loaded: its constructor appends a line to the
// file named by OTKIT_PLUGIN_MARKER, before any entry point could be called.
#include <stdio.h>
#include <stdlib.h>

__attribute__((constructor)) static void markLoaded() {
  const char* file = getenv("OTKIT_PLUGIN_MARKER");
  if (file == nullptr) return;
  FILE* f = fopen(file, "a");
  if (f == nullptr) return;
  fputs("loaded\n", f);
  fclose(f);
}

extern "C" int hxc_com_con(const char*, int, int*) {
  return 0;
}
