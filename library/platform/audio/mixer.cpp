// The software mixer: every playing buffer, at its own rate and sample
// format, summed into 44,100 Hz stereo S16 with its volume, pan and focus.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/audio/audio.h"
#include "platform/core/byte_io.h"

namespace plat {

float DecibelsToGain(int hundredths_db) {
  if (hundredths_db <= kVolumeMin) return 0.0f;
  if (hundredths_db >= 0) return 1.0f;
  return std::pow(10.0f, static_cast<float>(hundredths_db) / 2000.0f);
}

namespace {
constexpr uint64_t kOne = uint64_t(1) << 32;

// Whether moving the cursor from frame `last` to `now` enters frame f.
bool Enters(int64_t last, int64_t now, int64_t f) {
  if (now == last) return false;
  if (now > last) return last < f && f <= now;
  return f > last || f <= now;  // wrapped round
}

int16_t Clamp16(int32_t v) { return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }
}  // namespace

// ---- AudioBuffer ----

void AudioBuffer::UpdateGains() {
  level_ = DecibelsToGain(volume_);
  pan_left_ = pan_ > 0 ? DecibelsToGain(-pan_) : 1.0f;
  pan_right_ = pan_ < 0 ? DecibelsToGain(pan_) : 1.0f;
  gain_left_ = level_ * pan_left_;
  gain_right_ = level_ * pan_right_;
  // Nothing heard yet: the new volume is where the sound starts.
  if (!playing_ || fresh_) heard_ = level_;
}

bool AudioBuffer::Lock(uint32_t offset, uint32_t bytes, uint8_t** p1, uint32_t* n1, uint8_t** p2, uint32_t* n2) {
  std::lock_guard<std::mutex> g(mixer_->lock_);
  const uint32_t size = static_cast<uint32_t>(samples_->size());
  if (locked_ || offset >= size || bytes == 0 || bytes > size) return false;
  staging_.resize(bytes);
  uint32_t first = std::min(bytes, size - offset);
  std::memcpy(staging_.data(), samples_->data() + offset, first);
  if (bytes > first) std::memcpy(staging_.data() + first, samples_->data(), bytes - first);
  locked_ = true;
  lock_offset_ = offset;
  lock_bytes_ = bytes;
  *p1 = staging_.data();
  *n1 = first;
  *p2 = bytes > first ? staging_.data() + first : nullptr;
  *n2 = bytes - first;
  return true;
}

void AudioBuffer::Unlock() {
  std::lock_guard<std::mutex> g(mixer_->lock_);
  if (!locked_) return;
  const uint32_t size = static_cast<uint32_t>(samples_->size());
  uint32_t first = std::min(lock_bytes_, size - lock_offset_);
  std::memcpy(samples_->data() + lock_offset_, staging_.data(), first);
  if (lock_bytes_ > first) std::memcpy(samples_->data(), staging_.data() + first, lock_bytes_ - first);
  locked_ = false;
  // Stream halves are locked again and again and keep their staging; the
  // one whole-sound lock of a static buffer does not.
  if (lock_bytes_ > (1u << 18)) std::vector<uint8_t>().swap(staging_);
}

bool AudioBuffer::Play(bool looping) {
  std::lock_guard<std::mutex> g(mixer_->lock_);
  if (!playing_) {
    // From its beginning a sound starts as it was made; taken up again in
    // the middle (a resume) it comes in over a short ramp.
    fresh_ = (cursor_ >> 32) == 0;
    heard_ = fresh_ ? level_ : 0.0f;
  }
  playing_ = true;
  looping_ = looping;
  return true;
}

void AudioBuffer::Stop(bool fade_out) {
  std::lock_guard<std::mutex> g(mixer_->lock_);
  if (!playing_) return;
  if (fade_out) mixer_->AddTail(this);
  playing_ = false;
  if (stop_token_ >= 0) mixer_->Notify(stop_token_);
}

bool AudioBuffer::Playing() const {
  std::lock_guard<std::mutex> g(mixer_->lock_);
  return playing_;
}

bool AudioBuffer::SetCurrentPosition(uint32_t byte_offset) {
  std::lock_guard<std::mutex> g(mixer_->lock_);
  if (byte_offset >= samples_->size()) return false;
  cursor_ = static_cast<uint64_t>(byte_offset / format_.BlockAlign()) << 32;
  last_frame_ = static_cast<int64_t>(cursor_ >> 32) - 1;
  return true;
}

uint32_t AudioBuffer::CurrentPosition() const {
  std::lock_guard<std::mutex> g(mixer_->lock_);
  return static_cast<uint32_t>((cursor_ >> 32) * format_.BlockAlign());
}

bool AudioBuffer::SetVolume(int hundredths_db) {
  if (hundredths_db < kVolumeMin || hundredths_db > kVolumeMax) return false;
  std::lock_guard<std::mutex> g(mixer_->lock_);
  volume_ = hundredths_db;
  UpdateGains();
  return true;
}

int AudioBuffer::Volume() const {
  std::lock_guard<std::mutex> g(mixer_->lock_);
  return volume_;
}

bool AudioBuffer::SetPan(int pan) {
  if (pan < -10000 || pan > 10000) return false;
  std::lock_guard<std::mutex> g(mixer_->lock_);
  pan_ = pan;
  UpdateGains();
  return true;
}

bool AudioBuffer::SetNotifications(const std::vector<std::pair<uint32_t, int>>& offsets) {
  if (!(flags_ & kBufferPositionNotify)) return false;
  std::lock_guard<std::mutex> g(mixer_->lock_);
  if (playing_) return false;
  notify_.clear();
  stop_token_ = -1;
  for (const auto& [offset, token] : offsets) {
    if (offset == kNotifyStop) {
      stop_token_ = token;
    } else {
      if (offset >= samples_->size()) return false;
      notify_.emplace_back(offset / format_.BlockAlign(), token);
    }
  }
  return true;
}

uint32_t AudioBuffer::Size() const { return static_cast<uint32_t>(samples_->size()); }
const AudioFormat& AudioBuffer::Format() const { return format_; }
void AudioBuffer::Release() { mixer_->Remove(this); }

// ---- AudioMixer ----

AudioMixer::AudioMixer() = default;

AudioMixer::~AudioMixer() {
  for (AudioBuffer* b : buffers_) delete b;
}

AudioBuffer* AudioMixer::CreateBuffer(const AudioFormat& format, uint32_t bytes, uint32_t flags) {
  if (!format.Valid() || bytes == 0 || bytes % format.BlockAlign() != 0 || bytes > (1u << 30)) return nullptr;
  auto* b = new AudioBuffer();
  b->mixer_ = this;
  b->format_ = format;
  b->flags_ = flags;
  // 8-bit silence is 128, 16-bit silence 0.
  b->samples_ = std::make_shared<std::vector<uint8_t>>(bytes, format.bits == 8 ? 128 : 0);
  b->UpdateGains();
  b->heard_ = b->level_;
  std::lock_guard<std::mutex> g(lock_);
  buffers_.push_back(b);
  return b;
}

AudioBuffer* AudioMixer::Duplicate(AudioBuffer* source) {
  if (!source) return nullptr;
  auto* b = new AudioBuffer();
  std::lock_guard<std::mutex> g(lock_);
  b->mixer_ = this;
  b->format_ = source->format_;
  b->flags_ = source->flags_ & ~kBufferPositionNotify;
  b->samples_ = source->samples_;
  b->volume_ = source->volume_;
  b->pan_ = source->pan_;
  b->UpdateGains();
  b->heard_ = b->level_;
  buffers_.push_back(b);
  return b;
}

void AudioMixer::Remove(AudioBuffer* b) {
  {
    std::lock_guard<std::mutex> g(lock_);
    auto it = std::find(buffers_.begin(), buffers_.end(), b);
    if (it == buffers_.end()) return;
    buffers_.erase(it);
  }
  delete b;
}

void AudioMixer::SetFocus(bool active) {
  std::lock_guard<std::mutex> g(lock_);
  focus_ = active;
}

int AudioMixer::BufferCount() {
  std::lock_guard<std::mutex> g(lock_);
  return static_cast<int>(buffers_.size());
}

void AudioMixer::Notify(int token) {
  {
    std::lock_guard<std::mutex> g(notify_lock_);
    pending_.push_back(token);
  }
  notify_cv_.notify_all();
}

void AudioMixer::Wake() {
  {
    std::lock_guard<std::mutex> g(notify_lock_);
    woken_ = true;
  }
  notify_cv_.notify_all();
}

void AudioMixer::WaitNotifications(uint32_t timeout_ms, std::vector<int>* out) {
  std::unique_lock<std::mutex> g(notify_lock_);
  notify_cv_.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return woken_ || !pending_.empty(); });
  woken_ = false;
  out->insert(out->end(), pending_.begin(), pending_.end());
  pending_.clear();
}

