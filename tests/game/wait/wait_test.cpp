// The waits and the script thread on the virtual clock: when each wait
// ends, what cuts one short, the clock's wrap, and the thread's entries
// frame by frame, a load included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "save/save.h"
#include "support/game_frames.h"
#include "wait/waits.h"

namespace {

using kivtest::GameFrameTest;

// The body runs once; r1 = 1 once it has passed; the script then stays.
std::string Script(const std::string& body, const std::string& extra = "") {
  return ".file \"UNUSED\"\nstart:\n" + body + "    mov r1, 1\nstay: call wait_frame\n    jmp @stay\n" + extra;
}

class WaitTest : public GameFrameTest {
 protected:
  // Frames of ms each until r1 is set; the number of frames it took (0
  // when it was not set within max frames).
  int FramesUntilPassed(uint32_t ms, int max) {
    for (int f = 1; f <= max; ++f) {
      Frame(ms);
      if (m->Reg(1) == 1) return f;
    }
    return 0;
  }
};

struct WaitCase {
  const char* name;
  const char* body;
  uint32_t clockStart;
  uint32_t frameMs;
  int frames;  // frames until the script passes; 0 = not within 40 frames
};

TEST_F(WaitTest, WaitsEndOnTheVirtualClockAsATable) {
  const WaitCase cases[] = {
      // The first run only starts the wait: even 0 ms ends on a later frame.
      // A timed wait yields on the frame it ends, so the script passes on
      // the frame after.
      {"wait 0, same frame time", "    call wait 0, 0\n", 1000, 0, 0},
      {"wait 0", "    call wait 0, 0\n", 1000, 1, 3},
      {"wait 100", "    call wait 100, 0\n", 1000, 16, 9},  // ends at 7 x 16 = 112 >= 100
      {"wait_click 50", "    call wait_click 50\n", 1000, 16, 6},
      {"wait_click_no_anim 50", "    call wait_click_no_anim 50\n", 1000, 16, 6},
      {"endless wait", "    call wait -1, 1\n", 1000, 100, 0},
      {"endless wait_click_no_anim", "    call wait_click_no_anim -1\n", 1000, 100, 0},
      {"wait_frame", "    call wait_frame\n", 1000, 0, 2},
      {"sync release already passed: its second run",
       "    call wait_sync_begin\n    call wait_frame\n    call wait_frame\n    call wait_sync_release 10\n", 1000, 16,
       4},
      {"sync release 100 from the base", "    call wait_sync_begin\n    call wait_sync_release 100\n", 1000, 16, 8},
      {"sync release without a base ends", "    call wait_sync_end\n    call wait_sync_release 100000\n", 1000, 16,
       2},
  };
  for (const WaitCase& c : cases) {
    SCOPED_TRACE(c.name);
    Start(Script(c.body));
    EXPECT_EQ(FramesUntilPassed(c.frameMs, 40), c.frames);
    EXPECT_EQ(ctx->valueStackDepth, 0);
    m.reset();
  }
}

// The engine starts just before the 32-bit clock wraps.
class WrapTest : public WaitTest {
 protected:
  WrapTest() { clockStart = 0xFFFFFFC0u; }
};

TEST_F(WrapTest, AWaitAcrossTheClocksWrapEndsOnTime) {
  Start(Script("    call wait 100, 0\n"));
  EXPECT_EQ(FramesUntilPassed(16, 20), 9);  // ends at 7 x 16 = 112 >= 100, passes on the next
}

TEST_F(WaitTest, AnEndlessWaitEndsOnlyBySkippingWhenAllowed) {
  for (int skippable : {0, 1}) {
    SCOPED_TRACE(skippable);
    Start(Script("    call wait -1, " + std::to_string(skippable) + "\n"));
    EXPECT_EQ(FramesUntilPassed(100, 5), 0);
    ctx->skipMode = 1;
    EXPECT_EQ(FramesUntilPassed(16, 3), skippable ? 2 : 0);
    EXPECT_EQ(ctx->waits.duration, skippable ? 0u : kWaitEndless);
    m.reset();
  }
}

TEST_F(WaitTest, ACutWaitEndsWithoutTouchingTheValueStack) {
  // The thread cuts the main script's endless wait, then runs a fresh wait
  // of its own, which pops its arguments as usual; the cut wait ends
  // without popping the 77 pushed before it.
  Start(Script("    push 77\n    call create_thread @cutter\n    call wait -1, 0\n",
               "cutter:\n    call wait_clear\n    call wait 5, 0\n    call clear_thread\n    ret\n"));
  // 1 the wait starts; 2 the thread cuts it and starts its own; 3 that ends;
  // 4 ret; 5 the cut wait ends; 6 the script passes.
  EXPECT_EQ(FramesUntilPassed(16, 10), 6);
  EXPECT_EQ(ctx->valueStackDepth, 1);
  EXPECT_EQ(ctx->valueStack[0], 77);
  EXPECT_EQ(ctx->waits.cancel, 0u);
  EXPECT_EQ(ctx->waits.duration, 0u);
}

TEST_F(WaitTest, PushAndPopKeepTheRunningWaitAcrossAnEventWait) {
  // The main script waits 200 ms; the thread puts that wait aside, waits 50
  // ms of its own and takes the main wait back, which ends on its own time.
  Start(Script("    call create_thread @event\n    call wait 200, 0\n",
               "event:\n    call clear_thread\n    call wait_time_push\n    call wait 50, 0\n"
               "    call wait_time_pop\n    ret\n"));
  Frame(16);  // the thread enters; the event's wait starts
  Frame(16);
  const int passed = FramesUntilPassed(10, 40);
  // The main wait started on the first frame (clock 1016) and ends when
  // 200 ms have passed: clock 1222, 19 frames of 10 ms after 1032; the
  // script passes on the frame after.
  EXPECT_EQ(passed, 20);
  EXPECT_EQ(ctx->valueStackDepth, 0);
}

TEST_F(WaitTest, SyncTimeIsZeroWithoutABase) {
  Start(".file \"UNUSED\"\nstart:\n    call wait_sync_get_time -> r2\n    call wait_sync_begin\n"
        "    call wait_frame\n    call wait_sync_get_time -> r3\n    call wait_sync_release 40\n"
        "    mov r1, 1\nstay: call wait_frame\n    jmp @stay\n");
  Frame(16);
  EXPECT_EQ(m->Reg(2), 0) << "no base: 0, not the clock";
  Frame(25);
  EXPECT_EQ(m->Reg(3), 25);
  // The log shows the time measured.
  EXPECT_TRUE(log.Has(10, "[0] wait_sync_get_time")) << log.All();
  EXPECT_TRUE(log.Has(10, "[25] wait_sync_get_time")) << log.All();
  EXPECT_EQ(FramesUntilPassed(5, 10), 3);  // 25 + 3 x 5 = 40
}

TEST_F(WaitTest, WaitClickUntilTheClickLeavesNoTimerRunning) {
  Start(Script("    call wait_click -1\n"));
  Frame();
  EXPECT_EQ(ctx->waits.duration, 0u);
  EXPECT_EQ(ctx->script.pointDepth, 1);
  EXPECT_EQ(m->Reg(1), 0);
  Frame(1000);
  EXPECT_EQ(m->Reg(1), 0) << "the script point holds the script";
}

TEST_F(WaitTest, TheThreadIsNotEnteredAgainBeforeItsRunReturns) {
  Start(Script("    call create_thread @tick\n",
               "tick:\n    add r5, 1\n    call wait 100, 0\n    ret\n"));
  std::vector<int> counts;
  for (int f = 0; f < 16; ++f) {
    Frame(16);
    EXPECT_LE(KivListGetDataCount(ctx->gameList, kGameListThreadReturns), 1);
    counts.push_back(m->Reg(5));
  }
  // Entered on frame 2 (create_thread runs on frame 1), back after its
  // 100 ms wait, entered again on the frame after.
  EXPECT_EQ(counts[0], 0);
  EXPECT_EQ(counts[1], 1);
  EXPECT_EQ(counts[7], 1);
  EXPECT_EQ(counts[9], 1);
  EXPECT_EQ(counts[10], 2);
  EXPECT_EQ(m->Reg(1), 1) << "the main script went on meanwhile";
}

TEST_F(WaitTest, AfterALoadTheThreadSkipsOneFrame) {
  Start(Script("    call create_thread @tick\n", "tick:\n    add u[r0], 1\n    ret\n"));
  Frame();
  Frame();
  Frame();
  ASSERT_EQ(ctx->userMemory[0], 2);
  std::vector<uint8_t> b(kSaveSnapshotBytes);
  uint32_t used = 0;
  ASSERT_TRUE(save_state_write(ctx, ctx->script.pc, b, &used));
  b.resize(used);
  ctx->userMemory[0] = 0;
  ASSERT_TRUE(save_state_load(ctx, b));
  EXPECT_EQ(ctx->thread.active, 1);
  EXPECT_EQ(ctx->thread.countdown, 1);
  EXPECT_EQ(ctx->userMemory[0], 2);
  Frame();
  EXPECT_EQ(ctx->userMemory[0], 2) << "the first frame after the load is skipped";
  Frame();
  EXPECT_EQ(ctx->userMemory[0], 3);
  // The record comes back whole; a target outside the code is refused.
  std::vector<uint8_t> blk(16);
  uint32_t n = 0;
  ASSERT_TRUE(script_thread_save(ctx, blk, &n));
  blk[12] = 0xF0;
  blk[15] = 0x7F;
  uint32_t cursor = 0;
  const ScriptThread before = ctx->thread;
  EXPECT_FALSE(script_thread_restore(ctx, blk, &cursor));
  EXPECT_EQ(cursor, 0u);
  EXPECT_EQ(ctx->thread.target, before.target);
}

}  // namespace
