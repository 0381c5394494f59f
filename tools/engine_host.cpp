// engine_host: loads dll/libkiv.so beside itself, starts the engine with a
// 1280 x 720 screen at 60 frames per second, draws an empty (black) scene
// and runs until the window is closed. Exit code 1 when the engine library
// cannot be loaded.
//
// Options: --frames N ends the engine by itself after N frames (for smoke
// runs); --report prints the frames drawn and their average period;
// --showcase shows the animations, buttons, numbers, cursor and thumbnails
// (showcase.cpp), playing a short sequence by itself when --frames is given.
// F12 writes the last shown frame to capture%03d.png beside the program.
// --scene shows a picture waved by the raster effects on the GPU renderer
// (--dib: on the software renderer).
// --sound FILE plays a WAV or Ogg file as music once at start (default: the
// sine sweep sweep.wav beside the program, when it is there), so a person
// can hear the device path; --loop repeats it.
// --debug starts the engine in debug mode: the status dialog and the debug
// windows (F11 the sprite control). --effect-test BACKGROUND CHARACTER
// starts the effect test on those two images (in debug mode).
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dl_bind.h"
#include "kiv.h"
#include "scene.h"
#include "showcase.h"
#include "platform/window/png_capture.h"
#include "platform/window/window.h"

namespace {

struct Engine {
  decltype(&KivDefaultCreate) DefaultCreate;
  decltype(&KivInit) Init;
  decltype(&KivRun) Run;
  decltype(&KivUninit) Uninit;
  decltype(&KivEnd) End;
  decltype(&KivRenderInit) RenderInit;
  decltype(&KivRenderSetActive) RenderSetActive;
  decltype(&KivRenderUninit) RenderUninit;
  decltype(&KivTaskCreate) TaskCreate;
  decltype(&KivtimeGetTime) TimeGetTime;
  decltype(&KivInputGetKeyPush) GetKeyPush;
  decltype(&KivGetWindowHandle) GetWindowHandle;
  decltype(&KivSoundLoad) SoundLoad;
  decltype(&KivSoundPlay) SoundPlay;
  decltype(&KivEffectTest) EffectTest;
  decltype(&KivDebugPrintf) DebugPrintf;
} kiv;

bool g_debug = false;
const char* g_effect_background = nullptr;
const char* g_effect_character = nullptr;

std::string g_sound_file;
bool g_sound_loop = false;

constexpr int kKeyF12 = 1 << 22;
std::string ProgramFolder();

// The window handle is the engine's window record; its backend keeps the
// frame it showed last.
void CaptureFrame() {
  auto* window = static_cast<plat::Window*>(kiv.GetWindowHandle());
  if (!window) return;
  plat::Frame f = window->backend()->LastFrame();
  std::string path = plat::NextCaptureName(ProgramFolder(), "capture%03d.png");
  if (path.empty() || !plat::CapturePng(path, f.pixels.data(), f.width, f.height, f.width))
    std::fprintf(stderr, "engine_host: the frame could not be captured\n");
  else
    std::printf("engine_host: %s\n", path.c_str());
}

KivRenderList* g_list = nullptr;
long g_frame_limit = -1;
bool g_showcase = false;
bool g_scene = false;
bool g_dib = false;
long g_frames = 0;
uint32_t g_first_time = 0, g_last_time = 0;

int CountFrames(void*) {
  uint32_t now = kiv.TimeGetTime();
  if (g_frames == 0) g_first_time = now;
  g_last_time = now;
  ++g_frames;
  if (kiv.GetKeyPush() & kKeyF12) CaptureFrame();
  if (g_frame_limit >= 0 && g_frames == g_frame_limit) kiv.End();
  return 1;
}

int Start() {
  g_list = kiv.RenderInit();
  if (!g_list) return 0;
  kiv.RenderSetActive(g_list);
  if (!g_sound_file.empty()) {
    KivSoundId id = kiv.SoundLoad(g_sound_file.c_str(), 2, nullptr);
    if (!id || !kiv.SoundPlay(id, g_sound_loop ? 1 : 0))
      std::fprintf(stderr, "engine_host: cannot play %s\n", g_sound_file.c_str());
  }
  if (g_showcase && !ShowcaseStart(g_list, g_frame_limit >= 0)) return 0;
  if (g_scene && !SceneStart(g_list)) return 0;
  if (g_debug) kiv.DebugPrintf(0, nullptr, "%s", "engine_host: debug mode");
  if (g_effect_background && !kiv.EffectTest(g_effect_background, 0, g_effect_character)) return 0;
  return kiv.TaskCreate(CountFrames, nullptr, 16, nullptr, KIV_TASK_BEHIND, nullptr, "FrameCount") != nullptr;
}

void End(void*) {
  if (g_showcase) ShowcaseEnd(g_list);
  if (g_scene) SceneEnd(g_list);
  kiv.RenderSetActive(nullptr);
  kiv.RenderUninit(g_list);
  g_list = nullptr;
}

std::string ProgramFolder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  std::string p(buf);
  return p.substr(0, p.find_last_of('/'));
}

}  // namespace

