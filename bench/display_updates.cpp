// Display updates over the wire against the same updates made in-process.
// Ours: a display server (otserver, in a thread) sets the text of 1000 labels per pass and
// waits for the client's acknowledgement (sync); the display client (otClientWindow, offscreen)
// carries the lines out and paints. Reference: a loop that calls QLabel::setText on 1000
// labels and processes the paint events. The same over TLS (the server's -tls=auto, the client's
// TLS plug-in with the pinned certificate), in rounds beside the plain ones; the last line is
// the ratio TLS/plain, the line before it ours/reference. Also: the median time from a click in
// the client to the server's answer shown in the client.
#include <stdio.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <vector>

#include "benchrounds.h"
#include "hxserver.h"
#include "interpreter.h"
#include "mainwindow.h"
#include "otoptions.h"
#include "ottls.h"
#include "tcputil.h"
#include "testutil.h"

namespace {

const int labels = 1000;
const int columns = 20;
std::atomic<int> passesWanted{0};
std::atomic<int> passesDone{0};
// The GUI thread's own loop while the measured passes last, as otclient runs it (QTest::qWaitFor
// sleeps 10 ms each time the loop runs dry, which would stall the client in every pause of the
// server); the server ends it when the last pass is answered.
std::atomic<QEventLoop*> running{nullptr};

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
      if (++passesDone == passesWanted && running.load() != nullptr)
        QMetaObject::invokeMethod(running.load(), "quit", Qt::QueuedConnection);
      continue;
    }
    if (hxPollEvent(p, buf) < 0) return -1;
    int id = 0;
    if (hxParseEvent(buf, &id, rest) == BUTTON_EVENT && id == labels + 1)
      hxPrintf(p, labels + 2, "click %d", ++clicks);
  }
}

double referencePasses(int passes, QWidget* parent) {
  qDeleteAll(parent->findChildren<QLabel*>());
  std::vector<QLabel*> all;
  for (int i = 0; i < labels; i++) {
    QLabel* l = new QLabel(parent);
    l->setGeometry(i % columns * 60, i / columns * 16, 58, 15);
    l->show();  // labels made after their parent was shown are hidden until told
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

// One round: a server (plain, or TLS with the certificate in stateDir), a client window,
// warm-up passes, then the measured ones. Passes per second, or -1; with clicks, the median
// click round trip goes to *clickMs.
double ourRound(const std::string& stateDir, bool tls, int passes, double* clickMs) {
  passesWanted = 0;
  passesDone = 0;
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.port = 0;
  if (tls) {
    o.tls = "auto";
    o.stateDir = stateDir.c_str();
  }
  hxServer* server = hxServerStart(&o, definePasses, nullptr);
  if (server == nullptr) {
    fprintf(stderr, "display_updates: cannot start the server\n");
    return -1;
  }
  otOptionsDefaults(&opt);
  if (tls) {
    std::string error;
    const std::string pin = otTlsFingerprintOfFile((stateDir + "/tls-cert.pem").c_str(), &error);
    snprintf(opt.hxc_com_plugin, sizeof(opt.hxc_com_plugin), "tls");
    snprintf(opt.tls_fingerprint, sizeof(opt.tls_fingerprint), "%s", pin.c_str());
  }
  tcp_init();
  double rate = -1;
  {
    otClientWindow window("127.0.0.1", hxServerPort(server));
    window.resize(1300, 900);
    window.show();
    if (!QTest::qWaitFor([&] { return window.interpreter()->widget(labels + 2) != nullptr; },
                         10000)) {
      fprintf(stderr, "display_updates: the mask did not arrive (%s)\n",
              window.connectionText().toUtf8().constData());
    } else {
      passesWanted = 10;
      if (!QTest::qWaitFor([&] { return passesDone == 10; }, 60000)) {
        fprintf(stderr, "display_updates: the warm-up passes did not end\n");
      } else {
        QEventLoop loop;
        running = &loop;
        QTimer::singleShot(600000, &loop, &QEventLoop::quit);
        QElapsedTimer t;
        t.start();
        passesWanted = 10 + passes;
        loop.exec();
        running = nullptr;
        if (passesDone == 10 + passes) rate = passes * 1000.0 / std::max<qint64>(1, t.elapsed());
      }
    }
    auto* button = qobject_cast<QPushButton*>(window.interpreter()->widget(labels + 1));
    auto* answer = qobject_cast<QLabel*>(window.interpreter()->widget(labels + 2));
    std::vector<double> trips;
    for (int i = 1; clickMs != nullptr && rate > 0 && i <= 200 && button && answer; i++) {
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
    if (clickMs != nullptr) *clickMs = trips.empty() ? -1 : trips[trips.size() / 2];
  }
  hxServerStop(server);
  tcp_free();
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const int passes = argc > 1 ? atoi(argv[1]) : 60;
  ottest::TempDir state;
  otBenchSide plain("otserver -> otclient", "passes/s");
  otBenchSide tls("otserver -> otclient over TLS", "passes/s");
  otBenchSide ref("in-process QLabel::setText", "passes/s");
  otBenchSide clicks("click round trip", "ms"), tlsClicks("click round trip over TLS", "ms");
  QWidget reference;
  reference.resize(1300, 900);
  for (int r = 0; r < otBenchRounds; r++) {
    double ms = -1, tlsMs = -1;
    const double a = ourRound(state.path(), false, passes, &ms);
    const double b = ourRound(state.path(), true, passes, &tlsMs);
    if (a < 0 || b < 0) return 1;
    plain.add(a);
    tls.add(b);
    clicks.add(ms);
    tlsClicks.add(tlsMs);
    ref.add(referencePasses(passes, &reference));
  }
  printf("display updates, 1000 labels a pass:\n");
  plain.print();
  tls.print();
  ref.print();
  clicks.print();
  tlsClicks.print();
  otBenchRatio("ratio ours/reference", plain, ref, {&plain, &ref});
  otBenchRatio("ratio TLS/plain", tls, plain, {&tls, &plain});
  return 0;
}
