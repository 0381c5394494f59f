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

#include "render/soft_screen.h"

// ---------------------------------------------------------------- helpers

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"))) static void FillAvx2(uint32_t* px, size_t count, uint32_t value) {
  const __m256i v = _mm256_set1_epi32(static_cast<int>(value));
  size_t i = 0;
  for (; i + 8 <= count; i += 8) _mm256_storeu_si256(reinterpret_cast<__m256i*>(px + i), v);
  for (; i < count; ++i) px[i] = value;
}
#endif

void KivSoftFill(uint32_t* px, size_t count, uint32_t value) {
#if defined(__x86_64__) || defined(__i386__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) return FillAvx2(px, count, value);
#endif
  for (size_t i = 0; i < count; ++i) px[i] = value;
}

namespace {

// Row blitters read the target's row from in and write it to out: the same
// row, or (for a row not yet cleared this frame) the clear colour's row.

// ---------------------------------------------------------------- plain rows

void CopyRow(const uint32_t* s, const uint32_t*, uint32_t* d, int w, uint32_t) {
  std::memcpy(d, s, static_cast<size_t>(w) * 4);
}

void BlendRowPlain(const uint32_t* s, const uint32_t* in, uint32_t* d, int w, uint32_t k) {
  const uint32_t kb = k & 0xFF, kg = (k >> 8) & 0xFF, kr = (k >> 16) & 0xFF, ka = k >> 24;
  for (int x = 0; x < w; ++x) {
    const uint32_t p = s[x], q = in[x];
    const uint32_t pa = p >> 24;
    if (pa == 0) {
      d[x] = q;
      continue;
    }
    const uint32_t o = (pa * ka) >> 8, inv = 256 - o;
    const uint32_t b = ((((p & 0xFF) * kb) >> 8) * o + (q & 0xFF) * inv) >> 8;
    const uint32_t g = (((((p >> 8) & 0xFF) * kg) >> 8) * o + ((q >> 8) & 0xFF) * inv) >> 8;
    const uint32_t r = (((((p >> 16) & 0xFF) * kr) >> 8) * o + ((q >> 16) & 0xFF) * inv) >> 8;
    d[x] = 0xFF000000u | r << 16 | g << 8 | b;
  }
}

void AddRowPlain(const uint32_t* s, const uint32_t* in, uint32_t* d, int w, uint32_t k) {
  const uint32_t ka = k >> 24;
  for (int x = 0; x < w; ++x) {
    const uint32_t p = s[x], q = in[x];
    const uint32_t pa = p >> 24;
    if (pa == 0) {
      d[x] = q;
      continue;
    }
    uint32_t out = q & 0xFF000000u;
    for (int c = 0; c < 24; c += 8) {
      const uint32_t v = std::min<uint32_t>(255, ((q >> c) & 0xFF) + ((p >> c) & 0xFF) * pa / 256 * ka / 256);
      out |= v << c;
    }
    d[x] = out;
  }
}

void MultiplyRowPlain(const uint32_t* s, const uint32_t* in, uint32_t* d, int w, uint32_t k) {
  const uint32_t ka = k >> 24;
  for (int x = 0; x < w; ++x) {
    const uint32_t p = s[x], q = in[x];
    const uint32_t pa = p >> 24;
    if (pa == 0) {
      d[x] = q;
      continue;
    }
    uint32_t out = q & 0xFF000000u;
    for (int c = 0; c < 24; c += 8) {
      const uint32_t t = (((p >> c) & 0xFF) * pa / 256 * ka) >> 8;
      out |= (t * ((q >> c) & 0xFF) / 256) << c;
    }
    d[x] = out;
  }
}

#if KIV_X86
// ---------------------------------------------------------------- vector rows
// Channels are worked on in 16-bit lanes, red with blue and alpha with
// green (masks 0x00FF00FF), so no widening is needed. The blend is formed
// as d + ((c - d) * o) >> 8 with a signed high multiply of (c - d) << 7 by
// o << 1, which equals (c * o + d * (256 - o)) >> 8 exactly; with a white
// colour (p * 255) >> 8 is p - 1 for p > 0, a saturating byte subtract.

inline __m128i Load4(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store4(uint32_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// The alpha byte (byte 2 of the alpha-green lanes) in both 16-bit halves.
inline __m128i Spread16Sse2(__m128i ag) {
  const __m128i a = _mm_srli_epi32(ag, 16);
  return _mm_or_si128(a, _mm_slli_epi32(a, 16));
}

template <bool kWhite>
void BlendRowSse2T(const uint32_t* s, const uint32_t* in, uint32_t* d, int w, uint32_t k) {
  const __m128i m = _mm_set1_epi32(0x00FF00FF), amask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi8(1);
  const __m128i krb = _mm_set1_epi32(static_cast<int>(k & 0x00FF00FFu));
  const __m128i kag = _mm_set1_epi32(static_cast<int>((k >> 8) & 0x00FF00FFu));
  int x = 0;
  for (; x + 4 <= w; x += 4) {
    const __m128i p = Load4(s + x);
    const __m128i none = _mm_cmpeq_epi32(_mm_and_si128(p, amask), zero);
    const __m128i q = Load4(in + x);
    if (_mm_movemask_epi8(none) == 0xFFFF) {
      Store4(d + x, q);
      continue;
    }
    __m128i crb, cag;
    if (kWhite) {
      const __m128i pk = _mm_subs_epu8(p, one);
      crb = _mm_and_si128(pk, m);
      cag = _mm_srli_epi16(pk, 8);
    } else {
      crb = _mm_srli_epi16(_mm_mullo_epi16(_mm_and_si128(p, m), krb), 8);
      cag = _mm_srli_epi16(_mm_mullo_epi16(_mm_srli_epi16(p, 8), kag), 8);
    }
    const __m128i o2 = _mm_slli_epi16(Spread16Sse2(cag), 1);
    const __m128i drb = _mm_and_si128(q, m), dag = _mm_srli_epi16(q, 8);
    const __m128i rrb = _mm_add_epi16(drb, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(crb, drb), 7), o2));
    const __m128i rag = _mm_add_epi16(dag, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(cag, dag), 7), o2));
    const __m128i r = _mm_or_si128(_mm_or_si128(rrb, _mm_slli_epi16(rag, 8)), amask);
    Store4(d + x, _mm_or_si128(_mm_and_si128(none, q), _mm_andnot_si128(none, r)));
  }
  BlendRowPlain(s + x, in + x, d + x, w - x, k);
}

