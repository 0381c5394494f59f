// The voice commands (group 13). Character numbers (-1 = the default entry,
// 0..31) and auto-pan entries (0..15) are checked before anything is
// written; names longer than their 16-byte fields are refused whole.
#include <cstring>

#include "component_entries.h"
#include "data/script_tables.h"
#include "sound/sound_shared.h"
#include "start/game_debug_log.h"
#include "vm/vm.h"
#include "vm/vm_context.h"
#include "voice/voice.h"

namespace {

// The system words of a character's info entry; null (logged) outside -1..31.
int32_t* Info(VmContext* ctx, int32_t character, const char* command) {
  if (character < -1 || character >= kVoiceInfoCount) {
    game_debug_log(kDebugWindowError, "%s : character error [%d]", command, character);
    return nullptr;
  }
  return voice_info_entry(ctx, character);
}

bool Skipping(VmContext* ctx) { return get_skip_state(ctx) != 0; }

void Channel0Volume(VmContext* ctx, int32_t volume) {
  const KivSoundId s = ctx->voice.channels[0].sound;
  if (s) sound_calls().setVolumeChannel(s, volume);
}

int CmdVoicePlay(VmContext* ctx) {
  const uint32_t name = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t fade_on = value_stack_pop(ctx);
  const int32_t fade_ms = value_stack_pop(ctx);
  char file[kSoundNameBytes + 1];
  sound_operand_name(ctx, name, file);
  game_debug_log(kDebugWindowCommand, "voice_play  %s, %d, %d", file, fade_on, fade_ms);
  voice_play_file_ex(ctx, fade_on ? kVoiceFadeIn : 0, file, fade_ms, true);
  return 1;
}

int CmdVoiceStop(VmContext* ctx) {
  const int32_t fade_on = value_stack_pop(ctx);
  const int32_t fade_ms = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "voice_stop  %d, %d", fade_on, fade_ms);
  for (const VoiceChannel& ch : ctx->voice.channels) {
    if (!ch.sound || !sound_calls().playIs(ch.sound)) continue;
    if (fade_on)
      sound_calls().stopFade(ch.sound, fade_ms);
    else
      sound_calls().stop(ch.sound);
  }
  return 1;
}

int CmdVoiceSetVolume(VmContext* ctx) {
  const int32_t percent = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "voice_set_volume %d", percent);
  const int32_t v = sound_volume_from_percent(percent);
  sound_calls().setVolume(v, kVoiceLoadType);
  sound_system_data(ctx).word[kSysVoiceVolume] = v;
  return 1;
}

int CmdVoiceGetVolume(VmContext* ctx) {
  int volume = 0;
  sound_calls().getVolume(&volume, kVoiceLoadType);
  const int32_t v = static_cast<int32_t>(int64_t{volume} * 100 / 10000);
  game_debug_log(kDebugWindowCommand, "[%d] voice_get_volume", v);
  command_set_result(ctx, v);
  return 1;
}

int CmdSetVoiceInfo(VmContext* ctx) {
  const int32_t character = value_stack_pop(ctx);
  const int32_t name = value_stack_pop(ctx);
  const int32_t volume = value_stack_pop(ctx);
  const int32_t enabled = value_stack_pop(ctx);
  char file[kSoundNameBytes + 1] = {};
  if (name != -1) sound_operand_name(ctx, static_cast<uint32_t>(name), file);
  game_debug_log(kDebugWindowCommand, "set_voice_info  %d, %s, %d, %d", character, file, volume, enabled);
  int32_t* e = Info(ctx, character, "set_voice_info");
  if (!e) return 0;
  if (name != -1 && std::strlen(file) > kVoiceInfoNameBytes) {
    game_debug_log(kDebugWindowError, "set_voice_info : size over[%s]", file);
    return 0;
  }
  e[0] = 1;
  e[1] = enabled;
  e[2] = volume;
  if (name != -1) sound_info_name_set(e, file);
  return 1;
}

