// The tag table (its file, its checks against the daemons' generated headers) and the tag
// image (values read from a real process image, writes taken from the real mailbox).
#include <gtest/gtest.h>

#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gdaemon.h"
#include "ipctest.h"
#include "otmailbox.h"
#include "otmodbusclient.h"
#include "otppiclient.h"
#include "otsharedmemory.h"
#include "otsiemenstcpclient.h"
#include "ottagimage.h"
#include "ottagtable.h"
#include "otwritegate.h"
#include "testutil.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string example(const char* name) {
  std::ifstream in(std::string(OTKIT_TEST_SOURCE_DIR) + "/../../examples/" + name);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The header the generator writes for an example project, with extra lines appended to it.
std::string generated(int kind, const char* project, const std::string& extra = "") {
  hxDaemonFiles out;
  EXPECT_EQ(hxGenerate(kind, project, example(project) + extra, &out), 0) << out.log;
  return out.header;
}

otDaemonHeader header(const std::string& text) {
  otDaemonHeader h;
  std::string error;
  EXPECT_EQ(otReadDaemonHeader(text.c_str(), &h, &error), 0) << error;
  return h;
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

// Every field of a tag, numbers exactly.
std::string fields(const otTag& t) {
  char numbers[64];
  snprintf(numbers, sizeof(numbers), "%d %d %d %a %a", t.cycle, t.index, t.type, t.scale, t.offset);
  return t.name + "|" + t.header + "|" + numbers + "|" + t.unit + "|" + t.write + "|" + t.address;
}

// ----- the file ---------------------------------------------------------------------------

const char* const kTable =
    "# a comment, then an empty line\n"
    "\n"
    "temp      demo.h  1  0  short   0.1    -273.15  \"\\u00b0C \\\"inner\\\" \\\\ \\n\"  -  -\n"
    "\t setpoint demo.h 3 2 short 0.5 10 \"\" register 1,2\r\n"
    "valve demo.h 4 5 bit 1 0 - coil 255,65535\n"
    "tiny siemens.h 3 2 float 1e-07 0 \"m/s\" float 0,ORG_DB,5,20\n"
    "flag siemens.h 1 3 bit 1 0 - bit 0,4,0,8191.7\n"
    "level ppi.h 2 0 int 3 -1 - int 31,daveDB,1,64";

TEST(TagTable, ParseAndFormatGiveTheSameTable) {
  otTagTable t;
  std::string error;
  ASSERT_EQ(t.parse(kTable, &error), 0) << error;
  ASSERT_EQ(t.tags.size(), 6u);
  EXPECT_EQ(fields(t.tags[0]), fields({"temp", "demo.h", 1, 0, otTag::SHORT, 0.1, -273.15,
                                       "\\u00b0C \"inner\" \\ \n", "", ""}));  // \u stays
  EXPECT_EQ(fields(t.tags[1]),
            fields({"setpoint", "demo.h", 3, 2, otTag::SHORT, 0.5, 10, "", "register", "1,2"}));
  EXPECT_EQ(t.find("level"), 5);
  EXPECT_EQ(t.find("nope"), -1);

  const std::string text = t.format();
  EXPECT_EQ(text.compare(0, 6, "# name"), 0) << text;
  otTagTable back;
  ASSERT_EQ(back.parse(text.c_str(), &error), 0) << error << "\n" << text;
  // Numbers no short decimal text holds come back bit for bit too.
  otTag odd = t.tags[0];
  odd.name = "odd";
  odd.scale = 1.0 / 3.0;
  odd.offset = -0.1 - 0.2;
  ASSERT_EQ(t.add(odd, &error), 0) << error;
  ASSERT_EQ(back.parse(t.format().c_str(), &error), 0) << error;
  ASSERT_EQ(back.tags.size(), t.tags.size());
  for (size_t i = 0; i < t.tags.size(); i++)
    EXPECT_EQ(fields(back.tags[i]), fields(t.tags[i]));
  EXPECT_EQ(back.format(), t.format());
}

struct Refusal {
  const char* line;
  const char* reason;
};

TEST(TagTable, RefusesABadLineWithItsNumberAndReason) {
  const Refusal cases[] = {
      {"a demo.h 1 0 word 1 0 - - -", "unknown type \"word\""},
      {"1x demo.h 1 0 short 1 0 - - -", "name \"1x\" is not an identifier"},
      {"good demo.h 1 0 short 1 0 - - -", "duplicate name \"good\""},
      {"a demo.h 1 0 bit 1 0 - coil -", "write \"coil\" needs an address \"slave,adr\""},
      {"a demo.h 1 0 short 1 0 - - ", "9 fields"},
      {"a demo.h 1 0 short 1 0 - - - - extra", "12 fields"},
      {"a demo.h 1 0 short 1 0 % - -", "unit \"%\" is neither a quoted text nor -"},
      {"a demo.h 1 0 short 1 0 \"open - -", "no closing quote"},
      {"a demo.h 1 0 short 1 0 \"x\"y - -", "text after the closing quote"},
      {"a \"demo.h\" 1 0 short 1 0 - - -", "the header must not be quoted"},
      {"a demo.h 0 0 short 1 0 - - -", "cycle 0 is out of range"},
      {"a demo.h 1 1x short 1 0 - - -", "index \"1x\" is not a number"},
      {"a demo.h 1 -1 short 1 0 - - -", "index -1 is out of range"},
      {"a demo.h 1 0 short 1,5 0 - - -", "scale \"1,5\" is not a finite number"},
      {"a demo.h 1 0 short nan 0 - - -", "scale \"nan\" is not a finite number"},
      {"a demo.h 1 0 short 0 0 - - -", "scale 0"},
      {"a demo.h 1 0 short 1 0 - - 1,2", "a read-only tag takes no address"},
      {"a demo.h 1 0 short 1 0 - poke 1,2", "unknown write \"poke\""},
      {"a demo.h 1 0 short 1 0 - coil 1,2", "write \"coil\" needs type bit"},
      {"a demo.h 1 0 int 1 0 - register 1,2", "it needs type short or ushort"},
      {"a demo.h 1 0 bit 1 0 - coil 1,2,3", "address \"1,2,3\" is not \"slave,adr\""},
      {"a demo.h 1 0 bit 1 0 - coil 256,2", "slave 256 is out of range (0..255)"},
      {"a demo.h 1 0 bit 1 0 - coil 1,65536", "coil 65536 is out of range"},
      {"a s.h 1 0 int 1 0 - short 0,ORG_DB,1,0", "write \"short\" does not match type \"int\""},
      {"a s.h 1 0 bit 1 0 - bit 0,ORG_DB,1,0", "is not \"slave,org,db,start.bit\""},
      {"a s.h 1 0 short 1 0 - short 0,ORG_DB,1,0.1", "is not \"slave,org,db,start\""},
      {"a s.h 1 0 bit 1 0 - bit 0,ORG_DB,1,8192.0", "start 8192 is out of range (0..8191)"},
      {"a s.h 1 0 bit 1 0 - bit 0,ORG_DB,1,1.8", "bit 8 is out of range (0..7)"},
      {"a s.h 1 0 int 1 0 - int 0,ORG_DB,1,65533", "start 65533 is out of range (0..65532)"},
      {"a s.h 1 0 int 1 0 - int 0,ORG_XX,1,0", "org \"ORG_XX\" is not an organisation code"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.line);
    otTagTable t;
    std::string error;
    const std::string text = std::string("# head\ngood demo.h 1 0 short 1 0 - - -\n") + c.line;
    EXPECT_EQ(t.parse(text.c_str(), &error), -1);
    EXPECT_EQ(error.compare(0, 8, "line 3: "), 0) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    // The lines before the bad one stay read.
    ASSERT_EQ(t.tags.size(), 1u);
    EXPECT_EQ(t.tags[0].name, "good");
  }
}

TEST(TagTable, RefusesOverlongLinesAndTooManyTags) {
  otTagTable t;
  std::string error;
  std::string line = "a demo.h 1 0 short 1 0 \"" + std::string(4096, 'u') + "\" - -";
  EXPECT_EQ(t.parse(("# x\n" + line).c_str(), &error), -1);
  EXPECT_EQ(error, "line 2: longer than 4096 bytes");
  // 4096 bytes exactly are fine.
  line = "a demo.h 1 0 short 1 0 \"" + std::string(4096 - 29, 'u') + "\" - -";
  ASSERT_EQ(line.size(), 4096u);
  EXPECT_EQ(t.parse(line.c_str(), &error), 0) << error;

  std::string many;
  for (int i = 0; i <= 100000; i++)
    many += "t" + std::to_string(i) + " demo.h 1 0 short 1 0 - - -\n";
  EXPECT_EQ(t.parse(many.c_str(), &error), -1);
  EXPECT_EQ(error, "line 100001: more than 100000 tags");
  EXPECT_EQ(t.tags.size(), 100000u);
}

TEST(TagTable, WritesAFileThatReadsBackAndReplacesItWhole) {
  ottest::TempDir dir;
  const std::string path = dir.file("tags.txt");
  otTagTable t;
  std::string error;
  ASSERT_EQ(t.parse(kTable, &error), 0) << error;
  ASSERT_EQ(t.write(path.c_str(), &error), 0) << error;
  otTagTable back;
  ASSERT_EQ(back.read(path.c_str(), &error), 0) << error;
  EXPECT_EQ(back.format(), t.format());
  // A table that could not be read back is not written over the good one.
  t.tags.push_back(t.tags[0]);
  EXPECT_EQ(t.write(path.c_str(), &error), -1);
  EXPECT_EQ(error, "tag temp: duplicate name \"temp\"");
  t.tags.back().name = "9lives";
  EXPECT_EQ(t.write(path.c_str(), &error), -1);
  ASSERT_EQ(back.read(path.c_str(), &error), 0) << error;
  EXPECT_EQ(back.tags.size(), 6u);
  EXPECT_EQ(ottest::entryCount(dir.path().c_str()), 1);  // no temporary file left
  // A NUL byte cannot hide the lines behind it.
  writeText(path, std::string("a demo.h 1 0 short 1 0 - - -\nb demo.h 1 0 sh\0rt 1 0 - - -\n", 58));
  EXPECT_EQ(back.read(path.c_str(), &error), -1);
  EXPECT_EQ(error, "line 2: holds a NUL byte");
  EXPECT_EQ(back.tags.size(), 1u);
  EXPECT_EQ(back.read(dir.file("none").c_str(), &error), -1);
  EXPECT_NE(error.find("none: No such file"), std::string::npos) << error;
}

// ----- the daemon's header ----------------------------------------------------------------

TEST(DaemonHeader, ReadsWhatTheGeneratorsWrite) {
  otDaemonHeader m = header(generated(HX_DAEMON_MODBUS, "demo.mkmodbus"));
  EXPECT_EQ(m.kind, otDaemonHeader::MODBUS);
  EXPECT_EQ(m.target, "demo");
  EXPECT_EQ(m.sharedMemory, "/tmp/otkit/demo.shm");
  EXPECT_EQ(m.mailbox, "/tmp/otkit/demo.mbx");
  EXPECT_EQ(m.size, 116);
  ASSERT_EQ(m.cycles.size(), 4u);
  const long base[] = {0, 8, 9, 17};
  const int bytes[] = {8, 1, 8, 1}, count[] = {4, 2, 4, 8};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(m.cycles[i].base, base[i]);
    EXPECT_EQ(m.cycles[i].bytes, bytes[i]);
    EXPECT_EQ(m.cycles[i].count, count[i]);
  }
  otDaemonHeader s = header(generated(HX_DAEMON_SIEMENS_TCP, "siemens.mksiemens"));
  ASSERT_EQ(s.cycles.size(), 3u);
  EXPECT_TRUE(s.kind == otDaemonHeader::SIEMENS && s.target == "siemensdaemon" &&
              s.cycles[2].base == 16 && s.cycles[2].bytes == 32 && s.cycles[2].count == -1);
  otDaemonHeader p = header(generated(HX_DAEMON_PPI, "ppi.mkppi"));
  EXPECT_TRUE(p.kind == otDaemonHeader::PPI && p.cycles.size() == 2u);
  // Paths with quotes, backslashes and control characters come back as they were given.
  const std::string odd = "/tmp/a\"b\\c\x01z";
  otDaemonHeader q =
      header(generated(HX_DAEMON_MODBUS, "demo.mkmodbus", "shared_memory=" + odd + "\n"));
  EXPECT_EQ(q.sharedMemory, odd);
}

