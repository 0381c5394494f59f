// The message window as a player meets it: assembled scripts show lines on
// the headless engine (virtual clock, injected keys, software renderer),
// stepped frame by frame; the reveal step and the per-frame state machine as
// tables; the six line variants; an uninitialised window; bad input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "button/buttons.h"
#include "component_entries.h"
#include "platform/core/clock.h"
#include "platform/input/input.h"
#include "platform/window/png_capture.h"
#include "render/soft_screen.h"
#include "sound/sound.h"
#include "start/game_record.h"
#include "start/game_task.h"
#include "support/golden_frame.h"
#include "support/demo_script.h"
#include "support/engine_fixture.h"
#include "support/vm_harness.h"
#include "text/message_window.h"
#include "text/text_font.h"

using kivtest::EngineTest;
using kivtest::Sj;

namespace {

// What the window handed to the save system and the backlog.
struct Seen {
  int snapshots = 0;
  uint32_t snapshotPc = 0;
  int history = 0;
  std::string lastName, lastText;
  int voicePlaying = 0;
};
Seen g_seen;

void SnapshotTake(VmContext*, uint32_t pc) {
  ++g_seen.snapshots;
  g_seen.snapshotPc = pc;
}
void HistoryAdd(VmContext*, const char* name, const char* text, const char*) {
  ++g_seen.history;
  g_seen.lastName = name;
  g_seen.lastText = text;
}
int VoicePlaying(VmContext*) { return g_seen.voicePlaying; }
const TextWindowHooks kHooks = {SnapshotTake, HistoryAdd, VoicePlaying};

// Reveals run in 1280 x 720 with a 24-pixel font.
constexpr const char* kInit = "    call text_init 24, 140, 560, 1000, 120, 140, 520, 0\n";

class MessageWindowTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    params.clientWidth = params.screenWidth = 1280;
    params.clientHeight = params.screenHeight = 720;
    g_seen = Seen{};
    text_window_hooks_set(&kHooks);
    ASSERT_EQ(KivInit(&params), 1);
    list = KivRenderInit();
    KivRenderSetActive(list);
    KivFontSetType(0);
    KivFontSetEffect(1);
    KivFontSetColor(0xFFFFFF, 0x000000);
    plat::HeadlessInputReset();
  }
  void TearDown() override {
    m.reset();
    KivMemoryFree(flags);
    text_window_hooks_set(nullptr);
    KivRenderSetActive(nullptr);
    KivRenderUninit(list);
    plat::HeadlessInputReset();
    EngineTest::TearDown();
  }

  void Start(const std::string& script, uint32_t flag_bytes = 64) {
    m = std::make_unique<vmtest::Machine>(script);
    ASSERT_TRUE(m->ok);
    ctx = m->ctx;
    ctx->renderList = list;
    game_reset(ctx);
    GameRecord& g = m->record();
    flags = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(flag_bytes), 1));
    g.textReadFlags = flags;
    g.textReadFlagsSize = flag_bytes;
    g.system.word[kSysTextSpeed] = 50;
    g.system.word[kSysAutoTime] = 50;
    g.system.word[kSysWindowImage] = -1;  // as a new system.dat holds them
    g.system.word[kSysWindowAlpha] = -1;
  }
  int32_t* Sys() { return m->record().system.word; }
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
  // A click: Space down for one frame, then up.
  void Click(uint32_t ms = 16) {
    plat::HeadlessSetKey(plat::vk::kSpace, true);
    Frame(ms);
    plat::HeadlessSetKey(plat::vk::kSpace, false);
  }
  // Pixels of the text box on screen that are brighter than the window.
  int LitPixels() {
    int n = 0;
    for (int y = 560; y < 680; ++y)
      for (int x = 140; x < 1140; ++x) n += (g_kiv->soft->backBuffer[static_cast<size_t>(y) * 1280 + x] & 0xFF) > 0x80;
    return n;
  }
  MessageWindow& W() { return ctx->text; }

  KivRenderList* list = nullptr;
  std::unique_ptr<vmtest::Machine> m;
  VmContext* ctx = nullptr;
  uint8_t* flags = nullptr;
  vmtest::LogCapture log;
};

// ---- The reveal step ----

