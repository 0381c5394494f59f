// The OpenGL 3.3 core device shared by both backends: EGL context creation,
// the GL entry points, textures, targets, the built-in program, draws,
// read-back and loss. The window's frame is an off-screen target of the
// output size (the window's client size), drawn by the final pass.
//
// Real backend on X11: the device opens its own connection to the window's
// X display, makes its EGL display, context and a window surface there, and
// Present blits the frame into the window surface and swaps it. The game
// thread, which draws, is the only one using that connection, so Xlib needs
// no thread support and never meets the window thread's connection. The
// window backend is told to keep its own renderer out of the window.
//
// Everywhere else (headless, another video driver, EGL refusing the window
// surface): EGL surfaceless first, else the default display with a 1x1
// pbuffer; Present reads the frame back and shows it through the window's
// present (the SDL window's CPU present, the in-memory window's capture).
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glcorearb.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/error.h"
#include "platform/gpu/gpu_device.h"
#include "platform/gpu/x11_display.h"
#include "platform/window/window.h"

namespace plat::gpu {

namespace {

// Tests that run a whole program set the hook through KIV_GPU_FAULTS.
std::atomic<uint32_t> g_faults{[] {
  const char* v = std::getenv("KIV_GPU_FAULTS");
  return v ? static_cast<uint32_t>(std::strtoul(v, nullptr, 0)) : 0u;
}()};

#define KIV_GL_FUNCS(X)                                         \
  X(PFNGLGETSTRINGPROC, GetString)                              \
  X(PFNGLGETINTEGERVPROC, GetIntegerv)                          \
  X(PFNGLGETERRORPROC, GetError)                                \
  X(PFNGLGENTEXTURESPROC, GenTextures)                          \
  X(PFNGLDELETETEXTURESPROC, DeleteTextures)                    \
  X(PFNGLBINDTEXTUREPROC, BindTexture)                          \
  X(PFNGLTEXIMAGE2DPROC, TexImage2D)                            \
  X(PFNGLTEXSUBIMAGE2DPROC, TexSubImage2D)                      \
  X(PFNGLTEXPARAMETERIPROC, TexParameteri)                      \
  X(PFNGLPIXELSTOREIPROC, PixelStorei)                          \
  X(PFNGLACTIVETEXTUREPROC, ActiveTexture)                      \
  X(PFNGLGENFRAMEBUFFERSPROC, GenFramebuffers)                  \
  X(PFNGLDELETEFRAMEBUFFERSPROC, DeleteFramebuffers)            \
  X(PFNGLBINDFRAMEBUFFERPROC, BindFramebuffer)                  \
  X(PFNGLFRAMEBUFFERTEXTURE2DPROC, FramebufferTexture2D)        \
  X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, CheckFramebufferStatus)    \
  X(PFNGLVIEWPORTPROC, Viewport)                                \
  X(PFNGLCLEARCOLORPROC, ClearColor)                            \
  X(PFNGLCLEARPROC, Clear)                                      \
  X(PFNGLENABLEPROC, Enable)                                    \
  X(PFNGLDISABLEPROC, Disable)                                  \
  X(PFNGLBLENDFUNCPROC, BlendFunc)                              \
  X(PFNGLCREATESHADERPROC, CreateShader)                        \
  X(PFNGLSHADERSOURCEPROC, ShaderSource)                        \
  X(PFNGLCOMPILESHADERPROC, CompileShader)                      \
  X(PFNGLGETSHADERIVPROC, GetShaderiv)                          \
  X(PFNGLGETSHADERINFOLOGPROC, GetShaderInfoLog)                \
  X(PFNGLDELETESHADERPROC, DeleteShader)                        \
  X(PFNGLCREATEPROGRAMPROC, CreateProgram)                      \
  X(PFNGLATTACHSHADERPROC, AttachShader)                        \
  X(PFNGLBINDATTRIBLOCATIONPROC, BindAttribLocation)            \
  X(PFNGLLINKPROGRAMPROC, LinkProgram)                          \
  X(PFNGLGETPROGRAMIVPROC, GetProgramiv)                        \
  X(PFNGLGETPROGRAMINFOLOGPROC, GetProgramInfoLog)              \
  X(PFNGLDELETEPROGRAMPROC, DeleteProgram)                      \
  X(PFNGLUSEPROGRAMPROC, UseProgram)                            \
  X(PFNGLGETUNIFORMLOCATIONPROC, GetUniformLocation)            \
  X(PFNGLUNIFORM1IPROC, Uniform1i)                              \
  X(PFNGLUNIFORM1FVPROC, Uniform1fv)                            \
  X(PFNGLUNIFORM2FVPROC, Uniform2fv)                            \
  X(PFNGLUNIFORM3FVPROC, Uniform3fv)                            \
  X(PFNGLUNIFORM4FVPROC, Uniform4fv)                            \
  X(PFNGLGENVERTEXARRAYSPROC, GenVertexArrays)                  \
  X(PFNGLDELETEVERTEXARRAYSPROC, DeleteVertexArrays)            \
  X(PFNGLBINDVERTEXARRAYPROC, BindVertexArray)                  \
  X(PFNGLGENBUFFERSPROC, GenBuffers)                            \
  X(PFNGLDELETEBUFFERSPROC, DeleteBuffers)                      \
  X(PFNGLBINDBUFFERPROC, BindBuffer)                            \
  X(PFNGLBUFFERDATAPROC, BufferData)                            \
  X(PFNGLVERTEXATTRIBPOINTERPROC, VertexAttribPointer)          \
  X(PFNGLENABLEVERTEXATTRIBARRAYPROC, EnableVertexAttribArray)  \
  X(PFNGLDRAWARRAYSPROC, DrawArrays)                            \
  X(PFNGLDRAWELEMENTSPROC, DrawElements)                        \
  X(PFNGLREADPIXELSPROC, ReadPixels)                            \
  X(PFNGLBLITFRAMEBUFFERPROC, BlitFramebuffer)                  \
  X(PFNGLFINISHPROC, Finish)

struct Gl {
#define KIV_GL_MEMBER(type, name) type name = nullptr;
  KIV_GL_FUNCS(KIV_GL_MEMBER)
#undef KIV_GL_MEMBER
  PFNGLGETGRAPHICSRESETSTATUSPROC GetGraphicsResetStatus = nullptr;
};

bool LoadGl(Gl* gl) {
#define KIV_GL_LOAD(type, name)                                                      \
  gl->name = reinterpret_cast<type>(eglGetProcAddress("gl" #name));                  \
  if (!gl->name) return false;
  KIV_GL_FUNCS(KIV_GL_LOAD)
#undef KIV_GL_LOAD
  gl->GetGraphicsResetStatus =
      reinterpret_cast<PFNGLGETGRAPHICSRESETSTATUSPROC>(eglGetProcAddress("glGetGraphicsResetStatus"));
  if (!gl->GetGraphicsResetStatus)
    gl->GetGraphicsResetStatus =
        reinterpret_cast<PFNGLGETGRAPHICSRESETSTATUSPROC>(eglGetProcAddress("glGetGraphicsResetStatusARB"));
  return true;
}

const char* kVertex = R"(#version 330 core
in vec2 a_pos;
in vec4 a_colour;
in vec2 a_uv0;
in vec2 a_uv1;
uniform float u_flip;
out vec4 v_colour;
out vec2 v_uv0;
out vec2 v_uv1;
void main() {
  gl_Position = vec4(a_pos.x, a_pos.y * u_flip, 0.0, 1.0);
  v_colour = a_colour;
  v_uv0 = a_uv0;
  v_uv1 = a_uv1;
}
)";

// Combine 0 modulates, 1 lays texture 1 over by its alpha, 2 is the colour
// alone. The alpha test drops what comes out fully transparent.
const char* kFragment = R"(#version 330 core
uniform sampler2D u_tex0;
uniform sampler2D u_tex1;
uniform int u_combine;
uniform int u_alphaTest;
in vec4 v_colour;
in vec2 v_uv0;
in vec2 v_uv1;
out vec4 o_colour;
void main() {
  vec4 c;
  if (u_combine == 2) {
    c = v_colour;
  } else {
    c = texture(u_tex0, v_uv0) * v_colour;
    if (u_combine == 1) {
      vec4 t = texture(u_tex1, v_uv1);
      c = vec4(mix(c.rgb, t.rgb, t.a), min(c.a + t.a, 1.0));
    }
  }
  if (u_alphaTest != 0 && c.a < 0.5 / 255.0) discard;
  o_colour = c;
}
)";

struct Target {
  GLuint fbo = 0, texture = 0;
  int w = 0, h = 0;
};

}  // namespace

