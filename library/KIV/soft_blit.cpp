// The software renderer's drawing: the four blitters, the plain and the
// rotate-and-scale blit paths, the sprite draw with its Fx path, and the
// cross-fade combine of two surfaces.
//
// Blitters, per target pixel d, source pixel p, colour K (integer
// arithmetic, divisions truncate):
//   0 copy:     d := p
//   1 blend:    where pA > 0: o = (pA * KA) >> 8;
//               d_c := (((p_c * K_c) >> 8) * o + d_c * (256 - o)) >> 8; d_A := 0xFF
//   2 add:      where pA > 0: d_c := min(255, d_c + p_c * pA / 256 * KA / 256)
//   3 multiply: where pA > 0: d_c := ((p_c * pA / 256 * KA) >> 8) * d_c / 256
// Modes 2 and 3 keep the target's alpha and use only KA of the colour.
// Each has a plain loop and a vector variant (SSE2, or AVX2 where the
// processor has it) with the same results.
#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KIV_X86 1
#endif

#include "soft_screen.h"

// ---------------------------------------------------------------- helpers

int KivTruncToInt(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int>(v);
}

const int32_t* KivSine16(void) {
  static const struct Table {
    int32_t v[512];
    Table() {
      for (int i = 0; i < 512; ++i)
        v[i] = static_cast<int32_t>(std::lround(std::sin(2.0 * M_PI * i / 512.0) * 65536.0));
    }
  } table;
  return table.v;
}

void KivSoftFill(uint32_t* px, size_t count, uint32_t value) {
  for (size_t i = 0; i < count; ++i) px[i] = value;
}

namespace {

// ---------------------------------------------------------------- plain rows

void CopyRow(const uint32_t* s, uint32_t* d, int w) { std::memcpy(d, s, static_cast<size_t>(w) * 4); }

void BlendRowPlain(const uint32_t* s, uint32_t* d, int w, uint32_t k) {
  const uint32_t kb = k & 0xFF, kg = (k >> 8) & 0xFF, kr = (k >> 16) & 0xFF, ka = k >> 24;
  for (int x = 0; x < w; ++x) {
    const uint32_t p = s[x];
    const uint32_t pa = p >> 24;
    if (pa == 0) continue;
    const uint32_t o = (pa * ka) >> 8, inv = 256 - o, q = d[x];
    const uint32_t b = ((((p & 0xFF) * kb) >> 8) * o + (q & 0xFF) * inv) >> 8;
    const uint32_t g = (((((p >> 8) & 0xFF) * kg) >> 8) * o + ((q >> 8) & 0xFF) * inv) >> 8;
    const uint32_t r = (((((p >> 16) & 0xFF) * kr) >> 8) * o + ((q >> 16) & 0xFF) * inv) >> 8;
    d[x] = 0xFF000000u | r << 16 | g << 8 | b;
  }
}

void AddRowPlain(const uint32_t* s, uint32_t* d, int w, uint32_t k) {
  const uint32_t ka = k >> 24;
  for (int x = 0; x < w; ++x) {
    const uint32_t p = s[x];
    const uint32_t pa = p >> 24;
    if (pa == 0) continue;
    const uint32_t q = d[x];
    uint32_t out = q & 0xFF000000u;
    for (int c = 0; c < 24; c += 8) {
      const uint32_t v = std::min<uint32_t>(255, ((q >> c) & 0xFF) + ((p >> c) & 0xFF) * pa / 256 * ka / 256);
      out |= v << c;
    }
    d[x] = out;
  }
}

void MultiplyRowPlain(const uint32_t* s, uint32_t* d, int w, uint32_t k) {
  const uint32_t ka = k >> 24;
  for (int x = 0; x < w; ++x) {
    const uint32_t p = s[x];
    const uint32_t pa = p >> 24;
    if (pa == 0) continue;
    const uint32_t q = d[x];
    uint32_t out = q & 0xFF000000u;
    for (int c = 0; c < 24; c += 8) {
      const uint32_t t = (((p >> c) & 0xFF) * pa / 256 * ka) >> 8;
      out |= (t * ((q >> c) & 0xFF) / 256) << c;
    }
    d[x] = out;
  }
}

#if KIV_X86
// ---------------------------------------------------------------- SSE2 rows
// Pixels are widened to 16-bit channels (two per register half); every
// intermediate of the rules fits 16 bits unsigned: (p*K)>>8 <= 254, and
// c*o + d*(256-o) <= 255*256 because o <= 254.

inline __m128i Widen16Lo(__m128i v) { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }
inline __m128i Widen16Hi(__m128i v) { return _mm_unpackhi_epi8(v, _mm_setzero_si128()); }
inline __m128i Alpha16(__m128i v) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xFF), 0xFF); }

