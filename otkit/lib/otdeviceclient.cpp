#include "otdeviceclient.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "otbyteorder.h"
#include "otdaemon.h"
#include "otimagestatus_p.h"
#include "otnumber.h"
#include "otsiemenstcpclient.h"
#include "otwritegate.h"

using namespace otbyteorder;

otDeviceClient::otDeviceClient(const char* mbxname, const char* shmname, int shmsize)
    // A negative size converts to one that otSharedMemory refuses (status 2).
    : otMailbox(mbxname), otSharedMemory(shmname, (unsigned long)(long)shmsize, 0600) {}

otDeviceClient::~otDeviceClient() {}

namespace {

// The write a message asks for, as the audit trail names it: where it goes, and its value.
// The header's length tells the kind of daemon (Modbus 2, Siemens 9, PPI 8 bytes).
void describe(const unsigned char* msg, int len, int headLen, std::string* target,
              std::string* value) {
  char text[160];
  if (headLen == 2 && len >= 4) {
    const int slave = msg[0], function = msg[1], adr = get16(msg + 2);
    const char* what = function == 5 ? "coil" : function == 6 ? "register" : nullptr;
    if (what != nullptr && len == 6) {
      snprintf(text, sizeof text, "modbus %d,%d %s", slave, adr, what);
      *target = text;
      *value = std::to_string(function == 5 ? (msg[4] != 0 ? 1 : 0) : get16(msg + 4));
      return;
    }
    snprintf(text, sizeof text, "modbus %d,%d function %d", slave, adr, function);
    *target = text;
    *value = otHexBytes(msg + 4, (size_t)(len - 4));
    return;
  }
  otDaemonByteRequest r;
  if ((headLen == otDaemonByteRequest::SIEMENS_HEADER ||
       headLen == otDaemonByteRequest::PPI_HEADER) &&
      r.parse(msg, len, headLen)) {
    const bool siemens = headLen == otDaemonByteRequest::SIEMENS_HEADER;
    const bool bits = siemens && r.function == otSiemensTCPClient::FUNCTION_BITS;
    if (bits)
      snprintf(text, sizeof text, "siemens %d,%d,%d,%d.%d bit", r.slave, r.area, r.dbnum,
               r.start / 8, r.start % 8);
    else
      snprintf(text, sizeof text, "%s %d,%d,%d,%d bytes %d", siemens ? "siemens" : "ppi", r.slave,
               r.area, r.dbnum, r.start, r.len);
    *target = text;
    *value = otHexBytes(r.data, (size_t)r.available);
    return;
  }
  *target = "request";
  *value = otHexBytes(msg, (size_t)len);
}

bool postAccepted(int r) {
  return r == 0 || r == -2;
}

}  // namespace

int otDeviceClient::post(const unsigned char* head, int headLen, const unsigned char* data,
                         int len) {
  if (headLen < 0 || len < 0 || headLen > MAX_POST - len || (len > 0 && data == nullptr)) return -1;
  unsigned char message[MAX_POST];
  memcpy(message, head, (size_t)headLen);
  if (len > 0) memcpy(message + headLen, data, (size_t)len);
  const int total = headLen + len;
  auto write = [&] {
    int r = otMailbox::write(message, total);
    return r == 0 || r == -2 ? r : -1;
  };
  if (otCurrentWriteGate() == nullptr || otWriteGated()) return write();
  otWriteRequest request;
  describe(message, total, headLen, &request.target, &request.newValue);
  return otGatedWrite(request, write, postAccepted);
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
