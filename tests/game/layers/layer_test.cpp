// Graphic layers as a player sees them: assembled scripts set, change and
// clear layers frame by frame against the headless engine (virtual clock,
// software renderer), and the frames drawn are checked at chosen points and
// against reviewed golden frames (KIV_UPDATE_GOLDEN=1 writes them anew).
// Also: the additive transform, shakes, children, the asynchronous load on
// a worker (both a test-driven one and the engine's own), bad input, and
// the layer save and restore parts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "component_entries.h"
#include "layers/display_queue.h"
#include "support/golden_frame.h"
#include "support/engine_fixture.h"
#include "support/game_frames.h"
#include "start/game_task.h"
#include "image_encoder.h"
#include "layers/layers.h"
#include "platform/core/clock.h"
#include "task/render_list.h"
#include "render/soft_screen.h"
#include "sprite/sprite.h"
#include "support/vm_harness.h"

using kivtools::Image;
using kivtest::EngineTest;

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kYellow = 0xFFFF00, kBlack = 0;

Image Solid(int w, int h, uint32_t rgb) {
  return Image{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h, 0xFF000000u | rgb)};
}

// A smooth sky for the demo-style scene.
Image Sky() {
  Image img{1280, 720, std::vector<uint32_t>(1280 * 720)};
  for (int y = 0; y < 720; ++y)
    for (int x = 0; x < 1280; ++x)
      img.pixels[static_cast<size_t>(y) * 1280 + x] = 0xFF000000u | static_cast<uint32_t>(60 + y * 120 / 719) << 16 |
                                                     static_cast<uint32_t>(90 + y * 110 / 719) << 8 |
                                                     static_cast<uint32_t>(220 - x * 60 / 1279);
  return img;
}

// A standing figure: a head and a body with soft edges on a clear ground.
Image Figure(uint32_t rgb) {
  const int w = 360, h = 600;
  Image img{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int hx = x - 180, hy = y - 110;
      const int head = hx * hx + hy * hy;  // radius 80, edge 80..90
      int a = head <= 6400 ? 255 : head >= 8100 ? 0 : 255 * (8100 - head) / 1700;
      if (y >= 190) {
        const int half = 60 + (y - 190) * 110 / 410;  // widens downwards
        const int d = std::abs(x - 180);
        a = std::max(a, d <= half ? 255 : d >= half + 8 ? 0 : 255 * (half + 8 - d) / 8);
      }
      const uint32_t shade = static_cast<uint32_t>(y * 60 / h);
      const uint32_t r = ((rgb >> 16) & 0xFF) > shade ? ((rgb >> 16) & 0xFF) - shade : 0;
      const uint32_t g = ((rgb >> 8) & 0xFF) > shade ? ((rgb >> 8) & 0xFF) - shade : 0;
      const uint32_t b = (rgb & 0xFF) > shade ? (rgb & 0xFF) - shade : 0;
      img.pixels[static_cast<size_t>(y) * w + x] = static_cast<uint32_t>(a) << 24 | r << 16 | g << 8 | b;
    }
  return img;
}

void WriteImage(const std::string& dir, const std::string& name, const Image& img, int x = 0, int y = 0) {
  kivtools::GeOptions o;
  o.method = 1;
  o.x = x;
  o.y = y;
  ASSERT_TRUE(kivtools::WriteFileBytes(dir + "/" + name, kivtools::EncodeGe(img, o)));
}

// Stands in for a waiting command: the script goes on next frame.
int WaitFrame(VmContext* ctx) {
  command_yield(ctx);
  return 1;
}

int SpritesIn(KivRenderList* list) {
  int n = 0;
  for (KivRenderNode* node = list->head.next; node; node = node->next) n += node->draw == KivSpriteDraw;
  return n;
}

// What an opaque pixel of colour rgb shows when drawn over dst at full
// alpha: the engine's alpha blend keeps 254/256 of the source.
uint32_t Over(uint32_t rgb, uint32_t dst = 0) {
  uint32_t out = 0;
  for (int c = 0; c < 24; c += 8) {
    const uint32_t p = (rgb >> c) & 0xFF, d = (dst >> c) & 0xFF;
    out |= ((((p * 255) >> 8) * 254 + d * 2) >> 8) << c;
  }
  return out;
}

bool Near(uint32_t got, uint32_t want, int tolerance) {
  for (int c = 0; c < 24; c += 8) {
    const int g = static_cast<int>((got >> c) & 0xFF), w = static_cast<int>((want >> c) & 0xFF);
    if (std::abs(g - w) > tolerance) return false;
  }
  return true;
}

class LayerTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    params.clientWidth = params.screenWidth = 1280;
    params.clientHeight = params.screenHeight = 720;
    char tmpl[] = "/tmp/kivlayersXXXXXX";
    dir = mkdtemp(tmpl);
    WriteImage(dir, "RED.PGD", Solid(200, 100, kRed));
    WriteImage(dir, "GREEN.PGD", Solid(200, 100, kGreen));
    WriteImage(dir, "BLUE.PGD", Solid(200, 100, kBlue));
    WriteImage(dir, "YELLOW.PGD", Solid(200, 100, kYellow));
    WriteImage(dir, "TALL.PGD", Solid(300, 400, 0x808080), 17, 23);
  }
  void TearDown() override {
    m.reset();  // the game's reset releases every layer while the engine lives
    if (list) {
      KivRenderSetActive(nullptr);
      KivRenderUninit(list);
      list = nullptr;
    }
    layer_load_set_poster(nullptr);
    layer_load_set_worker_hook(nullptr);
    EngineTest::TearDown();
    ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
  }

  // The engine (once), and a machine with the script loaded, on the game's
  // render list.
  void Start(const std::string& script) {
    if (!g_kiv) {
      ASSERT_EQ(KivInit(&params), 1);
      ASSERT_EQ(KivSystemPathSet(dir.c_str()), 1);
    }
    if (!list) {
      list = KivRenderInit();
      KivRenderSetActive(list);
    }
    kivtest::StartScript(m, ctx, list, script);
  }
  // One game frame, as the engine's frame loop runs it: the clock, the task
  // walk under the render lock, then the render pass.
  void Frame(uint32_t ms = 16) {
    plat::AdvanceVirtualClock(ms);
    KivUpdateTime();
    KivRenderLock();
    game_task_frame(ctx);
    KivRenderUnlock();
    ASSERT_EQ(KivRenderFrame(), 1);
  }
  void RunFrom(const char* label) { ctx->script.pc = m->Pc(label); }
  uint32_t At(int x, int y) const { return g_kiv->soft->backBuffer[static_cast<size_t>(y) * 1280 + x] & 0xFFFFFFu; }
  LayerRecord& Layer(int n) { return ctx->layers.layers[n]; }
  KivSpriteInfo InfoOf(int layer) {
    KivSpriteInfo info{};
    EXPECT_TRUE(Layer(layer).record && KivSpriteGetInfo(Layer(layer).record->sprite, &info)) << "layer " << layer;
    return info;
  }
  int Queued() { return KivListGetDataCount(ctx->gameList, kGameListDisplayOps); }
  // Compares the drawn frame with a reviewed golden picture.
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

struct Probe {
  int x, y;
  uint32_t rgb;
};

// ---------------------------------------------------------------- set, change, clear, run

TEST_F(LayerTest, ChangesStayHiddenUntilRunShowsTheBatchInOneFrame) {
  Start(R"(
.file "UNUSED"
    call sp_set file"BLUE", 3, 10, 0
    call sp_set_ex file"RED", 7, 600, 50
    call wait_frame
    call run 0, 0, 0
    call sp_set file"GREEN", 3, 10, 0
    call sp_set file"YELLOW", 3, 10, 0
    call wait_frame
    call run 0, 0, 0
    call sp_cls 7
    call wait_frame
    call sp_cls -1
    call run 0, 0, 0
)");
  // Layer 3 holds a 200 x 100 image centred at x 640 (540..740, 0..100);
  // layer 7 one at 600..800, 50..150, in front where they overlap.
  struct Step {
    const char* what;
    std::vector<Probe> probes;
    int queued, sprites;
  };
  const Step steps[] = {
      {"set, not yet run: nothing shows", {{560, 20, kBlack}, {650, 75, kBlack}, {780, 120, kBlack}}, 2, 2},
      {"run: both at once, layer 7 in front",
       {{560, 20, Over(kBlue)}, {700, 20, Over(kBlue)}, {650, 75, Over(kRed, Over(kBlue))}, {780, 120, Over(kRed)}},
       0, 2},
      {"two sets on layer 3: its old image goes at once, the new ones wait",
       {{560, 20, kBlack}, {650, 75, Over(kRed)}}, 2, 2},
      {"run: the last image of layer 3",
       {{560, 20, Over(kYellow)}, {650, 75, Over(kRed, Over(kYellow))}, {780, 120, Over(kRed)}}, 0, 2},
      {"sp_cls takes effect at once", {{650, 75, Over(kYellow)}, {780, 120, kBlack}}, 0, 1},
      {"sp_cls -1 and run: an empty screen", {{560, 20, kBlack}, {650, 75, kBlack}}, 0, 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    Frame();
    for (const Probe& p : s.probes) EXPECT_EQ(At(p.x, p.y), p.rgb) << p.x << "," << p.y;
    EXPECT_EQ(Queued(), s.queued);
    EXPECT_EQ(SpritesIn(list), s.sprites);
  }
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "sp_set  YELLOW, 3, 10"));
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "sp_set_ex  RED, 7, 600, 50"));
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "run  0, 0"));
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "sp_cls  -1"));
  EXPECT_FALSE(log.HasAny("error")) << log.All();
}