TEST(DaemonHeader, RefusesWhatIsMissingOrMalformed) {
  const std::string good = generated(HX_DAEMON_MODBUS, "demo.mkmodbus");
  auto without = [&](const std::string& line) {
    std::string t = good;
    size_t at = t.find(line);
    EXPECT_NE(at, std::string::npos) << line;
    return t.erase(at, line.size());
  };
  auto replaced = [&](const std::string& line, const std::string& by) {
    return without(line).insert(good.find(line), by);
  };
  const std::pair<std::string, const char*> edits[] = {
      {"", "line 1: not a daemon header (empty)"},
      {"// PPI Signal assignment of 1x\n", "line 1: target \"1x\" is not an identifier"},
      {without("#define demo_SHARED_MEMORY_SIZE 116\n"), "missing demo_SHARED_MEMORY_SIZE"},
      {without("#define demo_MAILBOX \"/tmp/otkit/demo.mbx\"\n"), "missing demo_MAILBOX"},
      {without("#define demo_CYCLE2_BASE 8\n"), "missing demo_CYCLE2_BASE"},
      {without("#define demo_CYCLE3_NUM 4\n"), "missing demo_CYCLE3_NUM"},
      {replaced("#define demo_CYCLE1_BASE 0\n", "#define demo_CYCLE1_BASE 0x0\n"),
       "line 5: demo_CYCLE1_BASE \"0x0\" is not a number (0..2147483647)"},
      {replaced("#define demo_CYCLE1_BASE 0\n",
                "#define demo_CYCLE1_BASE 0\n#define demo_CYCLE1_BASE 0\n"),
       "line 6: demo_CYCLE1_BASE is defined twice"},
      {replaced("#define demo_MAILBOX \"/tmp/otkit/demo.mbx\"\n", "#define demo_MAILBOX \"/tmp\n"),
       "line 3: demo_MAILBOX is not a string literal"},
      {replaced("#define demo_CYCLE4_BASE 17\n", "#define demo_CYCLE4_BASE 116\n"),
       "cycle 4 (bytes 116..116) lies outside the image (116 bytes)"},
      {replaced("#define demo_CYCLE1_NUM_BYTES 8\n", "#define demo_CYCLE1_NUM_BYTES 3\n"),
       "cycle 1: 3 bytes hold neither 4 coils nor as many registers"},
      {replaced("#define demo_CYCLE1_BASE 0\n", "#define demo_CYCLE100001_BASE 0\n"),
       "line 5: cycle number of demo_CYCLE100001_BASE is out of range (1..100000)"},
  };
  for (const auto& e : edits) {
    otDaemonHeader h;
    std::string error;
    EXPECT_EQ(otReadDaemonHeader(e.first.c_str(), &h, &error), -1) << e.second;
    EXPECT_EQ(error, e.second);
  }
}