// p_c * pA / 256 * KA / 256 in the 16-bit lanes of one channel pair.
inline __m128i ScaledSse2(__m128i c, __m128i pa2, __m128i ka) {
  return _mm_srli_epi16(_mm_mullo_epi16(_mm_srli_epi16(_mm_mullo_epi16(c, pa2), 8), ka), 8);
}

void AddRowSse2(const uint32_t* s, const uint32_t* in, uint32_t* d, int w, uint32_t k) {
  const __m128i m = _mm_set1_epi32(0x00FF00FF), ka = _mm_set1_epi16(static_cast<short>(k >> 24));
  const __m128i rgbOnly = _mm_set1_epi32(0x00FFFFFF);
  int x = 0;
  for (; x + 4 <= w; x += 4) {
    const __m128i p = Load4(s + x), q = Load4(in + x);
    const __m128i pa2 = Spread16Sse2(_mm_srli_epi16(p, 8));
    const __m128i rb = ScaledSse2(_mm_and_si128(p, m), pa2, ka);
    const __m128i g = ScaledSse2(_mm_srli_epi16(p, 8), pa2, ka);
    // A transparent pixel adds 0; the target's alpha is kept.
    const __m128i t = _mm_and_si128(_mm_or_si128(rb, _mm_slli_epi16(g, 8)), rgbOnly);
    Store4(d + x, _mm_adds_epu8(q, t));
  }
  AddRowPlain(s + x, in + x, d + x, w - x, k);
}

