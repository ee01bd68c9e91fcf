// Daemon generators: a short project file (".mkmodbus", ".mksiemens", ".mkppi") becomes the
// complete C++ source of an acquisition daemon for one field bus and a header with the offsets
// of its process image for display servers.
//
// gmodbus, gsiemens and gppi are the generators as the command-line tools and the "Make a
// Daemon" dialog call them: they print what they read on standard output, write the header
// and the source, and return 0; on any error they print the reason and end the process with
// exit status -1. hxGenerate* is the same generation without touching files or the process,
// for callers that must survive a bad description.
#ifndef HXSTUDIO_GDAEMON_H
#define HXSTUDIO_GDAEMON_H

#include <string>

enum hxDaemonKind { HX_DAEMON_PPI = 1, HX_DAEMON_SIEMENS_TCP = 2, HX_DAEMON_MODBUS = 3 };

struct hxDaemonFiles {
  std::string log;  // the generator's standard output, in order; on failure ends with the reason
  std::string headerPath;
  std::string header;
  std::string sourcePath;
  std::string source;
  std::string programName;  // what the compile command names the program
};

// Generates from text, the content of the project file at path (path names the output files
// and the defaults). Returns 0, or -1 with the failure message at the end of log; nothing is
// written anywhere.
int hxGenerate(int kind, const char* path, const std::string& text, hxDaemonFiles* out);

// Reads path, generates, prints the log on standard output and writes header and source.
// Returns 0, or -1 after printing the reason; no output file is written when the description
// is faulty.
int hxRunGenerator(int kind, const char* path, hxDaemonFiles* out = nullptr);

int gmodbus(const char* path);
int gsiemens(const char* path);
int gppi(const char* path);

#endif