TEST(TextRevealStep, ThresholdsAndTheSoftEdge) {
  // {L (reveal length), T (threshold), v (order value), a (kept alpha)} -> alpha shown.
  struct Row {
    int t, v, a, want;
  } rows[] = {
      {200, 100, 255, 255},  // v < T - 64: fully shown
      {200, 136, 255, 255},  // v = T - 64: the edge starts at full strength
      {200, 150, 255, 199},  // inside the 64-unit edge
      {200, 199, 255, 3},    // the edge's last unit
      {200, 200, 255, 0},    // v >= T: still hidden
      {200, 150, 0, 0},      // nothing drawn there
      {200, 150, 128, 100},  // partial coverage scales
      {30, 0, 255, 255},     // T < 64: L = 0, the edge starts at 0
      {30, 10, 255, 215},
      {30, 29, 255, 139},  // below 64 the edge is cut at T
      {30, 30, 255, 0},
      {0, 0, 255, 0},        // T = 0 uncovers nothing
  };
  for (const Row& r : rows) {
    uint8_t alpha[1] = {static_cast<uint8_t>(r.a)};
    uint16_t order[1] = {static_cast<uint16_t>(r.v)};
    uint32_t px[1] = {0x00FFFFFF};
    TextRevealRecord rec{};
    rec.ready = 1;
    rec.alpha = alpha;
    rec.order = order;
    rec.rowWidth = 1;
    rec.rows = 1;
    rec.bandHeight = rec.bandHeightInitial = 1;
    rec.bufferSize = 1;
    static uint32_t* g_px;
    g_px = px;
    TextFontApi api = text_font_api();
    api.lock = [](KivSprite*, int* w, int* h) -> uint32_t* {
      *w = *h = 1;
      return g_px;
    };
    api.unlock = [](KivSprite*) { return 1; };
    text_font_api_set(&api);
    text_reveal_apply(&rec, reinterpret_cast<KivSprite*>(px), r.t);
    text_font_api_set(nullptr);
    EXPECT_EQ(px[0] >> 24, static_cast<uint32_t>(r.want)) << "T " << r.t << " v " << r.v << " a " << r.a;
  }
  // The threshold over a phase: {e, d, L} -> T; d = 0 stands whole.
  struct Phase {
    uint32_t e, d;
    int32_t l;
    int want;
  } phases[] = {{0, 1000, 936, 0}, {500, 1000, 936, 500}, {1000, 1000, 936, 1000}, {2000, 1000, 936, 1000},
                {0, 0, 936, 1000}, {0, 0, 0, 64}};
  for (const Phase& p : phases) EXPECT_EQ(text_reveal_threshold(p.e, p.d, p.l), p.want) << p.e << "/" << p.d;
  // The phase length divides by the font size: below 1 it is 0 (stands whole).
  EXPECT_EQ(text_phase_length(24 * 10 + 64, 24, 50), 12u * 50u);
  EXPECT_EQ(text_phase_length(500, 0, 50), 0u);
  EXPECT_EQ(text_phase_length(500, -3, 50), 0u);
}

// ---- text_frame's state machine ----

TEST_F(MessageWindowTest, TextFrameTransitionsAsATable) {
  Start(std::string("start:\n") + kInit + "    end\n");
  m->RunToEnd();
  constexpr uint32_t R = kTextRevealing, Wt = kTextWaiting;
  struct Row {
    const char* what;
    uint32_t flags;
    bool click, skip, read, skipUnread, ctrl, autoMode, voice, finish;
    uint32_t elapsed, speed;
    uint32_t wantFlags;
    bool popped;
    int ret;
  } rows[] = {
      {"plain, revealing", kTextKindPlain | R, 0, 0, 0, 0, 0, 0, 0, 0, 100, 50, kTextKindPlain | R, 0, 1},
      {"plain, click completes", kTextKindPlain | R, 1, 0, 0, 0, 0, 0, 0, 0, 100, 50, kTextKindPlain | Wt, 0, 1},
      {"plain, revealed in time", kTextKindPlain | R, 0, 0, 0, 0, 0, 0, 0, 0, 5000, 50, kTextKindPlain | Wt, 0, 1},
      {"speed 0: whole at once", kTextKindPlain | R, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kTextKindPlain | Wt, 0, 1},
      {"waiting, click goes on", kTextKindPlain | Wt, 1, 0, 0, 0, 0, 0, 0, 0, 100, 50, 0, 1, 1},
      {"waiting, no input", kTextKindPlain | Wt, 0, 0, 0, 0, 0, 0, 0, 0, 100, 50, kTextKindPlain | Wt, 0, 0},
      {"waiting, finish request", kTextKindPlain | Wt, 0, 0, 0, 0, 0, 0, 0, 1, 100, 50, 0, 1, 1},
      {"no wait ignores clicks", kTextKindNoWait | R, 1, 0, 0, 0, 0, 0, 0, 0, 100, 50, kTextKindNoWait | R, 0, 0},
      {"no wait ends by itself", kTextKindNoWait | R, 0, 0, 0, 0, 0, 0, 0, 0, 5000, 50, 0, 0, 0},
      {"go on once revealed", kTextKindGoOn | R, 0, 0, 0, 0, 0, 0, 0, 0, 5000, 50, 0, 1, 1},
      {"at once", kTextKindAtOnce | R, 0, 0, 0, 0, 0, 0, 0, 0, 0, 50, kTextKindAtOnce | Wt, 0, 1},
      {"skip passes a read line", kTextKindPlain | R, 0, 1, 1, 0, 0, 0, 0, 0, 0, 50, kTextKindPlain | Wt, 0, 1},
      {"skip stops at unread", kTextKindPlain | R, 0, 1, 0, 0, 0, 0, 0, 0, 100, 50, kTextKindPlain | R, 0, 1},
      {"skip unread allowed", kTextKindPlain | R, 0, 1, 0, 1, 0, 0, 0, 0, 100, 50, kTextKindPlain | Wt, 0, 1},
      {"skip key passes unread", kTextKindPlain | R, 0, 0, 0, 0, 1, 0, 0, 0, 100, 50, kTextKindPlain | Wt, 0, 1},
      {"skip key ends the wait", kTextKindPlain | Wt, 0, 0, 0, 0, 1, 0, 0, 0, 100, 50, 0, 1, 1},
      {"skip key + mode, unread", kTextKindPlain | R, 0, 1, 0, 0, 1, 0, 0, 0, 100, 50, kTextKindPlain | Wt, 0, 1},
      {"auto waits for the voice", kTextKindPlain | Wt, 0, 0, 0, 0, 0, 1, 1, 0, 9000, 50, kTextKindPlain | Wt, 0, 0},
      {"auto waits for its time", kTextKindPlain | Wt, 0, 0, 0, 0, 0, 1, 0, 0, 100, 50, kTextKindPlain | Wt, 0, 0},
      {"auto goes on", kTextKindPlain | Wt, 0, 0, 0, 0, 0, 1, 0, 0, 9000, 50, 0, 1, 1},
  };
  for (const Row& r : rows) {
    KivUpdateTime();
    MessageWindow& w = W();
    w.visible = 1;
    w.stateFlags = r.flags;
    w.read = r.read;
    w.finishRequest = r.finish;
    w.timeOverride = 0;
    w.revealLength = 24 * 20 + 64;
    Sys()[kSysTextSpeed] = static_cast<int32_t>(r.speed);
    Sys()[kSysSkipUnread] = r.skipUnread;
    w.phaseLength = text_phase_length(w.revealLength, w.fontSize, r.speed);
    if (r.flags & Wt) w.phaseLength = text_phase_length(w.revealLength, w.fontSize, 50) + 500;
    w.phaseStart = KivtimeGetTime();
    ctx->skipMode = r.skip;
    ctx->autoMode = r.autoMode;
    g_seen.voicePlaying = r.voice;
    ctx->script.pointDepth = 0;
    script_point_push(ctx);
    // A held key counts from its second sample on; a push on its first.
    plat::HeadlessSetKey(plat::vk::kControl, r.ctrl);
    KivInputUpdate();
    plat::HeadlessSetKey(plat::vk::kSpace, r.click);
    plat::AdvanceVirtualClock(r.elapsed);
    KivUpdateTime();
    KivInputUpdate();
    const int ret = text_frame_step(ctx);
    EXPECT_EQ(w.stateFlags, r.wantFlags) << r.what;
    EXPECT_EQ(ctx->script.pointDepth == 0, r.popped) << r.what;
    EXPECT_EQ(ret, r.ret) << r.what;
    plat::HeadlessSetKey(plat::vk::kSpace, false);
    plat::HeadlessSetKey(plat::vk::kControl, false);
    KivInputUpdate();
  }
  ctx->skipMode = 0;
  ctx->autoMode = 0;
  ctx->script.pointDepth = 0;
}

