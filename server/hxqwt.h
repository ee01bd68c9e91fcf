// The display-server library: the Qwt widgets: plots (qpw...), scales, thermometers, knobs,
// counters, wheels, sliders, compasses, dials and analog clocks (qwt...). Included by hxserver.h,
// which declares PARAM_.
//
// Every call acts on the widget id of the current mask (made with hxQwtPlot, hxQwtScale, ...)
// and returns 0 once its line is sent, or -1 with nothing sent for a closed connection, an id
// outside the mask or an argument out of range. A call the client's widget cannot carry out
// (another kind of widget, a property the widget no longer has) is refused by the client,
// which says so on its standard output; the server's result does not show it.
//
// Conventions of the arguments:
// - colours r, g, b: 0..255 each;
// - pens r, g, b, width, style: width 0..100 pixels (0: a cosmetic line of one pixel), style
//   0 none, 1 solid, 2 dash, 3 dot, 4 dash-dot, 5 dash-dot-dot;
// - fonts family, pointsize (1..1000), bold, italic (0 or 1);
// - alignments: sums of 1 left, 2 right, 4 horizontally centred, 32 top, 64 bottom,
//   128 vertically centred;
// - plot axes: 0 left y axis, 1 right y axis, 2 bottom x axis, 3 top x axis;
// - symbols of curves and markers: -1 none, 0 ellipse, 1 rectangle, 2 diamond, 3 triangle,
//   4 triangle down, 5 triangle up, 6 triangle left, 7 triangle right, 8 cross, 9 diagonal
//   cross, 10 horizontal line, 11 vertical line, 12 star, 13 six-pointed star, 14 hexagon;
//   drawn with a pen r1, g1, b1, filled with r2, g2, b2, w x h pixels (1..200 each);
// - orientations 1 horizontal, 2 vertical; scale positions 0 none, 1 left, 2 right, 3 top,
//   4 bottom (left and right for a vertical widget, top and bottom for a horizontal one);
// - frame shadows as hxQFrame: 16 plain, 32 raised, 48 sunken.
#ifndef HXQWT_H
#define HXQWT_H

// Most points of one curve (as hxPlotData).
#define HX_MAX_CURVE_POINTS HX_MAX_PLOT_POINTS

// ---- Plots (hxQwtPlot) ----------------------------------------------------------------------

// The points of curve (0 to curves-1 of hxQwtPlot) as count lines "x,y" after the command,
// like hxPlotData; the curve shows them at the next qpwReplot. 0 <= count <=
// HX_MAX_CURVE_POINTS, every value finite (checked before anything is sent).
int qpwSetCurveData(PARAM_* p, int id, int curve, const double* x, const double* y, int count);
// The same points as one binary block of count x values and then count y values, 8 bytes
// each, IEEE 754, most significant byte first: less to send and no formatting for large or
// frequent curves, exact to the bit.
int qpwSetBufferedCurveData(PARAM_* p, int id, int curve, const double* x, const double* y,
                            int count);
