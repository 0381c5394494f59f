// Software renderer: the screen record, its buffers, present, display modes
// and the focus watch.
#include "render/soft_screen.h"

#include <new>

#include "core/fault_inject.h"
#include "platform/window/display.h"
#include "platform/core/error.h"
#include "platform/window/messages.h"
#include "render/renderer.h"

namespace {

// The focus watch runs inside the window's message dispatch, so it sees
// activation changes the moment the window thread handles them.
void WatchObserver(void* context, plat::Window*, uint32_t message, uintptr_t wParam, intptr_t) {
  KivSoftWatchMessage(static_cast<KivSoftScreen*>(context), message, wParam);
}

}  // namespace

KivSoftScreen* KivSoftScreenCreate(const KivRendererSetup& setup) {
  if (KivFaultHit(KivFault::kSoftScreen)) return nullptr;
  // The back buffer's byte size must fit the allocator's int.
  if (setup.screenWidth <= 0 || setup.screenHeight <= 0 ||
      static_cast<int64_t>(setup.screenWidth) * setup.screenHeight > (INT32_MAX / 4))
    return nullptr;
  void* block = KivMemoryAlloc(sizeof(KivSoftScreen), 1);
  if (!block) return nullptr;
  auto* screen = new (block) KivSoftScreen;
  screen->setup = setup;
  screen->window = setup.window;
  screen->clientWidth = setup.clientWidth;
  screen->clientHeight = setup.clientHeight;
  screen->width = setup.screenWidth;
  screen->height = setup.screenHeight;
  screen->options = setup.options;
  screen->aspect = setup.aspect;
  screen->wholeClient = 1;
  screen->presentFailed = 0;

  // The window's rectangle and its monitor, for full-screen placement.
  plat::Rect outer = screen->window ? screen->window->backend()->OuterRect()
                                    : plat::Rect{0, 0, setup.clientWidth, setup.clientHeight};
  screen->windowX = outer.left;
  screen->windowY = outer.top;
  screen->windowW = outer.width();
  screen->windowH = outer.height();
  int index = KivGetMonitorRect(plat::Point{outer.left + setup.screenWidth / 2, outer.top + setup.screenHeight / 2},
                                &screen->monitor);
  screen->monitorIndex = index < 0 ? 0 : index;
  KivSoftSetAspectRect(screen, g_kiv ? g_kiv->params.fullScreen : 0);

  // The back buffer, the blit's work buffer and the decoder's.
  screen->stretchEnlarge = screen->stretchShrink = 1;
  screen->blitMode = 0;
  const int pixels = screen->width * screen->height;
  screen->backBuffer = static_cast<uint32_t*>(KivMemoryAlloc(pixels * 4, 0));
  screen->work = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(kKivSoftWorkSize), 1));
  screen->decodeWork = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(kKivGeWorkSize), 1));
  screen->rowPending = static_cast<uint8_t*>(KivMemoryAlloc(screen->height, 1));
  screen->clearRow = static_cast<uint32_t*>(KivMemoryAlloc(screen->width * 4, 0));
  screen->overClear = static_cast<uint32_t*>(KivMemoryAlloc(pixels * 4, 0));
  if (!screen->backBuffer || !screen->work || !screen->decodeWork || !screen->rowPending || !screen->clearRow ||
      !screen->overClear) {
    KivSoftScreenRelease(screen);
    return nullptr;
  }
  KivSoftFill(screen->backBuffer, static_cast<size_t>(pixels), 0xFF000000u);
  screen->target = screen->backBuffer;
  screen->desktopBpp = 32;
  if (screen->window) {
    screen->window->SetObserver(WatchObserver, screen);
    screen->watching = 1;
  }

  screen->transitionWork = KivPixelBufferAlloc(kKivSoftBoxLimit, kKivSoftBoxLimit);
  if (!screen->transitionWork) {
    KivSoftScreenRelease(screen);
    return nullptr;
  }
  // Without Fx buffers sprites with an effect are drawn without it.
  screen->fx[0] = KivPixelBufferAlloc(screen->width, screen->height);
  screen->fx[1] = screen->fx[0] ? KivPixelBufferAlloc(screen->width, screen->height) : nullptr;
  if (!screen->fx[1]) {
    plat::DebugOutput("Memory Allocate Error : Load Effect");
    KivPixelBufferFree(screen->fx[0]);
    screen->fx[0] = nullptr;
  }
  KivDetectCpuFeatures();
  return screen;
}

