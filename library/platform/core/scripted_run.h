// A headless run driven from outside, frame by frame: the frame clock, the
// input script, the frames and sound to capture, and the run's length, all
// read once from the environment:
//   KIV_HEADLESS_CLOCK=virtual   frame n starts at (n - 1) * 1000 / 60 ms and
//                                nothing waits for real time
//   KIV_INPUT_SCRIPT=FILE        timed input events (syntax below)
//   KIV_CAPTURE_FRAMES=N,N,...   frames written as KIV_CAPTURE_DIR/frame-NNNNNN.png
//   KIV_CAPTURE_SOUND=FILE.wav   the mixed sound of the whole run
//   KIV_RUN_FRAMES=N             the program ends in order after frame N
// Frames count from 1, the first frame the game thread runs.
//
// Input script: one event a line, '#' starts a comment. A line starts with
// its frame number, or "+N" for N frames after the previous line's frame:
//   120 key down Space        key NAME down / up ("key down NAME" also)
//   +1  key up Space
//   +10 press Return          down now, up on the next frame
//   200 mouse move 640 360    the cursor, in game-screen pixels
//   +1  mouse down left       a button (left, right, middle) at the cursor
//   +1  mouse up left
//   300 click left 640 360    move, down now, up on the next frame
//   400 close                 the window's close button
// Key names: Space, Return (Enter), Escape (Esc), Tab, Shift, Control
// (Ctrl), Alt, Up, Down, Left, Right, F1..F12, A..Z, 0..9.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/clock.h"

namespace plat {

struct ScriptedEvent {
  enum Kind { kKey, kMouseMove, kMouseButton, kClose };
  uint32_t frame = 0;
  Kind kind = kKey;
  int code = 0;      // virtual key (kKey, kMouseButton)
  bool down = false;  // kKey, kMouseButton
  int x = 0, y = 0;   // kMouseMove: game-screen pixels
};

// Parses an input script; on a fault, false with "line N: why" in *error.
bool ParseInputScript(const std::string& text, std::vector<ScriptedEvent>* out, std::string* error);

struct ScriptedRun {
  bool frameClock = false;
  std::vector<ScriptedEvent> events;  // in frame order
  std::vector<uint32_t> captureFrames;  // sorted, no repeats
  std::string captureDir;
  std::string captureSound;
  uint32_t runFrames = 0;  // 0: no limit
  std::string error;       // a fault in the settings; empty when they are good
};

// The settings of this process, read from the environment once (a headless
// window is needed for any of them; otherwise everything is off).
const ScriptedRun& ScriptedRunSettings();

// The time frame n starts at on the frame clock.
inline uint32_t FrameClockTimeOf(uint32_t frame) {
  return frame == 0 ? 0 : static_cast<uint32_t>((static_cast<uint64_t>(frame) - 1) * 1000 / 60);
}

// The capture file of frame n: DIR/frame-NNNNNN.png.
std::string CaptureFramePath(const std::string& dir, uint32_t frame);

}  // namespace plat
