// kani SOURCE OUT.ani: assembles a motion program.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "motion_assembler.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kani SOURCE OUT.ani\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot be read\n", argv[1]);
    return 1;
  }
  const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<uint8_t> bytes;
  std::string error;
  if (!kani::Assemble(source, argv[1], &bytes, &error)) {
    std::fputs(error.c_str(), stderr);
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "%s: cannot be written\n", argv[2]);
    return 1;
  }
  return 0;
}
