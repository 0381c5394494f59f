// The script machine: core instructions and operand tags over assembled
// snippets, the stacks, return points, script points, the blocking
// contract, holes, and code that lies about its own length.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "vm/command_tables.h"
#include "platform/core/text_encoding.h"
#include "platform/window/message_box.h"
#include "support/vm_harness.h"

using vmtest::LogCapture;
using vmtest::Machine;
using vmtest::ScopedBinding;

namespace {

struct RegisterCase {
  const char* name;
  const char* source;
  std::vector<std::pair<int, int32_t>> expect;  // register, value
};

class CoreInstructions : public ::testing::TestWithParam<RegisterCase> {};

TEST_P(CoreInstructions, GiveTheirResult) {
  const RegisterCase& c = GetParam();
  LogCapture log;
  Machine m(c.source);
  ASSERT_TRUE(m.ok);
  m.RunToEnd();
  for (auto [reg, value] : c.expect) EXPECT_EQ(m.Reg(reg), value) << "r" << reg << "\n" << c.source;
  EXPECT_FALSE(log.Has(kDebugWindowError, "")) << log.All();
}

const RegisterCase kCoreCases[] = {
    {"MovImmediate", "mov r1, 5\nmov r2, -1\nmov r3, -1610612736\nmov r4, 0x0FFFFFFF",
     {{1, 5}, {2, -1}, {3, -1610612736}, {4, 0x0FFFFFFF}}},
    {"MovLargeConstant", "mov r1, 0x7FFFFFFF\nmov r2, 0x10000003\nmov r3, -1610612737",
     {{1, 0x7FFFFFFF}, {2, 0x10000003}, {3, -1610612737}}},
    {"AddWraps", "mov r1, 0x7FFFFFFF\nadd r1, 1\nmov r2, -1\nadd r2, -1", {{1, INT_MIN}, {2, -2}}},
    {"SubWraps", "mov r1, 0x80000000\nsub r1, 1\nmov r2, 3\nsub r2, 5", {{1, INT_MAX}, {2, -2}}},
    {"MulKeepsLow32Bits", "mov r1, 0x10000\nmul r1, 0x10000\nmov r2, 0x7FFFFFFF\nmul r2, 2\nmov r3, -3\nmul r3, 7",
     {{1, 0}, {2, -2}, {3, -21}}},
    {"DivTruncatesTowardZero", "mov r1, -7\ndiv r1, 2\nmov r2, 7\ndiv r2, -2\nmov r3, 9\ndiv r3, 3",
     {{1, -3}, {2, -3}, {3, 3}}},
    {"DivByZeroLeavesDst", "mov r1, 9\ndiv r1, 0\nmov r2, -4\nmov r3, 0\ndiv r2, r3", {{1, 9}, {2, -4}}},
    {"DivMostNegativeByMinusOne", "mov r1, 0x80000000\ndiv r1, -1", {{1, INT_MIN}}},
    {"ModSignOfDst", "mov r1, -7\nmod r1, 2\nmov r2, 7\nmod r2, -2\nmov r3, 9\nmod r3, 0",
     {{1, -1}, {2, 1}, {3, 9}}},
    {"ModMostNegativeByMinusOne", "mov r1, 0x80000000\nmod r1, -1", {{1, 0}}},
    {"Bitwise", "mov r1, 12\nand r1, 10\nmov r2, 12\nor r2, 3\nmov r3, 12\nxor r3, 10",
     {{1, 8}, {2, 15}, {3, 6}}},
    {"ShiftLeftMasksTo5Bits", "mov r1, 1\nshl r1, 31\nmov r2, 5\nshl r2, 32\nmov r3, 1\nshl r3, 33",
     {{1, INT_MIN}, {2, 5}, {3, 2}}},
    {"ShiftRightIsArithmetic",
     "mov r1, -8\nsar r1, 1\nmov r2, 0x80000000\nsar r2, 31\nmov r3, 64\nsar r3, 32\nmov r4, 64\nsar r4, 35",
     {{1, -4}, {2, -1}, {3, 64}, {4, 8}}},
    {"ComparisonsAreSigned",
     "mov r1, -1\nlt r1, 1\nmov r2, -1\ngt r2, 1\nmov r3, 4\nle r3, 4\nmov r4, 4\nge r4, 5\n"
     "mov r5, 7\neq r5, 7\nmov r6, 7\nne r6, 7",
     {{1, 1}, {2, 0}, {3, 1}, {4, 0}, {5, 1}, {6, 0}}},
    {"LogicalOrAnd", "mov r1, 0\nlor r1, 3\nmov r2, 0\nlor r2, 0\nmov r3, 2\nland r3, 3\nmov r4, 2\nland r4, 0",
     {{1, 1}, {2, 0}, {3, 1}, {4, 0}}},
    {"NotAndNeg", "mov r1, 0\nnot r1\nmov r2, 5\nnot r2\nmov r3, 5\nneg r3\nmov r4, 0x80000000\nneg r4",
     {{1, 1}, {2, 0}, {3, -5}, {4, INT_MIN}}},
    {"PushPopIsLastInFirstOut", "push 1\npush 2\npush 3\npop r1\npop r2\npop r3", {{1, 3}, {2, 2}, {3, 1}}},
    {"FrameSlotsCountFromTheFirstPushed",
     "push 10\npush 20\npush 30\nframe_push 3\nmov r1, f[1]\nmov r2, f[2]\nmov r3, f[3]\nframe_release 3\n"
     "push 5\nframe_push 1\nmov r4, f[1]",
     {{1, 10}, {2, 20}, {3, 30}, {4, 5}}},
    {"FramePushOfNothing", "push 7\nframe_push 0\nframe_push -2\npop r1", {{1, 7}}},
    {"JzFallsThroughOnNonZero", "mov r1, 5\njz @skip, r1\nmov r2, 1\nskip:\nmov r3, 1", {{2, 1}, {3, 1}}},
    {"JzJumpsOnZero", "mov r1, 0\njz @skip, r1\nmov r2, 1\nskip:\nmov r3, 1", {{2, 0}, {3, 1}}},
    {"JmpThroughARegister", "mov r1, @there\njmp r1\nmov r2, 1\nthere:\nmov r3, 1", {{2, 0}, {3, 1}}},
    {"LabelZeroIsTheFirstCodeWord", "add r1, 1\nmov r2, r1\nlt r2, 3\njz @out, r2\njmp 0\nout:", {{1, 3}}},
    {"NopDoesNothing", "nop\nmov r1, 1\nnop", {{1, 1}}},
    {"GosubAndRet", "gosub @sub\nadd r1, 100\njmp @out\nsub:\nadd r1, 1\nret\nout:", {{1, 101}}},
    // Operand tags.
    {"UserMemory", "mov r5, 3\nmov u[r5], 42\nmov r6, 2\nadd r6, 1\nmov r1, u[r6]", {{1, 42}}},
    {"SystemVariables", "mov r5, 511\nmov s[r5], -9\nmov r1, s[r5]", {{1, -9}}},
    {"ValueStackSlotIsAbsolute", "push 11\npush 22\nmov r1, stack[0]\nmov r2, stack[1]\nmov stack[0], 5\npop r3\npop r4",
     {{1, 11}, {2, 22}, {3, 22}, {4, 5}}},
    {"TemporaryAreaAddsBaseOnlyWithAnOffset",
     "mov base, 100\nmov r1, 7\nmov t[r1], 1\nmov t[r1 + 3], 2\nmov r9, 110\nmov r2, t[r9]\nmov r9, 7\nmov r3, t[r9]\n"
     "mov r4, base",
     {{2, 2}, {3, 1}, {4, 100}}},
    {"MemTableByOffset", ".table tab 5, 6, 7\nmov r1, 2\nmov r2, m[r1 + tab]\nmov m[r1 + tab], 70\nmov r3, m[r1 + tab]",
     {{2, 7}, {3, 70}}},
    {"MemTableByDescriptor", ".table first 1, 2\n.table second 30, 40, 50\nmov r1, 1\nmov r2, mt[second][r1]\n"
     "mov r3, mt[first][r1]",
     {{2, 40}, {3, 2}}},
    {"ForwardTableReference", "mov r1, 0\nmov r2, m[r1 + later]\nmov r3, mt[later][r1]\nmov r4, later\n.table later 99",
     {{2, 99}, {3, 99}, {4, 1}}},
    {"RawOperandWords", ".word 0x00010001, 0x40000001, 0xFFFFFFFF\nmov r5, 4\n.word 0x00010001, 0x10000005, 8\n"
     "mov r2, u[r5]",
     {{1, -1}, {2, 8}}},
};

INSTANTIATE_TEST_SUITE_P(Vm, CoreInstructions, ::testing::ValuesIn(kCoreCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Refused operands and bad words ----

struct RefusalCase {
  const char* name;
  const char* source;
  const char* line;  // expected in debug window 0
  std::vector<std::pair<int, int32_t>> expect;
};

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, AreLoggedAndTheRunGoesOn) {
  const RefusalCase& c = GetParam();
  LogCapture log;
  Machine m(c.source);
  ASSERT_TRUE(m.ok);
  m.RunToEnd();
  EXPECT_TRUE(log.Has(kDebugWindowError, c.line)) << log.All();
  for (auto [reg, value] : c.expect) EXPECT_EQ(m.Reg(reg), value) << "r" << reg;
  EXPECT_EQ(m.Reg(100), 1) << "the run goes on after the refusal";
}

const RefusalCase kRefusals[] = {
    {"UserMemoryBeyondItsEnd", "mov r5, 1024\nmov u[r5], 7\nmov r1, 3\nmov r1, u[r5]\nmov r100, 1",
     "user memory out of range: 1024", {{1, 0}}},
    {"NegativeTemporaryIndex", "mov r5, -1\nmov r1, 3\nmov r1, t[r5]\nmov r100, 1", "temporary area out of range: -1",
     {{1, 0}}},
    {"TemporaryWithBaseBeyond", "mov base, 4090\nmov r5, 0\nmov t[r5 + 5], 1\nmov r100, 1", "temporary area out of range: 4095",
     {}},
    {"RegisterBeyond254", ".word 0x00010001, 0x400000FF, 5\nmov r100, 1", "operand register out of range: 255", {}},
    {"StackSlotBeyond31", ".word 0x00010001, 0x30000020, 5\nmov r100, 1", "value stack slot out of range: 32", {}},
    {"FrameSlotBelowZero", "mov r1, 4\nmov r1, f[1]\nmov r100, 1", "frame slot out of range: -1", {{1, 0}}},
    {"MemElementBeyond", ".table tab 1\nmov r5, 9\nmov r1, 4\nmov r1, m[r5]\nmov r100, 1", "Mem.dat element out of range: 9",
     {{1, 0}}},
    {"MemDescriptorBeyond", "mov r5, 0\nmov r1, 4\nmov r1, mt[300][r5]\nmov r100, 1", "Mem.dat element out of range: 300",
     {{1, 0}}},
    {"FrameReleaseBelowZero", "frame_release 1\nmov r100, 1", "frame_release frame pointer out of range: -1", {}},
    {"CoreOpcodeZero", ".word 0x00010000\nmov r100, 1", "内部コマンドエラー。code = [0x00010000]", {}},
    {"CoreOpcode34", ".word 0x00010022\nmov r100, 1", "内部コマンドエラー。code = [0x00010022]", {}},
    {"CommandWordOutsideACall", ".word 0x00020000\nmov r100, 1", "[16]内部コマンドエラー。code = [0x00020000]", {}},
    {"PopOfAnEmptyStack", "mov r1, 5\npop r1\nmov r100, 1", "not stack", {{1, 0}}},
    {"HoleInAGroup", ".word 0x00010017, 0x00030000, 5\nmov r100, 1", "[24]内部エラー。code = [0x00030000]", {}},
    {"IndexBeyondAGroup", ".word 0x00010017, 0x00160002, 5\nmov r100, 1", "[24]内部エラー。code = [0x00160002]", {}},
    {"GroupWithoutATable", ".word 0x00010017, 0x00010001, 5\nmov r100, 1", "[24]内部エラー。code = [0x00010001]", {}},
    {"GroupBeyond23", ".word 0x00010017, 0x00180000, 5\nmov r100, 1", "[24]内部エラー。code = [0x00180000]", {}},
    {"CommandNotBuiltYet", "call history_begin\nmov r100, 1", "[24]内部エラー。code = [0x000E0001]", {}},
};

INSTANTIATE_TEST_SUITE_P(Vm, Refusals, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// A jump to a label that Point.dat does not hold (jmp, jz taken, gosub)
// stops the script with its lines and an error box: running on would reach
// code the script never meant to run, its saves among it.
TEST(Vm, AJumpToAMissingLabelStopsTheScript) {
  const char* const sources[] = {"jmp 99\nmov r100, 1", "mov r1, 0\njz 99, r1\nmov r100, 1", "gosub 99\nmov r100, 1"};
  for (const char* source : sources) {
    SCOPED_TRACE(source);
    LogCapture log;
    plat::HeadlessBoxReset();
    Machine m(source);
    ASSERT_TRUE(m.ok);
    m.RunToEnd();
    EXPECT_TRUE(log.Has(kDebugWindowError, "Point.dat label out of range: 99")) << log.All();
    EXPECT_TRUE(log.Has(kDebugWindowError, "jump label error : 99")) << log.All();
    EXPECT_TRUE(log.Has(kDebugWindowError, "内部エラー。code = [0x0001")) << log.All();
    EXPECT_EQ(m.Reg(100), 0) << "nothing after the jump ran";
    EXPECT_EQ(m.ctx->script.pc, m.ctx->script.codeSize);
    const auto boxes = plat::HeadlessBoxLog();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(plat::Cp932ToUtf8(boxes[0].text).find("label 99"), std::string::npos) << plat::Cp932ToUtf8(boxes[0].text);
  }
}

TEST(Vm, ImmediateOperandWordsAreThemselves) {
  Machine m("");
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(*operand_cell(m.ctx, 0xFFFFFFFF), -1);
  EXPECT_EQ(operand_cell(m.ctx, 0xFFFFFFFF), &m.ctx->immediate);
  EXPECT_EQ(*operand_cell(m.ctx, 0xA0000000), static_cast<int32_t>(0xA0000000));
  m.ctx->registers[5] = 17;
  EXPECT_EQ(operand_cell(m.ctx, 0x10000005), &m.ctx->userMemory[17]);
  EXPECT_EQ(operand_cell(m.ctx, 0x90000000), &m.ctx->baseRegister);
  // A write to an immediate goes to the immediate cell alone.
  *operand_cell(m.ctx, 0x00000005) = 99;
  EXPECT_EQ(m.ctx->registers[5], 17);
}

TEST(Vm, StackHoldsThirtyTwoValues) {
  LogCapture log;
  std::string source;
  for (int i = 1; i <= 33; ++i) source += "push " + std::to_string(i) + "\n";
  Machine m(source);
  ASSERT_TRUE(m.ok);
  m.RunToEnd();
  EXPECT_EQ(m.ctx->valueStackDepth, 32);
  EXPECT_EQ(m.ctx->valueStack[31], 32) << "the 32nd value is stored";
  EXPECT_EQ(log.Count("stack over"), 2) << "logged for the 32nd and for the dropped 33rd\n" << log.All();
}

TEST(Vm, InstructionCutOffByTheEndOfTheCode) {
  LogCapture log;
  Machine m("mov r1, 3\n.word 0x00010002, 0x40000001");  // add with no source word
  ASSERT_TRUE(m.ok);
  m.Run();
  EXPECT_EQ(m.Reg(1), 3);
  EXPECT_EQ(m.ctx->script.pc, m.ctx->script.codeSize);
  EXPECT_TRUE(log.Has(kDebugWindowError, "instruction cut off")) << log.All();
}

TEST(Vm, PcOutsideTheCodeEndsTheRun) {
  LogCapture log;
  Machine m("mov r1, 1");
  ASSERT_TRUE(m.ok);
  m.ctx->script.pc = m.ctx->script.codeSize + 2;  // as a damaged save might leave it
  m.Run();
  EXPECT_EQ(m.Reg(1), 0);
  EXPECT_EQ(m.ctx->script.pc, m.ctx->script.codeSize);
  EXPECT_TRUE(log.Has(kDebugWindowError, "pc outside the code")) << log.All();
}

TEST(Vm, AStepLimitStopsAnEndlessLoopForTheFrame) {
  Machine m("loop:\n    add r1, 1\n    jmp @loop");
  ASSERT_TRUE(m.ok);
  m.ctx->script.stepLimit = 100;  // 50 turns of the loop
  m.Run();
  EXPECT_EQ(m.Reg(1), 50);
  m.Run();  // the next frame goes on where it stopped
  EXPECT_EQ(m.Reg(1), 100);
}

// ---- gosub, ret and return points ----

TEST(Vm, GosubPushesAReturnPointAndLogs) {
  LogCapture log;
  Machine m("gosub @sub\nadd r1, 100\njmp @out\nsub:\nadd r1, 1\nret\nout:");
  ASSERT_TRUE(m.ok);
  m.RunToEnd();
  EXPECT_EQ(m.Reg(1), 101);
  const std::string gosub = "gosub 20 [" + std::to_string(m.Pc("sub")) + "]";
  EXPECT_TRUE(log.Has(kDebugWindowCommand, gosub)) << log.All();
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "ret [20]")) << log.All();
  EXPECT_EQ(m.ctx->pauseTimer.duration, 50u);
  EXPECT_EQ(KivListGetDataCount(m.ctx->gameList, kGameListReturnPoints), 0);
}

TEST(Vm, GosubWhileSkippingLeavesThePauseTimer) {
  Machine m("gosub @sub\njmp @out\nsub:\nret\nout:");
  ASSERT_TRUE(m.ok);
  m.ctx->skipMode = 1;
  m.RunToEnd();
  EXPECT_EQ(m.ctx->pauseTimer.duration, 0u);
}

TEST(Vm, RetToAnEventReturnPointStopsTheFrame) {
  Machine m("ret\nback:\nadd r1, 1");
  ASSERT_TRUE(m.ok);
  ASSERT_TRUE(return_point_push(m.ctx, kGameListReturnPoints, m.Pc("back"), kReturnKindButton));
  m.Run();
  EXPECT_EQ(m.ctx->script.pc, m.Pc("back"));
  EXPECT_EQ(m.Reg(1), 0) << "kind 1 stops the run for the frame";
  m.Run();
  EXPECT_EQ(m.Reg(1), 1);
}

TEST(Vm, RetTakesTheScriptThreadPointFirstAndStops) {
  Machine m("ret\nthread:\nadd r1, 1\ngosubbed:\nadd r2, 1");
  ASSERT_TRUE(m.ok);
  ASSERT_TRUE(return_point_push(m.ctx, kGameListReturnPoints, m.Pc("gosubbed"), kReturnKindGosub));
  ASSERT_TRUE(return_point_push(m.ctx, kGameListThreadReturns, m.Pc("thread"), kReturnKindGosub));
  LogCapture log;
  m.Run();
  EXPECT_EQ(m.ctx->script.pc, m.Pc("thread"));
  EXPECT_EQ(m.Reg(1), 0) << "the run stops after a script-thread return";
  EXPECT_FALSE(log.HasAny("ret [")) << "no log line for a script-thread return";
  EXPECT_EQ(KivListGetDataCount(m.ctx->gameList, kGameListReturnPoints), 1);
}

int g_yields = 0;
int YieldOnly(VmContext* ctx) {
  ++g_yields;
  command_yield(ctx);
  return 1;
}

TEST(Vm, RetWithNothingToReturnToRestartsFromTheEntry) {
  ScopedBinding bind("wait_frame", YieldOnly);
  LogCapture log;
  Machine m(".entry main\nadd r3, 1\nmain:\ncall wait_frame\nadd r1, 1\nmov r9, 5\nmov u[r9], 8\nret");
  ASSERT_TRUE(m.ok);
  m.ctx->tempArea[0] = 42;
  m.record().systemVariables[3] = 7;
  std::strcpy(m.ctx->stringVariables[2], "kept");
  m.Run();  // stops at wait_frame
  EXPECT_EQ(m.ctx->script.pc, m.Pc("main") + 12);
  m.Run();  // add, mov, ret: reset, restart, wait_frame again
  EXPECT_EQ(m.ctx->script.pc, m.Pc("main") + 12);
  EXPECT_EQ(m.Reg(1), 0) << "registers are reset";
  EXPECT_EQ(m.Reg(3), 0) << "the code before the entry never runs";
  EXPECT_EQ(m.ctx->userMemory[5], 0) << "user memory is reset";
  EXPECT_EQ(m.ctx->tempArea[0], 42);
  EXPECT_EQ(m.record().systemVariables[3], 7);
  EXPECT_STREQ(m.ctx->stringVariables[2], "kept");
  EXPECT_TRUE(log.Has(kDebugWindowCommand, "ret [戻り先がないので始めから開始します]")) << log.All();
}

// ---- Script points ----

TEST(Vm, AScriptPointAtThePcStopsBeforeAnything) {
  Machine m("add r1, 1\nadd r1, 1");
  ASSERT_TRUE(m.ok);
  script_point_push(m.ctx);  // at the entry pc
  m.Run();
  EXPECT_EQ(m.Reg(1), 0);
  script_point_pop(m.ctx);
  m.Run();
  EXPECT_EQ(m.Reg(1), 2);
}

TEST(Vm, ScriptPointStackIsBounded) {
  LogCapture log;
  Machine m("nop");
  ASSERT_TRUE(m.ok);
  for (int i = 0; i < 33; ++i) script_point_push(m.ctx);
  EXPECT_EQ(m.ctx->script.pointDepth, kScriptPointDepth);
  EXPECT_TRUE(log.Has(kDebugWindowError, "[12]script point push stack over")) << log.All();
  for (int i = 0; i < 33; ++i) script_point_pop(m.ctx);
  EXPECT_EQ(m.ctx->script.pointDepth, 0);
  EXPECT_TRUE(log.Has(kDebugWindowError, "[12]script point pop stack none")) << log.All();
}

// ---- Command calls ----

int g_args[3];
int ThreeArguments(VmContext* ctx) {
  for (int& a : g_args) a = value_stack_pop(ctx);
  command_set_result(ctx, g_args[0] * 100 + g_args[1] * 10 + g_args[2]);
  return 1;
}

TEST(Vm, HandlersPopTheirFirstArgumentFirstAndSetTheResult) {
  ScopedBinding bind("sprite.sp_set_pos_ex", ThreeArguments);
  Machine m("call sp_set_pos_ex 1, 2, 3 -> r7");
  ASSERT_TRUE(m.ok);
  m.RunToEnd();
  EXPECT_EQ(g_args[0], 1);
  EXPECT_EQ(g_args[2], 3);
  EXPECT_EQ(m.Reg(7), 123);
  EXPECT_EQ(m.ctx->valueStackDepth, 0);
  EXPECT_EQ(m.ctx->script.commandWord, command_word(3, 14));
}

// A wait that holds the script for a number of frames: it pops its
// arguments on its first run only and keeps its progress itself.
struct TestWait {
  int pops = 0, runs = 0, left = 0;
} g_wait;
int FramesWait(VmContext* ctx) {
  ++g_wait.runs;
  if (g_wait.left == 0) {
    g_wait.left = value_stack_pop(ctx);
    value_stack_pop(ctx);
    g_wait.pops += 2;
  }
  if (--g_wait.left > 0) command_wait_again(ctx);
  else command_yield(ctx);
  return 1;
}

TEST(Vm, ABlockingCommandRunsAgainAtItsCallWithoutPoppingTwice) {
  ScopedBinding bind("wait", FramesWait);
  g_wait = {};
  LogCapture log;
  Machine m("add r1, 1\ncall wait 3, 0\nadd r2, 1");
  ASSERT_TRUE(m.ok);
  const uint32_t call = m.ctx->script.entryPc + 12 + 2 * 8;  // after the add and two pushes
  m.Run();
  EXPECT_EQ(m.ctx->script.pc, call) << "moved back onto its own call";
  EXPECT_EQ(m.ctx->valueStackDepth, 0);
  m.Run();
  EXPECT_EQ(m.ctx->script.pc, call);
  m.Run();  // the last frame: the command ends and the run stops after it
  EXPECT_EQ(m.ctx->script.pc, call + 12);
  EXPECT_EQ(m.Reg(2), 0);
  m.Run();
  EXPECT_EQ(m.Reg(1), 1) << "the code before the call ran once";
  EXPECT_EQ(m.Reg(2), 1);
  EXPECT_EQ(g_wait.runs, 3);
  EXPECT_EQ(g_wait.pops, 2);
  EXPECT_FALSE(log.HasAny("not stack")) << log.All();
}

TEST(Vm, BindingChecksNames) {
  LogCapture log;
  EXPECT_FALSE(command_bind("no_such_command", YieldOnly));
  EXPECT_FALSE(command_bind_word(command_word(3, 0), YieldOnly)) << "a hole takes no handler";
  EXPECT_TRUE(log.Has(kDebugWindowError, "no command named no_such_command")) << log.All();
  EXPECT_EQ(command_handler(command_word(3, 0)), nullptr);
  EXPECT_EQ(command_handler(0xFFFFFFFF), nullptr);
}

TEST(Vm, EndOfGroup18IsBoundToTheMachine) {
  vm_commands_install();
  EXPECT_NE(command_handler(command_word(18, 17)), nullptr);
  Machine m("call string.end\nadd r1, 1");
  ASSERT_TRUE(m.ok);
  m.Run();
  EXPECT_EQ(m.Reg(1), 0) << "end yields";
}

// A handler that runs the pushes in front of the next call itself and takes
// what they pushed, as a choice block does.
int RunAheadToTheNextCall(VmContext* ctx) {
  ScriptRecord& s = ctx->script;
  for (;;) {
    uint32_t word;
    std::memcpy(&word, s.code + s.pc, 4);
    s.pc += 4;
    if (word == 0x00010017) break;
    if (!vm_execute_core(ctx, word)) return 0;
  }
  s.pc += 8;  // the command word and the result register
  command_set_result(ctx, value_stack_pop(ctx) + 10 * value_stack_pop(ctx));
  return 1;
}

TEST(Vm, HandlersCanRunCoreInstructionsThemselves) {
  ScopedBinding bind("select", RunAheadToTheNextCall);
  Machine m("call select -> r1\ncall select_lock 7\nmov r2, 1");
  ASSERT_TRUE(m.ok);
  m.RunToEnd();
  EXPECT_EQ(m.Reg(1), 7) << "the push ran inside the handler";
  EXPECT_EQ(m.Reg(2), 1);
  LogCapture log;
  m.ctx->script.pc = m.ctx->script.codeSize - 4;
  EXPECT_EQ(vm_execute_core(m.ctx, 0x00010001), 0) << "a mov with no room for its operands";
  EXPECT_EQ(vm_execute_core(m.ctx, 0x00010040), 0);
  EXPECT_TRUE(log.Has(kDebugWindowError, "instruction cut off")) << log.All();
}

// ---- Memory stack, display queue and resets ----

TEST(Vm, MemoryStackHoldsOneCopyOfTheTemporaryArea) {
  LogCapture log;
  Machine m("nop");
  ASSERT_TRUE(m.ok);
  m.ctx->tempArea[0] = 1;
  m.ctx->tempArea[kTempAreaWords - 1] = 2;
  memory_stack_push(m.ctx);
  memory_stack_push(m.ctx);
  EXPECT_TRUE(log.Has(kDebugWindowError, "push memory stack over"));
  m.ctx->tempArea[0] = 9;
  m.ctx->tempArea[kTempAreaWords - 1] = 9;
  memory_stack_pop(m.ctx);
  EXPECT_EQ(m.ctx->tempArea[0], 1);
  EXPECT_EQ(m.ctx->tempArea[kTempAreaWords - 1], 2);
  EXPECT_EQ(m.ctx->memoryStackDepth, 0);
  m.ctx->tempArea[0] = 5;
  memory_stack_pop(m.ctx);
  EXPECT_TRUE(log.Has(kDebugWindowError, "pop memory stack none"));
  EXPECT_EQ(m.ctx->tempArea[0], 5);
}

TEST(Vm, DisplayQueueIsFirstInFirstOutAndResetEmptiesTheGameList) {
  Machine m("nop");
  ASSERT_TRUE(m.ok);
  uint32_t a[11] = {0x3002E, 1}, b[2] = {0x3002F, 2};
  ASSERT_TRUE(display_queue_post(m.ctx, a, sizeof a));
  ASSERT_TRUE(display_queue_post(m.ctx, b, sizeof b));
  ASSERT_TRUE(return_point_push(m.ctx, kGameListReturnPoints, 12, 0));
  ASSERT_TRUE(return_point_push(m.ctx, kGameListThreadReturns, 12, 0));
  auto* first = reinterpret_cast<uint32_t*>(KivListGetData(m.ctx->gameList, kGameListDisplayOps, 0));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first[0], 0x3002Eu);
  auto* second = reinterpret_cast<uint32_t*>(KivListGetData(m.ctx->gameList, kGameListDisplayOps, 1));
  EXPECT_EQ(second[0], 0x3002Fu);
  EXPECT_EQ(second[10], 0u) << "a short operation is zero-filled to 44 bytes";
  m.ctx->registers[4] = 3;
  m.ctx->valueStackDepth = 2;
  m.ctx->framePointer = 5;
  m.ctx->skipMode = 1;
  game_reset(m.ctx);
  EXPECT_EQ(m.ctx->gameList->next, nullptr);
  EXPECT_EQ(m.ctx->registers[4], 0);
  EXPECT_EQ(m.ctx->valueStackDepth, 0);
  EXPECT_EQ(m.ctx->framePointer, 0);
  EXPECT_EQ(m.ctx->skipMode, 0);
}

