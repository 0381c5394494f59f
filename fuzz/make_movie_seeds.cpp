// Movie seeds for fuzz_movie, from our own movie maker: with and without
// sound, an odd width, one frame.
#include <string>

#include "movie_maker.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string dir = argv[1];
  struct Seed {
    const char* name;
    int width, frames;
    bool audio;
  } seeds[] = {{"tone.mpg", 64, 4, true}, {"silent.mpg", 64, 4, false}, {"odd.mpg", 50, 3, true}, {"one.mpg", 32, 1, false}};
  for (const Seed& s : seeds) {
    kivtools::MovieSpec spec;
    spec.width = s.width;
    spec.height = 32;
    spec.frames = s.frames;
    spec.audio = s.audio;
    std::string error;
    if (!kivtools::WriteMovie(dir + "/" + s.name, spec, &error)) return 1;
  }
  return 0;
}
