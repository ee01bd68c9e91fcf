// The demo end to end as real processes: otmodbussim plays the plant, a daemon generated from
// the demo project polls it, otsample shows the plant mask to an otclient under Xvfb, which
// saves screenshots; a second client, speaking the protocol itself, moves the setpoint slider,
// and the value comes back through the simulator into the process image.
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QColor>
#include <QImage>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "daemontest.h"
#include "demo.h"
#include "hxtestutil.h"
#include "otmodbusclient.h"

namespace {

using hxtest::Process;
using hxtest::waitFor;

std::vector<std::string> screenshots(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (strncmp(e->d_name, "otclient-", 9) == 0) names.push_back(dir + "/" + e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Pixels of img within tolerance of colour c.
int count(const QImage& img, QColor c, int tolerance = 12) {
  int n = 0;
  for (int y = 0; y < img.height(); y++)
    for (int x = 0; x < img.width(); x++) {
      QColor p = img.pixelColor(x, y);
      if (abs(p.red() - c.red()) <= tolerance && abs(p.green() - c.green()) <= tolerance &&
          abs(p.blue() - c.blue()) <= tolerance)
        n++;
    }
  return n;
}

class PlantDemo : public hxtest::GeneratedDaemon {};

TEST_F(PlantDemo, PlantOnScreenAndWritesComeBack) {
  // The simulator.
  const int simPort = ottest::freePort();
  Process sim;
  ASSERT_TRUE(sim.start(dir.path(), std::string(OTKIT_TOOLS_DIR) + "/otmodbussim",
                        {"-tcp=127.0.0.1:" + std::to_string(simPort), "-simulate"},
                        dir.file("otmodbussim.log")));
  ASSERT_TRUE(waitFor([&] { return sim.log().find("listening") != std::string::npos; }))
      << sim.log();

  // The daemon, from the demo's own project file.
  std::string project = ottest::readFile(std::string(OTKIT_SOURCE_DIR) + "/examples/demo.mkmodbus");
  project = hxtest::withKeys(
      project,
      {{"shared_memory", shm()}, {"mailbox", mbx()}, {"tcpport", std::to_string(simPort)}});
  run("mkmodbus", "demo.mkmodbus", project, "demo.h");
  ASSERT_EQ(def("demo_SHARED_MEMORY_SIZE"), demo_SHARED_MEMORY_SIZE)
      << "the sample was built against another demo header";

  // The display server, then the client under Xvfb with screenshots every second.
  const int port = ottest::freePort();
  setenv("OTKIT_SVGCAT", OTKIT_SVGCAT_PROGRAM, 1);
  Process server;
  ASSERT_TRUE(
      server.start(dir.path(), OTSAMPLE_PROGRAM,
                   {"-port=" + std::to_string(port), "-bind=127.0.0.1", "-mask=1",
                    "-data=" OTSAMPLE_DATA_DIR, "-shm=" + shm(), "-mbx=" + mbx(), "-refresh=500"},
                   dir.file("otsample.log")));
  ASSERT_TRUE(waitFor([&] { return server.log().find("serving") != std::string::npos; }))
      << server.log();
  const std::string shots = dir.file("shots");
  ASSERT_EQ(0, mkdir(shots.c_str(), 0700));
  Process client;
  ASSERT_TRUE(client.start(
      dir.path(), "xvfb-run",
      {"-a", "-s", "-screen 0 1024x768x24", "env", "QT_QPA_PLATFORM=xcb", OTCLIENT_PROGRAM,
       "-shots=" + shots, "-shotevery=1", "127.0.0.1:" + std::to_string(port)},
      dir.file("otclient.log")));

  // The operator's side, played by the test: a second client moves the slider.
  hxtest::Client op(port);
  ASSERT_GE(op.fd, 0);
  std::atomic<bool> stop{false};
  std::atomic<int> syncs{0};
  std::atomic<int> valueShown{-1};  // the last setEnabled of the first value: 1 fresh, 0 stale
  std::mutex seenLock;
  std::string seen;  // what the mask sent to the second client
  auto sawSince = [&](size_t from, const std::string& text) {
    std::lock_guard<std::mutex> hold(seenLock);
    return seen.find(text, from) != std::string::npos;
  };
  std::thread reader([&] {
    while (!stop) {
      std::string line = op.line();
      if (line.empty()) continue;
      {
        std::lock_guard<std::mutex> hold(seenLock);
        seen += line;
      }
      if (line.compare(0, 13, "setEnabled(6,") == 0) valueShown = line[13] == '1' ? 1 : 0;
      if (line.compare(0, 5, "sync(") == 0) {
        // Not op.send: the connection may be going down at the end of the test.
        std::string answer = "synced(" + line.substr(5, line.find(')') - 5) + ")\n";
        if (::send(op.fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) break;
        syncs++;
      }
    }
  });
  ASSERT_TRUE(waitFor([&] { return syncs >= 2; })) << server.log();
  op.send("slider(14,700)\n");
  otModbusClient image(mbx().c_str(), shm().c_str(), demo_SHARED_MEMORY_SIZE);
  EXPECT_TRUE(waitFor([&] { return image.readShort(demo_CYCLE3_BASE, 0) == 700; }))
      << "holding register 0 = " << image.readShort(demo_CYCLE3_BASE, 0);
  op.send("QPushButton(16)\n");  // the valve
  EXPECT_TRUE(waitFor([&] { return image.readBit(demo_CYCLE4_BASE, 0) == 1; }));

  // The plant goes away: the values are greyed and say how old they are. Before, they are shown
  // fresh (on a loaded machine the daemon may miss a read now and then, so wait for it).
  EXPECT_TRUE(waitFor([&] { return valueShown == 1; })) << seen;
  size_t before;
  {
    std::lock_guard<std::mutex> hold(seenLock);
    before = seen.size();
  }
  sim.stop();
  EXPECT_TRUE(waitFor([&] { return valueShown == 0 && sawSince(before, "(stale, "); })) << seen;
  stop = true;
  shutdown(op.fd, SHUT_RDWR);
  reader.join();

  // Screenshots of the plant with values: the tank's level and the trend's curve are there.
  ASSERT_TRUE(waitFor([&] { return screenshots(shots).size() >= 4; }, 30000))
      << client.log() << server.log();
  // The newest file may still be being written: the one before it is whole.
  std::vector<std::string> all = screenshots(shots);
  QImage shot(QString::fromStdString(all[all.size() - 2]));
  ASSERT_FALSE(shot.isNull());
  EXPECT_GE(shot.width(), 900);
  EXPECT_GT(count(shot, QColor(0x30, 0x80, 0xe0)), 200) << "the tank's level";
  EXPECT_GT(count(shot, QColor(0, 60, 200), 30), 30) << "the trend's curve";
  EXPECT_GT(count(shot, QColor(0x30, 0xa0, 0x30)), 50) << "the open valve";
  if (const char* keep = getenv("OTKIT_DEMO_PICTURE")) shot.save(QString::fromLocal8Bit(keep));
  client.stop();
  server.stop();
  sim.stop();
}

}  // namespace
