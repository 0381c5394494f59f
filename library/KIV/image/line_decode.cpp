// Line-prediction decoders: GE method 3 (24 and 32 bits into 32-bit pixels)
// and the difference images (packed 3-byte pixels or 32-bit words).
//
// Each row has a flag byte: bit 0 predicts every pixel from the one to its
// left (the first pixel raw), else bit 1 from the one above, else from the
// floor average of above and left (the first pixel raw). A pixel is its
// prediction minus the delta, per channel byte, modulo 256. The first row
// has no row above; there "above" is a row of zero bytes.
#include <cstring>

#include "image/image_decode.h"
#include "platform/core/error.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// ---- Plain rows, one channel byte at a time. In: bytes per input pixel
// (3 or 4); Out: bytes per output pixel (3 or 4; 4 after 3 gets alpha 0xFF).

template <int In, int Out>
inline void FillAlpha(uint8_t* o) {
  if constexpr (Out > In) o[3] = 0xFF;
}

// The pixel to the left is carried in locals: read back from the row just
// written it would wait on the store every pixel.
template <int In, int Out>
void RowLeft(const uint8_t* d, int w, uint8_t* o) {
  if (w <= 0) return;
  uint8_t l[In];
  for (int c = 0; c < In; ++c) o[c] = l[c] = d[c];
  FillAlpha<In, Out>(o);
  for (int x = 1; x < w; ++x) {
    uint8_t* q = o + x * Out;
    const uint8_t* e = d + x * In;
#pragma GCC unroll 4
    for (int c = 0; c < In; ++c) q[c] = l[c] = static_cast<uint8_t>(l[c] - e[c]);
    FillAlpha<In, Out>(q);
  }
}

template <int In, int Out, bool Above>
void RowUp(const uint8_t* d, int w, const uint8_t* a, uint8_t* o) {
  for (int x = 0; x < w; ++x) {
    uint8_t* q = o + x * Out;
    const uint8_t* e = d + x * In;
#pragma GCC unroll 4
    for (int c = 0; c < In; ++c) {
      const unsigned up = Above ? a[x * Out + c] : 0u;
      q[c] = static_cast<uint8_t>(up - e[c]);
    }
    FillAlpha<In, Out>(q);
  }
}

template <int In, int Out, bool Above>
void RowAverage(const uint8_t* d, int w, const uint8_t* a, uint8_t* o) {
  if (w <= 0) return;
  unsigned l[In];
  for (int c = 0; c < In; ++c) o[c] = static_cast<uint8_t>(l[c] = d[c]);
  FillAlpha<In, Out>(o);
  for (int x = 1; x < w; ++x) {
    uint8_t* q = o + x * Out;
    const uint8_t* e = d + x * In;
#pragma GCC unroll 4
    for (int c = 0; c < In; ++c) {
      const unsigned up = Above ? a[x * Out + c] : 0u;
      l[c] = (((up + l[c]) >> 1) - e[c]) & 0xFFu;
      q[c] = static_cast<uint8_t>(l[c]);
    }
    FillAlpha<In, Out>(q);
  }
}

// ---- Vector rows. Same results as the plain rows: byte subtraction and a
// byte-lane prefix sum are both exact modulo 256.

#if defined(__SSE2__)

inline __m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Four 3-byte deltas at d as four words with a zero top byte.
inline __m128i Expand3To4(const uint8_t* d) {
  uint64_t lo, hi;
  std::memcpy(&lo, d, 8);
  std::memcpy(&hi, d + 6, 8);
  const uint64_t m = 0xFFFFFFu;
  const uint64_t w01 = (lo & m) | (((lo >> 24) & m) << 32);
  const uint64_t w23 = (hi & m) | (((hi >> 24) & m) << 32);
  return _mm_set_epi64x(static_cast<long long>(w23), static_cast<long long>(w01));
}

// Byte-wise o = a - d over n bytes (the up predictor where input and output
// pixels have the same size).
template <bool Above>
void SubBytes(const uint8_t* d, size_t n, const uint8_t* a, uint8_t* o) {
  size_t i = 0;
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i up = Above ? Load16(a + i) : zero;
    Store16(o + i, _mm_sub_epi8(up, Load16(d + i)));
  }
  for (; i < n; ++i) o[i] = static_cast<uint8_t>((Above ? a[i] : 0u) - d[i]);
}

template <int In, int Out, bool Above>
void RowUpSimd(const uint8_t* d, int w, const uint8_t* a, uint8_t* o) {
  if constexpr (In == Out) {
    SubBytes<Above>(d, static_cast<size_t>(w) * In, a, o);
  } else {
    // 3-byte deltas into 32-bit pixels with alpha 0xFF. Expand3To4 reads 14
    // bytes, so the last group of the row is left to the plain loop.
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    int x = 0;
    for (; x + 5 <= w; x += 4) {
      const __m128i up = Above ? Load16(a + x * 4) : _mm_setzero_si128();
      Store16(o + x * 4, _mm_or_si128(_mm_sub_epi8(up, Expand3To4(d + x * 3)), alpha));
    }
    RowUp<In, Out, Above>(d + x * In, w - x, Above ? a + x * Out : a, o + x * Out);
  }
}

