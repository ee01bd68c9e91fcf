// The client's options record: defaults, ini file, command line over it.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "otoptions.h"
#include "testutil.h"

namespace {

// Each test has a configuration directory of its own; the test program owns its environment.
class Options : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", dir.file("xdg").c_str(), 1);
    setenv("HOME", dir.file("home").c_str(), 1);
    otOptionsDefaults(&o);
  }
  void writeDefaultIni(const std::string& text) const {
    mkdir(dir.file("xdg").c_str(), 0700);
    mkdir(dir.file("xdg/otclient").c_str(), 0700);
    ottest::writeFile(dir.file("xdg/otclient/otclient.ini"), text);
  }
  ottest::TempDir dir;
  OPT o;
};

// Runs otOptionsParseArgs over args (the program name is added); returns its result and
// what it printed.
int parse(OPT* o, std::vector<std::string> args, std::string* printed = nullptr) {
  args.insert(args.begin(), "otclient");
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(&a[0]);
  ottest::CaptureStdout out;
  int ret = otOptionsParseArgs(o, (int)argv.size(), argv.data());
  std::string text = out.text();
  if (printed != nullptr) *printed = text;
  return ret;
}

TEST_F(Options, DefaultsFollowTheConfigDirectory) {
  EXPECT_EQ(std::string(o.plugin_dir), dir.file("xdg/otclient/plugins"));
  EXPECT_EQ(std::string(otOptionsDefaultFile()), dir.file("xdg/otclient/otclient.ini"));

  unsetenv("XDG_CONFIG_HOME");
  otOptionsDefaults(&o);
  EXPECT_EQ(std::string(o.plugin_dir), dir.file("home/.config/otclient/plugins"));
  EXPECT_EQ(std::string(otOptionsDefaultFile()), dir.file("home/.config/otclient/otclient.ini"));
}

TEST_F(Options, IniFileValuesAndRefusals) {
  std::string path = dir.file("client.ini");
  ottest::writeFile(path,
                    "# display client\n"
                    "[server]\n"
                    "host = plant-7\n"
                    "port=6000\n"
                    "connect_timeout=10\n"
                    "reconnect_max_ms=2000\n"
                    "[plugin]\n"
                    "file=tunnel.so\n"
                    "dir=/opt/otclient/plugins\n"
                    "[display]\n"
                    "zoom=150\n"
                    "use_webkit_for_svg=1\n"
                    "print_pdf=/tmp/out.pdf\n"
                    "[trace]\n"
                    "debug=2\n"
                    "nettrace=1\n");
  ASSERT_EQ(otOptionsLoad(&o, path.c_str()), 0);
  EXPECT_STREQ(o.host, "plant-7");
  EXPECT_EQ(o.port, 6000);
  EXPECT_EQ(o.connect_timeout, 10);
  EXPECT_EQ(o.reconnect_max_ms, 2000);
  EXPECT_STREQ(o.hxc_com_plugin, "tunnel.so");
  EXPECT_STREQ(o.plugin_dir, "/opt/otclient/plugins");
  EXPECT_EQ(o.zoom, 150);
  EXPECT_EQ(o.use_webkit_for_svg, 1);
  EXPECT_STREQ(o.print_pdf, "/tmp/out.pdf");
  EXPECT_EQ(o.debug, 2);
  EXPECT_EQ(o.nettrace, 1);
  EXPECT_EQ(std::string(o.ini_file), path);

  // Refused values keep what was there; the rest of the file is still taken.
  ottest::writeFile(path,
                    "[server]\nport=70000\nhost=\nconnect_timeout=3x\ncolour=red\n"
                    "[display]\nzoom=0\nuse_webkit_for_svg=2\n[trace]\ndebug=-1\n"
                    "[sound]\nvolume=3\n[plugin]\nfile=" +
                        std::string(1024, 'p') + "\ndir=/plugins\n");
  std::string text;
  {
    ottest::CaptureStdout out;
    EXPECT_EQ(otOptionsLoad(&o, path.c_str()), 0);
    text = out.text();
  }
  EXPECT_EQ(o.port, 6000);
  EXPECT_STREQ(o.host, "plant-7");
  EXPECT_EQ(o.connect_timeout, 10);
  EXPECT_EQ(o.zoom, 100);  // 0 would divide by zero later: taken as no zoom
  EXPECT_EQ(o.use_webkit_for_svg, 1);
  EXPECT_EQ(o.debug, 2);
  EXPECT_STREQ(o.hxc_com_plugin, "tunnel.so");
  EXPECT_STREQ(o.plugin_dir, "/plugins");
  for (const char* key : {"[server] port: 70000 refused", "[server] host:  refused",
                          "[server] connect_timeout: 3x refused", "[server] colour: unknown key",
                          "[display] use_webkit_for_svg: 2 refused", "[trace] debug: -1 refused",
                          "[sound] volume: unknown key", "[plugin] file: ppp"})
    EXPECT_NE(text.find(key), std::string::npos) << key << "\n" << text;
  EXPECT_EQ(text.find("zoom"), std::string::npos);

  ottest::writeFile(path, "[display]\nzoom=-20\n");
  otOptionsLoad(&o, path.c_str());
  EXPECT_EQ(o.zoom, 100);

  OPT before = o;
  {
    ottest::CaptureStdout out;
    EXPECT_EQ(otOptionsLoad(&o, dir.file("missing.ini").c_str()), -1);
    EXPECT_NE(out.text().find("missing.ini"), std::string::npos);
  }
  EXPECT_STREQ(o.ini_file, before.ini_file);
}

