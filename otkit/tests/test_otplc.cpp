#include "otplc.h"

#include <gtest/gtest.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>
#include <string>
#include <vector>

#include "ipctest.h"
#include "otsharedmemory.h"
#include "testutil.h"

namespace {

// Shared states live in segments keyed by files of a temporary directory; TearDown removes
// every segment of those files and fails if one is left behind.
class PlcSharedTest : public ::testing::Test {
 protected:
  std::string path(const char* name) { return dir.file(name); }
  void TearDown() override {
    std::vector<key_t> keys;
    for (const std::string& file : ottest::filesIn(dir))
      keys.push_back(ftok(file.c_str(), 'b'));
    ottest::removeAndExpectGone(
        keys, "segment", [](key_t key) { return shmget(key, 0, 0); },
        [](int id) { shmctl(id, IPC_RMID, nullptr); });
  }

  ottest::TempDir dir;
};

}  // namespace

TEST(otPlcState, CountsBelowOneBecomeOneAndArraysStartAtZero) {
  otPlcState s(0, -3, 0, nullptr);
  EXPECT_EQ(s.maxInt(), 0);
  EXPECT_EQ(s.maxFloat(), 0);
  EXPECT_EQ(s.maxDouble(), 0);
  s.ints[0] = 7;
  s.floats[0] = 1.5f;
  s.doubles[0] = 2.5;
  EXPECT_EQ(s.getInt(0), 7);
  EXPECT_EQ(s.getOldInt(0), 0);
  EXPECT_EQ(s.getOldFloat(0), 0.0f);
  EXPECT_EQ(s.getOldDouble(0), 0.0);

  otPlcState t(3, 2, 7, nullptr);
  EXPECT_EQ(t.maxInt(), 2);
  EXPECT_EQ(t.maxFloat(), 1);
  EXPECT_EQ(t.maxDouble(), 6);
  for (int i = 0; i <= t.maxDouble(); i++)
    EXPECT_EQ(t.doubles[i] + t.oldDoubles[i], 0.0);
}

TEST(otPlcState, IndexesOutsideTheArraysAreIgnored) {
  otPlcState s(3, 2, 2, nullptr);
  for (int i = 0; i < 3; i++)
    s.ints[i] = 5;
  s.floats[1] = 3.0f;
  s.doubles[1] = 4.0;
  for (int bad : {-1, 3, 5}) {
    EXPECT_EQ(s.deltaInt(bad), 0);
    EXPECT_EQ(s.getInt(bad), 0);
    EXPECT_EQ(s.intChanged(bad), 0);
    EXPECT_EQ(s.isSet(bad, -1), 0);
    EXPECT_EQ(s.isClear(bad, -1), 0);
    s.set(bad, 1);
    s.clear(bad, -1);
  }
  EXPECT_EQ(s.getFloat(2), 0.0f);
  EXPECT_EQ(s.deltaDouble(2), 0.0);
  EXPECT_EQ(s.doubleHasIncreased(-1), 0);
  // Neither the valid elements nor their neighbours were touched.
  EXPECT_EQ(s.ints[0], 5);
  EXPECT_EQ(s.ints[2], 5);
  EXPECT_EQ(s.oldInts[0], 0);
}

TEST(otPlcState, EdgesAndChangesBeforeAndAfterRememberState) {
  otPlcState s(2, 1, 1, nullptr);
  s.set(0, 4);
  EXPECT_EQ(s.hasBeenSet(0, 4), 1);
  EXPECT_EQ(s.hasBeenSet(0, 6), 1);  // one bit of the mask is enough
  EXPECT_EQ(s.hasBeenSet(0, 1), 0);
  EXPECT_EQ(s.isSet(0, 5), 1);
  EXPECT_EQ(s.isClear(0, 3), 1);
  EXPECT_EQ(s.intChanged(0), 1);
  EXPECT_EQ(s.intChanged(1), 0);
  s.rememberState();
  EXPECT_EQ(s.hasBeenSet(0, 4), 0);
  EXPECT_EQ(s.intChanged(0), 0);

  s.set(0, 8);  // another bit of a mask that was already set: no rising edge
  EXPECT_EQ(s.hasBeenSet(0, 12), 0);
  s.rememberState();
  s.clear(0, 4);
  EXPECT_EQ(s.hasBeenCleared(0, 4), 1);
  EXPECT_EQ(s.hasBeenCleared(0, 12), 0);  // bit 8 is still set
  EXPECT_EQ(s.getInt(0), 8);
  EXPECT_EQ(s.deltaInt(0), -4);
  EXPECT_EQ(s.intHasDecreased(0), 1);
  EXPECT_EQ(s.intHasIncreased(0), 0);

  s.floats[0] = 2.5f;
  s.doubles[0] = -1.25;
  EXPECT_EQ(s.floatHasIncreased(0), 1);
  EXPECT_EQ(s.doubleHasDecreased(0), 1);
  EXPECT_FLOAT_EQ(s.deltaFloat(0), 2.5f);
  EXPECT_DOUBLE_EQ(s.deltaDouble(0), -1.25);
  s.rememberState();
  EXPECT_EQ(s.getOldFloat(0), 2.5f);
  EXPECT_EQ(s.getOldDouble(0), -1.25);
  EXPECT_EQ(s.floatChanged(0) + s.doubleChanged(0), 0);

  s.clear();
  EXPECT_EQ(s.getInt(0) + s.getOldInt(0), 0);
  EXPECT_EQ(s.getOldDouble(0), 0.0);
}

