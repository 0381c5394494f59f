// The pixel routines shared by the renderers, the transitions and the
// sprite options. See pixel_routines.h for the rule of each; the vector
// variants (SSE2) compute the same integers as the plain loops, in 16-bit
// lanes wherever the sums stay below 65536.
#include "render/pixel_routines.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define KIV_PIXEL_SSE2 1
#endif

// ---------------------------------------------------------------- helpers

int KivTruncToInt(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int>(v);
}

namespace {

inline uint32_t Ch(uint32_t v, int i) { return (v >> (8 * i)) & 0xFF; }

// A 1/128 (or 1/256) step of a scale factor: trunc(unit / f), at least 1; 0
// for a factor that scales nothing (zero, negative, NaN).
int64_t StepOf(float f, double unit) {
  if (!(f > 0.0f)) return 0;
  const int64_t s = KivTruncToInt(unit / static_cast<double>(f));
  return std::max<int64_t>(s, 1);
}

// The output extent min(limit, trunc(n * f)).
int Extent(int n, float f, int limit) {
  return std::min(limit, KivTruncToInt(static_cast<double>(static_cast<float>(n) * f)));
}

}  // namespace

// ---------------------------------------------------------------- tables

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

const float* KivSineFloat(void) {
  static const struct Table {
    float v[512];
    Table() {
      for (int i = 0; i < 512; ++i) v[i] = static_cast<float>(std::sin(2.0 * M_PI * i / 512.0));
      v[0] = 0.0f;
      v[128] = 1.0f;
      v[256] = 0.000001f;
      v[384] = -1.0f;
    }
  } table;
  return table.v;
}

