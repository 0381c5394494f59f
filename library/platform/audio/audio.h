// The sound device: our own software mixer holding static and streamed
// buffers, each with its own play cursor, volume in hundredths of a decibel
// (-10000 silence .. 0 full), pan, position notifications and duplicates
// that share sample memory. Buffers without global focus are muted while the
// program's window is inactive. The mixer's output is 44,100 Hz stereo
// signed 16-bit; buffers of other rates and of mono or 8-bit samples are
// converted as they are mixed.
//
// Backends: the SDL2 audio device (sdl_audio.cpp), and a headless one
// (headless_audio.cpp) that renders the same mix into memory or a WAV file,
// driven by the millisecond clock: each Pump renders up to the current time,
// so on the virtual clock the sound moves in lockstep with the tests.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace plat {

constexpr int kMixRate = 44100;
constexpr int kMixChannels = 2;

struct AudioFormat {
  int channels = 2;        // 1 or 2
  int rate = 44100;        // samples per second
  int bits = 16;           // 8 (unsigned) or 16 (signed)
  int BlockAlign() const { return channels * bits / 8; }
  bool Valid() const {
    return (channels == 1 || channels == 2) && (bits == 8 || bits == 16) && rate >= 100 && rate <= 192000;
  }
};

// Buffer flags, as the engine asks for them.
constexpr uint32_t kBufferPositionNotify = 0x100;
constexpr uint32_t kBufferGlobalFocus = 0x8000;

// The notification offset that fires when the buffer stops.
constexpr uint32_t kNotifyStop = 0xFFFFFFFFu;

// Volume limits in hundredths of a decibel.
constexpr int kVolumeMin = -10000;
constexpr int kVolumeMax = 0;

class AudioMixer;

// One buffer: sample memory (shared with its duplicates) and its own play
// state. Every call is safe from any thread.
class AudioBuffer {
 public:
  // Writes go through a lock: the two regions (the second non-empty when the
  // range wraps past the end) stay valid until Unlock, which publishes them.
  bool Lock(uint32_t offset, uint32_t bytes, uint8_t** p1, uint32_t* n1, uint8_t** p2, uint32_t* n2);
  void Unlock();
  bool Play(bool looping);
  // fade_out: what is heard fades out over kSlewPerFrame steps after the
  // stop (from the samples at the cursor), so the stop does not click;
  // otherwise the sound ends at once.
  void Stop(bool fade_out = false);
  bool Playing() const;
  bool SetCurrentPosition(uint32_t byte_offset);
  uint32_t CurrentPosition() const;
  // False (and nothing changes) outside -10000..0.
  bool SetVolume(int hundredths_db);
  int Volume() const;
  // False outside -10000..10000.
  bool SetPan(int pan);
  // Each offset fires `token` into the device's notification queue when the
  // cursor starts playing the frame at that offset; kNotifyStop fires when
  // the buffer stops. Only for buffers made with kBufferPositionNotify.
  bool SetNotifications(const std::vector<std::pair<uint32_t, int>>& offsets);
  uint32_t Size() const;
  const AudioFormat& Format() const;
  // Takes the buffer out of the mixer; the pointer is invalid afterwards.
  void Release();

 private:
  friend class AudioMixer;
  AudioBuffer() = default;
  AudioMixer* mixer_ = nullptr;
  std::shared_ptr<std::vector<uint8_t>> samples_;
  AudioFormat format_;
  uint32_t flags_ = 0;
  // Guarded by the mixer's lock.
  bool playing_ = false;
  bool looping_ = false;
  uint64_t cursor_ = 0;  // 32.32 fixed point, in frames of the buffer
  int64_t last_frame_ = -1;  // the frame last entered, for notifications
  int volume_ = 0;
  int pan_ = 0;
  float gain_left_ = 1.0f, gain_right_ = 1.0f;  // volume x pan
  // The volume heard: it follows level_ (the volume's gain) by at most
  // kSlewPerFrame a frame, so a volume change or a fade step never jumps.
  float level_ = 1.0f, heard_ = 1.0f;
  float pan_left_ = 1.0f, pan_right_ = 1.0f;
  bool fresh_ = false;  // started at its beginning and nothing mixed yet
  std::vector<std::pair<uint32_t, int>> notify_;  // frame index, token
  int stop_token_ = -1;
  // Lock staging.
  std::vector<uint8_t> staging_;
  uint32_t lock_offset_ = 0, lock_bytes_ = 0;
  bool locked_ = false;
  void UpdateGains();
};

