// Script buttons and system buttons frame by frame: assembled scripts on the
// headless engine, the virtual clock, the injected mouse and keys. Routines
// write their name into a trace through a test command, so each table row
// checks which routines ran in that frame and in what order. Also: refused
// indexes, the slider, toggles, the save block round trip and damaged blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "button/buttons.h"
#include "component_entries.h"
#include "core/system_state.h"
#include "render/soft_screen.h"
#include "image_encoder.h"
#include "layers/display_queue.h"
#include "platform/core/clock.h"
#include "platform/input/input.h"
#include "save/save.h"
#include "sound/sound_shared.h"
#include "start/game_task.h"
#include "support/golden_frame.h"
#include "support/demo_script.h"
#include "support/engine_fixture.h"
#include "support/game_frames.h"
#include "support/vm_harness.h"
#include "system/system_commands.h"
#include "text/message_window.h"
#include "ui/button_sound.h"

using kivtest::EngineTest;
using kivtools::Image;

namespace {

std::string* g_trace = nullptr;

// trace n: appends the routine's name (the script's number n) to the trace.
int Trace(VmContext* ctx) {
  static const char* const kNames[] = {"?", "Aon", "Aoff", "Aclick", "Bon", "Boff", "Bclick", "sys", "script"};
  const int32_t n = value_stack_pop(ctx);
  if (g_trace) {
    if (!g_trace->empty()) *g_trace += ' ';
    *g_trace += (n >= 0 && n < 9) ? kNames[n] : std::to_string(n);
  }
  return 1;
}

int WaitFrame(VmContext* ctx) {
  command_yield(ctx);
  return 1;
}

// A 100 x 240 sheet of six 40-pixel cell rows, each its own colour: rows
// 0-2 the idle, hover and pressed cells of state 0, rows 3-5 of state 1.
constexpr uint32_t kRowColour[6] = {0x802020, 0x20A020, 0x2020C0, 0xC0C020, 0x20C0C0, 0xC020C0};
Image Sheet() {
  Image img{100, 240, std::vector<uint32_t>(100 * 240)};
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 100; ++x) img.pixels[static_cast<size_t>(y) * 100 + x] = 0xFF000000u | kRowColour[y / 40];
  return img;
}

// Sounds for the engine's button groups: "CLICK" plays 200 ms, "HOVER"
// 300 ms, on the frame clock; "BROKEN" does not load.
struct Sounds {
  std::vector<std::pair<KivSoundId, uint32_t>> until;
  std::vector<KivSoundId> released;
  int next = 0;
  int live = 0;
};
Sounds* g_sounds = nullptr;
SoundCalls g_calls;

KivSoundId GameLoad(const char* file, int type, const int*) {
  EXPECT_EQ(type, 4);
  const std::string f = file;
  uint32_t ms = f == "CLICK.ogg" ? 200 : f == "HOVER.ogg" ? 300 : 0;
  if (f == "MENU_HOVER.wav") ms = 60;
  if (f == "MENU_CLICK.wav") ms = 120;
  if (!ms) return 0;
  ++g_sounds->live;
  const KivSoundId id = 0x40000000 | (ms << 8) | ++g_sounds->next;
  return id;
}
int GameRelease(KivSoundId id) {
  g_sounds->released.push_back(id);
  --g_sounds->live;
  return 1;
}
KivSoundId EngineLoad(const char*, int) { return 0; }
KivSoundId EngineCopy(KivSoundId, int) { return 0; }
int EnginePlay(KivSoundId id) {
  g_sounds->until.emplace_back(id, KivtimeGetTime() + ((id >> 8) & 0xFFFFF));
  return 1;
}
int EnginePlaying(KivSoundId id) {
  for (auto& [sid, until] : g_sounds->until)
    if (sid == id && KivtimeGetTime() < until) return 1;
  return 0;
}
int EngineRelease(KivSoundId id) {
  if (id) GameRelease(id);
  return 1;
}
const KivButtonSoundCalls kEngineSounds{EngineLoad, EngineCopy, EnginePlay, EnginePlaying, EngineRelease};

// The common part of every script: two buttons A (100, 100) and B (300,
// 100), a button C (500, 100) without routines, shown by run; the script
// then idles a frame at a time. The events' routines trace their names.
constexpr const char* kButtons = R"(
.file "UNUSED"
start:
    call btn_init 0, 0x0FFFFFFF, 0x0FFFFFFF
    call btn_set 0, 0, file"BTN", @a_click, @a_on, @a_off, 0
    call btn_set_pos 0, 0, 100, 100
    call btn_set 0, 1, file"BTN", @b_click, @b_on, @b_off, 0
    call btn_set_pos 0, 1, 300, 100
    call btn_set 0, 2, file"BTN", 0, 0, 0, 0
    call btn_set_pos 0, 2, 500, 100
    call run 0, 0, 0
idle:
    call wait_frame
    jmp @idle
a_on:
    call debug_print 1
    ret
a_off:
    call debug_print 2
    ret
a_click:
    call debug_print 3
    ret
b_on:
    call debug_print 4
    ret
b_off:
    call debug_print 5
    ret
b_click:
    call debug_print 6
    ret
sys:
    call debug_print 7
    ret