namespace {

// A monotone cubic through the tone rows at 0, 16, ..., 240, 254 and 255,
// rounded to integers.
constexpr KivSepiaTone kSepia[256] = {
    {12, 0, 0}, {14, 1, 0}, {16, 2, 1}, {18, 3, 1}, {20, 5, 2}, {22, 6, 2},
    {24, 7, 3}, {26, 8, 3}, {28, 9, 4}, {30, 11, 4}, {32, 12, 5}, {34, 13, 5},
    {36, 14, 6}, {38, 15, 6}, {39, 17, 7}, {41, 18, 7}, {43, 19, 8}, {45, 20, 9},
    {46, 21, 9}, {48, 23, 10}, {50, 24, 11}, {51, 25, 11}, {53, 26, 12}, {54, 28, 13},
    {56, 29, 14}, {57, 30, 14}, {59, 32, 15}, {61, 33, 16}, {62, 34, 17}, {64, 35, 18},
    {65, 37, 18}, {67, 38, 19}, {68, 39, 20}, {69, 40, 21}, {71, 41, 22}, {72, 43, 22},
    {74, 44, 23}, {75, 45, 24}, {77, 46, 25}, {78, 47, 26}, {80, 49, 26}, {81, 50, 27},
    {83, 51, 28}, {84, 52, 29}, {85, 53, 30}, {87, 54, 30}, {88, 56, 31}, {90, 57, 32},
    {91, 58, 33}, {92, 59, 34}, {94, 60, 35}, {95, 62, 36}, {96, 63, 36}, {98, 64, 37},
    {99, 65, 38}, {100, 66, 39}, {102, 68, 40}, {103, 69, 41}, {104, 70, 42}, {106, 71, 43},
    {107, 72, 43}, {108, 74, 44}, {110, 75, 45}, {111, 76, 46}, {112, 77, 47}, {113, 78, 48},
    {114, 79, 49}, {116, 80, 50}, {117, 82, 50}, {118, 83, 51}, {119, 84, 52}, {120, 85, 53},
    {121, 86, 54}, {122, 87, 55}, {123, 88, 56}, {124, 89, 56}, {126, 91, 57}, {127, 92, 58},
    {128, 93, 59}, {129, 94, 60}, {130, 95, 61}, {131, 96, 62}, {132, 97, 63}, {133, 98, 64},
    {135, 100, 65}, {136, 101, 66}, {137, 102, 67}, {138, 103, 68}, {139, 104, 69}, {140, 105, 70},
    {141, 106, 71}, {143, 107, 72}, {144, 109, 73}, {145, 110, 74}, {146, 111, 75}, {147, 112, 76},
    {148, 113, 77}, {149, 114, 78}, {150, 115, 79}, {151, 116, 80}, {152, 117, 81}, {153, 118, 82},
    {154, 119, 83}, {155, 121, 84}, {156, 122, 85}, {157, 123, 86}, {158, 124, 87}, {158, 125, 88},
    {159, 126, 89}, {160, 127, 90}, {161, 128, 91}, {162, 129, 92}, {163, 130, 93}, {164, 131, 94},
    {165, 132, 95}, {166, 133, 96}, {167, 134, 97}, {167, 135, 98}, {168, 136, 99}, {169, 137, 100},
    {170, 138, 101}, {171, 139, 102}, {172, 140, 103}, {173, 141, 104}, {174, 142, 105}, {174, 143, 106},
    {175, 144, 107}, {176, 145, 108}, {177, 146, 109}, {178, 147, 110}, {179, 148, 111}, {180, 149, 112},
    {180, 150, 113}, {181, 151, 114}, {182, 152, 115}, {183, 153, 116}, {184, 154, 117}, {185, 154, 119},
    {185, 155, 120}, {186, 156, 121}, {187, 157, 122}, {188, 158, 123}, {188, 159, 124}, {189, 160, 125},
    {190, 161, 126}, {191, 162, 127}, {191, 163, 128}, {192, 164, 129}, {193, 165, 130}, {194, 166, 131},
    {194, 167, 132}, {195, 168, 133}, {196, 169, 134}, {196, 170, 135}, {197, 170, 136}, {198, 171, 138},
    {198, 172, 139}, {199, 173, 140}, {200, 174, 141}, {200, 175, 142}, {201, 176, 143}, {202, 177, 144},
    {202, 178, 145}, {203, 179, 146}, {204, 180, 148}, {205, 180, 149}, {205, 181, 150}, {206, 182, 151},
    {207, 183, 152}, {207, 184, 154}, {208, 185, 155}, {209, 186, 156}, {209, 187, 157}, {210, 187, 158},
    {211, 188, 160}, {211, 189, 161}, {212, 190, 162}, {213, 191, 163}, {213, 192, 164}, {214, 193, 165},
    {214, 194, 167}, {215, 194, 168}, {215, 195, 169}, {216, 196, 170}, {217, 197, 171}, {217, 198, 172},
    {218, 199, 173}, {218, 200, 174}, {219, 201, 175}, {219, 201, 177}, {220, 202, 178}, {220, 203, 179},
    {221, 204, 180}, {222, 205, 181}, {222, 206, 182}, {223, 206, 183}, {223, 207, 185}, {224, 208, 186},
    {225, 209, 187}, {225, 210, 188}, {226, 211, 189}, {227, 211, 191}, {227, 212, 192}, {228, 213, 193},
    {229, 214, 194}, {229, 215, 195}, {230, 215, 197}, {230, 216, 198}, {231, 217, 199}, {232, 218, 200},
    {232, 219, 201}, {233, 219, 203}, {233, 220, 204}, {234, 221, 205}, {234, 222, 206}, {235, 223, 207},
    {235, 224, 209}, {236, 224, 210}, {236, 225, 211}, {237, 226, 212}, {237, 227, 213}, {238, 228, 214},
    {238, 228, 216}, {239, 229, 217}, {239, 230, 218}, {240, 231, 219}, {240, 232, 220}, {241, 232, 222},
    {241, 233, 223}, {242, 234, 224}, {242, 235, 225}, {243, 236, 226}, {243, 237, 227}, {244, 237, 229},
    {244, 238, 230}, {245, 239, 231}, {245, 240, 232}, {246, 241, 233}, {246, 241, 235}, {247, 242, 236},
    {247, 243, 237}, {247, 244, 238}, {248, 245, 239}, {248, 245, 241}, {249, 246, 242}, {249, 247, 243},
    {250, 248, 244}, {250, 248, 246}, {251, 249, 247}, {251, 250, 248}, {252, 251, 249}, {252, 251, 251},
    {253, 252, 252}, {253, 253, 253}, {254, 254, 254}, {255, 255, 255},
};

}  // namespace

const KivSepiaTone* KivSepiaTable(void) { return kSepia; }

// ---------------------------------------------------------------- effects

void KivPixelSepia(uint32_t* px, int w, int h, int pitch) {
  for (int y = 0; y < h; ++y) {
    uint32_t* row = px + static_cast<ptrdiff_t>(y) * pitch;
    for (int x = 0; x < w; ++x) {
      const KivSepiaTone& t = kSepia[KivPixelGreyValue(row[x])];
      row[x] = (row[x] & 0xFF000000u) | static_cast<uint32_t>(t.r) << 16 | static_cast<uint32_t>(t.g) << 8 | t.b;
    }
  }
}

void KivPixelGrey(uint32_t* px, int w, int h, int pitch) {
  for (int y = 0; y < h; ++y) {
    uint32_t* row = px + static_cast<ptrdiff_t>(y) * pitch;
    for (int x = 0; x < w; ++x) row[x] = (row[x] & 0xFF000000u) | KivPixelGreyValue(row[x]) * 0x010101u;
  }
}

