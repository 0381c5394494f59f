#include "platform/core/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace plat {

namespace {
std::atomic<bool> g_virtual{false};
std::atomic<uint32_t> g_virtual_now{0};
std::atomic<bool> g_frame_clock{false};
const auto g_epoch = std::chrono::steady_clock::now();
}  // namespace

uint32_t TimeGetMs() {
  if (g_virtual.load(std::memory_order_acquire))
    return g_virtual_now.load(std::memory_order_acquire);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - g_epoch)
                .count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

void Sleep(uint32_t ms) {
  if (g_frame_clock.load(std::memory_order_acquire)) {
    if (ms == 0) std::this_thread::yield();
    else std::this_thread::sleep_for(std::chrono::microseconds(200));
    return;
  }
  if (g_virtual.load(std::memory_order_acquire)) {
    // Virtual time passes at once; yield so other threads make progress.
    g_virtual_now.fetch_add(ms, std::memory_order_acq_rel);
    std::this_thread::yield();
    return;
  }
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint32_t TimerMinPeriod() { return 1; }

void UseVirtualClock(bool on, uint32_t start_ms) {
  g_frame_clock.store(false, std::memory_order_release);
  g_virtual_now.store(start_ms, std::memory_order_release);
  g_virtual.store(on, std::memory_order_release);
}

bool VirtualClockOn() { return g_virtual.load(std::memory_order_acquire); }

void UseFrameClock(bool on) {
  g_virtual_now.store(0, std::memory_order_release);
  g_frame_clock.store(on, std::memory_order_release);
  g_virtual.store(on, std::memory_order_release);
}

bool FrameClockOn() { return g_frame_clock.load(std::memory_order_acquire); }

void SetFrameClockTime(uint32_t ms) { g_virtual_now.store(ms, std::memory_order_release); }

void AdvanceVirtualClock(uint32_t ms) {
  g_virtual_now.fetch_add(ms, std::memory_order_acq_rel);
}

}  // namespace plat
