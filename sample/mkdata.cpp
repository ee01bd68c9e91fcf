// otsample_mkdata: makes the sample server's data files, all of them drawn or computed here, so
// that nothing binary lives in the source tree.
//   otsample_mkdata DIR
// DIR (and its parents) is created. Written: caster.bmp (a continuous caster, 24-bit),
// homer.bmp, homer.bmp.orig, homer2.bmp (a house by day, at dusk and at night, 24-bit) and
// homer.bmp.transp (the house alone on a transparent ground, 32-bit with alpha),
// k3b_success1.wav (a two-note chime), out.txt (GL display lists of a small plant cell, recorded
// through the GL encoder), strokefont.txt (the stroke font its label is drawn with), and the
// files of the VTK mask: data1.vtk, combxyz.bin, combq.bin, surface.tcl, xyplot.tcl,
// update_surface.tcl.
#include <errno.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hxglencode.h"

namespace {

const double kPi = 3.14159265358979323846;

std::string dir;

std::string pathOf(const char* name) {
  return dir + "/" + name;
}

// Writes the whole of data to the file; false (with a message) when that fails.
bool writeAll(const char* name, const void* data, size_t n) {
  std::string path = pathOf(name);
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) {
    fprintf(stderr, "otsample_mkdata: %s: %s\n", path.c_str(), strerror(errno));
    return false;
  }
  bool ok = fwrite(data, 1, n, f) == n;
  ok = fclose(f) == 0 && ok;
  if (!ok) fprintf(stderr, "otsample_mkdata: %s: write error\n", path.c_str());
  return ok;
}

bool writeText(const char* name, const std::string& text) {
  return writeAll(name, text.data(), text.size());
}

bool makeDirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); i++) {
    if (i < path.size() && path[i] != '/') continue;
    std::string part = path.substr(0, i);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      fprintf(stderr, "otsample_mkdata: %s: %s\n", part.c_str(), strerror(errno));
      return false;
    }
  }
  return true;
}

void put16(std::vector<uint8_t>& b, unsigned v) {
  b.push_back((uint8_t)(v & 0xff));
  b.push_back((uint8_t)((v >> 8) & 0xff));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
  put16(b, v & 0xffff);
  put16(b, v >> 16);
}

// ---- Pictures -------------------------------------------------------------------------------

struct Rgba {
  int r, g, b, a;
};

Rgba mix(Rgba x, Rgba y, double t) {
  t = std::min(1.0, std::max(0.0, t));
  return {(int)lround(x.r + (y.r - x.r) * t), (int)lround(x.g + (y.g - x.g) * t),
          (int)lround(x.b + (y.b - x.b) * t), (int)lround(x.a + (y.a - x.a) * t)};
}

// An RGBA canvas, y down, with the few filled shapes the pictures need.
class Canvas {
 public:
  Canvas(int w, int h, Rgba fill) : w_(w), h_(h), px_((size_t)w * h, fill) {}
  int width() const { return w_; }
  int height() const { return h_; }
  Rgba at(int x, int y) const { return px_[(size_t)y * w_ + x]; }

  void set(int x, int y, Rgba c) {
    if (x >= 0 && y >= 0 && x < w_ && y < h_) px_[(size_t)y * w_ + x] = c;
  }
  void rect(int x, int y, int w, int h, Rgba c) {
    for (int j = y; j < y + h; j++)
      for (int i = x; i < x + w; i++)
        set(i, j, c);
  }
  // Vertical gradient from top to bottom colour.
  void gradient(int x, int y, int w, int h, Rgba top, Rgba bottom) {
    for (int j = 0; j < h; j++)
      rect(x, y + j, w, 1, mix(top, bottom, h > 1 ? (double)j / (h - 1) : 0));
  }
  void disc(double cx, double cy, double r, Rgba c) {
    for (int j = (int)floor(cy - r); j <= (int)ceil(cy + r); j++)
      for (int i = (int)floor(cx - r); i <= (int)ceil(cx + r); i++)
        if ((i - cx) * (i - cx) + (j - cy) * (j - cy) <= r * r) set(i, j, c);
  }
  // A line of the given width (a row of discs).
  void line(double x1, double y1, double x2, double y2, double width, Rgba c) {
    double len = hypot(x2 - x1, y2 - y1);
    int steps = std::max(1, (int)ceil(len));
    for (int k = 0; k <= steps; k++)
      disc(x1 + (x2 - x1) * k / steps, y1 + (y2 - y1) * k / steps, width / 2, c);
  }
  // A filled polygon (even-odd rule, pixel centres).
  void polygon(const std::vector<double>& xy, Rgba c) {
    size_t n = xy.size() / 2;
    for (int j = 0; j < h_; j++) {
      double y = j + 0.5;
      std::vector<double> xs;
      for (size_t k = 0; k < n; k++) {
        double ax = xy[2 * k], ay = xy[2 * k + 1];
        double bx = xy[2 * ((k + 1) % n)], by = xy[2 * ((k + 1) % n) + 1];
        if ((ay <= y) != (by <= y)) xs.push_back(ax + (y - ay) * (bx - ax) / (by - ay));
      }
      std::sort(xs.begin(), xs.end());
      for (size_t k = 0; k + 1 < xs.size(); k += 2)
        for (int i = (int)ceil(xs[k] - 0.5); i < (int)ceil(xs[k + 1] - 0.5); i++)
          set(i, j, c);
    }
  }