void KivPixelNegative(uint32_t* px, int w, int h, int pitch) {
  for (int y = 0; y < h; ++y) {
    uint32_t* row = px + static_cast<ptrdiff_t>(y) * pitch;
    for (int x = 0; x < w; ++x)
      if (row[x] >> 24) row[x] = (~row[x] & 0x00FFFFFFu) | 0xFF000000u;
  }
}

// ---------------------------------------------------------------- soft filter

namespace {

void SoftInnerPlain(uint32_t* px, int w, int h, int pitch) {
  for (int y = 1; y + 1 < h; ++y) {
    uint32_t* row = px + static_cast<ptrdiff_t>(y) * pitch;
    const uint32_t* up = row - pitch;
    const uint32_t* dn = row + pitch;
    for (int x = 1; x + 1 < w; ++x) {
      const uint32_t c = row[x], l = row[x - 1], r = row[x + 1], u = up[x], d = dn[x];
      uint32_t out = c & 0xFF000000u;
      for (int i = 0; i < 3; ++i)
        out |= ((4 * Ch(c, i) + Ch(l, i) + Ch(r, i) + Ch(u, i) + Ch(d, i)) >> 3) << (8 * i);
      row[x] = out;
    }
  }
}

#if KIV_PIXEL_SSE2
inline __m128i Widen(uint32_t v) { return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), _mm_setzero_si128()); }

// Each pixel's four channels in 16-bit lanes; the running left neighbour
// stays in a register, so the only serial work is one add and one shift.
void SoftInnerSse2(uint32_t* px, int w, int h, int pitch) {
  for (int y = 1; y + 1 < h; ++y) {
    uint32_t* row = px + static_cast<ptrdiff_t>(y) * pitch;
    const uint32_t* up = row - pitch;
    const uint32_t* dn = row + pitch;
    __m128i left = Widen(row[0]);
    __m128i centre = w > 1 ? Widen(row[1]) : left;
    for (int x = 1; x + 1 < w; ++x) {
      const uint32_t c = row[x];
      const __m128i right = Widen(row[x + 1]);
      const __m128i rest = _mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(centre, 2), right),
                                         _mm_add_epi16(Widen(up[x]), Widen(dn[x])));
      left = _mm_srli_epi16(_mm_add_epi16(rest, left), 3);
      const uint32_t v = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(left, left)));
      row[x] = (v & 0x00FFFFFFu) | (c & 0xFF000000u);
      centre = right;
    }
  }
}
#endif

}  // namespace

void KivPixelSoftFilter(uint32_t* px, int w, int h, int pitch, KivLoopVariant v) {
  if (!px || w <= 0 || h <= 0) return;
#if KIV_PIXEL_SSE2
  if (KivUseSimd(v)) SoftInnerSse2(px, w, h, pitch);
  else SoftInnerPlain(px, w, h, pitch);
#else
  SoftInnerPlain(px, w, h, pitch);
#endif
  auto row = [&](int y) { return px + static_cast<ptrdiff_t>(y) * pitch; };
  if (h >= 2) std::memcpy(row(0), row(1), static_cast<size_t>(w) * 4);
  if (w >= 2)
    for (int y = 0; y < h; ++y) row(y)[0] = row(y)[1];
  if (h >= 2) std::memcpy(row(h - 1), row(h - 2), static_cast<size_t>(w) * 4);
  if (w >= 2)
    for (int y = 0; y < h; ++y) row(y)[w - 1] = row(y)[w - 2];
}

// ---------------------------------------------------------------- blur

