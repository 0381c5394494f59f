// Scripted headless runs of the demo game: the input script's syntax, runs
// that repeat byte for byte (frames and sound), the end after a frame count,
// the close button from the script, and a script with a fault refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/core/scripted_run.h"
#include "platform/input/input.h"
#include "platform/window/png_capture.h"
#include "support/game_process.h"

namespace {

using plat::ScriptedEvent;
using testgame::FileExists;
using testgame::GameFolder;
using testgame::ReadFile;

const std::string kGame = DEMO_GAME_DIR;

TEST(InputScript, EventsComeInFrameOrder) {
  const std::string text =
      "# the title\n"
      "10 key down Space\n"
      "+2 key Space up   # two frames later\n"
      "20 press Esc\n"
      "30 mouse move 640 360\n"
      "+0 mouse down left\n"
      "31 mouse up right 10 20\n"
      "40 click middle 1 2\n"
      "40 key a down\n"
      "50 close\n";
  std::vector<ScriptedEvent> ev;
  std::string error;
  ASSERT_TRUE(plat::ParseInputScript(text, &ev, &error)) << error;
  struct Want {
    uint32_t frame;
    ScriptedEvent::Kind kind;
    int code;
    bool down;
    int x, y;
  } want[] = {
      {10, ScriptedEvent::kKey, plat::vk::kSpace, true, 0, 0},
      {12, ScriptedEvent::kKey, plat::vk::kSpace, false, 0, 0},
      {20, ScriptedEvent::kKey, plat::vk::kEscape, true, 0, 0},
      {21, ScriptedEvent::kKey, plat::vk::kEscape, false, 0, 0},
      {30, ScriptedEvent::kMouseMove, 0, false, 640, 360},
      {30, ScriptedEvent::kMouseButton, plat::vk::kLButton, true, 0, 0},
      {31, ScriptedEvent::kMouseMove, 0, false, 10, 20},
      {31, ScriptedEvent::kMouseButton, plat::vk::kRButton, false, 0, 0},
      {40, ScriptedEvent::kMouseMove, 0, false, 1, 2},
      {40, ScriptedEvent::kMouseButton, plat::vk::kMButton, true, 0, 0},
      {40, ScriptedEvent::kKey, 'A', true, 0, 0},
      {41, ScriptedEvent::kMouseButton, plat::vk::kMButton, false, 0, 0},
      {50, ScriptedEvent::kClose, 0, false, 0, 0},
  };
  ASSERT_EQ(ev.size(), std::size(want));
  for (size_t i = 0; i < ev.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ev[i].frame, want[i].frame);
    EXPECT_EQ(ev[i].kind, want[i].kind);
    if (want[i].kind == ScriptedEvent::kMouseMove) {
      EXPECT_EQ(ev[i].x, want[i].x);
      EXPECT_EQ(ev[i].y, want[i].y);
    } else if (want[i].kind != ScriptedEvent::kClose) {
      EXPECT_EQ(ev[i].code, want[i].code);
      EXPECT_EQ(ev[i].down, want[i].down);
    }
  }
}

