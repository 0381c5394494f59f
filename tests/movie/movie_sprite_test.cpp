// Movie sprites on the virtual clock: fixtures from our movie maker, loose
// and inside .pac archives, stepped frame by frame; the frame shown is read
// back from the sprite's own pixels. Also the range reader, every export's
// handle rules, and bad files that must give NULL and leave nothing behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "movie/movie.h"
#include "movie/movie_audio.h"
#include "movie_maker.h"
#include "pac_writer.h"
#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "render/gpu_context.h"
#include "render/soft_screen.h"
#include "sprite/sprite.h"
#include "support/sprite_scene.h"
#include "task/render_list.h"

using namespace kivtest;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Movie(int frames, bool audio = true, int width = 160, int height = 120, bool mpeg2 = false) {
  kivtools::MovieSpec spec;
  spec.frames = frames;
  spec.audio = audio;
  spec.width = width;
  spec.height = height;
  spec.mpeg2 = mpeg2;
  Bytes out;
  std::string error;
  EXPECT_TRUE(kivtools::MakeMovie(spec, &out, &error)) << error;
  return out;
}

void Write(const std::string& path, const Bytes& b) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The frame number the sprite's pixels show, -1 when unreadable.
int FrameShown(KivSprite* s) {
  int w = 0, h = 0;
  uint32_t* px = KivSoftSurfacePixels(static_cast<KivSoftSurface*>(s->surface), &w, &h);
  return px ? kivtools::ReadMovieFrameNumber(px, w, h, w) : -2;
}

class MovieSpriteTest : public SpriteSceneTest {
 protected:
  void SetUp() override {
    SpriteSceneTest::SetUp();
    Write(folder + "/MOVIE.MPG", Movie(10));
    Write(folder + "/SILENT.MPG", Movie(10, false));
    Write(folder + "/WIDE.MPG", Movie(10, true, 350, 120));
    Write(folder + "/ONE.MPG", Movie(1));
  }
  void TearDown() override {
    for (KivRenderNode* n = list->head.next; n;) {
      KivRenderNode* next = n->next;
      if (n->draw == KivMSpriteDrawProc) KivSpriteRelease(list, static_cast<KivSprite*>(n->object));
      n = next;
    }
    SpriteSceneTest::TearDown();
  }
  // Moves the clock on and runs the frame's movie step, as the game thread does.
  void Frame(uint32_t ms) {
    plat::AdvanceVirtualClock(ms);
    KivMovieSpritesStep();
  }
};

}  // namespace

TEST(MovieRangeReader, LooseFileAndArchiveMemberStayInTheirRange) {
  char path[] = "/tmp/kivrangeXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string bytes = "BEFORE" "member-bytes" "AFTER";
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  struct Case {
    uint64_t start, size;
    std::string expect;
  } cases[] = {{0, bytes.size(), bytes}, {6, 12, "member-bytes"}};
  for (const Case& c : cases) {
    CFileStream s(fd, c.start, c.size);
    std::string got(64, '\0');
    int n = s.Read(got.data(), 64);
    ASSERT_EQ(n, static_cast<int>(c.size));
    EXPECT_EQ(got.substr(0, n), c.expect);
    EXPECT_EQ(s.Read(got.data(), 64), 0);  // nothing past the end
    EXPECT_TRUE(s.SetPointer(static_cast<int64_t>(c.size)));
    EXPECT_FALSE(s.SetPointer(static_cast<int64_t>(c.size) + 1));
    EXPECT_FALSE(s.SetPointer(-1));
    EXPECT_TRUE(s.SetPointer(2));
    EXPECT_EQ(s.Read(got.data(), 3), 3);
    EXPECT_EQ(got.substr(0, 3), c.expect.substr(2, 3));
    EXPECT_EQ(s.Size(), static_cast<int64_t>(c.size));
  }
  // A failed read is an error, not success with nothing.
  CFileStream bad(-1, 0, 10);
  char b[4];
  EXPECT_EQ(bad.Read(b, 4), -1);
  close(fd);
  unlink(path);
}

