// The GPU device on its headless backend: a textured quad into a target
// reads back exactly, blends follow their factors, loss and reset.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/core/backend.h"
#include "platform/gpu/gpu_device.h"
#include "platform/window/window.h"

namespace gpu = plat::gpu;

namespace {

struct DeviceFixture : ::testing::Test {
  void SetUp() override {
    gpu::SetFaults(0);
    std::string why;
    d = gpu::Create(nullptr, true, &why);
    if (!d) GTEST_SKIP() << "no OpenGL 3.3 here: " << why;
  }
  void TearDown() override {
    gpu::SetFaults(0);
    gpu::Destroy(d);
  }
  gpu::Device* d = nullptr;
};

// A quad covering the whole target with texture coordinates 0..1.
void FullQuad(gpu::Vertex* v, uint32_t colour) {
  const float xs[4] = {-1, 1, -1, 1}, ys[4] = {1, 1, -1, -1};
  for (int i = 0; i < 4; ++i) v[i] = {xs[i], ys[i], colour, (xs[i] + 1) / 2, (1 - ys[i]) / 2, 0, 0};
}

TEST_F(DeviceFixture, TexturedQuadReadsBackExactlyTopRowFirst) {
  EXPECT_GE(gpu::GetInfo(d).major * 10 + gpu::GetInfo(d).minor, 33);
  std::vector<uint32_t> px(8 * 4);
  for (int i = 0; i < 32; ++i) px[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x010203);
  uint32_t tex = gpu::TextureCreate(d, 8, 4);
  ASSERT_NE(tex, 0u);
  ASSERT_TRUE(gpu::TextureUpload(d, tex, 8, 4, px.data(), 8));
  uint32_t target = gpu::TargetCreate(d, 8, 4);
  ASSERT_NE(target, 0u);
  ASSERT_TRUE(gpu::BindTarget(d, target));
  gpu::Clear(d, 0xFF000000u);
  gpu::Vertex v[4];
  FullQuad(v, 0xFFFFFFFFu);
  gpu::DrawCall call;
  call.texture0 = tex;
  gpu::Draw(d, call, gpu::Primitive::kTriangleStrip, v, 4);
  std::vector<uint32_t> out(32);
  ASSERT_TRUE(gpu::ReadPixels(d, target, 0, 0, 8, 4, out.data(), 8));
  EXPECT_EQ(out, px);
}

TEST_F(DeviceFixture, BlendModesFollowTheirFactors) {
  uint32_t tex = gpu::TextureCreate(d, 1, 1);
  const uint32_t src = 0x80402010u;
  ASSERT_TRUE(gpu::TextureUpload(d, tex, 1, 1, &src, 1));
  uint32_t target = gpu::TargetCreate(d, 1, 1);
  struct Case {
    gpu::Blend blend;
    uint32_t expect;
  } cases[] = {
      {gpu::Blend::kCopy, 0x80402010u},
      {gpu::Blend::kAlpha, 0x60605048u},  // 0x40*a + 0x80*(1-a) per channel, a = 0x80/255
      {gpu::Blend::kAdd, 0xFFA09088u},
      {gpu::Blend::kMultiply, 0x40201008u},
  };
  for (const Case& c : cases) {
    gpu::BindTarget(d, target);
    gpu::Clear(d, 0xFF808080u);
    gpu::SetBlend(d, c.blend);
    gpu::Vertex v[4];
    FullQuad(v, 0xFFFFFFFFu);
    gpu::DrawCall call;
    call.texture0 = tex;
    gpu::Draw(d, call, gpu::Primitive::kTriangleStrip, v, 4);
    uint32_t out = 0;
    ASSERT_TRUE(gpu::ReadPixels(d, target, 0, 0, 1, 1, &out, 1));
    for (int sh = 0; sh < 24; sh += 8)
      EXPECT_NEAR(static_cast<int>((out >> sh) & 0xFF), static_cast<int>((c.expect >> sh) & 0xFF), 1)
          << static_cast<int>(c.blend) << " channel " << sh;
  }
}

TEST_F(DeviceFixture, LossAndResetByTheFaultHook) {
  EXPECT_EQ(gpu::Test(d), gpu::Status::kOk);
  gpu::SetFaults(gpu::kGpuLost);
  EXPECT_EQ(gpu::Test(d), gpu::Status::kLost);
  EXPECT_FALSE(gpu::Present(d));
  EXPECT_FALSE(gpu::Reset(d));
  gpu::SetFaults(gpu::kGpuResetFails);
  EXPECT_EQ(gpu::Test(d), gpu::Status::kResettable);
  EXPECT_FALSE(gpu::Reset(d));
  gpu::SetFaults(0);
  EXPECT_TRUE(gpu::Reset(d));
  EXPECT_EQ(gpu::Test(d), gpu::Status::kOk);
  EXPECT_NE(gpu::TextureCreate(d, 4, 4), 0u);
}

TEST(GpuDevice, CreationRefusedByTheFaultHook) {
  gpu::SetFaults(gpu::kGpuCreate);
  std::string why;
  EXPECT_EQ(gpu::Create(nullptr, true, &why), nullptr);
  EXPECT_FALSE(why.empty());
  gpu::SetFaults(0);
}

// A window with no X11 window behind it (the in-memory one here; another
// video driver on a real display): no direct present, so the frame is read
// back and handed to the window's present, as before, and says why.
TEST(DeviceFallBack, WithoutAnX11WindowFramesAreReadBackAndShownByTheWindow) {
  gpu::SetFaults(0);
  plat::SetWindowBackendKind(plat::Backend::kHeadless);
  plat::WindowDesc desc;
  desc.width = 16;
  desc.height = 8;
  plat::Window* window =
      plat::Window::Create(desc, [](plat::Window* w, uint32_t m, uintptr_t wp, intptr_t lp) {
        return plat::DefWindowProc(w, m, wp, lp);
      });
  ASSERT_NE(window, nullptr);
  std::string why;
  gpu::Device* d = gpu::Create(window, false, &why);
  if (!d) GTEST_SKIP() << "no OpenGL 3.3 here: " << why;
  EXPECT_FALSE(gpu::PresentsDirectly(d));
  EXPECT_EQ(gpu::GetInfo(d).present, "read back (the window is no X11 window)");
  EXPECT_FALSE(window->backend()->DirectPresent());
  const uint64_t before = gpu::ReadBacks(d);
  gpu::SetOutputSize(d, 16, 8);
  ASSERT_TRUE(gpu::BindTarget(d, 0));
  gpu::Clear(d, 0xFF336699u);
  ASSERT_TRUE(gpu::Present(d));
  EXPECT_EQ(gpu::ReadBacks(d) - before, 1u) << "the present read the frame back";
  const plat::Frame f = window->backend()->LastFrame();
  ASSERT_EQ(f.pixels.size(), 16u * 8u);
  EXPECT_EQ(f.pixels[0], 0xFF336699u);
  EXPECT_EQ(f.pixels.back(), 0xFF336699u);
  gpu::Destroy(d);
  window->Destroy();
}

}  // namespace

