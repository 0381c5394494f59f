// The sound calls of the button groups, in one place: load, duplicate, play
// once, ask whether playing, release, through the engine's sound channels.
// A call that gives 0 is no sound (a group still works, and a click is
// reported on the call after its press). Tests put a timed stand-in here.
#pragma once
#include "kiv.h"

struct KivButtonSoundCalls {
  KivSoundId (*load)(const char* file, int type);
  KivSoundId (*copy)(KivSoundId source, int type);  // a duplicate in a free channel of type's group
  int (*play)(KivSoundId id);                       // once, not looping
  int (*playing)(KivSoundId id);                    // 1 while it plays; 0 for id 0 or an empty channel
  int (*release)(KivSoundId id);
};

// Installs calls (NULL: the built-in ones); returns the previous table.
const KivButtonSoundCalls* KivButtonSoundUse(const KivButtonSoundCalls* calls);

KivSoundId KivButtonSoundLoad(const char* file, int type);
KivSoundId KivButtonSoundCopy(KivSoundId source, int type);
int KivButtonSoundPlay(KivSoundId id);
int KivButtonSoundPlaying(KivSoundId id);
int KivButtonSoundRelease(KivSoundId id);
