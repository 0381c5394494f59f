// A whole save file on any input: checked and, when sound, loaded over a
// small machine (headless: no engine, sound through a stand-in), then saved
// again. A file must be refused cleanly or loaded, never read past; a
// refused file must leave the machine's state as it was.
// Built with -DSAVE_SEED_MAIN it writes a seed: a save of the same machine.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "assembler.h"
#include "component_entries.h"
#include "data/script_tables.h"
#include "save/save.h"
#include "sound/sound_shared.h"
#include "start/game_record.h"
#include "vm/vm.h"

namespace {

int g_next = 1;
KivSoundId Load(const char*, int type, const int*) { return (type << 28) | (g_next++ & 0xFFFFFF); }
int Any1(KivSoundId) { return 1; }
int Any2(KivSoundId, int) { return 1; }
int Any3(KivSoundId, int, int) { return 1; }
int Type(int) { return 1; }
int State(KivSoundId id) { return id & 1 ? 2 : 0; }
int SetVolume(int, unsigned) { return 1; }
int GetVolume(int* out, unsigned) { return *out = 0, 1; }
uint32_t Now() { return 12345; }
const SoundCalls kCalls = {Load, Any2, Any3, Any1, Any2, Any1, Any1, Type, Any1, State, SetVolume, GetVolume,
                           Any2, Any2, Type, Now};

struct Game {
  std::unique_ptr<GameRecord> record = std::make_unique<GameRecord>();
  VmContext* ctx = &record->ctx;
  Game() {
    sound_calls_set(&kCalls);
    kasm::Output out;
    std::string error;
    if (!kasm::Assemble("a:\n    mov r1, 1\nb:\n    mov r2, 2\n", "fuzz.kas", &out, &error)) std::abort();
    vm_context_attach(record.get());
    ctx->gameList = KivListCreate();
    if (!script_load_image(ctx, out.script) || !table_load_image(ctx, DataTable::kFile, out.file) ||
        !table_load_image(ctx, DataTable::kText, out.text) || !table_load_image(ctx, DataTable::kMem, out.mem) ||
        !table_load_image(ctx, DataTable::kPoint, out.point) || !save_init(ctx))
      std::abort();
    game_reset(ctx);
    ctx->script.pc = out.labelPc.at("b");
    return_point_push(ctx, kGameListReturnPoints, out.labelPc.at("a"), 0);
  }
  std::vector<uint8_t> Dump() {
    std::vector<uint8_t> b(kSaveSnapshotBytes);
    uint32_t used = 0;
    if (!save_state_write(ctx, ctx->script.pc, b, &used)) std::abort();
    b.resize(used);
    return b;
  }
};

Game& TheGame() {
  static Game* g = new Game;
  return *g;
}

}  // namespace

#ifdef SAVE_SEED_MAIN
int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::vector<uint8_t> b = TheGame().Dump();
  FILE* f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size()) return 1;
  return std::fclose(f) == 0 ? 0 : 1;
}
#else
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Game& g = TheGame();
  const std::vector<uint8_t> before = g.Dump();
  const uint32_t pc = g.ctx->script.pc;
  std::vector<uint8_t> copy(data, data + size);  // exact size: a read past it is caught
  if (!save_state_load(g.ctx, copy)) {
    if (g.ctx->script.pc != pc || g.Dump() != before) __builtin_trap();
  }
  g.Dump();
  return 0;
}
#endif
