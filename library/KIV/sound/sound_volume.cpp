// Sound volumes: the six group volumes, channel volumes and their decibels.
#include <atomic>
#include <cmath>

#include "sound/sound.h"

namespace {
// Indexed by load type. Groups 0-3 start at full volume, 4 and 5 silent
// until the game sets them.
constexpr int kStartVolume[kKivSoundGroups] = {10000, 10000, 10000, 10000, 0, 0};
std::atomic<int> g_groupVolume[kKivSoundGroups] = {10000, 10000, 10000, 10000, 0, 0};
}  // namespace

void KivSoundResetGroupVolumes() {
  for (int g = 0; g < kKivSoundGroups; ++g) g_groupVolume[g].store(kStartVolume[g]);
}

int KivVolumeToDecibels(int volume) {
  if (volume <= 0) return -10000;
  if (volume >= 10000) return 0;  // above full would be a gain the device refuses
  const float ratio = static_cast<float>(volume) / 10000.0f;
  const float lg = std::log10(ratio);
  return static_cast<int>(lg * 20.0f * 100.0f);
}

int KivSoundGroupVolume(int type) {
  if (type < 0 || type >= kKivSoundGroups) return 0;
  return g_groupVolume[type].load();
}

int KivSoundEffective(int group, int channel) {
  // The ratio is single precision, the product is not: 10000 x 0.3333f
  // is 3332.99994, which truncates to 3332.
  const float scale = static_cast<float>(channel) / 10000.0f;
  const double v = static_cast<double>(group) * static_cast<double>(scale);
  if (!(v > 0.0)) return 0;
  return v >= 10000.0 ? 10000 : static_cast<int>(v);
}

int KivSoundEffectiveVolume(const KivSoundChannel& ch) {
  return KivSoundEffective(KivSoundGroupVolume(ch.type), ch.volume);
}

extern "C" KIV_API int KivSoundSetVolume(int volume, unsigned group) {
  if (group >= static_cast<unsigned>(kKivSoundGroups)) return 0;
  g_groupVolume[group].store(volume < 0 ? 0 : volume > 10000 ? 10000 : volume);
  KivSoundReapplyGroup(static_cast<int>(group));
  return 1;
}

extern "C" KIV_API int KivSoundGetVolume(int* out, unsigned group) {
  if (group >= static_cast<unsigned>(kKivSoundGroups) || !out) return -1;
  *out = g_groupVolume[group].load();
  return *out;
}
