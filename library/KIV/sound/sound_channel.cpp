// A channel's work on the sound thread: filling stream halves from the
// source, the request transitions and the fade steps.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "platform/audio/audio.h"
#include "platform/core/file.h"
#include "sound/sound.h"

std::atomic<int> g_kivSoundLastOp{0};

namespace {

bool IsStream(const KivSoundChannel& ch) { return ch.type == 0 || ch.type == 2; }

size_t ReadSource(KivSoundChannel& ch, uint8_t* out, size_t n) {
  if (ch.ogg) return ch.ogg_source ? KivOggDecode(ch.ogg_source, out, n) : 0;
  if (ch.file == plat::kInvalidFile || ch.position < 0) return 0;
  if (plat::FileSeek(ch.file, ch.position, plat::kFileBegin) < 0) return 0;
  size_t got = 0;
  if (!plat::FileRead(ch.file, out, n, &got)) return 0;
  return got;
}

void SeekSource(KivSoundChannel& ch, int64_t to) {
  ch.position = to;
  if (ch.ogg && ch.ogg_source) KivOggSeekBytes(ch.ogg_source, to - ch.dataFloor);
}

// One locked region read to its full length from the current position.
// Looping streams (music with loop set, and raw PCM sound files, which
// always loop) continue from the loop start without a gap, as often as the
// piece needs; a non-looping stream marks itself ended and leaves the rest
// of the piece silent.
// The same for a source that is not in the stream format: source frames are
// read in slices and converted; the converter's output is taken first. A
// loop wrap goes on through the same converter (no seam); the end of a
// non-looping stream lets the resampler's tail out before the stream ends.
void FillConverted(KivSoundChannel& ch, uint8_t* p, size_t n) {
  constexpr size_t kSliceFrames = 4096;
  const int block = ch.srcBlock > 0 ? ch.srcBlock : 4;
  std::vector<uint8_t> slice;
  size_t filled = 0;
  int wraps = 0;
  while (filled < n) {
    filled += KivSoundConverterTake(ch.convert, p + filled, n - filled);
    if (filled >= n) break;
    if (ch.position < ch.end) {
      int64_t want = std::min<int64_t>(static_cast<int64_t>(kSliceFrames) * block, ch.end - ch.position);
      want -= want % block;
      if (want <= 0) {
        ch.position = ch.end;
        continue;
      }
      slice.resize(static_cast<size_t>(want));
      size_t got = ReadSource(ch, slice.data(), slice.size());
      ch.position += static_cast<int64_t>(got);
      if (got == 0) ch.position = ch.end;
      got -= got % block;
      KivSoundConverterPush(ch.convert, slice.data(), got);
      continue;
    }
    if (ch.type == 2 && !ch.loop) {
      if (!KivSoundConverterFlushed(ch.convert)) {
        KivSoundConverterFlush(ch.convert);
        continue;
      }
      ch.ended = 1;
      break;
    }
    if (ch.loopStart >= ch.end || ++wraps > 64) break;
    SeekSource(ch, ch.loopStart);
  }
}

void FillPiece(KivSoundChannel& ch, uint8_t* p, size_t n) {
  if (ch.convert) {
    FillConverted(ch, p, n);
    return;
  }
  size_t filled = 0;
  int wraps = 0;
  while (filled < n) {
    if (ch.position < ch.end) {
      const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n - filled), ch.end - ch.position));
      const size_t got = ReadSource(ch, p + filled, want);
      ch.position += static_cast<int64_t>(got);
      filled += got;
      if (got == 0) ch.position = ch.end;  // the source has no more
      continue;
    }
    if (!IsStream(ch)) break;
    if (ch.type == 2 && !ch.loop) {
      ch.ended = 1;
      break;
    }
    // A loop that gives nothing would spin: stop after a bounded number.
    if (ch.loopStart >= ch.end || ++wraps > 64) break;
    SeekSource(ch, ch.loopStart);
  }
}

