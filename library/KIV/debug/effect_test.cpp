// The effect test: a task with a render list of its own that shows two
// images (a background and a character), three mode texts and a grid of
// transition numbers; clicking a number runs that screen transition
// (kind = n / 10, n mod 10 seconds) and changes the scene by the mode.
// Esc ends it: its list, its sprites and its arguments are freed and the
// list that was active before comes back.
#include <cstdio>
#include <cstring>

#include "core/system_state.h"
#include "render/pixel_routines.h"
#include "task/task.h"

namespace {

constexpr int kRows = 13, kCols = 9;
constexpr uint32_t kEsc = 1u << 0, kLButton = 1u << 23;
constexpr uint32_t kHover = 0xFF00FFFFu;
constexpr uint32_t kNumberColour = 0xFF000000u;
constexpr uint32_t kModeColour = 0xFFFFFFFFu;
constexpr int kPriority = 1001;

struct EffectTest {
  KivRenderList* list;
  KivRenderList* previous;
  char* background;  // the arguments, copied
  char* character;
  int second;        // kept, not read
  KivSprite* images[2];  // background, character
  KivSprite* modes[3];   // whole, background, character
  KivSprite* numbers[kRows][kCols];
  int mode;
  int lastEffect;  // the last transition started, n (for tests)
};

int RowBase(int row) { return row < 3 ? 10 * (row + 1) : 100 + 10 * (row - 3); }

char* Copy(const char* s) {
  if (!s) return nullptr;
  const size_t n = std::strlen(s) + 1;
  auto* p = static_cast<char*>(KivMemoryAlloc(static_cast<int>(n), 0));
  if (p) std::memcpy(p, s, n);
  return p;
}

// On the text itself: a text sprite's surface is a power of two, wider and
// higher than its text (its cell), and would reach over its neighbours.
bool Hit(KivSprite* s, int x, int y) {
  KivSpriteInfo i{};
  if (!s || !KivSpriteViewIs(s) || !KivSpriteGetInfo(s, &i)) return false;
  const int64_t px = int64_t{x} - (KivTruncToInt(i.x) + int64_t{i.offsetX});
  const int64_t py = int64_t{y} - (KivTruncToInt(i.y) + int64_t{i.offsetY});
  return px >= 0 && py >= 0 && px < i.cellWidth + 2 && py < i.cellHeight + 2;
}

void Build(EffectTest* e) {
  e->list = KivRenderInit();
  e->previous = KivRenderGetActive();
  if (!e->list) return;  // the game's list stays on screen
  KivRenderSetActive(e->list);
  e->images[0] = e->background ? KivSpriteLoad(e->list, e->background, kPriority) : nullptr;
  e->images[1] = e->character ? KivSpriteLoad(e->list, e->character, kPriority) : nullptr;
  if (e->images[1] && g_kiv) {
    KivSpriteInfo info{};
    KivSpriteGetInfo(e->images[1], &info);
    KivSpriteSetPos(e->images[1], static_cast<float>((g_kiv->params.screenWidth - info.width) / 2), 0.0f);
  }
  const char* modeNames[3] = {KivText("全体"), KivText("背景"), KivText("立ち絵")};
  for (int i = 0; i < 3; ++i) {
    e->modes[i] = KivSpriteCreateText(e->list, modeNames[i], 0, kModeColour);
    if (e->modes[i]) KivSpriteSetPos(e->modes[i], 20.0f + 80.0f * i, 20.0f);
  }
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kCols; ++c) {
      char text[32];
      std::snprintf(text, sizeof text, "<s14>%d", RowBase(r) + c + 1);
      KivSprite* s = KivSpriteCreateText(e->list, text, 0, kNumberColour);
      if (s) KivSpriteSetPos(s, 20.0f + 40.0f * c, 50.0f + 20.0f * r);
      e->numbers[r][c] = s;
    }
}

int Step(void* data) {
  auto* e = static_cast<EffectTest*>(data);
  if (!e->list) Build(e);
  const uint32_t push = static_cast<uint32_t>(KivInputGetKeyPush());
  if (push & kEsc) {
    KivTaskFree(nullptr);  // this task and its children
    return 1;
  }
  const int x = KivInputGetMouseX(), y = KivInputGetMouseY();
  for (int i = 0; i < 3; ++i) {
    const bool over = Hit(e->modes[i], x, y);
    if (e->modes[i]) KivSpriteSetColor(e->modes[i], over ? kHover : kModeColour);
    if (over && (push & kLButton)) e->mode = i;
  }
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kCols; ++c) {
      KivSprite* s = e->numbers[r][c];
      const bool over = Hit(s, x, y);
      if (s) KivSpriteSetColor(s, over ? kHover : kNumberColour);
      if (!over || !(push & kLButton)) continue;
      const int n = RowBase(r) + c + 1;
      e->lastEffect = n;
      KivEffectEx(static_cast<unsigned>(n / 10), static_cast<unsigned>(n % 10) * 1000u, 0, 1);
      auto toggle = [](KivSprite* sp) {
        if (sp) KivSpriteViewCtrl(sp, !KivSpriteViewIs(sp));
      };
      if (e->mode == 0) {
        toggle(e->images[0]);
        toggle(e->images[1]);
      } else if (e->mode == 1) {
        toggle(e->images[0]);
      } else {
        toggle(e->images[1]);
      }
    }
  return 1;
}

void Release(void* data) {
  auto* e = static_cast<EffectTest*>(data);
  if (e->list) {
    KivSpriteReleaseArray(e->list, e->images, 2);
    KivSpriteReleaseArray(e->list, e->modes, 3);
    KivSpriteReleaseArray(e->list, &e->numbers[0][0], kRows * kCols);
    KivRenderSetActive(e->previous);
    KivRenderUninit(e->list);
    e->list = nullptr;
  }
  KivMemoryFree(e->background);
  KivMemoryFree(e->character);
  e->background = e->character = nullptr;
}

}  // namespace

// The last transition number the effect test started (0: none).
int KivEffectTestLast(KivTask* task) {
  return task && task->data ? static_cast<EffectTest*>(task->data)->lastEffect : 0;
}

extern "C" KIV_API int KivEffectTest(const char* background, int second, const char* character) {
  void* data = nullptr;
  KivTask* t = KivTaskCreate(Step, Release, sizeof(EffectTest), &data, KIV_TASK_BEHIND, nullptr, "KivEffectTest");
  if (!t || !data) return 0;
  auto* e = static_cast<EffectTest*>(data);
  e->background = Copy(background);
  e->character = Copy(character);
  e->second = second;
  return 1;
}
