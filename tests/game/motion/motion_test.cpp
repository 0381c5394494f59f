// Motions from assembled programs on the virtual clock: auto start and
// motion_start, timed changes at their ends, loops, children, the revert or
// keep of a freed motion, line moves, the op cap and bad files. And the four
// curves at their fixed points.
#include <cmath>
#include <functional>

#include "motion/curves.h"
#include "motion/motions.h"
#include "data/script_tables.h"
#include <thread>
#include "motion_fixture.h"
#include "core/system_state.h"
#include "platform/window/png_capture.h"
#include "render/soft_screen.h"
#include "support/golden_frame.h"

using motiontest::MotionTest;

namespace {

TEST(Curves, FixedPoints) {
  const struct {
    const char* name;
    float (*f)(uint32_t, uint32_t);
    float at0, half, at1;
  } curves[] = {
      {"ratio", curve_ratio, 0.0f, 0.5f, 1.0f},
      {"table", curve_table, 0.0f, 0.707107f, 1.0f},
      {"log80", curve_log80, 0.0f, 0.759f, 1.0f},
      {"log55", curve_log55, 0.0f, 0.166f, 1.0f},
  };
  for (const auto& c : curves) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(c.f(0, 1000), c.at0, 1e-6);
    EXPECT_NEAR(c.f(500, 1000), c.half, 1e-3);
    EXPECT_NEAR(c.f(1000, 1000), c.at1, 1e-6);
    EXPECT_NEAR(c.f(5000, 1000), 1.0f, 1e-6) << "past the end";
    EXPECT_NEAR(c.f(0, 1), c.at0, 1e-6) << "T = 1";
    EXPECT_NEAR(c.f(1, 1), 1.0f, 1e-6) << "T = 1";
    EXPECT_NEAR(c.f(3, 0), 1.0f, 1e-6) << "T = 0 counts as done";
  }
  EXPECT_NEAR(curve_table(500, 1000), 0.707107f, 1e-6);
  EXPECT_EQ(curve_by_bits(0x2 | 0x1, 500, 1000), curve_log80(500, 1000));
  EXPECT_EQ(curve_by_bits(0x5, 500, 1000), curve_log55(500, 1000));
  EXPECT_EQ(curve_by_bits(0x4, 500, 1000), curve_table(500, 1000));
  EXPECT_EQ(curve_by_number(7, 500, 1000), 0.5f);
}

class MotionProgramTest : public MotionTest {
 protected:
  void SetUp() override {
    MotionTest::SetUp();
    Start(".file \"UNUSED\"\n    nop\n");
    Frame(0);  // the frame time the loads start from
    live0 = KivMemoryLive();
  }
  // A record without a sprite: motions only write its terms.
  SpriteRecord* Record(int layer = 3) { return sprite_record_init(ctx, kSpriteKindLayer, layer); }
  int Load(SpriteRecord* r, const std::string& source) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(kani::Assemble(source, "test.ani", &bytes, &error)) << error;
    return motion_load_image(ctx, r, bytes, "test");
  }
  MotionRecord& M(const SpriteRecord* r) { return ctx->motions.records[r->motionSlot]; }
  int live0 = 0;
};

TEST_F(MotionProgramTest, AutoStartRunsAtLoadOthersWaitForStart) {
  SpriteRecord* a = Record(3);
  SpriteRecord* b = Record(4);
  ASSERT_EQ(Load(a, ".entry go\ngo: auto\n move 100, 0, 0\n wait 100000\n"), 1);
  ASSERT_EQ(Load(b, ".entry go\ngo: move 100, 0, 0\n wait 100000\n"), 1);
  EXPECT_EQ(a->t.f.x, 100) << "op 0 over 0 ms: the whole offset on the first update";
  EXPECT_EQ(M(a).state, kMotionAutoStarted);
  EXPECT_EQ(M(b).state, kMotionWaitingStart);
  Frame(50);
  EXPECT_EQ(b->t.f.x, 0);
  motion_start(ctx, b->motionSlot);
  EXPECT_EQ(b->t.f.x, 100);
  EXPECT_EQ(M(b).state, kMotionStarted);
}

