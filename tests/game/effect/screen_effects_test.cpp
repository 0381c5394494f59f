// Screen effects and layer attribute commands on the headless engine
// (virtual clock, software renderer): assembled scripts run frame by frame,
// checked in the sprites, records and script points they leave and in the
// frames drawn; the effect and layer-raster save blocks are written, read
// back and damaged.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "component_entries.h"
#include "core/system_state.h"
#include "effect/screen_effects.h"
#include "image_encoder.h"
#include "layers/layers.h"
#include "platform/core/clock.h"
#include "platform/window/png_capture.h"
#include "render/soft_screen.h"
#include "start/game_task.h"
#include "support/demo_script.h"
#include "support/golden_frame.h"
#include "support/engine_fixture.h"
#include "support/vm_harness.h"
#include "task/render_list.h"

using kivtools::Image;
using kivtest::EngineTest;

namespace {

Image Solid(int w, int h, uint32_t argb) {
  return Image{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h, argb)};
}

void WriteImage(const std::string& path, const Image& img, int cw = 0, int ch = 0) {
  kivtools::GeOptions o;
  o.method = 1;
  o.cellWidth = cw;
  o.cellHeight = ch;
  ASSERT_TRUE(kivtools::WriteFileBytes(path, kivtools::EncodeGe(img, o)));
}

int WaitFrame(VmContext* ctx) {
  command_yield(ctx);
  return 1;
}

int SpritesIn(KivRenderList* list) {
  int n = 0;
  for (KivRenderNode* node = list->head.next; node; node = node->next) n += node->draw == KivSpriteDraw;
  return n;
}

class EffectTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    params.clientWidth = params.screenWidth = 1280;
    params.clientHeight = params.screenHeight = 720;
    params.surfaceCapacity = 1535;  // as the game asks: 255 flakes and 127 petals fit
    char tmpl[] = "/tmp/kiveffectsXXXXXX";
    dir = mkdtemp(tmpl);
    WriteImage(dir + "/RED.PGD", Solid(200, 100, 0xFFFF0000));
    WriteImage(dir + "/BLUE.PGD", Solid(100, 50, 0xFF0000FF));
    WriteImage(dir + "/BADGE.PGD", Solid(40, 40, 0xFF00FF00));
    WriteImage(dir + "/FLAKE.PGD", Solid(48, 16, 0xFFF0F0FF), 16, 16);   // three flake cells
    Image sky{1280, 720, std::vector<uint32_t>(1280 * 720)};
    for (int y = 0; y < 720; ++y)
      for (int x = 0; x < 1280; ++x)
        sky.pixels[static_cast<size_t>(y) * 1280 + x] =
            0xFF000000u | static_cast<uint32_t>(20 + y / 8) << 16 | static_cast<uint32_t>(30 + y / 10) << 8 |
            static_cast<uint32_t>(((x / 40 + y / 40) & 1) ? 140 : 90);
    WriteImage(dir + "/SKY.PGD", sky);
    Image card = Solid(300, 200, 0xFFE0C080);
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 300; x += 20) card.pixels[static_cast<size_t>(y) * 300 + x] = 0xFF402010;
    WriteImage(dir + "/CARD.PGD", card);
    Image petal{64, 16, std::vector<uint32_t>(64 * 16, 0)};
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 64; ++x) {
        const int cx = x % 8 - 4, cy = y % 8 - 4, r = 1 + (x / 8) % 4;  // each cell a little wider
        if (cx * cx / (r * r + 1) + cy * cy / 9 <= 1) petal.pixels[static_cast<size_t>(y) * 64 + x] = y < 8 ? 0xFFFFB0C8 : 0xFFF090B0;
      }
    WriteImage(dir + "/PETAL.PGD", petal, 8, 8);  // two rows of 8 cells
  }
  void TearDown() override {
    m.reset();
    if (list) {
      KivRenderSetActive(nullptr);
      KivRenderUninit(list);
      list = nullptr;
    }
    EngineTest::TearDown();
    ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
  }
  void Start(const std::string& script) {
    if (!g_kiv) {
      ASSERT_EQ(KivInit(&params), 1);
      ASSERT_EQ(KivSystemPathSet(dir.c_str()), 1);
      // A fixed random table, so that every run draws the same frames.
      std::vector<int> seed(static_cast<size_t>(std::max(params.randomTableSize, 1)));
      uint32_t v = 12345;
      for (int& x : seed) x = static_cast<int>((v = v * 1103515245u + 12345u) >> 16 & 0x7FFF);
      KivRandomSetSeed(seed.data(), static_cast<int>(seed.size()));
    }
    if (!list) {
      list = KivRenderInit();
      KivRenderSetActive(list);
    }
    m = std::make_unique<vmtest::Machine>(script);
    ASSERT_TRUE(m->ok);
    ctx = m->ctx;
    ctx->renderList = list;
    game_reset(ctx);
  }
  void Frame(uint32_t ms = 16) {
    plat::AdvanceVirtualClock(ms);
    KivUpdateTime();
    KivRenderLock();
    game_task_frame(ctx);
    KivRenderUnlock();
    ASSERT_EQ(KivRenderFrame(), 1);
  }
  uint32_t At(int x, int y) const { return g_kiv->soft->backBuffer[static_cast<size_t>(y) * 1280 + x] & 0xFFFFFFu; }
  LayerRecord& Layer(int n) { return ctx->layers.layers[n]; }
  int Points() const { return ctx->script.pointDepth; }
  // Runs one command's script from its label until it yields or ends.
  void RunFrom(const char* label) {
    ctx->script.pc = m->Pc(label);
    ctx->script.yield = 0;
    script_run(ctx);
    ctx->script.pc = ctx->script.codeSize;  // later frames run no script
  }

  // Compares the drawn frame with a reviewed golden picture
  // (KIV_UPDATE_GOLDEN=1 writes it anew).
  void ExpectGolden(const char* name) {
    expect_golden_frame(name, g_kiv->soft->backBuffer);
  }

  vmtest::ScopedBinding wait{"wait_frame", WaitFrame};
  vmtest::LogCapture log;
  std::string dir;
  std::unique_ptr<vmtest::Machine> m;
  VmContext* ctx = nullptr;
  KivRenderList* list = nullptr;
};

