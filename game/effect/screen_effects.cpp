// Screen effects, group 16: snow, sakura petals, a colour flash, the shake
// of the layers and the message window, and the raster wave on the whole
// screen; their per-frame steps and their release at a game reset.
//
// Every flake and petal is its own sprite; all 255 (127) exist whatever the
// count, but only the first count move. Each falls from its origin to its
// bottom over its fall time, swaying on the sine table, and then falls
// again. Ending fades them out and releases every one.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "component_entries.h"
#include "data/script_tables.h"
#include "effect/screen_effects.h"
#include "layers/layers.h"
#include "platform/core/text_encoding.h"
#include "start/game_debug_log.h"
#include "vm/vm.h"
#include "vm/vm_context.h"

namespace {

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 720;
constexpr int32_t kSakuraPriority = 5000;
constexpr int kDriftLimit = 512;
constexpr uint32_t kEndless = 0xFFFFFFFFu;
constexpr int kShakeLayers = 64;

struct SineTable {
  float v[kSineTableSize];
  SineTable() {
    for (int i = 0; i < kSineTableSize; ++i)
      v[i] = static_cast<float>(std::sin(2.0 * std::numbers::pi * i / kSineTableSize));
  }
};

uint32_t Random() { return static_cast<uint32_t>(KivRandomEx()); }
// random mod n for n > 0.
int64_t RandomMod(int64_t n) { return n > 0 ? static_cast<int64_t>(Random() % static_cast<uint64_t>(n)) : 0; }

bool Skipping(const VmContext* ctx) { return get_skip_state(ctx) != 0; }

int32_t Saturate(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// Pops a script point only while the effect's own bit says it holds one.
void DropPoint(VmContext* ctx, uint32_t bit) {
  if (!(ctx->effects.pointBits & bit)) return;
  ctx->effects.pointBits &= ~bit;
  script_point_pop(ctx);
}

// ---- Falling sprites ----

template <typename Entry, int N>
void ReleaseAll(VmContext* ctx, Entry (&entries)[N], FallState* state) {
  KivRenderList* list = game_render_list(ctx);
  for (Entry& e : entries)
    if (e.sprite && list) KivSpriteRelease(list, e.sprite);
  std::memset(entries, 0, sizeof entries);
  *state = FallState{};
}

// Mode 0's placement: somewhere above the screen, wider than it.
template <typename Entry>
void Place(Entry* e, int32_t drift, int32_t cellHeight) {
  e->baseX = static_cast<int32_t>(RandomMod(1920)) - 320;
  e->x = e->baseX - drift;
  e->y = -static_cast<int32_t>(RandomMod(1440) + cellHeight);
  e->bottom = cellHeight + kScreenHeight;
}

// One fall step of an entry; its fall starts again once the fall time has
// gone by.
template <typename Entry>
void FallStep(Entry* e, uint32_t now) {
  const uint32_t fall = e->fallTime ? e->fallTime : 1;  // a zero fall time would divide by zero
  const uint32_t elapsed = std::min(now - e->start, fall);
  const double t = static_cast<double>(elapsed) / fall;
  const int32_t ox = static_cast<int32_t>((static_cast<double>(e->baseX) - e->x) * t) +
                     static_cast<int32_t>(50.0f * effect_sine(e->angle));
  const int32_t oy = static_cast<int32_t>(t * (static_cast<double>(e->bottom) - e->y));
  e->angle += 1;
  if (e->sprite) KivSpriteSetOffsetPos(e->sprite, ox, oy);
  if (now - e->start >= fall) e->start = now;
}

// The ending fade; true once it is over.
template <typename Entry, int N>
bool EndStep(VmContext* ctx, Entry (&entries)[N], FallState* state, uint32_t now) {
  const uint32_t d = state->endDuration;
  const uint32_t e = std::min(now - state->endStart, d);
  const uint32_t colour =
      d == 0 ? 0xFFFFFFFFu
             : static_cast<uint32_t>(static_cast<int>((1.0 - static_cast<double>(e) / d) * 255)) << 24 | 0xFFFFFFu;
  for (int i = 0; i < state->count && i < N; ++i)
    if (entries[i].sprite) KivSpriteSetColor(entries[i].sprite, colour);
  if (e < d) return false;
  ReleaseAll(ctx, entries, state);
  return true;
}

bool SnowFrame(VmContext* ctx, uint32_t now) {
  EffectState& fx = ctx->effects;
  for (int i = 0; i < fx.snow.count && i < kSnowFlakeCount; ++i) FallStep(&fx.flakes[i], now);
  return fx.snow.state == kEffectStateEnding && EndStep(ctx, fx.flakes, &fx.snow, now);
}

bool SakuraFrame(VmContext* ctx, uint32_t now) {
  EffectState& fx = ctx->effects;
  for (int i = 0; i < fx.sakura.count && i < kSakuraPetalCount; ++i) {
    Petal& p = fx.petals[i];
    FallStep(&p, now);
    if (now - p.cellTime >= p.cellPeriod) {
      p.cell = static_cast<uint16_t>((p.cell + 1) & 7);
      if (p.sprite) KivSpriteRectSetPos(p.sprite, p.cell, 0);
      p.cellTime = now;
    }
  }
  return fx.sakura.state == kEffectStateEnding && EndStep(ctx, fx.petals, &fx.sakura, now);
}

bool ImageName(VmContext* ctx, uint32_t operand, char (&out)[33]) {
  uint8_t raw[kFileRecordBytes];
  std::memset(out, 0, sizeof out);
  if (!get_record_operand(ctx, operand, raw, true)) return false;
  std::memcpy(out, raw, 32);
  return true;
}

// ---- Flash and shake steps ----

bool FlashFrame(VmContext* ctx, uint32_t now) {
  FlashEffect& f = ctx->effects.flash;
  if (now - f.start < f.duration) return false;
  if (f.sprite) KivSpriteRelease(game_render_list(ctx), f.sprite);
  f = FlashEffect{};
  DropPoint(ctx, kEffectPointFlash);
  return true;
}

void ShakeOffsets(int32_t direction, int64_t r, int32_t* dx, int32_t* dy) {
  *dx = *dy = 0;
  if (r <= 0) return;  // no range, no movement
  const int64_t h = r >> 1;
  if (direction == 0 || direction == 2) *dy = Saturate(RandomMod(r) - h);
  if (direction == 1 || direction == 2) *dx = Saturate(RandomMod(r) - h);
}

void AddShake(SpriteRecord* r, int32_t dx, int32_t dy) {
  r->t.frame.eX = Saturate(int64_t{r->t.frame.eX} + dx);
  r->t.frame.eY = Saturate(int64_t{r->t.frame.eY} + dy);
}

bool ShakeFrame(VmContext* ctx, uint32_t now) {
  ShakeEffect& s = ctx->effects.shake;
  const bool endless = s.runningDuration == kEndless;
  const uint32_t e = endless ? now - s.start : std::min(now - s.start, s.runningDuration);
  if (!endless && e >= s.runningDuration) {
    for (int i = 0; i < kShakeLayers; ++i)
      if (SpriteRecord* r = ctx->layers.layers[i].record) r->t.frame.eX = r->t.frame.eY = 0;
    if (s.targets & 1)
      if (SpriteRecord* w = text_window_record(ctx)) w->t.frame.eX = w->t.frame.eY = 0;
    DropPoint(ctx, kEffectPointShake);
    s = ShakeEffect{};
    return true;
  }
  int64_t r = 2 * int64_t{s.amplitude};
  if (!endless) r = static_cast<int64_t>((1.0 - static_cast<double>(e) / s.runningDuration) * static_cast<double>(r));
  if (!endless && r < 1 && s.amplitude > 0) r = 1;
  int32_t dx, dy;
  ShakeOffsets(s.direction, r, &dx, &dy);
  if (s.targets & 1)
    if (SpriteRecord* w = text_window_record(ctx)) AddShake(w, dx, dy);
  for (int i = 0; i < kShakeLayers; ++i) {
    const LayerRecord& l = ctx->layers.layers[i];
    if ((l.flags & kLayerFlagLocked) || !l.record || !l.record->sprite) continue;
    if (s.targets & 2) {
      AddShake(l.record, dx, dy);
    } else {
      int32_t ox, oy;
      ShakeOffsets(s.direction, r, &ox, &oy);
      AddShake(l.record, ox, oy);
    }
  }
  return false;
}

// ---- Commands ----

int CmdEffectStop(VmContext* ctx) {
  uint32_t time = static_cast<uint32_t>(value_stack_pop(ctx));
  const uint32_t mask = static_cast<uint32_t>(value_stack_pop(ctx));
  if (Skipping(ctx)) {
    game_debug_puts(kDebugWindowCommand, "effect_stop skip");
    time = 0;
  } else {
    game_debug_log(kDebugWindowCommand, "effect_stop %d, %d", static_cast<int>(mask), static_cast<int>(time));
  }
  EffectState& fx = ctx->effects;
  const uint32_t now = KivtimeGetTime();
  if (mask & 1) {
    DropPoint(ctx, kEffectPointFlash);
    if (fx.shake.state == kEffectStateRunning) {
      fx.shake.state = kEffectStateEnding;
      fx.shake.start = now;
      fx.shake.runningDuration = time;
      DropPoint(ctx, kEffectPointShake);
    }
  }
  auto end = [&](FallState& f) {
    if (f.state != kEffectStateRunning) return;
    f.state = kEffectStateEnding;
    f.endStart = now;
    f.endDuration = time;
  };
  if (mask & 4) end(fx.snow);
  if (mask & 8) end(fx.sakura);
  if ((mask & 16) && fx.raster.state == kEffectStateRunning) {
    fx.raster.state = kEffectStateEnding;
    KivSetFxEffect(&fx.raster.priority, KIV_FX_SCREEN, 2, time, nullptr);
  }
  return 1;
}

int CmdShake(VmContext* ctx) {
  const uint32_t targets = static_cast<uint32_t>(value_stack_pop(ctx));
  const uint32_t duration = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t amplitude = value_stack_pop(ctx);
  const int32_t direction = value_stack_pop(ctx);
  return effect_shake_start(ctx, targets, duration, amplitude, direction);
}

int CmdFlush(VmContext* ctx) {
  const uint32_t duration = static_cast<uint32_t>(value_stack_pop(ctx));
  const uint32_t blue = static_cast<uint32_t>(value_stack_pop(ctx)) & 0xFF;
  const uint32_t green = static_cast<uint32_t>(value_stack_pop(ctx)) & 0xFF;
  const uint32_t red = static_cast<uint32_t>(value_stack_pop(ctx)) & 0xFF;
  command_yield(ctx);  // also when off
  if (!KivEffectEnableIs() || Skipping(ctx)) {
    game_debug_puts(kDebugWindowCommand, "flush off");
    return 1;
  }
  EffectState& fx = ctx->effects;
  KivRenderList* list = game_render_list(ctx);
  if (fx.flash.sprite) KivSpriteRelease(list, fx.flash.sprite);
  fx.flash = FlashEffect{};
  const uint32_t colour = red << 16 | green << 8 | blue;
  game_debug_log(kDebugWindowCommand, "flush 0x%06X", colour);
  fx.flash.sprite = list ? KivSpriteCreate(list, kScreenWidth, kScreenHeight, 0) : nullptr;
  if (!fx.flash.sprite) {
    game_error_log("flush: the flash sprite could not be made");
    return 1;
  }
  KivSpritePaint(fx.flash.sprite, 0xFF000000u | colour);
  fx.flash.state = 1;
  fx.flash.start = KivtimeGetTime();
  fx.flash.duration = duration;
  DropPoint(ctx, kEffectPointFlash);
  fx.pointBits |= kEffectPointFlash;
  fx.active |= kEffectFlash;
  script_point_push(ctx);
  return 1;
}

int CmdSnow(VmContext* ctx) {
  const int32_t count = value_stack_pop(ctx);
  const int32_t drift = value_stack_pop(ctx);
  const int32_t mode = value_stack_pop(ctx);
  const uint32_t operand = static_cast<uint32_t>(value_stack_pop(ctx));
  return effect_snow_start(ctx, count, drift, mode, operand);
}

int CmdSakura(VmContext* ctx) {
  const int32_t count = value_stack_pop(ctx);
  const int32_t drift = value_stack_pop(ctx);
  const int32_t mode = value_stack_pop(ctx);
  const uint32_t operand = static_cast<uint32_t>(value_stack_pop(ctx));
  return effect_sakura_start(ctx, count, drift, mode, operand);
}

int CmdRaster(VmContext* ctx) {
  const uint32_t period = static_cast<uint32_t>(value_stack_pop(ctx));
  const int32_t y = value_stack_pop(ctx);
  const int32_t x = value_stack_pop(ctx);
  const int32_t layer = value_stack_pop(ctx);
  return effect_raster_start(ctx, period, y, x, layer);
}

}  // namespace

float effect_sine(uint32_t i) {
  static const SineTable table;
  return table.v[i % kSineTableSize];
}

int effect_shake_start(VmContext* ctx, uint32_t targets, uint32_t duration, int32_t amplitude, int32_t direction) {
  if (duration != kEndless && (!KivEffectEnableIs() || Skipping(ctx))) {
    game_debug_puts(kDebugWindowCommand, "shake off");
    return 1;
  }
  game_debug_log(kDebugWindowCommand, "shake %d, %d, %d, %d", direction, amplitude, static_cast<int>(duration),
                 static_cast<int>(targets));
  EffectState& fx = ctx->effects;
  fx.shake.state = kEffectStateRunning;
  fx.shake.start = KivtimeGetTime();
  fx.shake.runningDuration = duration;
  fx.shake.direction = direction;
  fx.shake.amplitude = amplitude;
  fx.shake.duration = duration;
  fx.shake.targets = targets;
  fx.active |= kEffectShake;
  if (duration != kEndless) {
    DropPoint(ctx, kEffectPointShake);
    fx.pointBits |= kEffectPointShake;
    script_point_push(ctx);
    command_yield(ctx);
  }
  return 1;
}

int effect_snow_start(VmContext* ctx, int32_t count, int32_t drift, int32_t mode, uint32_t operand) {
  char name[33];
  ImageName(ctx, operand, name);
  count = std::clamp(count, 1, kSnowFlakeCount);
  drift = std::clamp(drift, -kDriftLimit, kDriftLimit);
  if (drift == 0) drift = 1;
  game_debug_log(kDebugWindowCommand, "snow %s, %d, %d, %d", name, mode, drift, count);
  EffectState& fx = ctx->effects;
  // A second snow takes the place of the first; its flakes go first.
  ReleaseAll(ctx, fx.flakes, &fx.snow);
  fx.active &= ~kEffectSnow;
  const int32_t k = kDriftLimit - std::abs(drift);
  const int32_t speed = k / 51 + 1;
  const uint32_t now = KivtimeGetTime();
  KivRenderList* list = game_render_list(ctx);
  for (int i = 0; i < kSnowFlakeCount; ++i) {
    const int layer = i % 3;
    Flake& f = fx.flakes[i];
    f.sprite = list ? sprite_load(list, name, kScreenWidth, kScreenHeight, (500 - layer) * 10) : nullptr;
    if (!f.sprite) {
      game_debug_log(kDebugWindowError, plat::Sjis("[%d]スプライトの読み込みに失敗。[%s]"),
                     static_cast<int>(ctx->script.pc), name);
      ReleaseAll(ctx, fx.flakes, &fx.snow);  // no flake of a failed snow stays
      return 0;
    }
    KivSpriteInfo info{};
    KivSpriteGetInfo(f.sprite, &info);
    f.angle = Random() & 511;
    if (mode == 0) {
      Place(&f, drift, info.cellHeight);
      f.fallTime = static_cast<uint32_t>(
          std::max<int64_t>(int64_t{f.bottom - f.y} * speed - int64_t{layer} * k, 1));
      KivSpriteSetPos(f.sprite, static_cast<float>(f.x), static_cast<float>(f.y));
    }
    KivSpriteRectSetPos(f.sprite, static_cast<unsigned>(layer), 0);
    f.start = now;
  }
  fx.snow.state = kEffectStateRunning;
  fx.snow.imageOperand = operand;
  fx.snow.mode = mode;
  fx.snow.count = count;
  fx.snow.drift = drift;
  fx.active |= kEffectSnow;
  return 1;
}

int effect_sakura_start(VmContext* ctx, int32_t count, int32_t drift, int32_t mode, uint32_t operand) {
  char name[33];
  ImageName(ctx, operand, name);
  count = std::clamp(count, 1, kSakuraPetalCount);
  drift = std::clamp(drift, -kDriftLimit, kDriftLimit);
  game_debug_log(kDebugWindowCommand, "sakura %s, %d, %d, %d", name, mode, drift, count);
  EffectState& fx = ctx->effects;
  ReleaseAll(ctx, fx.petals, &fx.sakura);  // a second sakura replaces the first
  fx.active &= ~kEffectSakura;
  KivRenderList* list = game_render_list(ctx);
  KivSprite* sheet = list ? sprite_load(list, name, kScreenWidth, kScreenHeight, kSakuraPriority) : nullptr;
  if (!sheet) {
    game_debug_log(kDebugWindowError, "sakura graphic load error [%s]", name);
    return 0;
  }
  KivSpriteViewCtrl(sheet, 0);
  KivSpriteInfo info{};
  KivSpriteGetInfo(sheet, &info);
  // A cell height of 0 or past the image still gives one row.
  const int32_t cellHeight = info.cellHeight > 0 && info.cellHeight <= info.height ? info.cellHeight : info.height;
  const int32_t rows = cellHeight > 0 ? std::max(info.height / cellHeight, 1) : 1;
  const uint32_t now = KivtimeGetTime();
  for (int i = 0; i < kSakuraPetalCount; ++i) {
    const int layer = i % 3;
    const double s = 1.0 - (2 - layer) * 0.25;
    Petal& p = fx.petals[i];
    const int32_t row = static_cast<int32_t>(RandomMod(rows));
    const KivRect src{0, row * cellHeight, info.width, row * cellHeight + cellHeight};
    const int w = static_cast<int>(info.width * s), h = static_cast<int>(cellHeight * s);
    const KivRect dst{0, 0, w, h};
    // The copy scales the sheet's cells with the strip: a petal steps
    // through the sheet's own cells.
    p.sprite = KivSpriteCopy(list, sheet, &src, &dst, kSakuraPriority - 10 * layer);
    p.angle = Random() & 511;
    if (mode == 0) {
      Place(&p, drift, cellHeight);
      p.fallTime =
          static_cast<uint32_t>(std::max<int64_t>(int64_t{p.bottom - p.y} * 10 - int64_t{layer} * 1024, 1));
      if (p.sprite) KivSpriteSetPos(p.sprite, static_cast<float>(p.x), static_cast<float>(p.y));
    }
    p.cell = 0;
    p.cellPeriod = static_cast<uint32_t>(RandomMod(50) + 50);
    p.start = p.cellTime = now;
  }
  KivSpriteRelease(list, sheet);
  fx.sakura.state = kEffectStateRunning;
  fx.sakura.imageOperand = operand;
  fx.sakura.mode = mode;
  fx.sakura.count = count;
  fx.sakura.drift = drift;
  fx.active |= kEffectSakura;
  return 1;
}

int effect_raster_start(VmContext* ctx, uint32_t period, int32_t y, int32_t x, int32_t layer) {
  game_debug_log(kDebugWindowCommand, "raster %d, %d, %d, %d", layer, x, y, static_cast<int>(period));
  command_yield(ctx);
  EffectState& fx = ctx->effects;
  // The engine holds one screen wave: an old one (running or ending) goes.
  if (fx.active & kEffectRaster) KivReleaseFxEffect(nullptr, 0x1FFFFFFF);
  fx.active &= ~kEffectRaster;
  fx.raster = ScreenRaster{};
  const int32_t priority = Saturate(int64_t{ctx->priorityBase} - layer + kLayerPriorityTop);
  const KivFxRaster params{period, static_cast<float>(x) / 100.0f, static_cast<float>(y) / 100.0f};
  fx.raster.priority = priority;
  if (!KivSetFxEffect(&fx.raster.priority, KIV_FX_SCREEN, 1, period, &params)) {
    game_error_log("raster: the engine refused the screen wave");
    fx.raster = ScreenRaster{};
    return 1;
  }
  fx.raster.state = kEffectStateRunning;
  fx.raster.layer = layer;
  fx.raster.amplitudeX = x;
  fx.raster.amplitudeY = y;
  fx.raster.period = period;
  fx.active |= kEffectRaster;
  return 1;
}

int effect_frame(VmContext* ctx) {
  EffectState& fx = ctx->effects;
  const uint32_t now = KivtimeGetTime();
  if ((fx.active & kEffectShake) && ShakeFrame(ctx, now)) fx.active &= ~kEffectShake;
  if ((fx.active & kEffectFlash) && FlashFrame(ctx, now)) {
    fx.active &= ~kEffectFlash;
    return 1;
  }
  if ((fx.active & kEffectSnow) && SnowFrame(ctx, now)) fx.active &= ~kEffectSnow;
  if ((fx.active & kEffectSakura) && SakuraFrame(ctx, now)) fx.active &= ~kEffectSakura;
  if ((fx.active & kEffectRaster) && fx.raster.state == kEffectStateEnding &&
      KivGetFxEffectState(nullptr, 0x1FFFFFFF) == 0) {
    KivReleaseFxEffect(nullptr, 0x1FFFFFFF);
    fx.raster = ScreenRaster{};
    fx.active &= ~kEffectRaster;
  }
  return 0;
}

void effect_release(VmContext* ctx) {
  EffectState& fx = ctx->effects;
  ReleaseAll(ctx, fx.flakes, &fx.snow);
  ReleaseAll(ctx, fx.petals, &fx.sakura);
  if (fx.flash.sprite) KivSpriteRelease(game_render_list(ctx), fx.flash.sprite);  // else it stays over all
  if (fx.active & kEffectRaster) KivReleaseFxEffect(nullptr, 0x1FFFFFFF);
  if (fx.pointBits) script_point_pop(ctx);
  std::memset(&fx, 0, sizeof fx);
}

void effect_commands_install() {
  static const CommandBinding kCommands[] = {
      {"effect_stop", CmdEffectStop}, {"shake", CmdShake}, {"flush", CmdFlush},
      {"snow", CmdSnow},              {"sakura", CmdSakura}, {"raster", CmdRaster},
  };
  command_bind_all(kCommands);
  fx_commands_install();
}