namespace {

struct Kernel {
  const uint8_t* weight;  // indexed by offset + 8
  int lo, hi;             // first and last offset of non-zero weight
  int shift;
};

Kernel KernelOf(int k) {
  Kernel K{kKivBlurKernels[k], 0, 0, k + 1};
  int lo = 0;
  while (K.weight[lo] == 0) ++lo;
  int hi = 15;
  while (K.weight[hi] == 0) --hi;
  K.lo = lo - 8;
  K.hi = hi - 8;
  return K;
}

// One pixel whose taps all lie inside; p is the pixel, taps stride apart.
inline uint32_t BlurInner(const uint32_t* p, ptrdiff_t stride, const Kernel& K) {
  uint32_t s[4] = {0, 0, 0, 0};
  for (int o = K.lo; o <= K.hi; ++o) {
    const uint32_t wt = K.weight[o + 8];
    if (!wt) continue;
    const uint32_t v = p[o * stride];
    for (int i = 0; i < 4; ++i) s[i] += wt * Ch(v, i);
  }
  return (s[0] >> K.shift) | (s[1] >> K.shift) << 8 | (s[2] >> K.shift) << 16 | (s[3] >> K.shift) << 24;
}

// A pixel near the edge: i of n along the line.
inline uint32_t BlurEdge(const uint32_t* p, ptrdiff_t stride, int i, int n, const Kernel& K) {
  uint32_t wa = 0, a = 0, wc = 0, c[3] = {0, 0, 0};
  for (int o = K.lo; o <= K.hi; ++o) {
    const int j = i + o;
    const uint32_t wt = K.weight[o + 8];
    if (j < 0 || j >= n || !wt) continue;
    const uint32_t v = p[o * stride];
    wa += wt;
    a += wt * (v >> 24);
    if (v >> 24) {
      wc += wt;
      for (int ch = 0; ch < 3; ++ch) c[ch] += wt * Ch(v, ch);
    }
  }
  // The centre tap has weight in every kernel, so wa > 0.
  uint32_t out = (a / wa) << 24;
  if (wc)
    for (int ch = 0; ch < 3; ++ch) out |= (c[ch] / wc) << (8 * ch);
  return out;
}

inline bool Inside(int i, int n, const Kernel& K) { return i + K.lo >= 0 && i + K.hi <= n - 1; }

#if KIV_PIXEL_SSE2
// Four pixels consecutive in memory, all inside; their taps stride apart.
inline __m128i BlurInner4(const uint32_t* p, ptrdiff_t stride, const Kernel& K, __m128i count) {
  const __m128i zero = _mm_setzero_si128();
  __m128i lo = zero, hi = zero;
  for (int o = K.lo; o <= K.hi; ++o) {
    const int wt = K.weight[o + 8];
    if (!wt) continue;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + o * stride));
    const __m128i W = _mm_set1_epi16(static_cast<short>(wt));
    lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), W));
    hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), W));
  }
  return _mm_packus_epi16(_mm_srl_epi16(lo, count), _mm_srl_epi16(hi, count));
}
#endif

}  // namespace

void KivPixelBlurPass(const uint32_t* src, uint32_t* dst, int w, int h, int k, bool columns, KivLoopVariant v) {
  if (!src || !dst || w <= 0 || h <= 0 || k < 0 || k > 7) return;
  const Kernel K = KernelOf(k);
  bool simd = false;
#if KIV_PIXEL_SSE2
  simd = KivUseSimd(v);
  const __m128i count = _mm_cvtsi32_si128(K.shift);
#endif
  for (int y = 0; y < h; ++y) {
    const uint32_t* s = src + static_cast<ptrdiff_t>(y) * w;
    uint32_t* d = dst + static_cast<ptrdiff_t>(y) * w;
    if (!columns) {
      int x = 0;
      for (; x < w && !Inside(x, w, K); ++x) d[x] = BlurEdge(s + x, 1, x, w, K);
#if KIV_PIXEL_SSE2
      if (simd)
        for (; x + 3 < w && Inside(x + 3, w, K); x += 4)
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), BlurInner4(s + x, 1, K, count));
#endif
      for (; x < w && Inside(x, w, K); ++x) d[x] = BlurInner(s + x, 1, K);
      for (; x < w; ++x) d[x] = BlurEdge(s + x, 1, x, w, K);
    } else if (Inside(y, h, K)) {
      int x = 0;
#if KIV_PIXEL_SSE2
      if (simd)
        for (; x + 3 < w; x += 4)
          _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), BlurInner4(s + x, w, K, count));
#endif
      for (; x < w; ++x) d[x] = BlurInner(s + x, w, K);
    } else {
      for (int x = 0; x < w; ++x) d[x] = BlurEdge(s + x, w, y, h, K);
    }
  }
  (void)simd;
}

namespace {
int HalfOf(int n) { return std::max(1, n / 2); }
}  // namespace

size_t KivPixelBlurWorkWords(int w, int h) {
  if (w <= 0 || h <= 0) return 0;
  return 2 * static_cast<size_t>(HalfOf(w)) * static_cast<size_t>(HalfOf(h));
}

void KivPixelBlur(uint32_t* px, int w, int h, int pitch, int k, uint32_t* work, KivLoopVariant v) {
  if (!px || !work || w <= 0 || h <= 0 || k < 0 || k > 7) return;
  const int hw = HalfOf(w), hh = HalfOf(h);
  uint32_t* half = work;
  uint32_t* pass = work + static_cast<size_t>(hw) * hh;
  // The nearest scale at 0.5 (source 2x, 2y); a picture one pixel across
  // keeps its one column or row.
  for (int y = 0; y < hh; ++y) {
    const uint32_t* s = px + static_cast<ptrdiff_t>(std::min(2 * y, h - 1)) * pitch;
    uint32_t* d = half + static_cast<size_t>(y) * hw;
    for (int x = 0; x < hw; ++x) d[x] = s[std::min(2 * x, w - 1)];
  }
  KivPixelBlurPass(half, pass, hw, hh, k, false, v);
  KivPixelBlurPass(pass, half, hw, hh, k, true, v);
  KivPixelScale(half, hw, hh, hw, 2.0f, 2.0f, px, w, h, pitch, v);
}