// Which renderer draws, by the OpenGL renderer string: the software
// rasterizers choose the software renderer unless KIV_FORCE_GPU asks for
// the GPU; any other device draws with the GPU.
TEST(RendererChoice, SoftwareRasterizersChooseTheSoftwareRendererUnlessForced) {
  struct Case {
    bool has_context;
    const char* renderer;
    const char* force;  // KIV_FORCE_GPU, nullptr: unset
    const char* choice;
    bool rasterizer;  // the string names a software rasterizer
  } cases[] = {
      {true, "llvmpipe (LLVM 15.0.6, 256 bits)", nullptr, "software (llvmpipe (LLVM 15.0.6, 256 bits) is a software rasterizer)", true},
      {true, "softpipe", nullptr, "software (softpipe is a software rasterizer)", true},
      {true, "Mesa X11 SWRAST", "0", "software (Mesa X11 SWRAST is a software rasterizer)", true},
      {true, "llvmpipe (LLVM 15.0.6, 256 bits)", "1", "GPU (llvmpipe (LLVM 15.0.6, 256 bits), forced by KIV_FORCE_GPU)", true},
      {true, "Test Adapter 3000 (hwdriver)", nullptr, "GPU (Test Adapter 3000 (hwdriver))", false},
      {false, "", "1", "software (no OpenGL 3.3 device)", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.renderer);
    if (c.force) ::setenv("KIV_FORCE_GPU", c.force, 1);
    else ::unsetenv("KIV_FORCE_GPU");
    EXPECT_EQ(gpu::RendererChoice(c.has_context, c.renderer), c.choice);
    EXPECT_EQ(gpu::IsSoftwareRasterizer(c.renderer), c.rasterizer);
  }
  ::unsetenv("KIV_FORCE_GPU");
}
namespace {

// The free texture memory is measured at the first present: on a software
// rasteriser it is the system's available memory; a destroyed device
// leaves it unknown.
TEST_F(DeviceFixture, FreeTextureMemoryIsMeasuredAtPresentAndForgottenAtDestroy) {
  gpu::SetOutputSize(d, 8, 8);
  ASSERT_TRUE(gpu::Present(d));
  const std::string& renderer = gpu::GetInfo(d).renderer;
  const int mib = gpu::FreeTextureMemoryMiB();
  if (renderer.find("llvmpipe") != std::string::npos || renderer.find("softpipe") != std::string::npos)
    EXPECT_GT(mib, 0) << renderer;
  else
    EXPECT_GE(mib, -1) << renderer;
  gpu::Destroy(d);
  d = nullptr;
  EXPECT_EQ(gpu::FreeTextureMemoryMiB(), -1);
}

}  // namespace
