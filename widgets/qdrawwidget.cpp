#include "qdrawwidget.h"

#include <ctype.h>
#include <math.h>
#include <string.h>

#include <unordered_map>
#include <vector>

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QClipboard>
#include <QCursor>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPicture>
#include <QPrintDialog>
#include <QPrinter>
#include <QResizeEvent>
#include <QWebElement>
#include <QWebFrame>
#include <QWebPage>
#include <QWebSettings>
#include <qtwebkitwidgetsversion.h>

#include "hxsvganimator.h"
#include "mywidgets_p.h"
#include "otcutil.h"
#include "otlog.h"
#include "otoptions.h"
#include "otserverfiles.h"
#include "tcputil.h"

// The most SVG text that playback takes from a file or the connection.
const long kMaxSvgBytes = 64L * 1024 * 1024;

namespace {

// Mapped coordinates stay within this range: far outside any screen, yet small enough that
// every later sum fits an int and the painter never walks an absurdly long path.
constexpr double kCoordLimit = 1000000.0;
// The largest buffer side: a server's geometry must not make the client allocate gigabytes.
constexpr int kMaxBufferSide = 8192;
constexpr float kMaxZoom = 1000.0f;
constexpr int kMaxPenWidth = 1000;
constexpr int kMaxFontSize = 1000;
constexpr double kMaxTransform = 1.0e6;
constexpr char kDefaultFormat[] = "%.2f";

int clampCoord(double v) {
  if (v != v) return 0;
  if (v > kCoordLimit) return (int)kCoordLimit;
  if (v < -kCoordLimit) return -(int)kCoordLimit;
  return (int)v;
}

int clampInt(long long v, int lo, int hi) {
  return v < lo ? lo : (v > hi ? hi : (int)v);
}

// A double as a float without the undefined conversion of values beyond the float range.
float toFloat(double v) {
  if (v > 3.0e38) return 3.0e38f;
  if (v < -3.0e38) return -3.0e38f;
  return (float)v;
}

// Arc angles in the painter's 1/16 degree: the start reduced to one turn, the span to at most
// one turn either way (the picture is the same, the products cannot overflow).
int arcStart(int degrees) {
  return (int)(((long long)degrees * 16) % 5760);
}

int arcSpan(int degrees) {
  return clampInt((long long)degrees * 16, -5760, 5760);
}

}  // namespace

QDrawWidget::QDrawWidget(QWidget* parent, const char* name, int wflags, int* sock, int wid)
    : QWidget(parent, Qt::WindowFlags(wflags)), s(sock), id(wid) {
  myNameWidget(this, name);
  float zoom = opt.zoom > 0 ? (float)opt.zoom / 100.0f : 1.0f;
  zoomX = zoomY = zoom;
  strcpy(floatFormat, kDefaultFormat);
  dsClearArgs(&args);
  setAutoFillBackground(false);
  setMouseTracking(true);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  QCursor* c = QApplication::overrideCursor();
  savedCursorShape = c != nullptr ? (int)c->shape() : 0;
  timer.setSingleShot(true);
  timer.setInterval(500);
  connect(&timer, &QTimer::timeout, this, &QDrawWidget::slotTimeout);
  if (opt.use_webkit_for_svg == 1) {
    webPage = new QWebPage(this);
    // The page shows what a server sent: no script of it runs, and it reaches nothing but
    // data: URLs and the downloads folder.
    QWebSettings* settings = webPage->settings();
    settings->setAttribute(QWebSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebSettings::PluginsEnabled, false);
    settings->setAttribute(QWebSettings::JavaEnabled, false);
    settings->setAttribute(QWebSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebSettings::DnsPrefetchEnabled, false);
    webNetwork = new otServerFilesNetwork(webPage);
    webPage->setNetworkAccessManager(webNetwork);
    webPage->setViewportSize(QSize(640, 480));
    QWebFrame* frame = webPage->mainFrame();
    frame->setScrollBarPolicy(Qt::Horizontal, Qt::ScrollBarAlwaysOff);
    frame->setScrollBarPolicy(Qt::Vertical, Qt::ScrollBarAlwaysOff);
    // The drawing's own background shows through where the SVG paints nothing.
    QPalette pal = webPage->palette();
    pal.setBrush(QPalette::Base, Qt::transparent);
    webPage->setPalette(pal);
    connect(webPage, &QWebPage::repaintRequested, this, &QDrawWidget::slotWebkitSvgChanged);
    connect(frame, &QWebFrame::loadFinished, this, &QDrawWidget::slotLoadFinished);
  }
}

QDrawWidget::~QDrawWidget() {
  if (painter.isActive()) painter.end();
  if (fp != nullptr) fclose(fp);
  if (logFile != nullptr) fclose(logFile);
  if (pushedCursor) QApplication::restoreOverrideCursor();
  delete svgAnimator;
}

// ---- stream input --------------------------------------------------------------------------

void QDrawWidget::beginStream() {
  pending = kNoList;
  beginDraw(1);
}

int QDrawWidget::showFromFile(const char* filename) {
  if (filename == nullptr) return -1;
  if (fp != nullptr) fclose(fp);
  fp = fopen(filename, "r");
  if (fp == nullptr) return -1;
  beginStream();
  std::vector<char> line((size_t)DS_LINE_SIZE);
  for (;;) {
    if (gets(line.data(), streamLineSize()) < 0) {
      endInput();
      break;
    }
    if (step(line.data()) == -1) break;
  }
  return 0;
}

int QDrawWidget::streamLineSize() const {
  switch (pending) {
    case kValuePoints:
    case kPolygon:
      return DS_POINT_LINE_SIZE;
    case kSvgText:
      return HX_SVG_MAX_LINE;
    default:
      return DS_LINE_SIZE;
  }
}

int QDrawWidget::gets(char* line, int size) {
  if (line == nullptr || size < 2) return -1;
  line[0] = '\0';
  if (fp == nullptr || fgets(line, size, fp) == nullptr) return -1;
  size_t n = strlen(line);
  // The rest of an over-long line is dropped: executed on its own it would be taken for a
  // command or a point of its own.
  if (n > 0 && line[n - 1] != '\n' && (int)n == size - 1) {
    int c;
    while ((c = fgetc(fp)) != EOF && c != '\n') {
    }
  }
  return 0;
}

