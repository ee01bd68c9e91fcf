// Daemon generators. Each reads the project file once into one checked Project (settings,
// connections, read cycles and the layout of the process image) and writes the header and the
// source from it alone. The generated daemons use
// the process image and mailbox layouts that otModbusClient, otSiemensTCPClient and
// otPPIClient read and write.
#include "gdaemon.h"

#include <ctype.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <map>
#include <vector>

#include "otdaemon.h"
#include "otimagestatus.h"

namespace {

// Settings and lines longer than these are read the way a fixed-size line buffer reads them.
const size_t kLineBuffer = 64 * 1024;
const size_t kMaxSetting = 4095;
const size_t kMaxAddress = 100;

// Largest block one Siemens cycle reads, and one PPI cycle; the devices' buffers hold them.
const int kSiemensMaxLen = 4096;
const int kPpiMaxLen = 256;
static_assert(kSiemensMaxLen <= otSiemensDaemonDevice::MAX_BLOCK, "Siemens block too large");
static_assert(kPpiMaxLen <= otPPIDaemonDevice::MAX_BLOCK, "PPI block too large");

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char small[512];
  va_list copy;
  va_copy(copy, ap);
  int n = vsnprintf(small, sizeof(small), fmt, copy);
  va_end(copy);
  std::string out;
  if (n < 0) {
    va_end(ap);
    return out;
  }
  if (static_cast<size_t>(n) < sizeof(small)) {
    out.assign(small, n);
  } else {
    out.resize(n + 1);
    vsnprintf(&out[0], n + 1, fmt, ap);
    out.resize(n);
  }
  va_end(ap);
  return out;
}

// Lines as a 64 KiB line buffer delivers them: a longer line arrives in pieces.
std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    end = end == std::string::npos ? text.size() : end + 1;
    if (end - pos > kLineBuffer - 1) end = pos + kLineBuffer - 1;
    lines.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return lines;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool startsWith(const std::string& line, const char* key) {
  return line.compare(0, strlen(key), key) == 0;
}

// A word as scanf's %s reads it: leading blanks skipped, up to the next blank, at most max
// characters. False (value unchanged) when there is none.
bool wordAt(const std::string& line, size_t pos, std::string* value, size_t max = kMaxSetting) {
  while (pos < line.size() && isBlank(line[pos]))
    pos++;
  size_t end = pos;
  while (end < line.size() && !isBlank(line[end]) && end - pos < max)
    end++;
  if (end == pos) return false;
  *value = line.substr(pos, end - pos);
  return true;
}

// The line without its line end, as it is quoted in messages.
std::string chomp(const std::string& line) {
  size_t end = line.size();
  while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r'))
    end--;
  return line.substr(0, end);
}

