// Pictures as a game maker brings them: BMP and TGA files written at test
// time by ImageMagick's convert and by ffmpeg (where installed) and by our
// own encoder, each decoded by the reader both renderers and the masks
// share and compared byte for byte with ImageMagick's own decode of the
// same file to raw RGBA; or refused with its message. Size bombs are
// refused before anything is allocated.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/image_decode.h"
#include "image_encoder.h"
#include "kiv.h"
#include "platform/core/error.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kW = 37, kH = 23;  // odd sizes: row padding shows

bool Have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}
bool Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

Bytes ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}
bool WriteAll(const std::string& path, const Bytes& b) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return f.good();
}

// A picture with every kind of change: gradients, a hard edge, and an
// alpha ramp with fully clear and fully opaque parts.
Bytes SourceRgba() {
  Bytes s;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      s.push_back(static_cast<uint8_t>(x * 255 / (kW - 1)));
      s.push_back(static_cast<uint8_t>(y * 255 / (kH - 1)));
      s.push_back(static_cast<uint8_t>(x < kW / 2 ? 40 : 220));
      s.push_back(static_cast<uint8_t>(std::min(255, std::max(0, (x - 4) * 9))));
    }
  return s;
}

struct Case {
  Case(std::string n, std::string t, std::string m, std::string r = "")
      : name(std::move(n)), tool(std::move(t)), make(std::move(m)), refusal(std::move(r)) {}
  std::string name, tool, make;  // make: shell command, %s = output, %i = source raw RGBA
  std::string refusal;           // non-empty: refused with exactly this debugger line
};

std::string Expand(std::string cmd, const std::string& out, const std::string& in) {
  for (size_t at; (at = cmd.find("%s")) != std::string::npos;) cmd.replace(at, 2, out);
  for (size_t at; (at = cmd.find("%i")) != std::string::npos;) cmd.replace(at, 2, in);
  return cmd;
}

std::vector<Case> Cases() {
  const std::string im = "convert -size 37x23 -depth 8 rgba:%i ";
  const std::string ff = "ffmpeg -loglevel error -y -f rawvideo -pix_fmt rgba -s 37x23 -i %i ";
  return {
      {"im24.bmp", "convert", im + "-alpha off BMP3:%s"},
      {"im32.bmp", "convert", im + "%s"},  // v5 head, bit fields with alpha
      {"im8.bmp", "convert", im + "-alpha off -colors 200 -type Palette %s"},  // 124-byte head, table after it
      {"im8v3.bmp", "convert", im + "-alpha off -colors 200 -type Palette BMP3:%s"},
      {"imrle8.bmp", "convert", im + "-alpha off -colors 200 -type Palette -compress RLE BMP3:%s"},
      {"im4.bmp", "convert", im + "-alpha off -colors 12 -type Palette BMP3:%s"},
      {"im1.bmp", "convert", im + "-alpha off -monochrome BMP3:%s"},
      {"im565.bmp", "convert", im + "-alpha off -define bmp:subtype=RGB565 %s"},
      {"im24.tga", "convert", im + "-alpha off %s"},
      {"im32.tga", "convert", im + "%s"},
      {"imrle.tga", "convert", im + "-compress RLE %s"},
      {"imgrey.tga", "convert", im + "-alpha off -colorspace Gray -type Grayscale %s"},
      {"ff32.tga", "ffmpeg", ff + "-pix_fmt bgra %s"},  // RLE, top-left origin
      {"ff24.tga", "ffmpeg", ff + "-pix_fmt bgr24 %s"},
      {"ff24raw.tga", "ffmpeg", ff + "-pix_fmt bgr24 -rle 0 %s"},
      {"ff16.tga", "ffmpeg", ff + "-pix_fmt rgb555le %s"},
      {"ffgrey.tga", "ffmpeg", ff + "-pix_fmt gray %s"},
      {"ff24.bmp", "ffmpeg", ff + "-pix_fmt bgr24 %s"},
      {"ff8.bmp", "ffmpeg", ff + "-pix_fmt pal8 %s"},
      {"ff565.bmp", "ffmpeg", ff + "-pix_fmt rgb565le %s"},
      {"ff555.bmp", "ffmpeg", ff + "-pix_fmt rgb555le %s"},
      {"ffmono.bmp", "ffmpeg", ff + "-pix_fmt monob %s"},
      {"ffpal.tga", "ffmpeg", ff + "-pix_fmt pal8 %s", "err : match / tga index color"},
      // Ours, with a 9-byte image ID and rows from the top.
      {"ours_id.tga", "", "id"},
      {"ours_jpeg.bmp", "", "jpeg", "err : bmp compression 4 not supported"},
  };
}

// Our encoder's files for the rows without a tool.
Bytes OursFor(const std::string& kind, const Bytes& rgba) {
  kivtools::Image img;
  img.width = kW;
  img.height = kH;
  for (size_t i = 0; i < rgba.size(); i += 4)
    img.pixels.push_back(uint32_t(rgba[i + 3]) << 24 | uint32_t(rgba[i]) << 16 | uint32_t(rgba[i + 1]) << 8 | rgba[i + 2]);
  if (kind == "id") {
    Bytes f = kivtools::EncodeTga(img, 32, 0x28);
    const Bytes id = {'K', 'I', 'V', '-', 'T', 'E', 'S', 'T', 0};
    f[0] = static_cast<uint8_t>(id.size());
    f.insert(f.begin() + 18, id.begin(), id.end());
    return f;
  }
  Bytes f = kivtools::EncodeBmp(img, 24);
  f[30] = 4;  // BI_JPEG
  return f;
}

