// sound_fixture: writes the project's sound fixtures.
//   sound_fixture sweep OUT.wav|OUT.ogg [seconds]   a 100 Hz - 8 kHz sweep at half scale
//   sound_fixture tone OUT.wav HZ SECONDS            a sine at half scale
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sound_fixture.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: sound_fixture sweep OUT [seconds] | tone OUT HZ SECONDS\n");
    return 2;
  }
  const std::string kind = argv[1], out = argv[2];
  std::vector<int16_t> s;
  if (kind == "sweep") {
    s = fixture::Sweep(100.0, 8000.0, argc > 3 ? std::atof(argv[3]) : 3.0, 44100, 2, 0.5);
  } else if (kind == "tone" && argc > 4) {
    s = fixture::Sine(std::atof(argv[3]), std::atof(argv[4]), 44100, 2, 0.5);
  } else {
    std::fprintf(stderr, "sound_fixture: unknown kind %s\n", kind.c_str());
    return 2;
  }
  const bool ogg = out.size() > 4 && strcasecmp(out.c_str() + out.size() - 4, ".ogg") == 0;
  std::vector<uint8_t> bytes = ogg ? fixture::Ogg(s, 2, 44100, 0.4f) : fixture::Wav(s, 2, 44100);
  if (bytes.empty() || !fixture::WriteFile(out, bytes)) {
    std::fprintf(stderr, "sound_fixture: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
