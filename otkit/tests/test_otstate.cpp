#include "otstate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// What the state functions saw: "<state><step counter>" per call.
std::vector<std::string> gTrace;

void stateB(otState* s);

void stateA(otState* s) {
  gTrace.push_back("A" + std::to_string(s->step()));
  if (s->step() == 2) s->gotoState(stateB);
}

void stateB(otState* s) {
  gTrace.push_back("B" + std::to_string(s->step()));
  if (s->step() == 1) s->gotoState(nullptr);
}

// Gives a state function access to the step counter, to reach the wrap quickly.
class Probe : public otState {
 public:
  void setStep(int n) { stepCounter = n; }
};

std::vector<int> gSteps;

void wrapping(otState* s) {
  if (gSteps.empty()) static_cast<Probe*>(s)->setStep(999999999);
  gSteps.push_back(s->step());
  if (gSteps.size() == 4) s->gotoState(nullptr);
}

std::atomic<int> gThreadCalls{0};
std::atomic<std::thread::id> gThreadId;

void counting(otState*) {
  gThreadId = std::this_thread::get_id();
  ++gThreadCalls;
}

bool waitFor(const std::function<bool()>& pred) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace

TEST(otStateMachine, StartsWithoutState) {
  otState s;
  EXPECT_EQ(s.user, 0);
  EXPECT_EQ(s.step(), -1);
  EXPECT_EQ(s.cycleTime(), 1000);
  EXPECT_EQ(s.state(), nullptr);
  EXPECT_EQ(s.runSteps(0), 0);  // nothing to run
}

TEST(otStateMachine, EachNewStateCountsFromZeroUntilTheNullState) {
  gTrace.clear();
  otState s;
  s.gotoState(stateA);
  EXPECT_EQ(s.step(), -1);
  EXPECT_EQ(s.runSteps(1), 0);
  EXPECT_EQ(gTrace, (std::vector<std::string>{"A0", "A1", "A2", "B0", "B1"}));
  EXPECT_EQ(s.state(), nullptr);
  EXPECT_EQ(s.lastState(), stateB);
  EXPECT_EQ(s.cycleTime(), 1);
}

TEST(otStateMachine, StepCounterContinuesAtOneAfterOneBillion) {
  gSteps.clear();
  Probe s;
  s.gotoState(wrapping);
  s.runSteps(0);
  EXPECT_EQ(gSteps, (std::vector<int>{999999999, 1000000000, 1, 2}));
}

TEST(otStateMachine, StartStepsRunsInItsOwnThreadUntilEnded) {
  gThreadCalls = 0;
  otState s;
  EXPECT_EQ(s.startSteps(-1), -1);
  s.gotoState(counting);
  ASSERT_EQ(s.startSteps(1), 0);
  EXPECT_EQ(s.startSteps(1), -1);  // one machine thread at a time
  ASSERT_TRUE(waitFor([] { return gThreadCalls >= 3; }));
  EXPECT_NE(gThreadId.load(), std::this_thread::get_id());
  EXPECT_GE(s.step(), 1);
  s.gotoState(nullptr);
  ASSERT_TRUE(waitFor([&] { return s.startSteps(1) == 0; }));  // the old thread has ended
  s.gotoState(nullptr);
}

TEST(otStateMachine, DestructorEndsASleepingMachine) {
  gThreadCalls = 0;
  auto s = std::make_unique<otState>();
  s->gotoState(counting);
  ASSERT_EQ(s->startSteps(60000), 0);
  ASSERT_TRUE(waitFor([] { return gThreadCalls >= 1; }));
  auto begin = std::chrono::steady_clock::now();
  s.reset();  // waits for the thread, which must not sleep out its minute
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
  EXPECT_EQ(gThreadCalls, 1);
}