int QDrawWidget::streamLine(const char* line) {
  if (line == nullptr) return 0;
  if (!recordName.isEmpty() && strncmp(line, "gcloseFile", 10) != 0) {
    size_t len = strlen(line);
    if ((size_t)record.size() + len + 1 > (size_t)DS_MAX_RECORD_BYTES) {
      otLog(OT_LOG_WARNING, "QDrawWidget: metafile \"%s\" above %d bytes dropped\n",
            recordName.constData(), (int)DS_MAX_RECORD_BYTES);
      recordName.clear();
      record.clear();
    } else {
      record.append(line, (int)len);
      if (len == 0 || line[len - 1] != '\n') record.append('\n');
      if (strncmp(line, "gendDraw", 8) == 0) finishServerRecording();
    }
  }
  if (logFile != nullptr) {
    fputs(line, logFile);
    size_t len = strlen(line);
    if (len == 0 || line[len - 1] != '\n') fputc('\n', logFile);
    if (strncmp(line, "gendDraw", 8) == 0) {
      fclose(logFile);
      logFile = nullptr;
    }
  }
  return step(line);
}

void QDrawWidget::streamLost() {
  // A recording that did not end as asked is not stored half.
  recordName.clear();
  record.clear();
  endInput();
}

void QDrawWidget::endInput() {
  // What a point list holds so far is drawn; an SVG text cut short renders nothing.
  if (pending == kValuePoints || pending == kPolygon) finishPoints();
  pending = kNoList;
  svgText.clear();
  endDraw();
}

int QDrawWidget::step(const char* line) {
  if (line == nullptr) return 0;
  switch (pending) {
    case kValuePoints:
    case kPolygon:
      if (dsIsPointListEnd(line)) {
        finishPoints();
        pending = kNoList;
      } else if (pending == kValuePoints) {
        dsScanFloatPoint(line, &pointX, &pointY);
        if ((int)xs.size() < pointLimit) {
          xs.push_back(toFloat(pointX));
          ys.push_back(toFloat(pointY));
        }
      } else {
        dsScanIntPoint(line, &cornerX, &cornerY);
        if (corners.size() < pointLimit) corners.append(QPoint(zx(cornerX), zy(cornerY)));
      }
      return 0;
    case kSvgText:
      if (strstr(line, "<svgend></svgend>") != nullptr) {
        pending = kNoList;
        finishSvgText();
      } else if (svgText.size() + (long)strlen(line) > kMaxSvgBytes) {
        svgTooLong = true;
      } else if (!svgTooLong) {
        svgText.append(line);
      }
      return 0;
    default:
      return interpret(line);
  }
}

int QDrawWidget::getText(const char* line, char* text, int size) {
  if (line == nullptr || text == nullptr) return -1;
  return dsGetText(line, text, size);
}

int QDrawWidget::interpret(const char* line) {
  if (line == nullptr) return 0;
  const int cmd = dsParseLine(line, &args);
  const int* i = args.i;
  const double* f = args.f;
  switch (cmd) {
    case DS_BEGIN:
      strcpy(floatFormat, kDefaultFormat);
      beginDraw(1);
      break;
    case DS_END:
      strcpy(floatFormat, kDefaultFormat);
      endDraw();
      return -1;
    case DS_BOX:
      box(i[0], i[1], i[2], i[3]);
      break;
    case DS_RECT:
      rect(i[0], i[1], i[2], i[3]);
      break;
    case DS_MOVETO:
      moveTo(i[0], i[1]);
      break;
    case DS_LINETO:
      lineTo(i[0], i[1]);
      break;
    case DS_LINE:
      // The points follow, one a line, up to the end of the list.
      pending = kValuePoints;
      pointLimit = dsPointLimit(line);
      pointX = pointY = 0;
      xs.clear();
      ys.clear();
      break;
    case DS_ARC:
    case DS_PIE:
      if (painter.isActive()) {
        QRect r(zx(i[0]), zy(i[1]), zx(i[2]), zy(i[3]));
        if (cmd == DS_ARC)
          painter.drawArc(r, arcStart(i[4]), arcSpan(i[5]));
        else
          painter.drawPie(r, arcStart(i[4]), arcSpan(i[5]));
      }
      break;
    case DS_POLYGON:
      pending = kPolygon;
      pointLimit = clampInt(i[0], 0, DS_MAX_POINTS);
      cornerX = cornerY = 0;
      corners.clear();
      break;
    case DS_TEXT:
      text(i[0], i[1], i[2], args.text);
      break;
    case DS_TEXTINAXIS:
      textInAxis(toFloat(f[0]), toFloat(f[1]), i[0], args.text);
      break;
    case DS_XAXIS:
      xAxis(toFloat(f[0]), toFloat(f[1]), toFloat(f[2]), i[0]);
      break;
    case DS_YAXIS:
      yAxis(toFloat(f[0]), toFloat(f[1]), toFloat(f[2]), i[0]);
      break;
    case DS_RIGHTYAXIS:
      rightYAxis(toFloat(f[0]), toFloat(f[1]), toFloat(f[2]), i[0]);
      break;
    case DS_XGRID:
      xGrid();
      break;
    case DS_YGRID:
      yGrid();
      break;
    case DS_SETCOLOR:
      setColor(i[0], i[1], i[2]);
      break;
    case DS_SETBACKGROUND:
      setBackgroundColor(i[0], i[1], i[2]);
      break;
    case DS_SETWIDTH:
      if (painter.isActive()) {
        QPen pen = painter.pen();
        pen.setWidth(clampInt(i[0], 0, kMaxPenWidth));
        painter.setPen(pen);
      }
      break;
    case DS_SETSTYLE:
      applyPenStyle(i[0]);
      break;
    case DS_SETFONT:
      if (args.hasText) setFont(args.text, i[0], i[1], i[2]);
      break;
    case DS_SETLINESTYLE:
      setLinestyle(i[0]);
      break;
    case DS_SETFLOATFORMAT:
      // The format goes to snprintf with a double: anything but one such conversion could
      // read arguments that are not there, so a refused format keeps the previous one.
      if (dsIsFloatFormat(args.text)) strcpy(floatFormat, args.text);
      break;
    case DS_SCALE:
      if (painter.isActive()) {
        QTransform t = painter.worldTransform();
        t.scale(f[0], f[1]);
        applyTransform(t);
      }
      break;
    case DS_ROTATE:
      if (painter.isActive() && isfinite(f[0])) {
        QTransform t = painter.worldTransform();
        t.rotate(fmod(f[0], 360.0));
        applyTransform(t);
      }
      break;
    case DS_TRANSLATE:
      if (painter.isActive()) {
        QTransform t = painter.worldTransform();
        t.translate(f[0], f[1]);
        applyTransform(t);
      }
      break;
    case DS_PLAYSVG: {
      // A name from the peer: only files of the downloads folder (refusals are printed).
      QByteArray svg;
      if (otReadServerFile(args.text, kMaxSvgBytes, &svg) == 0) playSvgText(svg);
      break;
    }
    case DS_PLAYSVGSOCKET:
      // The SVG text follows, up to "<svgend></svgend>".
      pending = kSvgText;
      svgText.clear();
      svgTooLong = false;
      break;
    case DS_UPDATESVG:
      if (svgAnimator != nullptr) svgAnimator->update(0);
      break;
    case DS_WRITEFILE:
      // A replayed file names no files to write.
      if (fp == nullptr && recordName.isEmpty()) recordToServerFile(args.text);
      break;
    case DS_CLOSEFILE:
      if (fp == nullptr && !recordName.isEmpty()) {
        record.append("gendDraw\n");
        finishServerRecording();
      }
      break;
    default:
      break;
  }
  return 0;
}

