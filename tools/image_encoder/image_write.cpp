// GE, difference-image, BMP and TGA writers. Every field is written byte by
// byte, little-endian.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "image_encoder.h"

namespace kivtools {
namespace {

void Put16(std::vector<uint8_t>& o, uint32_t v) {
  o.push_back(static_cast<uint8_t>(v));
  o.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& o, uint32_t v) {
  Put16(o, v & 0xFFFF);
  Put16(o, v >> 16);
}

uint8_t Channel(uint32_t p, int c) { return static_cast<uint8_t>(p >> (8 * c)); }

// The first `channels` bytes of every pixel, packed.
std::vector<uint8_t> Pack(const std::vector<uint32_t>& px, int channels) {
  std::vector<uint8_t> out;
  out.reserve(px.size() * channels);
  for (uint32_t p : px)
    for (int c = 0; c < channels; ++c) out.push_back(Channel(p, c));
  return out;
}

int ByteCost(uint8_t d) { return d < 128 ? d : 256 - d; }

}  // namespace

std::vector<uint8_t> LinePredict(std::span<const uint8_t> packed, int width, int height, int channels,
                                 int forcedFlag) {
  const size_t row = static_cast<size_t>(width) * channels;
  std::vector<uint8_t> flags(static_cast<size_t>(height));
  std::vector<uint8_t> deltas;
  deltas.reserve(row * height);
  std::vector<uint8_t> cand[3];
  const std::vector<uint8_t> zeroRow(row, 0);
  for (int y = 0; y < height; ++y) {
    const uint8_t* cur = packed.data() + row * y;
    // Row 0 has nothing above; the decoder then reads zero bytes.
    const uint8_t* up = y ? cur - row : zeroRow.data();
    for (auto& c : cand) c.assign(row, 0);
    for (size_t i = 0; i < row; ++i) {
      const bool first = i < static_cast<size_t>(channels);
      const unsigned left = first ? 0 : cur[i - channels];
      cand[0][i] = first ? cur[i] : static_cast<uint8_t>(left - cur[i]);
      cand[1][i] = static_cast<uint8_t>(up[i] - cur[i]);
      cand[2][i] = first ? cur[i] : static_cast<uint8_t>(((up[i] + left) >> 1) - cur[i]);
    }
    int pick = 0;
    if (forcedFlag) {
      pick = (forcedFlag & 1) ? 0 : (forcedFlag & 2) ? 1 : 2;
    } else if (y) {
      long best = -1;
      for (int k = 0; k < 3; ++k) {
        long cost = 0;
        for (uint8_t d : cand[k]) cost += ByteCost(d);
        if (best < 0 || cost < best) {
          best = cost;
          pick = k;
        }
      }
    }
    static constexpr uint8_t kFlag[3] = {1, 2, 4};
    flags[y] = forcedFlag ? static_cast<uint8_t>(forcedFlag) : kFlag[pick];
    deltas.insert(deltas.end(), cand[pick].begin(), cand[pick].end());
  }
  flags.insert(flags.end(), deltas.begin(), deltas.end());
  return flags;
}

std::vector<uint8_t> GePlanes(const Image& image) {
  const size_t n = image.pixels.size();
  std::vector<uint8_t> out(n * 4);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t p = image.pixels[i];
    out[i] = Channel(p, 3);
    out[n + i] = Channel(p, 2);
    out[2 * n + i] = Channel(p, 1);
    out[3 * n + i] = Channel(p, 0);
  }
  return out;
}

namespace {

int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// What the decoder makes of (y, cb, cr), per channel.
void YccDecode(int y, int cb, int cr, int rgb[3]) {
  rgb[0] = Clamp((y * 128 + 179 * cr) >> 7, 0, 255);
  rgb[1] = Clamp((y * 128 - 43 * cb - 89 * cr) >> 7, 0, 255);
  rgb[2] = Clamp((y * 128 + 226 * cb) >> 7, 0, 255);
}

// The Y value whose decoded colour is nearest (squared error) to rgb.
int BestLuma(const int rgb[3], int cb, int cr) {
  const double est = 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2];
  const int centre = Clamp(static_cast<int>(std::lround(est)), 0, 255);
  int best = centre;
  long bestErr = -1;
  for (int y = std::max(0, centre - 8); y <= std::min(255, centre + 8); ++y) {
    int got[3];
    YccDecode(y, cb, cr, got);
    long err = 0;
    for (int c = 0; c < 3; ++c) err += static_cast<long>(got[c] - rgb[c]) * (got[c] - rgb[c]);
    if (bestErr < 0 || err < bestErr) {
      bestErr = err;
      best = y;
    }
  }
  return best;
}