TEST_F(MotionProgramTest, A99MsMoveSettlesExactlyAndNeverCountsAFrameTwice) {
  SpriteRecord* r = Record();
  ASSERT_EQ(Load(r, "auto\n move 100, 0, 99\n scale 50, 99\n wait 1\n wait 1\n wait 1\n wait 100000\n"), 1);
  EXPECT_EQ(r->t.frame.dX, 0);
  int lastX = 0;
  for (int t = 10; t < 100; t += 10) {
    Frame(10);
    // Linear from the first ms on; several stops a frame add it once.
    EXPECT_NEAR(r->t.frame.dX, t, 1) << t;
    EXPECT_NEAR(r->t.frame.cScale, 0.5f * t / 100.0f, 1e-5) << t;
    EXPECT_GE(r->t.frame.dX, lastX);
    lastX = r->t.frame.dX;
    EXPECT_EQ(r->t.f.x, 0);
  }
  Frame(10);  // 100 ms
  EXPECT_EQ(r->t.f.x, 100);
  EXPECT_FLOAT_EQ(r->t.f.scale, 0.5f);
  EXPECT_EQ(r->t.frame.dX, 0);
  EXPECT_FALSE(M(r).move.active);
}

TEST_F(MotionProgramTest, WaitsAndPausesHoldTheProgram) {
  const struct {
    const char* hold;
    int notYet, done;  // ms after load: still held, and gone on
  } cases[] = {
      {"wait 30", 30, 40}, {"pause 30", 30, 40}, {"wait_random 5, 5", 5, 10}, {"wait_random 10, 20", 10, 40},
      {"pause 0", 0, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hold);
    SpriteRecord* r = Record();
    ASSERT_EQ(Load(r, std::string("auto\n ") + c.hold + "\n shift 1, 0\n wait 100000\n"), 1);
    EXPECT_EQ(r->t.f.x, 0);
    if (c.notYet) Frame(static_cast<uint32_t>(c.notYet));
    EXPECT_EQ(r->t.f.x, 0);
    Frame(static_cast<uint32_t>(c.done - c.notYet));
    EXPECT_EQ(r->t.f.x, 1);
    sprite_record_release(ctx, r);
  }
}

TEST_F(MotionProgramTest, ALoopWithAWaitRunsUntilFreedAndRevertsUnlessKept) {
  for (bool keep : {false, true}) {
    SCOPED_TRACE(keep);
    SpriteRecord* r = Record();
    const std::string source = std::string(".entry go\ngo: auto\n") + (keep ? " keep\n" : "") +
                               "top: shift 10, 0\n rotate 0, 0, 30, 0\n alpha -20, 0\n wait 49\n jump top\n";
    ASSERT_EQ(Load(r, source), 1);
    for (int i = 0; i < 10; ++i) Frame(50);
    EXPECT_EQ(r->t.f.x, 110);
    EXPECT_GT(r->motionSlot, 0);
    motion_free(ctx, r->motionSlot);
    EXPECT_EQ(r->motionSlot, 0);
    EXPECT_EQ(r->t.f.x, 0);
    EXPECT_EQ(r->t.bX, keep ? 110 : 0);
    EXPECT_EQ(r->t.bRot[2], keep ? 330 : 0);
    EXPECT_EQ(r->t.colour >> 24, keep ? 35u : 255u);
    EXPECT_EQ(KivMemoryLive(), live0);
    sprite_record_release(ctx, r);
  }
}

TEST_F(MotionProgramTest, ChildrenRunBesideTheirParentAndEndWithIt) {
  SpriteRecord* r = Record();
  ASSERT_EQ(Load(r, R"(
.entry go
go: auto
    child 0, sway
    child 0, sway      ; a busy slot: the old child goes first
    child 9, sway      ; no such slot: ignored
    child 1, drift
    move_log55 0, -40, 400
    wait 1000000
sway: move 0, 5, 0
    wait 99
    move 0, -5, 0
    wait 99
    jump sway
drift: move 30, 0, 200
    wait 200
    end
)"),
            1);
  EXPECT_EQ(motion_live_count(ctx), 3);
  EXPECT_TRUE(log.Has(kDebugWindowError, "motion child slot"));
  for (int i = 0; i < 5; ++i) Frame(50);
  EXPECT_EQ(motion_live_count(ctx), 2) << "the drift child ended and was freed";
  EXPECT_EQ(r->t.f.x, 30);
  Frame(50);  // in the middle of the parent's move
  EXPECT_LT(r->t.frame.dY, 0);
  motion_free(ctx, r->motionSlot);
  EXPECT_EQ(motion_live_count(ctx), 0);
  EXPECT_EQ(KivMemoryLive(), live0);
}

TEST_F(MotionProgramTest, FreeingMidMoveSettlesTheWholeMoveFirst) {
  SpriteRecord* r = Record();
  ASSERT_EQ(Load(r, "auto\n keep\n move_sine 100, 50, 1000\n alpha -300, 1000\n wait 100000\n"), 1);
  Frame(500);
  EXPECT_GT(r->t.frame.dX, 0);
  motion_free(ctx, r->motionSlot);
  EXPECT_EQ(r->t.bX, 100);
  EXPECT_EQ(r->t.bY, 50);
  EXPECT_EQ(r->t.colour >> 24, 0u) << "alpha clamped at 0";
  EXPECT_EQ(r->t.frame.dX, 0);
}

