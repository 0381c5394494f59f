// Real machine backend: os-release and uname for the system, statvfs for
// the disk, /proc/meminfo for memory, CPUID (x86) or /proc/cpuinfo for the
// processor, SDL2 for displays and audio outputs, and OpenGL through EGL
// for the renderer: a surfaceless context (Mesa; llvmpipe when there is no
// GPU), else the default display. It cannot tell which GPU scans out which
// display, so every display reports the renderer EGL gives. Memory sizes
// come from the GL vendors' memory queries and, on an X display, from
// GLX_MESA_query_renderer (libGL loaded only for that question). Input
// devices are the kernel's list (/proc/bus/input/devices).
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <SDL.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <X11/Xlib.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/machine/machine_backend.h"
#include "platform/window/sdl_video.h"

namespace plat::real_machine {

namespace {

std::string Unquote(std::string v) {
  while (!v.empty() && (v.back() == '\n' || v.back() == '\r' || v.back() == ' ')) v.pop_back();
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
      if (v[i] == '\\' && i + 1 < v.size()) ++i;
      out += v[i];
    }
    return out;
  }
  return v;
}

std::string OsReleaseValue(const char* key) {
  for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream f(file);
    if (!f) continue;
    std::string line, prefix = std::string(key) + "=";
    while (std::getline(f, line))
      if (line.rfind(prefix, 0) == 0) return Unquote(line.substr(prefix.size()));
    return std::string();
  }
  return std::string();
}

// GL enums used below; the values are fixed by the GL standard.
constexpr unsigned kGlVendor = 0x1F00, kGlRenderer = 0x1F01, kGlVersion = 0x1F02,
                   kGlShadingLanguageVersion = 0x8B8C, kGlMaxTextureSize = 0x0D33,
                   kGlMax3dTextureSize = 0x8073, kGlMaxTextureImageUnits = 0x8872,
                   kGlMaxVertexAttribs = 0x8869, kGlMaxDrawBuffers = 0x8824, kGlMaxViewportDims = 0x0D3A,
                   kGlMajorVersion = 0x821B, kGlMinorVersion = 0x821C;
constexpr unsigned kGlExtensions = 0x1F03, kGlNumExtensions = 0x821D, kGlMaxAnisotropy = 0x84FF,
                   kGlAliasedPointSizeRange = 0x846E, kGlMaxClipDistances = 0x0D32, kGlMaxLights = 0x0D31,
                   kGlMaxVertexUniformVectors = 0x8DFB, kGlMaxVertexAttribStride = 0x82E5,
                   kGlMaxElementIndex = 0x8D6B, kGlNvxAvailableVidmem = 0x9049, kGlAtiTextureFreeMemory = 0x87FC;
using GetStringFn = const unsigned char* (*)(unsigned);
using GetStringiFn = const unsigned char* (*)(unsigned, unsigned);
using GetFloatvFn = void (*)(unsigned, float*);
using GetInteger64vFn = void (*)(unsigned, int64_t*);
using DriverNameFn = const char* (*)(EGLDisplay);

