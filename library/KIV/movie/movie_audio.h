// Where a movie's decoded sound goes: by default a streamed buffer of the
// engine's mixer (movie_sound.cpp) at the volume of the movie's sound volume
// group. When no sound device is up, open gives NULL and the samples are
// counted and dropped, so a movie still plays at its own pace without sound.
#pragma once
#include <atomic>
#include <cstdint>

struct KivMovieAudioStream;

struct KivMovieAudioOut {
  // A stream for 16-bit interleaved samples at rate, played at the sound
  // volume of volumeGroup (2 full-window movies, 3 movie sprites).
  KivMovieAudioStream* (*open)(int rate, int channels, int volumeGroup);
  // May be called from a decode thread.
  void (*write)(KivMovieAudioStream* stream, const int16_t* samples, int frames);
  void (*close)(KivMovieAudioStream* stream);
  // Once a frame on the game thread: running 1 while the movie runs, 0 while
  // it stands (stopped, finished, ending), which holds the sound where it is.
  // Optional.
  void (*tend)(KivMovieAudioStream* stream, int running);
  // Drops every sample not yet played (the movie jumps back to its loop
  // frame). Optional.
  void (*flush)(KivMovieAudioStream* stream);
};
extern KivMovieAudioOut g_kivMovieAudio;
// Sample frames decoded while no stream was open (for tests and the log).
extern std::atomic<int64_t> g_kivMovieAudioDropped;

// The mixer's side of the seam (movie_sound.cpp), the default of
// g_kivMovieAudio.
KivMovieAudioStream* KivMovieSoundOpen(int rate, int channels, int volumeGroup);
void KivMovieSoundWrite(KivMovieAudioStream* stream, const int16_t* samples, int frames);
void KivMovieSoundClose(KivMovieAudioStream* stream);
void KivMovieSoundTend(KivMovieAudioStream* stream, int running);
void KivMovieSoundFlush(KivMovieAudioStream* stream);