void LockedFill(KivSoundChannel& ch, uint32_t offset, uint32_t bytes, bool fill, uint32_t zeroHead) {
  uint8_t *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  if (!ch.buffer || !ch.buffer->Lock(offset, bytes, &p1, &n1, &p2, &n2)) return;
  for (auto [p, n] : {std::pair{p1, n1}, std::pair{p2, n2}}) {
    if (!p || !n) continue;
    std::memset(p, 0, n);
    if (fill) FillPiece(ch, p, n);
    if (zeroHead) std::memset(p, 0, std::min(n, zeroHead));
  }
  ch.buffer->Unlock();
}

void ClearHalf(KivSoundChannel& ch, int half) { LockedFill(ch, half * kKivStreamHalf, kKivStreamHalf, false, 0); }

void StopTransition(KivSoundChannel& ch) {
  if (ch.buffer) ch.buffer->Stop(true);
  if (ch.type == 2) {
    ClearHalf(ch, 0);
    ClearHalf(ch, 1);
  } else if (ch.type == 0) {
    ch.position = ch.loopStart;
  }
  ch.playing = 0;
  ch.fade = 0;
  int expected = 0;
  g_kivSoundLastOp.compare_exchange_strong(expected, kSndStop);
  ch.state = kSndStopped;
}

void PlayTransition(KivSoundChannel& ch, uint32_t frameTime) {
  if (!ch.buffer) return;
  ch.buffer->Stop(true);
  ch.paused = 0;
  if (ch.type == 2) SeekSource(ch, ch.dataStart);
  if (ch.convert) KivSoundConverterReset(ch.convert);
  if (IsStream(ch)) KivSoundStreamFillAll(ch);
  ch.buffer->SetCurrentPosition(0);
  ch.buffer->Play(ch.loop || IsStream(ch));
  ch.playing = 1;
  ch.ended = 0;
  ch.drain = 0;
  ch.fadeStart = frameTime;
  g_kivSoundLastOp.store(kSndPlay);
  ch.state = kSndPlaying;
}

void SetBufferVolume(KivSoundChannel& ch, int volume) {
  if (ch.buffer) ch.buffer->SetVolume(KivVolumeToDecibels(volume));
}

void FadeStep(KivSoundChannel& ch, uint32_t frameTime) {
  const int e = KivSoundEffectiveVolume(ch);
  const uint32_t elapsed = frameTime - ch.fadeStart;
  if (ch.fade == 1) {
    if (elapsed < ch.fadeLength) {
      SetBufferVolume(ch, static_cast<int>(static_cast<float>(elapsed) / static_cast<float>(ch.fadeLength) * e));
    } else {
      SetBufferVolume(ch, e);
      ch.fade = 0;
    }
  } else if (ch.fade == 2) {
    if (elapsed < ch.fadeLength) {
      SetBufferVolume(ch, static_cast<int>((1.0f - static_cast<float>(elapsed) / static_cast<float>(ch.fadeLength)) * e));
    } else {
      if (ch.buffer) ch.buffer->SetVolume(plat::kVolumeMin);
      StopTransition(ch);
    }
  }
}

void Apply(KivSoundChannel& ch, const KivSoundRequest& r, uint32_t frameTime) {
  if (!ch.loaded) return;
  switch (r.code) {
    case kSndPlayFade:
      ch.loop = r.loop;
      ch.fade = 1;
      ch.fadeLength = static_cast<uint32_t>(r.fadeLength < 0 ? 0 : r.fadeLength);
      if (ch.buffer) ch.buffer->SetVolume(plat::kVolumeMin);
      PlayTransition(ch, frameTime);
      break;
    case kSndStop:
      StopTransition(ch);
      break;
    case kSndRelease:
      KivSoundChannelFree(ch);
      break;
    case kSndFadeOut:
      ch.fade = 2;
      ch.fadeLength = static_cast<uint32_t>(r.fadeLength < 0 ? 0 : r.fadeLength);
      ch.fadeStart = frameTime;
      g_kivSoundLastOp.store(kSndFadeOut);
      ch.state = kSndPlaying;
      break;
    case kSndPause:
      if (ch.buffer) ch.buffer->Stop();
      ch.state = kSndStopped;
      g_kivSoundLastOp.store(kSndPause);
      break;
    case kSndResume:
      if (ch.buffer) ch.buffer->Play(ch.loop || IsStream(ch));
      ch.state = kSndPlaying;
      g_kivSoundLastOp.store(kSndResume);
      break;
    default:
      break;
  }
}

}  // namespace

