// A diagram sent as a drawing stream against the same diagram painted directly.
// Ours: a display server (otserver, in a thread) draws an axis box with both axes and their
// labels, grids, a 100-point curve, texts, a pie and a rectangle with the g… calls on a
// drawing widget of an otclient window (offscreen); each frame counts once the client has
// answered its sync, that is once it is on screen.
// Reference: the same picture painted by QPainter calls into a pixmap shown by a widget, in
// one process. Also the frames per second of a 10000-point trend curve over the wire.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QPainter>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <vector>

#include "benchrounds.h"
#include "hxserver.h"
#include "interpreter.h"
#include "mainwindow.h"
#include "otoptions.h"
#include "qdrawwidget.h"
#include "tcputil.h"

namespace {

const int W = 640, H = 480;
std::atomic<int> framesWanted{0};
std::atomic<int> framesDone{0};
std::atomic<int> trendPoints{100};
// The GUI thread's loop while a run lasts; the server ends it when the last frame is answered.
std::atomic<QEventLoop*> running{nullptr};

void curve(int n, double phi, std::vector<float>* x, std::vector<float>* y) {
  x->resize((size_t)n);
  y->resize((size_t)n);
  for (int k = 0; k < n; k++) {
    (*x)[(size_t)k] = (float)(2 * M_PI * k / n);
    (*y)[(size_t)k] = (float)sin((*x)[(size_t)k] + phi);
  }
}

void diagram(PARAM_* p, int frame) {
  std::vector<float> x, y;
  curve(trendPoints, frame * 0.1, &x, &y);
  gBeginDraw(p, 1);
  gSetBackgroundColor(p, 230, 230, 230);
  gSetFont(p, "DejaVu Sans", 10, 0, 0);
  gSetColor(p, 0, 0, 0);
  gBoxWithText(p, 60, 40, 520, 360, 12, "phi/rad", "sin(phi)", "");
  gXAxis(p, 0, 1, 7, 1);
  gYAxis(p, -1.5, 0.5, 1.5, 1);
  gSetStyle(p, 2);
  gXGrid(p);
  gYGrid(p);
  gSetStyle(p, 1);
  gSetColor(p, 255, 0, 0);
  gSetWidth(p, 2);
  gLine(p, x.data(), y.data(), (int)x.size());
  gSetWidth(p, 1);
  gSetColor(p, 0, 0, 255);
  gText(p, 60, 440, 0, "Date: 19-NOV-2000");
  gText(p, 580, 440, 2, "This is a Diagram");
  gDrawPie(p, 500, 60, 60, 60, 0, 270);
  gRect(p, 80, 60, 40, 30);
  gEndDraw(p);
}

// A live display keeps one frame in flight: the server prepares frame n+1 while the client
// draws and shows frame n. Every frame still ends in a sync that the client answers once the
// frame is on screen, and only answered frames are counted.
int serve(PARAM_* p) {
  p->pollMs = 1;  // an idle server looks for the next run's frames at once
  hxStartDefinition(p, 2);
  hxQDraw(p, 1, 0);
  hxSetGeometry(p, 1, 0, 0, W, H);
  hxEndDefinition(p);
  hxSync(p);
  char buf[HX_EVENT_BUFSIZE];
  const int first = 1000;  // sync numbers of frames, apart from hxSync's own
  int sent = 0;
  auto confirm = [&] {
    char pattern[32];
    snprintf(pattern, sizeof pattern, "synced(%d)", first + framesDone + 1);
    if (hxWait(p, pattern) < 0) return false;
    if (++framesDone == framesWanted)
      QMetaObject::invokeMethod(running.load(), "quit", Qt::QueuedConnection);
    return true;
  };
  for (;;) {
    if (sent < framesWanted) {
      diagram(p, ++sent);
      if (hxSendCommand(p, "sync", "i", first + sent) < 0) return -1;
      if (sent - framesDone > 1 && !confirm()) return -1;
      continue;
    }
    if (framesDone < sent) {
      if (!confirm()) return -1;
      continue;
    }
    if (hxPollEvent(p, buf) < 0) return -1;
  }
}

// The same picture with QPainter: what the stream's commands come down to.
void paintDiagram(QPainter& g, int frame) {
  std::vector<float> x, y;
  curve(100, frame * 0.1, &x, &y);
  g.fillRect(0, 0, W, H, QColor(230, 230, 230));
  g.setFont(QFont("DejaVu Sans", 10));
  g.setPen(Qt::black);
  g.drawRect(60, 40, 520, 360);
  g.drawText(QRect(60, 400 + 12, 520, 40), Qt::AlignHCenter, "phi/rad");
  g.drawText(60, 28, "sin(phi)");
  auto tx = [](double v) { return (int)(60 + v * 520 / 7); };
  auto ty = [](double v) { return (int)(400 - (v + 1.5) * 360 / 3); };
  for (int k = 0; k <= 7; k++) {
    g.drawLine(tx(k), 400, tx(k), 405);
    g.drawText(QRect(tx(k) - 30, 408, 60, 14), Qt::AlignHCenter, QString::number(k, 'f', 2));
  }
  for (int k = 0; k <= 6; k++) {
    double v = -1.5 + 0.5 * k;
    g.drawLine(55, ty(v), 60, ty(v));
    g.drawText(QRect(0, ty(v) - 7, 52, 14), Qt::AlignRight, QString::number(v, 'f', 2));
  }
  g.setPen(QPen(Qt::black, 1, Qt::DashLine));
  for (int k = 0; k <= 7; k++)
    g.drawLine(tx(k), 40, tx(k), 400);
  for (int k = 0; k <= 6; k++)
    g.drawLine(60, ty(-1.5 + 0.5 * k), 580, ty(-1.5 + 0.5 * k));
  g.setPen(QPen(QColor(255, 0, 0), 2));
  QPolygon line;
  for (size_t k = 0; k < x.size(); k++)
    line << QPoint(tx(x[k]), ty(y[k]));
  g.drawPolyline(line);
  g.setPen(QColor(0, 0, 255));
  g.setBrush(QColor(0, 0, 255));
  g.drawText(60, 440, "Date: 19-NOV-2000");
  g.drawText(QRect(380, 430, 200, 14), Qt::AlignRight, "This is a Diagram");
  g.drawPie(500, 60, 60, 60, 0, 270 * 16);
  g.drawRect(80, 60, 40, 30);
}

class Direct : public QWidget {
 public:
  QPixmap picture{W, H};
  void paintEvent(QPaintEvent*) override {
    QPainter g(this);
    g.drawPixmap(0, 0, picture);
  }
};

// Runs the GUI thread's own event loop, as otclient does, until frames more are on screen.
double runOurs(int frames) {
  QEventLoop loop;
  running = &loop;
  int start = framesDone;
  QElapsedTimer t;
  t.start();
  framesWanted = start + frames;
  QTimer::singleShot(600000, &loop, &QEventLoop::quit);
  loop.exec();
  if (framesDone != start + frames) return -1;
  return frames * 1e9 / (double)std::max<qint64>(1, t.nsecsElapsed());
}

double runDirect(Direct& direct, int frames) {
  QElapsedTimer t;
  t.start();
  for (int frame = 1; frame <= frames; frame++) {
    {
      QPainter g(&direct.picture);
      paintDiagram(g, frame);
    }
    direct.repaint();
  }
  return frames * 1e9 / (double)std::max<qint64>(1, t.nsecsElapsed());
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  // Frames of a whole run of each side; each round gets its share.
  const int total = argc > 1 ? atoi(argv[1]) : 1500;
  const int frames = std::max(1, total / otBenchRounds);
  otOptionsDefaults(&opt);
  tcp_init();
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.port = 0;
  hxServer* server = hxServerStart(&o, serve, nullptr);
  if (server == nullptr) {
    fprintf(stderr, "draw_stream: cannot start the server\n");
    return 1;
  }
  otBenchSide ours("diagram over the wire (otserver g... calls -> QDrawWidget)", "frames/s");
  otBenchSide theirs("diagram painted directly with QPainter", "frames/s");
  bool failed = false;
  double trend = -1;
  Direct direct;
  direct.resize(W, H);
  direct.show();
  {
    otClientWindow window("127.0.0.1", hxServerPort(server));
    window.resize(W + 40, H + 80);
    window.show();
    if (!QTest::qWaitFor([&] { return window.interpreter()->widget(1) != nullptr; }, 10000)) {
      fprintf(stderr, "draw_stream: the mask did not arrive\n");
      return 1;
    }
    runOurs(20);  // warm-up
    runDirect(direct, 20);
    for (int r = 0; r < otBenchRounds && !failed; r++) {
      const double a = runOurs(frames);
      failed = a < 0;
      ours.add(a);
      theirs.add(runDirect(direct, frames));
    }
    trendPoints = 10000;
    runOurs(5);
    trend = runOurs(std::max(10, total / 30));
  }
  hxServerStop(server);
  tcp_free();

  if (failed) {
    fprintf(stderr, "draw_stream: frames did not arrive\n");
    return 1;
  }
  ours.print();
  theirs.print();
  printf("10000-point trend curve over the wire: %.1f frames/s\n", trend);
  otBenchRatio("ratio ours/reference", ours, theirs, {&ours, &theirs});
  return trend > 0 ? 0 : 1;
}
