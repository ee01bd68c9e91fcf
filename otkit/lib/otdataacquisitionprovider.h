// otDataAcquisitionProvider: the acquisition daemon's side of a name/value process image. It
// lays out the shared memory described in otdataacquisition.h, names its records from an item
// list and stores the values that the daemon reads from its device. The daemon reads the
// requests of its readers from its own mailbox (otMailbox).
#ifndef OTDATAACQUISITIONPROVIDER_H
#define OTDATAACQUISITIONPROVIDER_H

#include "otdataacquisition.h"
#include "otsharedmemory.h"

class otDataAcquisitionProvider {
 public:
  // Opens the shared memory shmname of shmsize bytes (mode 0600), clears all shmsize bytes and
  // writes an empty valid header: maxNameLength 0, maxValueLength (a negative one as 0),
  // numItems 0, counters 0, ident "daq". Adding values is off. A shared memory that cannot be
  // opened, or one smaller than the 88-byte header, leaves the provider without a header:
  // every later call fails.
  otDataAcquisitionProvider(int maxValueLength, const char* shmname, long shmsize);
  // Releases the otSharedMemory; the segment stays in the system.
  virtual ~otDataAcquisitionProvider();
  otDataAcquisitionProvider(const otDataAcquisitionProvider&) = delete;
  otDataAcquisitionProvider& operator=(const otDataAcquisitionProvider&) = delete;

  // Names the records from the item list filename, one name a line: lines starting with '#',
  // a space, a control character or a byte above 127 are skipped, and lines of more than
  // 1023 characters count as several. The longest line (with its line end) sets
  // maxNameLength; each name is cut to maxValueLength characters, then at its first line end,
  // space or tab. numItems becomes the number of names, the values are empty. 0, or
  // DAQ_ERROR_INT: "could not open itemlist %s\n" for a missing file, "...shared memmory is
  // too small..." if the records do not fit (nothing is changed then), or no header.
  int readItemList(const char* filename);

  // Iterate over the record names: firstItem returns record 0's name, nextItem the next one;
  // null without a valid header or when there is no such record.
  const char* firstItem();
  const char* nextItem();

  // The value text of name; "DAQ_ERROR" for every failure.
  const char* stringValue(const char* name);
  // As otDataAcquisition::intValue and floatValue: DAQ_ERROR_INT / DAQ_ERROR_FLOAT for a
  // failed lookup, a value that does not start with a digit (for floats: or '-'), or one out
  // of range.
  int intValue(const char* name);
  float floatValue(const char* name);

  // Stores value, cut to maxValueLength characters, in the record of name. Without such a
  // record, and with adding allowed, appends one if it fits below the shared memory's size,
  // else prints "otDataAcquisitionProvider: ERROR shared memory too small to add variable=..."
  // (without line end). 0; DAQ_ERROR_INT if an argument is null, there is no valid header, the
  // name is longer than maxNameLength, or the record is missing and cannot be added.
  int setStringValue(const char* name, const char* value);
  // Format with "%d" / "%f" (at most 127 characters) and call setStringValue.
  int setIntValue(const char* name, int value);
  int setFloatValue(const char* name, float value);

  // The header counters; DAQ_ERROR_INT without a header. Setters: 0 or DAQ_ERROR_INT.
  int readErrorCount();
  int writeErrorCount();
  int lifeCounter();
  int setReadErrorCount(int value);
  int setWriteErrorCount(int value);
  int setLifeCounter(int value);

  // 0 if the shared memory is usable and holds a header, else DAQ_ERROR_INT.
  int shmStatus();

  // Adding values becomes allowed if allow is non-zero. A maxNameLength above 0 is stored in
  // the header (needed when no item list is read). 0; DAQ_ERROR_INT if the length cannot be
  // stored: without a valid header, or when records exist with another maxNameLength, which
  // would move them (the flag is set all the same).
  int setAllowAddValues(int allow, int maxNameLength);

 private:
  otSharedMemory shm;
  otDataAcquisitionImage image;  // on shm's user data, so declared after it
  int index;
  int allowAddValues;
};

#endif
