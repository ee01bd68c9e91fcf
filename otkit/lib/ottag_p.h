// Internal to the tag table and the tag image: the parsed write address of a tag and the
// reading of header files, shared so that the table checks a tag exactly as the image posts it.
#ifndef OTTAG_P_H
#define OTTAG_P_H

#include <string>

#include "ottagtable.h"

namespace ottag {

// Limits of a table and of what it reads.
enum {
  MAX_LINE = 4096,       // bytes of one line of the table, without its line feed
  MAX_TAGS = 100000,     // tags of one table
  MAX_NAME = 63,         // characters of a tag name
  MAX_CYCLES = 100000,   // cycles of one daemon header
  MAX_INDEX = 1 << 28,   // index values: bit offsets of any image stay far below 2^31
  MAX_HEADER = 1 << 20,  // bytes of a daemon header
};
// Bytes of a table file.
const long kMaxTableFile = 64L << 20;

// Write kinds, in the order of the otTag types for the Siemens and PPI ones.
enum Write { NONE = -1, W_BIT = 0, W_BYTE, W_SHORT, W_USHORT, W_INT, W_FLOAT, W_COIL, W_REGISTER };
// The write kind of a name ("coil", "short", ...), NONE for "" and -2 for an unknown name.
int writeOf(const std::string& name);

// Where a tag's write goes. Modbus: slave and adr; Siemens and PPI: slave, org (the
// organisation or area code), db, start and, for a bit write, bit.
struct Address {
  int write = NONE;
  int slave = 0, adr = 0, org = 0, db = 0, start = 0, bit = -1;
};

// Parses t.write and t.address against each other and against t.type; with a known kind
// (otDaemonHeader::Kind), also against the daemon's kind. 0, or -1 and *error.
int parseAddress(const otTag& t, int kind, Address* out, std::string* error);

// Reads and parses the header file at path. 0, or -1 and *error "reason".
int readHeaderFile(const std::string& path, otDaemonHeader* out, std::string* error);

// The path of a header named by a table in folder: absolute names stay as they are.
std::string headerPath(const std::string& folder, const std::string& header);
// The folder of a file path ("." for a bare name).
std::string folderOf(const std::string& path);

}  // namespace ottag

#endif