lock500:
    call btn_lock 0, 500
    jmp @idle
lock0:
    call btn_lock 0, 0
    jmp @idle
unlock:
    call btn_unlock 0
    jmp @idle
)";

class ButtonGameTest : public EngineTest {
 public:
  void SetUp() override {
    EngineTest::SetUp();
    params.clientWidth = params.screenWidth = 1280;
    params.clientHeight = params.screenHeight = 720;
    char tmpl[] = "/tmp/kivbuttonsXXXXXX";
    dir = mkdtemp(tmpl);
    kivtools::GeOptions o;
    o.method = 1;
    o.cellHeight = 40;
    ASSERT_TRUE(kivtools::WriteFileBytes(dir + "/BTN.PGD", kivtools::EncodeGe(Sheet(), o)));
    g_trace = &trace;
    g_sounds = &sounds;
    g_calls = sound_calls();
    g_calls.load = GameLoad;
    g_calls.release = GameRelease;
    sound_calls_set(&g_calls);
    KivButtonSoundUse(&kEngineSounds);
  }
  void TearDown() override {
    m.reset();
    if (list) {
      KivRenderSetActive(nullptr);
      KivRenderUninit(list);
      list = nullptr;
    }
    KivButtonSoundUse(nullptr);
    sound_calls_set(nullptr);
    g_trace = nullptr;
    g_sounds = nullptr;
    EngineTest::TearDown();
    ASSERT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
  }

  void Start(const std::string& script, const std::string& data = "") {
    if (!g_kiv) {
      ASSERT_EQ(KivInit(&params), 1);
      ASSERT_EQ(KivSystemPathSet(data.empty() ? dir.c_str() : data.c_str()), 1);
      plat::HeadlessInputReset();
      g_kiv->active = 1;
      g_kiv->minimised = 0;
      origin = g_kiv->window->backend()->ClientRectOnScreen();
    }
    if (!list) {
      list = KivRenderInit();
      KivRenderSetActive(list);
    }
    kivtest::StartScript(m, ctx, list, script);
  }
  // One frame with the mouse at (x, y), the left button up or down: the
  // clock moves on by ms, the input is sampled, then the game's frame and
  // the render pass.
  void Frame(int x, int y, bool down, uint32_t ms = 16, int key = 0) {
    plat::AdvanceVirtualClock(ms);
    KivUpdateTime();
    plat::HeadlessSetCursor(origin.left + x, origin.top + y);
    plat::HeadlessSetKey(plat::vk::kLButton, down);
    if (key) plat::HeadlessSetKey(key, true);
    KivInputUpdate();
    if (x == -1) {
      g_kiv->input.mouseX.store(-1);
      g_kiv->input.mouseY.store(-1);
    }
    g_kiv->input.wheel.store(wheel);
    KivRenderLock();
    game_task_frame(ctx);
    KivRenderUnlock();
    ASSERT_EQ(KivRenderFrame(), 1);
  }
  // The set-up frame, then the pause of its run goes by.
  void Settle() {
    Frame(0, 0, false);
    Frame(0, 0, false, 200);
    Take();
  }
  void RunFrom(const char* label) { ctx->script.pc = m->Pc(label); }
  std::string Take() {
    std::string t = trace;
    trace.clear();
    return t;
  }
  ButtonGroup& G(int g = 0) { return ctx->buttons.groups[g]; }
  uint32_t At(int x, int y) const { return g_kiv->soft->backBuffer[static_cast<size_t>(y) * 1280 + x] & 0xFFFFFFu; }

  // Compares the drawn frame with a reviewed golden picture
  // (KIV_UPDATE_GOLDEN=1 writes it anew).
  void ExpectGolden(const char* name) {
    expect_golden_frame(name, g_kiv->soft->backBuffer);
  }

  vmtest::ScopedBinding wait{"wait_frame", WaitFrame};
  vmtest::ScopedBinding print{"debug_print", Trace};
  vmtest::LogCapture log;
  std::string trace;
  Sounds sounds;
  std::string dir;
  std::unique_ptr<vmtest::Machine> m;
  VmContext* ctx = nullptr;
  KivRenderList* list = nullptr;
  plat::Rect origin{};
  int wheel = 0;
};

struct Row {
  const char* what;
  uint32_t ms;
  int x, y;
  bool down;
  const char* from;  // a label the script jumps to first, or null
  const char* trace;
};

bool Near(uint32_t got, uint32_t want) {
  for (int c = 0; c < 24; c += 8)
    if (std::abs(static_cast<int>((got >> c) & 0xFF) - static_cast<int>((want >> c) & 0xFF)) > 3) return false;
  return true;
}

void RunRows(ButtonGameTest* t, const std::vector<Row>& rows, const std::function<void(const Row&)>& each = {}) {
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    if (r.from) t->RunFrom(r.from);
    t->Frame(r.x, r.y, r.down, r.ms);
    EXPECT_EQ(t->Take(), r.trace);
    if (each) each(r);
  }
}

// ---------------------------------------------------------------- events