// Each case: the script after RED was set on layer 4 and run (red at 540..740,
// 0..100), then frames with the clock moved on, sampled at (640, 50).
TEST_F(LayerTest, RunRunNoWaitAndLayerTransitions) {
  struct Frm {
    uint32_t advance;
    uint32_t rgb;
    int tolerance;
    int state;    // the layer's transition state after the frame
    int sprites;  // engine sprites in the game's list
    bool empty;   // the layer holds no record
  };
  struct Case {
    const char* name;
    const char* body;
    bool skip;
    uint32_t pause;  // the pause timer's duration after the first frame
    std::vector<Frm> frames;
  };
  const Case cases[] = {
      {"run: the screen transition carries the change, the layer's takes no time",
       "call sp_set_transition file\"GREEN\", 4, 1, 1000\n call run 1, 500, 0\n call wait_frame\n call wait_frame",
       false, 100,
       {{16, Over(kRed), 8, 2, 2, false} /* the old picture as the screen transition begins */,
        {600, Over(kGreen), 0, 0, 1, false}}},
      {"run while skipping: a cut, no pause timer",
       "call sp_set_transition file\"GREEN\", 4, 1, 1000\n call run 1, 500, 0\n call wait_frame", true, 0,
       {{16, Over(kGreen), 0, 0, 1, false}}},
      {"run_no_wait keeps the transition's own duration",
       "call sp_set_transition file\"GREEN\", 4, 1, 1000\n call run_no_wait\n call wait_frame\n call wait_frame\n"
       " call wait_frame\n call wait_frame",
       false, 0,
       {{16, Over(kRed), 3, 2, 2, false}, {500, 0x7C7C00, 3, 2, 2, false}, {600, Over(kGreen), 3, 2, 2, false},
        {16, Over(kGreen), 0, 0, 1, false}}},
      {"a clear by transition empties the layer when it ends",
       "call sp_cls_transition 4, 1, 400\n call run_no_wait\n call wait_frame\n call wait_frame\n call wait_frame\n"
       " call wait_frame",
       false, 0,
       {{16, Over(kRed), 3, 1, 1, false}, {200, 0x7C0000, 3, 1, 1, false}, {300, kBlack, 0, 1, 1, false},
        {16, kBlack, 0, 0, 0, true}}},
      {"a clear by transition while skipping empties the layer at once", "call sp_cls_transition 4, 1, 400\n call wait_frame",
       true, 0, {{16, kBlack, 0, 0, 0, true}}},
      {"two steps: the old image stays through sp_copy_image and sp_set, then fades",
       "call sp_copy_image 4\n call sp_set_ex file\"GREEN\", 4, 540, 0\n call sp_transition 4, 1, 400\n"
       " call run_no_wait\n call wait_frame\n call wait_frame\n call wait_frame\n call wait_frame",
       false, 0,
       {{16, Over(kRed), 3, 2, 2, false}, {200, 0x7C7C00, 3, 2, 2, false}, {300, Over(kGreen), 3, 2, 2, false},
        {16, Over(kGreen), 0, 0, 1, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(std::string("    call sp_set file\"RED\", 4, 10, 0\n    call run 0, 0, 0\n    ") + c.body + "\n");
    Frame();
    ASSERT_EQ(At(640, 50), Over(kRed));
    ctx->skipMode = c.skip ? 1 : 0;
    ctx->pauseTimer = PauseTimer{};
    for (size_t i = 0; i < c.frames.size(); ++i) {
      const Frm& f = c.frames[i];
      SCOPED_TRACE(testing::Message() << "frame " << i);
      Frame(f.advance);
      if (i == 0) {
        EXPECT_EQ(ctx->pauseTimer.duration, c.pause);
      }
      EXPECT_TRUE(Near(At(640, 50), f.rgb, f.tolerance)) << std::hex << At(640, 50);
      EXPECT_EQ(Layer(4).transitionState, f.state);
      EXPECT_EQ(SpritesIn(list), f.sprites);
      EXPECT_EQ(Layer(4).record == nullptr, f.empty);
    }
    EXPECT_EQ(Queued(), 0);
    for (int i = 0; i < 10 && KivEffectIs(); ++i) Frame(100);  // the screen transition ends
    ASSERT_FALSE(KivEffectIs());
    m.reset();
    EXPECT_EQ(SpritesIn(list), 0) << "everything released by the reset";
  }
}

// ---------------------------------------------------------------- places, depth and refusals

TEST_F(LayerTest, PositionsPrioritiesAndRefusals) {
  Start(R"(
.graphic "RAISED" file="RED" priority=2
set:
    call sp_set file"TALL", 6, r1, r2
    call wait_frame
ex:
    call sp_set_ex file"TALL", 6, r1, r2
    call wait_frame
prio:
    call sp_set file"RED", r1, 10, 0
    call wait_frame
raised:
    call sp_set file"RAISED", r1, 10, 0
    call wait_frame
shown:
    call sp_set file"TALL", 6, 10, 2
    call run 0, 0, 0
)");
  // TALL is 300 x 400 and its file places it at (17, 23).
  struct Place {
    const char* label;
    int32_t a, b;
    float x, y;
  };
  const Place places[] = {
      {"set", 21, 0, 1280, 0},    // left edge at 1280
      {"set", -1, 0, -300, 0},    // right edge at 0
      {"set", 10, 1, 490, 520},   // centred at 640; top at 720 - height / 2
      {"set", 0, 2, -150, 320},   // bottom at 720
      {"set", 5, 9, 170, 23},     // an unknown vertical mode keeps the file's y
      {"ex", 0xFFFF, 0xFFFF, 17, 23},
      {"ex", 100, 200, 100, 200},
  };
  for (const Place& p : places) {
    SCOPED_TRACE(testing::Message() << p.label << " " << p.a << ", " << p.b);
    m->Reg(1) = p.a;
    m->Reg(2) = p.b;
    RunFrom(p.label);
    Frame();
    EXPECT_EQ(InfoOf(6).x, p.x);
    EXPECT_EQ(InfoOf(6).y, p.y);
  }
  RunFrom("shown");
  Frame();
  EXPECT_EQ(At(491, 719), Over(0x808080));
  EXPECT_EQ(At(489, 719), kBlack);
  EXPECT_EQ(At(491, 319), kBlack);

  struct Prio {
    const char* label;
    int layer, base, priority;
  };
  const Prio prios[] = {{"prio", 0, 0, 4999}, {"prio", 127, 0, 4872}, {"prio", 5, 134, 5128},
                        {"raised", 5, 0, 4994 + 268}};
  for (const Prio& p : prios) {
    SCOPED_TRACE(testing::Message() << p.label << " layer " << p.layer);
    ctx->priorityBase = p.base;
    m->Reg(1) = p.layer;
    RunFrom(p.label);
    Frame();
    EXPECT_EQ(InfoOf(p.layer).priority, p.priority);
  }
}

// sp_text: a text sprite measured in the current font, queued like any
// layer and drawn into again at once when the layer already holds it.
TEST_F(LayerTest, SpTextDrawsTextIntoALayer) {
  Start(R"(
.file "UNUSED"
    call sp_text 5, "<s24>あいう", 100, 200
    call wait_frame
    call run 0, 0, 0
    call sp_text 5, "<s12>x", 60, 0
    call wait_frame
    call sp_text 6, "<q>bad", 0, 0
    call wait_frame
)");
  auto lit = [&](int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += At(x, y) != 0;
    return n;
  };
  Frame();
  EXPECT_EQ(lit(0, 0, 1280, 720), 0) << "queued, not yet shown";
  Frame();
  ASSERT_NE(Layer(5).record, nullptr);
  const KivSpriteInfo info = InfoOf(5);
  // The measured text (+ 2) in a power-of-two surface; the cell is the text.
  EXPECT_EQ(info.cellWidth, 3 * 24 + 2);
  EXPECT_EQ(info.cellHeight, 24 + 2);
  EXPECT_EQ(info.width, 128);
  EXPECT_EQ(info.height, 32);
  EXPECT_GT(lit(100, 200, 100 + info.width, 200 + info.height), 100);
  EXPECT_EQ(lit(0, 0, 1280, 190), 0);
  const int before = lit(160, 200, 176, 216);
  Frame();
  EXPECT_GT(lit(160, 200, 176, 216), before) << "the second text lands at once in the same sprite";
  Frame();
  EXPECT_EQ(Layer(6).record, nullptr);
  EXPECT_TRUE(log.Has(kDebugWindowError, "sprite create error"));
  EXPECT_EQ(KivFontGetFontSize(), 12) << "a size tag stays set";
  KivFontSetFontSize(24);
}

TEST_F(LayerTest, BadInputIsLoggedAndRefused) {
  struct Bad {
    const char* script;
    const char* line;  // in window 0
    bool refused;      // the handler returned 0
  };
  const Bad cases[] = {
      {"call sp_set file\"RED\", -2, 10, 0", "graph error : 範囲外の値を指定しています。no = -2", true},
      {"call sp_set file\"RED\", 128, 10, 0", "graph error : 範囲外の値を指定しています。no = 128", true},
      {"call sp_cls -2", "graph error : 範囲外の値を指定しています。no = -2", true},
      {"call is_sp 300", "graph error : 範囲外の値を指定しています。no = 300", true},
      {"call sp_set file\"MISSING\", 3, 10, 0", "sprite load error [MISSING]", true},
      {"call sp_load file\"MISSING\", 3, 1", "sprite load error [MISSING]", false},
      {"call sp_set file\"RED\", 3, 10, 0\n call run 101, 0, 0", "run error : 範囲外の値を指定しています。no = 101", true},
      {"call sp_set file\"RED\", 3, 10, 0\n call sp_set_transition file\"GREEN\", 3, 15, 100",
       "graph error : 範囲外の値を指定しています。no = 15", true},
      {"call sp_set_transition file\"GREEN\", 9, 1, 100", "sprite transition error : no image [9]", true},
      {"call face_init 8, 3, 0, 0, 0", "graph error : 範囲外の値を指定しています。no = 8", true},
      {"call face_set file\"RED\", -1, 0, 0", "graph error : 範囲外の値を指定しています。no = -1", true},
      {"call face_set file\"RED\", 2, 0, 0", "graph error : 範囲外の値を指定しています。no = -1", true},
  };
  for (const Bad& b : cases) {
    SCOPED_TRACE(b.script);
    Start(std::string("    ") + b.script + "\n    call wait_frame\n");
    log.lines.clear();
    Frame();
    EXPECT_TRUE(log.Has(kDebugWindowError, b.line)) << log.All();
    EXPECT_EQ(log.Has(kDebugWindowError, "内部エラー"), b.refused) << log.All();
    // Nothing shows: a refused change leaves the screen as it was.
    EXPECT_EQ(At(640, 50), kBlack);
    for (int l : {3, 9}) EXPECT_TRUE(Layer(l).record == nullptr || !KivSpriteViewIs(Layer(l).record->sprite));
    m.reset();
  }

  // A queued show whose sprite went before run names nothing any more: it
  // is dropped, and the new image shows.
  Start(R"(
    call sp_set file"RED", 3, 10, 0
    call sp_show 3
    call sp_hide 3
    call sp_set file"GREEN", 3, 10, 0
    call run 0, 0, 0
)");
  Frame();
  EXPECT_EQ(At(640, 50), Over(kGreen));
  EXPECT_EQ(SpritesIn(list), 1);
}

// ---------------------------------------------------------------- the transform

TEST_F(LayerTest, TransformSumsCommandAttributeFrameAndShakeComponents) {
  Start(R"(
.graphic "ATTR" file="RED" move=10,20 scale=50 colour=0x80FFFFFF
    call sp_set_ex file"ATTR", 2, 100, 50
    call sp_set_ex file"GREEN", 1, 300, 300
    call run 0, 0, 0
)");
  Frame();
  SpriteRecord* r = Layer(2).record;
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->t.aX, 100);
  EXPECT_EQ(r->t.bX, 10);
  EXPECT_EQ(r->t.bY, 20);
  EXPECT_FLOAT_EQ(r->t.aScale, 0.5f);
  EXPECT_EQ(r->t.colour, 0x80FFFFFFu);

  // One frame's steps by hand, with actions and motions writing their terms
  // between the clear and the transform.
  auto step = [&](auto write) {
    plat::AdvanceVirtualClock(16);
    KivUpdateTime();
    sprite_records_frame_clear(ctx);
    write();
    sprite_transition_poll(ctx, 0);
    sprite_transform_frame(ctx);
  };
  step([&] {
    SpriteFrameTerms& f = r->t.frame;
    f.cX = 3, f.dX = 4, f.cY = 5, f.dY = 6;
    f.cRot[2] = 7, f.dRot[2] = 8;
    f.cScale = 0.25f;
    f.dAlpha = 0x10;
    r->t.delta.x = 7;
    r->t.f.x = 8;
    r->t.f.alpha = -0x20;
  });
  KivSpriteInfo info = InfoOf(2);
  EXPECT_EQ(info.x, 100 + 10 + 3 + 4 + 7 + 8);
  EXPECT_EQ(info.y, 50 + 20 + 5 + 6);
  EXPECT_EQ(info.rotationZ, 15);
  EXPECT_FLOAT_EQ(info.scale, 0.75f);
  EXPECT_EQ(info.colour, 0x70FFFFFFu);
  ASSERT_EQ(KivRenderFrame(), 1);
  // Red at alpha 0x70 over black, where the scaled image lies either way.
  EXPECT_TRUE(Near(At(200, 120), 0x6E0000, 2)) << std::hex << At(200, 120);

  // The per-frame terms are gone a frame later; the deltas fold into A.
  r->t.delta = SpriteTermSet{};
  r->t.f = SpriteTermSet{};
  step([] {});
  EXPECT_EQ(InfoOf(2).x, 110);
  r->t.delta.x = 5;
  r->t.delta.alpha = 0x90;
  sprite_delta_fold(ctx);
  EXPECT_EQ(r->t.aX, 105);
  EXPECT_EQ(r->t.colour >> 24, 0xFFu) << "alpha clamped";
  EXPECT_EQ(r->t.delta.x, 0);

  // A shake of amplitude 10 for 200 ms wanders within half of it either way.
  struct Shake {
    int mode, amplitude;
    bool movesX, movesY;
  };
  for (const Shake& s : {Shake{2, 10, true, true}, Shake{0, 10, false, true}, Shake{1, 10, true, false},
                         Shake{2, 0, false, false}}) {
    SCOPED_TRACE(testing::Message() << "shake mode " << s.mode << " amplitude " << s.amplitude);
    LayerRecord& l = Layer(2);
    l.flags |= kLayerFlagShake;
    l.shakeMode = s.mode;
    l.shakeAmplitude = s.amplitude;
    l.shakeDuration = 200;
    l.shakeStart = KivtimeGetTime();
    bool movedX = false, movedY = false;
    for (int t = 0; t < 12; ++t) {
      step([] {});
      const int dx = static_cast<int>(InfoOf(2).x) - 115, dy = static_cast<int>(InfoOf(2).y) - 70;
      EXPECT_GE(dx, -s.amplitude / 2);
      EXPECT_LT(dx, s.amplitude - s.amplitude / 2 + (s.amplitude == 0));
      EXPECT_GE(dy, -s.amplitude / 2);
      EXPECT_LT(dy, s.amplitude - s.amplitude / 2 + (s.amplitude == 0));
      movedX |= dx != 0;
      movedY |= dy != 0;
    }
    EXPECT_EQ(movedX, s.movesX);
    EXPECT_EQ(movedY, s.movesY);
    step([] {});  // 208 ms: over
    EXPECT_EQ(l.flags & kLayerFlagShake, 0u);
    EXPECT_EQ(InfoOf(2).x, 115);
    EXPECT_EQ(InfoOf(2).y, 70);
  }

  // A child layer follows its parent with its offsets.
  LayerRecord& parent = Layer(1);
  parent.flags |= kLayerFlagLinks;
  parent.links[0] = LinkSlot{kLinkChild, 2, 5, 6, 0, 0, 0, 0};
  step([] {});
  EXPECT_EQ(InfoOf(2).x, 305);
  EXPECT_EQ(InfoOf(2).y, 306);
  EXPECT_EQ(InfoOf(2).colour, 0xFFFFFFFFu) << "the parent's colour";
}

// ---------------------------------------------------------------- the asynchronous load

struct FakeWorker {
  std::mutex mutex;
  std::vector<std::pair<KivAttachProc, intptr_t>> jobs;
  std::atomic<int> entered{0};
  std::atomic<bool> go{true};
};
FakeWorker* g_worker = nullptr;

int CapturePost(KivAttachProc fn, intptr_t arg) {
  std::lock_guard lock(g_worker->mutex);
  g_worker->jobs.emplace_back(fn, arg);
  return 1;
}
void HoldInWorker() {
  g_worker->entered.fetch_add(1);
  while (!g_worker->go.load()) std::this_thread::sleep_for(std::chrono::microseconds(100));
}

TEST_F(LayerTest, AsyncLoadOnAWorkerAndEveryWayOfLettingGo) {
  FakeWorker worker;
  g_worker = &worker;
  layer_load_set_poster(CapturePost);
  layer_load_set_worker_hook(HoldInWorker);
  Start(R"(
load:
    call sp_load file"RED", 5, 0
    call wait_frame
release:
    call sp_cls 5
    call wait_frame
show:
    call sp_show 5
    call run_no_wait
    call wait_frame
waitload:
    call sp_load_wait 5
    call wait_frame
)");
  auto runJobOnWorker = [&](bool block) {
    std::pair<KivAttachProc, intptr_t> job;
    {
      std::lock_guard lock(worker.mutex);
      EXPECT_EQ(worker.jobs.size(), 1u);
      if (worker.jobs.empty()) return std::thread();
      job = worker.jobs.back();
      worker.jobs.clear();
    }
    worker.go = !block;
    return std::thread([job] { job.first(job.second); });
  };
  const int live = KivMemoryLive();

  {
    SCOPED_TRACE("loaded on the worker, installed by the next frame, shown by sp_show");
    RunFrom("load");
    Frame();
    EXPECT_TRUE(layer_load_pending(ctx, 5));
    EXPECT_EQ(Layer(5).flags, kLayerFlagLoading);
    EXPECT_NE(Layer(5).record, nullptr);
    EXPECT_EQ(Layer(5).record->sprite, nullptr);
    std::thread t = runJobOnWorker(false);
    t.join();
    EXPECT_EQ(worker.entered.exchange(0), 1);
    RunFrom("waitload");  // nothing left to wait for
    Frame();
    EXPECT_FALSE(layer_load_pending(ctx, 5));
    EXPECT_EQ(Layer(5).flags, 0u);
    EXPECT_EQ(Layer(5).record->imageOperand, m->out.fileRecord.at("RED"));
    EXPECT_EQ(At(10, 10), kBlack) << "hidden until shown";
    RunFrom("show");
    Frame();
    EXPECT_EQ(At(10, 10), Over(kRed));
    EXPECT_TRUE(log.Has(kDebugWindowCommand, "sp_load  RED, 5, 0"));
    RunFrom("release");
    Frame();
  }
  {
    SCOPED_TRACE("released before the worker began: the worker finds nothing to do");
    RunFrom("load");
    Frame();
    std::pair<KivAttachProc, intptr_t> job;
    {
      std::lock_guard lock(worker.mutex);
      ASSERT_EQ(worker.jobs.size(), 1u);
      job = worker.jobs.back();
      worker.jobs.clear();
    }
    RunFrom("release");
    Frame();
    EXPECT_EQ(Layer(5).record, nullptr);
    std::thread([job] { job.first(job.second); }).join();
    EXPECT_EQ(worker.entered.load(), 0) << "nothing decoded";
    Frame();
    EXPECT_EQ(SpritesIn(list), 0);
  }
  {
    SCOPED_TRACE("released while the worker runs: its result is freed when it ends");
    RunFrom("load");
    Frame();
    std::thread t = runJobOnWorker(true);
    while (worker.entered.load() == 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
    RunFrom("release");
    Frame();
    EXPECT_EQ(Layer(5).record, nullptr);
    worker.go = true;
    t.join();
    worker.entered = 0;
    Frame();
    EXPECT_EQ(SpritesIn(list), 0);
  }
  {
    SCOPED_TRACE("sp_load_wait takes a job the worker has not begun and runs it at once");
    RunFrom("load");
    Frame();
    RunFrom("waitload");
    Frame();
    EXPECT_FALSE(layer_load_pending(ctx, 5));
    ASSERT_NE(Layer(5).record, nullptr);
    EXPECT_NE(Layer(5).record->sprite, nullptr);
    EXPECT_TRUE(log.Has(kDebugWindowCommand, "sp_load_wait  5 : time"));
    std::thread t = runJobOnWorker(false);
    t.join();
    EXPECT_EQ(worker.entered.load(), 0) << "the worker left it alone";
    EXPECT_EQ(SpritesIn(list), 1);
  }
  {
    SCOPED_TRACE("the game's reset with a load pending and one finished but not installed");
    RunFrom("release");
    Frame();
    RunFrom("load");
    Frame();
    std::thread t = runJobOnWorker(false);
    t.join();
    game_reset(ctx);
    EXPECT_EQ(SpritesIn(list), 0);
    RunFrom("load");
    Frame();
    std::pair<KivAttachProc, intptr_t> job = worker.jobs.back();
    worker.jobs.clear();
    game_reset(ctx);
    std::thread([job] { job.first(job.second); }).join();
    Frame();
    EXPECT_EQ(SpritesIn(list), 0);
  }
  EXPECT_EQ(KivMemoryLive(), live) << "every job's list and sprite freed";
  g_worker = nullptr;
}

// The engine's own worker, under its frame loop: the load runs there while
// the game thread goes on, and the picture shows once it is installed.
std::atomic<int> g_loaded_on_worker{0};
std::thread::id g_game_thread;
void NoteWorkerThread() {
  if (std::this_thread::get_id() != g_game_thread) g_loaded_on_worker.fetch_add(1);
}

TEST_F(LayerTest, AsyncLoadOnTheEnginesWorker) {
  Start(R"(
    call sp_load file"TALL", 8, 0
    call run 0, 0, 0
    call sp_show 8
    call run_no_wait
    call wait_frame
)");
  g_loaded_on_worker = 0;
  layer_load_set_worker_hook(NoteWorkerThread);
  static VmContext* s_ctx;
  static int s_frames, s_installed;
  s_ctx = ctx;
  s_frames = s_installed = 0;
  kivtest::g_start = [] {
    g_game_thread = std::this_thread::get_id();
    return KivTaskCreate(kivtest::TaskThunk, nullptr, 4, nullptr, KIV_TASK_BEHIND, nullptr, "game") != nullptr;
  };
  // The script loads, then waits (the task holds it back) until the load
  // is installed by the per-frame poll; then it shows the layer.
  kivtest::g_task = [](void*) {
    const bool pending = layer_load_pending(s_ctx, 8);
    if (s_frames == 0 || !pending) game_task_frame(s_ctx);
    else sprite_transition_poll(s_ctx, 0);
    ++s_frames;
    if (!s_installed && s_frames > 1 && !layer_load_pending(s_ctx, 8)) s_installed = s_frames;
    if ((s_installed && s_frames >= s_installed + 3) || s_frames > 1000) KivEnd();
    return 1;
  };
  EXPECT_EQ(KivRun(), 0);
  EXPECT_GT(s_installed, 0);
  EXPECT_EQ(g_loaded_on_worker.load(), 1) << "decoded on the worker thread";
  EXPECT_FALSE(layer_load_pending(ctx, 8));
  EXPECT_EQ(InfoOf(8).x, 17.0f) << "the file's own place";
  EXPECT_EQ(At(20, 30), Over(0x808080));
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "sp_load  TALL, 8, 0"));
}

// ---------------------------------------------------------------- save and restore

TEST_F(LayerTest, SaveAndRestorePartsRoundTrip) {
  Start(R"(
.file "UNUSED"
    call sp_set file"BLUE", 0, 10, 0
    call sp_set_ex file"YELLOW", 1, 0, 400
    call sp_set_ex str0, 3, 100, 200
    call sp_set_ex file"BLUE", 4, 800, 400
    call sp_set_ex file"RED", 5, 300, 300
    call sp_set file"RED", 70, 10, 0
    call face_init 2, 9, 640, 700, 1
    call run 0, 0, 0
    call sp_cls_transition 5, 1, 500
    call wait_frame
)");
  std::strcpy(ctx->stringVariables[0], "green");
  Frame();
  Frame();
  ASSERT_EQ(Layer(5).transitionState, kLayerTransitionClear);
  // Layer 1 replays a copy from layer 4, a layer restored after it.
  Layer(1).flags |= kLayerFlagLinks;
  Layer(1).links[0] = LinkSlot{kLinkCopyLayer, 4, 0, 0, 0, 0, 50, 50};
  Layer(0).userWord = 77;

  std::vector<uint8_t> buffer(0x100000);
  uint32_t used = 16;  // other blocks before this one
  ASSERT_TRUE(layer_save(ctx, buffer, &used));
  const std::vector<uint8_t> first(buffer.begin() + 16, buffer.begin() + used);
  // Faces 128; layer 0, 1: 440 each; 2: 4; 3: 440 + 32 (its name); 4: 440;
  // 5 (being cleared): 4; 6..63: 4 each.
  ASSERT_EQ(first.size(), 128u + 440 + 440 + 4 + 472 + 440 + 4 + 58 * 4);
  const KivSpriteInfo before = InfoOf(0);

  game_reset(ctx);
  ASSERT_EQ(SpritesIn(list), 0);
  uint32_t cursor = 0;
  ASSERT_TRUE(layer_restore(ctx, first, &cursor));
  EXPECT_EQ(cursor, first.size());
  const KivSpriteInfo after = InfoOf(0);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  EXPECT_EQ(Layer(0).userWord, 77);
  ASSERT_NE(Layer(3).record, nullptr);
  EXPECT_STREQ(Layer(3).record->name, "GREEN");
  EXPECT_EQ(Layer(3).record->imageOperand, kStringVariableBit);
  EXPECT_EQ(Layer(5).record, nullptr) << "saved while being cleared: empty";
  for (int l = 64; l < kLayerCount; ++l) EXPECT_EQ(Layer(l).record, nullptr) << l;
  const FaceSlot* face = face_slot(ctx, 2);
  EXPECT_EQ(face->layer, 9);
  EXPECT_EQ(face->priorityOffset, -134);
  sprite_transform_frame(ctx);
  ASSERT_EQ(KivRenderFrame(), 1);
  const Probe shown[] = {{560, 20, Over(kBlue)},     {110, 210, Over(kGreen)}, {10, 410, Over(kBlue)} /* the copy */,
                         {100, 410, Over(kYellow)}, {350, 350, kBlack},       {640, 20, Over(kBlue)}};
  for (const Probe& p : shown) EXPECT_EQ(At(p.x, p.y), p.rgb) << p.x << "," << p.y;

  used = 0;
  ASSERT_TRUE(layer_save(ctx, buffer, &used));
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + used), first) << "a second save is the same";

  // A block that does not fit is not written at all.
  log.lines.clear();
  uint32_t nearlyFull = 0x100000 - static_cast<uint32_t>(first.size()) + 1;
  EXPECT_FALSE(layer_save(ctx, buffer, &nearlyFull));
  EXPECT_EQ(nearlyFull, 0x100000 - first.size() + 1);
  EXPECT_TRUE(log.Has(kDebugWindowError, "save buffer over"));

  // Blocks no save could hold are refused whole; the layers stay as they are.
  auto put = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  struct Lie {
    const char* what;
    size_t at;
    uint32_t value;
    size_t cut;  // bytes cut off the end
  };
  const size_t l1 = 128 + 440, l3 = l1 + 440 + 4;
  const Lie lies[] = {
      {"short", 0, 0, 1},
      {"face layer 200", 0, 200, 0},
      {"an image operand that is no record", 128, 0x0FFFFFF0, 0},
      {"a sprite width of 0", 128 + 4 + 24, 0, 0},
      {"a render mode of 9", 128 + 4 + 68, 9, 0},
      {"a motion slot of 500", 128 + 136, 500, 0},
      {"a link to layer 300", l1 + 184, 300, 0},
      {"a name without its end", l3 + 440, 0x41414141, 0},
  };
  KivSprite* kept = Layer(0).record->sprite;
  for (const Lie& lie : lies) {
    SCOPED_TRACE(lie.what);
    std::vector<uint8_t> bad = first;
    if (lie.cut) bad.resize(bad.size() - lie.cut);
    else put(bad, lie.at, lie.value);
    if (std::string(lie.what) == "a name without its end")
      for (size_t i = 0; i < 32; i += 4) put(bad, lie.at + i, lie.value);
    uint32_t c = 0;
    log.lines.clear();
    EXPECT_FALSE(layer_restore(ctx, bad, &c));
    EXPECT_EQ(c, 0u);
    EXPECT_TRUE(log.Has(kDebugWindowError, "load error : layer block")) << log.All();
    EXPECT_EQ(Layer(0).record ? Layer(0).record->sprite : nullptr, kept);
  }
}

