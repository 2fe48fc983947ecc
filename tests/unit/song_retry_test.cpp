#include "app/song_retry.h"

#include <gtest/gtest.h>

TEST(SongRetry, WaitsFromTheThirdFailureInARowDoublingUpToHalfAMinute) {
  const std::uint32_t expected[] = {0, 0, 0, 1000, 2000, 4000, 8000, 16000, 30000, 30000};
  for (unsigned failed = 0; failed < std::size(expected); ++failed) {
    EXPECT_EQ(RetryWaitMilliseconds(failed), expected[failed]) << failed;
  }
  EXPECT_EQ(RetryWaitMilliseconds(4000000000u), 30000u);
}

TEST(SongRetry, OnlyASongWithAStreamAndALengthPlays) {
  EXPECT_TRUE(SongPlays(4000000, 9000000));
  EXPECT_FALSE(SongPlays(-1, -1));       // no stream
  EXPECT_FALSE(SongPlays(4000000, -1));  // no length: passed over like a failed one
}

TEST(SongRetry, TwoFailuresPassOverAtOnceTheThirdWaitsASecond) {
  SongRetry retry;
  retry.SongStarted(false, 100);
  retry.SongStarted(false, 200);
  EXPECT_TRUE(retry.MayTry(200));
  EXPECT_EQ(retry.SecondsLeft(200), 0u);
  retry.SongStarted(false, 300);
  EXPECT_FALSE(retry.MayTry(1299));
  EXPECT_EQ(retry.SecondsLeft(300), 1u);
  EXPECT_EQ(retry.SecondsLeft(1299), 1u);  // rounded up: never "0 s" while waiting
  EXPECT_TRUE(retry.MayTry(1300));
  EXPECT_EQ(retry.SecondsLeft(1300), 0u);
}

TEST(SongRetry, ASongThatPlaysEndsTheRunAndTheWait) {
  SongRetry retry;
  for (int i = 0; i < 5; ++i) retry.SongStarted(false, 0);  // a key's try during the wait too
  EXPECT_EQ(retry.SecondsLeft(0), 4u);
  retry.SongStarted(true, 10);
  EXPECT_EQ(retry.FailedInARow(), 0u);
  EXPECT_TRUE(retry.MayTry(10));
  // A new run starts from the beginning: two failures pass over at once again.
  retry.SongStarted(false, 20);
  retry.SongStarted(false, 30);
  EXPECT_TRUE(retry.MayTry(30));
}
