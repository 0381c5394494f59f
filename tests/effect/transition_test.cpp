// Screen transitions and Fx effects as a player sees them: an old scene is
// drawn, the scene changes, a transition starts, and every frame after it
// on the virtual clock is compared with the kind's integer rule over the
// whole screen; golden frames show each kind at its start, middle and end.
// Also: the return table, the end one pass after the kind finishes,
// duration 0, the click skip, masks missing or corrupt, the wait task, the
// screen-mode change, capture retries, and the raster wave on sprites and
// on the screen with its shared phase clock.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "effect/effect.h"
#include "support/blend_reference.h"
#include "support/engine_fixture.h"
#include "support/sprite_scene.h"
#include "image_encoder.h"
#include "render/pixel_routines.h"
#include "platform/core/error.h"
#include "platform/window/png_capture.h"
#include "task/render_list.h"
#include "render/soft_screen.h"
#include "sprite/sprite.h"

using namespace kivtest;
using kivtools::Image;
using Px = std::vector<uint32_t>;

namespace {

constexpr int kW = 160, kH = 90;
constexpr uint32_t kLeftButton = 1u << 23;



// The kinds' own arithmetic: t = elapsed / duration in floats, bytes trunc(v * 255).
float T(uint32_t e, uint32_t d) { return d ? static_cast<float>(e) / static_cast<float>(d) : 1.0f; }
uint32_t Byte(float v) { return static_cast<uint32_t>(KivTruncToInt(v * 255.0f)); }

Px Over(const Px& under, const Px& capture, uint32_t colour) {
  Px out(under.size());
  for (size_t i = 0; i < out.size(); ++i) out[i] = RefBlend(under[i], capture[i], colour);
  return out;
}

// An opaque test picture; the other scene is mirrored with red and blue
// swapped, so the two differ everywhere.
Image Opaque(uint32_t seed, bool other = false) {
  Image img = kivtools::MakeTestPicture(kW, kH, seed);
  Image out = img;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      uint32_t p = img.pixels[y * kW + (other ? kW - 1 - x : x)];
      if (other) p = (p & 0xFF00FF00u) | (p & 0xFF) << 16 | ((p >> 16) & 0xFF);
      out.pixels[y * kW + x] = p | 0xFF000000u;
    }
  return out;
}

