// Image decoders: the LZ unpacker on hand-made token streams and on the
// packer's output in every token form, GE round trips in every method, the
// line-prediction rules, difference images, BMP/TGA, plain against vector
// loops, and a table of short and lying files that must fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "image/image_decode.h"
#include "image_encoder.h"
#include "platform/core/error.h"

namespace {

using kivtools::Image;
using Bytes = std::vector<uint8_t>;

// Collects the debugger output while it lives.
struct DebugCapture {
  std::string text;
  DebugCapture() {
    plat::SetDebugOutputSink([this](std::string_view s) { text.append(s); });
  }
  ~DebugCapture() { plat::SetDebugOutputSink(nullptr); }
};

Bytes Unpack(const Bytes& stream, size_t size, int* ok) {
  Bytes out(size, 0xEE);
  *ok = KivGeUnpack(out, stream);
  return out;
}

Bytes Str(const char* s) { return Bytes(s, s + std::strlen(s)); }

void Put16(Bytes& b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

uint32_t Px(int b, int g, int r, int a) {
  return static_cast<uint32_t>(a) << 24 | static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 |
         static_cast<uint32_t>(b);
}

Image RandomImage(int w, int h, uint32_t seed, bool opaque = false) {
  std::mt19937 rng(seed);
  Image img{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  for (auto& p : img.pixels) p = rng() | (opaque ? 0xFF000000u : 0u);
  return img;
}

// ---------------------------------------------------------------- LZ

TEST(LzUnpack, EmptyLiteralUsesItsFlagBit) {
  // Tokens: literal "ab", empty literal, back reference (distance 2, 4 bytes).
  const Bytes s = {0x04, 2, 'a', 'b', 0, 0x28, 0x00};
  int ok;
  EXPECT_EQ(Unpack(s, 6, &ok), Str("ababab"));
  EXPECT_EQ(ok, 1);
}

TEST(LzUnpack, ShortFormDistanceOneRepeatsTheLastByte) {
  for (unsigned len = 4; len <= 11; ++len) {
    Bytes s = {0x02, 1, 'x'};
    Put16(s, 1 << 4 | 8 | (len - 4));
    int ok;
    EXPECT_EQ(Unpack(s, 1 + len, &ok), Bytes(1 + len, 'x')) << len;
    EXPECT_EQ(ok, 1);
  }
}

TEST(LzUnpack, LongFormCopiesUnitsThenSingleBytes) {
  // "abcd", then distance 4 with L = 9: three 4-byte units and one byte.
  Bytes s = {0x02, 4, 'a', 'b', 'c', 'd'};
  Put16(s, 4 << 4 | 0);
  s.push_back(9);
  int ok;
  EXPECT_EQ(Unpack(s, 17, &ok), Str("abcdabcdabcdabcda"));
  EXPECT_EQ(ok, 1);

  // The longest form: L = 2047, 2051 bytes, from 5 back (overlapping).
  Bytes t = {0x02, 5, '1', '2', '3', '4', '5'};
  Put16(t, 5 << 4 | 7);
  t.push_back(0xFF);
  const Bytes out = Unpack(t, 5 + 2051, &ok);
  EXPECT_EQ(ok, 1);
  for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], '1' + i % 5) << i;
}

TEST(LzUnpack, NextFlagByteFollowsTheEighthToken) {
  // Eight one-byte literals, then a flag byte whose first token is a reference.
  Bytes s = {0x00};
  for (char c : std::string("ABCDEFGH")) {
    s.push_back(1);
    s.push_back(static_cast<uint8_t>(c));
  }
  s.push_back(0x01);
  Put16(s, 8 << 4 | 8 | 0);  // 4 bytes from 8 back
  int ok;
  EXPECT_EQ(Unpack(s, 12, &ok), Str("ABCDEFGHABCD"));
  EXPECT_EQ(ok, 1);
  // The same stream ending right after the eighth token fills 8 bytes: no
  // further flag byte is needed.
  Bytes eight(s.begin(), s.begin() + 17);
  EXPECT_EQ(Unpack(eight, 8, &ok), Str("ABCDEFGH"));
  EXPECT_EQ(ok, 1);
}

TEST(LzUnpack, TokensPassingTheSizeAreCut) {
  int ok;
  // Literal of 5 into 3 bytes.
  EXPECT_EQ(Unpack({0x00, 5, 'a', 'b', 'c', 'd', 'e'}, 3, &ok), Str("abc"));
  EXPECT_EQ(ok, 1);
  // A literal cut by the size needs only the bytes it writes.
  EXPECT_EQ(Unpack({0x00, 200, 'a', 'b'}, 2, &ok), Str("ab"));
  EXPECT_EQ(ok, 1);
  // Short reference of 11 into the last 3 bytes; long reference likewise.
  Bytes s = {0x02, 2, 'x', 'y'};
  Put16(s, 2 << 4 | 8 | 7);
  EXPECT_EQ(Unpack(s, 5, &ok), Str("xyxyx"));
  EXPECT_EQ(ok, 1);
  Bytes t = {0x02, 4, 'a', 'b', 'c', 'd'};
  Put16(t, 4 << 4 | 1);
  t.push_back(0);
  EXPECT_EQ(Unpack(t, 6, &ok), Str("abcdab"));
  EXPECT_EQ(ok, 1);
  // Once the size is reached nothing more is read, not even garbage.
  EXPECT_EQ(Unpack({0x00, 2, 'o', 'k', 0xFF, 0xFF}, 2, &ok), Str("ok"));
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(Unpack({}, 0, &ok), Bytes{});
  EXPECT_EQ(ok, 1);
}

TEST(LzUnpack, CorruptStreamsFail) {
  struct Case {
    const char* what;
    Bytes stream;
    size_t size;
  };
  Bytes longNear = {0x02, 4, 'a', 'b', 'c', 'd'};
  Put16(longNear, 3 << 4);  // long form from 3 back
  longNear.push_back(0);
  const Case cases[] = {
      {"no flag byte", {}, 1},
      {"literal count missing", {0x00}, 1},
      {"literal bytes missing", {0x00, 4, 'a', 'b'}, 4},
      {"reference before the start", {0x02, 1, 'a', 0x28, 0x00}, 8},
      {"distance 0", {0x02, 1, 'a', 0x08, 0x00}, 8},
      {"reference word cut", {0x02, 1, 'a', 0x18}, 8},
      {"long form third byte missing", {0x02, 1, 'a', 0x10, 0x00}, 8},
      {"long form from fewer than 4 back", longNear, 12},
      {"stream ends before the size", {0x00, 1, 'a'}, 2},
      {"ninth flag byte missing", {0x00, 1, 'a', 1, 'b', 1, 'c', 1, 'd', 1, 'e', 1, 'f', 1, 'g', 1, 'h'}, 9},
  };
  for (const Case& c : cases) {
    int ok;
    Unpack(c.stream, c.size, &ok);
    EXPECT_EQ(ok, 0) << c.what;
  }
}

struct Forms {
  int literal = 0, empty = 0, shortRef = 0, longRef = 0;
};

// Walks a stream the way the unpacker does, counting token forms.
Forms Scan(const Bytes& s, size_t size) {
  Forms f;
  size_t in = 0, pos = 0;
  unsigned bits = 1;
  while (pos < size) {
    if (bits == 1) bits = s.at(in++) | 0x100u;
    const bool ref = bits & 1;
    bits >>= 1;
    if (!ref) {
      const size_t c = s.at(in++);
      (c ? f.literal : f.empty)++;
      in += c;
      pos += c;
    } else {
      const unsigned v = s.at(in) | s.at(in + 1) << 8;
      in += 2;
      if (v & 8) {
        f.shortRef++;
        pos += (v & 7) + 4;
      } else {
        f.longRef++;
        pos += (((v & 7) << 8) | s.at(in++)) + 4;
      }
    }
  }
  EXPECT_EQ(in, s.size());
  return f;
}

std::vector<Bytes> LzSamples() {
  std::vector<Bytes> v;
  std::mt19937 rng(7);
  Bytes random(5000);
  for (auto& b : random) b = static_cast<uint8_t>(rng());
  v.push_back(random);
  v.push_back(Bytes(9000, 0));
  for (int period : {1, 2, 3, 5, 64}) {
    Bytes p(4000);
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i % period * 37);
    v.push_back(p);
  }
  // Text-like data with repeats at many distances.
  Bytes text;
  const char* words[] = {"the ", "engine ", "reads ", "pictures ", "quickly ", "and ", "safely "};
  for (int i = 0; i < 3000; ++i) {
    const char* w = words[rng() % 7];
    text.insert(text.end(), w, w + std::strlen(w));
  }
  v.push_back(text);
  v.push_back({});
  v.push_back({42});
  v.push_back(Bytes{1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3});
  return v;
}