TEST(DaemonHeader, ProposesATagForEveryValueThatChecksAgainstIt) {
  const otDaemonHeader m = header(generated(HX_DAEMON_MODBUS, "demo.mkmodbus"));
  std::vector<otTag> tags = otTagTable::propose(m, "demo.h");
  // 4 + 4 registers, 2 inputs and 8 coils.
  ASSERT_EQ(tags.size(), 18u);
  EXPECT_EQ(fields(tags[0]), fields({"demo_c1_0", "demo.h", 1, 0, otTag::SHORT, 1, 0, "", "", ""}));
  EXPECT_EQ(fields(tags[5]), fields({"demo_c2_1", "demo.h", 2, 1, otTag::BIT, 1, 0, "", "", ""}));
  EXPECT_EQ(tags[17].name, "demo_c4_7");
  otTagTable table;
  std::string error;
  for (const otTag& t : tags) {
    EXPECT_EQ(otTagTable::check(t, &m, &error), 0) << t.name << ": " << error;
    EXPECT_EQ(table.add(t, &error), 0) << error;
  }
  EXPECT_EQ(table.add(tags[0], &error), -1);
  EXPECT_EQ(error, "duplicate name \"demo_c1_0\"");

  otDaemonHeader s = header(generated(HX_DAEMON_SIEMENS_TCP, "siemens.mksiemens"));
  s.cycles[0].bytes = 7;  // an odd block ends with a byte tag
  tags = otTagTable::propose(s, "siemens.h");
  ASSERT_EQ(tags.size(), 3u + 1u + 4u + 16u);
  EXPECT_EQ(tags[3].name, "siemensdaemon_c1_6");
  EXPECT_EQ(tags[3].type, otTag::BYTE);
  for (const otTag& t : tags)
    EXPECT_EQ(otTagTable::check(t, &s, &error), 0) << t.name << ": " << error;
}

