// Named failure points, so tests can make each start-up step fail in turn.
// Nothing sets them outside tests: in-process tests call KivFaultSet, and a
// test that runs a whole program sets KIV_FAULTS (the mask, read by KivInit).
#pragma once
#include <atomic>
#include <cstdint>

enum class KivFault : uint32_t {
  kWindow = 1u << 0,
  kRecord = 1u << 1,
  kLoadBuffer = 1u << 2,
  kSoftScreen = 1u << 3,
  kSoftSurfaces = 1u << 4,
  kEffects = 1u << 5,
  kInput = 1u << 6,
  kTaskPool = 1u << 7,
  kSound = 1u << 8,
  kRandom = 1u << 9,
  kWorkerThread = 1u << 10,
  kGameThread = 1u << 11,
  kPixelWork = 1u << 12,  // saved copies and work blocks of the sprite options and copies
  kRendererReset = 1u << 13,  // the renderer's reset on a window-size or aspect change
  // The game thread ignores its stop message and then hangs in its next
  // task walk, as a game task stuck in a loop does at shut-down.
  kGameTaskStuck = 1u << 14,
};

extern std::atomic<uint32_t> g_kivFaults;

inline bool KivFaultHit(KivFault f) {
  return (g_kivFaults.load(std::memory_order_relaxed) & static_cast<uint32_t>(f)) != 0;
}
inline void KivFaultSet(uint32_t mask) { g_kivFaults.store(mask); }