// Draws the plot anew with what was set since (as hxReplot).
int qpwReplot(PARAM_* p, int id);
// The plot's title above the canvas ("" removes it).
int qpwSetTitle(PARAM_* p, int id, const char* title);
// The canvas' background colour.
int qpwSetCanvasBackground(PARAM_* p, int id, int r, int g, int b);
// While on, pressing and dragging the mouse on the canvas draws a rectangle outline (rubber
// band) from the press to the pointer.
int qpwEnableOutline(PARAM_* p, int id, int on);
// The outline's pen.
int qpwSetOutlinePen(PARAM_* p, int id, int r, int g, int b, int width, int style);
// While on (the default), every curve appears in the legend; off keeps curves out of it.
int qpwSetAutoLegend(PARAM_* p, int id, int on);
// Shows (on) or removes the legend.
int qpwEnableLegend(PARAM_* p, int id, int on);
// Where the legend stands: 0 left, 1 right, 2 below, 3 above the canvas.
int qpwSetLegendPos(PARAM_* p, int id, int position);
// The legend's frame: shape plus shadow as hxQFrame (shape 0 none, 1 box, 2 panel,
// 3 windows panel, 6 styled panel; shadow 16 plain, 32 raised, 48 sunken).
int qpwSetLegendFrameStyle(PARAM_* p, int id, int style);
// The grid's minor lines across the x axis on (1) or off (0); the grid is made on first use.
int qpwEnableGridXMin(PARAM_* p, int id, int on);
// The pens of the grid's major and minor lines (the grid is made on first use).
int qpwSetGridMajPen(PARAM_* p, int id, int r, int g, int b, int width, int style);
int qpwSetGridMinPen(PARAM_* p, int id, int r, int g, int b, int width, int style);
// Shows (on) or hides an axis.
int qpwEnableAxis(PARAM_* p, int id, int axis, int on);
// The axis' title ("" removes it).
int qpwSetAxisTitle(PARAM_* p, int id, int axis, const char* title);
// How the axis scales itself: a sum of 1 include the reference value 0, 2 symmetric around
// it, 4 floating ends (no rounding to ticks), 8 logarithmic, 16 inverted.
int qpwSetAxisOptions(PARAM_* p, int id, int axis, int options);
// Most major ticks (1..1000) and most minor ticks between two major ones (0..100) of an axis.
int qpwSetAxisMaxMajor(PARAM_* p, int id, int axis, int maxMajor);
int qpwSetAxisMaxMinor(PARAM_* p, int id, int axis, int maxMinor);
// Makes curve (0 to curves-1) with its legend title (as hxPlotCurve).
int qpwInsertCurve(PARAM_* p, int id, int curve, const char* title);
// Takes curve away with its points; using it again makes it anew.
int qpwRemoveCurve(PARAM_* p, int id, int curve);
int qpwSetCurvePen(PARAM_* p, int id, int curve, int r, int g, int b, int width, int style);
int qpwSetCurveSymbol(PARAM_* p, int id, int curve, int symbol, int r1, int g1, int b1, int r2,
                      int g2, int b2, int w, int h);
// The y axis the curve is drawn against: 0 left, 1 right.
int qpwSetCurveYAxis(PARAM_* p, int id, int curve, int axis);
// Makes marker (0 to markers-1 of hxQwtPlot): a point of the plot with an optional line,
// label and symbol, at (0,0) until qpwSetMarkerPos.
int qpwInsertMarker(PARAM_* p, int id, int marker);
// The marker's line: 0 none, 1 horizontal, 2 vertical, 3 both (a cross).
int qpwSetMarkerLineStyle(PARAM_* p, int id, int marker, int style);
// The marker's position in axis values.
int qpwSetMarkerPos(PARAM_* p, int id, int marker, double x, double y);
// Where the label stands beside the marker's position (an alignment).
int qpwSetMarkerLabelAlign(PARAM_* p, int id, int marker, int align);
int qpwSetMarkerPen(PARAM_* p, int id, int marker, int r, int g, int b, int width, int style);
int qpwSetMarkerLabel(PARAM_* p, int id, int marker, const char* text);
int qpwSetMarkerFont(PARAM_* p, int id, int marker, const char* family, int pointsize, int bold,
                     int italic);
int qpwSetMarkerSymbol(PARAM_* p, int id, int marker, int symbol, int r1, int g1, int b1, int r2,
                       int g2, int b2, int w, int h);
// Makes marker a line across the canvas with label: a horizontal line at a value of a y axis
// (axis 0 or 1), a vertical line at a value of an x axis (2 or 3); qpwSetMarkerPos places it.
int qpwInsertLineMarker(PARAM_* p, int id, int marker, const char* label, int axis);
// How the axis writes its labels: a printf format with exactly one conversion of a double
// (flags "-+ #0", width at most 60, precision at most 20, then f F e E g G a A; "%%" besides,
// under 80 characters: "%.1f bar"), or "time:" and a date-time format of Qt (the values are
// seconds since 1970, shown in the client's time zone: "time:hh:mm:ss"). "" gives the
// default labels back. The client refuses other formats.
int qpwSetAxisScaleDraw(PARAM_* p, int id, int axis, const char* format);
// The axis' range and its major tick distance (step 0: chosen by the plot); autoscaling of
// the axis ends.
int qpwSetAxisScale(PARAM_* p, int id, int axis, double min, double max, double step);

// ---- Scales (hxQwtScale) --------------------------------------------------------------------

