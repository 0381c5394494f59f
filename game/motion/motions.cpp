// Motion programs: loading, the op interpreter, timed changes, children and
// the release that either drops or keeps what a motion did.
#include "motion/motions.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "component_entries.h"
#include "kiv.h"
#include "layers/sprite_records.h"
#include "motion/curves.h"
#include "platform/core/file.h"
#include "platform/core/text_encoding.h"
#include "start/game_debug_log.h"
#include "vm/checked_index.h"
#include "vm/vm_context.h"

namespace {

constexpr uint32_t kMaxMotionFileBytes = 16u << 20;
constexpr uint8_t kOpAutoStart = 0xFC;

// Motions are the game thread's: the first caller after a reset owns them,
// and a call from any other thread is refused rather than raced.
std::atomic<std::thread::id> g_owner{};
// Ops left in the current update of a top motion and its tree.
int g_opsLeft = 0;

bool OnOwnerThread(const char* what) {
  const std::thread::id self = std::this_thread::get_id();
  std::thread::id expected{};
  if (g_owner.compare_exchange_strong(expected, self) || expected == self) return true;
  game_debug_log(kDebugWindowError, "%s: motions belong to the game thread", what);
  return false;
}

int32_t Sat32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }
int16_t Sat16(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX)); }
// Float to int, saturating (NaN gives 0).
int32_t Trunc(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}
uint32_t Now() { return KivtimeGetTime(); }
uint32_t T32(uint64_t length) { return static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX)); }

