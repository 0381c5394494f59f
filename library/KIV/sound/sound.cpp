// Sound: 76 channels in six groups, static sounds played at once on the
// caller's thread, and streams (music and raw PCM sound files) that the sound
// thread refills half by half as the device reports its cursor. Requests to
// the sound thread are queued per channel and taken in order; the caller
// waits a bounded time for its own request to be taken.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "core/fault_inject.h"
#include "core/system_state.h"
#include "platform/audio/audio.h"
#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/core/file.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "sound/sound.h"

namespace {

// Groups by tag: channel count and where they start in the channel array,
// which holds them in the order tags 1, 3, 2, 4, 5, 6.
constexpr int kGroupSize[7] = {0, 2, 2, 8, 16, 32, 16};
constexpr int kGroupStart[7] = {0, 0, 10, 2, 12, 28, 60};
// Pool index (= load type) to tag.
constexpr int kPoolTag[kKivSoundGroups] = {1, 3, 2, 4, 5, 6};
// The four stream buffers, in the order they are made: tag 2 slots 0 and 1,
// tag 1 slots 0 and 1. Notification tokens are buffer * 3 + {0: offset 0,
// 1: the second half, 2: stop}.
constexpr int kStreamTag[4] = {2, 2, 1, 1};
constexpr int kStreamSlot[4] = {0, 1, 0, 1};
// How long a caller waits for the sound thread to take its request. The
// thread takes requests within one pass (10 ms) unless it is stuck.
constexpr auto kRequestWait = std::chrono::milliseconds(2000);

struct SoundSystem {
  std::unique_ptr<plat::AudioDevice> device;
  KivSoundChannel channels[kKivSoundChannels];
  std::thread thread;
  std::atomic<bool> quit{false};
  std::atomic<int> ready{0};  // 1 ready, -1 failed
  std::atomic<bool> holdSteps{false};
  std::atomic<uint64_t> passStarted{0}, passDone{0};
  std::mutex waitLock;
  std::condition_variable passed;  // after every pass, and when ready changes
  // On the frame clock a pass runs only when asked (a ticket), so what the
  // mix holds depends on the frames alone, never on when this thread ran.
  uint64_t ticketsIssued = 0, ticketsServed = 0;  // under waitLock
  std::condition_variable ticket;
};

std::atomic<SoundSystem*> g_sound{nullptr};

uint32_t ModeFlags() { return g_kiv ? g_kiv->params.mode : 0; }
uint32_t FocusFlag() { return (ModeFlags() & KIV_MODE_RUN_INACTIVE) ? plat::kBufferGlobalFocus : 0; }

// Asks the sound thread for a pass: at once on the frame clock, else by
// waking the device's wait.
void WakeThread(SoundSystem* s) {
  if (plat::FrameClockOn()) {
    {
      std::lock_guard<std::mutex> g(s->waitLock);
      ++s->ticketsIssued;
    }
    s->ticket.notify_one();
    return;
  }
  s->device->mixer().Wake();
}

// Frame clock: waits for the next ticket; false when the thread is to end.
bool WaitTicket(SoundSystem* s) {
  std::unique_lock<std::mutex> w(s->waitLock);
  s->ticket.wait(w, [s] { return s->ticketsIssued > s->ticketsServed || s->quit.load(); });
  return s->ticketsIssued > s->ticketsServed;
}

void SignalPass(SoundSystem* s) {
  { std::lock_guard<std::mutex> g(s->waitLock); }
  s->passed.notify_all();
}

void HandleToken(SoundSystem* s, int token) {
  const int b = token / 3, kind = token % 3;
  if (b < 0 || b >= 4) return;
  KivSoundChannel& ch = *KivSoundChannelAt(kStreamTag[b], kStreamSlot[b]);
  std::lock_guard<std::mutex> g(ch.lock);
  if (kind == 0) {
    KivSoundStreamFill(ch, 1);
  } else if (kind == 1) {
    KivSoundStreamFill(ch, 0);
  } else if (kStreamTag[b] == 2) {
    // The buffer stopped. A request taken since (a play just after a stop)
    // has already moved the channel on; only a playing channel whose buffer
    // really stands still is marked stopped.
    if (ch.state == kSndPlaying && !ch.paused && !(ch.buffer && ch.buffer->Playing())) ch.state = kSndStopped;
  }
}

void ThreadProc(SoundSystem* s) {
  plat::AudioMixer& mixer = s->device->mixer();
  const plat::AudioFormat stream{2, 44100, 16};
  bool ok = true;
  for (int b = 0; b < 4 && ok; ++b) {
    plat::AudioBuffer* buf = mixer.CreateBuffer(stream, kKivStreamBytes, 0x1C8 | FocusFlag());
    ok = buf && buf->SetNotifications({{0, b * 3}, {kKivStreamHalf, b * 3 + 1}, {plat::kNotifyStop, b * 3 + 2}});
    if (!buf) break;
    KivSoundChannel& ch = *KivSoundChannelAt(kStreamTag[b], kStreamSlot[b]);
    std::lock_guard<std::mutex> g(ch.lock);
    ch.buffer = buf;
    ch.state = kSndStopped;
    ch.bufferSize = kKivStreamBytes;
    ch.volume = 10000;
    ch.type = kStreamTag[b] == 2 ? 2 : 0;
  }
  {
    std::lock_guard<std::mutex> g(s->waitLock);
    s->ready.store(ok ? 1 : -1);
  }
  s->passed.notify_all();
  if (!ok) return;

  std::vector<int> tokens;
  static constexpr int kTagOrder[6] = {1, 2, 3, 4, 5, 6};
  while (true) {
    const bool frameClock = plat::FrameClockOn();
    if (!frameClock) mixer.WaitNotifications(10, &tokens);
    else if (!WaitTicket(s)) break;
    const uint64_t pass = s->passStarted.fetch_add(1) + 1;
    mixer.SetFocus(!g_kiv || g_kiv->active.load() != 0);
    // The frame time is read before the device renders up to the clock, so
    // a fade step never runs ahead of the sound rendered so far.
    const uint32_t now = g_kiv ? g_kiv->frameTime.load() : plat::TimeGetMs();
    s->device->Pump();
    mixer.WaitNotifications(0, &tokens);
    for (int t : tokens) HandleToken(s, t);
    tokens.clear();
    for (int tag : kTagOrder)
      for (int slot = 0; slot < kGroupSize[tag] && !s->holdSteps.load(); ++slot) {
        KivSoundChannel& ch = *KivSoundChannelAt(tag, slot);
        std::lock_guard<std::mutex> g(ch.lock);
        KivSoundChannelStep(ch, now);
      }
    s->passDone.store(pass);
    if (frameClock) {
      std::lock_guard<std::mutex> g(s->waitLock);
      ++s->ticketsServed;
    }
    SignalPass(s);
    if (s->quit.load()) break;
  }
  // Silence, stop and close whatever is still loaded.
  for (KivSoundChannel& ch : s->channels) {
    std::lock_guard<std::mutex> g(ch.lock);
    if (ch.loaded) KivSoundChannelClose(ch);
    if (ch.buffer) ch.buffer->Release();
    ch.buffer = nullptr;
    ch.loaded = 0;
  }
}

KivSoundChannel* Loaded(KivSoundId id) {
  KivSoundChannel* ch = KivSoundChannelFromId(id);
  return ch;
}

// Queues a request and, when asked, waits for the sound thread to take it.
// A request not taken in time is withdrawn and reported as a failure.
int Request(KivSoundChannel& ch, int code, int loop, int fadeLength, bool wait) {
  SoundSystem* s = g_sound.load();
  if (!s) return 0;
  uint64_t seq;
  {
    std::lock_guard<std::mutex> g(ch.lock);
    seq = ++ch.issued;
    ch.requests.push_back({code, loop, fadeLength, seq});
  }
  g_kivSoundLastOp.store(0);
  WakeThread(s);
  if (!wait) return 1;
  const auto deadline = std::chrono::steady_clock::now() + kRequestWait;
  std::unique_lock<std::mutex> w(s->waitLock);
  while (true) {
    {
      std::lock_guard<std::mutex> g(ch.lock);
      if (ch.done >= seq) return 1;
      if (std::chrono::steady_clock::now() >= deadline) {
        for (auto it = ch.requests.begin(); it != ch.requests.end(); ++it)
          if (it->seq == seq) {
            ch.requests.erase(it);
            break;
          }
        // Taken after all while we looked?
        if (ch.done >= seq) return 1;
        if (ch.done < seq && ch.issued == seq) ch.done = seq;
        KivErrorLogPrintfBasic("sound request %d not taken", code);
        return 0;
      }
    }
    s->passed.wait_for(w, std::chrono::milliseconds(10));
  }
}

// The first free channel of the tag's group, claimed for a load; -1 none.
int Claim(int tag) {
  for (int slot = 0; slot < kGroupSize[tag]; ++slot) {
    KivSoundChannel& ch = *KivSoundChannelAt(tag, slot);
    std::lock_guard<std::mutex> g(ch.lock);
    if (ch.loaded || ch.claimed) continue;
    ch.claimed = true;
    return slot;
  }
  KivErrorLogPrintfBasic("[%d] channel all use", kGroupSize[tag]);
  return -1;
}

void Unclaim(int tag, int slot) {
  KivSoundChannel& ch = *KivSoundChannelAt(tag, slot);
  std::lock_guard<std::mutex> g(ch.lock);
  ch.claimed = false;
}

// Range {use, start, loop start, end} inside `bytes` of data, in whole
// stereo 16-bit frames.
bool RangeOk(const int range[4], int64_t bytes) {
  const int64_t start = range[1], loop = range[2], end = range[3];
  return start >= 0 && loop >= 0 && start < end && loop < end && end <= bytes && start % 4 == 0 && loop % 4 == 0 &&
         end % 4 == 0;
}

bool StaticFormatOk(const KivWavInfo& w) {
  plat::AudioFormat f{w.channels, w.rate, w.bits};
  return (w.formatTag == 1 || w.formatTag == 0xFFFE) && f.Valid() && w.blockAlign == f.BlockAlign();
}

// Makes the static buffer and reads the whole sound into it.
bool MakeStatic(KivSoundChannel& ch, const plat::AudioFormat& f, int64_t bytes) {
  SoundSystem* s = g_sound.load();
  bytes -= bytes % f.BlockAlign();
  if (!s || bytes <= 0 || bytes > (int64_t(1) << 30)) return false;
  ch.buffer = s->device->mixer().CreateBuffer(f, static_cast<uint32_t>(bytes), 0xC8 | FocusFlag());
  if (!ch.buffer) return false;
  ch.bufferSize = static_cast<uint32_t>(bytes);
  ch.end = ch.dataStart + bytes;
  uint8_t *p1, *p2;
  uint32_t n1, n2;
  if (ch.buffer->Lock(0, ch.bufferSize, &p1, &n1, &p2, &n2)) {
    std::memset(p1, 0, n1);
    size_t got = ch.ogg ? KivOggDecode(ch.ogg_source, p1, n1) : 0;
    if (!ch.ogg) {
      plat::FileSeek(ch.file, ch.position, plat::kFileBegin);
      plat::FileRead(ch.file, p1, n1, &got);
    }
    ch.position += static_cast<int64_t>(got);
    ch.buffer->Unlock();
  }
  return true;
}

intptr_t OpenSound(const char* file, KivFileInfo* info) {
  // Read access, shared read, open existing, sequential scan.
  return KivFileCreateEx(file, plat::kGenericRead, 1, plat::kOpenExisting, 0x08000000u, info);
}

bool LoadWav(KivSoundChannel& ch, const char* file, int type, const int range[4]) {
  KivFileInfo info{};
  intptr_t h = OpenSound(file, &info);
  if (h == KIV_INVALID_FILE) return false;
  KivWavInfo w;
  const char* why = nullptr;
  auto read = [h, &info](uint64_t off, void* out, size_t n) { return plat::FileReadAt(h, info.start + off, out, n); };
  bool ok = KivWavParse(read, info.size, &w, &why);
  if (!ok) plat::DebugOutput(std::string(file) + " : " + why + "\n");
  const int64_t base = static_cast<int64_t>(info.start + w.dataOffset);
  const int64_t bytes = static_cast<int64_t>(w.dataSize);
  ch.file = h;
  ch.ogg = 0;
  ch.dataFloor = base;
  ch.dataCeil = base + bytes;
  if (ok && type == 2) {
    if (range && range[0]) {
      ok = RangeOk(range, bytes);
      if (!ok) plat::DebugOutput(std::string(file) + " : range outside the data\n");
      ch.dataStart = base + range[1];
      ch.loopStart = base + range[2];
      ch.end = base + range[3];
    } else {
      ch.dataStart = ch.loopStart = base;
      ch.end = base + (bytes - bytes % 4);
    }
    ch.position = ch.dataStart;
  } else if (ok) {
    ok = StaticFormatOk(w);
    if (!ok) plat::DebugOutput(std::string(file) + " : unsupported sample format\n");
    ch.dataStart = ch.loopStart = ch.position = base;
    ok = ok && MakeStatic(ch, plat::AudioFormat{w.channels, w.rate, w.bits}, bytes);
  }
  if (!ok) {
    plat::FileClose(h);
    ch.file = plat::kInvalidFile;
  }
  return ok;
}

bool LoadOgg(KivSoundChannel& ch, const char* file, int type, const int range[4]) {
  KivFileInfo info{};
  intptr_t h = OpenSound(file, &info);
  auto fail = [](const char* message) {
    if (message) KivErrorLogPrintfBasic("%s", message);
    KivErrorLogPrintfBasic("KivSoundOggCreate Fail");
    return false;
  };
  if (h == KIV_INVALID_FILE) return fail("Ogg File Open Error");
  auto* data = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(info.size), 0));
  if (!data || info.size > 0x7FFFFFFFu) {
    plat::FileClose(h);
    if (data) KivMemoryFree(data);
    return fail("Ogg Memory Alocate Error");
  }
  const bool read = plat::FileReadAt(h, info.start, data, info.size);
  plat::FileClose(h);
  if (!read) {
    KivMemoryFree(data);
    return fail("Ogg File Open Error");
  }
  KivOggSource* src = KivOggOpenMemory(data, info.size);
  if (!src) return fail("Ogg File Open Error");
  const int64_t total = KivOggTotalBytes(src);
  ch.ogg = 1;
  ch.ogg_source = src;
  ch.dataFloor = 0;
  ch.dataCeil = total;
  if (type == 2) {
    if (range && range[0]) {
      if (!RangeOk(range, total)) {
        plat::DebugOutput(std::string(file) + " : range outside the data\n");
        KivOggFree(src);
        ch.ogg_source = nullptr;
        return false;
      }
      ch.dataStart = range[1];
      ch.loopStart = range[2];
      ch.end = range[3];
      KivOggSeekBytes(src, ch.dataStart);
    } else {
      ch.dataStart = ch.loopStart = 0;
      ch.end = total;
    }
    ch.position = ch.dataStart;
    return true;
  }
  ch.dataStart = ch.loopStart = ch.position = 0;
  if (!MakeStatic(ch, plat::AudioFormat{KivOggChannels(src), KivOggRate(src), 16}, total)) {
    KivErrorLogPrintfBasic("Create 2nd buffer Fail");
    KivOggFree(src);
    ch.ogg_source = nullptr;
    return false;
  }
  return true;
}

