#include "otdataacquisition.h"
#include "otlog.h"
#include "otnumber.h"

#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <vector>

namespace {

// One item-list line as fgets reads it into 1024 bytes: up to and including the line feed, at
// most MAX_LINE bytes; a longer line comes in pieces. False at the end of the text.
bool nextLine(const char** pos, const char* end, char* line) {
  if (*pos >= end) return false;
  const char* p = *pos;
  size_t n = 0;
  while (p < end && n < otDataAcquisitionImage::MAX_LINE) {
    char c = *p++;
    line[n++] = c;
    if (c == '\n') break;
  }
  line[n] = '\0';
  *pos = p;
  return true;
}

// Comments, indented and empty lines, and lines starting with a control character or a byte
// outside ASCII name no item.
bool skipped(const char* line) {
  const unsigned char c = (unsigned char)line[0];
  return c == '#' || c == ' ' || c < 32 || c >= 127;
}

const char* const kNoHeader = "DAQ_ERROR: shmheader==NULL";
const char* const kInvalid = "DAQ_ERROR: shmheader->ident is false";
const char* const kNotFound = "DAQ_ERROR: variable not found in shared memory";
const char* const kError = "DAQ_ERROR";

// Bytes of user data in the segment actually attached: a segment made larger by the daemon is
// attached whole even if this reader asked for less.
unsigned long attachedUserSize(otSharedMemory& shm, long shmsize) {
  if (shm.status != otSharedMemory::SHM_OK || shm.getUserAdr() == nullptr) return 0;
  struct shmid_ds ds;
  if (shmctl(shm.shmId(), IPC_STAT, &ds) == 0 && ds.shm_segsz > otSharedMemory::SHM_HEADER_SIZE)
    return (unsigned long)ds.shm_segsz - otSharedMemory::SHM_HEADER_SIZE;
  return shmsize > 0 ? (unsigned long)shmsize : 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// otDataAcquisitionImage

otDataAcquisitionImage::otDataAcquisitionImage(void* adr, unsigned long size)
    : header_(nullptr), records_(nullptr), size_(0) {
  if (adr != nullptr && size >= HEADER_SIZE) {
    header_ = static_cast<Header*>(adr);
    records_ = static_cast<char*>(adr) + HEADER_SIZE;
    size_ = size;
  }
}

int otDataAcquisitionImage::getField(const int* field) const {
  return __atomic_load_n(field, __ATOMIC_RELAXED);
}

int otDataAcquisitionImage::setField(int* field, int value) {
  if (header_ == nullptr) return DAQ_ERROR_INT;
  __atomic_store_n(field, value, __ATOMIC_RELAXED);
  return 0;
}

void otDataAcquisitionImage::init(int maxValueLength) {
  if (header_ == nullptr) return;
  memset(header_, 0, size_);
  header_->maxValueLength = maxValueLength < 0 ? 0 : maxValueLength;
  header_->ident = IDENT;
}

bool otDataAcquisitionImage::layout(Layout* out) const {
  if (header_ == nullptr || getField(&header_->ident) != IDENT) return false;
  // numItems last and with acquire: the daemon writes a record before it counts it.
  out->maxNameLength = getField(&header_->maxNameLength);
  out->maxValueLength = getField(&header_->maxValueLength);
  out->numItems = __atomic_load_n(&header_->numItems, __ATOMIC_ACQUIRE);
  if (out->maxNameLength < 0 || out->maxValueLength < 0 || out->numItems < 0) return false;
  out->recordSize = (unsigned long)out->maxNameLength + (unsigned long)out->maxValueLength + 2;
  unsigned long bytes;
  if (__builtin_mul_overflow((unsigned long)out->numItems, out->recordSize, &bytes)) return false;
  return bytes <= size_ - HEADER_SIZE;
}

char* otDataAcquisitionImage::record(const Layout& l, int index) const {
  return records_ + (unsigned long)index * l.recordSize;
}

int otDataAcquisitionImage::find(const Layout& l, const char* name) const {
  // A name longer than the slot matches no record; otherwise the comparison reads at most
  // maxNameLength + 1 bytes of each record.
  const size_t length = strlen(name);
  if (length > (size_t)l.maxNameLength) return -1;
  for (int i = 0; i < l.numItems; i++) {
    const char* rec = record(l, i);
    if (memcmp(rec, name, length) == 0 && rec[length] == '\0') return i;
  }
  return -1;
}

int otDataAcquisitionImage::numItems() const {
  Layout l;
  return layout(&l) ? l.numItems : -1;
}

const char* otDataAcquisitionImage::lookup(const char* name, int* why) const {
  Layout l;
  if (header_ == nullptr) {
    *why = NO_HEADER;
    return nullptr;
  }
  if (!layout(&l)) {
    *why = INVALID;
    return nullptr;
  }
  const int i = name != nullptr ? find(l, name) : -1;
  if (i < 0) {
    *why = NOT_FOUND;
    return nullptr;
  }
  const char* value = record(l, i) + l.maxNameLength + 1;
  // The caller gets a C string: one without a terminator in its slot is a damaged image.
  if (memchr(value, '\0', (size_t)l.maxValueLength + 1) == nullptr) {
    *why = INVALID;
    return nullptr;
  }
  *why = FOUND;
  return value;
}

const char* otDataAcquisitionImage::itemName(int index, int* why) const {
  int dummy;
  if (why == nullptr) why = &dummy;
  Layout l;
  if (header_ == nullptr) {
    *why = NO_HEADER;
    return nullptr;
  }
  if (!layout(&l)) {
    *why = INVALID;
    return nullptr;
  }
  if (index < 0 || index >= l.numItems) {
    *why = NOT_FOUND;
    return nullptr;
  }
  const char* name = record(l, index);
  if (memchr(name, '\0', (size_t)l.maxNameLength + 1) == nullptr) {
    *why = INVALID;
    return nullptr;
  }
  *why = FOUND;
  return name;
}

int otDataAcquisitionImage::readItemList(const char* text, size_t length) {
  if (header_ == nullptr || (text == nullptr && length > 0)) return DAQ_ERROR_INT;
  const int maxValueLength = getField(&header_->maxValueLength);
  if (maxValueLength < 0) return DAQ_ERROR_INT;
  const char* end = text + length;
  char line[MAX_LINE + 1];

  // Pass 1: how many records, and the longest line (with its line end) as name room.
  unsigned long count = 0;
  int maxNameLength = 0;
  for (const char* pos = text; nextLine(&pos, end, line);) {
    if (skipped(line)) continue;
    count++;
    const int len = (int)strlen(line);
    if (len > maxNameLength) maxNameLength = len;
  }
  const unsigned long recordSize = (unsigned long)maxNameLength + (unsigned long)maxValueLength + 2;
  unsigned long needed;
  if (__builtin_mul_overflow(count, recordSize, &needed) ||
      __builtin_add_overflow(needed, (unsigned long)HEADER_SIZE, &needed))
    needed = ULONG_MAX;
  if (needed > size_ || count > INT_MAX) {
    // The header is left alone too: a new maxNameLength would move the records in place.
    otLog(OT_LOG_ERROR,
          "otDataAcquisitionProvider::shared memmory is too small sharedMemorySize=%ld "
          "sizeNeeded=%lu\n",
          (long)size_, needed);
    return DAQ_ERROR_INT;
  }

  // Pass 2. Readers see no records while they are rewritten.
  __atomic_store_n(&header_->numItems, 0, __ATOMIC_RELEASE);
  setField(&header_->maxNameLength, maxNameLength);
  Layout l = {maxNameLength, maxValueLength, 0, recordSize};
  int n = 0;
  for (const char* pos = text; n < (int)count && nextLine(&pos, end, line);) {
    if (skipped(line)) continue;
    // Cut to the value length first (kept as it is: item lists rely on it), then at the first
    // line end, space or tab. Either cut only shortens, so the name fits its slot.
    if (strlen(line) > (size_t)maxValueLength) line[maxValueLength] = '\0';
    line[strcspn(line, "\r\n \t")] = '\0';
    // The whole record is cleared, so that no earlier contents show up as value.
    char* rec = record(l, n);
    memset(rec, 0, recordSize);
    memcpy(rec, line, strlen(line));
    n++;
  }
  __atomic_store_n(&header_->numItems, n, __ATOMIC_RELEASE);
  setField(&header_->ident, IDENT);
  return 0;
}

int otDataAcquisitionImage::setStringValue(const char* name, const char* value, bool allowAdd) {
  Layout l;
  if (name == nullptr || value == nullptr || !layout(&l)) return DAQ_ERROR_INT;
  const size_t nameLength = strlen(name);
  if (nameLength > (size_t)l.maxNameLength) return DAQ_ERROR_INT;
  const size_t valueLength = strnlen(value, (size_t)l.maxValueLength);

  const int i = find(l, name);
  if (i >= 0) {
    char* slot = record(l, i) + l.maxNameLength + 1;
    // value may be this very slot, as handed out by a lookup.
    memmove(slot, value, valueLength);
    slot[valueLength] = '\0';
    return 0;
  }
  if (!allowAdd) return DAQ_ERROR_INT;

  // R * numItems + R + 88 must stay below the size.
  unsigned long end;
  if (l.numItems == INT_MAX ||
      __builtin_mul_overflow((unsigned long)l.numItems + 1, l.recordSize, &end) ||
      __builtin_add_overflow(end, (unsigned long)HEADER_SIZE, &end) || end >= size_) {
    otLog(OT_LOG_ERROR,
          "otDataAcquisitionProvider: ERROR shared memory too small to add variable=%s val=%.*s "
          "please increase shared memory size",
          name, (int)valueLength, value);
    return DAQ_ERROR_INT;
  }
  char* rec = record(l, l.numItems);
  memset(rec, 0, l.recordSize);
  memcpy(rec, name, nameLength);
  memcpy(rec + l.maxNameLength + 1, value, valueLength);
  // Counted only once complete, for readers that look meanwhile.
  __atomic_store_n(&header_->numItems, l.numItems + 1, __ATOMIC_RELEASE);
  return 0;
}

int otDataAcquisitionImage::setMaxNameLength(int maxNameLength) {
  Layout l;
  if (maxNameLength < 0 || !layout(&l)) return DAQ_ERROR_INT;
  if (l.numItems == 0) return setField(&header_->maxNameLength, maxNameLength);
  return maxNameLength == l.maxNameLength ? 0 : DAQ_ERROR_INT;
}

int otDataAcquisitionImage::readErrorCount() const {
  return header_ ? getField(&header_->readErrorCount) : DAQ_ERROR_INT;
}
int otDataAcquisitionImage::writeErrorCount() const {
  return header_ ? getField(&header_->writeErrorCount) : DAQ_ERROR_INT;
}
int otDataAcquisitionImage::lifeCounter() const {
  return header_ ? getField(&header_->lifeCounter) : DAQ_ERROR_INT;
}
int otDataAcquisitionImage::setReadErrorCount(int value) {
  return header_ ? setField(&header_->readErrorCount, value) : DAQ_ERROR_INT;
}
int otDataAcquisitionImage::setWriteErrorCount(int value) {
  return header_ ? setField(&header_->writeErrorCount, value) : DAQ_ERROR_INT;
}
int otDataAcquisitionImage::setLifeCounter(int value) {
  return header_ ? setField(&header_->lifeCounter, value) : DAQ_ERROR_INT;
}

int otDataAcquisitionImage::parseInt(const char* text) {
  // Only a leading digit counts as a number, so an error text or a negative value is refused.
  if (text == nullptr || text[0] < '0' || text[0] > '9') return DAQ_ERROR_INT;
  errno = 0;
  char* end;
  const long value = strtol(text, &end, 10);
  if (errno == ERANGE || value > INT_MAX || value < INT_MIN) return DAQ_ERROR_INT;
  return (int)value;
}

float otDataAcquisitionImage::parseFloat(const char* text) {
  if (text == nullptr || ((text[0] < '0' || text[0] > '9') && text[0] != '-'))
    return DAQ_ERROR_FLOAT;
  errno = 0;
  char* end;
  const float value = otStrtof(text, &end);
  if (end == text || (errno == ERANGE && isinf(value))) return DAQ_ERROR_FLOAT;
  return value;
}

// ---------------------------------------------------------------------------------------------
// otDataAcquisition

otDataAcquisition::otDataAcquisition(const char* mbxname, const char* shmname, long shmsize)
    : mailbox(mbxname),
      shm(shmname, shmsize > 0 ? (unsigned long)shmsize : 0, 0600),
      image(shm.getUserAdr(), attachedUserSize(shm, shmsize)),
      index(-1) {}

otDataAcquisition::~otDataAcquisition() = default;

const char* otDataAcquisition::stringValue(const char* name) {
  int why;
  const char* value = image.lookup(name, &why);
  if (value != nullptr) return value;
  switch (why) {
    case otDataAcquisitionImage::NO_HEADER:
      return kNoHeader;
    case otDataAcquisitionImage::INVALID:
      return kInvalid;
    default:
      return kNotFound;
  }
}

int otDataAcquisition::intValue(const char* name) {
  return otDataAcquisitionImage::parseInt(stringValue(name));
}

float otDataAcquisition::floatValue(const char* name) {
  return otDataAcquisitionImage::parseFloat(stringValue(name));
}

int otDataAcquisition::post(const char* format, ...) {
  // Formatted to its full length: a request cut short would reach the daemon without its line
  // end. A message longer than the queue allows is refused by the mailbox.
  va_list ap, again;
  va_start(ap, format);
  va_copy(again, ap);
  const int length = vsnprintf(nullptr, 0, format, ap);
  va_end(ap);
  int result = DAQ_ERROR_INT;
  if (length >= 0 && length < INT_MAX) {
    std::vector<char> text((size_t)length + 1);
    vsnprintf(text.data(), text.size(), format, again);
    if (mailbox.write(text.data(), length) == 0) result = 0;
  }
  va_end(again);
  return result;
}

int otDataAcquisition::writeStringValue(const char* name, const char* value) {
  if (name == nullptr || value == nullptr) return DAQ_ERROR_INT;
  return post("%s,%s\n", name, value);
}

int otDataAcquisition::writeIntValue(const char* name, int value) {
  if (name == nullptr) return DAQ_ERROR_INT;
  return post("%s,%d\n", name, value);
}

int otDataAcquisition::writeFloatValue(const char* name, float value) {
  if (name == nullptr) return DAQ_ERROR_INT;
  return post("%s,%f\n", name, (double)value);
}

int otDataAcquisition::readErrorCount() {
  return image.readErrorCount();
}
int otDataAcquisition::writeErrorCount() {
  return image.writeErrorCount();
}
int otDataAcquisition::lifeCounter() {
  return image.lifeCounter();
}

int otDataAcquisition::shmStatus() {
  return shm.status == otSharedMemory::SHM_OK && image.hasHeader() ? 0 : DAQ_ERROR_INT;
}

const char* otDataAcquisition::firstVariable() {
  const int n = image.numItems();
  if (n < 0) return kError;
  if (n == 0) {
    index = -1;
    return nullptr;
  }
  int why;
  const char* name = image.itemName(0, &why);
  if (name == nullptr) {
    index = -1;
    return why == otDataAcquisitionImage::NOT_FOUND ? nullptr : kError;
  }
  index = 1;
  return name;
}

const char* otDataAcquisition::nextVariable() {
  if (index < 0) return nullptr;
  int why;
  const char* name = image.itemName(index, &why);
  if (name != nullptr) {
    index++;
    return name;
  }
  if (why != otDataAcquisitionImage::NOT_FOUND) return kError;
  index = -1;
  return nullptr;
}

int otDataAcquisition::shmKey() {
  return shm.status == otSharedMemory::SHM_OK ? shm.shmKey() : -1;
}

int otDataAcquisition::shmId() {
  return shm.status == otSharedMemory::SHM_OK ? shm.shmId() : -1;
}
