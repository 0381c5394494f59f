// The software renderer: a 32-bit back buffer of the logical screen size,
// the table of pixel surfaces behind sprites, the sprite blit with its four
// blend modes, the cross-fade combine, the Fx draw and the present into the
// window's client or aspect rectangle.
//
// Pixels live in CPU memory and are the authority: a surface's buffer is
// allocated once with its size and never changes shape while in use (a GPU
// renderer may keep textures of them as caches). All buffers are made when
// the screen is created; drawing allocates nothing.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "image/image_decode.h"
#include "render/pixel_routines.h"
#include "platform/core/geometry.h"
#include "core/system_state.h"

// One entry of the surface table. Free while its reference count is 0.
struct KivSoftSurfaceEntry {
  KivPixelBuffer* buffer;  // the pixels; its width and height are the allocated size
  int width, height;       // the allocated size, fixed while the entry is in use
  int refCount;
  char name[32];           // the loader's name; empty for blank surfaces
  // Bumped (from one process-wide counter) whenever the pixels may have
  // changed, so a texture made of them knows it is stale.
  uint32_t version;
  int imageWidth, imageHeight;  // the loaded image's size (GPU loads record it here)
  // What changed since a texture last took the pixels: a top-left corner
  // (width << 16 | height), kKivCornerNone, or kKivCornerWhole (0, so a
  // zeroed entry uploads whole). A writer marks it before bumping version.
  uint32_t changedCorner;
};

constexpr uint32_t kKivCornerWhole = 0;
constexpr uint32_t kKivCornerNone = 0x80000000u;

// What a sprite's surface field points to with this renderer. width and
// height are the recorded image size (the sprite may rewrite them); every
// pixel access goes by the entry's allocated size instead.
struct KivSoftSurface {
  int width, height;
  KivSoftSurfaceEntry* entry;
};

// A sprite draw: everything the blit needs, already in screen pixels.
struct KivSoftDraw {
  KivSoftSurface* surface = nullptr;
  int x = 0, y = 0;
  int angle = 0;  // 512ths of a turn
  float scale = 1.0f;
  KivRect rect{};  // source rectangle in the surface
  uint32_t colour = 0xFFFFFFFFu;
  int renderMode = 1;
  const KivFxRequest* fx = nullptr;
};

// The software half of a two-sprite cross-fade: each half already carries
// its alpha for the current progress; a half without a surface is absent.
struct KivSoftTransitionDraw {
  KivSoftDraw in, out;
  float progress = 0.0f;  // 0..1
};

struct KivSoftScreen {
  KivRendererSetup setup;

  // Surface table.
  KivSoftSurfaceEntry* surfaces = nullptr;
  int surfaceCapacity = 0;
  int surfacesUsed = 0;

  KivPixelBuffer* transitionWork = nullptr;  // 2048 x 2048, for the cross-fade combine
  plat::Window* window = nullptr;
  int clientWidth = 0, clientHeight = 0;
  int width = 0, height = 0;  // the back buffer (= logical screen)
  int wholeClient = 1;        // 1: present into the whole client area; 0: into view
  int presentFailed = 0;
  uint32_t options = 0;  // bit 0: smooth stretching
  int aspect = 0;
  plat::Rect view;  // the aspect rectangle (client or monitor coordinates)
  plat::Rect monitor;
  int monitorIndex = 0;
  int windowX = 0, windowY = 0, windowW = 0, windowH = 0;  // remembered outer rectangle

  // Back buffer.
  uint32_t* backBuffer = nullptr;  // width x height words, rows top first
  uint32_t* target = nullptr;      // where blits go: the back buffer or an Fx buffer
  uint8_t* work = nullptr;         // 32 MiB: [0, 16 MiB) transform box, [16, 32 MiB) packed source
  uint8_t* decodeWork = nullptr;   // 32 MiB unpack area of the GE decoder
  int desktopBpp = 32;
  std::atomic<int> displayModeChanged{0};
  std::atomic<int> minimisedByWatch{0};
  std::atomic<int> focused{1};
  plat::Rect savedDesktop;
  int watching = 0;
  int blitMode = 0;
  int stretchEnlarge = 1, stretchShrink = 1;  // 1 nearest, 2 smoothed
  const KivPixelBuffer* source = nullptr;

