// The Qwt widget calls: one line each (docs/display-protocol.md, "Qwt widgets"), checked whole
// before anything is sent. Calls of the same meaning on several kinds (a value, a read-only
// switch, a scale) share one line; the client applies it to whichever kind the id holds.
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "hxserver.h"

namespace {

// An id of the current mask; before the first definition any id that is not negative.
bool widgetId(const PARAM_* p, int id) {
  return p != nullptr && id >= 0 && (p->idCount <= 0 || id < p->idCount);
}

bool in(int v, int lo, int hi) {
  return v >= lo && v <= hi;
}

bool within(double v, double lo, double hi) {
  return isfinite(v) && v >= lo && v <= hi;
}

bool colour(int r, int g, int b) {
  return in(r, 0, 255) && in(g, 0, 255) && in(b, 0, 255);
}

bool pen(int r, int g, int b, int width, int style) {
  return colour(r, g, b) && in(width, 0, 100) && in(style, 0, 5);
}

bool font(const char* family, int pointsize) {
  return family != nullptr && in(pointsize, 1, 1000);
}

// Sums of left, right, h-centre, top, bottom, v-centre.
bool alignment(int a) {
  return a >= 0 && (a & ~(1 | 2 | 4 | 32 | 64 | 128)) == 0;
}

bool plotAxis(int axis) {
  return in(axis, 0, 3);
}

bool symbol(int style, int r1, int g1, int b1, int r2, int g2, int b2, int w, int h) {
  return in(style, -1, 14) && colour(r1, g1, b1) && colour(r2, g2, b2) && in(w, 1, 200) &&
         in(h, 1, 200);
}

bool orientation(int o) {
  return o == 1 || o == 2;
}

bool onOff(int on) {
  return on == 0 || on == 1;
}

// Keeps the range of a widget that reports values once its line went out: events outside it
// are refused (hxPollEvent).
int keepRange(PARAM_* p, int id, double min, double max, int result) {
  if (result == 0) p->ranges[id] = {fmin(min, max), fmax(min, max)};
  return result;
}

// One end of a range that the server knows already (a counter's minimum or maximum); a widget
// whose range is not known yet has none to keep.
int keepRangeEnd(PARAM_* p, int id, double v, bool minimum, int result) {
  auto it = p->ranges.find(id);
  if (result == 0 && it != p->ranges.end()) {
    double lo = minimum ? v : it->second.first, hi = minimum ? it->second.second : v;
    it->second = {fmin(lo, hi), fmax(lo, hi)};
  }
  return result;
}

// The eight bytes of v, most significant first (IEEE 754 on every platform we build for).
void putDouble(unsigned char* out, double v) {
  uint64_t bits;
  static_assert(sizeof bits == sizeof v, "doubles of 8 bytes");
  memcpy(&bits, &v, sizeof bits);
  for (int i = 0; i < 8; i++)
    out[i] = (unsigned char)(bits >> (56 - 8 * i));
}

}  // namespace

// The widget id comes first on every line; W(...) checks it and the arguments' bounds.
#define W(cond) \
  if (!widgetId(p, id) || !(cond)) return -1

// ---- Plots ----------------------------------------------------------------------------------

int qpwSetCurveData(PARAM_* p, int id, int curve, const double* x, const double* y, int count) {
  return hxPlotData(p, id, curve, x, y, count);
}

int qpwSetBufferedCurveData(PARAM_* p, int id, int curve, const double* x, const double* y,
                            int count) {
  W(curve >= 0 && in(count, 0, HX_MAX_CURVE_POINTS) && (count == 0 || (x && y)));
  for (int i = 0; i < count; i++)
    if (!isfinite(x[i]) || !isfinite(y[i])) return -1;
  // x values, then y values, in chunks; the lock keeps other senders out of the block.
  std::vector<unsigned char> chunk;
  const size_t chunkBytes = 65536;
  chunk.reserve(chunkBytes);
  hxlock(p);
  int r = hxSendCommand(p, "qpwSetBufferedCurveData", "iii", id, curve, count);
  for (int i = 0; i < 2 * count && r == 0; i++) {
    unsigned char v[8];
    putDouble(v, i < count ? x[i] : y[i - count]);
    chunk.insert(chunk.end(), v, v + 8);
    if (chunk.size() >= chunkBytes || i == 2 * count - 1) {
      if (hxtcpsend_binary(p, reinterpret_cast<const char*>(chunk.data()), (int)chunk.size()) < 0)
        r = -1;
      chunk.clear();
    }
  }
  hxunlock(p);
  return r;
}

