// Movies: full-window playback and movie sprites, over the platform's movie
// decoder. The engine never includes a game header, nor SDL, GL, FFmpeg or
// FreeType: it reaches the machine only through library/platform/.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "kiv.h"
#include "platform/video/movie.h"

struct KivSprite;
struct KivMovieAudioStream;

// A movie's way into the sound output: the stream opens with the first
// decoded samples (on the decode thread when there is one) and the game
// thread tends it, so the pointer is atomic.
struct KivMovieAudioTap {
  std::atomic<KivMovieAudioStream*> stream{nullptr};
  int volumeGroup = 3;
};

// The range reader behind a movie: the movie's bytes are [start, start +
// size) of a file the reader does not own (a loose file or a .pac member).
// Reads are positioned, so two streams over one descriptor never disturb
// each other; one lock serialises a stream's own reads.
class CFileStream final : public plat::MovieSource {
 public:
  CFileStream(intptr_t file, uint64_t start, uint64_t size) : file_(file), start_(start), size_(size) {}
  int Read(void* buf, int n) override;
  bool SetPointer(int64_t position) override;
  int64_t Position() override;
  int64_t Size() override { return static_cast<int64_t>(size_); }
  void Lock() { cs_.lock(); }
  void Unlock() { cs_.unlock(); }

 private:
  std::mutex cs_;
  intptr_t file_;
  uint64_t start_, size_;
  int64_t position_ = 0;
};

// Bits of the state word of a movie sprite.
constexpr uint32_t kKivMovieLoaded = 0, kKivMoviePlaying = 1, kKivMovieStopped = 2, kKivMovieFinished = 6;
constexpr uint32_t kKivMovieBit31 = 0x80000000u;

// One per movie sprite. The decoder stands in for the filter graph; the
// clock is the engine's millisecond clock, so a headless test steps a movie
// frame by frame by advancing the virtual clock.
struct KivMovie {
  std::mutex cs;  // the exports, the frame step and release
  std::unique_ptr<plat::MovieDecoder> graph;
  intptr_t file = -1;
  KivSprite* sprite = nullptr;
  KivMovieAudioTap tap;
  int64_t loopFrame = 0;
  int64_t frameCount = 0;  // duration / frame time; 0 when either is unknown
  int64_t frameTime = 0;   // 100 ns units
  int videoWidth = 0, videoHeight = 0;
  std::atomic<int> lock{0};
  int loop = 0;
  std::atomic<uint32_t> state{kKivMovieLoaded};
  // Running: the frame due is startFrame + elapsed / frame time.
  uint32_t startMs = 0;
  int64_t startFrame = 0;
  int64_t position = 0;  // the frame the movie stands at while not running
  int64_t shown = -1;    // the frame now in the sprite's pixels
};

// Opens a movie over a data file (loose or archived); NULL with the reason
// logged; its sound goes through tap.
// Movies larger than this are refused when they open (the decoder, the
// frame copies and the texture upload grow with the picture): 2048 pixels a
// side and 2 Mi pixels in all (1920 x 1080 fits). `refused`, when given, is
// set for a refusal that trying again cannot change.
constexpr int kKivMovieMaxSide = 2048;
constexpr int64_t kKivMovieMaxPixels = int64_t(2) << 20;
std::unique_ptr<plat::MovieDecoder> KivMovieOpenDecoder(const char* name, intptr_t* file, KivMovieAudioTap* tap,
                                                        const char* logPrefix,
                                                        bool* refused = nullptr);
void KivMovieCloseDecoder(std::unique_ptr<plat::MovieDecoder>* graph, intptr_t* file, KivMovieAudioTap* tap);
// The sound follows the movie: running while it runs, held where it stands
// otherwise (once a frame, game thread); flushed when the movie jumps back.
void KivMovieAudioTend(KivMovieAudioTap* tap, bool running);
void KivMovieAudioFlush(KivMovieAudioTap* tap);

int KivMovieBuildGraph(KivMovie* m, const char* name);
int KivMSpriteDrawProc(void* core, void* object);
int KivMpegHandleEvents(KivMovie* m);
int KivMpegRun(KivMovie* m);
int KivMpegStop(KivMovie* m);
void MpegRelease(void* movie);
// Every movie sprite's frame step, once a frame on the game thread: new
// frames enter the sprites and ends are handled whether or not a sprite is
// drawn.
void KivMovieSpritesStep(void);

// Full-window playback (video_player.cpp).
void KivVideoStep(void);
void KivVideoOnEvent(void);
int KivVideoClose(int playing);
int KivVideoRestart(void);
// True when every end or abort the player posted to the window thread has
// been handled there (a run on the frame clock waits for it at the frame's
// end, so the frame the movie ends on never depends on thread timing).
bool KivVideoEventsServed(void);
// Counts every posted one as handled (a window that no longer answers).
void KivVideoEventsForget(void);
