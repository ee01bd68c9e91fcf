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

namespace {

// Settings and lines longer than these are read the way a fixed-size line buffer reads them.
const size_t kLineBuffer = 64 * 1024;
const size_t kMaxSetting = 4095;
const size_t kMaxAddress = 100;

// The generated daemons take any mailbox message up to this size, so that every request a
// device client accepts is served and an oversized foreign message cannot block the queue.
const int kMailboxBuffer = 65536;

// Largest block one generated Siemens fetch reads (its data buffer).
const int kSiemensMaxLen = 4096;
// Largest block one generated PPI cycle reads.
const int kPpiMaxLen = 256;

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

// The status area behind the counters: one record per read cycle, then the daemon's record,
// whose last 8 bytes (a mark and the number of cycles) end the image, so that a client finds
// the area from the image size alone. The device clients read the same layout.
const int kCycleRecord = 16;  // state (1), 3 spare, failures in a row (4), last good read (8)
const int kPassRecord = 28;   // good pass (8), passes, read errors, write errors, mark, cycles
const int kCounters = 6;      // life counter, read errors, write errors: 2 bytes each

// Offsets of the process image: the blocks from 0, the counters, the status area.
struct Layout {
  long long counters = 0;
  long long status = 0;
  long long pass = 0;
  long long size = 0;
};

// One project file, read once and checked; the header and the source come from this alone.
struct Project {
  Common c;
  std::vector<Cycle> cycles;
  Layout image;
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
    p.image.counters = offset;
    p.image.status = offset + kCounters;
    p.image.pass = p.image.status + (long long)kCycleRecord * (long long)p.cycles.size();
    p.image.size = p.image.pass + kPassRecord;
    if (p.image.size > INT_MAX)
      return fail(format("shared memory size %lld is too large\n", p.image.size));
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
    long long c = p.image.counters;
    h += "\n// 16-bit counters in host byte order; they start again at 0 after 32767.\n";
    h += format("#define %s_LIFE_COUNTER_BASE %lld\n", t, c);
    h += format("#define %s_READ_ERROR_COUNT_BASE %lld\n", t, c + 2);
    h += format("#define %s_WRITE_ERROR_COUNT_BASE %lld\n", t, c + 4);
    h += "\n"
         "// Status: whether the values of a block are fresh. Fields of more than one byte are\n"
         "// stored most significant byte first; times are seconds since 1970-01-01 UTC, 0 for\n"
         "// never; counts stop at 0xFFFFFFFF instead of starting again.\n"
         "// Per cycle: STATUS (1 byte: 0 not read yet, 1 last read good, 2 last read failed),\n"
         "// FAILURES (4 bytes: failed reads in a row), GOOD_TIME (8 bytes: last good read).\n"
         "// Daemon: PASS_GOOD_TIME (8 bytes: the end of the last pass in which every cycle read\n"
         "// good), PASS_COUNT, READ_ERROR_TOTAL, WRITE_ERROR_TOTAL (4 bytes each), STATUS_MARK\n"
         "// (the 4 characters OTS1) and STATUS_CYCLES (4 bytes: the number of cycles), which end\n"
         "// the image.\n";
    h += format("#define %s_STATUS_BASE %lld\n", t, p.image.status);
    for (size_t i = 0; i < p.cycles.size(); i++) {
      long long r = p.image.status + (long long)kCycleRecord * (long long)i;
      h += format("#define %s_CYCLE%zu_STATUS %lld\n", t, i + 1, r);
      h += format("#define %s_CYCLE%zu_FAILURES %lld\n", t, i + 1, r + 4);
      h += format("#define %s_CYCLE%zu_GOOD_TIME %lld\n", t, i + 1, r + 8);
    }
    long long d = p.image.pass;
    h += format("#define %s_PASS_GOOD_TIME %lld\n", t, d);
    h += format("#define %s_PASS_COUNT %lld\n", t, d + 8);
    h += format("#define %s_READ_ERROR_TOTAL %lld\n", t, d + 12);
    h += format("#define %s_WRITE_ERROR_TOTAL %lld\n", t, d + 16);
    h += format("#define %s_STATUS_MARK %lld\n", t, d + 20);
    h += format("#define %s_STATUS_CYCLES %lld\n", t, d + 24);
    h += format("\n#define %s_SHARED_MEMORY_SIZE %lld\n", t, p.image.size);
  }

  void echoEventLog() {
    if (p.c.hasEventLog())
      print(format("eventlog host=%s port=%d\n", p.c.eventHost.c_str(), p.c.eventPort));
  }