// A line revealed over time on screen: a click completes the reveal, a
// second click goes on; the script stays at the line until then.
TEST_F(MessageWindowTest, AClickCompletesTheRevealAndASecondClickGoesOn) {
  Start(std::string("start:\n") + kInit +
        "    call _text_show 0\n"
        "    call text none, \"葵\", \"月の光が静かに庭を照らしていた。\", 0\n"
        "    mov r1, 1\n"
        "    call text none, none, \"次の行。\", 0\n"
        "    mov r1, 2\n"
        "    end\n");
  Frame();
  EXPECT_EQ(W().stateFlags, kTextKindPlain | kTextRevealing);
  EXPECT_EQ(W().read, 0u);
  Frame();
  const int early = LitPixels();
  for (int i = 0; i < 10; ++i) Frame();
  const int later = LitPixels();
  EXPECT_GT(later, early) << "the text is uncovered over time";
  Click();
  EXPECT_EQ(W().stateFlags, kTextKindPlain | kTextWaiting);
  const int whole = LitPixels();
  EXPECT_GT(whole, later);
  for (int i = 0; i < 100; ++i) Frame();
  EXPECT_EQ(m->Reg(1), 0) << "the script waits for the click";
  EXPECT_EQ(LitPixels(), whole);
  Click();
  Frame();
  EXPECT_EQ(m->Reg(1), 1);
  EXPECT_EQ(W().stateFlags, kTextKindPlain | kTextRevealing) << "the next line reveals";
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "text  月の光が静かに庭を照らしていた。"));
}

TEST_F(MessageWindowTest, TextSpeedZeroShowsTheLineWholeAndWaitsAtOnce) {
  Start(std::string("start:\n") + kInit +
        "    call _text_show 0\n"
        "    call text none, none, \"一度に全部。\", 0\n"
        "    end\n");
  Sys()[kSysTextSpeed] = 0;
  Frame();
  EXPECT_EQ(W().stateFlags, kTextKindPlain | kTextWaiting);
  const int whole = LitPixels();
  EXPECT_GT(whole, 100);
}

// ---- The six variants ----