// Makes the claimed channel loaded with the fields a load leaves.
KivSoundId Publish(int tag, int slot, int type) {
  KivSoundChannel& ch = *KivSoundChannelAt(tag, slot);
  std::lock_guard<std::mutex> g(ch.lock);
  ch.type = type;
  ch.state = kSndIdle;
  ch.volume = 10000;
  ch.playing = ch.ended = ch.paused = ch.fade = ch.drain = 0;
  ch.loaded = 1;
  ch.claimed = false;
  if (ch.buffer) KivSoundApplyVolume(ch);
  return KivSoundMakeId(tag, slot);
}

// Clears what a failed load left in a claimed channel.
void Abandon(int tag, int slot) {
  KivSoundChannel& ch = *KivSoundChannelAt(tag, slot);
  std::lock_guard<std::mutex> g(ch.lock);
  if (tag > 2 && ch.buffer) {
    ch.buffer->Release();
    ch.buffer = nullptr;
  }
  ch.claimed = false;
}

bool IsStreamType(int type) { return type == 0 || type == 2; }

}  // namespace

// ---- Ids ----

int KivSoundGroupSize(int tag) { return tag >= 1 && tag <= 6 ? kGroupSize[tag] : 0; }

int KivSoundTagForType(int type) {
  switch (type) {
    case 2: return 2;
    case 3: return 4;
    case 4: return 5;
    case 5: return 6;
    default: return 3;
  }
}

