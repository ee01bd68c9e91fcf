// The Qwt widget calls against a plain socket as the client: every call's line byte for byte,
// the refusals that send nothing, the binary point block and the value ranges the calls keep.
#include <math.h>
#include <string.h>
#include <sys/socket.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hxserver.h"
#include "hxtestutil.h"

namespace {

using hxtest::Client;
using hxtest::eventually;
using hxtest::HxServerTest;

struct Call {
  std::function<int(PARAM_*)> call;
  const char* line;  // "" when the call must send nothing and fail
};

// Runs the calls in one connection after startDefinition(20) and checks what arrives.
class HxQwtTest : public HxServerTest {
 protected:
  void expectLines(const std::vector<Call>& calls) {
    std::vector<int> results;
    start([&](PARAM_* p) {
      hxStartDefinition(p, 20);
      for (const Call& c : calls)
        results.push_back(c.call(p));
      hxSendCommand(p, "end", "");
      return 0;
    });
    Client c(port());
    ASSERT_EQ("startDefinition(20)\n", c.line());
    std::string expected;
    for (const Call& call : calls)
      expected += call.line[0] ? std::string(call.line) + "\n" : "";
    expected += "end()\n";
    EXPECT_EQ(expected, c.bytes((int)expected.size()));
    ASSERT_TRUE(eventually([&] { return finished == 1; }));
    ASSERT_EQ(calls.size(), results.size());
    for (size_t i = 0; i < calls.size(); i++)
      EXPECT_EQ(calls[i].line[0] ? 0 : -1, results[i]) << "call " << i << ": " << calls[i].line;
  }
};

TEST_F(HxQwtTest, PlotCallsSendTheirLines) {
  expectLines({
      {[](PARAM_* p) { return qpwSetTitle(p, 1, "T \"1\""); }, "qpwSetTitle(1,\"T \\\"1\\\"\")"},
      {[](PARAM_* p) { return qpwSetCanvasBackground(p, 1, 0, 10, 255); },
       "qpwSetCanvasBackground(1,0,10,255)"},
      {[](PARAM_* p) { return qpwEnableOutline(p, 1, 7); }, "qpwEnableOutline(1,1)"},
      {[](PARAM_* p) { return qpwSetOutlinePen(p, 1, 1, 2, 3, 4, 5); },
       "qpwSetOutlinePen(1,1,2,3,4,5)"},
      {[](PARAM_* p) { return qpwSetAutoLegend(p, 1, 0); }, "qpwSetAutoLegend(1,0)"},
      {[](PARAM_* p) { return qpwEnableLegend(p, 1, 1); }, "qpwEnableLegend(1,1)"},
      {[](PARAM_* p) { return qpwSetLegendPos(p, 1, 3); }, "qpwSetLegendPos(1,3)"},
      {[](PARAM_* p) { return qpwSetLegendFrameStyle(p, 1, 1 | 48); },
       "qpwSetLegendFrameStyle(1,49)"},
      {[](PARAM_* p) { return qpwEnableGridXMin(p, 1, 1); }, "qpwEnableGridXMin(1,1)"},
      {[](PARAM_* p) { return qpwSetGridMajPen(p, 1, 9, 8, 7, 0, 3); },
       "qpwSetGridMajPen(1,9,8,7,0,3)"},
      {[](PARAM_* p) { return qpwSetGridMinPen(p, 1, 9, 8, 7, 2, 1); },
       "qpwSetGridMinPen(1,9,8,7,2,1)"},
      {[](PARAM_* p) { return qpwEnableAxis(p, 1, 1, 1); }, "qpwEnableAxis(1,1,1)"},
      {[](PARAM_* p) { return qpwSetAxisTitle(p, 1, 2, "t [s]"); },
       "qpwSetAxisTitle(1,2,\"t [s]\")"},
      {[](PARAM_* p) { return qpwSetAxisOptions(p, 1, 0, 8 | 16); }, "qpwSetAxisOptions(1,0,24)"},
      {[](PARAM_* p) { return qpwSetAxisMaxMajor(p, 1, 0, 5); }, "qpwSetAxisMaxMajor(1,0,5)"},
      {[](PARAM_* p) { return qpwSetAxisMaxMinor(p, 1, 3, 0); }, "qpwSetAxisMaxMinor(1,3,0)"},
      {[](PARAM_* p) { return qpwInsertCurve(p, 1, 2, "sin"); }, "plotCurve(1,2,\"sin\")"},
      {[](PARAM_* p) { return qpwRemoveCurve(p, 1, 2); }, "qpwRemoveCurve(1,2)"},
      {[](PARAM_* p) { return qpwSetCurvePen(p, 1, 0, 255, 0, 0, 3, 1); },
       "qpwSetCurvePen(1,0,255,0,0,3,1)"},
      {[](PARAM_* p) { return qpwSetCurveSymbol(p, 1, 0, 14, 1, 2, 3, 4, 5, 6, 7, 8); },
       "qpwSetCurveSymbol(1,0,14,1,2,3,4,5,6,7,8)"},
      {[](PARAM_* p) { return qpwSetCurveYAxis(p, 1, 0, 1); }, "qpwSetCurveYAxis(1,0,1)"},
      {[](PARAM_* p) { return qpwInsertMarker(p, 1, 4); }, "qpwInsertMarker(1,4)"},
      {[](PARAM_* p) { return qpwSetMarkerLineStyle(p, 1, 4, 3); }, "qpwSetMarkerLineStyle(1,4,3)"},
      {[](PARAM_* p) { return qpwSetMarkerPos(p, 1, 4, 0.1, -2e30); },
       "qpwSetMarkerPos(1,4,0.1,-2e+30)"},
      {[](PARAM_* p) { return qpwSetMarkerLabelAlign(p, 1, 4, 1 | 32); },
       "qpwSetMarkerLabelAlign(1,4,33)"},
      {[](PARAM_* p) { return qpwSetMarkerPen(p, 1, 4, 0, 0, 0, 100, 0); },
       "qpwSetMarkerPen(1,4,0,0,0,100,0)"},
      {[](PARAM_* p) { return qpwSetMarkerLabel(p, 1, 4, "max"); },
       "qpwSetMarkerLabel(1,4,\"max\")"},
      {[](PARAM_* p) { return qpwSetMarkerFont(p, 1, 4, "Sans", 12, 5, 0); },
       "qpwSetMarkerFont(1,4,\"Sans\",12,1,0)"},
      {[](PARAM_* p) { return qpwSetMarkerSymbol(p, 1, 4, -1, 0, 0, 0, 0, 0, 0, 1, 1); },
       "qpwSetMarkerSymbol(1,4,-1,0,0,0,0,0,0,1,1)"},
      {[](PARAM_* p) { return qpwInsertLineMarker(p, 1, 5, "limit", 0); },
       "qpwInsertLineMarker(1,5,\"limit\",0)"},
      {[](PARAM_* p) { return qpwSetAxisScaleDraw(p, 1, 2, "time:hh:mm"); },
       "qpwSetAxisScaleDraw(1,2,\"time:hh:mm\")"},
      {[](PARAM_* p) { return qpwSetAxisScale(p, 1, 2, -1.5, 1e3, 0); },
       "qpwSetAxisScale(1,2,-1.5,1000,0)"},
      {[](PARAM_* p) { return qpwReplot(p, 1); }, "replot(1)"},
  });
}

TEST_F(HxQwtTest, ScaleAndValueWidgetCallsSendTheirLines) {
  expectLines({
      {[](PARAM_* p) { return qwtScaleSetTitle(p, 2, "bar"); }, "qwtScaleSetTitle(2,\"bar\")"},
      {[](PARAM_* p) { return qwtScaleSetTitleColor(p, 2, 1, 2, 3); },
       "qwtScaleSetTitleColor(2,1,2,3)"},
      {[](PARAM_* p) { return qwtScaleSetTitleFont(p, 2, "Serif", 9, 0, 1); },
       "qwtScaleSetTitleFont(2,\"Serif\",9,0,1)"},
      {[](PARAM_* p) { return qwtScaleSetTitleAlignment(p, 2, 4); },
       "qwtScaleSetTitleAlignment(2,4)"},
      {[](PARAM_* p) { return qwtScaleSetBorderDist(p, 2, 5, 6); }, "qwtScaleSetBorderDist(2,5,6)"},
      {[](PARAM_* p) { return qwtScaleSetBaselineDist(p, 2, 7); }, "qwtScaleSetBaselineDist(2,7)"},
      {[](PARAM_* p) { return qwtScaleSetScaleDiv(p, 2, 0, 100, 10, 5, 25); },
       "qwtScaleSetScaleDiv(2,0,100,10,5,25)"},
      {[](PARAM_* p) { return qwtScaleSetLabelFormat(p, 2, "%.1f"); },
       "qwtScaleSetLabelFormat(2,\"%.1f\")"},
      {[](PARAM_* p) { return qwtScaleSetLabelAlignment(p, 2, 128); },
       "qwtScaleSetLabelAlignment(2,128)"},
      {[](PARAM_* p) { return qwtScaleSetLabelRotation(p, 2, -45); },
       "qwtScaleSetLabelRotation(2,-45)"},
      {[](PARAM_* p) { return qwtScaleSetPosition(p, 2, 3); }, "qwtScaleSetPosition(2,3)"},
      {[](PARAM_* p) { return qwtThermoSetScale(p, 3, 1, 1000, 0, 1); },
       "qwtSetScale(3,1,1000,0,1)"},
      {[](PARAM_* p) { return qwtThermoSetOrientation(p, 3, 1, 4); },
       "qwtThermoSetOrientation(3,1,4)"},
      {[](PARAM_* p) { return qwtThermoSetBorderWidth(p, 3, 2); }, "qwtSetBorderWidth(3,2)"},
      {[](PARAM_* p) { return qwtThermoSetFillColor(p, 3, 0, 0, 255); },
       "qwtThermoSetFillColor(3,0,0,255)"},
      {[](PARAM_* p) { return qwtThermoSetAlarmColor(p, 3, 255, 0, 0); },
       "qwtThermoSetAlarmColor(3,255,0,0)"},
      {[](PARAM_* p) { return qwtThermoSetAlarmLevel(p, 3, 80.5); },
       "qwtThermoSetAlarmLevel(3,80.5)"},
      {[](PARAM_* p) { return qwtThermoSetAlarmEnabled(p, 3, 1); },
       "qwtThermoSetAlarmEnabled(3,1)"},
      {[](PARAM_* p) { return qwtThermoSetPipeWidth(p, 3, 12); }, "qwtThermoSetPipeWidth(3,12)"},
      {[](PARAM_* p) { return qwtThermoSetRange(p, 3, 0, 100); }, "setRange(3,0,100,0)"},
      {[](PARAM_* p) { return qwtThermoSetMargin(p, 3, 4); }, "qwtThermoSetMargin(3,4)"},
      {[](PARAM_* p) { return qwtThermoSetValue(p, 3, 42.25); }, "setFloat(3,42.25)"},
      {[](PARAM_* p) { return qwtKnobSetMass(p, 4, 1); }, "qwtSetMass(4,1)"},
      {[](PARAM_* p) { return qwtKnobSetOrientation(p, 4, 2); }, "qwtSetOrientation(4,2)"},
      {[](PARAM_* p) { return qwtKnobSetReadOnly(p, 4, 1); }, "qwtSetReadOnly(4,1)"},
      {[](PARAM_* p) { return qwtKnobSetKnobWidth(p, 4, 50); }, "qwtKnobSetKnobWidth(4,50)"},
      {[](PARAM_* p) { return qwtKnobSetTotalAngle(p, 4, 270); }, "qwtSetTotalAngle(4,270)"},
      {[](PARAM_* p) { return qwtKnobSetSymbol(p, 4, 1); }, "qwtKnobSetSymbol(4,1)"},
      {[](PARAM_* p) { return qwtCounterSetStep(p, 5, 0.5); }, "qwtCounterSetStep(5,0.5)"},
      {[](PARAM_* p) { return qwtCounterSetMinValue(p, 5, -10); }, "qwtCounterSetMinValue(5,-10)"},
      {[](PARAM_* p) { return qwtCounterSetMaxValue(p, 5, 10); }, "qwtCounterSetMaxValue(5,10)"},
      {[](PARAM_* p) { return qwtCounterSetStepButton1(p, 5, 1); }, "qwtCounterSetIncSteps(5,1,1)"},
      {[](PARAM_* p) { return qwtCounterSetStepButton3(p, 5, 100); },
       "qwtCounterSetIncSteps(5,3,100)"},
      {[](PARAM_* p) { return qwtCounterSetNumButtons(p, 5, 2); }, "qwtCounterSetNumButtons(5,2)"},
      {[](PARAM_* p) { return qwtWheelSetMass(p, 6, 0.5); }, "qwtSetMass(6,0.5)"},
      {[](PARAM_* p) { return qwtWheelSetTickCnt(p, 6, 20); }, "qwtWheelSetTickCnt(6,20)"},
      {[](PARAM_* p) { return qwtWheelSetViewAngle(p, 6, 90); }, "qwtWheelSetViewAngle(6,90)"},
      {[](PARAM_* p) { return qwtWheelSetInternalBorder(p, 6, 3); },
       "qwtWheelSetInternalBorder(6,3)"},
      {[](PARAM_* p) { return qwtWheelSetWheelWidth(p, 6, 30); }, "qwtWheelSetWheelWidth(6,30)"},
      {[](PARAM_* p) { return qwtSliderSetBgStyle(p, 7, 3); }, "qwtSliderSetBgStyle(7,3)"},
      {[](PARAM_* p) { return qwtSliderSetScalePos(p, 7, 1); }, "qwtSliderSetScalePos(7,1)"},
      {[](PARAM_* p) { return qwtSliderSetThumbLength(p, 7, 30); },
       "qwtSliderSetThumbLength(7,30)"},
      {[](PARAM_* p) { return qwtSliderSetThumbWidth(p, 7, 10); }, "qwtSliderSetThumbWidth(7,10)"},
      {[](PARAM_* p) { return qwtSliderSetMargins(p, 7, 5, 6); }, "qwtSliderSetMargins(7,5,6)"},
      {[](PARAM_* p) { return qwtCompassSetSimpleCompassRose(p, 8, 16, 2, 0.2); },
       "qwtCompassSetSimpleCompassRose(8,16,2,0.2)"},
      {[](PARAM_* p) { return qwtDialSetRange(p, 9, 0, 360, 1); }, "setRange(9,0,360,1)"},
      {[](PARAM_* p) { return qwtCompassShowBackground(p, 8, 1); }, "qwtDialShowBackground(8,1)"},
      {[](PARAM_* p) { return qwtDialSetFrameShadow(p, 9, 48); }, "qwtDialSetFrameShadow(9,48)"},
      {[](PARAM_* p) { return qwtAnalogClockSetLineWidth(p, 10, 4); }, "qwtDialSetLineWidth(10,4)"},
      {[](PARAM_* p) { return qwtDialSetMode(p, 9, 1); }, "qwtDialSetMode(9,1)"},
      {[](PARAM_* p) { return qwtCompassSetWrapping(p, 8, 1); }, "qwtSetWrapping(8,1)"},
      {[](PARAM_* p) { return qwtDialSetScale(p, 9, 10, 4, 30); }, "qwtDialSetScale(9,10,4,30)"},
      {[](PARAM_* p) { return qwtDialSetScaleArc(p, 9, 45, 315); }, "qwtDialSetScaleArc(9,45,315)"},
      {[](PARAM_* p) { return qwtDialSetOrigin(p, 9, 135); }, "qwtDialSetOrigin(9,135)"},
      {[](PARAM_* p) { return qwtAnalogClockSetNeedle(p, 10, 2, 1, 2, 3, 4, 5, 6); },
       "qwtDialSetNeedle(10,2,1,2,3,4,5,6)"},
      {[](PARAM_* p) { return qwtAnalogClockSetValue(p, 10, 3600); }, "setFloat(10,3600)"},
      {[](PARAM_* p) { return qwtAnalogClockSetTime(p, 10, 23, 59, 0); },
       "qwtAnalogClockSetTime(10,23,59,0)"},
  });
}

// Each of these must send nothing: ids outside the mask, arguments out of range, values that
// are not finite.
TEST_F(HxQwtTest, ArgumentsOutOfRangeSendNothing) {
  std::vector<Call> calls;
  for (auto f : std::vector<std::function<int(PARAM_*)>>{
           [](PARAM_* p) { return qpwSetTitle(p, 20, "id outside"); },
           [](PARAM_* p) { return qpwSetTitle(p, -1, "negative id"); },
           [](PARAM_* p) { return qpwSetTitle(p, 1, nullptr); },
           [](PARAM_* p) { return qpwSetCanvasBackground(p, 1, 256, 0, 0); },
           [](PARAM_* p) { return qpwSetOutlinePen(p, 1, 0, 0, 0, 101, 1); },
           [](PARAM_* p) { return qpwSetGridMajPen(p, 1, 0, 0, 0, 1, 6); },
           [](PARAM_* p) { return qpwSetLegendPos(p, 1, 4); },
           [](PARAM_* p) { return qpwSetLegendFrameStyle(p, 1, 7); },
           [](PARAM_* p) { return qpwSetLegendFrameStyle(p, 1, 64 | 1); },
           [](PARAM_* p) { return qpwEnableAxis(p, 1, 4, 1); },
           [](PARAM_* p) { return qpwSetAxisOptions(p, 1, 0, 32); },
           [](PARAM_* p) { return qpwSetAxisMaxMajor(p, 1, 0, 0); },
           [](PARAM_* p) { return qpwSetAxisMaxMinor(p, 1, 0, 101); },
           [](PARAM_* p) { return qpwRemoveCurve(p, 1, -1); },
           [](PARAM_* p) { return qpwSetCurveSymbol(p, 1, 0, 15, 0, 0, 0, 0, 0, 0, 5, 5); },
           [](PARAM_* p) { return qpwSetCurveSymbol(p, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 5); },
           [](PARAM_* p) { return qpwSetCurveYAxis(p, 1, 0, 2); },
           [](PARAM_* p) { return qpwSetMarkerLineStyle(p, 1, 0, 4); },
           [](PARAM_* p) { return qpwSetMarkerPos(p, 1, 0, NAN, 0); },
           [](PARAM_* p) { return qpwSetMarkerLabelAlign(p, 1, 0, 8); },
           [](PARAM_* p) { return qpwSetMarkerFont(p, 1, 0, "Sans", 0, 0, 0); },
           [](PARAM_* p) { return qpwSetMarkerFont(p, 1, 0, nullptr, 10, 0, 0); },
           [](PARAM_* p) { return qpwSetAxisScale(p, 1, 0, 0, INFINITY, 1); },
           [](PARAM_* p) { return qpwSetAxisScale(p, 1, 0, 0, 1, -1); },
           [](PARAM_* p) { return qwtScaleSetBorderDist(p, 2, -1, 0); },
           [](PARAM_* p) { return qwtScaleSetScaleDiv(p, 2, 0, 1, 0, 0, 0); },
           [](PARAM_* p) { return qwtScaleSetLabelRotation(p, 2, 361); },
           [](PARAM_* p) { return qwtScaleSetPosition(p, 2, 4); },
           [](PARAM_* p) { return qwtThermoSetScale(p, 3, 0, 100, 0, 1); },  // log from 0
           [](PARAM_* p) { return qwtThermoSetOrientation(p, 3, 0, 1); },
           [](PARAM_* p) { return qwtThermoSetOrientation(p, 3, 1, 5); },
           [](PARAM_* p) { return qwtThermoSetPipeWidth(p, 3, 0); },
           [](PARAM_* p) { return qwtThermoSetAlarmLevel(p, 3, NAN); },
           [](PARAM_* p) { return qwtKnobSetSymbol(p, 4, 6); },
           [](PARAM_* p) { return qwtKnobSetTotalAngle(p, 4, 5); },
           [](PARAM_* p) { return qwtCounterSetStep(p, 5, 0); },
           [](PARAM_* p) { return qwtCounterSetIncSteps(p, 5, 0, 1); },
           [](PARAM_* p) { return qwtCounterSetNumButtons(p, 5, 4); },
           [](PARAM_* p) { return qwtWheelSetMass(p, 6, 101); },
           [](PARAM_* p) { return qwtWheelSetViewAngle(p, 6, 180); },
           [](PARAM_* p) { return qwtWheelSetInternalBorder(p, 6, 0); },
           [](PARAM_* p) { return qwtSliderSetBgStyle(p, 7, 4); },
           [](PARAM_* p) { return qwtSliderSetThumbLength(p, 7, 3); },
           [](PARAM_* p) { return qwtCompassSetSimpleCompassRose(p, 8, 2, 1, 0.2); },
           [](PARAM_* p) { return qwtCompassSetSimpleCompassRose(p, 8, 8, 33, 0.2); },
           [](PARAM_* p) { return qwtCompassSetSimpleCompassRose(p, 8, 8, 1, 0.5); },
           [](PARAM_* p) { return qwtDialSetFrameShadow(p, 9, 0); },
           [](PARAM_* p) { return qwtDialSetMode(p, 9, 2); },
           [](PARAM_* p) { return qwtDialSetScaleArc(p, 9, 0, 400); },
           [](PARAM_* p) { return qwtDialSetNeedle(p, 9, 0, 0, 0, 0, 0, 0, 0); },
           [](PARAM_* p) { return qwtDialSetNeedle(p, 9, 7, 0, 0, 0, 0, 0, 0); },
           [](PARAM_* p) { return qwtAnalogClockSetTime(p, 10, 24, 0, 0); },
           [](PARAM_* p) { return qwtAnalogClockSetTime(p, 10, 0, 0, 60); },
           [](PARAM_* p) { return qwtDialSetValue(p, 9, NAN); },
       })
    calls.push_back({f, ""});
  expectLines(calls);
}

// The buffered points: x values, then y values, 8 bytes each, most significant first.
TEST_F(HxQwtTest, BufferedCurveDataIsOneBinaryBlock) {
  std::vector<int> results;
  std::vector<double> bigX(5000), bigY(5000);
  for (int i = 0; i < 5000; i++) {
    bigX[(size_t)i] = i;
    bigY[(size_t)i] = -i * 0.5;
  }
  start([&](PARAM_* p) {
    double x[] = {1.0, -0.5}, y[] = {0.1, 1e-300}, bad[] = {0, INFINITY};
    results = {qpwSetBufferedCurveData(p, 1, 0, x, y, 2),
               qpwSetBufferedCurveData(p, 1, 0, x, bad, 2),
               qpwSetBufferedCurveData(p, 1, 0, nullptr, y, 2),
               qpwSetBufferedCurveData(p, 1, -1, x, y, 2),
               qpwSetBufferedCurveData(p, 1, 0, x, y, HX_MAX_CURVE_POINTS + 1),
               qpwSetBufferedCurveData(p, 1, 2, nullptr, nullptr, 0),
               qpwSetBufferedCurveData(p, 1, 1, bigX.data(), bigY.data(), 5000),
               qpwSetCurveData(p, 1, 3, x, y, 1)};
    return 0;
  });
  Client c(port());
  auto be = [](double v) {
    uint64_t bits;
    memcpy(&bits, &v, 8);
    std::string s;
    for (int i = 7; i >= 0; i--)
      s += (char)(bits >> (8 * i));
    return s;
  };
  EXPECT_EQ("qpwSetBufferedCurveData(1,0,2)\n", c.line());
  EXPECT_EQ(be(1.0) + be(-0.5) + be(0.1) + be(1e-300), c.bytes(32));
  EXPECT_EQ("qpwSetBufferedCurveData(1,2,0)\n", c.line());
  EXPECT_EQ("qpwSetBufferedCurveData(1,1,5000)\n", c.line());
  std::string block = c.bytes(80000);
  ASSERT_EQ(80000u, block.size());
  EXPECT_EQ(be(4999), block.substr(4999 * 8, 8));
  EXPECT_EQ(be(-2499.5), block.substr(79992, 8));
  EXPECT_EQ("plotData(1,3,1)\n", c.line());
  EXPECT_EQ("1,0.1\n", c.line());
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ((std::vector<int>{0, -1, -1, -1, -1, 0, 0, 0}), results);
}

// Scales and counter ends become the range in which the widget's value events are taken.
TEST_F(HxQwtTest, ScalesBoundTheValueEvents) {
  std::vector<std::string> events;
  start([&](PARAM_* p) {
    hxStartDefinition(p, 10);
    qwtKnobSetScale(p, 4, 0, 10, 1, 0);
    hxSetRange(p, 5, 0, 100, 1);
    qwtCounterSetMaxValue(p, 5, 20);
    qwtCounterSetMinValue(p, 6, -5);  // no range known: nothing to narrow
    hxSendCommand(p, "ready", "");
    std::vector<char> buf(HX_EVENT_BUFSIZE);
    while (hxPollEvent(p, buf.data()) == 0)
      if (strcmp(buf.data(), "idle") != 0) events.push_back(buf.data());
    return 0;
  });
  Client c(port());
  while (c.line() != "ready()\n") {
  }
  c.send("slider(4,11)\nslider(4,10)\nslider(5,21)\nslider(5,20)\nslider(6,-100)\n");
  shutdown(c.fd, SHUT_WR);
  ASSERT_TRUE(eventually([&] { return finished == 1; }));
  EXPECT_EQ((std::vector<std::string>{"slider(4,10)", "slider(5,20)", "slider(6,-100)"}), events);
}

}  // namespace
