// The GPU device presenting straight into a real window (run on a virtual X
// display): what the window shows is read from the X server over the test's
// own connection. The frame reaches the window with the right way up, with
// one read-back per frame (the last-frame copy) instead of two, and keeps
// reaching it after a loss and reset.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>
#undef Status  // Xlib's, in the way of the device's

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/backend.h"
#include "platform/gpu/gpu_device.h"
#include "platform/window/window.h"
#include "support/x_window_pixel.h"

namespace gpu = plat::gpu;

namespace {

intptr_t Proc(plat::Window* w, uint32_t m, uintptr_t wp, intptr_t lp) { return plat::DefWindowProc(w, m, wp, lp); }

constexpr int kW = 320, kH = 240;

class DirectPresent : public ::testing::Test {
 protected:
  void SetUp() override {
    gpu::SetFaults(0);
    x = XOpenDisplay(nullptr);
    ASSERT_NE(x, nullptr) << "no X display: run under the virtual X server";
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    plat::SetWindowBackendKind(plat::Backend::kReal);
    plat::WindowDesc desc;
    desc.title = "direct present";
    desc.width = kW;
    desc.height = kH;
    window = plat::Window::Create(desc, Proc);
    ASSERT_NE(window, nullptr);
    window->backend()->Show(true);
    xwindow = window->backend()->NativeX11Window();
    ASSERT_NE(xwindow, 0u);
    for (int i = 0; i < 200 && !Viewable(); ++i) Pump();
    ASSERT_TRUE(Viewable());
  }
  void TearDown() override {
    gpu::SetFaults(0);
    if (device) gpu::Destroy(device);
    if (window) window->Destroy();
    if (x) XCloseDisplay(x);
  }

  void Pump() {
    window->backend()->PollNative();
    usleep(10000);
  }
  bool Viewable() {
    XWindowAttributes a;
    return XGetWindowAttributes(x, xwindow, &a) && a.map_state == IsViewable;
  }
  // The window's pixel as the X server has it (0xRRGGBB), -1 when unreadable.
  long Pixel(int px, int py) { return kivtest::XWindowPixel(x, xwindow, px, py); }
  // Waits (the X server shows the swap a little later) for the colour.
  bool Shows(int px, int py, long rgb) {
    for (int i = 0; i < 100; ++i) {
      if (Pixel(px, py) == rgb) return true;
      Pump();
    }
    return false;
  }

  // A device presenting straight into the window, current here.
  void OpenDirect() {
    std::string why;
    device = gpu::Create(window, false, &why);
    ASSERT_NE(device, nullptr) << why;
    ASSERT_TRUE(gpu::PresentsDirectly(device)) << gpu::GetInfo(device).present;
    ASSERT_TRUE(gpu::MakeCurrent(device));
  }

  // A frame: the output cleared to `background`, a `mark` quad over its
  // top-left quarter; the last-frame copy read back; presented.
  bool DrawFrame(uint32_t background, uint32_t mark) {
    gpu::SetOutputSize(device, kW, kH);
    if (!gpu::BindTarget(device, 0)) return false;
    gpu::Clear(device, background);
    gpu::Vertex v[4] = {{-1, 1, mark, 0, 0, 0, 0}, {0, 1, mark, 0, 0, 0, 0}, {0, 0, mark, 0, 0, 0, 0},
                        {-1, 0, mark, 0, 0, 0, 0}};
    gpu::DrawCall call;
    call.alphaTest = false;
    gpu::Draw(device, call, gpu::Primitive::kTriangleFan, v, 4);
    std::vector<uint32_t> copy(static_cast<size_t>(kW) * kH);
    if (!gpu::ReadPixels(device, 0, 0, 0, kW, kH, copy.data(), kW)) return false;
    lastCopy = copy;
    return gpu::Present(device);
  }