void BlendRowSse2(const uint32_t* s, uint32_t* d, int w, uint32_t k) {
  const __m128i kk = Widen16Lo(_mm_set1_epi32(static_cast<int>(k)));
  const __m128i c256 = _mm_set1_epi16(256), amask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  const __m128i zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 4 <= w; x += 4) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
    const __m128i none = _mm_cmpeq_epi32(_mm_and_si128(p, amask), zero);
    if (_mm_movemask_epi8(none) == 0xFFFF) continue;
    const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x));
    // (p * K) >> 8 gives the modulated colour and, in the alpha lane, o.
    const __m128i pl = _mm_srli_epi16(_mm_mullo_epi16(Widen16Lo(p), kk), 8);
    const __m128i ph = _mm_srli_epi16(_mm_mullo_epi16(Widen16Hi(p), kk), 8);
    const __m128i ol = Alpha16(pl), oh = Alpha16(ph);
    const __m128i rl = _mm_srli_epi16(
        _mm_add_epi16(_mm_mullo_epi16(pl, ol), _mm_mullo_epi16(Widen16Lo(q), _mm_sub_epi16(c256, ol))), 8);
    const __m128i rh = _mm_srli_epi16(
        _mm_add_epi16(_mm_mullo_epi16(ph, oh), _mm_mullo_epi16(Widen16Hi(q), _mm_sub_epi16(c256, oh))), 8);
    const __m128i r = _mm_or_si128(_mm_packus_epi16(rl, rh), amask);
    const __m128i out = _mm_or_si128(_mm_and_si128(none, q), _mm_andnot_si128(none, r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), out);
  }
  BlendRowPlain(s + x, d + x, w - x, k);
}

// p_c * pA / 256 * KA / 256, colour lanes only (alpha lane 0).
inline __m128i Scaled16(__m128i p16, __m128i ka, __m128i colourLanes) {
  const __m128i t = _mm_srli_epi16(_mm_mullo_epi16(p16, Alpha16(p16)), 8);
  return _mm_and_si128(_mm_srli_epi16(_mm_mullo_epi16(t, ka), 8), colourLanes);
}

void AddRowSse2(const uint32_t* s, uint32_t* d, int w, uint32_t k) {
  const __m128i ka = _mm_set1_epi16(static_cast<short>(k >> 24));
  const __m128i colour = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
  int x = 0;
  for (; x + 4 <= w; x += 4) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
    const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x));
    // A transparent pixel adds 0, so no mask is needed.
    const __m128i t = _mm_packus_epi16(Scaled16(Widen16Lo(p), ka, colour), Scaled16(Widen16Hi(p), ka, colour));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), _mm_adds_epu8(q, t));
  }
  AddRowPlain(s + x, d + x, w - x, k);
}