uint32_t Word(const MotionRecord* m, uint32_t at) {
  const uint8_t* p = m->code + at;
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Label n's offset, checked against the file; false when it has none.
bool LabelOffset(const MotionRecord* m, uint32_t label, uint32_t* out) {
  const uint64_t back = 12 + 4 * uint64_t{label};
  if (back > m->codeSize) return false;
  const uint32_t off = Word(m, static_cast<uint32_t>(m->codeSize - back));
  if (off >= m->codeSize) return false;
  *out = off;
  return true;
}

// ---- Timed changes ----

void UpdateScale(MotionRecord* m, SpriteRecord* s, uint32_t now) {
  MotionScale& c = m->scale;
  if (!c.active) return;
  const uint64_t e = static_cast<uint32_t>(now - c.start);
  const uint64_t ep = e + 1 < c.length ? e : c.length;
  const float r = static_cast<float>(static_cast<double>(ep) / static_cast<double>(c.length));
  const float v = r * static_cast<float>(c.percent) / 100.0f;
  if (ep != c.length) {
    s->t.frame.cScale += v;
  } else {
    c.active = 0;
    s->t.f.scale += v;
  }
}

void UpdateRotation(MotionRecord* m, SpriteRecord* s, uint32_t now) {
  MotionRotation& c = m->rotation;
  if (!c.active) return;
  const uint64_t e = static_cast<uint32_t>(now - c.start);
  const uint64_t ep = e + 1 < c.length ? e : c.length;
  const double r = static_cast<float>(static_cast<double>(ep) / static_cast<double>(c.length));
  const bool done = ep == c.length;
  for (int i = 0; i < 3; ++i) {
    const int32_t v = Trunc(c.r[i] * r);
    int32_t& field = done ? s->t.f.rot[i] : s->t.frame.dRot[i];
    field = Sat32(int64_t{field} + v);
  }
  if (done) c.active = 0;
}

void UpdateAlpha(MotionRecord* m, SpriteRecord* s, uint32_t now) {
  MotionAlpha& c = m->alpha;
  if (!c.active) return;
  const uint64_t e = static_cast<uint32_t>(now - c.start);
  const uint64_t ep = e + 1 < c.length ? e : c.length;
  const double r = static_cast<float>(static_cast<double>(ep) / static_cast<double>(c.length));
  const int32_t v = Trunc(r * c.change);
  if (ep != c.length) {
    s->t.frame.dAlpha = Sat16(int64_t{s->t.frame.dAlpha} + v);
  } else {
    c.active = 0;
    s->t.f.alpha = Sat16(int64_t{s->t.f.alpha} + v);
  }
}

void UpdateMove(MotionRecord* m, SpriteRecord* s, uint32_t now) {
  MotionMove& c = m->move;
  if (!c.active) return;
  const uint64_t e = static_cast<uint32_t>(now - c.start);
  const uint64_t ep = e == 0 ? 1 : e + 1 >= c.length ? c.length : e;
  const double k = curve_by_bits(c.curveBits, T32(ep), T32(c.length));
  const int32_t x = Trunc(c.dx * k), y = Trunc(c.dy * k);
  if (ep < c.length) {
    s->t.frame.dX = Sat32(int64_t{s->t.frame.dX} + x);
    s->t.frame.dY = Sat32(int64_t{s->t.frame.dY} + y);
  } else {
    c.active = 0;
    c.curveBits = 0;
    s->t.f.x = Sat32(int64_t{s->t.f.x} + x);
    s->t.f.y = Sat32(int64_t{s->t.f.y} + y);
  }
}

// The line move steps (cos a, sin a) per interval and ends once the length
// travelled reaches |(dx, dy)|, settling at exactly (dx, dy).
void UpdateLine(MotionRecord* m, SpriteRecord* s, uint32_t now) {
  MotionLineMove& c = m->line;
  if (static_cast<uint32_t>(now - c.lastStep) >= c.interval) {
    c.lastStep = now;
    c.travelledX += c.stepX;
    c.travelledY += c.stepY;
  }
  const double goal = std::hypot(static_cast<double>(c.dx), static_cast<double>(c.dy));
  const double done = std::hypot(static_cast<double>(c.travelledX), static_cast<double>(c.travelledY));
  if (done >= goal) {
    c.active = 0;
    s->t.f.x = Sat32(int64_t{s->t.f.x} + c.dx);
    s->t.f.y = Sat32(int64_t{s->t.f.y} + c.dy);
    return;
  }
  s->t.frame.dX = Sat32(int64_t{s->t.frame.dX} + Trunc(c.travelledX));
  s->t.frame.dY = Sat32(int64_t{s->t.frame.dY} + Trunc(c.travelledY));
}

// Adds the whole amount of every running timed change to the settled terms.
void SettleRunning(MotionRecord* m) {
  SpriteRecord* s = m->sprite;
  if (!s) return;
  if (m->alpha.active) s->t.f.alpha = Sat16(int64_t{s->t.f.alpha} + m->alpha.change);
  if (m->move.active) {
    s->t.f.x = Sat32(int64_t{s->t.f.x} + m->move.dx);
    s->t.f.y = Sat32(int64_t{s->t.f.y} + m->move.dy);
  }
  if (m->rotation.active)
    for (int i = 0; i < 3; ++i) s->t.f.rot[i] = Sat32(int64_t{s->t.f.rot[i]} + m->rotation.r[i]);
  if (m->scale.active) s->t.f.scale += static_cast<float>(m->scale.percent) / 100.0f;
  m->alpha.active = m->move.active = m->rotation.active = m->scale.active = 0;
}

// A child and its own children: settled, code and record freed.
void ChildFree(MotionRecord* c) {
  if (!c) return;
  if (c->root) --c->root->descendants;
  for (MotionRecord*& g : c->children) {
    ChildFree(g);
    g = nullptr;
  }
  SettleRunning(c);
  KivMemoryFree(c->code);
  KivMemoryFree(c);
}

MotionRecord* ChildStart(MotionRecord* parent, uint32_t pc) {
  // Children that start children could nest and multiply without end.
  MotionRecord* root = parent->root ? parent->root : parent;
  if (parent->depth + 1 > kMotionChildDepth || root->descendants >= kMotionTreeChildren) {
    game_debug_log(kDebugWindowError, "motion children: more than %d deep or %d in all", kMotionChildDepth,
                   kMotionTreeChildren);
    return nullptr;
  }
  auto* c = static_cast<MotionRecord*>(KivMemoryAlloc(sizeof(MotionRecord), 1));
  if (!c) return nullptr;
  auto* code = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(parent->codeSize), 0));
  if (!code) {
    KivMemoryFree(c);
    return nullptr;
  }
  std::memcpy(code, parent->code, parent->codeSize);
  c->inUse = 1;
  c->revert = parent->revert;
  c->state = kMotionRunning;
  c->sprite = parent->sprite;
  c->code = code;
  c->codeSize = parent->codeSize;
  c->pc = pc;
  c->root = root;
  c->depth = parent->depth + 1;
  ++root->descendants;
  return c;
}

