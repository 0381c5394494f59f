// Renderers: the table the render pass draws through, the software screen
// and its blits, and the pixel routines both renderers share.
// The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// What the render pass needs of a renderer. The software screen and the GPU
// context each supply one table, so the pass itself never knows which is in
// use (and tests can count what it asks for).
#pragma once
#include <cstdint>
#include <span>

#include "kiv.h"

// What the screen transitions and the screen Fx need of a renderer: surfaces
// of its own (the transition capture, a mask), reachable as CPU pixels while
// locked, a copy of the last drawn frame into one, and a draw of one over
// the frame. The transition state machine and every pixel step run the same
// on any renderer that fills this in.
struct KivEffectRenderer {
  // A blank w x h surface; NULL when it cannot be made.
  void* (*createSurface)(void* core, int w, int h);
  // An image file's bytes (GE, BMP or TGA) as a surface; NULL when they do
  // not decode.
  void* (*loadSurface)(void* core, const char* name, std::span<const uint8_t> bytes);
  void (*releaseSurface)(void* core, void* surface);
  // The surface's pixels, rows *pitch pixels apart; NULL when it cannot be
  // locked. The size is the surface's.
  uint32_t* (*lockSurface)(void* core, void* surface, int* w, int* h, int* pitch);
  void (*unlockSurface)(void* core, void* surface);
  // The last drawn frame into the surface, clipped to both; false when the
  // read-back failed (the caller restores the device and tries again).
  bool (*captureBackBuffer)(void* core, void* surface);
  // rect of the surface at (x, y), unscaled and unturned, with the colour:
  // mode 1 blends by alpha, mode 0 copies.
  void (*drawSurface)(void* core, void* surface, const KivRect& rect, int x, int y, uint32_t colour, int mode);
  // The screen Fx: what is drawn of this frame so far, waved by the request.
  void (*drawScreenFx)(void* core, const KivFxRequest& request);
  // Captures are sized in powers of two (GPU textures).
  bool powerOfTwoCaptures;
  // The screen Fx's node goes once its effect has ended and effects are on
  // (GPU); otherwise it stays until the effect is released.
  bool screenFxNodeEnds;
};

struct KivRenderer {
  // Clears the back buffer to `clear`; false when no frame can be drawn now.
  bool (*beginFrame)(void* core, uint32_t clear);
  // Shows the finished frame; false when presenting failed.
  bool (*present)(void* core);
  // Transitions and screen Fx; NULL: transitions show the new scene at once.
  const KivEffectRenderer* effects = nullptr;
};

extern const KivRenderer kKivSoftRenderer;
extern const KivEffectRenderer kKivSoftEffects;
