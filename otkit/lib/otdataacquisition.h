// otDataAcquisition: the reader's side of a name/value process image. An acquisition daemon
// (otDataAcquisitionProvider) publishes named variables with textual values in a shared
// memory; a reader looks values up by name and posts write requests to the daemon's mailbox,
// one text line "name,value\n" per request.
//
// Image layout, at the user address of the otSharedMemory; 32-bit integers in host order:
//   0  ident            'd' 'a' 'q' 0 (7430500) when the layout is valid
//   4  maxNameLength    room for a name, without its terminator
//   8  maxValueLength   room for a value, without its terminator
//   12 numItems         records in use
//   16 readErrorCount, 20 writeErrorCount, 24 lifeCounter (set and read by daemon and readers)
//   28 60 reserved bytes, zero
//   88 numItems records of R = maxNameLength + maxValueLength + 2 bytes: the name
//      NUL-terminated at record offset 0, the value NUL-terminated at maxNameLength + 1.
// Values are text: integers as "%d", floats as "%f".
//
// Nothing is locked: the daemon rewrites values in place while readers read them.
#ifndef OTDATAACQUISITION_H
#define OTDATAACQUISITION_H

#include <stddef.h>

#include "otmailbox.h"
#include "otsharedmemory.h"

// Every integer result that cannot be delivered; float results give DAQ_ERROR_FLOAT.
constexpr int DAQ_ERROR_INT = 0x800000;
constexpr float DAQ_ERROR_FLOAT = 8388608.0f;

// A view on a block of memory that holds (or is to hold) the image above; it owns nothing.
// Both classes of the family work through it, and it runs on a plain memory block as well as
// on a shared memory. Every access stays within the block: a header whose counts or lengths
// do not fit the block, or a slot without terminator, makes the image invalid rather than
// letting a reader run past the end of a foreign or damaged segment.
class otDataAcquisitionImage {
 public:
  enum {
    IDENT = 7430500,   // 'd' 'a' 'q' 0 in host order
    HEADER_SIZE = 88,  // offset of record 0
    MAX_LINE = 1023,   // longest item-list line; longer ones are read in pieces
    MAX_NUMBER = 127,  // longest formatted number that setInt/setFloat store
  };
  // Why a lookup failed.
  enum { FOUND = 0, NO_HEADER = 1, INVALID = 2, NOT_FOUND = 3 };

  // The block adr of size bytes; without a header (every access fails) if adr is null or the
  // block is smaller than HEADER_SIZE.
  otDataAcquisitionImage(void* adr = nullptr, unsigned long size = 0);

  // True if the block holds a header (whatever its contents).
  bool hasHeader() const { return header_ != nullptr; }
  unsigned long size() const { return size_; }

  // Clears the whole block and writes an empty valid header: maxNameLength 0, maxValueLength
  // (a negative one is stored as 0), numItems 0, counters 0, ident "daq". Nothing without a
  // header.
  void init(int maxValueLength);

  // Builds the records from item-list text (see otDataAcquisitionProvider::readItemList).
  // 0, or DAQ_ERROR_INT (header missing or out of range, or the records do not fit, which
  // prints a message and writes nothing).
  int readItemList(const char* text, size_t length);

  // Stores value under name, adding a record when allowAdd is set (see
  // otDataAcquisitionProvider::setStringValue). 0 or DAQ_ERROR_INT.
  int setStringValue(const char* name, const char* value, bool allowAdd);
  // Stores maxNameLength if there are no records yet, or if it equals the stored one: a change
  // would move every record. 0; DAQ_ERROR_INT if refused or without a valid header.
  int setMaxNameLength(int maxNameLength);

  // The value of name, or null with *why set to NO_HEADER, INVALID or NOT_FOUND.
  const char* lookup(const char* name, int* why) const;
  // The name of record index; null without a valid header or for no such record.
  // Sets *why like lookup when why is not null.
  const char* itemName(int index, int* why = nullptr) const;
  // Records in use; -1 without a valid header.
  int numItems() const;

