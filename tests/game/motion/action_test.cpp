// Actions on the virtual clock: each step type's per-frame and settled
// terms at its start, half way, its end and when its slot is cleared early;
// line timing after a hitch; runs cut short by time, input and disabled
// effects; loops with action_sync_wait; grid columns; refused commands;
// push and pop; and the action block of a save.
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

#include "motion/actions.h"
#include "motion/curves.h"
#include "motion_fixture.h"
#include "core/system_state.h"
#include "support/demo_script.h"

using motiontest::MotionTest;

namespace {

constexpr int kLayer = 3;  // sprite id 3 = sprite record 19
constexpr int kLeftButton = 0x800000, kCtrl = 0x8, kSpace = 0x2;

const char* kSetUp = R"(
.file "UNUSED"
    call sp_set_ex file"RED", 3, 100, 200
    call run 0, 0, 0
)";

std::string Script(const std::string& body) { return std::string(kSetUp) + body; }

class ActionTest : public MotionTest {
 protected:
  SpriteRecord& R() { return Rec(kLayer); }
  const ActionSlot& S(int n) { return ctx->actions.slots[n]; }
  int Alpha() { return static_cast<int>(R().t.colour >> 24); }
  // The script with the picture set up first (its run takes a frame).
  void Begin(const std::string& body) {
    Start(Script(body));
    Frame(0);
  }
};

struct StepCase {
  const char* name;
  const char* step;  // one step of 100 ms on line 0 (a wait of 20 ms before it for the cancel run)
  std::function<void(const SpriteRecord&)> half;     // per-frame terms at 50 ms
  std::function<void(const SpriteRecord&)> settled;  // deltas once the step ended
  std::function<void(const SpriteRecord&)> folded;   // component A after the slot's clear
};

