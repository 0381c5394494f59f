// Motions: small programs from ".ani" files that animate one sprite record
// each. Every frame a motion adds its running changes' current share to the
// record's per-frame terms (component D; scale to C's term, which actions
// share) and, when a change ends, its whole amount to the settled terms
// (component F). Freeing a motion drops F (the sprite goes back) unless op
// 19 made it permanent, when F is baked into components B and A's alpha.
//
// The file: ops from offset 0, one op byte and its 32-bit operands; the word
// at size - 4 is the entry offset, label n the word at size - 12 - 4n. Only
// the game thread loads, runs and frees motions.
#pragma once
#include <cstdint>
#include <span>

struct VmContext;
struct SpriteRecord;

constexpr int kMotionCount = 128;        // numbers 1..128; 0 is "none"
constexpr int kMotionChildSlots = 8;
constexpr int kMotionOpsPerUpdate = 4096;  // a motion tree that runs more ops in one update is ended
constexpr int kMotionChildDepth = 8;       // children of children, at most this deep
constexpr int kMotionTreeChildren = 64;    // children in one motion's whole tree

enum MotionState : int32_t {
  kMotionRunning = 0,  // a child
  kMotionAutoStarted = 1,
  kMotionWaitingStart = 2,
  kMotionStarted = 3,
};

struct MotionMove {
  int32_t active;
  uint32_t curveBits;
  uint32_t start;
  uint64_t length;  // ms + 1
  int32_t dx, dy;
};
struct MotionScale {
  int32_t active;
  uint32_t start;
  uint64_t length;
  int32_t percent;
};
struct MotionAlpha {
  int32_t active;
  uint32_t start;
  uint64_t length;
  int32_t change;
};
struct MotionRotation {
  int32_t active;
  uint32_t start;
  uint64_t length;
  int32_t r[3];
};
struct MotionLineMove {
  int32_t active;
  uint32_t lastStep;
  uint32_t interval;
  int32_t dx, dy;
  float travelledX, travelledY;
  float stepX, stepY;
};
struct MotionWait {
  int32_t active;
  uint32_t start;
  uint64_t length;
};

struct MotionRecord {
  int32_t inUse;
  int32_t revert;
  int32_t state;
  SpriteRecord* sprite;
  uint32_t pauseStart, pauseLength;
  MotionMove move;
  MotionScale scale;
  MotionAlpha alpha;
  MotionRotation rotation;
  MotionLineMove line;
  MotionWait wait;
  int32_t operands[4];
  uint8_t* code;
  uint32_t codeSize;
  uint32_t pc;
  MotionRecord* children[kMotionChildSlots];
  MotionRecord* root;    // a child's top motion (null for a top motion)
  int32_t depth;         // 0 for a top motion
  int32_t descendants;   // a top motion: children alive in its tree
  MotionRecord* prev;
  MotionRecord* next;
};

// Records 1..128 (0 unused) and the live list, newest first.
struct MotionTable {
  MotionRecord records[kMotionCount + 1];
  MotionRecord* live;
};

// Loads "<name>.ani" for the record (its motion number set); 1 loaded (or
// after "Read Error"), 0 failed. A file whose entry byte is 0xFC runs at
// once; any other waits for motion_start.
int motion_load(VmContext* ctx, SpriteRecord* record, const char* name);
// The same from bytes in memory (tests and fuzzing); no file involved.
int motion_load_image(VmContext* ctx, SpriteRecord* record, std::span<const uint8_t> bytes, const char* name);
void motion_start(VmContext* ctx, int number);
void motion_show(VmContext* ctx, int number);
// One frame of a motion; 0 when it has ended.
int motion_update(VmContext* ctx, MotionRecord* m);
void motion_frame(VmContext* ctx);
void motion_free(VmContext* ctx, int number);
void motion_reset(VmContext* ctx);
// The record of a live motion number, or null (logged) when the number is
// outside 1..128, not in use or not owned by its sprite record.
MotionRecord* motion_get(VmContext* ctx, int number);
// Motions and child records alive (for leak checks in tests).
int motion_live_count(const VmContext* ctx);
