// The state dump of a scripted run of the demo: KIV_STATE_DUMP_FRAMES writes
// the game's state at the frames it names, and two runs of one script give
// the same text byte for byte (no addresses, no clock readings in it).
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/core/scripted_run.h"
#include "support/game_process.h"

namespace {

using testgame::GameFolder;
using testgame::ReadFile;

struct Dumps {
  testgame::RunResult result;
  std::string early, late;
};

Dumps RunDemo(const GameFolder& game) {
  const std::string script = game.dir() + "/input.txt";
  // The opening movie skipped, then "はじめから" on the title.
  std::ofstream(script) << "20 press Escape\n80 click left 640 330\n";
  Dumps d;
  d.result = game.Run({"KIV_HEADLESS_CLOCK=virtual", "KIV_INPUT_SCRIPT=" + script, "KIV_STATE_DUMP_FRAMES=90,200",
                       "KIV_CAPTURE_DIR=" + game.dir(), "KIV_RUN_FRAMES=200"});
  d.early = ReadFile(plat::StateDumpPath(game.dir(), 90));
  d.late = ReadFile(plat::StateDumpPath(game.dir(), 200));
  return d;
}

TEST(StateDumpRun, TwoRunsOfOneScriptDumpTheSameState) {
  GameFolder a(DEMO_GAME_DIR), b(DEMO_GAME_DIR);
  const Dumps first = RunDemo(a), second = RunDemo(b);
  ASSERT_EQ(first.result.exit_code, 0) << first.result.err;
  ASSERT_EQ(second.result.exit_code, 0) << second.result.err;
  ASSERT_NE(first.early.find("[machine]"), std::string::npos) << first.result.err;
  ASSERT_NE(first.late.find("[actions]"), std::string::npos);
  EXPECT_NE(first.early, first.late) << "the game moved on between the two frames";
  EXPECT_TRUE(first.early == second.early) << "frame 90 differs between two runs";
  EXPECT_TRUE(first.late == second.late) << "frame 200 differs between two runs";
}

}  // namespace
