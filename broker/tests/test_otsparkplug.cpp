// otsparkplug as a real process against Debian's mosquitto on loopback, over a process image
// that the test keeps as a daemon would (values, status area, mailbox): births, data by
// exception, qualities, seq, the Will, rebirths, commands, and a broker that goes.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "brokertest.h"
#include "gdaemon.h"
#include "ipctest.h"
#include "otdaemon.h"
#include "otmailbox.h"
#include "otsharedmemory.h"
#include "ottagimage.h"
#include "ottagtable.h"

namespace {

using Bytes = std::vector<unsigned char>;
using brokertest::Listener;
using brokertest::Mosquitto;

const char kTags[] =
    "temp     demo.h 1 0 short  0.1 0  - -        -\n"
    "count    demo.h 1 1 ushort 1   0  - -        -\n"
    "blink    demo.h 2 1 bit    1   0  - -        -\n"
    "ratio    demo.h 3 0 float  1   0  - -        -\n"
    "setpoint demo.h 3 2 short  0.5 10 - register 1,2\n"
    "valve    demo.h 4 5 bit    1   0  - coil     1,5\n";

std::string example(const char* name) {
  std::ifstream in(std::string(OTKIT_TEST_SOURCE_DIR) + "/../../examples/" + name);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The demo's image kept by the test: what the daemon would read and its status.
class EdgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hxDaemonFiles out;
    ASSERT_EQ(
        0, hxGenerate(HX_DAEMON_MODBUS, "demo.mkmodbus",
                      example("demo.mkmodbus") + "shared_memory=" + shm + "\nmailbox=" + mbx + "\n",
                      &out))
        << out.log;
    ottest::writeFile(dir.file("demo.h"), out.header);
    ottest::writeFile(dir.file("tags.txt"), kTags);
    std::string error;
    ASSERT_EQ(0, otReadDaemonHeader(out.header.c_str(), &header, &error)) << error;
    const otDaemonHeader::Cycle& last = header.cycles.back();
    image.reset(new otSharedMemory(shm.c_str(), header.size));
    mailbox.reset(new otMailbox(mbx.c_str()));
    status.reset(new otDaemonStatus(
        *image, otImageStatus(last.base + last.bytes, (long long)header.cycles.size())));
    status->init();
    put(1, 0, {0xFF, 0x38, 0x9C, 0x40});              // temp -200, count 40000
    put(2, 0, {0x02});                                // blink
    put(3, 0, {0x3F, 0xC0, 0x00, 0x00, 0x00, 0x64});  // ratio 1.5, setpoint 100
    put(4, 0, {0x20});                                // valve
    pass({true, true, true, true});
    ASSERT_TRUE(broker.start()) << broker.output();
  }
  void TearDown() override {
    brokertest::expectCleanStop(edge);
    brokertest::expectCleanStop(mirror);
    status.reset();
    image.reset();
    mailbox.reset();
    std::vector<key_t> keys;
    for (const std::string& f : {shm, mbx, mirrorShm, mirrorMbx})
      if (access(f.c_str(), F_OK) == 0) keys.push_back(ftok(f.c_str(), 'b'));
    ottest::removeImagesAndMailboxes(keys);
  }