TEST_F(MessageWindowTest, TheSixLineVariants) {
  struct Row {
    const char* call;
    bool snapshot;
    uint32_t flags;  // right after the command
    bool point;
    int history;
  } rows[] = {
      {"text none, \"名\", \"行。\", 0", true, kTextKindPlain | kTextRevealing, true, 1},
      {"text_w none, \"名\", \"行。\", 0", true, kTextKindNoWait | kTextRevealing, false, 1},
      {"text_a none, \"名\", \"行。\"", true, kTextKindAtOnce | kTextRevealing, true, 1},
      {"text_wa none, \"名\", \"行。\"", true, kTextKindNoWait | kTextKindAtOnce | kTextRevealing, false, 1},
      {"_text_n none, \"名\", \"行。\", 0", false, kTextKindGoOn | kTextRevealing, true, 0},
      {"text_cat none, \"名\", \"続き。\", 0", false, kTextKindPlain | kTextRevealing, true, 0},
  };
  for (const Row& r : rows) {
    g_seen = Seen{};
    Start(std::string("start:\n") + kInit + "line:\n    call " + r.call + "\nafter:\n    end\n");
    m->Run();  // text_init
    const uint32_t at = m->Pc("line");
    const uint32_t call = m->Pc("after") - 12;
    while (ctx->script.pc < at) m->Run();
    m->Run();
    EXPECT_EQ(g_seen.snapshots, r.snapshot ? 1 : 0) << r.call;
    if (r.snapshot) {
      EXPECT_EQ(g_seen.snapshotPc, call) << r.call << ": the snapshot resumes at the call, its arguments stacked";
    }
    EXPECT_EQ(W().stateFlags, r.flags) << r.call;
    EXPECT_EQ(ctx->script.pointDepth, r.point ? 1 : 0) << r.call;
    EXPECT_EQ(g_seen.history, r.history) << r.call;
    EXPECT_EQ(W().visible, 1u) << r.call;
    m.reset();
    KivMemoryFree(flags);
    flags = nullptr;
  }
}

// ---- Uninitialised window ----

TEST_F(MessageWindowTest, AnUninitialisedWindowRefusesItsCommands) {
  const char* gated[] = {
      "text_set_icon 0, file\"ICON\", 0, 0", "text none, none, \"a\", 0", "text_hide 0", "_text_show 0",
      "text_set_btn 0", "text_uninit", "text_set_rect 0, 1, 1, 1, 1", "text_clear",
      "text_window_set_alpha 1, 0", "text_voice_play 0", "text_set_icon_animation_time 0, 5",
      "text_w none, none, \"a\", 0", "text_a none, none, \"a\"", "text_wa none, none, \"a\"",
      "_text_n none, none, \"a\", 0", "text_cat 0, none, \"a\", 0", "is_text_visible",
      "text_set_base file\"BASE\", 0, 0, 0",
  };
  for (const char* call : gated) {
    log.lines.clear();
    Start(std::string("start:\n    call ") + call + "\n    end\n");
    m->RunToEnd(5);
    const std::string name = std::string(call).substr(0, std::string(call).find(' '));
    EXPECT_TRUE(log.Has(kDebugWindowError, "text initialize error : " + name)) << call << "\n" << log.All();
    EXPECT_EQ(W().visible, 0u);
    EXPECT_EQ(W().stateFlags, 0u);
    m.reset();
    KivMemoryFree(flags);
    flags = nullptr;
  }
  Start(
      "start:\n"
      "    call text_set_time 250\n"
      "    call text_get_time -> r1\n"
      "    call text_set_time -1\n"
      "    call text_get_time -> r2\n"
      "    call text_set_time 30\n"
      "    call text_get_time -> r3\n"
      "    call text_reveal_finish\n"
      "    end\n");
  m->RunToEnd();
  EXPECT_EQ(m->Reg(1), 100);
  EXPECT_EQ(m->Reg(2), 100);
  EXPECT_EQ(m->Reg(3), 30);
  EXPECT_FALSE(log.HasAny("text initialize error : text_reveal_finish"));
}

// ---- Bad input ----

TEST_F(MessageWindowTest, BadInputIsRefusedAndNothingIsWrittenThrough) {
  Start(
      "start:\n"
      "    call text_init 0, 0, 0, 100, 100, 0, 0, 0\n"
      "    mov r1, 1\n" +
      std::string(kInit) +
      "    call text_set_btn 8\n"
      "    call text_set_btn -1\n"
      "    call text_set_icon 3, file\"ICON\", 0, 0\n"
      "    call text_set_color 16, \"x\", 0, 0\n"
      "    call text_caption_stop\n"
      "    mov r2, 1\n"
      "    end\n");
  m->RunToEnd();
  EXPECT_EQ(m->Reg(1), 1);
  EXPECT_EQ(m->Reg(2), 1) << "text_caption_stop without a caption does nothing";
  EXPECT_TRUE(log.HasAny("text_init : invalid param"));
  EXPECT_EQ(W().fontSize, 24);
  EXPECT_EQ(W().buttonGroup, 0xFFFF);
  EXPECT_TRUE(log.HasAny("text_set_btn group out of range"));
  EXPECT_TRUE(log.HasAny("text_set_icon slot out of range"));
  EXPECT_TRUE(log.HasAny("over : text_set_color 16"));
}

TEST_F(MessageWindowTest, AReadFlagOutsideTheBlockCountsAsUnreadAndWritesNothing) {
  Start(std::string("start:\n") + kInit + "    call text none, none, \"読む。\", 0\n    end\n", 1);
  m->record().textReadFlagsSize = 0;  // a block too small for text word 0
  m->RunToEnd(3);
  EXPECT_EQ(W().read, 0u);
  EXPECT_EQ(flags[0], 0u);
  EXPECT_TRUE(log.HasAny("text read flag out of range"));
}

TEST_F(MessageWindowTest, ASecondShowingOfALineIsRead) {
  Start(std::string("start:\n") + kInit + "again:\n    call text none, none, \"同じ行。\", 0\n    end\n");
  m->Run();
  while (ctx->script.pc < m->Pc("again")) m->Run();
  m->Run();
  EXPECT_EQ(W().read, 0u);
  const uint8_t before = flags[0];
  ctx->script.pointDepth = 0;
  ctx->script.pc = m->Pc("again");
  m->Run();
  EXPECT_EQ(W().read, 1u);
  EXPECT_EQ(flags[0], before);
}

