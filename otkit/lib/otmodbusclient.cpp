#include "otmodbusclient.h"

#include <string.h>

#include "otbyteorder.h"

using otbyteorder::put16;

namespace {

bool isAddress(int adr) {
  return otbyteorder::isWord(adr);
}

}  // namespace

otModbusClient::otModbusClient(const char* mbxname, const char* shmname, int shmsize)
    : otDeviceClient(mbxname, shmname, shmsize) {}

otModbusClient::~otModbusClient() {}

int otModbusClient::write(int slave, int function, const unsigned char* data, int len) {
  if (len < 0 || len > MAX_DATA || slave < 0 || slave > 255 || function < 0 || function > 255)
    return -1;
  const unsigned char head[2] = {(unsigned char)slave, (unsigned char)function};
  return post(head, 2, data, len);
}

int otModbusClient::writeSingleCoil(int slave, int adr, int value) {
  if (!isAddress(adr)) return -1;
  unsigned char data[4];
  put16(data, adr);
  data[2] = value ? 0xFF : 0x00;
  data[3] = 0x00;
  return write(slave, 5, data, 4);
}

int otModbusClient::writeMultipleCoils(int slave, int adr, const unsigned char* values,
                                       int num_coils) {
  if (!isAddress(adr) || num_coils <= 0 || values == nullptr) return -1;
  const int count = (num_coils - 1) / 8 + 1;
  // This check keeps the copy below within data: write() refuses more than MAX_DATA anyway.
  if (5 + count > MAX_DATA) return -1;
  unsigned char data[MAX_DATA];
  put16(data, adr);
  put16(data + 2, num_coils);
  data[4] = (unsigned char)count;
  memcpy(data + 5, values, (size_t)count);
  return write(slave, 15, data, 5 + count);
}

int otModbusClient::writePresetSingleRegister(int slave, int adr, int value) {
  if (!isAddress(adr)) return -1;
  unsigned char data[4];
  put16(data, adr);
  put16(data + 2, value);
  return write(slave, 6, data, 4);
}

int otModbusClient::writePresetMultipleRegisters(int slave, int adr, const int* values,
                                                 int num_values) {
  if (!isAddress(adr) || num_values <= 0 || values == nullptr) return -1;
  if (5 + 2 * (long)num_values > MAX_DATA) return -1;
  unsigned char data[MAX_DATA];
  put16(data, adr);
  put16(data + 2, num_values);
  data[4] = (unsigned char)(2 * num_values);
  for (int i = 0; i < num_values; i++)
    put16(data + 5 + 2 * i, values[i]);
  return write(slave, 16, data, 5 + 2 * num_values);
}

// Reads only the byte that holds the bit, so that a bit in the image's last byte is readable.
int otModbusClient::readBit(int offset, int number) {
  if (number < 0 || number > 128) return -1;
  const int byte = readByte(offset, number / 8);
  return byte < 0 ? -1 : (byte >> (number % 8)) & 1;
}

int otModbusClient::readByte(int offset, int number) {
  if (offset < 0 || number < 0 || number > 128) return -1;
  unsigned char byte;
  if (otSharedMemory::read((unsigned long)offset + (unsigned long)number, &byte, 1) != 1) return -1;
  return byte;
}

int otModbusClient::readShort(int offset, int number) {
  if (offset < 0 || number < 0 || number > 64) return -1;
  unsigned char bytes[2];
  if (otSharedMemory::read((unsigned long)offset + 2UL * (unsigned long)number, bytes, 2) != 2)
    return -1;
  return otbyteorder::get16(bytes);
}