 private:
  int w_, h_;
  std::vector<Rgba> px_;
};

// A Windows bitmap, bottom row first: 24-bit BI_RGB with rows padded to 4 bytes, or 32-bit
// BI_BITFIELDS behind a V4 header whose alpha mask makes readers keep the transparency.
bool writeBmp(const char* name, const Canvas& c, bool alpha) {
  const int w = c.width(), h = c.height();
  const int row = alpha ? 4 * w : (3 * w + 3) / 4 * 4;
  const uint32_t info = alpha ? 108 : 40, offset = 14 + info;
  std::vector<uint8_t> b;
  b.push_back('B');
  b.push_back('M');
  put32(b, offset + (uint32_t)(row * h));
  put32(b, 0);
  put32(b, offset);
  put32(b, info);
  put32(b, (uint32_t)w);
  put32(b, (uint32_t)h);
  put16(b, 1);
  put16(b, alpha ? 32 : 24);
  put32(b, alpha ? 3 : 0);  // BI_BITFIELDS : BI_RGB
  put32(b, (uint32_t)(row * h));
  put32(b, 2835);  // 72 dpi
  put32(b, 2835);
  put32(b, 0);
  put32(b, 0);
  if (alpha) {
    put32(b, 0x00ff0000);  // red, green, blue, alpha masks
    put32(b, 0x0000ff00);
    put32(b, 0x000000ff);
    put32(b, 0xff000000);
    put32(b, 0x73524742);  // LCS_sRGB
    for (int k = 0; k < 12; k++)
      put32(b, 0);  // end points and gamma, unused with sRGB
  }
  for (int y = h - 1; y >= 0; y--) {
    size_t start = b.size();
    for (int x = 0; x < w; x++) {
      Rgba p = c.at(x, y);
      b.push_back((uint8_t)p.b);
      b.push_back((uint8_t)p.g);
      b.push_back((uint8_t)p.r);
      if (alpha) b.push_back((uint8_t)p.a);
    }
    while (b.size() - start < (size_t)row)
      b.push_back(0);
  }
  return writeAll(name, b.data(), b.size());
}

const Rgba kSteel = {70, 74, 82, 255}, kDarkSteel = {40, 42, 48, 255};
const Rgba kMelt = {255, 170, 40, 255}, kGlow = {255, 90, 20, 255};

