#include "otppiclient.h"

#include <stdint.h>
#include <string.h>

#include "otbyteorder_p.h"
#include "otimagestatus_p.h"

using namespace otbyteorder;

otPPIClient::otPPIClient(const char* mbxname, const char* shmname, int shmsize, int swap_order)
    // A negative size converts to one that otSharedMemory refuses (status 2).
    : otMailbox(mbxname),
      otSharedMemory(shmname, (unsigned long)(long)shmsize, 0600),
      readBuffer(),
      swap(swap_order) {}

otPPIClient::~otPPIClient() {}

int otPPIClient::write(int slave, int area, int dbnum, int start, int len,
                       const unsigned char* data) {
  if (slave < 0 || slave > 31 || len <= 0 || len > MAX_DATA || data == nullptr) return -1;
  if (!isByte(area) || !isWord(dbnum) || !isWord(start)) return -1;
  unsigned char message[MAX_MESSAGE];
  message[0] = (unsigned char)slave;
  message[1] = (unsigned char)area;
  put16(message + 2, dbnum);
  put16(message + 4, start);
  put16(message + 6, len);
  memcpy(message + HEADER_SIZE, data, (size_t)len);
  int r = otMailbox::write(message, HEADER_SIZE + len);
  return r == 0 || r == -2 ? r : -1;
}

int otPPIClient::writeValues(int slave, int area, int dbnum, int start, int len, const void* val,
                             int width) {
  if (len <= 0 || len > MAX_DATA || val == nullptr) return -1;
  // MAX_DATA is a multiple of 4, so the whole values fit.
  unsigned char data[MAX_DATA];
  const unsigned char* in = static_cast<const unsigned char*>(val);
  const int count = (len + width - 1) / width;
  for (int i = 0; i < count; i++)
    storeValue(data + i * width, in + i * width, width, swap);
  return write(slave, area, dbnum, start, len, data);
}

int otPPIClient::writeFloat(int slave, int area, int dbnum, int start, int len, const float* val) {
  return writeValues(slave, area, dbnum, start, len, val, 4);
}

int otPPIClient::writeDword(int slave, int area, int dbnum, int start, int len, const int* val) {
  return writeValues(slave, area, dbnum, start, len, val, 4);
}

int otPPIClient::writeUDword(int slave, int area, int dbnum, int start, int len,
                             const unsigned int* val) {
  return writeValues(slave, area, dbnum, start, len, val, 4);
}

int otPPIClient::writeShort(int slave, int area, int dbnum, int start, int len, const short* val) {
  return writeValues(slave, area, dbnum, start, len, val, 2);
}

int otPPIClient::writeUShort(int slave, int area, int dbnum, int start, int len,
                             const unsigned short* val) {
  return writeValues(slave, area, dbnum, start, len, val, 2);
}

// Refuses a read beyond the buffer rather than cut it short: the caller would take the missing
// values for data. The shared memory copies all or nothing, so a failure leaves the buffer as
// it was.
int otPPIClient::read(int start, int len) {
  if (start < 0 || len < 0 || len > READ_BUFFER_SIZE) return -1;
  return otSharedMemory::read((unsigned long)start, readBuffer, len);
}

float otPPIClient::Float(int index) {
  uint32_t v;
  if (!loadValue(readBuffer, READ_BUFFER_SIZE, index, 4, swap, &v)) return 0.0f;
  float f;
  memcpy(&f, &v, 4);
  return f;
}

int otPPIClient::Dword(int index) {
  uint32_t v;
  return loadValue(readBuffer, READ_BUFFER_SIZE, index, 4, swap, &v) ? (int)v : 0;
}

unsigned int otPPIClient::UDword(int index) {
  uint32_t v;
  return loadValue(readBuffer, READ_BUFFER_SIZE, index, 4, swap, &v) ? v : 0;
}

int otPPIClient::Short(int index) {
  uint32_t v;
  return loadValue(readBuffer, READ_BUFFER_SIZE, index, 2, swap, &v) ? (int)(int16_t)(uint16_t)v
                                                                     : 0;
}

int otPPIClient::UShort(int index) {
  uint32_t v;
  return loadValue(readBuffer, READ_BUFFER_SIZE, index, 2, swap, &v) ? (int)v : 0;
}

int otPPIClient::cycleStatus(int cycle, int* ok, long* ageSeconds) {
  return otimagestatus::cycleStatus(*this, cycle, ok, ageSeconds);
}

int otPPIClient::passAge(long* ageSeconds) {
  return otimagestatus::passAge(*this, ageSeconds);
}
