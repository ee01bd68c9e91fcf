// otclient: the display client. Connects to a display server and shows what it sends.
#include <stdio.h>

#include <QApplication>
#include <QTimer>

#include "mainwindow.h"
#include "otlog.h"
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
    // Screenshots show a headless client's work (a demo under Xvfb, a record of a shift).
    QTimer shots;
    int shot = 0;
    if (opt.screenshot_dir[0] != '\0') {
      QObject::connect(&shots, &QTimer::timeout, [&] {
        QString name = QString("%1/otclient-%2.png")
                           .arg(QString::fromUtf8(opt.screenshot_dir))
                           .arg(++shot, 4, 10, QChar('0'));
        if (window.grab().save(name, "PNG"))
          otLog(OT_LOG_INFO, "otclient: screenshot %s\n", name.toUtf8().constData());
        else
          otLog(OT_LOG_ERROR, "otclient: cannot write the screenshot %s\n",
                name.toUtf8().constData());
      });
      shots.start(opt.screenshot_seconds * 1000);
    }
    status = app.exec();
  }
  tcp_free();
  return status;
}