TEST(DaemonHeader, CheckAllHoldsEveryTagAgainstItsHeader) {
  ottest::TempDir dir;
  writeText(dir.file("demo.h"), generated(HX_DAEMON_MODBUS, "demo.mkmodbus"));
  writeText(dir.file("ppi.h"), generated(HX_DAEMON_PPI, "ppi.mkppi"));
  const std::string good =
      "sine demo.h 1 3 short 1 0 - - -\n"
      "coil7 demo.h 4 7 bit 1 0 - coil 1,7\n"
      "wide demo.h 1 1 int 1 0 - - -\n"
      "p ppi.h 2 15 float 1 0 - float 2,daveDB,1,60\n";
  const Refusal cases[] = {
      {"x demo.h 9 0 short 1 0 - - -", "tag x: cycle 9 is not in demo.h (4 cycles)"},
      {"x demo.h 1 40 short 1 0 - - -", "tag x: index 40 lies outside cycle 1 (8 bytes)"},
      {"x demo.h 1 64 bit 1 0 - - -", "tag x: index 64 lies outside cycle 1 (8 bytes)"},
      {"x demo.h 1 2 int 1 0 - - -", "tag x: index 2 lies outside cycle 1 (8 bytes)"},
      {"x demo.h 2 2 bit 1 0 - - -", "tag x: index 2 lies outside cycle 2 (2 coils)"},
      {"x demo.h 1 0 short 1 0 - short 0,ORG_DB,1,0",
       "tag x: write \"short\" is not a Modbus write (coil, register)"},
      {"x ppi.h 1 0 short 1 0 - short 32,daveDB,1,0", "tag x: slave 32 is out of range (0..31)"},
      {"x ppi.h 1 0 short 1 0 - short 1,ORG_DB,1,0", "tag x: area \"ORG_DB\" is not an area"},
      {"x ppi.h 1 0 bit 1 0 - bit 1,daveDB,1,0.1", "tag x: write \"bit\" is not a PPI write"},
      {"x none.h 1 0 short 1 0 - - -", "none.h: No such file"},
  };
  otTagTable t;
  std::string error;
  ASSERT_EQ(t.parse(good.c_str(), &error), 0) << error;
  EXPECT_EQ(t.checkAll(dir.path().c_str(), &error), 0) << error;
  for (const Refusal& c : cases) {
    ASSERT_EQ(t.parse((good + c.line).c_str(), &error), 0) << error;
    EXPECT_EQ(t.checkAll(dir.path().c_str(), &error), -1) << c.line;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  // Names added behind the parser's back are still caught.
  ASSERT_EQ(t.parse(good.c_str(), &error), 0);
  t.tags.push_back(t.tags[0]);
  EXPECT_EQ(t.checkAll(dir.path().c_str(), &error), -1);
  EXPECT_EQ(error, "tag sine: duplicate name \"sine\"");
}

// ----- the image --------------------------------------------------------------------------

void putBig(Bytes& image, size_t at, unsigned long long v, int n) {
  for (int i = n - 1; i >= 0; i--, v >>= 8)
    image[at + (size_t)i] = (unsigned char)v;
}

// A project folder in a temporary directory: daemon headers whose image and mailbox lie in
// it, the table, and the daemon's side of image and mailbox once made. TearDown removes every
// queue and segment of its files.
// Every writable tag's request, as writeRaw() posts it, leads back to the tag and its value.
void expectRequestsReadBack(otTagImage& image, const std::vector<std::pair<int, double>>& writes,
                            const std::function<Bytes()>& take) {
  for (const auto& w : writes) {
    SCOPED_TRACE(image.tag(w.first).name);
    ASSERT_EQ(image.writeRaw(w.first, w.second), 0);
    Bytes msg = take();
    double raw = -99;
    EXPECT_EQ(image.requestedWrite(msg.data(), (int)msg.size(), &raw), w.first);
    EXPECT_EQ(raw, w.second);
    if (image.tag(w.first).type != otTag::BIT) {
      msg.back() ^= 0x40;  // another value, the same tag
      EXPECT_EQ(image.requestedWrite(msg.data(), (int)msg.size(), &raw), w.first);
      EXPECT_NE(raw, w.second);
    }
    msg[0] ^= 1;  // another slave: no tag
    EXPECT_EQ(image.requestedWrite(msg.data(), (int)msg.size(), &raw), -1);
  }
}

class TagImageTest : public ::testing::Test {
 protected:
  void TearDown() override {
    daemonImage.reset();
    daemonMailbox.reset();
    std::vector<key_t> keys;
    for (const std::string& file : ottest::filesIn(dir))
      keys.push_back(ftok(file.c_str(), 'b'));
    ottest::removeAndExpectGone(
        keys, "queue", [](key_t key) { return msgget(key, 0); },
        [](int id) { msgctl(id, IPC_RMID, nullptr); });
    ottest::removeAndExpectGone(
        keys, "segment", [](key_t key) { return shmget(key, 0, 0); },
        [](int id) { shmctl(id, IPC_RMID, nullptr); });
  }

  std::unique_ptr<otTagImage> load(const std::string& table) {
    writeText(dir.file("tags.txt"), table);
    std::string error;
    std::unique_ptr<otTagImage> image = otTagImage::load(dir.file("tags.txt").c_str(), &error);
    EXPECT_TRUE(image) << error;
    return image;
  }
  // Makes the image and the mailbox as the daemon does, with the image's bytes.
  void startDaemon(const Bytes& bytes) {
    daemonImage.reset(new otSharedMemory(shm.c_str(), bytes.size()));
    daemonMailbox.reset(new otMailbox(mbx.c_str()));
    ASSERT_EQ(daemonImage->write(0, bytes.data(), (int)bytes.size()), (int)bytes.size());
  }
  Bytes take() {
    Bytes buffer(4096);
    int n = daemonMailbox->read(buffer.data(), (int)buffer.size(), 0);
    EXPECT_GE(n, 0) << "no message";
    buffer.resize(n < 0 ? 0 : (size_t)n);
    return buffer;
  }
  ottest::TempDir dir;
  std::string shm = dir.file("d.shm"), mbx = dir.file("d.mbx");
  std::unique_ptr<otSharedMemory> daemonImage;
  std::unique_ptr<otMailbox> daemonMailbox;
};

const char* const kModbusTags =
    "temp     demo.h 1 0 short  0.1 0  - -        -\n"
    "count    demo.h 1 1 ushort 1   0  - -        -\n"
    "total    demo.h 1 1 int    1   0  - -        -\n"
    "blink    demo.h 2 1 bit    1   0  - -        -\n"
    "ratio    demo.h 3 0 float  1   0  - -        -\n"
    "setpoint demo.h 3 2 short  0.5 10 - register 1,2\n"
    "low      demo.h 3 7 byte   1   0  - -        -\n"
    "valve    demo.h 4 5 bit    1   0  - coil     1,5\n";

TEST_F(TagImageTest, ModbusValuesAndFreshnessComeFromTheImage) {
  writeText(dir.file("demo.h"), generated(HX_DAEMON_MODBUS, "demo.mkmodbus",
                                          "shared_memory=" + shm + "\nmailbox=" + mbx + "\n"));
  std::unique_ptr<otTagImage> image = load(kModbusTags);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->daemons(), 1);
  // No daemon yet: nothing is open, nothing is made, and the process goes on.
  double v = 99;
  int fresh = 99;
  long age = 99;
  EXPECT_EQ(image->open(), 0);
  EXPECT_EQ(image->read(0, &v, &fresh, &age), -1);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(fresh, 0);
  EXPECT_EQ(age, -1);
  EXPECT_EQ(image->write(5, 60), -1);
  EXPECT_EQ(ottest::entryCount(dir.path().c_str()), 2);  // demo.h and tags.txt
  // The daemon's files without its segment (the machine was restarted): still no image, and
  // no segment is made that could keep the daemon from starting.
  writeText(shm, "");
  writeText(mbx, "");
  EXPECT_EQ(image->open(), 0);
  EXPECT_LT(shmget(ftok(shm.c_str(), 'b'), 0, 0), 0);
  // A segment smaller than the header's image is not the daemon's.
  {
    otSharedMemory small(shm.c_str(), 20);
    otMailbox box(mbx.c_str());
    EXPECT_EQ(image->open(), 0);
    small.deleteSharedMemory();
  }

  Bytes bytes(116);
  const Bytes blocks = {0xFF, 0x38, 0x9C, 0x40, 0x00, 0x01, 0x86, 0xA0,  // cycle 1
                        0x02,                                            // cycle 2
                        0x3F, 0xC0, 0x00, 0x00, 0x00, 0x64, 0x00, 0xAB,  // cycle 3
                        0x20};                                           // cycle 4
  std::copy(blocks.begin(), blocks.end(), bytes.begin());
  const long long now = (long long)time(nullptr);
  bytes[24] = 1;  // cycle 1 read good 5 s ago
  putBig(bytes, 24 + 8, (unsigned long long)(now - 5), 8);
  bytes[40] = 2;  // cycle 2 failed, last good 100 s ago
  putBig(bytes, 40 + 8, (unsigned long long)(now - 100), 8);
  bytes[56] = 1;  // cycle 3 good now; cycle 4 not read yet
  putBig(bytes, 56 + 8, (unsigned long long)now, 8);
  std::memcpy(&bytes[88 + 20], "OTS1", 4);
  putBig(bytes, 88 + 24, 4, 4);
  startDaemon(bytes);
  ASSERT_EQ(image->open(), 1);

  struct Expected {
    const char* name;
    double value;
    int fresh;
  } expected[] = {{"temp", -20.0, 1}, {"count", 40000, 1}, {"total", 100000, 1}, {"blink", 1, 0},
                  {"ratio", 1.5, 1},  {"setpoint", 60, 1}, {"low", 171, 1},      {"valve", 1, 0}};
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.name);
    int i = image->find(e.name);
    ASSERT_GE(i, 0);
    ASSERT_EQ(image->read(i, &v, &fresh, &age), 0);
    EXPECT_DOUBLE_EQ(v, e.value);
    EXPECT_EQ(fresh, e.fresh);
  }
  image->read(image->find("temp"), &v, &fresh, &age);
  EXPECT_GE(age, 5);
  EXPECT_LE(age, 7);
  image->read(image->find("blink"), &v, &fresh, &age);
  EXPECT_GE(age, 100);
  image->read(image->find("valve"), &v, &fresh, &age);
  EXPECT_EQ(age, -1);
  EXPECT_EQ(image->read(8, &v, &fresh, &age), -1);
  EXPECT_EQ(image->tag(8).name, "");
  // Without a status area the values still read, but none is fresh.
  std::memset(&bytes[88 + 20], 0, 4);
  ASSERT_EQ(daemonImage->write(0, bytes.data(), (int)bytes.size()), 116);
  ASSERT_EQ(image->read(0, &v, &fresh, &age), 0);
  EXPECT_DOUBLE_EQ(v, -20.0);
  EXPECT_EQ(fresh, 0);
  EXPECT_EQ(age, -1);
}