struct Device {
  Window* window = nullptr;
  bool headless = true;
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLConfig config = nullptr;
  EGLContext context = EGL_NO_CONTEXT;
  EGLSurface surface = EGL_NO_SURFACE;  // the window surface, else a pbuffer when surfaceless is not offered
  bool surfaceless = false;
  // Direct present: our own X connection and the window drawn into.
  void* xdisplay = nullptr;
  unsigned long xwindow = 0;
  bool direct = false;
  std::atomic<uint64_t> readBacks{0};
  Info info;
  Gl gl;
  std::atomic<std::thread::id> owner{};
  GLuint program = 0, vao = 0, vbo = 0, ibo = 0;
  GLint locCombine = -1, locAlphaTest = -1;
  std::map<uint32_t, Target> targets;
  uint32_t nextTarget = 1;
  uint32_t output = 0;  // the window's frame
  int outputW = 0, outputH = 0;
  uint32_t bound = 0;
  Blend blend = Blend::kAlpha;  // the blend GL holds; MakeObjects sets it again after a reset
  int swapInterval = 0;
  bool lost = false;
  std::vector<uint32_t> frame;
  // How the free texture memory is read: a driver extension, or system
  // memory for a software rasteriser; none of them: not known.
  enum class MemoryQuery { kNone, kNvx, kAti, kSystem } memoryQuery = MemoryQuery::kNone;
  int presentsSinceMeasure = 0;
};

std::atomic<int> g_freeTextureMiB{-1};

// The memory available to the system, in MiB (-1 unreadable).
int SystemAvailableMiB() {
  FILE* f = std::fopen("/proc/meminfo", "r");
  if (!f) return -1;
  char line[128];
  long long kib = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "MemAvailable: %lld kB", &kib) == 1) break;
  std::fclose(f);
  return kib < 0 ? -1 : static_cast<int>(kib / 1024);
}

