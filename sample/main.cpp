// otsample: the sample display server. Every client gets the masks by number, starting with
// the start mask; a mask's navigation returns the number of the next.
//   otsample [-port=5050] [-bind=ADDR] [-maxclients=N] [-poll=MS] [-mask=N] [-data=DIR]
//            [-shm=FILE] [-mbx=FILE] [-refresh=MS]
//            [-db=QSQLITE|QPSQL] [-dbname=NAME] [-dbhost=HOST] [-dbuser=USER] [-dbpass=PASS]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sample.h"

namespace {

int startMask = MASK_PLANT;

int run(PARAM_* p) {
  static int (*const masks[MASK_COUNT])(PARAM_*) = {
      nullptr, show_plant, show_mask2, show_mask3, show_mask4, show_maskvtk, show_maskdb};
  int r = hxRunMasks(p, masks, MASK_COUNT, startMask);
  return r < 0 ? 0 : r;
}

// The value of -name=value, or null.
const char* option(const char* arg, const char* name) {
  size_t n = strlen(name);
  return strncmp(arg, name, n) == 0 && arg[n] == '=' ? arg + n + 1 : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  hxServerOptions o;
  o.catchSignals = 1;
  o.moreUsage =
      "  -mask=N        the mask a client gets first, 1 to 6 (default 1, the plant)\n"
      "  -data=DIR      the sample data: pictures, sound, GL lists, VTK files (default .)\n"
      "  -shm=FILE, -mbx=FILE   the demo daemon's image and mailbox (default its header's)\n"
      "  -refresh=MS    how often the plant's values are sent (default 1000)\n"
      "  -db=QSQLITE|QPSQL, -dbname=NAME, -dbhost=HOST, -dbuser=USER, -dbpass=PASS\n"
      "                 the database mask's database (default QSQLITE, otsample.sqlite)\n";
  int r = hxParseServerArgs(argc, argv, &o);
  if (r != 0) return r < 0 ? 2 : 0;
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    const char* v;
    if ((v = option(a, "-mask")) != nullptr) {
      startMask = atoi(v);
      if (startMask < 1 || startMask >= MASK_COUNT) {
        fprintf(stderr, "otsample: -mask=%s: the masks are 1 to %d\n", v, MASK_COUNT - 1);
        return 2;
      }
    } else if ((v = option(a, "-data")) != nullptr) {
      sampleSettings.dataDir = v;
    } else if ((v = option(a, "-shm")) != nullptr) {
      sampleSettings.sharedMemory = v;
    } else if ((v = option(a, "-mbx")) != nullptr) {
      sampleSettings.mailbox = v;
    } else if ((v = option(a, "-refresh")) != nullptr) {
      sampleSettings.refreshMs = atoi(v) > 0 ? atoi(v) : 1000;
    } else if ((v = option(a, "-db")) != nullptr) {
      sampleSettings.dbType = v;
    } else if ((v = option(a, "-dbname")) != nullptr) {
      sampleSettings.dbName = v;
    } else if ((v = option(a, "-dbhost")) != nullptr) {
      sampleSettings.dbHost = v;
    } else if ((v = option(a, "-dbuser")) != nullptr) {
      sampleSettings.dbUser = v;
    } else if ((v = option(a, "-dbpass")) != nullptr) {
      sampleSettings.dbPassword = v;
    }
  }
  o.listening = [](int port) {
    printf("otsample: serving on port %d, start mask %d, data in %s\n", port, startMask,
           sampleSettings.dataDir);
    fflush(stdout);
  };
  return hxRunServer(&o, run, nullptr) < 0 ? 1 : 0;
}