// The mixer both backends share.
class AudioMixer {
 public:
  AudioMixer();
  ~AudioMixer();
  AudioBuffer* CreateBuffer(const AudioFormat& format, uint32_t bytes, uint32_t flags);
  // A new buffer sharing the samples of `source`, with its own cursor,
  // volume and pan (stopped, at position 0). Null when source is null.
  AudioBuffer* Duplicate(AudioBuffer* source);
  // Window focus: buffers without kBufferGlobalFocus are muted while false.
  void SetFocus(bool active);
  // Mixes `frames` stereo frames into out (interleaved S16).
  void Mix(int16_t* out, size_t frames);
  int BufferCount();

  // Notifications: the mixer queues tokens; the consumer waits for them.
  // Wake() ends a wait with no tokens.
  void WaitNotifications(uint32_t timeout_ms, std::vector<int>* out);
  void Wake();

 private:
  friend class AudioBuffer;
  void Remove(AudioBuffer* b);
  void Notify(int token);  // lock held
  void MixBuffer(AudioBuffer* b, size_t frames);  // lock held
  // A buffer stopped while heard: its next frames, faded out over a few
  // milliseconds, go on into the mix after it stopped.
  void AddTail(AudioBuffer* b);  // lock held
  struct Tail {
    std::vector<int32_t> samples;  // stereo
    size_t at = 0;
  };
  std::vector<Tail> tails_;
  std::mutex lock_;
  std::vector<AudioBuffer*> buffers_;
  std::vector<int32_t> acc_;
  bool focus_ = true;
  std::mutex notify_lock_;
  std::condition_variable notify_cv_;
  std::vector<int> pending_;
  bool woken_ = false;
};

// The device: a mixer and where its output goes.
class AudioDevice {
 public:
  virtual ~AudioDevice() = default;
  AudioMixer& mixer() { return mixer_; }
  // Headless: renders up to the current clock time. Real: nothing.
  virtual void Pump() {}
  virtual const char* Name() const = 0;

 protected:
  AudioMixer mixer_;
};

// The device of the chosen backend (AudioBackendKind). The real backend falls
// back to a headless device clocked in real time (and says so on stderr)
// when no audio device can be opened, so a machine without sound still runs.
std::unique_ptr<AudioDevice> AudioDeviceOpen();
std::unique_ptr<AudioDevice> SdlAudioOpen();       // null when SDL has no device
std::unique_ptr<AudioDevice> HeadlessAudioOpen();

// What the headless devices have rendered, for tests: every device renders
// into one process-wide capture while capturing is on (off by default).
void HeadlessAudioCapture(bool on);
std::vector<int16_t> HeadlessAudioTake();  // interleaved stereo, cleared after
// Also writes every rendered frame to a WAV file (finished when the device
// closes or the path changes); empty path: no file.
void HeadlessAudioWavFile(const std::string& path);

// Hundredths of a decibel to a linear gain (-10000 and below: 0).
float DecibelsToGain(int hundredths_db);

// How fast a buffer's heard volume may move: full scale in 256 frames
// (5.8 ms), so a change of volume moves a sample by at most 1/256 of full
// scale from one frame to the next. Starts at a buffer's beginning and the
// volume set before anything is heard are taken at once.
constexpr float kSlewPerFrame = 1.0f / 256;

// A WAV file image of interleaved S16 samples.
std::vector<uint8_t> WavImage(const int16_t* samples, size_t count, int channels, int rate);

}  // namespace plat
