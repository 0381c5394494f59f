// Animations, buttons, numbers, the cursor and thumbnails built on sprites.
// The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// The button groups' sound calls. The built-in table plays nothing; the
// sound family replaces its entries with its own exports.
#include "ui/button_sound.h"

#include <atomic>

namespace {

KivSoundId NoLoad(const char*, int) { return 0; }
KivSoundId NoCopy(KivSoundId, int) { return 0; }
int NoPlay(KivSoundId) { return 0; }
int NoPlaying(KivSoundId) { return 0; }
int NoRelease(KivSoundId) { return 0; }

constexpr KivButtonSoundCalls kBuiltIn{NoLoad, NoCopy, NoPlay, NoPlaying, NoRelease};
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
