// kasm SOURCE OUTDIR: assembles a script source into Script.src and its
// tables in OUTDIR.
#include <cstdio>
#include <string>

#include "assembler.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kasm SOURCE OUTDIR\n");
    return 2;
  }
  kasm::Output out;
  std::string error;
  if (!kasm::AssembleFile(argv[1], &out, &error)) {
    std::fputs(error.c_str(), stderr);
    return 1;
  }
  if (!kasm::WriteOutput(out, argv[2], &error)) {
    std::fprintf(stderr, "kasm: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
