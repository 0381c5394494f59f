// Music commands (group 4). Two bgm channels each hold one streamed engine
// sound. A cross-fade is bgm_stop with a fade followed by bgm_play on
// channel -1: the old music moves to channel 1 and fades out there while
// the new one starts on channel 0. Sounds that have stopped are released
// by bgm_frame, not by the command that stopped them.
#include "sound/bgm.h"

#include <algorithm>
#include <cstring>

#include "component_entries.h"
#include "sound/sound_shared.h"
#include "start/game_debug_log.h"
#include "vm/checked_index.h"
#include "vm/vm.h"

namespace {

BgmChannel* Channel(VmContext* ctx, int channel) { return &ctx->sound.bgm[channel]; }

// bgm channels 0 and 1; -1 too where the command takes it.
bool ChannelOk(int32_t channel, bool allow_both) {
  if (channel == 0 || channel == 1 || (allow_both && channel == -1)) return true;
  game_debug_log(kDebugWindowError, "sound ch entry error [%d]", channel);
  return false;
}

// The fade argument of bgm_play and bgm_play2: a sixteenth while skipping,
// then four times that when the fade-in flag is set.
int32_t PlayFadeMs(VmContext* ctx, uint32_t flags, int32_t fade_ms) {
  if (sound_skipping(ctx)) fade_ms /= 16;
  return (flags & kBgmFadeIn) ? fade_ms * 4 : 0;
}

void SetGroupVolume(VmContext* ctx) {
  sound_calls().setVolume(sound_system_data(ctx).word[kSysBgmVolume], kBgmVolumeGroup);
}

// Stops a channel's music with a fade unless it already fades out with a
// non-zero fade; the frame update releases it once it stops.
void StopChannel(VmContext* ctx, int channel, int32_t fade_ms) {
  BgmChannel* ch = Channel(ctx, channel);
  if (ch->sound && !(sound_calls().getState(ch->sound) == 2 && fade_ms != 0))
    sound_calls().stopFade(ch->sound, fade_ms);
  ch->name = 0;
}

int32_t ClampLevel(int64_t level) { return static_cast<int32_t>(std::clamp<int64_t>(level, -1000, 1000)); }

int CmdBgmPlay(VmContext* ctx) {
  int32_t channel = value_stack_pop(ctx);
  const uint32_t name = static_cast<uint32_t>(value_stack_pop(ctx));
  const uint32_t flags = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t fade_ms = value_stack_pop(ctx);
  const int32_t start = value_stack_pop(ctx);
  const int32_t loop_start = value_stack_pop(ctx);
  const int32_t end = value_stack_pop(ctx);
  char file[kSoundNameBytes + 1];
  const bool named = sound_operand_name(ctx, name, file);
  game_debug_log(kDebugWindowCommand, "bgm_play  %d, %s, %d, %d, %d, %d, %d", channel, file,
                 static_cast<int>(flags), fade_ms, start, loop_start, end);
  if (!ChannelOk(channel, true)) return 0;
  SoundState& s = ctx->sound;
  if (channel == -1) {
    const int free_streams = sound_calls().channelCount(kBgmVolumeGroup);
    if (free_streams <= 0) {
      sound_calls().releaseEx(kBgmVolumeGroup);
      s.bgm[0] = BgmChannel{};
      s.bgm[1] = BgmChannel{};
      std::memset(s.bgmFile, 0, sizeof s.bgmFile);
    } else if (free_streams == 1 && s.bgm[0].sound) {
      // The playing music moves to channel 1 and keeps playing there. (When
      // channel 0 is empty the busy stream is channel 1's own, left alone.)
      if (s.bgm[1].sound) sound_calls().release(s.bgm[1].sound);
      s.bgm[1] = s.bgm[0];
      std::memcpy(s.bgmFile[1], s.bgmFile[0], sizeof s.bgmFile[1]);
      s.bgm[0] = BgmChannel{};
      std::memset(s.bgmFile[0], 0, sizeof s.bgmFile[0]);
    }
    channel = 0;
  }
  bgm_channel_clear(ctx, channel);
  BgmChannel* ch = Channel(ctx, channel);
  ch->name = name;
  ch->flags = flags;
  ch->level = 100;
  ch->range[0] = (flags & kBgmRange) ? 1 : 0;
  ch->range[1] = start;
  ch->range[2] = loop_start;
  ch->range[3] = end;
  std::memcpy(s.bgmFile[channel], file, sizeof file);
  ch->sound = named ? sound_load_by_name(file, kBgmVolumeGroup, ch->range) : 0;
  if (!ch->sound) {
    game_debug_log(kDebugWindowError, "sound load error [%s]", file);
    return 0;
  }
  sound_calls().playFade(ch->sound, (flags & kBgmLoop) ? 1 : 0, PlayFadeMs(ctx, flags, fade_ms));
  return 1;
}

int CmdBgmStop(VmContext* ctx) {
  const int32_t channel = value_stack_pop(ctx);
  int32_t fade_ms = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "bgm_stop  %d, %d", channel, fade_ms);
  if (!ChannelOk(channel, true)) return 0;
  if (sound_skipping(ctx)) fade_ms /= 16;
  if (channel == -1) {
    BgmChannel* second = Channel(ctx, 1);
    if (second->sound && sound_calls().playIs(second->sound)) StopChannel(ctx, 1, fade_ms);
    second->name = 0;
  }
  StopChannel(ctx, channel == -1 ? 0 : channel, fade_ms);
  return 1;
}

