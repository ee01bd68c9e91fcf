// The drawing stream: the lines with which a display server draws on a drawing widget. Every
// call checks all it is given before it sends anything, so a refused call leaves the stream as
// it was.
#include <locale.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "hxserver.h"
#include "hxserver_p.h"
#include "otnumber.h"

namespace {

// Appends one formatted line of at most limit bytes; false (out unchanged) when it is longer.
// Numbers in the C locale: the widget scans them with "%f", which knows only '.'.
__attribute__((format(printf, 3, 4))) bool appendLine(std::string& out, int limit,
                                                      const char* format, ...) {
  char line[HX_MAX_DRAW_LINE + 1];
  otCNumberScope numbers;
  if (!numbers.ok() || limit > HX_MAX_DRAW_LINE) return false;
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  if (n < 0 || n > limit) return false;
  out.append(line, (size_t)n);
  return true;
}

// "%f,%f\n" of x and y into line (HX_MAX_DRAW_LINE + 1 bytes, enough for any float): the
// length of the line.
int pointLine(char* line, float x, float y) {
  int n = otFormatFixed(line, HX_MAX_DRAW_LINE, x);
  line[n++] = ',';
  n += otFormatFixed(line + n, HX_MAX_DRAW_LINE - n, y);
  line[n++] = '\n';
  line[n] = '\0';
  return n;
}

int send(PARAM_* p, const std::string& s) {
  return hxtcpsend_binary(p, s.data(), (int)s.size()) < 0 ? -1 : 0;
}

// The widget copies a text from its opening double quote to the next double quote or the end
// of the line, with no escape: a double quote would cut the text, and a line feed would make
// its rest a command line of its own. Such texts are refused rather than altered.
bool plainText(const char* t, bool quoteAllowed = false) {
  if (t == nullptr) return false;
  for (const unsigned char* c = (const unsigned char*)t; *c; c++)
    if (*c < 0x20 || (*c == '"' && !quoteAllowed)) return false;
  return true;
}

bool allFinite(double a, double b = 0, double c = 0) {
  return isfinite(a) && isfinite(b) && isfinite(c);
}

bool validColor(int r, int g, int b) {
  return r >= 0 && r <= 255 && g >= 0 && g <= 255 && b >= 0 && b <= 255;
}

// A scale the widget can step through: its tick and grid loops run in float from start by
// delta while below end, so delta must be above 0 as read back from "%f", must move the
// largest value of the scale, and the steps must be bounded.
bool steppable(double start, double delta, double end) {
  if (!allFinite(start, delta, end)) return false;
  char text[400];
  float s, d, e;
  {
    otCNumberScope numbers;
    if (!numbers.ok()) return false;
    snprintf(text, sizeof text, "%f,%f,%f", start, delta, end);
    if (sscanf(text, "%f,%f,%f", &s, &d, &e) != 3) return false;
  }
  if (!(d > 0.0f) || !isfinite(s) || !isfinite(e)) return false;
  volatile float largest = std::max(fabsf(s), fabsf(e));
  volatile float next = largest + d;
  if (!(next > largest)) return false;
  return e <= s || ((double)e - (double)s) / (double)d <= HX_MAX_DRAW_TICKS;
}

// A printf format with exactly one conversion of a double, whose output stays short.
bool validFloatFormat(const char* f) {
  if (!plainText(f) || strlen(f) >= 80) return false;
  int conversions = 0;
  for (const char* c = f; *c; c++) {
    if (*c != '%') continue;
    c++;
    if (*c == '%') continue;
    while (*c != '\0' && strchr("-+ #0", *c) != nullptr)
      c++;
    int width = 0, precision = 0;
    for (int digits = 0; *c >= '0' && *c <= '9'; c++)
      if (++digits > 2)
        return false;
      else
        width = width * 10 + (*c - '0');
    if (*c == '.') {
      c++;
      for (int digits = 0; *c >= '0' && *c <= '9'; c++)
        if (++digits > 2)
          return false;
        else
          precision = precision * 10 + (*c - '0');
    }
    if (*c == 'l') c++;
    if (*c == '\0' || strchr("fFeEgGaA", *c) == nullptr) return false;
    if (width > 60 || precision > 20) return false;
    conversions++;
  }
  return conversions == 1;
}

// A line of its own, checked and sent whole.
__attribute__((format(printf, 2, 3))) int drawLine(PARAM_* p, const char* format, ...) {
  if (p == nullptr) return -1;
  char line[HX_MAX_DRAW_LINE + 1];
  int n;
  {
    otCNumberScope numbers;
    if (!numbers.ok()) return -1;
    va_list ap;
    va_start(ap, format);
    n = vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
  }
  if (n < 0 || n > HX_MAX_DRAW_LINE) return -1;
  return hxtcpsend_binary(p, line, n) < 0 ? -1 : 0;
}

// Point lines go out in chunks under the lock, which keeps other senders out of the block.
class Chunks {
 public:
  explicit Chunks(PARAM_* p) : p_(p), result_(0) {
    hxlock(p_);
    buf_.reserve(kChunk + HX_MAX_DRAW_LINE);
  }
  ~Chunks() { hxunlock(p_); }
  Chunks(const Chunks&) = delete;
  Chunks& operator=(const Chunks&) = delete;
  std::string& buf() { return buf_; }
  // Sends what is collected once it is a chunk (now: all of it); false once a send failed.
  bool flush(bool now = false) {
    if (result_ == 0 && (now || buf_.size() >= kChunk)) {
      result_ = send(p_, buf_);
      buf_.clear();
    }
    return result_ == 0;
  }
  int finish() {
    flush(true);
    return result_;
  }