TEST_F(MessageWindowTest, AppendedTextAndTheNovelPageStayInsideTheirBuffers) {
  std::string script = std::string("start:\n") + kInit +
                       "    call text_init_visualnovelmode 100, 40, 1080, 100000\n"
                       "    call set_text_mode 1\n"
                       "    call text none, none, \"始め。\", 0\n"
                       "    mov r5, 200\n"
                       "loop:\n"
                       "    call text_cat 0, none, \"長い長い続きの文。\", 0\n"
                       "    call text_w none, \"名前\", \"ページの行、ページの行。\", 0\n"
                       "    sub r5, 1\n"
                       "    jz @done, r5\n"
                       "    jmp @loop\n"
                       "done:\n"
                       "    end\n";
  Start(script);
  for (int i = 0; i < 2000 && ctx->script.pc != ctx->script.codeSize; ++i) {
    ctx->script.pointDepth = 0;  // go on without clicks
    m->Run();
    ASSERT_LT(std::strlen(W().text), sizeof W().text);
    ASSERT_LT(std::strlen(W().novelPage), sizeof W().novelPage);
  }
  EXPECT_EQ(ctx->script.pc, ctx->script.codeSize);
  // Cut at a whole character: no lone lead byte at the end.
  const size_t n = std::strlen(W().text);
  size_t i = 0;
  while (i < n) {
    const auto b = static_cast<unsigned char>(W().text[i]);
    i += ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) ? 2 : 1;
  }
  EXPECT_EQ(i, n);
}

TEST_F(MessageWindowTest, AFullValueStackDoesNotFeedTheShowAStaleValue) {
  std::string pushes;
  for (int i = 0; i < 28; ++i) pushes += "    push 7\n";
  Start(std::string("start:\n") + kInit + pushes + "    call text none, none, \"満杯。\", 0\n    end\n");
  m->Run();
  for (int i = 0; i < 5 && ctx->script.pc != ctx->script.codeSize && !W().visible; ++i) m->Run();
  EXPECT_EQ(W().visible, 1u);
  EXPECT_EQ(ctx->valueStackDepth, 28) << "the show takes nothing from the stack";
  EXPECT_EQ(ctx->valueStack[27], 7);
}

}  // namespace

namespace {

TEST_F(MessageWindowTest, TheSaveBlockComesBackWholeAndABadOneIsRefused) {
  Start(std::string(".file \"UNUSED\"\nstart:\n") + kInit +
        "    call text_set_base file\"#C0102040\", 0, 540, 0\n"
        "    call text_set_icon 0, file\"#FFFFFFFF\", 1200, 680\n"
        "    call text_set_icon_mode 1\n"
        "    call text_init_visualnovelmode 100, 40, 1080, 640\n"
        "    call set_text_mode 1\n"
        "    call text_vn_br\n"
        "    end\n");
  m->RunToEnd();
  ASSERT_NE(W().baseImage, nullptr);
  ASSERT_NE(W().icons[0].record, nullptr);
  std::vector<uint8_t> buf(0x10000);
  uint32_t used = 0;
  text_save(ctx, buf, &used);
  EXPECT_EQ(used, 4u + 4 + 4 + 36 + 2084 + 60 + 60 + 60 + (4 + 72 + 60) + (4 + 72 + 60 + 4) + 4 + 4);
  const std::vector<uint8_t> first(buf.begin(), buf.begin() + used);

  // A short block changes nothing.
  uint32_t cursor = 0;
  EXPECT_FALSE(text_restore(ctx, std::span<const uint8_t>(first).first(100), &cursor));
  EXPECT_EQ(cursor, 0u);
  EXPECT_EQ(W().textMode, 1u);
  ASSERT_NE(W().baseImage, nullptr);

  text_release(ctx);
  EXPECT_EQ(W().initialised, 0u);
  cursor = 0;
  ASSERT_TRUE(text_restore(ctx, first, &cursor));
  EXPECT_EQ(cursor, used);
  EXPECT_EQ(W().fontSize, 24);
  EXPECT_EQ(W().textW, 1000);
  EXPECT_EQ(W().iconPlacement, 1u);
  EXPECT_STREQ(W().novelPage, "<br>");
  ASSERT_NE(W().baseImage, nullptr);
  ASSERT_NE(W().icons[0].record, nullptr);
  EXPECT_EQ(W().icons[0].record->t.aX, 1200);
  EXPECT_EQ(KivSpriteViewIs(W().baseImage->sprite), 0) << "restored hidden";
  std::vector<uint8_t> again(0x10000);
  uint32_t used2 = 0;
  text_save(ctx, again, &used2);
  ASSERT_EQ(used2, used);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), again.begin()));

  // A piece that does not fit is skipped with a line, the rest goes on.
  std::vector<uint8_t> small(100);
  uint32_t used3 = 0;
  text_save(ctx, small, &used3);
  EXPECT_TRUE(log.HasAny("save buffer over"));
  EXPECT_LE(used3, 100u);
}

