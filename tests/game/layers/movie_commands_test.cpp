// Group 11 against the headless engine on the virtual clock: movie sprites
// set on layers from assembled scripts, waited for, locked, stopped, cleared,
// saved and loaded back playing; layer numbers outside 0..127 ignored; and
// full-window movie_play, which fails cleanly on a bad file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "component_entries.h"
#include "layers/layers.h"
#include "movie/movie.h"
#include "movie_maker.h"
#include "platform/core/clock.h"
#include "sprite/sprite.h"
#include "start/game_task.h"
#include "support/engine_fixture.h"
#include "support/vm_harness.h"

namespace {

int WaitFrame(VmContext* ctx) {
  command_yield(ctx);
  return 1;
}

void WriteMovie(const std::string& path, int frames) {
  kivtools::MovieSpec spec;
  spec.frames = frames;
  std::string error;
  ASSERT_TRUE(kivtools::WriteMovie(path, spec, &error)) << error;
}

class MovieCommandsTest : public kivtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    params.clientWidth = params.screenWidth = 1280;
    params.clientHeight = params.screenHeight = 720;
    char tmpl[] = "/tmp/kivmspXXXXXX";
    dir = mkdtemp(tmpl);
    WriteMovie(dir + "/CLIP.MPG", 10);
    std::ofstream(dir + "/BAD.MPG") << "not a movie at all";
  }
  void TearDown() override {
    m.reset();
    if (list) {
      KivRenderSetActive(nullptr);
      KivRenderUninit(list);
    }
    EngineTest::TearDown();
    ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
  }
  void Start(const std::string& script) {
    ASSERT_EQ(KivInit(&params), 1);
    ASSERT_EQ(KivSystemPathSet(dir.c_str()), 1);
    list = KivRenderInit();
    KivRenderSetActive(list);
    m = std::make_unique<vmtest::Machine>(script);
    ASSERT_TRUE(m->ok);
    ctx = m->ctx;
    ctx->renderList = list;
    game_reset(ctx);
  }
  // One game frame as the frame loop runs it.
  void Frame(uint32_t ms = 20) {
    plat::AdvanceVirtualClock(ms);
    KivUpdateTime();
    KivRenderLock();
    game_task_frame(ctx);
    KivRenderUnlock();
    KivMovieSpritesStep();
    KivRenderFrame();
  }
  bool Done() const { return ctx->script.pc == ctx->script.codeSize; }
  KivSprite* SpriteOf(int layer) {
    LayerRecord& l = ctx->layers.layers[layer];
    return l.record ? l.record->sprite : nullptr;
  }

  vmtest::ScopedBinding wait{"wait_frame", WaitFrame};
  vmtest::LogCapture log;
  std::string dir;
  std::unique_ptr<vmtest::Machine> m;
  VmContext* ctx = nullptr;
  KivRenderList* list = nullptr;
};

}  // namespace

TEST_F(MovieCommandsTest, SetRunAndWaitForTheEnd) {
  Start(R"(
.file "UNUSED"
    call msp_set file"clip", 5, 100, 200, 1
    call run 0, 0, 0
    call msp_wait 5
    call wait_frame
)");
  Frame();
  KivSprite* s = SpriteOf(5);
  ASSERT_NE(s, nullptr);
  ASSERT_NE(KivMSpriteCheck(s), nullptr);
  EXPECT_TRUE(ctx->layers.layers[5].flags & kLayerFlagMovie);
  EXPECT_EQ(ctx->layers.layers[5].movieLoop, 1);
  KivSpriteInfo info{};
  KivSpriteGetInfo(s, &info);
  EXPECT_EQ(info.x, 100.0f);
  EXPECT_EQ(info.y, 200.0f);
  EXPECT_TRUE(log.Has(10, "msp_set loop = 1")) << log.All();
  // msp_wait turns the loop off and holds the script until the end.
  int frames = 0;
  while (!Done() && frames < 100) {
    Frame();
    ++frames;
    if (frames < 15) {
      EXPECT_NE(ctx->layers.movieWait, 0);
    }
  }
  EXPECT_TRUE(Done());
  EXPECT_EQ(KivMSpriteGetState(s), 6);
  EXPECT_EQ(ctx->layers.movieWait, 0);
  EXPECT_TRUE(log.Has(10, "msp_wait 5"));
}

TEST_F(MovieCommandsTest, WaitEndsOnSkipWithoutAMovieAndAfterTheLayerIsCleared) {
  Start(R"(
.file "UNUSED"
first:
    call msp_set file"clip", 5, 0, 0, 1
    call msp_wait 5
    call wait_frame
second:
    call msp_wait 9
    call wait_frame
third:
    call msp_set file"clip", 6, 0, 0, 1
    call msp_wait 6
    call wait_frame
)");
  // Skipping ends the wait.
  Frame();
  Frame();
  EXPECT_EQ(ctx->layers.movieWait, 6);
  ctx->skipMode = 1;
  Frame();
  EXPECT_EQ(ctx->layers.movieWait, 0);
  ctx->skipMode = 0;
  // A layer without a movie: the first call ends it.
  ctx->script.pc = m->Pc("second");
  Frame();
  EXPECT_TRUE(log.Has(10, "not msp 9"));
  EXPECT_EQ(ctx->layers.movieWait, 0);
  // A waited layer cleared meanwhile (the engine frame ran sp_cls).
  ctx->script.pc = m->Pc("third");
  Frame();
  EXPECT_EQ(ctx->layers.movieWait, 7);
  layer_release(ctx, 6);
  Frame();
  EXPECT_EQ(ctx->layers.movieWait, 0);
  // A reset clears a wait that is still pending.
  ctx->script.pc = m->Pc("first");
  Frame();
  Frame();
  EXPECT_NE(ctx->layers.movieWait, 0);
  game_reset(ctx);
  EXPECT_EQ(ctx->layers.movieWait, 0);
}