void ChooseMemoryQuery(Device* d) {
  d->memoryQuery = Device::MemoryQuery::kNone;
  auto getStringi = reinterpret_cast<PFNGLGETSTRINGIPROC>(eglGetProcAddress("glGetStringi"));
  GLint count = 0;
  d->gl.GetIntegerv(GL_NUM_EXTENSIONS, &count);
  for (GLint i = 0; getStringi && i < count; ++i) {
    const char* e = reinterpret_cast<const char*>(getStringi(GL_EXTENSIONS, static_cast<GLuint>(i)));
    if (!e) continue;
    if (std::strcmp(e, "GL_NVX_gpu_memory_info") == 0) d->memoryQuery = Device::MemoryQuery::kNvx;
    if (std::strcmp(e, "GL_ATI_meminfo") == 0 && d->memoryQuery == Device::MemoryQuery::kNone)
      d->memoryQuery = Device::MemoryQuery::kAti;
  }
  const std::string& r = d->info.renderer;
  if (d->memoryQuery == Device::MemoryQuery::kNone &&
      (r.find("llvmpipe") != std::string::npos || r.find("softpipe") != std::string::npos))
    d->memoryQuery = Device::MemoryQuery::kSystem;
}

// On the device's thread.
void MeasureFreeTextureMemory(Device* d) {
  int mib = -1;
  switch (d->memoryQuery) {
    case Device::MemoryQuery::kNvx: {
      GLint kib = 0;
      d->gl.GetIntegerv(0x9049, &kib);  // current available video memory, KiB
      mib = kib / 1024;
      break;
    }
    case Device::MemoryQuery::kAti: {
      GLint kib[4] = {};
      d->gl.GetIntegerv(0x87FC, kib);  // free texture memory, KiB first
      mib = kib[0] / 1024;
      break;
    }
    case Device::MemoryQuery::kSystem: mib = SystemAvailableMiB(); break;
    case Device::MemoryQuery::kNone: break;
  }
  g_freeTextureMiB.store(mib);
}

namespace {

EGLDisplay OpenDisplay(bool* surfaceless) {
  auto get_platform_display =
      reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
  EGLint major = 0, minor = 0;
  if (get_platform_display) {
    EGLDisplay d = get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (d != EGL_NO_DISPLAY && eglInitialize(d, &major, &minor)) {
      *surfaceless = true;
      return d;
    }
  }
  EGLDisplay d = eglGetDisplay(EGL_DEFAULT_DISPLAY);
  if (d != EGL_NO_DISPLAY && eglInitialize(d, &major, &minor)) {
    *surfaceless = false;
    return d;
  }
  return EGL_NO_DISPLAY;
}

// A 3.3 core context, robust when the driver offers it.
bool MakeContext(Device* d) {
  const EGLint robust[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                           EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                           EGL_CONTEXT_OPENGL_RESET_NOTIFICATION_STRATEGY, EGL_LOSE_CONTEXT_ON_RESET,
                           EGL_CONTEXT_OPENGL_ROBUST_ACCESS, EGL_TRUE, EGL_NONE};
  const EGLint plain[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                          EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
  eglBindAPI(EGL_OPENGL_API);  // per thread, and undone by eglReleaseThread
  d->context = eglCreateContext(d->display, d->config, EGL_NO_CONTEXT, robust);
  d->info.robust = d->context != EGL_NO_CONTEXT;
  if (d->context == EGL_NO_CONTEXT) d->context = eglCreateContext(d->display, d->config, EGL_NO_CONTEXT, plain);
  return d->context != EGL_NO_CONTEXT;
}

bool Bind(Device* d) {
  eglBindAPI(EGL_OPENGL_API);
  if (!eglMakeCurrent(d->display, d->surface, d->surface, d->context)) return false;
  d->owner.store(std::this_thread::get_id());
  return true;
}

GLuint Compile(Gl& gl, GLenum kind, const char* text, std::string* log) {
  GLuint s = gl.CreateShader(kind);
  gl.ShaderSource(s, 1, &text, nullptr);
  gl.CompileShader(s);
  GLint ok = 0;
  gl.GetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char buf[1024] = {};
    gl.GetShaderInfoLog(s, sizeof buf - 1, nullptr, buf);
    if (log) *log += buf;
    gl.DeleteShader(s);
    return 0;
  }
  return s;
}

GLuint Link(Device* d, const char* vs, const char* fs, std::string* log) {
  Gl& gl = d->gl;
  GLuint v = Compile(gl, GL_VERTEX_SHADER, vs, log);
  GLuint f = v ? Compile(gl, GL_FRAGMENT_SHADER, fs, log) : 0;
  if (!f) {
    if (v) gl.DeleteShader(v);
    return 0;
  }
  GLuint p = gl.CreateProgram();
  gl.AttachShader(p, v);
  gl.AttachShader(p, f);
  gl.BindAttribLocation(p, 0, "a_pos");
  gl.BindAttribLocation(p, 1, "a_colour");
  gl.BindAttribLocation(p, 2, "a_uv0");
  gl.BindAttribLocation(p, 3, "a_uv1");
  gl.LinkProgram(p);
  gl.DeleteShader(v);
  gl.DeleteShader(f);
  GLint ok = 0;
  gl.GetProgramiv(p, GL_LINK_STATUS, &ok);
  if (!ok) {
    char buf[1024] = {};
    gl.GetProgramInfoLog(p, sizeof buf - 1, nullptr, buf);
    if (log) *log += buf;
    gl.DeleteProgram(p);
    return 0;
  }
  return p;
}

// Every target keeps rows top first, like CPU pixels: clip y is turned.
constexpr float kFlip = -1.0f;

// The objects every draw uses; made again after a reset.
bool MakeObjects(Device* d) {
  Gl& gl = d->gl;
  std::string log;
  d->program = Link(d, kVertex, kFragment, &log);
  if (!d->program) return false;
  d->locCombine = gl.GetUniformLocation(d->program, "u_combine");
  d->locAlphaTest = gl.GetUniformLocation(d->program, "u_alphaTest");
  // The uniforms that never change are set once.
  gl.UseProgram(d->program);
  const float flip = kFlip;
  gl.Uniform1fv(gl.GetUniformLocation(d->program, "u_flip"), 1, &flip);
  gl.Uniform1i(gl.GetUniformLocation(d->program, "u_tex0"), 0);
  gl.Uniform1i(gl.GetUniformLocation(d->program, "u_tex1"), 1);
  gl.GenVertexArrays(1, &d->vao);
  gl.BindVertexArray(d->vao);
  gl.GenBuffers(1, &d->vbo);
  gl.GenBuffers(1, &d->ibo);
  gl.BindBuffer(GL_ARRAY_BUFFER, d->vbo);
  gl.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, d->ibo);
  const GLsizei stride = sizeof(Vertex);
  gl.VertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(offsetof(Vertex, x)));
  // ARGB words are B G R A in memory: the BGRA size reads them as RGBA.
  gl.VertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                         reinterpret_cast<void*>(offsetof(Vertex, colour)));
  gl.VertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(offsetof(Vertex, u0)));
  gl.VertexAttribPointer(3, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(offsetof(Vertex, u1)));
  for (GLuint i = 0; i < 4; ++i) gl.EnableVertexAttribArray(i);
  gl.PixelStorei(GL_UNPACK_ALIGNMENT, 4);
  gl.PixelStorei(GL_PACK_ALIGNMENT, 4);
  gl.Disable(GL_DEPTH_TEST);
  gl.Disable(GL_CULL_FACE);
  gl.Enable(GL_BLEND);
  gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  d->blend = Blend::kAlpha;
  d->targets.clear();
  d->output = 0;
  d->bound = 0;
  return gl.GetError() == GL_NO_ERROR;
}

