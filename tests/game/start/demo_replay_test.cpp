// The demo game played by the real program, headless, from the input scripts
// in demo/replays/: on the virtual clock a run is frame-exact, so the frame
// after a load can be compared with the frame at the save pixel for pixel.
// Each run plays in a game folder of its own (its own save/, a private
// XDG_RUNTIME_DIR), killed with its process group when it overruns.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "platform/window/png_capture.h"
#include "support/frame_parity.h"
#include "support/game_process.h"
#include "support/golden_frame.h"

namespace {

using testgame::FileExists;
using testgame::GameFolder;
using testgame::ReadFile;
using testgame::RunResult;

const std::string kGame = DEMO_GAME_DIR;
const std::string kReplays = std::string(DEMO_SOURCE_DIR) + "/replays/";

// Frames of save.txt: the title, and the line of slot 3 once the game stands
// on it again; of load.txt: the save screen with the mouse over slot 3, and
// the frames after the load (the click-wait icon cycles, so the saved frame
// is one of them).
constexpr int kSaveTitleFrame = 80, kSavedLineFrame = 1230, kSaveRunFrames = 1300;
constexpr int kLoadScreenFrame = 149, kLoadRunFrames = 320;
// Of full.txt: the backlog open, the night's title band, and the second
// round begun. The scene sets after the band come in an order `random`
// draws afresh each run, so the frames compared lie before them.
constexpr int kBacklogFrame = 2420, kBandFrame = 3000, kFullRunFrames = 4700;

struct Renderer {
  const char* name;
  std::vector<std::string> env;
};
const Renderer kRenderers[] = {{"software", {}}, {"GPU", {"KIV_HEADLESS_GPU=1", "LP_NUM_THREADS=0"}}};

std::string Frames(int from, int to) {
  std::string list;
  for (int f = from; f <= to; ++f) list += (list.empty() ? "" : ",") + std::to_string(f);
  return list;
}

// A scripted run of one replay (in demo/replays/, or a whole path), its
// frames captured into dir.
RunResult Play(const GameFolder& g, const std::string& script, int frames, const std::string& captures,
               const std::string& dir, std::vector<std::string> env) {
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  const std::string path = script.front() == '/' ? script : kReplays + script;
  env.insert(env.end(), {"KIV_HEADLESS_CLOCK=virtual", "KIV_INPUT_SCRIPT=" + path,
                         "KIV_RUN_FRAMES=" + std::to_string(frames), "KIV_CAPTURE_FRAMES=" + captures,
                         "KIV_CAPTURE_DIR=" + dir, "TZ=UTC"});
  return g.Run(env, 200);
}

std::string Shot(const std::string& dir, int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%06d.png", frame);
  return dir + name;
}

std::vector<uint32_t> Pixels(const std::string& png) {
  std::vector<uint32_t> px;
  int w = 0, h = 0;
  if (!plat::ReadPng(png, &px, &w, &h) || w != 1280 || h != 720) px.clear();
  return px;
}

// The first of the frames from..to that equals want, or 0.
int FirstEqual(const std::string& dir, int from, int to, const std::vector<uint32_t>& want) {
  for (int f = from; f <= to; ++f)
    if (!want.empty() && Pixels(Shot(dir, f)) == want) return f;
  return 0;
}

// The save files' dates and times show on the save screen: one fixed moment.
void FixSaveTimes(const GameFolder& g) {
  for (const char* slot : {"save000.dat", "save001.dat", "save002.dat"})
    std::system(("touch -d '2026-12-10 21:30:00 UTC' '" + g.save(slot) + "'").c_str());
}

// Save to slot 3 from the pause menu, quit by the close button (Yes); then
// "つづきから" and "ロード", slot 3: each comes back to the saved line, frame
// for frame, on both renderers.
TEST(DemoReplay, LoadAndResumeShowTheSavedLine) {
  for (const Renderer& r : kRenderers) {
    SCOPED_TRACE(r.name);
    GameFolder g(kGame);
    ASSERT_FALSE(g.dir().empty());
    std::vector<std::string> env = r.env;
    env.push_back("KIV_BOX_ANSWERS=yes");
    const RunResult save = Play(g, "save.txt", kSaveRunFrames, std::to_string(kSaveTitleFrame) + "," +
                                    std::to_string(kSavedLineFrame), g.dir() + "/saving", env);
    ASSERT_EQ(save.exit_code, 0) << save.err;
    EXPECT_NE(save.err.find("本当に終了しますか"), std::string::npos) << "quit by the close button";
    for (const char* f : {"save000.dat", "save001.dat", "save002.dat", "continue.dat"})
      EXPECT_TRUE(FileExists(g.save(f))) << f;
    const std::vector<uint32_t> saved = Pixels(Shot(g.dir() + "/saving", kSavedLineFrame));
    ASSERT_FALSE(saved.empty());
    if (std::string(r.name) == "software") {
      expect_golden_frame("demo_title.png", Pixels(Shot(g.dir() + "/saving", kSaveTitleFrame)).data());
    }

    const RunResult resume = Play(g, "continue.txt", 280, Frames(180, 280), g.dir() + "/resumed", r.env);
    ASSERT_EQ(resume.exit_code, 0) << resume.err;
    EXPECT_NE(FirstEqual(g.dir() + "/resumed", 180, 280, saved), 0) << "つづきから: the frame of the quit";

    FixSaveTimes(g);
    const RunResult load = Play(g, "load.txt", kLoadRunFrames,
                                std::to_string(kLoadScreenFrame) + "," + Frames(240, kLoadRunFrames), g.dir() + "/loaded", r.env);
    ASSERT_EQ(load.exit_code, 0) << load.err;
    EXPECT_NE(FirstEqual(g.dir() + "/loaded", 240, kLoadRunFrames, saved), 0) << "ロード, slot 3: the frame of the save";
    if (std::string(r.name) == "software") {
      // Three used slots, the newest (3) tagged, the mouse over it.
      expect_golden_frame("demo_save_screen.png", Pixels(Shot(g.dir() + "/loaded", kLoadScreenFrame)).data());
    } else {
      // The GPU renderer shows the same screen, thumbnails included (their
      // sprites' surfaces are powers of two there, wider than the pictures).
      std::vector<uint32_t> golden;
      int gw = 0, gh = 0;
      ASSERT_TRUE(plat::ReadPng(std::string(KIV_GOLDEN_DIR) + "/demo_save_screen.png", &golden, &gw, &gh));
      const kivtest::FrameParity p = kivtest::CompareFrames(golden, Pixels(Shot(g.dir() + "/loaded", kLoadScreenFrame)),
                                                          gw, gh, g.dir() + "/save-screen");
      EXPECT_TRUE(p.ok) << "the GPU save screen: " << p.Describe();
    }
  }
}

// A damaged slot chosen on the load screen: the game goes on on that screen
// as it was, the file stays as it is.
TEST(DemoReplay, ADamagedSlotLeavesTheGameAndTheFileAsTheyWere) {
  GameFolder g(kGame);
  ASSERT_FALSE(g.dir().empty());
  ASSERT_EQ(Play(g, "save.txt", kSaveRunFrames, "1", g.dir() + "/saving", {"KIV_BOX_ANSWERS=yes"}).exit_code, 0);
  const std::string whole = ReadFile(g.save("save002.dat"));
  ASSERT_GT(whole.size(), 3000u);
  // Cut short inside its thumbnail.
  std::system(("truncate -s 3000 '" + g.save("save002.dat") + "'").c_str());
  const std::string damaged = ReadFile(g.save("save002.dat"));
  const RunResult load = Play(g, "load.txt", kLoadRunFrames,
                              std::to_string(kLoadScreenFrame) + ",200," + std::to_string(kLoadRunFrames),
                              g.dir() + "/loaded", {"KIV_BOX_ANSWERS=ok,ok,ok"});
  EXPECT_EQ(load.exit_code, 0) << "the game ran on to its end: " << load.err;
  EXPECT_EQ(ReadFile(g.save("save002.dat")), damaged) << "the slot file is left alone";
  const std::vector<uint32_t> before = Pixels(Shot(g.dir() + "/loaded", kLoadScreenFrame));
  ASSERT_FALSE(before.empty());
  for (int f : {200, kLoadRunFrames}) EXPECT_EQ(Pixels(Shot(g.dir() + "/loaded", f)), before) << "frame " << f;
}

// The whole demo from its title through every scene (full.txt) twice: the
// same frames and the same sound, byte for byte; its backlog as reviewed.
TEST(DemoReplay, TheWholeDemoPlaysTheSameTwice) {
  GameFolder g(kGame);
  ASSERT_FALSE(g.dir().empty());
  std::string bytes[2][2];
  for (int run = 0; run < 2; ++run) {
    const std::string dir = g.dir() + "/run" + std::to_string(run);
    std::system(("rm -rf '" + g.dir() + "/save' && mkdir -p '" + g.dir() + "/save'").c_str());
    const RunResult r = Play(g, "full.txt", kFullRunFrames, std::to_string(kBacklogFrame) + "," +
                             std::to_string(kBandFrame), dir, {"KIV_CAPTURE_SOUND=" + dir + "/sound.wav"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    bytes[run][0] = ReadFile(Shot(dir, kBacklogFrame)) + ReadFile(Shot(dir, kBandFrame));
    ASSERT_GT(bytes[run][0].size(), 2000u);
    bytes[run][1] = ReadFile(dir + "/sound.wav");
    ASSERT_GT(bytes[run][1].size(), 44u);
    if (run == 0) expect_golden_frame("demo_backlog.png", Pixels(Shot(dir, kBacklogFrame)).data());
  }
  EXPECT_TRUE(bytes[0][0] == bytes[1][0]) << "the frames";
  EXPECT_TRUE(bytes[0][1] == bytes[1][1]) << "the sound";
}

// The opening movie (the demo archive linked in), stopped by Escape at
// frame 20, and the title fading in from its last frame, twice: the same
// frames, byte for byte, however the decoder's thread and the window's
// thread are scheduled; the movie frame shows at frame 10. (The movie's
// sound is handed on as it is decoded, so a loaded machine can mix it a
// frame apart: it is not compared.)
TEST(DemoReplay, TheOpeningMovieAndItsEndPlayTheSameTwice) {
  GameFolder g(kGame);
  ASSERT_FALSE(g.dir().empty());
  ASSERT_EQ(::symlink((kGame + "/demo.pac").c_str(), (g.dir() + "/demo.pac").c_str()), 0);
  const int frames[] = {10, 20, 22, 25, 30, 50, 75};
  std::string captures;
  for (int f : frames) captures += (captures.empty() ? "" : ",") + std::to_string(f);
  std::vector<std::string> bytes[2];
  for (int run = 0; run < 2; ++run) {
    const std::string dir = g.dir() + "/run" + std::to_string(run);
    std::system(("rm -rf '" + g.dir() + "/save' && mkdir -p '" + g.dir() + "/save'").c_str());
    const RunResult r = Play(g, "parity.txt", 90, captures, dir, {});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (int f : frames) bytes[run].push_back(ReadFile(Shot(dir, f)));
    const std::vector<uint32_t> movie = Pixels(Shot(dir, 10));
    ASSERT_FALSE(movie.empty());
    EXPECT_NE(movie, Pixels(Shot(dir, 75))) << "frame 10 is the movie, 75 the title";
  }
  for (size_t i = 0; i < std::size(frames); ++i) EXPECT_TRUE(bytes[0][i] == bytes[1][i]) << "frame " << frames[i];
}

// A right click while the name is entered opens no pause menu (the entry's
// field would stand in front of it): the frames are those of a run without
// the click. Once the name is taken the right click opens the menu again.
TEST(DemoReplay, ThePauseMenuWaitsUntilTheNameIsEntered) {
  GameFolder g(kGame);
  ASSERT_FALSE(g.dir().empty());
  struct Run {
    const char* name;
    std::string script;
  } runs[] = {{"plain", "90 click left 640 330\n500 press Space\n560 click left 484 355\n"},
              {"clicked", "90 click left 640 330\n500 press Space\n530 click right 640 360\n"
                          "560 click left 484 355\n700 click right 640 360\n"}};
  const int frames[] = {545, 630, 720};
  std::vector<uint32_t> shot[2][3];
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(runs[i].name);
    const std::string script = g.dir() + "/" + runs[i].name + ".txt";
    {
      std::FILE* f = std::fopen(script.c_str(), "w");
      ASSERT_NE(f, nullptr);
      std::fputs(runs[i].script.c_str(), f);
      std::fclose(f);
    }
    std::system(("rm -rf '" + g.dir() + "/save' && mkdir -p '" + g.dir() + "/save'").c_str());
    const std::string dir = g.dir() + "/" + runs[i].name;
    const RunResult r = Play(g, script, 740, "545,630,720", dir, {});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (int k = 0; k < 3; ++k) {
      shot[i][k] = Pixels(Shot(dir, frames[k]));
      ASSERT_FALSE(shot[i][k].empty()) << frames[k];
    }
  }
  EXPECT_TRUE(shot[0][0] == shot[1][0]) << "frame 545: the name entry, no menu over it";
  EXPECT_TRUE(shot[0][1] == shot[1][1]) << "frame 630: the name taken, no menu left behind";
  EXPECT_FALSE(shot[0][2] == shot[1][2]) << "frame 720: the menu opened over a line";
}

}  // namespace