// A continuous caster in side view: ladle, tundish, copper mould and the strand that bends from
// vertical to horizontal between its rollers, then the torch and a cut slab on the run-out.
bool makeCaster() {
  const int W = 480, H = 480;
  Canvas c(W, H, {0, 0, 0, 255});
  c.gradient(0, 0, W, 440, {200, 212, 226, 255}, {150, 160, 174, 255});
  c.gradient(0, 440, W, 40, {90, 90, 96, 255}, {60, 60, 66, 255});
  // Hall columns and crane rail.
  for (int x : {20, 460})
    c.rect(x - 6, 0, 12, 440, {120, 126, 136, 255});
  c.rect(0, 8, W, 10, {110, 110, 60, 255});

  // Ladle with its melt, the shroud down into the tundish.
  c.polygon({130, 30, 290, 30, 270, 118, 150, 118}, kSteel);
  c.polygon({140, 36, 280, 36, 276, 50, 144, 50}, kMelt);
  c.rect(122, 24, 176, 8, kDarkSteel);
  c.line(210, 118, 210, 150, 8, kDarkSteel);
  // Tundish.
  c.polygon({110, 140, 330, 140, 316, 186, 124, 186}, kSteel);
  c.rect(120, 146, 200, 10, kMelt);
  c.line(220, 186, 220, 198, 6, kDarkSteel);
  // Mould: copper plates with the melt between them.
  c.rect(196, 198, 48, 56, {184, 115, 51, 255});
  c.rect(210, 198, 20, 56, kGlow);

  // The strand: straight down to y 280, then a quarter circle of radius R about (cx, cy), then
  // along the run-out. Its colour cools from orange to dark red along the way.
  const double cx = 220 + 150, cy = 280, R = 150, half = 11;
  c.rect((int)(220 - half), 254, (int)(2 * half), 26, kGlow);
  for (int a = 0; a <= 900; a++) {
    double t = a / 900.0, ang = t * kPi / 2;
    Rgba col = mix(kGlow, {170, 40, 20, 255}, t);
    for (double r = R - half; r <= R + half; r += 0.5)
      c.set((int)lround(cx - r * cos(ang)), (int)lround(cy + r * sin(ang)), col);
  }
  c.rect((int)cx, (int)(cy + R - half), 70, (int)(2 * half), {170, 40, 20, 255});
  // Rollers on both sides of the strand.
  for (int k = 0; k <= 3; k++) {
    for (double x : {220 - half - 7, 220 + half + 7})
      c.disc(x, 262 + 6 * k, 5, kDarkSteel);
  }
  for (int deg = 0; deg <= 90; deg += 8) {
    double ang = deg * kPi / 180;
    for (double r : {R - half - 7, R + half + 7}) {
      double x = cx - r * cos(ang), y = cy + r * sin(ang);
      c.disc(x, y, 6, kDarkSteel);
      c.disc(x, y, 2, {160, 160, 170, 255});
    }
  }
  // Torch cutter over the strand, the cut slab and the run-out rollers.
  c.rect(428, 394, 26, 22, {230, 200, 40, 255});
  c.line(441, 416, 441, 426, 3, {60, 120, 255, 255});
  c.rect(454, (int)(cy + R - half), 26, (int)(2 * half), {120, 40, 30, 255});
  for (int x = 380; x < W; x += 22)
    c.disc(x, cy + R + half + 6, 5, kDarkSteel);
  return writeBmp("caster.bmp", c, false);
}

// A house with a tree; the sky, the light in its windows and the moon or sun change with the
// time of day. ground: false leaves everything but the house and the tree transparent.
enum Daytime { kDay, kDusk, kNight };

Canvas house(Daytime t, bool ground) {
  const int W = 200, H = 160;
  Canvas c(W, H, {0, 0, 0, 0});
  if (ground) {
    Rgba top = t == kDay    ? Rgba{110, 170, 240, 255}
               : t == kDusk ? Rgba{80, 60, 130, 255}
                            : Rgba{10, 14, 40, 255};
    Rgba low = t == kDay    ? Rgba{200, 225, 250, 255}
               : t == kDusk ? Rgba{250, 150, 70, 255}
                            : Rgba{30, 40, 80, 255};
    c.gradient(0, 0, W, 120, top, low);
    c.rect(0, 120, W, 40, t == kNight ? Rgba{20, 50, 20, 255} : Rgba{70, 150, 60, 255});
    if (t == kDay) c.disc(165, 28, 16, {255, 225, 60, 255});
    if (t == kDusk) c.disc(30, 112, 18, {255, 110, 40, 255});
    if (t == kNight) {
      c.disc(160, 30, 14, {240, 240, 210, 255});
      c.disc(166, 25, 12, {10, 14, 40, 255});  // the dark part of the crescent
      for (int k = 0; k < 18; k++)
        c.set((k * 53) % W, 5 + (k * 37) % 80, {255, 255, 255, 255});
    }
  }
  Rgba wall = t == kNight ? Rgba{120, 110, 100, 255} : Rgba{230, 210, 170, 255};
  Rgba roof = t == kNight ? Rgba{90, 30, 30, 255} : Rgba{180, 50, 40, 255};
  Rgba glass = t == kDay ? Rgba{150, 200, 240, 255} : Rgba{255, 220, 100, 255};
  c.rect(48, 76, 100, 58, wall);
  c.polygon({40, 78, 98, 34, 156, 78}, roof);
  c.rect(124, 40, 12, 26, {110, 60, 50, 255});  // chimney
  c.rect(86, 100, 22, 34, {110, 70, 40, 255});  // door
  for (int x : {58, 118}) {
    c.rect(x, 90, 20, 18, glass);
    c.rect(x + 9, 90, 2, 18, {80, 60, 40, 255});
    c.rect(x, 98, 20, 2, {80, 60, 40, 255});
  }
  c.rect(172, 96, 8, 38, {100, 70, 40, 255});  // tree
  c.disc(176, 86, 18, t == kNight ? Rgba{20, 70, 30, 255} : Rgba{40, 130, 50, 255});
  return c;
}