void Close(Device* d) {
  if (d->display == EGL_NO_DISPLAY) return;
  eglMakeCurrent(d->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (d->surface != EGL_NO_SURFACE) eglDestroySurface(d->display, d->surface);
  if (d->context != EGL_NO_CONTEXT) eglDestroyContext(d->display, d->context);
  d->surface = EGL_NO_SURFACE;
  d->context = EGL_NO_CONTEXT;
  d->owner.store(std::thread::id{});
  eglReleaseThread();
}

// Close, and the display and X connection of a direct present go too (they
// are ours alone, unlike the shared default display).
void CloseDirect(Device* d) {
  Close(d);
  if (d->xdisplay) {
    if (d->display != EGL_NO_DISPLAY) eglTerminate(d->display);
    d->display = EGL_NO_DISPLAY;
    x11::CloseDisplay(d->xdisplay);
  }
  if (d->direct && d->window && d->window->backend()) d->window->backend()->SetDirectPresent(false);
  d->xdisplay = nullptr;
  d->xwindow = 0;
  d->direct = false;
}

// What every way of opening shares once the context is there: current on
// this thread, the entry points, the version, the built-in objects.
bool Finish(Device* d, std::string* why) {
  if (!Bind(d)) {
    *why = "the context cannot be made current";
    return false;
  }
  if (!LoadGl(&d->gl)) {
    *why = "missing OpenGL entry points";
    return false;
  }
  d->gl.GetIntegerv(GL_MAJOR_VERSION, &d->info.major);
  d->gl.GetIntegerv(GL_MINOR_VERSION, &d->info.minor);
  d->gl.GetIntegerv(GL_MAX_TEXTURE_SIZE, &d->info.maxTextureSize);
  if (const GLubyte* r = d->gl.GetString(GL_RENDERER)) d->info.renderer = reinterpret_cast<const char*>(r);
  if (d->info.major * 10 + d->info.minor < 33) {
    *why = "OpenGL below 3.3";
    return false;
  }
  ChooseMemoryQuery(d);
  d->presentsSinceMeasure = 0;
  if (!MakeObjects(d)) {
    *why = "the built-in program does not build";
    return false;
  }
  return true;
}

EGLSurface MakeWindowSurface(Device* d) {
  return eglCreateWindowSurface(d->display, d->config, static_cast<EGLNativeWindowType>(d->xwindow), nullptr);
}

// The window's X display over a connection of our own, a context there and
// a window surface on the window. False with the reason; what was made is
// left for CloseDirect.
bool OpenDirect(Device* d, std::string* why) {
  WindowBackend* backend = d->window ? d->window->backend() : nullptr;
  const unsigned long xwindow = backend ? backend->NativeX11Window() : 0;
  if (!xwindow) {
    *why = "the window is no X11 window";
    return false;
  }
  auto get_platform_display =
      reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!get_platform_display) {
    *why = "EGL offers no platform displays";
    return false;
  }
  d->xdisplay = x11::OpenDisplay(backend->NativeX11DisplayName());
  if (!d->xdisplay) {
    *why = "the X display does not open";
    return false;
  }
  EGLint major = 0, minor = 0;
  d->display = get_platform_display(EGL_PLATFORM_X11_KHR, d->xdisplay, nullptr);
  if (d->display == EGL_NO_DISPLAY || !eglInitialize(d->display, &major, &minor)) {
    d->display = EGL_NO_DISPLAY;
    *why = "no EGL display on X11";
    return false;
  }
  if (!eglBindAPI(EGL_OPENGL_API)) {
    *why = "no desktop OpenGL through EGL";
    return false;
  }
  // A configuration of the window's own visual, so the surface matches it;
  // it also makes pbuffers, for a fall-back after a reset.
  const EGLint attrs[] = {EGL_SURFACE_TYPE, EGL_WINDOW_BIT | EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                          EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE};
  EGLConfig configs[64];
  EGLint count = 0;
  if (!eglChooseConfig(d->display, attrs, configs, 64, &count) || count < 1) {
    *why = "no EGL configuration for an OpenGL window";
    return false;
  }
  const unsigned long visual = x11::WindowVisual(d->xdisplay, xwindow);
  d->config = configs[0];
  for (EGLint i = 0; i < count; ++i) {
    EGLint id = 0;
    if (visual && eglGetConfigAttrib(d->display, configs[i], EGL_NATIVE_VISUAL_ID, &id) &&
        static_cast<unsigned long>(id) == visual) {
      d->config = configs[i];
      break;
    }
  }
  if (!MakeContext(d)) {
    *why = "no OpenGL 3.3 core context";
    return false;
  }
  d->xwindow = xwindow;
  d->surface = MakeWindowSurface(d);
  if (d->surface == EGL_NO_SURFACE) {
    char line[64];
    std::snprintf(line, sizeof line, "EGL refuses the window surface (0x%X)", static_cast<unsigned>(eglGetError()));
    *why = line;
    return false;
  }
  d->direct = true;
  return true;
}