int qpwReplot(PARAM_* p, int id) {
  return hxReplot(p, id);
}
int qpwSetTitle(PARAM_* p, int id, const char* title) {
  W(true);
  return hxSendCommand(p, "qpwSetTitle", "is", id, title);
}
int qpwSetCanvasBackground(PARAM_* p, int id, int r, int g, int b) {
  W(colour(r, g, b));
  return hxSendCommand(p, "qpwSetCanvasBackground", "iiii", id, r, g, b);
}
int qpwEnableOutline(PARAM_* p, int id, int on) {
  W(true);
  return hxSendCommand(p, "qpwEnableOutline", "ii", id, on ? 1 : 0);
}
int qpwSetOutlinePen(PARAM_* p, int id, int r, int g, int b, int width, int style) {
  W(pen(r, g, b, width, style));
  return hxSendCommand(p, "qpwSetOutlinePen", "iiiiii", id, r, g, b, width, style);
}
int qpwSetAutoLegend(PARAM_* p, int id, int on) {
  W(true);
  return hxSendCommand(p, "qpwSetAutoLegend", "ii", id, on ? 1 : 0);
}
int qpwEnableLegend(PARAM_* p, int id, int on) {
  W(true);
  return hxSendCommand(p, "qpwEnableLegend", "ii", id, on ? 1 : 0);
}
int qpwSetLegendPos(PARAM_* p, int id, int position) {
  W(in(position, 0, 3));
  return hxSendCommand(p, "qpwSetLegendPos", "ii", id, position);
}
int qpwSetLegendFrameStyle(PARAM_* p, int id, int style) {
  int shape = style & 0x0f, shadow = style & ~0x0f;
  W(style >= 0 && in(shape, 0, 6) && (shadow == 0 || shadow == 16 || shadow == 32 || shadow == 48));
  return hxSendCommand(p, "qpwSetLegendFrameStyle", "ii", id, style);
}
int qpwEnableGridXMin(PARAM_* p, int id, int on) {
  W(true);
  return hxSendCommand(p, "qpwEnableGridXMin", "ii", id, on ? 1 : 0);
}
int qpwSetGridMajPen(PARAM_* p, int id, int r, int g, int b, int width, int style) {
  W(pen(r, g, b, width, style));
  return hxSendCommand(p, "qpwSetGridMajPen", "iiiiii", id, r, g, b, width, style);
}
int qpwSetGridMinPen(PARAM_* p, int id, int r, int g, int b, int width, int style) {
  W(pen(r, g, b, width, style));
  return hxSendCommand(p, "qpwSetGridMinPen", "iiiiii", id, r, g, b, width, style);
}
int qpwEnableAxis(PARAM_* p, int id, int axis, int on) {
  W(plotAxis(axis));
  return hxSendCommand(p, "qpwEnableAxis", "iii", id, axis, on ? 1 : 0);
}
int qpwSetAxisTitle(PARAM_* p, int id, int axis, const char* title) {
  W(plotAxis(axis));
  return hxSendCommand(p, "qpwSetAxisTitle", "iis", id, axis, title);
}
int qpwSetAxisOptions(PARAM_* p, int id, int axis, int options) {
  W(plotAxis(axis) && in(options, 0, 31));
  return hxSendCommand(p, "qpwSetAxisOptions", "iii", id, axis, options);
}
int qpwSetAxisMaxMajor(PARAM_* p, int id, int axis, int maxMajor) {
  W(plotAxis(axis) && in(maxMajor, 1, 1000));
  return hxSendCommand(p, "qpwSetAxisMaxMajor", "iii", id, axis, maxMajor);
}
int qpwSetAxisMaxMinor(PARAM_* p, int id, int axis, int maxMinor) {
  W(plotAxis(axis) && in(maxMinor, 0, 100));
  return hxSendCommand(p, "qpwSetAxisMaxMinor", "iii", id, axis, maxMinor);
}
int qpwInsertCurve(PARAM_* p, int id, int curve, const char* title) {
  return hxPlotCurve(p, id, curve, title);
}
int qpwRemoveCurve(PARAM_* p, int id, int curve) {
  W(curve >= 0);
  return hxSendCommand(p, "qpwRemoveCurve", "ii", id, curve);
}
int qpwSetCurvePen(PARAM_* p, int id, int curve, int r, int g, int b, int width, int style) {
  W(curve >= 0 && pen(r, g, b, width, style));
  return hxSendCommand(p, "qpwSetCurvePen", "iiiiiii", id, curve, r, g, b, width, style);
}
int qpwSetCurveSymbol(PARAM_* p, int id, int curve, int symbolStyle, int r1, int g1, int b1, int r2,
                      int g2, int b2, int w, int h) {
  W(curve >= 0 && symbol(symbolStyle, r1, g1, b1, r2, g2, b2, w, h));
  return hxSendCommand(p, "qpwSetCurveSymbol", "iiiiiiiiiii", id, curve, symbolStyle, r1, g1, b1,
                       r2, g2, b2, w, h);
}
int qpwSetCurveYAxis(PARAM_* p, int id, int curve, int axis) {
  W(curve >= 0 && in(axis, 0, 1));
  return hxSendCommand(p, "qpwSetCurveYAxis", "iii", id, curve, axis);
}
int qpwInsertMarker(PARAM_* p, int id, int marker) {
  W(marker >= 0);
  return hxSendCommand(p, "qpwInsertMarker", "ii", id, marker);
}
int qpwSetMarkerLineStyle(PARAM_* p, int id, int marker, int style) {
  W(marker >= 0 && in(style, 0, 3));
  return hxSendCommand(p, "qpwSetMarkerLineStyle", "iii", id, marker, style);
}
int qpwSetMarkerPos(PARAM_* p, int id, int marker, double x, double y) {
  W(marker >= 0 && isfinite(x) && isfinite(y));
  return hxSendCommand(p, "qpwSetMarkerPos", "iiff", id, marker, x, y);
}
int qpwSetMarkerLabelAlign(PARAM_* p, int id, int marker, int align) {
  W(marker >= 0 && alignment(align));
  return hxSendCommand(p, "qpwSetMarkerLabelAlign", "iii", id, marker, align);
}
int qpwSetMarkerPen(PARAM_* p, int id, int marker, int r, int g, int b, int width, int style) {
  W(marker >= 0 && pen(r, g, b, width, style));
  return hxSendCommand(p, "qpwSetMarkerPen", "iiiiiii", id, marker, r, g, b, width, style);
}
int qpwSetMarkerLabel(PARAM_* p, int id, int marker, const char* text) {
  W(marker >= 0);
  return hxSendCommand(p, "qpwSetMarkerLabel", "iis", id, marker, text);
}
int qpwSetMarkerFont(PARAM_* p, int id, int marker, const char* family, int pointsize, int bold,
                     int italic) {
  W(marker >= 0 && font(family, pointsize));
  return hxSendCommand(p, "qpwSetMarkerFont", "iisiii", id, marker, family, pointsize, bold ? 1 : 0,
                       italic ? 1 : 0);
}
int qpwSetMarkerSymbol(PARAM_* p, int id, int marker, int symbolStyle, int r1, int g1, int b1,
                       int r2, int g2, int b2, int w, int h) {
  W(marker >= 0 && symbol(symbolStyle, r1, g1, b1, r2, g2, b2, w, h));
  return hxSendCommand(p, "qpwSetMarkerSymbol", "iiiiiiiiiii", id, marker, symbolStyle, r1, g1, b1,
                       r2, g2, b2, w, h);
}
int qpwInsertLineMarker(PARAM_* p, int id, int marker, const char* label, int axis) {
  W(marker >= 0 && plotAxis(axis));
  return hxSendCommand(p, "qpwInsertLineMarker", "iisi", id, marker, label, axis);
}
int qpwSetAxisScaleDraw(PARAM_* p, int id, int axis, const char* format) {
  W(plotAxis(axis));
  return hxSendCommand(p, "qpwSetAxisScaleDraw", "iis", id, axis, format);
}
int qpwSetAxisScale(PARAM_* p, int id, int axis, double min, double max, double step) {
  W(plotAxis(axis) && isfinite(min) && isfinite(max) && isfinite(step) && step >= 0);
  return hxSendCommand(p, "qpwSetAxisScale", "iifff", id, axis, min, max, step);
}

