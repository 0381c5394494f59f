// The 128 graphic layers: release, transition cancel, view control of the
// face layers, positions and priorities, and the asynchronous load.
#include "layers/layers.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "component_entries.h"
#include "layers/display_queue.h"
#include "start/game_debug_log.h"
#include "platform/core/clock.h"
#include "platform/core/text_encoding.h"
#include "data/script_tables.h"
#include "vm/vm_context.h"

const int32_t kTransitionCodes[kTransitionCodeCount + 1] = {0,     1,     0,     1,     2,     3,     4,    0x105,
                                                             0x205, 0x305, 0x405, 0x505, 0x605, 0x705, 0x805, -1};

bool layer_number_ok(int32_t layer) {
  if (layer >= 0 && layer < kLayerCount) return true;
  game_debug_log(kDebugWindowError, plat::Sjis("graph error : 範囲外の値を指定しています。no = %d"), layer);
  return false;
}

bool transition_number_ok(int32_t number) {
  if (number >= 0 && number < kTransitionCodeCount) return true;
  game_debug_log(kDebugWindowError, plat::Sjis("graph error : 範囲外の値を指定しています。no = %d"), number);
  return false;
}

LayerRecord* layer_get(VmContext* ctx, int layer) {
  return layer >= 0 && layer < kLayerCount ? &ctx->layers.layers[layer] : nullptr;
}

int32_t layer_priority(const VmContext* ctx, int layer, const ImageAttributes* attrs) {
  int64_t p = int64_t{ctx->priorityBase} + kLayerPriorityTop - layer;
  if (attrs) p += int64_t{kPriorityStep} * attrs->priorityStep;
  return static_cast<int32_t>(std::clamp<int64_t>(p, INT32_MIN, INT32_MAX));
}

int32_t front_priority(const VmContext* ctx) {
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{ctx->priorityBase} + kFrontPriority, INT32_MIN, INT32_MAX));
}

void layer_position(KivSprite* sprite, int step, int vertical, int* x, int* y) {
  KivSpriteInfo info{};
  KivSpriteGetInfo(sprite, &info);
  if (step < 0) *x = -info.width;
  else if (step > 20) *x = 1280;
  else *x = step * 64 - info.width / 2;
  switch (vertical) {
    case 0: *y = 0; break;
    case 1: *y = 720 - info.height / 2; break;
    case 2: *y = 720 - info.height; break;
    default: *y = static_cast<int>(info.y); break;  // the image file's own place
  }
}

FaceSlot* face_slot(VmContext* ctx, int32_t slot) {
  LayerState& s = ctx->layers;
  if (!s.facesReady) {
    std::memset(s.faces, 0xFF, sizeof s.faces);
    s.facesReady = 1;
  }
  if (slot >= 0 && slot < kFaceSlotCount) return &s.faces[slot];
  game_debug_log(kDebugWindowError, plat::Sjis("graph error : 範囲外の値を指定しています。no = %d"), slot);
  return nullptr;
}

bool layer_owns_sprite(const VmContext* ctx, int layer, const KivSprite* sprite) {
  if (!sprite || layer < 0 || layer >= kLayerCount) return false;
  const LayerRecord& l = ctx->layers.layers[layer];
  return (l.record && l.record->sprite == sprite) || l.incoming == sprite || l.outgoing == sprite;
}

// ---- Release ----

namespace {

void LoadCancel(VmContext* ctx, LayerRecord* l, bool wait);

// The old sprite of a transition that is set up but not started: no engine
// transition owns it yet, so it is the layer's to release.
void DropArmedOutgoing(VmContext* ctx, LayerRecord* l) {
  if (!l->transitionArmed) return;
  if (l->outgoing && !(l->record && l->record->sprite == l->outgoing))
    KivSpriteRelease(game_render_list(ctx), l->outgoing);
  l->outgoing = nullptr;
  l->incoming = nullptr;
  l->transitionArmed = 0;
}

// Everything the layer holds goes, at once; the layer is zeroed.
void LayerEmpty(VmContext* ctx, int layer, bool waitForLoad = false) {
  LayerRecord* l = &ctx->layers.layers[layer];
  LoadCancel(ctx, l, waitForLoad);
  DropArmedOutgoing(ctx, l);
  fx_layer_release(ctx, layer);
  if (l->record) sprite_record_release(ctx, l->record);
  // A running transition's handle cancels it, which releases its old sprite.
  if (l->transition) KivSpriteReleaseTransitionHandle(l->transition);
  std::memset(static_cast<void*>(l), 0, sizeof *l);
}

}  // namespace

