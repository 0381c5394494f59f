// engine_host --showcase. On a 1280 x 720 screen:
// - top left, a strip animation (eight cells, 100 ms each) and a frame-table
//   animation (four entries of different times, looping);
// - top right, a frame counter drawn from a digit strip with leading zeros;
// - in the middle, three buttons: "cursor" (each click changes the cursor
//   type 0 -> 1 -> 2 -> 3 -> 0), a disabled one, and a round alpha-tested
//   one that takes a mosaic thumbnail of the screen;
// - bottom right, the last thumbnail (plain, refreshed every two seconds,
//   or the mosaic after a click on the round button).
// The left and right cursor keys move the mouse cursor from button to
// button (KivCursorSetPos); Return clicks the button under it.
// All pictures are drawn here, pixel by pixel.
#include "showcase.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

#define SHOWCASE_EXPORTS(X)                                                                                      \
  X(SpriteCreate) X(SpriteSetBuffer) X(SpriteSetPos) X(SpriteSetOffsetRect) X(SpriteRectSetPos)                  \
      X(SpriteRelease) X(SpriteViewCtrl) X(SpriteSetRenderMode) X(Animation) X(AnimationEx) X(AnimationRelease) \
          X(ButtonCreateEx) X(ButtonEntry) X(ButtonEntryEx) X(ButtonCtrl) X(ButtonGetReaction)                  \
              X(ButtonSetReaction) X(ButtonRelease) X(NumberSetEx) X(NumberDraw) X(CursorSet) X(CursorSetPos)   \
                  X(ThumbnailCreate) X(ThumbnailCreateMosaic) X(TaskCreate) X(InputGetKeyPush) X(timeGetTime)

struct Exports {
#define SHOWCASE_FIELD(n) decltype(&Kiv##n) n = nullptr;
  SHOWCASE_EXPORTS(SHOWCASE_FIELD)
#undef SHOWCASE_FIELD
} k;

constexpr int kW = 1280, kH = 720;
constexpr int kDigits = 6;
constexpr int kThumbW = 320, kThumbH = 180;
constexpr int kKeyReturn = 1 << 2, kKeyLeft = 1 << 9, kKeyRight = 1 << 10;

struct Scene {
  KivSprite* background = nullptr;
  KivSprite* strip = nullptr;
  KivSprite* table = nullptr;
  KivSprite* digits[kDigits] = {};
  KivSprite* buttons[3] = {};
  KivSprite* thumb = nullptr;
  KivTask* animations[2] = {};
  KivButton* group = nullptr;
  std::vector<uint32_t> thumbPixels;
  KivAnimationExFrame frames[4];
  int cursorType = 0;
  int focus = -1;  // the button the keys last moved to
  long frame = 0;
  bool scripted = false;
  uint32_t lastThumb = 0;
} g;

KivSprite* FromPixels(KivRenderList* list, const std::vector<uint32_t>& px, int w, int h, int priority) {
  KivSprite* s = k.SpriteCreate(list, w, h, priority);
  if (s) k.SpriteSetBuffer(s, px.data(), w, h);
  return s;
}

uint32_t Rgb(int r, int g, int b) {
  auto c = [](int v) { return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  return 0xFF000000u | c(r) << 16 | c(g) << 8 | c(b);
}

// A 3 x 5 picture of each digit-strip cell: 0-9, plus, minus, colon, dot.
const char* const kGlyphs[14] = {"111101101101111", "010110010010111", "111001111100111", "111001111001111",
                                 "101101111001001", "111100111001111", "111100111101111", "111001001001001",
                                 "111101111101111", "111101111001111", "000010111010000", "000000111000000",
                                 "000010000010000", "000000000000010"};

std::vector<uint32_t> DigitStrip(int cw, int ch) {
  std::vector<uint32_t> px(static_cast<size_t>(cw) * 14 * ch, 0);
  const int unit = cw / 4;
  for (int c = 0; c < 14; ++c)
    for (int y = 0; y < ch; ++y)
      for (int x = 0; x < cw; ++x) {
        const int gx = (x - unit / 2) / unit, gy = (y - unit / 2) / unit;
        if (x < unit / 2 || y < unit / 2 || gx > 2 || gy > 4) continue;
        if (kGlyphs[c][gy * 3 + gx] == '1') px[static_cast<size_t>(y) * cw * 14 + c * cw + x] = Rgb(255, 240, 160);
      }
  return px;
}

// Three cell rows of a button: idle, hovered, pressed; `round`: a disc with
// clear corners.
std::vector<uint32_t> ButtonSheet(int w, int h, int hue, bool round) {
  std::vector<uint32_t> px(static_cast<size_t>(w) * h * 3, 0);
  for (int row = 0; row < 3; ++row)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const float dx = (x - w / 2.0f) / (w / 2.0f), dy = (y - h / 2.0f) / (h / 2.0f);
        if (round && dx * dx + dy * dy > 1.0f) continue;
        const bool edge = round ? dx * dx + dy * dy > 0.8f : (x < 4 || y < 4 || x >= w - 4 || y >= h - 4);
        const int lift = row * 60;
        uint32_t c = edge ? Rgb(230, 230, 230) : Rgb(hue + lift, 80 + lift, 160 - row * 40);
        if (row == 2 && edge) c = Rgb(255, 220, 40);
        px[static_cast<size_t>(row * h + y) * w + x] = c;
      }
  return px;
}

