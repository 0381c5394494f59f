// The LZ unpacker on any stream, into an output of exactly the unpacked
// size (so any write or read past it is caught), and the packer's output in
// every token form unpacked back to its input.
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/image_decode.h"
#include "image_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // Two bytes and a nibble of unpacked size (up to 1 MiB), then the stream.
  const size_t unpacked = static_cast<size_t>(data[0] | data[1] << 8) << 4 | (data[2] & 15);
  const std::vector<uint8_t> stream(data + 3, data + size);  // exactly sized copy
  std::vector<uint8_t> out(unpacked);
  KivGeUnpack(out, stream);

  // Round trip of the input through the packer.
  const auto form = static_cast<kivtools::LzForm>(data[2] >> 4 < 6 ? data[2] >> 4 : 0);
  const std::vector<uint8_t> packed = kivtools::LzPack({data, size}, {form, 8});
  std::vector<uint8_t> back(size);
  if (!KivGeUnpack(back, packed) || std::memcmp(back.data(), data, size) != 0) __builtin_trap();
  return 0;
}