// Two layers with images, shown.
constexpr const char* kTwoLayers = R"(
    call sp_set_ex file"RED", 2, 100, 100
    call sp_set_ex file"BLUE", 3, 500, 300
    call run 0, 0, 0
    end
)";

TEST_F(EffectTest, ShakeRangesEndingsAndScriptPoints) {
  Start(kTwoLayers);
  Frame();
  ASSERT_NE(Layer(2).record, nullptr);
  struct Case {
    const char* what;
    uint32_t duration;
    int32_t amplitude, direction;
    int stopAfter;     // frames before effect_stop(0, 1); -1 never
    bool moves;        // some frame shows an offset
    int endsBy;        // frame by which the shake is over (-1: still running after 10)
  };
  const Case cases[] = {
      {"timed, both axes", 100, 20, 2, -1, true, 8},
      {"endless keeps going", 0xFFFFFFFFu, 20, 0, -1, true, -1},
      {"endless, stopped with time 0", 0xFFFFFFFFu, 20, 1, 3, true, 4},
      {"duration 0 ends at once", 0, 20, 2, -1, false, 1},
      {"amplitude 0 moves nothing", 100, 0, 2, -1, false, 8},
      {"a huge amplitude stays in range", 100, 0x7FFFFFFF, 2, -1, true, 8},
      {"timed, stopped with time 0", 1000, 20, 2, 2, true, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(effect_shake_start(ctx, 0, c.duration, c.amplitude, c.direction), 1);
    ctx->script.yield = 0;
    EXPECT_EQ(Points(), c.duration == 0xFFFFFFFFu ? 0 : 1);
    bool moved = false;
    int ended = -1;
    for (int f = 1; f <= 10; ++f) {
      if (f - 1 == c.stopAfter) {
        value_stack_push(ctx, 1);
        value_stack_push(ctx, 0);
        ASSERT_NE(command_handler(0x00100000), nullptr);
        command_handler(0x00100000)(ctx);
      }
      plat::AdvanceVirtualClock(16);
      KivUpdateTime();
      sprite_records_frame_clear(ctx);
      effect_frame(ctx);
      const SpriteFrameTerms& e = Layer(2).record->t.frame;
      const int64_t bound = c.amplitude > 0 ? int64_t{c.amplitude} : 0;
      EXPECT_LE(std::abs(int64_t{e.eX}), bound);
      EXPECT_LE(std::abs(int64_t{e.eY}), bound);
      if (c.direction == 0) {
        EXPECT_EQ(e.eX, 0);
      }
      if (c.direction == 1) {
        EXPECT_EQ(e.eY, 0);
      }
      moved |= e.eX != 0 || e.eY != 0;
      if (ended < 0 && !(ctx->effects.active & kEffectShake)) ended = f;
    }
    EXPECT_EQ(moved, c.moves);
    if (c.endsBy < 0) {
      EXPECT_EQ(ended, -1);
    } else {
      EXPECT_TRUE(ended > 0 && ended <= c.endsBy) << ended;
    }
    EXPECT_EQ(Points(), 0) << "the shake's script point is gone";
    ctx->effects = EffectState{};
  }
  EXPECT_FALSE(log.HasAny("script point pop stack none")) << log.All();
}

TEST_F(EffectTest, FlashShowsItsColourHoldsAPointAndEndsBalanced) {
  Start(R"(
    call sp_set_ex file"RED", 2, 100, 100
    call run 0, 0, 0
    call flush 100, 0, 0, 255
    call wait_frame
    end
stop:
    call effect_stop 0, 1
    end
shake:
    call shake 0, 200, 10, 2
    end
)");
  Frame();  // the image shows
  Frame();  // flush starts
  EXPECT_EQ(Points(), 1);
  const int base = SpritesIn(list);
  Frame();
  EXPECT_GE(At(600, 600) >> 16, 0xF8u) << std::hex << At(600, 600);  // the opaque red flash over everything
  EXPECT_EQ(At(600, 600) & 0xFFFF, 0u);
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "flush 0xFF0000"));
  for (int i = 0; i < 10 && (ctx->effects.active & kEffectFlash); ++i) Frame(20);
  EXPECT_FALSE(ctx->effects.active & kEffectFlash);
  EXPECT_EQ(Points(), 0);
  EXPECT_EQ(SpritesIn(list), base - 1);

  // A flash whose point effect_stop took, and a shake on top: every point
  // goes exactly once.
  ctx->script.pc = m->Pc("stop");
  value_stack_push(ctx, 255), value_stack_push(ctx, 0), value_stack_push(ctx, 0), value_stack_push(ctx, 300);
  command_handler(0x00100002)(ctx);
  EXPECT_EQ(Points(), 1);
  RunFrom("shake");
  EXPECT_EQ(Points(), 2);
  RunFrom("stop");
  EXPECT_EQ(Points(), 0);
  for (int i = 0; i < 30; ++i) Frame(20);
  EXPECT_EQ(ctx->effects.active, 0u);
  EXPECT_EQ(Points(), 0);
  EXPECT_FALSE(log.HasAny("script point pop stack none")) << log.All();

  // A reset during a flash takes its sprite too.
  value_stack_push(ctx, 0), value_stack_push(ctx, 0), value_stack_push(ctx, 255), value_stack_push(ctx, 300);
  command_handler(0x00100002)(ctx);
  EXPECT_EQ(SpritesIn(list), base);
  game_reset(ctx);
  EXPECT_EQ(SpritesIn(list), 0);
}