  // Source text shared by the kinds.
  void sourceStart(const char* what, const char* tool) {
    std::string& s = out_->source;
    s += format("// %s acquisition daemon, generated by %s from %s\n", what, tool, path_.c_str());
    s += "// Template: one field bus; the values of a fixed list of read cycles are copied into\n"
         "// a shared-memory process image, write requests are taken from a mailbox, and one\n"
         "// lock serialises every bus transaction.\n"
         "// Attention: this program must be run as super user\n";
  }

  // The libraries every daemon uses, then the otkit headers (with that of its bus, if any).
  void includes(const char* busHeader) {
    std::string& s = out_->source;
    s += "#include <stdio.h>\n#include <stdlib.h>\n#include <string.h>\n#include <time.h>\n"
         "#include <unistd.h>\n#include <atomic>\n";
    if (busHeader != nullptr) s += format("#include \"%s\"\n", busHeader);
    s += "#include \"otsharedmemory.h\"\n#include \"otmailbox.h\"\n#include \"otthread.h\"\n"
         "#include \"otcutil.h\"\n";
    if (p.c.hasEventLog()) s += "#include \"otevent.h\"\n";
  }

  void eventInit() {
    // Log lines reach a redirected standard output (a log file, a supervisor) at once.
    out_->source += "  setvbuf(stdout, NULL, _IOLBF, 0);\n";
    if (!p.c.hasEventLog()) return;
    std::string host = format("-eventhost=%s", p.c.eventHost.c_str());
    std::string port = format("-eventport=%d", p.c.eventPort);
    std::string prefix = p.c.target + ":";
    out_->source += format("  const char *eventav[3] = {\"\", %s, %s};\n", literal(host).c_str(),
                           literal(port).c_str());
    out_->source += format("  otEventInit(3, eventav, %s);\n", literal(prefix).c_str());
  }

  // A daemon whose image could not be created or attached would count and report into
  // nothing; an older, smaller segment of the same name (left by an earlier release, or
  // created by a display server built with an older header) is the likely cause.
  void imageCheck() {
    out_->source +=
        "  if(shm.status != 0)\n"
        "  {\n"
        "    printf(\"process image unusable (otSharedMemory status %d): is a segment of another "
        "size left under that name? (ipcs -m)\\n\", shm.status);\n"
        "    return 1;\n"
        "  }\n";
  }

  void eventStarting(const char* indent) {
    if (p.c.hasEventLog())
      out_->source +=
          format("%sotEvent(otInfo, \"%%s starting\", %s);\n", indent, literal(p.c.target).c_str());
  }

