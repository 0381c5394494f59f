// The game's whole state as text, for tests: everything a load or a reset
// can touch (the machine, the game list, every component's block, the
// engine sprites and sounds they hold), one "name value" line per field,
// empty slots left out. Deterministic: no pointers (a held object is shown
// by what it is, or as "1"), no clock readings (start stamps are left out).
// Two dumps are equal exactly when a player could not tell the games apart.
#pragma once
#include <string>

struct VmContext;

std::string game_state_dump(VmContext* ctx);
// Writes the dump to path (UTF-8 path of the host); false when it cannot.
bool game_state_dump_write(VmContext* ctx, const std::string& path);
// At the end of the game's work in a frame: the dump of this frame when
// KIV_STATE_DUMP_FRAMES names it (KIV_CAPTURE_DIR/state-NNNNNN.txt, frames
// counted as KIV_CAPTURE_FRAMES counts them).
void game_state_dump_frame(VmContext* ctx);
