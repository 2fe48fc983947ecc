#include "standins/bass/playback_clock.h"

#include <vector>

#include "standins/bass/clock_output.h"

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

// The decoding thread rests while a quarter second of decoded audio is left over, comes
// back soon when short of it, and just after the last sample once decoding has ended.
TEST(ClockOutput, RestsUntilTheDecodedAudioInHandRunsLow) {
  OutputFeed feed(1, 1000);
  const std::vector<std::int16_t> second(1000, 0);
  feed.pending.Append(second.data(), second.size());
  feed.transport = Transport::Playing;
  ClockOutput output(1000);
  output.Resume(feed, 0);
  EXPECT_EQ(output.RestMicros(feed, 0), 250000);           // a second in hand
  EXPECT_EQ(output.RestMicros(feed, 600000), 150000);      // 0.4 s left
  EXPECT_EQ(output.RestMicros(feed, 900000), 10000);       // short: look again soon
  feed.decodeEnded = true;
  EXPECT_EQ(output.RestMicros(feed, 900000), 101000);      // just after the last sample
  feed.transport = Transport::Paused;
  EXPECT_EQ(output.RestMicros(feed, 900000), 250000);      // woken when played again
}

}  // namespace
