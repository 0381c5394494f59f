// The demo game as a player sees it, on both renderers: the program run
// headless on the frame clock with one input script (demo/replays/parity.txt:
// the opening movie, the stage and its transitions, the story in the message
// window, choices, the backlog, the pause menu, auto and skip, the actions
// and the effect scenes), once on the software renderer and once on the GPU
// one (llvmpipe without a GPU), the same frames taken on both. Every pair
// must agree within the parity tolerance (support/frame_parity.h); a pair
// that does not leaves the two frames and their difference in
// demo_replay_parity/ of the test's build folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/window/png_capture.h"
#include "support/frame_parity.h"
#include "support/game_process.h"

namespace {

// The whole replay, 78 seconds: the title, the stage and its transitions
// (the mosaic among them), the story, the name entry, the choice, the
// voiced lines and the backlog, and the scene sets (effects and actions, the
// filters on a layered stage) in the order the frame clock's fixed random
// seed draws.
constexpr int kRunFrames = 4700;
constexpr int kEvery = 50;  // a frame taken every 50 (five sixths of a second)

// Frame 10 is the opening movie, full window; then one every kEvery.
std::vector<int> Frames() {
  std::vector<int> frames{10};
  for (int f = kEvery; f <= kRunFrames; f += kEvery) frames.push_back(f);
  return frames;
}

std::string FrameList() {
  std::string s;
  for (int f : Frames()) s += (s.empty() ? "" : ",") + std::to_string(f);
  return s;
}

std::string Shot(const std::string& dir, int f) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%06d.png", f);
  return dir + name;
}

TEST(DemoReplayParity, EveryTakenFrameAgreesOnBothRenderers) {
  testgame::GameFolder soft(DEMO_GAME_DIR), gpu(DEMO_GAME_DIR);
  ASSERT_FALSE(soft.dir().empty());
  ASSERT_FALSE(gpu.dir().empty());
  const std::string out = KIV_PARITY_OUT_DIR;
  ::mkdir(out.c_str(), 0755);
  auto env = [&](const testgame::GameFolder& g) {
    return std::vector<std::string>{"KIV_HEADLESS_CLOCK=virtual",
                                    "KIV_INPUT_SCRIPT=" KIV_SOURCE_DIR "/demo/replays/parity.txt",
                                    "KIV_CAPTURE_FRAMES=" + FrameList(),
                                    "KIV_CAPTURE_DIR=" + g.dir() + "/shots",
                                    "KIV_RUN_FRAMES=" + std::to_string(kRunFrames),
                                    "KIV_BOX_ANSWERS=yes,yes,yes,yes",
                                    "LP_NUM_THREADS=0"};
  };
  // The demo archive holds the opening movie.
  for (const testgame::GameFolder* g : {&soft, &gpu})
    ASSERT_EQ(::symlink(DEMO_GAME_DIR "/demo.pac", (g->dir() + "/demo.pac").c_str()), 0);
  ::mkdir((soft.dir() + "/shots").c_str(), 0755);
  ::mkdir((gpu.dir() + "/shots").c_str(), 0755);
  std::vector<std::string> softEnv = env(soft), gpuEnv = env(gpu);
  gpuEnv.push_back("KIV_HEADLESS_GPU=1");
  gpuEnv.push_back("KIV_DEBUG_OUTPUT=1");
  const testgame::RunResult rs = soft.Run(softEnv, 600);
  ASSERT_FALSE(rs.timed_out);
  ASSERT_EQ(rs.exit_code, 0) << rs.err;
  const testgame::RunResult rg = gpu.Run(gpuEnv, 600);
  ASSERT_FALSE(rg.timed_out);
  ASSERT_EQ(rg.exit_code, 0) << rg.err;
  EXPECT_NE(rg.err.find("GPU present"), std::string::npos) << "the second run drew on the GPU\n" << rg.err;
  int failed = 0, compared = 0;
  for (int f : Frames()) {
    std::vector<uint32_t> a, b;
    int aw = 0, ah = 0, bw = 0, bh = 0;
    ASSERT_TRUE(plat::ReadPng(Shot(soft.dir() + "/shots", f), &a, &aw, &ah)) << "software frame " << f;
    ASSERT_TRUE(plat::ReadPng(Shot(gpu.dir() + "/shots", f), &b, &bw, &bh)) << "GPU frame " << f;
    ASSERT_EQ(aw, bw);
    ASSERT_EQ(ah, bh);
    ++compared;
    const kivtest::FrameParity r = kivtest::CompareFrames(a, b, aw, ah, out + "/frame-" + std::to_string(f));
    if (!r.ok && ++failed <= 20) ADD_FAILURE() << "frame " << f << ": " << r.Describe();
  }
  EXPECT_EQ(compared, static_cast<int>(Frames().size()));
  EXPECT_EQ(failed, 0) << "difference images in " << out;
}

}  // namespace
