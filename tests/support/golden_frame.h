// Compares a drawn frame (1280 x 720 unless told) with a reviewed golden picture in
// tests/golden/ (KIV_UPDATE_GOLDEN=1 writes it anew, to be looked at).
// Only the colour is compared: the back buffer's alpha byte is not shown.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/window/png_capture.h"

inline void expect_golden_frame(const std::string& name, const uint32_t* px, int w = 1280, int h = 720) {
  const std::string golden = std::string(KIV_GOLDEN_DIR) + "/" + name;
  if (const char* u = std::getenv("KIV_UPDATE_GOLDEN"); u && std::string(u) == "1") {
    ASSERT_TRUE(plat::CapturePng(golden, px, w, h, w));
  }
  std::vector<uint32_t> want;
  int gw = 0, gh = 0;
  ASSERT_TRUE(plat::ReadPng(golden, &want, &gw, &gh)) << golden << " (KIV_UPDATE_GOLDEN=1 writes it)";
  ASSERT_EQ(gw, w);
  ASSERT_EQ(gh, h);
  int differ = 0;
  for (size_t i = 0; i < want.size(); ++i) differ += (want[i] & 0xFFFFFFu) != (px[i] & 0xFFFFFFu);
  EXPECT_EQ(differ, 0) << "pixels differing from " << golden;
}
