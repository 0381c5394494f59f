// Headless machine backend: answers every query from an injected record
// (by default one 1920 x 1080 display drawn by a GL 3.3 renderer and one
// stereo sound output), so reports are the same on every computer.
#include <mutex>

#include "platform/machine/machine_backend.h"

namespace plat {

HeadlessMachine DefaultHeadlessMachine() {
  HeadlessMachine m;
  m.os = OsInfo{true, "Headless Linux", "Linux", "6.0.0", "x86_64"};
  m.disk = DiskInfo{true, uint64_t(20) << 30, uint64_t(100) << 30};
  m.memory = MemoryInfo{true, uint64_t(8192) << 20, uint64_t(6144) << 20};
  m.cpu = CpuInfo{"Headless CPU", 4, true, true, true, true, true};
  m.displays = {DisplayInfo{"Headless display", 1920, 1080, 60, "RGB888", {{1920, 1080, 60}, {1280, 720, 60}}}};
  RendererInfo r;
  r.has_context = true;
  r.vendor = "KIV";
  r.renderer = "Headless renderer";
  r.version = "3.3 (Core Profile)";
  r.glsl_version = "3.30";
  r.gl_major = 3;
  r.gl_minor = 3;
  r.max_texture_size = 8192;
  r.max_3d_texture_size = 2048;
  r.max_texture_units = 16;
  r.max_vertex_attribs = 16;
  r.max_draw_buffers = 8;
  r.max_viewport_width = 8192;
  r.max_viewport_height = 8192;
  r.max_anisotropy = 16;
  r.max_point_size = 255;
  r.max_clip_distances = 8;
  r.max_lights = 8;
  r.max_vertex_uniform_vectors = 1024;
  r.max_vertex_attrib_stride = 2048;
  r.max_element_index = 4294967295LL;
  r.egl_version = "1.5";
  r.egl_vendor = "KIV";
  r.driver_name = "headless";
  r.extensions = {"GL_ARB_texture_non_power_of_two", "GL_EXT_texture_filter_anisotropic"};
  r.egl_extensions = {"EGL_KHR_surfaceless_context"};
  r.video_memory_mb = 2048;
  r.accelerated = 1;
  r.driver_version[0] = 1;
  r.driver_version[1] = 2;
  r.driver_version[2] = 3;
  m.renderers = {r};
  SoundDeviceInfo s;
  s.name = "Headless output";
  s.driver = "headless";
  s.opened = true;
  s.frequency = 48000;
  s.channels = 2;
  s.samples = 1024;
  s.format = 0x8010;  // signed 16-bit little-endian
  m.sound_devices = {s};
  m.input_devices = {{"Headless keyboard", "keyboard"}, {"Headless mouse", "mouse"}};
  return m;
}

namespace {
std::mutex g_mutex;
HeadlessMachine& Machine() {
  static HeadlessMachine m = DefaultHeadlessMachine();
  return m;
}
std::function<void(const char*)>& Hook() {
  static std::function<void(const char*)> h;
  return h;
}

// Runs the hook (outside the lock, since it may block) and copies the record.
HeadlessMachine Query(const char* what) {
  std::function<void(const char*)> hook;
  {
    std::lock_guard lock(g_mutex);
    hook = Hook();
  }
  if (hook) hook(what);
  std::lock_guard lock(g_mutex);
  return Machine();
}
}  // namespace

void SetHeadlessMachine(HeadlessMachine m) {
  std::lock_guard lock(g_mutex);
  Machine() = std::move(m);
}

void SetHeadlessMachineHook(std::function<void(const char*)> hook) {
  std::lock_guard lock(g_mutex);
  Hook() = std::move(hook);
}

namespace headless_machine {
OsInfo Os() { return Query("os").os; }
DiskInfo Disk(const std::string&) { return Query("disk").disk; }
MemoryInfo Memory() { return Query("memory").memory; }
CpuInfo Cpu() { return Query("cpu").cpu; }
std::vector<DisplayInfo> Displays() { return Query("displays").displays; }
RendererInfo Renderer(int index) {
  HeadlessMachine m = Query("renderer");
  if (index < 0 || static_cast<size_t>(index) >= m.renderers.size()) return RendererInfo{};
  return m.renderers[static_cast<size_t>(index)];
}
std::vector<SoundDeviceInfo> SoundDevices() { return Query("sound").sound_devices; }
std::vector<InputDeviceInfo> InputDevices() { return Query("input").input_devices; }
}  // namespace headless_machine

}  // namespace plat
