// The 32-bit millisecond clock (it wraps after about 49.7 days) and sleep.
// Real backend: the steady clock. Virtual backend for tests: time moves only
// when a test advances it or when a thread sleeps, so frame pacing is exact.
#pragma once
#include <cstdint>

namespace plat {

uint32_t TimeGetMs();
void Sleep(uint32_t ms);
// Smallest timer period the clock honours, in ms.
uint32_t TimerMinPeriod();

// Switch to the virtual clock starting at `start_ms`, or back to the real one.
void UseVirtualClock(bool on, uint32_t start_ms = 0);
bool VirtualClockOn();
void AdvanceVirtualClock(uint32_t ms);

// The frame clock of a scripted headless run: the virtual clock, moved only
// by the frame loop; sleeping passes no time (it waits briefly for real, so
// other threads get on with their work).
void UseFrameClock(bool on);
bool FrameClockOn();
void SetFrameClockTime(uint32_t ms);

}  // namespace plat
