// Sound-effect commands (group 5). An se channel is empty, loaded (by
// se_load: it keeps its sound until se_unload, se_stop without a fade, an
// se_load over it or a reset) or playing; one-shots are released by se_frame
// once they end. A play with flag bit 1 blocks the script until the effect
// ends or the player skips.
#include "sound/se.h"

#include <algorithm>
#include <cstring>

#include "component_entries.h"
#include "platform/core/text_encoding.h"
#include "sound/bgm.h"
#include "sound/sound_shared.h"
#include "start/game_debug_log.h"
#include "vm/checked_index.h"
#include "vm/vm.h"

namespace {

constexpr uint32_t kSkipDropMask = kSkipStateMode | kSkipStateCtrl;

bool ChannelOk(int32_t channel, bool allow_all) {
  if (allow_all && channel == -1) return true;
  return index_in(channel, kSeChannelCount, "se channel");
}
bool KindOk(int32_t kind) { return index_in(kind, 3, "se kind"); }
bool EntryOk(int32_t entry) { return index_in(entry, kSeInfoCount, "se info entry"); }

int32_t* InfoEntry(VmContext* ctx, int entry) {
  return &sound_system_data(ctx).word[kSysSeInfo + entry * kSeInfoWords];
}
// Entry words: 0 defined, 1 enabled, 2 volume, 3..6 the file name.

// A one-shot without "play even while skipping" is dropped while skip mode
// is on or the skip key is held.
bool DroppedWhileSkipping(const VmContext* ctx, uint32_t flags) {
  return !(flags & kSeLoop) && !(flags & kSeEvenSkipping) && (get_skip_state(ctx) & kSkipDropMask);
}

// Waiting for an effect's end: runs at the start of se_play, se_play_ex and
// se_wait. True when the command is to end here (it runs again next frame,
// or the wait has just ended); its arguments were popped by the run that
// began the wait.
bool SeWaitPoll(VmContext* ctx) {
  SoundState& s = ctx->sound;
  if (s.seWait == 0) return false;
  const int32_t channel = s.seWait - 1;
  if (index_in(channel, kSeChannelCount, "se wait channel")) {
    SeChannel& ch = s.se[channel];
    const bool playing = ch.sound && sound_calls().playIs(ch.sound);
    if (playing && get_skip_state(ctx) == 0 && !(static_cast<uint32_t>(KivInputGetKeyPush()) & 0x800006u)) {
      command_wait_again(ctx);
      return true;
    }
    if (playing) {
      sound_calls().stopFade(ch.sound, 1000);
    } else if (ch.sound && !(ch.flags & kSeLoaded)) {
      sound_calls().release(ch.sound);
      ch.sound = 0;
    }
  }
  ctx->pauseTimer.duration = 0;
  s.seWait = 0;
  command_yield(ctx);
  return true;
}

// The play part shared by se_play and se_play_ex: pan, the start (faded in
// or not) and the wait for the end.
void Start(VmContext* ctx, int channel, int32_t fade_ms) {
  SoundState& s = ctx->sound;
  SeChannel& ch = s.se[channel];
  if (ch.flags & kSeApplyPan) {
    ch.pan = s.pendingPan;
    s.pendingPan = 0;
    sound_calls().setPanChannel(ch.sound, ch.pan);
  }
  s.seWait = (ch.flags & kSeWait) ? channel + 1 : 0;
  const int loop = (ch.flags & kSeLoop) ? 1 : 0;
  if (ch.flags & kSeFadeIn)
    sound_calls().playFade(ch.sound, loop, fade_ms);
  else
    sound_calls().play(ch.sound, loop);
  if (s.seWait) {
    // Button input is held back while the script waits.
    ctx->pauseTimer.duration = 0xFFFFFFFFu;
    command_wait_again(ctx);
  }
}

// Loads the channel's file with its kind's type and applies the se info
// volume; false, logged, when it cannot be loaded.
bool Load(VmContext* ctx, int channel, const char* file) {
  SeChannel& ch = ctx->sound.se[channel];
  std::memcpy(ctx->sound.seFile[channel], file, kSoundNameBytes + 1);
  ch.sound = file[0] ? sound_load_by_name(file, se_kind_type(ch.kind), nullptr) : 0;
  if (!ch.sound) {
    game_debug_log(kDebugWindowError, "load error : %s", file);
    return false;
  }
  se_info_volume_apply(ctx, ch.sound, file);
  return true;
}

int CmdSeLoad(VmContext* ctx) {
  const uint32_t name = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t channel = value_stack_pop(ctx);
  const int32_t kind = value_stack_pop(ctx);
  char file[kSoundNameBytes + 1];
  sound_operand_name(ctx, name, file);
  game_debug_log(kDebugWindowCommand, "se_load  %s, %d, %d", file, channel, kind);
  if (!ChannelOk(channel, false) || !KindOk(kind)) return 0;
  se_channel_clear(ctx, channel);
  SeChannel& ch = ctx->sound.se[channel];
  ch.name = name;
  ch.kind = kind;
  ch.flags = kSeLoaded;
  ch.pan = 0;
  return Load(ctx, channel, file) ? 1 : 0;
}

int CmdSePlay(VmContext* ctx) {
  if (SeWaitPoll(ctx)) return 1;
  const int32_t channel = value_stack_pop(ctx);
  const uint32_t flags = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t fade_ms = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "se_play  %d, %d, %d", channel, static_cast<int>(flags), fade_ms);
  if (!ChannelOk(channel, false)) return 0;
  SeChannel& ch = ctx->sound.se[channel];
  // A channel loaded by se_load stays loaded after it plays.
  ch.flags = (flags & ~kSeLoaded) | (ch.flags & kSeLoaded);
  if (DroppedWhileSkipping(ctx, flags)) return 1;
  Start(ctx, channel, fade_ms);
  return 1;
}

