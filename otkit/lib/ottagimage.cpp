#include "ottagimage.h"

#include <float.h>
#include <math.h>
#include <stdint.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>

#include <map>
#include <type_traits>

#include "otdaemon.h"
#include "otimagestatus_p.h"
#include "otmodbusclient.h"
#include "otppiclient.h"
#include "otsiemenstcpclient.h"
#include "ottag_p.h"
#include "otnumber.h"
#include "otwritecoalescer.h"
#include "otwritegate.h"

namespace {

// Siemens and PPI controllers keep multi-byte values most significant byte first.
const int kPlcOrder = 1;

uint32_t big32(const unsigned char* b) {
  return ((uint32_t)b[0] << 24) | ((uint32_t)b[1] << 16) | ((uint32_t)b[2] << 8) | b[3];
}

// The raw value of t from its bytes, most significant first (how the daemons keep Modbus
// registers, a 32-bit value high word first, and PLC values).
double fromBig(const otTag& t, const unsigned char* b) {
  switch (t.type) {
    case otTag::BIT:
      return (b[0] >> (t.index % 8)) & 1;
    case otTag::BYTE:
      return b[0];
    case otTag::SHORT:
      return (int16_t)(uint16_t)((b[0] << 8) | b[1]);
    case otTag::USHORT:
      return (uint16_t)((b[0] << 8) | b[1]);
    case otTag::INT:
      return (int32_t)big32(b);
    default: {
      uint32_t bits = big32(b);
      float f;
      memcpy(&f, &bits, 4);
      return f;
    }
  }
}

// Whether a daemon has made its image: both files and the segment. The clients would create
// what is missing, and a segment made here with this header's size could keep a daemon of a
// newer, larger image from starting; a missing file would end the process.
bool imagePresent(const std::string& shm, const std::string& mbx) {
  struct stat st;
  if (shm.empty() || mbx.empty() || stat(shm.c_str(), &st) != 0 || stat(mbx.c_str(), &st) != 0)
    return false;
  // The key every otSharedMemory derives from its path.
  key_t key = ftok(shm.c_str(), 'b');
  return key != (key_t)-1 && shmget(key, 0, 0) >= 0;
}

}  // namespace

struct otTagImage::Write {
  ottag::Address address;
  bool valid = false;
};

struct otTagImage::Daemon {
  std::string headerName;
  otDaemonHeader header;
  std::string shm, mbx;  // the paths open() uses
  std::unique_ptr<otModbusClient> modbus;
  std::unique_ptr<otSiemensTCPClient> siemens;
  std::unique_ptr<otPPIClient> ppi;
  std::unique_ptr<otWriteCoalescer> writes;

  bool isOpen() const { return modbus || siemens || ppi; }
  otDeviceClient* client() const {
    if (modbus) return modbus.get();
    if (siemens) return siemens.get();
    return ppi.get();
  }

  int open() {
    if (isOpen()) return 1;
    if (!imagePresent(shm, mbx) || header.size <= 0 || header.size > INT32_MAX) return 0;
    const int size = (int)header.size;
    if (header.kind == otDaemonHeader::MODBUS)
      modbus.reset(new otModbusClient(mbx.c_str(), shm.c_str(), size));
    else if (header.kind == otDaemonHeader::SIEMENS)
      siemens.reset(new otSiemensTCPClient(mbx.c_str(), shm.c_str(), size, kPlcOrder));
    else if (header.kind == otDaemonHeader::PPI)
      ppi.reset(new otPPIClient(mbx.c_str(), shm.c_str(), size, kPlcOrder));
    otDeviceClient* c = client();
    // A segment smaller than the header says (another daemon's, an older one) is not this
    // daemon's image.
    if (c == nullptr || c->otMailbox::status != otMailbox::MAILBOX_OK ||
        c->otSharedMemory::status != otSharedMemory::SHM_OK) {
      close();
      return 0;
    }
    // A stalled daemon must never hold the caller in a write.
    c->setWriteWait(0);
    return 1;
  }

  void close() {
    modbus.reset();
    siemens.reset();
    ppi.reset();
  }

  int cycleStatus(int cycle, int* ok, long* age) {
    otDeviceClient* c = client();
    return c ? c->cycleStatus(cycle, ok, age) : -1;
  }