  Display* x = nullptr;
  plat::Window* window = nullptr;
  unsigned long xwindow = 0;
  gpu::Device* device = nullptr;
  std::vector<uint32_t> lastCopy;
};

TEST_F(DirectPresent, TheFrameReachesTheWindowTheRightWayUpWithOneReadBack) {
  std::string why;
  device = gpu::Create(window, false, &why);
  ASSERT_NE(device, nullptr) << why;
  ASSERT_TRUE(gpu::PresentsDirectly(device)) << gpu::GetInfo(device).present;
  EXPECT_EQ(gpu::GetInfo(device).present, "direct");
  EXPECT_TRUE(window->backend()->DirectPresent()) << "the window keeps its own renderer out";
  ASSERT_TRUE(gpu::MakeCurrent(device));
  const uint64_t before = gpu::ReadBacks(device);
  const int presentsBefore = window->backend()->PresentCount();
  for (int frame = 0; frame < 10; ++frame) ASSERT_TRUE(DrawFrame(0xFF2040C0u, 0xFFE0A020u));
  EXPECT_EQ(gpu::ReadBacks(device) - before, 10u) << "one read-back per frame: the last-frame copy";
  EXPECT_EQ(window->backend()->PresentCount(), presentsBefore) << "no frame went through the window's CPU present";
  EXPECT_EQ(lastCopy[0] & 0xFFFFFF, 0xE0A020u);
  // Top-left quarter the mark, the rest the background: the right way up.
  EXPECT_TRUE(Shows(10, 10, 0xE0A020)) << std::hex << Pixel(10, 10);
  EXPECT_TRUE(Shows(kW - 10, kH - 10, 0x2040C0)) << std::hex << Pixel(kW - 10, kH - 10);
  EXPECT_TRUE(Shows(10, kH - 10, 0x2040C0)) << std::hex << Pixel(10, kH - 10);
  EXPECT_TRUE(Shows(kW - 10, 10, 0x2040C0)) << std::hex << Pixel(kW - 10, 10);
}

// The read-back present, for comparison: a device off the window reads every
// frame back a second time and hands it to the window's own present. It
// draws on a thread of its own, as the game thread does: the window thread
// has the window's renderer current.
TEST_F(DirectPresent, TheReadBackPresentReadsTwicePerFrame) {
  uint64_t reads = 0;
  bool drawn = true;
  std::string why;
  std::thread game([&] {
    gpu::Device* d = gpu::Create(window, true, &why);
    if (!d) return;
    device = d;
    drawn = gpu::MakeCurrent(d) && !gpu::PresentsDirectly(d);
    const uint64_t before = gpu::ReadBacks(d);
    for (int frame = 0; frame < 10 && drawn; ++frame) drawn = DrawFrame(0xFF2040C0u, 0xFFE0A020u);
    reads = gpu::ReadBacks(d) - before;
    gpu::Destroy(d);
    device = nullptr;
  });
  game.join();
  ASSERT_TRUE(why.empty()) << why;
  EXPECT_TRUE(drawn);
  EXPECT_FALSE(window->backend()->DirectPresent());
  EXPECT_EQ(reads, 20u);
  EXPECT_TRUE(Shows(10, 10, 0xE0A020)) << std::hex << Pixel(10, 10);
  EXPECT_TRUE(Shows(kW - 10, kH - 10, 0x2040C0)) << std::hex << Pixel(kW - 10, kH - 10);
}

TEST_F(DirectPresent, ALostDeviceIsResetAndPresentsIntoTheWindowAgain) {
  ASSERT_NO_FATAL_FAILURE(OpenDirect());
  ASSERT_TRUE(DrawFrame(0xFF2040C0u, 0xFFE0A020u));
  ASSERT_TRUE(Shows(kW - 10, kH - 10, 0x2040C0));

  gpu::SetFaults(gpu::kGpuLost);
  EXPECT_FALSE(DrawFrame(0xFF10E010u, 0xFF10E010u)) << "nothing presents while lost";
  EXPECT_EQ(gpu::Test(device), gpu::Status::kLost);
  EXPECT_FALSE(gpu::Reset(device)) << "no reset while the loss lasts";
  gpu::SetFaults(gpu::kGpuResetFails);
  EXPECT_FALSE(gpu::Reset(device));
  gpu::SetFaults(0);
  EXPECT_EQ(gpu::Test(device), gpu::Status::kResettable);
  ASSERT_TRUE(gpu::Reset(device));
  EXPECT_TRUE(gpu::PresentsDirectly(device)) << "a new window surface: " << gpu::GetInfo(device).present;
  EXPECT_TRUE(window->backend()->DirectPresent());
  const uint64_t before = gpu::ReadBacks(device);
  ASSERT_TRUE(DrawFrame(0xFF10E010u, 0xFFC02080u));
  EXPECT_EQ(gpu::ReadBacks(device) - before, 1u);
  EXPECT_TRUE(Shows(kW - 10, kH - 10, 0x10E010)) << std::hex << Pixel(kW - 10, kH - 10);
  EXPECT_TRUE(Shows(10, 10, 0xC02080)) << std::hex << Pixel(10, 10);
}

// The window grows: the next frame, made at the new size, fills it.
TEST_F(DirectPresent, TheWindowSurfaceFollowsTheWindowsSize) {
  ASSERT_NO_FATAL_FAILURE(OpenDirect());
  ASSERT_TRUE(DrawFrame(0xFF2040C0u, 0xFFE0A020u));
  window->backend()->SetClientSize(2 * kW, 2 * kH);
  for (int i = 0; i < 20; ++i) Pump();
  bool shown = false;
  for (int i = 0; i < 100 && !shown; ++i) {
    gpu::SetOutputSize(device, 2 * kW, 2 * kH);
    ASSERT_TRUE(gpu::BindTarget(device, 0));
    gpu::Clear(device, 0xFF803010u);
    ASSERT_TRUE(gpu::Present(device));
    Pump();
    shown = Pixel(2 * kW - 5, 2 * kH - 5) == 0x803010 && Pixel(5, 5) == 0x803010;
  }
  EXPECT_TRUE(shown) << std::hex << Pixel(2 * kW - 5, 2 * kH - 5) << " " << Pixel(5, 5);
}

}  // namespace