TEST(LzPack, EveryFormRoundTrips) {
  using kivtools::LzForm;
  const LzForm forms[] = {LzForm::kBest, LzForm::kLiteralsOnly, LzForm::kShortRefs,
                          LzForm::kLongRefs, LzForm::kEmptyLiterals, LzForm::kMixed};
  for (LzForm form : forms) {
    Forms total;
    for (const Bytes& data : LzSamples()) {
      const Bytes packed = kivtools::LzPack(data, {form});
      int ok;
      ASSERT_EQ(Unpack(packed, data.size(), &ok), data) << static_cast<int>(form);
      ASSERT_EQ(ok, 1);
      const Forms f = Scan(packed, data.size());
      total.literal += f.literal, total.empty += f.empty;
      total.shortRef += f.shortRef, total.longRef += f.longRef;
    }
    switch (form) {
      case LzForm::kLiteralsOnly:
        EXPECT_GT(total.literal, 0);
        EXPECT_EQ(total.shortRef + total.longRef + total.empty, 0);
        break;
      case LzForm::kShortRefs:
        EXPECT_GT(total.shortRef, 0);
        EXPECT_EQ(total.longRef, 0);
        break;
      case LzForm::kLongRefs:
        EXPECT_GT(total.longRef, 0);
        EXPECT_EQ(total.shortRef, 0);
        break;
      case LzForm::kEmptyLiterals:
        EXPECT_GT(total.empty, 0);
        break;
      case LzForm::kMixed:
        EXPECT_GT(total.literal, 0);
        EXPECT_GT(total.empty, 0);
        EXPECT_GT(total.shortRef, 0);
        EXPECT_GT(total.longRef, 0);
        break;
      case LzForm::kBest:
        EXPECT_GT(total.shortRef, 0);
        EXPECT_GT(total.longRef, 0);
        break;
    }
  }
}

TEST(LzPack, PacksRepetitiveData) {
  const Bytes zeros(100000, 0);
  EXPECT_LT(kivtools::LzPack(zeros).size(), 200u);
}

// ---------------------------------------------------------------- GE

// One work area and one load buffer for the whole run, as in the engine.
Bytes& Work() {
  static Bytes work(4u << 20);
  return work;
}
Bytes& LoadBuffer() {
  static Bytes load(2 * kKivPgdWorkSize + 1);
  return load;
}

// Decodes into a buffer of `pitch`-wide rows (plus a margin) filled with a
// sentinel; returns the whole buffer.
std::vector<uint32_t> DecodeGe(const Bytes& file, int w, int h, int pitch, int* ok,
                               KivLoopVariant v = KivLoopVariant::kAuto) {
  std::vector<uint32_t> dest(static_cast<size_t>(pitch) * h, 0xDEADBEEF);
  *ok = KivGeDecode(file, dest, pitch, Work(), v);
  return dest;
}

std::vector<uint32_t> Crop(const std::vector<uint32_t>& d, int w, int h, int pitch) {
  std::vector<uint32_t> out;
  for (int y = 0; y < h; ++y) out.insert(out.end(), d.begin() + y * pitch, d.begin() + y * pitch + w);
  return out;
}

void ExpectMargin(const std::vector<uint32_t>& d, int w, int h, int pitch) {
  for (int y = 0; y < h; ++y)
    for (int x = w; x < pitch; ++x) ASSERT_EQ(d[y * pitch + x], 0xDEADBEEFu) << x << "," << y;
}

const int kSizes[][2] = {{1, 1}, {2, 2}, {3, 5}, {17, 9}, {64, 48}, {33, 1}, {1, 31}};