// ---------------------------------------------------------------- scales

namespace {

// The nearest copy's loop over ow x oh output pixels.
void NearestRows(const uint32_t* src, int sw, int sh, int srcPitch, float fx, float fy, uint32_t* dst, int ow,
                 int oh, int dstPitch) {
  const int64_t stepX = std::max<int64_t>(1, KivTruncToInt(std::fabs(128.0 / static_cast<double>(fx))));
  const int64_t stepY = std::max<int64_t>(1, KivTruncToInt(std::fabs(128.0 / static_cast<double>(fy))));
  int64_t last = -1;
  // (x * stepX) >> 7 stays below sw while x * stepX < sw * 128.
  const int inside = static_cast<int>(std::min<int64_t>(ow, (static_cast<int64_t>(sw) * 128 - 1) / stepX + 1));
  for (int y = 0; y < oh; ++y) {
    const int64_t sy = std::min<int64_t>((y * stepY) >> 7, sh - 1);
    uint32_t* d = dst + static_cast<ptrdiff_t>(y) * dstPitch;
    if (sy == last) {  // the same source row again: the same output row
      std::memcpy(d, d - dstPitch, static_cast<size_t>(ow) * 4);
      continue;
    }
    last = sy;
    const uint32_t* s = src + sy * srcPitch;
    // Columns up to `inside` read inside the row; the rest repeat its last pixel.
    int64_t px = 0;
    int x = 0;
    for (; x < inside; ++x, px += stepX) d[x] = s[px >> 7];
    for (; x < ow; ++x) d[x] = s[sw - 1];
  }
}

}  // namespace

void KivPixelScaleCopy(const uint32_t* src, int sw, int sh, int srcPitch, float fx, float fy, uint32_t* dst,
                       int dw, int dh, int dstPitch, int* outW, int* outH) {
  int ow = 0, oh = 0;
  if (src && dst && sw > 0 && sh > 0) {
    ow = std::max(0, Extent(sw, fx, dw));
    oh = std::max(0, Extent(sh, fy, dh));
  }
  if (outW) *outW = ow;
  if (outH) *outH = oh;
  if (ow > 0 && oh > 0) NearestRows(src, sw, sh, srcPitch, fx, fy, dst, ow, oh, dstPitch);
}

void KivPixelScaleCopyFill(const uint32_t* src, int sw, int sh, int srcPitch, float fx, float fy, uint32_t* dst,
                           int dw, int dh, int dstPitch) {
  if (!src || !dst || sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || !(fx > 0.0f) || !(fy > 0.0f)) return;
  NearestRows(src, sw, sh, srcPitch, fx, fy, dst, dw, dh, dstPitch);
}

namespace {

inline uint32_t Bilerp(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t fx, uint32_t fy) {
  uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    const uint32_t top = (Ch(a, i) * (128 - fx) + Ch(b, i) * fx) >> 7;
    const uint32_t bot = (Ch(c, i) * (128 - fx) + Ch(d, i) * fx) >> 7;
    out |= std::min<uint32_t>(255, (top * (128 - fy) + bot * fy) >> 7) << (8 * i);
  }
  return out;
}

}  // namespace

