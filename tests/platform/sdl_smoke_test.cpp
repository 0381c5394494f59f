// The real SDL window: the engine opens it, paces frames near 60 per
// second, draws, and ends when the close question is answered Yes. Message
// boxes stay scripted, since nobody is there to click them.
#include <gtest/gtest.h>

#include <atomic>

#include "kiv.h"
#include "platform/core/backend.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/core/text_encoding.h"
#include "core/system_state.h"

namespace {

std::atomic<int> g_frames{0};
uint32_t g_first = 0, g_last = 0;
KivRenderList* g_list = nullptr;

int Frame(void*) {
  uint32_t now = KivtimeGetTime();
  int n = g_frames++;
  if (n == 0) g_first = now;
  g_last = now;
  g_kiv->clearColour = 0xFF000000u | static_cast<uint32_t>(n);  // every frame shows something new
  if (n == 60) static_cast<plat::Window*>(KivGetWindowHandle())->backend()->PressCloseButton();
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

TEST(SdlSmoke, OpensPacesAndClosesOnYes) {
  plat::SetWindowBackendKind(plat::Backend::kReal);
  plat::SetMessageBoxBackendKind(plat::Backend::kHeadless);
  plat::HeadlessBoxScript({plat::kIdYes});
  KivSystemParameters p;
  KivDefaultCreate(&p);
  p.title = "smoke";
  p.clientWidth = p.screenWidth = 640;
  p.clientHeight = p.screenHeight = 360;
  p.mode &= ~KIV_MODE_GPU;
  p.startCallback = Start;
  p.endCallback = End;
  ASSERT_EQ(KivInit(&p), 1);
  auto* w = static_cast<plat::Window*>(KivGetWindowHandle());
  EXPECT_TRUE(w->backend()->Visible());
  EXPECT_EQ(KivRun(), 0);
  int presents = w->backend()->PresentCount();
  EXPECT_EQ(KivUninit(), 1);

  ASSERT_GE(g_frames.load(), 61);
  double period = static_cast<double>(g_last - g_first) / (g_frames.load() - 1);
  // Loose bounds: this checks pacing is on, not the machine's timer quality.
  EXPECT_GT(period, 12.0);
  EXPECT_LT(period, 30.0);
  EXPECT_GE(presents, 60);
  auto boxes = plat::HeadlessBoxLog();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, plat::Utf8ToCp932("本当に終了しますか？"));
}

}  // namespace
