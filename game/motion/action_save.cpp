// The action block of a save. Layout: u32 active slot, 8 x u32 clear
// requests, then for each slot u32 running and, for a running slot, its
// 10,407 words: running, pass completed, lines in use, reserved, start
// time, time or count, state; 32 line runs (started, step end, step index);
// 32 lines of count, handle (always written 0) and 32 x 10 step words.
// The pushed copy and the sync wait are not kept.
#include <algorithm>
#include <cstring>
#include <memory>

#include "kiv.h"
#include "layers/sprite_records.h"
#include "motion/actions.h"
#include "platform/core/byte_io.h"
#include "start/game_debug_log.h"
#include "vm/vm_context.h"

namespace {

constexpr uint32_t kSnapshotLimit = 0x100000;

bool Refuse(const char* what, int slot) {
  game_debug_log(kDebugWindowError, "load error : action block, %s [%d]", what, slot);
  return false;
}

void PutSlot(plat::ByteWriter& w, const ActionSlot& s) {
  for (int32_t v : {s.running, s.passCompleted, s.linesInUse, s.reserved}) w.I32(v);
  w.U32(s.startTime);
  w.I32(s.timeOrCount);
  w.I32(s.state);
  for (const ActionLineRun& r : s.runs) {
    w.I32(r.started);
    w.I32(static_cast<int32_t>(std::clamp<int64_t>(r.stepEnd, INT32_MIN, INT32_MAX)));
    w.I32(r.stepIndex);
  }
  for (const ActionLine& l : s.lines) {
    w.I32(l.count);
    w.U32(0);  // the run record is a process pointer: meaningless in a file
    for (const ActionStep& st : l.steps) {
      w.I32(st.target);
      for (int32_t v : st.p) w.I32(v);
      for (int32_t v : st.reserved) w.I32(v);
      w.I32(st.type);
      w.I32(st.duration);
    }
  }
}

// Whether a step's target word is one the game could have stored: a sprite
// record or -1; a wait has none and a sound step's channel is checked when
// it plays.
bool TargetOk(const ActionStep& st) {
  if (st.type == kStepWait) return true;
  if (st.type == kStepSound) return true;  // the channel is checked when it plays
  return st.target >= -1 && st.target < kSpriteRecordCount;
}

bool GetSlot(plat::ByteReader& r, ActionSlot* s, int n) {
  s->running = r.I32();
  s->passCompleted = r.I32();
  s->linesInUse = r.I32();
  s->reserved = r.I32();
  s->startTime = r.U32();
  s->timeOrCount = r.I32();
  s->state = r.I32();
  for (ActionLineRun& run : s->runs) {
    run.started = r.I32();
    run.stepEnd = r.I32();
    run.stepIndex = r.I32();
  }
  for (ActionLine& l : s->lines) {
    l.count = r.I32();
    r.U32();
    l.handle = nullptr;
    for (ActionStep& st : l.steps) {
      st.target = r.I32();
      for (int32_t& v : st.p) v = r.I32();
      for (int32_t& v : st.reserved) v = r.I32();
      st.type = r.I32();
      st.duration = r.I32();
    }
  }
  if (!r.ok()) return Refuse("short", n);
  if (s->running != 1) return Refuse("running word", n);
  if (s->state < kActionRun || s->state > kActionLoopRun) return Refuse("state", n);
  if (s->linesInUse < 0 || s->linesInUse > kActionLineCount) return Refuse("lines in use", n);
  if (s->state == kActionLoopRun && s->timeOrCount < -1) return Refuse("passes", n);
  for (int i = 0; i < kActionLineCount; ++i) {
    const ActionLine& l = s->lines[i];
    if (l.count < 0 || l.count > kActionStepCount) return Refuse("step count", n);
    if (s->runs[i].stepIndex < 0 || s->runs[i].stepIndex > l.count) return Refuse("step index", n);
    for (int k = 0; k < l.count; ++k) {
      const ActionStep& st = l.steps[k];
      if (st.type < 0 || st.type >= kActionStepTypes) return Refuse("step type", n);
      if (st.duration < 1) return Refuse("step duration", n);
      if (!TargetOk(st)) return Refuse("step target", n);
    }
  }
  return true;
}

}  // namespace

bool action_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used) {
  const ActionState& a = ctx->actions;
  plat::ByteWriter w;
  w.U32(static_cast<uint32_t>(a.active));
  for (int32_t v : a.clearRequests) w.U32(static_cast<uint32_t>(v));
  for (const ActionSlot& s : a.slots) {
    w.U32(s.running ? 1 : 0);
    if (s.running) PutSlot(w, s);
  }
  const std::vector<uint8_t>& block = w.bytes();
  const uint64_t limit = std::min<uint64_t>(buffer.size(), kSnapshotLimit);
  if (*used > limit || block.size() > limit - *used) {
    game_debug_puts(kDebugWindowError, "save buffer over");
    return false;
  }
  std::memcpy(buffer.data() + *used, block.data(), block.size());
  *used += static_cast<uint32_t>(block.size());
  return true;
}

namespace {

// The block read and checked at data[cursor]; *size the bytes it takes. With
// into set, the slots are read straight into it (its other words must be
// zero); without, one scratch slot takes each in turn.
bool ReadBlock(std::span<const uint8_t> data, uint32_t cursor, ActionState* into, size_t* size) {
  if (cursor > data.size()) return Refuse("cursor", -1);
  plat::ByteReader r(data.subspan(cursor));
  const int32_t active = static_cast<int32_t>(r.U32());
  int32_t clear[kActionSlotCount];
  for (int32_t& v : clear) v = static_cast<int32_t>(r.U32());
  if (!r.ok()) return Refuse("short", -1);
  if (active < 0 || active >= kActionSlotCount) return Refuse("active slot", active);
  for (int32_t v : clear)
    if (v != 0 && v != 1) return Refuse("clear request", v);
  // Uninitialised on purpose: GetSlot writes every word it checks.
  std::unique_ptr<ActionSlot> scratch(into ? nullptr : new ActionSlot);
  for (int n = 0; n < kActionSlotCount; ++n) {
    const uint32_t running = r.U32();
    if (!r.ok()) return Refuse("short", n);
    if (running > 1) return Refuse("running", n);
    if (running && !GetSlot(r, into ? &into->slots[n] : scratch.get(), n)) return false;
  }
  if (into) {
    into->active = active;
    std::memcpy(into->clearRequests, clear, sizeof clear);
  }
  *size = r.pos();
  return true;
}

}  // namespace

bool action_check(const VmContext*, std::span<const uint8_t> data, uint32_t* cursor) {
  size_t size = 0;
  if (!ReadBlock(data, *cursor, nullptr, &size)) return false;
  *cursor += static_cast<uint32_t>(size);
  return true;
}

bool action_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor) {
  size_t size = 0;
  if (!ReadBlock(data, *cursor, nullptr, &size)) return false;
  // Everything checked: the old slots go (their targets to their ends) and
  // the saved ones, read straight into the cleared state, start again from
  // their first steps, now.
  action_free(ctx);
  ActionState& a = ctx->actions;
  ReadBlock(data, *cursor, &a, &size);
  KivUpdateTime();
  const uint32_t now = KivtimeGetTime();
  for (ActionSlot& s : a.slots) {
    if (!s.running) continue;
    for (ActionLineRun& run : s.runs) run = ActionLineRun{};
    s.startTime = now;
    s.holdsPoint = 0;  // the script points are the machine's own part of a save
  }
  *cursor += static_cast<uint32_t>(size);
  return true;
}