bool makeHouses() {
  return writeBmp("homer.bmp", house(kDay, true), false) &&
         writeBmp("homer.bmp.orig", house(kDusk, true), false) &&
         writeBmp("homer2.bmp", house(kNight, true), false) &&
         writeBmp("homer.bmp.transp", house(kDay, false), true);
}

// ---- Sound ----------------------------------------------------------------------------------

// Two rising notes with a soft attack and decay: 16-bit mono PCM at 22050 Hz, about 0.45 s.
bool makeChime() {
  const int rate = 22050;
  const struct { double freq, seconds; } notes[] = {{880, 0.15}, {1318.5, 0.3}};
  std::vector<int16_t> samples;
  for (const auto& n : notes) {
    int count = (int)(n.seconds * rate);
    for (int k = 0; k < count; k++) {
      double t = (double)k / rate;
      double env = std::min(1.0, t / 0.01) * exp(-4.0 * t / n.seconds);
      double v = sin(2 * kPi * n.freq * t) + 0.3 * sin(4 * kPi * n.freq * t);
      samples.push_back((int16_t)lround(v / 1.3 * env * 20000));
    }
  }
  const uint32_t data = (uint32_t)(samples.size() * 2);
  std::vector<uint8_t> b;
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  put32(b, 36 + data);
  const char* wave = "WAVEfmt ";
  b.insert(b.end(), wave, wave + 8);
  put32(b, 16);
  put16(b, 1);  // PCM
  put16(b, 1);  // mono
  put32(b, rate);
  put32(b, rate * 2);  // bytes per second
  put16(b, 2);         // bytes per frame
  put16(b, 16);        // bits per sample
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  put32(b, data);
  for (int16_t s : samples)
    put16(b, (uint16_t)s);
  return writeAll("k3b_success1.wav", b.data(), b.size());
}

// ---- GL display lists -----------------------------------------------------------------------

void material(float r, float g, float b, float shine) {
  const GLfloat diffuse[4] = {r, g, b, 1}, ambient[4] = {r * 0.3f, g * 0.3f, b * 0.3f, 1};
  const GLfloat specular[4] = {0.5f, 0.5f, 0.5f, 1};
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
  glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, shine);
}

// An axis-aligned box from (x0,y0,z0) to (x1,y1,z1), one normal per face.
void box(float x0, float y0, float z0, float x1, float y1, float z1) {
  glBegin(GL_QUADS);
  glNormal3f(0, 0, 1);
  glVertex3f(x0, y0, z1), glVertex3f(x1, y0, z1), glVertex3f(x1, y1, z1), glVertex3f(x0, y1, z1);
  glNormal3f(0, 0, -1);
  glVertex3f(x0, y0, z0), glVertex3f(x0, y1, z0), glVertex3f(x1, y1, z0), glVertex3f(x1, y0, z0);
  glNormal3f(1, 0, 0);
  glVertex3f(x1, y0, z0), glVertex3f(x1, y1, z0), glVertex3f(x1, y1, z1), glVertex3f(x1, y0, z1);
  glNormal3f(-1, 0, 0);
  glVertex3f(x0, y0, z0), glVertex3f(x0, y0, z1), glVertex3f(x0, y1, z1), glVertex3f(x0, y1, z0);
  glNormal3f(0, 1, 0);
  glVertex3f(x0, y1, z0), glVertex3f(x0, y1, z1), glVertex3f(x1, y1, z1), glVertex3f(x1, y1, z0);
  glNormal3f(0, -1, 0);
  glVertex3f(x0, y0, z0), glVertex3f(x1, y0, z0), glVertex3f(x1, y0, z1), glVertex3f(x0, y0, z1);
  glEnd();
}

// A cylinder along +y from y 0 to h with caps; radial normals make the mantle look round under
// smooth shading.
void cylinder(float radius, float h, int sides) {
  glBegin(GL_QUAD_STRIP);
  for (int k = 0; k <= sides; k++) {
    float a = (float)(2 * kPi * k / sides), x = cosf(a), z = sinf(a);
    glNormal3f(x, 0, z);
    glVertex3f(radius * x, h, radius * z);
    glVertex3f(radius * x, 0, radius * z);
  }
  glEnd();
  for (int cap = 0; cap < 2; cap++) {
    float y = cap ? h : 0, ny = cap ? 1.0f : -1.0f;
    glBegin(GL_TRIANGLE_FAN);
    glNormal3f(0, ny, 0);
    glVertex3f(0, y, 0);
    for (int k = 0; k <= sides; k++) {
      float a = (float)(2 * kPi * (cap ? sides - k : k) / sides);
      glVertex3f(radius * cosf(a), y, radius * sinf(a));
    }
    glEnd();
  }
}