void QDrawWidget::finishPoints() {
  if (pending == kValuePoints) {
    if (!xs.empty()) this->line(xs.data(), ys.data(), (int)xs.size());
    xs.clear();
    ys.clear();
    return;
  }
  const int n = pointLimit;
  if (n == 0 || !painter.isActive()) return;
  // Corners that never came stay at (0,0); one such corner gives the same picture as many, as
  // repeated corners add only edges of no length.
  if (corners.size() < n) corners.append(QPoint(0, 0));
  painter.drawPolygon(corners, Qt::OddEvenFill);
  corners.clear();
}

// ---- drawing sequence ----------------------------------------------------------------------

void QDrawWidget::fillBackground() {
  QColor bg(bgRed, bgGreen, bgBlue, clampInt(backgroundAlpha, 0, 255));
  // An opaque picture hides the parent, which then need not be painted under it.
  setAttribute(Qt::WA_OpaquePaintEvent, bg.alpha() == 255);
  if (!painter.isActive()) {
    buffer.fill(bg);
    return;
  }
  painter.save();
  painter.resetTransform();
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(buffer.rect(), bg);
  painter.restore();
}

void QDrawWidget::beginDraw(int flag) {
  sceneShown = false;
  if (flag != 0) {
    svg_draw_request_by_hxc = 1;
    timer.start();
  }
  if (painter.isActive()) painter.end();
  fillBackground();
  if (!buffer.isNull()) painter.begin(&buffer);
  QFont f = painter.isActive() ? painter.font() : font();
  double p = f.pointSizeF() > 0 ? f.pointSizeF() : f.pixelSize();
  fontSize = clampInt(((long long)(zoomX * p) + (long long)(zoomY * p)) / 2, 0, 2 * kMaxFontSize);
}

void QDrawWidget::endDraw() {
  if (painter.isActive()) painter.end();
  if (fp != nullptr) {
    fclose(fp);
    fp = nullptr;
  }
  update();
}

// ---- primitives ----------------------------------------------------------------------------

int QDrawWidget::zx(int x) {
  return clampCoord((double)x * zoomX);
}

int QDrawWidget::zy(int y) {
  return clampCoord((double)y * zoomY);
}

int QDrawWidget::tx(float x) {
  return clampCoord(boxx + ((double)x - xmin) * boxw / ((double)xmax - xmin));
}

int QDrawWidget::ty(float y) {
  double span = (double)ymax - ymin;
  return clampCoord(boxh + boxy - (double)y * boxh / span) + clampCoord(ymin * boxh / span);
}

int QDrawWidget::valueMappingUsable() const {
  // A scale of no width would put every value at infinity.
  return isfinite(xmin) && isfinite(xmax) && isfinite(ymin) && isfinite(ymax) && xmax != xmin &&
         ymax != ymin;
}

void QDrawWidget::moveTo(int x, int y) {
  xold = zx(x);
  yold = zy(y);
}

void QDrawWidget::lineTo(int x, int y) {
  int nx = zx(x), ny = zy(y);
  if (painter.isActive()) painter.drawLine(xold, yold, nx, ny);
  xold = nx;
  yold = ny;
}

void QDrawWidget::line(const float* x, const float* y, int n) {
  if (x == nullptr || y == nullptr || n < 1 || !valueMappingUsable()) return;
  // One polyline rather than a line per segment: a trend of thousands of values is drawn in
  // one go, and wide or dashed pens join their segments instead of overlapping at each value.
  QPolygon curve(n);
  for (int k = 0; k < n; k++)
    curve[k] = QPoint(zx(tx(x[k])), zy(ty(y[k])));
  if (painter.isActive() && n > 1) painter.drawPolyline(curve);
  xold = curve[n - 1].x();
  yold = curve[n - 1].y();
  if (linestyle == 0) return;
  for (int k = 1; k < n; k++)
    drawSymbol(tx(x[k]), ty(y[k]), linestyle);
}

void QDrawWidget::rect(int x, int y, int w, int h) {
  if (painter.isActive()) painter.drawRect(zx(x), zy(y), zx(w), zy(h));
}

void QDrawWidget::box(int x, int y, int w, int h) {
  const int lim = (int)kCoordLimit;
  boxx = clampInt((long long)x * percent / 100, -lim, lim);
  boxy = clampInt((long long)y * percent / 100, -lim, lim);
  boxw = clampInt((long long)w * percent / 100, -lim, lim);
  boxh = clampInt((long long)h * percent / 100, -lim, lim);
  moveTo(boxx, boxy);
  lineTo(boxx + boxw, boxy);
  lineTo(boxx + boxw, boxy + boxh);
  lineTo(boxx, boxy + boxh);
  lineTo(boxx, boxy);
}

void QDrawWidget::text(int x, int y, int alignment, const char* utf8) {
  if (!painter.isActive() || utf8 == nullptr || alignment < 0 || alignment > 3) return;
  const QString t = QString::fromUtf8(utf8);
  const long long n = t.length();
  const long long f = fontSize;
  const int h = clampCoord(f * zoomX) + clampCoord(f * zoomY);
  const int w = clampCoord((double)(n * f) * zoomX);
  const int y1 = clampCoord((double)(y - f / 2) * zoomY);
  switch (alignment) {
    case 0:
      painter.drawText(QRect(clampCoord((double)x * zoomX), y1, w, h), Qt::AlignLeft | Qt::AlignTop,
                       t);
      break;
    case 1:
      painter.drawText(QRect(clampCoord((double)(x - n * f / 2) * zoomX), y1, w, h),
                       Qt::AlignCenter, t);
      break;
    case 2:
      painter.drawText(QRect(clampCoord((double)(x - n * f) * zoomX), y1, w, h),
                       Qt::AlignRight | Qt::AlignTop, t);
      break;
    case 3:
      // Vertical text turns the coordinate system for itself only; the stream's own
      // transformations stay in force around it and after it.
      painter.save();
      painter.translate(clampCoord((double)x * zoomX), clampCoord((double)y * zoomY));
      painter.rotate(-90);
      painter.drawText(QRect((int)(n * f * -29 / 100), (int)(-f / 2), w, h), Qt::AlignLeft, t);
      painter.restore();
      break;
  }
}