TEST_F(MovieCommandsTest, LayersOutsideTheRangeAreIgnoredAndControlsWork) {
  Start(R"(
.file "UNUSED"
    call msp_set file"clip", 128, 0, 0, 0
    call msp_set file"clip", -1, 0, 0, 0
    call msp_play -1, 0
    call msp_stop 128
    call msp_lock -5
    call msp_cls 200
    call msp_wait 300
    call msp_play 3, 0
    call msp_set file"clip", 3, 0, 0, 0
    call msp_lock 3
    call msp_unlock 3
    call msp_stop 3
    call wait_frame
    call msp_play 3, 1
    call msp_cls 3
    call wait_frame
)");
  Frame();  // up to msp_wait, which always yields
  Frame();
  EXPECT_FALSE(log.HasAny("graph error")) << log.All();
  EXPECT_TRUE(log.Has(10, "初期化していないレイヤーを指定しました")) << log.All();
  KivSprite* s = SpriteOf(3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(KivMSpriteGetState(s), 2);
  EXPECT_TRUE(log.Has(10, "msp_stop 3"));
  Frame();
  EXPECT_TRUE(log.Has(10, "msp_play 3, 1"));
  EXPECT_TRUE(log.Has(10, "msp_cls"));
  EXPECT_EQ(SpriteOf(3), nullptr);
  EXPECT_EQ(ctx->valueStackDepth, 0);
}

// msp_cls ignores only numbers above the layers: -1 clears every layer as
// sp_cls -1 does, and another negative number is sp_cls's error.
TEST_F(MovieCommandsTest, MspClsMinusOneClearsEveryLayer) {
  Start(R"(
.file "UNUSED"
    call msp_set file"clip", 3, 0, 0, 0
    call msp_set file"clip", 9, 0, 0, 0
    call wait_frame
    call msp_cls -1
    call wait_frame
    call msp_cls -7
    call wait_frame
)");
  Frame();
  ASSERT_NE(SpriteOf(3), nullptr);
  ASSERT_NE(SpriteOf(9), nullptr);
  Frame();
  EXPECT_EQ(SpriteOf(3), nullptr);
  EXPECT_EQ(SpriteOf(9), nullptr);
  EXPECT_FALSE(log.HasAny("graph error")) << log.All();
  Frame();
  EXPECT_TRUE(log.Has(0, "no = -7")) << log.All();
}

TEST_F(MovieCommandsTest, ALoopingMovieLayerPlaysAgainAfterALoad) {
  Start(R"(
.file "UNUSED"
    call msp_set file"clip", 2, 0, 0, 1
    call run 0, 0, 0
    call wait_frame
)");
  Frame();
  Frame();
  std::vector<uint8_t> buffer(0x100000);
  uint32_t used = 0;
  ASSERT_TRUE(layer_save(ctx, buffer, &used));
  const std::vector<uint8_t> saved(buffer.begin(), buffer.begin() + used);
  game_reset(ctx);
  EXPECT_EQ(SpriteOf(2), nullptr);
  uint32_t cursor = 0;
  ASSERT_TRUE(layer_restore(ctx, saved, &cursor));
  KivSprite* s = SpriteOf(2);
  ASSERT_NE(s, nullptr);
  ASSERT_NE(KivMSpriteCheck(s), nullptr);
  EXPECT_EQ(KivMSpriteGetState(s), 1);
  for (int i = 0; i < 40; ++i) Frame();  // 800 ms: twice round
  EXPECT_EQ(KivMSpriteGetState(s), 1);
}

TEST_F(MovieCommandsTest, MoviePlayFailsCleanlyOnABadFile) {
  Start(R"(
.file "UNUSED"
    call movie_play file"bad.mpg"
    call wait_frame
)");
  Frame();
  EXPECT_TRUE(log.Has(0, "ムービーの再生に失敗。[BAD.MPG]")) << log.All();
  EXPECT_EQ(IsMovie(), 0);
}

TEST_F(MovieCommandsTest, MoviePlayStartsTheMovieAndYields) {
  Start(R"(
.file "UNUSED"
    call movie_play file"clip.mpg"
    mov r1, 7
)");
  m->Run();
  EXPECT_TRUE(log.Has(10, "movie_play  CLIP.MPG")) << log.All();
  EXPECT_EQ(IsMovie(), 1);
  EXPECT_EQ(m->Reg(1), 0) << "the script resumes next frame";
  m->Run();
  EXPECT_EQ(m->Reg(1), 7);
  // A second movie while one plays is refused.
  EXPECT_EQ(KivVideoPlay("clip.mpg"), 0);
  KivVideoClose(0);
  EXPECT_EQ(IsMovie(), 0);
}
