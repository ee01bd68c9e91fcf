#include "otcontroller.h"

#include <limits.h>
#include <math.h>

#include <chrono>

namespace {

// The controller whose control thread is running this code, if any: stop() called from a
// callback must not wait for its own thread.
thread_local const otController* currentController = nullptr;

// Holds the otThread lock for one scope.
class ThreadLock {
 public:
  explicit ThreadLock(otThread* thread) : thread_(thread) { thread_->lock(); }
  ~ThreadLock() { thread_->unlock(); }
  ThreadLock(const ThreadLock&) = delete;
  ThreadLock& operator=(const ThreadLock&) = delete;

 private:
  otThread* thread_;
};

// NaN fails every comparison, so these refuse it too.
bool positive(double value) {
  return value > 0.0;
}

bool notNegative(double value) {
  return value >= 0.0;
}

}  // namespace

otController::otController(double (*getMeasurement)(), void (*writeOutput)(double))
    : sleepFlag(1),
      T(0),
      Kp(0),
      TI(0),
      TD(0),
      T1(0),
      TN(0),
      TV(0),
      reference(0),
      type(-1),
      runFlag(0),
      d0(0),
      d1(0),
      d2(0),
      c1(0),
      c2(0),
      dI(0),
      dD(0),
      cD(0),
      y0(0),
      y1(0),
      y2(0),
      e0(0),
      e1(0),
      e2(0),
      integral(0),
      oldIntegral(0),
      derivative(0),
      oldDerivative(0),
      sleepTime(0),
      measurement(getMeasurement),
      output(writeOutput),
      lastMeasurement(0),
      lowerLimit(-999999.0),
      upperLimit(999999.0),
      limitsEnabled(0) {}

otController::~otController() {
  stop();
}

void otController::setReference(double value) {
  ThreadLock lock(this);
  reference = value;
}

void otController::setType(int newType, double newT) {
  type = newType;
  T = newT;
  const double ms = newT * 1000.0;
  sleepTime = ms >= (double)INT_MAX ? INT_MAX : (int)lround(ms);
  d0 = d1 = d2 = c1 = c2 = 0.0;
  dI = dD = cD = 0.0;
}

int otController::setP(double period, double gain) {
  if (!positive(period)) return -1;
  ThreadLock lock(this);
  setType(TYPE_P, period);
  Kp = gain;
  d0 = gain;
  return 0;
}

int otController::setI(double period, double ti) {
  if (!positive(period) || !positive(ti)) return -1;
  ThreadLock lock(this);
  setType(TYPE_I, period);
  TI = ti;
  d0 = d1 = period / (2.0 * ti);
  c1 = 1.0;
  return 0;
}

int otController::setD_T1(double period, double td, double t1) {
  if (!positive(period) || !notNegative(t1)) return -1;
  ThreadLock lock(this);
  setType(TYPE_D_T1, period);
  TD = td;
  T1 = t1;
  const double h = period / 2.0;
  d0 = td / (t1 + h);
  d1 = -td / (t1 + h);
  c1 = (t1 - h) / (t1 + h);
  return 0;
}

int otController::setPI(double period, double gain, double tn) {
  if (!positive(period) || !positive(tn)) return -1;
  ThreadLock lock(this);
  setType(TYPE_PI, period);
  Kp = gain;
  TN = tn;
  const double h = period / 2.0;
  d0 = gain * (tn + h) / tn;
  d1 = -gain * (tn - h) / tn;
  c1 = 1.0;
  return 0;
}

int otController::setPD_T1(double period, double gain, double tv, double t1) {
  if (!positive(period) || !notNegative(t1)) return -1;
  ThreadLock lock(this);
  setType(TYPE_PD_T1, period);
  Kp = gain;
  TV = tv;
  T1 = t1;
  const double h = period / 2.0;
  d0 = gain * (tv + h) / (t1 + h);
  d1 = -gain * (tv - h) / (t1 + h);
  c1 = (t1 - h) / (t1 + h);
  return 0;
}

int otController::setPID_T1(double period, double gain, double tn, double tv, double t1) {
  if (!positive(period) || !positive(tn) || !notNegative(t1)) return -1;
  ThreadLock lock(this);
  setType(TYPE_PID_T1, period);
  Kp = gain;
  TN = tn;
  TV = tv;
  T1 = t1;
  const double h = period / 2.0;
  const double f = t1 + h;
  d0 = gain * (tn + h) / tn * (tv + h) / f;
  d1 = -2.0 * gain * (tn * tv - h * h) / (tn * f);
  d2 = gain * (tn - h) / tn * (tv - h) / f;
  c1 = 2.0 * t1 / f;
  c2 = -(t1 - h) / f;
  return 0;
}

int otController::setPI_SUM(double period, double gain, double tn) {
  if (!positive(period) || !positive(tn)) return -1;
  ThreadLock lock(this);
  setType(TYPE_PI_SUM, period);
  Kp = gain;
  TN = tn;
  dI = period / 2.0 * gain / tn;
  return 0;
}