  void put(int cycle, int at, const Bytes& b) {
    ASSERT_EQ((int)b.size(), image->write((int)header.cycles[(size_t)cycle - 1].base + at, b.data(),
                                          (int)b.size()));
  }
  void pass(const std::vector<bool>& good) {
    status->passStart();
    int n = 0;
    for (size_t k = 0; k < good.size(); k++) {
      status->cycleDone((int)k + 1, good[k]);
      n += good[k] ? 1 : 0;
    }
    status->passEnd(n);
  }
  void startEdge(const std::string& brokers, const std::vector<std::string>& more = {}) {
    std::vector<std::string> argv = {OTSPARKPLUG,         "-tags=" + dir.file("tags.txt"),
                                     "-group=plant",      "-node=edge1",
                                     "-scan=5",           "-keepalive=5",
                                     "-broker=" + brokers};
    argv.insert(argv.end(), more.begin(), more.end());
    ASSERT_EQ(0, edge.start(argv, dir.file("edge.log")));
  }
  // Starts otspmirror on the test's broker into its own image, with more options.
  void startMirror(const std::vector<std::string>& more) {
    std::vector<std::string> argv = {OTSPMIRROR,
                                     "-tags=" + dir.file("tags.txt"),
                                     "-group=plant",
                                     "-node=edge1",
                                     "-shm=" + mirrorShm,
                                     "-mbx=" + mirrorMbx,
                                     "-broker=" + broker.address()};
    argv.insert(argv.end(), more.begin(), more.end());
    ASSERT_EQ(0, mirror.start(argv, dir.file("mirror.log")));
  }
  // The mirror's image as a display server's bound widgets read and write it.
  std::unique_ptr<otTagImage> mirrorView() {
    std::string error;
    std::unique_ptr<otTagImage> view = otTagImage::load(dir.file("tags.txt").c_str(), &error);
    EXPECT_TRUE(view) << error;
    if (view) view->setPaths("", mirrorShm, mirrorMbx);
    return view;
  }
  // The value of metric m as its birth's type says.
  static double value(const otSpMetric& m, int type) {
    double v = -12345;
    EXPECT_TRUE(m.number(type, &v)) << m.name << " alias " << m.alias;
    return v;
  }
  Bytes take() {
    Bytes buffer(256);
    int n = mailbox->read(buffer.data(), (int)buffer.size(), 0);
    buffer.resize(n < 0 ? 0 : (size_t)n);
    return buffer;
  }
  void command(Listener& l, const std::vector<otSpMetric>& metrics) {
    otSpPayload p;
    p.metrics = metrics;
    std::string bytes;
    otSpEncode(p, &bytes);
    ASSERT_EQ(0, l.session().publish("spBv1.0/plant/NCMD/edge1", bytes, 1, false));
  }

  ottest::TempDir dir;
  std::string shm = dir.file("demo.shm"), mbx = dir.file("demo.mbx");
  otDaemonHeader header;
  std::unique_ptr<otSharedMemory> image;
  std::unique_ptr<otMailbox> mailbox;
  std::unique_ptr<otDaemonStatus> status;
  Mosquitto broker{dir};
  modbussim::Child edge, mirror;
  std::string mirrorShm = dir.file("mirror.shm"), mirrorMbx = dir.file("mirror.mbx");
};

