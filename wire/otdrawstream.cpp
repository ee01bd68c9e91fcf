#include "otdrawstream.h"

#include <errno.h>
#include <limits.h>
#include <locale.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "otnumber.h"

namespace {

// One line form: the keyword, the length compared, and the scan format of the whole line
// (null: the command takes no numbers, or its arguments are read by hand).
struct Keyword {
  const char* name;
  int len;
  int cmd;
  const char* scan;
};

// Order matters where one keyword is a prefix of another: "glineTo" before "gline(",
// "gplaySVGsocket" before "gplaySVG".
const Keyword kKeywords[] = {
    {"gbeginDraw", 10, DS_BEGIN, nullptr},
    {"gbox", 4, DS_BOX, "gbox(%d,%d,%d,%d)"},
    {"gcloseFile", 10, DS_CLOSEFILE, nullptr},
    {"gdrawArc", 8, DS_ARC, "gdrawArc(%d,%d,%d,%d,%d,%d)"},
    {"gdrawPie", 8, DS_PIE, "gdrawPie(%d,%d,%d,%d,%d,%d)"},
    {"gdrawPolygon", 12, DS_POLYGON, "gdrawPolygon(%d)"},
    {"gendDraw", 8, DS_END, nullptr},
    {"glineTo", 7, DS_LINETO, "glineTo(%d,%d)"},
    {"gline(", 6, DS_LINE, nullptr},
    {"gmoveTo", 7, DS_MOVETO, "gmoveTo(%d,%d)"},
    {"gplaySVGsocket", 14, DS_PLAYSVGSOCKET, nullptr},
    {"gplaySVG", 8, DS_PLAYSVG, nullptr},
    {"grect", 5, DS_RECT, "grect(%d,%d,%d,%d)"},
    {"grightYAxis", 11, DS_RIGHTYAXIS, "grightYAxis(%f,%f,%f,%d)"},
    {"grotate", 7, DS_ROTATE, "grotate(%f)"},
    {"gsetBackgroundColor", 19, DS_SETBACKGROUND, "gsetBackgroundColor(%d,%d,%d)"},
    {"gsetColor", 9, DS_SETCOLOR, "gsetColor(%d,%d,%d)"},
    {"gsetWidth", 9, DS_SETWIDTH, "gsetWidth(%d)"},
    {"gsetStyle", 9, DS_SETSTYLE, "gsetStyle(%d)"},
    {"gsetFont", 8, DS_SETFONT, nullptr},
    {"gsetLinestyle", 13, DS_SETLINESTYLE, "gsetLinestyle(%d)"},
    {"gsetFloatFormat", 15, DS_SETFLOATFORMAT, nullptr},
    {"gscale", 6, DS_SCALE, "gscale(%f,%f)"},
    {"gtext(", 6, DS_TEXT, "gtext(%d,%d,%d,"},
    {"gtextInAxis(", 12, DS_TEXTINAXIS, "gtextInAxis(%f,%f,%d,"},
    {"gtranslate", 10, DS_TRANSLATE, "gtranslate(%f,%f)"},
    {"gupdateSVG(", 11, DS_UPDATESVG, nullptr},
    {"gwriteFile", 10, DS_WRITEFILE, nullptr},
    {"gxAxis", 6, DS_XAXIS, "gxAxis(%f,%f,%f,%d)"},
    {"gxGrid", 6, DS_XGRID, nullptr},
    {"gyAxis", 6, DS_YAXIS, "gyAxis(%f,%f,%f,%d)"},
    {"gyGrid", 6, DS_YGRID, nullptr},
};

int isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// sscanf's rules for %d and %f with literal text in between, but locale-independent and
// without undefined behaviour on overflow (integers are clamped to the range of int). Stops at
// the first mismatch; fields not reached keep their values. Returns the conversions made.
int scan(const char* s, const char* fmt, int* ints, int nints, double* floats, int nfloats) {
  int done = 0, ni = 0, nf = 0;
  while (*fmt != '\0') {
    if (fmt[0] == '%' && (fmt[1] == 'd' || fmt[1] == 'f')) {
      while (isSpace(*s))
        s++;
      char* end = nullptr;
      if (fmt[1] == 'd') {
        if (ni >= nints) return done;
        errno = 0;
        long v = strtol(s, &end, 10);
        if (end == s) return done;
        if (v > INT_MAX) v = INT_MAX;
        if (v < INT_MIN) v = INT_MIN;
        ints[ni++] = (int)v;
      } else {
        if (nf >= nfloats) return done;
        // The server writes numbers in the C locale; the client may run in one with a decimal
        // comma.
        double v = otStrtod(s, &end);
        if (end == s) return done;
        floats[nf++] = v;
      }
      s = end;
      done++;
      fmt += 2;
    } else if (isSpace(*fmt)) {
      while (isSpace(*s))
        s++;
      fmt++;
    } else {
      if (*s != *fmt) return done;
      s++;
      fmt++;
    }
  }
  return done;
}

}  // namespace