 private:
  static constexpr size_t kChunk = 65536;
  PARAM_* p_;
  std::string buf_;
  int result_;
};

// The drawings this thread has open (gBeginDraw without its gEndDraw), so that gEndDraw gives
// back only a lock that this thread holds.
thread_local std::vector<PARAM_*> openDrawings;

int axis(PARAM_* p, const char* name, double start, double delta, double end, int draw) {
  if (!steppable(start, delta, end)) return -1;
  return drawLine(p, "%s(%f,%f,%f,%d)\n", name, start, delta, end, draw);
}

}  // namespace

int gBeginDraw(PARAM_* p, int id) {
  if (p == nullptr || id < 0 || (p->idCount > 0 && id >= p->idCount)) return -1;
  hxHoldOutput(p);
  if (drawLine(p, "gbeginDraw(%d)\n", id) < 0) {
    hxReleaseOutput(p);
    return -1;
  }
  openDrawings.push_back(p);
  return 0;
}

int gEndDraw(PARAM_* p) {
  auto open = std::find(openDrawings.rbegin(), openDrawings.rend(), p);
  if (p == nullptr || open == openDrawings.rend()) return -1;
  int r = drawLine(p, "gendDraw\n");
  openDrawings.erase(std::next(open).base());
  if (hxReleaseOutput(p) < 0) r = -1;
  return r;
}

int gBox(PARAM_* p, int x, int y, int w, int h) {
  return drawLine(p, "gbox(%d,%d,%d,%d)\n", x, y, w, h);
}
int gRect(PARAM_* p, int x, int y, int w, int h) {
  return drawLine(p, "grect(%d,%d,%d,%d)\n", x, y, w, h);
}
int gMoveTo(PARAM_* p, int x, int y) {
  return drawLine(p, "gmoveTo(%d,%d)\n", x, y);
}
int gLineTo(PARAM_* p, int x, int y) {
  return drawLine(p, "glineTo(%d,%d)\n", x, y);
}
int gDrawArc(PARAM_* p, int x, int y, int w, int h, int start, int span) {
  return drawLine(p, "gdrawArc(%d,%d,%d,%d,%d,%d)\n", x, y, w, h, start, span);
}
int gDrawPie(PARAM_* p, int x, int y, int w, int h, int start, int span) {
  return drawLine(p, "gdrawPie(%d,%d,%d,%d,%d,%d)\n", x, y, w, h, start, span);
}

