// The plot family of the core commands: a plot's curves, their points (as lines that follow
// the command) and the redraw.
#include "corecommands.h"

#include <stdio.h>

#include <QPointer>
#include <memory>
#include <vector>

#include "interpreter.h"
#include "myqwtwidgets.h"
#include "otnumber.h"
#include "otstreams.h"

using namespace otclient;

namespace {

// The buffer of a plot point line, "x,y" and its line feed.
const int kPointLine = 128;

// The n point lines that follow the command ("x,y"; one that does not scan is skipped) become
// the points of the plot's curve once they have all come.
void plotPoints(otClientInterpreter& in, QWidget* w, int curve, int n) {
  if (!inRange(n, 0, maxPlotPoints)) {
    // An unbounded count cannot be skipped line by line without trusting it: refuse and
    // let the lines that follow fail as unknown commands.
    in.refuse("plotData: %d points refused\n", n);
    return;
  }
  struct Points {
    std::vector<double> x, y;
  };
  auto points = std::make_shared<Points>();
  QPointer<QwtPlotWidget> plot(qobject_cast<QwtPlotWidget*>(w));
  QPointer<otClientInterpreter> self(&in);
  auto each = [points](const char* text, int, bool) {
    char *end = nullptr, *after = nullptr;
    double a = otStrtod(text, &end);
    if (end == text || *end != ',') return;
    double b = otStrtod(end + 1, &after);
    if (after == end + 1) return;
    points->x.push_back(a);
    points->y.push_back(b);
  };
  auto done = [points, plot, self, curve, n](bool complete) {
    if (!complete || self == nullptr) return;
    if (plot == nullptr ||
        plot->setCurveData(curve, points->x.data(), points->y.data(), (int)points->x.size()) < 0)
      self->refuse("plotData(%d,%d) refused\n", curve, n);
  };
  // A point line is short: a longer one keeps its first bytes, its rest is dropped.
  in.startStream(std::unique_ptr<otStreamConsumer>(new otLinesStream(n, kPointLine, each, done)));
}

void plotCurve(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int id) {
  auto* plot = qobject_cast<QwtPlotWidget*>(w);
  if (plot == nullptr || plot->setCurve(argInt(c, 1), argText(c, 2)) < 0)
    in.refuse("plotCurve(%d,%d) refused\n", id, argInt(c, 1));
}

void plotData(otClientInterpreter& in, QWidget* w, const otCallLine& c, Command, int) {
  plotPoints(in, w, argInt(c, 1), argInt(c, 2));
}

void replot(otClientInterpreter&, QWidget* w, const otCallLine&, Command, int) {
  if (auto* plot = qobject_cast<QwtPlotWidget*>(w)) plot->replot();
}

const CoreCommand kTable[] = {
    {CmdPlotCurve, CORE_WIDGET, plotCurve},
    {CmdPlotData, CORE_WIDGET, plotData},
    {CmdReplot, CORE_WIDGET, replot},
};

}  // namespace

namespace otclient {

const CoreCommand* plotCommands(int* count) {
  *count = (int)(sizeof(kTable) / sizeof(kTable[0]));
  return kTable;
}

}  // namespace otclient
