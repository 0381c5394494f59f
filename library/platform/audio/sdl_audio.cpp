// SDL2 sound device: 44,100 Hz stereo S16 fed by the mixer from SDL's audio
// callback. SDL_AUDIODRIVER chooses the driver (pulseaudio, alsa, or "disk"
// to write the stream to SDL_DISKAUDIOFILE). Lacks: device change handling;
// a device that disappears simply falls silent.
#include <SDL2/SDL.h>

#include <cstdio>

#include "platform/audio/audio.h"

namespace plat {

namespace {

class SdlAudio : public AudioDevice {
 public:
  ~SdlAudio() override {
    if (device_) SDL_CloseAudioDevice(device_);
    if (inited_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }
  const char* Name() const override { return "sdl"; }
  bool Open() {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      std::fprintf(stderr, "audio: %s\n", SDL_GetError());
      return false;
    }
    inited_ = true;
    SDL_AudioSpec want{}, have{};
    want.freq = kMixRate;
    want.format = AUDIO_S16SYS;
    want.channels = kMixChannels;
    want.samples = 1024;
    want.callback = &SdlAudio::Callback;
    want.userdata = this;
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (!device_) {
      std::fprintf(stderr, "audio: %s\n", SDL_GetError());
      return false;
    }
    SDL_PauseAudioDevice(device_, 0);
    return true;
  }
  bool inited_ = false;

 private:
  static void Callback(void* self, Uint8* stream, int len) {
    auto* a = static_cast<SdlAudio*>(self);
    a->mixer_.Mix(reinterpret_cast<int16_t*>(stream), static_cast<size_t>(len) / 4);
  }
  SDL_AudioDeviceID device_ = 0;
};

}  // namespace

std::unique_ptr<AudioDevice> SdlAudioOpen() {
  auto a = std::make_unique<SdlAudio>();
  if (!a->Open()) return nullptr;
  return a;
}

}  // namespace plat