TEST(GeDecode, LosslessMethodsRoundTrip) {
  struct M {
    int method, bpp;
  };
  const M methods[] = {{1, 32}, {3, 24}, {3, 32}, {0, 32}, {7, 32}, {0xFFFF, 32}};
  for (auto [w, h] : kSizes) {
    const Image img = RandomImage(w, h, static_cast<uint32_t>(w * 131 + h));
    Image smooth = kivtools::MakeTestPicture(w, h, 3);
    for (const Image* src : {&img, static_cast<const Image*>(&smooth)}) {
      for (M m : methods) {
        kivtools::GeOptions o;
        o.method = m.method;
        o.bpp = m.bpp;
        const Bytes file = kivtools::EncodeGe(*src, o);
        for (KivLoopVariant v : {KivLoopVariant::kPlain, KivLoopVariant::kSimd}) {
          int ok;
          const int pitch = w + 3;
          const auto d = DecodeGe(file, w, h, pitch, &ok, v);
          ASSERT_EQ(ok, 1) << m.method << " " << w << "x" << h;
          std::vector<uint32_t> expect = src->pixels;
          if (m.method == 3 && m.bpp == 24)
            for (auto& p : expect) p |= 0xFF000000u;
          ASSERT_EQ(Crop(d, w, h, pitch), expect) << m.method << "/" << m.bpp << " " << w << "x" << h;
          ExpectMargin(d, w, h, pitch);
        }
      }
    }
  }
}

TEST(GeDecode, EveryLzFormDecodes) {
  using kivtools::LzForm;
  const Image img = kivtools::MakeTestPicture(40, 30, 5);
  for (LzForm form : {LzForm::kBest, LzForm::kLiteralsOnly, LzForm::kShortRefs, LzForm::kLongRefs,
                      LzForm::kEmptyLiterals, LzForm::kMixed}) {
    for (int method : {1, 2, 3}) {
      kivtools::GeOptions o;
      o.method = method;
      o.lz.form = form;
      const Bytes file = kivtools::EncodeGe(img, o);
      int ok;
      const auto got = DecodeGe(file, 40, 30, 40, &ok);
      ASSERT_EQ(ok, 1);
      o.lz.form = LzForm::kBest;
      const auto ref = DecodeGe(kivtools::EncodeGe(img, o), 40, 30, 40, &ok);
      EXPECT_EQ(got, ref) << method;
    }
  }
}

// The documented colour conversion, written out once more for comparison.
std::vector<uint32_t> YccReference(const Bytes& planes, int w, int h, uint32_t fill) {
  std::vector<uint32_t> out(static_cast<size_t>(w) * h, fill);
  const size_t q = static_cast<size_t>(w) * h / 4;
  auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
  for (int by = 0; by < h / 2; ++by)
    for (int bx = 0; bx < w / 2; ++bx) {
      const int cb = static_cast<int8_t>(planes[by * (w / 2) + bx]);
      const int cr = static_cast<int8_t>(planes[q + by * (w / 2) + bx]);
      for (int k = 0; k < 4; ++k) {
        const int x = bx * 2 + (k & 1), y = by * 2 + (k >> 1);
        const int Y = planes[2 * q + y * w + x];
        const int r = clamp((Y * 128 + 179 * cr) >> 7);
        const int g = clamp((Y * 128 - 43 * cb - 89 * cr) >> 7);
        const int b = clamp((Y * 128 + 226 * cb) >> 7);
        out[y * w + x] = Px(b, g, r, 255);
      }
    }
  return out;
}

TEST(GeDecode, YCbCrFollowsTheConversionAndStaysClose) {
  for (auto [w, h] : kSizes) {
    for (int kind = 0; kind < 2; ++kind) {
      Image img = kind ? kivtools::MakeTestPicture(w, h, 9) : RandomImage(w, h, 11, true);
      for (auto& p : img.pixels) p |= 0xFF000000u;
      kivtools::GeOptions o;
      o.method = 2;
      const Bytes file = kivtools::EncodeGe(img, o);
      const auto ref = YccReference(kivtools::GeYCbCrPlanes(img), w, h, 0xDEADBEEF);
      for (KivLoopVariant v : {KivLoopVariant::kPlain, KivLoopVariant::kSimd}) {
        int ok;
        const auto d = DecodeGe(file, w, h, w, &ok, v);
        ASSERT_EQ(ok, 1);
        // Exactly the conversion; an odd last row or column stays untouched.
        ASSERT_EQ(d, ref) << w << "x" << h;
      }
    }
  }
  // Loss: a picture whose 2 x 2 blocks are flat loses only to rounding.
  Image flat{64, 32, std::vector<uint32_t>(64 * 32)};
  std::mt19937 rng(3);
  for (int by = 0; by < 16; ++by)
    for (int bx = 0; bx < 32; ++bx) {
      const uint32_t c = rng() | 0xFF000000u;
      for (int k = 0; k < 4; ++k) flat.pixels[(by * 2 + (k >> 1)) * 64 + bx * 2 + (k & 1)] = c;
    }
  kivtools::GeOptions o;
  o.method = 2;
  int ok;
  const auto d = DecodeGe(kivtools::EncodeGe(flat, o), 64, 32, 64, &ok);
  ASSERT_EQ(ok, 1);
  int worst = 0;
  for (size_t i = 0; i < d.size(); ++i)
    for (int c = 0; c < 3; ++c)
      worst = std::max(worst, std::abs(static_cast<int>((d[i] >> (8 * c)) & 255) -
                                       static_cast<int>((flat.pixels[i] >> (8 * c)) & 255)));
  EXPECT_LE(worst, 3);
  // A smooth picture stays close on average.
  const Image pic = kivtools::MakeTestPicture(128, 96, 1);
  const auto e = DecodeGe(kivtools::EncodeGe(pic, o), 128, 96, 128, &ok);
  double sum = 0;
  for (size_t i = 0; i < e.size(); ++i) {
    if ((pic.pixels[i] >> 24) != 255) continue;
    for (int c = 0; c < 3; ++c)
      sum += std::abs(static_cast<int>((e[i] >> (8 * c)) & 255) - static_cast<int>((pic.pixels[i] >> (8 * c)) & 255));
  }
  EXPECT_LT(sum / (e.size() * 3), 1.5);
}

