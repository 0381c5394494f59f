// graphic.dat: default display attributes per image name. A 16-byte table
// header, 255 buckets of 8 bytes (u16 record count, 2 bytes not read, u32
// offset of the bucket's first record from byte 2056), then 132-byte records:
// a 32-byte NUL-padded name and 25 u32 words of attributes. A bucket holds
// the names that start with its byte; only bytes below 0x80 are looked up.
#pragma once
#include <cstdint>
#include <span>

#include "data/script_format.h"
#include "vm/vm_context.h"


// Opens "graphic.dat"; a game without it runs and finds no attributes.
bool graphic_dat_load(VmContext* ctx);
// The same from bytes in memory (copied, unscrambled when marked).
bool graphic_dat_load_image(VmContext* ctx, std::span<const uint8_t> bytes);
void graphic_dat_free(VmContext* ctx);

// Copies the record of the 32-byte name into out (zeroed first); false when
// the table is not loaded or has no such name.
bool graphic_find(const VmContext* ctx, const uint8_t (&name)[kGraphicNameBytes],
                  uint8_t (&out)[kGraphicRecordBytes]);
