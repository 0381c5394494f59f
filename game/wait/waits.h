// Waits and the script thread: command group 7 holds the script for a
// time, for a click or until a moment measured from a sync base; group 21
// runs a script routine once a frame before the main script, entered the
// way gosub enters one (its return point under game-list key 3).
//
// All times are the game's 32-bit millisecond clock (KivtimeGetTime); every
// comparison is of the unsigned difference now - start, so a wait that
// spans the clock's wrap ends on time.
#pragma once
#include <cstdint>
#include <span>

struct VmContext;

constexpr uint32_t kWaitEndless = 0xFFFFFFFFu;

// The wait timers. The first seven words are the running waits' state;
// the rest keep apart what those words cannot say on their own.
struct WaitTimers {
  uint32_t start;           // clock at the start of the running timed wait
  uint32_t duration;        // ms of the running wait; 0 none; kWaitEndless endless
  uint32_t syncDuration;    // ms of the running wait_sync_release, from the sync base
  uint32_t syncBase;        // clock at wait_sync_begin (meaningful while syncSet)
  uint32_t pushedDuration;  // wait_time_push's copy of duration
  uint32_t skippable;       // first argument of the running wait
  uint32_t cancel;          // wait_clear cut the wait whose call is at cancelPc
  // The call (pc of its call word) of the running wait: a cut wait, run
  // again, ends without popping; a fresh wait elsewhere pops as usual.
  uint32_t waitPc;
  uint32_t cancelPc;
  // Whether a sync base was taken: the clock itself may read 0.
  uint32_t syncSet;
  // wait_time_push also keeps the start, the skip switch and the call of the
  // wait it puts aside, so that the wait taken back measures its own time.
  uint32_t pushedStart;
  uint32_t pushedSkippable;
  uint32_t pushedWaitPc;
};

// The script thread's record (saved in save files).
struct ScriptThread {
  int32_t active;
  int32_t enabled;
  int32_t countdown;  // frames to skip before the next entry (a load sets 1)
  uint32_t target;    // code offset of the routine, from the code base
};

// Clears the wait timers (game reset).
void wait_timers_clear(VmContext* ctx);
// Clears the script-thread record (game reset, clear_thread).
void script_thread_clear(VmContext* ctx);
// Once a frame before the buttons and the main run: 1 when the thread's
// routine has been entered and script_run is to run it now.
int script_thread_poll(VmContext* ctx);

// The script-thread record in a save: active, enabled, countdown, target.
// A target outside the code is refused, nothing changed. A load that
// succeeds sets a running thread's countdown to 1 (save_state_load), so the routine skips
// the first frame after it.
bool script_thread_save(VmContext* ctx, std::span<uint8_t> buffer, uint32_t* used);
bool script_thread_restore(VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);
bool script_thread_check(const VmContext* ctx, std::span<const uint8_t> data, uint32_t* cursor);  // changes nothing

void wait_thread_commands_install();