TEST(GeDecode, HeadFieldsAndHeadSize) {
  const Image img = RandomImage(5, 4, 1);
  kivtools::GeOptions o;
  o.method = 1;
  o.x = -12;
  o.y = 34;
  o.cellWidth = 5;
  o.cellHeight = 2;
  o.headSize = 45;
  const Bytes file = kivtools::EncodeGe(img, o);
  KivGeHeader h;
  ASSERT_EQ(KivGeReadHeader(file, &h), 1);
  EXPECT_EQ(h.headSize, 45);
  EXPECT_EQ(h.x, -12);
  EXPECT_EQ(h.y, 34);
  EXPECT_EQ(h.width, 5);
  EXPECT_EQ(h.height, 4);
  EXPECT_EQ(h.cellWidth, 5);
  EXPECT_EQ(h.cellHeight, 2);
  EXPECT_EQ(h.method, 1);
  EXPECT_EQ(h.unpackedSize, 80u);
  int ok;
  EXPECT_EQ(DecodeGe(file, 5, 4, 5, &ok), img.pixels);
  EXPECT_EQ(ok, 1);

  KivPixelBuffer* b = KivGeDecodeToBuffer(file, Work());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->width, 5);
  EXPECT_EQ(b->height, 4);
  EXPECT_EQ(b->byteSize, 80);
  EXPECT_EQ(std::vector<uint32_t>(b->pixels, b->pixels + 20), img.pixels);
  KivPixelBufferFree(b);
}