void KivSoftScreenRelease(KivSoftScreen* screen) {
  if (!screen) return;
  KivPixelBufferFree(screen->fx[1]);
  KivPixelBufferFree(screen->fx[0]);
  KivPixelBufferFree(screen->transitionWork);
  // The watch ends before anything it reads is freed.
  if (screen->watching && screen->window) screen->window->SetObserver(nullptr, nullptr);
  KivMemoryFree(screen->overClear);
  KivMemoryFree(screen->clearRow);
  KivMemoryFree(screen->rowPending);
  KivMemoryFree(screen->decodeWork);
  KivMemoryFree(screen->work);
  KivMemoryFree(screen->backBuffer);
  if (screen->surfaces) {
    // Surfaces still in use at the end belong to sprites nobody released;
    // their pixels go with the table.
    for (int i = 0; i < screen->surfaceCapacity; ++i) KivPixelBufferFree(screen->surfaces[i].buffer);
    KivMemoryFree(screen->surfaces);
  }
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
  KivSoftResolve(screen);
  plat::Window* w = screen->window;
  if (!w || !w->Alive()) {
    screen->presentFailed = 1;
    plat::DebugOutput("Present : Error");
    return 1;
  }
  if (screen->options & 0x1) screen->stretchEnlarge = screen->stretchShrink = 2;
  plat::Rect dst;
  if (screen->wholeClient) {
    plat::Rect c = w->backend()->ClientRectOnScreen();
    dst = plat::Rect{0, 0, c.width(), c.height()};
  } else {
    dst = screen->view;
  }
  bool smooth = false;
  const int64_t dsum = static_cast<int64_t>(dst.width()) + dst.height();
  const int64_t ssum = static_cast<int64_t>(screen->width) + screen->height;
  if (dsum > ssum) smooth = screen->stretchEnlarge == 2;
  else if (dsum < ssum) smooth = screen->stretchShrink == 2;
  KivTextFieldDraw(screen->backBuffer, screen->width, screen->height);
  if (g_kiv) g_kiv->screenShown.fetch_add(1);
  // Where the GPU draws straight into the window it shows the frame itself;
  // a window present would not show there.
  bool failed = false;
  if (!Kiv3DShowCpuFrame(screen->backBuffer, screen->width, screen->height, dst, smooth, &failed))
    failed = !w->backend()->Present(screen->backBuffer, screen->width, screen->height, screen->width, dst, smooth);
  if (screen->options & 0x1) screen->stretchEnlarge = screen->stretchShrink = 1;
  if (failed) {
    screen->presentFailed = 1;
    plat::DebugOutput("Present : Error");
    return 1;
  }
  return 0;
}

int KivSoftChangeDisplayMode(KivSoftScreen* screen, int width, int height, int fullScreen) {
  if (!screen || width <= 0 || height <= 0) return 0;
  screen->savedDesktop = plat::DesktopRect();
  if (screen->window) screen->window->backend()->SetFullScreen(fullScreen != 0);
  screen->displayModeChanged.store(fullScreen ? 1 : 0);
  return 1;
}

void KivSoftWatchMessage(KivSoftScreen* screen, uint32_t message, uintptr_t wParam) {
  if (!screen || !screen->window) return;
  bool activate = false;
  if (message == plat::kMsgActivate) {
    bool on = (wParam & 0xFFFF) != 0;
    screen->focused.store(on ? 1 : 0);
    if (!on && screen->displayModeChanged.load()) {
      // Switched away from full screen: get out of the way of the desktop.
      screen->window->backend()->Minimize();
      KivSoftChangeDisplayMode(screen, screen->savedDesktop.width(), screen->savedDesktop.height(), 0);
      screen->minimisedByWatch.store(1);
      return;
    }
    activate = on;
  } else if (message == plat::kMsgActivateApp) {
    if (wParam == 0) screen->focused.store(0);
  } else if (message == plat::kMsgPaint) {
    activate = screen->focused.load() != 0;
  }
  if (activate && screen->minimisedByWatch.load()) {
    screen->window->backend()->Restore();
    KivSoftChangeDisplayMode(screen, screen->savedDesktop.width(), screen->savedDesktop.height(), 1);
    screen->minimisedByWatch.store(0);
  }
}

namespace {

bool SoftBeginFrame(void* core, uint32_t clear) {
  auto* screen = static_cast<KivSoftScreen*>(core);
  if (!screen || screen->notReady) return false;
  screen->target = screen->backBuffer;
  KivSoftBeginClear(screen, clear);
  return true;
}

bool SoftPresentFrame(void* core) { return KivSoftPresent(static_cast<KivSoftScreen*>(core)) == 0; }

}  // namespace

const KivRenderer kKivSoftRenderer = {SoftBeginFrame, SoftPresentFrame, &kKivSoftEffects};
