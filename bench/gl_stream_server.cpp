// The GL benchmark's display server, linked with the GL encoder. It defines a mask with one GL
// widget (id 1) of the size given, prints "port N", then takes commands on standard input:
//   run MODE FRAMES     MODE stream (the mesh call by call each frame), list (compiled once
//                       into a display list, each frame calls it) or empty (a GL block with
//                       nothing in it, the cost of a frame's round trip); draws FRAMES frames one
//                       after the other, each waiting for the client's acknowledgement, the
//                       last ending with glFinish, and prints "done SECONDS"
// It ends when its standard input ends.
//   gl_stream_server TRIANGLES WIDTH HEIGHT
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <mutex>
#include <string>

#include "glscene.h"
#include "hxglencode.h"
#include "hxserver.h"

namespace {

glscene::Mesh theMesh;
int width = 400, height = 400;

std::mutex lock;
std::string command;  // the next "run" line; "" when none waits
bool quit = false;

int serve(PARAM_* p) {
  p->pollMs = 5;
  hxStartDefinition(p, 2);
  hxQGL(p, 1, 0);
  hxSetGeometry(p, 1, 0, 0, width, height);
  hxEndDefinition(p);
  GLuint list = 0;
  bool ready = false;
  float angle = 0;
  char buf[HX_EVENT_BUFSIZE];
  for (;;) {
    std::string cmd;
    {
      std::lock_guard<std::mutex> hold(lock);
      if (quit) return 0;
      cmd.swap(command);
    }
    if (cmd.empty()) {
      if (hxPollEvent(p, buf) < 0) return 0;
      continue;
    }
    char mode[16] = "";
    int frames = 0;
    if (sscanf(cmd.c_str(), "run %15s %d", mode, &frames) != 2 || frames < 1) continue;
    bool useList = strcmp(mode, "list") == 0;
    bool empty = strcmp(mode, "empty") == 0;
    auto start = std::chrono::steady_clock::now();
    for (int f = 0; f < frames; f++) {
      hxGlBegin(p, 1);
      if (empty) {
        if (hxGlEnd(p) < 0) return 0;
        continue;
      }
      if (!ready) {
        glscene::setup(width, height);
        ready = true;
      }
      if (useList && list == 0) list = glscene::compile(theMesh);
      glscene::frame(theMesh, useList ? list : 0, angle);
      angle += 1;
      if (f == frames - 1) glFinish();
      if (hxGlEnd(p) < 0) return 0;
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("done %.6f\n", s);
    fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: gl_stream_server TRIANGLES WIDTH HEIGHT\n");
    return 2;
  }
  theMesh = glscene::torus(atoi(argv[1]));
  width = atoi(argv[2]);
  height = atoi(argv[3]);
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.port = 0;
  hxServer* server = hxServerStart(&o, serve, nullptr);
  if (server == nullptr) return 1;
  printf("port %d triangles %d\n", hxServerPort(server), theMesh.triangles());
  fflush(stdout);
  char line[256];
  while (fgets(line, sizeof line, stdin) != nullptr) {
    std::lock_guard<std::mutex> hold(lock);
    command = line;
  }
  {
    std::lock_guard<std::mutex> hold(lock);
    quit = true;
  }
  hxServerStop(server);
  return 0;
}
