// The bgm and se blocks of a save on any input: restored over a recording
// stand-in for the engine's sound (every load succeeds), stepped a frame,
// saved again and released. A block must be refused cleanly or consumed
// whole, never read past, and every name handed to the engine must end
// inside its 36 bytes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "component_entries.h"
#include "sound/sound_save.h"
#include "sound/sound_shared.h"
#include "start/game_record.h"

namespace {

int g_next = 1;
KivSoundId Load(const char* file, int type, const int*) {
  if (strnlen(file, 40) > 36) __builtin_trap();
  return (type << 28) | (g_next++ & 0xFFFFFF);
}
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sound_calls_set(&kCalls);
  auto record = std::make_unique<GameRecord>();
  VmContext* ctx = &record->ctx;
  std::memcpy(ctx->stringVariables[1], "MUSIC", 6);
  std::vector<uint8_t> copy(data, data + size);  // exact size: a read past it is caught
  std::span<const uint8_t> block(copy);
  uint32_t cursor = 0;
  bgm_restore(ctx, block, &cursor);
  if (cursor > size) __builtin_trap();
  const uint32_t mid = cursor;
  se_restore(ctx, block, &cursor);
  if (cursor > size || cursor < mid) __builtin_trap();
  se_frame(ctx);
  bgm_frame(ctx);
  std::vector<uint8_t> out(4096);
  uint32_t used = 0;
  bgm_save(ctx, out, &used);
  se_save(ctx, out, &used);
  se_release(ctx);
  bgm_release(ctx);
  return 0;
}