enum class OpResult { kGoOn, kStop, kEnd };

// Bits of what has had its update this frame: the four timed changes and
// the eight children. A change or child (re)started by an op clears its bit,
// so it gets its first update in the same frame; nothing gets two.
constexpr uint32_t kDoneScale = 1, kDoneMove = 2, kDoneRotation = 4, kDoneAlpha = 8;
constexpr uint32_t DoneChild(int i) { return 0x100u << i; }

OpResult RunOp(VmContext* ctx, MotionRecord* m, uint32_t* done) {
  (void)ctx;
  if (m->pc >= m->codeSize) m->pc = 0;  // the program wraps at the file's end
  const uint8_t op = m->code[m->pc];
  int operands = 0;
  switch (op) {
    case 0: case 14: case 15: case 18: case 20: operands = 3; break;
    case 1: case 10: case 0xFE: operands = 1; break;
    case 2: case 3: case 7: case 8: case 11: case 12: operands = 2; break;
    case 4: case 13: case 17: operands = 4; break;
    case 19: case 0xFC: case 0xFD: operands = 0; break;
    default: return OpResult::kEnd;
  }
  if (uint64_t{m->pc} + 1 + 4 * uint64_t(operands) > m->codeSize) return OpResult::kEnd;  // an op cut off by the end
  for (int i = 0; i < operands; ++i) m->operands[i] = static_cast<int32_t>(Word(m, m->pc + 1 + 4 * i));
  m->pc += 1 + 4 * operands;
  const int32_t* a = m->operands;
  SpriteRecord* s = m->sprite;
  const uint32_t now = Now();
  auto timedMove = [&](uint32_t bits, int32_t dx, int32_t dy, int32_t ms) {
    m->move = MotionMove{1, bits, now, uint64_t{static_cast<uint32_t>(ms)} + 1, dx, dy};
    *done &= ~kDoneMove;
  };
  switch (op) {
    case 0: timedMove(0, a[0], a[1], a[2]); return OpResult::kGoOn;
    case 14: timedMove(1, a[0], a[1], a[2]); return OpResult::kGoOn;
    case 15: timedMove(2, a[0], a[1], a[2]); return OpResult::kGoOn;
    case 18: timedMove(4, a[0], a[1], a[2]); return OpResult::kGoOn;
    case 17: {
      const int64_t x = s ? int64_t{a[1]} - s->t.bX - s->t.aX : a[1];
      const int64_t y = s ? int64_t{a[2]} - s->t.bY - s->t.aY : a[2];
      timedMove(static_cast<uint32_t>(a[0]), Sat32(x), Sat32(y), a[3]);
      return OpResult::kGoOn;
    }
    case 1: m->wait = MotionWait{1, now, static_cast<uint32_t>(a[0])}; return OpResult::kStop;
    case 8: {
      // Low + 1 ms when the range is empty; the sum is 64-bit.
      const uint32_t low = static_cast<uint32_t>(a[0]), span = static_cast<uint32_t>(a[1]) - low;
      const uint64_t pick = span ? static_cast<uint32_t>(KivRandom()) % span : 0;
      m->wait = MotionWait{1, now, pick + low + 1};
      return OpResult::kStop;
    }
    case 2:
      m->scale = MotionScale{1, now, uint64_t{static_cast<uint32_t>(a[1])} + 1, a[0]};
      *done &= ~kDoneScale;
      return OpResult::kGoOn;
    case 3:
      m->alpha = MotionAlpha{1, now, uint64_t{static_cast<uint32_t>(a[1])} + 1, a[0]};
      *done &= ~kDoneAlpha;
      return OpResult::kGoOn;
    case 4:
      m->rotation = MotionRotation{1, now, uint64_t{static_cast<uint32_t>(a[3])} + 1, {a[0], a[1], a[2]}};
      *done &= ~kDoneRotation;
      return OpResult::kGoOn;
    case 7:
      if (s) {
        s->t.f.x = Sat32(int64_t{s->t.f.x} + a[0]);
        s->t.f.y = Sat32(int64_t{s->t.f.y} + a[1]);
      }
      return OpResult::kGoOn;
    case 10: {
      uint32_t to = 0;
      if (!LabelOffset(m, static_cast<uint32_t>(a[0]), &to)) {
        game_debug_log(kDebugWindowError, "motion label out of range: %d", a[0]);
        return OpResult::kEnd;
      }
      m->pc = to;
      return OpResult::kGoOn;
    }
    case 11: {
      uint32_t to = 0;
      if (!index_in(a[0], kMotionChildSlots, "motion child slot")) return OpResult::kGoOn;
      if (!LabelOffset(m, static_cast<uint32_t>(a[1]), &to)) {
        game_debug_log(kDebugWindowError, "motion label out of range: %d", a[1]);
        return OpResult::kGoOn;
      }
      MotionRecord*& slot = m->children[a[0]];
      ChildFree(slot);  // a busy slot's child goes first
      slot = ChildStart(m, to);
      *done &= ~DoneChild(a[0]);
      return OpResult::kGoOn;
    }
    case 12:
      if (s && s->sprite) KivSpriteRectSetPos(s->sprite, static_cast<unsigned>(a[0]), static_cast<unsigned>(a[1]));
      return OpResult::kStop;
    case 13:
      if (s && s->sprite) {
        const KivRect r{a[0], a[1], Sat32(int64_t{a[0]} + a[2]), Sat32(int64_t{a[1]} + a[3])};
        KivSpriteSetRect(s->sprite, &r);
      }
      return OpResult::kStop;
    case 19: m->revert = 0; return OpResult::kGoOn;
    case 20: {
      const double ang = std::atan2(static_cast<double>(a[1]), static_cast<double>(a[0]));
      m->line = MotionLineMove{1,
                               now,
                               static_cast<uint32_t>(a[2]),
                               a[0],
                               a[1],
                               0.0f,
                               0.0f,
                               static_cast<float>(std::cos(ang)),
                               static_cast<float>(std::sin(ang))};
      return OpResult::kStop;
    }
    case 0xFE:
      m->pauseStart = now;
      m->pauseLength = static_cast<uint32_t>(a[0]);
      return OpResult::kStop;
    default: return OpResult::kGoOn;  // 0xFC, 0xFD
  }
}

