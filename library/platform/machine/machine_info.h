// What the machine is: operating system, disk, memory, processor, displays,
// the renderer that draws on each display, and the sound outputs. Read by
// the configuration tool for its settings pages and its system report.
//
// Real backend: os-release and uname, statvfs, /proc/meminfo, CPUID, SDL2
// displays and audio outputs, OpenGL through EGL (surfaceless, Mesa's
// llvmpipe when there is no GPU). Headless backend: an injected machine, so
// a report can be built and compared byte for byte anywhere.
//
// Every query may be slow (a GL context, an audio device) and may be called
// from a thread of its own.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace plat {

struct OsInfo {
  bool ok = false;
  std::string pretty_name;  // os-release PRETTY_NAME (UTF-8)
  std::string kernel;       // uname: sysname
  std::string release;      // uname: release
  std::string machine;      // uname: machine
};

struct DiskInfo {
  bool ok = false;
  uint64_t free_bytes = 0;  // available to this user
  uint64_t total_bytes = 0;
};

struct MemoryInfo {
  bool ok = false;
  uint64_t total_bytes = 0;
  uint64_t available_bytes = 0;
};

struct CpuInfo {
  std::string name;  // empty when unknown
  int cores = 0;     // logical processors; 0 unknown
  bool mmx = false, sse = false, sse2 = false, avx = false, avx2 = false;
};

struct DisplayMode {
  int width = 0, height = 0, refresh = 0;
};

struct DisplayInfo {
  std::string name;  // UTF-8
  int width = 0, height = 0, refresh = 0;
  std::string format;              // the desktop mode's pixel format ("RGB888"); empty unknown
  std::vector<DisplayMode> modes;  // every mode it offers
};

// The renderer that draws on a display: its GL identity and limits.
struct RendererInfo {
  bool has_context = false;  // false: no GL context could be made
  std::string vendor, renderer, version, glsl_version;
  int gl_major = 0, gl_minor = 0;
  int max_texture_size = 0, max_3d_texture_size = 0, max_texture_units = 0;
  int max_vertex_attribs = 0, max_draw_buffers = 0, max_viewport_width = 0, max_viewport_height = 0;
  // Further limits; 0 where the context does not tell.
  float max_anisotropy = 0, max_point_size = 0;
  int max_clip_distances = 0, max_lights = 0, max_vertex_uniform_vectors = 0, max_vertex_attrib_stride = 0;
  int64_t max_element_index = 0;
  std::string egl_version, egl_vendor, driver_name;  // driver_name: EGL_MESA_query_driver
  std::vector<std::string> extensions, egl_extensions;
  // What the driver tells of memory, in MB; -1 where it tells nothing.
  // Free texture memory: GL_NVX_gpu_memory_info or GL_ATI_meminfo; video
  // memory: GLX_MESA_query_renderer (with its accelerated flag and the
  // driver's version), on the X display.
  int64_t free_texture_memory_mb = -1, video_memory_mb = -1;
  int accelerated = -1;     // 1 hardware, 0 software, -1 unknown
  int driver_version[3] = {-1, -1, -1};
};

// An input device the system lists (keyboards, mice, pads).
struct InputDeviceInfo {
  std::string name;  // UTF-8
  std::string kind;  // "keyboard", "mouse", "joystick", "other"
};

struct SoundDeviceInfo {
  std::string name;    // UTF-8
  std::string driver;  // the audio driver it belongs to
  bool opened = false; // false: the device could not be opened
  int frequency = 0, channels = 0, samples = 0;
  uint16_t format = 0;  // SDL audio format word
};

OsInfo MachineOs();
DiskInfo MachineDisk(const std::string& native_path);
MemoryInfo MachineMemory();
CpuInfo MachineCpu();
std::vector<DisplayInfo> MachineDisplays();
// The renderer drawing on display `index` (as the game would when it goes
// full screen there).
RendererInfo MachineRenderer(int index);
// Every sound output, each opened once to read what it offers.
std::vector<SoundDeviceInfo> MachineSoundDevices();
std::vector<InputDeviceInfo> MachineInputDevices();

// Which backend the queries use; the default comes from KIV_HEADLESS.
bool MachineHeadless();
void SetMachineHeadless(bool on);

// The headless backend's machine. Renderers are by display index; one
// missing for an index reads as no context.
struct HeadlessMachine {
  OsInfo os;
  DiskInfo disk;
  MemoryInfo memory;
  CpuInfo cpu;
  std::vector<DisplayInfo> displays;
  std::vector<RendererInfo> renderers;
  std::vector<SoundDeviceInfo> sound_devices;
  std::vector<InputDeviceInfo> input_devices;
};
HeadlessMachine DefaultHeadlessMachine();
void SetHeadlessMachine(HeadlessMachine m);
// Called with the query's name ("os", "disk", "memory", "cpu", "displays",
// "renderer", "sound", "input") before a headless query answers; a test can block in
// it to hold a query. Empty: none.
void SetHeadlessMachineHook(std::function<void(const char* query)> hook);

}  // namespace plat