bool Open(Device* d, std::string* why) {
  if (!d->headless) {
    std::string direct_why;
    if (OpenDirect(d, &direct_why) && Finish(d, &direct_why)) {
      d->info.present = "direct";
      d->window->backend()->SetDirectPresent(true);
      return true;
    }
    CloseDirect(d);
    d->info = Info{};
    d->info.present = "read back (" + direct_why + ")";
  } else {
    d->info.present = "read back";
  }
  d->display = OpenDisplay(&d->surfaceless);
  if (d->display == EGL_NO_DISPLAY) {
    *why = "no EGL display";
    return false;
  }
  if (!eglBindAPI(EGL_OPENGL_API)) {
    *why = "no desktop OpenGL through EGL";
    return false;
  }
  const EGLint attrs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                          EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE};
  EGLint count = 0;
  if (!eglChooseConfig(d->display, attrs, &d->config, 1, &count) || count < 1) {
    const EGLint any[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    if (!eglChooseConfig(d->display, any, &d->config, 1, &count) || count < 1) {
      *why = "no EGL configuration for OpenGL";
      return false;
    }
  }
  if (!MakeContext(d)) {
    *why = "no OpenGL 3.3 core context";
    return false;
  }
  if (!d->surfaceless) {
    const EGLint pb[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    d->surface = eglCreatePbufferSurface(d->display, d->config, pb);
    if (d->surface == EGL_NO_SURFACE) {
      *why = "no pbuffer";
      return false;
    }
  }
  return Finish(d, why);
}

GLenum FilterOf(Filter f) { return f == Filter::kLinear ? GL_LINEAR : GL_NEAREST; }

}  // namespace

bool IsSoftwareRasterizer(const std::string& renderer) {
  std::string r = renderer;
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* name : {"llvmpipe", "softpipe", "swrast"})
    if (r.find(name) != std::string::npos) return true;
  return false;
}

bool GpuForced() {
  const char* v = std::getenv("KIV_FORCE_GPU");
  return v && *v && std::strcmp(v, "0") != 0;
}

std::string RendererChoice(bool has_context, const std::string& renderer) {
  if (!has_context) return "software (no OpenGL 3.3 device)";
  if (!IsSoftwareRasterizer(renderer)) return "GPU (" + renderer + ")";
  if (GpuForced()) return "GPU (" + renderer + ", forced by KIV_FORCE_GPU)";
  return "software (" + renderer + " is a software rasterizer)";
}

void SetFaults(uint32_t bits) { g_faults.store(bits); }
uint32_t Faults() { return g_faults.load(); }

