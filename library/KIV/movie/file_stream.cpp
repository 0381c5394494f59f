// Movies: full-window playback and movie sprites. The engine never includes
// a game header, nor SDL, GL, FFmpeg or FreeType: it reaches the machine only
// through library/platform/.
//
// The range reader over a data file, the sound tap and opening a movie's
// decoder from a data file name.
#include <cstdio>
#include <string>

#include "movie/movie.h"
#include "movie/movie_audio.h"
#include "platform/core/error.h"
#include "platform/core/file.h"

KivMovieAudioOut g_kivMovieAudio{KivMovieSoundOpen, KivMovieSoundWrite, KivMovieSoundClose, KivMovieSoundTend,
                                 KivMovieSoundFlush};
std::atomic<int64_t> g_kivMovieAudioDropped{0};

int CFileStream::Read(void* buf, int n) {
  std::lock_guard<std::mutex> hold(cs_);
  if (!buf || n < 0) return -1;
  const int64_t left = static_cast<int64_t>(size_) - position_;
  if (left <= 0 || n == 0) return 0;
  const size_t want = static_cast<size_t>(n < left ? n : left);
  if (!plat::FileReadAt(file_, start_ + static_cast<uint64_t>(position_), buf, want)) return -1;
  position_ += static_cast<int64_t>(want);
  return static_cast<int>(want);
}

bool CFileStream::SetPointer(int64_t position) {
  std::lock_guard<std::mutex> hold(cs_);
  if (position < 0 || position > static_cast<int64_t>(size_)) return false;
  position_ = position;
  return true;
}

int64_t CFileStream::Position() {
  std::lock_guard<std::mutex> hold(cs_);
  return position_;
}

namespace {

void AudioSink(void* user, const int16_t* samples, int frames, int channels, int rate) {
  auto* tap = static_cast<KivMovieAudioTap*>(user);
  KivMovieAudioStream* stream = tap->stream.load();
  if (!stream && g_kivMovieAudio.open) {
    stream = g_kivMovieAudio.open(rate, channels, tap->volumeGroup);
    tap->stream.store(stream);
  }
  if (stream && g_kivMovieAudio.write) g_kivMovieAudio.write(stream, samples, frames);
  else g_kivMovieAudioDropped.fetch_add(frames);
}

void Log(const char* prefix, const char* what) {
  KivErrorLogPrintf("%s : %s \n", prefix, what);
  plat::DebugOutput(std::string(prefix) + " : " + what + " \n");
}

}  // namespace

std::unique_ptr<plat::MovieDecoder> KivMovieOpenDecoder(const char* name, intptr_t* file, KivMovieAudioTap* tap,
                                                        const char* logPrefix, bool* refused) {
  if (refused) *refused = false;
  KivFileInfo info{};
  intptr_t f = KivFileCreateEx(name, plat::kGenericRead, 1, plat::kOpenExisting, 0x08000000u, &info);
  if (f == KIV_INVALID_FILE) {
    Log(logPrefix, "CreateFile");
    return nullptr;
  }
  if (info.end < info.start || info.end - info.start != info.size) {
    Log(logPrefix, "CreateFile");
    plat::FileClose(f);
    return nullptr;
  }
  std::string why;
  auto graph = plat::OpenMovie(std::make_unique<CFileStream>(f, info.start, info.size), AudioSink, tap, &why);
  if (!graph) {
    Log(logPrefix, ("Render " + why).c_str());
    plat::FileClose(f);
    return nullptr;
  }
  const plat::MovieInfo& mi = graph->Info();
  if (mi.width > kKivMovieMaxSide || mi.height > kKivMovieMaxSide ||
      static_cast<int64_t>(mi.width) * mi.height > kKivMovieMaxPixels) {
    char line[128];
    std::snprintf(line, sizeof line, "%s : %d x %d larger than %d x %d (or %lld pixels)", name, mi.width, mi.height,
                  kKivMovieMaxSide, kKivMovieMaxSide, static_cast<long long>(kKivMovieMaxPixels));
    Log(logPrefix, line);
    graph.reset();
    plat::FileClose(f);
    if (refused) *refused = true;
    return nullptr;
  }
  *file = f;
  return graph;
}

void KivMovieCloseDecoder(std::unique_ptr<plat::MovieDecoder>* graph, intptr_t* file, KivMovieAudioTap* tap) {
  graph->reset();
  if (*file != KIV_INVALID_FILE) plat::FileClose(*file);
  *file = KIV_INVALID_FILE;
  // The decoder is gone, so nothing writes any more.
  if (KivMovieAudioStream* stream = tap->stream.exchange(nullptr)) {
    if (g_kivMovieAudio.close) g_kivMovieAudio.close(stream);
  }
}

void KivMovieAudioTend(KivMovieAudioTap* tap, bool running) {
  KivMovieAudioStream* stream = tap->stream.load();
  if (stream && g_kivMovieAudio.tend) g_kivMovieAudio.tend(stream, running ? 1 : 0);
}

void KivMovieAudioFlush(KivMovieAudioTap* tap) {
  KivMovieAudioStream* stream = tap->stream.load();
  if (stream && g_kivMovieAudio.flush) g_kivMovieAudio.flush(stream);
}
