// A diagram sent as a drawing stream against the same diagram painted directly.
// Ours: a display server (otserver, in a thread) draws an axis box with both axes and their
// labels, grids, a 100-point curve, texts, a pie and a rectangle with the g… calls on a
// drawing widget of an otclient window (offscreen), and waits until it is on screen (sync).
// Reference: the same picture painted by QPainter calls into a pixmap shown by a widget, in
// one process. Also the frames per second of a 10000-point trend curve over the wire.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <vector>

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

int serve(PARAM_* p) {
  hxStartDefinition(p, 2);
  hxQDraw(p, 1, 0);
  hxSetGeometry(p, 1, 0, 0, W, H);
  hxEndDefinition(p);
  hxSync(p);
  char buf[HX_EVENT_BUFSIZE];
  int frame = 0;
  for (;;) {
    if (framesDone < framesWanted) {
      diagram(p, ++frame);
      if (hxSync(p) < 0) return -1;
      framesDone++;
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

double runOurs(hxServer* server, int frames, otClientWindow& window) {
  (void)server;
  int start = framesDone;
  QElapsedTimer t;
  t.start();
  framesWanted = start + frames;
  if (!QTest::qWaitFor([&] { return framesDone == start + frames; }, 600000)) return -1;
  (void)window;
  return frames * 1000.0 / std::max<qint64>(1, t.elapsed());
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const int frames = argc > 1 ? atoi(argv[1]) : 200;
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
  double ours = -1, trend = -1;
  {
    otClientWindow window("127.0.0.1", hxServerPort(server));
    window.resize(W + 40, H + 80);
    window.show();
    if (!QTest::qWaitFor([&] { return window.interpreter()->widget(1) != nullptr; }, 10000)) {
      fprintf(stderr, "draw_stream: the mask did not arrive\n");
      return 1;
    }
    runOurs(server, 20, window);  // warm-up
    ours = runOurs(server, frames, window);
    trendPoints = 10000;
    runOurs(server, 5, window);
    trend = runOurs(server, std::max(10, frames / 10), window);
  }
  hxServerStop(server);
  tcp_free();

  Direct direct;
  direct.resize(W, H);
  direct.show();
  QApplication::processEvents();
  QElapsedTimer t;
  t.start();
  for (int frame = 1; frame <= frames; frame++) {
    {
      QPainter g(&direct.picture);
      paintDiagram(g, frame);
    }
    direct.repaint();
  }
  double theirs = frames * 1000.0 / std::max<qint64>(1, t.elapsed());
  printf("diagram over the wire (otserver g... calls -> QDrawWidget): %.1f frames/s\n", ours);
  printf("diagram painted directly with QPainter: %.1f frames/s\n", theirs);
  printf("10000-point trend curve over the wire: %.1f frames/s\n", trend);
  printf("ratio ours/reference %.2f\n", ours / theirs);
  return ours > 0 && trend > 0 ? 0 : 1;
}
