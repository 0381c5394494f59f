// movie_make OUT.mpg [--width W] [--height H] [--frames N] [--fps F] [--silent] [--mpeg2]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "movie_maker.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: movie_make OUT.mpg [--width W] [--height H] [--frames N] [--fps F] [--silent] [--mpeg2]\n");
    return 2;
  }
  kivtools::MovieSpec spec;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
    if (a == "--width") spec.width = next();
    else if (a == "--height") spec.height = next();
    else if (a == "--frames") spec.frames = next();
    else if (a == "--fps") spec.fps = next();
    else if (a == "--silent") spec.audio = false;
    else if (a == "--mpeg2") spec.mpeg2 = true;
    else {
      std::fprintf(stderr, "movie_make: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  std::string error;
  if (!kivtools::WriteMovie(argv[1], spec, &error)) {
    std::fprintf(stderr, "movie_make: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
