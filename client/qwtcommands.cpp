// The commands of the Qwt widgets (docs/display-protocol.md, "Qwt widgets"): plots with their
// curves, markers, grid, legend and axes, scales, thermometers, knobs, counters, wheels,
// sliders and the dial family. Every argument is checked against its bounds before a widget
// is touched; a line out of bounds or for another kind of widget is refused whole.
//
// What the server sets is no user action: the handlers run with the widget's signals blocked,
// so that no slider(...) event goes back for a value the server gave.
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <QDateTime>
#include <QEvent>
#include <QSignalBlocker>
#include <qwt_compass_rose.h>
#include <qwt_dial_needle.h>
#include <qwt_legend.h>
#include <qwt_picker_machine.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_picker.h>
#include <qwt_scale_draw.h>
#include <qwt_scale_engine.h>
#include <qwt_symbol.h>
#include <memory>
#include <vector>

#include <QPointer>

#include "otcommandtable.h"
#include "otdrawstream.h"
#include "interpreter.h"
#include "myqwtwidgets.h"
#include "mywidgets.h"
#include "otinterpreter.h"
#include "otlog.h"
#include "otnumber.h"
#include "otstreams.h"
#include "tcputil.h"
#include "widgetcommands.h"

namespace otclient {

namespace {

// ---- Arguments ------------------------------------------------------------------------------

bool in(int v, int lo, int hi) {
  return v >= lo && v <= hi;
}

bool within(double v, double lo, double hi) {
  return isfinite(v) && v >= lo && v <= hi;
}

// On/off switches are 0 or 1 (the server library sends nothing else).
bool flag(const otCallLine& c, int i, bool* on) {
  int v = argInt(c, i);
  *on = v != 0;
  return v == 0 || v == 1;
}

bool colourAt(const otCallLine& c, int first, QColor* out) {
  int r = argInt(c, first), g = argInt(c, first + 1), b = argInt(c, first + 2);
  if (!in(r, 0, 255) || !in(g, 0, 255) || !in(b, 0, 255)) return false;
  *out = QColor(r, g, b);
  return true;
}

// r, g, b, width (0..100), style (0 none .. 5 dash-dot-dot, Qt's own numbering).
bool penAt(const otCallLine& c, int first, QPen* out) {
  QColor colour;
  int width = argInt(c, first + 3), style = argInt(c, first + 4);
  if (!colourAt(c, first, &colour) || !in(width, 0, 100) || !in(style, 0, 5)) return false;
  *out = QPen(colour, width, (Qt::PenStyle)style);
  return true;
}

// "family", points (1..1000), bold, italic.
bool fontAt(const otCallLine& c, int first, QFont* out) {
  int points = argInt(c, first + 1);
  if (c.textArg(first) == nullptr || !in(points, 1, 1000)) return false;
  *out = QFont(argText(c, first), points, argInt(c, first + 2) ? QFont::Bold : QFont::Normal,
               argInt(c, first + 3) != 0);
  return true;
}

bool alignmentAt(const otCallLine& c, int i, Qt::Alignment* out) {
  const int known = Qt::AlignLeft | Qt::AlignRight | Qt::AlignHCenter | Qt::AlignTop |
                    Qt::AlignBottom | Qt::AlignVCenter;
  int a = argInt(c, i);
  if (a < 0 || (a & ~known) != 0) return false;
  *out = Qt::Alignment(a);
  return true;
}

// A plot axis 0..3 (QwtPlot's own numbering: left, right, bottom, top).
bool axisAt(const otCallLine& c, int i, int* axis) {
  *axis = argInt(c, i);
  return in(*axis, 0, QwtPlot::axisCnt - 1);
}

// style (-1 none .. 14 hexagon, QwtSymbol's numbering), pen colour, brush colour, w, h. A null
// *out for style -1.
bool symbolAt(const otCallLine& c, int first, QwtSymbol** out) {
  int style = argInt(c, first), w = argInt(c, first + 7), h = argInt(c, first + 8);
  QColor penColour, brushColour;
  if (!in(style, -1, QwtSymbol::Hexagon) || !colourAt(c, first + 1, &penColour) ||
      !colourAt(c, first + 4, &brushColour) || !in(w, 1, 200) || !in(h, 1, 200))
    return false;
  *out = style < 0 ? nullptr
                   : new QwtSymbol((QwtSymbol::Style)style, QBrush(brushColour), QPen(penColour),
                                   QSize(w, h));
  return true;
}

// Scale positions 0 none, 1 left, 2 right, 3 top, 4 bottom. Qwt counts from the slider's
// leading side: right of a vertical and below a horizontal one.
template <class W>
bool scalePosition(int position, typename W::ScalePosition* out) {
  if (!in(position, 0, 4)) return false;
  *out = position == 0                      ? W::NoScale
         : (position == 2 || position == 4) ? W::LeadingScale
                                            : W::TrailingScale;
  return true;
}

bool orientationAt(const otCallLine& c, int i, Qt::Orientation* out) {
  int o = argInt(c, i);
  *out = o == 1 ? Qt::Horizontal : Qt::Vertical;
  return o == 1 || o == 2;
}

// A property that the widget had with Qwt 5 and no longer has: the line cannot be carried out,
// and the operator's log says why (whether or not refusals are traced).
int gone(const otCallLine& c, const WidgetContext& ctx, const char* what) {
  otLog(OT_LOG_WARNING, "otclient: %s(%d) refused: %s\n", c.name, ctx.id, what);
  return -1;
}

// ---- Label formats --------------------------------------------------------------------------

// The labels of a scale in a printf format of one double or, after "time:", as a date and
// time of the value in seconds since 1970.
class FormatScaleDraw : public QwtScaleDraw {
 public:
  explicit FormatScaleDraw(const QByteArray& format) : format_(format) {}

  QwtText label(double v) const override {
    if (format_.startsWith(kTime)) {
      // Past the year 9999 QDateTime gives up; so does the label.
      if (!within(v, -3e11, 2.5e11)) return QwtText();
      QDateTime t = QDateTime::fromMSecsSinceEpoch((qint64)llround(v * 1000));
      return QwtText(t.toString(QString::fromUtf8(format_.mid((int)strlen(kTime)))));
    }
    char out[256];
    // The format passed dsIsFloatFormat: one double conversion, width <= 60, precision <= 20.
    int n = otFormatWith(out, (int)sizeof out, format_.constData(), v);
    return n < 0 ? QwtText() : QwtText(QString::fromUtf8(out));
  }