TEST_F(EffectTest, SnowAndSakuraOwnAllTheirSpritesAndLetGoOfThem) {
  Start(R"(
snow:
    call snow 40, 0, 0, file"FLAKE"
    end
sakura:
    call sakura 0, -700, 0, file"PETAL"
    end
bad:
    call snow 10, 5, 0, file"NOSUCH"
    end
stop:
    call effect_stop 100, 12
    end
)");
  const int liveAtStart = KivMemoryLive();
  RunFrom("snow");
  EXPECT_EQ(SpritesIn(list), kSnowFlakeCount) << log.All();
  EXPECT_EQ(ctx->effects.snow.count, 40);
  EXPECT_EQ(ctx->effects.snow.drift, 1) << "drift 0 is made 1";
  RunFrom("snow");
  EXPECT_EQ(SpritesIn(list), kSnowFlakeCount) << "a second snow replaces the first";
  RunFrom("sakura");
  EXPECT_EQ(SpritesIn(list), kSnowFlakeCount + kSakuraPetalCount);
  EXPECT_EQ(ctx->effects.sakura.count, 1) << "count 0 gives 1";
  EXPECT_EQ(ctx->effects.sakura.drift, -512);

  // Only the first count move.
  const KivSpriteInfo before = [&] {
    KivSpriteInfo i{};
    KivSpriteGetInfo(ctx->effects.flakes[100].sprite, &i);
    return i;
  }();
  for (int i = 0; i < 5; ++i) Frame(50);
  KivSpriteInfo moving{}, still{};
  KivSpriteGetInfo(ctx->effects.flakes[0].sprite, &moving);
  KivSpriteGetInfo(ctx->effects.flakes[100].sprite, &still);
  EXPECT_NE(moving.offsetY, 0);
  EXPECT_EQ(still.offsetY, before.offsetY);

  RunFrom("stop");
  for (int i = 0; i < 10; ++i) Frame(20);
  EXPECT_EQ(ctx->effects.active, 0u);
  EXPECT_EQ(SpritesIn(list), 0) << "ending releases every flake and petal";

  RunFrom("bad");
  EXPECT_EQ(SpritesIn(list), 0) << "a failed snow keeps none";
  EXPECT_EQ(ctx->effects.active, 0u);

  RunFrom("snow");
  RunFrom("sakura");
  game_reset(ctx);
  EXPECT_EQ(SpritesIn(list), 0);
  EXPECT_EQ(KivMemoryLive(), liveAtStart) << "every allocation of the effects is back";
}

