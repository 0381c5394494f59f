// Full-window movies through the running engine (headless window, virtual
// clock): the frames shown are read back from what the window presented;
// the end and Escape hand the screen back to the game; a screen-mode change
// keeps the position; frames match reviewed goldens windowed and in full
// screen with bars.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "movie/movie.h"
#include "movie_maker.h"
#include "platform/core/clock.h"
#include "platform/input/input.h"
#include "platform/window/cursor.h"
#include "platform/window/display.h"
#include "platform/window/png_capture.h"
#include "platform/window/window.h"
#include "support/engine_fixture.h"

using namespace kivtest;

namespace {

struct Seen {
  int movie;  // IsMovie
  int frame;  // the frame number presented, -1 unreadable
  bool cursor;  // the mouse cursor shows
};

std::vector<Seen> g_seen;
std::function<void(int)> g_onFrame;
plat::Frame g_captured[2];

class VideoPlayTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    char tmpl[] = "/tmp/kivvideoXXXXXX";
    dir = mkdtemp(tmpl);
    kivtools::MovieSpec spec;
    spec.frames = 20;
    spec.width = 240;  // 4:3 shown in a 16:9 window: stretched
    spec.height = 180;
    std::string error;
    ASSERT_TRUE(kivtools::WriteMovie(dir + "/CLIP.MPG", spec, &error)) << error;
    g_seen.clear();
    g_onFrame = nullptr;
    plat::HeadlessInputReset();
    plat::HeadlessCursorReset();
  }
  void TearDown() override {
    EngineTest::TearDown();
    plat::HeadlessInputReset();
    plat::SetHeadlessMonitors({{0, 0, 1920, 1080}});
    ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
  }
  // Runs the engine: frame 1 starts the movie; every frame records what the
  // window shows; the engine ends a few frames after the movie.
  void Play() {
    g_start = [] {
      KivRenderSetActive(KivRenderInit());
      return KivTaskCreate(TaskThunk, nullptr, 4, nullptr, KIV_TASK_BEHIND, nullptr, "t") != nullptr;
    };
    g_end = [](void*) {
      KivRenderList* l = KivRenderGetActive();
      KivRenderSetActive(nullptr);
      KivRenderUninit(l);
    };
    static int frame;
    static int after;
    frame = 0;
    after = 0;
    g_task = [](void*) {
      ++frame;
      auto* w = static_cast<plat::Window*>(KivGetWindowHandle());
      if (frame == 1) {
        EXPECT_EQ(KivVideoPlay("clip.mpg"), 1);
        EXPECT_EQ(KivVideoPlay("clip.mpg"), 0) << "a second movie while one plays";
        EXPECT_EQ(IsMovie(), 1);
        return 1;
      }
      plat::Frame f = w->backend()->LastFrame();
      const int n = f.pixels.empty() ? -2
                                     : kivtools::ReadMovieFrameNumber(f.pixels.data(), f.width, f.height, f.width);
      g_seen.push_back({IsMovie(), n, plat::HeadlessCursorRecord().shown});
      if (g_onFrame) g_onFrame(frame);
      if (!IsMovie() && ++after == 3) KivEnd();
      if (frame > 400) KivEnd();
      return 1;
    };
    ASSERT_EQ(KivInit(&params), 1);
    ASSERT_EQ(KivSystemPathSet(dir.c_str()), 1);
    EXPECT_EQ(KivRun(), 0);
  }
  int LastMovieFrame() const {
    int last = -1;
    for (const Seen& s : g_seen)
      if (s.movie) last = std::max(last, s.frame);
    return last;
  }
  void ExpectGolden(const char* name, const plat::Frame& f) {
    const std::string golden = std::string(KIV_GOLDEN_DIR) + "/" + name;
    if (const char* u = std::getenv("KIV_UPDATE_GOLDEN"); u && std::string(u) == "1") {
      ASSERT_TRUE(plat::CapturePng(golden, f.pixels.data(), f.width, f.height, f.width));
    }
    std::vector<uint32_t> want;
    int w = 0, h = 0;
    ASSERT_TRUE(plat::ReadPng(golden, &want, &w, &h)) << golden;
    ASSERT_EQ(w, f.width);
    ASSERT_EQ(h, f.height);
    int differ = 0;
    for (size_t i = 0; i < want.size(); ++i) {
      for (int c = 0; c < 24; c += 8)
        if (std::abs(static_cast<int>((want[i] >> c) & 0xFF) - static_cast<int>((f.pixels[i] >> c) & 0xFF)) > 2) {
          ++differ;
          break;
        }
    }
    EXPECT_EQ(differ, 0) << "pixels differing from " << golden;
  }
  std::string dir;
};

}  // namespace