void Rgb(uint32_t p, int rgb[3]) {
  rgb[0] = Channel(p, 2);
  rgb[1] = Channel(p, 1);
  rgb[2] = Channel(p, 0);
}

}  // namespace

std::vector<uint8_t> GeYCbCrPlanes(const Image& image) {
  const int w = image.width, h = image.height;
  const size_t q = static_cast<size_t>(w) * h / 4;
  std::vector<uint8_t> out(2 * q + static_cast<size_t>(w) * h, 0);
  uint8_t* cbs = out.data();
  uint8_t* crs = cbs + q;
  uint8_t* ys = crs + q;
  auto px = [&](int x, int y) { return image.pixels[static_cast<size_t>(y) * w + x]; };
  // Every Y gets a value; those of an odd last row or column are unused.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int rgb[3];
      Rgb(px(x, y), rgb);
      ys[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(BestLuma(rgb, 0, 0));
    }
  const int bw = w / 2, bh = h / 2;
  for (int by = 0; by < bh; ++by)
    for (int bx = 0; bx < bw; ++bx) {
      double r = 0, g = 0, b = 0;
      int rgb[4][3];
      for (int k = 0; k < 4; ++k) {
        Rgb(px(bx * 2 + (k & 1), by * 2 + (k >> 1)), rgb[k]);
        r += rgb[k][0];
        g += rgb[k][1];
        b += rgb[k][2];
      }
      r /= 4, g /= 4, b /= 4;
      const double luma = 0.299 * r + 0.587 * g + 0.114 * b;
      const int cb = Clamp(static_cast<int>(std::lround((b - luma) * 128.0 / 226.0)), -128, 127);
      const int cr = Clamp(static_cast<int>(std::lround((r - luma) * 128.0 / 179.0)), -128, 127);
      const size_t c = static_cast<size_t>(by) * bw + bx;
      cbs[c] = static_cast<uint8_t>(static_cast<int8_t>(cb));
      crs[c] = static_cast<uint8_t>(static_cast<int8_t>(cr));
      for (int k = 0; k < 4; ++k)
        ys[static_cast<size_t>(by * 2 + (k >> 1)) * w + bx * 2 + (k & 1)] =
            static_cast<uint8_t>(BestLuma(rgb[k], cb, cr));
    }
  return out;
}

std::vector<uint8_t> GeLineBlock(const Image& image, int bpp, int forcedFlag) {
  std::vector<uint8_t> out;
  Put16(out, 0);
  Put16(out, static_cast<uint32_t>(bpp == 24 ? 24 : 32));
  Put16(out, static_cast<uint32_t>(image.width));
  Put16(out, static_cast<uint32_t>(image.height));
  const std::vector<uint8_t> packed = Pack(image.pixels, bpp == 24 ? 3 : 4);
  const std::vector<uint8_t> lines =
      LinePredict(packed, image.width, image.height, bpp == 24 ? 3 : 4, forcedFlag);
  out.insert(out.end(), lines.begin(), lines.end());
  return out;
}