void MultiplyRowSse2(const uint32_t* s, uint32_t* d, int w, uint32_t k) {
  const __m128i ka = _mm_set1_epi16(static_cast<short>(k >> 24));
  const __m128i colour = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
  const __m128i amask = _mm_set1_epi32(static_cast<int>(0xFF000000u)), zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 4 <= w; x += 4) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
    const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x));
    const __m128i rl = _mm_srli_epi16(_mm_mullo_epi16(Scaled16(Widen16Lo(p), ka, colour), Widen16Lo(q)), 8);
    const __m128i rh = _mm_srli_epi16(_mm_mullo_epi16(Scaled16(Widen16Hi(p), ka, colour), Widen16Hi(q)), 8);
    // Colour from the rule, alpha from the target; transparent pixels keep it all.
    const __m128i keep = _mm_or_si128(_mm_cmpeq_epi32(_mm_and_si128(p, amask), zero), amask);
    const __m128i r = _mm_packus_epi16(rl, rh);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), _mm_or_si128(_mm_and_si128(keep, q), _mm_andnot_si128(keep, r)));
  }
  MultiplyRowPlain(s + x, d + x, w - x, k);
}

// ---------------------------------------------------------------- AVX2 rows

#define KIV_AVX2 __attribute__((target("avx2")))

KIV_AVX2 inline __m256i W16Lo(__m256i v) { return _mm256_unpacklo_epi8(v, _mm256_setzero_si256()); }
KIV_AVX2 inline __m256i W16Hi(__m256i v) { return _mm256_unpackhi_epi8(v, _mm256_setzero_si256()); }
KIV_AVX2 inline __m256i A16(__m256i v) { return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(v, 0xFF), 0xFF); }

KIV_AVX2 void BlendRowAvx2(const uint32_t* s, uint32_t* d, int w, uint32_t k) {
  const __m256i kk = W16Lo(_mm256_set1_epi32(static_cast<int>(k)));
  const __m256i c256 = _mm256_set1_epi16(256), amask = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  const __m256i zero = _mm256_setzero_si256();
  int x = 0;
  for (; x + 8 <= w; x += 8) {
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + x));
    const __m256i none = _mm256_cmpeq_epi32(_mm256_and_si256(p, amask), zero);
    if (_mm256_movemask_epi8(none) == -1) continue;
    const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + x));
    const __m256i pl = _mm256_srli_epi16(_mm256_mullo_epi16(W16Lo(p), kk), 8);
    const __m256i ph = _mm256_srli_epi16(_mm256_mullo_epi16(W16Hi(p), kk), 8);
    const __m256i ol = A16(pl), oh = A16(ph);
    const __m256i rl = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(pl, ol), _mm256_mullo_epi16(W16Lo(q), _mm256_sub_epi16(c256, ol))), 8);
    const __m256i rh = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(ph, oh), _mm256_mullo_epi16(W16Hi(q), _mm256_sub_epi16(c256, oh))), 8);
    const __m256i r = _mm256_or_si256(_mm256_packus_epi16(rl, rh), amask);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), _mm256_blendv_epi8(r, q, none));
  }
  BlendRowSse2(s + x, d + x, w - x, k);
}

KIV_AVX2 inline __m256i Sc16(__m256i p16, __m256i ka, __m256i colourLanes) {
  const __m256i t = _mm256_srli_epi16(_mm256_mullo_epi16(p16, A16(p16)), 8);
  return _mm256_and_si256(_mm256_srli_epi16(_mm256_mullo_epi16(t, ka), 8), colourLanes);
}

KIV_AVX2 void AddRowAvx2(const uint32_t* s, uint32_t* d, int w, uint32_t k) {
  const __m256i ka = _mm256_set1_epi16(static_cast<short>(k >> 24));
  const __m256i colour = _mm256_set1_epi64x(0x0000FFFFFFFFFFFFLL);
  int x = 0;
  for (; x + 8 <= w; x += 8) {
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + x));
    const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + x));
    const __m256i t = _mm256_packus_epi16(Sc16(W16Lo(p), ka, colour), Sc16(W16Hi(p), ka, colour));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), _mm256_adds_epu8(q, t));
  }
  AddRowSse2(s + x, d + x, w - x, k);
}

