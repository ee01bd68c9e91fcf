extern "C" {
#include "nodave.h"
}

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>
#include <vector>

#include "ots7pdu.h"
#include "ppi.h"

namespace {

// Both kinds of object begin with their tag, so that daveFree can tell them apart.
const unsigned kInterfaceTag = 0x49464331;   // "IFC1"
const unsigned kConnectionTag = 0x434F4E31;  // "CON1"
// Bytes an S7 item can address: its address field holds a 24-bit bit address.
const long long kAddressableBytes = 0x1000000 / 8;

}  // namespace

struct _daveInterface {
  unsigned tag = kInterfaceTag;
  std::shared_ptr<otppi::Master> master;
  char name[32] = {0};
  int localMPI = 0;
  int protocol = 0;
  int speed = 0;
};

struct _daveConnection {
  unsigned tag = kConnectionTag;
  // Shared rather than pointed to through the interface: a daemon may free the interface
  // before its connections.
  std::shared_ptr<otppi::Master> master;
  int MPI = 0;
  int rack = 0;
  int slot = 0;
};

daveInterface* daveNewInterface(_daveOSserialType fd, const char* name, int localMPI, int protocol,
                                int speed) {
  if (protocol != daveProtoPPI) return nullptr;
  if (speed < daveSpeed9k || speed > daveSpeed93k) return nullptr;
  if (localMPI < 0 || localMPI > otppi::MAX_ADDRESS) return nullptr;
  daveInterface* di = new (std::nothrow) daveInterface;
  if (di == nullptr) return nullptr;
  di->master.reset(new (std::nothrow) otppi::Master(localMPI));
  if (!di->master || di->master->adopt(fd.rfd) != 0) {
    delete di;
    return nullptr;
  }
  // The caller's name may be a temporary buffer; a longer one is cut, it only labels.
  if (name) snprintf(di->name, sizeof(di->name), "%s", name);
  di->localMPI = localMPI;
  di->protocol = protocol;
  di->speed = speed;
  return di;
}

daveConnection* daveNewConnection(daveInterface* di, int MPI, int rack, int slot) {
  if (di == nullptr || MPI < 0 || MPI > otppi::MAX_ADDRESS || MPI == di->localMPI) return nullptr;
  daveConnection* dc = new (std::nothrow) daveConnection;
  if (dc == nullptr) return nullptr;
  dc->master = di->master;
  dc->MPI = MPI;
  dc->rack = rack;
  dc->slot = slot;
  return dc;
}

void daveFree(void* p) {
  if (p == nullptr) return;
  unsigned tag;
  memcpy(&tag, p, sizeof(tag));
  if (tag == kInterfaceTag) {
    static_cast<daveInterface*>(p)->tag = 0;
    delete static_cast<daveInterface*>(p);
  } else if (tag == kConnectionTag) {
    static_cast<daveConnection*>(p)->tag = 0;
    delete static_cast<daveConnection*>(p);
  } else {
    free(p);  // what callers of the library's daveFree may hand it besides
  }
}

namespace {

// The area byte and data block number on the line; false for an unknown area.
bool wireArea(int area, int DB, int* s7area, int* dbnr) {
  *dbnr = 0;  // the data block number means nothing to the other areas
  switch (area) {
    case daveDB:
    case daveDI:
    case daveV:
      *dbnr = DB;
      *s7area = area;
      return true;
    case daveSD:
    case daveInputs:
    case daveOutputs:
    case daveFlags:
    case daveLocal:
      *s7area = area;
      return true;
    // the S7-200's codes, as otSiemensTCP uses them for that PLC type
    case daveCounter:
      *s7area = 0x1E;
      return true;
    case daveTimer:
      *s7area = 0x1F;
      return true;
    default:
      return false;
  }
}

// Checks the arguments of a transfer; the area byte and data block number on the line into
// *s7area and *dbnr.
int checkTransfer(const daveConnection* dc, int area, int DB, int start, int len,
                  const void* buffer, int* s7area, int* dbnr) {
  if (dc == nullptr) return daveResNoConnection;
  if (len < 0 || (buffer == nullptr && len > 0) || start < 0 || DB < 0 ||
      !wireArea(area, DB, s7area, dbnr))
    return daveResInvalidArgument;
  // The bit address of a job has 24 bits; this bound also keeps a read's own buffer small.
  if ((long long)start + len > kAddressableBytes) return daveResInvalidArgument;
  return daveResOK;
}

int fromPpi(int e) {
  switch (e) {
    case otppi::E_TIMEOUT:
      return daveResTimeout;
    case otppi::E_CUT:
      return daveResCutTelegram;
    case otppi::E_START:
      return daveResBadStart;
    case otppi::E_LENGTH:
      return daveResBadLength;
    case otppi::E_CHECKSUM:
      return daveResBadChecksum;
    case otppi::E_END:
      return daveResNoEndDelimiter;
    case otppi::E_LINE:
      return daveResLineError;
    case otppi::E_ADDRESS:
      return daveResWrongAddress;
    case otppi::E_ARGUMENT:
      return daveResInvalidArgument;
    default:
      return daveResUnexpectedAnswer;
  }
}

// One job out, its reply checked against it; the reply PDU into reply, its length returned.
int job(daveConnection* dc, const unsigned char* pdu, int n, unsigned char* reply) {
  int r = dc->master->exchange(dc->MPI, pdu, n, reply, otppi::MAX_DATA);
  if (r < 0) return fromPpi(r);
  if (ots7pdu::checkAckHeader(reply, r, 0) != 0) return daveResUnexpectedAnswer;
  return r;
}

// A failed S7 reply check: a refusal by item code, or a reply that does not fit the job.
int fromS7(int code) {
  return code >= 0 ? daveResRefused - code : daveResUnexpectedAnswer;
}

}  // namespace

