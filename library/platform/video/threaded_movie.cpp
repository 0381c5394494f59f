// The real movie backend: a decode thread keeps a few whole frames ahead of
// the one asked for, each in its own buffer; the caller takes the newest
// frame that is due, so it never sees a frame being written. A frame the
// thread has not reached yet leaves the previous one shown (a late frame
// is skipped, never waited for, once the movie runs; on the frame clock a
// run is frame-exact, so the due frame is waited for).
// Lacks: an audio clock. The engine's clock paces the movie; sound is
// handed on as it is decoded.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/core/backend.h"
#include "platform/core/clock.h"
#include "platform/video/movie.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace plat {
namespace {

constexpr size_t kFramesAhead = 4;
// How long the first frame after an open or a jump back may take.
constexpr auto kFirstFrameWait = std::chrono::seconds(3);

class ThreadedMovie final : public MovieDecoder {
 public:
  explicit ThreadedMovie(std::unique_ptr<MovieDecoder> inner) : inner_(std::move(inner)), info_(inner_->Info()) {
    // The opener decoded frame 0 already: it is the current frame.
    current_.resize(static_cast<size_t>(info_.width) * info_.height);
    if (inner_->CurrentIndex() >= 0 && inner_->CopyFrame(current_.data(), info_.width))
      currentIndex_ = inner_->CurrentIndex();
    lastQueued_ = currentIndex_;
    next_ = currentIndex_ + 1;
    worker_ = std::thread([this] { Work(); });
  }
  ~ThreadedMovie() override {
    {
      std::lock_guard<std::mutex> hold(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    worker_.join();
    sws_freeContext(sws_);
  }

  const MovieInfo& Info() const override { return info_; }

  int64_t CurrentIndex() const override {
    std::lock_guard<std::mutex> hold(mu_);
    return currentIndex_;
  }

  int Advance(int64_t index) override {
    if (index < 0) index = 0;
    std::unique_lock<std::mutex> lock(mu_);
    if (index < currentIndex_) {
      // Back to an earlier frame: the thread starts again from there.
      ready_.clear();
      rewindTo_ = index;
      currentIndex_ = -1;
      ended_ = failed_ = false;
      cv_.notify_all();
    }
    if (currentIndex_ < 0) {
      cv_.wait_for(lock, kFirstFrameWait, [&] { return !ready_.empty() || ended_ || failed_; });
    }
    const bool exact = FrameClockOn();
    for (;;) {
      bool took = false;
      while (!ready_.empty() && ready_.front().index <= index) {
        current_.swap(ready_.front().pixels);
        currentIndex_ = ready_.front().index;
        spare_.push_back(std::move(ready_.front().pixels));
        ready_.pop_front();
        took = true;
      }
      if (took) cv_.notify_all();
      // The frame clock's frames take no time: the decoder's pace must not
      // decide which frame shows, so the due one (or the end) is awaited.
      if (!exact || currentIndex_ >= index || ended_ || failed_ || !ready_.empty()) break;
      if (!cv_.wait_for(lock, kFirstFrameWait, [&] { return !ready_.empty() || ended_ || failed_; })) break;
    }
    if (currentIndex_ < 0) return failed_ || !ended_ ? -1 : 0;
    if (index > currentIndex_ && ready_.empty() && ended_) return failed_ ? -1 : 0;
    return 1;
  }

  bool CopyFrame(uint32_t* dst, int pitchWords) override {
    std::lock_guard<std::mutex> hold(mu_);
    if (!dst || currentIndex_ < 0 || pitchWords < info_.width) return false;
    for (int y = 0; y < info_.height; ++y)
      std::memcpy(dst + static_cast<size_t>(y) * pitchWords, current_.data() + static_cast<size_t>(y) * info_.width,
                  static_cast<size_t>(info_.width) * 4);
    return true;
  }

  bool CopyFrameScaled(uint32_t* dst, int w, int h, int pitchWords) override {
    if (w == info_.width && h == info_.height) return CopyFrame(dst, pitchWords);
    std::lock_guard<std::mutex> hold(mu_);
    if (!dst || currentIndex_ < 0 || w <= 0 || h <= 0 || pitchWords < w) return false;
    sws_ = sws_getCachedContext(sws_, info_.width, info_.height, AV_PIX_FMT_BGRA, w, h, AV_PIX_FMT_BGRA,
                                SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws_) return false;
    const uint8_t* src[4] = {reinterpret_cast<const uint8_t*>(current_.data()), nullptr, nullptr, nullptr};
    const int srcLines[4] = {info_.width * 4, 0, 0, 0};
    // Rows padded for libswscale's vector code, which may write past a row's end.
    const int padded = (w + 31) / 32 * 32 + 32;
    scratch_.resize(static_cast<size_t>(padded) * (h + 1));
    uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(scratch_.data()), nullptr, nullptr, nullptr};
    const int lines[4] = {padded * 4, 0, 0, 0};
    if (sws_scale(sws_, src, srcLines, 0, info_.height, planes, lines) != h) return false;
    for (int y = 0; y < h; ++y)
      std::memcpy(dst + static_cast<size_t>(y) * pitchWords, scratch_.data() + static_cast<size_t>(y) * padded,
                  static_cast<size_t>(w) * 4);
    return true;
  }

 private:
  struct Slot {
    int64_t index;
    std::vector<uint32_t> pixels;
  };

  void Work() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
      cv_.wait(lock, [&] { return stop_ || rewindTo_ >= 0 || (!ended_ && !failed_ && ready_.size() < kFramesAhead); });
      if (stop_) return;
      int64_t target = next_;
      bool rewound = false;
      if (rewindTo_ >= 0) {
        target = rewindTo_;
        rewindTo_ = -1;
        lastQueued_ = -1;
        rewound = true;
      }
      std::vector<uint32_t> pixels;
      if (!spare_.empty()) {
        pixels = std::move(spare_.back());
        spare_.pop_back();
      }
      lock.unlock();
      // Decoding runs without the lock; only this thread touches inner_.
      const int r = inner_->Advance(target);
      const int64_t got = inner_->CurrentIndex();
      bool have = false;
      if (r >= 0 && got >= 0 && (rewound || got > lastQueued_)) {
        pixels.resize(static_cast<size_t>(info_.width) * info_.height);
        have = inner_->CopyFrame(pixels.data(), info_.width);
      }
      lock.lock();
      if (rewindTo_ >= 0) continue;  // asked to jump again meanwhile
      if (have) {
        ready_.push_back(Slot{got, std::move(pixels)});
        lastQueued_ = got;
        next_ = got + 1;
      }
      if (r < 0) failed_ = true;
      if (r == 0) ended_ = true;
      cv_.notify_all();
    }
  }

