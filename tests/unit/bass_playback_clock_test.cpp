#include "standins/bass/playback_clock.h"

#include <gtest/gtest.h>

namespace {

constexpr std::int64_t kSecond = 1000000;

TEST(PlaybackClock, RunsAtTheSampleRateWithoutDrift) {
  PlaybackClock clock(44100);
  EXPECT_EQ(clock.Advance(kSecond, 1 << 30), 0);  // not started
  clock.Start(0);
  std::int64_t frame = 0;
  for (std::int64_t t = 0; t <= 60 * kSecond; t += 10007) frame = clock.Advance(t, 1 << 30);
  EXPECT_NEAR(double(frame), 44100.0 * (60 * kSecond / 10007 * 10007) / kSecond, 1.0);
}

TEST(PlaybackClock, HoldsWhilePausedAndResumesWhereItWas) {
  PlaybackClock clock(1000);
  clock.Start(0);
  EXPECT_EQ(clock.Advance(kSecond, 100000), 1000);
  clock.Hold();
  EXPECT_EQ(clock.Advance(5 * kSecond, 100000), 1000);
  clock.Start(5 * kSecond);
  EXPECT_EQ(clock.Advance(6 * kSecond, 100000), 2000);
}

TEST(PlaybackClock, StallsAtTheDataAndCarriesOnWithoutAJump) {
  PlaybackClock clock(1000);
  clock.Start(0);
  EXPECT_EQ(clock.Advance(2 * kSecond, 500), 500);      // only 500 frames decoded
  EXPECT_EQ(clock.Advance(3 * kSecond, 500), 500);      // still waiting
  EXPECT_EQ(clock.Advance(3 * kSecond, 10000), 500);    // data arrived just now
  EXPECT_EQ(clock.Advance(4 * kSecond, 10000), 1500);   // one second later
}

TEST(PlaybackClock, MovesForRestartAndSeek) {
  PlaybackClock clock(1000);
  clock.Start(0);
  clock.Advance(kSecond, 100000);
  clock.MoveTo(0, kSecond);
  EXPECT_EQ(clock.Frame(), 0);
  EXPECT_EQ(clock.Advance(kSecond + kSecond / 2, 100000), 500);
  clock.Hold();
  clock.MoveTo(7000, 2 * kSecond);
  EXPECT_EQ(clock.Advance(3 * kSecond, 100000), 7000);
}

}  // namespace
