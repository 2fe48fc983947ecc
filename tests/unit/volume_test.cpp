#include "app/volume.h"

#include <gtest/gtest.h>

TEST(Volume, SeventeenStepsUpReachTheTopAndFurtherStepsChangeNothing) {
  float volume = kStartVolume;
  for (int i = 0; i < 17; ++i) volume = VolumeUp(volume);
  EXPECT_EQ(volume, 1.0000001f);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(VolumeUp(volume), volume);
}

TEST(Volume, SixteenStepsUpStillAllowAnother) {
  float volume = kStartVolume;
  for (int i = 0; i < 16; ++i) volume = VolumeUp(volume);
  EXPECT_LE(static_cast<double>(volume), 1.0);
  EXPECT_GT(VolumeUp(volume), volume);
}

TEST(Volume, ThreeStepsDownFromTheStartGoAlmostSilent) {
  float volume = kStartVolume;
  for (int i = 0; i < 3; ++i) volume = VolumeDown(volume);
  EXPECT_GT(volume, 0.0f);
  EXPECT_NEAR(volume, 0.000000008, 0.0000000005);
  // Silent now: a fourth step is refused.
  EXPECT_EQ(VolumeDown(volume), volume);
}

TEST(Volume, ComingDownFromTheTopStopsJustBelowAStep) {
  float volume = kStartVolume;
  for (int i = 0; i < 20; ++i) volume = VolumeUp(volume);
  for (int i = 0; i < 40; ++i) volume = VolumeDown(volume);
  EXPECT_EQ(volume, 0.0499999635f);
}

TEST(Volume, StepsAreSummedInDoublePrecision) {
  // Summed in single precision, 0.15f + 0.05 would round differently on the way down.
  EXPECT_EQ(VolumeDown(kStartVolume), static_cast<float>(static_cast<double>(kStartVolume) - 0.05));
  EXPECT_EQ(VolumeUp(kStartVolume), static_cast<float>(static_cast<double>(kStartVolume) + 0.05));
}
