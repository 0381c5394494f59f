// A headless engine with a data folder of its own and an active render list,
// for tests that build scenes of sprites; sprites still in the list are
// released at the end, so each test starts from an empty screen.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/engine_fixture.h"
#include "support/release_render_list.h"
#include "image_encoder.h"
#include "render/soft_screen.h"
#include "sprite/sprite.h"

namespace kivtest {

class SpriteSceneTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    AdjustParams();
    char tmpl[] = "/tmp/kivsceneXXXXXX";
    folder = mkdtemp(tmpl);
    ASSERT_EQ(KivInit(&params), 1);
    ASSERT_EQ(KivSystemPathSet(folder.c_str()), 1);
    list = KivRenderInit();
    KivRenderSetActive(list);
    screen = g_kiv->soft;
    live = KivMemoryLive();
  }
  void TearDown() override {
    if (g_kiv) {
      ReleaseRenderList(list);
    }
    EngineTest::TearDown();
    ASSERT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
  }
  // Changes to the engine's parameters before it starts.
  virtual void AdjustParams() {}

  // A sprite from an image, through a GE file of the planar method.
  KivSprite* FromImage(const kivtools::Image& img, int priority = 0) {
    kivtools::GeOptions o;
    o.method = 1;
    std::vector<uint8_t> ge = kivtools::EncodeGe(img, o);
    return KivSpriteLoadMemory(list, "mem", ge.data(), static_cast<int>(ge.size()), priority);
  }

  std::string folder;
  KivRenderList* list = nullptr;
  KivSoftScreen* screen = nullptr;
  int live = 0;
};

}  // namespace kivtest