void QDrawWidget::textInAxis(float x, float y, int alignment, const char* utf8) {
  if (!valueMappingUsable()) return;
  double yy = y;
  if (alignment == 1) {
    if (boxh == 0) return;  // the lift would be infinite
    yy = y + (double)(fontSize / 2) * ((double)ymax - ymin) / boxh;
  }
  text(tx(x), ty(toFloat(yy)), alignment, utf8);
}

// which: 0 x axis, 1 left y axis, 2 right y axis.
void QDrawWidget::axisTicks(float start, float delta, float end, int which) {
  if (!painter.isActive() || !valueMappingUsable()) return;
  const int count = dsTickCount(start, delta, end);
  char label[DS_FORMAT_SIZE];
  for (int k = 0; k < count; k++) {
    const float v = toFloat((double)start + (double)k * delta);
    if (dsTickLabel(floatFormat, v, label, (int)sizeof(label)) < 0) label[0] = '\0';
    if (which == 0) {
      const int X = tx(v), Y = boxy + boxh;
      moveTo(X, Y);
      lineTo(X, Y + 4);
      text(X, Y + 8, 1, label);
    } else if (which == 1) {
      const int Y = ty(v);
      moveTo(boxx, Y);
      lineTo(boxx - 4, Y);
      text(boxx - 8, Y, 2, label);
    } else {
      const int Y = ty(v), X = boxx + boxw;
      moveTo(X, Y);
      lineTo(X + 4, Y);
      text(X + 8, Y, 0, label);
    }
  }
  if (!(start < 0 && end > 0)) return;
  if (which == 0) {
    moveTo(tx(0), boxy);
    lineTo(tx(0), boxy + boxh);
  } else if (which == 1) {
    moveTo(boxx, ty(0));
    lineTo(boxx + boxw, ty(0));
  } else {
    // The right axis marks zero with a line of no length and leaves the pen there; the left
    // axis draws the line across the box.
    moveTo(boxx + boxw, ty(0));
    lineTo(boxx + boxw, ty(0));
  }
}

void QDrawWidget::xAxis(float start, float delta, float end, int draw) {
  xmin = start;
  dx = delta;
  xmax = end;
  if (draw != 0) axisTicks(start, delta, end, 0);
}

void QDrawWidget::yAxis(float start, float delta, float end, int draw) {
  ymin = start;
  dy = delta;
  ymax = end;
  if (draw != 0) axisTicks(start, delta, end, 1);
}

void QDrawWidget::rightYAxis(float start, float delta, float end, int draw) {
  ymin = start;
  dy = delta;
  ymax = end;
  if (draw != 0) axisTicks(start, delta, end, 2);
}

void QDrawWidget::xGrid() {
  if (!painter.isActive() || !valueMappingUsable() || dsTickCount(xmin, dx, xmax) < 0) return;
  for (int k = 1; k <= DS_MAX_TICKS; k++) {
    const double v = (double)xmin + (double)k * dx;
    if (!(v < xmax)) break;
    moveTo(tx(toFloat(v)), boxy);
    lineTo(tx(toFloat(v)), boxy + boxh);
  }
}

void QDrawWidget::yGrid() {
  if (!painter.isActive() || !valueMappingUsable() || dsTickCount(ymin, dy, ymax) < 0) return;
  for (int k = 1; k <= DS_MAX_TICKS; k++) {
    const double v = (double)ymin + (double)k * dy;
    if (!(v <= (double)ymax - dy)) break;
    moveTo(boxx, ty(toFloat(v)));
    lineTo(boxx + boxw, ty(toFloat(v)));
  }
}

void QDrawWidget::drawSymbol(int x, int y, int type) {
  const int lim = (int)kCoordLimit;
  x = clampInt(x, -lim, lim);
  y = clampInt(y, -lim, lim);
  const int sz = symbolSize;
  switch (type) {
    case 1:
      if (painter.isActive())
        painter.drawArc(zx(x - sz), zy(y - sz), zx(2 * sz), zy(2 * sz), 0, 5760);
      break;
    case 2:
      moveTo(x - sz, y + sz);
      lineTo(x + sz, y - sz);
      moveTo(x - sz, y - sz);
      lineTo(x + sz, y + sz);
      break;
    case 3:
      moveTo(x - sz, y - sz);
      lineTo(x + sz, y - sz);
      lineTo(x + sz, y + sz);
      lineTo(x - sz, y + sz);
      lineTo(x - sz, y - sz);
      break;
    default:
      break;
  }
}

void QDrawWidget::setColor(int red, int green, int blue) {
  if (!painter.isActive()) return;
  QColor c(clampInt(red, 0, 255), clampInt(green, 0, 255), clampInt(blue, 0, 255), 255);
  painter.setBrush(QBrush(c));
  QPen pen = painter.pen();
  pen.setColor(c);
  painter.setPen(pen);
}

void QDrawWidget::setBackgroundColor(int red, int green, int blue) {
  bgRed = clampInt(red, 0, 255);
  bgGreen = clampInt(green, 0, 255);
  bgBlue = clampInt(blue, 0, 255);
  fillBackground();
}

void QDrawWidget::setFont(const char* family, int size, int weight, int italic) {
  if (family == nullptr) return;
  size = clampInt(size, 1, kMaxFontSize);
  fontSize = clampInt((long long)((zoomX * size + size * zoomY) * 0.5), 0, 2 * kMaxFontSize);
  if (!painter.isActive()) return;
  painter.setFont(QFont(QString::fromUtf8(family), fontSize > 0 ? fontSize : 1,
                        clampInt(weight, 0, 99), italic != 0));
}

void QDrawWidget::setLinestyle(int style) {
  linestyle = style;
}

void QDrawWidget::applyPenStyle(int style) {
  static const Qt::PenStyle kStyles[] = {Qt::SolidLine, Qt::SolidLine,   Qt::DashLine,
                                         Qt::DotLine,   Qt::DashDotLine, Qt::DashDotDotLine};
  if (!painter.isActive() || style < 0 || style > 5) return;
  QPen pen = painter.pen();
  pen.setStyle(kStyles[style]);
  painter.setPen(pen);
}