TEST_F(TagImageTest, ModbusWritesPostWhatTheClientPostsAndTheLatestWins) {
  writeText(dir.file("demo.h"), generated(HX_DAEMON_MODBUS, "demo.mkmodbus"));
  std::unique_ptr<otTagImage> image = load(kModbusTags);
  ASSERT_TRUE(image);
  image->setPaths("other", "/nonexistent/a.shm", "/nonexistent/a.mbx");  // not this daemon
  image->setPaths("demo", shm, mbx);
  startDaemon(Bytes(116));
  ASSERT_EQ(image->open(), 1);
  const int setpoint = image->find("setpoint"), valve = image->find("valve");

  // (value - offset) / scale, rounded to the type.
  ASSERT_EQ(image->write(setpoint, 60.2), 0);
  EXPECT_EQ(take(), (Bytes{1, 6, 0, 2, 0, 100}));
  ASSERT_EQ(image->write(setpoint, -5.0), 0);  // raw -30, the register's two's complement
  otModbusClient client(mbx.c_str(), shm.c_str(), 116);
  ASSERT_EQ(client.writePresetSingleRegister(1, 2, -30), 0);
  EXPECT_EQ(take(), take());
  ASSERT_EQ(image->write(setpoint, 60.8), 0);  // raw 101.6
  EXPECT_EQ(take(), (Bytes{1, 6, 0, 2, 0, 102}));
  ASSERT_EQ(image->write(setpoint, -5.8), 0);  // raw -31.6
  EXPECT_EQ(take(), (Bytes{1, 6, 0, 2, 0xFF, 0xE0}));
  ASSERT_EQ(image->write(valve, 1), 0);
  EXPECT_EQ(take(), (Bytes{1, 5, 0, 5, 0xFF, 0x00}));
  ASSERT_EQ(image->write(valve, 0.4), 0);
  EXPECT_EQ(take(), (Bytes{1, 5, 0, 5, 0x00, 0x00}));
  // Refused: out of the type's range, not a number, a read-only tag, no tag.
  EXPECT_EQ(image->write(setpoint, 10 + 0.5 * 32768), -1);
  EXPECT_EQ(image->write(setpoint, 10 + 0.5 * -32769), -1);
  EXPECT_EQ(image->write(valve, 2), -1);
  EXPECT_EQ(image->write(valve, -1), -1);
  EXPECT_EQ(image->write(setpoint, NAN), -1);
  EXPECT_EQ(image->write(image->find("temp"), 1), -1);
  EXPECT_EQ(image->write(-1, 1), -1);
  unsigned char rest[64];
  EXPECT_EQ(daemonMailbox->read(rest, sizeof(rest), 0), -1);

  // A queue that holds one request: the next ones wait, and only the latest is posted.
  struct msqid_ds ds;
  int id = msgget(ftok(mbx.c_str(), 'b'), 0);
  ASSERT_GE(id, 0);
  ASSERT_EQ(msgctl(id, IPC_STAT, &ds), 0);
  ds.msg_qbytes = 6;
  ASSERT_EQ(msgctl(id, IPC_SET, &ds), 0);
  ASSERT_EQ(image->write(setpoint, 20), 0);
  EXPECT_EQ(image->write(setpoint, 30), 1);
  EXPECT_EQ(image->write(setpoint, 40), 1);
  EXPECT_EQ(image->flush(), 1);
  EXPECT_EQ(take(), (Bytes{1, 6, 0, 2, 0, 20}));
  EXPECT_EQ(image->flush(), 0);
  EXPECT_EQ(take(), (Bytes{1, 6, 0, 2, 0, 60}));
  EXPECT_EQ(daemonMailbox->read(rest, sizeof(rest), 0), -1);
  ds.msg_qbytes = 4096;
  ASSERT_EQ(msgctl(id, IPC_SET, &ds), 0);
  expectRequestsReadBack(*image, {{setpoint, -30}, {valve, 1}, {valve, 0}},
                         [this] { return take(); });
}

