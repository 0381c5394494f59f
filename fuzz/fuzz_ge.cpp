// The GE decoder on any file: the work area is exactly the unpacked size and
// the destination exactly the image, so nothing past them goes unseen; the
// plain and vector loops must give the same pixels.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/image_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> file(data, data + size);
  KivGeHeader h;
  if (!KivGeReadHeader(file, &h)) return 0;
  // Lying sizes get a small destination and work area, which must be refused.
  const size_t pixels = static_cast<size_t>(h.width) * h.height;
  const int pitch = h.width + (size & 3);
  const size_t destWords = pixels <= (1u << 16) ? static_cast<size_t>(pitch) * (h.height - 1) + h.width : 4096;
  const size_t workBytes = h.unpackedSize <= (1u << 20) ? h.unpackedSize : 4096;
  std::vector<uint8_t> work(workBytes);
  std::vector<uint32_t> a(destWords, 0), b(destWords, 0);
  const int okPlain = KivGeDecode(file, a, pitch, work, KivLoopVariant::kPlain);
  const int okSimd = KivGeDecode(file, b, pitch, work, KivLoopVariant::kSimd);
  if (okPlain != okSimd || (okPlain && a != b)) __builtin_trap();
  return 0;
}
