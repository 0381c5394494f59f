// The voice parts of a save and of the data files on any input: the ".mix"
// record reader (at most eight names, each ending inside its record), the
// voice block (restored over a recording stand-in for the engine's sound,
// its auto-pan entries applied to channel 0, saved again) and the backlog
// block (refused or read whole with every field ended, then entries added
// and saved). The first input byte picks the reader.
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "component_entries.h"
#include "history/history.h"
#include "sound/sound_shared.h"
#include "start/game_record.h"
#include "voice/voice.h"

namespace {

int g_next = 1;
KivSoundId Load(const char* file, int type, const int*) {
  if (strnlen(file, 40) > 36) __builtin_trap();
  return (type << 28) | (g_next++ & 0xFFFFFF);
}
int Any1(KivSoundId) { return 1; }
int Any2(KivSoundId, int) { return 1; }
int Any3(KivSoundId, int, int) { return 1; }
int Type(int) { return 1; }
int State(KivSoundId) { return 0; }
int SetVolume(int, unsigned) { return 1; }
int GetVolume(int* out, unsigned) { return *out = 0, 1; }
uint32_t Now() { return 12345; }

const SoundCalls kCalls = {Load, Any2, Any3, Any1, Any2, Any1, Any1, Type, Any1, State, SetVolume, GetVolume,
                           Any2, Any2, Type, Now};

void Mix(std::span<const uint8_t> data) {
  const std::vector<std::string> parts = voice_mix_parts(data);
  if (parts.size() > 8) __builtin_trap();
  for (const std::string& p : parts)
    if (p.size() > 31 || std::memchr(p.data(), 0, p.size())) __builtin_trap();
}

void Voice(VmContext* ctx, std::span<const uint8_t> data) {
  uint32_t cursor = 0;
  voice_restore(ctx, data, &cursor);
  if (cursor > data.size()) __builtin_trap();
  sound_system_data(ctx).word[kSysVoiceAutopan] = 1;
  for (int e = 0; e < kVoiceAutopanEntries; ++e) {
    VoiceChannel& ch = ctx->voice.channels[0];
    ch.sound = 0x10000001;
    ch.panTarget = static_cast<int32_t>(ctx->voice.autopan[e].target);
    ch.panMode = static_cast<int32_t>(ctx->voice.autopan[e].mode);
    ch.panActive = 2;
    voice_autopan_apply(ctx, 0);
  }
  voice_frame(ctx);
  std::vector<uint8_t> out(4096);
  uint32_t used = 0;
  voice_save(ctx, out, &used);
  voice_release(ctx);
}

void Backlog(VmContext* ctx, std::span<const uint8_t> data) {
  uint32_t cursor = 0;
  const bool ok = history_restore(ctx, data, &cursor);
  if (cursor > data.size() || (ok && cursor != kHistorySaveBytes)) __builtin_trap();
  HistoryState& h = ctx->history;
  if (h.count < 0 || h.count > kHistoryEntries) __builtin_trap();
  for (const BacklogEntry& e : h.entries)
    if (!std::memchr(e.name, 0, sizeof e.name) || !std::memchr(e.text, 0, sizeof e.text) ||
        !std::memchr(e.voice, 0, sizeof e.voice))
      __builtin_trap();
  // The oldest entry's text becomes a new line: cut on a character, ended.
  history_entry_add(&h, h.entries[kHistoryEntries - 1].name, h.entries[kHistoryEntries - 1].text, h.entries[0].voice);
  if (std::strlen(h.entries[0].text) > 254) __builtin_trap();
  std::vector<uint8_t> out(kHistorySaveBytes);
  uint32_t used = 0;
  history_save(ctx, out, &used);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  sound_calls_set(&kCalls);
  auto record = std::make_unique<GameRecord>();
  VmContext* ctx = &record->ctx;
  std::vector<uint8_t> copy(data + 1, data + size);  // exact size: a read past it is caught
  switch (data[0] % 3) {
    case 0: Mix(copy); break;
    case 1: Voice(ctx, copy); break;
    default: Backlog(ctx, copy); break;
  }
  return 0;
}
