// Graphic layers: sprite records, the 128 layers, the display queue and the
// layer image commands, with their save and restore parts.
//
// The 128 graphic layers (0 furthest back, 127 in front), the face slots,
// layer release and view control, layer positions and priorities, the
// asynchronous image load and the layer block of a save.
//
// A layer owns at most one sprite record (16 + layer). An image change by
// transition moves the layer through: set up (state 2, armed) -> started by
// the display queue (armed cleared, the engine's transition owns the old
// sprite) -> ended by the per-frame poll (state 0). A clear by transition
// is state 1: the layer is emptied when the engine reports the end.
#pragma once
#include <cstdint>
#include <span>

#include "kiv.h"
#include "layers/sprite_records.h"

struct VmContext;

constexpr int kLayerCount = 128;
constexpr int kLayerSavedCount = 64;  // layers 64..127 are not saved
constexpr int kLayerChildParents = 64;  // only layers 0..63 carry children
constexpr int kFaceSlotCount = 8;
constexpr int kLinkSlotCount = 8;

// Layer flags.
constexpr uint32_t kLayerFilterBits = 0x1FFE;  // bits 1..12: filter n is on
constexpr uint32_t kLayerFlagRect = 0x10000;
constexpr uint32_t kLayerFlagLinks = 0x40000;
constexpr uint32_t kLayerFlagShake = 0x200000;
constexpr uint32_t kLayerFlagMovie = 0x400000;
constexpr uint32_t kLayerFlagLoading = 0x800000;
constexpr uint32_t kLayerFlagLocked = 0x1000000;

// Transition states.
constexpr int32_t kLayerTransitionNone = 0;
constexpr int32_t kLayerTransitionClear = 1;   // emptied when the transition ends
constexpr int32_t kLayerTransitionChange = 2;  // an image change is set up or running

constexpr uint32_t kShakeEndless = 0xFFFFFFFFu;
constexpr uint32_t kLinkChild = 0x10000000u;       // the slot's operand layer follows this one
constexpr uint32_t kLinkCompositionMask = 0x0FFFFFFFu;
constexpr uint32_t kLinkMixFile = 1;    // mix from an image file
constexpr uint32_t kLinkCopyLayer = 2;  // copy from another layer

// Priorities: layer L draws at base + 4999 - L, so a higher layer number is
// drawn later, in front; each attribute priority step is 134.
constexpr int32_t kLayerPriorityTop = 4999;
constexpr int32_t kPriorityStep = 134;
// Buttons, save-menu texts, the name entry and the message text draw at
// base + 4866, in front of every layer wherever set_priority moves the base.
constexpr int32_t kFrontPriority = 4866;

struct LinkSlot {
  uint32_t control;  // bit 28 child; low 28 bits the composition to replay
  uint32_t operand;  // child layer, source layer or image name operand
  int32_t dstX, dstY;  // for a child: its offsets
  int32_t srcX, srcY;
  int32_t width, height;
};

struct LayerRecord {
  SpriteRecord* record;  // null: an empty layer
  int32_t fxSlot;
  int32_t userWord;
  uint32_t flags;
  int32_t transitionState;
  int32_t transitionArmed;  // set up, not yet started by the queue
  KivTransition* transition;
  KivSprite* incoming;
  KivSprite* outgoing;
  int32_t transitionCode;
  uint32_t transitionDuration;
  int32_t shakeMode;  // 0 vertical, 1 horizontal, 2 both
  int32_t shakeAmplitude;
  uint32_t shakeDuration;  // kShakeEndless: until stopped
  uint32_t shakeStart;
  int32_t movieLoop;
  LinkSlot links[kLinkSlotCount];
  int32_t loadSlot;  // 1 + the asynchronous load slot holding this layer's load; 0 none
};

struct FaceSlot {
  int32_t layer;  // -1: unused
  int32_t priorityOffset;
  int32_t x, y;
};

struct LayerState {
  LayerRecord layers[kLayerCount];
  FaceSlot faces[kFaceSlotCount];
  int32_t facesReady;   // 0: the face table reads as all -1 (not yet reset)
  int32_t applyNoWait;  // the queue is being applied by run_no_wait
  int32_t movieWait;    // msp_wait: 1 + the layer waited for; 0 none
};

// The engine codes of the script's transition numbers 0..14.
constexpr int kTransitionCodeCount = 15;
extern const int32_t kTransitionCodes[kTransitionCodeCount + 1];

