#include "ottime.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>

namespace {

// The fields are public and may hold anything; the arithmetic wraps instead of running into
// undefined behaviour on overflow.
int wrapAdd(int a, int b) {
  return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(b));
}

int wrapSub(int a, int b) {
  return static_cast<int>(static_cast<unsigned>(a) - static_cast<unsigned>(b));
}

int isLeapYear(int y) {
  return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
}

// Month 12 and above, and anything that is not a month, count as 31 days.
int monthLength(int m, int y) {
  if (m == 2) return isLeapYear(y) ? 29 : 28;
  if (m == 4 || m == 6 || m == 9 || m == 11) return 30;
  return 31;
}

// Fills tm for mktime; false if the year or month cannot be expressed in struct tm.
bool toTm(const otTime& t, struct tm* tm) {
  long long y = static_cast<long long>(t.year) - 1900;
  if (y < INT_MIN || y > INT_MAX || t.month == INT_MIN) return false;
  memset(tm, 0, sizeof(*tm));
  tm->tm_year = static_cast<int>(y);
  tm->tm_mon = t.month - 1;
  tm->tm_mday = t.day;
  tm->tm_hour = t.hour;
  tm->tm_min = t.minute;
  tm->tm_sec = t.second;
  tm->tm_isdst = -1;
  return true;
}

// mktime's -1 is also a valid instant (one second before the epoch in UTC); only a tm that
// mktime left untouched marks a failure.
bool toTimeT(struct tm* tm, time_t* out) {
  tm->tm_wday = -1;
  time_t t = mktime(tm);
  if (t == static_cast<time_t>(-1) && tm->tm_wday == -1) return false;
  *out = t;
  return true;
}

}  // namespace

otTime::otTime(int year_, int month_, int day_, int hour_, int minute_, int second_,
               int millisecond_)
    : year(year_),
      month(month_),
      day(day_),
      hour(hour_),
      minute(minute_),
      second(second_),
      millisecond(millisecond_) {
  timeString[0] = '\0';
}

otTime::~otTime() {}

int otTime::getLocalTime() {
  struct timeval tv;
  struct tm tm;
  if (gettimeofday(&tv, nullptr) != 0) return -1;
  if (!localtime_r(&tv.tv_sec, &tm)) return -1;
  year = tm.tm_year + 1900;
  month = tm.tm_mon + 1;
  day = tm.tm_mday;
  hour = tm.tm_hour;
  minute = tm.tm_min;
  second = tm.tm_sec;
  millisecond = static_cast<int>(tv.tv_usec / 1000);
  return 0;
}

int otTime::setLocalTime() {
  struct tm tm;
  time_t t;
  if (millisecond < 0 || millisecond > 999 || !toTm(*this, &tm) || !toTimeT(&tm, &t)) {
    errno = EINVAL;
    return -1;
  }
  struct timeval tv;
  tv.tv_sec = t;
  tv.tv_usec = static_cast<suseconds_t>(millisecond) * 1000;
  return settimeofday(&tv, nullptr);
}

int otTime::getFileModificationTime(const char* path) {
  struct stat st;
  struct tm tm;
  if (!path || lstat(path, &st) != 0) return -1;
  if (!localtime_r(&st.st_mtime, &tm)) return -1;
  year = tm.tm_year + 1900;
  month = tm.tm_mon + 1;
  day = tm.tm_mday;
  hour = tm.tm_hour;
  minute = tm.tm_min;
  second = tm.tm_sec;
  millisecond = 0;
  return 0;
}

char* otTime::getTimeString() {
  snprintf(timeString, sizeof(timeString), "%04d-%02d-%02d %02d:%02d:%02d %04d", year, month, day,
           hour, minute, second, millisecond);
  return timeString;
}

char* otTime::getIsoTimeString() {
  snprintf(timeString, sizeof(timeString), "%04d-%02d-%02dT%02d:%02d:%02d.%d", year, month, day,
           hour, minute, second, millisecond);
  return timeString;
}

int otTime::setTimeFromString(const char* text) {
  year = month = day = hour = minute = second = millisecond = 0;
  if (!text) return 0;
  int n = sscanf(text, "%d-%d-%d %d:%d:%d %d", &year, &month, &day, &hour, &minute, &second,
                 &millisecond);
  return n < 0 ? 0 : n;  // EOF on an empty text still means no field was read
}

int otTime::setTimeFromIsoString(const char* text) {
  year = month = day = hour = minute = second = millisecond = 0;
  if (!text) return 0;
  int n = sscanf(text, "%d-%d-%dT%d:%d:%d.%d", &year, &month, &day, &hour, &minute, &second,
                 &millisecond);
  return n < 0 ? 0 : n;
}

