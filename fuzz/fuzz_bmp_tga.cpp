// The BMP/TGA reader on any file; the record is freed by the reader on
// failure and here on success, so the leak checker sees every path.
#include <cstdint>
#include <vector>

#include "image/image_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> file(data, data + size);
  KivPixelBuffer* buf = KivPixelBufferCreate();
  if (!buf) return 0;
  if (KivBmpTgaDecode(file, buf)) {
    if (buf->byteSize != buf->width * buf->height * 4) __builtin_trap();
    KivPixelBufferFree(buf);
  }
  return 0;
}
