// Software renderer: the screen, its surface table and present.
#include "soft_screen.h"

#include <new>

#include "fault_inject.h"
#include "renderer.h"

KivSoftScreen* KivSoftScreenCreate(const KivRendererSetup& setup) {
  if (KivFaultHit(KivFault::kSoftScreen)) return nullptr;
  if (setup.screenWidth <= 0 || setup.screenHeight <= 0) return nullptr;
  void* block = KivMemoryAlloc(sizeof(KivSoftScreen), 1);
  if (!block) return nullptr;
  auto* screen = new (block) KivSoftScreen;
  screen->setup = setup;
  screen->width = setup.screenWidth;
  screen->height = setup.screenHeight;
  screen->aspect = setup.aspect;
  screen->view = plat::Rect{0, 0, setup.clientWidth, setup.clientHeight};
  screen->backBuffer = static_cast<uint32_t*>(
      KivMemoryAlloc(static_cast<int>(static_cast<size_t>(screen->width) * screen->height * 4), 0));
  if (!screen->backBuffer) {
    KivSoftScreenRelease(screen);
    return nullptr;
  }
  for (size_t i = 0, n = static_cast<size_t>(screen->width) * screen->height; i < n; ++i)
    screen->backBuffer[i] = 0xFF000000u;
  return screen;
}

int KivSoftSurfaceTableCreate(KivSoftScreen* screen, int capacity) {
  if (KivFaultHit(KivFault::kSoftSurfaces) || !screen || capacity <= 0) return 0;
  screen->surfaces = static_cast<void**>(KivMemoryAlloc(capacity * static_cast<int>(sizeof(void*)), 1));
  if (!screen->surfaces) return 0;
  screen->surfaceCapacity = capacity;
  return 1;
}

void KivSoftScreenRelease(KivSoftScreen* screen) {
  if (!screen) return;
  KivMemoryFree(screen->surfaces);
  KivMemoryFree(screen->backBuffer);
  screen->~KivSoftScreen();
  KivMemoryFree(screen);
}

bool KivSoftScreenTestLost(KivSoftScreen* screen) {
  screen->notReady = screen->surfaceLost;
  return screen->notReady != 0;
}

int KivSoftScreenRestore(KivSoftScreen* screen) {
  screen->surfaceLost = 0;
  screen->notReady = 0;
  return 1;
}

int KivSoftPresent(KivSoftScreen* screen) {
  plat::Window* w = screen->setup.window;
  if (!w || !w->Alive()) return 0;
  w->backend()->Present(screen->backBuffer, screen->width, screen->height, screen->width, screen->view,
                        screen->setup.fullScreenFilter >= 2);
  return 1;
}

namespace {

bool SoftBeginFrame(void* core, uint32_t clear) {
  auto* screen = static_cast<KivSoftScreen*>(core);
  if (!screen || screen->notReady) return false;
  uint32_t* px = screen->backBuffer;
  for (size_t i = 0, n = static_cast<size_t>(screen->width) * screen->height; i < n; ++i) px[i] = clear;
  return true;
}

bool SoftPresentFrame(void* core) { return KivSoftPresent(static_cast<KivSoftScreen*>(core)) != 0; }

}  // namespace

const KivRenderer kKivSoftRenderer = {SoftBeginFrame, SoftPresentFrame};
