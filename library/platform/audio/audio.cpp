// The sound device of the chosen backend.
#include <cstdio>

#include "platform/audio/audio.h"
#include "platform/core/backend.h"

namespace plat {

std::unique_ptr<AudioDevice> AudioDeviceOpen() {
  if (AudioBackendKind() == Backend::kHeadless) return HeadlessAudioOpen();
  if (auto d = SdlAudioOpen()) return d;
  std::fprintf(stderr, "audio: no sound device; playing silently\n");
  return HeadlessAudioOpen();
}

}  // namespace plat