Device* Create(Window* window, bool headless, std::string* why) {
  std::string scratch;
  if (!why) why = &scratch;
  if (g_faults.load() & kGpuCreate) {
    *why = "creation refused by the fault hook";
    return nullptr;
  }
  auto* d = new Device;
  d->window = window;
  d->headless = headless || !window;
  if (!Open(d, why)) {
    Close(d);
    if (d->display != EGL_NO_DISPLAY) eglTerminate(d->display);
    delete d;
    return nullptr;
  }
  return d;
}

void Destroy(Device* d) {
  if (!d) return;
  g_freeTextureMiB.store(-1);
  if (CurrentHere(d) || MakeCurrent(d)) {
    Gl& gl = d->gl;
    for (auto& [id, t] : d->targets) {
      gl.DeleteFramebuffers(1, &t.fbo);
      gl.DeleteTextures(1, &t.texture);
    }
    if (d->program) gl.DeleteProgram(d->program);
    if (d->vbo) gl.DeleteBuffers(1, &d->vbo);
    if (d->ibo) gl.DeleteBuffers(1, &d->ibo);
    if (d->vao) gl.DeleteVertexArrays(1, &d->vao);
  }
  // The default display stays initialised: EGL displays are shared per
  // process and terminating one under another device would pull it away. A
  // direct present's display is on our own connection and goes with it.
  CloseDirect(d);
  delete d;
}

const Info& GetInfo(const Device* d) { return d->info; }

bool CurrentHere(const Device* d) {
  return d && d->context != EGL_NO_CONTEXT && d->owner.load() == std::this_thread::get_id();
}

bool MakeCurrent(Device* d) {
  if (!d || d->context == EGL_NO_CONTEXT) return false;
  if (CurrentHere(d)) return true;
  return Bind(d);
}

void ReleaseCurrent(Device* d) {
  if (!d || !CurrentHere(d)) return;
  eglMakeCurrent(d->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  d->owner.store(std::thread::id{});
}

void SetSwapInterval(Device* d, int interval) {
  if (!d) return;
  d->swapInterval = interval;
  if (d->surface != EGL_NO_SURFACE) eglSwapInterval(d->display, interval);
}

uint32_t TextureCreate(Device* d, int w, int h, bool* outOfMemory) {
  if (outOfMemory) {
    *outOfMemory = false;
    // Only a texture asked with the question meets the hook's shortage
    // (render targets stay out of it).
    if (g_faults.load() & kGpuOutOfMemory) {
      *outOfMemory = true;
      return 0;
    }
  }
  if (!d || w <= 0 || h <= 0 || w > d->info.maxTextureSize || h > d->info.maxTextureSize) return 0;
  Gl& gl = d->gl;
  // Errors left from earlier calls are not this texture's (GL keeps one
  // flag per kind, so a few reads empty it).
  for (int i = 0; i < 8; ++i)
    if (gl.GetError() == GL_NO_ERROR) break;
  GLuint t = 0;
  gl.GenTextures(1, &t);
  gl.BindTexture(GL_TEXTURE_2D, t);
  gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  if (const GLenum error = gl.GetError(); error != GL_NO_ERROR) {
    if (outOfMemory) *outOfMemory = error == GL_OUT_OF_MEMORY;
    gl.DeleteTextures(1, &t);
    return 0;
  }
  return t;
}

bool TextureUpload(Device* d, uint32_t texture, int w, int h, const uint32_t* pixels, int pitch) {
  if (!d || !texture || !pixels || w <= 0 || h <= 0 || pitch < w) return false;
  Gl& gl = d->gl;
  gl.BindTexture(GL_TEXTURE_2D, texture);
  gl.PixelStorei(GL_UNPACK_ROW_LENGTH, pitch);
  gl.TexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels);
  gl.PixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  return gl.GetError() == GL_NO_ERROR;
}

void TextureDelete(Device* d, uint32_t texture) {
  if (!d || !texture) return;
  GLuint t = texture;
  d->gl.DeleteTextures(1, &t);
}

uint32_t TargetCreate(Device* d, int w, int h) {
  if (!d) return 0;
  Target t;
  t.texture = TextureCreate(d, w, h);
  if (!t.texture) return 0;
  t.w = w;
  t.h = h;
  Gl& gl = d->gl;
  gl.GenFramebuffers(1, &t.fbo);
  gl.BindFramebuffer(GL_FRAMEBUFFER, t.fbo);
  gl.FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, t.texture, 0);
  const bool ok = gl.CheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
  d->bound = 0;
  if (!ok) {
    gl.DeleteFramebuffers(1, &t.fbo);
    gl.DeleteTextures(1, &t.texture);
    return 0;
  }
  const uint32_t id = d->nextTarget++;
  d->targets[id] = t;
  return id;
}

uint32_t TargetTexture(const Device* d, uint32_t target) {
  if (!d) return 0;
  auto it = d->targets.find(target);
  return it == d->targets.end() ? 0 : it->second.texture;
}

void TargetDelete(Device* d, uint32_t target) {
  if (!d) return;
  auto it = d->targets.find(target);
  if (it == d->targets.end()) return;
  d->gl.DeleteFramebuffers(1, &it->second.fbo);
  d->gl.DeleteTextures(1, &it->second.texture);
  if (d->bound == target) d->bound = 0;
  if (d->output == target) d->output = 0;
  d->targets.erase(it);
}