TEST_F(ActionTest, EveryStepTypeAtStartHalfEndAndWhenCancelled) {
  auto noDelta = [](const SpriteRecord& r) {
    EXPECT_EQ(r.t.delta.x, 0);
    EXPECT_EQ(r.t.delta.alpha, 0);
    EXPECT_FLOAT_EQ(r.t.delta.scale, 0.0f);
  };
  auto atRest = [](const SpriteRecord& r) {
    EXPECT_EQ(r.t.aX, 100);
    EXPECT_EQ(r.t.aY, 200);
  };
  const StepCase cases[] = {
      {"move", "action_move 0, 3, 80, -40, 100",
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.frame.cX, 40); EXPECT_EQ(r.t.frame.cY, -20); },
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.delta.x, 80); EXPECT_EQ(r.t.delta.y, -40); },
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.aX, 180); EXPECT_EQ(r.t.aY, 160); }},
      {"shake", "action_shake 0, 3, 1, 20, 100",
       [](const SpriteRecord& r) {  // n = trunc(0.5 x 20) + 1 = 11: -5..5 on x
         EXPECT_GE(r.t.frame.eX, -5); EXPECT_LE(r.t.frame.eX, 5); EXPECT_EQ(r.t.frame.eY, 0); },
       noDelta, atRest},
      {"alpha", "action_alpha 0, 3, -100, 100",
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.frame.cAlpha, -50); },
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.delta.alpha, -100); },
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.colour >> 24, 155u); }},
      {"rotate", "action_rotate 0, 3, 10, 20, 30, 100",
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.frame.cRot[0], 5); EXPECT_EQ(r.t.frame.cRot[2], 15); },
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.delta.rot[1], 20); EXPECT_EQ(r.t.delta.rot[2], 30); },
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.aRot[0], 10); EXPECT_EQ(r.t.aRot[2], 30); }},
      {"scale", "action_scale 0, 3, 50, 100",
       [](const SpriteRecord& r) { EXPECT_FLOAT_EQ(r.t.frame.cScale, 0.25f); },
       [](const SpriteRecord& r) { EXPECT_FLOAT_EQ(r.t.delta.scale, 0.5f); },
       [](const SpriteRecord& r) { EXPECT_FLOAT_EQ(r.t.aScale, 1.5f); }},
      {"grid column 10", "action_move_grid 0, 3, 10, 0, 100",  // 640 - 100 = 540: 440 from x 100
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.frame.cX, 220); },
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.delta.x, 440); },
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.aX, 540); }},
      {"move, curve 2 (log80, e + 1)", "action_move_curve2 0, 3, 100, 0, 100",
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.frame.cX, 76); },  // 1 + 0.8 log10(0.51)
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.delta.x, 100); },
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.aX, 200); }},
      {"move, curve 1 (log55, e + 1)", "action_move_curve1 0, 3, 100, 0, 100",
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.frame.cX, 17); },  // -0.55 log10(0.49)
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.delta.x, 100); },
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.aX, 200); }},
      {"move, curve 3 (table, e + 1)", "action_move_curve3 0, 3, 0, 100, 100",
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.frame.cY, 71); },  // sin(pi/2 x 65/128)
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.delta.y, 100); },
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.aY, 300); }},
      {"swing", "action_swing 0, 3, 0, 10, 200, 100",  // a quarter period: sin 90 degrees
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.frame.eY, 10); EXPECT_EQ(r.t.frame.eX, 0); },
       noDelta, atRest},
      {"scale, curve", "action_scale_curve 0, 3, 0, 50, 100",
       [](const SpriteRecord& r) { EXPECT_FLOAT_EQ(r.t.frame.dScale, 0.25f); },
       [](const SpriteRecord& r) { EXPECT_FLOAT_EQ(r.t.delta.scale, 0.5f); },
       [](const SpriteRecord& r) { EXPECT_FLOAT_EQ(r.t.aScale, 1.5f); }},
      {"rotate, curve 3", "action_rotate_curve 0, 3, 3, 0, 0, 90, 100",
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.frame.cRot[2], 63); },  // 90 x 0.707107
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.delta.rot[2], 90); },
       [](const SpriteRecord& r) { EXPECT_EQ(r.t.aRot[2], 90); }},
      {"wait", "action_wait 0, 100", [](const SpriteRecord&) {}, noDelta, atRest},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.name);
    // Played to its end: start, half, end, then the slot's time runs out.
    Begin((std::string("    call ") + c.step + "\n    call action_run 0, 300\n"));
    Frame();  // the script runs; the step starts and adds nothing yet
    EXPECT_EQ(R().t.frame.cX, 0);
    EXPECT_EQ(R().t.frame.cAlpha, 0);
    Frame(50);
    c.half(R());
    Frame(50);  // its end: the whole amount is settled, no per-frame share
    c.settled(R());
    EXPECT_EQ(R().t.frame.cX, 0);
    EXPECT_EQ(R().t.frame.eX, 0);
    EXPECT_EQ(R().t.frame.eY, 0);
    Frame(200);  // the slot's time: cleared, deltas folded into A
    EXPECT_FALSE(S(0).running);
    EXPECT_EQ(R().t.delta.x, 0);
    c.folded(R());

    // Cleared before it started: its cancel applies the same end result.
    Begin((std::string("    call action_wait 0, 20\n    call ") + c.step + "\n    call action_run 0, 10\n"));
    Frame();
    Frame(10);
    EXPECT_FALSE(S(0).running);
    c.folded(R());
  }
}