TEST_F(TagImageTest, SiemensReadsAndWritesInPlcOrder) {
  writeText(dir.file("siemens.h"), generated(HX_DAEMON_SIEMENS_TCP, "siemens.mksiemens"));
  std::unique_ptr<otTagImage> image = load(
      "s_bit    siemens.h 1 3 bit    1 0 - bit    0,ORG_A,0,1.3\n"
      "s_byte   siemens.h 2 0 byte   1 0 - byte   1,2,7,9\n"
      "s_short  siemens.h 3 0 short  2 1 - short  0,ORG_DB,5,10\n"
      "s_ushort siemens.h 3 1 ushort 1 0 - ushort 0,ORG_DB,5,12\n"
      "s_int    siemens.h 3 1 int    1 0 - int    0,ORG_DB,5,14\n"
      "s_float  siemens.h 3 2 float  1 0 - float  0,ORG_DB,5,20\n");
  ASSERT_TRUE(image);
  image->setPaths("", shm, mbx);
  Bytes bytes(130);
  bytes[0] = 0x08;
  bytes[8] = 0x7F;
  const Bytes db = {0xFF, 0xFE, 0xFF, 0xFE, 0x00, 0x01, 0xE2, 0x40, 0xC0, 0x20, 0x00, 0x00};
  std::copy(db.begin(), db.end(), bytes.begin() + 16);
  startDaemon(bytes);
  ASSERT_EQ(image->open(), 1);
  const double expected[] = {1, 127, -3, 65534, 123456, -2.5};
  for (int i = 0; i < 6; i++) {
    double v;
    int fresh;
    long age;
    ASSERT_EQ(image->read(i, &v, &fresh, &age), 0) << i;
    EXPECT_DOUBLE_EQ(v, expected[i]) << image->tag(i).name;
    EXPECT_EQ(fresh, 0);  // no status area written
  }
  // The same mailbox gets what the client itself posts, in PLC order.
  otSiemensTCPClient client(mbx.c_str(), shm.c_str(), 130, 1);
  const unsigned char one = 1;
  const float f = -2.5f;
  ASSERT_EQ(image->write(0, 1), 0);
  ASSERT_EQ(client.writeBit(0, 4, 0, 1, 3, 1, &one), 0);
  EXPECT_EQ(take(), take());
  ASSERT_EQ(image->write(1, 200), 0);
  EXPECT_EQ(take(), (Bytes{1, 2, 0, 7, 0, 9, 0, 1, 2, 200}));
  ASSERT_EQ(image->write(2, 1 + 2 * 0x1234), 0);
  EXPECT_EQ(take(), (Bytes{0, 1, 0, 5, 0, 10, 0, 2, 2, 0x12, 0x34}));
  ASSERT_EQ(image->write(4, -2), 0);
  EXPECT_EQ(take(), (Bytes{0, 1, 0, 5, 0, 14, 0, 4, 2, 0xFF, 0xFF, 0xFF, 0xFE}));
  ASSERT_EQ(image->write(5, -2.5), 0);
  ASSERT_EQ(client.writeFloat(0, 1, 5, 20, 1, &f), 0);
  EXPECT_EQ(take(), take());
  EXPECT_EQ(image->write(3, 65536), -1);
  EXPECT_EQ(image->write(5, 1e39), -1);  // beyond a float
  expectRequestsReadBack(*image, {{0, 1}, {1, 200}, {2, -3}, {3, 65534}, {4, -123456}, {5, -2.5}},
                         [this] { return take(); });
}

