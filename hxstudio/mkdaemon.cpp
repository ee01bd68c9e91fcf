// mkmodbus, mksiemens, mkppi: run a daemon generator on a project file and, on request,
// compile the generated daemon against the installed otkit. One source, built once per kind
// (MKDAEMON_KIND).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include <string>

#include "gdaemon.h"

#ifndef MKDAEMON_KIND
#error "MKDAEMON_KIND must name the kind of daemon"
#endif

namespace {

struct Kind {
  const char* tool;
  const char* extension;
  const char* packages;  // pkg-config packages the daemon is compiled against
};

const Kind kKind = MKDAEMON_KIND == HX_DAEMON_MODBUS ? Kind{"mkmodbus", "mkmodbus", "otkit"}
                   : MKDAEMON_KIND == HX_DAEMON_SIEMENS_TCP
                       ? Kind{"mksiemens", "mksiemens", "otkit"}
                       : Kind{"mkppi", "mkppi", "otkit otnodave"};

void usage(FILE* out) {
  fprintf(out,
          "usage: %s [-c] [-o PROGRAM] NAME.%s\n"
          "Generates an acquisition daemon and the header of its process image from the\n"
          "project file NAME.%s.\n"
          "  -c          also compile the daemon against the installed otkit:\n"
          "                ${CXX:-g++} ${CXXFLAGS} SOURCE -o PROGRAM \\\n"
          "                  $(pkg-config --cflags --libs %s) ${LDFLAGS}\n"
          "              (set PKG_CONFIG_PATH=PREFIX/lib/pkgconfig for an installation that\n"
          "              pkg-config does not search by itself)\n"
          "  -o PROGRAM  the program to write (default: %s)\n"
          "  -h          this text\n"
          "Exit status: 0; 255 when the description cannot be used; 1 when the compiler\n"
          "fails; 2 for bad usage.\n",
          kKind.tool, kKind.extension, kKind.extension, kKind.packages,
          MKDAEMON_KIND == HX_DAEMON_MODBUS
              ? "the project file's name up to its first dot, in the working directory"
              : "the target, in the working directory");
}

// Quotes text for the shell.
std::string quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

int runShell(const std::string& command) {
  int status = system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int compile(const hxDaemonFiles& files, const std::string& program) {
  std::string packages = kKind.packages;
  if (runShell("pkg-config --exists " + packages) != 0) {
    fprintf(stderr,
            "%s: pkg-config does not know %s; install otkit or set PKG_CONFIG_PATH to its "
            "lib/pkgconfig directory\n",
            kKind.tool, packages.c_str());
    return 1;
  }
  // The run path lets the daemon find the library wherever it is installed.
  std::string command = "${CXX:-g++} ${CXXFLAGS} " + quote(files.sourcePath) + " -o " +
                        quote(program) + " $(pkg-config --cflags --libs " + packages +
                        ") -Wl,-rpath,$(pkg-config --variable=libdir otkit) ${LDFLAGS}";
  printf("%s\n", command.c_str());
  fflush(stdout);
  int status = runShell(command);
  if (status != 0) {
    fprintf(stderr, "%s: the compiler failed (status %d)\n", kKind.tool, status);
    return 1;
  }
  printf("compiled %s\n", program.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool doCompile = false;
  std::string program;
  const char* project = nullptr;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "-c") == 0) {
      doCompile = true;
    } else if (strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      program = argv[++i];
    } else if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
      usage(stdout);
      return 0;
    } else if (argv[i][0] == '-' || project != nullptr) {
      usage(stderr);
      return 2;
    } else {
      project = argv[i];
    }
  }
  if (project == nullptr) {
    usage(stderr);
    return 2;
  }
  hxDaemonFiles files;
  if (hxRunGenerator(MKDAEMON_KIND, project, &files) != 0) {
    fflush(stdout);
    exit(-1);
  }
  if (!doCompile) return 0;
  if (program.empty()) program = files.programName;
  return compile(files, program);
}
