// Daemon generators. Each works in passes over the lines of the project file: settings first,
// then the header (offsets of the process image), then the source. The generated daemons use
// the process image and mailbox layouts that otModbusClient, otSiemensTCPClient and
// otPPIClient read and write.
#include "gdaemon.h"

#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

// A leading decimal integer as scanf's %d reads it; values beyond int are clamped so that the
// range checks see them as out of range. False (value unchanged) when there is none.
bool intAt(const std::string& line, size_t pos, int* value) {
  while (pos < line.size() && isBlank(line[pos]))
    pos++;
  bool negative = false;
  if (pos < line.size() && (line[pos] == '+' || line[pos] == '-')) negative = line[pos++] == '-';
  if (pos >= line.size() || line[pos] < '0' || line[pos] > '9') return false;
  long long v = 0;
  while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') {
    if (v < 10000000000LL) v = v * 10 + (line[pos] - '0');
    pos++;
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  *value = static_cast<int>(v);
  return true;
}

// The value that follows key anywhere in the line; def when the key is absent.
int findInt(const std::string& line, const char* key, int def) {
  size_t pos = line.find(key);
  int value = def;
  if (pos != std::string::npos) intAt(line, pos + strlen(key), &value);
  return value;
}

std::string findWord(const std::string& line, const char* key, size_t max = kMaxSetting) {
  size_t pos = line.find(key);
  std::string value;
  if (pos != std::string::npos) wordAt(line, pos + strlen(key), &value, max);
  return value;
}

void readWordSetting(const std::string& line, const char* key, std::string* value) {
  if (startsWith(line, key)) wordAt(line, strlen(key), value);
}

