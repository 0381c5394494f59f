// Where a movie's decoded sound goes. The mixer connects here: while open is
// NULL a movie's audio is decoded, counted and dropped, so a movie still
// plays at its own pace without a sound device.
#pragma once
#include <atomic>
#include <cstdint>

struct KivMovieAudioStream;

struct KivMovieAudioOut {
  // A stream for 16-bit interleaved samples at rate, played at the sound
  // volume of volumeGroup (2 full-window movies, 3 movie sprites).
  KivMovieAudioStream* (*open)(int rate, int channels, int volumeGroup);
  void (*write)(KivMovieAudioStream* stream, const int16_t* samples, int frames);
  void (*close)(KivMovieAudioStream* stream);
};
extern KivMovieAudioOut g_kivMovieAudio;
// Sample frames decoded while no stream was open (for tests and the log).
extern std::atomic<int64_t> g_kivMovieAudioDropped;