// The caption reveals, stands, vanishes and reveals again while its task
// lives; stopping it releases its sprite.
TEST_F(MessageWindowTest, TheCaptionTaskRevealsAgainUntilStopped) {
  Start(std::string("start:\n") + kInit +
        "    call text_caption_start \"字幕の文。\", 200, 100, 600, 40\n"
        "    end\n");
  m->RunToEnd();
  ASSERT_NE(W().captionTask, nullptr);
  auto lit = [] {
    int n = 0;
    for (int y = 100; y < 140; ++y)
      for (int x = 200; x < 800; ++x) n += (g_kiv->soft->backBuffer[static_cast<size_t>(y) * 1280 + x] & 0xFF) > 0x80;
    return n;
  };
  auto step = [&](uint32_t ms) {
    plat::AdvanceVirtualClock(ms);
    KivUpdateTime();
    KivTaskReProcess(W().captionTask);
    ASSERT_EQ(KivRenderFrame(), 1);
  };
  // 184 reveal units (5 characters + 64) at speed 50: (184 / 24) x 50 = 350 ms
  // of reveal, then 350 + 500 ms standing.
  step(16);
  const int start = lit();
  step(100);
  const int mid = lit();
  step(200);
  const int whole = lit();
  EXPECT_LT(start, mid);
  EXPECT_LT(mid, whole);
  step(500);
  EXPECT_EQ(lit(), whole) << "it stands";
  step(900);
  step(16);
  EXPECT_LT(lit(), whole) << "and reveals again";
  m->Run();
  ctx->script.pc = 0;
  text_reveal_task_free(ctx);
  EXPECT_EQ(W().captionTask, nullptr);
  ASSERT_EQ(KivRenderFrame(), 1);
  EXPECT_EQ(lit(), 0);
}

}  // namespace

namespace {

class MessageWindowGoldenTest : public MessageWindowTest {
 protected:
  // Compares the drawn frame with a reviewed golden picture
  // (KIV_UPDATE_GOLDEN=1 writes it anew).
  void ExpectGolden(const std::string& name) {
    expect_golden_frame(name, g_kiv->soft->backBuffer);
  }
  static constexpr const char* kWindow =
      ".file \"UNUSED\"\n"
      "start:\n"
      "    call text_init 28, 220, 580, 840, 110, 220, 544, 12\n"
      "    call text_set_base file\"#C8101828\", 0, 530, 0\n"
      "    call text_set_rect 0, 1280, 190, 0, 0\n"
      "    call text_set_icon 0, file\"#FFFFE080\", 0, 0\n"
      "    call text_set_rect 1, 14, 14, 0, 0\n"
      "    call text_set_icon_mode 1\n"
      "    call text_set_color 0, \"葵\", 0xFFC0D8, 0x401828\n"
      "    call _text_show 0\n";
};

// A line revealing as the player sees it: a quarter in, three quarters in,
// and standing whole with its click-wait icon after the text.
TEST_F(MessageWindowGoldenTest, ALineRevealsFrameByFrame) {
  Start(std::string(kWindow) +
        "    call text none, \"葵\", \"ねえ、ベン。今日の空、<rいつも>普段</r>より青いと思わない？\", 0\n"
        "    end\n");
  Frame();
  const uint32_t length = W().phaseLength;
  ASSERT_GT(length, 800u);
  Frame(length / 4 - 16);
  ExpectGolden("text_reveal_quarter.png");
  Frame(length / 2);
  ExpectGolden("text_reveal_three_quarters.png");
  Frame(length / 4 + 32);
  EXPECT_EQ(W().stateFlags, kTextKindPlain | kTextWaiting);
  ExpectGolden("text_reveal_whole.png");
}

// The novel page: three lines stacked into one screen, names on their own
// lines, the icon after the last text.
TEST_F(MessageWindowGoldenTest, TheNovelPageStacksTheLines) {
  Start(std::string(kWindow) +
        "    call text_init_visualnovelmode 160, 60, 960, 600\n"
        "    call set_text_mode 1\n"
        "    call text_a none, \"葵\", \"ねえ、ベン。夜になったら、星を見に行こうよ。\"\n"
        "    call text_a none, \"ベン\", \"いいよ。約束だ。\"\n"
        "    call text_a none, none, \"二人は顔を見合わせて笑った。\"\n"
        "    end\n");
  for (int i = 0; i < 2; ++i) {
    Frame();
    Frame();
    Click();
  }
  Frame();
  Frame();
  EXPECT_EQ(W().stateFlags, kTextKindAtOnce | kTextWaiting);
  ExpectGolden("text_novel_page.png");
}

}  // namespace

