// Writes seed files for the sound loader target, made by our own fixture
// writer: fuzz_sound_seeds <folder>  ->  <folder>/seed_NN
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "sound_fixture.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_sound_seeds <folder>\n");
    return 2;
  }
  const std::string dir = argv[1];
  mkdir(dir.c_str(), 0755);
  std::vector<int16_t> stereo = fixture::Sine(1000, 0.005, 44100, 2, 0.5);
  std::vector<int16_t> mono = fixture::Sine(500, 0.005, 22050, 1, 0.5);
  std::vector<std::vector<uint8_t>> seeds = {
      fixture::Wav(stereo, 2, 44100),
      fixture::Wav(mono, 1, 22050, {{"LIST", std::vector<uint8_t>(13, 'a')}, {"fact", {4, 0, 0, 0}}}),
      fixture::Wav8(std::vector<uint8_t>(300, 200), 1, 11025),
      fixture::RawPcm(stereo, 4, 1, 3),
      fixture::RawPcm(stereo, 1, 0, 1),
  };
  int n = 0;
  for (const auto& s : seeds) {
    char name[32];
    std::snprintf(name, sizeof name, "/seed_%02d", n++);
    if (!fixture::WriteFile(dir + name, s)) return 1;
  }
  return 0;
}
