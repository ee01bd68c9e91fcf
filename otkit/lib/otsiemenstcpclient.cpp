#include "otsiemenstcpclient.h"

#include <stdint.h>
#include <string.h>

#include "otbyteorder.h"

using namespace otbyteorder;

otSiemensTCPClient::otSiemensTCPClient(const char* mbxname, const char* shmname, int shmsize,
                                       int swap_order)
    : otPlcClient<2048>(mbxname, shmname, shmsize, swap_order) {}

otSiemensTCPClient::~otSiemensTCPClient() {}

int otSiemensTCPClient::write(int slave, int org, int dbnum, int start, int len,
                              const unsigned char* data, int function) {
  if (len <= 0 || len > MAX_DATA || data == nullptr) return -1;
  if (!isByte(slave) || !isByte(org) || !isByte(function) || !isWord(dbnum) || !isWord(start))
    return -1;
  unsigned char head[HEADER_SIZE];
  head[0] = (unsigned char)slave;
  head[1] = (unsigned char)org;
  put16(head + 2, dbnum);
  put16(head + 4, start);
  put16(head + 6, len);
  head[8] = (unsigned char)function;
  return post(head, HEADER_SIZE, data, len);
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
  store(data, val, count, width);
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
