// The mixer's device semantics: notifications at positions (offset 0 at
// play start, the wrap, stop), rates and sample formats converted as they
// mix, duplicates sharing samples, volume limits and focus muting.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/audio/audio.h"

namespace {

void Fill(plat::AudioBuffer* b, const std::vector<uint8_t>& bytes) {
  uint8_t *p1, *p2;
  uint32_t n1, n2;
  ASSERT_TRUE(b->Lock(0, static_cast<uint32_t>(bytes.size()), &p1, &n1, &p2, &n2));
  std::memcpy(p1, bytes.data(), n1);
  b->Unlock();
}

std::vector<int> Tokens(plat::AudioMixer& m) {
  std::vector<int> t;
  m.WaitNotifications(0, &t);
  return t;
}

TEST(AudioMixer, NotificationsAtStartHalfWrapAndStop) {
  plat::AudioMixer m;
  plat::AudioBuffer* b = m.CreateBuffer({2, 44100, 16}, 400 * 4, plat::kBufferPositionNotify);
  ASSERT_TRUE(b);
  ASSERT_TRUE(b->SetNotifications({{0, 10}, {200 * 4, 11}, {plat::kNotifyStop, 12}}));
  std::vector<int16_t> out(2 * 1000);
  b->Play(true);
  m.Mix(out.data(), 1);
  EXPECT_EQ(Tokens(m), std::vector<int>({10}));  // play start enters offset 0
  m.Mix(out.data(), 199);
  EXPECT_TRUE(Tokens(m).empty());
  m.Mix(out.data(), 1);
  EXPECT_EQ(Tokens(m), std::vector<int>({11}));
  m.Mix(out.data(), 200);
  EXPECT_EQ(Tokens(m), std::vector<int>({10}));  // wrapped round
  EXPECT_EQ(b->CurrentPosition(), 1u * 4);
  b->Stop();
  EXPECT_EQ(Tokens(m), std::vector<int>({12}));
  b->Play(true);  // resumes where it stopped, without entering offset 0 again
  m.Mix(out.data(), 10);
  EXPECT_TRUE(Tokens(m).empty());
  b->Stop();
  Tokens(m);
  b->Play(false);  // not looping: stops at the end by itself
  m.Mix(out.data(), 1000);
  EXPECT_EQ(Tokens(m), std::vector<int>({11, 12}));
  EXPECT_FALSE(b->Playing());
}

TEST(AudioMixer, RatesFormatsAndDuplicates) {
  plat::AudioMixer m;
  // 22,050 Hz mono 8-bit: each frame is heard twice as long, on both sides.
  plat::AudioBuffer* b = m.CreateBuffer({1, 22050, 8}, 100, 0);
  Fill(b, std::vector<uint8_t>(100, 128 + 64));
  b->Play(false);
  std::vector<int16_t> out(2 * 300);
  m.Mix(out.data(), 300);
  EXPECT_EQ(out[0], 64 << 8);
  EXPECT_EQ(out[1], 64 << 8);
  EXPECT_EQ(out[2 * 190], 64 << 8);
  EXPECT_EQ(out[2 * 210], 0);  // 100 frames at half rate last 200
  EXPECT_FALSE(b->Playing());

  plat::AudioBuffer* src = m.CreateBuffer({2, 44100, 16}, 16, 0);
  plat::AudioBuffer* dup = m.Duplicate(src);
  ASSERT_TRUE(dup);
  std::vector<uint8_t> bytes = {0x10, 0x00, 0x20, 0x00, 0x10, 0x00, 0x20, 0x00,
                                0x10, 0x00, 0x20, 0x00, 0x10, 0x00, 0x20, 0x00};
  Fill(src, bytes);  // written after the duplicate was made: shared
  src->Release();
  dup->Play(false);
  m.Mix(out.data(), 4);
  EXPECT_EQ(out[0], 0x10);
  EXPECT_EQ(out[1], 0x20);

  EXPECT_FALSE(dup->SetVolume(1));
  EXPECT_FALSE(dup->SetVolume(-10001));
  EXPECT_FALSE(dup->SetPan(10001));
  EXPECT_EQ(dup->Volume(), 0);
}

TEST(AudioMixer, TinyLoopAtAHighRateStaysInside) {
  plat::AudioMixer m;
  plat::AudioBuffer* b = m.CreateBuffer({1, 153211, 16}, 2, 0);  // one frame, 3.5 frames a step
  Fill(b, {0x00, 0x10});
  b->Play(true);
  std::vector<int16_t> out(2 * 64);
  m.Mix(out.data(), 64);
  EXPECT_EQ(out[2 * 63], 0x1000);
}

TEST(AudioMixer, FocusMutesAllButGlobalFocusBuffers) {
  plat::AudioMixer m;
  plat::AudioBuffer* local = m.CreateBuffer({2, 44100, 16}, 4, 0);
  plat::AudioBuffer* global = m.CreateBuffer({1, 44100, 16}, 2, plat::kBufferGlobalFocus);
  Fill(local, {0x00, 0x01, 0x00, 0x01});
  Fill(global, {0x02, 0x00});
  local->Play(true);
  global->Play(true);
  std::vector<int16_t> out(2);
  m.Mix(out.data(), 1);
  EXPECT_EQ(out[0], 0x100 + 2);
  m.SetFocus(false);
  m.Mix(out.data(), 1);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(plat::DecibelsToGain(-10000), 0.0f);
  EXPECT_NEAR(plat::DecibelsToGain(-602), 0.5f, 0.001f);
}

}  // namespace