void MultiplyRowSse2(const uint32_t* s, const uint32_t* in, uint32_t* d, int w, uint32_t k) {
  const __m128i m = _mm_set1_epi32(0x00FF00FF), ka = _mm_set1_epi16(static_cast<short>(k >> 24));
  const __m128i amask = _mm_set1_epi32(static_cast<int>(0xFF000000u)), zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 4 <= w; x += 4) {
    const __m128i p = Load4(s + x), q = Load4(in + x);
    const __m128i pa2 = Spread16Sse2(_mm_srli_epi16(p, 8));
    const __m128i trb = ScaledSse2(_mm_and_si128(p, m), pa2, ka);
    const __m128i tg = ScaledSse2(_mm_srli_epi16(p, 8), pa2, ka);
    const __m128i rb = _mm_srli_epi16(_mm_mullo_epi16(trb, _mm_and_si128(q, m)), 8);
    const __m128i g = _mm_srli_epi16(_mm_mullo_epi16(tg, _mm_srli_epi16(q, 8)), 8);
    const __m128i r = _mm_or_si128(rb, _mm_slli_epi16(g, 8));
    // Colour from the rule, alpha from the target; transparent pixels keep it all.
    const __m128i keep = _mm_or_si128(_mm_cmpeq_epi32(_mm_and_si128(p, amask), zero), amask);
    Store4(d + x, _mm_or_si128(_mm_and_si128(keep, q), _mm_andnot_si128(keep, r)));
  }
  MultiplyRowPlain(s + x, in + x, d + x, w - x, k);
}

#define KIV_AVX2 __attribute__((target("avx2")))

KIV_AVX2 inline __m256i Load8(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
KIV_AVX2 inline void Store8(uint32_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
KIV_AVX2 inline __m256i Spread16(__m256i ag) {
  const __m256i a = _mm256_srli_epi32(ag, 16);
  return _mm256_or_si256(a, _mm256_slli_epi32(a, 16));
}

template <bool kWhite>
KIV_AVX2 void BlendRowAvx2T(const uint32_t* s, const uint32_t* in, uint32_t* d, int w, uint32_t k) {
  const __m256i m = _mm256_set1_epi32(0x00FF00FF), amask = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi8(1);
  const __m256i krb = _mm256_set1_epi32(static_cast<int>(k & 0x00FF00FFu));
  const __m256i kag = _mm256_set1_epi32(static_cast<int>((k >> 8) & 0x00FF00FFu));
  int x = 0;
  for (; x + 8 <= w; x += 8) {
    const __m256i p = Load8(s + x);
    const __m256i none = _mm256_cmpeq_epi32(_mm256_and_si256(p, amask), zero);
    const __m256i q = Load8(in + x);
    const int noneBits = _mm256_movemask_epi8(none);
    if (noneBits == -1) {
      Store8(d + x, q);
      continue;
    }
    __m256i crb, cag;
    if (kWhite) {
      const __m256i pk = _mm256_subs_epu8(p, one);
      crb = _mm256_and_si256(pk, m);
      cag = _mm256_srli_epi16(pk, 8);
    } else {
      crb = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_and_si256(p, m), krb), 8);
      cag = _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(p, 8), kag), 8);
    }
    const __m256i o2 = _mm256_slli_epi16(Spread16(cag), 1);
    const __m256i drb = _mm256_and_si256(q, m), dag = _mm256_srli_epi16(q, 8);
    const __m256i rrb =
        _mm256_add_epi16(drb, _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(crb, drb), 7), o2));
    const __m256i rag =
        _mm256_add_epi16(dag, _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(cag, dag), 7), o2));
    __m256i r = _mm256_or_si256(_mm256_or_si256(rrb, _mm256_slli_epi16(rag, 8)), amask);
    if (noneBits != 0) r = _mm256_blendv_epi8(r, q, none);
    Store8(d + x, r);
  }
  BlendRowSse2T<kWhite>(s + x, in + x, d + x, w - x, k);
}

KIV_AVX2 inline __m256i Scaled(__m256i c, __m256i pa2, __m256i ka) {
  return _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(_mm256_mullo_epi16(c, pa2), 8), ka), 8);
}

KIV_AVX2 void AddRowAvx2(const uint32_t* s, const uint32_t* in, uint32_t* d, int w, uint32_t k) {
  const __m256i m = _mm256_set1_epi32(0x00FF00FF), ka = _mm256_set1_epi16(static_cast<short>(k >> 24));
  const __m256i rgbOnly = _mm256_set1_epi32(0x00FFFFFF);
  int x = 0;
  for (; x + 8 <= w; x += 8) {
    const __m256i p = Load8(s + x), q = Load8(in + x);
    const __m256i pa2 = Spread16(_mm256_srli_epi16(p, 8));
    const __m256i rb = Scaled(_mm256_and_si256(p, m), pa2, ka);
    const __m256i g = Scaled(_mm256_srli_epi16(p, 8), pa2, ka);
    const __m256i t = _mm256_and_si256(_mm256_or_si256(rb, _mm256_slli_epi16(g, 8)), rgbOnly);
    Store8(d + x, _mm256_adds_epu8(q, t));
  }
  AddRowSse2(s + x, in + x, d + x, w - x, k);
}