TEST_F(MotionProgramTest, LineMovesEndAtExactlyTheirOffset) {
  const struct {
    int dx, dy, frames;
  } cases[] = {{3, 4, 5}, {0, 0, 0}, {-7, 2, 8}, {1000, 1, 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.dx) + "," + std::to_string(c.dy));
    SpriteRecord* r = Record();
    ASSERT_EQ(Load(r, "auto\n line " + std::to_string(c.dx) + ", " + std::to_string(c.dy) +
                          ", 10\n shift 0, 1000\n wait 100000\n"),
              1);
    int f = 0;
    while (M(r).line.active && f < 2000) {
      Frame(10);
      ++f;
    }
    EXPECT_LE(f, c.frames + 1);
    Frame(10);
    EXPECT_EQ(r->t.f.x, c.dx);
    EXPECT_EQ(r->t.f.y, c.dy + 1000) << "the program went on after the line move";
    sprite_record_release(ctx, r);
  }
}

TEST_F(MotionProgramTest, ProgramsThatNeverWaitAreEndedByTheOpCap) {
  for (const char* source : {"auto\ntop: nop\n jump top\n", "auto\ntop: cell 0, 0\n jump top\n",
                             "auto\ntop: keep\n jump top\n"}) {
    SCOPED_TRACE(source);
    SpriteRecord* r = Record();
    Load(r, source);
    Frame(10);
    Frame(10);
    EXPECT_EQ(r->motionSlot, 0) << "ended and freed";
    EXPECT_EQ(motion_live_count(ctx), 0);
  }
  EXPECT_TRUE(log.Has(kDebugWindowError, "ops without waiting"));
}

TEST_F(MotionProgramTest, BadProgramsEndAndBadFilesAreRefused) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int loaded;
    bool runs;  // still alive after a frame
  };
  auto withTail = [](std::vector<uint8_t> code, uint32_t entry, std::vector<uint32_t> labels = {}) {
    for (size_t n = labels.size(); n-- > 0;)
      for (int i = 0; i < 4; ++i) code.push_back(static_cast<uint8_t>(labels[n] >> (8 * i)));
    for (uint32_t w : {0u, entry})
      for (int i = 0; i < 4; ++i) code.push_back(static_cast<uint8_t>(w >> (8 * i)));
    return code;
  };
  const Case cases[] = {
      {"seven bytes", {0xFC, 0, 0, 0, 0, 0, 0}, 0, false},
      {"entry outside", withTail({0xFC}, 500), 0, false},
      {"jump to a missing label", withTail({0xFC, 10, 3, 0, 0, 0}, 0), 1, false},
      {"label offset outside", withTail({0xFC, 10, 0, 0, 0, 0}, 0, {9999}), 1, false},
      {"op cut off by the end", withTail({0xFC, 1}, 0), 1, false},  // op 1's operand runs into the tail
      {"op 5 ends", withTail({0xFC, 5}, 0), 1, false},
      {"op 8 with high = low waits", withTail({0xFC, 8, 5, 0, 0, 0, 5, 0, 0, 0, 1, 0x10, 0x27, 0, 0}, 0), 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SpriteRecord* r = Record();
    EXPECT_EQ(motion_load_image(ctx, r, c.bytes, "bad"), c.loaded);
    Frame(10);
    EXPECT_EQ(r->motionSlot != 0, c.runs);
    sprite_record_release(ctx, r);
  }
  EXPECT_EQ(motion_live_count(ctx), 0);
  EXPECT_EQ(KivMemoryLive(), live0);
}

TEST_F(MotionProgramTest, FilesLoadByNameAndAllRecordsBusyFailsTheLoad) {
  WriteMotion("FLOAT.ani", ".entry go\ngo: auto\n move 0, -10, 0\n wait 100000\n");
  SpriteRecord* r = Record();
  EXPECT_EQ(motion_load(ctx, r, "float"), 1);
  EXPECT_EQ(r->t.f.y, -10);
  EXPECT_EQ(motion_load(ctx, r, "nosuch"), 0);
  EXPECT_TRUE(log.Has(kDebugWindowError, "[nosuch] の読み込みに失敗"));
  sprite_record_release(ctx, r);
  EXPECT_EQ(motion_live_count(ctx), 0);

  for (int i = 0; i < kMotionCount; ++i)
    ASSERT_EQ(motion_load(ctx, sprite_record_init(ctx, kSpriteKindLayer, i), "float"), 1) << i;
  SpriteRecord* extra = sprite_record_init(ctx, kSpriteKindGame, 0);
  EXPECT_EQ(motion_load(ctx, extra, "float"), 0);
  EXPECT_EQ(extra->motionSlot, 0);
  EXPECT_TRUE(log.Has(kDebugWindowError, "no free motion record"));
  motion_reset(ctx);
  EXPECT_EQ(motion_live_count(ctx), 0);
  EXPECT_EQ(ctx->motions.live, nullptr);
  EXPECT_EQ(KivMemoryLive(), live0);
}

