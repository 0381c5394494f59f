// What the render pass needs of a renderer. The software screen and the GPU
// context each supply one table, so the pass itself never knows which is in
// use (and tests can count what it asks for).
#pragma once
#include <cstdint>

struct KivRenderer {
  // Clears the back buffer to `clear`; false when no frame can be drawn now.
  bool (*beginFrame)(void* core, uint32_t clear);
  // Shows the finished frame; false when presenting failed.
  bool (*present)(void* core);
};

extern const KivRenderer kKivSoftRenderer;
