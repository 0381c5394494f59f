// Writes small MPEG-1 system streams for tests and the demo: each frame
// shows its number as eight large blocks (bit 7 on the left, white for 1),
// the lower half a colour that changes with the number, and the sound is a
// steady 1 kHz tone.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kivtools {

struct MovieSpec {
  int width = 160, height = 120;
  int frames = 10;
  int fps = 25;
  bool audio = true;
  bool mpeg2 = false;  // MPEG-2 video instead (a stream the player refuses)
  double toneLevel = 0.5;  // of full scale
};

bool MakeMovie(const MovieSpec& spec, std::vector<uint8_t>* out, std::string* error);
bool WriteMovie(const std::string& path, const MovieSpec& spec, std::string* error);

// The frame number read back from 32-bit pixels (B G R A) of a frame drawn
// at w x h; -1 when a block is neither dark nor light.
int ReadMovieFrameNumber(const uint32_t* px, int w, int h, int pitchWords);

}  // namespace kivtools