// A grey mask, value (x * 3 + y) & 255, written as an 8-bit BMP.
Image Mask(int w, int h) {
  Image m{w, h, Px(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) m.pixels[static_cast<size_t>(y) * w + x] = 0xFF000000u | ((x * 3 + y) & 255) * 0x010101u;
  return m;
}

class TransitionTest : public SpriteSceneTest {
 protected:
  // The client area is twice the logical screen: the box kind must work in
  // screen pixels.
  void AdjustParams() override {
    params.screenWidth = kW;
    params.screenHeight = kH;
    params.clientWidth = 2 * kW;
    params.clientHeight = 2 * kH;
  }
  void SetUp() override {
    SpriteSceneTest::SetUp();
    oldImage = Opaque(31);
    newImage = Opaque(32, true);
    oldSprite = FromImage(oldImage, 100);
    newSprite = FromImage(newImage, 100);
    ASSERT_TRUE(oldSprite && newSprite);
    for (size_t i = 0; i < newImage.pixels.size(); ++i) {
      newFrame.push_back(RefBlend(0xFF000000u, newImage.pixels[i], ~0u));
      oldFrame.push_back(RefBlend(0xFF000000u, oldImage.pixels[i], ~0u));
    }
    ShowOld();
  }
  void TearDown() override {
    KivInputClear();
    if (g_kiv) KivReleaseFxEffect(nullptr, KIV_FX_SCREEN);
    SpriteSceneTest::TearDown();
  }
  void Write(const std::string& name, const std::vector<uint8_t>& data) {
    ASSERT_FALSE(data.empty()) << name;
    ASSERT_TRUE(kivtools::WriteFileBytes(folder + "/" + name, data));
  }
  // The old scene as the player last saw it, then the change to the new one.
  void ShowOld() {
    KivSpriteViewCtrl(oldSprite, 1);
    KivSpriteViewCtrl(newSprite, 0);
    FrameAt(now);
    FrameAt(now);  // the screen's first draw copies; from the second on it blends
    ASSERT_EQ(Shown(), oldFrame);
  }
  void ChangeScene() {
    KivSpriteViewCtrl(oldSprite, 0);
    KivSpriteViewCtrl(newSprite, 1);
  }
  // Old scene, change, start: the next frame is the kind's first (elapsed 0).
  void Begin(unsigned kind, uint32_t duration, int clickSkip = 0, int wait = 0) {
    ShowOld();
    ChangeScene();
    ASSERT_EQ(KivEffectEx(kind, duration, clickSkip, wait), 1);
    ASSERT_EQ(KivEffectIs(), 1);
  }
  void FrameAt(uint32_t t) {
    now = t;
    g_kiv->frameTime = t;
    ASSERT_EQ(KivRenderFrame(), 1);
  }
  Px Shown() const { return Px(screen->backBuffer, screen->backBuffer + kW * kH); }
  Px Capture() const {
    int w = 0, h = 0, pitch = 0;
    uint32_t* px = kKivSoftEffects.lockSurface(screen, g_kivEffect.capture, &w, &h, &pitch);
    return Px(px, px + static_cast<size_t>(w) * h);
  }
  // Runs the pass after the kind's last frame: the transition is over.
  void ExpectEndsAtTheNextPass(uint32_t t) {
    EXPECT_EQ(KivEffectIs(), 1);
    FrameAt(t);
    EXPECT_EQ(KivEffectIs(), 0);
    EXPECT_EQ(Shown(), newFrame) << "the pass after the end draws the new scene alone";
    EXPECT_EQ(g_kivEffect.index, -1);
    EXPECT_EQ(g_kivEffect.waitTask, nullptr);
  }

  Image oldImage, newImage;
  KivSprite* oldSprite = nullptr;
  KivSprite* newSprite = nullptr;
  Px oldFrame, newFrame;
  uint32_t now = 1000;
};

// ---------------------------------------------------------------- starting

TEST_F(TransitionTest, ReturnTable) {
  EXPECT_EQ(KivEffectEx(0, 500, 0, 0), 1);
  EXPECT_EQ(KivEffectIs(), 0) << "kind 0 starts nothing";
  EXPECT_EQ(KivEffectEx(30, 500, 0, 0), 0);
  EXPECT_EQ(KivEffectEx(0xFFFFFFFFu, 500, 0, 0), 0);
  EXPECT_EQ(KivEffectEnable(0), 0);
  EXPECT_EQ(KivEffectEnableIs(), 0);
  EXPECT_EQ(KivEffectEx(1, 500, 0, 0), 1);
  EXPECT_EQ(KivEffectEx(30, 500, 0, 0), 1) << "disabled: every call succeeds doing nothing";
  EXPECT_EQ(KivEffectIs(), 0);
  EXPECT_EQ(KivEffectEnable(1), 1);
  EXPECT_EQ(KivEffectEx(1, 500, 0, 0), 1);
  EXPECT_EQ(KivEffectIs(), 1);
  EXPECT_EQ(KivEffectEx(3, 900, 1, 0), 0) << "one at a time";
  EXPECT_EQ(g_kivEffect.index, 1);
  EXPECT_EQ(g_kivEffect.duration, 500u);
  EXPECT_EQ(g_kivEffect.clickSkip, 0);
  EXPECT_EQ(KivEffect(2, 100), 0);
  KivEffectReset();
  EXPECT_EQ(KivEffectIs(), 0);
  EXPECT_EQ(KivEffect(2, 100), 1);
  EXPECT_NE(g_kivEffect.waitTask, nullptr) << "KivEffect waits";
  KivEffectReset();
  EXPECT_EQ(g_kivEffect.waitTask, nullptr);
}

// ---------------------------------------------------------------- the kinds over time

TEST_F(TransitionTest, CrossFadeDissolvesTheCaptureFrameByFrame) {
  Begin(1, 400);
  EXPECT_EQ(Capture(), oldFrame) << "the capture is the frame the player saw";
  const uint32_t t0 = now + 16;
  for (uint32_t e : {0u, 100u, 200u, 399u, 400u}) {
    FrameAt(t0 + e);
    const uint32_t a = Byte(1.0f - T(e, 400));
    ASSERT_EQ(Shown(), Over(newFrame, oldFrame, a << 24 | 0xFFFFFFu)) << "elapsed " << e;
    EXPECT_EQ(g_kivEffect.colour >> 24, a);
  }
  EXPECT_EQ(Shown(), newFrame) << "alpha 0 at the end";
  EXPECT_EQ(g_kivEffect.renderer, nullptr);
  ExpectEndsAtTheNextPass(t0 + 416);
}

TEST_F(TransitionTest, BlurringFadeSoftensTheCaptureOnceMoreEachFrame) {
  Begin(2, 300);
  Px soft = oldFrame;
  const uint32_t t0 = now + 16;
  for (uint32_t e : {0u, 100u, 200u, 300u}) {
    FrameAt(t0 + e);
    KivPixelSoftFilter(soft.data(), kW, kH, kW);
    EXPECT_EQ(Capture(), soft) << e;
    ASSERT_EQ(Shown(), Over(newFrame, soft, Byte(1.0f - T(e, 300)) << 24 | 0xFFFFFFu)) << e;
  }
  ExpectEndsAtTheNextPass(t0 + 316);
}

TEST_F(TransitionTest, ShrinkingBoxIsCentredInTheLogicalScreen) {
  Begin(3, 1000);
  const uint32_t t0 = now + 16;
  for (uint32_t e : {0u, 250u, 500u, 999u, 1000u}) {
    FrameAt(t0 + e);
    const int w = KivTruncToInt((1.0f - T(e, 1000)) * static_cast<float>(kW));
    const int h = w * kH / kW, left = (kW - w) >> 1, top = (kH - h) >> 1;
    EXPECT_EQ(g_kivEffect.width, w);
    EXPECT_EQ(g_kivEffect.height, h);
    EXPECT_EQ(g_kivEffect.boxLeft, left);
    EXPECT_EQ(g_kivEffect.boxTop, top);
    Px want = newFrame;
    for (int y = top; y < top + h; ++y)
      for (int x = left; x < left + w; ++x) want[y * kW + x] = RefBlend(newFrame[y * kW + x], oldFrame[y * kW + x], ~0u);
    ASSERT_EQ(Shown(), want) << e;
  }
  EXPECT_EQ(KivTruncToInt(0.75f * kW), 120);  // the box of e = 250: 120 x 67 at (20, 11)
  ExpectEndsAtTheNextPass(t0 + 1016);
  EXPECT_EQ(g_kivEffect.width, kW) << "the reset gives back the capture size";
}

TEST_F(TransitionTest, FadeToWhiteWhitensTheCaptureAndFadesItIn) {
  Begin(5, 200);
  const uint32_t t0 = now + 16;
  for (uint32_t e : {0u, 50u, 200u}) {
    FrameAt(t0 + e);
    EXPECT_EQ(Capture(), Px(kW * kH, 0xFFFFFFFFu));
    ASSERT_EQ(Shown(), Over(newFrame, Px(kW * kH, 0xFFFFFFFFu), Byte(T(e, 200)) << 24 | 0xFFFFFFu)) << e;
  }
  ExpectEndsAtTheNextPass(t0 + 216);
}

// The mosaic of a capture at one block size, by its rule: source pixel
// (x * b, y * b) for each block, the last part-block of a row or column
// included, b pixels wide at the 1/128 steps.
Px Pixelated(const Px& c, int b) {
  const int sw = (kW + b - 1) / b, sh = (kH + b - 1) / b;
  Px small(static_cast<size_t>(sw) * sh), out(kW * kH);
  for (int j = 0; j < sh; ++j)
    for (int i = 0; i < sw; ++i) small[static_cast<size_t>(j) * sw + i] = c[static_cast<size_t>(j * b) * kW + i * b];
  KivPixelScaleCopyFill(small.data(), sw, sh, sw, static_cast<float>(b), static_cast<float>(b), out.data(), kW, kH, kW);
  return out;
}

TEST_F(TransitionTest, MosaicGrowsBlocksSwapsInTheNewSceneAndKeepsTheCaptureWhole) {
  EXPECT_EQ(KivEffectMosaicBlock(0.0f), 1);
  EXPECT_EQ(KivEffectMosaicBlock(0.5f), 129);
  EXPECT_EQ(KivEffectMosaicBlock(1.0f), 1);
  EXPECT_EQ(KivEffectMosaicBlock(4.0f / 256), 8);
  Begin(6, 256);
  const uint32_t t0 = now + 16;
  FrameAt(t0);
  EXPECT_EQ(Shown(), oldFrame) << "block 1: the capture as it is";
  // t = 4/256: blocks of 8, each the capture's pixel at its top-left corner.
  FrameAt(t0 + 4);
  const Px shown = Shown();
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      // 20 x 12 blocks: the last two rows are a block of their own, sampled
      // at its top-left corner as every other.
      const int bx = x / 8, by = y / 8;
      ASSERT_EQ(shown[y * kW + x], oldFrame[(by * 8) * kW + bx * 8]) << x << "," << y;
    }
  EXPECT_EQ(Capture(), oldFrame) << "the capture itself stays whole";
  FrameAt(t0 + 100);
  EXPECT_EQ(Shown(), Pixelated(oldFrame, KivEffectMosaicBlock(T(100, 256))));
  FrameAt(t0 + 128);
  EXPECT_EQ(Capture(), oldFrame) << "half the duration is not yet past it";
  FrameAt(t0 + 129);
  EXPECT_EQ(Capture(), newFrame) << "the first frame past half captures the new scene";
  EXPECT_EQ(Shown(), Pixelated(newFrame, KivEffectMosaicBlock(T(129, 256))));
  FrameAt(t0 + 200);
  EXPECT_EQ(Shown(), Pixelated(newFrame, KivEffectMosaicBlock(T(200, 256))));
  EXPECT_EQ(Capture(), newFrame);
  FrameAt(t0 + 256);
  EXPECT_EQ(Shown(), newFrame);
  ExpectEndsAtTheNextPass(t0 + 272);
}