namespace {


// The demo game's story, played as a player would from its title: every
// line shows in the window, clicks move it on, the auto-mode lines go on by themselves (once
// auto mode can be set), and the stage goes on after the last line.
TEST_F(MessageWindowTest, TheDemoGameTellsItsStory) {
  // main.kas with every file it includes put in place.
  const std::string source = demo_script_source(std::string(DEMO_SOURCE_DIR) + "/..");
  ASSERT_EQ(KivSystemPathSet((std::string(DEMO_GAME_DIR) + "/data").c_str()), 1);
  Start(source, 25001);
  const char* lines[] = {"text  ねえ、ベン。", "text  そうかな。", "text_w  風が二人のあいだ", "text_a  夜になったら",
                         "text  いいよ。約束だ。", "text  ほんとに？", "text_n  ……その約束が"};
  int shown = 0;
  for (int frame = 0; frame < 3000 && shown < 7; ++frame) {
    // The player takes the name offered first (the field is made on the
    // window's thread, which is this one).
    for (plat::Msg msg; plat::PeekMessage(&msg, true);) plat::DispatchMessage(msg);
    if (ctx->playerName.state == 1 && ctx->playerName.button && ctx->playerName.field)
      KivButtonSetReaction(ctx->playerName.button, ctx->playerName.sprites[2]);
    // On the title the player takes "はじめから" (button 0 of group 6); its
    // click is reported once the click sound, mixed as the clock moves, ends.
    KivSoundSync();
    if (const ButtonGroup& title = ctx->buttons.groups[6]; title.initialised && title.entries[0].record)
      KivButtonSetReaction(title.engine, title.entries[0].record->sprite);
    if (ctx->choice.active) {
      // The story's choice: Down selects the first, Space takes it.
      plat::HeadlessSetKey(plat::vk::kDown, true);
      Frame();
      plat::HeadlessSetKey(plat::vk::kDown, false);
      Frame();
      Click();
    } else if (W().stateFlags & kTextWaiting) {
      Click();
    } else {
      Frame();
    }
    if (log.HasAny(lines[shown])) ++shown;
  }
  EXPECT_EQ(shown, 7) << log.All();
  EXPECT_TRUE(log.HasAny("text  きっと朝の風が")) << "the first choice's own line";
  for (int frame = 0; frame < 300 && W().initialised; ++frame) Frame();
  EXPECT_EQ(W().initialised, 0u) << "the story ends and the stage goes on";
  int read = 0;
  for (uint32_t i = 0; i < 25001; ++i) read += __builtin_popcount(flags[i]);
  // The seven story lines, the line of the choice taken, and the three of
  // the name entry before them (the question, the greeting, the wsprint line).
  EXPECT_EQ(read, 11) << "the eleven lines are read";
}

}  // namespace

namespace {

// The pending-input word: a click with no line to take it stays noted for
// the waits until a run of the display queue (or input_clear) clears it; a
// click that moves a line on is used up.
TEST_F(MessageWindowTest, APendingClickIsNotedUntilCleared) {
  Start(std::string("start:\n") + kInit +
        "    call _text_show 0\n"
        "    call text_a none, none, \"行。\"\n"
        "    end\n");
  Frame();
  EXPECT_EQ(W().stateFlags, kTextKindAtOnce | kTextWaiting);
  EXPECT_EQ(text_input_pending(ctx), 0u);
  Click();
  EXPECT_EQ(W().stateFlags, 0u);
  EXPECT_EQ(text_input_pending(ctx), 0u) << "the line used the click";
  Frame();
  Click();
  EXPECT_EQ(text_input_pending(ctx), 1u) << "no line: the click waits for someone to read it";
  display_queue_apply(ctx);
  EXPECT_EQ(text_input_pending(ctx), 0u);
}

}  // namespace

namespace {

// text_cat after text: the earlier part stays shown while the appended part
// reveals after it; set_history gives the entry text_cat continues.
TEST_F(MessageWindowTest, AppendedTextRevealsAfterTheFirstPartWithoutHidingIt) {
  Start(std::string("start:\n") + kInit +
        "    call _text_show 0\n"
        "    call text none, \"葵\", \"星がひとつ、\", 0\n"
        "    call text_cat 0, \"葵\", \"またひとつ流れていった。\", 0\n"
        "    end\n");
  Frame();
  Click();  // the first part stands whole
  const int first = LitPixels();
  ASSERT_GT(first, 100);
  Frame();
  Click();  // and goes on
  Frame();
  ASSERT_EQ(W().stateFlags, kTextKindPlain | kTextRevealing) << "the appended part reveals";
  EXPECT_GE(LitPixels(), first * 95 / 100) << "the first part stays shown";
  for (int i = 0; i < 200 && (W().stateFlags & kTextRevealing); ++i) Frame();
  EXPECT_GT(LitPixels(), first * 2) << "the appended part shows after it";
  EXPECT_STREQ(W().text, Sj("星がひとつ、またひとつ流れていった。").c_str());
  EXPECT_EQ(g_seen.history, 1) << "text_cat enters no backlog line";
}

}  // namespace

namespace {

// set_history enters a backlog line without showing one (snapshot taken at
// the call); text_redraw draws the current line again whole, entering
// nothing.
TEST_F(MessageWindowTest, SetHistoryAndRedraw) {
  Start(std::string("start:\n") + kInit +
        "    call text_set_color 3, \"葵\", 0xFFC0D8, 0x401828\n"
        "    call _text_show 0\n"
        "    call set_history \"v001\", \"葵\", \"記録だけの行。\"\n"
        "    call text none, \"葵\", \"描き直す行。\", 0\n"
        "    call text_redraw\n"
        "    end\n");
  Frame();
  EXPECT_EQ(g_seen.history, 2);
  EXPECT_EQ(g_seen.snapshots, 2);
  EXPECT_EQ(g_seen.lastText, Sj("描き直す行。"));
  EXPECT_STREQ(W().voice, "") << "the shown line has no voice";
  EXPECT_EQ(W().colours.text, 0xFFFFFF) << "colours come back after the line";
  Click();
  Frame();
  Click();
  Frame();
  EXPECT_EQ(ctx->script.pc, ctx->script.codeSize) << "text_redraw ran";
  EXPECT_EQ(W().phaseLength, 0u);
  EXPECT_EQ(g_seen.history, 2) << "redraw enters nothing";
  EXPECT_EQ(W().noHistory, 0u);
  EXPECT_GT(LitPixels(), 100) << "the line stands whole again";
}

}  // namespace