// A pipe of length len from the current origin along the direction the rotation gives.
void pipe(float x, float y, float z, float angle, float ax, float ay, float az, float len) {
  glPushMatrix();
  glTranslatef(x, y, z);
  glRotatef(angle, ax, ay, az);
  cylinder(0.06f, len, 16);
  glPopMatrix();
}

// A small plant cell, centred on the origin and about 2.4 units wide: base plate, a tank with
// its pipes and valve, a robot arm, and the cell's name in the stroke font (the hxText line,
// which the server draws with its font when it sends the lists).
bool makeGlLists() {
  std::string path = pathOf("out.txt");
  FILE* f = fopen(path.c_str(), "w");
  if (f == nullptr) {
    fprintf(stderr, "otsample_mkdata: %s: %s\n", path.c_str(), strerror(errno));
    return false;
  }
  glencode_record(f);
  GLuint base = glGenLists(5);

  glNewList(base, GL_COMPILE);  // the base plate
  material(0.55f, 0.57f, 0.6f, 10);
  box(-1.2f, -0.7f, -0.8f, 1.2f, -0.6f, 0.8f);
  material(0.9f, 0.8f, 0.1f, 10);  // the yellow safety line at the edge
  box(-1.15f, -0.6f, 0.7f, 1.15f, -0.59f, 0.74f);
  glEndList();

  glNewList(base + 1, GL_COMPILE);  // the tank
  material(0.2f, 0.4f, 0.8f, 60);
  glPushMatrix();
  glTranslatef(-0.6f, -0.6f, -0.1f);
  cylinder(0.35f, 0.9f, 32);
  glTranslatef(0, 0.9f, 0);
  material(0.7f, 0.7f, 0.75f, 80);
  cylinder(0.12f, 0.08f, 24);  // the manhole
  glPopMatrix();
  glEndList();

  glNewList(base + 2, GL_COMPILE);  // pipes and a valve
  material(0.75f, 0.75f, 0.78f, 90);
  pipe(-0.25f, 0.1f, -0.1f, -90, 0, 0, 1, 0.75f);  // from the tank's side along +x
  pipe(0.5f, -0.6f, -0.1f, 0, 0, 1, 0, 0.76f);     // down to the plate
  pipe(-0.6f, 0.3f, -0.1f, 0, 0, 1, 0, 0.35f);     // the fill pipe on top
  material(0.8f, 0.1f, 0.1f, 30);
  box(0.05f, 0.02f, -0.18f, 0.17f, 0.18f, -0.02f);  // the valve body
  pipe(0.11f, 0.18f, -0.1f, 0, 0, 1, 0, 0.1f);      // its spindle
  glEndList();

  glNewList(base + 3, GL_COMPILE);  // the robot arm
  material(1.0f, 0.5f, 0.05f, 40);
  glPushMatrix();
  glTranslatef(0.6f, -0.6f, 0.35f);
  cylinder(0.15f, 0.12f, 24);  // the turntable
  glTranslatef(0, 0.12f, 0);
  glRotatef(30, 0, 1, 0);
  glRotatef(-25, 0, 0, 1);
  box(-0.06f, 0, -0.06f, 0.06f, 0.55f, 0.06f);  // the upper arm
  glTranslatef(0, 0.55f, 0);
  glRotatef(95, 0, 0, 1);
  box(-0.05f, 0, -0.05f, 0.05f, 0.45f, 0.05f);  // the forearm
  glTranslatef(0, 0.45f, 0);
  material(0.3f, 0.3f, 0.3f, 20);
  box(-0.03f, 0, -0.08f, 0.03f, 0.1f, -0.04f);  // the gripper's fingers
  box(-0.03f, 0, 0.04f, 0.03f, 0.1f, 0.08f);
  glPopMatrix();
  glEndList();

  glNewList(base + 4, GL_COMPILE);  // the cell's name, unlit, on the front edge
  glDisable(GL_LIGHTING);
  glColor3f(1, 1, 1);
  glLineWidth(2);
  glPushMatrix();
  glTranslatef(-1.1f, -0.55f, 0.78f);
  fflush(f);  // the encoder's lines and ours go through the same stream, in order
  fprintf(f, "hxText(0,0.000000,0.000000,\"CELL 1 - TANK AND ROBOT\");\n");
  glPopMatrix();
  glEnable(GL_LIGHTING);
  glEndList();

  glencode_record(nullptr);
  bool ok = !ferror(f);
  ok = fclose(f) == 0 && ok;
  if (!ok) fprintf(stderr, "otsample_mkdata: %s: write error\n", path.c_str());
  return ok;
}