int qwtScaleSetTitle(PARAM_* p, int id, const char* title);
int qwtScaleSetTitleColor(PARAM_* p, int id, int r, int g, int b);
int qwtScaleSetTitleFont(PARAM_* p, int id, const char* family, int pointsize, int bold,
                         int italic);
// The title's alignment within its room (an alignment).
int qwtScaleSetTitleAlignment(PARAM_* p, int id, int align);
// Room in pixels (0..1000) kept free at the start and the end of the scale.
int qwtScaleSetBorderDist(PARAM_* p, int id, int start, int end);
// Distance in pixels (0..1000) between the widget's edge and the scale's base line.
int qwtScaleSetBaselineDist(PARAM_* p, int id, int distance);
// The scale from min to max with at most maxMajor major ticks (1..1000), maxMinor minor ticks
// between two of them (0..100), major ticks step apart (0: chosen by the scale).
int qwtScaleSetScaleDiv(PARAM_* p, int id, double min, double max, int maxMajor, int maxMinor,
                        double step);
// How the labels are written: a format as qpwSetAxisScaleDraw's.
int qwtScaleSetLabelFormat(PARAM_* p, int id, const char* format);
// Where the labels stand beside their ticks (an alignment).
int qwtScaleSetLabelAlignment(PARAM_* p, int id, int align);
// The labels turned by degrees (-360..360).
int qwtScaleSetLabelRotation(PARAM_* p, int id, double degrees);
// The side of the scale: 0 left, 1 right, 2 top, 3 bottom (as hxQwtScale).
int qwtScaleSetPosition(PARAM_* p, int id, int position);

// ---- Thermometers (hxQwtThermo) -------------------------------------------------------------

// The scale and the range it shows from min to max, major ticks step apart (0: chosen by the
// widget), logarithmic when not 0 (then 0 < min < max). qwtKnobSetScale and qwtSliderSetScale
// do the same on knobs and sliders, where the range is also that of the operator's values
// (their events lie in it).
int qwtThermoSetScale(PARAM_* p, int id, double min, double max, double step, int logarithmic);
// Orientation, and the side of its scale (a scale position).
int qwtThermoSetOrientation(PARAM_* p, int id, int orientation, int position);
// The border around the pipe in pixels (0..100).
int qwtThermoSetBorderWidth(PARAM_* p, int id, int width);
// The colour of the liquid, and of the liquid above the alarm level.
int qwtThermoSetFillColor(PARAM_* p, int id, int r, int g, int b);
int qwtThermoSetAlarmColor(PARAM_* p, int id, int r, int g, int b);
int qwtThermoSetAlarmLevel(PARAM_* p, int id, double level);
int qwtThermoSetAlarmEnabled(PARAM_* p, int id, int on);
// The pipe's width in pixels (1..1000).
int qwtThermoSetPipeWidth(PARAM_* p, int id, int width);
// The range from min to max (as hxSetRange without a step).
int qwtThermoSetRange(PARAM_* p, int id, double min, double max);
// Room in pixels (0..1000) between the widget's edges and the pipe with its scale.
int qwtThermoSetMargin(PARAM_* p, int id, int margin);
// The value shown (as hxSetFloat); the same for the other value widgets below.
int qwtThermoSetValue(PARAM_* p, int id, double value);

// ---- Knobs (hxQwtKnob) ----------------------------------------------------------------------

int qwtKnobSetScale(PARAM_* p, int id, double min, double max, double step, int logarithmic);
// A knob has no mass and no orientation with this client's Qwt: the client refuses both
// lines and says so (wheels keep a mass).
int qwtKnobSetMass(PARAM_* p, int id, double mass);
int qwtKnobSetOrientation(PARAM_* p, int id, int orientation);
// While on, the operator cannot change the value (the server still can).
int qwtKnobSetReadOnly(PARAM_* p, int id, int on);
// The knob's diameter in pixels (0..1000; 0: as large as the widget allows).
int qwtKnobSetKnobWidth(PARAM_* p, int id, int width);
// The angle in degrees (10..3600) the knob turns from min to max.
int qwtKnobSetTotalAngle(PARAM_* p, int id, double angle);
int qwtKnobSetBorderWidth(PARAM_* p, int id, int width);
// The marker on the knob: 0 line, 1 dot, 2 triangle, 3 nub, 4 notch, 5 none.
int qwtKnobSetSymbol(PARAM_* p, int id, int symbol);
int qwtKnobSetValue(PARAM_* p, int id, double value);