KIV_AVX2 void MultiplyRowAvx2(const uint32_t* s, const uint32_t* in, uint32_t* d, int w, uint32_t k) {
  const __m256i m = _mm256_set1_epi32(0x00FF00FF), ka = _mm256_set1_epi16(static_cast<short>(k >> 24));
  const __m256i amask = _mm256_set1_epi32(static_cast<int>(0xFF000000u)), zero = _mm256_setzero_si256();
  int x = 0;
  for (; x + 8 <= w; x += 8) {
    const __m256i p = Load8(s + x), q = Load8(in + x);
    const __m256i pa2 = Spread16(_mm256_srli_epi16(p, 8));
    const __m256i trb = Scaled(_mm256_and_si256(p, m), pa2, ka);
    const __m256i tg = Scaled(_mm256_srli_epi16(p, 8), pa2, ka);
    const __m256i rb = _mm256_srli_epi16(_mm256_mullo_epi16(trb, _mm256_and_si256(q, m)), 8);
    const __m256i g = _mm256_srli_epi16(_mm256_mullo_epi16(tg, _mm256_srli_epi16(q, 8)), 8);
    const __m256i r = _mm256_or_si256(rb, _mm256_slli_epi16(g, 8));
    const __m256i keep = _mm256_or_si256(_mm256_cmpeq_epi32(_mm256_and_si256(p, amask), zero), amask);
    Store8(d + x, _mm256_blendv_epi8(r, q, keep));
  }
  MultiplyRowSse2(s + x, in + x, d + x, w - x, k);
}

bool HasAvx2() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes;
}
#endif  // KIV_X86

using RowFn = void (*)(const uint32_t*, const uint32_t*, uint32_t*, int, uint32_t);

