#include "otdaemon.h"
#include "otlog.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "otbyteorder.h"
#include "ottime.h"
#include "otwthread.h"

namespace {}  // namespace

// ---------------------------------------------------------------------------------------
void otDaemonDevice::written(const unsigned char*, int, int) {}
void otDaemonDevice::passDone(int, int) {}
void otDaemonDevice::beforeRestart() {}

// ---------------------------------------------------------------------------------------
otDaemonStatus::otDaemonStatus(otSharedMemory& image, const otImageStatus& layout)
    : image_(image), layout_(layout), cycles_((size_t)layout.cycles() + 1) {}

int otDaemonStatus::wrapped(int counter) {
  return counter + 1 >= otImageStatus::COUNTER_WRAP ? 0 : counter + 1;
}

unsigned int otDaemonStatus::saturated(unsigned int count) {
  return count == 0xFFFFFFFFu ? count : count + 1;
}

void otDaemonStatus::writeCounter(int offset, int value) {
  unsigned short v = (unsigned short)value;
  image_.write((unsigned long)(layout_.counterBase() + offset), &v, 2);
}

void otDaemonStatus::writeCycle(int k) {
  unsigned char record[otImageStatus::CYCLE_RECORD] = {0};
  const Cycle& c = cycles_[(size_t)k];
  record[otImageStatus::CYCLE_STATE] = c.state;
  otbyteorder::putBig(record + otImageStatus::CYCLE_FAILURES, c.failures, 4);
  otbyteorder::putBig(record + otImageStatus::CYCLE_GOOD_TIME, (unsigned long long)c.goodTime, 8);
  image_.write((unsigned long)layout_.cycleRecord(k), record, sizeof(record));
}

void otDaemonStatus::writePass() {
  unsigned char record[otImageStatus::PASS_RECORD];
  otbyteorder::putBig(record + otImageStatus::PASS_GOOD_TIME, (unsigned long long)passGoodTime_, 8);
  otbyteorder::putBig(record + otImageStatus::PASS_COUNT, passCount_, 4);
  otbyteorder::putBig(record + otImageStatus::READ_ERROR_TOTAL, readErrorTotal_, 4);
  otbyteorder::putBig(record + otImageStatus::WRITE_ERROR_TOTAL, writeErrorTotal_.load(), 4);
  memcpy(record + otImageStatus::STATUS_MARK, otImageStatus::MARK, otImageStatus::MARK_SIZE);
  otbyteorder::putBig(record + otImageStatus::STATUS_CYCLES, (unsigned long long)layout_.cycles(),
                      4);
  image_.write((unsigned long)layout_.passRecord(), record, sizeof(record));
}

void otDaemonStatus::init() {
  for (long long k = 1; k <= layout_.cycles(); k++) {
    cycles_[(size_t)k] = Cycle();
    writeCycle((int)k);
  }
  writePass();
  writeCounter(otImageStatus::LIFE_COUNTER, lifeCounter_);
  writeCounter(otImageStatus::READ_ERROR_COUNT, readErrorCount_);
  std::lock_guard<std::mutex> hold(writeMutex_);
  writeCounter(otImageStatus::WRITE_ERROR_COUNT, writeErrorCount_);
}

void otDaemonStatus::passStart() {
  lifeCounter_ = wrapped(lifeCounter_);
  writeCounter(otImageStatus::LIFE_COUNTER, lifeCounter_);
}

void otDaemonStatus::cycleDone(int k, bool good) {
  Cycle& c = cycles_[(size_t)k];
  if (good) {
    c.state = otImageStatus::STATE_GOOD;
    c.failures = 0;
    c.goodTime = (long long)time(nullptr);
  } else {
    readErrorCount_ = wrapped(readErrorCount_);
    writeCounter(otImageStatus::READ_ERROR_COUNT, readErrorCount_);
    c.state = otImageStatus::STATE_FAILED;
    c.failures = saturated(c.failures);
    readErrorTotal_ = saturated(readErrorTotal_);
  }
  writeCycle(k);
}