TEST_F(MotionProgramTest, NumbersFromOutsideAreChecked) {
  SpriteRecord* a = Record(3);
  SpriteRecord* b = Record(4);
  ASSERT_EQ(Load(a, "move 10, 0, 0\n wait 100000\n"), 1);
  const int n = a->motionSlot;
  for (int bad : {-1, 129, 100000, 77}) {
    motion_start(ctx, bad);
    motion_show(ctx, bad);
    motion_free(ctx, bad);
  }
  EXPECT_EQ(M(a).state, kMotionWaitingStart);
  // A record that wrongly holds another's number cannot free it.
  b->motionSlot = n;
  EXPECT_EQ(motion_get(ctx, n), &ctx->motions.records[n]);
  a->motionSlot = 0;
  EXPECT_EQ(motion_get(ctx, n), nullptr);
  motion_free(ctx, n);
  EXPECT_TRUE(ctx->motions.records[n].inUse);
  a->motionSlot = n;
  b->motionSlot = 0;
  motion_show(ctx, n);
  EXPECT_EQ(a->t.f.x, 10);
  motion_free(ctx, n);
  EXPECT_FALSE(ctx->motions.records[n].inUse);
}

}  // namespace

// ---------------------------------------------------------------- golden frames

namespace {

class MotionGoldenTest : public MotionTest {
 protected:
  void SetUp() override {
    MotionTest::SetUp();
    WriteImage("SKY.PGD", motiontest::Sky());
    WriteImage("BEN.PGD", motiontest::Figure(0x3060C0));
    WriteImage("AOI.PGD", motiontest::Figure(0xE07090));
  }
  void ExpectGolden(const char* name) {
    expect_golden_frame(name, g_kiv->soft->backBuffer);
  }
};

// Ben comes in from the right in three hops (the demo's action): part way
// through the first hop, between hops, and at his place.
TEST_F(MotionGoldenTest, TheHopAtThreeTimes) {
  Start(R"(
.file "UNUSED"
    call sp_set_ex file"SKY", 0, 0, 0
    call sp_set_ex file"BEN", 11, 1060, 300
    call run 0, 0, 0
    call action_move_curve1 0, 11, -440, 0, 900
    call action_move_curve3 1, 11, 0, -90, 150
    call action_move_curve2 1, 11, 0, 90, 150
    call action_move_curve3 1, 11, 0, -70, 150
    call action_move_curve2 1, 11, 0, 70, 150
    call action_move_curve3 1, 11, 0, -50, 150
    call action_move_curve2 1, 11, 0, 50, 150
    call action_rotate_curve 2, 11, 3, 0, 0, -10, 450
    call action_rotate_curve 2, 11, 2, 0, 0, 10, 450
    call action_sync_run 0, 1000
)");
  Frame(0);  // the pictures
  Frame(16);  // the action starts
  for (int t = 0; t < 128; t += 16) Frame(16);
  ExpectGolden("motion_hop_1.png");
  for (int t = 128; t < 448; t += 16) Frame(16);
  ExpectGolden("motion_hop_2.png");
  for (int t = 448; t < 1008; t += 16) Frame(16);
  EXPECT_EQ(action_sync_running(ctx), 0);
  EXPECT_EQ(Rec(11).t.aX, 620);
  ExpectGolden("motion_hop_3.png");
}

// A kept motion's end: Aoi moved, turned, grown and faded by a motion that
// made its result permanent, after the motion is gone.
TEST_F(MotionGoldenTest, AKeptMotionsEnd) {
  WriteMotion("AOI_TURN.ani", R"(
.entry go
go: auto
    keep
    move_log55 -300, -60, 300
    rotate 0, 0, 20, 300
    scale 40, 300
    alpha -90, 300
    wait 320
    end
)");
  Start(R"(
.graphic "AOI_TURN" file="AOI" motion="AOI_TURN"
.file "UNUSED"
    call sp_set_ex file"SKY", 0, 0, 0
    call sp_set_ex file"AOI_TURN", 10, 700, 300
    call run 0, 0, 0
)");
  Frame(0);
  ASSERT_NE(Rec(10).motionSlot, 0) << log.All();
  for (int i = 0; i < 30; ++i) Frame(16);
  EXPECT_EQ(Rec(10).motionSlot, 0) << "ended and freed";
  EXPECT_EQ(Rec(10).t.bX, -300);
  EXPECT_EQ(Rec(10).t.bRot[2], 20);
  EXPECT_NEAR(Rec(10).t.bScale, 0.4f, 1e-5);
  EXPECT_EQ(Rec(10).t.colour >> 24, 165u);
  ExpectGolden("motion_kept_end.png");
}

}  // namespace

