// Animations, buttons, numbers, the cursor and thumbnails built on sprites.
// The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// The button groups' sound calls. The built-in table uses the engine's sound
// channels; tests put a timed stand-in in its place.
#include "ui/button_sound.h"

#include <atomic>

namespace {

KivSoundId EngineLoad(const char* file, int type) { return KivSoundLoad(file, type, nullptr); }
KivSoundId EngineCopy(KivSoundId source, int type) { return KivSoundCopy(source, type); }
int EnginePlay(KivSoundId id) { return KivSoundPlay(id, 0); }
int EnginePlaying(KivSoundId id) { return KivSoundPlayIs(id); }
int EngineRelease(KivSoundId id) { return KivSoundRelease(id); }

constexpr KivButtonSoundCalls kBuiltIn{EngineLoad, EngineCopy, EnginePlay, EnginePlaying, EngineRelease};
std::atomic<const KivButtonSoundCalls*> g_calls{&kBuiltIn};

const KivButtonSoundCalls& Calls() { return *g_calls.load(); }

}  // namespace

const KivButtonSoundCalls* KivButtonSoundUse(const KivButtonSoundCalls* calls) {
  return g_calls.exchange(calls ? calls : &kBuiltIn);
}

KivSoundId KivButtonSoundLoad(const char* file, int type) { return file ? Calls().load(file, type) : 0; }
KivSoundId KivButtonSoundCopy(KivSoundId source, int type) { return source ? Calls().copy(source, type) : 0; }
int KivButtonSoundPlay(KivSoundId id) { return id ? Calls().play(id) : 0; }
int KivButtonSoundPlaying(KivSoundId id) { return id ? Calls().playing(id) : 0; }
int KivButtonSoundRelease(KivSoundId id) { return id ? Calls().release(id) : 0; }