  static constexpr const char* kTime = "time:";

  // 1 when the server's format may be used, with a null *draw for "" (the default labels).
  static bool make(const char* format, QwtScaleDraw** draw) {
    if (format == nullptr) return false;
    size_t n = strlen(format);
    bool time = strncmp(format, kTime, strlen(kTime)) == 0;
    if (n >= DS_FORMAT_SIZE || (n > 0 && !time && !dsIsFloatFormat(format))) return false;
    *draw = n == 0 ? nullptr : new FormatScaleDraw(QByteArray(format));
    return true;
  }

 private:
  QByteArray format_;
};

// ---- Plots ----------------------------------------------------------------------------------

QwtScaleEngine* makeEngine(bool logarithmic) {
  if (logarithmic) return new QwtLogScaleEngine();
  return new QwtLinearScaleEngine();
}

QwtPlotWidget* plotOf(QWidget* w) {
  return qobject_cast<QwtPlotWidget*>(w);
}

QwtPlotGrid* gridOf(QwtPlot* plot) {
  const QwtPlotItemList grids = plot->itemList(QwtPlotItem::Rtti_PlotGrid);
  if (!grids.isEmpty()) return static_cast<QwtPlotGrid*>(grids.first());
  auto* grid = new QwtPlotGrid();
  grid->attach(plot);  // the plot owns it
  return grid;
}

// The rubber band of the outline: a picker on the canvas, made on first use.
QwtPlotPicker* outlineOf(QwtPlot* plot) {
  auto* picker = plot->canvas()->findChild<QwtPlotPicker*>("otOutline");
  if (picker == nullptr) {
    picker = new QwtPlotPicker(QwtPlot::xBottom, QwtPlot::yLeft, QwtPicker::RectRubberBand,
                               QwtPicker::AlwaysOff, plot->canvas());
    picker->setObjectName("otOutline");
    picker->setStateMachine(new QwtPickerDragRectMachine());
    picker->setEnabled(false);
  }
  return picker;
}

// The legend is made anew for each position; its frame style is kept on the plot.
void showLegend(QwtPlot* plot, bool on) {
  if (!on) {
    plot->insertLegend(nullptr);
    return;
  }
  auto* legend = new QwtLegend();
  QVariant frame = plot->property("otLegendFrame");
  if (frame.isValid()) legend->setFrameStyle(frame.toInt());
  QVariant pos = plot->property("otLegendPos");
  plot->insertLegend(legend,
                     pos.isValid() ? (QwtPlot::LegendPosition)pos.toInt() : QwtPlot::RightLegend);
}

// The points of a curve as one block that follows the line: n x values, then n y values,
// each an IEEE double of 8 bytes, most significant byte first.
int applyCurveBlock(QwtPlotWidget* plot, int curve, int n,
                    const std::vector<unsigned char>& block) {
  if (plot == nullptr || (long long)block.size() != 16LL * n) return -1;
  std::vector<double> x((size_t)n), y((size_t)n);
  for (int i = 0; i < 2 * n; i++) {
    uint64_t bits = 0;
    for (int b = 0; b < 8; b++)
      bits = (bits << 8) | block[(size_t)i * 8 + (size_t)b];
    double v;
    memcpy(&v, &bits, sizeof v);
    if (!isfinite(v)) return -1;
    (i < n ? x[(size_t)i] : y[(size_t)(i - n)]) = v;
  }
  return plot->setCurveData(curve, x.data(), y.data(), n);
}

int bufferedCurveData(QWidget* w, const otCallLine& c, WidgetContext& ctx) {
  int curve = argInt(c, 1), n = argInt(c, 2);
  if (n < 0) return -1;
  if (n > maxPlotPoints) {
    // Taken and dropped (the stream limit of the connection bounds it), never stored.
    ctx.interpreter->startStream(
        std::unique_ptr<otStreamConsumer>(new otBlockStream(16LL * n, nullptr, nullptr)));
    return -1;
  }
  auto block = std::make_shared<std::vector<unsigned char>>();
  block->reserve((size_t)n * 16);
  QPointer<QwtPlotWidget> plot(plotOf(w));
  QPointer<otClientInterpreter> in(ctx.interpreter);
  const int id = ctx.id;
  auto part = [block](const char* data, int len) { block->insert(block->end(), data, data + len); };
  const bool isPlot = plot != nullptr;  // else the line is refused at once
  auto done = [block, plot, in, curve, n, id, isPlot](bool complete) {
    if (!complete || in == nullptr || !isPlot) return;
    if (applyCurveBlock(plot.data(), curve, n, *block) < 0)
      in->refuse("qpwSetBufferedCurveData: refused for widget %d\n", id);
  };
  if (!ctx.interpreter->startStream(
          std::unique_ptr<otStreamConsumer>(new otBlockStream(16LL * n, part, done))))
    return -1;
  // Without its widget the block is taken all the same, and the line refused.
  return w == nullptr || plot == nullptr ? -1 : 0;
}

int plotTitle(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  if (plot == nullptr) return -1;
  plot->setTitle(argText(c, 1));
  return 0;
}

int plotCanvasBackground(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  QColor colour;
  if (plot == nullptr || !colourAt(c, 1, &colour)) return -1;
  plot->setCanvasBackground(QBrush(colour));
  return 0;
}

int plotEnableOutline(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  bool on;
  if (plot == nullptr || !flag(c, 1, &on)) return -1;
  outlineOf(plot)->setEnabled(on);
  return 0;
}

int plotOutlinePen(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  QPen pen;
  if (plot == nullptr || !penAt(c, 1, &pen)) return -1;
  outlineOf(plot)->setRubberBandPen(pen);
  return 0;
}

int plotAutoLegend(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  bool on;
  if (plot == nullptr || !flag(c, 1, &on)) return -1;
  plot->setAutoLegend(on);
  return 0;
}

int plotEnableLegend(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  bool on;
  if (plot == nullptr || !flag(c, 1, &on)) return -1;
  showLegend(plot, on);
  return 0;
}

int plotLegendPos(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  int pos = argInt(c, 1);
  if (plot == nullptr || !in(pos, QwtPlot::LeftLegend, QwtPlot::TopLegend)) return -1;
  plot->setProperty("otLegendPos", pos);
  if (plot->legend() != nullptr) showLegend(plot, true);
  return 0;
}

int plotLegendFrameStyle(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  int style = argInt(c, 1), shape = style & QFrame::Shape_Mask,
      shadow = style & ~QFrame::Shape_Mask;
  if (plot == nullptr || style < 0 || shape > QFrame::StyledPanel ||
      (shadow != 0 && shadow != QFrame::Plain && shadow != QFrame::Raised &&
       shadow != QFrame::Sunken))
    return -1;
  plot->setProperty("otLegendFrame", style);
  if (auto* legend = qobject_cast<QFrame*>(plot->legend())) legend->setFrameStyle(style);
  return 0;
}

int plotGridXMin(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  bool on;
  if (plot == nullptr || !flag(c, 1, &on)) return -1;
  gridOf(plot)->enableXMin(on);
  return 0;
}

int plotGridMajPen(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  QPen pen;
  if (plot == nullptr || !penAt(c, 1, &pen)) return -1;
  gridOf(plot)->setMajorPen(pen);
  return 0;
}

int plotGridMinPen(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  QPen pen;
  if (plot == nullptr || !penAt(c, 1, &pen)) return -1;
  gridOf(plot)->setMinorPen(pen);
  return 0;
}

int plotEnableAxis(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  int axis;
  bool on;
  if (plot == nullptr || !axisAt(c, 1, &axis) || !flag(c, 2, &on)) return -1;
  plot->enableAxis(axis, on);
  return 0;
}

int plotAxisTitle(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  int axis;
  if (plot == nullptr || !axisAt(c, 1, &axis)) return -1;
  plot->setAxisTitle(axis, argText(c, 2));
  return 0;
}

// 1 include the reference value, 2 symmetric, 4 floating, 8 logarithmic, 16 inverted.
int plotAxisOptions(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  int axis, options = argInt(c, 2);
  if (plot == nullptr || !axisAt(c, 1, &axis) || !in(options, 0, 31)) return -1;
  QwtScaleEngine* engine = makeEngine((options & 8) != 0);
  QwtScaleEngine::Attributes attributes;
  if (options & 1) attributes |= QwtScaleEngine::IncludeReference;
  if (options & 2) attributes |= QwtScaleEngine::Symmetric;
  if (options & 4) attributes |= QwtScaleEngine::Floating;
  if (options & 16) attributes |= QwtScaleEngine::Inverted;
  engine->setAttributes(attributes);
  plot->setAxisScaleEngine(axis, engine);
  return 0;
}

int plotAxisMaxMajor(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  int axis, n = argInt(c, 2);
  if (plot == nullptr || !axisAt(c, 1, &axis) || !in(n, 1, 1000)) return -1;
  plot->setAxisMaxMajor(axis, n);
  return 0;
}

int plotAxisMaxMinor(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  int axis, n = argInt(c, 2);
  if (plot == nullptr || !axisAt(c, 1, &axis) || !in(n, 0, 100)) return -1;
  plot->setAxisMaxMinor(axis, n);
  return 0;
}

int plotAxisScaleDraw(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  int axis;
  QwtScaleDraw* draw = nullptr;
  if (plot == nullptr || !axisAt(c, 1, &axis) || !FormatScaleDraw::make(c.textArg(2), &draw))
    return -1;
  plot->setAxisScaleDraw(axis, draw != nullptr ? draw : new QwtScaleDraw());
  return 0;
}

int plotAxisScale(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  int axis;
  double min = argFloat(c, 2), max = argFloat(c, 3), step = argFloat(c, 4);
  if (plot == nullptr || !axisAt(c, 1, &axis) || !isfinite(min) || !isfinite(max) ||
      !within(step, 0, HUGE_VAL))
    return -1;
  // A step that makes more ticks than an axis can label is left to the plot.
  if (step > 0 && fabs(max - min) / step > 1000) step = 0;
  plot->setAxisScale(axis, min, max, step);
  return 0;
}

int curveRemove(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  return plot == nullptr ? -1 : plot->removeCurve(argInt(c, 1));
}

int curvePen(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  QPen pen;
  QwtPlotCurve* curve = plot ? plot->curve(argInt(c, 1)) : nullptr;
  if (curve == nullptr || !penAt(c, 2, &pen)) return -1;
  curve->setPen(pen);
  return 0;
}

int curveSymbol(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  QwtSymbol* symbol = nullptr;
  QwtPlotCurve* curve = plot ? plot->curve(argInt(c, 1)) : nullptr;
  if (curve == nullptr || !symbolAt(c, 2, &symbol)) return -1;
  curve->setSymbol(symbol);
  return 0;
}

int curveYAxis(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* plot = plotOf(w);
  int axis = argInt(c, 2);
  QwtPlotCurve* curve = plot ? plot->curve(argInt(c, 1)) : nullptr;
  if (curve == nullptr || !in(axis, QwtPlot::yLeft, QwtPlot::yRight)) return -1;
  curve->setYAxis(axis);
  return 0;
}

QwtPlotMarker* markerOf(QWidget* w, const otCallLine& c) {
  auto* plot = plotOf(w);
  return plot ? plot->marker(argInt(c, 1)) : nullptr;
}

int markerInsert(QWidget* w, const otCallLine& c, WidgetContext&) {
  return markerOf(w, c) ? 0 : -1;
}

int markerLineStyle(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtPlotMarker* m = markerOf(w, c);
  int style = argInt(c, 2);
  if (m == nullptr || !in(style, QwtPlotMarker::NoLine, QwtPlotMarker::Cross)) return -1;
  m->setLineStyle((QwtPlotMarker::LineStyle)style);
  return 0;
}

int markerPos(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtPlotMarker* m = markerOf(w, c);
  double x = argFloat(c, 2), y = argFloat(c, 3);
  if (m == nullptr || !isfinite(x) || !isfinite(y)) return -1;
  m->setValue(x, y);
  return 0;
}

int markerLabelAlign(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtPlotMarker* m = markerOf(w, c);
  Qt::Alignment a;
  if (m == nullptr || !alignmentAt(c, 2, &a)) return -1;
  m->setLabelAlignment(a);
  return 0;
}

int markerPen(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtPlotMarker* m = markerOf(w, c);
  QPen pen;
  if (m == nullptr || !penAt(c, 2, &pen)) return -1;
  m->setLinePen(pen);
  return 0;
}

int markerLabel(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtPlotMarker* m = markerOf(w, c);
  if (m == nullptr) return -1;
  QwtText label = m->label();  // keeps its font
  label.setText(argText(c, 2));
  m->setLabel(label);
  return 0;
}

int markerFont(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtPlotMarker* m = markerOf(w, c);
  QFont font;
  if (m == nullptr || !fontAt(c, 2, &font)) return -1;
  QwtText label = m->label();
  label.setFont(font);
  m->setLabel(label);
  return 0;
}

int markerSymbol(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtPlotMarker* m = markerOf(w, c);
  QwtSymbol* symbol = nullptr;
  if (m == nullptr || !symbolAt(c, 2, &symbol)) return -1;
  m->setSymbol(symbol);
  return 0;
}

int lineMarker(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtPlotMarker* m = markerOf(w, c);
  int axis;
  if (m == nullptr || !axisAt(c, 3, &axis)) return -1;
  QwtText label = m->label();
  label.setText(argText(c, 2));
  m->setLabel(label);
  if (axis == QwtPlot::yLeft || axis == QwtPlot::yRight) {
    m->setLineStyle(QwtPlotMarker::HLine);
    m->setYAxis(axis);
  } else {
    m->setLineStyle(QwtPlotMarker::VLine);
    m->setXAxis(axis);
  }
  return 0;
}

// ---- Scales ---------------------------------------------------------------------------------

QwtScaleWidget* scaleOf(QWidget* w) {
  return qobject_cast<MyQwtScale*>(w);
}

int scaleTitle(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtScaleWidget* s = scaleOf(w);
  if (s == nullptr) return -1;
  QwtText t = s->title();  // keeps colour, font and alignment
  t.setText(argText(c, 1));
  s->setTitle(t);
  return 0;
}

int scaleTitleColour(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtScaleWidget* s = scaleOf(w);
  QColor colour;
  if (s == nullptr || !colourAt(c, 1, &colour)) return -1;
  QwtText t = s->title();
  t.setColor(colour);
  s->setTitle(t);
  return 0;
}

int scaleTitleFont(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtScaleWidget* s = scaleOf(w);
  QFont font;
  if (s == nullptr || !fontAt(c, 1, &font)) return -1;
  QwtText t = s->title();
  t.setFont(font);
  s->setTitle(t);
  return 0;
}

int scaleTitleAlignment(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtScaleWidget* s = scaleOf(w);
  Qt::Alignment a;
  if (s == nullptr || !alignmentAt(c, 1, &a)) return -1;
  QwtText t = s->title();
  t.setRenderFlags((int)a);
  s->setTitle(t);
  return 0;
}

int scaleBorderDist(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtScaleWidget* s = scaleOf(w);
  int start = argInt(c, 1), end = argInt(c, 2);
  if (s == nullptr || !in(start, 0, 1000) || !in(end, 0, 1000)) return -1;
  s->setBorderDist(start, end);
  return 0;
}

int scaleBaselineDist(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtScaleWidget* s = scaleOf(w);
  int d = argInt(c, 1);
  if (s == nullptr || !in(d, 0, 1000)) return -1;
  s->setMargin(d);
  return 0;
}

int scaleDiv(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtScaleWidget* s = scaleOf(w);
  double min = argFloat(c, 1), max = argFloat(c, 2), step = argFloat(c, 5);
  int major = argInt(c, 3), minor = argInt(c, 4);
  if (s == nullptr || !isfinite(min) || !isfinite(max) || !in(major, 1, 1000) ||
      !in(minor, 0, 100) || !within(step, 0, HUGE_VAL))
    return -1;
  if (step > 0 && fabs(max - min) / step > 1000) step = 0;
  s->setScaleDiv(QwtLinearScaleEngine().divideScale(min, max, major, minor, step));
  return 0;
}

int scaleLabelFormat(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtScaleWidget* s = scaleOf(w);
  QwtScaleDraw* draw = nullptr;
  if (s == nullptr || !FormatScaleDraw::make(c.textArg(1), &draw)) return -1;
  if (draw == nullptr) draw = new QwtScaleDraw();
  // A new scale draw starts from defaults: it takes over what the old one was given.
  const QwtScaleDraw* old = s->scaleDraw();
  draw->setAlignment(old->alignment());
  draw->setLabelAlignment(old->labelAlignment());
  draw->setLabelRotation(old->labelRotation());
  draw->setScaleDiv(old->scaleDiv());
  s->setScaleDraw(draw);
  return 0;
}

int scaleLabelAlignment(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtScaleWidget* s = scaleOf(w);
  Qt::Alignment a;
  if (s == nullptr || !alignmentAt(c, 1, &a)) return -1;
  s->setLabelAlignment(a);
  return 0;
}

int scaleLabelRotation(QWidget* w, const otCallLine& c, WidgetContext&) {
  QwtScaleWidget* s = scaleOf(w);
  double degrees = argFloat(c, 1);
  if (s == nullptr || !within(degrees, -360, 360)) return -1;
  s->setLabelRotation(degrees);
  return 0;
}

int scalePositionOf(QWidget* w, const otCallLine& c, WidgetContext&) {
  static const QwtScaleDraw::Alignment kSide[] = {QwtScaleDraw::LeftScale, QwtScaleDraw::RightScale,
                                                  QwtScaleDraw::TopScale,
                                                  QwtScaleDraw::BottomScale};
  QwtScaleWidget* s = scaleOf(w);
  int pos = argInt(c, 1);
  if (s == nullptr || !in(pos, 0, 3)) return -1;
  s->setAlignment(kSide[pos]);
  return 0;
}

// Qwt keeps the handle's size in screen terms (width, height), and an empty size stands for
// its default: the length along and the width across the slider are kept apart, and the size
// is set anew when the orientation or the trough changes.
void applyHandle(QwtSlider* slider) {
  QVariant along = slider->property("otThumbLength"), across = slider->property("otThumbWidth");
  if (!along.isValid() && !across.isValid()) return;
  // Qwt's default handle: 32 x 16 along a trough, 16 x 32 without one.
  const int thickness = 16;
  int a = along.isValid() ? along.toInt() : (slider->hasTrough() ? 2 * thickness : thickness);
  int c = across.isValid() ? across.toInt() : (slider->hasTrough() ? thickness : 2 * thickness);
  slider->setHandleSize(slider->orientation() == Qt::Horizontal ? QSize(a, c) : QSize(c, a));
}

// ---- Lines shared by several kinds ----------------------------------------------------------

// Scale and range of a knob, slider, thermometer or dial (any QwtAbstractScale); without the
// logarithm also of counters, wheels and scales, as setRange.
int anyScale(QWidget* w, const otCallLine& c, WidgetContext&) {
  double min = argFloat(c, 1), max = argFloat(c, 2), step = argFloat(c, 3);
  bool logarithmic;
  if (!flag(c, 4, &logarithmic) || !within(step, 0, HUGE_VAL) ||
      (logarithmic && !(min > 0 && max > 0)))
    return -1;
  auto* scale = qobject_cast<QwtAbstractScale*>(w);
  if (logarithmic && scale == nullptr) return -1;
  if (scale != nullptr) scale->setScaleEngine(makeEngine(logarithmic));
  return mySetRange(w, min, max, logarithmic ? 0 : step);
}

int anyMass(QWidget* w, const otCallLine& c, WidgetContext& ctx) {
  double mass = argFloat(c, 1);
  if (!within(mass, 0, 100)) return -1;
  if (auto* wheel = qobject_cast<QwtWheel*>(w)) {
    wheel->setMass(mass);
    return 0;
  }
  if (qobject_cast<QwtAbstractSlider*>(w))
    return gone(c, ctx, "with Qwt 6 only a wheel has a mass (knobs, sliders and dials have none)");
  return -1;
}

int anyOrientation(QWidget* w, const otCallLine& c, WidgetContext& ctx) {
  Qt::Orientation o;
  if (!orientationAt(c, 1, &o)) return -1;
  if (auto* wheel = qobject_cast<QwtWheel*>(w)) {
    wheel->setOrientation(o);
  } else if (auto* slider = qobject_cast<QwtSlider*>(w)) {
    slider->setOrientation(o);
    applyHandle(slider);
  } else if (auto* thermo = qobject_cast<QwtThermo*>(w)) {
    thermo->setOrientation(o);
  } else if (qobject_cast<QwtKnob*>(w)) {
    return gone(c, ctx, "a knob has no orientation with Qwt 6");
  } else {
    return -1;
  }
  return 0;
}

// Swallows the operator's input to a widget that has no read-only switch of its own (a wheel).
class ReadOnlyFilter : public QObject {
 public:
  explicit ReadOnlyFilter(QObject* parent) : QObject(parent) { setObjectName(kName); }
  static constexpr const char* kName = "otReadOnly";

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    switch (e->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
        return true;
      default:
        return false;
    }
  }
};

int anyReadOnly(QWidget* w, const otCallLine& c, WidgetContext&) {
  bool on;
  if (!flag(c, 1, &on)) return -1;
  if (auto* slider = qobject_cast<QwtAbstractSlider*>(w)) {
    slider->setReadOnly(on);
  } else if (auto* counter = qobject_cast<QwtCounter*>(w)) {
    counter->setReadOnly(on);
  } else if (qobject_cast<QwtWheel*>(w)) {
    QObject* filter = w->findChild<QObject*>(ReadOnlyFilter::kName, Qt::FindDirectChildrenOnly);
    if (on && filter == nullptr) {
      w->installEventFilter(new ReadOnlyFilter(w));
    } else if (!on) {
      delete filter;  // takes itself off the widget's filters
    }
  } else {
    return -1;
  }
  return 0;
}

int anyBorderWidth(QWidget* w, const otCallLine& c, WidgetContext&) {
  int width = argInt(c, 1);
  if (!in(width, 0, 100)) return -1;
  if (auto* thermo = qobject_cast<QwtThermo*>(w)) {
    thermo->setBorderWidth(width);
  } else if (auto* knob = qobject_cast<QwtKnob*>(w)) {
    knob->setBorderWidth(width);
  } else if (auto* slider = qobject_cast<QwtSlider*>(w)) {
    slider->setBorderWidth(width);
  } else if (auto* wheel = qobject_cast<QwtWheel*>(w)) {
    wheel->setBorderWidth(width);
  } else {
    return -1;
  }
  return 0;
}

int anyTotalAngle(QWidget* w, const otCallLine& c, WidgetContext&) {
  double angle = argFloat(c, 1);
  if (!within(angle, 10, 3600)) return -1;
  if (auto* knob = qobject_cast<QwtKnob*>(w)) {
    knob->setTotalAngle(angle);
  } else if (auto* wheel = qobject_cast<QwtWheel*>(w)) {
    wheel->setTotalAngle(angle);
  } else {
    return -1;
  }
  return 0;
}

int anyWrapping(QWidget* w, const otCallLine& c, WidgetContext&) {
  bool on;
  if (!flag(c, 1, &on)) return -1;
  if (auto* slider = qobject_cast<QwtAbstractSlider*>(w)) {
    slider->setWrapping(on);
  } else if (auto* counter = qobject_cast<QwtCounter*>(w)) {
    counter->setWrapping(on);
  } else if (auto* wheel = qobject_cast<QwtWheel*>(w)) {
    wheel->setWrapping(on);
  } else {
    return -1;
  }
  return 0;
}

// ---- Thermometers ---------------------------------------------------------------------------

int thermoOrientation(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* thermo = qobject_cast<QwtThermo*>(w);
  Qt::Orientation o;
  QwtThermo::ScalePosition pos;
  if (thermo == nullptr || !orientationAt(c, 1, &o) ||
      !scalePosition<QwtThermo>(argInt(c, 2), &pos))
    return -1;
  thermo->setOrientation(o);
  thermo->setScalePosition(pos);
  return 0;
}

int thermoFillColour(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* thermo = qobject_cast<QwtThermo*>(w);
  QColor colour;
  if (thermo == nullptr || !colourAt(c, 1, &colour)) return -1;
  thermo->setFillBrush(QBrush(colour));
  return 0;
}

int thermoAlarmColour(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* thermo = qobject_cast<QwtThermo*>(w);
  QColor colour;
  if (thermo == nullptr || !colourAt(c, 1, &colour)) return -1;
  thermo->setAlarmBrush(QBrush(colour));
  return 0;
}

int thermoAlarmLevel(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* thermo = qobject_cast<QwtThermo*>(w);
  double level = argFloat(c, 1);
  if (thermo == nullptr || !isfinite(level)) return -1;
  thermo->setAlarmLevel(level);
  return 0;
}

int thermoAlarmEnabled(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* thermo = qobject_cast<QwtThermo*>(w);
  bool on;
  if (thermo == nullptr || !flag(c, 1, &on)) return -1;
  thermo->setAlarmEnabled(on);
  return 0;
}

int thermoPipeWidth(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* thermo = qobject_cast<QwtThermo*>(w);
  int width = argInt(c, 1);
  if (thermo == nullptr || !in(width, 1, 1000)) return -1;
  thermo->setPipeWidth(width);
  return 0;
}

// Qwt 6 lays the pipe and its scale out in the contents rectangle: the margin is that of the
// widget's contents.
int thermoMargin(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* thermo = qobject_cast<QwtThermo*>(w);
  int m = argInt(c, 1);
  if (thermo == nullptr || !in(m, 0, 1000)) return -1;
  thermo->setContentsMargins(m, m, m, m);
  return 0;
}

// ---- Knobs ----------------------------------------------------------------------------------

int knobWidth(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* knob = qobject_cast<QwtKnob*>(w);
  int width = argInt(c, 1);
  if (knob == nullptr || !in(width, 0, 1000)) return -1;
  knob->setKnobWidth(width);
  return 0;
}

int knobSymbol(QWidget* w, const otCallLine& c, WidgetContext&) {
  static const QwtKnob::MarkerStyle kMarker[] = {QwtKnob::Tick, QwtKnob::Dot,   QwtKnob::Triangle,
                                                 QwtKnob::Nub,  QwtKnob::Notch, QwtKnob::NoMarker};
  auto* knob = qobject_cast<QwtKnob*>(w);
  int symbol = argInt(c, 1);
  if (knob == nullptr || !in(symbol, 0, 5)) return -1;
  knob->setMarkerStyle(kMarker[symbol]);
  return 0;
}

// ---- Counters -------------------------------------------------------------------------------

int counterStep(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* counter = qobject_cast<QwtCounter*>(w);
  double step = argFloat(c, 1);
  if (counter == nullptr || !within(step, 0, HUGE_VAL) || step == 0) return -1;
  counter->setSingleStep(step);
  return 0;
}

int counterMin(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* counter = qobject_cast<QwtCounter*>(w);
  double v = argFloat(c, 1);
  if (counter == nullptr || !isfinite(v)) return -1;
  counter->setMinimum(v);
  return 0;
}

int counterMax(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* counter = qobject_cast<QwtCounter*>(w);
  double v = argFloat(c, 1);
  if (counter == nullptr || !isfinite(v)) return -1;
  counter->setMaximum(v);
  return 0;
}

int counterIncSteps(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* counter = qobject_cast<QwtCounter*>(w);
  int button = argInt(c, 1), steps = argInt(c, 2);
  if (counter == nullptr || !in(button, 1, QwtCounter::ButtonCnt) || !in(steps, 0, 10000))
    return -1;
  counter->setIncSteps((QwtCounter::Button)(button - 1), steps);
  return 0;
}

int counterNumButtons(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* counter = qobject_cast<QwtCounter*>(w);
  int n = argInt(c, 1);
  if (counter == nullptr || !in(n, 0, QwtCounter::ButtonCnt)) return -1;
  counter->setNumButtons(n);
  return 0;
}

// ---- Wheels ---------------------------------------------------------------------------------

int wheelTickCount(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* wheel = qobject_cast<QwtWheel*>(w);
  int n = argInt(c, 1);
  if (wheel == nullptr || !in(n, 1, 1000)) return -1;
  wheel->setTickCount(n);
  return 0;
}

int wheelViewAngle(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* wheel = qobject_cast<QwtWheel*>(w);
  double angle = argFloat(c, 1);
  if (wheel == nullptr || !within(angle, 10, 175)) return -1;
  wheel->setViewAngle(angle);
  return 0;
}

int wheelInternalBorder(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* wheel = qobject_cast<QwtWheel*>(w);
  int width = argInt(c, 1);
  if (wheel == nullptr || !in(width, 1, 100)) return -1;
  wheel->setWheelBorderWidth(width);
  return 0;
}

int wheelWidth(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* wheel = qobject_cast<QwtWheel*>(w);
  int width = argInt(c, 1);
  if (wheel == nullptr || !in(width, 1, 1000)) return -1;
  wheel->setWheelWidth(width);
  return 0;
}

// ---- Sliders --------------------------------------------------------------------------------

int sliderBgStyle(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* slider = qobject_cast<QwtSlider*>(w);
  int style = argInt(c, 1);
  if (slider == nullptr || !in(style, 0, 3)) return -1;
  slider->setTrough((style & 1) != 0);
  slider->setGroove((style & 2) != 0);
  applyHandle(slider);
  return 0;
}

int sliderScalePos(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* slider = qobject_cast<QwtSlider*>(w);
  QwtSlider::ScalePosition pos;
  if (slider == nullptr || !scalePosition<QwtSlider>(argInt(c, 1), &pos)) return -1;
  slider->setScalePosition(pos);
  return 0;
}

int sliderThumb(QWidget* w, const otCallLine& c, const char* property) {
  auto* slider = qobject_cast<QwtSlider*>(w);
  int n = argInt(c, 1);
  if (slider == nullptr || !in(n, 4, 1000)) return -1;
  slider->setProperty(property, n);
  applyHandle(slider);
  return 0;
}

int sliderThumbLength(QWidget* w, const otCallLine& c, WidgetContext&) {
  return sliderThumb(w, c, "otThumbLength");
}

int sliderThumbWidth(QWidget* w, const otCallLine& c, WidgetContext&) {
  return sliderThumb(w, c, "otThumbWidth");
}

// As the thermometer's margin: Qwt 6 lays the slider out in its contents rectangle.
int sliderMargins(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* slider = qobject_cast<QwtSlider*>(w);
  int x = argInt(c, 1), y = argInt(c, 2);
  if (slider == nullptr || !in(x, 0, 1000) || !in(y, 0, 1000)) return -1;
  slider->setContentsMargins(x, y, x, y);
  return 0;
}

// ---- Compasses, dials and analog clocks -----------------------------------------------------

int compassRose(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* compass = qobject_cast<QwtCompass*>(w);
  int thorns = argInt(c, 1), levels = argInt(c, 2);
  double width = argFloat(c, 3);
  if (compass == nullptr || !in(thorns, 4, 360) || !(levels == -1 || in(levels, 1, 32)) ||
      !within(width, 0.03, 0.4))
    return -1;
  auto* rose = new QwtSimpleCompassRose(thorns, levels);
  rose->setWidth(width);
  compass->setRose(rose);
  return 0;
}

int dialShowBackground(QWidget* w, const otCallLine& c, WidgetContext& ctx) {
  if (qobject_cast<QwtDial*>(w) == nullptr || !in(argInt(c, 1), 0, 1)) return -1;
  return gone(c, ctx, "a dial has no background switch with Qwt 6");
}

int dialFrameShadow(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* dial = qobject_cast<QwtDial*>(w);
  int shadow = argInt(c, 1);
  if (dial == nullptr ||
      (shadow != QwtDial::Plain && shadow != QwtDial::Raised && shadow != QwtDial::Sunken))
    return -1;
  dial->setFrameShadow((QwtDial::Shadow)shadow);
  return 0;
}

int dialLineWidth(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* dial = qobject_cast<QwtDial*>(w);
  int width = argInt(c, 1);
  if (dial == nullptr || !in(width, 0, 100)) return -1;
  dial->setLineWidth(width);
  return 0;
}

int dialMode(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* dial = qobject_cast<QwtDial*>(w);
  int mode = argInt(c, 1);
  if (dial == nullptr || !in(mode, QwtDial::RotateNeedle, QwtDial::RotateScale)) return -1;
  dial->setMode((QwtDial::Mode)mode);
  return 0;
}

int dialScale(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* dial = qobject_cast<QwtDial*>(w);
  int major = argInt(c, 1), minor = argInt(c, 2);
  double step = argFloat(c, 3);
  if (dial == nullptr || !in(major, 1, 1000) || !in(minor, 0, 100) || !within(step, 0, HUGE_VAL))
    return -1;
  // Past so many ticks the scale's labels run into each other: the dial picks the step.
  if (step > 0 && fabs(dial->maximum() - dial->minimum()) / step > 1000) step = 0;
  dial->setScaleMaxMajor(major);
  dial->setScaleMaxMinor(minor);
  dial->setScaleStepSize(step);
  return 0;
}

int dialScaleArc(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* dial = qobject_cast<QwtDial*>(w);
  double min = argFloat(c, 1), max = argFloat(c, 2);
  if (dial == nullptr || !within(min, -360, 360) || !within(max, -360, 360)) return -1;
  dial->setScaleArc(min, max);
  return 0;
}

int dialOrigin(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* dial = qobject_cast<QwtDial*>(w);
  double angle = argFloat(c, 1);
  if (dial == nullptr || !within(angle, -360, 360)) return -1;
  dial->setOrigin(angle);
  return 0;
}

QwtDialNeedle* makeNeedle(int kind, const QColor& a, const QColor& b) {
  switch (kind) {
    case 1:
      return new QwtDialSimpleNeedle(QwtDialSimpleNeedle::Ray, true, a, b);
    case 2:
      return new QwtDialSimpleNeedle(QwtDialSimpleNeedle::Arrow, true, a, b);
    case 3:
      return new QwtCompassMagnetNeedle(QwtCompassMagnetNeedle::TriangleStyle, a, b);
    case 4:
      return new QwtCompassMagnetNeedle(QwtCompassMagnetNeedle::ThinStyle, a, b);
    case 5:
      return new QwtCompassWindArrow(QwtCompassWindArrow::Style1, a, b);
    default:
      return new QwtCompassWindArrow(QwtCompassWindArrow::Style2, a, b);
  }
}

int dialNeedle(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* dial = qobject_cast<QwtDial*>(w);
  int kind = argInt(c, 1);
  QColor a, b;
  if (dial == nullptr || !in(kind, 1, 6) || !colourAt(c, 2, &a) || !colourAt(c, 5, &b)) return -1;
  if (auto* clock = qobject_cast<QwtAnalogClock*>(w)) {
    for (int hand = 0; hand < QwtAnalogClock::NHands; hand++)
      clock->setHand((QwtAnalogClock::Hand)hand, makeNeedle(kind, a, b));
  } else {
    dial->setNeedle(makeNeedle(kind, a, b));
  }
  return 0;
}

int clockTime(QWidget* w, const otCallLine& c, WidgetContext&) {
  auto* clock = qobject_cast<QwtAnalogClock*>(w);
  int h = argInt(c, 1), m = argInt(c, 2), s = argInt(c, 3);
  if (clock == nullptr || !in(h, 0, 23) || !in(m, 0, 59) || !in(s, 0, 59)) return -1;
  clock->setTime(QTime(h, m, s));
  return 0;
}

// ---- The table ------------------------------------------------------------------------------

// A plot reports nothing to the server, and its signals carry Qwt's own wiring (the legend
// follows its items through them): those stay on.
template <int (*F)(QWidget*, const otCallLine&, WidgetContext&)>
int quiet(QWidget* w, const otCallLine& c, WidgetContext& ctx) {
  QSignalBlocker blocker(qobject_cast<QwtPlot*>(w) ? nullptr : w);
  return F(w, c, ctx);
}

#define Q(name, signature, handler) \
  { name, signature, quiet<handler>, 0 }

const WidgetCommand table[] = {
    {"qpwSetBufferedCurveData", "iii", bufferedCurveData, WIDGET_READS_DATA},
    Q("qpwSetTitle", "is", plotTitle),
    Q("qpwSetCanvasBackground", "iiii", plotCanvasBackground),
    Q("qpwEnableOutline", "ii", plotEnableOutline),
    Q("qpwSetOutlinePen", "iiiiii", plotOutlinePen),
    Q("qpwSetAutoLegend", "ii", plotAutoLegend),
    Q("qpwEnableLegend", "ii", plotEnableLegend),
    Q("qpwSetLegendPos", "ii", plotLegendPos),
    Q("qpwSetLegendFrameStyle", "ii", plotLegendFrameStyle),
    Q("qpwEnableGridXMin", "ii", plotGridXMin),
    Q("qpwSetGridMajPen", "iiiiii", plotGridMajPen),
    Q("qpwSetGridMinPen", "iiiiii", plotGridMinPen),
    Q("qpwEnableAxis", "iii", plotEnableAxis),
    Q("qpwSetAxisTitle", "iis", plotAxisTitle),
    Q("qpwSetAxisOptions", "iii", plotAxisOptions),
    Q("qpwSetAxisMaxMajor", "iii", plotAxisMaxMajor),
    Q("qpwSetAxisMaxMinor", "iii", plotAxisMaxMinor),
    Q("qpwRemoveCurve", "ii", curveRemove),
    Q("qpwSetCurvePen", "iiiiiii", curvePen),
    Q("qpwSetCurveSymbol", "iiiiiiiiiii", curveSymbol),
    Q("qpwSetCurveYAxis", "iii", curveYAxis),
    Q("qpwInsertMarker", "ii", markerInsert),
    Q("qpwSetMarkerLineStyle", "iii", markerLineStyle),
    Q("qpwSetMarkerPos", "iiff", markerPos),
    Q("qpwSetMarkerLabelAlign", "iii", markerLabelAlign),
    Q("qpwSetMarkerPen", "iiiiiii", markerPen),
    Q("qpwSetMarkerLabel", "iis", markerLabel),
    Q("qpwSetMarkerFont", "iisiii", markerFont),
    Q("qpwSetMarkerSymbol", "iiiiiiiiiii", markerSymbol),
    Q("qpwInsertLineMarker", "iisi", lineMarker),
    Q("qpwSetAxisScaleDraw", "iis", plotAxisScaleDraw),
    Q("qpwSetAxisScale", "iifff", plotAxisScale),
    Q("qwtScaleSetTitle", "is", scaleTitle),
    Q("qwtScaleSetTitleColor", "iiii", scaleTitleColour),
    Q("qwtScaleSetTitleFont", "isiii", scaleTitleFont),
    Q("qwtScaleSetTitleAlignment", "ii", scaleTitleAlignment),
    Q("qwtScaleSetBorderDist", "iii", scaleBorderDist),
    Q("qwtScaleSetBaselineDist", "ii", scaleBaselineDist),
    Q("qwtScaleSetScaleDiv", "iffiif", scaleDiv),
    Q("qwtScaleSetLabelFormat", "is", scaleLabelFormat),
    Q("qwtScaleSetLabelAlignment", "ii", scaleLabelAlignment),
    Q("qwtScaleSetLabelRotation", "if", scaleLabelRotation),
    Q("qwtScaleSetPosition", "ii", scalePositionOf),
    Q("qwtSetScale", "ifffi", anyScale),
    Q("qwtSetMass", "if", anyMass),
    Q("qwtSetOrientation", "ii", anyOrientation),
    Q("qwtSetReadOnly", "ii", anyReadOnly),
    Q("qwtSetBorderWidth", "ii", anyBorderWidth),
    Q("qwtSetTotalAngle", "if", anyTotalAngle),
    Q("qwtSetWrapping", "ii", anyWrapping),
    Q("qwtThermoSetOrientation", "iii", thermoOrientation),
    Q("qwtThermoSetFillColor", "iiii", thermoFillColour),
    Q("qwtThermoSetAlarmColor", "iiii", thermoAlarmColour),
    Q("qwtThermoSetAlarmLevel", "if", thermoAlarmLevel),
    Q("qwtThermoSetAlarmEnabled", "ii", thermoAlarmEnabled),
    Q("qwtThermoSetPipeWidth", "ii", thermoPipeWidth),
    Q("qwtThermoSetMargin", "ii", thermoMargin),
    Q("qwtKnobSetKnobWidth", "ii", knobWidth),
    Q("qwtKnobSetSymbol", "ii", knobSymbol),
    Q("qwtCounterSetStep", "if", counterStep),
    Q("qwtCounterSetMinValue", "if", counterMin),
    Q("qwtCounterSetMaxValue", "if", counterMax),
    Q("qwtCounterSetIncSteps", "iii", counterIncSteps),
    Q("qwtCounterSetNumButtons", "ii", counterNumButtons),
    Q("qwtWheelSetTickCnt", "ii", wheelTickCount),
    Q("qwtWheelSetViewAngle", "if", wheelViewAngle),
    Q("qwtWheelSetInternalBorder", "ii", wheelInternalBorder),
    Q("qwtWheelSetWheelWidth", "ii", wheelWidth),
    Q("qwtSliderSetBgStyle", "ii", sliderBgStyle),
    Q("qwtSliderSetScalePos", "ii", sliderScalePos),
    Q("qwtSliderSetThumbLength", "ii", sliderThumbLength),
    Q("qwtSliderSetThumbWidth", "ii", sliderThumbWidth),
    Q("qwtSliderSetMargins", "iii", sliderMargins),
    Q("qwtCompassSetSimpleCompassRose", "iiif", compassRose),
    Q("qwtDialShowBackground", "ii", dialShowBackground),
    Q("qwtDialSetFrameShadow", "ii", dialFrameShadow),
    Q("qwtDialSetLineWidth", "ii", dialLineWidth),
    Q("qwtDialSetMode", "ii", dialMode),
    Q("qwtDialSetScale", "iiif", dialScale),
    Q("qwtDialSetScaleArc", "iff", dialScaleArc),
    Q("qwtDialSetOrigin", "if", dialOrigin),
    Q("qwtDialSetNeedle", "iiiiiiii", dialNeedle),
    Q("qwtAnalogClockSetTime", "iiii", clockTime),
};

#undef Q

}  // namespace

const WidgetCommand* qwtCommands(int* count) {
  *count = (int)(sizeof table / sizeof table[0]);
  return table;
}

}  // namespace otclient