TEST_F(TransitionTest, MaskWipeOpensTheBrightPartsFirstOverWhatBothPicturesCover) {
  // A mask smaller and one larger than the screen: each walked at its own
  // pitch, the capture's alpha set where both are.
  for (auto [mw, mh] : {std::pair{100, 50}, {200, 120}}) {
    SCOPED_TRACE(testing::Message() << mw << "x" << mh);
    const Image mask = Mask(mw, mh);
    Write("Mask03.bmp", kivtools::EncodeBmp(mask, 8));
    Begin(13, 510);
    const uint32_t t0 = now + 16;
    for (uint32_t e : {0u, 2u, 255u, 500u, 510u}) {
      FrameAt(t0 + e);
      const int b = static_cast<int>(Byte(1.0f - T(e, 510)));
      Px capture = oldFrame;
      for (int y = 0; y < std::min(mh, kH); ++y)
        for (int x = 0; x < std::min(mw, kW); ++x) {
          uint32_t& p = capture[y * kW + x];
          p = (p & 0xFFFFFFu) | KivMaskAlpha(b, static_cast<int>(mask.pixels[y * mw + x] & 0xFF)) << 24;
        }
      if (e == 0) {
        EXPECT_EQ(b, 255);
      }
      if (b > 0) {
        EXPECT_EQ(Capture(), capture) << e;
        ASSERT_EQ(Shown(), Over(newFrame, capture, ~0u)) << e;
      } else {
        EXPECT_EQ(Shown(), newFrame) << "threshold 0: everything open";
      }
    }
    EXPECT_EQ(g_kivEffect.mask, nullptr) << "the last frame lets the mask go";
    ExpectEndsAtTheNextPass(t0 + 526);
  }
}