TEST_F(EdgeTest, BirthDataByExceptionQualitySeqAndTheWill) {
  Listener l(broker.address());
  ASSERT_TRUE(l.connect());
  startEdge(broker.address());
  int b = l.next("NBIRTH", 0, 10000);
  ASSERT_GE(b, 0) << edge.output();
  const brokertest::Message birth = l.messages[(size_t)b];
  EXPECT_EQ("spBv1.0/plant/NBIRTH/edge1", birth.topic);
  ASSERT_TRUE(birth.ok);
  EXPECT_EQ(0u, birth.payload.seq);
  const std::vector<otSpMetric>& m = birth.payload.metrics;
  ASSERT_EQ(8u, m.size());
  EXPECT_EQ("Node Control/Rebirth", m[0].name);
  EXPECT_EQ("bdSeq", m[1].name);
  const uint64_t bdSeq = (uint64_t)value(m[1], OT_SP_UINT64);
  struct Want {
    const char* name;
    int type;
    double raw;
  } want[] = {{"temp", OT_SP_INT16, -200},    {"count", OT_SP_UINT16, 40000},
              {"blink", OT_SP_BOOLEAN, 1},    {"ratio", OT_SP_FLOAT, 1.5},
              {"setpoint", OT_SP_INT16, 100}, {"valve", OT_SP_BOOLEAN, 1}};
  for (size_t k = 0; k < 6; k++) {
    const otSpMetric& x = m[k + 2];
    EXPECT_EQ(want[k].name, x.name);
    EXPECT_EQ(k + 1, x.alias);
    EXPECT_EQ(want[k].type, x.datatype);
    EXPECT_EQ(want[k].raw, value(x, want[k].type)) << x.name;
    EXPECT_EQ(-1, x.quality) << x.name;  // good
  }

  // The Eclipse project's codec reads the birth as we meant it.
  std::string peerView = brokertest::peer("decode", brokertest::hex(birth.bytes));
  const std::string tail = peerView.substr(peerView.find("metric name=\"Node"));
  EXPECT_EQ(
      "metric name=\"Node Control/Rebirth\" type=Boolean value=false\n"
      "metric name=\"bdSeq\" type=UInt64 value=" +
          std::to_string(bdSeq) +
          "\n"
          "metric name=\"temp\" alias=1 type=Int16 value=-200\n"
          "metric name=\"count\" alias=2 type=UInt16 value=40000\n"
          "metric name=\"blink\" alias=3 type=Boolean value=true\n"
          "metric name=\"ratio\" alias=4 type=Float value=1.5\n"
          "metric name=\"setpoint\" alias=5 type=Int16 value=100\n"
          "metric name=\"valve\" alias=6 type=Boolean value=true\n",
      tail);
  EXPECT_EQ(0u, peerView.find("seq 0\ntimestamp "));

  // Only what changed, by alias; a cycle that fails makes its tags stale.
  put(1, 0, {0x00, 0x2A});  // temp 42
  int d = l.next("NDATA", (size_t)b + 1, 5000);
  ASSERT_GE(d, 0);
  const otSpPayload& data = l.messages[(size_t)d].payload;
  EXPECT_EQ(1u, data.seq);
  ASSERT_EQ(1u, data.metrics.size());
  EXPECT_EQ(1u, data.metrics[0].alias);
  EXPECT_EQ("", data.metrics[0].name);
  EXPECT_EQ(42, value(data.metrics[0], OT_SP_INT16));
  pass({true, false, true, true});
  d = l.next("NDATA", (size_t)d + 1, 5000);
  ASSERT_GE(d, 0);
  ASSERT_EQ(1u, l.messages[(size_t)d].payload.metrics.size());
  EXPECT_EQ(3u, l.messages[(size_t)d].payload.metrics[0].alias);
  EXPECT_EQ(OT_SP_QUALITY_STALE, l.messages[(size_t)d].payload.metrics[0].quality);
  pass({true, true, true, true});
  d = l.next("NDATA", (size_t)d + 1, 5000);
  ASSERT_GE(d, 0);
  EXPECT_EQ(OT_SP_QUALITY_GOOD, l.messages[(size_t)d].payload.metrics[0].quality);

  // seq counts every message of the node, from 0 to 255 and round again.
  uint64_t seq = l.messages[(size_t)d].payload.seq;
  for (int i = 0; i < 260; i++) {
    put(1, 2, {(unsigned char)(i >> 8), (unsigned char)i});  // count
    int n = l.next("NDATA", (size_t)d + 1, 5000);
    ASSERT_GE(n, 0) << "change " << i;
    for (int k = d + 1; k <= n; k++)
      if (l.messages[(size_t)k].topic.find("/NDATA/") != std::string::npos) {
        EXPECT_EQ(otSpNext(seq), l.messages[(size_t)k].payload.seq);
        seq = l.messages[(size_t)k].payload.seq;
      }
    d = n;
  }
  EXPECT_LT(seq, 256u);

  // Killed: the broker publishes the Will, with the bdSeq of the birth.
  edge.stop(SIGKILL, 5000);
  int death = l.next("NDEATH", (size_t)d + 1, 10000);
  ASSERT_GE(death, 0);

  // The Eclipse codec reads every message of the node as we do: its seq and its metrics, by
  // name or alias, in order (a sample of the data: the first twenty and the last ten).
  std::vector<size_t> sample;
  for (size_t i = (size_t)b; i <= (size_t)death; i++)
    if (i < (size_t)b + 20 || i + 10 > (size_t)death) sample.push_back(i);
  std::vector<std::string> hexes, ours;
  for (size_t i : sample) {
    const otSpPayload& p = l.messages[i].payload;
    hexes.push_back(brokertest::hex(l.messages[i].bytes));
    std::string mine = p.hasSeq ? "seq " + std::to_string(p.seq) + "\n" : "";
    for (const otSpMetric& x : p.metrics)
      mine += x.name.empty() ? "alias=" + std::to_string(x.alias) + "\n" : "name=" + x.name + "\n";
    ours.push_back(mine + "--\n");
  }
  std::string args;
  for (const std::string& h : hexes)
    args += (args.empty() ? "" : " ") + h;
  const std::string theirs = brokertest::peer("decode", args);
  std::string expected, got;
  for (const std::string& o : ours)
    expected += o;
  // Only the parts compared: seq, and each metric's name or (without a name) its alias.
  std::istringstream in(theirs);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, 4, "seq ") == 0 || line == "--") {
      got += line + "\n";
    } else if (line.compare(0, 7, "metric ") == 0) {
      size_t n = line.find("name=\"");
      if (n != std::string::npos)
        got += "name=" + line.substr(n + 6, line.find('"', n + 6) - n - 6) + "\n";
      else
        got += "alias=" +
               line.substr(line.find("alias=") + 6,
                           line.find(' ', line.find("alias=")) - line.find("alias=") - 6) +
               "\n";
    }
  }
  EXPECT_EQ(expected, got);
  size_t ends = 0;
  for (size_t at = got.find("--\n"); at != std::string::npos; at = got.find("--\n", at + 3))
    ends++;
  EXPECT_EQ(sample.size(), ends);
  EXPECT_GT(sample.size(), 20u);
  ASSERT_TRUE(l.messages[(size_t)death].ok);
  ASSERT_EQ(1u, l.messages[(size_t)death].payload.metrics.size());
  EXPECT_EQ("bdSeq", l.messages[(size_t)death].payload.metrics[0].name);
  EXPECT_EQ((double)bdSeq, value(l.messages[(size_t)death].payload.metrics[0], OT_SP_UINT64));
}

