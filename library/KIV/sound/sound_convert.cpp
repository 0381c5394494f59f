// Sample formats: which WAV headers can be played, and the conversion of
// any playable source (8/16/24/32-bit integer or 32-bit float, mono or
// stereo, any rate) to the 44,100 Hz 16-bit samples the stream buffers and
// the mixer's fast path hold. Rates are changed by the platform's
// band-limited resampler, whose history runs on across pieces and loop
// wraps, so a converted stream has no seams.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/system_state.h"
#include "platform/audio/audio.h"
#include "platform/audio/resampler.h"
#include "platform/core/error.h"
#include "sound/sound.h"

namespace {
constexpr int kFormatPcm = 1, kFormatFloat = 3, kFormatExtensible = 0xFFFE;
constexpr int kFormatAdpcm = 2, kFormatImaAdpcm = 0x11;
}  // namespace

bool KivSoundPcmFormat(const KivWavInfo& w, KivPcmFormat* out, const char** why) {
  auto no = [why](const char* reason) {
    if (why) *why = reason;
    return false;
  };
  int tag = w.formatTag;
  if (tag == kFormatExtensible) {
    if (w.subFormat == 0) return no("extensible format without its sub-format");
    tag = w.subFormat;
  }
  if (tag == kFormatAdpcm || tag == kFormatImaAdpcm) return no("ADPCM samples are not supported");
  if (tag != kFormatPcm && tag != kFormatFloat) return no("compressed samples are not supported");
  if (w.channels < 1) return no("no channels");
  if (w.channels > 2) return no("more than two channels are not supported");
  if (w.rate < 4000 || w.rate > 192000) return no("sample rate outside 4000..192000 Hz");
  KivPcmFormat f;
  f.isFloat = tag == kFormatFloat;
  f.channels = w.channels;
  f.rate = w.rate;
  f.bits = w.bits;
  if (f.isFloat ? f.bits != 32 : (f.bits != 8 && f.bits != 16 && f.bits != 24 && f.bits != 32))
    return no(f.isFloat ? "float samples other than 32-bit are not supported"
                        : "integer samples other than 8, 16, 24 or 32 bits are not supported");
  if (w.blockAlign != f.BlockAlign()) return no("block align does not match channels and bits");
  *out = f;
  return true;
}

void KivSoundRefuse(const char* file, const char* why) {
  const std::string line = std::string(file ? file : "?") + " : " + (why ? why : "cannot be played");
  plat::DebugOutput(line + "\n");
  KivErrorLogPrintfBasic("%s", line.c_str());
}

struct KivSoundConverter {
  KivPcmFormat from;
  int outChannels = 2;
  std::unique_ptr<plat::Resampler> resampler;  // null at 44,100 Hz
  std::vector<float> in, out;                  // scratch
  std::vector<int16_t> pending;
  size_t taken = 0;
  bool flushed = false;
};

namespace {

float SampleAt(const KivPcmFormat& f, const uint8_t* p) {
  if (f.isFloat) {
    float v;
    std::memcpy(&v, p, 4);
    return std::isfinite(v) ? v : 0.0f;
  }
  switch (f.bits) {
    case 8: return (static_cast<int>(p[0]) - 128) * (1.0f / 128);
    case 16: return static_cast<int16_t>(p[0] | p[1] << 8) * (1.0f / 32768);
    case 24: {
      const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                                             static_cast<uint32_t>(p[2]) << 24) >> 8;
      return static_cast<float>(v) * (1.0f / 8388608);
    }
    default: {
      const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                             static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
      return static_cast<float>(static_cast<double>(v) * (1.0 / 2147483648.0));
    }
  }
}

int16_t ToS16(float v) {
  const float s = v * 32768.0f;
  if (s >= 32767.0f) return 32767;
  if (s <= -32768.0f) return -32768;
  return static_cast<int16_t>(std::lrintf(s));
}

// Frames of `src` channels in `v` to the output's channels, as S16.
void Emit(KivSoundConverter* c, const std::vector<float>& v) {
  const int sc = c->from.channels;
  const size_t frames = v.size() / sc;
  const size_t at = c->pending.size();
  c->pending.resize(at + frames * c->outChannels);
  int16_t* o = c->pending.data() + at;
  for (size_t i = 0; i < frames; ++i) {
    if (c->outChannels == sc) {
      for (int ch = 0; ch < sc; ++ch) *o++ = ToS16(v[i * sc + ch]);
    } else if (sc == 1) {
      const int16_t s = ToS16(v[i]);
      *o++ = s;
      *o++ = s;
    } else {
      *o++ = ToS16(0.5f * (v[2 * i] + v[2 * i + 1]));
    }
  }
}

}  // namespace

KivSoundConverter* KivSoundConverterNew(const KivPcmFormat& from, int outChannels) {
  auto* c = new KivSoundConverter();
  c->from = from;
  c->outChannels = outChannels == 1 ? 1 : 2;
  if (from.rate != plat::kMixRate) c->resampler = std::make_unique<plat::Resampler>(from.rate, plat::kMixRate, from.channels);
  return c;
}

void KivSoundConverterFree(KivSoundConverter* c) { delete c; }

void KivSoundConverterPush(KivSoundConverter* c, const uint8_t* src, size_t bytes) {
  const int block = c->from.BlockAlign(), bps = c->from.bits / 8;
  const size_t frames = bytes / block;
  c->in.resize(frames * c->from.channels);
  for (size_t i = 0; i < frames * c->from.channels; ++i) c->in[i] = SampleAt(c->from, src + i * bps);
  if (c->resampler) {
    c->out.clear();
    c->resampler->Push(c->in.data(), frames, &c->out);
    Emit(c, c->out);
  } else {
    Emit(c, c->in);
  }
}

void KivSoundConverterFlush(KivSoundConverter* c) {
  if (c->flushed) return;
  c->flushed = true;
  if (!c->resampler) return;
  c->out.clear();
  c->resampler->Flush(&c->out);
  Emit(c, c->out);
}

size_t KivSoundConverterPending(const KivSoundConverter* c) { return (c->pending.size() - c->taken) * 2; }
bool KivSoundConverterFlushed(const KivSoundConverter* c) { return c->flushed; }

size_t KivSoundConverterTake(KivSoundConverter* c, uint8_t* out, size_t bytes) {
  const size_t frameBytes = static_cast<size_t>(2 * c->outChannels);
  const size_t n = std::min(bytes, KivSoundConverterPending(c)) / frameBytes * frameBytes;
  if (n == 0) return 0;
  std::memcpy(out, c->pending.data() + c->taken, n);
  c->taken += n / 2;
  if (c->taken == c->pending.size()) {
    c->pending.clear();
    c->taken = 0;
  }
  return n;
}

void KivSoundConverterReset(KivSoundConverter* c) {
  if (c->resampler) c->resampler->Reset();
  c->pending.clear();
  c->taken = 0;
  c->flushed = false;
}

std::vector<int16_t> KivSoundConvertWhole(const KivPcmFormat& from, const uint8_t* src, size_t bytes, int outChannels) {
  KivSoundConverter* c = KivSoundConverterNew(from, outChannels);
  // In slices, so the float scratch stays small.
  const size_t slice = static_cast<size_t>(from.BlockAlign()) * 65536;
  for (size_t at = 0; at < bytes; at += slice) KivSoundConverterPush(c, src + at, std::min(slice, bytes - at));
  KivSoundConverterFlush(c);
  std::vector<int16_t> out(c->pending.begin() + static_cast<ptrdiff_t>(c->taken), c->pending.end());
  KivSoundConverterFree(c);
  return out;
}