  // The raw value of t at byte offset of the image, as a double. 0, or -1.
  int readRaw(const otTag& t, unsigned long offset, double* raw) {
    const int n = otTag::typeSize(t.type);
    if (modbus) {
      // Registers are in the image as the device sent them, high byte first; a 32-bit value
      // spans two registers, high word first.
      unsigned char b[4];
      if (modbus->otSharedMemory::read(offset, b, n) != n) return -1;
      *raw = fromBig(t, b);
      return 0;
    }
    return siemens ? typed(*siemens, t, offset, n, raw) : ppi ? typed(*ppi, t, offset, n, raw) : -1;
  }

  template <int SIZE>
  static int typed(otPlcClient<SIZE>& c, const otTag& t, unsigned long offset, int n, double* raw) {
    if (offset > (unsigned long)INT32_MAX || c.read((int)offset, n) != n) return -1;
    switch (t.type) {
      case otTag::BIT:
        *raw = (c.readBuffer[0] >> (t.index % 8)) & 1;
        return 0;
      case otTag::BYTE:
        *raw = c.readBuffer[0];
        return 0;
      case otTag::SHORT:
        *raw = c.Short(0);
        return 0;
      case otTag::USHORT:
        *raw = c.UShort(0);
        return 0;
      case otTag::INT:
        *raw = c.Dword(0);
        return 0;
      case otTag::FLOAT:
        *raw = c.Float(0);
        return 0;
    }
    return -1;
  }

  // The Siemens or PPI client's write of one value of t: the Siemens writers count values,
  // the PPI ones bytes; only Siemens writes bits (the table refuses PPI bit tags).
  template <class Client>
  static int postTyped(Client& c, const otTag& t, const ottag::Address& a, long raw) {
    constexpr bool bytes = std::is_same<Client, otPPIClient>::value;
    const int n = bytes ? otTag::typeSize(t.type) : 1;
    const unsigned char byte = (unsigned char)raw;
    switch (t.type) {
      case otTag::BIT:
        if constexpr (!bytes) return c.writeBit(a.slave, a.org, a.db, a.start, a.bit, 1, &byte);
        return -1;
      case otTag::BYTE:
        if constexpr (bytes)
          return c.write(a.slave, a.org, a.db, a.start, 1, &byte);
        else
          return c.writeByte(a.slave, a.org, a.db, a.start, 1, &byte);
      case otTag::SHORT: {
        short v = (short)raw;
        return c.writeShort(a.slave, a.org, a.db, a.start, n, &v);
      }
      case otTag::USHORT: {
        unsigned short v = (unsigned short)raw;
        return c.writeUShort(a.slave, a.org, a.db, a.start, n, &v);
      }
      case otTag::INT: {
        int v = (int)raw;
        return c.writeDword(a.slave, a.org, a.db, a.start, n, &v);
      }
      case otTag::FLOAT: {
        uint32_t bits = (uint32_t)raw;
        float v;
        memcpy(&v, &bits, 4);
        return c.writeFloat(a.slave, a.org, a.db, a.start, n, &v);
      }
    }
    return -1;
  }

  // The device client's write of raw for t: 0 posted, -2 mailbox full, -1 refused.
  int post(const otTag& t, const ottag::Address& a, long raw) {
    int r = -1;
    if (modbus) {
      if (a.write == ottag::W_COIL) r = modbus->writeSingleCoil(a.slave, a.adr, (int)raw);
      if (a.write == ottag::W_REGISTER)
        r = modbus->writePresetSingleRegister(a.slave, a.adr, (int)raw);
    } else if (siemens) {
      r = postTyped(*siemens, t, a, raw);
    } else if (ppi) {
      r = postTyped(*ppi, t, a, raw);
    }
    return r == 0 || r == -2 ? r : -1;
  }
};