void otDaemonStatus::writeFailed() {
  std::lock_guard<std::mutex> hold(writeMutex_);
  writeErrorCount_ = wrapped(writeErrorCount_);
  writeCounter(otImageStatus::WRITE_ERROR_COUNT, writeErrorCount_);
  writeErrorTotal_ = saturated(writeErrorTotal_.load());
}

void otDaemonStatus::passEnd(int good) {
  passCount_ = saturated(passCount_);
  if (good == layout_.cycles()) passGoodTime_ = (long long)time(nullptr);
  writePass();
}

int otDaemonStatus::state(int k) const {
  return cycles_[(size_t)k].state;
}

// ---------------------------------------------------------------------------------------
namespace {

long long blockBytes(const otDaemonConfig& config) {
  long long sum = 0;
  for (int i = 0; i < config.cycleCount; i++)
    sum += config.cycles[i].bytes;
  return sum;
}

}  // namespace

otDaemonRuntime::otDaemonRuntime(const otDaemonConfig& config, otDaemonDevice& device)
    : config_(config),
      device_(device),
      image_(config.image, (unsigned long)(config.imageSize > 0 ? config.imageSize : 0)),
      mailbox_(config.mailbox),
      layout_(blockBytes(config), config.cycleCount > 0 ? config.cycleCount : 0),
      status_(image_, layout_),
      buffer_(new unsigned char[MAILBOX_BUFFER]) {
  // Each block within the blocks, and the image exactly as large as the table makes it: a
  // table that disagrees with the header a display server was built with would show it
  // values at wrong offsets.
  tableFits_ = config.cycleCount >= 0 && (config.cycleCount == 0 || config.cycles != nullptr) &&
               layout_.imageSize() == config.imageSize;
  for (int i = 0; tableFits_ && i < config.cycleCount; i++) {
    const otDaemonCycle& c = config.cycles[i];
    tableFits_ =
        c.bytes > 0 && c.offset >= 0 && (long long)c.offset + c.bytes <= layout_.counterBase();
  }
}

otDaemonRuntime::~otDaemonRuntime() {
  stop();
}

int otDaemonRuntime::status() const {
  return image_.status == otSharedMemory::SHM_OK && tableFits_ ? 0 : -1;
}

void otDaemonRuntime::log(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  otLogV(OT_LOG_INFO, format, ap);
  va_end(ap);
}

void otDaemonRuntime::event(int level, const char* format, ...) {
  char text[OT_PRINTF_BUFFER];
  va_list ap;
  va_start(ap, format);
  otvsnprintf(text, sizeof(text), format, ap);
  va_end(ap);
  otEvent(level, "%s", text);
}

int otDaemonRuntime::main(const char* av0) {
  // Log lines reach a redirected standard output (a log file, a supervisor) at once.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  av0_ = av0 != nullptr ? av0 : "";
  if (config_.eventPort != 0) {
    std::string host = std::string("-eventhost=") + (config_.eventHost ? config_.eventHost : "");
    std::string port = "-eventport=" + std::to_string(config_.eventPort);
    std::string prefix = std::string(config_.target) + ":";
    const char* eventav[3] = {"", host.c_str(), port.c_str()};
    otEventInit(3, eventav, prefix.c_str());
  }
  // A daemon whose image could not be created or attached would count and report into
  // nothing; an older, smaller segment of the same name (left by an earlier release, or
  // created by a display server built with an older header) is the likely cause.
  if (image_.status != otSharedMemory::SHM_OK) {
    log("process image unusable (otSharedMemory status %d): is a segment of another size left "
        "under that name? (ipcs -m)\n",
        image_.status);
    return 1;
  }
  if (!tableFits_) {
    log("the cycle table does not fit the process image of %ld bytes\n", config_.imageSize);
    return 1;
  }
  if (device_.open(av0_.c_str()) != 0) return 1;
  event(otInfo, "%s starting", config_.target);
  start();
  while (!stopping_)
    pass();
  stop();
  return 0;
}