void SetOutputSize(Device* d, int w, int h) {
  if (!d || w <= 0 || h <= 0) return;
  if (d->output && d->outputW == w && d->outputH == h) return;
  if (d->output) TargetDelete(d, d->output);
  d->output = TargetCreate(d, w, h);
  d->outputW = w;
  d->outputH = h;
  d->frame.resize(static_cast<size_t>(w) * h);
}

bool BindTarget(Device* d, uint32_t target) {
  if (!d) return false;
  uint32_t id = target ? target : d->output;
  auto it = d->targets.find(id);
  if (it == d->targets.end()) return false;
  d->gl.BindFramebuffer(GL_FRAMEBUFFER, it->second.fbo);
  d->gl.Viewport(0, 0, it->second.w, it->second.h);
  d->bound = id;
  return true;
}

void Clear(Device* d, uint32_t argb) {
  if (!d) return;
  auto ch = [argb](int shift) { return static_cast<float>((argb >> shift) & 0xFF) / 255.0f; };
  d->gl.ClearColor(ch(16), ch(8), ch(0), ch(24));
  d->gl.Clear(GL_COLOR_BUFFER_BIT);
}

void SetBlend(Device* d, Blend b) {
  if (!d || b == Blend::kKeep || b == d->blend) return;
  Gl& gl = d->gl;
  d->blend = b;
  switch (b) {
    case Blend::kCopy: gl.BlendFunc(GL_ONE, GL_ZERO); break;
    case Blend::kAlpha: gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA); break;
    case Blend::kAdd: gl.BlendFunc(GL_SRC_ALPHA, GL_ONE); break;
    case Blend::kMultiply: gl.BlendFunc(GL_ZERO, GL_SRC_COLOR); break;
    case Blend::kDestColour: gl.BlendFunc(GL_ZERO, GL_DST_COLOR); break;
    case Blend::kColourOnly: gl.BlendFunc(GL_ONE, GL_ZERO); break;
    case Blend::kKeep: break;
  }
}

void Draw(Device* d, const DrawCall& call, Primitive p, const Vertex* v, int n, const uint32_t* indices,
          int nidx) {
  if (!d || !v || n <= 0) return;
  Gl& gl = d->gl;
  const GLuint program = call.program ? call.program : d->program;
  gl.UseProgram(program);
  if (program == d->program) {
    gl.Uniform1i(d->locCombine, call.texture0 ? (call.combine == Combine::kComposite ? 1 : 0) : 2);
    gl.Uniform1i(d->locAlphaTest, call.alphaTest ? 1 : 0);
  }
  const GLenum f = FilterOf(call.filter);
  for (int unit = 0; unit < 2; ++unit) {
    const uint32_t t = unit ? call.texture1 : call.texture0;
    gl.ActiveTexture(GL_TEXTURE0 + unit);
    gl.BindTexture(GL_TEXTURE_2D, t);
    if (t) {
      gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(f));
      gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, static_cast<GLint>(f));
    }
  }
  gl.ActiveTexture(GL_TEXTURE0);
  gl.BindVertexArray(d->vao);
  gl.BindBuffer(GL_ARRAY_BUFFER, d->vbo);
  gl.BufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(sizeof(Vertex)) * n, v, GL_STREAM_DRAW);
  const GLenum mode = p == Primitive::kTriangleStrip ? GL_TRIANGLE_STRIP
                      : p == Primitive::kTriangleFan ? GL_TRIANGLE_FAN
                                                     : GL_TRIANGLES;
  if (indices && nidx > 0) {
    gl.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, d->ibo);
    gl.BufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(sizeof(uint32_t)) * nidx, indices,
                  GL_STREAM_DRAW);
    gl.DrawElements(mode, nidx, GL_UNSIGNED_INT, nullptr);
  } else {
    gl.DrawArrays(mode, 0, n);
  }
}

uint32_t ProgramCreate(Device* d, const char* vertex, const char* fragment, std::string* log) {
  if (!d || !vertex || !fragment) return 0;
  GLuint p = Link(d, vertex, fragment, log);
  if (p) {
    d->gl.UseProgram(p);
    GLint loc = d->gl.GetUniformLocation(p, "g_Texture");
    if (loc >= 0) d->gl.Uniform1i(loc, 0);
    loc = d->gl.GetUniformLocation(p, "u_flip");
    const float flip = kFlip;
    if (loc >= 0) d->gl.Uniform1fv(loc, 1, &flip);
  }
  return p;
}

void ProgramDelete(Device* d, uint32_t program) {
  if (d && program) d->gl.DeleteProgram(program);
}

bool ProgramSet(Device* d, uint32_t program, const char* name, const float* values, int count) {
  if (!d || !program || !name || !values) return false;
  Gl& gl = d->gl;
  GLint loc = gl.GetUniformLocation(program, name);
  if (loc < 0) return false;
  gl.UseProgram(program);
  switch (count) {
    case 1: gl.Uniform1fv(loc, 1, values); break;
    case 2: gl.Uniform2fv(loc, 1, values); break;
    case 3: gl.Uniform3fv(loc, 1, values); break;
    case 4: gl.Uniform4fv(loc, 1, values); break;
    default: return false;
  }
  return true;
}

