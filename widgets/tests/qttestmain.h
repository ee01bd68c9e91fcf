// main() of the widget test programs: a QApplication on the offscreen platform (unless the
// environment names another, as xvfb-run does), then every GoogleTest case.
#ifndef OTWIDGETS_QTTESTMAIN_H
#define OTWIDGETS_QTTESTMAIN_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <QApplication>
#include <string>

#include "qtlsan.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (getenv("XDG_RUNTIME_DIR") == nullptr) {
    static std::string dir = "/tmp/otkit-xdg-XXXXXX";
    if (mkdtemp(&dir[0]) != nullptr) setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  }
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}

#endif