TEST(GeDecode, MethodZeroIsRawFromDataBlockPlusEight) {
  Bytes f = {'G', 'E'};
  Put16(f, 30);
  for (int i = 0; i < 4; ++i) Put16(f, 0);  // x, y
  Put16(f, 2), Put16(f, 0), Put16(f, 1), Put16(f, 0);  // 2 x 1
  for (int i = 0; i < 4; ++i) Put16(f, 0);  // cells
  Put16(f, 0);                              // method 0
  for (int i = 0; i < 8; ++i) f.push_back(0x55);  // size words, not used
  for (uint8_t b : {1, 2, 3, 4, 5, 6, 7, 8}) f.push_back(b);
  int ok;
  const auto d = DecodeGe(f, 2, 1, 2, &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(d[0], 0x04030201u);
  EXPECT_EQ(d[1], 0x08070605u);
}

// ---------------------------------------------------------------- line prediction

TEST(LineDecode, PredictorsByHand) {
  // Two 32-bit pixels per row; row 0 left, row 1 up, row 2 average.
  Bytes d = {1, 2, 4};
  const uint8_t rows[] = {
      10, 20, 30, 40, 1, 2, 3, 4,       // left: raw, then left - delta
      5, 5, 5, 5, 0xFF, 0, 0, 0,        // up: above - delta (0xFF wraps to +1)
      200, 100, 0, 0, 6, 0, 0, 0,       // average: raw, then ((up + left) >> 1) - delta
  };
  d.insert(d.end(), rows, rows + sizeof rows);
  std::vector<uint32_t> out(6);
  for (KivLoopVariant v : {KivLoopVariant::kPlain, KivLoopVariant::kSimd}) {
    ASSERT_EQ(KivPgdLineDecode32(d, 2, 3, out, v), 1);
    EXPECT_EQ(out[0], Px(10, 20, 30, 40));
    EXPECT_EQ(out[1], Px(9, 18, 27, 36));
    EXPECT_EQ(out[2], Px(5, 15, 25, 35));
    EXPECT_EQ(out[3], Px(10, 18, 27, 36));
    EXPECT_EQ(out[4], Px(200, 100, 0, 0));
    // Above (10, 18, 27, 36), left (200, 100, 0, 0): the sum is taken whole.
    EXPECT_EQ(out[5], Px((210 >> 1) - 6, 59, 13, 18));
  }
}

TEST(LineDecode, FirstRowAboveIsZero) {
  // Row 0 with the up flag: 0 - delta; with the average flag: left >> 1 - delta.
  const Bytes up = {2, 1, 2, 3, 4, 5, 6};
  std::vector<uint8_t> out(6);
  ASSERT_EQ(KivPgdLineDecode24(up, 2, 1, out), 1);
  EXPECT_EQ(out, (Bytes{0xFF, 0xFE, 0xFD, 0xFC, 0xFB, 0xFA}));
  const Bytes avg = {4, 100, 50, 20, 10, 5, 1};
  ASSERT_EQ(KivPgdLineDecode24(avg, 2, 1, out), 1);
  EXPECT_EQ(out, (Bytes{100, 50, 20, 40, 20, 9}));
  // GE at 24 bits: alpha 0xFF throughout.
  std::vector<uint32_t> px(2);
  ASSERT_EQ(KivGeLineDecode24(up, 2, 1, px, 2), 1);
  EXPECT_EQ(px[0], 0xFFFDFEFFu);
}

TEST(LineDecode, EveryFlagValueRoundTrips) {
  const Image img = RandomImage(13, 7, 5);
  for (int flag : {1, 2, 4, 0, 3, 8, 0x80, 0xFE}) {
    for (int bpp : {24, 32}) {
      kivtools::GeOptions o;
      o.method = 3;
      o.bpp = bpp;
      o.forcedFlag = flag;
      int ok;
      const auto d = DecodeGe(kivtools::EncodeGe(img, o), 13, 7, 13, &ok);
      ASSERT_EQ(ok, 1);
      for (size_t i = 0; i < d.size(); ++i)
        ASSERT_EQ(d[i], bpp == 24 ? img.pixels[i] | 0xFF000000u : img.pixels[i]) << flag;
    }
  }
}

// Random flags and deltas through both variants of every line decoder.
TEST(LineDecode, PlainAndVectorAgree) {
  std::mt19937 rng(99);
  for (int w : {1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 31, 40, 257}) {
    for (int h : {1, 2, 5}) {
      Bytes data(static_cast<size_t>(h) + static_cast<size_t>(w) * h * 4);
      for (auto& b : data) b = static_cast<uint8_t>(rng());
      for (int y = 0; y < h; ++y) data[y] = static_cast<uint8_t>(1u << (rng() % 3));
      const int pitch = w + 2;
      std::vector<uint32_t> a(static_cast<size_t>(pitch) * h, 7), b = a;
      ASSERT_EQ(KivGeLineDecode24(data, w, h, a, pitch, KivLoopVariant::kPlain), 1);
      ASSERT_EQ(KivGeLineDecode24(data, w, h, b, pitch, KivLoopVariant::kSimd), 1);
      ASSERT_EQ(a, b) << "GE24 " << w << "x" << h;
      ASSERT_EQ(KivGeLineDecode32(data, w, h, a, pitch, KivLoopVariant::kPlain), 1);
      ASSERT_EQ(KivGeLineDecode32(data, w, h, b, pitch, KivLoopVariant::kSimd), 1);
      ASSERT_EQ(a, b) << "GE32 " << w << "x" << h;
      Bytes p(static_cast<size_t>(w) * h * 3), q = p;
      ASSERT_EQ(KivPgdLineDecode24(data, w, h, p, KivLoopVariant::kPlain), 1);
      ASSERT_EQ(KivPgdLineDecode24(data, w, h, q, KivLoopVariant::kSimd), 1);
      ASSERT_EQ(p, q) << "PGD24 " << w << "x" << h;
      std::vector<uint32_t> r(static_cast<size_t>(w) * h), s = r;
      ASSERT_EQ(KivPgdLineDecode32(data, w, h, r, KivLoopVariant::kPlain), 1);
      ASSERT_EQ(KivPgdLineDecode32(data, w, h, s, KivLoopVariant::kSimd), 1);
      ASSERT_EQ(r, s) << "PGD32 " << w << "x" << h;
    }
  }
}

TEST(YCbCr, PlainAndVectorAgree) {
  std::mt19937 rng(5);
  for (int w : {1, 2, 3, 7, 8, 9, 16, 17, 30, 64, 101}) {
    for (int h : {1, 2, 3, 6}) {
      Bytes planes(2 * (static_cast<size_t>(w) * h / 4) + static_cast<size_t>(w) * h);
      for (auto& b : planes) b = static_cast<uint8_t>(rng());
      std::vector<uint32_t> a(static_cast<size_t>(w + 1) * h, 1), b = a;
      ASSERT_EQ(KivGeYCbCrToPixels(planes, w, h, a, w + 1, KivLoopVariant::kPlain), 1);
      ASSERT_EQ(KivGeYCbCrToPixels(planes, w, h, b, w + 1, KivLoopVariant::kSimd), 1);
      ASSERT_EQ(a, b) << w << "x" << h;
    }
  }
  // Every (Y, Cb, Cr) combination of a few extremes, both variants.
  const int vals[] = {0, 1, 127, 128, 129, 254, 255};
  Bytes planes;
  const int w = 2 * 7 * 7 * 7, h = 2;
  Bytes cb, cr, ys(static_cast<size_t>(w) * h);
  for (int a : vals)
    for (int b : vals)
      for (int c : vals) {
        cb.push_back(static_cast<uint8_t>(b));
        cr.push_back(static_cast<uint8_t>(c));
        const size_t x = (cb.size() - 1) * 2;
        ys[x] = ys[x + 1] = ys[w + x] = ys[w + x + 1] = static_cast<uint8_t>(a);
      }
  planes = cb;
  planes.insert(planes.end(), cr.begin(), cr.end());
  planes.insert(planes.end(), ys.begin(), ys.end());
  std::vector<uint32_t> p(static_cast<size_t>(w) * h), q = p;
  ASSERT_EQ(KivGeYCbCrToPixels(planes, w, h, p, w, KivLoopVariant::kPlain), 1);
  ASSERT_EQ(KivGeYCbCrToPixels(planes, w, h, q, w, KivLoopVariant::kSimd), 1);
  EXPECT_EQ(p, q);
  EXPECT_EQ(p, YccReference(planes, w, h, 0));
}

TEST(CpuFeatures, ReportsTheProcessor) {
  KivDetectCpuFeatures();
#if defined(__x86_64__)
  EXPECT_EQ(g_kivCpu.mmx.load(), __builtin_cpu_supports("mmx") ? 1 : 0);
  EXPECT_EQ(g_kivCpu.sse.load(), __builtin_cpu_supports("sse") ? 1 : 0);
  EXPECT_EQ(g_kivCpu.sse2.load(), __builtin_cpu_supports("sse2") ? 1 : 0);
  EXPECT_TRUE(KivUseSimd(KivLoopVariant::kAuto));
#endif
  EXPECT_FALSE(KivUseSimd(KivLoopVariant::kPlain));
  EXPECT_TRUE(KivUseSimd(KivLoopVariant::kSimd));
}

// ---------------------------------------------------------------- difference images

struct PgdResult {
  int ok = 0;
  std::vector<uint32_t> pixels;
};

PgdResult ApplyPgd(const Bytes& file, std::vector<uint32_t> base, int w, int h, int pitch,
                   KivLoopVariant v = KivLoopVariant::kAuto) {
  PgdResult r;
  KivPgdHeader head;
  Bytes& load = LoadBuffer();
  if (KivPgdReadHeader(file, &head) && KivPgdUnpack(file, head, {load.data() + kKivPgdWorkOffset, kKivPgdWorkSize}))
    r.ok = KivPgdApply(head, {load.data() + kKivPgdWorkOffset, head.unpackedSize}, {load.data(), kKivPgdWorkOffset},
                       base, w, h, pitch, v);
  r.pixels = std::move(base);
  return r;
}

std::vector<uint32_t> WithPitch(const std::vector<uint32_t>& px, int w, int h, int pitch) {
  std::vector<uint32_t> out(static_cast<size_t>(pitch) * h, 0xDEADBEEF);
  for (int y = 0; y < h; ++y) std::copy_n(px.begin() + y * w, w, out.begin() + y * pitch);
  return out;
}

TEST(Pgd, AppliesTheChangedRectangle) {
  const int w = 48, h = 36;
  // The base as the engine holds it: decoded from its GE file.
  const Image src = kivtools::MakeTestPicture(w, h, 2);
  kivtools::GeOptions go;
  go.method = 1;
  int ok;
  Image base{w, h, DecodeGe(kivtools::EncodeGe(src, go), w, h, w, &ok)};
  ASSERT_EQ(ok, 1);
  Image changed = base;
  std::mt19937 rng(4);
  for (int y = 10; y < 25; ++y)
    for (int x = 7; x < 30; ++x) changed.pixels[y * w + x] = (changed.pixels[y * w + x] & 0xFF000000u) | (rng() & 0xFFFFFF);
  for (int bpp : {24, 32}) {
    for (int version : {2, 3}) {
      Image target = changed;
      if (bpp == 32) target.pixels[12 * w + 9] ^= 0x7F000000u;  // an alpha change too
      kivtools::PgdOptions po;
      po.bpp = bpp;
      po.version = version;
      po.baseName = "BG01.GE";
      Bytes file;
      std::string err;
      ASSERT_TRUE(kivtools::EncodePgd(base, target, po, &file, &err)) << err;
      EXPECT_EQ(file[3], version == 2 ? '2' : '3');
      KivPgdHeader head;
      ASSERT_EQ(KivPgdReadHeader(file, &head), 1);
      EXPECT_EQ(head.x, 7);
      EXPECT_EQ(head.y, 10);
      EXPECT_EQ(head.w, 23);
      EXPECT_EQ(head.h, 15);
      EXPECT_EQ(head.bpp, bpp);
      EXPECT_STREQ(head.baseName, "BG01.GE");
      for (KivLoopVariant v : {KivLoopVariant::kPlain, KivLoopVariant::kSimd}) {
        const int pitch = w + 5;
        const PgdResult r = ApplyPgd(file, WithPitch(base.pixels, w, h, pitch), w, h, pitch, v);
        ASSERT_EQ(r.ok, 1);
        EXPECT_EQ(r.pixels, WithPitch(target.pixels, w, h, pitch)) << bpp << " " << version;
      }
    }
  }
  // At 24 bits the base alpha stays and an alpha change cannot be written.
  Image alpha = base;
  alpha.pixels[0] ^= 0x01000000u;
  Bytes file;
  std::string err;
  kivtools::PgdOptions po;
  po.bpp = 24;
  EXPECT_FALSE(kivtools::EncodePgd(base, alpha, po, &file, &err));
}

TEST(Pgd, TwentyFourBitsKeepBaseAlpha) {
  // A hand-made 1 x 1 difference: XOR colour 0x010203, alpha untouched.
  Bytes f = {'P', 'G', 'D', '2'};
  Put16(f, 1), Put16(f, 0), Put16(f, 1), Put16(f, 1), Put16(f, 24);
  for (int i = 0; i < 34; ++i) f.push_back(i < 4 ? "BASE"[i] : 0);
  Put16(f, 4), Put16(f, 0);  // unpacked: flag + 3 bytes
  Put16(f, 0), Put16(f, 0);
  for (uint8_t b : {0x00, 0x04, 0x01, 0x03, 0x02, 0x01}) f.push_back(b);  // flag byte, literal of 4
  std::vector<uint32_t> base = {0x80FFFFFFu, 0x40102030u};
  const PgdResult r = ApplyPgd(f, base, 2, 1, 2);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.pixels[0], 0x80FFFFFFu);
  EXPECT_EQ(r.pixels[1], 0x40102030u ^ 0x00010203u);
}

