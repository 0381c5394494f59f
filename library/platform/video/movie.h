// Movies: MPEG-1 system streams read from a byte range of an open file,
// decoded frame by frame into 32-bit pixels (B G R A in memory, opaque), with
// their MPEG audio handed to a sink as 16-bit interleaved samples.
//
// Only library/platform/ includes SDL, GL, EGL, FFmpeg, FreeType or fontconfig headers.
// The engine sees a movie as a decoder that it asks for "the frame with
// this index" on its own clock; how far ahead the backend decodes is its
// own business.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace plat {

// Where a movie's bytes come from. Read gives the bytes read (0 at the end,
// -1 on a failed read); SetPointer refuses (false) a negative position or
// one past Size.
class MovieSource {
 public:
  virtual ~MovieSource() = default;
  virtual int Read(void* buf, int n) = 0;
  virtual bool SetPointer(int64_t position) = 0;
  virtual int64_t Position() = 0;
  virtual int64_t Size() = 0;
};

struct MovieInfo {
  int width = 0, height = 0;
  int64_t frameTime = 0;  // 100 ns units; 0 when the stream gives no rate
  int64_t duration = 0;   // 100 ns units; 0 when unknown
  bool hasAudio = false;
  int sampleRate = 0, channels = 0;
};

// Decoded audio: frames x channels interleaved 16-bit samples at rate.
using MovieAudioSink = void (*)(void* user, const int16_t* samples, int frames, int channels, int rate);

class MovieDecoder {
 public:
  virtual ~MovieDecoder() = default;
  virtual const MovieInfo& Info() const = 0;
  // Makes the newest frame with an index <= index (presentation order, from
  // 0) the current one, decoding forward or starting again from the first
  // frame as needed. 1: a current frame exists; 0: index lies past the last
  // frame (the movie has ended; the last frame stays current); -1: error.
  virtual int Advance(int64_t index) = 0;
  // The current frame's index, -1 before the first.
  virtual int64_t CurrentIndex() const = 0;
  // Copies the current frame into dst (width x height of Info, pitch in
  // 32-bit words); false when there is none.
  virtual bool CopyFrame(uint32_t* dst, int pitchWords) = 0;
  // Copies the current frame scaled to w x h (stretched).
  virtual bool CopyFrameScaled(uint32_t* dst, int w, int h, int pitchWords) = 0;
};

// How a movie is decoded: on the caller's thread exactly as far as asked
// (headless: deterministic on the virtual clock), or by a decode thread a
// few frames ahead (the real backend). kAuto follows the window backend.
enum class MovieDecoding { kAuto, kOnCaller, kDecodeThread };

// Opens an MPEG-1 system stream (MPEG-1 video, optional MPEG audio layer
// 1-3). NULL with a reason for anything else: other containers, MPEG-2
// video, a stream without video, a short or unreadable file.
std::unique_ptr<MovieDecoder> OpenMovie(std::unique_ptr<MovieSource> source, MovieAudioSink sink, void* user,
                                        std::string* error, MovieDecoding how = MovieDecoding::kAuto);

// The backends (ffmpeg_movie.cpp, threaded_movie.cpp).
std::unique_ptr<MovieDecoder> OpenFfmpegMovie(std::unique_ptr<MovieSource> source, MovieAudioSink sink, void* user,
                                              std::string* error);
std::unique_ptr<MovieDecoder> DecodeAhead(std::unique_ptr<MovieDecoder> decoder);

}  // namespace plat