KivSoundId KivSoundMakeId(int tag, int slot) { return static_cast<KivSoundId>(static_cast<uint32_t>(tag) << 28 | static_cast<uint32_t>(slot)); }

KivSoundChannel* KivSoundChannelAt(int tag, int slot) {
  SoundSystem* s = g_sound.load();
  if (!s || tag < 1 || tag > 6 || slot < 0 || slot >= kGroupSize[tag]) return nullptr;
  return &s->channels[kGroupStart[tag] + slot];
}

KivSoundChannel* KivSoundChannelFromId(KivSoundId id) {
  const uint32_t v = static_cast<uint32_t>(id);
  return KivSoundChannelAt(static_cast<int>(v >> 28), static_cast<int>(v & 0x0FFFFFFFu));
}

plat::AudioDevice* KivSoundDevice(void) {
  SoundSystem* s = g_sound.load();
  return s ? s->device.get() : nullptr;
}

void KivSoundReapplyGroup(int pool) {
  if (pool < 0 || pool >= kKivSoundGroups) return;
  const int tag = kPoolTag[pool];
  for (int slot = 0; slot < kGroupSize[tag]; ++slot) {
    KivSoundChannel* ch = KivSoundChannelAt(tag, slot);
    if (!ch) return;
    std::lock_guard<std::mutex> g(ch->lock);
    if (ch->loaded && !ch->fade) KivSoundApplyVolume(*ch);
  }
}