TEST_F(ButtonGameTest, EventOrderTable) {
  Start(kButtons);
  Settle();
  const std::vector<Row> rows = {
      {"nothing under the mouse", 16, 20, 20, false, nullptr, ""},
      {"onto A: its on routine", 16, 120, 110, false, nullptr, "Aon"},
      {"within the 50 ms pause nothing is taken", 16, 320, 110, false, nullptr, ""},
      {"A to B: A's off now", 50, 320, 110, false, nullptr, "Aoff"},
      {"B's on on a later frame", 50, 320, 110, false, nullptr, "Bon"},
      {"press on B: pending until reported", 50, 320, 110, true, nullptr, ""},
      {"click reported: off, then click", 16, 320, 110, false, nullptr, "Boff Bclick"},
      {"within the 100 ms pause nothing", 50, 320, 110, false, nullptr, ""},
      {"after it B is hovered afresh", 60, 320, 110, false, nullptr, "Bon"},
      {"off B into the open", 60, 20, 20, false, nullptr, "Boff"},
      {"onto C without routines: nothing", 60, 520, 110, false, nullptr, ""},
      {"press C", 60, 520, 110, true, nullptr, ""},
      {"C's click enters nothing", 16, 520, 110, false, nullptr, ""},
  };
  RunRows(this, rows);
  EXPECT_EQ(G().lastClicked, 2);
  EXPECT_EQ(G().lastOn, 1);
  EXPECT_EQ(G().lastOff, 1);
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "click btn[0][1]")) << log.All();
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "on btn[0][0]"));
  EXPECT_FALSE(log.HasAny("内部エラー")) << log.All();
}

TEST_F(ButtonGameTest, LocksAndSkipMode) {
  Start(kButtons);
  Settle();
  const std::vector<Row> rows = {
      {"lock for 500 ms", 16, 20, 20, false, "lock500", ""},
      {"A ignored while locked", 100, 120, 110, false, nullptr, ""},
      {"still locked at 416 ms", 300, 120, 110, false, nullptr, ""},
      {"the lock ends this frame, still skipped", 100, 120, 110, false, nullptr, ""},
      {"then A reacts", 16, 120, 110, false, nullptr, "Aon"},
      {"lock 0", 60, 120, 110, false, "lock0", ""},
      {"locked however long", 5000, 20, 20, false, nullptr, ""},
      {"unlock", 16, 20, 20, false, "unlock", ""},
      {"off A now that it left", 16, 20, 20, false, nullptr, "Aoff"},
  };
  RunRows(this, rows);
  // Skip mode: no pause after an event, so A's off and B's on follow in
  // consecutive frames.
  ctx->skipMode = 1;
  const std::vector<Row> skip = {
      {"skip: onto A", 60, 120, 110, false, nullptr, "Aon"},
      {"skip: at once A's off", 16, 320, 110, false, nullptr, "Aoff"},
      {"skip: and B's on", 16, 320, 110, false, nullptr, "Bon"},
  };
  RunRows(this, skip);
  EXPECT_EQ(ctx->pauseTimer.duration, 0u);
}

TEST_F(ButtonGameTest, ClickWaitsForItsSoundAndHoldsTheMessageWindow) {
  std::string script = kButtons;
  const std::string init = "call btn_init 0, 0x0FFFFFFF, 0x0FFFFFFF";
  script.replace(script.find(init), init.size(), "call btn_init 0, file\"HOVER\", file\"CLICK\"");
  Start(script);
  Settle();
  ASSERT_NE(G().engine, nullptr);
  EXPECT_NE(G().hoverSound, 0u);
  Frame(120, 110, false, 60);
  EXPECT_EQ(Take(), "Aon");
  // The press: the click sound plays 200 ms; until it ends the press is
  // pending, the poll reports activity and the message window's pending
  // input is taken.
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    ctx->text.pendingInput = 1;
    Frame(120, 110, i == 0, 60);
    EXPECT_EQ(Take(), "");
    EXPECT_EQ(ctx->text.pendingInput, 0u);
  }
  Frame(120, 110, false, 60);
  EXPECT_EQ(Take(), "Aoff Aclick");
  EXPECT_EQ(G().lastClicked, 0);
  // Both routines returned; the script idles on.
  Frame(20, 20, false, 200);
  EXPECT_EQ(Take(), "");
}

// ---------------------------------------------------------------- system buttons

TEST_F(ButtonGameTest, SystemButtonTriggers) {
  struct Case {
    int index;
    int key;    // virtual key held, 0 none
    int wheel;  // -1, +1
    bool left;
  };
  const std::vector<Case> cases = {
      {0, plat::vk::kRButton, 0, false}, {1, 0, -1, false},           {2, 0, 1, false},
      {3, 0, 0, true},                   {4, plat::vk::kF1, 0, false}, {15, plat::vk::kF1 + 11, 0, false},
      {16, plat::vk::kEscape, 0, false}, {17, plat::vk::kUp, 0, false}, {18, plat::vk::kDown, 0, false}, {19, plat::vk::kLeft, 0, false},
      {20, plat::vk::kRight, 0, false},
      {21, 0, 0, false},
  };
  std::string script = kButtons;
  script += "\nsetsys:\n    call system_btn_release 65535\n    call system_btn_set r0, @sys, 0\n    jmp @idle\n";
  Start(script);
  Settle();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    m->Reg(0) = c.index;
    RunFrom("setsys");
    Frame(700, 600, false, 100);  // set during this frame's run, after the poll
    EXPECT_EQ(Take(), "");
    // Buttons 21-31 fire on every poll.
    Frame(700, 600, false, 100);
    EXPECT_EQ(Take(), c.index >= 21 ? "sys" : "");
    wheel = c.wheel;
    Frame(700, 600, c.left, 100, c.key);
    wheel = 0;
    if (c.key) plat::HeadlessSetKey(c.key, false);
    EXPECT_EQ(Take(), "sys");
    Frame(700, 600, false, 100);
    EXPECT_EQ(Take(), c.index >= 21 ? "sys" : "");
  }
}

