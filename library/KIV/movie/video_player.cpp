// Full-window movies. The game thread shows the frame due now in the whole
// back buffer (stretched) and presents it, so it lands in the client area,
// or in the aspect rectangle in full screen, while the render pass draws
// nothing. The end and a user abort are events handled on the window
// thread (message WM_APP+0x64); one lock keeps the window thread's close
// and restart apart from the game thread's step.
#include <atomic>
#include <cstring>
#include <deque>

#include "core/system_state.h"
#include "movie/movie.h"
#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/window/messages.h"
#include "render/soft_screen.h"

namespace {

enum VideoEvent { kEcComplete = 1, kEcUserAbort = 2, kEcErrorAbort = 3 };

struct KivVideoPlayer {
  std::mutex cs;
  std::unique_ptr<plat::MovieDecoder> graph;
  intptr_t file = -1;
  KivMovieAudioTap tap{nullptr, 2};
  int64_t current = 0, stop = 0;  // positions, 100 ns units
  char name[272] = {};
  int64_t frameTime = 0;
  uint32_t startMs = 0;
  int64_t startFrame = 0;
  std::deque<int> events;
  bool ending = false;  // an end event is on its way to the window thread
};

KivVideoPlayer g_player;

int64_t Pace(const KivVideoPlayer& p) { return p.frameTime > 0 ? p.frameTime : 400000; }

const char* EventName(int code) {
  switch (code) {
    case kEcComplete: return "EC_COMPLETE";
    case kEcUserAbort: return "EC_USERABORT";
    default: return "EC_ERRORABORT";
  }
}

void ClosePlayer(KivVideoPlayer& p) { KivMovieCloseDecoder(&p.graph, &p.file, &p.tap); }

// Opens the player's movie, up to 11 tries 100 ms apart. Lock held.
bool OpenPlayer(KivVideoPlayer& p) {
  for (int attempt = 0; attempt < 11; ++attempt) {
    if (attempt) plat::Sleep(100);
    bool refused = false;
    p.graph = KivMovieOpenDecoder(p.name, &p.file, &p.tap, "Video", &refused);
    if (refused) return false;  // too large: no second try
    if (p.graph && p.graph->Advance(0) <= 0) ClosePlayer(p);  // not one decodable frame
    if (p.graph) {
      p.frameTime = p.graph->Info().frameTime;
      return true;
    }
  }
  return false;
}

// Ends and aborts posted to the window thread, and those it has handled.
std::atomic<uint32_t> g_eventsPosted{0}, g_eventsServed{0};

// Queues an event for the window thread. Lock held.
void Notify(KivVideoPlayer& p, int code) {
  if (p.ending) return;
  p.ending = true;
  p.events.push_back(code);
  if (!g_kiv || !g_kiv->window) return;
  // Counted before the post: the window thread may handle it at once.
  g_eventsPosted.fetch_add(1);
  if (!g_kiv->window->Post(plat::kMsgApp + 0x64, 0, 0)) g_eventsPosted.fetch_sub(1);
}

void Start(KivVideoPlayer& p, int64_t frame) {
  p.startFrame = frame;
  p.startMs = plat::TimeGetMs();
  p.ending = false;
  p.graph->Advance(frame);
}

}  // namespace

extern "C" KIV_API int KivVideoPlay(const char* file) {
  KivSystemState* s = g_kiv;
  if (!s || !file) return 0;
  KivVideoPlayer& p = g_player;
  std::lock_guard<std::mutex> hold(p.cs);
  // A second movie while one plays is refused: the first keeps its player.
  if (s->moviePlaying.load() || p.graph) return 0;
  if (std::strlen(file) >= sizeof p.name) return 0;
  p.current = p.stop = 0;
  std::strcpy(p.name, file);
  p.events.clear();
  if (!OpenPlayer(p)) return 0;
  Start(p, 0);
  s->moviePlayer = &p;
  s->moviePlaying.store(1);
  KivCursorMovieCover(true);
  if (s->window) s->window->Post(plat::kMsgApp + 0x65, 0, 6);
  return 1;
}

