#include "otppiclient.h"

#include <stdint.h>
#include <string.h>

#include "otbyteorder.h"

using namespace otbyteorder;

otPPIClient::otPPIClient(const char* mbxname, const char* shmname, int shmsize, int swap_order)
    : otPlcClient<512>(mbxname, shmname, shmsize, swap_order) {}

otPPIClient::~otPPIClient() {}

int otPPIClient::write(int slave, int area, int dbnum, int start, int len,
                       const unsigned char* data) {
  if (slave < 0 || slave > 31 || len <= 0 || len > MAX_DATA || data == nullptr) return -1;
  if (!isByte(area) || !isWord(dbnum) || !isWord(start)) return -1;
  unsigned char head[HEADER_SIZE];
  head[0] = (unsigned char)slave;
  head[1] = (unsigned char)area;
  put16(head + 2, dbnum);
  put16(head + 4, start);
  put16(head + 6, len);
  return post(head, HEADER_SIZE, data, len);
}

int otPPIClient::writeValues(int slave, int area, int dbnum, int start, int len, const void* val,
                             int width) {
  if (len <= 0 || len > MAX_DATA || val == nullptr) return -1;
  // MAX_DATA is a multiple of 4, so the whole values fit.
  unsigned char data[MAX_DATA];
  store(data, val, (len + width - 1) / width, width);
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