int gDrawPolygon(PARAM_* p, const int* x, const int* y, int n) {
  if (p == nullptr || n < 0 || n > HX_MAX_DRAW_POINTS) return -1;
  if (n > 0 && (x == nullptr || y == nullptr)) return -1;
  Chunks out(p);
  appendLine(out.buf(), HX_MAX_DRAW_LINE, "gdrawPolygon(%d)\n", n);
  for (int i = 0; i < n && out.flush(); i++)
    appendLine(out.buf(), HX_MAX_DRAW_POINT_LINE, "%d,%d\n", x[i], y[i]);
  out.buf() += "}\n";
  return out.finish();
}

int gLine(PARAM_* p, const float* x, const float* y, int n) {
  if (p == nullptr || n < 0 || n > HX_MAX_DRAW_POINTS) return -1;
  if (n > 0 && (x == nullptr || y == nullptr)) return -1;
  // The widget reads point lines into a short buffer and would split a longer one; below 1e15
  // a number takes at most 23 bytes, so only larger ones need a look at their text.
  for (int i = 0; i < n; i++) {
    if (!allFinite(x[i], y[i])) return -1;
    if (fabsf(x[i]) >= 1e15f || fabsf(y[i]) >= 1e15f) {
      char line[HX_MAX_DRAW_LINE + 1];
      if (pointLine(line, x[i], y[i]) > HX_MAX_DRAW_POINT_LINE) return -1;
    }
  }
  Chunks out(p);
  appendLine(out.buf(), HX_MAX_DRAW_LINE, "gline(-n=%d)\n", n);
  char line[HX_MAX_DRAW_LINE + 1];
  for (int i = 0; i < n && out.flush(); i++)
    out.buf().append(line, (size_t)pointLine(line, x[i], y[i]));
  out.buf() += "}\n";
  return out.finish();
}

int gText(PARAM_* p, int x, int y, int alignment, const char* text) {
  if (!plainText(text)) return -1;
  return drawLine(p, "gtext(%d,%d,%d,\"%s\")\n", x, y, alignment, text);
}

int gTextInAxis(PARAM_* p, double x, double y, int alignment, const char* text) {
  if (!allFinite(x, y) || !plainText(text)) return -1;
  return drawLine(p, "gtextInAxis(%f,%f,%d,\"%s\")\n", x, y, alignment, text);
}

int gXAxis(PARAM_* p, double start, double delta, double end, int draw) {
  return axis(p, "gxAxis", start, delta, end, draw);
}
int gYAxis(PARAM_* p, double start, double delta, double end, int draw) {
  return axis(p, "gyAxis", start, delta, end, draw);
}
int gRightYAxis(PARAM_* p, double start, double delta, double end, int draw) {
  return axis(p, "grightYAxis", start, delta, end, draw);
}
int gXGrid(PARAM_* p) {
  return drawLine(p, "gxGrid\n");
}
int gYGrid(PARAM_* p) {
  return drawLine(p, "gyGrid\n");
}

int gBoxWithText(PARAM_* p, int x, int y, int w, int h, int fontsize, const char* xlabel,
                 const char* ylabel, const char* rylabel) {
  if (p == nullptr || fontsize < 1 || !plainText(xlabel) || !plainText(ylabel) ||
      !plainText(rylabel))
    return -1;
  // The tick labels of the x axis stand one font height high from y+h+8; xlabel goes below
  // them with a gap of 4. Tick labels of the y axes are as wide as their format makes them,
  // so the y labels go above the box rather than beside it.
  std::string out;
  bool ok = appendLine(out, HX_MAX_DRAW_LINE, "gbox(%d,%d,%d,%d)\n", x, y, w, h);
  if (*xlabel)
    ok = ok && appendLine(out, HX_MAX_DRAW_LINE, "gtext(%d,%d,1,\"%s\")\n", x + w / 2,
                          y + h + 12 + fontsize, xlabel);
  if (*ylabel)
    ok =
        ok && appendLine(out, HX_MAX_DRAW_LINE, "gtext(%d,%d,0,\"%s\")\n", x, y - fontsize, ylabel);
  if (*rylabel)
    ok = ok &&
         appendLine(out, HX_MAX_DRAW_LINE, "gtext(%d,%d,2,\"%s\")\n", x + w, y - fontsize, rylabel);
  return ok ? send(p, out) : -1;
}