  // The counters, the status area and the clock, after the declaration of shm.
  void statusCode() {
    std::string& s = out_->source;
    s += format(
        "static int     lifeCounter = 0;\n"
        "static int     readErrorCount = 0;\n"
        "static int     writeErrorCount = 0;\n"
        "\n"
        "// Writes a counter into its 2-byte slot of the process image, in host byte order.\n"
        "static void writeCounter(int base, int value)\n"
        "{\n"
        "  unsigned short v = (unsigned short) value;\n"
        "  shm.write(base, &v, 2);\n"
        "}\n"
        "\n"
        "// The status area (see the header): the state of each read cycle and of the daemon,\n"
        "// so that a display can tell fresh values from stale ones.\n"
        "#define COUNTER_BASE  %lld\n"
        "#define STATUS_BASE   %lld\n"
        "#define PASS_BASE     %lld\n"
        "#define STATUS_CYCLES %d\n"
        "static unsigned char cycleState[STATUS_CYCLES+1];\n"
        "static unsigned int  cycleFailures[STATUS_CYCLES+1];\n"
        "static long long     cycleGoodTime[STATUS_CYCLES+1];\n"
        "static long long     passGoodTime = 0;\n"
        "static unsigned int  passCount = 0;\n"
        "static unsigned int  readErrorTotal = 0;\n"
        "static std::atomic<unsigned int> writeErrorTotal(0);\n"
        "// Set when a write request was dropped because the device stayed out of reach; later\n"
        "// requests are then not held back until the device answers again.\n"
        "static std::atomic<int> writesDropping(0);\n"
        "\n"
        "static void putBig(unsigned char *p, unsigned long long v, int n)\n"
        "{\n"
        "  int i;\n"
        "  for(i = n-1; i >= 0; i--) { p[i] = (unsigned char) v; v >>= 8; }\n"
        "}\n"
        "\n"
        "// Counts that stop at their largest value: a total that starts again would look like\n"
        "// a recovery.\n"
        "static unsigned int saturated(unsigned int v)\n"
        "{\n"
        "  return v == 0xFFFFFFFFu ? v : v + 1;\n"
        "}\n"
        "\n"
        "static long long nowMs()\n"
        "{\n"
        "  struct timespec t;\n"
        "  clock_gettime(CLOCK_MONOTONIC, &t);\n"
        "  return (long long) t.tv_sec * 1000 + t.tv_nsec / 1000000;\n"
        "}\n"
        "\n"
        "// Publishes the outcome of read cycle k (1..STATUS_CYCLES); returns good.\n"
        "static int cycleDone(int k, int good)\n"
        "{\n"
        "  unsigned char record[16] = {0};\n"
        "  if(good)\n"
        "  {\n"
        "    cycleState[k] = 1;\n"
        "    cycleFailures[k] = 0;\n"
        "    cycleGoodTime[k] = (long long) time(NULL);\n"
        "    writesDropping = 0;\n"
        "  }\n"
        "  else\n"
        "  {\n"
        "    cycleState[k] = 2;\n"
        "    cycleFailures[k] = saturated(cycleFailures[k]);\n"
        "    readErrorTotal = saturated(readErrorTotal);\n"
        "  }\n"
        "  record[0] = cycleState[k];\n"
        "  putBig(record+4, cycleFailures[k], 4);\n"
        "  putBig(record+8, (unsigned long long) cycleGoodTime[k], 8);\n"
        "  shm.write(STATUS_BASE + 16*(k-1), record, 16);\n"
        "  return good;\n"
        "}\n"
        "\n"
        "// Publishes the daemon's record after a pass; allGood: every cycle read good.\n"
        "static void passDone(int allGood)\n"
        "{\n"
        "  unsigned char record[28];\n"
        "  if(allGood) passGoodTime = (long long) time(NULL);\n"
        "  putBig(record, (unsigned long long) passGoodTime, 8);\n"
        "  putBig(record+8, passCount, 4);\n"
        "  putBig(record+12, readErrorTotal, 4);\n"
        "  putBig(record+16, writeErrorTotal, 4);\n"
        "  memcpy(record+20, \"OTS1\", 4);\n"
        "  putBig(record+24, STATUS_CYCLES, 4);\n"
        "  shm.write(PASS_BASE, record, 28);\n"
        "}\n"
        "\n"
        "// Counters and status as of a start: nothing read yet, whatever an earlier run left.\n"
        "static void statusInit()\n"
        "{\n"
        "  unsigned char record[16] = {0};\n"
        "  int k;\n"
        "  for(k = 1; k <= STATUS_CYCLES; k++) shm.write(STATUS_BASE + 16*(k-1), record, 16);\n"
        "  passDone(0);\n"
        "  writeCounter(COUNTER_BASE, lifeCounter);\n"
        "  writeCounter(COUNTER_BASE+2, readErrorCount);\n"
        "  writeCounter(COUNTER_BASE+4, writeErrorCount);\n"
        "}\n"
        "\n"
        "// Counts a read cycle that failed in the 16-bit counter.\n"
        "static void readFailed()\n"
        "{\n"
        "  readErrorCount++;\n"
        "  if(readErrorCount >= 256*128) readErrorCount = 0;\n"
        "  writeCounter(COUNTER_BASE+2, readErrorCount);\n"
        "}\n"
        "\n"
        "// Counts a write request that was not carried out; the reader thread calls it.\n"
        "static void writeFailed()\n"
        "{\n"
        "  writeErrorCount++;\n"
        "  if(writeErrorCount >= 256*128) writeErrorCount = 0;\n"
        "  writeCounter(COUNTER_BASE+4, writeErrorCount);\n"
        "  writeErrorTotal = saturated(writeErrorTotal);\n"
        "}\n"
        "\n"
        "// Starts a pass: the life counter says the daemon is alive.\n"
        "static void passStart()\n"
        "{\n"
        "  lifeCounter++;\n"
        "  if(lifeCounter >= 256*128) lifeCounter = 0;\n"
        "  writeCounter(COUNTER_BASE, lifeCounter);\n"
        "}\n"
        "\n"
        "// Ends a pass in which good of the cycles read good.\n"
        "static void passEnd(int good)\n"
        "{\n"
        "  passCount = saturated(passCount);\n"
        "  passDone(good == STATUS_CYCLES);\n"
        "}\n",
        p.image.counters, p.image.status, p.image.pass, (int)p.cycles.size());
  }

  // The watchdog thread of the Modbus and PPI daemons: restarts the program when the read
  // cycles stop counting.
  void watchdog(int periodMs, const char* closeDevice) {
    out_->source += format(
        "\n// Restarts the daemon when the read cycles stop counting.\n"
        "static void *watchdogThread(void *arg)\n"
        "{\n"
        "  int cnt1 = -1;\n"
        "  (void) arg;\n"
        "  while(1)\n"
        "  {\n"
        "    otsleep(%d);\n"
        "    if(cnt1 == watchcnt1) break;\n"
        "    cnt1 = watchcnt1;\n"
        "  }\n"
        "%s"
        "  otsleep(100);\n"
        "#ifdef unix\n"
        "  otexec(av0);\n"
        "#endif\n"
        "  // _exit: the other threads still use the globals that exit() would destroy\n"
        "  fflush(stdout);\n"
        "  _exit(0);\n"
        "  return NULL;\n"
        "}\n",
        periodMs, closeDevice);
  }

