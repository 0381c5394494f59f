// The engine's pixel routines: the picture effects behind KivSpriteSetOption
// (sepia, grey, the 3x3 soft filter, negative, the eight blur strengths),
// the scales (nearest and bilinear in 1/128-pixel steps, 8-bit grey in
// 1/256), the ripple wave, the mask-alpha threshold, the composition blend
// and the plain copies, with their tables.
//
// They work on plain 32-bit ARGB buffers (blue, green, red, alpha in
// memory, rows top first), every buffer with its own row pitch in pixels,
// and know nothing of sprites or renderers: the software renderer, the
// transitions, text and thumbnails, and a GPU renderer's CPU-side pixels
// all call these same loops. Where a loop has a vector variant it gives
// exactly the bytes of the plain one; KivLoopVariant picks one for tests.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/image_decode.h"

// Saturating float-to-int truncation (NaN gives 0).
int KivTruncToInt(double v);

// ---- Tables ----

// Sine of 2*pi*i/512 in 16.16 fixed point (entry 1 = 804, entry 128 =
// 65536); cosine is entry (i + 128) & 511.
const int32_t* KivSine16(void);
// The same 512 angles as floats (entry 128 = 1.0; entry 256 = 0.000001, as
// the stored six-digit table has it). The mosaic transition reads entries
// 0..256 as sin(k * pi / 256).
const float* KivSineFloat(void);

// Red, green and blue of the sepia tone for a grey value: a monotonic curve
// from (12, 0, 0) at 0 to (255, 255, 255) at 255.
struct KivSepiaTone {
  uint8_t r, g, b;
};
const KivSepiaTone* KivSepiaTable(void);  // 256 entries

// Blur kernels: row k holds the weights of the taps at offsets -8..+7 and
// sums to 2^(k + 1).
inline constexpr uint8_t kKivBlurKernels[8][16] = {
    {0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 1, 1, 2, 2, 1, 1, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 1, 1, 2, 4, 4, 2, 1, 1, 0, 0, 0, 0},
    {0, 0, 0, 1, 1, 2, 4, 8, 8, 4, 2, 1, 1, 0, 0, 0},
    {0, 0, 2, 2, 4, 4, 8, 12, 12, 8, 4, 4, 2, 2, 0, 0},
    {0, 4, 4, 8, 8, 8, 16, 16, 16, 16, 8, 8, 8, 4, 4, 0},
    {8, 8, 8, 8, 16, 16, 32, 32, 32, 32, 16, 16, 8, 8, 8, 8},
};

// ---- Picture effects, in place over w x h pixels ----

// g = (B + 3R + 6G) / 10.
inline uint32_t KivPixelGreyValue(uint32_t p) {
  return ((p & 0xFF) + 3 * ((p >> 16) & 0xFF) + 6 * ((p >> 8) & 0xFF)) / 10;
}
// Alpha kept; the colour becomes the tone of g (sepia) or g, g, g (grey).
void KivPixelSepia(uint32_t* px, int w, int h, int pitch);
void KivPixelGrey(uint32_t* px, int w, int h, int pitch);
// Every pixel with alpha: inverted colour, alpha 0xFF. Transparent pixels stay.
void KivPixelNegative(uint32_t* px, int w, int h, int pitch);
// The 3x3 soft filter: inner pixels left to right, top to bottom, each
// colour channel (4 * centre + left + right + up + down) >> 3 with the left
// and upper neighbours already filtered, alpha kept; then the top row takes
// the row below, the left column the column to its right, the bottom row
// the row above and the right column the column to its left. A picture one
// pixel wide (or high) has no neighbour column (row) to take.
void KivPixelSoftFilter(uint32_t* px, int w, int h, int pitch, KivLoopVariant v = KivLoopVariant::kAuto);

// Blur of strength k (0..7): the picture shrunk to half size by the
// nearest scale, blurred along rows and then columns with kernel k, and
// scaled back over the whole picture by the bilinear scale. The half size
// is at least 1 x 1, so a picture one pixel wide is still blurred along
// its other direction. work holds KivPixelBlurWorkWords(w, h) words.
size_t KivPixelBlurWorkWords(int w, int h);
void KivPixelBlur(uint32_t* px, int w, int h, int pitch, int k, uint32_t* work,
                  KivLoopVariant v = KivLoopVariant::kAuto);
// One pass of kernel k over w x h pixels from src to dst (both packed,
// rows w apart), along rows or along columns. Where every tap of non-zero
// weight lies inside the picture each channel (alpha too) is the weighted
// sum >> (k + 1). Nearer the edge only the taps inside count: alpha is
// their weighted sum over their weights, colour the weighted sum of the
// taps whose alpha is not 0 over those taps' weights (0 when there are
// none); the divisions truncate.
void KivPixelBlurPass(const uint32_t* src, uint32_t* dst, int w, int h, int k, bool columns,
                      KivLoopVariant v = KivLoopVariant::kAuto);

// ---- Scales ----

// Nearest neighbour: the output is min(dw, trunc(sw * fx)) x min(dh,
// trunc(sh * fy)) pixels (written to *outW, *outH when given); steps
// |128 / f| in 1/128 pixel, at least 1; output (x, y) = source
// ((x * stepX) >> 7, (y * stepY) >> 7).
void KivPixelScaleCopy(const uint32_t* src, int sw, int sh, int srcPitch, float fx, float fy, uint32_t* dst,
                       int dw, int dh, int dstPitch, int* outW = nullptr, int* outH = nullptr);