void KivPixelScale(const uint32_t* src, int sw, int sh, int srcPitch, float fx, float fy, uint32_t* dst, int dw,
                   int dh, int dstPitch, KivLoopVariant v) {
  if (!src || !dst || sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  const int64_t stepX = StepOf(fx, 128.0), stepY = StepOf(fy, 128.0);
  if (!stepX || !stepY) return;
#if KIV_PIXEL_SSE2
  const bool simd = KivUseSimd(v);
  const __m128i zero = _mm_setzero_si128();
#endif
  for (int y = 0; y < dh; ++y) {
    const int64_t py = y * stepY;
    const int64_t iy = std::min<int64_t>(py >> 7, sh - 1);
    const uint32_t fr = static_cast<uint32_t>(py & 127);
    const uint32_t* r0 = src + iy * srcPitch;
    const uint32_t* r1 = src + std::min<int64_t>(iy + 1, sh - 1) * srcPitch;
    uint32_t* d = dst + static_cast<ptrdiff_t>(y) * dstPitch;
    int x = 0;
#if KIV_PIXEL_SSE2
    if (simd) {
      // Two output pixels at a time: lanes 0-3 the first, 4-7 the second.
      const __m128i wy0 = _mm_set1_epi16(static_cast<short>(128 - fr)), wy1 = _mm_set1_epi16(static_cast<short>(fr));
      for (; x + 1 < dw; x += 2) {
        const int64_t p0 = x * stepX, p1 = p0 + stepX;
        const int64_t a0 = std::min<int64_t>(p0 >> 7, sw - 1), b0 = std::min<int64_t>((p0 >> 7) + 1, sw - 1);
        const int64_t a1 = std::min<int64_t>(p1 >> 7, sw - 1), b1 = std::min<int64_t>((p1 >> 7) + 1, sw - 1);
        const short f0 = static_cast<short>(p0 & 127), f1 = static_cast<short>(p1 & 127);
        const __m128i wa = _mm_set_epi16(128 - f1, 128 - f1, 128 - f1, 128 - f1, 128 - f0, 128 - f0, 128 - f0, 128 - f0);
        const __m128i wb = _mm_set_epi16(f1, f1, f1, f1, f0, f0, f0, f0);
        auto pair = [&](const uint32_t* r, int64_t i0, int64_t i1) {
          return _mm_unpacklo_epi8(_mm_set_epi32(0, 0, static_cast<int>(r[i1]), static_cast<int>(r[i0])), zero);
        };
        const __m128i top = _mm_srli_epi16(
            _mm_add_epi16(_mm_mullo_epi16(pair(r0, a0, a1), wa), _mm_mullo_epi16(pair(r0, b0, b1), wb)), 7);
        const __m128i bot = _mm_srli_epi16(
            _mm_add_epi16(_mm_mullo_epi16(pair(r1, a0, a1), wa), _mm_mullo_epi16(pair(r1, b0, b1), wb)), 7);
        const __m128i out = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(top, wy0), _mm_mullo_epi16(bot, wy1)), 7);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + x), _mm_packus_epi16(out, zero));
      }
    }
#endif
    for (; x < dw; ++x) {
      const int64_t px = x * stepX;
      const int64_t i0 = std::min<int64_t>(px >> 7, sw - 1), i1 = std::min<int64_t>((px >> 7) + 1, sw - 1);
      d[x] = Bilerp(r0[i0], r0[i1], r1[i0], r1[i1], static_cast<uint32_t>(px & 127), fr);
    }
  }
}

void KivPixelScaleGrey(const uint8_t* src, int sw, int sh, int srcPitch, float f, uint8_t* dst, int dw, int dh,
                       int dstPitch, int* outW, int* outH) {
  int ow = 0, oh = 0;
  const int64_t step = StepOf(f, 256.0);
  if (src && dst && sw > 0 && sh > 0 && step) {
    ow = std::max(0, Extent(sw, f, dw));
    oh = std::max(0, Extent(sh, f, dh));
  }
  if (outW) *outW = ow;
  if (outH) *outH = oh;
  for (int y = 0; y < oh; ++y) {
    const int64_t py = y * step;
    const int64_t iy = std::min<int64_t>(py >> 8, sh - 1);
    const uint32_t fy = static_cast<uint32_t>(py & 255);
    const uint8_t* r0 = src + iy * srcPitch;
    const uint8_t* r1 = iy + 1 < sh ? r0 + srcPitch : nullptr;
    uint8_t* d = dst + static_cast<ptrdiff_t>(y) * dstPitch;
    for (int x = 0; x < ow; ++x) {
      const int64_t px = x * step;
      const int64_t ix = std::min<int64_t>(px >> 8, sw - 1);
      const uint32_t fx = static_cast<uint32_t>(px & 255);
      const bool right = ix + 1 < sw;
      const uint32_t a = r0[ix], b = right ? r0[ix + 1] : 0;
      const uint32_t c = r1 ? r1[ix] : 0, e = (r1 && right) ? r1[ix + 1] : 0;
      d[x] = static_cast<uint8_t>(
          std::min<uint32_t>(255, ((a * (256 - fx) + b * fx) * (256 - fy) + fy * (e * fx + c * (256 - fx))) >> 16));
    }
  }
}

// ---------------------------------------------------------------- ripple

