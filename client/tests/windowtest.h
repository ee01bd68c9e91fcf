// The fixture of the client window tests: a window of otclient connected to a fake server on
// loopback before each test, with its downloads folder in a temporary directory.
#ifndef OTCLIENT_WINDOWTEST_H
#define OTCLIENT_WINDOWTEST_H

#include <gtest/gtest.h>
#include <stdio.h>

#include <QTest>
#include <memory>

#include "fakeserver.h"
#include "mainwindow.h"
#include "otoptions.h"
#include "tcputil.h"
#include "testutil.h"

class ClientWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    otOptionsDefaults(&opt);
    snprintf(opt.download_dir, sizeof(opt.download_dir), "%s", downloads.file("d").c_str());
    if (reconnectMaxMs > 0) opt.reconnect_max_ms = reconnectMaxMs;
    setUpOptions();
    tcp_init();
    ASSERT_GT(server.port(), 0);
    window.reset(new otClientWindow("127.0.0.1", server.port()));
    window->show();
    ASSERT_TRUE(server.accept());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->isConnected(); }, 5000));
  }
  void TearDown() override {
    window.reset();
    tcp_free();
    otOptionsDefaults(&opt);
  }
  // Options of the test beyond the defaults, set before the connection layer starts.
  virtual void setUpOptions() {}

  int reconnectMaxMs = 0;  // 0: the default
  ottest::TempDir downloads;
  FakeServer server;
  std::unique_ptr<otClientWindow> window;
};

#endif