TEST_F(TransitionTest, AMissingOrCorruptMaskEndsTheTransitionAtTheNextPass) {
  Write("Mask06.bmp", std::vector<uint8_t>{'B', 'M', 0, 1, 2, 3, 4, 5});
  Write("Mask07.bmp", kivtools::EncodeGe(Mask(kW, kH)));  // decodes: a mask need not be a BMP
  const int liveBefore = KivMemoryLive();
  for (unsigned kind : {15u, 16u}) {
    Begin(kind, 1000);
    FrameAt(now + 16);
    EXPECT_EQ(Shown(), newFrame) << kind << ": nothing is drawn";
    EXPECT_EQ(g_kivEffect.renderer, nullptr);
    ExpectEndsAtTheNextPass(now + 16);
  }
  EXPECT_EQ(KivMemoryLive(), liveBefore);
  Begin(17, 1000);
  FrameAt(now + 16);
  EXPECT_NE(Shown(), newFrame) << "a GE mask works";
  KivEffectReset();
  EXPECT_EQ(g_kivEffect.mask, nullptr);
  EXPECT_EQ(KivMemoryLive(), liveBefore);
}

TEST_F(TransitionTest, KindsWithoutARendererLastOnePassAndDrawNothing) {
  for (unsigned kind : {4u, 7u, 8u, 9u}) {
    Begin(kind, 5000);
    EXPECT_EQ(Capture(), oldFrame) << "the capture is still taken";
    FrameAt(now + 16);
    EXPECT_EQ(KivEffectIs(), 0) << kind;
    EXPECT_EQ(Shown(), newFrame) << kind;
  }
}

TEST_F(TransitionTest, DurationZeroDrawsTheLastFrameFirstForEveryKind) {
  Write("Mask00.bmp", kivtools::EncodeBmp(Mask(kW, kH), 8));
  for (unsigned kind = 1; kind < 30; ++kind) {
    SCOPED_TRACE(kind);
    Begin(kind, 0);
    FrameAt(now + 16);
    const Px last = kind == 5 ? Over(newFrame, Px(kW * kH, 0xFFFFFFFFu), ~0u) : newFrame;
    EXPECT_EQ(Shown(), last);
    if (KivEffectIs()) {
      ExpectEndsAtTheNextPass(now + 16);
    }
  }
}