int layer_release(VmContext* ctx, int layer) {
  if (layer < 0 || layer >= kLayerCount) return 0;
  LayerEmpty(ctx, layer);
  return 1;
}

void layer_transition_release(VmContext* ctx, int layer) {
  if (layer >= 0 && layer < kLayerCount) LayerEmpty(ctx, layer);
}

int layer_transition_cancel(VmContext* ctx, int layer) {
  LayerRecord* l = layer_get(ctx, layer);
  if (!l || l->transitionState == kLayerTransitionNone) {
    if (l) DropArmedOutgoing(ctx, l);  // an sp_copy_image that nothing followed
    return 1;
  }
  if (l->transitionArmed) {
    // Set up but never started: the engine knows nothing of it.
    DropArmedOutgoing(ctx, l);
  } else {
    const int r = KivSpriteCancelTransition(l->transition);
    if (!r) return r;
  }
  if (l->transitionState == kLayerTransitionClear) {
    if (l->record) l->record->sprite = nullptr;
    layer_transition_release(ctx, layer);
    return 1;
  }
  l->transitionState = kLayerTransitionNone;
  return 1;
}

void layer_release_all(VmContext* ctx) {
  // Queued releases own their sprites; queued shows name layers that are
  // about to go. Flush them first so nothing stays on screen or leaks.
  display_queue_discard(ctx);
  for (int i = 0; i < kLayerCount; ++i) LayerEmpty(ctx, i, true);
  std::memset(ctx->layers.faces, 0xFF, sizeof ctx->layers.faces);
  ctx->layers.facesReady = 1;
  ctx->layers.applyNoWait = 0;
  ctx->layers.movieWait = 0;  // a reset ends a movie wait
}

void layer_view_ctrl(VmContext* ctx, int visible) {
  for (int i = 0; i < kFaceSlotCount; ++i) {
    const FaceSlot* f = face_slot(ctx, i);
    if (f->layer < 0 || f->layer >= kLayerCount) continue;
    LayerRecord& l = ctx->layers.layers[f->layer];
    if (!l.record) continue;
    if (l.transitionState != kLayerTransitionNone && l.outgoing) KivSpriteViewCtrl(l.outgoing, visible);
    if (l.record->sprite) KivSpriteViewCtrl(l.record->sprite, visible);
  }
}

// ---- Asynchronous load ----
//
// A fixed pool of job slots outlives any game record, so a job message still
// in the worker's queue never names freed memory. Each slot's state word is
// generation << 8 | state. The game thread fills a free slot and publishes
// it as queued; the worker claims it (queued -> running) only while holding
// the render lock, which also keeps the engine's load buffer to one user at
// a time, and publishes the decoded sprite as done. The game thread takes a
// queued job back (cancel, or to run it itself) with the same compare and
// swap, so exactly one side ever runs a job. Fields marked "game" are only
// touched by the game thread.