// ---------------------------------------------------------------- numbers, threads, records, saves

namespace {

TEST(ImageNumbers, EachKindKeepsToItsOwnRecords) {
  const struct {
    uint32_t number;
    int32_t record;
  } cases[] = {
      {0x00000000u, 16},  {0x0000007Fu, 143}, {0x00000080u, -1},  {0x01000000u, 0},  {0x0100000Fu, 15},
      {0x01000010u, -1},  {0x02000000u, 144}, {0x0270007Fu, 1167}, {0x02800000u, -1}, {0x02000080u, -1},
      {0x03000000u, -1},  {0xFFFFFFFFu, -1},
  };
  for (const auto& c : cases) EXPECT_EQ(image_no_to_index(c.number), c.record) << std::hex << c.number;
}

TEST_F(MotionProgramTest, LoadsFromAnotherThreadAreRefused) {
  SpriteRecord* r = Record();
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(kani::Assemble("auto\n move 5, 0, 0\n wait 1000\n", "t", &bytes, &error));
  int got = -1;
  std::thread([&] { got = motion_load_image(ctx, r, bytes, "t"); }).join();
  EXPECT_EQ(got, 0);
  EXPECT_EQ(r->motionSlot, 0);
  EXPECT_TRUE(log.Has(kDebugWindowError, "motions belong to the game thread"));
  EXPECT_EQ(motion_load_image(ctx, r, bytes, "t"), 1);
}

TEST_F(MotionProgramTest, ARecordMadeAgainLetsItsMotionGo) {
  SpriteRecord* r = Record();
  ASSERT_EQ(Load(r, "auto\n keep\n move 5, 0, 0\n wait 1000\n"), 1);
  Record();  // the same record, made again without a release
  EXPECT_EQ(motion_live_count(ctx), 0);
  EXPECT_EQ(r->t.f.x, 0);
  // An orphan (its record wiped behind its back) goes on the next frame
  // without writing into the record.
  ASSERT_EQ(Load(r, "auto\n move 5, 0, 100\n wait 1000\n"), 1);
  r->motionSlot = 0;
  Frame(10);
  EXPECT_EQ(motion_live_count(ctx), 0);
  EXPECT_EQ(r->t.frame.dX, 0);
  EXPECT_EQ(KivMemoryLive(), live0);
}

TEST_F(MotionGoldenTest, ALayerRestoreLoadsMotionsAfreshAndIgnoresSavedNumbers) {
  WriteMotion("BOB.ani", ".entry go\ngo: auto\ntop: move 0, -10, 100\n wait 200\n jump top\n");
  Start(R"(
.graphic "AOI_BOB" file="AOI" motion="BOB"
.file "UNUSED"
    call sp_set_ex file"AOI_BOB", 10, 100, 100
    call sp_set_ex file"SKY", 11, 0, 0
    call run 0, 0, 0
)");
  Frame(0);
  ASSERT_NE(Rec(10).motionSlot, 0);
  // A save that lies: layer 11 names layer 10's motion.
  Rec(11).motionSlot = Rec(10).motionSlot;
  std::vector<uint8_t> buf(0x100000);
  uint32_t used = 0;
  ASSERT_TRUE(layer_save(ctx, buf, &used));
  Rec(11).motionSlot = 0;
  uint32_t cursor = 0;
  ASSERT_TRUE(layer_restore(ctx, buf, &cursor)) << log.All();
  EXPECT_EQ(Rec(11).motionSlot, 0);
  ASSERT_NE(Rec(10).motionSlot, 0);
  EXPECT_NE(motion_get(ctx, Rec(10).motionSlot), nullptr);
  EXPECT_EQ(motion_live_count(ctx), 1);
  for (int i = 0; i < 5; ++i) Frame(50);
  EXPECT_LT(Rec(10).t.f.y, 0) << "the restored motion runs";
}

}  // namespace