// A petal steps through the sheet's own cells, scaled with the strip: a
// sheet of 16 cells a row shows one cell per petal, not two.
TEST_F(EffectTest, SakuraPetalsShowOneCellOfTheSheetAtATime) {
  Image wide{128, 16, std::vector<uint32_t>(128 * 16, 0xFFFFB0C8u)};
  WriteImage(dir + "/WIDE.PGD", wide, 8, 8);  // 16 cells of 8 x 8 a row, two rows
  Start(R"(
    end
go:
    call sakura 3, 0, 0, file"WIDE"
    end
)");
  RunFrom("go");
  for (int i = 0; i < kSakuraPetalCount; ++i) {
    SCOPED_TRACE(i);
    KivSprite* s = ctx->effects.petals[i].sprite;
    ASSERT_NE(s, nullptr);
    const double f = 1.0 - (2 - i % 3) * 0.25;
    KivSpriteInfo info{};
    KivSpriteGetInfo(s, &info);
    EXPECT_EQ(info.width, static_cast<int>(128 * f));
    EXPECT_EQ(info.cellWidth, static_cast<int>(8 * (static_cast<int>(128 * f) / 128.0f)));
    KivRect r{};
    KivSpriteGetRect(s, &r);
    EXPECT_EQ(r.right - r.left, info.cellWidth) << "one source cell per petal";
  }
}

TEST_F(EffectTest, EffectBlockRoundTripsAndRefusesDamage) {
  Start(R"(
    call sp_set_ex file"RED", 2, 100, 100
    call run 0, 0, 0
    call snow 40, -7, 0, file"FLAKE"
    call sakura 30, 9, 0, file"PETAL"
    call raster 300, 50, 200, 2
    call shake 3, 0xFFFFFFFF, 12, 1
    end
)");
  for (int i = 0; i < 6; ++i) Frame();
  ASSERT_EQ(ctx->effects.active & (kEffectSnow | kEffectSakura | kEffectRaster | kEffectShake),
            kEffectSnow | kEffectSakura | kEffectRaster | kEffectShake);
  std::vector<uint8_t> buf(4096), again(4096);
  uint32_t used = 0, used2 = 0;
  ASSERT_TRUE(effect_save(ctx, buf, &used));
  EXPECT_EQ(used, 4u + 4 * 16);

  effect_release(ctx);
  EXPECT_EQ(SpritesIn(list), 1);
  uint32_t cursor = 0;
  ASSERT_TRUE(effect_restore(ctx, std::span(buf.data(), used), &cursor));
  EXPECT_EQ(cursor, used);
  EXPECT_EQ(ctx->effects.snow.count, 40);
  EXPECT_EQ(ctx->effects.snow.drift, -7);
  EXPECT_EQ(ctx->effects.sakura.count, 30);
  EXPECT_EQ(ctx->effects.sakura.drift, 9);
  EXPECT_EQ(ctx->effects.raster.amplitudeX, 200);
  EXPECT_EQ(ctx->effects.shake.amplitude, 12);
  ASSERT_TRUE(effect_save(ctx, again, &used2));
  ASSERT_EQ(used2, used);
  EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + used), std::vector<uint8_t>(again.begin(), again.begin() + used));

  // An ending effect is not saved.
  value_stack_push(ctx, 4), value_stack_push(ctx, 500);
  command_handler(0x00100000)(ctx);
  used2 = 0;
  ASSERT_TRUE(effect_save(ctx, again, &used2));
  EXPECT_EQ(again[0] & kEffectSnow, 0);

  // Damage: nothing changes.
  const EffectState keep = ctx->effects;
  struct Bad {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Bad bad[] = {{"empty", {}}, {"unknown bit", {2, 0, 0, 0}}, {"short group", {1, 0, 0, 0, 1, 0, 0, 0}}};
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.what);
    cursor = 0;
    EXPECT_FALSE(effect_restore(ctx, b.bytes, &cursor));
    EXPECT_EQ(cursor, 0u);
    EXPECT_EQ(std::memcmp(&keep, &ctx->effects, sizeof keep), 0);
  }
}