void otDaemonRuntime::start() {
  if (requestThread_.joinable()) return;
  status_.init();
  // What an earlier run left in the mailbox is not this run's business.
  mailbox_.clear();
  requestThread_ = std::thread([this] { requests(); });
  if (config_.watchdogMs > 0) watchdogThread_ = std::thread([this] { watchdog(); });
}

bool otDaemonRuntime::waitMs(int ms) {
  std::unique_lock<std::mutex> lock(pauseMutex_);
  return !pauseWake_.wait_for(lock, std::chrono::milliseconds(ms),
                              [this] { return stopping_.load(); });
}

int otDaemonRuntime::pass() {
  if (config_.passPauseMs > 0 && !waitMs(config_.passPauseMs)) return 0;
  status_.passStart();
  int good = 0;
  // Every cycle is read in every pass, whatever the others did: a device that fails neither
  // hides the others nor makes the passes (and the life counter) faster.
  for (int k = 1; k <= config_.cycleCount; k++) {
    const otDaemonCycle& c = config_.cycles[k - 1];
    cyclesBegun_++;
    const unsigned char* data = device_.read(k, c, status_.state(k) == otImageStatus::STATE_FAILED);
    if (data != nullptr) {
      image_.write((unsigned long)c.offset, data, c.bytes);
      // the device answers again: requests may wait for it once more
      dropping_ = false;
      good++;
    }
    status_.cycleDone(k, data != nullptr);
  }
  if (config_.cycleCount == 0) {
    // no read cycles: the pass still takes its time and counts for the watchdog
    if (config_.emptyPassMs > 0) waitMs(config_.emptyPassMs);
    cyclesBegun_++;
  }
  status_.passEnd(good);
  device_.passDone(good, config_.cycleCount);
  return good;
}

void otDaemonRuntime::stop() {
  {
    std::lock_guard<std::mutex> lock(pauseMutex_);
    stopping_ = true;
  }
  pauseWake_.notify_all();
  // main() ends with a stop() of its own, which may meet the caller's.
  std::lock_guard<std::mutex> once(stopMutex_);
  if (requestThread_.joinable()) {
    // An empty message wakes the request thread from its read; a full queue needs none.
    mailbox_.setWriteWait(0);
    mailbox_.write("", 0);
    requestThread_.join();
  }
  if (watchdogThread_.joinable()) watchdogThread_.join();
}

int otDaemonRuntime::serve(const unsigned char* msg, int len) {
  if (len < device_.requestHeader()) {
    log("mbx message of %d bytes ignored\n", len);
    return REQUEST_IGNORED;
  }
  if (!device_.check(msg, len)) {
    status_.writeFailed();
    return REQUEST_INVALID;
  }
  const long long giveUp = otMonotonicMs() + config_.writeHoldMs;
  int result;
  for (;;) {
    result = device_.write(msg, len);
    if (result != otDaemonDevice::WRITE_UNREACHABLE || dropping_ || otMonotonicMs() >= giveUp)
      break;
    if (!waitMs(config_.writeRetryMs)) break;
  }
  device_.written(msg, len, result);
  if (result != otDaemonDevice::WRITE_DONE) {
    status_.writeFailed();
    if (result == otDaemonDevice::WRITE_UNREACHABLE) dropping_ = true;
  } else {
    dropping_ = false;
  }
  return result;
}

void otDaemonRuntime::requests() {
  unsigned char* buf = buffer_.get();
  while (!stopping_) {
    int len = mailbox_.read(buf, MAILBOX_BUFFER);
    if (stopping_) break;
    if (len < 0) {
      log("mbx read failed\n");
      waitMs(1000);
      continue;
    }
    serve(buf, len);
  }
}

void otDaemonRuntime::watchdog() {
  // The first look only takes the count: the first pass may begin late.
  bool first = true;
  unsigned int seen = 0;
  while (waitMs(config_.watchdogMs)) {
    unsigned int now = cyclesBegun_.load();
    if (!first && now == seen) restart();
    first = false;
    seen = now;
  }
}