void TakeThumbnail(bool mosaic) {
  g.thumbPixels.assign(static_cast<size_t>(kThumbW) * kThumbH, 0);
  const int bytes = kThumbW * kThumbH * 4;
  const int ok = mosaic ? k.ThumbnailCreateMosaic(g.thumbPixels.data(), bytes, kThumbW, kThumbH, 8)
                        : k.ThumbnailCreate(g.thumbPixels.data(), bytes, kThumbW, kThumbH);
  if (ok) k.SpriteSetBuffer(g.thumb, g.thumbPixels.data(), kThumbW, kThumbH);
  g.lastThumb = k.timeGetTime();
}

void MoveTo(int button) {
  g.focus = (button + 3) % 3;
  const float x[3] = {300, 560, 820};
  k.CursorSetPos(static_cast<int>(x[g.focus]) + 80, 400 + 40);
}

void Clicked(KivSprite* s) {
  if (s == g.buttons[0]) {
    g.cursorType = (g.cursorType + 1) % 4;
    k.CursorSet(g.cursorType);
  } else if (s == g.buttons[2]) {
    TakeThumbnail(true);
  }
}

int Step(void*) {
  if (++g.frame == 1) {
    // Animations are children of the task that makes them: this one.
    g.animations[0] = k.Animation(g.strip, 1, 100);
    g.animations[1] = k.AnimationEx(g.table, g.frames);
  }
  k.NumberDraw(g.digits, static_cast<int>(g.frame % 1000000), kDigits, 0x2);
  const int push = k.InputGetKeyPush();
  if (push & kKeyLeft) MoveTo(g.focus - 1);
  if (push & kKeyRight) MoveTo(g.focus + 1);
  if ((push & kKeyReturn) && g.focus >= 0) k.ButtonSetReaction(g.group, g.buttons[g.focus]);
  if (g.scripted) {
    // A short play by itself: to the round button, click it, then to the
    // first one, click it twice, and hide the cursor at the end.
    switch (g.frame) {
      case 10: MoveTo(2); break;
      case 20: k.ButtonSetReaction(g.group, g.buttons[2]); break;
      case 40: MoveTo(0); break;
      case 50:
      case 70: k.ButtonSetReaction(g.group, g.buttons[0]); break;
      case 90: k.CursorSet(-1); break;
      default: break;
    }
  }
  KivButtonState st{};
  if (KivSprite* s = k.ButtonGetReaction(g.group, &st)) Clicked(s);
  if (k.timeGetTime() - g.lastThumb >= 2000) TakeThumbnail(false);
  return 1;
}

}  // namespace