TEST_F(MovieSpriteTest, FramesOnTheVirtualClock) {
  enum Action { kNone, kStop, kHide, kLock };
  struct Case {
    const char* file;
    int loop;
    Action action;
    uint32_t ms;  // time after play
    int state, frame;
  } cases[] = {
      {"movie.mpg", 0, kNone, 0, 1, 0},
      {"movie.mpg", 0, kNone, 40, 1, 1},
      {"movie.mpg", 0, kNone, 240, 1, 6},
      {"movie.mpg", 0, kNone, 600, 6, 9},      // ends on its last frame
      {"movie.mpg", 1, kNone, 440, 1, 1},      // loops back to frame 0
      {"movie.mpg", 0, kStop, 600, 2, 3},      // stopped at 120 ms
      {"silent.mpg", 0, kNone, 120, 1, 3},
      {"wide.mpg", 0, kNone, 200, 1, 5},
      {"one.mpg", 0, kNone, 80, 6, 0},
      {"movie.mpg", 0, kHide, 600, 6, 9},      // hidden, still ends
      {"movie.mpg", 0, kLock, 600, 6, 3},      // locked at 120 ms: no new frame enters
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(c.ms));
    KivSprite* s = KivMSpriteLoad(list, c.file, 10);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(KivMSpriteGetState(s), 0);
    EXPECT_EQ(FrameShown(s), 0);
    ASSERT_EQ(KivMSpritePlay(s, c.loop), 1);
    if (c.action == kHide) s->visible = 0;
    uint32_t t = 0;
    for (; t + 20 <= c.ms; t += 20) {
      Frame(20);
      if (t + 20 == 120 && c.action == kStop) KivMSpriteStop(s);
      if (t + 20 == 120 && c.action == kLock) KivMSpriteLock(s);
      ASSERT_EQ(KivRenderFrame(), 1);
    }
    Frame(c.ms - t);
    EXPECT_EQ(KivMSpriteGetState(s), c.state);
    EXPECT_EQ(FrameShown(s), c.frame);
    EXPECT_EQ(KivMSpriteIsLoop(s), 0);
    if (c.action == kLock) {
      KivMSpriteUnlock(s);
      Frame(0);
      EXPECT_EQ(FrameShown(s), 9);
    }
    EXPECT_EQ(KivSpriteRelease(list, s), 1);
  }
  EXPECT_EQ(KivMemoryLive(), live);
}

TEST_F(MovieSpriteTest, PlayingAgainRunsFromWhereItStands) {
  KivSprite* s = KivMSpriteLoad(list, "movie.mpg", 0);
  ASSERT_NE(s, nullptr);
  KivMSpritePlay(s, 0);
  Frame(120);
  KivMSpriteStop(s);
  Frame(400);
  EXPECT_EQ(FrameShown(s), 3);
  KivMSpritePlay(s, 0);
  Frame(80);
  EXPECT_EQ(FrameShown(s), 5);
  Frame(1000);
  EXPECT_EQ(KivMSpriteGetState(s), 6);
  KivMSpritePlay(s, 0);  // a finished movie stays at its end
  Frame(40);
  EXPECT_EQ(KivMSpriteGetState(s), 6);
  EXPECT_EQ(FrameShown(s), 9);
}

TEST_F(MovieSpriteTest, MovieInsideAnArchiveBetweenNeighbours) {
  std::vector<kivtools::PacInput> members = {
      {"A.BIN", Bytes(777, 0x55)}, {"PAC.MPG", Movie(10)}, {"Z.BIN", Bytes(500, 0xAA)}};
  std::string error;
  ASSERT_TRUE(kivtools::WritePac(folder + ".pac", members, &error)) << error;
  KivSprite* s = KivMSpriteLoad(list, "pac.mpg", 0);
  ASSERT_NE(s, nullptr);
  KivMSpritePlay(s, 1);
  for (int i = 0; i < 30; ++i) Frame(40);  // three times round
  EXPECT_EQ(KivMSpriteGetState(s), 1);
  EXPECT_EQ(FrameShown(s), 0);
  Frame(80);
  EXPECT_EQ(FrameShown(s), 2);
}

TEST_F(MovieSpriteTest, AudioIsDecodedOnlyWhereThereIsSound) {
  // Without a sound output the samples are counted and dropped.
  struct Unhook {
    KivMovieAudioOut saved = g_kivMovieAudio;
    ~Unhook() { g_kivMovieAudio = saved; }
  } unhook;
  g_kivMovieAudio = {};
  for (auto [file, any] : {std::pair{"movie.mpg", true}, std::pair{"silent.mpg", false}}) {
    g_kivMovieAudioDropped = 0;
    KivSprite* s = KivMSpriteLoad(list, file, 0);
    ASSERT_NE(s, nullptr);
    KivMSpritePlay(s, 0);
    for (int i = 0; i < 15; ++i) Frame(40);
    EXPECT_EQ(g_kivMovieAudioDropped.load() > 44100 / 4, any) << file;
    KivSpriteRelease(list, s);
  }
}

