// System commands, math and key messages: the key-message poll on injected
// events, skip and auto mode with their icons and buttons, random numbers
// and absolute values, the command table's edge cases, the search path
// kept through bad input, the wall clock, monitors and metrics, and the
// key-cancel masks across a restart and a load. Assembled scripts run
// frame by frame on the headless engine (virtual clock, in-memory window,
// scripted message boxes).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "component_entries.h"
#include "core/system_state.h"
#include "pac_writer.h"
#include "platform/core/wall_clock.h"
#include "platform/window/display.h"
#include "platform/core/file.h"
#include "platform/window/message_box.h"
#include "platform/window/messages.h"
#include "platform/window/png_capture.h"
#include "platform/window/window.h"
#include "render/soft_screen.h"
#include "support/demo_script.h"
#include "save/save.h"
#include "start/game_record.h"
#include "start/game_task.h"
#include "support/engine_fixture.h"
#include "support/vm_harness.h"
#include "system/key_messages.h"
#include "system/system_commands.h"
#include "text/message_window.h"

using kivtest::EngineTest;

namespace {

int WaitFrame(VmContext* ctx) {
  command_yield(ctx);
  return 1;
}

// ---- Math, without the engine ----

TEST(SystemMath, RandomStaysBetweenItsBoundsAndAbsKeepsTheMostNegative) {
  struct Row {
    int32_t minimum, maximum, draw, want;
  } rows[] = {
      {5, 5, 0, 5},          {5, 5, 32767, 5},          {1, 6, 0, 1},
      {1, 6, 5, 6},          {1, 6, 6, 1},              {6, 1, 7, 2},  // reversed bounds are swapped
      {1, 6, -7, 6},         {1, 6, -1, 6},             {10, 20, -11, 10},  // a negative draw stays inside
      {INT_MIN, INT_MAX, 0, INT_MIN}, {INT_MIN, INT_MAX, 32767, INT_MIN + 32767},
      {INT_MIN, INT_MAX, -1, INT_MAX},  // range 2^32: no overflow
      {INT_MAX, INT_MIN, 5, INT_MIN + 5}, {-3, -1, 4, -2},
  };
  for (const Row& r : rows)
    EXPECT_EQ(random_between(r.minimum, r.maximum, r.draw), r.want)
        << r.minimum << ".." << r.maximum << " draw " << r.draw;
  EXPECT_EQ(abs_value(-5), 5);
  EXPECT_EQ(abs_value(7), 7);
  EXPECT_EQ(abs_value(0), 0);
  EXPECT_EQ(abs_value(INT_MIN + 1), INT_MAX);
  EXPECT_EQ(abs_value(INT_MIN), INT_MIN) << "kept, as div keeps its overflow";
}

TEST(SystemMath, TheScriptsRandomHitsEveryFaceAndNothingElse) {
  vmtest::Machine m(R"(
start:
    call random 1, 6 -> r1
    call random 5, 5 -> r2
    call random -2147483648, 2147483647 -> r3
    call abs -2147483648 -> r4
    call abs -12 -> r5
    end
)");
  ASSERT_TRUE(m.ok);
  std::set<int32_t> faces;
  for (int i = 0; i < 10000; ++i) {
    m.ctx->script.pc = m.Pc("start");
    m.Run();
    ASSERT_GE(m.Reg(1), 1);
    ASSERT_LE(m.Reg(1), 6);
    faces.insert(m.Reg(1));
    ASSERT_EQ(m.Reg(2), 5);
  }
  EXPECT_EQ(faces.size(), 6u);
  EXPECT_EQ(m.Reg(4), INT_MIN);
  EXPECT_EQ(m.Reg(5), 12);
}

// ---- On the headless engine ----

// A button stand-in that records the rows the skip and auto buttons get.
struct ButtonSeen {
  int expansion[4] = {-1, -1, -1, -1};  // kinds 1..4 of group 2
  bool sprite = true;
  std::vector<std::vector<int>> rows;  // {group, item, base}
};
ButtonSeen g_buttons;
int Expansion(VmContext*, int group, int kind) { return group == 2 && kind >= 1 && kind <= 4 ? g_buttons.expansion[kind - 1] : -1; }
int ItemRow(VmContext*, int group, int item, int base) {
  if (!g_buttons.sprite) return 0;
  g_buttons.rows.push_back({group, item, base});
  return 1;
}
const SystemButtonHooks kButtons = {Expansion, ItemRow};

class SystemTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    g_buttons = ButtonSeen{};
    system_button_hooks_set(&kButtons);
  }
  void TearDown() override {
    m.reset();
    system_button_hooks_set(nullptr);
    if (list) {
      KivRenderSetActive(nullptr);
      KivRenderUninit(list);
      list = nullptr;
    }
    plat::ClearWallClock();
    plat::SetHeadlessMonitors({});
    EngineTest::TearDown();
  }
  void Start(const std::string& script) {
    if (!g_kiv) {
      ASSERT_EQ(KivInit(&params), 1);
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
  // One game frame, with the frame's event word as the window left it.
  void Frame(uint32_t events = 0) {
    plat::AdvanceVirtualClock(16);
    KivUpdateTime();
    g_kiv->input.eventWord.store(events);
    KivRenderLock();
    game_task_frame(ctx);
    KivRenderUnlock();
    g_kiv->input.eventWord.store(0);
  }
  int32_t* Sys() { return m->record().system.word; }
  int ReturnPoints(uint32_t* kind = nullptr, uint32_t* pc = nullptr) {
    int n = 0;
    for (KivListNode* node = ctx->gameList->next; node; node = node->next)
      if (node->key == kGameListReturnPoints) {
        if (n == 0 && kind) *kind = reinterpret_cast<ReturnPoint*>(node->value)->kind;
        if (n == 0 && pc) *pc = reinterpret_cast<ReturnPoint*>(node->value)->pc;
        ++n;
      }
    return n;
  }
  // Runs one label's code to its end (or first yield).
  void RunFrom(const char* label) {
    ctx->script.pc = m->Pc(label);
    ctx->script.yield = 0;
    script_run(ctx);
  }

  vmtest::ScopedBinding wait{"wait_frame", WaitFrame};
  vmtest::LogCapture log;
  std::unique_ptr<vmtest::Machine> m;
  VmContext* ctx = nullptr;
  KivRenderList* list = nullptr;
};

// The message routine: counts its runs in r3, takes the message and its
// parameter, and returns to where the script was.
constexpr const char* kMessageScript = R"(
start:
    call create_message @on_message
idle:
    add r9, 1
    call wait_frame
    jmp @idle
no_routine:
    call create_message 0
    jmp @idle
on_message:
    add r3, 1
    call get_message -> r1
    call get_message_param 0 -> r2
    ret
)";

