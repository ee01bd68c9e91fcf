extern "C" {
#include "nodave.h"
}

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

// Plain C structs from calloc, so that daveFree can release either kind with free().
struct _daveInterface {
  _daveOSserialType fd;
  char name[32];
  int localMPI;
  int protocol;
  int speed;
};

struct _daveConnection {
  // Copied rather than pointed to: a daemon may free the interface before its connections.
  _daveOSserialType fd;
  int MPI;
  int rack;
  int slot;
};

daveInterface* daveNewInterface(_daveOSserialType fd, const char* name, int localMPI, int protocol,
                                int speed) {
  if (protocol != daveProtoPPI) return nullptr;
  if (speed < daveSpeed9k || speed > daveSpeed93k) return nullptr;
  daveInterface* di = (daveInterface*)calloc(1, sizeof(daveInterface));
  if (di == nullptr) return nullptr;
  di->fd = fd;
  // The caller's name may be a temporary buffer; a longer one is cut, it only labels.
  if (name) snprintf(di->name, sizeof(di->name), "%s", name);
  di->localMPI = localMPI;
  di->protocol = protocol;
  di->speed = speed;
  return di;
}

daveConnection* daveNewConnection(daveInterface* di, int MPI, int rack, int slot) {
  if (di == nullptr) return nullptr;
  daveConnection* dc = (daveConnection*)calloc(1, sizeof(daveConnection));
  if (dc == nullptr) return nullptr;
  dc->fd = di->fd;
  dc->MPI = MPI;
  dc->rack = rack;
  dc->slot = slot;
  return dc;
}

void daveFree(void* p) {
  free(p);
}

namespace {

bool knownArea(int area) {
  switch (area) {
    case daveSD:
    case daveInputs:
    case daveOutputs:
    case daveFlags:
    case daveDB:
    case daveDI:
    case daveLocal:
    case daveV:
    case daveCounter:
    case daveTimer:
      return true;
    default:
      return false;
  }
}

int checkTransfer(const daveConnection* dc, int area, int DB, int start, int len,
                  const void* buffer) {
  if (dc == nullptr) return daveResNoConnection;
  if (len < 0 || (buffer == nullptr && len > 0) || start < 0 || DB < 0 || !knownArea(area))
    return daveResInvalidArgument;
  return daveResOK;
}

// A daemon built against this layer runs without error messages but never gets a value;
// whoever starts it must learn why from its log, once and not once per poll.
int notImplemented() {
  static std::atomic<bool> said(false);
  if (!said.exchange(true))
    fprintf(stderr,
            "nodave: PPI framing is not implemented by this layer (otnodave); daveReadBytes and "
            "daveWriteBytes return %d\n",
            daveResNotImplemented);
  return daveResNotImplemented;
}

}  // namespace

int daveReadBytes(daveConnection* dc, int area, int DB, int start, int len, void* buffer) {
  int r = checkTransfer(dc, area, DB, start, len, buffer);
  return r != daveResOK ? r : notImplemented();
}

int daveWriteBytes(daveConnection* dc, int area, int DB, int start, int len, void* buffer) {
  int r = checkTransfer(dc, area, DB, start, len, buffer);
  return r != daveResOK ? r : notImplemented();
}

const char* daveStrerror(int code) {
  switch (code) {
    case daveResOK:
      return "ok";
    case daveResNotImplemented:
      return "PPI framing is not implemented by this layer (otnodave)";
    case daveResNoConnection:
      return "no connection or interface";
    case daveResInvalidArgument:
      return "invalid argument (length, buffer, address or memory area)";
    default:
      return "unknown result code";
  }
}