// ---- Scales ---------------------------------------------------------------------------------

int qwtScaleSetTitle(PARAM_* p, int id, const char* title) {
  W(true);
  return hxSendCommand(p, "qwtScaleSetTitle", "is", id, title);
}
int qwtScaleSetTitleColor(PARAM_* p, int id, int r, int g, int b) {
  W(colour(r, g, b));
  return hxSendCommand(p, "qwtScaleSetTitleColor", "iiii", id, r, g, b);
}
int qwtScaleSetTitleFont(PARAM_* p, int id, const char* family, int pointsize, int bold,
                         int italic) {
  W(font(family, pointsize));
  return hxSendCommand(p, "qwtScaleSetTitleFont", "isiii", id, family, pointsize, bold ? 1 : 0,
                       italic ? 1 : 0);
}
int qwtScaleSetTitleAlignment(PARAM_* p, int id, int align) {
  W(alignment(align));
  return hxSendCommand(p, "qwtScaleSetTitleAlignment", "ii", id, align);
}
int qwtScaleSetBorderDist(PARAM_* p, int id, int start, int end) {
  W(in(start, 0, 1000) && in(end, 0, 1000));
  return hxSendCommand(p, "qwtScaleSetBorderDist", "iii", id, start, end);
}
int qwtScaleSetBaselineDist(PARAM_* p, int id, int distance) {
  W(in(distance, 0, 1000));
  return hxSendCommand(p, "qwtScaleSetBaselineDist", "ii", id, distance);
}
int qwtScaleSetScaleDiv(PARAM_* p, int id, double min, double max, int maxMajor, int maxMinor,
                        double step) {
  W(isfinite(min) && isfinite(max) && in(maxMajor, 1, 1000) && in(maxMinor, 0, 100) &&
    isfinite(step) && step >= 0);
  return hxSendCommand(p, "qwtScaleSetScaleDiv", "iffiif", id, min, max, maxMajor, maxMinor, step);
}
int qwtScaleSetLabelFormat(PARAM_* p, int id, const char* format) {
  W(true);
  return hxSendCommand(p, "qwtScaleSetLabelFormat", "is", id, format);
}
int qwtScaleSetLabelAlignment(PARAM_* p, int id, int align) {
  W(alignment(align));
  return hxSendCommand(p, "qwtScaleSetLabelAlignment", "ii", id, align);
}
int qwtScaleSetLabelRotation(PARAM_* p, int id, double degrees) {
  W(within(degrees, -360, 360));
  return hxSendCommand(p, "qwtScaleSetLabelRotation", "if", id, degrees);
}
int qwtScaleSetPosition(PARAM_* p, int id, int position) {
  W(in(position, 0, 3));
  return hxSendCommand(p, "qwtScaleSetPosition", "ii", id, position);
}

