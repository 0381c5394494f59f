// The engine's sound records and the calls its sound components share.
// Engine-private.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "kiv.h"

namespace plat {
class AudioBuffer;
class AudioDevice;
}  // namespace plat
struct KivOggSource;

// Stream buffers: two seconds of 44,100 Hz stereo S16 in two halves.
constexpr uint32_t kKivStreamBytes = 352800;
constexpr uint32_t kKivStreamHalf = kKivStreamBytes / 2;

// Channel states (the step's table); requests are queued, not written here.
enum KivSoundStateWord : int {
  kSndIdle = 0, kSndPlay = 2, kSndStop = 3, kSndRelease = 4, kSndStopped = 5, kSndPlayFade = 6,
  kSndFadeOut = 7, kSndPlaying = 8, kSndPause = 9, kSndResume = 10,
};

struct KivSoundRequest {
  int code;      // kSndPlayFade, kSndStop, kSndRelease, kSndFadeOut, kSndPause, kSndResume
  int loop;
  int fadeLength;
  uint64_t seq;
};

// One channel. Every field is guarded by `lock`; the sound thread takes it
// per channel, the exports for their short reads and writes.
struct KivSoundChannel {
  plat::AudioBuffer* buffer = nullptr;  // stream channels keep theirs for life
  intptr_t file = -1;                   // WAV or raw PCM source, -1 none
  KivOggSource* ogg_source = nullptr;   // Ogg source
  int playing = 0;
  int loop = 0;
  int loaded = 0;
  int ogg = 0;
  int ended = 0;
  int paused = 0;
  int64_t dataStart = 0;
  int64_t loopStart = 0;
  int64_t end = 0;
  int64_t position = 0;
  uint32_t bufferSize = 0;
  int state = kSndIdle;
  int type = 0;
  int fade = 0;
  uint32_t fadeStart = 0;
  uint32_t fadeLength = 0;
  int volume = 10000;
  // Bounds of the source's sample data, in position units: ranges and
  // loop points must lie inside them.
  int64_t dataFloor = 0;
  int64_t dataCeil = 0;
  // After a non-looping stream's last piece: 1 once the half after it has
  // been silenced; the next notification means the last piece has played.
  int drain = 0;
  bool claimed = false;  // a load in progress owns the channel
  std::deque<KivSoundRequest> requests;
  uint64_t issued = 0, done = 0;
  std::mutex lock;
};

// ---- Ids and groups ----
constexpr int kKivSoundGroups = 6;
constexpr int kKivSoundChannels = 76;
// Channels of the group with tag 1..6.
int KivSoundGroupSize(int tag);
// The tag a load type goes to (KivSoundLoad: 2->2, 3->4, 4->5, 5->6, else 3).
int KivSoundTagForType(int type);
// The channel an id names, or null (tag outside 1-6, slot out of range).
KivSoundChannel* KivSoundChannelFromId(KivSoundId id);
KivSoundChannel* KivSoundChannelAt(int tag, int slot);
KivSoundId KivSoundMakeId(int tag, int slot);

// ---- Volumes ----
int KivVolumeToDecibels(int volume);
int KivSoundGroupVolume(int type);
// Group volume of the channel's type x its own volume, clamped to 0..10000.
int KivSoundEffectiveVolume(const KivSoundChannel& ch);

// ---- Sources (sound_source.cpp) ----
struct KivWavInfo {
  int formatTag = 0, channels = 0, rate = 0, bits = 0, blockAlign = 0;
  uint64_t dataOffset = 0;  // from the start of the file (member)
  uint64_t dataSize = 0;
};
// Reads `n` bytes at `offset` of the file (member); false when short.
using KivByteSource = std::function<bool(uint64_t offset, void* out, size_t n)>;
// Walks the RIFF chunks of a file of `size` bytes; false (with a reason) for
// anything that is not a WAV file whose "fmt " and "data" lie inside it.
bool KivWavParse(const KivByteSource& read, uint64_t size, KivWavInfo* out, const char** why);
struct KivRawPcmInfo {
  uint64_t dataOffset = 0;  // from the start of the file (member)
  uint64_t dataSize = 0;
  uint64_t loopStart = 0, loopEnd = 0;  // byte offsets from dataOffset
};
bool KivRawPcmParse(const KivByteSource& read, uint64_t size, KivRawPcmInfo* out, const char** why);

// ---- Ogg (ogg_source.cpp) ----
// Opens an Ogg Vorbis image (the source takes `data`, a KivMemoryAlloc block).
KivOggSource* KivOggOpenMemory(uint8_t* data, size_t size);
void KivOggFree(KivOggSource* s);
int KivOggChannels(KivOggSource* s);
int KivOggRate(KivOggSource* s);
int64_t KivOggTotalBytes(KivOggSource* s);
// Decodes up to n bytes of 16-bit PCM; a decoding error ends the piece.
size_t KivOggDecode(KivOggSource* s, uint8_t* out, size_t n);
bool KivOggSeekBytes(KivOggSource* s, int64_t byte_offset);
// The memory source's callbacks, exposed for tests: fseek semantics.
struct KivOggMemory {
  uint8_t* data = nullptr;
  int64_t size = 0;
  int64_t pos = 0;
};
size_t KivOggRead(void* ptr, size_t size, size_t nmemb, void* source);
int KivOggSeek(void* source, int64_t offset, int whence);
long KivOggTell(void* source);

// ---- Channel work on the sound thread (sound_channel.cpp) ----
void KivSoundStreamFill(KivSoundChannel& ch, int half);
void KivSoundStreamFillAll(KivSoundChannel& ch);
void KivSoundChannelStep(KivSoundChannel& ch, uint32_t frameTime);
void KivSoundChannelClose(KivSoundChannel& ch);
void KivSoundChannelFree(KivSoundChannel& ch);  // the release transition
bool KivSoundApplyVolume(KivSoundChannel& ch);
extern std::atomic<int> g_kivSoundLastOp;

// ---- For tests: the sound thread's passes ----
// Waits until the sound thread has made one whole pass that started after
// this call (so it has rendered up to the clock's time on the headless
// device and handled what that raised). False when there is no thread.
bool KivSoundSync(void);
plat::AudioDevice* KivSoundDevice(void);
// Holds the sound thread's channel steps (requests wait) while on.
void KivSoundHoldSteps(bool on);
// The frame clock's lockstep (nothing without it): Drain waits until every
// pass asked for has run; Tick runs one pass (the mix rendered up to the
// clock, requests taken, fades stepped) and waits for it.
void KivSoundFrameDrain(void);
void KivSoundFrameTick(void);

// Group volume x channel volume / 10000 in single precision, truncated and
// clamped to 0..10000.
int KivSoundEffective(int group, int channel);
void KivSoundResetGroupVolumes();
// Re-applies the effective volume to the loaded channels of a pool that run
// no fade (the pool index is the load type: 0 tag 1, 1 tag 3, 2 tag 2, ...).
void KivSoundReapplyGroup(int pool);