  KivPixelBuffer* fx[2] = {nullptr, nullptr};  // screen-sized Fx buffers

  // The frame's clear is applied row by row as blits first touch a row
  // (KivSoftResolve finishes it); rows still to be cleared are marked.
  uint8_t* rowPending = nullptr;
  uint32_t* clearRow = nullptr;  // one row of the clear colour
  uint32_t clearColour = 0;
  int clearRowValid = 0;
  int pendingRows = 0;

  // A large sprite blended over rows that still hold the clear colour, as
  // it came out (its result depends on nothing else): drawn there again
  // unchanged, it is a plain copy. Screen-sized, made with the screen.
  uint32_t* overClear = nullptr;
  const KivSoftSurfaceEntry* sourceEntry = nullptr;  // the sprite being drawn, for the key
  struct {
    const KivSoftSurfaceEntry* entry = nullptr;
    const uint32_t* src = nullptr;
    uint32_t version = 0, colour = 0, clear = 0;
    int mode = -1, w = 0, h = 0;
  } overClearKey;

  int notReady = 0;
  int surfaceLost = 0;

  // Surfaces for the GPU renderer: allocated in powers of two (padding
  // zeroed), each side 1..maxSurfaceSide.
  int powerOfTwo = 0;
  int maxSurfaceSide = 0;
};

inline constexpr int kKivSoftBoxLimit = 2048;
inline constexpr size_t kKivSoftWorkSize = 32u << 20;
inline constexpr size_t kKivSoftPackOffset = 16u << 20;

// ---- Screen (soft_screen.cpp) ----
KivSoftScreen* KivSoftScreenCreate(const KivRendererSetup& setup);
void KivSoftScreenRelease(KivSoftScreen* screen);
bool KivSoftScreenTestLost(KivSoftScreen* screen);
int KivSoftScreenRestore(KivSoftScreen* screen);
// 0 on success, 1 on failure (present-failed is then set).
int KivSoftPresent(KivSoftScreen* screen);
// The desktop keeps its display mode on this platform: full screen is the
// window backend's desktop full screen and every size is shown scaled into
// the aspect rectangle. 1, or 0 for a size no display could show.
int KivSoftChangeDisplayMode(KivSoftScreen* screen, int width, int height, int fullScreen);
// Focus watch, called on the window thread for every window message.
void KivSoftWatchMessage(KivSoftScreen* screen, uint32_t message, uintptr_t wParam);

// ---- Aspect and placement (view_rect.cpp) ----
int KivGcd(int a, int b);
// The view rectangle of a w x h logical screen: windowed the client area,
// full screen fitted to the monitor by aspect mode 0-3. False (and the
// debugger line) for any other mode; *out is then unchanged.
bool KivAspectRect(int w, int h, const plat::Rect& monitor, int mode, bool fullScreen, int clientWidth,
                   int clientHeight, plat::Rect* out);
// Recomputes the screen's view rectangle and whole-client flag.
void KivSoftSetAspectRect(KivSoftScreen* screen, int fullScreen);
// The monitor holding the point, else the nearest; its index, -1 when none.
int KivGetMonitorRect(plat::Point point, plat::Rect* out);
// Puts the window into desktop full screen on its monitor, or back to its
// remembered windowed rectangle, and recomputes the view rectangle.
int KivPlaceFullScreenWindow(KivSoftScreen* screen, int fullScreen);

// ---- Surfaces (soft_surface.cpp) ----
int KivSoftSurfaceTableCreate(KivSoftScreen* screen, int capacity);
KivSoftSurface* KivSoftSurfaceCreate(KivSoftScreen* screen, int w, int h);
// Decodes GE, BMP or TGA bytes into a new surface named name.
KivSoftSurface* KivSoftSurfaceLoad(KivSoftScreen* screen, const char* name, std::span<const uint8_t> image);
// 1, or 0 when the surface is not in the screen's table.
int KivSoftSurfaceRelease(KivSoftScreen* screen, KivSoftSurface* surface);
int KivSoftSurfaceCopyPixels(const KivSoftSurface* from, KivSoftSurface* to);
// The back buffer into a surface (the screen-transition capture).
int KivSoftCopyBackBuffer(KivSoftScreen* screen, KivSoftSurface* to);
// The pixel at (x, y), or -1 outside the surface.
int64_t KivSoftSurfaceReadPixel(const KivSoftSurface* surface, int x, int y);
// Packs the rectangle (NULL: the whole surface) into out; pixels outside the
// surface come out 0. False when the rectangle is empty or does not fit out.
bool KivSoftSurfaceCopyOut(const KivSoftSurface* surface, const KivRect* rect, std::span<uint32_t> out,
                           int* outWidth, int* outHeight);