void QDrawWidget::applyTransform(const QTransform& t) {
  // A coordinate system that is not finite, collapses to a line, or is stretched beyond any
  // screen would only make the painter work on nothing.
  const double m[] = {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()};
  for (double v : m)
    if (!isfinite(v) || fabs(v) > kMaxTransform) return;
  if (t.m13() != 0 || t.m23() != 0 || !t.isInvertible()) return;
  painter.setWorldTransform(t);
}

// A negative factor fixes the zoom for good; others count only while it follows the size.
static void applyZoom(float f, int* autoZoom, float* zoom) {
  if (!isfinite(f)) return;
  if (f < 0) {
    *autoZoom = 0;
    *zoom = -f < kMaxZoom ? -f : kMaxZoom;
  } else if (*autoZoom) {
    *zoom = f < kMaxZoom ? f : kMaxZoom;
  }
}

void QDrawWidget::setZoomX(float f) {
  applyZoom(f, &autoZoomX, &zoomX);
}

void QDrawWidget::setZoomY(float f) {
  applyZoom(f, &autoZoomY, &zoomY);
}

// ---- geometry ------------------------------------------------------------------------------

void QDrawWidget::resizeBuffer(int w, int h) {
  sceneShown = false;
  w = clampInt(w, 0, kMaxBufferSide);
  h = clampInt(h, 0, kMaxBufferSide);
  const bool drawing = painter.isActive();
  if (drawing) painter.end();
  buffer = QPixmap(w, h);
  fillBackground();
  if (drawing && !buffer.isNull()) painter.begin(&buffer);
}

void QDrawWidget::resize(int w, int h) {
  designWidth = w;
  designHeight = h;
  QWidget::resize(w, h);
  update();
}

void QDrawWidget::setGeometry(int x, int y, int w, int h) {
  designWidth = w;
  designHeight = h;
  QWidget::setGeometry(x, y, w, h);
}

void QDrawWidget::setGeometry(const QRect& r) {
  setGeometry(r.x(), r.y(), r.width(), r.height());
}

void QDrawWidget::resizeEvent(QResizeEvent* e) {
  const int w = e->size().width(), h = e->size().height();
  resizeBuffer(w, h);
  // The web page's viewport follows the size here once SVG through the web engine exists.
  const float zoom = opt.zoom > 0 ? (float)opt.zoom / 100.0f : 1.0f;
  if (designWidth != 0) setZoomX((float)w / (float)designWidth * zoom);
  if (designHeight != 0) setZoomY((float)h / (float)designHeight * zoom);
  // The animated SVG is redrawn here once the SVG animator exists.
  myEvent(s, nullptr, "resizeGL(%d,%d,%d)", id, w, h);
}

// ---- events --------------------------------------------------------------------------------

void QDrawWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (testAttribute(Qt::WA_OpaquePaintEvent) &&
      (buffer.width() < width() || buffer.height() < height())) {
    // Beyond the largest buffer: the parent is not painted there, so the widget fills it.
    const QRegion rest = QRegion(QWidget::rect()) - QRegion(buffer.rect());
    for (const QRect& r : rest)
      p.fillRect(r, QColor(bgRed, bgGreen, bgBlue));
  }
  p.drawPixmap(0, 0, buffer);
  if (pressX == -1 || selectionMode != 1) return;
  QRect sel = QRect(QPoint(pressX, pressY), QPoint(mouseX, mouseY)).normalized();
  if (mouseX == pressX || mouseY == pressY) return;
  p.setPen(QColor(128, 128, 128));
  p.setBrush(Qt::NoBrush);
  p.drawRect(sel);
}

void QDrawWidget::mousePressEvent(QMouseEvent* e) {
  pressX = e->x();
  pressY = e->y();
  if (svgAnimator != nullptr) {
    if (e->button() == Qt::LeftButton)
      svgAnimator->perhapsSendSvgEvent("svgPressedLeftButton", s, id, e->x(), e->y());
    else if (e->button() == Qt::RightButton)
      svgAnimator->perhapsSendSvgEvent("svgPressedRightButton", s, id, e->x(), e->y());
    else if (e->button() == Qt::MiddleButton)
      svgAnimator->perhapsSendSvgEvent("svgPressedMidButton", s, id, e->x(), e->y());
  }
  myEvent(s, nullptr, "QPlotMousePressed(%d,%d,%d)", id, e->x(), e->y());
}

void QDrawWidget::mouseMoveEvent(QMouseEvent* e) {
  mouseX = e->x();
  mouseY = e->y();
  const Qt::MouseButtons b = e->buttons();
  if (b == Qt::LeftButton || b == Qt::RightButton || b == Qt::MiddleButton)
    myEvent(s, nullptr, "QPlotMouseMoved(%d,%d,%d)", id, e->x(), e->y());
  if (svgAnimator != nullptr) svgAnimator->perhapsSetOverrideCursor(e->x(), e->y(), (int)b);
  QWidget::mouseMoveEvent(e);
  if (selectionMode) update();
}

void QDrawWidget::mouseReleaseEvent(QMouseEvent* e) {
  pressX = pressY = -1;
  mouseX = e->x();
  mouseY = e->y();
  if (svgAnimator != nullptr) {
    if (e->button() == Qt::LeftButton)
      svgAnimator->perhapsSendSvgEvent("svgReleasedLeftButton", s, id, e->x(), e->y());
    else if (e->button() == Qt::RightButton)
      svgAnimator->perhapsSendSvgEvent("svgReleasedRightButton", s, id, e->x(), e->y());
    else if (e->button() == Qt::MiddleButton)
      svgAnimator->perhapsSendSvgEvent("svgReleasedMidButton", s, id, e->x(), e->y());
  }
  if (QWidget::rect().contains(e->pos()))
    myEvent(s, nullptr, "QPlotMouseReleased(%d,%d,%d)", id, e->x(), e->y());
  QWidget::mouseReleaseEvent(e);
  if (selectionMode) update();
}

void QDrawWidget::enterEvent(QEvent*) {
  myEvent(s, nullptr, "mouseEnterLeave(%d,1)", id);
  QCursor* c = QApplication::overrideCursor();
  savedCursorShape = c != nullptr ? (int)c->shape() : 0;
}

void QDrawWidget::leaveEvent(QEvent*) {
  myEvent(s, nullptr, "mouseEnterLeave(%d,0)", id);
  // Pushing the shape seen on entering would stack one more override cursor per visit and
  // never give the pointer back; taking back our own leaves the stack as it was on entering.
  restoreCursor();
}

void QDrawWidget::setCursorShape(int shape) {
  const QCursor c((Qt::CursorShape)clampInt(shape, 0, Qt::LastCursor));
  if (pushedCursor) {
    QApplication::changeOverrideCursor(c);
  } else {
    QApplication::setOverrideCursor(c);
    pushedCursor = 1;
  }
}