void readIntSetting(const std::string& line, const char* key, int* value) {
  if (startsWith(line, key)) intAt(line, strlen(key), value);
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

// Settings shared by every kind.
struct Common {
  std::string target;
  std::string sharedMemory;
  std::string mailbox;
  std::string eventHost;
  int eventPort = -1;
  bool hasEventLog() const { return eventPort != -1; }

  void read(const std::string& line) {
    readWordSetting(line, "target=", &target);
    readWordSetting(line, "shared_memory=", &sharedMemory);
    readWordSetting(line, "mailbox=", &mailbox);
    if (startsWith(line, "eventlog")) {
      size_t pos = line.find("port=");
      if (pos != std::string::npos) intAt(line, pos + 5, &eventPort);
      pos = line.find("host=");
      if (pos != std::string::npos) wordAt(line, pos + 5, &eventHost);
    }
  }
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
  int checkSize(long long size) {
    if (size > INT_MAX) return fail(format("shared memory size %lld is too large\n", size));
    return 0;
  }

  // Siemens TCP and PPI daemons are written to the working directory under their target.
  void namedByTarget(const std::string& target) {
    out_->headerPath = target + ".h";
    out_->sourcePath = target + ".cpp";
    out_->programName = target;
  }

  // The first lines of every header.
  void headerStart(const char* kind, const Common& c) {
    std::string& h = out_->header;
    h += format("// %s Signal assignment of %s\n", kind, c.target.c_str());
    h += format("#define %s_SHARED_MEMORY %s\n", c.target.c_str(), literal(c.sharedMemory).c_str());
    h += format("#define %s_MAILBOX %s\n", c.target.c_str(), literal(c.mailbox).c_str());
  }

  // The header of a Siemens TCP or PPI daemon: blocks of len bytes; a cycle line needs
  // dbnum, start and len.
  int bytesHeader(const char* kind, const Common& c, int maxStart, int maxLen, long long* size) {
    std::string& h = out_->header;
    const char* t = c.target.c_str();
    headerStart(kind, c);
    long long offset = 0;
    int k = 0;
    for (const std::string& line : lines_) {
      if (!startsWith(line, "cycle")) continue;
      int dbnum = findInt(line, "dbnum=", -1), start = findInt(line, "start=", -1),
          len = findInt(line, "len=", -1);
      if (dbnum == -1 || start == -1 || len == -1) return missing(line);
      if (dbnum < 0 || dbnum > 65535 || start < 0 || start > maxStart || len < 1 || len > maxLen)
        return outOfRange(line);
      k++;
      h += format("\n#define %s_CYCLE%d_BASE %lld\n", t, k, offset);
      h += format("#define %s_CYCLE%d_NUM_BYTES %d\n", t, k, len);
      offset += len;
    }
    h += format("\n#define %s_SHARED_MEMORY_SIZE %lld\n", t, offset);
    *size = offset;
    return checkSize(offset);
  }

  void echoEventLog(const Common& c) {
    if (c.hasEventLog())
      print(format("eventlog host=%s port=%d\n", c.eventHost.c_str(), c.eventPort));
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

  void eventInit(const Common& c) {
    // Log lines reach a redirected standard output (a log file, a supervisor) at once.
    out_->source += "  setvbuf(stdout, NULL, _IOLBF, 0);\n";
    if (!c.hasEventLog()) return;
    std::string host = format("-eventhost=%s", c.eventHost.c_str());
    std::string port = format("-eventport=%d", c.eventPort);
    std::string prefix = c.target + ":";
    out_->source += format("  const char *eventav[3] = {\"\", %s, %s};\n", literal(host).c_str(),
                           literal(port).c_str());
    out_->source += format("  otEventInit(3, eventav, %s);\n", literal(prefix).c_str());
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
};

// ---------------------------------------------------------------------------------------
class ModbusGenerator : public Generator {
 public:
  using Generator::Generator;

  int run() {
    readSettings();
    print(format("target=%s\n", c.target.c_str()));
    print(format("shared_memory=%s\n", c.sharedMemory.c_str()));
    print(format("mailbox=%s\n", c.mailbox.c_str()));
    if (communication == 1)
      print("communication=serial\n");
    else if (communication == 2)
      print("communication=socket\n");
    else
      return fail("undefined communication -> exit\n");
    print(format("tty=%s\n", tty.c_str()));
    print(format("baudrate=%d\n", baudrate));
    print(format("rtscts=%d\n", rtscts));
    print(format("parity=%d\n", parity));
    print(format("protocol=%d\n", protocol));
    print(format("tcpadr=%s\n", tcpadr.c_str()));
    print(format("tcpport=%d\n", tcpport));
    echoEventLog(c);
    if (header() < 0) return -1;
    return source();
  }

 private:
  Common c;
  int communication = 0;  // 1 serial, 2 TCP
  std::string tty, tcpadr;
  int baudrate = 0, rtscts = 1, parity = 0, protocol = 0, tcpport = 0;

  struct Cycle {
    int slave, function, startAdr, num, bytes;
  };
  std::vector<Cycle> cycles;

  bool tcp() const { return communication == 2; }

  void readSettings() {
    // The project file's name, without directory and without every ".mkmodbus".
    std::string name =
        path_.substr(path_.rfind('/') == std::string::npos ? 0 : path_.rfind('/') + 1);
    for (size_t p; (p = name.find(".mkmodbus")) != std::string::npos;)
      name.erase(p, 9);
    c.target = name;
    for (const std::string& line : lines_) {
      c.read(line);
      if (startsWith(line, "communication="))
        communication = line.find("socket") != std::string::npos ? 2 : 1;
      readWordSetting(line, "tty=", &tty);
      readIntSetting(line, "baudrate=", &baudrate);
      readIntSetting(line, "rtscts=", &rtscts);
      readIntSetting(line, "parity=", &parity);
      readIntSetting(line, "protocol=", &protocol);
      readWordSetting(line, "tcpadr=", &tcpadr);
      readIntSetting(line, "tcpport=", &tcpport);
    }
  }

  int header() {
    std::string& h = out_->header;
    const char* t = c.target.c_str();
    headerStart("Modbus", c);
    long long offset = 0;
    int k = 0;
    for (const std::string& line : lines_) {
      if (!startsWith(line, "cycle")) continue;
      Cycle cy;
      cy.slave = findInt(line, "slave=", -1);
      cy.function = findInt(line, "function=", -1);
      cy.startAdr = findInt(line, "start_adr=", -1);
      cy.num = findInt(line, "num_register=", -1);
      if (cy.slave == -1 || cy.function == -1 || cy.startAdr == -1 || cy.num == -1)
        return missing(line);
      // Only the four read functions make sense in a read cycle (any other code would be
      // sent to the device as a write), and a count beyond one reply can never be read.
      bool bits = cy.function == 1 || cy.function == 2;
      if (cy.slave < 0 || cy.slave > 255 || cy.function < 1 || cy.function > 4 || cy.startAdr < 0 ||
          cy.startAdr > 65535 || cy.num < 1 || cy.num > (bits ? 2000 : 125))
        return outOfRange(line);
      cy.bytes = bits ? (cy.num + 7) / 8 : cy.num * 2;
      k++;
      h += format("\n#define %s_CYCLE%d_BASE %lld\n", t, k, offset);
      h += format("#define %s_CYCLE%d_NUM %d\n", t, k, cy.num);
      h += format("#define %s_CYCLE%d_NUM_BYTES %d\n", t, k, cy.bytes);
      offset += cy.bytes;
      cycles.push_back(cy);
    }
    h += format("\n#define %s_LIFE_COUNTER_BASE %lld\n", t, offset);
    h += format("#define %s_READ_ERROR_COUNT_BASE %lld\n", t, offset + 2);
    h += format("#define %s_WRITE_ERROR_COUNT_BASE %lld\n", t, offset + 4);
    h += format("\n#define %s_SHARED_MEMORY_SIZE %lld\n", t, offset + 6);
    size = offset + 6;
    return checkSize(size);
  }
  long long size = 0;

  int source() {
    std::string& s = out_->source;
    const char* t = c.target.c_str();
    bool ascii = protocol == 1 && !tcp();
    int baud = baudrate < 1 ? 9600 : baudrate;
    // Below 100 baud the designed divisor would be 0.
    int divisor = baud / 100 < 1 ? 1 : baud / 100;
    std::string headerName = out_->headerPath.substr(
        out_->headerPath.rfind('/') == std::string::npos ? 0 : out_->headerPath.rfind('/') + 1);

    sourceStart("Modbus", "mkmodbus");
    s += "#include <stdio.h>\n#include <stdlib.h>\n#include <unistd.h>\n#include <atomic>\n";
    s += "#include \"otmodbus.h\"\n#include \"otsharedmemory.h\"\n#include \"otmailbox.h\"\n"
         "#include \"otthread.h\"\n#include \"otcutil.h\"\n";
    if (c.hasEventLog()) s += "#include \"otevent.h\"\n";
    // The header is included by the name it was written under, which a target= setting
    // does not change.
    s += format("#include %s\n", literal(headerName).c_str());
    s += "\n";
    s += format("#define MODBUS_IDLETIME (4*1000)/%d\n", divisor);
    s += format("#define SERIAL_DEVICE   %s\n", literal(tty).c_str());
    s += "\n";
    // The telegram buffer holds the longest request a client may post: 256 data bytes in
    // a Modbus/TCP telegram (header, unit, function) or an RTU telegram (address, function,
    // CRC).
    if (ascii)
      s += "otModbus       modbus(1024+1,otModbus::MODBUS_ASCII);\n";
    else
      s += "otModbus       modbus(8+256+2,otModbus::MODBUS_RTU);\n";
    if (tcp())
      s += format("otSocket       sock(%s,%d,1);\n", literal(tcpadr).c_str(), tcpport);
    else
      s += "otSerial       serial;\n";
    s += format("otSharedMemory shm(%s,%lld);\n", literal(c.sharedMemory).c_str(), size);
    s += format("otMailbox      mbx(%s);\n", literal(c.mailbox).c_str());
    s += "otThread       thread;\n"
         "otThread       watchdog;\n"
         "static int     lifeCounter = 0;\n"
         "static int     readErrorCount = 0;\n"
         "static int     writeErrorCount = 0;\n"
         "static const char *av0 = \"\";\n"
         "static std::atomic<int> watchcnt1(0);\n";
    s += "\n// Writes a counter into its 2-byte slot of the process image, in host byte order.\n"
         "static void writeCounter(int base, int value)\n"
         "{\n"
         "  unsigned short v = (unsigned short) value;\n"
         "  shm.write(base, &v, 2);\n"
         "}\n";

    watchdog(60000, tcp() ? "" : "  serial.closeDevice();\n");

    // Mailbox reader: one message is one Modbus request.
    s += "\nstatic void *reader(void *arg)\n"
         "{\n";
    s += format("  static unsigned char buf[%d];\n", kMailboxBuffer);
    s += "  int buflen, ret, slave, function;\n"
         "  (void) arg;\n";
    readerLoopStart(2);
    s += "    slave    = buf[0];\n"
         "    function = buf[1];\n"
         "    thread.lock();\n"
         "    otsleep(MODBUS_IDLETIME);\n"
         "    ret = modbus.write(slave, function, &buf[2], buflen-2);\n"
         "    if(ret >= 0) ret = modbus.response(&slave, &function, buf);\n";
    // Only a failed exchange drops the connection; a successful write reply is a positive
    // byte count and must not cost a reconnect.
    if (tcp()) s += "    if(ret < 0) sock.disconnect();\n";
    if (c.hasEventLog())
      s += "    if(ret <= 0) otEvent(otWarning, \"modbus.response mbx ret=%d slave=%d "
           "function=%d\", ret, slave, function);\n";
    s += "    otsleep(MODBUS_IDLETIME);\n"
         "    thread.unlock();\n"
         "    if(ret < 0)\n"
         "    {\n"
         "      writeErrorCount++;\n"
         "      if(writeErrorCount >= 256*128) writeErrorCount = 0;\n";
    s += format("      writeCounter(%s_WRITE_ERROR_COUNT_BASE, writeErrorCount);\n", t);
    s += "    }\n"
         "    printf(\"mbx ret=%d slave=%d function=%d buf[2]=%d\\n\", ret, slave, function, "
         "buf[2]);\n"
         "  }\n"
         "  return NULL;\n"
         "}\n";

    // Read cycle.
    s += "\nstatic int modbusCycle(int offset, int slave, int function, int start_adr, int "
         "num_register)\n"
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
         "    readErrorCount++;\n"
         "    if(readErrorCount >= 256*128) readErrorCount = 0;\n";
    s += format("    writeCounter(%s_READ_ERROR_COUNT_BASE, readErrorCount);\n", t);
    if (c.hasEventLog())
      s += "    otEvent(otWarning, \"modbus.response cycle ret=%d slave=%d function=%d "
           "start_adr=%d num_register=%d\", ret, slave, function, start_adr, num_register);\n"
           "    otsleep(5000);\n";
    s += "  }\n"
         "  printf(\"cycle ret=%d slave=%d function=%d data[0]=%d\\n\", ret, slave, function, "
         "data[0]);\n"
         "  return ret;\n"
         "}\n";

    // main
    s += "\nint main(int ac, char **av)\n"
         "{\n"
         "  int ret, offset;\n"
         "  (void) ac;\n";
    eventInit(c);
    s += "  av0 = av[0];\n";
    if (!tcp()) {
      const char* par = parity == 1 ? "ODD" : parity == 2 ? "EVEN" : "NONE";
      s += "  int first = 1;\n";
      s += format("  while(serial.openDevice(SERIAL_DEVICE,B%d,1,%d,8,1,otSerial::%s) != 0)\n",
                  baud, rtscts, par);
      s += "  {\n"
           "    if(first) printf(\"could not open serial device %s\\n\", SERIAL_DEVICE);\n"
           "    first = 0;\n"
           "    otsleep(1000);\n"
           "  }\n";
    }
    s += "  printf(\"\\n%s starting\\n\", av0);\n";
    if (c.hasEventLog())
      s += format("  otEvent(otInfo, \"%%s starting\", %s);\n", literal(c.target).c_str());
    s += tcp() ? "  modbus.registerSocket(&sock);\n" : "  modbus.registerSerial(&serial);\n";
    s += "  thread.create(reader, NULL);\n"
         "  watchdog.create(watchdogThread, NULL);\n";
    s += format("  writeCounter(%s_LIFE_COUNTER_BASE, lifeCounter);\n", t);
    s += format("  writeCounter(%s_READ_ERROR_COUNT_BASE, readErrorCount);\n", t);
    s += format("  writeCounter(%s_WRITE_ERROR_COUNT_BASE, writeErrorCount);\n", t);
    s += "  while(1)\n"
         "  {\n"
         "    lifeCounter++;\n"
         "    if(lifeCounter >= 256*128) lifeCounter = 0;\n";
    s += format("    writeCounter(%s_LIFE_COUNTER_BASE, lifeCounter);\n", t);
    s += "    offset = 0;\n";
    for (const Cycle& cy : cycles) {
      s += format("    ret = modbusCycle(offset,%d,%d,%d,%d);\n", cy.slave, cy.function,
                  cy.startAdr, cy.num);
      s += "    if(ret>0) offset += ret; else continue;\n";
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
    c.target = "siemensdaemon";
    for (const std::string& line : lines_) {
      c.read(line);
      readIntSetting(line, "idletime=", &idletime);
      if (startsWith(line, "slave=")) print(line);
    }
    namedByTarget(c.target);
    print(format("target=%s\n", c.target.c_str()));
    print(format("shared_memory=%s\n", c.sharedMemory.c_str()));
    print(format("mailbox=%s\n", c.mailbox.c_str()));
    echoEventLog(c);
    if (header() < 0) return -1;
    return source();
  }

 private:
  Common c;
  int idletime = 100;
  long long size = 0;

  // A cycle reads into a buffer of kSiemensMaxLen bytes.
  int header() { return bytesHeader("Siemens", c, 65535, kSiemensMaxLen, &size); }

  int source() {
    std::string& s = out_->source;
    sourceStart("Siemens TCP", "mksiemens");
    s += "#include <stdio.h>\n#include <stdlib.h>\n";
    s += "#include \"otsiemenstcp.h\"\n#include \"otsharedmemory.h\"\n#include \"otmailbox.h\"\n"
         "#include \"otthread.h\"\n#include \"otcutil.h\"\n";
    if (c.hasEventLog()) s += "#include \"otevent.h\"\n";
    s += format("\n#define %s_CYCLE_TIME %d\n\n", c.target.c_str(), idletime);

    std::vector<int> slaves, ports;
    for (const std::string& line : lines_) {
      if (!startsWith(line, "slave=")) continue;
      int slave = -1;
      intAt(line, 6, &slave);
      std::string adr = findWord(line, "adr=", kMaxAddress);
      std::string type = findWord(line, "type=");
      if (slave < 0 || adr.empty() || type.empty()) return missing(line);
      // The slave number indexes a table of 256 connections; the type names a constant.
      if (slave > 255 || !oneOf(type, kSiemensTypes)) return outOfRange(line);
      for (int other : slaves)
        if (other == slave) return outOfRange(line);
      // port= (not in the template) reaches a PLC behind a gateway that does not use 102.
      int port = findInt(line, "port=", 102);
      if (port < 1 || port > 65535) return outOfRange(line);
      slaves.push_back(slave);
      ports.push_back(port);
      s += format("otSiemensTCP   slave%d(%s,otSiemensTCP::%s,%d,%d,%d);\n", slave,
                  literal(adr).c_str(), type.c_str(), findInt(line, "fetch_write=", 1),
                  findInt(line, "function=", -1), findInt(line, "rack_slot=", -1));
    }
    s += format("otSharedMemory shm(%s,%lld);\n", literal(c.sharedMemory).c_str(), size);
    s += format("otMailbox      mbx(%s);\n", literal(c.mailbox).c_str());
    s += "otThread       thread;\n"
         "otSiemensTCP   *slave_array[256];\n";

    s += "\n// Mailbox reader: [0] slave, [1] org, [2..3] dbnum, [4..5] start, [6..7] length,\n"
         "// [8] function, [9..] data; 16-bit fields high byte first.\n"
         "static void *reader(void *arg)\n"
         "{\n";
    s += format("  static unsigned char buf[%d];\n", kMailboxBuffer);
    s += "  int buflen, ret, slave, org, dbnr, start_adr, len, function;\n"
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
         "      continue;\n"
         "    }\n"
         "    if(slave >= 0 && slave < 256 && slave_array[slave] != NULL)\n"
         "    {\n"
         "      thread.lock();\n"
         "      ret = slave_array[slave]->write(org, dbnr, start_adr, len, &buf[9], "
         "function);\n"
         "      thread.unlock();\n"
         "      if(ret < 0) printf(\"mbx write ret=%d slave=%d\\n\", ret, slave);\n"
         "    }\n"
         "    else\n"
         "    {\n";
    if (c.hasEventLog()) s += "      otEvent(otError, \"wrong param send to mailbox\");\n";
    s += "      printf(\"mbx message for slave %d ignored: no such slave\\n\", slave);\n"
         "    }\n"
         "  }\n"
         "  return NULL;\n"
         "}\n";

    s += "\nstatic int siemensTCPCycle(int slave, int offset, int org, int dbnr, int start_adr, "
         "int len)\n"
         "{\n";
    s += format("  unsigned char data[%d];\n", kSiemensMaxLen);
    s += "  int ret;\n"
         "  if(slave < 0 || slave > 255 || slave_array[slave] == NULL) return len;\n"
         "  thread.lock();\n"
         "  ret = slave_array[slave]->fetch(org, dbnr, start_adr, len, data);\n"
         "  thread.unlock();\n";
    if (c.hasEventLog())
      s += "  if(ret < 0)\n"
           "  {\n"
           "    otEvent(otWarning, \"fetch ret=%d slave=%d\", ret, slave);\n"
           "    otsleep(5000);\n"
           "  }\n";
    s += "  if(ret > 0) shm.write(offset, data, ret);\n"
         "  else { printf(\"E\"); fflush(stdout); }\n"
         "  return len;\n"
         "}\n";

    s += "\nint main(int ac, char **av)\n"
         "{\n"
         "  int i, ret, offset;\n"
         "  (void) ac;\n"
         "  (void) av;\n";
    eventInit(c);
    s += "  printf(\"\\n%s starting\\n\", av[0]);\n";
    if (c.hasEventLog())
      s += format("  otEvent(otInfo, \"%%s starting\", %s);\n", literal(c.target).c_str());
    s += "  for(i=0; i<256; i++) slave_array[i] = NULL;\n";
    for (size_t i = 0; i < slaves.size(); i++) {
      s += format("  slave_array[%d] = &slave%d;\n", slaves[i], slaves[i]);
      if (ports[i] != 102) s += format("  slave%d.setPort(%d);\n", slaves[i], ports[i]);
    }
    s += "  thread.create(reader, NULL);\n"
         "  while(1)\n"
         "  {\n";
    s += format("    otsleep(%s_CYCLE_TIME);\n", c.target.c_str());
    s += "    offset = 0;\n";
    for (const std::string& line : lines_) {
      if (!startsWith(line, "cycle")) continue;
      int slave = findInt(line, "slave=", -1);
      std::string org = findWord(line, "org=");
      int dbnum = findInt(line, "dbnum=", -1), start = findInt(line, "start=", -1),
          len = findInt(line, "len=", -1);
      if (slave == -1 || org.empty() || dbnum == -1 || start == -1 || len == -1)
        return missing(line);
      if (slave < 0 || slave > 255 || !oneOf(org, kSiemensOrgs)) return outOfRange(line);
      s += format("    ret = siemensTCPCycle(%d,offset, otSiemensTCP::%s, %d, %d, %d);\n", slave,
                  org.c_str(), dbnum, start, len);
      s += "    if(ret>0) offset += ret; else continue;\n";
    }
    s += "  }\n"
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
    c.target = "ppidaemon";
    for (const std::string& line : lines_) {
      c.read(line);
      readWordSetting(line, "tty=", &tty);
      readIntSetting(line, "baudrate=", &baudrate);
      readWordSetting(line, "dave_speed=", &daveSpeed);
      readIntSetting(line, "idletime=", &idletime);
    }
    namedByTarget(c.target);
    print(format("target=%s\n", c.target.c_str()));
    print(format("shared_memory=%s\n", c.sharedMemory.c_str()));
    print(format("mailbox=%s\n", c.mailbox.c_str()));
    print(format("tty=%s\n", tty.c_str()));
    print(format("baudrate=%d\n", baudrate));
    print(format("dave_speed=%s\n", daveSpeed.c_str()));
    echoEventLog(c);
    if (!oneOf(daveSpeed, kDaveSpeeds)) {
      for (const std::string& line : lines_)
        if (startsWith(line, "dave_speed=")) return outOfRange(line);
    }
    if (header() < 0) return -1;
    print(format("generate:%s.cpp\n", c.target.c_str()));
    return source();
  }

 private:
  Common c;
  std::string tty = "/dev/ttyS0";
  int baudrate = 9600;
  std::string daveSpeed = "daveSpeed187k";
  int idletime = 0;
  long long size = 0;

  int header() { return bytesHeader("PPI", c, 65535, 65535, &size); }

  int source() {
    std::string& s = out_->source;
    sourceStart("PPI", "mkppi");
    s += "// libnodave supports Unix only\n";
    s += "#include <stdio.h>\n#include <stdlib.h>\n#include <unistd.h>\n#include <atomic>\n";
    s += "#include \"otsharedmemory.h\"\n#include \"otmailbox.h\"\n#include \"otthread.h\"\n"
         "#include \"otcutil.h\"\n";
    if (c.hasEventLog()) s += "#include \"otevent.h\"\n";
    s += "#ifdef unix\n#define LINUX\n#else\n#define BCCWIN\n#endif\n"
         "extern \"C\" {\n#include \"setport.h\"\n#include \"nodave.h\"\n}\n\n";
    s += format("#define IDLETIME %d\n", idletime);
    s += format("#define SERIAL_DEVICE %s\n", literal(tty).c_str());
    s += format("#define BAUDRATE \"%d\"\n", baudrate);
    s += format("otSharedMemory shm(%s,%lld);\n", literal(c.sharedMemory).c_str(), size);
    s += format("otMailbox      mbx(%s);\n", literal(c.mailbox).c_str());
    s += "otThread       thread;\n"
         "otThread       watchdog;\n"
         "static daveConnection   *dc[32+1];\n"
         "static daveInterface    *di;\n"
         "static _daveOSserialType fds;\n"
         "static const char *av0 = \"\";\n"
         "static std::atomic<int> watchcnt1(0);\n";

    watchdog(5000, "");

    s += "\n// Mailbox reader: [0] slave, [1] area, [2..3] dbnum, [4..5] start, [6..7] length,\n"
         "// [8..] data; 16-bit fields high byte first.\n"
         "static void *reader(void *arg)\n"
         "{\n";
    s += format("  static unsigned char buf[%d];\n", kMailboxBuffer);
    s += "  int buflen, ret, slave, area, dbnum, start, len;\n"
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
         "      thread.lock();\n"
         "      ret = daveWriteBytes(dc[slave], area, dbnum, start, len, &buf[8]);\n"
         "      thread.unlock();\n"
         "      if(ret != 0)\n"
         "      {\n"
         "        printf(\"daveWriteBytes ret=%d\\n\", ret);\n";
    if (c.hasEventLog())
      s += "        otEvent(otWarning, \"daveWriteBytes ret=%d slave=%d\", ret, slave);\n";
    s += "      }\n"
         "    }\n"
         "  }\n"
         "  return NULL;\n"
         "}\n";

    s += "\nstatic int ppiCycle(int offset, daveConnection *dc, int area, int dbnum, int start, "
         "int len)\n"
         "{\n"
         "  unsigned char data[1024+1];\n"
         "  int ret;\n"
         "  if(len > 256) return -1;\n"
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
         "    printf(\"daveReadBytes ret=%d\\n\", ret);\n";
    if (c.hasEventLog())
      s += "    otEvent(otWarning, \"daveReadBytes ret=%d\", ret);\n"
           "    otsleep(5000);\n";
    s += "  }\n"
         "  return len;\n"
         "}\n";

    s += "\nint main(int ac, char **av)\n"
         "{\n"
         "  int adr, ret, offset;\n"
         "  (void) ac;\n";
    eventInit(c);
    s += "  av0 = av[0];\n"
         "  fds.rfd = setPort(SERIAL_DEVICE, BAUDRATE, 'E');\n"
         "  fds.wfd = fds.rfd;\n"
         "  if(fds.rfd > 0)\n"
         "  {\n"
         "    printf(\"ppidaemon starting\\n\");\n";
    if (c.hasEventLog())
      s += format("    otEvent(otInfo, \"%%s starting\", %s);\n", literal(c.target).c_str());
    s += format("    di = daveNewInterface(fds, \"IF1\", 0, daveProtoPPI, %s);\n",
                daveSpeed.c_str());
    s += "    for(adr=1; adr<32; adr++) dc[adr] = daveNewConnection(di, adr, 0, 0);\n"
         "    thread.create(reader, NULL);\n"
         "    watchdog.create(watchdogThread, NULL);\n"
         "    while(1)\n"
         "    {\n"
         "      otsleep(IDLETIME);\n"
         "      offset = 0;\n";
    for (const std::string& line : lines_) {
      if (!startsWith(line, "cycle")) continue;
      int slave = findInt(line, "slave=", -1);
      std::string area = findWord(line, "area=");
      int dbnum = findInt(line, "dbnum=", -1), start = findInt(line, "start=", -1),
          len = findInt(line, "len=", -1);
      if (slave == -1 || area.empty() || dbnum == -1 || start == -1 || len == -1)
        return missing(line);
      // Connections exist for the addresses 1 to 31 only.
      if (slave < 1 || slave > 31 || !oneOf(area, kDaveAreas)) return outOfRange(line);
      s += format("      ret = ppiCycle(offset, dc[%d], %s, %d, %d, %d);\n", slave, area.c_str(),
                  dbnum, start, len);
      s += "      if(ret>0) offset += ret; else continue;\n";
    }
    s += "    }\n"
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