namespace {

constexpr int kLoadSlots = 64;
enum : uint64_t { kSlotFree = 0, kSlotQueued = 1, kSlotRunning = 2, kSlotDone = 3 };

// What a load is to do and what it is for.
struct LoadJob {
  char file[40];  // the file actually loaded
  int32_t priority;
  int32_t sync;
  uint32_t operand;
  char name[33];  // the script's name
  ImageAttributes attrs;
  bool hasAttrs;
};

struct LoadSlot {
  std::atomic<uint64_t> word{0};
  // Written by the game thread before the job is published.
  LoadJob job;
  KivRenderList* list;  // a list of the job's own, never drawn
  // Written by whoever runs the job, before it is published as done.
  KivSprite* sprite;
  // game
  uint64_t generation;
  VmContext* ctx;
  int32_t layer;
  bool abandoned;  // the layer let go while the worker ran it
};

LoadSlot g_slots[kLoadSlots];
std::atomic<LayerLoadPoster> g_poster{nullptr};
std::atomic<void (*)()> g_worker_hook{nullptr};

uint64_t Word(uint64_t generation, uint64_t state) { return generation << 8 | state; }
uint64_t StateOf(uint64_t word) { return word & 0xFF; }

// The decode itself, by whichever thread claimed the job.
void RunJob(LoadSlot* s) { s->sprite = sprite_load_quiet(s->list, s->job.file, 1280, 720, s->job.priority); }

// The slot's result leaves it; the slot is free again.
void SlotFree(LoadSlot* s) {
  if (s->sprite) KivSpriteRelease(s->list, s->sprite);
  if (s->list) KivRenderUninit(s->list);
  s->sprite = nullptr;
  s->list = nullptr;
  s->ctx = nullptr;
  s->abandoned = false;
  s->word.store(Word(s->generation, kSlotFree), std::memory_order_release);
}

void WaitWhileRunning(LoadSlot* s) {
  while (StateOf(s->word.load(std::memory_order_acquire)) == kSlotRunning) plat::Sleep(1);
}

// The finished load goes into the layer's record (the steps of a load that
// succeeded), or the record goes when nothing could be loaded.
void Install(VmContext* ctx, int layer, KivSprite* sprite, const LoadJob& job) {
  LayerRecord* l = &ctx->layers.layers[layer];
  l->loadSlot = 0;
  l->flags &= ~kLayerFlagLoading;
  SpriteRecord* r = l->record;
  if (!r || !sprite) {
    if (!sprite) game_debug_log(kDebugWindowError, "sprite load error [%s]", job.file);
    if (sprite) KivSpriteRelease(game_render_list(ctx), sprite);
    if (r) sprite_record_release(ctx, r);
    l->record = nullptr;
    l->flags = 0;
    game_debug_log(kDebugWindowCommand, "sp_load  %s, %d, %d", job.name, layer, job.sync);
    return;
  }
  r->sprite = sprite;
  KivSpriteViewCtrl(sprite, 0);
  KivSpriteInfo info{};
  KivSpriteGetInfo(sprite, &info);
  const ImageAttributes* a = job.hasAttrs ? &job.attrs : nullptr;
  r->t.aX = static_cast<int32_t>(info.x) + (a ? a->moveX : 0);
  r->t.aY = static_cast<int32_t>(info.y) + (a ? a->moveY : 0);
  sprite_record_take_sprite_state(r, info, a);
  if (job.operand & kStringVariableBit) std::memcpy(r->name, job.name, sizeof r->name);
  r->imageOperand = job.operand;  // last: the load is finished
  if (a) sprite_attrs_apply(ctx, *a, r, kAttrAll);
  game_debug_log(kDebugWindowCommand, "sp_load  %s, %d, %d", job.name, layer, job.sync);
}

// A done slot of this context: its sprite moves from the job's list into
// the game's list and the layer gets it.
void InstallSlot(VmContext* ctx, LoadSlot* s) {
  KivSprite* sprite = s->sprite;
  s->sprite = nullptr;
  if (sprite) {
    // Freeing the job's list frees only its node; the sprite then joins the
    // game's list at its priority, as a sprite made there would.
    KivRenderUninit(s->list);
    s->list = nullptr;
    if (!KivRenderInsert(game_render_list(ctx), sprite, KivSpriteDraw, s->job.priority)) {
      KivSpriteRelease(nullptr, sprite);
      sprite = nullptr;
    }
  }
  const LoadJob job = s->job;
  const int layer = s->layer;
  SlotFree(s);
  Install(ctx, layer, sprite, job);
}

LoadSlot* SlotOf(const LayerRecord* l) {
  return l->loadSlot > 0 && l->loadSlot <= kLoadSlots ? &g_slots[l->loadSlot - 1] : nullptr;
}

// The layer lets go of its pending load. A job the worker has not begun is
// taken back; a finished one is freed; one the worker is running is left to
// be freed when it is published, or waited for when wait is set.
void LoadCancel(VmContext* ctx, LayerRecord* l, bool wait) {
  LoadSlot* s = SlotOf(l);
  l->loadSlot = 0;
  l->flags &= ~kLayerFlagLoading;
  if (!s) return;
  uint64_t queued = Word(s->generation, kSlotQueued);
  if (s->word.compare_exchange_strong(queued, Word(s->generation, kSlotRunning), std::memory_order_acq_rel)) {
    SlotFree(s);  // the worker will find the job gone
    return;
  }
  if (wait) WaitWhileRunning(s);
  if (StateOf(s->word.load(std::memory_order_acquire)) == kSlotDone) {
    SlotFree(s);
    return;
  }
  s->abandoned = true;
}

}  // namespace

void layer_load_cancel(VmContext* ctx, int layer, bool wait) {
  if (LayerRecord* l = layer_get(ctx, layer)) LoadCancel(ctx, l, wait);
}

void layer_load_set_poster(LayerLoadPoster poster) { g_poster.store(poster); }
void layer_load_set_worker_hook(void (*hook)()) { g_worker_hook.store(hook); }