void AudioMixer::Mix(int16_t* out, size_t frames) {
  std::lock_guard<std::mutex> g(lock_);
  acc_.assign(frames * 2, 0);
  for (AudioBuffer* b : buffers_)
    if (b->playing_) MixBuffer(b, frames);
  for (Tail& t : tails_) {
    const size_t n = std::min(frames * 2, t.samples.size() - t.at);
    for (size_t i = 0; i < n; ++i) acc_[i] += t.samples[t.at + i];
    t.at += n;
  }
  tails_.erase(std::remove_if(tails_.begin(), tails_.end(), [](const Tail& t) { return t.at >= t.samples.size(); }),
               tails_.end());
  for (size_t i = 0; i < frames * 2; ++i) out[i] = Clamp16(acc_[i]);
}

namespace {

// Frame i of a buffer as two 16-bit-scaled samples.
inline void ReadFrame(const AudioFormat& f, const uint8_t* data, int64_t i, int32_t* l, int32_t* r) {
  const uint8_t* p = data + i * f.BlockAlign();
  if (f.bits == 16) {
    *l = static_cast<int16_t>(p[0] | p[1] << 8);
    *r = f.channels == 2 ? static_cast<int16_t>(p[2] | p[3] << 8) : *l;
  } else {
    *l = (p[0] - 128) << 8;
    *r = f.channels == 2 ? (p[1] - 128) << 8 : *l;
  }
}

// The frame at a 32.32 cursor, interpolated linearly towards the next one
// when the rates differ. Past the end of a sound that does not loop the
// next frame is silence, so a resampled sound ends on a slope, not a step.
inline void FrameAt(const AudioFormat& f, const uint8_t* data, int64_t count, bool looping, uint64_t cursor,
                    bool interpolate, int32_t* l, int32_t* r) {
  const int64_t idx = static_cast<int64_t>(cursor >> 32);
  ReadFrame(f, data, idx, l, r);
  if (!interpolate) return;
  int32_t l2 = 0, r2 = 0;
  if (idx + 1 < count) ReadFrame(f, data, idx + 1, &l2, &r2);
  else if (looping) ReadFrame(f, data, 0, &l2, &r2);
  const int64_t t = static_cast<int64_t>((cursor & (kOne - 1)) >> 16);  // 0..65535
  *l += static_cast<int32_t>(((l2 - *l) * t) >> 16);
  *r += static_cast<int32_t>(((r2 - *r) * t) >> 16);
}

// One step of the heard volume towards the set one.
inline void Slew(float* heard, float target) {
  if (*heard < target) *heard = std::min(target, *heard + kSlewPerFrame);
  else *heard = std::max(target, *heard - kSlewPerFrame);
}

}  // namespace