// A layer number from the script: 0..127, else "graph error" in window 0.
bool layer_number_ok(int32_t layer);
// A transition number 0..14, else the same line.
bool transition_number_ok(int32_t number);
LayerRecord* layer_get(VmContext* ctx, int layer);

// base + 4999 - layer, plus 134 per attribute priority step.
int32_t layer_priority(const VmContext* ctx, int layer, const ImageAttributes* attrs);
// base + kFrontPriority, held within 32 bits.
int32_t front_priority(const VmContext* ctx);

// Where a sprite goes for a horizontal step and vertical mode: step < 0 puts
// its right edge at 0, step > 20 its left edge at 1280, else its centre at
// step x 64; mode 0 top at 0, 1 top at 720 - height / 2, 2 bottom at 720,
// any other mode keeps the sprite's own y.
void layer_position(KivSprite* sprite, int step, int vertical, int* x, int* y);

// Releases the layer at once: a pending load is cancelled, a set-up
// transition's old sprite and the record's sprite go, the Fx slot and the
// transition handle are released and the layer is zeroed. 1.
int layer_release(VmContext* ctx, int layer);
// sp_set_ex and sp_cls, which the movie commands run with their own arguments.
int layer_cmd_sp_set_ex(VmContext* ctx);
int layer_cmd_sp_cls(VmContext* ctx);
// Group 11, the movie commands (movie_commands.cpp).
void movie_commands_install();
// The same for an ended transition (no pending load to look after).
void layer_transition_release(VmContext* ctx, int layer);
// Stops the layer's transition: a set-up one gives up its old sprite, a
// running one is cancelled in the engine (which releases the old sprite);
// a layer being cleared is emptied. 0 when the engine refuses.
int layer_transition_cancel(VmContext* ctx, int layer);
// Shows or hides the layers the face slots name.
void layer_view_ctrl(VmContext* ctx, int visible);
// The face slot (0..7), its table reset to -1 on first use; null (logged)
// for a slot outside 0..7.
FaceSlot* face_slot(VmContext* ctx, int32_t slot);

// The layer's live sprite that a queued show or hide may still name: the
// record's sprite, or a transition's incoming or outgoing one.
bool layer_owns_sprite(const VmContext* ctx, int layer, const KivSprite* sprite);

// ---- Asynchronous load ----
// The worker only decodes into a render list of its own (never drawn); the
// game thread owns every record and list, marks the layer pending before it
// posts the job, and installs finished loads from the per-frame poll.

// sp_load's body: the layer (already released) gets a fresh record and a
// load of the operand's image, on the worker unless sync is set.
int layer_load_start(VmContext* ctx, int layer, uint32_t operand, int32_t sync);
// Installs every finished load of this context (and frees abandoned ones).
void layer_loads_poll(VmContext* ctx);
// Brings the layer's pending load to its end now: a job the worker has not
// begun runs here; one it is running is waited for at most timeout_ms.
// True when nothing is pending any more.
bool layer_load_settle(VmContext* ctx, int layer, uint32_t timeout_ms);
bool layer_load_pending(const VmContext* ctx, int layer);
// The layer lets go of its pending load (waiting for a job the worker is
// running when wait is set, else leaving it to be freed when it ends).
void layer_load_cancel(VmContext* ctx, int layer, bool wait);
// The worker's routine (KivAttachProc); arg names a load slot.
void sp_load_work(intptr_t arg);

// Test seams: the call that hands a job to the worker (null restores
// KivAttachWorkProcess), and a hook the worker calls after decoding, before
// it publishes the result.
using LayerLoadPoster = int (*)(KivAttachProc fn, intptr_t arg);
void layer_load_set_poster(LayerLoadPoster poster);
void layer_load_set_worker_hook(void (*hook)());

// ---- Save and restore parts ----

// Appends the layer block at buffer[*used]. When it does not fit, "save
// buffer over" is logged, nothing is written and false comes back, so the
// caller keeps its previous snapshot.
bool layer_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);
// Reads the layer block at data[*cursor] and rebuilds the layers from it.
// Every field is checked before anything changes; a block that is short or
// holds a value no save could hold is refused (false, logged, nothing
// changed). An image that cannot be loaded leaves its layer empty.
bool layer_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
// The same reading and checks alone: changes nothing, moves the cursor.
bool layer_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
