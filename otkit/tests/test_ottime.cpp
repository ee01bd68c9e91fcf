#include "ottime.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>
#include <tuple>

#include "testutil.h"

namespace {

// Every test runs in UTC so that expectations can be computed with timegm/gmtime.
class TimeTest : public ::testing::Test {
 protected:
  void SetUp() override { useZone("UTC"); }
  void TearDown() override { useZone("UTC"); }
  static void useZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
};

std::string str(otTime t) {
  return t.getTimeString();
}

std::tuple<int, int, int, int, int, int, int> key(const otTime& t) {
  return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
}

otTime fromEpoch(time_t seconds, int ms) {
  struct tm tm;
  gmtime_r(&seconds, &tm);
  return otTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
}

time_t toEpoch(const otTime& t) {
  struct tm tm = {};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  return timegm(&tm);
}

// ---------------------------------------------------------------- arithmetic

using TimeArithmeticTest = TimeTest;

TEST_F(TimeArithmeticTest, AdditionCarriesOncePerField) {
  const otTime oneMs(0, 0, 0, 0, 0, 0, 1);
  EXPECT_EQ(str(otTime(2014, 2, 28, 23, 59, 59, 999) + oneMs), "2014-03-01 00:00:00 0000");
  EXPECT_EQ(str(otTime(2016, 2, 28, 23, 59, 59, 999) + oneMs), "2016-02-29 00:00:00 0000");
  EXPECT_EQ(str(otTime(2000, 2, 28, 23, 59, 59, 999) + oneMs), "2000-02-29 00:00:00 0000");
  EXPECT_EQ(str(otTime(2100, 2, 28, 23, 59, 59, 999) + oneMs), "2100-03-01 00:00:00 0000");
  otTime t(2014, 12, 31, 23, 0, 0, 0);
  t += otTime(0, 0, 0, 1);
  EXPECT_EQ(str(t), "2015-01-01 00:00:00 0000");
  // 999 + 999 ms carries one second and keeps 998 ms.
  EXPECT_EQ(str(otTime(2014, 1, 1, 0, 0, 0, 999) + otTime(0, 0, 0, 0, 0, 0, 999)),
            "2014-01-01 00:00:01 0998");
}

TEST_F(TimeArithmeticTest, AddingADurationMatchesTheCalendar) {
  std::mt19937 rng(42);
  for (int i = 0; i < 20000; i++) {
    time_t base = std::uniform_int_distribution<time_t>(0, 4102444800)(rng);  // 1970..2100
    int days = rng() % 28, hours = rng() % 24, minutes = rng() % 60, seconds = rng() % 60;
    int ms = rng() % 1000, addMs = rng() % 1000;
    otTime t = fromEpoch(base, ms);
    t += otTime(0, 0, days, hours, minutes, seconds, addMs);
    time_t expected = base + days * 86400 + hours * 3600 + minutes * 60 + seconds;
    otTime want = fromEpoch(expected + (ms + addMs) / 1000, (ms + addMs) % 1000);
    ASSERT_EQ(key(t), key(want)) << str(fromEpoch(base, ms)) << " plus " << days << "d " << hours
                                 << "h " << minutes << "m " << seconds << "s " << addMs;
  }
}

TEST_F(TimeArithmeticTest, SubtractionBorrows) {
  EXPECT_EQ(key(otTime(2014, 3, 8, 1, 0, 0, 0) - otTime(2014, 3, 7, 23, 30, 15, 500)),
            key(otTime(0, 0, 0, 1, 29, 44, 500)));
  // A day borrow takes the length of the month before.
  EXPECT_EQ(str(otTime(2014, 3, 5) - otTime(0, 0, 10)), "2014-02-23 00:00:00 0000");
  EXPECT_EQ(str(otTime(2016, 3, 5) - otTime(0, 0, 10)), "2016-02-24 00:00:00 0000");
  // A negative month borrows from the year.
  EXPECT_EQ(key(otTime(2015, 1, 1) - otTime(2014, 12, 31)), key(otTime(0, 0, 1)));
  EXPECT_EQ(str(otTime(2014, 1, 5) - otTime(0, 2, 0)), "2013-11-05 00:00:00 0000");
}

TEST_F(TimeArithmeticTest, AssignmentOperatorsClearTheTimeString) {
  otTime t(2014, 3, 7);
  const char* text = t.getTimeString();
  ASSERT_STRNE(text, "");
  t += otTime(0, 0, 1);
  EXPECT_STREQ(text, "");
  t.getIsoTimeString();
  t -= otTime(0, 0, 1);
  EXPECT_STREQ(text, "");
}

// ---------------------------------------------------------------- comparison

using TimeComparisonTest = TimeTest;

TEST_F(TimeComparisonTest, EqualAndAcrossAYearBoundary) {
  otTime a(2014, 3, 7, 8, 5, 9, 42), b(2014, 3, 7, 8, 5, 9, 42);
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a < b || a > b);
  EXPECT_TRUE(a <= b && a >= b);
  otTime early(2014, 12, 31, 23, 59, 59, 999), late(2015, 1, 1);
  EXPECT_TRUE(early < late && late > early && early <= late && late >= early);
  EXPECT_FALSE(early > late || late < early || early >= late || late <= early);
}

