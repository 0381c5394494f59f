// The GPU renderer: a device context drawing into a power-of-two render
// target with the logical screen in its middle, then scaling that into the
// aspect rectangle of the window's frame (point, linear or bicubic).
//
// Surfaces stay CPU pixels, the authority, in the same surface table the
// software renderer uses (sized in powers of two, padding zeroed); every
// pixel routine works on them. A texture is a cache of a surface, uploaded
// at draw time when the surface changed since (each change bumps the
// surface's version). Every GL call runs on the thread the context is
// current on: the game thread, which draws.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/system_state.h"
#include "platform/gpu/gpu_device.h"
#include "render/renderer.h"
#include "render/soft_screen.h"

// Window styles the mode change stores: full screen a borderless popup that
// clips its children; windowed the style of the system parameters.
inline constexpr uint32_t kKiv3DFullScreenStyle = 0x82000000u;

// Availability bits of the effect set.
enum : uint32_t { kKiv3DFxDraw = 1, kKiv3DFxRaster = 2, kKiv3DFxRadialBlur = 4 };

struct Kiv3DCacheEntry {
  uint32_t texture = 0;
  int width = 0, height = 0;
  uint32_t version = 0;
};

// A vertex of the raster grid, in clip space.
struct Kiv3DGridVertex {
  float x, y, u, v;
};

// The effect set: programs made from the effect module's sources, and the
// vertex grid of the raster wave's fallback.
struct Kiv3DEffectSet {
  uint32_t available = 0;
  uint32_t draw = 0, raster = 0, radialBlur = 0;
  uint32_t vertexShaderFlags = 0, pixelShaderFlags = 0;
  int gridColumns = 0, gridRows = 0;  // vertices
  std::vector<uint32_t> gridIndices;  // 32-bit: large targets pass 65,536 vertices
  bool gridReady = false;
  // Scratch for each frame's grid, kept so a frame allocates nothing.
  std::vector<Kiv3DGridVertex> gridPositions;
  std::vector<plat::gpu::Vertex> gridVertices;
};

struct Kiv3DCamera {
  float fov = 0, aspect = 0, nearZ = 0, farZ = 0;
  float eye[3] = {}, at[3] = {}, up[3] = {};
  float view[16] = {};
};

struct Kiv3DContext {
  KivRendererSetup setup;
  plat::gpu::Device* device = nullptr;
  KivSoftScreen* store = nullptr;  // CPU surfaces; owned by the system record once handed over
  bool storeHandedOver = false;

  int rtWidth = 0, rtHeight = 0;      // power-of-two render target
  int screenWidth = 0, screenHeight = 0;
  uint32_t renderTarget = 0;
  uint32_t effectTarget[2] = {0, 0};
  uint32_t bicubic = 0;  // the final pass's bicubic program, or 0
  Kiv3DEffectSet fx;
  Kiv3DCamera camera;
  std::unordered_map<const KivSoftSurfaceEntry*, Kiv3DCacheEntry> cache;

  int fullScreenFilter = 0;  // 0 none, 1 point, 2 linear, 3 bicubic
  int textureFilter = 0;
  int lastFilter = 0;  // the sampler filter the previous sprite used (1 point, 2 linear)
  int windowed = 1;
  uint32_t style = 0;  // the window style of the current mode
  int lost = 0;
  int restoreRounds = 10;
  int resetAttempts = 0;  // resets tried, for tests
  // Shader version flags the effect gating reads in place of the device's
  // (tests: the gating of an older device); used when overrideFlags is set.
  bool overrideFlags = false;
  uint32_t vertexFlags = 0, pixelFlags = 0;
  uint32_t lastRestoreAsk = 0;
  bool askedOnce = false;
  int outputWidth = 0, outputHeight = 0;
  plat::Rect aspectRect;
  // The texture a CPU frame is shown from when presenting into the window.
  uint32_t cpuFrame = 0;
  int cpuFrameWidth = 0, cpuFrameHeight = 0;
  // The render target holds a finished frame the store's back buffer has
  // not been given yet: read back only when someone reads the last frame.
  std::atomic<bool> frameUnread{false};
  // The store's back buffer was shown after the render target's last frame
  // (a full-window movie, the text field): the last frame is the store's
  // until the next frame is begun.
  std::atomic<bool> storeNewer{false};
};