int main(int argc, char** argv) {
  bool report = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--frames") && i + 1 < argc) g_frame_limit = std::strtol(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--report")) report = true;
    else if (!std::strcmp(argv[i], "--sound") && i + 1 < argc) g_sound_file = argv[++i];
    else if (!std::strcmp(argv[i], "--loop")) g_sound_loop = true;
    else if (!std::strcmp(argv[i], "--showcase")) g_showcase = true;
    else if (!std::strcmp(argv[i], "--scene")) g_scene = true;
    else if (!std::strcmp(argv[i], "--dib")) g_dib = true;
    else if (!std::strcmp(argv[i], "--debug")) g_debug = true;
    else if (!std::strcmp(argv[i], "--effect-test") && i + 2 < argc) {
      g_debug = true;
      g_effect_background = argv[++i];
      g_effect_character = argv[++i];
    }
  }
  if (g_sound_file.empty() && access((ProgramFolder() + "/sweep.wav").c_str(), R_OK) == 0)
    g_sound_file = ProgramFolder() + "/sweep.wav";
  std::string path = ProgramFolder() + "/dll/libkiv.so";
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::fprintf(stderr, "engine_host: %s\n", dlerror());
    return 1;
  }
  bool ok = Bind(lib, kiv.DefaultCreate, "KivDefaultCreate") && Bind(lib, kiv.Init, "KivInit") &&
            Bind(lib, kiv.Run, "KivRun") && Bind(lib, kiv.Uninit, "KivUninit") && Bind(lib, kiv.End, "KivEnd") &&
            Bind(lib, kiv.RenderInit, "KivRenderInit") && Bind(lib, kiv.RenderSetActive, "KivRenderSetActive") &&
            Bind(lib, kiv.RenderUninit, "KivRenderUninit") && Bind(lib, kiv.TaskCreate, "KivTaskCreate") &&
            Bind(lib, kiv.TimeGetTime, "KivtimeGetTime") && Bind(lib, kiv.GetKeyPush, "KivInputGetKeyPush") &&
            Bind(lib, kiv.GetWindowHandle, "KivGetWindowHandle") && Bind(lib, kiv.SoundLoad, "KivSoundLoad") &&
            Bind(lib, kiv.SoundPlay, "KivSoundPlay") && Bind(lib, kiv.EffectTest, "KivEffectTest") &&
            Bind(lib, kiv.DebugPrintf, "KivDebugPrintf");
  if (g_showcase) ok = ShowcaseBind(lib) && ok;
  if (g_scene) ok = SceneBind(lib) && ok;
  if (!ok) return 1;

  KivSystemParameters p;
  kiv.DefaultCreate(&p);
  p.title = "KIV";
  p.className = "KIV";
  p.clientWidth = p.screenWidth = 1280;
  p.clientHeight = p.screenHeight = 720;
  p.frameRate = 60;
  p.mode &= ~KIV_MODE_GPU;  // the software renderer, without the fallback warning
  // The scene asks for the GPU renderer with its shader effects (--dib: not).
  if (g_scene && !g_dib) p.mode |= KIV_MODE_GPU | KIV_MODE_SHADER;
  p.debug = g_debug ? 1 : 0;
  p.startCallback = Start;
  p.endCallback = End;
  if (!kiv.Init(&p)) return 2;
  int code = kiv.Run();
  kiv.Uninit();
  if (report && g_frames > 1)
    std::printf("frames %ld, average period %.2f ms\n", g_frames,
                static_cast<double>(g_last_time - g_first_time) / static_cast<double>(g_frames - 1));
  return code < 0 ? 3 : 0;
}
