// The last drawn frame, for whoever copies the screen.
#include "render/last_frame.h"

#include "core/system_state.h"
#include "render/gpu_context.h"
#include "render/soft_screen.h"
#include "sprite/sprite.h"

bool KivLastFrameRead(KivFrameView* out) {
  KivSoftScreen* screen = KivSpriteSoftScreen();
  if (!out || !screen || !screen->backBuffer || screen->width <= 0 || screen->height <= 0) return false;
  // Rows the frame's clear has not reached yet are cleared now, so the copy
  // sees the frame as it was presented.
  KivSoftResolve(screen);
  // The GPU renderer's frame is read back here, once, when first asked for.
  if (g_kiv && g_kiv->gpu && (g_kiv->params.mode & KIV_MODE_GPU) &&
      !Kiv3DResolveBackBuffer(static_cast<Kiv3DContext*>(g_kiv->gpu)))
    return false;
  *out = KivFrameView{screen->backBuffer, screen->width, screen->height, screen->width};
  return true;
}
