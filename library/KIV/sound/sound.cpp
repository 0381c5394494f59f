// Sound: channel groups, static and streamed sounds, volumes and fades.
// The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Sound: start-up and shut-down hooks and the six group volumes; the mixer
// and channels come with the sound device.
#include <atomic>

#include "core/fault_inject.h"
#include "core/system_state.h"

namespace {
constexpr unsigned kGroups = 6;
// Groups 0-3 start at full volume, 4 and 5 silent until set.
std::atomic<int> g_groupVolume[kGroups] = {10000, 10000, 10000, 10000, 0, 0};
}  // namespace

int KivSoundInit(void) {
  if (KivFaultHit(KivFault::kSound)) return 0;
  const int start[kGroups] = {10000, 10000, 10000, 10000, 0, 0};
  for (unsigned g = 0; g < kGroups; ++g) g_groupVolume[g].store(start[g]);
  return 1;
}

void KivSoundUninit(void) {}

extern "C" KIV_API int KivSoundSetVolume(int volume, unsigned group) {
  if (group >= kGroups) return 0;
  g_groupVolume[group].store(volume < 0 ? 0 : volume > 10000 ? 10000 : volume);
  return 1;
}

extern "C" KIV_API int KivSoundGetVolume(int* out, unsigned group) {
  if (group >= kGroups || !out) return -1;
  *out = g_groupVolume[group].load();
  return *out;
}