// ---------------------------------------------------------------- a demo-style scene

TEST_F(LayerTest, CrossFadeOfADemoStyleSceneMatchesTheGoldenFrames) {
  WriteImage(dir, "SKY.PGD", Sky());
  WriteImage(dir, "CH_A.PGD", Figure(0xE08060));
  WriteImage(dir, "CH_B.PGD", Figure(0x60A0E0));
  Start(R"(
    call sp_set file"SKY", 0, 10, 0
    call sp_set file"CH_A", 10, 7, 2
    call run 0, 0, 0
    call sp_set_transition file"CH_B", 10, 1, 1000
    call run_no_wait
    call wait_frame
    call wait_frame
    call wait_frame
    call wait_frame
)");
  Frame();
  Frame();        // the cross-fade starts
  Frame(500);     // half way
  ExpectGolden("layer_crossfade_mid.png");
  Frame(600);     // over: the new figure at the transition's full strength
  const uint32_t figure = At(448, 400);
  Frame();        // the transition is put away; the figure draws on its own
  EXPECT_EQ(Layer(10).transitionState, kLayerTransitionNone);
  EXPECT_TRUE(Near(At(448, 400), figure, 3));
  ExpectGolden("layer_crossfade_end.png");
  EXPECT_EQ(SpritesIn(list), 2);
}

}  // namespace