int CmdSePlayEx(VmContext* ctx) {
  if (SeWaitPoll(ctx)) return 1;
  int32_t channel = value_stack_pop(ctx);
  const uint32_t name = static_cast<uint32_t>(value_stack_pop(ctx));
  const uint32_t flags = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t fade_ms = value_stack_pop(ctx);
  const int32_t kind = value_stack_pop(ctx);
  char file[kSoundNameBytes + 1];
  sound_operand_name(ctx, name, file);
  game_debug_log(kDebugWindowCommand, "se_play_ex [%d]ch  %s, %d, %d, %d", channel, file,
                 static_cast<int>(flags), fade_ms, kind);
  if (!ChannelOk(channel, true) || !KindOk(kind)) return 0;
  SoundState& s = ctx->sound;
  if (channel == -1) {
    channel = 0;
    for (int i = 0; i < kSeChannelCount; ++i)
      if (!s.se[i].sound) {
        channel = i;
        break;
      }
  } else if (s.se[channel].flags & kSeLoaded) {
    game_debug_log(kDebugWindowCommand, plat::Sjis("[%d]ch 指定したチャンネルは現在使用不可です [se_play_ex]"), channel);
  }
  // Whatever the channel holds, a loaded sound too, is released first, so
  // that no engine channel is left without an owner.
  se_channel_clear(ctx, channel);
  SeChannel& ch = s.se[channel];
  ch.flags = flags & ~kSeLoaded;
  if (DroppedWhileSkipping(ctx, flags)) return 1;
  ch.name = name;
  ch.kind = kind;
  if (!Load(ctx, channel, file)) return 0;
  Start(ctx, channel, fade_ms);
  return 1;
}

int CmdSeStop(VmContext* ctx) {
  const int32_t channel = value_stack_pop(ctx);
  const int32_t fade_on = value_stack_pop(ctx);
  const int32_t fade_ms = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "se_stop  %d, %d, %d", channel, fade_on, fade_ms);
  if (!ChannelOk(channel, true)) return 0;
  const bool fade = fade_on && !sound_skipping(ctx);
  for (int i = 0; i < kSeChannelCount; ++i) {
    if (channel != -1 && channel != i) continue;
    SeChannel& ch = ctx->sound.se[i];
    if (!ch.sound) continue;
    if (fade)
      sound_calls().stopFade(ch.sound, fade_ms);
    else if (ch.flags & kSeLoaded)
      sound_calls().stop(ch.sound);
    else
      se_channel_clear(ctx, i);
  }
  return 1;
}