KIV_AVX2 void MultiplyRowAvx2(const uint32_t* s, uint32_t* d, int w, uint32_t k) {
  const __m256i ka = _mm256_set1_epi16(static_cast<short>(k >> 24));
  const __m256i colour = _mm256_set1_epi64x(0x0000FFFFFFFFFFFFLL);
  const __m256i amask = _mm256_set1_epi32(static_cast<int>(0xFF000000u)), zero = _mm256_setzero_si256();
  int x = 0;
  for (; x + 8 <= w; x += 8) {
    const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + x));
    const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + x));
    const __m256i rl = _mm256_srli_epi16(_mm256_mullo_epi16(Sc16(W16Lo(p), ka, colour), W16Lo(q)), 8);
    const __m256i rh = _mm256_srli_epi16(_mm256_mullo_epi16(Sc16(W16Hi(p), ka, colour), W16Hi(q)), 8);
    const __m256i keep = _mm256_or_si256(_mm256_cmpeq_epi32(_mm256_and_si256(p, amask), zero), amask);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), _mm256_blendv_epi8(_mm256_packus_epi16(rl, rh), q, keep));
  }
  MultiplyRowSse2(s + x, d + x, w - x, k);
}

bool HasAvx2() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes;
}
#endif  // KIV_X86

using RowFn = void (*)(const uint32_t*, uint32_t*, int, uint32_t);

RowFn PickRow(int mode, bool simd) {
  if (mode == 0) return [](const uint32_t* s, uint32_t* d, int w, uint32_t) { CopyRow(s, d, w); };
#if KIV_X86
  if (simd) {
    const bool avx2 = HasAvx2();
    switch (mode) {
      case 2: return avx2 ? AddRowAvx2 : AddRowSse2;
      case 3: return avx2 ? MultiplyRowAvx2 : MultiplyRowSse2;
      default: return avx2 ? BlendRowAvx2 : BlendRowSse2;
    }
  }
#endif
  switch (mode) {
    case 2: return AddRowPlain;
    case 3: return MultiplyRowPlain;
    default: return BlendRowPlain;
  }
}

}  // namespace

void KivSoftBlitRect(int mode, const uint32_t* src, int srcPitch, uint32_t* dst, int dstPitch, int w, int h,
                     uint32_t colour, KivLoopVariant v) {
  if (w <= 0 || h <= 0) return;
  RowFn row = PickRow(mode, KivUseSimd(v));
  for (int y = 0; y < h; ++y)
    row(src + static_cast<size_t>(y) * srcPitch, dst + static_cast<size_t>(y) * dstPitch, w, colour);
}

// ---------------------------------------------------------------- blit paths