bool ReadPixels(Device* d, uint32_t target, int x, int y, int w, int h, uint32_t* out, int pitch) {
  if (!d || !out || w <= 0 || h <= 0 || pitch < w) return false;
  const uint32_t id = target ? target : d->output;
  auto it = d->targets.find(id);
  if (it == d->targets.end()) return false;
  if (x < 0 || y < 0 || x + w > it->second.w || y + h > it->second.h) return false;
  Gl& gl = d->gl;
  const uint32_t was = d->bound;
  gl.BindFramebuffer(GL_READ_FRAMEBUFFER, it->second.fbo);
  gl.PixelStorei(GL_PACK_ROW_LENGTH, pitch);
  // Targets keep rows top first, so GL's row 0 is the top row.
  gl.ReadPixels(x, y, w, h, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, out);
  d->readBacks.fetch_add(1);
  gl.PixelStorei(GL_PACK_ROW_LENGTH, 0);
  if (was) BindTarget(d, was);
  return gl.GetError() == GL_NO_ERROR;
}

namespace {

// The frame into the window surface, then the swap. A swap that fails
// (context lost, the surface gone) counts as a loss: the reset makes a new
// surface, or falls back to the read-back present.
bool PresentDirect(Device* d) {
  auto it = d->targets.find(d->output);
  if (it == d->targets.end()) return true;
  Gl& gl = d->gl;
  EGLint sw = 0, sh = 0;
  eglQuerySurface(d->display, d->surface, EGL_WIDTH, &sw);
  eglQuerySurface(d->display, d->surface, EGL_HEIGHT, &sh);
  const int w = d->outputW, h = d->outputH;
  gl.BindFramebuffer(GL_READ_FRAMEBUFFER, it->second.fbo);
  gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  if (sw != w || sh != h) {
    // The window's size moved on since the frame began: what the frame does
    // not cover is black until the next one.
    gl.Viewport(0, 0, sw, sh);
    gl.ClearColor(0, 0, 0, 1);
    gl.Clear(GL_COLOR_BUFFER_BIT);
  }
  // Targets keep rows top first, the window's framebuffer bottom first: the
  // blit turns the frame over, its top row at the window's top.
  gl.BlitFramebuffer(0, 0, w, h, 0, sh, w, sh - h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
  const bool swapped = eglSwapBuffers(d->display, d->surface) == EGL_TRUE;
  const uint32_t was = d->bound;
  BindTarget(d, was ? was : d->output);
  if (!swapped) {
    d->lost = true;
    return false;
  }
  return true;
}

}  // namespace

bool PresentsDirectly(const Device* d) { return d && d->direct; }

uint64_t ReadBacks(const Device* d) { return d ? d->readBacks.load() : 0; }

int FreeTextureMemoryMiB() { return g_freeTextureMiB.load(); }

bool Present(Device* d) {
  if (!d) return false;
  if (Test(d) != Status::kOk) return false;
  if (d->presentsSinceMeasure-- <= 0) {
    MeasureFreeTextureMemory(d);
    d->presentsSinceMeasure = 60;
  }
  if (!d->output) return true;
  if (d->direct) return PresentDirect(d);
  if (!ReadPixels(d, d->output, 0, 0, d->outputW, d->outputH, d->frame.data(), d->outputW)) return false;
  // The window's present failing is the device's failing to present.
  return !d->window || !d->window->backend() ||
         d->window->backend()->Present(d->frame.data(), d->outputW, d->outputH, d->outputW,
                                       Rect{0, 0, d->outputW, d->outputH}, false);
}

Status Test(Device* d) {
  if (!d) return Status::kOk;
  if (g_faults.load() & kGpuLost) d->lost = true;
  if (!d->lost && d->gl.GetGraphicsResetStatus && d->info.robust && CurrentHere(d) &&
      d->gl.GetGraphicsResetStatus() != GL_NO_ERROR)
    d->lost = true;
  if (!d->lost) return Status::kOk;
  // A reset can be tried once the loss has passed (the hook's bit cleared).
  return (g_faults.load() & kGpuLost) ? Status::kLost : Status::kResettable;
}

bool Reset(Device* d) {
  if (!d) return false;
  if (g_faults.load() & (kGpuResetFails | kGpuLost)) return false;
  Close(d);
  if (!MakeContext(d)) return false;
  if (d->direct) {
    d->surface = MakeWindowSurface(d);
    if (d->surface == EGL_NO_SURFACE) {
      // No window surface now: frames are read back and shown by the
      // window's present from here on.
      d->direct = false;
      d->info.present = "read back (no window surface after a reset)";
      plat::DebugOutput("GPU present: no window surface after a reset; frames are read back\n");
      if (d->window && d->window->backend()) d->window->backend()->SetDirectPresent(false);
    }
  }
  if (!d->direct && !d->surfaceless) {
    const EGLint pb[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    d->surface = eglCreatePbufferSurface(d->display, d->config, pb);
    if (d->surface == EGL_NO_SURFACE) return false;
  }
  if (!Bind(d) || !MakeObjects(d)) return false;
  if (d->direct) eglSwapInterval(d->display, d->swapInterval);
  d->outputW = d->outputH = 0;
  d->lost = false;
  return true;
}

}  // namespace plat::gpu
