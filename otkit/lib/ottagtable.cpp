#include "ottagtable.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <unordered_set>

#include "otfd.h"
#include "otinterpreter.h"
#include "otnumber.h"
#include "ottag_p.h"

namespace {

int fail(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
  return -1;
}

std::string quote(const std::string& text) {
  return "\"" + text + "\"";
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

bool isIdentifier(const std::string& s) {
  if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  return true;
}

// A decimal integer: an optional '-' and digits only, within long. False for anything else,
// so that "1x", "0x10" and " 1" are refused rather than read in part.
bool parseLong(const std::string& s, long* out) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && s[i] == '-') {
    negative = true;
    i++;
  }
  if (i == s.size()) return false;
  long v = 0;
  for (; i < s.size(); i++) {
    if (s[i] < '0' || s[i] > '9') return false;
    int d = s[i] - '0';
    if (v > (LONG_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  *out = negative ? -v : v;
  return true;
}

// A finite decimal number, read in the C locale whatever the program's locale; the whole word.
bool parseNumber(const std::string& s, double* out) {
  if (s.empty() || isBlank(s[0]) || s[0] == '\n' || s[0] == '\r') return false;
  char* end = nullptr;
  double v = otStrtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

// The shortest text (up to 17 digits) that reads back as v, in the C locale.
std::string formatNumber(double v) {
  char buf[64];
  return otFormatShortest(buf, sizeof(buf), v) > 0 ? std::string(buf) : std::string("0");
}

// The whole file at path, at most limit bytes. 0, or -1 and *error "path: reason".
int readWholeFile(const std::string& path, long limit, std::string* text, std::string* error) {
  otFd fd;
  do {
    fd.reset(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  } while (fd.get() < 0 && errno == EINTR);
  if (fd.get() < 0) return fail(error, path + ": " + strerror(errno));
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return fail(error, path + ": " + strerror(errno));
  if (S_ISDIR(st.st_mode)) return fail(error, path + ": is a folder");
  text->clear();
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(error, path + ": " + strerror(errno));
    if (n == 0) break;
    // Checked while reading: a file that grows, or a device, must not fill memory.
    if ((long)text->size() + n > limit)
      return fail(error, path + ": larger than " + std::to_string(limit) + " bytes");
    text->append(buf, (size_t)n);
  }
  return 0;
}

const char* const kTypeNames[] = {"bit", "byte", "short", "ushort", "int", "float"};
const int kTypeSizes[] = {1, 1, 2, 2, 4, 4};
const char* const kWriteNames[] = {"bit", "byte",  "short", "ushort",
                                   "int", "float", "coil",  "register"};

struct Code {
  const char* name;
  int code;
};
// Organisation codes of otSiemensTCP and area codes of libnodave, by the names the daemons'
// project files use.
const Code kSiemensOrgs[] = {{"ORG_DB", 1},   {"ORG_M", 2}, {"ORG_E", 3}, {"ORG_A", 4},
                             {"ORG_PEPA", 5}, {"ORG_Z", 6}, {"ORG_T", 7}};
const Code kPpiAreas[] = {{"daveSD", 0x3},     {"daveInputs", 0x81}, {"daveOutputs", 0x82},
                          {"daveFlags", 0x83}, {"daveDB", 0x84},     {"daveDI", 0x85},
                          {"daveLocal", 0x86}, {"daveV", 0x87},      {"daveCounter", 28},
                          {"daveTimer", 29}};

template <size_t N>
bool codeOf(const Code (&codes)[N], const std::string& name, int* code) {
  for (const Code& c : codes)
    if (name == c.name) {
      *code = c.code;
      return true;
    }
  return false;
}

std::vector<std::string> split(const std::string& s, char separator) {
  std::vector<std::string> parts;
  size_t pos = 0;
  for (;;) {
    size_t next = s.find(separator, pos);
    parts.push_back(s.substr(pos, next == std::string::npos ? std::string::npos : next - pos));
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  return parts;
}

// A number of the address in min..max; what names it in the message.
int addressNumber(const std::string& text, const char* what, long min, long max, int* out,
                  std::string* error) {
  long v;
  if (!parseLong(text, &v))
    return fail(error, std::string(what) + " " + quote(text) + " is not a number");
  if (v < min || v > max)
    return fail(error, std::string(what) + " " + std::to_string(v) + " is out of range (" +
                           std::to_string(min) + ".." + std::to_string(max) + ")");
  *out = (int)v;
  return 0;
}

const char* kindName(int kind) {
  switch (kind) {
    case otDaemonHeader::MODBUS:
      return "Modbus";
    case otDaemonHeader::SIEMENS:
      return "Siemens";
    case otDaemonHeader::PPI:
      return "PPI";
    default:
      return "unknown";
  }
}

}  // namespace

namespace ottag {

int writeOf(const std::string& name) {
  if (name.empty()) return NONE;
  for (int i = 0; i < (int)(sizeof(kWriteNames) / sizeof(kWriteNames[0])); i++)
    if (name == kWriteNames[i]) return i;
  return -2;
}

int parseAddress(const otTag& t, int kind, Address* out, std::string* error) {
  Address a;
  a.write = writeOf(t.write);
  if (a.write == -2)
    return fail(error, "unknown write " + quote(t.write) +
                           " (-, coil, register, bit, byte, short, ushort, int, float)");
  if (a.write == NONE) {
    if (!t.address.empty()) return fail(error, "a read-only tag takes no address (-)");
    *out = a;
    return 0;
  }
  const std::string w = quote(t.write);
  const bool modbus = a.write == W_COIL || a.write == W_REGISTER;
  if (modbus) {
    if (a.write == W_COIL && t.type != otTag::BIT)
      return fail(error, "write \"coil\" needs type bit");
    if (a.write == W_REGISTER && t.type != otTag::SHORT && t.type != otTag::USHORT)
      return fail(error, "write \"register\" writes 16 bits: it needs type short or ushort");
    if (kind == otDaemonHeader::SIEMENS || kind == otDaemonHeader::PPI)
      return fail(error, "write " + w + " is not a " + kindName(kind) +
                             " write (bit, byte, short, ushort, int, float)");
    const char* form = "\"slave,adr\"";
    if (t.address.empty()) return fail(error, "write " + w + " needs an address " + form);
    std::vector<std::string> parts = split(t.address, ',');
    if (parts.size() != 2) return fail(error, "address " + quote(t.address) + " is not " + form);
    if (addressNumber(parts[0], "slave", 0, 255, &a.slave, error) != 0 ||
        addressNumber(parts[1], a.write == W_COIL ? "coil" : "register", 0, 65535, &a.adr, error) !=
            0)
      return -1;
    *out = a;
    return 0;
  }

  // Siemens and PPI: the write is the value's own type, so that the range a value is checked
  // against and the bytes posted are one and the same.
  if (a.write != t.type)
    return fail(error, "write " + w + " does not match type " +
                           quote(otTag::typeName(t.type) ? otTag::typeName(t.type) : "?"));
  if (kind == otDaemonHeader::MODBUS)
    return fail(error, "write " + w + " is not a Modbus write (coil, register)");
  // A PPI request carries a byte address and whole bytes; a bit could only be written as its
  // byte read back from the image, which would put back stale values of the other seven.
  if (kind == otDaemonHeader::PPI && a.write == W_BIT)
    return fail(error, "write \"bit\" is not a PPI write: the PPI daemon writes whole bytes");
  const bool bit = a.write == W_BIT;
  const char* org = kind == otDaemonHeader::PPI ? "area" : "org";
  const std::string form = std::string("\"slave,") + org + ",db,start" + (bit ? ".bit\"" : "\"");
  if (t.address.empty()) return fail(error, "write " + w + " needs an address " + form);
  std::vector<std::string> parts = split(t.address, ',');
  if (parts.size() != 4) return fail(error, "address " + quote(t.address) + " is not " + form);
  std::string start = parts[3], bitText;
  size_t dot = start.find('.');
  if (bit != (dot != std::string::npos))
    return fail(error, "address " + quote(t.address) + " is not " + form);
  if (bit) {
    bitText = start.substr(dot + 1);
    start = start.substr(0, dot);
  }
  if (addressNumber(parts[0], "slave", 0, kind == otDaemonHeader::PPI ? 31 : 255, &a.slave,
                    error) != 0)
    return -1;
  bool named = (kind != otDaemonHeader::PPI && codeOf(kSiemensOrgs, parts[1], &a.org)) ||
               (kind != otDaemonHeader::SIEMENS && codeOf(kPpiAreas, parts[1], &a.org));
  if (!named) {
    long v;
    if (!parseLong(parts[1], &v))
      return fail(error, std::string(org) + " " + quote(parts[1]) +
                             (kind == otDaemonHeader::PPI
                                  ? " is not an area (daveDB, daveFlags, ... or 0..255)"
                                  : " is not an organisation code (ORG_DB, ORG_M, ... or 0..255)"));
    if (addressNumber(parts[1], org, 0, 255, &a.org, error) != 0) return -1;
  }
  // The start address field of a request is 16 bits: a bit write carries start * 8 + bit, and
  // the value's last byte must lie within it as well.
  const int width = otTag::typeSize(t.type);
  if (addressNumber(parts[2], "db", 0, 65535, &a.db, error) != 0 ||
      addressNumber(start, "start", 0, bit ? 8191 : 65536 - width, &a.start, error) != 0)
    return -1;
  if (bit && addressNumber(bitText, "bit", 0, 7, &a.bit, error) != 0) return -1;
  *out = a;
  return 0;
}

int readHeaderFile(const std::string& path, otDaemonHeader* out, std::string* error) {
  std::string text, why;
  if (readWholeFile(path, MAX_HEADER, &text, &why) != 0) return fail(error, why);
  if (text.find('\0') != std::string::npos) return fail(error, path + ": holds a NUL byte");
  if (otReadDaemonHeader(text.c_str(), out, &why) != 0) return fail(error, path + ": " + why);
  return 0;
}

std::string headerPath(const std::string& folder, const std::string& header) {
  if (!header.empty() && header[0] == '/') return header;
  return (folder.empty() ? std::string(".") : folder) + "/" + header;
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace ottag

// ---------------------------------------------------------------------------------------------
// The daemon header

namespace {

// A C string literal as the generators write one: the escapes \" \\ and \ooo (and the common
// \n \t \r), nothing but blanks behind the closing quote.
bool parseLiteral(const std::string& s, std::string* out) {
  if (s.empty() || s[0] != '"') return false;
  std::string v;
  size_t i = 1;
  for (;;) {
    if (i >= s.size()) return false;
    char c = s[i++];
    if (c == '"') break;
    if (c != '\\') {
      v += c;
      continue;
    }
    if (i >= s.size()) return false;
    c = s[i++];
    if (c >= '0' && c <= '7') {
      int value = c - '0';
      for (int n = 1; n < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7'; n++)
        value = value * 8 + (s[i++] - '0');
      if (value > 255) return false;
      v += (char)value;
    } else if (c == '"' || c == '\\') {
      v += c;
    } else if (c == 'n') {
      v += '\n';
    } else if (c == 't') {
      v += '\t';
    } else if (c == 'r') {
      v += '\r';
    } else {
      return false;
    }
  }
  for (; i < s.size(); i++)
    if (!isBlank(s[i])) return false;
  *out = v;
  return true;
}

std::string trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (isBlank(s[b]) || s[b] == '\r'))
    b++;
  while (e > b && (isBlank(s[e - 1]) || s[e - 1] == '\r'))
    e--;
  return s.substr(b, e - b);
}

}  // namespace

int otReadDaemonHeader(const char* text, otDaemonHeader* out, std::string* error) {
  if (text == nullptr || out == nullptr) return fail(error, "no header");
  const size_t length = strnlen(text, (size_t)ottag::MAX_HEADER + 1);
  if (length > (size_t)ottag::MAX_HEADER)
    return fail(error, "a header of more than " + std::to_string(ottag::MAX_HEADER) + " bytes");

  otDaemonHeader h;
  bool haveShm = false, haveMbx = false, haveSize = false;
  // Per cycle: which of BASE, NUM, NUM_BYTES were given (bits 1, 2, 4).
  std::vector<unsigned char> given;
  std::string prefix;
  int lineNo = 0;
  size_t pos = 0;
  while (pos < length) {
    size_t end = pos;
    while (end < length && text[end] != '\n')
      end++;
    const std::string line(text + pos, end - pos);
    pos = end + 1;
    lineNo++;
    const std::string at = "line " + std::to_string(lineNo) + ": ";

    if (lineNo == 1) {
      static const struct {
        const char* start;
        int kind;
      } kinds[] = {{"// Modbus Signal assignment of ", otDaemonHeader::MODBUS},
                   {"// Siemens Signal assignment of ", otDaemonHeader::SIEMENS},
                   {"// PPI Signal assignment of ", otDaemonHeader::PPI}};
      for (const auto& k : kinds)
        if (line.compare(0, strlen(k.start), k.start) == 0) {
          h.kind = k.kind;
          h.target = trimmed(line.substr(strlen(k.start)));
        }
      if (h.kind == otDaemonHeader::UNKNOWN)
        return fail(error, at + "not a daemon header (\"// Modbus Signal assignment of <target>\", "
                                "Siemens or PPI)");
      if (!isIdentifier(h.target))
        return fail(error, at + "target " + quote(h.target) + " is not an identifier");
      prefix = h.target + "_";
      continue;
    }

    std::string rest = trimmed(line);
    if (rest.compare(0, 7, "#define") != 0 || rest.size() < 8 || !isBlank(rest[7])) continue;
    rest = trimmed(rest.substr(8));
    size_t blank = 0;
    while (blank < rest.size() && !isBlank(rest[blank]))
      blank++;
    const std::string name = rest.substr(0, blank);
    const std::string value = trimmed(rest.substr(blank));
    // Macros of other prefixes belong to someone else; ours are known by their suffix.
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string key = name.substr(prefix.size());

    auto number = [&](long* v) {
      if (!parseLong(value, v) || *v < 0 || *v > INT_MAX)
        return fail(error, at + name + " " + quote(value) + " is not a number (0.." +
                               std::to_string(INT_MAX) + ")");
      return 0;
    };
    auto once = [&](bool* seen) {
      if (*seen) return fail(error, at + name + " is defined twice");
      *seen = true;
      return 0;
    };

    if (key == "SHARED_MEMORY" || key == "MAILBOX") {
      bool shm = key == "SHARED_MEMORY";
      if (once(shm ? &haveShm : &haveMbx) != 0) return -1;
      if (!parseLiteral(value, shm ? &h.sharedMemory : &h.mailbox))
        return fail(error, at + name + " is not a string literal");
    } else if (key == "SHARED_MEMORY_SIZE") {
      if (once(&haveSize) != 0 || number(&h.size) != 0) return -1;
    } else if (key.compare(0, 5, "CYCLE") == 0) {
      size_t digits = 5;
      while (digits < key.size() && key[digits] >= '0' && key[digits] <= '9')
        digits++;
      const std::string field = key.substr(digits);
      int bit = field == "_BASE" ? 1 : field == "_NUM" ? 2 : field == "_NUM_BYTES" ? 4 : 0;
      // The status macros of a cycle (_STATUS, _FAILURES, _GOOD_TIME) are found from the
      // image by the device clients; the table does not need them.
      if (bit == 0 || digits == 5) continue;
      long k, v;
      if (!parseLong(key.substr(5, digits - 5), &k) || k < 1 || k > ottag::MAX_CYCLES)
        return fail(error, at + "cycle number of " + name + " is out of range (1.." +
                               std::to_string(ottag::MAX_CYCLES) + ")");
      if (number(&v) != 0) return -1;
      if ((size_t)k > h.cycles.size()) {
        h.cycles.resize((size_t)k);
        given.resize((size_t)k, 0);
      }
      if (given[(size_t)k - 1] & bit) return fail(error, at + name + " is defined twice");
      given[(size_t)k - 1] |= (unsigned char)bit;
      otDaemonHeader::Cycle& c = h.cycles[(size_t)k - 1];
      if (bit == 1) c.base = v;
      if (bit == 2) c.count = (int)v;
      if (bit == 4) c.bytes = (int)v;
    }
  }
  if (h.kind == otDaemonHeader::UNKNOWN) return fail(error, "line 1: not a daemon header (empty)");
  if (!haveShm) return fail(error, "missing " + prefix + "SHARED_MEMORY");
  if (!haveMbx) return fail(error, "missing " + prefix + "MAILBOX");
  if (!haveSize) return fail(error, "missing " + prefix + "SHARED_MEMORY_SIZE");
  for (size_t i = 0; i < h.cycles.size(); i++) {
    const std::string cycle = prefix + "CYCLE" + std::to_string(i + 1);
    const otDaemonHeader::Cycle& c = h.cycles[i];
    if (!(given[i] & 1)) return fail(error, "missing " + cycle + "_BASE");
    if (!(given[i] & 4)) return fail(error, "missing " + cycle + "_NUM_BYTES");
    if (h.kind == otDaemonHeader::MODBUS) {
      // Modbus blocks hold coils (8 to a byte) or registers (2 bytes each): the count tells
      // which, and a count that fits neither would misplace every value.
      if (!(given[i] & 2)) return fail(error, "missing " + cycle + "_NUM");
      long bits = ((long)c.count + 7) / 8, registers = 2L * c.count;
      if (c.bytes != bits && c.bytes != registers)
        return fail(error, "cycle " + std::to_string(i + 1) + ": " + std::to_string(c.bytes) +
                               " bytes hold neither " + std::to_string(c.count) +
                               " coils nor as many registers");
    }
    if (c.base + c.bytes > h.size)
      return fail(error, "cycle " + std::to_string(i + 1) + " (bytes " + std::to_string(c.base) +
                             ".." + std::to_string(c.base + c.bytes - 1) +
                             ") lies outside the image (" + std::to_string(h.size) + " bytes)");
  }
  *out = h;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Tags

int otTag::typeSize(int type) {
  return type >= BIT && type <= FLOAT ? kTypeSizes[type] : 0;
}

const char* otTag::typeName(int type) {
  return type >= BIT && type <= FLOAT ? kTypeNames[type] : nullptr;
}

int otTag::typeOf(const char* name) {
  if (name == nullptr) return -1;
  for (int i = BIT; i <= FLOAT; i++)
    if (strcmp(name, kTypeNames[i]) == 0) return i;
  return -1;
}

namespace {

// Whether a block of a Modbus header holds coils or inputs (else registers).
bool bitBlock(const otDaemonHeader& h, const otDaemonHeader::Cycle& c) {
  return h.kind == otDaemonHeader::MODBUS && c.count > 0 && c.bytes == (c.count + 7) / 8;
}

// One line's words: blank-separated, a word that starts with a double quote runs to its
// closing quote under the escape rule of quoted texts (and is decoded). 0, or -1 and *reason.
struct Word {
  std::string text;
  bool quoted = false;
};

int splitWords(const std::string& line, std::vector<Word>* words, std::string* reason) {
  size_t i = 0;
  while (i < line.size()) {
    if (isBlank(line[i])) {
      i++;
      continue;
    }
    Word w;
    size_t start = i;
    if (line[i] == '"') {
      i++;
      while (i < line.size() && line[i] != '"') {
        // The pairs \" \\ \n, as otInterpreter reads them; a backslash before anything else
        // stands for itself.
        if (line[i] == '\\' && i + 1 < line.size() &&
            (line[i + 1] == '"' || line[i + 1] == '\\' || line[i + 1] == 'n'))
          i++;
        i++;
      }
      if (i >= line.size()) return fail(reason, "a quoted text has no closing quote");
      i++;
      if (i < line.size() && !isBlank(line[i]))
        return fail(reason, "text after the closing quote of " + line.substr(start, i - start));
      std::vector<char> buf(i - start + 1);
      otInterpreter::quotedString(line.c_str() + start, 0, buf.data(), (int)buf.size());
      w.text = buf.data();
      w.quoted = true;
    } else {
      while (i < line.size() && !isBlank(line[i]))
        i++;
      w.text = line.substr(start, i - start);
    }
    words->push_back(w);
  }
  return 0;
}

const char* const kFields[] = {"name",   "header", "cycle", "index",   "type", "scale",
                               "offset", "unit",   "write", "address", "role"};
// The role column may be left out (a table without roles is written without it).
const int kFieldCount = 11;
const int kRequiredFields = 10;

// One tag line into *t; 0, or -1 and *reason.
int parseTagLine(const std::string& line, otTag* t, std::string* reason) {
  std::vector<Word> w;
  if (splitWords(line, &w, reason) != 0) return -1;
  if (w.size() != (size_t)kRequiredFields && w.size() != (size_t)kFieldCount)
    return fail(reason, std::to_string(w.size()) +
                            " fields; a tag has 10: name header cycle index type scale offset "
                            "unit write address, and may have an 11th, role");
  for (size_t i = 0; i < w.size(); i++)
    if (w[(size_t)i].quoted && i != 7)
      return fail(reason, std::string("the ") + kFields[i] + " must not be quoted");
  otTag tag;
  tag.name = w[0].text;
  if (!isIdentifier(tag.name))
    return fail(reason, "name " + quote(tag.name) + " is not an identifier");
  tag.header = w[1].text;
  long v;
  if (!parseLong(w[2].text, &v))
    return fail(reason, "cycle " + quote(w[2].text) + " is not a number");
  if (v < 1 || v > ottag::MAX_CYCLES)
    return fail(reason, "cycle " + w[2].text + " is out of range (1.." +
                            std::to_string(ottag::MAX_CYCLES) + ")");
  tag.cycle = (int)v;
  if (!parseLong(w[3].text, &v))
    return fail(reason, "index " + quote(w[3].text) + " is not a number");
  if (v < 0 || v >= ottag::MAX_INDEX)
    return fail(reason, "index " + w[3].text + " is out of range (0.." +
                            std::to_string(ottag::MAX_INDEX - 1) + ")");
  tag.index = (int)v;
  tag.type = otTag::typeOf(w[4].text.c_str());
  if (tag.type < 0)
    return fail(reason,
                "unknown type " + quote(w[4].text) + " (bit, byte, short, ushort, int, float)");
  if (!parseNumber(w[5].text, &tag.scale))
    return fail(reason, "scale " + quote(w[5].text) + " is not a finite number");
  if (!parseNumber(w[6].text, &tag.offset))
    return fail(reason, "offset " + quote(w[6].text) + " is not a finite number");
  if (w[7].quoted)
    tag.unit = w[7].text;
  else if (w[7].text != "-")
    return fail(reason, "unit " + quote(w[7].text) + " is neither a quoted text nor -");
  tag.write = w[8].text == "-" ? "" : w[8].text;
  tag.address = w[9].text == "-" ? "" : w[9].text;
  if (w.size() > 10 && w[10].text != "-") {
    const int role = otRoleOf(w[10].text.c_str());
    if (role < OT_ROLE_OPERATOR)
      return fail(reason, "role " + quote(w[10].text) +
                              " is not a role that writes (operator, engineer, admin) nor -");
    if (tag.write.empty()) return fail(reason, "a read-only tag takes no role (-)");
    tag.role = role;
  }
  if (otTagTable::check(tag, nullptr, reason) != 0) return -1;
  *t = tag;
  return 0;
}

std::string formatUnit(const std::string& unit) {
  if (unit.empty()) return "-";
  std::vector<char> buf((size_t)otInterpreter::escapedLength(unit.c_str()) + 1);
  otInterpreter::escapeString(unit.c_str(), buf.data(), (int)buf.size());
  return "\"" + std::string(buf.data()) + "\"";
}

// Writes text to path through a file beside it that replaces path at once, so that a failed
// write leaves the old table whole. 0, or -1 and *error.
int replaceFile(const std::string& path, const std::string& text, std::string* error) {
  std::string temp = path + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  otFd fd(mkstemp(name.data()));
  if (fd.get() < 0) return fail(error, path + ": " + strerror(errno));
  temp = name.data();
  // The new file gets the old one's permission bits, or those a plain create would give.
  struct stat st;
  mode_t mode;
  if (stat(path.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  auto abandon = [&](int err) {
    unlink(temp.c_str());
    return fail(error, path + ": " + strerror(err));
  };
  if (fchmod(fd.get(), mode) != 0) return abandon(errno);
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd.get(), p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return abandon(n < 0 ? errno : EIO);
    p += n;
    left -= (size_t)n;
  }
  if (fsync(fd.get()) != 0) return abandon(errno);
  if (close(fd.release()) != 0) return abandon(errno);
  if (rename(temp.c_str(), path.c_str()) != 0) return abandon(errno);
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The table

int otTagTable::read(const char* path, std::string* error) {
  tags.clear();
  if (path == nullptr) return fail(error, "no file");
  std::string text;
  if (readWholeFile(path, ottag::kMaxTableFile, &text, error) != 0) return -1;
  // A NUL would end the text early and hide the lines behind it: the lines before it are read,
  // and its line is refused.
  size_t nul = text.find('\0');
  if (nul != std::string::npos) {
    size_t lineStart = text.rfind('\n', nul);
    lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    int line = 1;
    for (size_t i = 0; i < lineStart; i++)
      line += text[i] == '\n';
    text.resize(lineStart);
    if (parse(text.c_str(), error) != 0) return -1;
    return fail(error, "line " + std::to_string(line) + ": holds a NUL byte");
  }
  return parse(text.c_str(), error);
}

int otTagTable::parse(const char* text, std::string* error) {
  tags.clear();
  if (text == nullptr) return 0;
  std::unordered_set<std::string> names;
  int lineNo = 0;
  const char* p = text;
  while (*p != '\0') {
    const char* end = strchr(p, '\n');
    size_t n = end != nullptr ? (size_t)(end - p) : strlen(p);
    lineNo++;
    const std::string at = "line " + std::to_string(lineNo) + ": ";
    if (n > (size_t)ottag::MAX_LINE)
      return fail(error, at + "longer than " + std::to_string(ottag::MAX_LINE) + " bytes");
    std::string line(p, n);
    p += n + (end != nullptr ? 1 : 0);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = 0;
    while (first < line.size() && isBlank(line[first]))
      first++;
    if (first == line.size() || line[first] == '#') continue;
    if (tags.size() >= (size_t)ottag::MAX_TAGS)
      return fail(error, at + "more than " + std::to_string(ottag::MAX_TAGS) + " tags");
    otTag t;
    std::string reason;
    if (parseTagLine(line, &t, &reason) != 0) return fail(error, at + reason);
    if (!names.insert(t.name).second) return fail(error, at + "duplicate name " + quote(t.name));
    tags.push_back(t);
  }
  return 0;
}

std::string otTagTable::format() const {
  std::vector<std::vector<std::string>> rows;
  rows.reserve(tags.size() + 1);
  rows.push_back(std::vector<std::string>(kFields, kFields + kFieldCount));
  rows[0][0] = "# name";
  bool roles = false;
  for (const otTag& t : tags) {
    const char* type = otTag::typeName(t.type);
    rows.push_back({t.name, t.header, std::to_string(t.cycle), std::to_string(t.index),
                    type != nullptr ? type : "?", formatNumber(t.scale), formatNumber(t.offset),
                    formatUnit(t.unit), t.write.empty() ? "-" : t.write,
                    t.address.empty() ? "-" : t.address,
                    t.role > OT_ROLE_OPERATOR ? otRoleName(t.role) : "-"});
    roles = roles || t.role > OT_ROLE_OPERATOR;
  }
  const int fields = roles ? kFieldCount : kRequiredFields;
  // Columns line up, but a single long entry does not push every line out.
  size_t width[kFieldCount] = {0};
  for (const auto& row : rows)
    for (int i = 0; i < fields; i++)
      width[i] = std::max(width[i], std::min(row[(size_t)i].size(), (size_t)24));
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (int i = 0; i < fields; i++) {
      line += row[(size_t)i];
      if (i + 1 < fields)
        line.append(row[(size_t)i].size() < width[i] ? width[i] - row[(size_t)i].size() + 2 : 2,
                    ' ');
    }
    out += line + "\n";
  }
  return out;
}

int otTagTable::write(const char* path, std::string* error) const {
  if (path == nullptr) return fail(error, "no file");
  // A table that would not read back is not written over a good one.
  std::string why;
  std::unordered_set<std::string> names;
  if (tags.size() > (size_t)ottag::MAX_TAGS)
    return fail(error, "more than " + std::to_string(ottag::MAX_TAGS) + " tags");
  for (const otTag& t : tags) {
    if (check(t, nullptr, &why) != 0) return fail(error, "tag " + t.name + ": " + why);
    if (!names.insert(t.name).second)
      return fail(error, "tag " + t.name + ": duplicate name " + quote(t.name));
  }
  return replaceFile(path, format(), error);
}

int otTagTable::check(const otTag& t, const otDaemonHeader* header, std::string* error) {
  std::string scratch;
  if (error == nullptr) error = &scratch;
  if (!isIdentifier(t.name)) return fail(error, "name " + quote(t.name) + " is not an identifier");
  if (t.name.size() > (size_t)ottag::MAX_NAME)
    return fail(error, "name " + quote(t.name) + " is longer than " +
                           std::to_string(ottag::MAX_NAME) + " characters");
  if (t.header.empty() || t.header == "-") return fail(error, "a tag needs a header");
  for (char c : t.header)
    if ((unsigned char)c < 0x20 || c == ' ' || c == '"' || c == 0x7F)
      return fail(error, "header " + quote(t.header) + " is not a file name without blanks");
  if (t.cycle < 1 || t.cycle > ottag::MAX_CYCLES)
    return fail(error, "cycle " + std::to_string(t.cycle) + " is out of range (1.." +
                           std::to_string(ottag::MAX_CYCLES) + ")");
  if (t.index < 0 || t.index >= ottag::MAX_INDEX)
    return fail(error, "index " + std::to_string(t.index) + " is out of range (0.." +
                           std::to_string(ottag::MAX_INDEX - 1) + ")");
  if (otTag::typeName(t.type) == nullptr)
    return fail(error, "unknown type " + std::to_string(t.type));
  if (!std::isfinite(t.scale) || !std::isfinite(t.offset))
    return fail(error, "scale and offset must be finite numbers");
  // A scale of 0 shows every value as the offset and makes a written value undefined.
  if (t.scale == 0) return fail(error, "scale 0 would show every value as the offset");
  for (char c : t.unit)
    if ((unsigned char)c < 0x20 && c != '\t' && c != '\n')
      return fail(error, "unit holds a control character other than tab and line feed");
  ottag::Address a;
  if (ottag::parseAddress(t, header != nullptr ? header->kind : otDaemonHeader::UNKNOWN, &a,
                          error) != 0)
    return -1;
  if (header == nullptr) return 0;

  if ((size_t)t.cycle > header->cycles.size())
    return fail(error, "cycle " + std::to_string(t.cycle) + " is not in " + t.header + " (" +
                           std::to_string(header->cycles.size()) + " cycles)");
  const otDaemonHeader::Cycle& c = header->cycles[(size_t)t.cycle - 1];
  const long long first =
      t.type == otTag::BIT ? t.index / 8 : (long long)t.index * otTag::typeSize(t.type);
  const long long bytes = t.type == otTag::BIT ? 1 : otTag::typeSize(t.type);
  if (first + bytes > c.bytes)
    return fail(error, "index " + std::to_string(t.index) + " lies outside cycle " +
                           std::to_string(t.cycle) + " (" + std::to_string(c.bytes) + " bytes)");
  // The bits behind the last coil of a byte are padding, not coils.
  if (t.type == otTag::BIT && bitBlock(*header, c) && t.index >= c.count)
    return fail(error, "index " + std::to_string(t.index) + " lies outside cycle " +
                           std::to_string(t.cycle) + " (" + std::to_string(c.count) + " coils)");
  return 0;
}

int otTagTable::checkAll(const char* folder, std::string* error) const {
  const std::string dir = folder != nullptr ? folder : ".";
  std::map<std::string, std::unique_ptr<otDaemonHeader>> headers;
  std::map<std::string, std::string> headerErrors;
  std::unordered_set<std::string> names;
  for (const otTag& t : tags) {
    auto it = headers.find(t.header);
    if (it == headers.end() && headerErrors.count(t.header) == 0) {
      std::unique_ptr<otDaemonHeader> h(new otDaemonHeader);
      std::string why;
      if (t.header.empty() ||
          ottag::readHeaderFile(ottag::headerPath(dir, t.header), h.get(), &why) != 0) {
        headerErrors[t.header] = t.header.empty() ? "a tag needs a header" : why;
      } else {
        it = headers.emplace(t.header, std::move(h)).first;
      }
    }
    std::string why;
    if (it == headers.end()) return fail(error, "tag " + t.name + ": " + headerErrors[t.header]);
    if (check(t, it->second.get(), &why) != 0) return fail(error, "tag " + t.name + ": " + why);
    if (!names.insert(t.name).second)
      return fail(error, "tag " + t.name + ": duplicate name " + quote(t.name));
  }
  return 0;
}

int otTagTable::find(const std::string& name) const {
  for (size_t i = 0; i < tags.size(); i++)
    if (tags[i].name == name) return (int)i;
  return -1;
}

int otTagTable::add(const otTag& t, std::string* error) {
  if (check(t, nullptr, error) != 0) return -1;
  if (find(t.name) >= 0) return fail(error, "duplicate name " + quote(t.name));
  if (tags.size() >= (size_t)ottag::MAX_TAGS)
    return fail(error, "more than " + std::to_string(ottag::MAX_TAGS) + " tags");
  tags.push_back(t);
  return 0;
}

std::vector<otTag> otTagTable::propose(const otDaemonHeader& h, const std::string& headerName) {
  std::vector<otTag> out;
  for (size_t k = 0; k < h.cycles.size(); k++) {
    const otDaemonHeader::Cycle& c = h.cycles[k];
    auto push = [&](int type, int index) {
      if (out.size() >= (size_t)ottag::MAX_TAGS) return;
      otTag t;
      const std::string suffix = "_c" + std::to_string(k + 1) + "_" + std::to_string(index);
      // A long target is cut so that the name stays within the limit; the suffix keeps the
      // names apart.
      t.name = h.target.substr(0, (size_t)ottag::MAX_NAME - suffix.size()) + suffix;
      t.header = headerName;
      t.cycle = (int)k + 1;
      t.index = index;
      t.type = type;
      out.push_back(t);
    };
    if (bitBlock(h, c)) {
      for (int i = 0; i < c.count; i++)
        push(otTag::BIT, i);
    } else {
      for (int i = 0; i < c.bytes / 2; i++)
        push(otTag::SHORT, i);
      // An odd last byte of a Siemens or PPI block is offered as a byte of its own.
      if (c.bytes % 2 != 0 && h.kind != otDaemonHeader::MODBUS) push(otTag::BYTE, c.bytes - 1);
    }
  }
  return out;
}
