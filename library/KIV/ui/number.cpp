// Animations, buttons, numbers, the cursor and thumbnails built on sprites.
// The engine never includes a game header, nor SDL, GL, FFmpeg or FreeType: it
// reaches the machine only through library/platform/.
//
// Numbers: a row of digit sprites from one strip image (cells 0-9 the
// digits, 10 plus, 11 minus, 12 and 13 two further symbols), entry 0 the
// least significant digit and rightmost. Every NULL entry is skipped with
// the invalid-handle error; nothing is written past the count the caller
// gives.
#include <cstdint>

#include "core/system_state.h"
#include "platform/core/error.h"
#include "platform/window/messages.h"

namespace {

constexpr int kCellPlus = 10, kCellMinus = 11, kCellSymbolA = 12, kCellSymbolB = 13;

// Each non-NULL entry of the first count, with its index.
template <typename Fn>
void ForEach(KivSprite** array, int count, Fn fn) {
  if (!array) {
    plat::SetLastError(plat::kErrorInvalidHandle);
    return;
  }
  for (int i = 0; i < count; ++i) {
    if (!array[i]) {
      plat::SetLastError(plat::kErrorInvalidHandle);
      continue;
    }
    fn(i, array[i]);
  }
}

int Digits(uint64_t a) {
  int n = 1;
  while (a >= 10) {
    a /= 10;
    ++n;
  }
  return n;
}

uint64_t Magnitude(int value) {
  const int64_t v = value;
  return static_cast<uint64_t>(v < 0 ? -v : v);
}

}  // namespace

extern "C" KIV_API void KivNumberCreate(KivRenderList* list, const char* file, KivSprite** array, int count,
                                        int priority) {
  if (!array) {
    plat::SetLastError(plat::kErrorInvalidHandle);
    return;
  }
  for (int i = 0; i < count; ++i) {
    array[i] = KivSpriteLoad(list, file, priority);
    if (array[i]) KivSpriteViewCtrl(array[i], 0);
  }
}

extern "C" KIV_API void KivNumberSetEx(KivSprite** array, int x, int y, int step, int count) {
  ForEach(array, count, [&](int i, KivSprite* s) {
    const int64_t px = static_cast<int64_t>(x) + static_cast<int64_t>(step) * (count - 1 - i);
    KivSpriteSetPos(s, static_cast<float>(px), static_cast<float>(y));
  });
}

extern "C" KIV_API void KivNumberSet(KivSprite** array, int x, int y, int count) {
  if (!array) {
    plat::SetLastError(plat::kErrorInvalidHandle);
    return;
  }
  // The step is the cell width of the first entry there is.
  int step = 0;
  bool found = false;
  for (int i = 0; i < count && !found; ++i) {
    KivSpriteInfo info{};
    if (array[i] && KivSpriteGetInfo(array[i], &info)) {
      step = info.cellWidth;
      found = true;
    }
  }
  if (!found) {
    plat::SetLastError(plat::kErrorInvalidHandle);
    return;
  }
  KivNumberSetEx(array, x, y, step, count);
}

extern "C" KIV_API void KivNumberAlphaType(KivSprite** array, int count, uint32_t colour) {
  ForEach(array, count, [&](int, KivSprite* s) { KivSpriteSetColor(s, colour); });
}

extern "C" KIV_API void KivNumberDrawCtrl(KivSprite** array, int count, int visible) {
  ForEach(array, count, [&](int, KivSprite* s) { KivSpriteViewCtrl(s, visible); });
}

extern "C" KIV_API void KivSameNumberDraw(KivSprite** array, int count, int cell) {
  KivNumberDrawCtrl(array, count, 0);
  ForEach(array, count, [&](int, KivSprite* s) {
    KivSpriteViewCtrl(s, 1);
    KivSpriteRectSetPos(s, static_cast<unsigned>(cell), 0);
  });
}

extern "C" KIV_API void KivNumberDraw(KivSprite** array, int value, int count, int flags) {
  KivNumberDrawCtrl(array, count, 0);
  if (!array || count <= 0) return;
  const uint64_t a = Magnitude(value);
  int shown = count;
  if (!(flags & 0x2)) {
    // As many entries as the value needs, but never more than the caller has:
    // the last one shown carries the symbol.
    const int need = Digits(a) + ((flags & 0x1) ? 1 : 0);
    if (need < shown) shown = need;
  }
  uint64_t rest = a;
  for (int i = 0; i < shown; ++i) {
    const int digit = static_cast<int>(rest % 10);
    rest /= 10;
    KivSprite* s = array[i];
    if (!s) {
      plat::SetLastError(plat::kErrorInvalidHandle);
      continue;
    }
    int cell = digit;
    if (i == shown - 1) {
      if (flags & 0x1) cell = value < 0 ? kCellMinus : kCellPlus;
      else if (flags & 0x4) cell = kCellSymbolA;
      else if (flags & 0x8) cell = kCellSymbolB;
    }
    KivSpriteViewCtrl(s, 1);
    KivSpriteRectSetPos(s, static_cast<unsigned>(cell), 0);
  }
}

extern "C" KIV_API int KivNumberGetPlace(int value) { return Digits(Magnitude(value)); }