void KivSoundHoldSteps(bool on) {
  if (SoundSystem* s = g_sound.load()) s->holdSteps.store(on);
}

bool KivSoundSync(void) {
  SoundSystem* s = g_sound.load();
  if (!s || s->ready.load() != 1) return false;
  const uint64_t target = s->passStarted.load() + 1;
  WakeThread(s);
  std::unique_lock<std::mutex> w(s->waitLock);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (s->passDone.load() < target) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    s->passed.wait_for(w, std::chrono::milliseconds(10));
    if (!plat::FrameClockOn()) s->device->mixer().Wake();
  }
  return true;
}

void KivSoundFrameDrain(void) {
  SoundSystem* s = g_sound.load();
  if (!s || s->ready.load() != 1 || !plat::FrameClockOn()) return;
  std::unique_lock<std::mutex> w(s->waitLock);
  s->passed.wait(w, [s] { return s->ticketsServed >= s->ticketsIssued; });
}

void KivSoundFrameTick(void) {
  SoundSystem* s = g_sound.load();
  if (!s || s->ready.load() != 1 || !plat::FrameClockOn()) return;
  uint64_t mine;
  {
    std::lock_guard<std::mutex> g(s->waitLock);
    mine = ++s->ticketsIssued;
  }
  s->ticket.notify_one();
  std::unique_lock<std::mutex> w(s->waitLock);
  s->passed.wait(w, [s, mine] { return s->ticketsServed >= mine; });
}