// ---- Context (gpu_context.cpp) ----
// The context with its device, targets, store and effects; NULL (after its
// debug line) when any step fails, with everything it made released.
Kiv3DContext* Kiv3DCreateContext(const KivRendererSetup& setup);
void Kiv3DReleaseContext(Kiv3DContext* c);
// The GPU backend is used with a headless window only when asked for
// (tests, the scene host): the headless default is the software renderer.
void Kiv3DAllowHeadless(bool on);
int Kiv3DSetPresentParameters(Kiv3DContext* c);
int Kiv3DLoadBicubic(Kiv3DContext* c);
int Kiv3DBackBufferClear(Kiv3DContext* c, uint32_t colour);
int Kiv3DBeginScene(Kiv3DContext* c);
int Kiv3DFinalPass(Kiv3DContext* c);
int Kiv3DPresent(Kiv3DContext* c);
// 0 fine; 1 lost; 4 lost and ready to be reset; 5 any other error.
int Kiv3DDeviceTest(Kiv3DContext* c);
// Step 4 of the restore: 4 done; 2 lost or a creation failed; 5 failed.
int Kiv3DDeviceReset(Kiv3DContext* c);
// 1 restored (or not lost), 0 not now; at most 10 rounds of resets.
int Kiv3DDeviceRestore(Kiv3DContext* c);
// After a window request returned: follows the window's new aspect
// rectangle and client size, and restores the device when it is lost.
void Kiv3DAfterWindowRequest(Kiv3DContext* c);
void Kiv3DThreadDone(Kiv3DContext* c);
// Switches between windowed and full screen. The device's part (present
// parameters, then resets until one succeeds, at most 10 with 100 ms
// between) runs here, on the thread the context is current on; the window's
// part (placement) then runs on the window thread. 1 done; 0 when the device
// part failed: the window, the flag and the style stay as they were.
int Kiv3DChangeWindowMode(int windowed, Kiv3DContext* c, uint32_t style);
// The aspect rectangle from the store's view and the output size.
void Kiv3DSetAspectRect(Kiv3DContext* c);
// The finished frame's screen block into pixels (width x height, alpha 0xFF);
// 0 when the buffer is smaller than the screen.
int Kiv3DGetBackBuffer(int height, Kiv3DContext* c, int width, uint32_t* pixels);
// The last finished frame into the store's back buffer, read back only when
// the buffer does not hold it yet and only on the thread that draws (else
// the buffer keeps the last frame read); false when the read-back failed.
bool Kiv3DResolveBackBuffer(Kiv3DContext* c);
// The texture of a surface entry, uploaded when stale; 0 when it cannot be
// made (*outOfMemory, when asked, tells whether video memory ran out).
uint32_t Kiv3DTextureOf(Kiv3DContext* c, const KivSoftSurfaceEntry* e, bool* outOfMemory = nullptr);
void Kiv3DForget(Kiv3DContext* c, const KivSoftSurfaceEntry* e);
// Makes the context current here when no other thread holds it.
bool Kiv3DCurrent(Kiv3DContext* c);
// True when the calling thread is the one the context is current on.
bool Kiv3DCurrentHere(Kiv3DContext* c);

// ---- Named textures (gpu_texture.cpp) ----
// The slot table is the CPU surface table: an entry's power-of-two CPU
// pixels (padding zeroed) are the texture's authority, and its GL texture a
// cache (Kiv3DTextureOf). Names are copied at most 31 bytes, terminated.
KivSoftSurfaceEntry* Kiv3DTakeTextureSlot(KivSoftScreen* table, const char* name);
// 0 when the entry is not the table's or is free; else one reference let go
// (at 0 the pixels and the texture go, the slot is free again), 1.
int Kiv3DSurfaceRelease(Kiv3DContext* c, KivSoftSurfaceEntry* e);
// A slot holding the decoded image: "GE" into a blank texture of the image
// size filled by the engine's decoder; "BM" and anything else (TGA) by
// Kiv3DTextureFromMemory. NULL (the slot given back) when it fails.
KivSoftSurfaceEntry* Kiv3DImageDecode(const char* name, const uint8_t* bytes, Kiv3DContext* c, size_t size);
// Records the image size, decodes the BMP/TGA bytes into power-of-two
// pixels and, when the context is current on this thread, makes the texture
// now (else at its first draw). 0 on failure; lack of memory (video or the
// pixels) also shows the box "ディスプレイメモリが不足しています。".
int Kiv3DTextureFromMemory(int width, int height, KivSoftSurfaceEntry* e, Kiv3DContext* c, const uint8_t* data,
                           size_t size);