TEST_F(TransitionTest, AClickJumpsToTheLastFrameWhenAskedFor) {
  Write("Mask00.bmp", kivtools::EncodeBmp(Mask(kW, kH), 8));
  for (unsigned kind : {1u, 2u, 3u, 6u, 10u}) {
    SCOPED_TRACE(kind);
    Begin(kind, 1000, 1);
    FrameAt(now + 16);
    EXPECT_NE(Shown(), newFrame);
    KivInputSetKeyPush(static_cast<int>(kLeftButton));
    FrameAt(now + 100);
    KivInputClear();
    EXPECT_EQ(Shown(), newFrame);
    ExpectEndsAtTheNextPass(now + 16);
  }
  // Without click skip a click changes nothing.
  Begin(1, 1000, 0);
  FrameAt(now + 16);
  KivInputSetKeyPush(static_cast<int>(kLeftButton));
  FrameAt(now + 100);
  KivInputClear();
  EXPECT_EQ(Shown(), Over(newFrame, oldFrame, Byte(1.0f - T(100, 1000)) << 24 | 0xFFFFFFu));
  KivEffectReset();
}

TEST_F(TransitionTest, AScreenModeChangeEndsTheTransitionAtItsNextStep) {
  Begin(1, 100000);
  FrameAt(now + 16);
  static_cast<plat::Window*>(KivGetWindowHandle())->CallProc(plat::kMsgApp + 0x66, 0, 0);
  EXPECT_EQ(g_kivEffect.duration, 1u);
  FrameAt(now + 16);
  EXPECT_EQ(Shown(), newFrame);
  ExpectEndsAtTheNextPass(now + 16);
  static_cast<plat::Window*>(KivGetWindowHandle())->CallProc(plat::kMsgApp + 0x66, 0, 0);
  EXPECT_EQ(KivEffectIs(), 0) << "nothing running: nothing to end";
}

// ---------------------------------------------------------------- the wait task

int g_followerRuns = 0;
int Follower(void*) {
  ++g_followerRuns;
  return 1;
}
unsigned g_startKind = 0;
int g_startWait = 0;
int Starter(void*) {
  if (g_startKind) {
    EXPECT_EQ(KivEffectEx(g_startKind, 100, 0, g_startWait), 1);
    g_startKind = 0;
  }
  return 1;
}

TEST_F(TransitionTest, TheWaitTaskHoldsTheCallersFollowersOnlyWhenAskedFor) {
  KivTask* starter = KivTaskCreate(Starter, nullptr, 0, nullptr, KIV_TASK_BEHIND, nullptr, "starter");
  KivTask* follower = KivTaskCreate(Follower, nullptr, 0, nullptr, KIV_TASK_BEHIND, starter, "follower");
  ASSERT_TRUE(starter && follower);
  auto frame = [&](uint32_t t) {
    KivTaskWalkRoot();
    FrameAt(t);
  };
  for (int wait : {1, 0}) {
    SCOPED_TRACE(wait);
    ShowOld();
    ChangeScene();
    const int tasks = g_kiv->tasks.live;
    g_followerRuns = 0;
    g_startKind = 1;
    g_startWait = wait;
    frame(now + 16);  // the starter starts it from within the task walk
    ASSERT_EQ(KivEffectIs(), 1);
    EXPECT_EQ(g_followerRuns, wait ? 0 : 1) << "the wait stands right behind its caller";
    frame(now + 50);
    frame(now + 50);  // elapsed 100: the kind's last frame
    EXPECT_EQ(g_followerRuns, wait ? 0 : 3);
    EXPECT_EQ(g_kiv->tasks.live, tasks + wait);
    // The end pass runs while a task is current, which a free of "the
    // current task" would end.
    g_kiv->tasks.current = starter;
    FrameAt(now + 16);
    EXPECT_EQ(KivEffectIs(), 0);
    frame(now + 16);
    EXPECT_EQ(g_kiv->tasks.live, tasks) << "the wait, and only the wait, is gone";
    EXPECT_EQ(KivTaskGetState(starter), 1);
    EXPECT_EQ(KivTaskGetState(follower), 1);
    EXPECT_EQ(g_followerRuns, wait ? 1 : 4);
  }
}

// ---------------------------------------------------------------- captures through the table

