// glyph_write OUT SIZE [FACE] [CHARS]: a glyph file of FACE (0-3) at SIZE
// pixels; CHARS (UTF-8) limits it to those characters.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "glyph_writer.h"
#include "platform/core/text_encoding.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: glyph_write OUT SIZE [FACE] [CHARS]\n");
    return 2;
  }
  kivtools::GlyphFileOptions o;
  o.size = std::atoi(argv[2]);
  if (argc > 3) o.face = std::atoi(argv[3]);
  if (argc > 4) o.chars = plat::Utf8ToCp932(argv[4]);
  const std::vector<uint8_t> file = kivtools::WriteGlyphFile(o);
  if (file.empty()) {
    std::fprintf(stderr, "glyph_write: cannot open the face at that size\n");
    return 1;
  }
  FILE* f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(file.data(), 1, file.size(), f) != file.size()) {
    std::fprintf(stderr, "glyph_write: cannot write %s\n", argv[1]);
    return 1;
  }
  std::fclose(f);
  return 0;
}