MotionRecord* Record(VmContext* ctx, int number) { return &ctx->motions.records[number]; }

void Unlink(VmContext* ctx, MotionRecord* m) {
  if (m->prev) m->prev->next = m->next;
  else if (ctx->motions.live == m) ctx->motions.live = m->next;
  if (m->next) m->next->prev = m->prev;
  m->prev = m->next = nullptr;
}

int Number(const VmContext* ctx, const MotionRecord* m) {
  return static_cast<int>(m - ctx->motions.records);
}

}  // namespace

// ---- Update ----

int motion_update(VmContext* ctx, MotionRecord* m) {
  if (!m || !m->inUse) return 0;
  const uint32_t now = Now();
  SpriteRecord* s = m->sprite;
  uint32_t done = 0;
  // One budget of ops for a motion and all its children in this update.
  if (m->depth == 0) g_opsLeft = kMotionOpsPerUpdate;
  for (;;) {
    if (!m->code || m->state == kMotionWaitingStart) return 1;
    for (int i = 0; i < kMotionChildSlots; ++i) {
      MotionRecord*& c = m->children[i];
      if (!c || (done & DoneChild(i))) continue;
      done |= DoneChild(i);
      if (!motion_update(ctx, c)) {
        ChildFree(c);
        c = nullptr;
      }
    }
    if (s) {
      if (m->scale.active && !(done & kDoneScale)) UpdateScale(m, s, now);
      if (m->move.active && !(done & kDoneMove)) UpdateMove(m, s, now);
      if (m->rotation.active && !(done & kDoneRotation)) UpdateRotation(m, s, now);
      if (m->alpha.active && !(done & kDoneAlpha)) UpdateAlpha(m, s, now);
    }
    done |= kDoneScale | kDoneMove | kDoneRotation | kDoneAlpha;
    if (m->line.active) {
      if (s) UpdateLine(m, s, now);
      else m->line.active = 0;
      return 1;
    }
    if (static_cast<uint32_t>(now - m->pauseStart) <= m->pauseLength) return 1;
    if (m->wait.active) {
      if (static_cast<uint32_t>(now - m->wait.start) <= m->wait.length) return 1;
      m->wait.active = 0;
    }
    for (;;) {
      if (--g_opsLeft < 0) {
        game_debug_log(kDebugWindowError, "motion %d runs %d ops without waiting: ended", m->depth ? -1 : Number(ctx, m),
                       kMotionOpsPerUpdate);
        return 0;
      }
      const OpResult r = RunOp(ctx, m, &done);
      if (r == OpResult::kEnd) return 0;
      if (r == OpResult::kStop) break;
    }
    if (!m->inUse) return 0;
  }
}