TEST_F(MovieSpriteTest, HandleRules) {
  KivSprite* plain = KivSpriteCreate(list, 8, 8, 0);
  KivSprite* movie = KivMSpriteLoad(list, "movie.mpg", 0);
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(movie, nullptr);
  struct Row {
    const char* name;
    int (*call)(KivSprite*);
    int onPlain, onMovie;
  } rows[] = {
      {"Play", [](KivSprite* s) { return KivMSpritePlay(s, 0); }, 1, 1},
      {"Stop", [](KivSprite* s) { return KivMSpriteStop(s); }, 1, 1},
      {"Pause", [](KivSprite* s) { return KivMSpritePause(s); }, 1, 1},
      {"SetLoop", [](KivSprite* s) { return KivMSpriteSetLoop(s, 1); }, 0, 1},
      {"IsLoop", [](KivSprite* s) { return KivMSpriteIsLoop(s); }, 0, 0},
      {"GetState", [](KivSprite* s) { return KivMSpriteGetState(s); }, 0, 2},
      {"Lock", [](KivSprite* s) { return KivMSpriteLock(s); }, 0, 1},
      {"Unlock", [](KivSprite* s) { return KivMSpriteUnlock(s); }, 0, 1},
      {"Check", [](KivSprite* s) { return KivMSpriteCheck(s) ? 1 : 0; }, 0, 1},
  };
  for (const Row& r : rows) {
    plat::SetLastError(0);
    EXPECT_EQ(r.call(nullptr), 0) << r.name;
    EXPECT_EQ(plat::GetLastError(), 6u) << r.name;
    EXPECT_EQ(r.call(plain), r.onPlain) << r.name;
    EXPECT_EQ(r.call(movie), r.onMovie) << r.name;
  }
  plat::SetLastError(0);
  EXPECT_EQ(KivMSpriteLoad(nullptr, "movie.mpg", 0), nullptr);
  EXPECT_EQ(plat::GetLastError(), 6u);
  EXPECT_EQ(KivMSpriteDrawProc(screen, nullptr), 0);
}

TEST_F(MovieSpriteTest, BadFilesGiveNullAndLeaveNothing) {
  Bytes good = Movie(10);
  Bytes wav = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E'};
  wav.resize(2000, 0);
  Bytes random(4000);
  for (size_t i = 0; i < random.size(); ++i) random[i] = static_cast<uint8_t>(i * 131 + 7);
  Bytes cut(good.begin(), good.begin() + 300);
  std::vector<kivtools::PacInput> members = {{"A.BIN", Bytes(10, 1)}, {"EMPTY.MPG", {}}, {"Z.BIN", Bytes(10, 2)}};
  std::string error;
  ASSERT_TRUE(kivtools::WritePac(folder + ".pac", members, &error)) << error;
  Write(folder + "/RANDOM.MPG", random);
  Write(folder + "/SOUND.MPG", wav);
  Write(folder + "/CUT.MPG", cut);
  Write(folder + "/MPEG2.MPG", Movie(10, true, 160, 120, true));
  const int before = KivMemoryLive();
  for (const char* name : {"random.mpg", "sound.mpg", "cut.mpg", "empty.mpg", "mpeg2.mpg", "missing.mpg"}) {
    EXPECT_EQ(KivMSpriteLoad(list, name, 0), nullptr) << name;
    EXPECT_EQ(list->head.next, nullptr) << name;
    EXPECT_EQ(KivMemoryLive(), before) << name;
  }
}

// A movie larger than 2048 pixels a side is refused when it opens, with its
// name and size on the debugger output; one at the limit plays.
TEST_F(MovieSpriteTest, OversizedMoviesAreRefusedWithTheirSize) {
  Write(folder + "/HUGE.MPG", Movie(2, false, 2064, 32));
  Write(folder + "/EDGE.MPG", Movie(2, false, 2048, 32));
  std::string said;
  plat::SetDebugOutputSink([&said](std::string_view t) { said.append(t); });
  EXPECT_EQ(KivMSpriteLoad(list, "huge.mpg", 0), nullptr);
  plat::SetDebugOutputSink(nullptr);
  EXPECT_NE(said.find("huge.mpg : 2064 x 32 larger than 2048 x 2048"), std::string::npos) << said;
  EXPECT_NE(KivMSpriteLoad(list, "edge.mpg", 0), nullptr);
}