// ---- Start and end ----

int KivSoundInit(void) {
  if (KivFaultHit(KivFault::kSound)) return 0;
  if (g_sound.load()) return 0;
  KivSoundResetGroupVolumes();
  g_kivSoundLastOp.store(0);
  auto* s = new SoundSystem();
  s->device = plat::AudioDeviceOpen();
  if (s->device) {
    g_sound.store(s);
    s->thread = std::thread(ThreadProc, s);
    std::unique_lock<std::mutex> w(s->waitLock);
    s->passed.wait(w, [s] { return s->ready.load() != 0; });
  }
  if (!s->device || s->ready.load() != 1) {
    plat::MessageBox(g_kiv ? g_kiv->window : nullptr, KivText("サウンドの初期化に失敗。"), "Sound Initialize Error",
                     plat::kMbOk | plat::kMbIconWarning);
    if (s->thread.joinable()) s->thread.join();
    g_sound.store(nullptr);
    delete s;
    return 0;
  }
  if (g_kiv) g_kiv->sound = s;
  // The sound test: one second of the stream format.
  plat::AudioBuffer* test = s->device->mixer().CreateBuffer(plat::AudioFormat{2, 44100, 16}, 176400, 0xC8);
  if (test) test->Release();
  else plat::DebugOutput("Sound Test Error\n");
  return 1;
}