TEST_F(SystemTest, TheKeyMessagePollAsATable) {
  struct Row {
    const char* what;
    bool routine;
    uint32_t events;
    int32_t windowMode;
    bool pushFails;
    // What the frame leaves:
    uint32_t slot0Code, slot0Param, pending;
    int routineRuns;  // r3 after the frame
    bool idleRan;     // the script's own slice ran too (r9 moved)
  } rows[] = {
      {"routine, windowed", true, 8, 0, false, 0, 1, 0, 1, false},
      {"routine, full screen", true, 8, 1, false, 0, 0, 0, 1, false},
      {"routine, no request", true, 0, 0, false, 0, 0, 0, 0, true},
      {"routine, other events only", true, 1 | 2 | 4 | 16, 0, false, 0, 0, 0, 0, true},
      {"no routine: the message waits", false, 8, 0, false, 1, 1, 1, 0, true},
      {"no return point: nothing jumps", true, 8, 0, true, 1, 1, 1, 0, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Start(kMessageScript);
    RunFrom(r.routine ? "start" : "no_routine");
    ASSERT_EQ(ctx->keyMessages.routine != 0, r.routine);
    Sys()[kSysWindowMode] = r.windowMode;
    const uint32_t idlePc = ctx->script.pc;
    const int32_t idleBefore = m->Reg(9);
    KivList* list_kept = ctx->gameList;
    if (r.pushFails) ctx->gameList = nullptr;  // no return point can be pushed
    Frame(r.events);
    ctx->gameList = list_kept;
    EXPECT_EQ(ctx->keyMessages.messages[0].code, r.slot0Code);
    EXPECT_EQ(ctx->keyMessages.messages[0].parameter, r.slot0Param);
    EXPECT_EQ(ctx->keyMessages.pending, r.pending);
    EXPECT_EQ(m->Reg(3), r.routineRuns);
    EXPECT_EQ(m->Reg(9) != idleBefore, r.idleRan);
    EXPECT_EQ(ReturnPoints(), 0) << "the routine's ret took its return point";
    if (r.routineRuns) {
      EXPECT_EQ(m->Reg(1), 0) << "get_message gave slot 0";
      EXPECT_EQ(m->Reg(2), r.windowMode == 0 ? 1 : 0) << "windowed asks for full screen";
      EXPECT_EQ(ctx->script.pc, idlePc) << "ret resumed where the script stood, and ended the frame";
    }
    if (r.pushFails) {
      EXPECT_TRUE(log.HasAny("メモリ不足発生")) << log.All();
      // With the list back, the still pending message is delivered.
      Frame();
      EXPECT_EQ(m->Reg(3), 1);
      EXPECT_EQ(ctx->keyMessages.pending, 0u);
    }
    m.reset();
  }
}

TEST_F(SystemTest, TheRoutineIsEnteredAsAKindTwoReturnPoint) {
  Start(R"(
start:
    call create_message @on_message
idle:
    call wait_frame
    jmp @idle
on_message:
    call wait_frame
    ret
)");
  RunFrom("start");
  const uint32_t idlePc = ctx->script.pc;
  Frame(8);
  uint32_t kind = 0, pc = 0;
  ASSERT_EQ(ReturnPoints(&kind, &pc), 1);
  EXPECT_EQ(kind, kReturnKindKeyMessage);
  EXPECT_EQ(pc, idlePc);
  EXPECT_GT(ctx->script.pc, m->Pc("on_message")) << "the routine ran in the frame that entered it";
  Frame();
  EXPECT_EQ(ReturnPoints(), 0);
  EXPECT_EQ(ctx->script.pc, idlePc) << "ret returned and stopped the frame there";
  // A game reset keeps the routine but forgets the messages.
  message_post(ctx, 3, 9);
  game_reset(ctx);
  EXPECT_NE(ctx->keyMessages.routine, 0u);
  EXPECT_EQ(ctx->keyMessages.pending, 0u);
  EXPECT_EQ(ctx->keyMessages.messages[3].code, 0u);
}

TEST_F(SystemTest, MessagesWaitInTheirSlotsWithoutARoutine) {
  Start(R"(
start:
    call get_message -> r1
    call get_message -> r2
    call get_message -> r3
    call get_message_param 3 -> r4
    call get_message_param 8 -> r5
    call get_message_param -1 -> r6
    end
)");
  message_post(ctx, 3, 0x1234);
  message_post(ctx, 0, 1);
  message_post(ctx, 8, 1);  // no such slot: refused
  RunFrom("start");
  EXPECT_EQ(m->Reg(1), 0);
  EXPECT_EQ(m->Reg(2), 3);
  EXPECT_EQ(m->Reg(3), -1);
  EXPECT_EQ(m->Reg(4), 0x1234) << "get_message keeps the parameter";
  EXPECT_EQ(m->Reg(5), 0);
  EXPECT_EQ(m->Reg(6), 0);
  EXPECT_TRUE(log.HasAny("get_message_param slot out of range: 8")) << log.All();
  EXPECT_TRUE(log.HasAny("message slot out of range: 8")) << log.All();
}

TEST_F(SystemTest, SkipAndAutoModeAsATable) {
  struct Row {
    const char* what;
    const char* call;  // set_skip_mode or set_auto_mode
    int32_t on;
    int32_t unreadAllowed, read, visible, waiting;
    uint16_t group;
    int item;  // expansion value of the mode's kind
    bool sprite;
    // ->
    int skip, autoMode;
    uint32_t refused;      // message 1 pending
    int shownIcon;         // -1 none
    std::vector<int> row;  // {group, item, base} or empty
  } rows[] = {
      {"skip on, read line", "set_skip_mode", 1, 0, 1, 1, 0, 2, 5, true, 1, 0, 0, 1, {2, 5, 3}},
      {"skip on, unread allowed", "set_skip_mode", 1, 1, 0, 1, 0, 2, 5, true, 1, 0, 0, 1, {2, 5, 3}},
      {"skip on, unread refused", "set_skip_mode", 1, 0, 0, 1, 1, 2, 5, true, 0, 0, 1, 0, {}},
      {"skip on, window hidden", "set_skip_mode", 1, 1, 1, 0, 0, 2, 5, true, 1, 0, 0, -1, {2, 5, 3}},
      {"skip off, waiting", "set_skip_mode", 0, 0, 0, 1, 1, 2, 5, true, 0, 0, 0, 0, {2, 5, 0}},
      {"skip off, not waiting", "set_skip_mode", 0, 0, 0, 1, 0, 2, 5, true, 0, 0, 0, -1, {2, 5, 0}},
      {"skip on, no group", "set_skip_mode", 1, 1, 1, 1, 0, 0xFFFF, 5, true, 1, 0, 0, 1, {}},
      {"skip on, group 9 refused", "set_skip_mode", 1, 1, 1, 1, 0, 9, 5, true, 1, 0, 0, 1, {}},
      {"skip on, no skip item", "set_skip_mode", 1, 1, 1, 1, 0, 2, -1, true, 1, 0, 0, 1, {}},
      {"skip on, item 128 refused", "set_skip_mode", 1, 1, 1, 1, 0, 2, 128, true, 1, 0, 0, 1, {}},
      {"skip on, item without sprite", "set_skip_mode", 1, 1, 1, 1, 0, 2, 5, false, 1, 0, 0, 1, {}},
      {"auto on", "set_auto_mode", 1, 0, 0, 1, 0, 2, 7, true, 0, 1, 0, 2, {2, 7, 3}},
      {"auto off, waiting", "set_auto_mode", 0, 0, 0, 1, 1, 2, 7, true, 0, 0, 0, 0, {2, 7, 0}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Start(std::string("start:\n    call ") + r.call + " " + std::to_string(r.on) +
          "\n    call get_skip_mode -> r1\n    call get_auto_mode -> r2\n    end\n");
    g_buttons = ButtonSeen{};
    g_buttons.sprite = r.sprite;
    g_buttons.expansion[std::string(r.call) == "set_skip_mode" ? 0 : 1] = r.item;  // kinds 1 and 2
    MessageWindow& w = ctx->text;
    for (int i = 0; i < kTextIconSlots; ++i) {
      w.icons[i].record = text_record_make(ctx, kTextRecordIcon0 + i, 8, 8, kTextPriorityIcon0 - i, 0, 0);
      ASSERT_NE(w.icons[i].record, nullptr);
      KivSpriteViewCtrl(w.icons[i].record->sprite, 0);
    }
    // The icon of the mode before is the current one, and shown.
    w.currentIcon = r.on ? 0 : (std::string(r.call) == "set_skip_mode" ? 1 : 2);
    KivSpriteViewCtrl(w.icons[w.currentIcon].record->sprite, 1);
    Sys()[kSysSkipUnread] = r.unreadAllowed;
    w.read = r.read;
    w.visible = r.visible;
    w.stateFlags = r.waiting ? kTextWaiting : 0;
    w.buttonGroup = r.group;
    RunFrom("start");
    EXPECT_EQ(m->Reg(1), r.skip);
    EXPECT_EQ(m->Reg(2), r.autoMode);
    EXPECT_EQ(ctx->keyMessages.pending, r.refused);
    EXPECT_EQ(ctx->keyMessages.messages[1].code, r.refused);
    for (int i = 0; i < kTextIconSlots; ++i) {
      const bool keptOnRefusal = r.refused && i == static_cast<int>(w.currentIcon);
      EXPECT_EQ(KivSpriteViewIs(w.icons[i].record->sprite) != 0, i == r.shownIcon || keptOnRefusal) << "icon " << i;
    }
    if (r.row.empty())
      EXPECT_TRUE(g_buttons.rows.empty());
    else
      EXPECT_EQ(g_buttons.rows, std::vector<std::vector<int>>{r.row});
    m.reset();
  }
  // Missing icons are skipped.
  Start("start:\n    call set_skip_mode 1\n    call set_auto_mode 1\n    call set_auto_mode 0\n    end\n");
  Sys()[kSysSkipUnread] = 1;
  ctx->text.visible = 1;
  RunFrom("start");
  EXPECT_EQ(ctx->skipMode, 1);
  EXPECT_EQ(ctx->text.currentIcon, 0u);
  // The game reset puts the icon word back to 0.
  ctx->text.currentIcon = 2;
  game_reset(ctx);
  EXPECT_EQ(ctx->text.currentIcon, 0u);
  EXPECT_EQ(ctx->skipMode, 0);
}

TEST_F(SystemTest, AnUnreadLineWhileSkippingPostsTheRefusal) {
  Start("start:\n    end\n");
  ctx->skipMode = 1;
  skip_mode_off_request(ctx);
  EXPECT_EQ(ctx->keyMessages.pending, 1u);
  EXPECT_EQ(ctx->keyMessages.messages[1].code, 1u);
  EXPECT_EQ(ctx->keyMessages.messages[1].parameter, 0u);
}

TEST_F(SystemTest, CommandEdgeCases) {
  Start(R"(
start:
    call auto_set_time 250
    call auto_get_time -> r1
    call auto_set_time -1
    call auto_get_time -> r2
    call auto_set_time 40
    call auto_get_time -> r3
    end
pops:
    call lpush @target
    call lpush @target
    call lpush 0
    call lpop 0
    end
empty_pop:
    call lpop 5
    end
bad_lpush:
    call lpush 999
    end
bad_message:
    call create_message @target
    call create_message 999
    end
memory:
    mov r5, 7
    mov t[r5], 11
    call memory_push
    mov t[r5], 22
    call memory_push
    call memory_pop
    mov r6, t[r5]
    end
cells:
    call get_window_pos -1, 4094
    call get_window_pos 4095, -2
    end
aspect:
    call change_aspect_mode 4
    call change_aspect_mode -1
    call get_aspect_mode -> r7
    end
fonts:
    call load_font_ex file"ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"
    call load_font_ex 0x7FFF
    end
target:
    ret
)");
  // A File.dat written by another tool may fill the whole 32 bytes of a name.
  const uint32_t record = m->out.fileRecord.at("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  ctx->data.file[kTableHeaderBytes + record * kFileRecordBytes + 31] = '5';
  RunFrom("fonts");
  EXPECT_TRUE(log.HasAny("load_font_ex ABCDEFGHIJKLMNOPQRSTUVWXYZ012345")) << "all 32 bytes of the name\n" << log.All();
  RunFrom("start");
  EXPECT_EQ(m->Reg(1), 100) << "250 is capped";
  EXPECT_EQ(m->Reg(2), 100) << "-1 compares as the largest value";
  EXPECT_EQ(m->Reg(3), 40);

  RunFrom("pops");
  uint32_t kind = 9, pc = 0;
  EXPECT_EQ(ReturnPoints(&kind, &pc), 2) << "lpop(0) pops one";
  EXPECT_EQ(kind, kReturnKindGosub);
  EXPECT_EQ(pc, m->Pc("target"));
  EXPECT_TRUE(log.HasAny("lpush " + std::to_string(m->Pc("target"))));
  EXPECT_TRUE(log.HasAny("lpop [12]")) << "label 0 is the start of the code\n" << log.All();

  RunFrom("empty_pop");
  EXPECT_EQ(ReturnPoints(), 0);
  EXPECT_EQ(log.Count("error : lpop non stack"), 1) << "the command stops at the first empty pop";

  RunFrom("bad_lpush");
  EXPECT_EQ(ReturnPoints(), 0) << "an unknown label pushes nothing";
  EXPECT_TRUE(log.HasAny("lpush : label 999 refused")) << log.All();

  RunFrom("bad_message");
  uint32_t offset = 0;
  ASSERT_TRUE(label_code_offset(ctx, m->out.labelNumber.at("target"), &offset));
  EXPECT_EQ(ctx->keyMessages.routine, offset) << "the refused label left the routine installed";
  EXPECT_TRUE(log.HasAny("create_message : label 999 refused")) << log.All();

  RunFrom("memory");
  EXPECT_TRUE(log.Has(kDebugWindowError, "push memory stack over"));
  EXPECT_EQ(m->Reg(6), 11) << "the second push kept the first copy";

  ctx->tempArea[4094] = -5;
  RunFrom("cells");
  int x = 0, y = 0;
  KivWindowGetPos(&x, &y);
  EXPECT_EQ(ctx->tempArea[4094], y);
  EXPECT_TRUE(log.HasAny("system command cell out of range: 4095")) << log.All();
  EXPECT_TRUE(log.HasAny("system command cell out of range: -2")) << log.All();

  const int aspect = KivCheckAspectMode();
  RunFrom("aspect");
  EXPECT_EQ(m->Reg(7), aspect) << "modes outside 0..3 are ignored";
  EXPECT_TRUE(log.HasAny("change_aspect_mode : mode 4 ignored"));
}

TEST_F(SystemTest, LocalTimeMonitorsAndMetrics) {
  plat::SetHeadlessMonitors({{0, 0, 1920, 1200}, {1920, 0, 3200, 1024}});
  params.x = 2000;  // the window's centre lies on the second monitor
  params.y = 100;
  Start(R"(
start:
    mov r1, 0
    call get_local_time r1, 1, 2
    call get_monitor_size 10, 11
    call get_system_metrics 0 -> r10
    call get_system_metrics 1 -> r11
    call get_system_metrics 76 -> r12
    call get_system_metrics 77 -> r13
    call get_system_metrics 78 -> r14
    call get_system_metrics 79 -> r15
    call get_system_metrics 80 -> r16
    call get_system_metrics 19 -> r17
    call get_system_metrics 43 -> r18
    call get_system_metrics 4 -> r19
    call get_system_metrics 11 -> r20
    call get_system_metrics 16 -> r21
    call get_system_metrics 17 -> r22
    call get_system_metrics 42 -> r23
    call get_system_metrics 61 -> r24
    call get_system_metrics 62 -> r25
    call get_system_metrics 59 -> r26
    call get_system_metrics 49 -> r27
    call get_system_metrics 75 -> r28
    call get_system_metrics 9999 -> r29
    end
)");
  std::tm leap{};
  leap.tm_year = 124;
  leap.tm_mon = 1;
  leap.tm_mday = 29;
  leap.tm_hour = 12;
  leap.tm_isdst = -1;
  plat::SetWallClock(static_cast<int64_t>(std::mktime(&leap)));
  RunFrom("start");
  EXPECT_EQ(ctx->tempArea[0], 2024);
  EXPECT_EQ(ctx->tempArea[1], 2);
  EXPECT_EQ(ctx->tempArea[2], 29);
  int x = 0, y = 0;
  KivWindowGetPos(&x, &y);
  ASSERT_EQ(x, 2000) << "the window stands where it was put";
  EXPECT_EQ(ctx->tempArea[10], 1280);
  EXPECT_EQ(ctx->tempArea[11], 1024);
  // The headless window has no frame: no caption, no border.
  const int32_t want[] = {1920, 1200, 0, 0, 3200, 1200, 2, 1, 3, 0, 32, 1920, 1200, 1, 1920, 1200, 3200, 16, 1, 0};
  for (int i = 0; i < 20; ++i) EXPECT_EQ(m->Reg(10 + i), want[i]) << "metric row " << i;
  EXPECT_FALSE(log.HasAny("get_system_metrics : index 4 not known")) << log.All();
  EXPECT_TRUE(log.HasAny("get_system_metrics : index 9999 not known")) << log.All();
}

TEST_F(SystemTest, AWindowOnNoMonitorTakesTheNearest) {
  Start("start:\n    call get_monitor_size 0, -1\n    end\n");
  int x = 0, y = 0, w = 0, h = 0;
  KivWindowGetPos(&x, &y);
  KivGetWindowSize(&w, &h);
  const int cx = x + w / 2;
  // The monitors move after the window was placed: its centre lies in the
  // gap between them, nearer to one.
  struct Row {
    std::vector<plat::Rect> monitors;
    int32_t want;
  } rows[] = {
      {{{0, 0, cx - 50, 2000}, {cx + 200, 0, cx + 1480, 2000}}, cx - 50},
      {{{0, 0, cx - 300, 2000}, {cx + 40, 0, cx + 1320, 2000}}, 1280},
  };
  for (const Row& r : rows) {
    plat::SetHeadlessMonitors(r.monitors);
    ctx->tempArea[0] = 0;
    RunFrom("start");
    EXPECT_EQ(ctx->tempArea[0], r.want);
  }
}

TEST_F(SystemTest, KeyCancelBitsComeBackAfterARestartAndALoad) {
  Start(R"(
start:
    end
cancel:
    call key_canncel 8, 2
    end
restart:
    ret
)");
  RunFrom("cancel");
  EXPECT_EQ(g_kiv->input.cancelKeys.load(), 8u);
  EXPECT_EQ(g_kiv->input.cancelEvents.load(), 2u);
  std::vector<uint8_t> save(kSaveSnapshotBytes);
  uint32_t used = 0;
  ASSERT_TRUE(save_state_write(ctx, m->Pc("start"), save, &used));
  save.resize(used);

  // ret with nothing to return to restarts the game: Ctrl works again.
  RunFrom("restart");
  EXPECT_EQ(ctx->keyCancelKeys, 0u);
  EXPECT_EQ(g_kiv->input.cancelKeys.load(), 0u) << "the engine forgets the cancelled keys too";
  KivInputSetKeyOn(8);
  EXPECT_EQ(KivInputGetKeyOn() & 8, 8);

  // Loading the save taken under the cancel takes Ctrl away again.
  ASSERT_TRUE(save_state_load(ctx, save));
  EXPECT_EQ(ctx->keyCancelKeys, 8u);
  EXPECT_EQ(g_kiv->input.cancelKeys.load(), 8u);
}

TEST_F(SystemTest, ADebugRandomTableGivesAKnownSequence) {
  params.debug = 1;
  Start(R"(
start:
    call random 1, 6 -> r1
    call random 1, 6 -> r2
    call random 1, 6 -> r3
    call random 6, 1 -> r4
    end
)");
  const int table[] = {-7, 0, 32767, 5};
  ASSERT_EQ(KivRandomSetSeed(table, 4), 3);  // the last index written
  RunFrom("start");
  EXPECT_EQ(m->Reg(1), 6) << "-7 leaves remainder 5, never one below the minimum";
  EXPECT_EQ(m->Reg(2), 1);
  EXPECT_EQ(m->Reg(3), 2);
  EXPECT_EQ(m->Reg(4), 6);
}

// ---- The search path ----

class SystemPathTest : public SystemTest {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    Start("start:\n    call set_system_path r1\n    end\n");
    base = KivGetFilePath();
    mkdir((base + "/data").c_str(), 0755);
    // Set 1 holds the archive folder "syspath_pac"; its archive alone holds the file.
    std::string error;
    ASSERT_TRUE(kivtools::WritePac(base + "/syspath_pac.pac", {{"ONLY_PAC.TXT", {'o', 'k'}}}, &error)) << error;
    std::ofstream(base + "/data/archive.dat", std::ios::binary) << "data,syspath_pac";
  }
  void TearDown() override {
    unlink((base + "/syspath_pac.pac").c_str());
    unlink((base + "/data/archive.dat").c_str());
    rmdir((base + "/data").c_str());
    SystemTest::TearDown();
  }
  bool Finds(const char* name) {
    KivFileInfo info{};
    intptr_t f = KivFileCreate(name, &info);
    if (f == KIV_INVALID_FILE) return false;
    plat::FileClose(f);
    return true;
  }
  int SetPath(int set) {
    m->Reg(1) = set;
    RunFrom("start");
    return log.Count("内部エラー");
  }
  std::string base;
};

TEST_F(SystemPathTest, ABadSetKeepsThePathsThatServe) {
  KivSystemPathClear();
  EXPECT_FALSE(Finds("ONLY_PAC.TXT"));
  EXPECT_EQ(SetPath(1), 0);
  EXPECT_TRUE(Finds("ONLY_PAC.TXT")) << "a good set finds what only its archive holds";

  plat::HeadlessBoxScript({plat::kIdOk});
  EXPECT_EQ(SetPath(7), 1) << "a missing set fails the command";
  ASSERT_FALSE(plat::HeadlessBoxLog().empty());
  EXPECT_EQ(plat::HeadlessBoxLog().back().text, "ArchiveData Read Fail");
  EXPECT_TRUE(Finds("ONLY_PAC.TXT")) << "the old paths still serve";

  unlink((base + "/data/archive.dat").c_str());
  EXPECT_EQ(SetPath(0), 2);
  EXPECT_EQ(plat::HeadlessBoxLog().back().text, "ArchiveData Fail");
  EXPECT_TRUE(Finds("ONLY_PAC.TXT")) << "no archive.dat: the old paths still serve";
}

}  // namespace

// ---- The demo, end to end on the headless engine ----

namespace demo_run {
vmtest::Machine* g_machine = nullptr;
VmContext* g_ctx = nullptr;
std::string g_dir;
int g_frame = 0;
int g_phase = 0;
int g_phaseFrame = 0;
struct Seen {
  bool fullScreen = false, windowedAgain = false;
  int32_t modeWordFull = -1, modeWordWindowed = -1;
  bool refusedTaken = false;
  int skip = -1, autoMode = -1;
  bool capturedFull = false, capturedWindowed = false;
};
Seen g_seen;

plat::Window* Win() { return static_cast<plat::Window*>(KivGetWindowHandle()); }

bool Capture(const char* name) {
  return plat::CapturePng(g_dir + "/" + name, g_kiv->soft->backBuffer, 1280, 720, 1280);
}

void Next() {
  ++g_phase;
  g_phaseFrame = 0;
}

// The game's frame, with the test's inputs between frames.
int Task(void*) {
  VmContext* ctx = g_ctx;
  if (g_frame == 0) {
    // The demo's own set-up, then its round (the opening movie is skipped).
    return_point_push(ctx, kGameListReturnPoints, g_machine->Pc("round"), kReturnKindGosub);
    ctx->script.pc = g_machine->Pc("system_setup");
  }
  const int32_t* sys = reinterpret_cast<GameRecord*>(reinterpret_cast<char*>(ctx) - offsetof(GameRecord, ctx))->system.word;
  ++g_frame;
  ++g_phaseFrame;
  switch (g_phase) {
    case 0:  // the stage comes up; then Alt+Enter
      if (g_phaseFrame == 90) {
        Win()->Send(plat::kMsgSysKeyDown, plat::kVkReturn, 0);
        Next();
      }
      break;
    case 1:  // full screen
      if (Win()->backend()->FullScreen() && g_phaseFrame > 3) {
        g_seen.fullScreen = true;
        g_seen.modeWordFull = sys[kSysWindowMode];
        g_seen.capturedFull = Capture("demo_full_screen.png");
        Win()->Send(plat::kMsgSysKeyDown, plat::kVkReturn, 0);
        Next();
      }
      break;
    case 2:  // and back
      if (!Win()->backend()->FullScreen() && g_phaseFrame > 3) {
        g_seen.windowedAgain = true;
        g_seen.modeWordWindowed = sys[kSysWindowMode];
        g_seen.capturedWindowed = Capture("demo_windowed.png");
        Next();
      }
      break;
    case 3:  // Z on an unread line: refused, and the routine takes the message
      if (g_phaseFrame == 1) KivInputSetKeyPush(1 << 28);
      if (g_phaseFrame == 30) {
        g_seen.refusedTaken = ctx->skipMode == 0 && ctx->keyMessages.pending == 0 &&
                              ctx->keyMessages.messages[1].code == 0 && ctx->keyMessages.messages[1].parameter == 0;
        const_cast<int32_t*>(sys)[kSysSkipUnread] = 1;  // the player allows skipping unread text
        Next();
      }
      break;
    case 4:  // Z again, then X
      if (g_phaseFrame == 1) KivInputSetKeyPush(1 << 28);
      if (g_phaseFrame == 20) KivInputSetKeyPush(1 << 29);
      if (g_phaseFrame == 40) {
        g_seen.skip = ctx->skipMode;
        g_seen.autoMode = ctx->autoMode;
        Next();
      }
      break;
    default:
      KivEnd();
      break;
  }
  if (g_frame > 2000) KivEnd();
  game_task_frame(ctx);
  return 1;
}
}  // namespace demo_run

TEST_F(SystemTest, TheDemoTogglesFullScreenSkipAndAutoFromItsScript) {
  namespace d = demo_run;
  char tmpl[] = "/tmp/kivsystemdemoXXXXXX";
  d::g_dir = mkdtemp(tmpl);
  ASSERT_EQ(std::system(("cp -r '" DEMO_DATA_DIR "'/. '" + d::g_dir + "/'").c_str()), 0);
  params.clientWidth = params.screenWidth = 1280;
  params.clientHeight = params.screenHeight = 720;
  params.x = 100;
  params.y = 100;
  plat::SetHeadlessMonitors({{0, 0, 1920, 1080}});
  ASSERT_EQ(KivInit(&params), 1);
  ASSERT_EQ(KivSystemPathSet(d::g_dir.c_str()), 1);
  m = std::make_unique<vmtest::Machine>(demo_script_source(KIV_SOURCE_DIR));
  ASSERT_TRUE(m->ok);
  ctx = m->ctx;
  d::g_machine = m.get();
  d::g_ctx = ctx;
  d::g_frame = d::g_phase = d::g_phaseFrame = 0;
  d::g_seen = {};
  kivtest::g_start = [] {
    KivRenderList* l = KivRenderInit();
    KivRenderSetActive(l);
    d::g_ctx->renderList = l;
    game_reset(d::g_ctx);
    return KivTaskCreate(kivtest::TaskThunk, nullptr, 4, nullptr, KIV_TASK_BEHIND, nullptr, "game") != nullptr;
  };
  kivtest::g_task = d::Task;
  EXPECT_EQ(KivRun(), 0);
  game_reset(ctx);
  KivRenderList* l = ctx->renderList;
  KivRenderSetActive(nullptr);
  KivRenderUninit(l);

  // The routine took message 0 twice: from the window (1), then from full screen (0).
  EXPECT_EQ(log.Count("get_message  0x0000"), 2) << log.All();
  EXPECT_TRUE(log.HasAny("get_message_param  0x00000001"));
  EXPECT_TRUE(log.HasAny("get_message_param  0x00000000"));
  EXPECT_EQ(log.Count("get_message  0x0001"), 1) << "the refused skip";
  EXPECT_TRUE(d::g_seen.fullScreen) << log.All();
  EXPECT_EQ(d::g_seen.modeWordFull, 1);
  EXPECT_TRUE(d::g_seen.windowedAgain);
  EXPECT_EQ(d::g_seen.modeWordWindowed, 0);
  EXPECT_TRUE(d::g_seen.refusedTaken) << "a refused skip leaves skip off, its message taken";
  EXPECT_EQ(d::g_seen.skip, 1) << "Z";
  EXPECT_EQ(d::g_seen.autoMode, 1) << "X";
  // A frame after each change, captured and showing the stage.
  for (const char* name : {"demo_full_screen.png", "demo_windowed.png"}) {
    std::vector<uint32_t> px;
    int w = 0, h = 0;
    ASSERT_TRUE(plat::ReadPng(d::g_dir + "/" + name, &px, &w, &h)) << name;
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    int lit = 0;
    for (uint32_t p : px) lit += (p & 0xFFFFFFu) != 0;
    EXPECT_GT(lit, 1280 * 720 / 2) << name << ": the day stage is drawn";
  }
  EXPECT_FALSE(log.HasAny("内部エラー")) << log.All();
  ASSERT_EQ(std::system(("rm -rf '" + d::g_dir + "'").c_str()), 0);
}