otTagImage::otTagImage(const otTagTable& table,
                       const std::vector<std::pair<std::string, otDaemonHeader>>& headers)
    : table_(table) {
  std::map<std::string, int> byHeader;
  daemonOf_.assign(table_.tags.size(), -1);
  writes_.resize(table_.tags.size());
  for (size_t i = 0; i < table_.tags.size(); i++) {
    const otTag& t = table_.tags[i];
    auto it = byHeader.find(t.header);
    if (it == byHeader.end()) {
      int found = -1;
      for (const auto& h : headers)
        if (h.first == t.header) {
          std::unique_ptr<Daemon> d(new Daemon);
          d->headerName = h.first;
          d->header = h.second;
          d->shm = h.second.sharedMemory;
          d->mbx = h.second.mailbox;
          Daemon* dp = d.get();
          // The coalescer's key is the tag's index.
          d->writes.reset(new otWriteCoalescer([this, dp](int key, long raw) {
            // A write that waited in the queue was recorded when it was asked for.
            otWriteGatedScope recorded;
            return dp->post(table_.tags[(size_t)key], writes_[(size_t)key].address, raw);
          }));
          found = (int)daemons_.size();
          daemons_.push_back(std::move(d));
          break;
        }
      it = byHeader.emplace(t.header, found).first;
    }
    if (it->second < 0) continue;
    // A tag that does not fit its daemon's image or kind is never read or written: its
    // offset could lie in another block, its write go to the wrong place.
    const otDaemonHeader& h = daemons_[(size_t)it->second]->header;
    if (otTagTable::check(t, &h, nullptr) != 0) continue;
    if (ottag::parseAddress(t, h.kind, &writes_[i].address, nullptr) != 0) continue;
    writes_[i].valid = true;
    daemonOf_[i] = it->second;
  }
}

otTagImage::~otTagImage() {}

std::unique_ptr<otTagImage> otTagImage::load(const char* tablePath, std::string* error) {
  otTagTable table;
  if (table.read(tablePath, error) != 0) return nullptr;
  const std::string folder = ottag::folderOf(tablePath);
  std::vector<std::pair<std::string, otDaemonHeader>> headers;
  std::map<std::string, size_t> index;
  for (const otTag& t : table.tags) {
    auto it = index.find(t.header);
    if (it == index.end()) {
      otDaemonHeader h;
      std::string why;
      if (ottag::readHeaderFile(ottag::headerPath(folder, t.header), &h, &why) != 0) {
        if (error != nullptr) *error = "tag " + t.name + ": " + why;
        return nullptr;
      }
      it = index.emplace(t.header, headers.size()).first;
      headers.emplace_back(t.header, h);
    }
    std::string why;
    if (otTagTable::check(t, &headers[it->second].second, &why) != 0) {
      if (error != nullptr) *error = "tag " + t.name + ": " + why;
      return nullptr;
    }
  }
  return std::unique_ptr<otTagImage>(new otTagImage(table, headers));
}

void otTagImage::setPaths(const std::string& target, const std::string& sharedMemory,
                          const std::string& mailbox) {
  for (auto& d : daemons_) {
    if (!target.empty() && d->header.target != target) continue;
    if (!sharedMemory.empty()) d->shm = sharedMemory;
    if (!mailbox.empty()) d->mbx = mailbox;
  }
}

int otTagImage::open() {
  int n = 0;
  for (auto& d : daemons_)
    n += d->open();
  return n;
}

int otTagImage::daemons() const {
  return (int)daemons_.size();
}

int otTagImage::find(const std::string& name) const {
  return table_.find(name);
}

const otTag& otTagImage::tag(int index) const {
  static const otTag none;
  if (index < 0 || (size_t)index >= table_.tags.size()) return none;
  return table_.tags[(size_t)index];
}

int otTagImage::read(int index, double* value, int* fresh, long* ageSeconds) {
  double raw = 0;
  int r = readRaw(index, &raw, fresh, ageSeconds);
  if (value != nullptr) *value = r == 0 ? raw * tag(index).scale + tag(index).offset : 0;
  return r;
}