void KivSoundUninit(void) {
  SoundSystem* s = g_sound.load();
  if (!s) return;
  {
    std::lock_guard<std::mutex> g(s->waitLock);
    s->quit.store(true);
  }
  s->ticket.notify_one();
  s->device->mixer().Wake();
  if (s->thread.joinable()) s->thread.join();
  KivBeepRelease();  // the beep's buffer lives in this device's mixer
  g_sound.store(nullptr);
  if (g_kiv && g_kiv->sound == s) g_kiv->sound = nullptr;
  delete s;
}

// ---- Exports ----

extern "C" KIV_API KivSoundId KivSoundLoad(const char* file, int type, const int range[4]) {
  if (!g_sound.load() || !file) return 0;
  const int tag = KivSoundTagForType(type);
  const int stored = type >= 2 && type <= 5 ? type : 1;
  const int slot = Claim(tag);
  if (slot < 0) return 0;
  KivSoundChannel& ch = *KivSoundChannelAt(tag, slot);
  bool ok;
  {
    std::lock_guard<std::mutex> g(ch.lock);
    ch.type = stored;
    ok = KivPathIsOgg(file) ? LoadOgg(ch, file, stored, range) : LoadWav(ch, file, stored, range);
  }
  if (!ok) {
    Abandon(tag, slot);
    return 0;
  }
  return Publish(tag, slot, stored);
}

extern "C" KIV_API KivSoundId KivSoundLoadVerEpeg(const char* file) {
  if (!g_sound.load() || !file) return 0;
  const int slot = Claim(1);
  if (slot < 0) return 0;
  KivSoundChannel& ch = *KivSoundChannelAt(1, slot);
  bool ok = false;
  {
    std::lock_guard<std::mutex> g(ch.lock);
    KivFileInfo info{};
    intptr_t h = OpenSound(file, &info);
    if (h != KIV_INVALID_FILE) {
      KivRawPcmInfo r;
      const char* why = nullptr;
      auto read = [h, &info](uint64_t off, void* out, size_t n) { return plat::FileReadAt(h, info.start + off, out, n); };
      ok = KivRawPcmParse(read, info.size, &r, &why);
      if (ok) {
        const int64_t base = static_cast<int64_t>(info.start + r.dataOffset);
        ch.file = h;
        ch.ogg = 0;
        ch.dataFloor = base;
        ch.dataCeil = base + static_cast<int64_t>(r.dataSize);
        ch.dataStart = ch.position = base;
        ch.loopStart = base + static_cast<int64_t>(r.loopStart);
        ch.end = base + static_cast<int64_t>(r.loopEnd);
      } else {
        KivErrorLogPrintfBasic("%s : %s", file, why);
        plat::FileClose(h);
      }
    }
  }
  if (!ok) {
    Unclaim(1, slot);
    return 0;
  }
  return Publish(1, slot, 0);
}