int CmdSeSetVolume(VmContext* ctx) {
  const int32_t percent = value_stack_pop(ctx);
  const int32_t kind = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "se_set_volume %d", percent);
  if (!KindOk(kind)) return 0;
  const int32_t v = sound_volume_from_percent(percent);
  sound_calls().setVolume(v, static_cast<unsigned>(se_kind_type(kind)));
  sound_system_data(ctx).word[kSysSe0Volume + kind] = v;
  return 1;
}

int CmdSeGetVolume(VmContext* ctx) {
  const int32_t kind = value_stack_pop(ctx);
  if (!KindOk(kind)) return 0;
  int volume = 0;
  sound_calls().getVolume(&volume, static_cast<unsigned>(se_kind_type(kind)));
  const int32_t v = static_cast<int32_t>(int64_t{volume} * 100 / 10000);
  game_debug_log(kDebugWindowCommand, "[%d] se_get_volume", v);
  command_set_result(ctx, v);
  return 1;
}

int CmdSeUnload(VmContext* ctx) {
  const int32_t channel = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "se_unload %d", channel);
  if (!ChannelOk(channel, true)) return 0;
  for (int i = 0; i < kSeChannelCount; ++i)
    if ((channel == -1 || channel == i) && ctx->sound.se[i].sound) se_channel_clear(ctx, i);
  return 1;
}

int CmdSeWait(VmContext* ctx) {
  if (SeWaitPoll(ctx)) return 1;
  const int32_t channel = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "se_wait  %d", channel);
  if (!ChannelOk(channel, false)) return 0;
  ctx->sound.seWait = channel + 1;
  ctx->pauseTimer.duration = 0xFFFFFFFFu;
  command_wait_again(ctx);
  return 1;
}

int CmdSetSeInfo(VmContext* ctx) {
  const int32_t entry = value_stack_pop(ctx);
  const uint32_t name = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t volume = value_stack_pop(ctx);
  const int32_t enabled = value_stack_pop(ctx);
  char file[kSoundNameBytes + 1];
  sound_operand_name(ctx, name, file);
  game_debug_log(kDebugWindowCommand, "set_se_info  %d, %s, %d, %d", entry, file, volume, enabled);
  if (!EntryOk(entry)) return 0;
  int32_t* e = InfoEntry(ctx, entry);
  e[0] = 1;
  e[1] = enabled;
  e[2] = volume;
  // The field holds 16 bytes: a longer name is cut there, so that the next
  // entry stays intact (a name of exactly 16 bytes fills it unterminated).
  sound_info_name_set(e, file);
  return 1;
}

// The entry's words, or null after "initialize error" for an undefined one.
int32_t* DefinedEntry(VmContext* ctx, int32_t entry) {
  int32_t* e = InfoEntry(ctx, entry);
  if (e[0]) return e;
  game_debug_log(kDebugWindowError, "initialize error : _se_enable [%d]", entry);
  return nullptr;
}

int CmdGetSeExVolume(VmContext* ctx) {
  const int32_t entry = value_stack_pop(ctx);
  if (!EntryOk(entry)) return 0;
  const int32_t* e = DefinedEntry(ctx, entry);
  if (!e) return 1;
  game_debug_log(kDebugWindowCommand, "[%d] get_se_ex_volume %d", e[2], entry);
  command_set_result(ctx, e[2]);
  return 1;
}

int CmdSetSeExVolume(VmContext* ctx) {
  const int32_t entry = value_stack_pop(ctx);
  const int32_t volume = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "set_se_ex_volume %d, %d", entry, volume);
  if (!EntryOk(entry)) return 0;
  int32_t* e = InfoEntry(ctx, entry);
  e[0] = 1;
  e[1] = 1;
  e[2] = volume;
  return 1;
}