TEST_F(ButtonGameTest, SystemButtonRepeatAndRoutineless) {
  std::string script = kButtons;
  script += R"(
rep0:
    call system_btn_release 65535
    call system_btn_set 4, @sys, 0
    jmp @idle
rep1:
    call system_btn_set 4, @sys, 1
    jmp @idle
none:
    call system_btn_set 0, 0, 0
    call system_btn_set 22, @sys, 0
    jmp @idle
)";
  Start(script);
  Settle();
  auto hold = [&](const char* from) {
    if (from) RunFrom(from);
    Frame(700, 600, false, 100);
    Take();
    std::string seen;
    // F1 held for 1.5 s: the push fires, then the auto-repeat only with the mask.
    for (int i = 0; i < 15; ++i) {
      Frame(700, 600, false, 100, plat::vk::kF1);
      seen += Take().empty() ? '.' : 'x';
    }
    plat::HeadlessSetKey(plat::vk::kF1, false);
    return seen;
  };
  const std::string once = hold("rep0");
  EXPECT_EQ(once.substr(0, 1), "x");
  EXPECT_EQ(once.find('x', 1), std::string::npos) << once;
  const std::string repeating = hold("rep1");
  EXPECT_EQ(repeating.substr(0, 1), "x");
  EXPECT_NE(repeating.find('x', 6), std::string::npos) << repeating;
  // System button 0 without a routine ends the poll: 22 never fires while
  // the right button is pressed, and fires on the other frames.
  RunFrom("none");
  Frame(700, 600, false, 100);
  Take();
  Frame(700, 600, false, 100, plat::vk::kRButton);
  plat::HeadlessSetKey(plat::vk::kRButton, false);
  EXPECT_EQ(Take(), "");
  Frame(700, 600, false, 100);
  EXPECT_EQ(Take(), "sys");
}

// ---------------------------------------------------------------- refusals

TEST_F(ButtonGameTest, OutOfRangeIsRefusedAndTouchesNothing) {
  struct Case {
    const char* call;
    const char* logged;
  };
  const std::vector<Case> cases = {
      {"btn_set 8, 0, file\"BTN\", 0, 0, 0, 0", "btn group over error : 8"},
      {"btn_set -1, 0, file\"BTN\", 0, 0, 0, 0", "out of range: -1"},
      {"btn_set 0, 128, file\"BTN\", 0, 0, 0, 0", "btn count over error : 128"},
      {"btn_set 0, -2, file\"BTN\", 0, 0, 0, 0", "out of range: -2"},
      {"btn_release 8, 0", "btn group over error : 8"},
      {"btn_release 0, -2", "out of range: -2"},
      {"btn_init 8, 0, 0", "out of range: 8"},
      {"btn_uninit -1", "out of range: -1"},
      {"btn_hide 0, 128", "out of range: 128"},
      {"btn_set_pos 0, 128, 1, 1", "out of range: 128"},
      {"btn_drag 0, -2, 100, 0, 0", "out of range: -2"},
      {"btn_enable 0, -2, 0", "out of range: -2"},
      {"btn_get_pos 0, 0, 1024, 0", "out of range: 1024"},
      {"btn_get_pos 0, 0, 0, -2", "out of range: -2"},
      {"btn_lock 8, 10", "out of range: 8"},
      {"btn_get_push -1", "out of range: -1"},
      {"btn_set_toggle 0, 128, 1", "out of range: 128"},
      {"btn_expansion 0, 5, 9", "error : btn_expansion"},
      {"system_btn_set 32, 0, 0", "out of range: 32"},
      {"system_btn_release 32", "out of range: 32"},
      {"system_btn_enable -1, 1", "out of range: -1"},
  };
  std::string script = kButtons;
  for (size_t i = 0; i < cases.size(); ++i)
    script += "\nref" + std::to_string(i) + ":\n    call " + cases[i].call + "\n    jmp @idle\n";
  Start(script);
  Settle();
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.call);
    const std::vector<uint8_t> before(reinterpret_cast<uint8_t*>(&ctx->buttons),
                                      reinterpret_cast<uint8_t*>(&ctx->buttons) + sizeof ctx->buttons);
    const std::vector<int32_t> memory(ctx->userMemory, ctx->userMemory + kUserMemoryWords);
    log.lines.clear();
    RunFrom(("ref" + std::to_string(i)).c_str());
    Frame(20, 20, false, 60);
    EXPECT_TRUE(log.HasAny(c.logged)) << log.All();
    EXPECT_TRUE(log.HasAny("内部エラー")) << log.All();
    EXPECT_EQ(std::memcmp(before.data(), &ctx->buttons, sizeof ctx->buttons), 0);
    EXPECT_EQ(std::vector<int32_t>(ctx->userMemory, ctx->userMemory + kUserMemoryWords), memory);
  }
}

