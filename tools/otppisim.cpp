// otppisim: a PPI slave simulator. It keeps the memory areas of a small S7-200 (V memory,
// inputs, outputs, markers, counters and timers) and serves them to a PPI master on a serial
// line: each S7 read or write job arrives in a request telegram, is acknowledged with E5 and
// answered when the master polls. The memory knows nothing of telegrams; the station logic
// knows nothing of the line; the loop in main moves telegrams between the two.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "otbyteorder.h"
#include "ots7pdu.h"
#include "otserial.h"
#include "toolargs_p.h"
#include "ppi.h"

namespace {

const char kUsage[] =
    "usage: otppisim -serial=DEVICE [options]\n"
    "A PPI slave simulator: serves the memory of a small S7-200 to a PPI master on a\n"
    "serial line (a tty path, e.g. one end of a socat pty pair).\n"
    "\n"
    "  -serial=DEVICE      the line, e.g. -serial=/dev/ttyUSB0 (required)\n"
    "  -baud=N             1200 to 115200 (default 9600; PPI uses 9600 and 19200)\n"
    "  -parity=even|odd|none   (default even, as PPI has it)\n"
    "  -address=N          station address, 1 to 126 (default 2)\n"
    "  -vsize=N            bytes of V memory, 1 to 65536 (default 10240)\n"
    "  -set=AREA:ADDRESS:BYTE[,BYTE...]   initial values from ADDRESS on; AREA is\n"
    "                      v, i, q, m, c or t; numbers in decimal or 0x hex, e.g.\n"
    "                      -set=v:100:0x12,0x34 (the option may be given many times)\n"
    "  -v                  print one line per job\n"
    "  -h                  this text\n"
    "\n"
    "Areas (S7 area code on the line): V memory (0x84 with DB 1, or 0x87), inputs I (0x81,\n"
    "16 bytes), outputs Q (0x82, 16 bytes), markers M (0x83, 32 bytes), counters C (0x1E)\n"
    "and timers T (0x1F), 256 of each, 2 bytes each, most significant first, counter n at\n"
    "byte 2n. Everything is addressed by byte. A job outside an area is refused with item\n"
    "code 0x05, one for an area or data block that does not exist with 0x0A.\n";

volatile sig_atomic_t stopRequested = 0;

void onSignal(int) {
  stopRequested = 1;
}

// ---------------------------------------------------------------------------------------------
// Memory

class Memory {
 public:
  explicit Memory(int vsize) : v_((size_t)vsize), i_(16), q_(16), m_(32), c_(512), t_(512) {}

  // The area an S7 job names; null when the station has none such.
  std::vector<unsigned char>* area(int code, int dbnr) {
    switch (code) {
      case 0x84:
        return dbnr == 1 ? &v_ : nullptr;
      case 0x87:
        return &v_;
      case 0x81:
        return &i_;
      case 0x82:
        return &q_;
      case 0x83:
        return &m_;
      case 0x1E:
        return &c_;
      case 0x1F:
        return &t_;
      default:
        return nullptr;
    }
  }
  // By the letter of a -set option.
  std::vector<unsigned char>* byLetter(const std::string& letter) {
    static const std::map<std::string, int> codes = {{"v", 0x87}, {"i", 0x81}, {"q", 0x82},
                                                     {"m", 0x83}, {"c", 0x1E}, {"t", 0x1F}};
    auto it = codes.find(letter);
    return it == codes.end() ? nullptr : area(it->second, 1);
  }