// ---- Counters (hxQwtCounter) ----------------------------------------------------------------

// The value step of one increment (above 0).
int qwtCounterSetStep(PARAM_* p, int id, double step);
// The lowest and the highest value (the events then lie in the range).
int qwtCounterSetMinValue(PARAM_* p, int id, double min);
int qwtCounterSetMaxValue(PARAM_* p, int id, double max);
// How many steps (0..10000) the buttons of each pair move: the inner, middle, outer pair.
int qwtCounterSetStepButton1(PARAM_* p, int id, int steps);
int qwtCounterSetStepButton2(PARAM_* p, int id, int steps);
int qwtCounterSetStepButton3(PARAM_* p, int id, int steps);
// Buttons on each side (0..3).
int qwtCounterSetNumButtons(PARAM_* p, int id, int count);
// The steps of button pair 1..3 (as qwtCounterSetStepButton1..3).
int qwtCounterSetIncSteps(PARAM_* p, int id, int button, int steps);
int qwtCounterSetValue(PARAM_* p, int id, double value);

// ---- Wheels (hxQwtWheel) --------------------------------------------------------------------

// Mass of the wheel (0..100; above 0 it turns on after the mouse lets go).
int qwtWheelSetMass(PARAM_* p, int id, double mass);
int qwtWheelSetOrientation(PARAM_* p, int id, int orientation);
int qwtWheelSetReadOnly(PARAM_* p, int id, int on);
// The angle in degrees (10..3600) the wheel turns from min to max.
int qwtWheelSetTotalAngle(PARAM_* p, int id, double angle);
// Ticks shown on the wheel (1..1000).
int qwtWheelSetTickCnt(PARAM_* p, int id, int count);
// The visible arc of the wheel in degrees (10..175).
int qwtWheelSetViewAngle(PARAM_* p, int id, double angle);
// The border of the wheel's body inside the widget's frame, in pixels (1..100; the wheel
// keeps it below a third of its size).
int qwtWheelSetInternalBorder(PARAM_* p, int id, int width);
// The wheel's width across its turning direction in pixels (1..1000).
int qwtWheelSetWheelWidth(PARAM_* p, int id, int width);
int qwtWheelSetValue(PARAM_* p, int id, double value);

// ---- Sliders (hxQwtSlider) ------------------------------------------------------------------

int qwtSliderSetScale(PARAM_* p, int id, double min, double max, double step, int logarithmic);
// A slider has no mass with this client's Qwt: the client refuses the line and says so.
int qwtSliderSetMass(PARAM_* p, int id, double mass);
int qwtSliderSetOrientation(PARAM_* p, int id, int orientation);
int qwtSliderSetReadOnly(PARAM_* p, int id, int on);
// The slider's background: 1 trough, 2 slot (a groove for the handle), 3 both, 0 neither.
int qwtSliderSetBgStyle(PARAM_* p, int id, int style);
// The side of its scale (a scale position).
int qwtSliderSetScalePos(PARAM_* p, int id, int position);
// The handle's length along the slider and its width across it, in pixels (4..1000).
int qwtSliderSetThumbLength(PARAM_* p, int id, int length);
int qwtSliderSetThumbWidth(PARAM_* p, int id, int width);
int qwtSliderSetBorderWidth(PARAM_* p, int id, int width);
// Room in pixels (0..1000) between the widget's edges and the slider: xMargin at the left and
// right, yMargin at the top and bottom.
int qwtSliderSetMargins(PARAM_* p, int id, int xMargin, int yMargin);
int qwtSliderSetValue(PARAM_* p, int id, double value);

// ---- Compasses, dials and analog clocks (hxQwtCompass, hxQwtDial, hxQwtAnalogClock) --------
// The calls of the same name do the same on all three (one line of the protocol each).

// A compass rose of numThorns thorns (4..360; the rose rounds it up to a multiple of 4) in
// numThornLevels levels (-1: one level per 4 thorns, else 1..32), the thorns' width relative
// to the rose (0.03..0.4).
int qwtCompassSetSimpleCompassRose(PARAM_* p, int id, int numThorns, int numThornLevels,
                                   double width);