int CmdBgmSetVolume(VmContext* ctx) {
  const int32_t percent = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "bgm_set_volume  %d", percent);
  // The factor 0.01 is a single-precision constant: 50 gives 4999.
  constexpr float kPercent = 0.01f;
  const double v = static_cast<double>(percent) * static_cast<double>(kPercent) * 10000.0;
  int32_t& word = sound_system_data(ctx).word[kSysBgmVolume];
  word = static_cast<int32_t>(std::clamp(v, -2147483648.0, 2147483647.0));
  sound_calls().setVolume(word, kBgmVolumeGroup);
  return 1;
}

int CmdBgmGetVolume(VmContext* ctx) {
  const int32_t v = static_cast<int32_t>(int64_t{sound_system_data(ctx).word[kSysBgmVolume]} * 100 / 10000);
  game_debug_log(kDebugWindowCommand, "[%d] bgm_get_volume", v);
  command_set_result(ctx, v);
  return 1;
}

int CmdBgmSetVolumeUsers(VmContext* ctx) {
  const int32_t channel = value_stack_pop(ctx);
  const int32_t target = value_stack_pop(ctx);
  const int32_t fade_ms = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "bgm_set_volume_users  %d, %d, %d", channel, target, fade_ms);
  if (!ChannelOk(channel, true)) return 0;
  const uint32_t now = sound_calls().now();
  for (int i = 0; i < kBgmChannelCount; ++i) {
    if (channel != -1 && channel != i) continue;
    BgmChannel* ch = Channel(ctx, i);
    if (ch->flags & kBgmFading) {
      // The running fade is folded into the level first.
      const uint32_t elapsed = now - ch->fadeStart;
      if (ch->fadeLength == 0 || elapsed >= ch->fadeLength)
        ch->level = ClampLevel(int64_t{ch->level} + ch->fadeDelta);
      else
        ch->level = ClampLevel(ch->level + static_cast<int64_t>(static_cast<float>(elapsed) /
                                                                static_cast<float>(ch->fadeLength) * ch->fadeDelta));
    }
    // Levels are percentages; the target is held to 0..100 so that the
    // arithmetic on them stays in range.
    ch->fadeDelta = std::clamp(target, 0, 100) - ch->level;
    ch->flags |= kBgmFading;
    ch->fadeLength = sound_skipping(ctx) ? 0 : static_cast<uint32_t>(std::max(fade_ms, 0));
    ch->fadeStart = now;
    bgm_fade_step(ch);
  }
  return 1;
}

int CmdBgmSetAutoVolume(VmContext* ctx) {
  const int32_t on = value_stack_pop(ctx);
  const int32_t level = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "bgm_set_auto_volume %d, %d", on, level);
  SystemData& sys = sound_system_data(ctx);
  sys.word[kSysBgmAutoVolume] = on;
  sys.word[kSysBgmAutoLevel] = static_cast<int32_t>(100 - int64_t{level});
  if (on == 0) SetGroupVolume(ctx);
  return 1;
}

int CmdBgmPause(VmContext* ctx) {
  game_debug_puts(kDebugWindowCommand, "bgm_pause");
  BgmChannel* second = Channel(ctx, 1);
  if (second->sound && sound_calls().playIs(second->sound)) {
    sound_calls().release(second->sound);
    second->sound = 0;
  }
  BgmChannel* first = Channel(ctx, 0);
  sound_calls().pause(first->sound);
  first->flags ^= kBgmPaused;
  return 1;
}

int CmdGetBgmFilename(VmContext* ctx) {
  const int32_t channel = value_stack_pop(ctx);
  if (!ChannelOk(channel, false)) return 0;
  const int32_t name = static_cast<int32_t>(Channel(ctx, channel)->name);
  game_debug_log(kDebugWindowCommand, "[%d]get_bgm_filename %d", name, channel);
  command_set_result(ctx, name);
  return 1;
}

