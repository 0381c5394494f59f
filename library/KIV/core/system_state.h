// The engine's one run-time record and the internal calls shared between
// its components. Everything here is engine-private.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "kiv.h"
#include "platform/core/geometry.h"
#include "platform/core/threads.h"
#include "platform/window/window.h"
#include "task/render_list.h"
#include "task/task.h"

struct KivSoftScreen;
struct KivRenderer;

// The record handed to the renderer's creation.
struct KivRendererSetup {
  plat::Window* window = nullptr;
  int clientWidth = 0, clientHeight = 0;
  int screenWidth = 0, screenHeight = 0;
  uint32_t options = 0;  // 0x1 legacy, 0x2 V-Sync, 0x4 shaders
  int adapter = 0;
  int aspect = 0;
  int fullScreenFilter = 0;  // 0 none, 1 nearest, 2 bilinear, 3 bicubic
  int textureFilter = 0;     // 0 none, 1 nearest, 2 bilinear
};

struct KivFontState {
  uint32_t colour = 0xFFFFFF;
  uint32_t edgeColour = 0;
  int effect = 0;
  int size = 24;
  int type = 0;
};

// Bit i of every key mask is entry i of the key table (input.cpp). The game
// thread updates everything once a frame; the window thread clears the
// push, on, pull and repeat masks on deactivation and the debug status reads
// them, so every word the frame rebuilds is atomic.
struct KivInputState {
  std::atomic<uint32_t> eventWord{0};  // 1, 2, 4 double clicks; 8 mode toggle; 16 wheel
  std::atomic<int> wheel{0};           // 16-bit: +1, -1 or 0 this frame

  void* joystick = nullptr;  // plat::Joystick, owned by input.cpp; null without one
  std::atomic<uint32_t> joyCurrent{0}, joyPrevious{0};
  std::atomic<uint32_t> joyPush{0}, joyOn{0}, joyPull{0}, joyRepeat{0};  // repeat stays 0

  std::atomic<uint32_t> keyCurrent{0}, keyPrevious{0};
  std::atomic<uint32_t> keyPush{0}, keyOn{0}, keyPull{0}, keyRepeat{0};
  std::atomic<uint32_t> repeatCandidates{0};
  std::atomic<uint32_t> repeatStart{0};  // frame time of the latest push

  std::atomic<int> mouseX{0}, mouseY{0};  // logical screen pixels; -1: no position
  std::atomic<int> moveX{0}, moveY{0};

  std::atomic<uint32_t> cancelKeys{0}, cancelEvents{0};  // kept until the next KivInputKeyCancel

  // KivCursorSetPos: the client point the cursor was put on and the logical
  // point asked for. While the cursor stays on that client point the poll
  // reads the logical point back exactly, even where the client is smaller
  // than the screen and no client pixel maps onto it.
  std::atomic<int> warpPending{0};  // 0 none, 1 asked, 2 the cursor is there
  std::atomic<int> warpClientX{0}, warpClientY{0};
  std::atomic<int> warpX{0}, warpY{0};
};

struct KivSystemState {
  void* gpu = nullptr;  // GPU context when mode bit 0x8 is set
  KivSoftScreen* soft = nullptr;
  const KivRenderer* renderer = nullptr;  // the table of the one in use
  plat::Window* window = nullptr;
  std::atomic<int> running{0};
  // Set once the end request has begun: a second request (a close, a
  // termination signal, KivEnd) met while it runs is dropped.
  std::atomic<int> ending{0};
  // Close requests that reached the window before KivRun had started the
  // game thread wait here and are handled once it runs (window thread only).
  bool threadsStarted = false;
  bool deferredClose = false;
  bool deferredEnd = false;
  std::atomic<int> active{0};
  std::atomic<int> moviePlaying{0};
  // Bumped whenever a frame is put on the screen (the render pass's present,
  // a movie frame, a CPU frame shown by hand), so the frame loop knows the
  // screen no longer holds the frame it drew last.
  std::atomic<uint32_t> screenShown{0};
  std::atomic<int> minimised{0};
  int fps = 0;
  uint32_t clearColour = 0xFF000000u;
  KivList* searchPaths = nullptr;
  uint32_t timerPeriod = 1;
  char baseFolder[260] = {};

