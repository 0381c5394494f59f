// Loading graphic.dat and looking image names up in it. The bucket table is
// checked whole on load, so that a lookup never reads outside the records.
#include "data/graphic_table.h"

#include <cstring>

#include "start/game_debug_log.h"
#include "kiv.h"
#include "platform/core/byte_io.h"
#include "data/script_tables.h"

static_assert(kGraphicBuckets == kGraphicBucketCount && kGraphicRecordBytes == kGraphicRecordSize);

namespace {

// Takes ownership of image (size bytes of file and one zero byte after).
bool Accept(VmContext* ctx, uint8_t* image, uint32_t size) {
  if (size < kGraphicRecordsOffset) {
    game_debug_log(kDebugWindowError, "graphic.dat: %u bytes, shorter than its header and bucket table", size);
    KivMemoryFree(image);
    return false;
  }
  if (image[0] == kScrambledMark) data_unscramble(image + kTableHeaderBytes, size - kTableHeaderBytes);
  GraphicTable table{};
  table.image = image;
  table.size = size;
  table.records = image + kGraphicRecordsOffset;
  table.recordBytes = size - kGraphicRecordsOffset;
  plat::ByteReader r(std::span<const uint8_t>(image, size));
  r.Seek(kGraphicBucketTableOffset);
  for (int b = 0; b < kGraphicBuckets; ++b) {
    GraphicBucket& bucket = table.buckets[b];
    bucket.count = r.U16();
    r.Skip(2);
    bucket.offset = r.U32();
    const uint64_t end = uint64_t{bucket.offset} + uint64_t{bucket.count} * kGraphicRecordBytes;
    if (bucket.count && end > table.recordBytes) {
      game_debug_log(kDebugWindowError, "graphic.dat: bucket %d (%u records at %u) lies outside the %u record bytes", b,
                     bucket.count, bucket.offset, table.recordBytes);
      KivMemoryFree(image);
      return false;
    }
  }
  graphic_dat_free(ctx);
  table.loaded = 1;
  ctx->graphic = table;
  return true;
}

}  // namespace

bool graphic_dat_load(VmContext* ctx) {
  uint32_t size = 0;
  uint8_t* image = data_file_read("graphic.dat", 1, &size);
  return image && Accept(ctx, image, size);
}

bool graphic_dat_load_image(VmContext* ctx, std::span<const uint8_t> bytes) {
  if (bytes.size() > kMaxDataFileBytes) {
    game_debug_log(kDebugWindowError, "graphic.dat: %zu bytes, too large", bytes.size());
    return false;
  }
  auto* image = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(bytes.size() + 1), 1));
  if (!image) {
    game_debug_log(kDebugWindowError, "graphic.dat: no memory for %zu bytes", bytes.size());
    return false;
  }
  if (!bytes.empty()) std::memcpy(image, bytes.data(), bytes.size());
  return Accept(ctx, image, static_cast<uint32_t>(bytes.size()));
}

void graphic_dat_free(VmContext* ctx) {
  KivMemoryFree(ctx->graphic.image);
  ctx->graphic = GraphicTable{};
}

bool graphic_find(const VmContext* ctx, const uint8_t (&name)[kGraphicNameBytes],
                  uint8_t (&out)[kGraphicRecordBytes]) {
  std::memset(out, 0, sizeof out);
  const GraphicTable& t = ctx->graphic;
  if (!t.loaded) return false;
  // The first byte taken as signed: 0x80 and above has no bucket.
  if (name[0] >= 0x80) return false;
  const GraphicBucket& bucket = t.buckets[name[0]];
  const uint8_t* record = t.records + bucket.offset;
  for (uint32_t i = 0; i < bucket.count; ++i, record += kGraphicRecordBytes) {
    if (std::memcmp(record, name, kGraphicNameBytes) == 0) {
      std::memcpy(out, record, sizeof out);
      return true;
    }
  }
  return false;
}
