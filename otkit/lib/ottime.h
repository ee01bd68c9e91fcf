// otTime: a broken-down local calendar time with millisecond resolution, for time stamps in
// logs and history files, file modification times and simple date arithmetic.
//
// A plain value: the seven fields are public and may be set directly. The result of `-` uses
// the same fields as a duration.
#ifndef OTTIME_H
#define OTTIME_H

class otTime {
 public:
  otTime(int year = 0, int month = 0, int day = 0, int hour = 0, int minute = 0, int second = 0,
         int millisecond = 0);
  virtual ~otTime();

  // Sets all fields from the current local time (milliseconds from the wall clock's
  // microseconds). Returns 0, or -1 if the clock cannot be read (fields unchanged).
  int getLocalTime();
  // Sets the system clock from the fields, read as local time. Returns settimeofday's result:
  // 0, or -1 with errno (EPERM without the right to set the clock; EINVAL if the fields do
  // not make a representable time or millisecond is outside 0..999).
  int setLocalTime();
  // Sets the fields from the modification time of path itself (a symbolic link is not
  // followed), millisecond 0. Returns 0, or -1 if path cannot be examined (fields unchanged).
  int getFileModificationTime(const char* path);

  // "2014-03-07 08:05:09 0042" in a buffer of this object, valid until the next call or
  // arithmetic assignment. Fields too large for the 31 characters are cut at the end.
  char* getTimeString();
  // "2014-03-07T08:05:09.42": the millisecond count without padding, in the same buffer.
  char* getIsoTimeString();
  // Clear all seven fields, then read "%d-%d-%d %d:%d:%d %d" (resp. the ISO form
  // "%d-%d-%dT%d:%d:%d.%d"). Returns the number of fields read; missing trailing fields stay 0.
  int setTimeFromString(const char* text);
  int setTimeFromIsoString(const char* text);
  // Seconds since 1970-01-01 00:00:00 local time plus millisecond / 1000; -1 if the fields do
  // not make a representable time.
  double secondsSinceEpoche();

  // Field by field, then one carry per field from the millisecond up to the year. The second
  // operand is meant as a duration below one unit in every field.
  otTime operator+(const otTime& other) const;
  otTime& operator+=(const otTime& other);
  // Field by field, then borrows from the millisecond up. The result is normalised so that
  // every field but the year is not negative; the year is negative exactly when this time
  // lies before the other.
  otTime operator-(const otTime& other) const;
  otTime& operator-=(const otTime& other);

  // All seven fields equal.
  int operator==(const otTime& other) const;
  // True if a field of (this - other) is negative, i.e. this time lies before other.
  int operator<(const otTime& other) const;
  // True if a field of (other - this) is negative.
  int operator>(const otTime& other) const;
  int operator<=(const otTime& other) const;
  int operator>=(const otTime& other) const;

  int year;         // four digits, e.g. 2014
  int month;        // 1..12
  int day;          // 1..31
  int hour;         // 0..23
  int minute;       // 0..59
  int second;       // 0..59
  int millisecond;  // 0..999

 private:
  char timeString[32];
};

// Milliseconds of the monotonic clock (CLOCK_MONOTONIC: not moved by setLocalTime or by any
// other change of the wall clock), for deadlines and intervals within one boot. The library's
// one clock for time-outs.
long long otMonotonicMs();
// The same clock in microseconds, for waits too short to count in milliseconds.
long long otMonotonicUs();
// Milliseconds since 1970-01-01 UTC (CLOCK_REALTIME), for time stamps that leave the machine.
long long otWallMs();

#endif