 private:
  std::vector<unsigned char> v_, i_, q_, m_, c_, t_;
};

const char* areaName(int code) {
  switch (code) {
    case 0x84:
    case 0x87:
      return "V";
    case 0x81:
      return "I";
    case 0x82:
      return "Q";
    case 0x83:
      return "M";
    case 0x1E:
      return "C";
    case 0x1F:
      return "T";
    default:
      return "?";
  }
}

// Carries out one S7 job on memory; its reply PDU into reply (empty when the job was not
// understood at all: the station then answers with an error class).
std::vector<unsigned char> runJob(Memory* memory, const unsigned char* pdu, int n, bool verbose) {
  unsigned char out[otppi::MAX_DATA];
  int len;
  ots7pdu::Job job;
  if (ots7pdu::parseJob(pdu, n, &job) != 0) {
    int ref = n >= 6 ? otbyteorder::get16(pdu + 4) : 0;
    len = ots7pdu::buildErrorReply(ref, 0x81, 0x04, sizeof(out), out);  // not understood
    if (verbose) printf("otppisim: job not understood (%d bytes)\n", n);
    return std::vector<unsigned char>(out, out + len);
  }
  std::vector<unsigned char>* a = memory->area(job.area, job.dbnr);
  int start = job.bitAddress / 8;
  int code = ots7pdu::ITEM_OK;
  if (a == nullptr)
    code = ots7pdu::ITEM_NO_OBJECT;
  else if (job.transport != ots7pdu::TRANSPORT_BYTE || job.bitAddress % 8 != 0)
    code = ots7pdu::ITEM_TYPE_UNSUPPORTED;
  else if (job.count <= 0 || start + job.count > (int)a->size())
    code = ots7pdu::ITEM_OUT_OF_RANGE;
  else if (job.function == ots7pdu::FN_WRITE && job.dataBits != job.count * 8)
    code = ots7pdu::ITEM_SIZE_MISMATCH;
  else if (job.function == ots7pdu::FN_READ &&
           ots7pdu::READ_REPLY_HEADER + job.count > otppi::MAX_PDU)
    code = ots7pdu::ITEM_OUT_OF_RANGE;  // the reply would not fit the PDU size

  if (job.function == ots7pdu::FN_READ) {
    const unsigned char* data = code == ots7pdu::ITEM_OK ? a->data() + start : nullptr;
    len = ots7pdu::buildReadReply(job.ref, code, data, job.count, sizeof(out), out);
  } else {
    if (code == ots7pdu::ITEM_OK) memcpy(a->data() + start, job.data, (size_t)job.count);
    len = ots7pdu::buildWriteReply(job.ref, code, sizeof(out), out);
  }
  if (verbose) {
    printf("otppisim: %s %s%s %d %d bytes: ", job.function == ots7pdu::FN_READ ? "read" : "write",
           areaName(job.area), job.area == 0x84 ? (" DB" + std::to_string(job.dbnr)).c_str() : "",
           start, job.count);
    if (code == ots7pdu::ITEM_OK)
      printf("ok\n");
    else
      printf("refused 0x%02x\n", code);
  }
  return std::vector<unsigned char>(out, out + len);
}

// ---------------------------------------------------------------------------------------------
// The station: request -> E5, poll -> reply, with the frame count bit of every master.

class Station {
 public:
  Station(int address, Memory* memory, bool verbose)
      : address_(address), memory_(memory), verbose_(verbose) {}

  // The answer to telegram t into out; its length, 0 for no answer.
  int handle(const otppi::Telegram& t, unsigned char* out) {
    if (t.kind == otppi::SC || t.da != address_ || !(t.fc & otppi::FC_REQUEST)) return 0;
    int service = t.fc & 0x0F;
    if (service != otppi::FC_SRD_LOW && service != otppi::FC_SRD_LOW + 1) return 0;
    Master& m = masters_[t.sa & 0xFF];
    bool fcb = (t.fc & otppi::FC_FCB) != 0;
    // FCV with the FCB of the last telegram: the master did not get our answer. It gets the
    // same answer again, and the job is not carried out a second time.
    if ((t.fc & otppi::FC_FCV) && m.known && fcb == m.fcb && !m.last.empty()) {
      if (verbose_) printf("otppisim: repeated telegram from %d, same answer again\n", t.sa);
      memcpy(out, m.last.data(), m.last.size());
      return (int)m.last.size();
    }
    m.known = true;
    m.fcb = fcb;
    int len;
    if (t.kind == otppi::SD2 && t.len > 0) {
      m.pending = runJob(memory_, t.data, t.len, verbose_);
      out[0] = otppi::SC;
      len = 1;
    } else if (!m.pending.empty()) {
      len = otppi::buildVariable(t.sa, address_, otppi::FC_REPLY_DATA, m.pending.data(),
                                 (int)m.pending.size(), out);
      m.pending.clear();
    } else {
      out[0] = otppi::SC;  // a poll with nothing to tell
      len = 1;
    }
    m.last.assign(out, out + len);
    return len;
  }

