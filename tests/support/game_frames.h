// A game played frame by frame on the headless engine: an assembled script
// on a 1280 x 720 software screen, the virtual clock, injected keys and
// mouse, and a data folder of its own for the pictures a test draws.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "component_entries.h"
#include "image_encoder.h"
#include "platform/core/clock.h"
#include "platform/input/input.h"
#include "start/game_record.h"
#include "start/game_task.h"
#include "support/engine_fixture.h"
#include "support/vm_harness.h"
#include "task/render_list.h"
#include "core/system_state.h"
#include "platform/window/window.h"

namespace kivtest {

// A machine with the assembled script loaded, drawing into `list`, reset
// as the game starts.
inline void StartScript(std::unique_ptr<vmtest::Machine>& m, VmContext*& ctx, KivRenderList* list,
                        const std::string& script) {
  m = std::make_unique<vmtest::Machine>(script);
  ASSERT_TRUE(m->ok);
  ctx = m->ctx;
  ctx->renderList = list;
  game_reset(ctx);
}

class GameFrameTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    params.clientWidth = params.screenWidth = 1280;
    params.clientHeight = params.screenHeight = 720;
    plat::UseVirtualClock(true, clockStart);
    char tmpl[] = "/tmp/kivgameXXXXXX";
    folder = mkdtemp(tmpl);
    ASSERT_EQ(KivInit(&params), 1);
    ASSERT_EQ(KivSystemPathSet(folder.c_str()), 1);
    list = KivRenderInit();
    KivRenderSetActive(list);
    KivFontSetType(0);
    KivFontSetFontSize(24);
    plat::HeadlessInputReset();
    origin = g_kiv->window->backend()->ClientRectOnScreen();
  }
  void TearDown() override {
    m.reset();
    KivRenderSetActive(nullptr);
    KivRenderUninit(list);
    plat::HeadlessInputReset();
    EngineTest::TearDown();
    ASSERT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
  }

  void Start(const std::string& script) { StartScript(m, ctx, list, script); }
  // One game frame as the engine runs it.
  void Frame(uint32_t ms = 16) {
    plat::AdvanceVirtualClock(ms);
    KivUpdateTime();
    KivInputUpdate();
    KivRenderLock();
    game_task_frame(ctx);
    KivRenderUnlock();
    ASSERT_EQ(KivRenderFrame(), 1);
  }
  // A key pushed for one frame, then let go for one.
  void Key(int code) {
    plat::HeadlessSetKey(code, true);
    Frame();
    plat::HeadlessSetKey(code, false);
    Frame();
  }
  // Sprites in the game's render list.
  int SpriteCount() const {
    int n = 0;
    for (KivRenderNode* node = list->head.next; node; node = node->next) n += node->draw == KivSpriteDraw;
    return n;
  }
  // A picture written into the data folder as name.PGD (GE, planar).
  void WriteImage(const std::string& name, const kivtools::Image& img, int cw = 0, int ch = 0) {
    kivtools::GeOptions o;
    o.method = 1;
    o.cellWidth = cw;
    o.cellHeight = ch;
    ASSERT_TRUE(kivtools::WriteFileBytes(folder + "/" + name + ".PGD", kivtools::EncodeGe(img, o)));
  }

  // The mouse at a point of the 1280 x 720 screen.
  void MouseTo(int x, int y) { plat::HeadlessSetCursor(origin.left + x, origin.top + y); }

  plat::Rect origin{};
  uint32_t clockStart = 1000;
  std::string folder;
  KivRenderList* list = nullptr;
  std::unique_ptr<vmtest::Machine> m;
  VmContext* ctx = nullptr;
  vmtest::LogCapture log;
};

}  // namespace kivtest