void AudioMixer::AddTail(AudioBuffer* b) {
  const bool muted = !focus_ && !(b->flags_ & kBufferGlobalFocus);
  if (muted || b->heard_ <= 0.0f) return;
  const AudioFormat& f = b->format_;
  const uint8_t* data = b->samples_->data();
  const int64_t count = static_cast<int64_t>(b->samples_->size() / f.BlockAlign());
  const uint64_t step = (static_cast<uint64_t>(f.rate) << 32) / kMixRate;
  Tail t;
  uint64_t cursor = b->cursor_;
  float heard = b->heard_;
  while (heard > 0.0f) {
    if (static_cast<int64_t>(cursor >> 32) >= count) {
      if (!b->looping_) break;
      cursor %= static_cast<uint64_t>(count) << 32;
    }
    Slew(&heard, 0.0f);
    int32_t l, r;
    FrameAt(f, data, count, b->looping_, cursor, step != kOne, &l, &r);
    const int32_t gl = static_cast<int32_t>(std::lrintf(heard * b->pan_left_ * 65536.0f));
    const int32_t gr = static_cast<int32_t>(std::lrintf(heard * b->pan_right_ * 65536.0f));
    t.samples.push_back((l * gl + 32768) >> 16);
    t.samples.push_back((r * gr + 32768) >> 16);
    cursor += step;
  }
  b->heard_ = 0.0f;
  if (!t.samples.empty()) tails_.push_back(std::move(t));
}

