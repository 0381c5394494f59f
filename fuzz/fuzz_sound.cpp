// The WAV and raw PCM sound file loaders over arbitrary bytes: a lying
// header must never lead outside the file, and whatever they accept must
// play through the mixer without reading outside its samples.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/audio/audio.h"
#include "sound/sound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto read = [data, size](uint64_t off, void* buf, size_t n) {
    if (off > size || n > size - off) return false;
    std::memcpy(buf, data + off, n);
    return true;
  };
  KivWavInfo w;
  const char* why = nullptr;
  if (KivWavParse(read, size, &w, &why)) {
    if (w.dataOffset > size || w.dataSize > size - w.dataOffset) std::abort();
    plat::AudioFormat f{w.channels, w.rate, w.bits};
    uint64_t bytes = f.Valid() ? w.dataSize - w.dataSize % f.BlockAlign() : 0;
    if (bytes > 0 && bytes <= 1 << 20) {
      plat::AudioMixer mixer;
      plat::AudioBuffer* b = mixer.CreateBuffer(f, static_cast<uint32_t>(bytes), 0);
      uint8_t *p1, *p2;
      uint32_t n1, n2;
      if (b && b->Lock(0, static_cast<uint32_t>(bytes), &p1, &n1, &p2, &n2)) {
        std::memcpy(p1, data + w.dataOffset, n1);
        b->Unlock();
        b->SetPan(static_cast<int>(bytes % 20001) - 10000);
        b->Play(true);
        int16_t out[2 * 512];
        mixer.Mix(out, 512);
      }
    }
  }
  KivRawPcmInfo r;
  if (KivRawPcmParse(read, size, &r, &why)) {
    if (r.dataOffset > size || r.dataSize > size - r.dataOffset) std::abort();
    if (r.loopStart >= r.loopEnd || r.loopEnd > r.dataSize || r.loopStart % 4 || r.loopEnd % 4) std::abort();
  }
  return 0;
}
