// The sprite fields a save holds, written and read field by field: the
// engine sprite's info (18 words) and the fifteen saved words of a sprite
// record's transform. The layer and message-window blocks share them.
#pragma once
#include "kiv.h"
#include "layers/sprite_records.h"
#include "platform/core/byte_io.h"

void sprite_info_write(plat::ByteWriter& w, const KivSpriteInfo& i);
KivSpriteInfo sprite_info_read(plat::ByteReader& r);
// A and B position, rotations and scales, the colour, B's alpha (low half of
// its word) and the aspect type.
void sprite_transform_write(plat::ByteWriter& w, const SpriteTransform& t);
void sprite_transform_read(plat::ByteReader& r, SpriteTransform* t);
