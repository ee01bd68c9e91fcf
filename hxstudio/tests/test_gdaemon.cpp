// The daemon generators: offsets and sizes of the process image, what they print, the
// failures that end them, and the lines of the generated sources that carry the description.
// Generation is checked in memory; the tools are run as processes for files and exit status.
#include "gdaemon.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <string>

#include "testutil.h"

namespace {

hxDaemonFiles generate(int kind, const std::string& text, const char* path = "p.mkmodbus") {
  hxDaemonFiles out;
  EXPECT_EQ(hxGenerate(kind, path, text, &out), 0) << out.log;
  return out;
}

// The log of a failing generation; the failure must leave no output.
std::string failure(int kind, const std::string& text) {
  hxDaemonFiles out;
  EXPECT_EQ(hxGenerate(kind, "p.mkmodbus", text, &out), -1) << out.log;
  EXPECT_EQ(out.header, "");
  EXPECT_EQ(out.source, "");
  return out.log;
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

const char kSocket[] = "communication=socket\n";

TEST(ModbusGenerator, TemplateGivesTheDesignedOffsetsAndEcho) {
  std::string project = ottest::readFile(std::string(HX_EXAMPLES_DIR) + "/modbus.mkmodbus");
  hxDaemonFiles out = generate(HX_DAEMON_MODBUS, project, "dir/modbusdaemon.mkmodbus");
  const int bases[] = {0, 1, 2, 8, 14, 15, 16}, bytes[] = {1, 1, 6, 6, 1, 1, 1};
  for (int k = 1; k <= 7; k++) {
    std::string c = "modbusdaemon_CYCLE" + std::to_string(k);
    EXPECT_TRUE(has(out.header, "\n#define " + c + "_BASE " + std::to_string(bases[k - 1]) +
                                    "\n#define " + c + "_NUM 3\n#define " + c + "_NUM_BYTES " +
                                    std::to_string(bytes[k - 1]) + "\n"))
        << out.header;
  }
  EXPECT_TRUE(has(out.header,
                  "#define modbusdaemon_CYCLE7_NUM_BYTES 1\n"
                  "\n// 16-bit counters in host byte order; they start again at 0 after 32767.\n"
                  "#define modbusdaemon_LIFE_COUNTER_BASE 17\n"
                  "#define modbusdaemon_READ_ERROR_COUNT_BASE 19\n"
                  "#define modbusdaemon_WRITE_ERROR_COUNT_BASE 21\n"));
  // The status area follows: 7 cycle records of 16 bytes and the daemon's 28 bytes.
  EXPECT_TRUE(has(out.header, "\n#define modbusdaemon_SHARED_MEMORY_SIZE 163\n"));
  EXPECT_EQ(out.header.substr(0, out.header.find("\n\n")),
            "// Modbus Signal assignment of modbusdaemon\n"
            "#define modbusdaemon_SHARED_MEMORY \"/tmp/otkit/modbus.shm\"\n"
            "#define modbusdaemon_MAILBOX \"/tmp/otkit/modbus.mbx\"");
  EXPECT_EQ(out.log,
            "target=modbusdaemon\nshared_memory=/tmp/otkit/modbus.shm\n"
            "mailbox=/tmp/otkit/modbus.mbx\ncommunication=socket\ntty=/dev/ttyS0\n"
            "baudrate=9600\nrtscts=1\nparity=0\nprotocol=0\ntcpadr=localhost\ntcpport=502\n");
  EXPECT_EQ(out.headerPath, "dir/modbusdaemon.h");
  EXPECT_EQ(out.sourcePath, "dir/modbusdaemon.cpp");
  EXPECT_EQ(out.programName, "modbusdaemon");
  EXPECT_TRUE(
      has(out.source, "  otModbusDaemonDevice device(\"localhost\", 502, MODBUS_IDLETIME);\n"));
  EXPECT_TRUE(has(out.source,
                  "  config.image       = \"/tmp/otkit/modbus.shm\";\n"
                  "  config.imageSize   = 163;\n"
                  "  config.mailbox     = \"/tmp/otkit/modbus.mbx\";\n"
                  "  config.target      = \"modbusdaemon\";\n"
                  "  config.cycles      = cycles;\n"
                  "  config.cycleCount  = 7;\n"));
  EXPECT_TRUE(has(out.source, "#define MODBUS_IDLETIME (4*1000)/96\n"));
  EXPECT_TRUE(has(out.source,
                  "  {modbusdaemon_CYCLE4_BASE, modbusdaemon_CYCLE4_NUM_BYTES, 4, 4, 0, 0, 3},\n"));
  // the watchdog of a Modbus daemon, and the pause a pass without cycles takes
  EXPECT_TRUE(has(out.source, "  config.watchdogMs  = 60000;\n"));
  EXPECT_TRUE(has(out.source, "  config.emptyPassMs = MODBUS_IDLETIME;\n"));
  EXPECT_TRUE(has(out.source, "// Attention: this program must be run as super user\n"));
  EXPECT_TRUE(has(out.source, "#include \"modbusdaemon.h\"\n"));
  EXPECT_FALSE(has(out.source, "config.event"));
}

TEST(ModbusGenerator, BlockSizesAndCycleNumbering) {
  hxDaemonFiles out =
      generate(HX_DAEMON_MODBUS, std::string(kSocket) +
                                     "cycle7 slave=1 function=2 start_adr=0 num_register=16\n"
                                     "cycle9 slave=1 function=1 start_adr=0 num_register=17\n"
                                     "cycle1 num_register=3 start_adr=5 function=4 slave=9\n");
  EXPECT_TRUE(has(out.header,
                  "#define p_CYCLE1_BASE 0\n#define p_CYCLE1_NUM 16\n"
                  "#define p_CYCLE1_NUM_BYTES 2\n"));
  EXPECT_TRUE(has(out.header,
                  "#define p_CYCLE2_BASE 2\n#define p_CYCLE2_NUM 17\n"
                  "#define p_CYCLE2_NUM_BYTES 3\n"));
  EXPECT_TRUE(has(out.header,
                  "#define p_CYCLE3_BASE 5\n#define p_CYCLE3_NUM 3\n"
                  "#define p_CYCLE3_NUM_BYTES 6\n"));
  EXPECT_FALSE(has(out.header, "CYCLE7"));
  EXPECT_TRUE(has(out.header, "#define p_SHARED_MEMORY_SIZE 93\n"));
  EXPECT_TRUE(has(out.source, "{p_CYCLE3_BASE, p_CYCLE3_NUM_BYTES, 9, 4, 0, 5, 3},"));
  EXPECT_TRUE(has(out.source, "config.cycleCount  = 3;\n"));

  out = generate(HX_DAEMON_MODBUS, kSocket);
  EXPECT_FALSE(has(out.header, "CYCLE1"));
  // no table (an array cannot be empty), no cycles for the runtime
  EXPECT_FALSE(has(out.source, "otDaemonCycle"));
  EXPECT_FALSE(has(out.source, "config.cycle"));
  EXPECT_TRUE(has(out.header, "_LIFE_COUNTER_BASE 0\n"));
  EXPECT_TRUE(has(out.header, "_SHARED_MEMORY_SIZE 34\n"));
}

TEST(ModbusGenerator, SettingsAreReadOnlyFromTheFirstColumn) {
  hxDaemonFiles out = generate(HX_DAEMON_MODBUS,
                               "communication=socket\n target=no\n#target=no\ntarget=yes # c\n"
                               "tcpport=1502   # comment\nbaudrate=19200\n"
                               "eventlog port=6001 host=evhost\n");
  EXPECT_TRUE(has(out.log, "target=yes\n"));
  EXPECT_TRUE(has(out.log, "tcpport=1502\n"));
  EXPECT_TRUE(has(out.log, "baudrate=19200\n"));
  EXPECT_TRUE(has(out.log, "eventlog host=evhost port=6001\n"));
  EXPECT_TRUE(has(out.header, "#define yes_SHARED_MEMORY"));
  EXPECT_TRUE(has(out.source, "#define MODBUS_IDLETIME (4*1000)/192\n"));
  // The header is included by its file name, whatever the target.
  EXPECT_TRUE(has(out.source, "#include \"p.h\"\n"));
  EXPECT_TRUE(has(out.source, "  config.target      = \"yes\";\n"));
  EXPECT_TRUE(has(out.source,
                  "  config.eventHost   = \"evhost\";\n"
                  "  config.eventPort   = 6001;\n"));
}

TEST(ModbusGenerator, CommunicationAndSerialSettings) {
  for (const char* line : {"communication=serial\n", "communication=rs485\n"}) {
    hxDaemonFiles out = generate(HX_DAEMON_MODBUS, std::string(line) + "tty=/dev/ttyUSB0\n");
    EXPECT_TRUE(has(out.log, "communication=serial\n")) << line;
    EXPECT_TRUE(has(out.source, "#define SERIAL_DEVICE   \"/dev/ttyUSB0\"\n"));
    EXPECT_TRUE(has(out.source,
                    "otModbusDaemonDevice device(SERIAL_DEVICE, B9600, 1, otSerial::NONE, "
                    "otModbus::MODBUS_RTU, MODBUS_IDLETIME);"));
  }
  hxDaemonFiles out = generate(HX_DAEMON_MODBUS, "communication=tcp_socket_please\n");
  EXPECT_TRUE(has(out.log, "communication=socket\n"));
  out = generate(HX_DAEMON_MODBUS,
                 "communication=serial\nprotocol=1\nparity=2\nrtscts=0\nbaudrate=38400\n");
  EXPECT_TRUE(has(out.source,
                  "device(SERIAL_DEVICE, B38400, 0, otSerial::EVEN, otModbus::MODBUS_ASCII, "
                  "MODBUS_IDLETIME);"));
  // ASCII exists on serial lines only.
  out = generate(HX_DAEMON_MODBUS, "communication=socket\nprotocol=1\n");
  EXPECT_TRUE(has(out.source, "device(\"\", 502, MODBUS_IDLETIME);"));
  EXPECT_FALSE(has(out.source, "MODBUS_ASCII"));
  // A speed below 100 baud would divide by zero.
  out = generate(HX_DAEMON_MODBUS, "communication=serial\nbaudrate=50\n");
  EXPECT_TRUE(has(out.source, "#define MODBUS_IDLETIME (4*1000)/1\n"));
}

TEST(ModbusGenerator, Failures) {
  EXPECT_EQ(failure(HX_DAEMON_MODBUS, "tty=/dev/ttyS0\n"),
            "target=p\nshared_memory=\nmailbox=\nundefined communication -> exit\n");
  std::string missing =
      failure(HX_DAEMON_MODBUS, std::string(kSocket) + "cycle1 slave=1 function=3 start_adr=0\n");
  EXPECT_TRUE(has(missing, "\nparameter missing in: cycle1 slave=1 function=3 start_adr=0\n"));
  for (const char* cycle : {"slave=256 function=3 start_adr=0 num_register=1",
                            "slave=1 function=5 start_adr=0 num_register=1",
                            "slave=1 function=3 start_adr=0 num_register=126",
                            "slave=1 function=1 start_adr=0 num_register=2001",
                            "slave=1 function=3 start_adr=0 num_register=0",
                            "slave=1 function=3 start_adr=70000 num_register=1"}) {
    std::string log = failure(HX_DAEMON_MODBUS, std::string(kSocket) + "cycle " + cycle + "\n");
    EXPECT_TRUE(has(log, std::string("parameter out of range in: cycle ") + cycle + "\n")) << log;
  }
}

TEST(ModbusGenerator, TextsReachTheSourceAsLiterals) {
  hxDaemonFiles out = generate(HX_DAEMON_MODBUS,
                               "communication=socket\nshared_memory=/tmp/a\"b\\c\n"
                               "tcpadr=h\");system(\"x\n");
  EXPECT_TRUE(has(out.source, "config.image       = \"/tmp/a\\\"b\\\\c\";"));
  EXPECT_TRUE(has(out.source, "device(\"h\\\");system(\\\"x\", 502, MODBUS_IDLETIME);"));
}

TEST(SiemensGenerator, TemplateOffsetsSlavesAndCycles) {
  std::string project = ottest::readFile(std::string(HX_EXAMPLES_DIR) + "/siemens.mksiemens");
  hxDaemonFiles out = generate(HX_DAEMON_SIEMENS_TCP, project);
  EXPECT_TRUE(has(out.header,
                  "#define siemensdaemon_CYCLE1_BASE 0\n"
                  "#define siemensdaemon_CYCLE1_NUM_BYTES 8\n"));
  EXPECT_TRUE(has(out.header, "#define siemensdaemon_CYCLE2_BASE 8\n"));
  EXPECT_TRUE(has(out.header,
                  "#define siemensdaemon_CYCLE3_BASE 16\n"
                  "#define siemensdaemon_CYCLE3_NUM_BYTES 32\n"
                  "\n// 16-bit counters in host byte order; they start again at 0 after 32767.\n"
                  "#define siemensdaemon_LIFE_COUNTER_BASE 48\n"));
  EXPECT_TRUE(has(out.header, "\n#define siemensdaemon_SHARED_MEMORY_SIZE 130\n"));
  EXPECT_EQ(out.log.substr(0, out.log.find("target=")),
            "slave=0 adr=192.168.1.101 type=S7_200 fetch_write=1 function=-1 rack_slot=-1\n"
            "slave=1 adr=192.168.1.102 type=S7_200 fetch_write=0 function=-1 rack_slot=-1\n");
  EXPECT_EQ(out.headerPath, "siemensdaemon.h");
  EXPECT_TRUE(has(out.source, "  {1, \"192.168.1.102\", otSiemensTCP::S7_200, 0, -1, -1, 102},\n"));
  EXPECT_TRUE(has(out.source, "#define siemensdaemon_CYCLE_TIME 50\n"));
  EXPECT_TRUE(has(out.source, "  config.passPauseMs = siemensdaemon_CYCLE_TIME;\n"));
  EXPECT_TRUE(has(out.source, "  otSiemensDaemonDevice device(plcs, 2);\n"));
  EXPECT_TRUE(has(out.source, "  {16, 32, 0, otSiemensTCP::ORG_DB, 0, 0, 32},\n"));
  // Siemens daemons have no watchdog.
  EXPECT_FALSE(has(out.source, "watchdogMs"));
  EXPECT_FALSE(has(out.source, "setPort"));

  out = generate(HX_DAEMON_SIEMENS_TCP, "target=plant\nslave=3 adr=10.0.0.1 type=LOGO port=1102\n");
  EXPECT_TRUE(has(out.header, "#define plant_SHARED_MEMORY_SIZE 34\n"));
  EXPECT_TRUE(has(out.source, "  {3, \"10.0.0.1\", otSiemensTCP::LOGO, 1, -1, -1, 1102},\n"));
  EXPECT_TRUE(has(out.source, "otSiemensDaemonDevice device(plcs, 1);"));
  EXPECT_EQ(out.sourcePath, "plant.cpp");
}

TEST(SiemensGenerator, Failures) {
  for (const char* line : {"slave=1 type=S7_300", "slave=1 adr=h", "slave= adr=h type=S7_300",
                           "cycle1 slave=0 org=ORG_DB", "cycle1 slave=0 dbnum=1 start=0 len=4"}) {
    std::string log = failure(HX_DAEMON_SIEMENS_TCP, std::string(line) + "\n");
    EXPECT_TRUE(has(log, std::string("parameter missing in: ") + line + "\n")) << log;
  }
  for (const char* line : {"slave=256 adr=h type=S7_300", "slave=1 adr=h type=S7_9000",
                           "cycle1 slave=0 org=ORG_X dbnum=1 start=0 len=4",
                           "cycle1 slave=0 org=ORG_DB dbnum=1 start=0 len=4097"}) {
    std::string log = failure(HX_DAEMON_SIEMENS_TCP, std::string(line) + "\n");
    EXPECT_TRUE(has(log, std::string("parameter out of range in: ") + line + "\n")) << log;
  }
}

TEST(PpiGenerator, TemplateOffsetsAndSource) {
  std::string project = ottest::readFile(std::string(HX_EXAMPLES_DIR) + "/ppi.mkppi");
  hxDaemonFiles out = generate(HX_DAEMON_PPI, project);
  EXPECT_TRUE(has(out.header,
                  "#define ppidaemon_CYCLE2_BASE 64\n"
                  "#define ppidaemon_CYCLE2_NUM_BYTES 64\n"
                  "\n// 16-bit counters in host byte order; they start again at 0 after 32767.\n"
                  "#define ppidaemon_LIFE_COUNTER_BASE 128\n"));
  EXPECT_TRUE(has(out.header, "\n#define ppidaemon_SHARED_MEMORY_SIZE 194\n"));
  EXPECT_EQ(out.log,
            "target=ppidaemon\nshared_memory=/tmp/otkit/ppi.shm\nmailbox=/tmp/otkit/ppi.mbx\n"
            "tty=/dev/ttyS0\nbaudrate=9600\ndave_speed=daveSpeed187k\ngenerate:ppidaemon.cpp\n");
  EXPECT_TRUE(has(out.source, "  {64, 64, 2, daveDB, 1, 64, 64},\n"));
  EXPECT_TRUE(has(out.source, "  config.passPauseMs = IDLETIME;\n  config.watchdogMs  = 5000;\n"));
  EXPECT_TRUE(has(out.source,
                  "di = daveNewInterface(fds, \"IF1\", 0, daveProtoPPI, "
                  "daveSpeed187k);"));
  EXPECT_TRUE(has(out.source, "#define BAUDRATE \"9600\"\n"));
  EXPECT_TRUE(has(out.source, "#define IDLETIME 50\n"));

  out = generate(HX_DAEMON_PPI, "");  // the defaults
  EXPECT_TRUE(has(out.log, "tty=/dev/ttyS0\nbaudrate=9600\ndave_speed=daveSpeed187k\n"));
  EXPECT_TRUE(has(out.header, "#define ppidaemon_SHARED_MEMORY_SIZE 34\n"));
}

TEST(PpiGenerator, Failures) {
  std::string log = failure(HX_DAEMON_PPI, "cycle1 slave=2 area=daveDB dbnum=1 start=0\n");
  EXPECT_TRUE(has(log, "parameter missing in: cycle1 slave=2 area=daveDB dbnum=1 start=0\n"));
  for (const char* line :
       {"cycle1 slave=0 area=daveDB dbnum=1 start=0 len=4",
        "cycle1 slave=32 area=daveDB dbnum=1 start=0 len=4",
        "cycle1 slave=2 area=daveNothing dbnum=1 start=0 len=4", "dave_speed=daveSpeedOfLight"}) {
    log = failure(HX_DAEMON_PPI, std::string(line) + "\n");
    EXPECT_TRUE(has(log, std::string("parameter out of range in: ") + line + "\n")) << log;
  }
}

// What would give a daemon that silently does nothing or fails every pass is refused, with
// the reason and no output.
TEST(Generators, RefuseDescriptionsThatCannotWork) {
  const std::string s7slave = "slave=0 adr=h type=S7_300\n";
  struct Case {
    int kind;
    std::string text, reason;
  } cases[] = {
      {HX_DAEMON_MODBUS, "communication=socket\ntcpport=0\n", "tcpport 0 is out of range"},
      {HX_DAEMON_MODBUS, "communication=socket\ntcpport=65536\n", "tcpport 65536 is out of"},
      {HX_DAEMON_MODBUS, "communication=socket\ntcpport=1x\n", "not a number in: tcpport=1x"},
      {HX_DAEMON_MODBUS, "communication=serial\nbaudrate=x\n", "not a number in: baudrate=x"},
      {HX_DAEMON_MODBUS, "communication=socket\neventlog host=h port=0\n",
       "parameter out of range in: eventlog host=h port=0"},
      {HX_DAEMON_MODBUS,
       "communication=socket\ncycle1 slave=1 function=3 start_adr=65500 "
       "num_register=37\n",
       "parameter out of range in: cycle1"},
      {HX_DAEMON_MODBUS,
       "communication=socket\ncycle1 slave=1x function=3 start_adr=0 "
       "num_register=1\n",
       "not a number in: cycle1 slave=1x"},
      {HX_DAEMON_MODBUS, "communication=socket\ntarget=my-plant\n",
       "target is not a C identifier: my-plant"},
      {HX_DAEMON_SIEMENS_TCP, s7slave + "cycle1 slave=1 org=ORG_DB dbnum=1 start=0 len=4\n",
       "undefined slave in: cycle1 slave=1"},
      {HX_DAEMON_SIEMENS_TCP, s7slave + "cycle1 slave=0 org=ORG_DB dbnum=1 start=65535 len=2\n",
       "parameter out of range in: cycle1"},
      {HX_DAEMON_SIEMENS_TCP, s7slave + "cycle1 slave=0 org=ORG_DB dbnum=1 start=0 len=4x\n",
       "not a number in: cycle1"},
      {HX_DAEMON_SIEMENS_TCP, "slave=0 adr=h type=S7_300 port=0\n", "out of range in: slave=0"},
      {HX_DAEMON_SIEMENS_TCP, "slave=0 adr=" + std::string(101, 'h') + " type=S7_300\n",
       "parameter out of range in: slave=0"},
      {HX_DAEMON_SIEMENS_TCP, "target=../evil\n", "target is not a C identifier: ../evil"},
      {HX_DAEMON_SIEMENS_TCP, "idletime=5O\n", "not a number in: idletime=5O"},
      {HX_DAEMON_PPI, "cycle1 slave=2 area=daveDB dbnum=1 start=0 len=257\n",
       "parameter out of range in: cycle1"},
      {HX_DAEMON_PPI, "target=1st\n", "target is not a C identifier: 1st"},
  };
  for (const Case& c : cases) {
    std::string log = failure(c.kind, c.text);
    EXPECT_TRUE(has(log, c.reason)) << c.text << " gave: " << log;
  }
  // Not refused: blanks and comments after a number, a block that ends at the last address,
  // a target with digits and underscores.
  generate(HX_DAEMON_MODBUS,
           "communication=socket\ntcpport=65535 # top\ntarget=plant_2\n"
           "cycle1 slave=1 function=3 start_adr=65411 num_register=125\n");
  generate(HX_DAEMON_SIEMENS_TCP, s7slave +
                                      "idletime=50 milliseconds\n"
                                      "cycle1 slave=0 org=ORG_DB dbnum=1 start=65532 len=4\n");
}

// The three example project files give these sources, byte for byte. After a deliberate change
// of the generators, regenerate them with
//   OTKIT_UPDATE_GOLDEN=1 ctest -R Golden    (in the build directory)
// and review the difference of the files under hxstudio/tests/golden/ before committing.
TEST(Generators, GoldenSourcesOfTheExamples) {
  const bool update = getenv("OTKIT_UPDATE_GOLDEN") != nullptr;
  struct Case {
    int kind;
    const char* example;
  } cases[] = {{HX_DAEMON_MODBUS, "modbus.mkmodbus"},
               {HX_DAEMON_SIEMENS_TCP, "siemens.mksiemens"},
               {HX_DAEMON_PPI, "ppi.mkppi"}};
  for (const Case& c : cases) {
    std::string project = ottest::readFile(std::string(HX_EXAMPLES_DIR) + "/" + c.example);
    // The path as the tools see it when run in the examples directory.
    hxDaemonFiles out = generate(c.kind, project, c.example);
    for (const auto& file : {std::make_pair(out.headerPath, &out.header),
                             std::make_pair(out.sourcePath, &out.source)}) {
      std::string golden = std::string(HX_GOLDEN_DIR) + "/" + file.first;
      if (update) ottest::writeFile(golden, *file.second);
      EXPECT_EQ(ottest::readFile(golden), *file.second)
          << golden << " differs; see the comment above this test to regenerate it";
    }
  }
}

// The tools as processes: output files, messages and exit status.
int runTool(const char* tool, const std::string& args, std::string* output) {
  std::string command = std::string(HX_TOOLS_DIR) + "/" + tool + " " + args + " > out.txt 2>&1";
  int status = system(command.c_str());
  *output = ottest::readFile("out.txt");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(GeneratorTools, FilesMessagesAndExitStatus) {
  ottest::TempDir dir;
  ottest::ScopedChdir in(dir.path());
  std::string out;
  mkdir("sub", 0755);
  ottest::writeFile("sub/plant.mkmodbus", "communication=socket\n");
  EXPECT_EQ(runTool("mkmodbus", "sub/plant.mkmodbus", &out), 0) << out;
  EXPECT_TRUE(has(ottest::readFile("sub/plant.h"), "#define plant_SHARED_MEMORY_SIZE 34\n"));
  EXPECT_TRUE(has(ottest::readFile("sub/plant.cpp"), "int main("));

  EXPECT_EQ(runTool("mksiemens", "missing.mksiemens", &out), 255);
  EXPECT_EQ(out, "could not open missing.mksiemens\n");

  ottest::writeFile("bad.mkppi", "cycle1 slave=2 area=daveDB\n");
  EXPECT_EQ(runTool("mkppi", "bad.mkppi", &out), 255);
  EXPECT_TRUE(has(out, "parameter missing in: cycle1 slave=2 area=daveDB\n"));
  EXPECT_NE(access("ppidaemon.h", F_OK), 0) << "a faulty description writes no file";

  mkdir("siemensdaemon.cpp", 0755);  // the source cannot be created
  ottest::writeFile("ok.mksiemens", "");
  EXPECT_EQ(runTool("mksiemens", "ok.mksiemens", &out), 255);
  EXPECT_TRUE(has(out, "could not write siemensdaemon.cpp\n"));

  EXPECT_EQ(runTool("mkmodbus", "", &out), 2);
  EXPECT_TRUE(has(out, "usage: mkmodbus"));
}

}  // namespace