TEST_F(EdgeTest, RebirthAndCommandsToWritableTagsOnly) {
  Listener l(broker.address());
  ASSERT_TRUE(l.connect());
  startEdge(broker.address());
  int b = l.next("NBIRTH", 0, 10000);
  ASSERT_GE(b, 0) << edge.output();
  put(1, 0, {0x00, 0x01});
  int d = l.next("NDATA", (size_t)b + 1, 5000);
  ASSERT_GE(d, 0);

  otSpMetric rebirth;
  rebirth.name = "Node Control/Rebirth";
  rebirth.setNumber(OT_SP_BOOLEAN, 1);
  command(l, {rebirth});
  int again = l.next("NBIRTH", (size_t)d + 1, 5000);
  ASSERT_GE(again, 0) << edge.output();
  EXPECT_EQ(0u, l.messages[(size_t)again].payload.seq);
  EXPECT_EQ(8u, l.messages[(size_t)again].payload.metrics.size());

  // The setpoint by alias and the valve by name become the daemon's write requests.
  otSpMetric setpoint;
  setpoint.hasAlias = true;
  setpoint.alias = 5;
  setpoint.setNumber(OT_SP_INT16, -30);
  setpoint.datatype = OT_SP_UNKNOWN;  // as a host sends data of a born metric
  otSpMetric valve;
  valve.name = "valve";
  valve.setNumber(OT_SP_BOOLEAN, 0);
  otSpMetric temp;  // read-only
  temp.name = "temp";
  temp.setNumber(OT_SP_INT16, 5);
  otSpMetric unknown;
  unknown.hasAlias = true;
  unknown.alias = 99;
  unknown.setNumber(OT_SP_INT16, 5);
  command(l, {setpoint, valve, temp, unknown});
  ASSERT_TRUE(edge.waitForOutput("command to alias 99 refused", 5000)) << edge.output();
  EXPECT_NE(std::string::npos, edge.output().find("command to temp refused: the tag is read-only"));
  EXPECT_EQ((Bytes{1, 6, 0, 2, 0xFF, 0xE2}), take());
  EXPECT_EQ((Bytes{1, 5, 0, 5, 0x00, 0x00}), take());
  EXPECT_EQ(Bytes{}, take());
  // A command that is no payload is refused as a whole, and the node lives on.
  ASSERT_EQ(0, l.session().publish("spBv1.0/plant/NCMD/edge1", "\x12\x7f", 1, false));
  ASSERT_TRUE(edge.waitForOutput("NCMD refused: not a Sparkplug B payload", 5000));
  EXPECT_TRUE(edge.running());
}

