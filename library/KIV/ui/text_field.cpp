// The engine's text field: one field at a time (the player-name entry),
// its text kept as Shift-JIS with a caret at a character boundary. The
// game thread sets and reads the text; the window thread feeds input-method
// commits and editing keys and starts or stops the window's text input
// (which stays off while no field is shown).
#include "ui/text_field.h"

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "core/system_state.h"
#include "kiv.h"
#include "platform/core/error.h"
#include "platform/core/text_encoding.h"
#include "platform/audio/audio.h"
#include "platform/font/font.h"
#include "sound/sound.h"
#include "platform/window/messages.h"

namespace kivfield {

struct Field {
  intptr_t handle = 0;
  int x = 0, y = 0, w = 0, h = 0;
  int fontSize = 0;
  int maxChars = 0;
  bool visible = false;
  std::string text;
  size_t caret = 0;
  std::string composition;
  int compositionCursor = 0;
  uint64_t version = 0;
};
std::mutex g_lock;
Field g_field;

namespace {

intptr_t g_next = 1;
std::atomic<int> g_beeps{0};

size_t CharCount(const std::string& s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); i += plat::IsSjisLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1) ++n;
  return n;
}

// The byte offset of the character before / after the caret.
size_t Prev(const std::string& s, size_t caret) {
  size_t i = 0, last = 0;
  while (i < caret) {
    last = i;
    i += plat::IsSjisLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
  }
  return last;
}
size_t Next(const std::string& s, size_t caret) {
  if (caret >= s.size()) return s.size();
  return caret + (plat::IsSjisLead(static_cast<unsigned char>(s[caret])) && caret + 1 < s.size() ? 2 : 1);
}

// Switches the window's text input with the field's visibility (window
// thread only, where the window lives).
void TextInputFollow(const Field& f) {
  KivSystemState* s = g_kiv;
  if (!s || !s->window) return;
  if (f.handle && f.visible) {
    // Screen coordinates to the client: the field follows the view
    // rectangle the frame is shown in, so the candidates sit under it.
    const plat::Rect v = s->view;
    const int sw = s->params.screenWidth > 0 ? s->params.screenWidth : 1;
    const int sh = s->params.screenHeight > 0 ? s->params.screenHeight : 1;
    auto cx = [&](int x) { return v.width() > 0 ? v.left + x * v.width() / sw : x; };
    auto cy = [&](int y) { return v.height() > 0 ? v.top + y * v.height() / sh : y; };
    s->window->backend()->TextInputStart(plat::Rect{cx(f.x), cy(f.y), cx(f.x + f.w), cy(f.y + f.h)});
  } else {
    s->window->backend()->TextInputStop();
  }
}

void PostFollow() {
  KivSystemState* s = g_kiv;
  if (!s || !s->window) return;
  KivAttachProcess(
      +[](intptr_t) {
        Field copy;
        {
          std::lock_guard g(g_lock);
          copy = g_field;
        }
        TextInputFollow(copy);
      },
      0);
}

}  // namespace

bool Commit(const std::string& utf8) {
  const std::string sj = plat::Utf8ToCp932(utf8);
  // A character the code page lacks comes back as '?': refused whole.
  if (sj.size() != 0 && plat::Cp932ToUtf8(sj) != utf8) {
    Beep();
    return false;
  }
  bool full = false;
  std::unique_lock g(g_lock);
  Field& f = g_field;
  if (!f.handle) return false;
  f.composition.clear();
  std::string add;
  size_t count = CharCount(f.text);
  for (size_t i = 0; i < sj.size();) {
    const size_t w = plat::IsSjisLead(static_cast<unsigned char>(sj[i])) && i + 1 < sj.size() ? 2 : 1;
    if (f.maxChars > 0 && count >= static_cast<size_t>(f.maxChars)) {
      full = true;
      break;
    }
    add.append(sj, i, w);
    ++count;
    i += w;
  }
  f.text.insert(f.caret, add);
  f.caret += add.size();
  ++f.version;
  g.unlock();
  if (full) Beep();
  return !add.empty();
}

void Composition(const std::string& utf8, int cursor) {
  std::lock_guard g(g_lock);
  g_field.composition = utf8;
  g_field.compositionCursor = cursor;
  ++g_field.version;
}