// The render pass draws a movie sprite on the game thread while another
// thread drives the exports (run under ThreadSanitizer too).
TEST_F(MovieSpriteTest, DrawWhileAnotherThreadControls) {
  KivSprite* s = KivMSpriteLoad(list, "movie.mpg", 0);
  ASSERT_NE(s, nullptr);
  std::atomic<bool> done{false};
  std::thread control([&] {
    for (int i = 0; i < 200 && !done; ++i) {
      KivMSpritePlay(s, i & 1);
      KivMSpriteLock(s);
      KivMSpriteGetState(s);
      KivMSpriteUnlock(s);
      KivMSpriteStop(s);
    }
  });
  for (int i = 0; i < 200; ++i) {
    plat::AdvanceVirtualClock(7);
    KivMovieSpritesStep();
    KivRenderFrame();
  }
  done = true;
  control.join();
  EXPECT_GE(FrameShown(s), 0);
}

namespace {

class MemorySource final : public plat::MovieSource {
 public:
  explicit MemorySource(Bytes b) : b_(std::move(b)) {}
  int Read(void* buf, int n) override {
    const int64_t k = std::min<int64_t>(n, static_cast<int64_t>(b_.size()) - pos_);
    std::memcpy(buf, b_.data() + pos_, static_cast<size_t>(k));
    pos_ += k;
    return static_cast<int>(k);
  }
  bool SetPointer(int64_t p) override {
    if (p < 0 || p > static_cast<int64_t>(b_.size())) return false;
    pos_ = p;
    return true;
  }
  int64_t Position() override { return pos_; }
  int64_t Size() override { return static_cast<int64_t>(b_.size()); }

 private:
  Bytes b_;
  int64_t pos_ = 0;
};

}  // namespace