// ---- Loading ----

MotionRecord* motion_get(VmContext* ctx, int number) {
  if (!index_in(number - 1, kMotionCount, "motion number")) return nullptr;
  MotionRecord* m = Record(ctx, number);
  if (!m->inUse) {
    game_debug_log(kDebugWindowError, "motion %d is not in use", number);
    return nullptr;
  }
  if (m->sprite && m->sprite->motionSlot != number) {
    game_debug_log(kDebugWindowError, "motion %d does not belong to its sprite record", number);
    return nullptr;
  }
  return m;
}

int motion_load_image(VmContext* ctx, SpriteRecord* record, std::span<const uint8_t> bytes, const char* name) {
  if (!OnOwnerThread("motion_load")) return 0;
  if (!record) return 0;
  // The tail holds the entry word and one more; the entry must name a byte
  // of the file.
  if (bytes.size() < 8 || bytes.size() > kMaxMotionFileBytes) {
    game_debug_log(kDebugWindowError, "[%s] motion file of %zu bytes", name, bytes.size());
    return 0;
  }
  const uint32_t size = static_cast<uint32_t>(bytes.size());
  const uint8_t* t = bytes.data() + size - 4;
  const uint32_t entry = uint32_t{t[0]} | uint32_t{t[1]} << 8 | uint32_t{t[2]} << 16 | uint32_t{t[3]} << 24;
  if (entry >= size) {
    game_debug_log(kDebugWindowError, "[%s] motion entry %u outside the file", name, entry);
    return 0;
  }
  int number = 0;
  for (int i = 1; i <= kMotionCount && !number; ++i)
    if (!ctx->motions.records[i].inUse) number = i;
  if (!number) {
    game_debug_log(kDebugWindowError, "[%s] no free motion record", name);
    return 0;
  }
  auto* code = static_cast<uint8_t*>(KivMemoryAlloc(static_cast<int>(size), 0));
  if (!code) {
    game_debug_log(kDebugWindowError, plat::Sjis("[%s] の読み込みに失敗。-1"), name);
    return 0;
  }
  std::memcpy(code, bytes.data(), size);
  // A record that still names a motion lets it go first.
  if (record->motionSlot) motion_free(ctx, record->motionSlot);
  MotionRecord* m = Record(ctx, number);
  std::memset(static_cast<void*>(m), 0, sizeof *m);
  m->inUse = 1;
  m->revert = 1;
  m->state = kMotionWaitingStart;
  m->sprite = record;
  m->code = code;
  m->codeSize = size;
  m->pc = entry;
  m->next = ctx->motions.live;
  if (m->next) m->next->prev = m;
  ctx->motions.live = m;
  record->motionSlot = number;
  if (code[entry] == kOpAutoStart) {
    m->state = kMotionAutoStarted;
    motion_update(ctx, m);
  }
  return 1;
}

int motion_load(VmContext* ctx, SpriteRecord* record, const char* name) {
  if (!OnOwnerThread("motion_load")) return 0;
  if (!name || !record) return 0;
  char path[300];
  std::snprintf(path, sizeof path, "%s.ani", name);
  KivFileInfo info{};
  intptr_t f = KivFileCreate(path, &info);
  if (f == KIV_INVALID_FILE) {
    game_debug_log(kDebugWindowError, plat::Sjis("[%s] の読み込みに失敗"), name);
    return 0;
  }
  struct Closer {
    intptr_t f;
    ~Closer() { plat::FileClose(f); }
  } closer{f};
  if (info.size > kMaxMotionFileBytes) {
    game_debug_log(kDebugWindowError, plat::Sjis("[%s] の読み込みに失敗。-1"), name);
    return 0;
  }
  std::vector<uint8_t> bytes(info.size);
  size_t done = 0;
  while (done < info.size) {
    size_t got = 0;
    if (!plat::FileRead(f, bytes.data() + done, info.size - done, &got) || got == 0) break;
    done += got;
  }
  if (done != info.size) {
    game_debug_log(kDebugWindowError, "Read Error [%s]", name);
    return 1;  // as the program has always answered; no motion was made
  }
  return motion_load_image(ctx, record, bytes, name);
}