void otDaemonRuntime::restart() {
  device_.beforeRestart();
  otsleep(100);
  otexec(av0_.c_str());
  // _exit: the other threads still use what exit() would destroy
  fflush(stdout);
  _exit(0);
}

// ---------------------------------------------------------------------------------------
bool otDaemonByteRequest::parse(const unsigned char* msg, int msgLen, int header) {
  if (msg == nullptr || msgLen < header || header < PPI_HEADER) return false;
  slave = msg[0];
  area = msg[1];
  dbnum = otbyteorder::get16(msg + 2);
  start = otbyteorder::get16(msg + 4);
  len = otbyteorder::get16(msg + 6);
  function = header > PPI_HEADER ? msg[8] : 0;
  data = msg + header;
  available = msgLen - header;
  return true;
}

// ---------------------------------------------------------------------------------------
namespace {

// The telegram buffer holds the longest request a client may post: 256 data bytes in a
// Modbus/TCP telegram (header, unit, function) or an RTU telegram (address, function, CRC).
long modbusBuffer(int mode) {
  return mode == otModbus::MODBUS_ASCII ? 1024 + 1 : 8 + 256 + 2;
}

// The most data one Modbus request carries.
const int kModbusRequestData = 256;

}  // namespace

otModbusDaemonDevice::otModbusDaemonDevice(const char* adr, int port, int idleMs)
    : idleMs_(idleMs),
      socket_(new otSocket(adr, port, 1)),
      modbus_(modbusBuffer(otModbus::MODBUS_RTU), otModbus::MODBUS_RTU) {
  modbus_.registerSocket(socket_.get());
}

otModbusDaemonDevice::otModbusDaemonDevice(const char* device, int speed, int rtscts, int parity,
                                           int mode, int idleMs)
    : device_(device != nullptr ? device : ""),
      speed_(speed),
      rtscts_(rtscts),
      parity_(parity),
      idleMs_(idleMs),
      serial_(new otSerial()),
      modbus_(modbusBuffer(mode), mode) {
  modbus_.registerSerial(serial_.get());
}

otModbusDaemonDevice::~otModbusDaemonDevice() = default;

int otModbusDaemonDevice::openSerial() {
  return serial_->openDevice(device_.c_str(), speed_, 1, rtscts_, 8, 1, parity_);
}

int otModbusDaemonDevice::open(const char* av0) {
  if (serial_) {
    for (bool first = true; openSerial() != 0; first = false) {
      if (first) otDaemonRuntime::log("could not open serial device %s\n", device_.c_str());
      otsleep(1000);
    }
  }
  otDaemonRuntime::log("\n%s starting\n", av0);
  return 0;
}

const unsigned char* otModbusDaemonDevice::read(int, const otDaemonCycle& c, bool failing) {
  memset(data_, 0, sizeof(data_));
  int rslave = c.slave, rfunction = c.area, ret;
  otsleep(idleMs_);
  {
    std::lock_guard<std::mutex> hold(bus_);
    ret = modbus_.request(c.slave, c.area, c.start, c.count);
    if (ret >= 0) ret = modbus_.response(&rslave, &rfunction, data_);
    // a reply of another size than the block would shift every later block of the image
    if (ret > 0 && (ret != c.bytes || rslave != c.slave || rfunction != c.area)) {
      otDaemonRuntime::log(
          "cycle reply does not match: ret=%d slave=%d function=%d, expected %d bytes\n", ret,
          rslave, rfunction, c.bytes);
      ret = -1;
    }
    if (ret < 0 && socket_) socket_->disconnect();
  }
  // once per outage of the cycle, not once per pass
  if (ret <= 0 && !failing)
    otDaemonRuntime::event(otWarning,
                           "modbus.response cycle ret=%d slave=%d function=%d start_adr=%d "
                           "num_register=%d",
                           ret, c.slave, c.area, c.start, c.count);
  otDaemonRuntime::log("cycle ret=%d slave=%d function=%d data[0]=%d\n", ret, c.slave, c.area,
                       data_[0]);
  return ret > 0 ? data_ : nullptr;
}

