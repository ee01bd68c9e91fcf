// A lit 3-D scene sent as a GL command stream against the same scene drawn by direct GL calls.
// Ours: a display server program linked with the GL encoder (gl_stream_server) draws a torus
// of 10000 smooth-shaded triangles into the GL widget of an otclient window on loopback, frame
// after frame, each frame acknowledged by the client once its GL has carried it out.
// Reference: the same scene code compiled against the real GL, drawn in this process into the
// same widget. Both again with the mesh compiled once into a display list that each
// frame calls; and frames of an empty GL block, whose round trip (two wake-ups of a sleeping
// process) every frame over the wire costs on top of a direct one. OpenGL needs a display: without
// one the benchmark runs itself under xvfb-run (Mesa's software renderer).
//   bench_gl_stream [TRIANGLES [FRAMES]]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <string>

#include "benchrounds.h"
#include "glscene.h"
#include "hxglwidget.h"
#include "interpreter.h"
#include "mainwindow.h"
#include "otoptions.h"
#include "otspawn.h"
#include "tcputil.h"

namespace {

const int W = 400, H = 400;

// Counts the window's repaints (the frames that reach the screen).
struct Shown : QObject {
  int count = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::UpdateRequest) count++;
    return false;
  }
};

// Frames per second of the scene drawn directly into w, of which `shown` frames, spread evenly,
// are shown before the next is drawn (frames: each one, as a program that draws in its paint
// handler does).
double runDirect(HxGLWidget& w, const glscene::Mesh& m, bool useList, int frames, int shown) {
  static GLuint list = 0;
  static bool ready = false;
  QElapsedTimer t;
  t.start();
  for (int f = 0; f < frames; f++) {
    w.makeCurrent();
    if (!ready) {
      glscene::setup(W, H);
      ready = true;
    }
    if (useList && list == 0) list = glscene::compile(m);
    glscene::frame(m, useList ? list : 0, (float)f);
    if (f == frames - 1) glFinish();
    w.doneCurrent();
    if ((long)(f + 1) * shown / frames > (long)f * shown / frames) {
      w.update();
      QCoreApplication::processEvents();
    }
  }
  double fps = frames / (t.nsecsElapsed() / 1e9);
  w.update();
  QCoreApplication::processEvents();
  return fps;
}