void QDrawWidget::slotWebkitSvgChanged(const QRect&) {
  // The engine repaints on its own (a load finished, an image arrived): such requests become
  // one redraw per timer period, and none while the server draws.
  if (svg_draw_request_by_hxc != 0 || webPage == nullptr || painter.isActive()) return;
  loadFinished = 0;
  if (buffer.isNull()) return;
  painter.begin(&buffer);
  QColor bg(bgRed, bgGreen, bgBlue, clampInt(backgroundAlpha, 0, 255));
  painter.save();
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(buffer.rect(), bg);
  painter.restore();
  QFont f = painter.font();
  double p = f.pointSizeF() > 0 ? f.pointSizeF() : f.pixelSize();
  fontSize = clampInt(((long long)(zoomX * p) + (long long)(zoomY * p)) / 2, 0, 2 * kMaxFontSize);
  painter.scale(percent / 100.0 * zoomX, percent / 100.0 * zoomY);
  webPage->mainFrame()->render(&painter);
  painter.end();
  repaint();
  svg_draw_request_by_hxc = 1;
  timer.start();
}

void QDrawWidget::slotTimeout() {
  svg_draw_request_by_hxc = 0;
}

void QDrawWidget::slotLoadFinished(bool ok) {
  if (ok) loadFinished = 1;
}

// ---- output and files ----------------------------------------------------------------------

int QDrawWidget::save(const char* filename) {
  if (filename == nullptr) return -1;
  if (!otIsLocalFileName(filename)) {
    otLog(OT_LOG_ERROR, "ERROR QDrawWidget::save(%s) does not allow this filename\n", filename);
    return -1;
  }
  if (buffer.isNull()) return -1;
  return buffer.save(QString::fromLocal8Bit(filename)) ? 1 : -1;
}

int QDrawWidget::logToFile(const char* filename) {
  if (logFile != nullptr || filename == nullptr) return -1;
  logFile = fopen(filename, "w");
  if (logFile == nullptr) return -1;
  fprintf(logFile, "hxMetafile(%d,%d)\n", width(), height());
  return 0;
}

int QDrawWidget::recordToServerFile(const char* name) {
  if (!recordName.isEmpty() || name == nullptr) return -1;
  if (const char* why = otServerFileNameRefusal(name)) {
    otServerFileRefused(name, why);
    return -1;
  }
  recordName = name;
  record = QByteArray("hxMetafile(") + QByteArray::number(width()) + ',' +
           QByteArray::number(height()) + ")\n";
  return 0;
}

int QDrawWidget::finishServerRecording() {
  if (recordName.isEmpty()) return -1;
  QByteArray name = recordName, bytes = record;
  recordName.clear();
  record.clear();
  otServerFileWriter file;
  if (file.begin(name.constData(), bytes.size()) != 0) return -1;
  if (file.write(bytes.constData(), bytes.size()) != 0) {
    file.abort();
    return -1;
  }
  return file.commit();
}

int QDrawWidget::getDimensions(const char* filename, int* width, int* height) {
  if (width == nullptr || height == nullptr) return -1;
  *width = *height = 0;
  FILE* f = filename != nullptr ? fopen(filename, "r") : nullptr;
  if (f == nullptr) return -1;
  char line[1024];
  const bool ok = fgets(line, (int)sizeof(line), f) != nullptr;
  fclose(f);
  if (!ok || strncmp(line, "hxMetafile(", 11) != 0) return -1;
  dsScanIntPoint(line + 11, width, height);
  return 0;
}

int QDrawWidget::logBmpToFile(const char* filename) {
  if (filename == nullptr || buffer.isNull()) return -1;
  return buffer.toImage().save(QString::fromLocal8Bit(filename)) ? 0 : -1;
}

void QDrawWidget::copyToClipboard() {
  QApplication::clipboard()->setPixmap(buffer);
}

int QDrawWidget::sendJpeg2clipboard() {
  QByteArray jpeg;
  QBuffer out(&jpeg);
  out.open(QIODevice::WriteOnly);
  if (buffer.isNull() || !buffer.save(&out, "JPG")) return -1;
  int r = myEvent(s, nullptr, "@clipboard(%d,%d)", id, jpeg.size());
  if (r < 0) return r;
  return tcp_send(s, jpeg.constData(), jpeg.size());
}

int QDrawWidget::print() {
  QPrinter printer;
  if (opt.print_pdf[0] != '\0') {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromLocal8Bit(opt.print_pdf));
  } else {
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted) return -1;
  }
  QPainter p;
  if (!p.begin(&printer)) return -1;
  p.drawPixmap(0, 0, buffer);
  return p.end() ? 0 : -1;
}

// ---- SVG -----------------------------------------------------------------------------------

namespace {

bool nameChar(char c) {
  return isalnum((unsigned char)c) || c == '_' || c == '-' || c == '.' || c == ':';
}

// Sets the width and height attributes of the root element (the first element of the
// document) to "%dpx", replacing its own attributes or adding them; nothing else is touched.
// Returns false when the text has no element.
bool setRootSize(QByteArray& svg, int w, int h) {
  const char* d = svg.constData();
  const int n = svg.size();
  int i = 0;
  for (;;) {
    while (i < n && d[i] != '<')
      i++;
    if (i + 1 >= n) return false;
    if (svg.mid(i, 4) == "<!--") {
      int e = svg.indexOf("-->", i + 4);
      if (e < 0) return false;
      i = e + 3;
    } else if (d[i + 1] == '?' || d[i + 1] == '!') {
      // A declaration or document type: up to its '>' outside brackets.
      int depth = 0;
      for (i++; i < n && (d[i] != '>' || depth > 0); i++)
        depth += d[i] == '[' ? 1 : d[i] == ']' ? -1 : 0;
      i++;
    } else {
      break;
    }
  }
  int nameEnd = i + 1;
  while (nameEnd < n && nameChar(d[nameEnd]))
    nameEnd++;
  // The end of the start tag: its '>' outside quoted values.
  int end = nameEnd;
  for (char quote = 0; end < n; end++) {
    if (quote) {
      if (d[end] == quote) quote = 0;
    } else if (d[end] == '"' || d[end] == '\'') {
      quote = d[end];
    } else if (d[end] == '>') {
      break;
    }
  }
  if (end >= n) return false;
  if (end > nameEnd && d[end - 1] == '/') end--;
  QByteArray tag = svg.mid(nameEnd, end - nameEnd);
  auto setAttribute = [&tag](const char* name, int value) {
    const QByteArray text = QByteArray(name) + "=\"" + QByteArray::number(value) + "px\"";
    const int len = (int)strlen(name);
    for (int k = 0; k < tag.size();) {
      // An attribute name: after white space, up to '=' (white space around it allowed).
      if (!isspace((unsigned char)tag[k])) {
        k++;
        continue;
      }
      while (k < tag.size() && isspace((unsigned char)tag[k]))
        k++;
      int start = k;
      while (k < tag.size() && nameChar(tag[k]))
        k++;
      int eq = k;
      while (eq < tag.size() && isspace((unsigned char)tag[eq]))
        eq++;
      if (eq >= tag.size() || tag[eq] != '=') continue;
      int v = eq + 1;
      while (v < tag.size() && isspace((unsigned char)tag[v]))
        v++;
      if (v >= tag.size() || (tag[v] != '"' && tag[v] != '\'')) continue;
      int close = tag.indexOf(tag[v], v + 1);
      if (close < 0) return;
      if (k - start == len && tag.mid(start, len) == name) {
        tag.replace(start, close + 1 - start, text);
        return;
      }
      k = close + 1;
    }
    tag.append(' ').append(text);
  };
  setAttribute("width", w);
  setAttribute("height", h);
  svg.replace(nameEnd, end - nameEnd, tag);
  return true;
}

}  // namespace

