// A scripted headless run, frame by frame (the settings and the input
// script's syntax: platform/core/scripted_run.h). On the frame clock every
// frame starts at its own time and the threads beside the game thread work
// in lockstep with the frames: the sound thread makes its pass at the frame's
// start, the worker runs the jobs of a frame at its end, and a close or end
// request is answered before the next frame starts. So the same script gives
// the same frames and the same sound, byte for byte, however loaded the
// machine is, and faster than real time.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "core/system_state.h"
#include "movie/movie.h"
#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/core/scripted_run.h"
#include "platform/input/input.h"
#include "platform/window/messages.h"
#include "platform/window/png_capture.h"
#include "platform/window/window.h"
#include "render/last_frame.h"
#include "sound/sound.h"

extern std::atomic<int> g_kivSystemEnd;

namespace {

struct FrameRun {
  uint32_t frame = 0;        // the frame under way (game thread)
  size_t nextEvent = 0;      // the first input event not applied yet
  size_t nextCapture = 0;    // the first capture frame not reached yet
  bool closePosted = false;  // this frame pressed the close button
  uint32_t closeSeen = 0;    // closeAnswered when it did
  std::atomic<uint32_t> closeAnswered{0};
  // The worker's turn: on the frame clock it runs jobs only while the game
  // thread waits for it at the end of a frame.
  std::mutex turnLock;
  std::condition_variable turnChanged;
  bool turnOpen = true;
};

FrameRun& Run() {
  static FrameRun r;
  return r;
}

void SetTurn(bool open) {
  FrameRun& r = Run();
  {
    std::lock_guard<std::mutex> g(r.turnLock);
    r.turnOpen = open;
  }
  r.turnChanged.notify_all();
}

// The game-screen point (x, y) as a screen point of the window's client area
// (the inverse of the engine's mouse mapping, rounded so it maps back).
plat::Point ScreenPointOf(KivSystemState* s, int x, int y) {
  const KivSystemParameters& p = s->params;
  auto axis = [](int v, int span, int logical) {
    if (span <= 0 || logical <= 0) return v;
    int64_t n = static_cast<int64_t>(v) * span;
    return static_cast<int>(n >= 0 ? (n + logical - 1) / logical : n / logical);
  };
  int cx, cy;
  if (p.fullScreen) {
    cx = s->view.left + axis(x, s->view.width(), p.screenWidth);
    cy = s->view.top + axis(y, s->view.height(), p.screenHeight);
  } else {
    cx = axis(x, p.clientWidth, p.screenWidth);
    cy = axis(y, p.clientHeight, p.screenHeight);
  }
  plat::Rect client{};
  if (s->window && s->window->Alive()) client = s->window->backend()->ClientRectOnScreen();
  return plat::Point{client.left + cx, client.top + cy};
}

void ApplyEvents(KivSystemState* s, FrameRun& r) {
  const auto& events = plat::ScriptedRunSettings().events;
  while (r.nextEvent < events.size() && events[r.nextEvent].frame <= r.frame) {
    const plat::ScriptedEvent& e = events[r.nextEvent++];
    switch (e.kind) {
      case plat::ScriptedEvent::kKey:
      case plat::ScriptedEvent::kMouseButton:
        plat::HeadlessSetKey(e.code, e.down);
        break;
      case plat::ScriptedEvent::kMouseMove: {
        plat::Point at = ScreenPointOf(s, e.x, e.y);
        plat::HeadlessSetCursor(at.x, at.y);
        break;
      }
      case plat::ScriptedEvent::kClose:
        if (s->window && s->window->Alive()) {
          r.closeSeen = r.closeAnswered.load();
          r.closePosted = s->window->Post(plat::kMsgClose, 0, 0);
        }
        break;
    }
  }
}

// Serves the game thread's messages until the end's stop message has come,
// or `done` says the wait is over.
template <class Done>
void ServeUntil(KivSystemState* s, Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (s->gameLoop.load() && !done()) {
    plat::Msg m;
    bool any = false;
    while (plat::PeekMessage(&m, true)) {
      any = true;
      if (!m.window) KivGameThreadMessage(m);
    }
    if (!s->gameLoop.load() || done()) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      plat::DebugOutput("scripted run: no answer from the window within 60 s\n");
      break;
    }
    if (!any) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// The last fence the worker has reached (fences are numbered by frame).
std::atomic<intptr_t> g_fenceReached{0};
void WorkerFenceDone(intptr_t arg) { g_fenceReached.store(arg); }

// The jobs this frame gave the worker run now, in order, while we wait.
void RunWorkerJobs(KivSystemState* s, uint32_t frame) {
  if (!s->workerThread) return;
  SetTurn(true);
  const intptr_t fence = static_cast<intptr_t>(frame);
  if (KivAttachWorkProcess(WorkerFenceDone, fence)) ServeUntil(s, [fence] { return g_fenceReached.load() >= fence; });
  SetTurn(false);
}

// A full-window movie's end goes through the window thread: on the frame
// clock it is handled now, not whenever that thread gets to it.
void SettleMovieEvents(KivSystemState* s) {
  if (!plat::FrameClockOn() || KivVideoEventsServed()) return;
  ServeUntil(s, [] { return KivVideoEventsServed(); });
  KivVideoEventsForget();  // waited for once, however it ended
}

}  // namespace

void KivScriptedRunStart(void) {
  const plat::ScriptedRun& run = plat::ScriptedRunSettings();
  if (!run.error.empty()) {
    // A test facility the caller asked for and cannot have: say so and stop,
    // rather than run something else than was asked.
    std::fprintf(stderr, "scripted run: %s\n", run.error.c_str());
    std::fflush(stderr);
    std::_Exit(2);
  }
  if (run.frameClock) plat::UseFrameClock(true);
}

void KivScriptedFrameBegin(void) {
  KivSystemState* s = g_kiv;
  FrameRun& r = Run();
  ++r.frame;
  plat::SetScriptedFrameNumber(r.frame);  // the game's state dumps count by it
  r.closePosted = false;
  if (plat::FrameClockOn()) {
    SetTurn(false);
    KivSoundFrameDrain();
    plat::SetFrameClockTime(plat::FrameClockTimeOf(r.frame));
    s->frameTime.store(plat::TimeGetMs());
    KivSoundFrameTick();
  }
  ApplyEvents(s, r);
}

// A movie the player's key or click ended in this step: the game sees it
// ended in this frame, never a frame later because that thread was slow.
void KivScriptedMovieStepped(void) { SettleMovieEvents(g_kiv); }

void KivScriptedFrameEnd(void) {
  KivSystemState* s = g_kiv;
  FrameRun& r = Run();
  const plat::ScriptedRun& run = plat::ScriptedRunSettings();
  while (r.nextCapture < run.captureFrames.size() && run.captureFrames[r.nextCapture] < r.frame) ++r.nextCapture;
  if (r.nextCapture < run.captureFrames.size() && run.captureFrames[r.nextCapture] == r.frame) {
    ++r.nextCapture;
    KivFrameView f;
    const std::string path = plat::CaptureFramePath(run.captureDir, r.frame);
    if (!KivLastFrameRead(&f) || !plat::CapturePng(path, f.pixels, f.width, f.height, f.pitch)) {
      std::fprintf(stderr, "scripted run: frame %u could not be written to %s\n", r.frame, path.c_str());
      std::fflush(stderr);
    }
  }
  if (plat::FrameClockOn()) {
    RunWorkerJobs(s, r.frame);
    SettleMovieEvents(s);  // one posted later in the frame: before the next
  }
  if (r.closePosted) {
    // The window asks its question (a box, answered from the script) and
    // either ends the game or not; the next frame waits for the answer.
    ServeUntil(s, [&r] { return r.closeAnswered.load() != r.closeSeen; });
  }
  if (run.runFrames && r.frame >= run.runFrames && s->window && !s->ending.load()) {
    // The end, as a termination signal brings it: in order, no question.
    if (s->window->Post(plat::kMsgEndSession, 0, 0)) ServeUntil(s, [] { return false; });
  }
}

void KivScriptedCloseAnswered(void) { Run().closeAnswered.fetch_add(1); }

void KivScriptedWorkerTurn(void) {
  if (!plat::FrameClockOn()) return;
  FrameRun& r = Run();
  std::unique_lock<std::mutex> w(r.turnLock);
  while (!r.turnOpen && !g_kivSystemEnd.load())
    r.turnChanged.wait_for(w, std::chrono::milliseconds(20));
}