RowFn PickRow(int mode, uint32_t colour, bool simd) {
  if (mode == 0) return CopyRow;
#if KIV_X86
  if (simd) {
    const bool avx2 = HasAvx2(), white = colour == 0xFFFFFFFFu;
    switch (mode) {
      case 2: return avx2 ? AddRowAvx2 : AddRowSse2;
      case 3: return avx2 ? MultiplyRowAvx2 : MultiplyRowSse2;
      default:
        if (avx2) return white ? BlendRowAvx2T<true> : BlendRowAvx2T<false>;
        return white ? BlendRowSse2T<true> : BlendRowSse2T<false>;
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
  RowFn row = PickRow(mode, colour, KivUseSimd(v));
  for (int y = 0; y < h; ++y) {
    uint32_t* d = dst + static_cast<size_t>(y) * dstPitch;
    row(src + static_cast<size_t>(y) * srcPitch, d, d, w, colour);
  }
}

// ---------------------------------------------------------------- lazy clear

void KivSoftBeginClear(KivSoftScreen* screen, uint32_t colour) {
  if (!screen->rowPending || !screen->clearRow) {
    KivSoftFill(screen->backBuffer, static_cast<size_t>(screen->width) * screen->height, colour);
    return;
  }
  if (screen->clearColour != colour || !screen->clearRowValid) {
    KivSoftFill(screen->clearRow, static_cast<size_t>(screen->width), colour);
    screen->clearColour = colour;
    screen->clearRowValid = 1;
  }
  std::memset(screen->rowPending, 1, static_cast<size_t>(screen->height));
  screen->pendingRows = screen->height;
}

void KivSoftResolve(KivSoftScreen* screen) {
  if (!screen || screen->pendingRows == 0) return;
  for (int y = 0; y < screen->height; ++y) {
    if (!screen->rowPending[y]) continue;
    std::memcpy(screen->backBuffer + static_cast<size_t>(y) * screen->width, screen->clearRow,
                static_cast<size_t>(screen->width) * 4);
    screen->rowPending[y] = 0;
  }
  screen->pendingRows = 0;
}

namespace {

// Runs the current blitter over w x h pixels of src into the target at
// (x, y) (already clipped). Rows of the back buffer not yet cleared this
// frame are blended over the clear colour and the rest of each such row is
// cleared, so the clear costs no pass of its own.
// Sprites this large (a background, a full panel) keep their result over
// the clear colour.
constexpr int64_t kOverClearMinPixels = 128 * 128;

// A blit over rows that all still hold the clear colour: the result is
// taken from (or first made into) the over-clear copy, and the rows are
// copied from it; true when done so.
bool BlitOverClear(KivSoftScreen* screen, RowFn row, const uint32_t* src, int srcPitch, int x, int y, int w, int h,
                   uint32_t colour) {
  const KivSoftSurfaceEntry* e = screen->sourceEntry;
  if (!e || !screen->overClear || screen->blitMode == 0 || static_cast<int64_t>(w) * h < kOverClearMinPixels)
    return false;
  if (std::memchr(screen->rowPending + y, 0, static_cast<size_t>(h))) return false;  // some row drawn already
  auto& k = screen->overClearKey;
  const uint32_t version = KivSoftSurfaceVersion(e);
  if (k.entry != e || k.src != src || k.version != version || k.colour != colour || k.clear != screen->clearColour ||
      k.mode != screen->blitMode || k.w != w || k.h != h) {
    // Each row as the blitter makes it over the clear colour.
    for (int r = 0; r < h; ++r)
      row(src + static_cast<size_t>(r) * srcPitch, screen->clearRow + x, screen->overClear + static_cast<size_t>(r) * w,
          w, colour);
    k = {e, src, version, colour, screen->clearColour, screen->blitMode, w, h};
  }
  const int tw = screen->width;
  uint32_t* d = screen->target + static_cast<size_t>(y) * tw;
  if (x == 0 && w == tw) {
    std::memcpy(d, screen->overClear, static_cast<size_t>(w) * h * 4);
  } else {
    for (int r = 0; r < h; ++r, d += tw) {
      std::memcpy(d, screen->clearRow, static_cast<size_t>(x) * 4);
      std::memcpy(d + x, screen->overClear + static_cast<size_t>(r) * w, static_cast<size_t>(w) * 4);
      std::memcpy(d + x + w, screen->clearRow, static_cast<size_t>(tw - x - w) * 4);
    }
  }
  std::memset(screen->rowPending + y, 0, static_cast<size_t>(h));
  screen->pendingRows -= h;
  return true;
}

void BlitToTarget(KivSoftScreen* screen, const uint32_t* src, int srcPitch, int x, int y, int w, int h,
                  uint32_t colour) {
  if (w <= 0 || h <= 0) return;
  RowFn row = PickRow(screen->blitMode, colour, KivUseSimd(KivLoopVariant::kAuto));
  const bool lazy = screen->target == screen->backBuffer && screen->pendingRows > 0;
  if (lazy && BlitOverClear(screen, row, src, srcPitch, x, y, w, h, colour)) return;
  const int tw = screen->width;
  for (int r = 0; r < h; ++r) {
    const int ty = y + r;
    uint32_t* d = screen->target + static_cast<size_t>(ty) * tw;
    const uint32_t* s = src + static_cast<size_t>(r) * srcPitch;
    if (lazy && screen->rowPending[ty]) {
      const uint32_t* c = screen->clearRow;
      std::memcpy(d, c, static_cast<size_t>(x) * 4);
      row(s, c + x, d + x, w, colour);
      std::memcpy(d + x + w, c, static_cast<size_t>(tw - x - w) * 4);
      screen->rowPending[ty] = 0;
      --screen->pendingRows;
    } else {
      row(s, d + x, d + x, w, colour);
    }
  }
}

}  // namespace

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
  BlitToTarget(screen, src->pixels + t * src->width + l, src->width, static_cast<int>(dx), static_cast<int>(dy),
               static_cast<int>(r - l), static_cast<int>(b - t), colour);
}

// Rotate-and-scale path: the rectangle is packed into the work buffer, a
// square box of its diagonal times the scale is filled by inverse mapping
// and blitted centred on the rectangle's centre.
void BlitTransform(KivSoftScreen* screen, const KivPixelBuffer* src, const KivRect& rect, int x, int y,
                   float scale, int angle, uint32_t colour) {
  // A positive angle turns counter-clockwise on screen, as the GPU renderer
  // turns (the system's main renderer, which games are made against).
  const int ang = static_cast<int>(static_cast<unsigned>(angle) & 511u);
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
  BlitToTarget(screen, box, static_cast<int>(bw), static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(bw),
               static_cast<int>(y1 - y0), colour);
}

}  // namespace

