// Daemon generators: a short project file (".mkmodbus", ".mksiemens", ".mkppi") becomes the
// complete C++ source of an acquisition daemon for one field bus and a header with the offsets
// of its process image for display servers.
//
// gmodbus, gsiemens and gppi are the generators as the command-line tools and the "Make a
// Daemon" dialog call them: they print what they read on standard output, write the header
// and the source, and return 0; on any error they print the reason and end the process with
// exit status -1. hxGenerate* is the same generation without touching files or the process,
// for callers that must survive a bad description.
//
// Process image of every generated daemon (the header gives each offset as a macro, prefixed
// with the target):
//   CYCLEk_BASE            the block of read cycle k (k = 1, 2, ... in the order of the cycle
//                          lines), back to back from 0, CYCLEk_NUM_BYTES bytes each
//   LIFE_COUNTER_BASE      three 16-bit counters in host byte order behind the blocks: passes
//   READ_ERROR_COUNT_BASE  (the daemon is alive), failed reads, failed write requests; each
//   WRITE_ERROR_COUNT_BASE starts again at 0 after 32767
//   STATUS_BASE            the status area, behind the counters. Fields of more than one byte
//                          most significant byte first; times in seconds since 1970-01-01 UTC
//                          as 8 bytes, 0 for never; counts of 4 bytes stop at 0xFFFFFFFF.
//     per cycle, 16 bytes from STATUS_BASE + 16 * (k - 1):
//       CYCLEk_STATUS      1 byte: 0 not read yet, 1 the last read was good, 2 it failed
//                          (3 spare bytes follow)
//       CYCLEk_FAILURES    4 bytes: failed reads in a row, 0 after a good one
//       CYCLEk_GOOD_TIME   8 bytes: time of the last good read
//     then the daemon, 28 bytes:
//       PASS_GOOD_TIME     8 bytes: end of the last pass in which every cycle read good
//       PASS_COUNT         4 bytes: passes over the cycles
//       READ_ERROR_TOTAL   4 bytes: failed reads
//       WRITE_ERROR_TOTAL  4 bytes: write requests not carried out (published once a pass)
//       STATUS_MARK        the 4 characters "OTS1"
//       STATUS_CYCLES      4 bytes: the number of cycles
//   SHARED_MEMORY_SIZE     the size of the image; it ends with the status area, so that the
//                          device clients find it from the size alone (cycleStatus, passAge).
// Every cycle is read in every pass; a failed read leaves its block as it was and says so in
// the status. A write request that fails because the device is out of reach (Modbus, Siemens
// TCP) is tried again for up to 30 s, then dropped and counted; a refusal by the device is
// counted at once.
//
// Refused descriptions (the generators print the reason and write nothing): a missing cycle
// field; a value out of range; a number with anything else in its word ("1x", "x"); a target
// that is not a C identifier; a Modbus TCP port outside 1..65535 (502 when none is given); a
// Modbus block beyond address 65535 (start_adr + num_register > 65536), and likewise a
// Siemens or PPI block (start + len > 65536); a Siemens cycle naming a slave without a slave=
// line; a PPI cycle of more than 256 bytes.
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
