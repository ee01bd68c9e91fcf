// otTagImage: the tags of a table, read from and written to the process images of their
// daemons through the right device client (otModbusClient, otSiemensTCPClient, otPPIClient).
// Generated display servers use it for the widgets bound to tags.
//
// Images that are not there yet (a daemon not started) are tried again on each open(); a
// value of a daemon whose image is missing reads as not fresh with age -1. open() never makes
// an image: only the daemon's files together with its segment, at least as large as the
// header says, count as its image (a segment made by a display server with an older header
// would keep the daemon from starting). Writes go through one otWriteCoalescer per daemon
// (the latest value of a tag wins) to a mailbox that does not wait (setWriteWait(0)), so a
// stalled daemon never blocks the caller.
//
// Values: Modbus registers as the image holds them, most significant byte first, a 32-bit
// int or float in two registers, high word first; Siemens and PPI values in PLC order (the
// clients' swap flag 1). A tag whose header was not given, or that does not fit its header
// (otTagTable::check), is never read or written.
//
// An object belongs to one thread at a time.
#ifndef OTTAGIMAGE_H
#define OTTAGIMAGE_H

#include <memory>
#include <string>
#include <vector>

#include "ottagtable.h"

class otTagImage {
 public:
  // table: the tags; headers: the header of every daemon the tags name, by the tags' header
  // field (what otReadDaemonHeader read from the file).
  otTagImage(const otTagTable& table,
             const std::vector<std::pair<std::string, otDaemonHeader>>& headers);
  ~otTagImage();
  otTagImage(const otTagImage&) = delete;
  otTagImage& operator=(const otTagImage&) = delete;

  // Reads the table file and the headers it names (relative to the table's folder). Null and
  // *error for a bad table or header.
  static std::unique_ptr<otTagImage> load(const char* tablePath, std::string* error);

  // Other paths for a daemon's shared memory and mailbox than its header's (for a daemon run
  // with its files elsewhere). target "" means every daemon of the table; an empty path keeps
  // the one in use. Before open(): a daemon already open keeps its image.
  void setPaths(const std::string& target, const std::string& sharedMemory,
                const std::string& mailbox);

  // Opens the images and mailboxes not open yet. The number of daemons whose image is open.
  int open();
  int daemons() const;
  int tagCount() const { return (int)table_.tags.size(); }
  // The index of a tag by name, -1 when the table has none.
  int find(const std::string& name) const;
  // The tag at index; an empty tag (name "") out of range.
  const otTag& tag(int index) const;

  // The value of a tag (scaled), whether its cycle read good the last time, and the seconds
  // since its last good read (-1 never; an image without the status area gives fresh 0 and
  // age -1). 0, or -1 (value 0, fresh 0, age -1) when the index is out of range, the daemon's
  // image is not open or cannot be read. Null pointers are allowed.
  int read(int index, double* value, int* fresh, long* ageSeconds);
  // The same without the tag's scale and offset: the value as its type holds it.
  int readRaw(int index, double* raw, int* fresh, long* ageSeconds);
  // Every tag at once as readRaw() reads it, from one copy of each daemon's image (one lock a
  // daemon instead of several a tag): per tag its raw value, whether its cycle is fresh, and
  // whether it could be read at all. The number of tags read.
  int readAllRaw(std::vector<double>* raw, std::vector<char>* fresh, std::vector<char>* ok);
  // Puts raw, a value as t's type holds it, into block (t's cycle block of size bytes) as the
  // daemons keep it: most significant byte first, a bit in its byte. false when it does not fit.
  static bool putRaw(const otTag& t, double raw, unsigned char* block, size_t size);
  // Posts value (unscaled back to the type) as the tag's write: 0 posted, 1 pending (the
  // mailbox is full; flush() tries again), -1 refused (read-only tag, image not open, value not
  // finite or, once unscaled and rounded, out of the type's range: bit 0..1, byte 0..255,
  // short -32768..32767, ushort 0..65535, int 32 bits, float within float's range; mailbox
  // error).
  int write(int index, double value);
  // The same for a value as the tag's type holds it (no scale, no offset).
  int writeRaw(int index, double raw);
  // The tag that a write request, as writeRaw() posts it to its daemon's mailbox, is for,
  // with the raw value it writes: its index, or -1 for a request that no writable tag of the
  // table posts.
  int requestedWrite(const unsigned char* msg, int len, double* raw) const;
  // Posts what waits. How many writes still wait.
  int flush();

 private:
  struct Daemon;
  struct Write;
  otTagTable table_;
  std::vector<std::unique_ptr<Daemon>> daemons_;
  std::vector<int> daemonOf_;  // per tag, the index into daemons_; -1 for a tag without one
  std::vector<Write> writes_;  // per tag, the parsed write address
};

#endif
