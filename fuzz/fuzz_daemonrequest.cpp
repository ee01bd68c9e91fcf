// Mailbox messages through the daemon runtime's request path (otDaemonRuntime::serve): the
// first byte picks the device, the rest is the message. The PPI device runs over fake calls
// that check that the data they are given lies within the message and answer by its contents
// (done, no answer, refusal); the Siemens device has no PLC, so that every request ends in its
// checks; the Modbus device is only asked whether it would send a message. The write error
// counter must grow by one exactly for each request that was not carried out. The images and
// the mailbox of the runtimes are made once and removed at exit.
#include <stdint.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "otdaemon.h"
#include "otlog.h"

namespace {

const unsigned char* gMsg = nullptr;
size_t gLen = 0;

void within(const unsigned char* data, int len) {
  if (len < 0 || data < gMsg || data + len > gMsg + gLen) abort();
}

int ppiOpen() {
  return 0;
}
int ppiRead(int, int, int, int, int len, unsigned char* data) {
  if (len < 1 || len > otPPIDaemonDevice::MAX_BLOCK) abort();
  data[len - 1] = 0;
  return 0;
}
int ppiWrite(int slave, int, int, int, int len, const unsigned char* data) {
  if (slave < 1 || slave > 31 || len < 1) abort();
  within(data, len);
  // The first data byte says how the station answers.
  return data[0] % 3 == 0 ? 0 : data[0] % 3 == 1 ? -4 : -0x105;
}
int ppiUnreachable(int code) {
  return code == -4;
}
const otPPIDaemonCalls kCalls = {ppiOpen, ppiRead, ppiWrite, ppiUnreachable};

struct Fixture {
  std::string dir, ppiShm, siemensShm, mbx;
  otPPIDaemonDevice ppi{kCalls};
  otSiemensDaemonDevice siemens{nullptr, 0};
  otModbusDaemonDevice modbus{"127.0.0.1", 1, 0};
  std::unique_ptr<otDaemonRuntime> ppiRuntime, siemensRuntime;
  static const otDaemonCycle kCycle;

  Fixture() {
    char tmpl[] = "/tmp/otkit-fuzz-daemon-XXXXXX";
    dir = mkdtemp(tmpl) != nullptr ? tmpl : "/tmp";
    ppiShm = dir + "/ppi.shm";
    siemensShm = dir + "/siemens.shm";
    mbx = dir + "/requests.mbx";
    otDaemonConfig c;
    c.mailbox = mbx.c_str();
    c.cycles = &kCycle;
    c.cycleCount = 1;
    c.imageSize = (long)otImageStatus(kCycle.bytes, 1).imageSize();
    // one attempt: a hold would only make the fuzzer slow
    c.writeHoldMs = 0;
    c.writeRetryMs = 0;
    otSetLogSink([](int, const char*, void*) {}, nullptr);
    // an image each: the write error counters are the runtimes' own
    c.image = ppiShm.c_str();
    ppiRuntime.reset(new otDaemonRuntime(c, ppi));
    c.image = siemensShm.c_str();
    siemensRuntime.reset(new otDaemonRuntime(c, siemens));
    if (ppiRuntime->status() != 0) abort();
  }
  ~Fixture() {
    ppiRuntime->image().deleteSharedMemory();
    siemensRuntime->image().deleteSharedMemory();
    int id = msgget(ftok(mbx.c_str(), 'b'), 0);
    if (id >= 0) msgctl(id, IPC_RMID, nullptr);
    unlink(ppiShm.c_str());
    unlink(siemensShm.c_str());
    unlink(mbx.c_str());
    rmdir(dir.c_str());
  }
  unsigned writeErrors(otDaemonRuntime& r) {
    unsigned short v = 0;
    r.image().read((unsigned long)(r.layout().counterBase() + otImageStatus::WRITE_ERROR_COUNT), &v,
                   2);
    return v;
  }
};
const otDaemonCycle Fixture::kCycle = {0, 4, 2, 0x84, 1, 0, 4};

Fixture& fixture() {
  static Fixture f;
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > otDaemonRuntime::MAILBOX_BUFFER) return 0;
  Fixture& f = fixture();
  // A copy of exactly the message's size, so that a read behind it is seen.
  std::vector<unsigned char> msg(data + 1, data + size);
  gMsg = msg.data();
  gLen = msg.size();
  const int len = (int)msg.size();
  switch (data[0] % 3) {
    case 0:
    case 1: {
      otDaemonRuntime& r = data[0] % 3 == 0 ? *f.ppiRuntime : *f.siemensRuntime;
      unsigned before = f.writeErrors(r);
      int result = r.serve(msg.data(), len);
      unsigned after = f.writeErrors(r);
      bool counted =
          result != otDaemonDevice::WRITE_DONE && result != otDaemonRuntime::REQUEST_IGNORED;
      if (result < otDaemonRuntime::REQUEST_INVALID || result > otDaemonDevice::WRITE_REFUSED)
        abort();
      if (after != (counted ? (before + 1) % otImageStatus::COUNTER_WRAP : before)) abort();
      if (data[0] % 3 == 1 && result >= 0) abort();  // no PLC: nothing can be carried out
      // The pass in between lets the dropping end again.
      if (data[0] % 3 == 0 && (size & 1)) r.pass();
      break;
    }
    default:
      if (len >= f.modbus.requestHeader()) f.modbus.check(msg.data(), len);
      break;
  }
  gMsg = nullptr;
  return 0;
}
