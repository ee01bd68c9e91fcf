// Mask 3: two live diagrams of a sine wave that runs with the phase, three LCD numbers and a
// picture that change every eighth pass, two combo boxes, and a button that prints the small
// diagram.
#include <math.h>
#include <stdio.h>

#include "sample.h"

namespace {

enum {
  ID_MAIN = 0,
  ID_MASK1,
  ID_MASK2,
  ID_DOWNLOAD,  // "Show Mask3": downloads the first picture again
  ID_TITLE,
  ID_IMAGE,
  ID_LCD_COUNT,
  ID_LCD_VALUE,
  ID_LCD_TEXT,
  ID_FRAME_SMALL,
  ID_FRAME_LARGE,
  ID_DRAW_SMALL,
  ID_DRAW_LARGE,
  ID_PRINT,  // inside the small drawing
  ID_COMBO,
  ID_COMBO_TEST,
  ID_END
};

const double kTwoPi = 6.283185307179586;
const int kPoints = 100;

// The diagrams' data and the animation state of one connection.
struct Mask3 {
  float x[kPoints], y[kPoints];
  int n = kPoints;
  double phi = 0;
  long pass = 0;
  int count = 0;   // LCD 1: 0..9
  int tenths = 0;  // LCD 2: 0.0..15.0
  int picture = 0;
  bool imagePlaced = false;
};

const char* const kPictures[] = {"homer.bmp.orig", "homer2.bmp", "homer.bmp.transp"};

void download(PARAM_* p, const char* name) {
  char path[1024];
  hxDownloadFile(p, sampleDataPath(name, path, sizeof path));
}

void define(PARAM_* p, Mask3& m) {
  char path[1024];
  hxStartDefinition(p, ID_END);
  defineNavigation(p, ID_MASK1, ID_MAIN);
  hxQLabel(p, ID_TITLE, ID_MAIN);
  hxSetGeometry(p, ID_TITLE, 0, 90, 100, 30);
  hxSetText(p, ID_TITLE, "This is mask 3");

  for (const char* name : kPictures)
    download(p, name);
  int w = 0, h = 0, depth = 0;
  hxQImage(p, ID_IMAGE, ID_MAIN, sampleDataPath("homer.bmp", path, sizeof path), &w, &h, &depth);
  m.imagePlaced = w > 0 && h > 0;
  if (m.imagePlaced) hxSetGeometry(p, ID_IMAGE, 110, 0, w, h);

  // Digits, segment style and mode of each LCD number.
  static const int lcd[3][3] = {{5, 0, 0}, {5, 1, 1}, {5, 1, 2}};
  for (int k = 0; k < 3; k++) {
    hxQLCDNumber(p, ID_LCD_COUNT + k, ID_MAIN, lcd[k][0], lcd[k][1], lcd[k][2]);
    hxSetGeometry(p, ID_LCD_COUNT + k, 0, 130 + 45 * k, 100, 40);
  }

  hxQFrame(p, ID_FRAME_SMALL, ID_MAIN, 1, 48, 2, 0);  // a sunken box
  hxSetGeometry(p, ID_FRAME_SMALL, 330, 0, 220, 170);
  hxQDraw(p, ID_DRAW_SMALL, ID_FRAME_SMALL);
  hxSetGeometry(p, ID_DRAW_SMALL, 10, 10, 200, 150);
  hxQPushButton(p, ID_PRINT, ID_DRAW_SMALL);
  hxSetGeometry(p, ID_PRINT, 148, 124, 50, 24);
  hxSetText(p, ID_PRINT, "Print");
  hxQFrame(p, ID_FRAME_LARGE, ID_MAIN, 1, 48, 2, 0);
  hxSetGeometry(p, ID_FRAME_LARGE, 330, 180, 420, 320);
  hxQDraw(p, ID_DRAW_LARGE, ID_FRAME_LARGE);
  hxSetGeometry(p, ID_DRAW_LARGE, 10, 10, 400, 300);
  hxSetBackgroundColor(p, ID_DRAW_LARGE, 128, 128, 128);

  static const char* const items[] = {"one", "two", "three", "four", "fife"};
  hxQComboBox(p, ID_COMBO, ID_MAIN, 0, 3);
  hxSetGeometry(p, ID_COMBO, 110, 170, 200, 30);
  hxQComboBox(p, ID_COMBO_TEST, ID_MAIN, 0, 3);
  hxSetGeometry(p, ID_COMBO_TEST, 110, 210, 200, 30);
  char item[32];
  for (const char* s : items) {
    hxAddItem(p, ID_COMBO, s);
    snprintf(item, sizeof item, "%s test", s);
    hxAddItem(p, ID_COMBO_TEST, item);
  }
  hxResize(p, ID_MAIN, 1280, 1024);
  hxEndDefinition(p);
}

void drawSmall(PARAM_* p, const Mask3& m) {
  static const int px[] = {8, 26, 8}, py[] = {120, 130, 140};
  gBeginDraw(p, ID_DRAW_SMALL);
  gSetFont(p, "Sans", 8, 0, 0);
  gBox(p, 30, 10, 160, 100);
  gXAxis(p, 0, 1, 7, 1);
  gYAxis(p, -1.5, 0.5, 1.5, 1);
  gSetColor(p, 255, 0, 0);
  gLine(p, m.x, m.y, m.n);
  gSetColor(p, 0, 128, 0);
  gDrawPolygon(p, px, py, 3);
  gEndDraw(p);
}

void drawLarge(PARAM_* p, const Mask3& m) {
  gBeginDraw(p, ID_DRAW_LARGE);
  gComment(p, "This is a comment in the metafile");
  gSetFont(p, "Sans", 10, 0, 0);
  gSetColor(p, 0, 0, 0);
  gBoxWithText(p, 50, 40, 260, 180, 10, "phi/rad", "sin(phi)", "");
  gXAxis(p, 0, 1, 7, 1);
  gYAxis(p, -1.5, 0.5, 1.5, 1);
  gSetStyle(p, 3);
  gXGrid(p);
  gYGrid(p);
  gSetStyle(p, 1);
  gSetColor(p, 255, 255, 0);
  gSetWidth(p, 2);
  gLine(p, m.x, m.y, m.n);
  gSetWidth(p, 1);
  gSetColor(p, 0, 0, 0);
  gText(p, 50, 290, 0, "Date: 19-NOV-2000");
  gSetFont(p, "Sans", 14, 75, 0);
  gText(p, 200, 16, 1, "This is a Diagram");
  gSetColor(p, 0, 0, 255);
  gDrawPie(p, 325, 50, 60, 60, 0, 270);
  gSetColor(p, 0, 160, 0);
  gRect(p, 325, 140, 60, 40);
  gEndDraw(p);
}

// One pass: the curve moves with the phase; every eighth pass the LCDs and the picture change.
void animate(PARAM_* p, Mask3& m) {
  m.phi += 0.1;
  if (m.phi > 6283.1855) m.phi = 0;
  for (int k = 0; k < m.n; k++) {
    m.x[k] = (float)(kTwoPi * k / m.n);
    m.y[k] = (float)sin(m.x[k] + m.phi);
  }
  drawSmall(p, m);
  drawLarge(p, m);
  if (m.pass++ % 8 != 0) return;
  m.count = (m.count + 1) % 10;
  m.tenths = m.tenths >= 150 ? 0 : m.tenths + 1;
  hxDisplayNum(p, ID_LCD_COUNT, m.count);
  hxDisplayFloat(p, ID_LCD_VALUE, m.tenths / 10.0);
  char text[16];
  snprintf(text, sizeof text, "A%d", m.count);
  hxDisplayStr(p, ID_LCD_TEXT, text);
  if (m.imagePlaced) {
    // The pictures were downloaded with the mask: naming them is enough, sending them again
    // every few passes is not needed.
    hxSendCommand(p, "setImage", "is", ID_IMAGE, kPictures[m.picture]);
    m.picture = (m.picture + 1) % 3;
  }
}

}  // namespace

int show_mask3(PARAM_* p) {
  Mask3 m;
  define(p, m);
  char event[HX_EVENT_BUFSIZE], text[HX_TEXT_SIZE];
  for (;;) {
    animate(p, m);
    int id = 0;
    if (hxPollEvent(p, event) < 0) return -1;
    int kind = hxParseEvent(event, &id, text);
    if (kind == SHUTUP_EVENT) return -1;
    // The drawing widgets report their size after every resize, as GL widgets do; they are
    // redrawn every pass anyway, so there is nothing to do and nothing to say about it.
    if (kind == GL_SIZE_EVENT && (id == ID_DRAW_SMALL || id == ID_DRAW_LARGE)) continue;
    printEvent(p, kind, id, text);
    if (kind != BUTTON_EVENT) continue;
    switch (id) {
      case ID_MASK1:
        return MASK_PLANT;
      case ID_MASK2:
        return MASK_2;
      case ID_DOWNLOAD:
        download(p, kPictures[0]);
        break;
      case ID_PRINT:
        hxPrint(p, ID_DRAW_SMALL);
        printf("BUTTON_EVENT done\n");
        fflush(stdout);
        break;
      default:
        break;
    }
  }
}
