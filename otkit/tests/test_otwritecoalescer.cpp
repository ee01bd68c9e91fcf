// Write requests that newer ones supersede: the latest value of each key always arrives, in the
// order the keys first waited, and nothing piles up while the mailbox is full.
#include "otwritecoalescer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "otrepeatlog.h"
#include "testutil.h"

namespace {

struct Device {
  bool full = false;
  std::vector<std::pair<int, long>> got;
  int post(int key, long value) {
    if (full) return -2;
    if (value < 0) return -1;  // refused for good, as a device client refuses bad arguments
    got.push_back({key, value});
    return 0;
  }
};

TEST(WriteCoalescer, TheLatestValueOfEachKeyArrivesInOrder) {
  Device d;
  otWriteCoalescer w([&](int key, long value) { return d.post(key, value); });
  EXPECT_EQ(w.put(1, 10), 0);
  d.full = true;
  for (long v = 0; v <= 999; v++)
    EXPECT_EQ(w.put(1, v), 1);
  EXPECT_EQ(w.put(2, 7), 1);
  EXPECT_EQ(w.put(1, 1000), 1);  // keeps its place in front of key 2
  EXPECT_EQ(w.pending(), 2);
  EXPECT_EQ(w.flush(), 2);
  d.full = false;
  EXPECT_EQ(w.flush(), 0);
  std::vector<std::pair<int, long>> want = {{1, 10}, {1, 1000}, {2, 7}};
  EXPECT_EQ(d.got, want);
  EXPECT_EQ(w.posted(), 3);
  EXPECT_EQ(w.superseded(), 1000);
  EXPECT_EQ(w.failed(), 0);
}

TEST(WriteCoalescer, ARefusedValueIsDroppedAndCountedAndDoesNotBlockOthers) {
  Device d;
  otWriteCoalescer w([&](int key, long value) { return d.post(key, value); });
  d.full = true;
  w.put(1, -5);
  w.put(2, 3);
  d.full = false;
  EXPECT_EQ(w.put(3, 4), 0);
  std::vector<std::pair<int, long>> want = {{2, 3}, {3, 4}};
  EXPECT_EQ(d.got, want);
  EXPECT_EQ(w.failed(), 1);
  EXPECT_EQ(w.put(4, -1), -1);
  EXPECT_EQ(w.pending(), 0);
}

TEST(RepeatLog, AFloodIsPrintedOnceThenCounted) {
  ottest::CaptureStdout out;
  {
    otRepeatLog log("bad lines", 60000);
    EXPECT_EQ(log.say("bad line %d\n", 1), 1);
    for (int i = 2; i <= 100000; i++)
      EXPECT_EQ(log.say("bad line %d\n", i), 0);
    EXPECT_EQ(log.count(), 100000);
  }
  EXPECT_EQ(out.text(), "bad line 1\nbad lines: 99999 more\n");
}

TEST(RepeatLog, AfterItsIntervalTheNextOneIsPrintedWithTheCount) {
  ottest::CaptureStdout out;
  {
    otRepeatLog log("refused", 0);
    log.say("a\n");
    log.say("b\n");
  }
  {
    otRepeatLog log("refused", 50);
    log.say("a\n");
    log.say("b\n");
    usleep(80 * 1000);
    log.say("c\n");
  }
  EXPECT_EQ(out.text(), "a\nb\na\nc\nrefused: 1 more\n");
}

}  // namespace