// The stroke font of the GL scene: capitals (also for small letters), digits and a few signs on
// a grid 4 units wide and 6 tall. Each glyph is polylines "x,y x,y ...", separated by ';'.
bool makeFont() {
  static const struct {
    char c;
    const char* strokes;
  } glyphs[] = {
      {'A', "0,0 0,4 2,6 4,4 4,0;0,3 4,3"},
      {'B', "0,0 0,6 3,6 4,5 4,4 3,3 0,3;3,3 4,2 4,1 3,0 0,0"},
      {'C', "4,5 3,6 1,6 0,5 0,1 1,0 3,0 4,1"},
      {'D', "0,0 0,6 2,6 4,4 4,2 2,0 0,0"},
      {'E', "4,6 0,6 0,0 4,0;0,3 3,3"},
      {'F', "4,6 0,6 0,0;0,3 3,3"},
      {'G', "4,5 3,6 1,6 0,5 0,1 1,0 3,0 4,1 4,3 2,3"},
      {'H', "0,0 0,6;4,0 4,6;0,3 4,3"},
      {'I', "1,6 3,6;2,6 2,0;1,0 3,0"},
      {'J', "4,6 4,1 3,0 1,0 0,1"},
      {'K', "0,0 0,6;4,6 0,2;1,3 4,0"},
      {'L', "0,6 0,0 4,0"},
      {'M', "0,0 0,6 2,3 4,6 4,0"},
      {'N', "0,0 0,6 4,0 4,6"},
      {'O', "1,0 0,1 0,5 1,6 3,6 4,5 4,1 3,0 1,0"},
      {'P', "0,0 0,6 3,6 4,5 4,4 3,3 0,3"},
      {'Q', "1,0 0,1 0,5 1,6 3,6 4,5 4,1 3,0 1,0;2,2 4,0"},
      {'R', "0,0 0,6 3,6 4,5 4,4 3,3 0,3;2,3 4,0"},
      {'S', "4,5 3,6 1,6 0,5 0,4 1,3 3,3 4,2 4,1 3,0 1,0 0,1"},
      {'T', "0,6 4,6;2,6 2,0"},
      {'U', "0,6 0,1 1,0 3,0 4,1 4,6"},
      {'V', "0,6 2,0 4,6"},
      {'W', "0,6 1,0 2,3 3,0 4,6"},
      {'X', "0,0 4,6;0,6 4,0"},
      {'Y', "0,6 2,3 4,6;2,3 2,0"},
      {'Z', "0,6 4,6 0,0 4,0"},
      {'0', "1,0 0,1 0,5 1,6 3,6 4,5 4,1 3,0 1,0;0,1 4,5"},
      {'1', "1,5 2,6 2,0;1,0 3,0"},
      {'2', "0,5 1,6 3,6 4,5 4,4 0,0 4,0"},
      {'3', "0,5 1,6 3,6 4,5 4,4 3,3 4,2 4,1 3,0 1,0 0,1;1,3 3,3"},
      {'4', "3,0 3,6 0,2 4,2"},
      {'5', "4,6 0,6 0,3 3,3 4,2 4,1 3,0 0,0"},
      {'6', "4,5 3,6 1,6 0,5 0,1 1,0 3,0 4,1 4,2 3,3 0,3"},
      {'7', "0,6 4,6 1,0"},
      {'8', "1,3 0,4 0,5 1,6 3,6 4,5 4,4 3,3 1,3 0,2 0,1 1,0 3,0 4,1 4,2 3,3"},
      {'9', "0,1 1,0 3,0 4,1 4,5 3,6 1,6 0,5 0,4 1,3 4,3"},
      {'-', "1,3 3,3"},
      {'.', "2,0 2,1"},
      {':', "2,1 2,2;2,4 2,5"},
      {'/', "0,0 4,6"},
  };
  std::string out =
      "# The otkit sample's stroke font: capitals, digits and a few signs on a 4 x 6 grid.\n"
      "height 8\nchar 32 6\n";
  auto glyph = [&out](int code, const char* strokes) {
    out += "char " + std::to_string(code) + " 6\n";
    std::string s = strokes;
    size_t start = 0;
    while (start <= s.size()) {
      size_t end = s.find(';', start);
      if (end == std::string::npos) end = s.size();
      std::vector<int> v;
      int x, y, used;
      const char* q = s.c_str() + start;
      while (q < s.c_str() + end && sscanf(q, " %d,%d%n", &x, &y, &used) == 2) {
        v.push_back(x);
        v.push_back(y);
        q += used;
      }
      for (size_t k = 0; k + 3 < v.size(); k += 2)
        out += "line " + std::to_string(v[k]) + " " + std::to_string(v[k + 1]) + " " +
               std::to_string(v[k + 2]) + " " + std::to_string(v[k + 3]) + "\n";
      start = end + 1;
    }
  };
  for (const auto& g : glyphs) {
    glyph((unsigned char)g.c, g.strokes);
    if (g.c >= 'A' && g.c <= 'Z') glyph(g.c - 'A' + 'a', g.strokes);
  }
  return writeText("strokefont.txt", out);
}