int CmdSeEnable(VmContext* ctx) {
  const int32_t entry = value_stack_pop(ctx);
  const int32_t on = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "se_enable  %d, %d", entry, on);
  if (!EntryOk(entry)) return 0;
  if (int32_t* e = DefinedEntry(ctx, entry)) e[1] = on;
  return 1;
}

int CmdIsSeEnable(VmContext* ctx) {
  const int32_t entry = value_stack_pop(ctx);
  if (!EntryOk(entry)) return 0;
  const int32_t* e = DefinedEntry(ctx, entry);
  if (!e) return 1;
  game_debug_log(kDebugWindowCommand, "[%d] is_se_enable  %d, %d", e[1], entry, e[0]);
  command_set_result(ctx, e[1]);
  return 1;
}

int CmdSeSetPan(VmContext* ctx) {
  const int32_t step = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "se_set_pan  %d", step);
  ctx->sound.pendingPan = sound_pan_from_step(ctx, step);
  return 1;
}

}  // namespace

// An action's sound step: plays what se channel n holds, looping when asked,
// at once or faded in over fade_ms; the channel keeps its other flags.
void se_action_play(VmContext* ctx, int channel, int loop, int fade_ms) {
  if (channel < 0 || channel >= kSeChannelCount) return;
  SeChannel& ch = ctx->sound.se[channel];
  if (!ch.sound) return;
  if (loop) ch.flags |= kSeLoop;
  if (fade_ms == 0) {
    sound_calls().play(ch.sound, loop ? 1 : 0);
  } else {
    ch.flags |= kSeFadeIn;
    sound_calls().playFade(ch.sound, loop ? 1 : 0, fade_ms);
  }
}

void se_info_volume_apply(VmContext* ctx, int32_t sound, const char* name) {
  const size_t length = strnlen(name, kSoundNameBytes);
  for (int i = 0; i < kSeInfoCount; ++i) {
    const int32_t* e = InfoEntry(ctx, i);
    if (e[0] && sound_info_name_length(e) == length && std::memcmp(e + 3, name, length) == 0)
      sound_calls().setVolumeChannel(sound, e[2]);
  }
}

void se_channel_clear(VmContext* ctx, int channel) {
  SeChannel& ch = ctx->sound.se[channel];
  if (ch.sound) sound_calls().release(ch.sound);
  ch = SeChannel{};
  std::memset(ctx->sound.seFile[channel], 0, sizeof ctx->sound.seFile[channel]);
}

void se_commands_bind() {
  static const CommandBinding kCommands[] = {
      {"se_load", CmdSeLoad},
      {"se_play", CmdSePlay},
      {"se_play_ex", CmdSePlayEx},
      {"se_stop", CmdSeStop},
      {"se_set_volume", CmdSeSetVolume},
      {"se_get_volume", CmdSeGetVolume},
      {"se_unload", CmdSeUnload},
      {"se_wait", CmdSeWait},
      {"set_se_info", CmdSetSeInfo},
      {"get_se_ex_volume", CmdGetSeExVolume},
      {"set_se_ex_volume", CmdSetSeExVolume},
      {"se_enable", CmdSeEnable},
      {"is_se_enable", CmdIsSeEnable},
      {"se_set_pan", CmdSeSetPan},
  };
  command_bind_all(kCommands);
}

// ---- Per frame and release ----

void se_frame(VmContext* ctx) {
  for (int i = 0; i < kSeChannelCount; ++i) {
    const SeChannel& ch = ctx->sound.se[i];
    if (ch.sound && !(ch.flags & kSeLoaded) && !sound_calls().playIs(ch.sound)) se_channel_clear(ctx, i);
  }
}

void se_release(VmContext* ctx) {
  for (int i = 0; i < kSeChannelCount; ++i) se_channel_clear(ctx, i);
  ctx->sound.seWait = 0;
}

void* se_debug_area(VmContext* ctx) { return ctx->sound.se; }

void sound_commands_install() {
  bgm_commands_bind();
  se_commands_bind();
}