int g_captureFailures = 0, g_captureCalls = 0;
bool FlakyCapture(void* core, void* surface) {
  ++g_captureCalls;
  if (g_captureFailures > 0) {
    --g_captureFailures;
    return false;
  }
  return kKivSoftEffects.captureBackBuffer(core, surface);
}

TEST_F(TransitionTest, ACaptureThatFailsIsRetriedTenTimesThenTheTransitionRunsAnyway) {
  KivEffectRenderer flaky = kKivSoftEffects;
  flaky.captureBackBuffer = FlakyCapture;
  KivRenderer table = kKivSoftRenderer;
  table.effects = &flaky;
  g_kiv->renderer = &table;
  ShowOld();
  ChangeScene();
  g_captureFailures = 3;
  g_captureCalls = 0;
  ASSERT_EQ(KivEffectEx(1, 100, 0, 0), 1);
  EXPECT_EQ(g_captureCalls, 4);
  EXPECT_EQ(Capture(), oldFrame);
  KivEffectReset();
  // Now every read-back fails: the capture keeps the old scene it held.
  KivSpriteViewCtrl(oldSprite, 0);
  FrameAt(now + 16);
  g_captureFailures = 100;
  g_captureCalls = 0;
  ASSERT_EQ(KivEffectEx(1, 100, 0, 0), 1);
  EXPECT_EQ(g_captureCalls, 10);
  EXPECT_EQ(KivEffectIs(), 1);
  EXPECT_EQ(Capture(), oldFrame);
  KivEffectReset();
  g_kiv->renderer = &kKivSoftRenderer;
}

// ---------------------------------------------------------------- golden frames

// Each drawn kind at its first frame, halfway and at its last frame, from
// the old scene to the new: rows cross-fade, blurring fade, box, white,
// mosaic, mask wipe 00; columns start, middle, end. KIV_UPDATE_GOLDEN=1
// writes the reviewed picture anew.
TEST_F(TransitionTest, EveryKindMatchesTheGoldenFrames) {
  Image mask{kW, kH, Px(kW * kH)};
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int dx = x - kW / 2, dy = y - kH / 2;
      const int d = std::min(255, (dx * dx + dy * dy) * 255 / (80 * 80 + 45 * 45));
      mask.pixels[y * kW + x] = 0xFF000000u | (255 - d) * 0x010101u;  // the centre opens first
    }
  Write("Mask00.bmp", kivtools::EncodeBmp(mask, 8));
  const unsigned kinds[] = {1, 2, 3, 5, 6, 10};
  Image sheet{3 * kW, 6 * kH, Px(static_cast<size_t>(3 * kW) * 6 * kH)};
  for (int row = 0; row < 6; ++row) {
    Begin(kinds[row], 1000);
    const uint32_t t0 = now + 16;
    const uint32_t at[3] = {0, 500, 1000};
    for (int col = 0; col < 3; ++col) {
      FrameAt(t0 + at[col]);
      const Px shown = Shown();
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
          sheet.pixels[static_cast<size_t>(row * kH + y) * 3 * kW + col * kW + x] = shown[y * kW + x];
    }
    ExpectEndsAtTheNextPass(t0 + 1016);
  }
  const std::string golden = std::string(KIV_GOLDEN_DIR) + "/transitions.png";
  if (const char* u = std::getenv("KIV_UPDATE_GOLDEN"); u && std::string(u) == "1") {
    ASSERT_TRUE(plat::CapturePng(golden, sheet.pixels.data(), sheet.width, sheet.height, sheet.width));
  }
  Px want;
  int gw = 0, gh = 0;
  ASSERT_TRUE(plat::ReadPng(golden, &want, &gw, &gh)) << golden << " (KIV_UPDATE_GOLDEN=1 writes it)";
  ASSERT_EQ(gw, sheet.width);
  ASSERT_EQ(gh, sheet.height);
  int differ = 0;
  for (size_t i = 0; i < want.size(); ++i)
    if ((want[i] & 0xFFFFFFu) != (sheet.pixels[i] & 0xFFFFFFu)) ++differ;
  EXPECT_EQ(differ, 0) << "pixels differing from " << golden;
}

// ---------------------------------------------------------------- Fx

const float* Work(KivSprite* s) {
  KivFxRequest r;
  const KivFxRequest* got = KivFxProgress(static_cast<KivFxEffect*>(s->fx), &r);
  return got ? got->work : nullptr;
}

