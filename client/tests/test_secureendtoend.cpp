// A plant served with TLS and logins, seen by the real otclient under Xvfb: the client checks
// the server's pinned certificate through its TLS plug-in, logs in as a kiosk does, and shows
// the mask (its pixels are in the client's own screenshot).
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QDir>
#include <QImage>
#include <atomic>
#include <string>
#include <vector>

#include "clientprocess.h"
#include "hxserver.h"
#include "logcapture.h"
#include "otaccounts.h"
#include "ottls.h"
#include "qttestmain.h"
#include "testutil.h"

namespace {

std::atomic<int> synced{0};
// A red label across the top of the mask, and the user's name in it.
int redMask(PARAM_* p) {
  hxStartDefinition(p, 2);
  hxQLabel(p, 1, 0);
  hxSetGeometry(p, 1, 0, 0, 400, 120);
  hxSetBackgroundColor(p, 1, 220, 0, 0);
  hxSetText(p, 1, hxUser(p));
  hxEndDefinition(p);
  if (hxSync(p) == 0) synced++;
  char event[HX_EVENT_BUFSIZE];
  while (hxPollEvent(p, event) == 0) {
  }
  return 0;
}

// How many pixels of the newest screenshot in dir are the label's red.
int redPixels(const std::string& dir) {
  QStringList shots =
      QDir(QString::fromStdString(dir)).entryList({"otclient-*.png"}, QDir::Files, QDir::Name);
  if (shots.isEmpty()) return 0;
  QImage image(QString::fromStdString(dir) + "/" + shots.last());
  int red = 0;
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2) {
      QRgb c = image.pixel(x, y);
      red += qRed(c) > 200 && qGreen(c) < 30 && qBlue(c) < 30;
    }
  return red;
}

TEST(SecurePlant, TheRealClientShowsAMaskOverTlsAfterItsLogin) {
  ottest::TempDir dir;
  ottest::LogCapture log;
  otAccounts accounts;
  std::string error;
  ASSERT_EQ(accounts.set("anna", OT_ROLE_OPERATOR, "s3cret", &error, otHashCost{1024, 1, 1}), 0)
      << error;
  const std::string accountsFile = dir.file("accounts");
  ASSERT_EQ(accounts.write(accountsFile.c_str(), &error), 0) << error;
  const std::string state = dir.file("state");
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.port = 0;
  o.tls = "auto";
  o.stateDir = state.c_str();
  o.accounts = accountsFile.c_str();
  hxServer* server = hxServerStart(&o, redMask, nullptr);
  ASSERT_NE(server, nullptr);
  const std::string fingerprint = otTlsFingerprintOfFile((state + "/tls-cert.pem").c_str(), &error);
  ASSERT_FALSE(fingerprint.empty()) << error;

  // The client of a kiosk: its ini file holds the pin and the login, for its owner only.
  const std::string ini = dir.file("kiosk.ini"), shots = dir.file("shots");
  ottest::writeFile(ini, "[login]\nuser=anna\npassword=s3cret\n[tls]\nfingerprint=" + fingerprint +
                             "\n[plugin]\nfile=tls\n");
  ASSERT_EQ(chmod(ini.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(shots.c_str(), 0700), 0);
  // Xvfb's platform, from the environment the test runs in.
  pid_t pid = spawnOtclient(dir.path(), "",
                            {"-ini=" + ini, "-shots=" + shots, "-shotevery=1",
                             "127.0.0.1:" + std::to_string(hxServerPort(server))},
                            "");
  ASSERT_GT(pid, 0);

  for (int i = 0; i < 600 && (synced.load() == 0 || redPixels(shots) < 1000); i++)
    usleep(50000);
  EXPECT_EQ(synced.load(), 1);
  EXPECT_TRUE(log.has("logged in as anna (operator)"));
  EXPECT_GT(redPixels(shots), 5000);  // 400 x 120 at every second pixel: 12000
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  hxServerStop(server);
}

}  // namespace