std::vector<std::string> Words(const char* text) {
  std::vector<std::string> out;
  std::istringstream in(text ? text : "");
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

bool Has(const std::vector<std::string>& list, const char* name) {
  for (const std::string& s : list)
    if (s == name) return true;
  return false;
}

// GLX_MESA_query_renderer on the X display: video memory, whether the
// renderer is accelerated, and the driver's version. Nothing without X.
void QueryGlxRenderer(RendererInfo* out) {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return;
  void* gl = dlopen("libGL.so.1", RTLD_LAZY | RTLD_LOCAL);
  if (!gl) return;
  using GetProc = void* (*)(const unsigned char*);
  using QueryInt = int (*)(Display*, int, int, int, unsigned*);
  auto get_proc = reinterpret_cast<GetProc>(dlsym(gl, "glXGetProcAddressARB"));
  using QueryExtensions = const char* (*)(Display*, int);
  auto query_extensions = reinterpret_cast<QueryExtensions>(dlsym(gl, "glXQueryExtensionsString"));
  Display* dpy = get_proc && query_extensions ? XOpenDisplay(name) : nullptr;
  if (dpy) {
    int screen = DefaultScreen(dpy);
    auto query = reinterpret_cast<QueryInt>(
        get_proc(reinterpret_cast<const unsigned char*>("glXQueryRendererIntegerMESA")));
    if (query && Has(Words(query_extensions(dpy, screen)), "GLX_MESA_query_renderer")) {
      constexpr int kAccelerated = 0x8186, kVideoMemory = 0x8187, kVersion = 0x8185;
      unsigned v[3] = {0, 0, 0};
      if (query(dpy, screen, 0, kVideoMemory, v)) out->video_memory_mb = v[0];
      if (query(dpy, screen, 0, kAccelerated, v)) out->accelerated = v[0] ? 1 : 0;
      if (query(dpy, screen, 0, kVersion, v))
        for (int i = 0; i < 3; ++i) out->driver_version[i] = static_cast<int>(v[i]);
    }
    XCloseDisplay(dpy);
  }
  // libGL stays loaded: its drivers may keep threads and handlers.
}

using GetIntegervFn = void (*)(unsigned, int*);
using GetErrorFn = unsigned (*)();

bool ProbeOnDisplay(EGLDisplay dpy, RendererInfo* out) {
  if (dpy == EGL_NO_DISPLAY) return false;
  EGLint major = 0, minor = 0;
  if (!eglInitialize(dpy, &major, &minor)) return false;
  bool ok = false;
  auto egl_str = [&](EGLint what) {
    const char* v = eglQueryString(dpy, what);
    return v ? std::string(v) : std::string();
  };
  out->egl_version = egl_str(EGL_VERSION);
  out->egl_vendor = egl_str(EGL_VENDOR);
  out->egl_extensions = Words(eglQueryString(dpy, EGL_EXTENSIONS));
  if (auto driver = reinterpret_cast<DriverNameFn>(eglGetProcAddress("eglGetDisplayDriverName")))
    if (const char* n = driver(dpy)) out->driver_name = n;
  EGLint attrs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
  EGLConfig config = nullptr;
  EGLint count = 0;
  if (eglBindAPI(EGL_OPENGL_API) && eglChooseConfig(dpy, attrs, &config, 1, &count) && count > 0) {
    EGLContext ctx = eglCreateContext(dpy, config, EGL_NO_CONTEXT, nullptr);
    if (ctx != EGL_NO_CONTEXT) {
      if (eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, ctx)) {
        auto get_string = reinterpret_cast<GetStringFn>(eglGetProcAddress("glGetString"));
        auto get_int = reinterpret_cast<GetIntegervFn>(eglGetProcAddress("glGetIntegerv"));
        auto get_error = reinterpret_cast<GetErrorFn>(eglGetProcAddress("glGetError"));
        if (get_string && get_int) {
          auto str = [&](unsigned e) {
            const unsigned char* s = get_string(e);
            return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
          };
          auto num = [&](unsigned e) {
            int v[2] = {0, 0};
            get_int(e, v);
            if (get_error) get_error();  // an enum this context lacks reads as 0
            return v[0];
          };
          out->vendor = str(kGlVendor);
          out->renderer = str(kGlRenderer);
          out->version = str(kGlVersion);
          out->glsl_version = str(kGlShadingLanguageVersion);
          if (get_error) get_error();
          if (std::sscanf(out->version.c_str(), "%d.%d", &out->gl_major, &out->gl_minor) != 2) {
            out->gl_major = num(kGlMajorVersion);
            out->gl_minor = num(kGlMinorVersion);
          }
          out->max_texture_size = num(kGlMaxTextureSize);
          out->max_3d_texture_size = num(kGlMax3dTextureSize);
          out->max_texture_units = num(kGlMaxTextureImageUnits);
          out->max_vertex_attribs = num(kGlMaxVertexAttribs);
          out->max_draw_buffers = num(kGlMaxDrawBuffers);
          int dims[2] = {0, 0};
          get_int(kGlMaxViewportDims, dims);
          if (get_error) get_error();
          out->max_viewport_width = dims[0];
          out->max_viewport_height = dims[1];
          auto get_stringi = reinterpret_cast<GetStringiFn>(eglGetProcAddress("glGetStringi"));
          int count = num(kGlNumExtensions);
          if (get_stringi && count > 0) {
            for (int i = 0; i < count; ++i)
              if (const unsigned char* e = get_stringi(kGlExtensions, static_cast<unsigned>(i)))
                out->extensions.emplace_back(reinterpret_cast<const char*>(e));
          } else {
            out->extensions = Words(reinterpret_cast<const char*>(get_string(kGlExtensions)));
          }
          if (get_error) get_error();
          auto get_float = reinterpret_cast<GetFloatvFn>(eglGetProcAddress("glGetFloatv"));
          auto fvalue = [&](unsigned e, int at) {
            float v[2] = {0, 0};
            if (get_float) get_float(e, v);
            if (get_error) get_error();
            return v[at];
          };
          if (Has(out->extensions, "GL_EXT_texture_filter_anisotropic") ||
              Has(out->extensions, "GL_ARB_texture_filter_anisotropic"))
            out->max_anisotropy = fvalue(kGlMaxAnisotropy, 0);
          out->max_point_size = fvalue(kGlAliasedPointSizeRange, 1);
          out->max_clip_distances = num(kGlMaxClipDistances);
          out->max_lights = num(kGlMaxLights);
          out->max_vertex_uniform_vectors = num(kGlMaxVertexUniformVectors);
          out->max_vertex_attrib_stride = num(kGlMaxVertexAttribStride);
          if (auto get64 = reinterpret_cast<GetInteger64vFn>(eglGetProcAddress("glGetInteger64v"))) {
            int64_t v = 0;
            get64(kGlMaxElementIndex, &v);
            if (get_error) get_error();
            out->max_element_index = v;
          }
          if (Has(out->extensions, "GL_NVX_gpu_memory_info")) {
            int kb = num(kGlNvxAvailableVidmem);
            if (kb > 0) out->free_texture_memory_mb = kb / 1024;
          } else if (Has(out->extensions, "GL_ATI_meminfo")) {
            int v[4] = {0, 0, 0, 0};
            get_int(kGlAtiTextureFreeMemory, v);
            if (get_error) get_error();
            if (v[0] > 0) out->free_texture_memory_mb = v[0] / 1024;
          }
          out->has_context = !out->renderer.empty();
          ok = out->has_context;
        }
        eglMakeCurrent(dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
      }
      eglDestroyContext(dpy, ctx);
    }
  }
  eglReleaseThread();
  eglTerminate(dpy);
  return ok;
}

RendererInfo ProbeRenderer() {
  RendererInfo r;
  auto get_platform_display =
      reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!(get_platform_display &&
        ProbeOnDisplay(get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr), &r))) {
    r = RendererInfo{};
    if (!ProbeOnDisplay(eglGetDisplay(EGL_DEFAULT_DISPLAY), &r)) return RendererInfo{};
  }
  QueryGlxRenderer(&r);
  return r;
}

}  // namespace

