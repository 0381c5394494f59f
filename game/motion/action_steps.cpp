// The sixteen step types of actions: what each does when it starts, every
// frame while it runs, when it ends on time (finish) and when its slot is
// cleared before the step ran or ended (cancel, called with the step itself
// so that the end result is applied directly).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "component_entries.h"
#include "kiv.h"
#include "layers/sprite_records.h"
#include "motion/actions.h"
#include "motion/curves.h"
#include "sound/se.h"
#include "start/game_debug_log.h"
#include "vm/checked_index.h"
#include "vm/vm_context.h"

namespace {

// A started step's run record (heap). Without a target the record exists
// but update, finish and cancel do nothing.
struct StepRun {
  SpriteRecord* target;
  int32_t a[4];
  int32_t curve;
  uint32_t duration;
  uint32_t start;
  uint32_t cycleStart;  // swing
};

int32_t Sat32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }
int16_t Sat16(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX)); }
int32_t Trunc(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}
void Add(int32_t& field, int64_t v) { field = Sat32(int64_t{field} + v); }
void Add(int16_t& field, int64_t v) { field = Sat16(int64_t{field} + v); }

SpriteRecord* Target(VmContext* ctx, int32_t target) {
  if (target < 0 || target >= kSpriteRecordCount) return nullptr;
  return &ctx->sprites.records[target];
}

// Progress of a run record at now; types 7, 8 and 15 count one ms ahead.
float Ratio(const StepRun* r, uint32_t now, bool ahead) {
  uint32_t e = now - r->start;
  if (ahead && e != UINT32_MAX) ++e;
  return curve_ratio(e, r->duration);
}
uint32_t Elapsed(const StepRun* r, uint32_t now, bool ahead) {
  uint32_t e = now - r->start;
  if (ahead && e != UINT32_MAX) ++e;
  return std::min(e, r->duration);
}

// The grid move's distance: from where the sprite stands now to the column's x.
int32_t GridDistance(SpriteRecord* s, int32_t column) {
  KivSpriteInfo info{};
  if (s->sprite) KivSpriteGetInfo(s->sprite, &info);
  int64_t x;
  if (column < 0) x = -int64_t{info.width};
  else if (column > 20) x = 1280;
  else x = int64_t{column} * 64 - info.width / 2;
  return Sat32(x - (int64_t{s->t.aX} + s->t.bX + s->t.delta.x + s->t.frame.cX));
}

void SettleMove(SpriteRecord* s, int32_t dx, int32_t dy) {
  Add(s->t.delta.x, dx);
  Add(s->t.delta.y, dy);
}

bool IsMoveType(int32_t type) {
  return type == kStepMove || type == kStepMoveCurve1 || type == kStepMoveCurve2 || type == kStepMoveCurve3;
}

}  // namespace

bool action_step_has_run(int32_t type) {
  return type >= 0 && type < kActionStepTypes && type != kStepWait && type != kStepSound && type != kStepCell &&
         type != kStepRect;
}

void* action_step_start(VmContext* ctx, const ActionStep& st) {
  const uint32_t now = KivtimeGetTime();
  SpriteRecord* s = Target(ctx, st.target);
  switch (st.type) {
    case kStepWait: return nullptr;
    case kStepSound:
      // The channel comes straight from the script: checked here.
      if (index_in(st.target, kSeChannelCount, "action_se channel")) se_action_play(ctx, st.target, st.p[0], st.p[1]);
      return nullptr;
    case kStepCell:
      if (s && s->sprite) KivSpriteRectSetPos(s->sprite, static_cast<unsigned>(st.p[0]), static_cast<unsigned>(st.p[1]));
      return nullptr;
    case kStepRect:
      if (s && s->sprite) {
        const KivRect r{st.p[0], st.p[1], Sat32(int64_t{st.p[0]} + st.p[2]), Sat32(int64_t{st.p[1]} + st.p[3])};
        KivSpriteSetRect(s->sprite, &r);
      }
      return nullptr;
    default: break;
  }
  if (!action_step_has_run(st.type)) return nullptr;
  auto* r = static_cast<StepRun*>(KivMemoryAlloc(sizeof(StepRun), 1));
  if (!r) return nullptr;  // the step then ends on time without effect
  r->target = s;
  std::memcpy(r->a, st.p, sizeof r->a);
  r->duration = static_cast<uint32_t>(std::max(st.duration, 1));
  r->start = r->cycleStart = now;
  if (st.type == kStepGrid) {
    r->a[0] = s ? GridDistance(s, st.p[0]) : 0;
    r->a[1] = 0;
    r->curve = st.p[1];
  }
  if (st.type == kStepScaleCurve) r->curve = st.p[0];
  if (st.type == kStepRotateCurve) r->curve = st.p[0];
  if (st.type == kStepSwing && r->a[2] <= 0) r->a[2] = 1;  // a period of 0 would divide by zero: 1 ms
  return r;
}

