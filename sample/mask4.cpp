// Mask 4: a GL scene from recorded display lists ("out.txt"), turned a degree about each axis on
// every idle event; sliders for the frustum's size and its near and far planes, and some radio
// buttons and check boxes whose events are only printed.
#include <stdio.h>
#include <string.h>

#include <mutex>

#include "hxglencode.h"
#include "sample.h"

namespace {

enum {
  ID_MAIN = 0,
  ID_MASK1,
  ID_MASK2,
  ID_MASK3,
  ID_GL,
  ID_GROUP,
  ID_RADIO1,
  ID_RADIO2,
  ID_CHECK1,
  ID_CHECK2,
  ID_SIZE,  // sliders: frustum size, near plane, far plane (value / 50)
  ID_NEAR,
  ID_FAR,
  ID_END
};

const int kMaxLists = 100;

// The encoder sends to one connection per process (hxGlBegin makes it the current one), so two
// clients on this mask must not have GL blocks open at the same time.
std::mutex glBlock;

struct Mask4 {
  GLuint lists[kMaxLists];
  int numLists = 0;
  bool ready = false;         // the widget has a context and the lists
  float x = 0, y = 0, z = 0;  // rotation in degrees
  int width = 640, height = 480;
  double size = 0.1, nearPlane = 0.1, farPlane = 5.0;
  glFont font;
  bool haveFont = false;
};

void define(PARAM_* p, Mask4& m) {
  hxStartDefinition(p, ID_END);
  defineNavigation(p, ID_MASK1, ID_MAIN);
  hxQGL(p, ID_GL, ID_MAIN);
  hxSetGeometry(p, ID_GL, 100, 0, m.width, m.height);

  hxQButtonGroup(p, ID_GROUP, ID_MAIN, 1, 1, "RBut:");
  hxSetGeometry(p, ID_GROUP, 0, 100, 100, 80);
  hxQRadioButton(p, ID_RADIO1, ID_GROUP);
  hxSetGeometry(p, ID_RADIO1, 10, 20, 80, 25);
  hxSetText(p, ID_RADIO1, "Radio1");
  hxQRadioButton(p, ID_RADIO2, ID_GROUP);
  hxSetGeometry(p, ID_RADIO2, 10, 48, 80, 25);
  hxSetText(p, ID_RADIO2, "Radio2");
  hxQCheckBox(p, ID_CHECK1, ID_MAIN);
  hxSetGeometry(p, ID_CHECK1, 0, 190, 100, 25);
  hxSetText(p, ID_CHECK1, "Check1");
  hxQCheckBox(p, ID_CHECK2, ID_MAIN);
  hxSetGeometry(p, ID_CHECK2, 0, 215, 100, 25);
  hxSetText(p, ID_CHECK2, "Check2");
  hxSetChecked(p, ID_CHECK2, 1);

  // Range and start value of each slider; the start values give the fields' defaults.
  static const int sliders[3][3] = {{1, 10, 5}, {1, 10, 5}, {10, 500, 250}};
  for (int k = 0; k < 3; k++) {
    hxQSlider(p, ID_SIZE + k, ID_MAIN, sliders[k][0], sliders[k][1], 1, sliders[k][2], 2);
    hxSetGeometry(p, ID_SIZE + k, 5 + 32 * k, 250, 25, 200);
  }
  hxEndDefinition(p);
}

// The frame: projection from the frustum fields, then the lists turned by the rotation.
void paint(PARAM_* p, const Mask4& m) {
  std::lock_guard<std::mutex> hold(glBlock);
  hxGlBegin(p, ID_GL);
  double aspect = m.height > 0 ? (double)m.width / m.height : 1.0;
  // GL refuses a frustum whose far plane is not beyond the near one (the sliders allow it):
  // the scene would keep the last projection instead of following the sliders.
  double farPlane = m.farPlane > m.nearPlane ? m.farPlane : m.nearPlane * 1.01;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glFrustum(-m.size * aspect, m.size * aspect, -m.size, m.size, m.nearPlane, farPlane);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glClearColor(0.15f, 0.18f, 0.22f, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glTranslatef(0, 0, -2.2f);
  glRotatef(m.x, 1, 0, 0);
  glRotatef(m.y, 0, 1, 0);
  glRotatef(m.z, 0, 0, 1);
  for (int k = 0; k < m.numLists; k++)
    glCallList(m.lists[k]);
  hxGlEnd(p);
}

// Sets up the widget's context and sends the lists. The client's widget makes its context only
// when it is shown, and lists sent before would be lost: this runs on the first event the
// widget sends, and again when it reports a new context.
void initialise(PARAM_* p, Mask4& m) {
  char path[1024];
  std::lock_guard<std::mutex> hold(glBlock);
  hxGlBegin(p, ID_GL);
  for (int k = 0; k < m.numLists; k++)
    glDeleteLists(m.lists[k], 1);
  const GLfloat position[4] = {1, 2, 3, 0}, white[4] = {1, 1, 1, 1},
                ambient[4] = {0.3f, 0.3f, 0.3f, 1};
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glLightfv(GL_LIGHT0, GL_POSITION, position);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
  glLightfv(GL_LIGHT0, GL_SPECULAR, white);
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
  glEnable(GL_DEPTH_TEST);
  glShadeModel(GL_SMOOTH);
  glEnable(GL_NORMALIZE);
  glViewport(0, 0, m.width, m.height);
  // A file cut short still leaves the lists made before the cut in the array, without their
  // count: the array starts zeroed, so the names given count them.
  memset(m.lists, 0, sizeof m.lists);
  const glFont* font = m.haveFont ? &m.font : nullptr;
  int n =
      hxSendOpenGL(p, sampleDataPath("out.txt", path, sizeof path), m.lists, kMaxLists, font, font);
  if (n < 0) {
    n = 0;
    while (n < kMaxLists && m.lists[n] != 0)
      n++;
  }
  m.numLists = n;
  hxGlEnd(p);
  m.ready = true;
  printf("num_listarray=%d\n", m.numLists);
  fflush(stdout);
}

}  // namespace

int show_mask4(PARAM_* p) {
  Mask4 m;
  char path[1024];
  if (m.font.read(sampleDataPath("strokefont.txt", path, sizeof path)) == 0) {
    m.haveFont = true;
    m.font.setFontSize(0.12f);
  }
  define(p, m);
  char event[HX_EVENT_BUFSIZE], text[HX_TEXT_SIZE];
  for (;;) {
    if (hxPollEvent(p, event) < 0) return -1;
    int id = 0, a = 0, b = 0;
    int kind = hxParseEvent(event, &id, text);
    if (kind >= GL_TICK_EVENT && kind <= GL_SIZE_EVENT && id != ID_GL) {
      printEvent(p, kind, id, text);  // a GL event of a widget that is not ours
      continue;
    }
    switch (kind) {
      case SHUTUP_EVENT:
        return -1;
      case GL_TICK_EVENT:
      case QUIET_EVENT:
        if (!m.ready) break;
        m.x = m.x >= 359 ? 0 : m.x + 1;
        m.y = m.y >= 359 ? 0 : m.y + 1;
        m.z = m.z >= 359 ? 0 : m.z + 1;
        paint(p, m);
        break;
      case GL_SETUP_EVENT:
        initialise(p, m);
        paint(p, m);
        break;
      case GL_DRAW_EVENT:
        if (!m.ready) initialise(p, m);
        paint(p, m);
        break;
      case GL_SIZE_EVENT:
        if (sscanf(text, "(%d,%d)", &a, &b) == 2 && a > 0 && b > 0) {
          m.width = a;
          m.height = b;
        }
        if (!m.ready) {
          initialise(p, m);  // sets the viewport too
        } else {
          std::lock_guard<std::mutex> hold(glBlock);
          hxGlBegin(p, ID_GL);
          glViewport(0, 0, m.width, m.height);
          hxGlEnd(p);
        }
        paint(p, m);
        break;
      case SLIDER_EVENT: {
        printEvent(p, kind, id, text);
        if (id < ID_SIZE || id > ID_FAR || sscanf(text, "(%d)", &a) != 1) break;
        double dval = a / 50.0;
        printf("dval=%f\n", dval);
        fflush(stdout);
        if (a < 1) break;  // below every slider's range: GL refuses a frustum without depth
        if (id == ID_SIZE) m.size = dval;
        if (id == ID_NEAR) m.nearPlane = dval;
        if (id == ID_FAR) m.farPlane = dval;
        if (m.ready) paint(p, m);
        break;
      }
      case BUTTON_EVENT:
        printEvent(p, kind, id, text);
        if (id >= ID_MASK1 && id <= ID_MASK3) return id - ID_MASK1 + 1;
        break;
      default:
        printEvent(p, kind, id, text);
        break;
    }
  }
}