namespace {

// Plain path: clip the rectangle against the source buffer and the target.
void BlitPlain(KivSoftScreen* screen, const KivPixelBuffer* src, const KivRect& rect, int x, int y,
               uint32_t colour) {
  const int64_t tw = screen->width, th = screen->height;
  int64_t l = rect.left, t = rect.top, r = rect.right, b = rect.bottom, dx = x, dy = y;
  // Parts of the rectangle outside the source buffer are not drawn.
  if (l < 0) { dx -= l; l = 0; }
  if (t < 0) { dy -= t; t = 0; }
  r = std::min<int64_t>(r, src->width);
  b = std::min<int64_t>(b, src->height);
  if (dx < 0) { l -= dx; dx = 0; }
  if (dy < 0) { t -= dy; dy = 0; }
  if (dx + (r - l) > tw) r = l + (tw - dx);
  if (dy + (b - t) > th) b = t + (th - dy);
  if (r <= l || b <= t) return;
  KivSoftBlitRect(screen->blitMode, src->pixels + t * src->width + l, src->width,
                  screen->target + dy * tw + dx, screen->width, static_cast<int>(r - l), static_cast<int>(b - t),
                  colour);
}

// Rotate-and-scale path: the rectangle is packed into the work buffer, a
// square box of its diagonal times the scale is filled by inverse mapping
// and blitted centred on the rectangle's centre.
void BlitTransform(KivSoftScreen* screen, const KivPixelBuffer* src, const KivRect& rect, int x, int y,
                   float scale, int angle, uint32_t colour) {
  const int ang = static_cast<int>((0u - static_cast<unsigned>(angle)) & 511u);
  const int64_t w = std::min<int64_t>(static_cast<int64_t>(rect.right) - rect.left, kKivSoftBoxLimit);
  const int64_t h = std::min<int64_t>(static_cast<int64_t>(rect.bottom) - rect.top, kKivSoftBoxLimit);
  if (w <= 0 || h <= 0) return;
  const int D = static_cast<int>(std::sqrt(static_cast<double>(w * w + h * h)));
  int S = KivTruncToInt(static_cast<float>(D) * scale);
  if (S > kKivSoftBoxLimit) S = kKivSoftBoxLimit;
  if (S <= 0) return;

  // Pack the source rectangle (pixels outside the buffer are transparent).
  auto* packed = reinterpret_cast<uint32_t*>(screen->work + kKivSoftPackOffset);
  for (int64_t yy = 0; yy < h; ++yy) {
    const int64_t sy = rect.top + yy;
    uint32_t* o = packed + yy * w;
    for (int64_t xx = 0; xx < w; ++xx) {
      const int64_t sx = rect.left + xx;
      o[xx] = (sx >= 0 && sy >= 0 && sx < src->width && sy < src->height) ? src->pixels[sy * src->width + sx] : 0u;
    }
  }

  const int64_t bx = static_cast<int64_t>(x) - ((S - w) >> 1), by = static_cast<int64_t>(y) - ((S - h) >> 1);
  const int64_t x0 = std::max<int64_t>(0, bx), x1 = std::min<int64_t>(screen->width, bx + S);
  const int64_t y0 = std::max<int64_t>(0, by), y1 = std::min<int64_t>(screen->height, by + S);
  if (x0 >= x1 || y0 >= y1) return;

  // 16.16 steps: one box pixel right moves (cos, sin) / s in the source,
  // one down (-sin, cos) / s; the box centre maps to the rectangle's centre.
  const int32_t* sine = KivSine16();
  const int64_t k = KivTruncToInt(256.0f / scale);
  const int64_t cs = sine[(ang + 128) & 511], sn = sine[ang];
  const int64_t dux = (cs * k) >> 8, dvx = (sn * k) >> 8, duy = -dvx, dvy = dux;
  const int64_t c = S >> 1;
  const int64_t u00 = ((w >> 1) << 16) - c * dux - c * duy, v00 = ((h >> 1) << 16) - c * dvx - c * dvy;

  auto* box = reinterpret_cast<uint32_t*>(screen->work);
  const int64_t bw = x1 - x0;
  const uint32_t uw = static_cast<uint32_t>(w), uh = static_cast<uint32_t>(h);
  for (int64_t yy = y0; yy < y1; ++yy) {
    const int64_t ry = yy - by, rx = x0 - bx;
    int32_t u = static_cast<int32_t>(u00 + rx * dux + ry * duy);
    int32_t v = static_cast<int32_t>(v00 + rx * dvx + ry * dvy);
    const int32_t du = static_cast<int32_t>(dux), dv = static_cast<int32_t>(dvx);
    uint32_t* o = box + (yy - y0) * bw;
    for (int64_t xx = 0; xx < bw; ++xx, u += du, v += dv) {
      const uint32_t sx = static_cast<uint32_t>(u >> 16), sy = static_cast<uint32_t>(v >> 16);
      o[xx] = (sx < uw && sy < uh) ? packed[sy * uw + sx] : 0u;
    }
  }
  KivSoftBlitRect(screen->blitMode, box, static_cast<int>(bw), screen->target + y0 * screen->width + x0,
                  screen->width, static_cast<int>(bw), static_cast<int>(y1 - y0), colour);
}

}  // namespace