bool otModbusDaemonDevice::check(const unsigned char*, int len) {
  // more than one telegram carries: it could never be sent, and is not held
  if (len - requestHeader() > kModbusRequestData) {
    otDaemonRuntime::log("mbx message of %d bytes ignored\n", len);
    return false;
  }
  return true;
}

int otModbusDaemonDevice::write(const unsigned char* msg, int len) {
  const int slave = msg[0], function = msg[1];
  int rslave = slave, rfunction = function, ret;
  bool refused;
  {
    std::lock_guard<std::mutex> hold(bus_);
    otsleep(idleMs_);
    ret = modbus_.write(slave, function, msg + 2, len - 2);
    if (ret >= 0) ret = modbus_.response(&rslave, &rfunction, reply_);
    // an exception reply: the device refused the request, and will again
    refused = rfunction == (function | 0x80);
    if (refused) ret = -1;
    // Only a failed exchange drops the connection; a successful write reply is a positive
    // byte count and must not cost a reconnect.
    if (ret < 0 && !refused && socket_) socket_->disconnect();
    otsleep(idleMs_);
  }
  lastWrite_ = ret;
  return ret >= 0 ? WRITE_DONE : refused ? WRITE_REFUSED : WRITE_UNREACHABLE;
}

void otModbusDaemonDevice::written(const unsigned char* msg, int len, int) {
  if (lastWrite_ <= 0)
    otDaemonRuntime::event(otWarning, "modbus.response mbx ret=%d slave=%d function=%d", lastWrite_,
                           msg[0], msg[1]);
  otDaemonRuntime::log("mbx ret=%d slave=%d function=%d buf[2]=%d\n", lastWrite_, msg[0], msg[1],
                       len > 2 ? msg[2] : 0);
}

void otModbusDaemonDevice::passDone(int good, int cycles) {
  // Nothing answered: the line may have been pulled (an adapter that is plugged in again is a
  // new device), so it is opened anew.
  if (!serial_ || cycles == 0 || good != 0) return;
  int ret;
  {
    std::lock_guard<std::mutex> hold(bus_);
    serial_->closeDevice();
    ret = openSerial();
  }
  if (ret != 0) otsleep(1000);
}

void otModbusDaemonDevice::beforeRestart() {
  // Without the bus lock: the pass thread that stopped counting may hold it for good. The
  // program is replaced right after.
  if (serial_) serial_->closeDevice();
}

// ---------------------------------------------------------------------------------------
otSiemensDaemonDevice::otSiemensDaemonDevice(const otSiemensDaemonPlc* plcs, int count) {
  for (int i = 0; i < count; i++) {
    const otSiemensDaemonPlc& p = plcs[i];
    if (p.slave < 0 || p.slave > 255) continue;
    plc_[p.slave].reset(new otSiemensTCP(p.adr, p.type, p.fetchWrite, p.function, p.rackSlot));
    if (p.port != otSiemensTCP::ISO_TCP_PORT) plc_[p.slave]->setPort(p.port);
  }
}

otSiemensDaemonDevice::~otSiemensDaemonDevice() = default;

int otSiemensDaemonDevice::open(const char* av0) {
  otDaemonRuntime::log("\n%s starting\n", av0);
  return 0;
}

const unsigned char* otSiemensDaemonDevice::read(int, const otDaemonCycle& c, bool failing) {
  int ret = -1;
  if (c.slave >= 0 && c.slave <= 255 && plc_[c.slave] && c.count <= MAX_BLOCK) {
    std::lock_guard<std::mutex> hold(bus_);
    ret = plc_[c.slave]->fetch(c.area, c.dbnum, c.start, c.count, data_);
  }
  if (ret == c.bytes) return data_;
  // once per outage of the cycle, not once per pass
  if (!failing) otDaemonRuntime::event(otWarning, "fetch ret=%d slave=%d", ret, c.slave);
  otDaemonRuntime::log("E");
  return nullptr;
}