TEST(Vm, ResetInstructionResetsTheGame) {
  Machine m("mov r1, 4\npush 3\nreset\nmov r2, 1");
  ASSERT_TRUE(m.ok);
  m.RunToEnd();
  EXPECT_EQ(m.Reg(1), 0);
  EXPECT_EQ(m.Reg(2), 1);
  EXPECT_EQ(m.ctx->valueStackDepth, 0);
}

TEST(Vm, SkipStateFollowsSkipMode) {
  Machine m("nop");
  EXPECT_EQ(get_skip_state(m.ctx), 0u);
  m.ctx->skipMode = 1;
  EXPECT_EQ(get_skip_state(m.ctx), kSkipStateMode);
}

TEST(CommandTables, GroupsHaveTheirSlots) {
  const int slots[kCommandGroupCount] = {0,  0,  34, 55, 11, 14, 7, 11, 27, 48, 32, 8,
                                         3,  18, 13, 8,  6,  31, 19, 4, 2,  3,  2,  3};
  for (uint32_t g = 2; g < kCommandGroupCount; ++g) EXPECT_EQ(command_group_info(g)->slots, slots[g]) << g;
  for (uint32_t hole : {0u, 1u, 8u, 9u, 10u, 15u}) EXPECT_EQ(command_info(command_word(3, hole)), nullptr);
  EXPECT_EQ(command_info(command_word(4, 4)), nullptr);
  EXPECT_EQ(command_info(command_word(8, 2)), nullptr);
  EXPECT_EQ(command_info(command_word(18, 10)), nullptr);
  const CommandInfo* end = command_find("end");
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(command_word(end->group, end->index), 0x00120011u);
  EXPECT_EQ(command_find("wsprint")->argc, 10);
  EXPECT_EQ(command_find("text_init")->argc, 8);
  EXPECT_EQ(command_find("run")->argc, 3);
  EXPECT_EQ(command_find("select.select_next")->argc, 6);
  EXPECT_EQ(command_find("text.select_next"), nullptr);
}

}  // namespace