// The real backend's decode thread gives exactly the frames the caller's
// own decoding gives, forwards, backwards and past the end.
TEST(MovieDecoding, DecodeThreadGivesTheCallersFrames) {
  const Bytes clip = Movie(20);
  std::string error;
  auto sync = plat::OpenMovie(std::make_unique<MemorySource>(clip), nullptr, nullptr, &error,
                              plat::MovieDecoding::kOnCaller);
  auto ahead = plat::OpenMovie(std::make_unique<MemorySource>(clip), nullptr, nullptr, &error,
                               plat::MovieDecoding::kDecodeThread);
  ASSERT_TRUE(sync && ahead) << error;
  const int w = sync->Info().width, h = sync->Info().height;
  std::vector<uint32_t> a(static_cast<size_t>(w) * h), b(a.size());
  for (int64_t index : {0, 1, 2, 5, 9, 3, 0, 19, 12, 25}) {
    SCOPED_TRACE(index);
    const int want = sync->Advance(index);
    int got = -1;
    // The thread may not have reached the frame (or the end) yet: ask
    // again meanwhile.
    for (int tries = 0; tries < 400; ++tries) {
      got = ahead->Advance(index);
      if (got == want && ahead->CurrentIndex() == sync->CurrentIndex()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(got, want);
    ASSERT_EQ(ahead->CurrentIndex(), sync->CurrentIndex());
    ASSERT_TRUE(sync->CopyFrame(a.data(), w));
    ASSERT_TRUE(ahead->CopyFrame(b.data(), w));
    EXPECT_EQ(a, b);
    EXPECT_EQ(kivtools::ReadMovieFrameNumber(b.data(), w, h, w), std::min<int64_t>(index, 19));
  }
  std::vector<uint32_t> big(640 * 480);
  EXPECT_TRUE(ahead->CopyFrameScaled(big.data(), 640, 480, 640));
  EXPECT_EQ(kivtools::ReadMovieFrameNumber(big.data(), 640, 480, 640), 19);
}

namespace {

struct Heard {
  std::vector<int16_t> samples;  // left channel
  int rate = 0, channels = 0, group = 0, opened = 0, closed = 0;
} g_heard;

KivMovieAudioStream* HeardOpen(int rate, int channels, int group) {
  g_heard.rate = rate;
  g_heard.channels = channels;
  g_heard.group = group;
  ++g_heard.opened;
  return reinterpret_cast<KivMovieAudioStream*>(&g_heard);
}
void HeardWrite(KivMovieAudioStream*, const int16_t* s, int frames) {
  for (int i = 0; i < frames; ++i) g_heard.samples.push_back(s[i * g_heard.channels]);
}
void HeardClose(KivMovieAudioStream*) { ++g_heard.closed; }

}  // namespace

// The movie's sound as the mixer will receive it: the maker's 1 kHz tone at
// half of full scale, 44.1 kHz stereo, on the sprites' volume group (3) and
// the full-window group (2).
TEST_F(MovieSpriteTest, TheToneReachesTheSoundOutputIntact) {
  g_heard = Heard{};
  struct Unhook {
    KivMovieAudioOut saved = g_kivMovieAudio;
    ~Unhook() { g_kivMovieAudio = saved; }
  } unhook;
  g_kivMovieAudio = {HeardOpen, HeardWrite, HeardClose, nullptr, nullptr};
  KivSprite* s = KivMSpriteLoad(list, "movie.mpg", 0);
  ASSERT_NE(s, nullptr);
  KivMSpritePlay(s, 0);
  for (int i = 0; i < 15; ++i) Frame(40);
  EXPECT_EQ(KivMSpriteGetState(s), 6);
  KivSpriteRelease(list, s);
  EXPECT_EQ(g_heard.opened, 1);
  EXPECT_EQ(g_heard.closed, 1);
  EXPECT_EQ(g_heard.group, 3);
  EXPECT_EQ(g_heard.rate, 44100);
  EXPECT_EQ(g_heard.channels, 2);
  ASSERT_GT(g_heard.samples.size(), 44100u / 4);
  // Away from the encoder's start-up: level and pitch.
  const std::vector<int16_t> body(g_heard.samples.begin() + 4410, g_heard.samples.end() - 2205);
  double sum = 0;
  int crossings = 0;
  for (size_t i = 0; i < body.size(); ++i) {
    sum += static_cast<double>(body[i]) * body[i];
    if (i && (body[i - 1] < 0) != (body[i] < 0)) ++crossings;
  }
  const double rms = std::sqrt(sum / static_cast<double>(body.size())) / 32767.0;
  EXPECT_NEAR(rms, 0.5 / std::sqrt(2.0), 0.5 / std::sqrt(2.0) * 0.02);
  const double hz = crossings / 2.0 / (static_cast<double>(body.size()) / 44100.0);
  EXPECT_NEAR(hz, 1000.0, 10.0);

  g_heard = Heard{};
  ASSERT_EQ(KivVideoPlay("movie.mpg"), 1);
  for (int i = 0; i < 5; ++i) {
    plat::AdvanceVirtualClock(40);
    KivVideoStep();
  }
  KivVideoClose(0);
  EXPECT_EQ(g_heard.group, 2);
  EXPECT_EQ(g_heard.closed, 1);
}

namespace {

// With the GPU renderer a movie sprite's surface is a power of two: frames
// fill its top-left corner and are drawn from there.
class GpuMovieSpriteTest : public MovieSpriteTest {
 protected:
  void AdjustParams() override {
    Kiv3DAllowHeadless(true);
    params.mode |= KIV_MODE_GPU;
  }
  void TearDown() override {
    MovieSpriteTest::TearDown();
    Kiv3DAllowHeadless(false);
  }
};

TEST_F(GpuMovieSpriteTest, FramesReachThePowerOfTwoSurface) {
  if (!Kiv3DIs()) GTEST_SKIP() << "no OpenGL 3.3 here";
  KivSprite* s = KivMSpriteLoad(list, "movie.mpg", 0);
  ASSERT_NE(s, nullptr);
  int w = 0, h = 0;
  ASSERT_NE(KivSoftSurfacePixels(static_cast<KivSoftSurface*>(s->surface), &w, &h), nullptr);
  EXPECT_EQ(w, 256);
  EXPECT_EQ(h, 128);
  KivMSpritePlay(s, 0);
  Frame(120);
  uint32_t* px = KivSoftSurfacePixels(static_cast<KivSoftSurface*>(s->surface), &w, &h);
  EXPECT_EQ(kivtools::ReadMovieFrameNumber(px, 160, 120, w), 3) << "the picture, rows a surface width apart";
  EXPECT_EQ(KivRenderFrame(), 1);
}

}  // namespace
