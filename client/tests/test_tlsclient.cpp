// The display client over TLS: a refusal of the TLS plug-in shows in the window's status line,
// and the otclient program as built finds the built plug-in by its name (-plugin=tls) and
// logs in to OpenSSL's s_server as a kiosk does.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "clientprocess.h"
#include "fakeserver.h"
#include "mainwindow.h"
#include "otoptions.h"
#include "qttestmain.h"
#include "tcputil.h"
#include "testutil.h"
#include "tlspeer.h"

namespace {

TEST(TlsClient, ARefusalShowsInTheWindowAndNothingIsSentInPlainText) {
  ottest::TempDir home;
  otOptionsDefaults(&opt);
  snprintf(opt.plugin_dir, sizeof(opt.plugin_dir), "%s", home.path().c_str());
  snprintf(opt.hxc_com_plugin, sizeof(opt.hxc_com_plugin), "tls");
  opt.reconnect_max_ms = 400;
  tcp_init();
  {
    FakeServer server;
    otClientWindow window("127.0.0.1", server.port());
    window.show();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.connectionText().contains("neither a CA file"); }, 5000))
        << window.connectionText().toStdString();
    EXPECT_TRUE(window.connectionText().startsWith(
        QString("no connection to 127.0.0.1:%1 (TLS: ").arg(server.port())));
    EXPECT_FALSE(window.isConnected());
    EXPECT_FALSE(server.accept(1000));  // not even a TCP connection, let alone a plain one
  }
  tcp_free();
  otOptionsDefaults(&opt);
}

TEST(TlsClient, TheProgramLogsInOverTlsWithThePluginItWasBuiltWith) {
  if (!tlstest::haveOpenssl()) GTEST_SKIP() << "no openssl";
  tlstest::Certificates certs;
  ASSERT_TRUE(certs.made);
  tlstest::SServer server(certs.server, certs.serverKey, {"-tls1_3"});
  ASSERT_TRUE(server.started());
  ottest::TempDir home;
  std::string ini = home.file("kiosk.ini");
  ottest::writeFile(ini, "[login]\nuser=kiosk\npassword=s3cret\n");
  ASSERT_EQ(0, chmod(ini.c_str(), 0600));
  // Read by s_server once the client is there.
  ASSERT_TRUE(server.send("@login(1,\"\")\n"));
  // No plug-in of the user's in its home: the installed one is found.
  pid_t pid = spawnOtclient(home.path(), home.path(),
                            {"-ini=" + ini, "-plugin=tls", "-tlsca=" + certs.ca,
                             "localhost:" + std::to_string(server.port())},
                            "offscreen");
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(server.waitFor("login(\"kiosk\",\"s3cret\")\n", 60000)) << server.output();
  ASSERT_TRUE(server.send("@loggedIn(\"kiosk\",\"viewer\")\nsync(5)\n"));
  EXPECT_TRUE(server.waitFor("synced(5)\n", 10000)) << server.output();
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) || WIFSIGNALED(status));
}

}  // namespace
