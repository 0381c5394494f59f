// graphic.dat from any bytes: a refused file leaves the loaded table as it
// was; in an accepted one every name the file holds, and a few that it may
// not, are looked up inside the records.
#include "game_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzgame::Record r;
  GraphicTable& t = r.ctx->graphic;
  const fuzzgame::Snapshot before(t.image, t.size);
  if (!graphic_dat_load_image(r.ctx, std::span<const uint8_t>(data, size))) {
    if (!before.Same(t.image, t.size) || !t.loaded) __builtin_trap();
    return 0;
  }
  uint8_t name[kGraphicNameBytes];
  uint8_t out[kGraphicRecordBytes];
  // Names taken from the file itself (so real entries are found), then
  // every first byte with the rest zero.
  for (size_t at = kGraphicRecordsOffset; at + kGraphicNameBytes <= size && at < 8192;
       at += kGraphicRecordBytes) {
    std::memcpy(name, data + at, sizeof name);
    if (graphic_find(r.ctx, name, out) && std::memcmp(out, name, sizeof name) != 0) __builtin_trap();
  }
  std::memset(name, 0, sizeof name);
  for (int first = 0; first < 256; ++first) {
    name[0] = static_cast<uint8_t>(first);
    graphic_find(r.ctx, name, out);
  }
  return 0;
}
