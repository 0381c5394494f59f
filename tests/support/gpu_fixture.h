// An engine test on the GPU renderer: skipped where no OpenGL 3.3 context
// can be made (a probe device is made and dropped first); the context may
// be headless, and no device fault is armed.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gpu/gpu_device.h"
#include "platform/window/window.h"
#include "render/gpu_context.h"
#include "sprite/sprite.h"
#include "support/engine_fixture.h"
#include "support/release_render_list.h"
#include "task/render_list.h"

namespace kivtest {

class GpuEngineTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    plat::gpu::SetFaults(0);
    Kiv3DAllowHeadless(true);
    std::string why;
    plat::gpu::Device* probe = plat::gpu::Create(nullptr, true, &why);
    if (!probe) GTEST_SKIP() << "no OpenGL 3.3 here: " << why;
    plat::gpu::Destroy(probe);
    params.mode |= KIV_MODE_GPU | KIV_MODE_TEX_FILTER_NEAREST;
  }
  void TearDown() override {
    Release();
    EngineTest::TearDown();
    plat::gpu::SetFaults(0);
    Kiv3DAllowHeadless(false);
  }
  // Starts the engine with an active render list for the test's sprites.
  bool Start() {
    if (!KivInit(&params)) return false;
    list = KivRenderInit();
    KivRenderSetActive(list);
    return true;
  }
  // Releases the test's sprites and render list (before the engine ends).
  void Release() {
    if (!g_kiv || !list) return;
    ReleaseRenderList(list);
    list = nullptr;
  }
  Kiv3DContext* Ctx() { return static_cast<Kiv3DContext*>(g_kiv->gpu); }
  KivSprite* Load(const std::vector<uint8_t>& file, int priority = 0) {
    return KivSpriteLoadMemory(list, "img", file.data(), static_cast<int>(file.size()), priority);
  }
  // The frame the window showed last.
  plat::Frame Shown() { return static_cast<plat::Window*>(g_kiv->window)->backend()->LastFrame(); }
  KivRenderList* list = nullptr;
};

}  // namespace kivtest