void KivSoftBlit(KivSoftScreen* screen, const KivRect& rect, int x, int y, float scale, int angle,
                 uint32_t colour) {
  const KivPixelBuffer* src = screen->source;
  if (!src || !src->pixels || !screen->target) return;
  if (angle == 0 && scale == 1.0f) BlitPlain(screen, src, rect, x, y, colour);
  else BlitTransform(screen, src, rect, x, y, scale, angle, colour);
}

// ---------------------------------------------------------------- ripple

void KivSoftRipple(const uint32_t* src, uint32_t* dst, int width, int height, float phase, float ampX,
                   float ampY) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  const int32_t* sine = KivSine16();
  const int t = KivTruncToInt(static_cast<double>(phase) * 511.0);
  // Shifts beyond the picture leave pixels unchanged; bounding the
  // amplitudes keeps the products within 32 bits.
  const int64_t hx = std::clamp<int64_t>(KivTruncToInt(static_cast<double>(ampX) * width * 0.1), -(1 << 14), 1 << 14);
  const int64_t hy = std::clamp<int64_t>(KivTruncToInt(static_cast<double>(ampY) * height * 0.1), -(1 << 14), 1 << 14);
  for (int i = 0; i < height; ++i) {
    const int64_t hs = hx ? (hx * sine[(t + i) & 511]) >> 16 : 0;
    for (int j = 0; j < width; ++j) {
      const int64_t vs = hy ? (hy * sine[(t + j) & 511]) >> 16 : 0;
      const int64_t si = i + vs, sj = j + hs;
      if (si >= 0 && sj >= 0 && si < height && sj < width)
        dst[static_cast<size_t>(i) * width + j] = src[si * width + sj];
    }
  }
}

// ---------------------------------------------------------------- sprite draw

namespace {

const KivPixelBuffer* BufferOf(const KivSoftSurface* s) {
  return (s && s->entry && s->entry->refCount > 0) ? s->entry->buffer : nullptr;
}

void FxDraw(KivSoftScreen* screen, const KivSoftDraw& d, const KivPixelBuffer* src) {
  KivPixelBuffer* a = screen->fx[0];
  KivPixelBuffer* b = screen->fx[1];
  if (!a || !b) {
    screen->source = src;
    KivSoftBlit(screen, d.rect, d.x, d.y, d.scale, d.angle, d.colour);
    return;
  }
  const size_t n = static_cast<size_t>(a->width) * a->height;
  // The sprite alone, copied into the cleared Fx buffer...
  uint32_t* back = screen->target;
  screen->target = a->pixels;
  KivSoftFill(a->pixels, n, 0);
  const int mode = screen->blitMode;
  screen->blitMode = 0;
  screen->source = src;
  KivSoftBlit(screen, d.rect, d.x, d.y, d.scale, d.angle, d.colour);
  screen->target = back;
  screen->blitMode = mode;
  // ...distorted, then drawn over the screen with the sprite's mode and colour.
  const KivPixelBuffer* out = a;
  if (d.fx->kind == 1 && d.fx->work) {
    std::memcpy(b->pixels, a->pixels, n * 4);
    KivSoftRipple(a->pixels, b->pixels, a->width, a->height, d.fx->work[0], d.fx->work[1], d.fx->work[2]);
    out = b;
  }
  screen->source = out;
  KivSoftBlit(screen, KivRect{0, 0, out->width, out->height}, 0, 0, 1.0f, 0, d.colour);
}

// The source rectangle limited to the buffer.
KivRect ClipToBuffer(const KivRect& r, const KivPixelBuffer* b) {
  KivRect c{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, b->width), std::min(r.bottom, b->height)};
  if (c.right < c.left) c.right = c.left;
  if (c.bottom < c.top) c.bottom = c.top;
  return c;
}

}  // namespace