void KeyPress(Key key) {
  std::lock_guard g(g_lock);
  Field& f = g_field;
  if (!f.handle || !f.composition.empty()) return;
  switch (key) {
    case Key::kBackspace:
      if (f.caret) {
        const size_t p = Prev(f.text, f.caret);
        f.text.erase(p, f.caret - p);
        f.caret = p;
      }
      break;
    case Key::kDelete:
      f.text.erase(f.caret, Next(f.text, f.caret) - f.caret);
      break;
    case Key::kLeft: f.caret = f.caret ? Prev(f.text, f.caret) : 0; break;
    case Key::kRight: f.caret = Next(f.text, f.caret); break;
    case Key::kHome: f.caret = 0; break;
    case Key::kEnd: f.caret = f.text.size(); break;
  }
  ++f.version;
}

FieldView View() {
  std::lock_guard g(g_lock);
  const Field& f = g_field;
  FieldView v;
  v.exists = f.handle != 0;
  v.visible = f.visible;
  v.x = f.x, v.y = f.y, v.w = f.w, v.h = f.h;
  v.fontSize = f.fontSize;
  v.text = f.text;
  v.caret = f.caret;
  v.composition = f.composition;
  v.compositionCursor = f.compositionCursor;
  v.version = f.version;
  return v;
}

int BeepCount() { return g_beeps.load(); }

namespace {
std::mutex g_beepLock;
plat::AudioBuffer* g_beepBuffer = nullptr;  // in the current sound device's mixer

// A short tone (880 Hz, 120 ms, faded in and out), mono 16-bit.
plat::AudioBuffer* BeepBuffer(plat::AudioDevice* device) {
  if (g_beepBuffer) return g_beepBuffer;
  plat::AudioFormat f;
  f.channels = 1;
  f.rate = 22050;
  f.bits = 16;
  const uint32_t frames = static_cast<uint32_t>(f.rate) * 120 / 1000;
  plat::AudioBuffer* b = device->mixer().CreateBuffer(f, frames * 2, 0);
  if (!b) return nullptr;
  uint8_t *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  if (b->Lock(0, frames * 2, &p1, &n1, &p2, &n2)) {
    for (uint32_t i = 0; i < frames && (i + 1) * 2 <= n1; ++i) {
      const float t = static_cast<float>(i) / static_cast<float>(f.rate);
      const float edge = std::min(1.0f, std::min(i, frames - i) / 200.0f);
      const auto v = static_cast<int16_t>(std::sin(2.0f * 3.14159265f * 880.0f * t) * 9000.0f * edge);
      std::memcpy(p1 + 2 * i, &v, 2);
    }
    b->Unlock();
  }
  g_beepBuffer = b;
  return b;
}
}  // namespace

void Beep() {
  g_beeps.fetch_add(1);
  plat::DebugOutput("beep\n");
  plat::AudioDevice* device = KivSoundDevice();
  if (!device) return;
  std::lock_guard g(g_beepLock);
  if (plat::AudioBuffer* b = BeepBuffer(device)) {
    b->Stop();
    b->SetCurrentPosition(0);
    b->Play(false);
  }
}

}  // namespace kivfield

using namespace kivfield;

extern "C" KIV_API intptr_t KivTextFieldCreate(int x, int y, int width, int height, int fontSize, int maxChars) {
  intptr_t h;
  {
    std::lock_guard g(g_lock);
    if (g_field.handle) return 0;  // one field at a time
    g_field = Field{};
    g_field.handle = h = g_next++;
    g_field.x = x, g_field.y = y, g_field.w = width, g_field.h = height;
    g_field.fontSize = fontSize;
    g_field.maxChars = maxChars;
  }
  PostFollow();
  return h;
}

extern "C" KIV_API int KivTextFieldSetText(intptr_t field, const char* text) {
  std::lock_guard g(g_lock);
  if (!field || field != g_field.handle) return 0;
  g_field.text = text ? text : "";
  g_field.caret = g_field.text.size();
  g_field.composition.clear();
  ++g_field.version;
  return 1;
}

extern "C" KIV_API int KivTextFieldGetText(intptr_t field, char* out, int size) {
  std::lock_guard g(g_lock);
  if (!field || field != g_field.handle || !out || size <= 0) return 0;
  const size_t n = std::min(g_field.text.size(), static_cast<size_t>(size - 1));
  std::memcpy(out, g_field.text.data(), n);
  out[n] = 0;
  return static_cast<int>(n);
}