TEST_F(EffectTest, LayerRastersTakeOneSlotEachAndTheirBlockRoundTrips) {
  std::string script;
  for (int l = 0; l < 10; ++l) script += "    call sp_set_ex file\"BADGE\", " + std::to_string(l) + ", 0, 0\n";
  script += "    call run 0, 0, 0\n    end\nagain:\n    call fx_raster_start 400, 30, 20, 4\n    end\n"
            "bad:\n    call fx_raster_start 400, 30, 20, 128\n    end\n";
  Start(script);
  Frame();
  for (int l = 0; l < 9; ++l) fx_raster_start(ctx, 300, 10 * l, 5, l);
  int used = 0;
  for (const FxSlot& s : ctx->fx.slots) used += s.state != 0;
  EXPECT_EQ(used, kFxSlotCount);
  EXPECT_EQ(Layer(8).fxSlot, 0) << "a ninth has no slot";
  EXPECT_EQ(KivGetFxEffectState(Layer(8).record->sprite, 0x0FFFFFFF), 0);
  EXPECT_TRUE(log.HasAny("raster slots are in use"));
  RunFrom("again");  // layer 4 again: its own slot is replaced
  used = 0;
  for (const FxSlot& s : ctx->fx.slots) used += s.state != 0;
  EXPECT_EQ(used, kFxSlotCount);
  EXPECT_EQ(ctx->fx.slots[Layer(4).fxSlot - 1].period, 400u);
  EXPECT_EQ(ctx->fx.head, Layer(4).fxSlot);
  RunFrom("bad");
  EXPECT_TRUE(log.HasAny("no = 128"));

  std::vector<uint8_t> buf(1024), again(1024);
  uint32_t n = 0, n2 = 0;
  ASSERT_TRUE(fx_save(ctx, buf, &n));
  EXPECT_EQ(n, 8u * 24 + 4);
  fx_free(ctx);
  for (int l = 0; l < 10; ++l) KivReleaseFxEffect(Layer(l).record->sprite, 0x0FFFFFFF);
  uint32_t cursor = 0;
  ASSERT_TRUE(fx_restore(ctx, std::span(buf.data(), n), &cursor));
  EXPECT_EQ(cursor, n);
  ASSERT_TRUE(fx_save(ctx, again, &n2));
  EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + n), std::vector<uint8_t>(again.begin(), again.begin() + n2));

  // Damaged blocks change nothing.
  const FxState keep = ctx->fx;
  auto words = [](std::initializer_list<uint32_t> w) {
    std::vector<uint8_t> b;
    for (uint32_t v : w)
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return b;
  };
  std::vector<uint32_t> nine(9, 2u);
  nine.push_back(0xFFFFFFFFu);
  std::vector<uint8_t> nineBytes;
  for (uint32_t v : nine)
    for (int i = 0; i < 4; ++i) nineBytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  const std::vector<uint8_t> bad[] = {
      words({}), words({1, 3, 0, 1, 2}), words({1, 3, 1, 1, 2, 3, 0xFFFFFFFFu}), words({1, 300, 0, 1, 2, 3, 0xFFFFFFFFu}),
      words({5, 0xFFFFFFFFu}), nineBytes};
  for (const auto& b : bad) {
    cursor = 0;
    EXPECT_FALSE(fx_restore(ctx, b, &cursor));
    EXPECT_EQ(std::memcmp(&keep, &ctx->fx, sizeof keep), 0);
  }
  // Eight ending entries and the mark are a full, good list.
  std::vector<uint32_t> eight(8, 2u);
  eight.push_back(0xFFFFFFFFu);
  std::vector<uint8_t> eightBytes;
  for (uint32_t v : eight)
    for (int i = 0; i < 4; ++i) eightBytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  cursor = 0;
  EXPECT_TRUE(fx_restore(ctx, eightBytes, &cursor));
  EXPECT_EQ(cursor, eightBytes.size());
}

