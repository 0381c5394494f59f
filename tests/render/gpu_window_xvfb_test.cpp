// The engine on the GPU renderer in a real window (virtual X display): its
// frames go straight into the window surface with one read-back each (the
// last-frame copy), what the window shows is read from the X server over
// the test's own connection, and a lost device is restored and presents
// into the window again.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef Status  // Xlib's, in the way of the GPU device's

#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "core/system_state.h"
#include "kiv.h"
#include "platform/core/backend.h"
#include "platform/gpu/gpu_device.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "render/gpu_context.h"
#include "render/soft_screen.h"

namespace gpu = plat::gpu;

namespace {

Display* g_x = nullptr;
KivRenderList* g_list = nullptr;
std::atomic<int> g_frames{0};
std::atomic<bool> g_direct{false};
std::atomic<uint64_t> g_reads10{0}, g_reads40{0};
std::atomic<long> g_before{-1}, g_after{-1};
std::atomic<int> g_resets{0};
std::atomic<long> g_cpuFrame{-1};

constexpr int kW = 480, kH = 270;

// The window's centre as the X server has it (0xRRGGBB), -1 when unreadable.
long CentrePixel() {
  auto* w = static_cast<plat::Window*>(KivGetWindowHandle());
  const unsigned long xwindow = w->backend()->NativeX11Window();
  XSync(g_x, False);
  XImage* img = XGetImage(g_x, xwindow, kW / 2, kH / 2, 1, 1, AllPlanes, ZPixmap);
  if (!img) return -1;
  const long v = static_cast<long>(XGetPixel(img, 0, 0) & 0xFFFFFF);
  XDestroyImage(img);
  return v;
}

// A task on the game thread, once per frame.
int Frame(void*) {
  const int n = g_frames++;
  auto* c = static_cast<Kiv3DContext*>(g_kiv->gpu);
  if (!c) return 1;
  switch (n) {
    case 10: g_reads10 = gpu::ReadBacks(c->device); break;
    case 40:
      g_reads40 = gpu::ReadBacks(c->device);
      g_direct = gpu::PresentsDirectly(c->device);
      g_kiv->clearColour = 0xFF2070D0u;
      break;
    case 60: g_before = CentrePixel(); break;
    case 61: gpu::SetFaults(gpu::kGpuLost); break;
    case 70:
      gpu::SetFaults(0);
      g_kiv->clearColour = 0xFF30C050u;
      break;
    case 90: {
      // A CPU frame (as a movie's or the text field's) while the GPU
      // presents into the window: the GPU shows it; the next GPU frame waits
      // while this task looks.
      KivSoftScreen* store = g_kiv->soft;
      for (int i = 0; i < store->width * store->height; ++i) store->backBuffer[i] = 0xFFD02060u;
      KivSoftPresent(store);
      for (int i = 0; i < 100 && g_cpuFrame != 0xD02060; ++i, usleep(10000)) g_cpuFrame = CentrePixel();
      break;
    }
    case 110:
      g_after = CentrePixel();
      g_resets = c->resetAttempts;
      if (!gpu::PresentsDirectly(c->device)) g_direct = false;
      static_cast<plat::Window*>(KivGetWindowHandle())->backend()->PressCloseButton();
      break;
    default: break;
  }
  return 1;
}

int Start() {
  g_list = KivRenderInit();
  KivRenderSetActive(g_list);
  return KivTaskCreate(Frame, nullptr, 4, nullptr, KIV_TASK_BEHIND, nullptr, "frames") != nullptr;
}

void End(void*) {
  KivRenderSetActive(nullptr);
  KivRenderUninit(g_list);
}

TEST(GpuWindow, FramesGoStraightIntoTheWindowAndComeBackAfterALoss) {
  g_x = XOpenDisplay(nullptr);
  ASSERT_NE(g_x, nullptr) << "no X display: run under the virtual X server";
  gpu::SetFaults(0);
  plat::SetWindowBackendKind(plat::Backend::kReal);
  plat::SetMessageBoxBackendKind(plat::Backend::kHeadless);
  plat::HeadlessBoxScript({plat::kIdYes});
  ::setenv("KIV_FORCE_GPU", "1", 1);  // llvmpipe alone would choose the software renderer
  KivSystemParameters p;
  KivDefaultCreate(&p);
  p.title = "gpu window";
  p.clientWidth = p.screenWidth = kW;
  p.clientHeight = p.screenHeight = kH;
  p.mode |= KIV_MODE_GPU;
  p.startCallback = Start;
  p.endCallback = End;
  ASSERT_EQ(KivInit(&p), 1);
  ASSERT_NE(g_kiv->gpu, nullptr) << "the GPU renderer runs";
  EXPECT_EQ(KivRun(), 0);
  EXPECT_EQ(KivUninit(), 1);
  XCloseDisplay(g_x);

  ASSERT_GE(g_frames.load(), 111);
  EXPECT_TRUE(g_direct.load()) << "frames went straight into the window, before and after the loss";
  // 30 frames presented straight into the window: no read-back at all (the
  // last frame is read back only when something asks for it).
  EXPECT_EQ(g_reads40.load() - g_reads10.load(), 0u);
  EXPECT_EQ(g_before.load(), 0x2070D0) << std::hex << g_before.load();
  EXPECT_GE(g_resets.load(), 1) << "the loss was restored by a reset";
  EXPECT_EQ(g_cpuFrame.load(), 0xD02060) << std::hex << g_cpuFrame.load() << ": a CPU frame shows too";
  EXPECT_EQ(g_after.load(), 0x30C050) << std::hex << g_after.load() << ": the window shows frames again";
}

}  // namespace