// ---------------------------------------------------------------- slider and toggles

TEST_F(ButtonGameTest, SliderTable) {
  std::string script = kButtons;
  script += R"(
drag:
    call btn_drag 0, 0, r1, r2, r3 -> r4
    jmp @idle
setdrag:
    call btn_set_drag 0, 0, r1, r2, r3
    jmp @idle
)";
  Start(script);
  Settle();
  // Button A: stored x 100, y 100, cell 100 x 40 (half width 50, half height 20).
  struct Case {
    const char* what;
    int mx, my;
    int range, axis, snap;
    int result;
    int offsetX, offsetY;
  };
  const std::vector<Case> cases = {
      {"x inside", 250, 10, 200, 0, 0, 100, 100, 0},
      {"x clamped to the range", 900, 10, 200, 0, 0, 200, 200, 0},
      {"x below 0", 20, 10, 200, 0, 0, 0, 0, 0},
      {"y inside", 20, 183, 400, 1, 0, 63, 0, 63},
      {"y snapped down to a multiple of R / 100", 20, 183, 400, 1, 1, 63, 0, 60},
      {"y at R stays", 20, 700, 400, 1, 1, 400, 0, 400},
      {"y small range: steps of one", 20, 163, 50, 1, 1, 43, 0, 43},
      {"other axis: nothing", 250, 183, 400, 2, 0, -999, 0, 43},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    m->Reg(1) = c.range;
    m->Reg(2) = c.axis;
    m->Reg(3) = c.snap;
    m->Reg(4) = -999;
    RunFrom("drag");
    Frame(c.mx, c.my, false, 60);
    EXPECT_EQ(m->Reg(4), c.result);
    const SpriteRecord* r = G().entries[0].record;
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->t.bX, c.offsetX);
    EXPECT_EQ(r->t.bY, c.offsetY);
  }
  // The mouse outside the window: the stored offset comes back.
  m->Reg(1) = 400;
  m->Reg(2) = 1;
  m->Reg(3) = 0;
  RunFrom("drag");
  Frame(-1, -1, false, 60);  // no mouse
  EXPECT_EQ(m->Reg(4), 43);
  // btn_set_drag: percent of the range, computed wide and clamped.
  struct Set {
    int range, axis, percent, offsetX, offsetY;
  };
  for (const Set& s : std::vector<Set>{{200, 0, 50, 100, 43}, {400, 1, 25, 100, 100}, {2000000000, 0, 100, 2000000000, 100},
                                       {2000000000, 1, 200, 2000000000, INT32_MAX}}) {
    m->Reg(1) = s.range;
    m->Reg(2) = s.axis;
    m->Reg(3) = s.percent;
    RunFrom("setdrag");
    Frame(20, 20, false, 60);
    EXPECT_EQ(G().entries[0].record->t.bX, s.offsetX);
    EXPECT_EQ(G().entries[0].record->t.bY, s.offsetY);
  }
}

TEST_F(ButtonGameTest, DragBeginAndWait) {
  std::string script = kButtons;
  script += R"(
dragloop:
    call btn_drag_begin 0
again:
    call btn_drag_wait 0 -> r5
    add r6, 1
    jz @again, r5
    call debug_print 8
    jmp @idle
)";
  Start(script);
  Settle();
  m->Reg(6) = 0;
  RunFrom("dragloop");
  Frame(700, 600, true, 16);  // held: the latch stays 0, the wait yields
  EXPECT_EQ(Take(), "");
  EXPECT_EQ(G().dragLatch, 0);
  Frame(710, 600, true, 16);
  EXPECT_EQ(Take(), "");
  Frame(710, 600, false, 16);  // let go: -1, and the script goes on
  EXPECT_EQ(Take(), "script");
  EXPECT_EQ(m->Reg(5), -1);
  EXPECT_EQ(G().dragLatch, 1);
  // The wait did not go back onto its call: each frame ran it once.
  EXPECT_EQ(m->Reg(6), 3);
}

TEST_F(ButtonGameTest, ToggleRowsShowInTheFrame) {
  std::string script = kButtons;
  script += R"(
toggle:
    call btn_set_toggle 0, 0, r1
    call run 0, 0, 0
    jmp @idle
)";
  Start(script);
  Settle();
  struct Case {
    int state;
    int mx, my;
    uint32_t colour;
  };
  // State n shows rows 3n (idle) and 3n + 1 (hovered).
  for (const Case& c : std::vector<Case>{{1, 700, 600, kRowColour[3]}, {1, 120, 110, kRowColour[4]},
                                         {0, 700, 600, kRowColour[0]}, {1000000000, 700, 600, 0}}) {
    SCOPED_TRACE(c.state);
    m->Reg(1) = c.state;
    RunFrom("toggle");
    Frame(700, 600, false, 60);
    Frame(c.mx, c.my, false, 60);
    Frame(c.mx, c.my, false, 60);
    const uint32_t got = At(150, 120);
    if (c.colour) {
      EXPECT_TRUE(Near(got, c.colour)) << std::hex << got << " want " << c.colour;
    }
  }
}