TEST_F(TransitionTest, RasterFxFadesInThenOutOverItsLengthsAndGoesIdle) {
  const int live = KivMemoryLive();
  KivSpriteViewCtrl(oldSprite, 0);
  KivSpriteViewCtrl(newSprite, 1);
  const KivFxRaster wave{10000, 1.0f, 0.5f};
  g_kiv->frameTime = 2000;
  ASSERT_EQ(KivSpriteSetFxEffect(newSprite, 0, 1, 1000, &wave), 1);
  EXPECT_EQ(KivSpriteGetFxEffectState(newSprite), 1);
  EXPECT_EQ(KivSpriteSetFxEffect(newSprite, 0, 1, 1000, &wave), 0) << "already running";
  struct {
    uint32_t at;
    float x, y;
    int state;
  } steps[] = {{2000, 0.0f, 0.0f, 1}, {2500, 0.5f, 0.25f, 1}, {3000, 1.0f, 0.5f, 1}, {4000, 1.0f, 0.5f, 1}};
  for (auto& s : steps) {
    g_kiv->frameTime = s.at;
    const float* w = Work(newSprite);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w[1], s.x) << s.at;
    EXPECT_EQ(w[2], s.y) << s.at;
    EXPECT_EQ(KivSpriteGetFxEffectState(newSprite), s.state);
  }
  ASSERT_EQ(KivSetFxEffect(newSprite, 0, 2, 500, nullptr), 1);
  EXPECT_EQ(KivGetFxEffectState(newSprite, 0x0FFFFFFF), 2);
  g_kiv->frameTime = 4250;
  EXPECT_EQ(Work(newSprite)[1], 0.5f);
  g_kiv->frameTime = 4499;
  EXPECT_GT(Work(newSprite)[1], 0.0f);
  EXPECT_EQ(KivSpriteGetFxEffectState(newSprite), 2);
  g_kiv->frameTime = 4500;
  const float* last = Work(newSprite);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last[1], 0.0f);
  EXPECT_EQ(last[2], 0.0f);
  EXPECT_EQ(KivSpriteGetFxEffectState(newSprite), 0) << "the ending run reached its length";
  EXPECT_EQ(Work(newSprite), nullptr);
  // Idle again: it starts anew, and what the earlier run held is freed.
  ASSERT_EQ(KivSpriteSetFxEffect(newSprite, 0, 1, 0, &wave), 1);
  EXPECT_EQ(Work(newSprite)[1], 1.0f) << "length 0: full at once";
  EXPECT_EQ(KivSpriteSetFxEffect(newSprite, 0, 0, 0, nullptr), 1);
  EXPECT_EQ(KivSpriteGetFxEffectState(newSprite), 0);
  plat::SetLastError(0);
  EXPECT_EQ(KivSpriteSetFxEffect(newSprite, 1, 1, 0, &wave), 0) << "no such effect";
  EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidParameter);
  EXPECT_EQ(KivReleaseFxEffect(newSprite, 0), 1);
  EXPECT_EQ(KivReleaseFxEffect(newSprite, 0), 0) << "no record left";
  EXPECT_EQ(newSprite->fx, nullptr);
  EXPECT_EQ(KivMemoryLive(), live);
  EXPECT_EQ(KivSetFxEffect(newSprite, 0, 2, 500, nullptr), 1) << "ending an idle sprite does nothing";
  EXPECT_EQ(KivSpriteGetFxEffectState(newSprite), 0);
  plat::SetLastError(0);
  KivFxRequest r;
  EXPECT_EQ(KivFxProgress(nullptr, &r), nullptr);
  EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidHandle);
}

TEST_F(TransitionTest, RasterWavesShareOnePhaseClock) {
  const KivFxRaster fast{100, 1.0f, 0.0f}, slow{300, 1.0f, 0.0f};
  g_kiv->frameTime = 5000;
  ASSERT_EQ(KivSpriteSetFxEffect(oldSprite, 0, 1, 0, &fast), 1);
  ASSERT_EQ(KivSpriteSetFxEffect(newSprite, 0, 1, 0, &slow), 1);
  EXPECT_EQ(Work(oldSprite)[0], 0.0f) << "the first use sets the clock";
  g_kiv->frameTime = 5050;
  EXPECT_EQ(Work(oldSprite)[0], 0.5f);
  EXPECT_EQ(Work(newSprite)[0], 50.0f / 300.0f);
  g_kiv->frameTime = 5120;
  EXPECT_EQ(Work(oldSprite)[0], 1.0f) << "a period went by: the clock restarts";
  EXPECT_EQ(Work(newSprite)[0], 0.0f) << "for every wave";
  g_kiv->frameTime = 5180;
  EXPECT_EQ(Work(newSprite)[0], 60.0f / 300.0f);
}