bool otSiemensDaemonDevice::check(const unsigned char* msg, int len) {
  otDaemonByteRequest r;
  r.parse(msg, len, requestHeader());
  // the data must be in the message, not behind it
  if (r.len > r.available) {
    otDaemonRuntime::log("mbx message of %d bytes announces %d data bytes: ignored\n", len, r.len);
    return false;
  }
  if (!plc_[r.slave]) {
    otDaemonRuntime::event(otError, "wrong param send to mailbox");
    otDaemonRuntime::log("mbx message for slave %d ignored: no such slave\n", r.slave);
    return false;
  }
  return true;
}

int otSiemensDaemonDevice::write(const unsigned char* msg, int len) {
  otDaemonByteRequest r;
  r.parse(msg, len, requestHeader());
  {
    std::lock_guard<std::mutex> hold(bus_);
    lastWrite_ = plc_[r.slave]->write(r.area, r.dbnum, r.start, r.len, r.data, r.function);
  }
  // -1: the PLC was not reached; another negative code is its refusal, which stays
  return lastWrite_ >= 0 ? WRITE_DONE : lastWrite_ == -1 ? WRITE_UNREACHABLE : WRITE_REFUSED;
}

void otSiemensDaemonDevice::written(const unsigned char* msg, int, int result) {
  if (result != WRITE_DONE) otDaemonRuntime::log("mbx write ret=%d slave=%d\n", lastWrite_, msg[0]);
}

// ---------------------------------------------------------------------------------------
namespace {

// The station addresses a PPI master has connections for.
bool isPpiStation(int slave) {
  return slave >= 1 && slave <= 31;
}

}  // namespace

otPPIDaemonDevice::otPPIDaemonDevice(const otPPIDaemonCalls& calls) : calls_(calls) {}

int otPPIDaemonDevice::open(const char*) {
  if (calls_.open() != 0) {
    otDaemonRuntime::log("\nerror opening SERIAL_DEVICE\n");
    return -1;
  }
  otDaemonRuntime::log("ppidaemon starting\n");
  return 0;
}

const unsigned char* otPPIDaemonDevice::read(int, const otDaemonCycle& c, bool failing) {
  int ret = -1;
  if (isPpiStation(c.slave) && c.count >= 1 && c.count <= MAX_BLOCK && c.count == c.bytes) {
    std::lock_guard<std::mutex> hold(bus_);
    ret = calls_.read(c.slave, c.area, c.dbnum, c.start, c.count, data_);
  }
  if (ret == 0) return data_;
  otDaemonRuntime::log("daveReadBytes ret=%d\n", ret);
  // once per outage of the cycle, not once per pass
  if (!failing) otDaemonRuntime::event(otWarning, "daveReadBytes ret=%d", ret);
  return nullptr;
}

bool otPPIDaemonDevice::check(const unsigned char* msg, int len) {
  otDaemonByteRequest r;
  r.parse(msg, len, requestHeader());
  // the data must be in the message, not behind it
  return r.len > 0 && r.len <= r.available && isPpiStation(r.slave);
}

int otPPIDaemonDevice::write(const unsigned char* msg, int len) {
  otDaemonByteRequest r;
  r.parse(msg, len, requestHeader());
  {
    std::lock_guard<std::mutex> hold(bus_);
    lastWrite_ = calls_.write(r.slave, r.area, r.dbnum, r.start, r.len, r.data);
  }
  // a station that did not answer is tried again; a refusal stays
  return lastWrite_ == 0                  ? WRITE_DONE
         : calls_.unreachable(lastWrite_) ? WRITE_UNREACHABLE
                                          : WRITE_REFUSED;
}

void otPPIDaemonDevice::written(const unsigned char* msg, int, int result) {
  if (result == WRITE_DONE) return;
  otDaemonRuntime::log("daveWriteBytes ret=%d\n", lastWrite_);
  otDaemonRuntime::event(otWarning, "daveWriteBytes ret=%d slave=%d", lastWrite_, msg[0]);
}