TEST(otPlcMem, EdgesOnTheSingleValues) {
  otPlcMem m;
  EXPECT_EQ(m.intValue + m.oldInt, 0);
  m.set(3);
  m.floatValue = 1.0f;
  EXPECT_EQ(m.hasBeenSet(2), 1);
  EXPECT_EQ(m.intHasIncreased(), 1);
  EXPECT_EQ(m.deltaInt(), 3);
  EXPECT_EQ(m.floatChanged(), 1);
  EXPECT_EQ(m.doubleChanged(), 0);
  m.rememberState();
  EXPECT_EQ(m.hasBeenSet(2), 0);
  m.clear(1);
  EXPECT_EQ(m.hasBeenCleared(1), 1);
  EXPECT_EQ(m.hasBeenCleared(2), 0);
  EXPECT_EQ(m.isSet(2), 1);
  EXPECT_EQ(m.isClear(1), 1);
  m.doubleValue = -2.0;
  EXPECT_EQ(m.doubleHasDecreased(), 1);
  EXPECT_DOUBLE_EQ(m.deltaDouble(), -2.0);
}

TEST_F(PlcSharedTest, TwoObjectsOnOneNameShareValuesWithoutClearingThem) {
  const std::string name = path("plc");
  otPlcState a(2, 1, 3, name.c_str());
  a.ints[1] = 11;
  a.oldInts[0] = 12;
  a.floats[0] = 1.5f;
  a.oldDoubles[2] = 9.25;
  {
    otPlcState b(2, 1, 3, name.c_str());
    EXPECT_EQ(b.getInt(1), 11);
    EXPECT_EQ(b.getOldInt(0), 12);
    EXPECT_EQ(b.getFloat(0), 1.5f);
    EXPECT_EQ(b.getOldDouble(2), 9.25);
    b.set(0, 2);
    b.rememberState();
  }
  EXPECT_EQ(a.getInt(0), 2);
  EXPECT_EQ(a.getOldInt(1), 11);
  EXPECT_EQ(a.getOldDouble(2), 0.0);  // b's rememberState copied its current double

  // The arrays lie back to back in the designed order, so other programs can find them.
  a.floats[0] = 1.5f;
  a.oldFloats[0] = 2.5f;
  a.doubles[0] = 3.5;
  a.oldDoubles[0] = 4.5;
  otSharedMemory raw(name.c_str(), 2 * 8 + 1 * 8 + 3 * 16);
  ASSERT_EQ(raw.status, otSharedMemory::SHM_OK);
  const char* base = static_cast<const char*>(raw.getUserAdr());
  auto at = [base](int offset, auto value) {
    memcpy(&value, base + offset, sizeof(value));
    return value;
  };
  EXPECT_EQ(at(0, 0), 2);
  EXPECT_EQ(at(4, 0), 11);
  EXPECT_EQ(at(8, 0), 2);
  EXPECT_EQ(at(12, 0), 11);
  EXPECT_EQ(at(16, 0.0f), 1.5f);
  EXPECT_EQ(at(20, 0.0f), 2.5f);
  EXPECT_EQ(at(24, 0.0), 3.5);
  EXPECT_EQ(at(48, 0.0), 4.5);
}

TEST_F(PlcSharedTest, FailedSharedMemoryLeavesAnInertObject) {
  const std::string name = path("small");
  otPlcState small(1, 1, 1, name.c_str());
  ottest::CaptureStdout out;
  // The existing segment is too small for this layout.
  otPlcState big(100, 100, 100, name.c_str());
  EXPECT_EQ(out.text(), "ERROR: otPlcState sharedMemoryStatus(" + name + ") is not OK\n");
  EXPECT_EQ(big.ints, nullptr);
  EXPECT_EQ(big.oldDoubles, nullptr);
  EXPECT_EQ(big.maxInt(), -1);
  big.set(0, 1);
  big.clear();
  big.rememberState();
  EXPECT_EQ(big.getInt(0), 0);
  EXPECT_EQ(big.getDouble(0), 0.0);
  EXPECT_EQ(big.hasBeenSet(0, 1), 0);
}
