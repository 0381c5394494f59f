// Writes seed files for the fuzz targets, made by our own image writer:
//   fuzz_seeds <folder>   ->  <folder>/{lz,ge,pgd,bmp_tga}/seed_NN
#include <sys/stat.h>

#include <cstdio>
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
  for (const char* sub : {"", "/lz", "/ge", "/pgd", "/bmp_tga"}) mkdir((root + sub).c_str(), 0755);
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
  return 0;
}