// ---- Lines shared by several kinds ----------------------------------------------------------

namespace {

int setScale(PARAM_* p, int id, double min, double max, double step, int logarithmic) {
  W(isfinite(min) && isfinite(max) && isfinite(step) && step >= 0 &&
    (!logarithmic || (min > 0 && max > 0)));
  return keepRange(
      p, id, min, max,
      hxSendCommand(p, "qwtSetScale", "ifffi", id, min, max, step, logarithmic ? 1 : 0));
}
int setMass(PARAM_* p, int id, double mass) {
  W(within(mass, 0, 100));
  return hxSendCommand(p, "qwtSetMass", "if", id, mass);
}
int setOrientation(PARAM_* p, int id, int o) {
  W(orientation(o));
  return hxSendCommand(p, "qwtSetOrientation", "ii", id, o);
}
int setReadOnly(PARAM_* p, int id, int on) {
  W(true);
  return hxSendCommand(p, "qwtSetReadOnly", "ii", id, on ? 1 : 0);
}
int setBorderWidth(PARAM_* p, int id, int width) {
  W(in(width, 0, 100));
  return hxSendCommand(p, "qwtSetBorderWidth", "ii", id, width);
}
int setTotalAngle(PARAM_* p, int id, double angle) {
  W(within(angle, 10, 3600));
  return hxSendCommand(p, "qwtSetTotalAngle", "if", id, angle);
}
int setWrapping(PARAM_* p, int id, int on) {
  W(true);
  return hxSendCommand(p, "qwtSetWrapping", "ii", id, on ? 1 : 0);
}
int dialShowBackground(PARAM_* p, int id, int on) {
  W(true);
  return hxSendCommand(p, "qwtDialShowBackground", "ii", id, on ? 1 : 0);
}
int dialFrameShadow(PARAM_* p, int id, int shadow) {
  W(shadow == 16 || shadow == 32 || shadow == 48);
  return hxSendCommand(p, "qwtDialSetFrameShadow", "ii", id, shadow);
}
int dialLineWidth(PARAM_* p, int id, int width) {
  W(in(width, 0, 100));
  return hxSendCommand(p, "qwtDialSetLineWidth", "ii", id, width);
}
int dialMode(PARAM_* p, int id, int mode) {
  W(onOff(mode));
  return hxSendCommand(p, "qwtDialSetMode", "ii", id, mode);
}
int dialScale(PARAM_* p, int id, int maxMajor, int maxMinor, double step) {
  W(in(maxMajor, 1, 1000) && in(maxMinor, 0, 100) && isfinite(step) && step >= 0);
  return hxSendCommand(p, "qwtDialSetScale", "iiif", id, maxMajor, maxMinor, step);
}
int dialScaleArc(PARAM_* p, int id, double minArc, double maxArc) {
  W(within(minArc, -360, 360) && within(maxArc, -360, 360));
  return hxSendCommand(p, "qwtDialSetScaleArc", "iff", id, minArc, maxArc);
}
int dialOrigin(PARAM_* p, int id, double angle) {
  W(within(angle, -360, 360));
  return hxSendCommand(p, "qwtDialSetOrigin", "if", id, angle);
}
int dialNeedle(PARAM_* p, int id, int needle, int r1, int g1, int b1, int r2, int g2, int b2) {
  W(in(needle, 1, 6) && colour(r1, g1, b1) && colour(r2, g2, b2));
  return hxSendCommand(p, "qwtDialSetNeedle", "iiiiiiii", id, needle, r1, g1, b1, r2, g2, b2);
}

}  // namespace