// The message window's skip and auto buttons are the items btn_expansion
// names in the window's group: switching the mode moves their cell row.
TEST_F(ButtonGameTest, SkipAndAutoModeMoveTheWindowGroupsButtons) {
  std::string script = kButtons;
  script += R"(
expand:
    call btn_expansion 0, 0, 1
    call btn_expansion 0, 2, 2
    jmp @idle
)";
  Start(script);
  Settle();
  RunFrom("expand");
  Frame(700, 600, false, 60);
  EXPECT_EQ(btn_expansion_value(ctx, 0, 1), 0);  // the skip item
  EXPECT_EQ(btn_expansion_value(ctx, 0, 2), 2);  // the auto item
  EXPECT_EQ(btn_expansion_value(ctx, 0, 3), -1);
  EXPECT_EQ(btn_expansion_value(ctx, 0, 7), -1);
  EXPECT_EQ(btn_expansion_value(ctx, 5, 1), -1);  // not initialised
  ctx->text.buttonGroup = 0;
  system_words(ctx)[kSysSkipUnread] = 1;
  set_skip_mode(ctx, 1);
  set_auto_mode(ctx, 1);
  Frame(700, 600, false, 60);
  EXPECT_TRUE(Near(At(150, 120), kRowColour[3])) << std::hex << At(150, 120);
  EXPECT_TRUE(Near(At(550, 120), kRowColour[3])) << std::hex << At(550, 120);
  EXPECT_TRUE(Near(At(350, 120), kRowColour[0])) << std::hex << At(350, 120);
  set_auto_mode(ctx, 0);
  Frame(700, 600, false, 60);
  EXPECT_TRUE(Near(At(550, 120), kRowColour[0])) << std::hex << At(550, 120);
  // An item without a sprite, or a group never initialised, moves nothing.
  EXPECT_EQ(btn_item_set_row(ctx, 0, 9, 3), 0);
  EXPECT_EQ(btn_item_set_row(ctx, 5, 0, 3), 0);
}

// ---------------------------------------------------------------- save block

TEST_F(ButtonGameTest, SaveRoundTripIsByteIdentical) {
  std::string script = kButtons;
  script += R"(
more:
    call btn_init 3, file"HOVER", 0x0FFFFFFF
    call btn_set 3, 5, file"BTN", @a_click, 0, 0, 1
    call btn_set_pos 3, 5, 700, 300
    call btn_expansion 3, 77, 3
    call btn_init 5, 0x0FFFFFFF, 0x0FFFFFFF
    call btn_set 5, 0, file"BTN", 0, 0, 0, 0
    call run 0, 0, 0
    jmp @idle
)";
  Start(script);
  Settle();
  RunFrom("more");
  Frame(0, 0, false);
  Frame(0, 0, false, 200);  // the pause of its run
  Frame(120, 110, false, 60);  // A hovered
  ASSERT_EQ(Take(), "Aon");
  ASSERT_EQ(G().hovered, &G().entries[0]);
  // What the on routine would change on the sprite is not saved: the hover
  // snapshot is.
  KivSpriteSetPos(G().entries[0].record->sprite, 999, 999);

  std::vector<uint8_t> first(1 << 20);
  uint32_t used = 0;
  ASSERT_TRUE(btn_save(ctx, first, &used));
  first.resize(used);
  // Group 0: 4 + 8 + 16 + 3 entries x 152 + 125 x 4; group 3: the same with
  // one entry; groups 1, 2: a zero word each.
  const size_t group = 4 + 8 + 16 + 128 * 4;
  EXPECT_EQ(used, (group + 3 * 148) + 4 + 4 + (group + 148));

  uint32_t cursor = 0;
  ASSERT_TRUE(btn_restore(ctx, first, &cursor)) << log.All();
  EXPECT_EQ(cursor, used);
  EXPECT_FALSE(G(5).initialised);
  EXPECT_EQ(G(5).entries[0].record, nullptr);
  EXPECT_EQ(G(3).expansion[1], 77);
  EXPECT_EQ(G().hovered, nullptr);

  std::vector<uint8_t> second(1 << 20);
  uint32_t used2 = 0;
  ASSERT_TRUE(btn_save(ctx, second, &used2));
  second.resize(used2);
  EXPECT_EQ(first, second);
  // The restored buttons react: hovering A runs its on routine again.
  Frame(0, 0, false, 60);
  EXPECT_EQ(Take(), "");
  Frame(120, 110, false, 60);
  EXPECT_EQ(Take(), "Aon");
}

