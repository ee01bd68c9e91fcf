// otController: a sampled-data P, I, D-T1, PI, PD-T1 and PID-T1 controller (also PI, PD-T1 and
// PID-T1 as a sum of parts) that runs in its own thread between a measurement callback and an
// output callback.
//
// Each step: sleep one sample period (while sleepFlag is 1), read the measurement, compute the
// new output from the error reference - measurement, pass it to the output callback. The
// direct forms come from the bilinear transform with h = T/2; the sum forms keep an integral
// part I and a derivative part D, and their output uses the parts of the previous step.
// Parameter setters and the computation exclude each other through the thread's lock; both
// callbacks run on the control thread, the output callback outside the lock.
#ifndef OTCONTROLLER_H
#define OTCONTROLLER_H

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "otthread.h"

class otController : public otThread {
 public:
  // Controller types; -1 (at start) is none as well.
  enum {
    TYPE_NONE = 0,
    TYPE_P = 1,
    TYPE_I = 2,
    TYPE_D_T1 = 3,
    TYPE_PI = 4,
    TYPE_PD_T1 = 5,
    TYPE_PID_T1 = 6,
    TYPE_PI_SUM = 7,
    TYPE_PD_T1_SUM = 8,
    TYPE_PID_T1_SUM = 9,
  };

  // Either callback may be null: a missing measurement reads as 0, a missing output is skipped.
  otController(double (*getMeasurement)(), void (*writeOutput)(double));
  // Stops the control thread (see stop).
  virtual ~otController();

  void setReference(double reference);

  // Each setter sets the type, stores T and its parameters, the sleep time T * 1000 ms and the
  // coefficients, under the lock. Returns 0; -1 (nothing changed) if T is not positive, an
  // integration or reset time (TI, TN) is not positive, or a lag time T1 is negative: these
  // would divide by zero or make no sense as a controller.
  int setP(double T, double Kp);
  int setI(double T, double TI);
  int setD_T1(double T, double TD, double T1);
  int setPI(double T, double Kp, double TN);
  int setPD_T1(double T, double Kp, double TV, double T1);
  int setPID_T1(double T, double Kp, double TN, double TV, double T1);
  int setPI_SUM(double T, double Kp, double TN);
  int setPD_T1_SUM(double T, double Kp, double TV, double T1);
  int setPID_T1_SUM(double T, double Kp, double TN, double TV, double T1);

  // Clamps the output and the integral and derivative parts to [min, max].
  void setLimits(double min, double max);
  // No clamping; the limits return to -999999.0 and 999999.0.
  void resetLimits();

  // Clears the output, error and part histories and starts the control thread. Returns 0; -1
  // if it already runs, if called from a callback, or if the thread cannot be created.
  int start();
  // Ends the control thread and returns when it is gone; a step under way, with its
  // callbacks, is finished first, a sleep is cut short. Called from a callback it only asks
  // the thread to end after that step. Returns 0.
  int stop();
  // 1 while the control thread is asked to run.
  int isRunning();

  // 1 (at start): the thread sleeps one sample period before each step; 0: steps follow each
  // other at once (the measurement callback then sets the pace).
  std::atomic<int> sleepFlag;

 protected:
  // One control step: read the measurement, compute y0, write it. The control thread calls it
  // once per period; a derived class may call it directly.
  void controlStep();

  double T, Kp, TI, TD, T1, TN, TV;
  double reference;
  int type;
  std::atomic<int> runFlag;
  double d0, d1, d2, c1, c2;
  double dI, dD, cD;
  double y0, y1, y2;
  double e0, e1, e2;
  double integral, oldIntegral, derivative, oldDerivative;
  int sleepTime;
  double (*measurement)();
  void (*output)(double);
  double lastMeasurement;
  double lowerLimit, upperLimit;
  int limitsEnabled;

 private:
  static void* controlThread(void* arg);
  // Stores the type and period and clears the coefficients; the caller holds the lock.
  void setType(int newType, double newT);
  double clamp(double value) const;
  // Waits ms milliseconds, or less if stop() is called.
  void sleepPeriod(int ms);

  // Wakes a sleeping control thread when stop() is called.
  std::mutex wakeMutex;
  std::condition_variable wake;
};

#endif