int CmdVoiceEnable(VmContext* ctx) {
  const int32_t character = value_stack_pop(ctx);
  const int32_t on = value_stack_pop(ctx);
  const int32_t apply = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "voice_enable  %d, %d, %d", character, on, apply);
  int32_t* e = Info(ctx, character, "voice_enable");
  if (!e) return 0;
  if (!e[0]) {
    game_debug_log(kDebugWindowError, "voice_enable not init : %d", character);
    return 1;
  }
  e[1] = on;
  if (apply) Channel0Volume(ctx, on ? sound_volume_from_percent(e[2]) : 0);
  return 1;
}

int CmdIsVoiceEnable(VmContext* ctx) {
  const int32_t character = value_stack_pop(ctx);
  int32_t* e = Info(ctx, character, "is_voice_enable");
  if (!e) return 0;
  game_debug_log(kDebugWindowCommand, "[%d] is_voice_enable  %d, %d", e[1], character, e[0]);
  command_set_result(ctx, e[1]);
  return 1;
}

int CmdVoiceExVolumeEnable(VmContext* ctx) {
  sound_system_data(ctx).word[kSysVoiceExVolume] = value_stack_pop(ctx);
  return 1;
}

int CmdSubVoicePlay(VmContext* ctx) {
  const uint32_t name = static_cast<uint32_t>(value_stack_pop(ctx));
  const uint32_t flags = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t fade_ms = value_stack_pop(ctx);
  char file[kSoundNameBytes + 1];
  sound_operand_name(ctx, name, file);
  game_debug_log(kDebugWindowCommand, "sub_voice_play [%d]ch  %s, %d, %d", 0, file, static_cast<int>(flags), fade_ms);
  SubVoice& s = ctx->voice.sub;
  if (s.sound) sound_calls().release(s.sound);
  s.sound = 0;
  s.name = name;
  s.flags = flags;
  command_set_result(ctx, 0);
  if ((!(flags & kVoiceLoop) && Skipping(ctx)) || !s.enabled) return 1;
  s.sound = file[0] ? sound_load_by_name(file, kVoiceLoadType, nullptr) : 0;
  if (!s.sound) {
    game_debug_log(kDebugWindowError, "error : sub voice file read [%s]", file);
    return 0;
  }
  const int loop = (flags & kVoiceLoop) ? 1 : 0;
  if (flags & kVoiceFadeIn)
    sound_calls().playFade(s.sound, loop, fade_ms);
  else
    sound_calls().play(s.sound, loop);
  return 1;
}

bool SubChannelOk(int32_t channel) {
  if (channel == 0 || channel == -1) return true;
  game_debug_log(kDebugWindowError, "sub voice ch error [%d]", channel);
  return false;
}

int CmdSubVoiceStop(VmContext* ctx) {
  const int32_t channel = value_stack_pop(ctx);
  const int32_t fade_on = value_stack_pop(ctx);
  const int32_t fade_ms = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "sub_voice_stop  %d, %d, %d", channel, fade_on, fade_ms);
  if (!SubChannelOk(channel)) return 0;
  SubVoice& s = ctx->voice.sub;
  if (!s.sound) return 1;
  if (fade_on && !Skipping(ctx)) {
    sound_calls().stopFade(s.sound, fade_ms);
  } else {
    sub_voice_clear(ctx);
  }
  return 1;
}

int CmdSubVoiceEnable(VmContext* ctx) {
  const int32_t channel = value_stack_pop(ctx);
  const int32_t on = value_stack_pop(ctx);
  if (!SubChannelOk(channel)) return 0;
  ctx->voice.sub.enabled = on;
  return 1;
}

int CmdGetVoiceExVolume(VmContext* ctx) {
  const int32_t character = value_stack_pop(ctx);
  int32_t* e = Info(ctx, character, "get_voice_ex_volume");
  if (!e) return 0;
  game_debug_log(kDebugWindowCommand, "[%d] get_voice_ex_volume %d", e[2], character);
  command_set_result(ctx, e[2]);
  return 1;
}

int CmdSetVoiceExVolume(VmContext* ctx) {
  const int32_t character = value_stack_pop(ctx);
  const int32_t volume = value_stack_pop(ctx);
  const int32_t apply = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "set_voice_ex_volume %d, %d, %d", character, volume, apply);
  int32_t* e = Info(ctx, character, "set_voice_ex_volume");
  if (!e) return 0;
  if (!e[0]) {
    game_debug_log(kDebugWindowError, "set_voice_ex_volume not init : %d", character);
    return 1;
  }
  e[2] = volume;
  if (apply) Channel0Volume(ctx, e[1] ? sound_volume_from_percent(volume) : 0);
  return 1;
}

