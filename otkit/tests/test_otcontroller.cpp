#include "otcontroller.h"

#include <gtest/gtest.h>

#include <math.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

// The callbacks are plain functions: the error they produce and what they saw live here.
double gError = 0.0;
std::vector<double> gOutputs;
double measureError() {
  return -gError;  // with reference 0 the controller sees exactly gError
}
void recordOutput(double y) {
  gOutputs.push_back(y);
}

// Exposes the coefficients and single steps, so that a step sequence runs in the test's thread.
class Probe : public otController {
 public:
  Probe() : otController(measureError, recordOutput) {
    gOutputs.clear();
    gError = 0.0;
  }
  using otController::c1;
  using otController::c2;
  using otController::cD;
  using otController::d0;
  using otController::d1;
  using otController::d2;
  using otController::dD;
  using otController::dI;
  using otController::integral;
  using otController::sleepTime;
  using otController::type;
  void steps(int n) {
    for (int i = 0; i < n; i++)
      controlStep();
  }
};

// Parameters of the closed-form cases; h = T / 2.
const double T = 0.2, h = 0.1, Kp = 2.0, TI = 0.5, TD = 0.3, T1 = 0.4, TN = 0.8, TV = 0.6;
const double E = 1.5;  // constant error from step 0 on
const double c = (T1 - h) / (T1 + h);

struct ClosedForm {
  const char* name;
  std::function<void(otController&)> set;
  int type;
  std::function<double(int)> y;  // output of step k for the constant error E
};

// Step responses derived by hand from the transfer functions: the direct forms are the
// bilinear transforms, PID-T1 is a PI followed by a lead-lag (TV over T1) element, and the
// sum forms answer one step later through their integral and derivative parts.
std::vector<ClosedForm> closedForms() {
  const double A = Kp * E * (1 + h / TN);  // PI output ramp, start and slope
  const double B = Kp * E * T / TN;
  const double a = (TV + h) / (T1 + h);
  return {
      {"P", [](otController& k) { k.setP(T, Kp); }, 1, [](int) { return Kp * E; }},
      {"I", [](otController& k) { k.setI(T, TI); }, 2,
       [](int n) { return T / TI * E * (n + 0.5); }},
      {"D_T1", [](otController& k) { k.setD_T1(T, TD, T1); }, 3,
       [](int n) { return TD * E / (T1 + h) * pow(c, n); }},
      {"PI", [](otController& k) { k.setPI(T, Kp, TN); }, 4,
       [](int n) { return Kp * E * (1 + T * (n + 0.5) / TN); }},
      {"PD_T1", [](otController& k) { k.setPD_T1(T, Kp, TV, T1); }, 5,
       [](int n) { return Kp * E * (1 + (TV - T1) / (T1 + h) * pow(c, n)); }},
      {"PID_T1", [](otController& k) { k.setPID_T1(T, Kp, TN, TV, T1); }, 6,
       [=](int n) {
         const double p = B * (TV - T1) / T;
         return A + B * n + p + (a * A - A - p) * pow(c, n);
       }},
      {"PI_SUM", [](otController& k) { k.setPI_SUM(T, Kp, TN); }, 7,
       [](int n) { return n == 0 ? Kp * E : Kp * E * (1 + T * (n - 0.5) / TN); }},
      {"PD_T1_SUM", [](otController& k) { k.setPD_T1_SUM(T, Kp, TV, T1); }, 8,
       [](int n) { return n == 0 ? Kp * E : Kp * E + Kp * TV / (T1 + h) * E * pow(c, n - 1); }},
      {"PID_T1_SUM", [](otController& k) { k.setPID_T1_SUM(T, Kp, TN, TV, T1); }, 9,
       [](int n) {
         return n == 0 ? Kp * E
                       : Kp * E * (1 + T * (n - 0.5) / TN) + Kp * TV / (T1 + h) * E * pow(c, n - 1);
       }},
  };
}

}  // namespace

TEST(otControllerSteps, EveryTypeFollowsItsStepResponse) {
  for (const ClosedForm& form : closedForms()) {
    SCOPED_TRACE(form.name);
    Probe k;
    form.set(k);
    EXPECT_EQ(k.type, form.type);
    EXPECT_EQ(k.sleepTime, 200);
    gError = E;
    k.steps(6);
    ASSERT_EQ(gOutputs.size(), 6u);
    for (int n = 0; n < 6; n++)
      EXPECT_NEAR(gOutputs[n], form.y(n), 1e-9) << "step " << n;
  }
}

TEST(otControllerSteps, CoefficientsOfHandCheckedCases) {
  Probe k;
  k.setPI(0.1, 2, 1);
  EXPECT_DOUBLE_EQ(k.d0, 2.1);
  EXPECT_DOUBLE_EQ(k.d1, -1.9);
  EXPECT_DOUBLE_EQ(k.c1, 1.0);
  // T = 1, Kp = 2, TN = 1, TV = T1 = 1.5: f = 2.
  k.setPID_T1(1, 2, 1, 1.5, 1.5);
  EXPECT_DOUBLE_EQ(k.d0, 3.0);
  EXPECT_DOUBLE_EQ(k.d1, -2.5);
  EXPECT_DOUBLE_EQ(k.d2, 0.5);
  EXPECT_DOUBLE_EQ(k.c1, 1.5);
  EXPECT_DOUBLE_EQ(k.c2, -0.5);
  k.setPID_T1_SUM(1, 2, 1, 1.5, 1.5);
  EXPECT_DOUBLE_EQ(k.dI, 1.0);
  EXPECT_DOUBLE_EQ(k.cD, 0.5);
  EXPECT_DOUBLE_EQ(k.dD, 1.5);
  k.setD_T1(1, 1, 0.5);
  EXPECT_DOUBLE_EQ(k.d0, 1.0);
  EXPECT_DOUBLE_EQ(k.d1, -1.0);
  EXPECT_DOUBLE_EQ(k.c1, 0.0);
}