int otTagImage::readRaw(int index, double* raw, int* fresh, long* ageSeconds) {
  if (raw != nullptr) *raw = 0;
  if (fresh != nullptr) *fresh = 0;
  if (ageSeconds != nullptr) *ageSeconds = -1;
  if (index < 0 || (size_t)index >= table_.tags.size() || daemonOf_[(size_t)index] < 0) return -1;
  Daemon& d = *daemons_[(size_t)daemonOf_[(size_t)index]];
  if (!d.isOpen()) return -1;
  const otTag& t = table_.tags[(size_t)index];
  const otDaemonHeader::Cycle& c = d.header.cycles[(size_t)t.cycle - 1];
  const unsigned long offset = (unsigned long)c.base + (unsigned long)t.blockOffset();
  double v;
  if (d.readRaw(t, offset, &v) != 0) return -1;
  if (raw != nullptr) *raw = v;
  // An image without a status area (a daemon of an older generator) tells nothing of
  // freshness: its values count as not fresh.
  int ok = 0;
  long age = -1;
  if (d.cycleStatus(t.cycle, &ok, &age) != 0) {
    ok = 0;
    age = -1;
  }
  if (fresh != nullptr) *fresh = ok;
  if (ageSeconds != nullptr) *ageSeconds = age;
  return 0;
}

bool otTagImage::putRaw(const otTag& t, double raw, unsigned char* block, size_t size) {
  const int n = otTag::typeSize(t.type);
  const size_t at = (size_t)t.blockOffset();
  if (block == nullptr || at + (size_t)n > size) return false;
  if (t.type == otTag::BIT) {
    const unsigned char bit = (unsigned char)(1u << (t.index % 8));
    block[at] = raw != 0 ? (unsigned char)(block[at] | bit) : (unsigned char)(block[at] & ~bit);
    return true;
  }
  uint32_t bits;
  if (t.type == otTag::FLOAT) {
    float f = (float)raw;
    memcpy(&bits, &f, 4);
  } else {
    bits = (uint32_t)(int64_t)raw;
  }
  for (int i = n - 1; i >= 0; i--, bits >>= 8)
    block[at + (size_t)i] = (unsigned char)bits;
  return true;
}

int otTagImage::readAllRaw(std::vector<double>* raw, std::vector<char>* fresh,
                           std::vector<char>* ok) {
  const size_t n = table_.tags.size();
  raw->assign(n, 0);
  fresh->assign(n, 0);
  ok->assign(n, 0);
  int good = 0;
  std::vector<unsigned char> copy;
  for (size_t di = 0; di < daemons_.size(); di++) {
    Daemon& d = *daemons_[di];
    otDeviceClient* c = d.client();
    if (c == nullptr || d.header.size <= 0) continue;
    copy.resize((size_t)d.header.size);
    if (c->otSharedMemory::read(0, copy.data(), (int)copy.size()) != (int)copy.size()) continue;
    const size_t size = copy.size();
    std::vector<char> cycleGood(d.header.cycles.size() + 1, 0);
    unsigned long base = 0, cycles = 0;
    if (size >= (size_t)otImageStatus::PASS_RECORD &&
        otimagestatus::passRecordOf(copy.data() + size - otImageStatus::PASS_RECORD, size, &base,
                                    &cycles)) {
      for (size_t k = 1; k <= cycles && k < cycleGood.size(); k++)
        cycleGood[k] =
            copy[base + otImageStatus::CYCLE_RECORD * (k - 1) + otImageStatus::CYCLE_STATE] ==
            otImageStatus::STATE_GOOD;
    }
    for (size_t k = 0; k < n; k++) {
      if (daemonOf_[k] != (int)di) continue;
      const otTag& t = table_.tags[k];
      const size_t at = (size_t)d.header.cycles[(size_t)t.cycle - 1].base + (size_t)t.blockOffset();
      if (at + (size_t)otTag::typeSize(t.type) > size) continue;
      (*raw)[k] = fromBig(t, copy.data() + at);
      (*fresh)[k] = cycleGood[(size_t)t.cycle];
      (*ok)[k] = 1;
      good++;
    }
  }
  return good;
}

int otTagImage::write(int index, double value) {
  if (index < 0 || (size_t)index >= table_.tags.size()) return -1;
  const otTag& t = table_.tags[(size_t)index];
  return writeRaw(index, (value - t.offset) / t.scale);
}