TEST_F(TransitionTest, ASpriteAndTheScreenCarryTheWaveOneScreenEffectAtATime) {
  KivSpriteViewCtrl(oldSprite, 0);
  KivSpriteViewCtrl(newSprite, 1);
  // A small sprite in front, drawn after the screen effect's node.
  Image dot{20, 10, Px(200, 0xFF2040F0u)};
  KivSprite* front = FromImage(dot, 10);
  ASSERT_NE(front, nullptr);
  KivSpriteSetPos(front, 30.0f, 40.0f);
  FrameAt(6000);
  const Px plain = Shown();
  int priority = 50;
  const KivFxRaster wave{400, 0.0f, 1.0f};
  ASSERT_EQ(KivSetFxEffect(&priority, KIV_FX_SCREEN, 1, 0, &wave), 1);
  EXPECT_EQ(KivSetFxEffect(&priority, KIV_FX_SCREEN, 1, 0, &wave), 0) << "one screen effect at a time";
  EXPECT_EQ(KivGetFxEffectState(nullptr, 0x1FFFFFFF), 1);
  FrameAt(6100);  // phase 100 / 400 from the clock's first use at 6100: 0
  Px back(kW * kH);
  for (int i = 0; i < kW * kH; ++i) back[i] = newFrame[i];
  Px waved = back;
  // The wave over the GPU renderer's power-of-two render target, the
  // screen in its middle.
  const int rw = KivPowerOfTwo(kW), rh = KivPowerOfTwo(kH);
  KivPixelRasterWave(back.data(), waved.data(), kW, kH, (rw - kW) >> 1, (rh - kH) >> 1, rw, rh, 0.0f, 0.0f, 1.0f);
  for (int y = 40; y < 50; ++y)
    for (int x = 30; x < 50; ++x) waved[y * kW + x] = RefBlend(waved[y * kW + x], 0xFF2040F0u, ~0u);
  EXPECT_EQ(Shown(), waved) << "what lies behind the node waves, what is drawn after it does not";
  EXPECT_NE(Shown(), plain);
  // Ended, the software node stays (drawing nothing) until released.
  ASSERT_EQ(KivSetFxEffect(nullptr, KIV_FX_SCREEN, 2, 0, nullptr), 1);
  FrameAt(6200);
  EXPECT_EQ(KivGetFxEffectState(nullptr, KIV_FX_SCREEN), 0);
  FrameAt(6300);
  EXPECT_EQ(Shown(), plain);
  EXPECT_EQ(KivSetFxEffect(&priority, KIV_FX_SCREEN, 1, 0, &wave), 0) << "the node still stands";
  EXPECT_EQ(KivReleaseFxEffect(nullptr, KIV_FX_SCREEN), 1);
  int nodes = 0;
  for (KivRenderNode* n = list->head.next; n; n = n->next) nodes += n->draw == KivFxDrawProc;
  EXPECT_EQ(nodes, 0);
  EXPECT_EQ(KivSetFxEffect(&priority, KIV_FX_SCREEN, 1, 0, &wave), 1) << "released: a new one may start";
  // A sprite's own wave: the sprite alone, drawn through the Fx buffers.
  ASSERT_EQ(KivReleaseFxEffect(nullptr, KIV_FX_SCREEN), 1);
  const KivFxRaster across{400, 1.0f, 0.0f};
  ASSERT_EQ(KivSpriteSetFxEffect(newSprite, 0, 1, 0, &across), 1);
  FrameAt(6450);  // within the clock's period since 6100: the draw and this read agree
  const float* w = Work(newSprite);
  Px alone(kW * kH, 0), rippled;
  for (int i = 0; i < kW * kH; ++i) alone[i] = newImage.pixels[i];
  rippled.assign(alone.size(), 0u);  // what the wave pulls in from outside the screen is transparent
  KivPixelRasterWave(alone.data(), rippled.data(), kW, kH, (rw - kW) >> 1, (rh - kH) >> 1, rw, rh, w[0], w[1], w[2]);
  EXPECT_NE(rippled, alone) << "the sprite waves";
  const Px shown = Shown();
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      uint32_t want = RefBlend(0xFF000000u, rippled[y * kW + x], ~0u);
      if (y >= 40 && y < 50 && x >= 30 && x < 50) want = RefBlend(want, 0xFF2040F0u, ~0u);
      ASSERT_EQ(shown[y * kW + x], want) << x << "," << y;
    }
  KivEffectEnable(0);
  FrameAt(6600);
  EXPECT_EQ(Shown(), plain) << "effects off: no wave";
  KivEffectEnable(1);
}

}  // namespace