// ---- Thermometers ---------------------------------------------------------------------------

int qwtThermoSetScale(PARAM_* p, int id, double min, double max, double step, int logarithmic) {
  return setScale(p, id, min, max, step, logarithmic);
}
int qwtThermoSetOrientation(PARAM_* p, int id, int o, int position) {
  W(orientation(o) && in(position, 0, 4));
  return hxSendCommand(p, "qwtThermoSetOrientation", "iii", id, o, position);
}
int qwtThermoSetBorderWidth(PARAM_* p, int id, int width) {
  return setBorderWidth(p, id, width);
}
int qwtThermoSetFillColor(PARAM_* p, int id, int r, int g, int b) {
  W(colour(r, g, b));
  return hxSendCommand(p, "qwtThermoSetFillColor", "iiii", id, r, g, b);
}
int qwtThermoSetAlarmColor(PARAM_* p, int id, int r, int g, int b) {
  W(colour(r, g, b));
  return hxSendCommand(p, "qwtThermoSetAlarmColor", "iiii", id, r, g, b);
}
int qwtThermoSetAlarmLevel(PARAM_* p, int id, double level) {
  W(isfinite(level));
  return hxSendCommand(p, "qwtThermoSetAlarmLevel", "if", id, level);
}
int qwtThermoSetAlarmEnabled(PARAM_* p, int id, int on) {
  W(true);
  return hxSendCommand(p, "qwtThermoSetAlarmEnabled", "ii", id, on ? 1 : 0);
}
int qwtThermoSetPipeWidth(PARAM_* p, int id, int width) {
  W(in(width, 1, 1000));
  return hxSendCommand(p, "qwtThermoSetPipeWidth", "ii", id, width);
}
int qwtThermoSetRange(PARAM_* p, int id, double min, double max) {
  return hxSetRange(p, id, min, max, 0);
}
int qwtThermoSetMargin(PARAM_* p, int id, int margin) {
  W(in(margin, 0, 1000));
  return hxSendCommand(p, "qwtThermoSetMargin", "ii", id, margin);
}
int qwtThermoSetValue(PARAM_* p, int id, double value) {
  return hxSetFloat(p, id, value);
}