TEST_F(VideoPlayTest, PlaysToItsEndThenTheGameDrawsAgain) {
  g_onFrame = [](int frame) {
    if (frame == 12) g_captured[0] = static_cast<plat::Window*>(KivGetWindowHandle())->backend()->LastFrame();
  };
  Play();
  ASSERT_FALSE(g_seen.empty());
  EXPECT_EQ(g_seen.front().movie, 1);
  EXPECT_EQ(g_seen.back().movie, 0);
  EXPECT_GE(LastMovieFrame(), 18);
  // Frame numbers only go forward.
  int previous = -1;
  for (const Seen& s : g_seen)
    if (s.movie && s.frame >= 0) {
      EXPECT_GE(s.frame, previous);
      previous = s.frame;
    }
  ExpectGolden("movie_window.png", g_captured[0]);
  // The cursor is hidden over the movie and shows again once the game draws.
  for (size_t i = 1; i < g_seen.size(); ++i)
    if (g_seen[i].movie) {
      EXPECT_FALSE(g_seen[i].cursor) << "movie frame " << i;
    }
  EXPECT_TRUE(g_seen.back().cursor);
}

TEST_F(VideoPlayTest, EscapeEndsItAtOnce) {
  g_onFrame = [](int frame) {
    if (frame == 10) plat::HeadlessSetKey(plat::vk::kEscape, true);
    if (frame == 11) plat::HeadlessSetKey(plat::vk::kEscape, false);
  };
  Play();
  EXPECT_LE(LastMovieFrame(), 8);
  EXPECT_EQ(g_seen.back().movie, 0);
  EXPECT_TRUE(g_seen.back().cursor) << "the cursor is back after an ended movie";
}

TEST_F(VideoPlayTest, AModeChangeKeepsThePositionAndShowsBarsInFullScreen) {
  plat::SetHeadlessMonitors({{0, 0, 640, 480}});
  params.aspect = 1;  // keep the 16:9 screen's ratio: bars above and below
  static int before;
  before = -1;
  g_onFrame = [](int frame) {
    if (frame == 12) {
      before = g_seen.back().frame;
      KivWindowChangeMode(1);
    }
    if (frame == 20) g_captured[1] = static_cast<plat::Window*>(KivGetWindowHandle())->backend()->LastFrame();
  };
  Play();
  ASSERT_GT(before, 3);
  // After the change the movie goes on from where it was, not from frame 0.
  bool after = false;
  for (size_t i = 12; i < g_seen.size(); ++i)
    if (g_seen[i].movie && g_seen[i].frame >= 0) {
      EXPECT_GE(g_seen[i].frame, before) << "frame " << i;
      after = true;
    }
  EXPECT_TRUE(after);
  EXPECT_GE(LastMovieFrame(), 18);
  ExpectGolden("movie_full_screen.png", g_captured[1]);
}

// A restart that cannot open the movie again ends it instead of leaving the
// game waiting on a movie that no longer plays.
TEST_F(VideoPlayTest, AFailedRestartEndsTheMovie) {
  ASSERT_EQ(KivInit(&params), 1);
  ASSERT_EQ(KivSystemPathSet(dir.c_str()), 1);
  ASSERT_EQ(KivVideoPlay("clip.mpg"), 1);
  EXPECT_EQ(IsMovie(), 1);
  KivMovieStopForRestart();
  EXPECT_EQ(IsMovie(), 1) << "stopped for a restart, still the movie's screen";
  ASSERT_EQ(std::remove((dir + "/CLIP.MPG").c_str()), 0);
  const uint32_t before = plat::TimeGetMs();
  EXPECT_EQ(KivVideoRestart(), 0);
  EXPECT_GE(plat::TimeGetMs() - before, 1000u) << "11 tries, 100 ms apart";
  EXPECT_EQ(IsMovie(), 0);
  EXPECT_EQ(KivVideoPlay("clip.mpg"), 0);
}