// Blank (zeroed) power-of-two pixels for an image of width x height; 1 or 0.
int Kiv3DCreateTexture(int width, int height, KivSoftSurfaceEntry* e, Kiv3DContext* c);
// The finished frame into the entry's pixels (read back on the drawing
// thread, else the last frame's copy); 1 or 0.
int Kiv3DCaptureToTexture(KivSoftSurfaceEntry* e, Kiv3DContext* c);
// Sprite surfaces: a named load or a blank surface through the slot table,
// and their release (1, or 0 when the surface is not the table's).
KivSoftSurface* Kiv3DSurfaceLoad(Kiv3DContext* c, const char* name, std::span<const uint8_t> image);
KivSoftSurface* Kiv3DSurfaceCreate(Kiv3DContext* c, int width, int height);
int Kiv3DSurfaceFree(Kiv3DContext* c, KivSoftSurface* surface);

// ---- Drawing (gpu_draw.cpp) ----
struct Kiv3DSpriteRecord {
  KivSoftSurface* surface = nullptr;
  float x = 0, y = 0;
  float rotX = 0, rotY = 0, rotZ = 0;
  float scale = 1.0f;
  KivRect rect{};
  uint32_t colour = 0xFFFFFFFFu;
  int renderMode = 1;
  int centreX = 0, centreY = 0;
  const KivFxRequest* fx = nullptr;
};

int Kiv3DSpriteDraw(Kiv3DContext* c, Kiv3DSpriteRecord* r);
// The next draw with render mode 5 (keep) copies instead of blending.
void Kiv3DSetCopyBlend(Kiv3DContext* c);
void Kiv3DTransitionDraw(Kiv3DContext* c, Kiv3DSpriteRecord records[2]);
void Kiv3DSpriteFxDraw(Kiv3DContext* c, int kind, const float* work);
// Angles in 512ths: truncated saturating, then taken modulo 512.
int Kiv3DAngleIndex(float angle);
// The sampler filter for a sprite: 1 point, 2 linear, 0 keep the last.
int Kiv3DSpriteFilter(int textureFilter, float scale);
// Vertices of the raster grid for a render target.
void Kiv3DGridSize(int rtWidth, int rtHeight, int* columns, int* rows);
// Fills the grid's clip-space positions for the wave (phase 0..1).
void Kiv3DGridPositions(int columns, int rows, float phase, float ampX, float ampY, std::vector<Kiv3DGridVertex>* out);
int Kiv3DCreateEffectResources(Kiv3DContext* c);
// The effect module (dll/FX.so beside the program, else FX.so found by the
// loader), open while this lives; Resource gives the text of a resource
// (owned by the module), or NULL without the module or the resource.
class KivFxModule {
 public:
  KivFxModule();
  ~KivFxModule();
  KivFxModule(const KivFxModule&) = delete;
  KivFxModule& operator=(const KivFxModule&) = delete;
  const char* Resource(const char* name) const;

 private:
  using ResourceFn = const char* (*)(const char*);
  void* lib_ = nullptr;
  ResourceFn resource_ = nullptr;
};
// A program of the effect vertex shader and the module's resource name,
// when its technique tag matches; 0 otherwise.
uint32_t Kiv3DEffectProgram(Kiv3DContext* c, const KivFxModule& module, const char* name, const char* technique);
void Kiv3DReleaseDefaultPool(Kiv3DContext* c);
int Kiv3DSetPerspective(Kiv3DContext* c, float fov, float aspect, float nearZ, float farZ);
int Kiv3DCameraUpdate(Kiv3DContext* c, const float up[3], const float at[3], const float eye[3]);
// Shader version flags of a GL version (3.3 core: vertex bit 0, pixel 0x9F).
void Kiv3DShaderFlags(int major, int minor, uint32_t* vertexFlags, uint32_t* pixelFlags);

extern const KivRenderer kKiv3DRenderer;
extern const KivEffectRenderer kKiv3DEffects;