TEST_F(EdgeTest, ASecondBrokerTakesOverAndTheNodeIsBornThere) {
  Mosquitto second(dir);
  ASSERT_TRUE(second.start()) << second.output();
  Listener on2(second.address());
  ASSERT_TRUE(on2.connect());
  startEdge(broker.address() + "," + second.address());
  {
    Listener on1(broker.address());
    ASSERT_TRUE(on1.connect());
    // A birth on the first broker: asked for, since this listener came after it.
    otSpMetric rebirth;
    rebirth.name = "Node Control/Rebirth";
    rebirth.setNumber(OT_SP_BOOLEAN, 1);
    ASSERT_TRUE(edge.waitForOutput("connected to " + broker.address(), 10000)) << edge.output();
    command(on1, {rebirth});
    ASSERT_GE(on1.next("NBIRTH", 0, 5000), 0) << edge.output();
  }
  broker.kill();
  long long gone = modbussim::nowMs();
  int b = on2.next("NBIRTH", 0, 10000);
  ASSERT_GE(b, 0) << edge.output();
  long long born = modbussim::nowMs();
  printf("second broker: births %lld ms after the first was killed\n", born - gone);
  EXPECT_LT(born - gone, 5000);
  const otSpMetric& bd = on2.messages[(size_t)b].payload.metrics[1];
  EXPECT_EQ("bdSeq", bd.name);
  EXPECT_EQ(1, value(bd, OT_SP_UINT64));  // a new session
  put(1, 0, {0x00, 0x07});
  int d = on2.next("NDATA", (size_t)b + 1, 5000);
  ASSERT_GE(d, 0);
  EXPECT_EQ(7, value(on2.messages[(size_t)d].payload.metrics[0], OT_SP_INT16));
}

// A display server's view of the mirror: the edge's values, fresh while the edge lives, and
// its writes carried to the edge's daemon.
TEST_F(EdgeTest, TheMirrorShowsTheEdgeAndCarriesWritesBack) {
  startEdge(broker.address());
  ASSERT_TRUE(edge.waitForOutput("connected to", 10000)) << edge.output();
  startMirror({"-reorder=200"});
  std::unique_ptr<otTagImage> view = mirrorView();
  ASSERT_TRUE(view);
  const int temp = view->find("temp"), setpoint = view->find("setpoint");
  auto reads = [&](int k, double want) {
    return brokertest::waitFor(
        [&] {
          double v = 0;
          int fresh = 0;
          view->open();
          return view->read(k, &v, &fresh, nullptr) == 0 && fresh == 1 && v == want;
        },
        10000);
  };
  ASSERT_TRUE(reads(temp, -20.0)) << mirror.output() << edge.output();
  EXPECT_TRUE(reads(view->find("ratio"), 1.5));
  EXPECT_TRUE(reads(view->find("valve"), 1));
  put(1, 0, {0x01, 0x00});  // temp 256 raw
  EXPECT_TRUE(reads(temp, 25.6)) << mirror.output();

  // A write to the mirror's setpoint (60 = 10 + 0.5 * 100) reaches the edge's daemon.
  ASSERT_EQ(0, view->write(setpoint, 60));
  Bytes request;
  ASSERT_TRUE(brokertest::waitFor(
      [&] {
        request = take();
        return !request.empty();
      },
      10000))
      << mirror.output() << edge.output();
  EXPECT_EQ((Bytes{1, 6, 0, 2, 0, 100}), request);

  // The edge gone: the mirror's values turn stale.
  edge.stop(SIGKILL, 5000);
  EXPECT_TRUE(brokertest::waitFor(
      [&] {
        double v = 0;
        int fresh = 1;
        return view->read(temp, &v, &fresh, nullptr) == 0 && fresh == 0;
      },
      10000))
      << mirror.output();
  EXPECT_TRUE(mirror.waitForOutput("the edge node edge1 died", 5000)) << mirror.output();
}