void dsClearArgs(DsArgs* a) {
  memset(a, 0, sizeof(*a));
}

int dsGetText(const char* line, char* text, int size) {
  if (size < 1) return -1;
  text[0] = '\0';
  const char* p = line;
  while (*p != '\0' && *p != '"' && (unsigned char)*p >= ' ')
    p++;
  if (*p != '"') return -1;
  p++;
  int n = 0;
  while (p[n] != '\0' && p[n] != '"' && p[n] != '\n' && p[n] != '\r' && n < size - 1) {
    text[n] = p[n];
    n++;
  }
  text[n] = '\0';
  return n;
}

int dsParseLine(const char* line, DsArgs* a) {
  const Keyword* k = nullptr;
  for (const Keyword& kw : kKeywords) {
    if (strncmp(line, kw.name, (size_t)kw.len) == 0) {
      k = &kw;
      break;
    }
  }
  if (k == nullptr) return DS_NONE;
  if (k->scan != nullptr) scan(line, k->scan, a->i, 6, a->f, 3);
  switch (k->cmd) {
    case DS_TEXT:
    case DS_TEXTINAXIS:
    case DS_SETFLOATFORMAT:
    case DS_PLAYSVG:
    case DS_WRITEFILE:
      dsGetText(line, a->text, (int)sizeof(a->text));
      break;
    case DS_SETFONT: {
      a->hasText = 0;
      const char* open = strchr(line, '"');
      const char* close = open != nullptr ? strchr(open + 1, '"') : nullptr;
      if (close == nullptr || close[1] != ',') break;
      a->hasText = 1;
      dsGetText(open, a->text, (int)sizeof(a->text));
      scan(close + 2, "%d,%d,%d", a->i, 6, a->f, 3);
      break;
    }
    default:
      break;
  }
  return k->cmd;
}

int dsPointLimit(const char* line) {
  const char* p = strstr(line, "-n=");
  if (p == nullptr) return DS_DEFAULT_LINE_POINTS;
  int n = 0;
  if (scan(p, "-n=%d", &n, 1, nullptr, 0) != 1 || n < 1) return DS_DEFAULT_LINE_POINTS;
  return n > DS_MAX_POINTS ? DS_MAX_POINTS : n;
}

int dsScanIntPoint(const char* line, int* x, int* y) {
  int v[2] = {*x, *y};
  int n = scan(line, "%d,%d", v, 2, nullptr, 0);
  *x = v[0];
  *y = v[1];
  return n;
}

int dsScanFloatPoint(const char* line, double* x, double* y) {
  double v[2] = {*x, *y};
  int n = scan(line, "%f,%f", nullptr, 0, v, 2);
  *x = v[0];
  *y = v[1];
  return n;
}

int dsIsFloatFormat(const char* fmt) {
  if (fmt == nullptr || strlen(fmt) >= DS_FORMAT_SIZE) return 0;
  int conversions = 0;
  for (const char* p = fmt; *p != '\0'; p++) {
    if (*p != '%') continue;
    p++;
    if (*p == '%') continue;
    while (*p != '\0' && strchr("-+ #0", *p) != nullptr)
      p++;
    int width = 0;
    while (*p >= '0' && *p <= '9') {
      width = width * 10 + (*p - '0');
      if (width > 60) return 0;
      p++;
    }
    if (*p == '.') {
      p++;
      int precision = 0;
      while (*p >= '0' && *p <= '9') {
        precision = precision * 10 + (*p - '0');
        if (precision > 20) return 0;
        p++;
      }
    }
    if (*p == 'l') p++;
    if (*p == '\0' || strchr("fFeEgGaA", *p) == nullptr) return 0;
    conversions++;
  }
  return conversions == 1;
}

int dsTickLabel(const char* fmt, double v, char* out, int size) {
  if (size < 1 || !dsIsFloatFormat(fmt)) return -1;
  locale_t old = uselocale(otCLocale());
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int n = snprintf(out, (size_t)size, fmt, v);
#pragma GCC diagnostic pop
  uselocale(old);
  if (n < 0) {
    out[0] = '\0';
    return -1;
  }
  n = (int)strlen(out);
  const char* dot = strchr(out, '.');
  if (dot == nullptr) return n;
  int keep = (int)(dot - out) + 1;
  while (n > keep && out[n - 1] == '0')
    n--;
  if (n == keep) n--;  // nothing after the '.'
  out[n] = '\0';
  return n;
}

int dsTickCount(double start, double delta, double end) {
  if (!isfinite(start) || !isfinite(delta) || !isfinite(end) || !(delta > 0)) return -1;
  if (end < start) return 0;
  double steps = floor((end - start) / delta);
  if (!isfinite(steps) || steps > DS_MAX_TICKS) return -1;
  return (int)steps + 1;
}
