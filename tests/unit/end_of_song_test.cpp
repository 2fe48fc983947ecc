#include "app/end_of_song.h"

#include <gtest/gtest.h>

#include <limits>

namespace {
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
}  // namespace

TEST(EndOfSong, PlayingOnWhileBothPositionsAreShortOfTheEnd) {
  EXPECT_FALSE(SongHasEnded(0, 1000, 5000, 100, 0));
  EXPECT_FALSE(SongHasEnded(999, 1000, 5000, 100, 4899));
}

TEST(EndOfSong, EndsWhenThePlayPositionReachesTheLength) {
  EXPECT_TRUE(SongHasEnded(1000, 1000, 5000, 100, 0));
  EXPECT_TRUE(SongHasEnded(1001, 1000, 5000, 100, 0));
}

TEST(EndOfSong, EndsWhenTheDecoderHasReadTheWholeFile) {
  EXPECT_TRUE(SongHasEnded(0, 1000, 5000, 100, 4900));
  EXPECT_TRUE(SongHasEnded(0, 1000, 5000, 100, 6000));
  EXPECT_FALSE(SongHasEnded(0, 1000, 5000, 100, 4899));
}

TEST(EndOfSong, AFailedStreamEndsAtOnce) {
  EXPECT_TRUE(SongHasEnded(-1, -1, -1, -1, -1));
  EXPECT_TRUE(SongHasEnded(0, -1, 5000, 100, 0));  // length -1: ended like a failed one
}

TEST(EndOfSong, ExtremeValuesAreComparedExactly) {
  // Each of these would overflow a plain 64-bit fileSize - audioStart - filePosition.
  EXPECT_TRUE(SongHasEnded(0, 1, kMin, kMax, kMax));
  EXPECT_FALSE(SongHasEnded(0, 1, kMax, kMin, kMin));
  EXPECT_FALSE(SongHasEnded(0, 1, kMax, -1, 0));
  EXPECT_TRUE(SongHasEnded(0, 1, kMin, 1, 0));
  EXPECT_FALSE(SongHasEnded(0, 1, 0, kMin, 1));
  EXPECT_TRUE(SongHasEnded(0, 1, kMax, kMax, 1));
  EXPECT_FALSE(SongHasEnded(0, 1, kMax, kMax - 1, 0));
  EXPECT_TRUE(SongHasEnded(0, 1, kMax, kMax, 0));
  EXPECT_TRUE(SongHasEnded(kMax, kMax, kMax, 0, 0));
  EXPECT_FALSE(SongHasEnded(kMin, kMin + 1, kMax, 0, kMin));
}