TEST(ImageFormats, EveryFileDecodesAsImageMagickReadsItOrIsRefused) {
  if (!Have("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
  char tmpl[] = "/tmp/kiv_imgfmt_XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string src = dir + "/src.rgba";
  ASSERT_TRUE(WriteAll(src, SourceRgba()));
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + "/" + c.name;
    if (c.tool.empty()) {
      ASSERT_TRUE(WriteAll(path, OursFor(c.make, SourceRgba())));
    } else if (!Have(c.tool.c_str())) {
      std::printf("[ skipped ] %s: %s is not installed\n", c.name.c_str(), c.tool.c_str());
      continue;
    } else {
      ASSERT_TRUE(Shell(Expand(c.make, path, src))) << Expand(c.make, path, src);
    }
    const Bytes file = ReadAll(path);
    ASSERT_FALSE(file.empty());
    std::string said;
    plat::SetDebugOutputSink([&said](std::string_view s) { said.append(s); });
    KivPixelBuffer* b = KivPixelBufferCreate();
    const int ok = KivBmpTgaDecode(file, b);
    plat::SetDebugOutputSink(nullptr);
    if (!c.refusal.empty()) {
      EXPECT_EQ(ok, 0);
      EXPECT_EQ(said, c.refusal);
      continue;
    }
    EXPECT_EQ(ok, 1) << said;
    if (!ok) continue;
    // The size the GPU loader reads agrees with the decode.
    int w = 0, h = 0;
    EXPECT_TRUE(KivBmpTgaSize(file, &w, &h));
    EXPECT_EQ(w, b->width);
    EXPECT_EQ(h, b->height);
    Bytes ours;
    for (int i = 0; i < b->width * b->height; ++i) {
      const uint32_t p = b->pixels[i];
      ours.insert(ours.end(), {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p),
                               static_cast<uint8_t>(p >> 24)});
    }
    KivPixelBufferFree(b);
    // The reference decode: ImageMagick's, except for TGA files (this
    // ImageMagick writes and reads TGA rows top first whatever the origin
    // bit says) and 16-bit pixels (it widens 5 bits by a plain shift, so
    // white is 248): for those, ffmpeg's.
    const std::string ref = path + ".rgba";
    const bool byFfmpeg = c.name.find(".tga") != std::string::npos || c.name.find("565") != std::string::npos ||
                          c.name.find("555") != std::string::npos;
    if (byFfmpeg && !Have("ffmpeg")) continue;
    ASSERT_TRUE(Shell(byFfmpeg ? "ffmpeg -loglevel error -y -i " + path + " -f rawvideo -pix_fmt rgba " + ref
                               : "convert " + path + " -depth 8 RGBA:" + ref));
    const Bytes expect = ReadAll(ref);
    EXPECT_EQ(ours.size(), expect.size()) << w << "x" << h;
    if (ours.size() != expect.size()) continue;
    size_t diff = 0, first = 0;
    for (size_t i = 0; i < ours.size(); ++i)
      if (ours[i] != expect[i] && diff++ == 0) first = i;
    EXPECT_EQ(diff, 0u) << "first at pixel " << first / 4 << " byte " << first % 4 << ": ours "
                        << int(ours[first]) << ", ImageMagick " << int(expect[first]);
  }
  Shell("rm -rf " + dir);
}

// A few lying bytes must not make a huge picture: every decoder refuses a
// size past the limit, or one its data cannot fill, before allocating.
TEST(ImageFormats, SizeBombsAreRefusedBeforeAllocating) {
  // The 52-byte GE file that says 16384 x 16384 (line method, tiny block).
  Bytes ge(52, 0);
  ge[0] = 'G', ge[1] = 'E', ge[2] = 32;
  auto put32 = [&ge](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) ge[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(12, 16384);
  put32(16, 16384);
  ge[28] = 3;
  put32(32, 12);
  struct Bomb {
    const char* what;
    Bytes file;
    bool ge;
  };
  Bytes tga(18 + 6, 0);
  tga[2] = 10;  // RLE true colour, 65535 x 65535 from six bytes
  tga[12] = tga[13] = tga[14] = tga[15] = 0xFF;
  tga[16] = 24;
  Bytes tgaFits = tga;  // within the limit, but six bytes cannot fill it
  tgaFits[13] = tgaFits[15] = 0x0F;
  Bytes bmp = {'B', 'M'};
  bmp.resize(14 + 40 + 16, 0);
  bmp[10] = 54;
  bmp[14] = 40;
  bmp[18] = 0x00, bmp[19] = 0x10;  // 4096 x 4096 RLE8 from 16 bytes
  bmp[22] = 0x00, bmp[23] = 0x10;
  bmp[28] = 8;
  bmp[30] = 1;
  const Bomb bombs[] = {{"GE 16384 x 16384 in 52 bytes", ge, true},
                        {"RLE TGA 65535 x 65535", tga, false},
                        {"RLE TGA 3855 x 3855 from six bytes", tgaFits, false},
                        {"RLE8 BMP 4096 x 4096 from 16 bytes", bmp, false}};
  for (const Bomb& bomb : bombs) {
    std::string said;
    plat::SetDebugOutputSink([&said](std::string_view s) { said.append(s); });
    if (bomb.ge) {
      KivGeHeader h;
      EXPECT_EQ(KivGeReadHeader(bomb.file, &h), 0) << bomb.what;
    } else {
      KivPixelBuffer* b = KivPixelBufferCreate();
      EXPECT_EQ(KivBmpTgaDecode(bomb.file, b), 0) << bomb.what;
    }
    plat::SetDebugOutputSink(nullptr);
    EXPECT_FALSE(said.empty()) << bomb.what << ": no reason given";
  }
}

}  // namespace
