// Animations, buttons, numbers, the cursor and thumbnails built on sprites.
// The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Thumbnails: the last drawn screen, or a caller's picture, scaled by the
// nearest pixel into a caller's w x h buffer, plain or as a mosaic (scaled
// down to about w / block by h / block, then back up). Every destination
// pixel is written; a call that cannot be done writes none of them.
#include <algorithm>
#include <cstdint>

#include "core/system_state.h"
#include "platform/core/error.h"
#include "platform/window/messages.h"
#include "render/last_frame.h"
#include "render/pixel_routines.h"

namespace {

constexpr int64_t kMaxPixels = INT32_MAX / 4;

bool Running() { return g_kiv && g_kiv->running.load() != 0; }

bool SizeOk(int w, int h) { return w > 0 && h > 0 && static_cast<int64_t>(w) * h <= kMaxPixels; }

int Refuse() {
  plat::SetLastError(plat::kErrorInvalidParameter);
  return 0;
}

void Plain(uint32_t* dst, int w, int h, const uint32_t* src, int sw, int sh, int pitch) {
  const float fx = static_cast<float>(w) / static_cast<float>(sw);
  const float fy = static_cast<float>(h) / static_cast<float>(sh);
  KivPixelScaleCopyFill(src, sw, sh, pitch, fx, fy, dst, w, h, w);
}

int Mosaic(uint32_t* dst, int w, int h, const uint32_t* src, int sw, int sh, int pitch, int block) {
  if (block < 1 || block > (w < h ? w : h)) return Refuse();
  const float gx = static_cast<float>(w) / (static_cast<float>(block) * static_cast<float>(sw));
  const float gy = static_cast<float>(h) / (static_cast<float>(block) * static_cast<float>(sh));
  // With a block of at most min(w, h) the intermediate is at least one
  // pixel across; the float product can still fall just short of 1 (a
  // source 41 pixels wide, w = block), which must not leave it empty.
  const int w1 = std::max(1, KivTruncToInt(static_cast<double>(static_cast<float>(sw) * gx)));
  const int h1 = std::max(1, KivTruncToInt(static_cast<double>(static_cast<float>(sh) * gy)));
  auto* cells = static_cast<uint32_t*>(KivMemoryAlloc(w1 * h1 * 4, 0));
  if (!cells) return 0;
  KivPixelScaleCopyFill(src, sw, sh, pitch, gx, gy, cells, w1, h1, w1);
  const float ux = static_cast<float>(w) / static_cast<float>(w1);
  const float uy = static_cast<float>(h) / static_cast<float>(h1);
  KivPixelScaleCopyFill(cells, w1, h1, w1, ux, uy, dst, w, h, w);
  KivMemoryFree(cells);
  return 1;
}

// The screen into dst, plain (block 0) or as a mosaic.
int FromScreen(uint32_t* dst, int byteSize, int w, int h, int block) {
  if (!Running()) return 0;
  // The buffer must hold what is written into it.
  if (!dst || !SizeOk(w, h) || byteSize < 0 || static_cast<int64_t>(w) * h * 4 > byteSize) return Refuse();
  KivFrameView f;
  if (!KivLastFrameRead(&f)) return 0;
  if (block == 0) {
    Plain(dst, w, h, f.pixels, f.width, f.height, f.pitch);
    return 1;
  }
  return Mosaic(dst, w, h, f.pixels, f.width, f.height, f.pitch, block);
}

int FromPicture(uint32_t* dst, int w, int h, const uint32_t* src, int sw, int sh, int block) {
  if (!Running()) return 0;
  if (!dst || !src || !SizeOk(w, h) || !SizeOk(sw, sh)) return Refuse();
  if (block == 0) {
    Plain(dst, w, h, src, sw, sh, sw);
    return 1;
  }
  return Mosaic(dst, w, h, src, sw, sh, sw, block);
}

}  // namespace

extern "C" KIV_API int KivThumbnailCreate(uint32_t* dst, int byteSize, int w, int h) {
  return FromScreen(dst, byteSize, w, h, 0);
}

extern "C" KIV_API int KivThumbnailCreateMosaic(uint32_t* dst, int byteSize, int w, int h, int block) {
  if (block == 0) return Refuse();
  return FromScreen(dst, byteSize, w, h, block);
}

extern "C" KIV_API int KivThumbnailCreateEx(uint32_t* dst, int w, int h, const uint32_t* src, int sw, int sh) {
  return FromPicture(dst, w, h, src, sw, sh, 0);
}

extern "C" KIV_API int KivThumbnailCreateMosaicEx(uint32_t* dst, int w, int h, const uint32_t* src, int sw,
                                                  int sh, int block) {
  if (block == 0) return Refuse();
  return FromPicture(dst, w, h, src, sw, sh, block);
}
