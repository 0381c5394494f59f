// Actions: timelines of steps that the script composes into eight slots and
// plays on sprite records, once (run), while the script waits (sync run) or
// repeatedly (loop run). Up to 32 lines of up to 32 steps run side by side.
// Running steps add their share to the records' per-frame terms (move,
// rotation, alpha and scale term A in component C, the curved scale term in
// D's scale, shakes in E); an ended step adds its whole amount to the
// record's deltas, which sprite_delta_fold moves into component A whenever
// a slot is cleared.
#pragma once
#include <cstdint>
#include <span>

struct VmContext;
struct SpriteRecord;

constexpr int kActionSlotCount = 8;
constexpr int kActionLineCount = 32;
constexpr int kActionStepCount = 32;
constexpr int kActionStepTypes = 16;

enum ActionStepType : int32_t {
  kStepMove = 0, kStepShake, kStepAlpha, kStepWait, kStepRotate, kStepScale, kStepGrid, kStepMoveCurve2,
  kStepMoveCurve1, kStepSound, kStepSwing, kStepCell, kStepRect, kStepScaleCurve, kStepRotateCurve, kStepMoveCurve3,
};

enum ActionSlotState : int32_t { kActionRun = 1, kActionSyncRun = 2, kActionLoopRun = 3 };

// Ten words: target record (-1 none; the sound step's channel), four
// parameters, three reserved, type, duration (ms, at least 1).
struct ActionStep {
  int32_t target;
  int32_t p[4];
  int32_t reserved[3];
  int32_t type;
  int32_t duration;
};

struct ActionLineRun {
  int32_t started;
  int64_t stepEnd;  // ms from the slot start; 64-bit so that long lines cannot wrap
  int32_t stepIndex;
};

struct ActionLine {
  int32_t count;  // 0..32
  void* handle;   // the started step's run record, or null
  ActionStep steps[kActionStepCount];
};

struct ActionSlot {
  int32_t running;
  int32_t passCompleted;
  int32_t linesInUse;
  int32_t reserved;
  uint32_t startTime;
  int32_t timeOrCount;  // run, sync run: ms; loop run: passes (-1 endless)
  int32_t state;        // ActionSlotState
  ActionLineRun runs[kActionLineCount];
  ActionLine lines[kActionLineCount];
  int32_t holdsPoint;  // a sync run whose script point was pushed (not saved)
};

struct ActionState {
  int32_t active;
  int32_t clearRequests[kActionSlotCount];
  ActionSlot slots[kActionSlotCount];
  int32_t pushedSlot;
  ActionSlot* pushed;  // heap copy held by action_push, or null
  int32_t syncWaitActive;
  int32_t syncWaitSlot;
};

// ---- Slots ----

// Starts a slot in a state (no check that it is idle).
void action_slot_start(VmContext* ctx, int slot, int32_t state, int32_t timeOrCount);
// Ends a slot: started steps jump to their end, the rest apply their end
// result, a sync run's script point is popped, the slot is zeroed and the
// settled amounts are folded into the records.
void action_slot_clear(VmContext* ctx, int slot);
// Appends a step to a line of the active slot; false (logged) when the line
// is outside 0..31 or full.
bool action_step_append(VmContext* ctx, int line, const ActionStep& step);

// ---- For other components ----

void action_frame(VmContext* ctx);
int action_sync_running(VmContext* ctx);
void action_reset(VmContext* ctx);  // clears the slots whose clear request is set
void action_free(VmContext* ctx);
int action_push(VmContext* ctx);
void action_pop(VmContext* ctx);

// The action block of a save: u32 active slot, 8 x u32 clear requests, then
// per slot u32 running and, when running, the slot's 10,407 words.
constexpr uint32_t kActionSlotWords = 10407;
// Appends the block at buffer[*used]; "save buffer over" and false when it
// does not fit (nothing written).
bool action_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);
// Reads the block at data[*cursor]; every field is checked first, and a
// block no save could hold is refused (false, logged, nothing changed).
// Running slots start again from their first steps at the current time.
bool action_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool action_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);  // changes nothing

// Step types, one table (action_steps.cpp).
void* action_step_start(VmContext* ctx, const ActionStep& step);
void action_step_update(VmContext* ctx, int32_t type, void* run);
void action_step_finish(VmContext* ctx, int32_t type, void* run);
void action_step_cancel(VmContext* ctx, const ActionStep& step);
// Whether the step type carries a run record.
bool action_step_has_run(int32_t type);