// The table's parts that the GPU renderer's named loads are made of: the
// first free entry, taken with the name (at most 31 bytes, terminated;
// NULL when the table is full); one reference let go (at 0 the pixels are
// freed and the entry is free again); whether an entry is the table's.
KivSoftSurfaceEntry* KivSoftSurfaceTakeEntry(KivSoftScreen* screen, const char* name);
void KivSoftSurfaceDropEntry(KivSoftScreen* screen, KivSoftSurfaceEntry* e);
bool KivSoftSurfaceInTable(const KivSoftScreen* screen, const KivSoftSurfaceEntry* e);
// The buffer padded to powers of two (padding zeroed; the buffer itself
// when its sides already are), the old one freed. NULL when a side is out
// of 1..maxSide or memory runs out.
KivPixelBuffer* KivPixelBufferPadToPowerOfTwo(KivPixelBuffer* b, int maxSide);
// Marks the entry's pixels as changed.
void KivSoftSurfaceTouch(KivSoftSurfaceEntry* e);
// Marks only the top-left width x height of the entry's pixels as changed,
// for a writer that wrote nothing outside it (a movie frame in a padded
// surface), so a texture takes that corner alone.
void KivSoftSurfaceTouchCorner(KivSoftSurfaceEntry* e, int width, int height);
// What changed since the last call (kKivCornerWhole, kKivCornerNone or a
// corner), and nothing changed from now on.
uint32_t KivSoftSurfaceTakeChanged(KivSoftSurfaceEntry* e);
uint32_t KivSoftSurfaceVersion(const KivSoftSurfaceEntry* e);
// The next power of two of v (1..2^30); 0 when v is not positive or too large.
int KivPowerOfTwo(int v);
// The pixels and allocated size for reading, left unmarked; NULL for a
// surface without pixels.
const uint32_t* KivSoftSurfaceReadPixels(const KivSoftSurface* surface, int* width, int* height);
// The pixels and allocated size, marked as changed (the caller may write);
// NULL for a surface without pixels.
uint32_t* KivSoftSurfacePixels(const KivSoftSurface* surface, int* width, int* height);
// The same, left unmarked: the writer marks what it wrote once it is done.
uint32_t* KivSoftSurfacePixelsToMark(const KivSoftSurface* surface, int* width, int* height);

// ---- Drawing (soft_blit.cpp) ----
void KivSoftDrawSprite(KivSoftScreen* screen, const KivSoftDraw& draw);
void KivSoftDrawTransition(KivSoftScreen* screen, const KivSoftTransitionDraw& draw);
// Blits rect of the current source at (x, y) into the current target with
// the current blit mode.
void KivSoftBlit(KivSoftScreen* screen, const KivRect& rect, int x, int y, float scale, int angle,
                 uint32_t colour);
// One blitter over w x h pixels (mode 0 copy, 1 blend, 2 add, 3 multiply).
void KivSoftBlitRect(int mode, const uint32_t* src, int srcPitch, uint32_t* dst, int dstPitch, int w, int h,
                     uint32_t colour, KivLoopVariant v = KivLoopVariant::kAuto);
// Fills count words.
void KivSoftFill(uint32_t* px, size_t count, uint32_t value);
// Starts a frame: every row of the back buffer is to be the clear colour.
void KivSoftBeginClear(KivSoftScreen* screen, uint32_t colour);
// Clears the rows no blit has touched yet; call before reading the back
// buffer (present, captures).
void KivSoftResolve(KivSoftScreen* screen);