void KivSoftBlit(KivSoftScreen* screen, const KivRect& rect, int x, int y, float scale, int angle,
                 uint32_t colour) {
  const KivPixelBuffer* src = screen->source;
  if (!src || !src->pixels || !screen->target) return;
  if (angle == 0 && scale == 1.0f) BlitPlain(screen, src, rect, x, y, colour);
  else BlitTransform(screen, src, rect, x, y, scale, angle, colour);
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
  // ...waved as the GPU renderer waves it (over its render target, where
  // the screen sits in the middle; what the wave pulls in from outside the
  // screen is transparent), then drawn over the screen with the sprite's
  // mode and colour.
  const KivPixelBuffer* out = a;
  if (d.fx->kind == 1 && d.fx->work) {
    KivSoftFill(b->pixels, n, 0);
    const int rw = KivPowerOfTwo(a->width), rh = KivPowerOfTwo(a->height);
    KivPixelRasterWave(a->pixels, b->pixels, a->width, a->height, (rw - a->width) >> 1, (rh - a->height) >> 1, rw, rh,
                       d.fx->work[0], d.fx->work[1], d.fx->work[2]);
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
      // Only the plain path blits the surface's own pixels (the transform
      // path blits its work buffer).
      if (d.angle == 0 && d.scale == 1.0f && d.surface) screen->sourceEntry = d.surface->entry;
      KivSoftBlit(screen, d.rect, d.x, d.y, d.scale, d.angle, d.colour);
      screen->sourceEntry = nullptr;
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
  // The outgoing picture is centred on the incoming one, by halves rounded
  // down (as the GPU renderer places it), whatever the two sizes; the
  // combined box holds both.
  const int dxo = (wi - wo) >> 1, dyo = (hi - ho) >> 1;
  const int minX = std::min(0, dxo), minY = std::min(0, dyo);
  const int W = std::min(std::max(wi, dxo + wo) - minX, kKivSoftBoxLimit);
  const int H = std::min(std::max(hi, dyo + ho) - minY, kKivSoftBoxLimit);
  if (W <= 0 || H <= 0) return;
  const int offI = -minX, offO = dxo - minX, offIY = -minY, offOY = dyo - minY;
  // Each pixel as the GPU renderer's composite leaves it: with a = the
  // incoming texel's alpha times its half's colour alpha and b the same of
  // the outgoing, where both are present the colour is in * a + out * (1 -
  // a) with alpha a + b; the outgoing alone keeps its colour with b; the
  // incoming alone has its colour with a * a (the composite mixes it with
  // the frame behind once by a, then blends the result over the frame by a
  // again).
  const uint32_t kai = td.in.colour >> 24, kao = td.out.colour >> 24;
  for (int y = 0; y < H; ++y) {
    const int yi = y - offIY, yo = y - offOY;
    const uint32_t* irow = (yi >= 0 && yi < hi) ? ib->pixels + static_cast<size_t>(ri.top + yi) * ib->width + ri.left : nullptr;
    const uint32_t* orow = (yo >= 0 && yo < ho) ? ob->pixels + static_cast<size_t>(ro.top + yo) * ob->width + ro.left : nullptr;
    uint32_t* o = work->pixels + static_cast<size_t>(y) * work->width;
    for (int X = 0; X < W; ++X) {
      const int xi = X - offI, xo = X - offO;
      const uint32_t pi = (irow && xi >= 0 && xi < wi) ? irow[xi] : 0u;
      const uint32_t po = (orow && xo >= 0 && xo < wo) ? orow[xo] : 0u;
      const uint32_t a = ((pi >> 24) * kai + 127) / 255, b = ((po >> 24) * kao + 127) / 255;
      uint32_t c;
      if (!a && !b) {
        c = 0;
      } else if (!a) {
        c = (po & 0xFFFFFFu) | b << 24;
      } else if (!b) {
        c = (pi & 0xFFFFFFu) | ((a * a + 127) / 255) << 24;
      } else {
        c = std::min<uint32_t>(255, a + b) << 24;
        for (int s = 0; s < 24; s += 8)
          c |= ((a * ((pi >> s) & 0xFF) + (255 - a) * ((po >> s) & 0xFF) + 127) / 255) << s;
      }
      o[X] = c;
    }
  }
  screen->blitMode = 1;
  screen->source = work;
  KivSoftBlit(screen, KivRect{0, 0, W, H}, td.in.x - offI, td.in.y - offIY, td.in.scale, td.in.angle,
              (td.in.colour & 0xFFFFFFu) | 0xFF000000u);
  screen->blitMode = 1;
}
