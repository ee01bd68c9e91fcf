#include "otdeviceclient.h"

#include <stdint.h>
#include <string.h>

#include "otbyteorder.h"
#include "otimagestatus_p.h"

using namespace otbyteorder;

otDeviceClient::otDeviceClient(const char* mbxname, const char* shmname, int shmsize)
    // A negative size converts to one that otSharedMemory refuses (status 2).
    : otMailbox(mbxname), otSharedMemory(shmname, (unsigned long)(long)shmsize, 0600) {}

otDeviceClient::~otDeviceClient() {}

int otDeviceClient::post(const unsigned char* head, int headLen, const unsigned char* data,
                         int len) {
  if (headLen < 0 || len < 0 || headLen > MAX_POST - len || (len > 0 && data == nullptr)) return -1;
  unsigned char message[MAX_POST];
  memcpy(message, head, (size_t)headLen);
  if (len > 0) memcpy(message + headLen, data, (size_t)len);
  int r = otMailbox::write(message, headLen + len);
  return r == 0 || r == -2 ? r : -1;
}

int otDeviceClient::cycleStatus(int cycle, int* ok, long* ageSeconds) {
  return otimagestatus::cycleStatus(*this, cycle, ok, ageSeconds);
}

int otDeviceClient::passAge(long* ageSeconds) {
  return otimagestatus::passAge(*this, ageSeconds);
}

template <int SIZE>
otPlcClient<SIZE>::otPlcClient(const char* mbxname, const char* shmname, int shmsize,
                               int swap_order)
    : otDeviceClient(mbxname, shmname, shmsize), readBuffer(), swap(swap_order) {}

// Refuses a read beyond the buffer rather than cut it short: the caller would take the missing
// values for data. The shared memory copies all or nothing, so a failure leaves the buffer as
// it was.
template <int SIZE>
int otPlcClient<SIZE>::read(int start, int len) {
  if (start < 0 || len < 0 || len > SIZE) return -1;
  return otSharedMemory::read((unsigned long)start, readBuffer, len);
}

template <int SIZE>
void otPlcClient<SIZE>::store(unsigned char* out, const void* val, int count, int width) const {
  const unsigned char* in = static_cast<const unsigned char*>(val);
  for (int i = 0; i < count; i++)
    storeValue(out + i * width, in + i * width, width, swap);
}

template <int SIZE>
float otPlcClient<SIZE>::Float(int index) {
  uint32_t v;
  if (!loadValue(readBuffer, SIZE, index, 4, swap, &v)) return 0.0f;
  float f;
  memcpy(&f, &v, 4);
  return f;
}

template <int SIZE>
int otPlcClient<SIZE>::Dword(int index) {
  uint32_t v;
  return loadValue(readBuffer, SIZE, index, 4, swap, &v) ? (int)v : 0;
}

template <int SIZE>
unsigned int otPlcClient<SIZE>::UDword(int index) {
  uint32_t v;
  return loadValue(readBuffer, SIZE, index, 4, swap, &v) ? v : 0;
}

template <int SIZE>
int otPlcClient<SIZE>::Short(int index) {
  uint32_t v;
  return loadValue(readBuffer, SIZE, index, 2, swap, &v) ? (int)(int16_t)(uint16_t)v : 0;
}

template <int SIZE>
int otPlcClient<SIZE>::UShort(int index) {
  uint32_t v;
  return loadValue(readBuffer, SIZE, index, 2, swap, &v) ? (int)v : 0;
}

template class otPlcClient<512>;
template class otPlcClient<2048>;