  // The start of the mailbox reader loop shared by the kinds: a message of at least minLength
  // bytes in buf, its length in buflen.
  void readerLoopStart(int minLength) {
    out_->source += format(
        "  mbx.clear();\n"
        "  while(1)\n"
        "  {\n"
        "    buflen = mbx.read(buf, sizeof(buf));\n"
        "    if(buflen < 0)\n"
        "    {\n"
        "      printf(\"mbx read failed\\n\");\n"
        "      otsleep(1000);\n"
        "      continue;\n"
        "    }\n"
        "    if(buflen < %d)\n"
        "    {\n"
        "      printf(\"mbx message of %%d bytes ignored\\n\", buflen);\n"
        "      continue;\n"
        "    }\n",
        minLength);
  }

  // Why a write request may wait: the device may be back within the hold time.
  void writeHold() {
    out_->source +=
        "// A write request that fails because the device cannot be reached is tried again\n"
        "// every WRITE_RETRY_MS for up to WRITE_HOLD_MS, so that a short outage loses no\n"
        "// command; then it is dropped and counted as a write error. Requests behind it wait\n"
        "// in the mailbox.\n"
        "#define WRITE_HOLD_MS  30000\n"
        "#define WRITE_RETRY_MS 100\n";
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
    std::string& s = out_->source;
    const char* t = p.c.target.c_str();
    bool ascii = p.protocol == 1 && !tcp();
    int baud = p.baudrate < 1 ? 9600 : p.baudrate;
    // Below 100 baud the divisor baudrate / 100 would be 0.
    int divisor = baud / 100 < 1 ? 1 : baud / 100;
    const char* par = p.parity == 1 ? "ODD" : p.parity == 2 ? "EVEN" : "NONE";
    std::string open =
        format("serial.openDevice(SERIAL_DEVICE,B%d,1,%d,8,1,otSerial::%s)", baud, p.rtscts, par);
    std::string headerName = out_->headerPath.substr(
        out_->headerPath.rfind('/') == std::string::npos ? 0 : out_->headerPath.rfind('/') + 1);

    sourceStart("Modbus", "mkmodbus");
    includes("otmodbus.h");
    // The header is included by the name it was written under, which a target= setting
    // does not change.
    s += format("#include %s\n", literal(headerName).c_str());
    s += "\n";
    s += format("#define MODBUS_IDLETIME (4*1000)/%d\n", divisor);
    s += format("#define SERIAL_DEVICE   %s\n", literal(p.tty).c_str());
    writeHold();
    s += "\n";
    // The telegram buffer holds the longest request a client may post: 256 data bytes in
    // a Modbus/TCP telegram (header, unit, function) or an RTU telegram (address, function,
    // CRC).
    if (ascii)
      s += "otModbus       modbus(1024+1,otModbus::MODBUS_ASCII);\n";
    else
      s += "otModbus       modbus(8+256+2,otModbus::MODBUS_RTU);\n";
    if (tcp())
      s += format("otSocket       sock(%s,%d,1);\n", literal(p.tcpadr).c_str(), p.tcpport);
    else
      s += "otSerial       serial;\n";
    s += format("otSharedMemory shm(%s,%lld);\n", literal(p.c.sharedMemory).c_str(), p.image.size);
    s += format("otMailbox      mbx(%s);\n", literal(p.c.mailbox).c_str());
    s += "otThread       thread;\n"
         "otThread       watchdog;\n"
         "static const char *av0 = \"\";\n"
         "static std::atomic<int> watchcnt1(0);\n";
    statusCode();

    watchdog(60000, tcp() ? "" : "  serial.closeDevice();\n");

    // Mailbox reader: one message is one Modbus request.
    s += "\nstatic void *reader(void *arg)\n"
         "{\n";
    s += format("  static unsigned char buf[%d];\n", kMailboxBuffer);
    s += "  unsigned char reply[256+2];\n"
         "  int buflen, ret, slave, function, rslave, rfunction, refused;\n"
         "  long long giveUp;\n"
         "  (void) arg;\n";
    readerLoopStart(2);
    s += "    // more than one telegram carries: it could never be sent, and is not held\n"
         "    if(buflen - 2 > 256)\n"
         "    {\n"
         "      printf(\"mbx message of %d bytes ignored\\n\", buflen);\n"
         "      writeFailed();\n"
         "      continue;\n"
         "    }\n"
         "    slave    = buf[0];\n"
         "    function = buf[1];\n"
         "    giveUp   = nowMs() + WRITE_HOLD_MS;\n"
         "    while(1)\n"
         "    {\n"
         "      rslave    = slave;\n"
         "      rfunction = function;\n"
         "      thread.lock();\n"
         "      otsleep(MODBUS_IDLETIME);\n"
         "      ret = modbus.write(slave, function, &buf[2], buflen-2);\n"
         "      if(ret >= 0) ret = modbus.response(&rslave, &rfunction, reply);\n"
         "      // an exception reply: the device refused the request, and will again\n"
         "      refused = rfunction == (function | 0x80);\n"
         "      if(refused) ret = -1;\n";
    // Only a failed exchange drops the connection; a successful write reply is a positive
    // byte count and must not cost a reconnect.
    if (tcp()) s += "      if(ret < 0 && !refused) sock.disconnect();\n";
    s += "      otsleep(MODBUS_IDLETIME);\n"
         "      thread.unlock();\n"
         "      if(ret >= 0 || refused || writesDropping || nowMs() >= giveUp) break;\n"
         "      otsleep(WRITE_RETRY_MS);\n"
         "    }\n";
    if (p.c.hasEventLog())
      s += "    if(ret <= 0) otEvent(otWarning, \"modbus.response mbx ret=%d slave=%d "
           "function=%d\", ret, slave, function);\n";
    s += "    if(ret < 0)\n"
         "    {\n"
         "      writeFailed();\n"
         "      if(!refused) writesDropping = 1;\n"
         "    }\n"
         "    else writesDropping = 0;\n"
         "    printf(\"mbx ret=%d slave=%d function=%d buf[2]=%d\\n\", ret, slave, function, "
         "buf[2]);\n"
         "  }\n"
         "  return NULL;\n"
         "}\n";

    // Read cycle.
    s += "\n// Read cycle k into its block at offset; returns 1 for a good read.\n"
         "static int modbusCycle(int k, int offset, int slave, int function, int start_adr, "
         "int num_register)\n"
         "{\n"
         "  unsigned char data[256+1] = {0};\n"
         "  int ret, rslave = slave, rfunction = function;\n"
         "  // the bytes the block of this cycle holds; a reply of another size would shift\n"
         "  // every later block of the image\n"
         "  int expected = (function == 1 || function == 2) ? (num_register+7)/8 : "
         "num_register*2;\n"
         "  if(++watchcnt1 > 10000) watchcnt1 = 0;\n"
         "  otsleep(MODBUS_IDLETIME);\n"
         "  thread.lock();\n"
         "  ret = modbus.request(slave, function, start_adr, num_register);\n"
         "  if(ret >= 0) ret = modbus.response(&rslave, &rfunction, data);\n"
         "  if(ret > 0 && (ret != expected || rslave != slave || rfunction != function))\n"
         "  {\n"
         "    printf(\"cycle reply does not match: ret=%d slave=%d function=%d, expected "
         "%d bytes\\n\", ret, rslave, rfunction, expected);\n"
         "    ret = -1;\n"
         "  }\n";
    if (tcp()) s += "  if(ret < 0) sock.disconnect();\n";
    s += "  thread.unlock();\n"
         "  if(ret > 0)\n"
         "  {\n"
         "    shm.write(offset, data, ret);\n"
         "  }\n"
         "  else\n"
         "  {\n"
         "    readFailed();\n";
    if (p.c.hasEventLog())
      s += "    // once per outage of the cycle, not once per pass\n"
           "    if(cycleState[k] != 2) otEvent(otWarning, \"modbus.response cycle ret=%d "
           "slave=%d function=%d start_adr=%d num_register=%d\", ret, slave, function, "
           "start_adr, num_register);\n";
    s += "  }\n"
         "  printf(\"cycle ret=%d slave=%d function=%d data[0]=%d\\n\", ret, slave, function, "
         "data[0]);\n"
         "  return cycleDone(k, ret > 0);\n"
         "}\n";

    // main
    s += "\nint main(int ac, char **av)\n"
         "{\n"
         "  int good;\n"
         "  (void) ac;\n";
    eventInit();
    imageCheck();
    s += "  av0 = av[0];\n";
    if (!tcp()) {
      s += p.cycles.empty() ? "  int first = 1;\n" : "  int first = 1, ret;\n";
      s += format("  while(%s != 0)\n", open.c_str());
      s += "  {\n"
           "    if(first) printf(\"could not open serial device %s\\n\", SERIAL_DEVICE);\n"
           "    first = 0;\n"
           "    otsleep(1000);\n"
           "  }\n";
    }
    s += "  printf(\"\\n%s starting\\n\", av0);\n";
    eventStarting("  ");
    s += tcp() ? "  modbus.registerSocket(&sock);\n" : "  modbus.registerSerial(&serial);\n";
    s += "  statusInit();\n"
         "  thread.create(reader, NULL);\n"
         "  watchdog.create(watchdogThread, NULL);\n"
         "  // Every cycle is read in every pass, whatever the others did: a device that fails\n"
         "  // neither hides the others nor makes the passes (and the life counter) faster.\n"
         "  while(1)\n"
         "  {\n"
         "    passStart();\n"
         "    good = 0;\n";
    for (size_t i = 0; i < p.cycles.size(); i++) {
      const Cycle& cy = p.cycles[i];
      s += format("    good += modbusCycle(%zu,%s_CYCLE%zu_BASE,%d,%d,%d,%d);\n", i + 1, t, i + 1,
                  cy.slave, cy.function, cy.startAdr, cy.num);
    }
    if (p.cycles.empty())
      s += "    // no read cycles: the pass still takes its time and counts for the watchdog\n"
           "    otsleep(MODBUS_IDLETIME);\n"
           "    if(++watchcnt1 > 10000) watchcnt1 = 0;\n";
    s += "    passEnd(good);\n";
    if (!tcp() && !p.cycles.empty()) {
      s += "    // Nothing answered: the line may have been pulled (an adapter that is plugged in\n"
           "    // again is a new device), so it is opened anew.\n"
           "    if(good == 0)\n"
           "    {\n"
           "      thread.lock();\n"
           "      serial.closeDevice();\n";
      s += format("      ret = %s;\n", open.c_str());
      s += "      thread.unlock();\n"
           "      if(ret != 0) otsleep(1000);\n"
           "    }\n";
    }
    s += "  }\n"
         "  return 0;\n"
         "}\n";
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
    std::string& s = out_->source;
    sourceStart("Siemens TCP", "mksiemens");
    includes("otsiemenstcp.h");
    s += format("\n#define %s_CYCLE_TIME %d\n", p.c.target.c_str(), p.idletime);
    writeHold();
    s += "\n";
    for (const SiemensSlave& sl : p.slaves)
      s +=
          format("otSiemensTCP   slave%d(%s,otSiemensTCP::%s,%d,%d,%d);\n", sl.number,
                 literal(sl.adr).c_str(), sl.type.c_str(), sl.fetchWrite, sl.function, sl.rackSlot);
    s += format("otSharedMemory shm(%s,%lld);\n", literal(p.c.sharedMemory).c_str(), p.image.size);
    s += format("otMailbox      mbx(%s);\n", literal(p.c.mailbox).c_str());
    s += "otThread       thread;\n"
         "otSiemensTCP   *slave_array[256];\n";
    statusCode();

    s += "\n// Mailbox reader: [0] slave, [1] org, [2..3] dbnum, [4..5] start, [6..7] length,\n"
         "// [8] function, [9..] data; 16-bit fields high byte first.\n"
         "static void *reader(void *arg)\n"
         "{\n";
    s += format("  static unsigned char buf[%d];\n", kMailboxBuffer);
    s += "  int buflen, ret, slave, org, dbnr, start_adr, len, function;\n"
         "  long long giveUp;\n"
         "  (void) arg;\n";
    readerLoopStart(9);
    s += "    slave     = buf[0];\n"
         "    org       = buf[1];\n"
         "    dbnr      = buf[2]*256 + buf[3];\n"
         "    start_adr = buf[4]*256 + buf[5];\n"
         "    len       = buf[6]*256 + buf[7];\n"
         "    function  = buf[8];\n"
         "    // the data must be in the message, not behind it\n"
         "    if(len > buflen - 9)\n"
         "    {\n"
         "      printf(\"mbx message of %d bytes announces %d data bytes: ignored\\n\", "
         "buflen, len);\n"
         "      writeFailed();\n"
         "      continue;\n"
         "    }\n"
         "    if(slave >= 0 && slave < 256 && slave_array[slave] != NULL)\n"
         "    {\n"
         "      giveUp = nowMs() + WRITE_HOLD_MS;\n"
         "      while(1)\n"
         "      {\n"
         "        thread.lock();\n"
         "        ret = slave_array[slave]->write(org, dbnr, start_adr, len, &buf[9], "
         "function);\n"
         "        thread.unlock();\n"
         "        // -1: the PLC was not reached; another code is its refusal, which stays\n"
         "        if(ret != -1 || writesDropping || nowMs() >= giveUp) break;\n"
         "        otsleep(WRITE_RETRY_MS);\n"
         "      }\n"
         "      if(ret < 0)\n"
         "      {\n"
         "        printf(\"mbx write ret=%d slave=%d\\n\", ret, slave);\n"
         "        writeFailed();\n"
         "        if(ret == -1) writesDropping = 1;\n"
         "      }\n"
         "      else writesDropping = 0;\n"
         "    }\n"
         "    else\n"
         "    {\n";
    if (p.c.hasEventLog()) s += "      otEvent(otError, \"wrong param send to mailbox\");\n";
    s += "      printf(\"mbx message for slave %d ignored: no such slave\\n\", slave);\n"
         "      writeFailed();\n"
         "    }\n"
         "  }\n"
         "  return NULL;\n"
         "}\n";

    s += "\n// Read cycle k into its block at offset; returns 1 for a good read.\n"
         "static int siemensTCPCycle(int k, int slave, int offset, int org, int dbnr, "
         "int start_adr, int len)\n"
         "{\n";
    s += format("  unsigned char data[%d];\n", kSiemensMaxLen);
    s += "  int ret;\n"
         "  thread.lock();\n"
         "  ret = slave_array[slave]->fetch(org, dbnr, start_adr, len, data);\n"
         "  thread.unlock();\n"
         "  if(ret == len) shm.write(offset, data, len);\n"
         "  else\n"
         "  {\n"
         "    readFailed();\n";
    if (p.c.hasEventLog())
      s += "    // once per outage of the cycle, not once per pass\n"
           "    if(cycleState[k] != 2) otEvent(otWarning, \"fetch ret=%d slave=%d\", ret, "
           "slave);\n";
    s += "    printf(\"E\");\n"
         "    fflush(stdout);\n"
         "  }\n"
         "  return cycleDone(k, ret == len);\n"
         "}\n";

    s += "\nint main(int ac, char **av)\n"
         "{\n"
         "  int i, good;\n"
         "  (void) ac;\n"
         "  (void) av;\n";
    eventInit();
    imageCheck();
    s += "  printf(\"\\n%s starting\\n\", av[0]);\n";
    eventStarting("  ");
    s += "  for(i=0; i<256; i++) slave_array[i] = NULL;\n";
    for (const SiemensSlave& sl : p.slaves) {
      s += format("  slave_array[%d] = &slave%d;\n", sl.number, sl.number);
      if (sl.port != 102) s += format("  slave%d.setPort(%d);\n", sl.number, sl.port);
    }
    s += "  statusInit();\n"
         "  thread.create(reader, NULL);\n"
         "  while(1)\n"
         "  {\n";
    s += format("    otsleep(%s_CYCLE_TIME);\n", p.c.target.c_str());
    s += "    passStart();\n"
         "    good = 0;\n";
    for (size_t i = 0; i < p.cycles.size(); i++) {
      const Cycle& cy = p.cycles[i];
      s += format("    good += siemensTCPCycle(%zu, %d, %lld, otSiemensTCP::%s, %d, %d, %d);\n",
                  i + 1, cy.slave, cy.base, cy.area.c_str(), cy.dbnum, cy.start, cy.len);
    }
    s += "    passEnd(good);\n"
         "  }\n"
         "  return 0;\n"
         "}\n";
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
    std::string& s = out_->source;
    sourceStart("PPI", "mkppi");
    s += "// libnodave supports Unix only\n";
    includes(nullptr);
    s += "#ifdef unix\n#define LINUX\n#else\n#define BCCWIN\n#endif\n"
         "extern \"C\" {\n#include \"setport.h\"\n#include \"nodave.h\"\n}\n\n";
    s += format("#define IDLETIME %d\n", p.idletime);
    s += format("#define SERIAL_DEVICE %s\n", literal(p.tty).c_str());
    s += format("#define BAUDRATE \"%d\"\n", p.baudrate);
    writeHold();
    s += format("otSharedMemory shm(%s,%lld);\n", literal(p.c.sharedMemory).c_str(), p.image.size);
    s += format("otMailbox      mbx(%s);\n", literal(p.c.mailbox).c_str());
    s += "otThread       thread;\n"
         "otThread       watchdog;\n"
         "static daveConnection   *dc[32+1];\n"
         "static daveInterface    *di;\n"
         "static _daveOSserialType fds;\n"
         "static const char *av0 = \"\";\n"
         "static std::atomic<int> watchcnt1(0);\n";
    statusCode();

    watchdog(5000, "");

    s += "\n// Mailbox reader: [0] slave, [1] area, [2..3] dbnum, [4..5] start, [6..7] length,\n"
         "// [8..] data; 16-bit fields high byte first.\n"
         "static void *reader(void *arg)\n"
         "{\n";
    s += format("  static unsigned char buf[%d];\n", kMailboxBuffer);
    s += "  int buflen, ret, slave, area, dbnum, start, len;\n"
         "  long long giveUp;\n"
         "  (void) arg;\n";
    readerLoopStart(8);
    s += "    slave = buf[0];\n"
         "    area  = buf[1];\n"
         "    dbnum = buf[2]*256 + buf[3];\n"
         "    start = buf[4]*256 + buf[5];\n"
         "    len   = buf[6]*256 + buf[7];\n"
         "    // the data must be in the message, not behind it\n"
         "    if(len > 0 && len <= buflen - 8 && slave >= 1 && slave <= 31 && dc[slave] != NULL)\n"
         "    {\n"
         "      giveUp = nowMs() + WRITE_HOLD_MS;\n"
         "      while(1)\n"
         "      {\n"
         "        thread.lock();\n"
         "        ret = daveWriteBytes(dc[slave], area, dbnum, start, len, &buf[8]);\n"
         "        thread.unlock();\n"
         "        // a PLC that did not answer is tried again; a refusal stays\n"
         "        if(ret == 0 || !daveIsUnreachable(ret) || writesDropping || nowMs() >= giveUp) "
         "break;\n"
         "        otsleep(WRITE_RETRY_MS);\n"
         "      }\n"
         "      if(ret != 0)\n"
         "      {\n"
         "        printf(\"daveWriteBytes ret=%d\\n\", ret);\n"
         "        writeFailed();\n"
         "        if(daveIsUnreachable(ret)) writesDropping = 1;\n";
    if (p.c.hasEventLog())
      s += "        otEvent(otWarning, \"daveWriteBytes ret=%d slave=%d\", ret, slave);\n";
    s += "      }\n"
         "      else writesDropping = 0;\n"
         "    }\n"
         "    else writeFailed();\n"
         "  }\n"
         "  return NULL;\n"
         "}\n";

    s += "\n// Read cycle k into its block at offset; returns 1 for a good read.\n"
         "static int ppiCycle(int k, int offset, daveConnection *dc, int area, int dbnum, "
         "int start, int len)\n"
         "{\n"
         "  unsigned char data[1024+1];\n"
         "  int ret;\n"
         "  if(++watchcnt1 > 10000) watchcnt1 = 0;\n"
         "  thread.lock();\n"
         "  ret = daveReadBytes(dc, area, dbnum, start, len, data);\n"
         "  thread.unlock();\n"
         "  if(ret == 0)\n"
         "  {\n"
         "    shm.write(offset, data, len);\n"
         "  }\n"
         "  else\n"
         "  {\n"
         "    printf(\"daveReadBytes ret=%d\\n\", ret);\n"
         "    readFailed();\n";
    if (p.c.hasEventLog())
      s += "    // once per outage of the cycle, not once per pass\n"
           "    if(cycleState[k] != 2) otEvent(otWarning, \"daveReadBytes ret=%d\", ret);\n";
    s += "  }\n"
         "  return cycleDone(k, ret == 0);\n"
         "}\n";

    s += "\nint main(int ac, char **av)\n"
         "{\n"
         "  int adr, good;\n"
         "  (void) ac;\n";
    eventInit();
    imageCheck();
    s += "  av0 = av[0];\n"
         "  fds.rfd = setPort(SERIAL_DEVICE, BAUDRATE, 'E');\n"
         "  fds.wfd = fds.rfd;\n"
         "  if(fds.rfd > 0)\n"
         "  {\n"
         "    printf(\"ppidaemon starting\\n\");\n";
    eventStarting("    ");
    s += format("    di = daveNewInterface(fds, \"IF1\", 0, daveProtoPPI, %s);\n",
                p.daveSpeed.c_str());
    s += "    for(adr=1; adr<32; adr++) dc[adr] = daveNewConnection(di, adr, 0, 0);\n"
         "    statusInit();\n"
         "    thread.create(reader, NULL);\n"
         "    watchdog.create(watchdogThread, NULL);\n"
         "    while(1)\n"
         "    {\n"
         "      otsleep(IDLETIME);\n"
         "      passStart();\n"
         "      good = 0;\n";
    for (size_t i = 0; i < p.cycles.size(); i++) {
      const Cycle& cy = p.cycles[i];
      s += format("      good += ppiCycle(%zu, %lld, dc[%d], %s, %d, %d, %d);\n", i + 1, cy.base,
                  cy.slave, cy.area.c_str(), cy.dbnum, cy.start, cy.len);
    }
    if (p.cycles.empty())
      s += "      // no read cycles: the pass still counts for the watchdog\n"
           "      if(++watchcnt1 > 10000) watchcnt1 = 0;\n";
    s += "      passEnd(good);\n"
         "    }\n"
         "  }\n"
         "  printf(\"\\nerror opening SERIAL_DEVICE\\n\");\n"
         "  // a daemon that never started must not look like one that ended normally\n"
         "  return 1;\n"
         "}\n";
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