// ---- Start, show, frame ----

void motion_start(VmContext* ctx, int number) {
  if (number == 0) return;
  MotionRecord* m = motion_get(ctx, number);
  if (!m || m->state == kMotionStarted) return;
  m->state = kMotionStarted;
  motion_update(ctx, m);
}

void motion_show(VmContext* ctx, int number) { motion_start(ctx, number); }

void motion_frame(VmContext* ctx) {
  if (!OnOwnerThread("motion_frame")) return;
  for (MotionRecord* m = ctx->motions.live; m;) {
    MotionRecord* next = m->next;
    const int number = Number(ctx, m);
    if (m->sprite && m->sprite->motionSlot != number) {
      // Its sprite record was made anew without letting it go: it writes
      // nowhere any more and goes without touching the record.
      m->sprite = nullptr;
      motion_free(ctx, number);
    } else if (!motion_update(ctx, m)) {
      motion_free(ctx, number);
    }
    m = next;
  }
}

// ---- Release ----

void motion_free(VmContext* ctx, int number) {
  if (number == 0) return;
  if (!index_in(number - 1, kMotionCount, "motion number")) return;
  MotionRecord* m = Record(ctx, number);
  if (!m->inUse) return;
  SpriteRecord* s = m->sprite;
  if (s && s->motionSlot != number) {
    game_debug_log(kDebugWindowError, "motion %d does not belong to its sprite record", number);
    return;
  }
  if (m->state != kMotionStarted) {
    m->state = kMotionStarted;
    motion_update(ctx, m);
  }
  for (MotionRecord*& c : m->children) {
    ChildFree(c);
    c = nullptr;
  }
  SettleRunning(m);
  KivMemoryFree(m->code);
  m->code = nullptr;
  if (s) {
    s->motionSlot = 0;
    s->t.frame.dX = s->t.frame.dY = 0;
    for (int32_t& r : s->t.frame.dRot) r = 0;
    s->t.frame.dAlpha = 0;
    s->t.frame.cScale = 0.0f;
    SpriteTransform& t = s->t;
    if (m->revert == 0) {
      t.bX = Sat32(int64_t{t.bX} + t.f.x);
      t.bY = Sat32(int64_t{t.bY} + t.f.y);
      for (int i = 0; i < 3; ++i) t.bRot[i] = Sat32(int64_t{t.bRot[i]} + t.f.rot[i]);
      t.bScale += t.f.scale;
      const int alpha = std::clamp(static_cast<int>(t.colour >> 24) + t.f.alpha, 0, 255);
      t.colour = static_cast<uint32_t>(alpha) << 24 | (t.colour & 0x00FFFFFFu);
    }
    t.f = SpriteTermSet{};
  }
  Unlink(ctx, m);
  std::memset(static_cast<void*>(m), 0, sizeof *m);
}

void motion_reset(VmContext* ctx) {
  g_owner.store(std::this_thread::get_id());
  for (int i = 1; i <= kMotionCount; ++i) {
    MotionRecord* m = Record(ctx, i);
    if (!m->inUse) continue;
    // A record whose sprite lost track of it still goes.
    if (m->sprite && m->sprite->motionSlot != i) m->sprite = nullptr;
    motion_free(ctx, i);
  }
  ctx->motions.live = nullptr;
}

int motion_live_count(const VmContext* ctx) {
  int n = 0;
  auto count = [&](auto&& self, const MotionRecord* c) -> void {
    if (!c) return;
    ++n;
    for (const MotionRecord* g : c->children) self(self, g);
  };
  for (int i = 1; i <= kMotionCount; ++i)
    if (ctx->motions.records[i].inUse) count(count, &ctx->motions.records[i]);
  return n;
}