void QDrawWidget::svgSize(int* w, int* h, int animated) const {
  *w = width();
  *h = height();
  if (webPage == nullptr) return;
  if (animated) {
    // The web engine lays the animated drawing out on a page larger than the widget, so that
    // no part of it is cut while it is moved or zoomed by the server.
    *w = 10 * *w + 50;
    *h = 10 * *h + 50;
  } else if (opt.zoom > 0) {
    *w = (int)((long long)*w * 100 / opt.zoom);
    *h = (int)((long long)*h * 100 / opt.zoom);
  }
}

void QDrawWidget::renderSvg(const QByteArray& text, QPainter* p) {
  // What the drawing names outside itself comes from the downloads folder or not at all.
  const QByteArray svg = otServerSvg(text);
  if (webPage != nullptr) {
    loadFinished = 0;
    webPage->mainFrame()->setContent(svg, "image/svg+xml");
  } else {
    renderer.load(svg);
  }
  if (p == nullptr || !p->isActive()) return;
  const QTransform before = p->transform();
  p->scale(percent / 100.0 * zoomX, percent / 100.0 * zoomY);
  if (webPage != nullptr)
    webPage->mainFrame()->render(p);
  else if (renderer.isValid())
    renderer.render(p);
  p->setTransform(before);
}

void QDrawWidget::playSVG(const char* filename) {
  svg_draw_request_by_hxc = 0;
  if (filename == nullptr) return;
  QFile f(QString::fromLocal8Bit(filename));
  if (!f.open(QIODevice::ReadOnly)) return;
  if (f.size() > kMaxSvgBytes) {
    otLog(OT_LOG_WARNING, "playSVG: %s is above %ld bytes\n", filename, kMaxSvgBytes);
    return;
  }
  playSvgText(f.readAll());
}

void QDrawWidget::playSvgText(QByteArray svg) {
  svg_draw_request_by_hxc = 0;
  int w, h;
  svgSize(&w, &h, 0);
  setRootSize(svg, w, h);
  renderSvg(svg, &painter);
}

void QDrawWidget::finishSvgText() {
  QByteArray svg;
  svg.swap(svgText);
  if (svgTooLong) {
    otLog(OT_LOG_WARNING, "gplaySVGsocket: SVG text above %ld bytes refused\n", kMaxSvgBytes);
    return;
  }
  int w, h;
  svgSize(&w, &h, 0);
  setRootSize(svg, w, h);
  renderSvg(svg, &painter);
}

void QDrawWidget::svgUpdate(QByteArray& svg) {
  renderSvg(svg, &painter);
}

int QDrawWidget::printSVG(QByteArray& svg) {
  QPrinter printer;
  printer.setColorMode(QPrinter::Color);
  if (opt.print_pdf[0] != '\0') {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromLocal8Bit(opt.print_pdf));
  } else {
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted) return -1;
  }
  QPainter p;
  if (!p.begin(&printer)) return -1;
  if (webPage != nullptr) {
    webPage->mainFrame()->render(&p);
  } else {
    QSvgRenderer r(otServerSvg(svg));
    if (r.isValid()) r.render(&p);
  }
  return p.end() ? 0 : -1;
}

void QDrawWidget::renderScene() {
  if (svgAnimator == nullptr) return;
  std::vector<int> changed;
  const bool sound = svgAnimator->takeChanges(&changed);
  if (!sound) textBoxes.clear();  // record numbers moved
  const double sx = percent / 100.0 * zoomX, sy = percent / 100.0 * zoomY;
  if (webPage == nullptr && sceneShown && sound && sx == sceneSx && sy == sceneSy &&
      redrawPart(changed, sx, sy)) {
    partRedraws++;
    return;
  }
  beginDraw(1);
  svgAnimator->update(0);
  endDraw();
  sceneShown = true;
  sceneSx = sx;
  sceneSy = sy;
}

namespace {

// The box of an element in the drawing's coordinates; an empty one for a missing element.
QRectF elementBox(QSvgRenderer& r, const QByteArray& id) {
  const QString name = QString::fromUtf8(id);
  if (!r.elementExists(name)) return QRectF();
  return r.transformForElement(name).mapRect(r.boundsOnElement(name));
}

// The renderer gives no box for texts: what drawing one paints is recorded and measured
// instead, in its parent's coordinates, and mapped to the drawing's.
QRectF textBox(QSvgRenderer& r, const QByteArray& id) {
  const QString name = QString::fromUtf8(id);
  if (!r.elementExists(name)) return QRectF();
  QPicture picture;
  {
    QPainter p(&picture);
    r.render(&p, name);
  }
  const QRect box = picture.boundingRect();
  if (box.isEmpty()) return QRectF();
  return r.transformForElement(name).mapRect(QRectF(box));
}

}  // namespace

