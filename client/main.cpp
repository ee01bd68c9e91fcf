// otclient: the display client. Connects to a display server and shows what it sends.
#include <stdio.h>

#include <QApplication>

#include "mainwindow.h"
#include "otoptions.h"
#include "tcputil.h"

int main(int argc, char** argv) {
  otOptionsDefaults(&opt);
  int r = otOptionsParseArgs(&opt, argc, argv);
  if (r != 0) return r > 0 ? 0 : 2;
  // Without a display, Qt's offscreen platform still runs the client (tests, headless use).
  if (getenv("DISPLAY") == nullptr && getenv("WAYLAND_DISPLAY") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  tcp_init();
  int status;
  {
    otClientWindow window(QString::fromUtf8(opt.host), opt.port);
    window.show();
    status = app.exec();
  }
  tcp_free();
  return status;
}