// The same steps over the whole dw x dh output, positions past the source
// repeating its last column and row, so a picture scaled down and back up
// covers every pixel it came from (the mosaic's way back up).
void KivPixelScaleCopyFill(const uint32_t* src, int sw, int sh, int srcPitch, float fx, float fy, uint32_t* dst,
                           int dw, int dh, int dstPitch);
// Bilinear over the whole dw x dh output: steps trunc(128 / f) in 1/128
// pixel; each output pixel mixes the 2 x 2 source neighbourhood by the
// 7-bit fractions, rows first, (a * (128 - f) + b * f) >> 7 per channel;
// columns and rows past the source repeat its edge pixel.
void KivPixelScale(const uint32_t* src, int sw, int sh, int srcPitch, float fx, float fy, uint32_t* dst, int dw,
                   int dh, int dstPitch, KivLoopVariant v = KivLoopVariant::kAuto);
// 8-bit grey (glyph bitmaps): bilinear with 8-bit fractions, step
// trunc(256 / f); the output is min(dw, trunc(sw * f)) x min(dh, trunc(sh *
// f)); out = ((a (256 - fx) + b fx) (256 - fy) + fy (d fx + c (256 - fx)))
// >> 16 with a the pixel, b right, c below, d below right, 0 past the last
// column or row.
void KivPixelScaleGrey(const uint8_t* src, int sw, int sh, int srcPitch, float f, uint8_t* dst, int dw, int dh,
                       int dstPitch, int* outW = nullptr, int* outH = nullptr);

// ---- Ripple and mask alpha ----

// The raster wave, from src to dst of the same size (width x height,
// packed): t = trunc(phase * 511), hx = trunc(ampX * width * 0.1), hy =
// trunc(ampY * height * 0.1); pixel (i, j) takes the source pixel at row
// i + (hy * S[(t + j) & 511]) >> 16 and column j + (hx * S[(t + i) & 511])
// >> 16 when that lies inside, else dst keeps its pixel (callers fill dst
// with a copy of src first). Zero amplitudes give the identity.
void KivPixelRipple(const uint32_t* src, uint32_t* dst, int width, int height, float phase, float ampX,
                    float ampY);

// The raster wave as both renderers draw it: the vertex grid of the GPU
// renderer's render target (rtWidth x rtHeight, the power-of-two size that
// holds the screen in its middle), columns x rows vertices 16 pixels apart
// (KivRasterGridSize), each vertex shifted by the phase and the amplitudes
// (tenths of half the target, as the grid takes them), the shift between
// vertices interpolated. src and dst are one block of that target, width x
// height packed, whose top-left corner lies at (left, top) in it; each dst
// pixel takes the src pixel at its own place less the shift there, and
// keeps its pixel where that place is outside the block.
void KivRasterGridSize(int rtWidth, int rtHeight, int* columns, int* rows);
void KivPixelRasterWave(const uint32_t* src, uint32_t* dst, int width, int height, int left, int top, int rtWidth,
                        int rtHeight, float phase, float ampX, float ampY);

// The alpha that mask value d (0..255) gives at threshold T (0..255):
// U = T + 31 when T <= 224, else 255; 255 below T, ((U - d) * 8) & 0xFF
// from T up to U, 0 from U on.
inline uint32_t KivMaskAlpha(int threshold, int d) {
  const int u = threshold <= 224 ? threshold + 31 : 255;
  if (d < threshold) return 255;
  if (d < u) return static_cast<uint32_t>((u - d) * 8) & 0xFF;
  return 0;
}
// Writes the alpha byte of w x h target pixels from the blue byte of the
// mask pixels at the same places; colour bytes stay. The threshold is
// clamped to 0..255.
void KivPixelMaskAlpha(uint32_t* target, int targetPitch, const uint32_t* mask, int maskPitch, int w, int h,
                       int threshold, KivLoopVariant v = KivLoopVariant::kAuto);

// ---- Composition and copies ----

// Blends w x h source pixels over the destination by the source alpha a:
// 0 leaves it, 255 puts the source colour, otherwise each colour channel
// (s * a + d * (255 - a)) >> 8. The destination alpha is always kept.
void KivPixelBlendRect(const uint32_t* src, int srcPitch, uint32_t* dst, int dstPitch, int w, int h);
// Whole-pixel copy of w x h pixels between buffers of different pitches;
// source and destination may overlap (a copy within one buffer).
void KivPixelCopyRect(const uint32_t* src, int srcPitch, uint32_t* dst, int dstPitch, int w, int h);
// The top-left min(sw, dw) x min(sh, dh) pixels of one packed buffer into
// another: buffers of different sizes meet at the narrower width.
void KivPixelCopyClipped(const uint32_t* src, int sw, int sh, uint32_t* dst, int dw, int dh);
void KivPixelCopyWords(uint32_t* dst, const uint32_t* src, size_t count);

// A rectangle copy between two pictures, clipped on all four sides: the
// source rectangle (sx, sy, w, h) of an sw x sh picture lands at (dx, dy)
// of a dw x dh picture, pixel (sx + i, sy + j) at (dx + i, dy + j), and
// only the pixels inside both pictures take part. A negative w or h means
// the whole source. False when nothing is left; else the clipped
// rectangle in *out (source position, destination position, size).
struct KivPixelClip {
  int sx, sy, dx, dy, w, h;
};
bool KivPixelClipRect(int sw, int sh, int dw, int dh, int sx, int sy, int dx, int dy, int w, int h,
                      KivPixelClip* out);
