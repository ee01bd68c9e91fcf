// The Qwt widget classes of the display client, with the same conventions as mywidgets.h:
// connection handle s, widget id, silent on a null socket. The value widgets (knob, counter,
// wheel, slider, dial, compass) send slider(id,value) with the value rounded to an integer
// whenever that integer changes; thermometer, scale, plot and analog clock only display.
// Ranges are set with mySetRange (mywidgets.h), values with Qwt's own setValue.
#ifndef MYQWTWIDGETS_H
#define MYQWTWIDGETS_H

#include <qwt_analog_clock.h>
#include <qwt_compass.h>
#include <qwt_counter.h>
#include <qwt_dial.h>
#include <qwt_knob.h>
#include <qwt_plot.h>
#include <qwt_scale_widget.h>
#include <qwt_slider.h>
#include <qwt_thermo.h>
#include <qwt_wheel.h>

#include <QString>
#include <vector>

class QwtPlotCurve;
class QwtPlotMarker;

// Largest curve and marker counts of a plot, and the most points of one curve.
enum { MY_PLOT_MAX_CURVES = 1000, MY_PLOT_MAX_MARKERS = 100000, MY_PLOT_MAX_POINTS = 1000000 };

// A plot with numCurves curves and numMarkers markers (each clamped to 0 .. its maximum).
// Curves and markers are made on first use and belong to the plot. No events.
class QwtPlotWidget : public QwtPlot {
  Q_OBJECT
 public:
  QwtPlotWidget(int* sock, int ident, QWidget* parent, int numCurves, int numMarkers,
                const char* name = nullptr);
  // Gives curve i (0 to curveCount()-1) its title and shows it. 0, or -1 for a bad i.
  int setCurve(int i, const QString& title);
  // Copies n points (0 to MY_PLOT_MAX_POINTS) of x and y into curve i; replot() shows them.
  // 0, or -1 for a bad i, a bad n or null arrays with n > 0 (the curve keeps its points).
  int setCurveData(int i, const double* x, const double* y, int n);
  // Curve or marker i, made when needed; null for an index out of range.
  QwtPlotCurve* curve(int i);
  QwtPlotMarker* marker(int i);
  // Deletes curve i with its points (curve(i) makes a new one). 0, or -1 for a bad i.
  int removeCurve(int i);
  // Whether curves made from now on, and the ones there, appear in the legend (default on).
  void setAutoLegend(bool on);
  bool autoLegend() const { return autoLegend_; }
  int curveCount() const { return (int)curves_.size(); }
  int markerCount() const { return (int)markers_.size(); }
  int* s;
  int id;

 private:
  std::vector<QwtPlotCurve*> curves_;    // owned by the plot once attached
  std::vector<QwtPlotMarker*> markers_;  // likewise
  bool autoLegend_ = true;
};

// position 0 left, 1 right, 2 top, 3 bottom (anything else: left).
class MyQwtScale : public QwtScaleWidget {
  Q_OBJECT
 public:
  MyQwtScale(int* sock, int ident, QWidget* parent, int position, const char* name = nullptr);
  int* s;
  int id;
};

class MyQwtThermo : public QwtThermo {
  Q_OBJECT
 public:
  MyQwtThermo(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

class MyQwtKnob : public QwtKnob {
  Q_OBJECT
 public:
  MyQwtKnob(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

class MyQwtCounter : public QwtCounter {
  Q_OBJECT
 public:
  MyQwtCounter(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

class MyQwtWheel : public QwtWheel {
  Q_OBJECT
 public:
  MyQwtWheel(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

// orientation 1 horizontal, 2 vertical (anything else: vertical).
class MyQwtSlider : public QwtSlider {
  Q_OBJECT
 public:
  MyQwtSlider(int* sock, int ident, QWidget* parent, int orientation, const char* name = nullptr);
  int* s;
  int id;
};

class MyQwtDial : public QwtDial {
  Q_OBJECT
 public:
  MyQwtDial(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

class MyQwtCompass : public QwtCompass {
  Q_OBJECT
 public:
  MyQwtCompass(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

// Shows the time it is given (setCurrentTime, setTime); read-only, no events.
class MyQwtAnalogClock : public QwtAnalogClock {
  Q_OBJECT
 public:
  MyQwtAnalogClock(int* sock, int ident, QWidget* parent, const char* name = nullptr);
  int* s;
  int id;
};

#endif