extern "C" KIV_API int KivTextFieldMove(intptr_t field, int x, int y, int width, int height) {
  {
    std::lock_guard g(g_lock);
    if (!field || field != g_field.handle) return 0;
    g_field.x = x, g_field.y = y, g_field.w = width, g_field.h = height;
    // Moved out of sight (a zero size) it takes no more input.
    if (width <= 0 || height <= 0) g_field.visible = false;
    ++g_field.version;
  }
  PostFollow();
  return 1;
}

extern "C" KIV_API int KivTextFieldShow(intptr_t field, int visible) {
  {
    std::lock_guard g(g_lock);
    if (!field || field != g_field.handle) return 0;
    g_field.visible = visible != 0;
    ++g_field.version;
  }
  PostFollow();
  return 1;
}

extern "C" KIV_API int KivTextFieldDestroy(intptr_t field) {
  {
    std::lock_guard g(g_lock);
    if (!field || field != g_field.handle) return 0;
    g_field = Field{};
  }
  PostFollow();
  return 1;
}

extern "C" KIV_API int KivMessageBeep(int) {
  Beep();
  return 1;
}

extern "C" KIV_API int KivWindowSetTitle(const char* title) {
  KivSystemState* s = g_kiv;
  if (!s || !s->window || !title) return 0;
  auto* copy = new std::string(title);
  const bool posted = KivAttachProcess(
                          +[](intptr_t arg) {
                            auto* t = reinterpret_cast<std::string*>(arg);
                            if (g_kiv && g_kiv->window) g_kiv->window->backend()->SetTitle(*t);
                            delete t;
                          },
                          reinterpret_cast<intptr_t>(copy)) != 0;
  if (!posted) delete copy;
  return posted ? 1 : 0;
}

bool KivTextFieldWindowInput(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == plat::kMsgTextCommit || message == plat::kMsgTextComposition) {
    std::unique_ptr<plat::TextInputEvent> t(reinterpret_cast<plat::TextInputEvent*>(lParam));
    if (!t) return false;
    if (message == plat::kMsgTextCommit) return kivfield::Commit(t->utf8);
    kivfield::Composition(t->utf8, t->cursor);
    return true;
  }
  {
    std::lock_guard g(kivfield::g_lock);
    if (!kivfield::g_field.handle || !kivfield::g_field.visible) return false;
  }
  // Virtual keys: Backspace, Delete, Left, Right, Home, End.
  switch (wParam) {
    case 0x08: kivfield::KeyPress(Key::kBackspace); return true;
    case 0x2E: kivfield::KeyPress(Key::kDelete); return true;
    case 0x25: kivfield::KeyPress(Key::kLeft); return true;
    case 0x27: kivfield::KeyPress(Key::kRight); return true;
    case 0x24: kivfield::KeyPress(Key::kHome); return true;
    case 0x23: kivfield::KeyPress(Key::kEnd); return true;
    default: return false;
  }
}