extern "C" KIV_API KivSoundId KivSoundCopy(KivSoundId source, int type) {
  SoundSystem* s = g_sound.load();
  KivSoundChannel* src = Loaded(source);
  if (!s || !src) return 0;
  if (type == 2) {
    plat::DebugOutput("error : SoundCopy\n");
    return 0;
  }
  const int tag = KivSoundTagForType(type);
  const int slot = Claim(tag);
  if (slot < 0) return 0;
  plat::AudioBuffer* dup = nullptr;
  int srcType = 0, volume = 0, loop = 0;
  int64_t dataStart = 0, loopStart = 0, end = 0, floor = 0, ceil = 0;
  uint32_t size = 0;
  {
    std::lock_guard<std::mutex> g(src->lock);
    // A stream's buffer belongs to its channel and is refilled from its
    // source; a duplicate of it would play whatever the stream holds next.
    if (src->loaded && !IsStreamType(src->type)) {
      dup = s->device->mixer().Duplicate(src->buffer);
      srcType = src->type;
      volume = src->volume;
      loop = src->loop;
      dataStart = src->dataStart;
      loopStart = src->loopStart;
      end = src->end;
      floor = src->dataFloor;
      ceil = src->dataCeil;
      size = src->bufferSize;
    }
  }
  if (!dup) {
    plat::DebugOutput("error : SoundCopy\n");
    Unclaim(tag, slot);
    return 0;
  }
  KivSoundChannel& ch = *KivSoundChannelAt(tag, slot);
  std::lock_guard<std::mutex> g(ch.lock);
  ch.buffer = dup;
  ch.bufferSize = size;
  ch.file = plat::kInvalidFile;
  ch.ogg_source = nullptr;
  ch.ogg = 0;
  ch.type = srcType;
  ch.volume = volume;
  ch.loop = loop;
  ch.dataStart = dataStart;
  ch.loopStart = loopStart;
  ch.end = end;
  ch.position = dataStart;
  ch.dataFloor = floor;
  ch.dataCeil = ceil;
  ch.state = kSndIdle;
  ch.playing = ch.ended = ch.paused = ch.fade = ch.drain = 0;
  ch.loaded = 1;
  ch.claimed = false;
  return KivSoundMakeId(tag, slot);
}

extern "C" KIV_API int KivSoundPlay(KivSoundId id, int loop) {
  KivSoundChannel* ch = Loaded(id);
  if (!ch) return 0;
  {
    std::lock_guard<std::mutex> g(ch->lock);
    if (!ch->loaded) return 0;
    if (!IsStreamType(ch->type)) {
      if (!ch->buffer) return 0;
      ch->buffer->Stop();
      KivSoundApplyVolume(*ch);
      ch->buffer->SetCurrentPosition(0);
      ch->buffer->Play(loop != 0);
      ch->playing = 1;
      return 1;
    }
  }
  return Request(*ch, kSndPlayFade, loop, 10, true);
}

extern "C" KIV_API int KivSoundPlayFade(KivSoundId id, int loop, int fadeMs) {
  KivSoundChannel* ch = Loaded(id);
  if (!ch) return 0;
  {
    std::lock_guard<std::mutex> g(ch->lock);
    if (!ch->loaded) return 0;
  }
  return Request(*ch, kSndPlayFade, loop, fadeMs, true);
}

extern "C" KIV_API int KivSoundStop(KivSoundId id) {
  KivSoundChannel* ch = Loaded(id);
  if (!ch) return 0;
  {
    std::lock_guard<std::mutex> g(ch->lock);
    if (!ch->loaded || !ch->playing) return 0;
  }
  return Request(*ch, kSndStop, 0, 0, true);
}

extern "C" KIV_API int KivSoundStopFade(KivSoundId id, int fadeMs) {
  KivSoundChannel* ch = Loaded(id);
  if (!ch) return 0;
  {
    std::lock_guard<std::mutex> g(ch->lock);
    if (!ch->loaded || !ch->playing) return 0;
  }
  return Request(*ch, kSndFadeOut, 0, fadeMs, true);
}