void KivPixelRipple(const uint32_t* src, uint32_t* dst, int width, int height, float phase, float ampX,
                    float ampY) {
  if (!src || !dst || width <= 0 || height <= 0) return;
  const int32_t* sine = KivSine16();
  const int t = KivTruncToInt(static_cast<double>(phase) * 511.0);
  // Shifts beyond the picture leave pixels unchanged; bounding the
  // amplitudes keeps the products within 32 bits.
  const int64_t hx = std::clamp<int64_t>(KivTruncToInt(static_cast<double>(ampX) * width * 0.1), -(1 << 14), 1 << 14);
  const int64_t hy = std::clamp<int64_t>(KivTruncToInt(static_cast<double>(ampY) * height * 0.1), -(1 << 14), 1 << 14);
  if (hx == 0 && hy == 0) {
    if (src != dst) std::memmove(dst, src, static_cast<size_t>(width) * height * 4);
    return;
  }
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

void KivRasterGridSize(int rtWidth, int rtHeight, int* columns, int* rows) {
  *columns = rtWidth / 16 + 2;
  *rows = rtHeight / 16 + 2;
}

void KivPixelRasterWave(const uint32_t* src, uint32_t* dst, int width, int height, int left, int top, int rtWidth,
                        int rtHeight, float phase, float ampX, float ampY) {
  if (!src || !dst || width <= 0 || height <= 0 || rtWidth <= 0 || rtHeight <= 0) return;
  int cols = 0, rows = 0;
  KivRasterGridSize(rtWidth, rtHeight, &cols, &rows);
  // The shift of every vertex, in texture units of the target (the RASTER
  // effect's sums): x by the row's angle, y by the running column counter.
  const float* T = KivSineFloat();
  const int rowStep = 511 / rows, colStep = 511 / cols;
  const int e0 = KivTruncToInt(static_cast<double>(phase) * 511.0);
  const float ax = ampX * 0.1f * 0.5f, ay = ampY * 0.1f * 0.5f;
  // Kept from draw to draw: a frame's waves allocate nothing once warm.
  static thread_local std::vector<float> sx, sy;
  sx.resize(static_cast<size_t>(cols) * rows);
  sy.resize(sx.size());
  for (int j = 0; j < rows; ++j) {
    const float dx = ax * T[static_cast<unsigned>(e0 + (j + 1) * rowStep) & 511];
    for (int i = 0; i < cols; ++i) {
      const uint32_t a = static_cast<uint32_t>((static_cast<int64_t>(j) * cols + i + 1) * colStep) & 0xFFFF;
      sx[static_cast<size_t>(j) * cols + i] = dx;
      sy[static_cast<size_t>(j) * cols + i] = -ay * T[a & 511];
    }
  }
  const float RW = static_cast<float>(rtWidth), RH = static_cast<float>(rtHeight);
  const float cellsX = static_cast<float>(cols - 1), cellsY = static_cast<float>(rows - 1);
  for (int y = 0; y < height; ++y) {
    const float v = (static_cast<float>(top + y) + 0.5f) / RH;
    const float gy = v * cellsY;
    const int j0 = std::clamp(static_cast<int>(gy), 0, rows - 2);
    const float fy = gy - static_cast<float>(j0);
    const float* x0 = &sx[static_cast<size_t>(j0) * cols];
    const float* x1 = x0 + cols;
    const float* y0 = &sy[static_cast<size_t>(j0) * cols];
    const float* y1 = y0 + cols;
    uint32_t* out = dst + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      const float u = (static_cast<float>(left + x) + 0.5f) / RW;
      const float gx = u * cellsX;
      const int i0 = std::clamp(static_cast<int>(gx), 0, cols - 2);
      const float fx = gx - static_cast<float>(i0);
      const float shx = (x0[i0] + (x0[i0 + 1] - x0[i0]) * fx) * (1 - fy) + (x1[i0] + (x1[i0 + 1] - x1[i0]) * fx) * fy;
      const float shy = (y0[i0] + (y0[i0 + 1] - y0[i0]) * fx) * (1 - fy) + (y1[i0] + (y1[i0 + 1] - y1[i0]) * fx) * fy;
      const int px = static_cast<int>(std::floor((u - shx) * RW)) - left;
      const int py = static_cast<int>(std::floor((v - shy) * RH)) - top;
      if (px >= 0 && py >= 0 && px < width && py < height) out[x] = src[static_cast<size_t>(py) * width + px];
    }
  }
}

// ---------------------------------------------------------------- mask alpha

