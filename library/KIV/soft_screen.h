// The software screen: a 32-bit back buffer of the logical screen size,
// shown in the window's view rectangle.
#pragma once
#include <cstdint>

#include "platform/geometry.h"
#include "system_state.h"

struct KivSoftScreen {
  KivRendererSetup setup;
  int width = 0, height = 0;
  uint32_t* backBuffer = nullptr;  // B G R A words, rows top first
  int notReady = 0;
  int surfaceLost = 0;
  int aspect = 0;
  plat::Rect view;
  void** surfaces = nullptr;
  int surfaceCapacity = 0;
};

KivSoftScreen* KivSoftScreenCreate(const KivRendererSetup& setup);
int KivSoftSurfaceTableCreate(KivSoftScreen* screen, int capacity);
void KivSoftScreenRelease(KivSoftScreen* screen);
bool KivSoftScreenTestLost(KivSoftScreen* screen);
int KivSoftScreenRestore(KivSoftScreen* screen);
int KivSoftPresent(KivSoftScreen* screen);
