// A movie's sound in the engine's mixer: a looping streamed buffer used as a
// ring. The decoder appends samples as it decodes; the play cursor follows.
// Every byte of the ring outside [played, written) is kept silent, so when
// the cursor catches up with the data (the decoder is late, or the movie
// ended) it plays silence, never old sound; the stream then stops, holds its
// place and starts again once enough new sound is buffered.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "core/system_state.h"
#include "movie/movie_audio.h"
#include "platform/audio/audio.h"
#include "sound/sound.h"

namespace {

constexpr int kRingMs = 2000;
// Sound buffered before the stream starts (and after it ran dry).
constexpr int kLeadMs = 80;

}  // namespace

struct KivMovieAudioStream {
  std::mutex cs;
  plat::AudioDevice* device = nullptr;  // the sound device the buffer lives in
  plat::AudioBuffer* buffer = nullptr;
  uint32_t ring = 0, block = 0, lead = 0;  // bytes
  uint64_t written = 0, played = 0;        // bytes since the start, unwrapped
  uint32_t cursor = 0;                     // the buffer's cursor at the last look
  bool running = false;                    // the movie runs
  bool started = false;                    // the buffer plays
};

namespace {

// The buffer, unless the sound device it lived in has gone (its buffers went
// with it). Lock held.
plat::AudioBuffer* Buffer(KivMovieAudioStream* s) {
  if (s->buffer && KivSoundDevice() != s->device) s->buffer = nullptr;
  return s->buffer;
}

// Writes n bytes of src (null: silence) at ring offset `at`.
void Put(plat::AudioBuffer* b, uint32_t at, const uint8_t* src, uint32_t n) {
  uint8_t *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  if (!n || !b->Lock(at, n, &p1, &n1, &p2, &n2)) return;
  if (src) {
    std::memcpy(p1, src, n1);
    if (p2) std::memcpy(p2, src + n1, n2);
  } else {
    std::memset(p1, 0, n1);
    if (p2) std::memset(p2, 0, n2);
  }
  b->Unlock();
}

// Follows the play cursor: what it passed is silenced; once it has passed
// all the data, the buffer stops where the data ends. Lock held.
void Follow(KivMovieAudioStream* s, plat::AudioBuffer* b) {
  if (!s->started) return;
  const uint32_t now = b->CurrentPosition();
  const uint32_t moved = (now + s->ring - s->cursor) % s->ring;
  s->cursor = now;
  if (moved) Put(b, static_cast<uint32_t>(s->played % s->ring), nullptr, moved);
  s->played += moved;
  if (s->played >= s->written) {
    b->Stop();
    s->started = false;
    s->played = s->written;
    s->cursor = static_cast<uint32_t>(s->written % s->ring);
    b->SetCurrentPosition(s->cursor);
  }
}

// Starts the buffer when the movie runs and enough sound waits. Lock held.
void Start(KivMovieAudioStream* s, plat::AudioBuffer* b) {
  if (s->started || !s->running || s->written - s->played < s->lead) return;
  s->cursor = static_cast<uint32_t>(s->played % s->ring);
  b->SetCurrentPosition(s->cursor);
  b->Play(true);
  s->started = true;
}

void Hold(KivMovieAudioStream* s, plat::AudioBuffer* b) {
  if (!s->started) return;
  Follow(s, b);
  if (!s->started) return;
  b->Stop();
  s->started = false;
  // Whatever the cursor passed since the last look is behind it now.
  const uint32_t now = b->CurrentPosition();
  const uint32_t moved = (now + s->ring - s->cursor) % s->ring;
  if (moved) Put(b, static_cast<uint32_t>(s->played % s->ring), nullptr, moved);
  s->played = std::min(s->written, s->played + moved);
  s->cursor = static_cast<uint32_t>(s->played % s->ring);
}

}  // namespace

KivMovieAudioStream* KivMovieSoundOpen(int rate, int channels, int volumeGroup) {
  plat::AudioDevice* device = KivSoundDevice();
  if (!device) return nullptr;
  const plat::AudioFormat format{channels, rate, 16};
  if (!format.Valid()) return nullptr;
  const uint32_t block = static_cast<uint32_t>(format.BlockAlign());
  const uint32_t perMs = static_cast<uint32_t>(rate) * block;  // bytes per second
  const uint32_t ring = perMs * kRingMs / 1000 / block * block;
  const uint32_t flags = (g_kiv && (g_kiv->params.mode & KIV_MODE_RUN_INACTIVE)) ? plat::kBufferGlobalFocus : 0;
  plat::AudioBuffer* b = device->mixer().CreateBuffer(format, ring, flags);
  if (!b) return nullptr;
  b->SetVolume(KivVolumeToDecibels(KivSoundGroupVolume(volumeGroup)));
  auto* s = new (std::nothrow) KivMovieAudioStream();
  if (!s) {
    b->Release();
    return nullptr;
  }
  s->device = device;
  s->buffer = b;
  s->ring = ring;
  s->block = block;
  s->lead = perMs * kLeadMs / 1000 / block * block;
  return s;
}

void KivMovieSoundWrite(KivMovieAudioStream* s, const int16_t* samples, int frames) {
  if (!s || !samples || frames <= 0) return;
  std::lock_guard<std::mutex> hold(s->cs);
  plat::AudioBuffer* b = Buffer(s);
  if (!b) return;
  Follow(s, b);
  // Sound more than a ring ahead of the cursor has no room: it is dropped.
  const uint64_t room = s->ring - (s->written - s->played);
  const uint64_t bytes = std::min<uint64_t>(room, static_cast<uint64_t>(frames) * s->block);
  Put(b, static_cast<uint32_t>(s->written % s->ring), reinterpret_cast<const uint8_t*>(samples),
      static_cast<uint32_t>(bytes));
  s->written += bytes;
  Start(s, b);
}

void KivMovieSoundTend(KivMovieAudioStream* s, int running) {
  if (!s) return;
  std::lock_guard<std::mutex> hold(s->cs);
  plat::AudioBuffer* b = Buffer(s);
  if (!b) return;
  s->running = running != 0;
  if (s->running) {
    Follow(s, b);
    Start(s, b);
  } else {
    Hold(s, b);
  }
}

void KivMovieSoundFlush(KivMovieAudioStream* s) {
  if (!s) return;
  std::lock_guard<std::mutex> hold(s->cs);
  plat::AudioBuffer* b = Buffer(s);
  if (!b) return;
  b->Stop();
  s->started = false;
  Put(b, 0, nullptr, s->ring);
  s->written = s->played = 0;
  s->cursor = 0;
  b->SetCurrentPosition(0);
}

void KivMovieSoundClose(KivMovieAudioStream* s) {
  if (!s) return;
  {
    std::lock_guard<std::mutex> hold(s->cs);
    if (plat::AudioBuffer* b = Buffer(s)) {
      b->Stop();
      b->Release();
    }
    s->buffer = nullptr;
  }
  delete s;
}
