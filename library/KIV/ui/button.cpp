// Animations, buttons, numbers, the cursor and thumbnails built on sprites.
// The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Button groups: sprites that show an idle, a hovered and a pressed cell
// row, play a hover sound when the mouse enters one and a click sound when
// one is pressed, and report the click once, after its sound has ended.
// The group is polled once a frame on the game thread.
#include <algorithm>
#include <vector>

#include "core/system_state.h"
#include "platform/core/error.h"
#include "sprite/sprite.h"
#include "ui/button_sound.h"
#include "ui/ui.h"

namespace {

constexpr int kButtonSoundType = 4;
constexpr int kHoverSounds = 5;
constexpr uint32_t kLeftButton = 1u << 23;  // logical key 23 of the input masks

// Every group made and not yet released, so a released sprite can leave
// them and shut-down can free what the game left behind.
std::vector<KivButton*>& Groups() {
  static std::vector<KivButton*> groups;
  return groups;
}

KivButton* NewGroup() {
  auto* b = static_cast<KivButton*>(KivMemoryAlloc(sizeof(KivButton), 1));
  if (!b) return nullptr;
  Groups().push_back(b);
  return b;
}

// The four duplicates of the hover sound, each in a further channel; none
// for no sound.
void Duplicate(KivButton* b) {
  if (!b->hoverSounds[0]) return;
  for (int i = 1; i < kHoverSounds; ++i) b->hoverSounds[i] = KivButtonSoundCopy(b->hoverSounds[0], kButtonSoundType);
}

KivButtonItem* Find(KivButton* b, KivSprite* s) {
  for (KivButtonItem* it = b ? b->items : nullptr; it; it = it->next)
    if (it->sprite == s) return it;
  return nullptr;
}

void SetRow(const KivButtonItem* it, int offset) {
  if (it->reaction & KIV_BUTTON_KEEP_CELL) return;
  KivSpriteRectSetPos(it->sprite, 0, static_cast<unsigned>(static_cast<int64_t>(it->base) + offset));
}

// The first hover sound whose channel is quiet; 0 ends the search (nothing
// plays); when all five play, the first one starts again.
KivSoundId HoverSound(const KivButton* b) {
  for (KivSoundId id : b->hoverSounds) {
    if (!id) return 0;
    if (!KivButtonSoundPlaying(id)) return id;
  }
  return b->hoverSounds[0];
}

// A sprite that no item of the group holds any more is no longer hovered,
// pressed or reported: a later sprite at the same address must not inherit
// the press.
void DropReferences(KivButton* b, KivSprite* s) {
  if (Find(b, s)) return;
  if (b->pressed == s) {
    b->pressed = nullptr;
    b->forced = 0;
  }
  if (b->hovered == s) b->hovered = nullptr;
  if (b->previousHovered == s) b->previousHovered = nullptr;
  if (b->result == s) b->result = nullptr;
}

int Unlink(KivButton* b, KivSprite* s) {
  for (KivButtonItem** link = &b->items; *link; link = &(*link)->next) {
    if ((*link)->sprite != s) continue;
    KivButtonItem* it = *link;
    *link = it->next;
    KivMemoryFree(it);
    return 1;
  }
  return 0;
}

void Fill(KivButtonState* out, const KivButton* b) {
  if (!out) return;
  if (!b) {
    *out = KivButtonState{};
    return;
  }
  *out = KivButtonState{b->result, b->hovered, b->pressed};
}

// One frame of a group at point (x, y). `ex`: the press comes from
// `pressFlag` instead of the left button, negative points are not special
// and every enabled item's cells are set.
KivSprite* Step(KivButton* b, int x, int y, bool ex, int pressFlag, KivButtonState* out) {
  if (!b) {
    Fill(out, nullptr);
    return nullptr;
  }
  if (!b->pressed) {
    b->previousHovered = b->hovered;
    b->result = b->hovered = b->pressed = nullptr;

    // The front-most item under the point, enabled or not; the first found
    // wins a tie. A disabled one in front blocks those behind it.
    const KivButtonItem* front = nullptr;
    for (KivButtonItem* it = b->items; it; it = it->next) {
      if (!it->sprite || !KivSpriteHit(it->sprite, x, y, it->reaction & KIV_BUTTON_ALPHA_TEST)) continue;
      if (!front || it->sprite->priority < front->sprite->priority) front = it;
    }
    if (front && front->enabled) b->hovered = front->sprite;
    if (!ex && (x < 0 || y < 0)) b->hovered = nullptr;  // the mouse is outside the window

    const uint32_t push = static_cast<uint32_t>(KivInputGetKeyPush());
    const uint32_t repeat = static_cast<uint32_t>(KivInputGetKeyOnEx());
    for (KivButtonItem* it = b->items; it; it = it->next) {
      if (!it->enabled) continue;
      if (b->hovered && it->sprite == b->hovered) {
        bool fired;
        if (ex) fired = pressFlag != 0;
        else if (it->reaction & KIV_BUTTON_CLICK_PUSH) fired = (push & kLeftButton) != 0;
        else if (it->reaction & KIV_BUTTON_CLICK_REPEAT) fired = ((push | repeat) & kLeftButton) != 0;
        else fired = false;
        if (fired) {
          b->pressed = it->sprite;
          KivButtonSoundPlay(b->clickSound);
          SetRow(it, 2);
          if (!ex) break;  // later items keep their cells this frame
          continue;
        }
        if (b->hovered != b->previousHovered) {
          KivButtonSoundPlay(HoverSound(b));
          SetRow(it, 1);
        }
        continue;
      }
      SetRow(it, 0);
    }
  } else {
    // A click is reported by one call only, also when an injected press
    // follows the call that reported it.
    b->result = nullptr;
    if (b->forced) {
      // An injected press: its click sound plays now.
      b->forced = 0;
      KivButtonSoundPlay(b->clickSound);
    } else if (!KivButtonSoundPlaying(b->clickSound)) {
      b->result = b->pressed;
      b->pressed = nullptr;
    }
  }
  Fill(out, b);
  return b->result;
}

}  // namespace