TEST(InputScript, FaultsNameTheirLine) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"10 key down Space\n5 close\n", "line 2: frame 5 comes before frame 10"},
      {"10 key down Hyper\n", "line 1: unknown key \"Hyper\""},
      {"x close\n", "line 1: bad frame number \"x\""},
      {"0 close\n", "line 1: bad frame number \"0\""},
      {"\n\n3 mouse move 1\n", "line 3: usage: mouse move X Y"},
      {"3 click thumb 1 2\n", "line 1: unknown button \"thumb\""},
      {"3 key Space sideways\n", "line 1: a key goes down or up"},
      {"3 dance\n", "line 1: unknown event \"dance\""},
      {"3\n", "line 1: no event"},
      {"+x close\n", "line 1: bad frame step \"+x\""},
  };
  for (const Case& c : cases) {
    std::vector<ScriptedEvent> ev;
    std::string error;
    EXPECT_FALSE(plat::ParseInputScript(c.text, &ev, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(FrameClock, FramesStartAtSixtiethsOfASecond) {
  EXPECT_EQ(plat::FrameClockTimeOf(1), 0u);
  EXPECT_EQ(plat::FrameClockTimeOf(2), 16u);
  EXPECT_EQ(plat::FrameClockTimeOf(4), 50u);
  EXPECT_EQ(plat::FrameClockTimeOf(61), 1000u);
  EXPECT_EQ(plat::FrameClockTimeOf(3601), 60000u);
}

// A short run of the demo: the opening movie skipped, the first scene
// coming in, with three frames and the whole sound captured.
struct DemoRun {
  testgame::RunResult result;
  std::vector<std::string> frames;  // PNG bytes of the captured frames
  std::string wav;
};

DemoRun RunDemo(const GameFolder& game, const std::string& script, const std::string& captures, int frames,
                std::vector<std::string> extra = {}) {
  const std::string script_file = game.dir() + "/input.txt";
  std::ofstream(script_file) << script;
  std::vector<std::string> env = {"KIV_HEADLESS_CLOCK=virtual", "KIV_INPUT_SCRIPT=" + script_file,
                                  "KIV_CAPTURE_FRAMES=" + captures, "KIV_CAPTURE_DIR=" + game.dir(),
                                  "KIV_CAPTURE_SOUND=" + game.dir() + "/run.wav",
                                  "KIV_RUN_FRAMES=" + std::to_string(frames)};
  env.insert(env.end(), extra.begin(), extra.end());
  DemoRun run;
  run.result = game.Run(env);
  for (size_t at = 0; at <= captures.size();) {
    size_t end = captures.find(',', at);
    if (end == std::string::npos) end = captures.size();
    run.frames.push_back(ReadFile(plat::CaptureFramePath(game.dir(), std::stoul(captures.substr(at, end - at)))));
    at = end + 1;
  }
  run.wav = ReadFile(game.dir() + "/run.wav");
  return run;
}

const char kSkipMovie[] = "20 press Escape\n60 click left 640 400\n";

// Both renderers: the software one, and the GPU one on the headless device.
class ScriptedRunOn : public ::testing::TestWithParam<bool> {
 protected:
  std::vector<std::string> Renderer() const {
    if (!GetParam()) return {};
    return {"KIV_HEADLESS_GPU=1", "LP_NUM_THREADS=0"};
  }
};

TEST_P(ScriptedRunOn, TheSameScriptGivesTheSameFramesAndSound) {
  GameFolder a(kGame), b(kGame);
  DemoRun first = RunDemo(a, kSkipMovie, "10,90,200", 200, Renderer());
  DemoRun second = RunDemo(b, kSkipMovie, "10,90,200", 200, Renderer());
  // Without a device the start-up warning says the software renderer draws.
  if (GetParam() && first.result.err.find("DIB") != std::string::npos) GTEST_SKIP() << "no GPU device here";
  ASSERT_EQ(first.result.exit_code, 0) << first.result.err;
  ASSERT_EQ(second.result.exit_code, 0) << second.result.err;
  ASSERT_EQ(first.frames.size(), 3u);
  for (size_t i = 0; i < first.frames.size(); ++i) {
    ASSERT_FALSE(first.frames[i].empty()) << i;
    EXPECT_TRUE(first.frames[i] == second.frames[i]) << "frame " << i << " differs between two runs";
  }
  // The frames show the run moving on: the movie, then the first scene.
  EXPECT_NE(first.frames[0], first.frames[1]);
  EXPECT_NE(first.frames[1], first.frames[2]);
  // The whole run's sound: 200 frames are 3.3 s; the music is playing.
  ASSERT_GT(first.wav.size(), 44u + 3u * 44100u * 4u);
  EXPECT_TRUE(first.wav == second.wav) << "the sound differs between two runs";
  bool loud = false;
  for (size_t i = 44; i + 1 < first.wav.size() && !loud; i += 2) {
    int16_t v = static_cast<int16_t>(static_cast<uint8_t>(first.wav[i]) | static_cast<uint8_t>(first.wav[i + 1]) << 8);
    loud = v > 1000 || v < -1000;
  }
  EXPECT_TRUE(loud) << "the run's sound is silent";
  // The end after the last frame is the orderly one: the player's files are written.
  EXPECT_TRUE(FileExists(a.save("system.dat")));
  EXPECT_TRUE(FileExists(a.save("config.dat")));
}

INSTANTIATE_TEST_SUITE_P(Renderers, ScriptedRunOn, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Gpu" : "Software"; });

TEST(ScriptedRun, TheCloseButtonAsksAndEndsOnYes) {
  GameFolder game(kGame);
  // Headless, the GPU renderer is not there: the start-up warning comes
  // first. The first close is answered No and the game goes on; the second, Yes.
  DemoRun run = RunDemo(game, std::string(kSkipMovie) + "100 close\n150 close\n", "120,149,160", 400,
                        {"KIV_BOX_ANSWERS=ok,no,yes"});  // the start-up warning, then the two questions
  EXPECT_EQ(run.result.exit_code, 0) << run.result.err;
  EXPECT_FALSE(run.result.timed_out);
  EXPECT_FALSE(run.frames[0].empty());
  EXPECT_FALSE(run.frames[1].empty());
  EXPECT_TRUE(run.frames[2].empty()) << "a frame ran after the Yes";
  size_t asked = 0;
  for (size_t at = 0; (at = run.result.err.find("本当に終了しますか？", at)) != std::string::npos; ++at) ++asked;
  EXPECT_EQ(asked, 2u) << run.result.err;
  EXPECT_TRUE(FileExists(game.save("system.dat")));
}

TEST(ScriptedRun, AFaultySettingIsRefusedWithItsReason) {
  GameFolder game(kGame);
  DemoRun run = RunDemo(game, "10 press Space\n12 key Hyper down\n", "10", 30);
  EXPECT_EQ(run.result.exit_code, 2);
  EXPECT_NE(run.result.err.find("line 2: unknown key \"Hyper\""), std::string::npos) << run.result.err;
  EXPECT_TRUE(run.frames[0].empty());
  testgame::RunResult bad = game.Run({"KIV_HEADLESS_CLOCK=virtual", "KIV_RUN_FRAMES=ten"});
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_NE(bad.err.find("KIV_RUN_FRAMES"), std::string::npos) << bad.err;
}

}  // namespace