TEST_F(TagImageTest, PPIWritesWholeValuesByTheirBytes) {
  writeText(dir.file("ppi.h"), generated(HX_DAEMON_PPI, "ppi.mkppi"));
  std::unique_ptr<otTagImage> image = load(
      "p_short ppi.h 1 0 short 1   0 - short 2,daveDB,1,0\n"
      "p_float ppi.h 2 0 float 0.5 0 - float 2,132,1,64\n");
  ASSERT_TRUE(image);
  image->setPaths("ppidaemon", shm, mbx);
  Bytes bytes(header(generated(HX_DAEMON_PPI, "ppi.mkppi")).size);
  bytes[0] = 0x12;
  bytes[1] = 0x34;
  bytes[64] = 0x40;  // 2.0f
  startDaemon(bytes);
  ASSERT_EQ(image->open(), 1);
  double v;
  ASSERT_EQ(image->read(0, &v, nullptr, nullptr), 0);
  EXPECT_EQ(v, 0x1234);
  ASSERT_EQ(image->read(1, &v, nullptr, nullptr), 0);
  EXPECT_EQ(v, 1.0);
  ASSERT_EQ(image->write(0, -2), 0);
  EXPECT_EQ(take(), (Bytes{2, 0x84, 0, 1, 0, 0, 0, 2, 0xFF, 0xFE}));
  ASSERT_EQ(image->write(1, 3), 0);
  otPPIClient client(mbx.c_str(), shm.c_str(), (int)bytes.size(), 1);
  const float f = 6.0f;
  ASSERT_EQ(client.writeFloat(2, 0x84, 1, 64, 4, &f), 0);
  EXPECT_EQ(take(), take());
  expectRequestsReadBack(*image, {{0, -2}, {1, 1.5}}, [this] { return take(); });
}

TEST_F(TagImageTest, LoadRefusesATagThatDoesNotFitItsDaemon) {
  writeText(dir.file("demo.h"), generated(HX_DAEMON_MODBUS, "demo.mkmodbus"));
  writeText(dir.file("tags.txt"), "x demo.h 5 0 short 1 0 - - -\n");
  std::string error;
  EXPECT_FALSE(otTagImage::load(dir.file("tags.txt").c_str(), &error));
  EXPECT_EQ(error, "tag x: cycle 5 is not in demo.h (4 cycles)");
  writeText(dir.file("tags.txt"), "x gone.h 1 0 short 1 0 - - -\n");
  EXPECT_FALSE(otTagImage::load(dir.file("tags.txt").c_str(), &error));
  EXPECT_NE(error.find("tag x: " + dir.file("gone.h") + ": No such file"), std::string::npos)
      << error;
  // Built directly, such a tag is there but never read.
  otTagTable t;
  ASSERT_EQ(t.parse("x demo.h 5 0 short 1 0 - - -\ny other.h 1 0 short 1 0 - - -\n", &error), 0);
  otTagImage direct(t, {{"demo.h", header(generated(HX_DAEMON_MODBUS, "demo.mkmodbus"))}});
  EXPECT_EQ(direct.daemons(), 1);
  double v;
  EXPECT_EQ(direct.read(0, &v, nullptr, nullptr), -1);
  EXPECT_EQ(direct.read(1, &v, nullptr, nullptr), -1);
}

// Records what the gate is asked, and applies the library's role rule.
struct RecordingGate : otWriteGate {
  struct Seen {
    std::string user, mask, target, oldValue, newValue;
    int widget;
    bool accepted;
    std::string why;
  };
  bool allow(const otWriteRequest& r, std::string* why) override {
    return otWriteAllowedByRole(r, why);
  }
  void done(const otWriteRequest& r, bool accepted, const std::string& why) override {
    seen.push_back({r.origin ? r.origin->user : "", r.origin ? r.origin->mask : "", r.target,
                    r.oldValue, r.newValue, r.origin ? r.origin->widget : -2, accepted, why});
  }
  std::vector<Seen> seen;
};

