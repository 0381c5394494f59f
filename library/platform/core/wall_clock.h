// The wall clock: the local date and time (what GetLocalTime gives a Win32
// program). Real backend: the system clock through localtime_r. A test fixes
// the clock at a moment of its own, so a date can be checked anywhere.
#pragma once
#include <cstdint>

namespace plat {

struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int weekday = 0;  // 0 Sunday
  int hour = 0, minute = 0, second = 0;
};

// The local time now, by the current time zone.
LocalTime LocalTimeNow();

// Seconds since 1970-01-01 00:00 UTC now: the fixed moment, else on the
// frame clock of a scripted run its own day (2026-04-01 10:00 UTC at the
// run's start, moving with the frames), else the system clock.
int64_t WallClockSeconds();

// Fixes the clock at seconds since 1970-01-01 00:00 UTC; ClearWallClock goes
// back to the system clock.
void SetWallClock(int64_t unix_seconds);
void ClearWallClock();

}  // namespace plat