namespace {

// Blends one glyph's coverage (0..64) in colour into the frame.
void DrawGlyph(uint32_t* px, int width, int height, const plat::FontGlyph& g, int penX, int baseline, uint32_t rgb,
               const plat::Rect& clip) {
  for (int y = 0; y < g.height; ++y) {
    const int fy = baseline - g.originY + y;
    if (fy < clip.top || fy >= clip.bottom || fy < 0 || fy >= height) continue;
    for (int x = 0; x < g.width; ++x) {
      const int fx = penX + g.originX + x;
      if (fx < clip.left || fx >= clip.right || fx < 0 || fx >= width) continue;
      const uint32_t a = g.coverage[static_cast<size_t>(y) * g.pitch + x];
      if (!a) continue;
      uint32_t& d = px[static_cast<size_t>(fy) * width + fx];
      uint32_t out = 0xFF000000u;
      for (int sh = 0; sh < 24; sh += 8) {
        const uint32_t dc = d >> sh & 0xFF, sc = rgb >> sh & 0xFF;
        out |= ((dc * (64 - a) + sc * a) / 64) << sh;
      }
      d = out;
    }
  }
}

void FillRect(uint32_t* px, int width, int height, plat::Rect r, uint32_t argb) {
  for (int y = std::max(r.top, 0); y < std::min(r.bottom, height); ++y)
    for (int x = std::max(r.left, 0); x < std::min(r.right, width); ++x) px[static_cast<size_t>(y) * width + x] = argb;
}

// Draws UTF-8 or Shift-JIS text from penX; returns the pen after it.
int DrawText(uint32_t* px, int width, int height, plat::FontHandle* font, const std::string& utf8, int penX, int baseline,
             uint32_t rgb, const plat::Rect& clip) {
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = b;
    size_t n = 1;
    if (b >= 0xF0 && i + 3 < utf8.size()) cp = (b & 7u) << 18 | (utf8[i + 1] & 0x3Fu) << 12 | (utf8[i + 2] & 0x3Fu) << 6 | (utf8[i + 3] & 0x3Fu), n = 4;
    else if (b >= 0xE0 && i + 2 < utf8.size()) cp = (b & 15u) << 12 | (utf8[i + 1] & 0x3Fu) << 6 | (utf8[i + 2] & 0x3Fu), n = 3;
    else if (b >= 0xC0 && i + 1 < utf8.size()) cp = (b & 31u) << 6 | (utf8[i + 1] & 0x3Fu), n = 2;
    const plat::FontGlyph& g = plat::FontGetGlyph(font, cp);
    DrawGlyph(px, width, height, g, penX, baseline, rgb, clip);
    penX += g.advanceX;
    i += n;
  }
  return penX;
}

}  // namespace

bool KivTextFieldShown(void) {
  const FieldView v = kivfield::View();
  return v.exists && v.visible && v.w > 0 && v.h > 0;
}

void KivTextFieldDraw(uint32_t* pixels, int width, int height) {
  const FieldView v = kivfield::View();
  if (!v.exists || !v.visible || v.w <= 0 || v.h <= 0 || !pixels) return;
  const plat::Rect box{v.x, v.y, v.x + v.w, v.y + v.h};
  FillRect(pixels, width, height, box, 0xFFFFFFFFu);
  // A thin frame so the field reads as a field on any background.
  FillRect(pixels, width, height, {box.left, box.top, box.right, box.top + 1}, 0xFF404040u);
  FillRect(pixels, width, height, {box.left, box.bottom - 1, box.right, box.bottom}, 0xFF404040u);
  FillRect(pixels, width, height, {box.left, box.top, box.left + 1, box.bottom}, 0xFF404040u);
  FillRect(pixels, width, height, {box.right - 1, box.top, box.right, box.bottom}, 0xFF404040u);
  plat::FontHandle* font = plat::FontOpen(plat::FontFace::kMincho, v.fontSize > 0 ? v.fontSize : 31, true);
  if (!font) return;
  const plat::FontMetrics& m = plat::FontGetMetrics(font);
  const int baseline = v.y + (v.h - m.height) / 2 + m.ascent;
  const plat::Rect clip{box.left + 1, box.top + 1, box.right - 1, box.bottom - 1};
  int pen = v.x + 2;
  pen = DrawText(pixels, width, height, font, plat::Cp932ToUtf8(v.text.substr(0, v.caret)), pen, baseline, 0, clip);
  if (!v.composition.empty()) {
    // The composition stands at the caret, underlined.
    const int start = pen;
    pen = DrawText(pixels, width, height, font, v.composition, pen, baseline, 0x202080, clip);
    FillRect(pixels, width, height, {std::max(start, clip.left), baseline + 2, std::min(pen, clip.right), baseline + 3},
             0xFF202080u);
  }
  const int caret = pen;
  pen = DrawText(pixels, width, height, font, plat::Cp932ToUtf8(v.text.substr(v.caret)), pen, baseline, 0, clip);
  if (v.composition.empty() && caret >= clip.left && caret < clip.right)
    FillRect(pixels, width, height, {caret, baseline - m.ascent, caret + 1, baseline + m.descent}, 0xFF000000u);
}

void KivBeepRelease(void) {
  std::lock_guard g(kivfield::g_beepLock);
  if (kivfield::g_beepBuffer) kivfield::g_beepBuffer->Release();
  kivfield::g_beepBuffer = nullptr;
}
