// Difference images on any file, applied to a base picture whose size comes
// from the input; work, scratch and pixels are exactly sized. Plain and
// vector loops must agree.
#include <cstdint>
#include <vector>

#include "image/image_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> file(data, data + size);
  KivPgdHeader head;
  if (!KivPgdReadHeader(file, &head)) return 0;
  // The base is the rectangle's extent, give or take a pixel from the last byte.
  const int extra = static_cast<int>(data[size - 1] % 3) - 1;
  const int w = head.x + head.w + extra, h = head.y + head.h + (extra != 0);
  if (w <= 0 || h <= 0 || static_cast<size_t>(w) * h > (1u << 16)) return 0;
  const size_t n = head.unpackedSize <= (1u << 20) ? head.unpackedSize : 4096;
  std::vector<uint8_t> work(n);
  if (!KivPgdUnpack(file, head, work)) return 0;
  const size_t need = static_cast<size_t>(head.w) * head.h * (head.bpp == 24 ? 3 : 4);
  std::vector<uint8_t> scratch(need + (data[0] & 1));  // word aligned: from the allocator
  std::vector<uint32_t> a(static_cast<size_t>(w) * h, 0x12345678u), b = a;
  // A successful unpack means the unpacked size fitted the work area.
  const int okPlain = KivPgdApply(head, work, scratch, a, w, h, w, KivLoopVariant::kPlain);
  const int okSimd = KivPgdApply(head, work, scratch, b, w, h, w, KivLoopVariant::kSimd);
  if (okPlain != okSimd || a != b) __builtin_trap();
  return 0;
}