std::vector<uint8_t> EncodeGe(const Image& image, const GeOptions& o) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<size_t>(image.width) * image.height)
    return {};
  if (o.method == 3 && (image.width > 0xFFFF || image.height > 0xFFFF)) return {};
  const int headSize = std::max(o.headSize, 30);
  std::vector<uint8_t> out;
  out.push_back('G');
  out.push_back('E');
  Put16(out, static_cast<uint32_t>(headSize));
  Put32(out, static_cast<uint32_t>(o.x));
  Put32(out, static_cast<uint32_t>(o.y));
  Put32(out, static_cast<uint32_t>(image.width));
  Put32(out, static_cast<uint32_t>(image.height));
  Put32(out, static_cast<uint32_t>(o.cellWidth ? o.cellWidth : image.width));
  Put32(out, static_cast<uint32_t>(o.cellHeight ? o.cellHeight : image.height));
  Put16(out, static_cast<uint32_t>(o.method));
  out.resize(static_cast<size_t>(headSize), 0);

  if (o.method < 1 || o.method > 3) {
    Put32(out, static_cast<uint32_t>(image.pixels.size() * 4));
    Put32(out, 0);
    for (uint32_t p : image.pixels) Put32(out, p);
    return out;
  }
  std::vector<uint8_t> unpacked = o.method == 1   ? GePlanes(image)
                                  : o.method == 2 ? GeYCbCrPlanes(image)
                                                  : GeLineBlock(image, o.bpp, o.forcedFlag);
  const std::vector<uint8_t> packed = LzPack(unpacked, o.lz);
  Put32(out, static_cast<uint32_t>(unpacked.size()));
  Put32(out, static_cast<uint32_t>(packed.size()));  // not read by the engine
  out.insert(out.end(), packed.begin(), packed.end());
  return out;
}

bool EncodePgdRect(const Image& base, const Image& changed, int x, int y, int w, int h,
                   const PgdOptions& o, std::vector<uint8_t>* out, std::string* error) {
  auto fail = [error](const char* why) {
    if (error) *error = why;
    return false;
  };
  if (base.width != changed.width || base.height != changed.height ||
      base.pixels.size() != changed.pixels.size())
    return fail("the base and the changed picture differ in size");
  if (x < 0 || y < 0 || w < 0 || h < 0 || x + w > base.width || y + h > base.height)
    return fail("the rectangle is outside the picture");
  if (x > 0xFFFF || y > 0xFFFF || w > 0xFFFF || h > 0xFFFF) return fail("the picture is larger than 65535");
  if (o.baseName.size() > 33) return fail("the base image name is longer than 33 bytes");
  const bool bits24 = o.bpp == 24;
  const int channels = bits24 ? 3 : 4;
  std::vector<uint8_t> xored;
  xored.reserve(static_cast<size_t>(w) * h * channels);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const size_t i = static_cast<size_t>(y + r) * base.width + x + c;
      const uint32_t d = base.pixels[i] ^ changed.pixels[i];
      if (bits24 && (d >> 24)) return fail("an alpha value changed; write 32 bits per pixel");
      for (int k = 0; k < channels; ++k) xored.push_back(Channel(d, k));
    }
  const std::vector<uint8_t> unpacked = LinePredict(xored, w, h, channels, o.forcedFlag);
  const std::vector<uint8_t> packed = LzPack(unpacked, o.lz);
  std::vector<uint8_t>& f = *out;
  f.clear();
  const char magic[5] = {'P', 'G', 'D', o.version == 2 ? '2' : '3', 0};
  f.insert(f.end(), magic, magic + 4);
  Put16(f, static_cast<uint32_t>(x));
  Put16(f, static_cast<uint32_t>(y));
  Put16(f, static_cast<uint32_t>(w));
  Put16(f, static_cast<uint32_t>(h));
  Put16(f, bits24 ? 24 : 32);
  uint8_t name[34] = {};
  std::memcpy(name, o.baseName.data(), o.baseName.size());
  f.insert(f.end(), name, name + 34);
  Put32(f, static_cast<uint32_t>(unpacked.size()));
  Put32(f, static_cast<uint32_t>(packed.size()));  // not read by the engine
  f.insert(f.end(), packed.begin(), packed.end());
  return true;
}

