// The GL benchmark's scene, in plain OpenGL 1.x calls: compiled once against the GL encoder
// (the server, whose calls travel as a stream) and once against the real GL (the direct
// reference), so that both draw exactly the same thing.
#ifndef BENCH_GLSCENE_H
#define BENCH_GLSCENE_H

#include <GL/gl.h>
#include <math.h>

#include <vector>

namespace glscene {

// A torus of rings x sides quads, two triangles each, with a normal at every vertex.
struct Mesh {
  std::vector<float> v;  // per triangle corner: nx ny nz x y z
  int triangles() const { return (int)(v.size() / 18); }
};

inline Mesh torus(int triangles) {
  int sides = 50, rings = triangles / (2 * sides);
  if (rings < 3) rings = 3;
  const float R = 0.6f, r = 0.25f;
  Mesh m;
  auto corner = [&](int i, int j) {
    float u = (float)(2 * M_PI * i / rings), w = (float)(2 * M_PI * j / sides);
    float nx = cosf(w) * cosf(u), ny = cosf(w) * sinf(u), nz = sinf(w);
    const float c[6] = {
        nx, ny, nz, (R + r * cosf(w)) * cosf(u), (R + r * cosf(w)) * sinf(u), r * sinf(w)};
    m.v.insert(m.v.end(), c, c + 6);
  };
  for (int i = 0; i < rings; i++)
    for (int j = 0; j < sides; j++) {
      corner(i, j), corner(i + 1, j), corner(i + 1, j + 1);
      corner(i, j), corner(i + 1, j + 1), corner(i, j + 1);
    }
  return m;
}

// Projection, light and material; once per context (and after a resize).
inline void setup(int w, int h) {
  glViewport(0, 0, w, h);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glFrustum(-0.5, 0.5, -0.5 * h / w, 0.5 * h / w, 1, 10);
  glMatrixMode(GL_MODELVIEW);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glShadeModel(GL_SMOOTH);
  const GLfloat pos[4] = {1, 1, 2, 0}, white[4] = {1, 1, 1, 1}, tone[4] = {0.2f, 0.6f, 0.9f, 1};
  glLightfv(GL_LIGHT0, GL_POSITION, pos);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE, tone);
  glClearColor(0.1f, 0.1f, 0.1f, 1);
}

inline void mesh(const Mesh& m) {
  glBegin(GL_TRIANGLES);
  for (size_t k = 0; k < m.v.size(); k += 6) {
    glNormal3f(m.v[k], m.v[k + 1], m.v[k + 2]);
    glVertex3f(m.v[k + 3], m.v[k + 4], m.v[k + 5]);
  }
  glEnd();
}

// One frame: the torus turned by angle degrees; list 0 draws the mesh call by call.
inline void frame(const Mesh& m, GLuint list, float angle) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  glTranslatef(0, 0, -3);
  glRotatef(angle, 1, 0, 0);
  glRotatef(angle * 0.7f, 0, 1, 0);
  if (list != 0)
    glCallList(list);
  else
    mesh(m);
}

inline GLuint compile(const Mesh& m) {
  GLuint list = glGenLists(1);
  glNewList(list, GL_COMPILE);
  mesh(m);
  glEndList();
  return list;
}

}  // namespace glscene

#endif