TEST(otControllerSteps, NonsenseTimesAreRefusedAndChangeNothing) {
  Probe k;
  ASSERT_EQ(k.setP(0.5, 3), 0);
  EXPECT_EQ(k.setP(0, 1), -1);
  EXPECT_EQ(k.setP(-0.1, 1), -1);
  EXPECT_EQ(k.setP(NAN, 1), -1);
  EXPECT_EQ(k.setI(0.1, 0), -1);
  EXPECT_EQ(k.setPI(0.1, 1, 0), -1);
  EXPECT_EQ(k.setPID_T1(0.1, 1, 1, 1, -0.05), -1);  // T1 + h would be 0
  EXPECT_EQ(k.setPD_T1_SUM(0.1, 1, 1, -0.05), -1);
  EXPECT_EQ(k.type, 1);
  EXPECT_EQ(k.sleepTime, 500);
  EXPECT_EQ(k.d0, 3.0);
}

TEST(otControllerSteps, LimitsClampOutputAndIntegral) {
  Probe k;
  EXPECT_EQ(k.type, -1);
  gError = 3;
  k.steps(1);
  EXPECT_EQ(gOutputs.back(), 0.0);  // no type: the output stays as it was

  k.setP(0.1, 5);
  k.setLimits(0, 10);
  k.steps(1);
  EXPECT_EQ(gOutputs.back(), 10.0);
  gError = -1;
  k.steps(1);
  EXPECT_EQ(gOutputs.back(), 0.0);
  k.resetLimits();
  k.steps(1);
  EXPECT_EQ(gOutputs.back(), -5.0);

  // The integral of a sum form stops at the limit instead of winding up.
  k.setPI_SUM(1, 1, 0.5);
  k.setLimits(-10, 10);
  gError = 4;
  k.steps(20);
  EXPECT_EQ(k.integral, 10.0);
  EXPECT_EQ(gOutputs.back(), 10.0);
  gError = -4;
  k.steps(1);
  EXPECT_EQ(gOutputs.back(), 6.0);  // -4 + the clamped integral
}

namespace {

std::atomic<int> gCalls{0};
std::atomic<otController*> gStopFromCallback{nullptr};
std::atomic<int> gStopAfter{0};

double countingMeasurement() {
  return 1.0;
}
void countingOutput(double) {
  int n = ++gCalls;
  otController* k = gStopFromCallback.load();
  if (k != nullptr && n == gStopAfter) k->stop();
}

// Waits until pred holds, at most 20 s (a stuck controller fails instead of hanging).
bool waitFor(const std::function<bool()>& pred) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace

TEST(otControllerThread, CallsTheCallbacksOncePerPeriodAndStopsCleanly) {
  gCalls = 0;
  gStopFromCallback = nullptr;
  otController k(countingMeasurement, countingOutput);
  ASSERT_EQ(k.setP(0.02, 1), 0);
  auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(k.start(), 0);
  EXPECT_EQ(k.start(), -1);  // never a second thread
  ASSERT_TRUE(waitFor([] { return gCalls >= 5; }));
  // Each step sleeps one period first, so five steps cannot come sooner.
  EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(5 * 20));
  EXPECT_EQ(k.stop(), 0);
  EXPECT_EQ(k.isRunning(), 0);
  int after = gCalls;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(gCalls, after);   // the thread is gone
  EXPECT_EQ(k.trylock(), 1);  // and did not leave the lock taken
  k.unlock();

  // Restartable.
  ASSERT_EQ(k.start(), 0);
  ASSERT_TRUE(waitFor([&] { return gCalls >= after + 2; }));
  k.stop();
}

TEST(otControllerThread, StopCutsALongSleepShort) {
  gCalls = 0;
  gStopFromCallback = nullptr;
  otController k(countingMeasurement, countingOutput);
  ASSERT_EQ(k.setP(60, 1), 0);
  ASSERT_EQ(k.start(), 0);
  auto begin = std::chrono::steady_clock::now();
  k.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
  EXPECT_EQ(gCalls, 0);
}

TEST(otControllerThread, StopFromTheOutputCallbackEndsTheThread) {
  gCalls = 0;
  auto k = std::make_unique<otController>(countingMeasurement, countingOutput);
  k->sleepFlag = 0;  // steps back to back
  k->setP(0.01, 1);
  gStopAfter = 3;
  gStopFromCallback = k.get();
  ASSERT_EQ(k->start(), 0);
  ASSERT_EQ(k->join(nullptr), 0);  // would hang if the callback waited for its own thread
  EXPECT_EQ(gCalls, 3);
  EXPECT_EQ(k->isRunning(), 0);
  gStopFromCallback = nullptr;
  k.reset();
}