// ---- VTK files --------------------------------------------------------------------------------

// A temperature field in a 12^3 block: a hot spot off centre and a gradient, for the contour
// surface of surface.tcl.
bool makeVtkField() {
  const int n = 12;
  std::string s =
      "# vtk DataFile Version 3.0\n"
      "otkit sample: temperature in a 12 x 12 x 12 block\n"
      "ASCII\n"
      "DATASET STRUCTURED_POINTS\n"
      "DIMENSIONS 12 12 12\n"
      "ORIGIN 0 0 0\n"
      "SPACING 1 1 1\n"
      "POINT_DATA 1728\n"
      "SCALARS temperature float 1\n"
      "LOOKUP_TABLE default\n";
  char num[32];
  for (int z = 0; z < n; z++)
    for (int y = 0; y < n; y++) {
      for (int x = 0; x < n; x++) {
        double d2 = (x - 6.5) * (x - 6.5) + (y - 5.0) * (y - 5.0) + (z - 4.5) * (z - 4.5);
        snprintf(num, sizeof num, "%.3f%c", 20 + 80 * exp(-d2 / 18.0) + 1.5 * z,
                 x + 1 < n ? ' ' : '\n');
        s += num;
      }
    }
  return writeText("data1.vtk", s);
}

void putBigFloat(std::vector<uint8_t>& b, float v) {
  uint32_t u;
  memcpy(&u, &v, 4);
  for (int k = 3; k >= 0; k--)
    b.push_back((uint8_t)(u >> (8 * k)));
}
void putBigInt(std::vector<uint8_t>& b, int32_t v) {
  for (int k = 3; k >= 0; k--)
    b.push_back((uint8_t)((uint32_t)v >> (8 * k)));
}

// A PLOT3D pair for xyplot.tcl, single grid, 3-D, whole, binary without record markers,
// big-endian: the grid of a bent duct (combxyz.bin) and its flow solution (combq.bin: the
// dimensions, Mach number, angle of attack, Reynolds number and time, then density, the three
// momentum components and energy at every point).
bool makePlot3d() {
  const int ni = 9, nj = 5, nk = 4, count = ni * nj * nk;
  std::vector<float> x, y, z;
  for (int k = 0; k < nk; k++)
    for (int j = 0; j < nj; j++)
      for (int i = 0; i < ni; i++) {
        double a = kPi / 2 * i / (ni - 1), r = 2.0 + 0.5 * j;
        x.push_back((float)(r * cos(a)));
        y.push_back((float)(r * sin(a)));
        z.push_back((float)(0.5 * k));
      }
  std::vector<uint8_t> xyz;
  for (int d : {ni, nj, nk})
    putBigInt(xyz, d);
  for (const auto* v : {&x, &y, &z})
    for (float f : *v)
      putBigFloat(xyz, f);

  std::vector<uint8_t> q;
  for (int d : {ni, nj, nk})
    putBigInt(q, d);
  for (float f : {0.3f, 0.0f, 1.0e5f, 0.0f})
    putBigFloat(q, f);
  std::vector<float> rho, mu, mv, mw, e;
  for (int p = 0; p < count; p++) {
    int i = p % ni, j = p / ni % nj;
    double a = kPi / 2 * i / (ni - 1), speed = 1.2 - 0.15 * j;
    double density = 1.0 + 0.05 * j;
    rho.push_back((float)density);
    mu.push_back((float)(-density * speed * sin(a)));
    mv.push_back((float)(density * speed * cos(a)));
    mw.push_back(0.0f);
    e.push_back((float)(2.5 + 0.5 * density * speed * speed));
  }
  for (const auto* v : {&rho, &mu, &mv, &mw, &e})
    for (float f : *v)
      putBigFloat(q, f);
  return writeAll("combxyz.bin", xyz.data(), xyz.size()) &&
         writeAll("combq.bin", q.data(), q.size());
}

