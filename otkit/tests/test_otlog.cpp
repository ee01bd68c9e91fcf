// The log sink: levels a program sets, a sink of its own, whole lines from many threads.
#include "otlog.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Seen {
  std::mutex m;
  std::vector<std::pair<int, std::string>> lines;
};

void collect(int level, const char* line, void* arg) {
  auto* s = static_cast<Seen*>(arg);
  std::lock_guard<std::mutex> hold(s->m);
  s->lines.emplace_back(level, line);
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    before = otSetLogLevel(OT_LOG_INFO);
    otSetLogSink(collect, &seen);
  }
  void TearDown() override {
    otSetLogSink(nullptr, nullptr);
    otSetLogLevel(before);
  }
  Seen seen;
  int before = OT_LOG_INFO;
};

TEST_F(LogTest, LevelsAndTheDebugSwitchOfAnObject) {
  EXPECT_EQ(otLog(OT_LOG_ERROR, "e %d\n", 1), 4);
  EXPECT_EQ(otLog(OT_LOG_INFO, "i\n"), 2);
  EXPECT_EQ(otLog(OT_LOG_DEBUG, "hidden\n"), 0);  // debug is off at the start
  EXPECT_EQ(otLogDebug(0, "hidden too\n"), 0);
  EXPECT_EQ(otLogDebug(1, "object %s\n", "on"), 10);  // its own switch lets it through
  otSetLogLevel(OT_LOG_ERROR);
  EXPECT_EQ(otLog(OT_LOG_WARNING, "hidden\n"), 0);
  otSetLogLevel(OT_LOG_DEBUG);
  EXPECT_EQ(otLogDebug(0, "program wants debug\n"), 20);
  ASSERT_EQ(seen.lines.size(), 4u);
  EXPECT_EQ(seen.lines[0], std::make_pair((int)OT_LOG_ERROR, std::string("e 1\n")));
  EXPECT_EQ(seen.lines[2], std::make_pair((int)OT_LOG_DEBUG, std::string("object on\n")));

  EXPECT_EQ(otLogLevelByName("warning"), OT_LOG_WARNING);
  EXPECT_EQ(otLogLevelByName("loud"), -1);
  EXPECT_EQ(otSetLogLevel(99), OT_LOG_DEBUG);
  EXPECT_EQ(otLogLevel(), OT_LOG_DEBUG);  // clamped
  const std::string longLine(5000, 'x');
  EXPECT_EQ(otLog(OT_LOG_INFO, "%s", longLine.c_str()), 4095);
}

TEST_F(LogTest, LinesOfManyThreadsArriveWhole) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++)
    threads.emplace_back([t] {
      for (int i = 0; i < 500; i++)
        otLog(OT_LOG_INFO, "thread %d line %d of a text long enough to be torn\n", t, i);
    });
  for (std::thread& t : threads)
    t.join();
  ASSERT_EQ(seen.lines.size(), 2000u);
  for (const auto& l : seen.lines) {
    int t = -1, i = -1;
    ASSERT_EQ(sscanf(l.second.c_str(), "thread %d line %d of a text", &t, &i), 2) << l.second;
    EXPECT_EQ(l.second.back(), '\n');
  }
}

}  // namespace