extern "C" KIV_API int KivSoundPause(KivSoundId id) {
  KivSoundChannel* ch = Loaded(id);
  if (!ch) return 0;
  int code;
  {
    std::lock_guard<std::mutex> g(ch->lock);
    if (!ch->loaded || !ch->playing) return 0;
    ch->paused = !ch->paused;
    code = ch->paused ? kSndPause : kSndResume;
  }
  return Request(*ch, code, 0, 0, false);
}

extern "C" KIV_API int KivSoundRelease(KivSoundId id) {
  KivSoundChannel* ch = Loaded(id);
  if (!ch) return 0;
  {
    std::lock_guard<std::mutex> g(ch->lock);
    if (!ch->loaded) return 0;
  }
  return Request(*ch, kSndRelease, 0, 0, true);
}

extern "C" KIV_API int KivSoundReleaseEx(int type) {
  const int tag = KivSoundTagForType(type);
  for (int slot = 0; slot < KivSoundGroupSize(tag); ++slot) KivSoundRelease(KivSoundMakeId(tag, slot));
  return 1;
}

extern "C" KIV_API int KivSoundPlayIs(KivSoundId id) {
  KivSoundChannel* ch = Loaded(id);
  if (!ch) return 0;
  std::lock_guard<std::mutex> g(ch->lock);
  if (!ch->loaded) return 0;
  if (ch->type == 2) return ch->playing ? 1 : 0;
  return ch->buffer && ch->buffer->Playing() ? 1 : 0;
}

extern "C" KIV_API int KivSoundGetState(KivSoundId id) {
  KivSoundChannel* ch = Loaded(id);
  if (!ch) return 0;  // 0 and ids naming no channel
  std::lock_guard<std::mutex> g(ch->lock);
  return ch->loaded ? ch->fade : -1;
}

extern "C" KIV_API int KivSoundSetVolumeChannel(KivSoundId id, int volume) {
  KivSoundChannel* ch = Loaded(id);
  if (!ch) return 0;
  std::lock_guard<std::mutex> g(ch->lock);
  if (!ch->loaded) return 0;
  ch->volume = volume;
  if (!ch->fade) KivSoundApplyVolume(*ch);  // clamped: the device never refuses it
  return 1;
}

extern "C" KIV_API int KivSoundGetVolumeChannel(KivSoundId id) {
  KivSoundChannel* ch = Loaded(id);
  if (!ch) return 0;  // 0 and ids naming no channel
  std::lock_guard<std::mutex> g(ch->lock);
  return ch->loaded ? ch->volume : -1;
}

extern "C" KIV_API int KivSoundSetPanChannel(KivSoundId id, int pan) {
  KivSoundChannel* ch = Loaded(id);
  if (!ch) return 0;
  std::lock_guard<std::mutex> g(ch->lock);
  if (!ch->loaded || !ch->buffer) return 0;
  return ch->buffer->SetPan(pan) ? 1 : 0;
}

extern "C" KIV_API int KivSoundSetStartEnd(KivSoundId id, int loopStart, int end) {
  KivSoundChannel* ch = Loaded(id);
  if (!ch) return 0;
  std::lock_guard<std::mutex> g(ch->lock);
  if (!ch->loaded) return 0;
  // Both inside the source's data, the loop not empty, on whole frames of
  // the stream format.
  const int64_t ls = loopStart, e = end;
  if (ls < ch->dataFloor || e > ch->dataCeil || ls >= e || (ls - ch->dataFloor) % 4 || (e - ch->dataFloor) % 4) {
    plat::DebugOutput("SoundSetStartEnd : outside the data\n");
    return 0;
  }
  ch->loopStart = ls;
  ch->end = e;
  return 1;
}

extern "C" KIV_API int KivSoundGetChannelCount(int type) {
  const int tag = type >= 1 && type <= 5 ? KivSoundTagForType(type) : 1;
  int free = 0;
  for (int slot = 0; slot < KivSoundGroupSize(tag); ++slot) {
    KivSoundChannel* ch = KivSoundChannelAt(tag, slot);
    if (!ch) return 0;
    std::lock_guard<std::mutex> g(ch->lock);
    if (!ch->loaded && !ch->claimed) ++free;
  }
  return free;
}