  // Set by KivRun on the window thread and kept until KivUninit, so other
  // threads may read them once the threads have started.
  std::shared_ptr<plat::Thread> gameThread;
  std::shared_ptr<plat::Thread> workerThread;
  std::atomic<std::thread::id> gameThreadId{};
  plat::Event gameStart{true};
  plat::Event workerStart{true};
  // Set once KivRun has stored the thread's handle, which the thread may read.
  plat::Event gameHandleStored{true};
  plat::Event workerHandleStored{true};

  std::atomic<int> liveAllocations{0};
  int loadBufferSize = 0;

  void* glyphFile = nullptr;
  void* exFontAtlas = nullptr;
  KivFontState font;

  int* randomTable = nullptr;
  int randomSize = 0;
  int randomCursor = 0;

  KivInputState input;

  plat::Rect desktop;
  plat::Rect view;

  KivSystemParameters params{};

  KivTaskPool tasks;

  std::atomic<int> transitionRunning{0};
  int effectsEnabled = 1;

  void* statusDialog = nullptr;
  KivTask* debugTask = nullptr;
  // A start (1 sprite, 2 camera) or an end (0) of the debug control task,
  // carried out by the game thread between task walks; -1: none.
  std::atomic<int> debugTaskRequest{-1};

  std::atomic<int> windowChangeEnable{0};

  void* sound = nullptr;
  int errorLog = -1;  // file descriptor of log.txt, -1 when closed
  void* moviePlayer = nullptr;
  std::atomic<int> cursorType{0};  // set on the game thread, applied on the window thread
  std::atomic<uint32_t> frameTime{0};
  std::atomic<KivRenderList*> activeList{nullptr};

  // Frame loop and thread bookkeeping.
  std::atomic<int> gameLoop{0};
  std::atomic<int> gameOutsideLoop{0};  // the game thread does its start or end work
  std::atomic<uint32_t> gameProgress{0};  // moves with each frame and each picture loaded
  std::mutex workerGate;      // held by the worker while it runs a job
  std::atomic<int> workerHeld{0};
  uint32_t lastPacing = 0;    // time after the previous frame's pacing sleep
  bool pacingStarted = false;
  uint32_t fpsFrames = 0;
  uint32_t fpsSince = 0;
};

extern KivSystemState* g_kiv;

// A scripted headless run (core/scripted_frames.cpp).
void KivScriptedRunStart(void);
void KivScriptedCloseAnswered(void);
// A message to the game thread, served as its frame loop serves it.
void KivGameThreadMessage(const plat::Msg& m);

// Shift-JIS copy of a UTF-8 literal (engine text stays code page 932).
const char* KivText(const char* utf8);

// Internal services, in start-up order.
KivRendererSetup KivRendererSetupFrom(const KivSystemParameters& p, plat::Window* window);
void* Kiv3DCreate(const KivRendererSetup& setup);
int Kiv3DCreateSurfaces(void* gpu, int capacity);
// Whether the made GPU context is worth drawing with, with the line that
// says which renderer draws and why: not on a software rasterizer in a
// window (unless KIV_FORCE_GPU); a headless context was asked for and stays.
bool Kiv3DWorthUsing(void* gpu, std::string* why);
void Kiv3DRelease(void);
// The GPU context's CPU surface store, handed to the system record (which
// releases it as it does the software screen).
KivSoftScreen* Kiv3DTakeStore(void* gpu);
// On the game thread after a window request returned: the GPU context
// follows the window's new geometry and restores a lost device.
void Kiv3DFollowWindow(void);
// On the game thread, for a screen-mode request: with a GPU context the
// device's part of the change runs here and hands the window's part to the
// window thread (true); false without one (the window thread does it all).
bool Kiv3DScreenModeRequest(int fullScreen);
// The game thread lets go of the GPU context as it ends.
void Kiv3DGameThreadDone(void);
// A CPU frame (the back buffer of a movie frame or of the text field) shown
// by the GPU context into dst of the window when it presents straight into
// the window, on the game thread; false when the window's own present is
// to show it (no such context, read-back present, another thread). *failed
// tells whether the GPU took the frame but could not present it.
bool Kiv3DShowCpuFrame(const uint32_t* pixels, int width, int height, plat::Rect dst, bool smooth,
                       bool* failed);