// A C string literal for any text: paths and host names reach the source as data, never as
// code, whatever characters they hold.
std::string literal(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      out += format("\\%03o", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

bool oneOf(const std::string& value, const char* const* names) {
  for (; *names; names++)
    if (value == *names) return true;
  return false;
}

const char* const kSiemensTypes[] = {"S7_200",  "S7_300", "S7_400",     "S5",
                                     "S7_1200", "LOGO",   "PLC_TYPE_7", nullptr};
const char* const kSiemensOrgs[] = {"ORG_DB",   "ORG_M", "ORG_E", "ORG_A",
                                    "ORG_PEPA", "ORG_Z", "ORG_T", nullptr};
const char* const kDaveSpeeds[] = {"daveSpeed9k",   "daveSpeed19k",   "daveSpeed187k",
                                   "daveSpeed500k", "daveSpeed1500k", "daveSpeed45k",
                                   "daveSpeed93k",  nullptr};
const char* const kDaveAreas[] = {"daveSD",      "daveInputs", "daveOutputs", "daveFlags",
                                  "daveDB",      "daveDI",     "daveLocal",   "daveV",
                                  "daveCounter", "daveTimer",  nullptr};

// A decimal integer that makes up all of text: an optional sign, then digits. Values beyond int
// are clamped so that the range checks see them as out of range.
enum NumberResult { kNoNumber, kNumber, kGarbage };
NumberResult parseNumber(const std::string& text, int* value) {
  if (text.empty()) return kNoNumber;
  size_t pos = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') negative = text[pos++] == '-';
  if (pos >= text.size()) return kGarbage;
  long long v = 0;
  for (; pos < text.size(); pos++) {
    if (text[pos] < '0' || text[pos] > '9') return kGarbage;
    if (v < 10000000000LL) v = v * 10 + (text[pos] - '0');
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  *value = static_cast<int>(v);
  return kNumber;
}

// The key=value words of a cycle or slave line, up to a word that starts a comment. The first
// of a repeated key counts; words without '=' (the "cycle1" in front) carry nothing.
using Fields = std::map<std::string, std::string>;
Fields fieldsOf(const std::string& line) {
  Fields fields;
  size_t pos = 0;
  std::string word;
  while (wordAt(line, pos, &word)) {
    pos = line.find(word, pos) + word.size();
    if (word[0] == '#') break;
    size_t eq = word.find('=');
    if (eq != std::string::npos) fields.emplace(word.substr(0, eq), word.substr(eq + 1));
  }
  return fields;
}

// Targets name macros, files and programs: a C identifier keeps all three sound.
bool isIdentifier(const std::string& text) {
  if (text.empty() || isdigit(static_cast<unsigned char>(text[0]))) return false;
  for (unsigned char ch : text)
    if (!isalnum(ch) && ch != '_') return false;
  return true;
}

// One read cycle of a project file: the fields its kind uses, and its block of the image.
struct Cycle {
  int slave = -1;
  int function = -1, startAdr = -1, num = -1;  // Modbus
  std::string area;                            // Siemens: org; PPI: area
  int dbnum = -1, start = -1, len = -1;        // Siemens, PPI
  long long base = 0;
  int bytes = 0;
};

// A PLC connection of a Siemens TCP daemon.
struct SiemensSlave {
  int number = -1;
  std::string adr, type;
  int fetchWrite = 1, function = -1, rackSlot = -1;
  int port = 102;  // port= (not in the template) reaches a PLC behind a gateway
};

// Settings shared by every kind.
struct Common {
  std::string target;
  std::string sharedMemory;
  std::string mailbox;
  std::string eventHost;
  int eventPort = -1;
  bool hasEventLog() const { return eventPort != -1; }
};

// One project file, read once and checked; the header and the source come from this alone.
struct Project {
  Common c;
  std::vector<Cycle> cycles;
  otImageStatus image{0, 0};  // the blocks from 0, the counters and the status area
  // Modbus
  int communication = 0;  // 1 serial, 2 TCP
  std::string tty, tcpadr;
  int baudrate = 0, rtscts = 1, parity = 0, protocol = 0, tcpport = 502;
  // Siemens TCP
  std::vector<SiemensSlave> slaves;
  // Siemens TCP, PPI
  int idletime = 0;
  // PPI
  std::string daveSpeed = "daveSpeed187k";
};

// Generation state: what is printed, and the failure that ends it.
class Generator {
 public:
  Generator(const char* path, const std::string& text, hxDaemonFiles* out)
      : path_(path), lines_(splitLines(text)), out_(out) {}

 protected:
  std::string path_;
  std::vector<std::string> lines_;
  hxDaemonFiles* out_;
  Project p;

  void print(const std::string& text) { out_->log += text; }
  int fail(const std::string& message) {
    out_->log += message;
    return -1;
  }
  int missing(const std::string& line) {
    return fail(format("parameter missing in: %s\n", chomp(line).c_str()));
  }
  int outOfRange(const std::string& line) {
    return fail(format("parameter out of range in: %s\n", chomp(line).c_str()));
  }
  int notANumber(const std::string& line) {
    return fail(format("not a number in: %s\n", chomp(line).c_str()));
  }

  // A setting in the first column whose value is a number; a value with anything else in its
  // first word ("1x") fails, a setting without a value leaves value as it was.
  int intSetting(const std::string& line, const char* key, int* value) {
    if (!startsWith(line, key)) return 0;
    std::string word;
    if (!wordAt(line, strlen(key), &word)) return 0;
    return parseNumber(word, value) == kNumber ? 0 : notANumber(line);
  }
  void wordSetting(const std::string& line, const char* key, std::string* value) {
    if (startsWith(line, key)) wordAt(line, strlen(key), value);
  }

  // A numeric field of a cycle or slave line: def when absent or empty (*absent set), a failure
  // when it is not a number.
  int numberField(const Fields& f, const char* key, int* value, const std::string& line,
                  bool* absent = nullptr) {
    auto it = f.find(key);
    NumberResult r = it == f.end() ? kNoNumber : parseNumber(it->second, value);
    if (r == kGarbage) return notANumber(line);
    if (r == kNoNumber && absent != nullptr) *absent = true;
    return 0;
  }
  static std::string textField(const Fields& f, const char* key) {
    auto it = f.find(key);
    return it == f.end() ? std::string() : it->second;
  }

  // The cycles of the byte-block kinds (Siemens, PPI): slave, dbnum, start and len, and the
  // memory area under areaKey (one of areas). A block ends at address 65535 at the most and
  // holds at most maxLen bytes; defined (when given) tells whether the cycle's slave exists.
  int byteCycles(const char* areaKey, const char* const* areas, int minSlave, int maxSlave,
                 int maxLen, const std::function<bool(const Cycle&)>& defined) {
    for (const std::string& line : lines_) {
      if (!startsWith(line, "cycle")) continue;
      Fields f = fieldsOf(line);
      Cycle cy;
      bool absent = false;
      if (numberField(f, "slave", &cy.slave, line, &absent) < 0 ||
          numberField(f, "dbnum", &cy.dbnum, line, &absent) < 0 ||
          numberField(f, "start", &cy.start, line, &absent) < 0 ||
          numberField(f, "len", &cy.len, line, &absent) < 0)
        return -1;
      cy.area = textField(f, areaKey);
      if (absent || cy.area.empty()) return missing(line);
      if (cy.slave < minSlave || cy.slave > maxSlave || !oneOf(cy.area, areas) || cy.dbnum < 0 ||
          cy.dbnum > 65535 || cy.start < 0 || cy.start > 65535 || cy.len < 1 || cy.len > maxLen ||
          cy.start + cy.len > 65536)
        return outOfRange(line);
      if (defined && !defined(cy))
        return fail(format("undefined slave in: %s\n", chomp(line).c_str()));
      cy.bytes = cy.len;
      p.cycles.push_back(cy);
    }
    return 0;
  }

  // The settings of every kind: target, process image, mailbox and event log.
  int commonSetting(const std::string& line) {
    wordSetting(line, "target=", &p.c.target);
    wordSetting(line, "shared_memory=", &p.c.sharedMemory);
    wordSetting(line, "mailbox=", &p.c.mailbox);
    if (!startsWith(line, "eventlog")) return 0;
    Fields f = fieldsOf(line);
    bool absent = false;
    int port = -1;
    if (numberField(f, "port", &port, line, &absent) < 0) return -1;
    if (absent) return 0;
    if (port < 1 || port > 65535) return outOfRange(line);
    p.c.eventPort = port;
    p.c.eventHost = textField(f, "host");
    return 0;
  }

  int checkTarget() {
    if (isIdentifier(p.c.target)) return 0;
    return fail(format("target is not a C identifier: %s\n", p.c.target.c_str()));
  }

  // Places the blocks of the cycles, the counters and the status area.
  int layout() {
    long long offset = 0;
    for (Cycle& cy : p.cycles) {
      cy.base = offset;
      offset += cy.bytes;
    }
    p.image = otImageStatus(offset, (long long)p.cycles.size());
    if (p.image.imageSize() > INT_MAX)
      return fail(format("shared memory size %lld is too large\n", p.image.imageSize()));
    return 0;
  }

  // Siemens TCP and PPI daemons are written to the working directory under their target.
  void namedByTarget(const std::string& target) {
    out_->headerPath = target + ".h";
    out_->sourcePath = target + ".cpp";
    out_->programName = target;
  }

  // The header: the blocks (Modbus blocks also give their count of coils or registers), the
  // counters and the status area.
  void header(const char* kind, bool counts) {
    std::string& h = out_->header;
    const char* t = p.c.target.c_str();
    h += format("// %s Signal assignment of %s\n", kind, t);
    h += format("#define %s_SHARED_MEMORY %s\n", t, literal(p.c.sharedMemory).c_str());
    h += format("#define %s_MAILBOX %s\n", t, literal(p.c.mailbox).c_str());
    int k = 0;
    for (const Cycle& cy : p.cycles) {
      k++;
      h += format("\n#define %s_CYCLE%d_BASE %lld\n", t, k, cy.base);
      if (counts) h += format("#define %s_CYCLE%d_NUM %d\n", t, k, cy.num);
      h += format("#define %s_CYCLE%d_NUM_BYTES %d\n", t, k, cy.bytes);
    }
    long long c = p.image.counterBase();
    h += "\n// 16-bit counters in host byte order; they start again at 0 after 32767.\n";
    h += format("#define %s_LIFE_COUNTER_BASE %lld\n", t, c + otImageStatus::LIFE_COUNTER);
    h += format("#define %s_READ_ERROR_COUNT_BASE %lld\n", t, c + otImageStatus::READ_ERROR_COUNT);
    h +=
        format("#define %s_WRITE_ERROR_COUNT_BASE %lld\n", t, c + otImageStatus::WRITE_ERROR_COUNT);
    h += "\n"
         "// Status: whether the values of a block are fresh. Per cycle: STATUS (0 not read yet,\n"
         "// 1 last read good, 2 last read failed), FAILURES (failed reads in a row), GOOD_TIME\n"
         "// (last good read); for the daemon: PASS_GOOD_TIME (the last pass in which every cycle\n"
         "// read good), the totals, and STATUS_MARK and STATUS_CYCLES, which end the image.\n"
         "// Field sizes, byte order and time base: otimagestatus.h of otkit.\n";
    h += format("#define %s_STATUS_BASE %lld\n", t, p.image.statusBase());
    for (size_t i = 0; i < p.cycles.size(); i++) {
      long long r = p.image.cycleRecord((long long)i + 1);
      h += format("#define %s_CYCLE%zu_STATUS %lld\n", t, i + 1, r + otImageStatus::CYCLE_STATE);
      h += format("#define %s_CYCLE%zu_FAILURES %lld\n", t, i + 1,
                  r + otImageStatus::CYCLE_FAILURES);
      h += format("#define %s_CYCLE%zu_GOOD_TIME %lld\n", t, i + 1,
                  r + otImageStatus::CYCLE_GOOD_TIME);
    }
    long long d = p.image.passRecord();
    h += format("#define %s_PASS_GOOD_TIME %lld\n", t, d + otImageStatus::PASS_GOOD_TIME);
    h += format("#define %s_PASS_COUNT %lld\n", t, d + otImageStatus::PASS_COUNT);
    h += format("#define %s_READ_ERROR_TOTAL %lld\n", t, d + otImageStatus::READ_ERROR_TOTAL);
    h += format("#define %s_WRITE_ERROR_TOTAL %lld\n", t, d + otImageStatus::WRITE_ERROR_TOTAL);
    h += format("#define %s_STATUS_MARK %lld\n", t, d + otImageStatus::STATUS_MARK);
    h += format("#define %s_STATUS_CYCLES %lld\n", t, d + otImageStatus::STATUS_CYCLES);
    h += format("\n#define %s_SHARED_MEMORY_SIZE %lld\n", t, p.image.imageSize());
  }

  void echoEventLog() {
    if (p.c.hasEventLog())
      print(format("eventlog host=%s port=%d\n", p.c.eventHost.c_str(), p.c.eventPort));
  }

  // The head of every source: what it is, and what does the work.
  void sourceStart(const char* what, const char* tool) {
    std::string& s = out_->source;
    s += format("// %s acquisition daemon, generated by %s from %s\n", what, tool, path_.c_str());
    s += "// Its read cycles and its device; otDaemonRuntime (otkit) does the rest: the passes "
         "over\n"
         "// the cycles, the counters and status of the process image, the write requests of the\n"
         "// mailbox, one lock for every bus transaction, and the watchdog.\n"
         "// Attention: this program must be run as super user\n";
  }

  // The table of the read cycles: per cycle its block, then the fields named (row's text).
  void cycleTable(const char* fields, const std::function<std::string(size_t, const Cycle&)>& row) {
    if (p.cycles.empty()) return;
    std::string& s = out_->source;
    s += format("\n// block in the image, its size; %s\n", fields);
    s += "static const otDaemonCycle cycles[] = {\n";
    for (size_t i = 0; i < p.cycles.size(); i++)
      s += "  {" + row(i, p.cycles[i]) + "},\n";
    s += "};\n";
  }

  // One line of the configuration in main.
  void setting(const char* name, const std::string& value) {
    out_->source += format("  config.%-12s= %s;\n", name, value.c_str());
  }

  // main up to the settings of the kind: the image, the mailbox, the cycles, the event log.
  void mainStart() {
    out_->source +=
        "\nint main(int ac, char **av)\n"
        "{\n"
        "  otDaemonConfig config;\n"
        "  (void) ac;\n";
    setting("image", literal(p.c.sharedMemory));
    setting("imageSize", format("%lld", p.image.imageSize()));
    setting("mailbox", literal(p.c.mailbox));
    setting("target", literal(p.c.target));
    if (!p.cycles.empty()) {
      setting("cycles", "cycles");
      setting("cycleCount", format("%zu", p.cycles.size()));
    }
    if (p.c.hasEventLog()) {
      setting("eventHost", literal(p.c.eventHost));
      setting("eventPort", format("%d", p.c.eventPort));
    }
  }

  // The rest of main: the device (its declaration) handed to the runtime with the settings.
  void mainEnd(const std::string& device) {
    out_->source += "  " + device + "\n" +
                    "  return otDaemonRuntime(config, device).main(av[0]);\n"
                    "}\n";
  }
};

// ---------------------------------------------------------------------------------------
class ModbusGenerator : public Generator {
 public:
  using Generator::Generator;

  int run() {
    if (parse() < 0) return -1;
    print(format("target=%s\n", p.c.target.c_str()));
    print(format("shared_memory=%s\n", p.c.sharedMemory.c_str()));
    print(format("mailbox=%s\n", p.c.mailbox.c_str()));
    if (p.communication == 1)
      print("communication=serial\n");
    else if (p.communication == 2)
      print("communication=socket\n");
    else
      return fail("undefined communication -> exit\n");
    print(format("tty=%s\n", p.tty.c_str()));
    print(format("baudrate=%d\n", p.baudrate));
    print(format("rtscts=%d\n", p.rtscts));
    print(format("parity=%d\n", p.parity));
    print(format("protocol=%d\n", p.protocol));
    print(format("tcpadr=%s\n", p.tcpadr.c_str()));
    print(format("tcpport=%d\n", p.tcpport));
    echoEventLog();
    if (checkTarget() < 0) return -1;
    // A daemon that connects to port 0 or beyond 65535 fails every pass.
    if (tcp() && (p.tcpport < 1 || p.tcpport > 65535))
      return fail(format("tcpport %d is out of range (1 to 65535)\n", p.tcpport));
    if (cycles() < 0 || layout() < 0) return -1;
    header("Modbus", true);
    return source();
  }

 private:
  bool tcp() const { return p.communication == 2; }

  int parse() {
    // The project file's name, without directory and without every ".mkmodbus".
    std::string name =
        path_.substr(path_.rfind('/') == std::string::npos ? 0 : path_.rfind('/') + 1);
    for (size_t pos; (pos = name.find(".mkmodbus")) != std::string::npos;)
      name.erase(pos, 9);
    p.c.target = name;
    for (const std::string& line : lines_) {
      if (commonSetting(line) < 0) return -1;
      if (startsWith(line, "communication="))
        p.communication = line.find("socket") != std::string::npos ? 2 : 1;
      wordSetting(line, "tty=", &p.tty);
      wordSetting(line, "tcpadr=", &p.tcpadr);
      if (intSetting(line, "baudrate=", &p.baudrate) < 0 ||
          intSetting(line, "rtscts=", &p.rtscts) < 0 ||
          intSetting(line, "parity=", &p.parity) < 0 ||
          intSetting(line, "protocol=", &p.protocol) < 0 ||
          intSetting(line, "tcpport=", &p.tcpport) < 0)
        return -1;
    }
    return 0;
  }

  int cycles() {
    for (const std::string& line : lines_) {
      if (!startsWith(line, "cycle")) continue;
      Fields f = fieldsOf(line);
      Cycle cy;
      bool absent = false;
      if (numberField(f, "slave", &cy.slave, line, &absent) < 0 ||
          numberField(f, "function", &cy.function, line, &absent) < 0 ||
          numberField(f, "start_adr", &cy.startAdr, line, &absent) < 0 ||
          numberField(f, "num_register", &cy.num, line, &absent) < 0)
        return -1;
      if (absent) return missing(line);
      // Only the four read functions make sense in a read cycle (any other code would be
      // sent to the device as a write), a count beyond one reply can never be read, and a
      // block that runs past address 65535 is refused by every device.
      bool bits = cy.function == 1 || cy.function == 2;
      if (cy.slave < 0 || cy.slave > 255 || cy.function < 1 || cy.function > 4 || cy.startAdr < 0 ||
          cy.startAdr > 65535 || cy.num < 1 || cy.num > (bits ? 2000 : 125) ||
          cy.startAdr + cy.num > 65536)
        return outOfRange(line);
      cy.bytes = bits ? (cy.num + 7) / 8 : cy.num * 2;
      p.cycles.push_back(cy);
    }
    return 0;
  }

  int source() {
    const char* t = p.c.target.c_str();
    bool ascii = p.protocol == 1 && !tcp();
    int baud = p.baudrate < 1 ? 9600 : p.baudrate;
    // Below 100 baud the divisor baudrate / 100 would be 0.
    int divisor = baud / 100 < 1 ? 1 : baud / 100;
    const char* par = p.parity == 1 ? "ODD" : p.parity == 2 ? "EVEN" : "NONE";
    std::string headerName = out_->headerPath.substr(
        out_->headerPath.rfind('/') == std::string::npos ? 0 : out_->headerPath.rfind('/') + 1);

    sourceStart("Modbus", "mkmodbus");
    std::string& s = out_->source;
    s += "#include \"otdaemon.h\"\n";
    // The header is included by the name it was written under, which a target= setting
    // does not change.
    s += format("#include %s\n", literal(headerName).c_str());
    s += "\n";
    s += format("#define MODBUS_IDLETIME (4*1000)/%d\n", divisor);
    if (!tcp()) s += format("#define SERIAL_DEVICE   %s\n", literal(p.tty).c_str());
    cycleTable("slave, function, start address, coils or registers",
               [&](size_t i, const Cycle& cy) {
                 return format("%s_CYCLE%zu_BASE, %s_CYCLE%zu_NUM_BYTES, %d, %d, 0, %d, %d", t,
                               i + 1, t, i + 1, cy.slave, cy.function, cy.startAdr, cy.num);
               });
    mainStart();
    setting("emptyPassMs", "MODBUS_IDLETIME");
    setting("watchdogMs", "60000");
    if (tcp())
      mainEnd(format("otModbusDaemonDevice device(%s, %d, MODBUS_IDLETIME);",
                     literal(p.tcpadr).c_str(), p.tcpport));
    else
      mainEnd(
          format("otModbusDaemonDevice device(SERIAL_DEVICE, B%d, %d, otSerial::%s, "
                 "otModbus::%s, MODBUS_IDLETIME);",
                 baud, p.rtscts, par, ascii ? "MODBUS_ASCII" : "MODBUS_RTU"));
    return 0;
  }
};

// ---------------------------------------------------------------------------------------
class SiemensGenerator : public Generator {
 public:
  using Generator::Generator;

  int run() {
    p.c.target = "siemensdaemon";
    p.idletime = 100;
    for (const std::string& line : lines_) {
      if (commonSetting(line) < 0 || intSetting(line, "idletime=", &p.idletime) < 0) return -1;
      if (startsWith(line, "slave=")) print(line);
    }
    print(format("target=%s\n", p.c.target.c_str()));
    print(format("shared_memory=%s\n", p.c.sharedMemory.c_str()));
    print(format("mailbox=%s\n", p.c.mailbox.c_str()));
    echoEventLog();
    if (checkTarget() < 0) return -1;
    namedByTarget(p.c.target);
    if (slaves() < 0 || cycles() < 0 || layout() < 0) return -1;
    header("Siemens", false);
    return source();
  }

 private:
  int slaves() {
    for (const std::string& line : lines_) {
      if (!startsWith(line, "slave=")) continue;
      Fields f = fieldsOf(line);
      SiemensSlave sl;
      bool absent = false;
      if (numberField(f, "slave", &sl.number, line, &absent) < 0 ||
          numberField(f, "fetch_write", &sl.fetchWrite, line) < 0 ||
          numberField(f, "function", &sl.function, line) < 0 ||
          numberField(f, "rack_slot", &sl.rackSlot, line) < 0 ||
          numberField(f, "port", &sl.port, line) < 0)
        return -1;
      sl.adr = textField(f, "adr");
      sl.type = textField(f, "type");
      if (absent || sl.adr.empty() || sl.type.empty()) return missing(line);
      // The slave number indexes a table of 256 connections; the type names a constant; the
      // connection keeps at most kMaxAddress characters of the address.
      if (sl.number < 0 || sl.number > 255 || !oneOf(sl.type, kSiemensTypes) ||
          sl.adr.size() > kMaxAddress || sl.port < 1 || sl.port > 65535)
        return outOfRange(line);
      for (const SiemensSlave& other : p.slaves)
        if (other.number == sl.number) return outOfRange(line);
      p.slaves.push_back(sl);
    }
    return 0;
  }

  int cycles() {
    // A cycle without its connection would never be read, and its block never filled.
    return byteCycles("org", kSiemensOrgs, 0, 255, kSiemensMaxLen, [this](const Cycle& cy) {
      for (const SiemensSlave& sl : p.slaves)
        if (sl.number == cy.slave) return true;
      return false;
    });
  }

  int source() {
    const char* t = p.c.target.c_str();
    sourceStart("Siemens TCP", "mksiemens");
    std::string& s = out_->source;
    s += "#include \"otdaemon.h\"\n";
    s += format("\n#define %s_CYCLE_TIME %d\n", t, p.idletime);
    if (!p.slaves.empty()) {
      s += "\n// slave, address, type, fetch/write (1) or S7 (0), function and rack/slot of the\n"
           "// connect block (-1: the type's), port\n"
           "static const otSiemensDaemonPlc plcs[] = {\n";
      for (const SiemensSlave& sl : p.slaves)
        s += format("  {%d, %s, otSiemensTCP::%s, %d, %d, %d, %d},\n", sl.number,
                    literal(sl.adr).c_str(), sl.type.c_str(), sl.fetchWrite, sl.function,
                    sl.rackSlot, sl.port);
      s += "};\n";
    }
    cycleTable("slave, org, data block, start address, length", [](size_t, const Cycle& cy) {
      return format("%lld, %d, %d, otSiemensTCP::%s, %d, %d, %d", cy.base, cy.bytes, cy.slave,
                    cy.area.c_str(), cy.dbnum, cy.start, cy.len);
    });
    mainStart();
    setting("passPauseMs", p.c.target + "_CYCLE_TIME");
    mainEnd(p.slaves.empty() ? "otSiemensDaemonDevice device(nullptr, 0);"
                             : format("otSiemensDaemonDevice device(plcs, %zu);", p.slaves.size()));
    return 0;
  }
};

// ---------------------------------------------------------------------------------------
class PpiGenerator : public Generator {
 public:
  using Generator::Generator;

  int run() {
    p.c.target = "ppidaemon";
    p.tty = "/dev/ttyS0";
    p.baudrate = 9600;
    for (const std::string& line : lines_) {
      if (commonSetting(line) < 0 || intSetting(line, "baudrate=", &p.baudrate) < 0 ||
          intSetting(line, "idletime=", &p.idletime) < 0)
        return -1;
      wordSetting(line, "tty=", &p.tty);
      wordSetting(line, "dave_speed=", &p.daveSpeed);
    }
    print(format("target=%s\n", p.c.target.c_str()));
    print(format("shared_memory=%s\n", p.c.sharedMemory.c_str()));
    print(format("mailbox=%s\n", p.c.mailbox.c_str()));
    print(format("tty=%s\n", p.tty.c_str()));
    print(format("baudrate=%d\n", p.baudrate));
    print(format("dave_speed=%s\n", p.daveSpeed.c_str()));
    echoEventLog();
    if (!oneOf(p.daveSpeed, kDaveSpeeds)) {
      for (const std::string& line : lines_)
        if (startsWith(line, "dave_speed=")) return outOfRange(line);
    }
    if (checkTarget() < 0) return -1;
    namedByTarget(p.c.target);
    if (cycles() < 0 || layout() < 0) return -1;
    header("PPI", false);
    print(format("generate:%s.cpp\n", p.c.target.c_str()));
    return source();
  }

 private:
  int cycles() {
    // Connections exist for the addresses 1 to 31 only.
    return byteCycles("area", kDaveAreas, 1, 31, kPpiMaxLen, nullptr);
  }

  int source() {
    sourceStart("PPI", "mkppi");
    std::string& s = out_->source;
    s += "// libnodave supports Unix only\n"
         "#include \"otdaemon.h\"\n"
         "#ifdef unix\n#define LINUX\n#else\n#define BCCWIN\n#endif\n"
         "extern \"C\" {\n#include \"setport.h\"\n#include \"nodave.h\"\n}\n\n";
    s += format("#define IDLETIME %d\n", p.idletime);
    s += format("#define SERIAL_DEVICE %s\n", literal(p.tty).c_str());
    s += format("#define BAUDRATE \"%d\"\n", p.baudrate);
    s += "\nstatic daveConnection *dc[32+1];\n"
         "\n"
         "// The line, and a connection to every station address.\n"
         "static int ppiOpen()\n"
         "{\n"
         "  _daveOSserialType fds;\n"
         "  daveInterface *di;\n"
         "  int adr;\n"
         "  fds.rfd = setPort(SERIAL_DEVICE, BAUDRATE, 'E');\n"
         "  fds.wfd = fds.rfd;\n"
         "  if(fds.rfd <= 0) return -1;\n";
    s += format("  di = daveNewInterface(fds, \"IF1\", 0, daveProtoPPI, %s);\n",
                p.daveSpeed.c_str());
    s += "  for(adr=1; adr<32; adr++) dc[adr] = daveNewConnection(di, adr, 0, 0);\n"
         "  return 0;\n"
         "}\n"
         "\n"
         "static int ppiRead(int slave, int area, int dbnum, int start, int len, unsigned char "
         "*data)\n"
         "{\n"
         "  return daveReadBytes(dc[slave], area, dbnum, start, len, data);\n"
         "}\n"
         "\n"
         "static int ppiWrite(int slave, int area, int dbnum, int start, int len,\n"
         "                    const unsigned char *data)\n"
         "{\n"
         "  return daveWriteBytes(dc[slave], area, dbnum, start, len, const_cast<unsigned char "
         "*>(data));\n"
         "}\n"
         "\n"
         "static const otPPIDaemonCalls ppi = {ppiOpen, ppiRead, ppiWrite, daveIsUnreachable};\n";
    cycleTable("station, area, data block, start address, length", [](size_t, const Cycle& cy) {
      return format("%lld, %d, %d, %s, %d, %d, %d", cy.base, cy.bytes, cy.slave, cy.area.c_str(),
                    cy.dbnum, cy.start, cy.len);
    });
    mainStart();
    setting("passPauseMs", "IDLETIME");
    setting("watchdogMs", "5000");
    mainEnd("otPPIDaemonDevice device(ppi);");
    return 0;
  }
};

std::string baseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int hxGenerate(int kind, const char* path, const std::string& text, hxDaemonFiles* out) {
  *out = hxDaemonFiles();
  std::string p = path ? path : "";
  int ret = -1;
  if (kind == HX_DAEMON_MODBUS) {
    std::string stem = p;
    size_t ext = stem.find(".mkmodbus");
    if (ext != std::string::npos) stem.erase(ext, 9);
    out->headerPath = stem + ".h";
    out->sourcePath = stem + ".cpp";
    // The program is named by the project file's name up to its first dot.
    std::string name = baseName(p);
    out->programName = name.substr(0, name.find('.'));
    if (out->programName.empty()) out->programName = "modbusdaemon";
    ret = ModbusGenerator(p.c_str(), text, out).run();
  } else if (kind == HX_DAEMON_SIEMENS_TCP) {
    ret = SiemensGenerator(p.c_str(), text, out).run();
  } else if (kind == HX_DAEMON_PPI) {
    ret = PpiGenerator(p.c_str(), text, out).run();
  }
  if (ret < 0) {
    out->header.clear();
    out->source.clear();
  }
  return ret;
}

namespace {

bool writeFile(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  return fclose(f) == 0 && ok;
}

int exitOnFailure(int ret) {
  if (ret < 0) {
    fflush(stdout);
    exit(-1);
  }
  return ret;
}

}  // namespace

int hxRunGenerator(int kind, const char* path, hxDaemonFiles* result) {
  hxDaemonFiles local;
  hxDaemonFiles* out = result ? result : &local;
  std::string text;
  FILE* f = path ? fopen(path, "r") : nullptr;
  if (f == nullptr) {
    printf("could not open %s\n", path ? path : "");
    return -1;
  }
  char buf[8192];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
    text.append(buf, n);
  bool readError = ferror(f) != 0;
  fclose(f);
  if (readError) {
    printf("could not open %s\n", path);
    return -1;
  }
  int ret = hxGenerate(kind, path, text, out);
  fputs(out->log.c_str(), stdout);
  if (ret < 0) return -1;
  if (!writeFile(out->headerPath, out->header)) {
    printf("could not write %s\n", out->headerPath.c_str());
    return -1;
  }
  if (!writeFile(out->sourcePath, out->source)) {
    printf("could not write %s\n", out->sourcePath.c_str());
    return -1;
  }
  return 0;
}

int gmodbus(const char* path) {
  return exitOnFailure(hxRunGenerator(HX_DAEMON_MODBUS, path));
}
int gsiemens(const char* path) {
  return exitOnFailure(hxRunGenerator(HX_DAEMON_SIEMENS_TCP, path));
}
int gppi(const char* path) {
  return exitOnFailure(hxRunGenerator(HX_DAEMON_PPI, path));
}