// 32-bit left predictor: out[x] = out[x - 1] - d[x], so four pixels at once
// are the last pixel minus the running byte sums of their deltas.
void RowLeftSimd32(const uint8_t* d, int w, uint8_t* o) {
  if (w <= 0) return;
  std::memcpy(o, d, 4);
  int32_t first;
  std::memcpy(&first, o, 4);
  __m128i prev = _mm_set1_epi32(first);
  int x = 1;
  for (; x + 4 <= w; x += 4) {
    __m128i s = Load16(d + x * 4);
    s = _mm_add_epi8(s, _mm_slli_si128(s, 4));
    s = _mm_add_epi8(s, _mm_slli_si128(s, 8));
    const __m128i r = _mm_sub_epi8(prev, s);
    Store16(o + x * 4, r);
    prev = _mm_shuffle_epi32(r, 0xFF);
  }
  for (; x < w; ++x)
    for (int c = 0; c < 4; ++c) o[x * 4 + c] = static_cast<uint8_t>(o[x * 4 - 4 + c] - d[x * 4 + c]);
}

#endif  // __SSE2__

template <int In, int Out, bool Simd>
void DecodeRows(const uint8_t* flags, const uint8_t* d, int w, int h, uint8_t* o, size_t pitch) {
  const size_t rowIn = static_cast<size_t>(w) * In;
  for (int y = 0; y < h; ++y, d += rowIn, o += pitch) {
    const unsigned f = flags[y];
    const uint8_t* a = y ? o - pitch : nullptr;
#if defined(__SSE2__)
    if constexpr (Simd) {
      if (f & 1) {
        if constexpr (In == 4) {
          RowLeftSimd32(d, w, o);
        } else {
          RowLeft<In, Out>(d, w, o);
        }
      } else if (f & 2) {
        if (y) RowUpSimd<In, Out, true>(d, w, a, o);
        else RowUpSimd<In, Out, false>(d, w, nullptr, o);
      } else {
        if (y) RowAverage<In, Out, true>(d, w, a, o);
        else RowAverage<In, Out, false>(d, w, nullptr, o);
      }
      continue;
    }
#endif
    if (f & 1) {
      RowLeft<In, Out>(d, w, o);
    } else if (f & 2) {
      if (y) RowUp<In, Out, true>(d, w, a, o);
      else RowUp<In, Out, false>(d, w, nullptr, o);
    } else {
      if (y) RowAverage<In, Out, true>(d, w, a, o);
      else RowAverage<In, Out, false>(d, w, nullptr, o);
    }
  }
}

// Checks the sizes of one decode: the flags and deltas fit the data, the
// rows fit the output (pitch in output bytes).
bool RowsFit(size_t dataSize, int w, int h, int in, size_t outBytes, size_t pitch, int out) {
  if (w < 0 || h < 0) return false;
  const uint64_t rowOut = static_cast<uint64_t>(w) * out;
  if (pitch < rowOut) return false;
  const uint64_t need = static_cast<uint64_t>(h) + static_cast<uint64_t>(w) * h * in;
  if (need > dataSize) return false;
  if (w == 0 || h == 0) return true;
  return static_cast<uint64_t>(h - 1) * pitch + rowOut <= outBytes;
}

template <int In, int Out>
int Decode(const char* what, std::span<const uint8_t> data, int w, int h, uint8_t* out,
           size_t outBytes, size_t pitch, KivLoopVariant v) {
  if (!RowsFit(data.size(), w, h, In, outBytes, pitch, Out)) {
    plat::DebugOutput(what);
    return 0;
  }
  if (w == 0 || h == 0) return 1;
  if (KivUseSimd(v)) DecodeRows<In, Out, true>(data.data(), data.data() + h, w, h, out, pitch);
  else DecodeRows<In, Out, false>(data.data(), data.data() + h, w, h, out, pitch);
  return 1;
}

uint8_t* Bytes(std::span<uint32_t> s) { return reinterpret_cast<uint8_t*>(s.data()); }

}  // namespace

int KivGeLineDecode24(std::span<const uint8_t> data, int width, int height, std::span<uint32_t> dest,
                      int pitch, KivLoopVariant v) {
  if (pitch < 0) return 0;
  return Decode<3, 4>("GE: line data does not fit\n", data, width, height, Bytes(dest),
                      dest.size_bytes(), static_cast<size_t>(pitch) * 4, v);
}

int KivGeLineDecode32(std::span<const uint8_t> data, int width, int height, std::span<uint32_t> dest,
                      int pitch, KivLoopVariant v) {
  if (pitch < 0) return 0;
  return Decode<4, 4>("GE: line data does not fit\n", data, width, height, Bytes(dest),
                      dest.size_bytes(), static_cast<size_t>(pitch) * 4, v);
}

int KivPgdLineDecode24(std::span<const uint8_t> data, int width, int height, std::span<uint8_t> out,
                       KivLoopVariant v) {
  if (width < 0) return 0;
  return Decode<3, 3>("PGD: line data does not fit\n", data, width, height, out.data(), out.size(),
                      static_cast<size_t>(width) * 3, v);
}

int KivPgdLineDecode32(std::span<const uint8_t> data, int width, int height, std::span<uint32_t> out,
                       KivLoopVariant v) {
  if (width < 0) return 0;
  return Decode<4, 4>("PGD: line data does not fit\n", data, width, height, Bytes(out),
                      out.size_bytes(), static_cast<size_t>(width) * 4, v);
}