int CmdBgmLoad(VmContext* ctx) {
  const int32_t channel = value_stack_pop(ctx);
  const uint32_t name = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t start = value_stack_pop(ctx);
  const int32_t loop_start = value_stack_pop(ctx);
  const int32_t end = value_stack_pop(ctx);
  char file[kSoundNameBytes + 1];
  const bool named = sound_operand_name(ctx, name, file);
  game_debug_log(kDebugWindowCommand, "bgm_load %d, %s, %d, %d, %d", channel, file, start, loop_start, end);
  if (!ChannelOk(channel, false)) return 0;
  bgm_channel_clear(ctx, channel);
  BgmChannel* ch = Channel(ctx, channel);
  ch->name = name;
  ch->flags = kBgmLoaded;
  ch->level = 100;
  ch->range[0] = (start || loop_start || end) ? 1 : 0;
  ch->range[1] = start;
  ch->range[2] = loop_start;
  ch->range[3] = end;
  std::memcpy(ctx->sound.bgmFile[channel], file, sizeof file);
  ch->sound = named ? sound_load_by_name(file, kBgmVolumeGroup, ch->range) : 0;
  if (!ch->sound) {
    game_debug_log(kDebugWindowError, "sound load error [%s]", file);
    return 0;
  }
  return 1;
}

int CmdBgmPlay2(VmContext* ctx) {
  const int32_t channel = value_stack_pop(ctx);
  const uint32_t flags = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t fade_ms = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "bgm_play2  %d, %d, %d", channel, static_cast<int>(flags), fade_ms);
  if (!ChannelOk(channel, false)) return 0;
  BgmChannel* ch = Channel(ctx, channel);
  ch->flags = flags & ~kBgmLoaded;
  sound_calls().playFade(ch->sound, (flags & kBgmLoop) ? 1 : 0, PlayFadeMs(ctx, flags, fade_ms));
  return 1;
}

}  // namespace

void bgm_fade_step(BgmChannel* ch) {
  const uint32_t elapsed = sound_calls().now() - ch->fadeStart;
  int32_t value;
  if (elapsed >= ch->fadeLength) {
    ch->level = ClampLevel(int64_t{ch->level} + ch->fadeDelta);
    ch->flags &= ~kBgmFading;
    value = ch->level;
  } else {
    value = ClampLevel(ch->level + static_cast<int64_t>(static_cast<float>(elapsed) /
                                                        static_cast<float>(ch->fadeLength) * ch->fadeDelta));
  }
  if (ch->sound) sound_calls().setVolumeChannel(ch->sound, value * 10000 / 100);
}

void bgm_channel_clear(VmContext* ctx, int channel) {
  BgmChannel* ch = Channel(ctx, channel);
  if (ch->sound) sound_calls().release(ch->sound);
  *ch = BgmChannel{};
  std::memset(ctx->sound.bgmFile[channel], 0, sizeof ctx->sound.bgmFile[channel]);
}

void bgm_commands_bind() {
  static const CommandBinding kCommands[] = {
      {"bgm_play", CmdBgmPlay},
      {"bgm_stop", CmdBgmStop},
      {"bgm_set_volume", CmdBgmSetVolume},
      {"bgm_get_volume", CmdBgmGetVolume},
      {"bgm_set_volume_users", CmdBgmSetVolumeUsers},
      {"bgm_set_auto_volume", CmdBgmSetAutoVolume},
      {"bgm_pause", CmdBgmPause},
      {"get_bgm_filename", CmdGetBgmFilename},
      {"bgm_load", CmdBgmLoad},
      {"bgm_play2", CmdBgmPlay2},
  };
  command_bind_all(kCommands);
}

// ---- Per frame and release ----

void bgm_frame(VmContext* ctx) {
  for (int i = 0; i < kBgmChannelCount; ++i) {
    BgmChannel* ch = Channel(ctx, i);
    if (!ch->sound || (ch->flags & kBgmLoaded)) continue;
    if (!sound_calls().playIs(ch->sound))
      bgm_channel_clear(ctx, i);
    else if (ch->flags & kBgmFading)
      bgm_fade_step(ch);
  }
}

void bgm_release(VmContext* ctx) {
  for (int i = 0; i < kBgmChannelCount; ++i) bgm_channel_clear(ctx, i);
  SetGroupVolume(ctx);
}

void* bgm_debug_area(VmContext* ctx) { return ctx->sound.bgm; }