int otController::setPD_T1_SUM(double period, double gain, double tv, double t1) {
  if (!positive(period) || !notNegative(t1)) return -1;
  ThreadLock lock(this);
  setType(TYPE_PD_T1_SUM, period);
  Kp = gain;
  TV = tv;
  T1 = t1;
  const double h = period / 2.0;
  cD = (t1 - h) / (t1 + h);
  dD = gain * tv / (t1 + h);
  return 0;
}

int otController::setPID_T1_SUM(double period, double gain, double tn, double tv, double t1) {
  if (!positive(period) || !positive(tn) || !notNegative(t1)) return -1;
  ThreadLock lock(this);
  setType(TYPE_PID_T1_SUM, period);
  Kp = gain;
  TN = tn;
  TV = tv;
  T1 = t1;
  const double h = period / 2.0;
  dI = period * gain / (2.0 * tn);
  cD = (t1 - h) / (t1 + h);
  dD = gain * tv / (t1 + h);
  return 0;
}

void otController::setLimits(double min, double max) {
  ThreadLock lock(this);
  lowerLimit = min;
  upperLimit = max;
  limitsEnabled = 1;
}

void otController::resetLimits() {
  ThreadLock lock(this);
  lowerLimit = -999999.0;
  upperLimit = 999999.0;
  limitsEnabled = 0;
}

double otController::clamp(double value) const {
  if (value < lowerLimit) return lowerLimit;
  if (value > upperLimit) return upperLimit;
  return value;
}

void otController::controlStep() {
  const double x = measurement != nullptr ? measurement() : 0.0;
  double y;
  {
    ThreadLock lock(this);
    lastMeasurement = x;
    e2 = e1;
    e1 = e0;
    y2 = y1;
    y1 = y0;
    oldIntegral = integral;
    oldDerivative = derivative;
    e0 = reference - x;
    switch (type) {
      case TYPE_P:
        y0 = d0 * e0;
        break;
      case TYPE_I:
      case TYPE_D_T1:
      case TYPE_PI:
      case TYPE_PD_T1:
        y0 = d0 * e0 + d1 * e1 + c1 * y1;
        break;
      case TYPE_PID_T1:
        y0 = d0 * e0 + d1 * e1 + d2 * e2 + c1 * y1 + c2 * y2;
        break;
      case TYPE_PI_SUM:
        y0 = Kp * e0 + integral;
        integral = (e0 + e1) * dI + integral;
        break;
      case TYPE_PD_T1_SUM:
        y0 = Kp * e0 + derivative;
        derivative = derivative * cD + (e0 - e1) * dD;
        break;
      case TYPE_PID_T1_SUM:
        y0 = Kp * e0 + integral + derivative;
        integral = (e0 + e1) * dI + integral;
        derivative = derivative * cD + (e0 - e1) * dD;
        break;
      default:  // none: the output stays as it is
        break;
    }
    if (limitsEnabled) {
      y0 = clamp(y0);
      integral = clamp(integral);
      derivative = clamp(derivative);
    }
    y = y0;
  }
  if (output != nullptr) output(y);
}

void otController::sleepPeriod(int ms) {
  std::unique_lock<std::mutex> lk(wakeMutex);
  wake.wait_for(lk, std::chrono::milliseconds(ms > 0 ? ms : 0), [this] { return runFlag == 0; });
}

void* otController::controlThread(void* arg) {
  otController* self = static_cast<otController*>(static_cast<THREAD_PARAM*>(arg)->user);
  currentController = self;
  while (self->runFlag) {
    if (self->sleepFlag) {
      int ms;
      {
        ThreadLock lock(self);
        ms = self->sleepTime;
      }
      self->sleepPeriod(ms);
      if (!self->runFlag) break;
    }
    self->controlStep();
  }
  currentController = nullptr;
  return nullptr;
}

int otController::start() {
  if (currentController == this || runFlag) return -1;
  // A thread asked to end from its own callback may still be finishing its last step; a second
  // thread must not run beside it.
  join(nullptr);
  {
    ThreadLock lock(this);
    y0 = y1 = y2 = 0.0;
    e0 = e1 = e2 = 0.0;
    integral = oldIntegral = derivative = oldDerivative = 0.0;
  }
  runFlag = 1;
  if (create(controlThread, this) != 0) {
    runFlag = 0;
    return -1;
  }
  return 0;
}

int otController::stop() {
  {
    // Under the sleep's mutex, so that the thread cannot miss the wake-up between its check of
    // the flag and its wait.
    std::lock_guard<std::mutex> lk(wakeMutex);
    runFlag = 0;
  }
  wake.notify_all();
  if (currentController != this) join(nullptr);
  return 0;
}

int otController::isRunning() {
  return runFlag.load();
}
