// A lit 3-D scene sent as a GL command stream against the same scene drawn by direct GL calls.
// Ours: a display server program linked with the GL encoder (gl_stream_server) draws a torus
// of 10000 smooth-shaded triangles into the GL widget of an otclient window on loopback, frame
// after frame, each frame acknowledged by the client once its GL has carried it out.
// Reference: the same scene code compiled against the real GL, drawn in this process into the
// same widget. Both again with the mesh compiled once into a display list that each
// frame calls. OpenGL needs a display: without one the benchmark runs itself under xvfb-run
// (Mesa's software renderer).
//   bench_gl_stream [TRIANGLES [FRAMES]]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTest>
#include <algorithm>
#include <string>

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

// Frames per second of the scene drawn directly into w; with show, each frame is shown before
// the next is drawn, as a program that draws in its paint handler does.
double runDirect(HxGLWidget& w, const glscene::Mesh& m, bool useList, int frames, bool show) {
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
    if (show) {
      w.update();
      QCoreApplication::processEvents();
    }
  }
  double fps = frames / (t.nsecsElapsed() / 1e9);
  w.update();
  QCoreApplication::processEvents();
  return fps;
}

// Frames per second of the scene sent by the server; -1 when it did not answer.
double runStream(otSpawn& server, bool useList, int frames) {
  server.printf("run %s %d\n", useList ? "list" : "stream", frames);
  double seconds = -1;
  (void)QTest::qWaitFor(
      [&] {
        while (server.select(0) == 1) {
          const char* line = server.readLine();
          if (line == nullptr) return true;
          if (sscanf(line, "done %lf", &seconds) == 1) return true;
        }
        return false;
      },
      600000);
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
  const int frames = argc > 2 ? atoi(argv[2]) : 100;
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
  // Warm-up, then ours and the reference take turns, three rounds each; the best round of
  // each side counts, which keeps a moment of load on the machine from deciding the ratio.
  runStream(server, false, 10);
  runDirect(direct, mesh, false, 10, true);
  runStream(server, true, 10);
  runDirect(direct, mesh, true, 10, true);
  double stream = -1, directFps = -1, directGl = -1, streamList = -1, directList = -1;
  int streamShown = 0, listShown = 0;
  for (int r = 0; r < 3; r++) {
    shown.count = 0;
    stream = std::max(stream, runStream(server, false, frames));
    streamShown = std::max(streamShown, shown.count);
    directFps = std::max(directFps, runDirect(direct, mesh, false, frames, true));
    directGl = std::max(directGl, runDirect(direct, mesh, false, frames, false));
    shown.count = 0;
    streamList = std::max(streamList, runStream(server, true, frames * 5));
    listShown = std::max(listShown, shown.count);
    directList = std::max(directList, runDirect(direct, mesh, true, frames * 5, true));
  }
  server.writeString("\xff");
  tcp_free();

  printf("scene: %d lit triangles, %dx%d, best of 3 rounds; the reference shows every frame\n",
         made, W, H);
  printf("display list, over the wire: %.1f frames/s (%d of %d frames shown)\n", streamList,
         listShown, frames * 5);
  printf("display list, direct GL: %.1f frames/s\n", directList);
  printf("display list: ratio ours/direct %.2f\n", streamList / directList);
  printf("call by call, direct GL without showing each frame: %.1f frames/s\n", directGl);
  printf("call by call, over the wire: %.1f frames/s (%d of %d frames shown)\n", stream,
         streamShown, frames);
  printf("call by call, direct GL: %.1f frames/s\n", directFps);
  printf("ratio ours/direct %.2f\n", stream / directFps);
  return stream > 0 && streamList > 0 ? 0 : 1;
}