TEST_F(Options, CommandLineOverTheIniFile) {
  writeDefaultIni("[server]\nport=6000\nhost=fromdefault\n[display]\nzoom=120\n");
  ASSERT_EQ(parse(&o, {"-zoom=80"}), 0);
  EXPECT_EQ(o.port, 6000);  // the default file is read when no -ini is given
  EXPECT_STREQ(o.host, "fromdefault");
  EXPECT_EQ(o.zoom, 80);

  std::string path = dir.file("other.ini");
  ottest::writeFile(path, "[server]\nport=6001\nconnect_timeout=9\n[trace]\ndebug=3\n");
  otOptionsDefaults(&o);
  ASSERT_EQ(parse(&o, {"-port", "7000", "-ini=" + path, "-debug", "-webkit", "-nettrace=0",
                       "-timeout=0", "-plugin=/x/tunnel.so", "-plugindir", "/x",
                       "-printpdf=/tmp/p.pdf", "--reconnect=500", "-zoom=0"}),
            0);
  EXPECT_STREQ(o.host, "localhost");  // the default file is not read when -ini names one
  EXPECT_EQ(o.port, 7000);
  EXPECT_EQ(o.connect_timeout, 0);
  EXPECT_EQ(o.debug, 1);
  EXPECT_EQ(o.use_webkit_for_svg, 1);
  EXPECT_EQ(o.nettrace, 0);
  EXPECT_STREQ(o.hxc_com_plugin, "/x/tunnel.so");
  EXPECT_STREQ(o.plugin_dir, "/x");
  EXPECT_STREQ(o.print_pdf, "/tmp/p.pdf");
  EXPECT_EQ(o.reconnect_max_ms, 500);
  EXPECT_EQ(o.zoom, 100);
  EXPECT_EQ(std::string(o.ini_file), path);

  struct Case {
    const char* arg;
    const char* host;
    int port;
  } cases[] = {
      {"server7:5051", "server7", 5051}, {"server8", "server8", 6000}, {"[::1]:5052", "::1", 5052},
      {"[fe80::1]", "fe80::1", 6000},    {"::1", "::1", 6000},
  };
  for (const Case& c : cases) {
    otOptionsDefaults(&o);
    ASSERT_EQ(parse(&o, {c.arg}), 0) << c.arg;
    EXPECT_STREQ(o.host, c.host) << c.arg;
    EXPECT_EQ(o.port, c.port) << c.arg;
  }
}

TEST_F(Options, BadCommandLinesAreRefused) {
  const std::vector<std::vector<std::string>> bad = {
      {"-port=0"},
      {"-port=65536"},
      {"-zoom=1001"},
      {"-timeout=-1"},
      {"-debug=x"},
      {"-webkit=2"},
      {"-host="},
      {"-port"},
      {"-colour=red"},
      {"-ini=" + dir.file("missing.ini")},
      {"a:1", "b:2"},
      {"server:port"},
      {"[::1"},
      {":5050"},
      {"-plugin=" + std::string(1024, 'p')},
  };
  for (const auto& args : bad) {
    otOptionsDefaults(&o);
    std::string text;
    EXPECT_EQ(parse(&o, args, &text), -1) << args[0];
    EXPECT_NE(text.find("otclient: "), std::string::npos) << args[0];
  }
  otOptionsDefaults(&o);
  ASSERT_EQ(parse(&o, {"server:port"}), -1);
  EXPECT_STREQ(o.host, "localhost");  // host and port are taken together or not at all
}

TEST_F(Options, HelpListsEveryOptionWithItsDefault) {
  std::string text;
  EXPECT_EQ(parse(&o, {"-zoom=50", "-h"}, &text), 1);
  for (const char* item :
       {"-ini=FILE", "-host=NAME", "default \"localhost\"", "-port=PORT", "default 5050",
        "-timeout=SEC", "default 3", "-reconnect=MS", "-plugin=FILE", "-plugindir=DIR",
        "-zoom=PERCENT", "default 100", "-webkit", "-printpdf=FILE", "-debug", "-nettrace",
        "[display] zoom", "otclient.ini"})
    EXPECT_NE(text.find(item), std::string::npos) << item;
}

// The downloads folder lies under the data home, apart from the configuration; its size
// limit and place can be set in the ini file and on the command line.
TEST(OptionsFiles, DownloadsFolderAndItsLimit) {
  ottest::TempDir dir;
  std::string xdg = dir.file("data");
  setenv("XDG_DATA_HOME", xdg.c_str(), 1);
  OPT o;
  otOptionsDefaults(&o);
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(std::string(o.download_dir), xdg + "/otclient/downloads");
  EXPECT_EQ(o.download_max_mb, 256);
  std::string ini = dir.file("c.ini");
  ottest::writeFile(ini, "[files]\ndownload_dir=/srv/dl\ndownload_max_mb=12\n");
  ASSERT_EQ(0, parse(&o, {"-ini=" + ini}));
  EXPECT_EQ(std::string(o.download_dir), "/srv/dl");
  EXPECT_EQ(o.download_max_mb, 12);
  ASSERT_EQ(0, parse(&o, {"-downloads=/x/y", "-downloadmax", "3"}));
  EXPECT_EQ(std::string(o.download_dir), "/x/y");
  EXPECT_EQ(o.download_max_mb, 3);
  EXPECT_EQ(-1, parse(&o, {"-downloadmax=0"}));
  EXPECT_EQ(-1, parse(&o, {"-downloads="}));
}

}  // namespace