bool ShowcaseBind(void* lib) {
  bool ok = true;
#define SHOWCASE_BIND(n)                                                         \
  k.n = reinterpret_cast<decltype(&Kiv##n)>(dlsym(lib, "Kiv" #n));               \
  if (!k.n) {                                                                    \
    std::fprintf(stderr, "engine_host: missing export %s\n", "Kiv" #n);          \
    ok = false;                                                                  \
  }
  SHOWCASE_EXPORTS(SHOWCASE_BIND)
#undef SHOWCASE_BIND
  return ok;
}

bool ShowcaseStart(KivRenderList* list, bool scripted) {
  g = Scene{};
  g.scripted = scripted;
  // Background.
  std::vector<uint32_t> bg(static_cast<size_t>(kW) * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) bg[static_cast<size_t>(y) * kW + x] = Rgb(20 + x * 60 / kW, 30 + y * 50 / kH, 70);
  g.background = FromPixels(list, bg, kW, kH, 1000);
  if (!g.background) return false;
  k.SpriteSetRenderMode(g.background, 0);

  // Eight cells of a turning bar in a row, 96 x 96 each.
  const int cell = 96;
  std::vector<uint32_t> strip(static_cast<size_t>(cell) * 8 * cell, 0);
  for (int c = 0; c < 8; ++c) {
    const double a = c * 3.14159265358979 / 8;
    for (int y = 0; y < cell; ++y)
      for (int x = 0; x < cell; ++x) {
        const double dx = x - cell / 2.0, dy = y - cell / 2.0;
        const double along = dx * std::cos(a) + dy * std::sin(a), across = -dx * std::sin(a) + dy * std::cos(a);
        if (std::fabs(along) < 40 && std::fabs(across) < 8)
          strip[static_cast<size_t>(y) * cell * 8 + c * cell + x] = Rgb(120 + c * 16, 220 - c * 10, 255);
      }
  }
  g.strip = FromPixels(list, strip, cell * 8, cell, 100);
  g.table = FromPixels(list, strip, cell * 8, cell, 100);
  if (!g.strip || !g.table) return false;
  k.SpriteSetOffsetRect(g.strip, cell, cell);
  k.SpriteRectSetPos(g.strip, 0, 0);
  k.SpriteSetPos(g.strip, 80, 80);
  k.SpriteSetPos(g.table, 240, 80);
  // The frame table: cells 0, 2, 4, 6 with slower and faster steps, looping.
  const uint32_t times[4] = {400, 100, 100, 400};
  for (int i = 0; i < 4; ++i)
    g.frames[i] = KivAnimationExFrame{i * 2 * cell, 0, i * 2 * cell + cell, cell, times[i], (i + 1) % 4};

  // The frame counter.
  const std::vector<uint32_t> digits = DigitStrip(32, 48);
  for (KivSprite*& d : g.digits) {
    d = FromPixels(list, digits, 32 * 14, 48, 50);
    if (!d) return false;
    k.SpriteSetOffsetRect(d, 32, 48);
  }
  k.NumberSetEx(g.digits, 1000, 80, 34, kDigits);

  // Three buttons: the cursor changer, a disabled one, the round thumbnail one.
  g.group = k.ButtonCreateEx(0, 0);
  if (!g.group) return false;
  const float bx[3] = {300, 560, 820};
  for (int i = 0; i < 3; ++i) {
    const bool round = i == 2;
    const std::vector<uint32_t> sheet = ButtonSheet(160, 80, 60 + i * 50, round);
    g.buttons[i] = FromPixels(list, sheet, 160, 240, 60);
    if (!g.buttons[i]) return false;
    k.SpriteSetOffsetRect(g.buttons[i], 160, 80);
    k.SpriteRectSetPos(g.buttons[i], 0, 0);
    k.SpriteSetPos(g.buttons[i], bx[i], 400);
  }
  k.ButtonEntry(g.group, g.buttons[0]);
  k.ButtonEntry(g.group, g.buttons[1]);
  k.ButtonEntryEx(g.group, g.buttons[2], 0x10001);
  k.ButtonCtrl(g.group, g.buttons[1], 0);

  g.thumb = k.SpriteCreate(list, kThumbW, kThumbH, 40);
  if (!g.thumb) return false;
  k.SpriteSetPos(g.thumb, kW - kThumbW - 40, kH - kThumbH - 40);
  g.lastThumb = k.timeGetTime();
  return k.TaskCreate(Step, nullptr, 16, nullptr, KIV_TASK_BEHIND, nullptr, "Showcase") != nullptr;
}

void ShowcaseEnd(KivRenderList* list) {
  if (g.group) k.ButtonRelease(g.group);
  for (KivTask* t : g.animations)
    if (t) k.AnimationRelease(t);
  KivSprite* all[] = {g.background, g.strip, g.table, g.thumb, g.buttons[0], g.buttons[1], g.buttons[2]};
  for (KivSprite* s : all)
    if (s) k.SpriteRelease(list, s);
  for (KivSprite* s : g.digits)
    if (s) k.SpriteRelease(list, s);
  g = Scene{};
}
