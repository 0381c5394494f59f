// Render lists: order by priority, nodes that remove themselves, the lock.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/engine_fixture.h"
#include "platform/core/error.h"
#include "render/renderer.h"
#include "render/soft_screen.h"

using namespace kivtest;

namespace {

std::vector<std::string> g_drawn;

int DrawName(void*, void* object) {
  g_drawn.push_back(static_cast<const char*>(object));
  return 1;
}
int DrawOnce(void*, void* object) {
  g_drawn.push_back(static_cast<const char*>(object));
  return 0;
}

class RenderListTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(KivInit(&params), 1);
    g_drawn.clear();
  }
};

TEST_F(RenderListTest, DescendingPriorityEqualOnesInInsertionOrder) {
  KivRenderList* l = KivRenderInit();
  KivRenderInsert(l, (void*)"5a", DrawName, 5);
  KivRenderInsert(l, (void*)"9", DrawName, 9);
  KivRenderInsert(l, (void*)"5b", DrawName, 5);
  KivRenderInsert(l, (void*)"once", DrawOnce, 7);
  KivRenderInsert(l, (void*)"-1", DrawName, -1);
  KivRenderSetActive(l);
  EXPECT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(g_drawn, (std::vector<std::string>{"9", "once", "5a", "5b", "-1"}));
  g_drawn.clear();
  EXPECT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(g_drawn, (std::vector<std::string>{"9", "5a", "5b", "-1"})) << "a 0 result removed its node";
  EXPECT_EQ(KivRenderRemoveNode(l, (void*)"5a"), 1);
  EXPECT_EQ(KivRenderRemoveNode(l, (void*)"5a"), 0);
  KivRenderSetActive(nullptr);
  KivRenderUninit(l);
}

TEST_F(RenderListTest, ClearsToBlackAndPresents) {
  KivRenderList* l = KivRenderInit();
  KivRenderSetActive(l);
  auto* w = static_cast<plat::Window*>(KivGetWindowHandle());
  g_kiv->soft->backBuffer[0] = 0x12345678;
  int before = w->backend()->PresentCount();
  EXPECT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(w->backend()->PresentCount(), before + 1);
  plat::Frame f = w->backend()->LastFrame();
  ASSERT_EQ(f.width, 320);
  ASSERT_EQ(f.height, 180);
  for (uint32_t px : f.pixels) ASSERT_EQ(px, 0xFF000000u);
  KivRenderSetActive(nullptr);
  KivRenderUninit(l);
}

TEST_F(RenderListTest, LockedListSkipsFramesAndMissingListIsAnError) {
  plat::SetLastError(0);
  EXPECT_EQ(KivRenderLock(), 0);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidHandle);
  EXPECT_EQ(KivRenderUnlock(), 0);
  EXPECT_EQ(KivRenderLockWait(), 0);
  EXPECT_EQ(KivRenderFrame(), 0);

  KivRenderList* l = KivRenderInit();
  KivRenderInsert(l, (void*)"n", DrawName, 0);
  KivRenderSetActive(l);
  auto* w = static_cast<plat::Window*>(KivGetWindowHandle());
  int before = w->backend()->PresentCount();
  std::atomic<bool> locked{false}, release{false};
  std::thread other([&] {
    KivRenderLock();
    locked = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    KivRenderUnlock();
  });
  while (!locked) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(KivRenderFrame(), 0);
  EXPECT_TRUE(g_drawn.empty());
  EXPECT_EQ(w->backend()->PresentCount(), before) << "a skipped frame is not presented";
  release = true;
  other.join();
  EXPECT_EQ(KivRenderLockWait(), 1);
  EXPECT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(g_drawn.size(), 1u);
  KivRenderSetActive(nullptr);
  KivRenderUninit(l);
}

TEST_F(RenderListTest, MoviePlayingDrawsNothing) {
  KivRenderList* l = KivRenderInit();
  KivRenderInsert(l, (void*)"n", DrawName, 0);
  KivRenderSetActive(l);
  g_kiv->moviePlaying = 1;
  EXPECT_EQ(KivRenderFrame(), 1);
  EXPECT_TRUE(g_drawn.empty());
  g_kiv->moviePlaying = 0;
  KivRenderSetActive(nullptr);
  KivRenderUninit(l);
}

// A renderer that counts what the render pass asks of it.
struct CountingRenderer {
  static inline int clears = 0, presents = 0;
  static inline bool ready = true;
  static inline uint32_t last_clear = 0;
  static bool Begin(void*, uint32_t clear) {
    if (!ready) return false;
    ++clears;
    last_clear = clear;
    return true;
  }
  static bool Present(void*) {
    ++presents;
    return true;
  }
  static constexpr KivRenderer table{Begin, Present};
};

TEST_F(RenderListTest, PassClearsDrawsInOrderAndPresentsOnce) {
  CountingRenderer::clears = CountingRenderer::presents = 0;
  CountingRenderer::ready = true;
  g_kiv->renderer = &CountingRenderer::table;
  KivRenderList* l = KivRenderInit();
  KivRenderInsert(l, (void*)"a", DrawName, 2);
  KivRenderInsert(l, (void*)"b", DrawName, 1);
  KivRenderSetActive(l);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(CountingRenderer::clears, 3);
  EXPECT_EQ(CountingRenderer::presents, 3);
  EXPECT_EQ(CountingRenderer::last_clear, 0xFF000000u);
  EXPECT_EQ(g_drawn.size(), 6u);
  // A renderer that is not ready: nothing drawn, nothing presented, lock freed.
  CountingRenderer::ready = false;
  g_drawn.clear();
  EXPECT_EQ(KivRenderFrame(), 0);
  EXPECT_TRUE(g_drawn.empty());
  EXPECT_EQ(CountingRenderer::presents, 3);
  EXPECT_EQ(l->lockFlag.load(), 0);
  g_kiv->renderer = &kKivSoftRenderer;
  KivRenderSetActive(nullptr);
  KivRenderUninit(l);
}

}  // namespace