OsInfo Os() {
  OsInfo o;
  o.pretty_name = OsReleaseValue("PRETTY_NAME");
  struct utsname u;
  if (::uname(&u) == 0) {
    o.kernel = u.sysname;
    o.release = u.release;
    o.machine = u.machine;
  }
  o.ok = !o.pretty_name.empty() || !o.kernel.empty();
  return o;
}

DiskInfo Disk(const std::string& native_path) {
  DiskInfo d;
  struct statvfs s;
  if (::statvfs(native_path.c_str(), &s) != 0) return d;
  d.ok = true;
  d.free_bytes = uint64_t(s.f_bavail) * s.f_frsize;
  d.total_bytes = uint64_t(s.f_blocks) * s.f_frsize;
  return d;
}

MemoryInfo Memory() {
  MemoryInfo m;
  std::ifstream f("/proc/meminfo");
  std::string key;
  uint64_t value = 0;
  std::string unit;
  bool total = false, avail = false;
  std::string line;
  while (std::getline(f, line)) {
    std::istringstream in(line);
    if (!(in >> key >> value)) continue;
    if (key == "MemTotal:") {
      m.total_bytes = value * 1024;
      total = true;
    } else if (key == "MemAvailable:") {
      m.available_bytes = value * 1024;
      avail = true;
    }
  }
  m.ok = total && avail && m.total_bytes > 0;
  return m;
}

CpuInfo Cpu() {
  CpuInfo c;
  long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  c.cores = n > 0 ? static_cast<int>(n) : 0;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a, b, cx, d;
  if (__get_cpuid(1, &a, &b, &cx, &d)) {
    c.mmx = d & (1u << 23);
    c.sse = d & (1u << 25);
    c.sse2 = d & (1u << 26);
    bool osxsave = cx & (1u << 27);
    bool ymm_saved = false;
    if (osxsave) {
      unsigned lo, hi;
      __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
      ymm_saved = (lo & 6) == 6;
    }
    c.avx = (cx & (1u << 28)) && ymm_saved;
    if (c.avx && __get_cpuid_count(7, 0, &a, &b, &cx, &d)) c.avx2 = b & (1u << 5);
  }
  unsigned brand[12];
  if (__get_cpuid(0x80000000u, &a, &b, &cx, &d) && a >= 0x80000004u) {
    for (unsigned leaf = 0; leaf < 3; ++leaf)
      __get_cpuid(0x80000002u + leaf, &brand[leaf * 4], &brand[leaf * 4 + 1], &brand[leaf * 4 + 2],
                  &brand[leaf * 4 + 3]);
    char text[49];
    std::memcpy(text, brand, 48);
    text[48] = 0;
    c.name = text;
  }
#endif
  if (c.name.empty()) {
    std::ifstream f("/proc/cpuinfo");
    std::string line;
    while (std::getline(f, line)) {
      if (line.rfind("model name", 0) == 0 || line.rfind("Model", 0) == 0) {
        size_t colon = line.find(':');
        if (colon != std::string::npos) c.name = line.substr(colon + 1);
        break;
      }
    }
  }
  size_t first = c.name.find_first_not_of(' ');
  c.name = first == std::string::npos ? std::string() : c.name.substr(first);
  while (!c.name.empty() && c.name.back() == ' ') c.name.pop_back();
  return c;
}

