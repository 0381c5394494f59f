#include "layers/sprite_save_fields.h"

#include <cstring>

namespace {

uint32_t FloatBits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}
float BitsFloat(uint32_t u) {
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

}  // namespace

void sprite_info_write(plat::ByteWriter& w, const KivSpriteInfo& i) {
  w.I32(i.visible);
  w.U32(i.colour);
  w.U32(FloatBits(i.x));
  w.U32(FloatBits(i.y));
  for (int32_t v : {i.offsetX, i.offsetY, i.width, i.height, i.cellWidth, i.cellHeight, i.centreX, i.centreY,
                    i.priority})
    w.I32(v);
  for (float v : {i.scale, i.rotationX, i.rotationY, i.rotationZ}) w.U32(FloatBits(v));
  w.I32(i.renderMode);
}

KivSpriteInfo sprite_info_read(plat::ByteReader& r) {
  KivSpriteInfo i{};
  i.visible = r.I32();
  i.colour = r.U32();
  i.x = BitsFloat(r.U32());
  i.y = BitsFloat(r.U32());
  for (int32_t* v : {&i.offsetX, &i.offsetY, &i.width, &i.height, &i.cellWidth, &i.cellHeight, &i.centreX,
                     &i.centreY, &i.priority})
    *v = r.I32();
  for (float* v : {&i.scale, &i.rotationX, &i.rotationY, &i.rotationZ}) *v = BitsFloat(r.U32());
  i.renderMode = r.I32();
  return i;
}

void sprite_transform_write(plat::ByteWriter& w, const SpriteTransform& t) {
  for (int32_t v : {t.aX, t.aY, t.bX, t.bY, t.aRot[0], t.aRot[1], t.aRot[2], t.bRot[0], t.bRot[1], t.bRot[2]}) w.I32(v);
  w.U32(FloatBits(t.aScale));
  w.U32(FloatBits(t.bScale));
  w.U32(t.colour);
  w.U32(static_cast<uint16_t>(t.bAlpha));
  w.I32(t.aspectType);
}

void sprite_transform_read(plat::ByteReader& r, SpriteTransform* t) {
  for (int32_t* v : {&t->aX, &t->aY, &t->bX, &t->bY, &t->aRot[0], &t->aRot[1], &t->aRot[2], &t->bRot[0],
                     &t->bRot[1], &t->bRot[2]})
    *v = r.I32();
  t->aScale = BitsFloat(r.U32());
  t->bScale = BitsFloat(r.U32());
  t->colour = r.U32();
  t->bAlpha = static_cast<int16_t>(r.U32() & 0xFFFF);
  t->aspectType = r.I32();
}
