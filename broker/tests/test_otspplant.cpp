// The demo plant through the broker: otmodbussim, the generated demo daemon polling it,
// otsparkplug on the daemon's image, mosquitto, otspmirror into a second image, and a display
// server's tag image on the mirror. A setpoint written on the mirror travels as NCMD to the
// edge, as a write request to the daemon, as a Modbus write to the simulator, and comes back,
// read from the simulator, in the mirror's image.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "brokertest.h"
#include "daemontest.h"
#include "ottagimage.h"

namespace {

class PlantThroughTheBroker : public hxtest::GeneratedDaemon {
 protected:
  void TearDown() override {
    brokertest::expectCleanStop(edge);
    brokertest::expectCleanStop(mirror);
    std::vector<key_t> keys;
    for (const std::string& f : {dir.file("mirror.shm"), dir.file("mirror.mbx")})
      if (access(f.c_str(), F_OK) == 0) keys.push_back(ftok(f.c_str(), 'b'));
    ottest::removeImagesAndMailboxes(keys);
    hxtest::GeneratedDaemon::TearDown();
  }
  modbussim::Child edge, mirror;
};

TEST_F(PlantThroughTheBroker, ASetpointWrittenOnTheMirrorReachesTheSimulatorAndComesBack) {
#ifdef OTKIT_SANITIZED
  GTEST_SKIP() << "a slow test of the plain suite";
#endif
  ottest::writeFile(dir.file("init.txt"), "holding 0 10\n");
  const int port = ottest::freePort();
  hxtest::Process sim;
  ASSERT_TRUE(sim.start(dir.path(), std::string(OTKIT_TOOLS_DIR) + "/otmodbussim",
                        {"-tcp=127.0.0.1:" + std::to_string(port), "-init=" + dir.file("init.txt")},
                        dir.file("otmodbussim.log")));
  ASSERT_TRUE(hxtest::waitFor([&] { return sim.log().find("listening") != std::string::npos; }))
      << sim.log();
  std::ifstream in(std::string(HX_EXAMPLES_DIR) + "/demo.mkmodbus");
  std::stringstream project;
  project << in.rdbuf() << paths() << "tcpport=" << port << "\nbaudrate=400000\n";
  run("mkmodbus", "demo.mkmodbus", project.str(), "demo.h");
  std::ifstream tags(std::string(HX_EXAMPLES_DIR) + "/demo-broker-tags.txt");
  std::stringstream table;
  table << tags.rdbuf();
  ottest::writeFile(dir.file("tags.txt"), table.str());

  brokertest::Mosquitto broker(dir);
  ASSERT_TRUE(broker.start()) << broker.output();
  ASSERT_EQ(0, edge.start({OTSPARKPLUG, "-tags=" + dir.file("tags.txt"), "-group=demo",
                           "-node=plant", "-scan=10", "-broker=" + broker.address()},
                          dir.file("edge.log")));
  ASSERT_EQ(0, mirror.start({OTSPMIRROR, "-tags=" + dir.file("tags.txt"), "-group=demo",
                             "-node=plant", "-broker=" + broker.address(),
                             "-shm=" + dir.file("mirror.shm"), "-mbx=" + dir.file("mirror.mbx")},
                            dir.file("mirror.log")));
  std::string error;
  std::unique_ptr<otTagImage> view = otTagImage::load(dir.file("tags.txt").c_str(), &error);
  ASSERT_TRUE(view) << error;
  view->setPaths("", dir.file("mirror.shm"), dir.file("mirror.mbx"));
  const int setpoint = view->find("setpoint");
  auto shows = [&](double want) {
    return hxtest::waitFor([&] {
      double v = 0;
      int fresh = 0;
      view->open();
      return view->read(setpoint, &v, &fresh, nullptr) == 0 && fresh == 1 && v == want;
    });
  };
  ASSERT_TRUE(shows(10)) << mirror.output() << edge.output() << daemon.log();
  const long long t0 = hxtest::nowMs();
  ASSERT_EQ(0, view->write(setpoint, 1234));
  ASSERT_TRUE(shows(1234)) << mirror.output() << edge.output() << daemon.log() << sim.log();
  printf("setpoint on the mirror -> simulator -> back in the mirror's image: %lld ms\n",
         hxtest::nowMs() - t0);
}

}  // namespace
