// One change to an animated plant picture of about 500 elements, and its redraw on the client.
// Ours: a display server (otserver, in a thread) changes one valve's fill through
// otSvgAnimator and asks for a redraw; the otclient window's drawing widget applies the change
// to the document it holds and renders it with the plain SVG renderer.
// Reference: what a client without the animator gets, the whole changed document sent again
// (gSocketPlaySVG in a drawing) over the same connection, loaded and rendered anew by the same
// renderer. Each update counts once the client has answered its sync (one update in flight).
// Also: ours with the web engine as the renderer.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <string>

#include "benchrounds.h"
#include "hxserver.h"
#include "hxsvganimator.h"
#include "interpreter.h"
#include "mainwindow.h"
#include "otoptions.h"
#include "otsvganimator.h"
#include "qdrawwidget.h"
#include "tcputil.h"

namespace {

const int W = 640, H = 480;
const int kValves = 60;

// A plant: pipes, tanks with level bars and labels, valves, pumps and a frame of labels; about
// 500 elements.
std::string plant(int changedValve, const char* colour) {
  std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"640\" height=\"480\">\n";
  char b[512];
  s += "<rect id=\"bg\" x=\"0\" y=\"0\" width=\"640\" height=\"480\" style=\"fill:#f0f0f0\"/>\n";
  for (int t = 0; t < 12; t++) {
    int x = 20 + (t % 6) * 100, y = 30 + (t / 6) * 220;
    snprintf(b, sizeof b,
             "<g id=\"tank%d\"><rect x=\"%d\" y=\"%d\" width=\"60\" height=\"120\" "
             "style=\"fill:#ffffff;stroke:#000000\"/><rect id=\"level%d\" x=\"%d\" y=\"%d\" "
             "width=\"60\" height=\"60\" style=\"fill:#3080ff\"/><text id=\"label%d\" x=\"%d\" "
             "y=\"%d\" style=\"font-size:10px\">Tank %d</text></g>\n",
             t, x, y, t, x, y + 60, t, x, y - 5, t);
    s += b;
  }
  for (int p = 0; p < 200; p++) {
    int x = 10 + (p % 20) * 31, y = 170 + (p / 20) * 6;
    snprintf(b, sizeof b,
             "<line id=\"pipe%d\" x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" "
             "style=\"stroke:#606060;stroke-width:2\"/>\n",
             p, x, y, x + 28, y);
    s += b;
  }
  for (int v = 0; v < kValves; v++) {
    int x = 15 + (v % 20) * 31, y = 240 + (v / 20) * 30;
    snprintf(b, sizeof b,
             "<g id=\"HX.valve%d\" transform=\"translate(%d,%d)\"><polygon id=\"valve%d\" "
             "points=\"0,0 20,10 20,0 0,10\" style=\"fill:%s;stroke:#000000\"/>"
             "<circle cx=\"10\" cy=\"5\" r=\"2\" style=\"fill:#000000\"/></g>\n",
             v, x, y, v, v == changedValve ? colour : "#00c000");
    s += b;
  }
  for (int l = 0; l < 100; l++) {
    snprintf(b, sizeof b,
             "<text id=\"value%d\" x=\"%d\" y=\"%d\" style=\"font-size:8px\">%d.%d bar</text>\n", l,
             10 + (l % 10) * 62, 350 + (l / 10) * 12, l, l % 10);
    s += b;
  }
  s += "</svg>\n";
  return s;
}

std::string plantPath;
std::atomic<int> mode{0};  // 0 idle, 1 animator changes, 2 whole document again
std::atomic<int> wanted{0};
std::atomic<int> done{0};
std::atomic<QEventLoop*> running{nullptr};

const char* colourOf(int n) {
  return n % 2 ? "#ff0000" : "#ffff00";
}

int serve(PARAM_* p) {
  p->pollMs = 1;
  hxStartDefinition(p, 2);
  hxQDraw(p, 1, 0);
  hxSetGeometry(p, 1, 0, 0, W, H);
  hxEndDefinition(p);
  otSvgAnimator svg;
  svg.setSocket(&p->s);
  svg.setId(1);
  if (svg.read(plantPath.c_str()) < 0) return -1;
  svg.writeSocket();
  hxSync(p);
  char buf[HX_EVENT_BUFSIZE];
  const int first = 1000;
  int sent = 0;
  auto confirm = [&] {
    char pattern[32];
    snprintf(pattern, sizeof pattern, "synced(%d)", first + done + 1);
    if (hxWait(p, pattern) < 0) return false;
    if (++done == wanted) QMetaObject::invokeMethod(running.load(), "quit", Qt::QueuedConnection);
    return true;
  };
  for (;;) {
    if (sent < wanted) {
      sent++;
      if (mode == 1) {
        char name[32];
        snprintf(name, sizeof name, "valve%d", sent % kValves);
        svg.svgChangeStyleOption(name, "fill", colourOf(sent));
        svg.writeSocket();
      } else {
        gBeginDraw(p, 1);
        gSocketPlaySVG(p, plant(sent % kValves, colourOf(sent)).c_str());
        gEndDraw(p);
      }
      if (hxSendCommand(p, "sync", "i", first + sent) < 0) return -1;
      if (sent - done > 1 && !confirm()) return -1;
      continue;
    }
    if (done < sent) {
      if (!confirm()) return -1;
      continue;
    }
    if (hxPollEvent(p, buf) < 0) return -1;
  }
}

double run(int which, int updates) {
  QEventLoop loop;
  running = &loop;
  mode = which;
  int start = done;
  QElapsedTimer t;
  t.start();
  wanted = start + updates;
  QTimer::singleShot(600000, &loop, &QEventLoop::quit);
  loop.exec();
  if (done != start + updates) return -1;
  return updates * 1e9 / (double)std::max<qint64>(1, t.nsecsElapsed());
}

// Rounds of ours (mode 1) and the reference (mode 2) in turns, on one window. False when
// updates went missing.
bool measure(int updates, otBenchSide* ours, otBenchSide* theirs) {
  run(1, 10);  // warm-up
  if (theirs != nullptr) run(2, 10);
  for (int r = 0; r < otBenchRounds; r++) {
    const double a = run(1, updates);
    if (a < 0) return false;
    ours->add(a);
    if (theirs == nullptr) continue;
    const double b = run(2, updates);
    if (b < 0) return false;
    theirs->add(b);
  }
  return true;
}

bool serveOneWindow(int webkit, int updates, otBenchSide* ours, otBenchSide* theirs) {
  opt.use_webkit_for_svg = webkit;
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.port = 0;
  hxServer* server = hxServerStart(&o, serve, nullptr);
  if (server == nullptr) return false;
  bool ok = true;
  {
    done = wanted = 0;
    otClientWindow window("127.0.0.1", hxServerPort(server));
    window.resize(W + 40, H + 80);
    window.show();
    ok = QTest::qWaitFor(
        [&] {
          auto* d = qobject_cast<QDrawWidget*>(window.interpreter()->widget(1));
          return d != nullptr && d->existingAnimator() != nullptr &&
                 d->existingAnimator()->numLines() > 0;
        },
        20000);
    if (ok) ok = measure(updates, ours, theirs);
  }
  hxServerStop(server);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  // Updates of a whole run of each side; each round gets its share.
  const int total = argc > 1 ? atoi(argv[1]) : 300;
  const int updates = std::max(1, total / otBenchRounds);
  // The server runs otsvgcat from the build's tools.
  std::string path = std::string(OTKIT_TOOLS_DIR) + ":" + (getenv("PATH") ? getenv("PATH") : "");
  setenv("PATH", path.c_str(), 1);
  char dir[] = "/tmp/otkit-svgbench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  plantPath = std::string(dir) + "/plant.svg";
  FILE* f = fopen(plantPath.c_str(), "w");
  if (f == nullptr) return 1;
  const std::string doc = plant(-1, "");
  fputs(doc.c_str(), f);
  fclose(f);
  int elements = 0;
  for (size_t i = 0; (i = doc.find('<', i)) != std::string::npos; i++)
    elements += doc[i + 1] != '/';

  otOptionsDefaults(&opt);
  tcp_init();
  otBenchSide ours("one change through the animator, plain renderer", "updates/s");
  otBenchSide theirs("whole changed document sent and rendered anew", "updates/s");
  otBenchSide web("one change through the animator, web engine", "updates/s");
  bool ok = serveOneWindow(0, updates, &ours, &theirs) &&
            serveOneWindow(1, std::max(2, total / 6 / otBenchRounds), &web, nullptr);
  tcp_free();
  remove(plantPath.c_str());
  rmdir(dir);
  if (!ok) {
    fprintf(stderr, "svg_update: the drawing or its updates did not arrive\n");
    return 1;
  }
  printf("plant picture: %d elements, %zu bytes\n", elements, doc.size());
  ours.print();
  theirs.print();
  web.print();
  otBenchRatio("ratio ours/reference", ours, theirs, {&ours, &theirs});
  return 0;
}
