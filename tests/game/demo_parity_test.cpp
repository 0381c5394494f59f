// The demo game played on both renderers: its script on the demo data, the
// virtual clock, one seeded random table and one input script (left clicks
// that move the story on), frame by frame on the software renderer and on
// the GPU one (llvmpipe without a GPU); the frames of every scene, taken at
// the same frame numbers, must agree within the parity tolerance
// (support/frame_parity.h). A frame that fails leaves the two pictures and
// their difference in the test's output folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "component_entries.h"
#include "core/system_state.h"
#include "effect/effect.h"
#include "effect/screen_effects.h"
#include "layers/layers.h"
#include "platform/core/clock.h"
#include "platform/input/input.h"
#include "platform/window/window.h"
#include "render/gpu_context.h"
#include "start/game_task.h"
#include "support/demo_script.h"
#include "support/frame_parity.h"
#include "support/gpu_fixture.h"
#include "support/vm_harness.h"
#include "task/render_list.h"

namespace {

// Frames a scene is taken at: every kStep-th frame of the run.
constexpr int kFrames = 2400;
constexpr int kStep = 24;

struct Played {
  std::map<int, std::vector<uint32_t>> frames;  // frame number -> picture
  std::map<int, std::string> scene;             // frame number -> what was on (for the report)
  std::set<std::string> seen;                   // the scenes the run went through
};

class DemoParityTest : public kivtest::GpuEngineTest {
 protected:
  void SetUp() override {
    GpuEngineTest::SetUp();
    if (IsSkipped()) return;
    params.clientWidth = params.screenWidth = 1280;
    params.clientHeight = params.screenHeight = 720;
    params.surfaceCapacity = 1535;  // as the game asks: 255 flakes and 127 petals fit
    char tmpl[] = "/tmp/kivdemoparityXXXXXX";
    dir = mkdtemp(tmpl);
    ASSERT_EQ(std::system(("cp -r '" DEMO_DATA_DIR "'/. '" + dir + "/'").c_str()), 0);
    out = std::string(KIV_PARITY_OUT_DIR);
    ::mkdir(out.c_str(), 0755);
  }
  void TearDown() override {
    m.reset();
    GpuEngineTest::TearDown();
    if (!dir.empty()) {
      EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
    }
  }

  // What the frame shows, by the game's state, for the report.
  std::string Scene() const {
    std::string s;
    const uint32_t a = ctx->effects.active;
    if (a & kEffectSnow) s += "snow ";
    if (a & kEffectSakura) s += "sakura ";
    if (a & kEffectShake) s += "shake ";
    if (a & kEffectFlash) s += "flash ";
    if (a & kEffectRaster) s += "screen-wave ";
    if (ctx->fx.head) s += "layer-wave ";
    if (KivEffectIs()) s += "transition-" + std::to_string(g_kivEffect.index) + " ";
    return s.empty() ? "stage" : s;
  }

  Played Play(bool gpu) {
    Played run;
    if (gpu) {
      params.mode |= KIV_MODE_GPU;
    } else {
      params.mode &= ~KIV_MODE_GPU;
    }
    plat::UseVirtualClock(true, 1000);
    plat::HeadlessInputReset();
    EXPECT_TRUE(Start());
    if (!g_kiv) return run;
    EXPECT_EQ(Kiv3DIs() != 0, gpu);
    EXPECT_EQ(KivSystemPathSet(dir.c_str()), 1);
    std::vector<int> seed(static_cast<size_t>(std::max(params.randomTableSize, 1)));
    uint32_t v = 12345;
    for (int& x : seed) x = static_cast<int>((v = v * 1103515245u + 12345u) >> 16 & 0x7FFF);
    KivRandomSetSeed(seed.data(), static_cast<int>(seed.size()));
    KivFontSetType(0);
    KivFontSetFontSize(24);
    m = std::make_unique<vmtest::Machine>(demo_script_source(KIV_SOURCE_DIR));
    EXPECT_TRUE(m->ok);
    if (!m->ok) return run;
    ctx = m->ctx;
    ctx->renderList = list;
    game_reset(ctx);
    const plat::Rect origin = g_kiv->window->backend()->ClientRectOnScreen();
    plat::HeadlessSetCursor(origin.left + 1200, origin.top + 40);
    for (int f = 1; f <= kFrames; ++f) {
      // The input script: Escape once while the opening movie plays (a
      // second into it), then a left click every 12 frames (down one
      // frame), which moves every message, choice and wait of the story on.
      plat::HeadlessSetKey(plat::vk::kEscape, f == 60);
      plat::HeadlessSetKey(plat::vk::kLButton, f > 90 && f % 12 == 0);
      plat::AdvanceVirtualClock(16);
      KivUpdateTime();
      KivInputUpdate();
      KivRenderLock();
      game_task_frame(ctx);
      KivRenderUnlock();
      EXPECT_EQ(KivRenderFrame(), 1);
      const std::string scene = Scene();
      run.seen.insert(scene);
      if (f % kStep == 0) {
        run.frames[f] = Shown().pixels;
        run.scene[f] = scene;
      }
    }
    plat::HeadlessSetKey(plat::vk::kLButton, false);
    game_reset(ctx);
    m.reset();
    Release();
    KivUninit();
    return run;
  }

  std::string dir, out;
  std::unique_ptr<vmtest::Machine> m;
  VmContext* ctx = nullptr;
  vmtest::LogCapture log;
};

TEST_F(DemoParityTest, EveryTakenFrameOfTheDemoAgreesOnBothRenderers) {
  const Played soft = Play(false);
  const Played gpu = Play(true);
  ASSERT_EQ(soft.frames.size(), gpu.frames.size());
  int failed = 0;
  for (const auto& [f, px] : soft.frames) {
    const auto it = gpu.frames.find(f);
    ASSERT_NE(it, gpu.frames.end());
    EXPECT_EQ(soft.scene.at(f), gpu.scene.at(f)) << "frame " << f << ": both runs are in one scene";
    const kivtest::FrameParity r =
        kivtest::CompareFrames(px, it->second, 1280, 720, out + "/frame-" + std::to_string(f));
    if (!r.ok && ++failed <= 20) ADD_FAILURE() << "frame " << f << " (" << soft.scene.at(f) << "): " << r.Describe();
  }
  EXPECT_EQ(failed, 0);
  std::string scenes;
  for (const std::string& s : soft.seen) scenes += "[" + s + "] ";
  std::printf("scenes: %s\n", scenes.c_str());
}

}  // namespace