void sp_load_work(intptr_t arg) {
  const auto index = static_cast<uint64_t>(arg) & 0xFF;
  const uint64_t generation = static_cast<uint64_t>(arg) >> 8;
  if (index >= kLoadSlots) return;
  LoadSlot* s = &g_slots[index];
  // The render lock keeps frames and the game thread's own loads out while
  // the engine's load buffer is in use.
  const int locked = KivRenderLock();
  uint64_t queued = Word(generation, kSlotQueued);
  if (!s->word.compare_exchange_strong(queued, Word(generation, kSlotRunning), std::memory_order_acq_rel)) {
    if (locked) KivRenderUnlock();
    return;  // cancelled, or taken over by the game thread
  }
  RunJob(s);
  if (locked) KivRenderUnlock();
  if (void (*hook)() = g_worker_hook.load()) hook();
  s->word.store(Word(generation, kSlotDone), std::memory_order_release);
}

int layer_load_start(VmContext* ctx, int layer, uint32_t operand, int32_t sync) {
  LayerRecord* l = &ctx->layers.layers[layer];
  uint8_t name[kFileRecordBytes];
  if (!get_record_operand(ctx, operand, name, true)) return 0;
  SpriteRecord* r = sprite_record_init(ctx, kSpriteKindLayer, layer);
  if (!r) return 0;
  r->imageOperand = 0;
  l->record = r;
  l->flags = kLayerFlagLoading;

  LoadJob job{};
  std::memcpy(job.name, name, 32);
  job.operand = operand;
  job.sync = sync;
  job.hasAttrs = sprite_attrs_copy(ctx, job.name, &job.attrs);
  const ImageAttributes* a = job.hasAttrs ? &job.attrs : nullptr;
  job.priority = layer_priority(ctx, layer, a);
  std::strncpy(job.file, sprite_attrs_file(a, job.name), sizeof job.file - 1);

  LoadSlot* s = nullptr;
  if (!sync) {
    for (LoadSlot& c : g_slots)
      if (StateOf(c.word.load(std::memory_order_acquire)) == kSlotFree) {
        s = &c;
        break;
      }
  }
  if (s) s->list = KivRenderInit();
  if (!s || !s->list) {
    // On the game thread, at once (also when no slot or list is to be had).
    KivSprite* sprite = sprite_load_quiet(game_render_list(ctx), job.file, 1280, 720, job.priority);
    Install(ctx, layer, sprite, job);
    return 1;
  }
  s->job = job;
  s->sprite = nullptr;
  s->ctx = ctx;
  s->layer = layer;
  s->abandoned = false;
  ++s->generation;
  const uint64_t generation = s->generation;
  l->loadSlot = static_cast<int32_t>(s - g_slots) + 1;
  s->word.store(Word(generation, kSlotQueued), std::memory_order_release);
  LayerLoadPoster post = g_poster.load();
  const intptr_t arg = static_cast<intptr_t>(generation << 8 | static_cast<uint64_t>(s - g_slots));
  if (!(post ? post(sp_load_work, arg) : KivAttachWorkProcess(sp_load_work, arg))) {
    layer_load_settle(ctx, layer, 0);  // no worker to take it: run it here
  }
  return 1;
}

bool layer_load_pending(const VmContext* ctx, int layer) {
  return layer >= 0 && layer < kLayerCount && ctx->layers.layers[layer].loadSlot != 0;
}

void layer_loads_poll(VmContext* ctx) {
  for (LoadSlot& s : g_slots) {
    const uint64_t w = s.word.load(std::memory_order_acquire);
    if (StateOf(w) != kSlotDone) continue;
    if (s.abandoned) {
      SlotFree(&s);
    } else if (s.ctx == ctx) {
      InstallSlot(ctx, &s);
    }
  }
}

bool layer_load_settle(VmContext* ctx, int layer, uint32_t timeout_ms) {
  LayerRecord* l = layer_get(ctx, layer);
  LoadSlot* s = l ? SlotOf(l) : nullptr;
  if (!s) return true;
  uint64_t queued = Word(s->generation, kSlotQueued);
  if (s->word.compare_exchange_strong(queued, Word(s->generation, kSlotRunning), std::memory_order_acq_rel)) {
    RunJob(s);  // the worker has not begun it: the game thread does it now
    s->word.store(Word(s->generation, kSlotDone), std::memory_order_release);
  }
  const uint32_t start = plat::TimeGetMs();
  while (StateOf(s->word.load(std::memory_order_acquire)) == kSlotRunning) {
    if (plat::TimeGetMs() - start >= timeout_ms) return false;
    plat::Sleep(1);
  }
  InstallSlot(ctx, s);
  return true;
}