// ---- Knobs ----------------------------------------------------------------------------------

int qwtKnobSetScale(PARAM_* p, int id, double min, double max, double step, int logarithmic) {
  return setScale(p, id, min, max, step, logarithmic);
}
int qwtKnobSetMass(PARAM_* p, int id, double mass) {
  return setMass(p, id, mass);
}
int qwtKnobSetOrientation(PARAM_* p, int id, int o) {
  return setOrientation(p, id, o);
}
int qwtKnobSetReadOnly(PARAM_* p, int id, int on) {
  return setReadOnly(p, id, on);
}
int qwtKnobSetKnobWidth(PARAM_* p, int id, int width) {
  W(in(width, 0, 1000));
  return hxSendCommand(p, "qwtKnobSetKnobWidth", "ii", id, width);
}
int qwtKnobSetTotalAngle(PARAM_* p, int id, double angle) {
  return setTotalAngle(p, id, angle);
}
int qwtKnobSetBorderWidth(PARAM_* p, int id, int width) {
  return setBorderWidth(p, id, width);
}
int qwtKnobSetSymbol(PARAM_* p, int id, int symbolStyle) {
  W(in(symbolStyle, 0, 5));
  return hxSendCommand(p, "qwtKnobSetSymbol", "ii", id, symbolStyle);
}
int qwtKnobSetValue(PARAM_* p, int id, double value) {
  return hxSetFloat(p, id, value);
}

// ---- Counters -------------------------------------------------------------------------------

