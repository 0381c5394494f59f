// ge_encode: turns PNG pictures into the engine's image files.
//
//   ge_encode ge  [options] in.png out.ge
//       --method 1|2|3|raw   planar (default), YCbCr, line prediction, raw pixels
//       --bpp 24|32          bits per pixel of method 3 (default 32)
//       --pos X Y            default sprite position
//       --cell W H           cell size of a cell sheet
//   ge_encode pgd [options] --name BASE base.png changed.png out.pgd
//       --bpp 24|32          24 keeps the base alpha (default 32)
//       --version 2|3        magic PGD2 or PGD3 (default 3)
//       The difference is taken against base.png as given, so the base
//       image file must reproduce it exactly (GE methods 1, 3 or raw).
//   ge_encode bmp [--bpp 8|24|32] [--top-down] in.png out.bmp
//   ge_encode tga [--bpp 8|24|32] in.png out.tga
//
// ge and pgd also take --lz best|literals|short|long|empty|mixed, which
// limits the LZ packer to some token forms (for making test files).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image_encoder.h"

namespace {

using kivtools::Image;

int Usage() {
  std::fprintf(stderr,
               "usage: ge_encode ge  [--method 1|2|3|raw] [--bpp 24|32] [--pos X Y] [--cell W H] [--lz FORM] in.png out.ge\n"
               "       ge_encode pgd [--bpp 24|32] [--version 2|3] [--lz FORM] --name BASE base.png changed.png out.pgd\n"
               "       ge_encode bmp [--bpp 8|24|32] [--top-down] in.png out.bmp\n"
               "       ge_encode tga [--bpp 8|24|32] in.png out.tga\n"
               "FORM: best literals short long empty mixed\n");
  return 2;
}

bool ParseInt(const char* s, int* out) {
  char* end = nullptr;
  const long v = std::strtol(s, &end, 10);
  if (!end || *end || end == s) return false;
  *out = static_cast<int>(v);
  return true;
}

bool ParseLz(const std::string& s, kivtools::LzForm* out) {
  using kivtools::LzForm;
  if (s == "best") *out = LzForm::kBest;
  else if (s == "literals") *out = LzForm::kLiteralsOnly;
  else if (s == "short") *out = LzForm::kShortRefs;
  else if (s == "long") *out = LzForm::kLongRefs;
  else if (s == "empty") *out = LzForm::kEmptyLiterals;
  else if (s == "mixed") *out = LzForm::kMixed;
  else return false;
  return true;
}

int Error(const std::string& what) {
  std::fprintf(stderr, "ge_encode: %s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string mode = argv[1];
  kivtools::GeOptions ge;
  kivtools::PgdOptions pgd;
  int bpp = -1;
  bool topDown = false;
  std::vector<std::string> files;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&](int* v) { return i + 1 < argc && ParseInt(argv[++i], v); };
    if (a == "--method") {
      if (i + 1 >= argc) return Usage();
      const std::string m = argv[++i];
      if (m == "raw") ge.method = 0;
      else if (!ParseInt(m.c_str(), &ge.method) || ge.method < 1 || ge.method > 3) return Usage();
    } else if (a == "--bpp") {
      if (!next(&bpp)) return Usage();
    } else if (a == "--pos") {
      if (!next(&ge.x) || !next(&ge.y)) return Usage();
    } else if (a == "--cell") {
      if (!next(&ge.cellWidth) || !next(&ge.cellHeight)) return Usage();
    } else if (a == "--version") {
      if (!next(&pgd.version) || (pgd.version != 2 && pgd.version != 3)) return Usage();
    } else if (a == "--name") {
      if (i + 1 >= argc) return Usage();
      pgd.baseName = argv[++i];
    } else if (a == "--lz") {
      if (i + 1 >= argc || !ParseLz(argv[++i], &ge.lz.form)) return Usage();
      pgd.lz = ge.lz;
    } else if (a == "--top-down") {
      topDown = true;
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else {
      files.push_back(a);
    }
  }

  std::string err;
  std::vector<uint8_t> out;
  Image in;
  if (mode == "pgd") {
    if (files.size() != 3 || pgd.baseName.empty()) return Usage();
    Image changed;
    if (!kivtools::ReadPngFile(files[0], &in, &err) || !kivtools::ReadPngFile(files[1], &changed, &err))
      return Error(err);
    if (bpp != -1) pgd.bpp = bpp;
    if (pgd.bpp != 24 && pgd.bpp != 32) return Usage();
    if (!kivtools::EncodePgd(in, changed, pgd, &out, &err)) return Error(err);
  } else {
    if (files.size() != 2) return Usage();
    if (!kivtools::ReadPngFile(files[0], &in, &err)) return Error(err);
    if (mode == "ge") {
      if (bpp != -1) ge.bpp = bpp;
      if (ge.bpp != 24 && ge.bpp != 32) return Usage();
      out = kivtools::EncodeGe(in, ge);
    } else if (mode == "bmp") {
      out = kivtools::EncodeBmp(in, bpp == -1 ? 32 : bpp, topDown);
    } else if (mode == "tga") {
      out = kivtools::EncodeTga(in, bpp == -1 ? 32 : bpp);
    } else {
      return Usage();
    }
    if (out.empty()) return Error("the picture cannot be written in this form");
  }
  if (!kivtools::WriteFileBytes(files.back(), out)) return Error("cannot write " + files.back());
  return 0;
}