int otTagImage::writeRaw(int index, double r) {
  if (index < 0 || (size_t)index >= table_.tags.size() || daemonOf_[(size_t)index] < 0) return -1;
  const otTag& t = table_.tags[(size_t)index];
  Daemon& d = *daemons_[(size_t)daemonOf_[(size_t)index]];
  if (!t.writable() || !writes_[(size_t)index].valid || !d.isOpen()) return -1;
  if (!std::isfinite(r)) return -1;
  long raw;
  if (t.type == otTag::FLOAT) {
    if (fabs(r) > FLT_MAX) return -1;
    float f = (float)r;
    uint32_t bits;
    memcpy(&bits, &f, 4);
    raw = (long)bits;
  } else {
    static const double kMin[] = {0, 0, -32768, 0, -2147483648.0};
    static const double kMax[] = {1, 255, 32767, 65535, 2147483647.0};
    const double n = round(r);
    if (n < kMin[t.type] || n > kMax[t.type]) return -1;
    raw = (long)n;
  }
  if (otCurrentWriteGate() == nullptr) return d.writes->put(index, raw);
  // The audit trail and the role check see the write as the tag's, in shown values.
  otWriteRequest request;
  request.target = t.name;
  request.minRole = t.role;
  char text[40];
  double old = 0;
  if (read(index, &old, nullptr, nullptr) == 0 && otFormatShortest(text, sizeof text, old) > 0)
    request.oldValue = text;
  const double shown = t.type == otTag::FLOAT ? (double)(float)r : (double)raw;
  if (otFormatShortest(text, sizeof text, shown * t.scale + t.offset) > 0) request.newValue = text;
  return otGatedWrite(
      request, [&] { return d.writes->put(index, raw); }, [](int result) { return result >= 0; });
}

int otTagImage::requestedWrite(const unsigned char* msg, int len, double* raw) const {
  if (msg == nullptr || len < 6) return -1;
  // Modbus: slave, function 5 (coil, 0xFF00 for on) or 6 (register), the address and the
  // value, each of two bytes, most significant first.
  const bool modbus = len == 6 && (msg[1] == 5 || msg[1] == 6);
  // Siemens and PPI: slave, area, db, start and the byte count (two bytes each), the Siemens
  // function (bits: start is 8 * byte + bit), then the value in PLC order.
  otDaemonByteRequest plc;
  for (size_t i = 0; i < writes_.size(); i++) {
    const ottag::Address& a = writes_[i].address;
    if (!writes_[i].valid || daemonOf_[i] < 0) continue;
    const otTag& t = table_.tags[i];
    const int kind = daemons_[(size_t)daemonOf_[i]]->header.kind;
    if (kind == otDaemonHeader::MODBUS) {
      if (!modbus) continue;
      const int slave = msg[0], adr = (msg[2] << 8) | msg[3], value = (msg[4] << 8) | msg[5];
      const int write = msg[1] == 5 ? ottag::W_COIL : ottag::W_REGISTER;
      if (a.write != write || a.slave != slave || a.adr != adr) continue;
      if (write == ottag::W_COIL) {
        if (value != 0xFF00 && value != 0) return -1;
        *raw = value != 0 ? 1 : 0;
      } else {
        *raw = t.type == otTag::SHORT ? (double)(int16_t)value : (double)value;
        if ((t.type == otTag::BIT && value > 1) || (t.type == otTag::BYTE && value > 255))
          return -1;
      }
      return (int)i;
    }
    const bool siemens = kind == otDaemonHeader::SIEMENS;
    if (!plc.parse(msg, len,
                   siemens ? otDaemonByteRequest::SIEMENS_HEADER : otDaemonByteRequest::PPI_HEADER))
      continue;
    if (plc.slave != a.slave || plc.area != a.org || plc.dbnum != a.db) continue;
    const int size = otTag::typeSize(t.type);
    if (t.type == otTag::BIT) {
      if (!siemens || plc.function != otSiemensTCPClient::FUNCTION_BITS ||
          plc.start != 8 * a.start + a.bit || plc.len != 1 || plc.available != 1)
        continue;
      *raw = plc.data[0] != 0 ? 1 : 0;
      return (int)i;
    }
    if ((siemens && plc.function != otSiemensTCPClient::FUNCTION_BYTES) || plc.start != a.start ||
        plc.len != size || plc.available != size)
      continue;
    *raw = fromBig(t, plc.data);
    return (int)i;
  }
  return -1;
}

int otTagImage::flush() {
  int waiting = 0;
  for (auto& d : daemons_)
    if (d->isOpen()) waiting += d->writes->flush();
  return waiting;
}