void KivSoundStreamFill(KivSoundChannel& ch, int half) {
  if (!ch.loaded) return;
  if (ch.ended) {
    // The half the cursor just entered holds the last piece. Silence the
    // other one, and release only once the cursor has moved on into it, so
    // the last piece is heard whole.
    if (ch.drain == 0) {
      ClearHalf(ch, half);
      ch.drain = 1;
    } else {
      KivSoundChannelFree(ch);
    }
    return;
  }
  const uint32_t size = IsStream(ch) ? ch.bufferSize / 2 : ch.bufferSize;
  LockedFill(ch, static_cast<uint32_t>(half) * size, size, true, 0);
}

void KivSoundStreamFillAll(KivSoundChannel& ch) {
  // The first 128 bytes (32 frames) start silent, so a play that begins in
  // the middle of a waveform does not click.
  LockedFill(ch, 0, ch.bufferSize / 2, true, 128);
}

bool KivSoundApplyVolume(KivSoundChannel& ch) {
  return ch.buffer && ch.buffer->SetVolume(KivVolumeToDecibels(KivSoundEffectiveVolume(ch)));
}

void KivSoundChannelClose(KivSoundChannel& ch) {
  if (ch.buffer) {
    ch.buffer->SetVolume(plat::kVolumeMin);
    ch.buffer->Stop();
    if (IsStream(ch)) {
      ClearHalf(ch, 0);
      ClearHalf(ch, 1);
    }
  }
  if (ch.file != plat::kInvalidFile) plat::FileClose(ch.file);
  ch.file = plat::kInvalidFile;
  KivOggFree(ch.ogg_source);
  ch.ogg_source = nullptr;
  KivSoundConverterFree(ch.convert);
  ch.convert = nullptr;
  ch.srcBlock = 4;
}

void KivSoundChannelFree(KivSoundChannel& ch) {
  KivSoundChannelClose(ch);
  plat::AudioBuffer* keep = nullptr;
  uint32_t keepSize = 0;
  if (IsStream(ch)) {
    keep = ch.buffer;  // the pre-made stream buffer stays with its channel
    keepSize = ch.bufferSize;
  } else if (ch.buffer) {
    ch.buffer->Release();
  }
  ch.buffer = keep;
  ch.bufferSize = keepSize;
  ch.playing = ch.loop = ch.loaded = ch.ogg = ch.ended = ch.paused = 0;
  ch.dataStart = ch.loopStart = ch.end = ch.position = ch.dataFloor = ch.dataCeil = 0;
  ch.state = kSndIdle;
  ch.fade = 0;
  ch.fadeStart = ch.fadeLength = 0;
  ch.drain = 0;
  if (!keep) ch.type = 0;
  g_kivSoundLastOp.store(kSndRelease);
}

void KivSoundChannelStep(KivSoundChannel& ch, uint32_t frameTime) {
  // Requests are taken in the order they were made, all in this pass.
  while (!ch.requests.empty()) {
    KivSoundRequest r = ch.requests.front();
    ch.requests.pop_front();
    Apply(ch, r, frameTime);
    ch.done = r.seq;
  }
  if (ch.loaded && ch.state == kSndPlaying && ch.fade) FadeStep(ch, frameTime);
}
