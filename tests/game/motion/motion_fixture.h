// A headless engine on the virtual clock with a machine whose script puts
// 200 x 100 pictures on layers; tests step game frames and read the sprite
// records that actions and motions write.
#pragma once
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "component_entries.h"
#include "image_encoder.h"
#include "kiv.h"
#include "layers/layers.h"
#include "motion_assembler.h"
#include "platform/core/clock.h"
#include "start/game_task.h"
#include "support/engine_fixture.h"
#include "support/vm_harness.h"

namespace motiontest {

inline int WaitFrame(VmContext* ctx) {
  command_yield(ctx);
  return 1;
}

inline kivtools::Image Solid(int w, int h, uint32_t argb) {
  return kivtools::Image{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h, argb)};
}

class MotionTest : public kivtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    params.clientWidth = params.screenWidth = 1280;
    params.clientHeight = params.screenHeight = 720;
    char tmpl[] = "/tmp/kivmotionXXXXXX";
    dir = mkdtemp(tmpl);
    WriteImage("RED.PGD", Solid(200, 100, 0xFFFF0000u));
    WriteImage("BLUE.PGD", Solid(200, 100, 0xFF0000FFu));
  }
  void TearDown() override {
    m.reset();
    if (list) {
      KivRenderSetActive(nullptr);
      KivRenderUninit(list);
      list = nullptr;
    }
    EngineTest::TearDown();
    ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
  }
  void WriteImage(const std::string& name, const kivtools::Image& img) {
    kivtools::GeOptions o;
    o.method = 1;
    ASSERT_TRUE(kivtools::WriteFileBytes(dir + "/" + name, kivtools::EncodeGe(img, o)));
  }
  void WriteMotion(const std::string& name, const std::string& source) {
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(kani::Assemble(source, name, &bytes, &error)) << error;
    ASSERT_TRUE(kivtools::WriteFileBytes(dir + "/" + name, bytes));
  }
  void Start(const std::string& script) {
    if (!g_kiv) {
      ASSERT_EQ(KivInit(&params), 1);
      ASSERT_EQ(KivSystemPathSet(dir.c_str()), 1);
    }
    if (!list) {
      list = KivRenderInit();
      KivRenderSetActive(list);
    }
    m.reset();
    m = std::make_unique<vmtest::Machine>(script);
    ASSERT_TRUE(m->ok);
    ctx = m->ctx;
    ctx->renderList = list;
    game_reset(ctx);
  }
  // One game frame after ms of the virtual clock.
  void Frame(uint32_t ms = 10) {
    plat::AdvanceVirtualClock(ms);
    KivUpdateTime();
    KivRenderLock();
    game_task_frame(ctx);
    KivRenderUnlock();
    ASSERT_EQ(KivRenderFrame(), 1);
  }
  SpriteRecord& Rec(int layer) { return ctx->sprites.records[kSpriteRecordLayerBase + layer]; }
  // Where the record puts its sprite, summed as the transform does.
  int64_t SumX(int layer) {
    const SpriteTransform& t = Rec(layer).t;
    return int64_t{t.aX} + t.bX + t.frame.cX + t.frame.dX + t.frame.eX + t.delta.x + t.f.x;
  }
  int64_t SumY(int layer) {
    const SpriteTransform& t = Rec(layer).t;
    return int64_t{t.aY} + t.bY + t.frame.cY + t.frame.dY + t.frame.eY + t.delta.y + t.f.y;
  }

  vmtest::ScopedBinding wait{"wait_frame", WaitFrame};
  vmtest::LogCapture log;
  std::string dir;
  std::unique_ptr<vmtest::Machine> m;
  VmContext* ctx = nullptr;
  KivRenderList* list = nullptr;
};

}  // namespace motiontest

namespace motiontest {

// A sky from blue to pale, and a figure: a round head over a rounded body
// with a darker outline, on a clear ground.
inline kivtools::Image Sky() {
  kivtools::Image img{1280, 720, std::vector<uint32_t>(1280 * 720)};
  for (int y = 0; y < 720; ++y)
    for (int x = 0; x < 1280; ++x)
      img.pixels[static_cast<size_t>(y) * 1280 + x] = 0xFF000000u | static_cast<uint32_t>(70 + y * 110 / 719) << 16 |
                                                     static_cast<uint32_t>(110 + y * 100 / 719) << 8 |
                                                     static_cast<uint32_t>(230 - x * 40 / 1279);
  return img;
}

inline kivtools::Image Figure(uint32_t rgb) {
  const int w = 160, h = 260;
  kivtools::Image img{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int hx = x - 80, hy = y - 50;
      const bool head = hx * hx + hy * hy <= 45 * 45;
      const bool headRim = hx * hx + hy * hy <= 50 * 50;
      const int half = 30 + (y - 100) * 40 / 160;
      const bool body = y >= 100 && y < 256 && std::abs(x - 80) <= half;
      const bool bodyRim = y >= 96 && std::abs(x - 80) <= half + 4;
      uint32_t px = 0;
      if (headRim || bodyRim) px = 0xFF202020u;
      if (head || body) px = 0xFF000000u | rgb;
      img.pixels[static_cast<size_t>(y) * w + x] = px;
    }
  return img;
}

}  // namespace motiontest