// Frames per second of the scene sent by the server; -1 when it did not answer. The GUI thread
// runs its own loop meanwhile, as otclient does, woken by the server's report (QTest::qWaitFor
// would sleep 10 ms each time the loop runs dry, and stall the client in every pause).
double runStream(otSpawn& server, const char* mode, int frames) {
  server.printf("run %s %d\n", mode, frames);
  double seconds = -1;
  QEventLoop loop;
  QSocketNotifier report(fileno(server.getFilepointer()), QSocketNotifier::Read);
  QObject::connect(&report, &QSocketNotifier::activated, &loop, [&] {
    while (server.select(0) == 1) {
      const char* line = server.readLine();
      if (line == nullptr || sscanf(line, "done %lf", &seconds) == 1) {
        report.setEnabled(false);
        loop.quit();
        return;
      }
    }
  });
  QTimer::singleShot(600000, &loop, &QEventLoop::quit);
  loop.exec();
  return seconds > 0 ? frames / seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (getenv("DISPLAY") == nullptr && getenv("OTKIT_BENCH_UNDER_XVFB") == nullptr) {
    setenv("OTKIT_BENCH_UNDER_XVFB", "1", 1);
    std::vector<char*> args = {(char*)"xvfb-run", (char*)"-a", (char*)"-s",
                               (char*)"-screen 0 1024x768x24"};
    for (int i = 0; i < argc; i++)
      args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("xvfb-run", args.data());
    fprintf(stderr, "gl_stream: no display, and xvfb-run cannot be run: %s\n", strerror(errno));
    return 1;
  }
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication app(argc, argv);
  const int triangles = argc > 1 ? atoi(argv[1]) : 10000;
  // Frames of a whole run of each side (five times as many with display lists); each round
  // gets its share.
  const int frames = std::max(1, (argc > 2 ? atoi(argv[2]) : 300) / otBenchRounds);
  otOptionsDefaults(&opt);
  tcp_init();

  otSpawn server;
  std::string cmd = std::string(GL_STREAM_SERVER) + " " + std::to_string(triangles) + " " +
                    std::to_string(W) + " " + std::to_string(H);
  int port = 0, made = 0;
  const char* first = server.spawn(cmd.c_str()) > 0 ? server.readLine() : nullptr;
  if (first == nullptr || sscanf(first, "port %d triangles %d", &port, &made) != 2) {
    fprintf(stderr, "gl_stream: the server did not start\n");
    return 1;
  }
  const glscene::Mesh mesh = glscene::torus(triangles);
  otClientWindow window("127.0.0.1", port);
  window.show();
  auto gl = [&] { return qobject_cast<HxGLWidget*>(window.interpreter()->widget(1)); };
  if (!QTest::qWaitFor([&] { return gl() != nullptr && gl()->isValid(); }, 10000)) {
    fprintf(stderr, "gl_stream: the GL widgets did not come up\n");
    return 1;
  }
  // The reference draws into the very widget the stream draws into (while the server rests),
  // so that both frame buffers and windows are the same.
  HxGLWidget& direct = *gl();
  Shown shown;
  window.installEventFilter(&shown);
  // Warm-up, then ours and the reference take turns.
  runStream(server, "stream", 10);
  runDirect(direct, mesh, false, 10, 10);
  runStream(server, "list", 10);
  runDirect(direct, mesh, true, 10, 10);
  // Each round of the stream beside the reference of the same round that shows as many frames
  // as the stream's client did (the fair comparison: the same drawing and the same showing);
  // also the reference showing every frame, and GL alone.
  struct Sides {
    otBenchSide stream, same, every, glOnly;
    int shownMin, shownMax;
  };
  Sides calls{{"call by call, over the wire", "frames/s"},
              {"call by call, direct GL showing as many", "frames/s"},
              {"call by call, direct GL showing every frame", "frames/s"},
              {"call by call, GL alone", "frames/s"},
              frames,
              0};
  Sides lists{{"display list, over the wire", "frames/s"},
              {"display list, direct GL showing as many", "frames/s"},
              {"display list, direct GL showing every frame", "frames/s"},
              {"display list, GL alone", "frames/s"},
              frames * 5,
              0};
  // What a frame costs on the wire alone: its round trip, two wake-ups of a sleeping process.
  otBenchSide empty("empty GL block, over the wire", "frames/s");
  bool failed = false;
  for (int r = 0; r < otBenchRounds && !failed; r++) {
    for (bool useList : {false, true}) {
      Sides& b = useList ? lists : calls;
      const int n = useList ? frames * 5 : frames;
      shown.count = 0;
      const double s = runStream(server, useList ? "list" : "stream", n);
      failed |= s <= 0;
      const int k = std::min(shown.count, n);
      b.shownMin = std::min(b.shownMin, k);
      b.shownMax = std::max(b.shownMax, k);
      b.stream.add(s);
      b.same.add(runDirect(direct, mesh, useList, n, k));
      b.every.add(runDirect(direct, mesh, useList, n, n));
      b.glOnly.add(runDirect(direct, mesh, useList, n, 0));
    }
    empty.add(runStream(server, "empty", frames * 5));
  }
  server.writeString("\xff");
  tcp_free();

  printf("scene: %d lit triangles, %dx%d\n", made, W, H);
  for (bool useList : {true, false}) {
    const Sides& b = useList ? lists : calls;
    const int n = useList ? frames * 5 : frames;
    printf("%s: %d to %d of %d frames a round shown\n", useList ? "display list" : "call by call",
           b.shownMin, b.shownMax, n);
    b.stream.print();
    b.same.print();
    b.every.print();
    b.glOnly.print();
  }
  empty.print();
  // A frame over the wire costs at least the direct frame and the round trip of an empty one.
  const double direct1 = 1 / lists.same.median(), trip = 1 / empty.median();
  printf(
      "display list: round trip of a frame %.0f us, %.0f %% of a direct frame; ours/direct "
      "can reach at most %.2f\n",
      trip * 1e6, trip / direct1 * 100, direct1 / (direct1 + trip));
  otBenchRatio("display list: ratio ours/direct", lists.stream, lists.same,
               {&lists.stream, &lists.same});
  otBenchRatio("ratio ours/direct", calls.stream, calls.same, {&calls.stream, &calls.same});
  return failed ? 1 : 0;
}
