// The wall clock: the system clock, or the moment a test fixed.
#include "platform/core/wall_clock.h"

#include <atomic>
#include <ctime>

#include "platform/core/clock.h"

namespace plat {

namespace {
std::atomic<bool> g_fixed{false};
std::atomic<int64_t> g_seconds{0};
constexpr int64_t kFrameClockDay = 1775037600;  // 2026-04-01 10:00:00 UTC
}  // namespace

void SetWallClock(int64_t unix_seconds) {
  g_seconds.store(unix_seconds);
  g_fixed.store(true);
}

void ClearWallClock() { g_fixed.store(false); }

int64_t WallClockSeconds() {
  if (g_fixed.load()) return g_seconds.load();
  if (FrameClockOn()) return kFrameClockDay + TimeGetMs() / 1000;
  return static_cast<int64_t>(std::time(nullptr));
}

LocalTime LocalTimeNow() {
  const std::time_t now = static_cast<std::time_t>(WallClockSeconds());
  std::tm tm{};
  LocalTime out;
  if (!localtime_r(&now, &tm)) return out;
  out.year = tm.tm_year + 1900;
  out.month = tm.tm_mon + 1;
  out.day = tm.tm_mday;
  out.weekday = tm.tm_wday;
  out.hour = tm.tm_hour;
  out.minute = tm.tm_min;
  out.second = tm.tm_sec;
  return out;
}

}  // namespace plat
