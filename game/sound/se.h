// Sound effects: the se commands (group 5) on sixteen se channels, the
// blocking wait for an effect's end, the pending pan and the se info table
// that gives named files their own volume.
#pragma once
#include <cstdint>

struct VmContext;

// Binds the group 5 handlers (called by sound_commands_install).
void se_commands_bind();
// Applies the se info volume of every defined entry whose file name is the
// loaded one to that sound.
void se_info_volume_apply(VmContext* ctx, int32_t sound, const char* name);
// Releases a channel's sound (if any) and clears its record and name.
void se_channel_clear(VmContext* ctx, int channel);
// Plays se channel n (0..15) as an action's sound step: loop non-zero sets
// the channel's loop bit; fade 0 plays at once, else fades in over fade ms.
void se_action_play(VmContext* ctx, int channel, int loop, int fadeMs);