namespace {

// The script runs inside a task of the engine, as in the game, so that the
// animations it makes are that task's children and run with it. One walk: the
// children (the icon's animation) step, then the queued action or a game frame.
struct ScriptHost {
  VmContext* ctx = nullptr;
  std::function<void()> action;
};
int ScriptHostProc(void* data) {
  ScriptHost* h = *static_cast<ScriptHost**>(data);
  if (h->action) {
    std::function<void()> once = std::move(h->action);
    h->action = nullptr;
    once();
  } else {
    KivRenderLock();
    game_task_frame(h->ctx);
    KivRenderUnlock();
  }
  return 1;
}

// The click-wait icon is a strip of cells stepped by an animation: its cell
// advances on the clock, a new click wait starts it from the first cell, and
// its time per cell is what the save block keeps and gives back.
TEST_F(MessageWindowTest, TheClickWaitIconStepsThroughItsCellsAndKeepsItsTime) {
  Start(std::string(".file \"UNUSED\"\nstart:\n") + kInit +
        "    call text_set_icon 0, file\"#FFFFFFFF\", 1200, 680\n"
        "    call text_set_rect 1, 16, 16, 16, 16\n"
        "    call text_set_icon_animation_time 0, 50\n"
        "    call text none, none, \"クリック待ち。\", 0\n"
        "    end\n");
  ScriptHost host{ctx, nullptr};
  ScriptHost* hostPtr = &host;
  void* data = nullptr;
  KivTask* task = KivTaskCreate(ScriptHostProc, nullptr, sizeof hostPtr, &data, KIV_TASK_BEHIND, nullptr, "ScriptHost");
  ASSERT_NE(task, nullptr);
  std::memcpy(data, &hostPtr, sizeof hostPtr);
  // One frame: the clock moves, then the host task and its children run.
  auto step = [&](uint32_t ms, std::function<void()> action = nullptr) {
    host.action = std::move(action);
    plat::AdvanceVirtualClock(ms);
    KivUpdateTime();
    KivInputUpdate();
    KivTaskReProcess(task);
    ASSERT_EQ(KivRenderFrame(), 1);
  };
  step(16, [&] { m->Run(); });
  const TextIcon& icon = W().icons[0];
  ASSERT_NE(icon.record, nullptr);
  ASSERT_NE(icon.animation, nullptr);
  EXPECT_EQ(KivAnimationGetTime(icon.animation), 50);
  KivSprite* s = icon.record->sprite;
  auto cell = [&] {
    KivRect r{};
    KivSpriteGetRect(s, &r);
    return r.left / 16;
  };
  for (int i = 0; i < 400 && !(W().stateFlags & kTextWaiting); ++i) step(16);
  ASSERT_TRUE(W().stateFlags & kTextWaiting);
  EXPECT_EQ(KivSpriteViewIs(s), 1) << "the click-wait icon is shown";
  EXPECT_EQ(cell(), 0) << "a click wait starts from the first cell";
  // 50 ms a cell, counted from the frame that selected the cell.
  struct {
    uint32_t ms;
    int cell;
  } const kSteps[] = {{16, 0}, {30, 0}, {10, 1}, {49, 1}, {1, 2}, {50, 3}};
  for (const auto& k : kSteps) {
    step(k.ms);
    EXPECT_EQ(cell(), k.cell) << "after " << k.ms << " ms";
  }

  // The time per cell goes into the save block and comes back with it (the
  // line has ended, so the icon is saved hidden, as it comes back).
  step(16, [&] { text_wait_end(ctx); });
  EXPECT_EQ(KivSpriteViewIs(s), 0);
  ASSERT_EQ(KivAnimationSetTime(icon.animation, 80), 1);
  std::vector<uint8_t> buf(0x10000);
  uint32_t used = 0;
  ASSERT_TRUE(text_save(ctx, buf, &used));
  bool restored = false;
  step(16, [&] {
    text_release(ctx);
    EXPECT_EQ(W().icons[0].animation, nullptr);
    uint32_t cursor = 0;
    restored = text_restore(ctx, std::span<const uint8_t>(buf).first(used), &cursor);
  });
  ASSERT_TRUE(restored);
  ASSERT_NE(W().icons[0].animation, nullptr);
  EXPECT_EQ(KivAnimationGetTime(W().icons[0].animation), 80);
  std::vector<uint8_t> again(0x10000);
  uint32_t used2 = 0;
  ASSERT_TRUE(text_save(ctx, again, &used2));
  ASSERT_EQ(used2, used);
  EXPECT_EQ(std::mismatch(buf.begin(), buf.begin() + used, again.begin()).first - buf.begin(), used)
      << "the same bytes";

  // The restored icon steps at its restored time once a click wait shows it.
  s = W().icons[0].record->sprite;
  step(16, [&] { text_wait_begin(ctx); });
  EXPECT_EQ(KivSpriteViewIs(s), 1);
  EXPECT_EQ(cell(), 0);
  step(79);
  EXPECT_EQ(cell(), 0);
  step(1);
  EXPECT_EQ(cell(), 1);
  text_wait_end(ctx);
  KivTaskFree(task);
  KivTaskReProcess(task);
}

}  // namespace
