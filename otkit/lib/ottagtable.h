// otTagTable: the named values of a project's process images. A tag names one value of a
// generated daemon's image by the daemon's header (<target>.h), the read cycle and the index
// in that cycle's block, and says how to show it (type, scale, offset, unit) and, for a
// writable tag, which device-client write posts a new value and where to.
//
// One table serves every program that names plant values: the studio binds widgets to tags,
// generated display servers read and write them (otTagImage), the broker link publishes them
// and the audit trail records writes by tag name.
//
// The file: one tag per line, fields separated by blanks or tabs, '#' starts a comment line,
// empty lines are ignored, "-" stands for an empty field:
//
//   # name    header  cycle  index  type    scale  offset  unit   write     address
//   sine60    demo.h  1      1      short   0.1    0       "%"    -         -
//   setpoint  demo.h  3      0      short   1      0       ""     register  1,0
//   valve     demo.h  4      0      bit     1      0       -      coil      1,0
//
//   name     letters, digits and '_', not starting with a digit, at most 63 characters,
//            unique in the table (it becomes a C++ identifier and a metric name)
//   header   the daemon's generated header, relative to the table's folder (or absolute); a
//            file name without blanks or double quotes
//   cycle    1..100000 (the cycle lines of the daemon's project file, in order)
//   index    0..268435455: the number of the value within its cycle's block, counted in its type
//            (bit n is bit n of the block, short n the bytes 2n and 2n+1, int and float n the
//            bytes 4n..4n+3)
//   type     bit, byte, short, ushort, int, float (byte is unsigned, 0..255)
//   scale, offset   shown value = raw * scale + offset; a written value goes back as
//            (value - offset) / scale rounded to the type. Decimal numbers with '.', whatever
//            the locale; finite; a scale of 0 is refused
//   unit     a double-quoted text (the data provider's escape rule: \" \\ \n) or "-"; no
//            control characters but tab and line feed
//   write    "-" (read only) or the device-client write: Modbus "coil" (writeSingleCoil, type
//            bit) or "register" (writePresetSingleRegister, type short or ushort); Siemens and
//            PPI the tag's own type, "bit", "byte", "short", "ushort", "int", "float"
//            (writeBit, writeByte, writeShort, writeUShort, writeDword, writeFloat). PPI has no
//            "bit": its requests carry whole bytes
//   address  where the write goes: Modbus "slave,adr" (slave 0..255, adr 0..65535); Siemens
//            "slave,org,db,start" (bit: "slave,org,db,start.bit"), org a number 0..255 or
//            ORG_DB, ORG_M, ORG_E, ORG_A, ORG_PEPA, ORG_Z, ORG_T; PPI "slave,area,db,start",
//            slave 0..31, area a number 0..255 or daveSD, daveInputs, daveOutputs, daveFlags,
//            daveDB, daveDI, daveLocal, daveV, daveCounter, daveTimer. db 0..65535; start
//            such that the value's last byte is at most 65535 (a bit write: start 0..8191,
//            bit 0..7, since the request carries start * 8 + bit in 16 bits)
//   role     optional: the least role that may write the tag from a display, "operator" (the
//            default, also "-"), "engineer" or "admin"; a read-only tag has none
//
// Reading refuses a bad line with its line number and the reason ("line 3: unknown type
// \"word\""); the table then holds the lines before it. A line of more than 4096 bytes
// (without its line feed), a table of more than 100000 tags, a file of more than 64 MiB and a
// NUL byte are refused likewise. A line may end in "\r\n". Nothing throws.
#ifndef OTTAGTABLE_H
#define OTTAGTABLE_H

#include <string>
#include <vector>

#include "otwritegate.h"

// What a daemon's generated header says about its process image.
struct otDaemonHeader {
  enum Kind { UNKNOWN = 0, MODBUS = 1, SIEMENS = 2, PPI = 3 };
  std::string target;  // the prefix of its names ("demo")
  int kind = UNKNOWN;  // from the header's first line ("// Modbus Signal assignment of demo")
  std::string sharedMemory, mailbox;
  long size = 0;  // <target>_SHARED_MEMORY_SIZE
  struct Cycle {
    long base = 0;   // <target>_CYCLEn_BASE
    int bytes = 0;   // <target>_CYCLEn_NUM_BYTES
    int count = -1;  // <target>_CYCLEn_NUM (Modbus: coils or registers), -1 when not given
  };
  std::vector<Cycle> cycles;  // cycles[0] is cycle 1
};

// Reads a generated header's text (at most 1 MiB). 0, or -1 with *error saying what is missing
// or malformed ("line N: reason" for a bad line). Macros of other prefixes and the status
// macros are passed over. Refused besides: a cycle whose block lies outside the image, and a
// Modbus block whose size fits neither its count of coils nor its count of registers.
int otReadDaemonHeader(const char* text, otDaemonHeader* out, std::string* error);

struct otTag {
  enum Type { BIT = 0, BYTE, SHORT, USHORT, INT, FLOAT };
  std::string name;
  std::string header;  // as written in the table
  int cycle = 1;
  int index = 0;
  int type = SHORT;
  double scale = 1;
  double offset = 0;
  std::string unit;
  std::string write;            // "" for a read-only tag
  std::string address;          // "" for a read-only tag
  int role = OT_ROLE_OPERATOR;  // the least role that writes it

  bool writable() const { return !write.empty(); }
  // Bytes of one value of the type (a bit counts as 1: the byte that holds it).
  static int typeSize(int type);
  // The first byte of the value in its cycle's block.
  long blockOffset() const { return type == BIT ? index / 8 : (long)index * typeSize(type); }
  static const char* typeName(int type);  // "bit", ... ; null outside the enum
  static int typeOf(const char* name);    // -1 for an unknown name
};

class otTagTable {
 public:
  // The whole file; 0, or -1 (*error "file: reason" or "line N: reason"; the table then
  // holds the tags of the lines before the bad one).
  int read(const char* path, std::string* error);
  int parse(const char* text, std::string* error);
  // The file text: a comment line naming the columns, then one line per tag in table order,
  // columns aligned, numbers in their shortest text that reads back exactly, so that
  // parse(format()) gives the same table. write: 0, or -1 (*error why); it refuses a table
  // that would not read back (a tag check() refuses, a duplicate name) and replaces the file
  // at once, so that a failed write leaves the old file whole.
  std::string format() const;
  int write(const char* path, std::string* error) const;

  // Checks one tag as a line of the file would be checked (name syntax, type, write kind and
  // address against each other); with a header, also the cycle and that the value lies within
  // the cycle's block and the write kind belongs to the daemon's kind. 0, or -1 and *error.
  static int check(const otTag& t, const otDaemonHeader* header, std::string* error);
  // check() for every tag, with the headers read from the table's folder, and unique names.
  // 0, or -1 and *error "tag NAME: reason".
  int checkAll(const char* folder, std::string* error) const;

  // The index of the tag named name, -1 when there is none.
  int find(const std::string& name) const;
  // Adds a tag after check(); -1 (and *error) for a bad or duplicate one.
  int add(const otTag& t, std::string* error);

  // A tag for every value of every cycle of a daemon, named "<target>_c<cycle>_<index>"
  // (the target cut so that the name keeps to 63 characters), typed by the cycle (a Modbus
  // block of bits bit, of registers short; Siemens and PPI short, and byte for the last byte
  // of a block of odd length), read only (the header does not say which blocks the device lets one
  // write), for the user to rename and complete. headerName is what the tags' header field says.
  static std::vector<otTag> propose(const otDaemonHeader& h, const std::string& headerName);

  std::vector<otTag> tags;
};

#endif