// The value range of a dial (as hxSetRange).
int qwtDialSetRange(PARAM_* p, int id, double min, double max, double step);
// No mass and no background switch with this client's Qwt: the client refuses these lines
// and says so.
int qwtCompassSetMass(PARAM_* p, int id, double mass);
int qwtDialSetMass(PARAM_* p, int id, double mass);
int qwtAnalogClockSetMass(PARAM_* p, int id, double mass);
int qwtCompassShowBackground(PARAM_* p, int id, int on);
int qwtDialShowBackground(PARAM_* p, int id, int on);
int qwtAnalogClockShowBackground(PARAM_* p, int id, int on);
int qwtCompassSetReadOnly(PARAM_* p, int id, int on);
int qwtDialSetReadOnly(PARAM_* p, int id, int on);
int qwtAnalogClockSetReadOnly(PARAM_* p, int id, int on);
// The shadow of the frame around the dial (a frame shadow).
int qwtCompassSetFrameShadow(PARAM_* p, int id, int shadow);
int qwtDialSetFrameShadow(PARAM_* p, int id, int shadow);
int qwtAnalogClockSetFrameShadow(PARAM_* p, int id, int shadow);
// The width of that frame in pixels (0..100).
int qwtCompassSetLineWidth(PARAM_* p, int id, int width);
int qwtDialSetLineWidth(PARAM_* p, int id, int width);
int qwtAnalogClockSetLineWidth(PARAM_* p, int id, int width);
// 0: the needle turns over a fixed scale; 1: the scale turns under a fixed needle.
int qwtCompassSetMode(PARAM_* p, int id, int mode);
int qwtDialSetMode(PARAM_* p, int id, int mode);
int qwtAnalogClockSetMode(PARAM_* p, int id, int mode);
// While on, turning past the maximum continues at the minimum and the other way round.
int qwtCompassSetWrapping(PARAM_* p, int id, int on);
int qwtDialSetWrapping(PARAM_* p, int id, int on);
int qwtAnalogClockSetWrapping(PARAM_* p, int id, int on);
// The scale's ticks: at most maxMajor major ticks (1..1000), maxMinor minor ticks between two
// of them (0..100), major ticks step apart (0: chosen by the dial).
int qwtCompassSetScale(PARAM_* p, int id, int maxMajor, int maxMinor, double step);
int qwtDialSetScale(PARAM_* p, int id, int maxMajor, int maxMinor, double step);
int qwtAnalogClockSetScale(PARAM_* p, int id, int maxMajor, int maxMinor, double step);
// The arc of the scale in degrees from minArc to maxArc (-360..360 each), clockwise from the
// origin.
int qwtCompassSetScaleArc(PARAM_* p, int id, double minArc, double maxArc);
int qwtDialSetScaleArc(PARAM_* p, int id, double minArc, double maxArc);
int qwtAnalogClockSetScaleArc(PARAM_* p, int id, double minArc, double maxArc);
// Where the scale's arc starts, in degrees clockwise from three o'clock (-360..360).
int qwtCompassSetOrigin(PARAM_* p, int id, double angle);
int qwtDialSetOrigin(PARAM_* p, int id, double angle);
int qwtAnalogClockSetOrigin(PARAM_* p, int id, double angle);
// The needle (of a clock: its three hands): 1 ray, 2 arrow (colours: the needle, its knob),
// 3 magnet needle, 4 thin magnet needle, 5 wind arrow, 6 two-coloured wind arrow (colours:
// the light and the dark half).
int qwtCompassSetNeedle(PARAM_* p, int id, int needle, int r1, int g1, int b1, int r2, int g2,
                        int b2);
int qwtDialSetNeedle(PARAM_* p, int id, int needle, int r1, int g1, int b1, int r2, int g2, int b2);
int qwtAnalogClockSetNeedle(PARAM_* p, int id, int needle, int r1, int g1, int b1, int r2, int g2,
                            int b2);
// The value the needle shows (as hxSetFloat); for a clock the seconds after 12 o'clock.
int qwtCompassSetValue(PARAM_* p, int id, double value);
int qwtDialSetValue(PARAM_* p, int id, double value);
int qwtAnalogClockSetValue(PARAM_* p, int id, double value);
// The time the clock shows: hour 0..23, minute 0..59, second 0..59.
int qwtAnalogClockSetTime(PARAM_* p, int id, int hour, int minute, int second);

#endif
