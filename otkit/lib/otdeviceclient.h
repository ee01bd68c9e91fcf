// What the device clients (otModbusClient, otSiemensTCPClient, otPPIClient) share: each is the
// daemon's mailbox and its process image at once (callers reach both, as otMailbox::status or
// otSharedMemory::read), reads the status area at the image's end, and posts one write request
// as one mailbox message. otPlcClient adds, for the Siemens and PPI clients, the read buffer
// with its typed accessors.
#ifndef OTDEVICECLIENT_H
#define OTDEVICECLIENT_H

#include "otmailbox.h"
#include "otsharedmemory.h"

class otDeviceClient : public otMailbox, public otSharedMemory {
 public:
  ~otDeviceClient() override;

  // Freshness of the values, from the status area that generated daemons append to the image
  // (it ends the image, so the client finds it only when shmsize is the header's
  // SHARED_MEMORY_SIZE). cycleStatus: *ok 1 if read cycle `cycle` (1 = the first cycle line
  // of the project file) read good the last time, 0 if that read failed or none was made yet;
  // *ageSeconds the seconds since its last good read, -1 if there was none. passAge:
  // *ageSeconds the seconds since the last pass in which every cycle read good, -1 if none.
  // Both return 0, or -1 (nothing stored) if the image does not end with a status area (a
  // daemon of an older generator, another size) or cycle is out of range. Null pointers are
  // allowed.
  int cycleStatus(int cycle, int* ok, long* ageSeconds);
  int passAge(long* ageSeconds);

 protected:
  // Opens the mailbox mbxname and the shared memory shmname of shmsize bytes (mode 0600);
  // failures show in otMailbox::status and otSharedMemory::status.
  otDeviceClient(const char* mbxname, const char* shmname, int shmsize);
  // Posts head (headLen bytes) followed by len bytes of data as one message of at most
  // MAX_POST bytes: 0 posted, -2 (nothing posted) the mailbox is full and does not wait,
  // -1 (nothing posted) otherwise.
  enum { MAX_POST = 4096 };
  int post(const unsigned char* head, int headLen, const unsigned char* data, int len);
};

// A read buffer of SIZE bytes over the image, read in the order swap selects.
template <int SIZE>
class otPlcClient : public otDeviceClient {
 public:
  enum { READ_BUFFER_SIZE = SIZE };

  // Copies len image bytes from offset start into readBuffer and returns len; -1 with
  // readBuffer unchanged if start or len is negative, len exceeds READ_BUFFER_SIZE, or the
  // shared-memory read fails.
  int read(int start, int len);

  // Values of readBuffer as of the last read(), index in units of the type, byte order per
  // swap. An index whose bytes do not all lie within readBuffer gives 0 (0.0 for Float).
  float Float(int index);          // bytes 4 * index .. 4 * index + 3
  int Dword(int index);            // bytes 4 * index .. 4 * index + 3
  unsigned int UDword(int index);  // bytes 4 * index .. 4 * index + 3
  int Short(int index);            // bytes 2 * index, 2 * index + 1, sign-extended
  int UShort(int index);           // bytes 2 * index, 2 * index + 1, zero-extended

  unsigned char readBuffer[SIZE];
  // 1: multi-byte values are written and read in PLC order (most significant byte first);
  // any other value: in the host's order. Single bytes and bits are never swapped.
  int swap;

 protected:
  otPlcClient(const char* mbxname, const char* shmname, int shmsize, int swap_order);
  // count values of width bytes from val into out, each in the order swap selects.
  void store(unsigned char* out, const void* val, int count, int width) const;
};

extern template class otPlcClient<512>;
extern template class otPlcClient<2048>;

#endif