double otTime::secondsSinceEpoche() {
  struct tm tm, epochTm;
  time_t t, epoch;
  otTime start(1970, 1, 1);
  if (!toTm(*this, &tm) || !toTimeT(&tm, &t)) return -1;
  if (!toTm(start, &epochTm) || !toTimeT(&epochTm, &epoch)) return -1;
  return difftime(t, epoch) + millisecond / 1000.0;
}

otTime otTime::operator+(const otTime& other) const {
  otTime sum(*this);
  sum += other;
  return sum;
}

otTime& otTime::operator+=(const otTime& other) {
  year = wrapAdd(year, other.year);
  month = wrapAdd(month, other.month);
  day = wrapAdd(day, other.day);
  hour = wrapAdd(hour, other.hour);
  minute = wrapAdd(minute, other.minute);
  second = wrapAdd(second, other.second);
  millisecond = wrapAdd(millisecond, other.millisecond);

  const int length = monthLength(month, year);
  if (millisecond >= 1000) {
    second = wrapAdd(second, 1);
    millisecond -= 1000;
  }
  if (second >= 60) {
    minute = wrapAdd(minute, 1);
    second -= 60;
  }
  if (minute >= 60) {
    hour = wrapAdd(hour, 1);
    minute -= 60;
  }
  if (hour > 23) {
    day = wrapAdd(day, 1);
    hour -= 24;
  }
  if (day > length) {
    month = wrapAdd(month, 1);
    day -= length;
  }
  if (month > 12) {
    year = wrapAdd(year, 1);
    month -= 12;
  }
  timeString[0] = '\0';
  return *this;
}

otTime otTime::operator-(const otTime& other) const {
  otTime difference(*this);
  difference -= other;
  return difference;
}

otTime& otTime::operator-=(const otTime& other) {
  year = wrapSub(year, other.year);
  month = wrapSub(month, other.month);
  day = wrapSub(day, other.day);
  hour = wrapSub(hour, other.hour);
  minute = wrapSub(minute, other.minute);
  second = wrapSub(second, other.second);
  millisecond = wrapSub(millisecond, other.millisecond);

  if (millisecond < 0) {
    second = wrapSub(second, 1);
    millisecond += 1000;
  }
  if (second < 0) {
    minute = wrapSub(minute, 1);
    second += 60;
  }
  if (minute < 0) {
    hour = wrapSub(hour, 1);
    minute += 60;
  }
  if (hour < 0) {
    day = wrapSub(day, 1);
    hour += 24;
  }
  // A day borrow takes the length of the month it borrows from: the one before the month of
  // the result, December of the year before for January.
  auto borrowMonth = [this]() {
    month = wrapSub(month, 1);
    int m = month, y = year;
    if (m < 1) {
      m += 12;
      y = wrapSub(y, 1);
    }
    day += monthLength(m, y);
  };
  if (day < 0) borrowMonth();

  // Without the following steps a difference across a month or year boundary could keep a
  // negative day or month although the first time is the later one (2015-01-01 minus
  // 2014-12-31 would give year 1, month -11), and the comparisons, which only look for a
  // negative field, would call it earlier. A short borrowed month leaves at most -3 days for
  // real dates, which one more borrow covers; the month then borrows whole years so that
  // only the year carries the sign.
  for (int i = 0; i < 2 && day < 0; i++)
    borrowMonth();
  if (month < 0) {
    int rest = month % 12;
    int years = -(month / 12) + (rest != 0 ? 1 : 0);
    month = rest != 0 ? rest + 12 : 0;
    year = wrapSub(year, years);
  }
  timeString[0] = '\0';
  return *this;
}

int otTime::operator==(const otTime& other) const {
  return year == other.year && month == other.month && day == other.day && hour == other.hour &&
         minute == other.minute && second == other.second && millisecond == other.millisecond;
}

namespace {
int anyNegative(const otTime& t) {
  return t.year < 0 || t.month < 0 || t.day < 0 || t.hour < 0 || t.minute < 0 || t.second < 0 ||
         t.millisecond < 0;
}
}  // namespace

int otTime::operator<(const otTime& other) const {
  return anyNegative(*this - other);
}

int otTime::operator>(const otTime& other) const {
  return anyNegative(other - *this);
}

int otTime::operator<=(const otTime& other) const {
  return *this == other || *this < other;
}

int otTime::operator>=(const otTime& other) const {
  return *this == other || *this > other;
}

long long otMonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

long long otMonotonicUs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

long long otWallMs() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}