bool EncodePgd(const Image& base, const Image& changed, const PgdOptions& o, std::vector<uint8_t>* out,
               std::string* error) {
  if (base.width != changed.width || base.height != changed.height ||
      base.pixels.size() != changed.pixels.size()) {
    if (error) *error = "the base and the changed picture differ in size";
    return false;
  }
  // At 24 bits a changed alpha is kept in the box so that the writer refuses it.
  int x0 = base.width, y0 = base.height, x1 = -1, y1 = -1;
  for (int y = 0; y < base.height; ++y)
    for (int x = 0; x < base.width; ++x) {
      const size_t i = static_cast<size_t>(y) * base.width + x;
      if (base.pixels[i] == changed.pixels[i]) continue;
      x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    }
  if (x1 < 0) return EncodePgdRect(base, changed, 0, 0, base.width ? 1 : 0, base.height ? 1 : 0, o, out, error);
  return EncodePgdRect(base, changed, x0, y0, x1 - x0 + 1, y1 - y0 + 1, o, out, error);
}

std::vector<uint8_t> EncodeBmp(const Image& image, int bpp, bool topDown) {
  const int w = image.width, h = image.height;
  if (w <= 0 || h <= 0 || (bpp != 8 && bpp != 24 && bpp != 32)) return {};
  std::map<uint32_t, int> index;
  std::vector<uint32_t> table;
  if (bpp == 8) {
    for (uint32_t p : image.pixels) {
      const uint32_t rgb = p & 0xFFFFFF;
      if (index.emplace(rgb, static_cast<int>(table.size())).second) table.push_back(rgb);
      if (table.size() > 256) return {};
    }
  }
  const size_t rowBytes = static_cast<size_t>(w) * (bpp / 8);
  const size_t stride = (rowBytes + 3) & ~size_t{3};
  const uint32_t dataOffset = static_cast<uint32_t>(54 + table.size() * 4);
  const uint32_t imageBytes = static_cast<uint32_t>(stride * h);
  std::vector<uint8_t> f;
  f.push_back('B');
  f.push_back('M');
  Put32(f, dataOffset + imageBytes);
  Put32(f, 0);
  Put32(f, dataOffset);
  Put32(f, 40);
  Put32(f, static_cast<uint32_t>(w));
  Put32(f, static_cast<uint32_t>(topDown ? -h : h));
  Put16(f, 1);
  Put16(f, static_cast<uint32_t>(bpp));
  Put32(f, 0);  // uncompressed
  Put32(f, imageBytes);
  Put32(f, 2835);
  Put32(f, 2835);
  Put32(f, static_cast<uint32_t>(table.size()));
  Put32(f, 0);
  for (uint32_t c : table) Put32(f, c);
  for (int r = 0; r < h; ++r) {
    const int y = topDown ? r : h - 1 - r;
    const size_t start = f.size();
    for (int x = 0; x < w; ++x) {
      const uint32_t p = image.pixels[static_cast<size_t>(y) * w + x];
      if (bpp == 8) {
        f.push_back(static_cast<uint8_t>(index[p & 0xFFFFFF]));
      } else {
        for (int c = 0; c < bpp / 8; ++c) f.push_back(Channel(p, c));
      }
    }
    f.resize(start + stride, 0);
  }
  return f;
}

std::vector<uint8_t> EncodeTga(const Image& image, int bpp, uint8_t descriptor) {
  const int w = image.width, h = image.height;
  if (w <= 0 || h <= 0 || w > 0xFFFF || h > 0xFFFF || (bpp != 8 && bpp != 24 && bpp != 32)) return {};
  std::vector<uint8_t> f(18, 0);
  f[2] = bpp == 8 ? 3 : 2;  // uncompressed grey / true colour
  f[12] = static_cast<uint8_t>(w);
  f[13] = static_cast<uint8_t>(w >> 8);
  f[14] = static_cast<uint8_t>(h);
  f[15] = static_cast<uint8_t>(h >> 8);
  f[16] = static_cast<uint8_t>(bpp);
  f[17] = descriptor;
  // Rows from the bottom, or from the top when the descriptor says so.
  const bool topFirst = (descriptor & 0x20) != 0;
  for (int r = 0; r < h; ++r) {
    const int y = topFirst ? r : h - 1 - r;
    for (int x = 0; x < w; ++x) {
      const uint32_t p = image.pixels[static_cast<size_t>(y) * w + x];
      if (bpp == 8) f.push_back(Channel(p, 0));
      else
        for (int c = 0; c < bpp / 8; ++c) f.push_back(Channel(p, c));
    }
  }
  return f;
}

}  // namespace kivtools
