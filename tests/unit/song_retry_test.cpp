#include "app/song_retry.h"

#include <gtest/gtest.h>

TEST(SongRetry, WaitsFromTheThirdFailureInARowDoublingUpToHalfAMinute) {
  const std::uint32_t expected[] = {0, 0, 0, 1000, 2000, 4000, 8000, 16000, 30000, 30000};
  for (unsigned failed = 0; failed < std::size(expected); ++failed) {
    EXPECT_EQ(RetryWaitMilliseconds(failed), expected[failed]) << failed;
  }
  EXPECT_EQ(RetryWaitMilliseconds(4000000000u), 30000u);
}

TEST(SongRetry, ARunOfFailuresEndsWithASongThatPlays) {
  EXPECT_FALSE(SongPlays(4000000, -1));  // no length: passed over like a failed one
  SongRetry retry;
  retry.SongStarted(false, 100);
  retry.SongStarted(false, 200);
  EXPECT_TRUE(retry.MayTry(200));
  retry.SongStarted(false, 300);
  EXPECT_FALSE(retry.MayTry(1299));
  EXPECT_EQ(retry.SecondsLeft(1299), 1u);  // rounded up: never "0 s" while waiting
  EXPECT_TRUE(retry.MayTry(1300));
  retry.SongStarted(true, 400);
  EXPECT_TRUE(retry.MayTry(400));
  retry.SongStarted(false, 500);
  retry.SongStarted(false, 600);
  EXPECT_TRUE(retry.MayTry(600));  // a new run: two failures pass over at once again
}
