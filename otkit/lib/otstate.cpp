#include "otstate.h"

#include <chrono>

namespace {

// The step counter continues at 1 after this value.
const int kMaxStep = 1000000000;

}  // namespace

otState::otState()
    : user(0),
      stepCounter(-1),
      cycletime(1000),
      currentState(nullptr),
      previousState(nullptr),
      threadRunning(false) {}

otState::~otState() {
  gotoState(nullptr);
  thread.join(nullptr);
}

void otState::gotoState(StateFunction next) {
  {
    std::lock_guard<std::mutex> lk(mutex);
    previousState = currentState.load();
    currentState = next;
    stepCounter = -1;
  }
  if (next == nullptr) wake.notify_all();
}

void otState::sleepCycle(int ms) {
  std::unique_lock<std::mutex> lk(mutex);
  wake.wait_for(lk, std::chrono::milliseconds(ms > 0 ? ms : 0),
                [this] { return currentState.load() == nullptr; });
}

int otState::runSteps(int cycle) {
  cycletime = cycle;
  previousState = nullptr;
  stepCounter = 0;
  while (StateFunction function = currentState.load()) {
    function(this);
    // Returns at once when the machine has been ended.
    sleepCycle(cycle);
    // Under the mutex, so that a gotoState of another thread is not undone.
    std::lock_guard<std::mutex> lk(mutex);
    int next = stepCounter.load() + 1;
    stepCounter = next > kMaxStep ? 1 : next;
  }
  return 0;
}

void* otState::stepThread(void* arg) {
  otState* self = static_cast<otState*>(static_cast<THREAD_PARAM*>(arg)->user);
  self->runSteps(self->cycletime);
  self->threadRunning = false;
  return nullptr;
}

int otState::startSteps(int cycle) {
  if (cycle < 0 || threadRunning) return -1;
  // The previous thread may still be between its last step and its end.
  thread.join(nullptr);
  cycletime = cycle;
  threadRunning = true;
  if (thread.create(stepThread, this) != 0) {
    threadRunning = false;
    return -1;
  }
  return 0;
}

int otState::step() {
  return stepCounter.load();
}

int otState::cycleTime() {
  return cycletime.load();
}

otState::StateFunction otState::state() {
  return currentState.load();
}

otState::StateFunction otState::lastState() {
  return previousState.load();
}
