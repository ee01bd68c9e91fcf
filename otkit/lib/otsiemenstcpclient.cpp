#include "otsiemenstcpclient.h"

#include <stdint.h>
#include <string.h>

#include "otbyteorder_p.h"
#include "otimagestatus_p.h"

using namespace otbyteorder;

otSiemensTCPClient::otSiemensTCPClient(const char* mbxname, const char* shmname, int shmsize,
                                       int swap_order)
    // A negative size converts to one that otSharedMemory refuses (status 2).
    : otMailbox(mbxname),
      otSharedMemory(shmname, (unsigned long)(long)shmsize, 0600),
      readBuffer(),
      swap(swap_order) {}

otSiemensTCPClient::~otSiemensTCPClient() {}

int otSiemensTCPClient::write(int slave, int org, int dbnum, int start, int len,
                              const unsigned char* data, int function) {
  if (len <= 0 || len > MAX_DATA || data == nullptr) return -1;
  if (!isByte(slave) || !isByte(org) || !isByte(function) || !isWord(dbnum) || !isWord(start))
    return -1;
  unsigned char message[MAX_MESSAGE];
  message[0] = (unsigned char)slave;
  message[1] = (unsigned char)org;
  put16(message + 2, dbnum);
  put16(message + 4, start);
  put16(message + 6, len);
  message[8] = (unsigned char)function;
  memcpy(message + HEADER_SIZE, data, (size_t)len);
  int r = otMailbox::write(message, HEADER_SIZE + len);
  return r == 0 || r == -2 ? r : -1;
}

int otSiemensTCPClient::writeBit(int slave, int org, int dbnum, int start, int biti, int len,
                                 const unsigned char* val) {
  const long address = 8L * start + biti;
  if (!isWord(address)) return -1;
  return write(slave, org, dbnum, (int)address, len, val, FUNCTION_BITS);
}

int otSiemensTCPClient::writeByte(int slave, int org, int dbnum, int start, int len,
                                  const unsigned char* val) {
  return write(slave, org, dbnum, start, len, val, FUNCTION_BYTES);
}

int otSiemensTCPClient::writeValues(int slave, int org, int dbnum, int start, int count,
                                    const void* val, int width) {
  // Checked before multiplying, so that count * width cannot overflow.
  if (count <= 0 || count > MAX_DATA / width || val == nullptr) return -1;
  unsigned char data[MAX_DATA];
  const unsigned char* in = static_cast<const unsigned char*>(val);
  for (int i = 0; i < count; i++)
    storeValue(data + i * width, in + i * width, width, swap);
  return write(slave, org, dbnum, start, count * width, data, FUNCTION_BYTES);
}

int otSiemensTCPClient::writeFloat(int slave, int org, int dbnum, int start, int len,
                                   const float* val) {
  return writeValues(slave, org, dbnum, start, len, val, 4);
}

int otSiemensTCPClient::writeDword(int slave, int org, int dbnum, int start, int len,
                                   const int* val) {
  return writeValues(slave, org, dbnum, start, len, val, 4);
}

int otSiemensTCPClient::writeUDword(int slave, int org, int dbnum, int start, int len,
                                    const unsigned int* val) {
  return writeValues(slave, org, dbnum, start, len, val, 4);
}

int otSiemensTCPClient::writeShort(int slave, int org, int dbnum, int start, int len,
                                   const short* val) {
  return writeValues(slave, org, dbnum, start, len, val, 2);
}

int otSiemensTCPClient::writeUShort(int slave, int org, int dbnum, int start, int len,
                                    const unsigned short* val) {
  return writeValues(slave, org, dbnum, start, len, val, 2);
}

// Refuses a read beyond the buffer rather than cut it short: the caller would take the missing
// values for data. The shared memory copies all or nothing, so a failure leaves the buffer as
// it was.
int otSiemensTCPClient::read(int start, int len) {
  if (start < 0 || len < 0 || len > READ_BUFFER_SIZE) return -1;
  return otSharedMemory::read((unsigned long)start, readBuffer, len);
}

float otSiemensTCPClient::Float(int index) {
  uint32_t v;
  if (!loadValue(readBuffer, READ_BUFFER_SIZE, index, 4, swap, &v)) return 0.0f;
  float f;
  memcpy(&f, &v, 4);
  return f;
}

int otSiemensTCPClient::Dword(int index) {
  uint32_t v;
  return loadValue(readBuffer, READ_BUFFER_SIZE, index, 4, swap, &v) ? (int)v : 0;
}

unsigned int otSiemensTCPClient::UDword(int index) {
  uint32_t v;
  return loadValue(readBuffer, READ_BUFFER_SIZE, index, 4, swap, &v) ? v : 0;
}

int otSiemensTCPClient::Short(int index) {
  uint32_t v;
  return loadValue(readBuffer, READ_BUFFER_SIZE, index, 2, swap, &v) ? (int)(int16_t)(uint16_t)v
                                                                     : 0;
}

int otSiemensTCPClient::UShort(int index) {
  uint32_t v;
  return loadValue(readBuffer, READ_BUFFER_SIZE, index, 2, swap, &v) ? (int)v : 0;
}

int otSiemensTCPClient::cycleStatus(int cycle, int* ok, long* ageSeconds) {
  return otimagestatus::cycleStatus(*this, cycle, ok, ageSeconds);
}

int otSiemensTCPClient::passAge(long* ageSeconds) {
  return otimagestatus::passAge(*this, ageSeconds);
}