int daveReadBytes(daveConnection* dc, int area, int DB, int start, int len, void* buffer) {
  int s7area = 0, dbnr = 0;
  int r = checkTransfer(dc, area, DB, start, len, buffer, &s7area, &dbnr);
  if (r != daveResOK || len == 0) return r;
  // Into a buffer of our own first: a read that fails half way must not look like data.
  std::vector<unsigned char> data((size_t)len);
  unsigned char pdu[otppi::MAX_DATA];
  unsigned char reply[otppi::MAX_DATA];
  for (int done = 0; done < len;) {
    int n = len - done < otppi::MAX_READ ? len - done : otppi::MAX_READ;
    int size = ots7pdu::buildReadJob(s7area, dbnr, start + done, n, otppi::MAX_PDU, pdu);
    if (size < 0) return daveResInvalidArgument;
    int got = job(dc, pdu, size, reply);
    if (got < 0) return got;
    int code;
    int ok = ots7pdu::parseReadReply(reply, got, n, data.data() + done, &code);
    if (ok != n) return fromS7(code);
    done += n;
  }
  memcpy(buffer, data.data(), (size_t)len);
  return daveResOK;
}

int daveWriteBytes(daveConnection* dc, int area, int DB, int start, int len, void* buffer) {
  int s7area = 0, dbnr = 0;
  int r = checkTransfer(dc, area, DB, start, len, buffer, &s7area, &dbnr);
  if (r != daveResOK || len == 0) return r;
  const unsigned char* data = static_cast<const unsigned char*>(buffer);
  unsigned char pdu[otppi::MAX_DATA];
  unsigned char reply[otppi::MAX_DATA];
  for (int done = 0; done < len;) {
    int n = len - done < otppi::MAX_WRITE ? len - done : otppi::MAX_WRITE;
    int size =
        ots7pdu::buildWriteJob(s7area, dbnr, start + done, n, data + done, 2, otppi::MAX_PDU, pdu);
    if (size < 0) return daveResInvalidArgument;
    int got = job(dc, pdu, size, reply);
    if (got < 0) return got;
    int code;
    int ok = ots7pdu::parseWriteReply(reply, got, n, 1, &code);
    if (ok != n) return fromS7(code);
    done += n;
  }
  return daveResOK;
}

int daveIsUnreachable(int code) {
  return code <= daveResTimeout && code >= daveResUnexpectedAnswer ? 1 : 0;
}

const char* daveStrerror(int code) {
  static const struct {
    int code;
    const char* text;
  } texts[] = {
      {daveResOK, "ok"},
      {daveResNotImplemented, "not implemented"},
      {daveResNoConnection, "no connection or interface"},
      {daveResInvalidArgument, "invalid argument (length, buffer, address or memory area)"},
      {daveResTimeout, "no answer from the station"},
      {daveResCutTelegram, "the answer broke off"},
      {daveResBadStart, "answer without a valid start byte"},
      {daveResBadLength, "answer with a wrong length"},
      {daveResBadChecksum, "answer with a wrong checksum"},
      {daveResNoEndDelimiter, "answer without its end delimiter"},
      {daveResLineError, "the serial line failed"},
      {daveResWrongAddress, "answer from another station or for another master"},
      {daveResUnexpectedAnswer, "answer that does not fit the request"},
      {daveResRefused - 0x05, "refused by the station: address out of range"},
      {daveResRefused - 0x06, "refused by the station: data type not supported"},
      {daveResRefused - 0x07, "refused by the station: data size does not fit"},
      {daveResRefused - 0x0A, "refused by the station: object does not exist"},
  };
  for (const auto& t : texts)
    if (t.code == code) return t.text;
  if (code < daveResRefused && code >= daveResRefused - 0xFF) return "refused by the station";
  return "unknown result code";
}
