// sound_fixture: writes the project's sound fixtures.
//   sound_fixture sweep OUT.wav|OUT.ogg [seconds]   a 100 Hz - 8 kHz sweep at half scale
//   sound_fixture tone OUT.wav HZ SECONDS            a sine at half scale
//   sound_fixture melody OUT.wav|OUT.ogg             a short looping tune of plucked notes
//   sound_fixture chime OUT.wav|OUT.ogg              a bell-like note that dies away
//   sound_fixture mix OUT.mix PART...                 a voice part list: 32-byte zero-padded names
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <cmath>
#include <string>

#include "sound_fixture.h"

namespace {

// A note of `seconds` at `hz` added at frame `at`, decaying from `amplitude`;
// stereo S16.
void AddNote(std::vector<int16_t>& s, size_t at, double hz, double seconds, double amplitude, double decay) {
  const size_t frames = static_cast<size_t>(seconds * 44100);
  if (s.size() < (at + frames) * 2) s.resize((at + frames) * 2);
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / 44100;
    const double attack = std::min(1.0, t / 0.01);
    const double v = amplitude * attack * std::exp(-decay * t) *
                     (std::sin(2 * M_PI * hz * t) + 0.3 * std::sin(4 * M_PI * hz * t));
    for (int c = 0; c < 2; ++c) {
      const double sum = s[2 * (at + i) + c] + v * 32767;
      s[2 * (at + i) + c] = static_cast<int16_t>(std::max(-32767.0, std::min(32767.0, sum)));
    }
  }
}

std::vector<int16_t> Melody() {
  // Eight beats of 0.375 s over a soft bass, a whole number of beats so
  // that the loop joins without a gap.
  const double notes[] = {523.25, 659.25, 783.99, 659.25, 587.33, 698.46, 880.00, 698.46};
  const double bass[] = {130.81, 146.83};
  const size_t beat = static_cast<size_t>(0.375 * 44100);
  std::vector<int16_t> s(8 * beat * 2);
  for (int i = 0; i < 8; ++i) AddNote(s, i * beat, notes[i], 0.375, 0.25, 6.0);
  for (int i = 0; i < 2; ++i) AddNote(s, i * 4 * beat, bass[i], 1.5, 0.2, 1.5);
  s.resize(8 * beat * 2);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: sound_fixture sweep OUT [seconds] | tone OUT HZ SECONDS | melody OUT | chime OUT | mix OUT PART...\n");
    return 2;
  }
  const std::string kind = argv[1], out = argv[2];
  if (kind == "mix") {
    std::vector<uint8_t> list;
    for (int i = 3; i < argc; ++i) {
      uint8_t record[32] = {};
      std::memcpy(record, argv[i], std::min<size_t>(std::strlen(argv[i]), 31));
      list.insert(list.end(), record, record + sizeof record);
    }
    return fixture::WriteFile(out, list) ? 0 : 1;
  }
  std::vector<int16_t> s;
  if (kind == "sweep") {
    s = fixture::Sweep(100.0, 8000.0, argc > 3 ? std::atof(argv[3]) : 3.0, 44100, 2, 0.5);
  } else if (kind == "tone" && argc > 4) {
    s = fixture::Sine(std::atof(argv[3]), std::atof(argv[4]), 44100, 2, 0.5);
  } else if (kind == "melody") {
    s = Melody();
  } else if (kind == "chime") {
    AddNote(s, 0, 1318.51, 0.8, 0.4, 5.0);
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