int KivEffectInit(void);
void KivEffectUninit(void);
void KivEffectEndSoon(void);  // a screen-mode change: the running transition ends at its next step
int KivInputInit(void);
void KivInputUpdate(void);
void KivInputRelease(void);
extern "C" KIV_API void KivInputClear(void);
int KivSoundInit(void);
void KivSoundUninit(void);
int KivRandomInit(void);
void KivRandomRelease(void);
int KivGeometryInit(void);
bool KivPositionOffScreen(int x, int y);
void KivWindowOnExit(void);
void KivWindowMoveFollowUp(void);
// Window geometry (window_geometry.cpp).
// The display the game uses when no window position chooses one: entry
// `adapter` of the display list, the primary one when there is no such entry.
plat::Rect KivHomeDisplay(int adapter);
void KivCentreOnDisplay(const plat::Rect& display, int width, int height, int* x, int* y);
void KivWindowLoadPos(void);
int KivWindowSavePos(void);
// A message box owned by the window, captioned with the title; the text is
// formatted into 2048 bytes.
int KivErrorBox(uint32_t type, const char* format, ...) __attribute__((format(printf, 2, 3)));
// A library's version: major x 100 + minor; 400 when its DllGetVersion
// fails, -2 when it has none, -1 when it cannot be loaded.
int KivLibraryVersion(const char* file);
int KivApplyScreenMode(int fullScreen);
// Whether a request for that mode changes anything (the engine runs, the
// mode differs, mode changes are allowed).
bool KivScreenModeChanges(int fullScreen);
// The window's part of a mode change, on the window thread (sent there from
// another thread); 1 when the window took the mode.
int KivPlaceScreenModeWindow(int fullScreen);
int KivApplyWindowSize(int width, int height);
int KivApplyAspectMode(int mode);
void KivDebugStart(void);
void KivDebugCloseWindows(void);
void KivDebugLog(const char* cp932);
// debug/control_tasks.cpp: ask for the debug task's start or end (any
// thread), and carry it out (game thread, outside the task walk).
void KivDebugTaskRequest(int which);
void KivDebugTaskService(void);
// debug/debug_views.cpp: draw the debug windows into their views and take
// their input (window thread); ask for that from any thread; close them.
void KivDebugViewsRefresh(void);
void KivDebugViewsSchedule(void);
void KivDebugViewsClose(void);
// ui/text_field.cpp: the text field's share of a window message (window
// thread); true when the field took it. Deletes a text event's payload.
bool KivTextFieldWindowInput(uint32_t message, uintptr_t wParam, intptr_t lParam);
// Draws the shown text field over a frame about to be presented.
void KivTextFieldDraw(uint32_t* pixels, int width, int height);
// Whether a text field is shown (the GPU renderer then presents the CPU
// frame, which carries the field).
bool KivTextFieldShown(void);
// The beep's tone buffer goes before the sound device does.
void KivBeepRelease(void);
void KivCursorReapply(void);  // ui/cursor.cpp
void KivCursorMovieCover(bool covered);  // ui/cursor.cpp: a full-window movie hides the cursor
// ui/cursor.cpp: shows a cursor picture (0-3) without changing the type the
// game set, which the next mouse move or KivCursorShowShape(cursorType) gives back.
void KivCursorShowShape(int type);
void KivMovieStep(void);
void KivMovieStopForRestart(void);
void KivMovieRestart(void);
void KivMovieOnEvent(void);
void KivMovieUninit(void);
void KivMovieSpritesStep(void);
int KivErrorLogOpen(void);
void KivErrorLogClose(void);
void KivLeakReport(void);
int KivFontReleaseAll(void);

// Frame loop pieces (frame_loop.cpp).
uint32_t KivPacingSleepMs(uint32_t frameRate, int pacing, uint32_t elapsed);
void KivPace(void);
int KivFpsCount(void);
void KivGameThreadProc(void);
void KivWorkerThreadProc(void);
void KivHoldWorker(void);
void KivReleaseWorker(void);

// Threads (threads.cpp).
intptr_t KivWindowProc(plat::Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
int KivStopThreads(void);
void KivPumpMessage(void);
bool KivWaitEventPumping(plat::Event* event);
bool KivPostRetry(plat::Thread* thread, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Stops a thread that ignored its stop message where it stands, leaves it
// behind and says so (debug output, error log, stderr).
void KivAbandonThread(const std::shared_ptr<plat::Thread>& t, const char* name);
// Releases the active render list's lock when that thread holds it (a
// thread stopped for good never will).
void KivRenderListsReleaseHeldBy(std::thread::id id);
extern std::atomic<int> g_kivSystemEnd;

// Live-allocation count, for the leak report and tests.
int KivMemoryLive(void);