bool QDrawWidget::redrawPart(const std::vector<int>& changed, double sx, double sy) {
  hxSvgAnimator* a = svgAnimator;
  // The changed elements, and the texts inside them: the renderer's box of a group leaves its
  // texts out, so they are measured one by one.
  std::vector<QByteArray> ids;
  std::vector<std::pair<int, QByteArray>> texts;
  for (int open : changed) {
    ids.push_back(a->elementId(open));
    if (ids.back().isEmpty()) return false;
    const int end = a->elementEnd(open);
    for (int t : a->textElements(false))
      if (t >= open && t <= end) {
        QByteArray name = a->elementId(t);
        texts.emplace_back(t, name.isEmpty() ? "_hxt" + QByteArray::number(t) : name);
      }
  }
  // Where they were: the renderer still holds the drawing as last shown ...
  QRectF damage;
  for (const QByteArray& name : ids)
    damage |= elementBox(renderer, name);
  for (const auto& t : texts) {
    auto it = textBoxes.find(t.first);
    damage |= it != textBoxes.end() ? it->second : textBox(renderer, t.second);
  }
  int w, h;
  svgSize(&w, &h, 1);
  renderer.load(otServerSvg(a->svgText(w, h, true, nullptr)));
  if (!renderer.isValid()) return false;
  // ... and where they are now.
  for (const QByteArray& name : ids)
    damage |= elementBox(renderer, name);
  for (const auto& t : texts)
    damage |= textBoxes[t.first] = textBox(renderer, t.second);
  if (damage.isEmpty()) return true;
  // Whole pixels, with room for antialiased edges.
  const QRect part =
      QTransform::fromScale(sx, sy).mapRect(damage).toAlignedRect().adjusted(-2, -2, 2, 2) &
      buffer.rect();
  if (part.isEmpty()) return true;
  // Most of the picture: drawing all of it costs no more.
  if ((qint64)part.width() * part.height() * 2 > (qint64)buffer.width() * buffer.height())
    return false;
  const QRectF docPart = QTransform::fromScale(1 / sx, 1 / sy).mapRect(QRectF(part));
  // Texts cost the most to draw: those whose box stays clear of the part are left out.
  std::vector<char> drop((size_t)a->numLines(), 0);
  for (int t : a->textElements()) {
    auto it = textBoxes.find(t);
    if (it == textBoxes.end()) {
      QByteArray name = a->elementId(t);
      if (name.isEmpty()) name = "_hxt" + QByteArray::number(t);
      it = textBoxes.emplace(t, textBox(renderer, name)).first;
    }
    const QRectF& box = it->second;
    if (!box.isEmpty() && !box.adjusted(-2, -2, 2, 2).intersects(docPart)) drop[(size_t)t] = 1;
  }
  partRenderer.load(otServerSvg(a->svgText(w, h, false, &drop)));
  if (!partRenderer.isValid() || !painter.begin(&buffer)) return false;
  painter.setClipRect(part);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(part, QColor(bgRed, bgGreen, bgBlue, clampInt(backgroundAlpha, 0, 255)));
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.scale(sx, sy);
  partRenderer.render(&painter);
  painter.end();
  update(part);
  return true;
}

void QDrawWidget::requestSvgBoundsOnElement(QString& element) {
  char reply[MY_EVENT_LINE_MAX];
  const QByteArray name = element.toUtf8();
  if (webPage == nullptr) {
    // A missing element gets the renderer's empty answer, not the whole document's bounds.
    QRectF r = renderer.elementExists(element) ? renderer.boundsOnElement(element) : QRectF();
    snprintf(reply, sizeof reply, "svgBoundsOnElement:%f,%f,%f,%f=%s", r.x(), r.y(), r.width(),
             r.height(), name.constData());
  } else {
    // The engine has no render-tree dump here: the element's box comes from the document.
    QWebElement e = webElement(element);
    if (e.isNull()) return;
    QRect r = e.geometry();
    snprintf(reply, sizeof reply, "svgBoundsOnElement:%d,%d,%d,%d=%s", r.x(), r.y(), r.width(),
             r.height(), name.constData());
  }
  myEvent(s, reply, "text(%d,", id);
}

void QDrawWidget::requestSvgMatrixForElement(QString& element) {
  char reply[MY_EVENT_LINE_MAX];
  const QByteArray name = element.toUtf8();
  double a, b, c, d, e, f;
  if (webPage == nullptr) {
    QTransform t = renderer.transformForElement(element);
    a = t.m11(), b = t.m12(), c = t.m21(), d = t.m22(), e = t.dx(), f = t.dy();
  } else {
    TRMatrix m;
    if (svgAnimator == nullptr || svgAnimator->calcCTM(name.constData(), &m) < 0) return;
    a = m.a, b = m.b, c = m.c, d = m.d, e = m.e, f = m.f;
  }
  // The same order and determinant with either renderer.
  snprintf(reply, sizeof reply, "svgMatrixForElement:%f,%f,%f,%f,%f,%f,%f=%s", a, b, c, d,
           a * d - b * c, e, f, name.constData());
  myEvent(s, reply, "text(%d,", id);
}

QWebElement QDrawWidget::webElement(const QString& element) const {
  if (webPage == nullptr) return QWebElement();
  QWebElementCollection all = webPage->mainFrame()->documentElement().findAll("[id]");
  for (const QWebElement& e : all)
    if (e.attribute("id") == element || e.attribute("id") == "hxc:" + element) return e;
  return QWebElement();
}

namespace {

int writeDump(const char* filename, const QString& text) {
  if (filename == nullptr) return -1;
  FILE* out = fopen(filename, "w");
  if (out == nullptr) {
    otLog(OT_LOG_ERROR, "could not write %s\n", filename);
    return -1;
  }
  const QByteArray utf8 = text.toUtf8();
  bool ok = fwrite(utf8.constData(), 1, (size_t)utf8.size(), out) == (size_t)utf8.size();
  return fclose(out) == 0 && ok ? 0 : -1;
}

}  // namespace

int QDrawWidget::htmlOrSvgDump(const char* filename) {
  if (webPage == nullptr) {
    otLog(OT_LOG_ERROR, "ERROR: htmlOrSvgDump only available if use_webkit_for_svg=1\n");
    return -1;
  }
  return writeDump(filename, webPage->mainFrame()->toHtml());
}

int QDrawWidget::renderTreeDump(const char* filename) {
  if (webPage == nullptr) {
    otLog(OT_LOG_ERROR, "ERROR: renderTreeDump only available if use_webkit_for_svg=1\n");
    return -1;
  }
  otLog(OT_LOG_ERROR,
        "ERROR: renderTreeDump: this web engine (QtWebKit %s) has no render-tree dump; %s not "
        "written\n",
        QTWEBKITWIDGETS_VERSION_STR, filename != nullptr ? filename : "");
  return -1;
}

hxSvgAnimator* QDrawWidget::animator() {
  if (svgAnimator == nullptr) svgAnimator = new hxSvgAnimator(s, this);
  return svgAnimator;
}

QWebFrame* QDrawWidget::webFrame() const {
  return webPage != nullptr ? webPage->mainFrame() : nullptr;
}

void QDrawWidget::restoreCursor() {
  if (!pushedCursor) return;
  QApplication::restoreOverrideCursor();
  pushedCursor = 0;
}