void action_step_update(VmContext* ctx, int32_t type, void* handle) {
  (void)ctx;
  auto* r = static_cast<StepRun*>(handle);
  if (!r || !r->target) return;
  SpriteRecord* s = r->target;
  SpriteFrameTerms& f = s->t.frame;
  const uint32_t now = KivtimeGetTime();
  switch (type) {
    case kStepMove: {
      const double k = Ratio(r, now, false);
      Add(f.cX, Trunc(r->a[0] * k));
      Add(f.cY, Trunc(r->a[1] * k));
      break;
    }
    case kStepMoveCurve2: case kStepMoveCurve1: case kStepMoveCurve3: {
      const uint32_t e = Elapsed(r, now, true);
      const double k = type == kStepMoveCurve2 ? curve_log80(e, r->duration)
                       : type == kStepMoveCurve1 ? curve_log55(e, r->duration)
                                                 : curve_table(e, r->duration);
      Add(f.cX, Trunc(r->a[0] * k));
      Add(f.cY, Trunc(r->a[1] * k));
      break;
    }
    case kStepShake: {
      const double k = Ratio(r, now, false);
      int64_t n = std::abs(int64_t{Trunc((1.0 - k) * r->a[1])}) + 1;
      if (n > INT32_MAX) n = INT32_MAX;
      auto draw = [n]() {
        return static_cast<int32_t>(static_cast<uint32_t>(KivRandomEx()) % static_cast<uint64_t>(n) - n / 2);
      };
      switch (r->a[0]) {
        case 0: Add(f.eY, draw()); break;
        case 1: Add(f.eX, draw()); break;
        case 2:
          Add(f.eX, draw());
          Add(f.eY, draw());
          break;
        default: break;
      }
      break;
    }
    case kStepAlpha: Add(f.cAlpha, Trunc(Ratio(r, now, false) * r->a[0])); break;
    case kStepRotate: {
      const double k = Ratio(r, now, false);
      for (int i = 0; i < 3; ++i) Add(f.cRot[i], Trunc(r->a[i] * k));
      break;
    }
    case kStepRotateCurve: {
      const double k = curve_by_number(r->curve, Elapsed(r, now, false), r->duration);
      for (int i = 0; i < 3; ++i) Add(f.cRot[i], Trunc(r->a[i + 1] * k));
      break;
    }
    case kStepScale: f.cScale += Ratio(r, now, false) * static_cast<float>(r->a[0]) / 100.0f; break;
    case kStepScaleCurve:
      f.dScale += curve_by_number(r->curve, Elapsed(r, now, false), r->duration) * static_cast<float>(r->a[1]) / 100.0f;
      break;
    case kStepGrid:
      Add(f.cX, Trunc(r->a[0] * static_cast<double>(curve_by_number(r->curve, Elapsed(r, now, false), r->duration))));
      break;
    case kStepSwing: {
      const uint32_t period = static_cast<uint32_t>(r->a[2]);
      float q = static_cast<float>(now - r->cycleStart) / static_cast<float>(period);
      if (q >= 1.0f) {
        q = 1.0f;
        r->cycleStart = now;
      }
      const int angle = static_cast<int>(360.0f * q);
      const float sn = static_cast<float>(std::sin(angle * 3.141592025756836 / 180.0));
      const int32_t amp = r->a[1];
      auto decaying = [&]() {
        const double left = 1.0 - static_cast<double>(now - r->start) / static_cast<double>(r->duration);
        return Trunc(sn * static_cast<double>(Trunc(left * amp)));
      };
      switch (r->a[0]) {
        case 0: Add(f.eY, Trunc(static_cast<double>(sn) * amp)); break;
        case 1: Add(f.eX, Trunc(static_cast<double>(sn) * amp)); break;
        case 2: Add(f.eY, decaying()); break;
        case 3: Add(f.eX, decaying()); break;
        default: break;
      }
      break;
    }
    default: break;
  }
}

void action_step_finish(VmContext* ctx, int32_t type, void* handle) {
  (void)ctx;
  auto* r = static_cast<StepRun*>(handle);
  if (!r) return;
  if (SpriteRecord* s = r->target) {
    SpriteTermSet& d = s->t.delta;
    if (IsMoveType(type)) SettleMove(s, r->a[0], r->a[1]);
    else if (type == kStepGrid) Add(d.x, r->a[0]);
    else if (type == kStepAlpha) Add(d.alpha, r->a[0]);
    else if (type == kStepRotate) for (int i = 0; i < 3; ++i) Add(d.rot[i], r->a[i]);
    else if (type == kStepRotateCurve) for (int i = 0; i < 3; ++i) Add(d.rot[i], r->a[i + 1]);
    else if (type == kStepScale) d.scale += static_cast<float>(r->a[0]) / 100.0f;
    else if (type == kStepScaleCurve) d.scale += static_cast<float>(r->a[1]) / 100.0f;
    // Shakes and swings leave nothing: their per-frame term is gone next frame.
  }
  KivMemoryFree(r);
}

void action_step_cancel(VmContext* ctx, const ActionStep& st) {
  SpriteRecord* s = Target(ctx, st.target);
  if (!s) return;
  SpriteTermSet& d = s->t.delta;
  switch (st.type) {
    case kStepMove: case kStepMoveCurve1: case kStepMoveCurve2: case kStepMoveCurve3:
      SettleMove(s, st.p[0], st.p[1]);
      break;
    case kStepGrid: Add(d.x, GridDistance(s, st.p[0])); break;
    case kStepAlpha: Add(d.alpha, st.p[0]); break;
    case kStepRotate: for (int i = 0; i < 3; ++i) Add(d.rot[i], st.p[i]); break;
    case kStepRotateCurve: for (int i = 0; i < 3; ++i) Add(d.rot[i], st.p[i + 1]); break;
    case kStepScale: d.scale += static_cast<float>(st.p[0]) / 100.0f; break;
    case kStepScaleCurve: d.scale += static_cast<float>(st.p[1]) / 100.0f; break;
    default: break;
  }
}