int gSetColor(PARAM_* p, int r, int g, int b) {
  if (!validColor(r, g, b)) return -1;
  return drawLine(p, "gsetColor(%d,%d,%d)\n", r, g, b);
}
int gSetBackgroundColor(PARAM_* p, int r, int g, int b) {
  if (!validColor(r, g, b)) return -1;
  return drawLine(p, "gsetBackgroundColor(%d,%d,%d)\n", r, g, b);
}
int gSetWidth(PARAM_* p, int w) {
  if (w < 0) return -1;
  return drawLine(p, "gsetWidth(%d)\n", w);
}
int gSetStyle(PARAM_* p, int style) {
  // 0 is what the widget takes as solid; other numbers name no pen style of it.
  if (style < 0 || style > 5) return -1;
  return drawLine(p, "gsetStyle(%d)\n", style);
}
int gSetFont(PARAM_* p, const char* family, int size, int weight, int italic) {
  if (!plainText(family) || size < 1) return -1;
  return drawLine(p, "gsetFont(\"%s\",%d,%d,%d)\n", family, size, weight, italic);
}
int gSetLinestyle(PARAM_* p, int style) {
  return drawLine(p, "gsetLinestyle(%d)\n", style);
}
int gSetFloatFormat(PARAM_* p, const char* format) {
  if (!validFloatFormat(format)) return -1;
  return drawLine(p, "gsetFloatFormat(\"%s\")\n", format);
}

int gScale(PARAM_* p, double sx, double sy) {
  if (!allFinite(sx, sy)) return -1;
  return drawLine(p, "gscale(%f,%f)\n", sx, sy);
}
int gRotate(PARAM_* p, double angle) {
  if (!allFinite(angle)) return -1;
  return drawLine(p, "grotate(%f)\n", angle);
}
int gTranslate(PARAM_* p, double dx, double dy) {
  if (!allFinite(dx, dy)) return -1;
  return drawLine(p, "gtranslate(%f,%f)\n", dx, dy);
}

int gComment(PARAM_* p, const char* text) {
  // No keyword of the stream begins with '#', so the widget passes the line over.
  if (!plainText(text, true)) return -1;
  return drawLine(p, "#%s\n", text);
}

int gPlaySVG(PARAM_* p, const char* file) {
  if (!plainText(file)) return -1;
  return drawLine(p, "gplaySVG(\"%s\")\n", file);
}

int gSocketPlaySVG(PARAM_* p, const char* svgtext) {
  static const char kEnd[] = "<svgend></svgend>";
  if (p == nullptr || svgtext == nullptr) return -1;
  // The widget reads the SVG up to the end marker and takes what follows as drawing lines
  // again: a marker inside the text, or a line it would split, would turn SVG into commands.
  size_t length = strlen(svgtext);
  if (length > (size_t)HX_MAX_DOWNLOAD) return -1;
  for (const char* line = svgtext; *line;) {
    const char* lf = strchr(line, '\n');
    size_t n = lf ? (size_t)(lf - line) : strlen(line);
    if (n + 1 > HX_MAX_DRAW_LINE ||
        std::search(line, line + n, kEnd, kEnd + sizeof kEnd - 1) != line + n)
      return -1;
    line += lf ? n + 1 : n;
  }
  hxlock(p);
  int r = drawLine(p, "gplaySVGsocket\n");
  if (r == 0 && length > 0 && hxtcpsend_binary(p, svgtext, (int)length) < 0) r = -1;
  if (r == 0 && length > 0 && svgtext[length - 1] != '\n') r = drawLine(p, "\n");
  if (r == 0) r = drawLine(p, "%s\n", kEnd);
  hxunlock(p);
  return r;
}

int gUpdateSVG(PARAM_* p) {
  return drawLine(p, "gupdateSVG()\n");
}
