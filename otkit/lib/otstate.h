// otState: a step machine whose states are functions, each called once per cycle.
//
// A state function switches to another state with gotoState(next); the next state is called
// in the following cycle and sees step counter 0 on its first call. gotoState(null) ends the
// machine. The machine runs either in the caller's thread (runSteps) or in the object's own
// thread (startSteps); the state functions always run on that one thread.
#ifndef OTSTATE_H
#define OTSTATE_H

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "otthread.h"

class otState {
 public:
  typedef void (*StateFunction)(otState*);

  otState();
  // Ends a machine started with startSteps (as gotoState(null) does) and waits for its thread
  // to end; a state function under way is finished first.
  virtual ~otState();
  otState(const otState&) = delete;
  otState& operator=(const otState&) = delete;

  // The current state becomes the previous one, state the current one, and the step counter
  // -1 (so that the next call of a state function sees 0). A null state ends the machine after
  // the state function under way; a machine sleeping between cycles ends at once.
  void gotoState(StateFunction state);
  // Runs the machine in the calling thread until the current state is null: stores the cycle
  // time, clears the previous state, sets the step counter to 0, then calls the current state
  // function, sleeps cycletime milliseconds and counts the step, cycle after cycle. After
  // 1000000000 the counter continues at 1. Returns 0.
  int runSteps(int cycletime);
  // Runs the machine as runSteps does in the object's own thread and returns at once. Returns
  // 0; -1 (nothing started) if cycletime is negative, if the machine's thread still runs, or if
  // the thread cannot be created.
  int startSteps(int cycletime);

  // The step counter: 0 on the first call of a state function, -1 before the machine runs.
  int step();
  // The cycle time in milliseconds (1000 before the machine runs).
  int cycleTime();
  // The current and the previous state function (null if none).
  StateFunction state();
  StateFunction lastState();

  // Free for the program's use, 0 at start.
  int user;

 protected:
  std::atomic<int> stepCounter;
  std::atomic<int> cycletime;
  std::atomic<StateFunction> currentState;
  std::atomic<StateFunction> previousState;
  otThread thread;

 private:
  static void* stepThread(void* arg);
  // Waits ms milliseconds, or less if the machine is ended meanwhile.
  void sleepCycle(int ms);

  // Serialises gotoState and wakes a sleeping machine when it ends.
  std::mutex mutex;
  std::condition_variable wake;
  // True while the thread of startSteps runs.
  std::atomic<bool> threadRunning;
};

#endif
