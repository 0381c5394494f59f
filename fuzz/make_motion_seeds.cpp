// Seeds for the motion and action fuzz targets, made by our own motion
// assembler and action block writer: make_motion_seeds CORPUS_DIR.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "motion/actions.h"
#include "motion_assembler.h"
#include "start/game_record.h"

namespace {

void Write(const std::string& path, const std::vector<uint8_t>& b) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  mkdir(dir.c_str(), 0755);
  mkdir((dir + "/ani").c_str(), 0755);
  mkdir((dir + "/action_block").c_str(), 0755);
  const char* programs[] = {
      ".entry go\ngo: auto\n move 100, 0, 99\n scale 50, 99\n alpha -20, 50\n rotate 0, 0, 90, 200\n wait 300\n end\n",
      ".entry go\ngo: auto\n child 0, sway\n child 1, sway\n move_log55 0, -40, 400\n wait 100000\n"
      "sway: move 0, 5, 0\n wait 99\n move 0, -5, 0\n wait 99\n jump sway\n",
      "auto\n keep\ntop: line 3, 4, 10\n move_to 2, 100, 200, 50\n wait_random 10, 30\n pause 5\n cell 1, 0\n"
      " rect 0, 0, 10, 10\n shift 1, 1\n move_log80 5, 5, 20\n move_sine 5, 5, 20\n nop\n jump top\n",
  };
  int n = 0;
  for (const char* p : programs) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!kani::Assemble(p, "seed", &bytes, &error)) {
      std::fputs(error.c_str(), stderr);
      return 1;
    }
    Write(dir + "/ani/seed" + std::to_string(n++) + ".ani", bytes);
  }
  // An action block with two running slots, written by the block writer.
  auto* record = new GameRecord;
  std::memset(static_cast<void*>(record), 0, sizeof *record);
  VmContext* ctx = &record->ctx;
  const ActionStep steps[] = {
      {19, {80, -40, 0, 0}, {}, kStepMove, 100},     {19, {1, 20, 0, 0}, {}, kStepShake, 100},
      {20, {-100, 0, 0, 0}, {}, kStepAlpha, 50},      {-1, {}, {}, kStepWait, 30},
      {19, {10, 20, 30, 0}, {}, kStepRotate, 100},   {19, {10, 2, 0, 0}, {}, kStepGrid, 100},
      {3, {1, 0, 0, 0}, {}, kStepSound, 10},         {19, {0, 10, 0, 0}, {}, kStepSwing, 100},
      {19, {3, 50, 0, 0}, {}, kStepScaleCurve, 80},  {19, {3, 0, 0, 90}, {}, kStepRotateCurve, 80},
      {19, {5, 5, 0, 0}, {}, kStepMoveCurve3, 80},   {19, {5, 5, 0, 0}, {}, kStepMoveCurve1, 80},
  };
  for (int i = 0; i < static_cast<int>(std::size(steps)); ++i) action_step_append(ctx, i % 5, steps[i]);
  ctx->actions.slots[0].running = 1;
  ctx->actions.slots[0].state = kActionLoopRun;
  ctx->actions.slots[0].timeOrCount = 3;
  ctx->actions.active = 4;
  action_step_append(ctx, 31, steps[0]);
  ctx->actions.slots[4].running = 1;
  ctx->actions.slots[4].state = kActionRun;
  ctx->actions.slots[4].timeOrCount = 500;
  std::vector<uint8_t> buf(0x100000);
  uint32_t used = 0;
  if (!action_save(ctx, buf, &used)) return 1;
  buf.resize(used);
  Write(dir + "/action_block/seed0.bin", buf);
  delete record;
  return 0;
}
