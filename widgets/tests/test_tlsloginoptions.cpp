// The client's TLS and login settings: the password comes from the ini file only, and a word
// is said when that file is readable by others.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "otoptions.h"
#include "testutil.h"

namespace {

int parse(OPT* o, std::vector<std::string> args, std::string* printed) {
  args.insert(args.begin(), "otclient");
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(&a[0]);
  ottest::CaptureStdout out;
  int ret = otOptionsParseArgs(o, (int)argv.size(), argv.data());
  *printed = out.text();
  return ret;
}

TEST(TlsLoginOptions, ThePasswordComesFromAPrivateIniFileOnly) {
  ottest::TempDir dir;
  setenv("XDG_CONFIG_HOME", dir.file("xdg").c_str(), 1);
  OPT o;
  otOptionsDefaults(&o);
  std::string ini = dir.file("kiosk.ini"), printed;
  ottest::writeFile(ini,
                    "[tls]\nfingerprint=AB:CD\nallow_tls12=1\n[login]\nuser=kiosk-3\n"
                    "password=p=w \"x\"\n");
  chmod(ini.c_str(), 0600);
  ASSERT_EQ(0, parse(&o, {"-ini=" + ini, "-user=bob", "-tlsca", "/etc/ca.pem"}, &printed));
  EXPECT_EQ(printed, "");  // a private file holds a password without a word
  EXPECT_STREQ(o.login_user, "bob");
  EXPECT_STREQ(o.login_password, "p=w \"x\"");
  EXPECT_STREQ(o.tls_ca, "/etc/ca.pem");
  EXPECT_STREQ(o.tls_fingerprint, "AB:CD");
  EXPECT_EQ(o.tls_allow12, 1);

  EXPECT_EQ(-1, parse(&o, {"-password=secret"}, &printed));
  EXPECT_NE(printed.find("unknown option -password=secret"), std::string::npos) << printed;
  EXPECT_EQ(-1, parse(&o, {"-user=" + std::string(64, 'u')}, &printed));
  parse(&o, {"-h"}, &printed);
  EXPECT_NE(printed.find("(ini only)           that user's password"), std::string::npos);
  EXPECT_EQ(printed.find("-password"), std::string::npos);

  chmod(ini.c_str(), 0644);
  ASSERT_EQ(0, parse(&o, {"-ini=" + ini}, &printed));
  EXPECT_STREQ(o.login_password, "p=w \"x\"");  // taken, and said
  EXPECT_NE(printed.find(ini + " holds a password and other users may read it"), std::string::npos)
      << printed;
  unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
