#include "standins/bass/pcm_history.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(PcmHistory, PeakOfTheRequestedStretchOnly) {
  PcmHistory history(2, 1000);
  std::vector<std::int16_t> loud(200 * 2, 0);
  loud[2 * 50] = 32767;       // left, frame 50
  loud[2 * 150 + 1] = -16384; // right, frame 150
  history.Append(loud.data(), 200);
  float level = 0;
  history.Level(200, 100, true, false, &level);  // frames 100..199
  EXPECT_NEAR(level, 0.5, 1e-6);
  history.Level(200, 200, true, false, &level);
  EXPECT_NEAR(level, 32767 / 32768.0, 1e-6);
  float both[2];
  history.Level(200, 200, false, false, both);
  EXPECT_NEAR(both[0], 32767 / 32768.0, 1e-6);
  EXPECT_NEAR(both[1], 0.5, 1e-6);
  // The stretch ending at frame 100 (as when playback is behind decoding).
  history.Level(100, 100, true, false, &level);
  EXPECT_NEAR(level, 32767 / 32768.0, 1e-6);
}

TEST(PcmHistory, ForgetsWhatFellOutOfTheRingAndWhatWasReset) {
  PcmHistory history(1, 100);
  std::vector<std::int16_t> block(80, 0);
  block[10] = -32768;  // frame 10
  history.Append(block.data(), 80);
  std::vector<std::int16_t> quiet(80, 100);
  history.Append(quiet.data(), 80);  // frames 80..159; frame 10 overwritten
  float level = 0;
  history.Level(160, 160, true, false, &level);
  EXPECT_NEAR(level, 100 / 32768.0, 1e-6);
  EXPECT_EQ(history.EndFrame(), 160);

  history.Reset(0);
  history.Level(160, 160, true, false, &level);
  EXPECT_EQ(level, 0);
  std::vector<std::int16_t> once(1000, 0);
  once[999] = 16384;  // more than the ring holds in one go: only the newest stay
  history.Append(once.data(), 1000);
  history.Level(1000, 1, true, false, &level);
  EXPECT_NEAR(level, 0.5, 1e-6);
}

TEST(PcmHistory, RmsOfAFullScaleSquareIsOne) {
  PcmHistory history(2, 100);
  std::vector<std::int16_t> square(100 * 2);
  for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 2) % 2 ? -32768 : 32767;
  history.Append(square.data(), 100);
  float level = 0;
  history.Level(100, 100, true, true, &level);
  EXPECT_NEAR(level, 1.0, 1e-4);
  history.Level(100, 200, true, true, &level);  // half the stretch is not held: silence
  EXPECT_NEAR(level, std::sqrt(0.5), 1e-3);
}

TEST(PcmHistory, CopyFillsMissingFramesWithSilence) {
  PcmHistory history(1, 10);
  std::vector<std::int16_t> ramp = {1, 2, 3, 4, 5};
  history.Append(ramp.data(), 5);
  std::vector<std::int16_t> out(4, -1);
  history.Copy(6, 4, out.data());  // frames 2..5; frame 5 is not there yet
  EXPECT_EQ(out, (std::vector<std::int16_t>{3, 4, 5, 0}));
}

TEST(ApplyVolume, ScalesRoundsAndClips) {
  std::vector<std::int16_t> s = {1000, -1000, 32767, -32768, 7};
  ApplyVolume(s.data(), s.size(), 0.15f);
  EXPECT_EQ(s, (std::vector<std::int16_t>{150, -150, 4915, -4915, 1}));
  std::vector<std::int16_t> loud = {20000, -20000, 100};
  ApplyVolume(loud.data(), loud.size(), 2.0f);
  EXPECT_EQ(loud, (std::vector<std::int16_t>{32767, -32768, 200}));
  std::vector<std::int16_t> same = {5, -5};
  ApplyVolume(same.data(), same.size(), 1.0f);
  EXPECT_EQ(same, (std::vector<std::int16_t>{5, -5}));
  ApplyVolume(same.data(), same.size(), -0.5f);
  EXPECT_EQ(same, (std::vector<std::int16_t>{0, 0}));
}

TEST(ApplyVolume, AHugeGainClipsAndNaNIsSilence) {
  std::vector<std::int16_t> s = {3, -3, 0};
  ApplyVolume(s.data(), s.size(), 3.0e38f);  // never wraps into noise
  EXPECT_EQ(s, (std::vector<std::int16_t>{32767, -32768, 0}));
  ApplyVolume(s.data(), s.size(), std::nanf(""));
  EXPECT_EQ(s, (std::vector<std::int16_t>{0, 0, 0}));
}

}  // namespace