int qwtCounterSetStep(PARAM_* p, int id, double step) {
  W(isfinite(step) && step > 0);
  return hxSendCommand(p, "qwtCounterSetStep", "if", id, step);
}
int qwtCounterSetMinValue(PARAM_* p, int id, double min) {
  W(isfinite(min));
  return keepRangeEnd(p, id, min, true, hxSendCommand(p, "qwtCounterSetMinValue", "if", id, min));
}
int qwtCounterSetMaxValue(PARAM_* p, int id, double max) {
  W(isfinite(max));
  return keepRangeEnd(p, id, max, false, hxSendCommand(p, "qwtCounterSetMaxValue", "if", id, max));
}
int qwtCounterSetIncSteps(PARAM_* p, int id, int button, int steps) {
  W(in(button, 1, 3) && in(steps, 0, 10000));
  return hxSendCommand(p, "qwtCounterSetIncSteps", "iii", id, button, steps);
}
int qwtCounterSetStepButton1(PARAM_* p, int id, int steps) {
  return qwtCounterSetIncSteps(p, id, 1, steps);
}
int qwtCounterSetStepButton2(PARAM_* p, int id, int steps) {
  return qwtCounterSetIncSteps(p, id, 2, steps);
}
int qwtCounterSetStepButton3(PARAM_* p, int id, int steps) {
  return qwtCounterSetIncSteps(p, id, 3, steps);
}
int qwtCounterSetNumButtons(PARAM_* p, int id, int count) {
  W(in(count, 0, 3));
  return hxSendCommand(p, "qwtCounterSetNumButtons", "ii", id, count);
}
int qwtCounterSetValue(PARAM_* p, int id, double value) {
  return hxSetFloat(p, id, value);
}

// ---- Wheels ---------------------------------------------------------------------------------

int qwtWheelSetMass(PARAM_* p, int id, double mass) {
  return setMass(p, id, mass);
}
int qwtWheelSetOrientation(PARAM_* p, int id, int o) {
  return setOrientation(p, id, o);
}
int qwtWheelSetReadOnly(PARAM_* p, int id, int on) {
  return setReadOnly(p, id, on);
}
int qwtWheelSetTotalAngle(PARAM_* p, int id, double angle) {
  return setTotalAngle(p, id, angle);
}
int qwtWheelSetTickCnt(PARAM_* p, int id, int count) {
  W(in(count, 1, 1000));
  return hxSendCommand(p, "qwtWheelSetTickCnt", "ii", id, count);
}
int qwtWheelSetViewAngle(PARAM_* p, int id, double angle) {
  W(within(angle, 10, 175));
  return hxSendCommand(p, "qwtWheelSetViewAngle", "if", id, angle);
}
int qwtWheelSetInternalBorder(PARAM_* p, int id, int width) {
  W(in(width, 1, 100));
  return hxSendCommand(p, "qwtWheelSetInternalBorder", "ii", id, width);
}
int qwtWheelSetWheelWidth(PARAM_* p, int id, int width) {
  W(in(width, 1, 1000));
  return hxSendCommand(p, "qwtWheelSetWheelWidth", "ii", id, width);
}
int qwtWheelSetValue(PARAM_* p, int id, double value) {
  return hxSetFloat(p, id, value);
}

// ---- Sliders --------------------------------------------------------------------------------

int qwtSliderSetScale(PARAM_* p, int id, double min, double max, double step, int logarithmic) {
  return setScale(p, id, min, max, step, logarithmic);
}
int qwtSliderSetMass(PARAM_* p, int id, double mass) {
  return setMass(p, id, mass);
}
int qwtSliderSetOrientation(PARAM_* p, int id, int o) {
  return setOrientation(p, id, o);
}
int qwtSliderSetReadOnly(PARAM_* p, int id, int on) {
  return setReadOnly(p, id, on);
}
int qwtSliderSetBgStyle(PARAM_* p, int id, int style) {
  W(in(style, 0, 3));
  return hxSendCommand(p, "qwtSliderSetBgStyle", "ii", id, style);
}
int qwtSliderSetScalePos(PARAM_* p, int id, int position) {
  W(in(position, 0, 4));
  return hxSendCommand(p, "qwtSliderSetScalePos", "ii", id, position);
}
int qwtSliderSetThumbLength(PARAM_* p, int id, int length) {
  W(in(length, 4, 1000));
  return hxSendCommand(p, "qwtSliderSetThumbLength", "ii", id, length);
}
int qwtSliderSetThumbWidth(PARAM_* p, int id, int width) {
  W(in(width, 4, 1000));
  return hxSendCommand(p, "qwtSliderSetThumbWidth", "ii", id, width);
}
int qwtSliderSetBorderWidth(PARAM_* p, int id, int width) {
  return setBorderWidth(p, id, width);
}
int qwtSliderSetMargins(PARAM_* p, int id, int xMargin, int yMargin) {
  W(in(xMargin, 0, 1000) && in(yMargin, 0, 1000));
  return hxSendCommand(p, "qwtSliderSetMargins", "iii", id, xMargin, yMargin);
}
int qwtSliderSetValue(PARAM_* p, int id, double value) {
  return hxSetFloat(p, id, value);
}

