// Writes seed files for the fuzz targets, made by our own image writer:
//   fuzz_seeds <folder>   ->  <folder>/{lz,ge,pgd,bmp_tga}/seed_NN
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Save(const std::string& dir, int& n, const Bytes& data) {
  char name[32];
  std::snprintf(name, sizeof name, "/seed_%02d", n++);
  kivtools::WriteFileBytes(dir + name, data);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds <folder>\n");
    return 2;
  }
  const std::string root = argv[1];
  for (const char* sub : {"", "/lz", "/ge", "/pgd", "/bmp_tga", "/text"}) mkdir((root + sub).c_str(), 0755);
  using kivtools::LzForm;
  const LzForm forms[] = {LzForm::kBest, LzForm::kLiteralsOnly, LzForm::kShortRefs, LzForm::kLongRefs,
                          LzForm::kEmptyLiterals, LzForm::kMixed};
  const kivtools::Image small = kivtools::MakeTestPicture(12, 9, 1);
  const kivtools::Image tiny = kivtools::MakeTestPicture(5, 3, 2);

  int n = 0;
  for (LzForm f : forms) {
    const Bytes planes = kivtools::GePlanes(tiny);
    Bytes seed = {static_cast<uint8_t>(planes.size() / 16), 0, static_cast<uint8_t>(planes.size() % 16)};
    const Bytes packed = kivtools::LzPack(planes, {f});
    seed.insert(seed.end(), packed.begin(), packed.end());
    Save(root + "/lz", n, seed);
  }
  n = 0;
  for (const kivtools::Image* img : {&small, &tiny})
    for (int method : {0, 1, 2, 3})
      for (int bpp : {24, 32}) {
        kivtools::GeOptions o;
        o.method = method;
        o.bpp = bpp;
        o.lz.form = forms[n % 6];
        Save(root + "/ge", n, kivtools::EncodeGe(*img, o));
      }
  n = 0;
  kivtools::Image changed = small;
  for (int i = 10; i < 50; ++i) changed.pixels[i] ^= 0x00102030u;
  for (int bpp : {24, 32})
    for (int flag : {0, 1, 2, 4}) {
      kivtools::PgdOptions o;
      o.bpp = bpp;
      o.forcedFlag = flag;
      o.baseName = "BASE.GE";
      Bytes f;
      std::string err;
      if (kivtools::EncodePgd(small, changed, o, &f, &err)) Save(root + "/pgd", n, f);
    }
  n = 0;
  for (int bpp : {8, 24, 32}) {
    kivtools::Image grey = tiny;
    if (bpp == 8)
      for (auto& p : grey.pixels) p = 0xFF000000u | (p & 0x3) * 0x404040u;
    Save(root + "/bmp_tga", n, kivtools::EncodeBmp(grey, bpp, false));
    Save(root + "/bmp_tga", n, kivtools::EncodeBmp(grey, bpp, true));
    Save(root + "/bmp_tga", n, kivtools::EncodeTga(tiny, bpp));
  }
  // Text: tagged Shift-JIS for the layout and the engine's walk, a small
  // glyph file and an ExFont atlas.
  {
    int n = 0;
    const std::string dir = root + "/text";
    const char* texts[] = {
        "\x82\xA0<br>\x82\xA2<center>A<s32>B</s><reset><r\x82\xA9\x82\xC8>\x89\xBC</r><c#ff0000#00ff00>C</c>%1 /n&m,5]",
        "\x82\xA0\x82\xA2\x82\xA4\x82\xA6\x81\x42\x81\x40\x82\xA8 <s12>small",
    };
    for (const char* t : texts)
      for (uint8_t mode : {0, 1}) {
        Bytes b{mode};
        b.insert(b.end(), t, t + std::strlen(t));
        Save(dir, n, b);
      }
    // A glyph file: 70 offsets to one 5 x 3 record, then the 56-byte trailer.
    Bytes g{2};
    auto u32 = [&](uint32_t v) {
      for (int i = 0; i < 4; ++i) g.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    for (int i = 0; i < 70; ++i) u32(280);
    u32(5), u32(3), u32(1), u32(3), u32(8), u32(24), g.resize(g.size() + 24, 64);
    for (uint32_t v : {20u, 16u, 4u, 0u, 0u, 10u, 20u, 400u, 0u, 96u, 96u}) u32(v);
    g.resize(g.size() + 12, 0);
    Save(dir, n, g);
    // An atlas of two 4 x 4 cells.
    Bytes a{3};
    a.resize(1 + 18, 0);
    a[1 + 2] = 3, a[1 + 12] = 8, a[1 + 14] = 4, a[1 + 16] = 8;
    for (int i = 0; i < 32; ++i) a.push_back(static_cast<uint8_t>(i * 8));
    a.resize(a.size() + 26, 0);
    Save(dir, n, a);
  }
  return 0;
}