 private:
  struct Master {
    bool known = false;
    bool fcb = false;
    std::vector<unsigned char> pending;  // the reply PDU not yet fetched
    std::vector<unsigned char> last;     // the last answer sent, for a repetition
  };
  int address_;
  Memory* memory_;
  bool verbose_;
  std::map<int, Master> masters_;
};

const char* framingError(int e) {
  switch (e) {
    case otppi::E_CUT:
      return "telegram cut off";
    case otppi::E_START:
      return "no start byte";
    case otppi::E_LENGTH:
      return "wrong length";
    case otppi::E_CHECKSUM:
      return "wrong checksum";
    case otppi::E_END:
      return "no end delimiter";
    default:
      return "line error";
  }
}

int serve(otSerial* line, Station* station, bool verbose) {
  unsigned char in[otppi::MAX_TELEGRAM];
  unsigned char out[otppi::MAX_TELEGRAM];
  const int gapMs = 100;
  while (!stopRequested) {
    otppi::Telegram t;
    int n = otppi::read(line, in, 200, gapMs, &t);
    if (n == otppi::E_TIMEOUT) continue;
    if (n == otppi::E_LINE) {
      usleep(100000);  // hung up: nobody on the other end yet; do not spin
      continue;
    }
    if (n < 0) {
      // A damaged telegram is never answered; the master sends it again.
      if (verbose) printf("otppisim: %s, dropped\n", framingError(n));
      otppi::drain(line, 20);
      continue;
    }
    int len = station->handle(t, out);
    if (len > 0 && line->writeBlock(out, len) != len) {
      printf("otppisim: cannot write to the line\n");
      return 1;
    }
    if (verbose) fflush(stdout);
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Command line

struct Options {
  std::string device;
  int baud = 9600;
  int parity = otSerial::EVEN;
  int address = 2;
  int vsize = 10240;
  std::vector<std::string> sets;
  bool verbose = false;
  bool help = false;
};

// One entry per option: its name, whether it takes a value, and what it does with it (false
// for a bad value).
struct OptionEntry {
  const char* name;
  bool valued;
  bool (*apply)(const std::string& value, Options* o);
};

const OptionEntry kOptions[] = {
    {"-serial", true, [](const std::string& v, Options* o) { return !(o->device = v).empty(); }},
    {"-baud", true,
     [](const std::string& v, Options* o) {
       return parseInt(v, 1, 4000000, &o->baud) && otBaudConstant((unsigned long)o->baud) != B0;
     }},
    {"-parity", true,
     [](const std::string& v, Options* o) {
       static const std::map<std::string, int> p = {
           {"even", otSerial::EVEN}, {"odd", otSerial::ODD}, {"none", otSerial::NONE}};
       auto it = p.find(v);
       if (it == p.end()) return false;
       o->parity = it->second;
       return true;
     }},
    {"-address", true,
     [](const std::string& v, Options* o) {
       return parseInt(v, 1, otppi::MAX_ADDRESS, &o->address);
     }},
    {"-vsize", true,
     [](const std::string& v, Options* o) { return parseInt(v, 1, 65536, &o->vsize); }},
    {"-set", true,
     [](const std::string& v, Options* o) {
       o->sets.push_back(v);
       return true;
     }},
    {"-v", false, [](const std::string&, Options* o) { return o->verbose = true; }},
    {"-h", false, [](const std::string&, Options* o) { return o->help = true; }},
    {"-help", false, [](const std::string&, Options* o) { return o->help = true; }},
};

// Returns an empty string, or the reason why the command line is not usable.
std::string parseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg.compare(0, 2, "--") == 0) arg.erase(0, 1);
    size_t eq = arg.find('=');
    std::string name = arg.substr(0, eq);
    bool hasValue = eq != std::string::npos;
    const OptionEntry* entry = nullptr;
    for (const OptionEntry& e : kOptions)
      if (name == e.name) entry = &e;
    if (entry == nullptr) return "unknown option " + std::string(argv[i]);
    if (entry->valued != hasValue)
      return hasValue ? name + " takes no value" : name + " needs a value (" + name + "=...)";
    if (!entry->apply(hasValue ? arg.substr(eq + 1) : "", o))
      return "bad value in " + std::string(argv[i]);
  }
  if (!o->help && o->device.empty()) return "-serial=DEVICE is required";
  return "";
}

// Applies one -set value "AREA:ADDRESS:BYTE[,BYTE...]". Returns an empty string or the reason.
std::string applySet(const std::string& text, Memory* memory) {
  size_t first = text.find(':'), second = text.find(':', first + 1);
  if (first == std::string::npos || second == std::string::npos)
    return "-set=" + text + ": expected AREA:ADDRESS:BYTE[,BYTE...]";
  std::vector<unsigned char>* area = memory->byLetter(text.substr(0, first));
  if (area == nullptr) return "-set=" + text + ": unknown area (v, i, q, m, c or t)";
  int adr;
  if (!parseInt(text.substr(first + 1, second - first - 1), 0, 65535, &adr))
    return "-set=" + text + ": bad address";
  size_t at = (size_t)adr;
  for (size_t pos = second + 1;; at++) {
    size_t comma = text.find(',', pos);
    int value;
    if (!parseInt(text.substr(pos, comma == std::string::npos ? comma : comma - pos), 0, 255,
                  &value))
      return "-set=" + text + ": bad byte";
    if (at >= area->size()) return "-set=" + text + ": beyond the end of the area";
    (*area)[at] = (unsigned char)value;
    if (comma == std::string::npos) return "";
    pos = comma + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::string error = parseOptions(argc, argv, &o);
  if (!error.empty()) {
    fprintf(stderr, "otppisim: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (o.help) {
    fputs(kUsage, stdout);
    return 0;
  }
  Memory memory(o.vsize);
  for (const std::string& set : o.sets) {
    error = applySet(set, &memory);
    if (!error.empty()) {
      fprintf(stderr, "otppisim: %s\n", error.c_str());
      return 2;
    }
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof(sa));
  sa.sa_handler = onSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  otSerial line;
  if (line.openDevice(o.device.c_str(), (int)otBaudConstant((unsigned long)o.baud), 1, 0, 8, 1,
                      o.parity) != 0) {
    printf("otppisim: cannot open %s\n", o.device.c_str());
    return 1;
  }
  printf("otppisim: station %d serving %s (%d baud)\n", o.address, o.device.c_str(), o.baud);
  fflush(stdout);
  Station station(o.address, &memory, o.verbose);
  int status = serve(&line, &station, o.verbose);
  printf("otppisim: stopped\n");
  fflush(stdout);
  return status;
}