TEST_F(EffectTest, AttributeCommandsWriteRecordsFlagsAndResults) {
  Start(R"(
    call sp_set_ex file"RED", 2, 100, 100
    call sp_set_ex file"BLUE", 3, 500, 300
    call run 0, 0, 0
    end
pos:
    call sp_set_pos_ex 2, 40, 50
    call sp_set_pos_move 2, 5, -5
    call sp_get_pos 2, 10, 11
    call sp_get_pos 2, -1, -1
    end
colour:
    call sp_set_color 2, 0x01102030
    call sp_set_alpha 2, 0x80
    call sp_get_color 2 -> r1
    call sp_get_alpha 2 -> r2
    call sp_get_color 9 -> r3
    end
turn:
    call sp_set_rotate 2, 1, 2, 3
    call sp_get_rotate 2, 2 -> r1
    call sp_get_rotate 2, 3 -> r2
    call sp_set_scale 2, 150
    call sp_get_scale 2 -> r3
    call sp_get_cell_width 2 -> r4
    call sp_get_cell_height 9 -> r5
    end
flags:
    call set_filter 2, 3
    call set_filter -1, 1
    call sp_set_rect 3, 0, 0, 50, 25
    call sp_lock 3
    call sp_set_value 7, 99
    call sp_get_value 7 -> r1
    end
clear:
    call set_filter 2, 0
    call sp_unlock 3
    end
links:
    call sp_set_child 2, 3, 10, 20, 1
    call sp_bitblt 2, 0, 0, 50, 50, 3, 0, 0, 2
    call sp_mix_file_to_sprite 2, 10, 10, 40, 40, file"BADGE", 0, 0, 3
    end
unlink:
    call sp_set_child 2, -1, 0, 0, 1
    end
refused:
    call sp_set_pos_ex 128, 1, 1
    call sp_get_pos 2, 5000, 1
    call sp_set_child 2, 3, 0, 0, 8
    call sp_bitblt 2, 0, 0, 5, 5, 3, 0, 0, -1
    call sp_get_rotate 2, 7 -> r1
    call set_priority -100
    call sp_set_alpha 0x05000000, 3
    call sp_set_pos_move 0x00000080, 3, 3
    end
shake:
    call sp_set_shake 3, 2, 0, 0xFFFFFFFF
    end
unshake:
    call sp_set_shake 3, 2, 10, 0
    end
)");
  Frame();
  SpriteRecord* r = Layer(2).record;
  ASSERT_NE(r, nullptr);

  RunFrom("pos");
  EXPECT_EQ(r->t.aX, 45);
  EXPECT_EQ(r->t.aY, 45);
  EXPECT_EQ(ctx->tempArea[10], 45 + r->t.bX);
  EXPECT_EQ(ctx->tempArea[11], 45 + r->t.bY);

  RunFrom("colour");
  EXPECT_EQ(m->Reg(1), 0x102030);
  EXPECT_EQ(m->Reg(2), 0x80);
  EXPECT_EQ(m->Reg(3), -1);
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "not image : sp_get_color 9"));

  RunFrom("turn");
  EXPECT_EQ(m->Reg(1), 3);
  EXPECT_EQ(m->Reg(2), -1) << "axis 3 is refused";
  EXPECT_EQ(m->Reg(3), 150);
  EXPECT_EQ(m->Reg(4), 200);
  EXPECT_EQ(m->Reg(5), -1);
  Frame();
  KivSpriteInfo info{};
  KivSpriteGetInfo(r->sprite, &info);
  EXPECT_FLOAT_EQ(info.scale, 1.5f);
  EXPECT_EQ(info.rotationZ, 3);

  RunFrom("flags");
  EXPECT_EQ(Layer(2).flags & kLayerFilterBits, (1u << 3) | (1u << 1));
  EXPECT_EQ(Layer(3).flags & (kLayerFlagRect | kLayerFlagLocked | 2u), kLayerFlagRect | kLayerFlagLocked | 2u);
  EXPECT_EQ(m->Reg(1), 99) << "the user word is kept on an empty layer";
  RunFrom("clear");
  EXPECT_EQ(Layer(2).flags, 0u) << "filter 0 clears the whole word";
  EXPECT_EQ(Layer(3).flags & kLayerFlagLocked, 0u);

  RunFrom("links");
  EXPECT_EQ(Layer(2).links[1].control, kLinkChild);
  EXPECT_EQ(Layer(2).links[1].operand, 3u);
  EXPECT_EQ(Layer(2).links[2].control, kLinkCopyLayer);
  EXPECT_EQ(Layer(2).links[3].control, kLinkMixFile);
  EXPECT_NE(Layer(2).flags & kLayerFlagLinks, 0u);
  Frame();
  EXPECT_EQ(Layer(3).record->t.aX, r->t.aX + 10) << "the child follows its parent\n" << log.All();
  RunFrom("unlink");
  EXPECT_EQ(Layer(2).links[1].control, 0u);
  EXPECT_NE(Layer(2).flags & kLayerFlagLinks, 0u) << "other slots still link";

  const LayerRecord keep2 = Layer(2);
  const int32_t temp5000 = ctx->tempArea[1], base = ctx->priorityBase;
  RunFrom("refused");
  for (const char* line : {"no = 128", "sp_get_pos x cell out of range", "link slot out of range",
                           "sp_get_rotate axis out of range", "fail original image no : 0x05000000",
                           "fail original image no : 0x00000080"})
    EXPECT_TRUE(log.HasAny(line)) << line;
  EXPECT_EQ(std::memcmp(&keep2, &Layer(2), sizeof keep2), 0);
  EXPECT_EQ(ctx->tempArea[1], temp5000);
  EXPECT_EQ(m->Reg(1), -1);
  EXPECT_EQ(ctx->priorityBase, base) << "a step past the front is refused";
  EXPECT_TRUE(log.Has(0, "set_priorityで一番手前に設定されています")) << "in the error window";

  RunFrom("shake");
  EXPECT_NE(Layer(3).flags & kLayerFlagShake, 0u);
  EXPECT_EQ(Layer(3).shakeAmplitude, 1) << "amplitude 0 becomes 1";
  RunFrom("unshake");
  EXPECT_EQ(Layer(3).flags & kLayerFlagShake, 0u);
  EXPECT_EQ(Layer(3).shakeDuration, 0u);
}