void KivSoftDrawSprite(KivSoftScreen* screen, const KivSoftDraw& d) {
  if (!screen) return;
  if (d.renderMode >= 1 && d.renderMode <= 3) screen->blitMode = d.renderMode;
  const KivPixelBuffer* src = BufferOf(d.surface);
  if (src) {
    if (d.fx) {
      FxDraw(screen, d, src);
    } else {
      screen->source = src;
      KivSoftBlit(screen, d.rect, d.x, d.y, d.scale, d.angle, d.colour);
    }
  }
  screen->blitMode = 1;
}

void KivSoftDrawTransition(KivSoftScreen* screen, const KivSoftTransitionDraw& td) {
  if (!screen) return;
  const KivPixelBuffer* ib = BufferOf(td.in.surface);
  const KivPixelBuffer* ob = BufferOf(td.out.surface);
  if (!ib && !ob) return;
  if (!ib) return KivSoftDrawSprite(screen, td.out);
  if (!ob) return KivSoftDrawSprite(screen, td.in);
  KivPixelBuffer* work = screen->transitionWork;
  if (!work) return;

  const KivRect ri = ClipToBuffer(td.in.rect, ib), ro = ClipToBuffer(td.out.rect, ob);
  const int wi = ri.right - ri.left, hi = ri.bottom - ri.top;
  const int wo = ro.right - ro.left, ho = ro.bottom - ro.top;
  if (hi != ho) return;  // only pictures of one height are combined
  const int W = std::min(std::max(wi, wo), kKivSoftBoxLimit), H = std::min(hi, kKivSoftBoxLimit);
  if (W <= 0 || H <= 0) return;
  const int offI = (std::max(wi, wo) - wi) >> 1, offO = (std::max(wi, wo) - wo) >> 1;
  const uint32_t t = static_cast<uint32_t>(std::clamp(KivTruncToInt(td.progress * 255.0f), 0, 255));
  const uint32_t kai = td.in.colour >> 24, kao = td.out.colour >> 24;
  for (int y = 0; y < H; ++y) {
    const uint32_t* irow = ib->pixels + static_cast<size_t>(ri.top + y) * ib->width + ri.left;
    const uint32_t* orow = ob->pixels + static_cast<size_t>(ro.top + y) * ob->width + ro.left;
    uint32_t* o = work->pixels + static_cast<size_t>(y) * work->width;
    for (int X = 0; X < W; ++X) {
      const int xi = X - offI, xo = X - offO;
      const uint32_t pi = (xi >= 0 && xi < wi) ? irow[xi] : 0u;
      const uint32_t po = (xo >= 0 && xo < wo) ? orow[xo] : 0u;
      const uint32_t ai = pi >> 24, ao = po >> 24;
      uint32_t c;
      if (!ai && !ao) {
        c = 0;
      } else if (!ao) {
        c = (pi & 0xFFFFFFu) | ((t * ai) >> 8) << 24;
      } else if (!ai) {
        c = (po & 0xFFFFFFu) | (((255 - t) * ao) >> 8) << 24;
      } else {
        c = std::min<uint32_t>(255, ((ai * kai) >> 8) + ((ao * kao) >> 8)) << 24;
        for (int s = 0; s < 24; s += 8)
          c |= ((t * ((pi >> s) & 0xFF) + (255 - t) * ((po >> s) & 0xFF)) >> 8) << s;
      }
      o[X] = c;
    }
  }
  screen->blitMode = 1;
  screen->source = work;
  KivSoftBlit(screen, KivRect{0, 0, W, H}, td.in.x - offI, td.in.y, td.in.scale, td.in.angle,
              (td.in.colour & 0xFFFFFFu) | 0xFF000000u);
  screen->blitMode = 1;
}