// ---------------------------------------------------------------- BMP / TGA

struct Decoded {
  int ok = 0;
  int w = 0, h = 0;
  std::vector<uint32_t> pixels;
};

Decoded DecodeBmpTga(const Bytes& file) {
  Decoded d;
  KivPixelBuffer* b = KivPixelBufferCreate();
  d.ok = KivBmpTgaDecode(file, b);
  if (d.ok) {
    d.w = b->width;
    d.h = b->height;
    EXPECT_EQ(b->byteSize, b->width * b->height * 4);
    d.pixels.assign(b->pixels, b->pixels + static_cast<size_t>(b->width) * b->height);
    KivPixelBufferFree(b);
  }
  return d;
}

TEST(BmpTga, BmpVariants) {
  for (auto [w, h] : {std::pair{1, 1}, {3, 2}, {5, 7}, {16, 4}}) {
    const Image img = RandomImage(w, h, 17);
    for (bool topDown : {false, true}) {
      for (int bpp : {24, 32}) {
        const Decoded d = DecodeBmpTga(kivtools::EncodeBmp(img, bpp, topDown));
        ASSERT_EQ(d.ok, 1);
        EXPECT_EQ(d.w, w);
        EXPECT_EQ(d.h, h);
        std::vector<uint32_t> expect = img.pixels;
        if (bpp == 24)
          for (auto& p : expect) p |= 0xFF000000u;
        EXPECT_EQ(d.pixels, expect) << bpp << (topDown ? " top-down" : " bottom-up") << " " << w << "x" << h;
      }
      // 8 bits: a colour table of the picture's colours.
      Image few = img;
      for (size_t i = 0; i < few.pixels.size(); ++i) few.pixels[i] = 0x11000000u | (i % 5) * 0x302010u;
      const Decoded d = DecodeBmpTga(kivtools::EncodeBmp(few, 8, topDown));
      ASSERT_EQ(d.ok, 1);
      for (size_t i = 0; i < d.pixels.size(); ++i) EXPECT_EQ(d.pixels[i], few.pixels[i] | 0xFF000000u);
    }
  }
}

TEST(BmpTga, TgaVariants) {
  const Image img = RandomImage(7, 3, 23);
  for (int bpp : {8, 24, 32}) {
    for (uint8_t descriptor : {uint8_t{0}, uint8_t{0x20}, uint8_t{0x28}}) {
      // The descriptor's origin bit says which row comes first; the
      // encoder writes them in that order, so the picture reads the same.
      const Decoded d = DecodeBmpTga(kivtools::EncodeTga(img, bpp, descriptor));
      ASSERT_EQ(d.ok, 1);
      for (size_t i = 0; i < img.pixels.size(); ++i) {
        const uint32_t p = img.pixels[i];
        const uint32_t expect = bpp == 8 ? 0xFF000000u | (p & 0xFF) * 0x010101u
                                : bpp == 24 ? p | 0xFF000000u
                                            : p;
        ASSERT_EQ(d.pixels[i], expect) << bpp;
      }
    }
  }
}

TEST(BmpTga, RefusedFormatsSayWhy) {
  const Image img = RandomImage(4, 4, 1);
  Bytes bmpJpeg = kivtools::EncodeBmp(img, 24);
  bmpJpeg[30] = 4;  // BI_JPEG
  {
    DebugCapture cap;
    EXPECT_EQ(DecodeBmpTga(bmpJpeg).ok, 0);
    EXPECT_EQ(cap.text, "err : bmp compression 4 not supported");
  }
  Bytes bmp2 = kivtools::EncodeBmp(img, 24);
  bmp2[28] = 2;
  {
    DebugCapture cap;
    EXPECT_EQ(DecodeBmpTga(bmp2).ok, 0);
    EXPECT_EQ(cap.text, "err : bmp 2 bits per pixel not supported");
  }
  Bytes tgaMap = kivtools::EncodeTga(img, 24);
  tgaMap[1] = 1;
  {
    DebugCapture cap;
    EXPECT_EQ(DecodeBmpTga(tgaMap).ok, 0);
    EXPECT_EQ(cap.text, "err : match / tga index color");
  }
  Bytes tga16 = kivtools::EncodeTga(img, 24);
  tga16[16] = 12;
  {
    DebugCapture cap;
    EXPECT_EQ(DecodeBmpTga(tga16).ok, 0);
    EXPECT_EQ(cap.text, "err : load memory / bloken?");
  }
  Bytes tgaHuffman = kivtools::EncodeTga(img, 24);
  tgaHuffman[2] = 32;
  {
    DebugCapture cap;
    EXPECT_EQ(DecodeBmpTga(tgaHuffman).ok, 0);
    EXPECT_EQ(cap.text, "err : tga image type 32 not supported");
  }
}