// The scripts the VTK widgets run. Each widget's interpreter provides its render window as
// renWin; the scripts name what the mask's commands address: reader, dataActor, pl3d, cam1.
bool makeVtkScripts() {
  const char* surface =
      "# otkit sample: the temperature field of data1.vtk as iso-surfaces in widget 4.\n"
      "vtkStructuredPointsReader reader\n"
      "reader SetFileName data1.vtk\n"
      "vtkContourFilter iso\n"
      "iso SetInputConnection [reader GetOutputPort]\n"
      "iso GenerateValues 4 40 90\n"
      "vtkPolyDataMapper dataMapper\n"
      "dataMapper SetInputConnection [iso GetOutputPort]\n"
      "dataMapper SetScalarRange 20 100\n"
      "vtkActor dataActor\n"
      "dataActor SetMapper dataMapper\n"
      "vtkOutlineFilter outline\n"
      "outline SetInputConnection [reader GetOutputPort]\n"
      "vtkPolyDataMapper outlineMapper\n"
      "outlineMapper SetInputConnection [outline GetOutputPort]\n"
      "vtkActor outlineActor\n"
      "outlineActor SetMapper outlineMapper\n"
      "vtkRenderer ren\n"
      "ren AddActor dataActor\n"
      "ren AddActor outlineActor\n"
      "ren SetBackground 0.1 0.1 0.2\n"
      "renWin AddRenderer ren\n"
      "set cam1 [ren GetActiveCamera]\n"
      "ren ResetCamera\n";
  const char* xyplot =
      "# otkit sample: the flow in the bent duct of combxyz.bin and combq.bin in widget 9:\n"
      "# the grid's outline and the density along three lines across the duct as an x-y plot.\n"
      "vtkMultiBlockPLOT3DReader pl3d\n"
      "pl3d SetXYZFileName combxyz.bin\n"
      "pl3d SetQFileName combq.bin\n"
      "pl3d SetScalarFunctionNumber 100\n"
      "pl3d Update\n"
      "set grid [[pl3d GetOutput] GetBlock 0]\n"
      "vtkStructuredGridOutlineFilter outline\n"
      "outline SetInputData $grid\n"
      "vtkPolyDataMapper outlineMapper\n"
      "outlineMapper SetInputConnection [outline GetOutputPort]\n"
      "vtkActor outlineActor\n"
      "outlineActor SetMapper outlineMapper\n"
      "vtkXYPlotActor xyplot\n"
      "foreach i {0 4 8} {\n"
      "  vtkLineSource line$i\n"
      "  set p [$grid GetPoint $i]\n"
      "  set q [$grid GetPoint [expr $i + 36]]\n"
      "  line$i SetPoint1 [lindex $p 0] [lindex $p 1] [lindex $p 2]\n"
      "  line$i SetPoint2 [lindex $q 0] [lindex $q 1] [lindex $q 2]\n"
      "  line$i SetResolution 20\n"
      "  vtkProbeFilter probe$i\n"
      "  probe$i SetInputConnection [line$i GetOutputPort]\n"
      "  probe$i SetSourceData $grid\n"
      "  xyplot AddDataSetInputConnection [probe$i GetOutputPort]\n"
      "}\n"
      "xyplot SetTitle \"Density across the duct\"\n"
      "xyplot SetXTitle \"position\"\n"
      "xyplot SetYTitle \"density\"\n"
      "xyplot SetPosition 0.05 0.05\n"
      "xyplot SetPosition2 0.9 0.4\n"
      "vtkRenderer ren\n"
      "ren AddActor outlineActor\n"
      "ren AddActor2D xyplot\n"
      "ren SetBackground 0.15 0.15 0.15\n"
      "renWin AddRenderer ren\n"
      "set cam1 [ren GetActiveCamera]\n"
      "ren ResetCamera\n";
  const char* update =
      "# otkit sample: reread data1.vtk (the server may have downloaded a new one) and redraw.\n"
      "reader Modified\n"
      "reader Update\n"
      "renWin Render\n";
  return writeText("surface.tcl", surface) && writeText("xyplot.tcl", xyplot) &&
         writeText("update_surface.tcl", update);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: otsample_mkdata DIR\n");
    return 2;
  }
  dir = argv[1];
  if (!makeDirs(dir)) return 1;
  bool ok = makeCaster() && makeHouses() && makeChime() && makeGlLists() && makeFont() &&
            makeVtkField() && makePlot3d() && makeVtkScripts();
  return ok ? 0 : 1;
}