std::vector<DisplayInfo> Displays() {
  std::vector<DisplayInfo> out;
  if (!SdlVideoAcquire()) return out;
  int n = SDL_GetNumVideoDisplays();
  for (int i = 0; i < n; ++i) {
    DisplayInfo d;
    const char* name = SDL_GetDisplayName(i);
    d.name = name ? name : "";
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(i, &mode) == 0) {
      d.width = mode.w;
      d.height = mode.h;
      d.refresh = mode.refresh_rate;
      std::string f = SDL_GetPixelFormatName(mode.format);
      if (f.rfind("SDL_PIXELFORMAT_", 0) == 0) f = f.substr(16);
      d.format = f == "UNKNOWN" ? std::string() : f;
    }
    for (int m = 0, count = SDL_GetNumDisplayModes(i); m < count; ++m)
      if (SDL_GetDisplayMode(i, m, &mode) == 0) d.modes.push_back(DisplayMode{mode.w, mode.h, mode.refresh_rate});
    out.push_back(d);
  }
  SdlVideoRelease();
  return out;
}

RendererInfo Renderer(int index) {
  // One probe per process: making a context is slow, and the answer holds.
  static std::mutex mutex;
  static bool probed = false;
  static RendererInfo info;
  std::lock_guard lock(mutex);
  if (!probed) {
    info = ProbeRenderer();
    probed = true;
  }
  return info;
}

std::vector<SoundDeviceInfo> SoundDevices() {
  std::vector<SoundDeviceInfo> out;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return out;
  const char* driver = SDL_GetCurrentAudioDriver();
  int n = SDL_GetNumAudioDevices(0);
  for (int i = 0; i < n; ++i) {
    SoundDeviceInfo s;
    const char* name = SDL_GetAudioDeviceName(i, 0);
    s.name = name ? name : "";
    s.driver = driver ? driver : "";
    SDL_AudioSpec want{}, have{};
    want.freq = 48000;
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = 1024;
    SDL_AudioDeviceID id = SDL_OpenAudioDevice(name, 0, &want, &have, SDL_AUDIO_ALLOW_ANY_CHANGE);
    if (id != 0) {
      s.opened = true;
      s.frequency = have.freq;
      s.channels = have.channels;
      s.samples = have.samples;
      s.format = have.format;
      SDL_CloseAudioDevice(id);
    }
    out.push_back(s);
  }
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  return out;
}

std::vector<InputDeviceInfo> InputDevices() {
  // Blocks of "N: Name=..." and "H: Handlers=..." lines, one per device.
  std::vector<InputDeviceInfo> out;
  std::ifstream f("/proc/bus/input/devices");
  std::string line;
  InputDeviceInfo cur;
  auto flush = [&] {
    if (!cur.name.empty()) out.push_back(cur);
    cur = InputDeviceInfo{};
  };
  while (std::getline(f, line)) {
    if (line.empty()) {
      flush();
    } else if (line.rfind("N: Name=", 0) == 0) {
      cur.name = Unquote(line.substr(8));
    } else if (line.rfind("H: Handlers=", 0) == 0) {
      std::vector<std::string> h = Words(line.c_str() + 12);
      bool js = false, mouse = false, kbd = false;
      for (const std::string& w : h) {
        js = js || w.rfind("js", 0) == 0;
        mouse = mouse || w.rfind("mouse", 0) == 0;
        kbd = kbd || w == "kbd";
      }
      cur.kind = js ? "joystick" : mouse ? "mouse" : kbd ? "keyboard" : "other";
    }
  }
  flush();
  return out;
}

}  // namespace plat::real_machine