TEST_F(TagImageTest, TheGateSeesEveryWriteOnceAndRefusesByRole) {
  writeText(dir.file("demo.h"), generated(HX_DAEMON_MODBUS, "demo.mkmodbus"));
  std::unique_ptr<otTagImage> image = load(
      "setpoint demo.h 3 2 short  0.5 10 - register 1,2\n"
      "limit    demo.h 3 3 short  1   0  - register 1,3 engineer\n"
      "valve    demo.h 4 5 bit    1   0  - coil     1,5 -\n");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->tag(1).role, OT_ROLE_ENGINEER);
  EXPECT_EQ(image->tag(0).role, OT_ROLE_OPERATOR);
  Bytes bytes(116);
  bytes[14] = 100;  // setpoint raw 100: shown 60
  startDaemon(bytes);
  image->setPaths("", shm, mbx);
  ASSERT_EQ(image->open(), 1);
  RecordingGate gate;
  otSetWriteGate(&gate);
  otWriteOrigin anna;
  anna.user = "anna";
  anna.role = OT_ROLE_OPERATOR;
  anna.mask = "boiler";
  otSetWriteOrigin(&anna);
  otSetWriteWidget(7);

  ASSERT_EQ(image->write(0, 70), 0);
  EXPECT_EQ(take(), (Bytes{1, 6, 0, 2, 0, 120}));
  EXPECT_EQ(image->write(1, 5), -1);  // needs an engineer
  otModbusClient client(mbx.c_str(), shm.c_str(), 116);
  ASSERT_EQ(client.writeSingleCoil(1, 9, 1), 0);  // not through a tag: named by its address
  EXPECT_EQ(take(), (Bytes{1, 5, 0, 9, 0xFF, 0}));
  anna.role = OT_ROLE_VIEWER;
  otSetWriteOrigin(&anna);
  EXPECT_EQ(image->write(2, 1), -1);
  EXPECT_EQ(client.writePresetSingleRegister(1, 3, 4), -1);
  unsigned char rest[64];
  EXPECT_EQ(daemonMailbox->read(rest, sizeof(rest), 0), -1);  // nothing refused was posted

  // A write that waits for a full mailbox is recorded when it is asked for, not again when
  // the queue posts it.
  anna.role = OT_ROLE_ADMIN;
  otSetWriteOrigin(&anna);
  struct msqid_ds ds;
  int id = msgget(ftok(mbx.c_str(), 'b'), 0);
  ASSERT_EQ(msgctl(id, IPC_STAT, &ds), 0);
  ds.msg_qbytes = 6;
  ASSERT_EQ(msgctl(id, IPC_SET, &ds), 0);
  ASSERT_EQ(image->write(1, 5), 0);
  EXPECT_EQ(image->write(1, 6), 1);
  take();
  EXPECT_EQ(image->flush(), 0);
  take();
  otSetWriteOrigin(nullptr);
  ASSERT_EQ(client.writeSingleCoil(1, 9, 0), 0);  // no connection's: allowed, no origin
  take();
  otSetWriteGate(nullptr);
  ASSERT_EQ(image->write(0, 20), 0);  // without a gate nothing is seen
  take();

  ASSERT_EQ(gate.seen.size(), 8u);
  const auto& s = gate.seen;
  EXPECT_EQ(s[0].user + s[0].mask + s[0].target, "annaboilersetpoint");
  EXPECT_EQ(s[0].widget, 7);
  EXPECT_EQ(s[0].oldValue + " " + s[0].newValue, "60 70");
  EXPECT_TRUE(s[0].accepted);
  EXPECT_FALSE(s[1].accepted);
  EXPECT_EQ(s[1].why, "role operator may not write limit (needs engineer)");
  EXPECT_EQ(s[2].target + " " + s[2].oldValue + " " + s[2].newValue, "modbus 1,9 coil - 1");
  EXPECT_TRUE(s[2].accepted);
  EXPECT_EQ(s[3].why, "role viewer may not write valve");
  EXPECT_EQ(s[4].why, "role viewer may not write modbus 1,3 register");
  EXPECT_TRUE(s[5].accepted && s[6].accepted);
  EXPECT_EQ(s[6].newValue, "6");
  EXPECT_EQ(s[7].widget, -2);  // no origin
  ds.msg_qbytes = 4096;
  msgctl(id, IPC_SET, &ds);
}

TEST(TagTable, RoleColumnIsOptionalAndWrittenOnlyWhenUsed) {
  otTagTable t;
  std::string error;
  ASSERT_EQ(t.parse("a demo.h 1 0 short 1 0 - register 1,2\n", &error), 0) << error;
  EXPECT_EQ(t.format().find("role"), std::string::npos);
  ASSERT_EQ(t.parse("a demo.h 1 0 short 1 0 - register 1,2 admin\n", &error), 0) << error;
  otTagTable back;
  ASSERT_EQ(back.parse(t.format().c_str(), &error), 0) << error;
  EXPECT_EQ(back.tags[0].role, OT_ROLE_ADMIN);
  EXPECT_EQ(t.parse("a demo.h 1 0 short 1 0 - register 1,2 viewer\n", &error), -1);
  EXPECT_EQ(error,
            "line 1: role \"viewer\" is not a role that writes (operator, engineer, admin) nor -");
  EXPECT_EQ(t.parse("a demo.h 1 0 short 1 0 - - - engineer\n", &error), -1);
  EXPECT_EQ(error, "line 1: a read-only tag takes no role (-)");
}

}  // namespace
