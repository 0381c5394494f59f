// Movie sprites: a sprite whose pixels are the frames of a movie. The
// decoder is asked for the frame due on the engine's clock once a frame on
// the game thread, and the newest whole frame is copied into the sprite's
// surface there, so the render pass never sees half a frame.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "movie/movie.h"
#include "platform/core/clock.h"
#include "platform/window/messages.h"
#include "platform/core/error.h"
#include "render/soft_screen.h"
#include "sprite/sprite.h"
#include "task/render_list.h"

namespace {

// Every live movie sprite, for the frame step.
std::mutex g_moviesLock;
std::vector<KivMovie*> g_movies;

template <typename T>
T Fail(T value) {
  plat::SetLastError(plat::kErrorInvalidHandle);
  return value;
}

// The frame time the clock runs on: the stream's, or 25 frames a second
// when the stream gives none.
int64_t Pace(const KivMovie* m) { return m->frameTime > 0 ? m->frameTime : 400000; }

int64_t FrameDue(const KivMovie* m, uint32_t now) {
  const uint32_t elapsed = now - m->startMs;
  return m->startFrame + static_cast<int64_t>(elapsed) * 10000 / Pace(m);
}

void SetState(KivMovie* m, uint32_t value) {
  m->state.store((m->state.load() & kKivMovieBit31) | value);
}

uint32_t Running(const KivMovie* m) { return (m->state.load() & ~kKivMovieBit31) == kKivMoviePlaying; }

// The current frame into the sprite, unless the movie is locked or the
// surface cannot hold the movie's size (a frame of another size is
// dropped). The GPU renderer's surfaces are powers of two: the frame fills
// their top-left corner, rows a surface width apart.
void Present(KivMovie* m) {
  if (!m->graph || m->lock.load() || !m->sprite) return;
  const int64_t index = m->graph->CurrentIndex();
  if (index < 0 || index == m->shown) return;
  int w = 0, h = 0;
  auto* surface = static_cast<KivSoftSurface*>(m->sprite->surface);
  uint32_t* px = KivSoftSurfacePixelsToMark(surface, &w, &h);
  const bool fits = (w == m->videoWidth && h == m->videoHeight) ||
                    (w == KivPowerOfTwo(m->videoWidth) && h == KivPowerOfTwo(m->videoHeight));
  if (!px || !fits) return;
  // The frame's corner alone changed: a texture of the padded surface takes
  // just that.
  const bool copied = m->graph->CopyFrame(px, w);
  KivSoftSurfaceTouchCorner(surface->entry, m->videoWidth, m->videoHeight);
  if (copied) m->shown = index;
}

// One step of a running movie, with m->cs held.
void Step(KivMovie* m) {
  if (!m->graph) return;
  if (Running(m)) KivMpegHandleEvents(m);
  KivMovieAudioTend(&m->tap, Running(m));
  Present(m);
}

KivMovie* MovieOf(const KivSprite* s) { return static_cast<KivMovie*>(s->movie); }

}  // namespace

// ------------------------------------------------------------ graph

int KivMovieBuildGraph(KivMovie* m, const char* name) {
  plat::DebugOutput("KivMovieBuildGraph\n");
  m->tap.volumeGroup = 3;
  m->graph = KivMovieOpenDecoder(name, &m->file, &m->tap, "Mpeg");
  if (!m->graph) return 0;
  const plat::MovieInfo& info = m->graph->Info();
  m->videoWidth = info.width;
  m->videoHeight = info.height;
  m->frameTime = info.frameTime;
  m->frameCount = info.frameTime > 0 ? info.duration / info.frameTime : 0;
  m->loopFrame = 0;
  // A stream without one decodable frame is no movie.
  if (m->graph->Advance(0) <= 0) {
    plat::DebugOutput("KivMovieBuildGraph : no frame\n");
    return 0;
  }
  plat::DebugOutput("KivMovieBuildGraph End\n");
  return 1;
}

// The end of a running movie: with the loop flag back to the loop frame,
// else stopped at its last frame (state 6). 1 while it runs on.
int KivMpegHandleEvents(KivMovie* m) {
  const uint32_t now = plat::TimeGetMs();
  int r = m->graph->Advance(FrameDue(m, now));
  if (r > 0) return 1;
  if (r == 0 && m->loop) {
    // The sound starts again with the picture.
    KivMovieAudioFlush(&m->tap);
    m->startFrame = m->loopFrame;
    m->startMs = now;
    if (m->graph->Advance(m->loopFrame) > 0) return 1;
  }
  // The end, or a stream that cannot be decoded further.
  m->position = std::max<int64_t>(0, m->graph->CurrentIndex());
  SetState(m, kKivMovieFinished);
  return 0;
}

int KivMpegRun(KivMovie* m) {
  // Playing again runs from where the movie stands.
  m->startFrame = m->position;
  m->startMs = plat::TimeGetMs();
  SetState(m, kKivMoviePlaying);
  if (m->graph) m->graph->Advance(m->startFrame);
  KivMovieAudioTend(&m->tap, true);
  return 1;
}