TEST_F(ActionTest, CellAndRectangleStepsChangeTheSourceRectangleOnceAtStart) {
  WriteImage("CELLS.PGD", motiontest::Solid(200, 100, 0xFF00FF00u));
  Begin((R"(
    call action_rect 0, 3, 10, 20, 50, 40, 100
    call action_cell 1, -1, 1, 1, 100
    call action_run 0, 200
)"));
  Frame();
  KivRect rect{};
  ASSERT_TRUE(KivSpriteGetRect(R().sprite, &rect));
  EXPECT_EQ(rect.left, 10);
  EXPECT_EQ(rect.top, 20);
  EXPECT_EQ(rect.right, 60);
  EXPECT_EQ(rect.bottom, 60);
  Frame(200);
  EXPECT_FALSE(S(0).running) << "a step without a target ends on time";
}

TEST_F(ActionTest, ALineKeepsItsTimingAfterAHitch) {
  Begin((R"(
    call action_move 0, 3, 10, 0, 100
    call action_move 0, 3, 10, 0, 100
    call action_move 0, 3, 10, 0, 100
    call action_run 0, 1000
    call action_get_step 0 -> r1
)"));
  Frame();  // t 0: the first step starts
  Frame(250);  // a hitch: the first step ends (its end is 100, not 250 + 100)
  EXPECT_EQ(R().t.delta.x, 10);
  EXPECT_EQ(S(0).runs[0].stepIndex, 1);
  EXPECT_EQ(S(0).runs[0].started, 0) << "the next step starts on the following frame";
  Frame(10);  // 260: the second starts, ending at 200
  EXPECT_EQ(S(0).runs[0].started, 1);
  EXPECT_EQ(S(0).runs[0].stepEnd, 200);
  Frame(10);  // 270: already past 200, it ends
  EXPECT_EQ(R().t.delta.x, 20);
  Frame(10);  // 280: the third starts, ending at 300
  Frame(10);
  EXPECT_EQ(R().t.frame.cX, 1) << "290 - 280 of 100 ms: one tenth of 10";
  Frame(10);  // 300: done
  EXPECT_EQ(R().t.delta.x, 30);
}

TEST_F(ActionTest, ARunShorterThanItsStepsEndsWithEveryStepAtItsEnd) {
  Begin((R"(
    call action_move 0, 3, 100, 0, 400
    call action_move 0, 3, 100, 0, 400
    call action_alpha 1, 3, -200, 800
    call action_run 0, 500
)"));
  Frame();
  for (int t = 50; t < 500; t += 50) {
    Frame(50);
    EXPECT_TRUE(S(0).running) << t;
  }
  Frame(50);
  EXPECT_FALSE(S(0).running);
  EXPECT_EQ(R().t.aX, 300);
  EXPECT_EQ(Alpha(), 55);
  EXPECT_EQ(SumX(kLayer), 300);
}

TEST_F(ActionTest, InputOrSkipCutsASyncRunShortWithTargetsAtTheirEnd) {
  struct Cut {
    const char* name;
    std::function<void(VmContext*)> press;
  };
  const Cut cuts[] = {
      {"click", [](VmContext*) { KivInputSetKeyPush(kLeftButton); }},
      {"space", [](VmContext*) { KivInputSetKeyPush(kSpace); }},
      {"wheel", [](VmContext*) { g_kiv->input.wheel.store(1); }},
      {"ctrl", [](VmContext*) { KivInputSetKeyOn(kCtrl); }},
      {"skip mode", [](VmContext* c) { c->skipMode = 1; }},
  };
  for (const Cut& c : cuts) {
    SCOPED_TRACE(c.name);
    Begin((R"(
    call action_move_curve1 0, 3, 300, 0, 1000
    call action_rotate 1, 3, 0, 0, 45, 1000
    call action_sync_run 0, 2000
    mov r1, 1
)"));
    Frame();
    EXPECT_EQ(action_sync_running(ctx), 1);
    EXPECT_EQ(ctx->script.pointDepth, 1);
    Frame(100);
    Frame(100);
    EXPECT_EQ(m->Reg(1), 0) << "the script waits";
    EXPECT_GT(R().t.frame.cX, 0);
    c.press(ctx);
    Frame(16);
    KivInputClear();
    g_kiv->input.wheel.store(0);
    ctx->skipMode = 0;
    EXPECT_EQ(action_sync_running(ctx), 0);
    EXPECT_EQ(R().t.aX, 400);
    EXPECT_EQ(R().t.aRot[2], 45);
    EXPECT_EQ(ctx->script.pointDepth, 0);
    EXPECT_EQ(m->Reg(1), 0);
    Frame(16);
    EXPECT_EQ(m->Reg(1), 1) << "the script goes on the next frame";
  }
}

TEST_F(ActionTest, WithEffectsOffRunsPlaceTargetsAtTheirEndAtOnce) {
  Begin((R"(
    call action_move 0, 3, 50, 0, 1000
    call action_run 0, 2000
    call set_active_action 1
    call action_alpha 0, 3, -55, 1000
    call action_sync_run 1, 2000
    mov r1, 1
)"));
  KivEffectEnable(0);
  Frame();
  EXPECT_EQ(R().t.aX, 150);
  EXPECT_EQ(Alpha(), 200);
  EXPECT_FALSE(S(0).running);
  EXPECT_FALSE(S(1).running);
  EXPECT_EQ(ctx->script.pointDepth, 0);
  Frame();
  EXPECT_EQ(m->Reg(1), 1);
  KivEffectEnable(1);
}

TEST_F(ActionTest, LoopsEndAfterTheirPassesOrReportEachPassToTheWait) {
  Begin((R"(
    call action_move 0, 3, 10, 0, 50
    call action_loop_run 0, 3
    call action_sync_wait 0
    mov r1, 1
)"));
  Frame();
  int frames = 0;
  while (m->Reg(1) == 0 && frames < 50) {
    Frame(50);
    ++frames;
  }
  EXPECT_EQ(m->Reg(1), 1);
  EXPECT_FALSE(S(0).running);
  EXPECT_EQ(R().t.aX, 130) << "three passes of 10";

  // Endless (and below -1, which counts as endless): each wait returns
  // after a completed pass while the loop runs on.
  for (int passes : {-1, -5}) {
    SCOPED_TRACE(passes);
    Begin((R"(
    call action_move 0, 3, 10, 0, 50
    call action_loop_run 0, r9
    call action_sync_wait -1
    mov r1, 1
    call action_sync_wait 0
    mov r2, 1
)"));
    m->Reg(9) = passes;
    Frame();
    int f = 0;
    while (m->Reg(2) == 0 && f < 40) {
      Frame(50);
      ++f;
    }
    EXPECT_EQ(m->Reg(1), 1);
    EXPECT_EQ(m->Reg(2), 1);
    EXPECT_TRUE(S(0).running);
    EXPECT_EQ(S(0).timeOrCount, -1);
  }
}

TEST_F(ActionTest, GridColumnsPlaceTheSpriteByItsWidth) {
  const struct {
    int column, x;
  } cases[] = {{10, 540}, {0, -100}, {20, 1180}, {-1, -200}, {21, 1280}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.column);
    Begin(("    call action_move_grid 0, 3, " + std::to_string(c.column) + ", 2, 100\n    call action_run 0, 200\n"));
    for (int i = 0; i < 6; ++i) Frame(60);
    EXPECT_FALSE(S(0).running);
    EXPECT_EQ(R().t.aX, c.x);
  }
}

TEST_F(ActionTest, RefusedArgumentsLogTheirMessageAndChangeNothing) {
  std::string body;
  for (int i = 0; i < 33; ++i) body += "    call action_wait 0, 10\n";
  body += R"(
    call action_wait 32, 10
    call action_wait -1, 10
    call action_run -2, 100 -> r1
    call action_sync_run 8, 100
    call action_loop_run -3, 1
    call action_clear 9
    call set_action_clear -7
    call set_active_action -1 -> r2
    call set_active_action 8
    call action_get_step 32 -> r3
    call action_get_step -1 -> r4
    call action_se 1, 99, 0, 0, 10
    call action_se 1, -4, 0, 0, 10
    call action_move 2, -1, 10, 0, 10
    call action_move 3, 0x0FFF0000, 10, 0, 10
    call action_run 0, 100 -> r5
)";
  Begin((body));
  Frame();
  Frame();  // action_sync_run yields, refused or not
  for (const char* line : {"action section over [0]", "action line over [32]", "action line over [-1]",
                           "action_run count over [-2]", "action_sync_run count over [8]",
                           "action_loop_run count over [-3]", "action_clear count over [9]",
                           "set_action_clear count over [-7]", "action count over [-1]", "action count over [8]",
                           "action_se channel"})
    EXPECT_TRUE(log.Has(kDebugWindowError, line)) << line << "\n" << log.All();
  EXPECT_EQ(S(0).lines[0].count, 32);
  EXPECT_EQ(ctx->actions.active, 0);
  EXPECT_EQ(S(0).lines[2].steps[0].target, -1);
  EXPECT_EQ(S(0).lines[3].steps[0].target, -1) << "an image number past its kind's range names no record";
  for (int i = 0; i < 8; ++i) EXPECT_FALSE(ctx->actions.clearRequests[i]);
  Frame(200);
  EXPECT_FALSE(S(0).running);
  EXPECT_EQ(R().t.aX, 100);
}

TEST_F(ActionTest, ASwingWithPeriodZeroAndHugeDurationsStaySane) {
  Begin((R"(
    call action_swing 0, 3, 1, 10, 0, 100
    call action_wait 1, 0x7FFFFFF0
    call action_wait 1, 0x7FFFFFF0
    call action_move 1, 3, 5, 0, 10
    call action_run 0, 300
)"));
  for (int i = 0; i < 8; ++i) Frame(50);
  EXPECT_FALSE(S(0).running);
  EXPECT_EQ(R().t.aX, 105) << "the steps after the long waits were applied by the clear";
}

TEST_F(ActionTest, PushPopAndFreeReturnEveryRunRecord) {
  Begin((R"(
    call action_move 0, 3, 100, 0, 500
    call action_alpha 1, 3, -50, 500
    call action_loop_run 0, -1
    call wait_frame
    call action_push
    call action_move 0, 3, 7, 0, 50
    call action_loop_run 0, -1
    call wait_frame
    call action_push
    call wait_frame
    call action_pop
    call wait_frame
    call action_push
)"));
  const int live = KivMemoryLive();
  Frame();
  EXPECT_EQ(KivMemoryLive(), live + 2) << "two run records in slot 0";
  Frame(100);  // pushed (a copy holding two), and slot 0 runs a new step
  EXPECT_EQ(KivMemoryLive(), live + 4);
  EXPECT_NE(ctx->actions.pushed, nullptr);
  Frame(10);  // a second push while holding a copy: the copy goes back first, then the push
  EXPECT_EQ(KivMemoryLive(), live + 3);
  Frame(10);  // pop
  EXPECT_EQ(ctx->actions.pushed, nullptr);
  EXPECT_TRUE(S(0).running);
  EXPECT_EQ(S(0).lines[0].steps[0].p[0], 100) << "the first slot is back";
  EXPECT_EQ(KivMemoryLive(), live + 2);
  Frame(10);  // push again; the game reset frees the copy and its run records
  EXPECT_NE(ctx->actions.pushed, nullptr);
  action_free(ctx);
  EXPECT_EQ(KivMemoryLive(), live);
}

TEST_F(ActionTest, ASyncRunWithoutItsScriptPointPopsNoOtherOne) {
  Begin((R"(
    call action_move 0, 3, 10, 0, 50
    call action_sync_run 0, 100
)"));
  ctx->script.pointDepth = kScriptPointDepth;  // a full stack: the push fails
  Frame();
  EXPECT_TRUE(log.Has(kDebugWindowError, "script point push stack over"));
  EXPECT_EQ(S(0).holdsPoint, 0);
  Frame(100);
  EXPECT_FALSE(S(0).running);
  EXPECT_EQ(ctx->script.pointDepth, kScriptPointDepth);
}

TEST_F(ActionTest, SetActionClearClearsAtTheNextTextAdvance) {
  Begin((R"(
    call action_move 0, 3, 60, 0, 1000
    call action_run 0, 2000
    call set_action_clear -1
)"));
  Frame();
  Frame(100);
  EXPECT_TRUE(S(0).running);
  action_reset(ctx);
  EXPECT_FALSE(S(0).running);
  EXPECT_EQ(R().t.aX, 160);
  EXPECT_EQ(ctx->actions.clearRequests[0], 0);
}

// ---------------------------------------------------------------- the action block

class ActionBlockTest : public ActionTest {
 protected:
  std::vector<uint8_t> Save() {
    std::vector<uint8_t> buf(0x100000);
    uint32_t used = 0;
    EXPECT_TRUE(action_save(ctx, buf, &used));
    buf.resize(used);
    return buf;
  }
};

TEST_F(ActionBlockTest, WriterReaderWriterIsIdenticalAndBadBlocksAreRefused) {
  Begin((R"(
    call action_move 0, 3, 60, 0, 1000
    call action_alpha 5, 3, -20, 1000
    call set_active_action 2
    call action_rotate 31, 3, 0, 0, 30, 400
    call action_swing 31, 3, 2, 8, 100, 400
    call action_se 7, 3, 1, 0, 10
    call action_loop_run 2, 4
    call set_active_action 6
    call action_wait 0, 100
    call set_action_clear 6
    call action_sync_run 0, 5000
)"));
  m->Run();  // the slots start; no step has started yet
  const std::vector<uint8_t> first = Save();
  // u32 active, 8 clear words, 8 running words, two running slots.
  ASSERT_EQ(first.size(), 4u + 32 + 32 + 2 * 41628);
  uint32_t cursor = 0;
  ASSERT_TRUE(action_restore(ctx, first, &cursor));
  EXPECT_EQ(cursor, first.size());
  EXPECT_EQ(Save(), first);
  EXPECT_EQ(S(2).state, kActionLoopRun);
  EXPECT_EQ(S(2).lines[31].count, 2);

  struct Bad {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> edit;
  };
  // Offsets inside slot 0's record (the first running one).
  const size_t slot0 = 4 + 32 + 4;
  const size_t lines = slot0 + 4 * (7 + 96);
  auto put = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  const Bad bads[] = {
      {"short", [](std::vector<uint8_t>& b) { b.resize(b.size() - 1); }},
      {"type 16", [&](std::vector<uint8_t>& b) { put(b, lines + 8 + 4 * 8, 16); }},
      {"count 33", [&](std::vector<uint8_t>& b) { put(b, lines, 33); }},
      {"target 5000", [&](std::vector<uint8_t>& b) { put(b, lines + 8, 5000); }},
      {"step index past the count", [&](std::vector<uint8_t>& b) { put(b, slot0 + 4 * (7 + 2), 5); }},
      {"state 9", [&](std::vector<uint8_t>& b) { put(b, slot0 + 4 * 6, 9); }},
      {"active slot 8", [&](std::vector<uint8_t>& b) { put(b, 0, 8); }},
  };
  const std::vector<uint8_t> before = Save();
  for (const Bad& bad : bads) {
    SCOPED_TRACE(bad.name);
    std::vector<uint8_t> b = first;
    bad.edit(b);
    uint32_t at = 0;
    EXPECT_FALSE(action_restore(ctx, b, &at));
    EXPECT_EQ(at, 0u);
    EXPECT_EQ(Save(), before) << "nothing changed";
  }
  EXPECT_TRUE(log.Has(kDebugWindowError, "load error : action block"));

  // A block too large for what is left of the buffer: "save buffer over".
  std::vector<uint8_t> small(100);
  uint32_t used = 0;
  EXPECT_FALSE(action_save(ctx, small, &used));
  EXPECT_EQ(used, 0u);
  EXPECT_TRUE(log.Has(kDebugWindowError, "save buffer over"));
}

TEST_F(ActionBlockTest, ARestoredSlotStartsAgainFromItsFirstStepsNow) {
  Begin((R"(
    call action_move 0, 3, 100, 0, 200
    call action_move 0, 3, 100, 0, 200
    call action_run 0, 1000
)"));
  Frame();
  Frame(300);
  Frame(10);
  EXPECT_EQ(S(0).runs[0].stepIndex, 1);
  const std::vector<uint8_t> block = Save();
  uint32_t at = 0;
  ASSERT_TRUE(action_restore(ctx, block, &at));
  EXPECT_EQ(S(0).runs[0].stepIndex, 0);
  EXPECT_EQ(S(0).startTime, KivtimeGetTime());
  EXPECT_EQ(S(0).lines[0].handle, nullptr);
  for (int i = 0; i < 60; ++i) Frame(20);
  EXPECT_FALSE(S(0).running);
}

}  // namespace

// ---------------------------------------------------------------- the demo's scenes

namespace {

// The demo game's action block, run from its label on the demo's own data:
// Aoi's picture starts its motion, Ben's hop is cut short by a click with
// him at his place, the swing loops, and the curves end upright.
TEST_F(ActionTest, TheDemoScenesRunOnTheDemoData) {
  ASSERT_EQ(std::system(("cp -r '" DEMO_DATA_DIR "'/. '" + dir + "/'").c_str()), 0);
  Start(demo_script_source(KIV_SOURCE_DIR));
  ctx->script.pc = m->Pc("action_scenes");
  auto runUntil = [&](const std::function<bool()>& done, int limit) {
    for (int i = 0; i < limit && !done(); ++i) Frame(16);
    return done();
  };
  ASSERT_TRUE(runUntil([&] { return action_sync_running(ctx) != 0; }, 400)) << log.All();
  ASSERT_NE(Rec(10).motionSlot, 0) << "Aoi floats by her picture's motion";
  EXPECT_EQ(ctx->motions.records[Rec(10).motionSlot].state, kMotionStarted);
  for (int i = 0; i < 10; ++i) Frame(16);
  EXPECT_TRUE(action_sync_running(ctx));
  KivInputSetKeyPush(kLeftButton);
  Frame(16);
  KivInputClear();
  EXPECT_FALSE(action_sync_running(ctx)) << "a click cuts the hop short";
  EXPECT_EQ(Rec(11).t.aX, 1280 - 560);
  EXPECT_EQ(Rec(11).t.aY, 120);
  ASSERT_TRUE(runUntil([&] { return S(1).running && S(1).state == kActionLoopRun; }, 200));
  EXPECT_TRUE(action_sync_running(ctx)) << "the turn and swell";
  ASSERT_TRUE(runUntil([&] { return !action_sync_running(ctx); }, 200));
  EXPECT_TRUE(S(1).running) << "the swing loops on";
  EXPECT_EQ(Rec(11).t.aRot[2], 0);
  EXPECT_NEAR(Rec(11).t.aScale, 1.0f, 1e-5);
  EXPECT_EQ(Rec(11).t.colour >> 24, 255u);
  ASSERT_TRUE(runUntil([&] { return !S(1).running; }, 200)) << "the swing is cleared";
  EXPECT_FALSE(log.Has(kDebugWindowError, "over")) << log.All();
  EXPECT_FALSE(log.HasAny("読み込みに失敗")) << log.All();
}

}  // namespace
