// Display updates over the wire against the same updates made in-process.
// Ours: a display server (otserver, in a thread) sets the text of 1000 labels per pass and
// waits for the client's acknowledgement (sync); the display client (otClientWindow, offscreen)
// carries the lines out and paints. Reference: a loop that calls QLabel::setText on 1000
// labels and processes the paint events. Also: the median time from a click in the client to
// the server's answer shown in the client.
#include <stdio.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <vector>

#include "hxserver.h"
#include "interpreter.h"
#include "mainwindow.h"
#include "otoptions.h"
#include "tcputil.h"

namespace {

const int labels = 1000;
const int columns = 20;
std::atomic<int> passesWanted{0};
std::atomic<int> passesDone{0};

int definePasses(PARAM_* p) {
  hxStartDefinition(p, labels + 3);
  for (int i = 1; i <= labels; i++) {
    hxQLabel(p, i, 0);
    hxSetGeometry(p, i, (i - 1) % columns * 60, (i - 1) / columns * 16, 58, 15);
  }
  hxQPushButton(p, labels + 1, 0);
  hxSetGeometry(p, labels + 1, 0, 820, 100, 30);
  hxQLabel(p, labels + 2, 0);
  hxSetGeometry(p, labels + 2, 120, 820, 200, 30);
  hxEndDefinition(p);
  hxSync(p);
  char buf[HX_EVENT_BUFSIZE], rest[HX_TEXT_SIZE];
  int pass = 0, clicks = 0;
  for (;;) {
    // Passes run as fast as the client acknowledges them; between them the server answers
    // clicks like any mask's event loop.
    if (passesDone < passesWanted) {
      pass++;
      for (int i = 1; i <= labels; i++)
        hxPrintf(p, i, "%d:%d", pass, i);
      if (hxSync(p) < 0) return -1;
      passesDone++;
      continue;
    }
    if (hxPollEvent(p, buf) < 0) return -1;
    int id = 0;
    if (hxParseEvent(buf, &id, rest) == BUTTON_EVENT && id == labels + 1)
      hxPrintf(p, labels + 2, "click %d", ++clicks);
  }
}

double referencePasses(int passes, QWidget* parent) {
  std::vector<QLabel*> all;
  for (int i = 0; i < labels; i++) {
    QLabel* l = new QLabel(parent);
    l->setGeometry(i % columns * 60, i / columns * 16, 58, 15);
    all.push_back(l);
  }
  parent->show();
  QApplication::processEvents();
  QElapsedTimer t;
  t.start();
  for (int pass = 1; pass <= passes; pass++) {
    for (int i = 0; i < labels; i++)
      all[(size_t)i]->setText(QString("%1:%2").arg(pass).arg(i + 1));
    QApplication::processEvents();
  }
  return passes * 1000.0 / std::max<qint64>(1, t.elapsed());
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const int passes = argc > 1 ? atoi(argv[1]) : 200;
  otOptionsDefaults(&opt);
  tcp_init();

  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.port = 0;
  hxServer* server = hxServerStart(&o, definePasses, nullptr);
  if (server == nullptr) {
    fprintf(stderr, "display_updates: cannot start the server\n");
    return 1;
  }
  double ours = 0, median = 0;
  {
    otClientWindow window("127.0.0.1", hxServerPort(server));
    window.resize(1300, 900);
    window.show();
    if (!QTest::qWaitFor([&] { return window.interpreter()->widget(labels + 2) != nullptr; },
                         10000)) {
      fprintf(stderr, "display_updates: the mask did not arrive\n");
      return 1;
    }
    // Warm-up, then the measured passes.
    passesWanted = 20;
    if (!QTest::qWaitFor([&] { return passesDone == 20; }, 60000)) {
      fprintf(stderr, "display_updates: the warm-up passes did not end\n");
      return 1;
    }
    QElapsedTimer t;
    t.start();
    passesWanted = 20 + passes;
    if (!QTest::qWaitFor([&] { return passesDone == 20 + passes; }, 600000)) {
      fprintf(stderr, "display_updates: the passes did not end\n");
      return 1;
    }
    ours = passes * 1000.0 / std::max<qint64>(1, t.elapsed());

    auto* button = qobject_cast<QPushButton*>(window.interpreter()->widget(labels + 1));
    auto* answer = qobject_cast<QLabel*>(window.interpreter()->widget(labels + 2));
    std::vector<double> trips;
    for (int i = 1; i <= 200 && button && answer; i++) {
      QString want = QString("click %1").arg(i);
      QElapsedTimer rt;
      rt.start();
      QTest::mouseClick(button, Qt::LeftButton);
      // Woken by the socket itself, not by a polling interval.
      while (answer->text() != want && rt.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      if (answer->text() != want) break;
      trips.push_back(rt.nsecsElapsed() / 1e6);
    }
    std::sort(trips.begin(), trips.end());
    median = trips.empty() ? -1 : trips[trips.size() / 2];
  }
  hxServerStop(server);
  tcp_free();

  QWidget reference;
  reference.resize(1300, 900);
  double theirs = referencePasses(passes, &reference);
  printf("display updates, 1000 labels a pass: otserver -> otclient %.1f passes/s\n", ours);
  printf("display updates, 1000 labels a pass: in-process QLabel::setText %.1f passes/s\n", theirs);
  printf("median click round trip (client -> server -> client shown): %.3f ms\n", median);
  printf("ratio ours/reference %.2f\n", ours / theirs);
  return 0;
}