void KivVideoStep(void) {
  KivSystemState* s = g_kiv;
  KivVideoPlayer& p = g_player;
  std::lock_guard<std::mutex> hold(p.cs);
  if (!p.graph) return;
  if (p.ending) {
    KivMovieAudioTend(&p.tap, false);
    return;
  }
  const int64_t due = p.startFrame + static_cast<int64_t>(plat::TimeGetMs() - p.startMs) * 10000 / Pace(p);
  const int r = p.graph->Advance(due);
  if (p.graph->CurrentIndex() > 0) p.current = p.graph->CurrentIndex() * Pace(p);
  if (p.graph->Info().duration > 0) p.stop = p.graph->Info().duration;
  if (KivInputGetKeyPush() & (1 | 1 << 24)) {
    KivMovieAudioTend(&p.tap, false);
    Notify(p, kEcUserAbort);
    return;
  }
  if (r <= 0) {
    KivMovieAudioTend(&p.tap, false);
    Notify(p, r == 0 ? kEcComplete : kEcErrorAbort);
    return;
  }
  KivMovieAudioTend(&p.tap, true);
  KivSoftScreen* screen = s ? s->soft : nullptr;
  // With the GPU renderer the screen is its CPU store: the frame is shown
  // the same way, by KivSoftPresent (the window's present, or the GPU
  // context drawing it when it presents straight into the window: this is
  // the game thread).
  if (!screen || !screen->backBuffer) return;
  KivSoftBeginClear(screen, 0);
  KivSoftResolve(screen);
  p.graph->CopyFrameScaled(screen->backBuffer, screen->width, screen->height, screen->width);
  KivSoftPresent(screen);
}

bool KivVideoEventsServed(void) { return g_eventsServed.load() >= g_eventsPosted.load(); }

void KivVideoEventsForget(void) { g_eventsServed.store(g_eventsPosted.load()); }

void KivVideoOnEvent(void) {
  KivVideoPlayer& p = g_player;
  // Each message drains every event queued before it.
  const uint32_t posted = g_eventsPosted.load();
  struct Served {
    uint32_t n;
    ~Served() {
      uint32_t was = g_eventsServed.load();
      while (was < n && !g_eventsServed.compare_exchange_weak(was, n)) {
      }
    }
  } served{posted};
  for (;;) {
    int code;
    {
      std::lock_guard<std::mutex> hold(p.cs);
      if (p.events.empty()) break;
      code = p.events.front();
      p.events.pop_front();
    }
    plat::DebugOutput(std::string(EventName(code)) + ": \n");
    if (code == kEcComplete || code == kEcUserAbort) {
      KivVideoClose(0);
      return;
    }
    KivVideoClose(1);
    KivVideoRestart();
  }
  plat::Sleep(1);
}

int KivVideoClose(int playing) {
  KivVideoPlayer& p = g_player;
  std::lock_guard<std::mutex> hold(p.cs);
  ClosePlayer(p);
  if (!playing) p.events.clear();
  p.ending = false;
  if (g_kiv) {
    const bool ended = !playing && g_kiv->moviePlayer;
    g_kiv->moviePlaying.store(playing);
    if (!playing) g_kiv->moviePlayer = nullptr;
    if (ended) KivCursorMovieCover(false);
  }
  return 1;
}

int KivVideoRestart(void) {
  KivVideoPlayer& p = g_player;
  std::lock_guard<std::mutex> hold(p.cs);
  if (!p.graph && !OpenPlayer(p)) {
    // Nothing to play: the movie ends instead of leaving the game frozen.
    if (g_kiv) {
      g_kiv->moviePlaying.store(0);
      g_kiv->moviePlayer = nullptr;
      KivCursorMovieCover(false);
    }
    return 0;
  }
  Start(p, p.current > 0 ? p.current / Pace(p) : 0);
  if (g_kiv) g_kiv->moviePlaying.store(1);
  return 1;
}

// ------------------------------------------------------------ engine hooks

void KivMovieStep(void) { KivVideoStep(); }

void KivMovieStopForRestart(void) {
  if (g_kiv && g_kiv->moviePlaying.load()) KivVideoClose(1);
}

void KivMovieRestart(void) {
  if (g_kiv && g_kiv->moviePlaying.load()) KivVideoRestart();
}

void KivMovieOnEvent(void) { KivVideoOnEvent(); }

void KivMovieUninit(void) {
  KivVideoPlayer& p = g_player;
  std::lock_guard<std::mutex> hold(p.cs);
  ClosePlayer(p);
  p.events.clear();
  p.ending = false;
}