TEST_F(ButtonGameTest, DamagedBlocksAreRefusedAndTheGameKept) {
  Start(kButtons);
  Settle();
  std::vector<uint8_t> good(1 << 20);
  uint32_t used = 0;
  ASSERT_TRUE(btn_save(ctx, good, &used));
  good.resize(used);
  const size_t entry0 = 4 + 8 + 16;
  auto put = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  struct Damage {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> apply;
  };
  const std::vector<Damage> damages = {
      {"cut short", [](std::vector<uint8_t>& b) { b.erase(b.end() - 7, b.end()); }},
      {"image operand past File.dat", [&](std::vector<uint8_t>& b) { put(b, entry0, 0x0FFFFFF0); }},
      {"click routine past the code", [&](std::vector<uint8_t>& b) { put(b, entry0 + 8, 0x7FFFFFF0); }},
      {"sprite size", [&](std::vector<uint8_t>& b) { put(b, entry0 + 20 + 24, 0); }},
      {"initialised flag", [&](std::vector<uint8_t>& b) { put(b, 0, 7); }},
      {"sound operand", [&](std::vector<uint8_t>& b) { put(b, 4, 0x0FFFFFF0); }},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::vector<uint8_t> bad = good;
    d.apply(bad);
    uint32_t cursor = 0;
    EXPECT_FALSE(btn_restore(ctx, bad, &cursor));
    EXPECT_EQ(cursor, 0u);
  }
  // A block that does not fit is not written at all: nothing half-written
  // would misalign the blocks after it.
  std::vector<uint8_t> small(100);
  uint32_t smallUsed = 0;
  EXPECT_FALSE(btn_save(ctx, small, &smallUsed));
  EXPECT_EQ(smallUsed, 0u);
  EXPECT_TRUE(log.HasAny("save buffer over"));
  // A refusal in the checks leaves the game's buttons as they were.
  EXPECT_TRUE(G().initialised);
  EXPECT_NE(G().entries[1].record, nullptr);
  EXPECT_EQ(sounds.live, 0);
  // A sound that no longer loads is found only while rebuilding, after the
  // whole file was accepted: what was made goes again, the block counts as
  // read and the load goes on without the groups (logged).
  std::vector<uint8_t> bad = good;
  put(bad, 8, 1);
  uint32_t cursor = 0;
  EXPECT_FALSE(btn_restore(ctx, bad, &cursor));
  EXPECT_FALSE(G().initialised);
  EXPECT_EQ(G().entries[1].record, nullptr);
  EXPECT_EQ(sounds.live, 0);
}

TEST_F(ButtonGameTest, GroupWithoutSoundsLoadsAndResetReleasesEverything) {
  Start(std::string(kButtons) + "\nuninit6:\n    call btn_set 6, 3, file\"BTN\", 0, 0, 0, 0\n    jmp @idle\n");
  Settle();
  RunFrom("uninit6");
  Frame(0, 0, false);
  ASSERT_NE(G(6).entries[3].record, nullptr);
  EXPECT_EQ(G().hoverSound, 0u);  // none is recorded as 0
  std::vector<uint8_t> b(1 << 20);
  uint32_t used = 0;
  ASSERT_TRUE(btn_save(ctx, b, &used));
  b.resize(used);
  // An older save holding 0x0FFFFFFF for none loads as well.
  b[4] = 0xFF, b[5] = 0xFF, b[6] = 0xFF, b[7] = 0x0F;
  uint32_t cursor = 0;
  EXPECT_TRUE(btn_restore(ctx, b, &cursor)) << log.All();
  // A button set on a group that was never initialised goes with a reset.
  game_reset(ctx);
  for (int g = 0; g < kButtonGroupCount; ++g)
    for (const ButtonEntry& e : G(g).entries) EXPECT_EQ(e.record, nullptr);
}

TEST_F(ButtonGameTest, InitFailuresReleaseWhatTheyLoaded) {
  std::string script = kButtons;
  script += R"(
badclick:
    call btn_init 1, file"HOVER", file"BROKEN"
    jmp @idle
)";
  Start(script);
  Settle();
  RunFrom("badclick");
  Frame(0, 0, false);
  EXPECT_TRUE(log.Has(kDebugWindowError, "sound load error [BROKEN]")) << log.All();
  EXPECT_FALSE(G(1).initialised);
  EXPECT_EQ(sounds.live, 0);
  EXPECT_EQ(sounds.released.size(), 1u);
}

// The whole save through the game's own writer and checking loader: groups
// 0-3 come back, later groups are gone; a damaged button block refuses the
// load and the game keeps its buttons.
TEST_F(ButtonGameTest, WholeSaveBringsBackGroupsZeroToThree) {
  std::string script = kButtons;
  script += R"(
more5:
    call btn_init 5, 0x0FFFFFFF, 0x0FFFFFFF
    call btn_set 5, 0, file"BTN", 0, 0, 0, 0
    call run 0, 0, 0
    jmp @idle
drop:
    call btn_release 0, -1
    jmp @idle
)";
  Start(script);
  Settle();
  RunFrom("more5");
  Frame(0, 0, false);
  Frame(0, 0, false, 200);
  ASSERT_TRUE(G(5).initialised);
  std::vector<uint8_t> save(kSaveSnapshotBytes);
  uint32_t used = 0;
  ASSERT_TRUE(save_state_write(ctx, m->Pc("idle"), save, &used));
  save.resize(used);

  RunFrom("drop");
  Frame(0, 0, false);
  ASSERT_EQ(G().entries[0].record, nullptr);
  ASSERT_TRUE(save_state_load(ctx, save)) << log.All();
  EXPECT_TRUE(G().initialised);
  for (int i = 0; i < 3; ++i) EXPECT_NE(G().entries[i].record, nullptr) << i;
  EXPECT_FALSE(G(5).initialised);
  EXPECT_EQ(G(5).entries[0].record, nullptr);
  Frame(0, 0, false, 200);
  Take();
  Frame(120, 110, false, 60);
  EXPECT_EQ(Take(), "Aon") << "the buttons brought back react";

  // Group 0's block: initialised, no sounds, four -1 expansion values.
  std::vector<uint8_t> head = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  head.insert(head.end(), 16, 0xFF);
  const auto found = std::search(save.begin(), save.end(), head.begin(), head.end());
  ASSERT_NE(found, save.end());
  const size_t clickAt = static_cast<size_t>(found - save.begin()) + head.size() + 8;
  std::vector<uint8_t> bad = save;
  bad[clickAt + 3] = 0x7F;  // a click routine far past the code
  log.lines.clear();
  EXPECT_FALSE(save_state_load(ctx, bad));
  EXPECT_TRUE(log.HasAny("routine outside the code")) << log.All();
  EXPECT_TRUE(G().initialised);
  EXPECT_NE(G().entries[0].record, nullptr);
}