  // Header counters: the field, DAQ_ERROR_INT without a header; setters 0 or DAQ_ERROR_INT.
  int readErrorCount() const;
  int writeErrorCount() const;
  int lifeCounter() const;
  int setReadErrorCount(int value);
  int setWriteErrorCount(int value);
  int setLifeCounter(int value);

  // Value text to number. parseInt: "%d" semantics on a text that starts with a digit
  // (so a leading sign is refused), DAQ_ERROR_INT for anything else and for a number outside
  // the int range. parseFloat: "%f" semantics on a text that starts with a digit or '-',
  // DAQ_ERROR_FLOAT for anything else, for a text without a number and on overflow.
  static int parseInt(const char* text);
  static float parseFloat(const char* text);

 private:
  struct Header {
    int ident;
    int maxNameLength;
    int maxValueLength;
    int numItems;
    int readErrorCount;
    int writeErrorCount;
    int lifeCounter;
    char reserved[60];
  };
  static_assert(sizeof(Header) == HEADER_SIZE, "image header must be 88 bytes");

  // The layout fields read once and checked against the block, so that one operation works on
  // consistent numbers even while the daemon changes the header.
  struct Layout {
    int maxNameLength;
    int maxValueLength;
    int numItems;
    unsigned long recordSize;
  };
  bool layout(Layout* out) const;
  char* record(const Layout& l, int index) const;
  int find(const Layout& l, const char* name) const;
  int getField(const int* field) const;
  int setField(int* field, int value);

  Header* header_;
  char* records_;
  unsigned long size_;
};

class otDataAcquisition {
 public:
  // Opens the mailbox mbxname and the shared memory shmname of shmsize bytes (mode 0600).
  // The iteration index starts at -1.
  otDataAcquisition(const char* mbxname, const char* shmname, long shmsize);
  // Releases both objects; segment and queue stay in the system.
  virtual ~otDataAcquisition();
  otDataAcquisition(const otDataAcquisition&) = delete;
  otDataAcquisition& operator=(const otDataAcquisition&) = delete;

  // The value text of name in the shared memory; on failure "DAQ_ERROR: shmheader==NULL" (no
  // shared memory), "DAQ_ERROR: shmheader->ident is false" (ident is not "daq", or the header
  // does not fit the segment), "DAQ_ERROR: variable not found in shared memory".
  const char* stringValue(const char* name);
  // The value parsed with "%d" if it starts with a digit; DAQ_ERROR_INT otherwise (a leading
  // minus sign included), on failure and for a number outside the int range.
  int intValue(const char* name);
  // The value parsed with "%f" if it starts with a digit or '-'; DAQ_ERROR_FLOAT otherwise.
  float floatValue(const char* name);

  // Post "%s,%s\n", "%s,%d\n" or "%s,%f\n" to the mailbox. 0; DAQ_ERROR_INT if an argument is
  // null or the mailbox refuses the message.
  int writeStringValue(const char* name, const char* value);
  int writeIntValue(const char* name, int value);
  int writeFloatValue(const char* name, float value);

  // The header counters; DAQ_ERROR_INT without a shared memory.
  int readErrorCount();
  int writeErrorCount();
  int lifeCounter();
  // 0 if the shared memory is usable and holds a header, else DAQ_ERROR_INT.
  int shmStatus();

  // Iteration over the record names. firstVariable: record 0's name and the index set to 1;
  // "DAQ_ERROR" without a valid header; null (index -1) when there are no records.
  // nextVariable: the name at the index, which then advances; null when the index is negative
  // or has reached numItems (the index becomes -1); "DAQ_ERROR" without a valid header.
  const char* firstVariable();
  const char* nextVariable();

  // The shared memory's IPC key and id; -1 if it could not be opened.
  int shmKey();
  int shmId();

 private:
  int post(const char* format, ...) OT_PRINTF_FORMAT(2, 3);

  otMailbox mailbox;
  otSharedMemory shm;
  otDataAcquisitionImage image;  // on shm's user data, so declared after it
  int index;
};

#endif