extern "C" KIV_API KivButton* KivButtonCreate(const char* hoverSound, const char* clickSound) {
  KivButton* b = NewGroup();
  if (!b) return nullptr;
  // A sound that fails to load stays 0; the group is made all the same.
  b->hoverSounds[0] = hoverSound ? KivButtonSoundLoad(hoverSound, kButtonSoundType) : 0;
  Duplicate(b);
  b->clickSound = clickSound ? KivButtonSoundLoad(clickSound, kButtonSoundType) : 0;
  return b;
}

extern "C" KIV_API KivButton* KivButtonCreateEx(KivSoundId hoverSound, KivSoundId clickSound) {
  KivButton* b = NewGroup();
  if (!b) return nullptr;
  b->hoverSounds[0] = hoverSound;
  Duplicate(b);
  b->clickSound = clickSound;
  return b;
}

extern "C" KIV_API int KivButtonEntryEx(KivButton* b, KivSprite* s, int reaction) {
  if (!b) return 0;
  auto* it = static_cast<KivButtonItem*>(KivMemoryAlloc(sizeof(KivButtonItem), 1));
  if (!it) return 0;
  *it = KivButtonItem{s, 1, 0, reaction, b->items};
  b->items = it;
  return 1;
}

extern "C" KIV_API int KivButtonEntry(KivButton* b, KivSprite* s) {
  return KivButtonEntryEx(b, s, KIV_BUTTON_CLICK_PUSH);
}

extern "C" KIV_API int KivButtonDelete(KivButton* b, KivSprite* s) {
  if (!b || !Unlink(b, s)) return 0;
  DropReferences(b, s);
  return 1;
}

extern "C" KIV_API int KivButtonCtrl(KivButton* b, KivSprite* s, int enabled) {
  KivButtonItem* it = s ? Find(b, s) : nullptr;
  if (!it) return 0;
  it->enabled = enabled;
  return 1;
}

extern "C" KIV_API int KivButtonSetPos(KivButton* b, KivSprite* s, int base) {
  KivButtonItem* it = s ? Find(b, s) : nullptr;
  if (!it) return 0;
  it->base = base;
  KivSpriteRectSetPos(s, 0, static_cast<unsigned>(base));
  return 1;
}

extern "C" KIV_API int KivButtonSetReaction(KivButton* b, KivSprite* s) {
  if (b && !b->pressed) {
    b->pressed = s;
    b->forced = 1;
  }
  return 0;
}

extern "C" KIV_API KivSprite* KivButtonGetReaction(KivButton* b, KivButtonState* out) {
  return Step(b, KivInputGetMouseX(), KivInputGetMouseY(), false, 0, out);
}

extern "C" KIV_API KivSprite* KivButtonGetReactionEx(KivButton* b, int x, int y, int press, KivButtonState* out) {
  return Step(b, x, y, true, press, out);
}

extern "C" KIV_API int KivButtonRelease(KivButton* b) {
  std::vector<KivButton*>& groups = Groups();
  auto found = std::find(groups.begin(), groups.end(), b);
  if (!b || found == groups.end()) return 0;  // not a group, or released already
  groups.erase(found);
  while (KivButtonItem* it = b->items) {
    b->items = it->next;
    KivMemoryFree(it);
  }
  for (KivSoundId id : b->hoverSounds) KivButtonSoundRelease(id);
  KivButtonSoundRelease(b->clickSound);
  KivMemoryFree(b);
  return 1;
}

void KivButtonForgetSprite(KivSprite* s) {
  if (!s) return;
  for (KivButton* b : Groups()) {
    while (Unlink(b, s)) {
    }
    DropReferences(b, s);
  }
}

void KivButtonReleaseAll(void) {
  while (!Groups().empty()) KivButtonRelease(Groups().back());
}

int KivButtonLiveGroups(void) { return static_cast<int>(Groups().size()); }