TEST_F(EdgeTest, TheBrokerGoneTheMirrorIsStaleAndBothComeBackWithIt) {
  startEdge(broker.address());
  startMirror({"-keepalive=5"});
  std::unique_ptr<otTagImage> view = mirrorView();
  ASSERT_TRUE(view);
  auto fresh = [&](int want) {
    return brokertest::waitFor(
        [&] {
          double v = 0;
          int f = -1;
          view->open();
          return view->read(0, &v, &f, nullptr) == 0 && f == want;
        },
        10000);
  };
  ASSERT_TRUE(fresh(1)) << mirror.output();
  const int port = broker.port();
  broker.kill();
  long long gone = modbussim::nowMs();
  ASSERT_TRUE(fresh(0)) << mirror.output();
  printf("broker killed: the mirror stale after %lld ms\n", modbussim::nowMs() - gone);
  ASSERT_TRUE(broker.start(port)) << broker.output();
  long long back = modbussim::nowMs();
  ASSERT_TRUE(fresh(1)) << mirror.output() << edge.output();
  printf("broker restarted: values flow again after %lld ms\n", modbussim::nowMs() - back);
  EXPECT_LT(modbussim::nowMs() - back, 5000);
  put(1, 0, {0x00, 0x09});
  EXPECT_TRUE(brokertest::waitFor(
      [&] {
        double v = 0;
        int f = 0;
        return view->read(0, &v, &f, nullptr) == 0 && f == 1 && v == 0.9;
      },
      5000));
}

TEST_F(EdgeTest, ABrokerWithPasswordsTakesTheRightOneOnly) {
  Mosquitto locked(dir);
  ASSERT_TRUE(locked.start(0, "edge", "s3cret")) << locked.output();
  startEdge(locked.address(), {"-user=edge", "-password=wrong"});
  ASSERT_TRUE(edge.waitForOutput("not authorised", 10000)) << edge.output();
  edge.stop(SIGTERM, 5000);
  startEdge(locked.address(), {"-user=edge", "-password=s3cret"});
  EXPECT_TRUE(edge.waitForOutput("connected to " + locked.address(), 10000)) << edge.output();
}

TEST_F(EdgeTest, TlsToTheBrokerVerifiedAgainstItsCa) {
  Mosquitto secure(dir);
  secure.useTls();
  ASSERT_TRUE(secure.start()) << secure.output() << ottest::readFile(dir.file("openssl.log"));
  // Without the CA the broker's certificate is not taken; with it the node is born.
  startEdge(secure.address());
  EXPECT_FALSE(edge.waitForOutput("connected to", 2000)) << edge.output();
  edge.stop(SIGTERM, 5000);
  startEdge(secure.address(), {"-cafile=" + secure.caFile()});
  EXPECT_TRUE(edge.waitForOutput("connected to " + secure.address(), 10000)) << edge.output();
}

// A gap in seq, or an alias that was never born: the mirror asks for a rebirth once the
// reorder time-out has passed, and the edge answers it.
TEST_F(EdgeTest, TheMirrorAsksForARebirthAfterAGapOrAnUnbornAlias) {
  Listener l(broker.address());
  ASSERT_TRUE(l.connect());
  startEdge(broker.address());
  ASSERT_GE(l.next("NBIRTH", 0, 10000), 0) << edge.output();
  startMirror({"-reorder=300"});
  int b = l.next("NBIRTH", l.messages.size(), 10000);  // asked for when the mirror came
  ASSERT_GE(b, 0) << mirror.output();
  for (uint64_t alias : {(uint64_t)1, (uint64_t)999}) {
    SCOPED_TRACE(alias);
    otSpPayload p;
    p.hasSeq = true;
    p.seq = alias == 1 ? 77 : otSpNext(l.messages.back().payload.seq);  // a gap, then none
    otSpMetric m;
    m.hasAlias = true;
    m.alias = alias;
    m.setNumber(OT_SP_INT16, 5);
    m.datatype = OT_SP_UNKNOWN;
    p.metrics.push_back(m);
    std::string bytes;
    otSpEncode(p, &bytes);
    const size_t from = l.messages.size();
    const long long sent = modbussim::nowMs();
    ASSERT_EQ(0, l.session().publish("spBv1.0/plant/NDATA/edge1", bytes, 0, false));
    int cmd = l.next("NCMD", from, 5000);
    ASSERT_GE(cmd, 0) << mirror.output();
    EXPECT_GE(modbussim::nowMs() - sent, 250);  // not before the reorder time-out
    ASSERT_FALSE(l.messages[(size_t)cmd].payload.metrics.empty());
    EXPECT_EQ("Node Control/Rebirth", l.messages[(size_t)cmd].payload.metrics[0].name);
    EXPECT_GE(l.next("NBIRTH", (size_t)cmd + 1, 5000), 0) << edge.output();
  }
}

}  // namespace
