// Screen effects: falling snow and sakura petals made of many small sprites,
// a full-screen colour flash, the shake of the graphic layers and the message
// window, and the engine's raster wave on the whole screen or on one layer.
// Script groups 16 (effect) and 19 (fx); each effect advances once a frame,
// takes part in save and load, and goes at a game reset.
#pragma once
#include <cstdint>
#include <span>

#include "kiv.h"

struct VmContext;
struct SpriteRecord;

constexpr int kSnowFlakeCount = 255;
constexpr int kSakuraPetalCount = 127;
constexpr int kFxSlotCount = 8;
constexpr int kSineTableSize = 512;

// Script-point bits: the effect holds a script point of its own.
constexpr uint32_t kEffectPointShake = 1;
constexpr uint32_t kEffectPointFlash = 2;
// Active bits.
constexpr uint32_t kEffectShake = 1;
constexpr uint32_t kEffectFlash = 2;
constexpr uint32_t kEffectSnow = 4;
constexpr uint32_t kEffectSakura = 8;
constexpr uint32_t kEffectRaster = 16;

constexpr uint32_t kEffectStateRunning = 1;
constexpr uint32_t kEffectStateEnding = 2;

struct ShakeEffect {
  uint32_t state;  // 0 idle, 1 running, 2 ending
  uint32_t start;
  uint32_t runningDuration;  // ms; 0xFFFFFFFF endless
  int32_t direction;         // 0 vertical, 1 horizontal, 2 both
  int32_t amplitude;
  uint32_t duration;
  uint32_t targets;  // bit 0 message window, bit 1 one offset for every layer
};

struct FlashEffect {
  KivSprite* sprite;
  uint32_t state;
  uint32_t start;
  uint32_t duration;
};

struct Flake {
  KivSprite* sprite;
  int32_t x, y, baseX, bottom;
  uint32_t start, fallTime, angle;
};

struct Petal {
  KivSprite* sprite;
  int32_t x, y, baseX, bottom;
  uint32_t start, fallTime, angle;
  uint32_t cellTime, cellPeriod;
  uint16_t cell;
};

// What snow and sakura share after their sprite arrays.
struct FallState {
  uint32_t state;  // 0 idle, 1 running, 2 ending
  uint32_t endStart;
  uint32_t endDuration;
  uint32_t imageOperand;
  int32_t mode, count, drift;
};

struct ScreenRaster {
  uint32_t state;  // 1 running, 2 ending
  int32_t layer;
  int32_t amplitudeX, amplitudeY;  // hundredths
  uint32_t period;
  int32_t priority;  // the draw priority handed to the engine (its node's key)
};

// The screen-effect block of the context, zeroed at reset.
struct EffectState {
  uint32_t pointBits;
  uint32_t active;
  ShakeEffect shake;
  FlashEffect flash;
  Flake flakes[kSnowFlakeCount];
  FallState snow;
  Petal petals[kSakuraPetalCount];
  FallState sakura;
  ScreenRaster raster;
};

// One layer raster slot; next and previous are slot + 1 (0: none).
struct FxSlot {
  int32_t layer;
  uint32_t state;  // 0 free, 1 running, 2 ending
  uint32_t kind;   // 0: the raster wave
  int32_t amplitudeX, amplitudeY;  // hundredths, as the command gave them
  uint32_t period;
  int32_t next, prev;
};

// Layer raster bookkeeping, cleared by fx_free.
struct FxState {
  int32_t waitPending;
  int32_t waitLayer;
  int32_t head;  // slot + 1 of the newest; 0 none
  FxSlot slots[kFxSlotCount];
};

// The game's own sine table, T[i] = sin(2 pi i / 512).
float effect_sine(uint32_t i);

// Screen-effect lifecycle (effect_frame, effect_release, fx_free and
// fx_layer_release are declared in component_entries.h).
// Removes the layer's raster: the engine effect, the slot, the layer's word.
void fx_release(VmContext* ctx, int layer);
// Binds group 19 (effect_commands_install binds both groups).
void fx_commands_install();

// ---- Save and restore parts ----
// Each writer appends its block at buffer[*used], or logs "save buffer over"
// and writes nothing (false). Each reader checks the whole block before it
// changes anything; a damaged block is refused (false, logged, nothing
// changed), else the effects it names start again and *cursor moves past it.
bool effect_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);
bool effect_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool fx_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);
bool fx_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);

// The bodies of the commands, with their arguments in the save's words (the
// restore runs them again; each logs as its command does). 1, or 0 when a
// load failed.
int effect_shake_start(VmContext* ctx, uint32_t targets, uint32_t duration, int32_t amplitude, int32_t direction);
int effect_snow_start(VmContext* ctx, int32_t count, int32_t drift, int32_t mode, uint32_t operand);
int effect_sakura_start(VmContext* ctx, int32_t count, int32_t drift, int32_t mode, uint32_t operand);
int effect_raster_start(VmContext* ctx, uint32_t period, int32_t y, int32_t x, int32_t layer);
int fx_raster_start(VmContext* ctx, uint32_t period, int32_t y, int32_t x, int32_t layer);

// The message window's sprite record, which a shake with target bit 0 moves
// (null while there is none).
SpriteRecord* text_window_record(VmContext* ctx);