// Random pairs of calendar dates (day 1..31 in every month, as the sum of a date and a period
// may produce) against a plain field-by-field ordering.
TEST_F(TimeComparisonTest, AgreesWithFieldOrderOnRandomPairs) {
  std::mt19937 rng(7);
  auto randomTime = [&rng]() {
    return otTime(2010 + rng() % 8, 1 + rng() % 12, 1 + rng() % 31, rng() % 24, rng() % 60,
                  rng() % 60, rng() % 1000);
  };
  for (int i = 0; i < 200000; i++) {
    otTime a = randomTime();
    otTime b = (i % 4 == 0) ? a + otTime(0, 0, 0, 0, 0, 0, 1) : randomTime();
    const bool less = key(a) < key(b);
    const bool greater = key(b) < key(a);
    ASSERT_EQ(a < b, less) << str(a) << " < " << str(b);
    ASSERT_EQ(a > b, greater) << str(a) << " > " << str(b);
    otTime d = a - b;
    ASSERT_TRUE(d.month >= 0 && d.day >= 0 && d.hour >= 0 && d.minute >= 0 && d.second >= 0 &&
                d.millisecond >= 0)
        << str(a) << " - " << str(b) << " = " << str(d);
  }
}

// ---------------------------------------------------------------- text

using TimeStringTest = TimeTest;

TEST_F(TimeStringTest, Formats) {
  otTime t(2014, 3, 7, 8, 5, 9, 42);
  EXPECT_STREQ(t.getTimeString(), "2014-03-07 08:05:09 0042");
  EXPECT_STREQ(t.getIsoTimeString(), "2014-03-07T08:05:09.42");
  t.millisecond = 7;
  EXPECT_STREQ(t.getIsoTimeString(), "2014-03-07T08:05:09.7");
}

TEST_F(TimeStringTest, LargeFieldsStayInsideTheBuffer) {
  otTime t(-2147483647 - 1, -2147483647 - 1, 2147483647, -1, -1, -1, -2147483647 - 1);
  std::string text = t.getTimeString();
  EXPECT_EQ(text.size(), 31u);
  EXPECT_EQ(text.substr(0, 24), "-2147483648--2147483648-");
  EXPECT_EQ(std::string(t.getIsoTimeString()).size(), 31u);
}

TEST_F(TimeStringTest, ReadsBothFormatsBack) {
  otTime t(2014, 3, 7, 8, 5, 9, 42), back(1, 1, 1, 1, 1, 1, 1);
  EXPECT_EQ(back.setTimeFromString(t.getTimeString()), 7);
  EXPECT_TRUE(back == t);
  back = otTime(1, 1, 1, 1, 1, 1, 1);
  EXPECT_EQ(back.setTimeFromIsoString(t.getIsoTimeString()), 7);
  EXPECT_TRUE(back == t);
}

