#include "shared/config_record.h"

#include <cstring>
#include <span>

#include "platform/core/byte_io.h"

int config_words_read(const uint8_t* bytes, size_t size, int32_t words[kConfigWords]) {
  if (!bytes) size = 0;
  plat::ByteReader r(std::span<const uint8_t>(bytes, size));
  int n = 0;
  while (n < kConfigWords && r.left() >= 4) words[n++] = r.I32();
  return n;
}

void config_words_bytes(const int32_t words[kConfigWords], uint8_t out[kConfigBytes]) {
  plat::ByteWriter w;
  for (int i = 0; i < kConfigWords; ++i) w.I32(words[i]);
  std::memcpy(out, w.bytes().data(), kConfigBytes);
}