// Golden frames on a seeded random and the virtual clock: snow and petals
// after a second, a flash half-way, a shake, a screen raster at a fixed
// phase and half-way through its stop, and a raster on one layer.
TEST_F(EffectTest, EffectsMatchTheGoldenFrames) {
  Start(R"(
    call sp_set_ex file"SKY", 0, 0, 0
    call sp_set_ex file"CARD", 5, 490, 260
    call run 0, 0, 0
    end
snow:
    call snow 255, -40, 0, file"FLAKE"
    call sakura 127, 60, 0, file"PETAL"
    end
flash:
    call flush 400, 255, 255, 255
    end
shake:
    call shake 2, 1000, 15, 2
    end
raster:
    call raster 1000, 0, 800, 10
    end
rstop:
    call effect_stop 400, 16
    end
layer:
    call fx_raster_start 500, 0, 1500, 5
    end
)");
  Frame();
  RunFrom("snow");
  for (int i = 0; i < 60; ++i) Frame(16);
  ExpectGolden("effect_snow_sakura.png");
  game_reset(ctx);
  ctx->script.pc = 0;
  Frame();
  ctx->script.pc = ctx->script.codeSize;
  RunFrom("flash");
  Frame(200);
  ExpectGolden("effect_flash_halfway.png");
  for (int i = 0; i < 3; ++i) Frame(200);
  EXPECT_EQ(ctx->effects.active, 0u);
  RunFrom("shake");
  Frame(100);
  ExpectGolden("effect_shake.png");
  for (int i = 0; i < 10; ++i) Frame(100);
  RunFrom("raster");
  Frame(250);
  ExpectGolden("effect_raster_screen.png");
  RunFrom("rstop");
  Frame(200);
  ExpectGolden("effect_raster_screen_stopping.png");
  for (int i = 0; i < 5; ++i) Frame(100);
  EXPECT_EQ(ctx->effects.active, 0u);
  RunFrom("layer");
  Frame(125);
  ExpectGolden("effect_raster_layer.png");
}

