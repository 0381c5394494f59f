// The GPU device: an OpenGL 3.3 core context with just what the engine's GPU
// renderer draws with: textures filled from CPU pixels, off-screen render
// targets, blend states, named shader programs, quads and indexed grids,
// read-back, present, and device loss with its reset.
//
// Backends: the real one on X11 draws into an EGL window surface on the
// window's X window, over a display connection of its own, and presents by
// swapping it (direct present); where that surface cannot be made (another
// video driver, EGL refusing) it falls back to the headless way and shows
// the read-back frame through the window's CPU present. The headless one
// runs EGL surfaceless (else the default display with a pbuffer) on Mesa,
// llvmpipe when there is no GPU, and keeps the last presented frame for
// capture in the in-memory window.
//
// A device is current on one thread at a time; every call below except
// Create, the fault hook and Info must run on the thread that made it current.
// Pixels everywhere are 32-bit ARGB words (B G R A in memory), rows top first.
#pragma once
#include <cstdint>
#include <string>

namespace plat {
class Window;
}

namespace plat::gpu {

// Fault hook for tests: creation fails, the device reports itself lost, a
// reset fails, a texture finds no video memory. A program's start value
// comes from KIV_GPU_FAULTS.
enum Fault : uint32_t {
  kGpuCreate = 1u << 0,
  kGpuLost = 1u << 1,
  kGpuResetFails = 1u << 2,
  kGpuOutOfMemory = 1u << 3,
};
void SetFaults(uint32_t bits);
uint32_t Faults();

struct Info {
  int major = 0, minor = 0;
  int maxTextureSize = 0;
  bool robust = false;  // loss is read from the context's reset status
  std::string renderer;
  // How frames reach the window: "direct" (swapped into its surface) or
  // "read back" followed by why the surface was not made.
  std::string present;
};

struct Device;

// True when the renderer string names one of Mesa's software rasterizers
// (llvmpipe, softpipe, swrast): OpenGL drawn on the processor, slower than
// the engine's own software renderer on the same frame.
bool IsSoftwareRasterizer(const std::string& renderer);
// True when KIV_FORCE_GPU asks for the GPU renderer even on a software
// rasterizer (read each time: tests set it).
bool GpuForced();
// Which renderer draws on a machine whose OpenGL device has this renderer
// string (has_context false: none could be made), and why, as one line:
// "GPU (...)" or "software (...)".
std::string RendererChoice(bool has_context, const std::string& renderer);

// A device for the window (real backend) or off-screen (headless, or window
// NULL); NULL with the reason in *why.
Device* Create(Window* window, bool headless, std::string* why);
void Destroy(Device* d);
const Info& GetInfo(const Device* d);

// Makes the device current on the calling thread; true when it is.
bool MakeCurrent(Device* d);
// Lets go of the device on the calling thread (before another takes it).
void ReleaseCurrent(Device* d);
bool CurrentHere(const Device* d);

// 1 waits for the retrace when presenting, 0 presents at once.
void SetSwapInterval(Device* d, int interval);

// Textures (RGBA8, clamped). 0 when it could not be made; *outOfMemory
// (when given) tells whether the device ran out of memory for it.
uint32_t TextureCreate(Device* d, int w, int h, bool* outOfMemory = nullptr);
bool TextureUpload(Device* d, uint32_t texture, int w, int h, const uint32_t* pixels, int pitch);
void TextureDelete(Device* d, uint32_t texture);

// Render targets: a texture with a frame buffer. 0 when it could not be made.
uint32_t TargetCreate(Device* d, int w, int h);
uint32_t TargetTexture(const Device* d, uint32_t target);
void TargetDelete(Device* d, uint32_t target);
// Draws go into the target from now on (0: the window's frame).
bool BindTarget(Device* d, uint32_t target);
void Clear(Device* d, uint32_t argb);
// The window's frame size (the output of the final pass).
void SetOutputSize(Device* d, int w, int h);

enum class Blend { kKeep, kCopy, kAlpha, kAdd, kMultiply, kDestColour, kColourOnly };
void SetBlend(Device* d, Blend b);

enum class Filter { kPoint, kLinear };

// One vertex: position in clip space (y up), colour ARGB, two texture
// coordinate pairs.
struct Vertex {
  float x, y;
  uint32_t colour;
  float u0, v0, u1, v1;
};

// How the built-in program combines: kModulate texture 0 x colour; kComposite
// texture 0 x colour with texture 1 laid over it by its alpha (alpha summed).
enum class Combine { kModulate, kComposite };

struct DrawCall {
  uint32_t texture0 = 0, texture1 = 0;
  Filter filter = Filter::kPoint;
  Combine combine = Combine::kModulate;
  bool alphaTest = true;  // texels whose alpha comes out 0 are dropped
  uint32_t program = 0;   // 0: the built-in program; else one from ProgramCreate
};
enum class Primitive { kTriangleStrip, kTriangleFan, kTriangles };

// Draws n vertices, or the nidx indices into them when indices is not NULL.
void Draw(Device* d, const DrawCall& call, Primitive p, const Vertex* v, int n, const uint32_t* indices = nullptr,
          int nidx = 0);

// Shader programs with the vertex layout above (attributes a_pos, a_colour,
// a_uv0, a_uv1; the texture unit 0 sampler is the first sampler uniform).
uint32_t ProgramCreate(Device* d, const char* vertex, const char* fragment, std::string* log);
void ProgramDelete(Device* d, uint32_t program);
// Sets a float uniform (1 to 4 values) of the program; false when it has none of that name.
bool ProgramSet(Device* d, uint32_t program, const char* name, const float* values, int count);

// Reads w x h pixels at (x, y) of the target (0: the window's frame), rows top
// first, into out (pitch in pixels).
bool ReadPixels(Device* d, uint32_t target, int x, int y, int w, int h, uint32_t* out, int pitch);

// Shows the window's frame: directly, a blit into the window surface and a
// swap; else read back and handed to the window's present (the headless
// backend keeps it for capture). False when the device is lost.
bool Present(Device* d);
// True while frames go straight into the window surface.
bool PresentsDirectly(const Device* d);
// The texture memory free on the live device, in MiB, as measured on its
// thread at its presents (about once a second); any thread may ask. -1 when
// no device lives or its driver does not tell. A software rasteriser's
// textures are system memory: its figure is the memory still available.
int FreeTextureMemoryMiB();
// How many read-backs (ReadPixels, the read-back present included) the
// device has done, for tests and benchmarks.
uint64_t ReadBacks(const Device* d);

enum class Status { kOk, kLost, kResettable };
Status Test(Device* d);
// A new context in place of the lost one: every texture, target and program
// is gone and must be made again; a direct present gets a new window surface
// (or falls back to the read-back present when none can be made). False when
// it cannot be made now.
bool Reset(Device* d);

}  // namespace plat::gpu