// ---- Compasses, dials and analog clocks -----------------------------------------------------

int qwtCompassSetSimpleCompassRose(PARAM_* p, int id, int numThorns, int numThornLevels,
                                   double width) {
  W(in(numThorns, 4, 360) && (numThornLevels == -1 || in(numThornLevels, 1, 32)) &&
    within(width, 0.03, 0.4));
  return hxSendCommand(p, "qwtCompassSetSimpleCompassRose", "iiif", id, numThorns, numThornLevels,
                       width);
}
int qwtDialSetRange(PARAM_* p, int id, double min, double max, double step) {
  return hxSetRange(p, id, min, max, step);
}

// The calls that are the same line on all three kinds.
#define HX_DIAL_CALLS(Kind)                                                                       \
  int qwt##Kind##SetMass(PARAM_* p, int id, double mass) {                                        \
    return setMass(p, id, mass);                                                                  \
  }                                                                                               \
  int qwt##Kind##ShowBackground(PARAM_* p, int id, int on) {                                      \
    return dialShowBackground(p, id, on);                                                         \
  }                                                                                               \
  int qwt##Kind##SetReadOnly(PARAM_* p, int id, int on) {                                         \
    return setReadOnly(p, id, on);                                                                \
  }                                                                                               \
  int qwt##Kind##SetFrameShadow(PARAM_* p, int id, int shadow) {                                  \
    return dialFrameShadow(p, id, shadow);                                                        \
  }                                                                                               \
  int qwt##Kind##SetLineWidth(PARAM_* p, int id, int width) {                                     \
    return dialLineWidth(p, id, width);                                                           \
  }                                                                                               \
  int qwt##Kind##SetMode(PARAM_* p, int id, int mode) {                                           \
    return dialMode(p, id, mode);                                                                 \
  }                                                                                               \
  int qwt##Kind##SetWrapping(PARAM_* p, int id, int on) {                                         \
    return setWrapping(p, id, on);                                                                \
  }                                                                                               \
  int qwt##Kind##SetScale(PARAM_* p, int id, int maxMajor, int maxMinor, double step) {           \
    return dialScale(p, id, maxMajor, maxMinor, step);                                            \
  }                                                                                               \
  int qwt##Kind##SetScaleArc(PARAM_* p, int id, double minArc, double maxArc) {                   \
    return dialScaleArc(p, id, minArc, maxArc);                                                   \
  }                                                                                               \
  int qwt##Kind##SetOrigin(PARAM_* p, int id, double angle) {                                     \
    return dialOrigin(p, id, angle);                                                              \
  }                                                                                               \
  int qwt##Kind##SetNeedle(PARAM_* p, int id, int needle, int r1, int g1, int b1, int r2, int g2, \
                           int b2) {                                                              \
    return dialNeedle(p, id, needle, r1, g1, b1, r2, g2, b2);                                     \
  }                                                                                               \
  int qwt##Kind##SetValue(PARAM_* p, int id, double value) {                                      \
    return hxSetFloat(p, id, value);                                                              \
  }

HX_DIAL_CALLS(Compass)
HX_DIAL_CALLS(Dial)
HX_DIAL_CALLS(AnalogClock)

int qwtAnalogClockSetTime(PARAM_* p, int id, int hour, int minute, int second) {
  W(in(hour, 0, 23) && in(minute, 0, 59) && in(second, 0, 59));
  return hxSendCommand(p, "qwtAnalogClockSetTime", "iiii", id, hour, minute, second);
}