// A composed layer: a copy from another layer, a mixed-in image file, a
// child name tag and a sepia filter, drawn the same after the layer block
// was saved and read back.
TEST_F(EffectTest, AComposedLayerComesBackFromItsSaveTheSame) {
  Start(R"(
.file "UNUSED"
    call sp_set_ex file"SKY", 0, 0, 0
    call sp_set_ex file"CARD", 5, 490, 260
    call sp_set_ex file"BLUE", 6, 0, 0
    call sp_set_ex file"RED", 7, 0, 0
    call run 0, 0, 0
    end
compose:
    call sp_bitblt 5, 20, 20, 100, 50, 6, 0, 0, 0
    call sp_mix_file_to_sprite 5, 150, 100, 40, 40, file"BADGE", 0, 0, 1
    call set_filter 5, 1
    call sp_set_child 5, 7, 50, -120, 2
    call sp_set_rotate 5, 0, 0, 10
    call sp_set_alpha 5, 200
    end
)");
  Frame();
  Frame();
  RunFrom("compose");
  Frame();
  {
    SCOPED_TRACE("composed");
    ExpectGolden("effect_composed_layer.png");
  }
  const std::vector<uint32_t> before(g_kiv->soft->backBuffer, g_kiv->soft->backBuffer + 1280 * 720);
  std::vector<uint8_t> buf(1 << 20);
  uint32_t used = 0;
  ASSERT_TRUE(layer_save(ctx, buf, &used));
  for (int l = 0; l < kLayerCount; ++l) layer_release(ctx, l);
  Frame();
  EXPECT_EQ(SpritesIn(list), 0);
  uint32_t cursor = 0;
  ASSERT_TRUE(layer_restore(ctx, std::span(buf.data(), used), &cursor)) << log.All();
  Frame();
  Frame();
  if (std::getenv("KIV_DEBUG_CAPTURE")) plat::CapturePng("/tmp/after_restore.png", g_kiv->soft->backBuffer, 1280, 720, 1280);
  int differ = 0;
  for (size_t i = 0; i < before.size(); ++i) differ += (before[i] & 0xFFFFFFu) != (g_kiv->soft->backBuffer[i] & 0xFFFFFFu);
  EXPECT_EQ(differ, 0) << "the restored frame differs from the composed one";
}

// The demo's effect scenes run whole on the demo data: every effect starts
// and ends, and nothing is left behind.
TEST_F(EffectTest, TheDemoEffectScenesRunOnTheDemoData) {
  ASSERT_EQ(std::system(("cp -r '" DEMO_DATA_DIR "'/. '" + dir + "/'").c_str()), 0);
  Start(demo_script_source(KIV_SOURCE_DIR));
  ctx->script.pc = m->Pc("effect_scenes");
  uint32_t seen = 0;
  bool tagged = false, sepia = false;
  for (int i = 0; i < 3000 && ctx->script.pointDepth >= 0; ++i) {
    Frame(16);
    seen |= ctx->effects.active;
    tagged |= (Layer(10).flags & kLayerFlagLinks) && Layer(20).record && Layer(20).record->t.aX == Layer(10).record->t.aX + 60;
    sepia |= (Layer(0).flags & 2u) != 0;
    if (ctx->fx.head) seen |= 0x100;
    if (log.HasAny("sp_cls  -1") && ctx->effects.active == 0 && i > 100) break;
  }
  EXPECT_EQ(seen, kEffectShake | kEffectFlash | kEffectSnow | kEffectSakura | kEffectRaster | 0x100u) << log.All();
  EXPECT_TRUE(tagged) << "the name tag follows Aoi";
  EXPECT_TRUE(sepia);
  EXPECT_EQ(ctx->effects.active, 0u);
  EXPECT_EQ(ctx->script.pointDepth, 0);
  EXPECT_FALSE(log.HasAny("error")) << log.All();
  EXPECT_FALSE(log.HasAny("読み込みに失敗")) << log.All();
}

}  // namespace
