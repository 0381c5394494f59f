// Music: the bgm commands (group 4) on two bgm channels over the engine's
// two streamed channels, their per-frame update and volume fades.
#pragma once
#include <cstdint>

struct VmContext;
struct BgmChannel;

// Binds the group 4 handlers (called by sound_commands_install).
void bgm_commands_bind();
// One step of a channel's volume fade: at or past its length the fade ends
// at level + delta; before it, level + elapsed / length x delta. The engine
// channel volume becomes that level in hundredths.
void bgm_fade_step(BgmChannel* ch);
// Releases a channel's sound (if any) and clears its record and name.
void bgm_channel_clear(VmContext* ctx, int channel);
