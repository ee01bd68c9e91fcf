// A display server linked with the GL encoder, for the GL round trip: it defines a mask with
// one GL widget (id 1) and draws, on every paint or resize request, a lit cube, a quad
// textured from a BMP file and a display list called twice. It prints "port N" once it
// listens on the loopback, then after every frame the client acknowledged
// "frame F W H list L textures T1 T2": the list and texture names are the client's replies.
// It ends when its standard input ends.
//   glsceneserver BMPFILE
#include <GL/gl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>

#include "hxglencode.h"
#include "hxserver.h"

namespace {

const char* bmpPath = nullptr;
std::atomic<int> frames{0};

void cube(float s) {
  static const float n[6][3] = {{0, 0, 1},  {0, 0, -1}, {1, 0, 0},
                                {-1, 0, 0}, {0, 1, 0},  {0, -1, 0}};
  glBegin(GL_QUADS);
  for (const auto& f : n) {
    // Two axes across the face, then its four corners in order.
    float u[3] = {f[1] != 0 ? 1.0f : 0.0f, 0, f[1] != 0 ? 0.0f : 1.0f};
    if (f[2] != 0) u[0] = 1, u[2] = 0;
    float v[3] = {f[1] * u[2] - f[2] * u[1], f[2] * u[0] - f[0] * u[2], f[0] * u[1] - f[1] * u[0]};
    glNormal3f(f[0], f[1], f[2]);
    const float k[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (const auto& c : k)
      glVertex3f(s * (f[0] + c[0] * u[0] + c[1] * v[0]), s * (f[1] + c[0] * u[1] + c[1] * v[1]),
                 s * (f[2] + c[0] * u[2] + c[1] * v[2]));
  }
  glEnd();
}

struct Scene {
  GLuint list = 0;
  GLuint textures[2] = {0, 0};
  bool made = false;
};

// The view is -1..1 both ways whatever the widget's size.
void draw(Scene& sc, int w, int h) {
  if (!sc.made) {
    sc.made = true;
    sc.list = glGenLists(1);
    glNewList(sc.list, GL_COMPILE);
    glDisable(GL_LIGHTING);
    glColor3f(1, 1, 0);
    glRectf(-0.1f, -0.1f, 0.1f, 0.1f);
    glEndList();
    glGenTextures(2, sc.textures);
    int tw = 0, th = 0, ch = 0;
    unsigned char* px = hxcImageRead(bmpPath, &tw, &th, &ch);
    glBindTexture(GL_TEXTURE_2D, sc.textures[0]);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    if (px != nullptr)
      glTexImage2D(GL_TEXTURE_2D, 0, ch == 4 ? GL_RGBA : GL_RGB, tw, th, 0,
                   ch == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, px);
    hxcImageFree(px);
  }
  glViewport(0, 0, w, h);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-1, 1, -1, 1, -2, 2);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glClearColor(0.2f, 0.2f, 0.2f, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);

  // Top left: the texture, unlit.
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, sc.textures[0]);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex2f(-0.9f, 0.1f);
  glTexCoord2f(1, 0);
  glVertex2f(-0.1f, 0.1f);
  glTexCoord2f(1, 1);
  glVertex2f(-0.1f, 0.9f);
  glTexCoord2f(0, 1);
  glVertex2f(-0.9f, 0.9f);
  glEnd();
  glDisable(GL_TEXTURE_2D);

  // Bottom right: a green cube turned 30 degrees about y, lit from the viewer.
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  const GLfloat dir[4] = {0, 0, 1, 0}, white[4] = {1, 1, 1, 1}, green[4] = {0, 1, 0, 1};
  glLightfv(GL_LIGHT0, GL_POSITION, dir);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, green);
  glPushMatrix();
  glTranslatef(0.5f, -0.5f, 0);
  glRotatef(30, 0, 1, 0);
  cube(0.3f);
  glPopMatrix();

  // Bottom left: the list twice.
  glPushMatrix();
  glTranslatef(-0.75f, -0.5f, 0);
  glCallList(sc.list);
  glTranslatef(0.4f, 0, 0);
  glCallList(sc.list);
  glPopMatrix();
}

int serve(PARAM_* p) {
  p->pollMs = 50;
  hxStartDefinition(p, 2);
  hxQGL(p, 1, 0);
  hxSetGeometry(p, 1, 0, 0, 128, 128);
  hxEndDefinition(p);
  Scene sc;
  int w = 128, h = 128;
  char buf[HX_EVENT_BUFSIZE], rest[HX_TEXT_SIZE];
  while (hxPollEvent(p, buf) >= 0) {
    int id = 0;
    int kind = hxParseEvent(buf, &id, rest);
    if (id != 1) continue;
    if (kind == GL_SIZE_EVENT) {
      if (sscanf(rest, "(%d,%d)", &w, &h) != 2) continue;
    } else if (kind != GL_DRAW_EVENT) {
      continue;
    }
    hxGlBegin(p, 1);
    draw(sc, w, h);
    if (hxGlEnd(p) < 0) break;
    printf("frame %d %d %d list %u textures %u %u\n", ++frames, w, h, sc.list, sc.textures[0],
           sc.textures[1]);
    fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: glsceneserver BMPFILE\n");
    return 2;
  }
  bmpPath = argv[1];
  hxServerOptions o;
  o.bindAddress = "127.0.0.1";
  o.port = 0;
  hxServer* server = hxServerStart(&o, serve, nullptr);
  if (server == nullptr) return 1;
  printf("port %d\n", hxServerPort(server));
  fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  hxServerStop(server);
  return 0;
}