int CmdVoiceCheckEnable(VmContext* ctx) {
  const int32_t on = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "voice_check_enable  %d", on);
  ctx->voice.checkOff = on ? 0 : 1;
  return 1;
}

int CmdVoiceAutopanInitialize(VmContext* ctx) {
  const int32_t width = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "voice_autopan_initialize %d", width);
  sound_system_data(ctx).word[kSysPanWidth] = static_cast<int32_t>(int64_t{width} * 10000 / 100);
  return 1;
}

int CmdVoiceAutopanEnable(VmContext* ctx) {
  const int32_t on = value_stack_pop(ctx);
  game_debug_log(kDebugWindowCommand, "voice_autopan_enable %d", on);
  sound_system_data(ctx).word[kSysVoiceAutopan] = on;
  return 1;
}

int CmdSetVoiceAutopan(VmContext* ctx) {
  const int32_t entry = value_stack_pop(ctx);
  const int32_t target = value_stack_pop(ctx);
  const uint32_t name = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t mode = value_stack_pop(ctx);
  char file[kSoundNameBytes + 1] = {};
  if (!(target == -1 && mode == 0)) sound_operand_name(ctx, name, file);
  game_debug_log(kDebugWindowCommand, "set_voice_autopan  %d, %d, %s, %d", entry, target, file, mode);
  if (entry < 0 || entry >= kVoiceAutopanEntries) {
    game_debug_log(kDebugWindowError, "set_voice_autopan : entry error [%d]", entry);
    return 0;
  }
  VoiceAutopanEntry& e = ctx->voice.autopan[entry];
  if (target == -1 && mode == 0) {
    e = VoiceAutopanEntry{};
    return 1;
  }
  if (std::strlen(file) > kVoiceAutopanNameBytes) {
    game_debug_log(kDebugWindowError, "set_voice_autopan : size over[%s]", file);
    return 0;
  }
  e.mode = static_cast<uint32_t>(mode);
  e.target = static_cast<uint32_t>(mode == 0 ? image_no_to_index(static_cast<uint32_t>(target)) : target);
  std::memset(e.name, 0, sizeof e.name);
  std::memcpy(e.name, file, std::strlen(file));
  return 1;
}

int CmdIsVoiceAutopanEnable(VmContext* ctx) {
  const int32_t on = sound_system_data(ctx).word[kSysVoiceAutopan];
  game_debug_log(kDebugWindowCommand, "[%d] is_voice_autopan_enable", on);
  command_set_result(ctx, on);
  return 1;
}

}  // namespace

void voice_commands_install() {
  static const CommandBinding kCommands[] = {
      {"voice_play", CmdVoicePlay},
      {"voice_stop", CmdVoiceStop},
      {"voice_set_volume", CmdVoiceSetVolume},
      {"voice_get_volume", CmdVoiceGetVolume},
      {"set_voice_info", CmdSetVoiceInfo},
      {"voice_enable", CmdVoiceEnable},
      {"is_voice_enable", CmdIsVoiceEnable},
      {"voice_ex_volume_enable", CmdVoiceExVolumeEnable},
      {"sub_voice_play", CmdSubVoicePlay},
      {"sub_voice_stop", CmdSubVoiceStop},
      {"sub_voice_enable", CmdSubVoiceEnable},
      {"get_voice_ex_volume", CmdGetVoiceExVolume},
      {"set_voice_ex_volume", CmdSetVoiceExVolume},
      {"voice_check_enable", CmdVoiceCheckEnable},
      {"voice_autopan_initialize", CmdVoiceAutopanInitialize},
      {"voice_autopan_enable", CmdVoiceAutopanEnable},
      {"set_voice_autopan", CmdSetVoiceAutopan},
      {"is_voice_autopan_enable", CmdIsVoiceAutopanEnable},
  };
  command_bind_all(kCommands);
}
