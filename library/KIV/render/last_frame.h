// The last drawn frame of the logical screen, read the same way by every
// caller (sprite back-buffer copies, thumbnails). The software renderer
// gives its back buffer; the GPU renderer adds its read-back here.
#pragma once
#include <cstdint>

struct KivFrameView {
  const uint32_t* pixels = nullptr;  // width x height words, rows pitch words apart
  int width = 0, height = 0, pitch = 0;
};

// True with the frame in *out; false when no frame can be read.
bool KivLastFrameRead(KivFrameView* out);
