// The bgm and se blocks of a save (written after the layers block) and
// their restore, which loads the same files again and starts them.
#pragma once
#include <cstdint>
#include <span>

struct VmContext;

// Appends the block at buffer[*used]. When it does not fit (the buffer or
// the 1 MiB snapshot limit), "save buffer over" is logged, nothing is
// written and false comes back.
//
// bgm block, channel 0 then 1: the 60-byte record (or 60 zero bytes for a
// channel neither playing with a name nor loaded), with a running volume
// fade written as finished; then, when the written record's name operand
// has bit 28, the 32-byte file name.
bool bgm_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);
// se block: the pending pan, then for each of the 16 channels its 32-byte
// record (loop bit cleared when it fades out) and, when the written record's
// name has bit 28, the 32-byte file name.
bool se_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);

// Read the block at data[*cursor]. A block that is short or holds a value no
// save could hold is refused: false, logged, cursor and channels unchanged.
// Otherwise the cursor moves past the whole block and the channels are
// rebuilt; a file that cannot be loaded is logged, its channel stays empty,
// the others are restored, and false comes back.
//
// Music comes back at its level and starts with a 2000 ms fade-in (looping);
// a looping effect fades back in over 2000 ms with its pan, a loaded one is
// loaded again, one-shots do not come back.
bool bgm_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool se_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
// The same reading and checks alone: nothing changes, the cursor moves.
bool bgm_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool se_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