int KivMpegStop(KivMovie* m) {
  if (!Running(m)) return 1;
  plat::DebugOutput("Mpeg Stop\n");
  m->position = m->graph ? std::max<int64_t>(0, m->graph->CurrentIndex()) : 0;
  SetState(m, kKivMovieStopped);
  KivMovieAudioTend(&m->tap, false);
  return 1;
}

void MpegRelease(void* movie) {
  auto* m = static_cast<KivMovie*>(movie);
  if (!m) return;
  plat::DebugOutput("MpegRelease\n");
  {
    std::lock_guard<std::mutex> hold(g_moviesLock);
    g_movies.erase(std::remove(g_movies.begin(), g_movies.end(), m), g_movies.end());
  }
  {
    std::lock_guard<std::mutex> hold(m->cs);
    KivMpegStop(m);
    plat::DebugOutput("MpegRelease 0\n");
    KivMovieCloseDecoder(&m->graph, &m->file, &m->tap);
  }
  m->~KivMovie();
  KivMemoryFree(m);
  plat::DebugOutput("MpegRelease End\n");
}

void KivMovieSpritesStep(void) {
  std::lock_guard<std::mutex> hold(g_moviesLock);
  for (KivMovie* m : g_movies) {
    std::lock_guard<std::mutex> one(m->cs);
    Step(m);
  }
}

int KivMSpriteDrawProc(void* core, void* object) {
  auto* s = static_cast<KivSprite*>(object);
  if (!s) return Fail(0);
  if (KivMovie* m = MovieOf(s)) {
    std::lock_guard<std::mutex> hold(m->cs);
    Step(m);
  }
  if (!s->visible) return 1;
  return KivSpriteDraw(core, s);
}

// ------------------------------------------------------------ exports

extern "C" KIV_API KivSprite* KivMSpriteLoad(KivRenderList* list, const char* file, int priority) {
  if (!list) return Fail<KivSprite*>(nullptr);
  KivSoftScreen* screen = KivSpriteSoftScreen();
  if (!file || !screen) return Fail<KivSprite*>(nullptr);
  void* block = KivMemoryAlloc(sizeof(KivMovie), 1);
  if (!block) return nullptr;
  auto* m = new (block) KivMovie{};
  if (!KivMovieBuildGraph(m, file)) {
    MpegRelease(m);
    return nullptr;
  }
  KivSprite* s = KivSpriteAllocate(priority);
  KivSoftSurface* surface = s ? KivSoftSurfaceCreate(screen, m->videoWidth, m->videoHeight) : nullptr;
  if (!surface) {
    if (s) KivSpriteFree(s);
    MpegRelease(m);
    return nullptr;
  }
  s->surface = surface;
  s->width = s->cellWidth = m->videoWidth;
  s->height = s->cellHeight = m->videoHeight;
  s->rect = KivRect{0, 0, m->videoWidth, m->videoHeight};
  s->movie = m;
  m->sprite = s;
  // The first frame is in the sprite before it is ever drawn.
  Present(m);
  if (!KivRenderInsert(list, s, KivMSpriteDrawProc, priority)) {
    KivSpriteFree(s);  // releases the movie too
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(g_moviesLock);
  g_movies.push_back(m);
  return s;
}

extern "C" KIV_API int KivMSpritePlay(KivSprite* s, int loop) {
  if (!s) return Fail(0);
  KivMovie* m = MovieOf(s);
  if (!m) return 1;
  std::lock_guard<std::mutex> hold(m->cs);
  m->loop = loop;
  return KivMpegRun(m);
}

extern "C" KIV_API int KivMSpriteStop(KivSprite* s) {
  if (!s) return Fail(0);
  KivMovie* m = MovieOf(s);
  if (!m) return 1;
  std::lock_guard<std::mutex> hold(m->cs);
  return KivMpegStop(m);
}

extern "C" KIV_API int KivMSpritePause(KivSprite* s) {
  if (!s) return Fail(0);
  return 1;
}

extern "C" KIV_API int KivMSpriteSetLoop(KivSprite* s, int loop) {
  if (!s) return Fail(0);
  KivMovie* m = MovieOf(s);
  if (!m) return 0;
  std::lock_guard<std::mutex> hold(m->cs);
  m->loop = loop;
  return 1;
}

extern "C" KIV_API int KivMSpriteIsLoop(KivSprite* s) {
  if (!s) return Fail(0);
  KivMovie* m = MovieOf(s);
  return m ? static_cast<int>(m->state.load() & kKivMovieBit31) : 0;
}

extern "C" KIV_API int KivMSpriteGetState(KivSprite* s) {
  if (!s) return Fail(0);
  KivMovie* m = MovieOf(s);
  return m ? static_cast<int>(m->state.load()) : 0;
}

extern "C" KIV_API int KivMSpriteLock(KivSprite* s) {
  if (!s) return Fail(0);
  KivMovie* m = MovieOf(s);
  if (!m) return 0;
  m->lock.store(1);
  return 1;
}

extern "C" KIV_API int KivMSpriteUnlock(KivSprite* s) {
  if (!s) return Fail(0);
  KivMovie* m = MovieOf(s);
  if (!m) return 0;
  m->lock.store(0);
  return 1;
}

extern "C" KIV_API void* KivMSpriteCheck(KivSprite* s) {
  if (!s) return Fail<void*>(nullptr);
  return s->movie;
}