// Gains as 16.16 fixed point: 1.0 is 65536, so full volume copies samples
// exactly and the inner loops stay in integers.
void AudioMixer::MixBuffer(AudioBuffer* b, size_t frames) {
  const AudioFormat& f = b->format_;
  const uint8_t* data = b->samples_->data();
  const int64_t count = static_cast<int64_t>(b->samples_->size() / f.BlockAlign());
  const uint64_t step = (static_cast<uint64_t>(f.rate) << 32) / kMixRate;
  const bool muted = !focus_ && !(b->flags_ & kBufferGlobalFocus);
  auto gain = [&](float pan) { return muted ? 0 : static_cast<int32_t>(std::lrintf(b->heard_ * pan * 65536.0f)); };
  int32_t gl = gain(b->pan_left_), gr = gain(b->pan_right_);
  int32_t* acc = acc_.data();
  size_t o = 0;
  if (frames) b->fresh_ = false;
  while (o < frames) {
    int64_t idx = static_cast<int64_t>(b->cursor_ >> 32);
    if (idx >= count) {
      if (!b->looping_) {
        b->playing_ = false;
        b->cursor_ = 0;
        b->last_frame_ = -1;
        if (b->stop_token_ >= 0) Notify(b->stop_token_);
        return;
      }
      // A step of more than one frame may pass the end by more than a
      // whole buffer when the buffer is tiny.
      b->cursor_ %= static_cast<uint64_t>(count) << 32;
      idx = static_cast<int64_t>(b->cursor_ >> 32);
    }
    if (idx != b->last_frame_) {
      for (const auto& [nf, token] : b->notify_)
        if (Enters(b->last_frame_, idx, nf)) Notify(token);
      b->last_frame_ = idx;
    }
    const bool ramping = b->heard_ != b->level_;
    if (!ramping && step == kOne && f.bits == 16) {
      // Same rate: a run of whole frames up to the buffer's end or the next
      // notification, whichever comes first.
      int64_t run = std::min<int64_t>(static_cast<int64_t>(frames - o), count - idx);
      for (const auto& nf : b->notify_)
        if (nf.first > idx && nf.first - idx < run) run = nf.first - idx;
      const auto* src = reinterpret_cast<const int16_t*>(data) + idx * f.channels;
      int32_t* dst = acc + 2 * o;
      if (f.channels == 2) {
        for (int64_t k = 0; k < run; ++k) {
          dst[2 * k] += (src[2 * k] * gl + 32768) >> 16;
          dst[2 * k + 1] += (src[2 * k + 1] * gr + 32768) >> 16;
        }
      } else {
        for (int64_t k = 0; k < run; ++k) {
          dst[2 * k] += (src[k] * gl + 32768) >> 16;
          dst[2 * k + 1] += (src[k] * gr + 32768) >> 16;
        }
      }
      o += static_cast<size_t>(run);
      b->cursor_ += static_cast<uint64_t>(run) << 32;
      b->last_frame_ = idx + run - 1;
      continue;
    }
    if (ramping) {
      Slew(&b->heard_, b->level_);
      gl = gain(b->pan_left_);
      gr = gain(b->pan_right_);
    }
    int32_t l, r;
    FrameAt(f, data, count, b->looping_, b->cursor_, step != kOne, &l, &r);
    acc[2 * o] += (l * gl + 32768) >> 16;
    acc[2 * o + 1] += (r * gr + 32768) >> 16;
    ++o;
    b->cursor_ += step;
  }
}

std::vector<uint8_t> WavImage(const int16_t* samples, size_t count, int channels, int rate) {
  ByteWriter w;
  const uint32_t bytes = static_cast<uint32_t>(count * 2);
  w.Bytes("RIFF", 4);
  w.U32(36 + bytes);
  w.Bytes("WAVEfmt ", 8);
  w.U32(16);
  w.U16(1);
  w.U16(static_cast<uint16_t>(channels));
  w.U32(static_cast<uint32_t>(rate));
  w.U32(static_cast<uint32_t>(rate * channels * 2));
  w.U16(static_cast<uint16_t>(channels * 2));
  w.U16(16);
  w.Bytes("data", 4);
  w.U32(bytes);
  for (size_t i = 0; i < count; ++i) w.U16(static_cast<uint16_t>(samples[i]));
  return std::move(w.bytes());
}

}  // namespace plat