// ---------------------------------------------------------------- corrupt input

void Set32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Set16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

int TryGe(const Bytes& f, size_t workSize = 0) {
  KivGeHeader h;
  if (!KivGeReadHeader(f, &h)) return 0;
  // A lying size gets a smaller destination, which must be refused too.
  std::vector<uint32_t> dest(std::min<size_t>(static_cast<size_t>(h.width) * h.height, 1u << 20));
  if (!workSize) return KivGeDecode(f, dest, h.width, Work());
  Bytes work(workSize);
  return KivGeDecode(f, dest, h.width, work);
}

int TryPgd(const Bytes& f, int w, int h) { return ApplyPgd(f, std::vector<uint32_t>(static_cast<size_t>(w) * h), w, h, w).ok; }

TEST(Corrupt, LyingFieldsFailCleanly) {
  const Image img = kivtools::MakeTestPicture(20, 10, 8);
  auto ge = [&](int method, int bpp = 32) {
    kivtools::GeOptions o;
    o.method = method;
    o.bpp = bpp;
    return kivtools::EncodeGe(img, o);
  };
  struct Case {
    const char* what;
    std::function<int()> run;
  };
  const size_t d = 32;  // the writer's head size
  std::vector<Case> cases = {
      {"GE magic", [&] { Bytes f = ge(1); f[1] = 'X'; return TryGe(f); }},
      {"GE head size past the end", [&] { Bytes f = ge(1); Set16(f, 2, 0xFFFF); return TryGe(f); }},
      {"GE zero width", [&] { Bytes f = ge(1); Set32(f, 12, 0); return TryGe(f); }},
      {"GE width x height overflows", [&] { Bytes f = ge(0); Set32(f, 12, 0x10000); Set32(f, 16, 0x10000); return TryGe(f); }},
      {"GE raw pixels short", [&] { Bytes f = ge(0); Set32(f, 16, 11); return TryGe(f); }},
      {"GE unpacked larger than the work area", [&] { Bytes f = ge(1); Set32(f, d, 5u << 20); return TryGe(f); }},
      {"GE unpacked over 32 MiB", [&] { Bytes f = ge(1); Set32(f, d, (32u << 20) + 4); return TryGe(f, (32u << 20) + 8); }},
      {"GE planes smaller than the image", [&] { Bytes f = ge(1); Set32(f, d, 20 * 10 * 4 - 4); return TryGe(f); }},
      {"GE unpacked larger than the stream gives", [&] { Bytes f = ge(1); Set32(f, d, 20 * 10 * 4 + 1); return TryGe(f); }},
      {"GE YCbCr planes short", [&] { Bytes f = ge(2); Set32(f, d, 20 * 10); return TryGe(f); }},
      {"GE line block short", [&] { Bytes f = ge(3); Set32(f, d, 7); return TryGe(f); }},
      {"GE line block wider than the image",
       [&] { Bytes f = ge(3); Set32(f, 12, 19); return TryGe(f); }},
      {"GE line block taller than the image",
       [&] { Bytes f = ge(3, 24); Set32(f, 16, 9); return TryGe(f); }},
      {"PGD magic", [&] { Bytes f; std::string e; kivtools::EncodePgd(img, img, {}, &f, &e); f[3] = '4'; return TryPgd(f, 20, 10); }},
      {"PGD rectangle outside the base",
       [&] { Bytes f; std::string e; Image c = img; c.pixels.back() ^= 1; kivtools::EncodePgd(img, c, {}, &f, &e); return TryPgd(f, 19, 10); }},
      {"PGD unpacked over 16 MiB",
       [&] { Bytes f; std::string e; kivtools::EncodePgd(img, img, {}, &f, &e); Set32(f, 48, (16u << 20) + 1); return TryPgd(f, 20, 10); }},
      {"PGD unpacked short of the rectangle",
       [&] { Bytes f; std::string e; Image c = img; c.pixels[5] ^= 1; c.pixels[25] ^= 1; kivtools::EncodePgd(img, c, {}, &f, &e);
             f.resize(56); Set32(f, 48, 0); return TryPgd(f, 20, 10); }},
      {"PGD name not terminated",
       [&] { Bytes f; std::string e; kivtools::EncodePgd(img, img, {}, &f, &e); std::memset(f.data() + 14, 'A', 34); return TryPgd(f, 20, 10); }},
      {"BMP data offset past the end", [&] { Bytes f = kivtools::EncodeBmp(img, 24); Set32(f, 10, 0xFFFFFFF0u); return DecodeBmpTga(f).ok; }},
      {"BMP height larger than the data", [&] { Bytes f = kivtools::EncodeBmp(img, 24); Set32(f, 22, 11); return DecodeBmpTga(f).ok; }},
      {"BMP width x height overflows",
       [&] { Bytes f = kivtools::EncodeBmp(img, 32); Set32(f, 18, 0x7FFFFFFF); Set32(f, 22, 0x7FFFFFFF); return DecodeBmpTga(f).ok; }},
      {"BMP most negative height", [&] { Bytes f = kivtools::EncodeBmp(img, 32); Set32(f, 22, 0x80000000u); return DecodeBmpTga(f).ok; }},
      {"BMP zero width", [&] { Bytes f = kivtools::EncodeBmp(img, 24); Set32(f, 18, 0); return DecodeBmpTga(f).ok; }},
      {"BMP colour index past the file",
       [&] { Image one{1, 1, {0xFF123456u}}; Bytes f = kivtools::EncodeBmp(one, 8); f[54 + 4] = 200; return DecodeBmpTga(f).ok; }},
      {"BMP head cut", [&] { Bytes f = kivtools::EncodeBmp(img, 24); f.resize(40); return DecodeBmpTga(f).ok; }},
      {"TGA larger than the data", [&] { Bytes f = kivtools::EncodeTga(img, 32); Set16(f, 12, 0xFFFF); return DecodeBmpTga(f).ok; }},
      {"TGA head cut", [&] { Bytes f = kivtools::EncodeTga(img, 32); f.resize(17); return DecodeBmpTga(f).ok; }},
      {"empty file as TGA", [&] { return DecodeBmpTga({}).ok; }},
  };
  for (const Case& c : cases) {
    DebugCapture cap;
    EXPECT_EQ(c.run(), 0) << c.what;
    EXPECT_FALSE(cap.text.empty()) << c.what << ": no reason given";
  }
}