void KivPixelMaskAlpha(uint32_t* target, int targetPitch, const uint32_t* mask, int maskPitch, int w, int h,
                       int threshold, KivLoopVariant v) {
  if (!target || !mask || w <= 0 || h <= 0) return;
  const int T = std::clamp(threshold, 0, 255);
  const int U = T <= 224 ? T + 31 : 255;
#if KIV_PIXEL_SSE2
  const bool simd = KivUseSimd(v);
  const __m128i low = _mm_set1_epi32(0xFF), colour = _mm_set1_epi32(0x00FFFFFF);
  const __m128i vt = _mm_set1_epi32(T), vu = _mm_set1_epi32(U);
#endif
  for (int y = 0; y < h; ++y) {
    uint32_t* t = target + static_cast<ptrdiff_t>(y) * targetPitch;
    const uint32_t* m = mask + static_cast<ptrdiff_t>(y) * maskPitch;
    int x = 0;
#if KIV_PIXEL_SSE2
    if (simd)
      for (; x + 4 <= w; x += 4) {
        const __m128i d = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m + x)), low);
        const __m128i below = _mm_cmplt_epi32(d, vt), ramp = _mm_cmplt_epi32(d, vu);
        const __m128i r = _mm_and_si128(_mm_slli_epi32(_mm_sub_epi32(vu, d), 3), low);
        const __m128i a = _mm_or_si128(_mm_and_si128(below, low), _mm_andnot_si128(below, _mm_and_si128(ramp, r)));
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(t + x), _mm_or_si128(_mm_and_si128(p, colour), _mm_slli_epi32(a, 24)));
      }
#endif
    for (; x < w; ++x) {
      const int d = static_cast<int>(m[x] & 0xFF);
      const uint32_t a = d < T ? 255u : d < U ? (static_cast<uint32_t>(U - d) * 8) & 0xFF : 0u;
      t[x] = (t[x] & 0x00FFFFFFu) | a << 24;
    }
  }
}

// ---------------------------------------------------------------- composition and copies

void KivPixelBlendRect(const uint32_t* src, int srcPitch, uint32_t* dst, int dstPitch, int w, int h) {
  if (!src || !dst || w <= 0 || h <= 0) return;
  for (int y = 0; y < h; ++y) {
    const uint32_t* s = src + static_cast<ptrdiff_t>(y) * srcPitch;
    uint32_t* d = dst + static_cast<ptrdiff_t>(y) * dstPitch;
    for (int x = 0; x < w; ++x) {
      const uint32_t p = s[x], a = p >> 24;
      if (a == 0) continue;
      if (a == 255) {
        d[x] = (d[x] & 0xFF000000u) | (p & 0x00FFFFFFu);
        continue;
      }
      uint32_t out = d[x] & 0xFF000000u;
      for (int i = 0; i < 3; ++i) out |= ((Ch(p, i) * a + Ch(d[x], i) * (255 - a)) >> 8) << (8 * i);
      d[x] = out;
    }
  }
}

void KivPixelCopyRect(const uint32_t* src, int srcPitch, uint32_t* dst, int dstPitch, int w, int h) {
  if (!src || !dst || w <= 0 || h <= 0) return;
  // Rows in the order that never reads a row already overwritten.
  const bool down = dst <= src;
  for (int r = 0; r < h; ++r) {
    const int y = down ? r : h - 1 - r;
    std::memmove(dst + static_cast<ptrdiff_t>(y) * dstPitch, src + static_cast<ptrdiff_t>(y) * srcPitch,
                 static_cast<size_t>(w) * 4);
  }
}

void KivPixelCopyClipped(const uint32_t* src, int sw, int sh, uint32_t* dst, int dw, int dh) {
  KivPixelCopyRect(src, sw, dst, dw, std::min(sw, dw), std::min(sh, dh));
}

void KivPixelCopyWords(uint32_t* dst, const uint32_t* src, size_t count) {
  if (dst && src && count) std::memmove(dst, src, count * 4);
}

bool KivPixelClipRect(int sw, int sh, int dw, int dh, int sx, int sy, int dx, int dy, int w, int h,
                      KivPixelClip* out) {
  int64_t SX = sx, SY = sy, DX = dx, DY = dy, W = w < 0 ? sw : w, H = h < 0 ? sh : h;
  if (SX < 0) {
    DX -= SX;
    W += SX;
    SX = 0;
  }
  if (SY < 0) {
    DY -= SY;
    H += SY;
    SY = 0;
  }
  if (DX < 0) {
    SX -= DX;
    W += DX;
    DX = 0;
  }
  if (DY < 0) {
    SY -= DY;
    H += DY;
    DY = 0;
  }
  W = std::min({W, static_cast<int64_t>(sw) - SX, static_cast<int64_t>(dw) - DX});
  H = std::min({H, static_cast<int64_t>(sh) - SY, static_cast<int64_t>(dh) - DY});
  if (W <= 0 || H <= 0) return false;
  *out = KivPixelClip{static_cast<int>(SX), static_cast<int>(SY), static_cast<int>(DX), static_cast<int>(DY),
                      static_cast<int>(W), static_cast<int>(H)};
  return true;
}