  std::unique_ptr<MovieDecoder> inner_;
  const MovieInfo info_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Slot> ready_;
  std::vector<std::vector<uint32_t>> spare_;
  std::vector<uint32_t> current_;
  int64_t currentIndex_ = -1;
  int64_t lastQueued_ = -1;
  int64_t next_ = 0;
  int64_t rewindTo_ = -1;
  bool ended_ = false, failed_ = false, stop_ = false;
  SwsContext* sws_ = nullptr;
  std::vector<uint32_t> scratch_;
  std::thread worker_;
};

}  // namespace

std::unique_ptr<MovieDecoder> DecodeAhead(std::unique_ptr<MovieDecoder> decoder) {
  if (!decoder) return nullptr;
  return std::make_unique<ThreadedMovie>(std::move(decoder));
}

std::unique_ptr<MovieDecoder> OpenMovie(std::unique_ptr<MovieSource> source, MovieAudioSink sink, void* user,
                                        std::string* error, MovieDecoding how) {
  if (how == MovieDecoding::kAuto)
    how = WindowBackendKind() == Backend::kHeadless ? MovieDecoding::kOnCaller : MovieDecoding::kDecodeThread;
  auto movie = OpenFfmpegMovie(std::move(source), sink, user, error);
  if (!movie || how == MovieDecoding::kOnCaller) return movie;
  return DecodeAhead(std::move(movie));
}

}  // namespace plat