TEST_F(TimeStringTest, MissingFieldsAreZero) {
  otTime t(1, 1, 1, 1, 1, 1, 1);
  EXPECT_EQ(t.setTimeFromString("2014-03-07"), 3);
  EXPECT_EQ(key(t), key(otTime(2014, 3, 7)));
  EXPECT_EQ(t.setTimeFromIsoString("2014-03-07T08:05"), 5);
  EXPECT_EQ(key(t), key(otTime(2014, 3, 7, 8, 5)));
  EXPECT_EQ(t.setTimeFromString(""), 0);
  EXPECT_EQ(t.setTimeFromString("garbage"), 0);
  EXPECT_EQ(t.setTimeFromString(nullptr), 0);
  EXPECT_EQ(key(t), key(otTime()));
}

// ---------------------------------------------------------------- clock and files

using TimeClockTest = TimeTest;

TEST_F(TimeClockTest, SecondsSinceEpoche) {
  otTime t(2014, 3, 7, 8, 5, 9, 42);
  EXPECT_DOUBLE_EQ(t.secondsSinceEpoche(), static_cast<double>(toEpoch(t)) + 0.042);
  // One second before the epoch is mktime's error value; it must still count as a time.
  EXPECT_DOUBLE_EQ(otTime(1969, 12, 31, 23, 59, 59, 500).secondsSinceEpoche(), -0.5);
  // Both instants are local, so a fixed offset cancels out.
  useZone("XYZ-5");
  EXPECT_DOUBLE_EQ(t.secondsSinceEpoche(), static_cast<double>(toEpoch(t)) + 0.042);
}

TEST_F(TimeClockTest, LocalTimeFollowsTheWallClock) {
  otTime t;
  time_t before = time(nullptr);
  ASSERT_EQ(t.getLocalTime(), 0);
  time_t after = time(nullptr);
  EXPECT_GE(t.secondsSinceEpoche(), static_cast<double>(before));
  EXPECT_LT(t.secondsSinceEpoche(), static_cast<double>(after) + 1);
  EXPECT_GE(t.millisecond, 0);
  EXPECT_LE(t.millisecond, 999);
}

bool maySetClock() {
  if (geteuid() == 0) return true;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 7, "CapEff:") == 0)
      return (strtoull(line.c_str() + 7, nullptr, 16) >> 25) & 1;  // CAP_SYS_TIME
  return false;
}

// Runs in a child that gives up root first, so the test never sets this machine's clock.
TEST_F(TimeClockTest, SetLocalTimeNeedsPrivilege) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    if (maySetClock()) _exit(2);
    otTime t;
    if (t.getLocalTime() != 0) _exit(1);
    errno = 0;
    int ret = t.setLocalTime();
    _exit(ret == -1 && errno == EPERM ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot give up the right to set the clock";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(TimeClockTest, FileModificationTimeOfThePathItself) {
  ottest::TempDir dir;
  std::string file = dir.file("data.txt"), link = dir.file("link");
  ottest::writeFile(file, "x");
  ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
  struct timespec fileTimes[2] = {{0, UTIME_OMIT}, {1394179509, 0}};  // 2014-03-07 08:05:09
  struct timespec linkTimes[2] = {{0, UTIME_OMIT}, {1000000000, 0}};  // 2001-09-09 01:46:40
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), fileTimes, 0), 0);
  ASSERT_EQ(utimensat(AT_FDCWD, link.c_str(), linkTimes, AT_SYMLINK_NOFOLLOW), 0);

  otTime t(1, 1, 1, 1, 1, 1, 1);
  ASSERT_EQ(t.getFileModificationTime(file.c_str()), 0);
  EXPECT_EQ(str(t), "2014-03-07 08:05:09 0000");
  ASSERT_EQ(t.getFileModificationTime(link.c_str()), 0);
  EXPECT_EQ(str(t), "2001-09-09 01:46:40 0000");

  EXPECT_EQ(t.getFileModificationTime(dir.file("missing").c_str()), -1);
  EXPECT_EQ(str(t), "2001-09-09 01:46:40 0000");
}

}  // namespace
