#include "myqwtwidgets.h"

#include <math.h>

#include <qwt_dial_needle.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_scale_engine.h>

#include "mywidgets_p.h"

namespace {

int clampCount(int n, int max) {
  return n < 0 ? 0 : (n > max ? max : n);
}

// Reports the value as slider(id,value) whenever its integer changes: the server sees
// integers only, and Qwt signals every fraction of a drag and every rescaling.
template <class W, class Signal>
void reportValue(W* w, Signal valueChanged) {
  QObject::connect(w, valueChanged, w, [w, last = myRoundToInt(w->value())](double v) mutable {
    int now = myRoundToInt(v);
    if (now == last) return;
    last = now;
    myEvent(w->s, nullptr, "slider(%d,%d)", w->id, now);
  });
}

// Major ticks beyond this many turn a scale into a smear of labels; the engine then picks the
// tick distance itself.
const double kMaxMajorTicks = 20;

// The step of a range is the value step; it also spaces the scale's major ticks when that
// gives a readable scale.
double tickStep(double min, double max, double step) {
  return step > 0 && fabs(max - min) / step <= kMaxMajorTicks ? step : 0.0;
}

}  // namespace

int myQwtSetRange(QWidget* w, double min, double max, double step) {
  if (w == nullptr || !isfinite(min) || !isfinite(max) || !isfinite(step)) return -1;
  if (auto* slider = qobject_cast<QwtAbstractSlider*>(w)) {
    slider->setScale(min, max);
    if (step > 0) {
      double steps = fabs(max - min) / step;
      slider->setTotalSteps(steps < 1 ? 1u : (steps > 1e6 ? 1000000u : (uint)lround(steps)));
    }
    slider->setScaleStepSize(tickStep(min, max, step));
    return 0;
  }
  if (auto* thermo = qobject_cast<QwtThermo*>(w)) {
    thermo->setScale(min, max);
    thermo->setScaleStepSize(tickStep(min, max, step));
    return 0;
  }
  if (auto* counter = qobject_cast<QwtCounter*>(w)) {
    counter->setRange(min, max);
    if (step > 0) counter->setSingleStep(step);
    return 0;
  }
  if (auto* wheel = qobject_cast<QwtWheel*>(w)) {
    wheel->setRange(min, max);
    if (step > 0) wheel->setSingleStep(step);
    return 0;
  }
  if (auto* scale = qobject_cast<QwtScaleWidget*>(w)) {
    scale->setScaleDiv(
        QwtLinearScaleEngine().divideScale(min, max, 10, 5, tickStep(min, max, step)));
    return 0;
  }
  return -1;
}

QwtPlotWidget::QwtPlotWidget(int* sock, int ident, QWidget* parent, int numCurves, int numMarkers,
                             const char* name)
    : QwtPlot(parent),
      s(sock),
      id(ident),
      curves_(clampCount(numCurves, MY_PLOT_MAX_CURVES), nullptr),
      markers_(clampCount(numMarkers, MY_PLOT_MAX_MARKERS), nullptr) {
  myNameWidget(this, name);
}

QwtPlotCurve* QwtPlotWidget::curve(int i) {
  if (i < 0 || i >= curveCount()) return nullptr;
  if (curves_[i] == nullptr) {
    curves_[i] = new QwtPlotCurve();
    curves_[i]->setItemAttribute(QwtPlotItem::Legend, autoLegend_);
    curves_[i]->attach(this);
  }
  return curves_[i];
}

QwtPlotMarker* QwtPlotWidget::marker(int i) {
  if (i < 0 || i >= markerCount()) return nullptr;
  if (markers_[i] == nullptr) {
    markers_[i] = new QwtPlotMarker();
    markers_[i]->attach(this);
  }
  return markers_[i];
}

int QwtPlotWidget::removeCurve(int i) {
  if (i < 0 || i >= curveCount()) return -1;
  delete curves_[i];  // detaches itself
  curves_[i] = nullptr;
  return 0;
}

void QwtPlotWidget::setAutoLegend(bool on) {
  autoLegend_ = on;
  for (QwtPlotCurve* c : curves_)
    if (c != nullptr) c->setItemAttribute(QwtPlotItem::Legend, on);
}

int QwtPlotWidget::setCurve(int i, const QString& title) {
  QwtPlotCurve* c = curve(i);
  if (c == nullptr) return -1;
  c->setTitle(title);
  return 0;
}

int QwtPlotWidget::setCurveData(int i, const double* x, const double* y, int n) {
  if (n < 0 || n > MY_PLOT_MAX_POINTS || (n > 0 && (x == nullptr || y == nullptr))) return -1;
  QwtPlotCurve* c = curve(i);
  if (c == nullptr) return -1;
  c->setSamples(x, y, n);
  return 0;
}

MyQwtScale::MyQwtScale(int* sock, int ident, QWidget* parent, int position, const char* name)
    : QwtScaleWidget(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  static const QwtScaleDraw::Alignment kAlign[] = {QwtScaleDraw::LeftScale,
                                                   QwtScaleDraw::RightScale, QwtScaleDraw::TopScale,
                                                   QwtScaleDraw::BottomScale};
  setAlignment(position >= 0 && position < 4 ? kAlign[position] : QwtScaleDraw::LeftScale);
}

MyQwtThermo::MyQwtThermo(int* sock, int ident, QWidget* parent, const char* name)
    : QwtThermo(parent), s(sock), id(ident) {
  myNameWidget(this, name);
}

MyQwtKnob::MyQwtKnob(int* sock, int ident, QWidget* parent, const char* name)
    : QwtKnob(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  reportValue(this, &QwtAbstractSlider::valueChanged);
}

MyQwtCounter::MyQwtCounter(int* sock, int ident, QWidget* parent, const char* name)
    : QwtCounter(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  reportValue(this, &QwtCounter::valueChanged);
}

MyQwtWheel::MyQwtWheel(int* sock, int ident, QWidget* parent, const char* name)
    : QwtWheel(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  reportValue(this, &QwtWheel::valueChanged);
}

MyQwtSlider::MyQwtSlider(int* sock, int ident, QWidget* parent, int orientation, const char* name)
    : QwtSlider(orientation == 1 ? Qt::Horizontal : Qt::Vertical, parent), s(sock), id(ident) {
  myNameWidget(this, name);
  reportValue(this, &QwtAbstractSlider::valueChanged);
}

MyQwtDial::MyQwtDial(int* sock, int ident, QWidget* parent, const char* name)
    : QwtDial(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  // A bare QwtDial has no needle and would show no value at all.
  setNeedle(new QwtDialSimpleNeedle(QwtDialSimpleNeedle::Arrow));
  reportValue(this, &QwtAbstractSlider::valueChanged);
}

MyQwtCompass::MyQwtCompass(int* sock, int ident, QWidget* parent, const char* name)
    : QwtCompass(parent), s(sock), id(ident) {
  myNameWidget(this, name);
  setNeedle(new QwtCompassMagnetNeedle());
  reportValue(this, &QwtAbstractSlider::valueChanged);
}

MyQwtAnalogClock::MyQwtAnalogClock(int* sock, int ident, QWidget* parent, const char* name)
    : QwtAnalogClock(parent), s(sock), id(ident) {
  myNameWidget(this, name);
}