// ---------------------------------------------------------------- the demo's menu

// The demo game's pause menu (demo/menu.kas) over the day background, with
// the demo's own pictures: a right click opens it, the buttons light up
// under the mouse and when pressed, the music toggle changes its rows, the
// knob drags the figure along, Esc closes it.
TEST_F(ButtonGameTest, TheDemoMenu) {
  std::ifstream in(std::string(DEMO_SOURCE_DIR) + "/menu.kas");
  const std::string menu((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t at = menu.find("; The pause menu:");
  ASSERT_NE(at, std::string::npos);
  // The save screen the menu opens, whose names the menu uses.
  std::ifstream screenIn(std::string(DEMO_SOURCE_DIR) + "/save_screen.kas");
  const std::string screen((std::istreambuf_iterator<char>(screenIn)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(screen.empty());
  const std::string script = std::string(".file \"UNUSED\"\nstart:\n") +
                             "    call sp_set file\"BG_DAY\", 0, 10, 0\n"
                             "    call run 0, 0, 0\n"
                             "    gosub @menu_setup\n"
                             "idle:\n"
                             "    call wait_frame\n"
                             "    jmp @idle\n" +
                             screen + menu.substr(at);
  Start(script, std::string(DEMO_GAME_DIR) + "/data");
  Settle();
  ButtonGroup& g = G(1);
  ASSERT_FALSE(g.initialised);
  Frame(900, 600, false, 200);  // the run ended the first frame; the gosub's pause goes by
  Frame(900, 600, false, 16, plat::vk::kRButton);  // a right click opens the menu
  plat::HeadlessSetKey(plat::vk::kRButton, false);
  Frame(900, 600, false, 16);
  ASSERT_TRUE(g.initialised) << log.All();
  Frame(900, 600, false, 200);
  ExpectGolden("button_menu_idle.png");

  // Over the chime button: its hover row and the hover sound.
  const size_t played = sounds.until.size();
  Frame(640, 214, false, 16);
  Frame(640, 214, false, 16);
  EXPECT_GT(sounds.until.size(), played);
  ExpectGolden("button_menu_hovered.png");
  // Pressed: the pressed row while the click sound plays, then its routine.
  Frame(640, 214, true, 16);
  Frame(640, 214, false, 16);
  ExpectGolden("button_menu_pressed.png");
  for (int i = 0; i < 10; ++i) Frame(640, 214, false, 16);
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "se_play_ex")) << log.All();

  // The music toggle: off, shown by its second set of rows.
  Frame(640, 274, false, 200);
  Frame(640, 274, true, 16);
  for (int i = 0; i < 12; ++i) Frame(640, 274, false, 16);
  EXPECT_EQ(m->Reg(201), 1);
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "bgm_stop  0, 500"));
  Frame(900, 600, false, 200);
  Frame(900, 600, false, 16);
  ExpectGolden("button_menu_toggled.png");

  // The knob, dragged: the figure follows it.
  Frame(516, 448, false, 200);
  Frame(516, 448, true, 16);
  for (int i = 0; i < 10; ++i) Frame(516 + 20 * i, 448, true, 16);
  const SpriteRecord* figure = g.entries[5].record;
  ASSERT_NE(figure, nullptr);
  const int knob = g.entries[4].record->t.bX;
  EXPECT_GT(knob, 100);
  EXPECT_EQ(figure->t.aX, 496 + knob);
  Frame(696, 448, false, 16);  // let go where it stands
  Frame(696, 448, false, 16);
  EXPECT_EQ(g.entries[4].record->t.bX, 180);
  EXPECT_EQ(m->Reg(202), 180 * 100 / 280);

  // Esc closes it.
  Frame(900, 600, false, 200, plat::vk::kEscape);
  plat::HeadlessSetKey(plat::vk::kEscape, false);
  Frame(900, 600, false, 16);
  EXPECT_FALSE(g.initialised);
  EXPECT_EQ(g.entries[0].record, nullptr);
  EXPECT_FALSE(log.HasAny("out of range")) << log.All();
  EXPECT_FALSE(log.HasAny("sound load error")) << log.All();
}

}  // namespace