TEST(Corrupt, TruncatedFilesFail) {
  const Image img = kivtools::MakeTestPicture(16, 12, 6);
  std::vector<Bytes> ges;
  for (int method : {0, 1, 2, 3}) {
    for (int bpp : {24, 32}) {
      kivtools::GeOptions o;
      o.method = method;
      o.bpp = bpp;
      o.lz.form = bpp == 24 ? kivtools::LzForm::kMixed : kivtools::LzForm::kBest;
      ges.push_back(kivtools::EncodeGe(img, o));
    }
  }
  for (const Bytes& f : ges) {
    ASSERT_EQ(TryGe(f), 1);
    for (size_t n = 0; n < f.size(); ++n) ASSERT_EQ(TryGe(Bytes(f.begin(), f.begin() + n)), 0) << n;
  }
  Image changed = img;
  for (int i = 20; i < 60; ++i) changed.pixels[i] ^= 0x00FF00FFu;
  for (int bpp : {24, 32}) {
    kivtools::PgdOptions o;
    o.bpp = bpp;
    Bytes f;
    std::string err;
    ASSERT_TRUE(kivtools::EncodePgd(img, changed, o, &f, &err));
    ASSERT_EQ(TryPgd(f, 16, 12), 1);
    for (size_t n = 0; n < f.size(); ++n) ASSERT_EQ(TryPgd(Bytes(f.begin(), f.begin() + n), 16, 12), 0) << n;
  }
  for (const Bytes& f : {kivtools::EncodeBmp(img, 24), kivtools::EncodeBmp(img, 32, true), kivtools::EncodeTga(img, 24),
                         kivtools::EncodeTga(img, 8)}) {
    ASSERT_EQ(DecodeBmpTga(f).ok, 1);
    for (size_t n = 0; n < f.size(); ++n) ASSERT_EQ(DecodeBmpTga(Bytes(f.begin(), f.begin() + n)).ok, 0) << n;
  }
}

// Flipped bytes anywhere: any result is fine as long as nothing is touched
// outside the buffers (the sanitizer build checks that).
TEST(Corrupt, FlippedBytesNeverEscapeTheBuffers) {
  const Image img = kivtools::MakeTestPicture(24, 16, 12);
  std::vector<Bytes> files;
  for (int method : {1, 2, 3}) {
    kivtools::GeOptions o;
    o.method = method;
    files.push_back(kivtools::EncodeGe(img, o));
  }
  Image changed = img;
  for (int i = 0; i < 100; ++i) changed.pixels[i * 3] ^= 0x01020304u;
  Bytes pgd;
  std::string err;
  ASSERT_TRUE(kivtools::EncodePgd(img, changed, {}, &pgd, &err));
  std::mt19937 rng(1234);
  for (int round = 0; round < 300; ++round) {
    for (const Bytes& base : files) {
      Bytes f = base;
      for (int k = 0; k < 3; ++k) f[rng() % f.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
      TryGe(f);
    }
    Bytes f = pgd;
    for (int k = 0; k < 3; ++k) f[rng() % f.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
    TryPgd(f, 24, 16);
    Bytes b = kivtools::EncodeBmp(img, round % 2 ? 24 : 32, round % 3 == 0);
    b[rng() % 54] ^= static_cast<uint8_t>(1 + rng() % 255);
    DecodeBmpTga(b);
  }
}

// ---------------------------------------------------------------- the tool

#ifdef GE_ENCODE_PATH
TEST(GeEncodeTool, WritesFilesTheDecodersRead) {
  char dirTemplate[] = "/tmp/ge_encode_XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::string dir = dirTemplate;
  const Image a = kivtools::MakeTestPicture(40, 30, 4);
  Image b = a;
  for (int y = 5; y < 9; ++y)
    for (int x = 10; x < 20; ++x) b.pixels[y * 40 + x] ^= 0x00112233u;
  std::string err;
  ASSERT_TRUE(kivtools::WritePngFile(dir + "/a.png", a, &err)) << err;
  ASSERT_TRUE(kivtools::WritePngFile(dir + "/b.png", b, &err)) << err;
  auto run = [&](const std::string& args) {
    return std::system((std::string(GE_ENCODE_PATH) + " " + args + " 2>/dev/null").c_str());
  };
  auto read = [&](const char* name) {
    Bytes f;
    EXPECT_TRUE(kivtools::ReadFileBytes(dir + "/" + name, &f)) << name;
    return f;
  };
  ASSERT_EQ(run("ge --method 3 --lz mixed --pos 3 -4 " + dir + "/a.png " + dir + "/a.ge"), 0);
  const Bytes ge = read("a.ge");
  KivGeHeader h;
  ASSERT_EQ(KivGeReadHeader(ge, &h), 1);
  EXPECT_EQ(h.method, 3);
  EXPECT_EQ(h.x, 3);
  EXPECT_EQ(h.y, -4);
  int ok;
  EXPECT_EQ(DecodeGe(ge, 40, 30, 40, &ok), a.pixels);
  ASSERT_EQ(run("pgd --bpp 32 --name A.GE " + dir + "/a.png " + dir + "/b.png " + dir + "/b.pgd"), 0);
  const PgdResult r = ApplyPgd(read("b.pgd"), a.pixels, 40, 30, 40);
  EXPECT_EQ(r.ok, 1);
  EXPECT_EQ(r.pixels, b.pixels);
  ASSERT_EQ(run("bmp --bpp 32 --top-down " + dir + "/a.png " + dir + "/a.bmp"), 0);
  EXPECT_EQ(DecodeBmpTga(read("a.bmp")).pixels, a.pixels);
  EXPECT_NE(run("ge --method 9 " + dir + "/a.png " + dir + "/x.ge"), 0);
  EXPECT_NE(run("pgd " + dir + "/a.png " + dir + "/b.png " + dir + "/x.pgd"), 0);  // no base name
  std::system(("rm -rf " + dir).c_str());
}
#endif

}  // namespace
