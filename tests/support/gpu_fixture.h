// An engine test on the GPU renderer: skipped where no OpenGL 3.3 context
// can be made (a probe device is made and dropped first); the context may
// be headless, and no device fault is armed.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "platform/gpu/gpu_device.h"
#include "render/gpu_context.h"
#include "support/engine_fixture.h"

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
    EngineTest::TearDown();
    plat::gpu::SetFaults(0);
    Kiv3DAllowHeadless(false);
  }
};

}  // namespace kivtest
